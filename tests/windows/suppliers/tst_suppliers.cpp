// The supplier windows: registration, and the change and deletion windows, which look a
// supplier up by the code typed into Text6 and act on what the lookup found.
#include "windowsupport.h"

#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "ui/raiseorcreate.h"
#include "windows/suppliers/chagetorihiki.h"
#include "windows/suppliers/deletetorihiki.h"
#include "windows/suppliers/newtorihiki.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {
const QString selectFirst = u"検索取引先コードから削除する取引先を選択してください。"_s;
const QString codeNotNumber = u"「取引先コード」に数値を入力してください。"_s;
const QString duplicate = u"その取引先コードはすでに存在しています。"_s;
const QStringList maruyama{u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"100-0001"_s, u"120"_s};
} // namespace

class TestSuppliers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void registration_data();
    void registration();
    void registrationEmptiesFields();
    void actWithNothingFound_data();
    void actWithNothingFound();
    void change_data();
    void change();
    void staleWindowTouchesNoOtherSupplier_data();
    void staleWindowTouchesNoOtherSupplier();
    void deletion();

private:
    // Opens the registration (0), change (1) or deletion (2) window.
    void openWindow(int kind);
    void lookUp(const QString &code) { typeAndEnter(lineEdit(m_window, u"Text6"_s), code); }
    QLineEdit *field(int number) const { return lineEdit(m_window, u"Text%1"_s.arg(number)); }
    void press(const QString &button) { click(pushButton(m_window, button)); }
    QStringList names() const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_path;
    QPointer<QWidget> m_window;
    QList<QVariantList> m_rows; // the suppliers the catalogue starts with
};

void TestSuppliers::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertSupplier(m_path, {u"丸山商事"_s, u"東京都千代田区"_s, u"03-1111-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(m_path, {u"川村物産"_s, u"大阪府大阪市"_s, u"06-2222-2222"_s, u"130"_s, u"530-0001"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"緑茶"_s, .torihiki = u"丸山商事"_s, .torihikicode = u"120"_s}));
    m_rows = suppliersIn(m_path);
}

void TestSuppliers::cleanup()
{
    delete m_window;
    m_folder.reset();
}

void TestSuppliers::openWindow(int kind)
{
    QPointer<NEWtorihiki> registration;
    QPointer<Chagetorihiki> change;
    QPointer<Deletetorihiki> deletion;
    m_window = kind == 0 ? static_cast<QWidget *>(raiseOrCreate(registration))
             : kind == 1 ? static_cast<QWidget *>(raiseOrCreate(change))
                         : raiseOrCreate(deletion);
    if (!showWindow(m_window))
        qWarning("window not exposed");
}

QStringList TestSuppliers::names() const
{
    QStringList names;
    for (const QVariantList &row : suppliersIn(m_path))
        names << row.at(0).toString();
    return names;
}

void TestSuppliers::registration_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("message"); // the one message; empty: none
    QTest::addColumn<QVariantList>("row"); // the row stored; empty: nothing stored

    const auto typed = [](const QString &code, const QString &post = u"600-0001"_s) {
        return QStringList{u"新規商事"_s, u"京都府"_s, u"075-000-0000"_s, code, post};
    };
    // Required fields in order: the code is asked for before the postal code, which stands higher.
    QTest::newRow("all empty") << QStringList(5) << u"新規取引先名を入力してください。"_s << QVariantList();
    QTest::newRow("name only") << QStringList{u"丸山商事"_s, {}, {}, {}, {}} << u"取引先住所を入力してください。"_s << QVariantList();
    QTest::newRow("telephone missing") << QStringList{u"丸山商事"_s, u"東京都"_s, {}, u"120"_s, u"100-0001"_s}
                                       << u"取引先電話番号を入力してください。"_s << QVariantList();
    QTest::newRow("code and postal code missing") << typed({}, {}) << u"取引先コードを入力してください。"_s << QVariantList();
    QTest::newRow("postal code missing") << typed(u"140"_s, {}) << u"取引先郵便番号を入力してください。"_s << QVariantList();
    // A code is a duplicate by its value.
    QTest::newRow("same code") << typed(u"120"_s) << duplicate << QVariantList();
    QTest::newRow("leading zero") << typed(u"0120"_s) << duplicate << QVariantList();
    QTest::newRow("prefix of a code") << typed(u"12"_s) << QString()
                                      << supplierRow(u"新規商事"_s, u"京都府"_s, u"075-000-0000"_s, units(12), u"600-0001"_s);
    QTest::newRow("fraction") << typed(u"0120.50"_s) << QString()
                              << supplierRow(u"新規商事"_s, u"京都府"_s, u"075-000-0000"_s, 1205000, u"600-0001"_s);
    QTest::newRow("blanks only") << QStringList{u" "_s, u"　"_s, u"  "_s, u" 7 "_s, u"\t"_s} << QString()
                                 << supplierRow(u" "_s, u"　"_s, u"  "_s, units(7), u"\t"_s);
    // A code that is not a number stores nothing, silently; typed text never becomes SQL.
    QTest::newRow("letter") << typed(u"12A"_s) << QString() << QVariantList();
    QTest::newRow("condition") << typed(u"120 or 1=1"_s) << QString() << QVariantList();
}

