#include "engine/server/session.h"

#include <QUrl>

#include <libpq-fe.h>
#include <poll.h>

#include <charconv>
#include <cstring>
#include <map>

using namespace Qt::StringLiterals;

namespace Merchalog::Server {

namespace {

PasswordPrompt &passwordPrompt()
{
    static PasswordPrompt prompt;
    return prompt;
}

// Where libpq looks when no host is named (Debian's socket folder).
constexpr const char *defaultSocketFolder = "/var/run/postgresql";

// The settings that the shown form writes out itself, or never.
bool isWrittenApart(const char *keyword)
{
    for (const char *own : {"host", "hostaddr", "port", "user", "dbname", "password"}) {
        if (std::strcmp(keyword, own) == 0)
            return true;
    }
    return false;
}

QString reasonText(const char *message)
{
    // libpq's messages end with a line break and may span lines.
    return QString::fromUtf8(message).simplified();
}

struct ConninfoDeleter
{
    void operator()(PQconninfoOption *options) const { PQconninfoFree(options); }
};
using Conninfo = std::unique_ptr<PQconninfoOption, ConninfoDeleter>;

Conninfo parseConninfo(const QString &text, QString *error)
{
    char *message = nullptr;
    Conninfo options(PQconninfoParse(text.toUtf8().constData(), &message));
    if (!options) {
        if (error)
            *error = u"サーバーのアドレスを読めません: %1"_s.arg(message ? reasonText(message) : u"out of memory"_s);
        PQfreemem(message);
    }
    return options;
}

QByteArray encoded(const QByteArray &value)
{
    return QUrl::toPercentEncoding(QString::fromUtf8(value));
}

// Values as libpq takes them: pointers into the parameters (null for SQL NULL) and lengths.
struct ParameterArrays
{
    explicit ParameterArrays(const std::vector<Parameter> &parameters)
    {
        values.reserve(parameters.size());
        lengths.reserve(parameters.size());
        for (const Parameter &parameter : parameters) {
            values.push_back(parameter ? parameter->constData() : nullptr);
            lengths.push_back(parameter ? int(parameter->size()) : 0);
        }
    }
    int count() const { return int(values.size()); }

