// Every coding of the movie format decodes to the mixer's format: a tone
// comes out as the same tone, as long as it went in, at 44.1 kHz stereo.
// Compressed test sounds are made at test time with the ffmpeg program.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "flash/sound/sound.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash::sound {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::vector<int16_t> Sine(double hz, int rate, double seconds, int channels = 1) {
    std::vector<int16_t> s;
    const int n = int(rate * seconds);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c) s.push_back(int16_t(std::lround(16000 * std::sin(2 * M_PI * hz * i / rate))));
    return s;
}

Bytes Le16(const std::vector<int16_t>& s) {
    Bytes b;
    for (int16_t v : s) {
        b.push_back(uint8_t(v & 0xFF));
        b.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return b;
}

// Sign changes of the left channel over the middle of a sound, per second.
double CrossingsPerSecond(const Pcm& pcm) {
    const size_t from = pcm.Frames() / 5, to = pcm.Frames() * 4 / 5;
    int changes = 0;
    for (size_t i = from + 1; i < to; ++i) {
        const int16_t a = pcm.samples[(i - 1) * 2], b = pcm.samples[i * 2];
        if ((a < 0) != (b < 0)) ++changes;
    }
    return changes * double(kRate) / double(to - from);
}

swf::SoundFormat Format(swf::SoundCodec codec, uint8_t rate, bool sixteen = true, bool stereo = false) {
    swf::SoundFormat f;
    f.codec = codec;
    f.rate = rate;
    f.is_16bit = sixteen;
    f.is_stereo = stereo;
    return f;
}

void ExpectTone(const DecodeResult& r, size_t frames, const std::string& name) {
    ASSERT_TRUE(r.pcm) << name << ": " << r.error;
    EXPECT_EQ(r.pcm->Frames(), frames) << name;
    // A 440 Hz tone crosses zero 880 times a second.
    EXPECT_NEAR(CrossingsPerSecond(*r.pcm), 880, 880 * 0.03) << name;
}

TEST(SoundCoding, UncompressedAndAdpcmAtEveryRate) {
    struct Case {
        std::string name;
        swf::SoundFormat format;
        Bytes data;
        uint32_t sample_count;
        size_t frames;  // at 44.1 kHz
    };
    std::vector<Case> cases;
    {
        auto s = Sine(440, 22050, 1);
        cases.push_back({"16-bit little-endian, 22 kHz", Format(swf::SoundCodec::UncompressedLittleEndian, 2), Le16(s),
                         22050, 44100});
        cases.push_back({"16-bit native order, 5.5 kHz", Format(swf::SoundCodec::UncompressedNativeEndian, 0),
                         Le16(Sine(440, 5512, 1)), 5512, 5512 * 8});
    }
    {
        auto s = Sine(440, 44100, 1, 2);
        cases.push_back({"16-bit stereo, 44 kHz", Format(swf::SoundCodec::UncompressedLittleEndian, 3, true, true),
                         Le16(s), 44100, 44100});
    }
    {
        Bytes eight;
        for (int16_t v : Sine(440, 11025, 1)) eight.push_back(uint8_t((v >> 8) + 128));
        cases.push_back({"8-bit, 11 kHz", Format(swf::SoundCodec::UncompressedLittleEndian, 1, false), eight, 11025,
                         44100});
    }
    for (int bits = 2; bits <= 5; ++bits) {
        auto s = Sine(440, 22050, 1);
        cases.push_back({"ADPCM " + std::to_string(bits) + " bits", Format(swf::SoundCodec::Adpcm, 2),
                         swfwriter::encodeADPCM(s, bits), 22050, 44100});
    }
    {
        auto s = Sine(440, 11025, 1, 2);
        cases.push_back({"ADPCM stereo", Format(swf::SoundCodec::Adpcm, 1, true, true),
                         swfwriter::encodeADPCM(s, 4, true), 11025, 44100});
    }
    for (const Case& c : cases) {
        swf::DefineSound def;
        def.format = c.format;
        def.sample_count = c.sample_count;
        def.data = c.data;
        ExpectTone(DecodeEventSound(def), c.frames, c.name);
    }
}

TEST(SoundCoding, AdpcmFollowsTheSourceClosely) {
    auto s = Sine(440, 22050, 0.5);
    for (int bits = 2; bits <= 5; ++bits) {
        NativePcm pcm = DecodeAdpcm(Format(swf::SoundCodec::Adpcm, 2), swfwriter::encodeADPCM(s, bits), s.size());
        ASSERT_EQ(pcm.samples.size(), s.size()) << bits;
        // Packets begin with the exact sample.
        EXPECT_EQ(pcm.samples[0], s[0]);
        EXPECT_EQ(pcm.samples[4096], s[4096]);
        double err = 0, sig = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            err += std::pow(double(pcm.samples[i]) - s[i], 2);
            sig += double(s[i]) * s[i];
        }
        const double snr = 10 * std::log10(sig / err);
        EXPECT_GT(snr, bits * 5.0) << bits << " bits";
    }
}

