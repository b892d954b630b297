#include "engine/sqlite/connection.h"

#include "engine/sqlite/cataloguecheck.h"
#include "engine/sqlite/sqlitestatement.h"
#include "engine/sqlite/writeguard.h"
#include "engine/statements/likefunction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace Merchalog {

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

constexpr int stepsPerTick = 1000;
std::atomic<qint64> statementLimit{Connection::defaultStatementLimit};

bool isLive(sqlite3 *db, sqlite3_stmt *stmt)
{
    for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s)) {
        if (s == stmt)
            return true;
    }
    return false;
}

} // namespace

// An SQLite handle in the configuration every catalogue handle runs in, with the work its
// running statements have done so far; closing it closes the handle.
struct Connection::Handle
{
    struct Running
    {
        sqlite3_stmt *stmt;
        qint64 ticks; // thousands of virtual-machine steps since the statement started
    };

    sqlite3 *db = nullptr;
    std::vector<Running> running;

    Handle() = default;
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { sqlite3_close_v2(db); }

    // A statement starts (or starts again after a reset): its count begins at zero.
    static int onStatementStart(unsigned, void *context, void *statement, void *)
    {
        auto *handle = static_cast<Handle *>(context);
        auto *stmt = static_cast<sqlite3_stmt *>(statement);
        std::erase_if(handle->running, [&](const Running &r) { return r.stmt == stmt || !isLive(handle->db, r.stmt); });
        handle->running.push_back({stmt, 0});
        return 0;
    }

    // Called every stepsPerTick steps: a statement past the bound is stopped (SQLITE_INTERRUPT).
    // Counting per statement, across all its steps, also bounds one that returns rows without end.
    static int onProgress(void *context)
    {
        auto *handle = static_cast<Handle *>(context);
        const qint64 limit = std::max<qint64>(1, statementLimit.load(std::memory_order_relaxed) / stepsPerTick);
        for (sqlite3_stmt *s = sqlite3_next_stmt(handle->db, nullptr); s; s = sqlite3_next_stmt(handle->db, s)) {
            if (!sqlite3_stmt_busy(s))
                continue;
            for (Running &r : handle->running) {
                if (r.stmt == s && ++r.ticks > limit)
                    return 1;
            }
        }
        return 0;
    }

    // The file is data, never code: SQLite's defensive mode (no writes to the schema's own
    // records, no corrupting pragmas), an untrusted schema (schema objects may call only
    // harmless built-in functions), no triggers and no views run; each statement is bounded.
    // Fails when SQLite refuses any of it.
    bool configure()
    {
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, 5000);
        for (const auto &[option, value] : {std::pair{SQLITE_DBCONFIG_DEFENSIVE, 1}, {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                                            {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0}, {SQLITE_DBCONFIG_ENABLE_VIEW, 0}}) {
            int now = -1;
            if (sqlite3_db_config(db, option, value, &now) != SQLITE_OK || now != value)
                return false;
        }
        sqlite3_progress_handler(db, stepsPerTick, onProgress, this);
        return sqlite3_trace_v2(db, SQLITE_TRACE_STMT, onStatementStart, this) == SQLITE_OK;
    }

    // Opens a file in that configuration; nothing is read from it yet.
    int open(const QByteArray &path, int flags)
    {
        int rc = sqlite3_open_v2(path.constData(), &db, flags, nullptr);
        if (rc == SQLITE_OK && !configure())
            rc = SQLITE_MISUSE;
        return rc;
    }
};

