#pragma once

#include "engine/records/cataloguestore.h"
#include "engine/sqlite/connection.h"

#include <memory>

namespace Merchalog {

// A catalogue file as a record source's store: reads and writes go through the file's shared
// connection (see Connection), with SQL compiled from parsed statements (see sqlcompiler.h).
//
// Long reads go in slices of about 10 ms, each its own read, so a program waiting to write
// waits about that long at most. A write first makes sure the file can still take it (not
// moved away, deleted or write-protected since it was opened: the change would be lost), and
// an update or removal checks, inside its write transaction, that the record is stored as it
// was read.
class SqliteStore final : public CatalogueStore
{
public:
    explicit SqliteStore(std::shared_ptr<Connection> connection);

    // The store of the catalogue file name (resolved against the working folder).
    static Result<std::shared_ptr<SqliteStore>> open(const QString &name);

    const std::shared_ptr<Connection> &connection() const { return m_connection; }

    const TableInfo *table(QStringView name) const override;
    Result<std::vector<Bookmark>> selectKeys(const TableInfo &table, const Statement &statement) override;
    Result<std::optional<StoredRow>> readRow(const TableInfo &table, Bookmark key) override;
    Result<std::size_t> readSlice(const TableInfo &table, std::span<const Bookmark> keys, bool sorted,
                                  std::vector<Row> *rows, std::vector<Bookmark> *gone) override;
    Result<Bookmark> insert(const TableInfo &table, const ColumnValues &values) override;
    Result<WriteOutcome> update(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                const ColumnValues &values) override;
    Result<WriteOutcome> remove(const TableInfo &table, Bookmark key, const QByteArray &expected) override;
    Result<std::unique_ptr<ImportBatch>> beginImport(const ImportTarget &target, bool write) override;

private:
    Status checkWritable(QStringView what) const;
    Status failure(int rc, ErrorCode code, QStringView what) const;
    // Reads a record: SQLITE_ROW when found, SQLITE_DONE when there is none, else the failure.
    int readStored(const TableInfo &table, Bookmark key, StoredRow *row) const;
    // Inside a write: whether the record is stored as expected.
    Result<WriteOutcome> checkUnchanged(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                        QStringView what) const;

    std::shared_ptr<Connection> m_connection;
};

} // namespace Merchalog