TEST(SoundCoding, DamagedDataGivesAnErrorOrShortSoundNeverACrash) {
    const Bytes junk = {0xFF, 0xFB, 0x90, 0x00, 0x12, 0x34, 0x56};
    for (auto codec : {swf::SoundCodec::Mp3, swf::SoundCodec::Adpcm, swf::SoundCodec::UncompressedLittleEndian,
                       swf::SoundCodec::Nellymoser, swf::SoundCodec::Speex, swf::SoundCodec(9)}) {
        swf::DefineSound def;
        def.format = Format(codec, 2);
        def.sample_count = 100000;
        def.data = junk;
        DecodeResult r = DecodeEventSound(def);
        if (!r.pcm) EXPECT_FALSE(r.error.empty()) << int(codec);
        else EXPECT_LE(r.pcm->Frames(), 44100u) << int(codec);
        def.data.clear();
        EXPECT_FALSE(DecodeEventSound(def).pcm) << int(codec);
    }
}

// --- codings made by the ffmpeg program

class FfmpegSounds : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg program";
        dir_ = fs::temp_directory_path() / ("qm_sound_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    // A 1 s tone of 440 Hz encoded by ffmpeg into an FLV file; the audio
    // payloads of its tags (without their format byte).
    // With a raw format of its own ("-f alaw"), the whole file is one packet.
    std::vector<Bytes> FlvPackets(const std::string& codec_args, const std::string& name) {
        const fs::path out = dir_ / (name + ".flv");
        const bool raw = codec_args.find("-f ") != std::string::npos;
        const std::string command = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1:sample_rate=44100 " +
                                    codec_args + (raw ? "" : " -f flv") + " '" + out.string() + "'";
        if (std::system(command.c_str()) != 0) return {};
        std::ifstream in(out, std::ios::binary);
        Bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (raw) return {f};
        std::vector<Bytes> packets;
        size_t pos = 9 + 4;
        while (pos + 11 <= f.size()) {
            const size_t size = size_t(f[pos + 1]) << 16 | size_t(f[pos + 2]) << 8 | f[pos + 3];
            if (pos + 11 + size > f.size()) break;
            if (f[pos] == 8 && size > 1) packets.emplace_back(f.begin() + long(pos + 12), f.begin() + long(pos + 11 + size));
            pos += 11 + size + 4;
        }
        return packets;
    }

    static Bytes Join(const std::vector<Bytes>& packets, Bytes prefix = {}) {
        for (const Bytes& p : packets) prefix.insert(prefix.end(), p.begin(), p.end());
        return prefix;
    }

    fs::path dir_;
};

TEST_F(FfmpegSounds, Mp3NellymoserSpeexAndG711Decode) {
    struct Case {
        std::string name, args;
        swf::SoundFormat format;
        Bytes prefix;
    };
    const Case cases[] = {
        {"MP3 22 kHz", "-c:a libmp3lame -ar 22050 -ac 1 -b:a 32k", Format(swf::SoundCodec::Mp3, 2), {0, 0}},
        {"MP3 44 kHz stereo", "-c:a libmp3lame -ar 44100 -ac 2 -b:a 128k", Format(swf::SoundCodec::Mp3, 3, true, true),
         {0, 0}},
        {"Nellymoser 22 kHz", "-c:a nellymoser -ar 22050 -ac 1", Format(swf::SoundCodec::Nellymoser, 2), {}},
        {"Nellymoser 16 kHz", "-c:a nellymoser -ar 16000 -ac 1", Format(swf::SoundCodec::Nellymoser16k, 0), {}},
        {"Nellymoser 8 kHz", "-c:a nellymoser -ar 8000 -ac 1", Format(swf::SoundCodec::Nellymoser8k, 0), {}},
        {"Speex", "-c:a libspeex -ar 16000 -ac 1", Format(swf::SoundCodec::Speex, 0), {}},
        {"G.711 A-law", "-c:a pcm_alaw -ar 11025 -ac 1 -f alaw", Format(swf::SoundCodec(7), 1), {}},
        {"G.711 mu-law", "-c:a pcm_mulaw -ar 11025 -ac 1 -f mulaw", Format(swf::SoundCodec(8), 1), {}},
    };
    for (const Case& c : cases) {
        std::vector<Bytes> packets = FlvPackets(c.args, std::to_string(&c - cases));
        if (packets.empty()) {
            ADD_FAILURE() << c.name << ": ffmpeg made nothing";
            continue;
        }
        swf::DefineSound def;
        def.format = c.format;
        def.data = Join(packets, c.prefix);
        DecodeResult r = DecodeEventSound(def);
        ASSERT_TRUE(r.pcm) << c.name << ": " << r.error;
        // Codec frames round the length up; encoder delays add a little.
        EXPECT_NEAR(double(r.pcm->Frames()), 44100, 44100 * 0.08) << c.name;
        EXPECT_NEAR(CrossingsPerSecond(*r.pcm), 880, 880 * 0.03) << c.name;
        EXPECT_EQ(r.pcm->mono, !c.format.is_stereo) << c.name;
    }
}

