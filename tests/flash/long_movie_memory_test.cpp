// A long movie takes what its file holds and a few bytes a frame: the tags
// of its frames stay in the movie's bytes and are read as they play, its
// stream sound is read where it is stored, and a player that only draws
// keeps no index of the stream. Counted in bytes the allocator hands out,
// so the cost of a frame is the difference between a short and a long movie.
#include <gtest/gtest.h>
#include <malloc.h>

#include "tests/flash/player_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define QM_COUNTS_BY_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_COUNTS_BY_SANITIZER 1
#endif
#endif
#ifdef QM_COUNTS_BY_SANITIZER
// The sanitizer's runtime counts what it hands out (its header is not installed with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace qm::flash::testing {
namespace {

int64_t AllocatedBytes() {
#ifdef QM_COUNTS_BY_SANITIZER
    return int64_t(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return int64_t(info.uordblks + info.hblkhd);
#endif
}

// A cartoon's frames: three shapes moving, a stream sound block, and now and
// then a frame script.
std::vector<uint8_t> Cartoon(int frames) {
    w::Movie m{w::Header{.frameRate = 12 << 8}};
    const uint16_t ids[3] = {DefineSquare(m, 200, {200, 0, 0}), DefineSquare(m, 300, {0, 200, 0}),
                             DefineSquare(m, 400, {0, 0, 200})};
    constexpr uint16_t kSamples = 5512 / 12;
    m.soundStreamHead({.format = 3, .rate = 0, .sixteenBit = true, .stereo = false}, kSamples);
    for (int f = 0; f < frames; ++f) {
        for (uint16_t d = 0; d < 3; ++d) {
            const int32_t x = (f * 7 + d * 500) % 8000, y = (f * 3 + d * 900) % 6000;
            if (f == 0) m.place({.depth = uint16_t(d + 1), .character = ids[d], .matrix = w::Matrix::translate(x, y)});
            else m.place({.depth = uint16_t(d + 1), .move = true, .matrix = w::Matrix::rotate(f * 0.01, 1, 1, x, y)});
        }
        w::Bytes block(size_t(kSamples) * 2);
        for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 37 + f);
        m.soundStreamBlock(block);
        if (f % 10 == 0) m.doAction(w::Actions().push({"f"}).push({f}).setVariable());
        m.showFrame();
    }
    return m.bytes();
}

struct Held {
    int64_t file = 0;      // the movie file's size
    int64_t loaded = 0;    // beyond the file, once loaded
    int64_t playing = 0;   // beyond that, once played a few frames with its sound
    int64_t drawing = 0;   // a second player that only draws, once played as far
};

Held Measure(int frames) {
    Held held;
    std::vector<uint8_t> file = Cartoon(frames);
    held.file = int64_t(file.size());
    const int64_t start = AllocatedBytes();
    LoadResult r = Player::LoadBytes(std::move(file));
    EXPECT_TRUE(r.player) << r.error;
    if (!r.player) return held;
    held.loaded = AllocatedBytes() - start - held.file;
    Player& player = *r.player;
    const int64_t loaded = AllocatedBytes();
    std::vector<int16_t> sound(size_t(player.SoundSamplesBefore(1)) * 2 + 64);
    for (int i = 0; i < 3; ++i) {
        player.Advance();
        player.Mix(sound.data(), size_t(player.SoundSamplesBefore(1)));
    }
    held.playing = AllocatedBytes() - loaded;
    const int64_t played = AllocatedBytes();
    std::unique_ptr<Player> drawer = player.AnotherOfTheSameMovie();
    drawer->SetSoundDiscarded(true);
    for (int i = 0; i < 3; ++i) drawer->Advance();
    held.drawing = AllocatedBytes() - played;
    return held;
}

TEST(LongMovieMemory, AFrameCostsAFewBytesBeyondTheFile) {
    constexpr int kShort = 100, kLong = 1100;
    const Held short_movie = Measure(kShort);
    const Held long_movie = Measure(kLong);
    // Each frame of the file holds about a kilobyte (its sound block and three moves).
    ASSERT_GT(long_movie.file - short_movie.file, int64_t(kLong - kShort) * 900);
    const auto per_frame = [&](int64_t Held::*part) {
        return double(long_movie.*part - short_movie.*part) / (kLong - kShort);
    };
    // Where each frame's tags lie.
    EXPECT_LE(per_frame(&Held::loaded), 16.0);
    // The stream's index: where each frame's sound begins, and its block.
    EXPECT_LE(per_frame(&Held::playing), 64.0);
    // A player that only draws shares the movie and reads no sound.
    EXPECT_LE(per_frame(&Held::drawing), 2.0);
}

}  // namespace
}  // namespace qm::flash::testing
