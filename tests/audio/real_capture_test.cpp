// A real capture: the player plays a movie through the silent output in
// real time, the capture object records what the output takes, and the WAV
// file places the movie's sound where the movie plays it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

#include "audio/sound_capture.h"
#include "flash/player.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::audio {
namespace {

namespace fs = std::filesystem;
namespace w = qm::swfwriter;

TEST(RealCapture, SoundStartingAtOneSecondBeginsAtOneSecondInTheWavFile) {
    // 10 frames per second; a tone starts on frame 10, at 1.0 s.
    w::Header h;
    h.frameRate = 10 << 8;
    w::Movie m(h);
    w::Bytes tone;
    for (int i = 0; i < 11025; ++i) {
        tone.push_back(uint8_t(12000 & 0xFF));
        tone.push_back(uint8_t(12000 >> 8));
    }
    const uint16_t sound = m.defineSound({3, 3, true, false}, 11025, tone);
    for (int f = 0; f < 20; ++f) {
        if (f == 10) m.startSound(sound);
        m.showFrame();
    }
    flash::LoadResult loaded = flash::Player::LoadBytes(m.bytes());
    ASSERT_TRUE(loaded.player) << loaded.error;
    flash::Player& player = *loaded.player;

    const fs::path dir = fs::temp_directory_path() / ("qm_real_capture_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::vector<std::string> log;
    {
        TSoundHook hook([&](LogKind, const std::string& s) { log.push_back(s); }, &SteadyClock(), HookMode::Silent);
        hook.RawFileName = (dir / "brvp_temp.tpz").string();
        hook.WavFileName = (dir / "brvA_temp.tpz").string();
        hook.InstallHooks();
        auto output = OpenSilentOutput(WaveFormat::Pcm16(flash::Player::kMixRate, flash::Player::kMixChannels));
        hook.StartCapture();
        std::vector<int16_t> block;
        for (uint64_t f = 1; f <= 20; ++f) {
            player.Advance();
            const size_t count = size_t(player.SoundSamplesBefore(f) - player.SoundSamplesBefore(f - 1));
            block.resize(count * flash::Player::kMixChannels);
            player.Mix(block.data(), count);
            ASSERT_TRUE(output->Write(block.data(), count));
        }
        output->Drain();
        hook.StopCapture();
        output->Close();
        hook.MakeWavFile();
        EXPECT_FALSE(hook.AudioEmpty);
    }
    std::ifstream in(dir / "brvA_temp.tpz", std::ios::binary);
    const std::vector<uint8_t> wav{std::istreambuf_iterator<char>(in), {}};
    fs::remove_all(dir);
    ASSERT_GT(wav.size(), 68u);
    const size_t frames = (wav.size() - 68) / 4;
    size_t first = frames;
    for (size_t i = 0; i < frames; ++i) {
        const int16_t left = int16_t(wav[68 + i * 4] | wav[68 + i * 4 + 1] << 8);
        if (std::abs(left) > 1000) {
            first = i;
            break;
        }
    }
    ASSERT_LT(first, frames) << "no sound recorded";
    EXPECT_NEAR(double(first) / 44100.0, 1.0, 0.030);
    EXPECT_EQ(log.front(), "[hsSilent] Hook");
}

}  // namespace
}  // namespace qm::audio
