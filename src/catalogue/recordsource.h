#pragma once

#include "catalogue/connection.h"
#include "catalogue/number.h"
#include "catalogue/schema.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

Q_DECLARE_METATYPE(Merchalog::Currency)

namespace Merchalog {

struct Statement;

// What is pending on the current record.
enum class EditMode {
    None = 0,    // nothing pending
    Editing = 1, // the current record is being edited
    Adding = 2,  // a new record is being added
};

// Identifies a stored record (its SQLite rowid, which is the key column in format 2); 0 names none.
using Bookmark = std::int64_t;

// One row as read: per result column a QString (text), a Currency (number), an int (small
// integer) or a null QVariant for an empty value.
using Row = QVariantList;

// A window's view of the catalogue: names a catalogue file and a record-source text, holds
// the rows its last refresh selected (as a keyset of row ids in table order, reading rows only
// when they are shown) and one current record. Edits to the current record, through the
// grid, bound fields or setText, stay pending until the record is left: another row becomes
// current, the record source is refreshed, or it is destroyed. No statement or read
// transaction stays open between calls, and long reads go in short slices, so other record
// sources and programs never wait on it for more than a moment.
//
// A write (a stored edit, a deletion) only ever touches the record that was read: it is
// refused (Conflict) when the record has meanwhile been deleted or any of its stored values
// changed elsewhere. The current record keeps the values it was read with for that check.
// Rows found deleted leave the list (a row of the model is removed later, never while a view
// reads it).
//
// As a table model it has one column per result field, headed by the field name; cells are
// editable; rows are never added or removed through the model.
class RecordSource final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum class Error {
        None,
        OpenFailed,      // the catalogue file is missing or is not a catalogue
        BadStatement,    // the record-source text is outside the subset or names unknown fields
        NoCurrentRecord, // Edit, Delete or a field write with nothing current
        InvalidValue,    // a pending edit or a written value does not fit the field's kind
        WriteFailed,     // the file refused the change (read-only, disk full)
        ReadFailed,      // the query could not be run
        Busy,            // another program kept the catalogue busy beyond the wait; nothing
                         // was stored or read, pending edits stay
        Conflict,        // the record was deleted or changed elsewhere since it was read:
                         // nothing was stored, pending edits are dropped and the record
                         // shows as it now stands
    };

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
    // current, or none when nothing is selected. Returns false when a pending edit cannot be
    // stored (nothing else changes), when the statement is rejected (the previous rows stay)
    // or when the file cannot be opened (the result becomes empty).
    bool refresh();
    // Lists these records of the table the last refresh read, in this order, as if a search
    // had selected them (records that are gone leave the list as it reaches them); the first
    // becomes current. The record-source text stays as it was. Returns false when a pending
    // edit cannot be stored or nothing was refreshed yet.
    bool showRecords(std::vector<Bookmark> keys);

    // Number of rows of the result; 0 exactly when nothing was selected.
    int recordCount() const { return int(m_keys.size()); }
    // The current row, or -1 when there is no current record.
    int currentRow() const { return m_current; }
    bool hasCurrentRecord() const { return m_current >= 0; }
    // Makes a row current, storing the pending edits of the record it leaves first. Returns
    // false, and leaves the current record where it is, when they cannot be stored.
    bool setCurrentRow(int row);

    EditMode editMode() const { return m_editMode; }
    // Starts a new, empty record (abandoning anything pending).
    bool addNew();
    // Starts editing the current record; fails with no current record.
    bool edit();
    // Stores the pending new or edited record; an edit only while the stored record still
    // holds what was read (Conflict otherwise).
    bool update();
    // Abandons the pending new or edited record.
    void cancelUpdate();
    // Removes the current record from the file at once, provided it still holds what was read
    // (Conflict otherwise). The result is not re-run: the removed row leaves the list, and
    // there is no current record afterwards.
    bool deleteCurrent();
    // Abandons a record being added, otherwise removes the current record.
    bool removeCurrentRecord();
    // The record most recently added or changed through this record source.
    Bookmark lastModified() const { return m_lastModified; }
    // Makes that record current; a record added since the refresh joins the end of the result.
    bool setBookmark(Bookmark bookmark);
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
    bool setValue(QAnyStringView field, const QVariant &value);
    // Writes entry text; it is converted to the field's kind when the record is stored, and an
    // edit that cannot be converted is refused then (InvalidValue, errorField names it).
    bool setText(QAnyStringView field, const QString &text);
    // Stores pending edits of the current record now (Update when something is pending).
    bool storePending();
    bool hasPendingEdits() const { return m_editMode != EditMode::None; }

    // Visits every row of the result in order without moving the current record; visit returns
    // false to stop early. Rows are read in short slices and visited between them, so no read
    // lock is held while visit runs. Rows deleted meanwhile are skipped and leave the list.
    // Returns false (errorString says why) when a row cannot be read.
    bool forEachRow(const std::function<bool(const Row &)> &visit);
    // Reads one row of the result (blank when it was removed meanwhile or cannot be read now).
    Row row(int index) const;

    Error lastError() const { return m_error; }
    QString errorString() const { return m_errorString; }
    // With InvalidValue: the field whose pending text does not fit its kind.
    QString errorField() const { return m_errorField; }

    // The shared connection of the last successful refresh (null before one).
    std::shared_ptr<Connection> connection() const { return m_connection; }

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

    // A stored record as this record source read it: its values, and its stored bytes for
    // telling whether it changed since.
    struct ReadRecord
    {
        Bookmark key = 0;
        Row values;
        QByteArray stored;
        bool valid = false;
    };
    enum class ReadResult { Found, Gone, Failed };

    void fail(Error error, const QString &message, const QString &field = {});
    // Fails with SQLite's reason for rc: Busy for a busy catalogue, otherwise error with what
    // and the file's name.
    void failSqlite(const Connection &connection, int rc, Error error, const QString &what);
    void clearError();
    bool storeCurrent();
    bool checkWritable();
    bool beginWrite(const QString &what);
    bool commitWrite(const QString &what);
    void rollbackWrite();
    // Inside a write: whether the current record is stored as it was read. On false the write
    // is refused (Conflict) or failed, and rolled back.
    bool checkCurrentUnchanged(bool deletion);
    ReadResult readRow(Bookmark key, Row *row, QByteArray *stored = nullptr) const;
    void readCurrent() const;
    const Row &cachedRow(int index) const;
    void setCurrent(int row);
    void noteGone(Bookmark key) const;
    void postDrop() const;
    void dropGoneRows();
    std::optional<QVariant> convertText(int column, const QString &text) const;

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<Connection> m_connection;
    const TableInfo *m_table = nullptr;
    std::vector<Bookmark> m_keys;
    bool m_keysSorted = true;
    int m_current = -1;
    EditMode m_editMode = EditMode::None;
    Pending m_pending;
    Bookmark m_lastModified = 0;

    QString m_selectList; // the fields, named, as SELECT lists them
    Row m_blank;          // what a row that cannot be shown reads as
    mutable QHash<Bookmark, Row> m_cache;
    // The current record as read when it became current (or last stored): shown for it, and
    // what a write checks the stored record against. Kept apart from the cache, which may be
    // dropped at any time.
    mutable ReadRecord m_read;
    // Records found deleted, waiting to leave the list.
    mutable QSet<Bookmark> m_gone;
    mutable bool m_dropPosted = false;
    bool m_visiting = false; // forEachRow is running: rows stay where they are

    Error m_error = Error::None;
    QString m_errorString;
    QString m_errorField;
};

} // namespace Merchalog
