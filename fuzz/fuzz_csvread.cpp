// The CSV import's reader on any bytes: every input is read to its end (or refused with a
// reason) without a crash or a hang, and what it reads, written back by the CSV writer in
// the same encoding and read again, gives the same fields.
#include "engine/csv/csvreader.h"

#include "fuzzcheck.h"

#include <QBuffer>

#include <cstdint>

using namespace Merchalog;

namespace {

struct Read
{
    TextEncoding encoding = TextEncoding::Utf8;
    QList<QStringList> records;
};

Read readAll(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    CsvReader reader(&buffer);
    FUZZ_CHECK(reader.start(), reader.errorString());
    Read read;
    read.encoding = reader.encoding();
    CsvRecord record;
    qint64 row = 0;
    while (reader.next(record)) {
        FUZZ_CHECK(record.row == ++row, QString::number(record.row));
        FUZZ_CHECK(record.fieldCount == record.fields.size() || record.problem == CsvProblem::TooLong,
                   QString::number(record.fieldCount));
        read.records << record.fields;
    }
    FUZZ_CHECK(reader.errorString().isEmpty(), reader.errorString());
    // No record without a character of the input behind it.
    FUZZ_CHECK(read.records.size() <= bytes.size(), QString::number(read.records.size()));
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const Read first = readAll(input);

    QByteArray written = byteOrderMarkBytes(first.encoding);
    qsizetype replaced = 0;
    for (const QStringList &fields : first.records)
        replaced += appendCsvRecord(fields, first.encoding, written);
    const Read second = readAll(written);
    // Code page 932 bytes can happen to be UTF-8 too, and then read as such; and a character
    // the code page lacks (an undecodable place read as U+FFFD) cannot come back.
    if (second.encoding != first.encoding || replaced > 0)
        return 0;
    FUZZ_CHECK(second.records == first.records,
               QString::number(first.records.size()) + QStringLiteral(" records, then ")
                   + QString::number(second.records.size()));
    return 0;
}
