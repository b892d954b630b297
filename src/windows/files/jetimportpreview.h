#pragma once

#include "engine/jet/jetimport.h"

#include <QDialog>

namespace Merchalog {

// Shows what importing an Access file will do before anything is stored: the rows to add of
// each table with the first of them, every row in error with its table, row, field, value
// and reason, and the tables and fields left alone. Accepting imports.
class JetImportPreview final : public QDialog
{
    Q_OBJECT
public:
    // plan is what JetImport::makePlan() found in fileName; target names the new catalogue.
    JetImportPreview(const JetImportPlan &plan, const QString &fileName, const QString &target,
                     QWidget *parent = nullptr);

    // The one-paragraph summary the dialog opens with.
    static QString summary(const JetImportPlan &plan, const QString &fileName, const QString &target);
};

} // namespace Merchalog
