// Loading written movies into the player and looking at what it shows.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/player.h"
#include "flash/render/render.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash::testing {

namespace w = qm::swfwriter;

struct Traces : TraceSink {
    std::vector<std::string> lines;
    void Trace(std::string_view line) override { lines.emplace_back(line); }
};

inline std::unique_ptr<Player> Load(const w::Movie& movie) {
    LoadResult r = Player::LoadBytes(movie.bytes());
    EXPECT_TRUE(r.player) << r.error;
    return std::move(r.player);
}

// Plays `frames` frames of a loaded player and gives what its scripts traced.
inline std::vector<std::string> PlayFrames(Player& player, int frames) {
    Traces traces;
    player.SetTraceSink(&traces);
    for (int i = 0; i < frames; ++i) player.Advance();
    player.SetTraceSink(nullptr);
    return traces.lines;
}

// The same for a written movie; `keep` receives the player to look at what it shows afterwards.
inline std::vector<std::string> TracesOf(const w::Movie& movie, int frames = 1, std::unique_ptr<Player>* keep = nullptr) {
    auto player = Load(movie);
    if (!player) return {};
    std::vector<std::string> lines = PlayFrames(*player, frames);
    if (keep) *keep = std::move(player);
    return lines;
}

// The character id shown at a depth of a list, 0 when the depth is empty.
inline uint16_t CharacterAt(const DisplayList& list, int depth) {
    const DisplayObject* o = list.At(depth);
    return o && o->character ? o->character->id : 0;
}

// A filled square, `size` twips wide, in a colour.
inline uint16_t DefineSquare(w::Movie& movie, int size, w::Color color) {
    w::Shape s;
    s.fill0(s.addFill(w::FillStyle::solid(color))).rect(0, 0, size, size);
    return movie.defineShape(s);
}

// The stage as the player shows it now, drawn at w x h (premultiplied 0xAARRGGBB, row by row).
inline std::vector<uint32_t> StagePixels(const Player& player, int w, int h) {
    std::vector<uint32_t> pixels(size_t(w) * size_t(h));
    Renderer renderer(player.Characters(), player.Version());
    renderer.Render(player.Stage(), player.StageRect(), player.BackgroundColor(),
                    RenderTarget{reinterpret_cast<uint8_t*>(pixels.data()), w, h, w * 4});
    return pixels;
}

}  // namespace qm::flash::testing
