// Record-source statements: what the parser reads and refuses, the texts the searches and
// the supplier lookups write (hostile keys included), and the search mode captions.
#include "engine/statements/searchmode.h"
#include "engine/statements/searchtext.h"
#include "engine/statements/statement.h"
#include "engine/statements/statementtexts.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

Q_DECLARE_METATYPE(SearchMode)

namespace {

const QString listed = u"select * from syohin where syohin_JAN<>-99"_s;

// A condition as "field op value": a value in single quotes is text, any other a number in
// ten-thousandths.
QStringList describe(const Statement &statement)
{
    QStringList list;
    for (const Condition &c : statement.conditions) {
        const QString op = c.op == Operator::Equal ? u"="_s : c.op == Operator::NotEqual ? u"<>"_s : u"like"_s;
        const QString value = std::holds_alternative<Currency>(c.value)
            ? QString::number(std::get<Currency>(c.value).units())
            : u"'"_s + std::get<QString>(c.value) + u"'"_s;
        list << c.field + u' ' + op + u' ' + value;
    }
    return list;
}

QList<std::pair<const char *, QString>> hostileTexts()
{
    return {{"quote trick", u"x' or 'a'='a"_s}, {"or 1=1", u"1 or 1=1"_s}, {"second statement", u"1; delete from syohin"_s},
            {"comment", u"--"_s}, {"open comment", u"/*"_s}, {"unclosed bracket", u"["_s},
            {"1 MB", QString(1 << 20, u'x')}, {"NUL", u"a\u0000b"_s}, {"control characters", u"\t\r\n\u001b\u007f"_s},
            {"emoji", u"😀〜−¥𠮷"_s}, {"full-width digits", u"１２０"_s}, {"30 digits", u"123456789012345678901234567890"_s},
            {"many stars", QString(2000, u'*') + u"x"_s}, {"quote alone", u"'"_s}};
}

} // namespace

class TestStatements final : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void writtenText();
    void longTexts();
    void searchText_data();
    void searchText();
    void hostileKeys_data();
    void hostileKeys();
    void supplierLookups_data();
    void supplierLookups();
    void modeCaptions();
};

