#include "windows/help/howtosetting.h"

#include "engine/sqlite/writeguard.h"
#include "ui/appfolder.h"

#include <QFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog::HowtoSetting {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The first item of a setting file, taken piece by piece up to the first comma or line end,
// so that an item of any length is read whole in little memory. It is kept only as far as
// its value needs: the sign, the first significant digits (any later nonzero digit as one
// marker digit that sets the value just above them), where the decimal point stands, and
// the exponent. Anything but blanks around one plain decimal number spoils the item.
class FirstItem
{
public:
    // Takes the next bytes of the file; false once the item has ended or is spoilt.
    bool feed(QByteArrayView bytes)
    {
        for (const char c : bytes) {
            if (c == ',' || c == '\r' || c == '\n')
                return false;
            if (!take(c)) {
                m_spoilt = true;
                return false;
            }
        }
        return true;
    }

    std::optional<double> value() const
    {
        const bool complete = m_part == Part::Integer || m_part == Part::Fraction || m_part == Part::Exponent
            || m_part == Part::Trail;
        if (m_spoilt || !m_sawDigit || !complete || (m_sawExponent && !m_sawExponentDigit))
            return std::nullopt;
        if (m_digits.isEmpty())
            return m_negative ? -0.0 : 0.0;
        // 0.DIGITS times ten to the power of the point's place plus the exponent.
        const qint64 exponent = std::clamp(m_pointPlace + (m_negativeExponent ? -m_exponent : m_exponent),
                                           -maxExponent, maxExponent);
        const QByteArray text = (m_negative ? "-0." : "0.") + m_digits + (m_sticky ? "1" : "") + 'e'
            + QByteArray::number(exponent);
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return value;
    }

private:
    enum class Part { Lead, Sign, Integer, Fraction, ExponentSign, Exponent, Trail };

    // More digits than set a double's value, and an exponent far beyond its range.
    static constexpr qsizetype keptDigits = 800;
    static constexpr qint64 maxExponent = 1'000'000'000;

    void digit(char c, bool integerPart)
    {
        m_sawDigit = true;
        if (m_digits.isEmpty() && c == '0') {
            if (!integerPart)
                --m_pointPlace;
            return;
        }
        if (integerPart)
            ++m_pointPlace;
        if (m_digits.size() < keptDigits)
            m_digits.append(c);
        else if (c != '0')
            m_sticky = true;
    }

    bool take(char c)
    {
        const bool isDigit = c >= '0' && c <= '9';
        switch (m_part) {
        case Part::Lead:
            if (isBlank(c))
                return true;
            if (c == '+' || c == '-') {
                m_negative = c == '-';
                m_part = Part::Sign;
                return true;
            }
            [[fallthrough]];
        case Part::Sign:
            m_part = Part::Integer;
            [[fallthrough]];
        case Part::Integer:
            if (isDigit) {
                digit(c, true);
                return true;
            }
            if (c == '.') {
                m_part = Part::Fraction;
                return true;
            }
            break;
        case Part::Fraction:
            if (isDigit) {
                digit(c, false);
                return true;
            }
            break;
        case Part::ExponentSign:
            m_part = Part::Exponent;
            if (c == '+' || c == '-') {
                m_negativeExponent = c == '-';
                return true;
            }
            [[fallthrough]];
        case Part::Exponent:
            if (isDigit) {
                m_sawExponentDigit = true;
                m_exponent = std::min(m_exponent * 10 + (c - '0'), maxExponent);
                return true;
            }
            if (!isBlank(c) || !m_sawExponentDigit)
                return false;
            m_part = Part::Trail;
            return true;
        case Part::Trail:
            return isBlank(c);
        }
        // After the digits of the integer or fraction part.
        if ((c == 'e' || c == 'E') && m_sawDigit) {
            m_sawExponent = true;
            m_part = Part::ExponentSign;
            return true;
        }
        if (isBlank(c) && m_sawDigit) {
            m_part = Part::Trail;
            return true;
        }
        return false;
    }

    Part m_part = Part::Lead;
    bool m_negative = false;
    bool m_sawDigit = false;
    bool m_sawExponent = false;
    bool m_sawExponentDigit = false;
    bool m_negativeExponent = false;
    bool m_sticky = false;
    bool m_spoilt = false;
    QByteArray m_digits;
    qint64 m_pointPlace = 0;
    qint64 m_exponent = 0;
};

} // namespace

QString filePath()
{
    return AppFolder::writableFilePath(u"howto.num"_s);
}

std::optional<double> parseValue(QByteArrayView content)
{
    FirstItem item;
    item.feed(content);
    return item.value();
}

std::optional<double> readValue()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    FirstItem item;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    while (true) {
        const qint64 read = file.read(chunk.data(), chunk.size());
        if (read < 0)
            return std::nullopt;
        if (read == 0 || !item.feed(QByteArrayView(chunk.constData(), read)))
            return item.value();
    }
}

bool guideShownAtStart()
{
    const auto value = readValue();
    return value && *value == 0.0;
}

bool switchGuideOff()
{
    // Written in place, like any text file the program replaces: a writable howto.num in a
    // folder that is otherwise read-only can still be switched off. A howto.num that is a
    // link to an open catalogue is left alone.
    if (!openCatalogueAt(filePath()).isEmpty())
        return false;
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write("1\r\n") == 3;
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace Merchalog::HowtoSetting
