// flash.display.BitmapData on written movies: pixels kept premultiplied as
// the reference player keeps them, what refused arguments give, the editing
// methods, and a bitmap shown by attachBitmap.
#include <cstdio>

#include "flash/render/render.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E Package(const std::string& name) { return Member(Var("flash"), name); }
E New(const std::string& package, const std::string& cls, const std::vector<E>& args = {}) {
    E a = Args(args);
    a.raw(Package(package).bytes());
    return a.push({cls}).newMethod();
}
E Bitmap(const std::vector<E>& args) { return New("display", "BitmapData", args); }
E Rect(int x, int y, int w, int h) { return New("geom", "Rectangle", {Lit(x), Lit(y), Lit(w), Lit(h)}); }
E Point(int x, int y) { return New("geom", "Point", {Lit(x), Lit(y)}); }
// A colour as getPixel32 gives it: a signed 32-bit number.
E Color(uint32_t argb) { return Lit(double(int32_t(argb))); }

std::vector<std::string> RunMovie(const E& script, uint8_t version = 8, std::unique_ptr<Player>* keep = nullptr) {
    w::Movie movie({.version = version, .frame = w::Rect::pixels(100, 100)});
    movie.setBackgroundColor({255, 255, 255});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie, 1, keep);
}

struct Case {
    E setup;
    E value;
    std::string expected;
};

std::vector<std::string> RunCases(const std::vector<Case>& cases, std::vector<std::string>& expected,
                                  uint8_t version = 8) {
    E script;
    for (const Case& c : cases) {
        script.raw(c.setup.bytes());
        script.raw(Trace(c.value).bytes());
        expected.push_back(c.expected);
    }
    return RunMovie(script, version);
}

}  // namespace

// Sizes the player accepts, by version; a refused size makes `new` give
// undefined, and a disposed bitmap answers -1 to everything.
TEST(Avm1BitmapData, ConstructionAndDisposal) {
    E b = Var("b");
    std::vector<Case> cases = {
        {E(), Bitmap({Lit(10), Lit(10)}), "[object Object]"},
        {E(), Bitmap({Lit(10)}), "undefined"},
        {E(), Bitmap({Lit(0), Lit(10)}), "undefined"},
        {E(), Bitmap({Lit(2880), Lit(2880)}), "[object Object]"},
        {E(), Bitmap({Lit(2881), Lit(1)}), "undefined"},
        {E(), Bitmap({E().push({"x", 1, 1}).initObject(), Lit(1)}), "undefined"},
        {SetVar("b", Bitmap({Lit(5), Lit(6), Lit(false)})), Member(Member(b, "rectangle"), "width"), "5"},
        {E(), Member(b, "height"), "6"},
        {E(), Member(b, "transparent"), "false"},
        // Read-only.
        {SetMember(b, "width", Lit(100)), Member(b, "width"), "5"},
        {E(), Call(b, "getPixel32", {Lit(0), Lit(0)}), "-1"},
        {E(), Call(b, "dispose"), "0"},
        {E(), Member(b, "width"), "-1"},
        {E(), Call(b, "getPixel", {Lit(0), Lit(0)}), "-1"},
        {E(), Call(b, "dispose"), "-1"},
        // Refused arguments are told apart: -3 is a disposed bitmap in the third place.
        {E(), Call(Bitmap({Lit(2), Lit(2)}), "hitTest", {Point(0, 0), Lit(1), b}), "-3"},
        {E(), Call(Bitmap({Lit(2), Lit(2)}), "hitTest", {Lit(1), Lit(1), Point(0, 0)}), "-2"},
        {E(), New("geom", "Transform"), "undefined"},
    };
    std::vector<std::string> expected;
    EXPECT_EQ(RunCases(cases, expected), expected);
    // Version 10 allows larger sides but caps the pixel count.
    std::vector<Case> big = {
        {E(), Bitmap({Lit(2881), Lit(1)}), "[object Object]"},
        {E(), Bitmap({Lit(8191), Lit(1)}), "[object Object]"},
        {E(), Bitmap({Lit(8192), Lit(1)}), "undefined"},
        {E(), Bitmap({Lit(4096), Lit(4096)}), "undefined"},
    };
    std::vector<std::string> expected10;
    EXPECT_EQ(RunCases(big, expected10, 10), expected10);
}

