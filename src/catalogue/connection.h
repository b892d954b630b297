#pragma once

#include "catalogue/schema.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <utility>
#include <vector>

struct sqlite3;

namespace Merchalog {

// A column of a catalogue table as the file declares it.
struct ColumnInfo
{
    QString name;
    Kind kind = Kind::Text;
};

// The columns of one table in the file's own order, without its key column.
struct TableInfo
{
    QString name;
    std::vector<ColumnInfo> columns;
    // The key column (format 2), an alias of the rowid; empty when the table has none.
    QString key;

    // Index of a column, matched without regard to case; -1 when absent.
    int indexOf(QAnyStringView column) const;
};

// Why a catalogue file could not be opened.
enum class OpenError {
    None,
    Missing,      // no such file
    NotDatabase,  // not an SQLite database (or unreadable)
    NotCatalogue, // an SQLite database without our mark or our tables
};

// Which file a connection opened, to notice when it was moved, deleted or replaced.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
};

// One SQLite connection to a catalogue file, shared by every record source that names the
// file. Opening never creates a file. Every connection waits for a busy file instead of
// failing at once, and writes with full synchronisation so that a change is on disk when
// the statement that made it returns.
class Connection final
{
public:
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Returns the shared connection for a file name (resolved against the working directory),
    // opening it when no record source holds it yet. Returns null and sets *error on failure.
    static std::shared_ptr<Connection> open(const QString &fileName, OpenError *error = nullptr,
                                            QString *errorString = nullptr);

    // Tells whether a file is a catalogue, without keeping it open and without creating it.
    static OpenError check(const QString &fileName);

    // The path and identity of every file a connection has open now (see writeguard.h).
    static std::vector<std::pair<QString, FileIdentity>> openFiles();

    sqlite3 *handle() const { return m_db; }
    QString filePath() const { return m_filePath; }
    bool isReadOnly() const;
    // False once the file was deleted, moved away or replaced since it was opened (writes to
    // it would then be lost).
    bool isStillPresent() const;

    // The table's columns (matched without regard to case), or null when the file has no such table.
    const TableInfo *table(QStringView name) const;

    // Writes a consistent copy of the whole catalogue to another file (replacing it).
    bool backupTo(const QString &targetPath, QString *errorString = nullptr) const;

    // The message SQLite gave for the last failure on this connection.
    QString lastSqliteError() const;

private:
    Connection(sqlite3 *db, QString filePath);
    bool readSchema();

    sqlite3 *m_db = nullptr;
    QString m_filePath;
    std::vector<TableInfo> m_tables;
    FileIdentity m_identity;
};

// Creates a new, empty catalogue file at the path (which must not exist). Used by the build
// to write the template and by tests to make catalogues.
bool createCatalogueFile(const QString &path, QString *errorString = nullptr);

} // namespace Merchalog
