#include "help/howtosetting.h"

#include "catalogue/appfolder.h"
#include "catalogue/writeguard.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace Merchalog::HowtoSetting {

namespace {
// More than any number needs; keeps a huge file from being read whole.
constexpr qint64 maxItemLength = 4096;
} // namespace

QString filePath()
{
    return AppFolder::filePath(u"howto.num"_s);
}

std::optional<double> parseValue(QByteArrayView content)
{
    qsizetype end = 0;
    while (end < content.size() && content[end] != ',' && content[end] != '\r'
           && content[end] != '\n')
        ++end;
    const QByteArray item = content.first(end).toByteArray().trimmed();
    if (item.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = item.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<double> readValue()
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseValue(file.read(maxItemLength));
}

bool guideShownAtStart()
{
    const auto value = readValue();
    return value && *value == 0.0;
}

bool switchGuideOff()
{
    // Written in place, like any text file the program replaces: a writable howto.num in a
    // folder that is otherwise read-only can still be switched off. A howto.num that is a
    // link to an open catalogue is left alone.
    if (!openCatalogueAt(filePath()).isEmpty())
        return false;
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write("1\r\n") == 3;
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

} // namespace Merchalog::HowtoSetting
