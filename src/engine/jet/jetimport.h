#pragma once

#include "engine/jet/jetcatalogue.h"
#include "engine/result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace Merchalog {

// The two tables an Access catalogue brings over, in the order they are read and stored.
enum class JetImportTable { Products, Suppliers };
inline constexpr int jetImportTableCount = 2;

// One value of the file that cannot become the value of its field, or a row that cannot be
// read at all (field and value empty).
struct JetImportError
{
    JetImportTable table = JetImportTable::Products;
    qint64 row = 0; // the row's number in its table, from 1
    QString field;
    QString value;
    QString reason; // in Japanese
};

// What importing an Access file will do (or did).
struct JetImportPlan
{
    int version = 0;     // 3 or 4
    QStringList ignored; // other tables and fields, left alone
    std::array<qint64, jetImportTableCount> rows{};  // rows of each table
    std::array<qint64, jetImportTableCount> added{}; // rows of each table without an error
    // The first rows to add of each table: the row's number, then each field's text (Null as
    // empty text).
    std::array<QList<QStringList>, jetImportTableCount> firstRows;
    QList<JetImportError> errors; // the first reasons, products first, in file order
    qint64 errorCount = 0;        // every reason, also those not listed
    qint64 errorRows = 0;         // rows with at least one reason

    qint64 addedRows() const { return added[0] + added[1]; }
};

// Brings the products and suppliers of an Access catalogue (Jet 3 or Jet 4) into a new
// catalogue of ours. The old file is only ever read, by the program's child reader. Rows with
// a value that cannot become its field's value are left out and listed; all the others are
// stored in one transaction into a temporary file that takes the new catalogue's name only
// when complete.
class JetImport final
{
public:
    static constexpr int previewRows = 20;
    static constexpr int listedErrors = 1000;

    // Told how far the work has got and how far it goes; returns false to cancel.
    using Progress = std::function<bool(qint64 done, qint64 total)>;

    explicit JetImport(const QString &fileName);

    // The longest the child reader may go without handing over anything.
    void setReaderTimeout(int milliseconds) { m_catalogue.reader().setTimeout(milliseconds); }

    // Reads the file and judges every row, storing nothing. Fails naming the file and the
    // table or field when the file cannot be read, the reader fails, a table or field is
    // missing; Cancelled when cancelled.
    Status makePlan(const Progress &progress = {});
    // Writes the rows without an error into a new catalogue at target, which must not exist.
    // Nothing is left at target on failure or cancel. Reads the file first when no plan was
    // made.
    Status store(const QString &target, const Progress &progress = {});

    const JetImportPlan &plan() const { return m_plan; }
    QString fileName() const { return m_fileName; }

private:
    Status run(const QString *target, const Progress &progress);

    QString m_fileName;
    JetCatalogue m_catalogue;
    bool m_read = false;
    JetImportPlan m_plan;
};

// The table's name as Access and our catalogue call it.
QLatin1StringView jetImportTableName(JetImportTable table);

// The name a new catalogue for an Access file gets by default: beside it, "<name>_取込.mdb",
// or with " (2)", " (3)"... added, so that nothing is overwritten.
QString defaultImportTarget(const QString &accessFile);

} // namespace Merchalog
