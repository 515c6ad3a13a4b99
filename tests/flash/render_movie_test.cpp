// The renderer on movies made by the project's movie writer: pixels at known
// points for fills, strokes, masks, colour transforms, morphs, text and stage scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "flash/render/render.h"
#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

// Device fonts come through fontconfig, which keeps its configuration for
// the life of the process; the leak checker is told that this is no leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace qm::flash {
namespace {

namespace w = qm::swfwriter;

// A parsed movie with its first frame placed, without the timeline engine:
// enough for the renderer, which only walks what it is given.
struct Scene {
    swf::ParsedMovie movie;
    Dictionary dictionary;
    DisplayList root;
    swf::Rgba background{255, 255, 255, 255};

    void PlaceAll(DisplayList& list, const std::vector<swf::Tag>& tags) {
        for (const swf::Tag& tag : tags) {
            if (std::holds_alternative<swf::ShowFrame>(tag.body)) return;
            dictionary.Add(tag.body);
            if (auto* bg = std::get_if<swf::SetBackgroundColor>(&tag.body)) background = bg->color;
            auto* packed = std::get_if<swf::PackedPlaceObject>(&tag.body);
            if (!packed) continue;
            const swf::PlaceObject unpacked = packed->Unpack();
            const swf::PlaceObject* place = &unpacked;
            if (!place || !place->character_id) continue;
            auto obj = std::make_unique<DisplayObject>();
            obj->depth = place->depth;
            obj->character = dictionary.Find(*place->character_id);
            if (!obj->character) continue;
            if (place->matrix) obj->matrix = *place->matrix;
            if (place->color_transform) obj->color_transform = *place->color_transform;
            if (place->ratio) obj->ratio = *place->ratio;
            if (place->clip_depth) obj->clip_depth = *place->clip_depth;
            if (place->blend_mode) obj->blend_mode = *place->blend_mode;
            if (place->filters) obj->filters = *place->filters;
            if (auto* sprite = obj->character->As<swf::Sprite>()) PlaceAll(obj->children, sprite->tags);
            list.Put(std::move(obj));
        }
    }
};

std::unique_ptr<Scene> Load(const w::Movie& m) {
    auto scene = std::make_unique<Scene>();
    static std::vector<std::vector<uint8_t>> keep;  // the parsed movie may point into its file
    keep.push_back(m.bytes());
    swf::ParseResult r = swf::ParseMovie(keep.back());
    EXPECT_TRUE(r.movie.has_value());
    if (!r.movie) return scene;
    scene->movie = std::move(*r.movie);
    scene->PlaceAll(scene->root, scene->movie.tags);
    return scene;
}

struct Picture {
    int width, height;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture Render(const Scene& s, int width, int height, ScaleMode mode = ScaleMode::ShowAll) {
    Picture p{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * height)};
    Renderer renderer(s.dictionary, s.movie.header.version);
    RenderTarget t{reinterpret_cast<uint8_t*>(p.pixels.data()), width, height, width * 4};
    renderer.Render(s.root, s.movie.header.frame_size, s.background, t, mode);
    return p;
}

int R(uint32_t p) { return (p >> 16) & 255; }
int G(uint32_t p) { return (p >> 8) & 255; }
int B(uint32_t p) { return p & 255; }

w::Movie Stage(int width, int height, uint8_t version = 10) {
    w::Movie m({.version = version, .frame = w::Rect::pixels(width, height)});
    m.setBackgroundColor({255, 255, 255});
    return m;
}

uint16_t Box(w::Movie& m, const w::FillStyle& fill, int x, int y, int wpx, int hpx, int shapeVersion = 3) {
    w::Shape s;
    s.fill0(s.addFill(fill)).rect(x * 20, y * 20, wpx * 20, hpx * 20);
    return m.defineShape(s, shapeVersion);
}

TEST(RenderMovie, FillKindsAtKnownPoints) {
    w::Movie m = Stage(80, 20);
    uint16_t solid = Box(m, w::FillStyle::solid({200, 0, 0}), 0, 0, 20, 20);
    uint16_t linear = Box(m, w::FillStyle::linear(w::Matrix::gradientBox(400, 0, 400, 400),
                                                  {{0, {0, 0, 255}}, {255, {0, 255, 0}}}),
                          20, 0, 20, 20);
    uint16_t radial = Box(m, w::FillStyle::radial(w::Matrix::gradientBox(800, 0, 400, 400),
                                                  {{0, {255, 255, 0}}, {255, {0, 0, 0}}}),
                          40, 0, 20, 20);
    // A 2x2 checker bitmap drawn 5 pixels per bitmap pixel, tiled.
    std::vector<w::Color> px = {{255, 0, 0}, {0, 0, 255}, {0, 0, 255}, {255, 0, 0}};
    uint16_t bmp = m.defineBitmapRGBA(2, 2, px);
    uint16_t tiled = Box(m, w::FillStyle::bitmap(bmp, w::Matrix::scale(100, 100, 1200, 0), true, false), 60, 0, 20, 20);
    int depth = 1;
    for (uint16_t id : {solid, linear, radial, tiled}) m.place({.depth = uint16_t(depth++), .character = id});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 80, 20);

