#include "engine/files/csvformat.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Per BMP code point: the code page 932 bytes to write (one byte below 0x100, otherwise
// lead << 8 | trail), plus replacedFlag when those bytes read back as another character (a
// best fit); 0 when there is nothing to write but "?". Built once from the platform's
// converter, deciding by round trip: the table also holds one-way mappings (U+F86F is
// written as 87 82, which reads back as U+2116), and those count as replaced too.
using Cp932Table = std::array<quint32, 0x10000>;
constexpr quint32 replacedFlag = 0x10000;

// Characters that code page 932 lacks but that have a customary stand-in: mostly the JIS
// forms that the Microsoft table replaced by their full-width relatives.
struct BestFit
{
    char16_t from;
    quint16 to;
};
constexpr BestFit bestFits[] = {
    {0x00A2, 0x8191}, // CENT SIGN -> FULLWIDTH CENT SIGN
    {0x00A3, 0x8192}, // POUND SIGN -> FULLWIDTH POUND SIGN
    {0x00A5, 0x005C}, // YEN SIGN -> the yen/backslash byte
    {0x00A6, 0xFA55}, // BROKEN BAR -> FULLWIDTH BROKEN BAR
    {0x00AC, 0x81CA}, // NOT SIGN -> FULLWIDTH NOT SIGN
    {0x2014, 0x815C}, // EM DASH -> HORIZONTAL BAR
    {0x2016, 0x8161}, // DOUBLE VERTICAL LINE -> PARALLEL TO
    {0x203E, 0x007E}, // OVERLINE -> the overline/tilde byte
    {0x2212, 0x817C}, // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    {0x301C, 0x8160}, // WAVE DASH -> FULLWIDTH TILDE
};

void appendCode(quint16 code, QByteArray &out)
{
    if (code > 0xFF)
        out.append(char(code >> 8));
    out.append(char(code & 0xFF));
}

std::unique_ptr<Cp932Table> buildTable()
{
    auto table = std::make_unique<Cp932Table>();
    table->fill(0);
    for (char16_t c = 0; c < 0x80; ++c)
        (*table)[c] = c;
    QStringEncoder encoder("windows-31j");
    QStringDecoder decoder("windows-31j");
    if (!encoder.isValid() || !decoder.isValid())
        qFatal("The Shift_JIS (windows-31j) converter is missing from this Qt build.");
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue;
        const QChar ch{char16_t(c)};
        const QByteArray bytes = encoder.encode(QStringView(&ch, 1));
        // The converter writes FC FC for what it cannot map (no character has that code) and
        // drops some invisible characters altogether.
        quint32 code = 0;
        if (bytes.size() == 1)
            code = quint8(bytes.at(0));
        else if (bytes.size() == 2 && bytes != "\xFC\xFC")
            code = quint16(quint8(bytes.at(0)) << 8 | quint8(bytes.at(1)));
        if (code == 0) {
            const auto fit = std::find_if(std::begin(bestFits), std::end(bestFits),
                                          [c](const BestFit &f) { return f.from == c; });
            if (fit == std::end(bestFits))
                continue;
            code = fit->to;
        }
        QByteArray written;
        appendCode(quint16(code), written);
        const QString back = decoder.decode(written);
        if (back.size() != 1 || back.front() != ch)
            code |= replacedFlag;
        (*table)[c] = code;
    }
    return table;
}

const Cp932Table &cp932Table()
{
    static const std::unique_ptr<Cp932Table> table = buildTable();
    return *table;
}



constexpr char nullItem[] = "#NULL#";

} // namespace

qsizetype appendShiftJis(QStringView text, QByteArray &out)
{
    const Cp932Table &table = cp932Table();
    qsizetype replaced = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        if (QChar::isSurrogate(c)) {
            // Nothing outside the BMP is in the code page: one "?" per character.
            if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode()))
                ++i;
            out.append('?');
            ++replaced;
            continue;
        }
        const quint32 entry = table[c];
        if (entry == 0) {
            out.append('?');
            ++replaced;
            continue;
        }
        appendCode(quint16(entry), out);
        replaced += entry >> 16;
    }
    return replaced;
}

void appendExportNumber(Currency value, QByteArray &out)
{
    const std::int64_t units = value.units();
    if (units == 0) {
        out.append('0');
        return;
    }
    // Work on the magnitude as unsigned so that the most negative value is representable.
    std::uint64_t magnitude = units < 0 ? 0 - std::uint64_t(units) : std::uint64_t(units);
    std::uint64_t whole = magnitude / Currency::unitsPerOne;
    std::uint64_t fraction = magnitude % Currency::unitsPerOne;

    char buffer[32];
    char *end = buffer + sizeof buffer;
    char *p = end;
    if (fraction != 0) {
        int digits = 4;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        for (int i = 0; i < digits; ++i) {
            *--p = char('0' + fraction % 10);
            fraction /= 10;
        }
        *--p = '.';
    }
    while (whole != 0) {
        *--p = char('0' + whole % 10);
        whole /= 10;
    }
    if (units < 0)
        *--p = '-';
    out.append(p, end - p);
}

ProductCsvFormatter::ProductCsvFormatter(const std::array<int, 11> &fieldIndex)
    : m_fieldIndex(fieldIndex)
{
}

void ProductCsvFormatter::appendHeader(QByteArray &out)
{
    // Eleven quoted titles.
    for (std::size_t i = 0; i < productCsvCaptions.size(); ++i) {
        if (i > 0)
            out.append(',');
        out.append('"');
        appendShiftJis(productCsvCaptions[i], out);
        out.append('"');
    }
    out.append("\r\n", 2);
}

void ProductCsvFormatter::appendTextItem(QStringView text, QByteArray &out)
{
    out.append('"');
    // A quote inside the text is doubled, so that readers take the item whole.
    qsizetype start = 0;
    for (qsizetype i = text.indexOf(u'"'); i >= 0; i = text.indexOf(u'"', i + 1)) {
        m_replaced += appendShiftJis(text.sliced(start, i + 1 - start), out);
        out.append('"');
        start = i + 1;
    }
    m_replaced += appendShiftJis(text.sliced(start), out);
    out.append('"');
}

void ProductCsvFormatter::appendRow(const Row &row, QByteArray &out)
{
    static const QMetaType currencyType = QMetaType::fromType<Currency>();
    for (std::size_t i = 0; i < m_fieldIndex.size(); ++i) {
        if (i > 0)
            out.append(',');
        const int column = m_fieldIndex[i];
        if (column < 0 || column >= row.size()) {
            out.append(nullItem, sizeof nullItem - 1);
            continue;
        }
        const QVariant &value = row.at(column);
        if (value.isNull()) {
            out.append(nullItem, sizeof nullItem - 1);
        } else if (value.metaType() == currencyType) {
            appendExportNumber(*static_cast<const Currency *>(value.constData()), out);
        } else if (value.typeId() == QMetaType::QString) {
            appendTextItem(*static_cast<const QString *>(value.constData()), out);
        } else if (value.typeId() == QMetaType::Int) {
            out.append(QByteArray::number(value.toInt()));
        } else {
            // Anything else the engine might hand over is written as its plain text.
            m_replaced += appendShiftJis(value.toString(), out);
        }
    }
    out.append("\r\n", 2);
}

} // namespace Merchalog
