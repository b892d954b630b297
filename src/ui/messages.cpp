#include "ui/messages.h"

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

QString writeFailureMessage(const Status &status, bool inputKept)
{
    switch (status.code()) {
    case ErrorCode::WriteFailed:
    case ErrorCode::Conflict:
        return status.message();
    case ErrorCode::Busy:
        return status.message() + u'\n' + busyAdvice(inputKept);
    default:
        return {};
    }
}

bool reportWriteFailure(QWidget *parent, const Status &status, bool inputKept)
{
    const QString message = writeFailureMessage(status, inputKept);
    if (message.isEmpty())
        return false;
    showMessage(parent, message);
    return true;
}

QString busyAdvice(bool inputKept)
{
    return inputKept ? u"入力した内容はそのまま残っています。しばらくしてからもう一度お試しください。"_s
                     : u"しばらくしてからもう一度お試しください。"_s;
}

} // namespace Merchalog
