#pragma once

#include "engine/csv/csvimport.h"
#include "engine/jet/jetcatalogue.h"
#include "engine/result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace Merchalog {

// What importing an Access file will do (or did): the CSV import's plan for each of its two
// tables, suppliers stored (and judged) before products.
struct JetImportPlan
{
    int version = 0;     // 3 or 4
    QStringList ignored; // other tables and fields, left alone
    std::array<ImportPlan, 2> tables; // by ImportTable

    const ImportPlan &of(ImportTable table) const { return tables[std::size_t(table)]; }
    qint64 added(ImportTable table) const { return of(table).count(RowOutcome::Added); }
    qint64 addedRows() const { return added(ImportTable::Products) + added(ImportTable::Suppliers); }
    qint64 errorRows() const { return of(ImportTable::Products).count(RowOutcome::Error) + of(ImportTable::Suppliers).count(RowOutcome::Error); }
    qint64 errorCount() const { return of(ImportTable::Products).errorCount + of(ImportTable::Suppliers).errorCount; }
};

// Brings the products and suppliers of an Access catalogue (Jet 3 or Jet 4) into a new
// catalogue of ours. The old file is only ever read, by the program's child reader. Each table
// goes through the CSV import's checks (see CsvImport), suppliers first, so that products are
// judged against the suppliers of the same file; nulls stay null. Rows in error are left out
// and listed, and can be saved as CSV files the CSV import takes back. Everything is written
// into a temporary file that takes the new catalogue's name only when complete.
class JetImport final
{
public:
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
    // The same into a new catalogue in a server's database, straight and in one transaction;
    // a database that holds a catalogue is refused unless replace.
    Status storeOnServer(const QString &address, bool replace, const Progress &progress = {});
    // Writes a table's rows in error of the last plan or store, the header line of field names
    // first, as a UTF-8 CSV file the CSV import reads back. Replaces fileName only when
    // complete.
    Status saveErrorRows(ImportTable table, const QString &fileName) const;

    const JetImportPlan &plan() const { return m_plan; }
    QString fileName() const { return m_fileName; }

private:
    Status read(const Progress &progress);
    // Imports both tables into the catalogue named, or through batches when given.
    Status stage(const QString &catalogue, const CsvImport::BatchSource &batches, const Progress &progress);

    QString m_fileName;
    JetCatalogue m_catalogue;
    bool m_read = false;
    JetImportPlan m_plan;
    std::array<QByteArray, 2> m_errorRows; // by ImportTable, as saved
};

// The table's name as Access and our catalogue call it.
QLatin1StringView jetImportTableName(ImportTable table);

// The name a new catalogue for an Access file gets by default: beside it, "<name>_取込.mdb",
// or with " (2)", " (3)"... added, so that nothing is overwritten.
QString defaultImportTarget(const QString &accessFile);

} // namespace Merchalog
