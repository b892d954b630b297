#pragma once

// The throwaway server that ctest starts for the whole run (tools/pgserver.sh, fixture
// "pgserver"): every test makes databases of its own on it.

#include "engine/server/session.h"

#include <QFile>
#include <QUrl>
#include <QUuid>
#include <QtTest>

namespace Merchalog::Test {

// The socket folder and port of a server started by tools/pgserver.sh into statefile.
inline QStringList serverState(const QString &statefile = qEnvironmentVariable("MERCHALOG_PG_STATE"))
{
    QFile file(statefile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// The address of database on the test server as user.
inline QString serverAddress(const QString &database, const QString &user = QStringLiteral("postgres"))
{
    const QStringList state = serverState();
    if (state.size() < 2)
        return {};
    return Server::addressFromParts(state.at(0), state.at(1), database, user);
}

// Makes a new, empty database; returns its address (empty on failure).
inline QString makeDatabase()
{
    const QString name = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
    auto admin = Server::Session::connect(serverAddress(QStringLiteral("postgres")));
    if (!admin || !admin->command("CREATE DATABASE " + name.toLatin1()))
        return {};
    return serverAddress(name);
}

} // namespace Merchalog::Test
