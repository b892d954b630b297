#pragma once

#include "windows/files/filedialogs.h"
#include "windows/files/newdatabase.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QPrinter;
class QWidget;

namespace Merchalog {

class FieldBinder;
class RecordSource;

// The main window's file menu: new catalogue, open, save as, CSV export, printer set-up and
// printing. Holds the two remembered dialog file names (catalogue files and CSV files) and
// the printer.
class FileMenu final : public QObject, public NewDataBase::Owner
{
    Q_OBJECT
public:
    // mainWindow parents the dialogs and message boxes; data1 is the main product list;
    // binder holds the detail panel, whose pending edits are stored before a switch or export.
    FileMenu(QWidget *mainWindow, RecordSource *data1, FieldBinder *binder, QObject *parent = nullptr);
    ~FileMenu() override;

    void setDialogs(std::unique_ptr<FileDialogs> dialogs);
    FileDialogs *dialogs() const { return m_dialogs.get(); }

    // The catalogue dialog's remembered file name.
    QString catalogueFileName() const { return m_catalogueFileName; }
    void setCatalogueFileName(const QString &name) { m_catalogueFileName = name; }
    // The CSV dialog's remembered file name ("*.csv" at start).
    QString csvFileName() const { return m_csvFileName; }

    void newDatabase();           // 新規データベース作成: shows (or raises) NewDataBase
    void openCatalogue();         // 開く
    void openServerCatalogue();   // サーバーのカタログを開く
    // Offers to import the Access file at path into a new catalogue and, when the user
    // agrees, asks where to save it, shows the preview, imports and makes the new catalogue
    // current. The Access file is only read.
    void importAccessFile(const QString &path);
    // 名前を付けて保存: a file catalogue is copied and the copy becomes current; a server
    // catalogue is copied into a file (a backup) and stays current.
    void saveAs();
    void exportCsv();             // CSV形式保存
    // CSV取込: asks for a file and whether it holds products or suppliers, previews the
    // import and stores it; the imported products then make the product list.
    void importCsv();
    void printerSetup();          // 印刷設定
    // 印刷: prints an image of clientArea at its on-screen size on one page. Returns false
    // when nothing was printed (no printer, printer not ready, or an output file that is an
    // open catalogue, which is said).
    bool print(QWidget *clientArea);

    // Stores the detail panel's pending edit; false (after showing why) when it cannot be.
    bool storePendingEdits() override;
    // Makes path the current catalogue of every window, remembers it as the catalogue
    // dialog's file name and shows recordSourceText in the product list. Returns false
    // (after putting the reason in the status bar) when the file cannot be read.
    bool switchCatalogue(const QString &path, const QString &recordSourceText) override;

    QPrinter *printer() const { return m_printer.get(); }
    NewDataBase *newDataBaseWindow() const { return m_newDataBase; }

Q_SIGNALS:
    // A short Japanese note for the main window's status bar (why a file did not open, ...).
    void statusMessage(const QString &text);

private:
    QWidget *m_mainWindow;
    RecordSource *m_data1;
    FieldBinder *m_binder;
    std::unique_ptr<FileDialogs> m_dialogs;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<NewDataBase> m_newDataBase;
    QString m_catalogueFileName;
    QString m_csvFileName = QStringLiteral("*.csv");
    QString m_importFileName;
};

} // namespace Merchalog
