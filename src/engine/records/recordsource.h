#pragma once

#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/records/cataloguestore.h"
#include "engine/records/rowcache.h"
#include "engine/result.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace Merchalog {

// What is pending on the current record.
enum class EditMode {
    None = 0,    // nothing pending
    Editing = 1, // the current record is being edited
    Adding = 2,  // a new record is being added
};

// A window's view of the catalogue: names a catalogue file and a record-source text, holds
// the rows its last refresh selected (as a keyset in table order, reading rows only when they
// are shown; see RowCache) and one current record. Edits to the current record, through the
// grid, bound fields or setText, stay pending until the record is left: another row becomes
// current, the record source is refreshed, or it is destroyed. No statement or read
// transaction stays open between calls, and long reads go in short slices, so other record
// sources and programs never wait on it for more than a moment.
//
// A write (a stored edit, a deletion) only ever touches the record that was read: it is
// refused (Conflict) when the record has meanwhile been deleted or any of its stored values
// changed elsewhere. The current record keeps the values it was read with for that check.
// Rows found deleted leave the list (a row of the model is removed later, never while a view
// reads it). Where the rows live is the store's business (see CatalogueStore).
//
// Every operation that can fail returns a Status (see result.h) and keeps it as status(),
// also the failures that happen where no caller sees a result (a grid's edit, a row change
// the grid asks for): an open failure (isOpenFailure) when the catalogue cannot be opened,
// BadStatement, NoCurrentRecord, InvalidValue (status().field() names the field),
// ReadFailed, WriteFailed, Busy (another program kept the catalogue busy beyond the wait;
// nothing was stored or read, pending edits stay) and Conflict (nothing was stored, pending
// edits are dropped and the record shows as it now stands).
//
// As a table model it has one column per result field, headed by the field name; cells are
// editable; rows are never added or removed through the model.
class RecordSource final : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Names the current catalogue and follows it when another becomes current.
    explicit RecordSource(QObject *parent = nullptr);
    // Stores pending edits of the current record, as leaving it does.
    ~RecordSource() override;

    QString databaseName() const { return m_databaseName; }
    // Takes effect at the next refresh.
    void setDatabaseName(const QString &name);
    QString recordSource() const { return m_recordSource; }
    // Takes effect at the next refresh.
    void setRecordSource(const QString &text) { m_recordSource = text; }

    // Stores pending edits, then runs the record source against the file. The first row becomes
    // current, or none when nothing is selected. Fails when a pending edit cannot be stored
    // (nothing else changes), when the statement is rejected or its rows cannot be read (the
    // previous rows stay) or when the file cannot be opened (the result becomes empty).
    Status refresh();
    // Stores pending edits, then opens a table of the catalogue with an empty result, reading
    // no row: for a record source that only adds records (see appendRecord). The table
    // becomes the record-source text.
    Status openTable(QAnyStringView table);
    // Lists these records of the table the last refresh or openTable opened, in this order,
    // as if a search had selected them (records that are gone leave the list as it reaches
    // them); the first becomes current. The record-source text stays as it was. Fails when a
    // pending edit cannot be stored or no table is open.
    Status showRecords(std::vector<Bookmark> keys);

    // Number of rows of the result; 0 exactly when nothing was selected.
    int recordCount() const { return m_rows.count(); }
    // The current row, or -1 when there is no current record.
    int currentRow() const { return m_current; }
    bool hasCurrentRecord() const { return m_current >= 0; }
    // Makes a row current, storing the pending edits of the record it leaves first. Fails,
    // and leaves the current record where it is, when they cannot be stored.
    Status setCurrentRow(int row);

    EditMode editMode() const { return m_editMode; }
    // Starts a new, empty record (abandoning anything pending).
    Status addNew();
    // Starts editing the current record; fails with no current record.
    Status edit();
    // Stores the pending new or edited record; an edit only while the stored record still
    // holds what was read (Conflict otherwise).
    Status update();
    // Abandons the pending new or edited record.
    void cancelUpdate();
    // Removes the current record from the file at once, provided it still holds what was read
    // (Conflict otherwise). The result is not re-run: the removed row leaves the list, and
    // there is no current record afterwards.
    Status deleteCurrent();
    // Abandons a record being added, otherwise removes the current record.
    Status removeCurrentRecord();
    // The record most recently added or changed through this record source.
    Bookmark lastModified() const { return m_lastModified; }
    // Makes that record current; a record added since the refresh joins the end of the result.
    Status setBookmark(Bookmark bookmark);
    // The current record's bookmark, 0 when there is none.
    Bookmark bookmark() const;

    // The result's fields, in the file's column order.
    int fieldCount() const { return m_table ? int(m_table->columns.size()) : 0; }
    QString fieldName(int column) const;
    Kind fieldKind(int column) const;
    int fieldIndex(QAnyStringView name) const;

    // The current record's value (pending edits included); null when empty or nothing is current.
    QVariant value(QAnyStringView field) const;
    // The current record's value as shown in a bound field; pending edits included.
    QString text(QAnyStringView field) const;
    // Writes a typed value into the pending record (after addNew or edit, or implicitly
    // starting an edit of the current record).
    Status setValue(QAnyStringView field, const QVariant &value);
    // Writes entry text; it is converted to the field's kind when the record is stored, and an
    // edit that cannot be converted is refused then (InvalidValue, naming the field).
    Status setText(QAnyStringView field, const QString &text);
    // Stores pending edits of the current record now (Update when something is pending).
    Status storePending();
    bool hasPendingEdits() const { return m_editMode != EditMode::None; }

    // Visits every row of the result in order without moving the current record; visit returns
    // false to stop early. Rows are read in short slices and visited between them, so no read
    // lock is held while visit runs. Rows deleted meanwhile are skipped and leave the list.
    // Fails when a row cannot be read.
    Status forEachRow(const std::function<bool(const Row &)> &visit);
    // Reads one row of the result (blank when it was removed meanwhile or cannot be read now).
    Row row(int index) const;

    // The outcome of the last operation.
    const Status &status() const { return m_status; }

    // Where the rows of the last successful refresh live (null before one).
    CatalogueStore *store() const { return m_store.get(); }

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Converts stored or typed values for display.
    static QString displayText(const QVariant &value);

