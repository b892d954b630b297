// Kills the crash driver at random moments while it registers, deletes or edits, and checks
// after every kill that the catalogue is sound: integrity_check says "ok", every row the
// driver reported as stored is there and whole, and nothing else was half-written. The
// number of kills and the longest delay before a kill come from the environment
// (MERCHALOG_CRASH_KILLS, MERCHALOG_CRASH_MAX_DELAY_MS, MERCHALOG_CRASH_SEED), so the soak run
// can repeat the same tests for longer.

#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/statementtexts.h"
#include "cataloguescan.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using Merchalog::Crash::Scan;

namespace {

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// What one run of the driver said and how it ended.
struct Run
{
    QStringList lines;
    QString errors;
    bool killed = false;
    bool finished = false;
    int exitCode = -1;

    // The keys of lines that start with a word ("ok", "deleted", ...), in order.
    QList<qint64> keys(QStringView word) const
    {
        QList<qint64> result;
        for (const QString &line : lines) {
            const QStringList parts = line.split(u' ');
            if (parts.size() >= 2 && parts.first() == word)
                result << parts.at(1).toLongLong();
        }
        return result;
    }
    QStringList failures() const { return lines.filter(QRegularExpression(u"^fail "_s)); }
    bool done() const { return lines.contains(u"done"_s); }
};

// Names of this many characters spread each product over about 75 pages of the file, so a
// write takes long enough for kills to land inside it.
constexpr int largeName = 100000;

// When to kill the driver: after a delay from the moment it is ready, or once it begins
// its n-th write, a few microseconds into it.
struct KillPlan
{
    int delayMs = 0;
    int atWrite = 0;
    int microseconds = 0;
};

// Counts for the report at the end of each test.
struct Tally
{
    int runs = 0;
    int kills = 0;
    int killsAfterAWrite = 0;
    qint64 acknowledged = 0;
    qint64 rowsChecked = 0;
};

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void killedProductRegistrationLosesNothing();
    void killedSupplierRegistrationLosesNothing();
    void killedProductDeletionLosesNothing();
    void killedDetailEditLosesNothing();
    void checksNoticeDamageWithoutJournal();
    void idleLargeResultNeverBlocksAnotherProgram();
    void twoProgramsWritingAtOnceLoseNothing_data();
    void twoProgramsWritingAtOnceLoseNothing();

private:
    Run runDriver(const QStringList &arguments, std::optional<KillPlan> kill);
    KillPlan randomKill();
    std::optional<QString> registrationCycle(const QString &mode, const QStringList &options, qint64 *stored,
                                             Tally *tally);
    void report(const char *what, const Tally &tally);

