#include "testsupport.h"

#include "catalogue/currentcatalogue.h"
#include "suppliers/chagetorihiki.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {
const QString selectFirst = u"検索取引先コードから削除する取引先を選択してください。"_s;
const QString codeNotNumber = u"「取引先コード」に数値を入力してください。"_s;
} // namespace

class TestChagetorihiki : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensBlankWithFocusOnChangeButton();
    void changeWithNothingFoundShowsMessage_data();
    void changeWithNothingFoundShowsMessage();
    void lookupShowsSupplier();
    void changeStoresEditAndCloses();
    void closingWithoutChangeDiscardsEdit_data();
    void closingWithoutChangeDiscardsEdit();
    void nextLookupStoresEdit();
    void duplicateCodeAccepted();
    void editTheFieldCannotHoldIsRefused();
    void lookupRefusesEditTheFieldCannotHold();
    void actsOnNewlyOpenedCatalogue();

private:
    void openWindow();
    void lookUp(const QString &code) { typeAndEnter(lineEdit(m_window, u"Text6"_s), code); }
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    void press(const QString &button) { click(pushButton(m_window, button)); }

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<Chagetorihiki> m_window;
};

void TestChagetorihiki::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"緑茶"_s, .torihiki = u"丸山商事"_s, .torihikicode = u"120"_s}));
}

void TestChagetorihiki::cleanup()
{
    delete m_window;
    m_folder.reset();
}

void TestChagetorihiki::openWindow()
{
    m_window = new Chagetorihiki;
    if (!showWindow(m_window))
        qWarning("window not exposed");
}

void TestChagetorihiki::opensBlankWithFocusOnChangeButton()
{
    openWindow();
    QVERIFY(showWindow(m_window, true));
    QCOMPARE(QApplication::focusWidget(), pushButton(m_window, u"Command1"_s));
    QCOMPARE(fieldTexts(m_window, 6), QStringList(6));
    QCOMPARE(tabOrder(8), (QStringList{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s, u"Text6"_s,
                                       u"Command2"_s, u"Command1"_s}));
}

void TestChagetorihiki::changeWithNothingFoundShowsMessage_data()
{
    QTest::addColumn<QString>("code");

    QTest::newRow("nothing looked up") << QString();
    QTest::newRow("unknown code") << u"999"_s;
    // Typed text never becomes part of a statement: this finds nothing.
    QTest::newRow("condition") << u"120 or 1=1"_s;
    QTest::newRow("letters") << u"abc"_s;
    // A lookup on a catalogue that cannot be opened gives no result at all.
    QTest::newRow("catalogue gone") << u"-"_s;
}

void TestChagetorihiki::changeWithNothingFoundShowsMessage()
{
    QFETCH(QString, code);

    openWindow();
    if (code == u"-") {
        lookUp(u"120"_s);
        QCOMPARE(field(1)->text(), u"丸山商事"_s);
        CurrentCatalogue::instance().setDatabaseName(m_folder->filePath(u"missing.mdb"_s));
        lookUp(u"120"_s);
    } else if (!code.isNull()) {
        lookUp(code);
    }
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));

    ModalCatcher catcher;
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QVERIFY(m_window->isVisible());
}

void TestChagetorihiki::lookupShowsSupplier()
{
    openWindow();
    lookUp(u"0130.0"_s);
    QCOMPARE(fieldTexts(m_window, 6), (QStringList{u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"530-0001"_s,
                                                   u"130"_s, u"0130.0"_s}));
    lookUp(u"131"_s);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
}

void TestChagetorihiki::changeStoresEditAndCloses()
{
    const auto productsBefore = productsIn(m_path);
    openWindow();
    lookUp(u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(1), u"丸山商事株式会社"_s);

    ModalCatcher catcher;
    press(u"Command1"_s);
    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path),
             (QList<QVariantList>{
                 supplierRow(u"丸山商事株式会社"_s, u"東京都千代田区"_s, u"03-9999-0000"_s, units(120), u"100-0001"_s),
                 supplierRow(u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, units(130), u"530-0001"_s)}));
    // Products keep the supplier name they were registered with.
    QCOMPARE(productsIn(m_path), productsBefore);
}

void TestChagetorihiki::closingWithoutChangeDiscardsEdit_data()
{
    QTest::addColumn<bool>("cancelButton");
    QTest::newRow("cancel button") << true;
    QTest::newRow("close box") << false;
}

