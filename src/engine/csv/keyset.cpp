#include "engine/csv/keyset.h"

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

constexpr int initialBits = 10;

std::size_t slotOf(qint64 key, int bits)
{
    return std::size_t((quint64(key) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

} // namespace

KeySet::KeySet(qsizetype memoryLimit)
    : m_memoryLimit(memoryLimit)
    , m_slots(std::size_t(1) << initialBits)
    , m_bits(initialBits)
{
}

KeySet::~KeySet()
{
    sqlite3_finalize(m_insert);
    sqlite3_finalize(m_find);
    sqlite3_close(m_disk);
}

void KeySet::grow()
{
    std::vector<Slot> old(std::size_t(1) << (m_bits + 1));
    old.swap(m_slots);
    ++m_bits;
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot &slot : old) {
        if (slot.row == 0)
            continue;
        std::size_t i = slotOf(slot.key, m_bits);
        while (m_slots[i].row != 0)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

// Moves every key into a private temporary database ("" opens one that SQLite deletes when
// it is closed), kept in one transaction that is never committed: nothing needs to last.
bool KeySet::spill()
{
    const auto failed = [this] {
        m_errorString = u"一時ファイルを使えません: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_disk)));
        return false;
    };
    if (sqlite3_open_v2("", &m_disk, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return failed();
    if (sqlite3_exec(m_disk,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-16384;"
                     "CREATE TABLE k(key INTEGER PRIMARY KEY, row INTEGER NOT NULL); BEGIN;",
                     nullptr, nullptr, nullptr)
            != SQLITE_OK
        || sqlite3_prepare_v2(m_disk, "INSERT OR IGNORE INTO k(key, row) VALUES(?1, ?2)", -1, &m_insert, nullptr)
            != SQLITE_OK
        || sqlite3_prepare_v2(m_disk, "SELECT row FROM k WHERE key = ?1", -1, &m_find, nullptr) != SQLITE_OK)
        return failed();
    std::vector<Slot> moved;
    moved.swap(m_slots);
    for (const Slot &slot : moved) {
        if (slot.row != 0 && !insert(slot.key, slot.row) && !m_errorString.isEmpty())
            return false;
    }
    return true;
}

std::optional<qint64> KeySet::insert(qint64 key, qint64 row)
{
    if (m_insert) {
        // Keys are rarely there already: the insert decides, and only a key that was is read.
        sqlite3_bind_int64(m_insert, 1, key);
        sqlite3_bind_int64(m_insert, 2, row);
        const int inserted = sqlite3_step(m_insert);
        sqlite3_reset(m_insert);
        std::optional<qint64> earlier;
        if (inserted == SQLITE_DONE && sqlite3_changes(m_disk) == 0) {
            sqlite3_bind_int64(m_find, 1, key);
            if (sqlite3_step(m_find) == SQLITE_ROW)
                earlier = sqlite3_column_int64(m_find, 0);
            else
                m_errorString = u"一時ファイルを使えません: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_disk)));
            sqlite3_reset(m_find);
        } else if (inserted != SQLITE_DONE) {
            m_errorString = u"一時ファイルを使えません: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_disk)));
        }
        return earlier;
    }
    if (m_disk)
        return std::nullopt; // the temporary database failed earlier

    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = slotOf(key, m_bits);
    while (m_slots[i].row != 0) {
        if (m_slots[i].key == key)
            return m_slots[i].row;
        i = (i + 1) & mask;
    }
    if (m_size >= m_memoryLimit) {
        if (!spill())
            return std::nullopt;
        return insert(key, row);
    }
    m_slots[i] = {key, row};
    ++m_size;
    if (m_size * 2 > qsizetype(m_slots.size()))
        grow();
    return std::nullopt;
}

} // namespace Merchalog
