#include "windowsupport.h"

#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/raiseorcreate.h"
#include "windows/products/newsyohin.h"

#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

// The product entries in the order the required-field checks visit them, then the supplier
// panel's name and code, then department and category.
const QStringList checkedFields{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s, u"Text6"_s,
                                u"Text7"_s, u"Text8"_s, u"Text9"_s, u"Text14"_s, u"Text15"_s};
const QStringList productFields{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s,
                                u"Text6"_s, u"Text7"_s, u"Text14"_s, u"Text15"_s};

} // namespace

class TestNewsyohin final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void guideCoversProductFieldsUntilFirstLookup();
    void requiredFieldsInOrder_data();
    void requiredFieldsInOrder();
    void lookupThatMatchesNoneStopsAtSupplierName();
    void lookupWithoutNumberChangesNothing_data();
    void lookupWithoutNumberChangesNothing();
    void lookupReplacesSupplier();
    void twoProductsAfterOneLookup();
    void conversions_data();
    void conversions();
    void unconvertibleFieldIsNamed_data();
    void unconvertibleFieldIsNamed();
    void reservedJanIsStoredButNeverListed();
    void registersIntoCatalogueOpenedLater();
    void closingDiscardsSupplierPanelEdits_data();
    void closingDiscardsSupplierPanelEdits();
    void registrationCopiesPanelAsItReads();
    void lookupStoresEditsOfSupplierItLeaves();
    void lookupReportsPanelEditThatDoesNotFit();
    void janCheckNote();

private:
    Newsyohin *openWindow();
    QLineEdit *edit(const QString &name) const { return lineEdit(m_window, name); }
    QGroupBox *guide() const { return m_window->findChild<QGroupBox *>(u"HOWTO"_s); }
    void lookUp(const QString &code);
    void fillProduct(const QString &name = u"緑茶 500ml"_s);
    void registerProduct() { click(pushButton(m_window, u"Command1"_s)); }
    QStringList checkedTexts() const;
    QVariant supplierField(const QString &field, int code) const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<Newsyohin> m_window;
    std::unique_ptr<QObject> m_testScope;
};

void TestNewsyohin::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"テスト商事"_s, u"東京都千代田区1-1"_s, u"03-1234-5678"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"山田物産"_s, u"大阪府大阪市2-2"_s, u"06-9876-5432"_s, u"130"_s, u"530-0001"_s}));
    m_testScope = std::make_unique<QObject>();
}

void TestNewsyohin::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete m_window;
    m_testScope.reset();
    m_folder.reset();
}

Newsyohin *TestNewsyohin::openWindow()
{
    raiseOrCreate(m_window);
    return m_window;
}

void TestNewsyohin::lookUp(const QString &code)
{
    edit(u"Text16"_s)->setText(code);
    QTest::keyClick(edit(u"Text16"_s), Qt::Key_Return);
}

void TestNewsyohin::fillProduct(const QString &name)
{
    fill(m_window, {name, u"1,200"_s, u"980"_s, u"700.5"_s, u"4901234567894"_s, u"1001"_s, u"12"_s});
    edit(u"Text14"_s)->setText(u"3"_s);
    edit(u"Text15"_s)->setText(u"1"_s);
}

QStringList TestNewsyohin::checkedTexts() const
{
    QStringList texts;
    for (const QString &name : checkedFields)
        texts << edit(name)->text();
    return texts;
}

QVariant TestNewsyohin::supplierField(const QString &field, int code) const
{
    return sqlValue(m_path, u"select %1 from torihiki where torihiki_code = %2"_s.arg(field).arg(units(code)));
}

void TestNewsyohin::guideCoversProductFieldsUntilFirstLookup()
{
    Newsyohin *w = openWindow();
    auto *guide = w->findChild<QGroupBox *>(u"HOWTO"_s);
    QVERIFY(guide);
    QVERIFY(guide->isVisible());
    QCOMPARE(w->focusWidget(), edit(u"Text1"_s));
    for (const QLineEdit *panelField : w->findChild<QGroupBox *>(u"Frame1"_s)->findChildren<QLineEdit *>())
        QVERIFY2(panelField->text().isEmpty(), qPrintable(panelField->objectName()));
    // The panel's opening text is one the record source runs.
    QCOMPARE(w->findChild<RecordSource *>(u"torihiki"_s)->status().code(), ErrorCode::None);

    // What the user sees at a product field's centre is the guide, not the field.
    QStringList covered = productFields;
    covered << u"JANCheck"_s;
    const auto widgetAt = [w](const QString &name) {
        auto *child = w->findChild<QWidget *>(name);
        return w->childAt(child->mapTo(w, child->rect().center()));
    };
    for (const QString &name : covered) {
        QWidget *shown = widgetAt(name);
        QVERIFY2(shown == guide || guide->isAncestorOf(shown), qPrintable(name));
    }

    lookUp(u"120"_s);
    QVERIFY(!guide->isVisible());
    for (const QString &name : productFields)
        QCOMPARE(widgetAt(name), edit(name));
    QCOMPARE(edit(u"Text8"_s)->text(), u"テスト商事"_s);
    QCOMPARE(edit(u"Text9"_s)->text(), u"120"_s);
    QCOMPARE(edit(u"Text10"_s)->text(), u"東京都千代田区1-1"_s);
    QCOMPARE(edit(u"Text11"_s)->text(), u"100-0001"_s);
    QCOMPARE(edit(u"Text13"_s)->text(), u"03-1234-5678"_s);
}

