#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace Merchalog::HowtoSetting {

// howto.num in the folder the program writes to (the application folder, or the user's data
// folder for an installed program): its first item (up to the first comma or line end) is a
// number; 0 shows the start-up guide, anything else (or no number at all) does not.
QString filePath();

// The first item of a setting file's contents as a number; nullopt when it is empty or not
// a number. Blanks around the digits do not matter.
std::optional<double> parseValue(QByteArrayView content);

// Reads howto.num, its first item whole however long it is, in pieces; nullopt when it is
// missing, unreadable, empty or not a number.
std::optional<double> readValue();

// Whether the start-up guide is to be shown: howto.num reads as 0.
bool guideShownAtStart();

// Switches the guide off for good: replaces howto.num by "1" CR LF. Returns false when the
// file could not be written.
bool switchGuideOff();

} // namespace Merchalog::HowtoSetting
