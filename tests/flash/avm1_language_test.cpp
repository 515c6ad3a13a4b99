// The ActionScript interpreter on written movies: conversions, functions,
// exceptions, objects, built-ins, runaway scripts and clip handlers.
#include "flash/avm1/avm1.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;

namespace {

struct MovieRun {
    std::vector<std::string> traces;
    std::vector<std::string> log;
};

MovieRun RunMovie(w::Movie& movie, int frames) {
    auto player = Load(movie);
    MovieRun run;
    player->SetLogSink([&](std::string_view line) { run.log.emplace_back(line); });
    run.traces = PlayFrames(*player, frames);
    return run;
}

std::vector<std::string> RunScript(uint8_t version, const w::Actions& script) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return RunMovie(movie, 1).traces;
}

}  // namespace

// Values traced as the reference player writes them, by version.
TEST(Avm1Language, Conversions) {
    struct Case {
        uint8_t version;
        w::Actions script;
        std::string expected;
    };
    std::vector<Case> cases = {
        {8, w::Actions().push({0.1, 0.2}).add2().trace(), "0.3"},
        {8, w::Actions().push({1e21}).trace(), "1e+21"},
        {8, w::Actions().push({1.0, 3.0}).divide().trace(), "0.333333333333333"},
        {8, w::Actions().push({-0.5}).toInteger().trace(), "0"},
        {8, w::Actions().push({3000000000.0}).toInteger().trace(), "-1294967296"},
        {8, w::Actions().push({"a", w::Undefined{}}).add2().trace(), "aundefined"},
        {6, w::Actions().push({"a", w::Undefined{}}).add2().trace(), "a"},
        {6, w::Actions().push({"010", 1}).add2().trace(), "0101"},
        {6, w::Actions().push({"010"}).toNumber().trace(), "8"},
        {6, w::Actions().push({"0x1F"}).toNumber().trace(), "31"},
        {5, w::Actions().push({"0x1F"}).toNumber().trace(), "NaN"},
        {6, w::Actions().push({w::Undefined{}}).toNumber().trace(), "0"},
        {7, w::Actions().push({w::Undefined{}}).toNumber().trace(), "NaN"},
        {6, w::Actions().push({"abc"}).not_().trace(), "true"},
        {7, w::Actions().push({"abc"}).not_().trace(), "false"},
        {4, w::Actions().push({1, 2}).less().trace(), "1"},
        {4, w::Actions().push({1, 2}).less().typeOf().trace(), "boolean"},
        {4, w::Actions().push({0}).not_().typeOf().trace(), "boolean"},
        {4, w::Actions().push({true}).trace(), "1"},
        {4, w::Actions().push({"100ABC"}).toNumber().trace(), "100"},
        {5, w::Actions().push({"100ABC"}).toNumber().trace(), "NaN"},
        {4, w::Actions().push({"0x10"}).toNumber().trace(), "0"},
        {4, w::Actions().push({"abc"}).not_().trace(), "1"},
        {4, w::Actions().push({-123}).not_().trace(), "0"},
        {5, w::Actions().push({true}).trace(), "true"},
        {4, w::Actions().push({1, 0}).divide().trace(), "#ERROR#"},
        {7, w::Actions().push({-1, 0}).bitURShift().trace(), "4294967295"},
        {8, w::Actions().push({-1, 0}).bitURShift().trace(), "-1"},
        {8, w::Actions().push({-3, 1}).bitURShift().trace(), "2147483646"},
        {9, w::Actions().push({-1, 0}).bitURShift().trace(), "4294967295"},
        {5, w::Actions().push({w::Undefined{}}).enumerate().trace(), "undefined"},
        {8, w::Actions().push({"B", "a"}).less2().trace(), "true"},
        {8, w::Actions().push({"1", 1}).strictEquals().trace(), "false"},
        {8, w::Actions().push({"1", 1}).equals2().trace(), "true"},
        {8, w::Actions().push({w::Null{}, w::Undefined{}}).equals2().trace(), "true"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(RunScript(c.version, c.script), std::vector<std::string>{c.expected})
            << "version " << int(c.version) << ", expected " << c.expected;
    }
}

// Closures keep their scope; DefineFunction2 puts parameters and `this` in
// registers; arguments counts what was passed.
TEST(Avm1Language, Functions) {
    w::Actions script;
    // function make(n) { return function () { return n * 2; }; }
    script.defineFunction("make", {"n"},
                          w::Actions()
                              .defineFunction("", {}, w::Actions().push({"n"}).getVariable().push({2}).multiply().return_())
                              .return_());
    script.push({21, 1, "make"}).callFunction().push({"f"}).stackSwap().setVariable();
    script.push({0, "f"}).callFunction().trace();
    // function sum(a@r2, b@r3) { return a + b + arguments.length; }
    script.defineFunction2("sum", 4, 0x0001, {{2, "a"}, {3, "b"}},
                           w::Actions()
                               .push({w::Register{2}, w::Register{3}})
                               .add2()
                               .push({"arguments"})
                               .getVariable()
                               .push({"length"})
                               .getMember()
                               .add2()
                               .return_());
    script.push({30, 10, 2, "sum"}).callFunction().trace();
    EXPECT_EQ(RunScript(7, script), (std::vector<std::string>{"42", "42"}));
}

// DefineFunction2's preloads: suppressing `this` or `super` wins though their
// register stays taken, `arguments` is preloaded either way, and a timeline
// without a parent takes no register for it.
TEST(Avm1Language, DefineFunction2Preloads) {
    auto traced = [](uint16_t flags, int registers) {
        w::Actions body;
        for (int r = 1; r <= registers; ++r) body.push({w::Register{uint8_t(r)}}).trace();
        return w::Actions().defineFunction2("f", 4, flags, {}, body).push({"b", "a", 2, "f"}).callFunction().pop();
    };
    struct Case {
        const char* what;
        uint16_t flags;
        int registers;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"preload and suppress", 0x3F, 3, {"undefined", "a,b", "undefined"}},
        {"parent of the main timeline, then _global", 0x1AA, 2, {"[type Object]", "undefined"}},
        {"root and _global", 0x140, 2, {"_level0", "[type Object]"}},
    };
    for (const Case& c : cases) EXPECT_EQ(RunScript(8, traced(c.flags, c.registers)), c.expected) << c.what;
}