void TestStatements::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("table");        // empty: refused
    QTest::addColumn<QStringList>("conditions");
    const QString hidden = u"syohin_JAN <> -990000"_s;

    // The fixed texts of the record sources.
    QTest::newRow("empty product view") << QString(SqlText::emptyProductView) << u"syohin"_s
                                        << QStringList{hidden, u"syohin_JAN = -990000"_s};
    QTest::newRow("all products") << QString(SqlText::allProducts) << u"syohin"_s << QStringList{hidden};
    QTest::newRow("product append") << QString(SqlText::productAppend) << u"syohin"_s << QStringList();
    QTest::newRow("supplier append") << QString(SqlText::supplierAppend) << u"torihiki"_s << QStringList();
    QTest::newRow("bare table") << u"syohin"_s << u"syohin"_s << QStringList();
    QTest::newRow("change window at opening") << u"select * from torihiki where torihiki_code like 999999999"_s
                                              << u"torihiki"_s << QStringList{u"torihiki_code like 9999999990000"_s};
    QTest::newRow("supplier code as typed") << u"select * from torihiki where torihiki_code like  0120 "_s
                                            << u"torihiki"_s << QStringList{u"torihiki_code like 1200000"_s};
    QTest::newRow("department and price") << listed + u" and bumon_code like 3 and syohin_master like -1.5"_s
        << u"syohin"_s << QStringList{hidden, u"bumon_code like 30000"_s, u"syohin_master like -15000"_s};
    QTest::newRow("name") << listed + u" and syohin_mei like 'ﾀﾞｲｴｯﾄ*'"_s << u"syohin"_s
                          << QStringList{hidden, u"syohin_mei like 'ﾀﾞｲｴｯﾄ*'"_s};
    QTest::newRow("empty name") << listed + u" and syohin_mei like ''"_s << u"syohin"_s
                                << QStringList{hidden, u"syohin_mei like ''"_s};
    QTest::newRow("doubled quotes") << listed + u" and syohin_mei like 'Rock''n''Roll'"_s << u"syohin"_s
                                    << QStringList{hidden, u"syohin_mei like 'Rock'n'Roll'"_s};
    QTest::newRow("only a quote") << listed + u" and syohin_mei like ''''"_s << u"syohin"_s
                                  << QStringList{hidden, u"syohin_mei like '''"_s};
    QTest::newRow("SQL words inside the quotes") << listed + u" and syohin_mei like 'x or 1=1; -- /*'"_s << u"syohin"_s
                                                 << QStringList{hidden, u"syohin_mei like 'x or 1=1; -- /*'"_s};
    QTest::newRow("unclosed bracket is fine with =") << listed + u" and syohin_mei = '['"_s << u"syohin"_s
                                                     << QStringList{hidden, u"syohin_mei = '['"_s};
    // Spelling freedom: case, blanks and line breaks between the words.
    QTest::newRow("keywords in capitals") << u"SELECT * FROM syohin WHERE syohin_JAN<>-99 AND syohin_mei LIKE 'a'"_s
                                          << u"syohin"_s << QStringList{hidden, u"syohin_mei like 'a'"_s};
    QTest::newRow("blanks everywhere") << u"  select\t*\nfrom  syohin\r\nwhere syohin_JAN <> -99   and syohin_EOS = 5  "_s
                                       << u"syohin"_s << QStringList{hidden, u"syohin_EOS = 50000"_s};
    QTest::newRow("no blanks around operators and quotes") << u"select * from syohin where syohin_mei like'a'and syohin_EOS=5"_s
        << u"syohin"_s << QStringList{u"syohin_mei like 'a'"_s, u"syohin_EOS = 50000"_s};
    QTest::newRow("field name case kept") << u"select * from SYOHIN where Syohin_Jan=1"_s << u"SYOHIN"_s
                                          << QStringList{u"Syohin_Jan = 10000"_s};
    QTest::newRow("number at the end of the range") << u"select * from torihiki where torihiki_code = -922337203685477.5808"_s
        << u"torihiki"_s << QStringList{u"torihiki_code = -9223372036854775808"_s};

    // A quote typed into a name search ends the literal early; a code typed into the change
    // or deletion window adds words; anything else outside the subset.
    const QString supplier = u"select * from torihiki where torihiki_code like "_s;
    for (const QString &text : {
             listed + u" and syohin_mei like 'Rock'n'"_s, listed + u" and syohin_mei like 'x' or 'a'='a'"_s,
             listed + u" and syohin_mei like 'x''"_s, listed + u" and syohin_mei like 'a[bc'"_s,
             supplier + u"1 or 1=1"_s, supplier + u"1; delete from syohin"_s, supplier + u"1 --"_s,
             supplier + u"1 /* x */"_s, supplier + u"12A"_s, supplier, supplier + u"--5"_s, supplier + u"5-3"_s,
             supplier + u"１２０"_s, supplier + u"922337203685477.5808"_s, QString(), u" \t "_s, u"select * from"_s,
             u"select syohin_mei from syohin"_s, u"select * from syohin, torihiki"_s, u"select * from syohin s"_s,
             u"select * from syohin order by syohin_mei"_s, u"select * from syohin where"_s, listed + u" and"_s,
             listed + u" or syohin_JAN=1"_s, u"select * from syohin where not syohin_JAN=1"_s,
             u"select * from syohin where (syohin_JAN=1)"_s, u"select * from syohin where syohin_JAN=syohin_EOS"_s,
             u"select * from syohin where syohin_JAN<1"_s, listed + u" and syohin_mei like \"a\""_s,
             u"select * from [syohin]"_s, u"select * from syohin where syohin_JAN = null"_s, u"delete from syohin"_s,
             u"select * from syohin where syohin_JAN=1 x"_s, listed + u" and syohin_mei like 'a\u0000b'"_s})
        QTest::addRow("refused: %s", qPrintable(text)) << text << QString() << QStringList();
}

void TestStatements::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, table);
    QFETCH(QStringList, conditions);
    const auto statement = parseStatement(text);
    QCOMPARE(statement.ok(), !table.isEmpty());
    QCOMPARE(statement.status().message().isEmpty(), statement.ok());
    if (statement) {
        QCOMPARE(statement->table, table);
        QCOMPARE(describe(*statement), conditions);
    }
}

// The written form of a statement (reading back as the same statement is the fuzz target's).
void TestStatements::writtenText()
{
    QCOMPARE(writeStatement(*parseStatement(u"select * from syohin where a like 'x''y' and b<>-0.50"_s)),
             u"select * from syohin where a like 'x''y' and b <> -0.5"_s);
    const QString value = u"x' or 'a'='a"_s;
    QCOMPARE(quoteTextLiteral(value), u"'x'' or ''a''=''a'"_s);
    const auto quoted = parseStatement(u"select * from syohin where syohin_mei = "_s + quoteTextLiteral(value));
    QCOMPARE(std::get<QString>(quoted->conditions.front().value), value);
}

