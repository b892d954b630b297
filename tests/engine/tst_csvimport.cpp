// The CSV import: reading files from anywhere, matching their columns, checking their values
// as registration does, duplicates, and storing all or nothing.
#include "testsupport.h"

#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"
#include "engine/csv/csvimport.h"
#include "engine/csv/csvreader.h"
#include "engine/files/csvwriter.h"
#include "engine/csv/keyset.h"
#include "engine/server/cataloguetransfer.h"
#include "engine/statements/likefunction.h"
#include "pgtestserver.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

Q_DECLARE_METATYPE(Merchalog::TextEncoding)
Q_DECLARE_METATYPE(Merchalog::ImportTable)
Q_DECLARE_METATYPE(Merchalog::DuplicateChoice)
Q_DECLARE_METATYPE(Merchalog::ErrorCode)

namespace {

QByteArray encoded(const QString &text, const char *encoding)
{
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

const QString productHeader = u"\"商品名\",\"商品マスタ価格\",\"商品特売価格\",\"商品原価価格\",\"商品JANコード\","
                              u"\"商品発注コード\",\"商品発注単位\",\"商品取引先名\",\"商品取引先コード\","
                              u"\"商品部門コード\",\"商品部門カテゴリ\"\r\n"_s;

// A product line in the export's column order; the supplier's name left to the catalogue.
QString product(const QString &name, const QString &master, const QString &jan, const QString &code = u"120"_s,
                const QString &unit = u"12"_s)
{
    return u"\"%1\",%2,90,70,%3,1001,%4,,%5,3,1\r\n"_s.arg(name, master, jan, unit, code);
}

QString plain(const QVariant &units)
{
    return Currency::fromUnits(units.toLongLong()).toPlainText();
}

// Products as name:price:JAN:supplier name, suppliers as name:code:telephone, in file order.
QStringList stored(const QString &catalogue, ImportTable table)
{
    QStringList rows;
    if (table == ImportTable::Products) {
        for (const QVariantList &row : productsIn(catalogue))
            rows << QStringList{row[0].toString(), plain(row[1]), plain(row[4]), row[7].toString()}.join(u':');
    } else {
        for (const QVariantList &row : suppliersIn(catalogue))
            rows << QStringList{row[0].toString(), plain(row[3]), row[2].toString()}.join(u':');
    }
    return rows;
}

} // namespace

class TestCsvImport final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void reader_data();
    void reader();
    void import_data();
    void import();
    void roundTrip();
    void errorRowsFile();
    void keySetSpillsToDisk();

private:
    QString file(const QByteArray &bytes);

    std::unique_ptr<CatalogueFolder> m_folder;
};

void TestCsvImport::init()
{
    m_folder = std::make_unique<CatalogueFolder>();
    QVERIFY(m_folder->isValid());
    const QString path = m_folder->catalogue();
    QVERIFY(insertSupplier(path, {u"テスト商事"_s, u"東京"_s, u"03-1111"_s, u"120"_s, u"100-0001"_s}));
    QVERIFY(insertSupplier(path, {u"別商事"_s, u"大阪"_s, u"06-2222"_s, u"130"_s, u"530-0001"_s}));
    QVERIFY(insertProduct(path, {.mei = u"既存"_s, .master = u"100"_s, .jan = u"4901234567894"_s}));
}

void TestCsvImport::cleanup()
{
    QProcess::execute(u"chattr"_s, {u"-i"_s, m_folder->catalogue()});
    m_folder.reset();
}

QString TestCsvImport::file(const QByteArray &bytes)
{
    const QString path = m_folder->filePath(u"in.csv"_s);
    return writeFile(path, bytes) ? path : QString();
}

