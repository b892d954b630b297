#pragma once

#include "engine/statements/searchmode.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QModelIndex;

namespace Ui {
class Syohin_Main;
}

namespace Merchalog {

class FileMenu;
class Chagetorihiki;
class Deletetorihiki;
class FieldBinder;
class HELPHOWTO;
class HOWTOMERCH;
class NEWtorihiki;
class Newsyohin;
class RecordSource;
class Version;

// The main window: searches products by department code and one key, lists them in the grid
// and shows the current one in the detail panel, whose edits go to the catalogue; its menus
// reach every other window.
class Syohin_Main final : public QMainWindow
{
    Q_OBJECT
public:
    explicit Syohin_Main(QWidget *parent = nullptr);
    ~Syohin_Main() override;

    // The start-up sequence: title, the catalogue dialog's file name, the empty product view,
    // then the start-up guide when howto.num says so. A catalogue that cannot be opened ends
    // it early (the guide is not shown); the status bar says why.
    void startUp();
    // Opens a catalogue named on the command line, as 開く does, once the start-up sequence is
    // done. A file that is not a readable catalogue leaves the start-up catalogue open and
    // puts the reason in the status bar.
    void openAtStart(const QString &path);

    // The product list and detail panel's record source.
    RecordSource *data1() const { return m_data1; }
    FieldBinder *binder() const { return m_binder; }
    FileMenu *fileMenu() const { return m_fileMenu; }

    // The other windows while they are open (null otherwise).
    HOWTOMERCH *startUpGuide() const;
    HELPHOWTO *helpWindow() const;
    Version *versionWindow() const;

    // Makes another search mode current; the list stays as it is until the next search.
    void setSearchMode(SearchMode mode);
    // Searches with what the two entry fields hold (Enter in either).
    void search();
    // Removes the current product from the catalogue.
    void deleteProduct();
    // Ends the program with every window, once the current product's edits are stored.
    void exitProgram();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpGrid();
    void setUpDetailPanel();
    void setUpMenus();
    void updateTitle();
    bool storeCurrentEdits();
    void finishGridEdit();
    void gridCurrentChanged(const QModelIndex &current);
    void syncGridToCurrent();
    void reportRefreshFailure();
    void closeOtherWindows();

    std::unique_ptr<Ui::Syohin_Main> m_ui;
    RecordSource *m_data1;
    FieldBinder *m_binder;
    FileMenu *m_fileMenu;
    bool m_syncingGrid = false;
    bool m_exiting = false;

    // Independent windows: the main window stays usable, and each can go to the front.
    QPointer<HOWTOMERCH> m_howtomerch;
    QPointer<HELPHOWTO> m_helphowto;
    QPointer<Version> m_version;
    QPointer<Newsyohin> m_newsyohin;
    QPointer<NEWtorihiki> m_newtorihiki;
    QPointer<Chagetorihiki> m_chagetorihiki;
    QPointer<Deletetorihiki> m_deletetorihiki;
};

} // namespace Merchalog
