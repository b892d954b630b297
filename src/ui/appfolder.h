#pragma once

#include <QString>

namespace Merchalog::AppFolder {

// The folder that holds the program.
QString path();
// Path of a file in the application folder.
QString filePath(const QString &fileName);
// Lets tests put the application folder elsewhere; an empty path restores the real one.
void setPathOverride(const QString &path);

// Whether the program runs installed: its template is not beside it but in the installed
// data folder <application folder>/../share/merchalog.
bool isInstalled();

// The folder of the files that come with the program and are only read: the template
// database.dft, the sample catalogue and the first howto.num. That is the installed data
// folder for an installed program, otherwise the application folder.
QString installedPath();
QString installedFilePath(const QString &fileName);

// Whether the program keeps the files it writes beside itself: when it runs from a folder
// that can be written and is not installed (a build, an unpacked copy). An installed program
// writes to the user's data folder whoever runs it; so does a copy in a read-only folder.
bool writesBesideProgram();

// The folder that holds howto.num, the first database.mdb and new catalogues: the
// application folder when writesBesideProgram(), otherwise the user's data folder
// (~/.local/share/Merchalog).
QString writablePath();
QString writableFilePath(const QString &fileName);

} // namespace Merchalog::AppFolder
