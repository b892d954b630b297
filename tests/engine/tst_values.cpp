// Values: number conversion and its texts, small integers, JAN check digits, like patterns,
// the folding they compare with, and the SQL functions that carry them into SQLite.
#include "engine/kinds/jancheck.h"
#include "engine/kinds/number.h"
#include "engine/statements/likefunction.h"

#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {
// Stands for "does not convert" in the tables.
constexpr qint64 fails = std::numeric_limits<qint64>::min() + 1;
constexpr qint64 max = std::numeric_limits<qint64>::max();
constexpr qint64 min = std::numeric_limits<qint64>::min();
} // namespace

class TestValues final : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void texts_data();
    void texts();
    void smallInt_data();
    void smallInt();
    void janCheck_data();
    void janCheck();
    void like_data();
    void like();
    void folding_data();
    void folding();
    void likeOnBytes();
    void sqlFunctions_data();
    void sqlFunctions();
};

void TestValues::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("units");

    QTest::newRow("fraction") << u"12.50"_s << qint64(125000);
    QTest::newRow("grouping of any width") << u"1,980,0"_s << qint64(198000000);
    QTest::newRow("blanks around") << u" 7 "_s << qint64(70000);
    QTest::newRow("point first") << u"-.5"_s << qint64(-5000);
    // Typed with the Japanese input method on.
    QTest::newRow("full-width") << u"－１，２３４．５"_s << qint64(-12345000);
    QTest::newRow("minus sign U+2212") << u"\u22125"_s << qint64(-50000);
    QTest::newRow("sign then yen") << u"-￥1,200"_s << qint64(-12000000);
    // More than four decimals: half to even, decided on the digits.
    QTest::newRow("tie, odd kept digit rounds up") << u"1.23455"_s << qint64(12346);
    QTest::newRow("tie, even kept digit stays") << u"1.23445"_s << qint64(12344);
    QTest::newRow("negative tie to even") << u"-1.23445"_s << qint64(-12344);
    QTest::newRow("rounds into the whole part") << u"0.99995"_s << qint64(10000);
    // Codes and the ends of the range.
    QTest::newRow("13-digit JAN") << u"4901234567894"_s << qint64(49012345678940000);
    QTest::newRow("maximum") << u"922337203685477.5807"_s << max;
    QTest::newRow("minimum") << u"-922337203685477.5808"_s << min;
    QTest::newRow("above maximum") << u"922337203685477.5808"_s << fails;
    QTest::newRow("rounds past the maximum") << u"922337203685477.58075"_s << fails;
    QTest::newRow("below minimum") << u"-922337203685477.5809"_s << fails;
    QTest::newRow("rounds to the minimum") << u"-922337203685477.58075"_s << min;
    QTest::newRow("whole part too large") << u"922337203685478"_s << fails;
    QTest::newRow("1 MB of digits") << QString(1 << 20, u'9') << fails;
    QTest::newRow("5,000 leading zeros") << QString(5000, u'0') + u"12"_s << qint64(120000);
    for (const QString &text : {QString(), u"\u3000\u3000"_s, u"12A"_s, u"12*"_s, u"1e5"_s, u"1.2.3"_s, u"."_s, u"-"_s,
                                u"￥"_s, u"--5"_s, u"-￥-5"_s, u"5￥"_s, u"5-"_s, u"- 5"_s, u"1 000"_s, u",5"_s,
                                u"1,,000"_s, u"1.5,0"_s, u"(5)"_s, u"\u0661"_s, u"1\u00002"_s, u"1 or 1=1"_s})
        QTest::addRow("not a number: %s", qPrintable(text)) << text << fails;
}

void TestValues::parse()
{
    QFETCH(QString, text);
    QFETCH(qint64, units);
    const auto value = Currency::parse(text);
    QCOMPARE(value ? value->units() : fails, units);
}

void TestValues::texts_data()
{
    QTest::addColumn<qint64>("units");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("exported");
    QTest::newRow("zero") << qint64(0) << u"0"_s << u"0"_s;
    QTest::newRow("negative quarter") << qint64(-2500) << u"-0.25"_s << u"-.25"_s;
    QTest::newRow("13-digit JAN") << qint64(49012345678940000) << u"4901234567894"_s << u"4901234567894"_s;
    QTest::newRow("maximum") << max << u"922337203685477.5807"_s << u"922337203685477.5807"_s;
    QTest::newRow("minimum") << min << u"-922337203685477.5808"_s << u"-922337203685477.5808"_s;
}

