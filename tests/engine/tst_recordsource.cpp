#include "testsupport.h"

#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString listed = u"select * from syohin where syohin_JAN<>-99"_s;

bool open(RecordSource &source, const QString &text = QString(SqlText::allProducts))
{
    source.setRecordSource(text);
    return source.refresh().ok();
}

} // namespace

class TestRecordSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void emptyProductViewSelectsNothing();
    void reservedRowsAreNeverListed();
    void resultKeepsTableOrderAndFirstRowIsCurrent();
    void valuesComeBackAsTheirKinds();
    void craftedKeysListNothingExtra_data();
    void craftedKeysListNothingExtra();
    void rejectedStatementKeepsRows();
    void editIsStoredWhenRecordIsLeft();
    void invalidEditIsRefusedAndKept();
    void valueSqliteRefusesStoresNothing_data();
    void valueSqliteRefusesStoresNothing();
    void typingBackTheStoredValueLeavesNothingPending();
    void appendIntoEmptyTableBecomesCurrent();
    void twoSourcesSeeChangesOnlyAfterRefresh();
    void staleWriteTouchesOnlyTheRecordRead_data();
    void staleWriteTouchesOnlyTheRecordRead();
    void forEachRowVisitsInOrderWithoutMoving();
    void columnsInAnotherOrderStillWork_data();
    void columnsInAnotherOrderStillWork();
    void followsTheCurrentCatalogue();
    void idleResultHoldsNoLock();

private:
    // Runs SQL as another program would, without waiting for a lock; returns SQLite's code.
    int writeElsewhere(const char *sql) const
    {
        sqlite3 *db = nullptr;
        int rc = sqlite3_open_v2(m_path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return rc;
    }
    int stored() const { return sqlValue(m_path, u"select count(*) from syohin"_s).toInt(); }
    QVariant storedField(const QString &field, int rowid) const
    {
        return sqlValue(m_path, u"select %1 from syohin where rowid=%2"_s.arg(field).arg(rowid));
    }

    std::unique_ptr<CatalogueFolder> m_folder;
    QString m_path;
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
    m_folder.reset();
}

void TestRecordSource::emptyProductViewSelectsNothing()
{
    RecordSource source;
    source.setRecordSource(QString(SqlText::emptyProductView));
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 0);
    QCOMPARE(source.currentRow(), -1);
    QCOMPARE(source.columnCount(), 11);
    QCOMPARE(source.text(Field::syohin_mei), QString());
    QVERIFY(source.value(Field::syohin_JAN).isNull());
}

void TestRecordSource::reservedRowsAreNeverListed()
{
    RecordSource source;
    const QStringList texts{
        QString(SqlText::allProducts),
        listed + u" and bumon_code like 3"_s,
        listed + u" and syohin_mei like '*'"_s,
        listed + u" and syohin_JAN like -99"_s,
    };
    for (const QString &text : texts) {
        source.setRecordSource(text);
        QVERIFY2(source.refresh(), qPrintable(text));
        QVERIFY2(!listedNames(&source).contains(u"予約"_s), qPrintable(text));
    }
    // Only the whole-table text used for appending sees it.
    source.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(source.refresh());
    QVERIFY(listedNames(&source).contains(u"予約"_s));
}

void TestRecordSource::resultKeepsTableOrderAndFirstRowIsCurrent()
{
    RecordSource source;
    QSignalSpy current(&source, &RecordSource::currentRowChanged);
    source.setRecordSource(listed + u" and bumon_code like 3"_s);
    QVERIFY(source.refresh());
    QCOMPARE(listedNames(&source), (QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s}));
    QCOMPARE(source.currentRow(), 0);
    QCOMPARE(source.text(Field::syohin_mei), u"コーラ"_s);
    QCOMPARE(current.count(), 1);
    QCOMPARE(source.headerData(0, Qt::Horizontal).toString(), u"syohin_mei"_s);
}

void TestRecordSource::valuesComeBackAsTheirKinds()
{
    QVERIFY(insertProduct(m_path, {.mei = u"a"_s, .master = u"0.5"_s, .sale = QString(), .jan = u"9999999999999"_s,
                                   .eostani = u"-32768"_s}));
    RecordSource source;
    QVERIFY(open(source, listed + u" and syohin_mei like 'a'"_s));
    QCOMPARE(source.value(Field::syohin_master).value<Currency>(), *Currency::parse(u"0.5"));
    QCOMPARE(source.text(Field::syohin_master), u"0.5"_s);
    QVERIFY(source.value(Field::syohin_sale).isNull());
    QCOMPARE(source.text(Field::syohin_sale), QString());
    QCOMPARE(source.text(Field::syohin_JAN), u"9999999999999"_s);
    QCOMPARE(source.value(Field::syohin_EOStani).toInt(), -32768);
}