void TestCsvImport::reader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<TextEncoding>("encoding");
    QTest::addColumn<QStringList>("records"); // fields joined by "|", "!Q" "!L" "!U" for a problem

    const auto utf8 = TextEncoding::Utf8;
    QTest::newRow("last line without its end") << QByteArray("a,b\r\nc,d") << utf8 << QStringList{u"a|b"_s, u"c|d"_s};
    QTest::newRow("quoted line break, quote, comma")
        << QByteArray("\"x\r\ny\",\"a\"\"b\",\"1,2\"\r\n") << utf8 << QStringList{u"x\r\ny|a\"b|1,2"_s};
    QTest::newRow("LF, CR and an empty line") << QByteArray("a\nb\r\rc") << utf8 << QStringList{u"a"_s, u"b"_s, {}, u"c"_s};
    QTest::newRow("#NULL# is empty unless quoted") << QByteArray("#NULL#,\"#NULL#\"") << utf8 << QStringList{u"|#NULL#"_s};
    QTest::newRow("text after a quote, open quote")
        << QByteArray("\"a\"b,c\n\"open") << utf8 << QStringList{u"ab|c!Q"_s, u"open!Q"_s};
    QTest::newRow("empty file") << QByteArray() << utf8 << QStringList{};
    QTest::newRow("CP932") << encoded(u"商品名,①髙\r\n"_s, "windows-31j") << TextEncoding::Cp932
                           << QStringList{u"商品名|①髙"_s};
    QTest::newRow("CP932 undecodable byte marks its row")
        << QByteArray("a\r\n\x80,\x81\x20\r\n") + encoded(u"ｶﾅ"_s, "windows-31j") << TextEncoding::Cp932
        << QStringList{u"a"_s, u"\uFFFD|\uFFFD !U"_s, u"ｶﾅ"_s};
    QTest::newRow("UTF-8 mark, broken sequence") << QByteArray("\xEF\xBB\xBF\"名\"\r\n\xE3\x81\r\nb") << TextEncoding::Utf8Bom
                                                 << QStringList{u"名"_s, u"\uFFFD!U"_s, u"b"_s};
    QTest::newRow("UTF-16LE mark") << QByteArray("\xFF\xFE") + encoded(u"名,\"値\"\r\n"_s, "UTF-16LE")
                                   << TextEncoding::Utf16LE << QStringList{u"名|値"_s};
    QTest::newRow("UTF-16BE mark, lone surrogate") << QByteArray("\xFE\xFF\xD8\x00\x00x", 6) << TextEncoding::Utf16BE
                                                   << QStringList{u"\uFFFDx!U"_s};
    // Pieces of 256 KiB: a character and a CR LF split between two pieces.
    const QByteArray filler(256 * 1024 - 1, 'x');
    QTest::newRow("character across pieces") << filler + encoded(u"商\r\ny"_s, "windows-31j") << TextEncoding::Cp932
                                             << QStringList{QString::fromLatin1(filler) + u"商"_s, u"y"_s};
    QTest::newRow("CR LF across pieces") << filler + "\r\ny" << utf8 << QStringList{QString::fromLatin1(filler), u"y"_s};
    QTest::newRow("too long, then on") << QByteArray(CsvReader::maxRecordLength + 1, 'a') + "\nb" << utf8
                                       << QStringList{u"!L"_s, u"b"_s};
}

void TestCsvImport::reader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(TextEncoding, encoding);
    QFETCH(QStringList, records);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    CsvReader reader(&buffer);
    QVERIFY(reader.start());
    QCOMPARE(reader.encoding(), encoding);
    QStringList read;
    CsvRecord record;
    while (reader.next(record)) {
        const char *marks[] = {"", "!Q", "!L", "!U"};
        read << record.fields.join(u'|') + QLatin1StringView(marks[int(record.problem)]);
        QCOMPARE(record.row, read.size());
    }
    QCOMPARE(read, records);
}

