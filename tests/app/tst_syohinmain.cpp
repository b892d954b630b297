// The main window: start-up, searching, the detail panel and grid, every command that leaves
// the current product, every window's write refused, and the other windows it opens.
#include "mainwindow.h"
#include "scripteddialogs.h"
#include "windowsupport.h"

#include "app/syohin_main.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"
#include "windows/files/newdatabase.h"
#include "windows/help/howtomerch.h"
#include "windows/help/version.h"
#include "windows/products/productdeletion.h"
#include "windows/products/newsyohin.h"
#include "windows/suppliers/chagetorihiki.h"
#include "windows/suppliers/deletetorihiki.h"
#include "windows/suppliers/newtorihiki.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString listed = u"select * from syohin where syohin_JAN<>-99 and "_s;

template<class Window>
Window *openWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<Window *>(w))
            return window;
    }
    return nullptr;
}

} // namespace

class TestSyohinMain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startUp_data();
    void startUp();
    void search_data();
    void search();
    void searchKeepsList_data();
    void searchKeepsList();
    void modeChangeKeepsList();
    void detailPanelAndGrid();
    void leavingTheRecord_data();
    void leavingTheRecord();
    void deletion();
    void writeRefused_data();
    void writeRefused();
    void windowsFollowCurrentCatalogue_data();
    void windowsFollowCurrentCatalogue();
    void otherWindowsOpenOnce();

private:
    bool start(const QByteArray *howto = nullptr);
    QLineEdit *edit(const QString &name) const { return lineEdit(m_window.get(), name); }
    QTableView *grid() const { return m_window->findChild<QTableView *>(u"DBGrid1"_s); }
    QStringList names() const { return listedNames(m_window->data1()); }
    QString status() const { return m_window->statusBar()->currentMessage(); }
    void enter(const QString &field, const QString &text);
    void trigger(const QString &action) { Test::trigger(m_window.get(), action); }
    void clickRow(int row) { Test::clickRow(grid(), row); }
    QString storedMaster(const QString &name) const;
    // Opens a window that writes (by its menu entry, unless open already) and fills it for
    // one write, which its Command1 makes.
    QWidget *prepareWrite(const QString &action, bool open = true);

    std::unique_ptr<TestFolder> m_folder;
    QString m_db;
    std::unique_ptr<Syohin_Main> m_window;
    ScriptedDialogs *m_dialogs = nullptr;
};

void TestSyohinMain::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_db = m_folder->catalogue();
    // The reserved row matches department 3, supplier 120, price 198, EOS 1001 and its own JAN.
    for (const Product &product : {
             Product{.mei = u"りんごジュース"_s, .master = u"198"_s, .jan = u"4901234567894"_s, .eos = u"1001"_s},
             Product{.mei = u"みかんジュース"_s, .master = u"1980"_s, .jan = u"4901234567801"_s, .eos = u"1002"_s,
                     .eostani = u"24"_s, .torihikicode = u"130"_s},
             Product{.mei = u"緑茶"_s, .master = u"150"_s, .jan = u"4902222222222"_s, .eos = u"2001"_s, .bumon = u"5"_s},
             Product{.mei = u"O'Brien's Tea"_s, .master = u"300"_s, .jan = u"4903333333333"_s, .eos = u"2002"_s,
                     .torihikicode = u"140"_s, .bumon = u"5"_s},
             Product{.mei = u"りんごジュース"_s, .master = u"198"_s, .jan = u"-99"_s, .eos = u"1001"_s}})
        QVERIFY(insertProduct(m_db, product));
}

void TestSyohinMain::cleanup()
{
    m_window.reset();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QPointer<QWidget> &w : QList<QPointer<QWidget>>(windows.begin(), windows.end()))
        delete w.data();
    m_folder.reset();
    CurrentCatalogue::instance().setDatabaseName(u"database.mdb"_s);
}

