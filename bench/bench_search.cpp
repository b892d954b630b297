// Measures the record source on a large catalogue beside the sqlite3 shell running the
// closest plain query on the same file, in the same run.
//
//   bench_search <catalogue> [runs]
// Make the catalogue with: generate_catalogue <catalogue> 1000000
#include "engine/kinds/number.h"
#include "engine/records/recordsource.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;
using Bench::timeMs;

namespace {

// The shell's time for a query, output discarded; its own start-up is measured and taken off.
// The shell reads the row ids of the matching rows, as a refresh does.
double shellMs(const QString &path, const QString &sql, int runs)
{
    auto run = [&](const QString &query) {
        QProcess shell;
        shell.setStandardOutputFile(QProcess::nullDevice());
        shell.start(u"sqlite3"_s, {path, query});
        shell.waitForFinished(-1);
    };
    const double startup = timeMs([&] { run(u"select 1"_s); }, runs);
    return std::max(0.0, timeMs([&] { run(sql); }, runs) - startup);
}

qint64 residentKb()
{
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * 4;
}

QString sampleJan(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT syohin_JAN FROM syohin WHERE rowid = (SELECT max(rowid) / 2 FROM syohin)", -1, &stmt, nullptr);
    QString jan;
    if (sqlite3_step(stmt) == SQLITE_ROW)
        jan = Currency::fromUnits(sqlite3_column_int64(stmt, 0)).toPlainText();
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return jan;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const char usage[] = "usage: bench_search <catalogue> [runs]   (times searches on a large catalogue beside the sqlite3 shell)\n";
    if (args.contains(u"--help"_s) || args.contains(u"-h"_s)) {
        QTextStream(stdout) << usage;
        return 0;
    }
    if (args.size() < 2 || !QFile::exists(args.at(1))) {
        QTextStream(stderr) << usage;
        return 2;
    }
    const QString path = args.at(1);
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 5;
    const QString jan = sampleJan(path);
    const QString janUnits = QString::number(Currency::parse(jan)->units());

    struct Case
    {
        QString name;
        QString statement;
        QString shellQuery;
        double allowed;
    };
    const std::vector<Case> cases{
        {u"department"_s, u"select * from syohin where syohin_JAN<>-99 and bumon_code like 150"_s,
         u"select rowid from syohin where syohin_JAN<>-990000 and bumon_code=1500000"_s, 1.5},
        {u"JAN"_s, u"select * from syohin where syohin_JAN<>-99 and syohin_JAN like "_s + jan,
         u"select rowid from syohin where syohin_JAN<>-990000 and syohin_JAN="_s + janUnits, 1.5},
        {u"name *コーラ*"_s, u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '*コーラ*'"_s,
         u"select rowid from syohin where syohin_JAN<>-990000 and syohin_mei glob '*コーラ*'"_s, 2.0},
    };

    Bench::Verdict verdict;
    out() << "catalogue " << path << ", median of " << runs << " runs\n";
    RecordSource source;
    source.setDatabaseName(path);
    for (const Case &c : cases) {
        source.setRecordSource(c.statement);
        bool ok = true;
        const double ours = timeMs([&] { ok = source.refresh() && ok; }, runs);
        const double shell = shellMs(path, c.shellQuery, runs);
        out() << c.name << ": " << source.recordCount() << " rows, refresh " << QString::number(ours, 'f', 2)
            << " ms, sqlite3 shell " << QString::number(shell, 'f', 2) << " ms, ratio "
            << QString::number(shell > 0 ? ours / shell : 0, 'f', 2) << '\n';
        verdict.check(ok, c.name + u" refresh succeeded"_s);
        // Small absolute times are dominated by noise: a few milliseconds of slack.
        verdict.check(ours <= c.allowed * shell + 3.0, c.name + u" within %1x of the shell"_s.arg(c.allowed));
    }

    const qint64 before = residentKb();
    source.setRecordSource(u"select * from syohin where syohin_JAN<>-99"_s);
    QElapsedTimer timer;
    timer.start();
    const bool all = source.refresh().ok();
    const double refreshAll = double(timer.nsecsElapsed()) / 1e6;
    const qint64 held = residentKb() - before;
    timer.restart();
    int cells = 0;
    for (int row = 0; row < 40 && row < source.recordCount(); ++row) {
        for (int column = 0; column < source.columnCount(); ++column)
            cells += source.data(source.index(row, column)).toString().isEmpty() ? 0 : 1;
    }
    const double firstScreen = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    const int last = source.recordCount() - 1;
    for (int row = last; row > last - 40 && row >= 0; --row)
        source.data(source.index(row, 0));
    const double lastScreen = double(timer.nsecsElapsed()) / 1e6;
    out() << "all products: " << source.recordCount() << " rows, refresh " << QString::number(refreshAll, 'f', 1)
        << " ms, held in " << held / 1024 << " MB more resident memory; first screen (40 rows, " << cells
        << " cells) " << QString::number(firstScreen, 'f', 2) << " ms; last screen "
        << QString::number(lastScreen, 'f', 2) << " ms\n";
    verdict.check(all, u"all-products refresh succeeded"_s);
    verdict.check(held < 64 * 1024, u"1,000,000-row result held in under 64 MB"_s);
    verdict.check(firstScreen < 100.0, u"first screen read in under 100 ms"_s);

    return verdict.finish();
}
