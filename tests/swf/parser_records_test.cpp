// The parser must decode every field exactly where the format puts it; a bit
// off here shows up as a wrong picture or a wrong script much later.
#include <gtest/gtest.h>
#include <lzma.h>

#include <cmath>
#include <cstring>

#include "swf/swf.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm::swf;

namespace {

Bytes Hex(const char* text) {
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (!std::isxdigit(static_cast<unsigned char>(*p))) continue;
        v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : (*p | 0x20) - 'a' + 10);
        if (++digits == 2) {
            out.push_back(uint8_t(v));
            v = digits = 0;
        }
    }
    return out;
}

ParsedMovie Parse(const w::Movie& movie) {
    ParseResult r = ParseMovie(movie.bytes());
    EXPECT_TRUE(r.movie.has_value()) << (r.error ? r.error->message : "");
    EXPECT_TRUE(r.movie->warnings.empty()) << r.movie->warnings.front().message;
    EXPECT_FALSE(r.movie->truncated);
    return std::move(*r.movie);
}

template <class T>
std::vector<const T*> All(const std::vector<Tag>& tags) {
    std::vector<const T*> out;
    for (const Tag& t : tags) {
        if (auto* v = BodyIf<T>(t.body)) out.push_back(v);
    }
    return out;
}

// Placements are stored packed: each one decoded.
std::vector<PlaceObject> Places(const std::vector<Tag>& tags) {
    std::vector<PlaceObject> out;
    for (const Tag& t : tags) {
        if (auto* p = std::get_if<PackedPlaceObject>(&t.body)) out.push_back(p->Unpack());
    }
    return out;
}

template <class T>
const T& First(const ParsedMovie& m) {
    auto all = All<T>(m.tags);
    if (all.empty()) throw std::runtime_error("tag missing");
    return *all.front();
}

}  // namespace

// The worked example of the format reference, byte for byte.
TEST(ParserRecords, DecodesTheReferenceRectangleMovie) {
    Bytes file = Hex(
        "46 57 53 03 4F 00 00 00 78 00 05 5F 00 00 0F A0 00 00 0C 01 00"
        "43 02 FF FF FF"
        "BF 00 23 00 00 00 01 00 70 FB 49 97 0D 0C 7D 50 00 01 14 00 00 00 00 01"
        "25 C9 92 0D 21 ED 48 87 65 30 3B 6D E1 D8 B4 00 00"
        "86 06 06 01 00 01 00 00 40 00 00 00");
    ParseResult r = ParseMovie(file);
    ASSERT_TRUE(r.movie);
    const ParsedMovie& m = *r.movie;
    EXPECT_EQ(m.header.version, 3);
    EXPECT_EQ(m.header.frame_size, (Rect{0, 11000, 0, 8000}));
    EXPECT_DOUBLE_EQ(m.header.FrameRate(), 12.0);
    EXPECT_EQ(m.header.frame_count, 1);
    ASSERT_EQ(m.tags.size(), 5u);
    EXPECT_EQ(std::get<SetBackgroundColor>(m.tags[0].body).color, (Rgba{255, 255, 255, 255}));

    const Shape& s = *BodyIf<Shape>(m.tags[1].body);
    EXPECT_EQ(s.id, 1);
    EXPECT_EQ(s.bounds, (Rect{2010, 4910, 1670, 4010}));
    ASSERT_EQ(s.line_styles.size(), 1u);
    EXPECT_EQ(s.line_styles[0].width, 20);
    EXPECT_EQ(s.line_styles[0].color, (Rgba{0, 0, 0, 255}));
    ASSERT_EQ(s.records.size(), 5u);
    const auto& move = std::get<StyleChangeRecord>(s.records[0]);
    EXPECT_EQ(move.move_to, std::make_pair(4900, 1680));
    EXPECT_EQ(move.line_style, 1u);
    const std::pair<int, int> deltas[] = {{0, 2320}, {-2880, 0}, {0, -2320}, {2880, 0}};
    for (int i = 0; i < 4; ++i) {
        const auto& e = std::get<StraightEdgeRecord>(s.records[i + 1]);
        EXPECT_EQ(std::make_pair(e.dx, e.dy), deltas[i]) << "edge " << i;
    }

    const PlaceObject p = std::get<PackedPlaceObject>(m.tags[2].body).Unpack();
    EXPECT_EQ(p.depth, 1);
    EXPECT_EQ(p.character_id, 1);
    EXPECT_EQ(p.matrix, Matrix{});
    EXPECT_FALSE(p.is_move);
    EXPECT_EQ(m.tags[2].offset, 67u);  // 21 header bytes, 5 + 41 of the tags before
    EXPECT_TRUE(std::holds_alternative<ShowFrame>(m.tags[3].body));
    EXPECT_TRUE(std::holds_alternative<End>(m.tags[4].body));
}

