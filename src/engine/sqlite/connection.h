#pragma once

#include "engine/kinds/schema.h"
#include "engine/result.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <utility>
#include <vector>

struct sqlite3;

namespace Merchalog {

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
    // opening it when no record source holds it yet. A file that cannot be opened fails with
    // one of the codes isOpenFailure() tells, naming what was found in a refused file.
    static Result<std::shared_ptr<Connection>> open(const QString &fileName);

    // Tells whether a file is a catalogue, as open() would, without keeping it open and
    // without changing or creating it.
    static Status check(const QString &fileName);

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

    // Writes a consistent copy of the whole catalogue to another file, through a new
    // temporary file beside it that replaces the target only when the copy is complete.
    Status backupTo(const QString &targetPath) const;

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

// The failure rc of an SQLite call on the catalogue file at path: Busy when another program
// kept the file busy, otherwise code; worded as every file failure, what failed and why.
Status sqliteFailure(int rc, ErrorCode code, QStringView what, const QString &path);

// The failure to open the catalogue file at path, naming what was found in it (detail).
Status openFailure(ErrorCode code, const QString &path, const QString &detail = {});

// Creates a new, empty catalogue file at the path (which must not exist). Used by the build
// to write the template and by tests to make catalogues.
Status createCatalogueFile(const QString &path);

} // namespace Merchalog