bool TestSyohinMain::start(const QByteArray *howto)
{
    if (!writeFile(m_folder->filePath(u"howto.num"_s), howto ? *howto : "1\r\n"_ba))
        return false;
    m_window = startMain();
    m_dialogs = ScriptedDialogs::install(m_window->fileMenu());
    return QApplication::activeWindow() == m_window.get();
}

void TestSyohinMain::enter(const QString &field, const QString &text)
{
    edit(field)->setText(text);
    QTest::keyClick(edit(field), Qt::Key_Return);
}

QString TestSyohinMain::storedMaster(const QString &name) const
{
    const QVariant units = sqlValue(m_db, u"select syohin_master from syohin where syohin_mei='%1' and syohin_JAN<>-990000"_s.arg(name));
    return units.isNull() ? QString() : QString::number(units.toLongLong() / 10000);
}

void TestSyohinMain::startUp_data()
{
    QTest::addColumn<QByteArray>("howto"); // null: no howto.num
    QTest::addColumn<QString>("start");    // the catalogue at start: "database.mdb", "none", or one given:
                                           // "given" catalogue, "given missing", "given text"
    QTest::addColumn<bool>("guide");
    QTest::addColumn<QString>("status");   // what the status bar says, in part; empty: nothing

    // The file's forms are read by HowtoSetting (tst_help); these follow them to the window.
    QTest::newRow("0 then more lines") << "0\r\n1\r\n"_ba << u"database.mdb"_s << true << QString();
    QTest::newRow("1") << "1\r\n"_ba << u"database.mdb"_s << false << QString();
    QTest::newRow("no howto.num") << QByteArray() << u"database.mdb"_s << false << QString();
    // Without its catalogue the start ends early: no guide, only the status bar tells.
    QTest::newRow("no catalogue") << "0"_ba << u"none"_s << false << u"database.mdb"_s;
    // A catalogue named on the command line opens as 開く opens it, once the start is done.
    QTest::newRow("given") << "1"_ba << u"given"_s << false << QString();
    QTest::newRow("given missing") << "1"_ba << u"given missing"_s << false << u"ファイルが見つかりません"_s;
    QTest::newRow("given text") << "1"_ba << u"given text"_s << false << u"商品管理のデータベースファイルではありません"_s;
}

