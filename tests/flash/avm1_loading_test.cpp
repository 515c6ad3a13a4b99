// Loading variables from files beside the movie: LoadVars, loadVariables and
// loadVariablesNum, answered once the frame's scripts have run.
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "tests/flash/avm1_script_builder.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
using namespace qm::flash::testing::script;

namespace {

namespace fs = std::filesystem;
using E = w::Actions;

E New(const std::string& cls, const std::vector<E>& args = {}) { return Args(args).push({cls}).newObject(); }
E Fn(const std::vector<std::string>& params, const E& body) { return E().defineFunction("", params, body); }
E This() { return E().push({"this"}).getVariable(); }
E Concat(const E& a, const E& b) { return E().raw(a.bytes()).raw(b.bytes()).add2(); }

// A movie written into a folder of its own with files beside it (and one above).
struct MovieFolder {
    fs::path root;
    MovieFolder() {
        static int n = 0;
        root = fs::temp_directory_path() / ("qm_avm1_loading_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::create_directories(root / "movie");
    }
    ~MovieFolder() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(root / name, std::ios::binary) << text; }
    // `keep` receives the player, to look at what it shows afterwards.
    std::vector<std::string> Run(const w::Movie& movie, int frames, std::unique_ptr<Player>* keep = nullptr) {
        w::Bytes b = movie.bytes();
        Write("movie/test.swf", std::string(b.begin(), b.end()));
        LoadResult r = Player::LoadFile((root / "movie" / "test.swf").string());
        if (!r.player) return {"load failed: " + r.error};
        std::vector<std::string> lines = PlayFrames(*r.player, frames);
        if (keep) *keep = std::move(r.player);
        return lines;
    }
};

std::vector<std::string> RunScript(const E& script) {
    w::Movie movie({.version = 8});
    movie.doAction(script);
    movie.showFrame();
    return TracesOf(movie);
}

// A MovieClipLoader listener "l" that traces `event`, the clip's name and, with a second
// argument, that argument.
E LoaderEvent(const std::string& event, bool with_second) {
    E text = Concat(Lit(event + " "), Member(Var("t"), "_name"));
    if (with_second) text = Concat(Concat(text, Lit(" ")), Var("x"));
    return SetMember(Var("l"), event, Fn({"t", "x"}, Trace(text)));
}

// Empty clips a, b and c, and a MovieClipLoader "l" whose listener traces every event.
E ClipsAndLoader() {
    return Seq({
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("a"), Lit(1)})),
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("b"), Lit(2)})),
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(3)})),
        SetVar("l", New("MovieClipLoader")),
        LoaderEvent("onLoadStart", false), LoaderEvent("onLoadProgress", true), LoaderEvent("onLoadComplete", false),
        LoaderEvent("onLoadInit", false), LoaderEvent("onLoadError", true),
    });
}

}  // namespace

// decode reads form text ('+' a space, %XX a byte, the last of a repeated
// name wins); toString escapes all but letters and digits.
TEST(Avm1Loading, LoadVarsDecodeAndToString) {
    struct Case {
        std::string text, name, expected;
    } cases[] = {
        {"a=1&b=two", "b", "two"},
        {"msg=hello+big%20world", "msg", "hello big world"},
        {"x=1&x=2", "x", "2"},
        {"&&flag=&", "flag", ""},
        {"%41%42=c", "AB", "c"},
        {"cut=%4", "cut", "%4"},
    };
    for (const Case& c : cases) {
        auto lines = RunScript(Seq({SetVar("v", New("LoadVars")), Do(Call(Var("v"), "decode", {Lit(c.text)})),
                                    Trace(Member(Var("v"), c.name))}));
        EXPECT_EQ(lines, std::vector<std::string>{c.expected}) << c.text;
    }
    auto lines = RunScript(Seq({SetVar("v", New("LoadVars")), SetMember(Var("v"), "a b", Lit("x_y.z-1")),
                                Trace(Call(Var("v"), "toString")), Trace(Call(New("LoadVars"), "toString"))}));
    EXPECT_EQ(lines, (std::vector<std::string>{"a%20b=x%5Fy%2Ez%2D1", ""}));
}

