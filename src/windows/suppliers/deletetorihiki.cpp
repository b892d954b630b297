#include "windows/suppliers/deletetorihiki.h"
#include "ui_deletetorihiki.h"

#include "engine/kinds/schema.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/messages.h"
#include "ui/windowlook.h"

#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Merchalog {

Deletetorihiki::Deletetorihiki(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::Deletetorihiki>())
    , m_data1(new RecordSource(this))
{
    setUpWindow(this, *m_ui);
    setWindowFlag(Qt::Window);

    // The fields are read-only, so they follow the current record and never make edits.
    connect(m_data1, &RecordSource::currentRowChanged, this, &Deletetorihiki::showCurrentRecord);
    connect(m_data1, &RecordSource::currentValuesChanged, this, &Deletetorihiki::showCurrentRecord);
    connect(m_data1, &QAbstractItemModel::modelReset, this, &Deletetorihiki::showCurrentRecord);

    // Opens on a code no supplier has, so the fields start blank with nothing current.
    m_data1->setRecordSource(QString(initialView));
    m_data1->refresh();
    showCurrentRecord();

    connect(m_ui->Text6, &QLineEdit::returnPressed, this, &Deletetorihiki::lookUpCode);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Deletetorihiki::deleteSupplier);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);

    m_ui->Text5->setFocus();
}

Deletetorihiki::~Deletetorihiki() = default;

void Deletetorihiki::showCurrentRecord()
{
    m_ui->Text1->setText(m_data1->text(Field::torihiki_mei));
    m_ui->Text2->setText(m_data1->text(Field::torihiki_add));
    m_ui->Text3->setText(m_data1->text(Field::torihiki_tel));
    m_ui->Text4->setText(m_data1->text(Field::torihiki_post));
    m_ui->Text5->setText(m_data1->text(Field::torihiki_code));
    for (QLineEdit *edit : {m_ui->Text1, m_ui->Text2, m_ui->Text3, m_ui->Text4, m_ui->Text5})
        edit->setCursorPosition(0);
}

void Deletetorihiki::lookUpCode()
{
    // Only a plain number is looked up; anything else leaves the window as it is.
    const auto text = SqlText::supplierByCodeAsTyped(m_ui->Text6->text());
    if (!text)
        return;
    m_data1->setRecordSource(*text);
    m_data1->refresh();
}

void Deletetorihiki::deleteSupplier()
{
    if (m_data1->recordCount() == 0) {
        showMessage(this, u"検索取引先コードから削除する取引先を選択してください。"_s);
        return;
    }
    // Removes the current supplier only. After a removal nothing is current, so pressing
    // again before the next lookup removes nothing.
    if (const Status removed = m_data1->removeCurrentRecord(); !removed)
        reportWriteFailure(this, removed);
}

} // namespace Merchalog
