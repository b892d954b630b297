#pragma once

#include "engine/csv/csvreader.h"
#include "engine/records/cataloguestore.h"
#include "engine/csv/csvtext.h"
#include "engine/result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;

namespace Merchalog {

// Which table a file's rows go into.
enum class ImportTable { Products, Suppliers };

// What becomes of a row whose key (a product's JAN code other than the reserved -99, a
// supplier's code) the catalogue holds already.
enum class DuplicateChoice {
    Skip,   // leave the stored record as it is
    Update, // overwrite the stored record's fields with those the file has
    Add,    // add the row all the same (products only; a supplier code stays unique)
};

// What the import does with one row of the file.
enum class RowOutcome { Added, Updated, Skipped, Error };
inline constexpr int rowOutcomeCount = 4;

// One reason a row cannot be imported.
struct ImportError
{
    qint64 row = 0; // the row's number in the file (the header is row 1)
    QString field;  // the column's header as in the file; empty when the whole row is meant
    QString value;  // the text the file holds there
    QString reason; // in Japanese
};

// A row as shown before importing: the file's text for each field of the table in canonical
// order (empty where the file has no such column).
struct ImportRow
{
    qint64 row = 0;
    QStringList values;
};

// What an import will do (or did) with a file.
struct ImportPlan
{
    TextEncoding encoding = TextEncoding::Utf8;
    QStringList headers;           // the file's header line
    std::vector<int> columnField;  // for each column, the field it holds (canonical index), -1 for none
    QStringList unknownColumns;    // headers that name no field: their columns are ignored
    QStringList missingFields;     // captions of the table's fields no column holds
    qint64 rows = 0;               // data rows read (rows without any text are passed over)
    std::array<qint64, rowOutcomeCount> counts{}; // rows per RowOutcome
    std::array<QList<ImportRow>, rowOutcomeCount> firstRows; // the first rows of each outcome
    QList<ImportError> errors;     // the first reasons, in file order
    qint64 errorCount = 0;         // every reason, also those not listed
    qint64 duplicatesInFile = 0;   // rows whose key an earlier row of the file has

    qint64 count(RowOutcome outcome) const { return counts[std::size_t(outcome)]; }
};

// A value a row source could not give as text (an Access value that fits no field of ours, a
// Memo past the reader's limit) or a row it could not take apart (column -1): an error of its
// row.
struct SourceProblem
{
    int column = -1;
    QString value;
    QString reason;
};

// What a row source knows of a row besides its text.
struct SourceRowInfo
{
    QList<SourceProblem> problems;
    QList<bool> isNull; // by column: the value is null, not empty text (empty: none is)
};

// Where an import's rows come from: a header naming the columns, then each row's values as
// text. A CSV file, or a table of an Access file.
class ImportRowSource
{
public:
    using Header = std::function<bool(const CsvRecord &header)>;
    using Visit = std::function<bool(const CsvRecord &record, const SourceRowInfo &info)>;
    virtual ~ImportRowSource() = default;

    // Reads from the start: the header to header (not called when there is none), then each
    // row to visit, until one of them returns false. False when reading failed (errorString).
    virtual bool read(const Header &header, const Visit &visit) = 0;
    virtual QString errorString() const = 0;
    // How far reading has got, and how far it goes (bytes, rows).
    virtual qint64 position() const = 0;
    virtual qint64 size() const = 0;
    // How its error rows are written back.
    virtual TextEncoding encoding() const = 0;
    // Whether the rows are another catalogue's records, taken as they were stored (an Access
    // table): an empty value is no value, stored as null, rather than one registration asks
    // for; a supplier name is never filled in, and a supplier code need not name a supplier
    // (the old catalogue kept such products, and bringing it over must not drop them).
    virtual bool asStored() const { return false; }
};

// Reads products or suppliers from a CSV file into a catalogue: the program's own export, a
// spreadsheet's CSV, a list from elsewhere. The file is never held whole: planning, storing
// and saving the error rows each read it through again.
//
// The header line names the columns, by the export's titles (for suppliers the supplier
// windows' captions) or by field name, in any order. Every value goes through the conversions
// and the required-field checks of the registration windows; a product's supplier must be in
// the catalogue.
class CsvImport final
{
public:
    // How many rows of each outcome, and how many reasons, a plan keeps to show.
    static constexpr int previewRows = 20;
    static constexpr int listedErrors = 1000;

    // Told how far the work has got (bytes of the file) and how far it goes; returns false to
    // cancel.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    CsvImport(const QString &catalogue, const QString &fileName, ImportTable table,
              DuplicateChoice duplicates = DuplicateChoice::Skip);
    // The same with the rows from source; fileName names it in messages.
    CsvImport(const QString &catalogue, std::shared_ptr<ImportRowSource> source, const QString &fileName,
              ImportTable table, DuplicateChoice duplicates);

    ImportTable table() const { return m_table; }
    DuplicateChoice duplicateChoice() const { return m_duplicates; }
    void setDuplicateChoice(DuplicateChoice choice) { m_duplicates = choice; }

    // Reads the file and works out what storing would do, changing nothing. Fails when the
    // file or the catalogue cannot be read, when the file is refused (no header it knows) and
    // when cancelled (Cancelled).
    Status makePlan(const Progress &progress = {});
    // Stores every row without an error in one transaction: all of them or, after a failure or
    // a cancel, none. After makePlan() the catalogue must still give the same plan; otherwise
    // nothing is stored (Conflict) and the new plan is kept for another look.
    // The rows in error go to errorRows when given, as saveErrorRows() writes them.
    Status store(const Progress &progress = {}, QIODevice *errorRows = nullptr);
    // Writes the rows with errors, the header line first, in the file's own encoding, as a CSV
    // file that can be mended and imported again. Replaces fileName only when complete, and
    // never when it is a catalogue the program has open.
    Status saveErrorRows(const QString &fileName, const Progress &progress = {});

    // Where the batches come from instead of the catalogue named (a catalogue being made).
    using BatchSource = std::function<Result<std::unique_ptr<ImportBatch>>(const ImportTarget &target, bool write)>;
    void setBatchSource(BatchSource source) { m_batchSource = std::move(source); }

    const ImportPlan &plan() const { return m_plan; }
    bool hasPlan() const { return m_planned; }
    // Whether store() keeps the row ids of the products it adds and updates (8 bytes each), to
    // list them afterwards; off by default.
    void setListStoredProducts(bool list) { m_listStored = list; }
    // Those row ids, in file order; reserved products (JAN -99) are left out, as from every list.
    const std::vector<std::int64_t> &storedProducts() const { return m_storedProducts; }


private:
    enum class Pass { Plan, Store, SaveErrors };
    Status run(Pass pass, const Progress &progress, QIODevice *errorRows = nullptr);

    QString m_catalogue;
    QString m_fileName;
    std::shared_ptr<ImportRowSource> m_source;
    BatchSource m_batchSource;
    ImportTable m_table;
    DuplicateChoice m_duplicates;
    ImportPlan m_plan;
    bool m_planned = false;
    bool m_listStored = false;
    std::vector<std::int64_t> m_storedProducts;
};

// The reason given for a number a spreadsheet has written in exponent notation ("4.90123E+12"):
// such a value has lost digits and is never guessed back. Empty when text is not in that form.
QString exponentNotationReason(QStringView text, QStringView label);

} // namespace Merchalog
