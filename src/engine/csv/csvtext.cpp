#include "engine/csv/csvtext.h"

#include "engine/files/csvformat.h"

#include <QStringDecoder>

#include <array>
#include <memory>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

constexpr char16_t replacement = 0xFFFD;

// Code page 932 as bytes to characters. Single bytes: the character, or one of the two marks
// below. Pairs: indexed by lead and trail byte, undecodable where the table has no character.
constexpr char16_t leadByte = 0xFFFF;
constexpr char16_t undecodable = 0xFFFE;

struct Cp932Decoding
{
    std::array<char16_t, 256> single;
    std::array<char16_t, 64 * 256> pairs; // lead 81..9F as 0..1F, E0..FC as 20..3C

    static int leadIndex(quint8 lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 0x1F; }
    static bool isLead(quint8 b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
    static bool isTrail(quint8 b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
};

// Built once from the platform's converter (Microsoft's table, as the export's encoder is),
// except that the ASCII range stays ASCII: the platform's decoder swaps three control codes
// the IBM way, which the export never writes.
std::unique_ptr<Cp932Decoding> buildCp932Decoding()
{
    auto table = std::make_unique<Cp932Decoding>();
    table->single.fill(undecodable);
    table->pairs.fill(undecodable);
    for (int b = 0; b < 0x80; ++b)
        table->single[std::size_t(b)] = char16_t(b);
    QStringDecoder decoder("windows-31j");
    if (!decoder.isValid())
        qFatal("The Shift_JIS (windows-31j) converter is missing from this Qt build.");
    // The converter writes U+001A for what it cannot decode; no byte sequence of the table
    // stands for that character.
    auto decodeOne = [&decoder](QByteArrayView bytes) -> char16_t {
        const QString text = decoder.decode(bytes);
        return text.size() == 1 && text.at(0) != QChar(0x1A) ? text.at(0).unicode() : undecodable;
    };
    for (int b = 0x80; b < 0x100; ++b) {
        const char byte = char(b);
        table->single[std::size_t(b)] = Cp932Decoding::isLead(quint8(b)) ? leadByte : decodeOne(QByteArrayView(&byte, 1));
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!Cp932Decoding::isLead(quint8(lead)))
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (!Cp932Decoding::isTrail(quint8(trail)))
                continue;
            const char pair[2] = {char(lead), char(trail)};
            table->pairs[std::size_t(Cp932Decoding::leadIndex(quint8(lead)) * 256 + trail)] =
                decodeOne(QByteArrayView(pair, 2));
        }
    }
    return table;
}

const Cp932Decoding &cp932Decoding()
{
    static const std::unique_ptr<Cp932Decoding> table = buildCp932Decoding();
    return *table;
}

char16_t *appendInvalid(char16_t *out, const char16_t *begin, std::vector<qsizetype> &invalid)
{
    invalid.push_back(out - begin);
    *out = replacement;
    return out + 1;
}

} // namespace

QString encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return u"UTF-8"_s;
    case TextEncoding::Utf8Bom:
        return u"UTF-8（BOM付き）"_s;
    case TextEncoding::Utf16LE:
        return u"UTF-16LE（BOM付き）"_s;
    case TextEncoding::Utf16BE:
        return u"UTF-16BE（BOM付き）"_s;
    case TextEncoding::Cp932:
        return u"Shift_JIS（CP932）"_s;
    }
    return {};
}

std::optional<ByteOrderMark> byteOrderMark(QByteArrayView start)
{
    if (start.startsWith("\xEF\xBB\xBF"))
        return ByteOrderMark{TextEncoding::Utf8Bom, 3};
    if (start.startsWith("\xFF\xFE"))
        return ByteOrderMark{TextEncoding::Utf16LE, 2};
    if (start.startsWith("\xFE\xFF"))
        return ByteOrderMark{TextEncoding::Utf16BE, 2};
    return std::nullopt;
}

QByteArray byteOrderMarkBytes(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8Bom:
        return QByteArrayLiteral("\xEF\xBB\xBF");
    case TextEncoding::Utf16LE:
        return QByteArrayLiteral("\xFF\xFE");
    case TextEncoding::Utf16BE:
        return QByteArrayLiteral("\xFE\xFF");
    case TextEncoding::Utf8:
    case TextEncoding::Cp932:
        break;
    }
    return {};
}

TextDecoder::TextDecoder(TextEncoding encoding)
    : m_encoding(encoding)
{
    if (encoding == TextEncoding::Cp932)
        cp932Decoding();
}

void TextDecoder::decode(QByteArrayView bytes, QString &out, std::vector<qsizetype> &invalid)
{
    // No encoding gives more than one UTF-16 unit per byte, plus one for what a previous piece left.
    const qsizetype start = out.size();
    out.resize(start + bytes.size() + 1);
    char16_t *begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *end = begin + start;
    switch (m_encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom:
        end = decodeUtf8(bytes, end, begin, invalid);
        break;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        end = decodeUtf16(bytes, end, begin, invalid);
        break;
    case TextEncoding::Cp932:
        end = decodeCp932(bytes, end, begin, invalid);
        break;
    }
    out.truncate(end - begin);
}

