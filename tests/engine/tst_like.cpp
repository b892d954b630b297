#include "engine/statements/likefunction.h"

#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using Merchalog::LikePattern;

namespace {

// An in-memory database with the functions registered; closed when the test ends.
class MemoryDb final
{
public:
    MemoryDb()
    {
        if (sqlite3_open(":memory:", &m_db) != SQLITE_OK)
            qFatal("cannot open an in-memory database");
    }
    ~MemoryDb() { sqlite3_close(m_db); }

    sqlite3 *handle() const { return m_db; }

    // Runs a query that gives one value; an error comes back as the text "error: ...".
    QVariant value(const QString &sql) const
    {
        sqlite3_stmt *statement = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &statement, nullptr) != SQLITE_OK)
            return u"error: "_s + QString::fromUtf8(sqlite3_errmsg(m_db));
        QVariant result;
        const int rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            switch (sqlite3_column_type(statement, 0)) {
            case SQLITE_NULL:
                result = QVariant();
                break;
            case SQLITE_INTEGER:
                result = qint64(sqlite3_column_int64(statement, 0));
                break;
            default:
                result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
                break;
            }
        } else if (rc != SQLITE_DONE) {
            result = u"error: "_s + QString::fromUtf8(sqlite3_errmsg(m_db));
        }
        sqlite3_finalize(statement);
        return result;
    }

    bool exec(const char *sql) const { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

class TestLike final : public QObject
{
    Q_OBJECT

private slots:
    void patterns_data();
    void patterns();
    void unclosedBracket_data();
    void unclosedBracket();
    void folding_data();
    void folding();
    void malformedUtf8();
    void manyStarsFinish();
    void copies();
    void sqliteLike();
    void sqliteLikeOverRows();
    void sqliteFoldAndNumberText();
};

void TestLike::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");

    // The whole value must match.
    QTest::newRow("plain is not a substring search") << u"コーラ"_s << u"ダイエットコーラ"_s << false;
    QTest::newRow("empty pattern, empty text") << QString() << QString() << true;
    QTest::newRow("empty pattern, text") << QString() << u"a"_s << false;
    QTest::newRow("star on empty") << u"*"_s << QString() << true;
    QTest::newRow("stars in a row") << u"a***b"_s << u"ab"_s << true;
    QTest::newRow("question mark needs a character") << u"?"_s << QString() << false;

    QTest::newRow("a*a: aa") << u"a*a"_s << u"aa"_s << true;
    QTest::newRow("a*a: aBC") << u"a*a"_s << u"aBC"_s << false;
    QTest::newRow("*ab*: abc") << u"*ab*"_s << u"abc"_s << true;
    QTest::newRow("*ab*: aZb") << u"*ab*"_s << u"aZb"_s << false;
    QTest::newRow("ab*: abcdefg") << u"ab*"_s << u"abcdefg"_s << true;
    QTest::newRow("ab*: cab") << u"ab*"_s << u"cab"_s << false;
    QTest::newRow("*ab: cab") << u"*ab"_s << u"cab"_s << true;
    QTest::newRow("*ab: abc") << u"*ab"_s << u"abc"_s << false;
    QTest::newRow("a[*]a: a*a") << u"a[*]a"_s << u"a*a"_s << true;
    QTest::newRow("a?a: aaa") << u"a?a"_s << u"aaa"_s << true;
    QTest::newRow("a?a: aBBBa") << u"a?a"_s << u"aBBBa"_s << false;
    QTest::newRow("a#a: a0a") << u"a#a"_s << u"a0a"_s << true;
    QTest::newRow("a#a: a10a") << u"a#a"_s << u"a10a"_s << false;
    QTest::newRow("[a-z]: f") << u"[a-z]"_s << u"f"_s << true;
    QTest::newRow("a[!b-m]#: An9") << u"a[!b-m]#"_s << u"An9"_s << true;
    QTest::newRow("a[!b-m]#: aj0") << u"a[!b-m]#"_s << u"aj0"_s << false;

    // Brackets.
    QTest::newRow("list, not in it") << u"[abc]x"_s << u"dx"_s << false;
    QTest::newRow("[!a-c] needs one character") << u"[!a-c]"_s << QString() << false;
    QTest::newRow("range and list") << u"[a-cx]"_s << u"x"_s << true;
    QTest::newRow("[?] is a question mark") << u"[?]"_s << u"?"_s << true;
    QTest::newRow("[#] is a hash") << u"[#]"_s << u"#"_s << true;
    QTest::newRow("[[] is a bracket") << u"[[]"_s << u"["_s << true;
    QTest::newRow("trailing dash") << u"[a-]"_s << u"-"_s << true;
    QTest::newRow("empty brackets stand for nothing") << u"a[]b"_s << u"ab"_s << true;
    QTest::newRow("empty brackets take no character") << u"a[]b"_s << u"axb"_s << false;
    QTest::newRow("[!] takes any one character") << u"a[!]b"_s << u"axb"_s << true;
    QTest::newRow("range written backwards holds nothing") << u"[z-a]"_s << u"m"_s << false;
    QTest::newRow("close bracket outside is itself") << u"a]"_s << u"a]"_s << true;
    QTest::newRow("exclamation outside is itself") << u"!a"_s << u"!a"_s << true;
    QTest::newRow("katakana range, hiragana text") << u"[ア-オ]"_s << u"え"_s << true;
    QTest::newRow("katakana range, small kana inside") << u"[ア-オ]"_s << u"ぃ"_s << true;
    QTest::newRow("range ends fold case") << u"[A-C]"_s << u"b"_s << true;
    QTest::newRow("voiced half-width in brackets") << u"[ｶﾞｷﾞ]"_s << u"ギ"_s << true;
    QTest::newRow("voiced half-width in brackets, unvoiced text") << u"[ｶﾞｷﾞ]"_s << u"キ"_s << false;

    // Characters that other SQL dialects treat as wildcards stand for themselves.
    QTest::newRow("percent is not a run") << u"100%"_s << u"1000"_s << false;
    QTest::newRow("underscore is not one character") << u"a_b"_s << u"axb"_s << false;
    QTest::newRow("backslash") << u"a\\*"_s << u"a\\bc"_s << true;

    // Case, width and kana folding.
    QTest::newRow("upper case pattern") << u"COLA"_s << u"cola"_s << true;
    QTest::newRow("full-width letters") << u"ａｂｃ"_s << u"ABC"_s << true;
    QTest::newRow("half-width kana text") << u"*ｺｰﾗ*"_s << u"ダイエットコーラ"_s << true;
    QTest::newRow("half-width kana pattern") << u"コーラ"_s << u"ｺｰﾗ"_s << true;
    QTest::newRow("hiragana pattern") << u"こーら"_s << u"コーラ"_s << true;
    QTest::newRow("voiced half-width") << u"ガム"_s << u"ｶﾞﾑ"_s << true;
    QTest::newRow("vu") << u"ｳﾞｨ"_s << u"ヴィ"_s << true;
    QTest::newRow("voiced is not unvoiced") << u"カム"_s << u"ガム"_s << false;
    QTest::newRow("voiced is not semi-voiced") << u"ﾊﾞﾝ"_s << u"パン"_s << false;
    QTest::newRow("voiced mark stays on a kana without voiced form") << u"ｱﾞ"_s << u"ア゛"_s << true;
    QTest::newRow("voiced half-width is one character") << u"?ﾑ"_s << u"ｶﾞﾑ"_s << true;
    QTest::newRow("half-width brackets") << u"｢*｣"_s << u"「コーラ」"_s << true;
    QTest::newRow("iteration marks") << u"ゝゞ"_s << u"ヽヾ"_s << true;
    QTest::newRow("full-width digit is a digit") << u"##"_s << u"５0"_s << true;
    QTest::newRow("full-width star is not a run") << u"a＊"_s << u"abc"_s << false;
    QTest::newRow("kanji are compared as they are") << u"*茶*"_s << u"緑茶"_s << true;
    QTest::newRow("characters outside the basic plane") << u"?家"_s << u"𠮷家"_s << true;

    // Backtracking after a star.
    QTest::newRow("retry after partial match") << u"*aab"_s << u"aaab"_s << true;
    QTest::newRow("last star has to stretch") << u"*a*b"_s << u"aXbXb"_s << true;
    QTest::newRow("cannot end in the middle") << u"*a*b"_s << u"aXbXa"_s << false;
}

