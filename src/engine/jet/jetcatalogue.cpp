#include "engine/jet/jetcatalogue.h"

#include "engine/jet/fileformat.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Merchalog {

namespace {

using JetStream::ValueState;

// How Access names a column type, for a message refusing it.
QString typeName(std::uint8_t type)
{
    switch (JetType(type)) {
    case JetType::YesNo: return u"Yes/No 型"_s;
    case JetType::Byte: return u"数値型（バイト型）"_s;
    case JetType::Integer: return u"数値型（整数型）"_s;
    case JetType::Long: return u"数値型（長整数型）"_s;
    case JetType::Currency: return u"通貨型"_s;
    case JetType::Single: return u"数値型（単精度浮動小数点型）"_s;
    case JetType::Double: return u"数値型（倍精度浮動小数点型）"_s;
    case JetType::DateTime: return u"日付/時刻型"_s;
    case JetType::Text: return u"テキスト型"_s;
    case JetType::Memo: return u"メモ型"_s;
    }
    switch (type) {
    case 0x09: return u"バイナリ型"_s;
    case 0x0B: return u"OLE オブジェクト型"_s;
    case 0x0F: return u"レプリケーション ID 型"_s;
    case 0x10: return u"数値型（十進型）"_s;
    default: return u"種類 0x%1 の型"_s.arg(int(type), 2, 16, QChar(u'0'));
    }
}

bool isText(std::uint8_t type)
{
    return JetType(type) == JetType::Text || JetType(type) == JetType::Memo;
}

// Whether a column of the type can hold values of a field of the kind.
bool suits(std::uint8_t type, Kind kind)
{
    if (isText(type))
        return true;
    if (kind == Kind::Text)
        return false;
    switch (JetType(type)) {
    case JetType::Byte: case JetType::Integer: case JetType::Long: case JetType::Currency:
    case JetType::Single: case JetType::Double:
        return true;
    default:
        return false;
    }
}

QStringList requestFor(QLatin1StringView table, std::span<const FieldDef> fields)
{
    QStringList names;
    for (const FieldDef &field : fields)
        names << QString(field.name);
    return {QString(table) + u':' + names.join(u',')};
}

} // namespace

JetCatalogue::JetCatalogue(const QString &fileName) : m_fileName(fileName), m_reader(fileName) {}

bool JetCatalogue::read(const JetReader::Progress &progress)
{
    const QString shown = QDir::toNativeSeparators(m_fileName);
    switch (fileFormatOf(m_fileName)) {
    case FileFormat::Jet3:
    case FileFormat::Jet4:
        break;
    case FileFormat::Unreadable:
        m_errorString = u"「%1」を開けません。"_s.arg(shown);
        return false;
    case FileFormat::Ace:
        m_errorString = aceFormatRefusal(m_fileName);
        return false;
    default:
        m_errorString = u"「%1」は Access のデータベースではありません。"_s.arg(shown);
        return false;
    }
    if (!m_reader.read(requestFor(Table::syohin, syohinFields) + requestFor(Table::torihiki, torihikiFields), progress)) {
        m_errorString = m_reader.errorString();
        return false;
    }
    m_ignored.clear();
    if (!map(Table::syohin, syohinFields, &m_products) || !map(Table::torihiki, torihikiFields, &m_suppliers))
        return false;
    QStringList tables;
    for (const QString &name : m_reader.tableNames()) {
        if (!m_reader.table(name))
            tables << name;
    }
    m_ignored = tables + m_ignored;
    return true;
}

