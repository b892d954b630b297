// Like matching agrees with a slow reference written straight from the pattern rules, on text
// folded by a second, table-free folding built on Qt's Unicode data. The input is the pattern,
// a line feed, and the text. Run with -timeout so that a slow match counts as a failure.

#include "engine/statements/likefunction.h"

#include "fuzzcheck.h"

#include <QList>

#include <cstdint>
#include <optional>
#include <vector>

using namespace Merchalog;

namespace {

bool isVoicingMark(char32_t c)
{
    return c == 0xFF9E || c == 0xFF9F;
}

// One character folded on its own, from the Unicode compatibility mappings.
char32_t referenceFoldOne(char32_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E) // full-width ASCII: its compatibility form is the ASCII character
        c = QChar::decomposition(c).at(0).unicode();
    else if (c == 0x3000)
        c = u' ';
    else if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) // hiragana
        c += 0x60;
    else if (c == 0xFF9E) // a voicing mark on its own is the spacing mark
        c = 0x309B;
    else if (c == 0xFF9F)
        c = 0x309C;
    else if (c >= 0xFF61 && c <= 0xFF9D) // half-width katakana and punctuation
        c = QChar::decomposition(c).at(0).unicode();
    if (c >= u'A' && c <= u'Z')
        c += 0x20;
    return c;
}

// A half-width kana with a following voicing mark, composed the way Unicode composes the kana
// with the combining mark; nullopt when Unicode has no such character.
std::optional<char32_t> referenceCombine(char32_t kana, char32_t mark)
{
    if (!(kana >= 0xFF61 && kana <= 0xFF9D) || !isVoicingMark(mark))
        return std::nullopt;
    const char32_t base = referenceFoldOne(kana);
    const char32_t combining = mark == 0xFF9E ? 0x3099 : 0x309A;
    QString pair;
    pair += QChar(char16_t(base));
    pair += QChar(char16_t(combining));
    const QString composed = pair.normalized(QString::NormalizationForm_C);
    if (composed.size() != 1)
        return std::nullopt;
    return composed.at(0).unicode();
}

std::vector<char32_t> codePoints(const QString &text)
{
    const QList<uint> ucs4 = text.toUcs4();
    return {ucs4.begin(), ucs4.end()};
}

// Reads the folded literal at raw[i] (a kana with its voicing mark is one), advancing i past it.
char32_t literalAt(const std::vector<char32_t> &raw, size_t &i)
{
    if (i + 1 < raw.size()) {
        if (const auto combined = referenceCombine(raw[i], raw[i + 1])) {
            i += 2;
            return *combined;
        }
    }
    return referenceFoldOne(raw[i++]);
}

std::vector<char32_t> referenceFold(const std::vector<char32_t> &raw)
{
    std::vector<char32_t> out;
    for (size_t i = 0; i < raw.size();)
        out.push_back(literalAt(raw, i));
    return out;
}

// Matching by recursion over (pattern position, text position), with every answer remembered.
class ReferenceMatcher final
{
public:
    ReferenceMatcher(std::vector<char32_t> pattern, std::vector<char32_t> text)
        : m_pattern(std::move(pattern)), m_text(std::move(text)),
          m_memo((m_pattern.size() + 1) * (m_text.size() + 1), -1)
    {
    }

    // nullopt when a "[" has no "]".
    std::optional<bool> matches()
    {
        for (size_t i = 0; i < m_pattern.size(); ++i) {
            if (m_pattern[i] == u'[') {
                const size_t close = closeOf(i);
                if (close == size_t(-1))
                    return std::nullopt;
                i = close;
            }
        }
        return match(0, 0);
    }

private:
    size_t closeOf(size_t open) const
    {
        size_t i = open + 1;
        if (i < m_pattern.size() && m_pattern[i] == u'!')
            ++i;
        for (; i < m_pattern.size(); ++i) {
            if (m_pattern[i] == u']')
                return i;
        }
        return size_t(-1);
    }