TEST(ParserRecords, ReadsThreeCompressions) {
    w::Movie plain({.version = 13, .frame = w::Rect::pixels(320, 240), .frameRate = 0x0C80});
    plain.frameLabel("start");
    plain.showFrame();
    plain.showFrame();
    Bytes fws = plain.bytes();

    w::Movie packed(plain);
    packed.header.signature = "CWS";
    Bytes cws = packed.bytes();

    // ZWS: UI32 compressed size, 5 property bytes, raw LZMA data.
    lzma_options_lzma options;
    ASSERT_FALSE(lzma_lzma_preset(&options, 6));
    lzma_stream z = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_alone_encoder(&z, &options), LZMA_OK);
    Bytes out(fws.size() + 1024);
    z.next_in = fws.data() + 8;
    z.avail_in = fws.size() - 8;
    z.next_out = out.data();
    z.avail_out = out.size();
    ASSERT_EQ(lzma_code(&z, LZMA_FINISH), LZMA_STREAM_END);
    out.resize(out.size() - z.avail_out);
    lzma_end(&z);
    Bytes zws(fws.begin(), fws.begin() + 8);
    zws[0] = 'Z';
    uint32_t packed_size = uint32_t(out.size() - 13);
    for (int i = 0; i < 4; ++i) zws.push_back(uint8_t(packed_size >> (8 * i)));
    zws.insert(zws.end(), out.begin(), out.begin() + 5);
    zws.insert(zws.end(), out.begin() + 13, out.end());

    struct Case {
        const char* name;
        Bytes file;
        Compression compression;
    } cases[] = {{"FWS", fws, Compression::None}, {"CWS", cws, Compression::Zlib}, {"ZWS", zws, Compression::Lzma}};
    for (const Case& c : cases) {
        ParseResult r = ParseMovie(c.file);
        ASSERT_TRUE(r.movie) << c.name << ": " << r.error->message;
        EXPECT_EQ(r.movie->header.compression, c.compression) << c.name;
        EXPECT_EQ(r.movie->header.frame_size, (Rect{0, 6400, 0, 4800})) << c.name;
        EXPECT_DOUBLE_EQ(r.movie->header.FrameRate(), 12.5) << c.name;
        ASSERT_EQ(r.movie->tags.size(), 4u) << c.name;
        EXPECT_EQ(BodyIf<FrameLabel>(r.movie->tags[0].body)->name, "start") << c.name;
        EXPECT_FALSE(r.movie->truncated) << c.name;
    }
}

