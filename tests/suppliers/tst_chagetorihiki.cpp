#include "supplierwindowtest.h"

#include "suppliers/chagetorihiki.h"

#include <QPointer>

#include <memory>

using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString selectFirst = u"検索取引先コードから削除する取引先を選択してください。"_s;

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
    void changeAfterLookupFailedShowsMessage();
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
    Chagetorihiki *openWindow();
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    QStringList shownSupplier() const; // Text1..Text5

    std::unique_ptr<TempCatalogues> m_files;
    QString m_path;
    QPointer<Chagetorihiki> m_window;
};

void TestChagetorihiki::init()
{
    m_files = std::make_unique<TempCatalogues>();
    m_path = m_files->make(u"database.mdb"_s);
    QVERIFY(!m_path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(m_path);
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
    Product product;
    product.mei = u"緑茶"_s;
    product.torihiki = u"丸山商事"_s;
    product.torihikicode = u"120"_s;
    QVERIFY(insertProduct(m_path, product));
}

void TestChagetorihiki::cleanup()
{
    delete m_window;
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_files.reset();
}

Chagetorihiki *TestChagetorihiki::openWindow()
{
    m_window = new Chagetorihiki;
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window))
        qWarning("window not exposed");
    return m_window;
}

QStringList TestChagetorihiki::shownSupplier() const
{
    QStringList texts;
    for (int i = 1; i <= 5; ++i)
        texts << field(i)->text();
    return texts;
}

void TestChagetorihiki::opensBlankWithFocusOnChangeButton()
{
    openWindow();
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(QApplication::focusWidget(), pushButton(m_window, u"Command1"_s));
    QCOMPARE(shownSupplier(), QStringList(5));
    QVERIFY(lineEdit(m_window, u"Text6"_s)->text().isEmpty());

    const QStringList order{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s,
                            u"Text6"_s, u"Command2"_s, u"Command1"_s};
    for (const QString &name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void TestChagetorihiki::changeWithNothingFoundShowsMessage_data()
{
    QTest::addColumn<QString>("code");

    QTest::newRow("nothing looked up") << QString();
    QTest::newRow("unknown code") << u"999"_s;
    // Typed text never becomes part of a statement: this finds nothing.
    QTest::newRow("condition") << u"120 or 1=1"_s;
    QTest::newRow("letters") << u"abc"_s;
}

void TestChagetorihiki::changeWithNothingFoundShowsMessage()
{
    QFETCH(QString, code);

    openWindow();
    if (!code.isNull())
        enterCode(lineEdit(m_window, u"Text6"_s), code);
    QCOMPARE(shownSupplier(), QStringList(5));

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QVERIFY(m_window->isVisible());
}

void TestChagetorihiki::changeAfterLookupFailedShowsMessage()
{
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);

    // The next lookup runs on a catalogue that cannot be opened: no result at all.
    CurrentCatalogue::instance().setDatabaseName(m_files->pathOf(u"missing.mdb"_s));
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QVERIFY(m_window->isVisible());
}

void TestChagetorihiki::lookupShowsSupplier()
{
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"0130.0"_s);

    QCOMPARE(shownSupplier(),
             (QStringList{u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"530-0001"_s, u"130"_s}));
    QCOMPARE(search->text(), u"0130.0"_s);

    enterCode(search, u"131"_s);
    QCOMPARE(shownSupplier(), QStringList(5));
}

void TestChagetorihiki::changeStoresEditAndCloses()
{
    const auto productsBefore = querySql(m_path, u"select * from syohin"_s);
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(1), u"丸山商事株式会社"_s);

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));

    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path),
             (QList<QVariantList>{
                 supplierRow(u"丸山商事株式会社"_s, u"東京都千代田区"_s, u"03-9999-0000"_s, units(120), u"100-0001"_s),
                 supplierRow(u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, units(130), u"530-0001"_s)}));
    // Products keep the supplier name they were registered with.
    QCOMPARE(querySql(m_path, u"select * from syohin"_s), productsBefore);
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
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(5), u"121"_s);

    ModalCatcher catcher;
    if (cancelButton)
        click(pushButton(m_window, u"Command2"_s));
    else
        QVERIFY(m_window->close()); // what the title bar's close box does

    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

