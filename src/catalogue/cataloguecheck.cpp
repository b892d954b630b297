#include "catalogue/cataloguecheck.h"

#include "catalogue/connection.h"
#include "catalogue/schema.h"

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

QString columnText(sqlite3_stmt *stmt, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

// Runs a statement and hands each row to visit (which returns false to stop). Returns the
// SQLite result code: SQLITE_OK when every row was read.
int forEachResult(sqlite3 *db, const QString &sql, const std::function<bool(sqlite3_stmt *)> &visit)
{
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr);
    while (rc == SQLITE_OK) {
        const int step = sqlite3_step(stmt);
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW) {
            rc = sqlite3_errcode(db);
            break;
        }
        if (!visit(stmt))
            break;
    }
    sqlite3_finalize(stmt);
    return rc;
}

std::optional<qint64> pragmaInteger(sqlite3 *db, const QString &sql)
{
    std::optional<qint64> value;
    if (forEachResult(db, sql, [&](sqlite3_stmt *stmt) {
            value = sqlite3_column_int64(stmt, 0);
            return false;
        }) != SQLITE_OK)
        return std::nullopt;
    return value;
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
OpenError checkTable(sqlite3 *db, const SchemaEntry &entry, const std::array<FieldDef, N> &fields,
                     QLatin1StringView key, QString *detail)
{
    const QString &table = entry.name;
    const auto refuse = [&](const QString &why) {
        *detail = why;
        return OpenError::NotCatalogue;
    };
    if (!entry.hasSql || entry.sql.startsWith(u"CREATE VIRTUAL"_s, Qt::CaseInsensitive))
        return refuse(u"%1 が仮想テーブルです"_s.arg(table));

    bool ordinary = false;
    bool withoutRowid = false;
    int rc = forEachResult(db, u"PRAGMA main.table_list(%1)"_s.arg(quoted(table)), [&](sqlite3_stmt *stmt) {
        ordinary = columnText(stmt, 2) == u"table"_s;
        withoutRowid = sqlite3_column_int(stmt, 4) != 0;
        return false;
    });
    if (rc != SQLITE_OK)
        return OpenError::NotDatabase;
    if (!ordinary)
        return refuse(u"%1 が通常のテーブルではありません"_s.arg(table));
    if (withoutRowid)
        return refuse(u"%1 が WITHOUT ROWID のテーブルです"_s.arg(table));

    std::array<bool, N> seen{};
    bool seenKey = false;
    std::optional<QString> problem;
    rc = forEachResult(db, u"PRAGMA table_xinfo(%1)"_s.arg(quoted(table)), [&](sqlite3_stmt *stmt) {
        const QString name = columnText(stmt, 1);
        const QString type = columnText(stmt, 2).trimmed();
        const bool notNull = sqlite3_column_int(stmt, 3) != 0;
        const bool hasDefault = sqlite3_column_type(stmt, 4) != SQLITE_NULL;
        const int pk = sqlite3_column_int(stmt, 5);
        const int hidden = sqlite3_column_int(stmt, 6);
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
    if (rc != SQLITE_OK)
        return OpenError::NotDatabase;
    if (problem)
        return refuse(*problem);
    for (std::size_t f = 0; f < N; ++f) {
        if (!seen[f])
            return refuse(u"%1 に項目 %2 がありません"_s.arg(table, fields[f].name));
    }
    QString unexpected;
    if (!plainDeclaration(entry.sql, &unexpected))
        return refuse(u"%1 の定義に余分な指定「%2」があります"_s.arg(table, unexpected));
    return OpenError::None;
}

// An index is allowed when it only speeds up lookups: not unique (a conflict would refuse or
// replace rows), not partial, on plain columns with a built-in collation.
OpenError checkIndex(sqlite3 *db, const SchemaEntry &entry, QString *detail)
{
    const auto refuse = [&] {
        *detail = u"索引 %1 は使えません"_s.arg(entry.name);
        return OpenError::NotCatalogue;
    };
    if (!entry.hasSql) // made by a UNIQUE or PRIMARY KEY constraint
        return refuse();
    bool plain = false;
    int rc = forEachResult(db, u"PRAGMA index_list(%1)"_s.arg(quoted(entry.table)), [&](sqlite3_stmt *stmt) {
        if (!sameName(columnText(stmt, 1), entry.name))
            return true;
        plain = sqlite3_column_int(stmt, 2) == 0 && sqlite3_column_int(stmt, 4) == 0;
        return false;
    });
    if (rc != SQLITE_OK)
        return OpenError::NotDatabase;
    rc = forEachResult(db, u"PRAGMA index_xinfo(%1)"_s.arg(quoted(entry.name)), [&](sqlite3_stmt *stmt) {
        if (sqlite3_column_int(stmt, 5) == 0) // the rowid that ends every index entry
            return true;
        const QString collation = columnText(stmt, 4);
        plain = plain && sqlite3_column_int(stmt, 1) >= 0
            && (sameName(collation, u"BINARY") || sameName(collation, u"NOCASE") || sameName(collation, u"RTRIM"));
        return plain;
    });
    if (rc != SQLITE_OK)
        return OpenError::NotDatabase;
    return plain ? OpenError::None : refuse();
}

} // namespace

OpenError checkCatalogueSchema(sqlite3 *db, QString *detail)
{
    detail->clear();
    const auto applicationId = pragmaInteger(db, u"PRAGMA application_id"_s);
    if (!applicationId)
        return OpenError::NotDatabase;
    if (*applicationId != catalogueApplicationId)
        return OpenError::NotCatalogue;
    const auto version = pragmaInteger(db, u"PRAGMA user_version"_s);
    if (!version)
        return OpenError::NotDatabase;
    if (*version > catalogueNewestVersion) {
        *detail = u"形式 %1。このプログラムが読めるのは形式 %2 までです"_s.arg(*version).arg(catalogueNewestVersion);
        return OpenError::NewerFormat;
    }
    if (*version < 1) {
        *detail = u"形式 %1"_s.arg(*version);
        return OpenError::NotCatalogue;
    }

    std::vector<SchemaEntry> entries;
    const int rc = forEachResult(db, u"SELECT type, name, tbl_name, sql FROM sqlite_schema"_s, [&](sqlite3_stmt *stmt) {
        entries.push_back({columnText(stmt, 0), columnText(stmt, 1), columnText(stmt, 2), columnText(stmt, 3),
                           sqlite3_column_type(stmt, 3) != SQLITE_NULL});
        return true;
    });
    if (rc != SQLITE_OK)
        return OpenError::NotDatabase;

    // Code first: whatever else is wrong, a file that would run something is named for that.
    for (const SchemaEntry &entry : entries) {
        if (entry.type == u"trigger"_s) {
            *detail = u"トリガー %1"_s.arg(entry.name);
            return OpenError::HoldsCode;
        }
        if (entry.type == u"view"_s) {
            *detail = u"ビュー %1"_s.arg(entry.name);
            return OpenError::HoldsCode;
        }
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
                *detail = u"テーブル %1 は商品管理のものではありません"_s.arg(entry.name);
                return OpenError::NotCatalogue;
            }
        } else if (entry.type == u"index"_s) {
            if (!sameName(entry.table, Table::syohin) && !sameName(entry.table, Table::torihiki)) {
                *detail = u"索引 %1 は使えません"_s.arg(entry.name);
                return OpenError::NotCatalogue;
            }
        } else {
            *detail = u"%1 %2 があります"_s.arg(entry.type, entry.name);
            return OpenError::NotCatalogue;
        }
    }
    if (!syohin || !torihiki) {
        *detail = u"テーブル %1 がありません"_s.arg(syohin ? Table::torihiki : Table::syohin);
        return OpenError::NotCatalogue;
    }
    if (const OpenError e = checkTable(db, *syohin, syohinFields, syohinKey, detail); e != OpenError::None)
        return e;
    if (const OpenError e = checkTable(db, *torihiki, torihikiFields, torihikiKey, detail); e != OpenError::None)
        return e;
    for (const SchemaEntry &entry : entries) {
        if (entry.type == u"index"_s) {
            if (const OpenError e = checkIndex(db, entry, detail); e != OpenError::None)
                return e;
        }
    }
    return OpenError::None;
}

} // namespace Merchalog
