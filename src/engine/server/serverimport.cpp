#include "engine/server/serverstore.h"

#include "engine/kinds/number.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/likefunction.h"

#include <QList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

QByteArray serverName(QLatin1StringView name)
{
    return QString(name).toLower().toLatin1();
}

QByteArray placeholder(std::size_t position)
{
    return '$' + QByteArray::number(qulonglong(position));
}

// A number or small integer in the text form the server reads.
QByteArray numberParameter(Kind kind, qint64 value)
{
    return kind == Kind::Number ? Currency::fromUnits(value).toPlainText().toLatin1() : QByteArray::number(value);
}

// An import into a server catalogue, on a connection of its own: a window's refresh on the
// program's shared connection must never run inside (or commit) the import's transaction.
// Writing is one transaction begun at the start; every statement is prepared once. Lookups of
// a batch that only plans run each on their own, holding nothing.
class ServerImportBatch final : public ImportBatch
{
public:
    // Within an outer transaction (see ServerStore::buildCatalogue), the batch neither begins
    // nor ends one: commit() leaves that to the transaction's owner.
    ServerImportBatch(std::shared_ptr<Server::Session> session, const ImportTarget &target, bool outer = false)
        : m_session(std::move(session))
        , m_target(target)
        , m_outer(outer)
        , m_prefix(serverName(target.table) + '_')
    {
    }
    ~ServerImportBatch() override
    {
        if (m_writing && !m_outer)
            m_session->execHere("ROLLBACK");
    }

    bool prepare(bool write)
    {
        const QByteArray table = serverName(m_target.table);
        const QByteArray key = serverName(m_target.fields[m_target.key].name);
        if (!m_session->prepare(m_prefix + "find_key", "SELECT 1 FROM " + table + " WHERE " + key + " = $1::numeric LIMIT 2")
            || !m_session->prepare(m_prefix + "find_supplier",
                                   "SELECT torihiki_mei FROM torihiki WHERE torihiki_code = $1::numeric LIMIT 1"))
            return false;
        if (!write)
            return true;
        // Every text is stored with its folded copy, which searches compare.
        QList<QByteArray> names;
        QList<QByteArray> marks;
        for (const FieldDef &field : m_target.fields) {
            names << serverName(field.name);
            marks << placeholder(std::size_t(marks.size()) + 1);
            if (field.kind == Kind::Text) {
                names << serverName(field.name) + "_fold";
                marks << placeholder(std::size_t(marks.size()) + 1);
            }
        }
        QList<QByteArray> sets;
        std::size_t position = 0;
        for (const std::size_t f : m_target.updated) {
            const FieldDef &field = m_target.fields[f];
            sets << serverName(field.name) + " = " + placeholder(++position);
            if (field.kind == Kind::Text)
                sets << serverName(field.name) + "_fold = " + placeholder(++position);
        }
        if (sets.isEmpty())
            sets << key + " = " + key;
        const QByteArray id = serverName(keyFieldOf(m_target.table));
        if (!m_outer && !m_session->execHere("BEGIN").ok())
            return false;
        m_writing = true;
        // Rows go in groups with their keys taken from the table's identity beforehand, so
        // that insert() can answer its key without a trip to the server for every row.
        m_insertHead = "INSERT INTO " + table + " (" + id + ", " + names.join(", ") + ") VALUES ";
        m_rowParameters = std::size_t(marks.size()) + 1;
        m_groupRows = std::min<std::size_t>(maxGroupRows, maxParameters / m_rowParameters);
        return m_session->prepare(m_prefix + "next_keys", "SELECT nextval(pg_get_serial_sequence('" + table + "', '" + id
                                                   + "')) FROM generate_series(1, $1::integer)")
            && m_session->prepare(m_prefix + "insert_rows", insertSql(m_groupRows))
            && m_session->prepare(m_prefix + "update_rows", "UPDATE " + table + " SET " + sets.join(", ") + " WHERE " + key
                                                     + " = " + placeholder(position + 1) + "::numeric RETURNING " + id);
    }

    Result<int> countKey(qint64 key) override
    {
        const Server::Result found = m_session->execPrepared(m_prefix + "find_key", {Currency::fromUnits(key).toPlainText().toLatin1()});
        if (!found.ok())
            return failure(ErrorCode::ReadFailed);
        return found.rows();
    }

