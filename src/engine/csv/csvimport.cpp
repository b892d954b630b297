#include "engine/csv/csvimport.h"

#include "engine/records/cataloguestore.h"
#include "engine/sqlite/connection.h"
#include "engine/kinds/entrytexts.h"
#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/files/csvformat.h"
#include "engine/csv/csvreader.h"
#include "engine/csv/keyset.h"
#include "engine/sqlite/writeguard.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QHash>
#include <QSaveFile>

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


// The columns of a file: for each field of the table the column that holds it (-1: none).
struct Columns
{
    std::vector<int> of;
    qsizetype count = 0; // the header's fields: every row must have as many
};

// Matches the header line's titles with the table's fields (the export's titles or the field
// names, in any order) into plan and columns. Returns why the file is refused, or nothing.
QString matchHeader(const CsvRecord &header, const TableSpec &spec, ImportTable table, const QString &fileName,
                    ImportPlan &plan, Columns &columns)
{
    plan.headers = header.fields;
    columns.of.assign(spec.count, -1);
    columns.count = header.fieldCount;
    bool anyKnown = false;
    for (qsizetype column = 0; column < header.fields.size(); ++column) {
        const QString title = header.fields.at(column).trimmed();
        int field = -1;
        for (std::size_t f = 0; f < spec.count; ++f) {
            if (title == spec.captions[f] || QString::compare(title, spec.fields[f].name, Qt::CaseInsensitive) == 0) {
                field = int(f);
                break;
            }
        }
        plan.columnField.push_back(field);
        if (field < 0) {
            plan.unknownColumns << header.fields.at(column);
            continue;
        }
        int &at = columns.of[std::size_t(field)];
        if (at >= 0) {
            return u"「%1」の見出し「%2」と「%3」は同じ項目 %4 を指しています。どちらか一方にしてください。"_s.arg(
                nativeName(fileName), header.fields.at(at), header.fields.at(column), QString(spec.fields[field].name));
        }
        at = int(column);
        anyKnown = true;
    }
    if (!anyKnown || header.problem != CsvProblem::None) {
        return u"「%1」の1行目に%2の見出しがありません。次の見出しが必要です: %3"_s.arg(
            nativeName(fileName), table == ImportTable::Products ? u"商品"_s : u"取引先"_s, expectedHeaders(spec));
    }
    for (std::size_t f = 0; f < spec.count; ++f) {
        if (columns.of[f] < 0)
            plan.missingFields << spec.captions[f].toString();
    }
    return {};
}

// What becomes of one row, and why.
struct Judgement
{
    RowOutcome outcome = RowOutcome::Added;
    std::vector<FieldValue> values;
    std::vector<ImportError> errors;
    QString supplierName; // products: the name of the supplier the code names
};

// Judges rows one after another: their values as registration converts and checks them, and
// their keys against the rows before them and against the catalogue.
class RowJudge final
{
public:
    RowJudge(const TableSpec &spec, ImportTable table, DuplicateChoice duplicates, const Columns &columns,
             const ImportPlan &plan, ImportBatch &batch, bool asStored)
        : m_spec(spec)
        , m_table(table)
        , m_duplicates(duplicates)
        , m_columns(columns)
        , m_plan(plan)
        , m_batch(batch)
        , m_asStored(asStored)
    {
    }

    // Why judging failed: the catalogue's reason, or the key set's (its temporary file).
    Status failure() const
    {
        return m_keys.errorString().isEmpty() ? m_failure : Status(ErrorCode::WriteFailed, m_keys.errorString());
    }

    // The file's text for a field (empty when the file has no such column).
    QString textOf(const CsvRecord &record, std::size_t field) const
    {
        const int column = m_columns.of[field];
        return column >= 0 ? record.fields.value(column) : QString();
    }

