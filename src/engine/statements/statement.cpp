#include "engine/statements/statement.h"

#include "engine/statements/likefunction.h"

#include <array>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

enum class TokenKind { End, Word, Star, Equal, NotEqual, Number, Text };

struct Token
{
    TokenKind kind = TokenKind::End;
    qsizetype position = 0;
    QStringView word;  // Word: the identifier or keyword; Number: the literal as written
    QString text;      // Text: the literal with '' turned into '
};

bool isWordStart(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

bool isWordChar(char16_t c)
{
    return isWordStart(c) || (c >= u'0' && c <= u'9');
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Words that have a meaning in the engine's SQL; none of them names a table or a field, so
// a text that uses one (an "or" spliced in through a search key) is refused rather than
// misread as a name.
constexpr std::array reservedWords{
    "all"_L1,   "and"_L1,    "as"_L1,     "asc"_L1,      "between"_L1, "by"_L1,     "case"_L1,
    "cross"_L1, "delete"_L1, "desc"_L1,   "distinct"_L1, "drop"_L1,    "else"_L1,   "end"_L1,
    "escape"_L1, "except"_L1, "exists"_L1, "from"_L1,    "full"_L1,    "glob"_L1,   "group"_L1,
    "having"_L1, "in"_L1,    "inner"_L1,  "insert"_L1,   "intersect"_L1, "into"_L1, "is"_L1,
    "join"_L1,  "left"_L1,   "like"_L1,   "limit"_L1,    "match"_L1,   "natural"_L1, "not"_L1,
    "null"_L1,  "offset"_L1, "on"_L1,     "or"_L1,       "order"_L1,   "outer"_L1,  "regexp"_L1,
    "right"_L1, "select"_L1, "set"_L1,    "then"_L1,     "union"_L1,   "update"_L1, "using"_L1,
    "values"_L1, "when"_L1,  "where"_L1,  "with"_L1,
};

bool isReserved(QStringView word)
{
    for (const auto reserved : reservedWords) {
        if (word.compare(reserved, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Reads the text one token at a time, left to right, never looking back: the whole parse
// takes time in proportion to the length of the text.
class Parser final
{
public:
    explicit Parser(QStringView text) : m_text(text) {}

    std::optional<Statement> parse();
    QString error() const { return m_error; }

private:
    bool next();
    bool fail(const QString &message, qsizetype position);
    bool expectKeyword(QLatin1StringView keyword);
    bool isKeyword(QLatin1StringView keyword) const;
    bool readIdentifier(QString *name, const QString &what);
    bool readCondition(Condition *condition);

    QStringView m_text;
    qsizetype m_pos = 0;
    Token m_token;
    QString m_error;
};

bool Parser::fail(const QString &message, qsizetype position)
{
    if (m_error.isEmpty())
        m_error = message + u" (position %1)"_s.arg(position + 1);
    return false;
}

bool Parser::next()
{
    const qsizetype size = m_text.size();
    while (m_pos < size && QChar::isSpace(m_text[m_pos].unicode()))
        ++m_pos;

    m_token = Token();
    m_token.position = m_pos;
    if (m_pos == size)
        return true;

    const char16_t c = m_text[m_pos].unicode();
    const auto at = [&](qsizetype i) { return i < size ? m_text[i].unicode() : u'\0'; };

    if (isWordStart(c)) {
        const qsizetype start = m_pos;
        while (isWordChar(at(m_pos)))
            ++m_pos;
        m_token.kind = TokenKind::Word;
        m_token.word = m_text.sliced(start, m_pos - start);
        return true;
    }

    const bool signedNumber = (c == u'-' || c == u'+')
            && (isDigit(at(m_pos + 1)) || (at(m_pos + 1) == u'.' && isDigit(at(m_pos + 2))));
    if (isDigit(c) || (c == u'.' && isDigit(at(m_pos + 1))) || signedNumber) {
        const qsizetype start = m_pos;
        if (signedNumber)
            ++m_pos;
        while (isDigit(at(m_pos)))
            ++m_pos;
        if (at(m_pos) == u'.') {
            ++m_pos;
            while (isDigit(at(m_pos)))
                ++m_pos;
        }
        // "1e5", "12abc" and "1.2.3" are not numbers of the subset.
        if (isWordChar(at(m_pos)) || at(m_pos) == u'.')
            return fail(u"malformed number"_s, m_pos);
        m_token.kind = TokenKind::Number;
        m_token.word = m_text.sliced(start, m_pos - start);
        return true;
    }

    switch (c) {
    case u'*':
        m_token.kind = TokenKind::Star;
        ++m_pos;
        return true;
    case u'=':
        m_token.kind = TokenKind::Equal;
        ++m_pos;
        return true;
    case u'<':
        if (at(m_pos + 1) == u'>') {
            m_token.kind = TokenKind::NotEqual;
            m_pos += 2;
            return true;
        }
        return fail(u"unsupported operator"_s, m_pos);
    case u'\'': {
        ++m_pos;
        qsizetype runStart = m_pos;
        for (;;) {
            if (m_pos == size)
                return fail(u"unterminated text literal"_s, m_token.position);
            const char16_t d = m_text[m_pos].unicode();
            if (d == u'\0')
                return fail(u"NUL character"_s, m_pos);
            if (d == u'\'') {
                m_token.text += m_text.sliced(runStart, m_pos - runStart);
                ++m_pos;
                if (at(m_pos) != u'\'')
                    break;
                // A doubled quote stands for one quote inside the literal.
                m_token.text += u'\'';
                ++m_pos;
                runStart = m_pos;
                continue;
            }
            ++m_pos;
        }
        m_token.kind = TokenKind::Text;
        return true;
    }
    case u'-':
        if (at(m_pos + 1) == u'-')
            return fail(u"comments are not allowed"_s, m_pos);
        break;
    case u'/':
        if (at(m_pos + 1) == u'*')
            return fail(u"comments are not allowed"_s, m_pos);
        break;
    case u';':
        return fail(u"only one statement is allowed"_s, m_pos);
    case u'\0':
        return fail(u"NUL character"_s, m_pos);
    default:
        break;
    }
    return fail(u"unexpected character"_s, m_pos);
}

bool Parser::isKeyword(QLatin1StringView keyword) const
{
    return m_token.kind == TokenKind::Word && m_token.word.compare(keyword, Qt::CaseInsensitive) == 0;
}

bool Parser::expectKeyword(QLatin1StringView keyword)
{
    if (!isKeyword(keyword))
        return fail(u"expected \"%1\""_s.arg(keyword), m_token.position);
    return next();
}

bool Parser::readIdentifier(QString *name, const QString &what)
{
    if (m_token.kind != TokenKind::Word || isReserved(m_token.word))
        return fail(u"expected %1"_s.arg(what), m_token.position);
    *name = m_token.word.toString();
    return next();
}

bool Parser::readCondition(Condition *condition)
{
    if (!readIdentifier(&condition->field, u"a field name"_s))
        return false;

    const qsizetype opPosition = m_token.position;
    if (m_token.kind == TokenKind::Equal)
        condition->op = Operator::Equal;
    else if (m_token.kind == TokenKind::NotEqual)
        condition->op = Operator::NotEqual;
    else if (isKeyword("like"_L1))
        condition->op = Operator::Like;
    else
        return fail(u"expected \"=\", \"<>\" or \"like\""_s, opPosition);
    if (!next())
        return false;

    const Token literal = m_token;
    if (literal.kind == TokenKind::Number) {
        const auto value = Currency::parse(literal.word);
        if (!value)
            return fail(u"number out of range"_s, literal.position);
        condition->value = *value;
    } else if (literal.kind == TokenKind::Text) {
        if (condition->op == Operator::Like && !LikePattern::compile(literal.text))
            return fail(u"unclosed \"[\" in like pattern"_s, literal.position);
        condition->value = literal.text;
    } else {
        return fail(u"expected a number or a quoted text"_s, literal.position);
    }
    return next();
}

std::optional<Statement> Parser::parse()
{
    Statement statement;
    if (!next())
        return std::nullopt;
    if (m_token.kind == TokenKind::End) {
        fail(u"empty statement"_s, m_token.position);
        return std::nullopt;
    }

    if (isKeyword("select"_L1)) {
        if (!next())
            return std::nullopt;
        if (m_token.kind != TokenKind::Star) {
            fail(u"only \"select *\" is supported"_s, m_token.position);
            return std::nullopt;
        }
        if (!next() || !expectKeyword("from"_L1) || !readIdentifier(&statement.table, u"a table name"_s))
            return std::nullopt;
        if (isKeyword("where"_L1)) {
            if (!next())
                return std::nullopt;
            for (;;) {
                Condition condition;
                if (!readCondition(&condition))
                    return std::nullopt;
                statement.conditions.push_back(std::move(condition));
                if (!isKeyword("and"_L1))
                    break;
                if (!next())
                    return std::nullopt;
            }
        }
    } else if (!readIdentifier(&statement.table, u"a table name or \"select\""_s)) {
        return std::nullopt;
    }

    if (m_token.kind != TokenKind::End) {
        fail(u"unexpected text after the statement"_s, m_token.position);
        return std::nullopt;
    }
    return statement;
}

} // namespace

Result<Statement> parseStatement(QStringView text)
{
    Parser parser(text);
    auto statement = parser.parse();
    if (!statement)
        return Status(ErrorCode::BadStatement, u"レコードソースの文が正しくありません: "_s + parser.error());
    return std::move(*statement);
}

QString quoteTextLiteral(QStringView value)
{
    QString quoted;
    quoted.reserve(value.size() + 2);
    quoted += u'\'';
    for (const QChar c : value) {
        if (c == u'\'')
            quoted += u'\'';
        quoted += c;
    }
    quoted += u'\'';
    return quoted;
}

QString writeStatement(const Statement &statement)
{
    if (statement.conditions.empty())
        return "select * from "_L1 + statement.table;
    QString text = "select * from "_L1 + statement.table + " where "_L1;
    bool first = true;
    for (const Condition &condition : statement.conditions) {
        if (!first)
            text += " and "_L1;
        first = false;
        text += condition.field;
        switch (condition.op) {
        case Operator::Equal:
            text += " = "_L1;
            break;
        case Operator::NotEqual:
            text += " <> "_L1;
            break;
        case Operator::Like:
            text += " like "_L1;
            break;
        }
        if (const auto *number = std::get_if<Currency>(&condition.value))
            text += number->toPlainText();
        else
            text += quoteTextLiteral(std::get<QString>(condition.value));
    }
    return text;
}

} // namespace Merchalog
