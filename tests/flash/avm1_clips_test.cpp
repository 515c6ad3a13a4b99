// Clips as scripts see them: the names of unnamed placed objects, paths to clips,
// references to removed clips.
#include "tests/flash/avm1_script_builder.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

E Eval(const std::string& path) { return E().push({path}).getVariable(); }
E TraceString(const E& value) { return Trace(Call(Var("_global"), "String", {value})); }

}  // namespace

// Clips, buttons and text fields the movie places without a name are "instance1",
// "instance2" ... in the order they are made, children before the next sibling;
// named objects and shapes take no number.
TEST(Avm1Clips, UnnamedPlacedObjectsGetDefaultNames) {
    w::Movie movie({.version = 8});
    uint16_t square = DefineSquare(movie, 200, w::Color{255, 0, 0});
    uint16_t empty = movie.defineSprite(movie.sprite());
    w::Sprite holder = movie.sprite();
    holder.place({.depth = 1, .character = empty});
    holder.showFrame();
    uint16_t holder_id = movie.defineSprite(holder);
    w::EditText field;
    field.bounds = w::Rect::pixels(100, 20);
    uint16_t field_id = movie.defineEditText(field);
    uint16_t button = movie.defineButton2({{.character = square}}, {});

    movie.place({.depth = 1, .character = empty});
    movie.place({.depth = 2, .character = holder_id, .name = "named"});
    movie.place({.depth = 3, .character = square});
    movie.place({.depth = 4, .character = holder_id});
    movie.place({.depth = 5, .character = field_id});
    movie.place({.depth = 6, .character = button});
    movie.doAction(Seq({
        TraceString(Eval("instance1")),
        TraceString(Eval("named.instance2")),
        TraceString(Eval("instance3")),
        TraceString(Eval("instance3.instance4")),
        Trace(Member(Eval("instance5"), "_name")),
        TraceString(Eval("instance6")),
        TraceString(Eval("instance7")),
    }));
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie), (std::vector<std::string>{"_level0.instance1", "_level0.named.instance2",
                                                         "_level0.instance3", "_level0.instance3.instance4",
                                                         "instance5", "_level0.instance6", "undefined"}));
}

// The count goes on for the life of the player: a clip placed again when the
// timeline loops is a new instance with the next number.
TEST(Avm1Clips, DefaultNamesKeepCountingWhenTheTimelineLoops) {
    w::Movie movie({.version = 8});
    uint16_t empty = movie.defineSprite(movie.sprite());
    movie.place({.depth = 1, .character = empty});
    movie.doAction(Seq({TraceString(Eval("instance1")), TraceString(Eval("instance2"))}));
    movie.showFrame();
    movie.removeObject2(1);
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 3),
              (std::vector<std::string>{"_level0.instance1", "undefined", "undefined", "_level0.instance2"}));
}

namespace {

// The main timeline's second frame removes the clip at depth 1; the clip's own frame
// script is `script`, and the main timeline sets v = "root" first.
std::vector<std::string> TracesOfRemovedClip(const E& script) {
    w::Movie movie({.version = 8});
    w::Sprite clip = movie.sprite();
    clip.doAction(script);
    clip.showFrame();
    uint16_t clip_id = movie.defineSprite(clip);
    movie.doAction(SetVar("v", Lit("root")));
    movie.place({.depth = 1, .character = clip_id, .name = "c"});
    movie.showFrame();
    movie.removeObject2(1);
    movie.doAction(E().stop());
    movie.showFrame();
    return TracesOf(movie, 2);
}

// The parent's timeline, moved to its frame that removes the clip, by a goto action.
E ParentRemovesMe() { return E().setTarget("_parent").gotoFrame(1).setTarget(""); }

}  // namespace

// A list whose clip is removed stops after its next call that reaches something
// (a goto action does not stop it); until then its names and actions reach the
// main timeline.
TEST(Avm1Clips, RemovedClipsListStopsAtItsNextCall) {
    struct Case {
        const char* what;
        E script;
        std::vector<std::string> expected;
    } cases[] = {
        {"a method that removes the clip", Seq({Trace(Lit("start")), Do(Call(Var("_parent"), "gotoAndStop", {Lit(2)})),
                                                Trace(Lit("BAD"))}),
         {"start"}},
        {"a goto action goes on, an unknown function stops",
         Seq({Trace(Lit("start")), ParentRemovesMe(), Trace(Lit("goes on")),
              Do(E().push({0, "bogus"}).callFunction()), Trace(Lit("BAD"))}),
         {"start", "goes on"}},
        {"a method of an object stops", Seq({ParentRemovesMe(), Do(Call(E().push({0}).initObject(), "f")), Trace(Lit("BAD"))}),
         {}},
        {"a method of nothing goes on", Seq({ParentRemovesMe(), Do(Call(Var("nothing"), "f")), Trace(Lit("goes on"))}),
         {"goes on"}},
        {"names fall back to the main timeline",
         Seq({SetVar("v", Lit("clip")), Trace(Var("v")), ParentRemovesMe(), Trace(Var("v")),
              SetVar("w", Lit("set")), Trace(Member(Var("_root"), "w"))}),
         {"clip", "root", "set"}},
    };
    for (const Case& c : cases) EXPECT_EQ(TracesOfRemovedClip(c.script), c.expected) << c.what;
}

