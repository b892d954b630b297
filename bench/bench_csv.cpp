// Times the CSV export of the all-products list beside the sqlite3 shell's CSV output of the
// same rows from the same file, in the same run.
//
//   bench_csv <catalogue> [runs]
// Make the catalogue with: generate_catalogue <catalogue> 1000000
#include "engine/files/csvwriter.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/statements/statementtexts.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;
using Bench::timeMs;

namespace {

qint64 peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: bench_csv <catalogue> [runs]   (times the CSV export of every product beside the sqlite3 shell)\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (args.size() < 2 || !QFile::exists(args.at(1))) {
        QTextStream(stderr) << usage;
        return 2;
    }
    const QString path = QFileInfo(args.at(1)).absoluteFilePath();
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 3;
    QTemporaryDir dir;
    const QString ourFile = dir.filePath(u"ours.csv"_s);
    const QString shellFile = dir.filePath(u"shell.csv"_s);

    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    if (!source.refresh()) {
        QTextStream(stderr) << "cannot read " << path << ": " << source.status().message() << '\n';
        return 1;
    }
    const qint64 peakBefore = peakResidentKb();

    Result<CsvSummary> result = Status(ErrorCode::ReadFailed, u"not run"_s);
    const double ours = timeMs([&] { result = exportProductCsv(source, ourFile); }, runs);
    const qint64 peakGrowth = peakResidentKb() - peakBefore;

    const double shell = timeMs([&] {
        QProcess shell;
        shell.setStandardOutputFile(shellFile);
        shell.start(u"sqlite3"_s, {u"-csv"_s, path, QString(SqlText::allProducts)});
        shell.waitForFinished(-1);
    }, runs);

    const double ratio = shell > 0 ? ours / shell : 0;
    out() << "catalogue " << path << ", median of " << runs << " runs\n"
        << "export: " << (result ? result->rows : 0) << " rows, " << QFileInfo(ourFile).size() / 1024 << " KB in "
        << QString::number(ours, 'f', 1) << " ms; peak memory grew " << peakGrowth / 1024 << " MB\n"
        << "sqlite3 -csv: " << QFileInfo(shellFile).size() / 1024 << " KB in " << QString::number(shell, 'f', 1)
        << " ms\n"
        << "ratio " << QString::number(ratio, 'f', 2) << '\n';

    Bench::Verdict verdict;
    verdict.check(result.ok(), u"export succeeded"_s);
    verdict.check(ratio <= 2.0, u"within 2x of the shell"_s);
    verdict.check(peakGrowth < 64 * 1024, u"rows not held in memory (peak grew under 64 MB)"_s);
    return verdict.finish();
}
