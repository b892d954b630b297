#include "windows/suppliers/newtorihiki.h"
#include "ui_newtorihiki.h"

#include "engine/kinds/entrytexts.h"
#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/records/appendrecord.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/messages.h"
#include "ui/windowlook.h"

#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace Merchalog {

NEWtorihiki::NEWtorihiki(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::NEWtorihiki>())
    , m_data1(new RecordSource(this))
{
    setUpWindow(this, *m_ui);
    setWindowFlag(Qt::Window);

    connect(m_ui->Command1, &QPushButton::clicked, this, &NEWtorihiki::registerSupplier);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);

    m_data1->setRecordSource(QString(Table::torihiki));
    m_data1->refresh(); // a catalogue that cannot be opened shows up at the first registration
    m_ui->Text1->setFocus();
}

NEWtorihiki::~NEWtorihiki() = default;

void NEWtorihiki::registerSupplier()
{
    // Every field is required; blanks count as filled in. The code is asked for before the
    // postal code although the postal code stands higher on the window.
    const std::array<const QLineEdit *, torihikiFields.size()> required{
        m_ui->Text1, m_ui->Text2, m_ui->Text3, m_ui->Text4, m_ui->Text5,
    };
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (required[i]->text().isEmpty()) {
            showMessage(this, EntryText::supplierRequired[i].toString());
            return;
        }
    }

    // Only a plain number is looked up, so typed text never becomes part of the statement;
    // the comparison is by value, so 0120 and 120.0 both find the supplier 120.
    const QString typedCode = m_ui->Text4->text();
    const auto duplicateCheck = SqlText::supplierByCodeAsTyped(typedCode);
    if (!duplicateCheck)
        return;
    m_data1->setRecordSource(*duplicateCheck);
    if (const Status checked = m_data1->refresh(); !checked) {
        reportWriteFailure(this, checked, true);
        return;
    }
    if (m_data1->recordCount() != 0) {
        showMessage(this, EntryText::supplierCodeExists.toString());
        return;
    }

    const auto code = Currency::parse(typedCode);
    if (!code)
        return;

    // The fields in the table's own order.
    const std::array<FieldValue, 5> values{{
        {Field::torihiki_mei, m_ui->Text1->text()},
        {Field::torihiki_add, m_ui->Text2->text()},
        {Field::torihiki_tel, m_ui->Text3->text()},
        {Field::torihiki_code, QVariant::fromValue(*code)},
        {Field::torihiki_post, m_ui->Text5->text()},
    }};
    if (const Status appended = appendRecord(*m_data1, Table::torihiki, values); !appended) {
        reportWriteFailure(this, appended, true);
        return;
    }

    m_ui->Text1->clear();
    m_ui->Text2->clear();
    m_ui->Text3->clear();
    m_ui->Text4->clear();
    m_ui->Text5->clear();
}

} // namespace Merchalog
