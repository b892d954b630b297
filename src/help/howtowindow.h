#pragma once

#include <QList>

class QLabel;

namespace Merchalog {

// The look the two how-to windows share: the heading at 21.75 points and paragraph ③ at
// 18 points on light yellow. Every paragraph is kept inside its box: where the installed
// Japanese font is larger than the one the window was drawn for, its size comes down in
// quarter points until the text fits.
void styleHowtoLabels(QLabel *heading, QLabel *howToSearch, const QList<QLabel *> &paragraphs);

} // namespace Merchalog
