#pragma once

#include <QString>

class QWidget;

namespace Merchalog {

// The program's name: message-box caption and the start of the main window's title.
inline constexpr QLatin1StringView applicationTitle{"Merchalog"};

// Shows a modal message box: the text, one OK button, no icon, captioned "Merchalog".
void showMessage(QWidget *parent, const QString &text);

} // namespace Merchalog
