#include "help/helphowto.h"
#include "ui_helphowto.h"

#include "app/windowlook.h"
#include "help/howtowindow.h"

namespace Merchalog {

HELPHOWTO::HELPHOWTO(QWidget *parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::HELPHOWTO>())
{
    installJapaneseFontSubstitutes();
    m_ui->setupUi(this);
    scaleToScreen(this);
    styleHowtoLabels(m_ui->Label1, m_ui->Label5,
                     {m_ui->Label2, m_ui->Label3, m_ui->Label4, m_ui->Label5, m_ui->Label6,
                      m_ui->Label7});

    connect(m_ui->Command2, &QPushButton::clicked, this, &QWidget::close);
}

HELPHOWTO::~HELPHOWTO() = default;

} // namespace Merchalog
