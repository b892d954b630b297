#include "testsupport.h"

#include "catalogue/currentcatalogue.h"
#include "suppliers/deletetorihiki.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {
const QString selectFirst = u"検索取引先コードから削除する取引先を選択してください。"_s;
} // namespace

class TestDeletetorihiki : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensBlankWithFocusOnCode();
    void deleteWithNothingFoundShowsMessage_data();
    void deleteWithNothingFoundShowsMessage();
    void deleteRemovesLookedUpSupplierAtOnce();
    void secondPressRemovesNothingMore();
    void productsKeepRemovedSupplier();
    void fieldsCannotChangeSupplier();
    void actsOnNewlyOpenedCatalogue();

private:
    void openWindow();
    void lookUp(const QString &code) { typeAndEnter(lineEdit(m_window, u"Text6"_s), code); }
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    void press(const QString &button) { click(pushButton(m_window, button)); }
    QStringList names() const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<Deletetorihiki> m_window;
};

void TestDeletetorihiki::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
}

void TestDeletetorihiki::cleanup()
{
    delete m_window;
    m_folder.reset();
}

void TestDeletetorihiki::openWindow()
{
    m_window = new Deletetorihiki;
    if (!showWindow(m_window))
        qWarning("window not exposed");
}

QStringList TestDeletetorihiki::names() const
{
    QStringList names;
    for (const QVariantList &row : suppliersIn(m_path))
        names << row.at(0).toString();
    return names;
}

void TestDeletetorihiki::opensBlankWithFocusOnCode()
{
    openWindow();
    QVERIFY(showWindow(m_window, true));
    QCOMPARE(QApplication::focusWidget(), field(5));
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
    // From the bottom of the frame upwards, then the search field and the buttons.
    QCOMPARE(tabOrder(8), (QStringList{u"Text4"_s, u"Text3"_s, u"Text2"_s, u"Text1"_s, u"Text6"_s, u"Command1"_s,
                                       u"Command2"_s, u"Text5"_s}));
}

void TestDeletetorihiki::deleteWithNothingFoundShowsMessage_data()
{
    QTest::addColumn<QString>("code");

    QTest::newRow("nothing looked up") << QString();
    QTest::newRow("unknown code") << u"999"_s;
    QTest::newRow("empty code") << u""_s;
    // Typed text never becomes part of a statement: this finds and removes nothing.
    QTest::newRow("condition") << u"120 or 1=1"_s;
    QTest::newRow("wildcard") << u"1*"_s;
}

void TestDeletetorihiki::deleteWithNothingFoundShowsMessage()
{
    QFETCH(QString, code);

    const auto before = suppliersIn(m_path);
    openWindow();
    if (!code.isNull())
        lookUp(code);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));

    ModalCatcher catcher;
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QCOMPARE(suppliersIn(m_path), before);
    QVERIFY(m_window->isVisible());
}

void TestDeletetorihiki::deleteRemovesLookedUpSupplierAtOnce()
{
    openWindow();
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

    // Looked up again, the code finds nothing.
    lookUp(u"120"_s);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
}

void TestDeletetorihiki::secondPressRemovesNothingMore()
{
    QVERIFY(insertSupplier(m_path, {u"山田商店"_s, u"名古屋市"_s, u"052-333-3333"_s, u"120"_s, u"450-0001"_s}));
    openWindow();
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

void TestDeletetorihiki::productsKeepRemovedSupplier()
{
    QVERIFY(insertProduct(m_path, {.mei = u"緑茶"_s, .torihiki = u"丸山商事"_s, .torihikicode = u"120"_s}));
    const auto productsBefore = productsIn(m_path);

    openWindow();
    lookUp(u"120"_s);
    press(u"Command1"_s);
    QCOMPARE(names(), QStringList{u"川村物産"_s});
    QCOMPARE(productsIn(m_path), productsBefore);
}

void TestDeletetorihiki::fieldsCannotChangeSupplier()
{
    const auto before = suppliersIn(m_path);
    openWindow();
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

void TestDeletetorihiki::actsOnNewlyOpenedCatalogue()
{
    const QString second = m_folder->makeCatalogue(u"second.mdb"_s);
    const QString third = m_folder->makeCatalogue(u"third.mdb"_s);
    QVERIFY(!second.isEmpty() && !third.isEmpty());
    for (const QString &path : {second, third}) {
        QVERIFY(insertSupplier(path, {u"一番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"120"_s, u"980-0001"_s}));
        QVERIFY(insertSupplier(path, {u"二番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"121"_s, u"810-0001"_s}));
    }
    const auto firstBefore = suppliersIn(m_path);

    // Another catalogue opened while the window is open.
    openWindow();
    CurrentCatalogue::instance().setDatabaseName(second);
    lookUp(u"120"_s);
    QCOMPARE(field(1)->text(), u"一番商事"_s);
    press(u"Command1"_s);
    press(u"Command2"_s);
    QTRY_VERIFY(m_window.isNull());

    // And one opened while it is closed.
    CurrentCatalogue::instance().setDatabaseName(third);
    openWindow();
    lookUp(u"121"_s);
    QCOMPARE(field(1)->text(), u"二番商事"_s);
    press(u"Command1"_s);

    QCOMPARE(suppliersIn(m_path), firstBefore);
    QCOMPARE(suppliersIn(second).size(), 1);
    QCOMPARE(suppliersIn(second).at(0).at(0).toString(), u"二番商事"_s);
    QCOMPARE(suppliersIn(third).size(), 1);
    QCOMPARE(suppliersIn(third).at(0).at(0).toString(), u"一番商事"_s);
}

QTEST_MAIN(TestDeletetorihiki)
#include "tst_deletetorihiki.moc"
