// Built-in classes of the interpreter on written movies: XML, drawing on
// empty clips, bounds and points, text fields, Sound.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "flash/avm1/avm1.h"
#include "flash/render/render.h"
#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

using E = w::Actions;

E New(const std::string& cls, const std::vector<E>& args = {}) { return Args(args).push({cls}).newObject(); }
E Fn(const std::vector<std::string>& params, const E& body) { return E().defineFunction("", params, body); }


std::vector<std::string> RunScript(const E& script, uint8_t version = 8) {
    w::Movie movie({.version = version});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie, 1);
}

}  // namespace

// Text in, tree, text out; a damaged document reports what is wrong.
TEST(Avm1Classes, XmlParsesAndWritesBack) {
    struct Case {
        std::string text;
        std::string written;
        int status;
    };
    std::vector<Case> cases = {
        {"<a y=\"2\" x=\"1\"><b>t &amp; u&#33;</b><c/></a>", "<a y=\"2\" x=\"1\"><b>t &amp; u!</b><c /></a>", 0},
        {"<?xml version=\"1.0\"?><a>it's</a>", "<?xml version=\"1.0\"?><a>it&apos;s</a>", 0},
        {"<a><![CDATA[<raw>]]><!-- note --></a>", "<a>&lt;raw&gt;</a>", 0},
        {"<a><b></a>", "", -9},
        {"</a>", "", -10},
        {"<a x=\"1></a>", "", -8},
        {"<a><!-- open", "", -5},
        {"<a><![CDATA[open", "", -2},
    };
    for (const auto& c : cases) {
        auto lines = RunScript(Seq({SetVar("x", New("XML", {Lit(c.text)})), Trace(Member(Var("x"), "status")),
                                    Trace(Call(Var("x"), "toString"))}));
        ASSERT_EQ(lines.size(), 2u) << c.text;
        EXPECT_EQ(lines[0], std::to_string(c.status)) << c.text;
        if (c.status == 0) {
            EXPECT_EQ(lines[1], c.written) << c.text;
        }
    }
    // Navigation, attributes in document order, white space dropped on request.
    auto lines = RunScript(Seq({
        SetVar("x", New("XML")),
        SetMember(Var("x"), "ignoreWhite", Lit(true)),
        Do(Call(Var("x"), "parseXML", {Lit("<r>  <p k=\"v\" j=\"w\">one</p> <q/></r>")})),
        SetVar("p", Member(Member(Var("x"), "firstChild"), "firstChild")),
        Trace(Member(Member(Member(Var("x"), "firstChild"), "childNodes"), "length")),
        Trace(Member(Member(Var("p"), "attributes"), "j")),
        Trace(Member(Member(Var("p"), "nextSibling"), "nodeName")),
        Trace(Member(Member(Var("p"), "firstChild"), "nodeValue")),
        Trace(Member(Member(Var("p"), "firstChild"), "nodeType")),
        Trace(Member(Var("p"), "previousSibling")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"2", "w", "q", "one", "3", "null"}));
}

// A node never goes under itself or its own children; a node that is in a
// tree moves to its new place.
TEST(Avm1Classes, XmlTreeRefusesCycles) {
    auto lines = RunScript(Seq({
        SetVar("x", New("XML", {Lit("<a><b/></a><c/>")})),
        SetVar("a", Member(Var("x"), "firstChild")),
        SetVar("b", Member(Var("a"), "firstChild")),
        Do(Call(Var("b"), "appendChild", {Var("a")})),
        Do(Call(Var("a"), "appendChild", {Var("a")})),
        Do(Call(Var("a"), "appendChild", {Member(Var("x"), "lastChild")})),
        Trace(Call(Var("x"), "toString")),
        Do(Call(Member(Var("a"), "lastChild"), "removeNode")),
        Do(Call(Var("b"), "appendChild", {New("XMLNode", {Lit(1), Lit("c")})})),
        Trace(Call(Var("x"), "toString")),
        Trace(Member(Member(Member(Var("b"), "firstChild"), "parentNode"), "nodeName")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"<a><b /><c /></a>", "<a><b><c /></b></a>", "b"}));
}

// appendChild and insertBefore move a node out of the tree it was in; childNodes
// shows the tree's children again after a change, whatever a script pushed on it.
TEST(Avm1Classes, XmlNodesMoveAndChildNodesFollowsTheTree) {
    auto lines = RunScript(Seq({
        SetVar("x", New("XML", {Lit("<a><b/></a><c/>")})),
        Do(Call(Var("x"), "appendChild", {Member(Member(Var("x"), "firstChild"), "firstChild")})),
        Trace(Call(Var("x"), "toString")),
        SetVar("y", New("XML", {Lit("<a><b/></a>")})),
        SetVar("z", New("XML", {Lit("<c/>")})),
        Do(Call(Var("z"), "insertBefore", {Member(Member(Var("y"), "firstChild"), "firstChild"), Member(Var("z"), "firstChild")})),
        Trace(Call(Var("y"), "toString")),
        Trace(Call(Var("z"), "toString")),
        SetVar("l", New("XML", {Lit("<l><a/></l>")})),
        SetVar("n", Member(Member(Var("l"), "firstChild"), "childNodes")),
        Do(Call(Var("n"), "push", {Call(Var("l"), "createElement", {Lit("d")})})),
        Trace(Member(Var("n"), "length")),
        Do(Call(Member(Var("l"), "firstChild"), "appendChild", {Call(Var("l"), "createElement", {Lit("e")})})),
        Trace(Var("n")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"<a /><c /><b />", "<a />", "<b /><c />", "2", "<a />,<e />"}));
}

// Loads read files beside the movie only, and answer after the frame's scripts.
TEST(Avm1Classes, XmlLoadReadsOnlyFilesBesideTheMovie) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("qm_avm1_load_" + std::to_string(::getpid()));
    fs::create_directories(dir / "movie");
    std::ofstream(dir / "movie" / "data.xml") << "<d>here</d>";
    std::ofstream(dir / "secret.xml") << "<s>outside</s>";
    auto loader = [](const std::string& name, const std::string& url) {
        return Seq({SetVar(name, New("XML")),
                    SetMember(Var(name), "onLoad",
                              Fn({"ok"}, Seq({Trace(E().push({url + " "}).raw(Var("ok").bytes()).add2()),
                                              Trace(Call(E().push({"this"}).getVariable(), "toString"))}))),
                    Do(Call(Var(name), "load", {Lit(url)}))});
    };
    w::Movie movie({.version = 8});
    movie.doAction(Seq({loader("a", "data.xml"), loader("b", "../secret.xml"), loader("c", (dir / "secret.xml").string()),
                        Trace(Lit("asked"))}));
    movie.showFrame();
    w::Bytes bytes = movie.bytes();
    std::ofstream(dir / "movie" / "test.swf", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                                      std::streamsize(bytes.size()));
    LoadResult r = Player::LoadFile((dir / "movie" / "test.swf").string());
    ASSERT_TRUE(r.player) << r.error;
    Traces traces;
    r.player->SetTraceSink(&traces);
    r.player->Advance();
    fs::remove_all(dir);
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"asked", "data.xml true", "<d>here</d>", "../secret.xml false", "",
                                                      (dir / "secret.xml").string() + " false", ""}));
}