// load answers after the frame's scripts: onData has the file's text (the
// default one decodes it and calls onLoad), byte counts come with the text,
// and a file outside the folder or missing answers onLoad(false).
TEST(Avm1Loading, LoadVarsLoadsFilesBesideTheMovieOnly) {
    MovieFolder folder;
    folder.Write("movie/vars.txt", "name=Ann&age=7");
    folder.Write("secret.txt", "name=outside");
    auto loader = [](const std::string& v, const std::string& url) {
        return Seq({SetVar(v, New("LoadVars")),
                    SetMember(Var(v), "onLoad",
                              Fn({"ok"}, Seq({Trace(Concat(Lit(url + " "), Var("ok"))),
                                              Trace(Concat(Lit("name "), Member(This(), "name"))),
                                              Trace(Concat(Lit("bytes "), Call(This(), "getBytesLoaded")))}))),
                    Trace(Call(Var(v), "load", {Lit(url)}))});
    };
    w::Movie movie({.version = 8});
    movie.doAction(Seq({loader("a", "vars.txt"), loader("b", "../secret.txt"), loader("c", "missing.txt"),
                        Trace(Concat(Lit("now "), Call(Var("a"), "getBytesLoaded"))),
                        Trace(Concat(Lit("loaded "), Member(Var("a"), "loaded"))), Trace(Call(Var("a"), "load"))}));
    movie.showFrame();
    auto lines = folder.Run(movie, 1);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "true", "true", "true", "now 0", "loaded false", "false",
                         "vars.txt true", "name Ann", "bytes 14",
                         "../secret.txt false", "name undefined", "bytes 0",
                         "missing.txt false", "name undefined", "bytes 0"}));

    // An onData of the movie's own hears the raw text; sendAndLoad loads into its target.
    w::Movie raw({.version = 8});
    raw.doAction(Seq({SetVar("a", New("LoadVars")), SetVar("b", New("LoadVars")),
                      SetMember(Var("b"), "onData", Fn({"src"}, Trace(Concat(Lit("data "), Var("src"))))),
                      Trace(Call(Var("a"), "sendAndLoad", {Lit("vars.txt"), Var("b"), Lit("POST")})),
                      Trace(Call(Var("a"), "sendAndLoad", {Lit("vars.txt")})),
                      Trace(Concat(Lit("b.loaded "), Member(Var("b"), "loaded")))}));
    raw.showFrame();
    EXPECT_EQ(folder.Run(raw, 1),
              (std::vector<std::string>{"true", "false", "b.loaded false", "data name=Ann&age=7"}));
}

// loadVariables and loadVariablesNum set the variables on the target timeline
// after the frame's scripts, and the clip's onData runs on the next frame;
// a target that does not exist or a refused file sets nothing.
TEST(Avm1Loading, LoadVariablesSetsTheTargetsVariables) {
    MovieFolder folder;
    folder.Write("movie/vars.txt", "greeting=hi+there&n=3");
    folder.Write("vars.txt", "greeting=outside");
    w::Movie movie({.version = 8});
    movie.doAction(Seq({
        SetVar("c", Call(Var("_root"), "createEmptyMovieClip", {Lit("c"), Lit(1)})),
        SetMember(Var("c"), "onData", Fn({}, Trace(Concat(Lit("onData "), Member(This(), "n"))))),
        E().push({"vars.txt", "c"}).getUrl2(0xC0),             // loadVariables("vars.txt", "c")
        E().push({"vars.txt", "_level0"}).getUrl2(0x80),       // loadVariablesNum("vars.txt", 0)
        E().push({"vars.txt", "nowhere"}).getUrl2(0xC0),
        Do(Call(Var("c"), "loadVariables", {Lit("../vars.txt")})),
        Trace(Concat(Lit("asked "), Var("greeting"))),
    }));
    movie.showFrame();
    movie.doAction(Seq({Trace(Var("greeting")), Trace(Member(Var("c"), "greeting"))}));
    movie.showFrame();
    movie.doAction(E().stop());
    movie.showFrame();
    EXPECT_EQ(folder.Run(movie, 2),
              (std::vector<std::string>{"asked undefined", "onData 3", "hi there", "hi there"}));
}

namespace {

std::string Bytes(const w::Movie& movie) {
    w::Bytes b = movie.bytes();
    return std::string(b.begin(), b.end());
}

// A movie of two frames that shows a square of its own character 1 and says which frame it is on.
w::Movie ChildMovie() {
    w::Movie child({.version = 8});
    uint16_t square = DefineSquare(child, 200, {0, 255, 0});
    child.placeObject1(square, 1);
    child.doAction(Trace(Lit("child 1")));
    child.showFrame();
    child.doAction(Seq({Trace(Lit("child 2")), E().stop()}));
    child.showFrame();
    return child;
}

}  // namespace

