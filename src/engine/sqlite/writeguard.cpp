#include "engine/sqlite/writeguard.h"

#include "engine/records/currentcatalogue.h"
#include "engine/sqlite/connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <optional>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// The names SQLite gives the files it keeps beside a database while writing it.
constexpr QLatin1StringView sideSuffixes[] = {""_L1, "-journal"_L1, "-wal"_L1, "-shm"_L1};

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

bool operator==(const FileIdentity &a, const FileIdentity &b)
{
    return a.device == b.device && a.inode == b.inode;
}

// Where a write to path lands: symbolic links followed to their end, also where the last
// one points at a name that does not exist yet, with the folder resolved.
QString landingPath(const QString &path)
{
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink() && hops < 40; ++hops)
        info.setFile(info.symLinkTarget());
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir::cleanPath((folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName());
}

} // namespace

QString openCatalogueAt(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QString landing = landingPath(path);
    const std::optional<FileIdentity> target = identityOf(path);

    // The identity a connection took at open still counts when the file has been moved or
    // replaced since: the connection writes to that file.
    std::vector<std::pair<QString, std::optional<FileIdentity>>> open;
    for (const auto &[file, identity] : Connection::openFiles())
        open.emplace_back(file, identity);
    open.emplace_back(QFileInfo(CurrentCatalogue::instance().databaseName()).absoluteFilePath(), std::nullopt);

    for (const auto &[file, identity] : open) {
        if (target && identity && *target == *identity)
            return file;
        for (const QLatin1StringView suffix : sideSuffixes) {
            const QString side = file + suffix;
            if (landingPath(side) == landing)
                return file;
            if (target) {
                if (const auto sideIdentity = identityOf(side); sideIdentity && *sideIdentity == *target)
                    return file;
            }
        }
    }
    return {};
}

Status openCatalogueRefusal(const QString &target, const QString &catalogue)
{
    return Status(ErrorCode::WriteFailed,
                  u"%1 に書き込むと、開いているカタログファイル %2 (またはその作業用ファイル) を上書きすることになるため、"
                  u"書き込みませんでした。別の名前を指定してください。"_s.arg(QDir::toNativeSeparators(target),
                                                                          QDir::toNativeSeparators(catalogue)));
}

} // namespace Merchalog