TEST(ParserRecords, DecodesStylesAndEdgesOfEveryShapeVersion) {
    for (int version : {1, 2, 3, 4}) {
        SCOPED_TRACE("DefineShape" + std::to_string(version));
        w::Movie movie({.version = 10});
        w::Shape s;
        uint32_t solid = s.addFill(w::FillStyle::solid({10, 20, 30, 128}));
        w::FillStyle grad = w::FillStyle::radial(w::Matrix::scale(0.5, 0.25, 100, -200),
                                                 {{0, {255, 0, 0, 255}}, {128, {0, 255, 0, 64}}, {255, {0, 0, 255, 255}}});
        if (version == 4) {
            grad = w::FillStyle::focal(w::Matrix::scale(0.5, 0.25, 100, -200),
                                       {{0, {255, 0, 0, 255}}, {255, {0, 0, 255, 255}}}, -0.5);
            grad.gradient.spread = 2;
            grad.gradient.interpolation = 1;
        }
        uint32_t gradient = s.addFill(grad);
        s.addFill(w::FillStyle::bitmap(7, w::Matrix::scale(20, 20), false, version == 4 ? false : true));
        w::LineStyle ls{.width = 40, .color = {1, 2, 3, 200}};
        if (version == 4) {
            ls.startCap = 2;
            ls.endCap = 1;
            ls.join = 2;
            ls.miterLimit = 2.5;
            ls.noHScale = true;
            ls.noClose = true;
            ls.fill = w::FillStyle::solid({9, 8, 7, 6});
        }
        uint32_t line = s.addLine(ls);
        s.fill0(solid).line(line).moveTo(-100, 50).lineTo(300, 50).lineTo(300, -7000).lineTo(-100, 50);
        s.fill1(gradient).curveTo(0, 200, 100, 100);
        s.newStyles({w::FillStyle::solid({1, 1, 1})}, {});
        s.fill0(1).moveTo(5, 5).lineTo(65, 5);
        movie.defineShape(s, version);
        movie.showFrame();
        ParsedMovie m = Parse(movie);
        const Shape& shape = First<Shape>(m);
        EXPECT_EQ(shape.version, version);

        ASSERT_EQ(shape.fill_styles.size(), 3u);
        Rgba expected_solid = version >= 3 ? Rgba{10, 20, 30, 128} : Rgba{10, 20, 30, 255};
        EXPECT_EQ(shape.fill_styles[0].type, FillType::Solid);
        EXPECT_EQ(shape.fill_styles[0].color, expected_solid);
        const FillStyle& g = shape.fill_styles[1];
        EXPECT_TRUE(g.IsGradient());
        EXPECT_DOUBLE_EQ(g.matrix.a, 0.5);
        EXPECT_DOUBLE_EQ(g.matrix.d, 0.25);
        EXPECT_EQ(g.matrix.tx, 100);
        EXPECT_EQ(g.matrix.ty, -200);
        if (version == 4) {
            EXPECT_EQ(g.type, FillType::FocalRadialGradient);
            EXPECT_EQ(g.gradient.spread, SpreadMode::Repeat);
            EXPECT_EQ(g.gradient.interpolation, InterpolationMode::LinearRgb);
            EXPECT_DOUBLE_EQ(g.gradient.focal_point, -0.5);
            ASSERT_EQ(g.gradient.records.size(), 2u);
        } else {
            EXPECT_EQ(g.type, FillType::RadialGradient);
            ASSERT_EQ(g.gradient.records.size(), 3u);
            EXPECT_EQ(g.gradient.records[1].ratio, 128);
            EXPECT_EQ(g.gradient.records[1].color, version >= 3 ? (Rgba{0, 255, 0, 64}) : (Rgba{0, 255, 0, 255}));
        }
        const FillStyle& b = shape.fill_styles[2];
        EXPECT_TRUE(b.IsBitmap());
        EXPECT_EQ(b.bitmap_id, 7);
        EXPECT_FALSE(b.BitmapRepeats());
        EXPECT_EQ(b.BitmapSmoothed(), version != 4);
        EXPECT_DOUBLE_EQ(b.matrix.a, 20.0);

        ASSERT_EQ(shape.line_styles.size(), 1u);
        const LineStyle& l = shape.line_styles[0];
        EXPECT_EQ(l.width, 40);
        if (version == 4) {
            EXPECT_EQ(l.start_cap, CapStyle::Square);
            EXPECT_EQ(l.end_cap, CapStyle::None);
            EXPECT_EQ(l.join, JoinStyle::Miter);
            EXPECT_DOUBLE_EQ(l.miter_limit, 2.5);
            EXPECT_TRUE(l.no_hscale);
            EXPECT_FALSE(l.no_vscale);
            EXPECT_TRUE(l.no_close);
            ASSERT_TRUE(l.fill);
            EXPECT_EQ(l.fill->color, (Rgba{9, 8, 7, 6}));
        } else {
            EXPECT_EQ(l.color, version == 3 ? (Rgba{1, 2, 3, 200}) : (Rgba{1, 2, 3, 255}));
            EXPECT_EQ(l.join, JoinStyle::Round);
        }

        // Edges: absolute move, deltas, a curve, then a new style layer.
        ASSERT_EQ(shape.records.size(), 8u);
        const auto& first = std::get<StyleChangeRecord>(shape.records[0]);
        EXPECT_EQ(first.move_to, std::make_pair(-100, 50));
        EXPECT_EQ(first.fill_style0, solid);
        EXPECT_EQ(first.line_style, line);
        const auto& horizontal = std::get<StraightEdgeRecord>(shape.records[1]);
        EXPECT_EQ(horizontal.dx, 400);
        EXPECT_EQ(horizontal.dy, 0);
        const auto& vertical = std::get<StraightEdgeRecord>(shape.records[2]);
        EXPECT_EQ(vertical.dx, 0);
        EXPECT_EQ(vertical.dy, -7050);
        const auto& general = std::get<StraightEdgeRecord>(shape.records[3]);
        EXPECT_EQ(general.dx, -400);
        EXPECT_EQ(general.dy, 7050);
        EXPECT_EQ(std::get<StyleChangeRecord>(shape.records[4]).fill_style1, gradient);
        const auto& curve = std::get<CurvedEdgeRecord>(shape.records[5]);
        EXPECT_EQ(curve.control_dx, 100);
        EXPECT_EQ(curve.control_dy, 150);
        EXPECT_EQ(curve.anchor_dx, 100);
        EXPECT_EQ(curve.anchor_dy, -100);
        const auto& layer = std::get<StyleChangeRecord>(shape.records[6]);
        ASSERT_TRUE(layer.new_fill_styles);
        ASSERT_EQ(layer.new_fill_styles->size(), 1u);
        EXPECT_TRUE(layer.new_line_styles && layer.new_line_styles->empty());
        EXPECT_EQ(layer.fill_style0, 1u);
        EXPECT_EQ(layer.move_to, std::make_pair(5, 5));
        EXPECT_EQ(std::get<StraightEdgeRecord>(shape.records[7]).dx, 60);
    }
}

