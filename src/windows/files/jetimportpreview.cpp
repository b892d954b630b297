#include "windows/files/jetimportpreview.h"

#include "ui/messages.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

QTableWidget *grid(const QStringList &headers, const QList<QStringList> &rows, QWidget *parent)
{
    auto *table = new QTableWidget(int(rows.size()), int(headers.size()), parent);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows.at(r).size() && c < headers.size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows.at(r).at(c).left(200)));
    }
    // A long value keeps the columns after it in view.
    table->resizeColumnsToContents();
    for (int c = 0; c < table->columnCount(); ++c)
        table->setColumnWidth(c, std::min(table->columnWidth(c), 240));
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

} // namespace

QString JetImportPreview::summary(const JetImportPlan &plan, const QString &fileName, const QString &target)
{
    QString text = u"「%1」（Access %2 形式）を新しいカタログ「%3」に取り込みます。\n"_s
                       .arg(QDir::toNativeSeparators(fileName), plan.version == 3 ? u"97"_s : u"2000-2003"_s,
                            QDir::toNativeSeparators(target));
    text += u"%1行のうち、追加 %2件（商品 %3件、取引先 %4件）、エラー %5件"_s
                .arg(plan.rows[0] + plan.rows[1]).arg(plan.addedRows()).arg(plan.added[0]).arg(plan.added[1])
                .arg(plan.errorRows);
    if (plan.errorCount > plan.errors.size())
        text += u"\nエラーの理由は %1個のうち最初の %2個を表示しています。"_s.arg(plan.errorCount).arg(plan.errors.size());
    if (!plan.ignored.isEmpty())
        text += u"\n取り込まない表と項目: %1"_s.arg(plan.ignored.join(u"、"_s));
    return text;
}

JetImportPreview::JetImportPreview(const JetImportPlan &plan, const QString &fileName, const QString &target,
                                   QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(u"Access取込"_s);
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(summary(plan, fileName, target), this);
    label->setObjectName(u"summary"_s);
    label->setWordWrap(true);
    layout->addWidget(label);

    auto *tabs = new QTabWidget(this);
    for (int t = 0; t < jetImportTableCount; ++t) {
        QStringList headers{u"行"_s};
        for (const FieldDef &field : t == 0 ? std::span<const FieldDef>(syohinFields) : std::span<const FieldDef>(torihikiFields))
            headers << QString(field.name);
        tabs->addTab(grid(headers, plan.firstRows[std::size_t(t)], tabs),
                     u"追加 %1（%2）"_s.arg(t == 0 ? u"商品"_s : u"取引先"_s).arg(plan.added[std::size_t(t)]));
    }
    QList<QStringList> errors;
    for (const JetImportError &error : plan.errors)
        errors << QStringList{QString(jetImportTableName(error.table)), QString::number(error.row), error.field,
                              error.value, error.reason};
    QTableWidget *errorGrid = grid({u"表"_s, u"行"_s, u"項目"_s, u"値"_s, u"理由"_s}, errors, tabs);
    errorGrid->setObjectName(u"errors"_s);
    tabs->addTab(errorGrid, u"エラー（%1）"_s.arg(plan.errorRows));
    if (plan.errorRows > 0)
        tabs->setCurrentWidget(errorGrid);
    layout->addWidget(tabs);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(u"取り込む(&I)"_s, QDialogButtonBox::AcceptRole)->setObjectName(u"importButton"_s);
    buttons->addButton(u"キャンセル(&C)"_s, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 480);
}

} // namespace Merchalog
