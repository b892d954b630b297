// The CSV export file: Shift_JIS bytes, number forms, the golden file for a seeded list,
// streaming over the list without moving the current record, and failures that must leave
// an earlier file alone.
#include "testsupport.h"

#include "catalogue/currentcatalogue.h"
#include "catalogue/recordsource.h"
#include "catalogue/sqltexts.h"
#include "files/csvwriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// "商品名" in quotes, then the comma.
const QByteArray headerBytes = QByteArray::fromHex("228fa4956996bc222c");

// Files left beside an export target (temporary files included).
int csvFilesIn(const QString &folder)
{
    return int(QDir(folder).entryList({u"*.csv*"_s, u".*.csv*"_s}, QDir::Files | QDir::Hidden).size());
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
    void exportNumber_data();
    void exportNumber();

    void goldenFile();
    void fileColumnOrderDoesNotMatter();
    void emptyListGivesHeaderOnly();
    void exportReplacesEarlierFile();
    void failedReadKeepsEarlierFile();
    void unwritableTarget_data();
    void unwritableTarget();
    void failingDeviceReportsError();
    void largeListStreams();

private:
    QString seedGoldenCatalogue();

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCsvExport::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCsvExport::cleanup()
{
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_dir.reset();
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

    QTest::newRow("zero") << qint64(0) << QByteArray("0");
    QTest::newRow("half") << qint64(5000) << QByteArray(".5");
    QTest::newRow("minus quarter") << qint64(-2500) << QByteArray("-.25");
    QTest::newRow("whole") << qint64(19800000) << QByteArray("1980");
    QTest::newRow("one decimal") << qint64(125000) << QByteArray("12.5");
    QTest::newRow("negative whole") << qint64(-30000) << QByteArray("-3");
    QTest::newRow("smallest step") << qint64(1) << QByteArray(".0001");
    QTest::newRow("minus smallest step") << qint64(-1) << QByteArray("-.0001");
    QTest::newRow("inner zeros") << qint64(1000010) << QByteArray("100.001");
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

QString TestCsvExport::seedGoldenCatalogue()
{
    const QString path = m_dir->filePath(u"golden.mdb"_s);
    if (!Test::makeCatalogue(path))
        return {};
    Test::Product first;
    first.mei = u"①番 テスト商品"_s;
    first.master = u"1980"_s;
    first.sale = u"12.5"_s;
    first.genka = u"0.5"_s;
    first.torihiki = u"髙島商事"_s;
    Test::Product second;
    second.mei = u"ソフト\"特選\"品"_s;
    second.master = QString();
    second.sale = u"-0.25"_s;
    second.genka = u"0"_s;
    second.jan = u"4512345678901"_s;
    second.eos = u"20000"_s;
    second.eostani = u"-3"_s;
    second.torihikicode = u"9999999999999"_s;
    second.bumon = u"12"_s;
    second.bumonAU = u"0"_s;
    Test::Product reserved;
    reserved.mei = u"予約行"_s;
    reserved.jan = u"-99"_s;
    Test::Product third;
    third.mei = u"ｶﾀｶﾅ,カンマ"_s;
    third.master = u"100.0001"_s;
    third.jan = u"1"_s;
    third.eos = u"0"_s;
    third.eostani = u"0"_s;
    third.torihiki = QString();
    third.torihikicode = u"1"_s;
    third.bumon = u"1"_s;
    third.bumonAU = u"2"_s;
    for (const auto &product : {first, second, reserved, third}) {
        if (!Test::insertProduct(path, product))
            return {};
    }
    return path;
}

void TestCsvExport::goldenFile()
{
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());
    QCOMPARE(data1.recordCount(), 3);
    QVERIFY(data1.setCurrentRow(1));

    const QString target = m_dir->filePath(u"out.csv"_s);
    const CsvResult result = exportProductCsv(data1, target);
    QVERIFY2(result.ok, qPrintable(result.errorString));
    QCOMPARE(result.rows, 3);
    QCOMPARE(result.replacedCharacters, 0);

    const QByteArray bytes = readAll(target);
    QVERIFY(bytes.startsWith(headerBytes));
    QCOMPARE(bytes, readAll(QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv")));
    QCOMPARE(data1.currentRow(), 1);
    QCOMPARE(data1.text(Field::syohin_mei), u"ソフト\"特選\"品"_s);
}

void TestCsvExport::fileColumnOrderDoesNotMatter()
{
    // A template may declare the product columns in another order; the file still follows
    // the canonical order.
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    QVERIFY(Test::execSql(path, u"CREATE TABLE shuffled (bumon_AU CURRENCY, syohin_JAN CURRENCY, "
                                 "syohin_torihiki TEXT, syohin_mei TEXT, bumon_code CURRENCY, syohin_sale CURRENCY, "
                                 "syohin_EOStani SMALLINT, syohin_master CURRENCY, syohin_torihikicode CURRENCY, "
                                 "syohin_genka CURRENCY, syohin_EOS CURRENCY);"
                                 "INSERT INTO shuffled (rowid, bumon_AU, syohin_JAN, syohin_torihiki, syohin_mei, "
                                 "bumon_code, syohin_sale, syohin_EOStani, syohin_master, syohin_torihikicode, "
                                 "syohin_genka, syohin_EOS) SELECT rowid, bumon_AU, syohin_JAN, syohin_torihiki, "
                                 "syohin_mei, bumon_code, syohin_sale, syohin_EOStani, syohin_master, "
                                 "syohin_torihikicode, syohin_genka, syohin_EOS FROM syohin;"
                                 "DROP TABLE syohin; ALTER TABLE shuffled RENAME TO syohin;"_s));
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());
    QCOMPARE(data1.fieldName(0), u"bumon_AU"_s);

    const QString target = m_dir->filePath(u"out.csv"_s);
    QVERIFY(exportProductCsv(data1, target).ok);
    QCOMPARE(readAll(target), readAll(QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv")));
}

void TestCsvExport::emptyListGivesHeaderOnly()
{
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::emptyProductView));
    QVERIFY(data1.refresh());

    const QString target = m_dir->filePath(u"empty.csv"_s);
    const CsvResult result = exportProductCsv(data1, target);
    QVERIFY(result.ok);
    QCOMPARE(result.rows, 0);
    const QByteArray golden = readAll(QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv"));
    QCOMPARE(readAll(target), golden.left(golden.indexOf("\r\n") + 2));
}

void TestCsvExport::exportReplacesEarlierFile()
{
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());

    const QString target = m_dir->filePath(u"out.csv"_s);
    {
        QFile earlier(target);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(QByteArray(100000, 'x'));
    }
    QVERIFY(exportProductCsv(data1, target).ok);
    QCOMPARE(readAll(target), readAll(QStringLiteral(MERCHALOG_TEST_DATA "/files/products.csv")));
    QCOMPARE(csvFilesIn(m_dir->path()), 1);
}

void TestCsvExport::failedReadKeepsEarlierFile()
{
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());

    const QString target = m_dir->filePath(u"out.csv"_s);
    QVERIFY(exportProductCsv(data1, target).ok);
    const QByteArray first = readAll(target);

    // The table disappears behind the list's back: reading the rows fails half-way.
    QVERIFY(Test::execSql(path, u"ALTER TABLE syohin RENAME TO gone"_s));
    const CsvResult result = exportProductCsv(data1, target);
    QVERIFY(!result.ok);
    QVERIFY(!result.errorString.isEmpty());
    QCOMPARE(readAll(target), first);
    QCOMPARE(csvFilesIn(m_dir->path()), 1);
}

void TestCsvExport::unwritableTarget_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing folder") << u"no/such/folder/out.csv"_s;
    QTest::newRow("a folder") << u"folder"_s;
}

