#pragma once

#include "engine/csv/csvtext.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

class QIODevice;

namespace Merchalog {

// What is wrong with a record as read, apart from its fields.
enum class CsvProblem {
    None,
    BadQuote,    // text after a closing quote, or a quote left open at the end of the file
    TooLong,     // more text or more fields than a record may hold; the rest was dropped
    Undecodable, // bytes that are not text in the file's encoding
};

// One record (line) of a CSV file.
struct CsvRecord
{
    QStringList fields;       // at most CsvReader::maxFields; an unquoted #NULL# reads as empty
    qsizetype fieldCount = 0; // the fields the record has, also beyond maxFields
    qint64 row = 0;           // its number in the file, 1 for the first (a spreadsheet's row)
    CsvProblem problem = CsvProblem::None;
};

// Reads a CSV file record by record without holding it: RFC 4180 fields (quotes, doubled
// quotes, commas and line breaks inside quoted fields), records ending in CR LF, LF or CR,
// the last one with or without its line end. The encoding is decided first: a byte-order mark
// decides; otherwise the file is UTF-8 when it is strict UTF-8 throughout, else code page 932.
class CsvReader final
{
public:
    // A record keeps at most this much text (UTF-16 units) and this many fields; the rest of a
    // longer one is read past and the record is marked TooLong, so memory stays bounded
    // whatever the file holds.
    static constexpr qsizetype maxRecordLength = 4 * 1024 * 1024;
    static constexpr qsizetype maxFields = 1024;

    // device must be open for reading and not sequential.
    explicit CsvReader(QIODevice *device);

    // Decides the encoding (reading the file through once when it has no byte-order mark) and
    // goes to the first record. Returns false, with errorString(), when the device cannot be read.
    bool start();
    TextEncoding encoding() const { return m_encoding; }

    // Reads the next record. Returns false at the end of the file, and when reading failed
    // (errorString() then says why).
    bool next(CsvRecord &record);

    // How far the reading has got, in bytes, and the file's size: for progress.
    qint64 position() const;
    qint64 size() const;
    QString errorString() const { return m_errorString; }

private:
    bool fill();
    qint64 readChunk();
    bool detectEncoding();

    QIODevice *m_device;
    TextEncoding m_encoding = TextEncoding::Utf8;
    std::unique_ptr<TextDecoder> m_decoder;
    QByteArray m_chunk;         // bytes as read
    QString m_buffer;           // decoded text not yet read
    qsizetype m_pos = 0;        // next character of m_buffer
    qint64 m_bufferStart = 0;   // position of m_buffer's first character in the whole text
    std::deque<qint64> m_invalid; // positions of undecodable places in the whole text
    bool m_atEnd = false;
    bool m_afterCr = false;     // the last record ended in CR: an LF right after belongs to it
    qint64 m_row = 0;
    QString m_errorString;
};

} // namespace Merchalog
