// The interpreter's core as the reference player behaves: uncaught exceptions,
// Object() wrapping, numbers read from text, the global functions and Math with
// their operands, comparisons of objects, the Stage's settings and empty boxes.
#include "tests/flash/avm1_script_builder.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

std::vector<std::string> RunScript(uint8_t version, const w::Actions& script) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

// `name` = an object whose valueOf traces `name` and gives `number`.
E Operand(const std::string& name, double number) {
    w::Actions valueOf;
    valueOf.push({name}).trace().push({number}).return_();
    return E().push({name, "valueOf"}).defineFunction("", {}, valueOf).push({1}).initObject().setVariable();
}

struct Case {
    const char* what;
    uint8_t version;
    E script;
    std::vector<std::string> expected;
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(RunScript(c.version, c.script), c.expected) << c.what;
}

}  // namespace

// An exception no script catches ends its list with the debugging player's line;
// the frame's later lists still run.
TEST(Avm1Core, UncaughtExceptionIsReported) {
    w::Actions thrower;
    thrower.push({"Oh no!"}).op(0x2A);
    RunCases({
        {"thrown by the list", 8, E().push({"Oh no!"}).op(0x2A).push({"not reached"}).trace(),
         {"Warning: Uncaught exception, Oh no!"}},
        {"thrown by a function it calls", 8,
         E().push({"f"}).defineFunction("", {}, thrower).setVariable()
             .raw(Do(Call(E().push({"_root"}).getVariable(), "f")).bytes()).push({"not reached"}).trace(),
         {"Warning: Uncaught exception, Oh no!"}},
        {"a thrower defined, not called", 8,
         E().push({"f"}).defineFunction("", {}, thrower).setVariable().push({"ok"}).trace(), {"ok"}},
    });
}

// Object(v) gives v's wrapper object; called as a function with nothing to wrap it
// makes an object that inherits nothing, so it has no toString.
TEST(Avm1Core, ObjectWrapsPrimitives) {
    auto object_of = [](std::vector<E> args) { return Call(E().push({"_global"}).getVariable(), "Object", args); };
    auto new_object = [](std::vector<E> args) {
        E a = Args(args);
        return a.push({"Object"}).newObject();
    };
    RunCases({
        {"Object(5)", 8, Seq({Trace(object_of({Lit(5)})), Trace(object_of({Lit(5)}).typeOf())}), {"5", "object"}},
        {"new Object('hello')", 8, Trace(new_object({Lit("hello")})), {"hello"}},
        {"new Object(true) is a Boolean", 8,
         Trace(E(new_object({Lit(true)})).push({"Boolean"}).getVariable().instanceOf()), {"true"}},
        {"Object()", 8, Seq({Trace(object_of({})), Trace(Member(object_of({}), "toString"))}),
         {"[type Object]", "undefined"}},
        {"new Object()", 8, Trace(new_object({})), {"[object Object]"}},
        {"new Object(null)", 8, Trace(new_object({Lit(w::Null{})})), {"[object Object]"}},
    });
}

// From version 6 a text with nothing before "0x" or "0" is read in base 16 or 8 as
// a signed 32-bit integer; leading white space makes it decimal.
TEST(Avm1Core, NumbersReadFromText) {
    struct NumberCase {
        const char* text;
        std::string expected;
    };
    const NumberCase cases[] = {
        {"037777777777", "-1"}, {"-037777777777", "1"}, {" 010", "10"},   {" -010", "-10"},
        {"+010", "8"},          {"-010", "-8"},         {"0x10", "16"},   {"0x1999999981ffffff", "-2113929217"},
        {"0x", "NaN"},          {"09", "9"},            {"0x-10", "-16"}, {"0x10.5", "NaN"},
    };
    for (const NumberCase& c : cases)
        EXPECT_EQ(RunScript(6, E().push({c.text}).toNumber().trace()), std::vector<std::string>{c.expected}) << c.text;
}

