// The CSV export's text handling: Shift_JIS output is always well formed and reads back as
// the text written, one character for each character, and exactly the characters counted as
// replaced read back as something else; a data line always splits back into its eleven
// items, text items exactly as stored.
//
// The first input byte chooses the check; the rest is read as UTF-16 code units.

#include "engine/files/csvformat.h"

#include "fuzzcheck.h"

#include <QStringDecoder>

#include <cstdint>
#include <optional>

using namespace Merchalog;
using namespace Qt::StringLiterals;

namespace {

bool isLead(quint8 b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrail(quint8 b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Checks the byte structure of code page 932 text.
bool wellFormed(const QByteArray &bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const quint8 b = quint8(bytes[i]);
        if (isLead(b)) {
            if (i + 1 >= bytes.size() || !isTrail(quint8(bytes[i + 1])))
                return false;
            ++i;
        } else if (b >= 0x80 && !(b >= 0xA1 && b <= 0xDF)) {
            return false;
        }
    }
    return true;
}

qsizetype codePoints(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return count;
}

QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-31j");
    QString text = decoder.decode(bytes);
    FUZZ_CHECK(!decoder.hasError(), QString::fromLatin1(bytes.toHex(' ')));
    // The platform's decoder swaps three control codes the IBM way (1A, 1C, 7F); the Microsoft
    // table, which the export writes, keeps them as they are.
    for (QChar &c : text) {
        if (c == QChar(0x1C))
            c = QChar(0x1A);
        else if (c == QChar(0x7F))
            c = QChar(0x1C);
        else if (c == QChar(0x1A))
            c = QChar(0x7F);
    }
    return text;
}

void checkText(const QString &text)
{
    QByteArray out;
    const qsizetype replaced = appendShiftJis(text, out);
    FUZZ_CHECK(wellFormed(out), QString::fromLatin1(out.toHex(' ')));
    const QString back = decode(out);
    FUZZ_CHECK(back.size() == codePoints(text), text);
    // Exactly the characters counted as replaced read back as something else.
    qsizetype differing = 0;
    for (qsizetype i = 0, j = 0; i < text.size(); ++i, ++j) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        if (pair || back[j] != text[i])
            ++differing;
        if (pair)
            ++i;
    }
    FUZZ_CHECK(differing == replaced, text);
}

// Splits one CSV line (CR LF at its end, quotes doubled inside quoted items).
std::optional<QStringList> splitLine(QStringView line, QList<bool> *quoted)
{
    if (!line.endsWith(u"\r\n"))
        return std::nullopt;
    line.chop(2);
    QStringList items;
    qsizetype i = 0;
    while (true) {
        QString item;
        bool isQuoted = false;
        if (i < line.size() && line[i] == u'"') {
            isQuoted = true;
            ++i;
            while (true) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == u'"') {
                    if (i + 1 < line.size() && line[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += line[i++];
            }
        } else {
            while (i < line.size() && line[i] != u',')
                item += line[i++];
        }
        items << item;
        quoted->append(isQuoted);
        if (i >= line.size())
            break;
        if (line[i] != u',')
            return std::nullopt;
        ++i;
    }
    return items;
}

void checkLine(const QString &input)
{
    // Eleven pieces separated by U+0001; U+0002 alone stands for an empty value.
    QStringList pieces = input.split(QChar(1));
    while (pieces.size() < 11)
        pieces << QString();
    Row row;
    QStringList expected;
    QList<bool> expectQuoted;
    bool anyReplaced = false;
    for (int i = 0; i < 11; ++i) {
        const QString &piece = pieces.at(i);
        const bool text = i == 0 || i == 7;
        if (piece == QStringView(u"\u0002")) {
            row << QVariant();
            expected << QStringLiteral("#NULL#");
            expectQuoted << false;
        } else if (text) {
            row << QVariant(piece);
            QByteArray scratch;
            anyReplaced = anyReplaced || appendShiftJis(piece, scratch) > 0;
            expected << piece;
            expectQuoted << true;
        } else if (i == 6) {
            const int value = piece.size() > 0 ? int(piece.at(0).unicode()) - 32768 : 0;
            row << QVariant(value);
            expected << QString::number(value);
            expectQuoted << false;
        } else {
            const std::optional<Currency> value = Currency::parse(piece);
            if (value) {
                row << QVariant::fromValue(*value);
                expected << value->toExportText();
            } else {
                row << QVariant();
                expected << QStringLiteral("#NULL#");
            }
            expectQuoted << false;
        }
    }

    ProductCsvFormatter formatter({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    QByteArray out;
    formatter.appendRow(row, out);
    FUZZ_CHECK(wellFormed(out), QString::fromLatin1(out.toHex(' ')));
    FUZZ_CHECK((formatter.replacedCharacters() > 0) == anyReplaced, input);
    if (anyReplaced)
        return;
    QList<bool> quoted;
    const std::optional<QStringList> items = splitLine(decode(out), &quoted);
    FUZZ_CHECK(items.has_value(), input);
    FUZZ_CHECK(*items == expected, items->join(u'|') + u" != "_s + expected.join(u'|'));
    FUZZ_CHECK(quoted == expectQuoted, input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString text(reinterpret_cast<const QChar *>(data + 1), qsizetype((size - 1) / 2));
    if (data[0] & 1)
        checkLine(text);
    else
        checkText(text);
    return 0;
}
