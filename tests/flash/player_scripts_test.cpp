// Frame scripts: when they run, in which order, and the timeline actions of
// the built-in runner in their version 3, 4 and 5 forms.
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;


// Scripts run in the order of their tags, a placed clip's own scripts where
// its placement is; on later frames the newest clips run first.
TEST(PlayerScripts, FrameScriptOrder) {
    w::Movie movie({.version = 8});
    auto child = [&](const std::string& name) {
        w::Sprite s = movie.sprite();
        s.doAction(w::Actions().push({name + " 1"}).trace());
        s.showFrame();
        s.doAction(w::Actions().push({name + " 2"}).trace().stop());
        s.showFrame();
        return movie.defineSprite(s);
    };
    uint16_t a = child("a"), b = child("b");
    movie.doAction(w::Actions().push({"init"}).trace());
    movie.doInitAction(a, w::Actions().push({"init action"}).trace());
    movie.place({.depth = 3, .character = a});
    movie.place({.depth = 1, .character = b});
    movie.doAction(w::Actions().push({"after places"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"root 2"}).trace().stop());
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 3), (std::vector<std::string>{"init action", "init", "a 1", "b 1", "after places", "b 2",
                                                           "a 2", "root 2"}));
}

TEST(PlayerScripts, NavigationActions) {
    const struct {
        const char* name;
        w::Actions actions;
        uint32_t frame;
        bool playing;
    } cases[] = {
        {"goto frame", w::Actions().gotoFrame(2), 2, false},
        {"goto and play", w::Actions().gotoFrame(3).play(), 3, true},
        {"goto label", w::Actions().gotoLabel("END"), 4, false},
        {"unknown label", w::Actions().gotoLabel("nowhere"), 0, false},
        {"goto frame 2, unknown label", w::Actions().push({"nowhere"}).gotoFrame2(false), 0, true},
        {"next frame", w::Actions().nextFrame(), 1, false},
        {"goto frame 2, number", w::Actions().push({3.0}).gotoFrame2(false), 2, false},
        {"goto frame 2, string number", w::Actions().push({"4"}).gotoFrame2(true), 3, true},
        {"goto frame 2, label", w::Actions().push({"end"}).gotoFrame2(false), 4, false},
        {"goto frame 2, scene bias", w::Actions().push({1}).gotoFrame2(false, 2), 2, false},
        {"goto frame 2, path", w::Actions().push({"/:end"}).gotoFrame2(false), 4, false},
        {"stop", w::Actions().stop(), 0, false},
        {"url ignored", w::Actions().getUrl("http://example.com/", "_blank").stop(), 0, false},
        {"wait for a frame there is", w::Actions().waitForFrame(2, 1).stop(), 0, false},
        // A whole movie counts every frame up to the frame limit as loaded, even past its end.
        {"wait for a frame past the end", w::Actions().waitForFrame(10, 1).stop(), 0, false},
        {"wait for a frame past the limit", w::Actions().waitForFrame(16001, 1).stop(), 0, true},
        {"wait for frame 2, past the limit", w::Actions().push({16002}).waitForFrame2(1).stop(), 0, true},
        {"wait for frame 2, a label there is", w::Actions().push({"end"}).waitForFrame2(1).stop(), 0, false},
    };
    for (const auto& c : cases) {
        w::Movie movie({.version = 6});
        movie.doAction(c.actions);
        movie.showFrame();
        for (int i = 0; i < 3; ++i) movie.showFrame();
        movie.frameLabel("end");
        movie.showFrame();
        auto player = Load(movie);
        player->Advance();
        EXPECT_EQ(player->CurrentFrame(), c.frame) << c.name;
        EXPECT_EQ(player->IsPlaying(), c.playing) << c.name;
    }
}

// Going back to a frame runs that frame's script again; previousFrame stops.
TEST(PlayerScripts, ScriptsOfTheTargetFrameRun) {
    w::Movie movie({.version = 6});
    movie.doAction(w::Actions().push({"zero"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"one"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"two"}).trace().prevFrame());
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 5), (std::vector<std::string>{"zero", "one", "two", "one"}));
}

TEST(PlayerScripts, TargetsReachNamedClips) {
    w::Movie movie({.version = 6});
    w::Sprite inner = movie.sprite();
    inner.showFrame();
    inner.doAction(w::Actions().push({"inner 2"}).trace());
    inner.showFrame();
    inner.showFrame();
    uint16_t inner_id = movie.defineSprite(inner);
    w::Sprite outer = movie.sprite();
    outer.place({.depth = 1, .character = inner_id, .name = "inner"});
    outer.showFrame();
    uint16_t outer_id = movie.defineSprite(outer);
    movie.place({.depth = 1, .character = outer_id, .name = "outer"});
    movie.doAction(w::Actions()
                       .setTarget("/outer/inner").stop().setTarget("")
                       .push({"outer/inner"}).setTarget2().gotoFrame(1).setTarget("")
                       .push({"_root.outer.inner"}).setTarget2().play().setTarget("")
                       .setTarget("outer/../outer/inner/").push({"traced in target"}).trace().setTarget("")
                       .stop());
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    const DisplayObject* inner_clip = player->Stage().At(1)->children.At(1);
    ASSERT_TRUE(inner_clip);
    EXPECT_EQ(inner_clip->sprite->current_frame, 1);
    EXPECT_TRUE(inner_clip->sprite->playing);
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"traced in target", "inner 2"}));
}

