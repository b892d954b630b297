#include "suppliers/chagetorihiki.h"

namespace Merchalog {

Chagetorihiki::Chagetorihiki(QWidget *parent)
    : QWidget(parent)
{
}

Chagetorihiki::~Chagetorihiki() = default;

} // namespace Merchalog
