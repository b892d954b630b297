#include "mainwindow.h"
#include "windowsupport.h"

#include "app/filemenu.h"
#include "app/syohin_main.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "windows/files/newdatabase.h"
#include "windows/help/helphowto.h"
#include "windows/help/howtomerch.h"
#include "windows/help/version.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString listed = u"select * from syohin where syohin_JAN<>-99 and "_s;

} // namespace

class TestSyohinMain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startUpGuide_data();
    void startUpGuide();
    void startUpWithoutCatalogue();

    void search_data();
    void search();
    void barcodeScannerFindsProduct();
    void bothFieldsEmptyDoesNothing();
    void failedSearchChangesNothing_data();
    void failedSearchChangesNothing();
    void rejectedPatternIsNoted();
    void modeChangeKeepsList();

    void clickingRowFillsDetail();
    void detailEditStoredOnRowChange();
    void invalidDetailEditIsRefused_data();
    void invalidDetailEditIsRefused();
    void invalidEditStopsSearch();
    void gridCellEdit();
    void gridRefusesDeleteKey();
    void unwritableCatalogueReportsEdit();

    void exitEndsOtherWindows();
    void closeStoresEdit();
    void exitRefusedWhileEditInvalid();
    void otherWindowsOpenOnce();

private:
    bool start(const QByteArray *howto = nullptr);
    QLineEdit *edit(const QString &name) const { return lineEdit(m_window.get(), name); }
    QTableView *grid() const { return m_window->findChild<QTableView *>(u"DBGrid1"_s); }
    QStringList names() const { return listedNames(m_window->data1()); }
    QString caption() const { return m_window->findChild<QLabel *>(u"Label2"_s)->text(); }
    QString status() const { return m_window->statusBar()->currentMessage(); }
    void enter(const QString &field, const QString &text);
    void trigger(const QString &action) { Test::trigger(m_window.get(), action); }
    void clickRow(int row) { Test::clickRow(grid(), row); }
    QString storedMaster(const QString &name) const;

    std::unique_ptr<TestFolder> m_folder;
    QString m_db;
    std::unique_ptr<Syohin_Main> m_window;
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
             Product{.mei = u"  "_s, .jan = u"4904444444444"_s, .torihikicode = u"150"_s, .bumon = u"7"_s},
             Product{.mei = u"りんごジュース"_s, .master = u"198"_s, .jan = u"-99"_s, .eos = u"1001"_s}})
        QVERIFY(insertProduct(m_db, product));
}

void TestSyohinMain::cleanup()
{
    m_window.reset();
    m_folder.reset();
}

