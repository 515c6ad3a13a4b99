// Bitmap filters with the player's own arithmetic: the box a blur value
// stands for, levels cut to whole numbers after each pass, shadows moved by
// whole pixels, and strength scaling the shadow plane.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include <cairo.h>

#include "flash/player.h"
#include "flash/render/filters.h"
#include "flash/render/render.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash::render {
namespace {

// A premultiplied ARGB surface, transparent, with opaque rectangles on it.
struct Surface {
    cairo_surface_t* s;
    Surface(int w, int h) : s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)) {}
    ~Surface() { cairo_surface_destroy(s); }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    void Fill(int x, int y, int w, int h, uint32_t argb) {
        cairo_surface_flush(s);
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Row(j)[i] = argb;
        cairo_surface_mark_dirty(s);
    }
    uint32_t* Row(int y) {
        return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s));
    }
    uint32_t At(int x, int y) {
        cairo_surface_flush(s);
        return Row(y)[x];
    }
    int Alpha(int x, int y) { return int(At(x, y) >> 24); }
};

swf::Filter Blur(double x, double y, int passes) {
    swf::BlurFilter f;
    f.blur_x = x, f.blur_y = y, f.passes = uint8_t(passes);
    return f;
}

TEST(RenderFilters, BlurIsABoxOfTheGivenWidthCutToWholeLevels) {
    // A one-pixel opaque black column, blurred across; the row in the middle
    // sees the column's full height, so only the horizontal box shows.
    struct Case {
        double blur, scale;
        int passes;
        std::vector<int> levels;  // alpha from the column outwards: 0, 1, 2, ...
    } cases[] = {
        {1, 1, 1, {255, 0}},                 // one pixel wide: nothing moves
        {2, 1, 1, {127, 63, 0}},             // the pixel and half of each neighbour
        {5, 1, 1, {51, 51, 51, 0}},          // five whole pixels
        {2, 2, 1, {63, 63, 31, 0}},          // the stage's scale widens the box to four
        {3, 1, 2, {85, 56, 28, 0}},          // two passes; the first pass leaves 85s
        {30, 1, 1, {8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4, 0}},  // 255/30, half at 15
    };
    for (const Case& c : cases) {
        const int w = 61, h = 61, cx = 30;
        Surface pic(w, h);
        pic.Fill(cx, 0, 1, h, 0xFF000000u);
        ApplyFilters(pic.s, {Blur(c.blur, c.blur, c.passes)}, c.scale);
        for (size_t d = 0; d < c.levels.size(); ++d) {
            EXPECT_EQ(pic.Alpha(cx + int(d), h / 2), c.levels[d]) << "blur " << c.blur << " x" << c.scale << " at +" << d;
            EXPECT_EQ(pic.Alpha(cx - int(d), h / 2), c.levels[d]) << "blur " << c.blur << " x" << c.scale << " at -" << d;
        }
    }
}

TEST(RenderFilters, ShadowsMoveByWholePixels) {
    // A red box covering 12..21 each way casts a hard blue shadow.
    struct Case {
        double angle, distance, scale;
        int shadowX, shadowY;  // the shadow's last pixel beyond the box
        int clearX, clearY;    // the first pixel past it
    } cases[] = {
        {M_PI / 4, 5, 1, 25, 25, 26, 26},  // 3.54 each way: moved by 4
        {0, 2.4, 1, 23, 16, 24, 16},
        {M_PI, 3, 1, 9, 16, 8, 16},
        {M_PI / 2, 1.6, 1, 16, 23, 16, 24},
        {M_PI / 4, 5, 2, 28, 28, 29, 29},  // 7.07 at twice the size: moved by 7
    };
    for (const Case& c : cases) {
        Surface pic(40, 40);
        pic.Fill(12, 12, 10, 10, 0xFFFF0000u);
        swf::DropShadowFilter f;
        f.color = {0, 0, 255, 255};
        f.angle = c.angle, f.distance = c.distance;
        ApplyFilters(pic.s, {f}, c.scale);
        // No blur: every pixel is either empty or solid, never a blend of two places.
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                int a = pic.Alpha(x, y);
                ASSERT_TRUE(a == 0 || a == 255) << x << "," << y << " angle " << c.angle;
            }
        EXPECT_EQ(pic.At(16, 16), 0xFFFF0000u);  // the box stays on top
        EXPECT_EQ(pic.At(c.shadowX, c.shadowY), 0xFF0000FFu) << "angle " << c.angle << " x" << c.scale;
        EXPECT_EQ(pic.Alpha(c.clearX, c.clearY), 0) << "angle " << c.angle << " x" << c.scale;
    }
}

TEST(RenderFilters, GlowStrengthScalesTheBlurredEdgeAndStopsAtFull) {
    // Just outside a straight edge a box four pixels wide sees one and a half
    // pixels of the object: 255 * 1.5 / 4 = 95.6, kept as 95.
    for (auto [strength, level] : {std::pair{1.0, 95}, {2.0, 190}, {3.0, 255}}) {
        Surface pic(60, 60);
        pic.Fill(30, 0, 30, 60, 0xFF00FF00u);
        swf::GlowFilter f;
        f.color = {0, 0, 255, 255};
        f.blur_x = f.blur_y = 4;
        f.strength = strength;
        ApplyFilters(pic.s, {f}, 1);
        EXPECT_EQ(pic.At(29, 30), uint32_t(level) << 24 | uint32_t(level)) << strength;
        EXPECT_EQ(pic.Alpha(27, 30), 0) << strength;
        EXPECT_EQ(pic.At(30, 30), 0xFF00FF00u) << strength;
    }
}