// Lines and fills drawn on an empty clip are shown, measured and copied with
// the clip.
TEST(Avm1Classes, DrawingOnEmptyClips) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(200, 100)});
    movie.setBackgroundColor({255, 255, 255});
    E c = Var("c");
    movie.doAction(Seq({
        SetVar("c", Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
        Do(Call(c, "beginFill", {Lit(0xFF0000), Lit(100)})),
        Do(Call(c, "moveTo", {Lit(10), Lit(10)})),
        Do(Call(c, "lineTo", {Lit(50), Lit(10)})),
        Do(Call(c, "lineTo", {Lit(50), Lit(50)})),
        Do(Call(c, "lineTo", {Lit(10), Lit(50)})),
        Do(Call(c, "endFill")),
        SetMember(c, "_x", Lit(20)),
        Trace(Member(c, "_width")),
        Trace(Member(Call(c, "getBounds", {Var("_root")}), "xMin")),
        Trace(Call(c, "hitTest", {Lit(45), Lit(20), Lit(true)})),
        Trace(Call(c, "hitTest", {Lit(25), Lit(20), Lit(true)})),
        SetVar("p", E().push({"x", 0, "y", 0, 2}).initObject()),
        Do(Call(c, "localToGlobal", {Var("p")})),
        Trace(Member(Var("p"), "x")),
        SetVar("d", Call(c, "duplicateMovieClip", {Lit("d"), Lit(2)})),
        SetMember(Var("d"), "_x", Lit(120)),
        Trace(Member(Var("d"), "_width")),
        SetMember(c, "_width", Lit(80)),
        Trace(Member(c, "_xscale")),
    }));
    movie.showFrame();
    std::unique_ptr<Player> player;
    EXPECT_EQ(TracesOf(movie, 1, &player), (std::vector<std::string>{"40", "30", "true", "false", "20", "40", "200"}));
    const std::vector<uint32_t> pixels = StagePixels(*player, 200, 100);
    auto at = [&](int x, int y) { return pixels[size_t(y) * 200 + size_t(x)] & 0xFFFFFF; };
    EXPECT_EQ(at(100, 30), 0xFF0000u);  // the first clip, twice as wide
    EXPECT_EQ(at(150, 30), 0xFF0000u);  // the copy
    EXPECT_EQ(at(185, 30), 0xFFFFFFu);
    EXPECT_EQ(at(100, 80), 0xFFFFFFu);
}

