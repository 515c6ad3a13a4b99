// The box of a text field as scripts set it: fill and line apart, their
// colours, and where their pixels fall.
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

// Fields "f" made at (x, y), w x h pixels, then given `settings` (name, value).
E Field(const std::string& name, int depth, double x, double y, double w, double h,
        const std::vector<std::pair<std::string, E>>& settings) {
    E steps = Do(Call(Var("_root"), "createTextField", {Lit(name), Lit(depth), Lit(x), Lit(y), Lit(w), Lit(h)}));
    for (const auto& [property, value] : settings) steps.raw(SetMember(Var(name), property, value).bytes());
    return steps;
}

}  // namespace

TEST(RenderTextBox, ScriptsSetFillAndLineApart) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(100, 40)});
    movie.setBackgroundColor({255, 255, 255});
    movie.doAction(Seq({
        // Only a fill, red; its far edges halfway between pixels go down.
        Field("a", 1, 10.5, 10.5, 10, 10, {{"background", Lit(true)}, {"backgroundColor", Lit(0xFF0000)}}),
        // Only a line, green.
        Field("b", 2, 40, 10, 10, 10, {{"border", Lit(true)}, {"borderColor", Lit(0x00FF00)}}),
        // Both, the fill blue under a black line.
        Field("c", 3, 70, 10, 10, 10, {{"border", Lit(true)}, {"backgroundColor", Lit(0x0000FF)}}),
        E().stop(),
    }));
    movie.showFrame();
    std::unique_ptr<Player> player;
    TracesOf(movie, 1, &player);
    ASSERT_TRUE(player);
    const std::vector<uint32_t> pixels = StagePixels(*player, 100, 40);
    auto at = [&](int x, int y) { return pixels[size_t(y) * 100 + size_t(x)] & 0xFFFFFFu; };
    EXPECT_EQ(at(10, 10), 0xFF0000u);
    EXPECT_EQ(at(19, 19), 0xFF0000u);
    EXPECT_EQ(at(20, 15), 0xFFFFFFu);  // the far edge's pixel is outside
    EXPECT_EQ(at(9, 15), 0xFFFFFFu);
    // The line on the outermost rows and columns, the far corner left out.
    EXPECT_EQ(at(40, 15), 0x00FF00u);
    EXPECT_EQ(at(50, 15), 0x00FF00u);
    EXPECT_EQ(at(45, 10), 0x00FF00u);
    EXPECT_EQ(at(45, 20), 0x00FF00u);
    EXPECT_EQ(at(50, 10), 0x00FF00u);
    EXPECT_EQ(at(40, 20), 0x00FF00u);
    EXPECT_EQ(at(50, 20), 0xFFFFFFu);
    EXPECT_EQ(at(45, 15), 0xFFFFFFu);  // no fill
    // A line over a fill: the fill reaches the far corner.
    EXPECT_EQ(at(70, 15), 0x000000u);
    EXPECT_EQ(at(75, 15), 0x0000FFu);
    EXPECT_EQ(at(80, 20), 0x0000FFu);
}

// What a script sets reads back as it is kept: the fill follows the line
// until it is set itself; colours are 24-bit.
TEST(RenderTextBox, SettingsReadBack) {
    w::Movie movie({.version = 8});
    movie.doAction(Seq({
        Do(Call(Var("_root"), "createTextField", {Lit("f"), Lit(1), Lit(0), Lit(0), Lit(10), Lit(10)})),
        Trace(Member(Var("f"), "background")),
        SetMember(Var("f"), "border", Lit(true)),
        Trace(Member(Var("f"), "background")),
        SetMember(Var("f"), "background", Lit(false)),
        SetMember(Var("f"), "backgroundColor", Lit(-1)),
        SetMember(Var("f"), "borderColor", Lit(0x123456)),
        Trace(Member(Var("f"), "background")),
        Trace(Member(Var("f"), "backgroundColor")),
        Trace(Member(Var("f"), "borderColor")),
        E().stop(),
    }));
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 1), (std::vector<std::string>{"false", "true", "false", "16777215", "1193046"}));
}
