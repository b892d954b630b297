#include "catalogue/connection.h"
#include "catalogue/currentcatalogue.h"
#include "catalogue/recordsource.h"
#include "catalogue/sqltexts.h"
#include "testsupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Merchalog::Test::Product;

class TestRecordSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void openingNeverCreatesOrAcceptsForeignFiles_data();
    void openingNeverCreatesOrAcceptsForeignFiles();
    void emptyProductViewSelectsNothing();
    void reservedRowsAreNeverListed();
    void resultKeepsTableOrderAndFirstRowIsCurrent();
    void valuesComeBackAsTheirKinds();
    void namePatternsFoldWidthCaseAndKana();
    void quotedNameIsFoundLiterally();
    void craftedKeysListNothingExtra_data();
    void craftedKeysListNothingExtra();
    void rejectedStatementKeepsRows();
    void editIsStoredWhenRecordIsLeft();
    void invalidEditIsRefusedAndKept();
    void typingBackTheStoredValueLeavesNothingPending();
    void appendIntoEmptyTableBecomesCurrent();
    void removeWhileAddingDeletesNothing();
    void deleteLeavesBlankRowAndNoCurrent();
    void twoSourcesSeeChangesOnlyAfterRefresh();
    void rowRemovedElsewhereReadsBlank();
    void editOfRowRemovedElsewhereIsReported();
    void forEachRowVisitsInOrderWithoutMoving();
    void columnsInAnotherOrderStillWork();
    void followsTheCurrentCatalogue();
    void idleResultHoldsNoLock();
    void writeToVanishedFileFails();

private:
    QString seeded();
    QStringList names(RecordSource &source);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestRecordSource::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(u"catalogue.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_path));
    CurrentCatalogue::instance().setDatabaseName(m_path);
}

void TestRecordSource::cleanup()
{
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_dir.reset();
}

QString TestRecordSource::seeded()
{
    Product p;
    p.mei = u"コーラ"_s;
    p.bumon = u"3"_s;
    p.jan = u"4901234567894"_s;
    Test::insertProduct(m_path, p);
    p.mei = u"ダイエットｺｰﾗ"_s;
    p.jan = u"4901234567801"_s;
    p.master = u"12.5"_s;
    Test::insertProduct(m_path, p);
    p.mei = u"予約"_s;
    p.jan = u"-99"_s;
    Test::insertProduct(m_path, p);
    p.mei = u"お茶"_s;
    p.bumon = u"4"_s;
    p.jan = u"4901234567818"_s;
    Test::insertProduct(m_path, p);
    return m_path;
}

QStringList TestRecordSource::names(RecordSource &source)
{
    QStringList result;
    for (int i = 0; i < source.recordCount(); ++i)
        result << source.row(i).value(source.fieldIndex(Field::syohin_mei)).toString();
    return result;
}

void TestRecordSource::openingNeverCreatesOrAcceptsForeignFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("zero bytes") << QByteArray() << true;
    QTest::newRow("text file") << QByteArray("商品名,価格\r\n") << true;
    QTest::newRow("truncated header") << QByteArray("SQLite format 3\0", 16) << true;
}

void TestRecordSource::openingNeverCreatesOrAcceptsForeignFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString path = m_dir->filePath(u"other.mdb"_s);
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    RecordSource source;
    source.setDatabaseName(path);
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(!source.refresh());
    QCOMPARE(source.lastError(), RecordSource::Error::OpenFailed);
    QVERIFY(!source.errorString().isEmpty());
    QCOMPARE(source.recordCount(), 0);
    QCOMPARE(QFile::exists(path), exists);
    if (exists)
        QCOMPARE(QFileInfo(path).size(), qint64(content.size()));
}

void TestRecordSource::emptyProductViewSelectsNothing()
{
    seeded();
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
    seeded();
    RecordSource source;
    const QStringList texts{
        QString(SqlText::allProducts),
        u"select * from syohin where syohin_JAN<>-99 and bumon_code like 3"_s,
        u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '*'"_s,
        u"select * from syohin where syohin_JAN<>-99 and syohin_JAN like -99"_s,
    };
    for (const QString &text : texts) {
        source.setRecordSource(text);
        QVERIFY2(source.refresh(), qPrintable(text));
        QVERIFY2(!names(source).contains(u"予約"_s), qPrintable(text));
    }
    // Only the whole-table text used for appending sees it.
    source.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(source.refresh());
    QVERIFY(names(source).contains(u"予約"_s));
}

