// The CSV export file: Shift_JIS bytes, number forms, the golden file for a seeded list,
// streaming over the list without moving the current record, and failures that must leave
// an earlier file alone.
#include "testsupport.h"

#include "engine/files/csvwriter.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"

#include <QBuffer>
#include <QDir>
#include <QTest>

#include <sqlite3.h>

#include <limits>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString goldenFile = QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv");

} // namespace

class TestCsvExport final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void shiftJis_data();
    void shiftJis();
    void exportNumber_data();
    void exportNumber();

    void golden_data();
    void golden();
    void emptyListGivesHeaderOnly();
    void failedReadKeepsEarlierFile_data();
    void failedReadKeepsEarlierFile();
    void unwritableTarget_data();
    void unwritableTarget();
    void largeListStreams();

private:
    bool open(RecordSource &list, QLatin1StringView text = SqlText::allProducts);
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

bool TestCsvExport::open(RecordSource &list, QLatin1StringView text)
{
    list.setRecordSource(QString(text));
    return list.refresh().ok();
}

void TestCsvExport::shiftJis_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("replaced");

    QTest::newRow("header title") << u"商品名"_s << QByteArray::fromHex("8fa4956996bc") << 0;
    QTest::newRow("ascii with quote") << u"a\"b,c"_s << QByteArray("a\"b,c") << 0;
    // The platform's converter swaps these the IBM way; the Microsoft table keeps them.
    QTest::newRow("control codes") << u"\u001A\u001C\u007F"_s << QByteArray::fromHex("1a1c7f") << 0;
    QTest::newRow("trail byte 5C") << u"ソ表"_s << QByteArray::fromHex("835c955c") << 0;
    QTest::newRow("half-width katakana") << u"ｱｶﾞ"_s << QByteArray::fromHex("b1b6de") << 0;
    QTest::newRow("NEC circled one") << u"①"_s << QByteArray::fromHex("8740") << 0;
    QTest::newRow("NEC roman numeral") << u"Ⅰ"_s << QByteArray::fromHex("8754") << 0;
    QTest::newRow("IBM small roman numeral") << u"ⅰ"_s << QByteArray::fromHex("fa40") << 0;
    QTest::newRow("IBM kanji taka") << u"髙"_s << QByteArray::fromHex("fbfc") << 0;
    QTest::newRow("full-width tilde") << u"～"_s << QByteArray::fromHex("8160") << 0;
    QTest::newRow("wave dash best fit") << u"〜"_s << QByteArray::fromHex("8160") << 1;
    QTest::newRow("minus sign best fit") << u"−"_s << QByteArray::fromHex("817c") << 1;
    QTest::newRow("yen sign best fit") << u"¥100"_s << QByteArray("\\100") << 1;
    QTest::newRow("not sign best fit") << u"¬"_s << QByteArray::fromHex("81ca") << 1;
    QTest::newRow("one-way mapping reads back as numero") << u"\uF86F"_s << QByteArray::fromHex("8782") << 1;
    QTest::newRow("emoji is one question mark") << u"a😀b"_s << QByteArray("a?b") << 1;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"x"_s << QByteArray("?x") << 1;
    QTest::newRow("zero-width space") << u"a\u200Bb"_s << QByteArray("a?b") << 1;
    QTest::newRow("hangul") << u"한글"_s << QByteArray("??") << 2;
}

void TestCsvExport::shiftJis()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, replaced);

    QByteArray out("prefix");
    QCOMPARE(appendShiftJis(text, out), qsizetype(replaced));
    QCOMPARE(out, QByteArray("prefix") + bytes);
}

void TestCsvExport::exportNumber_data()
{
    QTest::addColumn<qint64>("units");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("half") << qint64(5000) << QByteArray(".5");
    QTest::newRow("minus quarter") << qint64(-2500) << QByteArray("-.25");
    QTest::newRow("smallest step") << qint64(1) << QByteArray(".0001");
    QTest::newRow("13-digit JAN") << qint64(49012345678940000) << QByteArray("4901234567894");
    QTest::newRow("max") << std::numeric_limits<qint64>::max() << QByteArray("922337203685477.5807");
    QTest::newRow("min") << std::numeric_limits<qint64>::min() << QByteArray("-922337203685477.5808");
}

void TestCsvExport::exportNumber()
{
    QFETCH(qint64, units);
    QFETCH(QByteArray, text);

    QByteArray out;
    appendExportNumber(Currency::fromUnits(units), out);
    QCOMPARE(out, text);
    // The catalogue's own export form must agree.
    QCOMPARE(Currency::fromUnits(units).toExportText().toLatin1(), text);
}

void TestCsvExport::golden_data()
{
    QTest::addColumn<bool>("shuffled");
    QTest::addColumn<bool>("earlierFile");
    QTest::addColumn<bool>("deletions"); // products listed, then deleted here and elsewhere
    QTest::newRow("plain") << false << false << false;
    // A template may declare the product columns in another order; the file keeps the canonical one.
    QTest::newRow("columns in another order") << true << false << false;
    QTest::newRow("replacing an earlier file") << false << true << false;
    QTest::newRow("deleted products are left out") << false << false << true;
}

