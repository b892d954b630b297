#include "jetwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace Merchalog::JetWriter {

namespace {

// What differs between the two versions.
struct Format
{
    bool jet4;
    int pageSize;       // 2048 or 4096
    int rowCountOffset; // where a data page keeps its number of rows
    int mapSize;        // the length of a table's usage map, as Access writes it

    int pageHeader() const { return rowCountOffset + 2; }
    // The longest row a data page can take beside its header and one row offset.
    int maxRow() const { return pageSize - pageHeader() - 2; }
};

Format formatOf(Version version)
{
    if (version == Version::Jet3)
        return {false, 2048, 8, 128};
    return {true, 4096, 12, 64};
}

void put16(QByteArray &bytes, int at, int value)
{
    bytes[at] = char(value & 0xff);
    bytes[at + 1] = char((value >> 8) & 0xff);
}

void put32(QByteArray &bytes, int at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xff);
}

void append16(QByteArray &bytes, int value)
{
    bytes.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
}

void append32(QByteArray &bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

template<typename T>
QByteArray littleEndian(T value)
{
    static_assert(std::endian::native == std::endian::little);
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

// The header page's settings are stored RC4-enciphered under a key every Jet file shares.
void rc4(QByteArray &bytes, int from, int length)
{
    const std::array<std::uint8_t, 4> key{0xC7, 0xDA, 0x39, 0x6B};
    std::array<std::uint8_t, 256> s;
    for (int i = 0; i < 256; ++i)
        s[std::size_t(i)] = std::uint8_t(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[std::size_t(i)] + key[std::size_t(i) % key.size()]) & 0xff;
        std::swap(s[std::size_t(i)], s[std::size_t(j)]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xff;
        j = (j + s[std::size_t(i)]) & 0xff;
        std::swap(s[std::size_t(i)], s[std::size_t(j)]);
        bytes[from + n] = char(std::uint8_t(bytes[from + n]) ^ s[std::size_t((s[std::size_t(i)] + s[std::size_t(j)]) & 0xff)]);
    }
}

// Jet 4 keeps text as UTF-16LE, or compressed: after FF FE, characters below U+0100 take one
// byte and a zero byte switches between one-byte and two-byte characters. A character whose
// low byte is zero cannot be written either way inside the compressed form.
QByteArray compressedText(const QString &text)
{
    QByteArray bytes("\xff\xfe", 2);
    bool oneByte = true;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if ((unit & 0xff) == 0)
            return {};
        const bool small = unit < 0x100;
        if (small != oneByte) {
            bytes.append('\0');
            oneByte = small;
        }
        bytes.append(char(unit & 0xff));
        if (!small)
            bytes.append(char(unit >> 8));
    }
    return bytes;
}

std::optional<QByteArray> encodeText(const QString &text, const Format &format, bool compress)
{
    if (!format.jet4) {
        QStringEncoder encoder("windows-31j");
        const QByteArray bytes = encoder.encode(text);
        if (encoder.hasError())
            return std::nullopt;
        return bytes;
    }
    QByteArray utf16;
    for (const QChar c : text)
        append16(utf16, c.unicode());
    if (compress) {
        const QByteArray compressed = compressedText(text);
        if (!compressed.isEmpty() && compressed.size() < utf16.size())
            return compressed;
    }
    return utf16;
}

bool isFixed(Type type)
{
    return type != Type::Text && type != Type::Memo && type != Type::Ole;
}

int fixedSize(Type type)
{
    switch (type) {
    case Type::Byte: return 1;
    case Type::Integer: return 2;
    case Type::Long:
    case Type::Single: return 4;
    case Type::Currency:
    case Type::Double:
    case Type::DateTime: return 8;
    default: return 0;
    }
}

QString typeName(Type type)
{
    switch (type) {
    case Type::Byte: return u"Byte"_s;
    case Type::Integer: return u"Integer"_s;
    case Type::Long: return u"Long"_s;
    case Type::Currency: return u"Currency"_s;
    case Type::Single: return u"Single"_s;
    case Type::Double: return u"Double"_s;
    case Type::DateTime: return u"DateTime"_s;
    case Type::Text: return u"Text"_s;
    case Type::Ole: return u"OLE"_s;
    case Type::Memo: return u"Memo"_s;
    }
    return {};
}

// The pages of the file, each allocated zeroed.
class Pages
{
public:
    explicit Pages(const Format &format) : m_format(format) {}

    int add(std::uint8_t type, const char owner[4] = nullptr)
    {
        QByteArray page(m_format.pageSize, '\0');
        page[0] = char(type);
        page[1] = 1;
        if (owner)
            std::memcpy(page.data() + 4, owner, 4);
        m_pages.push_back(page);
        return int(m_pages.size()) - 1;
    }
    QByteArray &operator[](int page) { return m_pages[std::size_t(page)]; }
    int count() const { return int(m_pages.size()); }
    QByteArray join() const
    {
        QByteArray file;
        file.reserve(qsizetype(m_pages.size()) * m_format.pageSize);
        for (const QByteArray &page : m_pages)
            file += page;
        return file;
    }

private:
    Format m_format;
    std::vector<QByteArray> m_pages;
};

// Fills data pages (or long-value pages) with rows, stored from the page's end towards its
// row-offset table, and gives each row's pointer: its page shifted by 8, or'ed with its number.
class RowPages
{
public:
    RowPages(Pages &pages, const Format &format, QByteArray owner)
        : m_pages(pages), m_format(format), m_owner(std::move(owner)) {}

    // Starts on an allocated, empty data page instead of a new one.
    void useFirstPage(int page) { startPage(page); }

    // Adds a row; flags go into its offset (0x8000 deleted, 0x4000 moved).
    std::uint32_t add(const QByteArray &row, int flags = 0)
    {
        if (m_page < 0 || m_rows == 255 || m_rowStart - row.size() < m_format.pageHeader() + 2 * (m_rows + 1))
            startPage(m_pages.add(1, m_owner.constData()));
        QByteArray &page = m_pages[m_page];
        m_rowStart -= int(row.size());
        std::memcpy(page.data() + m_rowStart, row.constData(), std::size_t(row.size()));
        put16(page, m_format.pageHeader() + 2 * m_rows, m_rowStart | flags);
        ++m_rows;
        put16(page, m_format.rowCountOffset, m_rows);
        put16(page, 2, m_rowStart - (m_format.pageHeader() + 2 * m_rows));
        return std::uint32_t(m_page) << 8 | std::uint32_t(m_rows - 1);
    }
    const std::vector<int> &pagesUsed() const { return m_used; }

private:
    void startPage(int page)
    {
        m_page = page;
        m_rows = 0;
        m_rowStart = m_format.pageSize;
        m_used.push_back(page);
    }

    Pages &m_pages;
    Format m_format;
    QByteArray m_owner;
    int m_page = -1;
    int m_rows = 0;
    int m_rowStart = 0;
    std::vector<int> m_used;
};

// Where each column of a table lives in a row.
struct Layout
{
    struct Place
    {
        bool fixed;
        int offset; // fixed columns: bytes after the column count; others: their number among the variable ones
    };
    std::vector<Place> places;
    int fixedLength = 0;
    int variableCount = 0;

    explicit Layout(const QList<Column> &columns)
    {
        for (const Column &column : columns) {
            if (isFixed(column.type)) {
                places.push_back({true, fixedLength});
                fixedLength += fixedSize(column.type);
            } else {
                places.push_back({false, variableCount++});
            }
        }
    }
};

// Lays out one row: the column count, the fixed columns, the variable ones, the table of where
// each variable column starts (last first), their count and the null mask, one bit a column.
QByteArray packRow(const Format &format, const Layout &layout, const std::vector<std::optional<QByteArray>> &fields)
{
    const int columns = int(fields.size());
    const int countSize = format.jet4 ? 2 : 1;
    QByteArray row;
    if (format.jet4)
        append16(row, columns);
    else
        row.append(char(columns));
    row.append(QByteArray(layout.fixedLength, '\0'));
    QByteArray nullMask((columns + 7) / 8, '\0');
    std::vector<int> starts;
    for (int i = 0; i < columns; ++i) {
        if (fields[std::size_t(i)])
            nullMask[i / 8] = char(nullMask[i / 8] | (1 << (i % 8)));
        if (layout.places[std::size_t(i)].fixed) {
            if (fields[std::size_t(i)])
                std::memcpy(row.data() + countSize + layout.places[std::size_t(i)].offset,
                            fields[std::size_t(i)]->constData(), std::size_t(fields[std::size_t(i)]->size()));
        }
    }
    for (int i = 0; i < columns; ++i) {
        if (layout.places[std::size_t(i)].fixed)
            continue;
        starts.push_back(int(row.size()));
        if (fields[std::size_t(i)])
            row += *fields[std::size_t(i)];
    }
    const int n = layout.variableCount;
    if (n == 0)
        return row + nullMask;
    const int end = int(row.size());
    starts.push_back(end);
    if (format.jet4) {
        for (int i = n; i >= 0; --i)
            append16(row, starts[std::size_t(i)]);
        append16(row, n);
        return row + nullMask;
    }
    // Jet 3 keeps only the low byte of each start; a jump table names, for each 256 bytes
    // the row has grown past, the first variable column starting beyond them. Its length
    // follows from the whole row's length, so one entry may be unused (0xff).
    int jumps = 0;
    for (;;) {
        const int length = end + 1 + n + jumps + 1 + int(nullMask.size());
        const int needed = (length - 1) / 256;
        if (needed == jumps)
            break;
        jumps = needed;
    }
    const int used = end / 256;
    if (used < jumps - 1)
        return {};
    for (int i = n; i >= 0; --i)
        row.append(char(starts[std::size_t(i)] & 0xff));
    for (int k = jumps; k >= 1; --k) {
        int first = 0xff;
        if (k <= used) {
            first = 0;
            while (starts[std::size_t(first)] < 256 * k)
                ++first;
        }
        row.append(char(first));
    }
    row.append(char(n));
    return row + nullMask;
}

class Writer
{
public:
    explicit Writer(const Options &options)
        : m_options(options), m_format(formatOf(options.version)), m_pages(m_format),
          m_lval(m_pages, m_format, QByteArray("LVAL", 4)) {}

    QByteArray write(const QList<Table> &tables)
    {
        writeHeader();
        const int mapPage = m_pages.add(1);
        m_maps = std::make_unique<RowPages>(m_pages, m_format, QByteArray(4, '\0'));
        m_maps->useFirstPage(mapPage);
        const int systemTable = m_pages.add(2);
        std::vector<int> definitions;
        for (qsizetype i = 0; i < tables.size(); ++i)
            definitions.push_back(m_pages.add(2));

        Table objects{u"MSysObjects"_s,
                      {{u"Id"_s, Type::Long}, {u"ParentId"_s, Type::Long}, {u"Name"_s, Type::Text, 255},
                       {u"Type"_s, Type::Integer}, {u"Flags"_s, Type::Long}, {u"LvProp"_s, Type::Ole}},
                      {}, {}, {}};
        const std::int64_t systemFlags = std::int32_t(0x80000002u);
        objects.rows.push_back({std::int64_t(systemTable), std::int64_t(0), u"MSysObjects"_s, std::int64_t(1), systemFlags, {}});
        for (qsizetype i = 0; i < tables.size(); ++i)
            objects.rows.push_back({std::int64_t(definitions[std::size_t(i)]), std::int64_t(0), tables[i].name,
                                    std::int64_t(1), std::int64_t(0), {}});
        if (!writeTable(objects, systemTable, true))
            return {};
        for (qsizetype i = 0; i < tables.size(); ++i) {
            if (!writeTable(tables[i], definitions[std::size_t(i)], false))
                return {};
        }
        return m_pages.join();
    }

    QString errorString() const { return m_error; }

private:
    void writeHeader()
    {
        const int page = m_pages.add(0);
        QByteArray &header = m_pages[page];
        header[1] = 1;
        std::memcpy(header.data() + 4, "Standard Jet DB", 16);
        put32(header, 0x14, m_format.jet4 ? 1 : 0);
        if (!m_format.jet4)
            put16(header, 0x3c, 932); // Japanese Windows
        rc4(header, 0x18, m_format.jet4 ? 128 : 126);
    }

    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    // Sets `bytes` to what a value takes in its field (nothing for Null); false when the value
    // cannot be stored there.
    bool encodeValue(const Column &column, const Value &value, std::optional<QByteArray> &bytes)
    {
        bytes.reset();
        if (std::holds_alternative<std::monostate>(value))
            return true;
        const QString where = u"column %1 (%2)"_s.arg(column.name, typeName(column.type));
        if (const Raw *raw = std::get_if<Raw>(&value)) {
            if (isFixed(column.type) && raw->bytes.size() != fixedSize(column.type))
                return fail(where + u": raw value of the wrong length"_s);
            bytes = raw->bytes;
            return true;
        }
        if (column.type == Type::Ole)
            return fail(where + u": only Null can be written"_s);
        if (column.type == Type::Text || column.type == Type::Memo) {
            const QString *text = std::get_if<QString>(&value);
            if (!text)
                return fail(where + u": text expected"_s);
            if (column.type == Type::Text && text->size() > column.size)
                return fail(where + u": longer than %1 characters"_s.arg(column.size));
            // Access compresses a Memo only up to 1024 characters.
            const bool compress = m_options.compressText && (column.type == Type::Text || text->size() <= 1024);
            const auto encoded = encodeText(*text, m_format, compress);
            if (!encoded)
                return fail(where + u": not representable in code page 932"_s);
            bytes = *encoded;
            return true;
        }
        if (const double *real = std::get_if<double>(&value)) {
            if (column.type == Type::Single)
                bytes = littleEndian(float(*real));
            else if (column.type == Type::Double || column.type == Type::DateTime)
                bytes = littleEndian(*real);
            else
                return fail(where + u": integer expected"_s);
            return true;
        }
        const std::int64_t number = std::get<std::int64_t>(value);
        auto inRange = [&](std::int64_t low, std::int64_t high) { return number >= low && number <= high; };
        switch (column.type) {
        case Type::Byte:
            if (!inRange(0, 255))
                break;
            bytes = littleEndian(std::uint8_t(number));
            return true;
        case Type::Integer:
            if (!inRange(INT16_MIN, INT16_MAX))
                break;
            bytes = littleEndian(std::int16_t(number));
            return true;
        case Type::Long:
            if (!inRange(INT32_MIN, INT32_MAX))
                break;
            bytes = littleEndian(std::int32_t(number));
            return true;
        case Type::Currency:
            bytes = littleEndian(number);
            return true;
        case Type::Single:
        case Type::Double:
        case Type::DateTime:
            return fail(where + u": real expected"_s);
        default:
            break;
        }
        return fail(where + u": %1 out of range"_s.arg(number));
    }

    // A Memo field holds a 12-byte reference: the length with flags in its top byte, and
    // either the text right behind it (0x80), one long-value row (0x40) or the first of a
    // chain of rows, each starting with the pointer of the next (0x00).
    bool storeMemo(QByteArray &data)
    {
        const qsizetype length = data.size();
        if (length >= (1 << 24))
            return fail(u"a Memo value of %1 bytes is longer than Jet can hold"_s.arg(length));
        QByteArray field;
        if (length <= 64) {
            append32(field, std::uint32_t(length) | 0x80000000u);
            append32(field, 0);
            append32(field, 0);
            data = field + data;
            return true;
        }
        const int capacity = m_format.maxRow();
        std::uint32_t pointer = 0;
        if (length <= capacity) {
            pointer = m_lval.add(data);
            append32(field, std::uint32_t(length) | 0x40000000u);
        } else {
            const int chunk = capacity - 4;
            for (qsizetype from = (length - 1) / chunk * chunk; from >= 0; from -= chunk) {
                QByteArray row;
                append32(row, pointer);
                row += data.mid(from, chunk);
                pointer = m_lval.add(row);
            }
            append32(field, std::uint32_t(length));
        }
        append32(field, pointer);
        append32(field, 0);
        data = field;
        return true;
    }

    bool writeTable(const Table &table, int definition, bool system)
    {
        const Layout layout(table.columns);
        const QByteArray owner = littleEndian(std::uint32_t(definition));
        RowPages data(m_pages, m_format, owner);
        std::vector<std::pair<std::uint32_t, QByteArray>> moved; // the pointer's place, the row
        for (std::size_t r = 0; r < table.rows.size(); ++r) {
            const std::vector<Value> &values = table.rows[r];
            if (values.size() != std::size_t(table.columns.size()))
                return fail(u"table %1, row %2: %3 values for %4 columns"_s.arg(table.name).arg(r + 1)
                                .arg(values.size()).arg(table.columns.size()));
            std::vector<std::optional<QByteArray>> fields(values.size());
            for (std::size_t c = 0; c < values.size(); ++c) {
                const Column &column = table.columns[qsizetype(c)];
                if (!encodeValue(column, values[c], fields[c])
                    || (column.type == Type::Memo && fields[c] && !storeMemo(*fields[c])))
                    return fail(u"table %1, row %2, %3"_s.arg(table.name).arg(r + 1).arg(m_error));
            }
            const QByteArray row = packRow(m_format, layout, fields);
            if (row.isEmpty() || row.size() > m_format.maxRow())
                return fail(u"table %1, row %2: longer than a page"_s.arg(table.name).arg(r + 1));
            if (table.deletedRows.contains(r))
                data.add(row, 0x8000);
            else if (table.movedRows.contains(r))
                moved.emplace_back(data.add(QByteArray(4, '\0'), 0x4000), row);
            else
                data.add(row);
        }
        // Moved rows go to pages of their own, marked deleted there so that a scan of the
        // pages meets each row once, through its pointer.
        RowPages later(m_pages, m_format, owner);
        for (const auto &[place, row] : moved) {
            const std::uint32_t target = later.add(row, 0x8000);
            QByteArray &page = m_pages[int(place >> 8)];
            const int at = m_format.pageHeader() + 2 * int(place & 0xff);
            put32(page, (std::uint8_t(page[at]) | std::uint8_t(page[at + 1]) << 8) & 0x1fff, target);
        }
        std::vector<int> pages = data.pagesUsed();
        pages.insert(pages.end(), later.pagesUsed().begin(), later.pagesUsed().end());
        const std::size_t live = table.rows.size() - table.deletedRows.size();
        return writeDefinition(table, live, definition, system, layout, pages);
    }

    // A usage map names the pages a table owns: a bitmap from a start page (type 0) or, when
    // the pages lie too far apart for that, pointers to whole bitmap pages (type 1).
    std::uint32_t usageMap(const std::vector<int> &pages)
    {
        QByteArray map(m_format.mapSize, '\0');
        const int bits = (m_format.mapSize - 5) * 8;
        const int first = pages.empty() ? 0 : pages.front();
        if (pages.empty() || pages.back() - first < bits) {
            put32(map, 1, std::uint32_t(first));
            for (const int page : pages)
                map[5 + (page - first) / 8] = char(map[5 + (page - first) / 8] | (1 << ((page - first) % 8)));
            return m_maps->add(map);
        }
        map[0] = 1;
        const int perPage = (m_format.pageSize - 4) * 8;
        std::vector<int> bitmaps((m_format.mapSize - 1) / 4, 0);
        for (const int page : pages) {
            const std::size_t index = std::size_t(page / perPage);
            if (index >= bitmaps.size())
                return 0;
            if (bitmaps[index] == 0) {
                bitmaps[index] = m_pages.add(5);
                put32(map, 1 + 4 * int(index), std::uint32_t(bitmaps[index]));
            }
            QByteArray &bitmapPage = m_pages[bitmaps[index]];
            const int bit = page % perPage;
            bitmapPage[4 + bit / 8] = char(bitmapPage[4 + bit / 8] | (1 << (bit % 8)));
        }
        return m_maps->add(map);
    }

    bool writeDefinition(const Table &table, std::size_t rows, int definitionPage, bool system,
                         const Layout &layout, const std::vector<int> &dataPages)
    {
        const int columns = int(table.columns.size());
        QByteArray d(m_format.jet4 ? 63 : 43, '\0');
        d[0] = 2;
        d[1] = 1;
        if (!m_format.jet4) {
            d[2] = 'V';
            d[3] = 'C';
        }
        const int rowsAt = m_format.jet4 ? 16 : 12;
        const int typeAt = m_format.jet4 ? 40 : 20;
        put32(d, rowsAt, std::uint32_t(rows));
        d[typeAt] = char(system ? 0x53 : 0x4e);
        put16(d, typeAt + 1, columns);
        put16(d, typeAt + 3, layout.variableCount);
        put16(d, typeAt + 5, columns);
        const std::uint32_t used = usageMap(dataPages);
        if (used == 0)
            return fail(u"table %1: its pages lie too far apart for a usage map"_s.arg(table.name));
        put32(d, typeAt + 15, used);
        put32(d, typeAt + 19, usageMap({}));
        for (int i = 0; i < columns; ++i) {
            const Column &column = table.columns[i];
            const Layout::Place &place = layout.places[std::size_t(i)];
            const bool text = column.type == Type::Text || column.type == Type::Memo;
            const int length = column.type == Type::Text ? column.size * (m_format.jet4 ? 2 : 1) : fixedSize(column.type);
            QByteArray entry(m_format.jet4 ? 25 : 18, '\0');
            entry[0] = char(column.type);
            const int shift = m_format.jet4 ? 4 : 0;
            put16(entry, shift + 1, i);
            put16(entry, shift + 3, place.fixed ? 0 : place.offset);
            put16(entry, shift + 5, i);
            if (text)
                put16(entry, shift + 7, 0x0409); // the general sort order
            if (text && !m_format.jet4)
                put16(entry, 9, 932);
            entry[m_format.jet4 ? 15 : 13] = char(place.fixed ? 0x03 : 0x02);
            if (text && m_format.jet4 && m_options.compressText)
                entry[16] = 1;
            put16(entry, m_format.jet4 ? 21 : 14, place.fixed ? place.offset : 0);
            put16(entry, m_format.jet4 ? 23 : 16, length);
            d += entry;
        }
        for (const Column &column : table.columns) {
            if (m_format.jet4) {
                append16(d, int(column.name.size() * 2));
                for (const QChar c : column.name)
                    append16(d, c.unicode());
            } else {
                const QByteArray name = encodeText(column.name, m_format, false).value_or(QByteArray());
                d.append(char(name.size())).append(name);
            }
        }
        append16(d, 0xffff);
        if (d.size() > m_format.pageSize)
            return fail(u"table %1: its columns do not fit one definition page"_s.arg(table.name));
        put32(d, 8, std::uint32_t(d.size() - 8));
        if (m_format.jet4)
            put16(d, 2, m_format.pageSize - int(d.size()) - 8);
        QByteArray &page = m_pages[definitionPage];
        std::memcpy(page.data(), d.constData(), std::size_t(d.size()));
        return true;
    }

    Options m_options;
    Format m_format;
    Pages m_pages;
    RowPages m_lval;
    std::unique_ptr<RowPages> m_maps;
    QString m_error;
};


std::optional<Type> typeNamed(const QString &name)
{
    static const QList<std::pair<QString, Type>> types{
        {u"byte"_s, Type::Byte},     {u"integer"_s, Type::Integer}, {u"long"_s, Type::Long},
        {u"currency"_s, Type::Currency}, {u"single"_s, Type::Single}, {u"double"_s, Type::Double},
        {u"datetime"_s, Type::DateTime}, {u"text"_s, Type::Text}, {u"memo"_s, Type::Memo},
        {u"ole"_s, Type::Ole}};
    for (const auto &[typeName, type] : types) {
        if (typeName == name)
            return type;
    }
    return std::nullopt;
}

// Exact decimal text with at most four decimals as ten-thousandths ("-12.5" gives -125000).
std::optional<std::int64_t> parseUnits(const QString &text)
{
    const bool negative = text.startsWith(u'-');
    QString digits = text.mid(negative ? 1 : 0);
    const qsizetype point = digits.indexOf(u'.');
    const qsizetype decimals = point < 0 ? 0 : digits.size() - point - 1;
    if (point >= 0)
        digits.remove(point, 1);
    if (digits.isEmpty() || decimals > 4)
        return std::nullopt;
    digits += QString(4 - decimals, u'0');
    // Magnitudes up to 2^63, so that the most negative count is read too.
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = std::uint64_t(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9' || magnitude > (limit - (c.unicode() - u'0')) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
    }
    return negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
}

std::optional<Value> valueFrom(const QJsonValue &json, Type type)
{
    if (json.isNull())
        return Value();
    if (json.isObject()) {
        const QJsonObject object = json.toObject();
        if (object.contains(u"raw"_s))
            return Value(Raw{QByteArray::fromHex(object.value(u"raw"_s).toString().toLatin1())});
        const int count = object.value(u"count"_s).toInt(-1);
        if (count < 0)
            return std::nullopt;
        return Value(object.value(u"repeat"_s).toString().repeated(count));
    }
    const bool real = type == Type::Single || type == Type::Double || type == Type::DateTime;
    if (json.isString()) {
        const QString text = json.toString();
        if (type == Type::Text || type == Type::Memo)
            return Value(text);
        if (real) {
            const double infinity = std::numeric_limits<double>::infinity();
            if (text == u"nan")
                return Value(std::numeric_limits<double>::quiet_NaN());
            if (text == u"inf" || text == u"-inf")
                return Value(text == u"inf" ? infinity : -infinity);
        }
        if (type != Type::Currency)
            return std::nullopt;
        const auto units = parseUnits(text);
        return units ? std::optional<Value>(Value(*units)) : std::nullopt;
    }
    if (!json.isDouble())
        return std::nullopt;
    const double number = json.toDouble();
    if (real)
        return Value(number);
    if (number != std::floor(number) || std::fabs(number) > 9.0e15)
        return std::nullopt;
    const auto integer = std::int64_t(number);
    return Value(type == Type::Currency ? integer * 10000 : integer);
}

} // namespace

