#include "files/cataloguefiles.h"

#include "app/fieldbinder.h"
#include "app/messages.h"
#include "app/workprogress.h"
#include "catalogue/currentcatalogue.h"
#include "catalogue/recordsource.h"
#include "catalogue/sqltexts.h"
#include "catalogue/writeguard.h"
#include "files/cataloguecopy.h"
#include "files/csvwriter.h"
#include "files/newdatabase.h"

#include <QDir>
#include <QFileDialog>
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
const QString csvFilter = u"(CSV形式）csv (*.csv)"_s;

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

CatalogueFiles::CatalogueFiles(QWidget *mainWindow, RecordSource *data1, FieldBinder *binder, QObject *parent)
    : QObject(parent)
    , m_mainWindow(mainWindow)
    , m_data1(data1)
    , m_binder(binder)
    , m_dialogs(makePlatformFileDialogs())
{
}

CatalogueFiles::~CatalogueFiles()
{
    delete m_newDataBase.data();
}

void CatalogueFiles::setDialogs(std::unique_ptr<FileDialogs> dialogs)
{
    m_dialogs = std::move(dialogs);
}

void CatalogueFiles::newDatabase()
{
    if (m_newDataBase) {
        m_newDataBase->raise();
        m_newDataBase->activateWindow();
        return;
    }
    m_newDataBase = new NewDataBase(this, m_mainWindow);
    m_newDataBase->setAttribute(Qt::WA_DeleteOnClose);
    m_newDataBase->show();
}

bool CatalogueFiles::storePendingEdits()
{
    return !m_binder || m_binder->commit(m_mainWindow);
}

bool CatalogueFiles::switchCatalogue(const QString &path, const QString &recordSourceText)
{
    // Every record source of every window follows the current catalogue; the main window
    // retitles itself when it changes.
    CurrentCatalogue::instance().setDatabaseName(path);
    if (m_data1->databaseName() != path)
        m_data1->setDatabaseName(path);
    m_catalogueFileName = m_data1->databaseName();
    m_data1->setRecordSource(recordSourceText);
    if (m_data1->refresh())
        return true;
    if (m_data1->lastError() == RecordSource::Error::OpenFailed)
        reportUnreadable(path);
    return false;
}

void CatalogueFiles::reportUnreadable(const QString &path)
{
    QString detail;
    const OpenError error = Connection::check(path, &detail);
    Q_EMIT statusMessage(openErrorMessage(error, path, detail));
}

void CatalogueFiles::openCatalogue()
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
    switchCatalogue(*chosen, QString(SqlText::emptyProductView));
}

void CatalogueFiles::saveAs()
{
    if (m_catalogueFileName.isEmpty()) {
        showMessage(m_mainWindow, u"ファイルを開いてから保存してください"_s);
        return;
    }
    if (!m_dialogs)
        return;
    const std::optional<QString> chosen = m_dialogs->saveFileName(m_mainWindow, m_catalogueFileName, catalogueFilter, true);
    if (!chosen || chosen->isEmpty())
        return;
    m_catalogueFileName = *chosen;
    const QString current = m_data1->databaseName();
    if (isSameFile(*chosen, current))
        return;
    if (!storePendingEdits())
        return;
    QString error;
    if (!saveCatalogueCopy(current, *chosen, &error)) {
        showMessage(m_mainWindow, u"%1 に保存できませんでした。\n%2"_s.arg(QDir::toNativeSeparators(*chosen), error));
        return;
    }
    switchCatalogue(*chosen, QString(SqlText::emptyProductView));
}

void CatalogueFiles::exportCsv()
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
    const CsvResult result = exportProductCsv(*m_data1, *chosen,
                                              [&progress](qint64 rows) { return progress.advance(rows); });
    if (result.cancelled)
        return; // nothing written, an earlier file kept
    if (!result.ok) {
        showMessage(m_mainWindow, u"%1 に書き込めませんでした。\n%2"_s.arg(QDir::toNativeSeparators(*chosen),
                                                                          result.errorString));
        return;
    }
    if (result.replacedCharacters > 0) {
        showMessage(m_mainWindow, u"Shift_JISで表せない文字が %1 文字あったため、近い文字または「?」に置き換えました。"_s
                                      .arg(result.replacedCharacters));
    }
}

void CatalogueFiles::printerSetup()
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

bool CatalogueFiles::print(QWidget *clientArea)
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
        showMessage(m_mainWindow, u"%1 に印刷できませんでした。\n%2"_s.arg(QDir::toNativeSeparators(printer->outputFileName()),
                                                                         openCatalogueRefusal(open)));
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
