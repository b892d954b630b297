// The file menu: creating a catalogue from the template, opening, saving as, exporting CSV
// through the remembered dialog names, and printing. File dialogs are replaced by a script.
#include "testsupport.h"

#include "app/fieldbinder.h"
#include "app/syohin_main.h"
#include "catalogue/appfolder.h"
#include "catalogue/currentcatalogue.h"
#include "catalogue/recordsource.h"
#include "catalogue/sqltexts.h"
#include "files/cataloguefiles.h"
#include "files/newdatabase.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <deque>

using namespace Qt::StringLiterals;
using namespace Merchalog;

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

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(bytes) == bytes.size();
}

int productCount(const QString &path)
{
    const auto rows = Test::querySql(path, u"SELECT count(*) FROM syohin"_s);
    return rows.isEmpty() ? -1 : rows.first().first().toInt();
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestCatalogueFiles final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // New database
    void addMdbExtension_data();
    void addMdbExtension();
    void createCopiesTemplateAndSwitches();
    void createdCatalogueTakesNewProducts();
    void createWithEmptyName();
    void createRefusesExisting_data();
    void createRefusesExisting();
    void createRefusesOpenCatalogue();
    void createRefusesOtherFolders_data();
    void createRefusesOtherFolders();
    void createWithoutTemplate();
    void createKeepsWindowWhenEditRefused();
    void newDatabaseRaisesOpenWindow();

    // Open
    void openSwitchesEveryRecordSource();
    void openCancelRestoresName();
    void openSameFileEmptiesList();
    void openUnreadable_data();
    void openUnreadable();
    void openStoresPendingEdit();
    void openStopsWhenEditRefused();

    // Save as
    void saveAsWithoutName();
    void saveAsCopiesAndSwitches();
    void saveAsReplacesExistingFile();
    void saveAsCurrentFileDoesNothing();
    void saveAsCancel();
    void saveAsFailure();

    // CSV
    void csvCancelAndPattern();
    void csvEmptyName();
    void csvWritesAndRemembers();
    void csvCancelledSecondExportKeepsFile();
    void csvUnwritableTarget();
    void csvReportsReplacedCharacters();
    void csvStoresPendingEdit();

    // Printing
    void printerSetupCancelKeepsPrinter();
    void printToPdf();
    void printWithoutPrinter();

    // The main window's title follows the catalogue.
    void mainWindowTitle();

private:
    void createNamed(const QString &name, Test::ModalCatcher &catcher);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_appFolder;
    QString m_template;
    QString m_start;
    QWidget *m_main = nullptr;
    RecordSource *m_data1 = nullptr;
    FieldBinder *m_binder = nullptr;
    CatalogueFiles *m_files = nullptr;
    ScriptedDialogs *m_dialogs = nullptr;
};

void TestCatalogueFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkdir(u"app"_s));
    m_appFolder = m_dir->filePath(u"app"_s);
    AppFolder::setPathOverride(m_appFolder);

    m_template = m_appFolder + u"/database.dft"_s;
    QVERIFY(Test::makeCatalogue(m_template));
    Test::Product templateProduct;
    templateProduct.mei = u"見本商品"_s;
    QVERIFY(Test::insertProduct(m_template, templateProduct));
    Test::Product reserved;
    reserved.mei = u"予約行"_s;
    reserved.jan = u"-99"_s;
    QVERIFY(Test::insertProduct(m_template, reserved));

    m_start = m_dir->filePath(u"start.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_start));
    for (const QString &name : {u"りんご"_s, u"みかん"_s}) {
        Test::Product product;
        product.mei = name;
        QVERIFY(Test::insertProduct(m_start, product));
    }
    CurrentCatalogue::instance().setDatabaseName(m_start);

    m_main = new QWidget;
    m_data1 = new RecordSource(m_main);
    m_data1->setRecordSource(QString(SqlText::allProducts));
    QVERIFY(m_data1->refresh());
    QCOMPARE(m_data1->recordCount(), 2);
    m_binder = new FieldBinder(m_data1, m_main);
    m_files = new CatalogueFiles(m_main, m_data1, m_binder, m_main);
    m_files->setCatalogueFileName(m_data1->databaseName());
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_files->setDialogs(std::move(dialogs));
}