void TextDecoder::finish(QString &out, std::vector<qsizetype> &invalid)
{
    if (m_needed > 0 || m_pendingByte >= 0 || m_highSurrogate != 0) {
        invalid.push_back(out.size());
        out.append(QChar(replacement));
    }
    m_needed = 0;
    m_pendingByte = -1;
    m_highSurrogate = 0;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing beyond U+10FFFF. A malformed
// sequence becomes one U+FFFD for its longest valid beginning, and the byte that broke it
// is read again as the start of the next character.
char16_t *TextDecoder::decodeUtf8(QByteArrayView bytes, char16_t *out, const char16_t *begin,
                                  std::vector<qsizetype> &invalid)
{
    const auto *p = reinterpret_cast<const quint8 *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const quint8 b = *p;
        if (m_needed == 0) {
            if (b < 0x80) {
                *out++ = b;
                ++p;
                continue;
            }
            ++p;
            m_lower = 0x80;
            m_upper = 0xBF;
            if (b >= 0xC2 && b <= 0xDF) {
                m_needed = 1;
                m_codePoint = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                m_needed = 2;
                m_codePoint = b & 0x0F;
                if (b == 0xE0)
                    m_lower = 0xA0;
                else if (b == 0xED)
                    m_upper = 0x9F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                m_needed = 3;
                m_codePoint = b & 0x07;
                if (b == 0xF0)
                    m_lower = 0x90;
                else if (b == 0xF4)
                    m_upper = 0x8F;
            } else {
                out = appendInvalid(out, begin, invalid);
            }
            continue;
        }
        if (b < m_lower || b > m_upper) {
            m_needed = 0;
            out = appendInvalid(out, begin, invalid);
            continue; // the same byte starts the next character
        }
        ++p;
        m_lower = 0x80;
        m_upper = 0xBF;
        m_codePoint = (m_codePoint << 6) | (b & 0x3F);
        if (--m_needed == 0) {
            if (m_codePoint >= 0x10000) {
                *out++ = QChar::highSurrogate(m_codePoint);
                *out++ = QChar::lowSurrogate(m_codePoint);
            } else {
                *out++ = char16_t(m_codePoint);
            }
        }
    }
    return out;
}

char16_t *TextDecoder::decodeUtf16(QByteArrayView bytes, char16_t *out, const char16_t *begin,
                                   std::vector<qsizetype> &invalid)
{
    const bool littleEndian = m_encoding == TextEncoding::Utf16LE;
    for (const char byte : bytes) {
        if (m_pendingByte < 0) {
            m_pendingByte = quint8(byte);
            continue;
        }
        const quint8 first = quint8(m_pendingByte);
        const quint8 second = quint8(byte);
        m_pendingByte = -1;
        const char16_t unit = littleEndian ? char16_t(second << 8 | first) : char16_t(first << 8 | second);
        if (m_highSurrogate != 0) {
            if (QChar::isLowSurrogate(unit)) {
                *out++ = m_highSurrogate;
                *out++ = unit;
                m_highSurrogate = 0;
                continue;
            }
            m_highSurrogate = 0;
            out = appendInvalid(out, begin, invalid);
        }
        if (QChar::isHighSurrogate(unit))
            m_highSurrogate = unit;
        else if (QChar::isLowSurrogate(unit))
            out = appendInvalid(out, begin, invalid);
        else
            *out++ = unit;
    }
    return out;
}

char16_t *TextDecoder::decodeCp932(QByteArrayView bytes, char16_t *out, const char16_t *begin,
                                   std::vector<qsizetype> &invalid)
{
    const Cp932Decoding &table = cp932Decoding();
    const auto *p = reinterpret_cast<const quint8 *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const quint8 b = *p;
        if (m_pendingByte >= 0) {
            const quint8 lead = quint8(m_pendingByte);
            m_pendingByte = -1;
            if (!Cp932Decoding::isTrail(b)) {
                // A lead byte without its trail byte; the byte is read again on its own.
                out = appendInvalid(out, begin, invalid);
                continue;
            }
            ++p;
            const char16_t c = table.pairs[std::size_t(Cp932Decoding::leadIndex(lead) * 256 + b)];
            if (c == undecodable)
                out = appendInvalid(out, begin, invalid);
            else
                *out++ = c;
            continue;
        }
        ++p;
        const char16_t c = table.single[b];
        if (c == leadByte)
            m_pendingByte = b;
        else if (c == undecodable)
            out = appendInvalid(out, begin, invalid);
        else
            *out++ = c;
    }
    return out;
}

qsizetype appendEncoded(QStringView text, TextEncoding encoding, QByteArray &out)
{
    switch (encoding) {
    case TextEncoding::Cp932:
        return appendShiftJis(text, out);
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom:
        out.append(text.toUtf8());
        return 0;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
        const bool littleEndian = encoding == TextEncoding::Utf16LE;
        const qsizetype start = out.size();
        out.resize(start + text.size() * 2);
        char *p = out.data() + start;
        for (const QChar c : text) {
            const char16_t unit = c.unicode();
            *p++ = char(littleEndian ? unit & 0xFF : unit >> 8);
            *p++ = char(littleEndian ? unit >> 8 : unit & 0xFF);
        }
        return 0;
    }
    }
    return 0;
}

qsizetype appendCsvRecord(const QStringList &fields, TextEncoding encoding, QByteArray &out)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u',';
        line += u'"';
        QString field = fields.at(i);
        line += field.replace(u'"', u"\"\""_s);
        line += u'"';
    }
    line += u"\r\n"_s;
    return appendEncoded(line, encoding, out);
}

} // namespace Merchalog
