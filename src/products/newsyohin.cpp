#include "products/newsyohin.h"

namespace Merchalog {

Newsyohin::Newsyohin(QWidget *parent)
    : QWidget(parent)
{
}

Newsyohin::~Newsyohin() = default;

} // namespace Merchalog
