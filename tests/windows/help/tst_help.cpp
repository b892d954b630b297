// Help: the start-up guide and its setting in howto.num, the help menu's guide and the
// version window.
#include "mainwindow.h"
#include "windowsupport.h"

#include "app/syohin_main.h"
#include "windows/help/helphowto.h"
#include "windows/help/howtomerch.h"
#include "windows/help/howtosetting.h"
#include "windows/help/version.h"

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
    void guideButtons_data();
    void guideButtons();
    void howtoWindowsShareText();
    void versionWindow();

private:
    QByteArray setting() const { return readFile(m_folder->filePath(u"howto.num"_s)); }

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
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QPointer<QWidget> &w : QList<QPointer<QWidget>>(windows.begin(), windows.end()))
        delete w.data();
    m_folder.reset();
}

void TestHelp::parseSetting_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<std::optional<double>>("value");

    // The first item of the first line, as a number.
    QTest::newRow("0.0") << "0.0"_ba << std::optional<double>(0);
    QTest::newRow("0 with blanks and CR LF") << " 0 \r\n"_ba << std::optional<double>(0);
    QTest::newRow("first item only") << "1,0"_ba << std::optional<double>(1);
    QTest::newRow("first line only") << "1\r\n0\r\n"_ba << std::optional<double>(1);
    QTest::newRow("LF only") << "0\n"_ba << std::optional<double>(0);
    QTest::newRow("fraction") << "2.5"_ba << std::optional<double>(2.5);
    QTest::newRow("empty") << QByteArray() << std::optional<double>();
    QTest::newRow("empty first item") << ",0"_ba << std::optional<double>();
    QTest::newRow("empty first line") << "\r\n0"_ba << std::optional<double>();
    QTest::newRow("digits then letters") << "0abc"_ba << std::optional<double>();
}

void TestHelp::parseSetting()
{
    QFETCH(QByteArray, content);
    QFETCH(std::optional<double>, value);
    QCOMPARE(HowtoSetting::parseValue(content), value);
}

void TestHelp::guideButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("after"); // howto.num afterwards
    // The switch writes one line whatever the file held; closing leaves it as it was.
    QTest::newRow("switch off") << u"Command1"_s << "1\r\n"_ba;
    QTest::newRow("close") << u"Command2"_s << "0\r\nsecond line\r\n"_ba;
}

void TestHelp::guideButtons()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, after);

    QVERIFY(writeFile(m_folder->filePath(u"howto.num"_s), "0\r\nsecond line\r\n"));
    auto main = startMain();
    QPointer<HOWTOMERCH> guide = main->startUpGuide();
    QVERIFY(guide && guide->isVisible());
    // The switch comes first in the keyboard order, so it has the focus; Enter does not press it.
    guide->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(guide));
    auto *command1 = guide->findChild<QPushButton *>(u"Command1"_s);
    QCOMPARE(QApplication::focusWidget(), command1);
    QVERIFY(!command1->isDefault() && !command1->autoDefault());

    // The main window stays usable beside it, and the help menu's window opens beside it.
    typeAndEnter(lineEdit(main.get(), u"SBumon_code"_s), u"5"_s);
    QCOMPARE(lineEdit(main.get(), u"Text1"_s)->text(), u"緑茶"_s);
    trigger(main.get(), u"mnuhelphowto"_s);
    QVERIFY(main->helpWindow() && guide->isVisible());

    ModalCatcher catcher;
    guide->findChild<QPushButton *>(button)->click();
    QTRY_VERIFY(!guide);
    QCOMPARE(setting(), after);
    QCOMPARE(catcher.count(), 0);
    main = startMain();
    QCOMPARE(main->startUpGuide() != nullptr, button == u"Command2");
}

void TestHelp::howtoWindowsShareText()
{
    HOWTOMERCH guide;
    HELPHOWTO help;
    for (int i = 1; i <= 7; ++i) {
        const QString name = u"Label%1"_s.arg(i);
        auto *a = guide.findChild<QLabel *>(name);
        auto *b = help.findChild<QLabel *>(name);
        QVERIFY(!a->text().isEmpty());
        QCOMPARE(a->text(), b->text());
        QCOMPARE(a->font(), b->font());
        QCOMPARE(a->textInteractionFlags() & Qt::TextSelectableByMouse, Qt::TextInteractionFlags());
    }
    QVERIFY(!help.findChild<QPushButton *>(u"Command1"_s));

    // 18 points, or as near as the installed font allows while the paragraph fits its box.
    const double howToSearch = guide.findChild<QLabel *>(u"Label5"_s)->font().pointSizeF();
    QVERIFY(howToSearch <= 18.0 && howToSearch >= 14.0);
    QVERIFY(howToSearch > guide.font().pointSizeF());
    for (QWidget *window : {static_cast<QWidget *>(&guide), static_cast<QWidget *>(&help)}) {
        for (int i = 2; i <= 7; ++i) {
            auto *label = window->findChild<QLabel *>(u"Label%1"_s.arg(i));
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(), qPrintable(label->objectName()));
        }
    }
}

void TestHelp::versionWindow()
{
    Version version;
    // The build draws the logo, not blank, and stores it with the program.
    const QImage logo(QString::fromLatin1(Version::logoResource));
    QCOMPARE(logo.size(), QSize(379, 62));
    QVERIFY(logo.pixelColor(5, 5) != logo.pixelColor(200, 30));
    QCOMPARE(version.findChild<QLabel *>(u"Picture1"_s)->pixmap().size(), QSize(379, 62));
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
