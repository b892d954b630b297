#pragma once

// Writes Access database files (Jet 3 of the Access 97 era, Jet 4 of Access 2000 to 2003)
// holding plain tables, so that the program's Access import can be tried on files made here:
// there is no Access on the machines that build and test the program.
//
// What it writes is the least a Jet file needs to be read: the header page, the system table
// MSysObjects naming the tables, one definition page per table, data pages, long-value pages
// for Memo fields and usage maps. It writes no indexes, relationships or properties.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <set>
#include <variant>
#include <vector>

namespace Merchalog::JetWriter {

enum class Version { Jet3, Jet4 };

// Column types by their code in a table definition.
enum class Type : std::uint8_t {
    Byte = 0x02,     // unsigned 8-bit
    Integer = 0x03,  // signed 16-bit
    Long = 0x04,     // signed 32-bit
    Currency = 0x05, // signed 64-bit count of ten-thousandths
    Single = 0x06,   // IEEE 754 32-bit
    Double = 0x07,   // IEEE 754 64-bit
    DateTime = 0x08, // days since 1899-12-30 as a Double
    Text = 0x0A,     // up to 255 characters
    Ole = 0x0B,      // long binary, written as Null only
    Memo = 0x0C,     // long text
};

struct Column
{
    QString name;
    Type type = Type::Text;
    int size = 50; // Text: the most characters a value may have
};

// The bytes of a value exactly as stored in its field, for values that no encoding makes
// (text that is not valid in the file's encoding, a short number).
struct Raw
{
    QByteArray bytes;
};

// A field's value: Null, text (Text, Memo), an integer (Byte, Integer, Long, and Currency as a
// count of ten-thousandths), a real (Single, Double, DateTime) or raw bytes.
using Value = std::variant<std::monostate, QString, std::int64_t, double, Raw>;

struct Table
{
    QString name;
    QList<Column> columns;
    std::vector<std::vector<Value>> rows;
    // Rows (by index into rows) written but marked deleted, as Access leaves them until the
    // file is compacted, and rows moved to a later page, their place keeping a pointer to
    // them, as Access moves a row that has grown.
    std::set<std::size_t> deletedRows;
    std::set<std::size_t> movedRows;
};

struct Options
{
    Version version = Version::Jet4;
    // Jet 4 text in the compressed form wherever that is shorter, as Access does by default.
    bool compressText = true;
};

// Builds the whole file in memory. Returns an empty array and sets *error when a table or
// value cannot be stored (a value of the wrong kind or out of its type's range, text the
// encoding cannot hold, a row longer than a page).
QByteArray write(const QList<Table> &tables, const Options &options, QString *error);

// Reads tables described in JSON: {"tables": [{"name": "syohin", "columns": [{"name":
// "syohin_mei", "type": "text", "size": 50}, ...], "rows": [["緑茶", "198.5", ...], ...]}]}.
// Column types: byte, integer, long, currency, single, double, datetime, text, memo, ole.
// Values: null; a string (text; a currency as exact decimal text; "nan", "inf" or "-inf" for
// a single or double); a number; {"repeat": "あ", "count": 100000} for long text; {"raw":
// "hex"} for the stored bytes. A table may name "deleted" and "moved" rows by index. Returns
// no tables and sets *error when the JSON is not such.
QList<Table> tablesFromJson(const QByteArray &json, QString *error);

// The two catalogue tables with their usual column types, the suppliers numbered from 1 and
// `products` generated products (Japanese names, prices, 13-digit JAN codes).
QList<Table> catalogueTables(int products, int suppliers);

} // namespace Merchalog::JetWriter
