#pragma once

#include <QString>

class QWidget;

namespace Merchalog {

class RecordSource;

// The program's name: message-box caption and the start of the main window's title.
inline constexpr QLatin1StringView applicationTitle{"Merchalog"};

// Shows a modal message box: the text, one OK button, no icon, captioned "Merchalog".
void showMessage(QWidget *parent, const QString &text);

// After a record-source call failed: when the file refused the change (read-only, moved away,
// busy) or the record was changed or deleted elsewhere, says so and returns true; other
// failures stay silent and return false. inputKept: the window keeps what the user typed
// for another try, and the message says so when the catalogue was busy.
bool reportWriteFailure(QWidget *parent, const RecordSource &source, bool inputKept = false);

// What to do about a catalogue another program keeps busy, after the reason.
QString busyAdvice(bool inputKept);

} // namespace Merchalog