    // Judges a row; false when the catalogue or the key set could not be read.
    bool judge(const CsvRecord &record, const SourceRowInfo &info, Judgement &judgement)
    {
        judgement.outcome = RowOutcome::Added;
        judgement.values.assign(m_spec.count, FieldValue());
        judgement.errors.clear();
        judgement.supplierName.clear();
        const auto addError = [&](std::size_t field, const QString &reason, const QString *value = nullptr) {
            ImportError error;
            error.row = record.row;
            if (field != noField) {
                const int column = m_columns.of[field];
                error.field = column >= 0 ? m_plan.headers.value(column) : m_spec.captions[field].toString();
                error.value = value ? *value : textOf(record, field);
            }
            error.reason = reason;
            judgement.errors.push_back(std::move(error));
        };

        // The row as a whole, what the source could not read, then each field the file has.
        if (record.problem != CsvProblem::None)
            addError(noField, problemReason(record.problem, m_plan.encoding));
        else if (record.fieldCount != m_columns.count)
            addError(noField, u"項目の数が見出しと合いません（見出しは%1項目、この行は%2項目）。"_s.arg(m_columns.count).arg(record.fieldCount));
        std::vector<bool> unreadable(m_spec.count, false);
        for (const SourceProblem &problem : info.problems) {
            const int field = problem.column >= 0 ? m_plan.columnField.at(std::size_t(problem.column)) : -1;
            if (problem.column < 0) {
                addError(noField, problem.reason);
            } else if (field >= 0) {
                unreadable[std::size_t(field)] = true;
                addError(std::size_t(field), problem.reason, &problem.value);
            }
        }
        const bool readable = std::none_of(judgement.errors.cbegin(), judgement.errors.cend(),
                                           [](const ImportError &e) { return e.field.isEmpty(); });
        std::vector<FieldValue> &values = judgement.values;
        for (std::size_t f = 0; f < m_spec.count && readable; ++f) {
            if (!unreadable[f])
                values[f] = convert(record, f, addError);
        }

        // The key: against the rows before it and against the catalogue.
        const FieldValue &key = values[m_spec.key];
        const bool addAnyway = m_table == ImportTable::Products && m_duplicates == DuplicateChoice::Add;
        int inCatalogue = 0; // records with the key, counted up to two
        if (key.valid && !(m_table == ImportTable::Products && key.integer == reservedJanUnits)) {
            const std::optional<qint64> earlierRow = m_keys.insert(key.integer, record.row);
            if (!m_keys.errorString().isEmpty())
                return false;
            if (earlierRow) {
                ++m_duplicatesInFile;
                if (!addAnyway)
                    addError(m_spec.key, u"%1行目と同じ%2です。"_s.arg(*earlierRow).arg(m_spec.keyCaption));
            } else if (!addAnyway) {
                const Result<int> found = m_batch.countKey(key.integer);
                if (!found) {
                    m_failure = found.status();
                    return false;
                }
                inCatalogue = *found;
            }
        }
        if (inCatalogue > 1 && m_duplicates == DuplicateChoice::Update) {
            // Which of them the row means cannot be told; none is guessed.
            addError(m_spec.key, u"カタログにこの%1のレコードが複数あるため、どれを上書きするか決められません。"_s.arg(m_spec.keyCaption));
        } else if (inCatalogue > 0) {
            switch (m_duplicates) {
            case DuplicateChoice::Skip:
                judgement.outcome = RowOutcome::Skipped;
                break;
            case DuplicateChoice::Update:
                judgement.outcome = RowOutcome::Updated;
                break;
            case DuplicateChoice::Add:
                // Only suppliers get here: a supplier code names one supplier.
                addError(m_spec.key, EntryText::supplierCodeExists.toString());
                break;
            }
        }
        // A new record needs every field, as registration does.
        if (judgement.outcome == RowOutcome::Added && readable) {
            for (std::size_t f = 0; f < m_spec.count; ++f) {
                if (!values[f].present && f != m_spec.supplierName)
                    addError(f, m_spec.required[f].toString());
            }
        }
        // A product's supplier must be in the catalogue; its name comes from there unless the
        // file gives one.
        if (m_spec.supplierCode != noField && judgement.outcome != RowOutcome::Skipped && values[m_spec.supplierCode].valid
            && !m_asStored) {
            const auto found = supplierNameOf(values[m_spec.supplierCode].integer);
            if (!found)
                return false;
            if (*found) {
                judgement.supplierName = **found;
            } else {
                addError(m_spec.supplierCode,
                         u"取引先コード「%1」の取引先がカタログにありません。先に取引先を登録してください。"_s.arg(
                             textOf(record, m_spec.supplierCode)));
            }
        }
        if (!judgement.errors.empty())
            judgement.outcome = RowOutcome::Error;
        return true;
    }

