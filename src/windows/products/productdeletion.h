#pragma once

class QWidget;

namespace Merchalog {

class RecordSource;

// Removes the current product of the main window's list from the catalogue at once, without
// asking: a record being added is abandoned instead, and an unsaved edit of the product
// being removed is dropped rather than stored. With no current product nothing happens and
// nothing is reported. A catalogue that refuses the change (read-only, busy), and a product
// deleted or changed elsewhere since it was shown, are reported in a message box. Returns
// true when a product was removed.
bool deleteCurrentProduct(RecordSource *data1, QWidget *messageParent);

} // namespace Merchalog