void TestNewsyohin::requiredFieldsInOrder_data()
{
    QTest::addColumn<int>("firstEmpty");
    QTest::addColumn<QString>("message");

    const QStringList messages{
        u"商品名を入力してください。"_s,
        u"商品の標準価格を入力してください。"_s,
        u"特売価格を入力してください。"_s,
        u"原価を入力しててください。"_s,
        u"JANコードを入力してください。"_s,
        u"EOSコードを入力してください。"_s,
        u"発注単位を入力してください。"_s,
        u"取引先コードより取引先を検索してください。"_s,
        u"取引先コードより取引先コードを検索してください。"_s,
        u"部門コードを入力してください。"_s,
        u"AUを入力してください。"_s,
    };
    for (int i = 0; i < checkedFields.size(); ++i)
        QTest::newRow(qPrintable(checkedFields.at(i))) << i << messages.at(i);
}

void TestNewsyohin::requiredFieldsInOrder()
{
    QFETCH(int, firstEmpty);
    QFETCH(QString, message);

    openWindow();
    lookUp(u"120"_s);
    fillProduct();
    // Every field from this one on is empty: the message names the first.
    for (int i = firstEmpty; i < checkedFields.size(); ++i)
        edit(checkedFields.at(i))->setText(QString());
    const QStringList before = checkedTexts();

    ModalCatcher catcher(m_testScope.get());
    registerProduct();
    VERIFY_ONE_MESSAGE(catcher, message);
    QVERIFY(productsIn(m_path).isEmpty());
    QCOMPARE(checkedTexts(), before);
}

void TestNewsyohin::lookupThatMatchesNoneStopsAtSupplierName()
{
    openWindow();
    lookUp(u"120"_s);
    lookUp(u"555"_s);
    // The guide goes whether or not a supplier was found; the panel is blank.
    QVERIFY(!guide()->isVisible());
    QCOMPARE(edit(u"Text8"_s)->text(), QString());
    QCOMPARE(edit(u"Text9"_s)->text(), QString());
    QCOMPARE(edit(u"Text13"_s)->text(), QString());

    fillProduct();
    ModalCatcher catcher(m_testScope.get());
    registerProduct();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"取引先コードより取引先を検索してください。"_s);
    QVERIFY(productsIn(m_path).isEmpty());
}

void TestNewsyohin::lookupWithoutNumberChangesNothing_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << u"abc"_s;
    QTest::newRow("wildcard") << u"12*"_s;
}

void TestNewsyohin::lookupWithoutNumberChangesNothing()
{
    QFETCH(QString, code);

    openWindow();
    ModalCatcher catcher(m_testScope.get());
    lookUp(code);
    QVERIFY(guide()->isVisible());

    lookUp(u"120"_s);
    lookUp(code);
    QCOMPARE(edit(u"Text8"_s)->text(), u"テスト商事"_s);
    QCOMPARE(edit(u"Text9"_s)->text(), u"120"_s);
    QCOMPARE(catcher.count(), 0);
}

void TestNewsyohin::lookupReplacesSupplier()
{
    openWindow();
    lookUp(u"120"_s);
    // The code is converted to a number before it goes into the lookup.
    lookUp(u"130.00"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"山田物産"_s);
    QCOMPARE(edit(u"Text9"_s)->text(), u"130"_s);
    QCOMPARE(edit(u"Text10"_s)->text(), u"大阪府大阪市2-2"_s);

    fillProduct();
    registerProduct();
    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(7).toString(), u"山田物産"_s);
    QCOMPARE(rows.first().at(8).toLongLong(), units(130));
}

