#include "suppliers/deletetorihiki.h"

namespace Merchalog {

Deletetorihiki::Deletetorihiki(QWidget *parent)
    : QWidget(parent)
{
}

Deletetorihiki::~Deletetorihiki() = default;

} // namespace Merchalog
