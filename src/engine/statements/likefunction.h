#pragma once

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

struct sqlite3;

namespace Merchalog {

// A compiled like pattern: "*" any run, "?" one character, "#" one digit, "[list]",
// "[!list]" and ranges "[a-z]" one character; every other character (also "%" and "_")
// stands for itself. Comparison ignores letter case, full-width/half-width and
// hiragana/katakana differences; voiced and unvoiced kana stay different.
// Matching takes time proportional to pattern length times text length at worst.
class LikePattern final
{
public:
    // Returns nullopt for a pattern with an unclosed "[".
    static std::optional<LikePattern> compile(QStringView pattern);

    bool matches(QStringView text) const;
    // The same on UTF-8 text as SQLite hands it over.
    bool matchesUtf8(const char *text, int length) const;

    // The pattern for a database that holds the folded text itself (foldForComparison) and
    // compares it character by character: like is a LIKE pattern (a backslash escapes) that every
    // matching text matches; where "#" or "[...]" make that too loose, regex is a POSIX
    // regular expression that matches exactly the texts this pattern matches (empty when
    // like alone is exact). never: no text matches at all.
    struct SqlForms
    {
        QString like;
        QString regex;
        bool never = false;
    };
    SqlForms sqlForms() const;
    // For a pattern of one literal run between two stars ("*abc*"): that run, folded;
    // otherwise empty.
    QString containedRun() const;

    LikePattern(const LikePattern &);
    LikePattern &operator=(const LikePattern &);
    LikePattern(LikePattern &&) noexcept;
    LikePattern &operator=(LikePattern &&) noexcept;
    ~LikePattern();

private:
    struct Impl;
    LikePattern();
    std::unique_ptr<Impl> d;
};

// Folds a text for comparison: lower case, half-width forms, katakana for hiragana,
// half-width katakana with a following voicing mark as one full-width character.
QString foldForComparison(QStringView text);

// Decodes stored UTF-8 text as the like and fold functions read it: every byte that does
// not start a well-formed sequence reads as one U+FFFD.
QString decodeStoredText(const char *text, int length);

// Registers on a connection, callable from the program's own statements only:
//   merch_like(pattern, value) -> 1 when the text value matches, 0 otherwise, NULL for NULL;
//   merch_fold(value)          -> the folded text (of a text or blob);
//   merch_numtext(units)       -> the display text of a number held as ten-thousandths
//                                 (any other value as it is);
//   merch_numkey(value)        -> for a stored REAL, TEXT or BLOB, the number its text reads
//                                 as (ten-thousandths, as a typed number key), else NULL.
// The compiled pattern is cached per statement.
bool registerLikeFunctions(sqlite3 *db);

} // namespace Merchalog
