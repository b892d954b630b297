#include "engine/kinds/entrytexts.h"

using namespace Qt::StringLiterals;

namespace Merchalog::EntryText {

QString numberExpected(QStringView label)
{
    return u"「%1」に数値を入力してください。"_s.arg(label);
}

QString smallIntExpected(QStringView label)
{
    return u"「%1」に-32768から32767までの整数を入力してください。"_s.arg(label);
}

QString valueExpected(Kind kind, QStringView label)
{
    return kind == Kind::SmallInt ? smallIntExpected(label) : numberExpected(label);
}

} // namespace Merchalog::EntryText
