#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class NewDataBase;
}

namespace Merchalog {

class CatalogueFiles;

// Creates a catalogue from the template database.dft under the typed name in the folder the
// program writes to (the application folder, or the user's data folder for an installed
// program) and makes it the current catalogue, listing all its products.
class NewDataBase final : public QWidget
{
    Q_OBJECT
public:
    // files switches the main window to the new catalogue; parent is the main window (the
    // window stays a separate, non-modal top-level window).
    explicit NewDataBase(CatalogueFiles *files, QWidget *parent = nullptr);
    ~NewDataBase() override;

    // Returns the name unchanged when the text after its last "." (the whole name when it has
    // none) is exactly "mdb", otherwise the name followed by ".mdb".
    static QString AddMdbExtension(const QString &name);

    // Tells whether a typed name would leave that folder ("/", "\", "." or "..").
    static bool isOutsideFolderName(const QString &name);

private:
    void create();   // Command1

    std::unique_ptr<Ui::NewDataBase> m_ui;
    CatalogueFiles *m_files;
};

} // namespace Merchalog