bool TestSyohinMain::start(const QByteArray *howto)
{
    if (howto && !writeFile(m_folder->filePath(u"howto.num"_s), *howto))
        return false;
    m_window = startMain();
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

void TestSyohinMain::startUpGuide_data()
{
    QTest::addColumn<bool>("writeFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("guide");

    // The file's forms are read by HowtoSetting (tst_help); these follow them to the window.
    QTest::newRow("0 then more lines") << true << "0\r\n1\r\n"_ba << true;
    QTest::newRow("1") << true << "1\r\n"_ba << false;
    QTest::newRow("letters") << true << "abc"_ba << false;
    QTest::newRow("missing") << false << QByteArray() << false;
}

void TestSyohinMain::startUpGuide()
{
    QFETCH(bool, writeFile);
    QFETCH(QByteArray, content);
    QFETCH(bool, guide);

    ModalCatcher catcher;
    QVERIFY(start(writeFile ? &content : nullptr));
    QCOMPARE(m_window->startUpGuide() != nullptr, guide);
    if (guide)
        QVERIFY(m_window->startUpGuide()->isVisible());

    // The rest of the window is complete either way: a catalogue with products starts with
    // an empty list and a blank detail panel.
    QCOMPARE(m_window->windowTitle(), u"Merchalog - database.mdb"_s);
    QCOMPARE(m_window->fileMenu()->catalogueFileName(), u"database.mdb"_s);
    QCOMPARE(m_window->data1()->recordSource(), QString(SqlText::emptyProductView));
    QCOMPARE(grid()->model()->rowCount(), 0);
    QCOMPARE(grid()->model()->columnCount(), 11);
    QCOMPARE(fieldTexts(m_window.get(), 11), QStringList(11));
    QCOMPARE(edit(u"SBumon_code"_s)->text() + edit(u"Search"_s)->text(), QString());
    QCOMPARE(caption(), u"商品名検索"_s);
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::startUpWithoutCatalogue()
{
    QVERIFY(QFile::remove(m_db));
    // Steps before opening are done; the guide is skipped; only the status bar tells.
    const QByteArray zero = "0";
    ModalCatcher catcher;
    QVERIFY(start(&zero));
    QCOMPARE(m_window->windowTitle(), u"Merchalog - database.mdb"_s);
    QCOMPARE(m_window->fileMenu()->catalogueFileName(), u"database.mdb"_s);
    QVERIFY(!m_window->startUpGuide());
    QCOMPARE(grid()->model()->rowCount(), 0);
    QVERIFY(status().contains(u"database.mdb"_s));
    QCOMPARE(catcher.count(), 0);
    // Opening never creates the file.
    QVERIFY(!QFile::exists(m_db));
}

void TestSyohinMain::search_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QStringList>("found");

    // The statements for every mode and input are checked in tst_searchtext; these rows follow
    // one of each behaviour through the window to the listed products.
    const QString dept3 = listed + u"bumon_code like 3"_s;
    const QStringList dept3Names{u"りんごジュース"_s, u"みかんジュース"_s};
    QTest::newRow("department, any mode") << u"mnusearchEOS"_s << u"03"_s << QString() << dept3 << dept3Names;
    QTest::newRow("name both") << u"mnusearchNAME"_s << u"5"_s << u"緑茶"_s
                               << listed + u"bumon_code like 5 and syohin_mei like '緑茶'"_s << QStringList{u"緑茶"_s};
    QTest::newRow("name plain matches whole name only") << u"mnusearchNAME"_s << QString() << u"ジュース"_s
                                                        << listed + u"syohin_mei like 'ジュース'"_s << QStringList();
    // Wildcards, folding kana and width as the like comparison does.
    QTest::newRow("name wildcard, folded") << u"mnusearchNAME"_s << QString() << u"*じゅーｽ"_s
                                           << listed + u"syohin_mei like '*じゅーｽ'"_s << dept3Names;
    QTest::newRow("name with quote") << u"mnusearchNAME"_s << QString() << u"O'Brien's Tea"_s
                                     << listed + u"syohin_mei like 'O''Brien''s Tea'"_s << QStringList{u"O'Brien's Tea"_s};
    QTest::newRow("supplier") << u"mnusearchTORIHIKI"_s << QString() << u"0120"_s
                              << listed + u"syohin_torihikicode like 120"_s << QStringList{u"りんごジュース"_s, u"緑茶"_s};
    QTest::newRow("price both") << u"mnusearchPRICE"_s << u"03"_s << u"1,980"_s
                                << dept3 + u" and syohin_master like 1980"_s << QStringList{u"みかんジュース"_s};
    QTest::newRow("jan") << u"mnusearchJAN"_s << QString() << u"4902222222222"_s
                         << listed + u"syohin_JAN like 4902222222222"_s << QStringList{u"緑茶"_s};
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
    for (const QString &field : {u"SBumon_code"_s, u"Search"_s}) {
        // Start each round from the empty view, so both rounds must fill the list.
        m_window->data1()->setRecordSource(QString(SqlText::emptyProductView));
        QVERIFY(m_window->data1()->refresh());
        edit(u"SBumon_code"_s)->setText(department);
        edit(u"Search"_s)->setText(key);
        QTest::keyClick(edit(field), Qt::Key_Return);

        QCOMPARE(m_window->data1()->recordSource(), statement);
        QCOMPARE(names(), found);
        QCOMPARE(status(), u"%1件"_s.arg(found.size()));
        // The first product is current and shown; with none the detail panel is blank.
        QCOMPARE(edit(u"Text1"_s)->text(), found.value(0));
        QCOMPARE(grid()->currentIndex().row(), found.isEmpty() ? -1 : 0);
        // The entry fields keep what was typed.
        QCOMPARE(edit(u"SBumon_code"_s)->text(), department);
        QCOMPARE(edit(u"Search"_s)->text(), key);
    }
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::barcodeScannerFindsProduct()
{
    // A scanner types the digits as key presses and ends with Enter (often the keypad's).
    QVERIFY(start());
    trigger(u"mnusearchJAN"_s);
    edit(u"Search"_s)->setFocus();
    QTest::keyClicks(edit(u"Search"_s), u"4902222222222"_s);
    QTest::keyClick(edit(u"Search"_s), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(names(), QStringList{u"緑茶"_s});
    QCOMPARE(edit(u"Text5"_s)->text(), u"4902222222222"_s);
}

void TestSyohinMain::bothFieldsEmptyDoesNothing()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    QCOMPARE(grid()->model()->rowCount(), 2);
    const QString statement = m_window->data1()->recordSource();
    edit(u"SBumon_code"_s)->clear();
    enter(u"Search"_s, QString());
    enter(u"SBumon_code"_s, QString());
    QCOMPARE(m_window->data1()->recordSource(), statement);
    QCOMPARE(grid()->model()->rowCount(), 2);
    QCOMPARE(edit(u"Text1"_s)->text(), u"りんごジュース"_s);
}

void TestSyohinMain::failedSearchChangesNothing_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");

    QTest::newRow("department letters") << u"mnusearchNAME"_s << u"A1"_s << QString();
    QTest::newRow("department blanks with key") << u"mnusearchNAME"_s << u" "_s << u"緑茶"_s;
    QTest::newRow("price letters") << u"mnusearchPRICE"_s << QString() << u"abc"_s;
    QTest::newRow("eos question mark") << u"mnusearchEOS"_s << u"3"_s << u"10?1"_s;
}

void TestSyohinMain::failedSearchChangesNothing()
{
    QFETCH(QString, menu);
    QFETCH(QString, department);
    QFETCH(QString, key);

    ModalCatcher catcher;
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    clickRow(1);
    const QString statement = m_window->data1()->recordSource();

    trigger(menu);
    edit(u"SBumon_code"_s)->setText(department);
    enter(u"Search"_s, key);

    QCOMPARE(m_window->data1()->recordSource(), statement);
    QCOMPARE(names(), (QStringList{u"りんごジュース"_s, u"みかんジュース"_s}));
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QCOMPARE(edit(u"Text1"_s)->text(), u"みかんジュース"_s);
    QVERIFY(!status().isEmpty());
    QVERIFY(!status().endsWith(u"件"_s));
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::rejectedPatternIsNoted()
{
    ModalCatcher catcher;
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"5"_s);
    QCOMPARE(grid()->model()->rowCount(), 2);
    edit(u"SBumon_code"_s)->clear();
    // An unclosed bracket is not a pattern.
    enter(u"Search"_s, u"[緑茶"_s);
    QCOMPARE(m_window->data1()->recordSource(), listed + u"syohin_mei like '[緑茶'"_s);
    QVERIFY(status().contains(u"検索条件"_s));
    QCOMPARE(catcher.count(), 0);
}

void TestSyohinMain::modeChangeKeepsList()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    edit(u"Search"_s)->setText(u"4901234567801"_s);
    const QString statement = m_window->data1()->recordSource();

    trigger(u"mnusearchJAN"_s);
    QCOMPARE(caption(), u"JAN検索"_s);
    QCOMPARE(m_window->data1()->recordSource(), statement);
    QCOMPARE(grid()->model()->rowCount(), 2);
    QCOMPARE(edit(u"Search"_s)->text(), u"4901234567801"_s);

    // The next Enter uses the new mode.
    QTest::keyClick(edit(u"Search"_s), Qt::Key_Return);
    QCOMPARE(names(), QStringList{u"みかんジュース"_s});
}

void TestSyohinMain::clickingRowFillsDetail()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    QCOMPARE(edit(u"Text1"_s)->text(), u"りんごジュース"_s);
    clickRow(1);
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QCOMPARE(fieldTexts(m_window.get(), 11),
             (QStringList{u"みかんジュース"_s, u"1980"_s, u"90"_s, u"70"_s, u"4901234567801"_s, u"1002"_s, u"24"_s,
                          u"テスト商事"_s, u"130"_s, u"3"_s, u"1"_s}));
    // The record selector marks the current row.
    QCOMPARE(grid()->model()->headerData(1, Qt::Vertical).toString().isEmpty(), false);
    QCOMPARE(grid()->model()->headerData(0, Qt::Vertical).toString(), QString());
}

