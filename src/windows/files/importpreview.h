#pragma once

#include "engine/csv/csvimport.h"
#include "engine/jet/jetimport.h"

#include <QDialog>

#include <functional>

#include <memory>

class QTableWidget;

namespace Ui {
class ImportPreview;
}

namespace Merchalog {

class FileDialogs;

// Shows what importing a CSV file would do before anything is stored: how the columns were
// matched, how many rows will be added, overwritten, left out or are in error, the first rows
// of each, and every error with its row, field, value and reason. The user chooses what
// becomes of rows whose code the catalogue has already, can save the error rows as a CSV file,
// and imports (accept) or cancels.
//
// The same for an Access file's import into a new catalogue, planned beforehand: its two
// tables one at a time, each with its error rows to save; accepting leaves the storing to the
// caller.
class ImportPreview final : public QDialog
{
    Q_OBJECT
public:
    // dialogs asks for the error file's name.
    ImportPreview(const QString &catalogue, const QString &fileName, ImportTable table, FileDialogs *dialogs,
                  QWidget *parent = nullptr);
    // An Access file's import, planned, into the new catalogue target.
    ImportPreview(const JetImport &import, const QString &target, FileDialogs *dialogs, QWidget *parent = nullptr);
    ~ImportPreview() override;

    // Reads the file for the preview, with a progress dialog. Returns false, after saying why,
    // when the file is refused or cannot be read, or when the user cancelled.
    bool preparePlan();

    // The import; after acceptance it has stored the rows.
    const CsvImport &csvImport() const { return *m_import; }

private:
    void showPlan();
    void showTable(const ImportPlan &plan, ImportTable table);
    void fillRows(QTableWidget *grid, const QList<ImportRow> &rows, ImportTable table);
    void changeDuplicateChoice(int index);
    void saveErrorRows();
    void importRows();
    // Runs work with a progress dialog titled label; false when it failed or was cancelled.
    bool withProgress(const QString &label, const std::function<Status(const CsvImport::Progress &)> &work);

    std::unique_ptr<Ui::ImportPreview> m_ui;
    std::unique_ptr<CsvImport> m_import;
    const JetImport *m_access = nullptr;
    QString m_fileName;
    FileDialogs *m_dialogs;
};

} // namespace Merchalog
