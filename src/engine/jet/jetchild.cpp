// mdbtools.h includes glib.h inside its extern "C" block, where glib's C++ parts cannot be.
#include <glib.h>
#include <mdbtools.h>

#include "engine/jet/jetchild.h"

#include "engine/jet/jetstream.h"

#include <QFile>
#include <QStringDecoder>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace Merchalog::JetChild {

namespace {

using JetStream::Tag;
using JetStream::ValueState;

// Row offsets carry two flags: a deleted row, and a row moved to another page whose place
// keeps a pointer to it (the row there is marked deleted, so that a scan meets it once).
constexpr int deletedRow = 0x8000;
constexpr int movedRow = 0x4000;
constexpr int offsetMask = 0x1fff;
constexpr int maxMoves = 8;

std::uint32_t le32(const unsigned char *bytes)
{
    return JetStream::uint32At(reinterpret_cast<const char *>(bytes));
}

int le16(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8;
}

class Output
{
public:
    explicit Output(std::FILE *file) : m_file(file) { m_buffer.append(JetStream::magic, JetStream::magicLength); }
    ~Output() { flush(); }

    void record(Tag tag, const QByteArray &payload)
    {
        JetStream::appendRecord(m_buffer, tag, payload);
        if (m_buffer.size() > 256 * 1024)
            flush();
    }
    void flush()
    {
        if (!m_buffer.isEmpty())
            std::fwrite(m_buffer.constData(), 1, std::size_t(m_buffer.size()), m_file);
        std::fflush(m_file);
        m_buffer.clear();
    }

private:
    std::FILE *m_file;
    QByteArray m_buffer;
};

// Text as Jet keeps it: code page 932 in Jet 3 (Japanese Windows), UTF-16LE in Jet 4, there
// also in the compressed form (FF FE, then one byte per character below U+0100, a zero byte
// switching to two bytes per character and back). Anything else is not text.
std::optional<QString> decodeText(const unsigned char *bytes, qsizetype size, bool jet3)
{
    if (jet3) {
        QStringDecoder decoder("windows-31j");
        QString text = decoder.decode(QByteArrayView(bytes, size));
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }
    QString text;
    if (size >= 2 && bytes[0] == 0xff && bytes[1] == 0xfe) {
        bool oneByte = true;
        for (qsizetype i = 2; i < size;) {
            if (bytes[i] == 0) {
                oneByte = !oneByte;
                ++i;
            } else if (oneByte) {
                text += QChar(char16_t(bytes[i++]));
            } else if (i + 1 < size) {
                text += QChar(char16_t(bytes[i] | bytes[i + 1] << 8));
                i += 2;
            } else {
                return std::nullopt;
            }
        }
    } else {
        if (size % 2 != 0)
            return std::nullopt;
        text.reserve(size / 2);
        for (qsizetype i = 0; i < size; i += 2)
            text += QChar(char16_t(bytes[i] | bytes[i + 1] << 8));
    }
    if (!QStringView(text).isValidUtf16())
        return std::nullopt;
    return text;
}

class Reader
{
public:
    Reader(MdbHandle *mdb, Output &out) : m_mdb(mdb), m_out(out), m_jet3(mdb->f->jet_version == MDB_VER_JET3) {}

