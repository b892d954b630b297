#include "engine/server/servercatalogue.h"

#include "engine/statements/likefunction.h"
#include "engine/kinds/number.h"
#include "engine/kinds/schema.h"
#include "engine/statements/statement.h"

#include <QList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Merchalog::Server {

namespace {

// Rows are read this many at a time, keys many more.
constexpr int rowSlice = 2000;
constexpr int keySlice = 50000;

// The format of the server catalogue this program writes and reads. The trigram postings
// are no part of it: older versions read and write a catalogue that has them (the triggers
// keep them current whoever writes), and one opened without them gets them.
constexpr int serverFormat = 1;

// The trigram postings: one row per run of three characters and slice of 1024 keys, with
// the keys of the products whose folded name holds the run, made whole when the catalogue is
// made or brought up to date. A search reads a few hundred short rows instead of visiting
// every product that matches. Changes after that go to syohin_gram_delta, one row per run and
// key saying whether the product now holds the run, which overrides the slices: a row of its
// own per change, so that many changes in one transaction stay as cheap as the first.
QByteArray postingsFillSql()
{
    return "INSERT INTO syohin_gram SELECT g, syohin_id >> 10, array_agg(DISTINCT syohin_id) FROM "
           "(SELECT syohin_id, substr(syohin_mei_fold, i, 3) AS g FROM syohin, "
           "generate_series(1, length(syohin_mei_fold) - 2) AS i) AS grams GROUP BY 1, 2;\n";
}

QByteArray postingsSql()
{
    return "CREATE TABLE syohin_gram (gram text COLLATE \"C\" NOT NULL, chunk bigint NOT NULL, "
           "ids bigint[] NOT NULL, PRIMARY KEY (gram, chunk));\n"
           "CREATE TABLE syohin_gram_delta (gram text COLLATE \"C\" NOT NULL, id bigint NOT NULL, "
           "present boolean NOT NULL, PRIMARY KEY (gram, id));\n"
        + postingsFillSql() +
           // A changed name leaves the runs it no longer holds and joins its new ones; runs
           // it holds before and after stay as they are.
           "CREATE OR REPLACE FUNCTION merchalog_syohin_gram() RETURNS trigger LANGUAGE plpgsql AS $$\n"
           "DECLARE\n"
           "  old_fold text COLLATE \"C\";\n"
           "  new_fold text COLLATE \"C\";\n"
           "  old_id bigint;\n"
           "  new_id bigint;\n"
           "BEGIN\n"
           "  IF TG_OP <> 'INSERT' THEN\n"
           "    old_fold := OLD.syohin_mei_fold;\n"
           "    old_id := OLD.syohin_id;\n"
           "  END IF;\n"
           "  IF TG_OP <> 'DELETE' THEN\n"
           "    new_fold := NEW.syohin_mei_fold;\n"
           "    new_id := NEW.syohin_id;\n"
           "  END IF;\n"
           "  IF old_id = new_id AND old_fold IS NOT DISTINCT FROM new_fold THEN\n"
           "    RETURN NULL;\n"
           "  END IF;\n"
           "  INSERT INTO syohin_gram_delta AS d\n"
           "    SELECT t.gram, t.id, bool_or(t.present) FROM (\n"
           "      SELECT substr(old_fold, i, 3), old_id, false FROM generate_series(1, length(old_fold) - 2) AS i\n"
           "      UNION ALL\n"
           "      SELECT substr(new_fold, i, 3), new_id, true FROM generate_series(1, length(new_fold) - 2) AS i\n"
           "    ) AS t(gram, id, present) GROUP BY 1, 2 HAVING count(DISTINCT t.present) = 1\n"
           "    ON CONFLICT (gram, id) DO UPDATE SET present = EXCLUDED.present;\n"
           "  RETURN NULL;\n"
           "END $$;\n"
           "CREATE OR REPLACE FUNCTION merchalog_syohin_gram_truncate() RETURNS trigger LANGUAGE plpgsql AS $$\n"
           "BEGIN TRUNCATE syohin_gram, syohin_gram_delta; RETURN NULL; END $$;\n"
           "CREATE TRIGGER syohin_gram_rows AFTER INSERT OR DELETE OR UPDATE OF syohin_id, syohin_mei_fold ON syohin\n"
           "  FOR EACH ROW EXECUTE FUNCTION merchalog_syohin_gram();\n"
           "CREATE TRIGGER syohin_gram_truncate AFTER TRUNCATE ON syohin\n"
           "  FOR EACH STATEMENT EXECUTE FUNCTION merchalog_syohin_gram_truncate();\n"
           "ANALYZE syohin_gram;\n";
}

// Whether the postings are there and kept: both triggers are gone when an older version
// replaced the catalogue, which leaves its postings behind unkept.
// Runs are counted in characters, which a database in SQL_ASCII does not know: its names
// are read as they are.
constexpr const char *postingsKept =
    "SELECT current_setting('server_encoding') <> 'SQL_ASCII' AND to_regclass('syohin_gram') IS NOT NULL AND to_regclass('syohin_gram_delta') IS NOT NULL AND "
    "(SELECT count(*) FROM pg_trigger WHERE tgrelid = 'syohin'::regclass AND tgname IN ('syohin_gram_rows', 'syohin_gram_truncate')) = 2";

template<std::size_t N>
TableInfo makeTable(QLatin1StringView name, const std::array<FieldDef, N> &fields)
{
    TableInfo table;
    table.name = QString(name);
    for (const FieldDef &field : fields)
        table.columns.push_back({QString(field.name), field.kind});
    table.key = QString(keyFieldOf(name));
    return table;
}

const std::array<TableInfo, 2> &tables()
{
    static const std::array<TableInfo, 2> both{makeTable(Table::syohin, syohinFields),
                                               makeTable(Table::torihiki, torihikiFields)};
    return both;
}

// Names on the server are the fields' names in lower case, unquoted, as psql users type them.
QByteArray serverName(const QString &name)
{
    return name.toLower().toLatin1();
}

QByteArray foldName(const ColumnInfo &column)
{
    return serverName(column.name) + "_fold";
}

QByteArray selectList(const TableInfo &table)
{
    QByteArray list = serverName(table.key);
    for (const ColumnInfo &column : table.columns)
        list += ", " + serverName(column.name);
    return list;
}

QByteArray placeholder(std::size_t position, const char *type = nullptr)
{
    QByteArray mark = '$' + QByteArray::number(qulonglong(position));
    if (type)
        mark += "::" + QByteArray(type);
    return mark;
}

// The folded form of a text as a file catalogue compares it: folded after the trip through
// UTF-8 that every stored text takes.
QByteArray foldedParameter(const QString &text)
{
    return foldForComparison(QString::fromUtf8(text.toUtf8())).toUtf8();
}

// A read row: the key first, then the fields.
StoredRow readStored(const Result &result, int row, const TableInfo &table)
{
    StoredRow stored;
    stored.key = result.integer(row, 0);
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const int column = int(c) + 1;
        if (result.isNull(row, column)) {
            stored.values << QVariant();
            stored.stored += '\0';
            continue;
        }
        const QByteArray bytes = result.bytes(row, column);
        stored.stored += '\1' + QByteArray::number(bytes.size()) + ':' + bytes;
        switch (table.columns[c].kind) {
        case Kind::Text:
            stored.values << QString::fromUtf8(bytes);
            break;
        case Kind::Number:
            if (const auto number = Currency::parse(QString::fromLatin1(bytes)))
                stored.values << QVariant::fromValue(*number);
            else
                stored.values << QString::fromLatin1(bytes);
            break;
        case Kind::SmallInt:
            stored.values << bytes.toInt();
            break;
        }
    }
    return stored;
}

