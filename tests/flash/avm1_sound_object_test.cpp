// The Sound object as the original player has it: its owner found by path
// at each call, volume and pan converted as that player's processor does,
// transforms taken from the object's own terms, and what version 5 lacks.
#include <vector>

#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

E New(const std::string& cls, const std::vector<E>& args = {}) { return Args(args).push({cls}).newObject(); }

std::vector<std::string> RunScript(const E& script, uint8_t version = 8) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

E Settings(const E& s) {
    E t = Call(s, "getTransform");
    return Seq({Trace(Call(s, "getVolume")), Trace(Call(s, "getPan")), Trace(Member(t, "ll")), Trace(Member(t, "rr"))});
}

}  // namespace

// Volume and pan drop their fraction; NaN and values beyond 32 bits become
// the lowest integer, nothing given is 0. A pan beyond 100 turns the far
// side negative, and getPan reads the turned-down side by its magnitude.
TEST(Avm1SoundObject, VolumeAndPanConversions) {
    struct Case {
        const char* method;
        std::vector<E> args;
        std::vector<std::string> expected;  // volume, pan, ll, rr
    };
    const std::vector<Case> cases = {
        {"setVolume", {}, {"0", "0", "100", "100"}},
        {"setVolume", {Lit(50.5)}, {"50", "0", "100", "100"}},
        {"setVolume", {Var("NaN")}, {"-2147483648", "0", "100", "100"}},
        {"setVolume", {Lit(2147483647)}, {"2147483647", "0", "100", "100"}},
        {"setVolume", {Lit(2147483648.0)}, {"-2147483648", "0", "100", "100"}},
        {"setPan", {Lit(50)}, {"100", "50", "50", "100"}},
        {"setPan", {Lit(-50)}, {"100", "-50", "100", "50"}},
        {"setPan", {Lit(200.2)}, {"100", "0", "-100", "100"}},
        {"setPan", {Lit(-3000000000.0)}, {"100", "2147483448", "100", "-2147483548"}},
    };
    for (const Case& c : cases) {
        E s = Var("s");
        auto lines = RunScript(Seq({SetVar("s", New("Sound")), Do(Call(s, c.method, c.args)), Settings(s)}));
        EXPECT_EQ(lines, c.expected) << c.method;
    }
}

// setTransform takes only the terms the object itself holds, as 32-bit
// integers (wrapped, NaN 0); getPan follows ll unless it is 100, then rr.
TEST(Avm1SoundObject, TransformTermsAreOwnAndWrapped) {
    E s = Var("s");
    E with_proto = E().push({"o"}).push({0}).initObject().defineLocal();
    auto lines = RunScript(Seq({
        SetVar("s", New("Sound")),
        Do(Call(s, "setTransform", {E().push({"ll", 3000000000.0, "rr", -150, 2}).initObject()})),
        Settings(s),
        Do(Call(s, "setTransform", {E().push({"ll", 100, "rr"}).raw(Var("NaN").bytes()).push({2}).initObject()})),
        Settings(s),
        with_proto,
        SetMember(Var("o"), "__proto__", E().push({"ll", 22, "rr", 22, 2}).initObject()),
        Do(Call(s, "setTransform", {Var("o")})),
        Settings(s),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"100", "-1294967196", "-1294967296", "-150",  //
                                               "100", "-100", "100", "0",                   //
                                               "100", "-100", "100", "0"}));
}

