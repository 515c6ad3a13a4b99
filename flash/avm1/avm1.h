// The ActionScript 1 and 2 interpreter, offered to the player as a
// ScriptHost.
#pragma once

#include <cstdint>
#include <memory>

#include "flash/player.h"
#include "swf/limits.h"

namespace qm::flash {

struct Avm1Options {
    // Seed of Math.random and the random action, so conversions repeat.
    uint32_t random_seed = 1;
    // Milliseconds of movie time per frame, for getTimer (0: 1000/12).
    double frame_ms = 0;
    // When the movie started, in milliseconds since 1970 UTC, for Date;
    // negative: the time the interpreter was made.
    double start_time_ms = -1;
    // Nested calls allowed in one action list, the list itself included (a
    // movie's ScriptLimits tag may set it); processor seconds the scripts of
    // one frame may take before the rest of them is stopped.
    int max_recursion = limits::kMaxRecursion;
    double script_seconds_per_frame = limits::kScriptSecondsPerFrame;
};

std::unique_ptr<ScriptHost> MakeAvm1ScriptHost(const Avm1Options& options = {});

}  // namespace qm::flash
