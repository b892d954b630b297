#pragma once

#include "engine/result.h"

#include <QString>

struct sqlite3;

namespace Merchalog {

// Judges whether an open SQLite handle holds a catalogue this program may work on, reading
// only the file's marks and schema: nothing in the file is run. Accepted are our mark, a
// format version from 1 to the newest this program reads, `syohin` and `torihiki` as
// ordinary rowid tables declared with exactly their fields and kinds (and at most the key
// column of format 2), plain indexes on their columns, and SQLite's own sequence and
// statistics tables. Anything else (a trigger, a view, a virtual table, a generated column,
// a constraint, an unknown table) refuses the file, naming path and what was found.
Status checkCatalogueSchema(sqlite3 *db, const QString &path);

} // namespace Merchalog
