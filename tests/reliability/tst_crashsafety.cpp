// Kills the crash driver at random moments while it registers, deletes or edits, and checks
// after every kill that the catalogue still opens, integrity_check says "ok", every row is
// whole, every write the driver reported is there and at most the one write under way besides.
// The number of kills and the longest delay come from the environment (MERCHALOG_CRASH_KILLS,
// MERCHALOG_CRASH_MAX_DELAY_MS, MERCHALOG_CRASH_SEED), so the soak run can go on longer.

#include "crashrows.h"
#include "testsupport.h"

#include "engine/sqlite/connection.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>


using namespace Qt::StringLiterals;
using namespace Merchalog;

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

    // The keys (and, for "edited", versions) of lines starting with a word, in order.
    QList<std::pair<qint64, int>> keyed(QStringView word) const
    {
        QList<std::pair<qint64, int>> result;
        for (const QString &line : lines) {
            const QStringList parts = line.split(u' ');
            if (parts.size() >= 2 && parts.first() == word)
                result.append({parts.at(1).toLongLong(), parts.value(2).toInt()});
        }
        return result;
    }
    QStringList failures() const { return lines.filter(QRegularExpression(u"^fail "_s)); }
};

// Names of this many characters spread each product over about 75 pages of the file, so a
// write takes long enough for kills to land inside it.
constexpr int largeName = 100000;

// Every row of a table the driver wrote, checked field by field against the row its name
// announces: key to version, or a fault.
struct Scan
{
    QHash<qint64, int> versions;
    QStringList faults;
};

Scan scanTable(const QString &path)
{
    Scan scan;
    if (const Status opens = Connection::check(path); !opens)
        scan.faults << u"the catalogue no longer opens: "_s + opens.message();
    const auto integrity = Test::querySql(path, u"PRAGMA integrity_check"_s);
    if (integrity != QList<QVariantList>{{u"ok"_s}})
        scan.faults << u"integrity_check: "_s + integrity.value(0).value(0).toString();
    QStringList names;
    for (const FieldDef &field : syohinFields)
        names << QString(field.name);
    for (const QVariantList &row : Test::querySql(path, u"SELECT rowid, %1 FROM syohin"_s.arg(names.join(u", "_s)))) {
        const auto header = Crash::parseName(row.value(1).toString());
        if (!header) {
            scan.faults << u"row %1: name without a key"_s.arg(row.value(0).toLongLong());
            continue;
        }
        const QStringList texts = Crash::productTexts(header->key, header->version, header->nameSize);
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (row.value(i + 1) != Crash::storedValue(syohinFields[size_t(i)].kind, texts.at(i)))
                scan.faults << u"key %1: field %2 holds %3"_s.arg(header->key).arg(names.at(i), row.value(i + 1).toString().left(30));
        }
        if (scan.versions.contains(header->key))
            scan.faults << u"key %1 stored twice"_s.arg(header->key);
        scan.versions.insert(header->key, header->version);
    }
    return scan;
}

// Inserts products first..first+count-1 at version 0 in one transaction.
bool seedProducts(const QString &path, qint64 first, qint64 count, int nameSize)
{
    QStringList names;
    for (const FieldDef &field : syohinFields)
        names << QString(field.name);
    QString sql = u"BEGIN;"_s;
    for (qint64 key = first; key < first + count; ++key) {
        const QStringList texts = Crash::productTexts(key, 0, nameSize);
        QStringList values;
        for (size_t i = 0; i < syohinFields.size(); ++i) {
            const QVariant value = Crash::storedValue(syohinFields[i].kind, texts.at(qsizetype(i)));
            values << (syohinFields[i].kind == Kind::Text ? u"'"_s + value.toString() + u"'"_s : value.toString());
        }
        sql += u"INSERT INTO syohin (%1) VALUES (%2);"_s.arg(names.join(u','), values.join(u','));
    }
    return Test::execSql(path, sql + u"COMMIT;"_s);
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void killedWriterLosesNothing_data();
    void killedWriterLosesNothing();
    void twoProgramsWritingAtOnceLoseNothing_data();
    void twoProgramsWritingAtOnceLoseNothing();

private:
    Run runDriver(const QStringList &arguments, bool kill);

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
    m_driver = qEnvironmentVariable("MERCHALOG_CRASHDRIVER", QString::fromUtf8(MERCHALOG_BINARY_DIR "/tests/reliability/crashdriver"));
    QVERIFY2(QFileInfo(m_driver).isExecutable(), qPrintable(u"no crash driver at "_s + m_driver));
    m_kills = environmentNumber("MERCHALOG_CRASH_KILLS", m_kills);
    m_maxDelay = environmentNumber("MERCHALOG_CRASH_MAX_DELAY_MS", m_maxDelay);
    const quint32 seed = quint32(environmentNumber("MERCHALOG_CRASH_SEED", int(QRandomGenerator::global()->bounded(1 << 30))));
    m_random.seed(seed);
    // On a slow disk a write takes longer: kills must still come after some writes.
    init();
    QElapsedTimer timer;
    timer.start();
    const Run run = runDriver({u"products"_s, m_path, u"1"_s, u"5"_s, u"--name-size"_s, QString::number(largeName)}, false);
    QCOMPARE(run.exitCode, 0);
    const int perWrite = int(timer.elapsed() / 5);
    m_writeMicros = std::max(1000, perWrite * 1000);
    m_maxDelay = std::max(m_maxDelay, 4 * perWrite);
    qInfo("%d kills per test, about %d ms a write, delays up to %d ms, seed %u", m_kills, perWrite, m_maxDelay, seed);
}

void TestCrashSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_path = m_dir->filePath(u"catalogue.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_path));
}

// Kills the driver after a random delay from the moment it is ready, or, half the time (where
// most damage can happen), a few microseconds into its first to fourth write.
Run TestCrashSafety::runDriver(const QStringList &arguments, bool kill)
{
    Run run;
    QProcess process;
    process.start(m_driver, arguments);
    if (!process.waitForStarted(30000))
        run.errors = process.errorString();
    QByteArray out;
    const auto readUntil = [&](const auto &done) {
        while (!done() && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            out += process.readAllStandardOutput();
        }
    };
    readUntil([&] { return out.contains("ready\n"); });
    if (kill && m_random.bounded(2)) {
        const int atWrite = 1 + int(m_random.bounded(4));
        readUntil([&] { return out.count("\nbegin ") >= atWrite; });
        if (process.state() == QProcess::Running) {
            QThread::usleep(int(m_random.bounded(m_random.bounded(2) ? 500 : m_writeMicros)));
            process.kill(); // SIGKILL
            run.killed = true;
        }
    } else if (kill && process.state() == QProcess::Running && !process.waitForFinished(int(m_random.bounded(m_maxDelay + 1)))) {
        process.kill();
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

void TestCrashSafety::killedWriterLosesNothing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("seeded"); // products in the file before the first run
    QTest::addColumn<QStringList>("options");
    QTest::newRow("product registration") << u"products"_s << 0 << QStringList{u"--name-size"_s, QString::number(largeName)};
    QTest::newRow("deletion") << u"delete"_s << 2000 << QStringList{u"--name-size"_s, u"200"_s};
    QTest::newRow("edit stored on leaving the record") << u"edit"_s << 600 << QStringList{u"--name-size"_s, u"1000"_s};
    // Without a journal a write cut short stays half done: the same kills and checks must
    // notice that, or they could not notice anything.
    QTest::newRow("without a journal the checks find damage") << u"products"_s << 0
        << QStringList{u"--name-size"_s, QString::number(largeName), u"--unsafe"_s};
}

void TestCrashSafety::killedWriterLosesNothing()
{
    QFETCH(QString, mode);
    QFETCH(int, seeded);
    QFETCH(QStringList, options);
    const bool unsafe = options.contains(u"--unsafe"_s);
    QVERIFY(seedProducts(m_path, 1, seeded, options.at(1).toInt()));
    QHash<qint64, int> before = scanTable(m_path).versions;
    int runs = 0, kills = 0, killsAfterAWrite = 0, version = 1;
    QString damage;
    const int maxKills = unsafe ? std::max(200, 4 * m_kills) : m_kills;
    while (kills < maxKills && damage.isEmpty()) {
        // The driver goes on from the first key not yet written (or not yet deleted).
        const bool deletion = mode == u"delete"_s;
        if (deletion && before.isEmpty()) {
            QVERIFY(seedProducts(m_path, 1, seeded, 200));
            before = scanTable(m_path).versions;
        }
        qint64 next = deletion ? std::numeric_limits<qint64>::max() : 1;
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            next = deletion ? std::min(next, it.key()) : std::max(next, it.key() + 1);
        QStringList arguments{mode, m_path, QString::number(mode == u"edit"_s ? version : next)};
        if (mode != u"edit"_s)
            arguments << QString::number(deletion ? seeded : 1000000);
        const Run run = runDriver(arguments + options, true);
        ++runs;
        QVERIFY2(run.killed || run.finished, qPrintable(run.errors));
        QVERIFY2(runs < 3 * maxKills + 10, "the driver keeps finishing before it is killed");

        // What the file must hold: what it held, with every acknowledged write.
        QHash<qint64, int> expected = before;
        int acknowledged = 0;
        for (const auto &[key, v] : run.keyed(u"ok"))
            expected.insert(key, 0), ++acknowledged;
        for (const auto &[key, v] : run.keyed(u"deleted"))
            expected.remove(key), ++acknowledged;
        for (const auto &[key, v] : run.keyed(u"edited"))
            expected.insert(key, v), ++acknowledged;
        kills += run.killed;
        killsAfterAWrite += run.killed && acknowledged > 0;

        Scan scan = scanTable(m_path);
        scan.faults += run.failures();
        // Besides, only the write under way at the kill may have landed, or not.
        const auto begun = run.keyed(u"begin");
        QSet<qint64> keys(expected.keyBegin(), expected.keyEnd());
        keys.unite(QSet<qint64>(scan.versions.keyBegin(), scan.versions.keyEnd()));
        for (const qint64 key : keys) {
            if (scan.versions.value(key, -1) != expected.value(key, -1)
                && !(run.killed && !begun.isEmpty() && begun.last().first == key))
                scan.faults << u"key %1 holds version %2, not %3"_s.arg(key).arg(scan.versions.value(key, -1)).arg(expected.value(key, -1));
        }
        damage = scan.faults.mid(0, 5).join(u"; "_s);
        before = scan.versions;
        if (mode == u"edit"_s && run.lines.contains(u"done"_s))
            ++version;
    }
    qInfo("%d runs, %d kills, %d after an acknowledged write", runs, kills, killsAfterAWrite);
    if (unsafe) {
        QVERIFY2(!damage.isEmpty(), "no damage found after killing a writer without a journal");
        return;
    }
    QVERIFY2(damage.isEmpty(), qPrintable(u"after %1 kills: "_s.arg(kills) + damage));
    QVERIFY2(killsAfterAWrite >= m_kills / 3, "most kills came before anything was written");
}

void TestCrashSafety::twoProgramsWritingAtOnceLoseNothing_data()
{
    QTest::addColumn<QStringList>("options");
    // Each waits up to five seconds for the other's write. On a busy machine a write can still
    // wait in vain; it must then be reported.
    QTest::newRow("waiting for each other") << QStringList{};
    // Without waiting many writes fail; each must be reported and leave nothing behind.
    QTest::newRow("not waiting") << QStringList{u"--busy-timeout"_s, u"0"_s};
}

void TestCrashSafety::twoProgramsWritingAtOnceLoseNothing()
{
    QFETCH(QStringList, options);
    const int rows = environmentNumber("MERCHALOG_TWO_WRITER_ROWS", 60);
    QProcess writers[2];
    for (int i = 0; i < 2; ++i) {
        writers[i].start(m_driver, QStringList{u"products"_s, m_path, QString::number(1 + i * 1000000), QString::number(rows),
                                               u"--name-size"_s, u"500"_s} + options);
        QVERIFY(writers[i].waitForStarted());
    }
    QSet<qint64> acknowledged, failed;
    // "fail KEY ERROR MESSAGE": the caller learns that the file was busy and can say so.
    const QRegularExpression busy(u"^fail (\\d+) %1 .*使用中.*$"_s.arg(int(ErrorCode::Busy)));
    for (QProcess &writer : writers) {
        QVERIFY(writer.waitForFinished(3600000));
        Run run;
        run.lines = QString::fromUtf8(writer.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(run.lines.contains(u"done"_s), qPrintable(QString::fromUtf8(writer.readAllStandardError())));
        for (const auto &[key, v] : run.keyed(u"ok"))
            acknowledged.insert(key);
        for (const QString &line : run.failures()) {
            const auto match = busy.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            failed.insert(match.captured(1).toLongLong());
        }
        QCOMPARE(writer.exitCode(), run.failures().isEmpty() ? 0 : 1);
    }
    // Every attempt is accounted for, once, and exactly the acknowledged ones are stored.
    QCOMPARE(acknowledged.size() + failed.size(), 2 * rows);
    QVERIFY(!acknowledged.intersects(failed));
    const Scan scan = scanTable(m_path);
    QVERIFY2(scan.faults.isEmpty(), qPrintable(scan.faults.join(u"; "_s)));
    QCOMPARE(QSet<qint64>(scan.versions.keyBegin(), scan.versions.keyEnd()), acknowledged);
    qInfo("%lld writes landed, %lld failed with a message", qint64(acknowledged.size()), qint64(failed.size()));
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
