#include "engine/records/appendrecord.h"

#include "engine/records/recordsource.h"

namespace Merchalog {

Status appendRecord(RecordSource &source, QLatin1StringView table, std::span<const FieldValue> values)
{
    if (Status opened = source.openTable(table); !opened)
        return opened;
    if (Status started = source.addNew(); !started)
        return started;
    for (const FieldValue &field : values) {
        const Status written = field.value.typeId() == QMetaType::QString
            ? source.setText(field.field, field.value.toString())
            : source.setValue(field.field, field.value);
        if (!written) {
            source.cancelUpdate();
            return written;
        }
    }
    if (Status stored = source.update(); !stored) {
        source.cancelUpdate();
        return stored;
    }
    return source.setBookmark(source.lastModified());
}

} // namespace Merchalog
