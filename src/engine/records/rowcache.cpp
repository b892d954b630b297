#include "engine/records/rowcache.h"

#include <algorithm>

namespace Merchalog {

namespace {

// Cached rows are dropped wholesale past this many; the grid reads only what it shows.
constexpr qsizetype maxCachedRows = 4096;

} // namespace

void RowCache::reset(std::vector<Bookmark> keys)
{
    m_keys = std::move(keys);
    m_sorted = std::is_sorted(m_keys.begin(), m_keys.end());
    m_values.clear();
    m_gone.clear();
}

int RowCache::find(Bookmark key) const
{
    const auto it = m_sorted ? std::lower_bound(m_keys.begin(), m_keys.end(), key)
                             : std::find(m_keys.begin(), m_keys.end(), key);
    return it != m_keys.end() && *it == key ? int(it - m_keys.begin()) : -1;
}

int RowCache::append(Bookmark key)
{
    if (!m_keys.empty() && key < m_keys.back())
        m_sorted = false;
    m_keys.push_back(key);
    return count() - 1;
}

void RowCache::erase(int first, int last)
{
    m_keys.erase(m_keys.begin() + first, m_keys.begin() + last + 1);
}

void RowCache::erase(const QSet<Bookmark> &keys)
{
    m_keys.erase(std::remove_if(m_keys.begin(), m_keys.end(), [&keys](Bookmark key) { return keys.contains(key); }),
                 m_keys.end());
}

const Row *RowCache::values(Bookmark key) const
{
    const auto it = m_values.constFind(key);
    return it == m_values.constEnd() ? nullptr : &*it;
}

const Row &RowCache::keep(Bookmark key, Row values)
{
    if (m_values.size() >= maxCachedRows)
        m_values.clear();
    return *m_values.insert(key, std::move(values));
}

void RowCache::markGone(Bookmark key)
{
    m_gone.insert(key);
    m_values.remove(key);
}

QSet<Bookmark> RowCache::takeGone()
{
    QSet<Bookmark> gone;
    gone.swap(m_gone);
    return gone;
}

} // namespace Merchalog