void TestValues::texts()
{
    QFETCH(qint64, units);
    QFETCH(QString, plain);
    QFETCH(QString, exported);
    const Currency value = Currency::fromUnits(units);
    QCOMPARE(value.toPlainText(), plain);
    QCOMPARE(value.toDisplayText(), plain);
    QCOMPARE(value.toExportText(), exported);
    char buffer[Currency::maxTextLength];
    QCOMPARE(QByteArray(buffer, value.writePlainText(buffer)), plain.toLatin1());
}

void TestValues::smallInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // INT_MIN: does not convert
    QTest::newRow("half to even down") << u"2.5"_s << 2;
    QTest::newRow("half to even up") << u"3.5"_s << 4;
    QTest::newRow("rounded to four decimals first") << u"2.50001"_s << 2;
    QTest::newRow("maximum") << u"32767.4"_s << 32767;
    QTest::newRow("rounds past maximum") << u"32767.5"_s << INT_MIN;
    QTest::newRow("minimum, half to even") << u"-32768.5"_s << -32768;
    QTest::newRow("rounds past minimum") << u"-32768.6"_s << INT_MIN;
    QTest::newRow("not a number") << u"abc"_s << INT_MIN;
}

void TestValues::smallInt()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const auto result = parseSmallInt(text);
    QCOMPARE(result ? int(*result) : INT_MIN, value);
}

void TestValues::janCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");  // empty: nothing to check
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("note");
    const QString right = u"チェックデジット正常"_s;
    QTest::newRow("JAN-13 right") << u"4901234567894"_s << u"4901234567894"_s << 4 << right;
    QTest::newRow("JAN-13 wrong") << u"4901234567890"_s << u"4901234567890"_s << 4 << u"チェックデジット不正 (正: 4)"_s;
    QTest::newRow("JAN-8 right") << u"45123450"_s << u"45123450"_s << 0 << right;
    QTest::newRow("JAN-8 wrong") << u"49021029"_s << u"49021029"_s << 8 << u"チェックデジット不正 (正: 8)"_s;
    // The stored number has lost its leading zeros.
    QTest::newRow("short, padded to 8") << u"1236"_s << u"00001236"_s << 6 << right;
    QTest::newRow("9 digits, padded to 13") << u"123456784"_s << u"0000123456784"_s << 4 << right;
    // Whatever the number conversion accepts is checked as the number it stores.
    QTest::newRow("grouped") << u"4,901,234,567,894"_s << u"4901234567894"_s << 4 << right;
    QTest::newRow("full-width, whole decimal") << u"４５１２３４５０.00"_s << u"45123450"_s << 0 << right;
    for (const QString &text : {QString(), u"49O1234567894"_s, u"4901*"_s, u"-99"_s, u"4901234567894.5"_s,
                                u"14901234567894"_s})
        QTest::addRow("nothing to check: %s", qPrintable(text)) << text << QString() << 0 << QString();
}

void TestValues::janCheck()
{
    QFETCH(QString, text);
    QFETCH(QString, code);
    QFETCH(int, expected);
    QFETCH(QString, note);
    const auto check = checkJanDigit(text);
    QCOMPARE(check.has_value(), !code.isEmpty());
    QCOMPARE(janCheckNote(text), note);
    if (!check)
        return;
    QCOMPARE(check->code, code);
    QCOMPARE(check->expected, expected);
    QCOMPARE(check->digit, code.back().digitValue());
    QCOMPARE(janCheckDigitFor(QStringView(code).chopped(1)), expected);
}

