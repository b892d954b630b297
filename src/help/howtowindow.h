#pragma once

class QLabel;

namespace Merchalog {

// The look the two how-to windows share: the heading at 21.75 points and paragraph ③ at
// 18 points on light yellow.
void styleHowtoLabels(QLabel *heading, QLabel *howToSearch);

} // namespace Merchalog
