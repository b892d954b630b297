#pragma once

#include <QString>

namespace Merchalog::AppFolder {

// The folder that holds the program, database.dft and howto.num; new catalogues go there.
QString path();
// Path of a file in the application folder.
QString filePath(const QString &fileName);
// Lets tests put the application folder elsewhere; an empty path restores the real one.
void setPathOverride(const QString &path);

} // namespace Merchalog::AppFolder
