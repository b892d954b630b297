#pragma once

// Helpers for tests that drive windows: typing, clicking, finding controls, and catching the
// message boxes a call shows.

#include "testsupport.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>

#include <functional>

class QTableView;
class QTimer;
class QWidget;

namespace Merchalog::Test {

// A catalogue folder (see CatalogueFolder) that is also the application folder, as the windows
// find it; the destructor puts the application folder back.
class TestFolder final : public CatalogueFolder
{
public:
    TestFolder();
    ~TestFolder();
};

// Watches for modal dialogs (message boxes) while a call runs and closes them, recording what
// they showed. Create it before the call that opens the box; read after that call returns.
class ModalCatcher final : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        int icon = -1;         // QMessageBox::Icon, -1 when not a message box
        QStringList buttons;   // button texts
    };

    explicit ModalCatcher(QObject *parent = nullptr);
    ~ModalCatcher() override;

    // What to do with each box; by default press its first (OK) button, or reject it.
    void setHandler(std::function<void(QWidget *)> handler) { m_handler = std::move(handler); }

    const QList<Seen> &seen() const { return m_seen; }
    int count() const { return int(m_seen.size()); }
    QString lastText() const { return m_seen.isEmpty() ? QString() : m_seen.last().text; }

private:
    void poll();

    QTimer *m_timer;
    QList<Seen> m_seen;
    std::function<void(QWidget *)> m_handler;
};

// Types text (Japanese included) into the focused widget w, character by character.
void typeText(QWidget *w, const QString &text);
// Selects all of a field and types over it, as a user does (empty text clears it).
void overtype(QLineEdit *edit, const QString &text);
// Overtypes the field, then presses Enter.
void typeAndEnter(QLineEdit *edit, const QString &text);
void click(QPushButton *button);

// Controls by object name; a missing one is reported and comes back null.
QLineEdit *lineEdit(const QObject *window, const QString &name);
QPushButton *pushButton(const QObject *window, const QString &name);
void trigger(const QObject *window, const QString &actionName);
// Sets Text1..TextN of a window directly / reads them back.
void fill(const QObject *window, const QStringList &texts);
QStringList fieldTexts(const QObject *window, int count);
// Shows a window and waits until it is on screen (and active, when asked).
bool showWindow(QWidget *window, bool active = false);

// Clicks a row of a grid as the user does.
void clickRow(QTableView *grid, int row);

} // namespace Merchalog::Test

// Exactly one message box was shown, with this text, captioned "Merchalog", no icon, OK only.
#define VERIFY_ONE_MESSAGE(catcher, expected)                                     \
    do {                                                                          \
        QCOMPARE((catcher).count(), 1);                                           \
        const auto &seen_ = (catcher).seen().constFirst();                        \
        QCOMPARE(seen_.text, QString(expected));                                  \
        QCOMPARE(seen_.title, QStringLiteral("Merchalog"));                       \
        QCOMPARE(seen_.icon, int(QMessageBox::NoIcon));                           \
        QCOMPARE(seen_.buttons.size(), 1);                                        \
    } while (false)
