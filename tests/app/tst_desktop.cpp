// The program on a desktop: its command line, Qt's standard dialogs in Japanese, and where an
// installed or read-only program keeps the files it writes.
#include "windowsupport.h"

#include "app/commandline.h"
#include "engine/server/cataloguetransfer.h"
#include "pgtestserver.h"
#include "app/dialoglanguage.h"
#include "app/startfolder.h"
#include "ui/appfolder.h"
#include "windows/help/howtosetting.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QScopeGuard>
#include <QTextStream>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

class TestDesktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void parse_data();
    void parse();
    void commandsNeedNoDisplay_data();
    void commandsNeedNoDisplay();
    void csvCommands_data();
    void csvCommands();
    void standardDialogsSpeakJapanese();
    void writableFolder_data();
    void writableFolder();

private:
    QString m_startFolder = QDir::currentPath();
    QByteArray m_dataHome = qgetenv("XDG_DATA_HOME");
};

void TestDesktop::initTestCase()
{
    QCoreApplication::setApplicationName(u"Merchalog"_s);
    QVERIFY2(useJapaneseStandardDialogs(), "qtbase_ja.qm (Debian: qt6-translations-l10n) is missing");
}

void TestDesktop::cleanup()
{
    AppFolder::setPathOverride({});
    qputenv("XDG_DATA_HOME", m_dataHome);
    QDir::setCurrent(m_startFolder);
}

void TestDesktop::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("catalogue"); // relative to the working folder
    QTest::addColumn<bool>("error");

    QTest::newRow("nothing") << QStringList() << QString() << QString() << false;
    QTest::newRow("catalogue") << QStringList{u"shop.mdb"_s} << QString() << u"shop.mdb"_s << false;
    QTest::newRow("-v wins over a catalogue") << QStringList{u"-v"_s, u"shop.mdb"_s} << u"--version"_s << QString() << false;
    QTest::newRow("a file named like an option") << QStringList{u"--"_s, u"-v"_s} << QString() << u"-v"_s << false;
    QTest::newRow("unknown option") << QStringList{u"--verbose"_s} << QString() << QString() << true;
    QTest::newRow("two catalogues") << QStringList{u"a.mdb"_s, u"b.mdb"_s} << QString() << QString() << true;
}

void TestDesktop::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, command);
    QFETCH(QString, catalogue);
    QFETCH(bool, error);

    const auto request = CommandLine::parse(QStringList{u"merchalog"_s} + arguments);
    QCOMPARE(request.command ? request.command->name : QString(), command);
    QCOMPARE(request.catalogue, catalogue.isEmpty() ? QString() : QDir::current().absoluteFilePath(catalogue));
    QCOMPARE(!request.error.isEmpty(), error);
}

void TestDesktop::commandsNeedNoDisplay_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("firstLine"); // of standard output
    QTest::addColumn<QString>("error");     // what the one line on standard error holds

    QTest::newRow("version") << u"--version"_s << 0 << u"Merchalog " MERCHALOG_VERSION ""_s << QString();
    QTest::newRow("help") << u"-h"_s << 0 << u"使い方: merchalog [カタログ]"_s << QString();
    QTest::newRow("unknown option") << u"--verbose"_s << 2 << QString() << u"--verbose"_s;
}

void TestDesktop::commandsNeedNoDisplay()
{
    QFETCH(QString, argument);
    QFETCH(int, status);
    QFETCH(QString, firstLine);
    QFETCH(QString, error);

    // Without a display a program that opened the window system would end by abort().
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MERCHALOG_BINARY_DIR "/app/merchalog"), {argument});
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    const QString out = QString::fromUtf8(program.readAllStandardOutput());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QCOMPARE(out.section(u'\n', 0, 0), firstLine);
    QCOMPARE(err.count(u'\n'), error.isEmpty() ? 0 : 1);
    QVERIFY2(err.contains(error), qPrintable(err));
    // --help names every option and command, but none the program runs for itself.
    if (argument == u"-h") {
        for (const auto &command : CommandLine::commands())
            QVERIFY2(out.contains(command.name) != command.hidden && out.contains(command.shortName), qPrintable(command.name));
    }
}