void TestRecordSource::craftedKeysListNothingExtra_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    // A crafted name key, quote doubled as the search writes it: matched literally.
    QTest::newRow("doubled") << listed + u" and syohin_mei like 'x'' or ''a''=''a'"_s << true;
    // The same key spliced raw: rejected, never widened.
    QTest::newRow("spliced") << listed + u" and syohin_mei like 'x' or 'a'='a'"_s << false;
    QTest::newRow("statement") << listed + u" and bumon_code like 1; delete from syohin"_s << false;
    // Every other text the parser refuses (tst_statement) is refused the same way.
    QTest::newRow("unknown table") << u"select * from sqlite_master"_s << false;
}

void TestRecordSource::craftedKeysListNothingExtra()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    insertSupplier(m_path, {u"A"_s, {}, {}, u"1"_s, {}});
    RecordSource source;
    source.setRecordSource(text);
    QCOMPARE(source.refresh().ok(), accepted);
    if (!accepted)
        QCOMPARE(source.status().code(), ErrorCode::BadStatement);
    QCOMPARE(source.recordCount(), 0);
    QCOMPARE(stored(), 4);
}

void TestRecordSource::rejectedStatementKeepsRows()
{
    RecordSource source;
    QVERIFY(open(source));
    QCOMPARE(source.recordCount(), 3);
    source.setRecordSource(u"select * from syohin where syohin_mei like 'a"_s);
    QVERIFY(!source.refresh());
    QCOMPARE(source.recordCount(), 3);
    QCOMPARE(source.currentRow(), 0);
}

void TestRecordSource::editIsStoredWhenRecordIsLeft()
{
    RecordSource source;
    QVERIFY(open(source));
    QVERIFY(source.setText(Field::syohin_master, u"1,980"_s));
    QCOMPARE(source.editMode(), EditMode::Editing);
    QCOMPARE(source.data(source.index(0, 1)).toString(), u"1,980"_s);
    // Still pending: nothing in the file yet.
    QCOMPARE(storedField(u"syohin_master"_s, 1).toLongLong(), 1000000);
    QVERIFY(source.setCurrentRow(1));
    QCOMPARE(source.editMode(), EditMode::None);
    QCOMPARE(storedField(u"syohin_master"_s, 1).toLongLong(), 19800000);
    QCOMPARE(source.lastModified(), Bookmark(1));

    // A grid edit on another row makes that row current first, then stores on refresh.
    QVERIFY(source.setData(source.index(2, 0), u"緑茶"_s));
    QCOMPARE(source.currentRow(), 2);
    QVERIFY(source.refresh());
    QCOMPARE(storedField(u"syohin_mei"_s, 4).toString(), u"緑茶"_s);
}

void TestRecordSource::invalidEditIsRefusedAndKept()
{
    RecordSource source;
    QVERIFY(open(source));
    QVERIFY(source.setText(Field::syohin_mei, u"新しい名前"_s));
    QVERIFY(source.setText(Field::syohin_EOStani, u"40000"_s));
    QVERIFY(!source.setCurrentRow(1));
    QCOMPARE(source.status().code(), ErrorCode::InvalidValue);
    QCOMPARE(source.status().field(), u"syohin_EOStani"_s);
    QCOMPARE(source.currentRow(), 0);
    QCOMPARE(source.text(Field::syohin_EOStani), u"40000"_s);
    QVERIFY(!source.refresh());
    QCOMPARE(source.recordCount(), 3);
    // Nothing of the record was stored, not even the valid field.
    QCOMPARE(storedField(u"syohin_mei"_s, 1).toString(), u"コーラ"_s);

    // Clearing a number is invalid too.
    QVERIFY(source.setText(Field::syohin_EOStani, u"12"_s));
    QVERIFY(source.setText(Field::syohin_JAN, QString()));
    QVERIFY(!source.storePending());
    QCOMPARE(source.status().field(), u"syohin_JAN"_s);

    source.cancelUpdate();
    QCOMPARE(source.editMode(), EditMode::None);
    QCOMPARE(source.text(Field::syohin_JAN), u"4901234567894"_s);
    QVERIFY(source.setCurrentRow(1));
}

void TestRecordSource::valueSqliteRefusesStoresNothing_data()
{
    QTest::addColumn<bool>("adding");
    QTest::newRow("new record") << true;
    QTest::newRow("edit") << false;
}

// A value SQLite will not bind (longer than the connection takes) fails the write: it is
// never stored as an empty field.
void TestRecordSource::valueSqliteRefusesStoresNothing()
{
    QFETCH(bool, adding);
    RecordSource source;
    QVERIFY(open(source));
    sqlite3_limit(handleOf(source), SQLITE_LIMIT_LENGTH, 1000);
    const auto before = productsIn(m_path);
    if (adding)
        QVERIFY(source.addNew());
    QVERIFY(source.setText(Field::syohin_mei, QString(2000, u'x')));
    QVERIFY(source.setText(Field::syohin_sale, u"77"_s));
    QVERIFY(!source.update());
    QCOMPARE(source.status().code(), ErrorCode::WriteFailed);
    QCOMPARE(productsIn(m_path), before);
}

