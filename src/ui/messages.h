#pragma once

#include "engine/result.h"

#include <QString>

class QWidget;

namespace Merchalog {

// The program's name: message-box caption and the start of the main window's title.
inline constexpr QLatin1StringView applicationTitle{"Merchalog"};

// Shows a modal message box: the text, one OK button, no icon, captioned "Merchalog".
void showMessage(QWidget *parent, const QString &text);

// The message for a write the catalogue refused (read-only, moved away, busy) or that found
// the record changed or deleted elsewhere; empty for any other failure. inputKept: the window
// keeps what the user typed for another try, which the message says when the catalogue was
// busy.
QString writeFailureMessage(const Status &status, bool inputKept);

// Shows writeFailureMessage in a message box and returns true; returns false, silently, when
// the failure is of no such kind.
bool reportWriteFailure(QWidget *parent, const Status &status, bool inputKept = false);

// What to do about a catalogue another program keeps busy, after the reason.
QString busyAdvice(bool inputKept);

} // namespace Merchalog
