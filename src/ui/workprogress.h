#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

class QProgressDialog;
class QWidget;

namespace Merchalog {

// Shows how far a long piece of work (an export, an import) has got. The dialog appears only
// once the work has run for about a second, with a cancel button; while it shows it is
// application-modal, so no other command starts meanwhile, and the windows keep painting.
class WorkProgress final
{
public:
    // label says what is being done; total is how many steps the work has.
    WorkProgress(QWidget *parent, const QString &label, qint64 total);
    ~WorkProgress();
    WorkProgress(const WorkProgress &) = delete;
    WorkProgress &operator=(const WorkProgress &) = delete;

    // Reports that done steps are finished. Returns false once the user has cancelled.
    bool advance(qint64 done);

private:
    QPointer<QWidget> m_parent;
    QString m_label;
    qint64 m_total;
    QElapsedTimer m_started;
    QElapsedTimer m_lastUpdate;
    QProgressDialog *m_dialog = nullptr;
};

} // namespace Merchalog