    // Reads the system table MSysObjects for the names and definition pages of the user tables.
    bool readCatalogue()
    {
        MdbCatalogEntry entry{};
        entry.mdb = m_mdb;
        entry.object_type = MDB_TABLE;
        entry.table_pg = 2;
        std::strcpy(entry.object_name, "MSysObjects");
        MdbTableDef *table = mdb_read_table(&entry);
        if (!table || !mdb_read_columns(table))
            return fail(u"表の一覧（MSysObjects）を読めません。"_s);
        const int id = columnNamed(table, "Id");
        const int name = columnNamed(table, "Name");
        const int type = columnNamed(table, "Type");
        const int flags = columnNamed(table, "Flags");
        bool ok = id >= 0 && name >= 0 && type >= 0 && flags >= 0;
        if (ok) {
            ok = forEachRow(table, [&](const std::vector<MdbField> *fields) {
                if (!fields)
                    return true;
                const auto number = [&](int column, int size) -> std::optional<std::int32_t> {
                    const MdbField &field = (*fields)[std::size_t(column)];
                    if (field.is_null || field.siz != size)
                        return std::nullopt;
                    const auto *bytes = static_cast<const unsigned char *>(field.value);
                    return size == 2 ? std::int16_t(le16(bytes)) : std::int32_t(le32(bytes));
                };
                const MdbField &nameField = (*fields)[std::size_t(name)];
                const auto objectType = number(type, 2);
                const auto objectFlags = number(flags, 4);
                const auto page = number(id, 4);
                if (!objectType || *objectType != MDB_TABLE || !objectFlags || (*objectFlags & 0x80000002) != 0
                    || !page || nameField.is_null)
                    return true;
                const auto text = decodeText(static_cast<const unsigned char *>(nameField.value), nameField.siz, m_jet3);
                if (text && !text->isEmpty()) {
                    m_tables.push_back({*text, std::uint32_t(*page) & 0x00ffffff});
                    m_out.record(Tag::TableName, text->toUtf8());
                }
                return true;
            });
        }
        mdb_free_tabledef(table);
        return ok || fail(u"表の一覧（MSysObjects）を読めません。"_s);
    }

    // Sends one table, reading only the values of the wanted fields (all when none are named).
    bool readTable(const QString &tableName, const QStringList &wanted)
    {
        const Catalogued *found = nullptr;
        for (const Catalogued &table : m_tables) {
            if (table.name.compare(tableName, Qt::CaseInsensitive) == 0) {
                found = &table;
                break;
            }
        }
        if (!found)
            return true;
        MdbCatalogEntry entry{};
        entry.mdb = m_mdb;
        entry.object_type = MDB_TABLE;
        entry.table_pg = found->page;
        const QByteArray name = found->name.toUtf8().left(MDB_MAX_OBJ_NAME);
        std::memcpy(entry.object_name, name.constData(), std::size_t(name.size()));
        MdbTableDef *table = mdb_read_table(&entry);
        if (!table || !mdb_read_columns(table) || table->columns->len != table->num_cols) {
            if (table)
                mdb_free_tabledef(table);
            return fail(u"表 %1 の定義を読めません。"_s.arg(found->name));
        }
        QByteArray header;
        JetStream::appendUint32(header, table->num_rows);
        m_out.record(Tag::Table, header + found->name.toUtf8());
        std::vector<bool> read;
        for (unsigned i = 0; i < table->num_cols; ++i) {
            const auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
            const QString columnName = QString::fromUtf8(column->name);
            read.push_back(wanted.isEmpty() || wanted.contains(columnName, Qt::CaseInsensitive));
            m_out.record(Tag::Column, QByteArray(1, char(column->col_type)) + column->name);
        }
        std::uint32_t rows = 0;
        const bool ok = forEachRow(table, [&](const std::vector<MdbField> *fields) {
            ++rows;
            if (!fields) {
                m_out.record(Tag::DamagedRow, u"この行は壊れていて読めません。"_s.toUtf8());
                return true;
            }
            QByteArray row;
            for (unsigned i = 0; i < table->num_cols; ++i)
                appendField(row, read[i], *static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i)), (*fields)[i]);
            m_out.record(Tag::Row, row);
            return true;
        });
        mdb_free_tabledef(table);
        if (!ok)
            return fail(u"表 %1 のデータページを読めません。"_s.arg(found->name));
        QByteArray count;
        JetStream::appendUint32(count, rows);
        m_out.record(Tag::TableEnd, count);
        return true;
    }

    bool fail(const QString &reason)
    {
        m_out.record(Tag::Failure, reason.toUtf8());
        return false;
    }