QByteArray keyArray(std::vector<std::int64_t>::const_iterator begin, std::vector<std::int64_t>::const_iterator end)
{
    QByteArray array = "{";
    for (auto it = begin; it != end; ++it) {
        if (it != begin)
            array += ',';
        array += QByteArray::number(qlonglong(*it));
    }
    return array + '}';
}

bool isBusyState(const QByteArray &state)
{
    // lock_not_available, serialization_failure, deadlock_detected
    return state == "55P03" || state == "40001" || state == "40P01";
}

} // namespace

Parameter storedParameter(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return std::nullopt;
    if (value.metaType() == QMetaType::fromType<Currency>())
        return value.value<Currency>().toPlainText().toLatin1();
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::Short || value.typeId() == QMetaType::LongLong)
        return QByteArray::number(value.toLongLong());
    return value.toString().toUtf8();
}

const TableInfo *Catalogue::table(QAnyStringView name)
{
    for (const TableInfo &table : tables()) {
        if (QAnyStringView::compare(table.name, name, Qt::CaseInsensitive) == 0)
            return &table;
    }
    return nullptr;
}

std::unique_ptr<Catalogue> Catalogue::open(const QString &address, QString *error, ErrorCode *code)
{
    const auto failed = [code](ErrorCode why) {
        if (code)
            *code = why;
    };
    auto session = Session::connect(address, error);
    if (!session) {
        failed(ErrorCode::NotDatabase);
        return nullptr;
    }
    const QString shown = session->address();
    const auto notCatalogue = [&](const QString &why) {
        failed(ErrorCode::NotCatalogue);
        if (error)
            *error = u"サーバーのデータベースはカタログではありません: %1 (%2)"_s.arg(shown, why);
        return nullptr;
    };

    // Every column of both tables with its type, and the format mark.
    const Result columns = session->exec(
        "SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod) FROM pg_attribute a "
        "JOIN pg_class c ON c.oid = a.attrelid "
        "WHERE c.oid IN (to_regclass('syohin'), to_regclass('torihiki')) AND a.attnum > 0 AND NOT a.attisdropped");
    if (!columns.ok()) {
        failed(ErrorCode::NotDatabase);
        if (error)
            *error = session->errorString();
        return nullptr;
    }
    QHash<QString, QString> found;
    for (int row = 0; row < columns.rows(); ++row)
        found.insert(columns.text(row, 0) + u'.' + columns.text(row, 1), columns.text(row, 2));
    for (const TableInfo &table : tables()) {
        QHash<QString, QString> expected;
        expected.insert(QString::fromLatin1(serverName(table.key)), u"bigint"_s);
        for (const ColumnInfo &column : table.columns) {
            const QString name = QString::fromLatin1(serverName(column.name));
            expected.insert(name, column.kind == Kind::Text ? u"text"_s
                                  : column.kind == Kind::Number ? u"numeric(19,4)"_s : u"smallint"_s);
            if (column.kind == Kind::Text)
                expected.insert(QString::fromLatin1(foldName(column)), u"text"_s);
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const QString name = table.name + u'.' + it.key();
            if (!found.contains(name))
                return notCatalogue(u"%1 がありません"_s.arg(name));
            if (found.value(name) != it.value())
                return notCatalogue(u"%1 の型が %2 です"_s.arg(name, found.value(name)));
        }
    }
    const Result format = session->exec("SELECT max(format) FROM merchalog_catalogue WHERE to_regclass('syohin_search') IS NOT NULL");
    if (!format.ok() || format.rows() != 1 || format.isNull(0, 0))
        return notCatalogue(u"merchalog_catalogue がありません"_s);
    if (format.integer(0, 0) > serverFormat) {
        failed(ErrorCode::NewerFormat);
        if (error)
            *error = u"サーバーのカタログは新しい版のプログラムで作られたため開けません: %1"_s.arg(shown);
        return nullptr;
    }
    auto catalogue = std::make_unique<Catalogue>(std::move(session));
    catalogue->m_postings = catalogue->addPostings();
    return catalogue;
}

