#pragma once

#include <QString>

#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace Merchalog {

// Remembers the keys of a file's rows (JAN codes, supplier codes) with the row each was first
// seen in, to find two rows with one key. Up to memoryLimit keys are held in memory; beyond
// that they move to a private temporary database on disk, so that memory stays bounded
// whatever the size of the file.
class KeySet final
{
public:
    static constexpr qsizetype defaultMemoryLimit = qsizetype(1) << 20;

    explicit KeySet(qsizetype memoryLimit = defaultMemoryLimit);
    ~KeySet();
    KeySet(const KeySet &) = delete;
    KeySet &operator=(const KeySet &) = delete;

    // Adds a key first seen in row (rows are positive). Returns the earlier row when the key
    // is there already, else nullopt. Returns nullopt and sets errorString() when the
    // temporary database fails.
    std::optional<qint64> insert(qint64 key, qint64 row);
    QString errorString() const { return m_errorString; }

private:
    struct Slot
    {
        qint64 key = 0;
        qint64 row = 0; // 0: empty
    };

    void grow();
    bool spill();

    qsizetype m_memoryLimit;
    std::vector<Slot> m_slots;
    qsizetype m_size = 0;
    int m_bits = 0;
    sqlite3 *m_disk = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_find = nullptr;
    QString m_errorString;
};

} // namespace Merchalog
