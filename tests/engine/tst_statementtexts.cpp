#include "engine/statements/statementtexts.h"

#include "engine/statements/statement.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class TestSqlTexts final : public QObject
{
    Q_OBJECT

private slots:
    void fixedTextsParse();
    void byExactCode_data();
    void byExactCode();
    void byCodeAsTyped_data();
    void byCodeAsTyped();
};

// The fixed texts stay within what the record sources can run (what each reads as is
// checked in tst_statement).
void TestSqlTexts::fixedTextsParse()
{
    const QLatin1StringView texts[] = {
        SqlText::emptyProductView, SqlText::allProducts, SqlText::productAppend, SqlText::supplierAppend,
    };
    for (const QLatin1StringView text : texts) {
        const auto statement = parseStatement(QString(text));
        QVERIFY2(statement, qPrintable(QString(text) + u": "_s + statement.status().message()));
    }
}

void TestSqlTexts::byExactCode_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text"); // null when the code is not a number

    const QString prefix = u"select * from torihiki where torihiki_code ="_s;
    QTest::newRow("leading zero dropped") << u"0120"_s << prefix + u"120"_s;
    QTest::newRow("full-width") << u"１２０"_s << prefix + u"120"_s;
    QTest::newRow("fraction") << u"12.50"_s << prefix + u"12.5"_s;
    QTest::newRow("13 digits") << u"9999999999999"_s << prefix + u"9999999999999"_s;
    QTest::newRow("letters") << u"12A"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("condition spliced in") << u"1 or 1=1"_s << QString();
}

void TestSqlTexts::byExactCode()
{
    QFETCH(QString, code);
    QFETCH(QString, text);

    const auto result = SqlText::supplierByExactCode(code);
    QCOMPARE(result.has_value(), !text.isNull());
    if (result) {
        QCOMPARE(*result, text);
        QVERIFY(parseStatement(*result));
    }
}

void TestSqlTexts::byCodeAsTyped_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("text"); // null when refused

    const QString prefix = u"select * from torihiki where torihiki_code like "_s;
    QTest::newRow("kept as typed") << u"0120"_s << prefix + u"0120"_s;
    QTest::newRow("blanks kept") << u" 120 "_s << prefix + u" 120 "_s;
    QTest::newRow("sign and point") << u"-1.5"_s << prefix + u"-1.5"_s;
    QTest::newRow("point first") << u".5"_s << prefix + u".5"_s;
    QTest::newRow("condition spliced in") << u"120 or 1=1"_s << QString();
    QTest::newRow("second statement") << u"1; delete from torihiki"_s << QString();
    QTest::newRow("quote") << u"1'"_s << QString();
    QTest::newRow("letters") << u"12A"_s << QString();
    QTest::newRow("grouping") << u"1,200"_s << QString();
    QTest::newRow("full-width digits") << u"１２０"_s << QString();
    QTest::newRow("blank inside") << u"1 2"_s << QString();
    QTest::newRow("point only") << u"."_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("beyond the number range") << u"99999999999999999999"_s << QString();
}

void TestSqlTexts::byCodeAsTyped()
{
    QFETCH(QString, code);
    QFETCH(QString, text);

    const auto result = SqlText::supplierByCodeAsTyped(code);
    QCOMPARE(result.has_value(), !text.isNull());
    QCOMPARE(SqlText::isNumberLiteral(code), !text.isNull());
    if (result) {
        QCOMPARE(*result, text);
        // Whatever is let through is exactly one condition on the code.
        const auto statement = parseStatement(*result);
        QVERIFY(statement);
        QCOMPARE(statement->conditions.size(), size_t(1));
        QCOMPARE(statement->conditions.front().field, u"torihiki_code"_s);
    }
}

QTEST_APPLESS_MAIN(TestSqlTexts)
#include "tst_statementtexts.moc"
