// Record sources on catalogue files: what a list selects and shows, edits stored on leaving a
// record, values stored wholly or not at all, files that are not catalogues refused untouched,
// and every cause of a refused write against every kind of write.
#include "testsupport.h"

#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>
#include <sys/mount.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString listed = u"select * from syohin where syohin_JAN<>-99"_s;
const QStringList refused{u"<refused>"_s};

bool open(RecordSource &source, const QString &text = QString(SqlText::allProducts))
{
    source.setRecordSource(text);
    return source.refresh().ok();
}

// The entry texts of a whole product or supplier, in field order.
const QStringList productTexts{u"新商品"_s, u"100"_s, u"90"_s, u"70"_s, u"4909999999999"_s, u"5001"_s, u"6"_s,
                               u"テスト商事"_s, u"120"_s, u"8"_s, u"1"_s};
const QStringList supplierTexts{u"新取引先"_s, u"大阪府"_s, u"06-1111-2222"_s, u"777"_s, u"530-0001"_s};

// Starts a registration as the registration windows do: every field typed, `field` as `text`.
bool startRegistration(RecordSource &source, bool product, const QString &field = {}, const QString &text = {})
{
    if (!open(source, QString(product ? SqlText::productAppend : SqlText::supplierAppend)) || !source.addNew())
        return false;
    for (qsizetype i = 0; i < (product ? 11 : 5); ++i) {
        const QString name = product ? QString(syohinFields[size_t(i)].name) : QString(torihikiFields[size_t(i)].name);
        if (!source.setText(name, name == field ? text : (product ? productTexts : supplierTexts).at(i)))
            return false;
    }
    return true;
}

} // namespace

class TestRecordSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void selects_data();
    void selects();
    void listOrderCurrentRowAndKinds();
    void rejectedStatementKeepsRows();
    void leavingTheRecord_data();
    void leavingTheRecord();
    void appendIntoEmptyTable();
    void sourcesShareOneConnectionAndFollowTheCatalogue();
    void forEachRowVisitsInOrderWithoutLocking();
    void columnsMatchedByName();
    void typedValueStoredWhollyOrNotAtAll_data();
    void typedValueStoredWhollyOrNotAtAll();
    void foreignValueShownFoundAndKept_data();
    void foreignValueShownFoundAndKept();
    void foreignFilesRefusedUntouched_data();
    void foreignFilesRefusedUntouched();
    void codeAddedWhileOpenNeverRuns();
    void runawayStatementEnds();
    void writeRefused_data();
    void writeRefused();

private:
    bool protect(const QString &path);

    std::unique_ptr<CatalogueFolder> m_folder;
    QString m_path;
    QStringList m_protected;
    QStringList m_mounted;
    sqlite3 *m_other = nullptr;
};

// Three listed products, two in department 3, and a reserved row.
void TestRecordSource::init()
{
    m_folder = std::make_unique<CatalogueFolder>();
    QVERIFY(m_folder->isValid());
    m_path = m_folder->catalogue();
    QVERIFY(insertProduct(m_path, {.mei = u"コーラ"_s, .jan = u"4901234567894"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"ダイエットｺｰﾗ"_s, .master = u"12.5"_s, .jan = u"4901234567801"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"予約"_s, .master = u"12.5"_s, .jan = u"-99"_s}));
    QVERIFY(insertProduct(m_path, {.mei = u"お茶"_s, .master = u"12.5"_s, .jan = u"4901234567818"_s, .bumon = u"4"_s}));
}

void TestRecordSource::cleanup()
{
    sqlite3_close(m_other);
    m_other = nullptr;
    Connection::setStatementLimit(0);
    for (const QString &path : std::as_const(m_protected))
        QProcess::execute(u"chattr"_s, {u"-i"_s, path});
    m_protected.clear();
    for (const QString &path : std::as_const(m_mounted))
        ::umount(QFile::encodeName(path).constData());
    m_mounted.clear();
    m_folder.reset();
}

// Root ignores permission bits; the immutable attribute stops root too.
bool TestRecordSource::protect(const QString &path)
{
    if (QProcess::execute(u"chattr"_s, {u"+i"_s, path}) != 0)
        return false;
    m_protected << path;
    return true;
}

void TestRecordSource::selects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names"); // or `refused`
    const QStringList three{u"コーラ"_s, u"ダイエットｺｰﾗ"_s, u"お茶"_s};
    QTest::newRow("empty view") << QString(SqlText::emptyProductView) << QStringList{};
    QTest::newRow("all products") << QString(SqlText::allProducts) << three;
    QTest::newRow("only the append text sees reserved rows") << QString(SqlText::productAppend)
        << QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s, u"予約"_s, u"お茶"_s};
    QTest::newRow("every name") << listed + u" and syohin_mei like '*'"_s << three;
    QTest::newRow("reserved key") << listed + u" and syohin_JAN like -99"_s << QStringList{};
    QTest::newRow("folded name") << listed + u" and syohin_mei like '*こーら'"_s
                                 << QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s};
    // A crafted key, quote doubled as the search writes it, is matched literally; spliced
    // raw it is refused, never widened.
    QTest::newRow("doubled quote") << listed + u" and syohin_mei like 'x'' or ''a''=''a'"_s << QStringList{};
    QTest::newRow("spliced quote") << listed + u" and syohin_mei like 'x' or 'a'='a'"_s << refused;
    QTest::newRow("unknown table") << u"select * from sqlite_master"_s << refused;
    QTest::newRow("unknown field") << listed + u" and syohin_kana = 1"_s << refused;
    QTest::newRow("text compared to a number") << listed + u" and syohin_JAN = 'a'"_s << refused;
}

