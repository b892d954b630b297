#include "app/syohin_main.h"
#include "ui_syohin_main.h"

#include "app/filemenu.h"
#include "engine/jet/fileformat.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/server/session.h"
#include "engine/sqlite/cataloguecopy.h"
#include "engine/sqlite/connection.h"
#include "engine/statements/searchtext.h"
#include "engine/statements/statementtexts.h"
#include "ui/fieldbinder.h"
#include "ui/messages.h"
#include "ui/raiseorcreate.h"
#include "ui/windowlook.h"
#include "windows/files/newdatabase.h"
#include "windows/help/helphowto.h"
#include "windows/help/howtomerch.h"
#include "windows/help/howtosetting.h"
#include "windows/help/version.h"
#include "windows/products/newsyohin.h"
#include "windows/products/productdeletion.h"
#include "windows/suppliers/chagetorihiki.h"
#include "windows/suppliers/deletetorihiki.h"
#include "windows/suppliers/newtorihiki.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QStatusBar>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Merchalog {

Syohin_Main::Syohin_Main(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::Syohin_Main>())
    , m_data1(new RecordSource(this))
{
    setUpWindow(this, *m_ui);
    m_data1->setObjectName(u"Data1"_s);
    // The client area keeps its size; the window fits around it, menu and status bar included,
    // and cannot be resized.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_binder = new FieldBinder(m_data1, this);
    m_fileMenu = new FileMenu(this, m_data1, m_binder, this);

    setUpGrid();
    setUpDetailPanel();
    setUpMenus();

    connect(m_ui->SBumon_code, &QLineEdit::returnPressed, this, &Syohin_Main::search);
    connect(m_ui->Search, &QLineEdit::returnPressed, this, &Syohin_Main::search);
    connect(&CurrentCatalogue::instance(), &CurrentCatalogue::databaseNameChanged, this,
            &Syohin_Main::updateTitle);
    connect(m_fileMenu, &FileMenu::statusMessage, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
}

Syohin_Main::~Syohin_Main()
{
    // The other windows end with the main window.
    closeOtherWindows();
}

HOWTOMERCH *Syohin_Main::startUpGuide() const
{
    return m_howtomerch;
}

HELPHOWTO *Syohin_Main::helpWindow() const
{
    return m_helphowto;
}

Version *Syohin_Main::versionWindow() const
{
    return m_version;
}

void Syohin_Main::setUpGrid()
{
    QTableView *grid = m_ui->DBGrid1;
    grid->setModel(m_data1);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                          | QAbstractItemView::AnyKeyPressed
                          | QAbstractItemView::SelectedClicked);
    grid->installEventFilter(this);

    // Fixed default sizes: nothing measures the rows, so a long list is read only as far as
    // it is shown.
    const double scale = screenScale(grid);
    QHeaderView *columns = grid->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setDefaultSectionSize(int(std::lround(96 * scale)));
    columns->setHighlightSections(false);
    QHeaderView *rows = grid->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Interactive);
    rows->setMinimumSectionSize(int(std::lround(8 * scale)));
    rows->setDefaultSectionSize(grid->fontMetrics().height() + int(std::lround(6 * scale)));
    // The record selectors: the model marks the current record's header.
    rows->setVisible(true);
    rows->setSectionsClickable(false);
    rows->setHighlightSections(false);
    rows->setDefaultAlignment(Qt::AlignCenter);
    rows->setFixedWidth(int(std::lround(20 * scale)));
    grid->setShowGrid(true);
    grid->setStyleSheet(u"QTableView#DBGrid1 { gridline-color: #404040; }"_s);

    connect(grid->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &Syohin_Main::gridCurrentChanged);
    connect(m_data1, &RecordSource::currentRowChanged, this, &Syohin_Main::syncGridToCurrent);
    connect(m_data1, &QAbstractItemModel::modelReset, this, &Syohin_Main::syncGridToCurrent);
    // A row found deleted leaves the list: the count the search showed follows it.
    connect(m_data1, &QAbstractItemModel::rowsRemoved, this, [this] {
        static const QRegularExpression countMessage(u"^\\d+件$"_s);
        if (countMessage.match(statusBar()->currentMessage()).hasMatch())
            statusBar()->showMessage(u"%1件"_s.arg(m_data1->recordCount()));
    });
}

