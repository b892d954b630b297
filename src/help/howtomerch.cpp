#include "help/howtomerch.h"
#include "ui_howtomerch.h"

#include "app/windowlook.h"
#include "help/howtosetting.h"
#include "help/howtowindow.h"

namespace Merchalog {

HOWTOMERCH::HOWTOMERCH(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::HOWTOMERCH>())
{
    installJapaneseFontSubstitutes();
    m_ui->setupUi(this);
    scaleToScreen(this);
    styleHowtoLabels(m_ui->Label1, m_ui->Label5,
                     {m_ui->Label2, m_ui->Label3, m_ui->Label4, m_ui->Label5, m_ui->Label6,
                      m_ui->Label7});

    connect(m_ui->Command1, &QPushButton::clicked, this, &HOWTOMERCH::switchOff);
    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);
}

HOWTOMERCH::~HOWTOMERCH() = default;

void HOWTOMERCH::switchOff()
{
    // A setting that cannot be written only means the guide comes back next time.
    HowtoSetting::switchGuideOff();
    close();
}

} // namespace Merchalog
