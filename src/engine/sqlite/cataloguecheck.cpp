#include "engine/sqlite/cataloguecheck.h"

#include "engine/kinds/schema.h"
#include "engine/sqlite/connection.h"
#include "engine/sqlite/sqlitestatement.h"

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

// The key column that format 2 adds as the last column of each table.
constexpr QLatin1StringView syohinKey{"syohin_id"};
constexpr QLatin1StringView torihikiKey{"torihiki_id"};

// Runs a statement and hands each row to visit (which returns false to stop). Returns
// whether every row it asked for was read.
bool forEachResult(sqlite3 *db, const QString &sql, const std::function<bool(const SqliteStatement &)> &visit)
{
    SqliteStatement stmt(db, sql);
    int rc;
    while ((rc = stmt.step()) == SQLITE_ROW) {
        if (!visit(stmt))
            return true;
    }
    return rc == SQLITE_DONE;
}

// Reads a pragma's whole-number value; false when it cannot be read.
bool pragmaInteger(sqlite3 *db, const QString &sql, qint64 *value)
{
    *value = 0;
    return forEachResult(db, sql, [&](const SqliteStatement &stmt) {
        *value = stmt.int64(0);
        return false;
    });
}

QString quoted(const QString &name)
{
    return u'"' + QString(name).replace(u'"', u"\"\""_s) + u'"';
}

bool sameName(QAnyStringView a, QAnyStringView b)
{
    return QAnyStringView::compare(a, b, Qt::CaseInsensitive) == 0;
}

struct Token
{
    QString text;
    bool name = false;   // a name or keyword
    bool quoted = false; // written in quotes, so never a keyword
};