void TestDesktop::csvCommands_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the command word; c.mdb is the catalogue
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // its start
    QTest::addColumn<QString>("error");  // in its one line; empty: nothing on standard error
    QTest::addColumn<int>("products");   // in the catalogue afterwards
    QTest::addColumn<int>("lines");      // in the second file afterwards

    const QString imported = u"取り込みました: 追加 1件、更新 0件、スキップ 0件、エラー 1件（UTF-8）"_s;
    const QString refused = u"1行にエラーがあるため、その行は取り込んでいません（最初のエラー: 3行目 syohin_master「abc」"_s;
    QTest::newRow("import, a row refused") << QStringList{u"import"_s, u"c.mdb"_s, u"p.csv"_s, u"--table"_s, u"syohin"_s}
                                           << 3 << imported << refused << 2 << 3;
    QTest::newRow("import, dry run") << QStringList{u"import"_s, u"c.mdb"_s, u"p.csv"_s, u"--table=syohin"_s, u"--dry-run"_s}
                                     << 3 << u"取り込まずに確認しました"_s << u"その行は取り込めません"_s << 1 << 3;
    QTest::newRow("import suppliers") << QStringList{u"import"_s, u"c.mdb"_s, u"s.csv"_s, u"--table"_s, u"torihiki"_s}
                                      << 0 << u"取り込みました: 追加 1件"_s << QString() << 1 << 2;
    QTest::newRow("import, no table") << QStringList{u"import"_s, u"c.mdb"_s, u"p.csv"_s} << 2 << QString()
                                      << u"--table には"_s << 1 << 3;
    QTest::newRow("import, missing catalogue") << QStringList{u"import"_s, u"none.mdb"_s, u"p.csv"_s, u"--table"_s, u"syohin"_s}
                                               << 1 << QString() << u"ファイルが見つかりません"_s << 1 << 3;
    // SERVER: a server database holding what c.mdb holds (its products counted there).
    QTest::newRow("import into a server catalogue")
        << QStringList{u"import"_s, u"SERVER"_s, u"p.csv"_s, u"--table"_s, u"syohin"_s} << 3 << imported << refused << 2 << 3;
    QTest::newRow("export by department") << QStringList{u"export"_s, u"c.mdb"_s, u"out.csv"_s, u"--department"_s, u"3"_s}
                                          << 0 << u"1件を書き出しました。"_s << QString() << 1 << 2;
    QTest::newRow("export by JAN") << QStringList{u"export"_s, u"c.mdb"_s, u"out.csv"_s, u"--key-mode"_s, u"jan"_s,
                                                  u"--key"_s, u"4901234567894"_s}
                                   << 0 << u"1件を書き出しました。"_s << QString() << 1 << 2;
    QTest::newRow("export, mode without key") << QStringList{u"export"_s, u"c.mdb"_s, u"out.csv"_s, u"--key-mode"_s, u"eos"_s}
                                              << 2 << QString() << u"--key で"_s << 1 << 0;
}

void TestDesktop::csvCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(int, products);
    QFETCH(int, lines);

    TestFolder folder;
    QVERIFY(folder.isValid());
    QVERIFY(makeCatalogue(u"c.mdb"_s));
    QVERIFY(insertSupplier(u"c.mdb"_s, {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    QVERIFY(insertProduct(u"c.mdb"_s, {.mei = u"緑茶"_s, .bumon = u"3"_s}));
    const QByteArray header = "syohin_mei,syohin_master,syohin_sale,syohin_genka,syohin_JAN,syohin_EOS,syohin_EOStani,"
                              "syohin_torihikicode,bumon_code,bumon_AU\n";
    QVERIFY(writeFile(u"p.csv"_s, header + "紅茶,100,90,70,5,1,1,120,3,1\n麦茶,abc,90,70,6,1,1,120,3,1\n"));
    QVERIFY(writeFile(u"s.csv"_s, "torihiki_mei,torihiki_add,torihiki_tel,torihiki_code,torihiki_post\nA社,東京,03,130,1\n"));

    QString catalogue = u"c.mdb"_s;
    if (arguments.at(1) == u"SERVER") {
        catalogue = makeDatabase();
        QString error;
        QVERIFY2(Server::copyCatalogue(QFileInfo(u"c.mdb"_s).absoluteFilePath(), catalogue, false, nullptr, &error),
                 qPrintable(error));
        arguments[1] = QString(catalogue).replace(u"://postgres@"_s, u"://postgres:secret@"_s);
    }

    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    QCOMPARE(CommandLine::run(CommandLine::parse(QStringList{u"merchalog"_s} + arguments), outStream, errStream), status);
    QVERIFY2(out.startsWith(output), qPrintable(out));
    QCOMPARE(err.count(u'\n'), error.isEmpty() ? 0 : 1);
    QVERIFY2(err.contains(error), qPrintable(err));
    QVERIFY2(!err.contains(u"secret"_s), qPrintable(err)); // a password is never repeated
    if (catalogue != u"c.mdb") {
        QVERIFY(Server::copyCatalogue(catalogue, u"back.mdb"_s, false, nullptr, nullptr));
        catalogue = u"back.mdb"_s;
    }
    QCOMPARE(productsIn(catalogue).size(), products);
    QCOMPARE(readFile(arguments.at(2)).count("\n"), lines);
}

void TestDesktop::standardDialogsSpeakJapanese()
{
    QMessageBox box(QMessageBox::NoIcon, u"Merchalog"_s, u"?"_s, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), u"キャンセル"_s);
    QFileDialog files;
    QStringList texts;
    for (const auto *button : files.findChildren<QAbstractButton *>())
        texts << button->text();
    QVERIFY2(texts.contains(u"開く(&O)"_s), qPrintable(texts.join(u" | ")));
}

void TestDesktop::writableFolder_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("userFiles"); // the user's data folder holds howto.num and database.mdb already
    QTest::addColumn<bool>("beside");    // the program writes beside itself

    QTest::newRow("build folder") << u"build"_s << false << true;
    QTest::newRow("installed, first start") << u"installed"_s << false << false;
    QTest::newRow("installed, later start") << u"installed"_s << true << false;
    QTest::newRow("read-only copy") << u"read-only"_s << false << false;
}

