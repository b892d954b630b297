#include "engine/result.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Merchalog {

Status fileFailure(ErrorCode code, QStringView what, const QString &path, QStringView reason)
{
    const QString name = QDir::toNativeSeparators(path);
    if (reason.isEmpty())
        return Status(code, u"%1: %2"_s.arg(what, name));
    return Status(code, u"%1: %2（%3）"_s.arg(what, name, reason));
}

} // namespace Merchalog
