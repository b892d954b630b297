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

bool reportWriteFailure(QWidget *parent, const RecordSource &source, bool inputKept)
{
    switch (source.lastError()) {
    case RecordSource::Error::WriteFailed:
        showMessage(parent, u"データベースに書き込めませんでした。\n%1"_s.arg(source.errorString()));
        return true;
    case RecordSource::Error::Busy:
        showMessage(parent, u"データベースに書き込めませんでした。\n%1\n%2"_s.arg(source.errorString(), busyAdvice(inputKept)));
        return true;
    case RecordSource::Error::Conflict:
        showMessage(parent, source.errorString());
        return true;
    default:
        return false;
    }
}

QString busyAdvice(bool inputKept)
{
    return inputKept ? u"入力した内容はそのまま残っています。しばらくしてからもう一度お試しください。"_s
                     : u"しばらくしてからもう一度お試しください。"_s;
}

} // namespace Merchalog