void TestCsvExport::unwritableTarget()
{
    QFETCH(QString, relative);
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    QVERIFY(QDir(m_dir->path()).mkdir(u"folder"_s));
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());

    const QString target = m_dir->filePath(relative);
    const CsvResult result = exportProductCsv(data1, target);
    QVERIFY(!result.ok);
    QVERIFY(!result.errorString.isEmpty());
    QVERIFY(!QFileInfo(target).isFile());
}

void TestCsvExport::failingDeviceReportsError()
{
    const QString path = seedGoldenCatalogue();
    QVERIFY(!path.isEmpty());
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());

    QBuffer readOnly;
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    const CsvResult result = writeProductCsv(data1, &readOnly);
    QVERIFY(!result.ok);
}

void TestCsvExport::largeListStreams()
{
    // Enough rows to pass the write buffer several times: every line arrives, in list order.
    const QString path = m_dir->filePath(u"large.mdb"_s);
    QVERIFY(Test::makeCatalogue(path));
    QVERIFY(Test::execSql(path, u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                                 "INSERT INTO syohin (syohin_mei, syohin_master, syohin_sale, syohin_genka, syohin_JAN, "
                                 "syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, bumon_code, bumon_AU) "
                                 "SELECT '商品' || i, i * 5000, 0, 0, CASE WHEN i % 1000 = 0 THEN -990000 ELSE i * 10000 END, "
                                 "0, 1, '取引先', 120 * 10000, 3 * 10000, 10000 FROM n"_s));
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource data1;
    data1.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(data1.refresh());
    QCOMPARE(data1.recordCount(), 19980);

    const QString target = m_dir->filePath(u"large.csv"_s);
    const CsvResult result = exportProductCsv(data1, target);
    QVERIFY(result.ok);
    QCOMPARE(result.rows, 19980);
    const QList<QByteArray> lines = readAll(target).split('\n');
    QCOMPARE(lines.size(), 19982); // header, rows, and the empty piece after the last CR LF
    QVERIFY(lines.last().isEmpty());
    QByteArray expected;
    appendShiftJis(u"\"商品999\",499.5,0,0,999,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(999), expected);
    expected.clear();
    appendShiftJis(u"\"商品1001\",500.5,0,0,1001,0,1,\"取引先\",120,3,1\r"_s, expected);
    QCOMPARE(lines.at(1000), expected);
}

QTEST_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
