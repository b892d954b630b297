#pragma once

#include <QString>

namespace Merchalog {

// Gets the folder the program writes to ready before the main window opens. A program that
// writes beside itself (a build, an unpacked copy) is left exactly as it is. An installed or
// read-only program works in the user's data folder: the folder is created, receives the
// first howto.num (from the installed one, so that the start-up guide shows on the first
// start) and the first database.mdb (a copy of the template), and becomes the working folder,
// so that the bare "database.mdb" the program starts on is the user's own catalogue. Files
// already there are kept. Returns a one-line Japanese reason when the folder cannot be made
// ready, otherwise an empty string.
QString prepareWritableFolder();

} // namespace Merchalog
