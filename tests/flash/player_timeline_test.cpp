// Timelines: what each frame shows, in both directions, for the main movie
// and for sprites that run on their own.
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;

TEST(PlayerTimeline, PlacesMovesReplacesAndRemovesFrameByFrame) {
    w::Movie movie({.version = 8});
    uint16_t red = DefineSquare(movie, 200, {255, 0, 0});
    uint16_t blue = DefineSquare(movie, 200, {0, 0, 255});
    movie.setBackgroundColor({10, 20, 30});
    movie.place({.depth = 1, .character = red, .matrix = w::Matrix::translate(100, 40), .name = "a"});
    movie.showFrame();
    movie.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(300, 40)});
    movie.place({.depth = 2, .character = red, .cxform = w::CXForm{.alphaMult = 128}});
    movie.showFrame();
    movie.place({.depth = 1, .character = blue, .move = true});  // replace, keeping the place
    movie.removeObject2(2);
    movie.showFrame();
    auto player = Load(movie);
    ASSERT_TRUE(player);
    EXPECT_EQ(player->TotalFrames(), 3u);

    player->Advance();
    EXPECT_EQ(player->CurrentFrame(), 0u);
    EXPECT_EQ(player->BackgroundColor(), (qm::swf::Rgba{10, 20, 30, 255}));
    ASSERT_EQ(player->Stage().size(), 1u);
    EXPECT_EQ(CharacterAt(player->Stage(), 1), red);
    EXPECT_EQ(player->Stage().At(1)->matrix.tx, 100);
    EXPECT_EQ(player->Stage().At(1)->name, "a");

    player->Advance();
    EXPECT_EQ(player->CurrentFrame(), 1u);
    EXPECT_EQ(player->Stage().At(1)->matrix.tx, 300);
    EXPECT_EQ(player->Stage().At(2)->color_transform.a_mult, 128);

    player->Advance();
    ASSERT_EQ(player->Stage().size(), 1u);
    EXPECT_EQ(CharacterAt(player->Stage(), 1), blue);
    EXPECT_EQ(player->Stage().At(1)->matrix.tx, 300);
    EXPECT_EQ(player->Stage().At(1)->name, "a");
}

// Going back rebuilds the list of the target frame; an instance placed by a
// tag of that frame or earlier survives with its own timeline state.
TEST(PlayerTimeline, GotoBackwardsRebuildsTheDisplayList) {
    w::Movie movie({.version = 8});
    uint16_t square = DefineSquare(movie, 100, {0, 255, 0});
    w::Sprite spinner = movie.sprite();
    for (int i = 0; i < 5; ++i) {
        spinner.place({.depth = 1, .character = square, .move = i > 0, .matrix = w::Matrix::translate(i * 10, 0)});
        spinner.showFrame();
    }
    uint16_t spinner_id = movie.defineSprite(spinner);
    movie.place({.depth = 1, .character = square});
    movie.place({.depth = 5, .character = spinner_id, .name = "spinner"});
    movie.showFrame();                                                    // 0
    movie.place({.depth = 2, .character = square, .matrix = w::Matrix::translate(500, 0)});
    movie.showFrame();                                                    // 1
    movie.removeObject2(1);
    movie.place({.depth = 5, .move = true, .matrix = w::Matrix::translate(0, 900)});
    movie.showFrame();                                                    // 2
    movie.showFrame();                                                    // 3
    auto player = Load(movie);
    player->Stop();
    player->Advance();
    uint64_t spinner_instance = player->Stage().At(5)->instance_id;

    player->GotoFrame(3);
    EXPECT_EQ(CharacterAt(player->Stage(), 1), 0);
    EXPECT_EQ(CharacterAt(player->Stage(), 2), square);
    EXPECT_EQ(player->Stage().At(5)->matrix.ty, 900);
    player->Advance();
    player->Advance();
    uint16_t spinner_frame = player->Stage().At(5)->sprite->current_frame;
    EXPECT_EQ(spinner_frame, 2);

    player->GotoFrame(0);
    EXPECT_EQ(player->CurrentFrame(), 0u);
    EXPECT_EQ(CharacterAt(player->Stage(), 1), square);  // removed in frame 2, back again
    EXPECT_EQ(CharacterAt(player->Stage(), 2), 0);       // placed in frame 1, gone
    const DisplayObject* kept = player->Stage().At(5);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->instance_id, spinner_instance);
    EXPECT_EQ(kept->matrix.ty, 0);  // the attributes of frame 0 again
    EXPECT_EQ(kept->sprite->current_frame, spinner_frame);

    player->GotoFrame(1);
    EXPECT_EQ(CharacterAt(player->Stage(), 2), square);
    EXPECT_EQ(player->Stage().At(2)->matrix.tx, 500);
}