void TestSuppliers::registration()
{
    QFETCH(QStringList, texts);
    QFETCH(QString, message);
    QFETCH(QVariantList, row);

    openWindow(0);
    QVERIFY(showWindow(m_window, true));
    QCOMPARE(QApplication::focusWidget(), field(1));
    fill(m_window, texts);
    ModalCatcher catcher;
    press(u"Command1"_s);
    if (!message.isEmpty())
        VERIFY_ONE_MESSAGE(catcher, message);
    QCOMPARE(catcher.count(), message.isEmpty() ? 0 : 1);
    QCOMPARE(suppliersIn(m_path), row.isEmpty() ? m_rows : m_rows + QList<QVariantList>{row});
    QCOMPARE(fieldTexts(m_window, 5), row.isEmpty() ? texts : QStringList(5));
    QVERIFY(m_window->isVisible());
}

void TestSuppliers::registrationEmptiesFields()
{
    // Cancel closes without storing; the next opening starts empty.
    openWindow(0);
    fill(m_window, {u"一番商事"_s, u"札幌市"_s, u"011-111-1111"_s, u"1"_s, u"060-0001"_s});
    press(u"Command2"_s);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(suppliersIn(m_path), m_rows);
    openWindow(0);
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));
}

void TestSuppliers::actWithNothingFound_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");

    for (const int kind : {1, 2}) {
        const char *window = kind == 1 ? "change" : "deletion";
        QTest::addRow("%s, empty code", window) << kind << QString();
        QTest::addRow("%s, unknown code", window) << kind << u"999"_s;
        // Typed text never becomes part of a statement: this finds (and removes) nothing.
        QTest::addRow("%s, condition", window) << kind << u"120 or 1=1"_s;
        // A lookup on a catalogue that cannot be opened gives no result at all.
        QTest::addRow("%s, catalogue gone", window) << kind << u"-"_s;
    }
    QTest::newRow("deletion, wildcard") << 2 << u"1*"_s;
}

void TestSuppliers::actWithNothingFound()
{
    QFETCH(int, kind);
    QFETCH(QString, code);

    openWindow(kind);
    // The window opens blank, on a text the record source runs.
    QCOMPARE(fieldTexts(m_window, 6), QStringList(6));
    QCOMPARE(m_window->findChild<RecordSource *>()->status().code(), ErrorCode::None);
    if (code == u"-") {
        lookUp(u"0120.0"_s); // a leading zero and a fraction find the supplier
        QCOMPARE(fieldTexts(m_window, 6), maruyama + QStringList{u"0120.0"_s});
        CurrentCatalogue::instance().setDatabaseName(m_folder->filePath(u"missing.mdb"_s));
        lookUp(u"120"_s);
    } else {
        lookUp(code);
    }
    QCOMPARE(fieldTexts(m_window, 5), QStringList(5));

    ModalCatcher catcher;
    press(u"Command1"_s);
    VERIFY_ONE_MESSAGE(catcher, selectFirst);
    QVERIFY(m_window->isVisible());
    QCOMPARE(suppliersIn(m_path), m_rows);
}

void TestSuppliers::change_data()
{
    QTest::addColumn<int>("number");      // the field overtyped
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("then");    // "change", "cancel", "close" or "lookup" (of 130)
    QTest::addColumn<QString>("message"); // the one message; empty: none
    QTest::addColumn<QStringList>("stored"); // supplier 120 afterwards, as the window shows it

    QStringList renamed = maruyama;
    renamed[0] = u"丸山商事株式会社"_s;
    QStringList recoded = maruyama;
    recoded[4] = u"130"_s;
    QTest::newRow("change") << 1 << renamed[0] << u"change"_s << QString() << renamed;
    // Two suppliers may share a code through a change.
    QTest::newRow("change to a used code") << 5 << u"130"_s << u"change"_s << QString() << recoded;
    QTest::newRow("cancel") << 3 << u"03-9999-0000"_s << u"cancel"_s << QString() << maruyama;
    QTest::newRow("close box") << 3 << u"03-9999-0000"_s << u"close"_s << QString() << maruyama;
    QTest::newRow("code with a letter") << 5 << u"12A"_s << u"change"_s << codeNotNumber << maruyama;
    // The next lookup stores the edits of the supplier it leaves, or stops on one that does not fit.
    QStringList moved = maruyama;
    moved[1] = u"東京都中央区"_s;
    QTest::newRow("next lookup") << 2 << moved[1] << u"lookup"_s << QString() << moved;
    QTest::newRow("next lookup, code in letters") << 5 << u"abc"_s << u"lookup"_s << codeNotNumber << maruyama;
}

