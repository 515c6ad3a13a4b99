// Lines and fills drawn by scripts, as the renderer shows them.
#include <vector>

#include "flash/render/render.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

// The stage (100x100, white) after one frame of `script`.
std::vector<uint32_t> Draw(const E& script) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 100)});
    movie.setBackgroundColor({255, 255, 255});
    movie.doAction(script);
    movie.showFrame();
    std::unique_ptr<Player> player;
    TracesOf(movie, 1, &player);
    if (!player) return std::vector<uint32_t>(100 * 100);
    return StagePixels(*player, 100, 100);
}

}  // namespace

// A fill the script never ends is shown closed, by an edge back to where it
// began that is stroked like the others; drawing on takes that edge back.
TEST(RenderDrawing, OpenFillsShowClosed) {
    E c = Var("c");
    auto clip = SetVar("c", Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)}));
    auto to = [&](const char* m, int x, int y) { return Do(Call(c, m, {Lit(x), Lit(y)})); };
    struct Case {
        const char* name;
        E script;
        uint32_t inside, onClosingEdge;
    };
    const uint32_t red = 0xFFFF0000u, black = 0xFF000000u, white = 0xFFFFFFFFu;
    std::vector<Case> cases = {
        // A triangle (10,10) (90,90) (10,90) left open: filled, and its closing
        // edge from (10,90) up to (10,10) is stroked.
        {"open", Seq({clip, Do(Call(c, "beginFill", {Lit(0xFF0000)})), Do(Call(c, "lineStyle", {Lit(4), Lit(0)})),
                      to("moveTo", 10, 10), to("lineTo", 90, 90), to("lineTo", 10, 90)}),
         red, black},
        // Each new edge takes back the closing edge shown before it: none is
        // left from (50,90) across the inside.
        {"continued", Seq({clip, Do(Call(c, "beginFill", {Lit(0xFF0000)})), Do(Call(c, "lineStyle", {Lit(4), Lit(0)})),
                           to("moveTo", 10, 10), to("lineTo", 90, 90), to("lineTo", 50, 90), to("lineTo", 10, 90)}),
         red, black},
        // Without a line only the fill shows.
        {"unstroked", Seq({clip, Do(Call(c, "beginFill", {Lit(0xFF0000)})), to("moveTo", 10, 10), to("lineTo", 90, 90),
                           to("lineTo", 10, 90)}),
         red, red},
        // Lines alone are never closed.
        {"lines only", Seq({clip, Do(Call(c, "lineStyle", {Lit(4), Lit(0)})), to("moveTo", 10, 10), to("lineTo", 90, 90),
                            to("lineTo", 10, 90)}),
         white, white},
    };
    for (const Case& k : cases) {
        std::vector<uint32_t> p = Draw(k.script);
        auto at = [&](int x, int y) { return p[size_t(y) * 100 + size_t(x)]; };
        EXPECT_EQ(at(25, 70), k.inside) << k.name;
        EXPECT_EQ(at(30, 50), k.inside) << k.name;
        EXPECT_EQ(at(10, 50), k.onClosingEdge) << k.name;
        // Outside the triangle.
        EXPECT_EQ(at(60, 30), white) << k.name;
    }
}
