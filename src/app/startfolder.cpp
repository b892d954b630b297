#include "app/startfolder.h"

#include "engine/records/currentcatalogue.h"
#include "engine/sqlite/cataloguecopy.h"
#include "ui/appfolder.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace Merchalog {

QString prepareWritableFolder()
{
    if (AppFolder::writesBesideProgram())
        return {};
    const QString folder = AppFolder::writablePath();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return u"データフォルダー「%1」を作成できません。"_s.arg(QDir::toNativeSeparators(folder));

    // A setting the user already has is kept; without an installed one the guide stays off.
    const QString howto = AppFolder::writableFilePath(u"howto.num"_s);
    const QString installedHowto = AppFolder::installedFilePath(u"howto.num"_s);
    if (!pathExists(howto) && QFile::exists(installedHowto) && QFile::copy(installedHowto, howto))
        QFile::setPermissions(howto, QFile::permissions(howto) | QFile::WriteOwner);

    QString problem;
    const QString catalogue = AppFolder::writableFilePath(QString(CurrentCatalogue::startName));
    if (!pathExists(catalogue)) {
        if (const Status copied = copyTemplateCatalogue(AppFolder::installedFilePath(u"database.dft"_s), catalogue); !copied)
            problem = copied.message();
    }
    if (!QDir::setCurrent(folder))
        return u"データフォルダー「%1」に移れません。"_s.arg(QDir::toNativeSeparators(folder));
    return problem;
}

} // namespace Merchalog
