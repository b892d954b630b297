#pragma once

#include "engine/kinds/schema.h"
#include "engine/result.h"

#include <QString>

#include <cstdint>
#include <variant>
#include <vector>

namespace Merchalog {

class SqliteStatement;
struct Statement;

// A value bound into a compiled statement.
using SqlParameter = std::variant<std::int64_t, QString>;

// The conditions of a parsed statement as SQLite SQL, for reading the selected rows one window
// of rowids at a time: a condition (empty for none) on the rows whose rowid lies between
// parameters ?1 and ?2, whose every literal is a parameter, numbered from 3 in order.
struct CompiledQuery
{
    QString where;
    std::vector<SqlParameter> parameters;
};

// Turns the conditions of a parsed statement on a table into SQLite SQL with bound values.
// The user's text never becomes SQL. Fails (BadStatement) for a field the table lacks and for
// a text compared with "=" or "<>" to a number field.
Result<CompiledQuery> compileConditions(const Statement &statement, const TableInfo &table);

// The first position of the parameters after the window's two.
inline constexpr int firstConditionParameter = 3;

// Binds the parameters to positions first, first + 1, ...; false when SQLite refused one.
bool bindParameters(SqliteStatement &stmt, const std::vector<SqlParameter> &parameters,
                    int first = firstConditionParameter);

// A name as an SQL identifier, in double quotes.
QString quoteIdentifier(const QString &name);

} // namespace Merchalog