// Shapes, static texts and, before version 6, buttons have no object of their own:
// their names and depths reach the clip that holds them, so its variables answer.
TEST(Avm1Clips, ObjectsWithoutScriptsStandForTheirParent) {
    for (uint8_t version : {5, 6}) {
        w::Movie movie({.version = version});
        uint16_t square = DefineSquare(movie, 200, w::Color{255, 0, 0});
        uint16_t button = movie.defineButton2({{.character = square}}, {});
        w::Sprite holder = movie.sprite();
        holder.place({.depth = 1, .character = square, .name = "inner"});
        holder.doAction(SetVar("v", Lit("holder")));
        holder.showFrame();
        uint16_t holder_id = movie.defineSprite(holder);
        movie.place({.depth = 1, .character = square, .name = "box"});
        movie.place({.depth = 2, .character = holder_id, .name = "clip"});
        movie.place({.depth = 3, .character = button, .name = "btn"});
        movie.doAction(Seq({
            SetVar("v", Lit("root")),
            Trace(Eval("box")),
            Trace(Member(Eval("box"), "v")),
            Trace(Eval("clip.inner")),
            Trace(Eval("clip/inner:v")),
            Trace(Call(Var("_root"), "getInstanceAtDepth", {Lit(1 - 16384)})),
            Trace(Eval("btn")),
        }));
        movie.showFrame();
        EXPECT_EQ(TracesOf(movie), (std::vector<std::string>{"_level0", "root", "_level0.clip", "holder", "_level0",
                                                             version < 6 ? "_level0" : "_level0.btn"}))
            << int(version);
    }
}

// A clip's unload script runs to its end though the clip is already off the stage:
// calls on it do not stop the list as they do for other scripts of a removed clip.
TEST(Avm1Clips, UnloadScriptRunsToItsEnd) {
    w::Movie movie({.version = 8});
    w::Sprite clip = movie.sprite();
    clip.showFrame();
    uint16_t clip_id = movie.defineSprite(clip);
    w::Place place{.depth = 1, .character = clip_id, .name = "c"};
    place.clipActions.push_back(
        {.events = w::kClipUnload, .actions = Seq({Trace(Lit("unload")), Do(Call(Var("this"), "stop")), Trace(Lit("end"))})});
    movie.place(place);
    movie.showFrame();
    movie.removeObject2(1);
    movie.doAction(E().stop());
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 2), (std::vector<std::string>{"unload", "end"}));
}

// Names that reach clips: _root, _global and levels as members of any clip; two
// separators in a row name nothing; up to version 5 a function acts on the clip it
// is called on.
TEST(Avm1Clips, PathsThroughClips) {
    w::Movie movie({.version = 7});
    w::Sprite inner = movie.sprite();
    inner.showFrame();
    uint16_t inner_id = movie.defineSprite(inner);
    w::Sprite holder = movie.sprite();
    holder.place({.depth = 1, .character = inner_id, .name = "b"});
    holder.showFrame();
    uint16_t holder_id = movie.defineSprite(holder);
    movie.place({.depth = 1, .character = holder_id, .name = "a"});
    movie.doAction(Seq({
        Trace(E().push({"a"}).getVariable().push({"_root"}).getMember().push({"_root"}).getVariable().strictEquals()),
        Trace(E().push({"a"}).getVariable().push({"_global"}).getMember().push({"_global"}).getVariable().strictEquals()),
        Trace(Member(Eval("a"), "_level0")),
        Trace(Eval("/a/b")),
        Trace(Eval("/a//b")),
    }));
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie), (std::vector<std::string>{"true", "true", "_level0", "_level0.a.b", "undefined"}));

    // The function, defined on the main timeline, reads _name of the clip that calls it.
    for (uint8_t version : {5, 6}) {
        w::Movie m({.version = version});
        w::Sprite caller = m.sprite();
        caller.doAction(Do(E().push({0, "whoAmI"}).callFunction()));
        caller.showFrame();
        uint16_t caller_id = m.defineSprite(caller);
        m.doAction(SetMember(Member(Var("MovieClip"), "prototype"), "whoAmI",
                             E().defineFunction("", {}, Trace(E().push({"", 11}).getProperty()))));
        m.showFrame();
        m.place({.depth = 1, .character = caller_id, .name = "caller"});
        m.doAction(E().stop());
        m.showFrame();
        EXPECT_EQ(TracesOf(m, 2), (std::vector<std::string>{version <= 5 ? "/caller" : "/"})) << int(version);
    }
}

// From version 7 names match by case, but a clip's display properties still
// answer in any case; _levelN, _root and the clip's own names do not.
TEST(Avm1Clips, DisplayPropertiesMatchInAnyCase) {
    w::Movie movie({.version = 8});
    uint16_t empty = movie.defineSprite(movie.sprite());
    movie.place({.depth = 1, .character = empty, .name = "c"});
    movie.doAction(Seq({
        SetMember(Var("c"), "_X", Lit(5)),
        Trace(Member(Var("c"), "_x")),
        Trace(Member(Var("c"), "_rOtaTION")),
        Trace(Member(Var("c"), "_NAME")),
        Trace(Var("_LeVeL0")),
        Trace(Member(Var("_root"), "C")),
    }));
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie), (std::vector<std::string>{"5", "0", "c", "undefined", "undefined"}));
}
