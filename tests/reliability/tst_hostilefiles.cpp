// Catalogue files that are not what they should be: missing, empty, foreign, cut short,
// write-protected, or gone from under an open record source. Nothing may crash, no file may
// appear, no stored row may change, and every refused write says why.

#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"
#include "cataloguescan.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

// Every name in a folder, recursively, to notice files that appear (journals included).
QStringList listing(const QString &folder)
{
    QStringList names;
    const QDir dir(folder);
    for (const QFileInfo &info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                                   QDir::Name)) {
        names << info.fileName();
        if (info.isDir()) {
            for (const QString &inner : listing(info.filePath()))
                names << info.fileName() + u'/' + inner;
        }
    }
    return names;
}

} // namespace

class TestHostileFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void foreignFilesAreRefusedUntouched_data();
    void foreignFilesAreRefusedUntouched();
    void codeAddedWhileOpenNeverRuns();
    void runawayStatementEndsWithMessage();
    void writeProtectedCatalogueOpensButRefusesEveryWrite();
    void writeProtectedFolderRefusesWritesWholly();
    void protectedWhileOpenRefusesAndRecovers();
    void fullDiskRefusesWritesWholly();
    void anotherUserCannotWriteAReadOnlyCatalogue();
    void vanishedFolderRefusesWritesAndCreatesNothing_data();
    void vanishedFolderRefusesWritesAndCreatesNothing();

private:
    // Leaves `to` as a writer of `from` stopped half-way through a change would: pages of the
    // file overwritten, the journal to roll them back beside it.
    void leaveHotJournal(const QString &from, const QString &to);
    // Makes a file or folder write-protected even for root; false when this system cannot.
    bool protect(const QString &path);
    // Tries every kind of write through record sources; each must fail with WriteFailed.
    void everyWriteIsRefused(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    QStringList m_protected;
    QStringList m_mounted;
};

void TestHostileFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(u"catalogue.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_path));
    QVERIFY(Crash::seedProducts(m_path, 1, 300, 400));
}

void TestHostileFiles::cleanup()
{
    Connection::setStatementLimit(0);
    // Lift the protection so the folder can be removed, also after a failure.
    for (const QString &path : std::as_const(m_protected)) {
        if (::geteuid() == 0)
            QProcess::execute(u"chattr"_s, {u"-i"_s, path});
        ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0700 : 0600);
    }
    m_protected.clear();
    for (const QString &path : std::as_const(m_mounted))
        ::umount(QFile::encodeName(path).constData());
    m_mounted.clear();
    m_dir.reset();
}

bool TestHostileFiles::protect(const QString &path)
{
    const bool folder = QFileInfo(path).isDir();
    if (::geteuid() != 0) {
        m_protected << path;
        return ::chmod(QFile::encodeName(path).constData(), folder ? 0555 : 0444) == 0;
    }
    // Root ignores permission bits; the immutable attribute stops root too (where the
    // file system has it).
    if (QStandardPaths::findExecutable(u"chattr"_s).isEmpty())
        return false;
    QProcess chattr;
    chattr.start(u"chattr"_s, {u"+i"_s, path});
    if (!chattr.waitForFinished() || chattr.exitCode() != 0)
        return false;
    m_protected << path;
    // Make sure it took: root must now fail to create a file beside or write into it.
    if (folder)
        return !QFile(path + u"/probe"_s).open(QIODevice::WriteOnly);
    return !QFile(path).open(QIODevice::ReadWrite);
}

