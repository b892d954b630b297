#include "products/productdeletion.h"

#include "app/messages.h"
#include "catalogue/recordsource.h"

using namespace Qt::StringLiterals;

namespace Merchalog {

bool deleteCurrentProduct(RecordSource *data1, QWidget *messageParent)
{
    const bool adding = data1->editMode() == EditMode::Adding;
    if (!adding && !data1->hasCurrentRecord())
        return false;
    // Removing the record also drops its unsaved edit.
    if (data1->removeCurrentRecord())
        return !adding;
    switch (data1->lastError()) {
    case RecordSource::Error::WriteFailed:
        showMessage(messageParent, u"商品を削除できませんでした。データベースに書き込めません。\n%1"_s
                                       .arg(data1->errorString()));
        break;
    case RecordSource::Error::Busy:
        showMessage(messageParent, u"商品を削除できませんでした。\n%1\n%2"_s.arg(data1->errorString(), busyAdvice(false)));
        break;
    case RecordSource::Error::Conflict:
        showMessage(messageParent, data1->errorString());
        break;
    default:
        break;
    }
    return false;
}

} // namespace Merchalog
