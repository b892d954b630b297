#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Deletetorihiki;
}

namespace Merchalog {

class RecordSource;

// Looks up a supplier by code and removes it on "削除", without asking. The supplier
// fields only show the looked-up supplier: this window never changes one.
class Deletetorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit Deletetorihiki(QWidget *parent = nullptr);
    ~Deletetorihiki() override;

    // Selects no supplier (none has this code): the window at opening.
    static constexpr QLatin1StringView initialView{"select * from torihiki where torihiki_code like 99999999999"};

private:
    void lookUpCode();       // Enter in Text6
    void deleteSupplier();   // Command1
    void showCurrentRecord();

    std::unique_ptr<Ui::Deletetorihiki> m_ui;
    RecordSource *m_data1;
};

} // namespace Merchalog
