// Number conversion never crashes, agrees with a plainly written decimal reference, and every
// converted value writes back to text that converts to the same value.

#include "engine/kinds/number.h"
#include "engine/statements/statementtexts.h"

#include "fuzzcheck.h"

#include <cstdint>
#include <optional>
#include <regex>
#include <string>

using namespace Merchalog;

namespace {

// Each character as its ASCII stand-in: digits, signs, comma, point, 'Y' for a yen sign,
// ' ' for a blank and '~' for anything else.
std::string classify(const QString &text)
{
    std::string out;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c >= u'0' && c <= u'9')
            out += char(c);
        else if (c >= 0xFF10 && c <= 0xFF19)
            out += char('0' + (c - 0xFF10));
        else if (c == u'+' || c == 0xFF0B)
            out += '+';
        else if (c == u'-' || c == 0xFF0D || c == 0x2212)
            out += '-';
        else if (c == u',' || c == 0xFF0C)
            out += ',';
        else if (c == u'.' || c == 0xFF0E)
            out += '.';
        else if (c == u'\\' || c == 0x00A5 || c == 0xFFE5)
            out += 'Y';
        else if (qc.isSpace())
            out += ' ';
        else
            out += '~';
    }
    return out;
}

// The value in ten-thousandths by school arithmetic on the digit string, or nullopt.
std::optional<std::int64_t> referenceParse(const QString &text)
{
    // One sign and one yen sign in either order, grouped digits, a point, blanks around.
    static const std::regex number(R"(^ *(?:([+-])Y?|Y([+-])?)?((?:\d+(?:,\d+)*)?)(?:\.(\d*))? *$)");

    const std::string s = classify(text);
    std::smatch m;
    if (!std::regex_match(s, m, number))
        return std::nullopt;
    const bool negative = m[1].str() == "-" || m[2].str() == "-";
    std::string whole = m[3].str();
    const std::string fraction = m[4].str();
    if (whole.empty() && fraction.empty())
        return std::nullopt;
    std::erase(whole, ',');

    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.size() > 16)
        return std::nullopt;
    __int128 magnitude = 0;
    for (const char c : whole)
        magnitude = magnitude * 10 + (c - '0');
    std::string kept = fraction.substr(0, std::min<size_t>(4, fraction.size()));
    kept.resize(4, '0');
    for (const char c : kept)
        magnitude = magnitude * 10 + (c - '0');
    if (fraction.size() > 4) {
        const std::string rest = fraction.substr(4);
        // Compare the dropped digits with one half: "5" followed by zeros is the tie.
        const bool aboveHalf = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
        const bool tie = rest[0] == '5' && !aboveHalf;
        if (aboveHalf || (tie && magnitude % 2 == 1))
            magnitude += 1;
    }
    const __int128 value = negative ? -magnitude : magnitude;
    if (value > INT64_MAX || value < INT64_MIN)
        return std::nullopt;
    return std::int64_t(value);
}

std::optional<std::int16_t> referenceSmallInt(std::int64_t units)
{
    // Floor division, then half to even on the remainder.
    __int128 q = units / 10000;
    __int128 r = units % 10000;
    if (r < 0) {
        q -= 1;
        r += 10000;
    }
    if (r > 5000 || (r == 5000 && q % 2 != 0))
        q += 1;
    if (q < INT16_MIN || q > INT16_MAX)
        return std::nullopt;
    return std::int16_t(q);
}

bool isPlainText(const QString &text, bool zeroBeforePoint)
{
    static const std::regex plain(R"(^-?(0|[1-9]\d*)(\.\d*[1-9])?$)");
    static const std::regex exported(R"(^-?([1-9]\d*(\.\d*[1-9])?|\.\d*[1-9])$|^0$)");
    const std::string s = text.toStdString();
    if (s == "-0" || s.empty())
        return false;
    return std::regex_match(s, zeroBeforePoint ? plain : exported);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    // std::regex recurses per character; longer inputs add nothing here.
    if (size > 512)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto value = Currency::parse(text);
    const auto expected = referenceParse(text);
    FUZZ_CHECK(value.has_value() == expected.has_value(), text);
    if (value) {
        FUZZ_CHECK(value->units() == *expected, text + QStringLiteral(" -> ") + value->toPlainText());

        const QString plain = value->toPlainText();
        FUZZ_CHECK(isPlainText(plain, true), plain);
        FUZZ_CHECK(Currency::parse(plain) == value, plain);
        const QString exported = value->toExportText();
        FUZZ_CHECK(isPlainText(exported, false), exported);
        FUZZ_CHECK(Currency::parse(exported) == value, exported);
        // The plain text is what goes into a statement as a literal.
        FUZZ_CHECK(SqlText::isNumberLiteral(plain), plain);

        FUZZ_CHECK(parseSmallInt(text) == referenceSmallInt(value->units()), text);
    } else {
        FUZZ_CHECK(!parseSmallInt(text), text);
    }

    // Whatever isNumberLiteral lets through converts.
    if (SqlText::isNumberLiteral(text))
        FUZZ_CHECK(Currency::parse(text).has_value(), text);
    return 0;
}
