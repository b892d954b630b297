#include "windows/files/newdatabase.h"
#include "ui_newdatabase.h"

#include "engine/sqlite/cataloguecopy.h"
#include "engine/statements/statementtexts.h"
#include "ui/appfolder.h"
#include "ui/messages.h"
#include "ui/windowlook.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Merchalog {

NewDataBase::NewDataBase(Owner *owner, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::NewDataBase>())
    , m_owner(owner)
{
    setUpWindow(this, *m_ui);
    setFixedSize(size());
    connect(m_ui->Command1, &QPushButton::clicked, this, &NewDataBase::create);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);
}

NewDataBase::~NewDataBase() = default;

QString NewDataBase::AddMdbExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QStringView lastPiece = dot < 0 ? QStringView(name) : QStringView(name).sliced(dot + 1);
    if (lastPiece == u"mdb")
        return name;
    return name + u".mdb"_s;
}

bool NewDataBase::isOutsideFolderName(const QString &name)
{
    return name.contains(u'/') || name.contains(u'\\') || name == u"." || name == u"..";
}

void NewDataBase::create()
{
    const QString typed = m_ui->Text1->text();
    if (typed.isEmpty()) {
        showMessage(this, u"ファイル名を入力してください"_s);
        return;
    }
    const QString name = AddMdbExtension(typed);
    // New catalogues go into the folder the program writes to, and only there.
    if (isOutsideFolderName(typed) || isOutsideFolderName(name)) {
        showMessage(this, u"ファイル名に「/」「\\」は使えません。また「.」「..」は名前にできません。"_s);
        return;
    }
    const QString target = AppFolder::writableFilePath(name);
    if (pathExists(target)) {
        showMessage(this, u"そのファイルはすでに存在しています"_s);
        close();
        return;
    }
    if (!m_owner->storePendingEdits())
        return;
    if (const Status copied = copyTemplateCatalogue(AppFolder::installedFilePath(u"database.dft"_s), target); !copied) {
        showMessage(this, copied.message());
        return;
    }
    m_owner->switchCatalogue(target, QString(SqlText::allProducts));
    close();
}

} // namespace Merchalog