TEST(PlayerTimeline, SpriteKeepsPlayingWhileItsParentStops) {
    w::Movie movie({.version = 8});
    uint16_t square = DefineSquare(movie, 100, {0, 0, 0});
    w::Sprite clip = movie.sprite();
    for (int i = 0; i < 3; ++i) {
        clip.place({.depth = 1, .character = square, .move = i > 0, .matrix = w::Matrix::translate(i * 100, 0)});
        clip.showFrame();
    }
    uint16_t clip_id = movie.defineSprite(clip);
    movie.place({.depth = 1, .character = clip_id});
    movie.doAction(w::Actions().stop());
    movie.showFrame();
    movie.showFrame();
    auto player = Load(movie);

    std::vector<int> clip_x;
    for (int i = 0; i < 5; ++i) {
        player->Advance();
        EXPECT_EQ(player->CurrentFrame(), 0u);
        const DisplayObject* c = player->Stage().At(1);
        ASSERT_TRUE(c && c->sprite);
        clip_x.push_back(int(c->children.At(1)->matrix.tx));
    }
    EXPECT_FALSE(player->IsPlaying());
    EXPECT_EQ(clip_x, (std::vector<int>{0, 100, 200, 0, 100}));
}

TEST(PlayerTimeline, LoopingAndTheEndOfTheMovie) {
    w::Movie movie({.version = 8});
    uint16_t square = DefineSquare(movie, 100, {0, 0, 0});
    movie.showFrame();
    movie.place({.depth = 1, .character = square});
    movie.showFrame();
    movie.showFrame();

    std::vector<uint32_t> looped, stopped;
    auto player = Load(movie);
    for (int i = 0; i < 5; ++i) {
        player->Advance();
        looped.push_back(player->CurrentFrame());
    }
    EXPECT_EQ(looped, (std::vector<uint32_t>{0, 1, 2, 0, 1}));
    player->GotoFrame(0);
    EXPECT_TRUE(player->Stage().empty());

    player = Load(movie);
    player->SetLoop(false);
    for (int i = 0; i < 5; ++i) {
        player->Advance();
        stopped.push_back(player->CurrentFrame());
    }
    EXPECT_EQ(stopped, (std::vector<uint32_t>{0, 1, 2, 2, 2}));
    EXPECT_FALSE(player->IsPlaying());

    // A header promising frames the file lacks: the last real frame stays.
    movie.header.frameCount = 6;
    player = Load(movie);
    for (int i = 0; i < 5; ++i) player->Advance();
    EXPECT_EQ(player->CurrentFrame(), 2u);
    EXPECT_EQ(player->TotalFrames(), 3u);
}

TEST(PlayerTimeline, DamagedMoviePlaysTheFramesThatWereRead) {
    w::Movie movie({.version = 8});
    uint16_t square = DefineSquare(movie, 100, {0, 0, 0});
    movie.place({.depth = 1, .character = square});
    movie.showFrame();
    movie.place({.depth = 2, .character = square});
    movie.showFrame();
    movie.place({.depth = 3, .character = 99});  // no such character: nothing placed
    movie.showFrame();
    qm::swf::Bytes bytes = movie.bytes();
    bytes.resize(bytes.size() - 6);  // cut inside the last placement

    LoadResult r = Player::LoadBytes(bytes);
    ASSERT_TRUE(r.player) << r.error;
    EXPECT_FALSE(r.player->ReadProblems().empty());
    for (int i = 0; i < 4; ++i) r.player->Advance();
    EXPECT_EQ(r.player->CurrentFrame(), 1u);
    EXPECT_EQ(r.player->Stage().size(), 2u);

    LoadResult bad = Player::LoadBytes({'F', 'W', 'S', 8, 1, 2});
    EXPECT_FALSE(bad.player);
    EXPECT_FALSE(bad.error.empty());
    LoadResult missing = Player::LoadFile("/nonexistent/movie.swf");
    EXPECT_FALSE(missing.player);
    EXPECT_FALSE(missing.error.empty());
}