TEST(ParserRecords, DecodesMorphShapesAsStartAndEndStyles) {
    for (int version : {1, 2}) {
        SCOPED_TRACE("DefineMorphShape" + std::to_string(version));
        w::Movie movie({.version = 10});
        w::MorphShape m;
        m.fills.push_back(w::MorphFillStyle::solid({255, 0, 0, 255}, {0, 0, 255, 128}));
        m.fills.push_back(w::MorphFillStyle::linear(w::Matrix::scale(1, 1), w::Matrix::scale(2, 2, 40, 60),
                                                    {{0, {1, 2, 3, 4}, 10, {5, 6, 7, 8}}, {255, {9, 9, 9, 9}, 200, {0, 0, 0, 0}}}));
        m.lines.push_back({.startWidth = 20, .endWidth = 100, .startColor = {0, 0, 0, 255}, .endColor = {255, 255, 255, 255}});
        m.start.fill0(1).line(1).moveTo(0, 0).lineTo(100, 0).curveTo(150, 50, 100, 100);
        m.end.moveTo(10, 10).lineTo(210, 10).lineTo(210, 210);
        movie.defineMorphShape(m, version);
        movie.showFrame();
        ParsedMovie parsed = Parse(movie);
        const MorphShape& morph = First<MorphShape>(parsed);
        EXPECT_EQ(morph.version, version);
        ASSERT_EQ(morph.fill_styles.size(), 2u);
        EXPECT_EQ(morph.fill_styles[0].start.color, (Rgba{255, 0, 0, 255}));
        EXPECT_EQ(morph.fill_styles[0].end.color, (Rgba{0, 0, 255, 128}));
        const auto& grad = morph.fill_styles[1];
        ASSERT_EQ(grad.end.gradient.records.size(), 2u);
        EXPECT_EQ(grad.start.gradient.records[0].ratio, 0);
        EXPECT_EQ(grad.end.gradient.records[0].ratio, 10);
        EXPECT_EQ(grad.end.gradient.records[0].color, (Rgba{5, 6, 7, 8}));
        EXPECT_DOUBLE_EQ(grad.end.matrix.a, 2.0);
        EXPECT_EQ(grad.end.matrix.tx, 40);
        ASSERT_EQ(morph.line_styles.size(), 1u);
        EXPECT_EQ(morph.line_styles[0].start.width, 20);
        EXPECT_EQ(morph.line_styles[0].end.width, 100);
        EXPECT_EQ(morph.line_styles[0].end.color, (Rgba{255, 255, 255, 255}));
        ASSERT_EQ(morph.start_records.size(), 3u);
        EXPECT_TRUE(std::holds_alternative<CurvedEdgeRecord>(morph.start_records[2]));
        ASSERT_EQ(morph.end_records.size(), 3u);
        EXPECT_EQ(std::get<StyleChangeRecord>(morph.end_records[0]).move_to, std::make_pair(10, 10));
        EXPECT_EQ(std::get<StraightEdgeRecord>(morph.end_records[2]).dy, 200);
    }
}

