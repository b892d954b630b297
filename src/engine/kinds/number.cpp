#include "engine/kinds/number.h"

namespace Merchalog {

namespace {

// Users type with the Japanese input method switched on as often as not, so the full-width
// forms of the characters a number is made of count as their ASCII forms.
char16_t narrowed(char16_t c)
{
    if (c >= u'０' && c <= u'９')
        return char16_t(u'0' + (c - u'０'));
    switch (c) {
    case u'＋':
        return u'+';
    case u'－':
    case u'\u2212': // minus sign
        return u'-';
    case u'，':
        return u',';
    case u'．':
        return u'.';
    default:
        return c;
    }
}

bool isYenSign(char16_t c)
{
    return c == u'\\' || c == u'\u00A5' || c == u'\uFFE5';
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The largest magnitude a value may reach: 2^63 ten-thousandths (only as a negative value).
constexpr std::uint64_t magnitudeLimit = std::uint64_t(1) << 63;

} // namespace

std::optional<Currency> Currency::parse(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && QChar::isSpace(text[begin].unicode()))
        ++begin;
    while (end > begin && QChar::isSpace(text[end - 1].unicode()))
        --end;

    auto at = [&](qsizetype i) { return i < end ? narrowed(text[i].unicode()) : u'\0'; };

    // One optional sign and one optional yen sign, in either order: "-￥1,200" as well as
    // "￥-1,200".
    qsizetype i = begin;
    bool negative = false;
    bool haveSign = false;
    bool haveYen = false;
    for (int k = 0; k < 2; ++k) {
        const char16_t c = at(i);
        if (!haveSign && (c == u'+' || c == u'-')) {
            haveSign = true;
            negative = c == u'-';
            ++i;
        } else if (!haveYen && i < end && isYenSign(text[i].unicode())) {
            haveYen = true;
            ++i;
        }
    }

    // The integer part: digits, with single commas between digits. The magnitude is kept
    // in whole units until it certainly exceeds the range, so that leading zeros of any
    // length cost nothing.
    std::uint64_t whole = 0;
    bool tooLarge = false;
    int digits = 0;
    while (isDigit(at(i))) {
        if (whole <= (magnitudeLimit / unitsPerOne) * 10)
            whole = whole * 10 + std::uint64_t(at(i) - u'0');
        else
            tooLarge = true;
        ++digits;
        ++i;
        if (at(i) == u',') {
            if (!isDigit(at(i + 1)))
                return std::nullopt;
            ++i;
        }
    }

    // The fraction: the first four digits are kept, the rest only decide the rounding.
    std::uint64_t fraction = 0;
    int kept = 0;
    int roundingDigit = -1;     // the fifth decimal, -1 when there is none
    bool nonZeroAfter = false;  // any non-zero decimal after the fifth
    if (at(i) == u'.') {
        ++i;
        while (isDigit(at(i))) {
            const int d = at(i) - u'0';
            if (kept < 4) {
                fraction = fraction * 10 + std::uint64_t(d);
                ++kept;
            } else if (roundingDigit < 0) {
                roundingDigit = d;
            } else if (d != 0) {
                nonZeroAfter = true;
            }
            ++digits;
            ++i;
        }
    }
    if (digits == 0 || i != end)
        return std::nullopt;
    if (tooLarge || whole > magnitudeLimit / unitsPerOne)
        return std::nullopt;
    for (; kept < 4; ++kept)
        fraction *= 10;

    std::uint64_t magnitude = whole * unitsPerOne + fraction;
    // Half to even, decided on the digits themselves.
    if (roundingDigit > 5 || (roundingDigit == 5 && (nonZeroAfter || magnitude % 2 == 1)))
        ++magnitude;

    if (negative) {
        if (magnitude > magnitudeLimit)
            return std::nullopt;
        // Negate in unsigned arithmetic: -2^63 has no positive counterpart.
        return fromUnits(std::int64_t(~magnitude + 1));
    }
    if (magnitude > magnitudeLimit - 1)
        return std::nullopt;
    return fromUnits(std::int64_t(magnitude));
}

namespace {

int formatUnits(std::int64_t units, bool zeroBeforePoint, char *out)
{
    const bool negative = units < 0;
    // Negate in unsigned arithmetic so that the minimum formats too.
    const std::uint64_t magnitude = negative ? ~std::uint64_t(units) + 1 : std::uint64_t(units);
    std::uint64_t whole = magnitude / Currency::unitsPerOne;
    std::uint64_t fraction = magnitude % Currency::unitsPerOne;

    char *p = out;
    if (negative)
        *p++ = '-';
    if (whole != 0 || fraction == 0 || zeroBeforePoint) {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = char('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        while (n > 0)
            *p++ = digits[--n];
    }
    if (fraction != 0) {
        *p++ = '.';
        for (std::uint64_t place = Currency::unitsPerOne / 10; fraction != 0; place /= 10) {
            *p++ = char('0' + fraction / place);
            fraction %= place;
        }
    }
    return int(p - out);
}

} // namespace

int Currency::writePlainText(char *buffer) const
{
    return formatUnits(m_units, true, buffer);
}

QString Currency::toPlainText() const
{
    char buffer[maxTextLength];
    return QString::fromLatin1(buffer, formatUnits(m_units, true, buffer));
}

QString Currency::toExportText() const
{
    char buffer[maxTextLength];
    return QString::fromLatin1(buffer, formatUnits(m_units, false, buffer));
}

std::optional<std::int16_t> parseSmallInt(QStringView text)
{
    const auto value = Currency::parse(text);
    if (!value)
        return std::nullopt;
    const std::int64_t units = value->units();
    std::int64_t whole = units / Currency::unitsPerOne;
    const std::int64_t rest = units % Currency::unitsPerOne; // carries the sign of units
    const std::int64_t half = Currency::unitsPerOne / 2;
    if (rest > half || (rest == half && whole % 2 != 0))
        ++whole;
    else if (rest < -half || (rest == -half && whole % 2 != 0))
        --whole;
    if (whole < INT16_MIN || whole > INT16_MAX)
        return std::nullopt;
    return std::int16_t(whole);
}

} // namespace Merchalog
