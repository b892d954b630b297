#pragma once

#include <QString>

namespace Merchalog {

// What a file is, by its first bytes.
enum class FileFormat {
    Unreadable, // missing, or it cannot be opened for reading
    Sqlite,     // "SQLite format 3": the kind of file our catalogues are
    Jet3,       // an Access 97 database ("Standard Jet DB", version 0)
    Jet4,       // an Access 2000 to 2003 database ("Standard Jet DB", version 1)
    Ace,        // an Access 2007 or later database ("Standard ACE DB")
    Other,      // anything else, an empty file too
};

FileFormat fileFormatOf(const QString &path);

// Why an Access 2007 or later file (FileFormat::Ace) cannot be brought over, naming it.
QString aceFormatRefusal(const QString &path);

inline bool isJet(FileFormat format)
{
    return format == FileFormat::Jet3 || format == FileFormat::Jet4;
}

} // namespace Merchalog