void TestRecordSource::typingBackTheStoredValueLeavesNothingPending()
{
    RecordSource source;
    QVERIFY(open(source));
    QVERIFY(source.setText(Field::syohin_master, u"5"_s));
    QVERIFY(source.setText(Field::syohin_master, u"100"_s));
    QCOMPARE(source.editMode(), EditMode::None);
}

void TestRecordSource::appendIntoEmptyTableBecomesCurrent()
{
    RecordSource source;
    source.setRecordSource(QString(SqlText::supplierAppend));
    QVERIFY(source.refresh());
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
    QCOMPARE(sqlValue(m_path, u"select torihiki_code from torihiki"_s).toLongLong(), units(120));

    // A text that does not convert is refused at update and stores nothing.
    QVERIFY(source.addNew());
    QVERIFY(source.setText(Field::torihiki_code, u"12A"_s));
    QVERIFY(!source.update());
    QCOMPARE(source.status().code(), ErrorCode::InvalidValue);
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 1);
}

void TestRecordSource::twoSourcesSeeChangesOnlyAfterRefresh()
{
    RecordSource list;
    QVERIFY(open(list));
    RecordSource registration;
    registration.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(registration.refresh());
    QVERIFY(registration.addNew());
    registration.setValue(Field::syohin_mei, u"新商品"_s);
    registration.setValue(Field::syohin_JAN, QVariant::fromValue(*Currency::parse(u"1")));
    QVERIFY(registration.update());
    QCOMPARE(list.recordCount(), 3);
    QCOMPARE(handleOf(list), handleOf(registration));
    QVERIFY(list.refresh());
    QCOMPARE(list.recordCount(), 4);
}

void TestRecordSource::staleWriteTouchesOnlyTheRecordRead_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("deletion");   // the list deletes instead of editing
    QTest::addColumn<QString>("elsewhere");
    QTest::addColumn<bool>("gone");       // refused because the record was deleted
    const QString replace = u"delete from syohin where syohin_mei='お茶'; "
                            "insert into syohin (syohin_mei, syohin_master, syohin_JAN) values ('別の商品', 1000000, 1)"_s;
    const QString change = u"update syohin set syohin_master=990000 where syohin_mei='お茶'"_s;
    // Another program deletes the product shown last and registers another: a format-1 file
    // hands out the same rowid again, a format-2 file never does.
    QTest::newRow("edit, replaced, format 1") << 1 << false << replace << false;
    QTest::newRow("edit, replaced, format 2") << 2 << false << replace << true;
    QTest::newRow("edit, changed") << 2 << false << change << false;
    QTest::newRow("deletion, replaced, format 1") << 1 << true << replace << false;
    QTest::newRow("deletion, replaced, format 2") << 2 << true << replace << true;
}

void TestRecordSource::staleWriteTouchesOnlyTheRecordRead()
{
    QFETCH(int, format);
    QFETCH(bool, deletion);
    QFETCH(QString, elsewhere);
    QFETCH(bool, gone);
    QString path = m_path;
    if (format == 1) {
        // The first catalogue format: no key column, rows addressed by rowid alone.
        path = m_folder->filePath(u"format1.mdb"_s);
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
    }
    RecordSource list;
    list.setDatabaseName(path);
    QVERIFY(open(list));
    QVERIFY(list.setCurrentRow(2));
    QCOMPARE(list.text(Field::syohin_mei), u"お茶"_s);
    if (!deletion)
        QVERIFY(list.setText(Field::syohin_master, u"1"_s));
    QVERIFY(execSql(path, elsewhere));
    const auto before = productsIn(path);

    QVERIFY(!(deletion ? list.removeCurrentRecord() : list.setCurrentRow(0)));
    QCOMPARE(list.status().code(), ErrorCode::Conflict);
    QCOMPARE(list.status().message(), (gone ? u"このレコードは削除されているため、%1できませんでした。"_s
                                       : u"このレコードは他で変更されているため、%1できませんでした。"_s)
                                     .arg(deletion ? u"削除"_s : u"変更を保存"_s));
    QCOMPARE(productsIn(path), before);
    // The list shows the record as it now stands: the edit is dropped, a deleted record goes.
    QVERIFY(!list.hasPendingEdits());
    QTRY_COMPARE(list.recordCount(), gone ? 2 : 3);
    if (!gone) {
        const auto now = querySql(path, u"select syohin_mei, syohin_master from syohin where rowid=%1"_s
                                            .arg(list.bookmark())).value(0);
        QCOMPARE(list.text(Field::syohin_mei), now.value(0).toString());
        QCOMPARE(list.value(Field::syohin_master).value<Currency>().units(), now.value(1).toLongLong());
    }
}

