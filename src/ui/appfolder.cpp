#include "ui/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace Merchalog::AppFolder {

namespace {

QString &overridePath()
{
    static QString path;
    return path;
}

// The installation puts the program into <prefix>/bin and its data into
// <prefix>/share/merchalog; the install rules check that this path joins the two.
constexpr auto installedDataFromProgram = "../share/merchalog"_L1;
constexpr auto templateName = "database.dft"_L1;

bool holdsTemplate(const QString &folder)
{
    return QFileInfo(QDir(folder).filePath(templateName)).isFile();
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

bool isInstalled()
{
    return !holdsTemplate(path())
        && holdsTemplate(QDir(path()).filePath(installedDataFromProgram));
}

QString installedPath()
{
    if (isInstalled())
        return QDir::cleanPath(QDir(path()).filePath(installedDataFromProgram));
    return path();
}

QString installedFilePath(const QString &fileName)
{
    return QDir(installedPath()).filePath(fileName);
}

bool writesBesideProgram()
{
    return !isInstalled() && QFileInfo(path()).isWritable();
}

QString writablePath()
{
    if (writesBesideProgram())
        return path();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString writableFilePath(const QString &fileName)
{
    return QDir(writablePath()).filePath(fileName);
}

} // namespace Merchalog::AppFolder
