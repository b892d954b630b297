#pragma once

// The rows the crash driver writes and the crash tests check. Every field of a row follows
// from its key (and, for edited products, a version), so a reader can tell a whole row from
// a half-written one without any record of what was written.

#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace Merchalog::Crash {

using namespace Qt::StringLiterals;

// Text that fills a name up to a size, so rows spread over several pages of the file.
inline QString filler(qint64 key, int size)
{
    static const QString alphabet = u"あいうえおかきくけこアイウエオ商品管理取引先ABCxyz0123456789-ｶﾀｶﾅ"_s;
    QString text;
    text.reserve(size);
    for (int i = 0; i < size; ++i)
        text += alphabet.at(int((key * 7 + i) % alphabet.size()));
    return text;
}

// The entry texts of product `key` at `version`, in canonical field order.
inline QStringList productTexts(qint64 key, int version, int nameSize)
{
    return {
        u"耐久%1版%2長%3:"_s.arg(key).arg(version).arg(nameSize) + filler(key, nameSize),
        u"%1.25"_s.arg(key * 10 + version),
        QString::number(key + version),
        u"-%1.0001"_s.arg(key % 1000 + version),
        QString::number(4900000000000LL + key),
        QString::number(100000 + key),
        QString::number((key + version) % 32768),
        u"取引先%1"_s.arg(key % 7),
        QString::number(key % 1000),
        QString::number(key % 50),
        QString::number(version),
    };
}

// The product fields an edit in the detail panel changes (indexes into syohinFields).
inline constexpr int editedProductFields[] = {0, 1, 2, 3, 6, 10};

struct NameHeader
{
    qint64 key = 0;
    int version = 0;
    int nameSize = 0;
};

// Reads key, version and filler size back from a stored name.
inline std::optional<NameHeader> parseName(const QString &name)
{
    static const QRegularExpression header(u"^耐久(\\d+)版(\\d+)長(\\d+):"_s);
    const auto match = header.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return NameHeader{match.captured(1).toLongLong(), match.captured(2).toInt(), match.captured(3).toInt()};
}

// The value a field holds in the file once its entry text is stored: text as typed, numbers
// as ten-thousandths, small integers as themselves.
inline QVariant storedValue(Kind kind, const QString &text)
{
    switch (kind) {
    case Kind::Text:
        return text;
    case Kind::Number:
        if (const auto value = Currency::parse(text))
            return QVariant::fromValue<qint64>(value->units());
        return {};
    case Kind::SmallInt:
        if (const auto value = parseSmallInt(text))
            return QVariant::fromValue<qint64>(*value);
        return {};
    }
    return {};
}

} // namespace Merchalog::Crash