void TestHostileFiles::foreignFilesAreRefusedUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expected"); // ErrorCode
    QTest::addColumn<QString>("reason"); // part of the message
    const QString notOurs = u"データベースファイルではありません"_s;
    QTest::newRow("missing") << u"missing"_s << int(ErrorCode::Missing) << u"見つかりません"_s;
    QTest::newRow("zero bytes") << u"empty"_s << int(ErrorCode::NotCatalogue) << notOurs;
    QTest::newRow("text file") << u"text"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("folder of that name") << u"folder"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("first half of a catalogue") << u"half"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("catalogue short of its last page") << u"lastpage"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("SQLite file without our tables") << u"foreign"_s << int(ErrorCode::NotCatalogue) << notOurs;
    QTest::newRow("our mark, a table short of a field") << u"nofield"_s << int(ErrorCode::NotCatalogue)
                                                        << u"bumon_AU がありません"_s;
    // A file is data, never code: what SQLite would run refuses it, and so does a table that
    // is not plainly ours.
    QTest::newRow("trigger on registration") << u"trigger"_s << int(ErrorCode::HoldsCode) << u"トリガー evil"_s;
    QTest::newRow("update trigger with an endless query") << u"slowtrigger"_s << int(ErrorCode::HoldsCode)
                                                          << u"トリガー slow"_s;
    QTest::newRow("syohin a view over an endless query") << u"view"_s << int(ErrorCode::HoldsCode)
                                                         << u"ビュー syohin"_s;
    QTest::newRow("hot journal beside a trigger") << u"hotjournal"_s << int(ErrorCode::HoldsCode)
                                                  << u"トリガー evil"_s;
    QTest::newRow("WAL-mode file with a trigger") << u"wal"_s << int(ErrorCode::HoldsCode) << u"トリガー evil"_s;
    QTest::newRow("generated column after syohin_mei") << u"generated"_s << int(ErrorCode::NotCatalogue)
                                                       << u"syohin_kana は計算される項目"_s;
    QTest::newRow("WITHOUT ROWID table") << u"withoutrowid"_s << int(ErrorCode::NotCatalogue)
                                         << u"WITHOUT ROWID のテーブル"_s;
    QTest::newRow("price declared as text") << u"texttype"_s << int(ErrorCode::NotCatalogue)
                                            << u"syohin_master の型が TEXT"_s;
    QTest::newRow("unique supplier code") << u"unique"_s << int(ErrorCode::NotCatalogue) << u"索引"_s;
    QTest::newRow("check constraint") << u"check"_s << int(ErrorCode::NotCatalogue) << u"「CHECK」"_s;
    QTest::newRow("format of a newer program") << u"newer"_s << int(ErrorCode::NewerFormat) << u"形式 99"_s;
    QTest::newRow("path longer than SQLite takes") << u"longpath"_s << int(ErrorCode::PathTooLong)
                                                   << u"パスが長すぎる"_s;
}

