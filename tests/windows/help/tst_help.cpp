#include "mainwindow.h"
#include "windowsupport.h"

#include "app/syohin_main.h"
#include "windows/help/helphowto.h"
#include "windows/help/howtomerch.h"
#include "windows/help/howtosetting.h"
#include "windows/help/version.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using namespace Merchalog;
using namespace Merchalog::Test;

class TestHelp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void parseSetting_data();
    void parseSetting();
    void switchOffWritesOneLine();
    void closingGuideKeepsItOn();
    void guideLeavesMainWindowUsable();
    void howtoWindowsShareText();
    void helpWindowRaisedNotDuplicated_data();
    void helpWindowRaisedNotDuplicated();
    void versionWindow();

private:
    QByteArray setting() const { return readFile(m_folder->filePath(u"howto.num"_s)); }
    bool writeSetting(const QByteArray &content) { return writeFile(m_folder->filePath(u"howto.num"_s), content); }
    template<class Window>
    static int openCount();

    std::unique_ptr<TestFolder> m_folder;
};

void TestHelp::init()
{
    m_folder = std::make_unique<TestFolder>();
    QVERIFY(m_folder->isValid());
    QVERIFY(insertProduct(m_folder->catalogue(), {.mei = u"緑茶"_s, .bumon = u"5"_s}));
}

void TestHelp::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<HOWTOMERCH *>(w) || qobject_cast<HELPHOWTO *>(w) || qobject_cast<Version *>(w))
            delete w;
    }
    m_folder.reset();
}

template<class Window>
int TestHelp::openCount()
{
    int count = 0;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Window *>(w) && w->isVisible())
            ++count;
    }
    return count;
}

void TestHelp::parseSetting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<std::optional<double>>("value");

    QTest::newRow("0") << "0"_ba << std::optional<double>(0);
    QTest::newRow("0.0") << "0.0"_ba << std::optional<double>(0);
    QTest::newRow("00") << "00"_ba << std::optional<double>(0);
    QTest::newRow("blank then 0") << " 0"_ba << std::optional<double>(0);
    QTest::newRow("0 with blanks and CR LF") << " 0 \r\n"_ba << std::optional<double>(0);
    QTest::newRow("first item only") << "0,1"_ba << std::optional<double>(0);
    QTest::newRow("first item only, switched off") << "1,0"_ba << std::optional<double>(1);
    QTest::newRow("first line only") << "1\r\n0\r\n"_ba << std::optional<double>(1);
    QTest::newRow("LF only") << "0\n"_ba << std::optional<double>(0);
    QTest::newRow("switched off") << "1\r\n"_ba << std::optional<double>(1);
    QTest::newRow("fraction") << "2.5"_ba << std::optional<double>(2.5);
    QTest::newRow("empty") << QByteArray() << std::optional<double>();
    QTest::newRow("empty first item") << ",0"_ba << std::optional<double>();
    QTest::newRow("empty first line") << "\r\n0"_ba << std::optional<double>();
    QTest::newRow("letters") << "abc"_ba << std::optional<double>();
    QTest::newRow("digits then letters") << "0abc"_ba << std::optional<double>();
}

void TestHelp::parseSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(std::optional<double>, value);
    QCOMPARE(HowtoSetting::parseValue(content), value);
}

void TestHelp::switchOffWritesOneLine()
{
    // Whatever the file held before, several lines included, it holds one line afterwards.
    QVERIFY(writeSetting("0\r\nsecond line\r\nthird line\r\n"));
    auto main = startMain();
    QPointer<HOWTOMERCH> guide = main->startUpGuide();
    QVERIFY(guide);
    auto *command1 = guide->findChild<QPushButton *>(u"Command1"_s);
    // The switch comes first in the keyboard order, so it has the focus when the guide opens.
    guide->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(guide));
    QCOMPARE(QApplication::focusWidget(), command1);
    QVERIFY(!command1->isDefault() && !command1->autoDefault());
    ModalCatcher catcher;
    command1->click();
    QTRY_VERIFY(!guide);
    QCOMPARE(setting(), "1\r\n"_ba);
    QCOMPARE(catcher.count(), 0);

    // From the next start on the guide stays away.
    main = startMain();
    QVERIFY(!main->startUpGuide());
    QCOMPARE(setting(), "1\r\n"_ba);
}

void TestHelp::closingGuideKeepsItOn()
{
    QVERIFY(writeSetting("0"));
    auto main = startMain();
    QPointer<HOWTOMERCH> guide = main->startUpGuide();
    QVERIFY(guide);
    guide->findChild<QPushButton *>(u"Command2"_s)->click();
    QTRY_VERIFY(!guide);
    QCOMPARE(setting(), "0"_ba);
    main = startMain();
    QVERIFY(main->startUpGuide());
}

