// Exports the all-products list while a second program registers products, and reports how
// long the second program's writes waited. For comparison it then runs the same export inside
// one read transaction, as a reader holding the catalogue throughout would.
//
//   bench_concurrent <catalogue>
// Make the catalogue with: generate_catalogue <catalogue> 3000000
#include "engine/files/csvwriter.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/sqlite/sqlitestore.h"
#include "engine/statements/statementtexts.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;

namespace {

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The second program: stores products as the registration window does until the stop file
// appears. Prints "ready", then per write "write START_MS TOOK_MS OK".
int runWriter(const QString &path, const QString &stopFile)
{
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource syohin;
    syohin.setRecordSource(QString(SqlText::emptyProductView));
    if (!syohin.refresh())
        return 1;
    QTextStream lines(stdout);
    lines << "ready" << Qt::endl;
    for (qint64 n = 1; !QFile::exists(stopFile); ++n) {
        syohin.addNew();
        const QStringList texts{u"並行登録 %1"_s.arg(n), u"100"_s, u"90"_s, u"70"_s, QString::number(4500000000000LL + n),
                                QString::number(n), u"12"_s, u"並行商事"_s, u"100"_s, u"1"_s, u"1"_s};
        for (std::size_t i = 0; i < syohinFields.size(); ++i)
            syohin.setText(QString(syohinFields[i].name), texts.at(qsizetype(i)));
        const qint64 start = now();
        QElapsedTimer timer;
        timer.start();
        const bool ok = syohin.update().ok();
        lines << "write " << start << ' ' << QString::number(double(timer.nsecsElapsed()) / 1e6, 'f', 2) << ' '
              << (ok ? 1 : 0) << Qt::endl;
        if (!ok)
            syohin.cancelUpdate();
        QThread::msleep(50); // still far more often than anyone registers products
    }
    return 0;
}

struct Write
{
    qint64 start;
    double took;
    bool ok;
};

struct Span
{
    qint64 from;
    qint64 to;
    bool contains(const Write &write) const { return write.start >= from && write.start <= to; }
};

// Prints the writes that started within span; returns the longest and counts the failed.
double summarise(const char *what, const std::vector<Write> &writes, const Span &span, int *failed)
{
    std::vector<double> took;
    *failed = 0;
    for (const Write &write : writes) {
        if (!span.contains(write))
            continue;
        took.push_back(write.took);
        if (!write.ok)
            ++*failed;
    }
    const double longest = took.empty() ? 0 : *std::max_element(took.begin(), took.end());
    out() << "  " << what << ": " << took.size() << " writes, median "
          << QString::number(took.empty() ? 0 : Bench::median(took), 'f', 1) << " ms, longest "
          << QString::number(longest, 'f', 1) << " ms, " << *failed << " failed\n";
    return longest;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == u"--writer"_s)
        return runWriter(args.at(2), args.at(3));
    if (args.size() < 2 || !QFile::exists(args.at(1))) {
        QTextStream(stderr) << "usage: bench_concurrent <catalogue>\n";
        return 2;
    }
    const QString path = QFileInfo(args.at(1)).absoluteFilePath();
    QTemporaryDir dir;
    const QString csv = dir.filePath(u"export.csv"_s);
    const QString stopFile = dir.filePath(u"stop"_s);

    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    if (!source.refresh()) {
        QTextStream(stderr) << "cannot read " << path << ": " << source.status().message() << '\n';
        return 1;
    }

    QProcess writer;
    writer.start(QCoreApplication::applicationFilePath(), {u"--writer"_s, path, stopFile});
    writer.waitForStarted();
    while (writer.state() == QProcess::Running && !writer.canReadLine())
        writer.waitForReadyRead(1000);
    if (writer.readLine().trimmed() != "ready") {
        QTextStream(stderr) << "the writer did not start\n";
        return 1;
    }

    // Each export follows a second of writes with nothing else going on.
    const auto exportOnce = [&](bool oneTransaction, Span *span, Result<CsvSummary> *result) {
        QThread::msleep(1000);
        sqlite3 *db = static_cast<SqliteStore *>(source.store())->connection()->handle();
        if (oneTransaction)
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        span->from = now();
        *result = exportProductCsv(source, csv);
        span->to = now();
        if (oneTransaction)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    };
    const Span alone{0, now() + 1000};
    Span sliced{}, held{};
    Result<CsvSummary> slicedResult = Status(ErrorCode::ReadFailed, u"not run"_s);
    Result<CsvSummary> heldResult = slicedResult;
    exportOnce(false, &sliced, &slicedResult);
    exportOnce(true, &held, &heldResult);
    QThread::msleep(500);
    QFile(stopFile).open(QIODevice::WriteOnly);
    writer.waitForFinished(60000);

    // The products stored meanwhile go again, so the catalogue stays the same for the next run.
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "DELETE FROM syohin WHERE syohin_mei LIKE '並行登録 %'", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    std::vector<Write> writes;
    for (const QByteArray &line : writer.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 4 && parts.at(0) == "write")
            writes.push_back({parts.at(1).toLongLong(), parts.at(2).toDouble(), parts.at(3) == "1"});
    }

    out() << "catalogue " << path << '\n'
          << "export of " << (slicedResult ? slicedResult->rows : 0) << " rows in " << (sliced.to - sliced.from)
          << " ms, read in slices; a second program storing products meanwhile:\n";
    int failedAlone = 0, failedSliced = 0, failedHeld = 0;
    summarise("before the export", writes, alone, &failedAlone);
    const double longest = summarise("during the export", writes, sliced, &failedSliced);
    out() << "for comparison, the same export in one read transaction: " << (held.to - held.from) << " ms\n";
    summarise("during that export", writes, held, &failedHeld);

    Bench::Verdict verdict;
    verdict.check(slicedResult.ok(), u"export succeeded"_s);
    verdict.check(failedSliced == 0, u"no write failed during the export"_s);
    verdict.check(longest <= 250, u"no write waited more than 250 ms during the export"_s);
    return verdict.finish();
}
