#include "catalogue/recordsource.h"

#include "catalogue/currentcatalogue.h"
#include "catalogue/likefunction.h"
#include "catalogue/statement.h"

#include <QDir>
#include <QElapsedTimer>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Cached rows are dropped wholesale past this many; the grid reads only what it shows.
constexpr qsizetype maxCachedRows = 4096;

// The longest one read of a long result holds the catalogue: a program waiting to write
// waits about this long at most. Rows are read ahead at most this many at a time.
constexpr qint64 readSliceNs = 10'000'000;
constexpr std::size_t maxSliceRows = 2048;

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

// A value bound into a compiled statement.
using Parameter = std::variant<std::int64_t, QString>;

struct CompiledQuery
{
    QString where;
    std::vector<Parameter> parameters;
};

// Turns the conditions of a parsed statement into SQLite SQL with bound values. The user's
// text never becomes SQL: every literal is a parameter.
//
// A number key finds exactly the rows whose field shows that number (see columnValue): an
// INTEGER by its value (ten-thousandths in a number field, a whole number in a small-integer
// field), any other stored value (a REAL, a text or blob written by another program) when
// the text it shows reads as the key. The matching rows come from three lookups on the
// field's index, so that equality stays fast: the INTEGER, the REALs near the key, and the
// texts and blobs (which sort after every number and are normally none).
std::optional<CompiledQuery> compileConditions(const Statement &statement, const TableInfo &table, QString *error)
{
    CompiledQuery query;
    QStringList parts;
    QStringList lastParts;
    std::vector<Parameter> lastParameters;
    for (const Condition &condition : statement.conditions) {
        const int index = table.indexOf(condition.field);
        if (index < 0) {
            *error = u"項目がありません: %1"_s.arg(condition.field);
            return std::nullopt;
        }
        const ColumnInfo &column = table.columns[std::size_t(index)];
        const QString col = quoteIdentifier(column.name);
        const QString op = condition.op == Operator::NotEqual ? u"<>"_s : u"="_s;
        const bool isLike = condition.op == Operator::Like;

        if (const auto *number = std::get_if<Currency>(&condition.value)) {
            if (column.kind == Kind::Text) {
                // The number is compared as its text, as typed into a text field.
                if (isLike)
                    parts << u"merch_like(?, "_s + col + u") = 1"_s;
                else
                    parts << u"merch_fold("_s + col + u") "_s + op + u" merch_fold(?)"_s;
                query.parameters.emplace_back(number->toPlainText());
                continue;
            }
            // The INTEGER that shows as the key, if any.
            std::optional<std::int64_t> integer;
            if (column.kind == Kind::Number)
                integer = number->units();
            else if (number->isWhole())
                integer = number->units() / Currency::unitsPerOne;
            if (condition.op == Operator::NotEqual) {
                // Rows with no value stay out, as with SQL's "<>". Checked after the other
                // conditions: it keeps nearly every row, so it runs only on the rows they keep.
                lastParts << u"CASE typeof(%1) WHEN 'integer' THEN %2 WHEN 'null' THEN NULL "
                             "ELSE merch_numkey(%1) IS NOT ? END"_s.arg(col, integer ? col + u" <> ?"_s : u"1"_s);
                if (integer)
                    lastParameters.emplace_back(*integer);
                lastParameters.emplace_back(number->units());
                continue;
            }
            const QString from = u"SELECT rowid FROM "_s + quoteIdentifier(table.name) + u" WHERE "_s;
            QStringList lookups;
            if (integer) {
                lookups << from + col + u" = ? AND typeof(%1) = 'integer'"_s.arg(col);
                query.parameters.emplace_back(*integer);
            }
            // A REAL shows in SQLite's 15-digit form, which reads back to the key only within
            // a ten-thousandth of it.
            const double value = double(number->units()) / double(Currency::unitsPerOne);
            const double slack = 1.0 / double(Currency::unitsPerOne) + std::abs(value) * 1e-13;
            lookups << from + col + u" BETWEEN CAST(? AS REAL) AND CAST(? AS REAL) AND typeof(%1) = 'real'"
                                     " AND merch_numkey(%1) = ?"_s.arg(col);
            query.parameters.emplace_back(QString::number(value - slack, 'g', 17));
            query.parameters.emplace_back(QString::number(value + slack, 'g', 17));
            query.parameters.emplace_back(number->units());
            lookups << from + col + u" >= '' AND merch_numkey(%1) = ?"_s.arg(col);
            query.parameters.emplace_back(number->units());
            parts << u"rowid IN ("_s + lookups.join(u" UNION ALL "_s) + u')';
            continue;
        }

        const QString &text = std::get<QString>(condition.value);
        if (!isLike && column.kind != Kind::Text) {
            *error = u"抽出条件でデータ型が一致しません: %1"_s.arg(condition.field);
            return std::nullopt;
        }
        switch (column.kind) {
        case Kind::Text:
            if (isLike)
                parts << u"merch_like(?, "_s + col + u") = 1"_s;
            else
                parts << u"merch_fold("_s + col + u") "_s + op + u" merch_fold(?)"_s;
            break;
        case Kind::Number:
            parts << u"merch_like(?, merch_numtext("_s + col + u")) = 1"_s;
            break;
        case Kind::SmallInt:
            parts << u"merch_like(?, "_s + col + u") = 1"_s;
            break;
        }
        query.parameters.emplace_back(text);
    }
    query.where = (parts + lastParts).join(u" AND "_s);
    query.parameters.insert(query.parameters.end(), lastParameters.begin(), lastParameters.end());
    return query;
}

