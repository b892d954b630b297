#pragma once

#include "engine/records/recordsource.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <vector>

class QLineEdit;
class QWidget;

namespace Merchalog {

// Binds line edits to fields of a record source's current record. The fields show the
// current record (blank when there is none); what the user types becomes a pending edit of
// that record, which the record source stores when the record is left. Esc in a field puts
// back the stored value.
class FieldBinder final : public QObject
{
    Q_OBJECT
public:
    explicit FieldBinder(RecordSource *source, QObject *parent = nullptr);

    // Binds an edit to a field; label names the field in messages ("標準価格").
    void bind(QLineEdit *edit, QLatin1StringView field, const QString &label);

    // Shows the current record's values in every bound field.
    void load();

    // Stores the pending edits of the current record now. On failure shows why (naming the
    // field, which gets the focus and keeps its text) and returns false.
    bool commit(QWidget *messageParent);

    // After a record-source call failed because a pending edit could not be stored (or the
    // catalogue was busy), shows the message and focuses the field. Returns true when the
    // failure was of that sort.
    bool reportStoreFailure(QWidget *messageParent);

    // Abandons pending edits of the current record and shows the stored values again.
    void discard();

    // The message for a pending edit that cannot be stored, or an empty string.
    static QString storeFailureMessage(const RecordSource &source, const QString &label);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Binding
    {
        QPointer<QLineEdit> edit;
        QString field;
        QString label;
    };

    const Binding *bindingFor(QStringView field) const;

    RecordSource *m_source;
    std::vector<Binding> m_bindings;
    bool m_loading = false;
};

} // namespace Merchalog
