// A movie read for playing keeps its bytes and leaves the tags of frames in
// them: what it lists is what the whole parse lists without those tags, the
// same warnings and cut, and its timelines' streams read back exactly the tags
// the parse read, damaged or cut movies and compressed ones alike.
#include <gtest/gtest.h>

#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm::swf;

namespace {

w::Movie Sample(const std::string& signature) {
    w::Movie movie({.signature = signature, .version = 8});
    w::Shape s;
    s.fill0(s.addFill(w::FillStyle::solid({255, 0, 0})));
    s.moveTo(0, 0).lineTo(200, 0).lineTo(200, 100).lineTo(0, 0);
    const uint16_t shape = movie.defineShape(s);
    w::Sprite clip = movie.sprite();
    clip.place({.depth = 1, .character = shape});
    clip.doAction(w::Actions().stop());
    clip.showFrame();
    clip.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(5, 5)});
    clip.frameLabel("moved");
    clip.showFrame();
    const uint16_t sprite = movie.defineSprite(clip);
    movie.soundStreamHead({.format = 3, .rate = 0}, 100);
    for (int f = 0; f < 4; ++f) {
        if (f == 0) movie.place({.depth = 1, .character = sprite});
        movie.place({.depth = 2, .character = shape, .move = f > 0, .matrix = w::Matrix::translate(f, f)});
        movie.soundStreamBlock(w::Bytes(200, uint8_t(f)));
        if (f == 2) {
            movie.frameLabel("third");
            movie.doInitAction(sprite, w::Actions().play());
            movie.rawTag(26, {0x06});  // a placement cut short: a warning
        }
        movie.showFrame();
    }
    return movie;
}

std::vector<std::pair<uint16_t, uint32_t>> Listed(const std::vector<Tag>& tags, bool frames_too) {
    std::vector<std::pair<uint16_t, uint32_t>> out;
    for (const Tag& t : tags)
        if (frames_too || !IsFrameTag(t.code)) out.emplace_back(t.code, t.offset);
    return out;
}

std::vector<std::pair<uint16_t, uint32_t>> Stored(const ParsedMovie& m, std::span<const uint8_t> stream) {
    std::vector<std::pair<uint16_t, uint32_t>> out;
    for (auto t = ReadStoredTag(stream, 0); t; t = ReadStoredTag(stream, t->next)) {
        out.emplace_back(t->code, uint32_t(stream.data() - m.data.data() + t->position));
        if (t->code == 0) break;
    }
    return out;
}

const Tag* SpriteTag(const std::vector<Tag>& tags) {
    for (const Tag& t : tags)
        if (std::holds_alternative<Sprite>(t.body)) return &t;
    return nullptr;
}

}  // namespace

