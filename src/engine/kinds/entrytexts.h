#pragma once

#include "engine/kinds/schema.h"

#include <QString>
#include <QStringView>

#include <array>

namespace Merchalog::EntryText {

// What the product registration says when a field is left empty, by product field in
// canonical order (which is also the order it checks them in).
inline constexpr std::array<QStringView, syohinFields.size()> productRequired{
    u"商品名を入力してください。",
    u"商品の標準価格を入力してください。",
    u"特売価格を入力してください。",
    u"原価を入力しててください。",
    u"JANコードを入力してください。",
    u"EOSコードを入力してください。",
    u"発注単位を入力してください。",
    u"取引先コードより取引先を検索してください。",
    u"取引先コードより取引先コードを検索してください。",
    u"部門コードを入力してください。",
    u"AUを入力してください。",
};

// What the supplier registration says when a field is left empty, by supplier field in
// canonical order (which is also the order it checks them in).
inline constexpr std::array<QStringView, torihikiFields.size()> supplierRequired{
    u"新規取引先名を入力してください。",
    u"取引先住所を入力してください。",
    u"取引先電話番号を入力してください。",
    u"取引先コードを入力してください。",
    u"取引先郵便番号を入力してください。",
};

// The supplier registration's refusal of a code that is already taken.
inline constexpr QStringView supplierCodeExists{u"その取引先コードはすでに存在しています。"};

// The captions of the supplier windows' fields, in canonical order.
inline constexpr std::array<QStringView, torihikiFields.size()> supplierCaptions{
    u"取引先名", u"取引先住所", u"取引先電話番号", u"取引先コード", u"取引先郵便番号",
};

// Why a field's text is not a value of its kind; label names the field as the user sees it.
QString numberExpected(QStringView label);
QString smallIntExpected(QStringView label);
// The reason for a kind's conversion failure.
QString valueExpected(Kind kind, QStringView label);

} // namespace Merchalog::EntryText
