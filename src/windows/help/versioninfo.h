#pragma once

#include <QLatin1StringView>

#ifndef MERCHALOG_VERSION
#error "MERCHALOG_VERSION comes from the build (the project's version)"
#endif

namespace Merchalog::VersionInfo {

// What the version window and `merchalog --version` show about the program and its maker.
inline constexpr QLatin1StringView name{"Merchalog"};
inline constexpr QLatin1StringView version{MERCHALOG_VERSION};
inline constexpr QLatin1StringView notice{"(C) The Merchalog developers"};
inline constexpr QLatin1StringView address{"merchalog.example"};

} // namespace Merchalog::VersionInfo
