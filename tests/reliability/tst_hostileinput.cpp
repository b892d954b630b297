// Hostile text typed into the windows: search keys in the main window, fields of the supplier
// and product registrations, an export onto a disk that fills up, and a broken howto.num. No
// case may crash, change or lose a stored row, or leave a file behind; each gives the answer
// the window gives for any other input of its kind.

#include "mainwindow.h"
#include "windowsupport.h"

#include "app/filemenu.h"
#include "app/syohin_main.h"
#include "engine/records/recordsource.h"
#include "ui/appfolder.h"
#include "windows/files/newdatabase.h"
#include "windows/help/howtomerch.h"
#include "windows/help/howtosetting.h"
#include "windows/products/newsyohin.h"
#include "windows/suppliers/newtorihiki.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

// The keys every field is tried with.
QList<std::pair<const char *, QString>> hostileTexts()
{
    return {
        {"quote trick", u"x' or 'a'='a"_s},
        {"or 1=1", u"1 or 1=1"_s},
        {"second statement", u"1; delete from syohin"_s},
        {"comment", u"--"_s},
        {"open comment", u"/*"_s},
        {"unclosed bracket", u"["_s},
        {"1 MB", QString(1 << 20, u'x')},
        {"NUL", u"a\u0000b"_s},
        {"control characters", u"\t\r\n\u001b\u007f"_s},
        {"emoji and non-Shift_JIS", u"😀〜−¥𠮷"_s},
        {"full-width digits", u"１２０"_s},
        {"30 digits", u"123456789012345678901234567890"_s},
    };
}

// Everything stored in the tables, as one text, to see that nothing changed.
QString catalogueContents(const QString &path, QStringList tables = {u"syohin"_s, u"torihiki"_s})
{
    QStringList lines;
    for (const QString &table : tables) {
        for (const QVariantList &row : Test::querySql(path, u"SELECT rowid, * FROM %1 ORDER BY rowid"_s.arg(table))) {
            QStringList cells;
            for (const QVariant &cell : row)
                cells << (cell.isNull() ? u"<null>"_s : cell.toString());
            lines << cells.join(u'|');
        }
    }
    return lines.join(u'\n');
}

