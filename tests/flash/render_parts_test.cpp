// Building blocks of the renderer: paths, gradients, bitmaps, colour transforms, strokes.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

#include "flash/render/render_parts.h"

namespace qm::flash::render {
namespace {

// A small ARGB canvas for checking what a pattern or path paints.
struct Canvas {
    SurfacePtr surface;
    cairo_t* cr;
    Canvas(int w, int h) : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), cr(cairo_create(surface.get())) {}
    ~Canvas() { cairo_destroy(cr); }
    uint32_t at(int x, int y) {
        cairo_surface_flush(surface.get());
        auto* row = cairo_image_surface_get_data(surface.get()) + y * cairo_image_surface_get_stride(surface.get());
        return reinterpret_cast<uint32_t*>(row)[x];
    }
};

int Red(uint32_t p) { return (p >> 16) & 255; }
int Green(uint32_t p) { return (p >> 8) & 255; }
int Alpha(uint32_t p) { return p >> 24; }

StyledEdge Line(double x0, double y0, double x1, double y1, uint32_t f0, uint32_t f1, uint32_t line = 0) {
    return {{x0, y0}, {x0, y0}, {x1, y1}, false, f0, f1, line, 0};
}

// Fills every style of the first layer with a colour per style index: 1 red, 2 green.
void FillLayer(Canvas& c, const PathLayer& layer) {
    for (const auto& f : layer.fills) {
        cairo_new_path(c.cr);
        AppendPath(c.cr, f.commands);
        cairo_set_fill_rule(c.cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_set_source_rgb(c.cr, f.style == 1, f.style == 2, 0);
        cairo_fill(c.cr);
    }
}

TEST(RenderPaths, LeftAndRightFillsBecomeClosedRegions) {
    // Two squares side by side, 0..10 and 10..20, drawn as one would author
    // them: the shared edge carries the left square on one side and the right
    // square on the other, and the outer edges run in mixed directions.
    std::vector<StyledEdge> edges = {
        Line(0, 0, 10, 0, 0, 1),   Line(10, 0, 10, 10, 2, 1),  // shared edge: left of travel = 2
        Line(10, 10, 0, 10, 0, 1), Line(0, 10, 0, 0, 0, 1),
        Line(10, 10, 20, 10, 2, 0), Line(20, 10, 20, 0, 2, 0),
        Line(20, 0, 10, 0, 2, 0),
    };
    auto layers = BuildPaths(edges);
    ASSERT_EQ(layers.size(), 1u);
    ASSERT_EQ(layers[0].fills.size(), 2u);
    for (const auto& f : layers[0].fills) {
        ASSERT_FALSE(f.commands.empty());
        EXPECT_EQ(f.commands.back().op, PathCommand::Close) << "style " << f.style;
    }
    Canvas c(20, 10);
    FillLayer(c, layers[0]);
    EXPECT_EQ(c.at(5, 5), 0xFFFF0000u);
    EXPECT_EQ(c.at(15, 5), 0xFF00FF00u);
}

TEST(RenderPaths, EdgesOutOfOrderAndCurvesStillLink) {
    // A square whose edges come in scrambled order plus an interior edge with
    // the same fill on both sides, which must not cut the fill.
    std::vector<StyledEdge> edges = {
        Line(10, 10, 0, 10, 1, 0), Line(0, 0, 10, 0, 1, 0), Line(5, 0, 5, 10, 1, 1),
        Line(0, 10, 0, 0, 1, 0),   Line(10, 0, 10, 10, 1, 0),
    };
    auto layers = BuildPaths(edges);
    ASSERT_EQ(layers[0].fills.size(), 1u);
    int moves = 0;
    for (const auto& cmd : layers[0].fills[0].commands) moves += cmd.op == PathCommand::Move;
    EXPECT_EQ(moves, 1);
    Canvas c(10, 10);
    FillLayer(c, layers[0]);
    EXPECT_EQ(c.at(2, 5), 0xFFFF0000u);
    EXPECT_EQ(c.at(7, 5), 0xFFFF0000u);
}

TEST(RenderPaths, StrokesJoinConnectedEdgesAndLayersStaySeparate) {
    std::vector<StyledEdge> edges = {
        Line(0, 0, 10, 0, 0, 0, 1), Line(10, 0, 10, 10, 0, 0, 1), Line(10, 10, 0, 0, 0, 0, 1),
        Line(50, 50, 60, 50, 0, 0, 1),
    };
    edges.push_back(Line(0, 0, 5, 5, 0, 0, 1));
    edges.back().layer = 1;
    auto layers = BuildPaths(edges);
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[1].layer, 1u);
    const auto& cmds = layers[0].strokes.at(0).commands;
    int moves = 0, closes = 0;
    for (const auto& cmd : cmds) {
        moves += cmd.op == PathCommand::Move;
        closes += cmd.op == PathCommand::Close;
    }
    EXPECT_EQ(moves, 2);   // the triangle and the separate segment
    EXPECT_EQ(closes, 1);  // the triangle returns to its start
}

TEST(RenderGradients, RampInterpolatesInTheChosenSpace) {
    std::vector<GradientStop> stops = {{0, {0, 0, 0, 255}}, {255, {255, 255, 255, 0}}};
    auto rgb = BuildGradientRamp(stops, Interpolation::Rgb);
    auto lin = BuildGradientRamp(stops, Interpolation::LinearRgb);
    EXPECT_NEAR(rgb[128].r, 128, 1);
    EXPECT_NEAR(lin[128].r, 188, 2);  // half the light is brighter than half the code value
    EXPECT_NEAR(lin[128].a, 127, 1);  // alpha always blends plainly
    // Before the first and after the last stop the end colours hold.
    std::vector<GradientStop> inner = {{100, {10, 20, 30, 255}}, {200, {40, 50, 60, 255}}};
    auto pad = BuildGradientRamp(inner, Interpolation::Rgb);
    EXPECT_EQ(pad[0], (Rgba{10, 20, 30, 255}));
    EXPECT_EQ(pad[255], (Rgba{40, 50, 60, 255}));
}

TEST(RenderGradients, SharedRatiosKeepTheColoursOfThePairs) {
    const Rgba a{255, 0, 0, 255}, b{0, 255, 0, 255}, c{0, 0, 255, 255}, d{9, 9, 9, 255};
    std::vector<GradientStop> stops = {{0, a}, {0, b}, {255, c}, {255, d}};
    auto ramp = BuildGradientRamp(stops, Interpolation::Rgb);
    EXPECT_EQ(ramp[0], b);
    EXPECT_EQ(ramp[255], c);
    // The same through cairo, including beyond the end where a repeated end
    // stop used to leave the pad area unpainted.
    GradientFill gradient;
    gradient.stops = stops;
    gradient.matrix = {10.0 / 32768, 0, 0, 1, 5, 0};
    Canvas canvas(40, 1);
    cairo_set_source(canvas.cr, MakeGradientPattern(gradient, {}).get());
    cairo_paint(canvas.cr);
    EXPECT_EQ(canvas.at(30, 0), 0xFF0000FFu);
    // Inner repeated ratios make a hard step: below it the earlier colour,
    // from it on the later one.
    std::vector<GradientStop> inner = {{0, a}, {100, a}, {100, c}, {255, c}};
    auto step = BuildGradientRamp(inner, Interpolation::Rgb);
    EXPECT_EQ(step[99], a);
    EXPECT_EQ(step[100], c);
}

TEST(RenderGradients, SpreadModesBeyondTheGradientSquare) {
    // The gradient square is squeezed onto x = 0..10 (scale 10/32768); the
    // canvas is 40 wide, so x = 15 lies half a square beyond the end.
    struct Case {
        SpreadMode spread;
        int expectRedAt15;
    } cases[] = {{SpreadMode::Pad, 255}, {SpreadMode::Reflect, 128}, {SpreadMode::Repeat, 128}};
    for (const auto& tc : cases) {
        GradientFill gradient;
        gradient.spread = tc.spread;
        gradient.stops = {{0, {0, 0, 0, 255}}, {255, {255, 0, 0, 255}}};
        gradient.matrix = {10.0 / 32768, 0, 0, 1, 5, 0};
        PatternPtr p = MakeGradientPattern(gradient, {});
        ASSERT_TRUE(p);
        Canvas c(40, 1);
        cairo_set_source(c.cr, p.get());
        cairo_paint(c.cr);
        EXPECT_NEAR(Red(c.at(15, 0)), tc.expectRedAt15, 20) << int(tc.spread);
        EXPECT_LT(Red(c.at(1, 0)), 60);
    }
}

TEST(RenderGradients, FocalPointShiftsTheCentreAndTransformApplies) {
    GradientFill gradient;
    gradient.kind = GradientKind::Focal;
    gradient.focalPoint = 0.75;
    gradient.stops = {{0, {255, 255, 255, 255}}, {255, {0, 0, 0, 255}}};
    gradient.matrix = {100.0 / 32768, 0, 0, 100.0 / 32768, 50, 50};  // radius 50 around (50, 50)
    ColorTransform halfRed;
    halfRed.mr = 0.5;
    PatternPtr p = MakeGradientPattern(gradient, halfRed);
    Canvas c(100, 100);
    cairo_set_source(c.cr, p.get());
    cairo_paint(c.cr);
    // Brightest near the focal point (x = 50 + 0.75 * 50), not at the centre.
    EXPECT_GT(Green(c.at(86, 50)), 200);
    EXPECT_LT(Green(c.at(20, 50)), 120);
    EXPECT_NEAR(Red(c.at(86, 50)), Green(c.at(86, 50)) / 2, 3);
    // No stops: nothing to paint.
    gradient.stops.clear();
    EXPECT_FALSE(MakeGradientPattern(gradient, {}));
}

// ---- bitmaps ----

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
    uLongf size = compressBound(raw.size());
    std::vector<uint8_t> out(size);
    compress(out.data(), &size, raw.data(), raw.size());
    out.resize(size);
    return out;
}