bool bindParameters(sqlite3_stmt *stmt, const std::vector<Parameter> &parameters, int first = 1)
{
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int position = first + int(i);
        int rc;
        if (const auto *integer = std::get_if<std::int64_t>(&parameters[i])) {
            rc = sqlite3_bind_int64(stmt, position, *integer);
        } else {
            const QByteArray utf8 = std::get<QString>(parameters[i]).toUtf8();
            rc = sqlite3_bind_text(stmt, position, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK)
            return false;
    }
    return true;
}

// Reads one column of a stored row as it shows in a field of its kind. A value the kind holds
// comes typed: a Currency for an INTEGER in a number field, an int for an INTEGER from -32768
// to 32767 in a small-integer field, text for a text field. Any other stored value (written
// by another program) comes as its own text, as SQLite gives it ("1.0e+300", "12abc",
// "4294967301"): it is shown, exported and found by search as stored, never converted.
QVariant columnValue(sqlite3_stmt *stmt, int index, Kind kind)
{
    const int type = sqlite3_column_type(stmt, index);
    if (type == SQLITE_NULL)
        return {};
    if (type == SQLITE_INTEGER && kind == Kind::Number)
        return QVariant::fromValue(Currency::fromUnits(sqlite3_column_int64(stmt, index)));
    if (type == SQLITE_INTEGER && kind == Kind::SmallInt) {
        const std::int64_t value = sqlite3_column_int64(stmt, index);
        if (value >= INT16_MIN && value <= INT16_MAX)
            return int(value);
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, index));
    const int length = sqlite3_column_bytes(stmt, index);
    QString shown = QString::fromUtf8(text, length);
    // Malformed UTF-8 reads the way search reads it.
    if (shown.contains(QChar::ReplacementCharacter))
        shown = decodeStoredText(text, length);
    return shown;
}

// Binds a typed value for storing.
int bindValue(sqlite3_stmt *stmt, int position, const QVariant &value)
{
    if (value.isNull())
        return sqlite3_bind_null(stmt, position);
    if (value.metaType() == QMetaType::fromType<Currency>())
        return sqlite3_bind_int64(stmt, position, value.value<Currency>().units());
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::Short
        || value.typeId() == QMetaType::LongLong)
        return sqlite3_bind_int64(stmt, position, value.toLongLong());
    const QByteArray utf8 = value.toString().toUtf8();
    return sqlite3_bind_text(stmt, position, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

class StatementGuard
{
public:
    explicit StatementGuard(sqlite3_stmt *stmt = nullptr) : m_stmt(stmt) {}
    ~StatementGuard() { sqlite3_finalize(m_stmt); }
    sqlite3_stmt **out() { return &m_stmt; }
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt;
};

bool prepare(sqlite3 *db, const QString &sql, StatementGuard &stmt)
{
    const QByteArray utf8 = sql.toUtf8();
    return sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), stmt.out(), nullptr) == SQLITE_OK;
}

bool isBusy(int rc)
{
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

// Adds one column's value exactly as stored (its type and bytes) to a row's fingerprint. Call
// before anything converts the column.
void appendStored(QByteArray &out, sqlite3_stmt *stmt, int index)
{
    const int type = sqlite3_column_type(stmt, index);
    out += char(type);
    const auto append = [&out](const void *data, qsizetype size) {
        out.append(static_cast<const char *>(data), size);
    };
    switch (type) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 value = sqlite3_column_int64(stmt, index);
        append(&value, sizeof value);
        break;
    }
    case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(stmt, index);
        append(&value, sizeof value);
        break;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        const void *data = type == SQLITE_TEXT ? static_cast<const void *>(sqlite3_column_text(stmt, index))
                                               : sqlite3_column_blob(stmt, index);
        const int size = sqlite3_column_bytes(stmt, index);
        append(&size, sizeof size);
        append(data, size);
        break;
    }
    default:
        break;
    }
}