// loadMovie puts the file's movie in the clip once the frame's scripts have
// run: its first frame and scripts come on the next frame, its characters
// are its own (the main movie has no character 1), and unloadMovie empties
// the clip once the scripts of the frame that asked have run (its unload
// handler runs on the next frame).
TEST(Avm1Loading, LoadMovieIntoAClip) {
    MovieFolder folder;
    folder.Write("movie/child.swf", Bytes(ChildMovie()));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("holder"), Lit(1)})),
                        E().push({"child.swf", "holder"}).getUrl2(0x40), Trace(Lit("asked"))}));
    movie.showFrame();
    movie.doAction(Trace(Lit("main 2")));
    movie.showFrame();
    movie.doAction(Seq({Trace(Lit("main 3")), SetMember(Var("holder"), "onUnload", Fn({}, Trace(Lit("unloaded")))),
                        E().push({"", "holder"}).getUrl2(0x40)}));
    movie.showFrame();
    movie.doAction(Seq({Trace(Lit("main 4")), E().stop()}));
    movie.showFrame();
    w::Bytes b = movie.bytes();
    folder.Write("movie/test.swf", std::string(b.begin(), b.end()));
    LoadResult r = Player::LoadFile((folder.root / "movie" / "test.swf").string());
    ASSERT_TRUE(r.player) << r.error;
    Traces traces;
    r.player->SetTraceSink(&traces);
    auto holder = [&]() -> const DisplayObject* {
        for (const auto& [depth, o] : r.player->Stage())
            if (o->name == "holder") return o.get();
        return nullptr;
    };
    auto holder_children = [&] { return holder() ? holder()->children.size() : size_t(99); };
    r.player->Advance();
    EXPECT_EQ(holder_children(), 0u);
    r.player->Advance();
    EXPECT_EQ(holder_children(), 1u);
    ASSERT_TRUE(holder());
    EXPECT_EQ(CharacterAt(holder()->children, 1), 1);
    r.player->Advance();
    EXPECT_EQ(holder_children(), 0u);
    r.player->Advance();
    EXPECT_EQ(holder_children(), 0u);
    // The loaded timeline is the newest, so it goes first on a frame.
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"asked", "child 1", "main 2", "child 2", "main 3", "unloaded", "main 4"}));
}

// unloadMovie with no file empties the clip after the frame's scripts; a clip
// inside it hears its unload on the next frame, while it is still kept (found by
// fuzz_avm1: it was freed before its handler ran).
TEST(Avm1Loading, UnloadedChildrenHearTheirUnloadOnTheNextFrame) {
    w::Movie movie({.version = 8});
    w::Sprite inner = movie.sprite();
    inner.showFrame();
    const uint16_t innerId = movie.defineSprite(inner);
    w::Sprite outer = movie.sprite();
    w::Place child{.depth = 1, .character = innerId, .name = "inner"};
    child.clipActions.push_back({.events = w::kClipUnload, .actions = E().push({"inner unloaded"}).trace()});
    outer.place(child);
    outer.showFrame();
    const uint16_t outerId = movie.defineSprite(outer);
    movie.place({.depth = 1, .character = outerId, .name = "outer"});
    movie.doAction(Seq({E().push({"", "outer"}).getUrl2(0x40), Trace(Lit("asked"))}));
    movie.showFrame();
    movie.doAction(Seq({Trace(Lit("main 2")), E().stop()}));
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    player->SetTraceSink(&traces);
    for (int i = 0; i < 3; ++i) player->Advance();
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"asked", "inner unloaded", "main 2"}));
}

// MovieClipLoader: start, progress and complete after the frame that asked,
// init after the loaded movie's first frame; a damaged movie or a file outside
// the folder gives onLoadError, and nothing of it is played; a clip removed
// before its movie came hears nothing.
TEST(Avm1Loading, MovieClipLoaderEvents) {
    MovieFolder folder;
    std::string child = Bytes(ChildMovie());
    folder.Write("movie/child.swf", child);
    folder.Write("movie/damaged.swf", "FWS\x08\xff\xff\x00\x00 not a movie");
    folder.Write("outside.swf", child);
    w::Movie movie({.version = 8});
    movie.doAction(Seq({
        ClipsAndLoader(),
        Trace(Call(Var("l"), "loadClip", {Lit("child.swf"), Var("a")})),
        Trace(Call(Var("l"), "loadClip", {Lit("damaged.swf"), Lit("b")})),
        Trace(Call(Var("l"), "loadClip", {Lit("../outside.swf"), Var("c")})),
        Trace(Call(Var("l"), "loadClip", {Lit("child.swf"), Lit("nowhere")})),
        // Removed before its movie comes: the load is given up without a word.
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("d"), Lit(4)})),
        Trace(Call(Var("l"), "loadClip", {Lit("child.swf"), Var("d")})),
        Do(Call(Var("d"), "removeMovieClip")),
    }));
    movie.showFrame();
    movie.doAction(E().stop());
    movie.showFrame();
    auto lines = folder.Run(movie, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"true", "true", "true", "false", "true",
                                               "onLoadStart a", "onLoadProgress a " + std::to_string(child.size()),
                                               "onLoadComplete a", "onLoadStart b", "onLoadError b LoadNeverCompleted",
                                               "onLoadError c URLNotFound", "child 1", "onLoadInit a", "child 2"}));
}

