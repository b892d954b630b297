// One record source over both kinds of catalogue: every row of these tables runs once on a
// catalogue file and once on the same records copied to the test server, and must give the
// same result, the same refusal and the same messages.
#include "pgtestserver.h"

#include "engine/records/recordsource.h"
#include "engine/server/cataloguetransfer.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class tst_ServerRecordSource final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void searches_data();
    void searches();
    void twoPrograms_data();
    void twoPrograms();

private:
    // The catalogue of a kind ("file" or "server") as a program names it; other gives the
    // name a second program uses (on a server: a connection of its own).
    QString catalogue(const QString &kind, bool other = false) const
    {
        if (kind == u"file")
            return m_file;
        return other ? m_server + u"?application_name=other"_s : m_server;
    }
    // Adds one row per kind for a case.
    template<class... Values>
    static void addBoth(const char *name, const Values &...values)
    {
        for (const QString &kind : {u"file"_s, u"server"_s})
            ((QTest::addRow("%s, %s", name, qPrintable(kind)) << kind) << ... << values);
    }

    QTemporaryDir m_dir;
    QString m_file;
    QString m_server;
};

void tst_ServerRecordSource::initTestCase()
{
    m_file = m_dir.filePath(u"shared.mdb"_s);
    QVERIFY(createCatalogueFile(m_file));
    const QList<Test::Product> products{
        {.mei = u"コーラ"_s, .jan = u"4901234567894"_s},
        {.mei = u"ダイエットｺｰﾗ"_s, .master = u"12.5"_s, .jan = u"4901234567801"_s},
        {.mei = u"予約"_s, .jan = u"-99"_s},
        {.mei = u"お茶"_s, .master = u"12.5"_s, .jan = u"4901234567818"_s, .bumon = u"4"_s},
        {.mei = u"ＣＯＬＡ ｚｅｒｏ"_s, .master = {}, .jan = u"4901234567825"_s, .bumon = u"4"_s},
        {.mei = u"50%引き"_s, .jan = {}, .bumon = u"5"_s},
        {.mei = {}, .master = u"-3"_s, .jan = u"1"_s, .bumon = u"5"_s},
    };
    for (const Test::Product &product : products)
        QVERIFY(Test::insertProduct(m_file, product));
    m_server = Test::makeDatabase();
    QVERIFY(!m_server.isEmpty());
    QString error;
    QVERIFY2(Server::copyCatalogue(m_file, m_server, false, nullptr, &error), qPrintable(error));
}

void tst_ServerRecordSource::searches_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("conditions"); // after the product list's own
    QTest::addColumn<QStringList>("names");  // in list order; empty: none
    QTest::addColumn<ErrorCode>("refused");  // None: runs

    const QStringList colas{u"コーラ"_s, u"ダイエットｺｰﾗ"_s};
    addBoth("everything but the reserved row", QString(), QStringList{u"コーラ"_s, u"ダイエットｺｰﾗ"_s, u"お茶"_s,
                                                                         u"ＣＯＬＡ ｚｅｒｏ"_s, QString()},
            ErrorCode::None);
    addBoth("department", u"bumon_code = 3"_s, colas, ErrorCode::None);
    addBoth("name contains, widths and kana folded", u"syohin_mei like '*コーラ*'"_s, colas, ErrorCode::None);
    addBoth("name equal, folded", u"syohin_mei = 'ｺｰﾗ'"_s, QStringList{u"コーラ"_s}, ErrorCode::None);
    addBoth("name unequal leaves empty names out", u"syohin_mei <> 'コーラ'"_s,
            QStringList{u"ダイエットｺｰﾗ"_s, u"お茶"_s, u"ＣＯＬＡ ｚｅｒｏ"_s}, ErrorCode::None);
    addBoth("case and width folded", u"syohin_mei like 'cola*'"_s, QStringList{u"ＣＯＬＡ ｚｅｒｏ"_s}, ErrorCode::None);
    addBoth("JAN", u"syohin_JAN = 4901234567801"_s, QStringList{u"ダイエットｺｰﾗ"_s}, ErrorCode::None);
    addBoth("number as its text", u"syohin_master like '12.5'"_s, QStringList{u"ダイエットｺｰﾗ"_s, u"お茶"_s},
            ErrorCode::None);
    addBoth("negative number", u"syohin_master = -3"_s, QStringList{QString()}, ErrorCode::None);
    addBoth("number unequal leaves empty numbers out", u"syohin_master <> 100"_s,
            QStringList{u"ダイエットｺｰﾗ"_s, u"お茶"_s, QString()}, ErrorCode::None);
    addBoth("crafted key matched literally", u"syohin_mei like 'x'' or ''a''=''a'"_s, QStringList{},
            ErrorCode::None);
    addBoth("unknown field", u"syohin_nosuch = 1"_s, QStringList{}, ErrorCode::BadStatement);
    addBoth("text against a number", u"bumon_code = 'a'"_s, QStringList{}, ErrorCode::BadStatement);
}