void TestSyohinMain::startUp()
{
    QFETCH(QByteArray, howto);
    QFETCH(QString, start);
    QFETCH(bool, guide);
    QFETCH(QString, status);

    if (start == u"none")
        QVERIFY(QFile::remove(m_db));
    if (!howto.isNull())
        QVERIFY(writeFile(m_folder->filePath(u"howto.num"_s), howto));
    const QString given = m_folder->filePath(u"given.mdb"_s);
    if (start == u"given")
        QVERIFY(makeCatalogue(given));
    else if (start == u"given text")
        QVERIFY(writeFile(given, "not a catalogue\n"));
    ModalCatcher catcher;
    m_window = startMain();
    if (start.startsWith(u"given"))
        m_window->openAtStart(given);
    const QString current = start == u"given" ? given : u"database.mdb"_s;
    QCOMPARE(m_window->startUpGuide() && m_window->startUpGuide()->isVisible(), guide);
    QCOMPARE(m_window->windowTitle(), u"Merchalog - "_s + current);
    QCOMPARE(m_window->data1()->databaseName(), current);
    QCOMPARE(m_window->fileMenu()->catalogueFileName(), current);
    QCOMPARE(grid()->model()->rowCount(), 0);
    QCOMPARE(fieldTexts(m_window.get(), 11), QStringList(11));
    QVERIFY2(status.isEmpty() ? this->status().isEmpty() : this->status().contains(status), qPrintable(this->status()));
    QCOMPARE(QFile::exists(m_db), start != u"none"); // opening never creates the file
    QCOMPARE(QFile::exists(given), start == u"given" || start == u"given text");
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::search_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QStringList>("found");

    // The statements for every mode and input are checked in the engine's tests; these rows
    // follow each menu's mode and one hostile key through the window to the listed products.
    const QString dept3 = listed + u"bumon_code like 3"_s;
    const QStringList dept3Names{u"りんごジュース"_s, u"みかんジュース"_s};
    QTest::newRow("department") << u"mnusearchEOS"_s << u"03"_s << QString() << dept3 << dept3Names;
    QTest::newRow("name both") << u"mnusearchNAME"_s << u"5"_s << u"緑茶"_s
                               << listed + u"bumon_code like 5 and syohin_mei like '緑茶'"_s << QStringList{u"緑茶"_s};
    QTest::newRow("name, folded wildcard") << u"mnusearchNAME"_s << QString() << u"*じゅーｽ"_s
                                           << listed + u"syohin_mei like '*じゅーｽ'"_s << dept3Names;
    QTest::newRow("name with quote") << u"mnusearchNAME"_s << QString() << u"O'Brien's Tea' or ''='"_s
                                     << listed + u"syohin_mei like 'O''Brien''s Tea'' or ''''='''"_s << QStringList();
    QTest::newRow("supplier") << u"mnusearchTORIHIKI"_s << QString() << u"0120"_s
                              << listed + u"syohin_torihikicode like 120"_s << QStringList{u"りんごジュース"_s, u"緑茶"_s};
    QTest::newRow("price both") << u"mnusearchPRICE"_s << u"03"_s << u"1,980"_s
                                << dept3 + u" and syohin_master like 1980"_s << QStringList{u"みかんジュース"_s};
    QTest::newRow("eos") << u"mnusearchEOS"_s << QString() << u"2002"_s
                         << listed + u"syohin_EOS like 2002"_s << QStringList{u"O'Brien's Tea"_s};
    // The reserved row is never listed, even when searched for by its own JAN.
    QTest::newRow("jan -99") << u"mnusearchJAN"_s << QString() << u"-99"_s << listed + u"syohin_JAN like -99"_s
                             << QStringList();
}

void TestSyohinMain::search()
{
    QFETCH(QString, menu);
    QFETCH(QString, department);
    QFETCH(QString, key);
    QFETCH(QString, statement);
    QFETCH(QStringList, found);

    ModalCatcher catcher;
    QVERIFY(start());
    trigger(menu);
    // Enter in either field searches; a barcode scanner ends with the keypad's Enter.
    for (const QString &field : {u"SBumon_code"_s, u"Search"_s}) {
        m_window->data1()->setRecordSource(QString(SqlText::emptyProductView));
        QVERIFY(m_window->data1()->refresh());
        edit(u"SBumon_code"_s)->setText(department);
        edit(u"Search"_s)->setText(key);
        QTest::keyClick(edit(field), field == u"Search"_s ? Qt::Key_Enter : Qt::Key_Return,
                        field == u"Search"_s ? Qt::KeypadModifier : Qt::NoModifier);

        QCOMPARE(m_window->data1()->recordSource(), statement);
        QCOMPARE(names(), found);
        QCOMPARE(status(), u"%1件"_s.arg(found.size()));
        // The first product is current and shown; with none the detail panel is blank.
        QCOMPARE(edit(u"Text1"_s)->text(), found.value(0));
        QCOMPARE(grid()->currentIndex().row(), found.isEmpty() ? -1 : 0);
        QCOMPARE(edit(u"Search"_s)->text(), key);
    }
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::searchKeepsList_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("note"); // in the status bar; empty: it still shows the count

    QTest::newRow("both empty") << u"mnusearchNAME"_s << QString() << QString() << u"2件"_s;
    QTest::newRow("department letters") << u"mnusearchNAME"_s << u"A1"_s << QString() << u"部門"_s;
    QTest::newRow("price letters") << u"mnusearchPRICE"_s << QString() << u"abc"_s << u"価格"_s;
    QTest::newRow("eos question mark") << u"mnusearchEOS"_s << u"3"_s << u"10?1"_s << u"EOS"_s;
}