void TestSyohinMain::detailEditStoredOnRowChange()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    overtype(edit(u"Text2"_s), u"250"_s);
    overtype(edit(u"Text1"_s), u"りんごジュース大"_s);
    // Nothing is stored while the product is current.
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"198"_s);
    clickRow(1);
    QCOMPARE(storedMaster(u"りんごジュース大"_s), u"250"_s);

    // A new search shows the stored product.
    trigger(u"mnusearchPRICE"_s);
    edit(u"SBumon_code"_s)->clear();
    enter(u"Search"_s, u"250"_s);
    QCOMPARE(names(), QStringList{u"りんごジュース大"_s});
    QCOMPARE(edit(u"Text2"_s)->text(), u"250"_s);
}

void TestSyohinMain::invalidDetailEditIsRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("label");

    QTest::newRow("letters in a price") << u"Text2"_s << u"abc"_s << u"標準価格"_s;
    QTest::newRow("order unit too large") << u"Text7"_s << u"40000"_s << u"発注単位"_s;
    QTest::newRow("cleared JAN") << u"Text5"_s << QString() << u"JAN"_s;
}

void TestSyohinMain::invalidDetailEditIsRefused()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, label);

    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    const QString stored = edit(field)->text();
    overtype(edit(field), text);

    ModalCatcher catcher;
    clickRow(1);
    QTRY_COMPARE(catcher.count(), 1);
    const auto seen = catcher.seen().constFirst();
    QCOMPARE(seen.title, u"Merchalog"_s);
    QVERIFY2(seen.text.startsWith(u"「%1」に"_s.arg(label)), qPrintable(seen.text));
    QCOMPARE(seen.buttons.size(), 1);
    // The product stays current, in the grid too, and the field keeps the text.
    QCOMPARE(m_window->data1()->currentRow(), 0);
    QTRY_COMPARE(grid()->currentIndex().row(), 0);
    QCOMPARE(edit(field)->text(), text);
    QCOMPARE(edit(u"Text1"_s)->text(), u"りんごジュース"_s);
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"198"_s);

    // Esc puts the stored value back; then the product can be left.
    edit(field)->setFocus();
    QTest::keyClick(edit(field), Qt::Key_Escape);
    QCOMPARE(edit(field)->text(), stored);
    clickRow(1);
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QCOMPARE(catcher.count(), 1);
}

