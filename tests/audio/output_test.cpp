// The audio output layer: the silent output keeps real time by its clock,
// the interception points see the format and every block, WAV files hold
// what was written.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "audio/audio.h"

namespace qm::audio {
namespace {

namespace fs = std::filesystem;

// Time moves only when the output sleeps.
struct FakeClock : Clock {
    std::atomic<int64_t> now{1000000};
    int64_t NowMicros() override { return now; }
    void SleepUntil(int64_t micros) override {
        int64_t t = now;
        while (micros > t && !now.compare_exchange_weak(t, micros)) {
        }
    }
};

struct Recorder : OutputHook {
    std::mutex lock;
    std::vector<WaveFormat> formats;
    std::vector<std::vector<int16_t>> blocks;
    std::vector<int64_t> times;
    Clock* clock = nullptr;
    void Opened(const WaveFormat& format) override {
        std::lock_guard<std::mutex> g(lock);
        formats.push_back(format);
    }
    void BlockWritten(const void* data, size_t bytes) override {
        std::lock_guard<std::mutex> g(lock);
        auto* p = static_cast<const int16_t*>(data);
        blocks.emplace_back(p, p + bytes / 2);
        if (clock) times.push_back(clock->NowMicros());
    }
};

struct HookGuard {
    explicit HookGuard(OutputHook* h) { hooks::Install(h); }
    ~HookGuard() {
        hooks::SetOpenHookOn(false);
        hooks::SetWriteHookOn(false);
        hooks::Install(nullptr);
    }
};

std::vector<int16_t> Block(int16_t value, size_t frames) { return std::vector<int16_t>(frames * 2, value); }

TEST(SilentOutput, TakesEachBlockWhenADeviceWouldPlayIt) {
    FakeClock clock;
    Recorder rec;
    rec.clock = &clock;
    HookGuard guard(&rec);
    hooks::SetOpenHookOn(true);
    hooks::SetWriteHookOn(true);
    const WaveFormat format = WaveFormat::Pcm16(44100, 2);
    auto out = OpenSilentOutput(format, &clock);
    EXPECT_EQ(out->Name(), "silent");
    for (int i = 0; i < 10; ++i) {
        auto b = Block(int16_t(i + 1), 441);  // 10 ms each
        ASSERT_TRUE(out->Write(b.data(), 441));
    }
    out->Drain();
    out->Close();
    EXPECT_FALSE(out->Write(Block(1, 1).data(), 1));
    std::lock_guard<std::mutex> g(rec.lock);
    ASSERT_EQ(rec.formats.size(), 1u);
    EXPECT_EQ(rec.formats[0], format);
    EXPECT_EQ(rec.formats[0].avg_bytes_per_sec, 176400u);
    ASSERT_EQ(rec.blocks.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(rec.blocks[size_t(i)], Block(int16_t(i + 1), 441));
        // Block i starts i * 10 ms after the first.
        EXPECT_EQ(rec.times[size_t(i)], 1000000 + i * 10000) << i;
    }
    EXPECT_EQ(out->PlayedFrames(), 4410u);
}

TEST(SilentOutput, SwitchesDecideWhatTheHookSees) {
    FakeClock clock;
    Recorder rec;
    HookGuard guard(&rec);
    hooks::SetOpenHookOn(true);
    auto out = OpenSilentOutput(WaveFormat::Pcm16(22050, 1), &clock);
    auto b = Block(5, 100);
    out->Write(b.data(), 100);
    out->Drain();
    hooks::SetWriteHookOn(true);
    out->Write(b.data(), 100);
    out->Drain();
    hooks::SetWriteHookOn(false);
    out->Write(b.data(), 100);
    out->Drain();
    out.reset();
    std::lock_guard<std::mutex> g(rec.lock);
    EXPECT_EQ(rec.formats.size(), 1u);
    EXPECT_EQ(rec.blocks.size(), 1u);
}

TEST(SilentOutput, KeepsRealTimeAndHoldsBackAFastProducer) {
    auto out = OpenSilentOutput(WaveFormat::Pcm16(44100, 2));
    const auto start = std::chrono::steady_clock::now();
    auto b = Block(1, 882);  // 20 ms
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(out->Write(b.data(), 882));  // 600 ms
    const double written = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out->Drain();
    const double drained = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Wide margins: only "not faster than real time" matters.
    EXPECT_GT(written, 0.25);   // 600 ms less the output's latency of 200 ms
    EXPECT_GT(drained, 0.45);   // the last block starts 580 ms after the first
    EXPECT_EQ(out->PlayedFrames(), 30u * 882);
}

TEST(Output, OpensOnAnyMachineAndPlays) {
    std::string note;
    auto out = OpenOutput(WaveFormat::Pcm16(44100, 2), &note);
    ASSERT_TRUE(out);
    EXPECT_FALSE(note.empty());
    out->SetVolume(150);
    EXPECT_EQ(out->Volume(), 100);
    out->SetMuted(true);
    auto b = Block(1000, 441);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(out->Write(b.data(), 441));
    out->Close();
}

TEST(WavWriter, WritesAPlainPcmFileWithItsSizes) {
    const fs::path path = fs::temp_directory_path() / ("qm_wav_" + std::to_string(::getpid()) + ".wav");
    WavWriter wav;
    std::string error;
    ASSERT_TRUE(wav.Open(path.string(), WaveFormat::Pcm16(44100, 2), error)) << error;
    auto b = Block(-2, 10);
    ASSERT_TRUE(wav.Write(b.data(), b.size() * 2, error));
    ASSERT_TRUE(wav.Write(b.data(), b.size() * 2, error));
    ASSERT_TRUE(wav.Finish(error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(path);
    ASSERT_EQ(f.size(), 44u + 80);
    auto u32 = [&](size_t at) { return uint32_t(f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24); };
    auto u16 = [&](size_t at) { return uint16_t(f[at] | f[at + 1] << 8); };
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
    EXPECT_EQ(u32(4), 36u + 80);
    EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(u32(16), 16u);
    EXPECT_EQ(u16(20), 1);
    EXPECT_EQ(u16(22), 2);
    EXPECT_EQ(u32(24), 44100u);
    EXPECT_EQ(u32(28), 176400u);
    EXPECT_EQ(u16(32), 4);
    EXPECT_EQ(u16(34), 16);
    EXPECT_EQ(std::string(f.begin() + 36, f.begin() + 40), "data");
    EXPECT_EQ(u32(40), 80u);
    EXPECT_EQ(int16_t(u16(44)), -2);

    WavWriter bad;
    EXPECT_FALSE(bad.Open((fs::temp_directory_path() / "qm-no-such-folder" / "x.wav").string(),
                          WaveFormat::Pcm16(44100, 2), error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace qm::audio
