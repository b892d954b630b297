#pragma once

#include "catalogue/recordsource.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

class QIODevice;

namespace Merchalog {

class RecordSource;

// Appends text in Shift_JIS (the Microsoft code page 932 table, NEC and IBM extensions
// included). A character the code page cannot hold is written with its customary best-fit
// form (WAVE DASH as the full-width tilde, MINUS SIGN as the full-width hyphen-minus, YEN
// SIGN as 5C, ...) or else as "?". Returns the number of characters so replaced; a
// surrogate pair counts as one character.
qsizetype appendShiftJis(QStringView text, QByteArray &out);

// Appends a number in the export form: "-" for negatives, no zero before the point, no
// trailing zeros, a point only with a fraction (".5", "-.25", "1980", "0").
void appendExportNumber(Currency value, QByteArray &out);

// Writes the product list as CSV lines: the header line, then one line per row in canonical
// field order whatever the file's column order. Every line ends in CR LF.
class ProductCsvFormatter final
{
public:
    // fieldIndex gives, for each canonical product field, its column in the rows (-1: absent).
    explicit ProductCsvFormatter(const std::array<int, 11> &fieldIndex);
    // The column map of a record source's result.
    static ProductCsvFormatter forSource(const RecordSource &source);

    static void appendHeader(QByteArray &out);
    void appendRow(const Row &row, QByteArray &out);

    // Characters replaced so far (see appendShiftJis).
    qsizetype replacedCharacters() const { return m_replaced; }

private:
    void appendTextItem(QStringView text, QByteArray &out);

    std::array<int, 11> m_fieldIndex;
    qsizetype m_replaced = 0;
};

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
// complete: a failed export leaves an earlier file of that name as it was.
CsvResult exportProductCsv(const RecordSource &source, const QString &fileName);

} // namespace Merchalog
