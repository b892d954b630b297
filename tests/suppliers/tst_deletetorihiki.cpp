#include "supplierwindowtest.h"

#include "suppliers/deletetorihiki.h"

#include <QPointer>

#include <memory>

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
    Deletetorihiki *openWindow();
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    QStringList shownSupplier() const; // Text1..Text5

    std::unique_ptr<TempCatalogues> m_files;
    QString m_path;
    QPointer<Deletetorihiki> m_window;
};

void TestDeletetorihiki::init()
{
    m_files = std::make_unique<TempCatalogues>();
    m_path = m_files->make(u"database.mdb"_s);
    QVERIFY(!m_path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(m_path);
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
}

void TestDeletetorihiki::cleanup()
{
    delete m_window;
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_files.reset();
}

Deletetorihiki *TestDeletetorihiki::openWindow()
{
    m_window = new Deletetorihiki;
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window))
        qWarning("window not exposed");
    return m_window;
}

QStringList TestDeletetorihiki::shownSupplier() const
{
    QStringList texts;
    for (int i = 1; i <= 5; ++i)
        texts << field(i)->text();
    return texts;
}

void TestDeletetorihiki::opensBlankWithFocusOnCode()
{
    openWindow();
    QApplication::setActiveWindow(m_window);
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(QApplication::focusWidget(), field(5));
    QCOMPARE(shownSupplier(), QStringList(5));

    // From the bottom of the frame upwards, then the search field and the buttons.
    const QStringList order{u"Text4"_s, u"Text3"_s, u"Text2"_s, u"Text1"_s, u"Text6"_s,
                            u"Command1"_s, u"Command2"_s, u"Text5"_s};
    for (const QString &name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
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
        enterCode(lineEdit(m_window, u"Text6"_s), code);
    QCOMPARE(shownSupplier(), QStringList(5));

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QCOMPARE(suppliersIn(m_path), before);
    QVERIFY(m_window->isVisible());
}

void TestDeletetorihiki::deleteRemovesLookedUpSupplierAtOnce()
{
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"120.00"_s);
    QCOMPARE(shownSupplier(),
             (QStringList{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"100-0001"_s, u"120"_s}));

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));

    QCOMPARE(catcher.count(), 0); // no question, no report
    QCOMPARE(suppliersIn(m_path),
             QList<QVariantList>{supplierRow(u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, units(130),
                                             u"530-0001"_s)});
    QVERIFY(m_window->isVisible());
    QCOMPARE(search->text(), u"120.00"_s);

    // Looked up again, the code finds nothing.
    enterCode(search, u"120"_s);
    QCOMPARE(shownSupplier(), QStringList(5));
    click(pushButton(m_window, u"Command1"_s));
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
}

void TestDeletetorihiki::secondPressRemovesNothingMore()
{
    QVERIFY(insertSupplier(m_path, {u"山田商店"_s, u"名古屋市"_s, u"052-333-3333"_s, u"120"_s, u"450-0001"_s}));
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"120"_s);
    QCOMPARE(field(1)->text(), u"丸山商事"_s);

    ModalCatcher catcher;
    click(pushButton(m_window, u"Command1"_s));
    click(pushButton(m_window, u"Command1"_s));
    QCOMPARE(catcher.count(), 0);

    // Only the first of the two suppliers sharing the code is gone.
    auto rows = suppliersIn(m_path);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).at(0).toString(), u"川村物産"_s);
    QCOMPARE(rows.at(1).at(0).toString(), u"山田商店"_s);

    // A new lookup shows the other one, and the next press removes it.
    enterCode(search, u"120"_s);
    QCOMPARE(field(1)->text(), u"山田商店"_s);
    click(pushButton(m_window, u"Command1"_s));
    rows = suppliersIn(m_path);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).at(0).toString(), u"川村物産"_s);
    QCOMPARE(catcher.count(), 0);
}

void TestDeletetorihiki::productsKeepRemovedSupplier()
{
    Product product;
    product.mei = u"緑茶"_s;
    product.torihiki = u"丸山商事"_s;
    product.torihikicode = u"120"_s;
    QVERIFY(insertProduct(m_path, product));
    const auto productsBefore = querySql(m_path, u"select * from syohin"_s);

    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    click(pushButton(m_window, u"Command1"_s));

    QCOMPARE(suppliersIn(m_path).size(), 1);
    QCOMPARE(querySql(m_path, u"select * from syohin"_s), productsBefore);
    QCOMPARE(querySql(m_path, u"select syohin_torihiki, syohin_torihikicode from syohin"_s),
             (QList<QVariantList>{{u"丸山商事"_s, QVariant::fromValue(units(120))}}));
}

void TestDeletetorihiki::fieldsCannotChangeSupplier()
{
    const auto before = suppliersIn(m_path);
    openWindow();
    auto *search = lineEdit(m_window, u"Text6"_s);
    enterCode(search, u"120"_s);

    for (int i = 1; i <= 5; ++i) {
        overtype(field(i), u"999"_s);
        QTest::keyClick(field(i), Qt::Key_Escape);
    }
    QCOMPARE(shownSupplier(),
             (QStringList{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"100-0001"_s, u"120"_s}));

    // Neither leaving the supplier nor closing the window writes to it.
    enterCode(search, u"130"_s);
    overtype(field(1), u"変更"_s);
    m_window->close();
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), before);
}

void TestDeletetorihiki::actsOnNewlyOpenedCatalogue()
{
    const QString second = m_files->make(u"second.mdb"_s);
    const QString third = m_files->make(u"third.mdb"_s);
    QVERIFY(!second.isEmpty() && !third.isEmpty());
    for (const QString &path : {second, third}) {
        QVERIFY(insertSupplier(path, {u"一番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"120"_s, u"980-0001"_s}));
        QVERIFY(insertSupplier(path, {u"二番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"121"_s, u"810-0001"_s}));
    }
    const auto firstBefore = suppliersIn(m_path);

    // Another catalogue opened while the window is open.
    openWindow();
    CurrentCatalogue::instance().setDatabaseName(second);
    enterCode(lineEdit(m_window, u"Text6"_s), u"120"_s);
    QCOMPARE(field(1)->text(), u"一番商事"_s);
    click(pushButton(m_window, u"Command1"_s));
    click(pushButton(m_window, u"Command2"_s));
    QTRY_VERIFY(m_window.isNull());

    // And one opened while it is closed.
    CurrentCatalogue::instance().setDatabaseName(third);
    openWindow();
    enterCode(lineEdit(m_window, u"Text6"_s), u"121"_s);
    QCOMPARE(field(1)->text(), u"二番商事"_s);
    click(pushButton(m_window, u"Command1"_s));

    QCOMPARE(suppliersIn(m_path), firstBefore);
    QCOMPARE(suppliersIn(second).size(), 1);
    QCOMPARE(suppliersIn(second).at(0).at(0).toString(), u"二番商事"_s);
    QCOMPARE(suppliersIn(third).size(), 1);
    QCOMPARE(suppliersIn(third).at(0).at(0).toString(), u"一番商事"_s);
}

QTEST_MAIN(TestDeletetorihiki)
#include "tst_deletetorihiki.moc"
