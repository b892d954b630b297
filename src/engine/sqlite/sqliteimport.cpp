#include "engine/sqlite/sqlitestore.h"

#include "engine/sqlite/sqlcompiler.h"
#include "engine/sqlite/sqlitestatement.h"

#include <QStringList>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// A larger page cache while importing: a million rows with five indexes otherwise spend most
// of their time moving pages between the cache and the file. The connection's own size comes
// back afterwards.
class LargerCache final
{
public:
    explicit LargerCache(sqlite3 *db) : m_db(db)
    {
        SqliteStatement size(db, "PRAGMA cache_size");
        if (size.step() == SQLITE_ROW)
            m_previous = size.int64(0);
        executeSql(db, "PRAGMA cache_size = -16384");
    }
    ~LargerCache() { executeSql(m_db, ("PRAGMA cache_size = " + QByteArray::number(m_previous)).constData()); }
    LargerCache(const LargerCache &) = delete;
    LargerCache &operator=(const LargerCache &) = delete;

private:
    sqlite3 *m_db;
    qint64 m_previous = -2000;
};

// An import into a catalogue file. Writing is one IMMEDIATE transaction taken at the start;
// looking up shares one read transaction until release(), as one for each lookup would take
// and release the file's lock every time.
class SqliteImportBatch final : public ImportBatch
{
public:
    SqliteImportBatch(std::shared_ptr<Connection> connection, const ImportTarget &target, const TableInfo &stored,
                      const TableInfo &suppliers)
        : m_connection(std::move(connection))
        , m_db(m_connection->handle())
        , m_cache(m_db)
        , m_target(target)
    {
        const auto column = [](const TableInfo &table, QLatin1StringView name) {
            return quoteIdentifier(table.columns[std::size_t(table.indexOf(name))].name);
        };
        const QString table = quoteIdentifier(stored.name);
        const QString keyColumn = column(stored, target.fields[target.key].name);
        m_findKey = SqliteStatement(m_db, u"SELECT 1 FROM %1 WHERE %2 = ? LIMIT 2"_s.arg(table, keyColumn));
        m_findSupplier = SqliteStatement(m_db, u"SELECT %1 FROM %2 WHERE %3 = ? LIMIT 1"_s.arg(
                                                   column(suppliers, Field::torihiki_mei), quoteIdentifier(suppliers.name),
                                                   column(suppliers, Field::torihiki_code)));
        QStringList names;
        QStringList marks;
        for (const FieldDef &field : target.fields) {
            names << column(stored, field.name);
            marks << u"?"_s;
        }
        QStringList sets;
        for (const std::size_t f : target.updated)
            sets << column(stored, target.fields[f].name) + u" = ?"_s;
        if (sets.isEmpty())
            sets << keyColumn + u" = "_s + keyColumn;
        m_insert = SqliteStatement(m_db, u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(table, names.join(u", "_s), marks.join(u", "_s)));
        m_update = SqliteStatement(m_db, u"UPDATE %1 SET %2 WHERE %3 = ? RETURNING rowid"_s.arg(table, sets.join(u", "_s), keyColumn));
    }
    ~SqliteImportBatch() override
    {
        m_findKey.reset();
        m_findSupplier.reset();
        if (m_open && !sqlite3_get_autocommit(m_db))
            executeSql(m_db, "ROLLBACK");
    }

    // Takes the write transaction; SQLITE_OK or the failure.
    int beginWrite()
    {
        for (const SqliteStatement *statement : {&m_findKey, &m_findSupplier, &m_insert, &m_update}) {
            if (!statement->isValid())
                return statement->error();
        }
        const int rc = executeSql(m_db, "BEGIN IMMEDIATE");
        m_open = rc == SQLITE_OK;
        m_writing = m_open;
        return rc;
    }

    Result<int> countKey(qint64 key) override
    {
        if (Status began = beginRead(); !began)
            return began;
        m_findKey.bind(1, key);
        int count = 0;
        int rc;
        while ((rc = m_findKey.step()) == SQLITE_ROW)
            ++count;
        m_findKey.reset();
        if (rc != SQLITE_DONE)
            return readFailure(rc);
        return count;
    }

