#include "suppliers/newtorihiki.h"
#include "ui_newtorihiki.h"

#include "app/messages.h"
#include "app/windowlook.h"
#include "catalogue/number.h"
#include "catalogue/recordsource.h"
#include "catalogue/schema.h"
#include "catalogue/sqltexts.h"

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
    setAttribute(Qt::WA_DeleteOnClose);

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
    const std::array<std::pair<QLineEdit *, QString>, 5> required{{
        {m_ui->Text1, u"新規取引先名を入力してください。"_s},
        {m_ui->Text2, u"取引先住所を入力してください。"_s},
        {m_ui->Text3, u"取引先電話番号を入力してください。"_s},
        {m_ui->Text4, u"取引先コードを入力してください。"_s},
        {m_ui->Text5, u"取引先郵便番号を入力してください。"_s},
    }};
    for (const auto &[edit, message] : required) {
        if (edit->text().isEmpty()) {
            showMessage(this, message);
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
    if (!m_data1->refresh()) {
        reportWriteFailure(this, *m_data1, true);
        return;
    }
    if (m_data1->recordCount() != 0) {
        showMessage(this, u"その取引先コードはすでに存在しています。"_s);
        return;
    }

    const auto code = Currency::parse(typedCode);
    if (!code)
        return;

    m_data1->setRecordSource(QString(SqlText::supplierAppend));
    if (!m_data1->refresh()) {
        reportWriteFailure(this, *m_data1, true);
        return;
    }
    if (!m_data1->addNew())
        return;
    // The fields in the table's own order.
    const std::array<std::pair<QLatin1StringView, QVariant>, 5> values{{
        {Field::torihiki_mei, m_ui->Text1->text()},
        {Field::torihiki_add, m_ui->Text2->text()},
        {Field::torihiki_tel, m_ui->Text3->text()},
        {Field::torihiki_code, QVariant::fromValue(*code)},
        {Field::torihiki_post, m_ui->Text5->text()},
    }};
    for (const auto &[field, value] : values) {
        if (!m_data1->setValue(field, value)) {
            m_data1->cancelUpdate();
            return;
        }
    }
    if (!m_data1->update()) {
        reportWriteFailure(this, *m_data1, true);
        m_data1->cancelUpdate();
        return;
    }
    if (!m_data1->setBookmark(m_data1->lastModified()))
        return;

    m_ui->Text1->clear();
    m_ui->Text2->clear();
    m_ui->Text3->clear();
    m_ui->Text4->clear();
    m_ui->Text5->clear();
}

} // namespace Merchalog
