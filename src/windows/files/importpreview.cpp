#include "windows/files/importpreview.h"
#include "ui_importpreview.h"

#include "ui/messages.h"
#include "ui/windowlook.h"
#include "ui/workprogress.h"
#include "engine/kinds/entrytexts.h"
#include "engine/kinds/schema.h"
#include "windows/files/filedialogs.h"
#include "engine/files/csvformat.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// How the preview names the table's fields: the export's titles for products, the supplier
// windows' captions for suppliers.
QStringList captionsOf(ImportTable table)
{
    QStringList captions;
    if (table == ImportTable::Products) {
        for (const QStringView caption : productCsvCaptions)
            captions << caption.toString();
    } else {
        for (const QStringView caption : EntryText::supplierCaptions)
            captions << caption.toString();
    }
    return captions;
}

QString fieldNameOf(ImportTable table, int field)
{
    return QString(table == ImportTable::Products ? syohinFields[std::size_t(field)].name
                                                  : torihikiFields[std::size_t(field)].name);
}

void setHeaders(QTableWidget *grid, const QStringList &headers)
{
    grid->clear();
    grid->setColumnCount(int(headers.size()));
    grid->setHorizontalHeaderLabels(headers);
    grid->verticalHeader()->setVisible(false);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
    grid->horizontalHeader()->setStretchLastSection(true);
}

void setCell(QTableWidget *grid, int row, int column, const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setToolTip(text);
    grid->setItem(row, column, item);
}

} // namespace

ImportPreview::ImportPreview(const QString &catalogue, const QString &fileName, ImportTable table,
                             FileDialogs *dialogs, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ImportPreview>())
    , m_import(std::make_unique<CsvImport>(catalogue, fileName, table))
    , m_fileName(fileName)
    , m_dialogs(dialogs)
{
    setUpWindow(this, *m_ui);
    // The main window lists the products imported.
    m_import->setListStoredProducts(table == ImportTable::Products);
    m_ui->lblFile->setText(QDir::toNativeSeparators(fileName));
    m_ui->lblTable->setText(table == ImportTable::Products ? u"商品（syohin）"_s : u"取引先（torihiki）"_s);
    m_ui->Label6->hide();
    m_ui->cboTable->hide();
    // A supplier code names one supplier: a second one is never added.
    if (table == ImportTable::Suppliers)
        m_ui->cboDuplicates->removeItem(int(DuplicateChoice::Add));

    connect(m_ui->cboDuplicates, &QComboBox::activated, this, &ImportPreview::changeDuplicateChoice);
    connect(m_ui->cmdSaveErrors, &QPushButton::clicked, this, &ImportPreview::saveErrorRows);
    connect(m_ui->Command1, &QPushButton::clicked, this, &ImportPreview::importRows);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QDialog::reject);
}

ImportPreview::ImportPreview(const JetImport &import, const QString &target, FileDialogs *dialogs, QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ImportPreview>())
    , m_access(&import)
    , m_fileName(import.fileName())
    , m_dialogs(dialogs)
{
    setUpWindow(this, *m_ui);
    setWindowTitle(u"Access取込"_s);
    const JetImportPlan &plan = import.plan();
    m_ui->lblFile->setText(QDir::toNativeSeparators(m_fileName));
    m_ui->lblTable->setText(u"新しいカタログ %1（取引先を先に、商品をその後に取り込みます）"_s.arg(
        QDir::toNativeSeparators(target)));
    m_ui->Label3->setText(u"形式"_s);
    m_ui->lblEncoding->setText(plan.version == 3 ? u"Access 97（Jet 3）"_s : u"Access 2000-2003（Jet 4）"_s);
    m_ui->Label4->hide();
    m_ui->cboDuplicates->hide();
    // The table with errors is shown first.
    const bool suppliersFirst = plan.of(ImportTable::Products).count(RowOutcome::Error) == 0
        && plan.of(ImportTable::Suppliers).count(RowOutcome::Error) > 0;
    m_ui->cboTable->setCurrentIndex(int(suppliersFirst ? ImportTable::Suppliers : ImportTable::Products));

    connect(m_ui->cboTable, &QComboBox::activated, this, &ImportPreview::showPlan);
    connect(m_ui->cmdSaveErrors, &QPushButton::clicked, this, &ImportPreview::saveErrorRows);
    connect(m_ui->Command1, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QDialog::reject);
    showPlan();
}