// How a function is called: call and apply without an object run it on
// _global, apply takes any object with a length for its arguments, a path names
// the object that becomes `this`, and a version 4 movie's functions run as version 5.
TEST(Avm1Language, FunctionCalls) {
    // function who() { trace(this === _global); trace(arguments.length); trace(arguments); }
    w::Actions who = w::Actions().defineFunction(
        "who", {},
        w::Actions().push({"this"}).getVariable().push({"_global"}).getVariable().strictEquals().trace()
            .push({"arguments"}).getVariable().push({"length"}).getMember().trace()
            .push({"arguments"}).getVariable().trace());
    w::Actions call_undefined = who;
    call_undefined.push({w::Undefined{}, 1, "who"}).getVariable().push({"call"}).callMethod().pop();
    w::Actions apply_like = who;
    // who.apply(null, {length: 2, 0: "x", 1: "y"})
    apply_like.push({"length", 2, "0", "x", "1", "y", 3}).initObject().push({w::Null{}, 2, "who"}).getVariable()
        .push({"apply"}).callMethod().pop();
    // o = {name: "o", p: {name: "p", m: function () { trace(this.name); }}}; "o.p.m"(); "o.m"()
    w::Actions name_of_this = w::Actions().push({"this"}).getVariable().push({"name"}).getMember().trace();
    w::Actions paths;
    paths.push({"o", "name", "o", "m"}).defineFunction("", {}, name_of_this)
        .push({"p", "name", "p", "m"}).defineFunction("", {}, name_of_this).push({2}).initObject().push({3})
        .initObject().setVariable();
    paths.push({0, "o.p.m"}).callFunction().pop().push({0, "o.m"}).callFunction().pop();
    w::Actions version4 = w::Actions().defineFunction("f", {}, w::Actions().push({4, 0}).divide().trace());
    version4.push({4, 0}).divide().trace().push({0, "f"}).callFunction().pop();
    EXPECT_EQ(RunScript(8, call_undefined), (std::vector<std::string>{"true", "0", ""}));
    EXPECT_EQ(RunScript(8, apply_like), (std::vector<std::string>{"true", "2", "x,y"}));
    EXPECT_EQ(RunScript(8, paths), (std::vector<std::string>{"p", "o"}));
    EXPECT_EQ(RunScript(4, version4), (std::vector<std::string>{"#ERROR#", "Infinity"}));
}