// Reads the rowids of the rows a query selects, in order. The rowid range is read in windows
// sized so that each takes about a slice, whatever share of its rows the conditions select;
// between windows the catalogue is free for writers. Returns SQLITE_DONE or the failure.
int selectKeys(sqlite3 *db, const QString &table, const CompiledQuery &query, std::vector<Bookmark> *keys)
{
    Bookmark low = 0;
    Bookmark high = 0;
    {
        StatementGuard range;
        // One query for each, so that both are looked up rather than scanned for.
        if (!prepare(db, u"SELECT (SELECT min(rowid) FROM %1), (SELECT max(rowid) FROM %1)"_s.arg(table), range))
            return sqlite3_errcode(db);
        const int rc = sqlite3_step(range.get());
        if (rc != SQLITE_ROW)
            return rc;
        if (sqlite3_column_type(range.get(), 0) == SQLITE_NULL)
            return SQLITE_DONE;
        low = sqlite3_column_int64(range.get(), 0);
        high = sqlite3_column_int64(range.get(), 1);
    }
    QString sql = u"SELECT rowid FROM "_s + table + u" WHERE rowid BETWEEN ? AND ?"_s;
    if (!query.where.isEmpty())
        sql += u" AND ("_s + query.where + u')';
    sql += u" ORDER BY rowid"_s;
    StatementGuard stmt;
    if (!prepare(db, sql, stmt) || !bindParameters(stmt.get(), query.parameters, 3))
        return sqlite3_errcode(db);
    quint64 window = 8192;
    for (;;) {
        // Unsigned, so that no window overflows whatever rowids the file holds.
        const Bookmark last = quint64(high) - quint64(low) < window ? high : Bookmark(quint64(low) + window - 1);
        sqlite3_bind_int64(stmt.get(), 1, low);
        sqlite3_bind_int64(stmt.get(), 2, last);
        QElapsedTimer timer;
        timer.start();
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW)
            keys->push_back(sqlite3_column_int64(stmt.get(), 0));
        sqlite3_reset(stmt.get()); // ends the read: a waiting writer gets its turn
        if (rc != SQLITE_DONE || last == high)
            return rc;
        low = last + 1;
        const qint64 took = timer.nsecsElapsed();
        if (took < readSliceNs / 4 && window < (quint64(1) << 62))
            window *= 2;
        else if (took > readSliceNs && window > 64)
            window /= 2;
    }
}

} // namespace

RecordSource::RecordSource(QObject *parent)
    : QAbstractTableModel(parent)
    , m_databaseName(CurrentCatalogue::instance().databaseName())
{
    connect(&CurrentCatalogue::instance(), &CurrentCatalogue::databaseNameChanged, this,
            &RecordSource::setDatabaseName);
}

RecordSource::~RecordSource()
{
    storeCurrent();
}

void RecordSource::setDatabaseName(const QString &name)
{
    m_databaseName = name;
}

void RecordSource::fail(Error error, const QString &message, const QString &field)
{
    m_error = error;
    m_errorString = message;
    m_errorField = field;
}

void RecordSource::failSqlite(const Connection &connection, int rc, Error error, const QString &what)
{
    const QString path = QDir::toNativeSeparators(connection.filePath());
    if (isBusy(rc))
        fail(Error::Busy, u"カタログファイル %1 は他のプログラムが使用中です。"_s.arg(path));
    else
        fail(error, u"%1: %2 (%3)"_s.arg(what, path, connection.lastSqliteError()));
}

void RecordSource::clearError()
{
    m_error = Error::None;
    m_errorString.clear();
    m_errorField.clear();
}

bool RecordSource::refresh()
{
    clearError();
    if (!storeCurrent())
        return false;

    QString parseError;
    const auto statement = parseStatement(m_recordSource, &parseError);
    if (!statement) {
        fail(Error::BadStatement, parseError);
        return false;
    }

    OpenError openError = OpenError::None;
    QString openMessage;
    auto connection = Connection::open(m_databaseName, &openError, &openMessage);
    if (!connection) {
        beginResetModel();
        m_connection.reset();
        m_table = nullptr;
        m_keys.clear();
        m_keysSorted = true;
        m_cache.clear();
        m_gone.clear();
        m_read = {};
        m_current = -1;
        m_editMode = EditMode::None;
        m_pending = {};
        endResetModel();
        Q_EMIT currentRowChanged(-1);
        fail(Error::OpenFailed, openMessage);
        return false;
    }

    const TableInfo *table = connection->table(statement->table);
    if (!table) {
        fail(Error::BadStatement, u"テーブルがありません: %1"_s.arg(statement->table));
        return false;
    }
    QString compileError;
    const auto query = compileConditions(*statement, *table, &compileError);
    if (!query) {
        fail(Error::BadStatement, compileError);
        return false;
    }

    std::vector<Bookmark> keys;
    const int rc = selectKeys(connection->handle(), quoteIdentifier(table->name), *query, &keys);
    if (rc != SQLITE_DONE) {
        failSqlite(*connection, rc, Error::ReadFailed, u"カタログファイルを読み込めませんでした"_s);
        return false;
    }
    keys.shrink_to_fit();

    QStringList names;
    for (const ColumnInfo &column : table->columns)
        names << quoteIdentifier(column.name);

    beginResetModel();
    m_connection = std::move(connection);
    m_table = table;
    m_selectList = names.join(u", "_s);
    m_blank = Row(names.size());
    m_keys = std::move(keys);
    m_keysSorted = true;
    m_cache.clear();
    m_gone.clear();
    m_read = {};
    m_current = m_keys.empty() ? -1 : 0;
    m_editMode = EditMode::None;
    m_pending = {};
    if (m_current >= 0)
        readCurrent();
    endResetModel();
    Q_EMIT currentRowChanged(m_current);
    return true;
}