void TestValues::like_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("matches"); // -1: the pattern is refused
    const QString a20000(20000, u'a');

    // The whole value must match.
    QTest::newRow("plain is not a substring search") << u"コーラ"_s << u"ダイエットコーラ"_s << 0;
    QTest::newRow("empty pattern, text") << QString() << u"a"_s << 0;
    QTest::newRow("stars in a row") << u"a***b"_s << u"ab"_s << 1;
    QTest::newRow("question mark needs a character") << u"?"_s << QString() << 0;
    QTest::newRow("*ab: abc") << u"*ab"_s << u"abc"_s << 0;
    QTest::newRow("a[!b-m]#: An9") << u"a[!b-m]#"_s << u"An9"_s << 1;
    // Brackets.
    QTest::newRow("list, not in it") << u"[abc]x"_s << u"dx"_s << 0;
    QTest::newRow("empty brackets stand for nothing") << u"a[]b"_s << u"ab"_s << 1;
    QTest::newRow("[!] takes any one character") << u"a[!]b"_s << u"axb"_s << 1;
    QTest::newRow("range written backwards holds nothing") << u"[z-a]"_s << u"m"_s << 0;
    QTest::newRow("trailing dash") << u"[a-]"_s << u"-"_s << 1;
    QTest::newRow("katakana range, small hiragana") << u"[ア-オ]"_s << u"ぃ"_s << 1;
    QTest::newRow("voiced half-width in brackets") << u"[ｶﾞｷﾞ]"_s << u"ギ"_s << 1;
    for (const QString &pattern : {u"["_s, u"a[bc"_s, u"[!"_s, u"[a-"_s, u"*["_s, u"[a][b"_s})
        QTest::addRow("unclosed %s", qPrintable(pattern)) << pattern << QString() << -1;
    // Characters that other SQL dialects treat as wildcards stand for themselves.
    QTest::newRow("percent is not a run") << u"100%"_s << u"1000"_s << 0;
    QTest::newRow("underscore is not one character") << u"a_b"_s << u"axb"_s << 0;
    QTest::newRow("backslash") << u"a\\*"_s << u"a\\bc"_s << 1;
    // Case, width and kana folding.
    QTest::newRow("half-width kana pattern") << u"*ｺｰﾗ*"_s << u"ダイエットコーラ"_s << 1;
    QTest::newRow("voiced half-width") << u"ガム"_s << u"ｶﾞﾑ"_s << 1;
    QTest::newRow("voiced half-width is one character") << u"?ﾑ"_s << u"ｶﾞﾑ"_s << 1;
    QTest::newRow("full-width digit is a digit") << u"##"_s << u"５0"_s << 1;
    QTest::newRow("full-width star is not a run") << u"a＊"_s << u"abc"_s << 0;
    QTest::newRow("characters outside the basic plane") << u"?家"_s << u"𠮷家"_s << 1;
    // Backtracking after a star, and patterns that take a naive matcher exponential time.
    QTest::newRow("retry after partial match") << u"*aab"_s << u"aaab"_s << 1;
    QTest::newRow("last star has to stretch") << u"*a*b"_s << u"aXbXb"_s << 1;
    QTest::newRow("many stars, no match") << u"*a*a*a*a*a*a*a*a*a*a*a*a*b"_s << a20000 << 0;
    QTest::newRow("many stars, match") << u"*a*a*a*a*a*a*a*a*a*a*a*a*b"_s << a20000 + u'b' << 1;
    QTest::newRow("stars and marks") << u"*?"_s.repeated(12) + u"#"_s << a20000 << 0;
}

void TestValues::like()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(int, matches);
    auto compiled = LikePattern::compile(pattern);
    QCOMPARE(compiled.has_value(), matches >= 0);
    if (!compiled)
        return;
    // Copies match alike, also once the original is gone.
    const LikePattern copy = *compiled;
    LikePattern assigned = *LikePattern::compile(u"x");
    assigned = copy;
    compiled.reset();
    QCOMPARE(assigned.matches(text), bool(matches));
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(copy.matchesUtf8(utf8.constData(), int(utf8.size())), bool(matches));
}

void TestValues::folding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    // A leading U+FEFF is a character of the value, not a byte-order mark to drop.
    QTest::newRow("leading U+FEFF kept") << u"\uFEFFｺｰﾗ"_s << u"\uFEFFコーラ"_s;
    QTest::newRow("full-width ASCII and blank") << u"ＣＯＬＡ（５００）\u3000"_s << u"cola(500) "_s;
    QTest::newRow("hiragana and iteration marks") << u"こーらゝゞ"_s << u"コーラヽヾ"_s;
    QTest::newRow("voiced") << u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾊﾟ"_s << u"ガギグゲゴザジズゼゾダヂヅデドバパ"_s;
    QTest::newRow("no voiced form") << u"ｯﾞｱﾟｶﾟ"_s << u"ッ゛ア゜カ゜"_s;
    QTest::newRow("voicing mark alone") << u"ﾞﾟ"_s << u"゛゜"_s;
    QTest::newRow("kanji and Latin-1 unchanged") << u"緑茶𠮷Ünï"_s << u"緑茶𠮷Ünï"_s;
}

void TestValues::folding()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(foldForComparison(text), folded);
}

