// The file menu: creating a catalogue from the template, opening, saving as, exporting CSV
// through the remembered dialog names, and printing. File dialogs are replaced by a script.
#include "scripteddialogs.h"
#include "windowsupport.h"

#include "app/filemenu.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "ui/appfolder.h"
#include "ui/fieldbinder.h"
#include "windows/files/newdatabase.h"

#include <QDir>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSignalSpy>
#include <QTest>

#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Every entry below a folder with its bytes (folders and links marked), to see that nothing changed.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (info.isSymLink())
            entries.insert(info.fileName(), "link to " + info.symLinkTarget().toUtf8());
        else if (info.isDir())
            entries.insert(info.fileName(), "folder of " + QByteArray::number(QDir(info.filePath()).count()));
        else
            entries.insert(info.fileName(), readFile(info.filePath()));
    }
    return entries;
}

} // namespace

class TestFileMenu final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void create_data();
    void create();
    void open();
    void openUnreadable_data();
    void openUnreadable();
    void saveAs();
    void csvExport();
    void writeRefused_data();
    void writeRefused();
    void printing();

private:
    QPointer<NewDataBase> createNamed(const QString &name);
    void verifyStillOnStart();

    std::unique_ptr<TestFolder> m_folder;
    QString m_appFolder;
    QString m_template;
    QString m_start;
    QWidget *m_main = nullptr;
    RecordSource *m_data1 = nullptr;
    FileMenu *m_files = nullptr;
    ScriptedDialogs *m_dialogs = nullptr;
};

void TestFileMenu::init()
{
    // The start catalogue in the folder; the application folder, with the template, below it.
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    m_appFolder = m_folder->filePath(u"app"_s);
    QVERIFY(QDir().mkdir(m_appFolder));
    AppFolder::setPathOverride(m_appFolder);
    m_template = m_appFolder + u"/database.dft"_s;
    QVERIFY(makeCatalogue(m_template));
    QVERIFY(insertProduct(m_template, {.mei = u"見本商品"_s}));
    QVERIFY(insertProduct(m_template, {.mei = u"予約行"_s, .jan = u"-99"_s}));

    m_start = m_folder->catalogue();
    QVERIFY(insertProduct(m_start, {.mei = u"りんご"_s}));
    QVERIFY(insertProduct(m_start, {.mei = u"みかん"_s}));
    CurrentCatalogue::instance().setDatabaseName(m_start);

    m_main = new QWidget;
    m_data1 = new RecordSource(m_main);
    m_data1->setRecordSource(QString(SqlText::allProducts));
    QVERIFY(m_data1->refresh());
    m_files = new FileMenu(m_main, m_data1, new FieldBinder(m_data1, m_main), m_main);
    m_files->setCatalogueFileName(m_data1->databaseName());
    m_dialogs = ScriptedDialogs::install(m_files);
}

void TestFileMenu::cleanup()
{
    delete m_main;
    m_main = nullptr;
    flushDeletes();
    m_folder.reset();
}

QPointer<NewDataBase> TestFileMenu::createNamed(const QString &name)
{
    m_files->newDatabase();
    QPointer<NewDataBase> window = m_files->newDataBaseWindow();
    if (!window)
        return window;
    overtype(lineEdit(window, u"Text1"_s), name);
    click(pushButton(window, u"Command1"_s));
    flushDeletes();
    return window;
}

// Nothing switched: every record source and the dialog name stay on the start catalogue.
void TestFileMenu::verifyStillOnStart()
{
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_files->catalogueFileName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
}

void TestFileMenu::create_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result"); // the file made in the application folder (…mdb), or part of the one message
    QTest::addColumn<bool>("windowStays");

    QTest::newRow("plain") << QString() << u"shop"_s << u"shop.mdb"_s << false;
    QTest::newRow("with mdb") << QString() << u"shop.mdb"_s << u"shop.mdb"_s << false;
    QTest::newRow("upper case MDB") << QString() << u"shop.MDB"_s << u"shop.MDB.mdb"_s << false;
    QTest::newRow("mdb alone") << QString() << u"mdb"_s << u"mdb"_s << false;
    QTest::newRow("blanks kept") << QString() << u" shop "_s << u" shop .mdb"_s << false;
    const QString exists = u"そのファイルはすでに存在しています"_s;
    const QString folder = u"ファイル名に「/」「\\」は使えません。また「.」「..」は名前にできません。"_s;
    QTest::newRow("empty name") << QString() << QString() << u"ファイル名を入力してください"_s << true;
    QTest::newRow("existing, typed without extension") << u"file"_s << u"shop"_s << exists << false;
    QTest::newRow("existing folder") << u"folder"_s << u"shop"_s << exists << false;
    QTest::newRow("existing dangling link") << u"link"_s << u"shop"_s << exists << false;
    QTest::newRow("the open catalogue") << u"open"_s << u"shop"_s << exists << false;
    QTest::newRow("other folder: ../evil") << QString() << u"../evil"_s << folder << true;
    QTest::newRow("other folder: absolute") << QString() << u"/tmp/merchalog-evil"_s << folder << true;
    QTest::newRow("other folder: ..") << QString() << u".."_s << folder << true;
    QTest::newRow("no template") << u"no template"_s << u"shop"_s << u"database.dft が見つかりません"_s << true;
}