    EXPECT_EQ(p.at(10, 10), 0xFFC80000u);
    EXPECT_GT(B(p.at(21, 10)), 220);  // linear: blue on the left, green on the right
    EXPECT_GT(G(p.at(38, 10)), 220);
    EXPECT_NEAR(G(p.at(30, 10)), 128, 12);
    EXPECT_GT(R(p.at(50, 10)), 225);  // radial: bright centre, dark rim
    EXPECT_LT(R(p.at(41, 1)), 40);
    EXPECT_EQ(p.at(62, 2), 0xFFFF0000u);  // bitmap pixel (0,0)
    EXPECT_EQ(p.at(67, 2), 0xFF0000FFu);  // bitmap pixel (1,0)
    EXPECT_EQ(p.at(72, 2), 0xFFFF0000u);  // tiled again
}

TEST(RenderMovie, ClippedBitmapRepeatsItsEdges) {
    w::Movie m = Stage(40, 20);
    std::vector<w::Color> px = {{255, 0, 0}, {0, 0, 255}};
    uint16_t bmp = m.defineBitmapRGBA(2, 1, px);
    uint16_t clipped = Box(m, w::FillStyle::bitmap(bmp, w::Matrix::scale(100, 100), false, false), 0, 0, 40, 20);
    m.place({.depth = 1, .character = clipped});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 40, 20);
    EXPECT_EQ(p.at(2, 2), 0xFFFF0000u);
    EXPECT_EQ(p.at(35, 15), 0xFF0000FFu);  // beyond the picture: its last column
    // Faded to half and tinted: both reach the bitmap's pixels.
    struct Case {
        w::CXForm cx;
        uint32_t expect;
    } cases[] = {{w::CXForm{.alphaMult = 128}, 0xFFFF7F7Fu}, {w::CXForm{.redMult = 0, .greenAdd = 255}, 0xFF00FF00u}};
    for (const auto& c : cases) {
        scene->root.At(1)->color_transform = {};
        auto& cx = scene->root.At(1)->color_transform;
        cx.a_mult = c.cx.alphaMult;
        cx.r_mult = c.cx.redMult;
        cx.g_add = c.cx.greenAdd;
        EXPECT_EQ(Render(*scene, 40, 20).at(2, 2), c.expect);
    }
}

