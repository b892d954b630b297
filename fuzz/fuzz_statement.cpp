// The statement parser never crashes; what it accepts writes back to text that parses to the
// same statement, and what it refuses comes with a message.

#include "engine/statements/likefunction.h"
#include "engine/statements/statement.h"

#include "fuzzcheck.h"

#include <cstdint>

using namespace Merchalog;

namespace {

bool isIdentifier(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        if (!letter && !(i > 0 && c >= u'0' && c <= u'9'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const auto statement = parseStatement(text);
    if (!statement) {
        FUZZ_CHECK(!statement.status().message().isEmpty(), text);
        return 0;
    }
    FUZZ_CHECK(statement.status().ok(), text);
    FUZZ_CHECK(isIdentifier(statement->table), text);
    FUZZ_CHECK(!text.contains(QChar(0)), text);
    for (const Condition &condition : statement->conditions) {
        FUZZ_CHECK(isIdentifier(condition.field), text);
        if (condition.op == Operator::Like) {
            if (const auto *pattern = std::get_if<QString>(&condition.value))
                FUZZ_CHECK(LikePattern::compile(*pattern).has_value(), text);
        }
    }

    const QString written = writeStatement(*statement);
    const auto again = parseStatement(written);
    FUZZ_CHECK(again.ok(), written + QStringLiteral(" : ") + again.status().message());
    FUZZ_CHECK(*again == *statement, text + QStringLiteral(" => ") + written);
    FUZZ_CHECK(writeStatement(*again) == written, written);

    // Blanks around the whole text change nothing.
    const QString padded = QStringLiteral(" \t") + written + QStringLiteral("\n ");
    const auto paddedStatement = parseStatement(padded);
    FUZZ_CHECK(paddedStatement && *paddedStatement == *statement, padded);
    return 0;
}