    bool inBrackets(size_t open, size_t close, char32_t c) const
    {
        size_t i = open + 1;
        bool negated = false;
        if (m_pattern[i] == u'!') {
            negated = true;
            ++i;
        }
        bool found = false;
        while (i < close) {
            const char32_t low = literalAt(m_pattern, i);
            char32_t high = low;
            if (i + 1 < close && m_pattern[i] == u'-') {
                ++i;
                high = literalAt(m_pattern, i);
            }
            if (low <= c && c <= high)
                found = true;
        }
        return found != negated;
    }

    bool match(size_t p, size_t t)
    {
        signed char &memo = m_memo[p * (m_text.size() + 1) + t];
        if (memo >= 0)
            return memo;
        const bool atEnd = t == m_text.size();
        bool result;
        if (p == m_pattern.size()) {
            result = atEnd;
        } else if (m_pattern[p] == u'*') {
            result = match(p + 1, t) || (!atEnd && match(p, t + 1));
        } else if (m_pattern[p] == u'?') {
            result = !atEnd && match(p + 1, t + 1);
        } else if (m_pattern[p] == u'#') {
            result = !atEnd && m_text[t] >= u'0' && m_text[t] <= u'9' && match(p + 1, t + 1);
        } else if (m_pattern[p] == u'[') {
            const size_t close = closeOf(p);
            const bool empty = close == p + 1;
            if (empty) // "[]" stands for nothing
                result = match(close + 1, t);
            else
                result = !atEnd && inBrackets(p, close, m_text[t]) && match(close + 1, t + 1);
        } else {
            size_t next = p;
            const char32_t literal = literalAt(m_pattern, next);
            result = !atEnd && m_text[t] == literal && match(next, t + 1);
        }
        memo = result ? 1 : 0;
        return result;
    }

    std::vector<char32_t> m_pattern;
    std::vector<char32_t> m_text;
    std::vector<signed char> m_memo;
};

// Character by character: QString::fromUcs4 would take a leading U+FEFF for a byte-order mark
// and drop it.
QString fromCodePoints(const std::vector<char32_t> &points)
{
    QString text;
    for (const char32_t c : points) {
        if (QChar::requiresSurrogates(c)) {
            text += QChar(QChar::highSurrogate(c));
            text += QChar(QChar::lowSurrogate(c));
        } else {
            text += QChar(char16_t(c));
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray patternBytes = split < 0 ? input : input.left(split);
    const QByteArray textBytes = split < 0 ? QByteArray() : input.mid(split + 1);
    const QString pattern = QString::fromUtf8(patternBytes);
    const QString text = QString::fromUtf8(textBytes);

    const std::vector<char32_t> foldedText = referenceFold(codePoints(text));
    FUZZ_CHECK(foldForComparison(text) == fromCodePoints(foldedText), text);

    const auto compiled = LikePattern::compile(pattern);
    ReferenceMatcher reference(codePoints(pattern), foldedText);
    const auto expected = reference.matches();
    FUZZ_CHECK(compiled.has_value() == expected.has_value(), pattern);
    if (!compiled)
        return 0;

    const bool matched = compiled->matches(text);
    FUZZ_CHECK(matched == *expected,
               QStringLiteral("pattern ") + pattern + QStringLiteral(" text ") + text
                       + (matched ? QStringLiteral(" matched") : QStringLiteral(" did not match")));

    const QByteArray utf8 = text.toUtf8();
    FUZZ_CHECK(compiled->matchesUtf8(utf8.constData(), int(utf8.size())) == matched, text);
    // SQLite hands over whatever bytes a row holds; well-formed ones read the same as the text.
    if (QString::fromUtf8(textBytes).toUtf8() == textBytes)
        FUZZ_CHECK(compiled->matchesUtf8(textBytes.constData(), int(textBytes.size())) == matched, text);
    else
        compiled->matchesUtf8(textBytes.constData(), int(textBytes.size()));

    return 0;
}
