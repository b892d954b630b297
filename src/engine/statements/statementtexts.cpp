#include "engine/statements/statementtexts.h"

#include "engine/kinds/number.h"

namespace Merchalog::SqlText {

std::optional<QString> supplierByExactCode(QStringView code)
{
    const auto value = Currency::parse(code);
    if (!value)
        return std::nullopt;
    return QLatin1StringView("select * from torihiki where torihiki_code =") + value->toPlainText();
}

bool isNumberLiteral(QStringView text)
{
    const QStringView t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    qsizetype digits = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
        ++i;
        ++digits;
    }
    if (i < t.size() && t[i] == u'.') {
        ++i;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
            ++i;
            ++digits;
        }
    }
    // A literal beyond the number range would make the whole text fail later; refuse it here.
    return digits > 0 && i == t.size() && Currency::parse(t);
}

std::optional<QString> supplierByCodeAsTyped(QStringView code)
{
    if (!isNumberLiteral(code))
        return std::nullopt;
    return QLatin1StringView("select * from torihiki where torihiki_code like ") + code.toString();
}

} // namespace Merchalog::SqlText
