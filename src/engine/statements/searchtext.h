#pragma once

#include "engine/statements/searchmode.h"

#include <QString>
#include <QStringView>

#include <optional>

namespace Merchalog {

// The product-search statements. A field counts as filled when its text is not empty (blanks
// count). Numbers (the department, and the key in every mode but the name mode) are converted
// and written back as plain decimal text; a name key goes between single quotes as typed,
// with any single quote in it doubled so that the name is looked for literally. The user's
// wildcards in a name take effect; nothing is added.

// "select * from syohin where syohin_JAN<>-99 and bumon_code like " + the department number.
std::optional<QString> departmentOnlyText(QStringView department);

// The mode's field compared with the key alone.
std::optional<QString> keyOnlyText(SearchMode mode, QStringView key);

// The department text, then " and ", the mode's field, " like " and the key.
std::optional<QString> combinedText(SearchMode mode, QStringView department, QStringView key);

// The statement for the two entry fields: department only, both, or key only. nullopt when
// both are empty or a number does not convert.
std::optional<QString> productSearchText(SearchMode mode, QStringView department, QStringView key);

// Why productSearchText gives nothing for these entries, as a short Japanese note; empty when
// both fields are empty (nothing to search) or the statement can be built.
QString searchInputProblem(SearchMode mode, QStringView department, QStringView key);

} // namespace Merchalog