QStringList folderListing(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Limits the size of every file the process writes, as "ulimit -f" does, until it goes.
// Writes beyond the limit then fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &m_previous) != 0)
            return;
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool isActive() const { return m_active; }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

class ScriptedSaveDialog final : public FileDialogs
{
public:
    std::optional<QString> openFileName(QWidget *, const QString &, const QString &) override { return {}; }
    std::optional<QString> saveFileName(QWidget *, const QString &, const QString &, bool) override
    {
        if (answers.empty())
            return std::nullopt;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool printerSetup(QWidget *, QPrinter *) override { return false; }

    std::deque<QString> answers;
};

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void searchKeys_data();
    void searchKeys();
    void supplierRegistration_data();
    void supplierRegistration();
    void productRegistration_data();
    void productRegistration();
    void supplierLookupKeys_data();
    void supplierLookupKeys();
    void exportOntoFullDiskKeepsEarlierFile_data();
    void exportOntoFullDiskKeepsEarlierFile();
    void brokenHowtoSetting_data();
    void brokenHowtoSetting();
    void guideButtonWithUnwritableFolder();

private:
    Syohin_Main *startMainWindow();

    std::unique_ptr<Test::TestFolder> m_folder;
    QString m_db;
    std::unique_ptr<Syohin_Main> m_main;
    QStringList m_mounted;
    QStringList m_protected;
};

void TestHostileInput::init()
{
    m_folder = std::make_unique<Test::TestFolder>();
    QVERIFY(m_folder->isValid());
    m_db = m_folder->catalogue();
    QVERIFY(Test::execSql(m_db, u"PRAGMA journal_mode=DELETE"_s));

    Test::Product apple{u"りんごジュース"_s};
    apple.jan = u"4901234567894"_s;
    apple.bumon = u"3"_s;
    apple.torihikicode = u"120"_s;
    QVERIFY(Test::insertProduct(m_db, apple));
    Test::Product orange{u"みかんジュース"_s};
    orange.jan = u"4901234567801"_s;
    orange.bumon = u"3"_s;
    orange.torihikicode = u"130"_s;
    QVERIFY(Test::insertProduct(m_db, orange));
    Test::Product reserved{u"予約"_s};
    reserved.jan = u"-99"_s;
    QVERIFY(Test::insertProduct(m_db, reserved));
    QVERIFY(Test::insertSupplier(m_db, {u"テスト商事"_s, u"東京都"_s, u"03-0000-0000"_s, u"120"_s, u"100-0001"_s}));
}

void TestHostileInput::cleanup()
{
    m_main.reset();
    for (const QString &path : std::as_const(m_protected))
        QProcess::execute(u"chattr"_s, {u"-i"_s, path});
    m_protected.clear();
    for (const QString &path : std::as_const(m_mounted))
        ::umount(QFile::encodeName(path).constData());
    m_mounted.clear();
    m_folder.reset();
}

Syohin_Main *TestHostileInput::startMainWindow()
{
    // Start without the guide.
    QFile howto(AppFolder::filePath(u"howto.num"_s));
    if (howto.open(QIODevice::WriteOnly))
        howto.write("1\r\n");
    howto.close();
    m_main = std::make_unique<Syohin_Main>();
    m_main->show();
    m_main->startUp();
    return m_main.get();
}

void TestHostileInput::searchKeys_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("listed"); // the list afterwards

    const QStringList before{u"りんごジュース"_s, u"みかんジュース"_s};
    for (const auto &[name, text] : hostileTexts()) {
        // A name is searched for literally: no product is called that. An unclosed bracket is
        // no pattern, and a NUL cannot be part of a statement: the list stays as it was.
        const QStringList byName = text == u"["_s || text.contains(QChar(0)) ? before : QStringList();
        QTest::addRow("name, %s", name) << u"mnusearchNAME"_s << u"Search"_s << text << byName;
        // A number key that is not a number ends the search before anything changes.
        const QStringList byJan = text == u"１２０"_s ? QStringList() : before;
        QTest::addRow("JAN, %s", name) << u"mnusearchJAN"_s << u"Search"_s << text << byJan;
        const QStringList bySupplier = text == u"１２０"_s ? QStringList{u"りんごジュース"_s} : before;
        QTest::addRow("supplier, %s", name) << u"mnusearchTORIHIKI"_s << u"Search"_s << text << bySupplier;
        QTest::addRow("department, %s", name) << u"mnusearchNAME"_s << u"SBumon_code"_s << text
                                              << (text == u"１２０"_s ? QStringList() : before);
    }
    QTest::newRow("JAN in full-width digits") << u"mnusearchJAN"_s << u"Search"_s << u"４９０１２３４５６７８９４"_s
                                              << QStringList{u"りんごジュース"_s};
    QTest::newRow("department in full-width digits") << u"mnusearchNAME"_s << u"SBumon_code"_s << u"３"_s << before;
    QTest::newRow("name pattern of many stars") << u"mnusearchNAME"_s << u"Search"_s
                                                << QString(2000, u'*') + u"x"_s << QStringList();
    QTest::newRow("name pattern of stars and marks") << u"mnusearchNAME"_s << u"Search"_s
                                                     << u"*?"_s.repeated(1000) + u"#"_s << QStringList();
}

void TestHostileInput::searchKeys()
{
    QFETCH(QString, mode);
    QFETCH(QString, field);
    QFETCH(QString, key);
    QFETCH(QStringList, listed);

    const QString contents = catalogueContents(m_db);
    Test::ModalCatcher catcher;
    Syohin_Main *window = startMainWindow();
    const QStringList files = folderListing(m_folder->path());
    Test::lineEdit(window, u"SBumon_code"_s)->setText(u"3"_s);
    QTest::keyClick(Test::lineEdit(window, u"SBumon_code"_s), Qt::Key_Return);
    QCOMPARE(window->data1()->recordCount(), 2);

    window->findChild<QAction *>(mode)->trigger();
    Test::lineEdit(window, u"SBumon_code"_s)->clear();
    Test::lineEdit(window, u"Search"_s)->clear();
    Test::lineEdit(window, field)->setText(key);
    QTest::keyClick(Test::lineEdit(window, field), Qt::Key_Return);

    RecordSource *data1 = window->data1();
    QStringList names;
    for (int row = 0; row < data1->recordCount(); ++row)
        names << data1->row(row).value(data1->fieldIndex(Field::syohin_mei)).toString();
    QCOMPARE(names, listed);
    QCOMPARE(catcher.count(), 0);
    m_main.reset();
    QCOMPARE(catalogueContents(m_db), contents);
    QCOMPARE(folderListing(m_folder->path()), files);
}

