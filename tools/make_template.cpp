// Writes an empty catalogue (both tables, no rows) to the path given, which must not exist
// yet: the template database.dft that new catalogues are copied from.
#include "engine/sqlite/connection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: make_template <path>   (writes an empty catalogue into a new file)\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (args.size() != 2 || args.at(1).startsWith(u'-')) {
        QTextStream(stderr) << usage;
        return 2;
    }
    const QString path = args.at(1);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QTextStream(stderr) << "make_template: " << path << " already exists; remove it first\n";
        return 1;
    }
    if (const auto created = Merchalog::createCatalogueFile(path); !created) {
        QTextStream(stderr) << "make_template: " << created.message() << '\n';
        return 1;
    }
    return 0;
}
