// Plays whole movies through the player and draws every frame as the offline conversion does
// (high quality, one core), and prints the milliseconds per frame: median, mean and processor
// time. Without movies: the demo beside the program and the generated cartoons (heavy vector,
// bitmaps, text, stream sound). Each movie is measured in a child process of its own, so its
// peak memory is its own.
//
//   bench_render_movie [--quick] [--frames N] [--size WxH] [--hash]
//                      [MOVIE.swf | demo | heavy | bitmaps | text | stream ...]
//
// --quick draws the first 24 frames of each movie only.
// --hash prints a fingerprint of all the pictures, to show that a faster renderer draws the same.
//
// Under callgrind only the drawing is counted, so instructions per frame are Ir / frames:
//   valgrind --tool=callgrind --collect-atstart=no bench_render_movie --frames 48
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QM_COUNT_TOGGLE() CALLGRIND_TOGGLE_COLLECT
#else
#define QM_COUNT_TOGGLE()
#endif

#include "bench/bench_movies.h"
#include "flash/player.h"
#include "flash/render/render.h"

using namespace qm;

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool printHash = false;

uint64_t Fingerprint(uint64_t h, const std::vector<uint8_t>& pixels) {
    for (uint8_t b : pixels) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

void Measure(const std::string& name, flash::LoadResult loaded, int maxFrames, int width, int height) {
    if (!loaded.player) {
        std::printf("%-12s cannot be loaded: %s\n", name.c_str(), loaded.error.c_str());
        return;
    }
    flash::Player& player = *loaded.player;
    player.SetLoop(false);
    player.SetScriptStartTime(0);
    flash::Renderer renderer(player.Characters(), player.Version());
    renderer.SetQuality(flash::Quality::High);
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    const flash::RenderTarget target{pixels.data(), width, height, width * 4};
    const int frames = maxFrames > 0 ? std::min<int>(maxFrames, int(player.TotalFrames())) : int(player.TotalFrames());
    std::vector<double> wall;
    double cpu = 0;
    uint64_t hash = 0xCBF29CE484222325ull;
    for (int f = 0; f < frames; ++f) {
        player.Advance();
        const double c0 = ThreadCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        QM_COUNT_TOGGLE();
        renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(), target);
        QM_COUNT_TOGGLE();
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        cpu += ThreadCpuMs() - c0;
        if (printHash) hash = Fingerprint(hash, pixels);
    }
    if (wall.empty()) {
        std::printf("%-12s has no frame\n", name.c_str());
        return;
    }
    std::vector<double> sorted = wall;
    std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0;
    for (double v : wall) sum += v;
    std::printf("%-12s %4d frames at %dx%d: median %6.2f ms, mean %6.2f ms, processor %6.2f ms per frame\n",
                name.c_str(), frames, width, height, median, sum / double(wall.size()), cpu / double(wall.size()));
    if (printHash) std::printf("%-12s pictures %016llx\n", name.c_str(), static_cast<unsigned long long>(hash));
    std::fflush(stdout);
}

void MeasureNamed(const std::string& m, int frames, int width, int height) {
    if (m == "demo") {
        const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe").parent_path();
        Measure(m, flash::Player::LoadFile((self / "demo" / "demo.swf").string()), frames, width, height);
    } else if (m == "heavy") {
        Measure(m, flash::Player::LoadBytes(bench::HeavyCartoon().bytes()), frames, width, height);
    } else if (m == "bitmaps") {
        Measure(m, flash::Player::LoadBytes(bench::BitmapCartoon().bytes()), frames, width, height);
    } else if (m == "text") {
        Measure(m, flash::Player::LoadBytes(bench::TextCartoon().bytes()), frames, width, height);
    } else if (m == "stream") {
        Measure(m, flash::Player::LoadBytes(bench::StreamSoundCartoon().bytes()), frames, width, height);
    } else {
        Measure(std::filesystem::path(m).filename().string(), flash::Player::LoadFile(m), frames, width, height);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 0, width = 1280, height = 720;
    std::vector<std::string> movies;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--quick")) {
            frames = 24;
        } else if (!std::strcmp(argv[i], "--hash")) {
            printHash = true;
        } else if (!std::strcmp(argv[i], "--size") && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width <= 0 || height <= 0 ||
                width > 8192 || height > 8192) {
                std::printf("bad size %s\n", argv[i]);
                return 0;
            }
        } else {
            movies.push_back(argv[i]);
        }
    }
    if (movies.empty()) movies = {"demo", "heavy", "bitmaps", "text", "stream"};
    for (const std::string& m : movies) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            MeasureNamed(m, frames, width, height);
            std::fflush(stdout);
            _exit(0);
        }
        rusage usage{};
        int status = 0;
        if (child < 0 || wait4(child, &status, 0, &usage) != child) {
            MeasureNamed(m, frames, width, height);
            getrusage(RUSAGE_SELF, &usage);
        }
        std::printf("%-12s peak memory %.1f MiB\n", m.c_str(), double(usage.ru_maxrss) / 1024.0);
    }
    flash::ReleaseFontResources();
    return 0;
}
