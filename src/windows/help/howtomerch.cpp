#include "windows/help/howtomerch.h"
#include "ui_howtomerch.h"

#include "windows/help/howtosetting.h"
#include "windows/help/howtowindow.h"

namespace Merchalog {

HOWTOMERCH::HOWTOMERCH(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::HOWTOMERCH>())
{
    setUpHowtoWindow(this, *m_ui);

    connect(m_ui->Command1, &QPushButton::clicked, this, &HOWTOMERCH::switchOff);
}

HOWTOMERCH::~HOWTOMERCH() = default;

void HOWTOMERCH::switchOff()
{
    // A setting that cannot be written only means the guide comes back next time.
    HowtoSetting::switchGuideOff();
    close();
}

} // namespace Merchalog
