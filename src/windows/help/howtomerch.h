#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class HOWTOMERCH;
}

namespace Merchalog {

// The start-up guide: explains the program; its first button switches it off for good.
class HOWTOMERCH final : public QWidget
{
    Q_OBJECT
public:
    explicit HOWTOMERCH(QWidget *parent = nullptr);
    ~HOWTOMERCH() override;

private:
    void switchOff(); // Command1

    std::unique_ptr<Ui::HOWTOMERCH> m_ui;
};

} // namespace Merchalog