void TestRecordSource::selects()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    RecordSource source;
    source.setRecordSource(text);
    QCOMPARE(source.refresh().ok(), names != refused);
    if (names == refused)
        QCOMPARE(source.status().code(), ErrorCode::BadStatement);
    QCOMPARE(listedNames(&source), names == refused ? QStringList{} : names);
    QCOMPARE(source.currentRow(), names.isEmpty() || names == refused ? -1 : 0);
    QCOMPARE(sqlValue(m_path, u"select count(*) from syohin"_s).toInt(), 4);
}

void TestRecordSource::listOrderCurrentRowAndKinds()
{
    QVERIFY(insertProduct(m_path, {.mei = u"a"_s, .master = u"0.5"_s, .sale = QString(), .jan = u"9999999999999"_s,
                                   .eostani = u"-32768"_s}));
    RecordSource source;
    QSignalSpy current(&source, &RecordSource::currentRowChanged);
    QVERIFY(open(source, listed + u" and bumon_code like 3"_s));
    QCOMPARE(listedNames(&source), (QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s, u"a"_s}));
    QCOMPARE(source.text(Field::syohin_mei), u"コーラ"_s);
    QCOMPARE(current.count(), 1);
    QCOMPARE(source.columnCount(), 11);
    QCOMPARE(source.headerData(0, Qt::Horizontal).toString(), u"syohin_mei"_s);
    QVERIFY(source.setCurrentRow(2));
    QCOMPARE(source.value(Field::syohin_master).value<Currency>(), *Currency::parse(u"0.5"));
    QCOMPARE(source.text(Field::syohin_master), u"0.5"_s);
    QVERIFY(source.value(Field::syohin_sale).isNull());
    QCOMPARE(source.text(Field::syohin_sale), QString());
    QCOMPARE(source.text(Field::syohin_JAN), u"9999999999999"_s);
    QCOMPARE(source.value(Field::syohin_EOStani).toInt(), -32768);
}

void TestRecordSource::rejectedStatementKeepsRows()
{
    RecordSource source;
    QVERIFY(open(source));
    QVERIFY(source.setCurrentRow(1));
    source.setRecordSource(u"select * from syohin where syohin_mei like 'a"_s);
    QVERIFY(!source.refresh());
    QCOMPARE(source.recordCount(), 3);
    QCOMPARE(source.currentRow(), 1);
}

void TestRecordSource::leavingTheRecord_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("converts");
    for (const char *way : {"another row", "grid edit on another row", "refresh", "store", "destroyed"}) {
        QTest::addRow("%s", way) << QString::fromLatin1(way) << true;
        QTest::addRow("%s, does not convert", way) << QString::fromLatin1(way) << false;
    }
}

// Pending edits are stored when the record is left, whichever way; an edit that does not
// convert is refused, naming the field, and nothing of the record is stored.
void TestRecordSource::leavingTheRecord()
{
    QFETCH(QString, way);
    QFETCH(bool, converts);
    const auto before = productsIn(m_path);
    auto source = std::make_unique<RecordSource>();
    QVERIFY(open(*source));
    // Typing back what is stored leaves nothing pending.
    QVERIFY(source->setText(Field::syohin_master, u"5"_s));
    QVERIFY(source->setText(Field::syohin_master, u"100"_s));
    QCOMPARE(source->editMode(), EditMode::None);
    QVERIFY(source->setText(Field::syohin_mei, u"新しい名前"_s));
    QVERIFY(source->setText(Field::syohin_EOStani, converts ? u"1,000"_s : u"40000"_s));
    QCOMPARE(source->editMode(), EditMode::Editing);
    QCOMPARE(source->data(source->index(0, 6)).toString(), converts ? u"1,000"_s : u"40000"_s);
    QCOMPARE(productsIn(m_path), before);

    const bool left = way == u"another row"_s          ? source->setCurrentRow(1).ok()
        : way == u"grid edit on another row"_s ? source->setData(source->index(2, 0), u"緑茶"_s)
        : way == u"refresh"_s                  ? source->refresh().ok()
        : way == u"store"_s                    ? source->storePending().ok()
                                               : (source.reset(), converts);
    QCOMPARE(left, converts);
    QCOMPARE(sqlValue(m_path, u"select syohin_mei || '/' || syohin_EOStani from syohin where rowid=1"_s).toString(),
             converts ? u"新しい名前/1000"_s : u"コーラ/12"_s);
    if (!source)
        return;
    if (converts) {
        QCOMPARE(source->lastModified(), Bookmark(1));
        if (way == u"grid edit on another row"_s) {
            // That row became current first; its edit is stored on the next leaving.
            QCOMPARE(source->currentRow(), 2);
            QVERIFY(source->refresh());
            QCOMPARE(sqlValue(m_path, u"select syohin_mei from syohin where rowid=4"_s).toString(), u"緑茶"_s);
        }
        QCOMPARE(source->editMode(), EditMode::None);
        return;
    }
    QCOMPARE(source->status().code(), ErrorCode::InvalidValue);
    QCOMPARE(source->status().field(), u"syohin_EOStani"_s);
    QCOMPARE(source->currentRow(), 0);
    QCOMPARE(source->recordCount(), 3);
    QCOMPARE(source->text(Field::syohin_EOStani), u"40000"_s);
    // Clearing a number is invalid too.
    QVERIFY(source->setText(Field::syohin_EOStani, u"12"_s));
    QVERIFY(source->setText(Field::syohin_JAN, QString()));
    QVERIFY(!source->storePending());
    QCOMPARE(source->status().field(), u"syohin_JAN"_s);
    source->cancelUpdate();
    QCOMPARE(source->text(Field::syohin_JAN), u"4901234567894"_s);
    QVERIFY(source->setCurrentRow(1));
    QCOMPARE(productsIn(m_path), before);
}

