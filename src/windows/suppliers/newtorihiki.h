#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class NEWtorihiki;
}

namespace Merchalog {

class RecordSource;

// Registers new suppliers: checks that all five fields are filled in and that the code is
// not taken yet, appends the supplier, empties the fields and stays open for the next one.
class NEWtorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit NEWtorihiki(QWidget *parent = nullptr);
    ~NEWtorihiki() override;

private:
    void registerSupplier(); // Command1

    std::unique_ptr<Ui::NEWtorihiki> m_ui;
    RecordSource *m_data1;
};

} // namespace Merchalog
