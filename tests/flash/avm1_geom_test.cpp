// flash.geom on written movies: Point, Rectangle, Matrix, ColorTransform and
// a clip's Transform.
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E Geom() { return Member(Var("flash"), "geom"); }
E New(const std::string& cls, const std::vector<E>& args = {}) {
    E a = Args(args);
    a.raw(Geom().bytes());
    return a.push({cls}).newMethod();
}
E Undef() { return Var("nothing_here"); }

std::vector<std::string> RunGeom(const E& script, uint8_t version = 8) {
    w::Movie movie({.version = version, .frame = w::Rect::pixels(200, 100)});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

}  // namespace

// The value classes: results and their texts, including what missing or
// unusable arguments give.
TEST(Avm1Geom, ValueClasses) {
    struct Case {
        E setup;
        E value;
        std::string expected;
    };
    E p = Var("p"), r = Var("r"), m = Var("m"), ct = Var("ct");
    E rect = SetVar("r", New("Rectangle", {Lit(1), Lit(3), Lit(5), Lit(7)}));
    E matrix = SetVar("m", New("Matrix", {Lit(2), Lit(3), Lit(5), Lit(7), Lit(9), Lit(11)}));
    const std::vector<Case> cases = {
        {E(), New("Point"), "(x=0, y=0)"},
        {E(), New("Point", {Lit(1)}), "(x=1, y=undefined)"},
        {SetVar("p", New("Point", {Lit(3), Lit(4)})), Member(p, "length"), "5"},
        {E(), Call(p, "add", {Undef()}), "(x=NaN, y=NaN)"},
        {E(), Call(Member(Geom(), "Point"), "distance", {New("Point", {Lit(-100), Lit(200)}), New("Point", {Lit(100), Lit(200)})}), "200"},
        // Measured through the first point's methods: a plain object has none.
        {E(), Call(Member(Geom(), "Point"), "distance", {E().push({"x", 1, "y", 2, 2}).initObject(), New("Point")}), "undefined"},
        {E(), Call(Member(Geom(), "Point"), "interpolate", {New("Point", {Lit(-100), Lit(-200)}), New("Point", {Lit(100), Lit(200)}), Lit(-1)}), "(x=300, y=600)"},
        {rect, r, "(x=1, y=3, w=5, h=7)"},
        {E(), Member(r, "bottomRight"), "(x=6, y=10)"},
        {SetMember(r, "top", Lit(0)), Member(r, "height"), "10"},
        {E(), Call(r, "contains", {Lit(1), Lit(-1)}), "false"},
        {E(), Call(r, "contains", {Lit(5.9), Lit(9.9)}), "true"},
        // A comparison with NaN is neither true nor false.
        {E(), Call(r, "contains", {Lit(4), Undef()}), "undefined"},
        {E(), Call(r, "intersection", {New("Rectangle", {Lit(30), Lit(50), Lit(1), Lit(1)})}), "(x=0, y=0, w=0, h=0)"},
        {E(), Call(r, "union", {Undef()}), "(x=NaN, y=NaN, w=NaN, h=NaN)"},
        {E(), New("Matrix", {Lit(1), Lit(2)}), "(a=1, b=2, c=undefined, d=undefined, tx=undefined, ty=undefined)"},
        {Seq({matrix, Do(Call(m, "invert"))}), m, "(a=-7, b=3, c=5, d=-2, tx=8, ty=-5)"},
        {Seq({matrix, Do(Call(m, "concat", {New("Matrix", {Lit(1), Lit(0), Lit(0), Lit(1), Lit(1), Lit(1)})}))}), m,
         "(a=2, b=3, c=5, d=7, tx=10, ty=12)"},
        {matrix, Call(m, "transformPoint", {New("Point", {Lit(1), Lit(1)})}), "(x=16, y=21)"},
        {matrix, Call(m, "deltaTransformPoint", {New("Point", {Lit(1), Lit(1)})}), "(x=7, y=10)"},
        {Seq({SetVar("m", New("Matrix")), Do(Call(m, "createGradientBox", {Lit(200), Lit(300)}))}), m,
         "(a=0.1220703125, b=0, c=0, d=0.18310546875, tx=100, ty=150)"},
        {E(), New("ColorTransform"),
         "(redMultiplier=1, greenMultiplier=1, blueMultiplier=1, alphaMultiplier=1, redOffset=0, greenOffset=0, blueOffset=0, alphaOffset=0)"},
        {Seq({SetVar("ct", New("ColorTransform")), SetMember(ct, "rgb", Lit(0xFF1900))}), ct,
         "(redMultiplier=0, greenMultiplier=0, blueMultiplier=0, alphaMultiplier=1, redOffset=255, greenOffset=25, blueOffset=0, alphaOffset=0)"},
        {E(), Member(ct, "rgb"), "16718080"},
        {Seq({SetVar("ct", New("ColorTransform", {Lit(0.5), Lit(0.5), Lit(0.5), Lit(0.5), Lit(10), Lit(20), Lit(30), Lit(40)})),
              Do(Call(ct, "concat", {New("ColorTransform", {Lit(0.5), Lit(1), Lit(1), Lit(1), Lit(100), Lit(0), Lit(0), Lit(0)})}))}),
         ct,
         "(redMultiplier=0.25, greenMultiplier=0.5, blueMultiplier=0.5, alphaMultiplier=0.5, redOffset=60, greenOffset=20, blueOffset=30, alphaOffset=40)"},
    };
    E script;
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        script.raw(c.setup.bytes());
        script.raw(Trace(c.value).bytes());
        expected.push_back(c.expected);
    }
    EXPECT_EQ(RunGeom(script), expected);
}

