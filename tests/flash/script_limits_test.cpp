// Untrusted scripts: a script that never ends is stopped by the frame's time
// limit, endless recursion at the movie's depth, an ever-growing stack at its
// limit, and the movie plays on; requests for addresses reach nothing outside
// the movie's folder, and FSCommand runs nothing.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "flash/avm1/avm1.h"
#include "flash/url_gate.h"
#include "swf/limits.h"
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;
namespace fs = std::filesystem;

namespace {

struct MovieRun {
    std::vector<std::string> traces;
    std::vector<std::string> log;
    uint32_t frame = 0;
};

MovieRun Play(std::unique_ptr<Player> player, int frames, std::optional<Avm1Options> options = std::nullopt) {
    MovieRun run;
    if (!player) return run;
    if (options) player->SetScriptHost(MakeAvm1ScriptHost(*options));
    Traces traces;
    player->SetTraceSink(&traces);
    player->SetLogSink([&](std::string_view line) { run.log.emplace_back(line); });
    for (int i = 0; i < frames; ++i) player->Advance();
    run.traces = traces.lines;
    run.frame = player->CurrentFrame();
    return run;
}

bool Logged(const MovieRun& run, const std::string& text) {
    for (const auto& line : run.log)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

// A folder of its own for each test, removed afterwards.
struct TempFolder {
    fs::path path;
    explicit TempFolder(const std::string& name)
        : path(fs::temp_directory_path() / ("qm_limits_" + name + "_" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    void Write(const fs::path& name, const std::string& text) const {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
    }
};

}  // namespace

// The loop of frame 1 is stopped by the time limit, with it the rest of the
// frame's scripts; frame 2 plays and runs its own script.
TEST(ScriptLimits, EndlessLoopIsStoppedByTheFrameTimeLimit) {
    w::Movie movie({.version = 8});
    movie.doAction(w::Actions().label("top").jump("top"));
    movie.doAction(w::Actions().push({"same frame"}).trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
    movie.showFrame();
    MovieRun run = Play(Load(movie), 2, Avm1Options{.script_seconds_per_frame = 0.2});
    EXPECT_EQ(run.traces, std::vector<std::string>{"frame 2"});
    EXPECT_EQ(run.frame, 1u);
    EXPECT_TRUE(Logged(run, "a script ran too long (more than 0.2 seconds in one frame) and was stopped"));
}

// Calls nest up to the limit, the action list counting as the first level, as
// the reference player counts; a ScriptLimits tag sets the limit. The list
// that overflowed stops, the next frame's scripts run.
TEST(ScriptLimits, RecursionStopsAtTheMovieDepth) {
    const struct {
        std::optional<uint16_t> tag_depth;
        size_t calls;
    } cases[] = {{std::nullopt, 255}, {5, 4}, {40, 39}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.calls);
        w::Movie movie({.version = 8});
        if (c.tag_depth) movie.rawTag(65, {uint8_t(*c.tag_depth), uint8_t(*c.tag_depth >> 8), 10, 0});
        // function f() { trace("call"); f(); }  f(); trace("after");
        movie.doAction(w::Actions()
                           .defineFunction("f", {}, w::Actions().push({"call"}).trace().push({0, "f"}).callFunction().pop())
                           .push({0, "f"})
                           .callFunction()
                           .pop()
                           .push({"after"})
                           .trace());
        movie.showFrame();
        movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
        movie.showFrame();
        MovieRun run = Play(Load(movie), 2);
        // The machine stack guard may stop a sanitized build earlier than 256 levels.
        if (c.tag_depth) ASSERT_EQ(run.traces.size(), c.calls + 1);
        else ASSERT_LE(run.traces.size(), c.calls + 1);
        EXPECT_EQ(run.traces.back(), "frame 2");
        std::string depth = std::to_string(c.tag_depth.value_or(256));
        EXPECT_TRUE(Logged(run, depth + " levels of recursion were exceeded in one action list"));
    }
}

// A loop that only pushes is stopped when its stack holds more than the limit.
TEST(ScriptLimits, EverGrowingStackIsStopped) {
    w::Movie movie({.version = 8});
    movie.doAction(w::Actions().label("top").push({1, 2, 3, 4}).jump("top"));
    movie.showFrame();
    movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
    movie.showFrame();
    MovieRun run = Play(Load(movie), 2);
    EXPECT_EQ(run.traces, std::vector<std::string>{"frame 2"});
    EXPECT_TRUE(Logged(run, "a script put more than " + std::to_string(qm::limits::kMaxActionStack) +
                                " values on its stack and was stopped"));
}

// A text that doubles in a loop, built by each way scripts join texts, stops its script at the
// text limit with one log line, however many frames do it again; the movie plays on.
TEST(ScriptLimits, TextGrownWithoutBoundStopsItsScript) {
    struct Case {
        const char* how;
        std::function<void(w::Actions&)> grow;  // the text on the stack, twice as long after
    } cases[] = {
        {"+", [](w::Actions& a) { a.pushDuplicate().add2(); }},
        {"add", [](w::Actions& a) { a.pushDuplicate().stringAdd(); }},
        {"concat", [](w::Actions& a) { a.pushDuplicate().push({1}).stackSwap().push({"concat"}).callMethod(); }},
        {"join",
         [](w::Actions& a) {
             a.pushDuplicate().push({2}).initArray().push({""}).stackSwap().push({1}).stackSwap();
             a.push({"join"}).callMethod();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        w::Movie movie({.version = 8});
        for (const char* frame : {"frame 1", "frame 2"}) {
            w::Actions script;
            script.push({frame}).trace().push({"s", "x"}).setVariable();
            script.label("top").push({"s", "s"}).getVariable();
            c.grow(script);
            script.setVariable().jump("top");
            movie.doAction(script);
            movie.showFrame();
        }
        MovieRun run = Play(Load(movie), 2);
        EXPECT_EQ(run.traces, (std::vector<std::string>{"frame 1", "frame 2"}));
        EXPECT_EQ(run.log, (std::vector<std::string>{"a script built a text of more than " +
                                                     std::to_string(qm::limits::kMaxScriptTextBytes >> 20) +
                                                     " MiB and was stopped"}));
    }
}

// The gate on real folders: what may be read lies in the movie's folder or
// below, found through its real path.
TEST(UrlGate, OnlyFilesInsideTheMovieFolderPass) {
    TempFolder root("gate");
    const fs::path folder = root.path / "movie";
    root.Write("movie/data.xml", "d");
    root.Write("movie/sub/inner.xml", "i");
    root.Write("movie/two words.xml", "t");
    root.Write("x.swf", "outside");
    root.Write("outdir/y.swf", "outside");
    fs::create_symlink(root.path / "x.swf", folder / "link.swf");
    fs::create_directory_symlink(root.path / "outdir", folder / "outlink");
    fs::create_symlink(folder / "data.xml", folder / "inlink.xml");
    const std::string inside = "it lies outside the movie's folder";
    const std::string network = "a movie's scripts do not reach the network";
    const struct {
        std::string url;
        std::string reason;  // empty: allowed
        fs::path file = {};
    } cases[] = {
        {"data.xml", "", folder / "data.xml"},
        {"sub/inner.xml", "", folder / "sub" / "inner.xml"},
        {"sub\\inner.xml", "", folder / "sub" / "inner.xml"},
        {"./sub/../data.xml?time=1#top", "", folder / "data.xml"},
        {"two%20words.xml", "", folder / "two words.xml"},
        {"inlink.xml", "", folder / "data.xml"},
        {"file://" + (folder / "data.xml").string(), "", folder / "data.xml"},
        {"FILE://localhost" + (folder / "sub/inner.xml").string(), "", folder / "sub" / "inner.xml"},
        {"../x.swf", inside},
        {"..\\x.swf", inside},
        {"%2e%2e/x.swf", inside},
        {"sub/../../x.swf", inside},
        {"../missing.swf", inside},
        {"link.swf", inside},
        {"outlink/y.swf", inside},
        {"file:///etc/passwd", inside},
        {"/etc/passwd", inside},
        {(root.path / "x.swf").string(), inside},
        {"file://server/share/x.swf", "files of other machines are not reached"},
        {"http://example.com/x.swf", network},
        {"HTTPS://example.com/data.xml", network},
        {"ftp://example.com/x.swf", network},
        {"javascript:alert(1)", "addresses of the kind \"javascript:\" are not followed"},
        {"C:\\x.swf", "addresses of the kind \"c:\" are not followed"},
        {"missing.xml", "there is no such file in the movie's folder"},
        {"sub", "it is not a regular file"},
        {".", "it lies outside the movie's folder"},
        {"", "it names no file"},
        {"data.xml%00.swf", "the path holds a NUL character"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        UrlDecision d = ConfineToMovieFolder(folder.string(), c.url);
        EXPECT_EQ(d.allowed, c.reason.empty());
        EXPECT_EQ(d.reason, c.reason);
        if (d.allowed) EXPECT_EQ(d.path, fs::canonical(c.file).string());
    }
    EXPECT_EQ(ConfineToMovieFolder("", "data.xml").reason, "the movie was not opened from a folder");
}

// The movie's own requests: getURL of a system file and loadMovie of a file
// above the folder are refused with a log line, a sibling passes the gate,
// FSCommand is logged and nothing is run; the movie plays on.
TEST(UrlGate, MovieRequestsGoThroughTheGate) {
    TempFolder root("requests");
    root.Write("x.swf", "outside");
    root.Write("movie/sibling.swf", "inside");
    root.Write("marker", "");
    const fs::path marker = root.path / "marker";
    w::Movie movie({.version = 8});
    movie.doAction(w::Actions()
                       .getUrl("file:///etc/passwd", "_self")
                       .push({"../x.swf", "_root"})
                       .getUrl2(0x40)  // loadMovie
                       .push({"sibling.swf", "_level1"})
                       .getUrl2(0x00)  // loadMovieNum
                       .push({"http://example.com/vars.txt", "_root"})
                       .getUrl2(0xC1)  // loadVariables with GET
                       .getUrl("FSCommand:exec", "rm " + marker.string())
                       .push({"frame 1"})
                       .trace());
    movie.showFrame();
    movie.doAction(w::Actions().push({"frame 2"}).trace().stop());
    movie.showFrame();
    root.Write("movie/test.swf", [&] {
        w::Bytes b = movie.bytes();
        return std::string(b.begin(), b.end());
    }());
    LoadResult loaded = Player::LoadFile((root.path / "movie" / "test.swf").string());
    ASSERT_TRUE(loaded.player) << loaded.error;
    MovieRun run = Play(std::move(loaded.player), 2);
    EXPECT_EQ(run.traces, (std::vector<std::string>{"frame 1", "frame 2"}));
    EXPECT_EQ(run.log, (std::vector<std::string>{
                           "get URL refused: \"file:///etc/passwd\" for \"_self\": it lies outside the movie's folder",
                           "load refused: \"../x.swf\": it lies outside the movie's folder",
                           "loaded movie not played: \"sibling.swf\": the file is too short to be a movie",
                           "load refused: \"http://example.com/vars.txt\": a movie's scripts do not reach the "
                           "network",
                           "FSCommand ignored, no program is run for a movie: \"FSCommand:exec\" for \"rm " +
                               marker.string() + "\"",
                       }));
    EXPECT_TRUE(fs::exists(marker));
}
