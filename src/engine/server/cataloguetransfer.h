#pragma once

#include <QString>

namespace Merchalog::Server {

// How much a copy moved.
struct CopyCount
{
    qint64 products = 0;
    qint64 suppliers = 0;
};

// Copies a whole catalogue, every record with its key, from source to destination; each is
// a catalogue file or a server address. A server destination gets the tables made in its
// database, all in one transaction; a file destination is written beside and renamed into
// place. A destination that already holds a catalogue (for a file: that exists at all) is
// refused unless replace. Nothing is left half-written. Returns false and sets *error
// (Japanese, naming the side and the reason).
bool copyCatalogue(const QString &source, const QString &destination, bool replace, CopyCount *count,
                   QString *error);

// Whether copyCatalogue would take destination, checked before any work on the source:
// false and *error as copyCatalogue words it when it would be refused.
bool destinationAccepted(const QString &destination, bool replace, QString *error);

} // namespace Merchalog::Server
