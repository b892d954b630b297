#pragma once

#include <QWidget>

namespace Merchalog {

// Placeholder until the window is built.
class Deletetorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit Deletetorihiki(QWidget *parent = nullptr);
    ~Deletetorihiki() override;
};

} // namespace Merchalog