void TestSyohinMain::invalidEditStopsSearch()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    const QString statement = m_window->data1()->recordSource();
    overtype(edit(u"Text3"_s), u"十円"_s);
    ModalCatcher catcher;
    enter(u"SBumon_code"_s, u"5"_s);
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"「特売価格」に数値を入力してください。"_s);
    QCOMPARE(m_window->data1()->recordSource(), statement);
    QCOMPARE(edit(u"Text3"_s)->text(), u"十円"_s);
    QTRY_COMPARE(m_window->focusWidget(), edit(u"Text3"_s));
}

void TestSyohinMain::gridCellEdit()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    RecordSource *data1 = m_window->data1();
    const QModelIndex price = data1->index(0, data1->fieldIndex(Field::syohin_master));
    grid()->setFocus();
    grid()->setCurrentIndex(price);
    grid()->edit(price);
    QWidget *editor = QApplication::focusWidget();
    QVERIFY(editor && editor != grid());
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, u"777"_s);
    QTest::keyClick(editor, Qt::Key_Return);
    // The cell and the detail panel show the same pending edit.
    QTRY_COMPARE(edit(u"Text2"_s)->text(), u"777"_s);
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"198"_s);
    clickRow(1);
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"777"_s);

    // A cell edit that does not fit is refused like a detail edit.
    const QModelIndex unit = data1->index(1, data1->fieldIndex(Field::syohin_EOStani));
    grid()->setCurrentIndex(unit);
    grid()->edit(unit);
    editor = QApplication::focusWidget();
    // A cell editor, like every field, holds long text whole.
    qobject_cast<QLineEdit *>(editor)->setText(QString(40000, u'x'));
    QCOMPARE(qobject_cast<QLineEdit *>(editor)->text().size(), 40000);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, u"x"_s);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(edit(u"Text7"_s)->text(), u"x"_s);
    ModalCatcher catcher;
    clickRow(0);
    QTRY_COMPARE(catcher.count(), 1);
    QVERIFY(catcher.lastText().contains(u"発注単位"_s));
    QCOMPARE(data1->currentRow(), 1);
    QTRY_COMPARE(grid()->currentIndex().row(), 1);
}

