#pragma once

#include "engine/kinds/schema.h"
#include "engine/jet/jetreader.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <span>
#include <vector>

namespace Merchalog {

// A value of a row that cannot become the value of its field.
struct JetValueError
{
    QString field; // the field's name; empty when the whole row is meant
    QString value; // what the file holds there, as text
    QString reason; // in Japanese
};

// A row of a catalogue table as read from an Access file: for each field of the table, in
// canonical order, its value as text (numbers as exact plain decimals, which convert back to
// the same number; Null as empty text), and the values that could not be read.
struct JetTextRow
{
    qint64 row = 0; // the row's number in its table, from 1
    QStringList values;
    QList<bool> isNull;
    QList<JetValueError> errors;
};

// The products and suppliers of an Access catalogue (tables syohin and torihiki, fields by
// name, without regard to case as Access names them). The file is only ever read, through
// JetReader.
class JetCatalogue final
{
public:
    explicit JetCatalogue(const QString &fileName);

    // Reads both tables. Returns false, errorString() naming the file and the table or field,
    // when the file cannot be read, a table or field is missing, or a field's type cannot hold
    // its values (a date where a price belongs).
    bool read(const JetReader::Progress &progress = {});

    int version() const { return m_reader.version(); }
    // The file's other tables and the tables' other fields ("syohin.写真"), left alone.
    const QStringList &ignored() const { return m_ignored; }
    qint64 rowCount(QLatin1StringView table) const;

    // Calls visit with each row of the table ("syohin" or "torihiki") until it returns false.
    bool forEachRow(QLatin1StringView table, const std::function<bool(const JetTextRow &)> &visit) const;

    QString errorString() const { return m_errorString; }
    JetReader &reader() { return m_reader; }

private:
    struct Mapped
    {
        const JetTable *table = nullptr;
        std::span<const FieldDef> fields;
        std::vector<int> columnOf; // for each field
    };
    bool map(QLatin1StringView name, std::span<const FieldDef> fields, Mapped *mapped);
    const Mapped *mapped(QLatin1StringView table) const;

    QString m_fileName;
    JetReader m_reader;
    Mapped m_products;
    Mapped m_suppliers;
    QStringList m_ignored;
    QString m_errorString;
};

} // namespace Merchalog