void TestSuppliers::change()
{
    QFETCH(int, number);
    QFETCH(QString, text);
    QFETCH(QString, then);
    QFETCH(QString, message);
    QFETCH(QStringList, stored);

    const auto productsBefore = productsIn(m_path);
    openWindow(1);
    lookUp(u"120"_s);
    overtype(field(number), text);
    ModalCatcher catcher;
    if (then == u"lookup")
        lookUp(u"130"_s);
    else if (then == u"close")
        QVERIFY(m_window->close()); // what the title bar's close box does
    else
        press(then == u"change" ? u"Command1"_s : u"Command2"_s);
    QCOMPARE(catcher.count(), message.isEmpty() ? 0 : 1);
    QCOMPARE(catcher.lastText(), message);
    if (!message.isEmpty()) {
        // Refused: the window keeps the supplier as typed; once mended the change goes through.
        QVERIFY(m_window->isVisible());
        QCOMPARE(field(1)->text(), u"丸山商事"_s);
        QCOMPARE(field(number)->text(), text);
        QCOMPARE(m_window->focusWidget(), field(number));
        overtype(field(number), u"125"_s);
        press(u"Command1"_s);
        QCOMPARE(catcher.count(), 1);
        stored[4] = u"125"_s;
    }
    if (then == u"lookup" && message.isEmpty()) {
        QCOMPARE(field(1)->text(), u"川村物産"_s);
        press(u"Command2"_s); // edits of the second supplier go with the window
    }
    QTRY_VERIFY(m_window.isNull());
    const auto rows = suppliersIn(m_path);
    QCOMPARE(rows.at(0), supplierRow(stored[0], stored[1], stored[2], units(stored[4].toLongLong()), stored[3]));
    QCOMPARE(rows.at(1), m_rows.at(1));
    // Products keep the supplier name they were registered with.
    QCOMPARE(productsIn(m_path), productsBefore);
    // A later lookup of a shared code shows the first of the two.
    openWindow(1);
    lookUp(stored[4]);
    QCOMPARE(field(1)->text(), stored[0]);
}

void TestSuppliers::staleWindowTouchesNoOtherSupplier_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    // The change window shows 川村物産; meanwhile the deletion window removes it and a new
    // supplier is registered (in a file of the first format it would get the same rowid).
    QTest::newRow("change window, supplier replaced")
        << 1 << u"このレコードは削除されているため、変更を保存できませんでした。"_s;
    // The deletion window shows 川村物産; meanwhile the change window changes its telephone.
    QTest::newRow("deletion window, supplier changed")
        << 2 << u"このレコードは他で変更されているため、削除できませんでした。"_s;
}

void TestSuppliers::staleWindowTouchesNoOtherSupplier()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    const bool deletion = kind == 2;
    openWindow(kind);
    lookUp(u"130"_s);
    QPointer<QWidget> stale = m_window;
    openWindow(3 - kind);
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

void TestSuppliers::deletion()
{
    QVERIFY(insertSupplier(m_path, {u"山田商店"_s, u"名古屋市"_s, u"052-333-3333"_s, u"120"_s, u"450-0001"_s}));
    const auto productsBefore = productsIn(m_path);
    openWindow(2);
    lookUp(u"120"_s);
    // The fields show the supplier but cannot change it.
    for (int i = 1; i <= 5; ++i) {
        overtype(field(i), u"999"_s);
        QTest::keyClick(field(i), Qt::Key_Escape);
    }
    QCOMPARE(fieldTexts(m_window, 5), maruyama);

    // Removed at once, without a question; a second press removes nothing more.
    ModalCatcher catcher;
    press(u"Command1"_s);
    press(u"Command1"_s);
    QCOMPARE(names(), (QStringList{u"川村物産"_s, u"山田商店"_s}));
    QCOMPARE(catcher.count(), 0);
    QVERIFY(m_window->isVisible());
    QCOMPARE(productsIn(m_path), productsBefore); // products keep the removed supplier

    // A new lookup shows the other supplier of that code, and the next press removes it.
    lookUp(u"120"_s);
    QCOMPARE(field(1)->text(), u"山田商店"_s);
    press(u"Command1"_s);
    QCOMPARE(names(), QStringList{u"川村物産"_s});

    // Neither leaving a supplier nor closing the window writes to it.
    lookUp(u"130"_s);
    overtype(field(1), u"変更"_s);
    m_window->close();
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(names(), QStringList{u"川村物産"_s});
    QCOMPARE(suppliersIn(m_path).at(0), m_rows.at(1));
}

QTEST_MAIN(TestSuppliers)
#include "tst_suppliers.moc"