void tst_ServerRecordSource::searches()
{
    QFETCH(QString, kind);
    QFETCH(QString, conditions);
    QFETCH(QStringList, names);
    QFETCH(ErrorCode, refused);
    RecordSource source;
    source.setDatabaseName(catalogue(kind));
    source.setRecordSource(QString(SqlText::allProducts) + (conditions.isEmpty() ? QString() : u" and "_s + conditions));
    const Status status = source.refresh();
    QVERIFY2(status.code() == refused, qPrintable(status.message()));
    QCOMPARE(Test::listedNames(&source), names);
}

void tst_ServerRecordSource::twoPrograms_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("otherDeletes");
    QTest::addColumn<bool>("thisDeletes");

    addBoth("edit after an edit elsewhere", false, false);
    addBoth("edit after a deletion elsewhere", true, false);
    addBoth("deletion after an edit elsewhere", false, true);
    addBoth("deletion after a deletion elsewhere", true, true);
}

void tst_ServerRecordSource::twoPrograms()
{
    QFETCH(QString, kind);
    QFETCH(bool, otherDeletes);
    QFETCH(bool, thisDeletes);
    const QString mark = QString::fromUtf8(QTest::currentDataTag());
    const QString mine = SqlText::allProducts + u" and syohin_torihiki = '%1'"_s.arg(mark);
    RecordSource list;
    RecordSource other;
    list.setDatabaseName(catalogue(kind));
    other.setDatabaseName(catalogue(kind, true));
    QVERIFY(list.openTable(Table::syohin));
    QVERIFY(list.addNew() && list.setText(Field::syohin_mei, u"共有"_s) && list.setText(Field::syohin_torihiki, mark)
            && list.setText(Field::syohin_JAN, u"2"_s) && list.update());
    for (RecordSource *source : {&list, &other}) {
        source->setRecordSource(mine);
        QVERIFY(source->refresh());
        QCOMPARE(source->recordCount(), 1);
    }

    QVERIFY(otherDeletes ? other.deleteCurrent().ok() : (other.setText(Field::syohin_mei, u"他で変更"_s) && other.update()));
    if (!thisDeletes)
        QVERIFY(list.setText(Field::syohin_mei, u"上書き"_s));
    QVERIFY(!(thisDeletes ? list.deleteCurrent() : list.update()));
    QCOMPARE(list.status().code(), ErrorCode::Conflict);
    QCOMPARE(list.status().message(), (otherDeletes ? u"このレコードは削除されているため、%1できませんでした。"_s
                                                    : u"このレコードは他で変更されているため、%1できませんでした。"_s)
                                          .arg(thisDeletes ? u"削除"_s : u"変更を保存"_s));
    // Nothing was stored, and the list shows the record as it now stands.
    RecordSource check;
    check.setDatabaseName(catalogue(kind, true));
    check.setRecordSource(mine);
    QVERIFY(check.refresh());
    QCOMPARE(Test::listedNames(&check), otherDeletes ? QStringList{} : QStringList{u"他で変更"_s});
    QVERIFY(!list.hasPendingEdits());
    QTRY_COMPARE(Test::listedNames(&list), Test::listedNames(&check));
}

QTEST_GUILESS_MAIN(tst_ServerRecordSource)
#include "tst_serverrecordsource.moc"
