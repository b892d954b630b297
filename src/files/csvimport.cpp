#include "files/csvimport.h"

#include "catalogue/connection.h"
#include "catalogue/entrytexts.h"
#include "catalogue/number.h"
#include "catalogue/schema.h"
#include "catalogue/writeguard.h"
#include "files/csvformat.h"
#include "files/csvreader.h"
#include "files/keyset.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>

#include <sqlite3.h>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Progress is told after this many rows.
constexpr qint64 progressEvery = 4096;
// Supplier names looked up for products are remembered up to this many codes.
constexpr qsizetype supplierCacheLimit = 65536;
// The reserved JAN code that is never a duplicate: such rows are hidden from every list.
constexpr qint64 reservedJanUnits = -99 * Currency::unitsPerOne;

constexpr std::size_t noField = std::size_t(-1);

// What the import knows of a table.
struct TableSpec
{
    QLatin1StringView name;
    const FieldDef *fields;
    std::size_t count;
    const QStringView *captions;   // how the header may name each field besides its name
    const QStringView *required;   // the registration's message for each empty field
    std::size_t key;               // the field that identifies a record
    QString keyCaption;            // the key as reasons name it
    std::size_t supplierName = noField; // products: taken from the supplier when not in the file
    std::size_t supplierCode = noField; // products: must name a supplier of the catalogue
};

const TableSpec &specOf(ImportTable table)
{
    static const TableSpec products{Table::syohin,
                                    syohinFields.data(),
                                    syohinFields.size(),
                                    productCsvCaptions.data(),
                                    EntryText::productRequired.data(),
                                    4,
                                    u"JANコード"_s,
                                    7,
                                    8};
    static const TableSpec suppliers{Table::torihiki,
                                     torihikiFields.data(),
                                     torihikiFields.size(),
                                     EntryText::supplierCaptions.data(),
                                     EntryText::supplierRequired.data(),
                                     3,
                                     u"取引先コード"_s};
    return table == ImportTable::Products ? products : suppliers;
}

QString nativeName(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

// A prepared statement that is finalised when it goes.
class Sql final
{
public:
    Sql() = default;
    Sql(sqlite3 *db, const QString &sql)
    {
        const QByteArray utf8 = sql.toUtf8();
        sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr);
    }
    ~Sql() { sqlite3_finalize(m_stmt); }
    Sql(Sql &&other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}
    Sql &operator=(Sql &&other) noexcept
    {
        std::swap(m_stmt, other.m_stmt);
        return *this;
    }

    bool isValid() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }
    void reset() const
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// A transaction that is rolled back unless it was committed: the one write transaction of
// storing, or one of the short read transactions the other passes look things up in.
class Transaction final
{
public:
    explicit Transaction(sqlite3 *db) : m_db(db) {}
    ~Transaction()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool isOpen() const { return m_open; }
    bool begin(bool write)
    {
        m_open = sqlite3_exec(m_db, write ? "BEGIN IMMEDIATE" : "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
        return m_open;
    }
    bool commit()
    {
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
        m_open = false;
        return true;
    }

private:
    sqlite3 *m_db;
    bool m_open = false;
};

// A larger page cache while importing: a million rows with five indexes otherwise spend most
// of their time moving pages between the cache and the file. The connection's own size comes
// back afterwards.
class LargerCache final
{
public:
    explicit LargerCache(sqlite3 *db) : m_db(db)
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA cache_size", -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            m_previous = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
    }
    ~LargerCache()
    {
        const QByteArray sql = "PRAGMA cache_size = " + QByteArray::number(m_previous);
        sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr);
    }

private:
    sqlite3 *m_db;
    qint64 m_previous = -2000;
};

// One field of a row after conversion.
struct FieldValue
{
    bool present = false; // the file has the column
    bool valid = false;   // present, not empty, and of its kind
    qint64 integer = 0;   // units of a number, or the small integer
};

bool isAllEmpty(const CsvRecord &record)
{
    for (const QString &field : record.fields) {
        if (!field.isEmpty())
            return false;
    }
    return record.problem == CsvProblem::None;
}

