#include "catalogue/connection.h"

#include "catalogue/likefunction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>

using namespace Qt::StringLiterals;

namespace Merchalog {

int TableInfo::indexOf(QAnyStringView column) const
{
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (QAnyStringView::compare(columns[i].name, column, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

namespace {

// Open connections by absolute file path; a connection lives while a record source holds it.
std::map<QString, std::weak_ptr<Connection>> &registry()
{
    static std::map<QString, std::weak_ptr<Connection>> connections;
    return connections;
}

QString absolutePath(const QString &fileName)
{
    const QFileInfo info(fileName);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

bool fileIdentity(const QString &path, FileIdentity *identity)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    identity->device = quint64(st.st_dev);
    identity->inode = quint64(st.st_ino);
    return true;
}

// Runs one statement that returns a single integer; nullopt when it fails.
std::optional<qint64> queryInteger(sqlite3 *db, const char *sql, int *resultCode = nullptr)
{
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    std::optional<qint64> value;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            value = sqlite3_column_int64(stmt, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(stmt);
    if (resultCode)
        *resultCode = rc;
    return value;
}

OpenError openHandle(const QString &path, sqlite3 **out, QString *errorString)
{
    *out = nullptr;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (errorString)
            *errorString = u"カタログファイルが見つかりません: %1"_s.arg(QDir::toNativeSeparators(path));
        return OpenError::Missing;
    }
    if (!info.isFile()) {
        if (errorString)
            *errorString = u"カタログファイルではありません: %1"_s.arg(QDir::toNativeSeparators(path));
        return OpenError::NotDatabase;
    }
    sqlite3 *db = nullptr;
    // Without SQLITE_OPEN_CREATE nothing is ever created; a write-protected file opens read-only.
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        if (errorString)
            *errorString = u"カタログファイルを開けません: %1 (%2)"_s.arg(QDir::toNativeSeparators(path),
                                                                      QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        return OpenError::NotDatabase;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    *out = db;
    return OpenError::None;
}

OpenError checkMarks(sqlite3 *db, const QString &path, QString *errorString)
{
    int rc = SQLITE_OK;
    const auto applicationId = queryInteger(db, "PRAGMA application_id", &rc);
    if (!applicationId) {
        if (errorString)
            *errorString = u"カタログファイルではありません: %1 (%2)"_s.arg(QDir::toNativeSeparators(path),
                                                                          QString::fromUtf8(sqlite3_errstr(rc)));
        return (rc & 0xff) == SQLITE_NOTADB ? OpenError::NotDatabase : OpenError::NotDatabase;
    }
    if (*applicationId != catalogueApplicationId) {
        if (errorString)
            *errorString = u"カタログファイルではありません: %1"_s.arg(QDir::toNativeSeparators(path));
        return OpenError::NotCatalogue;
    }
    return OpenError::None;
}

std::optional<TableInfo> readTable(sqlite3 *db, QLatin1StringView name)
{
    const QByteArray sql = "PRAGMA table_info(" + QByteArray(name.data(), name.size()) + ")";
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        return std::nullopt;
    TableInfo table;
    table.name = QString(name);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        ColumnInfo column;
        column.name = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)));
        const QString declared = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2)));
        // The key column is the table's INTEGER PRIMARY KEY; it identifies rows and is no field.
        if (column.name.compare(keyFieldOf(table.name), Qt::CaseInsensitive) == 0 && sqlite3_column_int(stmt, 5) == 1
            && declared.compare(u"INTEGER"_s, Qt::CaseInsensitive) == 0) {
            table.key = column.name;
            continue;
        }
        column.kind = kindFromDeclaredType(declared).value_or(Kind::Text);
        table.columns.push_back(column);
    }
    sqlite3_finalize(stmt);
    if (table.columns.empty())
        return std::nullopt;
    return table;
}

template<std::size_t N>
bool hasFields(const TableInfo &table, const std::array<FieldDef, N> &fields)
{
    for (const FieldDef &field : fields) {
        if (table.indexOf(field.name) < 0)
            return false;
    }
    return true;
}

} // namespace

Connection::Connection(sqlite3 *db, QString filePath)
    : m_db(db)
    , m_filePath(std::move(filePath))
{
    fileIdentity(m_filePath, &m_identity);
}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

bool Connection::readSchema()
{
    m_tables.clear();
    for (const auto name : {Table::syohin, Table::torihiki}) {
        auto table = readTable(m_db, name);
        if (!table)
            return false;
        m_tables.push_back(std::move(*table));
    }
    return hasFields(m_tables[0], syohinFields) && hasFields(m_tables[1], torihikiFields);
}

