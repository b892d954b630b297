#pragma once

#include "engine/kinds/number.h"
#include "engine/records/cataloguestore.h" // Row

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

namespace Merchalog {

// The titles of the export's header line, one per product field in canonical order.
inline constexpr std::array<QStringView, 11> productCsvCaptions{
    u"商品名", u"商品マスタ価格", u"商品特売価格", u"商品原価価格", u"商品JANコード", u"商品発注コード",
    u"商品発注単位", u"商品取引先名", u"商品取引先コード", u"商品部門コード", u"商品部門カテゴリ",
};

// Appends text in Shift_JIS (the Microsoft code page 932 table, NEC and IBM extensions
// included). A character whose code page bytes would not read back as itself is replaced:
// written with its customary best-fit form (WAVE DASH as the full-width tilde, MINUS SIGN as
// the full-width hyphen-minus, YEN SIGN as 5C, the converter's one-way mappings, ...) or else
// as "?". Returns the number of characters so replaced; a surrogate pair counts as one
// character.
qsizetype appendShiftJis(QStringView text, QByteArray &out);

// Appends a number in the export form: "-" for negatives, no zero before the point, no
// trailing zeros, a point only with a fraction (".5", "-.25", "1980", "0").
void appendExportNumber(Currency value, QByteArray &out);

// Writes the product list as CSV lines: the header line, then one line per row in canonical
// field order whatever the file's column order. Every line ends in CR LF.
class ProductCsvFormatter final
{
public:
    // fieldIndex gives, for each canonical product field, its column in the rows (-1: absent).
    explicit ProductCsvFormatter(const std::array<int, 11> &fieldIndex);

    static void appendHeader(QByteArray &out);
    void appendRow(const Row &row, QByteArray &out);

    // Characters replaced so far (see appendShiftJis).
    qsizetype replacedCharacters() const { return m_replaced; }

private:
    void appendTextItem(QStringView text, QByteArray &out);

    std::array<int, 11> m_fieldIndex;
    qsizetype m_replaced = 0;
};

} // namespace Merchalog