void TestLike::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, matches);

    const auto compiled = LikePattern::compile(pattern);
    QVERIFY(compiled);
    QCOMPARE(compiled->matches(text), matches);
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(compiled->matchesUtf8(utf8.constData(), int(utf8.size())), matches);
}

void TestLike::unclosedBracket_data()
{
    QTest::addColumn<QString>("pattern");

    QTest::newRow("bracket alone") << u"["_s;
    QTest::newRow("list without end") << u"a[bc"_s;
    QTest::newRow("negation without end") << u"[!"_s;
    QTest::newRow("range without end") << u"[a-"_s;
    QTest::newRow("after a star") << u"*["_s;
    QTest::newRow("second bracket unclosed") << u"[a][b"_s;
}

void TestLike::unclosedBracket()
{
    QFETCH(QString, pattern);
    QVERIFY(!LikePattern::compile(pattern));
}

void TestLike::folding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");

    // A leading U+FEFF is a character of the value, not a byte-order mark to drop.
    QTest::newRow("leading U+FEFF kept") << QString(QChar(0xFEFF)) + u"ｺｰﾗ"_s << QString(QChar(0xFEFF)) + u"コーラ"_s;
    QTest::newRow("full-width ASCII") << u"ＣＯＬＡ（５００）"_s << u"cola(500)"_s;
    QTest::newRow("full-width blank") << u"a\u3000b"_s << u"a b"_s;
    QTest::newRow("hiragana") << u"こーら"_s << u"コーラ"_s;
    QTest::newRow("iteration marks") << u"ゝゞ"_s << u"ヽヾ"_s;
    QTest::newRow("half-width katakana") << u"ｺｰﾗ"_s << u"コーラ"_s;
    QTest::newRow("voiced") << u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ"_s << u"ガギグゲゴザジズゼゾダヂヅデド"_s;
    QTest::newRow("vu, va, vo") << u"ｳﾞﾜﾞｦﾞ"_s << u"ヴヷヺ"_s;
    QTest::newRow("no voiced form") << u"ｯﾞｱﾟｶﾟ"_s << u"ッ゛ア゜カ゜"_s;
    QTest::newRow("voicing mark alone") << u"ﾞﾟ"_s << u"゛゜"_s;
    QTest::newRow("small half-width kana") << u"ｧｨｩｪｫｬｭｮｯ"_s << u"ァィゥェォャュョッ"_s;
    QTest::newRow("half-width punctuation") << u"｡｢｣､･ｰ"_s << u"。「」、・ー"_s;
    QTest::newRow("kanji unchanged") << u"緑茶𠮷"_s << u"緑茶𠮷"_s;
    QTest::newRow("Latin-1 unchanged") << u"Ünïcode"_s << u"Ünïcode"_s;
}

