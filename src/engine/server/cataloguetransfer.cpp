#include "engine/server/cataloguetransfer.h"

#include "engine/sqlite/connection.h"
#include "engine/statements/likefunction.h"
#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/sqlite/writeguard.h"
#include "engine/server/servercatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace Merchalog::Server {

namespace {

using Visit = std::function<bool(const StoredRow &)>;

QString shownName(const QString &name)
{
    return isAddress(name) ? name : QDir::toNativeSeparators(name);
}

// Reads the rows of a catalogue file's table in key order, values by field name, each of
// its field's kind; a value that its kind cannot hold is refused (a server column holds
// nothing else).
bool readFileTable(sqlite3 *db, const TableInfo &fileTable, const TableInfo &canonical, const Visit &visit,
                   QString *error)
{
    const QString key = fileTable.key.isEmpty() ? u"rowid"_s : u'"' + fileTable.key + u'"';
    QString sql = u"SELECT "_s + key;
    for (const ColumnInfo &column : canonical.columns)
        sql += u", \""_s + fileTable.columns[std::size_t(fileTable.indexOf(column.name))].name + u'"';
    sql += u" FROM \""_s + fileTable.name + u"\" ORDER BY 1"_s;
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> guard(stmt, sqlite3_finalize);
    int rc;
    StoredRow row;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        row.key = sqlite3_column_int64(stmt, 0);
        row.values.clear();
        for (std::size_t c = 0; c < canonical.columns.size(); ++c) {
            const int index = int(c) + 1;
            const int type = sqlite3_column_type(stmt, index);
            const Kind kind = canonical.columns[c].kind;
            if (type == SQLITE_NULL) {
                row.values << QVariant();
                continue;
            }
            if (kind == Kind::Text) {
                row.values << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, index)),
                                                sqlite3_column_bytes(stmt, index));
                continue;
            }
            const sqlite3_int64 value = sqlite3_column_int64(stmt, index);
            if (type == SQLITE_INTEGER && kind == Kind::Number) {
                row.values << QVariant::fromValue(Currency::fromUnits(value));
                continue;
            }
            if (type == SQLITE_INTEGER && value >= -32768 && value <= 32767) {
                row.values << int(value);
                continue;
            }
            *error = u"%1 のキー %2 の「%3」の値はこの項目の型に合いません（%4）"_s.arg(
                canonical.name, QString::number(row.key), canonical.columns[c].name,
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, index))));
            return false;
        }
        if (!visit(row))
            return false;
    }
    if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    return true;
}

// One COPY text field: backslash, tab and line breaks escaped, \N for null.
void appendCopyField(QByteArray &line, const Parameter &value)
{
    if (!value) {
        line += "\\N";
        return;
    }
    for (const char c : *value) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += c;
        }
    }
}

QByteArray copyColumns(const TableInfo &table)
{
    QByteArray columns = table.key.toLower().toLatin1();
    for (const ColumnInfo &column : table.columns)
        columns += ", " + column.name.toLower().toLatin1();
    for (const ColumnInfo &column : table.columns) {
        if (column.kind == Kind::Text)
            columns += ", " + column.name.toLower().toLatin1() + "_fold";
    }
    return columns;
}

void appendCopyLine(QByteArray &lines, const TableInfo &table, const StoredRow &row)
{
    lines += QByteArray::number(qlonglong(row.key));
    for (const QVariant &value : row.values) {
        lines += '\t';
        appendCopyField(lines, storedParameter(value));
    }
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        if (table.columns[c].kind != Kind::Text)
            continue;
        const QVariant &value = row.values[qsizetype(c)];
        lines += '\t';
        appendCopyField(lines, value.isNull() ? Parameter()
                                              : Parameter(foldForComparison(QString::fromUtf8(value.toString().toUtf8())).toUtf8()));
    }
    lines += '\n';
}

