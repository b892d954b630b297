#pragma once

#include "engine/records/cataloguestore.h"

#include <QHash>
#include <QSet>

#include <vector>

namespace Merchalog {

// The rows of a record source's result: the keyset (the keys of the selected records in list
// order, all of them, a few bytes each) and the values of the rows read lately, so that a
// list of millions of records costs only what is shown. Keys of records found deleted wait
// in a set until the list can drop them.
class RowCache final
{
public:
    // A new result, its keys in list order (usually key order).
    void reset(std::vector<Bookmark> keys);
    void clear() { reset({}); }

    int count() const { return int(m_keys.size()); }
    Bookmark key(int row) const { return m_keys[std::size_t(row)]; }
    const std::vector<Bookmark> &keys() const { return m_keys; }
    // Whether the keys are still in key order (a record added later may join at the end).
    bool isSorted() const { return m_sorted; }
    // The row of a key, or -1.
    int find(Bookmark key) const;
    // Adds a key at the end; returns its row.
    int append(Bookmark key);
    // Drops the rows first..last.
    void erase(int first, int last);
    // Drops the rows whose keys are in keys.
    void erase(const QSet<Bookmark> &keys);

    // The values read for a key, or null when they are not at hand.
    const Row *values(Bookmark key) const;
    // Keeps values read for a key (dropping every other row past a bound).
    const Row &keep(Bookmark key, Row values);
    void forget(Bookmark key) { m_values.remove(key); }

    // Records found deleted, until the list drops them.
    bool isGone(Bookmark key) const { return m_gone.contains(key); }
    void markGone(Bookmark key);
    bool hasGone() const { return !m_gone.isEmpty(); }
    QSet<Bookmark> takeGone();

private:
    std::vector<Bookmark> m_keys;
    bool m_sorted = true;
    QHash<Bookmark, Row> m_values;
    QSet<Bookmark> m_gone;
};

} // namespace Merchalog