// Global functions and Math read exactly the operands the reference player reads,
// first to last; a missing one counts as NaN.
TEST(Avm1Core, GlobalFunctionsAndMathOperands) {
    auto global = [](const std::string& fn, std::vector<E> args = {}) {
        return Call(E().push({"_global"}).getVariable(), fn, args);
    };
    auto math = [](const std::string& fn, std::vector<E> args) { return Call(Var("Math"), fn, args); };
    RunCases({
        {"isNaN()", 6, Trace(global("isNaN")), {"true"}},
        {"isFinite()", 6, Trace(global("isFinite")), {"false"}},
        {"Boolean()", 6, Trace(global("Boolean").typeOf()), {"undefined"}},
        {"Boolean(1)", 6, Trace(global("Boolean", {Lit(1)})), {"true"}},
        {"Math.abs reads two", 8,
         Seq({Operand("a", -2), Operand("b", 1), Operand("c", 0), Trace(math("abs", {Var("a"), Var("b"), Var("c")}))}),
         {"a", "b", "2"}},
        {"Math.pow reads in order", 8, Seq({Operand("a", 2), Operand("b", 3), Trace(math("pow", {Var("a"), Var("b")}))}),
         {"a", "b", "8"}},
        {"Math.atan2 reads in order", 8,
         Seq({Operand("a", 0), Operand("b", 1), Trace(math("atan2", {Var("a"), Var("b")}))}), {"a", "b", "0"}},
        {"Math.min of one", 6, Trace(math("min", {Lit(-1)})), {"NaN"}},
        {"Math.max of one", 6, Trace(math("max", {Lit(-1)})), {"NaN"}},
        {"Math.pow(true)", 6, Trace(math("pow", {Lit(true)})), {"1"}},
        {"Math.atan2(1)", 6, Trace(math("atan2", {Lit(1)})), {"NaN"}},
    });
}

// An object that stays one after valueOf is neither less nor greater than anything,
// and the operand after it is not converted; a clip reads as NaN. An object without
// valueOf equals undefined.
TEST(Avm1Core, ComparingObjects) {
    E boxed_one = E().push({1, 1, "Number"}).newObject();
    E bare = E().push({"o", 0}).initObject().setVariable().raw(SetMember(Var("o"), "__proto__", Lit(w::Undefined{})).bytes());
    RunCases({
        {"{} < 0", 8, E().push({0}).initObject().push({0}).less2().trace(), {"false"}},
        {"{} < 1", 8, E().push({0}).initObject().push({1}).less2().trace(), {"false"}},
        {"{} > -1", 8, E().push({0}).initObject().push({-1}).greater().trace(), {"false"}},
        {"{} < {valueOf}", 8,
         Seq({Operand("a", 1), E().push({0}).initObject().raw(Var("a").bytes()).less2().trace()}), {"false"}},
        {"{valueOf} < {}", 8, Seq({Operand("a", 1), E(Var("a")).push({0}).initObject().less2().trace()}),
         {"a", "false"}},
        {"true < _root", 8, E().push({true, "_root"}).getVariable().less2().trace(), {"undefined"}},
        {"bare object == undefined", 8, Seq({bare, E(Var("o")).push({w::Undefined{}}).equals2().trace()}), {"true"}},
        {"bare object == null", 8, Seq({bare, E().push({w::Null{}}).raw(Var("o").bytes()).equals2().trace()}),
         {"true"}},
        {"{} == undefined", 8, E().push({0}).initObject().push({w::Undefined{}}).equals2().trace(), {"false"}},
        // Version 5 compares two objects by their values, later versions by identity.
        {"boxed 1 == boxed 1 in version 5", 5, Seq({boxed_one, boxed_one, E().equals2().trace()}), {"true"}},
        {"boxed 1 == boxed 1 in version 6", 6, Seq({boxed_one, boxed_one, E().equals2().trace()}), {"false"}},
        {"{} == {} in version 5", 5, E().push({0}).initObject().push({0}).initObject().equals2().trace(), {"false"}},
    });
}

