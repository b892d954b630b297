#include "windows/products/productdeletion.h"

#include "engine/records/recordsource.h"
#include "ui/messages.h"

using namespace Qt::StringLiterals;

namespace Merchalog {

bool deleteCurrentProduct(RecordSource *data1, QWidget *messageParent)
{
    const bool adding = data1->editMode() == EditMode::Adding;
    if (!adding && !data1->hasCurrentRecord())
        return false;
    // Removing the record also drops its unsaved edit.
    const Status removed = data1->removeCurrentRecord();
    if (removed)
        return !adding;
    reportWriteFailure(messageParent, removed);
    return false;
}

} // namespace Merchalog
