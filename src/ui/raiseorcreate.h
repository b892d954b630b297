#pragma once

#include <QPointer>
#include <QWidget>

#include <utility>

namespace Merchalog {

// Opens a window the way every window of the program opens: one that is open already comes to
// the front (restored when minimised); otherwise a new one is made from args, discarded when
// it closes, and shown. window follows it, and becomes null once it is closed.
template<class Window, class... Args>
Window *raiseOrCreate(QPointer<Window> &window, Args &&...args)
{
    if (window) {
        if (window->isMinimized())
            window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
        return window;
    }
    window = new Window(std::forward<Args>(args)...);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

} // namespace Merchalog
