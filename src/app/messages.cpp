#include "app/messages.h"

#include <QMessageBox>

namespace Merchalog {

void showMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(applicationTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace Merchalog
