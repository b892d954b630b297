#include "suppliers/newtorihiki.h"

namespace Merchalog {

NEWtorihiki::NEWtorihiki(QWidget *parent)
    : QWidget(parent)
{
}

NEWtorihiki::~NEWtorihiki() = default;

} // namespace Merchalog