void TestRecordSource::resultKeepsTableOrderAndFirstRowIsCurrent()
{
    seeded();
    RecordSource source;
    QSignalSpy current(&source, &RecordSource::currentRowChanged);
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and bumon_code like 3"_s);
    QVERIFY(source.refresh());
    QCOMPARE(names(source), (QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s}));
    QCOMPARE(source.currentRow(), 0);
    QCOMPARE(source.text(Field::syohin_mei), u"コーラ"_s);
    QCOMPARE(current.count(), 1);
    QCOMPARE(source.headerData(0, Qt::Horizontal).toString(), u"syohin_mei"_s);
}

void TestRecordSource::valuesComeBackAsTheirKinds()
{
    Product p;
    p.mei = u"a"_s;
    p.master = u"0.5"_s;
    p.sale = QString();
    p.jan = u"9999999999999"_s;
    p.eostani = u"-32768"_s;
    Test::insertProduct(m_path, p);
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QCOMPARE(source.value(Field::syohin_master).value<Currency>(), *Currency::parse(u"0.5"));
    QCOMPARE(source.text(Field::syohin_master), u"0.5"_s);
    QVERIFY(source.value(Field::syohin_sale).isNull());
    QCOMPARE(source.text(Field::syohin_sale), QString());
    QCOMPARE(source.text(Field::syohin_JAN), u"9999999999999"_s);
    QCOMPARE(source.value(Field::syohin_EOStani).toInt(), -32768);
}

void TestRecordSource::namePatternsFoldWidthCaseAndKana()
{
    seeded();
    RecordSource source;
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '*こーら*'"_s);
    QVERIFY(source.refresh());
    QCOMPARE(names(source), (QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s}));
    // Without wildcards the whole value must match.
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_mei like 'コー'"_s);
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 0);
}

void TestRecordSource::quotedNameIsFoundLiterally()
{
    Product p;
    p.mei = u"Bob's ビール"_s;
    Test::insertProduct(m_path, p);
    RecordSource source;
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and syohin_mei like 'Bob''s ビール'"_s);
    QVERIFY(source.refresh());
    QCOMPARE(names(source), QStringList{u"Bob's ビール"_s});
}

void TestRecordSource::craftedKeysListNothingExtra_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    // A crafted name key, quote doubled as the search writes it: matched literally.
    QTest::newRow("doubled") << u"select * from syohin where syohin_JAN<>-99 and syohin_mei like 'x'' or ''a''=''a'"_s << true;
    // The same key spliced raw: rejected, never widened.
    QTest::newRow("spliced") << u"select * from syohin where syohin_JAN<>-99 and syohin_mei like 'x' or 'a'='a'"_s << false;
    QTest::newRow("statement") << u"select * from syohin where syohin_JAN<>-99 and bumon_code like 1; delete from syohin"_s << false;
    QTest::newRow("comment") << u"select * from syohin where syohin_JAN<>-99 and bumon_code like 1 --"_s << false;
    QTest::newRow("or") << u"select * from torihiki where torihiki_code like 1 or 1=1"_s << false;
    QTest::newRow("unclosed bracket") << u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '[abc'"_s << false;
    QTest::newRow("unknown field") << u"select * from syohin where nothing like 1"_s << false;
    QTest::newRow("unknown table") << u"select * from sqlite_master"_s << false;
}

void TestRecordSource::craftedKeysListNothingExtra()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    seeded();
    Test::insertSupplier(m_path, {u"A"_s, {}, {}, u"1"_s, {}});
    RecordSource source;
    source.setRecordSource(text);
    QCOMPARE(source.refresh(), accepted);
    if (!accepted)
        QCOMPARE(source.lastError(), RecordSource::Error::BadStatement);
    QCOMPARE(source.recordCount(), 0);
    QCOMPARE(Test::querySql(m_path, u"select count(*) from syohin"_s).value(0).value(0).toInt(), 4);
}

void TestRecordSource::rejectedStatementKeepsRows()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 3);
    source.setRecordSource(u"select * from syohin where syohin_mei like 'a"_s);
    QVERIFY(!source.refresh());
    QCOMPARE(source.recordCount(), 3);
    QCOMPARE(source.currentRow(), 0);
}

void TestRecordSource::editIsStoredWhenRecordIsLeft()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(source.setText(Field::syohin_master, u"1,980"_s));
    QCOMPARE(source.editMode(), EditMode::Editing);
    QCOMPARE(source.data(source.index(0, 1)).toString(), u"1,980"_s);
    // Still pending: nothing in the file yet.
    QCOMPARE(Test::querySql(m_path, u"select syohin_master from syohin where rowid=1"_s).value(0).value(0).toLongLong(), 1000000);
    QVERIFY(source.setCurrentRow(1));
    QCOMPARE(source.editMode(), EditMode::None);
    QCOMPARE(Test::querySql(m_path, u"select syohin_master from syohin where rowid=1"_s).value(0).value(0).toLongLong(), 19800000);
    QCOMPARE(source.lastModified(), Bookmark(1));

    // A grid edit on another row makes that row current first, then stores on refresh.
    QVERIFY(source.setData(source.index(2, 0), u"緑茶"_s));
    QCOMPARE(source.currentRow(), 2);
    QVERIFY(source.refresh());
    QCOMPARE(Test::querySql(m_path, u"select syohin_mei from syohin where rowid=4"_s).value(0).value(0).toString(), u"緑茶"_s);
}