void Syohin_Main::setUpDetailPanel()
{
    const struct {
        QLineEdit *edit;
        QLabel *label;
    } fields[] = {
        {m_ui->Text1, m_ui->Label3},  {m_ui->Text2, m_ui->Label4},  {m_ui->Text3, m_ui->Label5},
        {m_ui->Text4, m_ui->Label6},  {m_ui->Text5, m_ui->Label7},  {m_ui->Text6, m_ui->Label8},
        {m_ui->Text7, m_ui->Label9},  {m_ui->Text8, m_ui->Label10}, {m_ui->Text9, m_ui->Label11},
        {m_ui->Text10, m_ui->Label12}, {m_ui->Text11, m_ui->Label13},
    };
    static_assert(std::size(fields) == syohinFields.size());
    for (std::size_t i = 0; i < syohinFields.size(); ++i)
        m_binder->bind(fields[i].edit, syohinFields[i].name, fields[i].label->text());
}

void Syohin_Main::setUpMenus()
{
    // The separators keep their names, so every menu entry can be found by name.
    const QList<QAction *> fileActions = m_ui->mnufile->actions();
    int separators = 0;
    for (QAction *action : fileActions) {
        if (action->isSeparator())
            action->setObjectName(separators++ == 0 ? u"mnufileline2"_s : u"mnufileline1"_s);
    }

    // An open cell editor hands over its text first, so a switch or an export sees it.
    const auto withGridEditFinished = [this](auto command) {
        return [this, command] {
            finishGridEdit();
            command(m_fileMenu);
        };
    };
    connect(m_ui->mnufileNew, &QAction::triggered, this, withGridEditFinished([](FileMenu *menu) { menu->newDatabase(); }));
    connect(m_ui->mnufileOpen, &QAction::triggered, this, withGridEditFinished([](FileMenu *menu) { menu->openCatalogue(); }));
    connect(m_ui->mnufileOpenServer, &QAction::triggered, this,
            withGridEditFinished([](FileMenu *menu) { menu->openServerCatalogue(); }));
    connect(m_ui->mnufileSave, &QAction::triggered, this, withGridEditFinished([](FileMenu *menu) { menu->saveAs(); }));
    connect(m_ui->mnufileCSV, &QAction::triggered, this, withGridEditFinished([](FileMenu *menu) { menu->exportCsv(); }));
    connect(m_ui->mnufileImport, &QAction::triggered, this, withGridEditFinished([](FileMenu *menu) { menu->importCsv(); }));
    connect(m_ui->mnufilePrintPro, &QAction::triggered, m_fileMenu, &FileMenu::printerSetup);
    connect(m_ui->mnufilePrint, &QAction::triggered, this,
            [this] { m_fileMenu->print(m_ui->centralwidget); });
    connect(m_ui->mnufileExit, &QAction::triggered, this, &Syohin_Main::exitProgram);

    const struct {
        QAction *action;
        SearchMode mode;
    } modes[] = {
        {m_ui->mnusearchNAME, SearchMode::Name},   {m_ui->mnusearchTORIHIKI, SearchMode::Supplier},
        {m_ui->mnusearchPRICE, SearchMode::Price}, {m_ui->mnusearchEOS, SearchMode::Eos},
        {m_ui->mnusearchJAN, SearchMode::Jan},
    };
    for (const auto &entry : modes) {
        const SearchMode mode = entry.mode;
        connect(entry.action, &QAction::triggered, this, [this, mode] { setSearchMode(mode); });
    }

    connect(m_ui->mnusyohinNEW, &QAction::triggered, this, [this] { raiseOrCreate(m_newsyohin); });
    connect(m_ui->mnusyohinDelete, &QAction::triggered, this, &Syohin_Main::deleteProduct);
    connect(m_ui->mnutorihikiNEW, &QAction::triggered, this, [this] { raiseOrCreate(m_newtorihiki); });
    connect(m_ui->mnutorihikiChange, &QAction::triggered, this,
            [this] { raiseOrCreate(m_chagetorihiki); });
    connect(m_ui->mnutorihikiDelete, &QAction::triggered, this,
            [this] { raiseOrCreate(m_deletetorihiki); });
    connect(m_ui->mnuhelphowto, &QAction::triggered, this, [this] { raiseOrCreate(m_helphowto); });
    connect(m_ui->mnuhelpVersion, &QAction::triggered, this, [this] { raiseOrCreate(m_version); });
}

void Syohin_Main::startUp()
{
    updateTitle();
    m_fileMenu->setCatalogueFileName(m_data1->databaseName());
    m_data1->setRecordSource(QString(SqlText::emptyProductView));
    if (!m_data1->refresh()) {
        reportRefreshFailure();
        return;
    }
    if (HowtoSetting::guideShownAtStart())
        raiseOrCreate(m_howtomerch);
}

void Syohin_Main::openAtStart(const QString &path)
{
    // An Access file is offered for import, as 開く offers it.
    const FileFormat format = fileFormatOf(path);
    if (isJet(format)) {
        m_fileMenu->importAccessFile(path);
        return;
    }
    if (format == FileFormat::Ace) {
        statusBar()->showMessage(aceFormatRefusal(path));
        return;
    }
    // A server catalogue is checked as it opens.
    if (const Status readable = Server::isAddress(path) ? Status() : Connection::check(path); !readable) {
        statusBar()->showMessage(readable.message());
        return;
    }
    // A failure of the start-up catalogue no longer matters.
    statusBar()->clearMessage();
    m_fileMenu->switchCatalogue(path, QString(SqlText::emptyProductView));
}

