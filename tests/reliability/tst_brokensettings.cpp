// A start-up guide setting (howto.num) that is not what it should be: whatever the file holds,
// or a folder in its place, or a folder that cannot be written, the guide's setting is read
// without harm and switching the guide off never damages anything or shows a message.
#include "windowsupport.h"

#include "windows/help/howtomerch.h"
#include "windows/help/howtosetting.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Merchalog;

class TestBrokenSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void brokenSetting_data();
    void brokenSetting();
};

void TestBrokenSettings::brokenSetting_data()
{
    QTest::addColumn<QByteArray>("content"); // null: a folder of that name
    QTest::addColumn<bool>("shown");
    QTest::newRow("folder named howto.num") << QByteArray() << false;
    QTest::newRow("1 MB of digits") << QByteArray(1 << 20, '7') << false;
    QTest::newRow("1 MB of zeros") << QByteArray(1 << 20, '0') << true;
    QTest::newRow("1 after 5,000 zeros") << QByteArray(5000, '0') + "1\r\n" << false;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01", 4) << false;
    QTest::newRow("zero then garbage") << QByteArray("0\x00\xff,1\r\n", 7) << false;
    // The folder is write-protected: the guide closes as always and simply shows again.
    QTest::newRow("unwritable folder") << QByteArray("") << true;
}

void TestBrokenSettings::brokenSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, shown);
    Test::TestFolder folder;
    const bool protect = QByteArray(QTest::currentDataTag()).startsWith("unwritable");
    if (protect && QProcess::execute(u"chattr"_s, {u"+i"_s, folder.path()}) != 0)
        QSKIP("this file system cannot write-protect a folder against root (no chattr +i)");
    const auto unprotect = qScopeGuard([&] {
        if (protect)
            QProcess::execute(u"chattr"_s, {u"-i"_s, folder.path()});
    });
    if (!protect) {
        const QString path = folder.filePath(u"howto.num"_s);
        QVERIFY(content.isNull() ? QDir().mkpath(path) : Test::writeFile(path, content));
        QCOMPARE(HowtoSetting::filePath(), path);
        QCOMPARE(HowtoSetting::guideShownAtStart(), shown);
    }
    const auto state = Test::folderState(folder.path());
    if (content.isNull()) {
        // Switching the guide off cannot replace a folder; nothing else is touched.
        QVERIFY(!HowtoSetting::switchGuideOff());
    } else if (shown) {
        HOWTOMERCH guide;
        QVERIFY(Test::showWindow(&guide));
        Test::ModalCatcher catcher;
        Test::click(guide.findChild<QPushButton *>(u"Command1"_s));
        QTRY_VERIFY(!guide.isVisible());
        QCOMPARE(catcher.count(), 0);
        if (!protect)
            return;
    }
    QCOMPARE(Test::folderState(folder.path()), state);
}

QTEST_MAIN(TestBrokenSettings)
#include "tst_brokensettings.moc"