void TestFileMenu::create()
{
    QFETCH(QString, setup);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(bool, windowStays);

    const QString shop = m_appFolder + u"/shop.mdb"_s;
    if (setup == u"file")
        QVERIFY(writeFile(shop, "not a catalogue"));
    else if (setup == u"folder")
        QVERIFY(QDir(m_appFolder).mkdir(u"shop.mdb"_s));
    else if (setup == u"link")
        QVERIFY(QFile::link(m_folder->filePath(u"nowhere.mdb"_s), shop));
    else if (setup == u"no template")
        QVERIFY(QFile::remove(m_template));
    if (setup == u"open") {
        QVERIFY(QFile::copy(m_start, shop));
        m_dialogs->answers.push_back(shop);
        m_files->openCatalogue();
        QCOMPARE(m_data1->databaseName(), shop);
    }
    const QString current = m_data1->databaseName();
    const auto before = snapshot(m_appFolder);
    const auto rootBefore = snapshot(m_folder->path());

    ModalCatcher catcher;
    const QPointer<NewDataBase> window = createNamed(typed);
    QCOMPARE(window && window->isVisible(), windowStays);
    if (result.endsWith(u"mdb"_s)) {
        // Made from the template, and every window's catalogue.
        const QString created = m_appFolder + u'/' + result;
        QCOMPARE(catcher.count(), 0);
        QCOMPARE(readFile(created), readFile(m_template));
        QCOMPARE(CurrentCatalogue::instance().databaseName(), created);
        QCOMPARE(m_data1->databaseName(), created);
        QCOMPARE(m_files->catalogueFileName(), created);
        QCOMPARE(listedNames(m_data1), QStringList{u"見本商品"_s}); // the reserved row is not listed
        return;
    }
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(result), qPrintable(catcher.lastText()));
    QCOMPARE(snapshot(m_appFolder), before);
    QCOMPARE(snapshot(m_folder->path()), rootBefore);
    QVERIFY(!QFile::exists(u"/tmp/merchalog-evil.mdb"_s));
    QCOMPARE(m_data1->databaseName(), current);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), current);
    // Cancel discards a window that stays.
    if (window) {
        click(pushButton(window, u"Command2"_s));
        flushDeletes();
        QVERIFY(!window);
    }
}

void TestFileMenu::open()
{
    // A cancelled dialog, or one handing back its own pattern, goes back to the start name.
    m_files->setCatalogueFileName(m_folder->filePath(u"chosen-in-save-as.mdb"_s));
    m_dialogs->answers = {QVariant(), u"*.mdb"_s};
    m_files->openCatalogue();
    m_files->openCatalogue();
    verifyStillOnStart();

    // The same file again empties the list; another file becomes every window's catalogue.
    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    m_dialogs->answers = {m_start};
    m_files->openCatalogue();
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(sqlValue(m_start, u"select count(*) from syohin"_s).toInt(), 2);
    m_dialogs->answers = {other};
    m_files->openCatalogue();

    QCOMPARE(m_dialogs->calls.size(), 4u);
    QCOMPARE(m_dialogs->calls[3].fileName, u"*.mdb"_s);
    QVERIFY(m_dialogs->calls[3].filter.startsWith(u"mdb(データベースファイル)"_s));
    QVERIFY(!m_dialogs->calls[3].save);
    QCOMPARE(m_data1->databaseName(), other);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), other);
    QCOMPARE(m_files->catalogueFileName(), other);
    QCOMPARE(m_data1->recordSource(), QString(SqlText::emptyProductView));
    QVERIFY(!m_data1->hasCurrentRecord());
}

void TestFileMenu::openUnreadable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << u"missing.mdb"_s << QByteArray() << u"見つかりません"_s;
    QTest::newRow("text file") << u"notes.mdb"_s << QByteArray("hello, world\r\n") << u"データベースファイルではありません"_s;
}