bool Catalogue::addPostings()
{
    const auto kept = [this] {
        const Result result = m_session->exec(postingsKept);
        return result.ok() && result.rows() == 1 && result.bytes(0, 0) == "t";
    };
    // The changes since the slices were made, by the statistics, against the products: more
    // rows of changes than products (a large import, about one product in thirteen changed)
    // and the slices are made again.
    const auto fresh = [this] {
        const Result result = m_session->exec(
            "SELECT (SELECT reltuples FROM pg_class WHERE oid = 'syohin_gram_delta'::regclass) "
            "<= greatest((SELECT reltuples FROM pg_class WHERE oid = 'syohin'::regclass), 1000)");
        return !result.ok() || result.rows() != 1 || result.bytes(0, 0) != "f";
    };
    const bool wasKept = kept();
    if (wasKept && fresh())
        return true;
    const Result encoding = m_session->exec("SHOW server_encoding");
    if (!encoding.ok() || encoding.rows() != 1 || encoding.bytes(0, 0) == "SQL_ASCII")
        return false;
    // Made in one transaction while no one writes products: a second program opening the
    // catalogue meanwhile waits for the lock and then finds them made. Without the right to
    // change the tables, or when another program holds the products too long, the catalogue
    // is read as it is (with the postings it has, if they are kept).
    bool ok = m_session->command("BEGIN")
        && m_session->command(wasKept ? "SET LOCAL lock_timeout = '2s'" : "SET LOCAL lock_timeout = '30s'")
        && m_session->command("LOCK TABLE syohin IN SHARE ROW EXCLUSIVE MODE");
    if (ok && !kept()) {
        ok = m_session->script("DROP TRIGGER IF EXISTS syohin_gram_rows ON syohin;\n"
                               "DROP TRIGGER IF EXISTS syohin_gram_truncate ON syohin;\n"
                               "DROP TABLE IF EXISTS syohin_gram, syohin_gram_delta;\n"
                               + postingsSql());
    } else if (ok && !fresh()) {
        ok = m_session->script("TRUNCATE syohin_gram, syohin_gram_delta;\n" + postingsFillSql()
                               + "ANALYZE syohin_gram;\nANALYZE syohin_gram_delta;\n");
    }
    if (ok && m_session->command("COMMIT"))
        return true;
    if (!m_session->connectionLost())
        m_session->command("ROLLBACK");
    return wasKept;
}