// What scripts do to _root itself (move it, draw into it) applies to the whole
// picture.
TEST(Avm1Classes, MovedAndDrawnRootIsShown) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(200, 100)});
    movie.setBackgroundColor({255, 255, 255});
    E r = Var("_root");
    movie.doAction(Seq({
        Do(Call(r, "beginFill", {Lit(0xFF0000), Lit(100)})),
        Do(Call(r, "moveTo", {Lit(0), Lit(0)})),
        Do(Call(r, "lineTo", {Lit(20), Lit(0)})),
        Do(Call(r, "lineTo", {Lit(20), Lit(20)})),
        Do(Call(r, "lineTo", {Lit(0), Lit(20)})),
        Do(Call(r, "endFill")),
        SetMember(r, "_x", Lit(100)),
    }));
    movie.showFrame();
    std::unique_ptr<Player> player;
    TracesOf(movie, 1, &player);
    std::vector<uint32_t> pixels(200 * 100);
    Renderer renderer(player->Characters(), player->Version());
    renderer.Render(player->RootObject(), player->StageRect(), player->BackgroundColor(),
                    RenderTarget{reinterpret_cast<uint8_t*>(pixels.data()), 200, 100, 200 * 4});
    auto at = [&](int x, int y) { return pixels[size_t(y) * 200 + size_t(x)] & 0xFFFFFF; };
    EXPECT_EQ(at(110, 10), 0xFF0000u);
    EXPECT_EQ(at(10, 10), 0xFFFFFFu);
}

