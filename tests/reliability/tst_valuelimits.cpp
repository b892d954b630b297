// Hostile and extreme values typed into registration and the detail panel, through the
// record source: text is stored exactly as typed whatever it holds, a number is stored
// exactly or, when it does not fit its field, nothing at all is stored and the field is named.

#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "cataloguescan.h"
#include "engine/files/csvformat.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class TestValueLimits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void typedValueIsStoredWhollyOrNotAtAll_data();
    void typedValueIsStoredWhollyOrNotAtAll();
    void supplierCodeBeyondTheLimitStoresNoSupplier();
    void storedValueIsShownAndFoundAsStored_data();
    void storedValueIsShownAndFoundAsStored();

private:
    QVariant storedField(qint64 rowid, const QString &field);
    void seededRowsAreWhole(qint64 except = 0);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

namespace {
constexpr qint64 seeded = 5;
}

void TestValueLimits::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(u"catalogue.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_path));
    QVERIFY(Crash::seedProducts(m_path, 1, seeded, 20));
}

void TestValueLimits::cleanup()
{
    m_dir.reset();
}

QVariant TestValueLimits::storedField(qint64 rowid, const QString &field)
{
    const auto rows = Test::querySql(m_path, u"SELECT %1 FROM syohin WHERE rowid = %2"_s.arg(field).arg(rowid));
    return rows.size() == 1 ? rows.first().first() : QVariant(u"<no row %1>"_s.arg(rowid));
}

// The seeded products, all of them and unchanged; `except` names a row a test wrote itself.
void TestValueLimits::seededRowsAreWhole(qint64 except)
{
    Crash::Database db(m_path);
    QVERIFY(db.isOpen());
    QCOMPARE(db.integrityCheck(), QStringList{u"ok"_s});
    const Crash::Scan scan = Crash::scanTable(m_path, true);
    const qint64 added = except ? 1 : 0;
    QCOMPARE(scan.rows, seeded + added);
    QCOMPARE(qint64(scan.versions.size()), seeded);
    for (qint64 key = 1; key <= seeded; ++key)
        QCOMPARE(scan.versions.value(key, -1), 0);
    // The only fault allowed is the test's own row, which does not carry a key.
    for (const QString &fault : scan.damage)
        QVERIFY2(except && fault.startsWith(u"row %1:"_s.arg(except)), qPrintable(fault));
}

void TestValueLimits::typedValueIsStoredWhollyOrNotAtAll_data()
{
    QTest::addColumn<int>("field");       // index into syohinFields
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("stored"); // what the file holds; invalid when nothing may be stored

    const auto units = [](qint64 v) { return QVariant::fromValue<qint64>(v); };
    const qint64 max = std::numeric_limits<qint64>::max();
    const qint64 min = std::numeric_limits<qint64>::min();
    constexpr int mei = 0, master = 1, jan = 4, eostani = 6, bumon = 9;

    // Text is stored as typed: nothing in it is SQL, and nothing is cut or replaced.
    for (const QString &text : {u"x' or 'a'='a"_s, u"1 or 1=1"_s, u"1; delete from syohin"_s, u"--"_s, u"/*"_s,
                                u"[a-"_s, u"'"_s, u"a\u0000b"_s, u"\t\r\n\u001b\u007f"_s, u"😀🍣 〜−¥ 𠮷野家 丂"_s,
                                u"１２３"_s, u"123456789012345678901234567890"_s}) {
        QTest::addRow("name %s", text.toUtf8().toPercentEncoding().constData()) << mei << text << QVariant(text);
    }
    const QString megabyte = QString(1 << 20, u'x') + u"商"_s;
    QTest::newRow("name of 1 MB") << mei << megabyte << QVariant(megabyte);

    // Numbers, at and beyond the range of the fixed-point kind.
    QTest::newRow("largest price") << master << u"922337203685477.5807"_s << units(max);
    QTest::newRow("smallest price") << master << u"-922337203685477.5808"_s << units(min);
    QTest::newRow("price one beyond") << master << u"922337203685477.5808"_s << QVariant();
    QTest::newRow("price one below") << master << u"-922337203685477.5809"_s << QVariant();
    QTest::newRow("price rounded past the limit") << master << u"922337203685477.58075"_s << QVariant();
    QTest::newRow("price rounded to the limit") << master << u"922337203685477.58065"_s << units(max - 1);
    QTest::newRow("30-digit JAN") << jan << u"123456789012345678901234567890"_s << QVariant();
    QTest::newRow("13-digit JAN") << jan << u"9999999999999"_s << units(99999999999990000);
    QTest::newRow("full-width JAN") << jan << u"４９０１２３４５６７８９４"_s << units(49012345678940000);
    QTest::newRow("price with SQL") << master << u"1 or 1=1"_s << QVariant();
    QTest::newRow("price with NUL") << master << u"1\u00002"_s << QVariant();
    QTest::newRow("department as 1 MB of digits") << bumon << QString(1 << 20, u'9') << QVariant();
    QTest::newRow("department with leading zeros") << bumon << QString(5000, u'0') + u"12"_s << units(120000);

    // Small integers: -32768..32767 after rounding half to even.
    QTest::newRow("largest unit") << eostani << u"32767"_s << units(32767);
    QTest::newRow("smallest unit") << eostani << u"-32768"_s << units(-32768);
    QTest::newRow("unit one beyond") << eostani << u"32768"_s << QVariant();
    QTest::newRow("unit one below") << eostani << u"-32769"_s << QVariant();
    QTest::newRow("unit rounded past the limit") << eostani << u"32767.5"_s << QVariant();
    QTest::newRow("unit rounded to even at the limit") << eostani << u"-32768.5"_s << units(-32768);
}

