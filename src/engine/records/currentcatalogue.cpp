#include "engine/records/currentcatalogue.h"

namespace Merchalog {

CurrentCatalogue &CurrentCatalogue::instance()
{
    static CurrentCatalogue catalogue;
    return catalogue;
}

void CurrentCatalogue::setDatabaseName(const QString &name)
{
    m_databaseName = name;
    Q_EMIT databaseNameChanged(name);
}

} // namespace Merchalog