void TestSyohinMain::searchKeepsList()
{
    QFETCH(QString, menu);
    QFETCH(QString, department);
    QFETCH(QString, key);
    QFETCH(QString, note);

    ModalCatcher catcher;
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    clickRow(1);
    const QString statement = m_window->data1()->recordSource();

    trigger(menu);
    edit(u"SBumon_code"_s)->setText(department);
    enter(u"Search"_s, key);
    QCOMPARE(m_window->data1()->recordSource(), statement);
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QCOMPARE(edit(u"Text1"_s)->text(), u"みかんジュース"_s);
    QVERIFY2(status().contains(note), qPrintable(status()));
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::modeChangeKeepsList()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    edit(u"Search"_s)->setText(u"4901234567801"_s);
    trigger(u"mnusearchJAN"_s);
    QCOMPARE(m_window->findChild<QLabel *>(u"Label2"_s)->text(), u"JAN検索"_s);
    QCOMPARE(grid()->model()->rowCount(), 2);
    // The next Enter uses the new mode; an unclosed bracket is no pattern, and is noted.
    QTest::keyClick(edit(u"Search"_s), Qt::Key_Return);
    QCOMPARE(names(), QStringList{u"みかんジュース"_s});
    trigger(u"mnusearchNAME"_s);
    edit(u"SBumon_code"_s)->clear();
    enter(u"Search"_s, u"[緑茶"_s);
    QVERIFY(status().contains(u"検索条件"_s));
}

void TestSyohinMain::detailPanelAndGrid()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    clickRow(1);
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QCOMPARE(fieldTexts(m_window.get(), 11),
             (QStringList{u"みかんジュース"_s, u"1980"_s, u"90"_s, u"70"_s, u"4901234567801"_s, u"1002"_s, u"24"_s,
                          u"テスト商事"_s, u"130"_s, u"3"_s, u"1"_s}));
    // The record selector marks the current row.
    QVERIFY(!grid()->model()->headerData(1, Qt::Vertical).toString().isEmpty());
    QCOMPARE(grid()->model()->headerData(0, Qt::Vertical).toString(), QString());

}

void TestSyohinMain::leavingTheRecord_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("field");   // the detail field typed into, or "cell" for the grid's price cell
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // the one message when the edit cannot be stored; empty: stored

    const QStringList commands{u"row"_s, u"search"_s, u"open"_s, u"new"_s, u"save as"_s,
                               u"csv"_s, u"close"_s, u"exit"_s};
    // Each command refuses a different kind of edit, so every field's label is seen once.
    const QList<QStringList> refused{
        {u"Text2"_s, u"abc"_s, u"「標準価格」に数値を入力してください。"_s},
        {u"Text3"_s, u"十円"_s, u"「特売価格」に数値を入力してください。"_s},
        {u"Text4"_s, u"abc"_s, u"「原価価格」に数値を入力してください。"_s},
        {u"Text5"_s, QString(), u"「JAN」に"_s},
        {u"Text7"_s, u"40000"_s, u"「発注単位」に"_s},
        {u"Text6"_s, u"x"_s, u"「発注コード」に"_s},
        {u"Text9"_s, u"x"_s, u"「取引コード」に"_s},
        {u"Text10"_s, u"x"_s, u"「部門コード」に"_s},
    };
    for (int i = 0; i < commands.size(); ++i) {
        QTest::addRow("%s, stored", qPrintable(commands[i])) << commands[i] << u"Text2"_s << u"250"_s << QString();
        QTest::addRow("%s, refused", qPrintable(commands[i])) << commands[i] << refused[i][0] << refused[i][1]
                                                              << refused[i][2];
    }
    // A cell editor still open when the command starts hands its text over first.
    QTest::newRow("csv, open cell editor") << u"csv"_s << u"cell"_s << u"250"_s << QString();
    QTest::newRow("row, open cell editor, refused") << u"row"_s << u"cell"_s << u"x"_s << u"「標準価格」に"_s;
    // Deletion drops the edit, even one that could never be stored.
    QTest::newRow("deletion") << u"deletion"_s << u"Text2"_s << u"abc"_s << QString();
}