std::optional<Query> Catalogue::compile(const Statement &statement, const TableInfo &table, QString *error)
{
    Query query;
    QList<QByteArray> parts;
    const auto bind = [&query](QByteArray value, const char *type = nullptr) {
        query.parameters.emplace_back(std::move(value));
        return placeholder(query.parameters.size(), type);
    };
    // A pattern on a text expression: LIKE, and the exact regular expression where LIKE is
    // looser; a pattern that can match nothing selects nothing.
    const auto likeOn = [&](const QByteArray &expression, const QString &pattern) {
        const auto compiled = LikePattern::compile(QString::fromUtf8(pattern.toUtf8()));
        if (!compiled)
            return QByteArray("FALSE");
        const LikePattern::SqlForms forms = compiled->sqlForms();
        if (forms.never)
            return QByteArray("FALSE");
        QByteArray sql = expression + " LIKE " + bind(forms.like.toUtf8());
        if (!forms.regex.isEmpty())
            sql += " AND " + expression + " ~ " + bind(forms.regex.toUtf8());
        return sql;
    };

    for (const Condition &condition : statement.conditions) {
        const int index = table.indexOf(condition.field);
        if (index < 0) {
            *error = u"項目がありません: %1"_s.arg(condition.field);
            return std::nullopt;
        }
        const ColumnInfo &column = table.columns[std::size_t(index)];
        const QByteArray name = serverName(column.name);
        const char *op = condition.op == Operator::NotEqual ? " <> " : " = ";
        const bool isLike = condition.op == Operator::Like;

        if (const auto *number = std::get_if<Currency>(&condition.value)) {
            if (column.kind == Kind::Text) {
                // The number is compared as its text, as typed into a text field.
                const QString text = number->toPlainText();
                parts << (isLike ? likeOn(foldName(column), text) : foldName(column) + op + bind(foldedParameter(text)));
            } else {
                // Numbers compare by value; a fraction never equals a small integer.
                parts << name + op + bind(number->toPlainText().toLatin1(), "numeric");
            }
            continue;
        }

        const QString &text = std::get<QString>(condition.value);
        if (!isLike && column.kind != Kind::Text) {
            *error = u"抽出条件でデータ型が一致しません: %1"_s.arg(condition.field);
            return std::nullopt;
        }
        switch (column.kind) {
        case Kind::Text:
            parts << (isLike ? likeOn(foldName(column), text) : foldName(column) + op + bind(foldedParameter(text)));
            break;
        case Kind::Number:
            // Matched against the number's plain text ("12.5", "-99").
            parts << '(' + likeOn("(trim_scale(" + name + ")::text COLLATE \"C\")", text) + ')';
            break;
        case Kind::SmallInt:
            parts << '(' + likeOn("(" + name + "::text COLLATE \"C\")", text) + ')';
            break;
        }
    }
    query.where = parts.join(" AND ");
    // A product search by name (and the JAN) runs on the narrow copy of those fields, which
    // holds the same rows in a fraction of the pages.
    bool byName = false;
    bool narrow = table.name == Table::syohin;
    for (const Condition &condition : statement.conditions) {
        byName = byName || QString::compare(condition.field, Field::syohin_mei, Qt::CaseInsensitive) == 0;
        narrow = narrow
            && (QString::compare(condition.field, Field::syohin_mei, Qt::CaseInsensitive) == 0
                || QString::compare(condition.field, Field::syohin_JAN, Qt::CaseInsensitive) == 0);
    }
    query.onSearchTable = byName && narrow;

    // A name holding a run of three characters, the JAN differing from numbers: the postings
    // of that run minus the products whose JAN is one of those numbers or empty.
    if (table.name == Table::syohin) {
        QByteArray gram;
        std::vector<QByteArray> janNotEqual;
        bool postings = true;
        for (const Condition &condition : statement.conditions) {
            const auto *text = std::get_if<QString>(&condition.value);
            const auto *number = std::get_if<Currency>(&condition.value);
            if (text && gram.isEmpty() && condition.op == Operator::Like
                && QString::compare(condition.field, Field::syohin_mei, Qt::CaseInsensitive) == 0) {
                const auto compiled = LikePattern::compile(QString::fromUtf8(text->toUtf8()));
                const QString run = compiled ? compiled->containedRun() : QString();
                if (run.toUcs4().size() == 3) {
                    gram = run.toUtf8();
                    continue;
                }
            } else if (number && condition.op == Operator::NotEqual
                       && QString::compare(condition.field, Field::syohin_JAN, Qt::CaseInsensitive) == 0) {
                janNotEqual.push_back(number->toPlainText().toLatin1());
                continue;
            }
            postings = false;
        }
        if (postings && !gram.isEmpty()) {
            query.gram = gram;
            query.janNotEqual = std::move(janNotEqual);
        }
    }
    return query;
}

