#pragma once

// The stream in which the Access reader (a child process of the program's own) hands what it
// read to the program: records of a tag byte, a 32-bit little-endian length and that many
// bytes. Lengths are checked before anything is taken, so a reader that dies mid-record or
// writes nonsense is found out, never believed.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace Merchalog::JetStream {

// The first bytes of every stream.
inline constexpr char magic[] = "MERCHALOG-JET-1\n";
inline constexpr int magicLength = int(sizeof magic) - 1;

enum class Tag : char {
    Version = 'V', // one byte: 3 or 4 (Jet 3, Jet 4 or later)
    TableName = 'N', // a user table of the file, named in UTF-8 (every one, before any table)
    Table = 'T',   // a table being read: 32-bit row count its definition gives, then its name
    Column = 'C',  // a column of that table: type code, then its name
    Row = 'R',     // a row: one value a column (see below)
    DamagedRow = 'B', // a row that cannot be taken apart: the reason in Japanese, UTF-8
    TableEnd = 'Z', // the table is complete: 32-bit count of rows sent
    Failure = 'E', // the file cannot be read: a reason in Japanese, UTF-8; nothing follows
    End = 'X',     // the stream is complete
};

// How a value starts inside a Row record. A Value or Error is followed by a 32-bit length and
// the bytes: for Text and Memo the text in UTF-8, for numbers the stored little-endian bytes,
// for an Error the reason.
enum class ValueState : std::uint8_t { Null = 0, Value = 1, Error = 2, Skipped = 3 };

// The longest record the program accepts; a longer one means a broken stream.
inline constexpr std::uint32_t maxRecord = 64u << 20;

void appendUint32(QByteArray &bytes, std::uint32_t value);
std::uint32_t uint32At(const char *bytes);

// Appends one record.
void appendRecord(QByteArray &stream, Tag tag, const QByteArray &payload);

// One record taken from the front of a buffer.
struct Record
{
    Tag tag;
    QByteArray payload;
};

// Reads the record at *position in `bytes` when they hold all of it, and moves *position past
// it. Returns nullopt when more bytes are needed; sets *broken when the bytes there cannot be
// a record (unknown tag, too long).
std::optional<Record> readRecord(const QByteArray &bytes, qsizetype *position, bool *broken);

} // namespace Merchalog::JetStream
