#include "engine/statements/statement.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

namespace {

// Conditions written compactly for the tables below: "field op value", one per entry, where
// a value in single quotes is text and anything else a number in ten-thousandths.
struct Expected
{
    QString table;
    QStringList conditions;
};

QString describe(const Condition &condition)
{
    QString op;
    switch (condition.op) {
    case Operator::Equal:
        op = u"="_s;
        break;
    case Operator::NotEqual:
        op = u"<>"_s;
        break;
    case Operator::Like:
        op = u"like"_s;
        break;
    }
    const QString value = std::holds_alternative<Currency>(condition.value)
            ? QString::number(std::get<Currency>(condition.value).units())
            : u"'"_s + std::get<QString>(condition.value) + u"'"_s;
    return condition.field + u' ' + op + u' ' + value;
}

QStringList describe(const Statement &statement)
{
    QStringList list;
    for (const Condition &condition : statement.conditions)
        list << describe(condition);
    return list;
}

} // namespace

class TestStatement final : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void rejected_data();
    void rejected();
    void writtenTextParsesBack();
    void quoting();
    void longTexts();
};

void TestStatement::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("conditions");

    // The fixed texts of the record sources.
    QTest::newRow("empty product view")
            << u"select * from syohin where syohin_JAN<>-99 and syohin_JAN=-99"_s << u"syohin"_s
            << QStringList{u"syohin_JAN <> -990000"_s, u"syohin_JAN = -990000"_s};
    QTest::newRow("all products") << u"select * from syohin where syohin_JAN<>-99"_s << u"syohin"_s
                                  << QStringList{u"syohin_JAN <> -990000"_s};
    QTest::newRow("product append") << u"select * from syohin"_s << u"syohin"_s << QStringList();
    QTest::newRow("supplier append") << u"select * from torihiki"_s << u"torihiki"_s << QStringList();
    QTest::newRow("no supplier") << u"select * from torihiki where torihiki_code=9999999999999"_s
                                 << u"torihiki"_s << QStringList{u"torihiki_code = 99999999999990000"_s};
    QTest::newRow("change window at opening")
            << u"select * from torihiki where torihiki_code like 999999999"_s << u"torihiki"_s
            << QStringList{u"torihiki_code like 9999999990000"_s};
    QTest::newRow("deletion window at opening")
            << u"select * from torihiki where torihiki_code like 99999999999"_s << u"torihiki"_s
            << QStringList{u"torihiki_code like 999999999990000"_s};
    QTest::newRow("bare table") << u"syohin"_s << u"syohin"_s << QStringList();

    // Supplier lookups.
    QTest::newRow("supplier by exact code") << u"select * from torihiki where torihiki_code =120"_s
                                            << u"torihiki"_s << QStringList{u"torihiki_code = 1200000"_s};
    QTest::newRow("supplier code as typed, blanks")
            << u"select * from torihiki where torihiki_code like  0120 "_s << u"torihiki"_s
            << QStringList{u"torihiki_code like 1200000"_s};
    QTest::newRow("supplier code as typed, signed decimal")
            << u"select * from torihiki where torihiki_code like -1.5"_s << u"torihiki"_s
            << QStringList{u"torihiki_code like -15000"_s};

    // Product searches, one of each shape and mode.
    const QString base = u"select * from syohin where syohin_JAN<>-99"_s;
    const QString hidden = u"syohin_JAN <> -990000"_s;
    QTest::newRow("department only") << base + u" and bumon_code like 3"_s << u"syohin"_s
                                     << QStringList{hidden, u"bumon_code like 30000"_s};
    QTest::newRow("department and price")
            << base + u" and bumon_code like 3 and syohin_master like 1980"_s << u"syohin"_s
            << QStringList{hidden, u"bumon_code like 30000"_s, u"syohin_master like 19800000"_s};
    QTest::newRow("JAN only") << base + u" and syohin_JAN like 4901234567894"_s << u"syohin"_s
                              << QStringList{hidden, u"syohin_JAN like 49012345678940000"_s};
    QTest::newRow("name only") << base + u" and syohin_mei like 'コーラ'"_s << u"syohin"_s
                               << QStringList{hidden, u"syohin_mei like 'コーラ'"_s};
    QTest::newRow("department and name")
            << base + u" and bumon_code like 5 and syohin_mei like 'ﾀﾞｲｴｯﾄ*'"_s << u"syohin"_s
            << QStringList{hidden, u"bumon_code like 50000"_s, u"syohin_mei like 'ﾀﾞｲｴｯﾄ*'"_s};
    QTest::newRow("empty name") << base + u" and syohin_mei like ''"_s << u"syohin"_s
                                << QStringList{hidden, u"syohin_mei like ''"_s};
    QTest::newRow("name with doubled quote") << base + u" and syohin_mei like 'Rock''n''Roll'"_s
                                             << u"syohin"_s
                                             << QStringList{hidden, u"syohin_mei like 'Rock'n'Roll'"_s};
    QTest::newRow("name that is only a quote") << base + u" and syohin_mei like ''''"_s << u"syohin"_s
                                               << QStringList{hidden, u"syohin_mei like '''"_s};
    QTest::newRow("name with SQL words inside the quotes")
            << base + u" and syohin_mei like 'x or 1=1; -- /*'"_s << u"syohin"_s
            << QStringList{hidden, u"syohin_mei like 'x or 1=1; -- /*'"_s};
    QTest::newRow("unclosed bracket is fine with =")
            << base + u" and syohin_mei = '['"_s << u"syohin"_s
            << QStringList{hidden, u"syohin_mei = '['"_s};

    // Spelling freedom: case, blanks and line breaks between the words.
    QTest::newRow("keywords in capitals")
            << u"SELECT * FROM syohin WHERE syohin_JAN<>-99 AND syohin_mei LIKE 'a'"_s << u"syohin"_s
            << QStringList{hidden, u"syohin_mei like 'a'"_s};
    QTest::newRow("blanks everywhere")
            << u"  select\t*\nfrom  syohin\r\nwhere syohin_JAN <> -99   and syohin_EOS = 5  "_s << u"syohin"_s
            << QStringList{hidden, u"syohin_EOS = 50000"_s};
    QTest::newRow("no blanks around operators and quotes")
            << u"select * from syohin where syohin_mei like'a'and syohin_EOS=5"_s << u"syohin"_s
            << QStringList{u"syohin_mei like 'a'"_s, u"syohin_EOS = 50000"_s};
    QTest::newRow("field name case kept") << u"select * from SYOHIN where Syohin_Jan=1"_s << u"SYOHIN"_s
                                          << QStringList{u"Syohin_Jan = 10000"_s};
    QTest::newRow("number at the top of the range")
            << u"select * from torihiki where torihiki_code = -922337203685477.5808"_s << u"torihiki"_s
            << QStringList{u"torihiki_code = -9223372036854775808"_s};
}

