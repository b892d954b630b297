// A server catalogue selects exactly the rows the file catalogue selects: the same products,
// copied to a server, searched by one table of statements and by random patterns.
#include "pgtestserver.h"

#include "engine/sqlite/connection.h"
#include "engine/statements/likefunction.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statement.h"
#include "engine/server/cataloguetransfer.h"
#include "engine/server/servercatalogue.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

// Characters that folding, LIKE and regular expressions each treat in their own way.
const QString alphabet = u"aAａＡzZ09０９ｶｶﾞﾞﾟﾊﾟﾜﾞかがカガヴｳﾞー-%_\\[]!#?*^$.()|{}+\t\n 　コーラｺｰﾗé😀"_s;

QString randomText(QRandomGenerator &random, int maxLength)
{
    QString text;
    const int length = random.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i) {
        const int at = random.bounded(int(alphabet.size()));
        // Keep surrogate pairs whole.
        const int start = alphabet.at(at).isLowSurrogate() ? at - 1 : at;
        text += alphabet.mid(start, alphabet.at(start).isHighSurrogate() ? 2 : 1);
    }
    return text;
}

} // namespace

class tst_ServerLike final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sameRows_data();
    void sameRows();
    void randomPatterns();

private:
    static std::vector<std::int64_t> keys(const QString &catalogue, const QString &statement);
    std::vector<std::int64_t> fileKeys(const QString &statement) { return keys(m_file, statement); }
    std::vector<std::int64_t> serverKeys(const QString &statement) { return keys(m_server, statement); }

    QTemporaryDir m_dir;
    QString m_file;
    QString m_server;
};

void tst_ServerLike::initTestCase()
{
    m_file = m_dir.filePath(u"like.mdb"_s);
    QVERIFY(createCatalogueFile(m_file));
    RecordSource products;
    products.setDatabaseName(m_file);
    products.setRecordSource(u"syohin"_s);
    QVERIFY(products.refresh());
    QRandomGenerator random(20240501);
    const QStringList fixed{u"サクラ コーラ 500ml"_s, u"ｺｰﾗ ｾﾞﾛ"_s, u"こーら"_s, u"ABC"_s, u"ａｂｃ"_s, u"ｶﾞｲｺｸ"_s,
                            u"50%引き"_s, u"a_b"_s, u"C:\\dir"_s, u"[特売]"_s, u"^$"_s, QString()};
    for (int i = 0; i < 400; ++i) {
        QVERIFY(products.addNew());
        QVERIFY(products.setValue(Field::syohin_mei, i < fixed.size() ? fixed.at(i) : randomText(random, 8)));
        if (i % 17 != 0)
            QVERIFY(products.setValue(Field::syohin_master,
                                      QVariant::fromValue(Currency::fromUnits(random.bounded(-2000000, 2000000) * 50))));
        QVERIFY(products.setValue(Field::syohin_JAN, QVariant::fromValue(*Currency::fromInteger(i % 50 == 0 ? -99 : 4900000000000 + i))));
        QVERIFY(products.setValue(Field::syohin_EOStani, random.bounded(-20, 120)));
        QVERIFY(products.setValue(Field::syohin_torihiki, i % 2 ? u"ｻﾝﾗｲｽﾞ食品"_s : u"サンライズ食品"_s));
        QVERIFY(products.update());
    }
    const QString address = Test::makeDatabase();
    QVERIFY(!address.isEmpty());
    QString error;
    QVERIFY2(Server::copyCatalogue(m_file, address, false, nullptr, &error), qPrintable(error));
    m_server = address;
}

// The keys a record source selects on a catalogue (file or server); {-1} when it refuses.
std::vector<std::int64_t> tst_ServerLike::keys(const QString &catalogue, const QString &statement)
{
    RecordSource source;
    source.setDatabaseName(catalogue);
    source.setRecordSource(statement);
    std::vector<std::int64_t> keys;
    if (!source.refresh())
        return {-1};
    for (int row = 0; row < source.recordCount(); ++row) {
        source.setCurrentRow(row);
        keys.push_back(source.bookmark());
    }
    return keys;
}

