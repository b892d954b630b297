#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace Merchalog {

// How the bytes of a CSV file are text.
enum class TextEncoding {
    Utf8,    // no byte-order mark, and strict UTF-8 throughout
    Utf8Bom, // begins with EF BB BF
    Utf16LE, // begins with FF FE
    Utf16BE, // begins with FE FF
    Cp932,   // Shift_JIS with Microsoft's code page 932 table, as the CSV export writes
};

// The encoding's name as the import shows it ("Shift_JIS (CP932)", "UTF-8 (BOM付き)" ...).
QString encodingName(TextEncoding encoding);

// The encoding a byte-order mark at the start of a file stands for, and the mark's length.
struct ByteOrderMark
{
    TextEncoding encoding;
    int length;
};
std::optional<ByteOrderMark> byteOrderMark(QByteArrayView start);
// The mark a file in this encoding begins with (empty for UTF-8 without a mark and CP932).
QByteArray byteOrderMarkBytes(TextEncoding encoding);

// Turns bytes into text piece by piece: a character split between two pieces is completed by
// the next call. Bytes that are not text in the encoding (a malformed or unassigned sequence,
// an unpaired surrogate, a character cut off at the end) become U+FFFD, and the position of
// each such U+FFFD in the output is recorded, so that no replacement goes unnoticed.
class TextDecoder final
{
public:
    explicit TextDecoder(TextEncoding encoding);

    // Appends the text of bytes to out, and the positions in out of undecodable places to invalid.
    void decode(QByteArrayView bytes, QString &out, std::vector<qsizetype> &invalid);
    // After the last piece: a character left unfinished is undecodable.
    void finish(QString &out, std::vector<qsizetype> &invalid);

private:
    char16_t *decodeUtf8(QByteArrayView bytes, char16_t *out, const char16_t *begin, std::vector<qsizetype> &invalid);
    char16_t *decodeUtf16(QByteArrayView bytes, char16_t *out, const char16_t *begin, std::vector<qsizetype> &invalid);
    char16_t *decodeCp932(QByteArrayView bytes, char16_t *out, const char16_t *begin, std::vector<qsizetype> &invalid);

    TextEncoding m_encoding;
    // A character begun in an earlier piece: UTF-8 bytes still needed and the code point so far
    // with the range its next byte must lie in; the lead byte of CP932; the first byte of a
    // UTF-16 unit and a high surrogate waiting for its low one.
    int m_needed = 0;
    char32_t m_codePoint = 0;
    quint8 m_lower = 0x80;
    quint8 m_upper = 0xBF;
    int m_pendingByte = -1;
    char16_t m_highSurrogate = 0;
};

// Appends text in the encoding. Code page 932 goes through appendShiftJis; returns the number
// of characters it had to replace (always 0 for the Unicode encodings).
qsizetype appendEncoded(QStringView text, TextEncoding encoding, QByteArray &out);

// Appends one CSV record in the encoding: every field between double quotes with its quotes
// doubled, separated by commas, ending in CR LF. Reading the record back gives the same fields.
// Returns the number of characters replaced (see appendEncoded).
qsizetype appendCsvRecord(const QStringList &fields, TextEncoding encoding, QByteArray &out);

} // namespace Merchalog
