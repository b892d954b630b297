#include "windowsupport.h"

#include "ui/appfolder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTableView>
#include <QTest>
#include <QTimer>

namespace Merchalog::Test {

TestFolder::TestFolder()
{
    if (isValid())
        AppFolder::setPathOverride(path());
}

TestFolder::~TestFolder()
{
    AppFolder::setPathOverride({});
}

ModalCatcher::ModalCatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(20);
    connect(m_timer, &QTimer::timeout, this, &ModalCatcher::poll);
    m_timer->start();
}

ModalCatcher::~ModalCatcher() = default;

void ModalCatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    Seen seen;
    seen.title = modal->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        seen.text = box->text();
        seen.icon = int(box->icon());
        for (QAbstractButton *button : box->buttons())
            seen.buttons << button->text();
    }
    m_seen << seen;
    if (m_handler) {
        m_handler(modal);
        return;
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (!box->buttons().isEmpty()) {
            box->buttons().constFirst()->click();
            return;
        }
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}

void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80 && ch.isPrint())
            QTest::keyClick(w, ch.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void overtype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        typeText(edit, text);
}

void typeAndEnter(QLineEdit *edit, const QString &text)
{
    overtype(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void click(QPushButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

namespace {

template<class T>
T *child(const QObject *window, const QString &name)
{
    auto *found = window->findChild<T *>(name);
    if (!found)
        qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

} // namespace

QLineEdit *lineEdit(const QObject *window, const QString &name)
{
    return child<QLineEdit>(window, name);
}

QPushButton *pushButton(const QObject *window, const QString &name)
{
    return child<QPushButton>(window, name);
}

void trigger(const QObject *window, const QString &actionName)
{
    if (auto *action = child<QAction>(window, actionName))
        action->trigger();
}

void fill(const QObject *window, const QStringList &texts)
{
    for (int i = 0; i < texts.size(); ++i)
        lineEdit(window, QStringLiteral("Text%1").arg(i + 1))->setText(texts.at(i));
}

QStringList fieldTexts(const QObject *window, int count)
{
    QStringList texts;
    for (int i = 1; i <= count; ++i)
        texts << lineEdit(window, QStringLiteral("Text%1").arg(i))->text();
    return texts;
}

bool showWindow(QWidget *window, bool active)
{
    window->show();
    if (!active)
        return QTest::qWaitForWindowExposed(window);
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}


void clickRow(QTableView *grid, int row)
{
    const QRect cell = grid->visualRect(grid->model()->index(row, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}


} // namespace Merchalog::Test