void tst_ServerLike::sameRows_data()
{
    QTest::addColumn<QString>("condition");
    QTest::addColumn<int>("atLeast"); // rows the file selects, so that no row passes unselected

    QTest::newRow("name contains, widths and kana folded") << u"syohin_mei like '*コーラ*'"_s << 3;
    QTest::newRow("letter case and full width") << u"syohin_mei like 'abc'"_s << 2;
    QTest::newRow("half-width voiced kana") << u"syohin_mei like 'ガイ*'"_s << 1;
    QTest::newRow("percent and underscore are plain") << u"syohin_mei like '*%*' and syohin_mei like '*_*'"_s << 0;
    QTest::newRow("backslash is plain") << u"syohin_mei like '*\\d*'"_s << 1;
    QTest::newRow("digit and list") << u"syohin_mei like '*#[m-n]l'"_s << 1;
    QTest::newRow("negated list with a bracket") << u"syohin_mei like '[![]*'"_s << 300;
    QTest::newRow("bracket in list") << u"syohin_mei like '*[[]*'"_s << 1;
    QTest::newRow("range written high to low") << u"syohin_mei like '[z-a]*'"_s << 0;
    QTest::newRow("regex signs are plain") << u"syohin_mei like '^$'"_s << 1;
    QTest::newRow("text equal, folded") << u"syohin_torihiki = 'サンライズ食品'"_s << 400;
    QTest::newRow("text not equal, folded") << u"syohin_torihiki <> 'ｻﾝﾗｲｽﾞ食品'"_s << 0;
    QTest::newRow("number as text on a text field") << u"syohin_mei like 500"_s << 0;
    QTest::newRow("number pattern") << u"syohin_master like '-1#*'"_s << 1;
    QTest::newRow("number pattern with fraction") << u"syohin_master like '*.5'"_s << 1;
    QTest::newRow("number not equal skips empty") << u"syohin_master <> 0"_s << 300;
    QTest::newRow("small integer pattern") << u"syohin_EOStani like '-?'"_s << 1;
    QTest::newRow("small integer and fraction") << u"syohin_EOStani <> 1.5"_s << 400;
    QTest::newRow("reserved rows and JAN") << u"syohin_JAN<>-99 and syohin_JAN like 4900000000007"_s << 1;
    QTest::newRow("name on the narrow copy") << u"syohin_JAN<>-99 and syohin_mei like '*ｺｰﾗ*'"_s << 2;
}

void tst_ServerLike::sameRows()
{
    QFETCH(QString, condition);
    QFETCH(int, atLeast);
    const QString statement = u"select * from syohin where "_s + condition;
    const auto file = fileKeys(statement);
    QVERIFY(file != std::vector<std::int64_t>{-1});
    QVERIFY2(file.size() >= std::size_t(atLeast), qPrintable(QString::number(file.size())));
    QCOMPARE(serverKeys(statement), file);
}

void tst_ServerLike::randomPatterns()
{
    QRandomGenerator random(7);
    int selecting = 0;
    for (int i = 0; i < 300; ++i) {
        QString pattern = randomText(random, 5);
        // Stars make patterns that select something; an unclosed "[" is refused by both.
        if (i % 2)
            pattern = u'*' + pattern + u'*';
        if (!LikePattern::compile(pattern))
            continue;
        const QString statement = u"select * from syohin where syohin_mei like "_s + quoteTextLiteral(pattern);
        const auto file = fileKeys(statement);
        selecting += file.empty() ? 0 : 1;
        QVERIFY2(serverKeys(statement) == file, qPrintable(pattern));
    }
    QVERIFY(selecting > 30);
}

QTEST_GUILESS_MAIN(tst_ServerLike)
#include "tst_serverlike.moc"
