// The object model on written movies: missing properties, watchers, getters and
// setters, prototypes.
#include "flash/avm1/avm1.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

E New(const std::string& cls) { return E().push({0, cls}).newObject(); }
E Obj() { return E().push({0}).initObject(); }
E Fn(const std::vector<std::string>& params, const E& body) { return E().defineFunction("", params, body); }
E Return(const E& value) {
    E a = value;
    return a.return_();
}
E Concat(const E& a, const E& b) {
    E r = a;
    r.raw(b.bytes());
    return r.add2();
}

std::vector<std::string> RunScript(const E& script, uint8_t version = 8) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie, 1);
}

}  // namespace

// A property found nowhere is asked of __resolve, the first one up the chain that
// holds an object; what it answers is the value, and a call goes to it.
TEST(Avm1ObjectModel, ResolveAnswersMissingProperties) {
    E resolver = Fn({"n"}, Return(Concat(Lit("r:"), Var("n"))));
    E proto = Seq({SetVar("P", Fn({}, E())),
                   SetMember(Member(Var("P"), "prototype"), "__resolve", resolver),
                   SetVar("o", New("P"))});
    struct Case {
        std::string name;
        E setup;
        E read;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"own", Seq({SetVar("o", Obj()), SetMember(Var("o"), "__resolve", resolver)}), Member(Var("o"), "foo"),
         "r:foo"},
        {"present property", Seq({SetVar("o", Obj()), SetMember(Var("o"), "__resolve", resolver),
                                  SetMember(Var("o"), "foo", Lit(1))}),
         Member(Var("o"), "foo"), "1"},
        {"prototype's", proto, Member(Var("o"), "bar"), "r:bar"},
        {"number passed over", Seq({proto, SetMember(Var("o"), "__resolve", Lit(42))}), Member(Var("o"), "x"),
         "r:x"},
        {"plain object answers nothing", Seq({proto, SetMember(Var("o"), "__resolve", Obj())}),
         Member(Var("o"), "x"), "undefined"},
        {"method call",
         Seq({SetVar("o", Obj()),
              SetMember(Var("o"), "__resolve", Fn({"n"}, Return(Fn({}, Return(Lit("called"))))))}),
         Call(Var("o"), "go"), "called"},
        {"none", SetVar("o", Obj()), Member(Var("o"), "foo"), "undefined"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunScript(Seq({c.setup, Trace(c.read)})), std::vector<std::string>{c.expected}) << c.name;
}

// Scope rules of with(), var and `this`, and literals whose count the stack cannot give.
TEST(Avm1ObjectModel, ScopesAndLiterals) {
    auto var = [](const std::string& name, const E& value) { return E().push({name}).raw(value.bytes()).defineLocal(); };
    struct Case {
        std::string name;
        E script;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"with(undefined) skips its body",
         Seq({Lit(w::Undefined{}).with(Trace(Lit("inside"))), Trace(Lit("after"))}), {"after"}},
        {"with(null) skips its body", Seq({Lit(w::Null{}).with(Trace(Lit("inside"))), Trace(Lit("after"))}),
         {"after"}},
        {"with(object) runs its body", Seq({Obj().with(Trace(Lit("inside"))), Trace(Lit("after"))}),
         {"inside", "after"}},
        {"var in with() lands on the object that holds the name",
         Seq({SetVar("m", Obj()), SetMember(Var("m"), "b", Lit(20)),
              Var("m").with(Seq({var("b", Lit(10)), var("c", Lit(11))})), Trace(Member(Var("m"), "b")),
              Trace(Member(Var("m"), "c")), Trace(Var("c"))}),
         {"10", "undefined", "11"}},
        {"var in with() of an inherited name stays local",
         Seq({SetVar("P", Fn({}, E())), SetMember(Member(Var("P"), "prototype"), "d", Lit(20)), SetVar("n", New("P")),
              Var("n").with(Seq({var("d", Lit(10)), Trace(Var("d"))})), Trace(Member(Var("n"), "d")), Trace(Var("d"))}),
         {"20", "20", "10"}},
        {"a timeline assigns this", Seq({SetVar("this", Lit("test")), Trace(Var("this"))}), {"test"}},
        {"array count beyond the stack",
         Seq({E().push({"a", "b", "c", 4294967297.0}).initArray().trace(), E().trace().trace().trace()}),
         {"undefined", "c", "b", "a"}},
        {"object count beyond the stack",
         Seq({E().push({"a", "b", "c", 2}).initObject().trace(), E().trace().trace().trace()}),
         {"undefined", "c", "b", "a"}},
        {"array count within the stack", Seq({E().push({"a", "b", 2}).initArray().trace()}), {"b,a"}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunScript(c.script), c.expected) << c.name;
}

