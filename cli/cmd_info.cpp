#include <cstdio>

#include "cli/commands.h"

namespace qm::cli {

int RunInfo(const Args&) {
    std::fprintf(stderr, "quellmark-cli: info is not available in this build\n");
    return 1;
}

}  // namespace qm::cli
