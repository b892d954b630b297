#include "engine/statements/searchtext.h"

#include "engine/kinds/number.h"
#include "engine/statements/statement.h"

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

constexpr QLatin1StringView listedProducts{"select * from syohin where syohin_JAN<>-99 and "};

std::optional<QString> numberText(QStringView text)
{
    const auto value = Currency::parse(text);
    if (!value)
        return std::nullopt;
    return value->toPlainText();
}

// The field's comparison: "<field> like <key value>".
std::optional<QString> keyCondition(SearchMode mode, QStringView key)
{
    QString condition = searchModeField(mode) + " like "_L1;
    if (mode == SearchMode::Name)
        return condition + quoteTextLiteral(key);
    const auto number = numberText(key);
    if (!number)
        return std::nullopt;
    return condition + *number;
}

} // namespace

std::optional<QString> departmentOnlyText(QStringView department)
{
    const auto number = numberText(department);
    if (!number)
        return std::nullopt;
    return listedProducts + "bumon_code like "_L1 + *number;
}

std::optional<QString> keyOnlyText(SearchMode mode, QStringView key)
{
    const auto condition = keyCondition(mode, key);
    if (!condition)
        return std::nullopt;
    return listedProducts + *condition;
}

std::optional<QString> combinedText(SearchMode mode, QStringView department, QStringView key)
{
    // The department is converted before the key.
    const auto head = departmentOnlyText(department);
    if (!head)
        return std::nullopt;
    const auto condition = keyCondition(mode, key);
    if (!condition)
        return std::nullopt;
    return *head + " and "_L1 + *condition;
}

std::optional<QString> productSearchText(SearchMode mode, QStringView department, QStringView key)
{
    if (!department.isEmpty() && key.isEmpty())
        return departmentOnlyText(department);
    if (!department.isEmpty() && !key.isEmpty())
        return combinedText(mode, department, key);
    if (department.isEmpty() && !key.isEmpty())
        return keyOnlyText(mode, key);
    return std::nullopt;
}

QString searchInputProblem(SearchMode mode, QStringView department, QStringView key)
{
    if (!department.isEmpty() && !Currency::parse(department))
        return u"部門コードが数値ではないため、検索しませんでした。"_s;
    if (!key.isEmpty() && mode != SearchMode::Name && !Currency::parse(key))
        return u"「%1」のキーが数値ではないため、検索しませんでした。"_s.arg(searchModeText(mode));
    return {};
}

} // namespace Merchalog
