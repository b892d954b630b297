// Writes an empty catalogue (both tables, no rows) to the path given: the template
// database.dft that new catalogues are copied from.
#include "catalogue/connection.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: make_template <path>\n";
        return 2;
    }
    const QString path = args.at(1);
    QFile::remove(path);
    QString error;
    if (!Merchalog::createCatalogueFile(path, &error)) {
        QTextStream(stderr) << "make_template: " << error << '\n';
        return 1;
    }
    return 0;
}
