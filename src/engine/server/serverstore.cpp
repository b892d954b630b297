#include "engine/server/serverstore.h"

#include "engine/statements/statement.h"

#include <QHash>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Rows fetched for the list in one exchange with the server: a screen or two.
constexpr std::size_t pageRows = 200;

StoredRow asStoredRow(const Server::StoredRow &row)
{
    return StoredRow{row.values, row.stored};
}

QHash<int, QVariant> asHash(const ColumnValues &values)
{
    QHash<int, QVariant> hash;
    for (const auto &[column, value] : values)
        hash.insert(column, value);
    return hash;
}

} // namespace

ServerStore::ServerStore(std::unique_ptr<Server::Catalogue> catalogue)
    : m_catalogue(std::move(catalogue))
{
}

Result<std::shared_ptr<ServerStore>> ServerStore::open(const QString &address)
{
    QString error;
    ErrorCode code = ErrorCode::None;
    auto catalogue = Server::Catalogue::open(address, &error, &code);
    if (!catalogue)
        return Status(code, error);
    return std::make_shared<ServerStore>(std::move(catalogue));
}

Result<std::shared_ptr<ServerStore>> ServerStore::shared(const QString &address)
{
    static QHash<QString, std::weak_ptr<ServerStore>> stores;
    if (auto store = stores.value(address).lock())
        return store;
    auto opened = open(address);
    if (opened)
        stores.insert(address, *opened);
    return opened;
}

const TableInfo *ServerStore::table(QStringView name) const
{
    return Server::Catalogue::table(name);
}

Status ServerStore::readFailure() const
{
    return Status(ErrorCode::ReadFailed, m_catalogue->errorString());
}

Status ServerStore::writeFailure(Server::WriteResult result, QStringView what) const
{
    const Server::Session &session = const_cast<Server::Catalogue &>(*m_catalogue).session();
    if (result == Server::WriteResult::Busy)
        return fileFailure(ErrorCode::Busy, what, session.address(), Reason::busy);
    const QString reason = session.connectionLost()
        ? u"サーバーとの接続が切れました: %1"_s.arg(session.lastReason())
        : session.lastReason();
    return fileFailure(ErrorCode::WriteFailed, what, session.address(), reason);
}

Result<std::vector<Bookmark>> ServerStore::selectKeys(const TableInfo &table, const Statement &statement)
{
    QString error;
    const auto query = Server::Catalogue::compile(statement, table, &error);
    if (!query)
        return Status(ErrorCode::BadStatement, error);
    std::vector<Bookmark> keys;
    if (!m_catalogue->selectKeys(table, *query, &keys))
        return readFailure();
    return keys;
}

Result<std::optional<StoredRow>> ServerStore::readRow(const TableInfo &table, Bookmark key)
{
    std::vector<Server::StoredRow> rows;
    if (!m_catalogue->readRows(table, {key}, &rows))
        return readFailure();
    if (rows.empty())
        return std::optional<StoredRow>();
    return std::optional<StoredRow>(asStoredRow(rows.front()));
}

Result<std::size_t> ServerStore::readSlice(const TableInfo &table, std::span<const Bookmark> keys, bool,
                                           std::vector<Row> *rows, std::vector<Bookmark> *gone)
{
    const std::vector<Bookmark> page(keys.begin(), keys.begin() + std::ptrdiff_t(std::min(keys.size(), pageRows)));
    std::vector<Server::StoredRow> read;
    if (!m_catalogue->readRows(table, page, &read))
        return readFailure();
    // Rows come in the order of the keys, without the keys that are gone.
    auto next = read.begin();
    for (const Bookmark key : page) {
        if (next != read.end() && next->key == key) {
            rows->push_back(std::move(next->values));
            ++next;
        } else {
            gone->push_back(key);
        }
    }
    return page.size();
}

Result<Bookmark> ServerStore::insert(const TableInfo &table, const ColumnValues &values)
{
    std::int64_t key = 0;
    const Server::WriteResult result = m_catalogue->append(table, asHash(values), &key);
    if (result != Server::WriteResult::Done)
        return writeFailure(result, Failed::adding);
    return Bookmark(key);
}

Result<WriteOutcome> ServerStore::outcome(Server::WriteResult result, const Server::StoredRow &now,
                                          QStringView what) const
{
    switch (result) {
    case Server::WriteResult::Done:
        return WriteOutcome{WriteOutcome::Found::AsRead, now.values.isEmpty() ? StoredRow{} : asStoredRow(now)};
    case Server::WriteResult::Gone:
        return WriteOutcome{WriteOutcome::Found::Gone, {}};
    case Server::WriteResult::Changed:
        return WriteOutcome{WriteOutcome::Found::Changed, asStoredRow(now)};
    case Server::WriteResult::Busy:
    case Server::WriteResult::Failed:
        break;
    }
    return writeFailure(result, what);
}

Result<WriteOutcome> ServerStore::update(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                         const ColumnValues &values)
{
    Server::StoredRow now;
    const Server::WriteResult result = m_catalogue->update(table, key, expected, asHash(values), &now);
    return outcome(result, now, Failed::storing);
}

Result<WriteOutcome> ServerStore::remove(const TableInfo &table, Bookmark key, const QByteArray &expected)
{
    Server::StoredRow now;
    const Server::WriteResult result = m_catalogue->remove(table, key, expected, &now);
    return outcome(result, now, Failed::deleting);
}

} // namespace Merchalog
