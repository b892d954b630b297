// The supplier change and deletion windows: both look a supplier up by the code typed into
// Text6 and act on what the lookup found.

#include "windowsupport.h"

#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "ui/raiseorcreate.h"
#include "windows/suppliers/chagetorihiki.h"
#include "windows/suppliers/deletetorihiki.h"

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

class TestTorihikiLookup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensBlank_data();
    void opensBlank();
    void actWithNothingFoundShowsMessage_data();
    void actWithNothingFoundShowsMessage();
    void actsOnNewlyOpenedCatalogue_data();
    void actsOnNewlyOpenedCatalogue();
    void staleWindowTouchesNoOtherSupplier_data();
    void staleWindowTouchesNoOtherSupplier();

    // Change window.
    void lookupShowsSupplier();
    void changeStoresEditAndCloses();
    void closingWithoutChangeDiscardsEdit_data();
    void closingWithoutChangeDiscardsEdit();
    void nextLookupStoresEdit();
    void duplicateCodeAccepted();
    void editTheFieldCannotHoldIsRefused();
    void lookupRefusesEditTheFieldCannotHold();

    // Deletion window.
    void deleteRemovesLookedUpSupplierAtOnce();
    void secondPressRemovesNothingMore();
    void fieldsCannotChangeSupplier();

private:
    // Opens the change window, or the deletion window when `deletion` is set.
    void openWindow(bool deletion = false);
    void lookUp(const QString &code) { typeAndEnter(lineEdit(m_window, u"Text6"_s), code); }
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    void press(const QString &button) { click(pushButton(m_window, button)); }
    QStringList names() const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<QWidget> m_window;
};

void TestTorihikiLookup::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"緑茶"_s, .torihiki = u"丸山商事"_s, .torihikicode = u"120"_s}));
}

void TestTorihikiLookup::cleanup()
{
    delete m_window;
    m_folder.reset();
}

void TestTorihikiLookup::openWindow(bool deletion)
{
    if (deletion) {
        QPointer<Deletetorihiki> window;
        m_window = raiseOrCreate(window);
    } else {
        QPointer<Chagetorihiki> window;
        m_window = raiseOrCreate(window);
    }
    if (!showWindow(m_window))
        qWarning("window not exposed");
}

QStringList TestTorihikiLookup::names() const
{
    QStringList names;
    for (const QVariantList &row : suppliersIn(m_path))
        names << row.at(0).toString();
    return names;
}

void TestTorihikiLookup::opensBlank_data()
{
    QTest::addColumn<bool>("deletion");
    QTest::addColumn<QString>("focus");
    QTest::newRow("change") << false << u"Command1"_s;
    QTest::newRow("deletion") << true << u"Text5"_s;
}

void TestTorihikiLookup::opensBlank()
{
    QFETCH(bool, deletion);
    QFETCH(QString, focus);

    openWindow(deletion);
    QVERIFY(showWindow(m_window, true));
    QCOMPARE(QApplication::focusWidget(), m_window->findChild<QWidget *>(focus));
    QCOMPARE(fieldTexts(m_window, 6), QStringList(6));
    // The window's own opening text is one the record source runs.
    QCOMPARE(m_window->findChild<RecordSource *>()->status().code(), ErrorCode::None);
}

void TestTorihikiLookup::actWithNothingFoundShowsMessage_data()
{
    QTest::addColumn<bool>("deletion");
    QTest::addColumn<QString>("code");

    for (const bool deletion : {false, true}) {
        const char *window = deletion ? "deletion" : "change";
        QTest::addRow("%s, nothing looked up", window) << deletion << QString();
        QTest::addRow("%s, unknown code", window) << deletion << u"999"_s;
        // Typed text never becomes part of a statement: this finds (and removes) nothing.
        QTest::addRow("%s, condition", window) << deletion << u"120 or 1=1"_s;
        // A lookup on a catalogue that cannot be opened gives no result at all.
        QTest::addRow("%s, catalogue gone", window) << deletion << u"-"_s;
    }
    QTest::newRow("deletion, wildcard") << true << u"1*"_s;
}