void TestSyohinMain::gridRefusesDeleteKey()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Delete);
    QTest::keyClick(grid(), Qt::Key_Down);
    QTest::keyClick(grid(), Qt::Key_Delete);
    // No row removed, nothing edited, no new-record row.
    QCOMPARE(grid()->model()->rowCount(), 2);
    QCOMPARE(m_window->data1()->currentRow(), 1);
    QVERIFY(!m_window->data1()->hasPendingEdits());
    QCOMPARE(sqlValue(m_db, u"select count(*) from syohin"_s).toInt(), 6);
    QCOMPARE(edit(u"Text1"_s)->text(), u"みかんジュース"_s);
}

void TestSyohinMain::unwritableCatalogueReportsEdit()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    overtype(edit(u"Text2"_s), u"500"_s);
    // The file goes away under the program: the edit cannot be written.
    QVERIFY(QFile::rename(m_db, m_db + u".moved"_s));
    ModalCatcher catcher;
    clickRow(1);
    QTRY_COMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    QVERIFY(!catcher.lastText().isEmpty());
    QCOMPARE(edit(u"Text2"_s)->text(), u"500"_s);
}

void TestSyohinMain::exitEndsOtherWindows()
{
    QVERIFY(start());
    trigger(u"mnuhelphowto"_s);
    trigger(u"mnuhelpVersion"_s);
    QPointer<QWidget> help = m_window->helpWindow();
    QPointer<QWidget> version = m_window->versionWindow();
    QVERIFY(help && version);
    enter(u"SBumon_code"_s, u"3"_s);
    overtype(edit(u"Text2"_s), u"222"_s);

    ModalCatcher catcher;
    trigger(u"mnufileExit"_s);
    QVERIFY(!help);
    QVERIFY(!version);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(catcher.count(), 0);
    // Nothing typed is lost.
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"222"_s);
}

void TestSyohinMain::closeStoresEdit()
{
    QVERIFY(start());
    enter(u"SBumon_code"_s, u"3"_s);
    overtype(edit(u"Text2"_s), u"333"_s);
    QVERIFY(m_window->close());
    QCOMPARE(storedMaster(u"りんごジュース"_s), u"333"_s);
}

void TestSyohinMain::exitRefusedWhileEditInvalid()
{
    QVERIFY(start());
    trigger(u"mnuhelpVersion"_s);
    enter(u"SBumon_code"_s, u"3"_s);
    overtype(edit(u"Text4"_s), u"abc"_s);
    ModalCatcher catcher;
    trigger(u"mnufileExit"_s);
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"「原価価格」に数値を入力してください。"_s);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->versionWindow());
    // Closing the window is refused the same way.
    QVERIFY(!m_window->close());
    QCOMPARE(catcher.count(), 2);
    QVERIFY(m_window->isVisible());
}

void TestSyohinMain::otherWindowsOpenOnce()
{
    QVERIFY(start());
    for (const QString &action : {u"mnusyohinNEW"_s, u"mnutorihikiNEW"_s, u"mnutorihikiChange"_s,
                                  u"mnutorihikiDelete"_s, u"mnufileNew"_s}) {
        const int before = QApplication::topLevelWidgets().size();
        trigger(action);
        const int afterFirst = QApplication::topLevelWidgets().size();
        QCOMPARE(afterFirst, before + 1);
        trigger(action);
        QCOMPARE(QApplication::topLevelWidgets().size(), afterFirst);
    }
    // They are independent windows, and end with the main window.
    int independent = 0;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w != m_window.get() && w->isVisible() && !w->parentWidget())
            ++independent;
    }
    QCOMPARE(independent, 4);

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
    m_window.reset();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), w->metaObject()->className());
}

QTEST_MAIN(TestSyohinMain)
#include "tst_syohinmain.moc"
