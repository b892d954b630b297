#pragma once

// Starting the main window in tests of the program (they link the program's library).

#include "app/syohin_main.h"

#include <QTest>

#include <memory>

namespace Merchalog::Test {

// The main window, shown and started as at program start.
inline std::unique_ptr<Syohin_Main> startMain()
{
    auto window = std::make_unique<Syohin_Main>();
    window->show();
    window->startUp();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("main window not active");
    return window;
}

} // namespace Merchalog::Test
