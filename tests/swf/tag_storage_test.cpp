// How parsed tags are kept: placements as their stored bytes, decoded when
// played, and large kinds behind a pointer, so that a long movie's tags take
// about the room of its file. Copies and moves of both must own their data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm::swf;

namespace {

ParsedMovie Parse(const w::Movie& movie) {
    ParseResult r = ParseMovie(movie.bytes());
    if (!r.movie) throw std::runtime_error("the movie was not read");
    return std::move(*r.movie);
}

std::vector<const PackedPlaceObject*> Packed(const std::vector<Tag>& tags) {
    std::vector<const PackedPlaceObject*> out;
    for (const Tag& t : tags)
        if (auto* p = std::get_if<PackedPlaceObject>(&t.body)) out.push_back(p);
    return out;
}

bool SameBytes(const PackedPlaceObject& a, const PackedPlaceObject& b) {
    return a.version() == b.version() && std::ranges::equal(a.bytes(), b.bytes());
}

bool KeptInside(const PackedPlaceObject& p) {
    const auto* self = reinterpret_cast<const uint8_t*>(&p);
    return p.bytes().data() >= self && p.bytes().data() + p.bytes().size() <= self + sizeof(p);
}

// A short move, and a placement too long to be kept inside its tag.
w::Movie ShortAndLongPlacements() {
    w::Movie movie({.version = 8});
    movie.place({.depth = 3, .character = 1, .matrix = w::Matrix::translate(20, 40)});
    w::Place full{.depth = 4, .character = 2, .matrix = w::Matrix::rotate(0.5, 2, 2, 100, 200),
                  .cxform = w::CXForm{.alphaMult = 128}, .name = "a clip with a long name", .clipDepth = 9,
                  .filters = {w::Filter::blur(3, 3, 2), w::Filter::glow({5, 6, 7, 8}, 6, 6)}, .blendMode = 3,
                  .className = "Some.Class"};
    full.clipActions.push_back({.events = w::kClipMouseDown, .actions = w::Actions().stop()});
    movie.place(full);
    movie.showFrame();
    return movie;
}

}  // namespace

// The tags of a frame cost their size each; placements and frames are most of a long movie.
TEST(TagStorage, TagsStaySmall) {
    EXPECT_LE(sizeof(Tag), 48u);
    EXPECT_LE(sizeof(PackedPlaceObject), 32u);
}

// A cartoon's moves and placements (matrix with turn and scale, colour transform, ratio)
// are kept inside their tags, without memory of their own, and read back as written.
TEST(TagStorage, CartoonPlacementsAreKeptInsideTheirTags) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(1280, 720)});
    struct Case {
        const char* what;
        w::Place place;
    };
    const Case cases[] = {
        {"new, turned and scaled", {.depth = 2, .character = 1, .matrix = w::Matrix::rotate(2.1, 1.5, 0.75, 25000, 14000)}},
        {"move, turned", {.depth = 2, .move = true, .matrix = w::Matrix::rotate(-0.3, 1, 1, 1, 14399)}},
        {"move with a colour transform",
         {.depth = 2, .move = true, .matrix = w::Matrix::translate(-3000, 9000),
          .cxform = w::CXForm{.redMult = 200, .alphaMult = 100, .alphaAdd = -20}}},
        {"morph ratio", {.depth = 7, .move = true, .matrix = w::Matrix::scale(0.5, 0.5, 100, 100), .ratio = 30000}},
    };
    for (const Case& c : cases) movie.place(c.place);
    movie.showFrame();
    const ParsedMovie m = Parse(movie);
    const auto packed = Packed(m.tags);
    ASSERT_EQ(packed.size(), std::size(cases));
    for (size_t i = 0; i < packed.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_TRUE(KeptInside(*packed[i]));
        const PlaceObject p = packed[i]->Unpack();
        const w::Place& want = cases[i].place;
        EXPECT_EQ(p.depth, want.depth);
        EXPECT_EQ(p.is_move, want.move);
        EXPECT_EQ(p.character_id, want.character);
        ASSERT_TRUE(p.matrix);
        EXPECT_EQ(p.matrix->tx, want.matrix->translateX);
        EXPECT_EQ(p.matrix->ty, want.matrix->translateY);
        EXPECT_NEAR(p.matrix->a, want.matrix->scaleX, 1e-4);
        EXPECT_NEAR(p.matrix->b, want.matrix->rotateSkew0, 1e-4);
        EXPECT_EQ(p.color_transform.has_value(), want.cxform.has_value());
        if (want.cxform) {
            EXPECT_EQ(p.color_transform->a_add, want.cxform->alphaAdd);
        }
        EXPECT_EQ(p.ratio, want.ratio);
    }
}

