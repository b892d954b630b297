#include "ui/fieldbinder.h"

#include "ui/messages.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace Merchalog {

FieldBinder::FieldBinder(RecordSource *source, QObject *parent)
    : QObject(parent)
    , m_source(source)
{
    connect(source, &RecordSource::currentRowChanged, this, &FieldBinder::load);
    connect(source, &RecordSource::currentValuesChanged, this, &FieldBinder::load);
    connect(source, &QAbstractItemModel::modelReset, this, &FieldBinder::load);
    connect(source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                const int row = m_source->currentRow();
                if (row >= topLeft.row() && row <= bottomRight.row())
                    load();
            });
}

void FieldBinder::bind(QLineEdit *edit, QLatin1StringView field, const QString &label)
{
    m_bindings.push_back({edit, QString(field), label});
    edit->installEventFilter(this);
    const QString fieldName(field);
    connect(edit, &QLineEdit::textEdited, this, [this, fieldName](const QString &text) {
        if (!m_loading)
            m_source->setText(fieldName, text);
    });
    m_loading = true;
    edit->setText(m_source->text(fieldName));
    m_loading = false;
}

void FieldBinder::load()
{
    m_loading = true;
    for (const Binding &binding : m_bindings) {
        if (!binding.edit)
            continue;
        const QString text = m_source->text(binding.field);
        if (binding.edit->text() != text) {
            binding.edit->setText(text);
            binding.edit->setCursorPosition(0);
        }
    }
    m_loading = false;
}

bool FieldBinder::commit(QWidget *messageParent)
{
    if (m_source->storePending())
        return true;
    reportStoreFailure(messageParent);
    return false;
}

QString FieldBinder::storeFailureMessage(const RecordSource &source, const QString &label)
{
    const Status &status = source.status();
    if (status.code() == ErrorCode::InvalidValue) {
        const int column = source.fieldIndex(status.field());
        const QString name = label.isEmpty() ? status.field() : label;
        if (column >= 0 && source.fieldKind(column) == Kind::SmallInt)
            return u"「%1」に-32768から32767までの整数を入力してください。"_s.arg(name);
        return u"「%1」に数値を入力してください。"_s.arg(name);
    }
    return writeFailureMessage(status, source.hasPendingEdits());
}

bool FieldBinder::reportStoreFailure(QWidget *messageParent)
{
    const Binding *binding = bindingFor(m_source->status().field());
    const QString message = storeFailureMessage(*m_source, binding ? binding->label : QString());
    if (message.isEmpty())
        return false;
    showMessage(messageParent, message);
    if (binding && binding->edit)
        binding->edit->setFocus(Qt::OtherFocusReason);
    return true;
}

void FieldBinder::discard()
{
    m_source->cancelUpdate();
    load();
}

const FieldBinder::Binding *FieldBinder::bindingFor(QStringView field) const
{
    for (const Binding &binding : m_bindings) {
        if (binding.field.compare(field, Qt::CaseInsensitive) == 0)
            return &binding;
    }
    return nullptr;
}

bool FieldBinder::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        for (const Binding &binding : m_bindings) {
            if (binding.edit != watched)
                continue;
            // Put back the stored value: drop this field's pending text only.
            m_source->setText(binding.field, RecordSource::displayText(
                m_source->hasCurrentRecord() ? m_source->row(m_source->currentRow())
                        .value(m_source->fieldIndex(binding.field)) : QVariant()));
            m_loading = true;
            binding.edit->setText(m_source->text(binding.field));
            m_loading = false;
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Merchalog
