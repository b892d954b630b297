#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Version;
}

namespace Merchalog {

// Who made the program: the maker's name, its logo, a notice and a web address.
class Version final : public QWidget
{
    Q_OBJECT
public:
    explicit Version(QWidget *parent = nullptr);
    ~Version() override;

    // The logo the build draws and stores with the program.
    static constexpr const char *logoResource = ":/help/merchalog-logo.jpg";

private:
    std::unique_ptr<Ui::Version> m_ui;
};

} // namespace Merchalog
