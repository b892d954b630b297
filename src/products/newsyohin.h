#pragma once

#include <QWidget>

namespace Merchalog {

// Placeholder until the window is built.
class Newsyohin final : public QWidget
{
    Q_OBJECT
public:
    explicit Newsyohin(QWidget *parent = nullptr);
    ~Newsyohin() override;
};

} // namespace Merchalog
