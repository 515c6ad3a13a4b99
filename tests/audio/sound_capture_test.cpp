// The sound capture: the hook engine passes one path's opens and writes on,
// the capture object turns blocks and silences into the raw file, and the
// WAV file describes it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <unistd.h>

#include "audio/sound_capture.h"
#include "tests/sanitizer_wait.h"

namespace qm::audio {
namespace {

namespace fs = std::filesystem;

struct ManualClock : Clock {
    std::atomic<int64_t> now{5000000};
    int64_t NowMicros() override { return now; }
    void SleepUntil(int64_t micros) override { now = std::max<int64_t>(now, micros); }
};

struct LogLines {
    std::vector<std::pair<LogKind, std::string>> lines;
    LogSink sink() {
        return [this](LogKind k, const std::string& s) { lines.emplace_back(k, s); };
    }
    bool Has(LogKind k, const std::string& s) const {
        for (auto& l : lines)
            if (l.first == k && l.second == s) return true;
        return false;
    }
};

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("qm_capture_" + std::to_string(::getpid()) + "_" +
                                            std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

// A capture object on the silent path with its files in a temporary folder.
struct Capture {
    TempDir dir;
    ManualClock clock;
    LogLines log;
    TSoundHook hook{log.sink(), &clock, HookMode::Silent};
    Capture() {
        hook.RawFileName = (dir.path / "brvp_temp.tpz").string();
        hook.WavFileName = (dir.path / "brvA_temp.tpz").string();
    }
    void Add(std::vector<uint8_t> bytes) { hook.AddSamples(bytes.data(), int64_t(bytes.size())); }
    std::vector<uint8_t> Raw() { return ReadAll(hook.RawFileName); }
};

TEST(HookEngine, PassesOnlyItsPathAndSamplesOnlyWhileTheWriteHookIsOn) {
    Capture c;
    c.hook.InstallHooks();
    EXPECT_TRUE(c.log.Has(LogKind::Info, "[hsSilent] Hook"));
    const WaveFormat mono = WaveFormat::Pcm16(22050, 1);
    hooks::NotifyOpened(WaveFormat::Pcm16(8000, 2), OutputPath::Device);
    EXPECT_EQ(c.hook.Format(), WaveFormat::Pcm16(44100, 2));
    hooks::NotifyOpened(mono, OutputPath::Silent);
    EXPECT_EQ(c.hook.Format(), mono);

    const std::vector<uint8_t> block{1, 2, 3, 4}, other{9, 9};
    hooks::NotifyBlock(block.data(), block.size(), OutputPath::Silent);  // not capturing
    c.hook.StartCapture();
    EXPECT_TRUE(hooks::WriteHookOn());
    hooks::NotifyBlock(block.data(), block.size(), OutputPath::Silent);
    hooks::NotifyBlock(other.data(), other.size(), OutputPath::Device);
    c.hook.StopCapture();
    EXPECT_FALSE(hooks::WriteHookOn());
    hooks::NotifyBlock(other.data(), other.size(), OutputPath::Silent);
    EXPECT_EQ(c.Raw(), block);
    EXPECT_TRUE(c.log.Has(LogKind::Info, "[Start Audio Capture]"));
    EXPECT_TRUE(c.log.Has(LogKind::Info, "[Stop Audio Capture]"));
    EXPECT_TRUE(c.log.Has(LogKind::Info, "Add Audio Stream to PCM"));
}

TEST(HookEngine, APathThatCannotBeInterceptedRecordsNothing) {
    struct Other : OutputHook {
        void Opened(const WaveFormat&) override {}
        void BlockWritten(const void*, size_t) override {}
    } other;
    hooks::Install(&other);
    {
        Capture c;
        c.hook.InstallHooks();
        EXPECT_TRUE(c.log.Has(LogKind::Error, "[hsSilent] Hook Failed"));
        c.hook.StartCapture();
        const std::vector<uint8_t> block{1, 2, 3, 4};
        hooks::SetWriteHookOn(true);
        hooks::NotifyBlock(block.data(), block.size(), OutputPath::Silent);
        c.hook.StopCapture();
        EXPECT_TRUE(c.Raw().empty());
    }
    hooks::SetWriteHookOn(false);
    hooks::Install(nullptr);
    EXPECT_EQ(HookMode::Device, ChooseHookMode([] { return true; }));
    EXPECT_EQ(HookMode::Silent, ChooseHookMode([] { return false; }));
}

TEST(SoundCapture, LeadTimeAndGapsAreMeasuredOnTheClock) {
    Capture c;
    c.hook.StartCapture();
    c.clock.now += 350000;
    c.Add({1, 1, 1, 1});
    EXPECT_EQ(c.hook.LeadTime(), 350000);
    c.clock.now += 200000;  // not more than 0.2 s: no zeros
    c.Add({2, 2, 2, 2});
    c.clock.now += 300000;  // 0.3 s at 176400 B/s
    c.hook.AddSamples(nullptr, 0);  // timing only
    c.clock.now += 100000;
    c.Add({3, 3, 3, 3});
    c.hook.StopCapture();
    std::vector<uint8_t> want{1, 1, 1, 1, 2, 2, 2, 2};
    want.resize(want.size() + 52920, 0);
    want.insert(want.end(), {3, 3, 3, 3});
    EXPECT_EQ(c.Raw(), want);
}

// A producer that writes a whole second at once (a movie at 1 frame per
// second) is recorded as one second of sound per block: the output hands
// it on in short periods, so no silence is counted between them.
TEST(SoundCapture, LongBlocksThroughTheSilentOutputGetNoGapZeros) {
    Capture c;
    c.hook.InstallHooks();
    auto output = OpenSilentOutput(WaveFormat::Pcm16(44100, 2), &c.clock);
    c.hook.StartCapture();
    std::vector<int16_t> second(44100 * 2, 300);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(output->Write(second.data(), 44100));
    output->Drain();
    c.hook.StopCapture();
    output->Close();
    const auto raw = c.Raw();
    EXPECT_EQ(raw.size(), 3u * 176400u);
    EXPECT_EQ(std::count(raw.begin(), raw.end(), 0), 0);
}

TEST(SoundCapture, GapZerosAreWholeSampleFrames) {
    Capture c;
    const WaveFormat f = WaveFormat::Pcm16(22050, 1);  // 44100 B/s, align 2
    c.hook.SetFormat(&f);
    c.hook.StartCapture();
    c.Add({7, 7});
    c.clock.now += 250011;  // 11025.48 bytes: 11024
    c.Add({8, 8});
    c.hook.StopCapture();
    EXPECT_EQ(c.Raw().size(), 2u + 11024u + 2u);
}

TEST(SoundCapture, BufferPassingTwoMebibytesStillTakesTheBlockAndTheFileKeepsOrder) {
    Capture c;
    c.hook.StartCapture();
    std::vector<uint8_t> want;
    auto add = [&](size_t n, uint8_t v) {
        std::vector<uint8_t> b(n, v);
        want.insert(want.end(), b.begin(), b.end());
        c.Add(b);
    };
    add(TSoundHook::kBufferBytes - 4, 1);
    add(100, 2);  // passes 2 MiB, still in the same buffer
    add(100, 3);  // goes to the other buffer; the writer writes the first
    add(TSoundHook::kBufferBytes, 4);
    add(10, 5);
    c.hook.StopCapture();
    EXPECT_EQ(c.Raw(), want);
}

// Many small numbered blocks from another thread while the buffers swap:
// the file holds each exactly once, in order.
TEST(SoundCapture, StressOfSmallBlocksLosesAndDoublesNothing) {
    Capture c;
    c.hook.InstallHooks();
    c.hook.StartCapture();
    constexpr uint32_t kBlocks = 40000;
    constexpr size_t kWords = 64;
    std::thread producer([&] {
        std::vector<uint32_t> block(kWords);
        for (uint32_t i = 0; i < kBlocks; ++i) {
            for (size_t w = 0; w < kWords; ++w) block[w] = i * kWords + uint32_t(w);
            hooks::NotifyBlock(block.data(), block.size() * 4, OutputPath::Silent);
        }
    });
    producer.join();
    c.hook.StopCapture();
    const auto raw = c.Raw();
    ASSERT_EQ(raw.size(), size_t(kBlocks) * kWords * 4);
    for (uint32_t k = 0; k < kBlocks * kWords; ++k) {
        uint32_t v;
        std::memcpy(&v, &raw[size_t(k) * 4], 4);
        ASSERT_EQ(v, k) << "at word " << k;
    }
}

TEST(SoundCapture, StopWhileTheAudioThreadStillWritesKeepsAWholeFile) {
    Capture c;
    c.hook.InstallHooks();
    c.hook.StartCapture();
    std::atomic<bool> run{true};
    std::thread producer([&] {
        std::vector<uint8_t> block(4096, 0x5A);
        while (run) hooks::NotifyBlock(block.data(), block.size(), OutputPath::Silent);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.hook.StopCapture();
    const auto size = fs::file_size(c.hook.RawFileName);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run = false;
    producer.join();
    EXPECT_EQ(fs::file_size(c.hook.RawFileName), size);  // nothing after the stop
    EXPECT_EQ(size % 4096, 0u);
    EXPECT_GT(size, 0u);
}

TEST(SoundCapture, TheWriterThreadAndTheCallerNeverLogAtOnce) {
    TempDir dir;
    ManualClock clock;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false}, writerLogging{false};
    // The writer's first line lingers in the sink while the caller stops the capture.
    auto sink = [&](LogKind, const std::string& line) {
        if (inside.fetch_add(1) > 0) overlapped = true;
        if (line == "Add Audio Stream to PCM" && !writerLogging.exchange(true))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        inside.fetch_sub(1);
    };
    TSoundHook hook{sink, &clock, HookMode::Silent};
    hook.RawFileName = (dir.path / "brvp_temp.tpz").string();
    hook.WavFileName = (dir.path / "brvA_temp.tpz").string();
    hook.StartCapture();
    std::vector<uint8_t> full(TSoundHook::kBufferBytes, 1);
    hook.AddSamples(full.data(), int64_t(full.size()));
    hook.AddSamples(full.data(), 4);  // the full buffer goes to the writer
    const auto deadline = std::chrono::steady_clock::now() + qm::test::Wait(10);
    while (!writerLogging && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(writerLogging);
    hook.StopCapture();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(fs::file_size(hook.RawFileName), TSoundHook::kBufferBytes + 4);
}

TEST(SoundCapture, UnwritableRawFileAndEndOfProgramDuringACapture) {
    {
        Capture c;  // the raw file cannot be created: logged, nothing recorded
        c.hook.RawFileName = (c.dir.path / "missing" / "brvp_temp.tpz").string();
        c.hook.StartCapture();
        EXPECT_FALSE(c.hook.Capturing());
        c.Add({1, 2, 3, 4});
        c.hook.StopCapture();
        c.hook.MakeWavFile();
        EXPECT_TRUE(c.hook.AudioEmpty);
        EXPECT_FALSE(fs::exists(c.hook.WavFileName));
        ASSERT_GE(c.log.lines.size(), 2u);
        EXPECT_EQ(c.log.lines[1].first, LogKind::Error);
        EXPECT_NE(c.log.lines[1].second.find("Cannot create file"), std::string::npos);
    }
    TempDir dir;
    const fs::path raw = dir.path / "raw";
    {
        ManualClock clock;
        TSoundHook hook({}, &clock, HookMode::Silent);  // ends while recording
        hook.RawFileName = raw.string();
        hook.StartCapture();
        std::vector<uint8_t> big(TSoundHook::kBufferBytes + 8, 9);
        hook.AddSamples(big.data(), int64_t(big.size()));
        hook.AddSamples(big.data(), 8);
    }
    EXPECT_EQ(fs::file_size(raw), TSoundHook::kBufferBytes + 16);
}

struct HeaderCase {
    const char* name;
    WaveFormat format;
    std::vector<uint8_t> want_36_to_60;
};

TEST(CapturedWav, HeaderBytes) {
    std::vector<uint8_t> zeros(24, 0);
    WaveFormat fl;
    fl.format_tag = 0xFFFE;
    fl.channels = 2;
    fl.samples_per_sec = 48000;
    fl.avg_bytes_per_sec = 384000;
    fl.block_align = 8;
    fl.bits_per_sample = 32;
    fl.extra_size = 22;
    std::vector<uint8_t> ext{22, 0, 32, 0, 0, 0, 0, 0, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    for (const HeaderCase& hc : {HeaderCase{"pcm", WaveFormat::Pcm16(44100, 2), zeros}, HeaderCase{"float", fl, ext}}) {
        SCOPED_TRACE(hc.name);
        const auto a = MakeWavHeader(hc.format, 17640, 1000);
        const std::vector<uint8_t> h(a.begin(), a.end());
        EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
        EXPECT_EQ(Get32(h, 4), 18700u);
        EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Get32(h, 16), 40u);
        EXPECT_EQ(Get16(h, 20), hc.format.format_tag);
        EXPECT_EQ(Get16(h, 22), hc.format.channels);
        EXPECT_EQ(Get32(h, 24), hc.format.samples_per_sec);
        EXPECT_EQ(Get32(h, 28), hc.format.avg_bytes_per_sec);
        EXPECT_EQ(Get16(h, 32), hc.format.block_align);
        EXPECT_EQ(Get16(h, 34), hc.format.bits_per_sample);
        EXPECT_EQ(std::vector<uint8_t>(h.begin() + 36, h.begin() + 60), hc.want_36_to_60);
        EXPECT_EQ(std::string(h.begin() + 60, h.begin() + 64), "data");
        EXPECT_EQ(Get32(h, 64), 18640u);
    }
    const WaveFormat pcm = WaveFormat::Pcm16(44100, 2);
    EXPECT_EQ(LeadSilenceBytes(pcm, 100000), 0u);
    EXPECT_EQ(LeadSilenceBytes(pcm, 100001), 17640u);
    EXPECT_EQ(LeadSilenceBytes(WaveFormat::Pcm16(22050, 1), 100011), 4410u);  // 4410.48 cut to frames
}

TEST(CapturedWav, FileFromARecording) {
    Capture c;
    c.hook.StartCapture();
    c.clock.now += 100001;
    c.Add(std::vector<uint8_t>(1000, 0x11));
    c.hook.StopCapture();
    c.hook.MakeWavFile();
    const auto wav = ReadAll(c.hook.WavFileName);
    ASSERT_EQ(wav.size(), 18708u);
    EXPECT_EQ(Get32(wav, 4), 18700u);
    EXPECT_EQ(Get32(wav, 64), 18640u);
    EXPECT_EQ(std::count(wav.begin() + 68, wav.begin() + 68 + 17640, 0), 17640);
    EXPECT_EQ(std::count(wav.begin() + 68 + 17640, wav.end(), 0x11), 1000);
    EXPECT_FALSE(c.hook.AudioEmpty);
    EXPECT_FALSE(fs::exists(c.hook.RawFileName));
    EXPECT_TRUE(c.log.Has(LogKind::Info, "PCM Stream Conveter to WAV"));
}

TEST(CapturedWav, EmptyMissingOddAndTooLongRecordings) {
    {
        Capture c;  // empty raw file, no lead
        c.hook.StartCapture();
        c.hook.StopCapture();
        c.hook.MakeWavFile();
        const auto wav = ReadAll(c.hook.WavFileName);
        ASSERT_EQ(wav.size(), 68u);
        EXPECT_EQ(Get32(wav, 4), 60u);
        EXPECT_EQ(Get32(wav, 64), 0u);
        EXPECT_TRUE(c.hook.AudioEmpty);
    }
    {
        Capture c;  // never captured: nothing written
        c.hook.MakeWavFile();
        EXPECT_FALSE(fs::exists(c.hook.WavFileName));
        EXPECT_TRUE(c.hook.AudioEmpty);
        ASSERT_EQ(c.log.lines.size(), 1u);
        EXPECT_EQ(c.log.lines[0].first, LogKind::Error);
        EXPECT_NE(c.log.lines[0].second.find("Cannot open file"), std::string::npos);
    }
    {
        Capture c;  // a tag other than PCM and extensible is written as it is
        WaveFormat f = WaveFormat::Pcm16(44100, 2);
        f.format_tag = 3;
        c.hook.SetFormat(&f);
        WriteAll(c.hook.RawFileName, {1, 2, 3, 4});
        c.hook.MakeWavFile();
        EXPECT_TRUE(c.log.Has(LogKind::Error, "Error: wFormatTag=3, not support"));
        const auto wav = ReadAll(c.hook.WavFileName);
        ASSERT_EQ(wav.size(), 72u);
        EXPECT_EQ(Get16(wav, 20), 3);
    }
    {
        Capture c;  // over 4 GiB (a sparse file): refused, no wrong sizes
        WriteAll(c.hook.RawFileName, {});
        fs::resize_file(c.hook.RawFileName, 0x100000000ull);
        c.hook.MakeWavFile();
        EXPECT_FALSE(fs::exists(c.hook.WavFileName));
        EXPECT_FALSE(fs::exists(c.hook.RawFileName));
        EXPECT_TRUE(c.hook.AudioEmpty);
        EXPECT_TRUE(c.log.Has(LogKind::Error, "Operation aborted"));
        EXPECT_FALSE(c.log.Has(LogKind::Info, "PCM Stream Conveter to WAV"));
    }
}

}  // namespace
}  // namespace qm::audio
