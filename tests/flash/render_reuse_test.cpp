// A renderer kept across frames starts from the picture of the objects that stayed as they were,
// and keeps filtered pictures of objects that did not change. Whatever changes, and however
// long it stayed before, every frame must be the picture a fresh renderer draws.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "flash/player.h"
#include "flash/render/render.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash {
namespace {

namespace w = qm::swfwriter;

// 20 frames; each change comes after frames in which nothing changed:
//   3  the backdrop is tinted          7  a box inside a clip moves
//   11 a filtered title fades          13 a mask appears over the clip
//   15 the clip is removed             17 the title moves
std::vector<uint8_t> ChangingMovie() {
    w::Movie m({.version = 8, .frame = w::Rect::pixels(100, 80), .frameRate = w::fps(24)});
    m.setBackgroundColor({250, 250, 240});
    w::Shape backdrop;
    backdrop.fill0(backdrop.addFill(w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 2000, 1600, 0.7),
                                                         {{0, {30, 60, 160}}, {255, {240, 180, 90}}})))
        .rect(0, 0, 2000, 1600);
    const uint16_t backdropId = m.defineShape(backdrop);
    w::Shape box;
    box.fill0(box.addFill(w::FillStyle::solid({200, 30, 40}))).rect(0, 0, 500, 400);
    const uint16_t boxId = m.defineShape(box);
    w::Shape title;
    title.fill0(title.addFill(w::FillStyle::solid({255, 255, 255}))).rect(0, 0, 900, 300);
    const uint16_t titleId = m.defineShape(title);
    w::Shape window;
    window.fill0(window.addFill(w::FillStyle::solid({0, 0, 0}))).rect(0, 0, 700, 700);
    const uint16_t windowId = m.defineShape(window);

    w::Sprite clip = m.sprite();
    clip.place({.depth = 1, .character = boxId, .matrix = w::Matrix::translate(100, 100)});
    for (int f = 0; f < 20; ++f) {
        if (f == 7) clip.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(420, 260)});
        clip.showFrame();
    }
    const uint16_t clipId = m.defineSprite(clip);

    w::CXForm tint;
    tint.redMult = 128;
    tint.blueAdd = 60;
    w::CXForm faded;
    faded.alphaMult = 120;
    const w::Filter shadow = w::Filter::dropShadow({0, 0, 0, 200}, 4, 4, 0.78, 3, 1);
    for (int f = 0; f < 20; ++f) {
        if (f == 0) {
            m.place({.depth = 1, .character = backdropId});
            m.place({.depth = 3, .character = clipId, .matrix = w::Matrix::translate(300, 200)});
            m.place({.depth = 5, .character = titleId, .matrix = w::Matrix::translate(400, 1000), .filters = {shadow}});
        }
        if (f == 3) m.place({.depth = 1, .move = true, .cxform = tint});
        if (f == 11) m.place({.depth = 5, .move = true, .cxform = faded});
        if (f == 13)
            m.place({.depth = 2, .character = windowId, .matrix = w::Matrix::translate(200, 150), .clipDepth = 3});
        if (f == 15) m.removeObject2(3);
        if (f == 17) m.place({.depth = 5, .move = true, .matrix = w::Matrix::translate(300, 900)});
        m.showFrame();
    }
    return m.bytes();
}

std::vector<uint8_t> Draw(Renderer& renderer, const Player& player, int width, int height) {
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(),
                    RenderTarget{pixels.data(), width, height, width * 4});
    return pixels;
}

TEST(RenderReuse, EveryFrameIsWhatAFreshRendererDraws) {
    LoadResult loaded = Player::LoadBytes(ChangingMovie());
    ASSERT_TRUE(loaded.player) << loaded.error;
    Player& player = *loaded.player;
    player.SetLoop(false);
    Renderer kept(player.Characters(), player.Version());
    Renderer halfKept(player.Characters(), player.Version());  // sees every other frame only
    std::vector<uint8_t> previous;
    for (int f = 0; f < 20; ++f) {
        player.Advance();
        Renderer fresh(player.Characters(), player.Version());
        const std::vector<uint8_t> expected = Draw(fresh, player, 100, 80);
        EXPECT_EQ(Draw(kept, player, 100, 80), expected) << "frame " << f;
        if (f % 2 == 1) {
            EXPECT_EQ(Draw(halfKept, player, 100, 80), expected) << "frame " << f;
        }
        // Another size in between, as a preview drawn beside the capture would ask.
        if (f == 9) {
            Renderer other(player.Characters(), player.Version());
            EXPECT_EQ(Draw(kept, player, 60, 48), Draw(other, player, 60, 48)) << "frame " << f;
        }
        // The changes are there to be seen: each changes the picture.
        if (f == 3 || f == 7 || f == 11 || f == 13 || f == 15 || f == 17) {
            EXPECT_NE(expected, previous) << "frame " << f;
        }
        previous = expected;
    }
}

}  // namespace
}  // namespace qm::flash
