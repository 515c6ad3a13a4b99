// Every kind of tag the movie writer makes, read back by the movie parser: a layout slip in
// the writer shows up as a warning, a cut stream or a wrong value.
#include <gtest/gtest.h>

#include <numbers>

#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
namespace swf = qm::swf;

namespace {

template <typename T>
std::vector<const T*> all(const std::vector<swf::Tag>& tags) {
    std::vector<const T*> out;
    for (const auto& t : tags)
        if (const auto* b = swf::BodyIf<T>(t.body)) out.push_back(b);
    return out;
}

std::vector<swf::PlaceObject> placements(const std::vector<swf::Tag>& tags) {
    std::vector<swf::PlaceObject> out;
    for (const auto& t : tags)
        if (const auto* p = std::get_if<swf::PackedPlaceObject>(&t.body)) out.push_back(p->Unpack());
    return out;
}

}  // namespace

TEST(MovieWriterRoundTrip, EveryTagReadsBackWithoutComplaint) {
    w::Movie m({.signature = "CWS", .version = 8});
    m.fileAttributes(0x01);
    m.setBackgroundColor({10, 20, 30});

    // Shapes: every fill kind, both line style records, new styles whose indices need the new
    // widths, curves, and an edge too long for one record.
    w::Shape s4;
    const auto focal = s4.addFill(w::FillStyle::focal(w::Matrix::gradientBox(0, 0, 2000, 2000),
                                                      {{0, {255, 0, 0}}, {255, {0, 0, 255, 128}}}, -0.5));
    s4.addFill(w::FillStyle::bitmap(7, w::Matrix::scale(20, 20), false, false));
    s4.addLine({.width = 40, .join = 2, .miterLimit = 2.5, .noHScale = true,
                .fill = w::FillStyle::linear({}, {{0, {1, 1, 1}}, {255, {2, 2, 2}}})});
    s4.fill0(focal).line(1).moveTo(-100, -100).curveTo(500, -900, 1000, 0).lineTo(101000, 0);
    s4.newStyles({w::FillStyle::solid({9, 9, 9}), w::FillStyle::solid({8, 8, 8}),
                  w::FillStyle::solid({7, 7, 7})}, {});
    s4.fill1(3).lineTo(101000, 500);
    const uint16_t shape4 = m.defineShape(s4, 4);
    w::Shape s1;
    s1.line(s1.addLine({.width = 20, .color = {0, 0, 0}})).fill0(s1.addFill(w::FillStyle::solid({255, 255, 255})));
    s1.rect(0, 0, 100, 100);
    m.defineShape(s1, 1);

    w::MorphShape morph;
    morph.fills = {w::MorphFillStyle::radial({}, w::Matrix::scale(2, 2),
                                             {{0, {1, 2, 3}, 10, {4, 5, 6}}, {255, {7, 8, 9}, 250, {0, 0, 0}}})};
    morph.lines = {{.startWidth = 20, .endWidth = 80, .join = 2}};
    morph.start.fill0(1).line(1).moveTo(0, 0).lineTo(100, 0).lineTo(100, 100).lineTo(0, 0);
    morph.end.moveTo(10, 10).curveTo(60, -20, 110, 10).lineTo(110, 110).lineTo(10, 10);
    const uint16_t morphId = m.defineMorphShape(morph, 2);

    std::vector<uint8_t> palette = {255, 0, 0, 0, 255, 0, /*indices, rows of 4*/ 0, 1, 0, 0, 1, 0, 0, 0};
    m.defineBitsLossless(3, 2, 2, palette, 2);
    m.defineBitmapRGBA(1, 1, {{200, 100, 50, 128}});
    m.defineBitsJPEG2({0xFF, 0xD8, 0xFF, 0xD9});
    m.defineBitsJPEG3({0xFF, 0xD8, 0xFF, 0xD9}, {0, 255});

    w::Font font;
    font.name = "Test";
    font.kerning = {{'A', 'B', -30}};
    for (uint16_t code : {'A', 'B'}) {
        w::Glyph g;
        g.code = code;
        g.advance = int16_t(500 + code);
        g.outline.rect(0, -700, 400, 700);
        font.glyphs.push_back(g);
    }
    const uint16_t font1 = m.defineFont(font);
    m.defineFontInfo(font1, font);
    const uint16_t font2 = m.defineFont2(font);
    m.defineFont3(font);
    w::Text text;
    text.records = {w::layoutText(font, font2, "ABBA", 400, {9, 8, 7}, 10, 20)};
    m.defineText(text, 1);
    m.defineEditText({.bounds = {0, 2000, 0, 400}, .text = "hi", .wordWrap = true, .html = true,
                      .font = font2, .height = 300, .color = w::Color{1, 2, 3, 4},
                      .maxLength = 9, .layout = w::EditText::Layout{2, 1, 2, 3, -4},
                      .variable = "v"});

    const uint16_t soundId = m.defineSound({.format = 3, .rate = 1}, 4, {0, 0, 1, 0, 2, 0, 3, 0});
    w::Sprite clip = m.sprite();
    clip.place({.depth = 1, .character = shape4});
    clip.soundStreamHead({.format = 2, .rate = 2}, 576, int16_t(-5));
    clip.soundStreamBlock({1, 2, 3});
    clip.frameLabel("inner");
    clip.showFrame();
    clip.removeObject2(1);
    clip.doAction(w::Actions().stop());
    clip.showFrame();
    const uint16_t clipId = m.defineSprite(clip);
    m.defineButton({{.character = shape4}}, w::Actions().play());
    m.defineButton2({{.states = w::kButtonUp | w::kButtonHit, .character = shape4, .depth = 2,
                      .filters = {w::Filter::blur(2, 2)}, .blendMode = 3}},
                    {{w::kCondOverDownToOverUp, w::Actions().stop()},
                     {uint16_t(w::kCondIdleToOverUp | w::keyPress(13)), w::Actions().play()}},
                    true);

    m.exportAssets({{clipId, "clip"}});
    m.frameLabel("first", true);
    m.doInitAction(clipId, w::Actions().push({"init"}).trace());
    m.placeObject1(shape4, 1, w::Matrix::translate(5, 5), w::CXForm{.redMult = 128});
    const double pi = std::numbers::pi;
    m.place({.depth = 2, .character = clipId, .matrix = w::Matrix::rotate(pi / 3, 2, 0.5, 100, -100),
             .cxform = w::CXForm{.alphaMult = 128, .redAdd = -20},
             .name = "clip", .clipDepth = 5,
             .clipActions = {{w::kClipEnterFrame, 0, w::Actions().play()},
                             {w::kClipKeyPress | w::kClipConstruct, 65, w::Actions().stop()}},
             .filters = {w::Filter::dropShadow({1, 2, 3, 4}, 4, 4, pi / 4, 5, 1.5),
                         w::Filter::blur(3, 3, 2), w::Filter::glow({5, 6, 7, 8}, 6, 6),
                         w::Filter::bevel({255, 255, 255}, {0, 0, 0}, 2, 2, 0, 3),
                         w::Filter::gradientGlow({{0, {1, 1, 1}}, {255, {2, 2, 2}}}, 1, 1, 0, 0),
                         w::Filter::convolution(1, 2, 2, 0.5f, {1, 2}, {0, 0, 0, 0}),
                         w::Filter::colorMatrix({1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0}),
                         w::Filter::gradientBevel({{0, {1, 1, 1}}, {255, {2, 2, 2}}}, 1, 1, 0, 0)},
             .blendMode = 14, .bitmapCache = 1, .visible = false, .background = w::Color{4, 3, 2, 1}});
    m.place({.depth = 3, .character = morphId, .ratio = 30000});
    m.place({.depth = 3, .move = true, .ratio = 40000});
    m.startSound(soundId, {.syncStop = true, .inPoint = 1, .outPoint = 3, .loops = 2,
                           .envelope = {{0, 100, 200}, {44, 300, 400}}});
    m.startSound2("Chime");
    m.removeObject(shape4, 1);
    m.showFrame();

    const w::Bytes file = m.bytes();
    const swf::ParseResult r = swf::ParseMovie(file);
    ASSERT_TRUE(r.movie) << (r.error ? r.error->message : "");
    const swf::ParsedMovie& movie = *r.movie;
    for (const auto& warning : movie.warnings) ADD_FAILURE() << warning.message << " at " << warning.offset;
    EXPECT_FALSE(movie.truncated) << movie.truncated->message;
    EXPECT_EQ(movie.header.frame_count, 1);

    const auto shapes = all<swf::Shape>(movie.tags);
    ASSERT_EQ(shapes.size(), 2u);
    const swf::Shape& shape = *shapes[0];
    EXPECT_EQ(shape.version, 4);
    EXPECT_TRUE(shape.uses_non_scaling_strokes);
    ASSERT_EQ(shape.fill_styles.size(), 2u);
    EXPECT_DOUBLE_EQ(shape.fill_styles[0].gradient.focal_point, -0.5);
    EXPECT_EQ(shape.fill_styles[0].gradient.records[1].color.a, 128);
    EXPECT_EQ(shape.fill_styles[1].bitmap_id, 7);
    EXPECT_EQ(shape.line_styles[0].join, swf::JoinStyle::Miter);
    EXPECT_DOUBLE_EQ(shape.line_styles[0].miter_limit, 2.5);
    ASSERT_TRUE(shape.line_styles[0].fill);
    int64_t run = 0;
    int straight = 0;
    std::optional<uint32_t> selectedAfterNewStyles;
    for (const auto& rec : shape.records) {
        if (const auto* e = std::get_if<swf::StraightEdgeRecord>(&rec)) {
            ++straight;
            if (e->dy == 0) run += e->dx;
        }
        if (const auto* sc = std::get_if<swf::StyleChangeRecord>(&rec); sc && sc->fill_style1)
            selectedAfterNewStyles = sc->fill_style1;
    }
    EXPECT_EQ(run, 100000) << "the long edge, in pieces";
    EXPECT_EQ(straight, 3);
    EXPECT_EQ(selectedAfterNewStyles, 3u);

    const auto morphs = all<swf::MorphShape>(movie.tags);
    ASSERT_EQ(morphs.size(), 1u);
    EXPECT_EQ(morphs[0]->line_styles[0].end.width, 80);
    EXPECT_EQ(morphs[0]->fill_styles[0].end.gradient.records[0].ratio, 10);
    EXPECT_EQ(morphs[0]->end_records.size(), 4u);  // move and three edges

    EXPECT_EQ(all<swf::Bitmap>(movie.tags).size(), 4u);
    const auto fonts = all<swf::Font>(movie.tags);
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_EQ(fonts[1]->codes, (std::vector<uint16_t>{'A', 'B'}));
    ASSERT_TRUE(fonts[1]->layout);
    EXPECT_EQ(fonts[1]->layout->advances, (std::vector<int16_t>{565, 566}));
    EXPECT_EQ(fonts[1]->layout->kerning[0].adjustment, -30);
    EXPECT_EQ(fonts[2]->version, 3);
    const auto texts = all<swf::Text>(movie.tags);
    ASSERT_EQ(texts.size(), 1u);
    ASSERT_EQ(texts[0]->records[0].glyphs.size(), 4u);
    EXPECT_EQ(texts[0]->records[0].glyphs[1].index, 1u);
    const auto edits = all<swf::EditText>(movie.tags);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0]->initial_text, "hi");
    EXPECT_EQ(edits[0]->layout->leading, -4);

    const auto sprites = all<swf::Sprite>(movie.tags);
    ASSERT_EQ(sprites.size(), 1u);
    EXPECT_EQ(sprites[0]->frame_count, 2);
    const auto heads = all<swf::SoundStreamHead>(sprites[0]->tags);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0]->latency_seek, -5);

    const auto buttons = all<swf::Button>(movie.tags);
    ASSERT_EQ(buttons.size(), 2u);
    ASSERT_EQ(buttons[1]->actions.size(), 2u);
    EXPECT_EQ(buttons[1]->actions[1].key_code, 13);
    EXPECT_EQ(buttons[1]->records[0].blend_mode, swf::BlendMode::Multiply);

    const auto places = placements(movie.tags);
    ASSERT_EQ(places.size(), 4u);
    const swf::PlaceObject& p = places[1];
    EXPECT_EQ(p.version, 3);
    EXPECT_EQ(p.name, "clip");
    ASSERT_TRUE(p.filters);
    EXPECT_EQ(p.filters->size(), 8u);
    EXPECT_TRUE(std::holds_alternative<swf::ColorMatrixFilter>((*p.filters)[6]));
    EXPECT_EQ(p.blend_mode, swf::BlendMode::HardLight);
    EXPECT_EQ(p.visible, false);
    ASSERT_TRUE(p.clip_actions);
    ASSERT_EQ(p.clip_actions->records.size(), 2u);
    EXPECT_EQ(p.clip_actions->records[1].key_code, 65);
    EXPECT_EQ(places[3].ratio, 40000);

    const auto starts = all<swf::StartSound>(movie.tags);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0]->info.loop_count, 2);
    EXPECT_EQ(starts[0]->info.envelope->size(), 2u);
    EXPECT_EQ(starts[1]->class_name, "Chime");
}
