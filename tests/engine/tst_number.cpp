#include "engine/kinds/number.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using Merchalog::Currency;

namespace {

// Values are written as ten-thousandths; `fails` stands for "does not convert".
constexpr qint64 fails = std::numeric_limits<qint64>::min() + 1;

} // namespace

class TestNumber final : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void plainText_data();
    void plainText();
    void plainTextParsesBack();
    void smallInt_data();
    void smallInt();
};

void TestNumber::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("units"); // `fails` when the text is not a number

    // What users type into the search and registration fields.
    QTest::newRow("fraction") << u"12.50"_s << qint64(125000);
    QTest::newRow("leading zeros") << u"0012"_s << qint64(120000);
    QTest::newRow("grouping") << u"1,980"_s << qint64(19800000);
    QTest::newRow("grouping of any width") << u"12,34"_s << qint64(12340000);
    QTest::newRow("blanks around") << u" 7 "_s << qint64(70000);
    QTest::newRow("negative") << u"-3"_s << qint64(-30000);
    QTest::newRow("point first") << u".5"_s << qint64(5000);
    QTest::newRow("point last") << u"5."_s << qint64(50000);
    QTest::newRow("negative zero") << u"-0.0"_s << qint64(0);

    // Typed with the Japanese input method on.
    QTest::newRow("full-width digits") << u"１２３"_s << qint64(1230000);
    QTest::newRow("full-width minus") << u"－５"_s << qint64(-50000);
    QTest::newRow("minus sign U+2212") << u"\u22125"_s << qint64(-50000);
    QTest::newRow("full-width comma and point") << u"１，２３４．５"_s << qint64(12345000);
    QTest::newRow("backslash yen") << u"\\1200"_s << qint64(12000000);
    QTest::newRow("sign then yen") << u"-￥1,200"_s << qint64(-12000000);
    QTest::newRow("yen then sign") << u"￥-1,200"_s << qint64(-12000000);

    // More than four decimals: half to even, decided on the digits.
    QTest::newRow("tie, odd kept digit rounds up") << u"1.23455"_s << qint64(12346);
    QTest::newRow("tie, even kept digit stays") << u"1.23445"_s << qint64(12344);
    QTest::newRow("above tie") << u"1.234451"_s << qint64(12345);
    QTest::newRow("below tie") << u"1.23444999"_s << qint64(12344);
    QTest::newRow("negative tie to even") << u"-1.23445"_s << qint64(-12344);
    QTest::newRow("rounds into the whole part") << u"0.99995"_s << qint64(10000);
    QTest::newRow("tiny tie to even zero") << u"0.00005"_s << qint64(0);

    // Codes and the limits of the range.
    QTest::newRow("13-digit JAN") << u"4901234567894"_s << qint64(49012345678940000);
    QTest::newRow("maximum") << u"922337203685477.5807"_s << std::numeric_limits<qint64>::max();
    QTest::newRow("minimum") << u"-922337203685477.5808"_s << std::numeric_limits<qint64>::min();
    QTest::newRow("rounds down to the maximum") << u"922337203685477.58074"_s << std::numeric_limits<qint64>::max();
    QTest::newRow("above maximum") << u"922337203685477.5808"_s << fails;
    QTest::newRow("rounds past the maximum") << u"922337203685477.58075"_s << fails;
    QTest::newRow("below minimum") << u"-922337203685477.5809"_s << fails;
    QTest::newRow("rounds to the minimum") << u"-922337203685477.58075"_s << std::numeric_limits<qint64>::min();
    QTest::newRow("whole part too large") << u"922337203685478"_s << fails;

    // Not numbers.
    const QStringList notNumbers{QString(), u"\u3000\u3000"_s, u"12A"_s, u"12*"_s, u"1e5"_s, u"1.2.3"_s, u"."_s,
                                 u"-"_s, u"￥"_s, u"--5"_s, u"-￥-5"_s, u"5￥"_s, u"5-"_s, u"- 5"_s, u"1 000"_s,
                                 u",5"_s, u"1,,000"_s, u"1.5,0"_s, u"(5)"_s, u"\u0661"_s /* Arabic-Indic digit */,
                                 u"1\u00002"_s};
    for (const QString &text : notNumbers)
        QTest::addRow("not a number: %s", qPrintable(text)) << text << fails;
}

