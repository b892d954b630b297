#include "files/newdatabase.h"

namespace Merchalog {

NewDataBase::NewDataBase(QWidget *parent)
    : QWidget(parent)
{
}

NewDataBase::~NewDataBase() = default;

} // namespace Merchalog
