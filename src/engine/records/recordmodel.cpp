// RecordSource as a Qt table model: one column per field, the current record marked in the
// row header, rows found deleted leaving the list.

#include "engine/records/recordsource.h"

#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace Merchalog {

void RecordSource::emitRowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, row, row);
}

void RecordSource::dropGoneRows()
{
    m_dropPosted = false;
    if (m_visiting || !m_rows.hasGone())
        return;
    // A record with pending edits stays until storing them tells the user it is gone.
    const Bookmark kept = m_editMode == EditMode::Editing && m_current >= 0 ? m_rows.key(m_current) : 0;
    QSet<Bookmark> gone = m_rows.takeGone();
    if (kept && gone.remove(kept))
        m_rows.markGone(kept);

    std::vector<std::pair<int, int>> ranges; // first and last row of each run of gone rows
    for (int row = 0; row < recordCount(); ++row) {
        if (!gone.contains(m_rows.key(row)))
            continue;
        if (!ranges.empty() && ranges.back().second == row - 1)
            ranges.back().second = row;
        else
            ranges.emplace_back(row, row);
    }
    if (ranges.empty())
        return;
    const int previous = m_current;
    int current = m_current;
    for (const auto &[first, last] : ranges) {
        if (current >= first && current <= last)
            current = -1;
    }
    if (current >= 0) {
        const int before = current;
        for (const auto &[first, last] : ranges) {
            if (last < before)
                current -= last - first + 1;
        }
    }
    if (current < 0 && previous >= 0) {
        m_read = {};
        setCurrent(-1);
    }
    if (ranges.size() <= 32) {
        // Few runs: remove each, from the end, so views keep their place.
        for (auto it = ranges.crbegin(); it != ranges.crend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            m_rows.erase(it->first, it->second);
            if (m_current > it->second)
                m_current -= it->second - it->first + 1;
            endRemoveRows();
        }
    } else {
        beginResetModel();
        m_rows.erase(gone);
        m_current = current;
        endResetModel();
    }
    if (m_current != previous && m_current >= 0)
        Q_EMIT currentRowChanged(m_current);
}

QString RecordSource::displayText(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return {};
    if (value.metaType() == QMetaType::fromType<Currency>())
        return value.value<Currency>().toDisplayText();
    return value.toString();
}

int RecordSource::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : recordCount();
}

int RecordSource::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : fieldCount();
}

QVariant RecordSource::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= recordCount() || index.column() >= fieldCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (index.row() == m_current && m_editMode == EditMode::Editing) {
        if (m_pending.texts.contains(index.column()))
            return m_pending.texts.value(index.column());
        if (m_pending.typed.contains(index.column()))
            return displayText(m_pending.typed.value(index.column()));
    }
    return displayText(cachedRow(index.row()).value(index.column()));
}

QVariant RecordSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return fieldName(section);
    // The row marker: the current record, and whether it has unsaved edits.
    if (section == m_current)
        return m_editMode == EditMode::Editing ? u"✎"_s : u"▶"_s;
    return QString();
}

Qt::ItemFlags RecordSource::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool RecordSource::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= recordCount())
        return false;
    if (index.row() != m_current && !setCurrentRow(index.row()))
        return false;
    return setText(fieldName(index.column()), value.toString()).ok();
}

} // namespace Merchalog