// A megabyte of text, accepted or refused, is read in one pass.
void TestStatements::longTexts()
{
    const qsizetype megabyte = 1 << 20;
    const auto named = parseStatement(u"select * from syohin where syohin_mei like '"_s + QString(megabyte, u'ア') + u"'"_s);
    QCOMPARE(std::get<QString>(named->conditions.back().value).size(), megabyte);
    // After the opening quote, pairs stand for one quote each and an odd last one closes.
    const QString quotes = u"select * from syohin where syohin_mei = '"_s + QString(megabyte, u'\'');
    QCOMPARE(std::get<QString>(parseStatement(quotes + u"'"_s)->conditions.back().value).size(), megabyte / 2);
    QVERIFY(!parseStatement(quotes + u"''"_s));
    QString conditions = listed;
    while (conditions.size() < megabyte)
        conditions += u" and syohin_EOS = 1"_s;
    QVERIFY(parseStatement(conditions)->conditions.size() > 50000);
    QVERIFY(!parseStatement(conditions + u" or 1=1"_s));
    QVERIFY(!parseStatement(QString(megabyte, u'(')));
    QVERIFY(!parseStatement(QString(megabyte, u'a') + u" b"_s));
}

void TestStatements::searchText_data()
{
    QTest::addColumn<SearchMode>("mode");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // null: no statement, with a note for the status bar
    const QString dept3 = listed + u" and bumon_code like 3"_s;

    for (SearchMode mode : searchModeOrder)
        QTest::addRow("department only, %s", qPrintable(searchModeText(mode))) << mode << u"3"_s << QString() << dept3;
    QTest::newRow("nothing to search") << SearchMode::Jan << QString() << QString() << QString();
    QTest::newRow("department with zeros and blanks") << SearchMode::Jan << u" 007 "_s << QString()
                                                      << listed + u" and bumon_code like 7"_s;
    QTest::newRow("department in full-width digits") << SearchMode::Name << u"３"_s << QString() << dept3;
    QTest::newRow("department blanks only") << SearchMode::Name << u"   "_s << u"x"_s << QString();
    QTest::newRow("department wildcard") << SearchMode::Name << u"3*"_s << QString() << QString();
    QTest::newRow("name") << SearchMode::Name << QString() << u"りんごジュース"_s
                          << listed + u" and syohin_mei like 'りんごジュース'"_s;
    QTest::newRow("name blanks") << SearchMode::Name << QString() << u"  "_s << listed + u" and syohin_mei like '  '"_s;
    QTest::newRow("name wildcards") << SearchMode::Name << QString() << u"*ジュース?[AB]#"_s
                                    << listed + u" and syohin_mei like '*ジュース?[AB]#'"_s;
    QTest::newRow("name quote doubled") << SearchMode::Name << QString() << u"O'Brien's"_s
                                        << listed + u" and syohin_mei like 'O''Brien''s'"_s;
    QTest::newRow("supplier") << SearchMode::Supplier << QString() << u"0120"_s
                              << listed + u" and syohin_torihikicode like 120"_s;
    QTest::newRow("price grouping") << SearchMode::Price << QString() << u"1,980"_s
                                    << listed + u" and syohin_master like 1980"_s;
    QTest::newRow("eos trailing zeros") << SearchMode::Eos << QString() << u"1000.00"_s
                                        << listed + u" and syohin_EOS like 1000"_s;
    QTest::newRow("jan 13 digits") << SearchMode::Jan << QString() << u"４９０１２３４５６７８９４"_s
                                   << listed + u" and syohin_JAN like 4901234567894"_s;
    QTest::newRow("negative key") << SearchMode::Jan << QString() << u"-99"_s << listed + u" and syohin_JAN like -99"_s;
    QTest::newRow("price letters") << SearchMode::Price << QString() << u"abc"_s << QString();
    QTest::newRow("jan wildcard") << SearchMode::Jan << QString() << u"4901*"_s << QString();
    QTest::newRow("eos question mark") << SearchMode::Eos << QString() << u"10?1"_s << QString();
    QTest::newRow("jan beyond range") << SearchMode::Jan << QString() << u"922337203685478"_s << QString();
    QTest::newRow("both name") << SearchMode::Name << u"5"_s << u"緑茶"_s
                               << listed + u" and bumon_code like 5 and syohin_mei like '緑茶'"_s;
    QTest::newRow("both price") << SearchMode::Price << u"03"_s << u"1,980"_s << dept3 + u" and syohin_master like 1980"_s;
    QTest::newRow("both, bad department") << SearchMode::Name << u"A1"_s << u"緑茶"_s << QString();
    QTest::newRow("both, bad key") << SearchMode::Eos << u"3"_s << u"x"_s << QString();
}

void TestStatements::searchText()
{
    QFETCH(SearchMode, mode);
    QFETCH(QString, department);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(productSearchText(mode, department, key).value_or(QString()), expected);
    // Each failure that ends a search silently has a note for the status bar.
    const QString problem = searchInputProblem(mode, department, key);
    QCOMPARE(problem.isEmpty(), !expected.isNull() || (department.isEmpty() && key.isEmpty()));
    if (problem.isEmpty())
        return;
    const bool badDepartment = !Currency::parse(department) && !department.isEmpty();
    QVERIFY2(problem.contains(badDepartment ? u"部門コード"_s : searchModeText(mode)), qPrintable(problem));
}

