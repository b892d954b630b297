// Times importing an Access catalogue into a new catalogue (the child reader, every value
// converted and judged as the import takes it, all rows stored) beside mdbtools' mdb-export
// writing the products table as CSV, in the same run.
//
//   bench_jet <file.mdb> [runs]
// Make the file with: make_jet --products 100000 <file.mdb>
#include "engine/jet/jetimport.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;
using Bench::timeMs;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: bench_jet <file.mdb> [runs]   (times reading an Access catalogue beside mdb-export)\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        out() << usage;
        return 0;
    }
    if (args.size() < 2 || !QFileInfo::exists(args.at(1))) {
        QTextStream(stderr) << usage;
        return 2;
    }
    const QString path = QFileInfo(args.at(1)).absoluteFilePath();
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 3;
    // The reader is this program's sibling in the build.
    JetReader::setReaderProgram(QFileInfo(app.applicationDirPath() + u"/../app/merchalog"_s).absoluteFilePath());
    QTemporaryDir dir;
    const QString exported = dir.filePath(u"mdb-export.csv"_s);

    qint64 rows = 0;
    qint64 errors = 0;
    QString failure;
    int run = 0;
    const double ours = timeMs([&] {
        JetImport import(path);
        const Status stored = import.store(dir.filePath(u"imported-%1.mdb"_s.arg(++run)));
        if (!stored)
            failure = stored.message();
        rows = import.plan().addedRows();
        errors = import.plan().errorCount();
    }, runs);
    const double mdbExport = timeMs([&] {
        QProcess program;
        program.setStandardOutputFile(exported);
        program.start(u"mdb-export"_s, {path, u"syohin"_s});
        program.waitForFinished(-1);
    }, runs);

    const double ratio = mdbExport > 0 ? ours / mdbExport : 0;
    out() << "file " << path << ", median of " << runs << " runs\n"
          << "import: " << rows << " rows stored (" << errors << " values refused) in " << QString::number(ours, 'f', 1) << " ms\n"
          << "mdb-export syohin: " << QFileInfo(exported).size() / 1024 << " KB in " << QString::number(mdbExport, 'f', 1)
          << " ms\n"
          << "ratio " << QString::number(ratio, 'f', 2) << '\n';
    if (!failure.isEmpty())
        out() << failure << '\n';

    Bench::Verdict verdict;
    verdict.check(failure.isEmpty() && errors == 0, u"every row stored"_s);
    verdict.check(ratio <= 2.0, u"within 2x of mdb-export"_s);
    return verdict.finish();
}
