// Streams read as they play give the same samples whatever the pieces and
// jumps they are read in, and hold only a few blocks at once; decoded event
// sounds stay within their cache's limit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flash/sound/sound.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::flash::sound {
namespace {

using Bytes = std::vector<uint8_t>;

// A block per frame of a changing tone: every sample differs from its
// neighbours, so a sample taken from the wrong place shows.
struct StreamCase {
    std::string name;
    swf::SoundFormat format;
    int rate;  // Hz
    int frames;
};

std::vector<int16_t> Tone(size_t first, size_t count, int channels) {
    std::vector<int16_t> s;
    for (size_t i = first; i < first + count; ++i)
        for (int c = 0; c < channels; ++c)
            s.push_back(int16_t(std::lround(12000 * std::sin(0.013 * double(i) * (1 + c)) + 3000 * std::sin(0.0007 * double(i)))));
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

struct Built {
    swf::SoundStreamHead head;
    std::vector<swf::SoundStreamBlock> blocks;
    StreamBlocks list;
};

// 20 frames a second.
void Build(const StreamCase& c, Built& out) {
    out.head.stream = c.format;
    const int channels = c.format.is_stereo ? 2 : 1;
    const size_t per_frame = size_t(c.rate / 20);
    for (int f = 0; f < c.frames; ++f) {
        const std::vector<int16_t> samples = Tone(size_t(f) * per_frame, per_frame, channels);
        Bytes data = c.format.codec == swf::SoundCodec::Adpcm ? swfwriter::encodeADPCM(samples, 4, channels == 2)
                                                               : Le16(samples);
        out.blocks.push_back({data});
    }
    for (size_t f = 0; f < out.blocks.size(); ++f) out.list.emplace_back(uint16_t(f), out.blocks[f].data);
}

swf::SoundFormat Format(swf::SoundCodec codec, uint8_t rate, bool stereo) {
    swf::SoundFormat f;
    f.codec = codec;
    f.rate = rate;
    f.is_stereo = stereo;
    return f;
}

const StreamCase kCases[] = {
    {"PCM 44 kHz stereo", Format(swf::SoundCodec::UncompressedLittleEndian, 3, true), 44100, 200},
    {"PCM 11 kHz mono", Format(swf::SoundCodec::UncompressedLittleEndian, 1, false), 11025, 200},
    {"ADPCM 22 kHz mono", Format(swf::SoundCodec::Adpcm, 2, false), 22050, 200},
    {"ADPCM 5.5 kHz stereo", Format(swf::SoundCodec::Adpcm, 0, true), 5512, 200},
};

std::vector<int16_t> ReadAll(const std::shared_ptr<const StreamSource>& source, size_t piece) {
    StreamReader reader(source);
    std::vector<int16_t> all;
    for (;;) {
        const size_t at = all.size() / 2;
        all.resize((at + piece) * 2);
        const size_t got = reader.Read(at, all.data() + at * 2, piece);
        all.resize((at + got) * 2);
        if (got < piece) return all;
    }
}

TEST(StreamReading, PiecesAndJumpsGiveTheSamplesOfTheWholeStream) {
    for (const StreamCase& c : kCases) {
        Built b;
        Build(c, b);
        std::string error;
        auto source = StreamSource::Make(b.head, b.list, 20 << 8, error);
        ASSERT_TRUE(source) << c.name << ": " << error;
        const std::vector<int16_t> whole = ReadAll(source, 1 << 20);
        // The length is known before reading and is what reading finds.
        EXPECT_EQ(source->KnownFrames(), whole.size() / 2) << c.name;
        const double source_frames = double(c.rate / 20) * c.frames;
        const double rate = c.rate == 5512 ? 5512.5 : c.rate;
        // ADPCM padding codes may fill a block up to its frame's time.
        EXPECT_GE(double(whole.size() / 2), std::floor(source_frames * 44100 / rate)) << c.name;
        EXPECT_LE(double(whole.size() / 2), 44100.0 * c.frames / 20) << c.name;
        // Pieces of the mixer's sizes, odd ones, one sample at a time.
        for (size_t piece : {size_t(2205), size_t(1), size_t(977), size_t(65536)}) {
            EXPECT_EQ(ReadAll(source, piece), whole) << c.name << ", pieces of " << piece;
        }
        // Jumps back and forth between frame starts and into the middle of
        // blocks, as gotos do, with one reader.
        StreamReader reader(source);
        const uint64_t frames = whole.size() / 2;
        std::vector<int16_t> got(4000 * 2);
        for (uint64_t at : {uint64_t(100000), uint64_t(2205 * 3), frames - 1500, uint64_t(0), uint64_t(2205 * 150 + 17),
                            uint64_t(2205 * 150 + 4017), uint64_t(31)}) {
            const size_t n = reader.Read(at, got.data(), 4000);
            ASSERT_EQ(n, std::min<uint64_t>(4000, frames - at)) << c.name << " at " << at;
            for (size_t i = 0; i < n * 2; ++i) {
                ASSERT_EQ(got[i], whole[size_t(at) * 2 + i]) << c.name << " at " << at << " + " << i / 2;
            }
        }
        // Every frame start is a place in the stream, in frame order.
        uint64_t last = 0;
        for (const auto& [frame, start] : source->FrameStarts()) {
            EXPECT_GE(start, last) << c.name;
            EXPECT_LT(start, frames) << c.name;
            EXPECT_EQ(source->FrameStart(frame), start) << c.name << " frame " << frame;
            last = start;
        }
        EXPECT_FALSE(source->FrameStart(UINT16_MAX)) << c.name;
        // Frames without a block of their own start nothing.
        StreamBlocks even;
        for (const auto& entry : b.list)
            if (entry.first % 2 == 0) even.push_back(entry);
        auto sparse = StreamSource::Make(b.head, even, 20 << 8, error);
        ASSERT_TRUE(sparse) << c.name << ": " << error;
        EXPECT_EQ(sparse->FrameStart(0), 0u) << c.name;
        EXPECT_TRUE(sparse->FrameStart(2)) << c.name;
        EXPECT_FALSE(sparse->FrameStart(1)) << c.name;
        EXPECT_FALSE(sparse->FrameStart(3)) << c.name;
        EXPECT_EQ(source->FrameStarts().size(), size_t(c.frames)) << c.name;
    }
}

TEST(StreamReading, ALongStreamHoldsOnlyAFewBlocks) {
    // Two hours' worth of frames would be a long test: 5000 frames of one
    // block each show the same, as the bound does not depend on the length.
    const StreamCase c{"long", Format(swf::SoundCodec::Adpcm, 3, true), 44100, 5000};
    Built b;
    Build(c, b);
    std::string error;
    auto source = StreamSource::Make(b.head, b.list, 20 << 8, error);
    ASSERT_TRUE(source) << error;
    StreamReader reader(source);
    std::vector<int16_t> frame(2205 * 2);
    size_t most = 0;
    uint64_t at = 0;
    for (int f = 0; f < c.frames; ++f) {
        at += reader.Read(at, frame.data(), 2205);
        most = std::max(most, reader.HeldSamples());
    }
    EXPECT_EQ(at, 2205u * 5000);
    // One frame's block is 2205 stereo samples; the reader holds at most
    // the block it reads and the next.
    EXPECT_LE(most, 2u * 2205 * 2);
    // Jumping from the end to near the start does not decode the stream on the way.
    EXPECT_EQ(reader.Read(2205 * 7, frame.data(), 2205), 2205u);
    EXPECT_LE(reader.HeldSamples(), 2u * 2205 * 2);
}

TEST(StreamReading, BlocksOutOfFrameOrderStillFindEachFrame) {
    // Frame starts are looked up by halving the list, so it must end in frame
    // order whatever order the blocks came in; a frame given twice keeps its last.
    const StreamCase c{"PCM", Format(swf::SoundCodec::UncompressedLittleEndian, 1, false), 11025, 6};
    Built b;
    Build(c, b);
    const StreamBlocks given = {b.list[4], b.list[1], b.list[5], b.list[0], b.list[3], b.list[2], b.list[3]};
    std::string error;
    auto source = StreamSource::Make(b.head, given, 20 << 8, error);
    ASSERT_TRUE(source) << error;
    const auto& starts = source->FrameStarts();
    ASSERT_EQ(starts.size(), 6u);
    for (size_t i = 0; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i].first, i);
        EXPECT_EQ(source->FrameStart(uint16_t(i)), starts[i].second) << "frame " << i;
    }
    // Each frame's block lies where it was given: the last block, frame 3's
    // second, follows all six before it.
    const uint64_t block = 11025 / 20 * 44100 / 11025;
    EXPECT_EQ(source->FrameStart(4), 0u);
    EXPECT_EQ(source->FrameStart(3), 6 * block);
}