void TestRecordSource::appendIntoEmptyTable()
{
    RecordSource source;
    QVERIFY(open(source, QString(SqlText::supplierAppend)));
    QCOMPARE(source.recordCount(), 0);
    QVERIFY(source.addNew());
    QCOMPARE(source.editMode(), EditMode::Adding);
    QVERIFY(source.setValue(Field::torihiki_mei, u"山田商店"_s));
    QVERIFY(source.setValue(Field::torihiki_code, QVariant::fromValue(*Currency::parse(u"120"))));
    QVERIFY(source.update());
    QVERIFY(source.setBookmark(source.lastModified()));
    QCOMPARE(source.recordCount(), 1);
    QCOMPARE(source.currentRow(), 0);
    QCOMPARE(source.text(Field::torihiki_mei), u"山田商店"_s);
    QCOMPARE(suppliersIn(m_path), (QList<QVariantList>{{u"山田商店"_s, {}, {}, QVariant::fromValue(units(120)), {}}}));
}

void TestRecordSource::sourcesShareOneConnectionAndFollowTheCatalogue()
{
    RecordSource list;
    QVERIFY(open(list));
    RecordSource registration;
    QVERIFY(startRegistration(registration, true));
    QVERIFY(registration.update());
    QCOMPARE(handleOf(list), handleOf(registration));
    QCOMPARE(list.recordCount(), 3); // until refreshed
    QVERIFY(list.refresh());
    QCOMPARE(list.recordCount(), 4);

    const QString other = m_folder->makeCatalogue(u"other.mdb"_s);
    CurrentCatalogue::instance().setDatabaseName(other);
    QCOMPARE(list.databaseName(), other);
    QCOMPARE(list.recordCount(), 4);
    QVERIFY(list.refresh());
    QCOMPARE(list.recordCount(), 0);
    QCOMPARE(RecordSource().databaseName(), other);
}

