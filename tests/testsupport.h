#pragma once

#include "catalogue/number.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <functional>
#include <memory>

class QTimer;
class QWidget;

namespace Merchalog::Test {

// Creates a fresh, empty catalogue file at path; fails the calling test on error.
bool makeCatalogue(const QString &path);

// Runs SQL directly on a catalogue file (for seeding and checking), outside the program's
// record sources. Returns false and prints SQLite's message on failure.
bool execSql(const QString &path, const QString &sql);
// Returns the rows of a query on a file, each column as a QVariant (integers as qint64).
QList<QVariantList> querySql(const QString &path, const QString &sql);

// Inserts a product; numbers are given in whole or decimal text and stored as ten-thousandths.
// Empty text for a number stores NULL.
struct Product
{
    QString mei;
    QString master = QStringLiteral("100");
    QString sale = QStringLiteral("90");
    QString genka = QStringLiteral("70");
    QString jan = QStringLiteral("4901234567894");
    QString eos = QStringLiteral("1001");
    QString eostani = QStringLiteral("12");
    QString torihiki = QStringLiteral("テスト商事");
    QString torihikicode = QStringLiteral("120");
    QString bumon = QStringLiteral("3");
    QString bumonAU = QStringLiteral("1");
};
bool insertProduct(const QString &path, const Product &product);

struct Supplier
{
    QString mei;
    QString add;
    QString tel;
    QString code;
    QString post;
};
bool insertSupplier(const QString &path, const Supplier &supplier);

// Watches for modal dialogs (message boxes) while a call runs and closes them, recording what
// they showed. Create it before the call that opens the box; read after that call returns.
class ModalCatcher final : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        int icon = -1;         // QMessageBox::Icon, -1 when not a message box
        QStringList buttons;   // button texts
    };

    explicit ModalCatcher(QObject *parent = nullptr);
    ~ModalCatcher() override;

    // What to do with each box; by default press its first (OK) button, or reject it.
    void setHandler(std::function<void(QWidget *)> handler) { m_handler = std::move(handler); }

    const QList<Seen> &seen() const { return m_seen; }
    int count() const { return int(m_seen.size()); }
    QString lastText() const { return m_seen.isEmpty() ? QString() : m_seen.last().text; }

private:
    void poll();

    QTimer *m_timer;
    QList<Seen> m_seen;
    std::function<void(QWidget *)> m_handler;
};

// Types text (Japanese included) into the focused widget w, character by character.
void typeText(QWidget *w, const QString &text);

} // namespace Merchalog::Test
