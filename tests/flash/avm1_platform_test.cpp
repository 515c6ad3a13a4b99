// Classes of the player's surroundings that a conversion cannot offer: a
// container page (ExternalInterface) and file dialogs (FileReference). They
// answer as the original player does when nothing is there or the user
// cancels, so movies that test for them go on as they would.
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E Fn(const std::vector<std::string>& params, const E& body) { return E().defineFunction("", params, body); }
E Concat(const E& a, const E& b) { return E().raw(a.bytes()).raw(b.bytes()).add2(); }
E Package(const std::string& package, const std::string& cls) { return Member(Member(Var("flash"), package), cls); }
E NewOf(const std::string& package, const std::string& cls) {
    E a = Args({});
    a.raw(Member(Var("flash"), package).bytes());
    return a.push({cls}).newMethod();
}
E Array(const std::vector<E>& elements) {
    E a;
    for (auto it = elements.rbegin(); it != elements.rend(); ++it) a.raw(it->bytes());
    return a.push({int(elements.size())}).initArray();
}
E Object(const std::vector<std::pair<std::string, E>>& members) {
    E a;
    for (const auto& [name, value] : members) a.push({name}).raw(value.bytes());
    return a.push({int(members.size())}).initObject();
}
// "value (type)" of an expression, as the scripts print a result.
E Typed(const E& value) {
    return Concat(Concat(Concat(value, Lit(" (")), E().raw(value.bytes()).typeOf()), Lit(")"));
}

std::vector<std::string> RunScript(const E& script) {
    w::Movie movie({.version = 8});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

E Ei(const std::string& helper, const std::vector<E>& args) {
    return Call(Package("external", "ExternalInterface"), helper, args);
}

}  // namespace

// No container: not available, calls give null, callbacks are refused; the
// text helpers escape what XML and script strings need, and give null for
// nothing or an empty text.
TEST(Avm1Platform, ExternalInterfaceWithoutContainer) {
    struct Case {
        E expression;
        std::string expected;
    } cases[] = {
        {Member(Package("external", "ExternalInterface"), "available"), "false (boolean)"},
        {Ei("call", {Lit("f"), Lit(1)}), "null (null)"},
        {Ei("addCallback", {Lit("f"), Lit(w::Null{}), Fn({}, E())}), "false (boolean)"},
        {Ei("_escapeXML", {}), "null (null)"},
        {Ei("_escapeXML", {Lit("")}), "null (null)"},
        {Ei("_escapeXML", {Lit("a<b>&\"'c")}), "a&lt;b&gt;&amp;&quot;&apos;c (string)"},
        {Ei("_escapeXML", {Lit("&amp;")}), "&amp;amp; (string)"},
        {Ei("_escapeXML", {Lit(4)}), "4 (string)"},
        {Ei("_unescapeXML", {Lit("&amp;gt; a&lt;b &LT; &#x20;")}), "&gt; a<b &LT; &#x20; (string)"},
        {Ei("_jsQuoteString", {Lit("a\"b\\\"")}), "a\\\"b\\\\\" (string)"},
        {Ei("_jsQuoteString", {Lit("")}), "null (null)"},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(Trace(Typed(c.expression)));
        EXPECT_EQ(lines, std::vector<std::string>{c.expected}) << c.expected;
    }
}