// Pictures load into clips as movies do, known by their first bytes whatever
// the file's name: the clip shows the picture in place of what it held. A
// damaged picture gives onLoadError and leaves the clip as it was.
TEST(Avm1Loading, PicturesLoadIntoClips) {
    MovieFolder folder;
    // One red pixel, in the older GIF version.
    const std::string gif87("GIF87a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                            "\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
                            35);
    std::string gif89 = gif87;
    gif89[4] = '9';
    folder.Write("movie/red.gif", gif87);
    folder.Write("movie/named_as_movie.swf", gif89);
    folder.Write("movie/bad.jpg", std::string("\xff\xd8\xff\xe0 no picture follows", 22));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({
        ClipsAndLoader(),
        Do(Call(Var("l"), "loadClip", {Lit("red.gif"), Var("a")})),
        Do(Call(Var("l"), "loadClip", {Lit("named_as_movie.swf"), Var("b")})),
        Do(Call(Var("l"), "loadClip", {Lit("bad.jpg"), Var("c")})),
    }));
    movie.showFrame();
    movie.doAction(E().stop());
    movie.showFrame();
    std::unique_ptr<Player> player;
    auto lines = folder.Run(movie, 3, &player);
    EXPECT_EQ(lines, (std::vector<std::string>{"onLoadStart a", "onLoadProgress a 35", "onLoadComplete a",
                                               "onLoadStart b", "onLoadProgress b 35", "onLoadComplete b",
                                               "onLoadStart c", "onLoadError c LoadNeverCompleted", "onLoadInit a",
                                               "onLoadInit b"}));
    ASSERT_TRUE(player);
    auto named = [&](const std::string& name) -> const DisplayObject* {
        for (const auto& [depth, o] : player->Stage())
            if (o->name == name) return o.get();
        return nullptr;
    };
    for (const char* name : {"a", "b"}) {
        const DisplayObject* clip = named(name);
        ASSERT_TRUE(clip && clip->bitmap) << name;
        EXPECT_EQ(clip->bitmap->width, 1);
        EXPECT_EQ(clip->bitmap->height, 1);
        ASSERT_EQ(clip->bitmap->pixels.size(), 1u);
        EXPECT_EQ(clip->bitmap->pixels[0], 0xFFFF0000u) << name;
    }
    const DisplayObject* damaged = named("c");
    ASSERT_TRUE(damaged);
    EXPECT_FALSE(damaged->bitmap);
}

// A loaded movie starts a fresh clip: the variables and handlers the old
// content left on it are gone, and the request's query gives the new movie
// its variables before its first script reads them.
TEST(Avm1Loading, LoadedMovieGetsTheQueryVariablesOnly) {
    MovieFolder folder;
    w::Movie child({.version = 8});
    child.doAction(Seq({Trace(Concat(Concat(Concat(Lit("a="), Var("a")), Lit(" b=")), Var("b"))),
                        Trace(Concat(Lit("old="), Var("old"))), E().stop()}));
    child.showFrame();
    folder.Write("movie/child.swf", Bytes(child));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("holder"), Lit(1)})),
                        SetMember(Var("holder"), "old", Lit("kept?")),
                        Do(Call(Var("holder"), "loadMovie", {Lit("child.swf?a=1&b=x%20y#part")}))}));
    movie.showFrame();
    movie.doAction(Seq({Trace(Concat(Lit("root a="), Member(Var("_root"), "a"))),
                        Trace(Concat(Lit("holder a="), Member(Var("holder"), "a"))), E().stop()}));
    movie.showFrame();
    EXPECT_EQ(folder.Run(movie, 2),
              (std::vector<std::string>{"a=1 b=x y", "old=undefined", "root a=undefined", "holder a=1"}));

    // With a loader, the clip is started afresh before onLoadStart: what its
    // handlers set stays for the new movie.
    w::Movie with_loader({.version = 8});
    with_loader.doAction(Seq({
        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("holder"), Lit(1)})),
        SetMember(Var("holder"), "old", Lit("kept?")),
        SetVar("l", New("MovieClipLoader")),
        SetMember(Var("l"), "onLoadStart", Fn({"t"}, Seq({Trace(Concat(Lit("start old="), Member(Var("t"), "old"))),
                                                          SetMember(Var("t"), "old", Lit("from start"))}))),
        Do(Call(Var("l"), "loadClip", {Lit("child.swf?a=2"), Var("holder")})),
    }));
    with_loader.showFrame();
    with_loader.doAction(E().stop());
    with_loader.showFrame();
    EXPECT_EQ(folder.Run(with_loader, 2),
              (std::vector<std::string>{"start old=undefined", "a=2 b=undefined", "old=from start"}));
}

