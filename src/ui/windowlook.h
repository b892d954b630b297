#pragma once

class QWidget;

namespace Merchalog {

// Makes the Japanese fonts the windows name ("ＭＳ Ｐゴシック", "ＭＳ ゴシック", "ＭＳ Ｐ明朝"...)
// fall back to the installed Japanese fonts (IPAPGothic, Noto Sans CJK JP). Safe to call more
// than once.
void installJapaneseFontSubstitutes();

// Finishes a window built from its form (see setUpWindow).
void finishWindowSetUp(QWidget *window);

// Builds a window from its form the way every window is built: the Japanese fonts first; the
// program's window font ("ＭＳ Ｐゴシック", 9 points) where the form names none; the form's
// positions and sizes, laid out in pixels at 96 DPI, scaled to the screen's logical DPI (the
// central widget's of a main window); and text fields that hold text of any length, the cell
// editors of its tables included.
template<class Window, class Form>
void setUpWindow(Window *window, Form &form)
{
    installJapaneseFontSubstitutes();
    form.setupUi(window);
    finishWindowSetUp(window);
}

// Factor from 96-DPI pixels to the widget's logical pixels.
double screenScale(const QWidget *widget);

} // namespace Merchalog