TEST(ParserRecords, DecodesEveryPlacementField) {
    w::Movie movie({.version = 8});
    w::Place p{.depth = 7, .character = 3, .matrix = w::Matrix::rotate(0.5, 2, 3, -40, 50)};
    p.cxform = w::CXForm{.redMult = 128, .alphaMult = 64, .greenAdd = -20, .alphaAdd = 10};
    p.ratio = 300;
    p.name = "clip";
    p.clipDepth = 12;
    p.clipActions.push_back({.events = w::kClipLoad | w::kClipEnterFrame, .actions = w::Actions().stop()});
    p.clipActions.push_back({.events = w::kClipKeyPress, .keyCode = 13, .actions = w::Actions().play()});
    p.filters = {w::Filter::blur(4, 6, 2), w::Filter::dropShadow({1, 2, 3, 4}, 5, 5, 0.785, 4, 2, true, false, 3),
                 w::Filter::glow({9, 9, 9, 9}, 2, 3), w::Filter::bevel({255, 255, 255, 255}, {0, 0, 0, 255}, 1, 1, 1, 2),
                 w::Filter::gradientGlow({{0, {1, 1, 1, 1}}, {255, {2, 2, 2, 2}}}, 1, 1, 0, 0),
                 w::Filter::convolution(3, 2, 2, 1, {1, 2, 3, 4, 5, 6}, {7, 7, 7, 7}, true, true),
                 w::Filter::colorMatrix({1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0})};
    p.blendMode = 3;
    p.bitmapCache = 1;
    p.visible = false;
    p.background = w::Color{10, 20, 30, 255};
    movie.place(p);
    movie.place({.depth = 7, .move = true, .matrix = w::Matrix::translate(1, 2)});
    movie.placeObject1(4, 2, w::Matrix::translate(-5, 5), w::CXForm{.blueMult = 0});
    movie.removeObject(4, 2);
    movie.removeObject2(7);
    movie.showFrame();
    ParsedMovie m = Parse(movie);

    const auto places = Places(m.tags);
    ASSERT_EQ(places.size(), 3u);
    const PlaceObject& full = places[0];
    EXPECT_EQ(full.version, 3);
    EXPECT_EQ(full.depth, 7);
    EXPECT_EQ(full.character_id, 3);
    EXPECT_FALSE(full.is_move);
    ASSERT_TRUE(full.matrix);
    EXPECT_NEAR(full.matrix->a, 2 * std::cos(0.5), 1e-4);
    EXPECT_NEAR(full.matrix->b, 2 * std::sin(0.5), 1e-4);
    EXPECT_NEAR(full.matrix->c, -3 * std::sin(0.5), 1e-4);
    EXPECT_EQ(full.matrix->tx, -40);
    EXPECT_EQ(full.matrix->ty, 50);
    ASSERT_TRUE(full.color_transform);
    EXPECT_EQ(full.color_transform->r_mult, 128);
    EXPECT_EQ(full.color_transform->a_mult, 64);
    EXPECT_EQ(full.color_transform->g_add, -20);
    EXPECT_EQ(full.color_transform->a_add, 10);
    EXPECT_EQ(full.ratio, 300);
    EXPECT_EQ(full.name, "clip");
    EXPECT_EQ(full.clip_depth, 12);
    EXPECT_EQ(full.blend_mode, BlendMode::Multiply);
    EXPECT_EQ(full.cache_as_bitmap, true);
    EXPECT_EQ(full.visible, false);
    EXPECT_EQ(full.background_color, (Rgba{10, 20, 30, 255}));

    ASSERT_TRUE(full.filters);
    ASSERT_EQ(full.filters->size(), 7u);
    const auto& blur = std::get<BlurFilter>((*full.filters)[0]);
    EXPECT_DOUBLE_EQ(blur.blur_x, 4);
    EXPECT_EQ(blur.passes, 2);
    const auto& shadow = std::get<DropShadowFilter>((*full.filters)[1]);
    EXPECT_EQ(shadow.color, (Rgba{1, 2, 3, 4}));
    EXPECT_NEAR(shadow.angle, 0.785, 1e-4);
    EXPECT_DOUBLE_EQ(shadow.strength, 2);
    EXPECT_TRUE(shadow.inner);
    EXPECT_EQ(shadow.passes, 3);
    EXPECT_TRUE(std::holds_alternative<GlowFilter>((*full.filters)[2]));
    const auto& bevel = std::get<BevelFilter>((*full.filters)[3]);
    EXPECT_EQ(bevel.highlight_color, (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(bevel.shadow_color, (Rgba{0, 0, 0, 255}));
    const auto& gglow = std::get<GradientFilter>((*full.filters)[4]);
    EXPECT_FALSE(gglow.bevel);
    ASSERT_EQ(gglow.gradient.size(), 2u);
    EXPECT_EQ(gglow.gradient[1].ratio, 255);
    EXPECT_EQ(gglow.gradient[1].color, (Rgba{2, 2, 2, 2}));
    const auto& conv = std::get<ConvolutionFilter>((*full.filters)[5]);
    EXPECT_EQ(conv.matrix_x, 3);
    EXPECT_EQ(conv.matrix_y, 2);
    EXPECT_EQ(conv.matrix, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(conv.clamp && conv.preserve_alpha);
    EXPECT_FLOAT_EQ(std::get<ColorMatrixFilter>((*full.filters)[6]).matrix[6], 1);

    ASSERT_TRUE(full.clip_actions);
    ASSERT_EQ(full.clip_actions->records.size(), 2u);
    EXPECT_EQ(full.clip_actions->records[0].events, kClipEventLoad | kClipEventEnterFrame);
    EXPECT_EQ(full.clip_actions->records[0].actions, (Bytes{0x07, 0x00}));
    EXPECT_EQ(full.clip_actions->records[1].events, kClipEventKeyPress);
    EXPECT_EQ(full.clip_actions->records[1].key_code, 13);
    EXPECT_EQ(full.clip_actions->records[1].actions, (Bytes{0x06, 0x00}));

    const PlaceObject& move = places[1];
    EXPECT_TRUE(move.is_move);
    EXPECT_FALSE(move.character_id);
    EXPECT_FALSE(move.color_transform);
    EXPECT_EQ(move.matrix->tx, 1);

    const PlaceObject& old = places[2];
    EXPECT_EQ(old.version, 1);
    EXPECT_EQ(old.character_id, 4);
    EXPECT_EQ(old.depth, 2);
    ASSERT_TRUE(old.color_transform);
    EXPECT_EQ(old.color_transform->b_mult, 0);
    EXPECT_EQ(old.color_transform->a_mult, 256);

    auto removes = All<RemoveObject>(m.tags);
    ASSERT_EQ(removes.size(), 2u);
    EXPECT_EQ(removes[0]->character_id, 4);
    EXPECT_EQ(removes[0]->depth, 2);
    EXPECT_FALSE(removes[1]->character_id);
    EXPECT_EQ(removes[1]->depth, 7);
}

// Clip event flags are two bytes in version 5 files and four later.
TEST(ParserRecords, ClipEventWidthFollowsTheFileVersion) {
    for (uint8_t version : {5, 6}) {
        w::Movie movie({.version = version});
        w::Place p{.depth = 1, .character = 1};
        p.clipActions.push_back({.events = w::kClipMouseDown | w::kClipData, .actions = w::Actions().stop()});
        movie.place(p);
        movie.showFrame();
        ParsedMovie m = Parse(movie);
        const auto places = Places(m.tags);
        ASSERT_EQ(places.size(), 1u);
        const auto& ca = places[0].clip_actions;
        ASSERT_TRUE(ca) << int(version);
        ASSERT_EQ(ca->records.size(), 1u);
        EXPECT_EQ(ca->records[0].events, kClipEventMouseDown | kClipEventData) << int(version);
    }
}

TEST(ParserRecords, DecodesFontsAndText) {
    w::Movie movie({.version = 8});
    w::Font font{.name = "Sans", .bold = true, .ascent = 900, .descent = 200, .leading = 30};
    for (uint16_t code : {'A', 'B'}) {
        w::Glyph g{.code = code, .advance = int16_t(code == 'A' ? 600 : 650)};
        g.outline.moveTo(0, 0).lineTo(500, 0).lineTo(500, -700).lineTo(0, 0);
        font.glyphs.push_back(g);
    }
    font.kerning.push_back({'A', 'B', -40});
    uint16_t f1 = movie.defineFont(font);
    movie.defineFontInfo(f1, font);
    uint16_t f2 = movie.defineFont2(font);
    movie.defineFont3(font);
    w::Text text{.bounds = {0, 2000, -400, 100}, .matrix = w::Matrix::translate(20, 40)};
    text.records.push_back(w::layoutText(font, f2, "AB", 240, {255, 0, 0, 128}, 10, 200));
    text.records.push_back({.y = 500, .glyphs = {{1, 300}}});
    movie.defineText(text, 2);
    w::EditText edit{.bounds = {0, 4000, 0, 600}, .text = "hello", .wordWrap = true, .html = true,
                     .useOutlines = true, .font = f2, .height = 360, .color = w::Color{1, 2, 3, 4},
                     .maxLength = uint16_t(20), .variable = "_root.v"};
    edit.layout = w::EditText::Layout{.align = 2, .leftMargin = 5, .rightMargin = 6, .indent = 7, .leading = -2};
    movie.defineEditText(edit);
    movie.showFrame();
    ParsedMovie m = Parse(movie);

    auto fonts = All<Font>(m.tags);
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_EQ(fonts[0]->version, 1);
    ASSERT_EQ(fonts[0]->glyphs.size(), 2u);
    EXPECT_EQ(fonts[0]->glyphs[1].records.size(), 4u);
    for (const Font* f : {fonts[1], fonts[2]}) {
        SCOPED_TRACE("DefineFont" + std::to_string(f->version));
        EXPECT_EQ(f->name, "Sans");
        EXPECT_TRUE(f->bold);
        EXPECT_FALSE(f->italic);
        EXPECT_EQ(f->codes, (std::vector<uint16_t>{'A', 'B'}));
        ASSERT_EQ(f->glyphs.size(), 2u);
        ASSERT_TRUE(f->layout);
        EXPECT_EQ(f->layout->ascent, 900);
        EXPECT_EQ(f->layout->descent, 200);
        EXPECT_EQ(f->layout->leading, 30);
        EXPECT_EQ(f->layout->advances, (std::vector<int16_t>{600, 650}));
        ASSERT_EQ(f->layout->kerning.size(), 1u);
        EXPECT_EQ(f->layout->kerning[0].adjustment, -40);
    }
    EXPECT_EQ(fonts[2]->EmSize(), 20480);
    const FontInfo& info = First<FontInfo>(m);
    EXPECT_EQ(info.font_id, f1);
    EXPECT_EQ(info.codes, (std::vector<uint16_t>{'A', 'B'}));

    const Text& t = First<Text>(m);
    EXPECT_EQ(t.version, 2);
    EXPECT_EQ(t.bounds, (Rect{0, 2000, -400, 100}));
    EXPECT_EQ(t.matrix.ty, 40);
    ASSERT_EQ(t.records.size(), 2u);
    EXPECT_EQ(t.records[0].font_id, f2);
    EXPECT_EQ(t.records[0].height, 240);
    EXPECT_EQ(t.records[0].color, (Rgba{255, 0, 0, 128}));
    EXPECT_EQ(t.records[0].x_offset, 10);
    ASSERT_EQ(t.records[0].glyphs.size(), 2u);
    EXPECT_EQ(t.records[0].glyphs[1].index, 1u);
    EXPECT_FALSE(t.records[1].font_id);
    EXPECT_EQ(t.records[1].y_offset, 500);
    EXPECT_EQ(t.records[1].glyphs[0].advance, 300);

    const EditText& e = First<EditText>(m);
    EXPECT_EQ(e.initial_text, "hello");
    EXPECT_TRUE(e.word_wrap && e.html && e.use_outlines);
    EXPECT_FALSE(e.multiline);
    EXPECT_EQ(e.font_id, f2);
    EXPECT_EQ(e.font_height, 360);
    EXPECT_EQ(e.color, (Rgba{1, 2, 3, 4}));
    EXPECT_EQ(e.max_length, 20);
    ASSERT_TRUE(e.layout);
    EXPECT_EQ(e.layout->align, TextAlign::Center);
    EXPECT_EQ(e.layout->indent, 7);
    EXPECT_EQ(e.layout->leading, -2);
    EXPECT_EQ(e.variable_name, "_root.v");
}

TEST(ParserRecords, DecodesButtonsSpritesSoundsAndBitmaps) {
    w::Movie movie({.version = 9});
    uint16_t button1 = movie.defineButton({{.states = w::kButtonUp | w::kButtonHit, .character = 5, .depth = 2,
                                            .matrix = w::Matrix::translate(10, 20)}},
                                          w::Actions().play());
    uint16_t button2 = movie.defineButton2(
        {{.states = w::kButtonDown, .character = 6, .depth = 3, .cxform = {.alphaMult = 128}, .blendMode = uint8_t(8)}},
        {{.conditions = w::kCondIdleToOverUp | w::kCondOverDownToIdle, .actions = w::Actions().stop()},
         {.conditions = w::keyPress(13), .actions = w::Actions().nextFrame()}},
        true);
    w::Sprite sprite = movie.sprite();
    sprite.place({.depth = 1, .character = 5});
    sprite.showFrame();
    sprite.doAction(w::Actions().stop());
    sprite.showFrame();
    uint16_t sprite_id = movie.defineSprite(sprite);
    uint16_t sound = movie.defineSound({.format = 3, .rate = 2, .sixteenBit = true, .stereo = true}, 4, Bytes(16, 1));
    movie.startSound(sound, {.syncStop = true, .inPoint = 10u, .loops = uint16_t(3),
                             .envelope = {{0, 32768, 0}, {44100, 0, 32768}}});
    movie.soundStreamHead({.format = 2, .rate = 3, .stereo = false}, 1152, int16_t(-576));
    movie.soundStreamBlock({1, 2, 3});
    uint16_t lossless = movie.defineBitsLossless(3, 5, 2, Bytes(3 * 4 + 8 * 2, 0), 4);
    uint16_t jpeg3 = movie.defineBitsJPEG3({0xFF, 0xD8, 0xFF, 0xD9}, {255, 0});
    movie.frameLabel("anchor", true);
    movie.exportAssets({{sprite_id, "Clip"}});
    movie.showFrame();
    ParsedMovie m = Parse(movie);

    auto buttons = All<Button>(m.tags);
    ASSERT_EQ(buttons.size(), 2u);
    const Button& b1 = *buttons[0];
    EXPECT_EQ(b1.id, button1);
    ASSERT_EQ(b1.records.size(), 1u);
    EXPECT_TRUE(b1.records[0].state_up && b1.records[0].state_hit_test);
    EXPECT_FALSE(b1.records[0].state_over);
    EXPECT_EQ(b1.records[0].matrix.ty, 20);
    ASSERT_EQ(b1.actions.size(), 1u);
    EXPECT_EQ(b1.actions[0].conditions, kCondOverDownToOverUp);
    EXPECT_EQ(b1.actions[0].actions, (Bytes{0x06, 0x00}));
    const Button& b2 = *buttons[1];
    EXPECT_EQ(b2.id, button2);
    EXPECT_TRUE(b2.track_as_menu);
    EXPECT_EQ(b2.records[0].color_transform.a_mult, 128);
    EXPECT_EQ(b2.records[0].blend_mode, BlendMode::Add);
    ASSERT_EQ(b2.actions.size(), 2u);
    EXPECT_EQ(b2.actions[0].conditions, kCondIdleToOverUp | kCondOverDownToIdle);
    EXPECT_EQ(b2.actions[0].actions, (Bytes{0x07, 0x00}));
    EXPECT_EQ(b2.actions[1].conditions, 0);
    EXPECT_EQ(b2.actions[1].key_code, 13);
    EXPECT_EQ(b2.actions[1].actions, (Bytes{0x04, 0x00}));

    const Sprite& s = First<Sprite>(m);
    EXPECT_EQ(s.id, sprite_id);
    EXPECT_EQ(s.frame_count, 2);
    ASSERT_EQ(s.tags.size(), 5u);
    EXPECT_TRUE(std::holds_alternative<PackedPlaceObject>(s.tags[0].body));
    EXPECT_EQ(std::get<DoAction>(s.tags[2].body).actions, (Bytes{0x07, 0x00}));
    EXPECT_TRUE(std::holds_alternative<End>(s.tags[4].body));

    const DefineSound& ds = First<DefineSound>(m);
    EXPECT_EQ(ds.format.codec, SoundCodec::UncompressedLittleEndian);
    EXPECT_EQ(ds.format.SampleRate(), 22050u);
    EXPECT_TRUE(ds.format.is_16bit && ds.format.is_stereo);
    EXPECT_EQ(ds.sample_count, 4u);
    EXPECT_EQ(ds.data.size(), 16u);
    const StartSound& start = First<StartSound>(m);
    EXPECT_EQ(start.sound_id, sound);
    EXPECT_TRUE(start.info.sync_stop);
    EXPECT_EQ(start.info.in_point, 10u);
    EXPECT_FALSE(start.info.out_point);
    EXPECT_EQ(start.info.loop_count, 3);
    ASSERT_TRUE(start.info.envelope);
    EXPECT_EQ((*start.info.envelope)[1].pos44, 44100u);
    EXPECT_EQ((*start.info.envelope)[1].right, 32768);
    const SoundStreamHead& head = First<SoundStreamHead>(m);
    EXPECT_EQ(head.stream.codec, SoundCodec::Mp3);
    EXPECT_EQ(head.sample_count, 1152);
    EXPECT_EQ(head.latency_seek, -576);
    EXPECT_EQ(First<SoundStreamBlock>(m).data, (Bytes{1, 2, 3}));

    auto bitmaps = All<Bitmap>(m.tags);
    ASSERT_EQ(bitmaps.size(), 2u);
    EXPECT_EQ(bitmaps[0]->id, lossless);
    EXPECT_EQ(bitmaps[0]->kind, BitmapKind::Lossless);
    EXPECT_EQ(bitmaps[0]->lossless_format, LosslessFormat::ColorMapped8);
    EXPECT_EQ(bitmaps[0]->width, 5);
    EXPECT_EQ(bitmaps[0]->height, 2);
    EXPECT_EQ(bitmaps[0]->color_table_size, 4);
    EXPECT_EQ(bitmaps[1]->id, jpeg3);
    EXPECT_EQ(bitmaps[1]->kind, BitmapKind::Jpeg3);
    EXPECT_EQ(bitmaps[1]->image_format, ImageFormat::Jpeg);
    EXPECT_EQ(bitmaps[1]->data, (Bytes{0xFF, 0xD8, 0xFF, 0xD9}));
    EXPECT_FALSE(bitmaps[1]->alpha_data.empty());

    const FrameLabel& label = First<FrameLabel>(m);
    EXPECT_EQ(label.name, "anchor");
    EXPECT_TRUE(label.is_anchor);
    const ExportAssets& exports = First<ExportAssets>(m);
    ASSERT_EQ(exports.assets.size(), 1u);
    EXPECT_EQ(exports.assets[0].name, "Clip");
}

// Version 5 and older movies store text in Windows-1252; the model is UTF-8.
TEST(ParserRecords, OldMoviesTextBecomesUtf8) {
    Bytes raw = {'c', 'a', 'f', 0xE9, ' ', 0x80};
    EXPECT_EQ(TextToUtf8(raw, 5), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(TextToUtf8(raw, 6), std::string(raw.begin(), raw.end()));
}

TEST(ParserRecords, DecodesActionRecords) {
    Bytes list = {0x07, 0x96, 0x02, 0x00, 0x08, 0x01, 0x81, 0x02, 0x00, 0x05, 0x00, 0x00};
    std::vector<std::pair<uint8_t, size_t>> seen;
    size_t pos = 0;
    while (auto r = DecodeAction(list, pos)) {
        seen.emplace_back(r->code, r->payload.size());
        pos += r->size;
    }
    EXPECT_EQ(seen, (std::vector<std::pair<uint8_t, size_t>>{{0x07, 0}, {0x96, 2}, {0x81, 2}, {0x00, 0}}));
    // A record whose length runs past the list is not returned.
    Bytes cut = {0x96, 0x05, 0x00, 0x00};
    EXPECT_FALSE(DecodeAction(cut, 0));
}
