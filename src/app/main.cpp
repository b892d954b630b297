#include "app/syohin_main.h"
#include "app/windowlook.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Merchalog"_s);
    Merchalog::installJapaneseFontSubstitutes();

    Merchalog::Syohin_Main window;
    // Shown first, so that the start-up guide opens in front of it.
    window.show();
    window.startUp();
    return app.exec();
}
