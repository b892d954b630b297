// The file menu: creating a catalogue from the template, opening, saving as, exporting CSV
// through the remembered dialog names, and printing. File dialogs are replaced by a script.
#include "windowsupport.h"

#include "app/filemenu.h"
#include "app/syohin_main.h"
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

#include <deque>
#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

// Answers the dialogs from a script and records what each was offered.
class ScriptedDialogs final : public FileDialogs
{
public:
    struct Call
    {
        QString kind; // "open", "save"
        QString fileName;
        QString filter;
        bool confirmOverwrite = false;
    };

    std::optional<QString> openFileName(QWidget *, const QString &fileName, const QString &filter) override
    {
        calls.push_back({u"open"_s, fileName, filter, false});
        return next();
    }
    std::optional<QString> saveFileName(QWidget *, const QString &fileName, const QString &filter,
                                        bool confirmOverwrite) override
    {
        calls.push_back({u"save"_s, fileName, filter, confirmOverwrite});
        return next();
    }
    bool printerSetup(QWidget *, QPrinter *printer) override
    {
        ++printerDialogs;
        return printerAnswer ? printerAnswer(printer) : false;
    }
    // The printer dialog chooses a PDF file and is accepted.
    void printTo(const QString &pdf)
    {
        printerAnswer = [pdf](QPrinter *printer) {
            printer->setOutputFileName(pdf);
            return true;
        };
    }

    std::deque<std::optional<QString>> answers;
    std::vector<Call> calls;
    std::function<bool(QPrinter *)> printerAnswer;
    int printerDialogs = 0;

private:
    std::optional<QString> next()
    {
        if (answers.empty())
            return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

int productCount(const QString &path)
{
    const QVariant count = sqlValue(path, u"SELECT count(*) FROM syohin"_s);
    return count.isNull() ? -1 : count.toInt();
}

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

    void addMdbExtension_data();
    void addMdbExtension();
    void createCopiesTemplateAndSwitches();
    void createRefused_data();
    void createRefused();
    void newDatabaseRaisesOpenWindow();

    void openSwitchesEveryRecordSourceAndStoresEdit();
    void openCancelRestoresName();
    void openSameFileEmptiesList();
    void openUnreadable_data();
    void openUnreadable();
    void openStopsWhenEditRefused();

    void saveAsWithoutName();
    void saveAsReplacesCopiesAndSwitches();

    void csvCancelled();
    void csvWritesAndRemembers();
    void writeRefused_data();
    void writeRefused();
    void csvReportsReplacedCharacters();
    void csvStoresPendingEdit();

    void printerSetupCancelKeepsPrinter();
    void printToPdf();
    void printWithoutPrinter();

    void mainWindowTitle();

private:
    QPointer<NewDataBase> createNamed(const QString &name);
    int rootFiles() const { return int(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).size()); }
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
    QCOMPARE(m_data1->recordCount(), 2);
    m_files = new FileMenu(m_main, m_data1, new FieldBinder(m_data1, m_main), m_main);
    m_files->setCatalogueFileName(m_data1->databaseName());
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_files->setDialogs(std::move(dialogs));
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

void TestFileMenu::addMdbExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << u"shop"_s << u"shop.mdb"_s;
    QTest::newRow("with mdb") << u"shop.mdb"_s << u"shop.mdb"_s;
    QTest::newRow("upper case MDB") << u"shop.MDB"_s << u"shop.MDB.mdb"_s;
    QTest::newRow("other extension") << u"shop.bak"_s << u"shop.bak.mdb"_s;
    QTest::newRow("mdb alone") << u"mdb"_s << u"mdb"_s;
    QTest::newRow("blanks kept") << u" shop "_s << u" shop .mdb"_s;
}

void TestFileMenu::addMdbExtension()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QCOMPARE(NewDataBase::AddMdbExtension(typed), name);
}

