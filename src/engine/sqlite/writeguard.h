#pragma once

#include "engine/result.h"

#include <QString>

namespace Merchalog {

// Every writer of files asks this before it writes: the catalogue file the program has open
// (the current catalogue or any file a connection holds) that writing to path would
// overwrite, or an empty string when path reaches none. Any spelling of the catalogue counts:
// another relative or absolute path, a symbolic link (also one that points at a catalogue's
// name, or at a link that does), a hard link (same device and inode), and SQLite's journal,
// WAL and shared-memory files beside the catalogue, existing or not.
QString openCatalogueAt(const QString &path);

// The failure a writer gives when openCatalogueAt found catalogue for target: it names both.
Status openCatalogueRefusal(const QString &target, const QString &catalogue);

} // namespace Merchalog