void TestHelp::guideLeavesMainWindowUsable()
{
    QVERIFY(writeSetting("0"));
    auto main = startMain();
    QVERIFY(main->startUpGuide() && main->startUpGuide()->isVisible());
    auto *department = main->findChild<QLineEdit *>(u"SBumon_code"_s);
    department->setText(u"5"_s);
    QTest::keyClick(department, Qt::Key_Return);
    QCOMPARE(main->findChild<QTableView *>(u"DBGrid1"_s)->model()->rowCount(), 1);
    QCOMPARE(main->findChild<QLineEdit *>(u"Text1"_s)->text(), u"緑茶"_s);
    // The help menu's window opens beside the guide.
    main->findChild<QAction *>(u"mnuhelphowto"_s)->trigger();
    QVERIFY(main->helpWindow());
    QVERIFY(main->startUpGuide()->isVisible());
}

void TestHelp::howtoWindowsShareText()
{
    HOWTOMERCH guide;
    HELPHOWTO help;
    for (int i = 1; i <= 7; ++i) {
        const QString name = u"Label%1"_s.arg(i);
        auto *a = guide.findChild<QLabel *>(name);
        auto *b = help.findChild<QLabel *>(name);
        QVERIFY2(a && b, qPrintable(name));
        QVERIFY(!a->text().isEmpty());
        QCOMPARE(a->text(), b->text());
        QCOMPARE(a->font(), b->font());
        QCOMPARE(a->focusPolicy(), Qt::NoFocus);
        QCOMPARE(a->textInteractionFlags() & Qt::TextSelectableByMouse, Qt::TextInteractionFlags());
    }
    QVERIFY(!help.findChild<QPushButton *>(u"Command1"_s));

    auto *howToSearch = guide.findChild<QLabel *>(u"Label5"_s);
    // 18 points, or as near as the installed font allows while the paragraph fits its box.
    QVERIFY(howToSearch->font().pointSizeF() <= 18.0);
    QVERIFY(howToSearch->font().pointSizeF() >= 14.0);
    QVERIFY(howToSearch->font().pointSizeF() > guide.font().pointSizeF());
    // Every paragraph fits in its box, in both windows.
    for (QWidget *window : {static_cast<QWidget *>(&guide), static_cast<QWidget *>(&help)}) {
        for (int i = 2; i <= 7; ++i) {
            auto *label = window->findChild<QLabel *>(u"Label%1"_s.arg(i));
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(),
                     qPrintable(label->objectName()));
        }
    }
}

void TestHelp::helpWindowRaisedNotDuplicated_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("how to") << u"mnuhelphowto"_s;
    QTest::newRow("version") << u"mnuhelpVersion"_s;
}

void TestHelp::helpWindowRaisedNotDuplicated()
{
    QFETCH(QString, action);
    QVERIFY(writeSetting("1\r\n"));
    auto main = startMain();
    auto *entry = main->findChild<QAction *>(action);
    const bool howto = action == u"mnuhelphowto"_s;
    const auto window = [&]() -> QWidget * {
        return howto ? static_cast<QWidget *>(main->helpWindow()) : main->versionWindow();
    };
    const auto count = [&] { return howto ? openCount<HELPHOWTO>() : openCount<Version>(); };

    entry->trigger();
    QPointer<QWidget> first = window();
    QVERIFY(first && first->isVisible());
    QVERIFY(first->isWindow());
    first->showMinimized();
    entry->trigger();
    QCOMPARE(window(), first.data());
    QCOMPARE(count(), 1);
    QVERIFY(!first->isMinimized());

    // Closing discards it; the next choice opens a fresh one.
    first->close();
    QTRY_VERIFY(!first);
    QCOMPARE(count(), 0);
    entry->trigger();
    QVERIFY(window());
    QCOMPARE(count(), 1);
}

void TestHelp::versionWindow()
{
    Version version;
    auto *picture = version.findChild<QLabel *>(u"Picture1"_s);
    // The build draws the logo and stores it with the program.
    const QImage logo(QString::fromLatin1(Version::logoResource));
    QCOMPARE(logo.size(), QSize(379, 62));
    QVERIFY(!picture->pixmap().isNull());
    QCOMPARE(picture->pixmap().size(), QSize(379, 62));
    // The logo is not blank.
    QVERIFY(logo.pixelColor(5, 5) != logo.pixelColor(200, 30));
    for (const QString &name : {u"Label3"_s, u"Label4"_s, u"Label5"_s}) {
        const QString text = version.findChild<QLabel *>(name)->text();
        QVERIFY2(!text.isEmpty(), qPrintable(name));
        for (QChar c : text)
            QVERIFY2(c.unicode() < 128, qPrintable(name));
    }

    version.show();
    version.findChild<QPushButton *>(u"Command1"_s)->click();
    QVERIFY(!version.isVisible());
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
