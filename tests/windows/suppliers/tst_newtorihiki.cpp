#include "windowsupport.h"

#include "engine/records/currentcatalogue.h"
#include "ui/raiseorcreate.h"
#include "windows/suppliers/newtorihiki.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

class TestNewtorihiki : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensWithFocusOnNameAndKeyboardOrder();
    void requiredFieldsCheckedInOrder_data();
    void requiredFieldsCheckedInOrder();
    void registersFieldsAsTyped_data();
    void registersFieldsAsTyped();
    void duplicateCodeByValueRefused_data();
    void duplicateCodeByValueRefused();
    void codeThatIsNotANumberStoresNothing_data();
    void codeThatIsNotANumberStoresNothing();
    void fieldsEmptiedAndSecondRegistration();
    void cancelClosesWithoutStoring();
    void registersIntoNewlyOpenedCatalogue();

private:
    NEWtorihiki *openWindow();
    void registerSupplier() { click(pushButton(m_window, u"Command1"_s)); }

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<NEWtorihiki> m_window;
};

void TestNewtorihiki::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
}

void TestNewtorihiki::cleanup()
{
    delete m_window;
    m_folder.reset();
}

NEWtorihiki *TestNewtorihiki::openWindow()
{
    raiseOrCreate(m_window);
    if (!showWindow(m_window))
        qWarning("window not exposed");
    return m_window;
}

void TestNewtorihiki::opensWithFocusOnNameAndKeyboardOrder()
{
    openWindow();
    QVERIFY(showWindow(m_window, true));
    QCOMPARE(QApplication::focusWidget(), lineEdit(m_window, u"Text1"_s));
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
}

void TestNewtorihiki::requiredFieldsCheckedInOrder_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("message");

    QTest::newRow("all empty") << QStringList(5) << u"新規取引先名を入力してください。"_s;
    QTest::newRow("name only") << QStringList{u"丸山商事"_s, {}, {}, {}, {}} << u"取引先住所を入力してください。"_s;
    QTest::newRow("telephone missing") << QStringList{u"丸山商事"_s, u"東京都"_s, {}, u"120"_s, u"100-0001"_s}
                                       << u"取引先電話番号を入力してください。"_s;
    // The code is asked for before the postal code, though the postal code stands higher.
    QTest::newRow("code and postal code missing")
        << QStringList{u"丸山商事"_s, u"東京都"_s, u"03-1234-5678"_s, {}, {}} << u"取引先コードを入力してください。"_s;
    QTest::newRow("postal code missing") << QStringList{u"丸山商事"_s, u"東京都"_s, u"03-1234-5678"_s, u"120"_s, {}}
                                         << u"取引先郵便番号を入力してください。"_s;
}

void TestNewtorihiki::requiredFieldsCheckedInOrder()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, message);

    openWindow();
    fill(m_window, texts);
    ModalCatcher catcher;
    registerSupplier();

    VERIFY_ONE_MESSAGE(catcher, message);
    QVERIFY(suppliersIn(m_path).isEmpty());
    QCOMPARE(fieldTexts(m_window, 5), texts);
    QVERIFY(m_window->isVisible());
}

void TestNewtorihiki::registersFieldsAsTyped_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QVariantList>("row");

    // Fields go to their own columns; the code is stored as its value.
    QTest::newRow("typed") << QStringList{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1234-5678"_s, u"0120.50"_s, u"100-0001"_s}
                           << supplierRow(u"丸山商事"_s, u"東京都千代田区"_s, u"03-1234-5678"_s, 1205000, u"100-0001"_s);
    QTest::newRow("blanks only") << QStringList{u" "_s, u"　"_s, u"  "_s, u" 7 "_s, u"\t"_s}
                                 << supplierRow(u" "_s, u"　"_s, u"  "_s, units(7), u"\t"_s);
}

void TestNewtorihiki::registersFieldsAsTyped()
{
    QFETCH(QStringList, texts);
    QFETCH(QVariantList, row);

    openWindow();
    fill(m_window, texts);
    ModalCatcher catcher;
    registerSupplier();
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(suppliersIn(m_path), QList<QVariantList>{row});
}

void TestNewtorihiki::duplicateCodeByValueRefused_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("duplicate");

    QTest::newRow("same text") << u"120"_s << true;
    QTest::newRow("leading zero") << u"0120"_s << true;
    QTest::newRow("zero fraction") << u"120.0"_s << true;
    QTest::newRow("prefix of the code") << u"12"_s << false;
    QTest::newRow("fraction") << u"120.5"_s << false;
}