    Result<std::optional<QString>> supplierName(qint64 code) override
    {
        const Server::Result found = m_session->execPrepared(m_prefix + "find_supplier", {Currency::fromUnits(code).toPlainText().toLatin1()});
        if (!found.ok())
            return failure(ErrorCode::ReadFailed);
        if (found.rows() == 0)
            return std::optional<QString>();
        return std::optional<QString>(found.text(0, 0));
    }

    Status release() override { return {}; }

    // The row is sent with its group: a failure of the server shows at a later insert(),
    // update() or commit(), which fails the import and stores nothing.
    Result<Bookmark> insert(std::span<const BatchValue> values) override
    {
        if (m_nextKey == m_keys.size()) {
            const Server::Result taken =
                m_session->execPrepared(m_prefix + "next_keys", {QByteArray::number(qulonglong(m_groupRows))});
            if (!taken.ok() || std::size_t(taken.rows()) != m_groupRows)
                return failure(ErrorCode::WriteFailed);
            m_keys.clear();
            m_nextKey = 0;
            for (int row = 0; row < taken.rows(); ++row)
                m_keys.push_back(taken.integer(row, 0));
        }
        const qint64 key = m_keys[m_nextKey++];
        m_pending.emplace_back(QByteArray::number(key));
        for (std::size_t f = 0; f < values.size(); ++f)
            addParameter(m_pending, f, values[f]);
        if (++m_pendingRows == m_groupRows) {
            if (Status sent = sendPending(); !sent)
                return sent;
        }
        return Bookmark(key);
    }

    Status update(qint64 key, std::span<const BatchValue> values, std::vector<Bookmark> *keys) override
    {
        if (Status sent = sendPending(); !sent)
            return sent;
        std::vector<Server::Parameter> parameters;
        parameters.reserve(values.size() * 2 + 1);
        for (std::size_t i = 0; i < values.size(); ++i)
            addParameter(parameters, m_target.updated[i], values[i]);
        parameters.emplace_back(Currency::fromUnits(key).toPlainText().toLatin1());
        const Server::Result updated = m_session->execPrepared(m_prefix + "update_rows", parameters);
        if (!updated.ok())
            return failure(ErrorCode::WriteFailed);
        for (int row = 0; keys && row < updated.rows(); ++row)
            keys->push_back(updated.integer(row, 0));
        return {};
    }

    Status commit() override
    {
        if (Status sent = sendPending(); !sent)
            return sent;
        if (m_outer)
            return {};
        if (!m_session->execHere("COMMIT").ok())
            return failure(ErrorCode::WriteFailed);
        m_writing = false;
        return {};
    }

    Status failure(ErrorCode code) const
    {
        const QString reason = m_session->connectionLost()
            ? u"サーバーとの接続が切れました: %1"_s.arg(m_session->lastReason())
            : m_session->lastReason();
        return fileFailure(code, code == ErrorCode::WriteFailed ? Failed::importing : Failed::reading,
                           m_session->address(), reason);
    }

private:
    static constexpr std::size_t maxGroupRows = 500;
    static constexpr std::size_t maxParameters = 65535; // of one statement, the protocol's limit

    QByteArray insertSql(std::size_t rows) const
    {
        QByteArray sql = m_insertHead;
        std::size_t position = 0;
        for (std::size_t row = 0; row < rows; ++row) {
            sql += row ? ", (" : "(";
            for (std::size_t p = 0; p < m_rowParameters; ++p)
                sql += (p ? ", " : "") + placeholder(++position);
            sql += ')';
        }
        return sql;
    }

    // Sends the rows insert() has gathered: a full group by its prepared statement, the
    // last, shorter one on its own.
    Status sendPending()
    {
        if (m_pendingRows == 0)
            return {};
        const Server::Result inserted = m_pendingRows == m_groupRows
            ? m_session->execPrepared(m_prefix + "insert_rows", m_pending)
            : m_session->execHere(insertSql(m_pendingRows), m_pending);
        if (!inserted.ok())
            return failure(ErrorCode::WriteFailed);
        m_pending.clear();
        m_pendingRows = 0;
        return {};
    }

