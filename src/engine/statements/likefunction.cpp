#include "engine/statements/likefunction.h"

#include "engine/kinds/number.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Merchalog {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;
constexpr char32_t halfWidthVoicedMark = 0xFF9E;
constexpr char32_t halfWidthSemiVoicedMark = 0xFF9F;

// Full-width forms of the half-width katakana block U+FF61..U+FF9F.
constexpr char16_t halfWidthKana[] = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ',
    u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ',
    u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ',
    u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ',
    u'ン', u'゛', u'゜',
};
static_assert(std::size(halfWidthKana) == 0xFF9F - 0xFF61 + 1);

bool isHalfWidthKana(char32_t c)
{
    return c >= 0xFF61 && c <= 0xFF9F;
}

// The full-width katakana that a half-width voicing mark turns kana into, or 0 when that
// kana has no voiced form.
char32_t withVoicingMark(char32_t kana, char32_t mark)
{
    const bool haToHo = kana >= u'ハ' && kana <= u'ホ' && (kana - u'ハ') % 3 == 0;
    if (mark == halfWidthSemiVoicedMark)
        return haToHo ? kana + 2 : 0;
    if ((kana >= u'カ' && kana <= u'チ' && kana % 2 == 1) || (kana >= u'ツ' && kana <= u'ト' && kana % 2 == 0)
        || haToHo)
        return kana + 1;
    switch (kana) {
    case u'ウ':
        return u'ヴ';
    case u'ワ':
        return u'ヷ';
    case u'ヲ':
        return u'ヺ';
    default:
        return 0;
    }
}

// Folds one character on its own; half-width kana with a following voicing mark are
// combined by the callers.
inline char32_t foldCharacter(char32_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? c + 0x20 : c;
    if (c >= 0xFF01 && c <= 0xFF5E) {
        c -= 0xFEE0;
        return c >= u'A' && c <= u'Z' ? c + 0x20 : c;
    }
    if (c == 0x3000)
        return u' ';
    if ((c >= u'ぁ' && c <= u'ゖ') || c == u'ゝ' || c == u'ゞ')
        return c + 0x60;
    if (isHalfWidthKana(c))
        return halfWidthKana[c - 0xFF61];
    return c;
}

// Reads code points from UTF-16, keeping a lone surrogate as it is.
class Utf16Reader final
{
public:
    explicit Utf16Reader(QStringView text)
        : m_p(text.utf16()), m_end(text.utf16() + text.size())
    {
    }

    bool next(char32_t &c)
    {
        if (m_p == m_end)
            return false;
        c = *m_p++;
        if (c >= 0xD800 && c <= 0xDBFF && m_p != m_end && *m_p >= 0xDC00 && *m_p <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (*m_p++ - 0xDC00);
        return true;
    }

private:
    const char16_t *m_p;
    const char16_t *m_end;
};

// Reads code points from UTF-8; every byte that does not start a well-formed sequence
// reads as one U+FFFD.
class Utf8Reader final
{
public:
    Utf8Reader(const char *text, int length)
        : m_p(reinterpret_cast<const unsigned char *>(text)), m_end(m_p + std::max(length, 0))
    {
    }