// Values become the container's XML: arrays and whatever has a length by
// index, objects by their properties, the first of a call's arguments (the
// function's name) left out; functions go as null.
TEST(Avm1Platform, ExternalInterfaceValuesToXml) {
    struct Case {
        E expression;
        std::string expected;
    } cases[] = {
        {Ei("_toXML", {}), "<undefined/>"},
        {Ei("_toXML", {Lit(w::Null{})}), "<null/>"},
        {Ei("_toXML", {Lit(true)}), "<true/>"},
        {Ei("_toXML", {Lit(-2.5)}), "<number>-2.5</number>"},
        {Ei("_toXML", {Lit("<x>")}), "<string>&lt;x&gt;</string>"},
        {Ei("_toXML", {Lit("")}), "<string>null</string>"},
        {Ei("_toXML", {Fn({}, E())}), "<null/>"},
        {Ei("_toXML", {Array({Lit(1), Array({}), Lit(false)})}),
         "<array><property id=\"0\"><number>1</number></property><property id=\"1\"><array></array></property>"
         "<property id=\"2\"><false/></property></array>"},
        {Ei("_toXML", {Object({{"k", Lit("v")}})}), "<object><property id=\"k\"><string>v</string></property></object>"},
        {Ei("_toXML", {Object({{"length", Lit(2)}})}),
         "<array><property id=\"0\"><undefined/></property><property id=\"1\"><undefined/></property></array>"},
        {Ei("_objectToXML", {Object({{"length", Lit(1)}})}),
         "<object><property id=\"length\"><number>1</number></property></object>"},
        {Ei("_arrayToXML", {Lit("ab")}),
         "<array><property id=\"0\"><undefined/></property><property id=\"1\"><undefined/></property></array>"},
        {Ei("_arrayToXML", {Lit(true)}), "<array></array>"},
        {Ei("_argumentsToXML", {Array({Lit("name"), Lit(1), Lit("s")})}),
         "<arguments><number>1</number><string>s</string></arguments>"},
        {Ei("_argumentsToXML", {Array({Lit("name")})}), "<arguments></arguments>"},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(Trace(c.expression));
        EXPECT_EQ(lines, std::vector<std::string>{c.expected}) << c.expected;
    }
}

// And back: an XML node names the type; arrays and objects hold their values
// in property children by id; a name is compared as a text (valueOf of an
// object, never its toString).
TEST(Avm1Platform, ExternalInterfaceXmlToValues) {
    auto node = [](const std::string& xml) {
        E a = Args({Lit(xml)});
        return Member(a.push({"XML"}).newObject(), "firstChild");
    };
    auto named = [](const E& name) { return Object({{"nodeName", name}}); };
    struct Case {
        E expression;
        std::string expected;
    } cases[] = {
        {Typed(Ei("_toAS", {node("<null/>")})), "null (null)"},
        {Typed(Ei("_toAS", {node("<TRUE/>")})), "undefined (undefined)"},
        {Typed(Ei("_toAS", {node("<false/>")})), "false (boolean)"},
        {Typed(Ei("_toAS", {node("<number>-6</number>")})), "-6 (number)"},
        {Typed(Ei("_toAS", {node("<number>Infinity</number>")})), "NaN (number)"},
        {Typed(Ei("_toAS", {node("<string>hi</string>")})), "hi (string)"},
        {Typed(Ei("_toAS", {node("<string/>")})), "null (string)"},
        {Typed(Ei("_toAS", {named(Args({Lit("true")}).push({"String"}).newObject())})), "true (boolean)"},
        {Typed(Ei("_toAS", {named(Object({{"toString", Fn({}, E().push({"true"}).return_())}}))})),
         "undefined (undefined)"},
        {Typed(Ei("_toAS", {Lit("null")})), "undefined (undefined)"},
        {Call(Ei("_toAS", {node("<array><property id=\"1\"><number>5</number></property>"
                                 "<property id=\"0\"><string>a</string></property></array>")}),
              "join", {Lit("|")}),
         "a|5"},
        {Member(Ei("_toAS", {node("<object><property id=\"k\"><true/></property></object>")}), "k"), "true"},
        {Call(Ei("_argumentsToAS", {node("<arguments><number>1</number><null/></arguments>")}), "join", {Lit("|")}),
         "1|null"},
        {Member(Ei("_arrayToAS", {Lit(4)}), "length"), "0"},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(Trace(c.expression));
        EXPECT_EQ(lines, std::vector<std::string>{c.expected}) << c.expected;
    }
}

