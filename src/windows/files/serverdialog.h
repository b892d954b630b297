#pragma once

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class ServerDialog;
}

namespace Merchalog {

// Asks where a server catalogue is: host, port, database and user, as psql takes them (an
// empty part takes psql's default: PGHOST, PGPORT, PGUSER, PGDATABASE or its own). A full
// postgresql:// address may be typed into the host field instead. Never asks for a password:
// the server asks for one when it needs it (see installPasswordPrompt).
class ServerDialog final : public QDialog
{
    Q_OBJECT
public:
    explicit ServerDialog(QWidget *parent = nullptr);
    ~ServerDialog() override;

    // The address of the parts typed, as the program shows it; empty when it cannot be read.
    QString address() const;
    void setParts(const QString &host, const QString &port, const QString &database, const QString &user);

    // Shows the dialog; the address chosen, or nullopt when cancelled.
    static std::optional<QString> ask(QWidget *parent);

private:
    std::unique_ptr<Ui::ServerDialog> m_ui;
};

// Lets a server that demands a password ask the user for it, in a box over parent. The
// password is kept only in the memory of the connection, never written or shown.
void installPasswordPrompt(QWidget *parent);

} // namespace Merchalog