void TestNewtorihiki::duplicateCodeByValueRefused()
{
    QFETCH(QString, code);
    QFETCH(bool, duplicate);

    QVERIFY(insertSupplier(m_path, {u"既存商事"_s, u"大阪府"_s, u"06-0000-0000"_s, u"120"_s, u"530-0001"_s}));
    openWindow();
    const QStringList texts{u"新規商事"_s, u"京都府"_s, u"075-000-0000"_s, code, u"600-0001"_s};
    fill(m_window, texts);
    ModalCatcher catcher;
    registerSupplier();

    const auto rows = suppliersIn(m_path);
    if (duplicate) {
        VERIFY_ONE_MESSAGE(catcher, u"その取引先コードはすでに存在しています。"_s);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(fieldTexts(m_window, 5), texts);
    } else {
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(1).at(0).toString(), u"新規商事"_s);
        QVERIFY(rows.at(1).at(3).toLongLong() != units(120));
    }
}

void TestNewtorihiki::codeThatIsNotANumberStoresNothing_data()
{
    QTest::addColumn<QString>("code");

    QTest::newRow("letter") << u"12A"_s;
    // Typed text never becomes part of a statement.
    QTest::newRow("condition") << u"120 or 1=1"_s;
    QTest::newRow("out of range") << u"99999999999999999999"_s;
}

void TestNewtorihiki::codeThatIsNotANumberStoresNothing()
{
    QFETCH(QString, code);

    QVERIFY(insertSupplier(m_path, {u"既存商事"_s, u"大阪府"_s, u"06-0000-0000"_s, u"120"_s, u"530-0001"_s}));
    const auto before = suppliersIn(m_path);
    openWindow();
    const QStringList texts{u"新規商事"_s, u"京都府"_s, u"075-000-0000"_s, code, u"600-0001"_s};
    fill(m_window, texts);
    ModalCatcher catcher;
    registerSupplier();

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(suppliersIn(m_path), before);
    QCOMPARE(fieldTexts(m_window, 5), texts);
    QVERIFY(m_window->isVisible());
}

void TestNewtorihiki::fieldsEmptiedAndSecondRegistration()
{
    openWindow();
    fill(m_window, {u"一番商事"_s, u"札幌市"_s, u"011-111-1111"_s, u"1"_s, u"060-0001"_s});
    ModalCatcher catcher;
    registerSupplier();
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
    QVERIFY(m_window->isVisible());

    fill(m_window, {u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"4901234567894"_s, u"980-0001"_s});
    registerSupplier();
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));

    // The first registration is now itself a duplicate.
    fill(m_window, {u"三番商事"_s, u"福岡市"_s, u"092-333-3333"_s, u"1.000"_s, u"810-0001"_s});
    registerSupplier();

    VERIFY_ONE_MESSAGE(catcher, u"その取引先コードはすでに存在しています。"_s);
    QCOMPARE(suppliersIn(m_path),
             (QList<QVariantList>{supplierRow(u"一番商事"_s, u"札幌市"_s, u"011-111-1111"_s, units(1), u"060-0001"_s),
                                  supplierRow(u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, units(4901234567894),
                                              u"980-0001"_s)}));
}

void TestNewtorihiki::cancelClosesWithoutStoring()
{
    openWindow();
    fill(m_window, {u"一番商事"_s, u"札幌市"_s, u"011-111-1111"_s, u"1"_s, u"060-0001"_s});
    click(pushButton(m_window, u"Command2"_s));
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(suppliersIn(m_path).isEmpty());

    // The next opening starts with empty fields.
    openWindow();
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
}

void TestNewtorihiki::registersIntoNewlyOpenedCatalogue()
{
    const QString second = m_folder->makeCatalogue(u"second.mdb"_s);
    QVERIFY(!second.isEmpty());

    // Another catalogue opened while the window is open.
    openWindow();
    CurrentCatalogue::instance().setDatabaseName(second);
    fill(m_window, {u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, u"2"_s, u"980-0001"_s});
    registerSupplier();

    QVERIFY(suppliersIn(m_path).isEmpty());
    QCOMPARE(suppliersIn(second),
             QList<QVariantList>{supplierRow(u"二番商事"_s, u"仙台市"_s, u"022-222-2222"_s, units(2), u"980-0001"_s)});
}

QTEST_MAIN(TestNewtorihiki)
#include "tst_newtorihiki.moc"