TEST(PlayerScripts, TraceWritesConstantsAsTheVersionDoes) {
    w::Movie movie({.version = 7});
    movie.doAction(w::Actions()
                       .constantPool({"pooled"})
                       .push({w::Constant{0}, 1.5, 42, true, w::Null{}, w::Undefined{}, w::Float{0.25f}})
                       .trace().trace().trace().trace().trace().trace().trace()
                       .push({1e21}).trace()
                       .push({"a"}).storeRegister(1).pop().push({w::Register{1}}).trace());
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 1), (std::vector<std::string>{"0.25", "undefined", "null", "true", "42", "1.5", "pooled",
                                                       "1e+21", "a"}));
}

// Branches and a loop that never ends: the list is cut, the movie goes on.
TEST(PlayerScripts, RunawayScriptsAreStopped) {
    w::Movie movie({.version = 6});
    movie.doAction(w::Actions().push({true}).if_("skip").push({"not shown"}).trace().label("skip").push({"shown"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().label("top").jump("top"));
    movie.showFrame();
    movie.doAction(w::Actions().gotoFrame(3));
    movie.showFrame();
    movie.doAction(w::Actions().gotoFrame(2));  // frames 2 and 3 send each other back and forth
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    std::vector<std::string> log;
    player->SetTraceSink(&traces);
    player->SetLogSink([&](std::string_view line) { log.emplace_back(line); });
    for (int i = 0; i < 3; ++i) player->Advance();
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"shown"}));
    EXPECT_GE(log.size(), 2u);
}

TEST(PlayerScripts, ActionScript3MovieSkipsScriptsButPlays) {
    w::Movie movie({.version = 9});
    movie.fileAttributes(0x08);
    uint16_t square = DefineSquare(movie, 100, {0, 0, 0});
    movie.doAction(w::Actions().push({"never"}).trace().stop());
    movie.place({.depth = 1, .character = square});
    movie.showFrame();
    movie.showFrame();
    auto player = Load(movie);
    EXPECT_TRUE(player->IsActionScript3());
    Traces traces;
    std::vector<std::string> log;
    player->SetTraceSink(&traces);
    player->SetLogSink([&](std::string_view line) { log.emplace_back(line); });
    player->Advance();
    player->Advance();
    EXPECT_TRUE(traces.lines.empty());
    EXPECT_EQ(player->CurrentFrame(), 1u);
    EXPECT_EQ(player->Stage().size(), 1u);
    EXPECT_EQ(log.size(), 1u);
}

// The interpreter seam: a host of one's own receives every list with its clip.
TEST(PlayerScripts, ScriptHostReceivesListsInOrder) {
    struct Recorder : ScriptHost {
        std::vector<std::pair<std::string, ScriptKind>>* seen;
        void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions, ScriptKind kind) override {
            seen->emplace_back(&clip == &env.Root() ? "root" : clip.name, kind);
        }
    };
    std::vector<std::pair<std::string, ScriptKind>> seen;
    w::Movie movie({.version = 8});
    w::Sprite s = movie.sprite();
    s.doAction(w::Actions().stop());
    s.showFrame();
    uint16_t clip = movie.defineSprite(s);
    w::Place p{.depth = 1, .character = clip, .name = "c"};
    p.clipActions.push_back({.events = w::kClipLoad, .actions = w::Actions().stop()});
    movie.place(p);
    movie.doAction(w::Actions().stop());
    movie.showFrame();
    auto player = Load(movie);
    auto host = std::make_unique<Recorder>();
    host->seen = &seen;
    player->SetScriptHost(std::move(host));
    player->Advance();
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, ScriptKind>>{
                        {"c", ScriptKind::ClipEvent}, {"c", ScriptKind::Frame}, {"root", ScriptKind::Frame}}));
}