void TestRecordSource::forEachRowVisitsInOrderWithoutLocking()
{
    const auto writeElsewhere = [&](const char *sql) {
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(m_path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc;
    };
    // Enough rows to be read in several slices.
    QVERIFY(execSql(m_path, u"WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 19999) "
                             "INSERT INTO syohin (syohin_mei, syohin_JAN, bumon_code) "
                             "SELECT '品' || i, 10000, CASE WHEN i % 50 = 0 THEN 90000 ELSE 80000 END FROM n"_s));
    RecordSource source;
    for (const auto &[text, listedCount] : {std::pair{listed, 20003}, std::pair{listed + u" and bumon_code like 9"_s, 400}}) {
        QVERIFY(open(source, text));
        // An idle result holds no lock, also after rows were shown and selected far down:
        // an exclusive lock needs every reader gone.
        QVERIFY(source.setCurrentRow(listedCount / 2));
        QVERIFY(!source.data(source.index(listedCount / 2 + 1, 0)).toString().isEmpty());
        QCOMPARE(writeElsewhere("BEGIN EXCLUSIVE; UPDATE syohin SET syohin_sale=2 WHERE rowid=1; COMMIT;"), SQLITE_OK);
        QVERIFY(source.setCurrentRow(1));
        // A row removed after the refresh is skipped, and leaves the list.
        const QString removed = source.row(2).value(0).toString();
        QVERIFY(execSql(m_path, u"delete from syohin where syohin_mei='%1'"_s.arg(removed)));
        QStringList visited;
        QVERIFY(source.forEachRow([&](const Row &row) {
            if (visited.isEmpty())
                [&] { QCOMPARE(writeElsewhere("UPDATE syohin SET syohin_sale=1 WHERE rowid=1"), SQLITE_OK); }();
            visited << row.value(0).toString();
            return true;
        }));
        QCOMPARE(visited.size(), listedCount - 1);
        QVERIFY(!visited.contains(removed));
        QCOMPARE(source.recordCount(), listedCount - 1);
        QCOMPARE(visited.value(1), source.row(1).value(0).toString());
        QCOMPARE(source.currentRow(), 1);
    }
}

// A template may declare the columns in another order: values are matched by name.
void TestRecordSource::columnsMatchedByName()
{
    const QString path = m_folder->makeCatalogue(u"reordered.mdb"_s);
    QVERIFY(insertProduct(path, {.mei = u"x"_s, .jan = u"1"_s, .eostani = u"7"_s}));
    QVERIFY(shuffleProductColumns(path));
    RecordSource source;
    source.setDatabaseName(path);
    QVERIFY(open(source, listed + u" and bumon_code like 3"_s));
    QCOMPARE(source.fieldName(0), u"bumon_AU"_s);
    QCOMPARE(source.recordCount(), 1);
    QCOMPARE(source.text(Field::syohin_mei), u"x"_s);
    QCOMPARE(source.text(Field::syohin_EOStani), u"7"_s);
    QCOMPARE(source.text(Field::bumon_AU), u"1"_s);
}

void TestRecordSource::typedValueStoredWhollyOrNotAtAll_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("stored"); // what the file holds; invalid when nothing may be stored
    const auto number = [](qint64 v) { return QVariant::fromValue<qint64>(v); };
    // Text is stored as typed: nothing in it is SQL, and nothing is cut or replaced.
    for (const QString &text : {u"x' or 'a'='a"_s, u"1; delete from syohin"_s, u"a\u0000b"_s, u"😀〜−¥𠮷 丂"_s,
                                QString(1 << 20, u'x') + u"商"_s})
        QTest::addRow("name %s", text.left(12).toUtf8().toPercentEncoding().constData()) << u"syohin_mei"_s << text << QVariant(text);
    // A number is stored exactly, or nothing is stored and the field is named.
    QTest::newRow("largest price") << u"syohin_master"_s << u"922337203685477.5807"_s << number(LLONG_MAX);
    QTest::newRow("price one beyond") << u"syohin_master"_s << u"922337203685477.5808"_s << QVariant();
    QTest::newRow("price with SQL") << u"syohin_master"_s << u"1 or 1=1"_s << QVariant();
    QTest::newRow("full-width 13-digit JAN") << u"syohin_JAN"_s << u"４９０１２３４５６７８９４"_s
                                             << number(49012345678940000);
    QTest::newRow("30-digit JAN") << u"syohin_JAN"_s << u"123456789012345678901234567890"_s << QVariant();
    QTest::newRow("department of 1 MB of digits") << u"bumon_code"_s << QString(1 << 20, u'9') << QVariant();
    QTest::newRow("unit one beyond") << u"syohin_EOStani"_s << u"32768"_s << QVariant();
    QTest::newRow("unit rounded to even at the limit") << u"syohin_EOStani"_s << u"-32768.5"_s << number(-32768);
}

// Through registration; an edit binds its values through the same code (leavingTheRecord).
void TestRecordSource::typedValueStoredWhollyOrNotAtAll()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QVariant, stored);
    const auto before = productsIn(m_path);
    RecordSource registration;
    QVERIFY(startRegistration(registration, true, field, text));
    QCOMPARE(registration.update().ok(), stored.isValid());
    if (stored.isValid()) {
        QCOMPARE(sqlValue(m_path, u"SELECT %1 FROM syohin WHERE rowid = %2"_s.arg(field).arg(registration.lastModified())),
                 stored);
        QVERIFY(registration.setBookmark(registration.lastModified()));
        if (field == Field::syohin_mei)
            QCOMPARE(registration.text(field), text);
        QVERIFY(execSql(m_path, u"DELETE FROM syohin WHERE rowid = %1"_s.arg(registration.lastModified())));
    } else {
        QCOMPARE(registration.status().code(), ErrorCode::InvalidValue);
        QCOMPARE(registration.status().field(), field);
        QVERIFY(registration.refresh());
        QCOMPARE(registration.recordCount(), 4);
    }
    QCOMPARE(productsIn(m_path), before);
}

