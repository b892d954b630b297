#include "engine/result.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace Merchalog {

Status fileFailure(ErrorCode code, QStringView what, const QString &path, QStringView reason)
{
    const QString name = QDir::toNativeSeparators(path);
    if (reason.isEmpty())
        return Status(code, u"%1: %2"_s.arg(what, name));
    return Status(code, u"%1: %2（%3）"_s.arg(what, name, reason));
}

Status toldOfTarget(const Status &failure, const QString &temporary, const QString &path)
{
    QString message = failure.message();
    message.replace(QDir::toNativeSeparators(QFileInfo(temporary).absoluteFilePath()),
                    QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    message.replace(QDir::toNativeSeparators(temporary), QDir::toNativeSeparators(path));
    return Status(failure.code(), message, failure.field());
}

} // namespace Merchalog
