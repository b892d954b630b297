// Registrations and deletions on a catalogue the file system will not let us change, or that
// another program keeps busy: the user is told, and nothing is stored or removed.
#include "windowsupport.h"

#include "engine/sqlite/connection.h"
#include "windows/products/newsyohin.h"
#include "windows/suppliers/deletetorihiki.h"
#include "windows/suppliers/newtorihiki.h"

#include <QLineEdit>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
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
    QTest::addColumn<bool>("busy"); // another program holds the catalogue instead
    QTest::newRow("product registration") << u"product"_s << false;
    QTest::newRow("supplier registration") << u"supplier"_s << false;
    QTest::newRow("supplier deletion") << u"deletion"_s << false;
    QTest::newRow("product registration, catalogue busy") << u"product"_s << true;
}

void TestWriteFailures::writeIsRefusedWithMessage()
{
    QFETCH(QString, window);
    QFETCH(bool, busy);

    // Makes the catalogue immutable, which holds even against root (our CI runs as root, where
    // file permissions are not enforced).
    const QString path = m_folder->catalogue();
    if (!busy && (QStandardPaths::findExecutable(u"chattr"_s).isEmpty()
                  || !(m_protected = QProcess::execute(u"chattr"_s, {u"+i"_s, path}) == 0)))
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    const auto before = querySql(path, u"select * from torihiki"_s);

    std::unique_ptr<QWidget> w;
    QString typedName;
    if (window == u"product") {
        w = std::make_unique<Newsyohin>();
        w->show();
        typeAndEnter(lineEdit(w.get(), u"Text16"_s), u"120"_s);
        fill(w.get(), {u"緑茶"_s, u"100"_s, u"90"_s, u"70"_s, u"4901234567894"_s, u"1001"_s, u"12"_s});
        lineEdit(w.get(), u"Text14"_s)->setText(u"3"_s);
        lineEdit(w.get(), u"Text15"_s)->setText(u"1"_s);
        typedName = u"緑茶"_s;
    } else if (window == u"supplier") {
        w = std::make_unique<NEWtorihiki>();
        w->show();
        fill(w.get(), {u"山田物産"_s, u"大阪"_s, u"06"_s, u"130"_s, u"530"_s});
        typedName = u"山田物産"_s;
    } else {
        w = std::make_unique<Deletetorihiki>();
        w->show();
        typeAndEnter(lineEdit(w.get(), u"Text6"_s), u"120"_s);
        typedName = u"テスト商事"_s;
    }

    sqlite3 *other = nullptr;
    if (busy) {
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_busy_timeout((*Connection::open(path))->handle(), 10);
    }
    ModalCatcher catcher;
    click(pushButton(w.get(), u"Command1"_s));
    sqlite3_close(other);
    QCOMPARE(catcher.count(), 1);
    // The message names the catalogue that refused the change.
    QVERIFY2(catcher.lastText().contains(QDir::toNativeSeparators(path)), qPrintable(catcher.lastText()));
    // A busy catalogue is named, and the user learns that nothing typed was lost.
    QCOMPARE(catcher.lastText().contains(u"使用中"_s), busy);
    QCOMPARE(catcher.lastText().contains(u"入力した内容はそのまま残っています。"_s), busy);
    QCOMPARE(sqlValue(path, u"select count(*) from syohin"_s).toInt(), 0);
    QCOMPARE(querySql(path, u"select * from torihiki"_s), before);
    // What was typed or looked up stays for another try.
    QCOMPARE(lineEdit(w.get(), u"Text1"_s)->text(), typedName);
}

QTEST_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
