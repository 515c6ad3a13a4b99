// quellmark-cli sound as a user runs it: a written movie in, a WAV file of
// exactly its frames' sound out; one-line errors.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "testing/swfwriter/swfwriter.h"

namespace {

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

class SoundCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qm_sound_cli_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        // 12.5 fps; a 0.1 s tone of value 5000 starts on frame 3.
        w::Movie m({.version = 8, .frameRate = uint16_t(12.5 * 256)});
        w::Bytes pcm;
        for (int i = 0; i < 2205; ++i) pcm.insert(pcm.end(), {0x88, 0x13});
        const uint16_t tone = m.defineSound({.format = 3, .rate = 2}, 2205, pcm);
        for (int f = 0; f < 10; ++f) {
            if (f == 3) m.startSound(tone);
            m.showFrame();
        }
        movie = dir / "movie.swf";
        m.save(movie.string());
    }
    void TearDown() override { fs::remove_all(dir); }

    int Run(const std::string& args, std::string* err = nullptr) {
        const fs::path err_file = dir / "err.txt";
        const std::string cmd = std::string(QM_CLI_PATH) + " sound " + args + " 2>" + err_file.string();
        const int status = std::system(cmd.c_str());
        if (err) {
            std::ifstream in(err_file);
            err->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir, movie;
};

TEST_F(SoundCli, WritesExactlyTheSoundOfTheFrames) {
    const fs::path out = dir / "out.wav";
    ASSERT_EQ(Run(movie.string() + " --frames 7 --out " + out.string()), 0);
    std::ifstream in(out, std::ios::binary);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 7 frames at 12.5 fps: 0.56 s = 24696 sample frames of 4 bytes.
    ASSERT_EQ(f.size(), 44u + 24696 * 4);
    auto sample = [&](size_t frame) { return int16_t(f[44 + frame * 4] | f[45 + frame * 4] << 8); };
    // Frame 3 begins at 3 * 3528 samples; the tone doubles to 4410 at 44.1 kHz.
    EXPECT_EQ(sample(10583), 0);
    EXPECT_EQ(sample(10584), 5000);
    EXPECT_EQ(sample(10584 + 4409), 5000);
    EXPECT_EQ(sample(10584 + 4410), 0);
}

TEST_F(SoundCli, PlaysInRealTimeWithOrWithoutADevice) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(movie.string() + " --frames 10 --play"), 0);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 0.6);  // 10 frames at 12.5 fps last 0.8 s
}

TEST_F(SoundCli, BadUsageAndFailuresSayWhy) {
    struct Case {
        std::string args;
        int code;
        std::string message;
    } cases[] = {
        {"", 2, "no movie given"},
        {movie.string() + " --frames 3", 2, "give either --out or --play"},
        {movie.string() + " --frames x --out a.wav", 2, "--frames must be"},
        {movie.string() + " --out a.wav", 2, "--frames is required"},
        {movie.string() + " --bogus", 2, "unknown option"},
        {(dir / "missing.swf").string() + " --frames 3 --out a.wav", 1, "cannot open"},
        {movie.string() + " --frames 3 --out " + (dir / "no" / "a.wav").string(), 1, "cannot create"},
    };
    for (const Case& c : cases) {
        std::string err;
        EXPECT_EQ(Run(c.args, &err), c.code) << c.args;
        EXPECT_EQ(err.rfind("quellmark-cli sound: ", 0), 0u) << c.args << "\n" << err;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << "\n" << err;
    }
}

}  // namespace
