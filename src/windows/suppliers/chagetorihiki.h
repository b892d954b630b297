#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Chagetorihiki;
}

namespace Merchalog {

class FieldBinder;
class RecordSource;

// Looks up a supplier by code and lets the user overwrite its fields. "変更" stores the
// edits and closes; cancelling or closing the window drops them; a new lookup stores the
// edits of the supplier it leaves.
class Chagetorihiki final : public QWidget
{
    Q_OBJECT
public:
    explicit Chagetorihiki(QWidget *parent = nullptr);
    ~Chagetorihiki() override;

    // Selects no supplier (none has this code): the window at opening.
    static constexpr QLatin1StringView initialView{"select * from torihiki where torihiki_code like 999999999"};

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void lookUpCode();    // Enter in Text6
    void confirmChange(); // Command1

    std::unique_ptr<Ui::Chagetorihiki> m_ui;
    RecordSource *m_data1;
    FieldBinder *m_binder;
};

} // namespace Merchalog
