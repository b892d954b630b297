#pragma once

#include <QMetaType>
#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>

namespace Merchalog {

// A fixed-point decimal with four fractional digits, held exactly as a signed 64-bit count
// of ten-thousandths: the kind of every price, code and JAN number in the catalogue.
class Currency final
{
public:
    static constexpr std::int64_t unitsPerOne = 10000;

    constexpr Currency() = default;
    static constexpr Currency fromUnits(std::int64_t units) { Currency c; c.m_units = units; return c; }
    static constexpr std::optional<Currency> fromInteger(std::int64_t value)
    {
        if (value > INT64_MAX / unitsPerOne || value < INT64_MIN / unitsPerOne)
            return std::nullopt;
        return fromUnits(value * unitsPerOne);
    }

    // Converts typed text: surrounding blanks, a sign, "," grouping among the digits, a decimal
    // point; more than four decimals are rounded half to even. Full-width digits, signs, "，",
    // "．" and the full-width space count as their ASCII forms, and one leading yen sign
    // ("\", "¥", "￥") is allowed. Empty text, blanks only, letters, wildcards and values
    // outside the range give nullopt.
    static std::optional<Currency> parse(QStringView text);

    constexpr std::int64_t units() const { return m_units; }
    constexpr bool isWhole() const { return m_units % unitsPerOne == 0; }

    // Plain decimal text as it goes into a statement: "-" for negatives, no grouping, no
    // leading or trailing zeros, a point only with a fraction ("12.5", "1980", "0.5", "0").
    QString toPlainText() const;

    // The plain text written into a buffer of at least maxTextLength bytes, without
    // allocating (for SQL functions called once per row); returns the length.
    static constexpr int maxTextLength = 21; // "-922337203685477.5808"
    int writePlainText(char *buffer) const;

    // The same text, used wherever a number is shown (grid, bound fields).
    QString toDisplayText() const { return toPlainText(); }

    // The export form: like the plain text but without the zero before the point (".5", "-.25").
    QString toExportText() const;

    friend constexpr auto operator<=>(Currency, Currency) = default;

private:
    std::int64_t m_units = 0;
};

// Converts typed text to a small integer: the number parse above, rounded half to even, then
// the range -32768..32767 (2.5 gives 2, 3.5 gives 4, 32767.5 and 40000 fail).
std::optional<std::int16_t> parseSmallInt(QStringView text);

} // namespace Merchalog

Q_DECLARE_METATYPE(Merchalog::Currency)
