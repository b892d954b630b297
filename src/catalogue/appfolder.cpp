#include "catalogue/appfolder.h"

#include <QCoreApplication>
#include <QDir>

namespace Merchalog::AppFolder {

namespace {
QString &overridePath()
{
    static QString path;
    return path;
}
} // namespace

QString path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    return QCoreApplication::applicationDirPath();
}

QString filePath(const QString &fileName)
{
    return QDir(path()).filePath(fileName);
}

void setPathOverride(const QString &path)
{
    overridePath() = path;
}

} // namespace Merchalog::AppFolder