void TestRecordSource::invalidEditIsRefusedAndKept()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(source.setText(Field::syohin_mei, u"新しい名前"_s));
    QVERIFY(source.setText(Field::syohin_EOStani, u"40000"_s));
    QVERIFY(!source.setCurrentRow(1));
    QCOMPARE(source.lastError(), RecordSource::Error::InvalidValue);
    QCOMPARE(source.errorField(), u"syohin_EOStani"_s);
    QCOMPARE(source.currentRow(), 0);
    QCOMPARE(source.text(Field::syohin_EOStani), u"40000"_s);
    QVERIFY(!source.refresh());
    QCOMPARE(source.recordCount(), 3);
    // Nothing of the record was stored, not even the valid field.
    QCOMPARE(Test::querySql(m_path, u"select syohin_mei from syohin where rowid=1"_s).value(0).value(0).toString(), u"コーラ"_s);

    // Clearing a number is invalid too.
    QVERIFY(source.setText(Field::syohin_EOStani, u"12"_s));
    QVERIFY(source.setText(Field::syohin_JAN, QString()));
    QVERIFY(!source.storePending());
    QCOMPARE(source.errorField(), u"syohin_JAN"_s);

    source.cancelUpdate();
    QCOMPARE(source.editMode(), EditMode::None);
    QCOMPARE(source.text(Field::syohin_JAN), u"4901234567894"_s);
    QVERIFY(source.setCurrentRow(1));
}

void TestRecordSource::typingBackTheStoredValueLeavesNothingPending()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
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
    QCOMPARE(Test::querySql(m_path, u"select torihiki_code from torihiki"_s).value(0).value(0).toLongLong(), 1200000);

    // A text that does not convert is refused at update and stores nothing.
    QVERIFY(source.addNew());
    QVERIFY(source.setText(Field::torihiki_code, u"12A"_s));
    QVERIFY(!source.update());
    QCOMPARE(source.lastError(), RecordSource::Error::InvalidValue);
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 1);
}

void TestRecordSource::removeWhileAddingDeletesNothing()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(source.addNew());
    QVERIFY(source.removeCurrentRecord());
    QCOMPARE(source.editMode(), EditMode::None);
    QCOMPARE(Test::querySql(m_path, u"select count(*) from syohin"_s).value(0).value(0).toInt(), 4);
}

void TestRecordSource::deleteLeavesBlankRowAndNoCurrent()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(source.setText(Field::syohin_mei, u"捨てる編集"_s));
    QVERIFY(source.removeCurrentRecord());
    QCOMPARE(source.currentRow(), -1);
    QCOMPARE(source.recordCount(), 3);
    QCOMPARE(source.data(source.index(0, 0)).toString(), QString());
    QCOMPARE(Test::querySql(m_path, u"select count(*) from syohin"_s).value(0).value(0).toInt(), 3);
    // With no current record a second removal removes nothing.
    QVERIFY(!source.removeCurrentRecord());
    QCOMPARE(source.lastError(), RecordSource::Error::NoCurrentRecord);
    QCOMPARE(Test::querySql(m_path, u"select count(*) from syohin"_s).value(0).value(0).toInt(), 3);
}

void TestRecordSource::twoSourcesSeeChangesOnlyAfterRefresh()
{
    seeded();
    RecordSource list;
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    RecordSource registration;
    registration.setRecordSource(QString(SqlText::productAppend));
    QVERIFY(registration.refresh());
    QVERIFY(registration.addNew());
    registration.setValue(Field::syohin_mei, u"新商品"_s);
    registration.setValue(Field::syohin_JAN, QVariant::fromValue(*Currency::parse(u"1")));
    QVERIFY(registration.update());
    QCOMPARE(list.recordCount(), 3);
    QVERIFY(list.connection() == registration.connection());
    QVERIFY(list.refresh());
    QCOMPARE(list.recordCount(), 4);
}

void TestRecordSource::rowRemovedElsewhereReadsBlank()
{
    seeded();
    RecordSource list;
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    RecordSource other;
    other.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(other.refresh());
    QVERIFY(other.setCurrentRow(2));
    QVERIFY(other.deleteCurrent());
    QCOMPARE(list.recordCount(), 3);
    QCOMPARE(list.data(list.index(2, 0)).toString(), QString());
    QVERIFY(list.setCurrentRow(2));
    QCOMPARE(list.text(Field::syohin_mei), QString());
}

