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
    NotCatalogue, // an SQLite database without our mark, or whose tables are not ours
    HoldsCode,    // holds something SQLite would run (a trigger, a view)
    NewerFormat,  // a catalogue of a format newer than this program reads
    PathTooLong,  // a path longer than SQLite can open
};

// The Japanese message for a catalogue file that could not be opened, naming the file and,
// when given, what was found in it.
QString openErrorMessage(OpenError error, const QString &path, const QString &detail = {});

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
//
// A catalogue file may come from anyone, so it is data, never code: a file is judged from
// its schema before anything is written to it (checkCatalogueSchema), and every connection
// runs in SQLite's defensive configuration (no triggers or views run, schema objects cannot
// call the program's functions) with each statement bounded in the work it may do.
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

    // Tells whether a file is a catalogue, without keeping it open and without changing or
    // creating it; *detail says what was found in a refused file.
    static OpenError check(const QString &fileName, QString *detail = nullptr);

    // The most virtual-machine steps one statement may take before it is stopped (and fails
    // with a message): far beyond what any search or export of a catalogue of several
    // million products takes, so that only a runaway statement meets it.
    static constexpr qint64 defaultStatementLimit = 200'000'000;
    // Changes the bound for every connection (tests use a small one); 0 restores the default.
    static void setStatementLimit(qint64 steps);

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

    // The last failure on this connection, in Japanese.
    QString lastSqliteError() const;

    // An SQLite handle in the configuration above (defined in connection.cpp).
    struct Handle;

private:
    Connection(std::unique_ptr<Handle> handle, QString filePath);
    bool readSchema();

    std::unique_ptr<Handle> m_handle;
    sqlite3 *m_db = nullptr;
    QString m_filePath;
    std::vector<TableInfo> m_tables;
    FileIdentity m_identity;
};

// The Japanese account of the last failure on an SQLite handle, naming the file.
QString describeSqliteError(sqlite3 *db, const QString &path);

// Creates a new, empty catalogue file at the path (which must not exist). Used by the build
// to write the template and by tests to make catalogues.
bool createCatalogueFile(const QString &path, QString *errorString = nullptr);

} // namespace Merchalog