// Pixels are stored premultiplied, so colours with little alpha lose
// precision exactly as in the reference player; opaque bitmaps drop alpha.
TEST(Avm1BitmapData, PixelsRoundTrip) {
    E t = Var("t"), o = Var("o");
    std::vector<Case> cases = {
        {SetVar("t", Bitmap({Lit(3), Lit(3), Lit(true), Color(0xAABBCCDD)})), Call(t, "getPixel32", {Lit(1), Lit(1)}),
         std::to_string(int32_t(0xAABBCCDC))},
        {Do(Call(t, "setPixel32", {Lit(0), Lit(0), Color(0x80FFFFFF)})), Call(t, "getPixel32", {Lit(0), Lit(0)}),
         std::to_string(int32_t(0x80FFFFFF))},
        // setPixel keeps the alpha.
        {Do(Call(t, "setPixel", {Lit(0), Lit(0), Lit(0xBBBBBB)})), Call(t, "getPixel32", {Lit(0), Lit(0)}),
         std::to_string(int32_t(0x80BBBBBB))},
        {E(), Call(t, "getPixel", {Lit(0), Lit(0)}), std::to_string(0xBBBBBB)},
        {Do(Call(t, "setPixel32", {Lit(0), Lit(0), Color(0x00FFFFFF)})), Call(t, "getPixel32", {Lit(0), Lit(0)}), "0"},
        {SetVar("o", Bitmap({Lit(2), Lit(2), Lit(false)})), Call(o, "setPixel32", {Lit(0), Lit(0), Color(0x80123456)}), "0"},
        {E(), Call(o, "getPixel32", {Lit(0), Lit(0)}), std::to_string(int32_t(0xFF123456))},
        // Outside the bitmap: 0; too few arguments: -1.
        {E(), Call(o, "getPixel", {Lit(-1), Lit(0)}), "0"},
        {E(), Call(o, "getPixel", {Lit(0)}), "-1"},
        {E(), Call(o, "setPixel32", {Lit(0), Lit(0)}), "-1"},
    };
    std::vector<std::string> expected;
    EXPECT_EQ(RunCases(cases, expected), expected);
}