std::vector<uint8_t> EncodeJpeg(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(w * 3);
    for (int x = 0; x < w; ++x) {
        row[3 * x] = r;
        row[3 * x + 1] = g;
        row[3 * x + 2] = b;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

uint32_t PixelAt(const DecodedBitmap& bm, int x, int y) { return bm.pixels[y * bm.width + x]; }

TEST(RenderBitmaps, JpegWithSeparateTablesAndErroneousMarkers) {
    std::vector<uint8_t> jpeg = EncodeJpeg(16, 8, 200, 40, 40);
    // Split the way older movies store it: tables (SOI, DQT, DHT, EOI) apart
    // from the picture (SOI, frame, scan, EOI).
    size_t sof = 0;
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    ASSERT_GT(sof, 0u);
    std::vector<uint8_t> tables(jpeg.begin(), jpeg.begin() + sof);
    tables.push_back(0xFF);
    tables.push_back(0xD9);
    // Only the frame and scan go into the picture; its tables are in `tables`.
    std::vector<uint8_t> picture = {0xFF, 0xD8};
    picture.insert(picture.end(), jpeg.begin() + sof, jpeg.end());
    auto r = DecodeJpeg(picture, tables);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.bitmap.width, 16);
    EXPECT_NEAR(Red(PixelAt(r.bitmap, 3, 3)), 200, 6);

    // The erroneous pair before the real start of image.
    std::vector<uint8_t> quirky = {0xFF, 0xD9, 0xFF, 0xD8};
    quirky.insert(quirky.end(), jpeg.begin(), jpeg.end());
    r = DecodeBitmapTag(21, quirky, {});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_NEAR(Green(PixelAt(r.bitmap, 0, 0)), 40, 6);
}

TEST(RenderBitmaps, JpegWithAlphaPlaneIsPremultiplied) {
    std::vector<uint8_t> jpeg = EncodeJpeg(4, 2, 200, 200, 200);
    std::vector<uint8_t> alpha = {255, 128, 0, 255, 255, 255, 255, 255};
    std::vector<uint8_t> body(4);
    uint32_t n = static_cast<uint32_t>(jpeg.size());
    body = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    body.insert(body.end(), jpeg.begin(), jpeg.end());
    auto z = Deflate(alpha);
    body.insert(body.end(), z.begin(), z.end());
    auto r = DecodeBitmapTag(35, body, {});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(Alpha(PixelAt(r.bitmap, 1, 0)), 128);
    EXPECT_NEAR(Red(PixelAt(r.bitmap, 1, 0)), 100, 4);
    EXPECT_EQ(PixelAt(r.bitmap, 2, 0), 0u);
}

TEST(RenderBitmaps, LosslessFormatsWithPaddedRows) {
    // 8-bit colour-mapped, 3 pixels wide: rows padded to 4 bytes.
    std::vector<uint8_t> raw = {255, 0, 0, 0, 0, 255};  // palette: red, blue
    std::vector<uint8_t> rows = {0, 1, 0, 9, /* row 2 */ 1, 1, 0, 9};
    raw.insert(raw.end(), rows.begin(), rows.end());
    auto r = DecodeLossless(3, 3, 2, 1, Deflate(raw), false);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.bitmap, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(r.bitmap, 0, 1), 0xFF0000FFu);  // needs the padding skipped
    EXPECT_EQ(PixelAt(r.bitmap, 2, 1), 0xFFFF0000u);

    // 15-bit: 0RRRRRGG GGGBBBBB, one pixel, row padded to 4 bytes.
    auto r15 = DecodeLossless(4, 1, 2, 0, Deflate({0x7C, 0x00, 0, 0, 0x00, 0x1F, 0, 0}), false);
    ASSERT_TRUE(r15.ok());
    EXPECT_EQ(PixelAt(r15.bitmap, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r15.bitmap, 0, 1), 0xFF0000FFu);

    // 32-bit with alpha is stored premultiplied; colours above alpha are clamped.
    auto r32 = DecodeLossless(5, 2, 1, 0, Deflate({128, 100, 50, 0, 100, 200, 0, 0}), true);
    ASSERT_TRUE(r32.ok());
    EXPECT_EQ(PixelAt(r32.bitmap, 0, 0), 0x80643200u);
    EXPECT_EQ(PixelAt(r32.bitmap, 1, 0), 0x64640000u);

    // The palette with alpha is straight alpha.
    auto rp = DecodeLossless(3, 1, 1, 0, Deflate({255, 255, 255, 128, 0, 0, 0, 0}), true);
    ASSERT_TRUE(rp.ok());
    EXPECT_EQ(PixelAt(rp.bitmap, 0, 0), 0x80808080u);
}