// browse and download open no dialog: they say yes and the listeners hear
// onCancel once the frame's scripts are done; filters are checked first, and
// a bad list is refused with no event. Nothing is chosen, so nothing uploads.
TEST(Avm1Platform, FileDialogsAnswerCancelled) {
    auto with_listener = [](const std::string& cls, const E& then) {
        return Seq({SetVar("f", NewOf("net", cls)), SetVar("l", Object({})),
                    SetMember(Var("l"), "onCancel", Fn({"t"}, Trace(Concat(Lit("cancel "), Member(Var("t"), "name"))))),
                    SetMember(Var("l"), "onSelect", Fn({"t"}, Trace(Lit("select")))),
                    Do(Call(Var("f"), "addListener", {Var("l")})), then, Trace(Lit("end of script"))});
    };
    const E good = Object({{"description", Lit("Text")}, {"extension", Lit("*.txt")}});
    struct Case {
        std::string cls;
        E call;
        std::vector<std::string> expected;
    } cases[] = {
        {"FileReference", Call(Var("f"), "browse"), {"true", "end of script", "cancel undefined"}},
        {"FileReference", Call(Var("f"), "browse", {Array({good})}), {"true", "end of script", "cancel undefined"}},
        {"FileReferenceList", Call(Var("f"), "browse"), {"true", "end of script", "cancel undefined"}},
        {"FileReference", Call(Var("f"), "download", {Lit("http://example.com/a.txt")}),
         {"true", "end of script", "cancel undefined"}},
        {"FileReference", Call(Var("f"), "download", {Lit("a.txt")}), {"false", "end of script"}},
        {"FileReference", Call(Var("f"), "download"), {"false", "end of script"}},
        {"FileReference", Call(Var("f"), "upload", {Lit("http://example.com/")}), {"false", "end of script"}},
        {"FileReferenceList", Call(Var("f"), "browse", {Array({})}), {"false", "end of script"}},
        {"FileReferenceList", Call(Var("f"), "browse", {Lit("*.txt")}), {"false", "end of script"}},
        {"FileReferenceList", Call(Var("f"), "browse", {Array({Lit("*.txt")})}), {"false", "end of script"}},
        {"FileReferenceList", Call(Var("f"), "browse", {Array({Object({{"extension", Lit("*.txt")}})})}),
         {"false", "end of script"}},
        {"FileReferenceList",
         Call(Var("f"), "browse", {Array({Object({{"description", Lit("")}, {"extension", Lit("*.txt")}})})}),
         {"false", "end of script"}},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(with_listener(c.cls, Trace(c.call)));
        EXPECT_EQ(lines, c.expected) << c.cls << " " << c.expected.front();
    }
}

// A filter text whose conversion throws reaches the movie's catch.
TEST(Avm1Platform, FileFilterConversionErrorsReachTheMovie) {
    E throwing = Object({{"toString", Fn({}, E().push({"oops"}).throw_())}});
    E filter = Object({{"description", throwing}, {"extension", Lit("*.txt")}});
    E script = E().try_(Trace(Call(NewOf("net", "FileReferenceList"), "browse", {Array({filter})})),
                           Trace(Concat(Lit("caught "), Var("e"))), std::nullopt, std::string("e"));
    EXPECT_EQ(RunScript(script), std::vector<std::string>{"caught oops"});
}

// A local movie plays in the sandbox its file attributes ask for.
TEST(Avm1Platform, SandboxFollowsTheMoviesNetworkFlag) {
    for (auto [flags, expected] : {std::pair{0x00u, "localWithFile"}, {0x01u, "localWithNetwork"}, {0x10u, "localWithFile"}}) {
        w::Movie movie({.version = 8});
        movie.fileAttributes(flags);
        movie.doAction(Trace(Member(Member(Var("System"), "security"), "sandboxType")));
        movie.showFrame();
        EXPECT_EQ(TracesOf(movie), std::vector<std::string>{expected}) << flags;
    }
    w::Movie without({.version = 8});
    without.doAction(Trace(Member(Member(Var("System"), "security"), "sandboxType")));
    without.showFrame();
    EXPECT_EQ(TracesOf(without), std::vector<std::string>{"localWithFile"});
}

// for (k in object) trace(k), the object read from a variable.
E TraceKeys(const std::string& object, const std::string& loop) {
    E a;
    a.push({object}).getVariable().enumerate2().label(loop).storeRegister(0).push({w::Null{}}).equals2().if_(loop + "_done");
    a.push({w::Register{0}}).trace().jump(loop).label(loop + "_done");
    return a;
}

