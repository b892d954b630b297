#pragma once

#include <QWidget>

namespace Merchalog {

// Placeholder until the window is built.
class NEWtorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit NEWtorihiki(QWidget *parent = nullptr);
    ~NEWtorihiki() override;
};

} // namespace Merchalog