    QString m_driver;
    int m_kills = 25;
    int m_maxDelay = 100;
    int m_writeMicros = 1000;
    QRandomGenerator m_random;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestCrashSafety::initTestCase()
{
    m_driver = qEnvironmentVariable("MERCHALOG_CRASHDRIVER",
                                    QString::fromUtf8(MERCHALOG_BINARY_DIR "/tests/reliability/crashdriver"));
    QVERIFY2(QFileInfo(m_driver).isExecutable(), qPrintable(u"no crash driver at "_s + m_driver));
    m_kills = environmentNumber("MERCHALOG_CRASH_KILLS", m_kills);
    m_maxDelay = environmentNumber("MERCHALOG_CRASH_MAX_DELAY_MS", m_maxDelay);
    const quint32 seed = quint32(environmentNumber("MERCHALOG_CRASH_SEED", int(QRandomGenerator::global()->bounded(1 << 30))));
    m_random.seed(seed);

    // On a slow disk a write takes longer: kills must still come after some writes, so the
    // delays stretch over several of them.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"calibration.mdb"_s);
    QVERIFY(Test::makeCatalogue(path));
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(m_driver, {u"products"_s, path, u"1"_s, u"5"_s, u"--name-size"_s, QString::number(largeName)});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const int perWrite = int(timer.elapsed() / 5);
    m_writeMicros = std::max(1000, perWrite * 1000);
    m_maxDelay = std::max(m_maxDelay, 4 * perWrite);
    qInfo("crash driver %s, %d kills per test, about %d ms a write, delays up to %d ms, seed %u",
          qPrintable(m_driver), m_kills, perWrite, m_maxDelay, seed);
}

void TestCrashSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(u"catalogue.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_path));
}

void TestCrashSafety::cleanup()
{
    m_dir.reset();
}

KillPlan TestCrashSafety::randomKill()
{
    KillPlan plan;
    if (m_random.bounded(2) == 0) {
        plan.delayMs = int(m_random.bounded(m_maxDelay + 1));
    } else {
        // Most damage can only happen while a write is under way: aim there half the time.
        plan.atWrite = 1 + int(m_random.bounded(4));
        plan.microseconds = int(m_random.bounded(m_random.bounded(2) ? 500 : m_writeMicros));
    }
    return plan;
}

Run TestCrashSafety::runDriver(const QStringList &arguments, std::optional<KillPlan> kill)
{
    Run run;
    QProcess process;
    process.start(m_driver, arguments);
    if (!process.waitForStarted(30000)) {
        run.errors = process.errorString();
        return run;
    }
    // The delay counts from the moment the driver has its catalogue open.
    QByteArray out;
    while (!out.contains("ready\n") && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        out += process.readAllStandardOutput();
    }
    if (kill && kill->atWrite > 0) {
        while (out.count("\nbegin ") < kill->atWrite && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            out += process.readAllStandardOutput();
        }
        if (process.state() == QProcess::Running) {
            QThread::usleep(kill->microseconds);
            process.kill(); // SIGKILL
            run.killed = true;
        }
    } else if (kill && process.state() == QProcess::Running && !process.waitForFinished(kill->delayMs)) {
        process.kill(); // SIGKILL
        run.killed = true;
    }
    process.waitForFinished(300000);
    out += process.readAllStandardOutput();
    run.errors = QString::fromUtf8(process.readAllStandardError());
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    return run;
}

void TestCrashSafety::report(const char *what, const Tally &tally)
{
    qInfo("%s: %d runs, %d kills (%d after at least one acknowledged write), %lld writes acknowledged, "
          "%lld rows checked",
          what, tally.runs, tally.kills, tally.killsAfterAWrite, tally.acknowledged, tally.rowsChecked);
}

// One run of a registering driver, killed after a random delay, and the check of the file.
// Products or suppliers 1..*stored are in the file before; afterwards *stored says how many
// are. Returns the first fault found, empty when the file is sound, nullopt when the driver
// did not run at all.
std::optional<QString> TestCrashSafety::registrationCycle(const QString &mode, const QStringList &options,
                                                          qint64 *stored, Tally *tally)
{
    const Run run = runDriver(QStringList{mode, m_path, QString::number(*stored + 1), u"1000000"_s} + options,
                              randomKill());
    ++tally->runs;
    if (!run.killed && !run.finished) {
        qWarning("the driver did not run: %s", qPrintable(run.errors));
        return std::nullopt;
    }
    if (!run.failures().isEmpty())
        return u"a registration failed: "_s + run.failures().first();
    const QList<qint64> acked = run.keys(u"ok");
    for (qsizetype i = 0; i < acked.size(); ++i) {
        if (acked.at(i) != *stored + 1 + i)
            return u"acknowledged out of order: %1"_s.arg(acked.at(i));
    }
    if (run.killed) {
        ++tally->kills;
        if (!acked.isEmpty())
            ++tally->killsAfterAWrite;
    }
    tally->acknowledged += acked.size();

    // The program itself opens the file first, as after a crash: it must take it as a catalogue
    // (rolling back whatever the killed write left in its journal).
    if (const Status opens = Connection::check(m_path); !opens)
        return u"the catalogue no longer opens (%1)"_s.arg(opens.message());
    const Scan scan = Crash::scanTable(m_path, mode == u"products"_s);
    tally->rowsChecked += scan.rows;
    if (!scan.sound())
        return scan.report();
    // Exactly the keys 1..n are stored, where n is the last acknowledged key or, when the
    // kill came after the row was stored but before the driver could say so, one more.
    const qint64 lastAcked = acked.isEmpty() ? *stored : acked.last();
    const qint64 count = scan.versions.size();
    if (count < lastAcked)
        return u"%1 acknowledged rows, only %2 stored"_s.arg(lastAcked).arg(count);
    if (count > lastAcked + 1)
        return u"%1 acknowledged rows, %2 stored"_s.arg(lastAcked).arg(count);
    for (qint64 key = 1; key <= count; ++key) {
        if (!scan.versions.contains(key))
            return u"key %1 is missing"_s.arg(key);
    }
    *stored = count;
    return QString();
}

void TestCrashSafety::killedProductRegistrationLosesNothing()
{
    Tally tally;
    qint64 stored = 0;
    while (tally.kills < m_kills) {
        const auto fault = registrationCycle(u"products"_s, {u"--name-size"_s, QString::number(largeName)},
                                             &stored, &tally);
        QVERIFY(fault);
        QVERIFY2(fault->isEmpty(), qPrintable(u"after %1 kills: "_s.arg(tally.kills) + *fault));
        QVERIFY2(tally.runs < 3 * m_kills + 10, "the driver keeps finishing before it is killed");
    }
    QVERIFY2(tally.killsAfterAWrite >= m_kills / 3, "most kills came before anything was written");
    report("products", tally);
}

void TestCrashSafety::killedSupplierRegistrationLosesNothing()
{
    Tally tally;
    qint64 stored = 0;
    while (tally.kills < m_kills) {
        const auto fault = registrationCycle(u"suppliers"_s, {u"--name-size"_s, u"3000"_s}, &stored, &tally);
        QVERIFY(fault);
        QVERIFY2(fault->isEmpty(), qPrintable(u"after %1 kills: "_s.arg(tally.kills) + *fault));
        QVERIFY2(tally.runs < 3 * m_kills + 10, "the driver keeps finishing before it is killed");
    }
    QVERIFY2(tally.killsAfterAWrite >= m_kills / 3, "most kills came before anything was written");
    report("suppliers", tally);
}

void TestCrashSafety::killedProductDeletionLosesNothing()
{
    constexpr qint64 batch = 2000;
    qint64 next = 1;
    qint64 last = batch;
    QVERIFY(Crash::seedProducts(m_path, next, batch, 200));
    Tally tally;
    while (tally.kills < m_kills) {
        const Run run = runDriver({u"delete"_s, m_path, QString::number(next), QString::number(last - next + 1)},
                                  randomKill());
        ++tally.runs;
        QVERIFY2(run.killed || run.finished, qPrintable(run.errors));
        QVERIFY2(run.failures().isEmpty(), qPrintable(run.failures().join(u'\n')));
        // Handled keys come in order; "gone" is a key the previous run removed just before its kill.
        QList<qint64> handled;
        for (const QString &line : run.lines) {
            const QStringList parts = line.split(u' ');
            if (parts.first() == u"deleted"_s || parts.first() == u"gone"_s)
                handled << parts.at(1).toLongLong();
        }
        for (qsizetype i = 0; i < handled.size(); ++i)
            QCOMPARE(handled.at(i), next + i);
        QVERIFY2(run.keys(u"gone").size() <= 1, "more than one product vanished unacknowledged");
        if (run.killed) {
            ++tally.kills;
            if (!run.keys(u"deleted").isEmpty())
                ++tally.killsAfterAWrite;
        }
        tally.acknowledged += run.keys(u"deleted").size();

        QCOMPARE(Connection::check(m_path).code(), ErrorCode::None);
        const Scan scan = Crash::scanTable(m_path, true);
        tally.rowsChecked += scan.rows;
        QVERIFY2(scan.sound(), qPrintable(scan.report()));
        const qint64 lastHandled = handled.isEmpty() ? next - 1 : handled.last();
        for (qint64 key = next; key <= lastHandled; ++key)
            QVERIFY2(!scan.versions.contains(key), qPrintable(u"deleted key %1 is back"_s.arg(key)));
        // Every product after the one in flight is untouched.
        for (qint64 key = lastHandled + 2; key <= last; ++key)
            QVERIFY2(scan.versions.contains(key), qPrintable(u"key %1 was lost"_s.arg(key)));
        QVERIFY(scan.versions.size() >= last - lastHandled - 1 && scan.versions.size() <= last - lastHandled);
        // The key after the last one handled is next, unless it was in flight at the kill and is
        // gone already; a key past the batch is not seeded yet, so it cannot be gone.
        next = lastHandled == last || scan.versions.contains(lastHandled + 1) ? lastHandled + 1 : lastHandled + 2;
        if (next > last) {
            QVERIFY(Crash::seedProducts(m_path, last + 1, batch, 200));
            last += batch;
        }
    }
    QVERIFY2(tally.killsAfterAWrite >= m_kills / 3, "most kills came before anything was deleted");
    report("deletions", tally);
}

void TestCrashSafety::killedDetailEditLosesNothing()
{
    constexpr qint64 products = 600;
    QVERIFY(Crash::seedProducts(m_path, 1, products, 1000));
    QHash<qint64, int> before;
    for (qint64 key = 1; key <= products; ++key)
        before.insert(key, 0);
    int version = 1;
    Tally tally;
    while (tally.kills < m_kills) {
        const Run run = runDriver({u"edit"_s, m_path, QString::number(version)}, randomKill());
        ++tally.runs;
        QVERIFY2(run.killed || run.finished, qPrintable(run.errors));
        QVERIFY2(run.failures().isEmpty(), qPrintable(run.failures().join(u'\n')));
        const QList<qint64> edited = run.keys(u"edited");
        if (run.killed) {
            ++tally.kills;
            if (!edited.isEmpty())
                ++tally.killsAfterAWrite;
        }
        tally.acknowledged += edited.size();

        QCOMPARE(Connection::check(m_path).code(), ErrorCode::None);
        const Scan scan = Crash::scanTable(m_path, true);
        tally.rowsChecked += scan.rows;
        QVERIFY2(scan.sound(), qPrintable(scan.report()));
        QCOMPARE(qint64(scan.versions.size()), products);
        for (qint64 key : edited)
            QVERIFY2(scan.versions.value(key) == version, qPrintable(u"edit of key %1 was lost"_s.arg(key)));
        // Besides the acknowledged edits, only the one in flight may have been stored.
        int unacknowledged = 0;
        for (auto it = scan.versions.cbegin(); it != scan.versions.cend(); ++it) {
            QVERIFY(it.value() == before.value(it.key()) || it.value() == version);
            if (it.value() != before.value(it.key()) && !edited.contains(it.key()))
                ++unacknowledged;
        }
        QVERIFY2(unacknowledged <= 1, qPrintable(u"%1 edits stored unacknowledged"_s.arg(unacknowledged)));
        before = scan.versions;
        if (run.done()) {
            for (int stored : std::as_const(before))
                QCOMPARE(stored, version);
            ++version;
        }
    }
    QVERIFY2(tally.killsAfterAWrite >= m_kills / 3, "most kills came before anything was edited");
    report("detail edits", tally);
}

void TestCrashSafety::checksNoticeDamageWithoutJournal()
{
    // Without a journal a write cut short stays half done in the file. The same kills and checks
    // as above must notice that, or they could not notice anything.
    const int maxKills = std::max(200, m_kills * 4);
    Tally tally;
    qint64 stored = 0;
    QString fault;
    while (fault.isEmpty() && tally.kills < maxKills && tally.runs < 3 * maxKills) {
        const auto cycle = registrationCycle(u"products"_s,
                                             {u"--name-size"_s, QString::number(largeName), u"--unsafe"_s},
                                             &stored, &tally);
        QVERIFY(cycle);
        fault = *cycle;
    }
    report("without journal", tally);
    QVERIFY2(!fault.isEmpty(), "no damage found after killing a writer without a journal");
    qInfo("damage found: %s", qPrintable(fault.left(300)));
}

void TestCrashSafety::idleLargeResultNeverBlocksAnotherProgram()
{
    const qint64 products = environmentNumber("MERCHALOG_LARGE_RESULT_ROWS", 100000);
    QVERIFY(Crash::seedProducts(m_path, 1, products, 8));
    RecordSource held;
    held.setDatabaseName(m_path);
    held.setRecordSource(QString(SqlText::allProducts));
    QVERIFY(held.refresh());
    QCOMPARE(qint64(held.recordCount()), products);
    // Look at rows as the grid does, then select one in the middle.
    for (int row = 0; row < 40; ++row)
        QVERIFY(!held.data(held.index(row, 0)).toString().isEmpty());
    QVERIFY(held.setCurrentRow(int(products / 2)));

    // The other program does not wait at all: any lock held here would fail its writes.
    const Run run = runDriver({u"products"_s, m_path, QString::number(products + 1), u"25"_s, u"--name-size"_s,
                               u"8"_s, u"--busy-timeout"_s, u"0"_s},
                              std::nullopt);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.lines.join(u'\n') + run.errors));
    QVERIFY2(run.failures().isEmpty(), qPrintable(run.failures().join(u'\n')));
    QCOMPARE(run.keys(u"ok").size(), 25);

    // And this result still writes and refreshes afterwards.
    const qint64 key = Crash::parseName(held.text(Field::syohin_mei))->key;
    const QStringList texts = Crash::productTexts(key, 1, 8);
    for (int field : Crash::editedProductFields)
        QVERIFY(held.setText(QString(syohinFields[std::size_t(field)].name), texts.at(field)));
    QVERIFY2(held.storePending(), qPrintable(held.status().message()));
    QVERIFY(held.refresh());
    QCOMPARE(qint64(held.recordCount()), products + 25);

    const Scan scan = Crash::scanTable(m_path, true);
    QVERIFY2(scan.sound(), qPrintable(scan.report()));
    QCOMPARE(scan.versions.value(key), 1);
}

