// A timeline's frames as views of its lists: each frame sees its own tags and
// init scripts, in file order, also after the timeline has been moved.
#include <gtest/gtest.h>

#include <map>

#include "flash/timeline_def.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm;

namespace {

// The tags of a frame by their codes.
std::vector<uint16_t> Codes(const flash::FrameDef& f) {
    std::vector<uint16_t> codes;
    for (const swf::Tag* t : f.tags) codes.push_back(t->code);
    return codes;
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
        swf::ParseResult parsed = swf::ParseMovie(bytes);
        ASSERT_TRUE(parsed.movie);
        const std::vector<swf::Tag>& tags = parsed.movie->tags;

        std::map<int, flash::TimelineDef> kept;
        {
            flash::TimelineDef built = flash::TimelineDef::Build(tags, 3);
            flash::TimelineDef moved = std::move(built);
            kept.emplace(0, std::move(moved));
        }
        std::map<int, flash::TimelineDef> all = std::move(kept);
        const flash::TimelineDef& def = all.at(0);

        ASSERT_EQ(def.FrameCount(), c.frames);
        EXPECT_EQ(def.closed, c.closed);
        EXPECT_EQ(Codes(def.frames[0]), (std::vector<uint16_t>{26, 12}));
        EXPECT_TRUE(def.frames[1].tags.empty());
        EXPECT_EQ(Codes(def.frames[2]), (std::vector<uint16_t>{26, 28}));
        if (c.trailing) {
            EXPECT_EQ(Codes(def.frames[3]), (std::vector<uint16_t>{12}));
        }
        for (const flash::FrameDef& f : def.frames)
            for (const swf::Tag* t : f.tags) EXPECT_TRUE(t >= tags.data() && t < tags.data() + tags.size());

        ASSERT_EQ(def.frames[0].init_actions.size(), 1u);
        EXPECT_EQ(def.frames[0].init_actions[0]->sprite_id, 5);
        EXPECT_TRUE(def.frames[1].init_actions.empty());
        ASSERT_EQ(def.frames[2].init_actions.size(), 2u);
        EXPECT_EQ(def.frames[2].init_actions[1]->sprite_id, 7);
        EXPECT_EQ(def.FrameOfLabel("FIRST"), 0);
        EXPECT_EQ(def.FrameOfLabel("third"), 2);
    }
}

// A timeline without tags still has its one frame.
TEST(TimelineDef, EmptyTimelineHasOneFrame) {
    const flash::TimelineDef def = flash::TimelineDef::Build({}, 1);
    ASSERT_EQ(def.FrameCount(), 1);
    EXPECT_TRUE(def.frames[0].tags.empty());
    EXPECT_TRUE(def.frames[0].init_actions.empty());
    EXPECT_FALSE(def.closed);
}
