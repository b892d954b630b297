// The product registration window: the guide until the first supplier lookup, the supplier
// panel, the required fields in order, and the product row it stores.
#include "windowsupport.h"

#include "engine/records/recordsource.h"
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
    void fieldsConverted_data();
    void fieldsConverted();
    void twoProductsAfterOneLookup();
    void supplierPanel_data();
    void supplierPanel();
    void janCheckNote();

private:
    QLineEdit *edit(const QString &name) const { return lineEdit(m_window, name); }
    void lookUp(const QString &code) { typeAndEnter(edit(u"Text16"_s), code); }
    void fillProduct(const QString &name = u"緑茶 500ml"_s);
    void registerProduct() { click(pushButton(m_window, u"Command1"_s)); }
    QStringList checkedTexts() const;
    QStringList panel() const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<Newsyohin> m_window;
};

void TestNewsyohin::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"テスト商事"_s, u"東京都千代田区1-1"_s, u"03-1234-5678"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"山田物産"_s, u"大阪府大阪市2-2"_s, u"06-9876-5432"_s, u"130"_s, u"530-0001"_s}));
    raiseOrCreate(m_window);
}

void TestNewsyohin::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete m_window;
    m_folder.reset();
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

QStringList TestNewsyohin::panel() const
{
    QStringList texts;
    for (const QString &name : {u"Text8"_s, u"Text9"_s, u"Text10"_s, u"Text11"_s, u"Text13"_s})
        texts << edit(name)->text();
    return texts;
}

void TestNewsyohin::guideCoversProductFieldsUntilFirstLookup()
{
    auto *guide = m_window->findChild<QGroupBox *>(u"HOWTO"_s);
    QVERIFY(guide->isVisible());
    QCOMPARE(m_window->focusWidget(), edit(u"Text1"_s));
    // The panel's opening text is one the record source runs.
    QCOMPARE(m_window->findChild<RecordSource *>(u"torihiki"_s)->status().code(), ErrorCode::None);

    // What the user sees at a product field's centre is the guide, not the field.
    const auto widgetAt = [this](const QString &name) {
        auto *child = m_window->findChild<QWidget *>(name);
        return m_window->childAt(child->mapTo(m_window, child->rect().center()));
    };
    for (const QString &name : productFields + QStringList{u"JANCheck"_s}) {
        QWidget *shown = widgetAt(name);
        QVERIFY2(shown == guide || guide->isAncestorOf(shown), qPrintable(name));
    }
    // A lookup without a number changes nothing.
    for (const QString &code : {QString(), u"abc"_s, u"12*"_s})
        lookUp(code);
    QVERIFY(guide->isVisible());

    // The code is converted to a number before it goes into the lookup.
    lookUp(u"0120.00"_s);
    QVERIFY(!guide->isVisible());
    for (const QString &name : productFields)
        QCOMPARE(widgetAt(name), edit(name));
    QCOMPARE(panel(), (QStringList{u"テスト商事"_s, u"120"_s, u"東京都千代田区1-1"_s, u"100-0001"_s, u"03-1234-5678"_s}));
    lookUp(u"abc"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"テスト商事"_s);
    // A code that matches none blanks the panel, and registration asks for a supplier.
    lookUp(u"555"_s);
    QCOMPARE(panel(), QStringList(5));
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
    QTest::newRow("no supplier found") << -1 << messages.at(7);
}

void TestNewsyohin::requiredFieldsInOrder()
{
    QFETCH(int, firstEmpty);
    QFETCH(QString, message);

    lookUp(u"120"_s);
    if (firstEmpty < 0)
        lookUp(u"555"_s);
    fillProduct();
    // Every field from this one on is empty: the message names the first.
    for (int i = qMax(firstEmpty, 0); firstEmpty >= 0 && i < checkedFields.size(); ++i)
        edit(checkedFields.at(i))->setText(QString());
    const QStringList before = checkedTexts();

    ModalCatcher catcher;
    registerProduct();
    VERIFY_ONE_MESSAGE(catcher, message);
    QVERIFY(productsIn(m_path).isEmpty());
    QCOMPARE(checkedTexts(), before);
}

void TestNewsyohin::fieldsConverted_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("column");
    QTest::addColumn<qint64>("stored");   // when stored
    QTest::addColumn<QString>("message"); // when refused

    // Halves go to the even neighbour; 13 digits and the reserved -99 are stored as typed.
    QTest::newRow("order unit 2.5") << u"Text7"_s << u"2.5"_s << 6 << qint64(2) << QString();
    QTest::newRow("order unit 3.5") << u"Text7"_s << u"3.5"_s << 6 << qint64(4) << QString();
    QTest::newRow("JAN, 13 digits") << u"Text5"_s << u"9999999999999"_s << 4 << units(9999999999999) << QString();
    QTest::newRow("JAN -99") << u"Text5"_s << u"-99"_s << 4 << units(-99) << QString();
    QTest::newRow("category") << u"Text15"_s << u"-2"_s << 10 << units(-2) << QString();
    QTest::newRow("order unit 40000") << u"Text7"_s << u"40000"_s << 6 << qint64()
                                      << u"「発注単位」に-32768から32767までの整数を入力してください。"_s;
    QTest::newRow("letters in price") << u"Text2"_s << u"12OO"_s << 1 << qint64() << u"「標準価格」に数値を入力してください。"_s;
    QTest::newRow("blanks as cost") << u"Text4"_s << u"  "_s << 3 << qint64() << u"「商品原価」に数値を入力してください。"_s;
    QTest::newRow("letter as category") << u"Text15"_s << u"A"_s << 10 << qint64() << u"「カテゴリ」に数値を入力してください。"_s;
}