void TestChagetorihiki::nextLookupStoresEdit()
{
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"120"_s);
    overtype(field(2), u"東京都中央区"_s);
    enterCode(search, u"130"_s);

    QCOMPARE(shownSupplier(),
             (QStringList{u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"530-0001"_s, u"130"_s}));
    QCOMPARE(suppliersIn(m_path).at(0),
             supplierRow(u"丸山商事"_s, u"東京都中央区"_s, u"03-1111-1111"_s, units(120), u"100-0001"_s));

    // Edits to the second supplier go when the window is cancelled; the first stays changed.
    overtype(field(2), u"京都府"_s);
    click(pushButton(m_window, u"Command2"_s));
    QTRY_VERIFY(m_window.isNull());
    const auto rows = suppliersIn(m_path);
    QCOMPARE(rows.at(0).at(1).toString(), u"東京都中央区"_s);
    QCOMPARE(rows.at(1).at(1).toString(), u"大阪府大阪市"_s);
}

void TestChagetorihiki::duplicateCodeAccepted()
{
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"130"_s);
    overtype(field(5), u"120"_s);
    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));
    QCOMPARE(catcher.count(), 0);
    QTRY_VERIFY(m_window.isNull());

    const auto rows = suppliersIn(m_path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(3).toLongLong(), units(120));
    QCOMPARE(rows.at(1).at(3).toLongLong(), units(120));

    // A later lookup of that code shows the first of the two.
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);
}

void TestChagetorihiki::editTheFieldCannotHoldIsRefused()
{
    const auto before = suppliersIn(m_path);
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    overtype(field(3), u"03-9999-0000"_s);
    overtype(field(5), u"12A"_s);

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));

    VERIFY_ONE_MESSAGE(catcher, u"「取引先コード」に数値を入力してください。"_s);
    QVERIFY(m_window->isVisible());
    QCOMPARE(field(5)->text(), u"12A"_s);
    QCOMPARE(m_window->focusWidget(), field(5));
    QCOMPARE(suppliersIn(m_path), before);

    // Once corrected, the change goes through.
    overtype(field(5), u"125"_s);
    click(pushButton(m_window, u"Command1"_s));
    QCOMPARE(catcher.count(), 1);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path).at(0),
             supplierRow(u"丸山商事"_s, u"東京都千代田区"_s, u"03-9999-0000"_s, units(125), u"100-0001"_s));
}

void TestChagetorihiki::lookupRefusesEditTheFieldCannotHold()
{
    const auto before = suppliersIn(m_path);
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"120"_s);
    overtype(field(2), u"東京都中央区"_s);
    overtype(field(5), u"abc"_s);

    ModalCatcher catcher;
    enterCode(search, u"130"_s);

    VERIFY_ONE_MESSAGE(catcher, u"「取引先コード」に数値を入力してください。"_s);
    QCOMPARE(suppliersIn(m_path), before);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);
    QCOMPARE(field(5)->text(), u"abc"_s);

    // Cancelling drops the edits.
    click(pushButton(m_window, u"Command2"_s));
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

void TestChagetorihiki::actsOnNewlyOpenedCatalogue()
{
    const QString second = m_files->make(u"second.mdb"_s);
    const QString third = m_files->make(u"third.mdb"_s);
    QVERIFY(!second.isEmpty() && !third.isEmpty());
    QVERIFY(insertSupplier(second, {u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"120"_s, u"980-0001"_s}));
    QVERIFY(insertSupplier(third, {u"三番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"120"_s, u"810-0001"_s}));
    const auto firstBefore = suppliersIn(m_path);

    // Another catalogue opened while the window is open.
    openWindow();
    CurrentCatalogue::instance().setDatabaseName(second);
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    QCOMPARE(field(1)->text(), u"二番商事"_s);
    overtype(field(3), u"022-000-0000"_s);
    click(pushButton(m_window, u"Command1"_s));
    QTRY_VERIFY(m_window.isNull());

    // And one opened while it is closed.
    CurrentCatalogue::instance().setDatabaseName(third);
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    QCOMPARE(field(1)->text(), u"三番商事"_s);
    overtype(field(3), u"092-000-0000"_s);
    click(pushButton(m_window, u"Command1"_s));
    QTRY_VERIFY(m_window.isNull());

    QCOMPARE(suppliersIn(m_path), firstBefore);
    QCOMPARE(suppliersIn(second).at(0).at(2).toString(), u"022-000-0000"_s);
    QCOMPARE(suppliersIn(third).at(0).at(2).toString(), u"092-000-0000"_s);
}

QTEST_MAIN(TestChagetorihiki)
#include "tst_chagetorihiki.moc"