// Splits a CREATE TABLE text into names and the marks "(", ")" and ","; comments and blanks
// go. Anything else (a literal, an operator) comes as a token that is neither.
std::vector<Token> tokens(QStringView sql)
{
    std::vector<Token> out;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    const auto isNameChar = [](QChar c) {
        return c.isLetterOrNumber() || c == u'_' || c == u'$' || c.unicode() >= 0x80;
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (sql.sliced(i).startsWith(u"--")) {
            while (i < n && sql[i] != u'\n')
                ++i;
        } else if (sql.sliced(i).startsWith(u"/*")) {
            const qsizetype end = sql.indexOf(u"*/", i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u'"' || c == u'`' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            Token token{{}, true, true};
            ++i;
            while (i < n) {
                if (sql[i] == close) {
                    if (close != u']' && i + 1 < n && sql[i + 1] == close) {
                        token.text += close;
                        i += 2;
                        continue;
                    }
                    break;
                }
                token.text += sql[i++];
            }
            ++i;
            out.push_back(token);
        } else if (isNameChar(c) && !c.isDigit()) {
            const qsizetype start = i;
            while (i < n && isNameChar(sql[i]))
                ++i;
            out.push_back({sql.sliced(start, i - start).toString(), true, false});
        } else {
            out.push_back({QString(c), false, false});
            ++i;
        }
    }
    return out;
}

// Checks that a table is declared as the program declares it: "CREATE TABLE name (field TYPE,
// ...)", the key column as "INTEGER PRIMARY KEY AUTOINCREMENT", and nothing more (no
// constraint, default, collation, check or table option). The names and types themselves
// are checked against PRAGMA table_xinfo.
bool plainDeclaration(const QString &sql, QString *unexpected)
{
    const std::vector<Token> t = tokens(sql);
    std::size_t i = 0;
    const auto keyword = [&](QLatin1StringView word) {
        if (i < t.size() && t[i].name && !t[i].quoted && sameName(t[i].text, word)) {
            ++i;
            return true;
        }
        return false;
    };
    const auto mark = [&](QLatin1StringView m) {
        if (i < t.size() && !t[i].name && t[i].text == m) {
            ++i;
            return true;
        }
        return false;
    };
    const auto name = [&] {
        if (i < t.size() && t[i].name) {
            ++i;
            return true;
        }
        return false;
    };
    const auto fail = [&] {
        *unexpected = i < t.size() ? t[i].text : u"…"_s;
        return false;
    };

    if (!keyword("CREATE"_L1) || !keyword("TABLE"_L1) || !name() || !mark("("_L1))
        return fail();
    do {
        if (!name() || i >= t.size() || !t[i].name || t[i].quoted || !name())
            return fail();
        if (keyword("PRIMARY"_L1)) {
            if (!keyword("KEY"_L1))
                return fail();
            keyword("AUTOINCREMENT"_L1);
        }
    } while (mark(","_L1));
    if (!mark(")"_L1) || i != t.size())
        return fail();
    return true;
}

struct SchemaEntry
{
    QString type;
    QString name;
    QString table;
    QString sql;
    bool hasSql = false;
};

template<std::size_t N>
Status checkTable(sqlite3 *db, const QString &path, const SchemaEntry &entry, const std::array<FieldDef, N> &fields,
                  QLatin1StringView key)
{
    const QString &table = entry.name;
    const auto refuse = [&](const QString &why) { return openFailure(ErrorCode::NotCatalogue, path, why); };
    const auto unreadable = [&] { return openFailure(ErrorCode::NotDatabase, path); };
    if (!entry.hasSql || entry.sql.startsWith(u"CREATE VIRTUAL"_s, Qt::CaseInsensitive))
        return refuse(u"%1 が仮想テーブルです"_s.arg(table));

    bool ordinary = false;
    bool withoutRowid = false;
    if (!forEachResult(db, u"PRAGMA main.table_list(%1)"_s.arg(quoted(table)), [&](const SqliteStatement &stmt) {
            ordinary = stmt.text("type") == u"table"_s;
            withoutRowid = stmt.int64("wr") != 0;
            return false;
        }))
        return unreadable();
    if (!ordinary)
        return refuse(u"%1 が通常のテーブルではありません"_s.arg(table));
    if (withoutRowid)
        return refuse(u"%1 が WITHOUT ROWID のテーブルです"_s.arg(table));

    std::array<bool, N> seen{};
    bool seenKey = false;
    std::optional<QString> problem;
    const bool read = forEachResult(db, u"PRAGMA table_xinfo(%1)"_s.arg(quoted(table)), [&](const SqliteStatement &stmt) {
        const QString name = stmt.text("name");
        const QString type = stmt.text("type").trimmed();
        const bool notNull = stmt.int64("notnull") != 0;
        const bool hasDefault = stmt.type("dflt_value") != SQLITE_NULL;
        const qint64 pk = stmt.int64("pk");
        const qint64 hidden = stmt.int64("hidden");
        if (hidden != 0) {
            problem = u"%1 の項目 %2 は計算される項目です"_s.arg(table, name);
            return false;
        }
        if (notNull || hasDefault) {
            problem = u"%1 の項目 %2 に制約があります"_s.arg(table, name);
            return false;
        }
        if (sameName(name, key) && !seenKey) {
            seenKey = true;
            if (type.compare(u"INTEGER"_s, Qt::CaseInsensitive) != 0 || pk != 1)
                problem = u"%1 の項目 %2 が INTEGER PRIMARY KEY ではありません"_s.arg(table, name);
            return !problem;
        }
        for (std::size_t f = 0; f < N; ++f) {
            if (!sameName(name, fields[f].name))
                continue;
            if (seen[f])
                break;
            seen[f] = true;
            if (pk != 0) {
                problem = u"%1 の項目 %2 に制約があります"_s.arg(table, name);
            } else if (kindFromDeclaredType(type) != fields[f].kind) {
                problem = u"%1 の項目 %2 の型が %3 です（%4 のはずです）"_s.arg(
                    table, name, type.isEmpty() ? u"未指定"_s : type, declaredTypeOf(fields[f].kind));
            }
            return !problem;
        }
        problem = u"%1 に余分な項目 %2 があります"_s.arg(table, name);
        return false;
    });
    if (!read)
        return unreadable();
    if (problem)
        return refuse(*problem);
    for (std::size_t f = 0; f < N; ++f) {
        if (!seen[f])
            return refuse(u"%1 に項目 %2 がありません"_s.arg(table, fields[f].name));
    }
    QString unexpected;
    if (!plainDeclaration(entry.sql, &unexpected))
        return refuse(u"%1 の定義に余分な指定「%2」があります"_s.arg(table, unexpected));
    return {};
}

// An index is allowed when it only speeds up lookups: not unique (a conflict would refuse or
// replace rows), not partial, on plain columns with a built-in collation.
Status checkIndex(sqlite3 *db, const QString &path, const SchemaEntry &entry)
{
    const auto refuse = [&] { return openFailure(ErrorCode::NotCatalogue, path, u"索引 %1 は使えません"_s.arg(entry.name)); };
    if (!entry.hasSql) // made by a UNIQUE or PRIMARY KEY constraint
        return refuse();
    bool plain = false;
    if (!forEachResult(db, u"PRAGMA index_list(%1)"_s.arg(quoted(entry.table)), [&](const SqliteStatement &stmt) {
            if (!sameName(stmt.text("name"), entry.name))
                return true;
            plain = stmt.int64("unique") == 0 && stmt.int64("partial") == 0;
            return false;
        }))
        return openFailure(ErrorCode::NotDatabase, path);
    if (!forEachResult(db, u"PRAGMA index_xinfo(%1)"_s.arg(quoted(entry.name)), [&](const SqliteStatement &stmt) {
            if (stmt.int64("key") == 0) // the rowid that ends every index entry
                return true;
            const QString collation = stmt.text("coll");
            plain = plain && stmt.int64("cid") >= 0
                && (sameName(collation, u"BINARY") || sameName(collation, u"NOCASE") || sameName(collation, u"RTRIM"));
            return plain;
        }))
        return openFailure(ErrorCode::NotDatabase, path);
    return plain ? Status() : refuse();
}

} // namespace

