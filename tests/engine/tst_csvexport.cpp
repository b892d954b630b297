// The CSV export file: Shift_JIS bytes, number forms, the golden file for a seeded list,
// streaming over the list without moving the current record, and every failure leaving an
// earlier file and the folder as they were.
#include "testsupport.h"

#include "engine/files/csvwriter.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"

#include <QBuffer>
#include <QDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/resource.h>

#include <csignal>
#include <limits>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString goldenFile = QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv");

bool open(RecordSource &list, QLatin1StringView text = SqlText::allProducts)
{
    list.setRecordSource(QString(text));
    return list.refresh().ok();
}

} // namespace

class TestCsvExport final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void shiftJis_data();
    void shiftJis();
    void golden_data();
    void golden();
    void refusedExportKeepsEarlierFile_data();
    void refusedExportKeepsEarlierFile();
    void largeListStreams();

private:
    QString target() const { return m_folder->filePath(u"out.csv"_s); }

    std::unique_ptr<CatalogueFolder> m_folder;
};

// The list the golden file was made from: a seeded catalogue, reserved row included.
void TestCsvExport::init()
{
    m_folder = std::make_unique<CatalogueFolder>();
    QVERIFY(m_folder->isValid());
    const QString path = m_folder->catalogue();
    QVERIFY(insertProduct(path, {.mei = u"①番 テスト商品"_s, .master = u"1980"_s, .sale = u"12.5"_s, .genka = u"0.5"_s,
                                 .torihiki = u"髙島商事"_s}));
    QVERIFY(insertProduct(path, {.mei = u"ソフト\"特選\"品"_s, .master = QString(), .sale = u"-0.25"_s, .genka = u"0"_s,
                                 .jan = u"4512345678901"_s, .eos = u"20000"_s, .eostani = u"-3"_s,
                                 .torihikicode = u"9999999999999"_s, .bumon = u"12"_s, .bumonAU = u"0"_s}));
    QVERIFY(insertProduct(path, {.mei = u"予約行"_s, .jan = u"-99"_s}));
    QVERIFY(insertProduct(path, {.mei = u"ｶﾀｶﾅ,カンマ"_s, .master = u"100.0001"_s, .jan = u"1"_s, .eos = u"0"_s,
                                 .eostani = u"0"_s, .torihiki = QString(), .torihikicode = u"1"_s, .bumon = u"1"_s,
                                 .bumonAU = u"2"_s}));
}

void TestCsvExport::cleanup()
{
    m_folder.reset();
}

void TestCsvExport::shiftJis_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("replaced");
    // The platform's converter swaps these the IBM way; the Microsoft table keeps them.
    QTest::newRow("control codes") << u"\u001A\u001C\u007F"_s << QByteArray::fromHex("1a1c7f") << 0;
    QTest::newRow("IBM extension") << u"ⅰ髙"_s << QByteArray::fromHex("fa40fbfc") << 0;
    QTest::newRow("best fits") << u"〜−¥¬"_s << QByteArray::fromHex("8160817c5c81ca") << 4;
    QTest::newRow("one-way mapping reads back as numero") << u"\uF86F"_s << QByteArray::fromHex("8782") << 1;
    QTest::newRow("emoji is one question mark") << u"a😀b"_s << QByteArray("a?b") << 1;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"x"_s << QByteArray("?x") << 1;
    QTest::newRow("zero-width space and hangul") << u"\u200B한"_s << QByteArray("??") << 2;
}

void TestCsvExport::shiftJis()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, replaced);
    QByteArray out("prefix");
    QCOMPARE(appendShiftJis(text, out), qsizetype(replaced));
    QCOMPARE(out, QByteArray("prefix") + bytes);
    // Numbers at the ends of the range are written as the catalogue writes them.
    for (const qint64 units : {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(), qint64(-2500)}) {
        out.clear();
        appendExportNumber(Currency::fromUnits(units), out);
        QCOMPARE(out, Currency::fromUnits(units).toExportText().toLatin1());
    }
}

void TestCsvExport::golden_data()
{
    QTest::addColumn<QString>("variant");
    QTest::newRow("plain") << QString();
    // A template may declare the product columns in another order; the file keeps the canonical one.
    QTest::newRow("columns in another order") << u"shuffled"_s;
    QTest::newRow("replacing an earlier file") << u"earlier"_s;
    // Products listed, then deleted here and elsewhere, are left out.
    QTest::newRow("deleted products") << u"deletions"_s;
    QTest::newRow("empty list gives the header only") << u"empty"_s;
}

