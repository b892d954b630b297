// Times the CSV import of the program's own export of every product into an empty catalogue
// (the suppliers copied in first), as `merchalog import --duplicates add` runs it, beside the sqlite3 shell's
// .import of the same rows as UTF-8 into a table with the same indexes, in the same run. Both
// run as their own processes, so their peak memory is theirs alone. Also times the check
// that the import window's preview does (`merchalog import --dry-run`).
//
//   bench_import <catalogue> [runs]
// Make the catalogue with: generate_catalogue <catalogue> 1000000
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/kinds/schema.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"
#include "engine/files/csvwriter.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTextStream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <vector>

extern char **environ;

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Bench::out;

namespace {

struct Run
{
    bool ok = false;
    double ms = 0;
    qint64 peakKb = 0;
};

// Runs a program to its end, its input from a file when given, and measures it.
Run runProgram(const QStringList &arguments, const QString &input = {})
{
    std::vector<QByteArray> bytes;
    for (const QString &argument : arguments)
        bytes.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!input.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 0, QFile::encodeName(input).constData(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

    Run run;
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            run.peakKb = usage.ru_maxrss;
        }
    }
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// The median time of the runs, and the highest peak; ok when every run was.
Run summary(const std::vector<Run> &runs)
{
    Run result{true, 0, 0};
    std::vector<double> times;
    for (const Run &run : runs) {
        result.ok = result.ok && run.ok;
        result.peakKb = std::max(result.peakKb, run.peakKb);
        times.push_back(run.ms);
    }
    result.ms = Bench::median(times);
    return result;
}

bool sqlite(const QString &database, const QString &sql)
{
    return runProgram({u"sqlite3"_s, u"-bail"_s, database, sql}).ok;
}

QString format(const Run &run)
{
    return u"%1 ms, peak memory %2 MB"_s.arg(run.ms, 0, 'f', 1).arg(run.peakKb / 1024);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.at(1).startsWith(u'-') || !QFile::exists(args.at(1))) {
        QTextStream(stderr) << "usage: bench_import <catalogue> [runs]\n";
        return 2;
    }
    const QString path = QFileInfo(args.at(1)).absoluteFilePath();
    const int runs = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 3;
    const QString program = QStringLiteral(MERCHALOG_PROGRAM);
    QTemporaryDir dir(QFileInfo(path).absolutePath() + u"/bench-import-XXXXXX"_s);
    const QString ourFile = dir.filePath(u"products.csv"_s);
    const QString shellFile = dir.filePath(u"products-utf8.csv"_s);

    // The program's own export of every product, and the same rows as UTF-8.
    CurrentCatalogue::instance().setDatabaseName(path);
    RecordSource source;
    source.setRecordSource(QString(SqlText::allProducts));
    if (!source.refresh() || !exportProductCsv(source, ourFile)) {
        QTextStream(stderr) << "cannot export " << path << '\n';
        return 1;
    }
    const qint64 rows = source.recordCount();
    {
        QFile in(ourFile);
        QFile utf8(shellFile);
        if (!in.open(QIODevice::ReadOnly) || !utf8.open(QIODevice::WriteOnly))
            return 1;
        QStringDecoder decoder("windows-31j");
        while (!in.atEnd())
            utf8.write(QString(decoder.decode(in.read(1 << 20))).toUtf8());
    }

    // An empty catalogue with the suppliers, and for the shell a table of the same fields
    // with the same indexes.
    const QString emptyCatalogue = dir.filePath(u"empty.mdb"_s);
    if (!createCatalogueFile(emptyCatalogue)
        || !sqlite(emptyCatalogue, u"ATTACH '%1' AS source; INSERT INTO torihiki SELECT * FROM source.torihiki;"_s.arg(path)))
        return 1;
    QString shellSchema = u"CREATE TABLE syohin ("_s;
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        shellSchema += (i > 0 ? u", "_s : QString()) + syohinFields[i].name + u' ' + declaredTypeOf(syohinFields[i].kind);
    shellSchema += u");"_s;
    for (const auto field : {Field::bumon_code, Field::syohin_JAN, Field::syohin_EOS, Field::syohin_master,
                             Field::syohin_torihikicode})
        shellSchema += u"CREATE INDEX idx_%1 ON syohin (%1);"_s.arg(field);

    std::vector<Run> ours, shell, preview;
    for (int i = 0; i < runs; ++i) {
        const QString catalogue = dir.filePath(u"import-%1.mdb"_s.arg(i));
        QFile::copy(emptyCatalogue, catalogue);
        // Every product comes back, also those whose JAN another product has.
        const QStringList import{program, u"import"_s, catalogue, ourFile, u"--table"_s, u"syohin"_s,
                                 u"--duplicates"_s, u"add"_s};
        preview.push_back(runProgram(import + QStringList{u"--dry-run"_s}));
        ours.push_back(runProgram(import));

        const QString shellDatabase = dir.filePath(u"shell-%1.db"_s.arg(i));
        const QString commands = dir.filePath(u"import.sql"_s);
        QFile script(commands);
        if (!script.open(QIODevice::WriteOnly))
            return 1;
        script.write((shellSchema + u"\n.import --csv --skip 1 '%1' syohin\n"_s.arg(shellFile)).toUtf8());
        script.close();
        shell.push_back(runProgram({u"sqlite3"_s, u"-bail"_s, shellDatabase}, commands));
        QFile::remove(catalogue);
        QFile::remove(shellDatabase);
    }
    const Run import = summary(ours);
    const Run check = summary(preview);
    const Run dotImport = summary(shell);
    const double ratio = dotImport.ms > 0 ? import.ms / dotImport.ms : 0;

    out() << "catalogue " << path << ": " << rows << " products, CSV " << QFileInfo(ourFile).size() / 1024
          << " KB (CP932), median of " << runs << " runs\n"
          << "merchalog import: " << format(import) << '\n'
          << "merchalog import --dry-run (the preview's check): " << format(check) << '\n'
          << "sqlite3 .import (UTF-8, same indexes): " << format(dotImport) << '\n'
          << "ratio " << QString::number(ratio, 'f', 2) << '\n';

    Bench::Verdict verdict;
    verdict.check(import.ok && check.ok && dotImport.ok, u"every run succeeded"_s);
    verdict.check(ratio <= 3.0, u"within 3x of the shell"_s);
    verdict.check(std::max(import.peakKb, check.peakKb) < 128 * 1024, u"memory under 128 MB"_s);
    return verdict.finish();
}