// Clip handlers in the reference player's order: initialize and construct as
// clips are created, load before a clip's first frame script, enterFrame
// from the next frame on, unload as the clip goes.
TEST(PlayerScripts, ClipEventOrder) {
    w::Movie movie({.version = 7});
    auto handlers = [](const std::string& who) {
        std::vector<w::ClipAction> list;
        for (auto [event, name] : {std::pair{w::kClipInitialize, "initialize"}, {w::kClipConstruct, "construct"},
                                   {w::kClipLoad, "load"}, {w::kClipEnterFrame, "enterFrame"}, {w::kClipUnload, "unload"}}) {
            list.push_back({.events = event, .actions = w::Actions().push({who + " " + name}).trace()});
        }
        return list;
    };
    w::Sprite child = movie.sprite();
    child.doAction(w::Actions().push({"child frame"}).trace());
    child.showFrame();
    uint16_t child_id = movie.defineSprite(child);
    w::Sprite clip = movie.sprite();
    clip.doAction(w::Actions().push({"clip frame"}).trace());
    clip.place({.depth = 1, .character = child_id, .clipActions = handlers("child")});
    clip.showFrame();
    uint16_t clip_id = movie.defineSprite(clip);
    movie.doAction(w::Actions().push({"root 1"}).trace());
    movie.place({.depth = 1, .character = clip_id, .clipActions = handlers("clip")});
    movie.showFrame();
    movie.doAction(w::Actions().push({"root 2"}).trace());
    movie.showFrame();
    movie.removeObject2(1);
    movie.doAction(w::Actions().push({"root 3"}).trace().stop());
    movie.showFrame();
    EXPECT_EQ(TracesOf(movie, 3),
              (std::vector<std::string>{"clip initialize", "child initialize", "clip construct", "child construct",
                                        "root 1", "clip load", "clip frame", "child load", "child frame",
                                        "child enterFrame", "clip enterFrame", "root 2",
                                        "child unload", "clip unload", "root 3"}));
}

// Clips a script creates stay through the timeline's own changes, until a
// script removes them.
TEST(PlayerScripts, ScriptCreatedClipsOutliveTimelineRebuilds) {
    struct Creator : ScriptHost {
        uint16_t clip_id = 0;
        DisplayObject* made = nullptr;
        bool unknown_refused = false;
        void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t>, ScriptKind) override {
            if (made || &clip != &env.Root()) return;
            made = env.CreateClip(clip, clip_id, 50, "made");
            unknown_refused = env.CreateClip(clip, 999, 51, "none") == nullptr;
        }
    };
    w::Movie movie({.version = 8});
    w::Sprite s = movie.sprite();
    s.showFrame();
    uint16_t clip = movie.defineSprite(s);
    movie.doAction(w::Actions().stop());
    movie.showFrame();
    movie.place({.depth = 1, .character = clip});
    movie.showFrame();
    auto player = Load(movie);
    auto host = std::make_unique<Creator>();
    Creator* creator = host.get();
    creator->clip_id = clip;
    player->SetScriptHost(std::move(host));
    player->Advance();
    ASSERT_TRUE(creator->made);
    EXPECT_TRUE(creator->unknown_refused);
    EXPECT_EQ(player->Stage().At(50), creator->made);
    EXPECT_EQ(player->Stage().At(50)->name, "made");

    player->GotoFrame(1);
    player->GotoFrame(0);
    EXPECT_EQ(player->Stage().At(50), creator->made);
    EXPECT_EQ(player->Stage().size(), 1u);
    struct Remover : ScriptHost {
        void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t>, ScriptKind) override {
            if (DisplayObject* m = env.ResolveTarget(env.Root(), "made")) env.RemoveClip(*m);
        }
    };
    player->SetScriptHost(std::make_unique<Remover>());
    player->GotoFrame(1);
    player->GotoFrame(0);  // its script removes the clip
    EXPECT_EQ(player->Stage().At(50), nullptr);
}

// Call runs another frame's scripts at once without moving the playhead;
// a frame that calls itself is cut off; frame numbers wrap as 32-bit integers.
TEST(PlayerScripts, CallRunsAFramesScripts) {
    w::Movie movie({.version = 4});
    // Frame numbers far beyond any movie call nothing.
    movie.doAction(w::Actions().push({"sub"}).call().push({"3"}).call().push({"4294967299"}).call().push({"loop"}).call()
                       .push({"99999999999"}).call().push({"0"}).call().push({"after"}).trace().stop());
    movie.showFrame();
    movie.frameLabel("sub");
    movie.doAction(w::Actions().push({"in sub"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"in frame 3"}).trace());
    movie.showFrame();
    movie.frameLabel("loop");
    movie.doAction(w::Actions().push({"loop"}).call());
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"in sub", "in frame 3", "in frame 3", "after"}));
    EXPECT_EQ(player->CurrentFrame(), 0u);
}

// A timer asked without a delay is not made: setInterval gives undefined and nothing
// fires; a null delay is a delay of 0.
TEST(PlayerScripts, TimerWithoutDelayIsNotMade) {
    auto ask = [](const w::PushValue& delay) {
        w::Actions tick = w::Actions().push({"tick"}).trace();
        return w::Actions()
            .push({delay})
            .defineFunction("", {}, tick)
            .push({2, "setInterval"})
            .callFunction()
            .push({1, "_global"})
            .getVariable()
            .push({"String"})
            .callMethod()
            .trace();
    };
    for (bool with_delay : {false, true}) {
        w::Movie movie({.version = 8});
        movie.doAction(with_delay ? ask(w::Null{}) : ask(w::Undefined{}));
        movie.showFrame();
        movie.doAction(w::Actions().stop());
        movie.showFrame();
        std::vector<std::string> lines = TracesOf(movie, 3);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], with_delay ? "1" : "undefined");
        EXPECT_EQ(lines.size() > 1, with_delay);
    }
}
