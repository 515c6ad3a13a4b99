// The subcommands of quellmark-cli. Each takes the words after its name and
// returns the process exit code; messages go to stdout/stderr.
#pragma once

#include <string>
#include <vector>

namespace qm::cli {

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunTrace(const Args& args);
int RunRender(const Args& args);
int RunSound(const Args& args);
int RunFormats(const Args& args);
int RunConvert(const Args& args);

}  // namespace qm::cli