void TestNumber::parse()
{
    QFETCH(QString, text);
    QFETCH(qint64, units);

    const auto value = Currency::parse(text);
    if (units == fails) {
        QVERIFY2(!value, qPrintable(u"converted to %1"_s.arg(value ? value->units() : 0)));
    } else {
        QVERIFY(value);
        QCOMPARE(value->units(), units);
    }
}

void TestNumber::plainText_data()
{
    QTest::addColumn<qint64>("units");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("exported");

    QTest::newRow("zero") << qint64(0) << u"0"_s << u"0"_s;
    QTest::newRow("trailing zeros dropped") << qint64(125000) << u"12.5"_s << u"12.5"_s;
    QTest::newRow("inner zero kept") << qint64(10005) << u"1.0005"_s << u"1.0005"_s;
    QTest::newRow("half") << qint64(5000) << u"0.5"_s << u".5"_s;
    QTest::newRow("negative quarter") << qint64(-2500) << u"-0.25"_s << u"-.25"_s;
    QTest::newRow("smallest step") << qint64(1) << u"0.0001"_s << u".0001"_s;
    QTest::newRow("13-digit JAN") << qint64(49012345678940000) << u"4901234567894"_s << u"4901234567894"_s;
    QTest::newRow("maximum") << std::numeric_limits<qint64>::max() << u"922337203685477.5807"_s
                             << u"922337203685477.5807"_s;
    QTest::newRow("minimum") << std::numeric_limits<qint64>::min() << u"-922337203685477.5808"_s
                             << u"-922337203685477.5808"_s;
}

void TestNumber::plainText()
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

// What goes into a statement must read back as the same value; step through the range
// with a stride that touches every digit position and the limits.
void TestNumber::plainTextParsesBack()
{
    const qint64 step = 7919LL * 104729LL * 1299709LL; // about 1.08e15
    qint64 units = std::numeric_limits<qint64>::min();
    int checked = 0;
    for (;;) {
        for (const qint64 v : {units, units / -3, units / 10007}) {
            const Currency value = Currency::fromUnits(v);
            const auto plain = Currency::parse(value.toPlainText());
            QVERIFY2(plain && *plain == value, qPrintable(value.toPlainText()));
            const auto exported = Currency::parse(value.toExportText());
            QVERIFY2(exported && *exported == value, qPrintable(value.toExportText()));
            ++checked;
        }
        if (units > std::numeric_limits<qint64>::max() - step)
            break;
        units += step;
    }
    const Currency max = Currency::fromUnits(std::numeric_limits<qint64>::max());
    QVERIFY(Currency::parse(max.toPlainText()) == max);
    QVERIFY(checked > 10000);
}

void TestNumber::smallInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("converts");

    QTest::newRow("half to even down") << u"2.5"_s << 2 << true;
    QTest::newRow("half to even up") << u"3.5"_s << 4 << true;
    QTest::newRow("negative half to even") << u"-2.5"_s << -2 << true;
    QTest::newRow("negative half of zero") << u"-0.5"_s << 0 << true;
    QTest::newRow("above half") << u"2.5001"_s << 3 << true;
    QTest::newRow("rounded to four decimals first") << u"2.50001"_s << 2 << true;
    QTest::newRow("full-width with grouping") << u"１，０００"_s << 1000 << true;
    QTest::newRow("maximum") << u"32767"_s << 32767 << true;
    QTest::newRow("rounds down to maximum") << u"32767.4"_s << 32767 << true;
    QTest::newRow("rounds past maximum") << u"32767.5"_s << 0 << false;
    QTest::newRow("above maximum") << u"32768"_s << 0 << false;
    QTest::newRow("minimum") << u"-32768"_s << -32768 << true;
    QTest::newRow("half below minimum rounds to even minimum") << u"-32768.5"_s << -32768 << true;
    QTest::newRow("rounds past minimum") << u"-32768.6"_s << 0 << false;
    QTest::newRow("below minimum") << u"-32769"_s << 0 << false;
    QTest::newRow("currency maximum") << u"922337203685477.5807"_s << 0 << false;
    QTest::newRow("not a number") << u"abc"_s << 0 << false;
    QTest::newRow("empty") << QString() << 0 << false;
}

void TestNumber::smallInt()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(bool, converts);

    const auto result = Merchalog::parseSmallInt(text);
    QCOMPARE(result.has_value(), converts);
    if (converts)
        QCOMPARE(int(*result), value);
}

QTEST_APPLESS_MAIN(TestNumber)
#include "tst_number.moc"