void Syohin_Main::updateTitle()
{
    setWindowTitle(QString(applicationTitle) + " - "_L1 + m_data1->databaseName());
}

void Syohin_Main::setSearchMode(SearchMode mode)
{
    m_ui->Label2->setText(searchModeText(mode));
}

void Syohin_Main::search()
{
    // The label's caption is the mode.
    const auto mode = searchModeFromText(m_ui->Label2->text());
    if (!mode)
        return;
    const QString department = m_ui->SBumon_code->text();
    const QString key = m_ui->Search->text();
    const auto text = productSearchText(*mode, department, key);
    if (!text) {
        const QString problem = searchInputProblem(*mode, department, key);
        if (!problem.isEmpty())
            statusBar()->showMessage(problem);
        return;
    }
    if (!storeCurrentEdits())
        return;
    m_data1->setRecordSource(*text);
    if (!m_data1->refresh()) {
        reportRefreshFailure();
        return;
    }
    statusBar()->showMessage(u"%1件"_s.arg(m_data1->recordCount()));
}

void Syohin_Main::deleteProduct()
{
    finishGridEdit();
    deleteCurrentProduct(m_data1, this);
}

void Syohin_Main::exitProgram()
{
    if (!storeCurrentEdits())
        return;
    closeOtherWindows();
    m_exiting = true;
    close();
    QCoreApplication::quit();
}

void Syohin_Main::closeEvent(QCloseEvent *event)
{
    if (!m_exiting && !storeCurrentEdits()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool Syohin_Main::eventFilter(QObject *watched, QEvent *event)
{
    // Rows are never removed through the grid.
    if (watched == m_ui->DBGrid1 && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool Syohin_Main::storeCurrentEdits()
{
    finishGridEdit();
    return m_binder->commit(this);
}

void Syohin_Main::finishGridEdit()
{
    // An open cell editor hands its text to the record when it loses the focus.
    QWidget *focus = QApplication::focusWidget();
    if (focus && focus != m_ui->DBGrid1 && m_ui->DBGrid1->isAncestorOf(focus))
        m_ui->DBGrid1->setFocus(Qt::OtherFocusReason);
}

void Syohin_Main::gridCurrentChanged(const QModelIndex &current)
{
    if (m_syncingGrid || !current.isValid())
        return;
    if (current.row() == m_data1->currentRow() || m_data1->setCurrentRow(current.row()))
        return;
    // The record cannot be left: its edit does not fit. Once the click is over, put the grid
    // back on it and say which field is wrong.
    QMetaObject::invokeMethod(
        this,
        [this] {
            syncGridToCurrent();
            m_binder->reportStoreFailure(this);
        },
        Qt::QueuedConnection);
}

void Syohin_Main::syncGridToCurrent()
{
    QScopedValueRollback guard(m_syncingGrid, true);
    QTableView *grid = m_ui->DBGrid1;
    const int row = m_data1->currentRow();
    const QModelIndex current = grid->currentIndex();
    if (row < 0 || m_data1->columnCount() == 0) {
        grid->selectionModel()->clear();
    } else if (!current.isValid() || current.row() != row) {
        const QModelIndex index = m_data1->index(row, current.isValid() ? current.column() : 0);
        grid->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        grid->scrollTo(index);
    }
}

void Syohin_Main::reportRefreshFailure()
{
    // A pending edit that cannot be stored gets its message box; everything else that stops a
    // refresh is only noted in the status bar.
    if (m_binder->reportStoreFailure(this))
        return;
    const Status &status = m_data1->status();
    if (isOpenFailure(status.code()))
        statusBar()->showMessage(status.message()); // names the file and what is wrong with it
    else if (status.code() == ErrorCode::BadStatement)
        statusBar()->showMessage(u"検索条件が正しくないため、検索できませんでした。"_s);
    else
        statusBar()->showMessage(u"検索できませんでした。%1"_s.arg(status.message()));
}

void Syohin_Main::closeOtherWindows()
{
    // Discarded at once, without their closing steps.
    delete m_howtomerch.data();
    delete m_helphowto.data();
    delete m_version.data();
    delete m_newsyohin.data();
    delete m_newtorihiki.data();
    delete m_chagetorihiki.data();
    delete m_deletetorihiki.data();
    if (m_fileMenu)
        delete m_fileMenu->newDataBaseWindow();
}

} // namespace Merchalog