void TestRecordSource::foreignValueShownFoundAndKept_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored"); // SQL literal another program stores
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("found");  // a condition that finds the row
    QTest::addColumn<QString>("missed"); // one that must not
    // What a field's kind cannot hold is shown as stored and found by exactly what is shown.
    QTest::newRow("4294967301 in a small integer") << u"syohin_EOStani"_s << u"4294967301"_s << u"4294967301"_s
        << u"syohin_EOStani = 4294967301"_s << u"syohin_EOStani = 5"_s;
    QTest::newRow("12abc in a small integer") << u"syohin_EOStani"_s << u"'12abc'"_s << u"12abc"_s
        << u"syohin_EOStani like '12abc'"_s << u"syohin_EOStani = 12"_s;
    QTest::newRow("1e300 in a price") << u"syohin_master"_s << u"1e300"_s << u"1.0e+300"_s
        << u"syohin_master like '1.0e+300'"_s << u"syohin_master like '?'"_s;
    QTest::newRow("12.5 stored as a real") << u"syohin_master"_s << u"12.5"_s << u"12.5"_s
        << u"syohin_master = 12.50"_s << u"syohin_master = 0.0012"_s;
    QTest::newRow("full-width digits in a price") << u"syohin_master"_s << u"'１２'"_s << u"１２"_s
        << u"syohin_master = 12"_s << u"syohin_master = 0.0012"_s;
    QTest::newRow("blob in a name") << u"syohin_mei"_s << u"X'E59586E59381'"_s << u"商品"_s
        << u"syohin_mei = '商品'"_s << u"syohin_mei = '商'"_s;
}

void TestRecordSource::foreignValueShownFoundAndKept()
{
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, found);
    QFETCH(QString, missed);
    QVERIFY(execSql(m_path, u"UPDATE syohin SET %1 = %2 WHERE rowid = 4"_s.arg(field, stored)));
    const QString quote = u"SELECT quote(%1) FROM syohin WHERE rowid = 4"_s.arg(field);
    const QVariant before = sqlValue(m_path, quote);
    RecordSource list;
    const QString tea = listed + u" and syohin_JAN = 4901234567818 and "_s;
    QVERIFY(open(list, tea + missed));
    QCOMPARE(list.recordCount(), 0);
    QVERIFY2(open(list, tea + found), qPrintable(list.status().message()));
    QCOMPARE(list.recordCount(), 1);
    QCOMPARE(list.text(field), shown);
    // Storing an edit of another field leaves it as it was.
    QVERIFY(list.setText(Field::bumon_AU, u"7"_s));
    QVERIFY(list.storePending());
    QCOMPARE(sqlValue(m_path, quote), before);
}

void TestRecordSource::foreignFilesRefusedUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason"); // part of the message
    const QString notOurs = u"データベースファイルではありません"_s;
    QTest::newRow("missing") << u"missing"_s << int(ErrorCode::Missing) << u"見つかりません"_s;
    QTest::newRow("zero bytes") << u"empty"_s << int(ErrorCode::NotCatalogue) << notOurs;
    QTest::newRow("text file") << u"text"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("folder of that name") << u"folder"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("catalogue short of its last page") << u"cut"_s << int(ErrorCode::NotDatabase) << notOurs;
    QTest::newRow("SQLite file without our tables") << u"foreign"_s << int(ErrorCode::NotCatalogue) << notOurs;
    QTest::newRow("a table short of a field") << u"nofield"_s << int(ErrorCode::NotCatalogue) << u"bumon_AU がありません"_s;
    // A file is data, never code: what SQLite would run refuses it.
    QTest::newRow("trigger") << u"trigger"_s << int(ErrorCode::HoldsCode) << u"トリガー evil"_s;
    QTest::newRow("syohin a view over an endless query") << u"view"_s << int(ErrorCode::HoldsCode) << u"ビュー syohin"_s;
    QTest::newRow("hot journal beside a trigger") << u"hotjournal"_s << int(ErrorCode::HoldsCode) << u"トリガー evil"_s;
    QTest::newRow("WAL-mode file with a trigger") << u"wal"_s << int(ErrorCode::HoldsCode) << u"トリガー evil"_s;
    QTest::newRow("generated column") << u"generated"_s << int(ErrorCode::NotCatalogue) << u"syohin_kana は計算される項目"_s;
    QTest::newRow("WITHOUT ROWID table") << u"withoutrowid"_s << int(ErrorCode::NotCatalogue) << u"WITHOUT ROWID のテーブル"_s;
    QTest::newRow("price declared as text") << u"texttype"_s << int(ErrorCode::NotCatalogue) << u"syohin_master の型が TEXT"_s;
    QTest::newRow("unique supplier code") << u"unique"_s << int(ErrorCode::NotCatalogue) << u"索引"_s;
    QTest::newRow("check constraint") << u"check"_s << int(ErrorCode::NotCatalogue) << u"「CHECK」"_s;
    QTest::newRow("format of a newer program") << u"newer"_s << int(ErrorCode::NewerFormat) << u"形式 99"_s;
    QTest::newRow("path longer than SQLite takes") << u"longpath"_s << int(ErrorCode::PathTooLong) << u"パスが長すぎる"_s;
}

