#include <cstdio>

#include "cli/commands.h"

namespace qm::cli {

int RunFormats(const Args&) {
    std::fprintf(stderr, "quellmark-cli: formats is not available in this build\n");
    return 1;
}

}  // namespace qm::cli
