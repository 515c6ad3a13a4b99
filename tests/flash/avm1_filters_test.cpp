// flash.filters on written movies: the ranges each setting is kept in, the
// gradient lists sharing one length, and MovieClip.filters reading the
// placed filters and drawing the ones a script sets.
#include <variant>

#include "flash/render/render.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E New(const std::string& package, const std::string& cls, const std::vector<E>& args = {}) {
    E a = Args(args);
    a.raw(Member(Var("flash"), package).bytes());
    return a.push({cls}).newMethod();
}
E Filter(const std::string& cls, const std::vector<E>& args = {}) { return New("filters", cls, args); }
E Join(const E& array) { return Call(array, "join", {Lit(",")}); }

struct Case {
    E setup;
    E value;
    std::string expected;
};

std::vector<std::string> PlayMovie(const w::Movie& movie, std::unique_ptr<Player>* keep = nullptr) {
    return TracesOf(movie, 1, keep);
}

std::vector<std::string> RunCases(const std::vector<Case>& cases, std::vector<std::string>& expected) {
    E script;
    for (const Case& c : cases) {
        script.raw(c.setup.bytes());
        script.raw(Trace(c.value).bytes());
        expected.push_back(c.expected);
    }
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    movie.doAction(script);
    movie.showFrame();
    return PlayMovie(movie);
}

}  // namespace

// What each setting keeps of the value a script gives.
TEST(Avm1Filters, SettingsKeepThePlayersRanges) {
    E f = Var("f"), g = Var("g"), c = Var("c");
    std::vector<Case> cases = {
        {SetVar("f", Filter("GlowFilter")), Member(f, "color"), "16711680"},
        {E(), Member(f, "blurX"), "6"},
        {E(), Member(f, "strength"), "2"},
        // Alphas are kept in a byte, cut down; colours in 24 bits.
        {SetMember(f, "alpha", Lit(0.5)), Member(f, "alpha"), "0.498039215686275"},
        {SetMember(f, "alpha", Lit(1.5)), Member(f, "alpha"), "1"},
        {SetMember(f, "color", Lit(-305419896)), Member(f, "color"), "13347208"},
        {SetMember(f, "quality", Lit(100)), Member(f, "quality"), "15"},
        {SetMember(f, "quality", Lit(2.5)), Member(f, "quality"), "2"},
        {SetMember(f, "strength", Lit(256)), Member(f, "strength"), "255"},
        {SetMember(f, "blurX", Lit(-1)), Member(f, "blurX"), "0"},
        {SetMember(f, "inner", E().push({w::Null{}})), Member(f, "inner"), "false"},
        // A copy, not the same object.
        {SetVar("g", Call(f, "clone")), E().raw(g.bytes()).raw(f.bytes()).equals2(), "false"},
        {E(), Member(g, "quality"), "2"},
        {E(), Call(Filter("BitmapFilter"), "clone"), "undefined"},
        {SetVar("f", Filter("DropShadowFilter", {Lit(4), Lit(366)})), Member(f, "angle"), "6"},
        {SetVar("f", Filter("BevelFilter")), Member(f, "type"), "inner"},
        {SetMember(f, "type", Lit("INNER")), Member(f, "type"), "full"},
        {SetMember(f, "type", Lit("outer")), Member(f, "type"), "outer"},
        // A convolution's matrix grows to its columns times rows, never shrinks.
        {SetVar("f", Filter("ConvolutionFilter")), Join(Member(f, "matrix")), ""},
        {SetMember(f, "matrix", E().push({1, 2, 3, 3}).initArray()), Join(Member(f, "matrix")), "3,2,1"},
        {SetMember(f, "matrixX", Lit(2)), Join(Member(f, "matrix")), "3,2,1"},
        {SetMember(f, "matrixY", Lit(2)), Join(Member(f, "matrix")), "3,2,1,0"},
        {SetMember(f, "matrixX", Lit(100)), Member(f, "matrixX"), "15"},
        {SetVar("f", Filter("ColorMatrixFilter")), Join(Member(f, "matrix")),
         "1,0,0,0,0,0,1,0,0,0,0,0,1,0,0,0,0,0,1,0"},
        {SetMember(f, "matrix", E().push({7, 1}).initArray()), Join(Member(f, "matrix")),
         "7,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN,NaN"},
        // Gradient lists: colours set the length, ratios can shorten it,
        // alphas fill every place (opaque where the list ends).
        {SetVar("f", Filter("GradientGlowFilter")), Join(Member(f, "colors")), ""},
        {SetMember(f, "colors", E().push({10, -305419896, 2}).initArray()), Join(Member(f, "alphas")), "0,0"},
        {SetMember(f, "alphas", E().push({1, 0.5, 2}).initArray()), Join(Member(f, "alphas")), "0.501960784313725,1"},
        {SetMember(f, "ratios", E().push({500, 1}).initArray()), Join(Member(f, "ratios")), "255"},
        {E(), Join(Member(f, "colors")), "13347208"},
        // The displacement map's point: whole numbers, the origin without both.
        {SetVar("f", Filter("DisplacementMapFilter")), Member(f, "mapPoint"), "(x=0, y=0)"},
        {SetMember(f, "mapPoint", New("geom", "Point", {Lit(12.5), Lit(-4)})), Member(f, "mapPoint"), "(x=12, y=-4)"},
        {SetMember(f, "mapPoint", E().push({"x", 3, 1}).initObject()), Member(f, "mapPoint"), "(x=0, y=0)"},
        {SetMember(f, "mode", Lit("Color")), Member(f, "mode"), "wrap"},
        {SetMember(f, "mode", Lit("clamp")), Member(f, "mode"), "clamp"},
        {SetVar("c", Filter("ConvolutionFilter", {Lit(1), Lit(1), E().push({1, 1}).initArray(), Lit(1), Lit(0),
                                                   Lit(true), Lit(true), Lit(128)})),
         Member(c, "alpha"), "1"},
    };
    std::vector<std::string> expected;
    EXPECT_EQ(RunCases(cases, expected), expected);
}