    bool next(char32_t &c)
    {
        if (m_p == m_end)
            return false;
        const unsigned char b = *m_p;
        if (b < 0x80) {
            c = b;
            ++m_p;
            return true;
        }
        int extra;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            min = 0x80;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            min = 0x800;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            min = 0x10000;
            c = b & 0x07;
        } else {
            c = replacementCharacter;
            ++m_p;
            return true;
        }
        if (m_end - m_p <= extra) {
            c = replacementCharacter;
            ++m_p;
            return true;
        }
        for (int i = 1; i <= extra; ++i) {
            const unsigned char t = m_p[i];
            if ((t & 0xC0) != 0x80) {
                c = replacementCharacter;
                ++m_p;
                return true;
            }
            c = (c << 6) | (t & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = replacementCharacter;
            ++m_p;
            return true;
        }
        m_p += extra + 1;
        return true;
    }

private:
    const unsigned char *m_p;
    const unsigned char *m_end;
};

// Decodes and folds a whole text, combining half-width kana with a following voicing mark.
// Writes at most one character per code unit read, so out needs room for the text's length.
template<typename Reader>
size_t foldText(Reader reader, char32_t *out)
{
    char32_t *const begin = out;
    char32_t c;
    bool have = reader.next(c);
    while (have) {
        if (c < 0x80) {
            *out++ = c >= u'A' && c <= u'Z' ? c + 0x20 : c;
            have = reader.next(c);
            continue;
        }
        const char32_t folded = foldCharacter(c);
        if (isHalfWidthKana(c)) {
            char32_t following;
            have = reader.next(following);
            if (have && (following == halfWidthVoicedMark || following == halfWidthSemiVoicedMark)) {
                if (const char32_t combined = withVoicingMark(folded, following)) {
                    *out++ = combined;
                    have = reader.next(c);
                    continue;
                }
            }
            *out++ = folded;
            c = following;
            continue;
        }
        *out++ = folded;
        have = reader.next(c);
    }
    return size_t(out - begin);
}

// Folds into a buffer kept per thread, so that matching row after row allocates nothing.
template<typename Reader>
std::u32string_view foldIntoBuffer(Reader reader, size_t maxLength)
{
    thread_local std::vector<char32_t> buffer;
    if (buffer.size() < maxLength)
        buffer.resize(std::max(maxLength, size_t(256)));
    return std::u32string_view(buffer.data(), foldText(reader, buffer.data()));
}

void appendUtf16(QString &out, char32_t c)
{
    if (c >= 0x10000) {
        out += QChar(char16_t(0xD800 + ((c - 0x10000) >> 10)));
        out += QChar(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out += QChar(char16_t(c));
    }
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

struct LikePattern::Impl
{
    enum class Kind : unsigned char { Literal, AnyOne, Digit, Set, AnyRun };

    struct Token
    {
        Kind kind;
        bool negated = false;
        char32_t literal = 0;
        unsigned setBegin = 0; // index range into ranges
        unsigned setEnd = 0;
    };

    // The shapes that a plain search takes, matched without the general loop.
    enum class Shape : unsigned char { General, Exact, Contains };

    std::vector<Token> tokens;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    Shape shape = Shape::General;
    std::u32string literalRun; // Exact and Contains: the folded literal

    bool matchesOne(const Token &token, char32_t c) const
    {
        switch (token.kind) {
        case Kind::Literal:
            return token.literal == c;
        case Kind::AnyOne:
            return true;
        case Kind::Digit:
            return c >= u'0' && c <= u'9';
        case Kind::Set: {
            bool inList = false;
            for (unsigned i = token.setBegin; i < token.setEnd; ++i) {
                if (c >= ranges[i].first && c <= ranges[i].second) {
                    inList = true;
                    break;
                }
            }
            return inList != token.negated;
        }
        case Kind::AnyRun:
            break;
        }
        return false;
    }

    // Every token but "*" takes exactly one character, so a failure after a "*" only ever
    // needs to retry from the latest "*" with one more character given to it: at most
    // pattern length times text length steps, never exponential.
    bool matchFolded(std::u32string_view text) const
    {
        switch (shape) {
        case Shape::Exact:
            return text == literalRun;
        case Shape::Contains:
            return text.find(literalRun) != std::u32string::npos;
        case Shape::General:
            break;
        }

        const size_t n = text.size();
        const size_t m = tokens.size();
        size_t t = 0;
        size_t p = 0;
        size_t starP = size_t(-1);
        size_t starT = 0;
        while (t < n) {
            if (p < m && tokens[p].kind == Kind::AnyRun) {
                starP = ++p;
                starT = t;
            } else if (p < m && matchesOne(tokens[p], text[t])) {
                ++p;
                ++t;
            } else if (starP != size_t(-1)) {
                p = starP;
                t = ++starT;
            } else {
                return false;
            }
        }
        while (p < m && tokens[p].kind == Kind::AnyRun)
            ++p;
        return p == m;
    }
};

LikePattern::LikePattern() : d(std::make_unique<Impl>()) {}
LikePattern::LikePattern(const LikePattern &other) : d(std::make_unique<Impl>(*other.d)) {}
LikePattern &LikePattern::operator=(const LikePattern &other)
{
    if (this != &other)
        d = std::make_unique<Impl>(*other.d);
    return *this;
}
LikePattern::LikePattern(LikePattern &&) noexcept = default;
LikePattern &LikePattern::operator=(LikePattern &&) noexcept = default;
LikePattern::~LikePattern() = default;

std::optional<LikePattern> LikePattern::compile(QStringView pattern)
{
    std::u32string raw;
    raw.reserve(size_t(pattern.size()));
    {
        Utf16Reader reader(pattern);
        char32_t c;
        while (reader.next(c))
            raw.push_back(c);
    }

    LikePattern compiled;
    Impl &impl = *compiled.d;
    const size_t size = raw.size();
    impl.tokens.reserve(size);

    // Reads one character that stands for itself, folded, joining a half-width kana with a
    // voicing mark right after it.
    auto literalAt = [&](size_t &i) {
        const char32_t c = raw[i++];
        const char32_t folded = foldCharacter(c);
        if (isHalfWidthKana(c) && i < size
            && (raw[i] == halfWidthVoicedMark || raw[i] == halfWidthSemiVoicedMark)) {
            if (const char32_t combined = withVoicingMark(folded, raw[i])) {
                ++i;
                return combined;
            }
        }
        return folded;
    };

    size_t i = 0;
    while (i < size) {
        const char32_t c = raw[i];
        Impl::Token token{Impl::Kind::Literal};
        if (c == u'*') {
            ++i;
            // A run of stars means the same as one.
            if (!impl.tokens.empty() && impl.tokens.back().kind == Impl::Kind::AnyRun)
                continue;
            token.kind = Impl::Kind::AnyRun;
        } else if (c == u'?') {
            ++i;
            token.kind = Impl::Kind::AnyOne;
        } else if (c == u'#') {
            ++i;
            token.kind = Impl::Kind::Digit;
        } else if (c == u'[') {
            ++i;
            token.kind = Impl::Kind::Set;
            if (i < size && raw[i] == u'!') {
                token.negated = true;
                ++i;
            }
            token.setBegin = unsigned(impl.ranges.size());
            // Inside brackets every character stands for itself, "*", "?" and "#" included;
            // "-" between two characters makes a range, at either end it is itself.
            while (i < size && raw[i] != u']') {
                const char32_t low = literalAt(i);
                char32_t high = low;
                if (i + 1 < size && raw[i] == u'-' && raw[i + 1] != u']') {
                    ++i;
                    high = literalAt(i);
                }
                // A range written high to low holds nothing.
                if (low <= high)
                    impl.ranges.emplace_back(low, high);
                else
                    impl.ranges.emplace_back(1, 0);
            }
            if (i == size)
                return std::nullopt;
            ++i; // the "]"
            token.setEnd = unsigned(impl.ranges.size());
            // "[]" stands for no character at all.
            if (token.setBegin == token.setEnd && !token.negated)
                continue;
        } else {
            token.literal = literalAt(i);
        }
        impl.tokens.push_back(token);
    }

    // Plain searches: a literal alone, or a literal between two stars.
    const auto &tokens = impl.tokens;
    const auto isLiteral = [](const Impl::Token &t) { return t.kind == Impl::Kind::Literal; };
    if (std::all_of(tokens.begin(), tokens.end(), isLiteral)) {
        impl.shape = Impl::Shape::Exact;
    } else if (tokens.size() >= 3 && tokens.front().kind == Impl::Kind::AnyRun
               && tokens.back().kind == Impl::Kind::AnyRun
               && std::all_of(tokens.begin() + 1, tokens.end() - 1, isLiteral)) {
        impl.shape = Impl::Shape::Contains;
    }
    if (impl.shape != Impl::Shape::General) {
        for (const auto &token : tokens) {
            if (token.kind == Impl::Kind::Literal)
                impl.literalRun.push_back(token.literal);
        }
    }
    return compiled;
}

bool LikePattern::matches(QStringView text) const
{
    return d->matchFolded(foldIntoBuffer(Utf16Reader(text), size_t(text.size())));
}

bool LikePattern::matchesUtf8(const char *text, int length) const
{
    return d->matchFolded(foldIntoBuffer(Utf8Reader(text, length), size_t(std::max(length, 0))));
}

namespace {

// One character of a regular expression: ASCII letters and digits as themselves, every other
// character as a fixed-length escape, so that nothing in it is ever read as an operator.
void appendRegexCharacter(QString &out, char32_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
        out += QChar(char16_t(c));
        return;
    }
    if (c <= 0xFFFF)
        out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    else
        out += QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
}

} // namespace

LikePattern::SqlForms LikePattern::sqlForms() const
{
    SqlForms forms;
    const auto &tokens = d->tokens;
    bool exactInLike = true;
    for (const auto &token : tokens) {
        switch (token.kind) {
        case Impl::Kind::Literal:
            if (token.literal == u'%' || token.literal == u'_' || token.literal == u'\\')
                forms.like += u'\\';
            appendUtf16(forms.like, token.literal);
            break;
        case Impl::Kind::AnyOne:
            forms.like += u'_';
            break;
        case Impl::Kind::Digit:
        case Impl::Kind::Set:
            forms.like += u'_';
            exactInLike = false;
            break;
        case Impl::Kind::AnyRun:
            forms.like += u'%';
            break;
        }
    }
    if (exactInLike)
        return forms;

    QString &regex = forms.regex;
    if (tokens.empty() || tokens.front().kind != Impl::Kind::AnyRun)
        regex += u'^';
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto &token = tokens[i];
        switch (token.kind) {
        case Impl::Kind::Literal:
            appendRegexCharacter(regex, token.literal);
            break;
        case Impl::Kind::AnyOne:
            regex += u'.';
            break;
        case Impl::Kind::Digit:
            regex += QLatin1StringView("[0-9]");
            break;
        case Impl::Kind::Set: {
            QString list;
            for (unsigned r = token.setBegin; r < token.setEnd; ++r) {
                const auto [low, high] = d->ranges[r];
                if (low > high)
                    continue; // a range written high to low holds nothing
                appendRegexCharacter(list, low);
                if (high != low) {
                    list += u'-';
                    appendRegexCharacter(list, high);
                }
            }
            if (list.isEmpty()) {
                // Nothing listed: a negated list takes any character, a plain one none.
                if (!token.negated) {
                    forms.never = true;
                    return forms;
                }
                regex += u'.';
            } else {
                regex += (token.negated ? QLatin1StringView("[^") : QLatin1StringView("[")) + list + u']';
            }
            break;
        }
        case Impl::Kind::AnyRun:
            if (i != 0 && i + 1 != tokens.size())
                regex += QLatin1StringView(".*");
            break;
        }
    }
    if (tokens.empty() || tokens.back().kind != Impl::Kind::AnyRun)
        regex += u'$';
    return forms;
}

QString LikePattern::containedRun() const
{
    QString run;
    if (d->shape == Impl::Shape::Contains) {
        for (const char32_t c : d->literalRun)
            appendUtf16(run, c);
    }
    return run;
}

QString foldForComparison(QStringView text)
{
    const std::u32string_view folded = foldIntoBuffer(Utf16Reader(text), size_t(text.size()));
    QString out;
    out.reserve(qsizetype(folded.size()));
    for (const char32_t c : folded)
        appendUtf16(out, c);
    return out;
}

namespace {

const char *valueText(sqlite3_value *value, int *length)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
    *length = sqlite3_value_bytes(value);
    return text;
}

void likeFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL || sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }

    int valueLength = 0;
    const char *value = valueText(arguments[1], &valueLength);
    if (!value) {
        sqlite3_result_error_nomem(context);
        return;
    }

    // The pattern is nearly always a constant of the statement: compile it on the first row
    // and keep it with the statement for the rows after.
    if (const auto *cached = static_cast<const LikePattern *>(sqlite3_get_auxdata(context, 0))) {
        sqlite3_result_int(context, cached->matchesUtf8(value, valueLength) ? 1 : 0);
        return;
    }
    int patternLength = 0;
    const char *patternText = valueText(arguments[0], &patternLength);
    auto compiled = LikePattern::compile(QString::fromUtf8(patternText, patternLength));
    if (!compiled) {
        sqlite3_result_error(context, "unclosed [ in like pattern", -1);
        return;
    }
    auto *pattern = new LikePattern(std::move(*compiled));
    sqlite3_result_int(context, pattern->matchesUtf8(value, valueLength) ? 1 : 0);
    // SQLite may free the pattern at once, so it is not used after this call.
    sqlite3_set_auxdata(context, 0, pattern, [](void *p) { delete static_cast<LikePattern *>(p); });
}

void foldFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    // Numbers hold nothing to fold; they stay as they are. A blob in a text field shows as
    // the text its bytes spell, so it is folded as that text.
    const int type = sqlite3_value_type(arguments[0]);
    if (type != SQLITE_TEXT && type != SQLITE_BLOB) {
        sqlite3_result_value(context, arguments[0]);
        return;
    }
    int length = 0;
    const char *text = valueText(arguments[0], &length);
    const std::u32string_view folded = foldIntoBuffer(Utf8Reader(text, length), size_t(length));
    std::string out;
    out.reserve(size_t(length));
    for (const char32_t c : folded)
        appendUtf8(out, c);
    sqlite3_result_text(context, out.data(), int(out.size()), SQLITE_TRANSIENT);
}

void numberTextFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) != SQLITE_INTEGER) {
        sqlite3_result_value(context, arguments[0]);
        return;
    }
    char text[Currency::maxTextLength];
    const int length = Currency::fromUnits(sqlite3_value_int64(arguments[0])).writePlainText(text);
    sqlite3_result_text(context, text, length, SQLITE_TRANSIENT);
}

void numberKeyFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    const int type = sqlite3_value_type(arguments[0]);
    if (type == SQLITE_NULL || type == SQLITE_INTEGER) {
        sqlite3_result_null(context);
        return;
    }
    int length = 0;
    const char *text = valueText(arguments[0], &length);
    if (const auto number = Currency::parse(decodeStoredText(text, length)))
        sqlite3_result_int64(context, number->units());
    else
        sqlite3_result_null(context);
}

} // namespace

QString decodeStoredText(const char *text, int length)
{
    QString out;
    out.reserve(std::max(length, 0));
    Utf8Reader reader(text, length);
    char32_t c;
    while (reader.next(c))
        appendUtf16(out, c);
    return out;
}

bool registerLikeFunctions(sqlite3 *db)
{
    // Callable only from the program's own statements: a view, trigger, index, check or
    // generated column in a catalogue file cannot reach them.
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY;
    return sqlite3_create_function_v2(db, "merch_like", 2, flags, nullptr, likeFunction, nullptr, nullptr, nullptr) == SQLITE_OK
            && sqlite3_create_function_v2(db, "merch_fold", 1, flags, nullptr, foldFunction, nullptr, nullptr, nullptr) == SQLITE_OK
            && sqlite3_create_function_v2(db, "merch_numtext", 1, flags, nullptr, numberTextFunction, nullptr, nullptr, nullptr) == SQLITE_OK
            && sqlite3_create_function_v2(db, "merch_numkey", 1, flags, nullptr, numberKeyFunction, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace Merchalog