namespace {

// The longest path SQLite opens: room is kept for the "-journal" ending of the journal.
int longestPath()
{
    const sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
    return (vfs ? vfs->mxPathname : 512) - int(sizeof "-journal" - 1);
}

// Opens the file at path in that configuration; failures name named (the file the user
// asked for, which path may be a copy of). An immutable handle reads the file as it stands,
// making no journal, lock or WAL file.
Result<std::unique_ptr<Connection::Handle>> openHandle(const QString &path, int flags, const QString &named,
                                                       bool immutable = false)
{
    const QFileInfo info(path);
    if (!info.exists())
        return openFailure(ErrorCode::Missing, named);
    if (!info.isFile())
        return openFailure(ErrorCode::NotDatabase, named);
    // Without SQLITE_OPEN_CREATE nothing is ever created; a write-protected file opens read-only.
    const QByteArray encoded = QFile::encodeName(path);
    auto handle = std::make_unique<Connection::Handle>();
    const int rc = immutable ? handle->open("file:" + encoded.toPercentEncoding("/") + "?immutable=1", flags | SQLITE_OPEN_URI)
                             : handle->open(encoded, flags);
    if (rc == SQLITE_CANTOPEN && encoded.size() > longestPath())
        return openFailure(ErrorCode::PathTooLong, named, QString::number(longestPath()));
    if (rc != SQLITE_OK)
        return openFailure(ErrorCode::NotDatabase, named);
    return handle;
}

// Judges the file as it will read once its hot journal (left by a writer that stopped
// half-way) is rolled back, on a copy: the rollback writes to the file, and a refused file
// must stay as it is.
Status judgeRolledBack(const QString &path)
{
    const QTemporaryDir folder;
    const QString copy = folder.filePath(u"judged.mdb"_s);
    if (!folder.isValid() || !QFile::copy(path, copy) || !QFile::copy(path + u"-journal"_s, copy + u"-journal"_s))
        return openFailure(ErrorCode::NotDatabase, path, u"途中で止まった変更を確かめられません"_s);
    auto handle = openHandle(copy, SQLITE_OPEN_READWRITE, path);
    if (!handle)
        return handle.status().code() == ErrorCode::PathTooLong ? openFailure(ErrorCode::NotDatabase, path)
                                                                 : handle.status();
    return checkCatalogueSchema((*handle)->db, path);
}

// Judges a file through a read-only handle, so that judging never writes to it.
Status judgeFile(const QString &path)
{
    // A file in WAL mode with no WAL beside it is whole as it stands; reading it normally
    // would leave an empty WAL and its index beside a refused file.
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    const bool walWithoutLog = header.size() == 20 && header.startsWith("SQLite format 3") && header.at(18) == 2
        && header.at(19) == 2 && !QFileInfo::exists(path + u"-wal"_s);
    file.close();
    auto probe = openHandle(path, SQLITE_OPEN_READONLY, path, walWithoutLog);
    if (!probe)
        return probe.status();
    // With a hot journal beside the file, the first read on a read-only handle stops instead
    // of rolling it back.
    executeSql((*probe)->db, "PRAGMA schema_version");
    if (sqlite3_extended_errcode((*probe)->db) == SQLITE_READONLY_ROLLBACK) {
        probe->reset();
        return judgeRolledBack(path);
    }
    return checkCatalogueSchema((*probe)->db, path);
}

// Reads a table's columns; false when they cannot be read or there are none.
bool readTable(sqlite3 *db, QLatin1StringView name, TableInfo *table)
{
    SqliteStatement stmt(db, u"PRAGMA table_info(%1)"_s.arg(name));
    table->name = QString(name);
    int rc;
    while ((rc = stmt.step()) == SQLITE_ROW) {
        ColumnInfo column;
        column.name = stmt.text("name");
        const QString declared = stmt.text("type");
        // The key column is the table's INTEGER PRIMARY KEY; it identifies rows and is no field.
        if (column.name.compare(keyFieldOf(table->name), Qt::CaseInsensitive) == 0 && stmt.int64("pk") == 1
            && declared.compare(u"INTEGER"_s, Qt::CaseInsensitive) == 0) {
            table->key = column.name;
            continue;
        }
        column.kind = kindFromDeclaredType(declared).value_or(Kind::Text);
        table->columns.push_back(column);
    }
    return rc == SQLITE_DONE && !table->columns.empty();
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

Connection::Connection(std::unique_ptr<Handle> handle, QString filePath)
    : m_handle(std::move(handle))
    , m_db(m_handle->db)
    , m_filePath(std::move(filePath))
{
    fileIdentity(m_filePath, &m_identity);
}

Connection::~Connection() = default;

bool Connection::readSchema()
{
    m_tables.clear();
    for (const auto name : {Table::syohin, Table::torihiki}) {
        TableInfo table;
        if (!readTable(m_db, name, &table))
            return false;
        m_tables.push_back(std::move(table));
    }
    return hasFields(m_tables[0], syohinFields) && hasFields(m_tables[1], torihikiFields);
}

Result<std::shared_ptr<Connection>> Connection::open(const QString &fileName)
{
    const QString path = absolutePath(fileName);
    auto &connections = registry();
    if (auto it = connections.find(path); it != connections.end()) {
        if (auto existing = it->second.lock(); existing && existing->isStillPresent())
            return existing;
        connections.erase(it);
    }

    if (const Status judged = judgeFile(path); !judged)
        return judged;
    auto handle = openHandle(path, SQLITE_OPEN_READWRITE, path);
    if (!handle)
        return handle.status();
    // Judged again as this handle reads it: the file may have changed since (or had its hot
    // journal rolled back by this first read).
    if (const Status judged = checkCatalogueSchema((*handle)->db, path); !judged)
        return judged;
    std::shared_ptr<Connection> connection(new Connection(std::move(*handle), path));
    if (!connection->readSchema())
        return openFailure(ErrorCode::NotCatalogue, path);
    // Every change is on disk when the statement that made it returns, and the program's
    // own functions are there for its statements.
    if (executeSql(connection->m_db, "PRAGMA synchronous=FULL") != SQLITE_OK || !registerLikeFunctions(connection->m_db))
        return sqliteFailure(sqlite3_errcode(connection->m_db), ErrorCode::NotDatabase, Failed::reading, path);
    connections[path] = connection;
    return connection;
}

Status Connection::check(const QString &fileName)
{
    const QString path = absolutePath(fileName);
    if (auto it = registry().find(path); it != registry().end() && !it->second.expired())
        return {};
    return judgeFile(path);
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

void Connection::setStatementLimit(qint64 steps)
{
    statementLimit.store(steps > 0 ? steps : defaultStatementLimit, std::memory_order_relaxed);
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

namespace {

// Why an SQLite call failed, in a few words.
QString sqliteReason(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_INTERRUPT:
        return u"処理が長すぎるため中止しました"_s;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Reason::busy.toString();
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Reason::readOnly.toString();
    case SQLITE_FULL:
        return u"ディスクの空きが足りません"_s;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
        return u"ファイルを読み書きできません"_s;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return u"ファイルが壊れています"_s;
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
        return u"値が大きすぎるか、メモリが足りません"_s;
    case SQLITE_CONSTRAINT:
        return u"値がファイルの制約に合いません"_s;
    default:
        return u"データベースのエラーです（コード %1）"_s.arg(rc);
    }
}

} // namespace

Status sqliteFailure(int rc, ErrorCode code, QStringView what, const QString &path)
{
    const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    return fileFailure(busy ? ErrorCode::Busy : code, what, path, sqliteReason(rc == SQLITE_OK ? SQLITE_ERROR : rc));
}

Status openFailure(ErrorCode code, const QString &path, const QString &detail)
{
    const QString name = QDir::toNativeSeparators(path);
    const QString found = detail.isEmpty() ? QString() : u"（%1）"_s.arg(detail);
    switch (code) {
    case ErrorCode::Missing:
        return Status(code, u"ファイルが見つかりません: %1"_s.arg(name));
    case ErrorCode::NotCatalogue:
        return Status(code, u"商品管理のデータベースファイルではありません%2: %1"_s.arg(name, found));
    case ErrorCode::HoldsCode:
        return Status(code, u"実行される定義を含むファイルは開きません%2: %1"_s.arg(name, found));
    case ErrorCode::NewerFormat:
        return Status(code, u"新しい版のプログラムで作られたファイルのため開けません%2: %1"_s.arg(name, found));
    case ErrorCode::PathTooLong:
        return Status(code, u"ファイルのパスが長すぎるため開けません（%2 バイトまで）: %1"_s.arg(name, detail));
    default:
        return Status(ErrorCode::NotDatabase, u"商品管理のデータベースファイルではありません%2: %1"_s.arg(name, found));
    }
}

namespace {

// The permissions a new file gets: read and write for everyone the process's umask allows.
mode_t newFilePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

Status Connection::backupTo(const QString &targetPath) const
{
    // Copy into a new file beside the target, then rename it over the target, so a failed
    // copy never leaves a half-written catalogue under the target's name. The temporary
    // file's name is new: nothing that is there already is touched.
    const QFileInfo target(targetPath);
    QTemporaryFile temporaryFile(target.absolutePath() + u"/.~"_s + target.fileName() + u".XXXXXX"_s);
    if (!temporaryFile.open())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, targetPath);
    temporaryFile.close();
    const QString temporary = temporaryFile.fileName();
    if (const QString open = openCatalogueAt(temporary); !open.isEmpty())
        return openCatalogueRefusal(targetPath, open);

    Handle copy;
    int rc = copy.open(QFile::encodeName(temporary), SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(copy.db, "main", m_db, "main");
        if (backup) {
            rc = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (rc == SQLITE_DONE)
                rc = SQLITE_OK;
        } else {
            rc = sqlite3_errcode(copy.db);
        }
    }
    if (sqlite3_close(copy.db) != SQLITE_OK && rc == SQLITE_OK)
        rc = SQLITE_IOERR;
    copy.db = nullptr;
    if (rc != SQLITE_OK)
        return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::writingFile, targetPath);
    if (::chmod(QFile::encodeName(temporary).constData(), newFilePermissions()) != 0
        || std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0)
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, targetPath);
    temporaryFile.setAutoRemove(false);
    return {};
}

Status createCatalogueFile(const QString &path)
{
    if (QFileInfo::exists(path))
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, path, Reason::exists);
    Connection::Handle handle;
    int rc = handle.open(QFile::encodeName(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc == SQLITE_OK) {
        const QByteArray sql = "BEGIN;\n" + catalogueSchemaSql().toUtf8() + "COMMIT;\n";
        rc = executeSql(handle.db, sql.constData());
    }
    if (rc != SQLITE_OK)
        rc = sqlite3_errcode(handle.db) == SQLITE_OK ? rc : sqlite3_errcode(handle.db);
    if (sqlite3_close(handle.db) != SQLITE_OK && rc == SQLITE_OK)
        rc = SQLITE_IOERR;
    handle.db = nullptr;
    if (rc != SQLITE_OK) {
        QFile::remove(path);
        return sqliteFailure(rc, ErrorCode::WriteFailed, Failed::writingFile, path);
    }
    return {};
}

} // namespace Merchalog