QByteArray write(const QList<Table> &tables, const Options &options, QString *error)
{
    for (const Table &table : tables) {
        if (table.columns.isEmpty() || table.columns.size() > 255) {
            if (error)
                *error = u"table %1: between 1 and 255 columns"_s.arg(table.name);
            return {};
        }
    }
    Writer writer(options);
    QByteArray file = writer.write(tables);
    if (file.isEmpty() && error)
        *error = writer.errorString();
    return file;
}

QList<Table> tablesFromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString() + u" at offset %1"_s.arg(parseError.offset);
        return {};
    }
    QList<Table> tables;
    for (const QJsonValue &tableJson : document.object().value(u"tables"_s).toArray()) {
        const QJsonObject object = tableJson.toObject();
        Table table{object.value(u"name"_s).toString(), {}, {}, {}, {}};
        for (const QJsonValue &columnJson : object.value(u"columns"_s).toArray()) {
            const QJsonObject column = columnJson.toObject();
            const auto type = typeNamed(column.value(u"type"_s).toString());
            if (!type) {
                *error = u"table %1: unknown column type %2"_s.arg(table.name, column.value(u"type"_s).toString());
                return {};
            }
            table.columns.append({column.value(u"name"_s).toString(), *type, column.value(u"size"_s).toInt(50)});
        }
        for (const QJsonValue &rowJson : object.value(u"rows"_s).toArray()) {
            const QJsonArray row = rowJson.toArray();
            std::vector<Value> values;
            for (qsizetype c = 0; c < row.size() && c < table.columns.size(); ++c) {
                const auto value = valueFrom(row.at(c), table.columns.at(c).type);
                if (!value) {
                    *error = u"table %1, row %2, column %3: the value does not suit the type"_s.arg(table.name)
                                 .arg(table.rows.size() + 1).arg(table.columns.at(c).name);
                    return {};
                }
                values.push_back(*value);
            }
            if (row.size() != table.columns.size()) {
                *error = u"table %1, row %2: %3 values for %4 columns"_s.arg(table.name).arg(table.rows.size() + 1)
                             .arg(row.size()).arg(table.columns.size());
                return {};
            }
            table.rows.push_back(std::move(values));
        }
        for (const QJsonValue &index : object.value(u"deleted"_s).toArray())
            table.deletedRows.insert(std::size_t(index.toInt()));
        for (const QJsonValue &index : object.value(u"moved"_s).toArray())
            table.movedRows.insert(std::size_t(index.toInt()));
        tables.append(table);
    }
    if (tables.isEmpty()) {
        *error = u"no tables given"_s;
        return {};
    }
    return tables;
}