TEST(RenderMovie, StrokesKeepWidthAndHairlinesShow) {
    w::Movie m = Stage(40, 40);
    w::Shape s;
    w::LineStyle thick;
    thick.width = 80;  // 4 px
    thick.color = {0, 0, 255};
    s.line(s.addLine(thick)).rect(200, 200, 400, 400);  // 10..30 px
    w::LineStyle hair;
    hair.width = 0;
    hair.color = {0, 0, 0};
    s.line(s.addLine(hair)).moveTo(0, 700).lineTo(800, 700);
    m.place({.depth = 1, .character = m.defineShape(s)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 40, 40);
    EXPECT_EQ(p.at(20, 9), 0xFF0000FFu);    // on the top edge, 2 px either side
    EXPECT_EQ(p.at(20, 11), 0xFF0000FFu);
    EXPECT_EQ(p.at(20, 13), 0xFFFFFFFFu);   // inside, unfilled
    EXPECT_EQ(p.at(20, 20), 0xFFFFFFFFu);
    EXPECT_LT(R(p.at(5, 34)) + R(p.at(5, 35)), 300);  // the hairline darkens its row
}

TEST(RenderMovie, StrokeEndsTakeTheirOwnCaps) {
    w::Movie m = Stage(60, 40);
    struct Case {
        uint8_t startCap, endCap;
        bool beforeStart, afterEnd;  // ink 3 px beyond each end of a 10 px wide line
    } cases[] = {{1, 2, false, true}, {2, 1, true, false}, {0, 0, true, true}, {1, 1, false, false}};
    uint16_t depth = 1;
    for (const auto& c : cases) {
        w::Shape s;
        w::LineStyle l;
        l.width = 200;
        l.color = {0, 0, 0};
        l.startCap = c.startCap;
        l.endCap = c.endCap;
        int y = (depth - 1) * 200 + 100;  // rows 5, 15, 25, 35 px... spaced by 10 px
        s.line(s.addLine(l)).moveTo(400, 0).lineTo(800, 0);
        m.place({.depth = depth, .character = m.defineShape(s, 4), .matrix = w::Matrix::translate(0, y)});
        ++depth;
    }
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 60, 40);
    for (size_t i = 0; i < std::size(cases); ++i) {
        int y = int(i) * 10 + 5;
        EXPECT_EQ(p.at(30, y), 0xFF000000u) << i;
        EXPECT_EQ(p.at(17, y) == 0xFF000000u, cases[i].beforeStart) << i;
        EXPECT_EQ(p.at(42, y) == 0xFF000000u, cases[i].afterEnd) << i;
    }
}

TEST(RenderMovie, PixelHintedStrokesLandOnWholePixels) {
    w::Movie m = Stage(20, 20);
    for (int hinted = 0; hinted < 2; ++hinted) {
        w::Shape s;
        w::LineStyle l;
        l.width = 20;  // one pixel
        l.color = {0, 0, 0};
        l.pixelHinting = hinted == 1;
        s.line(s.addLine(l)).moveTo(0, 0).lineTo(400, 0);
        // Lines at y = 5.3 and 12.3 px: between two pixel rows.
        m.place({.depth = uint16_t(hinted + 1), .character = m.defineShape(s, 4),
                 .matrix = w::Matrix::translate(0, 106 + hinted * 140)});
    }
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 20, 20);
    EXPECT_NE(p.at(10, 5), 0xFF000000u);  // spread over two rows
    EXPECT_EQ(p.at(10, 12), 0xFF000000u);  // one crisp row
    EXPECT_EQ(p.at(10, 13), 0xFFFFFFFFu);

    // Odd widths centre on the nearest pixel centre; a line on a pixel edge
    // takes the centre before it.
    struct Case {
        int y;       // twips
        int width;   // pixels
        int first, last;  // rows covered
    };
    for (const Case& c : {Case{200, 5, 7, 11}, Case{206, 5, 8, 12}, Case{190, 3, 8, 10}, Case{200, 1, 9, 9}}) {
        w::Movie hm = Stage(20, 20);
        w::Shape s;
        w::LineStyle l;
        l.width = uint16_t(c.width * 20);
        l.color = {0, 0, 0};
        l.pixelHinting = true;
        l.startCap = l.endCap = 1;  // none
        s.line(s.addLine(l)).moveTo(0, 0).lineTo(400, 0);
        hm.place({.depth = 1, .character = hm.defineShape(s, 4), .matrix = w::Matrix::translate(0, c.y)});
        hm.showFrame();
        auto hs = Load(hm);
        Picture hp = Render(*hs, 20, 20);
        for (int row = c.first - 1; row <= c.last + 1; ++row)
            EXPECT_EQ(hp.at(10, row), row >= c.first && row <= c.last ? 0xFF000000u : 0xFFFFFFFFu)
                << "y " << c.y << " width " << c.width << " row " << row;
    }
}