void TestCatalogueFiles::cleanup()
{
    delete m_main;
    m_main = nullptr;
    flushDeletes();
    AppFolder::setPathOverride({});
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_dir.reset();
}

void TestCatalogueFiles::createNamed(const QString &name, Test::ModalCatcher &catcher)
{
    Q_UNUSED(catcher); // created by the caller so that it watches the click below
    m_files->newDatabase();
    NewDataBase *window = m_files->newDataBaseWindow();
    QVERIFY(window);
    auto *text1 = window->findChild<QLineEdit *>(u"Text1"_s);
    QVERIFY(text1);
    text1->setFocus();
    Test::typeText(text1, name);
    QCOMPARE(text1->text(), name);
    QTest::mouseClick(window->findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
}

// --- New database ---------------------------------------------------------------------------

void TestCatalogueFiles::addMdbExtension_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << u"shop"_s << u"shop.mdb"_s;
    QTest::newRow("with mdb") << u"shop.mdb"_s << u"shop.mdb"_s;
    QTest::newRow("upper case MDB") << u"shop.MDB"_s << u"shop.MDB.mdb"_s;
    QTest::newRow("other extension") << u"shop.bak"_s << u"shop.bak.mdb"_s;
    QTest::newRow("trailing dot") << u"shop."_s << u"shop..mdb"_s;
    QTest::newRow("mdb alone") << u"mdb"_s << u"mdb"_s;
    QTest::newRow("mdb in the middle") << u"a.mdb.bak"_s << u"a.mdb.bak.mdb"_s;
    QTest::newRow("japanese") << u"店舗"_s << u"店舗.mdb"_s;
    QTest::newRow("blanks kept") << u" shop "_s << u" shop .mdb"_s;
}

void TestCatalogueFiles::addMdbExtension()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QCOMPARE(NewDataBase::AddMdbExtension(typed), name);
}

void TestCatalogueFiles::createCopiesTemplateAndSwitches()
{
    RecordSource otherWindow; // another window's record source, open before the creation
    Test::ModalCatcher catcher;
    QPointer<NewDataBase> window;
    m_files->newDatabase();
    window = m_files->newDataBaseWindow();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), u"新規データベース作成"_s);
    createNamed(u"shop"_s, catcher);
    flushDeletes();

    const QString created = m_appFolder + u"/shop.mdb"_s;
    QCOMPARE(catcher.count(), 0);
    QVERIFY(!window);
    QCOMPARE(readAll(created), readAll(m_template));
    QCOMPARE(CurrentCatalogue::instance().databaseName(), created);
    QCOMPARE(m_data1->databaseName(), created);
    QCOMPARE(m_files->catalogueFileName(), created);
    QCOMPARE(m_data1->recordSource(), QString(SqlText::allProducts));
    QCOMPARE(m_data1->recordCount(), 1); // the reserved row is not listed
    QCOMPARE(m_data1->text(Field::syohin_mei), u"見本商品"_s);
    QCOMPARE(otherWindow.databaseName(), created);
    RecordSource openedLater;
    QCOMPARE(openedLater.databaseName(), created);
    // The template itself is never written.
    QCOMPARE(productCount(m_template), 2);
}

void TestCatalogueFiles::createdCatalogueTakesNewProducts()
{
    Test::ModalCatcher catcher;
    createNamed(u"branch.mdb"_s, catcher);
    const QString created = m_appFolder + u"/branch.mdb"_s;
    QCOMPARE(m_data1->databaseName(), created);

    // As the new-product window does, opened after the creation.
    RecordSource syohin;
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(syohin.refresh());
    QVERIFY(syohin.addNew());
    QVERIFY(syohin.setValue(Field::syohin_mei, u"新商品"_s));
    QVERIFY(syohin.setValue(Field::syohin_JAN, QVariant::fromValue(Currency::fromUnits(45000000000000000))));
    QVERIFY(syohin.update());

    QCOMPARE(productCount(created), 3);
    QCOMPARE(productCount(m_start), 2);
    QCOMPARE(productCount(m_template), 2);
}