TEST(RenderBitmaps, GifWithTransparencyAndInterlacedRows) {
    // 3x2: red, blue, transparent / blue, transparent, lime.
    const std::vector<uint8_t> small = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x03, 0x00, 0x02, 0x00, 0xf1, 0x00, 0x00, 0xff, 0x00, 0x00,
        0x00, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x01, 0x00, 0x00, 0x03,
        0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x84, 0x76, 0x51,
        0x00, 0x3b};
    auto r = DecodeBitmapTag(21, small, {});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(r.bitmap, 1, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(r.bitmap, 2, 0), 0u);
    EXPECT_EQ(PixelAt(r.bitmap, 2, 1), 0xFF00FF00u);

    // 1x9 grey ramp stored interlaced: rows come back in picture order.
    const std::vector<uint8_t> interlaced = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x09, 0x00, 0xf3, 0x08, 0x00, 0x00, 0x00, 0x00,
        0x20, 0x20, 0x20, 0x40, 0x40, 0x40, 0x60, 0x60, 0x60, 0x80, 0x80, 0x80, 0x9f, 0x9f, 0x9f, 0xbf,
        0xbf, 0xbf, 0xdf, 0xdf, 0xdf, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x09, 0x00, 0x40, 0x04, 0x07, 0x10, 0x20, 0x22, 0x4c, 0x18, 0xe5, 0x44,
        0x00, 0x3b};
    r = DecodeBitmapTag(21, interlaced, {});
    ASSERT_TRUE(r.ok()) << r.error;
    const int expect[9] = {0x00, 0x20, 0x40, 0x60, 0x80, 0x9f, 0xbf, 0xdf, 0xff};
    for (int y = 0; y < 9; ++y) EXPECT_EQ(Red(PixelAt(r.bitmap, 0, y)), expect[y]) << y;

    // Cut short anywhere: a clear refusal or a picture, never a crash.
    for (size_t n = 0; n < small.size(); ++n) {
        std::vector<uint8_t> cut(small.begin(), small.begin() + n);
        auto c = DecodeEmbeddedImage(cut);
        EXPECT_TRUE(c.ok() || !c.error.empty());
    }
}