// _root, _parent and _global set as variables hide the built-in ones; the main
// timeline has no parent, whatever MovieClip.prototype says.
TEST(Avm1Language, BuiltInNamesAsVariables) {
    w::Actions script;
    script.push({"MovieClip"}).getVariable().push({"prototype"}).getMember().push({"_parent", "inherited"}).setMember();
    script.push({"_parent"}).getVariable().trace();
    for (const char* name : {"_root", "_parent", "_global"}) script.push({name, "fake"}).setVariable();
    for (const char* name : {"_root", "_parent", "_global"}) script.push({name}).getVariable().trace();
    EXPECT_EQ(RunScript(8, script), (std::vector<std::string>{"undefined", "fake", "fake", "fake"}));
}

// An assignment of a new name inside with() lands on the timeline, not on the with() object.
TEST(Avm1Language, NewVariableInsideWith) {
    w::Actions script;
    script.push({"o", 0}).initObject().setVariable();
    script.push({"o"}).getVariable().with(w::Actions().push({"z", "set"}).setVariable());
    script.push({"z"}).getVariable().trace().push({"o"}).getVariable().push({"z"}).getMember().trace();
    EXPECT_EQ(RunScript(8, script), (std::vector<std::string>{"set", "undefined"}));
}

// A throw unwinds to the nearest catch; finally runs on every way out.
TEST(Avm1Language, TryCatchFinally) {
    w::Actions thrower;
    thrower.defineFunction("boom", {}, w::Actions().push({"thrown"}).throw_());
    w::Actions script = thrower;
    script.try_(w::Actions().push({0, "boom"}).callFunction().push({"not reached"}).trace(),
                w::Actions().push({"e"}).getVariable().trace(), w::Actions().push({"finally"}).trace(), "e");
    script.try_(w::Actions().push({"plain"}).trace(), std::nullopt, w::Actions().push({"finally 2"}).trace());
    script.push({"after"}).trace();
    EXPECT_EQ(RunScript(7, script), (std::vector<std::string>{"thrown", "finally", "plain", "finally 2", "after"}));
    // Uncaught: the list stops with the debugging player's line, the next frame's scripts still run.
    w::Movie movie({.version = 7});
    movie.doAction(w::Actions().push({"x"}).throw_().push({"not reached"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
    movie.showFrame();
    EXPECT_EQ(RunMovie(movie, 2).traces, (std::vector<std::string>{"Warning: Uncaught exception, x", "frame 2"}));
}

// "a.b.c" is tried in every scope, innermost first: a scope whose `a.b` is no
// object leaves the path to the next one.
TEST(Avm1Language, DottedPathsSearchEveryScope) {
    w::Actions script;
    // _global.a = {b: {c: "from global"}}; a = {b: "from this"};
    script.push({"_global"}).getVariable().push({"a", "b", "c", "from global", 1}).initObject().push({1})
        .initObject().setMember();
    script.push({"a", "b", "from this", 1}).initObject().setVariable();
    script.push({"a.b.c"}).getVariable().trace();
    script.push({"a.b"}).getVariable().trace();
    script.push({"a.b.c", "changed"}).setVariable();
    script.push({"_global"}).getVariable().push({"a"}).getMember().push({"b"}).getMember().push({"c"}).getMember()
        .trace();
    script.push({"a.nothing.c"}).getVariable().trace();
    // A string's length through a path still reads.
    script.push({"s", "abc"}).setVariable().push({"s.length"}).getVariable().trace();
    EXPECT_EQ(RunScript(7, script),
              (std::vector<std::string>{"from global", "from this", "changed", "undefined", "3"}));
}

// Prototype chains, constructors, getters, enumeration and DontEnum flags.
TEST(Avm1Language, Objects) {
    w::Actions script;
    // function P() { this.a = 1; }  P.prototype.b = 2;
    script.defineFunction("P", {}, w::Actions().push({"this"}).getVariable().push({"a", 1}).setMember());
    script.push({"P"}).getVariable().push({"prototype"}).getMember().push({"b", 2}).setMember();
    script.push({"o", 0, "P"}).newObject().setVariable();
    script.push({"o"}).getVariable().push({"a"}).getMember().push({"o"}).getVariable().push({"b"}).getMember()
        .add2().trace();  // 3
    script.push({"o"}).getVariable().push({"P"}).getVariable().instanceOf().trace();  // true
    // o.addProperty("c", function () { return "got"; }, null); o.c
    script.push({w::Null{}});
    script.defineFunction("", {}, w::Actions().push({"got"}).return_());
    script.push({"c", 3, "o"}).getVariable().push({"addProperty"}).callMethod().pop();
    script.push({"o"}).getVariable().push({"c"}).getMember().trace();
    // for (k in {x:1, y:2}) trace(k): newest first, and the object is built from its last pair
    script.push({"x", 1, "y", 2, 2}).initObject().push({"q"}).stackSwap().setVariable();
    script.push({"q"}).enumerate().label("loop").storeRegister(0).push({w::Null{}}).equals2().if_("done");
    script.push({w::Register{0}}).trace().jump("loop").label("done");
    // ASSetPropFlags(q, "y", 1): y no longer enumerated
    script.push({1, "y", "q"}).getVariable().push({3, "ASSetPropFlags"}).callFunction().pop();
    script.push({"q"}).enumerate().label("loop2").storeRegister(0).push({w::Null{}}).equals2().if_("done2");
    script.push({w::Register{0}}).trace().jump("loop2").label("done2");
    EXPECT_EQ(RunScript(7, script), (std::vector<std::string>{"3", "true", "got", "x", "y", "x"}));
}

// ASSetPropFlags' version bits hide a property from movies of other versions;
// an assignment makes it a plain, visible property again.
TEST(Avm1Language, VersionHiddenProperties) {
    struct Case {
        uint8_t version;
        int flag;
        std::string seen;
    };
    std::vector<Case> cases = {
        {5, 128, "undefined"}, {6, 128, "v"},        {5, 256, "v"},         {6, 256, "undefined"},
        {7, 256, "v"},         {6, 1024, "undefined"}, {7, 1024, "v"},       {7, 4096, "undefined"},
        {8, 4096, "v"},        {8, 8192, "undefined"}, {9, 8192, "v"},       {9, 16384, "undefined"},
        {10, 16384, "v"},      {9, 1, "v"},
    };
    for (const auto& c : cases) {
        w::Actions script;
        script.push({"p", "v", 1}).initObject().push({"o"}).stackSwap().setVariable();
        script.push({c.flag, "p", "o"}).getVariable().push({3, "ASSetPropFlags"}).callFunction().pop();
        script.push({"o"}).getVariable().push({"p"}).getMember().trace();
        script.push({"o"}).getVariable().push({"p", "w"}).setMember();
        script.push({"o"}).getVariable().push({"p"}).getMember().trace();
        EXPECT_EQ(RunScript(c.version, script), (std::vector<std::string>{c.seen, "w"}))
            << "version " << int(c.version) << " flag " << c.flag;
    }
}

// parseInt's prefixes and radix as the reference player reads them.
// A property index outside the table (NaN, negative, past the end, beyond any
// int) reads undefined and sets nothing; the clip keeps its _x.
TEST(Avm1Language, PropertyIndexOutsideTheTable) {
    for (const w::PushValue& index : std::vector<w::PushValue>{"abc", -1, 22, 1e10, -1e10}) {
        const auto traces = RunScript(8, w::Actions()
                                             .push({"_root", 0, 25}).setProperty()
                                             .push({"_root", index, 99}).setProperty()
                                             .push({"_root", index}).getProperty().trace()
                                             .push({"_root", 0}).getProperty().trace());
        EXPECT_EQ(traces, (std::vector<std::string>{"undefined", "25"}));
    }
}

// Actions whose payload is shorter than their fixed fields read nothing past it
// (found by fuzz_avm1: a Try of three bytes read its catch name beyond the payload).
// Clip actions are kept in buffers of their own, where the sanitizer sees such a read.
TEST(Avm1Language, ShortPayloadsReadNothingBeyondThem) {
    for (const w::Bytes& action : std::vector<w::Bytes>{{0x8F, 0x03, 0x00, 0x00, 0x00, 0x00},
                                                        {0x8F, 0x01, 0x00, 0x00},
                                                        {0x9B, 0x01, 0x00, 0x00},
                                                        {0x88, 0x01, 0x00, 0x05}}) {
        w::Movie movie({.version = 8});
        w::Sprite clip = movie.sprite();
        clip.showFrame();
        const uint16_t clipId = movie.defineSprite(clip);
        w::Place place{.depth = 1, .character = clipId, .name = "clip"};
        place.clipActions.push_back({.events = w::kClipLoad, .actions = w::Actions().raw(action)});
        movie.place(place);
        movie.doAction(w::Actions().push({"after"}).trace());
        movie.showFrame();
        EXPECT_EQ(RunMovie(movie, 2).traces, std::vector<std::string>{"after"});
    }
}

// Counts of arguments and elements taken from the stack may be any number: a
// huge one counts at most what the stack holds (found by fuzz_avm1 as an
// undefined conversion of 5e54 to an integer).
TEST(Avm1Language, HugeCountsTakeWhatTheStackHolds) {
    for (const w::PushValue& count : std::vector<w::PushValue>{5e54, 1e300, -1e300}) {
        const auto traces = RunScript(8, w::Actions().push({"a", "b", count}).initArray().push({"after"}).trace());
        EXPECT_EQ(traces, std::vector<std::string>{"after"});
    }
}

// With valueOf and toString on both operands, the order of their calls is seen:
// the reference player converts the top operand first for some actions only.
TEST(Avm1Language, OperandConversionOrder) {
    auto operand = [](const std::string& name, double number) {
        w::Actions valueOf, toString;
        valueOf.push({name}).trace().push({number}).return_();
        toString.push({name}).trace().push({name}).return_();
        return w::Actions()
            .push({name, "valueOf"}).defineFunction("", {}, valueOf)
            .push({"toString"}).defineFunction("", {}, toString)
            .push({2}).initObject().setVariable();
    };
    struct Case {
        const char* op;
        w::Actions action;
        std::vector<std::string> order;
    };
    std::vector<Case> cases = {
        {"add", w::Actions().add(), {"a", "b"}},
        {"subtract", w::Actions().subtract(), {"b", "a"}},
        {"multiply", w::Actions().multiply(), {"a", "b"}},
        {"divide", w::Actions().divide(), {"b", "a"}},
        {"equals", w::Actions().equals(), {"b", "a"}},
        {"less", w::Actions().less(), {"a", "b"}},
        {"string equals", w::Actions().stringEquals(), {"b", "a"}},
        {"string less", w::Actions().stringLess(), {"b", "a"}},
        {"add2", w::Actions().add2(), {"b", "a"}},
    };
    for (auto& c : cases) {
        w::Actions script = operand("a", 1);
        script.raw(operand("b", 2).bytes());
        script.push({"a"}).getVariable().push({"b"}).getVariable().raw(c.action.bytes()).pop();
        EXPECT_EQ(RunScript(5, script), c.order) << c.op;
    }
}

// valueOf giving an object leaves an object: a number of NaN, its text beside a text,
// neither less nor greater than anything.
TEST(Avm1Language, ObjectsInArithmetic) {
    struct Case {
        w::Actions script;
        std::string expected;
    };
    std::vector<Case> cases = {
        {w::Actions().push({0}).initObject().push({1}).add2().trace(), "NaN"},
        {w::Actions().push({0}).initObject().push({"x"}).add2().trace(), "[object Object]x"},
        {w::Actions().push({"x", 0}).initObject().add2().trace(), "x[object Object]"},
        {w::Actions().push({"_root"}).getVariable().push({1}).add2().trace(), "NaN"},
        {w::Actions().push({"_root"}).getVariable().push({"x"}).add2().trace(), "_level0x"},
        {w::Actions().push({0}).initObject().push({1}).less2().trace(), "false"},
    };
    for (auto& c : cases) EXPECT_EQ(RunScript(8, c.script), std::vector<std::string>{c.expected}) << c.expected;
}

// GetProperty and SetProperty truncate the index toward zero.
TEST(Avm1Language, PropertyIndexTruncated) {
    const auto traces = RunScript(8, w::Actions()
                                         .push({"_root", -0.8, 25}).setProperty()
                                         .push({"_root", 0.9}).getProperty().trace()
                                         .push({"_root", -0.8}).getProperty().typeOf().trace());
    EXPECT_EQ(traces, (std::vector<std::string>{"25", "number"}));
}

TEST(Avm1Language, ParseInt) {
    struct Case {
        std::vector<w::PushValue> args;
        std::string expected;
    };
    std::vector<Case> cases = {
        {{}, "undefined"},
        {{"100", 0}, "NaN"},
        {{"100", 37}, "NaN"},
        {{"100", w::Undefined{}}, "NaN"},
        {{"11", 3.8}, "4"},
        {{"100", 36}, "1296"},
        {{"0x123"}, "291"},
        {{"0x100", 36}, "1296"},
        {{" 0x100", 36}, "1540944"},
        {{"-0x100", 36}, "1540944"},
        {{"-0x100"}, "NaN"},
        {{"0x -100"}, "-256"},
        {{"0x+0X100"}, "0"},
        {{"077"}, "63"},
        {{"-0100"}, "-64"},
        {{"077 "}, "77"},
        {{"  077"}, "77"},
        {{"-0100z"}, "-100"},
        {{"++1"}, "NaN"},
        {{"0x"}, "NaN"},
        {{"12aaa"}, "12"},
    };
    for (const auto& c : cases) {
        std::vector<w::PushValue> pushed(c.args.rbegin(), c.args.rend());
        pushed.push_back(int(c.args.size()));
        pushed.push_back("parseInt");
        w::Actions script;
        script.push(pushed).callFunction().trace();
        EXPECT_EQ(RunScript(8, script), (std::vector<std::string>{c.expected})) << "case " << (&c - cases.data());
    }
}

TEST(Avm1Language, BuiltIns) {
    struct Case {
        w::Actions script;
        std::string expected;
    };
    auto method = [](w::Actions target, const std::string& name, std::vector<w::PushValue> args) {
        w::Actions a;
        std::vector<w::PushValue> reversed(args.rbegin(), args.rend());
        reversed.push_back(int(args.size()));
        a.push(reversed);
        a.raw(target.bytes());
        a.push({name}).callMethod();
        return a;
    };
    auto array = [](std::vector<w::PushValue> items) {
        w::Actions a;
        std::vector<w::PushValue> reversed(items.rbegin(), items.rend());
        reversed.push_back(int(items.size()));
        a.push(reversed).initArray();
        return a;
    };
    std::vector<Case> cases = {
        {method(method(array({10, 9, 100}), "sort", {16}), "join", {"-"}), "9-10-100"},
        {method(array({10, 9, 100}), "sort", {}), "10,100,9"},
        {method(method(array({"b", "a", "c"}), "sort", {2}), "join", {}), "c,b,a"},
        {method(array({1, 2, 3, 4}), "splice", {1, 2}), "2,3"},
        {method(w::Actions().push({"hello world"}), "split", {" "}), "hello,world"},
        {method(w::Actions().push({"hello"}), "substr", {-3, 2}), "ll"},
        {method(w::Actions().push({"Hello"}), "toUpperCase", {}), "HELLO"},
        {method(w::Actions().push({"Math"}).getVariable(), "max", {3, 7, 5}), "7"},
        {method(w::Actions().push({255}), "toString", {16}), "ff"},
        {w::Actions().push({"abc"}).push({"length"}).getMember(), "3"},
        {w::Actions().push({"12px", 1, "parseInt"}).callFunction(), "12"},
        {w::Actions().push({0, "parseFloat"}).callFunction(), "undefined"},
        {w::Actions().push({" -12.5e1x", 1, "parseFloat"}).callFunction(), "-125"},
        {w::Actions().push({"1.2345.678", 1, "parseFloat"}).callFunction(), "1.2345678"},
        {w::Actions().push({"1.2345.6e50", 1, "parseFloat"}).callFunction(), "1.23456"},
        {w::Actions().push({"1e4294967297", 1, "parseFloat"}).callFunction(), "10"},
        {w::Actions().push({"10e-", 1, "parseFloat"}).callFunction(), "10"},
        {w::Actions().push({"e10", 1, "parseFloat"}).callFunction(), "NaN"},
        {w::Actions().push({"Infinity", 1, "parseFloat"}).callFunction(), "NaN"},
        {w::Actions().push({".1499999", 1, "parseFloat"}).callFunction().push({0.14999990000000005}).strictEquals(),
         "true"},
    };
    for (auto& c : cases) {
        w::Actions script = c.script;
        script.trace();
        EXPECT_EQ(RunScript(8, script), std::vector<std::string>{c.expected}) << c.expected;
    }
}

// An endless loop is stopped with a log line; the movie goes on.
TEST(Avm1Language, RunawayLoopStops) {
    w::Movie movie({.version = 8});
    movie.doAction(w::Actions().label("top").jump("top"));
    movie.showFrame();
    movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
    movie.showFrame();
    MovieRun run = RunMovie(movie, 2);
    EXPECT_EQ(run.traces, std::vector<std::string>{"frame 2"});
    bool logged = false;
    for (auto& line : run.log) logged |= line.find("too long") != std::string::npos;
    EXPECT_TRUE(logged);
    // Endless recursion stops at the depth limit instead of exhausting the stack.
    w::Movie deep({.version = 8});
    deep.doAction(w::Actions().defineFunction("f", {}, w::Actions().push({0, "f"}).callFunction()).push({0, "f"})
                      .callFunction().pop().push({"after"}).trace());
    deep.showFrame();
    EXPECT_TRUE(RunMovie(deep, 1).traces.empty());
}

// onEnterFrame set on _root runs once a frame, after the frame's scripts;
// getTimer follows the movie's clock.
TEST(Avm1Language, EnterFrameHandlerAndTimer) {
    w::Movie movie({.version = 8, .frameRate = 10 << 8});
    w::Actions script;
    script.push({"_root"}).getVariable().push({"onEnterFrame"});
    script.defineFunction("", {}, w::Actions().push({"tick "}).push({0, "getTimer"}).callFunction().add2().trace());
    script.setMember().push({"frame"}).trace().stop();
    movie.doAction(script);
    movie.showFrame();
    EXPECT_EQ(RunMovie(movie, 3).traces, (std::vector<std::string>{"frame", "tick 100", "tick 200"}));
}