void TestCatalogueFiles::createWithEmptyName()
{
    Test::ModalCatcher catcher;
    m_files->newDatabase();
    QPointer<NewDataBase> window = m_files->newDataBaseWindow();
    QTest::mouseClick(window->findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    flushDeletes();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"ファイル名を入力してください"_s);
    QCOMPARE(catcher.seen().first().title, u"Merchalog"_s);
    QVERIFY(window && window->isVisible());
    QCOMPARE(QDir(m_appFolder).entryList(QDir::Files).size(), 1);
    QCOMPARE(m_data1->databaseName(), m_start);
}

void TestCatalogueFiles::createRefusesExisting_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("typed");
    QTest::newRow("typed with extension") << u"shop.mdb"_s << u"shop.mdb"_s;
    QTest::newRow("typed without extension") << u"shop.mdb"_s << u"shop"_s;
    QTest::newRow("empty file") << u"empty.mdb"_s << u"empty"_s;
    QTest::newRow("folder") << u"folder.mdb"_s << u"folder"_s;
    QTest::newRow("dangling link") << u"link.mdb"_s << u"link"_s;
}

void TestCatalogueFiles::createRefusesExisting()
{
    QFETCH(QString, existing);
    QFETCH(QString, typed);
    const QString path = m_appFolder + u'/' + existing;
    QByteArray before;
    if (existing == u"folder.mdb") {
        QVERIFY(QDir(m_appFolder).mkdir(existing));
    } else if (existing == u"empty.mdb") {
        QVERIFY(writeFile(path, {}));
    } else if (existing == u"shop.mdb") {
        QVERIFY(writeFile(path, "not a catalogue"));
    } else {
        QVERIFY(QFile::link(m_dir->filePath(u"nowhere.mdb"_s), path));
    }
    before = readAll(path);

    Test::ModalCatcher catcher;
    QPointer<NewDataBase> window;
    m_files->newDatabase();
    window = m_files->newDataBaseWindow();
    createNamed(typed, catcher);
    flushDeletes();

    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"そのファイルはすでに存在しています"_s);
    QVERIFY(!window);
    QCOMPARE(readAll(path), before);
    QVERIFY(!QFile::exists(m_dir->filePath(u"nowhere.mdb"_s)));
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
}

void TestCatalogueFiles::createRefusesOpenCatalogue()
{
    const QString current = m_appFolder + u"/current.mdb"_s;
    QVERIFY(QFile::copy(m_start, current));
    m_dialogs->answers.push_back(current);
    m_files->openCatalogue();
    QCOMPARE(m_data1->databaseName(), current);
    const QByteArray before = readAll(current);

    Test::ModalCatcher catcher;
    createNamed(u"current"_s, catcher);
    QCOMPARE(catcher.lastText(), u"そのファイルはすでに存在しています"_s);
    QCOMPARE(readAll(current), before);
    QCOMPARE(m_data1->databaseName(), current);
}

void TestCatalogueFiles::createRefusesOtherFolders_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("parent folder") << u"../evil"_s;
    QTest::newRow("sub folder") << u"sub/shop"_s;
    QTest::newRow("absolute") << u"/tmp/merchalog-evil"_s;
    QTest::newRow("backslash") << u"..\\evil"_s;
    QTest::newRow("dot") << u"."_s;
    QTest::newRow("dot dot") << u".."_s;
}

void TestCatalogueFiles::createRefusesOtherFolders()
{
    QFETCH(QString, typed);
    QVERIFY(QDir(m_appFolder).mkdir(u"sub"_s));
    const QStringList appBefore = QDir(m_appFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    const QStringList parentBefore = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    Test::ModalCatcher catcher;
    QPointer<NewDataBase> window;
    m_files->newDatabase();
    window = m_files->newDataBaseWindow();
    createNamed(typed, catcher);
    flushDeletes();

    QCOMPARE(catcher.count(), 1);
    QVERIFY(catcher.lastText().contains(u"ファイル名"_s));
    QVERIFY(window && window->isVisible());
    QCOMPARE(QDir(m_appFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), appBefore);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), parentBefore);
    QVERIFY(QDir(m_appFolder + u"/sub"_s).isEmpty());
    QVERIFY(!QFile::exists(u"/tmp/merchalog-evil.mdb"_s));
    QCOMPARE(m_data1->databaseName(), m_start);
}

