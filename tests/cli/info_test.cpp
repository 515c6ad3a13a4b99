// quellmark-cli info, run as a user would on movies made by the project's movie writer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/swfwriter/swfwriter.h"

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qm-info-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const w::Bytes& bytes) const {
        const std::string p = (path_ / name).string();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
        return p;
    }
    fs::path path() const { return path_; }

private:
    fs::path path_;
};

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

struct CliRun {
    int exit = -1;
    std::string out, err;
};

CliRun info(const TempDir& dir, const std::vector<std::string>& args) {
    std::string cmd = quote(QM_CLI_PATH) + " info";
    for (const auto& a : args) cmd += " " + quote(a);
    const fs::path out = dir.path() / "stdout.txt", err = dir.path() / "stderr.txt";
    cmd += " >" + quote(out.string()) + " 2>" + quote(err.string());
    const int status = std::system(cmd.c_str());
    CliRun r;
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

w::Bytes movie(w::Header h) {
    w::Movie m(h);
    m.showFrame();
    return m.bytes();
}

}  // namespace

TEST(CliInfo, PrintsTheHeaderFacts) {
    TempDir dir;
    const std::string path = dir.write(
        "movie.swf", movie({.version = 10, .frame = w::Rect::pixels(550, 400), .frameRate = 0x0C80,
                            .frameCount = 65535}));
    const CliRun r = info(dir, {path});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "File:        " + path +
                         "\nSignature:   FWS\nVersion:     10\nCompressed:  no\n"
                         "Stage size:  550x400\nFrame rate:  12.5\nFrame count: 65535\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliInfo, JsonEscapesTheFileName) {
    TempDir dir;
    const std::string path =
        dir.write("say \"hi\".swf", movie({.signature = "CWS", .version = 6, .frameRate = 0x1800}));
    const CliRun r = info(dir, {path, "--json"});
    EXPECT_EQ(r.exit, 0) << r.err;
    std::string escaped = path;
    escaped.replace(escaped.find('"'), 1, "\\\"");
    escaped.replace(escaped.rfind('"'), 1, "\\\"");
    EXPECT_EQ(r.out, "{\"file\": \"" + escaped +
                         "\", \"signature\": \"CWS\", \"version\": 6, \"compressed\": true, "
                         "\"width\": 550, \"height\": 400, \"frameRate\": 24, \"frameCount\": 1}\n");
}

TEST(CliInfo, RefusedFilesExitWithOneAndSayWhy) {
    TempDir dir;
    const w::Bytes good = movie({});
    auto withSignature = [&](const char* sig) {
        w::Bytes b = good;
        std::copy(sig, sig + 3, b.begin());
        return b;
    };
    struct Case {
        std::string name;
        w::Bytes bytes;
        const char* reason;
    } cases[] = {
        {"movie.spl", good, "does not end in .swf"},
        {"lower.swf", withSignature("fws"), "FWS or CWS"},
        {"lzma.swf", withSignature("ZWS"), "FWS or CWS"},
        {"short.swf", {'F', 'W', 'S'}, "too short"},
        {"cut.swf", w::Bytes(good.begin(), good.begin() + 12), "ends inside its header"},
    };
    for (const auto& c : cases) {
        const std::string path = dir.write(c.name, c.bytes);
        const CliRun r = info(dir, {path, "--json"});
        EXPECT_EQ(r.exit, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_NE(r.err.find("Not a Flash movie: " + path), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
    const CliRun missing = info(dir, {(dir.path() / "missing.swf").string()});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST(CliInfo, DamagedCompressedMovieIsAClearError) {
    TempDir dir;
    w::Bytes b = movie({.signature = "CWS"});
    b[8] ^= 0xFF;
    const std::string path = dir.write("damaged.swf", b);
    const CliRun r = info(dir, {path});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "quellmark-cli: " + path + ": The compressed movie data is damaged.\n");
}

TEST(CliInfo, WrongUsageExitsWithTwo) {
    TempDir dir;
    EXPECT_EQ(info(dir, {}).exit, 2);
    EXPECT_EQ(info(dir, {"--frames", "a.swf"}).exit, 2);
    EXPECT_EQ(info(dir, {"a.swf", "b.swf"}).exit, 2);
}
