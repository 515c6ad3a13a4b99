// Damaged and hostile movies: a clear error with the place where reading
// failed, or the part that could be read; never a crash, a hang or an
// allocation the file cannot justify.
#include <gtest/gtest.h>
#include <zlib.h>

#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm::swf;

namespace {

w::Movie TwoFrameMovie() {
    w::Movie movie({.version = 8});
    movie.frameLabel("one");
    movie.showFrame();
    movie.frameLabel("two");
    movie.showFrame();
    return movie;
}

size_t CountShowFrames(const std::vector<Tag>& tags) {
    size_t n = 0;
    for (const Tag& t : tags) n += std::holds_alternative<ShowFrame>(t.body);
    return n;
}

Bytes Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

}  // namespace

TEST(ParserDamage, RefusesWhatIsNotAMovie) {
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"short", {'F', 'W', 'S'}},
        {"signature", {'f', 'w', 's', 8, 30, 0, 0, 0, 0, 0, 0, 0}},
        {"unknown compression", {'X', 'W', 'S', 8, 30, 0, 0, 0, 0, 0, 0, 0}},
        {"header cut", {'F', 'W', 'S', 8, 30, 0, 0, 0, 0x78, 0x00, 0x05}},
        {"compressed, no length", {'C', 'W', 'S', 8, 8, 0, 0, 0, 0x78, 0x9C}},
        {"compressed garbage", {'C', 'W', 'S', 8, 100, 0, 0, 0, 1, 2, 3, 4, 5, 6}},
        {"lzma garbage", {'Z', 'W', 'S', 13, 100, 0, 0, 0, 5, 0, 0, 0, 0x5D, 0, 0, 1, 0, 0xFF, 0xFF}},
    };
    for (const auto& [name, bytes] : cases) {
        ParseResult r = ParseMovie(bytes);
        EXPECT_FALSE(r.movie) << name;
        ASSERT_TRUE(r.error) << name;
        EXPECT_FALSE(r.error->message.empty()) << name;
    }
}

// A movie cut anywhere keeps the whole frames before the cut and says where
// it ends.
TEST(ParserDamage, CutMovieKeepsTheFramesBeforeTheCut) {
    Bytes full = TwoFrameMovie().bytes();
    const size_t header = 8 + 9 + 4;
    for (size_t cut = header; cut < full.size() - 2; ++cut) {
        Bytes part(full.begin(), full.begin() + cut);
        ParseResult r = ParseMovie(part);
        ASSERT_TRUE(r.movie) << cut;
        for (const Tag& t : r.movie->tags) EXPECT_LT(t.offset, cut) << cut;
        if (r.movie->truncated) {
            EXPECT_GE(r.movie->truncated->offset, header) << cut;
        }
    }
    Bytes cut_in_second_label(full.begin(), full.begin() + full.size() - 6);
    ParseResult r = ParseMovie(cut_in_second_label);
    ASSERT_TRUE(r.movie);
    EXPECT_EQ(CountShowFrames(r.movie->tags), 1u);
    ASSERT_TRUE(r.movie->truncated);
    EXPECT_NE(r.movie->truncated->message.find("past the end"), std::string::npos);
}

TEST(ParserDamage, CutCompressedMovieKeepsWhatInflates) {
    w::Movie movie({.version = 8});
    for (int i = 0; i < 2000; ++i) {
        movie.frameLabel("frame " + std::to_string(i * 7919 % 10007));
        movie.showFrame();
    }
    movie.header.signature = "CWS";
    Bytes full = movie.bytes();
    Bytes part(full.begin(), full.begin() + full.size() / 2);
    ParseResult r = ParseMovie(part);
    ASSERT_TRUE(r.movie) << r.error->message;
    EXPECT_GT(CountShowFrames(r.movie->tags), 1u);
    EXPECT_TRUE(r.movie->truncated);
}

// A header that claims gigabytes does not make the parser allocate them: a
// claim beyond the movie size limit is refused before inflating (claims
// within it are covered by the limits tests).
TEST(ParserDamage, ClaimedLengthDoesNotDecideTheAllocation) {
    w::Movie movie = TwoFrameMovie();
    movie.header.signature = "CWS";
    movie.header.fileLength = 0xFFFFFFF0u;
    ParseResult r = ParseMovie(movie.bytes());
    ASSERT_FALSE(r.movie);
    EXPECT_NE(r.error->message.find("declares"), std::string::npos);
}

// What follows the stored length is not part of the movie.
TEST(ParserDamage, StoredLengthEndsAnUncompressedMovie) {
    w::Movie movie = TwoFrameMovie();
    Bytes full = movie.bytes();
    movie.header.fileLength = uint32_t(full.size() - 8);  // the second label and frame are beyond
    ParseResult r = ParseMovie(movie.bytes());
    ASSERT_TRUE(r.movie);
    EXPECT_EQ(CountShowFrames(r.movie->tags), 1u);
    EXPECT_FALSE(r.movie->warnings.empty());
}