void TestRecordSource::foreignFilesRefusedUntouched()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, reason);
    QVERIFY(execSql(m_path, u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                             "INSERT INTO syohin (syohin_mei, syohin_JAN) SELECT printf('%0400d', i), i FROM n"_s));
    const QByteArray real = readFile(m_path);
    QString path = m_folder->filePath(u"other.mdb"_s);
    const auto schemaWith = [&](const QString &from, const QString &to) {
        const QString sql = catalogueSchemaSql();
        QVERIFY(sql.contains(from));
        QVERIFY(writeFile(path, {}) && execSql(path, QString(sql).replace(from, to)));
    };
    const QString evil = u"CREATE TRIGGER evil AFTER INSERT ON syohin BEGIN DELETE FROM torihiki; END;"_s;
    if (kind == u"empty"_s) {
        QVERIFY(writeFile(path, {}));
    } else if (kind == u"text"_s) {
        QVERIFY(writeFile(path, u"商品名,標準価格\r\nコーラ,100\r\n"_s.toUtf8()));
    } else if (kind == u"folder"_s) {
        QVERIFY(QDir(m_folder->path()).mkdir(u"other.mdb"_s));
    } else if (kind == u"cut"_s) {
        QVERIFY(writeFile(path, real.left(real.size() - 4096)));
    } else if (kind == u"foreign"_s) {
        QVERIFY(writeFile(path, {}) && execSql(path, u"CREATE TABLE syohin_old (a TEXT)"_s));
    } else if (kind == u"nofield"_s) {
        schemaWith(u", bumon_AU CURRENCY"_s, QString());
    } else if (kind == u"trigger"_s || kind == u"wal"_s) {
        QVERIFY(writeFile(path, real));
        QVERIFY(execSql(path, (kind == u"wal"_s ? u"PRAGMA journal_mode = WAL; "_s : QString()) + evil));
    } else if (kind == u"view"_s) {
        QString sql;
        for (const QString &line : catalogueSchemaSql().split(u'\n')) {
            if (!line.contains(u"syohin"_s))
                sql += line + u'\n';
        }
        sql += u"CREATE VIEW syohin AS WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r) SELECT n AS rowid"_s;
        for (const FieldDef &field : syohinFields)
            sql += u", n AS "_s + field.name;
        QVERIFY(writeFile(path, {}) && execSql(path, sql + u" FROM r;"_s));
    } else if (kind == u"hotjournal"_s) {
        // Left as a writer stopped half-way leaves it: pages overwritten, the journal beside.
        const QString source = m_folder->filePath(u"source.mdb"_s);
        QVERIFY(writeFile(source, real) && execSql(source, evil));
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(source).constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA cache_size = 1; BEGIN; UPDATE syohin SET syohin_mei = syohin_mei || 'x';",
                              nullptr, nullptr, nullptr), SQLITE_OK);
        QVERIFY(QFile::copy(source, path) && QFile::copy(source + u"-journal"_s, path + u"-journal"_s));
        sqlite3_close(db);
        QVERIFY(readFile(path) != readFile(source));
    } else if (kind == u"generated"_s) {
        schemaWith(u"syohin_mei TEXT, "_s, u"syohin_mei TEXT, syohin_kana TEXT GENERATED ALWAYS AS (syohin_mei), "_s);
    } else if (kind == u"withoutrowid"_s) {
        schemaWith(u"torihiki_id INTEGER PRIMARY KEY AUTOINCREMENT)"_s, u"torihiki_id INTEGER PRIMARY KEY) WITHOUT ROWID"_s);
    } else if (kind == u"texttype"_s) {
        schemaWith(u"syohin_master CURRENCY"_s, u"syohin_master TEXT"_s);
    } else if (kind == u"unique"_s) {
        schemaWith(u"CREATE INDEX idx_torihiki_code"_s, u"CREATE UNIQUE INDEX idx_torihiki_code"_s);
    } else if (kind == u"check"_s) {
        schemaWith(u"bumon_AU CURRENCY"_s, u"bumon_AU CURRENCY CHECK (bumon_AU > 0)"_s);
    } else if (kind == u"newer"_s) {
        QVERIFY(writeFile(path, real) && execSql(path, u"PRAGMA user_version = 99"_s));
    } else if (kind == u"longpath"_s) {
        const QString folder = m_folder->filePath(QString(200, u'a') + u'/' + QString(200, u'b') + u'/' + QString(100, u'c'));
        QVERIFY(QDir().mkpath(folder));
        path = folder + u"/other.mdb"_s;
        QVERIFY(writeFile(path, real));
    }
    if (QTest::currentTestFailed())
        return;
    const auto state = folderState(m_folder->path());

    QCOMPARE(int(Connection::check(path).code()), code);
    RecordSource list;
    list.setDatabaseName(path);
    QVERIFY(!open(list));
    QVERIFY(isOpenFailure(list.status().code()));
    QVERIFY2(list.status().message().contains(reason) && list.status().message().contains(QDir::toNativeSeparators(path)),
             qPrintable(list.status().message()));
    QCOMPARE(list.recordCount(), 0);
    QVERIFY(!list.removeCurrentRecord());
    for (const bool product : {true, false}) {
        RecordSource registration;
        registration.setDatabaseName(path);
        QVERIFY(!startRegistration(registration, product));
        QVERIFY(!registration.update());
    }
    QCOMPARE(folderState(m_folder->path()), state);
}

