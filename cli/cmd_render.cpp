// quellmark-cli render MOVIE --frames N --out OUT.png [--width W --height H] [--scale MODE]
//                      [--quality Q]
// Runs the movie N frames and writes the stage as an RGBA PNG.
#include <cairo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "flash/player.h"
#include "flash/render/render.h"
#include "swf/limits.h"

namespace qm::cli {

namespace {

constexpr int kMaxSide = limits::kMaxStageSide;

bool ParseNumber(const std::string& text, long min, long max, long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max) return false;
    out = v;
    return true;
}

int Usage(const char* why) {
    std::fprintf(stderr, "quellmark-cli render: %s\n", why);
    std::fprintf(stderr,
                 "Usage: quellmark-cli render MOVIE --frames N --out OUT.png [--width W --height H] "
                 "[--scale ShowAll|NoBorder|ExactFit|NoScale] [--quality low|medium|high|best]\n");
    return 2;
}

}  // namespace

int RunRender(const Args& args) {
    std::string movie, out;
    long frames = -1, width = 0, height = 0;
    flash::ScaleMode mode = flash::ScaleMode::ShowAll;
    flash::Quality quality = flash::Quality::High;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (a == "--frames" || a == "--width" || a == "--height" || a == "--out" || a == "--scale" ||
            a == "--quality") {
            auto v = value();
            if (!v) return Usage((a + " needs a value").c_str());
            if (a == "--out") {
                out = *v;
            } else if (a == "--quality") {
                quality = flash::QualityFromText(*v);
            } else if (a == "--scale") {
                mode = flash::ScaleModeFromText(*v);
            } else {
                long& target = a == "--frames" ? frames : a == "--width" ? width : height;
                long min = a == "--frames" ? 0 : 1;
                long max = a == "--frames" ? 1000000 : kMaxSide;
                if (!ParseNumber(*v, min, max, target))
                    return Usage((a + " must be a whole number from " + std::to_string(min) + " to " +
                                  std::to_string(max)).c_str());
            }
        } else if (!a.empty() && a[0] == '-') {
            return Usage(("unknown option \"" + a + "\"").c_str());
        } else if (movie.empty()) {
            movie = a;
        } else {
            return Usage("only one movie can be rendered");
        }
    }
    if (movie.empty()) return Usage("no movie given");
    if (out.empty()) return Usage("--out is required");
    if (frames < 0) return Usage("--frames is required");
    if ((width == 0) != (height == 0)) return Usage("--width and --height go together");

    flash::LoadResult loaded = flash::Player::LoadFile(movie);
    if (!loaded.player) {
        std::fprintf(stderr, "quellmark-cli render: %s: %s\n", movie.c_str(), loaded.error.c_str());
        return 1;
    }
    flash::Player& player = *loaded.player;
    // What the movie lost to damage or to the player's limits is said, as trace does.
    for (const auto& problem : player.ReadProblems()) {
        std::fprintf(stderr, "quellmark-cli: %s: %s (at byte %llu)\n", movie.c_str(), problem.message.c_str(),
                     static_cast<unsigned long long>(problem.offset));
    }
    player.SetLogSink([](std::string_view line) {
        std::fprintf(stderr, "quellmark-cli: %.*s\n", static_cast<int>(line.size()), line.data());
    });
    for (long f = 0; f < frames; ++f) player.Advance();

    if (width == 0) {
        width = std::max(1, std::min(kMaxSide, player.Header().StageWidthPixels()));
        height = std::max(1, std::min(kMaxSide, player.Header().StageHeightPixels()));
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        std::fprintf(stderr, "quellmark-cli render: not enough memory for a %ldx%ld picture\n", width, height);
        return 1;
    }
    cairo_surface_flush(surface);
    flash::RenderTarget target{cairo_image_surface_get_data(surface), int(width), int(height),
                               cairo_image_surface_get_stride(surface)};
    {
        flash::Renderer renderer(player.Characters(), player.Version());
        renderer.SetLogSink([&player](std::string_view line) { player.Log(line); });
        renderer.SetQuality(quality);
        renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(), target, mode);
    }
    flash::ReleaseFontResources();
    cairo_surface_mark_dirty(surface);
    cairo_status_t status = cairo_surface_write_to_png(surface, out.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "quellmark-cli render: cannot write \"%s\": %s\n", out.c_str(),
                     cairo_status_to_string(status));
        return 1;
    }
    return 0;
}

}  // namespace qm::cli
