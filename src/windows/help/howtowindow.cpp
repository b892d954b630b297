#include "windows/help/howtowindow.h"

#include <QLabel>
#include <QPalette>

namespace Merchalog {

namespace {

void fitInBox(QLabel *label)
{
    QFont font = label->font();
    while (font.pointSizeF() > 6.0 && label->heightForWidth(label->width()) > label->height()) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
        label->setFont(font);
    }
}

} // namespace

void styleHowtoLabels(QLabel *heading, QLabel *howToSearch, const QList<QLabel *> &paragraphs)
{
    // Form files hold whole points only.
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(21.75);
    heading->setFont(headingFont);

    QPalette palette = howToSearch->palette();
    palette.setColor(QPalette::Window, QColor(255, 255, 192));
    howToSearch->setPalette(palette);
    howToSearch->setAutoFillBackground(true);

    for (QLabel *label : paragraphs)
        fitInBox(label);
}

} // namespace Merchalog