void TestFileMenu::createCopiesTemplateAndSwitches()
{
    RecordSource otherWindow; // another window's record source, open before the creation
    ModalCatcher catcher;
    const QPointer<NewDataBase> window = createNamed(u"shop"_s);

    const QString created = m_appFolder + u"/shop.mdb"_s;
    QCOMPARE(catcher.count(), 0);
    QVERIFY(!window);
    QCOMPARE(readFile(created), readFile(m_template));
    QCOMPARE(CurrentCatalogue::instance().databaseName(), created);
    QCOMPARE(m_data1->databaseName(), created);
    QCOMPARE(m_files->catalogueFileName(), created);
    QCOMPARE(m_data1->recordSource(), QString(SqlText::allProducts));
    QCOMPARE(listedNames(m_data1), QStringList{u"見本商品"_s}); // the reserved row is not listed
    QCOMPARE(otherWindow.databaseName(), created);

    // A window opened after the creation registers into the new catalogue, never the template.
    RecordSource syohin;
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(syohin.refresh());
    QVERIFY(syohin.addNew());
    QVERIFY(syohin.setValue(Field::syohin_mei, u"新商品"_s));
    QVERIFY(syohin.setValue(Field::syohin_JAN, QVariant::fromValue(Currency::fromUnits(units(4500000000000)))));
    QVERIFY(syohin.update());
    QCOMPARE(productCount(created), 3);
    QCOMPARE(productCount(m_start), 2);
    QCOMPARE(productCount(m_template), 2);
}

void TestFileMenu::createRefused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message"); // what the one message box says, in part
    QTest::addColumn<bool>("windowStays");

    const QString exists = u"そのファイルはすでに存在しています"_s;
    QTest::newRow("empty name") << QString() << QString() << u"ファイル名を入力してください"_s << true;
    QTest::newRow("existing, typed without extension") << u"file"_s << u"shop"_s << exists << false;
    QTest::newRow("existing folder") << u"folder"_s << u"shop"_s << exists << false;
    QTest::newRow("existing dangling link") << u"link"_s << u"shop"_s << exists << false;
    QTest::newRow("the open catalogue") << u"open"_s << u"shop"_s << exists << false;
    for (const QString &typed : {u"../evil"_s, u"sub/shop"_s, u"/tmp/merchalog-evil"_s, u".."_s})
        QTest::addRow("other folder: %s", qPrintable(typed))
            << QString() << typed << u"ファイル名に「/」「\\」は使えません。また「.」「..」は名前にできません。"_s << true;
    QTest::newRow("no template") << u"no template"_s << u"shop"_s << u"database.dft が見つかりません"_s << true;
    // A detail edit that cannot be stored stops the switch before any file is made.
    QTest::newRow("edit refused") << u"edit"_s << u"shop"_s << u"数値を入力"_s << true;
}

void TestFileMenu::createRefused()
{
    QFETCH(QString, setup);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    QFETCH(bool, windowStays);

    const QString shop = m_appFolder + u"/shop.mdb"_s;
    QVERIFY(QDir(m_appFolder).mkdir(u"sub"_s));
    if (setup == u"file")
        QVERIFY(writeFile(shop, "not a catalogue"));
    else if (setup == u"empty")
        QVERIFY(writeFile(shop, {}));
    else if (setup == u"folder")
        QVERIFY(QDir(m_appFolder).mkdir(u"shop.mdb"_s));
    else if (setup == u"link")
        QVERIFY(QFile::link(m_folder->filePath(u"nowhere.mdb"_s), shop));
    else if (setup == u"no template")
        QVERIFY(QFile::remove(m_template));
    else if (setup == u"edit")
        QVERIFY(m_data1->setText(Field::syohin_master, u"高い"_s));
    if (setup == u"open") {
        QVERIFY(QFile::copy(m_start, shop));
        m_dialogs->answers.push_back(shop);
        m_files->openCatalogue();
        QCOMPARE(m_data1->databaseName(), shop);
    }
    const QString current = m_data1->databaseName();
    const int listed = m_data1->recordCount();
    const auto appBefore = snapshot(m_appFolder);
    const auto rootBefore = snapshot(m_folder->path());

    ModalCatcher catcher;
    const QPointer<NewDataBase> window = createNamed(typed);
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(message), qPrintable(catcher.lastText()));
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    QCOMPARE(window && window->isVisible(), windowStays);
    QCOMPARE(snapshot(m_appFolder), appBefore);
    QCOMPARE(snapshot(m_folder->path()), rootBefore);
    QVERIFY(!QFile::exists(u"/tmp/merchalog-evil.mdb"_s));
    QCOMPARE(m_data1->databaseName(), current);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), current);
    QCOMPARE(m_data1->recordCount(), listed);
}