void TestCsvExport::golden()
{
    QFETCH(QString, variant);
    const QString path = m_folder->catalogue();
    if (variant == u"deletions"_s)
        QVERIFY(insertProduct(path, {.mei = u"削除する"_s}) && insertProduct(path, {.mei = u"他で削除"_s}));
    if (variant == u"shuffled"_s)
        QVERIFY(shuffleProductColumns(path));
    if (variant == u"earlier"_s)
        QVERIFY(writeFile(target(), QByteArray(100000, 'x')));
    RecordSource data1;
    QVERIFY(open(data1, variant == u"empty"_s ? SqlText::emptyProductView : SqlText::allProducts));
    if (variant == u"deletions"_s) {
        QVERIFY(data1.setCurrentRow(3));
        QVERIFY(data1.deleteCurrent());
        QVERIFY(execSql(path, u"delete from syohin where syohin_mei='他で削除'"_s));
    }
    if (variant != u"empty"_s)
        QVERIFY(data1.setCurrentRow(1));

    const auto result = exportProductCsv(data1, target());
    QVERIFY2(result.ok(), qPrintable(result.status().message()));
    const QByteArray golden = readFile(goldenFile);
    QCOMPARE(result->rows, variant == u"empty"_s ? 0 : 3);
    QCOMPARE(result->replacedCharacters, 0);
    QCOMPARE(readFile(target()), variant == u"empty"_s ? golden.left(golden.indexOf("\r\n") + 2) : golden);
    if (variant == u"empty"_s)
        return;
    // Streaming the list leaves the current record where it was; no temporary file is left.
    QCOMPARE(data1.recordCount(), 3);
    QCOMPARE(data1.currentRow(), 1);
    QCOMPARE(data1.text(Field::syohin_mei), u"ソフト\"特選\"品"_s);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden), (QStringList{u"database.mdb"_s, u"out.csv"_s}));
}

void TestCsvExport::refusedExportKeepsEarlierFile_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason"); // part of the message, empty when cancelled
    // The table disappears behind the list's back: reading the rows fails half-way.
    QTest::newRow("table gone") << u"ALTER TABLE syohin RENAME TO gone"_s << u"database.mdb"_s;
    // Another program holds the catalogue: rows cannot be read, never written blank.
    QTest::newRow("catalogue locked") << u"BEGIN EXCLUSIVE; UPDATE syohin SET syohin_sale=0"_s << u"使用中"_s;
    QTest::newRow("cancelled") << u"cancel"_s << QString();
    QTest::newRow("missing folder") << u"no/such/folder/out.csv"_s << u"out.csv"_s;
    QTest::newRow("a folder") << u"folder"_s << u"folder"_s;
    // As "ulimit -f" sets it: writes beyond the limit fail with EFBIG, as on a full disk.
    QTest::newRow("file size limit") << u"fsize"_s << u"out.csv"_s;
    QTest::newRow("read-only device") << u"device"_s << QString();
}

void TestCsvExport::refusedExportKeepsEarlierFile()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    QVERIFY(QDir(m_folder->path()).mkdir(u"folder"_s));
    QString file = target();
    if (cause.contains(u'/') || cause == u"folder"_s) {
        file = m_folder->filePath(cause);
    }
    // Enough products that the list does not fit in 64 KB.
    QVERIFY(execSql(m_folder->catalogue(), u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                            "INSERT INTO syohin (syohin_mei, syohin_JAN) SELECT '大量商品の名前' || i, i FROM n"_s));
    RecordSource data1;
    QVERIFY(open(data1));
    if (cause == u"device"_s) {
        QBuffer readOnly;
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QVERIFY(!writeProductCsv(data1, &readOnly));
        return;
    }
    if (!cause.contains(u'/'))
        QVERIFY(writeFile(file, "earlier export\r\n") || cause == u"folder"_s);
    sqlite3 *other = nullptr;
    const auto closeOther = qScopeGuard([&] { sqlite3_close(other); });
    if (cause.contains(u' ')) {
        QCOMPARE(sqlite3_open_v2(m_folder->catalogue().toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, cause.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_busy_timeout(handleOf(data1), 10);
    }
    const auto state = folderState(m_folder->path());
    rlimit previous{};
    const bool limited = cause == u"fsize"_s;
    if (limited) {
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        rlimit limit = previous;
        limit.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    qint64 reported = 0;
    const auto result = exportProductCsv(data1, file, [&](qint64 rows) {
        reported = rows;
        return cause != u"cancel"_s;
    });
    if (limited)
        ::setrlimit(RLIMIT_FSIZE, &previous);
    QVERIFY(!result.ok());
    QCOMPARE(result.status().code() == ErrorCode::Cancelled, cause == u"cancel"_s);
    QCOMPARE(result.status().message().isEmpty(), reason.isEmpty());
    QVERIFY2(result.status().message().contains(reason), qPrintable(result.status().message()));
    if (cause == u"cancel"_s)
        QCOMPARE(reported, 1);
    QCOMPARE(folderState(m_folder->path()), state);
}

void TestCsvExport::largeListStreams()
{
    // Enough rows to pass the write buffer several times: every line arrives, in list order.
    const QString path = m_folder->makeCatalogue(u"large.mdb"_s);
    QVERIFY(execSql(path, u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                           "INSERT INTO syohin (syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, "
                           "syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU) "
                           "SELECT '商品' || i, i * 5000, 0, 0, CASE WHEN i % 1000 = 0 THEN -990000 ELSE i * 10000 END, "
                           "0, 1, '取引先', 120 * 10000, 3 * 10000, 10000 FROM n"_s));
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    QVERIFY(open(data1));
    const auto result = exportProductCsv(data1, target());
    QVERIFY(result.ok());
    QCOMPARE(result->rows, 19980);
    const QList<QByteArray> lines = readFile(target()).split('\n');
    QCOMPARE(lines.size(), 19982); // header, rows, and the empty piece after the last CR LF
    QByteArray expected;
    appendShiftJis(u"\"商品999\",499.5,0,0,999,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(999), expected);
    expected.clear();
    appendShiftJis(u"\"商品1001\",500.5,0,0,1001,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(1000), expected);
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