void TestSyohinMain::leavingTheRecord()
{
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);

    QVERIFY(writeFile(m_folder->filePath(u"database.dft"_s), readFile(m_db)));
    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    QVERIFY(start());
    trigger(u"mnuhelpVersion"_s);
    trigger(u"mnuhelphowto"_s);
    enter(u"SBumon_code"_s, u"3"_s);
    RecordSource *data1 = m_window->data1();
    const QString statement = data1->recordSource();
    const QString catalogue = data1->databaseName();
    const QString stored = edit(field == u"cell"_s ? u"Text2"_s : field)->text();
    if (field == u"cell") {
        const QModelIndex price = data1->index(0, data1->fieldIndex(Field::syohin_master));
        grid()->setFocus();
        grid()->setCurrentIndex(price);
        grid()->edit(price);
        auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText(QString(40000, u'x')); // a cell, like every field, holds long text whole
        QCOMPARE(editor->text().size(), 40000);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, text);
        if (command != u"csv") {
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_COMPARE(edit(u"Text2"_s)->text(), text); // the detail panel shows the cell's edit
        }
        field = u"Text2"_s;
    } else {
        overtype(edit(field), text);
    }
    const QStringList filesBefore = QDir(m_folder->path()).entryList(QDir::Files);
    const QString csv = m_folder->filePath(u"list.csv"_s);

    ModalCatcher catcher;
    const auto run = [&] {
        if (command == u"row") {
            clickRow(1);
        } else if (command == u"search") {
            enter(u"SBumon_code"_s, u"5"_s);
        } else if (command == u"open") {
            m_dialogs->answers.push_back(other);
            trigger(u"mnufileOpen"_s);
        } else if (command == u"new") {
            trigger(u"mnufileNew"_s);
            if (NewDataBase *create = m_window->fileMenu()->newDataBaseWindow()) {
                overtype(lineEdit(create, u"Text1"_s), u"shop"_s);
                click(pushButton(create, u"Command1"_s));
            }
        } else if (command == u"save as") {
            m_dialogs->answers.push_back(m_folder->filePath(u"copy.mdb"_s));
            trigger(u"mnufileSave"_s);
        } else if (command == u"csv") {
            m_dialogs->answers.push_back(csv);
            trigger(u"mnufileCSV"_s);
        } else if (command == u"close") {
            m_window->close();
        } else if (command == u"exit") {
            trigger(u"mnufileExit"_s);
        } else {
            trigger(u"mnusyohinDelete"_s);
        }
    };
    run();

    if (command == u"deletion") {
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(storedMaster(u"りんごジュース"_s), QString());
        QVERIFY(!data1->hasPendingEdits());
        QCOMPARE(edit(u"Text2"_s)->text(), QString());
        clickRow(1); // nothing of the dropped edit comes back
        QCOMPARE(catcher.count(), 0);
        return;
    }
    if (message.isEmpty()) {
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(storedMaster(u"りんごジュース"_s), text);
        const QString current = data1->databaseName();
        QCOMPARE(m_window->windowTitle(), u"Merchalog - "_s + current);
        if (command == u"row")
            QCOMPARE(data1->currentRow(), 1);
        else if (command == u"search")
            QCOMPARE(names(), (QStringList{u"緑茶"_s, u"O'Brien's Tea"_s}));
        else if (command == u"open")
            QCOMPARE(current, other);
        else if (command == u"new")
            QCOMPARE(current, m_folder->filePath(u"shop.mdb"_s));
        else if (command == u"save as")
            QCOMPARE(sqlValue(current, u"select count(*) from syohin where syohin_master=2500000"_s).toInt(), 1);
        else if (command == u"csv")
            QVERIFY(readFile(csv).contains(",250,"));
        else
            QVERIFY(!m_window->isVisible());
        // Exit ends the other windows.
        QCOMPARE(!m_window->versionWindow() && !m_window->helpWindow(), command == u"exit");
        return;
    }
    // Refused: one message naming the field, and nothing else happened.
    QTRY_COMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    QVERIFY2(catcher.lastText().startsWith(message), qPrintable(catcher.lastText()));
    QCOMPARE(data1->recordSource(), statement);
    QCOMPARE(data1->databaseName(), catalogue);
    QCOMPARE(data1->currentRow(), 0);
    QTRY_COMPARE(grid()->currentIndex().row(), 0);
    QCOMPARE(edit(field)->text(), text);
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"198"_s);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), filesBefore);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->versionWindow() && m_window->helpWindow());

    // Esc puts the stored value back; then the command goes through.
    edit(field)->setFocus();
    QTest::keyClick(edit(field), Qt::Key_Escape);
    QCOMPARE(edit(field)->text(), stored);
    run();
    QCOMPARE(catcher.count(), 1);
}