void TestCsvImport::import_data()
{
    QTest::addColumn<bool>("server"); // the catalogue copied to a server database first
    QTest::addColumn<ImportTable>("table");
    QTest::addColumn<DuplicateChoice>("choice");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("counts"); // added/updated/skipped/errors, unknown columns, missing fields
    QTest::addColumn<QStringList>("errors"); // row:field:value:reason
    QTest::addColumn<QStringList>("after");  // see stored()
    QTest::addColumn<QString>("listed");     // names of the products stored, as listed afterwards
    QTest::addColumn<QString>("cause");      // "refused" file, or after the plan "cancel", "read-only", "changed", "row refused"
    QTest::addColumn<ErrorCode>("code");     // of the refusal or of storing
    QTest::addColumn<QString>("reason");     // part of its message

    const auto P = ImportTable::Products;
    const auto S = ImportTable::Suppliers;
    const auto skip = DuplicateChoice::Skip;
    const auto update = DuplicateChoice::Update;
    const auto add = DuplicateChoice::Add;
    const QString existing = u"既存:100:4901234567894:テスト商事"_s;

    // A row that stores: the last three columns say nothing went wrong. Each runs on a file
    // and on a server.
    const auto stores = [](const char *tag, ImportTable table, DuplicateChoice choice, const QByteArray &bytes,
                           const QString &counts, const QStringList &errors, const QStringList &after, const QString &listed) {
        for (const bool server : {false, true}) {
            QTest::addRow("%s%s", tag, server ? " (server)" : "")
                << server << table << choice << bytes << counts << errors << after << listed << QString()
                << ErrorCode::None << QString();
        }
    };
    stores("export's own file, supplier name from the catalogue", P, skip,
           encoded(productHeader + product(u"新A"_s, u"1980"_s, u"4900000000001"_s)
                       + u"\"新B\",12.5,90,70,4900000000002,1001,12,\"手書き\",130,3,1\r\n"_s, "windows-31j"),
           u"2/0/0/0  0"_s, {}, {existing, u"新A:1980:4900000000001:テスト商事"_s, u"新B:12.5:4900000000002:手書き"_s},
           u"新A,新B"_s);
    stores("field names in any order, unknown column, grouping and yen", P, skip,
           (u"syohin_JAN,メモ,syohin_mei,SYOHIN_MASTER,syohin_sale,syohin_genka,syohin_EOS,syohin_EOStani,"
            "syohin_torihikicode,bumon_code,bumon_AU\n４９００００００００００３,x,新C,\"￥１，２００\",1,1,1,2.5,130,1,1\n"_s).toUtf8(),
           u"1/0/0/0 メモ 1"_s, {}, {existing, u"新C:1200:4900000000003:別商事"_s}, u"新C"_s);
    stores("UTF-16 with its mark, a line break inside quotes", P, skip,
           QByteArray("\xFF\xFE") + encoded(productHeader + product(u"改行\r\n名"_s, u"1"_s, u"4900000000009"_s), "UTF-16LE"),
           u"1/0/0/0  0"_s, {}, {existing, u"改行\r\n名:1:4900000000009:テスト商事"_s}, u"改行\r\n名"_s);
    stores("values registration refuses", P, skip,
           encoded(productHeader + product(u"a"_s, u"abc"_s, u"4.90123E+12"_s) + product(u"b"_s, u"1"_s, u"2"_s, u"120"_s, u"40000"_s)
                       + product(QString(), u"1"_s, u"3"_s, u"999"_s) + product(u"d"_s, u"1"_s, u"4"_s).chopped(4) + u"\r\n"_s,
                   "UTF-8"),
           u"0/0/0/4  0"_s,
           {u"2:商品マスタ価格:abc:「商品マスタ価格」に数値を入力してください。"_s,
            u"2:商品JANコード:4.90123E+12:「商品JANコード」の値が指数表記（4.90123E+12）です。"
            "表計算ソフトで桁が失われた値は読み込めません。列を文字列として保存し直してください。"_s,
            u"3:商品発注単位:40000:「商品発注単位」に-32768から32767までの整数を入力してください。"_s,
            u"4:商品名::商品名を入力してください。"_s,
            u"4:商品取引先コード:999:取引先コード「999」の取引先がカタログにありません。先に取引先を登録してください。"_s,
            u"5:::項目の数が見出しと合いません（見出しは11項目、この行は10項目）。"_s},
           {existing}, QString());
    stores("missing column", P, skip, u"商品名,商品JANコード\n新,5\n"_s.toUtf8(), u"0/0/0/1  9"_s,
           {u"2:商品マスタ価格::商品の標準価格を入力してください。"_s, u"2:商品特売価格::特売価格を入力してください。"_s,
            u"2:商品原価価格::原価を入力しててください。"_s, u"2:商品発注コード::EOSコードを入力してください。"_s,
            u"2:商品発注単位::発注単位を入力してください。"_s,
            u"2:商品取引先コード::取引先コードより取引先コードを検索してください。"_s,
            u"2:商品部門コード::部門コードを入力してください。"_s, u"2:商品部門カテゴリ::AUを入力してください。"_s},
           {existing}, QString());
    const QByteArray twice = encoded(productHeader + product(u"x"_s, u"1"_s, u"7"_s) + product(u"y"_s, u"2"_s, u"7"_s)
                                         + product(u"z"_s, u"3"_s, u"-99"_s) + product(u"w"_s, u"4"_s, u"-99"_s), "UTF-8");
    stores("same key twice in the file, -99 never", P, skip, twice, u"3/0/0/1  0"_s,
           {u"3:商品JANコード:7:2行目と同じJANコードです。"_s},
           {existing, u"x:1:7:テスト商事"_s, u"z:3:-99:テスト商事"_s, u"w:4:-99:テスト商事"_s}, u"x"_s);
    stores("same key twice, added anyway", P, add, twice, u"4/0/0/0  0"_s, {},
           {existing, u"x:1:7:テスト商事"_s, u"y:2:7:テスト商事"_s, u"z:3:-99:テスト商事"_s, u"w:4:-99:テスト商事"_s}, u"x,y"_s);
    const QByteArray again = encoded(productHeader + product(u"改"_s, u"250"_s, u"4901234567894"_s, u"130"_s), "UTF-8");
    stores("in the catalogue, skipped", P, skip, again, u"0/0/1/0  0"_s, {}, {existing}, QString());
    stores("in the catalogue, updated", P, update, again, u"0/1/0/0  0"_s, {}, {u"改:250:4901234567894:別商事"_s}, u"改"_s);
    stores("in the catalogue, only the file's fields updated", P, update,
           u"商品JANコード,商品マスタ価格\n4901234567894,300\n"_s.toUtf8(), u"0/1/0/0  9"_s, {},
           {u"既存:300:4901234567894:テスト商事"_s}, u"既存"_s);
    stores("twice in the catalogue, not guessed", P, update, again, u"0/0/0/1  0"_s,
           {u"2:商品JANコード:4901234567894:カタログにこのJANコードのレコードが複数あるため、どれを上書きするか決められません。"_s},
           {existing, existing}, QString());
    stores("in the catalogue, no name to update with", P, update, u"商品JANコード,商品取引先名\n4901234567894,\n"_s.toUtf8(),
           u"0/0/0/1  9"_s, {u"2:商品取引先名::取引先コードより取引先を検索してください。"_s}, {existing}, QString());
    stores("in the catalogue, added anyway", P, add, again, u"1/0/0/0  0"_s, {},
           {existing, u"改:250:4901234567894:別商事"_s}, u"改"_s);

    // More rows than a server takes in one go: each keeps its own values and place in the list.
    QString groups = productHeader;
    QStringList groupRows{existing};
    QStringList groupNames;
    for (int i = 1; i <= 1201; ++i) {
        groups += product(u"g%1"_s.arg(i), QString::number(i), QString::number(100000 + i));
        groupRows << u"g%1:%2:%3:テスト商事"_s.arg(i).arg(i).arg(100000 + i);
        groupNames << u"g%1"_s.arg(i);
    }
    stores("more rows than one group", P, skip, groups.toUtf8(), u"1201/0/0/0  0"_s, {}, groupRows, groupNames.join(u','));

    const QString suppliers = u"取引先名,取引先住所,取引先電話番号,取引先コード,取引先郵便番号\r\n"_s;
    const QByteArray supplierFile = encoded(suppliers + u"新社,京都,075,140,600\r\n改社,東京,03-9,120,100\r\n"
                                                        "重社,x,1,140,1\r\n空社,x,,150,1\r\n"_s, "windows-31j");
    const QStringList supplierErrors{u"4:取引先コード:140:2行目と同じ取引先コードです。"_s,
                                     u"5:取引先電話番号::取引先電話番号を入力してください。"_s};
    const QStringList supplierRows{u"テスト商事:120:03-1111"_s, u"別商事:130:06-2222"_s, u"新社:140:075"_s};
    stores("suppliers, skipped", S, skip, supplierFile, u"1/0/1/2  0"_s, supplierErrors, supplierRows, QString());
    stores("suppliers, updated", S, update, supplierFile, u"1/1/0/2  0"_s, supplierErrors,
           {u"改社:120:03-9"_s, u"別商事:130:06-2222"_s, u"新社:140:075"_s}, QString());
    stores("suppliers, a code stays unique", S, add, supplierFile, u"1/0/0/3  0"_s,
           QStringList{u"3:取引先コード:120:その取引先コードはすでに存在しています。"_s} + supplierErrors, supplierRows, QString());

    const auto refusedRow = [&](const char *tag, ImportTable table, const QByteArray &bytes, const QString &reason) {
        QTest::newRow(tag) << false << table << skip << bytes << QString() << QStringList{} << QStringList{} << QString()
                           << u"refused"_s << ErrorCode::ReadFailed << reason;
    };
    refusedRow("refused: empty", P, QByteArray(), u"は空です。1行目に見出しが必要です: 商品名, "_s);
    refusedRow("refused: products as suppliers", S, productHeader.toUtf8(),
               u"の1行目に取引先の見出しがありません。次の見出しが必要です: 取引先名, 取引先住所, 取引先電話番号, "
               "取引先コード, 取引先郵便番号（または torihiki_mei, torihiki_add, torihiki_tel, torihiki_code, torihiki_post）"_s);
    refusedRow("refused: a field twice", P, QByteArray("syohin_mei,x,SYOHIN_MEI\n"),
               u"の見出し「syohin_mei」と「SYOHIN_MEI」は同じ項目 syohin_mei を指しています。"_s);

    // More rows than go between two progress reports, so that a cancel lands part-way.
    QString many = productHeader;
    for (int i = 1; i <= 5000; ++i)
        many += product(u"p%1"_s.arg(i), u"1"_s, QString::number(i));
    const auto nothingRow = [&](const char *tag, const QString &cause, ErrorCode code, const QString &reason) {
        for (const bool server : {false, true}) {
            QTest::addRow("%s%s", tag, server ? " (server)" : "")
                << server << P << skip << many.toUtf8() << u"5000/0/0/0  0"_s << QStringList{} << QStringList{}
                << QString() << cause << code << reason;
        }
    };
    nothingRow("nothing stored: cancelled part-way", u"cancel"_s, ErrorCode::Cancelled, QString());
    nothingRow("nothing stored: catalogue refuses writes", u"read-only"_s, ErrorCode::WriteFailed,
               u"取り込めませんでした: "_s);
    nothingRow("nothing stored: catalogue changed after the preview", u"changed"_s, ErrorCode::Conflict,
               u"確認の後にカタログが変更された"_s);
    // Rows reach a server in groups: one it refuses in the middle of a group fails them all.
    QTest::newRow("nothing stored: server refuses a row mid-group (server)")
        << true << P << skip << many.toUtf8() << u"5000/0/0/0  0"_s << QStringList{} << QStringList{} << QString()
        << u"row refused"_s << ErrorCode::WriteFailed << u"refused_row"_s;
}

