#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Newsyohin;
}

class QLineEdit;

namespace Merchalog {

class FieldBinder;
class RecordSource;

// Registers new products: the user looks up the supplier by its code (Enter in Text16), fills
// the product fields and presses Command1. Each product goes into the current catalogue with
// the supplier panel's name and code; only the product fields are emptied afterwards, so the
// next product of the same supplier needs no new lookup. Closing discards the window together
// with any unsaved edits of the supplier panel.
class Newsyohin final : public QWidget
{
    Q_OBJECT
public:
    explicit Newsyohin(QWidget *parent = nullptr);
    ~Newsyohin() override;

    // Selects no supplier: the supplier panel at opening.
    static constexpr QLatin1StringView noSupplier{"select * from torihiki where torihiki_code=9999999999999"};

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void lookUpSupplier();   // Enter in Text16
    void registerProduct();  // Command1
    void showJanCheck();     // Text5 changed

    // Shows the message for the first of the required fields that is empty; false then.
    bool checkRequiredFields();
    // Appends the product; false when a field does not convert (reported) or the catalogue
    // refused the record (silent).
    bool appendProduct();
    void clearProductFields();

    std::unique_ptr<Ui::Newsyohin> m_ui;
    RecordSource *m_syohin;
    RecordSource *m_torihiki;
    FieldBinder *m_supplierPanel;
};

} // namespace Merchalog