void TestFileMenu::newDatabaseRaisesOpenWindow()
{
    m_files->newDatabase();
    NewDataBase *first = m_files->newDataBaseWindow();
    QVERIFY(first);
    lineEdit(first, u"Text1"_s)->setText(u"途中"_s);
    m_files->newDatabase();
    QCOMPARE(m_files->newDataBaseWindow(), first);
    QCOMPARE(lineEdit(first, u"Text1"_s)->text(), u"途中"_s);

    // Cancel discards it; the next opening starts empty.
    click(pushButton(first, u"Command2"_s));
    flushDeletes();
    QVERIFY(!m_files->newDataBaseWindow());
    m_files->newDatabase();
    QVERIFY(lineEdit(m_files->newDataBaseWindow(), u"Text1"_s)->text().isEmpty());
    QCOMPARE(m_data1->databaseName(), m_start);
}

void TestFileMenu::openSwitchesEveryRecordSourceAndStoresEdit()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"250"_s));
    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    RecordSource supplierWindow;
    supplierWindow.setRecordSource(QString(SqlText::supplierAppend));
    QVERIFY(supplierWindow.refresh());

    m_dialogs->answers.push_back(other);
    m_files->openCatalogue();

    QCOMPARE(m_dialogs->calls.size(), 1u);
    QCOMPARE(m_dialogs->calls[0].kind, u"open"_s);
    QCOMPARE(m_dialogs->calls[0].fileName, u"*.mdb"_s);
    QVERIFY(m_dialogs->calls[0].filter.startsWith(u"mdb(データベースファイル)"_s));
    QCOMPARE(m_data1->databaseName(), other);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), other);
    QCOMPARE(m_files->catalogueFileName(), other);
    QCOMPARE(m_data1->recordSource(), QString(SqlText::emptyProductView));
    QCOMPARE(m_data1->recordCount(), 0);
    QVERIFY(!m_data1->hasCurrentRecord());
    QCOMPARE(supplierWindow.databaseName(), other);
    // The pending edit went to the catalogue it was made in.
    QCOMPARE(sqlValue(m_start, u"SELECT syohin_master FROM syohin WHERE syohin_mei = 'りんご'"_s).toLongLong(), units(250));
}

void TestFileMenu::openCancelRestoresName()
{
    m_files->setCatalogueFileName(m_folder->filePath(u"chosen-in-save-as.mdb"_s));
    m_dialogs->answers.push_back(std::nullopt);
    m_files->openCatalogue();
    QCOMPARE(m_dialogs->calls.back().fileName, u"*.mdb"_s);
    verifyStillOnStart();

    // The dialog handing back its own pattern counts as cancelled too.
    m_dialogs->answers.push_back(u"*.mdb"_s);
    m_files->openCatalogue();
    verifyStillOnStart();
}

void TestFileMenu::openSameFileEmptiesList()
{
    m_dialogs->answers.push_back(m_start);
    m_files->openCatalogue();
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(productCount(m_start), 2);
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

void TestFileMenu::openStopsWhenEditRefused()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"abc"_s));
    m_dialogs->answers.push_back(m_folder->makeCatalogue(u"other.mdb"_s));
    ModalCatcher catcher;
    m_files->openCatalogue();
    QCOMPARE(catcher.count(), 1);
    verifyStillOnStart();
}

void TestFileMenu::saveAsWithoutName()
{
    m_files->setCatalogueFileName(QString());
    ModalCatcher catcher;
    m_files->saveAs();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"ファイルを開いてから保存してください"_s);
    QVERIFY(m_dialogs->calls.empty());
}