void TestRecordSource::editOfRowRemovedElsewhereIsReported()
{
    seeded();
    RecordSource list;
    list.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(list.refresh());
    QVERIFY(list.setText(Field::syohin_mei, u"編集"_s));
    Test::execSql(m_path, u"delete from syohin where rowid=1"_s);
    QVERIFY(!list.setCurrentRow(1));
    QCOMPARE(list.lastError(), RecordSource::Error::WriteFailed);
    // The edit had nowhere to go; the user was told once and can move on.
    QVERIFY(list.setCurrentRow(1));
    QCOMPARE(Test::querySql(m_path, u"select count(*) from syohin"_s).value(0).value(0).toInt(), 3);
}

void TestRecordSource::forEachRowVisitsInOrderWithoutMoving()
{
    seeded();
    for (int i = 0; i < 200; ++i) {
        Product p;
        p.mei = u"品%1"_s.arg(i);
        p.bumon = i % 50 == 0 ? u"9"_s : u"8"_s;
        Test::insertProduct(m_path, p);
    }
    RecordSource source;
    for (const auto &[text, expected] : {std::pair{u"select * from syohin where syohin_JAN<>-99"_s, 203},
                                         std::pair{u"select * from syohin where syohin_JAN<>-99 and bumon_code like 9"_s, 4}}) {
        source.setRecordSource(text);
        QVERIFY(source.refresh());
        QVERIFY(source.setCurrentRow(1));
        // A row removed after the refresh still has its place, read blank.
        const QString removed = source.row(2).value(0).toString();
        Test::execSql(m_path, u"delete from syohin where syohin_mei='%1'"_s.arg(removed));
        QStringList visited;
        QVERIFY(source.forEachRow([&](const Row &row) {
            visited << row.value(0).toString();
            return true;
        }));
        QCOMPARE(visited.size(), expected);
        QCOMPARE(visited.value(2), QString());
        QCOMPARE(visited.value(1), source.row(1).value(0).toString());
        QCOMPARE(source.currentRow(), 1);
    }
}

void TestRecordSource::columnsInAnotherOrderStillWork()
{
    const QString path = m_dir->filePath(u"reordered.mdb"_s);
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db,
                          "PRAGMA application_id=1297236808;"
                          "CREATE TABLE syohin (bumon_AU CURRENCY, bumon_code CURRENCY, syohin_torihikicode CURRENCY,"
                          " syohin_torihiki TEXT, syohin_EOStani SMALLINT, syohin_EOS CURRENCY, syohin_JAN CURRENCY,"
                          " syohin_genka CURRENCY, syohin_sale CURRENCY, syohin_master CURRENCY, syohin_mei TEXT);"
                          "CREATE TABLE torihiki (torihiki_code CURRENCY, torihiki_post TEXT, torihiki_tel TEXT,"
                          " torihiki_add TEXT, torihiki_mei TEXT);"
                          "INSERT INTO syohin (syohin_mei, syohin_JAN, bumon_code, syohin_EOStani) VALUES ('x', 10000, 30000, 7);",
                          nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    RecordSource source;
    source.setDatabaseName(path);
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99 and bumon_code like 3"_s);
    QVERIFY(source.refresh());
    QCOMPARE(source.recordCount(), 1);
    QCOMPARE(source.fieldName(0), u"bumon_AU"_s);
    QCOMPARE(source.text(Field::syohin_mei), u"x"_s);
    QCOMPARE(source.text(Field::syohin_EOStani), u"7"_s);
}

void TestRecordSource::followsTheCurrentCatalogue()
{
    seeded();
    const QString other = m_dir->filePath(u"other.mdb"_s);
    QVERIFY(Test::makeCatalogue(other));
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
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(!source.data(source.index(1, 0)).toString().isEmpty());
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open_v2(m_path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(db, 0);
    // An exclusive lock needs every reader gone.
    const int rc = sqlite3_exec(db, "BEGIN EXCLUSIVE; DELETE FROM syohin WHERE rowid=4; COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QCOMPARE(rc, SQLITE_OK);
}

void TestRecordSource::writeToVanishedFileFails()
{
    seeded();
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(source.refresh());
    QVERIFY(QFile::rename(m_path, m_path + u".moved"_s));
    QVERIFY(source.setText(Field::syohin_mei, u"消える"_s));
    QVERIFY(!source.storePending());
    QCOMPARE(source.lastError(), RecordSource::Error::WriteFailed);
    QVERIFY(!source.deleteCurrent());
    source.cancelUpdate();
    QVERIFY(!source.refresh());
    QCOMPARE(source.lastError(), RecordSource::Error::OpenFailed);
    QVERIFY(!QFile::exists(m_path));
}

QTEST_GUILESS_MAIN(TestRecordSource)
#include "tst_recordsource.moc"