// Texts are counted, indexed and compared in UTF-16 units, whatever bytes hold them.
TEST(Avm1ObjectModel, TextsInUtf16Units) {
    const std::string e_acute = "\xC3\xA9";              // U+00E9
    const std::string clef = "\xF0\x9D\x84\x9E";         // U+1D11E, two units
    const std::string halfwidth = "\xEF\xBD\xA1";        // U+FF61
    const std::string lone = "\xED\xA0\x80";             // an encoded lone surrogate
    const std::string replacement = "\xEF\xBF\xBD";      // U+FFFD
    const std::string s = "a" + e_acute + clef + "z";    // units: a, e, hi, lo, z
    auto str = [&](const std::string& method, const std::vector<E>& args) { return Call(Lit(s), method, args); };
    struct Case {
        std::string name;
        E expr;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"length", Member(Lit(s), "length"), "5"},
        {"charAt after a two-byte character", str("charAt", {Lit(2)}), replacement},
        {"charAt of the last unit", str("charAt", {Lit(4)}), "z"},
        {"charAt of a wrapped index", str("charAt", {Lit(4294967297.0)}), e_acute},
        {"charCodeAt", str("charCodeAt", {Lit(1)}), "233"},
        {"charCodeAt of a high surrogate", str("charCodeAt", {Lit(2)}), "55348"},
        {"indexOf", str("indexOf", {Lit("z")}), "4"},
        {"lastIndexOf", str("lastIndexOf", {Lit(e_acute)}), "1"},
        {"substr keeps a pair", str("substr", {Lit(2), Lit(2)}), clef},
        {"substring", str("substring", {Lit(1), Lit(2)}), e_acute},
        {"slice from the end", str("slice", {Lit(-1)}), "z"},
        {"split into units", Call(str("split", {Lit("")}), "join", {Lit("|")}),
         "a|" + e_acute + "|" + replacement + "|" + replacement + "|z"},
        {"fromCharCode", Call(Var("String"), "fromCharCode", {Lit(233), Lit(0x1D11E & 0xFFFF)}),
         e_acute + "\xED\x84\x9E" /* U+D11E, a Hangul syllable */},
        {"fromCharCode stops at 0", Call(Var("String"), "fromCharCode", {Lit(80), Lit(0), Lit(82)}), "P"},
        {"fromCharCode of a lone surrogate", Call(Var("String"), "fromCharCode", {Lit(0xD801)}), replacement},
        {"compare by units", E().push({halfwidth, clef}).less2(), "false"},
        {"a broken sequence compares as U+FFFD", E().push({halfwidth, lone}).less2(), "true"},
        {"ASCII compares by code", E().push({"B", "a"}).less2(), "true"},
        {"Latin beside ASCII", E().push({e_acute, "z"}).less2(), "false"},
    };
    for (const auto& c : cases) EXPECT_EQ(RunScript(Trace(c.expr)), std::vector<std::string>{c.expected}) << c.name;
}

// A String object holds its length as a property of its own; every object with a
// prototype owns __proto__.
TEST(Avm1ObjectModel, OwnPropertiesOfWrappers) {
    auto str = Seq({SetVar("s", E().push({"blah", 1, "String"}).newObject())});
    auto has = [](const E& o, const std::string& name) { return Trace(Call(o, "hasOwnProperty", {Lit(name)})); };
    EXPECT_EQ(RunScript(Seq({str, has(Var("s"), "length"), SetMember(Var("s"), "length", Lit("hmm")),
                             Trace(Member(Var("s"), "length")), E().push({"s"}).getVariable().push({"length"}).delete_().pop(),
                             Trace(Member(Var("s"), "length")), Trace(Member(Lit("blah"), "length")),
                             has(Obj(), "__proto__"), has(Obj(), "prototype")})),
              (std::vector<std::string>{"true", "hmm", "hmm", "4", "true", "false"}));
}

