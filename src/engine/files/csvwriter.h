#pragma once

#include "engine/files/csvformat.h"
#include "engine/result.h"

#include <QString>

#include <functional>

class QIODevice;

namespace Merchalog {

class RecordSource;

// The CSV formatter for a record source's result, whatever its column order.
ProductCsvFormatter productCsvFormatterFor(const RecordSource &source);

// What an export wrote.
struct CsvSummary
{
    qint64 rows = 0;                  // data lines written
    qsizetype replacedCharacters = 0; // see appendShiftJis
};

// Told how many data lines are written so far, after each; returns false to cancel (the
// export then fails with Cancelled).
using CsvProgress = std::function<bool(qint64 rows)>;

// Writes the header and every row of the source's current result, in list order, to device,
// without moving the current record and without holding the rows in memory. Rows deleted
// since the list was made are left out (and leave the list); a row that cannot be read ends
// the export with the reason.
Result<CsvSummary> writeProductCsv(RecordSource &source, QIODevice *device, const CsvProgress &progress = {});

// Writes the CSV file through a temporary file beside it that replaces fileName only when
// complete: a failed or cancelled export leaves an earlier file of that name as it was. A name
// that reaches an open catalogue (openCatalogueAt) is refused before anything is written.
Result<CsvSummary> exportProductCsv(RecordSource &source, const QString &fileName, const CsvProgress &progress = {});

} // namespace Merchalog