void TestNewsyohin::fieldsConverted()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, column);
    QFETCH(qint64, stored);
    QFETCH(QString, message);

    lookUp(u"120"_s);
    fillProduct();
    edit(field)->setText(text);
    const QStringList before = checkedTexts();
    ModalCatcher catcher;
    registerProduct();
    if (message.isEmpty()) {
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(productsIn(m_path).value(0).value(column).toLongLong(), stored);
        return;
    }
    VERIFY_ONE_MESSAGE(catcher, message);
    QVERIFY(productsIn(m_path).isEmpty());
    QCOMPARE(checkedTexts(), before);
    QCOMPARE(m_window->focusWidget(), edit(field));

    // Once mended, the product is stored once: nothing was left over from the failed attempt.
    edit(field)->setText(u"5"_s);
    registerProduct();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(productsIn(m_path).size(), 1);
    QCOMPARE(productsIn(m_path).value(0).value(column).toLongLong(), column == 6 ? 5 : units(5));
}

void TestNewsyohin::twoProductsAfterOneLookup()
{
    ModalCatcher catcher;
    lookUp(u"120"_s);
    lookUp(u"130"_s); // a second lookup replaces the supplier
    fillProduct(u"緑茶 500ml"_s);
    registerProduct();

    // Only the product fields are emptied.
    for (const QString &name : productFields)
        QVERIFY2(edit(name)->text().isEmpty(), qPrintable(name));
    QCOMPARE(edit(u"Text16"_s)->text(), u"130"_s);
    QCOMPARE(edit(u"Text8"_s)->text(), u"山田物産"_s);

    fillProduct(u"烏龍茶 2L"_s);
    edit(u"Text5"_s)->setText(u"4901234567900"_s);
    registerProduct();
    QCOMPARE(catcher.count(), 0); // success is never confirmed

    const auto rows = productsIn(m_path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0), (QVariantList{u"緑茶 500ml"_s, units(1200), units(980), qint64(7005000),
                                       units(4901234567894), units(1001), qint64(12), u"山田物産"_s,
                                       units(130), units(3), units(1)}));
    QCOMPARE(rows.at(1).mid(4, 5), (QVariantList{units(4901234567900), units(1001), qint64(12), u"山田物産"_s, units(130)}));
}

void TestNewsyohin::supplierPanel_data()
{
    QTest::addColumn<QString>("field");   // the panel field overtyped
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("then");    // "register", "lookup" (of 130), "cancel" or "close"
    QTest::addColumn<QString>("column");  // of supplier 120 afterwards
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message"); // the one message, in part; empty: none

    // Registration copies the panel as it reads into the product, without storing it.
    QTest::newRow("register") << u"Text8"_s << u"改名商事"_s << u"register"_s << u"torihiki_mei"_s << u"テスト商事"_s << QString();
    // A lookup stores the edits of the supplier it leaves, or stops on one that does not fit.
    QTest::newRow("lookup") << u"Text13"_s << u"03-0000-0000"_s << u"lookup"_s << u"torihiki_tel"_s << u"03-0000-0000"_s << QString();
    QTest::newRow("lookup, code in words") << u"Text9"_s << u"百二十"_s << u"lookup"_s << u"torihiki_mei"_s << u"テスト商事"_s
                                           << u"「取引先コード」"_s;
    // Closing the window drops them.
    QTest::newRow("キャンセル") << u"Text13"_s << u"099-999-9999"_s << u"cancel"_s << u"torihiki_tel"_s << u"03-1234-5678"_s << QString();
    QTest::newRow("close box") << u"Text8"_s << u"書き換え商事"_s << u"close"_s << u"torihiki_mei"_s << u"テスト商事"_s << QString();
}

void TestNewsyohin::supplierPanel()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, then);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, message);

    lookUp(u"120"_s);
    overtype(edit(field), text);
    ModalCatcher catcher;
    if (then == u"register") {
        overtype(edit(u"Text9"_s), u"121"_s);
        fillProduct();
        registerProduct();
        QCOMPARE(productsIn(m_path).value(0).mid(7, 2), (QVariantList{text, units(121)}));
    } else if (then == u"lookup") {
        lookUp(u"130"_s);
        // Stopped, the panel still holds the supplier with the text as typed.
        QCOMPARE(edit(u"Text8"_s)->text(), message.isEmpty() ? u"山田物産"_s : u"テスト商事"_s);
    } else {
        if (then == u"cancel")
            click(pushButton(m_window, u"Command2"_s));
        else
            m_window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(m_window.isNull());
    }
    QCOMPARE(catcher.count(), message.isEmpty() ? 0 : 1);
    QVERIFY(catcher.lastText().contains(message));
    QCOMPARE(sqlValue(m_path, u"select %1 from torihiki where torihiki_code = %2"_s.arg(column).arg(units(120))).toString(), value);
    QVERIFY(sqlValue(m_path, u"select count(*) from torihiki where torihiki_code = %1"_s.arg(units(121))).toInt() == 0);
}

void TestNewsyohin::janCheckNote()
{
    lookUp(u"120"_s);
    auto *note = m_window->findChild<QLabel *>(u"JANCheck"_s);
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
    ModalCatcher catcher;
    registerProduct();
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(productsIn(m_path).value(0).value(4).toLongLong(), units(4901234567890));
    QCOMPARE(note->text(), QString());
}

QTEST_MAIN(TestNewsyohin)
#include "tst_newsyohin.moc"
