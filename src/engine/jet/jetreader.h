#pragma once

#include "engine/kinds/number.h"
#include "engine/jet/jetstream.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QTemporaryFile;

namespace Merchalog {

// Column types of an Access table, by their code in its definition.
enum class JetType : std::uint8_t {
    YesNo = 0x01,
    Byte = 0x02,     // unsigned 8-bit
    Integer = 0x03,  // signed 16-bit
    Long = 0x04,     // signed 32-bit
    Currency = 0x05, // signed 64-bit count of ten-thousandths
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Text = 0x0A,
    Memo = 0x0C,
};

struct JetColumn
{
    QString name;
    std::uint8_t type = 0;
};

// One field of a row as read: Null, a value (text in UTF-8 for Text and Memo, the stored
// little-endian bytes for numbers), an error (its reason in UTF-8) or not read.
struct JetValue
{
    JetStream::ValueState state = JetStream::ValueState::Null;
    QByteArray bytes;
};

// A row as read: its values, one a column, or the reason it cannot be read at all.
struct JetRow
{
    QList<JetValue> values;
    QString damaged;
};

struct JetTable
{
    QString name;
    QList<JetColumn> columns;
    std::uint32_t declaredRows = 0; // as the table's definition gives them
    std::uint32_t rows = 0;         // as read
    qint64 firstRecord = 0;         // where its rows (or its end) start in the stream
};

// Reads tables of an Access file (Jet 3 or Jet 4) through the program's own reader, run as a
// child process ("merchalog read-jet FILE TABLE..."): the library that reads Access files has
// crashed and hung on damaged files, and neither may take the program with it. The child runs
// with limits on memory and time, and what it hands over is checked record by record and kept
// in a temporary file (removed with the reader), never in memory whole.
class JetReader final
{
public:
    // Told how many rows have been read and how many the tables read so far declare; returns
    // false to cancel.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    explicit JetReader(const QString &fileName);
    ~JetReader();

    // The program run as the reader: by default this program itself.
    static void setReaderProgram(const QString &program);
    // The longest the reader may go without handing over anything before it counts as hung.
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }

    // Reads the tables requests name, as "syohin" or "syohin:syohin_mei,syohin_JAN" (only
    // those fields' values). Returns false, with errorString() naming the file, when the file
    // cannot be read, the reader fails, crashes or hangs, or the reading is cancelled.
    bool read(const QStringList &requests, const Progress &progress = {});

    int version() const { return m_version; } // 3, or 4 for Jet 4 and later
    const QStringList &tableNames() const { return m_tableNames; } // every user table of the file
    // A table read, found without regard to case; null when the file has none of that name.
    const JetTable *table(const QString &name) const;

    // Calls visit with each row of a table read, in the file's order, until it returns false.
    // Returns false when the rows cannot be read back.
    bool forEachRow(const JetTable &table, const std::function<bool(const JetRow &)> &visit) const;

    QString errorString() const { return m_errorString; }
    bool wasCancelled() const { return m_cancelled; }

private:
    // Where the stream is: each table's columns come before its rows.
    enum class Phase { Start, Names, Columns, Rows, Between, Done };

    bool take(const JetStream::Record &record, qint64 at);
    bool fail(const QString &reason);

    QString m_fileName;
    int m_timeout = 20000;
    std::unique_ptr<QTemporaryFile> m_spool;
    int m_version = 0;
    QStringList m_tableNames;
    QList<JetTable> m_tables;
    Phase m_phase = Phase::Start;
    bool m_cancelled = false;
    QString m_failure; // the reader's own reason
    QString m_errorString;
};

// A value as text for a message: text as it is, numbers in plain decimals (floating-point
// ones as the shortest decimal that is read back as the same number, "NaN", "inf").
QString jetValueText(const JetColumn &column, const JetValue &value);

// The value of a number column as the catalogue keeps numbers: Currency, Byte, Integer and
// Long exactly; Single and Double as the shortest decimal that is read back as the same
// number, refused when that needs more than four decimals or lies beyond the range. Sets
// *reason and returns nullopt otherwise.
std::optional<Currency> jetCurrency(const JetColumn &column, const JetValue &value, QString *reason);
// The same for a small integer field: a whole number from -32768 to 32767, nothing rounded.
std::optional<std::int16_t> jetSmallInt(const JetColumn &column, const JetValue &value, QString *reason);

} // namespace Merchalog