// A placed clip's filters read back as new objects; filters a script sets
// are the ones drawn.
TEST(Avm1Filters, ClipFiltersAreReadAndDrawn) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    movie.setBackgroundColor({255, 255, 255});
    uint16_t square = DefineSquare(movie, 400, {255, 0, 0});
    w::Sprite clip;
    clip.place({.depth = 1, .character = square});
    clip.showFrame();
    uint16_t clipId = movie.defineSprite(clip);
    movie.place({.depth = 1,
                 .character = clipId,
                 .matrix = w::Matrix::translate(800, 800),
                 .name = std::string("a"),
                 .filters = {w::Filter::blur(9, 3, 2)}});
    movie.place({.depth = 2, .character = clipId, .matrix = w::Matrix::translate(800, 1400), .name = std::string("b")});
    E a = Member(Var("_root"), "a"), b = Member(Var("_root"), "b");
    E first = Member(E().raw(Member(a, "filters").bytes()).push({0}).getMember(), "blurX");
    movie.doAction(Seq({
        Trace(first),
        Trace(E().raw(Member(a, "filters").bytes()).raw(Member(a, "filters").bytes()).equals2()),
        SetMember(b, "filters", E().raw(Filter("GlowFilter", {Lit(0x0000FF), Lit(1), Lit(8), Lit(8), Lit(4)}).bytes())
                                    .push({1})
                                    .initArray()),
        Trace(Member(Member(b, "filters"), "length")),
        // Only filter objects are kept.
        SetMember(a, "filters", E().push({5, 1}).initArray()),
        Trace(Member(Member(a, "filters"), "length")),
    }));
    movie.showFrame();
    std::unique_ptr<Player> player;
    EXPECT_EQ(PlayMovie(movie, &player), (std::vector<std::string>{"9", "false", "1", "0"}));
    ASSERT_TRUE(player);
    const std::vector<uint32_t> pixels = StagePixels(*player, 100, 100);
    auto at = [&](int x, int y) { return pixels[size_t(y) * 100 + size_t(x)] & 0xFFFFFF; };
    EXPECT_EQ(at(50, 80), 0xFF0000u);  // the square itself
    // Two pixels left of the square the blue glow shows.
    uint32_t glow = at(38, 80);
    EXPECT_LT(int(glow >> 16), 200) << std::hex << glow;
    EXPECT_EQ(int(glow & 255), 255) << std::hex << glow;
    EXPECT_EQ(at(10, 80), 0xFFFFFFu);
}