    Result<std::optional<QString>> supplierName(qint64 code) override
    {
        if (Status began = beginRead(); !began)
            return began;
        m_findSupplier.bind(1, code);
        std::optional<QString> name;
        const int rc = m_findSupplier.step();
        if (rc == SQLITE_ROW)
            name = m_findSupplier.text(0);
        m_findSupplier.reset();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return readFailure(rc);
        return name;
    }

    Status release() override
    {
        if (m_writing || !m_open)
            return {};
        m_open = false;
        if (const int rc = executeSql(m_db, "COMMIT"); rc != SQLITE_OK)
            return readFailure(rc);
        return {};
    }

    Result<Bookmark> insert(std::span<const BatchValue> values) override
    {
        int position = 1;
        for (std::size_t f = 0; f < values.size(); ++f)
            bind(m_insert, position++, f, values[f]);
        const int rc = m_insert.step();
        m_insert.reset();
        if (rc != SQLITE_DONE)
            return writeFailure(rc);
        return Bookmark(sqlite3_last_insert_rowid(m_db));
    }

    Status update(qint64 key, std::span<const BatchValue> values, std::vector<Bookmark> *keys) override
    {
        int position = 1;
        for (std::size_t i = 0; i < values.size(); ++i)
            bind(m_update, position++, m_target.updated[i], values[i]);
        m_update.bind(position, key);
        int rc;
        while ((rc = m_update.step()) == SQLITE_ROW) {
            if (keys)
                keys->push_back(m_update.int64(0));
        }
        m_update.reset();
        if (rc != SQLITE_DONE)
            return writeFailure(rc);
        return {};
    }

    Status commit() override
    {
        if (const int rc = executeSql(m_db, "COMMIT"); rc != SQLITE_OK)
            return writeFailure(rc);
        m_open = false;
        return {};
    }

private:
    void bind(SqliteStatement &statement, int position, std::size_t field, const BatchValue &value) const
    {
        if (value.isNull)
            statement.bindNull(position);
        else if (m_target.fields[field].kind == Kind::Text)
            statement.bind(position, QStringView(value.text));
        else
            statement.bind(position, std::int64_t(value.integer));
    }

    Status beginRead()
    {
        if (m_open)
            return {};
        if (const int rc = executeSql(m_db, "BEGIN"); rc != SQLITE_OK)
            return readFailure(rc);
        m_open = true;
        return {};
    }
    Status readFailure(int rc) const
    {
        return sqliteFailure(rc, ErrorCode::ReadFailed, Failed::reading, m_connection->filePath());
    }
    Status writeFailure(int rc) const
    {
        return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::importing, m_connection->filePath());
    }

    std::shared_ptr<Connection> m_connection;
    sqlite3 *m_db;
    LargerCache m_cache;
    ImportTarget m_target;
    SqliteStatement m_findKey;
    SqliteStatement m_findSupplier;
    SqliteStatement m_insert;
    SqliteStatement m_update;
    bool m_open = false;
    bool m_writing = false;
};

} // namespace

Result<std::unique_ptr<ImportBatch>> SqliteStore::beginImport(const ImportTarget &target, bool write)
{
    const QString catalogue = m_connection->filePath();
    const TableInfo *stored = m_connection->table(QString(target.table));
    const TableInfo *suppliers = m_connection->table(QString(Table::torihiki));
    if (!stored || !suppliers)
        return openFailure(ErrorCode::NotCatalogue, catalogue, u"表 %1 がありません"_s.arg(QString(target.table)));
    for (const FieldDef &field : target.fields) {
        if (stored->indexOf(field.name) < 0)
            return openFailure(ErrorCode::NotCatalogue, catalogue, u"項目 %1 がありません"_s.arg(QString(field.name)));
    }
    if (suppliers->indexOf(Field::torihiki_code) < 0 || suppliers->indexOf(Field::torihiki_mei) < 0)
        return openFailure(ErrorCode::NotCatalogue, catalogue, u"表 %1 の項目が足りません"_s.arg(QString(Table::torihiki)));
    if (write) {
        if (Status writable = checkWritable(Failed::importing); !writable)
            return writable;
    }
    auto batch = std::make_unique<SqliteImportBatch>(m_connection, target, *stored, *suppliers);
    if (write) {
        if (const int rc = batch->beginWrite(); rc != SQLITE_OK)
            return failure(rc, ErrorCode::WriteFailed, Failed::importing);
    }
    return std::unique_ptr<ImportBatch>(std::move(batch));
}

} // namespace Merchalog