void TestSyohinMain::deletion()
{
    ModalCatcher catcher;
    QVERIFY(start());
    trigger(u"mnusyohinDelete"_s); // nothing listed: nothing to delete
    enter(u"SBumon_code"_s, u"3"_s);
    clickRow(1);
    trigger(u"mnusyohinDelete"_s);
    // The deleted row leaves the list; nothing is current, so a second press does nothing.
    QCOMPARE(names(), QStringList{u"りんごジュース"_s});
    QTRY_COMPARE(status(), u"1件"_s); // the search's count follows
    QVERIFY(!m_window->data1()->hasCurrentRecord());
    QCOMPARE(edit(u"Text1"_s)->text(), QString());
    trigger(u"mnusyohinDelete"_s);
    QCOMPARE(sqlValue(m_db, u"select count(*) from syohin"_s).toInt(), 4);
    // Choosing a row makes deletion work again.
    clickRow(0);
    trigger(u"mnusyohinDelete"_s);
    QCOMPARE(sqlValue(m_db, u"select count(*) from syohin"_s).toInt(), 3);
    // A product being added is abandoned, never deleted.
    RecordSource *data1 = m_window->data1();
    QVERIFY(data1->addNew());
    QVERIFY(data1->setText(Field::syohin_mei, u"追加中"_s));
    QVERIFY(!deleteCurrentProduct(data1, m_window.get()));
    QCOMPARE(data1->editMode(), EditMode::None);
    QCOMPARE(sqlValue(m_db, u"select count(*) from syohin"_s).toInt(), 3);
    QCOMPARE(catcher.count(), 0);
}

QWidget *TestSyohinMain::prepareWrite(const QString &action, bool open)
{
    if (open)
        trigger(action);
    if (auto *w = openWindow<Newsyohin>()) {
        typeAndEnter(lineEdit(w, u"Text16"_s), u"120"_s);
        fill(w, {u"緑茶"_s, u"100"_s, u"90"_s, u"70"_s, u"4901234567894"_s, u"1001"_s, u"12"_s});
        lineEdit(w, u"Text14"_s)->setText(u"3"_s);
        lineEdit(w, u"Text15"_s)->setText(u"1"_s);
        return w;
    }
    if (auto *w = openWindow<NEWtorihiki>()) {
        fill(w, {u"山田物産"_s, u"大阪"_s, u"06"_s, u"130"_s, u"530"_s});
        return w;
    }
    QWidget *w = openWindow<Chagetorihiki>();
    if (!w)
        w = openWindow<Deletetorihiki>();
    typeAndEnter(lineEdit(w, u"Text6"_s), u"120"_s);
    if (action == u"mnutorihikiChange")
        overtype(lineEdit(w, u"Text3"_s), u"000"_s);
    return w;
}