bool RecordSource::setCurrentRow(int row)
{
    clearError();
    if (row < 0 || row >= recordCount())
        return false;
    if (row == m_current && m_editMode != EditMode::Adding)
        return true;
    if (!storeCurrent())
        return false;
    setCurrent(row);
    return true;
}

void RecordSource::setCurrent(int row)
{
    const int previous = m_current;
    m_current = row;
    // What is read now is what a later write of this record checks against.
    if (row >= 0)
        readCurrent();
    if (previous >= 0 && previous < recordCount())
        Q_EMIT headerDataChanged(Qt::Vertical, previous, previous);
    if (row >= 0)
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    Q_EMIT currentRowChanged(row);
}

bool RecordSource::storeCurrent()
{
    switch (m_editMode) {
    case EditMode::None:
        return true;
    case EditMode::Adding:
        // A new record that never reached update is dropped when the record is left.
        m_editMode = EditMode::None;
        m_pending = {};
        return true;
    case EditMode::Editing:
        return update();
    }
    return true;
}

bool RecordSource::storePending()
{
    clearError();
    if (m_editMode == EditMode::None)
        return true;
    return update();
}

bool RecordSource::addNew()
{
    clearError();
    if (!m_table) {
        fail(Error::NoCurrentRecord, u"レコードソースが開かれていません。"_s);
        return false;
    }
    if (!storeCurrent())
        return false;
    m_editMode = EditMode::Adding;
    m_pending = {};
    Q_EMIT currentValuesChanged();
    return true;
}

bool RecordSource::edit()
{
    clearError();
    if (m_current < 0) {
        fail(Error::NoCurrentRecord, u"カレント レコードがありません。"_s);
        return false;
    }
    if (m_editMode == EditMode::None) {
        if (!m_read.valid || m_read.key != m_keys[std::size_t(m_current)])
            readCurrent();
        m_editMode = EditMode::Editing;
    }
    return true;
}

std::optional<QVariant> RecordSource::convertText(int column, const QString &text) const
{
    switch (fieldKind(column)) {
    case Kind::Text:
        return QVariant(text);
    case Kind::Number:
        if (const auto value = Currency::parse(text))
            return QVariant::fromValue(*value);
        return std::nullopt;
    case Kind::SmallInt:
        if (const auto value = parseSmallInt(text))
            return QVariant(int(*value));
        return std::nullopt;
    }
    return std::nullopt;
}