bool JetCatalogue::map(QLatin1StringView name, std::span<const FieldDef> fields, Mapped *mapped)
{
    const QString shown = QDir::toNativeSeparators(m_fileName);
    const JetTable *table = m_reader.table(name);
    if (!table) {
        m_errorString = u"「%1」に表 %2 がありません。"_s.arg(shown, name);
        return false;
    }
    // Every row the table's definition counts must have been read: a page that cannot be read
    // loses rows without a word from the library.
    if (table->rows != table->declaredRows) {
        m_errorString = u"「%1」の表 %2 は壊れています（%3 行あるはずのところ、読めたのは %4 行です）。"_s
                            .arg(shown, name).arg(table->declaredRows).arg(table->rows);
        return false;
    }
    mapped->table = table;
    mapped->fields = fields;
    mapped->columnOf.assign(fields.size(), -1);
    std::vector<bool> used(std::size_t(table->columns.size()), false);
    for (std::size_t f = 0; f < fields.size(); ++f) {
        for (qsizetype c = 0; c < table->columns.size(); ++c) {
            if (table->columns.at(c).name.compare(fields[f].name, Qt::CaseInsensitive) != 0)
                continue;
            if (mapped->columnOf[f] >= 0) {
                m_errorString = u"「%1」の表 %2 に項目 %3 が二つあります。"_s.arg(shown, name, fields[f].name);
                return false;
            }
            mapped->columnOf[f] = int(c);
            used[std::size_t(c)] = true;
        }
        if (mapped->columnOf[f] < 0) {
            m_errorString = u"「%1」の表 %2 に項目 %3 がありません。"_s.arg(shown, name, fields[f].name);
            return false;
        }
        const std::uint8_t type = table->columns.at(mapped->columnOf[f]).type;
        if (!suits(type, fields[f].kind)) {
            m_errorString = u"「%1」の表 %2 の項目 %3 は%4のため取り込めません。"_s.arg(shown, name, fields[f].name, typeName(type));
            return false;
        }
    }
    for (qsizetype c = 0; c < table->columns.size(); ++c) {
        if (!used[std::size_t(c)])
            m_ignored << table->name + u'.' + table->columns.at(c).name;
    }
    return true;
}

const JetCatalogue::Mapped *JetCatalogue::mapped(QLatin1StringView table) const
{
    if (table == Table::syohin)
        return m_products.table ? &m_products : nullptr;
    if (table == Table::torihiki)
        return m_suppliers.table ? &m_suppliers : nullptr;
    return nullptr;
}

qint64 JetCatalogue::rowCount(QLatin1StringView table) const
{
    const Mapped *map = mapped(table);
    return map ? map->table->rows : 0;
}

bool JetCatalogue::forEachRow(QLatin1StringView table, const std::function<bool(const JetTextRow &)> &visit) const
{
    const Mapped *map = mapped(table);
    if (!map)
        return false;
    JetTextRow text;
    return m_reader.forEachRow(*map->table, [&](const JetRow &row) {
        ++text.row;
        text.values.clear();
        text.isNull.clear();
        text.errors.clear();
        if (!row.damaged.isEmpty()) {
            for (std::size_t f = 0; f < map->fields.size(); ++f) {
                text.values << QString();
                text.isNull << true;
            }
            text.errors << JetValueError{{}, {}, row.damaged};
            return visit(text);
        }
        for (std::size_t f = 0; f < map->fields.size(); ++f) {
            const JetColumn &column = map->table->columns.at(map->columnOf[f]);
            const JetValue &value = row.values.at(map->columnOf[f]);
            const FieldDef &field = map->fields[f];
            QString reason;
            QString converted;
            if (value.state == ValueState::Value && isText(column.type)) {
                converted = QString::fromUtf8(value.bytes);
            } else if (value.state == ValueState::Value && field.kind == Kind::SmallInt) {
                if (const auto number = jetSmallInt(column, value, &reason))
                    converted = QString::number(*number);
            } else if (value.state == ValueState::Value) {
                if (const auto number = jetCurrency(column, value, &reason))
                    converted = number->toPlainText();
            } else if (value.state == ValueState::Error) {
                reason = QString::fromUtf8(value.bytes);
            }
            text.values << converted;
            text.isNull << (value.state == ValueState::Null);
            if (!reason.isEmpty())
                text.errors << JetValueError{QString(field.name), jetValueText(column, value), reason};
        }
        return visit(text);
    });
}

} // namespace Merchalog