bool Catalogue::fail()
{
    m_error = m_session->errorString();
    return false;
}

bool Catalogue::selectKeys(const TableInfo &table, const Query &query, std::vector<std::int64_t> *keys)
{
    m_error.clear();
    if (!m_session->command("BEGIN READ ONLY"))
        return fail();
    // The postings are read only while their triggers are there to keep them.
    bool byPostings = false;
    if (m_postings && !query.gram.isEmpty()) {
        const Result kept = m_session->exec(postingsKept);
        byPostings = kept.ok() && kept.rows() == 1 && kept.bytes(0, 0) == "t";
        // The products left out (JAN empty or unequal) and the changed postings are usually
        // few, which tempts the planner into comparing every key with every one of them:
        // costly when statistics lag behind thousands of them. Hash joins stay cheap.
        if (byPostings)
            m_session->command("SET LOCAL enable_nestloop = off");
    }
    // Keys come in the order the server finds them and are sorted here: the server would
    // sort them the same way, after reading them all, before sending the first.
    QByteArray sql = "DECLARE merchalog_keys NO SCROLL CURSOR FOR ";
    std::vector<Parameter> parameters;
    if (byPostings) {
        parameters.emplace_back(query.gram);
        sql += "SELECT k FROM (SELECT b.k FROM (SELECT unnest(ids) AS k FROM syohin_gram WHERE gram = $1) AS b "
               "WHERE NOT EXISTS (SELECT FROM syohin_gram_delta AS d WHERE d.gram = $1 AND d.id = b.k) "
               "UNION ALL SELECT id FROM syohin_gram_delta WHERE gram = $1 AND present) AS p";
        if (!query.janNotEqual.empty()) {
            QByteArray unequal;
            for (const QByteArray &jan : query.janNotEqual) {
                parameters.emplace_back(jan);
                unequal += "s.syohin_jan = " + placeholder(parameters.size(), "numeric") + " OR ";
            }
            sql += " WHERE NOT EXISTS (SELECT FROM syohin AS s WHERE s.syohin_id = p.k AND (" + unequal
                + "s.syohin_jan IS NULL))";
        }
    } else {
        parameters = query.parameters;
        sql += "SELECT " + serverName(table.key) + " FROM "
            + (query.onSearchTable ? QByteArray("syohin_search") : serverName(table.name));
        if (!query.where.isEmpty())
            sql += " WHERE " + query.where;
    }
    const std::size_t first = keys->size();
    bool ok = m_session->command(sql, parameters);
    const QByteArray fetch = "FETCH FORWARD " + QByteArray::number(keySlice) + " FROM merchalog_keys";
    while (ok) {
        const Result slice = m_session->exec(fetch);
        ok = slice.ok();
        for (int row = 0; row < slice.rows(); ++row)
            keys->push_back(slice.integer(row, 0));
        if (slice.rows() < keySlice)
            break;
    }
    if (ok)
        ok = m_session->command("COMMIT");
    if (!ok) {
        fail();
        if (!m_session->connectionLost())
            m_session->command("ROLLBACK");
        return false;
    }
    const auto begin = keys->begin() + std::ptrdiff_t(first);
    if (!std::is_sorted(begin, keys->end()))
        std::sort(begin, keys->end());
    if (byPostings)
        keys->erase(std::unique(begin, keys->end()), keys->end());
    return true;
}