// No printer: a job never starts, and the page and paper sizes are zeros the
// prototype lists and keeps, whatever a movie writes or deletes.
TEST(Avm1Platform, PrintJobSizesAreReadOnlyZeros) {
    E script = Seq({SetVar("j", E().push({0, "PrintJob"}).newObject()), Trace(Call(Var("j"), "start")),
                    TraceKeys("j", "keys"), SetMember(Var("j"), "pageWidth", Lit(5)),
                    Do(E().raw(Var("j").bytes()).push({"paperHeight"}).delete_()),
                    Trace(Concat(Concat(Member(Var("j"), "pageWidth"), Lit(" ")), Member(Var("j"), "paperHeight"))),
                    Trace(E().raw(Member(Var("j"), "send").bytes()).typeOf())});
    EXPECT_EQ(RunScript(script), (std::vector<std::string>{"false", "orientation", "pageWidth", "pageHeight",
                                                           "paperWidth", "paperHeight", "0 0", "function"}));
}

// A menu starts with every built-in item on and no custom ones; a copy
// takes the switches and items as they stand and keeps its own lists after.
TEST(Avm1Platform, ContextMenuCopiesItsLists) {
    E script = Seq({SetVar("m", E().push({0, "ContextMenu"}).newObject()), TraceKeys("m", "keys"),
                    SetMember(Member(Var("m"), "builtInItems"), "play", Lit(false)),
                    Do(Call(Member(Var("m"), "customItems"), "push",
                            {E().push({"Hello", 1, "ContextMenuItem"}).newObject()})),
                    SetVar("c", Call(Var("m"), "copy")),
                    SetMember(Member(Var("m"), "builtInItems"), "zoom", Lit(false)),
                    Do(Call(Member(Var("m"), "customItems"), "pop")),
                    Trace(Member(Member(Var("c"), "builtInItems"), "play")),
                    Trace(Member(Member(Var("c"), "builtInItems"), "zoom")),
                    Trace(Member(Member(Member(Var("c"), "customItems"), "0"), "caption")),
                    Trace(Var("c").push({"customItems"}).getMember().push({"0"}).getMember().push({"caption"})
                              .getMember().push({"Hello"}).strictEquals()),
                    Trace(Member(Member(Var("m"), "customItems"), "length"))});
    EXPECT_EQ(RunScript(script), (std::vector<std::string>{"customItems", "builtInItems", "onSelect", "false", "true",
                                                           "Hello", "true", "0"}));
}

// Listeners are matched as == matches them (undefined and null are one
// listener, false is another); an empty message calls each listener itself.
TEST(Avm1Platform, BroadcasterMatchesListenersLoosely) {
    auto listeners = [] { return Concat(Concat(Member(Member(Var("b"), "_listeners"), "length"), Lit(" ")),
                                        Member(Var("b"), "_listeners")); };
    E start = Seq({SetVar("b", Object({})), Do(Call(Var("AsBroadcaster"), "initialize", {Var("b")}))});
    struct Case {
        E calls;
        std::string expected;
    } cases[] = {
        {Seq({Do(Call(Var("b"), "addListener")), Do(Call(Var("b"), "addListener", {Lit(w::Null{})}))}), "1 null"},
        {Seq({Do(Call(Var("b"), "addListener", {Lit(w::Null{})})), Do(Call(Var("b"), "addListener", {Lit(false)}))}),
         "2 null,false"},
        {Seq({Do(Call(Var("b"), "addListener", {Lit(w::Null{})})), Do(Call(Var("b"), "addListener", {Lit(false)})),
              Trace(Call(Var("b"), "removeListener"))}), "true\n1 false"},
        {Seq({Do(Call(Var("b"), "addListener", {Lit(1)})), Do(Call(Var("b"), "addListener", {Lit("1")}))}), "1 1"},
        {Seq({Do(Call(Var("b"), "addListener", {Lit(false)})), Trace(Call(Var("b"), "removeListener", {Lit(0)}))}),
         "true\n0 "},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(Seq({start, c.calls, Trace(listeners())}));
        std::string joined;
        for (const auto& l : lines) joined += (joined.empty() ? "" : "\n") + l;
        EXPECT_EQ(joined, c.expected);
    }
    E called = Seq({start, SetVar("f", Fn({}, Trace(Concat(Lit("called with "), Member(Var("arguments"), "length"))))),
                    Do(Call(Var("b"), "addListener", {Var("f")})), Trace(Call(Var("b"), "broadcastMessage", {Lit(""), Lit(1)}))});
    EXPECT_EQ(RunScript(called), (std::vector<std::string>{"called with 1", "true"}));
}