// The editing methods on small bitmaps.
TEST(Avm1BitmapData, EditingMethods) {
    E b = Var("b"), s = Var("s");
    auto px = [&](int x, int y) { return Call(b, "getPixel", {Lit(x), Lit(y)}); };
    E fresh = SetVar("b", Bitmap({Lit(4), Lit(4), Lit(false), Lit(0xFFFFFF)}));
    std::vector<Case> cases = {
        // fillRect is cut to the bitmap; a rectangle needs all four fields.
        {Seq({fresh, Do(Call(b, "fillRect", {Rect(-2, -2, 4, 4), Lit(0xFF0000)}))}), px(1, 1), std::to_string(0xFF0000)},
        {E(), px(2, 2), std::to_string(0xFFFFFF)},
        {E(), Call(b, "fillRect", {E().push({"x", 0, "y", 0, "height", 1, 3}).initObject(), Lit(0)}), "-1"},
        // floodFill stops at other colours.
        {Do(Call(b, "floodFill", {Lit(3), Lit(3), Lit(0x00FF00)})), px(0, 3), std::to_string(0x00FF00)},
        {E(), px(0, 0), std::to_string(0xFF0000)},
        {E(), Call(b, "getColorBoundsRect", {Lit(0xFFFFFF), Lit(0xFF0000)}), "(x=0, y=0, w=2, h=2)"},
        {E(), Call(b, "getColorBoundsRect", {Lit(0xFFFFFF), Lit(0xFF0000), Lit(false)}), "(x=0, y=0, w=4, h=4)"},
        // copyPixels from another bitmap, cut at both edges.
        {Seq({SetVar("s", Bitmap({Lit(2), Lit(2), Lit(false), Lit(0x0000FF)})),
              Do(Call(b, "copyPixels", {s, Member(s, "rectangle"), Point(3, 0)}))}),
         px(3, 1), std::to_string(0x0000FF)},
        {E(), px(2, 1), std::to_string(0x00FF00)},
        // scroll moves the picture; what is uncovered keeps its pixels.
        {Do(Call(b, "scroll", {Lit(1), Lit(0)})), px(1, 0), std::to_string(0xFF0000)},
        {E(), px(0, 0), std::to_string(0xFF0000)},
        {E(), px(2, 0), std::to_string(0xFF0000)},
        // threshold counts the pixels it sets.
        {E(), Call(b, "threshold", {b, Member(b, "rectangle"), Point(0, 0), Lit("=="), Color(0xFF00FF00), Color(0xFF000000)}),
         "10"},
        {E(), px(3, 3), "0"},
        {E(), Call(b, "compare", {b}), "0"},
        {E(), Call(b, "compare", {s}), "-3"},
        {E(), Call(b, "compare", {Lit(1)}), "-2"},
        {E(), Call(b, "hitTest", {Point(0, 0), Lit(255), Point(1, 1)}), "true"},
        // A transparent point misses even at threshold 0; a rectangle over it hits.
        {E(), Call(Bitmap({Lit(2), Lit(2), Lit(true), Lit(0)}), "hitTest", {Point(0, 0), Lit(0), Point(1, 1)}), "false"},
        {E(), Call(Bitmap({Lit(2), Lit(2), Lit(true), Lit(0)}), "hitTest", {Point(0, 0), Lit(0), Rect(1, 1, 1, 1)}), "true"},
        // Another bitmap without its corner lies at (0, 0).
        {E(), Call(b, "hitTest", {Point(3, 3), Lit(1), s}), "false"},
        {E(), Call(b, "hitTest", {Point(1, 1), Lit(1), s}), "true"},
        {E(), Call(b, "hitTest", {Point(0, 0), Lit(1), s, Lit(5)}), "-4"},
        {E(), Call(b, "hitTest", {Point(0, 0), Lit(1), s, E().push({w::Undefined{}})}), "-2"},
        {E(), Call(b, "hitTest", {Point(0, 0), Lit(1), s, E().push({w::Null{}})}), "-4"},
        {E(), Call(Call(b, "clone"), "getPixel", {Lit(0), Lit(0)}), std::to_string(0xFF0000)},
    };
    std::vector<std::string> expected;
    EXPECT_EQ(RunCases(cases, expected), expected);
}

// noise draws from the minimal standard generator: a seed gives the
// reference player's pixels, channel by channel.
TEST(Avm1BitmapData, NoiseFollowsTheSeed) {
    E b = Var("b");
    auto hex = [&](int x, int y) { return Call(Call(b, "getPixel32", {Lit(x), Lit(y)}), "toString", {Lit(16)}); };
    E script = Seq({
        SetVar("b", Bitmap({Lit(3), Lit(1)})),
        Do(Call(b, "noise", {Lit(128)})),
        Trace(hex(0, 0)),
        Trace(hex(1, 0)),
        Do(Call(b, "noise", {Lit(128), Lit(0), Lit(255), Lit(1), Lit(true)})),
        Trace(hex(1, 0)),
        // Seeds of zero and below start the generator at 1 - seed: -1 draws as 2 does.
        Do(Call(b, "noise", {Lit(-1), Lit(0), Lit(255), Lit(1), Lit(true)})),
        Trace(hex(0, 0)),
        Do(Call(b, "noise", {Lit(2), Lit(0), Lit(255), Lit(1), Lit(true)})),
        Trace(hex(0, 0)),
    });
    EXPECT_EQ(RunMovie(script),
              (std::vector<std::string>{"-7f6f20", "-c5bbe4", "-6f6f70", "-b1b1b2", "-b1b1b2"}));
}