// for..in gives a prototype's names before those of the objects inheriting
// them, each object's newest first, and a shadowed name once, where it is nearest.
TEST(Avm1ObjectModel, EnumerationOrder) {
    E loop = E().push({"b"}).enumerate().label("next").storeRegister(0).push({w::Null{}}).equals2().if_("end")
                 .push({w::Register{0}}).trace().jump("next").label("end");
    EXPECT_EQ(RunScript(Seq({SetVar("a", Obj()), SetMember(Var("a"), "p1", Lit(1)), SetMember(Var("a"), "shared", Lit(2)),
                             SetMember(Var("a"), "p2", Lit(3)), SetVar("b", Obj()),
                             SetMember(Var("b"), "__proto__", Var("a")), SetMember(Var("b"), "shared", Lit(4)),
                             SetMember(Var("b"), "own", Lit(5)), loop})),
              (std::vector<std::string>{"p2", "p1", "own", "shared"}));
}

// A function's prototype cannot be deleted, nor the one extends gave it.
TEST(Avm1ObjectModel, FunctionPrototypeStays) {
    auto del = [](const std::string& object) { return Trace(E().push({object}).getVariable().push({"prototype"}).delete_()); };
    EXPECT_EQ(RunScript(Seq({SetVar("F", Fn({}, E())), del("F"), Trace(Member(Var("F"), "prototype").typeOf()),
                             SetVar("G", Fn({}, E())), E().raw(Var("G").bytes()).raw(Var("F").bytes()).extends(),
                             del("G"), Trace(Member(Var("G"), "prototype").typeOf())})),
              (std::vector<std::string>{"false", "object", "false", "object"}));
}

// addProperty wants a getter and a setter or null; the property it makes
// answers before an array's own elements and length.
TEST(Avm1ObjectModel, AddProperty) {
    E ten = Fn({}, Return(Lit(10)));
    auto add = [&](const E& o, const std::string& name, std::vector<E> rest) {
        rest.insert(rest.begin(), Lit(name));
        return Call(o, "addProperty", rest);
    };
    struct Case {
        std::string name;
        E script;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"no setter", Seq({SetVar("o", Obj()), Trace(add(Var("o"), "p", {ten})), Trace(Member(Var("o"), "p"))}),
         {"false", "undefined"}},
        {"undefined setter",
         Seq({SetVar("o", Obj()), Trace(add(Var("o"), "p", {ten, Lit(w::Undefined{})})), Trace(Member(Var("o"), "p"))}),
         {"false", "undefined"}},
        {"null setter", Seq({SetVar("o", Obj()), Trace(add(Var("o"), "p", {ten, Lit(w::Null{})})),
                             Trace(Member(Var("o"), "p"))}),
         {"true", "10"}},
        {"array element and length",
         Seq({SetVar("a", E().push({3, 2, 1, 3}).initArray()), Trace(add(Var("a"), "1", {ten, Lit(w::Null{})})),
              Trace(add(Var("a"), "length", {ten, Lit(w::Null{})})), Trace(Member(Var("a"), "1")),
              Trace(Member(Var("a"), "length")), Trace(Call(Var("a"), "pop"))}),
         {"true", "true", "10", "10", "3"}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunScript(c.script), c.expected) << c.name;
}

// A watch belongs to the object: it outlives the property's deletion, sees the
// stored old value through the prototypes, and a watcher that throws leaves undefined.
TEST(Avm1ObjectModel, WatchOutlivesItsProperty) {
    E pass = Fn({"n", "old", "v"}, Seq({Trace(Concat(Lit("old "), Var("old"))), Return(Var("v"))}));
    E thrower = Fn({"n", "old", "v"}, E().push({"no"}).throw_());
    auto set = [](const E& value) { return SetMember(Var("o"), "p", value); };
    struct Case {
        std::string name;
        E script;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"deleted and set again",
         Seq({SetVar("o", Obj()), Do(Call(Var("o"), "watch", {Lit("p"), pass})), set(Lit(1)),
              E().push({"o"}).getVariable().push({"p"}).delete_().pop(), set(Lit(2)), Trace(Member(Var("o"), "p"))}),
         {"old undefined", "old undefined", "2"}},
        {"inherited old value",
         Seq({SetVar("o", Obj()), SetMember(Var("o"), "__proto__", E().push({"p", "inherited", 1}).initObject()),
              Do(Call(Var("o"), "watch", {Lit("p"), pass})), set(Lit(1))}),
         {"old inherited"}},
        {"throwing watcher",
         Seq({SetVar("o", Obj()), set(Lit(1)), Do(Call(Var("o"), "watch", {Lit("p"), thrower})),
              E().try_(set(Lit(2)), Trace(Lit("caught")), std::nullopt, std::string("e")), Trace(Member(Var("o"), "p"))}),
         {"caught", "undefined"}},
        {"a getter is not asked; the value addProperty replaced is the old one",
         Seq({SetVar("o", Obj()), set(Lit(3)),
              Do(Call(Var("o"), "addProperty", {Lit("p"), Fn({}, Seq({Trace(Lit("getter")), Return(Lit(10))})),
                                                Lit(w::Null{})})),
              Do(Call(Var("o"), "watch", {Lit("p"), pass})), set(Lit(1))}),
         {"old 3"}},
        {"watch makes no property",
         Seq({SetVar("o", Obj()), Do(Call(Var("o"), "watch", {Lit("p"), pass})),
              Trace(Call(Var("o"), "hasOwnProperty", {Lit("p")}))}),
         {"false"}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunScript(c.script), c.expected) << c.name;
}

