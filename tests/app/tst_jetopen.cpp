// 開く on an Access file through the main window: the offer to import it, the new catalogue's
// name beside it, the preview, and the switch to the new catalogue; or, when the user declines
// or the reader fails, nothing new on disk and the old catalogue still current.
#include "windowsupport.h"

#include "../engine/jetfixture.h"
#include "app/filemenu.h"
#include "app/syohin_main.h"
#include "engine/csv/csvimport.h"
#include "engine/jet/jetreader.h"
#include "engine/records/recordsource.h"
#include "ui/appfolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTest>

#include <deque>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

namespace {

const QString merchalog = QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog");

// Chooses the file to open, then takes the name the save dialog offers.
class Dialogs final : public FileDialogs
{
public:
    explicit Dialogs(QString open) : m_open(std::move(open)) {}
    std::optional<QString> openFileName(QWidget *, const QString &, const QString &) override { return m_open; }
    std::optional<QString> saveFileName(QWidget *, const QString &fileName, const QString &, bool) override
    {
        offered << fileName;
        return fileName;
    }
    bool printerSetup(QWidget *, QPrinter *) override { return false; }
    QStringList offered;

private:
    QString m_open;
};

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestJetOpen final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { JetReader::setReaderProgram(merchalog); }

    void opensAccessFile_data()
    {
        QTest::addColumn<QStringList>("answers"); // the button pressed in each box, "accept"/"reject" a dialog, "save" its error rows first
        QTest::addColumn<QString>("reader");      // a stand-in reader's script, empty for the program; "ACE": an Access 2007 file
        QTest::addColumn<QString>("message");     // the last box's text, part of it
        QTest::addColumn<bool>("imported");
        QTest::newRow("imported") << QStringList{u"取り込む"_s, u"accept"_s} << QString() << u"Access 形式"_s << true;
        QTest::newRow("imported, error rows saved") << QStringList{u"取り込む"_s, u"save"_s} << QString() << u"Access 形式"_s << true;
        QTest::newRow("offer declined") << QStringList{u"キャンセル"_s} << QString() << u"Access 形式"_s << false;
        QTest::newRow("preview cancelled") << QStringList{u"取り込む"_s, u"reject"_s} << QString() << u"Access 形式"_s << false;
        QTest::newRow("Access 2007 file") << QStringList{u"OK"_s} << u"ACE"_s << u"Access 2007 以降の形式"_s << false;
        QTest::newRow("reader crashes") << QStringList{u"取り込む"_s, u"OK"_s} << u"kill -SEGV $$"_s << u"異常終了"_s << false;
    }
    void opensAccessFile()
    {
        QFETCH(QStringList, answers);
        QFETCH(QString, reader);
        QFETCH(QString, message);
        QFETCH(bool, imported);
        TestFolder folder;
        QVERIFY(folder.isValid());
        const QString old = folder.filePath(u"old shop.mdb"_s);
        QVERIFY(writeJetFile(jetFixture(), {JetWriter::Version::Jet4, true}, old));
        if (reader == u"ACE") {
            QFile ace(old);
            QVERIFY(ace.open(QIODevice::ReadWrite) && ace.seek(4) && ace.write(QByteArray("Standard ACE DB\0\2", 17)) == 17);
            reader.clear();
        }
        // The default name goes round a file of that name already there.
        QFile taken(folder.filePath(u"old shop_取込.mdb"_s));
        QVERIFY(taken.open(QIODevice::WriteOnly) && taken.write("kept") == 4);
        taken.close();
        const QStringList before = filesIn(folder.path());
        const auto hash = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) : QByteArray();
        };
        const QByteArray oldHash = hash(old);
        const QByteArray takenHash = hash(taken.fileName());
        if (!reader.isEmpty()) {
            QFile script(folder.filePath(u"reader.sh"_s));
            QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\n" + reader.toUtf8() + "\n") > 0);
            script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
            JetReader::setReaderProgram(script.fileName());
        } else {
            JetReader::setReaderProgram(merchalog);
        }

        Syohin_Main window;
        window.startUp();
        auto dialogs = std::make_unique<Dialogs>(old);
        Dialogs *script = dialogs.get();
        window.fileMenu()->setDialogs(std::move(dialogs));
        std::deque<QString> script_answers(answers.cbegin(), answers.cend());
        ModalCatcher catcher;
        catcher.setHandler([&](QWidget *modal) {
            const QString answer = script_answers.empty() ? QString() : script_answers.front();
            if (!script_answers.empty())
                script_answers.pop_front();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                for (QAbstractButton *button : box->buttons()) {
                    if (button->text() == answer)
                        return button->click();
                }
            } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
                if (auto *save = dialog->findChild<QPushButton *>(u"cmdSaveErrors"_s); save && answer == u"save")
                    save->click();
                return answer == u"reject" ? dialog->reject() : dialog->accept();
            }
            modal->close();
        });
        const QString current = window.data1()->databaseName();
        window.fileMenu()->openCatalogue();

        QCOMPARE(catcher.count(), answers.size());
        QVERIFY2(std::any_of(catcher.seen().cbegin(), catcher.seen().cend(), [&](const auto &seen) { return seen.text.contains(message); }),
                 qPrintable(catcher.lastText()));
        QVERIFY(catcher.seen().constFirst().text.contains(QDir::toNativeSeparators(old)));
        QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
        QCOMPARE(hash(old), oldHash);
        QCOMPARE(hash(taken.fileName()), takenHash);
        const QString target = folder.filePath(u"old shop_取込 (2).mdb"_s);
        if (!imported) {
            QCOMPARE(filesIn(folder.path()), before + (reader.isEmpty() ? QStringList() : QStringList{u"reader.sh"_s}));
            QCOMPARE(window.data1()->databaseName(), current);
            QCOMPARE(window.fileMenu()->catalogueFileName(), current);
            return;
        }
        QCOMPARE(script->offered.value(0), target);
        if (answers.contains(u"save"_s)) {
            // The products' error rows, offered beside the Access file, come back through the CSV import.
            QCOMPARE(script->offered.value(1), folder.filePath(u"old shop-syohin-エラー.csv"_s));
            CsvImport again(target, script->offered.value(1), ImportTable::Products);
            QVERIFY(again.makePlan());
            QCOMPARE(again.plan().count(RowOutcome::Error), 3);
        }
        QCOMPARE(window.windowTitle(), u"Merchalog - "_s + target);
        QCOMPARE(window.data1()->databaseName(), target);
        QCOMPARE(window.data1()->recordCount(), 0);
        QCOMPARE(querySql(target, u"SELECT count(*) FROM syohin"_s), (QList<QVariantList>{{qint64(4)}}));
        QCOMPARE(window.fileMenu()->catalogueFileName(), target);
    }
};

QTEST_MAIN(TestJetOpen)
#include "tst_jetopen.moc"