TEST(RenderFilters, ShadowMeetsTheObjectAsEachModeSays) {
    // Opaque red at 10..19, half-transparent red at 20..23; a hard blue
    // shadow moved four pixels right (outer) or left (inner).
    struct Case {
        const char* mode;
        bool inner, knockout, composite;
        double angle;
        std::vector<std::pair<int, uint32_t>> pixels;
    } cases[] = {
        {"under", false, false, true, 0,
         {{12, 0xFFFF0000u}, {21, 0xFF80007Fu}, {25, 0x80000080u}, {30, 0}}},
        {"knockout", false, true, true, 0, {{12, 0}, {21, 0x7F00007Fu}, {25, 0x80000080u}, {30, 0}}},
        {"hidden object", false, false, false, 0, {{12, 0}, {21, 0xFF0000FFu}, {25, 0x80000080u}, {30, 0}}},
        {"inner", true, false, true, M_PI,
         {{13, 0xFFFF0000u}, {16, 0xFF80007Fu}, {21, 0x80400080u}, {25, 0}}},
        {"inner knockout", true, true, true, M_PI, {{13, 0}, {16, 0x7F00007Fu}, {21, 0x80000080u}, {25, 0}}},
    };
    for (const Case& c : cases) {
        Surface pic(40, 8);
        pic.Fill(10, 0, 10, 8, 0xFFFF0000u);
        pic.Fill(20, 0, 4, 8, 0x80800000u);
        swf::DropShadowFilter f;
        f.color = {0, 0, 255, 255};
        f.angle = c.angle, f.distance = 4;
        f.inner = c.inner, f.knockout = c.knockout, f.composite_source = c.composite;
        ApplyFilters(pic.s, {f}, 1);
        for (auto [x, argb] : c.pixels) EXPECT_EQ(pic.At(x, 4), argb) << c.mode << " at " << x;
    }
}

TEST(RenderFilters, BevelLightsOneSideAndShadesTheOther) {
    // A hard bevel moved two pixels right: the left edge is lit white, the
    // right edge shaded black; with the object on top only the rim shows.
    for (bool onTop : {false, true}) {
        Surface pic(30, 8);
        pic.Fill(10, 0, 10, 8, 0xFFFF0000u);
        swf::BevelFilter f;
        f.highlight_color = {255, 255, 255, 255};
        f.shadow_color = {0, 0, 0, 255};
        f.angle = 0, f.distance = 2, f.strength = 1;
        f.on_top = onTop;
        ApplyFilters(pic.s, {f}, 1);
        // Outside the object the object never covers the bevel.
        EXPECT_EQ(pic.At(8, 4), 0xFFFFFFFFu) << onTop;
        EXPECT_EQ(pic.At(21, 4), 0xFF000000u) << onTop;
        EXPECT_EQ(pic.At(7, 4), 0u) << onTop;
        EXPECT_EQ(pic.At(22, 4), 0u) << onTop;
        // Inside, the bevel shows only when drawn on top.
        EXPECT_EQ(pic.At(10, 4), onTop ? 0xFFFFFFFFu : 0xFFFF0000u) << onTop;
        EXPECT_EQ(pic.At(19, 4), onTop ? 0xFF000000u : 0xFFFF0000u) << onTop;
        EXPECT_EQ(pic.At(15, 4), 0xFFFF0000u) << onTop;
    }
}

namespace w = qm::swfwriter;

// The stage after the first frame, at the stage's own size.
std::vector<uint32_t> RenderFirstFrame(const w::Movie& movie, int width, int height) {
    LoadResult loaded = Player::LoadBytes(movie.bytes());
    EXPECT_TRUE(loaded.player) << loaded.error;
    std::vector<uint32_t> pixels(size_t(width) * height);
    if (!loaded.player) return pixels;
    Player& player = *loaded.player;
    player.Advance();
    RenderTarget target{reinterpret_cast<uint8_t*>(pixels.data()), width, height, width * 4};
    Renderer renderer(player.Characters(), player.Version());
    renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(), target, ScaleMode::ShowAll);
    return pixels;
}

TEST(RenderFilters, CachedObjectsLandOnWholePixels) {
    // Two boxes half a pixel off the grid: the cached one is shown at whole
    // pixels (12.5 becomes 13) with hard edges, the other one straddles them.
    w::Movie m({.version = 10, .frame = w::Rect::pixels(40, 40)});
    m.setBackgroundColor({255, 255, 255});
    w::Shape s;
    s.fill0(s.addFill(w::FillStyle::solid({0, 0, 255}))).rect(0, 0, 200, 200);
    uint16_t box = m.defineShape(s);
    m.place({.depth = 1, .character = box, .matrix = w::Matrix::translate(250, 250), .bitmapCache = 1});
    m.place({.depth = 2, .character = box, .matrix = w::Matrix::translate(250, 550)});
    m.showFrame();
    std::vector<uint32_t> p = RenderFirstFrame(m, 40, 40);
    auto at = [&](int x, int y) { return p[size_t(y) * 40 + x]; };
    EXPECT_EQ(at(12, 15), 0xFFFFFFFFu);
    EXPECT_EQ(at(13, 15), 0xFF0000FFu);
    EXPECT_EQ(at(22, 15), 0xFF0000FFu);
    EXPECT_EQ(at(23, 15), 0xFFFFFFFFu);
    EXPECT_EQ(at(15, 12), 0xFFFFFFFFu);
    EXPECT_EQ(at(15, 13), 0xFF0000FFu);
    // Not cached: the edge pixels are half covered.
    EXPECT_NE(at(12, 30), 0xFFFFFFFFu);
    EXPECT_NE(at(12, 30), 0xFF0000FFu);
}

}  // namespace
}  // namespace qm::flash::render
