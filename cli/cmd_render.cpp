#include <cstdio>

#include "cli/commands.h"

namespace qm::cli {

int RunRender(const Args&) {
    std::fprintf(stderr, "quellmark-cli: render is not available in this build\n");
    return 1;
}

}  // namespace qm::cli