TEST(ParseInPlace, ListsWhatTheWholeParseListsButFrames) {
    struct Case {
        const char* what;
        std::string signature;
        size_t cut;       // bytes taken off the end
        size_t trailing;  // bytes after the stored length
    };
    const Case cases[] = {
        {"plain", "FWS", 0, 0},
        {"compressed", "CWS", 0, 0},
        {"cut inside the last frame", "FWS", 20, 0},
        {"compressed and cut", "CWS", 30, 0},
        {"bytes after the stored length", "FWS", 0, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = Sample(c.signature).bytes();
        file.resize(file.size() - c.cut);
        file.insert(file.end(), c.trailing, 0x3F);
        const ParseResult whole = ParseMovie(file);
        const ParseResult placed = ParseMovieInPlace(file);
        ASSERT_TRUE(whole.movie && placed.movie);
        const ParsedMovie& a = *whole.movie;
        const ParsedMovie& b = *placed.movie;
        EXPECT_FALSE(a.frames_in_place);
        EXPECT_TRUE(b.frames_in_place);
        EXPECT_EQ(b.header.frame_count, a.header.frame_count);
        ASSERT_EQ(b.warnings.size(), a.warnings.size());
        for (size_t i = 0; i < a.warnings.size(); ++i) {
            EXPECT_EQ(b.warnings[i].message, a.warnings[i].message);
            EXPECT_EQ(b.warnings[i].offset, a.warnings[i].offset);
        }
        ASSERT_EQ(b.truncated.has_value(), a.truncated.has_value());
        if (a.truncated) {
            EXPECT_EQ(b.truncated->offset, a.truncated->offset);
        }

        EXPECT_EQ(Listed(b.tags, true), Listed(a.tags, false));
        EXPECT_EQ(Stored(b, b.TagStream()), Listed(a.tags, true));
        const Tag* sprite_a = SpriteTag(a.tags);
        const Tag* sprite_b = SpriteTag(b.tags);
        ASSERT_TRUE(sprite_a && sprite_b);
        const auto& inner_a = std::get<Sprite>(sprite_a->body).tags;
        EXPECT_EQ(Listed(std::get<Sprite>(sprite_b->body).tags, true), Listed(inner_a, false));
        EXPECT_EQ(Stored(b, b.SpriteTagStream(*sprite_b)), Listed(inner_a, true));
    }
}

// The frames' tags are read back from the bytes as the parse decoded them.
TEST(ParseInPlace, FrameTagsDecodeFromTheBytes) {
    const ParseResult r = ParseMovieInPlace(Sample("CWS").bytes());
    ASSERT_TRUE(r.movie);
    std::vector<uint16_t> depths;
    std::vector<size_t> blocks;
    size_t damaged = 0;
    const auto stream = r.movie->TagStream();
    for (auto t = ReadStoredTag(stream, 0); t; t = ReadStoredTag(stream, t->next)) {
        if (t->code == 26) {
            if (auto p = ParsePlaceObject(t->body, 2, 8)) depths.push_back(p->depth);
            else ++damaged;
        } else if (t->code == 19) {
            blocks.push_back(t->body.size());
        }
    }
    EXPECT_EQ(depths, (std::vector<uint16_t>{1, 2, 2, 2, 2}));
    EXPECT_EQ(damaged, 1u);
    EXPECT_EQ(blocks, (std::vector<size_t>(4, 200)));
}

// Nothing but whole tags is read: a header or a body cut by the end of the stream ends it.
TEST(ParseInPlace, StoredTagsStopWhereTheStreamIsCut) {
    const Bytes stream = {0x43, 0x00,                     // ShowFrame... code 1, length 3
                          1,    2,    3,                  // its body
                          0x7F, 0x00, 9,    0, 0, 0, 1};  // long form, 9 bytes announced, 1 there
    auto first = ReadStoredTag(stream, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, 1);
    EXPECT_EQ(first->body.size(), 3u);
    EXPECT_EQ(first->next, 5u);
    EXPECT_FALSE(ReadStoredTag(stream, first->next));
    EXPECT_FALSE(ReadStoredTag(stream, stream.size()));
    EXPECT_FALSE(ReadStoredTag(std::span<const uint8_t>(stream).first(6), 5));  // one byte of a header
}

// A compressed movie whose data cannot even be started on is refused as the whole parse
// refuses it, with nothing read past what the file holds.
TEST(ParseInPlace, CompressedDataTooShortToStartIsRefused) {
    const Bytes cases[] = {
        {'Z', 'W', 'S', 13, 200, 0, 0, 0, 1, 2, 3},  // LZMA: not even its length and properties
        {'C', 'W', 'S', 8, 200, 0, 0, 0},            // zlib: no data at all
        {'C', 'W', 'S', 8, 200, 0, 0, 0, 0x78},      // zlib: one byte of its header
    };
    for (const Bytes& file : cases) {
        SCOPED_TRACE(std::string(file.begin(), file.begin() + 3));
        const ParseResult whole = ParseMovie(file);
        const ParseResult placed = ParseMovieInPlace(file);
        EXPECT_FALSE(placed.movie);
        ASSERT_EQ(placed.error.has_value(), whole.error.has_value());
        if (whole.error) {
            EXPECT_EQ(placed.error->message, whole.error->message);
        }
    }
}