void TestFileMenu::openUnreadable()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_folder->filePath(name);
    if (!content.isNull())
        QVERIFY(writeFile(path, content));

    QSignalSpy status(m_files, &FileMenu::statusMessage);
    ModalCatcher catcher;
    m_dialogs->answers.push_back(path);
    m_files->openCatalogue();

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(m_data1->databaseName(), path);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), path);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(status.size(), 1);
    const QString message = status.first().first().toString();
    QVERIFY2(message.contains(reason) && message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    QCOMPARE(readFile(path), content); // never created nor changed
}

void TestFileMenu::saveAs()
{
    // Without a catalogue name there is nothing to save; a cancelled dialog changes nothing.
    m_files->setCatalogueFileName(QString());
    ModalCatcher catcher;
    m_files->saveAs();
    VERIFY_ONE_MESSAGE(catcher, u"ファイルを開いてから保存してください"_s);
    QVERIFY(m_dialogs->calls.empty());
    m_files->setCatalogueFileName(m_start);
    m_files->saveAs();
    verifyStillOnStart();

    // The copy replaces an older file of that name and becomes the catalogue.
    const QString copy = m_folder->filePath(u"copy.mdb"_s);
    QVERIFY(writeFile(copy, "an older file"));
    m_dialogs->answers.push_back(copy);
    m_files->saveAs();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(m_dialogs->calls.back().fileName, m_start);
    QVERIFY(m_dialogs->calls.back().save && m_dialogs->calls.back().confirmOverwrite);
    QCOMPARE(productsIn(copy), productsIn(m_start));
    QCOMPARE(CurrentCatalogue::instance().databaseName(), copy);
    QCOMPARE(m_data1->databaseName(), copy);
    QCOMPARE(m_data1->recordCount(), 0);

    // The next Save as offers the copy; a cancelled Open goes back to it as well.
    m_files->saveAs();
    QCOMPARE(m_dialogs->calls.back().fileName, copy);
    m_files->openCatalogue();
    QCOMPARE(m_files->catalogueFileName(), copy);
}

void TestFileMenu::csvExport()
{
    QVERIFY(m_data1->setCurrentRow(1));
    const QString target = m_folder->filePath(u"list"_s); // no extension is added
    m_dialogs->answers.push_back(target);
    ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 0);
    // The bytes are checked in the engine's tests; here the header and two rows arrive.
    QCOMPARE(readFile(target).count('\n'), 3);
    QCOMPARE(m_files->csvFileName(), target);
    QCOMPARE(m_data1->currentRow(), 1);
    QCOMPARE(m_dialogs->calls[0].fileName, u"*.csv"_s);
    QVERIFY(m_dialogs->calls[0].filter.startsWith(u"(CSV形式）csv"_s));
    QVERIFY(!m_dialogs->calls[0].confirmOverwrite);

    // The next export offers the same name and replaces the file; characters Shift_JIS lacks
    // are counted for the user.
    QVERIFY(insertProduct(m_start, {.mei = u"〜波ダッシュ😀"_s}));
    QVERIFY(m_data1->refresh());
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    QCOMPARE(m_dialogs->calls.back().fileName, target);
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(u" 2 "_s), qPrintable(catcher.lastText()));
    QCOMPARE(readFile(target).count('\n'), 4);
    QVERIFY(readFile(target).contains("\"" + QByteArray::fromHex("8160") + QByteArray::fromHex("9467835f836283568385") + "?\""));

    // A cancelled dialog, the dialog's own pattern and an empty name write nothing.
    for (const QVariant &answer : {QVariant(), QVariant(u"*.csv"_s), QVariant(QString())}) {
        m_dialogs->answers.push_back(answer);
        m_files->exportCsv();
    }
    QCOMPARE(catcher.count(), 2);
    QCOMPARE(catcher.lastText(), u"ファイル名を入力してください"_s);
    QCOMPARE(readFile(target).count('\n'), 4);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files).size(), 2);
}

void TestFileMenu::writeRefused_data()
{
    QTest::addColumn<QString>("writer"); // "csv", "save" (Save as) or "print" (to a PDF file)
    QTest::addColumn<QString>("target"); // as the dialog hands it back, relative to the folder
    QTest::addColumn<QString>("made");   // made first: "symlink" or "hardlink" to the catalogue, "open" catalogue
    QTest::addColumn<QString>("reason"); // part of the one message besides the target; "none": no message

    const QString open = u"開いているカタログファイル"_s;
    QTest::newRow("csv: missing folder") << u"csv"_s << u"missing-folder/list.csv"_s << QString() << QString();
    QTest::newRow("save: missing folder") << u"save"_s << u"no/such/copy.mdb"_s << QString() << QString();
    // The open catalogue, however the target names it: nothing is written over it.
    QTest::newRow("csv: catalogue by relative path") << u"csv"_s << u"database.mdb"_s << QString() << open;
    QTest::newRow("csv: symbolic link to catalogue") << u"csv"_s << u"list.csv"_s << u"symlink"_s << open;
    QTest::newRow("csv: hard link to catalogue") << u"csv"_s << u"list.csv"_s << u"hardlink"_s << open;
    QTest::newRow("print: catalogue") << u"print"_s << u"database.mdb"_s << QString() << open;
    QTest::newRow("save: journal beside catalogue") << u"save"_s << u"database.mdb-journal"_s << QString() << open;
    QTest::newRow("save: another open catalogue") << u"save"_s << u"other.mdb"_s << u"open"_s << open;
    // Saving the current catalogue under one of its own names has nothing to do.
    QTest::newRow("save: catalogue by another path") << u"save"_s << u"./sub/../database.mdb"_s << QString() << u"none"_s;
    QTest::newRow("save: hard link to catalogue") << u"save"_s << u"copy.mdb"_s << u"hardlink"_s << u"none"_s;
}