void TestDesktop::writableFolder()
{
    QFETCH(QString, layout);
    QFETCH(bool, userFiles);
    QFETCH(bool, beside);

    // <root>/bin holds the program; an installation puts its files into <root>/share/merchalog.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = root.filePath(u"bin"_s);
    const QString shipped = layout == u"installed" ? root.filePath(u"share/merchalog"_s) : bin;
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(shipped));
    const QString dft = shipped + u"/database.dft"_s;
    QVERIFY(makeCatalogue(dft));
    QVERIFY(writeFile(shipped + u"/howto.num"_s, "0\r\n"));
    const QString user = root.filePath(u"data/Merchalog"_s);
    if (userFiles) {
        QVERIFY(QDir().mkpath(user));
        QVERIFY(makeCatalogue(user + u"/database.mdb"_s));
        QVERIFY(insertProduct(user + u"/database.mdb"_s, {.mei = u"りんご"_s}));
        QVERIFY(writeFile(user + u"/howto.num"_s, "1\r\n"));
    }
    const QByteArray userCatalogue = readFile(user + u"/database.mdb"_s);
    // Write-protected against root too; lifted before the folder is removed.
    const bool asRoot = ::geteuid() == 0;
    const auto unprotect = qScopeGuard([&] {
        if (layout == u"read-only" && asRoot)
            QProcess::execute(u"chattr"_s, {u"-i"_s, bin});
        QFile::setPermissions(bin, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (layout == u"read-only"
        && !(asRoot ? QProcess::execute(u"chattr"_s, {u"+i"_s, bin}) == 0
                   : QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner)))
        QSKIP("this file system cannot write-protect a folder against root (no chattr +i)");
    qputenv("XDG_DATA_HOME", root.filePath(u"data"_s).toLocal8Bit());
    AppFolder::setPathOverride(bin);
    QDir::setCurrent(root.path());

    QCOMPARE(prepareWritableFolder(), QString());
    QCOMPARE(AppFolder::writesBesideProgram(), beside);
    if (beside) {
        // As always: nothing is copied, the working folder stays.
        QCOMPARE(QDir::currentPath(), root.path());
        QVERIFY(!QFileInfo::exists(user));
        QCOMPARE(HowtoSetting::filePath(), bin + u"/howto.num"_s);
        return;
    }
    // The bare database.mdb is the user's own: the first a copy of the template, a later one kept.
    QCOMPARE(QDir::currentPath(), user);
    QCOMPARE(readFile(u"database.mdb"_s), userFiles ? userCatalogue : readFile(dft));
    QCOMPARE(HowtoSetting::guideShownAtStart(), !userFiles);
    QVERIFY(HowtoSetting::switchGuideOff());
    QCOMPARE(readFile(user + u"/howto.num"_s), QByteArray("1\r\n"));
    QCOMPARE(readFile(shipped + u"/howto.num"_s), QByteArray("0\r\n"));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
