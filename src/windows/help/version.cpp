#include "windows/help/version.h"
#include "ui_version.h"

#include "ui/windowlook.h"
#include "windows/help/versioninfo.h"

#include <QPixmap>

namespace Merchalog {

Version::Version(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::Version>())
{
    setUpWindow(this, *m_ui);

    // The same texts as `merchalog --version`.
    m_ui->Label3->setText(VersionInfo::name);
    m_ui->Label5->setText(VersionInfo::notice);
    m_ui->Label4->setText(VersionInfo::address);

    // Form files hold whole points only.
    QFont nameFont = m_ui->Label3->font();
    nameFont.setPointSizeF(21.75);
    m_ui->Label3->setFont(nameFont);

    // The picture keeps its pixel size; on a denser screen it is drawn scaled to its box.
    m_ui->Picture1->setScaledContents(true);
    m_ui->Picture1->setPixmap(QPixmap(QString::fromLatin1(logoResource)));

    connect(m_ui->Command1, &QPushButton::clicked, this, &QWidget::close);
}

Version::~Version() = default;

} // namespace Merchalog
