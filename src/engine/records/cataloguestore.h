#pragma once

#include "engine/kinds/schema.h"
#include "engine/result.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace Merchalog {

struct Statement;

// Identifies a stored record (its key, which for a file is the SQLite rowid); 0 names none.
using Bookmark = std::int64_t;

// One row as read: per field a QString (text), a Currency (number), an int (small integer)
// or a null QVariant for an empty value. A stored value the field's kind cannot hold comes
// as its text.
using Row = QVariantList;

// A record as stored: its values, and a fingerprint of them exactly as stored (type and
// bytes), which tells whether the record changed since it was read.
struct StoredRow
{
    Row values;
    QByteArray fingerprint;
};

// Values to store, by column index (ascending).
using ColumnValues = std::vector<std::pair<int, QVariant>>;

// What a checked write found: the record as it was read (and the write was made), deleted
// since, or changed since (nothing was written).
struct WriteOutcome
{
    enum class Found { AsRead, Gone, Changed };
    Found found = Found::AsRead;
    // AsRead after an update: the record as now stored. Changed: the record as it now
    // stands. Empty otherwise.
    StoredRow row;
};

// One value an import stores: the text of a text field, otherwise the integer (a number's
// ten-thousandths, a small integer), or none.
struct BatchValue
{
    qint64 integer = 0;
    QString text;
    bool isNull = false; // no value at all (stored as null)
};

// What an import writes into: a table, its fields in the order the values come, the field
// whose value identifies a record (a product's JAN, a supplier's code), and the fields an
// update by that key sets.
struct ImportTarget
{
    QLatin1StringView table;
    std::span<const FieldDef> fields;
    std::size_t key = 0;
    std::vector<std::size_t> updated;
};

// An import's hold on a catalogue: lookups of the keys already stored and, when opened for
// writing, one transaction of many inserts and key-matched updates that commit() stores all
// together; going away without commit() stores nothing. Lookups of a batch opened for reading
// share one short read, which release() ends so that writers elsewhere are not kept waiting.
class ImportBatch
{
public:
    virtual ~ImportBatch() = default;

    // How many records hold this key value, counted up to two.
    virtual Result<int> countKey(qint64 key) = 0;
    // The name of the supplier with this code; an empty optional when there is none.
    virtual Result<std::optional<QString>> supplierName(qint64 code) = 0;
    virtual Status release() = 0;

    // Adds a record of every field's value; returns its key.
    virtual Result<Bookmark> insert(std::span<const BatchValue> values) = 0;
    // Sets the updated fields (values in their order) of every record with the key value;
    // appends their keys to keys.
    virtual Status update(qint64 key, std::span<const BatchValue> values, std::vector<Bookmark> *keys) = 0;
    virtual Status commit() = 0;
};

// Where the rows of a catalogue live: the one thing a record source asks of a catalogue
// file (or any other kind of catalogue). Reads hold the catalogue only for a moment each, so
// that other programs never wait long; every write is checked and atomic. Failures are
// worded as every file failure (see result.h) and name the catalogue.
class CatalogueStore
{
public:
    virtual ~CatalogueStore() = default;

    // A table's fields and key (matched without regard to case), or null when there is none
    // such. The table lives as long as the store.
    virtual const TableInfo *table(QStringView name) const = 0;

    // The keys of the rows a parsed statement selects, in key order. Fails with
    // BadStatement for conditions the table cannot answer.
    virtual Result<std::vector<Bookmark>> selectKeys(const TableInfo &table, const Statement &statement) = 0;

    // One record by key; no value when no record has the key (any more).
    virtual Result<std::optional<StoredRow>> readRow(const TableInfo &table, Bookmark key) = 0;

    // Reads the records of keys in their order (keys ascending when sorted) for one short
    // slice of work: appends each record's values to rows and each key no longer stored to
    // gone, and returns how many keys it went through (at least one unless keys is empty).
    // The read is over when it returns, so a writer waits a moment at most.
    virtual Result<std::size_t> readSlice(const TableInfo &table, std::span<const Bookmark> keys, bool sorted,
                                          std::vector<Row> *rows, std::vector<Bookmark> *gone) = 0;

    // Adds a record; returns its key. A value the store refuses adds nothing.
    virtual Result<Bookmark> insert(const TableInfo &table, const ColumnValues &values) = 0;

    // Changes the record key to values, in one transaction, only while it is still stored
    // with the fingerprint expected (what the caller read); otherwise writes nothing and says
    // what it found.
    virtual Result<WriteOutcome> update(const TableInfo &table, Bookmark key, const QByteArray &expected,
                                        const ColumnValues &values) = 0;

    // Removes the record key, on the same condition as update.
    virtual Result<WriteOutcome> remove(const TableInfo &table, Bookmark key, const QByteArray &expected) = 0;

    // Starts an import into target: for looking up only, or for writing (the write
    // transaction taken at once). Fails when the table lacks one of the fields.
    virtual Result<std::unique_ptr<ImportBatch>> beginImport(const ImportTarget &target, bool write) = 0;
};

// Opens the catalogue a record source names: a catalogue file (see Connection) or a server
// address (postgresql://…, see ServerStore). Fails
// with one of the codes isOpenFailure() tells.
Result<std::shared_ptr<CatalogueStore>> openCatalogueStore(const QString &name);

} // namespace Merchalog
