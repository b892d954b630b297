#include "engine/records/cataloguestore.h"

#include "engine/sqlite/sqlitestore.h"

namespace Merchalog {

Result<std::shared_ptr<CatalogueStore>> openCatalogueStore(const QString &name)
{
    auto store = SqliteStore::open(name);
    if (!store)
        return store.status();
    return std::shared_ptr<CatalogueStore>(std::move(*store));
}

} // namespace Merchalog
