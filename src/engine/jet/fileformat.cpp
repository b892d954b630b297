#include "engine/jet/fileformat.h"

#include <QDir>
#include <QFile>

namespace Merchalog {

QString aceFormatRefusal(const QString &path)
{
    return QStringLiteral("「%1」は Access 2007 以降の形式のため取り込めません（取り込めるのは Access 97 から 2003 までの形式です）。")
        .arg(QDir::toNativeSeparators(path));
}

FileFormat fileFormatOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileFormat::Unreadable;
    const QByteArray head = file.read(0x15);
    if (head.startsWith(QByteArrayView("SQLite format 3\0", 16)))
        return FileFormat::Sqlite;
    // An Access file starts with its header page: page type 0, then the engine's name, and
    // the version at 0x14 (0 for Jet 3, 1 for Jet 4, later ones for the ACE engine).
    if (head.size() < 0x15 || !head.startsWith(QByteArrayView("\0\1\0\0", 4)))
        return FileFormat::Other;
    const QByteArrayView engine = QByteArrayView(head).sliced(4, 16);
    const int version = std::uint8_t(head.at(0x14));
    if (engine == QByteArrayView("Standard Jet DB\0", 16) && version <= 1)
        return version == 0 ? FileFormat::Jet3 : FileFormat::Jet4;
    if (engine == QByteArrayView("Standard ACE DB\0", 16))
        return FileFormat::Ace;
    return FileFormat::Other;
}

} // namespace Merchalog
