#pragma once

#include "ui/windowlook.h"

#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QWidget>

namespace Merchalog {

// The look the two how-to windows share: the heading at 21.75 points and paragraph ③ at
// 18 points on light yellow. Every paragraph is kept inside its box: where the installed
// Japanese font is larger than the one the window was drawn for, its size comes down in
// quarter points until the text fits.
void styleHowtoLabels(QLabel *heading, QLabel *howToSearch, const QList<QLabel *> &paragraphs);

// Sets up either how-to window from its form: fonts, screen scaling, the shared look, and the
// close button.
template<class Form>
void setUpHowtoWindow(QWidget *window, Form &ui)
{
    setUpWindow(window, ui);
    styleHowtoLabels(ui.Label1, ui.Label5,
                     {ui.Label2, ui.Label3, ui.Label4, ui.Label5, ui.Label6, ui.Label7});
    QObject::connect(ui.Command2, &QPushButton::clicked, window, &QWidget::close);
}

} // namespace Merchalog