    qint64 duplicatesInFile() const { return m_duplicatesInFile; }

private:
    template<class AddError>
    FieldValue convert(const CsvRecord &record, std::size_t f, const AddError &addError) const
    {
        FieldValue value;
        value.present = m_columns.of[f] >= 0;
        if (!value.present)
            return value;
        const QString text = textOf(record, f);
        if (text.isEmpty()) {
            // A product's supplier name may be left to the supplier the code names; a source
            // that keeps nulls keeps empty values as no value.
            if (!m_asStored && (f != m_spec.supplierName || m_columns.of[m_spec.supplierCode] < 0))
                addError(f, m_spec.required[f].toString());
            return value;
        }
        switch (m_spec.fields[f].kind) {
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
            const QString label = m_plan.headers.value(m_columns.of[f]).trimmed();
            const QString exponent = exponentNotationReason(text, label);
            addError(f, exponent.isEmpty() ? EntryText::valueExpected(m_spec.fields[f].kind, label) : exponent);
        }
        return value;
    }

    // The name of the supplier with this code: nullopt when it could not be read, an empty
    // optional when there is none.
    std::optional<std::optional<QString>> supplierNameOf(qint64 code)
    {
        if (const auto it = m_supplierNames.constFind(code); it != m_supplierNames.cend())
            return *it;
        const Result<std::optional<QString>> found = m_batch.supplierName(code);
        if (!found) {
            m_failure = found.status();
            return std::nullopt;
        }
        const std::optional<QString> name = *found;
        if (m_supplierNames.size() >= supplierCacheLimit)
            m_supplierNames.clear();
        m_supplierNames.insert(code, name);
        return name;
    }

    const TableSpec &m_spec;
    ImportTable m_table;
    DuplicateChoice m_duplicates;
    const Columns &m_columns;
    const ImportPlan &m_plan;
    ImportBatch &m_batch;
    Status m_failure;
    KeySet m_keys;
    QHash<qint64, std::optional<QString>> m_supplierNames;
    qint64 m_duplicatesInFile = 0;
    bool m_asStored = false;
};

// The fields an update sets: those the file has (a product's supplier name too when the file
// gives the supplier's code), never the key.
std::vector<std::size_t> updatedFields(const TableSpec &spec, const Columns &columns)
{
    std::vector<std::size_t> updated;
    for (std::size_t f = 0; f < spec.count; ++f) {
        const bool derivedName = f == spec.supplierName && columns.of[spec.supplierCode] >= 0;
        if (f != spec.key && (columns.of[f] >= 0 || derivedName))
            updated.push_back(f);
    }
    return updated;
}

// Writes judged rows through the batch: an insert of every field, or an update of the fields
// the file has.
class RowWriter final
{
public:
    RowWriter(const TableSpec &spec, const std::vector<std::size_t> &updated, ImportBatch &batch)
        : m_spec(spec)
        , m_updated(updated)
        , m_batch(batch)
    {
    }

    // Stores an added or updated row; the keys of the records written go to written when it
    // is given (reserved products left out, as from every list).
    // With a source that keeps nulls, an empty value is stored as null (text as given) and a
    // supplier name is never filled in.
    Status write(const RowJudge &judge, const CsvRecord &record, const SourceRowInfo &info, const Judgement &judgement,
                 const Columns &columns, bool asStored, std::vector<std::int64_t> *written)
    {
        const bool adding = judgement.outcome == RowOutcome::Added;
        m_values.clear();
        const auto addField = [&](std::size_t f) {
            BatchValue value;
            if (m_spec.fields[f].kind != Kind::Text) {
                value.integer = judgement.values[f].integer;
                value.isNull = !judgement.values[f].valid;
            } else {
                value.text = judge.textOf(record, f);
                if (asStored)
                    value.isNull = columns.of[f] < 0 || info.isNull.value(columns.of[f]);
                else if (f == m_spec.supplierName && value.text.isEmpty())
                    value.text = judgement.supplierName;
            }
            m_values.push_back(std::move(value));
        };
        const qint64 key = judgement.values[m_spec.key].integer;
        if (!adding) {
            for (const std::size_t f : m_updated)
                addField(f);
            return m_batch.update(key, m_values, written);
        }
        for (std::size_t f = 0; f < m_spec.count; ++f)
            addField(f);
        const Result<Bookmark> added = m_batch.insert(m_values);
        if (!added)
            return added.status();
        if (written && key != reservedJanUnits)
            written->push_back(*added);
        return {};
    }

private:
    const TableSpec &m_spec;
    const std::vector<std::size_t> &m_updated;
    ImportBatch &m_batch;
    std::vector<BatchValue> m_values;
};

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