void TestFileMenu::saveAsReplacesCopiesAndSwitches()
{
    // A cancelled dialog changes nothing.
    m_dialogs->answers.push_back(std::nullopt);
    m_files->saveAs();
    verifyStillOnStart();
    QCOMPARE(rootFiles(), 1);

    // A pending detail edit reaches the copy, which replaces an older file of that name.
    QVERIFY(m_data1->setText(Field::syohin_sale, u"80"_s));
    const QString copy = m_folder->filePath(u"copy.mdb"_s);
    QVERIFY(writeFile(copy, "an older file"));
    m_dialogs->answers.push_back(copy);
    ModalCatcher catcher;
    m_files->saveAs();

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(m_dialogs->calls.size(), 2u);
    QCOMPARE(m_dialogs->calls[1].kind, u"save"_s);
    QCOMPARE(m_dialogs->calls[1].fileName, m_start);
    QVERIFY(m_dialogs->calls[1].confirmOverwrite);
    QCOMPARE(productsIn(copy), productsIn(m_start));
    QCOMPARE(productsIn(copy).value(0).value(2).toLongLong(), units(80));
    QCOMPARE(CurrentCatalogue::instance().databaseName(), copy);
    QCOMPARE(m_data1->databaseName(), copy);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(m_files->catalogueFileName(), copy);

    // The next Save as offers the copy; a cancelled Open goes back to it as well.
    m_files->saveAs();
    QCOMPARE(m_dialogs->calls.back().fileName, copy);
    m_files->openCatalogue();
    QCOMPARE(m_files->catalogueFileName(), copy);
}

void TestFileMenu::csvCancelled()
{
    const QString target = m_folder->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    const QByteArray first = readFile(target);
    QVERIFY(!first.isEmpty());
    m_data1->setRecordSource(QString(SqlText::emptyProductView));
    QVERIFY(m_data1->refresh());

    // A cancelled dialog, the dialog's own pattern and an empty name write nothing.
    ModalCatcher catcher;
    for (const std::optional<QString> &answer : {std::optional<QString>(), std::optional(u"*.csv"_s),
                                                 std::optional(QString())})
        m_dialogs->answers.push_back(answer);
    for (int i = 0; i < 3; ++i)
        m_files->exportCsv();
    QCOMPARE(m_dialogs->calls[0].fileName, u"*.csv"_s);
    QVERIFY(m_dialogs->calls[0].filter.startsWith(u"(CSV形式）csv"_s));
    QVERIFY(!m_dialogs->calls[0].confirmOverwrite);
    VERIFY_ONE_MESSAGE(catcher, u"ファイル名を入力してください"_s);
    QCOMPARE(readFile(target), first);
    QCOMPARE(rootFiles(), 2);
}

void TestFileMenu::csvWritesAndRemembers()
{
    QVERIFY(m_data1->setCurrentRow(1));
    const QString target = m_folder->filePath(u"list"_s); // no extension is added
    m_dialogs->answers.push_back(target);
    ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 0);
    // The bytes are checked in tst_csvexport; here the header and two rows arrive.
    QCOMPARE(readFile(target).count('\n'), 3);
    QCOMPARE(m_files->csvFileName(), target);
    QCOMPARE(m_data1->currentRow(), 1);

    // The next export offers the same name and replaces the file.
    QVERIFY(execSql(m_start, u"DELETE FROM syohin WHERE syohin_mei = 'みかん'"_s));
    QVERIFY(m_data1->refresh());
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    QCOMPARE(m_dialogs->calls.back().fileName, target);
    QCOMPARE(readFile(target).count('\n'), 2);
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
    const QByteArray catalogue = readFile(m_start);

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

    QCOMPARE(readFile(m_start), catalogue);
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

void TestFileMenu::csvReportsReplacedCharacters()
{
    QVERIFY(insertProduct(m_start, {.mei = u"〜波ダッシュ😀"_s}));
    QVERIFY(m_data1->refresh());
    const QString target = m_folder->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(u" 2 "_s), qPrintable(catcher.lastText()));
    QVERIFY(readFile(target).contains("\"" + QByteArray::fromHex("8160") + QByteArray::fromHex("9467835f836283568385") + "?\""));
}

