#include "app/filemenu.h"

#include "engine/files/csvwriter.h"
#include "engine/jet/fileformat.h"
#include "engine/jet/jetimport.h"
#include "engine/records/currentcatalogue.h"
#include "engine/records/recordsource.h"
#include "engine/server/cataloguetransfer.h"
#include "engine/server/session.h"
#include "engine/sqlite/cataloguecopy.h"
#include "engine/sqlite/writeguard.h"
#include "engine/statements/statementtexts.h"
#include "ui/fieldbinder.h"
#include "ui/messages.h"
#include "ui/raiseorcreate.h"
#include "ui/workprogress.h"
#include "windows/files/importpreview.h"
#include "windows/files/newdatabase.h"
#include "windows/files/serverdialog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// The dialogs' type lists: the description the user sees, then the pattern that limits the
// listing ("*.mdb", "*.csv").
const QString catalogueFilter = u"mdb(データベースファイル) (*.mdb)"_s;
const QString csvFilter = csvFileFilter();

const QString catalogueWildcard = u"*.mdb"_s;
const QString csvWildcard = u"*.csv"_s;

class PlatformFileDialogs final : public FileDialogs
{
public:
    std::optional<QString> openFileName(QWidget *parent, const QString &fileName, const QString &filter) override
    {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // A typed name of a missing file is accepted: opening it then says it is missing.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(filter);
        preset(dialog, fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    std::optional<QString> serverAddress(QWidget *parent) override { return ServerDialog::ask(parent); }

    std::optional<QString> saveFileName(QWidget *parent, const QString &fileName, const QString &filter,
                                        bool confirmOverwrite) override
    {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
        dialog.setNameFilter(filter);
        preset(dialog, fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    bool printerSetup(QWidget *parent, QPrinter *printer) override
    {
        QPrintDialog dialog(printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }

private:
    // Offers a remembered path in its folder; a bare pattern only sets the listing.
    static void preset(QFileDialog &dialog, const QString &fileName)
    {
        if (fileName.isEmpty() || fileName.startsWith(u'*'))
            return;
        const QFileInfo info(fileName);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
};

// Carries the settings a print uses from one printer object to another.
void copyPrinterSettings(const QPrinter &from, QPrinter &to)
{
    if (from.outputFormat() == QPrinter::NativeFormat) {
        to.setPrinterName(from.printerName());
    } else {
        to.setOutputFormat(QPrinter::PdfFormat);
        if (!from.outputFileName().isEmpty())
            to.setOutputFileName(from.outputFileName());
    }
    to.setPageLayout(from.pageLayout());
    to.setCopyCount(from.copyCount());
    to.setCollateCopies(from.collateCopies());
    to.setColorMode(from.colorMode());
    to.setDuplex(from.duplex());
    to.setFullPage(from.fullPage());
    to.setPageOrder(from.pageOrder());
}

} // namespace

std::unique_ptr<FileDialogs> makePlatformFileDialogs()
{
    return std::make_unique<PlatformFileDialogs>();
}

FileMenu::FileMenu(QWidget *mainWindow, RecordSource *data1, FieldBinder *binder, QObject *parent)
    : QObject(parent)
    , m_mainWindow(mainWindow)
    , m_data1(data1)
    , m_binder(binder)
    , m_dialogs(makePlatformFileDialogs())
{
}

FileMenu::~FileMenu()
{
    delete m_newDataBase.data();
}

void FileMenu::setDialogs(std::unique_ptr<FileDialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
}

void FileMenu::newDatabase()
{
    raiseOrCreate(m_newDataBase, this, m_mainWindow);
}

bool FileMenu::storePendingEdits()
{
    return !m_binder || m_binder->commit(m_mainWindow);
}

bool FileMenu::switchCatalogue(const QString &path, const QString &recordSourceText)
{
    // Every record source of every window follows the current catalogue; the main window
    // retitles itself when it changes.
    CurrentCatalogue::instance().setDatabaseName(path);
    if (m_data1->databaseName() != path)
        m_data1->setDatabaseName(path);
    m_catalogueFileName = m_data1->databaseName();
    m_data1->setRecordSource(recordSourceText);
    const Status refreshed = m_data1->refresh();
    // The reason a file cannot be opened names the file and what is wrong with it.
    if (isOpenFailure(refreshed.code()))
        Q_EMIT statusMessage(refreshed.message());
    return refreshed.ok();
}

void FileMenu::openCatalogue()
{
    if (!m_dialogs)
        return;
    m_catalogueFileName = catalogueWildcard;
    const std::optional<QString> chosen = m_dialogs->openFileName(m_mainWindow, m_catalogueFileName, catalogueFilter);
    if (!chosen || chosen->isEmpty() || *chosen == catalogueWildcard) {
        // Cancelled: offer the current catalogue again, so that Save as names it.
        m_catalogueFileName = m_data1->databaseName();
        return;
    }
    m_catalogueFileName = *chosen;
    if (!storePendingEdits()) {
        m_catalogueFileName = m_data1->databaseName();
        return;
    }
    const FileFormat format = fileFormatOf(*chosen);
    if (isJet(format)) {
        importAccessFile(*chosen);
        return;
    }
    if (format == FileFormat::Ace) {
        showMessage(m_mainWindow, aceFormatRefusal(*chosen));
        m_catalogueFileName = m_data1->databaseName();
        return;
    }
    switchCatalogue(*chosen, QString(SqlText::emptyProductView));
}

void FileMenu::openServerCatalogue()
{
    if (!m_dialogs)
        return;
    const std::optional<QString> chosen = m_dialogs->serverAddress(m_mainWindow);
    if (!chosen)
        return;
    if (chosen->isEmpty()) {
        showMessage(m_mainWindow, u"サーバーのアドレスを読めません。サーバー、ポート、データベース、ユーザーを確かめてください。"_s);
        return;
    }
    if (!storePendingEdits())
        return;
    switchCatalogue(*chosen, QString(SqlText::emptyProductView));
}

void FileMenu::importAccessFile(const QString &path)
{
    // Until a new catalogue is current, the dialogs offer the current one again.
    m_catalogueFileName = m_data1->databaseName();
    const QString shown = QDir::toNativeSeparators(path);
    QMessageBox offer(QMessageBox::NoIcon, QString(applicationTitle),
                      u"「%1」は Access 形式のファイルのため、このままでは開けません。\n"
                      u"新しいカタログに取り込みますか？（元のファイルは変更しません）"_s.arg(shown),
                      QMessageBox::NoButton, m_mainWindow);
    QPushButton *importButton = offer.addButton(u"取り込む"_s, QMessageBox::AcceptRole);
    offer.addButton(u"キャンセル"_s, QMessageBox::RejectRole);
    offer.exec();
    if (offer.clickedButton() != importButton || !m_dialogs)
        return;
    const std::optional<QString> target = m_dialogs->saveFileName(m_mainWindow, defaultImportTarget(path), catalogueFilter, false);
    if (!target || target->isEmpty())
        return;
    // The new catalogue never replaces a file, the Access file least of all.
    if (pathExists(*target)) {
        showMessage(m_mainWindow, u"「%1」はすでにあります。取り込み先には新しい名前を指定してください。"_s
                                      .arg(QDir::toNativeSeparators(*target)));
        return;
    }

    JetImport import(path);
    const auto run = [&](const QString &label, const std::function<Status(const JetImport::Progress &)> &work) {
        WorkProgress progress(m_mainWindow, label, 1000);
        const Status status = work([&](qint64 done, qint64 total) {
            return progress.advance(total > 0 ? done * 1000 / total : 0);
        });
        if (!status && status.code() != ErrorCode::Cancelled)
            showMessage(m_mainWindow, status.message());
        return status.ok();
    };
    if (!run(u"確認しています: %1"_s.arg(shown), [&](const auto &progress) { return import.makePlan(progress); }))
        return;
    ImportPreview preview(import, *target, m_dialogs.get(), m_mainWindow);
    if (preview.exec() != QDialog::Accepted)
        return;
    if (!run(u"取り込んでいます: %1"_s.arg(QDir::toNativeSeparators(*target)),
             [&](const auto &progress) { return import.store(*target, progress); }))
        return;
    const JetImportPlan &plan = import.plan();
    if (switchCatalogue(*target, QString(SqlText::emptyProductView)))
        Q_EMIT statusMessage(u"商品 %1 件、取引先 %2 件を取り込みました（エラーの行 %3 行）。"_s
                                 .arg(plan.added(ImportTable::Products))
                                 .arg(plan.added(ImportTable::Suppliers))
                                 .arg(plan.errorRows()));
}

void FileMenu::saveAs()
{
    if (m_catalogueFileName.isEmpty()) {
        showMessage(m_mainWindow, u"ファイルを開いてから保存してください"_s);
        return;
    }
    if (!m_dialogs)
        return;
    const QString current = m_data1->databaseName();
    const bool fromServer = Server::isAddress(current);
    const QString offered = Server::isAddress(m_catalogueFileName) ? catalogueWildcard : m_catalogueFileName;
    const std::optional<QString> chosen = m_dialogs->saveFileName(m_mainWindow, offered, catalogueFilter, true);
    if (!chosen || chosen->isEmpty())
        return;
    if (fromServer) {
        // A backup of the server catalogue as it stands: the server stays current. The dialog
        // asked before an existing file was chosen.
        if (!storePendingEdits())
            return;
        QString error;
        if (!Server::copyCatalogue(current, *chosen, true, nullptr, &error)) {
            showMessage(m_mainWindow, error);
            return;
        }
        Q_EMIT statusMessage(u"サーバーのカタログをファイルに保存しました: %1"_s.arg(QDir::toNativeSeparators(*chosen)));
        return;
    }
    m_catalogueFileName = *chosen;
    if (isSameFile(*chosen, current))
        return;
    if (!storePendingEdits())
        return;
    if (const Status saved = saveCatalogueCopy(current, *chosen); !saved) {
        showMessage(m_mainWindow, saved.message());
        return;
    }
    switchCatalogue(*chosen, QString(SqlText::emptyProductView));
}

void FileMenu::importCsv()
{
    if (!m_dialogs)
        return;
    const std::optional<QString> chosen = m_dialogs->openFileName(m_mainWindow, m_importFileName, csvFilter);
    if (!chosen || chosen->isEmpty())
        return;
    m_importFileName = *chosen;

    QMessageBox question(QMessageBox::NoIcon, QString(applicationTitle),
                         u"%1 に入っているのは商品ですか、取引先ですか。"_s.arg(QDir::toNativeSeparators(*chosen)),
                         QMessageBox::NoButton, m_mainWindow);
    QPushButton *products = question.addButton(u"商品(&S)"_s, QMessageBox::AcceptRole);
    QPushButton *suppliers = question.addButton(u"取引先(&T)"_s, QMessageBox::AcceptRole);
    question.addButton(u"キャンセル(&C)"_s, QMessageBox::RejectRole);
    question.exec();
    if (question.clickedButton() != products && question.clickedButton() != suppliers)
        return;
    const ImportTable table = question.clickedButton() == products ? ImportTable::Products : ImportTable::Suppliers;

    // The detail panel's edit is stored first: the import may overwrite the same product.
    if (!storePendingEdits())
        return;
    ImportPreview preview(CurrentCatalogue::instance().databaseName(), *chosen, table, m_dialogs.get(), m_mainWindow);
    if (!preview.preparePlan() || preview.exec() != QDialog::Accepted)
        return;

    const CsvImport &done = preview.csvImport();
    if (table == ImportTable::Products)
        m_data1->showRecords(done.storedProducts());
    QString said = u"%1 から%2を %3件追加し、%4件上書きしました。"_s.arg(QDir::toNativeSeparators(*chosen))
                       .arg(table == ImportTable::Products ? u"商品"_s : u"取引先"_s)
                       .arg(done.plan().count(RowOutcome::Added))
                       .arg(done.plan().count(RowOutcome::Updated));
    if (const qint64 errors = done.plan().count(RowOutcome::Error); errors > 0)
        said += u"エラーのある %1行は取り込んでいません。"_s.arg(errors);
    Q_EMIT statusMessage(said);
}

void FileMenu::exportCsv()
{
    if (!m_dialogs)
        return;
    const std::optional<QString> chosen = m_dialogs->saveFileName(m_mainWindow, m_csvFileName, csvFilter, false);
    if (!chosen || *chosen == csvWildcard)
        return;
    m_csvFileName = *chosen;
    if (chosen->isEmpty()) {
        showMessage(m_mainWindow, u"ファイル名を入力してください"_s);
        return;
    }
    if (!storePendingEdits())
        return;
    WorkProgress progress(m_mainWindow, u"CSV形式で保存しています: %1"_s.arg(QDir::toNativeSeparators(*chosen)),
                          m_data1->recordCount());
    const auto exported = exportProductCsv(*m_data1, *chosen, [&progress](qint64 rows) { return progress.advance(rows); });
    if (exported.status().code() == ErrorCode::Cancelled)
        return; // nothing written, an earlier file kept
    if (!exported) {
        showMessage(m_mainWindow, exported.status().message());
        return;
    }
    if (exported->replacedCharacters > 0) {
        showMessage(m_mainWindow, u"Shift_JISで表せない文字が %1 文字あったため、近い文字または「?」に置き換えました。"_s
                                      .arg(exported->replacedCharacters));
    }
}

void FileMenu::printerSetup()
{
    if (!m_dialogs)
        return;
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // The dialog works on a copy, so that cancelling keeps the previous printer whatever
    // the dialog did to it.
    auto candidate = std::make_unique<QPrinter>(QPrinter::HighResolution);
    copyPrinterSettings(*m_printer, *candidate);
    if (!m_dialogs->printerSetup(m_mainWindow, candidate.get()))
        return;
    m_printer = std::move(candidate);
}

bool FileMenu::print(QWidget *clientArea)
{
    if (!clientArea)
        return false;
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrinter *printer = m_printer.get();
    // Without an installed printer the default printer object writes PDF to no file: there
    // is nothing to print on.
    if (printer->outputFormat() == QPrinter::PdfFormat && printer->outputFileName().isEmpty())
        return false;
    if (!printer->isValid())
        return false;
    if (const QString open = openCatalogueAt(printer->outputFileName()); !open.isEmpty()) {
        showMessage(m_mainWindow, openCatalogueRefusal(printer->outputFileName(), open).message());
        return false;
    }

    const QPixmap image = clientArea->grab();
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    // Keep the on-screen size: one screen pixel becomes resolution/dpi printer dots.
    const qreal scale = qreal(printer->resolution()) / clientArea->logicalDpiX();
    painter.scale(scale, scale);
    painter.drawPixmap(0, 0, image);
    return painter.end();
}

} // namespace Merchalog