void TestValueLimits::typedValueIsStoredWhollyOrNotAtAll()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QVariant, stored);
    const QString name = QString(syohinFields[std::size_t(field)].name);
    const bool fits = stored.isValid();
    const QStringList whole = Crash::productTexts(900, 0, 20);

    // Registration: every field written in order, the hostile one in its place.
    {
        RecordSource syohin;
        syohin.setDatabaseName(m_path);
        syohin.setRecordSource(QString(SqlText::productAppend));
        QVERIFY(syohin.refresh());
        QVERIFY(syohin.addNew());
        for (std::size_t i = 0; i < syohinFields.size(); ++i)
            QVERIFY(syohin.setText(QString(syohinFields[i].name), int(i) == field ? text : whole.at(qsizetype(i))));
        QCOMPARE(syohin.update().ok(), fits);
        if (fits) {
            const qint64 rowid = syohin.lastModified();
            QVERIFY(syohin.setBookmark(rowid));
            QCOMPARE(storedField(rowid, name), stored);
            // The record source shows back what was typed (as a number's plain text).
            if (field == 0)
                QCOMPARE(syohin.text(Field::syohin_mei), text);
            QVERIFY(Test::execSql(m_path, u"DELETE FROM syohin WHERE rowid = %1"_s.arg(rowid)));
        } else {
            QCOMPARE(syohin.status().code(), ErrorCode::InvalidValue);
            QCOMPARE(syohin.status().field(), name);
            QVERIFY(!syohin.status().message().isEmpty());
            // Nothing half-stored, and refreshing drops the unfinished record.
            QCOMPARE(Test::querySql(m_path, u"SELECT count(*) FROM syohin"_s).first().first().toLongLong(), seeded);
            QVERIFY(syohin.refresh());
            QCOMPARE(qint64(syohin.recordCount()), seeded);
        }
    }
    seededRowsAreWhole();
    if (QTest::currentTestFailed())
        return;

    // The same value typed over a stored product in the detail panel, stored on leaving it
    // together with a valid change to another field.
    RecordSource list;
    list.setDatabaseName(m_path);
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    QVERIFY(list.setCurrentRow(2));
    const qint64 rowid = list.bookmark();
    QVERIFY(list.setText(Field::bumon_AU, u"7"_s));
    QVERIFY(list.setText(name, text));
    QCOMPARE(list.setCurrentRow(3).ok(), fits);
    if (fits) {
        QCOMPARE(storedField(rowid, name), stored);
        QCOMPARE(storedField(rowid, QString(Field::bumon_AU)), QVariant::fromValue<qint64>(70000));
    } else {
        QCOMPARE(list.status().code(), ErrorCode::InvalidValue);
        QCOMPARE(list.status().field(), name);
        QCOMPARE(list.currentRow(), 2); // the user stays on the record to correct it
        list.cancelUpdate();
        seededRowsAreWhole();
    }
}

void TestValueLimits::supplierCodeBeyondTheLimitStoresNoSupplier()
{
    // The supplier window's duplicate check takes the code as typed; a code that is not a
    // plain number never reaches a statement, and one too large to store adds nothing.
    QVERIFY(!SqlText::supplierByCodeAsTyped(u"1 or 1=1"_s));
    QVERIFY(!SqlText::supplierByCodeAsTyped(u"1; delete from torihiki"_s));
    const QString tooLarge = u"123456789012345678901234567890"_s;
    RecordSource data1;
    data1.setDatabaseName(m_path);
    data1.setRecordSource(QString(SqlText::supplierAppend));
    QVERIFY(data1.refresh());
    QVERIFY(data1.addNew());
    const QStringList texts = Crash::supplierTexts(1, 10);
    for (std::size_t i = 0; i < torihikiFields.size(); ++i)
        QVERIFY(data1.setText(QString(torihikiFields[i].name), i == 3 ? tooLarge : texts.at(qsizetype(i))));
    QVERIFY(!data1.update());
    QCOMPARE(data1.status().code(), ErrorCode::InvalidValue);
    QCOMPARE(data1.status().field(), QString(Field::torihiki_code));
    QVERIFY(data1.refresh());
    QCOMPARE(data1.recordCount(), 0);
    QCOMPARE(Test::querySql(m_path, u"SELECT count(*) FROM torihiki"_s).first().first().toLongLong(), 0);
}

