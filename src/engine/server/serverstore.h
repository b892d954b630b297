#pragma once

#include "engine/records/cataloguestore.h"
#include "engine/server/servercatalogue.h"

#include <memory>

namespace Merchalog {

// A catalogue on a PostgreSQL server as a record source's store (see Server::Catalogue).
// Every call is its own short exchange with the server: a selection reads its keys through a
// cursor in one read-only transaction, rows are fetched a page at a time by key, and each
// write is checked against the record as read and committed before the call returns, so no
// transaction stays open while the program waits for the user. A connection that went away
// fails the call that meets it, with the server's reason, and is made again by the next.
class ServerStore final : public CatalogueStore
{
public:
    explicit ServerStore(std::unique_ptr<Server::Catalogue> catalogue);

    // Connects to the catalogue at address. The failure is an open failure (see
    // isOpenFailure) worded with the server's reason.
    static Result<std::shared_ptr<ServerStore>> open(const QString &address);
    // The store the program already holds for this address text, or a new one: every window
    // on one catalogue shares one connection.
    static Result<std::shared_ptr<ServerStore>> shared(const QString &address);

    Server::Catalogue &catalogue() { return *m_catalogue; }

    // A new catalogue being made in a server's database, in one transaction: the tables, the
    // rows of import batches, then the indexes when finished. Going away unfinished leaves the
    // database as it was.
    class CatalogueBuild final
    {
    public:
        ~CatalogueBuild();
        // A batch for writing one table's rows; its commit() leaves the storing to finish().
        Result<std::unique_ptr<ImportBatch>> beginImport(const ImportTarget &target);
        Status finish();

    private:
        friend class ServerStore;
        CatalogueBuild() = default;
        std::shared_ptr<Server::Session> m_session;
    };
    // Starts making a catalogue at address; a database that holds one already is refused
    // unless replace (as a copy refuses it).
    static Result<std::unique_ptr<CatalogueBuild>> buildCatalogue(const QString &address, bool replace);

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
    Status readFailure() const;
    Status writeFailure(Server::WriteResult result, QStringView what) const;
    Result<WriteOutcome> outcome(Server::WriteResult result, const Server::StoredRow &now, QStringView what) const;

    std::unique_ptr<Server::Catalogue> m_catalogue;
};

} // namespace Merchalog
