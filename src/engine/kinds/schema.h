#pragma once

#include <QAnyStringView>
#include <QLatin1StringView>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace Merchalog {

// How a field is written, read and compared.
enum class Kind {
    Text,     // stored as typed
    Number,   // fixed point with four decimals (see Currency)
    SmallInt, // signed 16-bit integer
};

// Declared column types in the catalogue file; the engine reads each column's kind from them.
inline constexpr QLatin1StringView kindTypeText{"TEXT"};
inline constexpr QLatin1StringView kindTypeNumber{"CURRENCY"};
inline constexpr QLatin1StringView kindTypeSmallInt{"SMALLINT"};

// Returns the kind a declared column type stands for, or nullopt for an unknown type.
std::optional<Kind> kindFromDeclaredType(QStringView declaredType);
QLatin1StringView declaredTypeOf(Kind kind);

namespace Table {
inline constexpr QLatin1StringView syohin{"syohin"};
inline constexpr QLatin1StringView torihiki{"torihiki"};
} // namespace Table

namespace Field {
inline constexpr QLatin1StringView syohin_mei{"syohin_mei"};
inline constexpr QLatin1StringView syohin_master{"syohin_master"};
inline constexpr QLatin1StringView syohin_sale{"syohin_sale"};
inline constexpr QLatin1StringView syohin_genka{"syohin_genka"};
inline constexpr QLatin1StringView syohin_JAN{"syohin_JAN"};
inline constexpr QLatin1StringView syohin_EOS{"syohin_EOS"};
inline constexpr QLatin1StringView syohin_EOStani{"syohin_EOStani"};
inline constexpr QLatin1StringView syohin_torihiki{"syohin_torihiki"};
inline constexpr QLatin1StringView syohin_torihikicode{"syohin_torihikicode"};
inline constexpr QLatin1StringView bumon_code{"bumon_code"};
inline constexpr QLatin1StringView bumon_AU{"bumon_AU"};

inline constexpr QLatin1StringView torihiki_mei{"torihiki_mei"};
inline constexpr QLatin1StringView torihiki_add{"torihiki_add"};
inline constexpr QLatin1StringView torihiki_tel{"torihiki_tel"};
inline constexpr QLatin1StringView torihiki_code{"torihiki_code"};
inline constexpr QLatin1StringView torihiki_post{"torihiki_post"};

// The key columns of format 2: the last column of each table, INTEGER PRIMARY KEY
// AUTOINCREMENT, so that a deleted record's key is never handed out again. They are internal:
// no window, grid or export shows them. Format 1 files have no key column; their rows are
// addressed by rowid alone.
inline constexpr QLatin1StringView syohin_id{"syohin_id"};
inline constexpr QLatin1StringView torihiki_id{"torihiki_id"};
} // namespace Field

struct FieldDef
{
    QLatin1StringView name;
    Kind kind;
};

// The product fields in canonical order: detail fields Text1..Text11, registration, CSV columns.
inline constexpr std::array<FieldDef, 11> syohinFields{{
    {Field::syohin_mei, Kind::Text},
    {Field::syohin_master, Kind::Number},
    {Field::syohin_sale, Kind::Number},
    {Field::syohin_genka, Kind::Number},
    {Field::syohin_JAN, Kind::Number},
    {Field::syohin_EOS, Kind::Number},
    {Field::syohin_EOStani, Kind::SmallInt},
    {Field::syohin_torihiki, Kind::Text},
    {Field::syohin_torihikicode, Kind::Number},
    {Field::bumon_code, Kind::Number},
    {Field::bumon_AU, Kind::Number},
}};

// The supplier fields in canonical order.
inline constexpr std::array<FieldDef, 5> torihikiFields{{
    {Field::torihiki_mei, Kind::Text},
    {Field::torihiki_add, Kind::Text},
    {Field::torihiki_tel, Kind::Text},
    {Field::torihiki_code, Kind::Number},
    {Field::torihiki_post, Kind::Text},
}};

// Marks a SQLite file as one of our catalogues ("MRCH").
inline constexpr int catalogueApplicationId = 0x4D524348;
// The catalogue format this program writes (user_version): 2 adds the key columns.
inline constexpr int catalogueSchemaVersion = 2;
// The newest format this program reads (user_version); a file of a later one comes from a
// newer program and is refused rather than changed in ways that program does not expect.
inline constexpr int catalogueNewestVersion = 2;

// The key column of a table ("syohin" or "torihiki", any case); empty for another name.
QLatin1StringView keyFieldOf(QAnyStringView table);

// A column of a catalogue table as the catalogue declares it.
struct ColumnInfo
{
    QString name;
    Kind kind = Kind::Text;
};

// The columns of one table in the catalogue's own order, without its key column.
struct TableInfo
{
    QString name;
    std::vector<ColumnInfo> columns;
    // The key column (format 2), an alias of the rowid; empty when the table has none.
    QString key;

    // Index of a column, matched without regard to case; -1 when absent.
    int indexOf(QAnyStringView column) const;
};

// The SQL that creates an empty catalogue: both tables in canonical order followed by their
// key column, the indexes on the fields searches compare for equality, and the file's marks.
QString catalogueSchemaSql();

} // namespace Merchalog