void TestCsvImport::import()
{
    QFETCH(bool, server);
    QFETCH(ImportTable, table);
    QFETCH(DuplicateChoice, choice);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, counts);
    QFETCH(QStringList, errors);
    QFETCH(QStringList, after);
    QFETCH(QString, listed);
    QFETCH(QString, cause);
    QFETCH(ErrorCode, code);
    QFETCH(QString, reason);

    QString catalogue = m_folder->catalogue();
    if (QByteArray(QTest::currentDataTag()).startsWith("twice"))
        QVERIFY(insertProduct(catalogue, {.mei = u"既存"_s, .master = u"100"_s, .jan = u"4901234567894"_s}));
    // A server's records are looked at in a file copy of them.
    int copies = 0;
    const auto readable = [&]() -> QString {
        if (!server)
            return catalogue;
        const QString copy = m_folder->filePath(u"back%1.mdb"_s.arg(++copies));
        QString error;
        return Server::copyCatalogue(catalogue, copy, false, nullptr, &error) ? copy : error;
    };
    const auto onServer = [&](const QByteArray &sql) {
        const auto session = Server::Session::connect(catalogue);
        return session && session->command(sql);
    };
    if (server) {
        const QString address = makeDatabase();
        QString error;
        QVERIFY2(Server::copyCatalogue(catalogue, address, false, nullptr, &error), qPrintable(error));
        catalogue = address;
    }
    const auto storedNow = [&] { return stored(readable(), table); };
    const QStringList before = storedNow();
    CsvImport import(catalogue, file(bytes), table, choice);
    import.setListStoredProducts(true);
    const Status planned = import.makePlan();
    const auto verifyFailure = [&](const Status &status) {
        QCOMPARE(status.code(), code);
        QVERIFY2(status.message().contains(reason), qPrintable(status.message()));
    };
    if (cause == u"refused") {
        verifyFailure(planned);
        verifyFailure(import.store());
        QCOMPARE(storedNow(), before);
        return;
    }
    QVERIFY2(planned, qPrintable(planned.message()));
    QCOMPARE(storedNow(), before);

    const auto summary = [](const ImportPlan &plan) {
        QStringList listed;
        for (const ImportError &e : plan.errors)
            listed << u"%1:%2:%3:%4"_s.arg(e.row).arg(e.field, e.value, e.reason);
        return std::pair(u"%1/%2/%3/%4 %5 %6"_s.arg(plan.counts[0]).arg(plan.counts[1]).arg(plan.counts[2]).arg(plan.counts[3])
                             .arg(plan.unknownColumns.join(u',')).arg(plan.missingFields.size()), listed);
    };
    QCOMPARE(summary(import.plan()), std::pair(counts, errors));
    QCOMPARE(import.plan().errorCount, errors.size());

    // Immutable holds even against root, as which CI runs.
    if (cause == u"read-only" && server) {
        QVERIFY(onServer("DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET default_transaction_read_only = on', "
                         "current_database()); END $$"));
    } else if (cause == u"read-only" && QProcess::execute(u"chattr"_s, {u"+i"_s, catalogue}) != 0) {
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    }
    if (cause == u"row refused")
        QVERIFY(onServer("ALTER TABLE syohin ADD CONSTRAINT refused_row CHECK (syohin_jan <> 2750)"));
    if (cause == u"changed") {
        QVERIFY(server ? onServer("INSERT INTO syohin (syohin_mei, syohin_jan) VALUES ('割込', 4999)")
                       : insertProduct(catalogue, {.mei = u"割込"_s, .jan = u"4999"_s}));
    }
    const QStringList ready = storedNow();
    const Status done = import.store([&](qint64, qint64) { return cause != u"cancel"; });
    verifyFailure(done);
    if (!done) {
        QCOMPARE(storedNow(), ready);
        return;
    }
    QCOMPARE(summary(import.plan()), std::pair(counts, errors));
    QCOMPARE(storedNow(), after);
    if (server) {
        // Searches compare the folded copy of each text: it follows what was stored.
        const auto session = Server::Session::connect(catalogue);
        QVERIFY(session);
        const QByteArray name = table == ImportTable::Products ? "syohin_mei" : "torihiki_mei";
        const Server::Result folded = session->exec("SELECT " + name + ", " + name + "_fold FROM "
                                                    + (table == ImportTable::Products ? "syohin" : "torihiki"));
        QVERIFY(folded.ok());
        for (int row = 0; row < folded.rows(); ++row)
            QCOMPARE(folded.text(row, 1), foldForComparison(folded.text(row, 0)));
    }
    QStringList names;
    const QString copy = readable();
    for (const qint64 id : import.storedProducts())
        names << sqlValue(copy, u"select syohin_mei from syohin where rowid = %1"_s.arg(id)).toString();
    QCOMPARE(names.join(u','), listed);
}

