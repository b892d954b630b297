#pragma once

#include "catalogue/number.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <functional>
#include <memory>

class QTableView;
class QTimer;
class QWidget;

namespace Merchalog {
class RecordSource;
class Syohin_Main;
}

namespace Merchalog::Test {

// A fresh temporary folder that is the working folder and the application folder, holding an
// empty catalogue database.mdb that is the current catalogue (by that relative name, as at a
// real start). The destructor puts the working folder, application folder and catalogue back.
class TestFolder
{
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder &) = delete;
    TestFolder &operator=(const TestFolder &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // The absolute path of database.mdb.
    const QString &catalogue() const { return m_catalogue; }
    // Makes another empty catalogue in the folder; empty on failure.
    QString makeCatalogue(const QString &name) const;

private:
    QTemporaryDir m_dir;
    QString m_previousCurrent;
    QString m_catalogue;
    bool m_valid = false;
};

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
// Selects all of a field and types over it, as a user does (empty text clears it).
void overtype(QLineEdit *edit, const QString &text);
// Overtypes the field, then presses Enter.
void typeAndEnter(QLineEdit *edit, const QString &text);
void click(QPushButton *button);

// Controls by object name; a missing one is reported and comes back null.
QLineEdit *lineEdit(const QObject *window, const QString &name);
QPushButton *pushButton(const QObject *window, const QString &name);
void trigger(const QObject *window, const QString &actionName);
// Sets Text1..TextN of a window directly / reads them back.
void fill(const QObject *window, const QStringList &texts);
QStringList fieldTexts(const QObject *window, int count);
// Shows a window and waits until it is on screen (and active, when asked).
bool showWindow(QWidget *window, bool active = false);

// The main window, shown and started as at program start.
std::unique_ptr<Syohin_Main> startMain();
// Clicks a row of a grid as the user does.
void clickRow(QTableView *grid, int row);
// The product names a list holds, in list order.
QStringList listedNames(const RecordSource *source);

// Files read and written whole; readFile gives a null array for a missing file.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// Rows read back from a catalogue file, in file order. Numbers are ten-thousandths.
QList<QVariantList> productsIn(const QString &path); // every column, canonical order
QList<QVariantList> suppliersIn(const QString &path); // name, address, telephone, code, postal code
QVariantList supplierRow(const QString &mei, const QString &add, const QString &tel, qint64 codeUnits,
                         const QString &post);
// The first column of the first row of a query (null when there is none).
QVariant sqlValue(const QString &path, const QString &sql);
constexpr qint64 units(qint64 whole) { return whole * Currency::unitsPerOne; }

// Rebuilds the product table of a catalogue with its columns in another order, rows kept.
bool shuffleProductColumns(const QString &path);

} // namespace Merchalog::Test

// Exactly one message box was shown, with this text, captioned "Merchalog", no icon, OK only.
#define VERIFY_ONE_MESSAGE(catcher, expected)                                     \
    do {                                                                          \
        QCOMPARE((catcher).count(), 1);                                           \
        const auto &seen_ = (catcher).seen().constFirst();                        \
        QCOMPARE(seen_.text, QString(expected));                                  \
        QCOMPARE(seen_.title, QStringLiteral("Merchalog"));                       \
        QCOMPARE(seen_.icon, int(QMessageBox::NoIcon));                           \
        QCOMPARE(seen_.buttons.size(), 1);                                        \
    } while (false)
