#pragma once

#include "engine/sqlite/connection.h"
#include "engine/result.h"
#include "engine/server/session.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Merchalog {
struct Statement;
}

namespace Merchalog::Server {

// One stored record as read from the server: its key, its values by the table's columns
// (QString, Currency, int or null, as a file catalogue gives them) and its stored text, for
// telling later whether it changed.
struct StoredRow
{
    std::int64_t key = 0;
    QVariantList values;
    QByteArray stored;
};

// A compiled condition list: SQL that names only columns and $n parameters.
struct Query
{
    QByteArray where;
    std::vector<Parameter> parameters;
    bool onSearchTable = false; // runs on syohin_search, which has the fields it names
    // A product search that the name's trigram postings answer exactly, where the catalogue
    // keeps them: the folded name holds this run of three characters (UTF-8), and the JAN
    // differs from each of janNotEqual (plain number texts).
    QByteArray gram;
    std::vector<QByteArray> janNotEqual;
};

// What a write found.
enum class WriteResult {
    Done,
    Gone,    // the record was deleted meanwhile: nothing stored
    Changed, // the record was changed meanwhile: nothing stored, *now holds it as it stands
    Busy,    // another program held the record beyond the wait: nothing stored
    Failed,  // the server refused or went away: nothing stored (errorString says why)
};

// A catalogue on a PostgreSQL server: the tables syohin and torihiki with the file
// catalogue's fields (numbers exact as numeric(19,4), small integers as smallint), a key
// column that is never handed out twice, and a folded copy of every text field (kept by the
// program with its own folding) that searches compare; the product name's copy has a
// trigram index, so that a name pattern with a run of three or more plain characters is
// looked up rather than scanned for. Besides, a trigger keeps for every run of three
// characters of the folded names the keys of the products that hold it (syohin_gram), so
// that a search for a name holding such a run reads its keys without visiting the rows.
// Every change is committed when the call returns.
class Catalogue final
{
public:
    // Connects and checks that the database holds a catalogue of a format this program reads.
    // On failure *code tells why: NotDatabase (no connection), NotCatalogue or NewerFormat.
    static std::unique_ptr<Catalogue> open(const QString &address, QString *error = nullptr,
                                           ErrorCode *code = nullptr);
    explicit Catalogue(std::unique_ptr<Session> session) : m_session(std::move(session)) {}

    Session &session() { return *m_session; }
    QString address() const { return m_session->address(); }

    // The table's fields in canonical order (matched without regard to case), or null.
    static const TableInfo *table(QAnyStringView name);

    // Compiles a statement's conditions for the table; nullopt and *error (the same texts as
    // for a file catalogue) for a field it lacks or a comparison its kind cannot make.
    static std::optional<Query> compile(const Statement &statement, const TableInfo &table, QString *error);

    // Whether the catalogue keeps the trigram postings: false for one made by an older
    // version that could not be brought up to date when it was opened (then every name
    // search reads the rows).
    bool keepsPostings() const { return m_postings; }

    // The keys of the rows a query selects, in key order. Read through a cursor in slices,
    // so that a result of any size needs little memory.
    bool selectKeys(const TableInfo &table, const Query &query, std::vector<std::int64_t> *keys);
    // The rows with these keys, in the order of the keys; keys of rows that are gone are
    // left out.
    bool readRows(const TableInfo &table, const std::vector<std::int64_t> &keys, std::vector<StoredRow> *rows);
    // Visits every row of a table in key order, read in slices.
    bool forEachStored(const TableInfo &table, const std::function<bool(const StoredRow &)> &visit);

    // Stores a new record (columns by index into the table's fields); *key gets its key.
    WriteResult append(const TableInfo &table, const QHash<int, QVariant> &values, std::int64_t *key);
    // Stores values into a record, provided it is stored as it was read (storedAsRead);
    // *now gets the record as it stands after the call (also when Changed).
    WriteResult update(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead,
                       const QHash<int, QVariant> &values, StoredRow *now);
    // Deletes a record, provided it is stored as it was read; *now as for update.
    WriteResult remove(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead, StoredRow *now);

    QString errorString() const { return m_error; }

private:
    WriteResult change(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead,
                       const QHash<int, QVariant> *values, StoredRow *now);
    WriteResult failWrite();
    bool fail();

    bool addPostings();

    std::unique_ptr<Session> m_session;
    QString m_error;
    bool m_postings = false;
};

// The server's form of a value bound for storing (nullopt for null).
Parameter storedParameter(const QVariant &value);

// Whether the database holds a catalogue table already (so that a copy must not land there
// without being told to replace it); nullopt when that cannot be read.
std::optional<bool> holdsCatalogue(Session &session);
// The statements that make an empty catalogue's tables (replacing any when replace); run in
// one transaction with the data loaded between tables and indexes.
QByteArray createTablesSql(bool replace);
QByteArray createIndexesSql();

} // namespace Merchalog::Server