// Only a text names the file a loader loads: a number or an object is
// refused at once, without reading it.
TEST(Avm1Loading, LoaderTakesOnlyATextForTheFile) {
    E object = E().push({"toString"}).raw(Fn({}, Seq({Trace(Lit("read")), E().push({"x.swf"}).return_()})).bytes());
    object.push({1}).initObject();
    auto lines = RunScript(Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("a"), Lit(1)})),
                                SetVar("l", New("MovieClipLoader")),
                                Trace(Call(Var("l"), "loadClip", {Lit(0), Var("a")})),
                                Trace(Call(Var("l"), "loadClip", {object, Var("a")}))}));
    EXPECT_EQ(lines, (std::vector<std::string>{"false", "false"}));
}

// getBytesTotal is the length the movie's header declares and getBytesLoaded
// as much of it as the file holds; a sprite counts the tags of its
// definition (a frame and the end: 4 bytes), a clip made by a script none.
TEST(Avm1Loading, BytesOfTheMovieAndItsClips) {
    w::Movie movie({.version = 8});
    w::Sprite one_frame = movie.sprite();
    one_frame.showFrame();
    movie.place({.depth = 1, .character = movie.defineSprite(one_frame), .name = "s"});
    E root = Var("_root");
    movie.doAction(Seq({
        Do(Call(root, "createEmptyMovieClip", {Lit("e"), Lit(2)})),
        Trace(Call(root, "getBytesLoaded")),
        Trace(Call(root, "getBytesTotal")),
        Trace(Call(Member(root, "s"), "getBytesTotal")),
        Trace(Call(Member(root, "e"), "getBytesTotal")),
    }));
    movie.showFrame();
    const w::Bytes written = movie.bytes();
    ASSERT_EQ(written[0], 'F');  // uncompressed, so the declared length can be changed in place
    const uint32_t size = uint32_t(written.size());
    for (uint32_t declared : {size, size - 2, size + 100}) {
        w::Bytes bytes = written;
        for (int i = 0; i < 4; ++i) bytes[4 + i] = uint8_t(declared >> (8 * i));
        LoadResult r = Player::LoadBytes(bytes);
        ASSERT_TRUE(r.player) << r.error;
        EXPECT_EQ(PlayFrames(*r.player, 1),
                  (std::vector<std::string>{std::to_string(std::min(declared, size)), std::to_string(declared), "4", "0"}))
            << declared;
    }
}

// MovieClipLoader.getProgress gives a loaded movie's file size as stored; a
// path or level naming nothing gets an answer of nothing, anything else that
// is no clip none at all (its toString is never asked).
TEST(Avm1Loading, LoaderProgressOfClipsPathsAndLevels) {
    MovieFolder folder;
    std::string child = Bytes(ChildMovie());
    folder.Write("movie/child.swf", child);
    E progress = Fn({"p"}, Trace(Concat(Concat(Member(Var("p"), "bytesLoaded"), Lit("/")), Member(Var("p"), "bytesTotal"))));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({
        ClipsAndLoader(),
        SetVar("show", progress),
        Do(Call(Var("l"), "loadClip", {Lit("child.swf"), Var("a")})),
        SetVar("o", New("Object")),
        SetMember(Var("o"), "toString", Fn({}, Seq({Trace(Lit("asked")), E().push({"a"}).return_()}))),
    }));
    movie.showFrame();
    movie.doAction(Seq({
        Do(Call(Var("show"), "call", {Lit(0), Call(Var("l"), "getProgress", {Var("a")})})),
        Do(Call(Var("show"), "call", {Lit(0), Call(Var("l"), "getProgress", {Lit("a")})})),
        Do(Call(Var("show"), "call", {Lit(0), Call(Var("l"), "getProgress", {Lit("nowhere")})})),
        Do(Call(Var("show"), "call", {Lit(0), Call(Var("l"), "getProgress", {Lit(1)})})),
        Trace(Call(Var("l"), "getProgress", {Var("o")})),
        Trace(Call(Var("l"), "getProgress")),
        E().stop(),
    }));
    movie.showFrame();
    auto lines = folder.Run(movie, 3);
    const std::string n = std::to_string(child.size());
    std::vector<std::string> asked;
    for (const std::string& line : lines)
        if (line.find('/') != std::string::npos || line == "undefined" || line == "asked") asked.push_back(line);
    EXPECT_EQ(asked, (std::vector<std::string>{n + "/" + n, n + "/" + n, "undefined/undefined", "undefined/undefined",
                                               "undefined", "undefined"}));
}

