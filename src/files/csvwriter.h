#pragma once

#include "files/csvformat.h"

#include <QString>

class QIODevice;

namespace Merchalog {

class RecordSource;

// The CSV formatter for a record source's result, whatever its column order.
ProductCsvFormatter productCsvFormatterFor(const RecordSource &source);

struct CsvResult
{
    bool ok = false;
    qint64 rows = 0;                  // data lines written
    qsizetype replacedCharacters = 0; // see appendShiftJis
    QString errorString;              // why it failed
};

// Writes the header and every row of the source's current result, in list order, to device,
// without moving the current record and without holding the rows in memory.
CsvResult writeProductCsv(const RecordSource &source, QIODevice *device);

// Writes the CSV file through a temporary file beside it that replaces fileName only when
// complete: a failed export leaves an earlier file of that name as it was. A name that reaches
// an open catalogue (openCatalogueAt) is refused before anything is written.
CsvResult exportProductCsv(const RecordSource &source, const QString &fileName);

} // namespace Merchalog
