#include "testsupport.h"

#include "app/syohin_main.h"
#include "catalogue/appfolder.h"
#include "catalogue/currentcatalogue.h"
#include "help/helphowto.h"
#include "help/howtomerch.h"
#include "help/howtosetting.h"
#include "help/version.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using namespace Merchalog;

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
    QByteArray setting() const;
    void writeSetting(const QByteArray &content);
    std::unique_ptr<Syohin_Main> startMain();
    template<class Window>
    static int openCount();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousCurrent;
};

void TestHelp::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    AppFolder::setPathOverride(m_dir->path());
    CurrentCatalogue::instance().setDatabaseName(u"database.mdb"_s);
    QVERIFY(Test::makeCatalogue(m_dir->filePath(u"database.mdb"_s)));
    Test::Product product{u"緑茶"_s};
    product.bumon = u"5"_s;
    QVERIFY(Test::insertProduct(m_dir->filePath(u"database.mdb"_s), product));
}

void TestHelp::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<HOWTOMERCH *>(w) || qobject_cast<HELPHOWTO *>(w) || qobject_cast<Version *>(w))
            delete w;
    }
    QDir::setCurrent(m_previousCurrent);
    AppFolder::setPathOverride({});
    m_dir.reset();
}

QByteArray TestHelp::setting() const
{
    QFile file(m_dir->filePath(u"howto.num"_s));
    if (!file.open(QIODevice::ReadOnly))
        return "(missing)";
    return file.readAll();
}

void TestHelp::writeSetting(const QByteArray &content)
{
    QFile file(m_dir->filePath(u"howto.num"_s));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

std::unique_ptr<Syohin_Main> TestHelp::startMain()
{
    auto window = std::make_unique<Syohin_Main>();
    window->show();
    window->startUp();
    return window;
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
    writeSetting("0\r\nsecond line\r\nthird line\r\n");
    auto main = startMain();
    QPointer<HOWTOMERCH> guide = main->startUpGuide();
    QVERIFY(guide);
    auto *command1 = guide->findChild<QPushButton *>(u"Command1"_s);
    // The switch comes first in the keyboard order, so it has the focus when the guide opens.
    guide->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(guide));
    QCOMPARE(QApplication::focusWidget(), command1);
    QVERIFY(!command1->isDefault() && !command1->autoDefault());
    Test::ModalCatcher catcher;
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
    writeSetting("0");
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
    writeSetting("0");
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
    QCOMPARE(guide.windowTitle(), u"HOW TO Merchalog"_s);
    QCOMPARE(help.windowTitle(), u"HOW　TO　Merchalog"_s);
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
    QCOMPARE(guide.findChild<QPushButton *>(u"Command1"_s)->text(), u"今後、この画面は表示しない"_s);

    auto *heading = guide.findChild<QLabel *>(u"Label1"_s);
    auto *howToSearch = guide.findChild<QLabel *>(u"Label5"_s);
    QCOMPARE(heading->font().pointSizeF(), 21.75);
    // 18 points, or as near as the installed font allows while the paragraph fits its box.
    QVERIFY(howToSearch->font().pointSizeF() <= 18.0);
    QVERIFY(howToSearch->font().pointSizeF() >= 14.0);
    QVERIFY(howToSearch->font().pointSizeF() > guide.font().pointSizeF());
    QVERIFY(howToSearch->autoFillBackground());
    QCOMPARE(howToSearch->palette().color(QPalette::Window), QColor(255, 255, 192));
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
    writeSetting("1\r\n");
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
    QCOMPARE(version.windowTitle(), u"バージョン情報"_s);
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
    QCOMPARE(version.findChild<QLabel *>(u"Label3"_s)->font().pointSizeF(), 21.75);

    version.show();
    version.findChild<QPushButton *>(u"Command1"_s)->click();
    QVERIFY(!version.isVisible());
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