void TestFileMenu::csvStoresPendingEdit()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"1980"_s));
    const QString target = m_folder->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    QVERIFY(readFile(target).split('\n').at(1).contains(",1980,90,"));

    // A pending edit that cannot be stored stops the export.
    QVERIFY(m_data1->setText(Field::syohin_master, u"abc"_s));
    const QString second = m_folder->filePath(u"second.csv"_s);
    m_dialogs->answers.push_back(second);
    ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QVERIFY(!QFile::exists(second));
}

void TestFileMenu::printerSetupCancelKeepsPrinter()
{
    const QString pdf = m_folder->filePath(u"first.pdf"_s);
    m_dialogs->printerAnswer = [pdf](QPrinter *printer) {
        printer->setOutputFileName(pdf);
        printer->setPageOrientation(QPageLayout::Landscape);
        return true;
    };
    m_files->printerSetup();
    QCOMPARE(m_files->printer()->outputFileName(), pdf);

    // A dialog that changes the printer and is then cancelled changes nothing.
    m_dialogs->printerAnswer = [this](QPrinter *printer) {
        printer->setOutputFileName(m_folder->filePath(u"second.pdf"_s));
        printer->setPageOrientation(QPageLayout::Portrait);
        return false;
    };
    m_files->printerSetup();
    QCOMPARE(m_dialogs->printerDialogs, 2);
    QCOMPARE(m_files->printer()->outputFileName(), pdf);
    QCOMPARE(m_files->printer()->pageLayout().orientation(), QPageLayout::Landscape);
    // The catalogue dialog's name is not involved.
    QCOMPARE(m_files->catalogueFileName(), m_start);
}

void TestFileMenu::printToPdf()
{
    QWidget clientArea;
    clientArea.resize(400, 200);
    clientArea.setAutoFillBackground(true);
    QPalette palette = clientArea.palette();
    palette.setColor(QPalette::Window, Qt::darkBlue);
    clientArea.setPalette(palette);
    auto *field = new QLineEdit(u"印刷される商品名"_s, &clientArea);
    field->setGeometry(10, 10, 200, 25);

    const QString pdf = m_folder->filePath(u"page.pdf"_s);
    m_dialogs->printTo(pdf);
    m_files->printerSetup();
    QVERIFY(m_files->print(&clientArea));

    const QByteArray bytes = readFile(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page/")
                 + bytes.count("/Type /Page "), 1);
    QVERIFY(bytes.contains("/Subtype /Image"));
    QVERIFY(bytes.contains("/Width 400"));
}

void TestFileMenu::printWithoutPrinter()
{
    if (!QPrinterInfo::availablePrinters().isEmpty())
        QSKIP("A printer is installed here; printing would produce paper.");
    QWidget clientArea;
    clientArea.resize(100, 100);
    const QStringList before = QDir::current().entryList(QDir::Files);
    ModalCatcher catcher;
    QVERIFY(!m_files->print(&clientArea));
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(QDir::current().entryList(QDir::Files), before);
}

void TestFileMenu::mainWindowTitle()
{
    Syohin_Main window;
    window.startUp();
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + m_start);
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    window.fileMenu()->setDialogs(std::move(dialogs));

    const QString missing = m_folder->filePath(u"missing.mdb"_s);
    script->answers.push_back(missing);
    window.fileMenu()->openCatalogue();
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + missing);
    QVERIFY(!QFile::exists(missing));

    ModalCatcher catcher;
    window.fileMenu()->newDatabase();
    NewDataBase *create = window.fileMenu()->newDataBaseWindow();
    QVERIFY(create);
    lineEdit(create, u"Text1"_s)->setText(u"shop"_s);
    click(pushButton(create, u"Command1"_s));
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + m_appFolder + u"/shop.mdb"_s);
    QCOMPARE(window.data1()->recordCount(), 1);

    script->answers.push_back(std::nullopt);
    window.fileMenu()->saveAs();
    QCOMPARE(script->calls.back().fileName, m_appFolder + u"/shop.mdb"_s);
}

QTEST_MAIN(TestFileMenu)
#include "tst_filemenu.moc"
