#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace Merchalog {

// What the key field of the main window searches. The mode is held as the caption of the
// label in front of the key field; the search reads it back from there.
enum class SearchMode {
    Name,     // 商品名検索: syohin_mei, the key as typed between quotes
    Supplier, // 取引先検索: syohin_torihikicode
    Price,    // 価格検索: syohin_master
    Eos,      // EOS検索: syohin_EOS
    Jan,      // JAN検索: syohin_JAN
};

// The modes in the order the search compares the label's caption with them.
inline constexpr std::array<SearchMode, 5> searchModeOrder{
    SearchMode::Supplier, SearchMode::Price, SearchMode::Eos, SearchMode::Jan, SearchMode::Name};

// The label caption that stands for a mode ("価格検索", not the menu's "標準価格検索").
QString searchModeText(SearchMode mode);

// The mode whose caption equals the text exactly, or nullopt.
std::optional<SearchMode> searchModeFromText(QStringView caption);

// The product field the mode's key is compared with.
QLatin1StringView searchModeField(SearchMode mode);

} // namespace Merchalog