TEST_F(FfmpegSounds, Mp3StreamFramesBeginWhereTheirSeekSamplesSay) {
    // 1 s at 22050 Hz, 20 frames a second: 1102.5 samples per frame, MPEG 2
    // frames of 576 samples handed out so the total never runs ahead.
    std::vector<Bytes> frames = FlvPackets("-c:a libmp3lame -ar 22050 -ac 1 -b:a 32k", "stream");
    ASSERT_FALSE(frames.empty());
    swf::SoundStreamHead head;
    head.stream = Format(swf::SoundCodec::Mp3, 2);
    head.latency_seek = 0;
    std::vector<swf::SoundStreamBlock> blocks;
    size_t next = 0;
    uint64_t given = 0;
    for (int f = 0; next < frames.size(); ++f) {
        const uint64_t ideal_end = uint64_t((f + 1) * 1102.5);
        const uint64_t ideal_start = uint64_t(f * 1102.5);
        Bytes data(4, 0);
        uint16_t count = 0;
        while (next < frames.size() && given + 576 <= ideal_end) {
            data.insert(data.end(), frames[next].begin(), frames[next].end());
            given += 576;
            count += 576;
            ++next;
        }
        const int16_t seek = int16_t(int64_t(ideal_start) - int64_t(given - count));
        data[0] = uint8_t(count), data[1] = uint8_t(count >> 8);
        data[2] = uint8_t(seek), data[3] = uint8_t(uint16_t(seek) >> 8);
        blocks.push_back({data});
    }
    StreamBlocks list;
    for (size_t f = 0; f < blocks.size(); ++f) list.emplace_back(uint16_t(f), blocks[f].data);
    Stream stream = DecodeStream(head, list, 20 << 8);
    ASSERT_TRUE(stream.pcm) << stream.error;
    for (const auto& [frame, start] : stream.frame_start) {
        // Frame f begins at f / 20 s: 2205 samples a frame at 44.1 kHz.
        EXPECT_NEAR(double(start), frame * 2205.0, 2) << frame;
    }
    EXPECT_GE(stream.frame_start.size(), 15u);
    EXPECT_NEAR(double(stream.pcm->Frames()), 44100, 44100 * 0.08);
    // Read as it plays, with jumps back and forth between frames (gotos),
    // the stream gives the samples of the whole.
    std::string error;
    auto source = StreamSource::Make(head, list, 20 << 8, error);
    ASSERT_TRUE(source) << error;
    StreamReader reader(source);
    std::vector<int16_t> got(3000 * 2);
    for (uint16_t frame : {3, 12, 5, 0, 17, 18, 2}) {
        auto start = stream.frame_start.find(frame);
        if (start == stream.frame_start.end()) continue;
        const uint64_t at = start->second + 100;
        const size_t n = reader.Read(at, got.data(), 3000);
        ASSERT_EQ(n, std::min<uint64_t>(3000, stream.pcm->Frames() - at)) << frame;
        for (size_t i = 0; i < n * 2; ++i) ASSERT_EQ(got[i], stream.pcm->samples[size_t(at) * 2 + i]) << frame << " + " << i / 2;
    }
}

}  // namespace
}  // namespace qm::flash::sound