void TestHostileFiles::foreignFilesAreRefusedUntouched()
{
    QFETCH(QString, kind);
    QFETCH(int, expected);
    QFETCH(QString, reason);
    QString path = m_dir->filePath(u"other.mdb"_s);
    const QByteArray real = [&] {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(real.size() > 100000);
    const auto schemaWith = [&](const QString &from, const QString &to) {
        const QString sql = catalogueSchemaSql();
        QVERIFY(sql.contains(from));
        QVERIFY(Test::writeFile(path, {}));
        QVERIFY(Test::execSql(path, QString(sql).replace(from, to)));
    };
    const QString evil = u"CREATE TRIGGER evil AFTER INSERT ON syohin BEGIN DELETE FROM torihiki;"
                         " UPDATE syohin SET syohin_master = 0; END;"_s;

    if (kind == u"empty"_s) {
        QVERIFY(Test::writeFile(path, {}));
    } else if (kind == u"text"_s) {
        QVERIFY(Test::writeFile(path, u"商品名,標準価格\r\nコーラ,100\r\n"_s.toUtf8()));
    } else if (kind == u"folder"_s) {
        QVERIFY(QDir(m_dir->path()).mkdir(u"other.mdb"_s));
    } else if (kind == u"half"_s) {
        QVERIFY(Test::writeFile(path, real.left(real.size() / 2)));
    } else if (kind == u"lastpage"_s) {
        QVERIFY(Test::writeFile(path, real.left(real.size() - 4096)));
    } else if (kind == u"foreign"_s) {
        QVERIFY(Test::writeFile(path, {}));
        QVERIFY(Test::execSql(path, u"CREATE TABLE syohin_old (a TEXT); INSERT INTO syohin_old VALUES ('x');"_s));
    } else if (kind == u"nofield"_s) {
        schemaWith(u", bumon_AU CURRENCY"_s, QString());
    } else if (kind == u"trigger"_s) {
        QVERIFY(Test::writeFile(path, real));
        QVERIFY(Test::execSql(path, evil));
    } else if (kind == u"slowtrigger"_s) {
        QVERIFY(Test::writeFile(path, real));
        QVERIFY(Test::execSql(path, u"CREATE TRIGGER slow AFTER UPDATE ON syohin BEGIN SELECT count(*)"
                                    " FROM syohin a, syohin b, syohin c, syohin d, syohin e; END;"_s));
    } else if (kind == u"view"_s) {
        // Our marks, the suppliers, and products that never end: a file of 8 KB.
        QString sql;
        for (const QString &line : catalogueSchemaSql().split(u'\n')) {
            if (!line.contains(u"syohin"_s))
                sql += line + u'\n';
        }
        sql += u"CREATE VIEW syohin AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS rowid"_s;
        for (const FieldDef &field : syohinFields)
            sql += u", n AS "_s + field.name;
        QVERIFY(Test::writeFile(path, {}));
        QVERIFY(Test::execSql(path, sql + u" FROM r;"_s));
    } else if (kind == u"hotjournal"_s) {
        const QString source = m_dir->filePath(u"source.mdb"_s);
        QVERIFY(Test::writeFile(source, real));
        QVERIFY(Test::execSql(source, evil));
        leaveHotJournal(source, path);
    } else if (kind == u"wal"_s) {
        QVERIFY(Test::writeFile(path, real));
        QVERIFY(Test::execSql(path, u"PRAGMA journal_mode = WAL; "_s + evil));
    } else if (kind == u"generated"_s) {
        schemaWith(u"syohin_mei TEXT, "_s, u"syohin_mei TEXT, syohin_kana TEXT GENERATED ALWAYS AS (syohin_mei), "_s);
    } else if (kind == u"withoutrowid"_s) {
        schemaWith(u"torihiki_id INTEGER PRIMARY KEY AUTOINCREMENT)"_s,
                   u"torihiki_id INTEGER PRIMARY KEY) WITHOUT ROWID"_s);
    } else if (kind == u"texttype"_s) {
        schemaWith(u"syohin_master CURRENCY"_s, u"syohin_master TEXT"_s);
    } else if (kind == u"unique"_s) {
        schemaWith(u"CREATE INDEX idx_torihiki_code"_s, u"CREATE UNIQUE INDEX idx_torihiki_code"_s);
    } else if (kind == u"check"_s) {
        schemaWith(u"bumon_AU CURRENCY"_s, u"bumon_AU CURRENCY CHECK (bumon_AU > 0)"_s);
    } else if (kind == u"newer"_s) {
        QVERIFY(Test::writeFile(path, real));
        QVERIFY(Test::execSql(path, u"PRAGMA user_version = 99"_s));
    } else if (kind == u"longpath"_s) {
        // A valid catalogue, deep in folders.
        const QString folder = m_dir->filePath(QString(200, u'a') + u'/' + QString(200, u'b') + u'/'
                                               + QString(100, u'c'));
        QVERIFY(QDir().mkpath(folder));
        path = folder + u"/other.mdb"_s;
        QVERIFY(Test::writeFile(path, real));
    }
    if (QTest::currentTestFailed())
        return;
    const QStringList filesBefore = listing(m_dir->path());
    const QByteArray digestBefore = fileDigest(path);

    QCOMPARE(int(Connection::check(path).code()), expected);

    // The product list and the registration windows both meet the file.
    RecordSource list;
    list.setDatabaseName(path);
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(!list.refresh());
    QVERIFY(isOpenFailure(list.status().code()));
    QVERIFY2(list.status().message().contains(reason) && list.status().message().contains(QDir::toNativeSeparators(path)),
             qPrintable(list.status().message()));
    QCOMPARE(list.recordCount(), 0);
    QVERIFY(!list.hasCurrentRecord());
    QVERIFY(!list.removeCurrentRecord());

    for (const QLatin1StringView text : {SqlText::productAppend, SqlText::supplierAppend}) {
        RecordSource registration;
        registration.setDatabaseName(path);
        registration.setRecordSource(QString(text));
        QVERIFY(!registration.refresh());
        QVERIFY(!registration.addNew());
        QVERIFY(!registration.setText(Field::syohin_mei, u"新商品"_s));
        QVERIFY(!registration.update());
    }

    QCOMPARE(listing(m_dir->path()), filesBefore);
    QCOMPARE(fileDigest(path), digestBefore);
}

void TestHostileFiles::codeAddedWhileOpenNeverRuns()
{
    // Another program adds a trigger to the catalogue while it is open here: the user's
    // registration stores the product, and nothing else happens.
    QVERIFY(Test::insertSupplier(m_path, {u"取引先"_s, u"住所"_s, u"03"_s, u"120"_s, u"100"_s}));
    RecordSource syohin;
    syohin.setDatabaseName(m_path);
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(syohin.refresh());
    QVERIFY(Test::execSql(m_path, u"CREATE TRIGGER evil AFTER INSERT ON syohin BEGIN DELETE FROM torihiki;"
                                  " UPDATE syohin SET syohin_master = 0; END;"_s));
    QVERIFY(syohin.addNew());
    const QStringList texts = Crash::productTexts(1001, 0, 10);
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        QVERIFY(syohin.setText(QString(syohinFields[i].name), texts.at(qsizetype(i))));
    QVERIFY2(syohin.update(), qPrintable(syohin.status().message()));
    QCOMPARE(Test::sqlValue(m_path, u"SELECT count(*) FROM torihiki"_s).toInt(), 1);
    QCOMPARE(Test::sqlValue(m_path, u"SELECT count(*) FROM syohin WHERE syohin_master = 0"_s).toInt(), 0);
}

void TestHostileFiles::runawayStatementEndsWithMessage()
{
    // Every statement is bounded in the work it may do; a small bound stands in for a
    // runaway statement, which ends with a message and leaves the catalogue usable.
    RecordSource list;
    list.setDatabaseName(m_path);
    list.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '*x*'"_s);
    Connection::setStatementLimit(1000);
    QVERIFY(!list.refresh());
    QCOMPARE(list.status().code(), ErrorCode::ReadFailed);
    QVERIFY2(list.status().message().contains(u"処理が長すぎるため中止しました"_s), qPrintable(list.status().message()));
    Connection::setStatementLimit(0);
    QVERIFY2(list.refresh(), qPrintable(list.status().message()));
}

void TestHostileFiles::leaveHotJournal(const QString &from, const QString &to)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open_v2(QFile::encodeName(from).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN; UPDATE syohin SET syohin_mei = syohin_mei || 'x';",
                          nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(QFile::copy(from, to));
    QVERIFY(QFile::copy(from + u"-journal"_s, to + u"-journal"_s));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QVERIFY(fileDigest(from) != fileDigest(to));
}

void TestHostileFiles::everyWriteIsRefused(const QString &path)
{
    // Registration of a product, as the new-product window does it.
    RecordSource syohin;
    syohin.setDatabaseName(path);
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY2(syohin.refresh(), qPrintable(syohin.status().message())); // reading still works
    QCOMPARE(syohin.recordCount(), 300);
    QVERIFY(syohin.addNew());
    const QStringList texts = Crash::productTexts(1001, 0, 10);
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        QVERIFY(syohin.setText(QString(syohinFields[i].name), texts.at(qsizetype(i))));
    QVERIFY(!syohin.update());
    QCOMPARE(syohin.status().code(), ErrorCode::WriteFailed);
    QVERIFY(!syohin.status().message().isEmpty());
    syohin.cancelUpdate();

    // Registration of a supplier.
    RecordSource torihiki;
    torihiki.setDatabaseName(path);
    torihiki.setRecordSource(QString(SqlText::supplierAppend));
    QVERIFY(torihiki.refresh());
    QVERIFY(torihiki.addNew());
    const QStringList supplier = Crash::supplierTexts(7, 10);
    for (std::size_t i = 0; i < torihikiFields.size(); ++i)
        QVERIFY(torihiki.setText(QString(torihikiFields[i].name), supplier.at(qsizetype(i))));
    QVERIFY(!torihiki.update());
    QCOMPARE(torihiki.status().code(), ErrorCode::WriteFailed);
    torihiki.cancelUpdate();

    // An edit in the detail panel, stored when another row is clicked: refused, and the
    // record stays where it is with the edit still pending.
    RecordSource list;
    list.setDatabaseName(path);
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    QVERIFY(list.setText(Field::syohin_master, u"1"_s));
    QVERIFY(!list.setCurrentRow(1));
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);
    QVERIFY(!list.status().message().isEmpty());
    QCOMPARE(list.currentRow(), 0);
    QCOMPARE(list.text(Field::syohin_master), u"1"_s);
    list.cancelUpdate();

    // Deleting the selected product.
    QVERIFY(list.setCurrentRow(2));
    QVERIFY(!list.removeCurrentRecord());
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);
    QVERIFY(!list.status().message().isEmpty());
}