// attachBitmap shows the pixels in the clip, one pixel per pixel, and
// follows later edits.
TEST(Avm1BitmapData, AttachedBitmapIsDrawn) {
    E b = Var("b"), c = Var("c");
    E script = Seq({
        SetVar("b", Bitmap({Lit(20), Lit(10), Lit(true), Color(0xFFFF0000)})),
        SetVar("c", Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
        SetMember(c, "_x", Lit(30)),
        Do(Call(c, "attachBitmap", {b, Lit(1)})),
        Do(Call(b, "fillRect", {Rect(10, 0, 10, 10), Color(0x800000FF)})),
    });
    std::unique_ptr<Player> player;
    RunMovie(script, 8, &player);
    ASSERT_TRUE(player);
    const std::vector<uint32_t> pixels = StagePixels(*player, 100, 100);
    auto at = [&](int x, int y) { return pixels[size_t(y) * 100 + size_t(x)] & 0xFFFFFF; };
    EXPECT_EQ(at(35, 5), 0xFF0000u);
    EXPECT_EQ(at(29, 5), 0xFFFFFFu);
    EXPECT_EQ(at(35, 11), 0xFFFFFFu);
    // Half-transparent blue over the white stage.
    uint32_t mixed = at(45, 5);
    EXPECT_NEAR(int(mixed >> 16), 127, 2);
    EXPECT_NEAR(int(mixed & 255), 255, 1);
}

// The channel methods on a 2x1 bitmap of 0xAABBCCDD: what each gives for
// channels, multipliers and operations out of the usual range.
TEST(Avm1BitmapData, ChannelsMergeAndThreshold) {
    E d = Var("d"), s = Var("s"), o = Var("o");
    auto hex = [](const E& b, int x) { return Call(Call(b, "getPixel32", {Lit(x), Lit(0)}), "toString", {Lit(16)}); };
    auto fresh = [&](const char* name, bool transparent) {
        return SetVar(name, Bitmap({Lit(2), Lit(1), Lit(transparent), Color(0xAABBCCDD)}));
    };
    E source = SetVar("s", Bitmap({Lit(2), Lit(1), Lit(true), Color(0x12345678)}));
    E all = Rect(0, 0, 2, 1), corner = Point(0, 0);
    // toString(16) of the signed number getPixel32 gives.
    auto hexOf = [](uint32_t v) {
        char t[16];
        int64_t n = int32_t(v);
        std::snprintf(t, sizeof t, "%s%llx", n < 0 ? "-" : "", static_cast<unsigned long long>(n < 0 ? -n : n));
        return std::string(t);
    };
    std::vector<Case> cases = {
        {E(), Member(Member(Package("display"), "BitmapData"), "RED_CHANNEL"), "1"},
        {E(), Member(Member(Package("display"), "BitmapData"), "ALPHA_CHANNEL"), "8"},
        // copyChannel: a source that is no single channel clears the target channel.
        {Seq({fresh("d", true), source, Do(Call(d, "copyChannel", {s, all, corner, Lit(3), Lit(4)}))}), hex(d, 0),
         hexOf(0xAABBCC00)},
        {Seq({fresh("d", true), Do(Call(d, "copyChannel", {s, all, corner, Lit(2), Lit(3)}))}), hex(d, 0),
         hexOf(0xAABBCCDC)},
        // merge: 256 takes the source, a missing alpha multiplier too; negatives count as 0.
        {Seq({fresh("d", true), Do(Call(d, "merge", {s, all, corner, Lit(-5), Lit(256), Lit(0), Lit(0)}))}), hex(d, 0),
         hexOf(0xAABB55DC)},
        {Seq({fresh("d", true), Do(Call(d, "merge", {s, all, corner, Lit(32), Lit(64), Lit(128)}))}), hex(d, 0),
         hexOf(0x12AAAAAA)},
        // threshold tests the stored premultiplied words; an unknown operation is "<".
        {fresh("d", true), Call(d, "threshold", {s, all, corner, Lit("<"), Lit(0x33333333), Color(0xAAAAAAAA), Lit(0xFF0000)}),
         "2"},
        {E(), hex(d, 0), hexOf(0xAAA9A9A9)},
        {fresh("d", true), Call(d, "threshold", {s, all, corner, Lit("?"), Lit(0x33333333), Color(0xAAAAAAAA), Lit(0xFF0000)}),
         "2"},
        {fresh("d", true), Call(d, "threshold", {s, all, corner, Lit(">"), Lit(0x33333333), Color(0xAAAAAAAA), Lit(0xFF0000)}),
         "0"},
        // ... and writes them as they are, even into an opaque bitmap.
        {Seq({fresh("o", false), Do(Call(o, "threshold", {s, all, corner, Lit("!="), Lit(0), Lit(0), Lit(0), Lit(true)}))}),
         hex(o, 1), hexOf(0x12040608)},
    };
    std::vector<std::string> expected;
    EXPECT_EQ(RunCases(cases, expected), expected);
}

// pixelDissolve: each call dissolves the pixel at the seed's place and
// numPixels more, and answers the seed the next call goes on from, so that
// chained calls reach every pixel of the box once; the box is cut to both
// bitmaps.
TEST(Avm1BitmapData, PixelDissolveReachesEachPixelOnce) {
    E b = Var("b"), s = Var("s");
    const uint32_t red = 0xFFFF0000;
    std::vector<E> script = {SetVar("b", Bitmap({Lit(6), Lit(1), Lit(true), Lit(0)})), SetVar("s", Lit(3))};
    auto dissolve = [&](int count) {
        script.push_back(SetVar("s", Call(b, "pixelDissolve", {b, Rect(0, 0, 6, 1), Point(0, 0), s, Lit(count), Color(red)})));
        for (int x = 0; x < 6; ++x) script.push_back(Trace(Call(b, "getPixel32", {Lit(x), Lit(0)})));
    };
    // 1 + 2, then 2 more, then 0 more (the seed's own again), then the last.
    for (int count : {2, 2, 0, 1, 1}) dissolve(count);
    // Another bitmap's pixels are copied: only the two of the box that lie inside.
    script.push_back(SetVar("c", Bitmap({Lit(3), Lit(1), Lit(false), Lit(0x00FF00)})));
    script.push_back(Do(Call(b, "pixelDissolve", {Var("c"), Rect(0, 0, 3, 1), Point(4, 0), Lit(0), Lit(5)})));
    script.push_back(Trace(Call(b, "getPixel32", {Lit(3), Lit(0)})));
    script.push_back(Trace(Call(b, "getPixel32", {Lit(4), Lit(0)})));
    script.push_back(Trace(Call(b, "getPixel32", {Lit(5), Lit(0)})));
    // What is refused, and a call without a number of pixels, which dissolves nothing.
    script.push_back(SetVar("f", Bitmap({Lit(2), Lit(1), Lit(true), Lit(0)})));
    E f = Var("f");
    script.push_back(Trace(Call(f, "pixelDissolve", {E().push({w::Null{}}), Rect(0, 0, 2, 1), Point(0, 0), Lit(0), Lit(1)})));
    script.push_back(Trace(Call(f, "pixelDissolve", {f, Lit(1), Point(0, 0), Lit(0), Lit(1)})));
    script.push_back(Do(Call(f, "pixelDissolve", {f, Rect(0, 0, 2, 1), Point(0, 0), Lit(1)})));
    script.push_back(Trace(Call(f, "getPixel32", {Lit(0), Lit(0)})));
    script.push_back(Trace(Call(f, "getPixel32", {Lit(1), Lit(0)})));
    E all;
    for (const E& step : script) all.raw(step.bytes());
    std::vector<std::string> traces = RunMovie(all);
    ASSERT_EQ(traces.size(), 5u * 6u + 3u + 4u);
    const std::string redText = std::to_string(int32_t(red));
    std::vector<int> dissolved;
    for (size_t call = 0; call < 5; ++call) {
        int n = 0;
        for (size_t x = 0; x < 6; ++x) n += traces[call * 6 + x] == redText;
        dissolved.push_back(n);
    }
    EXPECT_EQ(dissolved, (std::vector<int>{3, 5, 5, 6, 6}));
    const std::string green = std::to_string(int32_t(0xFF00FF00));
    EXPECT_EQ(std::vector<std::string>(traces.begin() + 30, traces.begin() + 33),
              (std::vector<std::string>{redText, green, green}));
    EXPECT_EQ(std::vector<std::string>(traces.begin() + 33, traces.end()),
              (std::vector<std::string>{"-1", "-4", "0", "0"}));
}

// draw: a clip's content (its own place left out) or another bitmap's pixels,
// through the matrix and colour transform given, only inside the clip box.
TEST(Avm1BitmapData, DrawTakesClipsAndBitmaps) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    uint16_t square = DefineSquare(movie, 200, {255, 0, 0});  // 10 pixels
    w::Sprite clip;
    clip.place({.depth = 1, .character = square});
    clip.showFrame();
    movie.place({.depth = 1, .character = movie.defineSprite(clip), .matrix = w::Matrix::translate(600, 600),
                 .name = std::string("a")});
    E b = Var("b"), m = Var("m"), s = Var("s");
    auto hex = [&](const E& bitmap, int x, int y) {
        return Trace(Call(Call(bitmap, "getPixel32", {Lit(x), Lit(y)}), "toString", {Lit(16)}));
    };
    movie.doAction(Seq({
        SetVar("b", Bitmap({Lit(30), Lit(30), Lit(false), Lit(0x0000FF)})),
        SetVar("m", New("geom", "Matrix")),
        Do(Call(m, "translate", {Lit(5), Lit(5)})),
        Do(Call(b, "draw", {Member(Var("_root"), "a"), m})),
        hex(b, 5, 5), hex(b, 14, 14), hex(b, 4, 4), hex(b, 15, 15),
        // Red taken out and blue put in by the colour transform; only inside the box.
        SetVar("b", Bitmap({Lit(30), Lit(30), Lit(true), Lit(0)})),
        Do(Call(b, "draw", {Member(Var("_root"), "a"), m,
                            New("geom", "ColorTransform", {Lit(0), Lit(1), Lit(1), Lit(1), Lit(0), Lit(0), Lit(255), Lit(0)}),
                            Lit("normal"), Rect(0, 0, 10, 10)})),
        hex(b, 9, 9), hex(b, 10, 10),
        // Another bitmap, half transparent, over an opaque one, which stays opaque.
        SetVar("s", Bitmap({Lit(4), Lit(4), Lit(true), Color(0x80FF0000)})),
        SetVar("b", Bitmap({Lit(10), Lit(10), Lit(false), Lit(0xFFFFFF)})),
        Do(Call(b, "draw", {s, m})),
        hex(b, 6, 6), hex(b, 8, 8), hex(b, 4, 4),
        // A bitmap given up answers -1; a source that is neither draws nothing.
        Do(Call(s, "dispose")),
        Trace(Call(s, "draw", {b})),
        Trace(Call(b, "draw", {Lit(3)})),
        hex(b, 0, 0),
    }));
    movie.showFrame();
    std::vector<std::string> traces = TracesOf(movie, 1);
    ASSERT_EQ(traces.size(), 12u);
    EXPECT_EQ(std::vector<std::string>(traces.begin(), traces.begin() + 6),
              (std::vector<std::string>{"-10000", "-10000", "-ffff01", "-ffff01", "-ffff01", "0"}));
    // Half red over white: 0xFF7F7F or 0xFF8080 as the rounding falls.
    EXPECT_TRUE(traces[6] == "-8081" || traces[6] == "-7f80") << traces[6];
    EXPECT_EQ(traces[7], traces[6]);
    EXPECT_EQ(std::vector<std::string>(traces.begin() + 8, traces.end()),
              (std::vector<std::string>{"-1", "-1", "undefined", "-1"}));
}
