// Object.registerClass on written movies: clips made from an exported symbol
// take the registered class, by attachMovie and on the timeline.
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

// A movie with an empty sprite exported as "Ball", placed on frame 2 as
// "placed"; `script` runs on frame 1 and `later` on frame 2.
std::vector<std::string> RunTwoFrames(const E& script, const E& later, uint8_t version = 8) {
    w::Movie movie({.version = version, .frame = w::Rect::pixels(100, 100)});
    w::Sprite ball = movie.sprite();
    ball.showFrame();
    uint16_t id = movie.defineSprite(ball);
    movie.exportAssets({{id, "Ball"}});
    movie.doAction(script);
    movie.showFrame();
    movie.place({.depth = 5, .character = id, .name = "placed"});
    movie.doAction(later);
    movie.showFrame();
    return TracesOf(movie, 2);
}

// function Ball() { trace("made " + this.size); }  Ball.prototype.kind = "ball";
E DefineBall() {
    E body = E().push({"made "}).push({"this"}).getVariable().push({"size"}).getMember().add2().trace();
    return Seq({E().defineFunction("Ball", {}, body),
                SetMember(Member(Var("Ball"), "prototype"), "kind", Lit("ball"))});
}

E Init(const std::string& name, int value) { return E().push({name, value, 1}).initObject(); }

}  // namespace

// The class's prototype, the initial values before the constructor, the
// constructor once; a symbol with no class (or one unregistered) stays a
// plain clip, and too few arguments are refused.
TEST(Avm1RegisterClass, AttachedAndPlacedClipsTakeTheClass) {
    E reg = Call(Var("Object"), "registerClass", {Lit("Ball"), Var("Ball")});
    E script = Seq({
        DefineBall(),
        Trace(Call(Var("Object"), "registerClass", {Lit("Ball")})),
        Trace(reg),
        SetVar("a", Call(Var("_root"), "attachMovie", {Lit("Ball"), Lit("a"), Lit(1), Init("size", 3)})),
        Trace(Member(Var("a"), "kind")),
        Trace(Member(Var("a"), "_name")),
        Trace(Call(Var("Object"), "registerClass", {Lit("Ball"), Lit(0)})),
        SetVar("b", Call(Var("_root"), "attachMovie", {Lit("Ball"), Lit("b"), Lit(2)})),
        Trace(Member(Var("b"), "kind")),
        Do(reg),
    });
    E later = Trace(Member(Member(Var("_root"), "placed"), "kind"));
    EXPECT_EQ(RunTwoFrames(script, later), (std::vector<std::string>{
                                                "false",
                                                "true",
                                                "made 3",
                                                "ball",
                                                "a",
                                                "true",
                                                "undefined",
                                                "made undefined",
                                                "ball",
                                            }));
}

// Export names match without regard to case only in movies before version 7.
TEST(Avm1RegisterClass, NamesFollowTheVersionsCaseRules) {
    E script = Seq({
        DefineBall(),
        Do(Call(Var("Object"), "registerClass", {Lit("BALL"), Var("Ball")})),
        SetVar("a", Call(Var("_root"), "attachMovie", {Lit("Ball"), Lit("a"), Lit(1)})),
        Trace(Member(Var("a"), "kind")),
    });
    // The clip placed on the second frame takes it too.
    EXPECT_EQ(RunTwoFrames(script, E(), 6), (std::vector<std::string>{"made ", "ball", "made "}));
    EXPECT_EQ(RunTwoFrames(script, E(), 7), (std::vector<std::string>{"undefined"}));
}
