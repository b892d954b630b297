#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace Merchalog {

// The check digit of a JAN number as the catalogue stores it. The stored number has lost its
// leading zeros, so a number of up to 8 digits is read as a JAN-8 and one of 9 to 13 digits as
// a JAN-13, padded with zeros on the left.
struct JanCheckDigit
{
    QString code;     // the padded code, 8 or 13 digits
    int digit = 0;    // the last digit as typed
    int expected = 0; // the digit the other digits call for

    bool isValid() const { return digit == expected; }
};

// Checks typed JAN text (any form the number conversion accepts). Returns nullopt when the
// text is not a whole, non-negative number of at most 13 digits.
std::optional<JanCheckDigit> checkJanDigit(QStringView text);

// The check digit for the digits of a code without its last one (weights 3, 1, 3 … from the
// right); -1 when the text holds anything but ASCII digits.
int janCheckDigitFor(QStringView digits);

// The note shown beside the JAN field: empty when there is nothing to check.
QString janCheckNote(QStringView text);

} // namespace Merchalog