QString problemReason(CsvProblem problem, TextEncoding encoding)
{
    switch (problem) {
    case CsvProblem::None:
        break;
    case CsvProblem::BadQuote:
        return u"引用符（\"）の閉じ方が正しくありません。"_s;
    case CsvProblem::TooLong:
        return u"行が長すぎます（%1項目、%2文字まで）。"_s.arg(CsvReader::maxFields).arg(CsvReader::maxRecordLength);
    case CsvProblem::Undecodable:
        return u"%1として読めない文字があります。"_s.arg(encodingName(encoding));
    }
    return {};
}

QString expectedHeaders(const TableSpec &spec)
{
    QStringList captions;
    QStringList names;
    for (std::size_t i = 0; i < spec.count; ++i) {
        captions << spec.captions[i].toString();
        names << QString(spec.fields[i].name);
    }
    return u"%1（または %2）"_s.arg(captions.join(u", "_s), names.join(u", "_s));
}

} // namespace

QString exponentNotationReason(QStringView text, QStringView label)
{
    // Digits with an optional point and sign, then E, an optional sign and digits.
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < t.size() && (t[i].isDigit() || t[i] == u'.')) {
        digits += t[i].isDigit() ? 1 : 0;
        ++i;
    }
    if (digits == 0 || i >= t.size() || (t[i] != u'E' && t[i] != u'e'))
        return {};
    ++i;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    if (i >= t.size())
        return {};
    while (i < t.size() && t[i].isDigit())
        ++i;
    if (i != t.size())
        return {};
    return u"「%1」の値が指数表記（%2）です。表計算ソフトで桁が失われた値は読み込めません。"
           "列を文字列として保存し直してください。"_s.arg(label, t);
}

CsvImport::CsvImport(const QString &catalogue, const QString &fileName, ImportTable table,
                     DuplicateChoice duplicates)
    : m_catalogue(catalogue)
    , m_fileName(fileName)
    , m_table(table)
    , m_duplicates(duplicates)
{
}

bool CsvImport::makePlan(const Progress &progress)
{
    return run(Pass::Plan, progress);
}

bool CsvImport::store(const Progress &progress)
{
    return run(Pass::Store, progress);
}

bool CsvImport::saveErrorRows(const QString &fileName, const Progress &progress)
{
    if (const QString open = openCatalogueAt(fileName); !open.isEmpty()) {
        m_errorString = openCatalogueRefusal(open);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        m_errorString = u"「%1」に書き込めません（%2）。"_s.arg(nativeName(fileName), file.errorString());
        return false;
    }
    if (!run(Pass::SaveErrors, progress, &file)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        m_errorString = u"「%1」に書き込めません（%2）。"_s.arg(nativeName(fileName), file.errorString());
        return false;
    }
    return true;
}

