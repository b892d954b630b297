// Reading Access catalogues: files written by tools/jetwriter (checked once against mdbtools'
// mdb-export and the npm package mdb-reader), read through the program's child reader.
#include "engine/jet/fileformat.h"
#include "engine/jet/jetcatalogue.h"
#include "engine/jet/jetchild.h"
#include "engine/jet/jetimport.h"
#include "engine/csv/csvimport.h"

#include "jetfixture.h"

#include "engine/sqlite/connection.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <cstring>

using namespace Qt::StringLiterals;
using namespace Merchalog;
namespace Writer = Merchalog::JetWriter;

Q_DECLARE_METATYPE(Writer::Version)

namespace {

const QString null = u"(null)"_s;

// The fixture's rows as the catalogue reads them: each field's text, (null) for Null, or "!"
// and a word of the reason the value is refused.
QList<QStringList> expectedProducts()
{
    return {
        {u"緑茶 500ml"_s, u"198"_s, u"158.5"_s, u"120.25"_s, u"4901234567894"_s, u"100001"_s, u"12"_s,
         u"株式会社サクラ商事"_s, u"1"_s, u"10"_s, u"1"_s},
        {u"ｺｰﾗ ｾﾞﾛ　一本"_s, u"-922337203685477.5808"_s, u"0.1"_s, u"0.1"_s, u"-99"_s, u"-2147483648"_s,
         u"-32768"_s, u"長いメモ"_s.repeated(500), u"255"_s, u"-32768"_s, u"１，９８０"_s},
        QStringList(11, null),
        {u"範囲外"_s, u"922337203685477.5807"_s, u"!4桁"_s, u"!範囲"_s, u"!範囲"_s, u"2147483647"_s, u"!整数"_s,
         u"あいうえおかきくけこ"_s.repeated(3000), u"0"_s, u"32767"_s, u"abc"_s},
        {u""_s, u"0.0001"_s, u"!NaN"_s, u"!無限大"_s, u"4.5"_s, u"0"_s, u"0"_s, u""_s, u"0"_s, u"0"_s, u"0"_s},
        {u"!文字"_s, u"2"_s, u"2"_s, u"2"_s, u"2"_s, u"2"_s, u"2"_s, u"!文字"_s, u"2"_s, u"2"_s, u"2"_s},
        {u"移した行"_s, u"3"_s, u"3"_s, u"3"_s, u"3"_s, u"3"_s, u"3"_s, u"移した行のメモ"_s, u"3"_s, u"3"_s, u"3"_s},
    };
}

QList<QStringList> expectedSuppliers()
{
    return {
        {u"髙島屋①～"_s, u"東京都中央区日本橋1-2-3"_s, u"03-1234-5678"_s, u"120"_s, u"103-0027"_s},
        {u"ASCII Supplier"_s, u"x"_s.repeated(5000), null, u"1.5"_s, u""_s},
    };
}

QByteArray hashOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

template<typename T>
QByteArray bytesOf(T value)
{
    static_assert(std::endian::native == std::endian::little);
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace

class TestJetReader : public QObject
{
    Q_OBJECT

private:
    static QList<Writer::Table> fixture() { return Test::jetFixture(); }

    QString write(const QList<Writer::Table> &tables, Writer::Version version, bool compress = true)
    {
        const QString path = m_dir->filePath(u"old %1.mdb"_s.arg(++m_files));
        return Test::writeJetFile(tables, {version, compress}, path) ? path : QString();
    }

    // Checks every row of a table against the expected texts.
    void compareRows(const JetCatalogue &catalogue, QLatin1StringView table, const QList<QStringList> &expected)
    {
        QList<JetTextRow> rows;
        QVERIFY(catalogue.forEachRow(table, [&](const JetTextRow &row) {
            rows << row;
            return true;
        }));
        QCOMPARE(rows.size(), expected.size());
        const auto &fields = table == Table::syohin ? std::span<const FieldDef>(syohinFields)
                                                    : std::span<const FieldDef>(torihikiFields);
        for (qsizetype r = 0; r < rows.size(); ++r) {
            QCOMPARE(rows[r].row, r + 1);
            for (std::size_t f = 0; f < fields.size(); ++f) {
                const QString want = expected[r][qsizetype(f)];
                const auto error = std::find_if(rows[r].errors.cbegin(), rows[r].errors.cend(),
                                                [&](const JetValueError &e) { return e.field == fields[f].name; });
                const QString where = u"%1 row %2 %3"_s.arg(table).arg(r + 1).arg(fields[f].name);
                if (want.startsWith(u'!')) {
                    QVERIFY2(error != rows[r].errors.cend() && error->reason.contains(want.mid(1)), qPrintable(where));
                } else {
                    QVERIFY2(error == rows[r].errors.cend(), qPrintable(where + u": "_s + (error != rows[r].errors.cend() ? error->reason : QString())));
                    QCOMPARE(rows[r].isNull[qsizetype(f)], want == null);
                    if (want != null)
                        QCOMPARE(rows[r].values[qsizetype(f)], want);
                }
            }
        }
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_files = 0;

private slots:
    void initTestCase()
    {
        JetReader::setReaderProgram(QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog"));
    }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() { m_dir.reset(); }

    // Every kind of value, in both versions, text compressed or not; rows marked deleted are
    // left out and a moved row is read once, in its place. The file stays as it was.
    void readsBothVersions_data()
    {
        QTest::addColumn<Writer::Version>("version");
        QTest::addColumn<bool>("compress");
        QTest::newRow("Jet 3, code page 932") << Writer::Version::Jet3 << true;
        QTest::newRow("Jet 4, compressed text") << Writer::Version::Jet4 << true;
        QTest::newRow("Jet 4, UTF-16 text") << Writer::Version::Jet4 << false;
    }
    void readsBothVersions()
    {
        QFETCH(Writer::Version, version);
        QFETCH(bool, compress);
        const QString path = write(fixture(), version, compress);
        const QByteArray before = hashOf(path);
        JetCatalogue catalogue(path);
        QVERIFY2(catalogue.read(), qPrintable(catalogue.errorString()));
        QCOMPARE(catalogue.version(), version == Writer::Version::Jet3 ? 3 : 4);
        QCOMPARE(catalogue.ignored(), (QStringList{u"メモ帳"_s, u"syohin.写真"_s}));
        compareRows(catalogue, Table::syohin, expectedProducts());
        compareRows(catalogue, Table::torihiki, expectedSuppliers());
        QCOMPARE(hashOf(path), before);
    }

    // Floating-point numbers become the shortest decimal that is read back as the same number;
    // small integers are whole numbers in range, never rounded.
    void convertsNumbers_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("smallInt");
        QTest::addColumn<QString>("expected");
        const int single = int(JetType::Single), dbl = int(JetType::Double);
        QTest::newRow("largest currency") << int(JetType::Currency) << bytesOf(INT64_MAX) << false << u"922337203685477.5807"_s;
        QTest::newRow("single past 2^24") << single << bytesOf(16777217.0f) << false << u"16777216"_s;
        QTest::newRow("double of four decimals") << dbl << bytesOf(1234.5678) << false << u"1234.5678"_s;
        QTest::newRow("double of five decimals") << dbl << bytesOf(1e-5) << false << u"!4桁"_s;
        QTest::newRow("double just past the range") << dbl << bytesOf(922337203685477.5807) << false << u"!範囲"_s;
        QTest::newRow("negative zero") << dbl << bytesOf(-0.0) << false << u"0"_s;
        QTest::newRow("small integer from currency") << int(JetType::Currency) << bytesOf(std::int64_t(120000)) << true << u"12"_s;
        QTest::newRow("small integer with a fraction") << int(JetType::Currency) << bytesOf(std::int64_t(125000)) << true << u"!整数"_s;
        QTest::newRow("small integer below the range") << int(JetType::Long) << bytesOf(std::int32_t(-32769)) << true << u"!整数"_s;
        QTest::newRow("small integer from a double") << dbl << bytesOf(2.0) << true << u"2"_s;
    }
    void convertsNumbers()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, stored);
        QFETCH(bool, smallInt);
        QFETCH(QString, expected);
        const JetColumn column{u"f"_s, std::uint8_t(type)};
        const JetValue value{JetStream::ValueState::Value, stored};
        QString reason;
        QString got;
        if (smallInt) {
            if (const auto number = jetSmallInt(column, value, &reason))
                got = QString::number(*number);
        } else if (const auto number = jetCurrency(column, value, &reason)) {
            got = number->toPlainText();
        }
        if (expected.startsWith(u'!')) {
            QVERIFY2(got.isEmpty() && reason.contains(expected.mid(1)), qPrintable(got + reason));
        } else {
            QCOMPARE(got, expected);
        }
    }

    // A table or field the catalogue needs is missing, or of a type that cannot hold its values:
    // the file is refused, naming it.
    void refusesMissingParts_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::addColumn<int>("change"); // -1 removes it, -2 renames it to syohin_mei, else a type
        QTest::addColumn<QString>("message");
        QTest::newRow("no supplier table") << u"torihiki"_s << QString() << -1 << u"表 torihiki がありません"_s;
        QTest::newRow("no JAN field") << u"syohin"_s << u"syohin_JAN"_s << -1 << u"表 syohin に項目 syohin_JAN がありません"_s;
        QTest::newRow("a date for a price") << u"syohin"_s << u"syohin_master"_s << int(Writer::Type::DateTime)
                                            << u"項目 syohin_master は日付/時刻型"_s;
        QTest::newRow("a number for a name") << u"torihiki"_s << u"torihiki_mei"_s << int(Writer::Type::Long)
                                             << u"項目 torihiki_mei は数値型（長整数型）"_s;
        QTest::newRow("the name twice") << u"syohin"_s << u"bumon_AU"_s << -2 << u"項目 syohin_mei が二つあります"_s;
    }
    void refusesMissingParts()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(int, change);
        QFETCH(QString, message);
        QList<Writer::Table> tables = fixture();
        for (qsizetype t = 0; t < tables.size(); ++t) {
            if (tables[t].name != table)
                continue;
            if (column.isEmpty()) {
                tables.removeAt(t);
                break;
            }
            for (qsizetype c = 0; c < tables[t].columns.size(); ++c) {
                if (tables[t].columns[c].name != column)
                    continue;
                if (change == -2) {
                    tables[t].columns[c].name = u"SYOHIN_MEI"_s;
                    continue;
                }
                for (auto &row : tables[t].rows) {
                    if (change == -1)
                        row.erase(row.begin() + c);
                    else
                        row[std::size_t(c)] = {};
                }
                if (change == -1)
                    tables[t].columns.removeAt(c);
                else
                    tables[t].columns[c].type = Writer::Type(change);
                break;
            }
        }
        const QString path = write(tables, Writer::Version::Jet4);
        JetCatalogue catalogue(path);
        QVERIFY(!catalogue.read());
        QVERIFY2(catalogue.errorString().contains(message) && catalogue.errorString().contains(path),
                 qPrintable(catalogue.errorString()));
    }

    // A Memo value is read whole up to the reader's limit and refused beyond it, never cut.
    void readsLongMemosWhole_data()
    {
        QTest::addColumn<Writer::Version>("version");
        QTest::addColumn<int>("characters");
        QTest::addColumn<bool>("whole");
        const int limit = JetChild::maxValueBytes;
        QTest::newRow("Jet 3 at the limit") << Writer::Version::Jet3 << limit << true;
        QTest::newRow("Jet 3 past the limit") << Writer::Version::Jet3 << limit + 1 << false;
        QTest::newRow("Jet 4 at the limit") << Writer::Version::Jet4 << limit / 2 << true;
        QTest::newRow("Jet 4 past the limit") << Writer::Version::Jet4 << limit / 2 + 1 << false;
    }
    void readsLongMemosWhole()
    {
        QFETCH(Writer::Version, version);
        QFETCH(int, characters);
        QFETCH(bool, whole);
        QList<Writer::Table> tables = fixture();
        tables[1].rows[0][1] = u"y"_s.repeated(characters); // torihiki_add, a Memo
        JetCatalogue catalogue(write(tables, version));
        QVERIFY2(catalogue.read(), qPrintable(catalogue.errorString()));
        JetTextRow first;
        QVERIFY(catalogue.forEachRow(Table::torihiki, [&](const JetTextRow &row) {
            first = row;
            return false;
        }));
        if (whole) {
            QVERIFY(first.errors.isEmpty());
            QCOMPARE(first.values[1].size(), characters);
        } else {
            QCOMPARE(first.errors.size(), 1);
            QCOMPARE(first.errors[0].field, u"torihiki_add"_s);
            QVERIFY2(first.errors[0].reason.contains(u"長すぎます"_s), qPrintable(first.errors[0].reason));
            QVERIFY(first.values[1].isEmpty());
        }
    }

    // Whatever the file or the reader does, reading ends with a message naming the file: a
    // damaged file, or a reader that hangs, crashes or hands over nonsense.
    void survivesDamage_data()
    {
        QTest::addColumn<int>("truncateTo"); // bytes kept, -1 for all
        QTest::addColumn<int>("garbagePage"); // page overwritten, -1 for none
        QTest::addColumn<QString>("reader");   // a stand-in reader's script, empty for the real one
        QTest::addColumn<QString>("message");
        QTest::newRow("empty file") << 0 << -1 << QString() << u"Access のデータベースではありません"_s;
        QTest::newRow("header page only") << 4096 << -1 << QString() << u"表の一覧"_s;
        QTest::newRow("cut in the data") << 4096 * 10 << -1 << QString() << u"壊れています"_s;
        QTest::newRow("garbage table list") << -1 << 2 << QString() << u"表の一覧"_s;
        QTest::newRow("reader hangs") << -1 << -1 << u"sleep 30"_s << u"進まない"_s;
        QTest::newRow("reader crashes") << -1 << -1 << u"kill -SEGV $$"_s << u"異常終了"_s;
        QTest::newRow("reader stops midway") << -1 << -1 << u"printf 'MERCHALOG-JET-1\\nV\\1\\0'"_s << u"異常終了"_s;
        QTest::newRow("reader writes nonsense") << -1 << -1 << u"echo this is not what a reader writes"_s << u"壊れています"_s;
        QTest::newRow("reader of another version") << -1 << -1 << u"printf 'MERCHALOG-JET-0\nV\1\0\0\0\4X\0\0\0\0'"_s
                                                   << u"壊れています"_s;
    }
    void survivesDamage()
    {
        QFETCH(int, truncateTo);
        QFETCH(int, garbagePage);
        QFETCH(QString, reader);
        QFETCH(QString, message);
        const QString path = write(fixture(), Writer::Version::Jet4);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (truncateTo >= 0)
            QVERIFY(file.resize(truncateTo));
        if (garbagePage >= 0) {
            QByteArray garbage(4096, '\0');
            for (qsizetype i = 0; i < garbage.size(); ++i)
                garbage[i] = char((i * 7919 + 13) % 251);
            QVERIFY(file.seek(qint64(garbagePage) * 4096) && file.write(garbage) == garbage.size());
        }
        file.close();
        if (!reader.isEmpty()) {
            QFile script(m_dir->filePath(u"reader.sh"_s));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\n" + reader.toUtf8() + "\n");
            script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
            script.close();
            JetReader::setReaderProgram(script.fileName());
        }
        JetCatalogue catalogue(path);
        catalogue.reader().setTimeout(1500);
        const bool read = catalogue.read();
        JetReader::setReaderProgram(QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog"));
        QVERIFY(!read);
        QVERIFY2(catalogue.errorString().contains(message) && catalogue.errorString().contains(path),
                 qPrintable(catalogue.errorString()));
    }

    // merchalog copy OLD NEW: an Access file goes into a new catalogue, each value as the
    // import takes it, rows in error listed and left out; a file that cannot be read leaves
    // nothing behind, and the old file and an existing target stay as they were.
    void copiesIntoNewCatalogue_data()
    {
        QTest::addColumn<Writer::Version>("version");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // in the output, or the error output on failure
        QTest::addColumn<QStringList>("products"); // what the new catalogue holds
        const QStringList stored = {
            u"緑茶 500ml|1980000|49012345678940000|12|10000|9"_s,
            u"ｺｰﾗ ｾﾞﾛ　一本|-9223372036854775808|-990000|-32768|19800000|2000"_s,
            u"null|null|null|null|null|null"_s, u"移した行|30000|30000|3|30000|7"_s};
        const QString both = u"商品 4 件、取引先 2 件を取り込みました。エラーのため取り込まなかった行: 3 行。"_s;
        QTest::newRow("Jet 3") << Writer::Version::Jet3 << QString() << 0 << both << stored;
        QTest::newRow("Jet 4") << Writer::Version::Jet4 << QString() << 0 << both << stored;
        QTest::newRow("Memo past the limit") << Writer::Version::Jet4 << u"long memo"_s << 0
                                             << u"取引先 1 件を取り込みました。エラーのため取り込まなかった行: 4 行。"_s << stored;
        QTest::newRow("text where a number belongs") << Writer::Version::Jet3 << u"text number"_s << 0
                                                     << u"商品 3 件"_s << stored.mid(1);
        QTest::newRow("no JAN field") << Writer::Version::Jet4 << u"no JAN"_s << 1 << u"項目 syohin_JAN がありません"_s << QStringList();
        QTest::newRow("truncated") << Writer::Version::Jet4 << u"truncate"_s << 1 << u"壊れています"_s << QStringList();
        QTest::newRow("garbage pages") << Writer::Version::Jet3 << u"garbage"_s << 1 << u"表の一覧"_s << QStringList();
        QTest::newRow("target exists") << Writer::Version::Jet4 << u"exists"_s << 1 << u"すでにあります"_s << QStringList();
        QTest::newRow("no such folder") << Writer::Version::Jet4 << u"no folder"_s << 1 << u"nosuch/new.mdb（"_s << QStringList();
        QTest::newRow("a catalogue of ours") << Writer::Version::Jet4 << u"ours"_s << 0 << u"コピーしました"_s << QStringList();
    }
    void copiesIntoNewCatalogue()
    {
        QFETCH(Writer::Version, version);
        QFETCH(QString, change);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QStringList, products);
        QList<Writer::Table> tables = fixture();
        if (change == u"long memo")
            tables[1].rows[0][1] = u"y"_s.repeated(JetChild::maxValueBytes / 2 + 1);
        if (change == u"text number")
            tables[0].rows[0][10] = u"十"_s; // bumon_AU, a Text column
        if (change == u"no JAN") {
            tables[0].columns.removeAt(4);
            for (auto &row : tables[0].rows)
                row.erase(row.begin() + 4);
        }
        QString old = m_dir->filePath(u"old.mdb"_s);
        if (change == u"ours")
            QVERIFY(createCatalogueFile(old).ok());
        else
            QVERIFY(Test::writeJetFile(tables, {version, true}, old));
        if (change == u"truncate" || change == u"garbage") {
            QFile file(old);
            QVERIFY(file.open(QIODevice::ReadWrite));
            if (change == u"truncate")
                QVERIFY(file.resize(file.size() / 2));
            else
                QVERIFY(file.seek(2 * 2048) && file.write(QByteArray(4096, '\x5a')) == 4096);
        }
        const QString target = m_dir->filePath(change == u"no folder" ? u"nosuch/new.mdb"_s : u"new.mdb"_s);
        if (change == u"exists")
            QVERIFY(Test::writeJetFile(tables, {version, true}, target));
        const QByteArray oldBytes = hashOf(old);
        const QByteArray targetBytes = hashOf(target);

        QProcess copy;
        copy.start(QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog"), {u"copy"_s, old, target});
        QVERIFY(copy.waitForFinished(60000));
        const QString out = QString::fromUtf8(copy.readAllStandardOutput());
        const QString err = QString::fromUtf8(copy.readAllStandardError());
        QCOMPARE(copy.exitCode(), status);
        QVERIFY2((status == 0 ? out : err).contains(said), qPrintable(out + err));
        QVERIFY2(!err.contains(u".tmp"_s), qPrintable(err)); // the temporary file is never named
        QCOMPARE(hashOf(old), oldBytes);
        if (status != 0) {
            QCOMPARE(hashOf(target), targetBytes);
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), change == u"exists" ? 2 : 1);
            return;
        }
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QVERIFY(Connection::check(target).ok());
        QStringList got;
        for (const QVariantList &row : Test::querySql(target, u"SELECT syohin_mei, syohin_master, syohin_JAN, "
                                                              u"syohin_EOStani, bumon_AU, length(syohin_torihiki) "
                                                              u"FROM syohin ORDER BY syohin_id"_s)) {
            QStringList fields;
            for (const QVariant &value : row)
                fields << (value.isNull() ? u"null"_s : value.toString());
            got << fields.join(u'|');
        }
        QCOMPARE(got, products);
        if (change.isEmpty()) {
            QVERIFY2(err.contains(u"syohin 4 行目 syohin_EOStani「40000」"_s) && err.contains(u"syohin 6 行目 syohin_mei"_s), qPrintable(err));
            QCOMPARE(Test::querySql(target, u"SELECT count(*), sum(length(torihiki_add)) FROM torihiki"_s),
                     (QList<QVariantList>{{qint64(2), qint64(5014)}}));
        }
    }

    // Cancelled while reading or while storing, the import leaves nothing beside the old file;
    // complete, its error rows saved as CSV come back through the CSV import with the same
    // reasons.
    void importLeavesNothingOrErrorRows_data()
    {
        QTest::addColumn<int>("cancel"); // 0 never, 1 while reading, 2 while storing
        QTest::newRow("cancelled while reading") << 1;
        QTest::newRow("cancelled while storing") << 2;
        QTest::newRow("complete, error rows saved") << 0;
    }
    void importLeavesNothingOrErrorRows()
    {
        QFETCH(int, cancel);
        const QString old = write(fixture(), Writer::Version::Jet4);
        JetImport import(old);
        const QString target = m_dir->filePath(u"new.mdb"_s);
        bool cancelledStoring = false;
        const Status stored = import.store(target, [&](qint64 done, qint64 total) {
            cancelledStoring = done > total / 2; // the second half of the work stores
            return cancel == 0 || cancelledStoring != (cancel == 2);
        });
        if (cancel != 0) {
            QCOMPARE(stored.code(), ErrorCode::Cancelled);
            QCOMPARE(cancelledStoring, cancel == 2);
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(old).fileName()});
            return;
        }
        QVERIFY2(stored, qPrintable(stored.message()));
        const ImportPlan &products = import.plan().of(ImportTable::Products);
        QCOMPARE(products.count(RowOutcome::Error), 3);
        const QString errors = m_dir->filePath(u"errors.csv"_s);
        QVERIFY(import.saveErrorRows(ImportTable::Products, errors));
        CsvImport again(target, errors, ImportTable::Products, DuplicateChoice::Add);
        QVERIFY(again.makePlan());
        QCOMPARE(again.plan().count(RowOutcome::Error), 3);
        QCOMPARE(again.plan().unknownColumns, QStringList());
    }

    void tellsFormats_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("format");
        const QByteArray jet("\0\1\0\0Standard Jet DB\0", 20);
        QTest::newRow("our catalogue") << QByteArray("SQLite format 3\0\x10\0", 18) << int(FileFormat::Sqlite);
        QTest::newRow("Access 97") << jet + QByteArray("\0\0\0\0", 4) << int(FileFormat::Jet3);
        QTest::newRow("Access 2000") << jet + QByteArray("\1\0\0\0", 4) << int(FileFormat::Jet4);
        QTest::newRow("Jet of an unknown version") << jet + QByteArray("\5\0\0\0", 4) << int(FileFormat::Other);
        QTest::newRow("Access 2007") << QByteArray("\0\1\0\0Standard ACE DB\0\2\0\0\0", 24) << int(FileFormat::Ace);
        QTest::newRow("cut after the engine name") << jet << int(FileFormat::Other);
        QTest::newRow("text") << QByteArray("商品名,標準価格\r\n") << int(FileFormat::Other);
        QTest::newRow("empty") << QByteArray() << int(FileFormat::Other);
    }
    void tellsFormats()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, format);
        const QString path = m_dir->filePath(u"file.mdb"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(head) == head.size());
        file.close();
        QCOMPARE(int(fileFormatOf(path)), format);
        QCOMPARE(fileFormatOf(m_dir->filePath(u"missing.mdb"_s)), FileFormat::Unreadable);
    }
};

QTEST_GUILESS_MAIN(TestJetReader)
#include "tst_jetreader.moc"
