#include "windows/suppliers/chagetorihiki.h"
#include "ui_chagetorihiki.h"

#include "engine/kinds/schema.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/fieldbinder.h"
#include "ui/messages.h"
#include "ui/windowlook.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Merchalog {

Chagetorihiki::Chagetorihiki(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::Chagetorihiki>())
    , m_data1(new RecordSource(this))
    , m_binder(new FieldBinder(m_data1, this))
{
    setUpWindow(this, *m_ui);
    setWindowFlag(Qt::Window);

    // Opens on a code no supplier has, so the fields start blank with nothing current.
    m_data1->setRecordSource(QString(initialView));
    m_data1->refresh();

    m_binder->bind(m_ui->Text1, Field::torihiki_mei, m_ui->Label1->text());
    m_binder->bind(m_ui->Text2, Field::torihiki_add, m_ui->Label2->text());
    m_binder->bind(m_ui->Text3, Field::torihiki_tel, m_ui->Label3->text());
    m_binder->bind(m_ui->Text4, Field::torihiki_post, m_ui->Label4->text());
    m_binder->bind(m_ui->Text5, Field::torihiki_code, m_ui->Label5->text());

    connect(m_ui->Text6, &QLineEdit::returnPressed, this, &Chagetorihiki::lookUpCode);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Chagetorihiki::confirmChange);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);

    m_ui->Command1->setFocus();
}

Chagetorihiki::~Chagetorihiki()
{
    // Edits not confirmed by "変更" never reach the catalogue, also when the program ends
    // with the window open.
    m_data1->cancelUpdate();
}

void Chagetorihiki::closeEvent(QCloseEvent *event)
{
    m_binder->discard();
    QWidget::closeEvent(event);
}

void Chagetorihiki::lookUpCode()
{
    // Only a plain number is looked up; anything else leaves the window as it is.
    const auto text = SqlText::supplierByCodeAsTyped(m_ui->Text6->text());
    if (!text)
        return;
    m_data1->setRecordSource(*text);
    // Leaving the shown supplier stores its edits; one that does not fit its field keeps the
    // supplier shown and is reported.
    if (!m_data1->refresh())
        m_binder->reportStoreFailure(this);
}

void Chagetorihiki::confirmChange()
{
    // Also covers a lookup whose catalogue could not be opened: its result is empty.
    if (m_data1->recordCount() == 0) {
        showMessage(this, u"検索取引先コードから削除する取引先を選択してください。"_s);
        return;
    }
    if (!m_binder->commit(this))
        return;
    close();
}

} // namespace Merchalog