private:
    struct Catalogued
    {
        QString name;
        std::uint32_t page;
    };

    static int columnNamed(MdbTableDef *table, const char *name)
    {
        for (unsigned i = 0; i < table->num_cols; ++i) {
            if (std::strcmp(static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i))->name, name) == 0)
                return int(i);
        }
        return -1;
    }

    static void appendValue(QByteArray &row, const QByteArray &bytes)
    {
        JetStream::appendUint32(row, std::uint32_t(bytes.size()));
        row.append(bytes);
    }

    // Visits every live row of the table, following moved rows, in page order. A row that
    // cannot be taken apart is visited with no fields. Returns false when a page's own row
    // table is damaged.
    bool forEachRow(MdbTableDef *table, const std::function<bool(const std::vector<MdbField> *)> &visit)
    {
        const MdbFormatConstants *format = m_mdb->fmt;
        std::vector<MdbField> fields(std::max(table->num_cols, 1u));
        mdb_rewind_table(table);
        for (;;) {
            const int page = mdb_read_next_dpg(table);
            if (page < 0)
                return false;
            if (page == 0)
                return true;
            const int count = le16(m_mdb->pg_buf + format->row_count_offset);
            for (int row = 0; row < count; ++row) {
                int start = 0;
                std::size_t size = 0;
                if (mdb_read_pg(m_mdb, std::uint32_t(page)) != format->pg_size
                    || mdb_find_row(m_mdb, row, &start, &size) != 0)
                    return false;
                if ((start & deletedRow) || size == 0)
                    continue;
                int moves = 0;
                while (start & movedRow) {
                    // The row's place holds the page and row it was moved to.
                    if (size < 4 || ++moves > maxMoves)
                        break;
                    const std::uint32_t target = le32(m_mdb->pg_buf + (start & offsetMask));
                    if (mdb_read_pg(m_mdb, target >> 8) != format->pg_size || m_mdb->pg_buf[0] != 0x01
                        || le32(m_mdb->pg_buf + 4) != table->entry->table_pg
                        || mdb_find_row(m_mdb, int(target & 0xff), &start, &size) != 0) {
                        start = movedRow;
                        break;
                    }
                }
                const bool cracked = !(start & movedRow)
                    && mdb_crack_row(table, start & offsetMask, size, fields.data()) >= 0;
                if (!visit(cracked ? &fields : nullptr))
                    return false;
            }
        }
    }

    void appendField(QByteArray &row, bool wanted, const MdbColumn &column, const MdbField &field)
    {
        if (!wanted) {
            row.append(char(ValueState::Skipped));
            return;
        }
        if (column.col_type == MDB_BOOL) {
            // A Yes/No field keeps its value in the null mask: it has no Null.
            row.append(char(ValueState::Value));
            appendValue(row, QByteArray(1, field.is_null ? '\0' : '\1'));
            return;
        }
        if (field.is_null) {
            row.append(char(ValueState::Null));
            return;
        }
        const auto *bytes = static_cast<const unsigned char *>(field.value);
        QString error;
        switch (column.col_type) {
        case MDB_BYTE: case MDB_INT: case MDB_LONGINT: case MDB_MONEY: case MDB_FLOAT: case MDB_DOUBLE:
        case MDB_DATETIME: {
            const int expected = column.col_type == MDB_BYTE ? 1 : column.col_type == MDB_INT ? 2
                : column.col_type == MDB_LONGINT || column.col_type == MDB_FLOAT ? 4 : 8;
            if (field.siz != expected) {
                error = u"値の長さが型に合いません（壊れています）。"_s;
                break;
            }
            row.append(char(ValueState::Value));
            appendValue(row, QByteArray(reinterpret_cast<const char *>(bytes), field.siz));
            return;
        }
        case MDB_TEXT:
        case MDB_MEMO: {
            QByteArray stored;
            if (column.col_type == MDB_MEMO) {
                const auto memo = memoBytes(bytes, field.siz, &error);
                if (!memo)
                    break;
                stored = *memo;
            } else {
                stored = QByteArray(reinterpret_cast<const char *>(bytes), field.siz);
            }
            const auto text = decodeText(reinterpret_cast<const unsigned char *>(stored.constData()), stored.size(), m_jet3);
            if (!text) {
                error = m_jet3 ? u"文字コード 932（日本語 Windows）の文字として読めません。"_s
                               : u"Unicode の文字として読めません。"_s;
                break;
            }
            row.append(char(ValueState::Value));
            appendValue(row, text->toUtf8());
            return;
        }
        default:
            row.append(char(ValueState::Skipped));
            return;
        }
        row.append(char(ValueState::Error));
        appendValue(row, error.toUtf8());
    }

    // A Memo field holds its length and flags, then either the text itself (0x80), the pointer
    // of one long-value row (0x40) or that of the first of a chain of rows, each of which
    // begins with the pointer of the next (0x00).
    std::optional<QByteArray> memoBytes(const unsigned char *field, int size, QString *error)
    {
        const QString broken = u"Memo の値が壊れています。"_s;
        if (size < MDB_MEMO_OVERHEAD) {
            *error = broken;
            return std::nullopt;
        }
        const std::uint32_t head = le32(field);
        const qsizetype length = head & 0x3fffffff;
        if (length > maxValueBytes) {
            *error = u"Memo の値が長すぎます（%1 バイト。読めるのは %2 バイトまでです）。"_s.arg(length).arg(maxValueBytes);
            return std::nullopt;
        }
        if (head & 0x80000000u) {
            if (length > size - MDB_MEMO_OVERHEAD) {
                *error = broken;
                return std::nullopt;
            }
            return QByteArray(reinterpret_cast<const char *>(field) + MDB_MEMO_OVERHEAD, length);
        }
        std::uint32_t pointer = le32(field + 4);
        QByteArray bytes;
        const bool single = head & 0x40000000u;
        while (bytes.size() < length) {
            const auto row = longValueRow(pointer);
            if (!row || (!single && row->size() <= 4)) {
                *error = broken;
                return std::nullopt;
            }
            if (single) {
                bytes = *row;
                break;
            }
            pointer = le32(reinterpret_cast<const unsigned char *>(row->constData()));
            bytes += row->mid(4);
            if (bytes.size() < length && pointer == 0)
                break;
        }
        if (bytes.size() < length || (!single && bytes.size() > length)) {
            *error = broken;
            return std::nullopt;
        }
        return bytes.left(length);
    }

    // A row of a long-value page, read beside the data page in the library's second buffer.
    std::optional<QByteArray> longValueRow(std::uint32_t pointer)
    {
        const MdbFormatConstants *format = m_mdb->fmt;
        const unsigned char *page = m_mdb->alt_pg_buf;
        if (mdb_read_alt_pg(m_mdb, pointer >> 8) != format->pg_size || page[0] != 0x01
            || std::memcmp(page + 4, "LVAL", 4) != 0)
            return std::nullopt;
        const int row = int(pointer & 0xff);
        const int rco = format->row_count_offset;
        if (row >= le16(page + rco))
            return std::nullopt;
        const int start = le16(page + rco + 2 + 2 * row);
        const int end = row == 0 ? int(format->pg_size) : le16(page + rco + 2 * row) & offsetMask;
        if ((start & deletedRow) || (start & offsetMask) < rco + 2 || (start & offsetMask) > end
            || end > format->pg_size)
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char *>(page) + (start & offsetMask), end - (start & offsetMask));
    }

    MdbHandle *m_mdb;
    Output &m_out;
    bool m_jet3;
    std::vector<Catalogued> m_tables;
};

} // namespace

int run(const QString &path, const QStringList &requests, std::FILE *out)
{
    // The library reads these: Jet 3 text is Japanese here, nothing else is looked up or logged.
    qputenv("MDB_JET3_CHARSET", "CP932");
    for (const char *name : {"MDB_ICONV", "MDBICONV", "MDBPATH", "MDBOPTS"})
        qunsetenv(name);
    Output output(out);
    MdbHandle *mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!mdb) {
        output.record(Tag::Failure, u"Access のデータベースとして開けません。"_s.toUtf8());
        return 1;
    }
    output.record(Tag::Version, QByteArray(1, mdb->f->jet_version == MDB_VER_JET3 ? 3 : 4));
    Reader reader(mdb, output);
    bool ok = reader.readCatalogue();
    for (const QString &request : requests) {
        if (!ok)
            break;
        const qsizetype colon = request.indexOf(u':');
        const QStringList fields = colon < 0 ? QStringList() : request.mid(colon + 1).split(u',', Qt::SkipEmptyParts);
        ok = reader.readTable(colon < 0 ? request : request.left(colon), fields);
    }
    if (ok)
        output.record(Tag::End, {});
    output.flush();
    mdb_close(mdb);
    return ok ? 0 : 1;
}

} // namespace Merchalog::JetChild
