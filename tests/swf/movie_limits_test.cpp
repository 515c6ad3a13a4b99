// Hostile movies against the reading limits: a declared size or an inflated
// size beyond them is refused before memory is spent on it, a shape beyond
// its record limit is dropped while the movie around it is read, and movies
// of legitimate size are not touched by any of it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstring>

#include "swf/limits.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm::swf;
namespace limits = qm::limits;

namespace {

size_t CountShowFrames(const std::vector<Tag>& tags) {
    size_t n = 0;
    for (const Tag& t : tags) n += std::holds_alternative<ShowFrame>(t.body);
    return n;
}

// A two-frame movie carrying `payload` in a metadata-like tag between the frames.
Bytes PlainMovieWith(const Bytes& payload) {
    w::Movie movie({.version = 8});
    movie.showFrame();
    if (!payload.empty()) movie.rawTag(77, payload, true);
    movie.showFrame();
    return movie.bytes();
}

// The plain movie compressed as a "CWS" file, with the header's length as given.
Bytes Compress(const Bytes& plain, std::optional<uint32_t> declared = std::nullopt, int level = Z_BEST_SPEED) {
    uLongf size = compressBound(uLong(plain.size() - 8));
    Bytes out(8 + size);
    std::copy(plain.begin(), plain.begin() + 8, out.begin());
    out[0] = 'C';
    EXPECT_EQ(compress2(out.data() + 8, &size, plain.data() + 8, uLong(plain.size() - 8), level), Z_OK);
    out.resize(8 + size);
    uint32_t length = declared ? *declared : uint32_t(plain.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(length >> (8 * i));
    return out;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

// The 100-byte movie declaring 4 GiB: refused by its header, so the refusal
// costs no inflating and no buffer (the peak is checked loosely).
TEST(MovieLimits, TinyMovieDeclaringGigabytesIsRefusedAtOnce) {
    Bytes bomb = Compress(PlainMovieWith({}), 0xFFFFFFFFu);
    bomb.resize(100, 0);  // padded to the size of the famous case; the padding is never read
    long before = PeakKilobytes();
    ParseResult r = ParseMovie(bomb);
    EXPECT_LT(PeakKilobytes() - before, 50 * 1024);
    ASSERT_FALSE(r.movie);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->message, "the movie declares 4095 MiB once decompressed, more than the 1024 MiB a movie may have");
    EXPECT_EQ(r.error->offset, 4u);
}

// A claim within the limit still does not decide the allocation: only what
// really inflates is kept, and the movie plays.
TEST(MovieLimits, LargeClaimWithinTheLimitPlaysWhatIsThere) {
    ParseResult r = ParseMovie(Compress(PlainMovieWith({}), uint32_t(limits::kMaxMovieBytes)));
    ASSERT_TRUE(r.movie) << r.error->message;
    EXPECT_EQ(CountShowFrames(r.movie->tags), 2u);
}

// Zeros expand a thousand times: past the check size that is a bomb, below
// it a small movie; data that does not compress passes at any size.
TEST(MovieLimits, InflatingFarBeyondTheFileIsRefusedPastTheCheckSize) {
    Bytes noise(limits::kInflateRatioCheckBytes + (2 << 20));
    uint32_t state = 7;
    for (size_t i = 0; i + 4 <= noise.size(); i += 4) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        std::memcpy(&noise[i], &state, 4);
    }
    const struct {
        const char* name;
        Bytes payload;
        int level;
        bool refused;
    } cases[] = {
        {"zeros past the check size", Bytes(limits::kInflateRatioCheckBytes + (8 << 20), 0), Z_BEST_COMPRESSION, true},
        {"zeros below the check size", Bytes(limits::kInflateRatioCheckBytes / 2, 0), Z_BEST_COMPRESSION, false},
        {"noise past the check size", std::move(noise), Z_NO_COMPRESSION, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = Compress(PlainMovieWith(c.payload), std::nullopt, c.level);
        ParseResult r = ParseMovie(file);
        if (c.refused) {
            ASSERT_FALSE(r.movie);
            EXPECT_EQ(r.error->message, "the compressed movie expands more than 256 times past 32 MiB, which no real "
                                        "movie does; it is refused");
        } else {
            ASSERT_TRUE(r.movie) << r.error->message;
            EXPECT_EQ(CountShowFrames(r.movie->tags), 2u);
            EXPECT_FALSE(r.movie->truncated);
        }
    }
}

// A shape of more records than the limit is kept as an unread tag with a
// warning; the frames around it are read.
TEST(MovieLimits, ShapeBeyondTheRecordLimitIsDroppedAndReadingGoesOn) {
    auto shape = [](size_t edges) {
        Bytes body = {1, 0, 0x00, 0, 0, 0x00};  // id 1, empty RECT, no styles, no style bits
        // Four horizontal edges of two-bit deltas in five bytes: 1 1 0000 0 0 dx(2), ten bits each.
        const Bytes four = {0xC0, 0x70, 0x1C, 0x07, 0x01};
        for (size_t i = 0; i < edges / 4; ++i) body.insert(body.end(), four.begin(), four.end());
        body.push_back(0x00);  // end record
        return body;
    };
    for (size_t edges : {size_t(1000), limits::kMaxShapeRecords + 4}) {
        SCOPED_TRACE(edges);
        w::Movie movie({.version = 8});
        movie.rawTag(2, shape(edges), true);
        movie.showFrame();
        movie.showFrame();
        ParseResult r = ParseMovie(movie.bytes());
        ASSERT_TRUE(r.movie);
        EXPECT_EQ(CountShowFrames(r.movie->tags), 2u);
        const Shape* parsed = BodyIf<Shape>(r.movie->tags[0].body);
        if (edges <= limits::kMaxShapeRecords) {
            ASSERT_TRUE(parsed);
            EXPECT_EQ(parsed->records.size(), edges);
            EXPECT_TRUE(r.movie->warnings.empty());
        } else {
            EXPECT_FALSE(parsed);
            ASSERT_EQ(r.movie->warnings.size(), 1u);
            EXPECT_EQ(r.movie->warnings[0].message, "tag 2: the shape has more than 1048576 records and is not drawn");
        }
    }
}