TEST(StreamReading, StreamsThatCannotSoundSayWhy) {
    swf::SoundStreamHead head;
    head.stream = Format(swf::SoundCodec::Adpcm, 2, false);
    swf::SoundStreamBlock empty{};
    StreamBlocks list{{0, empty.data}, {1, empty.data}};
    std::string error;
    EXPECT_FALSE(StreamSource::Make(head, list, 20 << 8, error));
    EXPECT_FALSE(error.empty());
    // MP3 blocks that hold only their counts, or no MP3 frame at all.
    head.stream = Format(swf::SoundCodec::Mp3, 2, false);
    swf::SoundStreamBlock counts{{0x40, 0x02, 0, 0}};
    swf::SoundStreamBlock junk{{0x40, 0x02, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
    for (const auto* block : {&counts, &junk}) {
        error.clear();
        list = {{0, block->data}, {1, block->data}};
        EXPECT_FALSE(StreamSource::Make(head, list, 20 << 8, error));
        EXPECT_FALSE(error.empty());
    }
}

std::shared_ptr<const Pcm> PcmOf(size_t bytes) {
    auto pcm = std::make_shared<Pcm>();
    pcm->samples.resize(bytes / sizeof(int16_t));
    return pcm;
}

TEST(DecodedSounds, TheCacheKeepsItsLimitAndTheSoundsInUse) {
    constexpr size_t kMiB = size_t(1) << 20;
    DecodedSoundCache cache(3 * kMiB);
    cache.Insert(99, DecodeResult{nullptr, "damaged"});
    for (uint16_t id = 1; id <= 50; ++id) {
        cache.Insert(id, DecodeResult{PcmOf(kMiB), {}});
        EXPECT_LE(cache.Bytes(), cache.Limit()) << id;
        // Sound 1 is started every time: it is never the one dropped.
        ASSERT_TRUE(cache.Find(1)) << id;
    }
    EXPECT_FALSE(cache.Find(2));
    EXPECT_TRUE(cache.Find(50));
    EXPECT_TRUE(cache.Find(49));
    // Errors stay: a sound that cannot be decoded is not tried again.
    ASSERT_TRUE(cache.Find(99));
    EXPECT_EQ(cache.Find(99)->error, "damaged");
    // A sound bigger than the limit stays alone until the next one comes.
    cache.Insert(60, DecodeResult{PcmOf(5 * kMiB), {}});
    EXPECT_TRUE(cache.Find(60));
    EXPECT_EQ(cache.Bytes(), 5 * kMiB);
    cache.Insert(61, DecodeResult{PcmOf(kMiB), {}});
    EXPECT_FALSE(cache.Find(60));
    EXPECT_LE(cache.Bytes(), cache.Limit());
}

}  // namespace
}  // namespace qm::flash::sound