void TestTorihikiLookup::actWithNothingFoundShowsMessage()
{
    QFETCH(bool, deletion);
    QFETCH(QString, code);

    const auto before = suppliersIn(m_path);
    openWindow(deletion);
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
    QCOMPARE(suppliersIn(m_path), before);
}

void TestTorihikiLookup::actsOnNewlyOpenedCatalogue_data()
{
    QTest::addColumn<bool>("deletion");
    QTest::newRow("change") << false;
    QTest::newRow("deletion") << true;
}

void TestTorihikiLookup::actsOnNewlyOpenedCatalogue()
{
    QFETCH(bool, deletion);

    const QString second = m_folder->makeCatalogue(u"second.mdb"_s);
    const QString third = m_folder->makeCatalogue(u"third.mdb"_s);
    QVERIFY(!second.isEmpty() && !third.isEmpty());
    QVERIFY(insertSupplier(second, {u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"120"_s, u"980-0001"_s}));
    QVERIFY(insertSupplier(third, {u"三番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"120"_s, u"810-0001"_s}));
    const auto firstBefore = suppliersIn(m_path);

    // Another catalogue opened while the window is open, then one opened while it is closed.
    openWindow(deletion);
    CurrentCatalogue::instance().setDatabaseName(second);
    for (const auto &[path, name] : {std::pair{second, u"二番商事"_s}, std::pair{third, u"三番商事"_s}}) {
        if (!m_window) {
            CurrentCatalogue::instance().setDatabaseName(third);
            openWindow(deletion);
        }
        lookUp(u"120"_s);
        QCOMPARE(field(1)->text(), name);
        if (deletion) {
            press(u"Command1"_s);
            QVERIFY(suppliersIn(path).isEmpty());
            press(u"Command2"_s);
        } else {
            overtype(field(3), u"000"_s);
            press(u"Command1"_s);
            QCOMPARE(suppliersIn(path).at(0).at(2).toString(), u"000"_s);
        }
        QTRY_VERIFY(m_window.isNull());
    }
    QCOMPARE(suppliersIn(m_path), firstBefore);
}

void TestTorihikiLookup::staleWindowTouchesNoOtherSupplier_data()
{
    QTest::addColumn<bool>("deletion");
    QTest::addColumn<QString>("message");
    // The change window shows 川村物産; meanwhile the deletion window removes it and a new
    // supplier is registered (in a file of the first format it would get the same rowid).
    QTest::newRow("change window, supplier replaced")
        << false << u"このレコードは削除されているため、変更を保存できませんでした。"_s;
    // The deletion window shows 川村物産; meanwhile the change window changes its telephone.
    QTest::newRow("deletion window, supplier changed")
        << true << u"このレコードは他で変更されているため、削除できませんでした。"_s;
}

void TestTorihikiLookup::staleWindowTouchesNoOtherSupplier()
{
    QFETCH(bool, deletion);
    QFETCH(QString, message);
    openWindow(deletion);
    lookUp(u"130"_s);
    QPointer<QWidget> stale = m_window;
    openWindow(!deletion);
    lookUp(u"130"_s);
    if (deletion) {
        overtype(field(3), u"03-0000-0000"_s);
        press(u"Command1"_s);
    } else {
        press(u"Command1"_s);
        QVERIFY(insertSupplier(m_path, {u"新規商店"_s, u"横浜市"_s, u"045"_s, u"150"_s, u"220"_s}));
    }
    delete m_window;
    m_window = stale;
    if (!deletion)
        overtype(field(3), u"099-999-9999"_s);
    const auto before = suppliersIn(m_path);

    ModalCatcher catcher;
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, message);
    QCOMPARE(suppliersIn(m_path), before);
    // The window stays and shows the supplier as it now stands.
    QVERIFY(m_window->isVisible());
    QTRY_COMPARE(field(1)->text(), deletion ? u"川村物産"_s : QString());
    QCOMPARE(field(3)->text(), deletion ? u"03-0000-0000"_s : QString());
}

void TestTorihikiLookup::lookupShowsSupplier()
{
    openWindow();
    lookUp(u"0130.0"_s);
    QCOMPARE(fieldTexts(m_window, 6), (QStringList{u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"530-0001"_s,
                                                   u"130"_s, u"0130.0"_s}));
    lookUp(u"131"_s);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
}

void TestTorihikiLookup::changeStoresEditAndCloses()
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

void TestTorihikiLookup::closingWithoutChangeDiscardsEdit_data()
{
    QTest::addColumn<bool>("cancelButton");
    QTest::newRow("cancel button") << true;
    QTest::newRow("close box") << false;
}

void TestTorihikiLookup::closingWithoutChangeDiscardsEdit()
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

void TestTorihikiLookup::nextLookupStoresEdit()
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

void TestTorihikiLookup::duplicateCodeAccepted()
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

void TestTorihikiLookup::editTheFieldCannotHoldIsRefused()
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

void TestTorihikiLookup::lookupRefusesEditTheFieldCannotHold()
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

void TestTorihikiLookup::deleteRemovesLookedUpSupplierAtOnce()
{
    const auto productsBefore = productsIn(m_path);
    openWindow(true);
    lookUp(u"120.00"_s);
    QCOMPARE(fieldTexts(m_window, 5),
             (QStringList{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"100-0001"_s, u"120"_s}));

    ModalCatcher catcher;
    press(u"Command1"_s);
    QCOMPARE(catcher.count(), 0); // no question, no report
    QCOMPARE(suppliersIn(m_path), QList<QVariantList>{supplierRow(u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s,
                                                                  units(130), u"530-0001"_s)});
    QVERIFY(m_window->isVisible());
    QCOMPARE(field(6)->text(), u"120.00"_s);
    // Products keep the removed supplier.
    QCOMPARE(productsIn(m_path), productsBefore);

    // Looked up again, the code finds nothing.
    lookUp(u"120"_s);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
}

void TestTorihikiLookup::secondPressRemovesNothingMore()
{
    QVERIFY(insertSupplier(m_path, {u"山田商店"_s, u"名古屋市"_s, u"052-333-3333"_s, u"120"_s, u"450-0001"_s}));
    openWindow(true);
    lookUp(u"120"_s);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);

    ModalCatcher catcher;
    press(u"Command1"_s);
    press(u"Command1"_s);
    // Only the first of the two suppliers sharing the code is gone.
    QCOMPARE(names(), (QStringList{u"川村物産"_s, u"山田商店"_s}));

    // A new lookup shows the other one, and the next press removes it.
    lookUp(u"120"_s);
    QCOMPARE(field(1)->text(), u"山田商店"_s);
    press(u"Command1"_s);
    QCOMPARE(names(), QStringList{u"川村物産"_s});
    QCOMPARE(catcher.count(), 0);
}

void TestTorihikiLookup::fieldsCannotChangeSupplier()
{
    const auto before = suppliersIn(m_path);
    openWindow(true);
    lookUp(u"120"_s);
    for (int i = 1; i <= 5; ++i) {
        overtype(field(i), u"999"_s);
        QTest::keyClick(field(i), Qt::Key_Escape);
    }
    QCOMPARE(fieldTexts(m_window, 5),
             (QStringList{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"100-0001"_s, u"120"_s}));

    // Neither leaving the supplier nor closing the window writes to it.
    lookUp(u"130"_s);
    overtype(field(1), u"変更"_s);
    m_window->close();
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

QTEST_MAIN(TestTorihikiLookup)
#include "tst_torihikilookup.moc"
