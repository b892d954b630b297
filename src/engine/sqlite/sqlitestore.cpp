#include "engine/sqlite/sqlitestore.h"

#include "engine/kinds/number.h"
#include "engine/sqlite/sqlcompiler.h"
#include "engine/sqlite/sqlitestatement.h"
#include "engine/statements/likefunction.h"
#include "engine/statements/statement.h"

#include <QElapsedTimer>
#include <QStringList>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// The longest one read of a long result holds the catalogue: a program waiting to write
// waits about this long at most. Rows are read ahead at most this many at a time.
constexpr qint64 readSliceNs = 10'000'000;
constexpr std::size_t maxSliceRows = 2048;

// The fields of a table, named, as SELECT lists them.
QString selectList(const TableInfo &table)
{
    QStringList names;
    for (const ColumnInfo &column : table.columns)
        names << quoteIdentifier(column.name);
    return names.join(u", "_s);
}

// Reads one column of a stored row as it shows in a field of its kind. A value the kind holds
// comes typed: a Currency for an INTEGER in a number field, an int for an INTEGER from -32768
// to 32767 in a small-integer field, text for a text field. Any other stored value (written
// by another program) comes as its own text, as SQLite gives it ("1.0e+300", "12abc",
// "4294967301"): it is shown, exported and found by search as stored, never converted.
QVariant columnValue(const SqliteStatement &stmt, int index, Kind kind)
{
    const int type = stmt.type(index);
    if (type == SQLITE_NULL)
        return {};
    if (type == SQLITE_INTEGER && kind == Kind::Number)
        return QVariant::fromValue(Currency::fromUnits(stmt.int64(index)));
    if (type == SQLITE_INTEGER && kind == Kind::SmallInt) {
        const std::int64_t value = stmt.int64(index);
        if (value >= INT16_MIN && value <= INT16_MAX)
            return int(value);
    }
    const QByteArrayView utf8 = stmt.bytesView(index);
    QString shown = QString::fromUtf8(utf8);
    // Malformed UTF-8 reads the way search reads it.
    if (shown.contains(QChar::ReplacementCharacter))
        shown = decodeStoredText(utf8.data(), int(utf8.size()));
    return shown;
}

// Adds one column's value exactly as stored (its type and bytes) to a row's fingerprint. Call
// before anything converts the column.
void appendStored(QByteArray &out, const SqliteStatement &stmt, int index)
{
    const int type = stmt.type(index);
    out += char(type);
    const auto append = [&out](const void *data, qsizetype size) {
        out.append(static_cast<const char *>(data), size);
    };
    switch (type) {
    case SQLITE_INTEGER: {
        const std::int64_t value = stmt.int64(index);
        append(&value, sizeof value);
        break;
    }
    case SQLITE_FLOAT: {
        const double value = stmt.real(index);
        append(&value, sizeof value);
        break;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const QByteArrayView bytes = stmt.bytesView(index);
        const int size = int(bytes.size());
        append(&size, sizeof size);
        out += bytes;
        break;
    }
    default:
        break;
    }
}

// Reads the values (from column first on) of the current row.
Row readValues(const SqliteStatement &stmt, const TableInfo &table, int first, QByteArray *fingerprint = nullptr)
{
    Row row;
    row.reserve(qsizetype(table.columns.size()));
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        if (fingerprint)
            appendStored(*fingerprint, stmt, first + int(c));
        row << columnValue(stmt, first + int(c), table.columns[c].kind);
    }
    return row;
}

// One write transaction, rolled back unless committed.
class WriteTransaction final
{
public:
    explicit WriteTransaction(sqlite3 *db) : m_db(db) {}
    ~WriteTransaction()
    {
        if (m_open && !sqlite3_get_autocommit(m_db))
            executeSql(m_db, "ROLLBACK");
    }
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    // Takes the write lock at once, so that the check and the write see the same file.
    int begin()
    {
        const int rc = executeSql(m_db, "BEGIN IMMEDIATE");
        m_open = rc == SQLITE_OK;
        return rc;
    }
    int commit()
    {
        const int rc = executeSql(m_db, "COMMIT");
        if (rc == SQLITE_OK)
            m_open = false;
        return rc;
    }

private:
    sqlite3 *m_db;
    bool m_open = false;
};

} // namespace

