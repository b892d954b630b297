#include "windows/help/helphowto.h"
#include "ui_helphowto.h"

#include "windows/help/howtowindow.h"

namespace Merchalog {

HELPHOWTO::HELPHOWTO(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::HELPHOWTO>())
{
    setUpHowtoWindow(this, *m_ui);
}

HELPHOWTO::~HELPHOWTO() = default;

} // namespace Merchalog