void TestHostileInput::supplierRegistration_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stored");

    for (const auto &[name, text] : hostileTexts()) {
        // Name, address, telephone and postal code are stored as typed.
        QTest::addRow("name, %s", name) << u"Text1"_s << text << true;
        QTest::addRow("postal code, %s", name) << u"Text5"_s << text << true;
        // Only a plain number is a code; anything else registers nothing, silently.
        QTest::addRow("code, %s", name) << u"Text4"_s << text << false;
    }
    QTest::newRow("code 13 digits") << u"Text4"_s << u"9999999999998"_s << true;
}

void TestHostileInput::supplierRegistration()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(bool, stored);

    const QString contents = catalogueContents(m_db);
    const QString suppliers = catalogueContents(m_db, {u"torihiki"_s});
    const QString products = catalogueContents(m_db, {u"syohin"_s});
    NEWtorihiki window;
    window.show();
    const QStringList values{u"新取引先"_s, u"大阪府"_s, u"06-1111-2222"_s, u"777"_s, u"530-0001"_s};
    const QStringList names{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s};
    Test::fill(&window, values);
    Test::lineEdit(&window, field)->setText(text);
    // What the field holds after typing (a line edit keeps at most its maximum length).
    const QString typed = Test::lineEdit(&window, field)->text();

    Test::ModalCatcher catcher;
    QTest::mouseClick(window.findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QCOMPARE(catcher.count(), 0);

    const auto rows = Test::querySql(m_db, u"SELECT torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, "
                                           "torihiki_post FROM torihiki ORDER BY rowid"_s);
    if (!stored) {
        QCOMPARE(catalogueContents(m_db), contents);
        QCOMPARE(Test::lineEdit(&window, field)->text(), typed); // kept for correcting
        return;
    }
    QCOMPARE(rows.size(), 2);
    const int column = int(names.indexOf(field));
    if (field == u"Text4"_s)
        QCOMPARE(rows.last().at(column).toLongLong(), Currency::parse(typed)->units());
    else
        QCOMPARE(rows.last().at(column).toString(), typed);
    QVERIFY(catalogueContents(m_db, {u"torihiki"_s}).startsWith(suppliers));
    QCOMPARE(catalogueContents(m_db, {u"syohin"_s}), products);
}

void TestHostileInput::productRegistration_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty when the product is stored

    const QString number = u"に数値を入力してください。"_s;
    const QString whole = u"に-32768から32767までの整数を入力してください。"_s;
    for (const auto &[name, text] : hostileTexts()) {
        QTest::addRow("name, %s", name) << u"Text1"_s << text << QString();
        QTest::addRow("price, %s", name) << u"Text2"_s << text << (text == u"１２０"_s ? QString() : number);
        QTest::addRow("order unit, %s", name) << u"Text7"_s << text << (text == u"１２０"_s ? QString() : whole);
    }
    QTest::newRow("largest price") << u"Text2"_s << u"922337203685477.5807"_s << QString();
    QTest::newRow("price beyond") << u"Text2"_s << u"922337203685477.5808"_s << number;
    QTest::newRow("smallest cost") << u"Text4"_s << u"-922337203685477.5808"_s << QString();
    QTest::newRow("cost below") << u"Text4"_s << u"-922337203685477.5809"_s << number;
    QTest::newRow("largest unit") << u"Text7"_s << u"32767"_s << QString();
    QTest::newRow("unit beyond") << u"Text7"_s << u"32768"_s << whole;
    QTest::newRow("unit below") << u"Text7"_s << u"-32769"_s << whole;
    QTest::newRow("30-digit JAN") << u"Text5"_s << u"123456789012345678901234567890"_s << number;
    QTest::newRow("department with SQL") << u"Text14"_s << u"3 or 1=1"_s << number;
}