// The Stage keeps only settings it knows, matched without regard to case, and
// announces a new display state to its listeners.
TEST(Avm1Core, StageSettings) {
    auto set_get = [](const std::string& name, w::PushValue value) {
        return Seq({SetMember(Var("Stage"), name, Lit(value)), Trace(Member(Var("Stage"), name))});
    };
    w::Actions on_full_screen;
    on_full_screen.push({"full "}).push({"full"}).getVariable().add2().trace();
    E listener = E()
                     .push({"l", 0}).initObject().setVariable()
                     .push({"l"}).getVariable().push({"onFullScreen"})
                     .defineFunction("", {"full"}, on_full_screen).setMember()
                     .raw(Do(Call(Var("Stage"), "addListener", {Var("l")})).bytes());
    RunCases({
        {"align", 8,
         Seq({set_get("align", "TL"), set_get("align", "TllLBbbtRrrlBr"), set_get("align", "asdf"),
              set_get("align", true)}),
         {"LT", "LTRB", "", "TR"}},
        {"scaleMode", 8,
         Seq({Trace(Member(Var("Stage"), "scaleMode")), set_get("scaleMode", "EXACTFIT"), set_get("scaleMode", "bogus"),
              set_get("scaleMode", "noscale")}),
         {"showAll", "exactFit", "showAll", "noScale"}},
        {"displayState", 8,
         Seq({listener, set_get("displayState", "A"), set_get("displayState", "FULLSCREEN"),
              set_get("displayState", "fullScreen"), set_get("displayState", "Normal")}),
         {"normal", "full true", "fullScreen", "fullScreen", "full false", "normal"}},
    });
}

// An empty clip's box reports its 0x7FFFFFF twips, which version 8 players pass
// through single precision.
TEST(Avm1Core, EmptyClipBounds) {
    auto script = [] {
        return Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
                    Trace(Member(Call(Var("c"), "getBounds", {Var("_root")}), "xMin"))});
    };
    RunCases({
        {"version 7", 7, script(), {"6710886.35"}},
        {"version 8", 8, script(), {"6710886.4"}},
    });
}

// A timeline's `var` inside tellTarget lands on the target, where the target's
// variables are read.
TEST(Avm1Core, LocalInsideTellTarget) {
    E script = Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
                    E().setTarget("c").push({"n", 2}).defineLocal().push({"n"}).getVariable().trace().setTarget(""),
                    Trace(Member(Var("c"), "n")), Trace(Var("n"))});
    EXPECT_EQ(RunScript(8, script), (std::vector<std::string>{"2", "2", "undefined"}));
}

// A timeline's `var` naming a path sets the variable the path names.
TEST(Avm1Core, TimelineLocalWithPath) {
    E script = Seq({E().push({"/:abc", "ABC"}).defineLocal(), Trace(Member(Var("_root"), "abc")),
                    E().push({"/:ghi"}).defineLocal2(),
                    Trace(Call(Var("_root"), "hasOwnProperty", {Lit("ghi")}))});
    EXPECT_EQ(RunScript(6, script), (std::vector<std::string>{"ABC", "true"}));
}

// A whole movie is loaded: waits pass for every frame up to the original's limit of 16000 (from
// 0), timeline or not, and for whatever names no frame; frame numbers on the stack count from 1
// and wrap as 32-bit integers.
TEST(Avm1Core, WaitForFrames) {
    w::Actions script;
    for (uint16_t frame : {0, 5, 16000, 16001}) script.waitForFrame(frame, 2).push({std::to_string(frame)}).trace();
    const std::vector<double> numbers = {1.0, -43.0, 16001.0, 16002.0, 16002.5, 2147483648.0, 2147483649.0};
    for (double n : numbers) script.push({n}).waitForFrame2(2).push({"n"}).trace();
    for (const char* text : {"abc", "16001", "16002"}) script.push({text}).waitForFrame2(2).push({text}).trace();
    EXPECT_EQ(RunScript(7, script),
              (std::vector<std::string>{"0", "5", "16000", "n", "n", "n", "n", "n", "abc", "16001"}));
}
