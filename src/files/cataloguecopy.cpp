#include "files/cataloguecopy.h"

#include "catalogue/connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Merchalog {

bool pathExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool isSameFile(const QString &a, const QString &b)
{
    const QFileInfo infoA(a);
    const QFileInfo infoB(b);
    if (infoA.exists() && infoB.exists())
        return infoA.canonicalFilePath() == infoB.canonicalFilePath();
    return QDir::cleanPath(infoA.absoluteFilePath()) == QDir::cleanPath(infoB.absoluteFilePath());
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
        return fail(u"テンプレート %1 が見つかりません"_s.arg(QDir::toNativeSeparators(templatePath)));
    if (pathExists(target))
        return fail(u"%1 はすでに存在しています"_s.arg(QDir::toNativeSeparators(target)));
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
