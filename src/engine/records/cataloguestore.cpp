#include "engine/records/cataloguestore.h"

#include "engine/server/serverstore.h"
#include "engine/server/session.h"
#include "engine/sqlite/sqlitestore.h"

namespace Merchalog {

Result<std::shared_ptr<CatalogueStore>> openCatalogueStore(const QString &name)
{
    if (Server::isAddress(name)) {
        auto server = ServerStore::shared(name);
        if (!server)
            return server.status();
        return std::shared_ptr<CatalogueStore>(std::move(*server));
    }
    auto store = SqliteStore::open(name);
    if (!store)
        return store.status();
    return std::shared_ptr<CatalogueStore>(std::move(*store));
}

} // namespace Merchalog