bool Catalogue::readRows(const TableInfo &table, const std::vector<std::int64_t> &keys, std::vector<StoredRow> *rows)
{
    m_error.clear();
    const QByteArray sql = "SELECT " + selectList(table) + " FROM " + serverName(table.name) + " WHERE "
        + serverName(table.key) + " = ANY($1::bigint[])";
    for (std::size_t first = 0; first < keys.size(); first += rowSlice) {
        const auto begin = keys.begin() + std::ptrdiff_t(first);
        const auto end = keys.begin() + std::ptrdiff_t(std::min(keys.size(), first + rowSlice));
        const Result result = m_session->exec(sql, {keyArray(begin, end)});
        if (!result.ok())
            return fail();
        QHash<std::int64_t, int> rowOfKey;
        for (int row = 0; row < result.rows(); ++row)
            rowOfKey.insert(result.integer(row, 0), row);
        for (auto it = begin; it != end; ++it) {
            const auto found = rowOfKey.constFind(*it);
            if (found != rowOfKey.constEnd())
                rows->push_back(readStored(result, *found, table));
        }
    }
    return true;
}

bool Catalogue::forEachStored(const TableInfo &table, const std::function<bool(const StoredRow &)> &visit)
{
    m_error.clear();
    const QByteArray sql = "SELECT " + selectList(table) + " FROM " + serverName(table.name) + " WHERE "
        + serverName(table.key) + " > $1 ORDER BY " + serverName(table.key) + " LIMIT " + QByteArray::number(rowSlice);
    std::int64_t after = std::numeric_limits<std::int64_t>::min();
    for (;;) {
        const Result result = m_session->exec(sql, {QByteArray::number(qlonglong(after))});
        if (!result.ok())
            return fail();
        for (int row = 0; row < result.rows(); ++row) {
            const StoredRow stored = readStored(result, row, table);
            if (!visit(stored))
                return true;
            after = stored.key;
        }
        if (result.rows() < rowSlice)
            return true;
    }
}

WriteResult Catalogue::failWrite()
{
    const bool busy = isBusyState(m_session->lastSqlState());
    m_error = m_session->errorString();
    if (!m_session->connectionLost())
        m_session->command("ROLLBACK");
    return busy ? WriteResult::Busy : WriteResult::Failed;
}

WriteResult Catalogue::append(const TableInfo &table, const QHash<int, QVariant> &values, std::int64_t *key)
{
    m_error.clear();
    QList<int> columns = values.keys();
    std::sort(columns.begin(), columns.end());
    QList<QByteArray> names;
    QList<QByteArray> marks;
    std::vector<Parameter> parameters;
    for (int column : columns) {
        const ColumnInfo &info = table.columns[std::size_t(column)];
        const Parameter value = storedParameter(values.value(column));
        names << serverName(info.name);
        parameters.push_back(value);
        marks << placeholder(parameters.size());
        if (info.kind == Kind::Text) {
            names << foldName(info);
            parameters.push_back(value ? Parameter(foldedParameter(values.value(column).toString())) : std::nullopt);
            marks << placeholder(parameters.size());
        }
    }
    const QByteArray sql = names.isEmpty()
        ? "INSERT INTO " + serverName(table.name) + " DEFAULT VALUES RETURNING " + serverName(table.key)
        : "INSERT INTO " + serverName(table.name) + " (" + names.join(", ") + ") VALUES (" + marks.join(", ")
            + ") RETURNING " + serverName(table.key);
    const Result result = m_session->exec(sql, parameters);
    if (!result.ok() || result.rows() != 1) {
        const bool busy = isBusyState(m_session->lastSqlState());
        m_error = m_session->errorString();
        return busy ? WriteResult::Busy : WriteResult::Failed;
    }
    *key = result.integer(0, 0);
    return WriteResult::Done;
}