// Where the rows come from: a file or a server, one table at a time.
struct Source
{
    std::shared_ptr<Connection> file;
    std::unique_ptr<Catalogue> server;

    bool forEach(const TableInfo &canonical, const Visit &visit, QString *error)
    {
        if (server) {
            if (!server->forEachStored(canonical, visit)) {
                *error = server->errorString();
                return false;
            }
            return true;
        }
        const TableInfo *table = file->table(canonical.name);
        return table && readFileTable(file->handle(), *table, canonical, visit, error);
    }
};

// Whether the server's database may take a catalogue (it holds none, or replace).
bool serverAccepts(Session &session, bool replace, QString *error)
{
    const std::optional<bool> holds = holdsCatalogue(session);
    if (!holds) {
        *error = u"サーバーに書き込めませんでした: %1 (%2)"_s.arg(session.address(), session.lastReason());
        return false;
    }
    if (*holds && !replace) {
        *error = u"コピー先のデータベースにはすでにカタログがあります（置き換えるには --replace を付けてください）: %1"_s.arg(
            session.address());
        return false;
    }
    return true;
}

// Whether a file may take a catalogue: never an open catalogue, an existing file only when
// replace.
bool fileAccepts(const QString &destination, bool replace, QString *error)
{
    // Never over an open catalogue, the source included, by whatever name.
    if (const QString open = openCatalogueAt(destination); !open.isEmpty()) {
        *error = openCatalogueRefusal(destination, open).message();
        return false;
    }
    if (QFileInfo::exists(destination) && !replace) {
        *error = u"コピー先のファイルがすでに存在します（置き換えるには --replace を付けてください）: %1"_s.arg(
            QDir::toNativeSeparators(destination));
        return false;
    }
    return true;
}

bool copyToServer(Source &source, const QString &destination, bool replace, CopyCount *count, QString *error)
{
    auto session = Session::connect(destination, error);
    if (!session)
        return false;
    const QString shown = session->address();
    const auto failed = [&](const QString &reason) {
        *error = u"サーバーに書き込めませんでした: %1 (%2)"_s.arg(shown, reason);
        if (!session->connectionLost())
            session->command("ROLLBACK");
        return false;
    };
    if (!serverAccepts(*session, replace, error))
        return false;
    if (!session->command("BEGIN") || !session->script(createTablesSql(replace)))
        return failed(session->lastReason());
    for (const QLatin1StringView name : {Table::torihiki, Table::syohin}) {
        const TableInfo &table = *Catalogue::table(name);
        qint64 rows = 0;
        QString readError;
        if (!session->beginCopy("COPY " + name.toString().toLatin1() + " (" + copyColumns(table) + ") FROM STDIN"))
            return failed(session->lastReason());
        // The rows stream out as the source is read, about a megabyte at a time.
        QByteArray buffer;
        bool sent = true;
        const bool readFailed = !source.forEach(table, [&](const StoredRow &row) {
            appendCopyLine(buffer, table, row);
            ++rows;
            if (buffer.size() >= (1 << 20)) {
                sent = session->putCopy(buffer);
                buffer.clear();
            }
            return sent;
        }, &readError) && sent;
        if (sent && !readFailed && !buffer.isEmpty())
            sent = session->putCopy(buffer);
        const bool copied = session->endCopy(readFailed || !sent) && sent;
        if (readFailed) {
            *error = u"コピー元を読み込めませんでした: %1 (%2)"_s.arg(shownName(source.server ? source.server->address()
                                                                                            : source.file->filePath()),
                                                                     readError);
            if (!session->connectionLost())
                session->command("ROLLBACK");
            return false;
        }
        if (!copied)
            return failed(session->lastReason());
        (name == Table::syohin ? count->products : count->suppliers) = rows;
    }
    if (!session->script(createIndexesSql()) || !session->command("COMMIT"))
        return failed(session->lastReason());
    return true;
}