// loadMovieNum makes its level when the movie arrives, after the frame's
// scripts; the level has its own root, and unloadMovieNum takes it away after
// the frame that asked. Paths reach into levels; a level never loaded is
// undefined, and unloading it does nothing.
TEST(Avm1Loading, MoviesLoadIntoLevels) {
    MovieFolder folder;
    w::Movie child({.version = 8});
    child.doAction(Seq({SetVar("mine", Lit("kept")), Trace(Concat(Lit("child root "), Var("_root"))),
                        Trace(Concat(Lit("child level0 "), Var("_level0"))), E().stop()}));
    child.showFrame();
    folder.Write("movie/child.swf", Bytes(child));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({E().getUrl("", "_level3"), E().getUrl("child.swf", "_level1"),
                        E().push({"child.swf", "_level2"}).getUrl2(0), Trace(Concat(Lit("asked "), Var("_level1")))}));
    movie.showFrame();
    movie.doAction(Seq({Trace(Var("_level1")), Trace(Var("_level2:mine")), Trace(Var("/:mine")),
                        Trace(E().push({"_level2"}).getVariable().targetPath()),
                        E().push({"", "_level1"}).getUrl2(0), Trace(Concat(Lit("still "), Var("_level1")))}));
    movie.showFrame();
    movie.doAction(Seq({Trace(Concat(Lit("gone "), Var("_level1"))), Trace(Var("_level2")), E().stop()}));
    movie.showFrame();
    EXPECT_EQ(folder.Run(movie, 3),
              (std::vector<std::string>{"asked undefined", "child root _level2", "child level0 _level0",
                                        "child root _level1", "child level0 _level0", "_level1", "kept", "undefined",
                                        "_level2", "still _level1", "gone undefined", "_level2"}));
}

// A level is drawn over the main movie, and no more once it is unloaded.
TEST(Avm1Loading, LevelsAreDrawnOverTheMainMovie) {
    MovieFolder folder;
    w::Movie child({.version = 8});
    child.placeObject1(DefineSquare(child, 400, {0, 0, 255}), 1);
    child.showFrame();
    folder.Write("movie/child.swf", Bytes(child));
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(40, 40)});
    movie.placeObject1(DefineSquare(movie, 800, {255, 0, 0}), 1);
    movie.doAction(E().getUrl("child.swf", "_level1"));
    movie.showFrame();
    movie.showFrame();  // the loaded movie shows its first frame
    movie.doAction(E().getUrl("", "_level1"));
    movie.showFrame();
    movie.doAction(E().stop());
    movie.showFrame();
    std::unique_ptr<Player> player;
    folder.Run(movie, 2, &player);
    ASSERT_TRUE(player);
    auto pixel = [&](int x, int y) {
        std::vector<uint32_t> pixels(40 * 40);
        Renderer renderer(player->Characters(), player->Version());
        renderer.Render(player->RootObject(), player->StageRect(), player->BackgroundColor(),
                        RenderTarget{reinterpret_cast<uint8_t*>(pixels.data()), 40, 40, 40 * 4});
        return pixels[size_t(y) * 40 + size_t(x)] & 0xFFFFFFu;
    };
    EXPECT_EQ(pixel(5, 5), 0x0000FFu);
    EXPECT_EQ(pixel(30, 30), 0xFF0000u);
    player->Advance();
    EXPECT_EQ(pixel(5, 5), 0xFF0000u);
}