void TestSyohinMain::writeRefused_data()
{
    QTest::addColumn<QString>("window"); // its menu entry, or the main window's "edit"
    QTest::addColumn<QString>("cause");  // "immutable", "busy" (another program holds it) or "moved"

    for (const QString &window : {u"mnusyohinNEW"_s, u"mnutorihikiNEW"_s, u"mnutorihikiDelete"_s, u"edit"_s,
                                  u"mnusyohinDelete"_s}) {
        for (const QString &cause : {u"immutable"_s, u"busy"_s})
            QTest::addRow("%s, %s", qPrintable(window), qPrintable(cause)) << window << cause;
    }
    QTest::newRow("edit, moved") << u"edit"_s << u"moved"_s;
    QTest::newRow("mnusyohinDelete, moved") << u"mnusyohinDelete"_s << u"moved"_s;
}

void TestSyohinMain::writeRefused()
{
    QFETCH(QString, window);
    QFETCH(QString, cause);

    QVERIFY(insertSupplier(m_db, {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    QVERIFY(start());
    const bool deletion = window.endsWith(u"Delete"_s);
    QLineEdit *kept = nullptr; // a field that keeps what was typed or looked up
    std::function<void()> run;
    if (window == u"edit" || window == u"mnusyohinDelete") {
        enter(u"SBumon_code"_s, u"3"_s);
        kept = edit(window == u"edit" ? u"Text2"_s : u"Text1"_s);
        overtype(kept, window == u"edit" ? u"500"_s : kept->text());
        run = [this, window] { window == u"edit" ? clickRow(1) : trigger(window); };
    } else {
        QWidget *w = prepareWrite(window);
        kept = lineEdit(w, u"Text1"_s);
        run = [w] { click(pushButton(w, u"Command1"_s)); };
    }
    const QString typed = kept->text();

    // Immutable holds even against root (our CI runs as root, where permissions are not enforced).
    QString path = m_db;
    const auto before = querySql(path, u"select * from torihiki"_s);
    const auto productsBefore = productsIn(path);
    sqlite3 *other = nullptr;
    const auto restore = qScopeGuard([&] {
        sqlite3_close(other);
        if (cause == u"immutable")
            QProcess::execute(u"chattr"_s, {u"-i"_s, m_db});
    });
    if (cause == u"immutable" && QProcess::execute(u"chattr"_s, {u"+i"_s, path}) != 0)
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    if (cause == u"busy") {
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_busy_timeout((*Connection::open(path))->handle(), 10);
    } else if (cause == u"moved") {
        QVERIFY(QFile::rename(path, path + u".moved"_s));
        path += u".moved"_s;
    }
    ModalCatcher catcher;
    run();
    sqlite3_close(std::exchange(other, nullptr));
    QTRY_COMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    // The message names the catalogue that refused the change and why; a busy one also says
    // that what was typed is kept, where something was typed.
    const QString text = catcher.lastText();
    const QString reason = cause == u"busy" ? u"使用中"_s : cause == u"moved" ? u"移動または削除"_s : u"書き込みが許されていません"_s;
    QVERIFY2(text.contains(QDir::toNativeSeparators(m_db)) && text.contains(reason), qPrintable(text));
    QVERIFY(!deletion || text.startsWith(u"削除できませんでした: "_s));
    QCOMPARE(text.contains(u"入力した内容はそのまま残っています。"_s), cause == u"busy" && !deletion);
    QCOMPARE(querySql(path, u"select * from torihiki"_s), before);
    QCOMPARE(productsIn(path), productsBefore);
    QCOMPARE(kept->text(), typed);
}

void TestSyohinMain::windowsFollowCurrentCatalogue_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("query"); // on the catalogue opened, after the window's write: 1
    QTest::addColumn<bool>("openedBefore"); // the window was open when the catalogue changed

    const QStringList windows{u"mnusyohinNEW"_s, u"mnutorihikiNEW"_s, u"mnutorihikiChange"_s, u"mnutorihikiDelete"_s};
    const QStringList queries{u"select count(*) from syohin where syohin_torihiki = '新世界商事'"_s,
                              u"select count(*) = 2 from torihiki"_s,
                              u"select count(*) from torihiki where torihiki_tel = '000'"_s,
                              u"select count(*) = 0 from torihiki"_s};
    for (int i = 0; i < windows.size(); ++i) {
        QTest::addRow("%s, opened before", qPrintable(windows[i])) << windows[i] << queries[i] << true;
        QTest::addRow("%s, opened after", qPrintable(windows[i])) << windows[i] << queries[i] << false;
    }
}

void TestSyohinMain::windowsFollowCurrentCatalogue()
{
    QFETCH(QString, window);
    QFETCH(QString, query);
    QFETCH(bool, openedBefore);

    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    QVERIFY(insertSupplier(m_db, {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    QVERIFY(insertSupplier(other, {u"新世界商事"_s, u"札幌市"_s, u"011"_s, u"120"_s, u"060"_s}));
    const auto before = querySql(m_db, u"select * from torihiki"_s);
    QVERIFY(start());
    if (openedBefore)
        trigger(window);
    m_dialogs->answers.push_back(other);
    trigger(u"mnufileOpen"_s);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), other);

    ModalCatcher catcher;
    click(pushButton(prepareWrite(window, !openedBefore), u"Command1"_s));
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(sqlValue(other, query).toInt(), 1);
    QCOMPARE(querySql(m_db, u"select * from torihiki"_s), before);
    QCOMPARE(productsIn(m_db).size(), 5);
}

void TestSyohinMain::otherWindowsOpenOnce()
{
    QVERIFY(start());
    const QStringList actions{u"mnusyohinNEW"_s, u"mnutorihikiNEW"_s, u"mnutorihikiChange"_s, u"mnutorihikiDelete"_s,
                              u"mnuhelphowto"_s, u"mnuhelpVersion"_s, u"mnufileNew"_s};
    for (const QString &action : actions) {
        const QWidgetList before = QApplication::topLevelWidgets();
        trigger(action);
        QWidget *opened = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!before.contains(w) && w->isVisible())
                opened = w;
        }
        QVERIFY2(opened, qPrintable(action));
        // A second choice raises the open window, even a minimized one, and opens no other.
        opened->showMinimized();
        trigger(action);
        QCOMPARE(QApplication::topLevelWidgets().size(), before.size() + 1);
        QVERIFY2(!opened->isMinimized(), qPrintable(action));
        // Independent of the main window, but for the catalogue creation dialog.
        QCOMPARE(!opened->parentWidget(), action != u"mnufileNew");
    }

    // In every window each field holds long text whole, and every control and caption fits
    // (tests/CMakeLists.txt runs this again on a denser screen).
    const QString longText(40000, u'長');
    for (QWidget *w : QApplication::topLevelWidgets()) {
        for (QLineEdit *field : w->findChildren<QLineEdit *>()) {
            field->setText(longText);
            QVERIFY2(field->text() == longText, qPrintable(field->objectName()));
        }
        for (QWidget *control : w->findChildren<QWidget *>()) {
            if (!w->isVisible() || control->isWindow() || !control->isVisibleTo(w))
                continue;
            const auto *label = qobject_cast<QLabel *>(control);
            const auto *button = qobject_cast<QAbstractButton *>(control);
            const QString caption = label && !label->wordWrap() ? label->text() : button ? button->text().remove(u'&') : QString();
            QVERIFY2(w->rect().contains(QRect(control->mapTo(w, QPoint()), control->size()))
                         && control->fontMetrics().horizontalAdvance(caption) <= control->width() + 2,
                     qPrintable(control->objectName()));
        }
    }
    // They all end with the main window.
    m_window.reset();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), w->metaObject()->className());
}

QTEST_MAIN(TestSyohinMain)
#include "tst_syohinmain.moc"