void TestValueLimits::storedValueIsShownAndFoundAsStored_data()
{
    QTest::addColumn<int>("field");      // index into syohinFields
    QTest::addColumn<QString>("stored"); // SQL literal another program stores
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("csv"); // the CSV item
    QTest::addColumn<QString>("found");  // a condition that finds the row
    QTest::addColumn<QString>("missed"); // one that must not
    constexpr int mei = 0, master = 1, eostani = 6;

    // What a field's kind cannot hold is shown as stored, exported as quoted text, and found
    // by exactly what is shown.
    QTest::newRow("4294967301 in a small integer") << eostani << u"4294967301"_s << u"4294967301"_s
        << QByteArray("\"4294967301\"") << u"syohin_EOStani = 4294967301"_s << u"syohin_EOStani = 5"_s;
    QTest::newRow("100000 in a small integer") << eostani << u"100000"_s << u"100000"_s
        << QByteArray("\"100000\"") << u"syohin_EOStani like 100000"_s << u"syohin_EOStani = -31072"_s;
    QTest::newRow("12abc in a small integer") << eostani << u"'12abc'"_s << u"12abc"_s
        << QByteArray("\"12abc\"") << u"syohin_EOStani like '12abc'"_s << u"syohin_EOStani = 12"_s;
    QTest::newRow("1e300 in a price") << master << u"1e300"_s << u"1.0e+300"_s
        << QByteArray("\"1.0e+300\"") << u"syohin_master like '1.0e+300'"_s << u"syohin_master like '?'"_s;
    QTest::newRow("12.5 stored as a real") << master << u"12.5"_s << u"12.5"_s
        << QByteArray("\"12.5\"") << u"syohin_master = 12.50"_s << u"syohin_master = 0.0012"_s;
    QTest::newRow("full-width digits in a price") << master << u"'１２'"_s << u"１２"_s
        << QByteArray("\"\x82\x50\x82\x51\"") << u"syohin_master = 12"_s << u"syohin_master = 0.0012"_s;
    QTest::newRow("blob in a name") << mei << u"X'E59586E59381'"_s << u"商品"_s
        << QByteArray("\"\x8F\xA4\x95\x69\"") << u"syohin_mei = '商品'"_s << u"syohin_mei = '商'"_s;
}

void TestValueLimits::storedValueIsShownAndFoundAsStored()
{
    QFETCH(int, field);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QByteArray, csv);
    QFETCH(QString, found);
    QFETCH(QString, missed);
    const QString name = QString(syohinFields[std::size_t(field)].name);
    QVERIFY(Test::execSql(m_path, u"UPDATE syohin SET %1 = %2 WHERE rowid = %3"_s.arg(name, stored).arg(seeded)));
    const QString quote = u"SELECT quote(%1) FROM syohin WHERE rowid = %2"_s.arg(name).arg(seeded);
    const QVariant before = Test::sqlValue(m_path, quote);

    RecordSource list;
    list.setDatabaseName(m_path);
    const auto finds = [&](const QString &condition) {
        list.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and "_s + condition);
        if (!list.refresh())
            return false;
        for (int row = 0; row < list.recordCount(); ++row) {
            if (list.setCurrentRow(row) && list.bookmark() == seeded)
                return true;
        }
        return false;
    };
    QVERIFY(!finds(missed));
    QVERIFY2(finds(found), qPrintable(list.status().message()));
    QCOMPARE(list.text(name), shown);

    std::array<int, 11> columns;
    for (std::size_t i = 0; i < columns.size(); ++i)
        columns[i] = list.fieldIndex(syohinFields[i].name);
    ProductCsvFormatter formatter(columns);
    QByteArray line;
    formatter.appendRow(list.row(list.currentRow()), line);
    QCOMPARE(line.split(',').at(field), csv);

    // Storing an edit of another field leaves it as it was.
    QVERIFY(list.setText(Field::bumon_AU, u"7"_s));
    QVERIFY(list.storePending());
    QCOMPARE(Test::sqlValue(m_path, quote), before);
}

QTEST_GUILESS_MAIN(TestValueLimits)
#include "tst_valuelimits.moc"
