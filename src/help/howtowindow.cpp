#include "help/howtowindow.h"

#include <QLabel>
#include <QPalette>

namespace Merchalog {

void styleHowtoLabels(QLabel *heading, QLabel *howToSearch)
{
    // Form files hold whole points only.
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(21.75);
    heading->setFont(headingFont);

    QPalette palette = howToSearch->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 192));
    howToSearch->setPalette(palette);
    howToSearch->setAutoFillBackground(true);
}

} // namespace Merchalog