void TestNewsyohin::twoProductsAfterOneLookup()
{
    openWindow();
    QVERIFY(productsIn(m_path).isEmpty()); // the product table starts empty
    ModalCatcher catcher(m_testScope.get());
    lookUp(u"120"_s);
    fillProduct(u"緑茶 500ml"_s);
    registerProduct();

    // Only the product fields are emptied.
    for (const QString &name : productFields)
        QVERIFY2(edit(name)->text().isEmpty(), qPrintable(name));
    QCOMPARE(edit(u"Text16"_s)->text(), u"120"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"テスト商事"_s);
    QCOMPARE(edit(u"Text13"_s)->text(), u"03-1234-5678"_s);

    fillProduct(u"烏龍茶 2L"_s);
    edit(u"Text5"_s)->setText(u"4901234567900"_s);
    registerProduct();
    QCOMPARE(catcher.count(), 0); // success is never confirmed

    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 2);
    const QVariantList first{u"緑茶 500ml"_s, units(1200), units(980), qint64(7005000),
                             units(4901234567894), units(1001), qint64(12), u"テスト商事"_s,
                             units(120), units(3), units(1)};
    QCOMPARE(rows.at(0), first);
    QCOMPARE(rows.at(1).at(0).toString(), u"烏龍茶 2L"_s);
    QCOMPARE(rows.at(1).at(4).toLongLong(), units(4901234567900));
    QCOMPARE(rows.at(1).at(7).toString(), u"テスト商事"_s);
    QCOMPARE(rows.at(1).at(8).toLongLong(), units(120));
}

void TestNewsyohin::conversions_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("column");
    QTest::addColumn<qint64>("stored");

    QTest::newRow("order unit 2.5") << u"Text7"_s << u"2.5"_s << 6 << qint64(2);
    QTest::newRow("order unit 3.5") << u"Text7"_s << u"3.5"_s << 6 << qint64(4);
    QTest::newRow("JAN, 13 digits") << u"Text5"_s << u"9999999999999"_s << 4 << units(9999999999999);
    QTest::newRow("category") << u"Text15"_s << u"-2"_s << 10 << units(-2);
}

void TestNewsyohin::conversions()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, column);
    QFETCH(qint64, stored);

    openWindow();
    lookUp(u"120"_s);
    fillProduct();
    edit(field)->setText(text);
    ModalCatcher catcher(m_testScope.get());
    registerProduct();
    QCOMPARE(catcher.count(), 0);
    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(column).toLongLong(), stored);
}

void TestNewsyohin::unconvertibleFieldIsNamed_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("order unit 40000") << u"Text7"_s << u"40000"_s
                                      << u"「発注単位」に-32768から32767までの整数を入力してください。"_s;
    QTest::newRow("letters in price") << u"Text2"_s << u"12OO"_s << u"「標準価格」に数値を入力してください。"_s;
    QTest::newRow("blanks as cost") << u"Text4"_s << u"  "_s << u"「商品原価」に数値を入力してください。"_s;
    QTest::newRow("category") << u"Text15"_s << u"A"_s << u"「カテゴリ」に数値を入力してください。"_s;
}

void TestNewsyohin::unconvertibleFieldIsNamed()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);

    openWindow();
    lookUp(u"120"_s);
    fillProduct();
    edit(field)->setText(text);
    const QStringList before = checkedTexts();

    auto catcher = std::make_unique<ModalCatcher>(m_testScope.get());
    registerProduct();
    VERIFY_ONE_MESSAGE(*catcher, message);
    QVERIFY(productsIn(m_path).isEmpty());
    QCOMPARE(checkedTexts(), before);
    QCOMPARE(m_window->focusWidget(), edit(field));

    // Once mended, the product is stored once: nothing was left over from the failed attempt.
    edit(field)->setText(u"5"_s);
    catcher = std::make_unique<ModalCatcher>(m_testScope.get());
    registerProduct();
    QCOMPARE(catcher->count(), 0);
    QCOMPARE(productsIn(m_path).size(), 1);
}

void TestNewsyohin::reservedJanIsStoredButNeverListed()
{
    openWindow();
    lookUp(u"120"_s);
    fillProduct(u"予約行"_s);
    edit(u"Text5"_s)->setText(u"-99"_s);
    registerProduct();
    fillProduct(u"緑茶 500ml"_s);
    registerProduct();

    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(4).toLongLong(), units(-99));

    // Which lists leave it out is checked in tst_recordsource.
    RecordSource list;
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    QCOMPARE(listedNames(&list), QStringList{u"緑茶 500ml"_s});
}

