#include "engine/option_state.h"

namespace qm::engine {

// Bicubic scaling unless the options say otherwise, as the command-line tool scales.
TTaskOptions::TTaskOptions() { ScalerOptions.Set("sws_flags", "bicubic"); }

// Out of line: the hook chain is complete here.
TTaskOptions::~TTaskOptions() = default;

}  // namespace qm::engine