void TestHostileFiles::writeProtectedCatalogueOpensButRefusesEveryWrite()
{
    if (!protect(m_path))
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    const QStringList filesBefore = listing(m_dir->path());
    const QByteArray digestBefore = fileDigest(m_path);

    QCOMPARE(Connection::check(m_path).code(), ErrorCode::None);
    everyWriteIsRefused(m_path);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(fileDigest(m_path), digestBefore);
    QCOMPARE(listing(m_dir->path()), filesBefore);
    const Crash::Scan scan = Crash::scanTable(m_path, true);
    QVERIFY2(scan.sound(), qPrintable(scan.report()));
    QCOMPARE(scan.rows, qint64(300));
}

void TestHostileFiles::writeProtectedFolderRefusesWritesWholly()
{
    // The file itself is writable, but no journal can be made beside it: SQLite must refuse
    // the write rather than change the file without one.
    if (!protect(m_dir->path()))
        QSKIP("this file system cannot write-protect a folder against root (no chattr +i)");
    const QStringList filesBefore = listing(m_dir->path());
    const QByteArray digestBefore = fileDigest(m_path);

    everyWriteIsRefused(m_path);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(fileDigest(m_path), digestBefore);
    QCOMPARE(listing(m_dir->path()), filesBefore);
}

void TestHostileFiles::protectedWhileOpenRefusesAndRecovers()
{
    // The file becomes write-protected after the list was read: the open connection may still
    // hold it for writing, but the change must fail without harm, and once the protection is
    // lifted the catalogue opens and takes changes again.
    RecordSource list;
    list.setDatabaseName(m_path);
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    if (!protect(m_path))
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    const QByteArray digestBefore = fileDigest(m_path);

    QVERIFY(list.setText(Field::syohin_master, u"1"_s));
    QVERIFY(!list.storePending());
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);
    QVERIFY(!list.status().message().isEmpty());
    list.cancelUpdate();
    QVERIFY(!list.deleteCurrent());
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);
    QCOMPARE(fileDigest(m_path), digestBefore);
    // Still readable meanwhile.
    QVERIFY2(list.refresh(), qPrintable(list.status().message()));
    QCOMPARE(list.recordCount(), 300);

    QCOMPARE(QProcess::execute(u"chattr"_s, {u"-i"_s, m_path}), 0);
    m_protected.removeAll(m_path);
    QVERIFY2(list.refresh(), qPrintable(list.status().message()));
    QVERIFY(list.setText(Field::syohin_mei, Crash::productTexts(1, 1, 400).first()));
    const QStringList texts = Crash::productTexts(1, 1, 400);
    for (int field : Crash::editedProductFields)
        QVERIFY(list.setText(QString(syohinFields[std::size_t(field)].name), texts.at(field)));
    QVERIFY2(list.storePending(), qPrintable(list.status().message()));
    const Crash::Scan scan = Crash::scanTable(m_path, true);
    QVERIFY2(scan.sound(), qPrintable(scan.report()));
    QCOMPARE(scan.versions.value(1), 1);
    QCOMPARE(scan.rows, qint64(300));
}

