#pragma once

namespace Merchalog {

// Makes Qt's standard dialogs speak Japanese whatever the system's language: the file, save,
// print and printer set-up dialogs, the buttons of message boxes and the context menu of text
// fields. Loads Qt's own Japanese translation (qtbase_ja.qm from Qt's translations folder)
// into the running application, has file dialogs use Qt's own dialog, which that translation
// covers, rather than the desktop's, and makes Japanese the default locale, in which that
// dialog names file types. Returns false (and the dialogs stay English) when the translation
// is not installed. Call it before the first window opens.
bool useJapaneseStandardDialogs();

} // namespace Merchalog
