#pragma once

#include <QWidget>

namespace Merchalog {

// Placeholder until the window is built.
class Chagetorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit Chagetorihiki(QWidget *parent = nullptr);
    ~Chagetorihiki() override;
};

} // namespace Merchalog