void TestCrashSafety::twoProgramsWritingAtOnceLoseNothing_data()
{
    QTest::addColumn<QStringList>("options");
    // Each waits up to five seconds for the other's write to finish. Under a long storm of
    // writes on a busy machine a write can still wait in vain; it must then be reported.
    QTest::newRow("waiting for each other") << QStringList{};
    // Without waiting many writes fail; each must be reported and leave nothing behind.
    QTest::newRow("not waiting") << QStringList{u"--busy-timeout"_s, u"0"_s};
}

void TestCrashSafety::twoProgramsWritingAtOnceLoseNothing()
{
    QFETCH(QStringList, options);
    const int rows = environmentNumber("MERCHALOG_TWO_WRITER_ROWS", 60);
    const qint64 firstKeys[] = {1, 1000001};
    QProcess writers[2];
    for (int i = 0; i < 2; ++i) {
        writers[i].start(m_driver, QStringList{u"products"_s, m_path, QString::number(firstKeys[i]),
                                               QString::number(rows), u"--name-size"_s, u"500"_s}
                                       + options);
        QVERIFY(writers[i].waitForStarted());
    }
    QSet<qint64> acknowledged;
    QSet<qint64> failed;
    QStringList reasons;
    // "fail KEY ERROR MESSAGE": the caller learns that the file was busy and can say so.
    const QRegularExpression busy(u"^fail (\\d+) %1 .*使用中.*$"_s.arg(int(ErrorCode::Busy)));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(writers[i].waitForFinished(3600000));
        Run run;
        run.lines = QString::fromUtf8(writers[i].readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(run.done(), qPrintable(QString::fromUtf8(writers[i].readAllStandardError())));
        for (qint64 key : run.keys(u"ok"))
            acknowledged.insert(key);
        for (const QString &line : run.failures()) {
            const auto match = busy.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            failed.insert(match.captured(1).toLongLong());
            if (reasons.size() < 3)
                reasons << line;
        }
        QCOMPARE(writers[i].exitCode(), run.failures().isEmpty() ? 0 : 1);
    }
    // Every attempt is accounted for, once.
    QCOMPARE(acknowledged.size() + failed.size(), 2 * rows);
    QVERIFY(!acknowledged.intersects(failed));

    const Scan scan = Crash::scanTable(m_path, true);
    QVERIFY2(scan.sound(), qPrintable(scan.report()));
    QSet<qint64> stored;
    for (auto it = scan.versions.cbegin(); it != scan.versions.cend(); ++it)
        stored.insert(it.key());
    QCOMPARE(stored, acknowledged);
    qInfo("%lld writes landed, %lld failed with a message%s%s", qint64(acknowledged.size()), qint64(failed.size()),
          reasons.isEmpty() ? "" : ", e.g. ", qPrintable(reasons.join(u" / "_s)));
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
