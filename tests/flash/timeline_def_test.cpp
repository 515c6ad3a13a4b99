// A timeline's frames read from the movie's bytes: each frame sees its own
// tags and init scripts, in file order, also after the timeline has been moved.
#include <gtest/gtest.h>

#include <map>

#include "flash/timeline_def.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm;

namespace {

// The tags of a frame by their codes, and the sprites of its init scripts.
std::vector<uint16_t> Codes(const flash::TimelineDef& def, uint16_t frame) {
    std::vector<uint16_t> codes;
    for (const flash::FrameTag& t : def.FrameTags(frame)) codes.push_back(t.code);
    return codes;
}

std::vector<uint16_t> InitSprites(const flash::TimelineDef& def, uint16_t frame) {
    std::vector<uint16_t> sprites;
    for (const flash::FrameTag& t : def.FrameTags(frame))
        if (t.IsInitAction()) sprites.push_back(static_cast<uint16_t>(t.body[0] | (t.body[1] << 8)));
    return sprites;
}

}  // namespace

TEST(TimelineDef, FramesViewTheirOwnTagsAcrossMoves) {
    struct Case {
        const char* what;
        bool trailing;  // tags after the last ShowFrame
        bool end;
        size_t frames;
        bool closed;
    };
    const Case cases[] = {
        {"closed by End", false, true, 3, true},
        {"trailing tags make a last frame", true, true, 4, false},
        {"cut without End", false, false, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w::Movie movie({.version = 8});
        movie.place({.depth = 1, .character = 1});
        movie.frameLabel("first");
        movie.doAction(w::Actions().stop());
        movie.doInitAction(5, w::Actions().play());
        movie.showFrame();
        movie.showFrame();  // an empty frame
        movie.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(10, 10)});
        movie.removeObject2(1);
        movie.frameLabel("third");
        movie.doInitAction(6, w::Actions().stop());
        movie.doInitAction(7, w::Actions().stop());
        movie.showFrame();
        if (c.trailing) movie.doAction(w::Actions().play());
        std::vector<uint8_t> bytes = movie.bytes();
        if (!c.end) bytes.resize(bytes.size() - 2);  // the End tag's two bytes
        swf::ParseResult parsed = swf::ParseMovieInPlace(bytes);
        ASSERT_TRUE(parsed.movie);
        const swf::ParsedMovie& m = *parsed.movie;
        // The frames' tags are not decoded into the list; labels and End are.
        for (const swf::Tag& t : m.tags) EXPECT_FALSE(swf::IsFrameTag(t.code)) << t.code;

        std::map<int, flash::TimelineDef> kept;
        {
            flash::TimelineDef built = flash::TimelineDef::Build(m.TagStream(), m.header.version, 3);
            flash::TimelineDef moved = std::move(built);
            kept.emplace(0, std::move(moved));
        }
        std::map<int, flash::TimelineDef> all = std::move(kept);
        const flash::TimelineDef& def = all.at(0);

        ASSERT_EQ(def.FrameCount(), c.frames);
        EXPECT_EQ(def.closed, c.closed);
        EXPECT_EQ(Codes(def, 0), (std::vector<uint16_t>{26, 12, 59}));
        EXPECT_TRUE(def.FrameTags(1).empty());
        EXPECT_EQ(Codes(def, 2), (std::vector<uint16_t>{26, 28, 59, 59}));
        if (c.trailing) {
            EXPECT_EQ(Codes(def, 3), (std::vector<uint16_t>{12}));
        }
        // Every body is a view into the movie's bytes.
        for (uint16_t f = 0; f < def.FrameCount(); ++f)
            for (const flash::FrameTag& t : def.FrameTags(f))
                EXPECT_TRUE(t.body.data() >= m.data.data() && t.body.data() + t.body.size() <= m.data.data() + m.data.size());

        EXPECT_EQ(InitSprites(def, 0), (std::vector<uint16_t>{5}));
        EXPECT_TRUE(InitSprites(def, 1).empty());
        EXPECT_EQ(InitSprites(def, 2), (std::vector<uint16_t>{6, 7}));
        EXPECT_EQ(def.FrameOfLabel("FIRST"), 0);
        EXPECT_EQ(def.FrameOfLabel("third"), 2);
    }
}

// A timeline without tags still has its one frame.
TEST(TimelineDef, EmptyTimelineHasOneFrame) {
    const flash::TimelineDef def = flash::TimelineDef::Build({}, 8, 1);
    ASSERT_EQ(def.FrameCount(), 1);
    EXPECT_TRUE(def.FrameTags(0).empty());
    EXPECT_FALSE(def.closed);
}