void TestRecordSource::forEachRowVisitsInOrderWithoutMoving()
{
    QVERIFY(execSql(m_path, u"WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 199) "
                             "INSERT INTO syohin (syohin_mei, syohin_JAN, bumon_code) "
                             "SELECT '品' || i, 10000, CASE WHEN i % 50 = 0 THEN 90000 ELSE 80000 END FROM n"_s));
    RecordSource source;
    for (const auto &[text, listedCount] : {std::pair{listed, 203},
                                            std::pair{listed + u" and bumon_code like 9"_s, 4}}) {
        source.setRecordSource(text);
        QVERIFY(source.refresh());
        QVERIFY(source.setCurrentRow(1));
        // A row removed after the refresh is skipped, and leaves the list.
        const QString removed = source.row(2).value(0).toString();
        QVERIFY(execSql(m_path, u"delete from syohin where syohin_mei='%1'"_s.arg(removed)));
        QStringList visited;
        QVERIFY(source.forEachRow([&](const Row &row) {
            // No read lock is held while a row is handled: another program can write.
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

void TestRecordSource::columnsInAnotherOrderStillWork_data()
{
    QTest::addColumn<bool>("generated");
    QTest::newRow("another order") << false;
    // Added by another program while the list is open: values are matched by name, not position.
    QTest::newRow("generated column after the name") << true;
}

void TestRecordSource::columnsInAnotherOrderStillWork()
{
    QFETCH(bool, generated);
    const QString path = m_folder->makeCatalogue(u"reordered.mdb"_s);
    QVERIFY(insertProduct(path, {.mei = u"x"_s, .jan = u"1"_s, .eostani = u"7"_s}));
    if (!generated)
        QVERIFY(shuffleProductColumns(path));
    RecordSource source;
    source.setDatabaseName(path);
    QVERIFY(open(source, listed + u" and bumon_code like 3"_s));
    QCOMPARE(source.recordCount(), 1);
    QCOMPARE(source.columnCount(), 11);
    QCOMPARE(source.fieldName(0), generated ? u"syohin_mei"_s : u"bumon_AU"_s);
    if (generated) {
        QVERIFY(execSql(path, u"ALTER TABLE syohin RENAME TO old; CREATE TABLE syohin (syohin_mei TEXT, "
                               "extra TEXT GENERATED ALWAYS AS ('!') VIRTUAL, syohin_master CURRENCY, "
                               "syohin_sale CURRENCY, syohin_genka CURRENCY, syohin_JAN CURRENCY, syohin_EOS CURRENCY, "
                               "syohin_EOStani SMALLINT, syohin_torihiki TEXT, syohin_torihikicode CURRENCY, "
                               "bumon_code CURRENCY, bumon_AU CURRENCY, syohin_id INTEGER PRIMARY KEY); "
                               "INSERT INTO syohin SELECT syohin_mei, syohin_master, syohin_sale, syohin_genka, "
                               "syohin_JAN, syohin_EOS, syohin_EOStani, syohin_torihiki, syohin_torihikicode, "
                               "bumon_code, bumon_AU, syohin_id FROM old; DROP TABLE old"_s));
        QVERIFY(source.refresh());
    }
    QCOMPARE(source.text(Field::syohin_mei), u"x"_s);
    QCOMPARE(source.text(Field::syohin_EOStani), u"7"_s);
    QCOMPARE(source.text(Field::bumon_AU), u"1"_s);
}

void TestRecordSource::followsTheCurrentCatalogue()
{
    const QString other = m_folder->filePath(u"other.mdb"_s);
    QVERIFY(makeCatalogue(other));
    RecordSource before;
    before.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(before.refresh());
    QCOMPARE(before.recordCount(), 3);
    CurrentCatalogue::instance().setDatabaseName(other);
    QCOMPARE(before.databaseName(), other);
    QCOMPARE(before.recordCount(), 3); // keeps its rows until refreshed
    QVERIFY(before.refresh());
    QCOMPARE(before.recordCount(), 0);
    RecordSource later;
    QCOMPARE(later.databaseName(), other);
}

void TestRecordSource::idleResultHoldsNoLock()
{
    RecordSource source;
    QVERIFY(open(source));
    QVERIFY(!source.data(source.index(1, 0)).toString().isEmpty());
    // An exclusive lock needs every reader gone.
    QCOMPARE(writeElsewhere("BEGIN EXCLUSIVE; DELETE FROM syohin WHERE rowid=4; COMMIT;"), SQLITE_OK);
}

QTEST_GUILESS_MAIN(TestRecordSource)
#include "tst_recordsource.moc"
