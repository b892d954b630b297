#include "app/commandline.h"
#include "app/dialoglanguage.h"
#include "app/startfolder.h"
#include "app/syohin_main.h"
#include "ui/windowlook.h"
#include "windows/help/versioninfo.h"

#include <QApplication>
#include <QIcon>
#include <QStatusBar>
#include <QTextStream>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(u"Merchalog"_s);
    QCoreApplication::setApplicationVersion(Merchalog::VersionInfo::version);
}

} // namespace

int main(int argc, char *argv[])
{
    using namespace Merchalog;

    // Commands and usage errors need no display: they are found before the window system is
    // reached, unless Qt's own options may be what the parser does not know.
    const QStringList given = CommandLine::arguments(argc, argv);
    if (const auto request = CommandLine::parse(given);
        request.command || (!request.error.isEmpty() && !CommandLine::mayHoldQtOptions(given))) {
        QCoreApplication app(argc, argv);
        nameApplication();
        return CommandLine::run(request);
    }

    QApplication app(argc, argv);
    nameApplication();
    // The menu entry and icon an installation brings.
    QGuiApplication::setDesktopFileName(u"example.merchalog.Merchalog"_s);
    QApplication::setWindowIcon(QIcon::fromTheme(u"merchalog"_s));
    // Qt has taken its own options (-platform, -style ...) out of the arguments by now.
    const auto request = CommandLine::parse(QCoreApplication::arguments());
    if (request.command || !request.error.isEmpty())
        return CommandLine::run(request);

    if (!useJapaneseStandardDialogs())
        QTextStream(stderr) << u"merchalog: Qt の日本語訳 qtbase_ja.qm が見つからないため、"
                               "標準のダイアログは英語で表示されます。\n"_s;
    installJapaneseFontSubstitutes();
    const QString folderProblem = prepareWritableFolder();

    Syohin_Main window;
    // Shown first, so that the start-up guide opens in front of it.
    window.show();
    window.startUp();
    if (!folderProblem.isEmpty())
        window.statusBar()->showMessage(folderProblem);
    if (!request.catalogue.isEmpty())
        window.openAtStart(request.catalogue);
    return app.exec();
}