// Copies and moves, of a placement kept inside its tag and of one kept apart, each own
// their bytes: the original and every copy read back the same after the others are gone.
TEST(TagStorage, PlacementsSurviveCopiesAndMoves) {
    const ParsedMovie original = Parse(ShortAndLongPlacements());
    const auto packed = Packed(original.tags);
    ASSERT_EQ(packed.size(), 2u);
    EXPECT_TRUE(KeptInside(*packed[0]));
    EXPECT_FALSE(KeptInside(*packed[1]));

    std::vector<Tag> copy;
    {
        ParsedMovie scratch = Parse(ShortAndLongPlacements());
        std::vector<Tag> assigned = Parse(ShortAndLongPlacements()).tags;
        assigned = scratch.tags;                 // copy over tags of the same kinds
        std::vector<Tag> moved = std::move(assigned);
        copy = moved;                            // copy of a move
        moved.clear();
        scratch.tags.clear();
    }
    // Copies among the kinds of one list: long over short, short over long, onto itself.
    PackedPlaceObject a = *packed[0], b = *packed[1];
    a = b;
    EXPECT_TRUE(SameBytes(a, *packed[1]));
    b = *packed[0];
    EXPECT_TRUE(SameBytes(b, *packed[0]));
    const PackedPlaceObject& alias = a;
    a = alias;
    EXPECT_TRUE(SameBytes(a, *packed[1]));
    PackedPlaceObject taken = std::move(a);
    EXPECT_TRUE(SameBytes(taken, *packed[1]));
    a = std::move(b);
    EXPECT_TRUE(SameBytes(a, *packed[0]));

    const auto copied = Packed(copy);
    ASSERT_EQ(copied.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(SameBytes(*copied[i], *packed[i])) << i;
    const PlaceObject full = copied[1]->Unpack();
    EXPECT_EQ(full.name, "a clip with a long name");
    EXPECT_EQ(full.class_name, "Some.Class");
    EXPECT_EQ(full.clip_depth, 9);
    ASSERT_TRUE(full.filters);
    EXPECT_EQ(full.filters->size(), 2u);
    ASSERT_TRUE(full.clip_actions);
    EXPECT_EQ(full.clip_actions->records.at(0).actions, (Bytes{0x07, 0x00}));
    EXPECT_EQ(full.blend_mode, BlendMode::Multiply);
    EXPECT_EQ(taken.Unpack().name, "a clip with a long name");
}

// Bytes no read could take (which the reader never packs) place nothing rather than half a record.
TEST(TagStorage, DamagedPackedBytesMoveNothing) {
    const uint8_t cut[] = {0x06, 0x05};  // character and matrix announced, depth cut short
    const PlaceObject p = PackedPlaceObject(cut, 2, 8).Unpack();
    EXPECT_TRUE(p.is_move);
    EXPECT_FALSE(p.character_id);
    EXPECT_FALSE(p.matrix);
}

// Large kinds sit behind a pointer: a copied movie has its own, equal definitions,
// and a body moved away reads as no definition instead of a dangling one.
TEST(TagStorage, BoxedKindsCopyDeeplyAndMoveCleanly) {
    w::Movie movie({.version = 8});
    w::Shape s;
    s.fill0(s.addFill(w::FillStyle::solid({255, 0, 0})));
    s.moveTo(0, 0).lineTo(200, 0).lineTo(200, 100).lineTo(0, 0);
    const uint16_t id = movie.defineShape(s);
    movie.frameLabel("here");
    movie.place({.depth = 1, .character = id});
    movie.showFrame();
    ParsedMovie m = Parse(movie);
    const ParsedMovie copy = m;
    ASSERT_TRUE(BodyIs<Shape>(m.tags[0].body));
    const Shape* mine = BodyIf<Shape>(m.tags[0].body);
    const Shape* theirs = BodyIf<Shape>(copy.tags[0].body);
    ASSERT_TRUE(theirs);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(theirs->id, id);
    EXPECT_EQ(theirs->bounds, mine->bounds);
    EXPECT_EQ(theirs->records.size(), mine->records.size());
    ASSERT_TRUE(BodyIf<FrameLabel>(copy.tags[1].body));
    EXPECT_EQ(BodyIf<FrameLabel>(copy.tags[1].body)->name, "here");

    TagBody taken = std::move(m.tags[0].body);
    EXPECT_EQ(BodyIf<Shape>(taken), mine);
    EXPECT_EQ(BodyIf<Shape>(m.tags[0].body), nullptr);
    EXPECT_FALSE(BodyIs<Shape>(m.tags[0].body));
    EXPECT_EQ(BodyIf<Shape>(copy.tags[0].body), theirs);  // the copy is untouched
}