ImportPreview::~ImportPreview() = default;

bool ImportPreview::withProgress(const QString &label, const std::function<Status(const CsvImport::Progress &)> &work)
{
    WorkProgress progress(this, label, QFileInfo(m_fileName).size());
    const Status done = work([&progress](qint64 done, qint64) { return progress.advance(done); });
    if (done)
        return true;
    if (done.code() != ErrorCode::Cancelled && !reportWriteFailure(this, done))
        showMessage(this, done.message());
    return false;
}

bool ImportPreview::preparePlan()
{
    if (!withProgress(u"確認しています: %1"_s.arg(m_ui->lblFile->text()),
                      [this](const CsvImport::Progress &progress) { return m_import->makePlan(progress); }))
        return false;
    showPlan();
    return true;
}

void ImportPreview::showPlan()
{
    if (!m_access) {
        showTable(m_import->plan(), m_import->table());
        return;
    }
    const auto table = ImportTable(m_ui->cboTable->currentIndex());
    showTable(m_access->plan().of(table), table);
    const JetImportPlan &plan = m_access->plan();
    QString counts = m_ui->lblCounts->text();
    counts.prepend(u"全体: 追加 %1件（商品 %2件、取引先 %3件）、エラー %4件\n"_s.arg(plan.addedRows())
                       .arg(plan.added(ImportTable::Products))
                       .arg(plan.added(ImportTable::Suppliers))
                       .arg(plan.errorRows()));
    m_ui->lblCounts->setText(counts);
    m_ui->lblColumns->setText(plan.ignored.isEmpty() ? QString()
                                                     : u"取り込まない表と項目: %1"_s.arg(plan.ignored.join(u"、"_s)));
    m_ui->Command1->setEnabled(plan.addedRows() > 0);
}

void ImportPreview::showTable(const ImportPlan &plan, ImportTable table)
{
    if (!m_access)
        m_ui->lblEncoding->setText(encodingName(plan.encoding));

    setHeaders(m_ui->gridColumns, {u"ファイルの見出し"_s, u"取り込む項目"_s});
    m_ui->gridColumns->setRowCount(int(plan.headers.size()));
    const QStringList captions = captionsOf(table);
    for (int column = 0; column < plan.headers.size(); ++column) {
        const int field = plan.columnField.at(std::size_t(column));
        setCell(m_ui->gridColumns, column, 0, plan.headers.at(column));
        setCell(m_ui->gridColumns, column, 1,
                field < 0 ? u"（取り込みません）"_s : u"%1（%2）"_s.arg(captions.at(field), fieldNameOf(table, field)));
    }
    m_ui->gridColumns->resizeColumnsToContents();
    QStringList notes;
    if (!plan.unknownColumns.isEmpty())
        notes << u"見出しが項目名にない列は取り込みません: %1"_s.arg(plan.unknownColumns.join(u"、"_s));
    if (!plan.missingFields.isEmpty())
        notes << u"ファイルにない項目: %1"_s.arg(plan.missingFields.join(u"、"_s));
    m_ui->lblColumns->setText(notes.join(u'\n'));

    const qint64 added = plan.count(RowOutcome::Added);
    const qint64 updated = plan.count(RowOutcome::Updated);
    const qint64 errors = plan.count(RowOutcome::Error);
    QString counts = u"%1行のうち、追加 %2件、上書き %3件、取り込まない %4件、エラー %5件"_s.arg(plan.rows)
                         .arg(added)
                         .arg(updated)
                         .arg(plan.count(RowOutcome::Skipped))
                         .arg(errors);
    if (plan.duplicatesInFile > 0)
        counts += u"\nファイルの中に、前の行と同じコードの行が %1行あります。"_s.arg(plan.duplicatesInFile);
    if (plan.errors.size() < plan.errorCount)
        counts += u"\nエラーの理由は %1個のうち最初の %2個を表示しています。"_s.arg(plan.errorCount).arg(plan.errors.size());
    m_ui->lblCounts->setText(counts);

    fillRows(m_ui->gridAdded, plan.firstRows[std::size_t(RowOutcome::Added)], table);
    fillRows(m_ui->gridUpdated, plan.firstRows[std::size_t(RowOutcome::Updated)], table);
    fillRows(m_ui->gridSkipped, plan.firstRows[std::size_t(RowOutcome::Skipped)], table);
    setHeaders(m_ui->gridErrors, {u"行"_s, u"項目"_s, u"値"_s, u"理由"_s});
    m_ui->gridErrors->setRowCount(int(plan.errors.size()));
    for (int i = 0; i < plan.errors.size(); ++i) {
        const ImportError &error = plan.errors.at(i);
        setCell(m_ui->gridErrors, i, 0, QString::number(error.row));
        setCell(m_ui->gridErrors, i, 1, error.field);
        setCell(m_ui->gridErrors, i, 2, error.value);
        setCell(m_ui->gridErrors, i, 3, error.reason);
    }
    m_ui->gridErrors->resizeColumnsToContents();
    const auto tabTitle = [](const QString &name, qint64 count) { return u"%1（%2）"_s.arg(name).arg(count); };
    m_ui->tabRows->setTabText(0, tabTitle(u"追加"_s, added));
    m_ui->tabRows->setTabText(1, tabTitle(u"上書き"_s, updated));
    m_ui->tabRows->setTabText(2, tabTitle(u"取り込まない"_s, plan.count(RowOutcome::Skipped)));
    m_ui->tabRows->setTabText(3, tabTitle(u"エラー"_s, errors));
    if (errors > 0 && added + updated == 0)
        m_ui->tabRows->setCurrentWidget(m_ui->tabErrors);

    m_ui->cmdSaveErrors->setEnabled(errors > 0);
    m_ui->Command1->setEnabled(added + updated > 0);
}