// The original reports one fixed screen, whatever the machine has.
TEST(Avm1Platform, CapabilitiesReportAFixedScreen) {
    E caps = Member(Var("System"), "capabilities");
    E script = Trace(Concat(Concat(Member(caps, "screenResolutionX"), Lit("x")), Member(caps, "screenResolutionY")));
    EXPECT_EQ(RunScript(script), std::vector<std::string>{"1536x864"});
}

// connect(null) links to the movie's own files at once (a second connect
// closes the first); an address is refused, and its request fails after the
// frame's scripts with an empty status; close reports only a link there was.
TEST(Avm1Platform, NetConnectionReachesNoServer) {
    E status = Fn({"e"}, Trace(Concat(Concat(Lit("status "), E().push({"e"}).getVariable().typeOf()),
                                      Concat(Lit(" "), Member(Var("e"), "code")))));
    auto run = [&](const E& calls) {
        return RunScript(Seq({SetVar("c", E().push({0, "NetConnection"}).newObject()), SetMember(Var("c"), "onStatus", status),
                              Trace(Member(Var("c"), "isConnected")), calls, Trace(Lit("end of script"))}));
    };
    struct Case {
        E calls;
        std::vector<std::string> expected;
    } cases[] = {
        {Do(Call(Var("c"), "close")), {"false", "end of script"}},
        {Seq({Do(Call(Var("c"), "connect", {Lit(w::Null{})})), Trace(Member(Var("c"), "isConnected"))}),
         {"false", "status object NetConnection.Connect.Success", "true", "end of script"}},
        {Seq({Do(Call(Var("c"), "connect", {Lit(w::Null{})})), Do(Call(Var("c"), "connect", {Lit(w::Null{})})),
              Do(Call(Var("c"), "close")), Trace(Member(Var("c"), "isConnected"))}),
         {"false", "status object NetConnection.Connect.Success", "status object NetConnection.Connect.Closed",
          "status object NetConnection.Connect.Success", "status object NetConnection.Connect.Closed", "false",
          "end of script"}},
        {Seq({Do(Call(Var("c"), "connect", {Lit("rtmp://example.org/app")})), Trace(Member(Var("c"), "isConnected"))}),
         {"false", "false", "end of script", "status undefined undefined"}},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.calls), c.expected) << c.expected.size();
}

// LocalConnection: each name takes one connection and each connection one name, until
// closed; with no other player to receive, send reports that nothing was sent.
TEST(Avm1Platform, LocalConnectionNamesAreHeldOnce) {
    auto lines = RunScript(Seq({
        SetVar("a", Args({}).push({"LocalConnection"}).newObject()),
        SetVar("b", Args({}).push({"LocalConnection"}).newObject()),
        Trace(Call(Var("a"), "domain")),
        Trace(Call(Var("a"), "connect", {Lit("channel")})),
        Trace(Call(Var("b"), "connect", {Lit("channel")})),
        Trace(Call(Var("a"), "connect", {Lit("other")})),
        Trace(Call(Var("b"), "connect", {Lit("bad:name")})),
        Do(Call(Var("a"), "close")),
        Trace(Call(Var("b"), "connect", {Lit("channel")})),
        Trace(Call(Var("a"), "send", {Lit("channel"), Lit("f")})),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"localhost", "true", "false", "false", "false", "true", "false"}));
}