void TestHostileFiles::fullDiskRefusesWritesWholly()
{
    // The catalogue lies on a small disk that registrations fill up.
    if (::geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    const QString disk = m_dir->filePath(u"small-disk"_s);
    QVERIFY(QDir().mkpath(disk));
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=400k") != 0)
        QSKIP("cannot mount a small tmpfs here (no CAP_SYS_ADMIN)");
    m_mounted << disk;
    const QString path = disk + u"/catalogue.mdb"_s;
    QVERIFY(Test::makeCatalogue(path));

    RecordSource syohin;
    syohin.setDatabaseName(path);
    qint64 stored = 0;
    bool refused = false;
    for (qint64 key = 1; key <= 100 && !refused; ++key) {
        syohin.setRecordSource(QString(SqlText::productAppend));
        QVERIFY(syohin.refresh());
        QVERIFY(syohin.addNew());
        const QStringList texts = Crash::productTexts(key, 0, 8000);
        for (std::size_t i = 0; i < syohinFields.size(); ++i)
            QVERIFY(syohin.setText(QString(syohinFields[i].name), texts.at(qsizetype(i))));
        if (syohin.update()) {
            stored = key;
        } else {
            refused = true;
            QCOMPARE(syohin.status().code(), ErrorCode::WriteFailed);
            QVERIFY(!syohin.status().message().isEmpty());
            syohin.cancelUpdate();
        }
    }
    QVERIFY2(refused, "the disk never filled up");
    QVERIFY(stored > 0);
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(syohin.refresh());
    QCOMPARE(qint64(syohin.recordCount()), stored);

    // Every stored product is whole, the refused one left nothing behind.
    const Crash::Scan scan = Crash::scanTable(path, true);
    QVERIFY2(scan.sound(), qPrintable(scan.report()));
    QCOMPARE(scan.rows, stored);
    QVERIFY(!QFile::exists(path + u"-journal"_s));
}

void TestHostileFiles::anotherUserCannotWriteAReadOnlyCatalogue()
{
    // The crash driver, run as an ordinary user on a file only root may write, tries to
    // register, edit and delete; every attempt must fail with the reason and store nothing.
    const QString driver = QString::fromUtf8(MERCHALOG_BINARY_DIR "/tests/reliability/crashdriver");
    const QString setpriv = QStandardPaths::findExecutable(u"setpriv"_s);
    if (::geteuid() != 0 || setpriv.isEmpty())
        QSKIP("needs root and setpriv to run the driver as nobody");
    QVERIFY(QFileInfo(driver).isExecutable());
    QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0444) == 0);
    const QByteArray digestBefore = fileDigest(m_path);
    const QStringList filesBefore = listing(m_dir->path());

    const QStringList asNobody{u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s, driver};
    const QList<QStringList> runs{
        {u"products"_s, m_path, u"1001"_s, u"3"_s},
        {u"suppliers"_s, m_path, u"1"_s, u"3"_s},
        {u"delete"_s, m_path, u"1"_s, u"3"_s},
        {u"edit"_s, m_path, u"1"_s},
    };
    for (const QStringList &arguments : runs) {
        QProcess process;
        process.start(setpriv, asNobody + arguments);
        QVERIFY(process.waitForFinished(60000));
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        if (!out.contains(u"ready"_s) && err.contains(u"setpriv"_s))
            QSKIP(qPrintable(u"setpriv cannot switch users here: "_s + err));
        if (!out.contains(u"ready"_s) && out.startsWith(u"fail 0 "_s) && isOpenFailure(ErrorCode(out.section(u' ', 2, 2).toInt())))
            QSKIP(qPrintable(u"nobody cannot reach the temporary folder: "_s + out));
        QVERIFY2(out.contains(u"ready"_s), qPrintable(arguments.first() + u": "_s + out + err));
        QVERIFY2(!out.contains(u"ok "_s) && !out.contains(u"deleted "_s) && !out.contains(u"edited "_s),
                 qPrintable(out));
        // "fail KEY 5 MESSAGE": WriteFailed with the reason.
        const QRegularExpression refused(u"^fail \\d+ %1 \\S.*$"_s.arg(int(ErrorCode::WriteFailed)),
                                         QRegularExpression::MultilineOption);
        QVERIFY2(refused.match(out).hasMatch(), qPrintable(arguments.first() + u": "_s + out));
        QCOMPARE(process.exitCode(), 1);
    }
    QCOMPARE(fileDigest(m_path), digestBefore);
    QCOMPARE(listing(m_dir->path()), filesBefore);
}

