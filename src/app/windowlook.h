#pragma once

class QWidget;

namespace Merchalog {

// Makes the Japanese fonts the windows name ("ＭＳ Ｐゴシック", "ＭＳ ゴシック", "ＭＳ Ｐ明朝"...)
// fall back to the installed Japanese fonts (IPAPGothic, Noto Sans CJK JP). Safe to call more
// than once.
void installJapaneseFontSubstitutes();

// The windows are laid out in pixels at 96 DPI. Scales the positions and sizes of the
// controls in container (and of the container's fixed size) to the screen's logical DPI.
void scaleToScreen(QWidget *container);

// Factor from 96-DPI pixels to the widget's logical pixels.
double screenScale(const QWidget *widget);

} // namespace Merchalog