    void addParameter(std::vector<Server::Parameter> &parameters, std::size_t field, const BatchValue &value) const
    {
        const Kind kind = m_target.fields[field].kind;
        if (value.isNull) {
            parameters.emplace_back(std::nullopt);
            if (kind == Kind::Text)
                parameters.emplace_back(std::nullopt);
            return;
        }
        if (kind != Kind::Text) {
            parameters.emplace_back(numberParameter(kind, value.integer));
            return;
        }
        // Folded after the trip through UTF-8 every stored text takes, as a search folds it.
        const QByteArray utf8 = value.text.toUtf8();
        parameters.emplace_back(utf8);
        parameters.emplace_back(foldForComparison(QString::fromUtf8(utf8)).toUtf8());
    }

    std::shared_ptr<Server::Session> m_session;
    ImportTarget m_target;
    bool m_outer = false;
    QByteArray m_prefix; // of the statements' names: two tables' batches share a connection
    bool m_writing = false;
    QByteArray m_insertHead;
    std::size_t m_rowParameters = 0;
    std::size_t m_groupRows = 1;
    std::vector<qint64> m_keys; // taken from the identity, not yet given
    std::size_t m_nextKey = 0;
    std::vector<Server::Parameter> m_pending;
    std::size_t m_pendingRows = 0;
};

} // namespace

Result<std::unique_ptr<ImportBatch>> ServerStore::beginImport(const ImportTarget &target, bool write)
{
    const TableInfo *stored = table(QString(target.table));
    if (!stored)
        return openFailure(ErrorCode::NotCatalogue, m_catalogue->address(), u"表 %1 がありません"_s.arg(QString(target.table)));
    QString error;
    auto session = m_catalogue->session().another(&error);
    if (!session)
        return Status(write ? ErrorCode::WriteFailed : ErrorCode::ReadFailed, error);
    auto batch = std::make_unique<ServerImportBatch>(std::shared_ptr<Server::Session>(std::move(session)), target);
    if (!batch->prepare(write))
        return batch->failure(write ? ErrorCode::WriteFailed : ErrorCode::ReadFailed);
    return std::unique_ptr<ImportBatch>(std::move(batch));
}

ServerStore::CatalogueBuild::~CatalogueBuild()
{
    if (m_session && !m_session->connectionLost())
        m_session->execHere("ROLLBACK");
}

Result<std::unique_ptr<ServerStore::CatalogueBuild>> ServerStore::buildCatalogue(const QString &address, bool replace)
{
    QString error;
    std::shared_ptr<Server::Session> session = Server::Session::connect(address, &error);
    if (!session)
        return Status(ErrorCode::WriteFailed, error);
    std::unique_ptr<CatalogueBuild> build(new CatalogueBuild);
    const auto failed = [&] {
        return Status(ErrorCode::WriteFailed,
                      u"サーバーに書き込めませんでした: %1 (%2)"_s.arg(session->address(), session->lastReason()));
    };
    const std::optional<bool> holds = Server::holdsCatalogue(*session);
    if (!holds)
        return failed();
    if (*holds && !replace) {
        return Status(ErrorCode::WriteFailed,
                      u"コピー先のデータベースにはすでにカタログがあります（置き換えるには --replace を付けてください）: %1"_s.arg(
                          session->address()));
    }
    if (!session->execHere("BEGIN").ok() || !session->script(Server::createTablesSql(replace)))
        return failed();
    build->m_session = std::move(session);
    return build;
}

Result<std::unique_ptr<ImportBatch>> ServerStore::CatalogueBuild::beginImport(const ImportTarget &target)
{
    auto batch = std::make_unique<ServerImportBatch>(m_session, target, true);
    if (!batch->prepare(true))
        return batch->failure(ErrorCode::WriteFailed);
    return std::unique_ptr<ImportBatch>(std::move(batch));
}

Status ServerStore::CatalogueBuild::finish()
{
    if (!m_session->script(Server::createIndexesSql()) || !m_session->execHere("COMMIT").ok()) {
        return Status(ErrorCode::WriteFailed,
                      u"サーバーに書き込めませんでした: %1 (%2)"_s.arg(m_session->address(), m_session->lastReason()));
    }
    m_session.reset();
    return {};
}

} // namespace Merchalog