std::shared_ptr<Connection> Connection::open(const QString &fileName, OpenError *error, QString *errorString)
{
    const QString path = absolutePath(fileName);
    auto &connections = registry();
    if (auto it = connections.find(path); it != connections.end()) {
        if (auto existing = it->second.lock(); existing && existing->isStillPresent()) {
            if (error)
                *error = OpenError::None;
            return existing;
        }
        connections.erase(it);
    }

    sqlite3 *db = nullptr;
    OpenError result = openHandle(path, &db, errorString);
    if (result == OpenError::None)
        result = checkMarks(db, path, errorString);
    std::shared_ptr<Connection> connection;
    if (result == OpenError::None) {
        connection.reset(new Connection(db, path));
        db = nullptr;
        if (!connection->readSchema()) {
            result = OpenError::NotCatalogue;
            if (errorString)
                *errorString = u"カタログファイルではありません: %1"_s.arg(QDir::toNativeSeparators(path));
            connection.reset();
        }
    }
    sqlite3_close_v2(db);
    if (error)
        *error = result;
    if (!connection)
        return nullptr;

    sqlite3_exec(connection->m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    registerLikeFunctions(connection->m_db);
    connections[path] = connection;
    return connection;
}

OpenError Connection::check(const QString &fileName)
{
    const QString path = absolutePath(fileName);
    if (auto it = registry().find(path); it != registry().end() && !it->second.expired())
        return OpenError::None;
    sqlite3 *db = nullptr;
    OpenError result = openHandle(path, &db, nullptr);
    if (result == OpenError::None)
        result = checkMarks(db, path, nullptr);
    if (result == OpenError::None) {
        Connection probe(db, path);
        db = nullptr;
        if (!probe.readSchema())
            result = OpenError::NotCatalogue;
    }
    sqlite3_close_v2(db);
    return result;
}

std::vector<std::pair<QString, FileIdentity>> Connection::openFiles()
{
    std::vector<std::pair<QString, FileIdentity>> files;
    for (const auto &[path, weak] : registry()) {
        if (const auto connection = weak.lock())
            files.emplace_back(connection->m_filePath, connection->m_identity);
    }
    return files;
}

bool Connection::isReadOnly() const
{
    // A file write-protected after it was opened keeps its writable handle here; a write
    // through it would fail half-way and leave a journal that blocks even reading the file
    // until the protection is lifted.
    return sqlite3_db_readonly(m_db, "main") == 1
        || ::access(QFile::encodeName(m_filePath).constData(), W_OK) != 0;
}

bool Connection::isStillPresent() const
{
    FileIdentity now;
    return fileIdentity(m_filePath, &now) && now.device == m_identity.device && now.inode == m_identity.inode;
}

const TableInfo *Connection::table(QStringView name) const
{
    for (const TableInfo &table : m_tables) {
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return &table;
    }
    return nullptr;
}

QString Connection::lastSqliteError() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

bool Connection::backupTo(const QString &targetPath, QString *errorString) const
{
    // Copy into a fresh file beside the target, then rename it over the target, so a failed
    // copy never leaves a half-written catalogue under the target's name.
    const QFileInfo target(targetPath);
    const QString temporary = target.absolutePath() + u"/.~"_s + target.fileName() + u".tmp"_s;
    QFile::remove(temporary);

    sqlite3 *copy = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(temporary).constData(), &copy,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(copy, "main", m_db, "main");
        if (backup) {
            rc = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        } else {
            rc = sqlite3_errcode(copy);
        }
    }
    const QString message = QString::fromUtf8(copy ? sqlite3_errmsg(copy) : sqlite3_errstr(rc));
    if (sqlite3_close(copy) != SQLITE_OK && rc == SQLITE_OK)
        rc = SQLITE_IOERR;
    if (rc != SQLITE_OK) {
        QFile::remove(temporary);
        if (errorString)
            *errorString = message;
        return false;
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        QFile::remove(temporary);
        if (errorString)
            *errorString = u"ファイルを書き込めません: %1"_s.arg(QDir::toNativeSeparators(targetPath));
        return false;
    }
    return true;
}

bool createCatalogueFile(const QString &path, QString *errorString)
{
    if (QFileInfo::exists(path)) {
        if (errorString)
            *errorString = u"ファイルがすでに存在します: %1"_s.arg(QDir::toNativeSeparators(path));
        return false;
    }
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char *message = nullptr;
    if (rc == SQLITE_OK) {
        const QByteArray sql = "BEGIN;\n" + catalogueSchemaSql().toUtf8() + "COMMIT;\n";
        rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message);
    }
    QString error = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_free(message);
    if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK)
        rc = SQLITE_IOERR;
    if (rc != SQLITE_OK) {
        QFile::remove(path);
        if (errorString)
            *errorString = error;
        return false;
    }
    return true;
}

} // namespace Merchalog