bool copyToFile(Source &source, const QString &destination, bool replace, CopyCount *count, QString *error)
{
    const QFileInfo target(destination);
    if (!fileAccepts(destination, replace, error))
        return false;
    const QString temporary = target.absolutePath() + u"/.~"_s + target.fileName() + u".copy"_s;
    QFile::remove(temporary);
    if (const Status created = createCatalogueFile(temporary); !created) {
        *error = toldOfTarget(created, temporary, destination).message();
        return false;
    }
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(temporary).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK
        && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    QString reason;
    for (const QLatin1StringView name : {Table::torihiki, Table::syohin}) {
        if (!ok)
            break;
        const TableInfo &table = *Catalogue::table(name);
        QString sql = u"INSERT INTO "_s + name + u" ("_s + table.key;
        QString marks = u"?"_s;
        for (const ColumnInfo &column : table.columns) {
            sql += u", "_s + column.name;
            marks += u", ?"_s;
        }
        sql += u") VALUES ("_s + marks + u')';
        sqlite3_stmt *stmt = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        ok = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr) == SQLITE_OK;
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)> guard(stmt, sqlite3_finalize);
        qint64 rows = 0;
        ok = ok && source.forEach(table, [&](const StoredRow &row) {
            sqlite3_reset(stmt);
            sqlite3_bind_int64(stmt, 1, row.key);
            for (qsizetype c = 0; c < row.values.size(); ++c) {
                const QVariant &value = row.values[c];
                const int position = int(c) + 2;
                if (value.isNull()) {
                    sqlite3_bind_null(stmt, position);
                } else if (value.metaType() == QMetaType::fromType<Currency>()) {
                    sqlite3_bind_int64(stmt, position, value.value<Currency>().units());
                } else if (value.typeId() == QMetaType::Int) {
                    sqlite3_bind_int64(stmt, position, value.toInt());
                } else {
                    const QByteArray text = value.toString().toUtf8();
                    sqlite3_bind_text(stmt, position, text.constData(), int(text.size()), SQLITE_TRANSIENT);
                }
            }
            ++rows;
            return sqlite3_step(stmt) == SQLITE_DONE;
        }, &reason);
        (name == Table::syohin ? count->products : count->suppliers) = rows;
    }
    if (ok)
        ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok && reason.isEmpty() && db)
        reason = QString::fromUtf8(sqlite3_errmsg(db));
    if (sqlite3_close(db) != SQLITE_OK)
        ok = false;
    if (ok && std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        ok = false;
        reason = u"名前を変えられません"_s;
    }
    if (!ok) {
        QFile::remove(temporary);
        *error = fileFailure(ErrorCode::WriteFailed, Failed::writingFile, destination, reason).message();
    }
    return ok;
}

} // namespace

bool destinationAccepted(const QString &destination, bool replace, QString *error)
{
    if (!isAddress(destination))
        return fileAccepts(destination, replace, error);
    auto session = Session::connect(destination, error);
    return session && serverAccepts(*session, replace, error);
}

bool copyCatalogue(const QString &source, const QString &destination, bool replace, CopyCount *count, QString *error)
{
    CopyCount counted;
    Source from;
    QString openError;
    if (isAddress(source)) {
        from.server = Catalogue::open(source, &openError);
        // Both tables as they stood at one moment, whatever other programs change meanwhile.
        if (from.server && !from.server->session().command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) {
            *error = from.server->session().errorString();
            return false;
        }
    } else {
        auto opened = Connection::open(source);
        if (opened)
            from.file = *opened;
        else
            openError = opened.status().message();
    }
    if (!from.file && !from.server) {
        *error = openError;
        return false;
    }
    const bool copied = isAddress(destination) ? copyToServer(from, destination, replace, &counted, error)
                                               : copyToFile(from, destination, replace, &counted, error);
    if (copied && count)
        *count = counted;
    return copied;
}

} // namespace Merchalog::Server