void ImportPreview::fillRows(QTableWidget *grid, const QList<ImportRow> &rows, ImportTable table)
{
    setHeaders(grid, QStringList{u"行"_s} + captionsOf(table));
    grid->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        setCell(grid, i, 0, QString::number(rows.at(i).row));
        for (int field = 0; field < rows.at(i).values.size(); ++field)
            setCell(grid, i, field + 1, rows.at(i).values.at(field));
    }
    grid->resizeColumnsToContents();
}

void ImportPreview::changeDuplicateChoice(int index)
{
    const auto choice = DuplicateChoice(index);
    if (choice == m_import->duplicateChoice())
        return;
    const DuplicateChoice previous = m_import->duplicateChoice();
    m_import->setDuplicateChoice(choice);
    if (!preparePlan()) {
        // The earlier choice stays, and with it the plan shown.
        m_import->setDuplicateChoice(previous);
        m_ui->cboDuplicates->setCurrentIndex(int(previous));
    }
}

void ImportPreview::saveErrorRows()
{
    if (!m_dialogs)
        return;
    const QFileInfo file(m_fileName);
    const auto table = ImportTable(m_ui->cboTable->currentIndex());
    const QString suffix = m_access ? u"-%1-エラー.csv"_s.arg(jetImportTableName(table)) : u"-エラー.csv"_s;
    const auto chosen = m_dialogs->saveFileName(this, file.dir().filePath(file.completeBaseName() + suffix),
                                                csvFileFilter(), true);
    if (!chosen || chosen->isEmpty())
        return;
    if (m_access) {
        if (const Status saved = m_access->saveErrorRows(table, *chosen); !saved && !reportWriteFailure(this, saved))
            showMessage(this, saved.message());
        return;
    }
    withProgress(u"エラーの行を保存しています: %1"_s.arg(QDir::toNativeSeparators(*chosen)),
                 [this, &chosen](const CsvImport::Progress &progress) { return m_import->saveErrorRows(*chosen, progress); });
}

void ImportPreview::importRows()
{
    if (withProgress(u"取り込んでいます: %1"_s.arg(m_ui->lblFile->text()),
                     [this](const CsvImport::Progress &progress) { return m_import->store(progress); })) {
        accept();
        return;
    }
    // A catalogue changed since the preview gives a new plan to look at.
    showPlan();
}

} // namespace Merchalog
