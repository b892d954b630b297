#include "engine/sqlite/sqlcompiler.h"

#include "engine/kinds/number.h"
#include "engine/sqlite/sqlitestatement.h"
#include "engine/statements/statement.h"

#include <QStringList>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Merchalog {

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

// A number key finds exactly the rows whose field shows that number (see the record source's
// reading of stored values): an INTEGER by its value (ten-thousandths in a number field, a
// whole number in a small-integer field), any other stored value (a REAL, a text or blob
// written by another program) when the text it shows reads as the key. The matching rows
// come from three lookups on the field's index, so that equality stays fast: the INTEGER, the
// REALs near the key, and the texts and blobs (which sort after every number and are
// normally none). The lookup of the INTEGER keeps to the window (the index holds the rowid
// after the value), so that each window costs what it holds, not what the whole table holds;
// the other two look past the rowid ("+rowid"), so that SQLite seeks them in the index rather
// than scanning the window for them.
Result<CompiledQuery> compileConditions(const Statement &statement, const TableInfo &table)
{
    CompiledQuery query;
    QStringList parts;
    QStringList lastParts;
    std::vector<SqlParameter> lastParameters;
    for (const Condition &condition : statement.conditions) {
        const int index = table.indexOf(condition.field);
        if (index < 0)
            return Status(ErrorCode::BadStatement, u"項目がありません: %1"_s.arg(condition.field));
        const ColumnInfo &column = table.columns[std::size_t(index)];
        const QString col = quoteIdentifier(column.name);
        const QString op = condition.op == Operator::NotEqual ? u"<>"_s : u"="_s;
        const bool isLike = condition.op == Operator::Like;

        if (const auto *number = std::get_if<Currency>(&condition.value)) {
            if (column.kind == Kind::Text) {
                // The number is compared as its text, as typed into a text field.
                if (isLike)
                    parts << u"merch_like(?, "_s + col + u") = 1"_s;
                else
                    parts << u"merch_fold("_s + col + u") "_s + op + u" merch_fold(?)"_s;
                query.parameters.emplace_back(number->toPlainText());
                continue;
            }
            // The INTEGER that shows as the key, if any.
            std::optional<std::int64_t> integer;
            if (column.kind == Kind::Number)
                integer = number->units();
            else if (number->isWhole())
                integer = number->units() / Currency::unitsPerOne;
            if (condition.op == Operator::NotEqual) {
                // Rows with no value stay out, as with SQL's "<>". Checked after the other
                // conditions: it keeps nearly every row, so it runs only on the rows they keep.
                lastParts << u"CASE typeof(%1) WHEN 'integer' THEN %2 WHEN 'null' THEN NULL "
                             "ELSE merch_numkey(%1) IS NOT ? END"_s.arg(col, integer ? col + u" <> ?"_s : u"1"_s);
                if (integer)
                    lastParameters.emplace_back(*integer);
                lastParameters.emplace_back(number->units());
                continue;
            }
            const QString from = u"SELECT rowid FROM "_s + quoteIdentifier(table.name) + u" WHERE "_s;
            QStringList lookups;
            if (integer) {
                lookups << from + col + u" = ? AND typeof(%1) = 'integer' AND rowid BETWEEN ?1 AND ?2"_s.arg(col);
                query.parameters.emplace_back(*integer);
            }
            // A REAL shows in SQLite's 15-digit form, which reads back to the key only within
            // a ten-thousandth of it.
            const double value = double(number->units()) / double(Currency::unitsPerOne);
            const double slack = 1.0 / double(Currency::unitsPerOne) + std::abs(value) * 1e-13;
            lookups << from + col + u" BETWEEN CAST(? AS REAL) AND CAST(? AS REAL) AND typeof(%1) = 'real'"
                                     " AND merch_numkey(%1) = ? AND +rowid BETWEEN ?1 AND ?2"_s.arg(col);
            query.parameters.emplace_back(QString::number(value - slack, 'g', 17));
            query.parameters.emplace_back(QString::number(value + slack, 'g', 17));
            query.parameters.emplace_back(number->units());
            lookups << from + col + u" >= '' AND merch_numkey(%1) = ? AND +rowid BETWEEN ?1 AND ?2"_s.arg(col);
            query.parameters.emplace_back(number->units());
            parts << u"rowid IN ("_s + lookups.join(u" UNION ALL "_s) + u')';
            continue;
        }

        const QString &text = std::get<QString>(condition.value);
        if (!isLike && column.kind != Kind::Text)
            return Status(ErrorCode::BadStatement, u"抽出条件でデータ型が一致しません: %1"_s.arg(condition.field));
        switch (column.kind) {
        case Kind::Text:
            if (isLike)
                parts << u"merch_like(?, "_s + col + u") = 1"_s;
            else
                parts << u"merch_fold("_s + col + u") "_s + op + u" merch_fold(?)"_s;
            break;
        case Kind::Number:
            parts << u"merch_like(?, merch_numtext("_s + col + u")) = 1"_s;
            break;
        case Kind::SmallInt:
            parts << u"merch_like(?, "_s + col + u") = 1"_s;
            break;
        }
        query.parameters.emplace_back(text);
    }
    query.where = (parts + lastParts).join(u" AND "_s);
    query.parameters.insert(query.parameters.end(), lastParameters.begin(), lastParameters.end());
    return query;
}

bool bindParameters(SqliteStatement &stmt, const std::vector<SqlParameter> &parameters, int first)
{
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const int position = first + int(i);
        const bool bound = std::holds_alternative<std::int64_t>(parameters[i])
            ? stmt.bind(position, std::get<std::int64_t>(parameters[i]))
            : stmt.bind(position, std::get<QString>(parameters[i]));
        if (!bound)
            return false;
    }
    return true;
}

} // namespace Merchalog