// An object that is its own prototype stops the script on a read that climbs the chain.
TEST(Avm1ObjectModel, PrototypeLoopStopsTheScript) {
    EXPECT_EQ(RunScript(Seq({SetVar("a", Obj()), SetMember(Var("a"), "__proto__", Var("a")), Trace(Lit("before")),
                             Trace(Member(Var("a"), "missing")), Trace(Lit("after"))})),
              (std::vector<std::string>{"before"}));
}

// Conversions: a toString that gives no text leaves the type name; an operand of
// + whose valueOf gives an object is converted again from itself; __resolve never
// supplies valueOf or toString.
TEST(Avm1ObjectModel, ConversionsOfObjects) {
    E gives = Fn({}, Return(Lit(4)));
    E object_value = Fn({}, Seq({Trace(Lit("valueOf")), Return(Obj())}));
    E text = Fn({}, Seq({Trace(Lit("toString")), Return(Lit("T"))}));
    E resolver = Fn({"n"}, Return(Fn({}, Return(Lit("resolved")))));
    struct Case {
        std::string name;
        E script;
        std::vector<std::string> expected;
    };
    std::vector<Case> cases = {
        {"toString gives a number", Seq({SetVar("o", Obj()), SetMember(Var("o"), "toString", gives), Trace(Var("o"))}),
         {"[type Object]"}},
        {"valueOf gives an object beside a text",
         Seq({SetVar("o", Obj()), SetMember(Var("o"), "valueOf", object_value), SetMember(Var("o"), "toString", text),
              Trace(Concat(Lit("x"), Var("o")))}),
         {"valueOf", "toString", "xT"}},
        {"valueOf gives an object beside a number",
         Seq({SetVar("o", Obj()), SetMember(Var("o"), "valueOf", object_value), Trace(Concat(Lit(1), Var("o")))}),
         {"valueOf", "valueOf", "NaN"}},
        {"__resolve is not asked",
         Seq({SetVar("o", E().push({"__proto__", w::Null{}, 1}).initObject()), SetMember(Var("o"), "__resolve", resolver),
              Trace(Var("o")), Trace(Concat(Lit(""), Var("o"))), Trace(Member(Var("o"), "x").typeOf())}),
         {"[type Object]", "undefined", "function"}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunScript(c.script), c.expected) << c.name;
}

// Before version 7 names match in either case, letters beyond ASCII too, by the
// older case tables: letters paired only later stay apart.
TEST(Avm1ObjectModel, CaseOfNamesBeyondAscii) {
    struct Case {
        const char* set;
        const char* read;
        uint8_t version;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"\xC3\x84", "\xC3\xA4", 6, "found"},                      // Ä, ä
        {"\xD3\xA4", "\xD3\xA5", 6, "found"},                      // Ӥ, ӥ
        {"\xC7\xB1\xC7\xB2", "\xC7\xB3\xC7\xB3", 6, "found"},       // DZ Dz, dz dz
        {"clip\xC3\x84", "CLIP\xC3\xA4", 6, "found"},
        {"\xC8\xBA", "\xE2\xB1\xA5", 6, "undefined"},              // Ⱥ, ⱥ
        {"\xCF\xB7", "\xCF\xB8", 6, "undefined"},                  // Ϸ, ϸ
        {"\xC3\x84", "\xC3\xA4", 7, "undefined"},
        {"\xC3\x84\xC3", "\xC3\xA4\xC3", 6, "found"},              // a broken sequence compares by bytes
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = c.version});
        movie.doAction(Seq({SetVar("o", Obj()), SetMember(Var("o"), c.set, Lit("found")), Trace(Member(Var("o"), c.read))}));
        movie.showFrame();
        EXPECT_EQ(TracesOf(movie, 1), std::vector<std::string>{c.expected}) << c.read;
    }
}