void TestLike::folding()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(Merchalog::foldForComparison(text), folded);
}

void TestLike::malformedUtf8()
{
    const auto any2 = LikePattern::compile(u"??");
    const auto any1 = LikePattern::compile(u"?");
    QVERIFY(any2 && any1);
    // Every byte that starts no well-formed sequence counts as one character.
    QVERIFY(any1->matchesUtf8("\xff", 1));
    QVERIFY(any2->matchesUtf8("\xe3\x82", 2));          // a cut-off three-byte sequence
    QVERIFY(any2->matchesUtf8("\xc0\x81", 2));          // an overlong form
    QVERIFY(any1->matchesUtf8("\xe3\x82\xa2", 3));      // ア, whole
    QVERIFY(!any1->matchesUtf8("\xed\xa0\x80", 3));     // an encoded surrogate: three characters
    QVERIFY(any1->matchesUtf8("", -1) == false);
    const auto empty = LikePattern::compile(u"");
    QVERIFY(empty->matchesUtf8(nullptr, 0));
}

// Patterns that make a naive backtracking matcher take exponential time end at once.
void TestLike::manyStarsFinish()
{
    const auto pattern = LikePattern::compile(u"*a*a*a*a*a*a*a*a*a*a*a*a*b");
    QVERIFY(pattern);
    const QString text(20000, u'a');
    QVERIFY(!pattern->matches(text));
    const QByteArray utf8 = text.toUtf8();
    QVERIFY(!pattern->matchesUtf8(utf8.constData(), int(utf8.size())));
    QVERIFY(pattern->matches(text + u'b'));

    const auto questions = LikePattern::compile(u"*?*?*?*?*?*?*?*?*?*?*?*?*#");
    QVERIFY(questions);
    QVERIFY(!questions->matches(QString(20000, u'x')));
}

