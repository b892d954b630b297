#pragma once

#include <QWidget>

namespace Merchalog {

// Placeholder until the window is built.
class NewDataBase final : public QWidget
{
    Q_OBJECT
public:
    explicit NewDataBase(QWidget *parent = nullptr);
    ~NewDataBase() override;
};

} // namespace Merchalog
