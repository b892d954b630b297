#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class HELPHOWTO;
}

namespace Merchalog {

// The how-to window of the help menu: the start-up guide's text without its switch.
class HELPHOWTO final : public QWidget
{
    Q_OBJECT
public:
    explicit HELPHOWTO(QWidget *parent = nullptr);
    ~HELPHOWTO() override;

private:
    std::unique_ptr<Ui::HELPHOWTO> m_ui;
};

} // namespace Merchalog