void TestHostileInput::productRegistration()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);

    const QString contents = catalogueContents(m_db);
    const QString suppliers = catalogueContents(m_db, {u"torihiki"_s});
    const QString products = catalogueContents(m_db, {u"syohin"_s});
    Newsyohin window;
    window.show();
    Test::ModalCatcher catcher;
    Test::lineEdit(&window, u"Text16"_s)->setText(u"120"_s);
    QTest::keyClick(Test::lineEdit(&window, u"Text16"_s), Qt::Key_Return);
    QCOMPARE(Test::lineEdit(&window, u"Text8"_s)->text(), u"テスト商事"_s);

    const QStringList names{u"Text1"_s, u"Text2"_s, u"Text3"_s, u"Text4"_s, u"Text5"_s,
                            u"Text6"_s, u"Text7"_s, u"Text14"_s, u"Text15"_s};
    const QStringList values{u"新商品"_s, u"100"_s, u"90"_s, u"70"_s, u"4909999999999"_s,
                             u"5001"_s, u"6"_s, u"8"_s, u"1"_s};
    for (int i = 0; i < names.size(); ++i)
        Test::lineEdit(&window, names.at(i))->setText(names.at(i) == field ? text : values.at(i));
    const QString typed = Test::lineEdit(&window, field)->text();
    QTest::mouseClick(window.findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);

    if (!message.isEmpty()) {
        QCOMPARE(catcher.count(), 1);
        QVERIFY2(catcher.lastText().endsWith(message), qPrintable(catcher.lastText()));
        QCOMPARE(catalogueContents(m_db), contents);
        QCOMPARE(Test::lineEdit(&window, field)->text(), typed);
        return;
    }
    QCOMPARE(catcher.count(), 0);
    QVERIFY(catalogueContents(m_db, {u"syohin"_s}).startsWith(products));
    QCOMPARE(catalogueContents(m_db, {u"torihiki"_s}), suppliers);
    const auto rows = Test::querySql(m_db, u"SELECT syohin_mei, syohin_master, syohin_genka, syohin_EOStani, "
                                           "syohin_torihikicode FROM syohin ORDER BY rowid DESC LIMIT 1"_s);
    QCOMPARE(rows.size(), 1);
    const QVariantList &row = rows.first();
    QCOMPARE(row.at(4).toLongLong(), 120 * Currency::unitsPerOne);
    if (field == u"Text1"_s)
        QCOMPARE(row.at(0).toString(), typed);
    else if (field == u"Text2"_s)
        QCOMPARE(row.at(1).toLongLong(), Currency::parse(typed)->units());
    else if (field == u"Text4"_s)
        QCOMPARE(row.at(2).toLongLong(), Currency::parse(typed)->units());
    else if (field == u"Text7"_s)
        QCOMPARE(row.at(3).toLongLong(), qint64(*parseSmallInt(typed)));
}

void TestHostileInput::supplierLookupKeys_data()
{
    QTest::addColumn<QString>("key");
    for (const auto &[name, text] : hostileTexts())
        QTest::addRow("%s", name) << text;
}

void TestHostileInput::supplierLookupKeys()
{
    // A key that is not a number looks nothing up; the full-width 120 finds the supplier.
    QFETCH(QString, key);
    const QString contents = catalogueContents(m_db);
    Newsyohin window;
    window.show();
    Test::ModalCatcher catcher;
    Test::lineEdit(&window, u"Text16"_s)->setText(key);
    QTest::keyClick(Test::lineEdit(&window, u"Text16"_s), Qt::Key_Return);
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(Test::lineEdit(&window, u"Text8"_s)->text(), key == u"１２０"_s ? u"テスト商事"_s : QString());
    QCOMPARE(catalogueContents(m_db), contents);
}

void TestHostileInput::exportOntoFullDiskKeepsEarlierFile_data()
{
    QTest::addColumn<bool>("tmpfs");
    QTest::newRow("64 KB tmpfs") << true;
    QTest::newRow("64 KB file-size limit") << false;
}