void TestCsvExport::golden()
{
    QFETCH(bool, shuffled);
    QFETCH(bool, earlierFile);
    QFETCH(bool, deletions);
    if (deletions) {
        QVERIFY(insertProduct(m_folder->catalogue(), {.mei = u"削除する"_s}));
        QVERIFY(insertProduct(m_folder->catalogue(), {.mei = u"他で削除"_s}));
    }
    if (shuffled)
        QVERIFY(shuffleProductColumns(m_folder->catalogue()));
    if (earlierFile)
        QVERIFY(writeFile(target(), QByteArray(100000, 'x')));
    RecordSource data1;
    QVERIFY(open(data1));
    if (deletions) {
        QVERIFY(data1.setCurrentRow(3));
        QVERIFY(data1.deleteCurrent());
        QVERIFY(execSql(m_folder->catalogue(), u"delete from syohin where syohin_mei='他で削除'"_s));
    }
    QCOMPARE(data1.recordCount(), deletions ? 4 : 3);
    QVERIFY(data1.setCurrentRow(1));

    const auto result = exportProductCsv(data1, target());
    QVERIFY2(result.ok(), qPrintable(result.status().message()));
    QCOMPARE(result->rows, 3);
    QCOMPARE(result->replacedCharacters, 0);
    QCOMPARE(readFile(target()), readFile(goldenFile));
    QCOMPARE(data1.recordCount(), 3);
    // Streaming the list leaves the current record where it was; no temporary file is left.
    QCOMPARE(data1.currentRow(), 1);
    QCOMPARE(data1.text(Field::syohin_mei), u"ソフト\"特選\"品"_s);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden), (QStringList{u"database.mdb"_s, u"out.csv"_s}));
}

void TestCsvExport::emptyListGivesHeaderOnly()
{
    RecordSource data1;
    QVERIFY(open(data1, SqlText::emptyProductView));
    const auto result = exportProductCsv(data1, target());
    QVERIFY(result.ok());
    QCOMPARE(result->rows, 0);
    const QByteArray golden = readFile(goldenFile);
    QCOMPARE(readFile(target()), golden.left(golden.indexOf("\r\n") + 2));
}

void TestCsvExport::failedReadKeepsEarlierFile_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("reason"); // part of the message, empty when cancelled
    // The table disappears behind the list's back: reading the rows fails half-way.
    QTest::newRow("table gone") << u"ALTER TABLE syohin RENAME TO gone"_s << u"database.mdb"_s;
    // Another program holds the catalogue: rows cannot be read, never written blank.
    QTest::newRow("catalogue locked") << u"BEGIN EXCLUSIVE; UPDATE syohin SET syohin_sale=0"_s << u"使用中"_s;
    QTest::newRow("cancelled") << QString() << QString();
}

void TestCsvExport::failedReadKeepsEarlierFile()
{
    QFETCH(QString, cause);
    QFETCH(QString, reason);
    RecordSource data1;
    QVERIFY(open(data1));
    QVERIFY(exportProductCsv(data1, target()));
    const QByteArray first = readFile(target());

    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open_v2(m_folder->catalogue().toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, cause.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(handleOf(data1), 10);
    qint64 reported = 0;
    const auto result = exportProductCsv(data1, target(), [&](qint64 rows) {
        reported = rows;
        return !cause.isEmpty();
    });
    sqlite3_close(other);
    QVERIFY(!result.ok());
    QCOMPARE(result.status().code() == ErrorCode::Cancelled, cause.isEmpty());
    QCOMPARE(result.status().message().isEmpty(), reason.isEmpty());
    QVERIFY2(result.status().message().contains(reason), qPrintable(result.status().message()));
    QCOMPARE(reported, cause.isEmpty() ? 1 : 0);
    QCOMPARE(readFile(target()), first);
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestCsvExport::unwritableTarget_data()
{
    QTest::addColumn<QString>("relative"); // empty: a device that refuses writing
    QTest::newRow("missing folder") << u"no/such/folder/out.csv"_s;
    QTest::newRow("a folder") << u"folder"_s;
    QTest::newRow("read-only device") << QString();
}

void TestCsvExport::unwritableTarget()
{
    QFETCH(QString, relative);
    QVERIFY(QDir(m_folder->path()).mkdir(u"folder"_s));
    RecordSource data1;
    QVERIFY(open(data1));

    if (relative.isEmpty()) {
        QBuffer readOnly;
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QVERIFY(!writeProductCsv(data1, &readOnly));
        return;
    }
    const QString path = m_folder->filePath(relative);
    const auto result = exportProductCsv(data1, path);
    QVERIFY(!result.ok());
    QVERIFY(!result.status().message().isEmpty());
    QVERIFY(!QFileInfo(path).isFile());
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
    QCOMPARE(data1.recordCount(), 19980);

    const auto result = exportProductCsv(data1, target());
    QVERIFY(result.ok());
    QCOMPARE(result->rows, 19980);
    const QList<QByteArray> lines = readFile(target()).split('\n');
    QCOMPARE(lines.size(), 19982); // header, rows, and the empty piece after the last CR LF
    QVERIFY(lines.last().isEmpty());
    QByteArray expected;
    appendShiftJis(u"\"商品999\",499.5,0,0,999,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(999), expected);
    expected.clear();
    appendShiftJis(u"\"商品1001\",500.5,0,0,1001,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(1000), expected);
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
