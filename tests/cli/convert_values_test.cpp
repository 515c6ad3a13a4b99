// quellmark-cli convert checks its picture and sound values as the format window does: the
// window's own messages, before anything is converted, and whatever the format offers passes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/swfwriter/swfwriter.h"

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

namespace {

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string Output(const std::string& cmd) {
    std::string out;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

struct CliRun {
    int exit = -1;
    std::string err;
};

class ConvertValues : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-values-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir_ = pattern;
        fs::create_directories(dir_ / "home");
        fs::create_directories(dir_ / "out");
        // A small square moving over two frames: enough to make a real file quickly.
        w::Movie m({.version = 8, .frame = w::Rect::pixels(160, 120), .frameRate = w::fps(25)});
        w::Shape s;
        s.fill0(s.addFill(w::FillStyle::solid({200, 40, 40}))).rect(0, 0, 40 * 20, 40 * 20);
        const uint16_t id = m.defineShape(s);
        m.place({.depth = 1, .character = id});
        m.showFrame();
        m.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(400, 0)});
        m.showFrame();
        movie_ = (dir_ / "square.swf").string();
        m.save(movie_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    CliRun Convert(const std::vector<std::string>& options, const std::string& output) {
        // A home of its own, so no stored default profile changes the outcome.
        std::string cmd = "HOME=" + Quote((dir_ / "home").string()) + " XDG_CONFIG_HOME=" +
                          Quote((dir_ / "home" / ".config").string()) + " " + Quote(QM_CLI_PATH) + " convert " +
                          Quote(movie_) + " --frames 2 -o " + Quote(output);
        for (const auto& o : options) cmd += " " + Quote(o);
        cmd += " >/dev/null 2>" + Quote((dir_ / "stderr.txt").string());
        const int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_ / "stderr.txt")};
    }
    bool OutputIsEmpty() const { return fs::is_empty(dir_ / "out"); }

    fs::path dir_;
    std::string movie_;
};

const std::string kResolution =
    "Please input an appropriate resolution. (eg: 640x480.Both values must be multiples of 4 and range from "
    "80x80 to 1920x1280)";
const std::string kFrameRate = "Please input an appropriate Frame Rate. (eg: 12.The value must be range from 12 ps to 60 fps)";

TEST_F(ConvertValues, RefusedWithTheWindowsMessageBeforeAnythingIsMade) {
    const struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--resolution", "640X480"}, kResolution},
        {{"--resolution", "x480"}, kResolution},
        {{"--resolution", "640x"}, kResolution},
        {{"--resolution", "1921x480"}, kResolution},
        {{"--resolution", "640x1281"}, kResolution},
        {{"--resolution", "640x480x2"}, kResolution},
        {{"--resolution", "640xabc"}, "'abc' is not a valid integer value"},
        {{"--fps", "11.9"}, kFrameRate},
        {{"--fps", "5"}, kFrameRate},
        {{"--fps", "60.5"}, kFrameRate},
        {{"--fps", "abc"}, kFrameRate},
        // An offered entry passes only as the window shows it.
        {{"--fps", "10"}, kFrameRate},
        {{"--format", "1001", "--fps", "11 fps"}, kFrameRate},
        {{"--video-bitrate", "fast"}, "Please input an appropriate Video BitRate. (eg: 512)"},
        {{"--video-bitrate", "0"}, "Please input an appropriate Video BitRate. (eg: 512)"},
        {{"--audio-bitrate", "kbps"}, "Please input an appropriate Audio BitRate. (eg: 128)"},
        {{"--audio-bitrate", "0"}, "Please input an appropriate Audio BitRate. (eg: 128)"},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const auto& o : c.options) label += o + " ";
        SCOPED_TRACE(label);
        const CliRun r = Convert(c.options, (dir_ / "out" / "movie.mp4").string());
        EXPECT_EQ(r.exit, 2);
        // One line, prefixed as every usage error; the usage text follows.
        EXPECT_EQ(r.err.rfind("quellmark-cli convert: " + c.message + "\n", 0), 0u) << r.err;
        EXPECT_TRUE(OutputIsEmpty());
    }
}

TEST_F(ConvertValues, ValuesTheWindowTakesAreConverted) {
    const struct {
        std::vector<std::string> options;
        std::string size, rate;  // as ffprobe gives them
    } cases[] = {
        {{"--resolution", "320x240", "--fps", "12.5"}, "320x240", "25/2"},
        // Offered by the format although outside the general rules.
        {{"--resolution", "854x480", "--fps", "10 fps"}, "854x480", "10/1"},
        {{"--format", "1001", "--resolution", "1920x1280", "--fps", "60"}, "1920x1280", "60/1"},
        {{"--resolution", "keep", "--fps", "25 fps", "--video-bitrate", "300 kbps", "--audio-bitrate", "96"},
         "160x120", "25/1"},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string label;
        for (const auto& o : c.options) label += o + " ";
        SCOPED_TRACE(label);
        const bool avi = c.options[0] == "--format";
        const std::string out = (dir_ / "out" / ("movie" + std::to_string(n++) + (avi ? ".avi" : ".mp4"))).string();
        const CliRun r = Convert(c.options, out);
        ASSERT_EQ(r.exit, 0) << r.err;
        const std::string probe = "ffprobe -v error -select_streams v:0 -show_entries stream=width,height,r_frame_rate "
                                  "-of csv=p=0:s=x " + Quote(out);
        EXPECT_EQ(Output(probe), c.size + "x" + c.rate);
    }
}

}  // namespace