// Another program adds a trigger while the catalogue is open here: the registration stores the
// product, and nothing else happens.
void TestRecordSource::codeAddedWhileOpenNeverRuns()
{
    QVERIFY(insertSupplier(m_path, {u"取引先"_s, {}, {}, u"120"_s, {}}));
    RecordSource registration;
    QVERIFY(open(registration, QString(SqlText::productAppend)));
    QVERIFY(execSql(m_path, u"CREATE TRIGGER evil AFTER INSERT ON syohin BEGIN DELETE FROM torihiki; END;"_s));
    QVERIFY(startRegistration(registration, true));
    QVERIFY2(registration.update(), qPrintable(registration.status().message()));
    QCOMPARE(sqlValue(m_path, u"SELECT count(*) FROM torihiki"_s).toInt(), 1);
    QCOMPARE(sqlValue(m_path, u"SELECT count(*) FROM syohin"_s).toInt(), 5);
}

// Every statement is bounded in the work it may do; a small bound stands in for a runaway
// statement, which ends with a message and leaves the catalogue usable.
void TestRecordSource::runawayStatementEnds()
{
    QVERIFY(execSql(m_path, u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                             "INSERT INTO syohin (syohin_mei, syohin_JAN) SELECT 'p' || i, i FROM n"_s));
    RecordSource list;
    list.setRecordSource(listed + u" and syohin_mei like '*x*'"_s);
    Connection::setStatementLimit(1000);
    QVERIFY(!list.refresh());
    QCOMPARE(list.status().code(), ErrorCode::ReadFailed);
    QVERIFY2(list.status().message().contains(u"処理が長すぎるため中止しました"_s), qPrintable(list.status().message()));
    Connection::setStatementLimit(0);
    QVERIFY2(list.refresh(), qPrintable(list.status().message()));
}

