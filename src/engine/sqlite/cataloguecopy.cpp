#include "engine/sqlite/cataloguecopy.h"

#include "engine/sqlite/connection.h"
#include "engine/sqlite/writeguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

bool pathExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool isSameFile(const QString &a, const QString &b)
{
    struct stat statA;
    struct stat statB;
    if (::stat(QFile::encodeName(a).constData(), &statA) == 0 && ::stat(QFile::encodeName(b).constData(), &statB) == 0)
        return statA.st_dev == statB.st_dev && statA.st_ino == statB.st_ino;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

Status copyTemplateCatalogue(const QString &templatePath, const QString &target)
{
    QFile source(templatePath);
    if (!source.exists())
        return fileFailure(ErrorCode::Missing, Failed::writingFile, target,
                           u"テンプレート %1 が見つかりません"_s.arg(QDir::toNativeSeparators(templatePath)));
    if (pathExists(target))
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, Reason::exists);
    if (const QString open = openCatalogueAt(target); !open.isEmpty())
        return openCatalogueRefusal(target, open);
    // QFile::copy writes into a temporary file and renames it only when complete, and never
    // replaces an existing target.
    if (!source.copy(target))
        return fileFailure(ErrorCode::WriteFailed, Failed::writingFile, target, source.errorString());
    return {};
}

Status saveCatalogueCopy(const QString &sourcePath, const QString &target)
{
    if (const QString open = openCatalogueAt(target); !open.isEmpty())
        return openCatalogueRefusal(target, open);
    const auto connection = Connection::open(sourcePath);
    if (!connection)
        return connection.status();
    // The copy is written beside the target and renamed over it only when complete.
    return (*connection)->backupTo(target);
}

} // namespace Merchalog
