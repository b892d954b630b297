#include "app/messages.h"

#include "catalogue/recordsource.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Merchalog {

void showMessage(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QString(applicationTitle), text, QMessageBox::Ok, parent);
    // Some styles put a check-mark picture on the OK button; the box shows text only.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

bool reportWriteFailure(QWidget *parent, const RecordSource &source)
{
    if (source.lastError() != RecordSource::Error::WriteFailed)
        return false;
    showMessage(parent, u"データベースに書き込めませんでした。\n%1"_s.arg(source.errorString()));
    return true;
}

} // namespace Merchalog