bool CsvImport::run(Pass pass, const Progress &progress, QIODevice *errorRows)
{
    m_errorString.clear();
    m_cancelled = false;
    const TableSpec &spec = specOf(m_table);
    const auto fail = [this](const QString &reason) {
        m_errorString = reason;
        return false;
    };

    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(u"「%1」を開けません（%2）。"_s.arg(nativeName(m_fileName), file.errorString()));
    CsvReader reader(&file);
    if (!reader.start())
        return fail(u"「%1」: %2"_s.arg(nativeName(m_fileName), reader.errorString()));

    ImportPlan plan;
    plan.encoding = reader.encoding();

    // The header line names the columns.
    CsvRecord record;
    if (!reader.next(record)) {
        if (!reader.errorString().isEmpty())
            return fail(u"「%1」: %2"_s.arg(nativeName(m_fileName), reader.errorString()));
        return fail(u"「%1」は空です。1行目に見出しが必要です: %2"_s.arg(nativeName(m_fileName), expectedHeaders(spec)));
    }
    plan.headers = record.fields;
    std::vector<int> columnOf(spec.count, -1);
    bool anyKnown = false;
    for (qsizetype column = 0; column < record.fields.size(); ++column) {
        const QString header = record.fields.at(column).trimmed();
        int field = -1;
        for (std::size_t f = 0; f < spec.count; ++f) {
            if (header == spec.captions[f] || QString::compare(header, spec.fields[f].name, Qt::CaseInsensitive) == 0) {
                field = int(f);
                break;
            }
        }
        plan.columnField.push_back(field);
        if (field < 0) {
            plan.unknownColumns << record.fields.at(column);
            continue;
        }
        if (columnOf[std::size_t(field)] >= 0) {
            return fail(u"「%1」の見出し「%2」と「%3」は同じ項目 %4 を指しています。どちらか一方にしてください。"_s.arg(
                nativeName(m_fileName), record.fields.at(columnOf[std::size_t(field)]), record.fields.at(column),
                QString(spec.fields[field].name)));
        }
        columnOf[std::size_t(field)] = int(column);
        anyKnown = true;
    }
    if (!anyKnown || record.problem != CsvProblem::None) {
        return fail(u"「%1」の1行目に%2の見出しがありません。次の見出しが必要です: %3"_s.arg(
            nativeName(m_fileName), m_table == ImportTable::Products ? u"商品"_s : u"取引先"_s,
            expectedHeaders(spec)));
    }
    for (std::size_t f = 0; f < spec.count; ++f) {
        if (columnOf[f] < 0)
            plan.missingFields << spec.captions[f].toString();
    }
    const qsizetype headerCount = record.fieldCount;

    // The catalogue.
    OpenError openError = OpenError::None;
    QString openMessage;
    const auto connection = Connection::open(m_catalogue, &openError, &openMessage);
    if (!connection)
        return fail(openMessage.isEmpty() ? u"カタログ「%1」を開けません。"_s.arg(nativeName(m_catalogue)) : openMessage);
    sqlite3 *db = connection->handle();
    const TableInfo *table = connection->table(QString(spec.name));
    const TableInfo *suppliers = connection->table(QString(Table::torihiki));
    if (!table || !suppliers)
        return fail(u"カタログ「%1」に表 %2 がありません。"_s.arg(nativeName(m_catalogue), QString(spec.name)));
    std::vector<QString> columnName(spec.count);
    for (std::size_t f = 0; f < spec.count; ++f) {
        const int index = table->indexOf(spec.fields[f].name);
        if (index < 0)
            return fail(u"カタログ「%1」に項目 %2 がありません。"_s.arg(nativeName(m_catalogue), QString(spec.fields[f].name)));
        columnName[f] = quoteIdentifier(table->columns[std::size_t(index)].name);
    }
    const QString tableName = quoteIdentifier(table->name);
    const QString keyColumn = columnName[spec.key];
    const auto sqlFailed = [&](const QString &what) {
        return fail(u"カタログ%1。%2"_s.arg(what, describeSqliteError(db, connection->filePath())));
    };

    Sql findKey(db, u"SELECT 1 FROM %1 WHERE %2 = ? LIMIT 1"_s.arg(tableName, keyColumn));
    Sql findSupplier;
    if (spec.supplierCode != noField) {
        const int name = suppliers->indexOf(Field::torihiki_mei);
        const int code = suppliers->indexOf(Field::torihiki_code);
        findSupplier = Sql(db, u"SELECT %1 FROM %2 WHERE %3 = ? LIMIT 1"_s.arg(
                                   quoteIdentifier(suppliers->columns[std::size_t(name)].name),
                                   quoteIdentifier(suppliers->name),
                                   quoteIdentifier(suppliers->columns[std::size_t(code)].name)));
    }
    if (!findKey.isValid() || (spec.supplierCode != noField && !findSupplier.isValid()))
        return sqlFailed(u"を読み込めません"_s);

    // Storing: one transaction, an insert of every field and an update of the fields the file has.
    const LargerCache cache(db);
    Transaction transaction(db);
    Sql insert;
    Sql update;
    std::vector<std::size_t> updated; // fields the update sets, in order
    if (pass == Pass::Store) {
        if (!connection->isStillPresent())
            return fail(u"カタログファイルが見つかりません（移動または削除されました）: %1"_s.arg(nativeName(m_catalogue)));
        if (connection->isReadOnly())
            return fail(u"カタログファイルは読み取り専用です: %1"_s.arg(nativeName(m_catalogue)));
        if (!transaction.begin(true))
            return sqlFailed(u"に書き込めません"_s);
        QStringList names;
        QStringList marks;
        QStringList sets;
        for (std::size_t f = 0; f < spec.count; ++f) {
            names << columnName[f];
            marks << u"?"_s;
            const bool derivedName = f == spec.supplierName && columnOf[spec.supplierCode] >= 0;
            if (f != spec.key && (columnOf[f] >= 0 || derivedName)) {
                sets << columnName[f] + u" = ?"_s;
                updated.push_back(f);
            }
        }
        if (sets.isEmpty())
            sets << keyColumn + u" = "_s + keyColumn;
        insert = Sql(db, u"INSERT INTO %1 (%2) VALUES (%3)"_s.arg(tableName, names.join(u", "_s), marks.join(u", "_s)));
        update = Sql(db, u"UPDATE %1 SET %2 WHERE %3 = ? RETURNING rowid"_s.arg(tableName, sets.join(u", "_s), keyColumn));
        if (!insert.isValid() || !update.isValid())
            return sqlFailed(u"に書き込めません"_s);
    }
    std::vector<std::int64_t> storedProducts;

    QByteArray errorBytes;
    const auto flushErrorRows = [&] {
        if (errorRows->write(errorBytes) != errorBytes.size())
            return fail(u"エラーの行を書き込めません（%1）。"_s.arg(errorRows->errorString()));
        errorBytes.clear();
        return true;
    };
    if (pass == Pass::SaveErrors) {
        errorBytes += byteOrderMarkBytes(plan.encoding);
        appendCsvRecord(plan.headers, plan.encoding, errorBytes);
    }

    KeySet keys;
    QHash<qint64, std::optional<QString>> supplierNames;
    const auto supplierNameOf = [&](qint64 code) -> std::optional<std::optional<QString>> {
        if (const auto it = supplierNames.constFind(code); it != supplierNames.cend())
            return *it;
        sqlite3_stmt *stmt = findSupplier.get();
        sqlite3_bind_int64(stmt, 1, code);
        std::optional<QString> name;
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            name = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)),
                                     sqlite3_column_bytes(stmt, 0));
        }
        findSupplier.reset();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return std::nullopt;
        if (supplierNames.size() >= supplierCacheLimit)
            supplierNames.clear();
        supplierNames.insert(code, name);
        return name;
    };

    std::vector<FieldValue> values(spec.count);
    std::vector<ImportError> rowErrors;
    qint64 rowsSinceProgress = 0;
    while (reader.next(record)) {
        if (isAllEmpty(record))
            continue;
        // Without a write, lookups go in short read transactions: one each would take and
        // release the file's lock every time, one for all would keep writers waiting.
        if (!transaction.isOpen() && !transaction.begin(false))
            return sqlFailed(u"を読み込めません"_s);
        ++plan.rows;
        rowErrors.clear();
        const auto addError = [&](std::size_t field, const QString &reason) {
            ImportError error;
            error.row = record.row;
            if (field != noField) {
                error.field = spec.captions[field].toString();
                if (columnOf[field] >= 0) {
                    error.field = plan.headers.value(columnOf[field]);
                    error.value = record.fields.value(columnOf[field]);
                }
            }
            error.reason = reason;
            rowErrors.push_back(std::move(error));
        };
        const auto textOf = [&](std::size_t field) -> QString {
            return columnOf[field] >= 0 ? record.fields.value(columnOf[field]) : QString();
        };

        // The row as a whole, then each field the file has.
        if (record.problem != CsvProblem::None) {
            addError(noField, problemReason(record.problem, plan.encoding));
        } else if (record.fieldCount != headerCount) {
            addError(noField, u"項目の数が見出しと合いません（見出しは%1項目、この行は%2項目）。"_s.arg(headerCount).arg(record.fieldCount));
        }
        const bool rowReadable = rowErrors.empty();
        for (std::size_t f = 0; f < spec.count; ++f) {
            FieldValue &value = values[f];
            value = FieldValue();
            value.present = columnOf[f] >= 0;
            if (!value.present || !rowReadable)
                continue;
            const QString text = textOf(f);
            if (text.isEmpty()) {
                // A product's supplier name may be left to the supplier the code names.
                if (f != spec.supplierName || columnOf[spec.supplierCode] < 0)
                    addError(f, spec.required[f].toString());
                continue;
            }
            const QString label = plan.headers.value(columnOf[f]).trimmed();
            switch (spec.fields[f].kind) {
            case Kind::Text:
                value.valid = true;
                break;
            case Kind::Number:
                if (const auto number = Currency::parse(text)) {
                    value.valid = true;
                    value.integer = number->units();
                }
                break;
            case Kind::SmallInt:
                if (const auto number = parseSmallInt(text)) {
                    value.valid = true;
                    value.integer = *number;
                }
                break;
            }
            if (!value.valid) {
                const QString exponent = exponentNotationReason(text, label);
                addError(f, exponent.isEmpty() ? EntryText::valueExpected(spec.fields[f].kind, label) : exponent);
            }
        }

        // The key: against the rows before it and against the catalogue.
        const FieldValue &key = values[spec.key];
        const bool keyed = key.valid && !(m_table == ImportTable::Products && key.integer == reservedJanUnits);
        std::optional<qint64> earlierRow;
        bool inCatalogue = false;
        if (keyed) {
            earlierRow = keys.insert(key.integer, record.row);
            if (!keys.errorString().isEmpty())
                return fail(keys.errorString());
            if (earlierRow)
                ++plan.duplicatesInFile;
            const bool addAnyway = m_table == ImportTable::Products && m_duplicates == DuplicateChoice::Add;
            if (!earlierRow && !addAnyway) {
                sqlite3_bind_int64(findKey.get(), 1, key.integer);
                const int rc = sqlite3_step(findKey.get());
                findKey.reset();
                if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                    return sqlFailed(u"を読み込めません"_s);
                inCatalogue = rc == SQLITE_ROW;
            }
        }
        if (earlierRow && !(m_table == ImportTable::Products && m_duplicates == DuplicateChoice::Add)) {
            addError(spec.key, u"%1行目と同じ%2です。"_s.arg(*earlierRow).arg(spec.keyCaption));
        }

        RowOutcome outcome = RowOutcome::Added;
        if (inCatalogue) {
            switch (m_duplicates) {
            case DuplicateChoice::Skip:
                outcome = RowOutcome::Skipped;
                break;
            case DuplicateChoice::Update:
                outcome = RowOutcome::Updated;
                break;
            case DuplicateChoice::Add:
                // Only suppliers get here: a supplier code names one supplier.
                addError(spec.key, EntryText::supplierCodeExists.toString());
                break;
            }
        }
        // A new record needs every field, as registration does.
        if (outcome == RowOutcome::Added && rowReadable) {
            for (std::size_t f = 0; f < spec.count; ++f) {
                if (!values[f].present && f != spec.supplierName)
                    addError(f, spec.required[f].toString());
            }
        }
        // A product's supplier must be in the catalogue; its name comes from there unless the
        // file gives one.
        QString supplierName;
        if (spec.supplierCode != noField && outcome != RowOutcome::Skipped && values[spec.supplierCode].valid) {
            const auto found = supplierNameOf(values[spec.supplierCode].integer);
            if (!found)
                return sqlFailed(u"を読み込めません"_s);
            if (!*found) {
                addError(spec.supplierCode,
                         u"取引先コード「%1」の取引先がカタログにありません。先に取引先を登録してください。"_s.arg(
                             textOf(spec.supplierCode)));
            } else {
                supplierName = **found;
            }
        }
        if (!rowErrors.empty())
            outcome = RowOutcome::Error;

        // Counting, showing and storing.
        ++plan.counts[std::size_t(outcome)];
        QList<ImportRow> &first = plan.firstRows[std::size_t(outcome)];
        if (first.size() < previewRows) {
            ImportRow shown;
            shown.row = record.row;
            for (std::size_t f = 0; f < spec.count; ++f)
                shown.values << textOf(f);
            first << shown;
        }
        for (ImportError &error : rowErrors) {
            ++plan.errorCount;
            if (plan.errors.size() < listedErrors)
                plan.errors << std::move(error);
        }
        if (pass == Pass::SaveErrors && outcome == RowOutcome::Error) {
            appendCsvRecord(record.fields, plan.encoding, errorBytes);
            if (errorBytes.size() > 256 * 1024 && !flushErrorRows())
                return false;
        }
        if (pass == Pass::Store && (outcome == RowOutcome::Added || outcome == RowOutcome::Updated)) {
            const bool adding = outcome == RowOutcome::Added;
            sqlite3_stmt *stmt = adding ? insert.get() : update.get();
            int position = 1;
            const auto bindField = [&](std::size_t f) {
                if (spec.fields[f].kind != Kind::Text) {
                    sqlite3_bind_int64(stmt, position++, values[f].integer);
                    return;
                }
                const QString text = f == spec.supplierName && textOf(f).isEmpty() ? supplierName : textOf(f);
                sqlite3_bind_text16(stmt, position++, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
            };
            if (adding) {
                for (std::size_t f = 0; f < spec.count; ++f)
                    bindField(f);
            } else {
                for (const std::size_t f : updated)
                    bindField(f);
                sqlite3_bind_int64(stmt, position, key.integer);
            }
            int rc;
            const bool listed = m_listStored && m_table == ImportTable::Products;
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                if (listed)
                    storedProducts.push_back(sqlite3_column_int64(stmt, 0));
            }
            if (rc != SQLITE_DONE) {
                const QString reason = describeSqliteError(db, connection->filePath());
                sqlite3_reset(stmt);
                return fail(u"%1行目をカタログに書き込めないため、何も取り込んでいません。%2"_s.arg(record.row).arg(reason));
            }
            // Reserved products are never listed.
            if (adding && listed && key.integer != reservedJanUnits)
                storedProducts.push_back(sqlite3_last_insert_rowid(db));
            (adding ? insert : update).reset();
        }

        if (++rowsSinceProgress >= progressEvery) {
            rowsSinceProgress = 0;
            if (pass != Pass::Store && !transaction.commit())
                return sqlFailed(u"を読み込めません"_s);
            if (progress && !progress(reader.position(), reader.size())) {
                m_cancelled = true;
                return fail(u"取り込みを取り消しました。"_s);
            }
        }
    }
    if (!reader.errorString().isEmpty())
        return fail(u"「%1」: %2"_s.arg(nativeName(m_fileName), reader.errorString()));
    if (progress && !progress(reader.size(), reader.size())) {
        m_cancelled = true;
        return fail(u"取り込みを取り消しました。"_s);
    }

    switch (pass) {
    case Pass::Plan:
        m_plan = std::move(plan);
        m_planned = true;
        return true;
    case Pass::SaveErrors:
        return flushErrorRows();
    case Pass::Store:
        break;
    }
    // The preview the user agreed to must still be what happens.
    const bool changed = m_planned && plan.counts != m_plan.counts;
    m_plan = std::move(plan);
    m_planned = true;
    if (changed)
        return fail(u"確認の後にカタログが変更されたため、取り込みませんでした。内容をもう一度確認してください。"_s);
    if (!transaction.commit())
        return sqlFailed(u"に書き込めないため、何も取り込んでいません"_s);
    m_storedProducts = std::move(storedProducts);
    return true;
}

} // namespace Merchalog
