#include "ui/workprogress.h"

#include "ui/messages.h"

#include <QCoreApplication>
#include <QProgressDialog>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// Work shorter than this shows nothing.
constexpr qint64 showAfterMs = 1000;
// How often the dialog is brought up to date (and events are handled) once it shows.
constexpr qint64 updateEveryMs = 50;

} // namespace

WorkProgress::WorkProgress(QWidget *parent, const QString &label, qint64 total)
    : m_parent(parent)
    , m_label(label)
    , m_total(std::max<qint64>(total, 1))
{
    m_started.start();
}

WorkProgress::~WorkProgress()
{
    delete m_dialog;
}

bool WorkProgress::advance(qint64 done)
{
    if (!m_dialog) {
        if (m_started.elapsed() < showAfterMs)
            return true;
        m_dialog = new QProgressDialog(m_label, u"キャンセル"_s, 0, 1000, m_parent);
        m_dialog->setWindowTitle(QString(applicationTitle));
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setMinimumDuration(0);
        m_dialog->setValue(0); // starts the dialog's clock; the next value shows it
        m_lastUpdate.start();
    } else if (m_lastUpdate.elapsed() < updateEveryMs) {
        return !m_dialog->wasCanceled();
    }
    m_lastUpdate.restart();
    // Thousandths, so that counts beyond the dialog's int range still show.
    m_dialog->setValue(int(std::clamp<qint64>(1 + done * 999 / m_total, 1, 1000)));
    // Paints, and lets the cancel button be pressed, also when the value stays the same.
    QCoreApplication::processEvents();
    return !m_dialog->wasCanceled();
}

} // namespace Merchalog
