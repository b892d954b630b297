#include "windows/products/newsyohin.h"
#include "ui_newsyohin.h"

#include "engine/kinds/entrytexts.h"
#include "engine/kinds/jancheck.h"
#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/records/appendrecord.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/fieldbinder.h"
#include "ui/messages.h"
#include "ui/windowlook.h"

#include <QCloseEvent>

#include <array>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Where the window opens: the top-left corner of the screen plus this offset (at 96 DPI).
constexpr QPoint openingPosition{198, 257};

} // namespace

Newsyohin::Newsyohin(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::Newsyohin>())
{
    setUpWindow(this, *m_ui);
    setWindowFlag(Qt::Window);
    setFixedSize(size());
    move(openingPosition * screenScale(this));

    // The guide lies over the product fields until the first lookup.
    m_ui->HOWTO->raise();
    m_ui->HOWTO->show();

    m_syohin = new RecordSource(this);
    m_syohin->setObjectName(u"syohin"_s);

    m_torihiki = new RecordSource(this);
    m_torihiki->setObjectName(u"torihiki"_s);
    m_torihiki->setRecordSource(QString(noSupplier));
    m_supplierPanel = new FieldBinder(m_torihiki, this);
    m_supplierPanel->bind(m_ui->Text8, Field::torihiki_mei, m_ui->Label8->text());
    m_supplierPanel->bind(m_ui->Text9, Field::torihiki_code, m_ui->Label9->text());
    m_supplierPanel->bind(m_ui->Text10, Field::torihiki_add, m_ui->Label10->text());
    m_supplierPanel->bind(m_ui->Text11, Field::torihiki_post, m_ui->Label11->text());
    m_supplierPanel->bind(m_ui->Text13, Field::torihiki_tel, m_ui->Label13->text());
    // Selects no supplier, so the panel starts blank.
    m_torihiki->refresh();

    connect(m_ui->Text16, &QLineEdit::returnPressed, this, &Newsyohin::lookUpSupplier);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Newsyohin::registerProduct);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ui->Text5, &QLineEdit::textChanged, this, &Newsyohin::showJanCheck);

    m_ui->Text1->setFocus();
}

Newsyohin::~Newsyohin()
{
    // A record source stores pending edits when it goes; closing this window must not.
    m_torihiki->cancelUpdate();
    m_syohin->cancelUpdate();
}

void Newsyohin::closeEvent(QCloseEvent *event)
{
    // Cancelling never saves what was typed into the supplier panel.
    m_supplierPanel->discard();
    m_syohin->cancelUpdate();
    event->accept();
}

void Newsyohin::lookUpSupplier()
{
    const auto text = SqlText::supplierByExactCode(m_ui->Text16->text());
    if (!text)
        return;
    m_torihiki->setRecordSource(*text);
    // Leaving the supplier stores the edits typed into the panel; one that does not fit its
    // field stops the lookup.
    if (!m_torihiki->refresh()) {
        m_supplierPanel->reportStoreFailure(this);
        return;
    }
    m_ui->HOWTO->hide();
}

void Newsyohin::registerProduct()
{
    if (!checkRequiredFields())
        return;
    if (!appendProduct())
        return;
    clearProductFields();
}

bool Newsyohin::checkRequiredFields()
{
    // In the table's field order, which is the order of the checks.
    const std::array<const QLineEdit *, syohinFields.size()> required{
        m_ui->Text1, m_ui->Text2, m_ui->Text3, m_ui->Text4, m_ui->Text5, m_ui->Text6,
        m_ui->Text7, m_ui->Text8, m_ui->Text9, m_ui->Text14, m_ui->Text15,
    };
    // Only the empty string is missing: blanks count as typed.
    for (std::size_t i = 0; i < required.size(); ++i) {
        if (required[i]->text().isEmpty()) {
            showMessage(this, EntryText::productRequired[i].toString());
            return false;
        }
    }
    return true;
}

bool Newsyohin::appendProduct()
{
    // The entry of each product field, in the table's field order, with the label that names it.
    const std::array<std::pair<QLineEdit *, const QLabel *>, syohinFields.size()> sources{{
        {m_ui->Text1, m_ui->Label1},
        {m_ui->Text2, m_ui->Label2},
        {m_ui->Text3, m_ui->Label3},
        {m_ui->Text4, m_ui->Label4},
        {m_ui->Text5, m_ui->Label5},
        {m_ui->Text6, m_ui->Label6},
        {m_ui->Text7, m_ui->Label7},
        {m_ui->Text8, m_ui->Label8},
        {m_ui->Text9, m_ui->Label9},
        {m_ui->Text14, m_ui->Label14},
        {m_ui->Text15, m_ui->Label15},
    }};

    // Convert every field before anything is written, so a field that does not convert stores
    // nothing and is named to the user.
    std::array<FieldValue, syohinFields.size()> values;
    for (std::size_t i = 0; i < syohinFields.size(); ++i) {
        const auto &[edit, label] = sources[i];
        const QString text = edit->text();
        values[i].field = syohinFields[i].name;
        switch (syohinFields[i].kind) {
        case Kind::Text:
            values[i].value = text;
            break;
        case Kind::Number:
            if (const auto number = Currency::parse(text)) {
                values[i].value = QVariant::fromValue(*number);
            } else {
                showMessage(this, EntryText::numberExpected(label->text()));
                edit->setFocus(Qt::OtherFocusReason);
                return false;
            }
            break;
        case Kind::SmallInt:
            if (const auto number = parseSmallInt(text)) {
                values[i].value = int(*number);
            } else {
                showMessage(this, EntryText::smallIntExpected(label->text()));
                edit->setFocus(Qt::OtherFocusReason);
                return false;
            }
            break;
        }
    }

    if (const Status appended = appendRecord(*m_syohin, Table::syohin, values); !appended) {
        reportWriteFailure(this, appended, true);
        return false;
    }
    return true;
}

void Newsyohin::clearProductFields()
{
    for (QLineEdit *edit : {m_ui->Text1, m_ui->Text2, m_ui->Text3, m_ui->Text4, m_ui->Text5,
                            m_ui->Text6, m_ui->Text7, m_ui->Text14, m_ui->Text15})
        edit->clear();
}

void Newsyohin::showJanCheck()
{
    const auto check = checkJanDigit(m_ui->Text5->text());
    if (!check) {
        m_ui->JANCheck->clear();
        return;
    }
    m_ui->JANCheck->setText(janCheckNote(m_ui->Text5->text()));
    m_ui->JANCheck->setStyleSheet(check->isValid() ? u"color: #007000;"_s : u"color: #c00000;"_s);
}

} // namespace Merchalog
