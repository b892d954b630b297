#include "files/cataloguefiles.h"

#include "files/newdatabase.h"

#include <QPrinter>

namespace Merchalog {

// Placeholder until the file menu is built.
std::unique_ptr<FileDialogs> makePlatformFileDialogs() { return nullptr; }

CatalogueFiles::CatalogueFiles(QWidget *mainWindow, RecordSource *data1, FieldBinder *binder, QObject *parent)
    : QObject(parent), m_mainWindow(mainWindow), m_data1(data1), m_binder(binder) {}
CatalogueFiles::~CatalogueFiles() = default;
void CatalogueFiles::setDialogs(std::unique_ptr<FileDialogs> dialogs) { m_dialogs = std::move(dialogs); }
void CatalogueFiles::newDatabase() {}
void CatalogueFiles::openCatalogue() {}
void CatalogueFiles::saveAs() {}
void CatalogueFiles::exportCsv() {}
void CatalogueFiles::printerSetup() {}
void CatalogueFiles::print(QWidget *) {}

} // namespace Merchalog
