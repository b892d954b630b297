#pragma once

#include "engine/result.h"

#include <QString>

namespace Merchalog {

// Tells whether anything exists under the path: a file (an empty one too), a folder, or a
// link, even a dangling one.
bool pathExists(const QString &path);

// Tells whether two names reach the same file: the same device and inode when both exist
// (so links and relative parts count), else the same absolute path.
bool isSameFile(const QString &a, const QString &b);

// Copies the template catalogue byte for byte to target, which must not exist yet nor reach
// an open catalogue (openCatalogueAt). Nothing is left at target on failure.
Status copyTemplateCatalogue(const QString &templatePath, const QString &target);

// Writes a consistent copy of the catalogue sourcePath to target through SQLite's backup;
// target is replaced only when the copy is complete, and never when it reaches an open
// catalogue (openCatalogueAt).
Status saveCatalogueCopy(const QString &sourcePath, const QString &target);

} // namespace Merchalog