void TestCatalogueFiles::createWithoutTemplate()
{
    QVERIFY(QFile::remove(m_template));
    Test::ModalCatcher catcher;
    QPointer<NewDataBase> window;
    m_files->newDatabase();
    window = m_files->newDataBaseWindow();
    createNamed(u"shop"_s, catcher);
    flushDeletes();

    QCOMPARE(catcher.count(), 1);
    QVERIFY(catcher.lastText().contains(u"shop.mdb"_s));
    QVERIFY(catcher.lastText().contains(u"database.dft"_s));
    QVERIFY(!QFile::exists(m_appFolder + u"/shop.mdb"_s));
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
    QVERIFY(window);
}

void TestCatalogueFiles::createKeepsWindowWhenEditRefused()
{
    // A detail edit that cannot be stored stops the switch before any file is made.
    QVERIFY(m_data1->setText(Field::syohin_master, u"高い"_s));
    Test::ModalCatcher catcher;
    createNamed(u"shop"_s, catcher);
    QCOMPARE(catcher.count(), 1);
    QVERIFY(!QFile::exists(m_appFolder + u"/shop.mdb"_s));
    QCOMPARE(m_data1->databaseName(), m_start);
}

void TestCatalogueFiles::newDatabaseRaisesOpenWindow()
{
    m_files->newDatabase();
    NewDataBase *first = m_files->newDataBaseWindow();
    QVERIFY(first);
    first->findChild<QLineEdit *>(u"Text1"_s)->setText(u"途中"_s);
    m_files->newDatabase();
    QCOMPARE(m_files->newDataBaseWindow(), first);
    QCOMPARE(first->findChild<QLineEdit *>(u"Text1"_s)->text(), u"途中"_s);

    // Cancel discards it; the next opening starts empty.
    QTest::mouseClick(first->findChild<QPushButton *>(u"Command2"_s), Qt::LeftButton);
    flushDeletes();
    QVERIFY(!m_files->newDataBaseWindow());
    m_files->newDatabase();
    QVERIFY(m_files->newDataBaseWindow()->findChild<QLineEdit *>(u"Text1"_s)->text().isEmpty());
    QCOMPARE(m_data1->databaseName(), m_start);
}

// --- Open ----------------------------------------------------------------------------------

void TestCatalogueFiles::openSwitchesEveryRecordSource()
{
    const QString other = m_dir->filePath(u"other.mdb"_s);
    QVERIFY(Test::makeCatalogue(other));
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
    RecordSource openedLater;
    QCOMPARE(openedLater.databaseName(), other);
}

void TestCatalogueFiles::openCancelRestoresName()
{
    m_files->setCatalogueFileName(m_dir->filePath(u"chosen-in-save-as.mdb"_s));
    m_dialogs->answers.push_back(std::nullopt);
    m_files->openCatalogue();
    QCOMPARE(m_dialogs->calls.back().fileName, u"*.mdb"_s);
    QCOMPARE(m_files->catalogueFileName(), m_start);
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);

    // The dialog handing back its own pattern counts as cancelled too.
    m_dialogs->answers.push_back(u"*.mdb"_s);
    m_files->openCatalogue();
    QCOMPARE(m_files->catalogueFileName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
}

void TestCatalogueFiles::openSameFileEmptiesList()
{
    m_dialogs->answers.push_back(m_start);
    m_files->openCatalogue();
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(productCount(m_start), 2);
}

void TestCatalogueFiles::openUnreadable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << u"missing.mdb"_s << QByteArray() << u"見つかりません"_s;
    QTest::newRow("text file") << u"notes.mdb"_s << QByteArray("hello, world\r\n") << u"データベースファイルではありません"_s;
}

void TestCatalogueFiles::openUnreadable()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(name);
    if (!content.isNull())
        QVERIFY(writeFile(path, content));

    QSignalSpy status(m_files, &CatalogueFiles::statusMessage);
    Test::ModalCatcher catcher;
    m_dialogs->answers.push_back(path);
    m_files->openCatalogue();

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(m_data1->databaseName(), path);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), path);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(status.size(), 1);
    const QString message = status.first().first().toString();
    QVERIFY2(message.contains(reason) && message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
    if (content.isNull())
        QVERIFY(!QFile::exists(path));
    else
        QCOMPARE(readAll(path), content);
}