WriteResult Catalogue::update(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead,
                                         const QHash<int, QVariant> &values, StoredRow *now)
{
    return change(table, key, storedAsRead, &values, now);
}

WriteResult Catalogue::remove(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead,
                                         StoredRow *now)
{
    return change(table, key, storedAsRead, nullptr, now);
}

WriteResult Catalogue::change(const TableInfo &table, std::int64_t key, const QByteArray &storedAsRead,
                                         const QHash<int, QVariant> *values, StoredRow *now)
{
    m_error.clear();
    const QByteArray tableName = serverName(table.name);
    const QByteArray keyName = serverName(table.key);
    const QByteArray keyText = QByteArray::number(qlonglong(key));
    if (!m_session->command("BEGIN"))
        return failWrite();
    // The record is locked as it is read: nobody changes it between the check and the write.
    const Result current = m_session->exec("SELECT " + selectList(table) + " FROM " + tableName + " WHERE " + keyName
                                               + " = $1 FOR UPDATE",
                                           {keyText});
    if (!current.ok())
        return failWrite();
    if (current.rows() == 0) {
        m_session->command("ROLLBACK");
        *now = StoredRow{key, {}, {}};
        return WriteResult::Gone;
    }
    *now = readStored(current, 0, table);
    if (now->stored != storedAsRead) {
        m_session->command("ROLLBACK");
        return WriteResult::Changed;
    }

    if (!values) {
        if (!m_session->command("DELETE FROM " + tableName + " WHERE " + keyName + " = $1", {keyText}))
            return failWrite();
        *now = StoredRow{key, {}, {}};
    } else {
        QList<int> columns = values->keys();
        std::sort(columns.begin(), columns.end());
        QList<QByteArray> sets;
        std::vector<Parameter> parameters;
        for (int column : columns) {
            const ColumnInfo &info = table.columns[std::size_t(column)];
            const Parameter value = storedParameter(values->value(column));
            parameters.push_back(value);
            sets << serverName(info.name) + " = " + placeholder(parameters.size());
            if (info.kind == Kind::Text) {
                parameters.push_back(value ? Parameter(foldedParameter(values->value(column).toString())) : std::nullopt);
                sets << foldName(info) + " = " + placeholder(parameters.size());
            }
        }
        parameters.push_back(keyText);
        const Result stored = m_session->exec("UPDATE " + tableName + " SET " + sets.join(", ") + " WHERE " + keyName
                                                  + " = " + placeholder(parameters.size()) + " RETURNING "
                                                  + selectList(table),
                                              parameters);
        if (!stored.ok() || stored.rows() != 1)
            return failWrite();
        *now = readStored(stored, 0, table);
    }
    if (!m_session->command("COMMIT"))
        return failWrite();
    return WriteResult::Done;
}

std::optional<bool> holdsCatalogue(Session &session)
{
    const Result result = session.exec("SELECT to_regclass('syohin') IS NOT NULL OR to_regclass('torihiki') IS NOT NULL "
                                       "OR to_regclass('syohin_search') IS NOT NULL OR to_regclass('syohin_gram') IS NOT NULL "
                                       "OR to_regclass('syohin_gram_delta') IS NOT NULL "
                                       "OR to_regclass('merchalog_catalogue') IS NOT NULL");
    if (!result.ok() || result.rows() != 1)
        return std::nullopt;
    return result.bytes(0, 0) == "t";
}