// Text fields made by scripts: found by name, their text and kind set and read.
TEST(Avm1Classes, TextFields) {
    E t = Var("field");
    auto lines = RunScript(Seq({
        SetVar("field", Call(Var("_root"), "createTextField", {Lit("t"), Lit(3), Lit(5), Lit(6), Lit(100), Lit(20)})),
        Trace(t),
        Trace(Member(Member(Var("_root"), "t"), "_x")),
        Trace(Member(t, "type")),
        SetMember(t, "text", Lit("hello")),
        SetMember(t, "type", Lit("INPUT")),
        Trace(Member(t, "text")),
        Trace(Member(t, "length")),
        Trace(Member(t, "type")),
        Trace(Call(t, "getDepth")),
        Do(Call(t, "removeTextField")),
        Trace(Member(Var("_root"), "t")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"_level0.t", "5", "dynamic", "hello", "5", "input", "3", "undefined"}));
}

// A Sound object follows its clip by path: nothing before the clip exists or
// after it goes, its settings while it is there.
TEST(Avm1Classes, SoundFollowsItsClip) {
    E s = Var("s");
    auto lines = RunScript(Seq({
        SetVar("s", New("Sound", {Lit("m")})),
        Trace(Call(s, "getVolume")),
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("m"), Lit(1)})),
        Trace(Call(s, "getVolume")),
        Do(Call(s, "setVolume", {Lit(40)})),
        Trace(Call(s, "getVolume")),
        Trace(Member(s, "duration")),
        Do(Call(Member(Var("_root"), "m"), "removeMovieClip")),
        Trace(Call(s, "getVolume")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"undefined", "100", "40", "undefined", "undefined"}));
}

// watch() decides what is stored; assignments inside the watcher go straight
// through instead of calling it again.
TEST(Avm1Classes, WatchAndUnwatch) {
    E self = E().push({"this"}).getVariable();
    auto lines = RunScript(Seq({
        SetVar("o", New("Object")),
        // function (name, old, value, limit) { this[name] = -1; return value > limit ? limit : value; }
        Trace(Call(Var("o"), "watch",
                   {Lit("v"),
                    Fn({"name", "old", "value", "limit"},
                       Seq({SetMember(self, "v", Lit(-1)),
                            Trace(E().push({"was "}).raw(Var("old").bytes()).add2()),
                            E().raw(Var("value").bytes()).raw(Var("limit").bytes()).greater().if_("over")
                                .raw(Var("value").bytes()).return_().label("over")
                                .raw(Var("limit").bytes()).return_()})),
                    Lit(10)})),
        SetMember(Var("o"), "v", Lit(4)),
        Trace(Member(Var("o"), "v")),
        SetMember(Var("o"), "v", Lit(40)),
        Trace(Member(Var("o"), "v")),
        Trace(Call(Var("o"), "unwatch", {Lit("v")})),
        SetMember(Var("o"), "v", Lit(40)),
        Trace(Member(Var("o"), "v")),
        Trace(Call(Var("o"), "unwatch", {Lit("v")})),
        Trace(Call(Var("o"), "watch", {Lit("w")})),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"true", "was undefined", "4", "was 4", "10", "true", "40", "false", "false"}));
}

// Listeners hear messages in the order they came, once each; a movie clip
// loader hears its own events, and a load this player cannot make fails
// after the frame's scripts.
TEST(Avm1Classes, BroadcastersAndFailedLoads) {
    E self = E().push({"this"}).getVariable();
    auto lines = RunScript(Seq({
        SetVar("b", New("Object")),
        Do(Call(Var("AsBroadcaster"), "initialize", {Var("b")})),
        SetVar("l1", New("Object")),
        SetMember(Var("l1"), "hi", Fn({"x"}, Trace(E().push({"one "}).raw(Var("x").bytes()).add2()))),
        SetVar("l2", New("Object")),
        SetMember(Var("l2"), "hi", Fn({"x"}, Trace(E().push({"two "}).raw(Var("x").bytes()).add2()))),
        Trace(Call(Var("b"), "addListener", {Var("l2")})),
        Do(Call(Var("b"), "addListener", {Var("l1")})),
        Do(Call(Var("b"), "addListener", {Var("l2")})),
        Do(Call(Var("b"), "broadcastMessage", {Lit("hi"), Lit("a")})),
        Trace(Call(Var("b"), "removeListener", {Var("l1")})),
        Trace(Call(Var("b"), "removeListener", {Var("l1")})),
        Do(Call(Var("b"), "broadcastMessage", {Lit("hi"), Lit("b")})),
        SetVar("m", New("MovieClipLoader")),
        SetMember(Var("m"), "onLoadError",
                  Fn({"clip", "why"}, Trace(E().raw(Var("clip").bytes()).push({" "}).add2().raw(Var("why").bytes()).add2()))),
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("holder"), Lit(1)})),
        Trace(Call(Var("m"), "loadClip", {Lit("elsewhere.swf"), Member(Var("_root"), "holder")})),
        Trace(Call(Var("m"), "loadClip", {Lit("elsewhere.swf"), Lit("nowhere")})),
        Trace(Lit("end of script")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"true", "one a", "two a", "true", "false", "two b", "true", "false",
                                               "end of script", "_level0.holder URLNotFound"}));
}

