#pragma once

#include "engine/kinds/number.h"
#include "engine/result.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <variant>
#include <vector>

namespace Merchalog {

// One literal of a statement: a number (written without quotes) or a quoted text.
using Literal = std::variant<Currency, QString>;

enum class Operator { Equal, NotEqual, Like };

struct Condition
{
    QString field;    // as written; field names are matched without regard to case
    Operator op = Operator::Equal;
    Literal value;

    friend bool operator==(const Condition &, const Condition &) = default;
};

// A record-source text of the subset the program uses: "select * from <table>" with optional
// "where" conditions joined by "and", or a bare table name. Keywords ignore case.
struct Statement
{
    QString table;
    std::vector<Condition> conditions;

    friend bool operator==(const Statement &, const Statement &) = default;
};

// Parses a record-source text. Fails (BadStatement, saying where) for anything outside the
// subset, including an unterminated quoted literal, an unclosed "[" in a like pattern, or
// trailing text. Text literals use '' for a single quote inside them.
Result<Statement> parseStatement(QStringView text);

// Writes a text value as a quoted literal, doubling any single quote in it.
QString quoteTextLiteral(QStringView value);

// Writes a statement back as text in one fixed form ("select * from t where f = 1 and g like 'x'");
// parsing that text gives the same statement again.
QString writeStatement(const Statement &statement);

} // namespace Merchalog
