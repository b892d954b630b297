#include "engine/kinds/schema.h"

namespace Merchalog {

std::optional<Kind> kindFromDeclaredType(QStringView declaredType)
{
    const QStringView type = declaredType.trimmed();
    if (type.compare(kindTypeText, Qt::CaseInsensitive) == 0)
        return Kind::Text;
    if (type.compare(kindTypeNumber, Qt::CaseInsensitive) == 0)
        return Kind::Number;
    if (type.compare(kindTypeSmallInt, Qt::CaseInsensitive) == 0)
        return Kind::SmallInt;
    return std::nullopt;
}

QLatin1StringView declaredTypeOf(Kind kind)
{
    switch (kind) {
    case Kind::Text:
        return kindTypeText;
    case Kind::Number:
        return kindTypeNumber;
    case Kind::SmallInt:
        return kindTypeSmallInt;
    }
    return kindTypeText;
}

int TableInfo::indexOf(QAnyStringView column) const
{
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (QAnyStringView::compare(columns[i].name, column, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

QLatin1StringView keyFieldOf(QAnyStringView table)
{
    if (QAnyStringView::compare(table, Table::syohin, Qt::CaseInsensitive) == 0)
        return Field::syohin_id;
    if (QAnyStringView::compare(table, Table::torihiki, Qt::CaseInsensitive) == 0)
        return Field::torihiki_id;
    return {};
}

namespace {

template<std::size_t N>
QString createTable(QLatin1StringView table, const std::array<FieldDef, N> &fields)
{
    QString sql = QLatin1StringView("CREATE TABLE ") + table + QLatin1StringView(" (");
    for (std::size_t i = 0; i < N; ++i)
        sql += fields[i].name + QLatin1Char(' ') + declaredTypeOf(fields[i].kind) + QLatin1StringView(", ");
    sql += keyFieldOf(table) + QLatin1StringView(" INTEGER PRIMARY KEY AUTOINCREMENT);\n");
    return sql;
}

QString createIndex(QLatin1StringView table, QLatin1StringView field)
{
    return QLatin1StringView("CREATE INDEX idx_") + field + QLatin1StringView(" ON ") + table
        + QLatin1StringView(" (") + field + QLatin1StringView(");\n");
}

} // namespace

QString catalogueSchemaSql()
{
    QString sql;
    sql += QStringLiteral("PRAGMA application_id = %1;\n").arg(catalogueApplicationId);
    sql += QStringLiteral("PRAGMA user_version = %1;\n").arg(catalogueSchemaVersion);
    sql += createTable(Table::syohin, syohinFields);
    sql += createTable(Table::torihiki, torihikiFields);
    sql += createIndex(Table::syohin, Field::bumon_code);
    sql += createIndex(Table::syohin, Field::syohin_JAN);
    sql += createIndex(Table::syohin, Field::syohin_EOS);
    sql += createIndex(Table::syohin, Field::syohin_master);
    sql += createIndex(Table::syohin, Field::syohin_torihikicode);
    sql += createIndex(Table::torihiki, Field::torihiki_code);
    return sql;
}

} // namespace Merchalog
