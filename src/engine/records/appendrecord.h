#pragma once

#include "engine/result.h"

#include <QLatin1StringView>
#include <QVariant>

#include <span>

namespace Merchalog {

class RecordSource;

// A field of a record to append and its value: a typed value (a Currency, an int, a text for
// a text field, null for empty), or a QString for a number or small-integer field, which is
// entry text converted as typed text is.
struct FieldValue
{
    QLatin1StringView field;
    QVariant value;
};

// Appends a record to a table of source's catalogue, the way every registration does: opens
// the table without reading any of its rows, starts a new record, writes the values, stores
// it and makes it the current record (lastModified() and bookmark() name it). A value that
// does not fit its field (InvalidValue, naming the field) or a catalogue that refuses the
// record stores nothing, and the record source then has nothing pending.
Status appendRecord(RecordSource &source, QLatin1StringView table, std::span<const FieldValue> values);

} // namespace Merchalog