namespace {

// A CSV file as an import's rows, read through again for every pass.
class CsvFileSource final : public ImportRowSource
{
public:
    explicit CsvFileSource(const QString &fileName) : m_file(fileName) {}

    bool read(const Header &header, const Visit &visit) override
    {
        m_file.close();
        if (!m_file.open(QIODevice::ReadOnly)) {
            m_error = m_file.errorString();
            return false;
        }
        CsvReader reader(&m_file);
        m_reader = &reader;
        const auto done = [this](bool ok) {
            m_reader = nullptr;
            return ok;
        };
        if (!reader.start()) {
            m_error = reader.errorString();
            return done(false);
        }
        m_encoding = reader.encoding();
        CsvRecord record;
        if (!reader.next(record)) {
            m_error = reader.errorString();
            return done(m_error.isEmpty());
        }
        if (!header(record))
            return done(true);
        const SourceRowInfo none;
        while (reader.next(record)) {
            if (!visit(record, none))
                return done(true);
        }
        m_error = reader.errorString();
        m_size = reader.size();
        return done(m_error.isEmpty());
    }
    QString errorString() const override { return m_error; }
    qint64 position() const override { return m_reader ? m_reader->position() : m_size; }
    qint64 size() const override { return m_reader ? m_reader->size() : m_size; }
    TextEncoding encoding() const override { return m_encoding; }

private:
    QFile m_file;
    CsvReader *m_reader = nullptr;
    TextEncoding m_encoding = TextEncoding::Utf8;
    qint64 m_size = 0;
    QString m_error;
};

} // namespace

CsvImport::CsvImport(const QString &catalogue, const QString &fileName, ImportTable table,
                     DuplicateChoice duplicates)
    : CsvImport(catalogue, std::make_shared<CsvFileSource>(fileName), fileName, table, duplicates)
{
}

CsvImport::CsvImport(const QString &catalogue, std::shared_ptr<ImportRowSource> source, const QString &fileName,
                     ImportTable table, DuplicateChoice duplicates)
    : m_catalogue(catalogue)
    , m_fileName(fileName)
    , m_source(std::move(source))
    , m_table(table)
    , m_duplicates(duplicates)
{
}

Status CsvImport::makePlan(const Progress &progress)
{
    return run(Pass::Plan, progress);
}

Status CsvImport::store(const Progress &progress, QIODevice *errorRows)
{
    return run(Pass::Store, progress, errorRows);
}

Status CsvImport::saveErrorRows(const QString &fileName, const Progress &progress)
{
    if (const QString open = openCatalogueAt(fileName); !open.isEmpty())
        return openCatalogueRefusal(fileName, open);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, fileName, file.errorString());
    if (Status saved = run(Pass::SaveErrors, progress, &file); !saved) {
        file.cancelWriting();
        return saved;
    }
    if (!file.commit())
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, fileName, file.errorString());
    return {};
}

