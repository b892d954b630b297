#include "engine/kinds/jancheck.h"

#include "engine/kinds/number.h"

using namespace Qt::StringLiterals;

namespace Merchalog {

int janCheckDigitFor(QStringView digits)
{
    int sum = 0;
    int weight = 3;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        const QChar c = digits.at(i);
        if (c < u'0' || c > u'9')
            return -1;
        sum += weight * (c.unicode() - u'0');
        weight = weight == 3 ? 1 : 3;
    }
    return (10 - sum % 10) % 10;
}

std::optional<JanCheckDigit> checkJanDigit(QStringView text)
{
    const auto number = Currency::parse(text);
    if (!number || !number->isWhole() || number->units() < 0)
        return std::nullopt;
    const qint64 value = number->units() / Currency::unitsPerOne;
    QString code = QString::number(value);
    if (code.size() > 13)
        return std::nullopt;
    code = code.rightJustified(code.size() <= 8 ? 8 : 13, u'0');

    JanCheckDigit result;
    result.digit = code.back().unicode() - u'0';
    result.expected = janCheckDigitFor(QStringView(code).chopped(1));
    result.code = code;
    return result;
}

QString janCheckNote(QStringView text)
{
    const auto check = checkJanDigit(text);
    if (!check)
        return {};
    if (check->isValid())
        return u"チェックデジット正常"_s;
    return u"チェックデジット不正 (正: %1)"_s.arg(check->expected);
}

} // namespace Merchalog