void TestFileMenu::writeRefused()
{
    QFETCH(QString, writer);
    QFETCH(QString, target);
    QFETCH(QString, made);
    QFETCH(QString, reason);

    QVERIFY(QDir(m_folder->path()).mkdir(u"sub"_s));
    const QString path = m_folder->filePath(target);
    std::optional<RecordSource> otherWindow;
    if (made == u"symlink")
        QVERIFY(QFile::link(m_start, path));
    else if (made == u"hardlink")
        QCOMPARE(::link(QFile::encodeName(m_start).constData(), QFile::encodeName(path).constData()), 0);
    else if (made == u"open") {
        QVERIFY(makeCatalogue(path));
        otherWindow.emplace();
        otherWindow->setDatabaseName(path);
        otherWindow->setRecordSource(QString(SqlText::allProducts));
        QVERIFY(otherWindow->refresh());
    }
    const auto before = snapshot(m_folder->path());

    ModalCatcher catcher;
    m_dialogs->answers.push_back(target);
    if (writer == u"csv") {
        m_files->exportCsv();
    } else if (writer == u"save") {
        m_files->saveAs();
    } else {
        m_dialogs->printTo(target);
        m_files->printerSetup();
        QWidget clientArea;
        clientArea.resize(100, 100);
        QVERIFY(!m_files->print(&clientArea));
    }

    if (reason == u"none") {
        QCOMPARE(catcher.count(), 0);
    } else {
        QCOMPARE(catcher.count(), 1);
        QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
        QVERIFY2(catcher.lastText().contains(QDir::toNativeSeparators(target)) && catcher.lastText().contains(reason),
                 qPrintable(catcher.lastText()));
    }
    QCOMPARE(snapshot(m_folder->path()), before);
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
}

void TestFileMenu::printing()
{
    // A printer dialog that changes the printer and is then cancelled changes nothing.
    const QString pdf = m_folder->filePath(u"page.pdf"_s);
    m_dialogs->printerAnswer = [pdf](QPrinter *printer) {
        printer->setOutputFileName(pdf);
        printer->setPageOrientation(QPageLayout::Landscape);
        return true;
    };
    m_files->printerSetup();
    m_dialogs->printerAnswer = [this](QPrinter *printer) {
        printer->setOutputFileName(m_folder->filePath(u"second.pdf"_s));
        printer->setPageOrientation(QPageLayout::Portrait);
        return false;
    };
    m_files->printerSetup();
    QCOMPARE(m_dialogs->printerDialogs, 2);
    QCOMPARE(m_files->printer()->outputFileName(), pdf);
    QCOMPARE(m_files->printer()->pageLayout().orientation(), QPageLayout::Landscape);
    QCOMPARE(m_files->catalogueFileName(), m_start);

    // The client area is printed as one image at its size on one page.
    QWidget clientArea;
    clientArea.resize(400, 200);
    auto *field = new QLineEdit(u"印刷される商品名"_s, &clientArea);
    field->setGeometry(10, 10, 200, 25);
    QVERIFY(m_files->print(&clientArea));
    const QByteArray bytes = readFile(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page/")
                 + bytes.count("/Type /Page "), 1);
    QVERIFY(bytes.contains("/Subtype /Image"));
    QVERIFY(bytes.contains("/Width 400"));

    // Without a printer nothing is printed, silently.
    if (!QPrinterInfo::availablePrinters().isEmpty())
        QSKIP("A printer is installed here; printing would produce paper.");
    m_files->printer()->setOutputFileName({});
    const auto before = snapshot(m_folder->path());
    ModalCatcher catcher;
    QVERIFY(!m_files->print(&clientArea));
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(snapshot(m_folder->path()), before);
}

QTEST_MAIN(TestFileMenu)
#include "tst_filemenu.moc"
