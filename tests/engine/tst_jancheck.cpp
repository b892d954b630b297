#include "engine/kinds/jancheck.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class TestJanCheck final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checkDigit_data();
    void checkDigit();
    void nothingToCheck_data();
    void nothingToCheck();
    void note();
    void digitsOnly();
};

void TestJanCheck::checkDigit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("valid");

    QTest::newRow("JAN-13 right") << u"4901234567894"_s << u"4901234567894"_s << 4 << true;
    QTest::newRow("JAN-13 wrong") << u"4901234567890"_s << u"4901234567890"_s << 4 << false;
    QTest::newRow("JAN-8 right") << u"45123450"_s << u"45123450"_s << 0 << true;
    QTest::newRow("JAN-8 wrong") << u"49021029"_s << u"49021029"_s << 8 << false;
    // The stored number has lost its leading zeros.
    QTest::newRow("short, padded to 8") << u"1236"_s << u"00001236"_s << 6 << true;
    QTest::newRow("zero") << u"0"_s << u"00000000"_s << 0 << true;
    QTest::newRow("9 digits, padded to 13") << u"123456784"_s << u"0000123456784"_s << 4 << true;
    QTest::newRow("12 digits, padded to 13") << u"123456789012"_s << u"0123456789012"_s << 2 << true;
    // Whatever the number conversion accepts is checked as the number it stores.
    QTest::newRow("grouped") << u"4,901,234,567,894"_s << u"4901234567894"_s << 4 << true;
    QTest::newRow("full-width digits") << u"４９０１２３４５６７８９４"_s << u"4901234567894"_s << 4 << true;
    QTest::newRow("whole decimal") << u"45123450.00"_s << u"45123450"_s << 0 << true;
}

void TestJanCheck::checkDigit()
{
    QFETCH(QString, text);
    QFETCH(QString, code);
    QFETCH(int, expected);
    QFETCH(bool, valid);

    const auto check = checkJanDigit(text);
    QVERIFY(check);
    QCOMPARE(check->code, code);
    QCOMPARE(check->expected, expected);
    QCOMPARE(check->digit, code.back().digitValue());
    QCOMPARE(check->isValid(), valid);
}

void TestJanCheck::nothingToCheck_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << u"49O1234567894"_s;
    QTest::newRow("wildcard") << u"4901*"_s;
    QTest::newRow("reserved -99") << u"-99"_s;
    QTest::newRow("negative JAN") << u"-4901234567894"_s;
    QTest::newRow("fraction") << u"4901234567894.5"_s;
    QTest::newRow("14 digits") << u"14901234567894"_s;
}

void TestJanCheck::nothingToCheck()
{
    QFETCH(QString, text);
    QVERIFY(!checkJanDigit(text));
    QCOMPARE(janCheckNote(text), QString());
}

void TestJanCheck::note()
{
    QCOMPARE(janCheckNote(u"4901234567894"), u"チェックデジット正常"_s);
    QCOMPARE(janCheckNote(u"4901234567890"), u"チェックデジット不正 (正: 4)"_s);
    QCOMPARE(janCheckNote(u"49021020"), u"チェックデジット不正 (正: 8)"_s);
}

void TestJanCheck::digitsOnly()
{
    QCOMPARE(janCheckDigitFor(u"490123456789"), 4);
    QCOMPARE(janCheckDigitFor(u"4512345"), 0);
    QCOMPARE(janCheckDigitFor(u"49012x456789"), -1);
    QCOMPARE(janCheckDigitFor(u"４９０"), -1);
}

QTEST_APPLESS_MAIN(TestJanCheck)
#include "tst_jancheck.moc"