void TestLike::copies()
{
    auto pattern = LikePattern::compile(u"*ｺｰﾗ*");
    QVERIFY(pattern);
    const LikePattern copy = *pattern;
    LikePattern assigned = *LikePattern::compile(u"x");
    assigned = copy;
    pattern.reset();
    QVERIFY(copy.matches(u"コーラ"));
    QVERIFY(assigned.matches(u"こーら"));
    QVERIFY(!assigned.matches(u"x"));
}

void TestLike::sqliteLike()
{
    MemoryDb db;
    QVERIFY(Merchalog::registerLikeFunctions(db.handle()));

    QCOMPARE(db.value(u"select merch_like('*ｺｰﾗ*', 'ダイエットコーラ')"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_like('*ｺｰﾗ*', 'ダイエットペプシ')"_s), QVariant(qint64(0)));
    QCOMPARE(db.value(u"select merch_like('こーら', 'ｺｰﾗ')"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_like('*', NULL) is null"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_like(NULL, 'a') is null"_s), QVariant(qint64(1)));
    // A number is matched as its decimal text.
    QCOMPARE(db.value(u"select merch_like('12#', 123)"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_like('12#', 1234)"_s), QVariant(qint64(0)));
    QCOMPARE(db.value(u"select merch_like('-1*', -15)"_s), QVariant(qint64(1)));

    const QString error = db.value(u"select merch_like('a[b', 'ab')"_s).toString();
    QVERIFY2(error.startsWith(u"error: "_s), qPrintable(error));
    QVERIFY(error.contains(u'['));
}

// The pattern is compiled once per statement and kept across rows; a pattern that changes
// from row to row is compiled for each.
void TestLike::sqliteLikeOverRows()
{
    MemoryDb db;
    QVERIFY(Merchalog::registerLikeFunctions(db.handle()));
    QVERIFY(db.exec("create table t(name text, pattern text);"
                    "insert into t values ('ダイエットコーラ', '*ｺｰﾗ'), ('コーラ', 'こ*'), ('ｺｰﾗ', '?'),"
                    " ('ペプシ', '*ｼ'), (NULL, '*'), ('ゼロコーラ', '[')"));
    QCOMPARE(db.value(u"select count(*) from t where merch_like('*コーラ*', name)"_s), QVariant(qint64(4)));
    QCOMPARE(db.value(u"select count(*) from t where merch_like('*コーラ*', name) is null"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select group_concat(merch_like(pattern, name), ',') from t where rowid <= 4"_s),
             QVariant(u"1,1,0,1"_s));
    const QString error = db.value(u"select count(*) from t where merch_like(pattern, name)"_s).toString();
    QVERIFY2(error.startsWith(u"error: "_s), qPrintable(error));
}

void TestLike::sqliteFoldAndNumberText()
{
    MemoryDb db;
    QVERIFY(Merchalog::registerLikeFunctions(db.handle()));

    QCOMPARE(db.value(u"select merch_fold('ｺｰﾗ ＡＢ')"_s), QVariant(u"コーラ ab"_s));
    QCOMPARE(db.value(u"select merch_fold('ﾀﾞｲｴｯﾄ') = merch_fold('だいえっと')"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_fold('ガム') = merch_fold('カム')"_s), QVariant(qint64(0)));
    QCOMPARE(db.value(u"select typeof(merch_fold(12))"_s), QVariant(u"integer"_s));
    QCOMPARE(db.value(u"select merch_fold(NULL) is null"_s), QVariant(qint64(1)));

    QCOMPARE(db.value(u"select merch_numtext(125000)"_s), QVariant(u"12.5"_s));
    QCOMPARE(db.value(u"select merch_numtext(-2500)"_s), QVariant(u"-0.25"_s));
    QCOMPARE(db.value(u"select merch_numtext(49012345678940000)"_s), QVariant(u"4901234567894"_s));
    QCOMPARE(db.value(u"select merch_numtext(-9223372036854775808)"_s), QVariant(u"-922337203685477.5808"_s));
    QCOMPARE(db.value(u"select merch_numtext(NULL) is null"_s), QVariant(qint64(1)));
    QCOMPARE(db.value(u"select merch_like('12.#', merch_numtext(125000))"_s), QVariant(qint64(1)));
}

QTEST_APPLESS_MAIN(TestLike)
#include "tst_like.moc"