// The owner is its path, looked up at each call: a renamed owner is lost
// (and its settings untouched) until it has its name back, unless a
// variable by that name holds it; a text path is read from the target of
// the script that calls.
TEST(Avm1SoundObject, OwnerFoundByPathAtEachCall) {
    E root = Var("_root");
    E a = Var("a");
    auto lines = RunScript(Seq({
        SetVar("a", Call(root, "createEmptyMovieClip", {Lit("a"), Lit(1)})),
        SetVar("vb", Call(root, "createEmptyMovieClip", {Lit("b"), Lit(2)})),
        Do(Call(Var("vb"), "createEmptyMovieClip", {Lit("n"), Lit(1)})),
        SetVar("sa", New("Sound", {a})),
        SetVar("sb", New("Sound", {Var("vb")})),
        Do(Call(Var("sa"), "setVolume", {Lit(50)})),
        Do(Call(Var("sb"), "setVolume", {Lit(60)})),
        // a is still reached through the variable "a"; b is lost.
        SetMember(a, "_name", Lit("x")),
        SetMember(Var("vb"), "_name", Lit("y")),
        Do(Call(Var("sa"), "setVolume", {Lit(10)})),
        Do(Call(Var("sb"), "setVolume", {Lit(20)})),
        Trace(Call(Var("sa"), "getVolume")),
        Trace(Call(Var("sb"), "getVolume")),
        SetMember(Var("vb"), "_name", Lit("b")),
        Trace(Call(Var("sb"), "getVolume")),
        // "n" from b's timeline, then from the main movie's.
        E().setTarget("b"),
        SetVar("/:sn", New("Sound", {Lit("n")})),
        Do(Call(Var("/:sn"), "setVolume", {Lit(30)})),
        Trace(Call(Var("/:sn"), "getVolume")),
        E().setTarget(""),
        Trace(Call(Var("sn"), "getVolume")),
        Trace(Call(New("Sound", {Member(Var("vb"), "n")}), "getVolume")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"10", "undefined", "60", "30", "undefined", "30"}));
}

// Version 5 movies see only the first methods; from version 6 the rest, and
// a script may write over duration and position.
TEST(Avm1SoundObject, MethodsByVersionAndWritableProperties) {
    E s = Var("s");
    auto script = Seq({
        SetVar("s", New("Sound")),
        Trace(E().raw(Member(s, "setVolume").bytes()).typeOf()),
        Trace(E().raw(Member(s, "getDuration").bytes()).typeOf()),
        Trace(E().raw(Member(s, "loadSound").bytes()).typeOf()),
        Trace(Member(s, "duration")),
        SetMember(s, "duration", Lit("set")),
        SetMember(s, "position", Lit(4)),
        Trace(Member(s, "duration")),
        Trace(Member(s, "position")),
    });
    EXPECT_EQ(RunScript(script, 5),
              (std::vector<std::string>{"function", "undefined", "undefined", "undefined", "set", "4"}));
    EXPECT_EQ(RunScript(script, 6),
              (std::vector<std::string>{"function", "function", "function", "undefined", "set", "4"}));
}

// A script's largest volume and transform play at full scale, clipped, not
// as the garbage of an overflowing sum.
TEST(Avm1SoundObject, HugeTransformIsClippedNotWrapped) {
    w::Movie m({.version = 8});
    w::Bytes pcm;
    for (int i = 0; i < 4410; ++i) pcm.insert(pcm.end(), {0xE0, 0x2E});  // 12000
    const uint16_t tone = m.defineSound({3, 3, true, false}, 4410, pcm);
    m.exportAssets({{tone, "tone"}});
    E s = Var("s");
    m.doAction(Seq({
        SetVar("s", New("Sound")),
        Do(Call(s, "attachSound", {Lit("tone")})),
        Do(Call(s, "setVolume", {Lit(2147483647)})),
        Do(Call(s, "setTransform",
                {E().push({"ll", 2147483647, "lr", 2147483647, "rl", 2147483647, "rr", 2147483647, 4}).initObject()})),
        Do(Call(s, "start")),
    }));
    m.showFrame();
    m.showFrame();
    auto player = Load(m);
    ASSERT_TRUE(player);
    std::vector<int16_t> out;
    for (int k = 1; k <= 2; ++k) {
        player->Advance();
        const size_t n = size_t(player->SoundSamplesBefore(k) - player->SoundSamplesBefore(k - 1));
        const size_t at = out.size();
        out.resize(at + n * 2);
        player->Mix(out.data() + at, n);
    }
    size_t loud = 0;
    for (int16_t v : out) loud += v == 32767;
    EXPECT_GT(loud, out.size() / 4);
    for (int16_t v : out) ASSERT_TRUE(v == 0 || v == 32767) << v;
}