void TestCatalogueFiles::openStoresPendingEdit()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"250"_s));
    const QString other = m_dir->filePath(u"other.mdb"_s);
    QVERIFY(Test::makeCatalogue(other));
    m_dialogs->answers.push_back(other);
    m_files->openCatalogue();
    QCOMPARE(m_data1->databaseName(), other);
    const auto rows = Test::querySql(m_start, u"SELECT syohin_master FROM syohin WHERE syohin_mei = 'りんご'"_s);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().first().toLongLong(), 2500000);

}

void TestCatalogueFiles::openStopsWhenEditRefused()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"abc"_s));
    const QString other = m_dir->filePath(u"other.mdb"_s);
    QVERIFY(Test::makeCatalogue(other));
    m_dialogs->answers.push_back(other);
    Test::ModalCatcher catcher;
    m_files->openCatalogue();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_files->catalogueFileName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
}

// --- Save as -------------------------------------------------------------------------------

void TestCatalogueFiles::saveAsWithoutName()
{
    m_files->setCatalogueFileName(QString());
    Test::ModalCatcher catcher;
    m_files->saveAs();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"ファイルを開いてから保存してください"_s);
    QVERIFY(m_dialogs->calls.empty());
}

void TestCatalogueFiles::saveAsCopiesAndSwitches()
{
    // A pending detail edit reaches the copy.
    QVERIFY(m_data1->setText(Field::syohin_sale, u"80"_s));
    const QString copy = m_dir->filePath(u"copy.mdb"_s);
    m_dialogs->answers.push_back(copy);
    Test::ModalCatcher catcher;
    m_files->saveAs();

    QCOMPARE(catcher.count(), 0);
    QCOMPARE(m_dialogs->calls.size(), 1u);
    QCOMPARE(m_dialogs->calls[0].kind, u"save"_s);
    QCOMPARE(m_dialogs->calls[0].fileName, m_start);
    QVERIFY(m_dialogs->calls[0].confirmOverwrite);
    QCOMPARE(productCount(copy), 2);
    QCOMPARE(Test::querySql(copy, u"SELECT syohin_mei, syohin_sale FROM syohin ORDER BY rowid"_s),
             Test::querySql(m_start, u"SELECT syohin_mei, syohin_sale FROM syohin ORDER BY rowid"_s));
    QCOMPARE(Test::querySql(copy, u"SELECT syohin_sale FROM syohin WHERE rowid = 1"_s).first().first().toLongLong(),
             800000);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), copy);
    QCOMPARE(m_data1->databaseName(), copy);
    QCOMPARE(m_data1->recordCount(), 0);
    QCOMPARE(m_files->catalogueFileName(), copy);

    // The next Save as offers the copy; a cancelled Open goes back to it as well.
    m_dialogs->answers.push_back(std::nullopt);
    m_files->saveAs();
    QCOMPARE(m_dialogs->calls.back().fileName, copy);
    m_dialogs->answers.push_back(std::nullopt);
    m_files->openCatalogue();
    QCOMPARE(m_files->catalogueFileName(), copy);
}

void TestCatalogueFiles::saveAsReplacesExistingFile()
{
    const QString target = m_dir->filePath(u"old.mdb"_s);
    QVERIFY(writeFile(target, "an older file"));
    m_dialogs->answers.push_back(target);
    m_files->saveAs();
    QCOMPARE(productCount(target), 2);
    QCOMPARE(m_data1->databaseName(), target);
}