Q_SIGNALS:
    // The current record changed (another row, a refresh, a removal, a bookmark).
    void currentRowChanged(int row);
    // The current record's shown values changed (an edit stored or abandoned).
    void currentValuesChanged();

private:
    struct Pending
    {
        QHash<int, QVariant> typed;  // column -> value set through setValue
        QHash<int, QString> texts;   // column -> entry text awaiting conversion
    };

    // The current record as this record source read it: what it shows, and what a write
    // checks the stored record against.
    struct ReadRecord
    {
        Bookmark key = 0;
        StoredRow stored;
        bool valid = false;
    };

    // Keeps the outcome of an operation as status() and returns it.
    Status done(Status status);
    Status fail(ErrorCode code, const QString &message, const QString &field = {});
    Status open(const QString &recordSource, bool selectRows);
    void clearResult();
    Status storeCurrent();
    // After a write found the record changed or deleted since it was read: drops the pending
    // edits, shows the record as it now stands (a deleted one leaves the list) and fails.
    Status conflict(const WriteOutcome &outcome, bool deletion);
    void showKeys(std::vector<Bookmark> keys);
    void readCurrent() const;
    const Row &cachedRow(int index) const;
    // Reads the rows from index on, a page of them, into the cache.
    void readPage(int index) const;
    void setCurrent(int row);
    void noteGone(Bookmark key) const;
    void postDrop() const;
    void dropGoneRows();
    void emitRowChanged(int row);
    std::optional<QVariant> convertText(int column, const QString &text) const;

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<CatalogueStore> m_store;
    const TableInfo *m_table = nullptr;
    mutable RowCache m_rows;
    int m_current = -1;
    EditMode m_editMode = EditMode::None;
    Pending m_pending;
    Bookmark m_lastModified = 0;

    Row m_blank; // what a row that cannot be shown reads as
    // The current record as read when it became current (or last stored): shown for it, and
    // what a write checks the stored record against. Kept apart from the cache, which may be
    // dropped at any time.
    mutable ReadRecord m_read;
    mutable bool m_dropPosted = false;
    bool m_visiting = false; // forEachRow is running: rows stay where they are

    Status m_status;
};

} // namespace Merchalog