void TestCsvImport::roundTrip()
{
    const QString source = m_folder->catalogue();
    QVERIFY(insertProduct(source, {.mei = u"引用\"符\",改行\r\nあり ①髙"_s, .master = u"0.0001"_s, .sale = u"-12.5"_s,
                                   .jan = u"9999999999999"_s, .eostani = u"-32768"_s, .torihikicode = u"130"_s}));
    QVERIFY(insertProduct(source, {.mei = u"#NULL#"_s, .master = u"922337203685477.5807"_s, .jan = u"-99"_s,
                                   .eostani = u"32767"_s, .torihiki = u"名は手で"_s}));
    RecordSource list;
    list.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(list.refresh());
    const QString csv = m_folder->filePath(u"export.csv"_s);
    QVERIFY(exportProductCsv(list, csv));

    const QString target = m_folder->makeCatalogue(u"empty.mdb"_s);
    QVERIFY(execSql(target, u"ATTACH '%1' AS source; INSERT INTO torihiki SELECT * FROM source.torihiki"_s.arg(source)));
    CsvImport import(target, csv, ImportTable::Products);
    const Status done = import.store();
    QVERIFY2(done, qPrintable(done.message()));
    QCOMPARE(import.plan().count(RowOutcome::Added), 3);
    QCOMPARE(productsIn(target), productsIn(source));
}