TEST(RenderMovie, MasksClipTheirDepthRangeAndNest) {
    w::Movie m = Stage(40, 40);
    uint16_t left = Box(m, w::FillStyle::solid({0, 0, 0}), 0, 0, 20, 40);
    uint16_t top = Box(m, w::FillStyle::solid({0, 0, 0}), 0, 0, 40, 20);
    uint16_t red = Box(m, w::FillStyle::solid({255, 0, 0}), 0, 0, 40, 40);
    uint16_t blue = Box(m, w::FillStyle::solid({0, 0, 255}), 0, 30, 40, 10);
    m.place({.depth = 1, .character = left, .clipDepth = 4});  // masks 2..4
    m.place({.depth = 2, .character = top, .clipDepth = 3});   // masks 3 within the left mask
    m.place({.depth = 3, .character = red});
    // Blended inside the masks: its layer must line up with theirs.
    uint16_t green = Box(m, w::FillStyle::solid({0, 255, 0}), 0, 0, 30, 6);
    m.place({.depth = 4, .character = green, .blendMode = 3});
    m.place({.depth = 5, .character = blue});                  // above every mask
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 40, 40);
    EXPECT_EQ(p.at(10, 10), 0xFFFF0000u);  // inside both masks
    EXPECT_EQ(p.at(10, 3), 0xFF000000u);   // green multiplied onto red
    EXPECT_EQ(p.at(25, 3), 0xFFFFFFFFu);   // masked away
    EXPECT_EQ(p.at(30, 10), 0xFFFFFFFFu);  // outside the left mask
    EXPECT_EQ(p.at(10, 25), 0xFFFFFFFFu);  // outside the top mask
    EXPECT_EQ(p.at(35, 35), 0xFF0000FFu);  // not masked at all
}

TEST(RenderMovie, ColourTransformsMultiplyAddAndNest) {
    w::Movie m = Stage(20, 20);
    uint16_t box = Box(m, w::FillStyle::solid({200, 100, 0}), 0, 0, 20, 20);
    w::Sprite clip = m.sprite();
    clip.place({.depth = 1, .character = box, .cxform = w::CXForm{.redMult = 128, .blueAdd = 50}});
    clip.showFrame();
    uint16_t clipId = m.defineSprite(clip);
    m.place({.depth = 1, .character = clipId, .cxform = w::CXForm{.greenMult = 0, .alphaMult = 128}});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 20, 20);
    // (100, 0, 50) at half opacity over white.
    EXPECT_NEAR(R(p.at(10, 10)), 177, 2);
    EXPECT_NEAR(G(p.at(10, 10)), 127, 2);
    EXPECT_NEAR(B(p.at(10, 10)), 152, 2);
}

TEST(RenderMovie, MorphAtRatio) {
    w::Movie m = Stage(60, 20);
    w::MorphShape morph;
    morph.fills.push_back(w::MorphFillStyle::solid({255, 0, 0}, {0, 0, 255}));
    morph.start.fill0(1).rect(0, 0, 200, 400);      // 0..10 px
    morph.end.rect(1000, 0, 200, 400);              // 50..60 px
    uint16_t id = m.defineMorphShape(morph);
    m.place({.depth = 1, .character = id, .ratio = 32768});
    m.showFrame();
    auto scene = Load(m);
    struct Case {
        uint16_t ratio;
        int x;
        uint32_t colour;
    } cases[] = {{0, 5, 0xFFFF0000u}, {65535, 55, 0xFF0000FFu}};
    for (const auto& c : cases) {
        scene->root.At(1)->ratio = c.ratio;
        Picture p = Render(*scene, 60, 20);
        EXPECT_EQ(p.at(c.x, 10), c.colour) << c.ratio;
    }
    scene->root.At(1)->ratio = 32768;
    Picture mid = Render(*scene, 60, 20);
    EXPECT_EQ(mid.at(5, 10), 0xFFFFFFFFu);
    EXPECT_NEAR(R(mid.at(30, 10)), 128, 2);
    EXPECT_NEAR(B(mid.at(30, 10)), 128, 2);
}