// A key never adds a condition: it is one literal compared with the mode's field, matched as
// typed (a name) or as the number it converts to, or there is no statement; the statement
// either holds exactly that or is refused as a whole.
void TestStatements::hostileKeys_data()
{
    QTest::addColumn<SearchMode>("mode");
    QTest::addColumn<QString>("key");
    for (const auto &[name, key] : hostileTexts()) {
        for (SearchMode mode : {SearchMode::Name, SearchMode::Jan, SearchMode::Supplier})
            QTest::addRow("%s, %s", qPrintable(searchModeText(mode)), name) << mode << key;
    }
}

void TestStatements::hostileKeys()
{
    QFETCH(SearchMode, mode);
    QFETCH(QString, key);
    QVERIFY(!productSearchText(mode, key, {}) || Currency::parse(key));
    const auto text = productSearchText(mode, {}, key);
    const auto number = Currency::parse(key);
    QCOMPARE(text.has_value(), mode == SearchMode::Name || number.has_value());
    if (!text)
        return;
    const auto statement = parseStatement(*text);
    if (!statement) {
        QVERIFY2(mode == SearchMode::Name && (key.contains(u'[') || key.contains(QChar(0))), qPrintable(*text));
        return;
    }
    QCOMPARE(statement->conditions.size(), size_t(2));
    const Condition &condition = statement->conditions.back();
    QCOMPARE(condition.field, QString(searchModeField(mode)));
    if (mode == SearchMode::Name)
        QCOMPARE(std::get<QString>(condition.value), key);
    else
        QCOMPARE(std::get<Currency>(condition.value), *number);
}

void TestStatements::supplierLookups_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("exact");   // the registration window's lookup; null when none
    QTest::addColumn<QString>("asTyped"); // the change and deletion windows' lookup; null when none
    QTest::newRow("leading zero") << u"0120"_s << u"120"_s << u"0120"_s;
    QTest::newRow("blanks") << u" 120 "_s << u"120"_s << u" 120 "_s;
    QTest::newRow("sign and point") << u"-1.50"_s << u"-1.5"_s << u"-1.50"_s;
    QTest::newRow("point first") << u".5"_s << u"0.5"_s << u".5"_s;
    QTest::newRow("13 digits") << u"9999999999999"_s << u"9999999999999"_s << u"9999999999999"_s;
    QTest::newRow("full-width") << u"１２０"_s << u"120"_s << QString();
    QTest::newRow("grouping") << u"1,200"_s << u"1200"_s << QString();
    for (const auto &[name, key] : hostileTexts()) {
        if (!Currency::parse(key))
            QTest::addRow("%s", name) << key << QString() << QString();
    }
    QTest::newRow("blank inside") << u"1 2"_s << QString() << QString();
    QTest::newRow("point only") << u"."_s << QString() << QString();
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestStatements::supplierLookups()
{
    QFETCH(QString, code);
    QFETCH(QString, exact);
    QFETCH(QString, asTyped);
    const auto byExact = SqlText::supplierByExactCode(code);
    QCOMPARE(byExact.value_or(QString()),
             exact.isNull() ? QString() : u"select * from torihiki where torihiki_code ="_s + exact);
    const auto byTyped = SqlText::supplierByCodeAsTyped(code);
    QCOMPARE(byTyped.value_or(QString()),
             asTyped.isNull() ? QString() : u"select * from torihiki where torihiki_code like "_s + asTyped);
    QCOMPARE(SqlText::isNumberLiteral(code), !asTyped.isNull());
    for (const auto &text : {byExact, byTyped}) {
        if (text)
            QCOMPARE(parseStatement(*text)->conditions.size(), size_t(1));
    }
}

void TestStatements::modeCaptions()
{
    for (SearchMode mode : searchModeOrder)
        QCOMPARE(searchModeFromText(searchModeText(mode)), std::optional<SearchMode>(mode));
    QCOMPARE(searchModeText(SearchMode::Name), u"商品名検索"_s);
    QCOMPARE(searchModeText(SearchMode::Supplier), u"取引先検索"_s);
    QCOMPARE(searchModeText(SearchMode::Price), u"価格検索"_s);
    QCOMPARE(searchModeText(SearchMode::Eos), u"EOS検索"_s);
    QCOMPARE(searchModeText(SearchMode::Jan), u"JAN検索"_s);
    // The menu captions are not modes.
    for (const QString &caption : {u"標準価格検索"_s, u"JANコード検索"_s, u" 商品名検索"_s})
        QVERIFY(!searchModeFromText(caption));
}

QTEST_APPLESS_MAIN(TestStatements)
#include "tst_statements.moc"