QByteArray createTablesSql(bool replace)
{
    QByteArray sql = "CREATE EXTENSION IF NOT EXISTS pg_trgm;\n";
    if (replace) {
        sql += "DROP TABLE IF EXISTS syohin_search, syohin_gram, syohin_gram_delta, syohin, torihiki, merchalog_catalogue;\n"
               "DROP FUNCTION IF EXISTS merchalog_syohin_search(), merchalog_syohin_search_truncate(), "
               "merchalog_syohin_gram(), merchalog_syohin_gram_truncate();\n";
    }
    for (const TableInfo &table : tables()) {
        sql += "CREATE TABLE " + serverName(table.name) + " (";
        for (const ColumnInfo &column : table.columns) {
            sql += serverName(column.name)
                + (column.kind == Kind::Text ? " text, " : column.kind == Kind::Number ? " numeric(19,4), " : " smallint, ");
        }
        sql += serverName(table.key) + " bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
        for (const ColumnInfo &column : table.columns) {
            if (column.kind == Kind::Text)
                sql += ", " + foldName(column) + " text COLLATE \"C\"";
        }
        sql += ");\n";
    }
    // The narrow copy of the name and JAN that product searches by name read.
    sql += "CREATE TABLE syohin_search (syohin_id bigint PRIMARY KEY, syohin_mei_fold text COLLATE \"C\", "
           "syohin_jan numeric(19,4));\n";
    sql += "CREATE TABLE merchalog_catalogue (format integer NOT NULL);\n"
           "INSERT INTO merchalog_catalogue VALUES (" + QByteArray::number(serverFormat) + ");\n";
    return sql;
}

QByteArray createIndexesSql()
{
    // The search copy follows every change of syohin, whoever makes it.
    QByteArray sql = "INSERT INTO syohin_search SELECT syohin_id, syohin_mei_fold, syohin_jan FROM syohin;\n"
        "CREATE FUNCTION merchalog_syohin_search() RETURNS trigger LANGUAGE plpgsql AS $$\n"
        "BEGIN\n"
        "  IF TG_OP <> 'INSERT' THEN\n"
        "    DELETE FROM syohin_search WHERE syohin_id = OLD.syohin_id;\n"
        "  END IF;\n"
        "  IF TG_OP <> 'DELETE' THEN\n"
        "    INSERT INTO syohin_search VALUES (NEW.syohin_id, NEW.syohin_mei_fold, NEW.syohin_jan);\n"
        "  END IF;\n"
        "  RETURN NULL;\n"
        "END $$;\n"
        "CREATE FUNCTION merchalog_syohin_search_truncate() RETURNS trigger LANGUAGE plpgsql AS $$\n"
        "BEGIN TRUNCATE syohin_search; RETURN NULL; END $$;\n"
        "CREATE TRIGGER syohin_search_rows AFTER INSERT OR UPDATE OR DELETE ON syohin\n"
        "  FOR EACH ROW EXECUTE FUNCTION merchalog_syohin_search();\n"
        "CREATE TRIGGER syohin_search_truncate AFTER TRUNCATE ON syohin\n"
        "  FOR EACH STATEMENT EXECUTE FUNCTION merchalog_syohin_search_truncate();\n";
    for (const char *field : {"bumon_code", "syohin_jan", "syohin_eos", "syohin_master", "syohin_torihikicode"})
        sql += "CREATE INDEX syohin_" + QByteArray(field) + "_idx ON syohin (" + field + ");\n";
    sql += "CREATE INDEX torihiki_torihiki_code_idx ON torihiki (torihiki_code);\n"
           "CREATE INDEX syohin_mei_trgm_idx ON syohin USING gin (syohin_mei_fold gin_trgm_ops) WITH (fastupdate = off);\n"
           "CREATE INDEX syohin_search_mei_trgm_idx ON syohin_search USING gin (syohin_mei_fold gin_trgm_ops) "
           "WITH (fastupdate = off);\n";
    // Identity columns continue after the largest key copied in.
    for (const TableInfo &table : tables()) {
        const QByteArray name = serverName(table.name);
        const QByteArray key = serverName(table.key);
        sql += "SELECT setval(pg_get_serial_sequence('" + name + "', '" + key + "'), coalesce(max(" + key
            + "), 0) + 1, false) FROM " + name + ";\n";
    }
    sql += "ANALYZE syohin;\nANALYZE syohin_search;\nANALYZE torihiki;\n";
    return sql + postingsSql();
}

} // namespace Merchalog::Server