void TestHostileFiles::vanishedFolderRefusesWritesAndCreatesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("survivor"); // where the rows are afterwards, empty when gone
    QTest::newRow("folder removed") << u"remove"_s << QString();
    QTest::newRow("folder moved") << u"move"_s << u"moved/catalogue.mdb"_s;
    // A journal could still be made beside the file here, so only the check that the file
    // is still the one opened keeps the write away from it.
    QTest::newRow("file moved aside") << u"aside"_s << u"shop/catalogue-old.mdb"_s;
}

void TestHostileFiles::vanishedFolderRefusesWritesAndCreatesNothing()
{
    QFETCH(QString, how);
    QFETCH(QString, survivor);
    const QString folder = m_dir->filePath(u"shop"_s);
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + u"/catalogue.mdb"_s;
    QVERIFY(QFile::rename(m_path, path));

    RecordSource list;
    list.setDatabaseName(path);
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    RecordSource syohin;
    syohin.setDatabaseName(path);
    syohin.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(syohin.refresh());
    QVERIFY(list.setText(Field::syohin_master, u"5"_s));

    if (how == u"remove"_s)
        QVERIFY(QDir(folder).removeRecursively());
    else if (how == u"move"_s)
        QVERIFY(QDir().rename(folder, m_dir->filePath(u"moved"_s)));
    else
        QVERIFY(QFile::rename(path, folder + u"/catalogue-old.mdb"_s));

    // The pending edit is refused when the row is left, and so is a deletion.
    QVERIFY(!list.setCurrentRow(1));
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);
    QVERIFY(!list.status().message().isEmpty());
    list.cancelUpdate();
    QVERIFY(!list.removeCurrentRecord());
    QCOMPARE(list.status().code(), ErrorCode::WriteFailed);

    // A registration begun on the open result is refused too.
    QVERIFY(syohin.addNew());
    const QStringList texts = Crash::productTexts(1001, 0, 10);
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        QVERIFY(syohin.setText(QString(syohinFields[i].name), texts.at(qsizetype(i))));
    QVERIFY(!syohin.update());
    QCOMPARE(syohin.status().code(), ErrorCode::WriteFailed);
    syohin.cancelUpdate();
    // And the next one cannot even start.
    QVERIFY(!syohin.refresh());
    QVERIFY(isOpenFailure(syohin.status().code()));
    QVERIFY(!syohin.addNew());

    QVERIFY(!QFileInfo::exists(path));
    QStringList expected;
    if (!survivor.isEmpty())
        expected << survivor.section(u'/', 0, 0) << survivor;
    QCOMPARE(listing(m_dir->path()), expected);
    if (!survivor.isEmpty()) {
        const Crash::Scan scan = Crash::scanTable(m_dir->filePath(survivor), true);
        QVERIFY2(scan.sound(), qPrintable(scan.report()));
        QCOMPARE(scan.rows, qint64(300));
        QCOMPARE(scan.versions.value(1), 0);
    }
}

QTEST_GUILESS_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
