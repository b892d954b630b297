#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class NewDataBase;
}

namespace Merchalog {

// Creates a catalogue from the template database.dft under the typed name in the folder the
// program writes to (the application folder, or the user's data folder for an installed
// program) and makes it the current catalogue, listing all its products.
class NewDataBase final : public QWidget
{
    Q_OBJECT
public:
    // What the window asks of the one that opened it (the main window's file menu).
    class Owner
    {
    public:
        virtual ~Owner() = default;
        // Stores the pending edits of the open catalogue; false (after saying why) when they
        // cannot be stored, and then nothing is created.
        virtual bool storePendingEdits() = 0;
        // Makes path the current catalogue of every window and lists recordSourceText.
        virtual bool switchCatalogue(const QString &path, const QString &recordSourceText) = 0;
    };

    // owner switches the program to the new catalogue; parent is the main window (the
    // window stays a separate, non-modal top-level window).
    explicit NewDataBase(Owner *owner, QWidget *parent = nullptr);
    ~NewDataBase() override;

    // Returns the name unchanged when the text after its last "." (the whole name when it has
    // none) is exactly "mdb", otherwise the name followed by ".mdb".
    static QString AddMdbExtension(const QString &name);

    // Tells whether a typed name would leave that folder ("/", "\", "." or "..").
    static bool isOutsideFolderName(const QString &name);

private:
    void create();   // Command1

    std::unique_ptr<Ui::NewDataBase> m_ui;
    Owner *m_owner;
};

} // namespace Merchalog
