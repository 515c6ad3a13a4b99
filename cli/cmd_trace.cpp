#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "flash/player.h"

namespace qm::cli {

namespace {

class StdoutTrace : public flash::TraceSink {
public:
    void Trace(std::string_view line) override {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
};

bool ParseCount(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != 0 || v < 0) return false;
    out = v;
    return true;
}

}  // namespace

int RunTrace(const Args& args) {
    std::string movie;
    long frames = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--frames" && i + 1 < args.size()) {
            if (!ParseCount(args[++i], frames)) {
                std::fprintf(stderr, "quellmark-cli: --frames needs a whole number, not \"%s\"\n", args[i].c_str());
                return 2;
            }
        } else if (movie.empty() && !args[i].starts_with("--")) {
            movie = args[i];
        } else {
            std::fprintf(stderr, "quellmark-cli: unknown argument \"%s\"\n", args[i].c_str());
            return 2;
        }
    }
    if (movie.empty() || frames < 0) {
        std::fprintf(stderr, "Usage: quellmark-cli trace MOVIE --frames N\n");
        return 2;
    }

    flash::LoadResult loaded = flash::Player::LoadFile(movie);
    if (!loaded.player) {
        std::fprintf(stderr, "quellmark-cli: %s: %s\n", movie.c_str(), loaded.error.c_str());
        return 1;
    }
    flash::Player& player = *loaded.player;
    for (const auto& problem : player.ReadProblems()) {
        std::fprintf(stderr, "quellmark-cli: %s: %s (at byte %llu)\n", movie.c_str(), problem.message.c_str(),
                     static_cast<unsigned long long>(problem.offset));
    }
    StdoutTrace sink;
    player.SetTraceSink(&sink);
    player.SetLogSink([](std::string_view line) {
        std::fprintf(stderr, "quellmark-cli: %.*s\n", static_cast<int>(line.size()), line.data());
    });
    for (long i = 0; i < frames; ++i) player.Advance();
    std::fflush(stdout);
    return 0;
}

}  // namespace qm::cli
