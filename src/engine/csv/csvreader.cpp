#include "engine/csv/csvreader.h"

#include <QIODevice>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Bytes read (and decoded) at a time.
constexpr qint64 chunkSize = 256 * 1024;

QString readFailure(const QIODevice *device)
{
    const QString reason = device->errorString();
    return reason.isEmpty() ? u"ファイルを読み込めません。"_s : u"ファイルを読み込めません（%1）。"_s.arg(reason);
}

} // namespace

CsvReader::CsvReader(QIODevice *device)
    : m_device(device)
{
}

qint64 CsvReader::position() const
{
    return m_device->pos();
}

qint64 CsvReader::size() const
{
    return m_device->size();
}

// Reads the next bytes into m_chunk: their number, 0 at the end, -1 on a failure.
qint64 CsvReader::readChunk()
{
    // A small file needs no more than its size.
    if (m_chunk.isEmpty())
        m_chunk.resize(qsizetype(std::clamp<qint64>(m_device->size() + 1, 1, chunkSize)));
    const qint64 length = m_device->read(m_chunk.data(), m_chunk.size());
    if (length < 0)
        m_errorString = readFailure(m_device);
    return length;
}

bool CsvReader::detectEncoding()
{
    const QByteArray start = m_device->peek(4);
    if (const auto mark = byteOrderMark(start)) {
        m_encoding = mark->encoding;
        return m_device->skip(mark->length) == mark->length;
    }
    // Strict UTF-8 throughout, or else code page 932. A Shift_JIS file is usually told apart
    // within its first Japanese characters, so reading stops at the first byte that is not UTF-8.
    TextDecoder utf8(TextEncoding::Utf8);
    QString scratch;
    std::vector<qsizetype> invalid;
    m_encoding = TextEncoding::Utf8;
    while (true) {
        const qint64 length = readChunk();
        if (length < 0)
            return false;
        if (length == 0) {
            utf8.finish(scratch, invalid);
            break;
        }
        scratch.clear();
        utf8.decode(QByteArrayView(m_chunk.constData(), length), scratch, invalid);
        if (!invalid.empty())
            break;
    }
    if (!invalid.empty())
        m_encoding = TextEncoding::Cp932;
    return m_device->seek(0);
}

bool CsvReader::start()
{
    m_errorString.clear();
    if (m_device->isSequential()) {
        m_errorString = u"ファイルを読み込めません（先頭に戻れない入力です）。"_s;
        return false;
    }
    if (!m_device->seek(0) || !detectEncoding()) {
        if (m_errorString.isEmpty())
            m_errorString = readFailure(m_device);
        return false;
    }
    m_decoder = std::make_unique<TextDecoder>(m_encoding);
    m_buffer.clear();
    m_pos = 0;
    m_bufferStart = 0;
    m_invalid.clear();
    m_atEnd = false;
    m_afterCr = false;
    m_row = 0;
    return true;
}

// Replaces the read text by the next piece of the file; false at its end or on a failure.
bool CsvReader::fill()
{
    if (m_atEnd || !m_errorString.isEmpty())
        return false;
    m_bufferStart += m_buffer.size();
    m_buffer.clear();
    m_pos = 0;
    std::vector<qsizetype> invalid;
    while (m_buffer.isEmpty()) {
        const qint64 length = readChunk();
        if (length < 0)
            return false;
        if (length == 0) {
            m_decoder->finish(m_buffer, invalid);
            m_atEnd = true;
            break;
        }
        m_decoder->decode(QByteArrayView(m_chunk.constData(), length), m_buffer, invalid);
    }
    for (const qsizetype at : invalid)
        m_invalid.push_back(m_bufferStart + at);
    return !m_buffer.isEmpty();
}

bool CsvReader::next(CsvRecord &record)
{
    record.fields.clear();
    record.fieldCount = 0;
    record.problem = CsvProblem::None;

    if (m_afterCr) {
        if (m_pos >= m_buffer.size())
            fill();
        if (m_pos < m_buffer.size() && m_buffer.at(m_pos) == u'\n')
            ++m_pos;
        m_afterCr = false;
    }
    if (m_pos >= m_buffer.size() && !fill())
        return false;

    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    State state = State::FieldStart;
    QString field;
    bool quoted = false;
    qsizetype recordLength = 0;
    record.row = ++m_row;

    auto keep = [&](const char16_t *from, qsizetype length) {
        if (record.problem == CsvProblem::TooLong)
            return;
        if (recordLength + length > maxRecordLength) {
            record.problem = CsvProblem::TooLong;
            field.clear();
            return;
        }
        recordLength += length;
        field.append(reinterpret_cast<const QChar *>(from), length);
    };
    auto endField = [&] {
        if (record.fieldCount < maxFields) {
            if (!quoted && field == u"#NULL#")
                field.clear();
            record.fields.append(field);
        } else {
            record.problem = CsvProblem::TooLong;
        }
        ++record.fieldCount;
        field.clear();
        quoted = false;
        state = State::FieldStart;
    };
    auto endRecord = [&] {
        endField();
        // Undecodable places up to here belong to this record.
        const qint64 end = m_bufferStart + m_pos;
        while (!m_invalid.empty() && m_invalid.front() < end) {
            m_invalid.pop_front();
            if (record.problem == CsvProblem::None)
                record.problem = CsvProblem::Undecodable;
        }
        return true;
    };

    while (true) {
        if (m_pos >= m_buffer.size() && !fill()) {
            if (!m_errorString.isEmpty())
                return false;
            if (state == State::Quoted && record.problem == CsvProblem::None)
                record.problem = CsvProblem::BadQuote;
            return endRecord();
        }
        const char16_t *data = reinterpret_cast<const char16_t *>(m_buffer.constData());
        const qsizetype size = m_buffer.size();
        switch (state) {
        case State::FieldStart:
            if (data[m_pos] == u'"') {
                quoted = true;
                state = State::Quoted;
                ++m_pos;
            } else {
                state = State::Unquoted;
            }
            break;
        case State::Unquoted: {
            qsizetype end = m_pos;
            while (end < size && data[end] != u',' && data[end] != u'\r' && data[end] != u'\n')
                ++end;
            keep(data + m_pos, end - m_pos);
            m_pos = end;
            if (m_pos == size)
                break;
            const char16_t c = data[m_pos++];
            if (c == u',') {
                endField();
            } else {
                m_afterCr = c == u'\r';
                return endRecord();
            }
            break;
        }
        case State::Quoted: {
            qsizetype end = m_pos;
            while (end < size && data[end] != u'"')
                ++end;
            keep(data + m_pos, end - m_pos);
            m_pos = end;
            if (m_pos < size) {
                ++m_pos;
                state = State::QuoteInQuoted;
            }
            break;
        }
        case State::QuoteInQuoted: {
            const char16_t c = data[m_pos];
            if (c == u'"') {
                keep(data + m_pos, 1);
                ++m_pos;
                state = State::Quoted;
            } else if (c == u',') {
                ++m_pos;
                endField();
            } else if (c == u'\r' || c == u'\n') {
                ++m_pos;
                m_afterCr = c == u'\r';
                return endRecord();
            } else {
                // Text after the closing quote: the field is not what it seems. The rest is
                // taken as it stands, and the record is reported.
                if (record.problem == CsvProblem::None)
                    record.problem = CsvProblem::BadQuote;
                state = State::Unquoted;
            }
            break;
        }
        }
    }
}

} // namespace Merchalog
