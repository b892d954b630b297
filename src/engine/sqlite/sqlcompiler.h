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

// The conditions of a parsed statement as SQLite SQL: a WHERE clause (empty for none) whose
// every literal is a parameter, in order.
struct CompiledQuery
{
    QString where;
    std::vector<SqlParameter> parameters;
};

// Turns the conditions of a parsed statement on a table into SQLite SQL with bound values.
// The user's text never becomes SQL. Fails (BadStatement) for a field the table lacks and for
// a text compared with "=" or "<>" to a number field.
Result<CompiledQuery> compileConditions(const Statement &statement, const TableInfo &table);

// Binds the parameters to positions first, first + 1, ...; false when SQLite refused one.
bool bindParameters(SqliteStatement &stmt, const std::vector<SqlParameter> &parameters, int first = 1);

// A name as an SQL identifier, in double quotes.
QString quoteIdentifier(const QString &name);

} // namespace Merchalog
