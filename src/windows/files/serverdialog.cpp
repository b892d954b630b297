#include "windows/files/serverdialog.h"
#include "ui_serverdialog.h"

#include "engine/server/session.h"
#include "ui/windowlook.h"

#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Merchalog {

ServerDialog::ServerDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::ServerDialog>())
{
    setUpWindow(this, *m_ui);
    m_ui->buttons->button(QDialogButtonBox::Ok)->setText(u"開く"_s);
    m_ui->buttons->button(QDialogButtonBox::Cancel)->setText(u"キャンセル"_s);
    // What psql would take when a part is left empty.
    m_ui->txtHost->setPlaceholderText(qEnvironmentVariable("PGHOST"));
    m_ui->txtPort->setPlaceholderText(qEnvironmentVariable("PGPORT", u"5432"_s));
    m_ui->txtDatabase->setPlaceholderText(qEnvironmentVariable("PGDATABASE"));
    m_ui->txtUser->setPlaceholderText(qEnvironmentVariable("PGUSER"));
}

ServerDialog::~ServerDialog() = default;

void ServerDialog::setParts(const QString &host, const QString &port, const QString &database, const QString &user)
{
    m_ui->txtHost->setText(host);
    m_ui->txtPort->setText(port);
    m_ui->txtDatabase->setText(database);
    m_ui->txtUser->setText(user);
}

QString ServerDialog::address() const
{
    const QString host = m_ui->txtHost->text().trimmed();
    if (Server::isAddress(host))
        return Server::normalAddress(host);
    return Server::normalAddress(Server::addressFromParts(host, m_ui->txtPort->text(), m_ui->txtDatabase->text().trimmed(),
                                                          m_ui->txtUser->text().trimmed()));
}

std::optional<QString> ServerDialog::ask(QWidget *parent)
{
    ServerDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.address();
}

void installPasswordPrompt(QWidget *parent)
{
    Server::setPasswordPrompt([window = QPointer<QWidget>(parent)](const QString &address) -> std::optional<QString> {
        bool ok = false;
        const QString password = QInputDialog::getText(window, u"Merchalog"_s,
                                                       u"サーバーがパスワードを求めています: %1"_s.arg(address),
                                                       QLineEdit::Password, QString(), &ok);
        if (!ok)
            return std::nullopt;
        return password;
    });
}

} // namespace Merchalog