TEST(RenderBitmaps, DamagedOrOversizedDataIsRefused) {
    EXPECT_FALSE(DecodeJpeg(std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xC0, 0x00}).ok());
    EXPECT_FALSE(DecodeLossless(5, 8192, 8192, 0, Deflate({1, 2, 3}), false).ok());
    EXPECT_FALSE(DecodeLossless(7, 2, 2, 0, Deflate({1, 2, 3}), false).ok());
    EXPECT_FALSE(DecodeLossless(5, 2, 2, 0, std::vector<uint8_t>{1, 2, 3, 4}, false).ok());
    EXPECT_FALSE(DecodeBitmapTag(35, std::vector<uint8_t>{1, 0}, {}).ok());
    EXPECT_FALSE(DecodeBitmapTag(20, std::vector<uint8_t>{3, 1, 0, 1, 0}, {}).ok());
    // A short stream still gives a picture of the stated size.
    auto r = DecodeLossless(5, 2, 2, 0, Deflate({0, 255, 0, 0}), false);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.bitmap.pixels.size(), 4u);
    EXPECT_EQ(PixelAt(r.bitmap, 0, 0), 0xFFFF0000u);
}

TEST(RenderColor, TransformMultipliesThenAddsAndComposes) {
    ColorTransform cx;
    cx.mr = 0.5;
    cx.ag = 300;
    cx.ma = 0.5;
    cx.aa = -10;
    // Products round to the nearest level: 255 * 0.5 - 10 = 117.5 gives 118.
    EXPECT_EQ(cx.apply({200, 10, 0, 255}), (Rgba{100, 255, 0, 118}));
    // An _alpha of 30 is stored as 76/256 and shows an opaque pixel at 76.
    ColorTransform thirty;
    thirty.ma = 76 / 256.0;
    EXPECT_EQ(thirty.apply({0, 0, 255, 255}).a, 76);
    ColorTransform outer;
    outer.mr = 0.5;
    outer.ar = 20;
    Rgba step = outer.apply(cx.apply({200, 0, 0, 255}));
    EXPECT_EQ((outer * cx).apply({200, 0, 0, 255}).r, step.r);
    EXPECT_TRUE(ColorTransform{}.isIdentity());
}

TEST(RenderStrokes, WidthFollowsScaleWithAOnePixelFloor) {
    StrokeStyle s;
    s.width = 40;  // two pixels at 1:1
    Matrix pixels{0.05, 0, 0, 0.05, 0, 0};
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, pixels, 0.05), 2.0);
    Matrix doubled{0.1, 0, 0, 0.1, 0, 0};
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, doubled, 0.05), 4.0);
    s.noHScale = s.noVScale = true;
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, doubled, 0.05), 2.0);
    // One direction kept: only the other direction's scaling counts.
    Matrix wide{0.2, 0, 0, 0.05, 0, 0};
    s.noVScale = false;
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, wide, 0.05), 2.0);
    s.noHScale = false;
    s.noVScale = true;
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, wide, 0.05), 8.0);
    s = {};
    s.width = 0;  // hairline
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, pixels, 0.05), 1.0);
    Matrix squashed{0.0, 0, 0, 0.0, 0, 0};
    s.width = 200;
    EXPECT_DOUBLE_EQ(StrokeWidthPixels(s, squashed, 0.05), 1.0);
}

}  // namespace
}  // namespace qm::flash::render
