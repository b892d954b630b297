#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace Merchalog::JetChild {

// The longest Text or Memo value read, in stored bytes; a longer one is an error of its row,
// never a value cut short.
inline constexpr int maxValueBytes = 1 << 20;

// Reads tables of the Access file at `path` with the mdbtools library and writes them to `out`
// as a stream (jetstream.h). Each request names a table, alone ("syohin") or with the fields
// whose values are wanted ("syohin:syohin_mei,syohin_JAN"), matched without regard to case
// as Access does; other fields are listed but not read. Tables the file lacks are left out.
//
// Runs in a child process of the program: a damaged file may crash or hang the library, and
// the program must outlive that. Returns the exit status: 0 when the stream is complete.
int run(const QString &path, const QStringList &requests, std::FILE *out);

} // namespace Merchalog::JetChild