void TestHostileInput::exportOntoFullDiskKeepsEarlierFile()
{
    // A 64 KB tmpfs where the test may mount one, or a 64 KB limit on the size of every file
    // this process writes (as "ulimit -f" sets it) while the export runs.
    QFETCH(bool, tmpfs);
    const QString disk = m_folder->filePath(u"small-disk"_s);
    QVERIFY(QDir().mkpath(disk));
    const bool mounted = tmpfs && ::geteuid() == 0
        && ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") == 0;
    if (tmpfs && !mounted)
        QSKIP("cannot mount a small tmpfs here (needs root with CAP_SYS_ADMIN); the file-size limit case runs");
    if (mounted)
        m_mounted << disk;

    // Enough products that the list does not fit in 64 KB.
    QVERIFY(Test::execSql(m_db, u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                "INSERT INTO syohin SELECT '大量商品の名前はかなり長い' || i, 1000000, 900000, 700000, "
                                "49000000000000000 + i, 10000 + i, 12, 'テスト商事', 1200000, 30000, 10000, NULL FROM n"_s));

    const QString target = disk + u"/list.csv"_s;
    const QByteArray earlier = "earlier export\r\n";
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(earlier), earlier.size());
    }
    Syohin_Main *window = startMainWindow();
    Test::lineEdit(window, u"SBumon_code"_s)->setText(u"3"_s);
    QTest::keyClick(Test::lineEdit(window, u"SBumon_code"_s), Qt::Key_Return);
    QVERIFY(window->data1()->recordCount() > 3000);

    auto dialogs = std::make_unique<ScriptedSaveDialog>();
    dialogs->answers.push_back(target);
    window->fileMenu()->setDialogs(std::move(dialogs));
    Test::ModalCatcher catcher;
    {
        std::optional<FileSizeLimit> limit;
        if (!mounted) {
            limit.emplace(64 * 1024);
            if (!limit->isActive())
                QSKIP("neither a small tmpfs nor a file-size limit is possible here");
        }
        window->fileMenu()->exportCsv();
    }
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().contains(QDir::toNativeSeparators(target)), qPrintable(catcher.lastText()));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), earlier);
    QCOMPARE(folderListing(disk), QStringList{u"list.csv"_s});
}

void TestHostileInput::brokenHowtoSetting_data()
{
    QTest::addColumn<QByteArray>("content"); // empty with folder set: a folder of that name
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("shown");
    QTest::newRow("folder named howto.num") << QByteArray() << true << false;
    QTest::newRow("1 MB of digits") << QByteArray(1 << 20, '7') << false << false;
    QTest::newRow("1 MB of zeros") << QByteArray(1 << 20, '0') << false << true;
    QTest::newRow("1 after 5,000 zeros") << QByteArray(5000, '0') + "1\r\n" << false << false;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01", 4) << false << false;
    QTest::newRow("zero then garbage") << QByteArray("0\x00\xff,1\r\n", 7) << false << false;
}

void TestHostileInput::brokenHowtoSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, folder);
    QFETCH(bool, shown);
    const QString path = AppFolder::filePath(u"howto.num"_s);
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }
    QCOMPARE(HowtoSetting::guideShownAtStart(), shown);
    m_main = std::make_unique<Syohin_Main>();
    m_main->show();
    m_main->startUp();
    QCOMPARE(m_main->startUpGuide() != nullptr, shown);
    if (folder) {
        // Switching the guide off cannot replace a folder; nothing else is touched.
        QVERIFY(!HowtoSetting::switchGuideOff());
        QVERIFY(QFileInfo(path).isDir());
    }
}

void TestHostileInput::guideButtonWithUnwritableFolder()
{
    if (::geteuid() != 0)
        QSKIP("write-protecting the folder against root needs chattr, run as root");
    QFile::remove(AppFolder::filePath(u"howto.num"_s));
    QProcess chattr;
    chattr.start(u"chattr"_s, {u"+i"_s, m_folder->path()});
    if (!chattr.waitForFinished() || chattr.exitCode() != 0)
        QSKIP("chattr +i is not supported here");
    m_protected << m_folder->path();
    const QStringList files = folderListing(m_folder->path());

    HOWTOMERCH guide;
    guide.show();
    Test::ModalCatcher catcher;
    QTest::mouseClick(guide.findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QVERIFY(!guide.isVisible()); // closes as always; the guide simply shows again next time
    QCOMPARE(catcher.count(), 0);
    QCOMPARE(folderListing(m_folder->path()), files);
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