// A movie loaded into level 0 brings its stage size; _global stays, the old
// root's variables go (undefined, written out from version 7 on).
TEST(Avm1Loading, MovieLoadedIntoLevelZeroBringsItsStage) {
    MovieFolder folder;
    w::Movie child({.version = 8, .frame = w::Rect::pixels(300, 200)});
    child.doAction(Seq({Trace(Concat(Concat(Var("Stage.width"), Lit("x")), Var("Stage.height"))),
                        Trace(Concat(Var("_global.kept"), Var("_root.gone"))), E().stop()}));
    child.showFrame();
    folder.Write("movie/child.swf", Bytes(child));
    w::Movie movie({.version = 8});
    movie.doAction(Seq({SetMember(Var("_global"), "kept", Lit("g")), SetVar("gone", Lit("r")),
                        E().push({"child.swf", "_root"}).getUrl2(0x40)}));
    movie.showFrame();
    std::unique_ptr<Player> player;
    EXPECT_EQ(folder.Run(movie, 2, &player), (std::vector<std::string>{"300x200", "gundefined"}));
    ASSERT_TRUE(player);
    EXPECT_EQ(player->StageRect().x_max - player->StageRect().x_min, 6000);
}

namespace {

// An MP3 file of `frames` silent frames (MPEG-1 layer III, 32 kbit/s, 44.1 kHz,
// mono: 1152 samples in 104 bytes each), after an ID3 2.3 tag of `id3_frames`.
std::string Mp3File(int frames, const std::vector<std::pair<std::string, std::string>>& id3_frames) {
    std::string body;
    for (const auto& [id, content] : id3_frames) {
        const size_t n = content.size();
        body += id + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + std::string(2, '\0') + content;
    }
    std::string file;
    if (!id3_frames.empty()) {
        const size_t n = body.size();
        file = std::string("ID3\x03\x00\x00", 6) + std::string{char((n >> 21) & 0x7F), char((n >> 14) & 0x7F),
                                                               char((n >> 7) & 0x7F), char(n & 0x7F)} + body;
    }
    for (int i = 0; i < frames; ++i) file += std::string("\xFF\xFB\x10\xC4", 4) + std::string(100, '\0');
    return file;
}

// A Sound "s" whose onID3, onLoad and onSoundComplete trace what they see.
E TracingSound() {
    return Seq({SetVar("s", New("Sound")),
                SetMember(Var("s"), "onID3", Fn({}, Trace(Concat(Lit("id3 "), Member(Member(Var("s"), "id3"), "songname"))))),
                SetMember(Var("s"), "onLoad", Fn({"ok"}, Trace(Concat(Concat(Lit("load "), Var("ok")),
                                                                      Concat(Lit(" "), Call(Var("s"), "getDuration")))))),
                SetMember(Var("s"), "onSoundComplete", Fn({}, Trace(Lit("complete"))))});
}

}  // namespace

// loadSound reads an MP3 file beside the movie: its ID3 tag, then its arrival,
// are told after the frame's scripts (a load asked by one of these is told on
// the same frame); until then its length is 0. A file that is missing or
// holds no sound is told as a failed load.
TEST(Avm1Loading, LoadSoundTellsItsTagThenItsArrival) {
    MovieFolder folder;
    folder.Write("movie/tagged.mp3", Mp3File(40, {{"TIT2", std::string("\0Title", 6)},
                                                  {"TPE1", std::string("\x01\xFF\xFEL\0\xE9\0", 7)},
                                                  {"COMM", std::string("\0engd\0one", 9)},
                                                  {"COMM", std::string("\0eng\0two", 8)}}));
    folder.Write("movie/plain.mp3", Mp3File(20, {}));
    folder.Write("movie/text.mp3", "not a sound");
    struct Case {
        std::string file;
        std::vector<std::string> expected;
    } cases[] = {
        {"tagged.mp3", {"asked 0", "id3 Title", "load true 1045"}},
        {"plain.mp3", {"asked 0", "load true 522"}},
        {"text.mp3", {"asked undefined", "load false undefined"}},
        {"missing.mp3", {"asked undefined", "load false undefined"}},
        {"../outside.mp3", {"asked undefined", "load false undefined"}},
    };
    for (const Case& c : cases) {
        w::Movie movie({.version = 8});
        movie.doAction(Seq({TracingSound(), Do(Call(Var("s"), "loadSound", {Lit(c.file), Lit(false)})),
                            Trace(Concat(Lit("asked "), Call(Var("s"), "getDuration"))), E().stop()}));
        movie.showFrame();
        EXPECT_EQ(folder.Run(movie, 1), c.expected) << c.file;
    }
    // The tag's frames by name, the common ones by a friendly name too; a
    // repeated comment is a list. The movie cannot replace the tag.
    w::Movie movie({.version = 8});
    movie.doAction(Seq({SetVar("s", New("Sound")),
                        SetMember(Var("s"), "onLoad", Fn({}, Seq({SetMember(Var("s"), "id3", Lit("replaced")),
                                                                  Trace(Member(Member(Var("s"), "id3"), "TPE1")),
                                                                  Trace(Member(Member(Var("s"), "id3"), "artist")),
                                                                  Trace(Member(Member(Var("s"), "id3"), "COMM")),
                                                                  Trace(Member(Member(Var("s"), "id3"), "comment")),
                                                                  Trace(Concat(Lit(""), Member(Var("s"), "id3")))}))),
                        Do(Call(Var("s"), "loadSound", {Lit("tagged.mp3"), Lit(false)})), E().stop()}));
    movie.showFrame();
    EXPECT_EQ(folder.Run(movie, 1), (std::vector<std::string>{"L\xC3\xA9", "L\xC3\xA9", "one,two", "two", "undefined"}));
}

