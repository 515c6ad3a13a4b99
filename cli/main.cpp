#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(const qm::cli::Args&);
    const char* usage;
};

const Command kCommands[] = {
    {"info", qm::cli::RunInfo, "info MOVIE [--json]            header facts of a movie"},
    {"trace", qm::cli::RunTrace, "trace MOVIE --frames N         run N frames, print trace() lines"},
    {"render", qm::cli::RunRender,
     "render MOVIE --frames N --out OUT.png [--width W --height H]"},
    {"sound", qm::cli::RunSound, "sound MOVIE --frames N (--out OUT.wav | --play [--capture OUT.wav])  the mixed sound of N frames"},
    {"formats", qm::cli::RunFormats, "formats [--json]               the format catalogue"},
    {"convert", qm::cli::RunConvert, "convert MOVIE... [options]     convert movies to video (convert --help)"},
};

void PrintUsage(std::FILE* to) {
    std::fprintf(to, "Usage: quellmark-cli COMMAND [ARGS]\n\nCommands:\n");
    for (const auto& c : kCommands) std::fprintf(to, "  %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const auto& c : kCommands) {
        if (name == c.name) return c.run(qm::cli::Args(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "quellmark-cli: unknown command \"%s\"\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
