// Measures searches on a server catalogue beside psql running the closest plain query on the
// same server in the same run, and the name pattern beside the file catalogue's scan of the
// same data.
//
//   bench_server <catalogue file> <server address of a copy of it> [runs]
// tools/bench.sh starts a throwaway server and copies the catalogue there first.
#include "engine/records/recordsource.h"
#include "engine/server/servercatalogue.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;
using Bench::timeMs;

namespace {

// psql's own timing of a query (\timing), median of runs, the rows sent to /dev/null.
double psqlMs(const QString &address, const QString &sql, int runs)
{
    QString script = u"\\timing on\n"_s;
    for (int i = 0; i < runs; ++i)
        script += sql + u" \\g /dev/null\n"_s;
    QProcess psql;
    psql.start(u"psql"_s, {u"-X"_s, u"-q"_s, u"-d"_s, address});
    psql.write(script.toUtf8());
    psql.closeWriteChannel();
    psql.waitForFinished(-1);
    std::vector<double> times;
    static const QRegularExpression time(u"Time: ([0-9.]+) ms"_s);
    auto it = time.globalMatch(QString::fromUtf8(psql.readAllStandardOutput()));
    while (it.hasNext())
        times.push_back(it.next().captured(1).toDouble());
    return times.empty() ? -1 : Bench::median(times);
}

qint64 residentKb()
{
    QFile statm(u"/proc/self/statm"_s);
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * 4;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || !QFile::exists(args.at(1))) {
        QTextStream(stderr) << "usage: bench_server <catalogue file> <server address> [runs]\n";
        return 2;
    }
    const QString file = args.at(1);
    const int runs = args.size() > 3 ? std::max(1, args.at(3).toInt()) : 5;
    QString error;
    auto catalogue = Server::Catalogue::open(args.at(2), &error);
    if (!catalogue) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    const QString address = catalogue->address();
    const Server::Result middle = catalogue->session().exec(
        "SELECT trim_scale(syohin_jan)::text FROM syohin WHERE syohin_id = (SELECT max(syohin_id) / 2 FROM syohin)");
    const QString jan = middle.rows() == 1 ? middle.text(0, 0) : u"0"_s;

    // A window's record source on the server: a refresh parses, compiles, reads the keys
    // through a cursor and the first row.
    RecordSource server;
    server.setDatabaseName(address);
    std::size_t selected = 0;
    const auto refresh = [&](const QString &text) {
        server.setRecordSource(text);
        const bool ok = server.refresh().ok();
        selected = std::size_t(server.recordCount());
        return ok;
    };

    struct Case
    {
        QString name;
        QString statement;
        QString psqlQuery;
    };
    const std::vector<Case> cases{
        {u"department"_s, u"select * from syohin where syohin_JAN<>-99 and bumon_code like 150"_s,
         u"select syohin_id from syohin where syohin_jan <> -99 and bumon_code = 150 order by syohin_id"_s},
        {u"JAN"_s, u"select * from syohin where syohin_JAN<>-99 and syohin_JAN like "_s + jan,
         u"select syohin_id from syohin where syohin_jan <> -99 and syohin_jan = "_s + jan + u" order by syohin_id"_s},
        {u"name *コーラ*"_s, u"select * from syohin where syohin_JAN<>-99 and syohin_mei like '*コーラ*'"_s,
         u"select syohin_id from syohin_search where syohin_jan <> -99 and syohin_mei_fold like '%コーラ%' order by syohin_id"_s},
    };

    Bench::Verdict verdict;
    out() << "server " << address << ", median of " << runs << " runs\n";
    for (const Case &c : cases) {
        bool ok = true;
        const double ours = timeMs([&] { ok = refresh(c.statement) && ok; }, runs);
        const double psql = psqlMs(address, c.psqlQuery, runs);
        out() << c.name << ": " << selected << " rows, refresh " << QString::number(ours, 'f', 2) << " ms, psql "
              << QString::number(psql, 'f', 2) << " ms, ratio " << QString::number(psql > 0 ? ours / psql : 0, 'f', 2)
              << '\n';
        verdict.check(ok && psql >= 0, c.name + u" refresh succeeded"_s);
        if (c.name != u"name *コーラ*")
            verdict.check(ours <= 1.5 * psql + 1.0, c.name + u" within 1.5x of psql"_s);
    }

    // The same name pattern on the file catalogue: its scan of the same data.
    RecordSource source;
    source.setDatabaseName(file);
    source.setRecordSource(cases[2].statement);
    bool fileOk = true;
    const double fileScan = timeMs([&] { fileOk = source.refresh() && fileOk; }, runs);
    const double serverName = timeMs([&] { refresh(cases[2].statement); }, runs);
    out() << "name *コーラ* on the file: " << source.recordCount() << " rows, " << QString::number(fileScan, 'f', 2)
          << " ms; on the server " << QString::number(serverName, 'f', 2) << " ms, "
          << QString::number(serverName > 0 ? fileScan / serverName : 0, 'f', 1) << "x faster\n";
    verdict.check(fileOk && std::size_t(source.recordCount()) == selected, u"file and server select the same rows"_s);
    verdict.check(serverName * 5 <= fileScan, u"name pattern at least 5x faster than the file's scan"_s);

    const qint64 before = residentKb();
    QElapsedTimer timer;
    timer.start();
    const bool all = refresh(u"select * from syohin where syohin_JAN<>-99"_s);
    const double refreshAll = double(timer.nsecsElapsed()) / 1e6;
    const qint64 held = residentKb() - before;
    // The first screen: 40 rows of the list as a grid shows them, cell by cell.
    timer.restart();
    int shown = 0;
    for (int row = 0; row < std::min(40, server.rowCount()); ++row) {
        for (int column = 0; column < server.columnCount(); ++column)
            shown += server.data(server.index(row, column)).isValid() ? 1 : 0;
    }
    const double firstScreen = double(timer.nsecsElapsed()) / 1e6;
    const bool screen = shown > 0 && server.rowCount() >= 40;
    out() << "all products: " << selected << " rows, refresh " << QString::number(refreshAll, 'f', 1)
          << " ms, held in " << held / 1024 << " MB more resident memory; first screen (40 rows) "
          << QString::number(firstScreen, 'f', 2) << " ms\n";
    verdict.check(all && selected >= 1000000, u"all-products refresh succeeded"_s);
    verdict.check(held < 64 * 1024, u"1,000,000-row result held in under 64 MB"_s);
    verdict.check(screen && firstScreen < 100.0, u"first screen read in under 100 ms"_s);
    return verdict.finish();
}
