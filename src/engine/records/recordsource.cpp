#include "engine/records/recordsource.h"

#include "engine/records/currentcatalogue.h"
#include "engine/statements/statement.h"

#include <algorithm>
#include <span>

using namespace Qt::StringLiterals;

namespace Merchalog {

RecordSource::RecordSource(QObject *parent)
    : QAbstractTableModel(parent)
    , m_databaseName(CurrentCatalogue::instance().databaseName())
{
    connect(&CurrentCatalogue::instance(), &CurrentCatalogue::databaseNameChanged, this,
            &RecordSource::setDatabaseName);
}

RecordSource::~RecordSource()
{
    storeCurrent();
}

void RecordSource::setDatabaseName(const QString &name)
{
    m_databaseName = name;
}

Status RecordSource::done(Status status)
{
    m_status = std::move(status);
    return m_status;
}

Status RecordSource::fail(ErrorCode code, const QString &message, const QString &field)
{
    return done(Status(code, message, field));
}

Status RecordSource::refresh()
{
    return open(m_recordSource, true);
}

Status RecordSource::openTable(QAnyStringView table)
{
    m_recordSource = table.toString();
    return open(m_recordSource, false);
}

void RecordSource::clearResult()
{
    beginResetModel();
    m_store.reset();
    m_table = nullptr;
    m_rows.clear();
    m_read = {};
    m_current = -1;
    m_editMode = EditMode::None;
    m_pending = {};
    endResetModel();
    Q_EMIT currentRowChanged(-1);
}

Status RecordSource::open(const QString &recordSource, bool selectRows)
{
    m_status = {};
    if (Status stored = storeCurrent(); !stored)
        return stored;

    const auto statement = parseStatement(recordSource);
    if (!statement)
        return done(statement.status());

    auto store = openCatalogueStore(m_databaseName);
    if (!store) {
        clearResult();
        return done(store.status());
    }
    const TableInfo *table = (*store)->table(statement->table);
    if (!table)
        return fail(ErrorCode::BadStatement, u"テーブルがありません: %1"_s.arg(statement->table));
    std::vector<Bookmark> keys;
    if (selectRows) {
        auto selected = (*store)->selectKeys(*table, *statement);
        if (!selected)
            return done(selected.status());
        keys = std::move(*selected);
    }

    beginResetModel();
    m_store = std::move(*store);
    m_table = table;
    m_blank = Row(qsizetype(table->columns.size()));
    showKeys(std::move(keys));
    return {};
}

Status RecordSource::showRecords(std::vector<Bookmark> keys)
{
    m_status = {};
    if (Status stored = storeCurrent(); !stored)
        return stored;
    if (!m_store || !m_table)
        return fail(ErrorCode::NoCurrentRecord, u"レコードソースが開かれていません。"_s);
    beginResetModel();
    showKeys(std::move(keys));
    return {};
}

// Ends the model reset the caller began: the list becomes keys, nothing pending, the first
// row current.
void RecordSource::showKeys(std::vector<Bookmark> keys)
{
    m_rows.reset(std::move(keys));
    m_read = {};
    m_current = m_rows.count() == 0 ? -1 : 0;
    m_editMode = EditMode::None;
    m_pending = {};
    if (m_current >= 0)
        readCurrent();
    endResetModel();
    Q_EMIT currentRowChanged(m_current);
}

Status RecordSource::setCurrentRow(int row)
{
    m_status = {};
    if (row < 0 || row >= recordCount())
        return fail(ErrorCode::NoCurrentRecord, u"%1 行目のレコードはありません。"_s.arg(row + 1));
    if (row == m_current && m_editMode != EditMode::Adding)
        return {};
    if (Status stored = storeCurrent(); !stored)
        return stored;
    setCurrent(row);
    return {};
}

void RecordSource::setCurrent(int row)
{
    const int previous = m_current;
    m_current = row;
    // What is read now is what a later write of this record checks against.
    if (row >= 0)
        readCurrent();
    if (previous >= 0 && previous < recordCount())
        Q_EMIT headerDataChanged(Qt::Vertical, previous, previous);
    if (row >= 0)
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
    Q_EMIT currentRowChanged(row);
}

Status RecordSource::storeCurrent()
{
    switch (m_editMode) {
    case EditMode::None:
        return {};
    case EditMode::Adding:
        // A new record that never reached update is dropped when the record is left.
        m_editMode = EditMode::None;
        m_pending = {};
        return {};
    case EditMode::Editing:
        return update();
    }
    return {};
}

Status RecordSource::storePending()
{
    m_status = {};
    if (m_editMode == EditMode::None)
        return {};
    return update();
}

Status RecordSource::addNew()
{
    m_status = {};
    if (!m_table)
        return fail(ErrorCode::NoCurrentRecord, u"レコードソースが開かれていません。"_s);
    if (Status stored = storeCurrent(); !stored)
        return stored;
    m_editMode = EditMode::Adding;
    m_pending = {};
    Q_EMIT currentValuesChanged();
    return {};
}

Status RecordSource::edit()
{
    m_status = {};
    if (m_current < 0)
        return fail(ErrorCode::NoCurrentRecord, u"カレント レコードがありません。"_s);
    if (m_editMode == EditMode::None) {
        if (!m_read.valid || m_read.key != m_rows.key(m_current))
            readCurrent();
        m_editMode = EditMode::Editing;
    }
    return {};
}

std::optional<QVariant> RecordSource::convertText(int column, const QString &text) const
{
    switch (fieldKind(column)) {
    case Kind::Text:
        return QVariant(text);
    case Kind::Number:
        if (const auto value = Currency::parse(text))
            return QVariant::fromValue(*value);
        return std::nullopt;
    case Kind::SmallInt:
        if (const auto value = parseSmallInt(text))
            return QVariant(int(*value));
        return std::nullopt;
    }
    return std::nullopt;
}

Status RecordSource::update()
{
    m_status = {};
    if (m_editMode == EditMode::None)
        return fail(ErrorCode::NoCurrentRecord, u"AddNew または Edit が実行されていません。"_s);
    // Convert every pending text first: nothing is stored unless all of it fits.
    QHash<int, QVariant> converted = m_pending.typed;
    for (auto it = m_pending.texts.cbegin(); it != m_pending.texts.cend(); ++it) {
        const auto value = convertText(it.key(), it.value());
        if (!value)
            return fail(ErrorCode::InvalidValue, u"「%1」の値が正しくありません。"_s.arg(fieldName(it.key())),
                        fieldName(it.key()));
        converted.insert(it.key(), *value);
    }
    if (m_editMode == EditMode::Editing && converted.isEmpty()) {
        m_editMode = EditMode::None;
        return {};
    }
    if (!m_store || !m_table)
        return fail(ErrorCode::WriteFailed, u"レコードソースが開かれていません。"_s);
    ColumnValues values;
    for (auto it = converted.cbegin(); it != converted.cend(); ++it)
        values.emplace_back(it.key(), it.value());
    std::sort(values.begin(), values.end(), [](const auto &a, const auto &b) { return a.first < b.first; });

    if (m_editMode == EditMode::Adding) {
        const auto key = m_store->insert(*m_table, values);
        if (!key)
            return done(key.status());
        m_lastModified = *key;
        m_editMode = EditMode::None;
        m_pending = {};
        Q_EMIT currentValuesChanged();
        return {};
    }

    const Bookmark key = m_rows.key(m_current);
    const bool read = m_read.valid && m_read.key == key;
    // A fingerprint is never empty: a record read with none counts as changed since.
    const auto outcome = m_store->update(*m_table, key, read ? m_read.stored.fingerprint : QByteArray(), values);
    if (!outcome)
        return done(outcome.status());
    if (outcome->found != WriteOutcome::Found::AsRead)
        return conflict(*outcome, false);

    m_read = {key, outcome->row, true};
    m_rows.keep(key, outcome->row.values);
    m_editMode = EditMode::None;
    m_pending = {};
    m_lastModified = key;
    emitRowChanged(m_current);
    Q_EMIT currentValuesChanged();
    return {};
}

Status RecordSource::conflict(const WriteOutcome &outcome, bool deletion)
{
    // Deleted, or changed by someone else since it was read: nothing is stored, the pending
    // edits go, and the record shows as it now stands (a deleted one leaves the list).
    const Bookmark key = m_rows.key(m_current);
    const bool gone = outcome.found == WriteOutcome::Found::Gone;
    const QString action = deletion ? u"削除"_s : u"変更を保存"_s;
    const Status status = fail(ErrorCode::Conflict, (gone ? u"このレコードは削除されているため、%1できませんでした。"_s
                                                          : u"このレコードは他で変更されているため、%1できませんでした。"_s)
                                                        .arg(action));
    m_editMode = EditMode::None;
    m_pending = {};
    if (gone) {
        m_read = {key, {}, false};
        noteGone(key);
    } else {
        m_read = {key, outcome.row, true};
        m_rows.keep(key, outcome.row.values);
    }
    emitRowChanged(m_current);
    Q_EMIT currentValuesChanged();
    return status;
}

void RecordSource::cancelUpdate()
{
    const bool wasEditing = m_editMode == EditMode::Editing;
    m_editMode = EditMode::None;
    m_pending = {};
    if (wasEditing && m_current >= 0)
        emitRowChanged(m_current);
    Q_EMIT currentValuesChanged();
    // A record found deleted while it had edits can leave the list now.
    if (m_rows.hasGone())
        postDrop();
}

Status RecordSource::deleteCurrent()
{
    m_status = {};
    if (m_current < 0 || m_editMode == EditMode::Adding)
        return fail(ErrorCode::NoCurrentRecord, u"カレント レコードがありません。"_s);
    if (!m_store || !m_table)
        return fail(ErrorCode::WriteFailed, u"レコードソースが開かれていません。"_s);
    const Bookmark key = m_rows.key(m_current);
    const bool read = m_read.valid && m_read.key == key;
    const auto outcome = m_store->remove(*m_table, key, read ? m_read.stored.fingerprint : QByteArray());
    if (!outcome)
        return done(outcome.status());
    if (outcome->found != WriteOutcome::Found::AsRead)
        return conflict(*outcome, true);
    // The result is not re-run: the row leaves the list and nothing is current.
    m_editMode = EditMode::None;
    m_pending = {};
    m_rows.forget(key);
    const int row = m_current;
    setCurrent(-1);
    m_read = {};
    beginRemoveRows({}, row, row);
    m_rows.erase(row, row);
    endRemoveRows();
    return {};
}

Status RecordSource::removeCurrentRecord()
{
    if (m_editMode == EditMode::Adding) {
        cancelUpdate();
        return done({});
    }
    return deleteCurrent();
}

Bookmark RecordSource::bookmark() const
{
    return m_current >= 0 ? m_rows.key(m_current) : 0;
}

Status RecordSource::setBookmark(Bookmark bookmark)
{
    m_status = {};
    if (bookmark == 0 || !m_table)
        return fail(ErrorCode::NoCurrentRecord, u"ブックマークが正しくありません。"_s);
    if (Status stored = storeCurrent(); !stored)
        return stored;
    if (const int row = m_rows.find(bookmark); row >= 0) {
        setCurrent(row);
        return {};
    }
    // A record added since the refresh joins the end of the result.
    const int row = recordCount();
    beginInsertRows({}, row, row);
    m_rows.append(bookmark);
    endInsertRows();
    setCurrent(row);
    return {};
}

QString RecordSource::fieldName(int column) const
{
    if (!m_table || column < 0 || column >= fieldCount())
        return {};
    return m_table->columns[std::size_t(column)].name;
}

Kind RecordSource::fieldKind(int column) const
{
    if (!m_table || column < 0 || column >= fieldCount())
        return Kind::Text;
    return m_table->columns[std::size_t(column)].kind;
}

int RecordSource::fieldIndex(QAnyStringView name) const
{
    return m_table ? m_table->indexOf(name) : -1;
}

void RecordSource::readCurrent() const
{
    const Bookmark key = m_rows.key(m_current);
    m_read = {key, {}, false};
    if (m_rows.isGone(key))
        return;
    const auto read = m_store->readRow(*m_table, key);
    if (!read)
        return; // read again when next shown
    if (!read->has_value()) {
        noteGone(key);
        return;
    }
    m_read.stored = std::move(**read);
    m_read.valid = true;
    m_rows.keep(key, m_read.stored.values);
}

const Row &RecordSource::cachedRow(int index) const
{
    const Bookmark key = m_rows.key(index);
    if (index == m_current) {
        if (!m_read.valid || m_read.key != key)
            readCurrent();
        return m_read.valid ? m_read.stored.values : m_blank;
    }
    if (m_rows.isGone(key))
        return m_blank;
    if (const Row *cached = m_rows.values(key))
        return *cached;
    // A row about to be shown brings the rows after it, a page at a time: a list scrolled on
    // a server catalogue costs one exchange per page, not one per row.
    readPage(index);
    if (m_rows.isGone(key))
        return m_blank;
    if (const Row *cached = m_rows.values(key))
        return *cached;
    const auto read = m_store->readRow(*m_table, key);
    if (!read)
        return m_blank; // read again when next shown
    if (!read->has_value()) {
        noteGone(key);
        return m_blank;
    }
    return m_rows.keep(key, std::move((*read)->values));
}

void RecordSource::readPage(int index) const
{
    constexpr std::size_t pageRows = 64;
    const std::span<const Bookmark> all(m_rows.keys());
    const std::span<const Bookmark> keys = all.subspan(std::size_t(index),
                                                       std::min(pageRows, all.size() - std::size_t(index)));
    std::vector<Row> rows;
    std::vector<Bookmark> gone;
    const auto read = m_store->readSlice(*m_table, keys, m_rows.isSorted(), &rows, &gone);
    if (!read)
        return; // read row by row instead
    auto row = rows.begin();
    for (const Bookmark key : keys.first(*read)) {
        if (std::find(gone.begin(), gone.end(), key) != gone.end())
            noteGone(key);
        else if (row != rows.end() && !m_rows.values(key) && !m_rows.isGone(key))
            m_rows.keep(key, std::move(*row++));
        else if (row != rows.end())
            ++row;
    }
}

void RecordSource::noteGone(Bookmark key) const
{
    m_rows.markGone(key);
    postDrop();
}

void RecordSource::postDrop() const
{
    if (m_dropPosted)
        return;
    m_dropPosted = true;
    // Never from inside a view's read: the rows go once control is back in the event loop.
    QMetaObject::invokeMethod(const_cast<RecordSource *>(this), &RecordSource::dropGoneRows, Qt::QueuedConnection);
}

Row RecordSource::row(int index) const
{
    if (index < 0 || index >= recordCount())
        return {};
    return cachedRow(index);
}

QVariant RecordSource::value(QAnyStringView field) const
{
    const int column = fieldIndex(field);
    if (column < 0)
        return {};
    if (m_editMode != EditMode::None) {
        if (m_pending.typed.contains(column))
            return m_pending.typed.value(column);
        if (m_pending.texts.contains(column))
            return convertText(column, m_pending.texts.value(column)).value_or(QVariant(m_pending.texts.value(column)));
        if (m_editMode == EditMode::Adding)
            return {};
    }
    if (m_current < 0)
        return {};
    return cachedRow(m_current).value(column);
}

QString RecordSource::text(QAnyStringView field) const
{
    const int column = fieldIndex(field);
    if (column < 0)
        return {};
    if (m_pending.texts.contains(column))
        return m_pending.texts.value(column);
    return displayText(value(field));
}

Status RecordSource::setValue(QAnyStringView field, const QVariant &value)
{
    m_status = {};
    const int column = fieldIndex(field);
    if (column < 0)
        return fail(ErrorCode::BadStatement, u"項目がありません: %1"_s.arg(field.toString()));
    if (m_editMode == EditMode::None) {
        if (m_current < 0)
            return fail(ErrorCode::NoCurrentRecord, u"カレント レコードがありません。"_s);
        if (!m_read.valid || m_read.key != m_rows.key(m_current))
            readCurrent();
        m_editMode = EditMode::Editing;
    }
    m_pending.texts.remove(column);
    m_pending.typed.insert(column, value);
    if (m_editMode == EditMode::Editing) {
        Q_EMIT dataChanged(index(m_current, column), index(m_current, column));
        Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    }
    return {};
}

Status RecordSource::setText(QAnyStringView field, const QString &text)
{
    m_status = {};
    const int column = fieldIndex(field);
    if (column < 0)
        return fail(ErrorCode::BadStatement, u"項目がありません: %1"_s.arg(field.toString()));
    if (m_editMode == EditMode::Adding) {
        m_pending.typed.remove(column);
        m_pending.texts.insert(column, text);
        return {};
    }
    if (m_current < 0)
        return fail(ErrorCode::NoCurrentRecord, u"カレント レコードがありません。"_s);
    m_pending.typed.remove(column);
    if (text == displayText(cachedRow(m_current).value(column))) {
        // Typed back to the stored value: nothing to store for this field.
        m_pending.texts.remove(column);
        if (m_pending.texts.isEmpty() && m_pending.typed.isEmpty())
            m_editMode = EditMode::None;
    } else {
        m_pending.texts.insert(column, text);
        m_editMode = EditMode::Editing;
    }
    Q_EMIT dataChanged(index(m_current, column), index(m_current, column));
    Q_EMIT headerDataChanged(Qt::Vertical, m_current, m_current);
    return {};
}

Status RecordSource::forEachRow(const std::function<bool(const Row &)> &visit)
{
    m_status = {};
    if (m_rows.count() == 0 || !m_store || !m_table)
        return {};
    // Each slice is read, its read ended, and only then are its rows visited.
    m_visiting = true;
    Status result;
    std::vector<Row> rows;
    std::vector<Bookmark> gone;
    std::size_t next = 0;
    while (next < m_rows.keys().size()) {
        rows.clear();
        gone.clear();
        const std::span<const Bookmark> keys(m_rows.keys());
        const auto read = m_store->readSlice(*m_table, keys.subspan(next), m_rows.isSorted(), &rows, &gone);
        if (!read) {
            // Never a blank row: an unreadable one ends the visit.
            result = read.status();
            break;
        }
        next += *read;
        for (const Bookmark key : gone)
            m_rows.markGone(key); // deleted since the refresh: skipped, and leaves the list
        bool stop = false;
        for (const Row &row : rows) {
            if (!visit(row)) {
                stop = true;
                break;
            }
        }
        if (stop)
            break;
    }
    m_visiting = false;
    dropGoneRows();
    return done(result);
}

} // namespace Merchalog
