#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace Merchalog::Server {

// Whether a catalogue name is a server address ("postgresql://…" or "postgres://…") rather
// than a file name.
bool isAddress(QStringView name);

// Reads an address the way psql reads it (PGHOST, PGPORT, PGUSER, PGDATABASE and the other
// defaults filled in) and gives the one form the program shows and keeps:
// "postgresql://user@host:5432/shop", other settings such as sslmode=require after "?".
// A password written into the address is dropped: the server asks for it, or ~/.pgpass and
// PGPASSWORD give it. Empty (and *error, Japanese) when libpq cannot read the address.
QString normalAddress(const QString &text, QString *error = nullptr);

// The address of a server catalogue from its parts; empty parts take psql's defaults.
QString addressFromParts(const QString &host, const QString &port, const QString &database, const QString &user);

// Asks the user for the password of a shown address when the server demands one and neither
// ~/.pgpass nor PGPASSWORD gives it; nullopt when the user declines. Without a prompt the
// connection fails with the server's reason.
using PasswordPrompt = std::function<std::optional<QString>(const QString &shownAddress)>;
void setPasswordPrompt(PasswordPrompt prompt);

// One result of a statement, freed when it goes.
class Result final
{
public:
    Result() = default;
    explicit Result(pg_result *result) : m_result(result) {}
    Result(Result &&other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    Result &operator=(Result &&other) noexcept;
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    ~Result();

    // The statement ran (with or without rows).
    bool ok() const;
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;
    QByteArray bytes(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    // The five-character SQLSTATE of a failure ("40001"); empty when there is none.
    QByteArray sqlState() const;
    pg_result *get() const { return m_result; }

private:
    pg_result *m_result = nullptr;
};

// A value bound to a statement in its text form (UTF-8); nullopt is NULL.
using Parameter = std::optional<QByteArray>;

// One libpq connection to a server catalogue. Every value goes to the server as a
// parameter, never as SQL text. A connection that went away (server stopped or restarted,
// network cut) fails the statement that meets it, with the reason, and is made again by the
// next call; a statement outside a transaction that finds the connection already gone is run
// once more on the new one. Failures: a false or invalid result, and errorString() (Japanese,
// with the server's reason).
class Session final
{
public:
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Connects; asks for a password only when the server demands one. Null and *error on failure.
    static std::unique_ptr<Session> connect(const QString &address, QString *error = nullptr);

    QString address() const { return m_address; }
    bool usesTls() const;

    // A second connection to the same server as the same user (with the password this one
    // was given), for work that must not share this connection's transactions.
    std::unique_ptr<Session> another(QString *error = nullptr) const;

    Result exec(const QByteArray &sql, const std::vector<Parameter> &parameters = {});
    bool command(const QByteArray &sql, const std::vector<Parameter> &parameters = {});
    // Inside a transaction: runs a statement on this connection only. A connection that went
    // away fails it (the transaction is lost with it) rather than being made again.
    Result execHere(const QByteArray &sql, const std::vector<Parameter> &parameters = {});
    // Prepares a named statement on this connection for execPrepared (also without making the
    // connection again).
    bool prepare(const QByteArray &name, const QByteArray &sql);
    Result execPrepared(const QByteArray &name, const std::vector<Parameter> &parameters);
    // Runs several statements of the program's own, with no values in them.
    bool script(const QByteArray &sql);
    // Streams data into a COPY … FROM STDIN statement: begin, put any number of times, then
    // end (abandon to make the statement fail and store nothing).
    bool beginCopy(const QByteArray &sql);
    bool putCopy(const QByteArray &data);
    bool endCopy(bool abandon);

    // Makes the connection again when it went away; false (errorString) when that fails.
    bool ensureConnected();
    // Whether the last failure was the connection going away.
    bool connectionLost() const { return m_lost; }
    // The last failure's SQLSTATE, if the server gave one.
    QByteArray lastSqlState() const { return m_sqlState; }
    QString errorString() const { return m_error; }
    // The server's own words for the last failure (no program text around them).
    QString lastReason() const { return m_reason; }

private:
    Session() = default;
    bool open(QString *error);
    void fail(const QString &reason, const QByteArray &sqlState = {});
    // Clears the last failure; false (a failure) when this connection is not there, which
    // is never made again here.
    bool connectedHere();
    Result run(const QByteArray &sql, const std::vector<Parameter> &parameters);

    pg_conn *m_conn = nullptr;
    QString m_address;
    QByteArray m_password; // kept in memory only, to connect again
    std::vector<QByteArray> m_keywords;
    std::vector<QByteArray> m_values;
    bool m_lost = false;
    QByteArray m_sqlState;
    QString m_error;
    QString m_reason;
};

} // namespace Merchalog::Server
