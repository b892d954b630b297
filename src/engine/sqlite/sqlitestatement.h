#pragma once

#include <QAnyStringView>
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <cstdint>

struct sqlite3;
struct sqlite3_stmt;

namespace Merchalog {

// One prepared SQLite statement, the one way the program talks to SQLite: prepared on
// construction, finalised when it goes. Every bind is checked: the first that fails (a
// value too big, a position out of range) is kept, and step() then returns that failure
// without running anything, so a statement never runs with a value missing.
class SqliteStatement final
{
public:
    SqliteStatement() = default;
    // Prepares sql on db; error() says whether that failed.
    SqliteStatement(sqlite3 *db, QAnyStringView sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    // SQLITE_OK while the statement is prepared and every bind so far succeeded; otherwise
    // the first failure (of the preparation or a bind).
    int error() const { return m_error; }
    bool isValid() const { return m_error == 0 && m_stmt; }
    sqlite3 *database() const { return m_db; }

    // Binds a value to a position (from 1). Returns false when SQLite refused it.
    bool bind(int position, std::int64_t value);
    bool bind(int position, QStringView text);
    bool bindNull(int position);
    // A value as the record sources hold it: null, a Currency (its ten-thousandths), an
    // integer, or anything else as its text.
    bool bindValue(int position, const QVariant &value);

    // Runs the statement to its next row: SQLITE_ROW, SQLITE_DONE, or the failure (also a
    // failed preparation or bind).
    int step();
    // Ends the current run, so that the statement holds no read any more; bindings stay.
    void reset();

    // The columns of the current row, by position (from 0) or by name (as the statement
    // names the column, without regard to case; -1 when it has none such).
    int columnCount() const;
    int columnIndex(QAnyStringView name) const;
    int type(int column) const;
    bool isNull(int column) const;
    std::int64_t int64(int column) const;
    double real(int column) const;
    // Text as stored, decoded as UTF-8.
    QString text(int column) const;
    // The bytes of a text or blob.
    QByteArray bytes(int column) const;
    // The same without a copy: valid until the statement steps, resets or goes.
    QByteArrayView bytesView(int column) const;

    int type(QAnyStringView name) const { return type(columnIndex(name)); }
    std::int64_t int64(QAnyStringView name) const { return int64(columnIndex(name)); }
    QString text(QAnyStringView name) const { return text(columnIndex(name)); }

    sqlite3_stmt *handle() const { return m_stmt; }

private:
    bool bound(int rc);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    int m_error = 0;
};

// Runs SQL text that returns no rows (one statement or several, such as a schema) and
// returns SQLite's result: SQLITE_OK when all of it ran.
int executeSql(sqlite3 *db, const char *sql);

} // namespace Merchalog