// SQLite hands over whatever bytes a row holds: every byte that starts no well-formed
// sequence counts as one character.
void TestValues::likeOnBytes()
{
    const auto any1 = LikePattern::compile(u"?");
    const auto any2 = LikePattern::compile(u"??");
    QVERIFY(any1->matchesUtf8("\xff", 1));
    QVERIFY(any2->matchesUtf8("\xe3\x82", 2));      // a cut-off three-byte sequence
    QVERIFY(any2->matchesUtf8("\xc0\x81", 2));      // an overlong form
    QVERIFY(any1->matchesUtf8("\xe3\x82\xa2", 3));  // ア, whole
    QVERIFY(!any1->matchesUtf8("\xed\xa0\x80", 3)); // an encoded surrogate: three characters
    QVERIFY(!any1->matchesUtf8("", -1));
    QVERIFY(LikePattern::compile(u"")->matchesUtf8(nullptr, 0));
}

void TestValues::sqlFunctions_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariant>("result"); // a text starting "error" for a refused statement
    const QVariant yes = qint64(1), no = qint64(0);
    QTest::newRow("like") << u"select merch_like('*ｺｰﾗ*', 'ダイエットコーラ')"_s << yes;
    QTest::newRow("like, null text") << u"select merch_like('*', NULL) is null"_s << yes;
    // A number is matched as its decimal text.
    QTest::newRow("like on a number") << u"select merch_like('12#', 123)"_s << yes;
    QTest::newRow("like on a longer number") << u"select merch_like('12#', 1234)"_s << no;
    QTest::newRow("like on a negative number") << u"select merch_like('-1*', -15)"_s << yes;
    QTest::newRow("like, unclosed bracket") << u"select merch_like('a[b', 'ab')"_s << QVariant(u"error"_s);
    // The pattern is compiled once per statement; one that changes by row is compiled for each.
    QTest::newRow("like over rows") << u"select count(*) from t where merch_like('*コーラ*', name)"_s << QVariant(qint64(4));
    QTest::newRow("like over rows, null") << u"select count(*) from t where merch_like('*コーラ*', name) is null"_s << yes;
    QTest::newRow("pattern by row") << u"select group_concat(merch_like(pattern, name), ',') from t where rowid <= 4"_s
                                    << QVariant(u"1,1,0,1"_s);
    QTest::newRow("pattern by row, unclosed") << u"select count(*) from t where merch_like(pattern, name)"_s
                                              << QVariant(u"error"_s);
    QTest::newRow("fold") << u"select merch_fold('ｺｰﾗ ＡＢ')"_s << QVariant(u"コーラ ab"_s);
    QTest::newRow("fold, voiced kept") << u"select merch_fold('ガム') = merch_fold('カム')"_s << no;
    QTest::newRow("fold keeps a number") << u"select typeof(merch_fold(12))"_s << QVariant(u"integer"_s);
    QTest::newRow("fold, null") << u"select merch_fold(NULL) is null"_s << yes;
    QTest::newRow("number text") << u"select merch_numtext(-2500)"_s << QVariant(u"-0.25"_s);
    QTest::newRow("number text, minimum") << u"select merch_numtext(-9223372036854775808)"_s
                                          << QVariant(u"-922337203685477.5808"_s);
    QTest::newRow("number text, null") << u"select merch_numtext(NULL) is null"_s << yes;
}

void TestValues::sqlFunctions()
{
    QFETCH(QString, sql);
    QFETCH(QVariant, result);
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &db), SQLITE_OK);
    const auto closeDb = qScopeGuard([&] { sqlite3_close(db); });
    QVERIFY(registerLikeFunctions(db));
    QCOMPARE(sqlite3_exec(db, "create table t(name text, pattern text); insert into t values ('ダイエットコーラ', '*ｺｰﾗ'),"
                              " ('コーラ', 'こ*'), ('ｺｰﾗ', '?'), ('ペプシ', '*ｼ'), (NULL, '*'), ('ゼロコーラ', '[')",
                          nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt *statement = nullptr;
    QCOMPARE(sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr), SQLITE_OK);
    const int rc = sqlite3_step(statement);
    QVariant value = u"error"_s;
    if (rc == SQLITE_ROW && sqlite3_column_type(statement, 0) == SQLITE_INTEGER)
        value = qint64(sqlite3_column_int64(statement, 0));
    else if (rc == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    else
        QVERIFY2(QString::fromUtf8(sqlite3_errmsg(db)).contains(u'['), sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    QCOMPARE(value, result);
}

QTEST_APPLESS_MAIN(TestValues)
#include "tst_values.moc"