w::Font SquareFont() {
    w::Font f;
    f.name = "Squares";
    w::Glyph g;
    g.code = 'A';
    g.outline.moveTo(0, -1024).lineTo(512, -1024).lineTo(512, 0).lineTo(0, 0).lineTo(0, -1024);
    g.advance = 1024;
    f.glyphs.push_back(g);
    f.ascent = 1024;
    f.descent = 0;
    return f;
}

TEST(RenderMovie, StaticTextAndTextFieldsWithEmbeddedGlyphs) {
    w::Movie m = Stage(100, 60);
    w::Font font = SquareFont();
    uint16_t fontId = m.defineFont2(font);
    w::Text text;
    text.bounds = {0, 2000, 0, 400};
    // Two glyphs 20 px high: squares 10 px wide every 20 px, baseline at y = 20 px.
    text.records.push_back(w::layoutText(font, fontId, "AA", 400, {0, 128, 0}, 0, 400));
    uint16_t textId = m.defineText(text);
    m.place({.depth = 1, .character = textId});
    w::EditText field;
    field.bounds = {0, 2000, 600, 1200};
    field.text = "A<font color=\"#0000FF\">A</font>";
    field.html = true;
    field.useOutlines = true;
    field.font = fontId;
    field.height = 400;
    field.color = {255, 0, 0};
    m.place({.depth = 2, .character = m.defineEditText(field)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 100, 60);
    EXPECT_EQ(p.at(5, 10), 0xFF008000u);
    EXPECT_EQ(p.at(15, 10), 0xFFFFFFFFu);  // past the first square's width
    EXPECT_EQ(p.at(25, 10), 0xFF008000u);
    // Field: a 2 px gutter, then glyphs 20 px tall from the field's top + gutter.
    EXPECT_EQ(p.at(2 + 5, 30 + 2 + 10), 0xFFFF0000u);
    EXPECT_EQ(p.at(2 + 25, 30 + 2 + 10), 0xFF0000FFu);
}

TEST(RenderMovie, HtmlFieldsHonourMarginsUnderlinesAndBullets) {
    w::Movie m = Stage(100, 90);
    w::Font font = SquareFont();
    uint16_t fontId = m.defineFont2(font);
    w::EditText field;
    field.bounds = {0, 2000, 0, 1800};
    field.text = "<textformat leftmargin=\"10\"><p>A</p></textformat><p><u>A</u></p><li>A</li>";
    field.html = true;
    field.multiline = true;  // one-line fields keep every paragraph on one line
    field.useOutlines = true;
    field.font = fontId;
    field.height = 400;
    field.color = {0, 0, 0};
    m.place({.depth = 1, .character = m.defineEditText(field)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 100, 90);
    // Line 1: 10 px margin after the 2 px gutter; glyphs are 10x20 px.
    EXPECT_EQ(p.at(6, 12), 0xFFFFFFFFu);
    EXPECT_EQ(p.at(16, 12), 0xFF000000u);
    // Line 2 (y 22..42): no margin, underlined just below the baseline.
    EXPECT_EQ(p.at(6, 32), 0xFF000000u);
    EXPECT_LT(R(p.at(6, 43)), 128);
    EXPECT_LT(R(p.at(16, 43)), 128);  // under the space the advance leaves too
    EXPECT_EQ(p.at(6, 47), 0xFFFFFFFFu);
    // Line 3 (y 42..62): moved right to make room for a bullet left of it.
    EXPECT_EQ(p.at(6, 52), 0xFFFFFFFFu);
    int bulletInk = 0;
    for (int y = 42; y < 62; ++y)
        for (int x = 2; x < 32; ++x) bulletInk += R(p.at(x, y)) < 128;
    EXPECT_GT(bulletInk, 0);
}

TEST(RenderMovie, WrappedFieldsBreakAtSpacesAndJustify) {
    w::Movie m = Stage(100, 60);
    w::Font font = SquareFont();
    w::Glyph space;
    space.code = ' ';
    space.advance = 1024;
    font.glyphs.insert(font.glyphs.begin(), space);  // codes ascend: ' ' before 'A'
    uint16_t fontId = m.defineFont2(font);
    w::EditText field;
    // 74 px wide: 70 px of room inside the gutters; glyphs advance 20 px.
    field.bounds = {0, 1480, 0, 1200};
    field.text = "A A AA";
    field.wordWrap = field.multiline = true;
    field.useOutlines = true;
    field.font = fontId;
    field.height = 400;
    field.color = {0, 0, 0};
    field.layout = w::EditText::Layout{.align = 3};
    m.place({.depth = 1, .character = m.defineEditText(field)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 100, 60);
    // "A A " then "AA": the wrapped line spreads its inner space by the
    // 10 px left over, so its second A moves from 42..52 to 52..62.
    EXPECT_EQ(p.at(6, 12), 0xFF000000u);
    EXPECT_EQ(p.at(46, 12), 0xFFFFFFFFu);
    EXPECT_EQ(p.at(56, 12), 0xFF000000u);
    // The paragraph's last line stays as it is.
    EXPECT_EQ(p.at(6, 32), 0xFF000000u);
    EXPECT_EQ(p.at(26, 32), 0xFF000000u);
    EXPECT_EQ(p.at(36, 32), 0xFFFFFFFFu);
}

// Each line's baseline sits on a whole pixel of the field, whatever the
// leading adds up to: here line 2 would start half a pixel down.
TEST(RenderMovie, FieldLinesSitOnWholePixels) {
    w::Movie m = Stage(40, 60);
    w::Font font = SquareFont();
    uint16_t fontId = m.defineFont2(font);
    w::EditText field;
    field.bounds = {0, 800, 0, 1200};
    field.text = "<p>A</p><p>A</p>";
    field.html = field.multiline = true;
    field.useOutlines = true;
    field.font = fontId;
    field.height = 400;
    field.color = {0, 0, 0};
    field.layout = w::EditText::Layout{.leading = 10};
    m.place({.depth = 1, .character = m.defineEditText(field)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 40, 60);
    // Line 1: rows 2..21; line 2: baseline 42.5 px down to 42, so rows 22..41.
    EXPECT_EQ(p.at(6, 21), 0xFF000000u);
    EXPECT_EQ(p.at(6, 22), 0xFF000000u);
    EXPECT_EQ(p.at(6, 41), 0xFF000000u);
    EXPECT_EQ(p.at(6, 42), 0xFFFFFFFFu);
}

TEST(RenderMovie, BorderedFieldsGetABoxOnWholePixels) {
    w::Movie m = Stage(40, 40);
    m.setBackgroundColor({0, 0, 255});
    w::EditText field;
    field.bounds = {0, 400, 0, 300};  // 20 x 15 px
    field.border = true;
    m.place({.depth = 1, .character = m.defineEditText(field), .matrix = w::Matrix::translate(100, 100)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 40, 40);
    EXPECT_EQ(p.at(5, 10), 0xFF000000u);   // left side
    EXPECT_EQ(p.at(15, 5), 0xFF000000u);   // top side
    EXPECT_EQ(p.at(25, 10), 0xFF000000u);  // right side
    EXPECT_EQ(p.at(15, 20), 0xFF000000u);  // bottom side
    EXPECT_EQ(p.at(15, 12), 0xFFFFFFFFu);  // white inside
    EXPECT_EQ(p.at(27, 12), 0xFF0000FFu);  // stage outside
}

TEST(RenderMovie, ScaleModesPlaceTheStage) {
    w::Movie m = Stage(20, 10);
    m.setBackgroundColor({0, 0, 0});
    m.place({.depth = 1, .character = Box(m, w::FillStyle::solid({255, 0, 0}), 0, 0, 20, 10)});
    m.showFrame();
    auto scene = Load(m);
    struct Case {
        ScaleMode mode;
        int x, y;
        uint32_t colour;
    } cases[] = {
        {ScaleMode::ShowAll, 20, 5, 0xFF000000u},   // letterbox band above the stage
        {ScaleMode::ShowAll, 20, 20, 0xFFFF0000u},
        {ScaleMode::ExactFit, 20, 2, 0xFFFF0000u},  // stretched to fill
        {ScaleMode::NoBorder, 1, 1, 0xFFFF0000u},   // cropped to fill
        {ScaleMode::NoScale, 4, 20, 0xFF000000u},   // 1:1 in the middle
        {ScaleMode::NoScale, 12, 18, 0xFFFF0000u},
    };
    for (const auto& c : cases) {
        Picture p = Render(*scene, 40, 40, c.mode);
        EXPECT_EQ(p.at(c.x, c.y), c.colour) << int(c.mode) << " " << c.x << "," << c.y;
    }
}

TEST(RenderMovie, BlendModesCombineWithWhatIsBelow) {
    w::Movie m = Stage(20, 20);
    uint16_t below = Box(m, w::FillStyle::solid({200, 100, 50}), 0, 0, 20, 20);
    uint16_t above = Box(m, w::FillStyle::solid({128, 255, 100}), 0, 0, 20, 20);
    m.place({.depth = 1, .character = below});
    m.place({.depth = 2, .character = above, .blendMode = 3});
    m.showFrame();
    auto scene = Load(m);
    struct Case {
        swf::BlendMode mode;
        int r, g, b;
    } cases[] = {
        {swf::BlendMode::Multiply, 100, 100, 20},
        {swf::BlendMode::Add, 255, 255, 150},
        {swf::BlendMode::Subtract, 72, 0, 0},
        {swf::BlendMode::Difference, 72, 155, 50},
        {swf::BlendMode::Invert, 55, 155, 205},
        {swf::BlendMode::Normal, 128, 255, 100},
    };
    for (const auto& c : cases) {
        scene->root.At(2)->blend_mode = c.mode;
        Picture p = Render(*scene, 20, 20);
        uint32_t px = p.at(10, 10);
        EXPECT_NEAR(R(px), c.r, 2) << int(c.mode);
        EXPECT_NEAR(G(px), c.g, 2) << int(c.mode);
        EXPECT_NEAR(B(px), c.b, 2) << int(c.mode);
    }
}

TEST(RenderMovie, FiltersWorkOnTheObjectsOwnPicture) {
    w::Movie m = Stage(60, 30);
    uint16_t box = Box(m, w::FillStyle::solid({255, 0, 0}), 0, 0, 10, 10);
    // A hard black shadow 10 px to the right, and a blurred copy of the box.
    m.place({.depth = 1, .character = box, .matrix = w::Matrix::translate(100, 200),
             .filters = {w::Filter::dropShadow({0, 0, 0, 255}, 0, 0, 0, 10)}});
    m.place({.depth = 2, .character = box, .matrix = w::Matrix::translate(800, 200),
             .filters = {w::Filter::blur(8, 8)}});
    m.showFrame();
    auto scene = Load(m);
    // The stage is shown twice its size: filter sizes follow the stage's scale.
    Picture p = Render(*scene, 120, 60);
    EXPECT_EQ(p.at(20, 30), 0xFFFF0000u);  // the box itself
    EXPECT_EQ(p.at(36, 30), 0xFF000000u);  // its shadow, 20 px on at this scale (30..50)
    EXPECT_EQ(p.at(52, 30), 0xFFFFFFFFu);
    // Blurred: the centre keeps some red, the edge area outside becomes pink.
    EXPECT_EQ(G(p.at(90, 30)), B(p.at(90, 30)));
    EXPECT_LT(G(p.at(90, 30)), 200);
    EXPECT_GT(G(p.at(79, 30)), 60);
    EXPECT_LT(G(p.at(79, 30)), 250);
}

TEST(RenderMovie, GradientFiltersPickTheirColoursByLevel) {
    w::Movie m = Stage(80, 80);
    uint16_t box = Box(m, w::FillStyle::solid({255, 0, 0}), 0, 0, 20, 20);
    // Glow: faint coverage reads the green start of the gradient, strong
    // coverage the blue end.
    std::vector<w::GradientStop> glow = {{0, {0, 255, 0, 0}}, {100, {0, 255, 0, 255}}, {200, {0, 0, 255, 255}},
                                         {255, {0, 0, 255, 255}}};
    m.place({.depth = 1, .character = box, .matrix = w::Matrix::translate(600, 200),
             .filters = {w::Filter::gradientGlow(glow, 16, 16, 0, 0, 2)}});
    // Bevel: lit from the top left (white), shaded at the bottom right (black).
    std::vector<w::GradientStop> bevel = {{0, {255, 255, 255, 255}}, {128, {0, 0, 0, 0}}, {255, {0, 0, 0, 255}}};
    m.place({.depth = 2, .character = box, .matrix = w::Matrix::translate(600, 1000),
             .filters = {w::Filter::gradientBevel(bevel, 4, 4, M_PI / 4, 3, 1, true)}});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 80, 80);
    EXPECT_EQ(p.at(40, 20), 0xFFFF0000u);
    uint32_t near = p.at(51, 20), far = p.at(56, 20);
    EXPECT_GT(B(near), 200);
    EXPECT_LT(G(near), 80);
    EXPECT_GT(G(far), 200);
    EXPECT_LT(B(far), G(far) - 40);
    EXPECT_EQ(p.at(75, 20), 0xFFFFFFFFu);
    // The bevel stays inside the box; its middle keeps the fill.
    EXPECT_EQ(p.at(40, 60), 0xFFFF0000u);
    EXPECT_GT(G(p.at(31, 51)), 60);
    EXPECT_LT(R(p.at(48, 68)), 200);
    EXPECT_EQ(G(p.at(48, 68)), 0);
    EXPECT_EQ(p.at(28, 60), 0xFFFFFFFFu);
}

TEST(RenderMovie, BrokenReferencesDrawNothingAndDoNotCrash) {
    w::Movie m = Stage(20, 20);
    // A bitmap fill naming no bitmap, a gradient without stops, a squashed matrix.
    uint16_t a = Box(m, w::FillStyle::bitmap(999, w::Matrix::scale(20, 20)), 0, 0, 20, 20);
    uint16_t b = Box(m, w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 400, 400), {}), 0, 0, 20, 20);
    uint16_t c = Box(m, w::FillStyle::solid({255, 0, 0}), 0, 0, 20, 20);
    m.place({.depth = 1, .character = a});
    m.place({.depth = 2, .character = b});
    m.place({.depth = 3, .character = c, .matrix = w::Matrix::scale(0, 0)});
    m.showFrame();
    auto scene = Load(m);
    Picture p = Render(*scene, 20, 20);
    EXPECT_EQ(p.at(10, 10), 0xFFFFFFFFu);
}

TEST(RenderMovie, DeepTreesStopInsteadOfExhaustingTheStack) {
    w::Movie m = Stage(20, 20);
    uint16_t box = Box(m, w::FillStyle::solid({0, 0, 255}), 0, 0, 20, 20);
    w::Sprite clip = m.sprite();
    clip.showFrame();
    uint16_t clipId = m.defineSprite(clip);
    m.showFrame();
    auto scene = Load(m);
    // A clip holding a clip holding a clip... as scripts can build.
    DisplayList* level = &scene->root;
    for (int i = 0; i < 100000; ++i) {
        auto obj = std::make_unique<DisplayObject>();
        obj->depth = 1;
        obj->character = scene->dictionary.Find(clipId);
        auto shape = std::make_unique<DisplayObject>();
        shape->depth = 2;
        shape->character = scene->dictionary.Find(box);
        DisplayObject* raw = obj.get();
        raw->children.Put(std::move(shape));
        level->Put(std::move(obj));
        level = &raw->children;
    }
    Picture p = Render(*scene, 20, 20);
    EXPECT_EQ(p.at(10, 10), 0xFF0000FFu);
    // Tear the chain down from the bottom: its destructors recurse too.
    std::vector<std::unique_ptr<DisplayObject>> owned;
    level = &scene->root;
    while (level->At(1)) {
        owned.push_back(level->Take(1));
        level = &owned.back()->children;
    }
    while (!owned.empty()) owned.pop_back();
}

}  // namespace
}  // namespace qm::flash
