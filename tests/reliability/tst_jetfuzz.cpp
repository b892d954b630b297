// A short fuzz run of the Access reader: the test catalogue cut short, pages overwritten with
// garbage, bytes changed, each read through the real child reader. The reader may fail; the
// program may not: every read ends, with rows that hold together or with a message naming the
// file, and leaves no file behind.
//
// MERCHALOG_JET_FUZZ_RUNS and MERCHALOG_JET_FUZZ_SEED make a longer or another run.
#include "engine/jet/jetcatalogue.h"

#include "../engine/jetfixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace Qt::StringLiterals;
using namespace Merchalog;
namespace Writer = Merchalog::JetWriter;

Q_DECLARE_METATYPE(Writer::Version)

class TestJetFuzz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        JetReader::setReaderProgram(QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog"));
    }

    void mutatedFilesEndWell_data()
    {
        QTest::addColumn<Writer::Version>("version");
        QTest::newRow("Jet 3") << Writer::Version::Jet3;
        QTest::newRow("Jet 4") << Writer::Version::Jet4;
    }
    void mutatedFilesEndWell()
    {
        QFETCH(Writer::Version, version);
        const int runs = qEnvironmentVariableIntValue("MERCHALOG_JET_FUZZ_RUNS") > 0
            ? qEnvironmentVariableIntValue("MERCHALOG_JET_FUZZ_RUNS") : 30;
        const unsigned seed = unsigned(qEnvironmentVariableIntValue("MERCHALOG_JET_FUZZ_SEED")) + unsigned(version);
        QTemporaryDir dir;
        const QString original = dir.filePath(u"original.mdb"_s);
        QVERIFY(Test::writeJetFile(Test::jetFixture(), {version, true}, original));
        QFile originalFile(original);
        QVERIFY(originalFile.open(QIODevice::ReadOnly));
        const QByteArray clean = originalFile.readAll();
        const qsizetype pageSize = version == Writer::Version::Jet3 ? 2048 : 4096;
        const QString path = dir.filePath(u"mutated.mdb"_s);
        const QStringList spoolFilter{u"merchalog-jet-*"_s};
        const qsizetype spools = QDir::temp().entryList(spoolFilter).size();

        std::mt19937 random(seed);
        auto below = [&random](qsizetype n) { return qsizetype(random() % std::uint32_t(std::max<qsizetype>(n, 1))); };
        QMap<QString, int> outcomes;
        for (int run = 0; run < runs; ++run) {
            QByteArray bytes = clean;
            switch (random() % 4) {
            case 0: // cut short
                bytes.truncate(below(bytes.size()));
                break;
            case 1: { // a page of garbage, the header page excepted
                const qsizetype page = 1 + below(bytes.size() / pageSize - 1);
                for (qsizetype i = 0; i < pageSize; ++i)
                    bytes[page * pageSize + i] = char(random());
                break;
            }
            case 2: // bytes changed anywhere after the header's version
                for (int n = 1 + int(below(16)); n > 0; --n)
                    bytes[0x18 + below(bytes.size() - 0x18)] = char(random());
                break;
            default: // a 32-bit value changed in the table list, definitions, maps or first rows
                const qsizetype at = pageSize + below(6 * pageSize - 4);
                for (int i = 0; i < 4; ++i)
                    bytes[at + i] = char(random());
                break;
            }
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
            file.close();

            JetCatalogue catalogue(path);
            catalogue.reader().setTimeout(5000);
            if (catalogue.read()) {
                for (const auto table : {Table::syohin, Table::torihiki}) {
                    const qsizetype fields = table == Table::syohin ? qsizetype(syohinFields.size())
                                                                    : qsizetype(torihikiFields.size());
                    qint64 rows = 0;
                    QVERIFY(catalogue.forEachRow(table, [&](const JetTextRow &row) {
                        ++rows;
                        return row.values.size() == fields && row.isNull.size() == fields;
                    }));
                    QCOMPARE(rows, catalogue.rowCount(table));
                }
                ++outcomes[u"read"_s];
            } else {
                const QString message = catalogue.errorString();
                QVERIFY2(message.contains(path), qPrintable(message));
                ++outcomes[message.mid(message.indexOf(u'」') + 1, 12)];
            }
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{u"mutated.mdb"_s, u"original.mdb"_s}));
        }
        QCOMPARE(QDir::temp().entryList(spoolFilter).size(), spools);
        for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
            qInfo("%4d  %s", it.value(), qPrintable(it.key()));
    }
};

QTEST_GUILESS_MAIN(TestJetFuzz)
#include "tst_jetfuzz.moc"
