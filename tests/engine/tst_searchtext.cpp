#include "engine/statements/searchmode.h"
#include "engine/statements/searchtext.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Merchalog::SearchMode;

Q_DECLARE_METATYPE(SearchMode)

namespace {
const QString listed = u"select * from syohin where syohin_JAN<>-99 and "_s;
}

class TestSearchText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statement_data();
    void statement();
    void nothingToSearch();
    void modeCaptions_data();
    void modeCaptions();
    void inputProblems();
};

void TestSearchText::statement_data()
{
    QTest::addColumn<SearchMode>("mode");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // empty: no statement

    const QString dept3 = listed + u"bumon_code like 3"_s;
    // Department only: the same statement in every mode.
    for (SearchMode mode : Merchalog::searchModeOrder) {
        QTest::addRow("department only, %s", qPrintable(Merchalog::searchModeText(mode)))
            << mode << u"3"_s << QString() << dept3;
    }
    QTest::newRow("department with zeros and blanks") << SearchMode::Jan << u" 007 "_s << QString()
                                                      << listed + u"bumon_code like 7"_s;
    QTest::newRow("department blanks only") << SearchMode::Name << u"   "_s << QString() << QString();
    QTest::newRow("department wildcard") << SearchMode::Name << u"3*"_s << QString() << QString();

    // Key only, per mode.
    QTest::newRow("name") << SearchMode::Name << QString() << u"りんごジュース"_s
                          << listed + u"syohin_mei like 'りんごジュース'"_s;
    QTest::newRow("name blanks") << SearchMode::Name << QString() << u"  "_s
                                 << listed + u"syohin_mei like '  '"_s;
    QTest::newRow("name wildcards") << SearchMode::Name << QString() << u"*ジュース?[AB]#"_s
                                    << listed + u"syohin_mei like '*ジュース?[AB]#'"_s;
    QTest::newRow("name quote doubled") << SearchMode::Name << QString() << u"O'Brien's"_s
                                        << listed + u"syohin_mei like 'O''Brien''s'"_s;
    QTest::newRow("supplier") << SearchMode::Supplier << QString() << u"0120"_s
                              << listed + u"syohin_torihikicode like 120"_s;
    QTest::newRow("price grouping") << SearchMode::Price << QString() << u"1,980"_s
                                    << listed + u"syohin_master like 1980"_s;
    QTest::newRow("eos trailing zeros") << SearchMode::Eos << QString() << u"1000.00"_s
                                        << listed + u"syohin_EOS like 1000"_s;
    QTest::newRow("jan 13 digits") << SearchMode::Jan << QString() << u"4901234567894"_s
                                   << listed + u"syohin_JAN like 4901234567894"_s;
    QTest::newRow("negative key") << SearchMode::Jan << QString() << u"-99"_s
                                  << listed + u"syohin_JAN like -99"_s;
    QTest::newRow("price letters") << SearchMode::Price << QString() << u"abc"_s << QString();
    QTest::newRow("jan wildcard") << SearchMode::Jan << QString() << u"4901*"_s << QString();
    QTest::newRow("eos question mark") << SearchMode::Eos << QString() << u"10?1"_s << QString();
    QTest::newRow("jan beyond range") << SearchMode::Jan << QString() << u"922337203685478"_s
                                      << QString();

    // Both.
    QTest::newRow("both name") << SearchMode::Name << u"5"_s << u"緑茶"_s
                               << dept3.chopped(1) + u"5 and syohin_mei like '緑茶'"_s;
    QTest::newRow("both price") << SearchMode::Price << u"03"_s << u"1,980"_s
                                << dept3 + u" and syohin_master like 1980"_s;
    QTest::newRow("both jan") << SearchMode::Jan << u"3"_s << u"4901234567894"_s
                              << dept3 + u" and syohin_JAN like 4901234567894"_s;
    QTest::newRow("both, bad department") << SearchMode::Name << u"x"_s << u"緑茶"_s << QString();
    QTest::newRow("both, bad key") << SearchMode::Eos << u"3"_s << u"x"_s << QString();
}

void TestSearchText::statement()
{
    QFETCH(SearchMode, mode);
    QFETCH(QString, department);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const auto text = Merchalog::productSearchText(mode, department, key);
    if (expected.isEmpty()) {
        QVERIFY2(!text, qPrintable(text.value_or(QString())));
        return;
    }
    QVERIFY(text);
    QCOMPARE(*text, expected);
}

void TestSearchText::nothingToSearch()
{
    for (SearchMode mode : Merchalog::searchModeOrder) {
        QVERIFY(!Merchalog::productSearchText(mode, {}, {}));
        QVERIFY(Merchalog::searchInputProblem(mode, {}, {}).isEmpty());
    }
}

void TestSearchText::modeCaptions_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("mode"); // -1: no mode

    QTest::newRow("name") << u"商品名検索"_s << int(SearchMode::Name);
    QTest::newRow("supplier") << u"取引先検索"_s << int(SearchMode::Supplier);
    QTest::newRow("price") << u"価格検索"_s << int(SearchMode::Price);
    QTest::newRow("eos") << u"EOS検索"_s << int(SearchMode::Eos);
    QTest::newRow("jan") << u"JAN検索"_s << int(SearchMode::Jan);
    // The menu captions are not modes.
    QTest::newRow("menu price") << u"標準価格検索"_s << -1;
    QTest::newRow("menu jan") << u"JANコード検索"_s << -1;
    QTest::newRow("leading blank") << u" 商品名検索"_s << -1;
}

void TestSearchText::modeCaptions()
{
    QFETCH(QString, caption);
    QFETCH(int, mode);
    const auto found = Merchalog::searchModeFromText(caption);
    if (mode < 0) {
        QVERIFY(!found);
    } else {
        QVERIFY(found);
        QCOMPARE(int(*found), mode);
    }
}

void TestSearchText::inputProblems()
{
    // Each failure that ends a search silently has a note for the status bar.
    QVERIFY(Merchalog::searchInputProblem(SearchMode::Name, u"A1"_s, {}).contains(u"部門コード"_s));
    QVERIFY(Merchalog::searchInputProblem(SearchMode::Name, u" "_s, u"x"_s).contains(u"部門コード"_s));
    QVERIFY(Merchalog::searchInputProblem(SearchMode::Price, {}, u"abc"_s).contains(u"価格検索"_s));
    // Where the statement can be built there is no problem.
    QVERIFY(Merchalog::searchInputProblem(SearchMode::Name, {}, u"abc"_s).isEmpty());
    QVERIFY(Merchalog::searchInputProblem(SearchMode::Jan, u"3"_s, u"49"_s).isEmpty());
}

QTEST_APPLESS_MAIN(TestSearchText)
#include "tst_searchtext.moc"