Status CsvImport::run(Pass pass, const Progress &progress, QIODevice *errorRows)
{
    const TableSpec &spec = specOf(m_table);
    const auto refused = [](const QString &reason) { return Status(ErrorCode::ReadFailed, reason); };
    const auto unreadable = [this](const QString &reason) {
        return fileFailure(ErrorCode::ReadFailed, Failed::readingFile, m_fileName, reason);
    };
    const auto cancelled = [] { return Status(ErrorCode::Cancelled, {}); };
    ImportRowSource &source = *m_source;
    const bool asStored = source.asStored();

    ImportPlan plan;
    Columns columns;
    std::vector<std::size_t> updated;
    std::shared_ptr<CatalogueStore> store;
    std::unique_ptr<ImportBatch> batch;
    std::optional<RowJudge> judge;
    std::optional<RowWriter> writer;
    std::vector<std::int64_t> storedProducts;
    std::vector<std::int64_t> *listed = m_listStored && m_table == ImportTable::Products ? &storedProducts : nullptr;
    Status failure;

    QByteArray errorBytes;
    QString errorFile;
    if (auto *named = qobject_cast<QFileDevice *>(errorRows))
        errorFile = named->fileName();
    const auto flushErrorRows = [&]() -> Status {
        if (errorRows->write(errorBytes) != errorBytes.size())
            return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, errorFile, errorRows->errorString());
        errorBytes.clear();
        return {};
    };

    // The header line, then the catalogue: a file or a server, looked up in short reads while
    // planning, written in one transaction while storing.
    bool headerSeen = false;
    const auto takeHeader = [&](const CsvRecord &header) {
        headerSeen = true;
        plan.encoding = source.encoding();
        if (const QString refusal = matchHeader(header, spec, m_table, m_fileName, plan, columns); !refusal.isEmpty()) {
            failure = refused(refusal);
            return false;
        }
        if (!m_batchSource) {
            auto opened = openCatalogueStore(m_catalogue);
            if (!opened) {
                failure = opened.status();
                return false;
            }
            store = *opened;
        }
        ImportTarget target;
        target.table = spec.name;
        target.fields = std::span<const FieldDef>(spec.fields, spec.count);
        target.key = spec.key;
        updated = updatedFields(spec, columns);
        target.updated = updated;
        auto begun = m_batchSource ? m_batchSource(target, pass == Pass::Store) : store->beginImport(target, pass == Pass::Store);
        if (!begun) {
            failure = begun.status();
            return false;
        }
        batch = std::move(*begun);
        judge.emplace(spec, m_table, m_duplicates, columns, plan, *batch, asStored);
        if (pass == Pass::Store)
            writer.emplace(spec, updated, *batch);
        if (errorRows) {
            errorBytes += byteOrderMarkBytes(plan.encoding);
            appendCsvRecord(plan.headers, plan.encoding, errorBytes);
        }
        return true;
    };

    Judgement judgement;
    qint64 rowsSinceProgress = 0;
    const auto takeRow = [&](const CsvRecord &record, const SourceRowInfo &info) {
        // A blank line of a file is passed over; a row of a table is a row, nulls or not.
        if (!asStored && isAllEmpty(record))
            return true;
        ++plan.rows;
        if (!judge->judge(record, info, judgement)) {
            failure = judge->failure();
            return false;
        }

        // Counting, showing and storing.
        const RowOutcome outcome = judgement.outcome;
        ++plan.counts[std::size_t(outcome)];
        if (QList<ImportRow> &first = plan.firstRows[std::size_t(outcome)]; first.size() < previewRows) {
            ImportRow shown;
            shown.row = record.row;
            for (std::size_t f = 0; f < spec.count; ++f)
                shown.values << judge->textOf(record, f);
            first << shown;
        }
        for (ImportError &error : judgement.errors) {
            ++plan.errorCount;
            if (plan.errors.size() < listedErrors)
                plan.errors << std::move(error);
        }
        if (errorRows && outcome == RowOutcome::Error) {
            // A value the source could not read is written as it was shown.
            QStringList fields = record.fields;
            for (const SourceProblem &problem : info.problems) {
                if (problem.column >= 0 && problem.column < fields.size())
                    fields[problem.column] = problem.value;
            }
            appendCsvRecord(fields, plan.encoding, errorBytes);
            if (errorBytes.size() > 256 * 1024) {
                if (failure = flushErrorRows(); !failure)
                    return false;
            }
        }
        if (writer && (outcome == RowOutcome::Added || outcome == RowOutcome::Updated)) {
            if (failure = writer->write(*judge, record, info, judgement, columns, asStored, listed); !failure)
                return false;
        }

        if (++rowsSinceProgress >= progressEvery) {
            rowsSinceProgress = 0;
            if (failure = batch->release(); !failure)
                return false;
            if (progress && !progress(source.position(), source.size())) {
                failure = cancelled();
                return false;
            }
        }
        return true;
    };
    const bool read = source.read(takeHeader, takeRow);
    if (!failure)
        return failure;
    if (!read)
        return unreadable(source.errorString());
    if (!headerSeen)
        return refused(u"「%1」は空です。1行目に見出しが必要です: %2"_s.arg(nativeName(m_fileName), expectedHeaders(spec)));
    if (progress && !progress(source.size(), source.size()))
        return cancelled();
    plan.duplicatesInFile = judge->duplicatesInFile();

    switch (pass) {
    case Pass::Plan:
        m_plan = std::move(plan);
        m_planned = true;
        return {};
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
        return Status(ErrorCode::Conflict,
                      u"確認の後にカタログが変更されたため、取り込みませんでした。内容をもう一度確認してください。"_s);
    if (errorRows) {
        if (Status flushed = flushErrorRows(); !flushed)
            return flushed;
    }
    if (Status committed = batch->commit(); !committed)
        return committed;
    m_storedProducts = std::move(storedProducts);
    return {};
}

} // namespace Merchalog
