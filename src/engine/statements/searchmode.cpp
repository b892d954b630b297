#include "engine/statements/searchmode.h"

#include "engine/kinds/schema.h"

using namespace Qt::StringLiterals;

namespace Merchalog {

QString searchModeText(SearchMode mode)
{
    switch (mode) {
    case SearchMode::Name:
        return u"商品名検索"_s;
    case SearchMode::Supplier:
        return u"取引先検索"_s;
    case SearchMode::Price:
        return u"価格検索"_s;
    case SearchMode::Eos:
        return u"EOS検索"_s;
    case SearchMode::Jan:
        return u"JAN検索"_s;
    }
    return {};
}

std::optional<SearchMode> searchModeFromText(QStringView caption)
{
    for (SearchMode mode : searchModeOrder) {
        if (caption == searchModeText(mode))
            return mode;
    }
    return std::nullopt;
}

QLatin1StringView searchModeField(SearchMode mode)
{
    switch (mode) {
    case SearchMode::Name:
        return Field::syohin_mei;
    case SearchMode::Supplier:
        return Field::syohin_torihikicode;
    case SearchMode::Price:
        return Field::syohin_master;
    case SearchMode::Eos:
        return Field::syohin_EOS;
    case SearchMode::Jan:
        return Field::syohin_JAN;
    }
    return {};
}

} // namespace Merchalog