// Color works on the clip's colour transform: percentages and offsets,
// values beyond 16 bits wrapped, settings on a prototype ignored.
TEST(Avm1Classes, ColorOfAClip) {
    auto transform = [](const E& color) {
        E t = Call(color, "getTransform");
        E a = Member(t, "ra");
        for (const char* term : {"rb", "aa", "ab"}) a.push({" "}).add2().raw(Member(Call(color, "getTransform"), term).bytes()).add2();
        return a;
    };
    auto lines = RunScript(Seq({
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("m"), Lit(1)})),
        SetVar("c", New("Color", {Member(Var("_root"), "m")})),
        Do(Call(Var("c"), "setRGB", {Lit(0x102030)})),
        Trace(Call(Var("c"), "getRGB")),
        Trace(transform(Var("c"))),
        SetMember(Member(Var("Object"), "prototype"), "ab", Lit(99)),
        Do(Call(Var("c"), "setTransform", {E().push({"ra", 50, "rb", -20, "aa", 30000, 3}).initObject()})),
        Trace(transform(Var("c"))),
        Trace(Call(Var("c"), "getRGB")),
        Trace(Call(New("Color", {Lit("nothing")}), "getRGB")),
    }));
    EXPECT_EQ(lines, (std::vector<std::string>{"1056816", "0 16 100 0", "50 -20 4400 0", "-1302480", "undefined"}));
}

// Date's "now" is the movie's clock from a start time that can be fixed;
// parts and changes in UTC.
TEST(Avm1Classes, DateFollowsTheMovieClock) {
    w::Movie movie({.version = 8, .frameRate = 10 << 8});
    E d = Var("d");
    movie.doAction(Seq({
        Trace(Call(New("Date"), "getTime")),
        SetVar("d", New("Date", {Call(Var("Date"), "UTC", {Lit(2001), Lit(1), Lit(3), Lit(4), Lit(5), Lit(6)})})),
        Trace(Call(d, "getTime")),
        Trace(Call(d, "getUTCDay")),
        Trace(Call(d, "getUTCHours")),
        Do(Call(d, "setUTCMonth", {Lit(13)})),
        Trace(E().raw(Call(d, "getUTCFullYear").bytes()).push({"-"}).add2().raw(Call(d, "getUTCMonth").bytes()).add2()),
        Do(Call(d, "setUTCDate", {Lit(0)})),
        Trace(Call(d, "getUTCDate")),
        Trace(Call(New("Date", {Lit("not a time")}), "getUTCDate")),
    }));
    movie.showFrame();
    movie.doAction(Seq({Trace(Call(New("Date"), "getTime")), E().stop()}));
    movie.showFrame();
    auto player = Load(movie);
    player->SetScriptHost(MakeAvm1ScriptHost({.frame_ms = 100, .start_time_ms = 1000000000000.0}));
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    player->Advance();
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"1000000000000", "981173106000", "6", "4", "2002-1", "31", "NaN",
                                                      "1000000000100"}));
}
