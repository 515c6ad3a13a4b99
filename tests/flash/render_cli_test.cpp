// quellmark-cli render as a user runs it: a written movie in, a PNG out.
#include <gtest/gtest.h>

#include <cairo.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "testing/swfwriter/swfwriter.h"

namespace {

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

struct CliResult {
    int code;
    std::string err;
};

CliResult Cli(const std::string& args, const fs::path& dir) {
    std::string cmd = std::string(QM_CLI_PATH) + " render " + args + " 2>" + (dir / "err.txt").string();
    int status = std::system(cmd.c_str());
    CliResult r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}};
    if (FILE* f = std::fopen((dir / "err.txt").c_str(), "r")) {
        char buf[512];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        r.err.assign(buf, n);
        std::fclose(f);
    }
    return r;
}

class RenderCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qm_render_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        // Frame 1: a red box on the left half; frame 2 moves it to the right half.
        w::Movie m({.version = 8, .frame = w::Rect::pixels(40, 20)});
        m.setBackgroundColor({0, 0, 255});
        w::Shape s;
        s.fill0(s.addFill(w::FillStyle::solid({255, 0, 0}))).rect(0, 0, 400, 400);
        uint16_t id = m.defineShape(s);
        m.place({.depth = 1, .character = id});
        m.showFrame();
        m.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(400, 0)});
        m.showFrame();
        movie = dir / "movie.swf";
        m.save(movie.string());
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir, movie;
};

uint32_t Pixel(cairo_surface_t* s, int x, int y) {
    auto* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
    return reinterpret_cast<uint32_t*>(row)[x];
}

TEST_F(RenderCli, WritesTheStageAfterTheGivenFrames) {
    fs::path out = dir / "out.png";
    ASSERT_EQ(Cli(movie.string() + " --frames 2 --out " + out.string(), dir).code, 0);
    cairo_surface_t* png = cairo_image_surface_create_from_png(out.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 40);
    EXPECT_EQ(cairo_image_surface_get_height(png), 20);
    EXPECT_EQ(Pixel(png, 5, 10), 0xFF0000FFu);   // background where the box was
    EXPECT_EQ(Pixel(png, 25, 10), 0xFFFF0000u);  // the box after moving
    cairo_surface_destroy(png);

    // Another size shows the whole stage letterboxed.
    ASSERT_EQ(Cli(movie.string() + " --frames 1 --out " + out.string() + " --width 80 --height 80", dir).code, 0);
    png = cairo_image_surface_create_from_png(out.c_str());
    EXPECT_EQ(cairo_image_surface_get_width(png), 80);
    EXPECT_EQ(Pixel(png, 10, 40), 0xFFFF0000u);
    EXPECT_EQ(Pixel(png, 60, 40), 0xFF0000FFu);
    cairo_surface_destroy(png);
}

TEST_F(RenderCli, RefusesBadRequestsWithAReason) {
    struct Case {
        std::string args;
        int code;
        std::string says;
    } cases[] = {
        {movie.string() + " --out x.png", 2, "--frames is required"},
        {movie.string() + " --frames -1 --out x.png", 2, "--frames must be"},
        {movie.string() + " --frames 1", 2, "--out is required"},
        {movie.string() + " --frames 1 --out x.png --width 10", 2, "go together"},
        {(dir / "missing.swf").string() + " --frames 1 --out x.png", 1, "missing.swf"},
        {movie.string() + " --frames 1 --out " + (dir / "no" / "such" / "x.png").string(), 1, "cannot write"},
    };
    for (const auto& c : cases) {
        CliResult r = Cli(c.args, dir);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    }
}

}  // namespace