SqliteStore::SqliteStore(std::shared_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

Result<std::shared_ptr<SqliteStore>> SqliteStore::open(const QString &name)
{
    auto connection = Connection::open(name);
    if (!connection)
        return connection.status();
    return std::make_shared<SqliteStore>(std::move(*connection));
}

const TableInfo *SqliteStore::table(QStringView name) const
{
    return m_connection->table(name);
}

Status SqliteStore::failure(int rc, ErrorCode code, QStringView what) const
{
    return sqliteFailure(rc, code, what, m_connection->filePath());
}

// Reads the rowids of the rows a query selects, in order. The rowid range is read in windows
// sized so that each takes about a slice, whatever share of its rows the conditions select;
// between windows the catalogue is free for writers.
Result<std::vector<Bookmark>> SqliteStore::selectKeys(const TableInfo &table, const Statement &statement)
{
    const auto query = compileConditions(statement, table);
    if (!query)
        return query.status();
    sqlite3 *db = m_connection->handle();
    const QString name = quoteIdentifier(table.name);
    std::vector<Bookmark> keys;
    Bookmark low = 0;
    Bookmark high = 0;
    {
        // One query for each, so that both are looked up rather than scanned for.
        SqliteStatement range(db, u"SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)"_s.arg(name));
        const int rc = range.step();
        if (rc != SQLITE_ROW)
            return failure(rc, ErrorCode::ReadFailed, Failed::reading);
        if (range.isNull(0))
            return keys;
        low = range.int64(0);
        high = range.int64(1);
    }
    QString sql = u"SELECT rowid FROM "_s + name + u" WHERE rowid BETWEEN ?1 AND ?2"_s;
    if (!query->where.isEmpty())
        sql += u" AND ("_s + query->where + u')';
    sql += u" ORDER BY rowid"_s;
    SqliteStatement stmt(db, sql);
    if (!bindParameters(stmt, query->parameters))
        return failure(stmt.error(), ErrorCode::ReadFailed, Failed::reading);
    quint64 window = 8192;
    for (;;) {
        // Unsigned, so that no window overflows whatever rowids the file holds.
        const Bookmark last = quint64(high) - quint64(low) < window ? high : Bookmark(quint64(low) + window - 1);
        stmt.bind(1, low);
        stmt.bind(2, last);
        QElapsedTimer timer;
        timer.start();
        int rc;
        while ((rc = stmt.step()) == SQLITE_ROW)
            keys.push_back(stmt.int64(0));
        stmt.reset(); // ends the read: a waiting writer gets its turn
        if (rc != SQLITE_DONE)
            return failure(rc, ErrorCode::ReadFailed, Failed::reading);
        if (last == high)
            break;
        low = last + 1;
        const qint64 took = timer.nsecsElapsed();
        if (took < readSliceNs / 4 && window < (quint64(1) << 62))
            window *= 2;
        else if (took > readSliceNs && window > 64)
            window /= 2;
    }
    keys.shrink_to_fit();
    return keys;
}

int SqliteStore::readStored(const TableInfo &table, Bookmark key, StoredRow *row) const
{
    SqliteStatement stmt(m_connection->handle(),
                         u"SELECT %1 FROM %2 WHERE rowid = ?"_s.arg(selectList(table), quoteIdentifier(table.name)));
    stmt.bind(1, key);
    const int rc = stmt.step();
    if (rc == SQLITE_ROW) {
        row->fingerprint.clear();
        row->values = readValues(stmt, table, 0, &row->fingerprint);
    }
    return rc;
}

Result<std::optional<StoredRow>> SqliteStore::readRow(const TableInfo &table, Bookmark key)
{
    StoredRow row;
    const int rc = readStored(table, key, &row);
    if (rc == SQLITE_ROW)
        return std::optional<StoredRow>(std::move(row));
    if (rc == SQLITE_DONE)
        return std::optional<StoredRow>();
    return failure(rc, ErrorCode::ReadFailed, Failed::reading);
}

Result<std::size_t> SqliteStore::readSlice(const TableInfo &table, std::span<const Bookmark> keys, bool sorted,
                                           std::vector<Row> *rows, std::vector<Bookmark> *gone)
{
    if (keys.empty())
        return std::size_t(0);
    keys = keys.first(std::min(keys.size(), maxSliceRows));
    // Dense keys are read in one pass over their rowid range, merged with the keys; sparse
    // ones by lookups. Either way the rows come in the order of the keys.
    const bool dense = sorted && double(keys.back()) - double(keys.front()) + 1.0 <= 4.0 * double(keys.size());
    const QString columns = selectList(table);
    const QString name = quoteIdentifier(table.name);
    SqliteStatement stmt(m_connection->handle(),
                         dense ? u"SELECT rowid, %1 FROM %2 WHERE rowid BETWEEN ? AND ? ORDER BY rowid"_s.arg(columns, name)
                               : u"SELECT rowid, %1 FROM %2 WHERE rowid = ?"_s.arg(columns, name));
    QElapsedTimer timer;
    timer.start();
    int rc = SQLITE_OK;
    if (dense) {
        stmt.bind(1, keys.front());
        stmt.bind(2, keys.back());
        rc = stmt.step();
    }
    std::size_t next = 0;
    while (next < keys.size() && (next == 0 || timer.nsecsElapsed() < readSliceNs)) {
        const Bookmark key = keys[next];
        if (dense) {
            while (rc == SQLITE_ROW && stmt.int64(0) < key)
                rc = stmt.step();
        } else {
            stmt.bind(1, key);
            rc = stmt.step();
        }
        if (rc == SQLITE_ROW && stmt.int64(0) == key)
            rows->push_back(readValues(stmt, table, 1));
        else if (rc == SQLITE_ROW || rc == SQLITE_DONE)
            gone->push_back(key); // deleted since the keys were selected
        else
            return failure(rc, ErrorCode::ReadFailed, Failed::reading);
        if (!dense)
            stmt.reset();
        ++next;
    }
    return next;
}

Status SqliteStore::checkWritable(QStringView what) const
{
    // A file moved away or deleted while open would take the change with it unseen.
    if (!m_connection->isStillPresent())
        return fileFailure(ErrorCode::WriteFailed, what, m_connection->filePath(), Reason::movedAway);
    if (m_connection->isReadOnly())
        return fileFailure(ErrorCode::WriteFailed, what, m_connection->filePath(), Reason::readOnly);
    return {};
}

Result<Bookmark> SqliteStore::insert(const TableInfo &table, const ColumnValues &values)
{
    if (Status writable = checkWritable(Failed::adding); !writable)
        return writable;
    QStringList names, marks;
    for (const auto &[column, value] : values) {
        names << quoteIdentifier(table.columns[std::size_t(column)].name);
        marks << u"?"_s;
    }
    const QString name = quoteIdentifier(table.name);
    sqlite3 *db = m_connection->handle();
    SqliteStatement stmt(db, names.isEmpty()
                                 ? u"INSERT INTO %1 DEFAULT VALUES"_s.arg(name)
                                 : u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(name, names.join(u", "_s), marks.join(u", "_s)));
    int position = 1;
    for (const auto &[column, value] : values)
        stmt.bindValue(position++, value);
    // A value SQLite refused to bind fails the step: nothing is added without it.
    const int rc = stmt.step();
    if (rc != SQLITE_DONE)
        return failure(rc, ErrorCode::WriteFailed, Failed::adding);
    return Bookmark(sqlite3_last_insert_rowid(db));
}

Result<WriteOutcome> SqliteStore::checkUnchanged(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                                 QStringView what) const
{
    WriteOutcome outcome;
    const int rc = readStored(table, key, &outcome.row);
    if (rc == SQLITE_DONE) {
        outcome.found = WriteOutcome::Found::Gone;
        outcome.row = {};
    } else if (rc != SQLITE_ROW) {
        return failure(rc, ErrorCode::WriteFailed, what);
    } else if (outcome.row.fingerprint != expected) {
        outcome.found = WriteOutcome::Found::Changed;
    }
    return outcome;
}

Result<WriteOutcome> SqliteStore::update(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                         const ColumnValues &values)
{
    const QStringView what = Failed::storing;
    if (Status writable = checkWritable(what); !writable)
        return writable;
    sqlite3 *db = m_connection->handle();
    WriteTransaction transaction(db);
    if (const int rc = transaction.begin(); rc != SQLITE_OK)
        return failure(rc, ErrorCode::WriteFailed, what);
    auto check = checkUnchanged(table, key, expected, what);
    if (!check || check->found != WriteOutcome::Found::AsRead)
        return check;

    {
        QStringList sets;
        for (const auto &[column, value] : values)
            sets << quoteIdentifier(table.columns[std::size_t(column)].name) + u" = ?"_s;
        SqliteStatement stmt(db, u"UPDATE %1 SET %2 WHERE rowid = ?"_s.arg(quoteIdentifier(table.name), sets.join(u", "_s)));
        int position = 1;
        for (const auto &[column, value] : values)
            stmt.bindValue(position++, value);
        stmt.bind(position, key);
        // A value SQLite refused to bind fails the step: nothing runs without it.
        if (const int rc = stmt.step(); rc != SQLITE_DONE)
            return failure(rc, ErrorCode::WriteFailed, what);
    }
    // Read back what was stored: the record as the caller now knows it.
    WriteOutcome outcome;
    if (const int rc = readStored(table, key, &outcome.row); rc != SQLITE_ROW)
        return failure(rc == SQLITE_DONE ? SQLITE_ERROR : rc, ErrorCode::WriteFailed, what);
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return failure(rc, ErrorCode::WriteFailed, what);
    return outcome;
}

Result<WriteOutcome> SqliteStore::remove(const TableInfo &table, Bookmark key, const QByteArray &expected)
{
    const QStringView what = Failed::deleting;
    if (Status writable = checkWritable(what); !writable)
        return writable;
    sqlite3 *db = m_connection->handle();
    WriteTransaction transaction(db);
    if (const int rc = transaction.begin(); rc != SQLITE_OK)
        return failure(rc, ErrorCode::WriteFailed, what);
    auto check = checkUnchanged(table, key, expected, what);
    if (!check || check->found != WriteOutcome::Found::AsRead)
        return check;
    {
        SqliteStatement stmt(db, u"DELETE FROM %1 WHERE rowid = ?"_s.arg(quoteIdentifier(table.name)));
        stmt.bind(1, key);
        if (const int rc = stmt.step(); rc != SQLITE_DONE)
            return failure(rc, ErrorCode::WriteFailed, what);
    }
    if (const int rc = transaction.commit(); rc != SQLITE_OK)
        return failure(rc, ErrorCode::WriteFailed, what);
    return WriteOutcome{};
}

} // namespace Merchalog