    std::vector<const char *> values;
    std::vector<int> lengths;
};

} // namespace

bool isAddress(QStringView name)
{
    return name.startsWith(u"postgresql://", Qt::CaseInsensitive) || name.startsWith(u"postgres://", Qt::CaseInsensitive);
}

QString normalAddress(const QString &text, QString *error)
{
    if (!isAddress(text)) {
        if (error)
            *error = u"サーバーのアドレスではありません: %1"_s.arg(text);
        return {};
    }
    const Conninfo options = parseConninfo(text, error);
    if (!options)
        return {};
    std::map<QByteArray, QByteArray> given;
    for (const PQconninfoOption *option = options.get(); option->keyword; ++option) {
        if (option->val && *option->val)
            given[option->keyword] = option->val;
    }
    // What psql would take for what the address leaves out.
    const Conninfo defaults(PQconndefaults());
    for (const PQconninfoOption *option = defaults.get(); option && option->keyword; ++option) {
        const QByteArray keyword = option->keyword;
        if (given.count(keyword) || !option->val || !*option->val)
            continue;
        if (keyword == "host" || keyword == "port" || keyword == "user" || keyword == "dbname")
            given[keyword] = option->val;
    }
    QByteArray host = given.count("host") ? given["host"] : QByteArray(defaultSocketFolder);
    const QByteArray user = given["user"];
    const QByteArray port = given.count("port") ? given["port"] : QByteArray("5432");
    const QByteArray database = given.count("dbname") ? given["dbname"] : user;
    // libpq would take a port it cannot use and fail only when connecting, with a reason
    // that does not say which part was wrong.
    for (const QByteArray &part : port.split(',')) {
        bool number = false;
        const int value = part.toInt(&number);
        if (!part.isEmpty() && (!number || value < 1 || value > 65535 || part.startsWith('+'))) {
            if (error)
                *error = u"ポート番号は 1 から 65535 までの数字で書いてください: %1"_s.arg(QString::fromUtf8(part));
            return {};
        }
    }

    QByteArray shown = "postgresql://";
    if (!user.isEmpty())
        shown += encoded(user) + '@';
    if (host.contains(':') && !host.startsWith('/'))
        shown += '[' + host + ']';
    else
        shown += encoded(host);
    shown += ':' + encoded(port) + '/' + encoded(database);
    char separator = '?';
    for (const auto &[keyword, value] : given) {
        if (isWrittenApart(keyword.constData()))
            continue;
        shown += separator + keyword + '=' + encoded(value);
        separator = '&';
    }
    return QString::fromUtf8(shown);
}

QString addressFromParts(const QString &host, const QString &port, const QString &database, const QString &user)
{
    QString address = u"postgresql://"_s;
    if (!user.isEmpty())
        address += QString::fromLatin1(QUrl::toPercentEncoding(user)) + u'@';
    const QString trimmedHost = host.trimmed();
    if (trimmedHost.contains(u':') && !trimmedHost.startsWith(u'/') && !trimmedHost.startsWith(u'['))
        address += u'[' + trimmedHost + u']';
    else
        address += QString::fromLatin1(QUrl::toPercentEncoding(trimmedHost, "[]"));
    if (!port.trimmed().isEmpty())
        address += u':' + QString::fromLatin1(QUrl::toPercentEncoding(port.trimmed()));
    address += u'/' + QString::fromLatin1(QUrl::toPercentEncoding(database));
    return address;
}

void setPasswordPrompt(PasswordPrompt prompt)
{
    passwordPrompt() = std::move(prompt);
}

Result &Result::operator=(Result &&other) noexcept
{
    if (this != &other) {
        PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

Result::~Result()
{
    PQclear(m_result);
}

bool Result::ok() const
{
    const ExecStatusType status = m_result ? PQresultStatus(m_result) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

int Result::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

int Result::columns() const
{
    return m_result ? PQnfields(m_result) : 0;
}

bool Result::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

QString Result::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

QByteArray Result::bytes(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

std::int64_t Result::integer(int row, int column) const
{
    const char *value = PQgetvalue(m_result, row, column);
    std::int64_t number = 0;
    std::from_chars(value, value + PQgetlength(m_result, row, column), number);
    return number;
}

QByteArray Result::sqlState() const
{
    const char *state = m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr;
    return state ? QByteArray(state) : QByteArray();
}

Session::~Session()
{
    PQfinish(m_conn);
    m_password.fill('\0');
}

std::unique_ptr<Session> Session::connect(const QString &address, QString *error)
{
    QString readError;
    const QString shown = normalAddress(address, &readError);
    if (shown.isEmpty()) {
        if (error)
            *error = readError;
        return nullptr;
    }
    const Conninfo options = parseConninfo(shown, error);
    if (!options)
        return nullptr;

    std::unique_ptr<Session> session(new Session);
    session->m_address = shown;
    QByteArray serverOptions;
    bool haveTimeout = false;
    for (const PQconninfoOption *option = options.get(); option->keyword; ++option) {
        if (!option->val || !*option->val)
            continue;
        if (std::strcmp(option->keyword, "options") == 0) {
            serverOptions = option->val;
            continue;
        }
        haveTimeout = haveTimeout || std::strcmp(option->keyword, "connect_timeout") == 0;
        session->m_keywords.emplace_back(option->keyword);
        session->m_values.emplace_back(option->val);
    }
    const auto add = [&](const char *keyword, const char *value) {
        session->m_keywords.emplace_back(keyword);
        session->m_values.emplace_back(value);
    };
    add("client_encoding", "UTF8");
    add("fallback_application_name", "Merchalog");
    if (!haveTimeout)
        add("connect_timeout", "10");
    // A cut network ends a statement after a while instead of hanging the window.
    add("keepalives_idle", "30");
    add("keepalives_interval", "10");
    add("keepalives_count", "3");
    add("tcp_user_timeout", "60000");
    // A write waits for another program's lock this long at most, as a file catalogue does;
    // a refresh reads its whole result (no fast-start plans for the key cursor).
    // Settings the address names itself come last and win.
    add("options", ("-c lock_timeout=5000 -c cursor_tuple_fraction=1 " + serverOptions).trimmed().constData());
    if (!session->open(error))
        return nullptr;
    return session;
}

bool Session::open(QString *error)
{
    const auto attempt = [this] {
        std::vector<const char *> keywords;
        std::vector<const char *> values;
        for (std::size_t i = 0; i < m_keywords.size(); ++i) {
            keywords.push_back(m_keywords[i].constData());
            values.push_back(m_values[i].constData());
        }
        if (!m_password.isEmpty()) {
            keywords.push_back("password");
            values.push_back(m_password.constData());
        }
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        PQfinish(m_conn);
        m_conn = PQconnectdbParams(keywords.data(), values.data(), 0);
        return m_conn && PQstatus(m_conn) == CONNECTION_OK;
    };

    bool connected = attempt();
    bool asked = false;
    if (!connected && PQconnectionNeedsPassword(m_conn) && m_password.isEmpty() && passwordPrompt()) {
        const std::optional<QString> password = passwordPrompt()(m_address);
        if (!password) {
            const QString message = u"パスワードが入力されなかったため、サーバーのカタログに接続しませんでした: %1"_s.arg(m_address);
            m_error = message;
            if (error)
                *error = message;
            return false;
        }
        m_password = password->toUtf8();
        asked = true;
        connected = attempt();
    }
    if (!connected) {
        m_reason = m_conn ? reasonText(PQerrorMessage(m_conn)) : u"out of memory"_s;
        m_error = u"サーバーのカタログに接続できません: %1 (%2)"_s.arg(m_address, m_reason);
        // A password that the server refused is asked for again next time.
        if (asked || PQconnectionUsedPassword(m_conn))
            m_password.fill('\0'), m_password.clear();
        if (error)
            *error = m_error;
        return false;
    }
    PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
    return true;
}

std::unique_ptr<Session> Session::another(QString *error) const
{
    std::unique_ptr<Session> session(new Session);
    session->m_address = m_address;
    session->m_keywords = m_keywords;
    session->m_values = m_values;
    session->m_password = m_password;
    if (!session->open(error))
        return nullptr;
    return session;
}

bool Session::usesTls() const
{
    return m_conn && PQsslInUse(m_conn) == 1;
}

bool Session::ensureConnected()
{
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE) {
        // An idle connection that the server closed (stopped, restarted, ended it) has its
        // goodbye waiting on the socket: notice it now rather than fail the next statement.
        // Nothing else arrives on an idle connection: whatever does (the server's FATAL
        // message, the end of the stream, TLS's close) means it is over.
        pollfd socket{PQsocket(m_conn), POLLIN, 0};
        if (socket.fd >= 0 && ::poll(&socket, 1, 0) > 0) {
            PQconsumeInput(m_conn);
            while (pg_result *pending = PQgetResult(m_conn))
                PQclear(pending);
            PQfinish(m_conn);
            m_conn = nullptr;
        }
    }
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return true;
    m_lost = false;
    if (open(nullptr))
        return true;
    m_lost = true;
    return false;
}

void Session::fail(const QString &reason, const QByteArray &sqlState)
{
    m_reason = reason;
    m_sqlState = sqlState;
    m_lost = !m_conn || PQstatus(m_conn) != CONNECTION_OK;
    m_error = m_lost ? u"サーバーとの接続が切れました: %1 (%2)"_s.arg(m_address, reason)
                     : u"サーバーがエラーを返しました: %1 (%2)"_s.arg(m_address, reason);
}

Result Session::run(const QByteArray &sql, const std::vector<Parameter> &parameters)
{
    const ParameterArrays arrays(parameters);
    Result result(PQexecParams(m_conn, sql.constData(), arrays.count(), nullptr, arrays.values.data(),
                               arrays.lengths.data(), nullptr, 0));
    if (!result.ok())
        fail(reasonText(PQerrorMessage(m_conn)), result.sqlState());
    return result;
}

bool Session::connectedHere()
{
    m_error.clear();
    m_reason.clear();
    m_sqlState.clear();
    m_lost = false;
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return true;
    fail(m_conn ? reasonText(PQerrorMessage(m_conn)) : u"サーバーに接続していません"_s);
    return false;
}

Result Session::exec(const QByteArray &sql, const std::vector<Parameter> &parameters)
{
    m_error.clear();
    m_reason.clear();
    m_sqlState.clear();
    m_lost = false;
    if (!ensureConnected())
        return {};
    return run(sql, parameters);
}

Result Session::execHere(const QByteArray &sql, const std::vector<Parameter> &parameters)
{
    if (!connectedHere())
        return {};
    return run(sql, parameters);
}

bool Session::prepare(const QByteArray &name, const QByteArray &sql)
{
    if (!connectedHere())
        return false;
    const Result result(PQprepare(m_conn, name.constData(), sql.constData(), 0, nullptr));
    if (!result.ok())
        fail(reasonText(PQerrorMessage(m_conn)), result.sqlState());
    return result.ok();
}

Result Session::execPrepared(const QByteArray &name, const std::vector<Parameter> &parameters)
{
    if (!connectedHere())
        return {};
    const ParameterArrays arrays(parameters);
    Result result(PQexecPrepared(m_conn, name.constData(), arrays.count(), arrays.values.data(),
                                 arrays.lengths.data(), nullptr, 0));
    if (!result.ok())
        fail(reasonText(PQerrorMessage(m_conn)), result.sqlState());
    return result;
}

bool Session::command(const QByteArray &sql, const std::vector<Parameter> &parameters)
{
    return exec(sql, parameters).ok();
}

bool Session::script(const QByteArray &sql)
{
    m_error.clear();
    m_lost = false;
    if (!ensureConnected())
        return false;
    Result result(PQexec(m_conn, sql.constData()));
    if (!result.ok())
        fail(reasonText(PQerrorMessage(m_conn)), result.sqlState());
    return result.ok();
}

bool Session::beginCopy(const QByteArray &sql)
{
    m_error.clear();
    m_lost = false;
    if (!ensureConnected())
        return false;
    const Result start(PQexec(m_conn, sql.constData()));
    if (PQresultStatus(start.get()) != PGRES_COPY_IN) {
        fail(reasonText(PQerrorMessage(m_conn)), start.sqlState());
        return false;
    }
    return true;
}

bool Session::putCopy(const QByteArray &data)
{
    if (PQputCopyData(m_conn, data.constData(), int(data.size())) == 1)
        return true;
    fail(reasonText(PQerrorMessage(m_conn)));
    return false;
}

bool Session::endCopy(bool abandon)
{
    bool ok = PQputCopyEnd(m_conn, abandon ? "abandoned" : nullptr) == 1;
    if (!ok)
        fail(reasonText(PQerrorMessage(m_conn)));
    while (pg_result *next = PQgetResult(m_conn)) {
        const Result result(next);
        if (!result.ok() && ok) {
            ok = false;
            fail(reasonText(PQerrorMessage(m_conn)), result.sqlState());
        }
    }
    return ok && !abandon;
}

} // namespace Merchalog::Server
