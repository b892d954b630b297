#include "windows/files/serverdialog.h"

#include "engine/server/session.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Merchalog {

ServerDialog::ServerDialog(QWidget *parent)
    : QDialog(parent)
    , m_host(new QLineEdit(this))
    , m_port(new QLineEdit(this))
    , m_database(new QLineEdit(this))
    , m_user(new QLineEdit(this))
{
    setObjectName(u"ServerDialog"_s);
    setWindowTitle(u"サーバーのカタログを開く"_s);
    m_host->setObjectName(u"txtHost"_s);
    m_port->setObjectName(u"txtPort"_s);
    m_database->setObjectName(u"txtDatabase"_s);
    m_user->setObjectName(u"txtUser"_s);
    m_port->setMaxLength(5);
    // What psql would take when a part is left empty.
    m_host->setPlaceholderText(qEnvironmentVariable("PGHOST"));
    m_port->setPlaceholderText(qEnvironmentVariable("PGPORT", u"5432"_s));
    m_database->setPlaceholderText(qEnvironmentVariable("PGDATABASE"));
    m_user->setPlaceholderText(qEnvironmentVariable("PGUSER"));

    auto *form = new QFormLayout(this);
    form->addRow(u"サーバー(&H):"_s, m_host);
    form->addRow(u"ポート(&P):"_s, m_port);
    form->addRow(u"データベース(&D):"_s, m_database);
    form->addRow(u"ユーザー(&U):"_s, m_user);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(u"開く"_s);
    buttons->button(QDialogButtonBox::Cancel)->setText(u"キャンセル"_s);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void ServerDialog::setParts(const QString &host, const QString &port, const QString &database, const QString &user)
{
    m_host->setText(host);
    m_port->setText(port);
    m_database->setText(database);
    m_user->setText(user);
}

QString ServerDialog::address() const
{
    const QString host = m_host->text().trimmed();
    if (Server::isAddress(host))
        return Server::normalAddress(host);
    return Server::normalAddress(Server::addressFromParts(host, m_port->text(), m_database->text().trimmed(),
                                                          m_user->text().trimmed()));
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