// blendMode, cacheAsBitmap and opaqueBackground: what each keeps of the value
// a script gives; version 7 movies have none of them.
TEST(Avm1Filters, ClipDisplaySettingsKeepWhatTheyAreGiven) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    uint16_t clipId = movie.defineSprite(w::Sprite());
    movie.place({.depth = 1, .character = clipId, .name = std::string("a")});
    E a = Member(Var("_root"), "a");
    struct Setting {
        const char* name;
        E value;
        std::string read;
    };
    const std::vector<Setting> settings = {
        {"blendMode", Lit("layer"), "layer"},
        {"blendMode", E().push({w::Null{}}), "normal"},
        {"blendMode", Lit(3), "multiply"},
        // A number picks by its lowest byte, fractions dropped.
        {"blendMode", Lit(259), "multiply"},
        {"blendMode", Lit(10.5), "invert"},
        // Names are matched exactly; numbers and values that name no mode change nothing.
        {"blendMode", Lit("LAYER"), "invert"},
        {"blendMode", Lit(-1), "invert"},
        {"blendMode", Lit(true), "invert"},
        {"blendMode", Lit(1), "normal"},
        {"blendMode", Lit("hardlight"), "hardlight"},
        {"blendMode", E().push({w::Undefined{}}), "normal"},
        {"cacheAsBitmap", Lit(1), "true"},
        {"cacheAsBitmap", Lit(""), "false"},
        {"opaqueBackground", Lit(0x12345678), "3430008"},
        {"opaqueBackground", Lit(-1), "16777215"},
        {"opaqueBackground", E().push({w::Null{}}), "undefined"},
    };
    E script = Seq({Trace(Member(a, "blendMode")), Trace(Member(a, "cacheAsBitmap")),
                    Trace(Member(a, "opaqueBackground"))});
    std::vector<std::string> expected = {"normal", "false", "undefined"};
    for (const Setting& s : settings) {
        script.raw(SetMember(a, s.name, s.value).bytes());
        script.raw(Trace(Member(a, s.name)).bytes());
        expected.push_back(s.read);
    }
    movie.doAction(script);
    movie.showFrame();
    EXPECT_EQ(PlayMovie(movie), expected);

    w::Movie old({.version = 7, .frame = w::Rect::pixels(100, 100)});
    uint16_t oldClip = old.defineSprite(w::Sprite());
    old.place({.depth = 1, .character = oldClip, .name = std::string("a")});
    old.doAction(Seq({SetMember(a, "opaqueBackground", Lit(255)), Trace(Member(a, "blendMode")),
                      Trace(Member(a, "opaqueBackground"))}));
    old.showFrame();
    // Without the properties, the value written is a plain one.
    EXPECT_EQ(PlayMovie(old), (std::vector<std::string>{"undefined", "255"}));
}

// A background a script gives fills the clip's box behind it, from the
// nearest whole pixel (halves to the even one) over as many whole pixels as
// the box needs.
TEST(Avm1Filters, OpaqueBackgroundFillsTheBoxAtWholePixels) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    movie.setBackgroundColor({255, 255, 255});
    uint16_t square = DefineSquare(movie, 400, {255, 0, 0});
    // Two squares 20 pixels apart: the gap between them shows the background.
    w::Sprite clip;
    clip.place({.depth = 1, .character = square});
    clip.place({.depth = 2, .character = square, .matrix = w::Matrix::translate(800, 0)});
    clip.showFrame();
    uint16_t clipId = movie.defineSprite(clip);
    // Boxes from 40.5 and from 41.5 pixels down, each 20 pixels high.
    movie.place({.depth = 1, .character = clipId, .matrix = w::Matrix::translate(0, 810), .name = std::string("a")});
    movie.place({.depth = 2, .character = clipId, .matrix = w::Matrix::translate(1000, 830), .name = std::string("b")});
    movie.doAction(Seq({SetMember(Member(Var("_root"), "a"), "opaqueBackground", Lit(0x00FF00)),
                        SetMember(Member(Var("_root"), "b"), "opaqueBackground", Lit(0x0000FF))}));
    movie.showFrame();
    std::unique_ptr<Player> player;
    PlayMovie(movie, &player);
    ASSERT_TRUE(player);
    const std::vector<uint32_t> pixels = StagePixels(*player, 100, 100);
    struct Point {
        int x, y;
        uint32_t colour;
    };
    for (const Point& p : std::vector<Point>{{30, 39, 0xFFFFFF},
                                             {30, 40, 0x00FF00},
                                             {30, 59, 0x00FF00},
                                             {30, 60, 0xFFFFFF},
                                             {80, 41, 0xFFFFFF},
                                             {80, 42, 0x0000FF},
                                             {80, 61, 0x0000FF},
                                             {80, 62, 0xFFFFFF}})
        EXPECT_EQ(pixels[size_t(p.y) * 100 + size_t(p.x)] & 0xFFFFFF, p.colour) << p.x << "," << p.y;
}