void TestChagetorihiki::closingWithoutChangeDiscardsEdit()
{
    QFETCH(bool, cancelButton);

    const auto before = suppliersIn(m_path);
    openWindow();
    lookUp(u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(5), u"121"_s);

    ModalCatcher catcher;
    if (cancelButton)
        press(u"Command2"_s);
    else
        QVERIFY(m_window->close()); // what the title bar's close box does
    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

void TestChagetorihiki::nextLookupStoresEdit()
{
    openWindow();
    lookUp(u"120"_s);
    overtype(field(2), u"東京都中央区"_s);
    lookUp(u"130"_s);
    QCOMPARE(field(1)->text(), u"川村物産"_s);
    QCOMPARE(suppliersIn(m_path).at(0),
             supplierRow(u"丸山商事"_s, u"東京都中央区"_s, u"03-1111-1111"_s, units(120), u"100-0001"_s));

    // Edits to the second supplier go when the window is cancelled; the first stays changed.
    overtype(field(2), u"京都府"_s);
    press(u"Command2"_s);
    QTRY_VERIFY(m_window.isNull());
    const auto rows = suppliersIn(m_path);
    QCOMPARE(rows.at(0).at(1).toString(), u"東京都中央区"_s);
    QCOMPARE(rows.at(1).at(1).toString(), u"大阪府大阪市"_s);
}

void TestChagetorihiki::duplicateCodeAccepted()
{
    openWindow();
    lookUp(u"130"_s);
    overtype(field(5), u"120"_s);
    ModalCatcher catcher;
    press(u"Command1"_s);
    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    const auto rows = suppliersIn(m_path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(3).toLongLong(), units(120));
    QCOMPARE(rows.at(1).at(3).toLongLong(), units(120));

    // A later lookup of that code shows the first of the two.
    openWindow();
    lookUp(u"120"_s);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);
}

void TestChagetorihiki::editTheFieldCannotHoldIsRefused()
{
    const auto before = suppliersIn(m_path);
    openWindow();
    lookUp(u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(5), u"12A"_s);

    ModalCatcher catcher;
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, codeNotNumber);
    QVERIFY(m_window->isVisible());
    QCOMPARE(field(5)->text(), u"12A"_s);
    QCOMPARE(m_window->focusWidget(), field(5));
    QCOMPARE(suppliersIn(m_path), before);

    // Once corrected, the change goes through.
    overtype(field(5), u"125"_s);
    press(u"Command1"_s);
    QCOMPARE(catcher.count(), 1);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path).at(0),
             supplierRow(u"丸山商事"_s, u"東京都千代田区"_s, u"03-9999-0000"_s, units(125), u"100-0001"_s));
}

void TestChagetorihiki::lookupRefusesEditTheFieldCannotHold()
{
    const auto before = suppliersIn(m_path);
    openWindow();
    lookUp(u"120"_s);
    overtype(field(2), u"東京都中央区"_s);
    overtype(field(5), u"abc"_s);

    ModalCatcher catcher;
    lookUp(u"130"_s);
    VERIFY_ONE_MESSAGE(catcher, codeNotNumber);
    QCOMPARE(suppliersIn(m_path), before);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);
    QCOMPARE(field(5)->text(), u"abc"_s);

    // Cancelling drops the edits.
    press(u"Command2"_s);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

void TestChagetorihiki::actsOnNewlyOpenedCatalogue()
{
    const QString second = m_folder->makeCatalogue(u"second.mdb"_s);
    const QString third = m_folder->makeCatalogue(u"third.mdb"_s);
    QVERIFY(!second.isEmpty() && !third.isEmpty());
    QVERIFY(insertSupplier(second, {u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"120"_s, u"980-0001"_s}));
    QVERIFY(insertSupplier(third, {u"三番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"120"_s, u"810-0001"_s}));
    const auto firstBefore = suppliersIn(m_path);

    // Another catalogue opened while the window is open, then one opened while it is closed.
    openWindow();
    CurrentCatalogue::instance().setDatabaseName(second);
    for (const auto &[path, name] : {std::pair{second, u"二番商事"_s}, std::pair{third, u"三番商事"_s}}) {
        if (!m_window) {
            CurrentCatalogue::instance().setDatabaseName(third);
            openWindow();
        }
        lookUp(u"120"_s);
        QCOMPARE(field(1)->text(), name);
        overtype(field(3), u"000"_s);
        press(u"Command1"_s);
        QTRY_VERIFY(m_window.isNull());
        QCOMPARE(suppliersIn(path).at(0).at(2).toString(), u"000"_s);
    }
    QCOMPARE(suppliersIn(m_path), firstBefore);
}

QTEST_MAIN(TestChagetorihiki)
#include "tst_chagetorihiki.moc"
