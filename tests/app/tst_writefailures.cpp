// Registrations and deletions on a catalogue the file system will not let us change: the
// user is told, and nothing is stored or removed.
#include "catalogue/currentcatalogue.h"
#include "products/newsyohin.h"
#include "suppliers/deletetorihiki.h"
#include "suppliers/newtorihiki.h"
#include "suppliers/supplierwindowtest.h"

#include <QProcess>
#include <QStandardPaths>

using namespace Merchalog;

class TestWriteFailures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void productRegistrationIsRefusedWithMessage();
    void supplierRegistrationIsRefusedWithMessage();
    void supplierDeletionIsRefusedWithMessage();

private:
    bool protect();
    QString countOf(const QString &table) const;

    std::unique_ptr<Test::TempCatalogues> m_catalogues;
    QString m_path;
    bool m_protected = false;
};

void TestWriteFailures::init()
{
    m_catalogues = std::make_unique<Test::TempCatalogues>();
    m_path = m_catalogues->make(u"database.mdb"_s);
    QVERIFY(Test::insertSupplier(m_path, {u"テスト商事"_s, u"東京"_s, u"03"_s, u"120"_s, u"100"_s}));
    CurrentCatalogue::instance().setDatabaseName(m_path);
}

void TestWriteFailures::cleanup()
{
    if (m_protected)
        QProcess::execute(u"chattr"_s, {u"-i"_s, m_path});
    m_protected = false;
    CurrentCatalogue::instance().setDatabaseName(QString(CurrentCatalogue::startName));
    m_catalogues.reset();
}

// Makes the catalogue immutable, which holds even against root (our CI runs as root, where
// file permissions are not enforced).
bool TestWriteFailures::protect()
{
    if (QStandardPaths::findExecutable(u"chattr"_s).isEmpty())
        return false;
    m_protected = QProcess::execute(u"chattr"_s, {u"+i"_s, m_path}) == 0;
    return m_protected;
}

QString TestWriteFailures::countOf(const QString &table) const
{
    return Test::querySql(m_path, u"select count(*) from "_s + table).value(0).value(0).toString();
}

void TestWriteFailures::productRegistrationIsRefusedWithMessage()
{
    if (!protect())
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    Newsyohin window;
    window.show();
    Test::enterCode(Test::lineEdit(&window, u"Text16"_s), u"120"_s);
    const QStringList values{u"緑茶"_s, u"100"_s, u"90"_s, u"70"_s, u"4901234567894"_s, u"1001"_s, u"12"_s};
    for (int i = 0; i < values.size(); ++i)
        Test::lineEdit(&window, u"Text%1"_s.arg(i + 1))->setText(values.at(i));
    Test::lineEdit(&window, u"Text14"_s)->setText(u"3"_s);
    Test::lineEdit(&window, u"Text15"_s)->setText(u"1"_s);

    Test::ModalCatcher catcher;
    Test::click(Test::pushButton(&window, u"Command1"_s));
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().startsWith(u"データベースに書き込めませんでした。"_s), qPrintable(catcher.lastText()));
    QCOMPARE(countOf(u"syohin"_s), u"0"_s);
    // The typed product stays for another try.
    QCOMPARE(Test::lineEdit(&window, u"Text1"_s)->text(), u"緑茶"_s);
}

void TestWriteFailures::supplierRegistrationIsRefusedWithMessage()
{
    if (!protect())
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    NEWtorihiki window;
    window.show();
    const QStringList values{u"山田物産"_s, u"大阪"_s, u"06"_s, u"130"_s, u"530"_s};
    for (int i = 0; i < values.size(); ++i)
        Test::lineEdit(&window, u"Text%1"_s.arg(i + 1))->setText(values.at(i));

    Test::ModalCatcher catcher;
    Test::click(Test::pushButton(&window, u"Command1"_s));
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().startsWith(u"データベースに書き込めませんでした。"_s), qPrintable(catcher.lastText()));
    QCOMPARE(countOf(u"torihiki"_s), u"1"_s);
    QCOMPARE(Test::lineEdit(&window, u"Text1"_s)->text(), u"山田物産"_s);
}

void TestWriteFailures::supplierDeletionIsRefusedWithMessage()
{
    if (!protect())
        QSKIP("this file system cannot write-protect a file against root (no chattr +i)");
    Deletetorihiki window;
    window.show();
    Test::enterCode(Test::lineEdit(&window, u"Text6"_s), u"120"_s);
    QCOMPARE(Test::lineEdit(&window, u"Text1"_s)->text(), u"テスト商事"_s);

    Test::ModalCatcher catcher;
    Test::click(Test::pushButton(&window, u"Command1"_s));
    QCOMPARE(catcher.count(), 1);
    QVERIFY2(catcher.lastText().startsWith(u"データベースに書き込めませんでした。"_s), qPrintable(catcher.lastText()));
    QCOMPARE(countOf(u"torihiki"_s), u"1"_s);
}

QTEST_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
