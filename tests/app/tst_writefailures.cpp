// Every window's write on a catalogue the file system will not let us change, that another
// program keeps busy, or that went away: the user is told, and nothing is stored or removed.
#include "mainwindow.h"
#include "windowsupport.h"

#include "engine/records/recordsource.h"
#include "engine/sqlite/connection.h"
#include "windows/products/newsyohin.h"
#include "windows/suppliers/deletetorihiki.h"
#include "windows/suppliers/newtorihiki.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

class TestWriteFailures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void writeIsRefusedWithMessage_data();
    void writeIsRefusedWithMessage();

private:
    std::unique_ptr<TestFolder> m_folder;
    bool m_protected = false;
};

void TestWriteFailures::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    QVERIFY(insertSupplier(m_folder->catalogue(), {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    QVERIFY(insertProduct(m_folder->catalogue(), {.mei = u"りんご"_s}));
    QVERIFY(insertProduct(m_folder->catalogue(), {.mei = u"みかん"_s, .jan = u"4900000000001"_s}));
}

void TestWriteFailures::cleanup()
{
    if (m_protected)
        QProcess::execute(u"chattr"_s, {u"-i"_s, m_folder->catalogue()});
    m_protected = false;
    m_folder.reset();
}

void TestWriteFailures::writeIsRefusedWithMessage_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("cause"); // "immutable", "busy" (another program holds it) or "moved"

    for (const QString &window : {u"product registration"_s, u"supplier registration"_s, u"supplier deletion"_s,
                                  u"product edit"_s, u"product deletion"_s}) {
        for (const QString &cause : {u"immutable"_s, u"busy"_s})
            QTest::addRow("%s, %s", qPrintable(window), qPrintable(cause)) << window << cause;
    }
    QTest::newRow("product edit, moved") << u"product edit"_s << u"moved"_s;
    QTest::newRow("product deletion, moved") << u"product deletion"_s << u"moved"_s;
}

void TestWriteFailures::writeIsRefusedWithMessage()
{
    QFETCH(QString, window);
    QFETCH(QString, cause);

    // Immutable holds even against root (our CI runs as root, where permissions are not enforced).
    QString path = m_folder->catalogue();
    if (cause == u"immutable" && (QStandardPaths::findExecutable(u"chattr"_s).isEmpty()
                                  || !(m_protected = QProcess::execute(u"chattr"_s, {u"+i"_s, path}) == 0)))
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    const auto before = querySql(path, u"select * from torihiki"_s);
    const auto productsBefore = productsIn(path);

    std::unique_ptr<QWidget> w;
    QLineEdit *kept = nullptr; // a field that keeps what was typed or looked up
    QString typed;
    const auto act = [&] { click(pushButton(w.get(), u"Command1"_s)); };
    std::function<void()> run = act;
    if (window == u"product registration") {
        w = std::make_unique<Newsyohin>();
        typeAndEnter(lineEdit(w.get(), u"Text16"_s), u"120"_s);
        fill(w.get(), {u"緑茶"_s, u"100"_s, u"90"_s, u"70"_s, u"4901234567894"_s, u"1001"_s, u"12"_s});
        lineEdit(w.get(), u"Text14"_s)->setText(u"3"_s);
        lineEdit(w.get(), u"Text15"_s)->setText(u"1"_s);
        typed = u"緑茶"_s;
    } else if (window == u"supplier registration") {
        w = std::make_unique<NEWtorihiki>();
        fill(w.get(), {u"山田物産"_s, u"大阪"_s, u"06"_s, u"130"_s, u"530"_s});
        typed = u"山田物産"_s;
    } else if (window == u"supplier deletion") {
        w = std::make_unique<Deletetorihiki>();
        typeAndEnter(lineEdit(w.get(), u"Text6"_s), u"120"_s);
        typed = u"テスト商事"_s;
    } else {
        auto main = startMain();
        typeAndEnter(lineEdit(main.get(), u"SBumon_code"_s), u"3"_s);
        if (window == u"product edit") {
            overtype(lineEdit(main.get(), u"Text2"_s), u"500"_s);
            typed = u"500"_s;
            kept = lineEdit(main.get(), u"Text2"_s);
            run = [table = main->findChild<QTableView *>(u"DBGrid1"_s)] { clickRow(table, 1); };
        } else {
            typed = u"りんご"_s;
            run = [main = main.get()] { trigger(main, u"mnusyohinDelete"_s); };
        }
        w = std::move(main);
    }
    if (!kept)
        kept = lineEdit(w.get(), u"Text1"_s);
    w->show();

    sqlite3 *other = nullptr;
    if (cause == u"busy") {
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_busy_timeout((*Connection::open(path))->handle(), 10);
    } else if (cause == u"moved") {
        QVERIFY(QFile::rename(path, path + u".moved"_s));
    }
    ModalCatcher catcher;
    run();
    sqlite3_close(other);
    if (cause == u"moved")
        path += u".moved"_s;

    QTRY_COMPARE(catcher.count(), 1);
    QCOMPARE(catcher.seen().constFirst().title, u"Merchalog"_s);
    // The message names the catalogue that refused the change and why; a busy one also says
    // that what was typed is kept, where something was typed.
    const QString text = catcher.lastText();
    const QString reason = cause == u"busy" ? u"使用中"_s : cause == u"moved" ? u"移動または削除"_s : u"書き込みが許されていません"_s;
    QVERIFY2(text.contains(QDir::toNativeSeparators(m_folder->catalogue())) && text.contains(reason), qPrintable(text));
    QVERIFY(!window.endsWith(u"deletion"_s) || text.startsWith(u"削除できませんでした: "_s));
    QCOMPARE(text.contains(u"入力した内容はそのまま残っています。"_s), cause == u"busy" && !window.endsWith(u"deletion"_s));
    QCOMPARE(querySql(path, u"select * from torihiki"_s), before);
    QCOMPARE(productsIn(path), productsBefore);
    QCOMPARE(kept->text(), typed);
}

QTEST_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