void TestRecordSource::writeRefused_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason"); // part of the message
    struct Cause
    {
        const char *name;
        ErrorCode code;
        QString reason;
        bool registration; // applies to registrations (which have no stored record to lose)
    };
    const QString changed = u"このレコードは他で変更されているため、"_s;
    const QString deleted = u"このレコードは削除されているため、"_s;
    const Cause causes[] = {
        {"immutable file", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        // The file is writable, but no journal can be made beside it.
        {"immutable folder", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        // Open for writing already, the connection must still fail without harm.
        {"immutable once open", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        {"disk full", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        {"folder removed", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        {"folder moved", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        // A copy takes the file's place: only the check that the file is the one opened keeps
        // the write away from either.
        {"file replaced by a copy", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        {"busy", ErrorCode::Busy, u"使用中"_s, true},
        // A value SQLite will not bind is never stored as an empty field.
        {"value too long for the connection", ErrorCode::WriteFailed, u"catalogue.mdb"_s, true},
        {"changed elsewhere", ErrorCode::Conflict, changed, false},
        {"deleted elsewhere", ErrorCode::Conflict, deleted, false},
        // The first format has no key column and hands out the same rowid again.
        {"replaced, first format", ErrorCode::Conflict, changed, false},
    };
    for (const Cause &cause : causes) {
        for (const char *operation : {"edit", "deletion", "product registration", "supplier registration"}) {
            const bool registration = QByteArray(operation).endsWith("registration");
            if ((registration && !cause.registration)
                || (QByteArray(operation) == "deletion" && QByteArray(cause.name).startsWith("value")))
                continue;
            const QString verb = QByteArray(operation) == "deletion" ? u"削除"_s : u"変更を保存"_s;
            QTest::addRow("%s, %s", cause.name, operation) << QString::fromLatin1(cause.name) << QString::fromLatin1(operation)
                << int(cause.code) << (cause.code == ErrorCode::Conflict ? cause.reason + verb : cause.reason);
        }
    }
}

void TestRecordSource::writeRefused()
{
    QFETCH(QString, cause);
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(QString, reason);
    const QString shop = m_folder->filePath(u"shop"_s);
    QString path = shop + u"/catalogue.mdb"_s;
    QVERIFY(QDir().mkpath(shop));
    if (cause == u"disk full"_s) {
        if (::mount("tmpfs", QFile::encodeName(shop).constData(), "tmpfs", 0, "size=400k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root with CAP_SYS_ADMIN)");
        m_mounted << shop;
    }
    if (cause == u"replaced, first format"_s) {
        QVERIFY(writeFile(path, {}));
        QVERIFY(execSql(path, u"PRAGMA application_id=%2; PRAGMA user_version=1; "
                               "CREATE TABLE syohin (syohin_mei TEXT, syohin_master CURRENCY, syohin_sale CURRENCY, "
                               "syohin_genka CURRENCY, syohin_JAN CURRENCY, syohin_EOS CURRENCY, syohin_EOStani SMALLINT, "
                               "syohin_torihiki TEXT, syohin_torihikicode CURRENCY, bumon_code CURRENCY, bumon_AU CURRENCY); "
                               "CREATE TABLE torihiki (torihiki_mei TEXT, torihiki_add TEXT, torihiki_tel TEXT, "
                               "torihiki_code CURRENCY, torihiki_post TEXT); "
                               "ATTACH '%1' AS v2; INSERT INTO syohin SELECT syohin_mei, syohin_master, syohin_sale, "
                               "syohin_genka, syohin_JAN, syohin_EOS, syohin_EOStani, syohin_torihiki, "
                               "syohin_torihikicode, bumon_code, bumon_AU FROM v2.syohin"_s.arg(m_path).arg(catalogueApplicationId)));
    } else {
        QVERIFY(QFile::copy(m_path, path));
    }
    if ((cause == u"immutable file"_s && !protect(path)) || (cause == u"immutable folder"_s && !protect(shop)))
        QSKIP("this file system cannot write-protect against root (no chattr +i)");

    // The write is prepared as the windows prepare it: a product current in the list (and
    // edited), or a registration typed in.
    const bool registration = operation.endsWith(u"registration"_s);
    RecordSource source;
    source.setDatabaseName(path);
    if (registration) {
        QVERIFY(startRegistration(source, operation.startsWith(u"product"_s)));
    } else {
        QVERIFY(open(source));
        QVERIFY(source.setCurrentRow(2));
        QCOMPARE(source.text(Field::syohin_mei), u"お茶"_s);
        if (operation == u"edit"_s)
            QVERIFY(source.setText(Field::syohin_master, u"1"_s));
    }

    QString survivor = path;
    if (cause == u"immutable once open"_s && !protect(path)) {
        QSKIP("this file system cannot write-protect against root (no chattr +i)");
    } else if (cause == u"disk full"_s) {
        QFile filler(shop + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) {
        }
    } else if (cause == u"folder removed"_s) {
        QVERIFY(QDir(shop).removeRecursively());
        survivor.clear();
    } else if (cause == u"folder moved"_s) {
        survivor = m_folder->filePath(u"moved/catalogue.mdb"_s);
        QVERIFY(QDir().rename(shop, m_folder->filePath(u"moved"_s)));
    } else if (cause == u"file replaced by a copy"_s) {
        QVERIFY(QFile::rename(path, shop + u"/catalogue-old.mdb"_s));
        QVERIFY(QFile::copy(shop + u"/catalogue-old.mdb"_s, path));
    } else if (cause.startsWith(u"value too long"_s)) {
        sqlite3_limit(handleOf(source), SQLITE_LIMIT_LENGTH, 1000);
        QVERIFY(source.setText(registration && operation.startsWith(u"supplier"_s) ? Field::torihiki_mei : Field::syohin_mei,
                               QString(2000, u'x')));
    } else if (cause == u"changed elsewhere"_s) {
        QVERIFY(execSql(path, u"update syohin set syohin_master=990000 where syohin_mei='お茶'"_s));
    } else if (cause != u"immutable file"_s && cause != u"immutable folder"_s && cause != u"immutable once open"_s
               && cause != u"busy"_s) {
        QVERIFY(execSql(path, u"delete from syohin where syohin_mei='お茶'; insert into syohin (syohin_mei, "
                               "syohin_master, syohin_JAN) values ('別の商品', 1000000, 1)"_s));
    }
    const auto state = folderState(m_folder->path());
    const auto rows = survivor.isEmpty() ? QList<QVariantList>() : productsIn(survivor);
    if (cause == u"busy"_s) {
        QCOMPARE(sqlite3_open_v2(QFile::encodeName(path).constData(), &m_other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(m_other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_busy_timeout(handleOf(source), 10);
    }

    const Status result = operation == u"edit"_s ? source.setCurrentRow(0)
        : operation == u"deletion"_s             ? source.removeCurrentRecord()
                                                 : source.update();
    QVERIFY(!result);
    QCOMPARE(int(source.status().code()), code);
    QVERIFY2(source.status().message().contains(reason), qPrintable(source.status().message()));
    sqlite3_close(m_other);
    m_other = nullptr;
    QCOMPARE(folderState(m_folder->path()), state);
    if (!survivor.isEmpty())
        QCOMPARE(productsIn(survivor), rows);
    if (operation == u"edit"_s) {
        // Refused, the user stays on the record with the edit; a conflict drops it and shows
        // the record as it now stands.
        QCOMPARE(source.hasPendingEdits(), code != int(ErrorCode::Conflict));
        if (code == int(ErrorCode::Conflict) && cause == u"changed elsewhere"_s)
            QTRY_COMPARE(source.text(Field::syohin_master), u"99"_s);
    }
    if (cause == u"immutable once open"_s || cause == u"busy"_s) {
        // Once the cause is gone the same write goes through.
        QCOMPARE(QProcess::execute(u"chattr"_s, {u"-i"_s, path}), 0);
        QVERIFY2(operation == u"edit"_s ? source.setCurrentRow(0)
                 : operation == u"deletion"_s ? source.removeCurrentRecord() : source.update(),
                 qPrintable(source.status().message()));
    }
}

QTEST_GUILESS_MAIN(TestRecordSource)
#include "tst_recordsource.moc"
