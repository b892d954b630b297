#include "engine/sqlite/sqlitestatement.h"

#include "engine/kinds/number.h"

#include <sqlite3.h>

#include <utility>

namespace Merchalog {

SqliteStatement::SqliteStatement(sqlite3 *db, QAnyStringView sql)
    : m_db(db)
{
    const QByteArray utf8 = sql.toString().toUtf8();
    m_error = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr);
    if (m_error == SQLITE_OK && !m_stmt)
        m_error = SQLITE_MISUSE; // no statement in the text
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_stmt(std::exchange(other.m_stmt, nullptr))
    , m_error(std::exchange(other.m_error, 0))
{
}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_error = std::exchange(other.m_error, 0);
    }
    return *this;
}

bool SqliteStatement::bound(int rc)
{
    if (rc != SQLITE_OK && m_error == SQLITE_OK)
        m_error = rc;
    return rc == SQLITE_OK;
}

bool SqliteStatement::bind(int position, std::int64_t value)
{
    if (!m_stmt)
        return bound(SQLITE_MISUSE);
    return bound(sqlite3_bind_int64(m_stmt, position, value));
}

bool SqliteStatement::bind(int position, QStringView text)
{
    if (!m_stmt)
        return bound(SQLITE_MISUSE);
    const QByteArray utf8 = text.toUtf8();
    return bound(sqlite3_bind_text64(m_stmt, position, utf8.constData(), sqlite3_uint64(utf8.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool SqliteStatement::bindNull(int position)
{
    if (!m_stmt)
        return bound(SQLITE_MISUSE);
    return bound(sqlite3_bind_null(m_stmt, position));
}

bool SqliteStatement::bindValue(int position, const QVariant &value)
{
    if (value.isNull())
        return bindNull(position);
    if (value.metaType() == QMetaType::fromType<Currency>())
        return bind(position, value.value<Currency>().units());
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::LongLong:
        return bind(position, std::int64_t(value.toLongLong()));
    default:
        return bind(position, value.toString());
    }
}

int SqliteStatement::step()
{
    if (m_error != SQLITE_OK)
        return m_error;
    return sqlite3_step(m_stmt);
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
}

int SqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

int SqliteStatement::columnIndex(QAnyStringView name) const
{
    for (int column = 0; column < columnCount(); ++column) {
        if (QAnyStringView::compare(QUtf8StringView(sqlite3_column_name(m_stmt, column)), name, Qt::CaseInsensitive) == 0)
            return column;
    }
    return -1;
}

int SqliteStatement::type(int column) const
{
    return sqlite3_column_type(m_stmt, column);
}

bool SqliteStatement::isNull(int column) const
{
    return type(column) == SQLITE_NULL;
}

std::int64_t SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

QString SqliteStatement::text(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column));
}

QByteArray SqliteStatement::bytes(int column) const
{
    return bytesView(column).toByteArray();
}

QByteArrayView SqliteStatement::bytesView(int column) const
{
    const void *data = type(column) == SQLITE_BLOB ? sqlite3_column_blob(m_stmt, column)
                                                   : static_cast<const void *>(sqlite3_column_text(m_stmt, column));
    return QByteArrayView(static_cast<const char *>(data), sqlite3_column_bytes(m_stmt, column));
}

int executeSql(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

} // namespace Merchalog