// A tag whose body does not decode is kept as raw bytes with a warning; the
// tags after it are still read.
TEST(ParserDamage, UndecodableTagIsKeptRawAndReadingGoesOn) {
    const struct {
        const char* name;
        uint16_t code;
        Bytes body;
    } cases[] = {
        {"fill count far beyond the body", 32, [] {
             Bytes b = {1, 0, 0x00, 0xFF, 0xFF, 0xFF};  // id, empty RECT, 0xFF + UI16 count 65535
             return b;
         }()},
        {"unknown fill type", 2, {1, 0, 0x00, 1, 0x77}},
        {"shape records without an end", 2, {1, 0, 0x00, 0, 0, 0x11, 0xFF}},
        {"convolution matrix of 255 x 255", 70, {0x00, 0x01, 1, 0, 1, 255, 255, 0, 0, 0x80, 0x3F, 0, 0, 0, 0}},
        {"unknown filter", 70, {0x00, 0x01, 1, 0, 1, 99}},
        {"clip action longer than the tag", 26, {0x80, 1, 0, 0, 0, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0, 0}},
        {"glyph offsets outside the font", 48, {1, 0, 0, 0, 0, 2, 0, 4, 0, 0x40, 0, 0x50, 0}},
        {"alpha offset past the end", 35, {1, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xD8}},
        {"scene count that never ends", 86, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 'a'}},
        {"unterminated label", 43, {'a', 'b', 'c'}},
        {"unknown lossless format", 20, {1, 0, 9, 1, 0, 1, 0}},
        {"glyph field wider than 32 bits", 11, {1, 0, 0x00, 0x00, 40, 8, 0x88, 1, 0, 0x10, 0, 1, 0xFF}},
    };
    for (const auto& c : cases) {
        w::Movie movie({.version = 8});
        movie.rawTag(c.code, c.body, true);
        movie.frameLabel("after");
        movie.showFrame();
        ParseResult r = ParseMovie(movie.bytes());
        ASSERT_TRUE(r.movie) << c.name;
        const ParsedMovie& m = *r.movie;
        ASSERT_EQ(m.warnings.size(), 1u) << c.name;
        EXPECT_GT(m.warnings[0].offset, 20u) << c.name;
        ASSERT_GE(m.tags.size(), 3u) << c.name;
        const auto* raw = std::get_if<UnknownTag>(&m.tags[0].body);
        ASSERT_TRUE(raw) << c.name;
        EXPECT_EQ(raw->code, c.code) << c.name;
        EXPECT_EQ(raw->data, c.body) << c.name;
        EXPECT_EQ(BodyIf<FrameLabel>(m.tags[1].body)->name, "after") << c.name;
        EXPECT_FALSE(m.truncated) << c.name;
    }
}

// Sprites nested inside sprites (which the format does not allow) are read
// to a fixed depth, so a crafted file cannot exhaust the stack.
TEST(ParserDamage, DeepSpriteNestingIsCutOff) {
    Bytes body = {0x40, 0x00, 0x00, 0x00};  // ShowFrame, End
    for (int level = 0; level < 5000; ++level) {
        Bytes outer = {uint8_t(level), uint8_t(level >> 8), 1, 0};
        Bytes header = Le16(uint16_t((39 << 6) | 0x3F));
        uint32_t len = uint32_t(body.size());
        Bytes tag = header;
        for (int i = 0; i < 4; ++i) tag.push_back(uint8_t(len >> (8 * i)));
        tag.insert(tag.end(), body.begin(), body.end());
        outer.insert(outer.end(), tag.begin(), tag.end());
        outer.insert(outer.end(), {0x40, 0x00, 0x00, 0x00});
        body = std::move(outer);
    }
    w::Movie movie({.version = 8});
    movie.rawTag(39, body, true);
    movie.showFrame();
    ParseResult r = ParseMovie(movie.bytes());
    ASSERT_TRUE(r.movie);
    EXPECT_FALSE(r.movie->warnings.empty());
    EXPECT_EQ(CountShowFrames(r.movie->tags), 1u);
}

TEST(ParserDamage, TagLengthBeyondTheFileStopsReading) {
    w::Movie movie({.version = 8});
    movie.showFrame();
    movie.rawBytes({0x3F, 0x03, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});  // DoAction claiming 2 GB
    movie.header.appendEnd = false;
    ParseResult r = ParseMovie(movie.bytes());
    ASSERT_TRUE(r.movie);
    EXPECT_EQ(CountShowFrames(r.movie->tags), 1u);
    ASSERT_TRUE(r.movie->truncated);
    EXPECT_EQ(r.movie->truncated->offset, 8u + 9 + 4 + 2);
}