void TestCatalogueFiles::saveAsCurrentFileDoesNothing()
{
    const QByteArray before = readAll(m_start);
    const QFileInfo info(m_start);
    // The same file, named through another path.
    m_dialogs->answers.push_back(info.absolutePath() + u"/./start.mdb"_s);
    QSignalSpy changed(&CurrentCatalogue::instance(), &CurrentCatalogue::databaseNameChanged);
    Test::ModalCatcher catcher;
    m_files->saveAs();
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(readAll(m_start), before);
    QCOMPARE(m_data1->recordCount(), 2);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCatalogueFiles::saveAsCancel()
{
    m_dialogs->answers.push_back(std::nullopt);
    m_files->saveAs();
    QCOMPARE(m_files->catalogueFileName(), m_start);
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCatalogueFiles::saveAsFailure()
{
    const QString target = m_dir->filePath(u"no/such/folder/copy.mdb"_s);
    m_dialogs->answers.push_back(target);
    Test::ModalCatcher catcher;
    m_files->saveAs();
    QCOMPARE(catcher.count(), 1);
    QVERIFY(catcher.lastText().contains(QDir::toNativeSeparators(target)));
    QCOMPARE(m_data1->databaseName(), m_start);
    QCOMPARE(CurrentCatalogue::instance().databaseName(), m_start);
    QCOMPARE(m_data1->recordCount(), 2);
    QVERIFY(!QFile::exists(target));
}

// --- CSV -----------------------------------------------------------------------------------

void TestCatalogueFiles::csvCancelAndPattern()
{
    Test::ModalCatcher catcher;
    m_dialogs->answers.push_back(std::nullopt);
    m_files->exportCsv();
    m_dialogs->answers.push_back(u"*.csv"_s);
    m_files->exportCsv();
    QCOMPARE(m_dialogs->calls.size(), 2u);
    QCOMPARE(m_dialogs->calls[0].fileName, u"*.csv"_s);
    QVERIFY(m_dialogs->calls[0].filter.startsWith(u"(CSV形式）csv"_s));
    QVERIFY(!m_dialogs->calls[0].confirmOverwrite);
    QCOMPARE(m_files->csvFileName(), u"*.csv"_s);
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCatalogueFiles::csvEmptyName()
{
    Test::ModalCatcher catcher;
    m_dialogs->answers.push_back(QString());
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QCOMPARE(catcher.lastText(), u"ファイル名を入力してください"_s);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestCatalogueFiles::csvWritesAndRemembers()
{
    QVERIFY(m_data1->setCurrentRow(1));
    const QString target = m_dir->filePath(u"list"_s); // no extension is added
    m_dialogs->answers.push_back(target);
    Test::ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 0);
    const QList<QByteArray> lines = readAll(target).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QByteArray::fromHex("228fa4956996bc222c")));
    QVERIFY(lines[1].startsWith("\"" + QByteArray::fromHex("82e882f182b2") + "\",100,90,70,4901234567894,"));
    QVERIFY(lines[2].startsWith("\"" + QByteArray::fromHex("82dd82a982f1") + "\","));
    QCOMPARE(m_files->csvFileName(), target);
    QCOMPARE(m_data1->currentRow(), 1);

    // The next export offers the same name and replaces the file.
    QVERIFY(Test::execSql(m_start, u"DELETE FROM syohin WHERE syohin_mei = 'みかん'"_s));
    m_data1->setRecordSource(QString(SqlText::allProducts));
    QVERIFY(m_data1->refresh());
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    QCOMPARE(m_dialogs->calls.back().fileName, target);
    QCOMPARE(readAll(target).count('\n'), 2);
}

void TestCatalogueFiles::csvCancelledSecondExportKeepsFile()
{
    const QString target = m_dir->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    const QByteArray first = readAll(target);
    QVERIFY(!first.isEmpty());

    m_data1->setRecordSource(QString(SqlText::emptyProductView));
    QVERIFY(m_data1->refresh());
    m_dialogs->answers.push_back(std::nullopt);
    m_files->exportCsv();
    QCOMPARE(readAll(target), first);
    QCOMPARE(m_files->csvFileName(), target);
}

void TestCatalogueFiles::csvUnwritableTarget()
{
    const QString target = m_dir->filePath(u"missing-folder/list.csv"_s);
    m_dialogs->answers.push_back(target);
    Test::ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QVERIFY(catcher.lastText().contains(QDir::toNativeSeparators(target)));
    QVERIFY(!QFile::exists(target));
}

void TestCatalogueFiles::csvReportsReplacedCharacters()
{
    Test::Product product;
    product.mei = u"〜波ダッシュ😀"_s;
    QVERIFY(Test::insertProduct(m_start, product));
    QVERIFY(m_data1->refresh());
    const QString target = m_dir->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    Test::ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(u" 2 "_s), qPrintable(catcher.lastText()));
    QVERIFY(readAll(target).contains("\"" + QByteArray::fromHex("8160") + QByteArray::fromHex("9467835f836283568385") + "?\""));
}