void TestCsvImport::errorRowsFile()
{
    const QByteArray bytes = "\xEF\xBB\xBFsyohin_mei,syohin_JAN\r\nskipped,4901234567894\n\"bad \"\"one\"\"\",x\r\n";
    CsvImport import(m_folder->catalogue(), file(bytes), ImportTable::Products);
    QVERIFY(import.makePlan());
    const QString errors = m_folder->filePath(u"errors.csv"_s);
    QVERIFY(!import.saveErrorRows(m_folder->catalogue()));
    QVERIFY(import.saveErrorRows(errors));
    QCOMPARE(readFile(errors), QByteArray("\xEF\xBB\xBF\"syohin_mei\",\"syohin_JAN\"\r\n\"bad \"\"one\"\"\",\"x\"\r\n"));
}

void TestCsvImport::keySetSpillsToDisk()
{
    KeySet keys(3);
    const qint64 sequence[][3] = {{5, 1, 0}, {-7, 2, 0}, {5, 3, 1}, {9, 4, 0}, {11, 5, 0}, {-7, 6, 2}, {11, 7, 5}, {0, 8, 0}};
    for (const auto &[key, row, earlier] : sequence)
        QCOMPARE(keys.insert(key, row).value_or(0), earlier);
    QVERIFY(keys.errorString().isEmpty());
}

QTEST_MAIN(TestCsvImport)
#include "tst_csvimport.moc"
