// flash.filters: the filter classes scripts build, and MovieClip.filters.
#pragma once

#include <optional>

#include "flash/avm1/interpreter.h"
#include "swf/swf.h"

namespace qm::flash::avm1 {

// The classes in flash.filters and the clips' `filters` property (the
// flash package must exist).
void InstallFilters(Interpreter& in);

// The filter a script's filter object stands for; none for other values and
// for kinds the renderer does not draw (the displacement map).
std::optional<swf::Filter> FilterOf(Interpreter& in, const Value& v);

}  // namespace qm::flash::avm1