void TestNewsyohin::registersIntoCatalogueOpenedLater()
{
    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    QVERIFY(insertSupplier(other, {u"新世界商事"_s, u"札幌市"_s, u"011-000-0000"_s, u"120"_s,
                                         u"060-0001"_s}));

    openWindow();
    lookUp(u"120"_s);
    CurrentCatalogue::instance().setDatabaseName(other);

    // The window that was open goes on with the panel as it reads, into the new catalogue.
    fillProduct(u"開いたまま"_s);
    registerProduct();
    QVERIFY(productsIn(m_path).isEmpty());
    auto rows = productsIn(other);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).at(7).toString(), u"テスト商事"_s);

    // Its next lookup reads the new catalogue too.
    lookUp(u"120"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"新世界商事"_s);

    // Closed and opened again, the window works on the new catalogue from the start.
    click(pushButton(m_window, u"Command2"_s));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(m_window.isNull());
    openWindow();
    lookUp(u"120"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"新世界商事"_s);
    fillProduct(u"開き直し"_s);
    registerProduct();
    QVERIFY(productsIn(m_path).isEmpty());
    rows = productsIn(other);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(1).at(0).toString(), u"開き直し"_s);
    QCOMPARE(rows.at(1).at(7).toString(), u"新世界商事"_s);
}

void TestNewsyohin::closingDiscardsSupplierPanelEdits_data()
{
    QTest::addColumn<bool>("cancelButton");
    QTest::newRow("キャンセル") << true;
    QTest::newRow("close box") << false;
}

void TestNewsyohin::closingDiscardsSupplierPanelEdits()
{
    QFETCH(bool, cancelButton);

    openWindow();
    lookUp(u"120"_s);
    overtype(edit(u"Text8"_s), u"書き換え商事"_s);
    overtype(edit(u"Text13"_s), u"099-999-9999"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"書き換え商事"_s);

    if (cancelButton)
        click(pushButton(m_window, u"Command2"_s));
    else
        m_window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(m_window.isNull());

    QCOMPARE(supplierField(u"torihiki_mei"_s, 120).toString(), u"テスト商事"_s);
    QCOMPARE(supplierField(u"torihiki_tel"_s, 120).toString(), u"03-1234-5678"_s);
}

void TestNewsyohin::registrationCopiesPanelAsItReads()
{
    openWindow();
    lookUp(u"120"_s);
    overtype(edit(u"Text8"_s), u"改名商事"_s);
    overtype(edit(u"Text9"_s), u"121"_s);
    fillProduct();
    registerProduct();

    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(7).toString(), u"改名商事"_s);
    QCOMPARE(rows.first().at(8).toLongLong(), units(121));
    // The registration itself does not store the panel's edits.
    QVERIFY(supplierField(u"torihiki_mei"_s, 121).isNull());
}

void TestNewsyohin::lookupStoresEditsOfSupplierItLeaves()
{
    openWindow();
    lookUp(u"120"_s);
    overtype(edit(u"Text13"_s), u"03-0000-0000"_s);
    lookUp(u"130"_s);
    QCOMPARE(edit(u"Text13"_s)->text(), u"06-9876-5432"_s);

    QCOMPARE(supplierField(u"torihiki_tel"_s, 120).toString(), u"03-0000-0000"_s);
}

void TestNewsyohin::lookupReportsPanelEditThatDoesNotFit()
{
    openWindow();
    lookUp(u"120"_s);
    overtype(edit(u"Text9"_s), u"百二十"_s);
    ModalCatcher catcher(m_testScope.get());
    lookUp(u"130"_s);
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(u"「取引先コード」"_s), qPrintable(catcher.lastText()));
    // The lookup stopped: the panel still holds the supplier with the text as typed.
    QCOMPARE(edit(u"Text8"_s)->text(), u"テスト商事"_s);
    QCOMPARE(edit(u"Text9"_s)->text(), u"百二十"_s);
    QCOMPARE(supplierField(u"torihiki_mei"_s, 120).toString(), u"テスト商事"_s);
}

void TestNewsyohin::janCheckNote()
{
    openWindow();
    lookUp(u"120"_s);
    auto *note = m_window->findChild<QLabel *>(u"JANCheck"_s);
    QVERIFY(note);
    QLineEdit *jan = edit(u"Text5"_s);

    jan->setFocus();
    QTest::keyClicks(jan, u"490123456789"_s);
    QCOMPARE(note->text(), u"チェックデジット不正 (正: 3)"_s); // padded to 13 digits
    QTest::keyClick(jan, Qt::Key_4);
    QCOMPARE(note->text(), u"チェックデジット正常"_s);
    QVERIFY(note->isVisible());

    jan->setText(u"-99"_s);
    QCOMPARE(note->text(), QString());

    // A wrong check digit does not stop the registration.
    fillProduct();
    jan->setText(u"4901234567890"_s);
    ModalCatcher catcher(m_testScope.get());
    registerProduct();
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(productsIn(m_path).first().at(4).toLongLong(), units(4901234567890));
    QCOMPARE(note->text(), QString());
}

QTEST_MAIN(TestNewsyohin)
#include "tst_newsyohin.moc"
