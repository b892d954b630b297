#include "engine/jet/jetstream.h"

namespace Merchalog::JetStream {

void appendUint32(QByteArray &bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

std::uint32_t uint32At(const char *bytes)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | std::uint8_t(bytes[i]);
    return value;
}

void appendRecord(QByteArray &stream, Tag tag, const QByteArray &payload)
{
    stream.append(char(tag));
    appendUint32(stream, std::uint32_t(payload.size()));
    stream.append(payload);
}

std::optional<Record> readRecord(const QByteArray &bytes, qsizetype *position, bool *broken)
{
    const qsizetype at = *position;
    if (bytes.size() - at < 5)
        return std::nullopt;
    const Tag tag = Tag(bytes.at(at));
    switch (tag) {
    case Tag::Version: case Tag::TableName: case Tag::Table: case Tag::Column: case Tag::Row: case Tag::DamagedRow:
    case Tag::TableEnd: case Tag::Failure: case Tag::End:
        break;
    default:
        *broken = true;
        return std::nullopt;
    }
    const std::uint32_t length = uint32At(bytes.constData() + at + 1);
    if (length > maxRecord) {
        *broken = true;
        return std::nullopt;
    }
    if (bytes.size() - at - 5 < qsizetype(length))
        return std::nullopt;
    *position = at + 5 + qsizetype(length);
    return Record{tag, bytes.mid(at + 5, qsizetype(length))};
}

} // namespace Merchalog::JetStream