// Each start of a loaded sound ends with its own onSoundComplete, also a
// start before the sound's onLoad; loading another sound stops the first
// untold; a load asked by onLoad is told on the same frame.
TEST(Avm1Loading, LoadedSoundsPlayAndEnd) {
    MovieFolder folder;
    folder.Write("movie/short.mp3", Mp3File(10, {}));
    w::Movie twice({.version = 8});
    twice.doAction(Seq({TracingSound(), Do(Call(Var("s"), "loadSound", {Lit("short.mp3"), Lit(false)})),
                        Do(Call(Var("s"), "start")), Do(Call(Var("s"), "start")), E().stop()}));
    twice.showFrame();
    EXPECT_EQ(folder.Run(twice, 20), (std::vector<std::string>{"load true 261", "complete", "complete"}));

    w::Movie replaced({.version = 8});
    replaced.doAction(Seq({TracingSound(), Do(Call(Var("s"), "loadSound", {Lit("short.mp3"), Lit(false)})),
                           Do(Call(Var("s"), "start")), Do(Call(Var("s"), "loadSound", {Lit("short.mp3"), Lit(true)})),
                           E().stop()}));
    replaced.showFrame();
    EXPECT_EQ(folder.Run(replaced, 20), (std::vector<std::string>{"load true 261", "complete"}));

    w::Movie chained({.version = 8});
    chained.doAction(Seq({SetVar("n", Lit(0)), TracingSound(),
                          SetMember(Var("s"), "onLoad", Fn({}, Seq({SetVar("n", E().push({"n"}).getVariable().increment()),
                                                                    Trace(Concat(Lit("load "), Var("n"))),
                                                                    Do(Call(Var("s"), "loadSound", {Lit("short.mp3")}))}))),
                          Do(Call(Var("s"), "loadSound", {Lit("short.mp3")})), E().stop()}));
    chained.showFrame();
    std::vector<std::string> lines = folder.Run(chained, 1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "load 1");
    EXPECT_GT(lines.size(), 2u);  // told again on the same frame, a bounded number of times
    EXPECT_LT(lines.size(), 100u);
}

// An empty box reads 0x7FFFFFF twips in a version 7 movie until a clip of a loaded
// version 8 movie has been measured; from then on every empty box reads 0x8000000.
TEST(Avm1Loading, MeasuringAVersion8ClipRoundsEmptyBoxesForGood) {
    MovieFolder folder;
    w::Movie child({.version = 8});
    child.showFrame();
    folder.Write("movie/child.swf", Bytes(child));
    w::Movie movie({.version = 7});
    E empty_x_min = Trace(Member(Call(Var("e"), "getBounds"), "xMin"));
    movie.doAction(Seq({Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("e"), Lit(1)})),
                        Do(Call(Var("_root"), "createEmptyMovieClip", {Lit("holder"), Lit(2)})), empty_x_min,
                        E().push({"child.swf", "holder"}).getUrl2(0x40)}));
    movie.showFrame();
    movie.showFrame();
    movie.doAction(Seq({empty_x_min, Trace(Member(Call(Var("holder"), "getBounds"), "xMin")), empty_x_min, E().stop()}));
    movie.showFrame();
    EXPECT_EQ(folder.Run(movie, 3),
              (std::vector<std::string>{"6710886.35", "6710886.35", "6710886.35", "6710886.4"}));
}