// A clip's transform: read and written in pixels, chained through the parents
// and the root, and a view that follows the clip.
TEST(Avm1Geom, ClipTransform) {
    E outer = Var("outer"), inner = Var("inner"), t = Var("t");
    E script = Seq({
        SetMember(Var("_root"), "_x", Lit(10)),
        SetVar("outer", Call(Var("_root"), "createEmptyMovieClip", {Lit("outer"), Lit(1)})),
        SetVar("inner", Call(outer, "createEmptyMovieClip", {Lit("inner"), Lit(1)})),
        SetMember(outer, "_xscale", Lit(200)),
        SetMember(outer, "_yscale", Lit(200)),
        SetMember(outer, "_x", Lit(20)),
        SetMember(inner, "_x", Lit(5)),
        Do(Call(inner, "beginFill", {Lit(0)})),
        Do(Call(inner, "moveTo", {Lit(0), Lit(0)})),
        Do(Call(inner, "lineTo", {Lit(10), Lit(0)})),
        Do(Call(inner, "lineTo", {Lit(10), Lit(10)})),
        Do(Call(inner, "lineTo", {Lit(0), Lit(10)})),
        Do(Call(inner, "endFill")),
        SetVar("t", Member(inner, "transform")),
        Trace(Member(t, "matrix")),
        Trace(Member(t, "concatenatedMatrix")),
        Trace(Member(t, "pixelBounds")),
        // The view follows the clip; a new matrix moves it.
        SetMember(inner, "_y", Lit(7)),
        Trace(Member(Member(t, "matrix"), "ty")),
        SetMember(t, "matrix", New("Matrix", {Lit(1), Lit(0), Lit(0), Lit(1), Lit(3), Lit(4)})),
        Trace(Member(inner, "_x")),
        // Something that is not a Matrix changes nothing.
        SetMember(t, "matrix", E().push({"tx", 99, 1}).initObject()),
        Trace(Member(inner, "_x")),
        SetMember(Member(outer, "transform"), "colorTransform",
                  New("ColorTransform", {Lit(0.5), Lit(1), Lit(1), Lit(1), Lit(0), Lit(0), Lit(-10), Lit(0)})),
        SetMember(t, "colorTransform", New("ColorTransform", {Lit(1), Lit(1), Lit(1), Lit(0.5), Lit(0), Lit(0), Lit(-10), Lit(0)})),
        Trace(Member(inner, "_alpha")),
        Trace(Member(t, "concatenatedColorTransform")),
        // A read gives a copy: changing it leaves the clip alone.
        SetMember(Member(t, "matrix"), "tx", Lit(999)),
        Trace(Member(inner, "_x")),
    });
    EXPECT_EQ(RunGeom(script), (std::vector<std::string>{
                               "(a=1, b=0, c=0, d=1, tx=5, ty=0)",
                               "(a=2, b=0, c=0, d=2, tx=40, ty=0)",
                               "(x=40, y=0, w=20, h=20)",
                               "7",
                               "3",
                               "3",
                               "50",
                               "(redMultiplier=0.5, greenMultiplier=1, blueMultiplier=1, alphaMultiplier=0.5, redOffset=0, "
                               "greenOffset=0, blueOffset=-20, alphaOffset=0)",
                               "3",
                           }));
}

// The package belongs to version 8 and later.
TEST(Avm1Geom, OnlyFromVersion8) {
    E script = Seq({Trace(E().raw(Var("flash").bytes()).typeOf()), Trace(Member(Var("_root"), "transform"))});
    EXPECT_EQ(RunGeom(script, 7), (std::vector<std::string>{"undefined", "undefined"}));
    EXPECT_EQ(RunGeom(script, 8), (std::vector<std::string>{"object", "[object Object]"}));
    // An older movie's own package of that name is its own.
    E own = Seq({SetMember(Var("_global"), "flash", Lit("mine")), Trace(Var("flash"))});
    EXPECT_EQ(RunGeom(own, 7), (std::vector<std::string>{"mine"}));
}
