// Buttons follow the mouse the host passes in: their shown state, their hit
// area and the actions bound to transitions.
#include "tests/flash/player_test_support.h"

using namespace qm::flash;
using namespace qm::flash::testing;

namespace {

struct ButtonMovie {
    w::Movie movie{{.version = 8}};
    uint16_t up = 0, over = 0, down = 0, hit = 0, button = 0;

    explicit ButtonMovie(bool menu = false) {
        up = DefineSquare(movie, 1000, {255, 0, 0});
        over = DefineSquare(movie, 1000, {0, 255, 0});
        down = DefineSquare(movie, 1000, {0, 0, 255});
        // The hit area is a triangle: the square's lower left half.
        w::Shape tri;
        tri.fill0(tri.addFill(w::FillStyle::solid({0, 0, 0}))).moveTo(0, 0).lineTo(0, 1000).lineTo(1000, 1000).lineTo(0, 0);
        hit = movie.defineShape(tri);
        button = movie.defineButton2(
            {{.states = w::kButtonUp, .character = up, .depth = 1},
             {.states = w::kButtonOver, .character = over, .depth = 1},
             {.states = w::kButtonDown, .character = down, .depth = 1},
             {.states = w::kButtonHit, .character = hit, .depth = 2}},
            {{.conditions = w::kCondIdleToOverUp, .actions = w::Actions().push({"over"}).trace()},
             {.conditions = w::kCondOverUpToOverDown, .actions = w::Actions().push({"press"}).trace()},
             {.conditions = w::kCondOverDownToOverUp, .actions = w::Actions().push({"release"}).trace().stop()},
             {.conditions = w::kCondOutDownToIdle, .actions = w::Actions().push({"release outside"}).trace()},
             {.conditions = w::kCondOverUpToIdle, .actions = w::Actions().push({"out"}).trace()},
             {.conditions = w::kCondOverDownToIdle, .actions = w::Actions().push({"menu out"}).trace()}},
            menu);
        movie.place({.depth = 1, .character = button, .matrix = w::Matrix::translate(2000, 2000)});
        movie.showFrame();
        movie.showFrame();
    }
};

uint16_t Shown(const Player& player) {
    const DisplayObject* b = player.Stage().At(1);
    return b ? CharacterAt(b->children, 1) : 0;
}

}  // namespace

TEST(PlayerButtons, StatesAndActionsFollowTheMouse) {
    ButtonMovie m;
    auto player = Load(m.movie);
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    EXPECT_EQ(Shown(*player), m.up);
    // Inside the square but outside the triangle of the hit area: nothing.
    player->MouseMove(100 + 40, 100 + 10);
    EXPECT_EQ(Shown(*player), m.up);
    player->MouseMove(100 + 10, 100 + 40);
    EXPECT_EQ(Shown(*player), m.over);
    player->MouseDown(100 + 10, 100 + 40);
    EXPECT_EQ(Shown(*player), m.down);
    player->MouseUp(100 + 10, 100 + 40);
    EXPECT_EQ(Shown(*player), m.over);
    // The release action stopped the timeline that holds the button.
    EXPECT_FALSE(player->IsPlaying());
    player->MouseMove(10, 10);
    EXPECT_EQ(Shown(*player), m.up);
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"over", "press", "release", "out"}));
}

// A push button keeps the mouse while pressed; a menu button lets it go.
TEST(PlayerButtons, PushAndMenuButtonsTrackDifferently) {
    {
        ButtonMovie m;
        auto player = Load(m.movie);
        Traces traces;
        player->SetTraceSink(&traces);
        player->Advance();
        player->MouseMove(110, 140);
        player->MouseDown(110, 140);
        player->MouseMove(10, 10);
        EXPECT_EQ(Shown(*player), m.over);
        player->MouseMove(110, 140);
        EXPECT_EQ(Shown(*player), m.down);
        player->MouseMove(10, 10);
        player->MouseUp(10, 10);
        EXPECT_EQ(Shown(*player), m.up);
        EXPECT_EQ(traces.lines, (std::vector<std::string>{"over", "press", "release outside"}));
    }
    {
        ButtonMovie m(true);
        auto player = Load(m.movie);
        Traces traces;
        player->SetTraceSink(&traces);
        player->Advance();
        player->MouseMove(110, 140);
        player->MouseDown(110, 140);
        player->MouseMove(10, 10);
        EXPECT_EQ(Shown(*player), m.up);
        player->MouseUp(10, 10);
        EXPECT_EQ(traces.lines, (std::vector<std::string>{"over", "press", "menu out"}));
    }
}

TEST(PlayerButtons, SimpleButtonRunsItsActionsOnRelease) {
    w::Movie movie({.version = 4});
    uint16_t square = DefineSquare(movie, 1000, {255, 0, 0});
    // The button's one record (all states, hit area too) is a clip holding the square.
    w::Sprite face = movie.sprite();
    face.place({.depth = 1, .character = square});
    face.showFrame();
    uint16_t face_id = movie.defineSprite(face);
    uint16_t button = movie.defineButton({{.character = face_id, .depth = 1}}, w::Actions().push({"clicked"}).trace());
    w::Sprite holder = movie.sprite();
    holder.place({.depth = 1, .character = button, .matrix = w::Matrix::translate(1000, 0)});
    holder.showFrame();
    uint16_t holder_id = movie.defineSprite(holder);
    movie.place({.depth = 1, .character = holder_id, .matrix = w::Matrix::scale(2, 2)});
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    // The button covers 100..200 px (twice 50..100) in both directions.
    player->MouseDown(150, 50);
    player->MouseUp(150, 50);
    player->MouseDown(90, 50);
    player->MouseUp(90, 50);
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"clicked"}));
}

// Keys reach button key handlers wherever the pointer is, and clip handlers
// for any key, a given key, and the mouse.
TEST(PlayerButtons, KeysAndMouseReachKeyAndClipHandlers) {
    w::Movie movie({.version = 6});
    uint16_t square = DefineSquare(movie, 100, {0, 0, 0});
    uint16_t button = movie.defineButton2({{.character = square, .depth = 1}},
                                          {{.conditions = w::keyPress(13), .actions = w::Actions().push({"enter"}).trace()},
                                           {.conditions = w::keyPress('a'), .actions = w::Actions().push({"a"}).trace()}});
    movie.place({.depth = 1, .character = button});
    w::Sprite s = movie.sprite();
    s.showFrame();
    uint16_t clip = movie.defineSprite(s);
    w::Place p{.depth = 2, .character = clip};
    p.clipActions.push_back({.events = w::kClipKeyDown, .actions = w::Actions().push({"key down"}).trace()});
    p.clipActions.push_back({.events = w::kClipKeyPress, .keyCode = 'a', .actions = w::Actions().push({"clip a"}).trace()});
    p.clipActions.push_back({.events = w::kClipMouseDown, .actions = w::Actions().push({"mouse down"}).trace()});
    movie.place(p);
    movie.showFrame();
    auto player = Load(movie);
    Traces traces;
    player->SetTraceSink(&traces);
    player->Advance();
    player->KeyDown(13);
    player->KeyDown('a');
    player->KeyUp('a');
    player->MouseDown(300, 300);
    EXPECT_EQ(traces.lines, (std::vector<std::string>{"key down", "enter", "key down", "clip a", "a", "mouse down"}));
}