bool RecordSource::update()
{
    clearError();
    if (m_editMode == EditMode::None) {
        fail(Error::NoCurrentRecord, u"AddNew または Edit が実行されていません。"_s);
        return false;
    }
    // Convert every pending text first: nothing is stored unless all of it fits.
    QHash<int, QVariant> values = m_pending.typed;
    for (auto it = m_pending.texts.cbegin(); it != m_pending.texts.cend(); ++it) {
        const auto converted = convertText(it.key(), it.value());
        if (!converted) {
            fail(Error::InvalidValue, u"「%1」の値が正しくありません。"_s.arg(fieldName(it.key())), fieldName(it.key()));
            return false;
        }
        values.insert(it.key(), *converted);
    }

    if (m_editMode == EditMode::Editing && values.isEmpty()) {
        m_editMode = EditMode::None;
        return true;
    }
    if (!checkWritable())
        return false;

    QList<int> columns = values.keys();
    std::sort(columns.begin(), columns.end());
    sqlite3 *db = m_connection->handle();
    const QString table = quoteIdentifier(m_table->name);

    if (m_editMode == EditMode::Adding) {
        QStringList names, marks;
        for (int column : columns) {
            names << quoteIdentifier(fieldName(column));
            marks << u"?"_s;
        }
        const QString sql = names.isEmpty()
            ? u"INSERT INTO %1 DEFAULT VALUES"_s.arg(table)
            : u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(table, names.join(u", "_s), marks.join(u", "_s));
        StatementGuard stmt;
        int rc = prepare(db, sql, stmt) ? SQLITE_OK : sqlite3_errcode(db);
        if (rc == SQLITE_OK) {
            int position = 1;
            for (int column : columns)
                bindValue(stmt.get(), position++, values.value(column));
            rc = sqlite3_step(stmt.get());
        }
        if (rc != SQLITE_DONE) {
            failSqlite(*m_connection, rc, Error::WriteFailed, u"変更を保存できませんでした"_s);
            return false;
        }
        m_lastModified = sqlite3_last_insert_rowid(db);
        m_editMode = EditMode::None;
        m_pending = {};
        Q_EMIT currentValuesChanged();
        return true;
    }

    const QString what = u"変更を保存できませんでした"_s;
    if (!beginWrite(what))
        return false;
    if (!checkCurrentUnchanged(false))
        return false;
    QStringList sets;
    for (int column : columns)
        sets << quoteIdentifier(fieldName(column)) + u" = ?"_s;
    const Bookmark key = m_keys[std::size_t(m_current)];
    ReadRecord stored{key, {}, {}, false};
    {
        StatementGuard stmt;
        int rc = prepare(db, u"UPDATE %1 SET %2 WHERE rowid = ?"_s.arg(table, sets.join(u", "_s)), stmt)
            ? SQLITE_OK : sqlite3_errcode(db);
        if (rc == SQLITE_OK) {
            int position = 1;
            for (int column : columns)
                bindValue(stmt.get(), position++, values.value(column));
            sqlite3_bind_int64(stmt.get(), position, key);
            rc = sqlite3_step(stmt.get());
        }
        // Read back what was stored: the record as this record source now knows it.
        if (rc == SQLITE_DONE && readRow(key, &stored.values, &stored.stored) != ReadResult::Found)
            rc = sqlite3_errcode(db) == SQLITE_OK ? SQLITE_ERROR : sqlite3_errcode(db);
        if (rc != SQLITE_DONE) {
            failSqlite(*m_connection, rc, Error::WriteFailed, what);
            rollbackWrite();
            return false;
        }
    }
    if (!commitWrite(what))
        return false;

    stored.valid = true;
    m_read = stored;
    m_cache.insert(key, stored.values);
    m_editMode = EditMode::None;
    m_pending = {};
    m_lastModified = key;
    Q_EMIT dataChanged(index(m_current, 0), index(m_current, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    Q_EMIT currentValuesChanged();
    return true;
}

bool RecordSource::beginWrite(const QString &what)
{
    const int rc = sqlite3_exec(m_connection->handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    failSqlite(*m_connection, rc, Error::WriteFailed, what);
    return false;
}

bool RecordSource::commitWrite(const QString &what)
{
    const int rc = sqlite3_exec(m_connection->handle(), "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    failSqlite(*m_connection, rc, Error::WriteFailed, what);
    rollbackWrite();
    return false;
}

void RecordSource::rollbackWrite()
{
    sqlite3 *db = m_connection->handle();
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool RecordSource::checkCurrentUnchanged(bool deletion)
{
    const Bookmark key = m_keys[std::size_t(m_current)];
    ReadRecord now{key, {}, {}, false};
    const ReadResult result = readRow(key, &now.values, &now.stored);
    if (result == ReadResult::Found && m_read.valid && m_read.key == key && now.stored == m_read.stored)
        return true;
    if (result == ReadResult::Failed) {
        failSqlite(*m_connection, sqlite3_errcode(m_connection->handle()), Error::WriteFailed,
                   deletion ? u"削除できませんでした"_s : u"変更を保存できませんでした"_s);
        rollbackWrite();
        return false;
    }
    rollbackWrite();

    // Deleted, or changed by someone else since it was read: nothing is stored, the pending
    // edits go, and the record shows as it now stands (a deleted one leaves the list).
    const bool gone = result == ReadResult::Gone;
    const QString action = deletion ? u"削除"_s : u"変更を保存"_s;
    fail(Error::Conflict, (gone ? u"このレコードは削除されているため、%1できませんでした。"_s
                                : u"このレコードは他で変更されているため、%1できませんでした。"_s).arg(action));
    m_editMode = EditMode::None;
    m_pending = {};
    if (gone) {
        m_read = {key, {}, {}, false};
        noteGone(key);
    } else {
        now.valid = true;
        m_read = now;
        m_cache.insert(key, now.values);
    }
    Q_EMIT dataChanged(index(m_current, 0), index(m_current, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    Q_EMIT currentValuesChanged();
    return false;
}

void RecordSource::cancelUpdate()
{
    const bool wasEditing = m_editMode == EditMode::Editing;
    m_editMode = EditMode::None;
    m_pending = {};
    if (wasEditing && m_current >= 0) {
        Q_EMIT dataChanged(index(m_current, 0), index(m_current, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    }
    Q_EMIT currentValuesChanged();
    // A record found deleted while it had edits can leave the list now.
    if (!m_gone.isEmpty())
        postDrop();
}

bool RecordSource::checkWritable()
{
    if (!m_connection || !m_table) {
        fail(Error::WriteFailed, u"レコードソースが開かれていません。"_s);
        return false;
    }
    // A file moved away or deleted while open would take the change with it unseen.
    if (!m_connection->isStillPresent()) {
        fail(Error::WriteFailed, u"カタログファイルが見つかりません（移動または削除されました）: %1"_s
                                     .arg(QDir::toNativeSeparators(m_connection->filePath())));
        return false;
    }
    if (m_connection->isReadOnly()) {
        fail(Error::WriteFailed, u"カタログファイルは読み取り専用です: %1"_s
                                     .arg(QDir::toNativeSeparators(m_connection->filePath())));
        return false;
    }
    return true;
}

bool RecordSource::deleteCurrent()
{
    clearError();
    if (m_current < 0 || m_editMode == EditMode::Adding) {
        fail(Error::NoCurrentRecord, u"カレント レコードがありません。"_s);
        return false;
    }
    if (!checkWritable())
        return false;
    const QString what = u"削除できませんでした"_s;
    if (!beginWrite(what))
        return false;
    if (!checkCurrentUnchanged(true))
        return false;
    const Bookmark key = m_keys[std::size_t(m_current)];
    {
        StatementGuard stmt;
        sqlite3 *db = m_connection->handle();
        int rc = prepare(db, u"DELETE FROM %1 WHERE rowid = ?"_s.arg(quoteIdentifier(m_table->name)), stmt)
            ? SQLITE_OK : sqlite3_errcode(db);
        if (rc == SQLITE_OK) {
            sqlite3_bind_int64(stmt.get(), 1, key);
            rc = sqlite3_step(stmt.get());
        }
        if (rc != SQLITE_DONE) {
            failSqlite(*m_connection, rc, Error::WriteFailed, what);
            rollbackWrite();
            return false;
        }
    }
    if (!commitWrite(what))
        return false;
    // The result is not re-run: the row leaves the list and nothing is current.
    m_editMode = EditMode::None;
    m_pending = {};
    m_cache.remove(key);
    const int row = m_current;
    setCurrent(-1);
    m_read = {};
    beginRemoveRows({}, row, row);
    m_keys.erase(m_keys.begin() + row);
    endRemoveRows();
    return true;
}

bool RecordSource::removeCurrentRecord()
{
    if (m_editMode == EditMode::Adding) {
        cancelUpdate();
        return true;
    }
    return deleteCurrent();
}

Bookmark RecordSource::bookmark() const
{
    return m_current >= 0 ? m_keys[std::size_t(m_current)] : 0;
}

bool RecordSource::setBookmark(Bookmark bookmark)
{
    clearError();
    if (bookmark == 0 || !m_table) {
        fail(Error::NoCurrentRecord, u"ブックマークが正しくありません。"_s);
        return false;
    }
    if (!storeCurrent())
        return false;
    const auto it = m_keysSorted ? std::lower_bound(m_keys.begin(), m_keys.end(), bookmark)
                                 : std::find(m_keys.begin(), m_keys.end(), bookmark);
    if (it != m_keys.end() && *it == bookmark) {
        setCurrent(int(it - m_keys.begin()));
        return true;
    }
    // A record added since the refresh joins the end of the result.
    const int row = recordCount();
    beginInsertRows({}, row, row);
    if (!m_keys.empty() && bookmark < m_keys.back())
        m_keysSorted = false;
    m_keys.push_back(bookmark);
    endInsertRows();
    setCurrent(row);
    return true;
}

QString RecordSource::fieldName(int column) const
{
    if (!m_table || column < 0 || column >= fieldCount())
        return {};
    return m_table->columns[std::size_t(column)].name;
}

Kind RecordSource::fieldKind(int column) const
{
    if (!m_table || column < 0 || column >= fieldCount())
        return Kind::Text;
    return m_table->columns[std::size_t(column)].kind;
}

int RecordSource::fieldIndex(QAnyStringView name) const
{
    return m_table ? m_table->indexOf(name) : -1;
}

RecordSource::ReadResult RecordSource::readRow(Bookmark key, Row *row, QByteArray *stored) const
{
    row->clear();
    if (!m_connection || !m_table)
        return ReadResult::Failed;
    StatementGuard stmt;
    if (!prepare(m_connection->handle(), u"SELECT %1 FROM %2 WHERE rowid = ?"_s
                                             .arg(m_selectList, quoteIdentifier(m_table->name)), stmt))
        return ReadResult::Failed;
    sqlite3_bind_int64(stmt.get(), 1, key);
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE)
        return ReadResult::Gone;
    if (rc != SQLITE_ROW)
        return ReadResult::Failed;
    const int columns = fieldCount();
    row->reserve(columns);
    for (int c = 0; c < columns; ++c) {
        if (stored)
            appendStored(*stored, stmt.get(), c);
        *row << columnValue(stmt.get(), c, fieldKind(c));
    }
    return ReadResult::Found;
}

void RecordSource::readCurrent() const
{
    const Bookmark key = m_keys[std::size_t(m_current)];
    m_read = {key, {}, {}, false};
    if (m_gone.contains(key))
        return;
    switch (readRow(key, &m_read.values, &m_read.stored)) {
    case ReadResult::Found:
        m_read.valid = true;
        if (m_cache.size() >= maxCachedRows)
            m_cache.clear();
        m_cache.insert(key, m_read.values);
        break;
    case ReadResult::Gone:
        noteGone(key);
        break;
    case ReadResult::Failed:
        break; // read again when next shown
    }
}

const Row &RecordSource::cachedRow(int index) const
{
    const Bookmark key = m_keys[std::size_t(index)];
    if (index == m_current) {
        if (!m_read.valid || m_read.key != key)
            readCurrent();
        return m_read.valid ? m_read.values : m_blank;
    }
    if (m_gone.contains(key))
        return m_blank;
    auto it = m_cache.constFind(key);
    if (it != m_cache.constEnd())
        return *it;
    Row row;
    switch (readRow(key, &row)) {
    case ReadResult::Found:
        if (m_cache.size() >= maxCachedRows)
            m_cache.clear();
        return *m_cache.insert(key, std::move(row));
    case ReadResult::Gone:
        noteGone(key);
        break;
    case ReadResult::Failed:
        break; // read again when next shown
    }
    return m_blank;
}

void RecordSource::noteGone(Bookmark key) const
{
    m_gone.insert(key);
    m_cache.remove(key);
    postDrop();
}

void RecordSource::postDrop() const
{
    if (m_dropPosted)
        return;
    m_dropPosted = true;
    // Never from inside a view's read: the rows go once control is back in the event loop.
    QMetaObject::invokeMethod(const_cast<RecordSource *>(this), &RecordSource::dropGoneRows, Qt::QueuedConnection);
}

void RecordSource::dropGoneRows()
{
    m_dropPosted = false;
    if (m_visiting || m_gone.isEmpty())
        return;
    // A record with pending edits stays until storing them tells the user it is gone.
    const Bookmark kept = m_editMode == EditMode::Editing && m_current >= 0 ? m_keys[std::size_t(m_current)] : 0;
    QSet<Bookmark> gone;
    gone.swap(m_gone);
    if (kept && gone.remove(kept))
        m_gone.insert(kept);

    std::vector<std::pair<int, int>> ranges; // first and last row of each run of gone rows
    for (int row = 0; row < recordCount(); ++row) {
        if (!gone.contains(m_keys[std::size_t(row)]))
            continue;
        if (!ranges.empty() && ranges.back().second == row - 1)
            ranges.back().second = row;
        else
            ranges.emplace_back(row, row);
    }
    if (ranges.empty())
        return;
    const int previous = m_current;
    int current = m_current;
    for (const auto &[first, last] : ranges) {
        if (current >= first && current <= last)
            current = -1;
    }
    if (current >= 0) {
        const int before = current;
        for (const auto &[first, last] : ranges) {
            if (last < before)
                current -= last - first + 1;
        }
    }
    if (current < 0 && previous >= 0) {
        m_read = {};
        setCurrent(-1);
    }
    const auto isGone = [&gone](Bookmark key) { return gone.contains(key); };
    if (ranges.size() <= 32) {
        // Few runs: remove each, from the end, so views keep their place.
        for (auto it = ranges.crbegin(); it != ranges.crend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            m_keys.erase(m_keys.begin() + it->first, m_keys.begin() + it->second + 1);
            if (m_current > it->second)
                m_current -= it->second - it->first + 1;
            endRemoveRows();
        }
    } else {
        beginResetModel();
        m_keys.erase(std::remove_if(m_keys.begin(), m_keys.end(), isGone), m_keys.end());
        m_current = current;
        endResetModel();
    }
    if (m_current != previous && m_current >= 0)
        Q_EMIT currentRowChanged(m_current);
}

Row RecordSource::row(int index) const
{
    if (index < 0 || index >= recordCount())
        return {};
    return cachedRow(index);
}

QVariant RecordSource::value(QAnyStringView field) const
{
    const int column = fieldIndex(field);
    if (column < 0)
        return {};
    if (m_editMode != EditMode::None) {
        if (m_pending.typed.contains(column))
            return m_pending.typed.value(column);
        if (m_pending.texts.contains(column))
            return convertText(column, m_pending.texts.value(column)).value_or(QVariant(m_pending.texts.value(column)));
        if (m_editMode == EditMode::Adding)
            return {};
    }
    if (m_current < 0)
        return {};
    return cachedRow(m_current).value(column);
}

QString RecordSource::text(QAnyStringView field) const
{
    const int column = fieldIndex(field);
    if (column < 0)
        return {};
    if (m_pending.texts.contains(column))
        return m_pending.texts.value(column);
    return displayText(value(field));
}

bool RecordSource::setValue(QAnyStringView field, const QVariant &value)
{
    clearError();
    const int column = fieldIndex(field);
    if (column < 0) {
        fail(Error::BadStatement, u"項目がありません: %1"_s.arg(field.toString()));
        return false;
    }
    if (m_editMode == EditMode::None) {
        if (m_current < 0) {
            fail(Error::NoCurrentRecord, u"カレント レコードがありません。"_s);
            return false;
        }
        if (!m_read.valid || m_read.key != m_keys[std::size_t(m_current)])
            readCurrent();
        m_editMode = EditMode::Editing;
    }
    m_pending.texts.remove(column);
    m_pending.typed.insert(column, value);
    if (m_editMode == EditMode::Editing) {
        Q_EMIT dataChanged(index(m_current, column), index(m_current, column));
        Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    }
    return true;
}

bool RecordSource::setText(QAnyStringView field, const QString &text)
{
    clearError();
    const int column = fieldIndex(field);
    if (column < 0) {
        fail(Error::BadStatement, u"項目がありません: %1"_s.arg(field.toString()));
        return false;
    }
    if (m_editMode == EditMode::Adding) {
        m_pending.typed.remove(column);
        m_pending.texts.insert(column, text);
        return true;
    }
    if (m_current < 0) {
        fail(Error::NoCurrentRecord, u"カレント レコードがありません。"_s);
        return false;
    }
    m_pending.typed.remove(column);
    if (text == displayText(cachedRow(m_current).value(column))) {
        // Typed back to the stored value: nothing to store for this field.
        m_pending.texts.remove(column);
        if (m_pending.texts.isEmpty() && m_pending.typed.isEmpty())
            m_editMode = EditMode::None;
    } else {
        m_pending.texts.insert(column, text);
        m_editMode = EditMode::Editing;
    }
    Q_EMIT dataChanged(index(m_current, column), index(m_current, column));
    Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    return true;
}

bool RecordSource::forEachRow(const std::function<bool(const Row &)> &visit)
{
    clearError();
    if (m_keys.empty() || !m_connection || !m_table)
        return true;
    sqlite3 *db = m_connection->handle();
    const int columns = fieldCount();

    // A dense result is read in passes over its rowid range, merged with the keys; a sparse
    // one by lookups. Either way the rows come in the order of the list, a slice at a time:
    // each slice is read, its read ended, and only then are its rows visited.
    const bool dense = m_keysSorted
        && double(m_keys.back()) - double(m_keys.front()) + 1.0 <= 4.0 * double(m_keys.size());
    const QString table = quoteIdentifier(m_table->name);
    StatementGuard stmt;
    if (!prepare(db, dense ? u"SELECT rowid, %1 FROM %2 WHERE rowid BETWEEN ? AND ? ORDER BY rowid"_s.arg(m_selectList, table)
                           : u"SELECT rowid, %1 FROM %2 WHERE rowid = ?"_s.arg(m_selectList, table), stmt)) {
        failSqlite(*m_connection, sqlite3_errcode(db), Error::ReadFailed, u"カタログファイルを読み込めませんでした"_s);
        return false;
    }

    m_visiting = true;
    std::vector<Row> slice;
    slice.reserve(maxSliceRows);
    std::size_t next = 0;
    bool ok = true;
    while (next < m_keys.size()) {
        slice.clear();
        QElapsedTimer timer;
        timer.start();
        int rc = SQLITE_OK;
        if (dense) {
            sqlite3_bind_int64(stmt.get(), 1, m_keys[next]);
            sqlite3_bind_int64(stmt.get(), 2, m_keys.back());
            rc = sqlite3_step(stmt.get());
        }
        while (next < m_keys.size() && slice.size() < maxSliceRows && timer.nsecsElapsed() < readSliceNs) {
            const Bookmark key = m_keys[next];
            if (dense) {
                while (rc == SQLITE_ROW && sqlite3_column_int64(stmt.get(), 0) < key)
                    rc = sqlite3_step(stmt.get());
            } else {
                sqlite3_bind_int64(stmt.get(), 1, key);
                rc = sqlite3_step(stmt.get());
            }
            if (rc == SQLITE_ROW && sqlite3_column_int64(stmt.get(), 0) == key) {
                Row row;
                row.reserve(columns);
                for (int c = 0; c < columns; ++c)
                    row << columnValue(stmt.get(), c + 1, fieldKind(c));
                slice.push_back(std::move(row));
            } else if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
                m_gone.insert(key); // deleted since the refresh: skipped, and leaves the list
                m_cache.remove(key);
            } else {
                break;
            }
            if (!dense)
                sqlite3_reset(stmt.get());
            ++next;
        }
        if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
            // Never a blank row: an unreadable one ends the visit.
            failSqlite(*m_connection, rc, Error::ReadFailed, u"カタログファイルを読み込めませんでした"_s);
            ok = false;
            break;
        }
        sqlite3_reset(stmt.get()); // ends this slice's read: a waiting writer gets its turn
        bool stop = false;
        for (const Row &row : slice) {
            if (!visit(row)) {
                stop = true;
                break;
            }
        }
        if (stop)
            break;
    }
    sqlite3_reset(stmt.get());
    m_visiting = false;
    dropGoneRows();
    return ok;
}

QString RecordSource::displayText(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return {};
    if (value.metaType() == QMetaType::fromType<Currency>())
        return value.value<Currency>().toDisplayText();
    return value.toString();
}

int RecordSource::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : recordCount();
}

int RecordSource::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : fieldCount();
}

QVariant RecordSource::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= recordCount() || index.column() >= fieldCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (index.row() == m_current && m_editMode == EditMode::Editing) {
        if (m_pending.texts.contains(index.column()))
            return m_pending.texts.value(index.column());
        if (m_pending.typed.contains(index.column()))
            return displayText(m_pending.typed.value(index.column()));
    }
    return displayText(cachedRow(index.row()).value(index.column()));
}

QVariant RecordSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return fieldName(section);
    // The row marker: the current record, and whether it has unsaved edits.
    if (section == m_current)
        return m_editMode == EditMode::Editing ? u"✎"_s : u"▶"_s;
    return QString();
}

Qt::ItemFlags RecordSource::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool RecordSource::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= recordCount())
        return false;
    if (index.row() != m_current && !setCurrentRow(index.row()))
        return false;
    return setText(fieldName(index.column()), value.toString());
}

} // namespace Merchalog