void TestStatement::accepted()
{
    QFETCH(QString, text);
    QFETCH(QString, table);
    QFETCH(QStringList, conditions);

    const auto statement = parseStatement(text);
    QVERIFY2(statement, qPrintable(statement.status().message()));
    QVERIFY(statement.status().message().isEmpty());
    QCOMPARE(statement->table, table);
    QCOMPARE(describe(*statement), conditions);
}

void TestStatement::rejected_data()
{
    QTest::addColumn<QString>("text");

    const QString base = u"select * from syohin where syohin_JAN<>-99"_s;

    // A single quote typed into a name search ends the literal early.
    for (const QString &text : {
        base + u" and syohin_mei like 'Rock'n'"_s, base + u" and syohin_mei like 'x' or 'a'='a'"_s,
        base + u" and syohin_mei like 'x''"_s, base + u" and syohin_mei like 'a[bc'"_s})
        QTest::addRow("%s", qPrintable(text)) << text;

    // A supplier code typed into the change or deletion window.
    const QString supplier = u"select * from torihiki where torihiki_code like "_s;
    for (const QString &text : {
        supplier + u"1 or 1=1"_s, supplier + u"1; delete from syohin"_s, supplier + u"1 --"_s,
        supplier + u"1 /* x */"_s, supplier + u"12A"_s, supplier, supplier + u"--5"_s, supplier + u"5-3"_s,
        supplier + u"１２０"_s, supplier + u"922337203685477.5808"_s})
        QTest::addRow("%s", qPrintable(text)) << text;

    // Outside the subset.
    for (const QString &text : {
        QString(), u" \t "_s, u"select * from"_s, u"select syohin_mei from syohin"_s,
        u"select * from syohin, torihiki"_s, u"select * from syohin s"_s, u"select * from syohin order by syohin_mei"_s,
        u"select * from syohin where"_s, base + u" and"_s, base + u" or syohin_JAN=1"_s,
        u"select * from syohin where not syohin_JAN=1"_s, u"select * from syohin where (syohin_JAN=1)"_s,
        u"select * from syohin where syohin_JAN=syohin_EOS"_s, u"select * from syohin where syohin_JAN<1"_s,
        base + u" and syohin_mei like \"a\""_s, u"select * from [syohin]"_s,
        u"select * from syohin where syohin_JAN = null"_s, u"delete from syohin"_s,
        u"select * from syohin where syohin_JAN=1 x"_s, base + u" and syohin_mei like 'a\u0000b'"_s})
        QTest::addRow("%s", qPrintable(text)) << text;
}

