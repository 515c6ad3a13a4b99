#include <cstdio>

#include "cli/commands.h"

namespace qm::cli {

int RunTrace(const Args&) {
    std::fprintf(stderr, "quellmark-cli: trace is not available in this build\n");
    return 1;
}

}  // namespace qm::cli