Status checkCatalogueSchema(sqlite3 *db, const QString &path)
{
    const auto refuse = [&](ErrorCode code, const QString &why = {}) { return openFailure(code, path, why); };
    qint64 applicationId = 0;
    if (!pragmaInteger(db, u"PRAGMA application_id"_s, &applicationId))
        return refuse(ErrorCode::NotDatabase);
    if (applicationId != catalogueApplicationId)
        return refuse(ErrorCode::NotCatalogue);
    qint64 version = 0;
    if (!pragmaInteger(db, u"PRAGMA user_version"_s, &version))
        return refuse(ErrorCode::NotDatabase);
    if (version > catalogueNewestVersion)
        return refuse(ErrorCode::NewerFormat,
                      u"形式 %1。このプログラムが読めるのは形式 %2 までです"_s.arg(version).arg(catalogueNewestVersion));
    if (version < 1)
        return refuse(ErrorCode::NotCatalogue, u"形式 %1"_s.arg(version));

    std::vector<SchemaEntry> entries;
    if (!forEachResult(db, u"SELECT type, name, tbl_name, sql FROM sqlite_schema"_s, [&](const SqliteStatement &stmt) {
            entries.push_back({stmt.text(0), stmt.text(1), stmt.text(2), stmt.text(3), !stmt.isNull(3)});
            return true;
        }))
        return refuse(ErrorCode::NotDatabase);

    // Code first: whatever else is wrong, a file that would run something is named for that.
    for (const SchemaEntry &entry : entries) {
        if (entry.type == u"trigger"_s)
            return refuse(ErrorCode::HoldsCode, u"トリガー %1"_s.arg(entry.name));
        if (entry.type == u"view"_s)
            return refuse(ErrorCode::HoldsCode, u"ビュー %1"_s.arg(entry.name));
    }

    const SchemaEntry *syohin = nullptr;
    const SchemaEntry *torihiki = nullptr;
    for (const SchemaEntry &entry : entries) {
        if (entry.type == u"table"_s) {
            if (sameName(entry.name, Table::syohin)) {
                syohin = &entry;
            } else if (sameName(entry.name, Table::torihiki)) {
                torihiki = &entry;
            } else if ((entry.name == u"sqlite_sequence"_s || entry.name == u"sqlite_stat1"_s
                        || entry.name == u"sqlite_stat4"_s)
                       && entry.sql.startsWith(u"CREATE TABLE "_s + entry.name)) {
                // SQLite's own: the last key handed out per table, and query-planner statistics.
            } else {
                return refuse(ErrorCode::NotCatalogue, u"テーブル %1 は商品管理のものではありません"_s.arg(entry.name));
            }
        } else if (entry.type == u"index"_s) {
            if (!sameName(entry.table, Table::syohin) && !sameName(entry.table, Table::torihiki))
                return refuse(ErrorCode::NotCatalogue, u"索引 %1 は使えません"_s.arg(entry.name));
        } else {
            return refuse(ErrorCode::NotCatalogue, u"%1 %2 があります"_s.arg(entry.type, entry.name));
        }
    }
    if (!syohin || !torihiki)
        return refuse(ErrorCode::NotCatalogue, u"テーブル %1 がありません"_s.arg(syohin ? Table::torihiki : Table::syohin));
    if (Status s = checkTable(db, path, *syohin, syohinFields, syohinKey); !s)
        return s;
    if (Status s = checkTable(db, path, *torihiki, torihikiFields, torihikiKey); !s)
        return s;
    for (const SchemaEntry &entry : entries) {
        if (entry.type == u"index"_s) {
            if (Status s = checkIndex(db, path, entry); !s)
                return s;
        }
    }
    return {};
}

} // namespace Merchalog