void TestStatement::rejected()
{
    QFETCH(QString, text);

    const auto statement = parseStatement(text);
    QVERIFY(!statement);
    QVERIFY(!statement.status().message().isEmpty());
}

// The written form of a parsed statement reads back as the same statement.
void TestStatement::writtenTextParsesBack()
{
    const QStringList texts{
        u"syohin"_s,
        u"select * from syohin where syohin_JAN<>-99 and syohin_JAN=-99"_s,
        u"select * from syohin where syohin_JAN<>-99 and bumon_code like -0.5 and syohin_mei like 'a''b*[!x-z]'"_s,
        u"select * from torihiki where torihiki_code = -922337203685477.5808"_s,
        u"select * from torihiki where torihiki_mei = ''''''"_s,
    };
    for (const QString &text : texts) {
        const auto statement = parseStatement(text);
        QVERIFY2(statement, qPrintable(text));
        const QString written = writeStatement(*statement);
        const auto again = parseStatement(written);
        QVERIFY2(again, qPrintable(written));
        QVERIFY2(*again == *statement, qPrintable(written));
    }
    QCOMPARE(writeStatement(*parseStatement(u"select * from syohin where a like 'x''y' and b<>-0.50"_s)),
             u"select * from syohin where a like 'x''y' and b <> -0.5"_s);
}

void TestStatement::quoting()
{
    QCOMPARE(quoteTextLiteral(u"コーラ"), u"'コーラ'"_s);
    QCOMPARE(quoteTextLiteral(u""), u"''"_s);
    QCOMPARE(quoteTextLiteral(u"'"), u"''''"_s);
    QCOMPARE(quoteTextLiteral(u"Rock'n'Roll"), u"'Rock''n''Roll'"_s);

    // A quoted value reads back as itself, whatever it holds.
    const QString value = u"x' or 'a'='a"_s;
    const auto statement = parseStatement(u"select * from syohin where syohin_mei = "_s + quoteTextLiteral(value));
    QVERIFY(statement);
    QCOMPARE(statement->conditions.size(), size_t(1));
    QCOMPARE(std::get<QString>(statement->conditions.front().value), value);
}

// A megabyte of text, accepted or rejected, is read in one pass.
void TestStatement::longTexts()
{
    const qsizetype megabyte = 1 << 20;

    const QString longName = u"select * from syohin where syohin_mei like '"_s + QString(megabyte, u'ア') + u"'"_s;
    const auto named = parseStatement(longName);
    QVERIFY(named);
    QCOMPARE(std::get<QString>(named->conditions.back().value).size(), megabyte);

    QString quotes = u"select * from syohin where syohin_mei = '"_s;
    quotes += QString(megabyte, u'\'');
    // After the opening quote, pairs stand for one quote each and an odd last one closes.
    const auto oddCount = parseStatement(quotes + u"'"_s);
    QVERIFY(oddCount);
    QCOMPARE(std::get<QString>(oddCount->conditions.back().value).size(), megabyte / 2);
    QVERIFY(!parseStatement(quotes + u"''"_s));
    const auto closed = parseStatement(quotes + u"'''"_s);
    QVERIFY(closed);
    QCOMPARE(std::get<QString>(closed->conditions.back().value).size(), megabyte / 2 + 1);

    QString conditions = u"select * from syohin where syohin_JAN<>-99"_s;
    while (conditions.size() < megabyte)
        conditions += u" and syohin_EOS = 1"_s;
    const auto many = parseStatement(conditions);
    QVERIFY(many);
    QVERIFY(many->conditions.size() > 50000);

    QVERIFY(!parseStatement(conditions + u" or 1=1"_s));
    QVERIFY(!parseStatement(QString(megabyte, u' ')));
    QVERIFY(!parseStatement(QString(megabyte, u'(')));
    QVERIFY(!parseStatement(QString(megabyte, u'a') + u" b"_s));
}

QTEST_APPLESS_MAIN(TestStatement)
#include "tst_statement.moc"
