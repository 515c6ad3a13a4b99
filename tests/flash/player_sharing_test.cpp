// Players of one movie made from another share what the movie defines and
// nothing of what they play: each starts before its first frame, runs its
// own scripts and outlives the player it came from.
#include <gtest/gtest.h>

#include "tests/flash/player_test_support.h"

namespace qm::flash::testing {
namespace {

// Five frames that count in a variable and trace it; a clip with a
// timeline of its own on the first.
w::Movie CountingMovie() {
    w::Movie m{w::Header{}};
    w::Sprite clip = m.sprite();
    clip.place({.depth = 1, .character = DefineSquare(m, 200, {200, 0, 0})});
    clip.showFrame();
    clip.showFrame();
    const uint16_t clip_id = m.defineSprite(clip);
    for (int f = 0; f < 5; ++f) {
        if (f == 0) {
            m.place({.depth = 1, .character = clip_id});
            m.doAction(w::Actions().push({"n"}).push({0}).setVariable());
        }
        m.doAction(w::Actions().push({"n"}).push({"n"}).getVariable().push({1}).add2().setVariable().push({"n"}).getVariable().trace());
        m.showFrame();
    }
    return m;
}

TEST(SharedMovie, AnotherPlayerStartsAfreshAndOutlivesTheFirst) {
    auto first = Load(CountingMovie());
    ASSERT_TRUE(first);
    Traces first_traces, second_traces;
    first->SetTraceSink(&first_traces);
    for (int i = 0; i < 3; ++i) first->Advance();
    std::unique_ptr<Player> second = first->AnotherOfTheSameMovie();
    second->SetTraceSink(&second_traces);
    // The definitions are the first player's, not a copy.
    EXPECT_EQ(&second->Characters(), &first->Characters());
    EXPECT_EQ(second->TotalFrames(), 5u);
    second->Advance();
    EXPECT_EQ(second->CurrentFrame(), 0u);
    EXPECT_EQ(first->CurrentFrame(), 2u);
    first.reset();
    for (int i = 0; i < 3; ++i) second->Advance();
    EXPECT_EQ(first_traces.lines, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(second_traces.lines, (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(second->CurrentFrame(), 3u);
    ASSERT_TRUE(second->Stage().At(1));
}

}  // namespace
}  // namespace qm::flash::testing
