#include "files/cataloguecopy.h"

#include "catalogue/connection.h"
#include "catalogue/writeguard.h"

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

bool copyTemplateCatalogue(const QString &templatePath, const QString &target, QString *errorString)
{
    auto fail = [errorString](const QString &why) {
        if (errorString)
            *errorString = why;
        return false;
    };
    QFile source(templatePath);
    if (!source.exists())
        return fail(u"テンプレート %1 が見つかりません。"_s.arg(QDir::toNativeSeparators(templatePath)));
    if (pathExists(target))
        return fail(u"%1 はすでに存在しています。"_s.arg(QDir::toNativeSeparators(target)));
    if (const QString open = openCatalogueAt(target); !open.isEmpty())
        return fail(openCatalogueRefusal(open));
    // QFile::copy writes into a temporary file and renames it only when complete, and never
    // replaces an existing target.
    if (!source.copy(target))
        return fail(source.errorString());
    return true;
}

bool saveCatalogueCopy(const QString &sourcePath, const QString &target, QString *errorString)
{
    auto fail = [errorString](const QString &why) {
        if (errorString)
            *errorString = why;
        return false;
    };
    if (const QString open = openCatalogueAt(target); !open.isEmpty())
        return fail(openCatalogueRefusal(open));
    QString openErrorString;
    const std::shared_ptr<Connection> connection = Connection::open(sourcePath, nullptr, &openErrorString);
    if (!connection)
        return fail(openErrorString);

    // The copy is written beside the target and renamed over it only when complete.
    QString backupError;
    if (!connection->backupTo(target, &backupError))
        return fail(backupError);
    return true;
}

} // namespace Merchalog
