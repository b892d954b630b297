#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace Merchalog::SqlText {

// Selects no row: the product list at start-up and after opening a catalogue.
inline constexpr QLatin1StringView emptyProductView{"select * from syohin where syohin_JAN<>-99 and syohin_JAN=-99"};
// Every listed product: after creating a catalogue.
inline constexpr QLatin1StringView allProducts{"select * from syohin where syohin_JAN<>-99"};
// The whole product table, for appending.
inline constexpr QLatin1StringView productAppend{"select * from syohin"};
// The whole supplier table, for appending.
inline constexpr QLatin1StringView supplierAppend{"select * from torihiki"};

// "select * from torihiki where torihiki_code =" followed by the code converted to a number;
// nullopt when the code is not a number.
std::optional<QString> supplierByExactCode(QStringView code);

// "select * from torihiki where torihiki_code like " followed by the code as typed. Only a
// single number literal (digits, an optional sign and decimal point, blanks around) is taken,
// so typed text can never add conditions; anything else gives nullopt.
std::optional<QString> supplierByCodeAsTyped(QStringView code);

// Tells whether text is one plain number literal within the number range, blanks around allowed.
bool isNumberLiteral(QStringView text);

} // namespace Merchalog::SqlText