void TestCatalogueFiles::csvStoresPendingEdit()
{
    QVERIFY(m_data1->setText(Field::syohin_master, u"1980"_s));
    const QString target = m_dir->filePath(u"list.csv"_s);
    m_dialogs->answers.push_back(target);
    m_files->exportCsv();
    QVERIFY(readAll(target).split('\n').at(1).contains(",1980,90,"));

    // A pending edit that cannot be stored stops the export.
    QVERIFY(m_data1->setText(Field::syohin_master, u"abc"_s));
    const QString second = m_dir->filePath(u"second.csv"_s);
    m_dialogs->answers.push_back(second);
    Test::ModalCatcher catcher;
    m_files->exportCsv();
    QCOMPARE(catcher.count(), 1);
    QVERIFY(!QFile::exists(second));
}

// --- Printing ------------------------------------------------------------------------------

void TestCatalogueFiles::printerSetupCancelKeepsPrinter()
{
    const QString pdf = m_dir->filePath(u"first.pdf"_s);
    m_dialogs->printerAnswer = [pdf](QPrinter *printer) {
        printer->setOutputFileName(pdf);
        printer->setPageOrientation(QPageLayout::Landscape);
        return true;
    };
    m_files->printerSetup();
    QCOMPARE(m_files->printer()->outputFileName(), pdf);

    // A dialog that changes the printer and is then cancelled changes nothing.
    m_dialogs->printerAnswer = [this](QPrinter *printer) {
        printer->setOutputFileName(m_dir->filePath(u"second.pdf"_s));
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

void TestCatalogueFiles::printToPdf()
{
    QWidget clientArea;
    clientArea.resize(400, 200);
    clientArea.setAutoFillBackground(true);
    QPalette palette = clientArea.palette();
    palette.setColor(QPalette::Window, Qt::darkBlue);
    clientArea.setPalette(palette);
    auto *field = new QLineEdit(u"印刷される商品名"_s, &clientArea);
    field->setGeometry(10, 10, 200, 25);

    const QString pdf = m_dir->filePath(u"page.pdf"_s);
    m_dialogs->printerAnswer = [pdf](QPrinter *printer) {
        printer->setOutputFileName(pdf);
        return true;
    };
    m_files->printerSetup();
    QVERIFY(m_files->print(&clientArea));

    const QByteArray bytes = readAll(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page/")
                 + bytes.count("/Type /Page "), 1);
    QVERIFY(bytes.contains("/Subtype /Image"));
    QVERIFY(bytes.contains("/Width 400"));
}

void TestCatalogueFiles::printWithoutPrinter()
{
    if (!QPrinterInfo::availablePrinters().isEmpty())
        QSKIP("A printer is installed here; printing would produce paper.");
    QWidget clientArea;
    clientArea.resize(100, 100);
    const QStringList before = QDir::current().entryList(QDir::Files);
    Test::ModalCatcher catcher;
    QVERIFY(!m_files->print(&clientArea));
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(QDir::current().entryList(QDir::Files), before);
    // The program goes on: a printer chosen later prints.
    const QString pdf = m_dir->filePath(u"later.pdf"_s);
    m_dialogs->printerAnswer = [pdf](QPrinter *printer) {
        printer->setOutputFileName(pdf);
        return true;
    };
    m_files->printerSetup();
    QVERIFY(m_files->print(&clientArea));
    QVERIFY(QFile::exists(pdf));
}

// --- Main window ---------------------------------------------------------------------------

void TestCatalogueFiles::mainWindowTitle()
{
    Syohin_Main window;
    window.startUp();
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + m_start);
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    window.files()->setDialogs(std::move(dialogs));

    const QString missing = m_dir->filePath(u"missing.mdb"_s);
    script->answers.push_back(missing);
    window.files()->openCatalogue();
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + missing);
    QVERIFY(!QFile::exists(missing));

    Test::ModalCatcher catcher;
    window.files()->newDatabase();
    NewDataBase *create = window.files()->newDataBaseWindow();
    QVERIFY(create);
    create->findChild<QLineEdit *>(u"Text1"_s)->setText(u"shop"_s);
    QTest::mouseClick(create->findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(window.windowTitle(), u"Merchalog - "_s + m_appFolder + u"/shop.mdb"_s);
    QCOMPARE(window.data1()->recordCount(), 1);

    script->answers.push_back(std::nullopt);
    window.files()->saveAs();
    QCOMPARE(script->calls.back().fileName, m_appFolder + u"/shop.mdb"_s);
}

QTEST_MAIN(TestCatalogueFiles)
#include "tst_cataloguefiles.moc"
