// Writes an Access database file (Jet 3 or Jet 4) into a new file, either from a description
// of its tables in JSON on standard input or, with --products, the two catalogue tables
// filled with generated products and suppliers.
//
//   make_jet [--jet3] [--uncompressed] <path>  < tables.json
//   make_jet [--jet3] --products N [--suppliers M] <path>
//
// The JSON is described in jetwriter.h.
#include "jetwriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

using namespace Qt::StringLiterals;
using namespace Merchalog::JetWriter;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const char usage[] = "usage: make_jet [--jet3] [--uncompressed] <path> < tables.json\n"
                         "       make_jet [--jet3] --products N [--suppliers M] <path>\n"
                         "  writes an Access database file (Jet 4, or Jet 3 with --jet3) into a new file\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    Options options;
    int products = -1;
    int suppliers = 100;
    QString path;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == u"--jet3") {
            options.version = Version::Jet3;
        } else if (arg == u"--uncompressed") {
            options.compressText = false;
        } else if ((arg == u"--products" || arg == u"--suppliers") && i + 1 < args.size()) {
            bool ok = false;
            const int count = args.at(++i).toInt(&ok);
            if (!ok || count < 0) {
                QTextStream(stderr) << usage;
                return 2;
            }
            (arg == u"--products" ? products : suppliers) = count;
        } else if (path.isEmpty() && !arg.startsWith(u'-')) {
            path = arg;
        } else {
            QTextStream(stderr) << usage;
            return 2;
        }
    }
    if (path.isEmpty()) {
        QTextStream(stderr) << usage;
        return 2;
    }
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        QTextStream(stderr) << "make_jet: " << path << " already exists; remove it first\n";
        return 1;
    }

    QString error;
    QList<Table> tables;
    if (products >= 0) {
        tables = catalogueTables(products, suppliers);
    } else {
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly))
            return 1;
        tables = tablesFromJson(input.readAll(), &error);
        if (tables.isEmpty()) {
            QTextStream(stderr) << "make_jet: " << error << '\n';
            return 1;
        }
    }
    const QByteArray file = write(tables, options, &error);
    if (file.isEmpty()) {
        QTextStream(stderr) << "make_jet: " << error << '\n';
        return 1;
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit()) {
        QTextStream(stderr) << "make_jet: cannot write " << path << ": " << out.errorString() << '\n';
        return 1;
    }
    return 0;
}