QList<Table> catalogueTables(int products, int suppliers)
{
    Table torihiki{u"torihiki"_s,
                   {{u"torihiki_mei"_s, Type::Text, 50}, {u"torihiki_add"_s, Type::Text, 100},
                    {u"torihiki_tel"_s, Type::Text, 20}, {u"torihiki_code"_s, Type::Currency},
                    {u"torihiki_post"_s, Type::Text, 10}},
                   {}, {}, {}};
    const std::array<const char16_t *, 8> makers{u"サクラ", u"ふじ", u"みどり", u"やまと", u"ホクト", u"大地", u"東雲", u"ｻﾝﾗｲｽﾞ"};
    const std::array<const char16_t *, 8> goods{u"緑茶", u"コーラ", u"牛乳", u"食パン", u"せんべい", u"醤油", u"洗剤", u"乾電池"};
    for (int i = 0; i < suppliers; ++i) {
        torihiki.rows.push_back({u"株式会社%1商事%2"_s.arg(QString::fromUtf16(makers[std::size_t(i) % 8])).arg(i + 1),
                                 u"東京都中央区日本橋%1-%2"_s.arg(1 + i % 9).arg(1 + i % 20),
                                 u"03-%1-%2"_s.arg(1000 + i % 9000).arg(1000 + (i * 7) % 9000),
                                 std::int64_t(i + 1) * 10000, u"103-%1"_s.arg(i % 10000, 4, 10, QLatin1Char('0'))});
    }
    Table syohin{u"syohin"_s,
                 {{u"syohin_mei"_s, Type::Text, 50}, {u"syohin_master"_s, Type::Currency},
                  {u"syohin_sale"_s, Type::Currency}, {u"syohin_genka"_s, Type::Currency},
                  {u"syohin_JAN"_s, Type::Currency}, {u"syohin_EOS"_s, Type::Currency},
                  {u"syohin_EOStani"_s, Type::Integer}, {u"syohin_torihiki"_s, Type::Text, 50},
                  {u"syohin_torihikicode"_s, Type::Currency}, {u"bumon_code"_s, Type::Currency},
                  {u"bumon_AU"_s, Type::Currency}},
                 {}, {}, {}};
    // JAN codes from 4900000000000 on, each with its check digit.
    auto jan = [](std::int64_t body) {
        int sum = 0;
        for (std::int64_t rest = body, position = 0; position < 12; ++position, rest /= 10)
            sum += int(rest % 10) * (position % 2 == 0 ? 3 : 1);
        return body * 10 + (10 - sum % 10) % 10;
    };
    syohin.rows.reserve(std::size_t(products));
    for (int i = 0; i < products; ++i) {
        const std::int64_t price = 100 + (i * 37) % 900;
        const int supplier = suppliers > 0 ? i % suppliers : 0;
        syohin.rows.push_back({u"%1 %2 %3"_s.arg(QString::fromUtf16(makers[std::size_t(i) % 8]),
                                                 QString::fromUtf16(goods[std::size_t(i / 8) % 8])).arg(i + 1),
                               price * 10000, price * 8000, price * 6000 + 5000,
                               jan(490000000000 + i) * 10000, std::int64_t(100000 + i) * 10000,
                               std::int64_t(1 + i % 24),
                               suppliers > 0 ? Value(torihiki.rows[std::size_t(supplier)][0]) : Value(),
                               std::int64_t(supplier + 1) * 10000, std::int64_t(1 + i % 300) * 10000,
                               std::int64_t(1 + i % 20) * 10000});
    }
    return {syohin, torihiki};
}

} // namespace Merchalog::JetWriter
