#pragma once

#include <QStringList>

class QTextStream;

namespace Merchalog::CommandLine {

// merchalog import CATALOGUE FILE --table syohin|torihiki [--duplicates skip|update|add]
// [--dry-run] [--errors ERRORS.csv]: the CSV import without a window. Status 0 when every row
// was stored (or skipped as asked), 3 when the rows without errors were stored and the others
// not, 1 when nothing was stored, 2 for a usage error.
int importCsv(const QStringList &arguments, QTextStream &out, QTextStream &err);

// merchalog export CATALOGUE FILE [--department N] [--key-mode name|supplier|price|eos|jan]
// [--key TEXT]: the main window's search and CSV export without a window; every listed
// product when neither a department nor a key is given.
int exportCsv(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace Merchalog::CommandLine
