// Gradient fills painted from a table of the gradient through cairo's coverage:
// the same picture as cairo's own gradient within a few levels, in the
// right place on layers and under clips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "flash/render/gradient_fill.h"

namespace qm::flash::render {
namespace {

struct Picture {
    SurfacePtr surface;
    cairo_t* cr;
    Picture(int w, int h, double offX = 0, double offY = 0)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), cr(cairo_create(surface.get())) {
        cairo_surface_set_device_offset(surface.get(), offX, offY);
    }
    ~Picture() { cairo_destroy(cr); }
    uint32_t at(int x, int y) const {
        cairo_surface_flush(surface.get());
        auto* row = cairo_image_surface_get_data(surface.get()) + y * cairo_image_surface_get_stride(surface.get());
        return reinterpret_cast<const uint32_t*>(row)[x];
    }
    int width() const { return cairo_image_surface_get_width(surface.get()); }
    int height() const { return cairo_image_surface_get_height(surface.get()); }
    // Half-transparent stripes, so that blending over what is there shows.
    void Backdrop() {
        for (int x = 0; x < width(); x += 8) {
            cairo_set_source_rgba(cr, (x / 8) % 2 ? 0.8 : 0.1, 0.4, 0.2, 0.6);
            cairo_rectangle(cr, x, 0, 4, height());
            cairo_fill(cr);
        }
    }
};

int MaxChannelDifference(uint32_t a, uint32_t b) {
    int d = 0;
    for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
    return d;
}

// A star with curved and straight edges around (60, 45), in shape units (twips).
std::vector<PathCommand> Star() {
    std::vector<PathCommand> path;
    for (int k = 0; k <= 10; ++k) {
        double angle = k * M_PI / 5, r = k % 2 ? 250 : 800;
        float x = float(1200 + r * std::cos(angle)), y = float(900 + r * std::sin(angle));
        if (k == 0) path.push_back({PathCommand::Move, x, y});
        else if (k % 3 == 0) path.push_back({PathCommand::Quad, x, y, 1200, 900});
        else path.push_back({PathCommand::Line, x, y});
    }
    path.push_back({PathCommand::Close});
    return path;
}

void FillWithCairo(Picture& p, const std::vector<PathCommand>& path, const Matrix& toDevice, const GradientFill& g,
                   const ColorTransform& cx) {
    cairo_matrix_t m = toDevice.toCairo();
    cairo_set_matrix(p.cr, &m);
    cairo_set_source(p.cr, MakeGradientPattern(g, cx).get());
    cairo_set_fill_rule(p.cr, CAIRO_FILL_RULE_EVEN_ODD);
    AppendPath(p.cr, path);
    cairo_fill(p.cr);
    cairo_identity_matrix(p.cr);
}

bool FillOurselves(Picture& p, const std::vector<PathCommand>& path, const Matrix& toDevice, const GradientFill& g,
                   const ColorTransform& cx, GradientScratch& scratch) {
    cairo_matrix_t m = toDevice.toCairo();
    cairo_set_matrix(p.cr, &m);
    cairo_set_fill_rule(p.cr, CAIRO_FILL_RULE_EVEN_ODD);
    bool done = PaintGradient(
        p.cr, g, cx, toDevice, PathBox(path, toDevice),
        [&](cairo_t* c) {
            cairo_set_matrix(c, &m);
            AppendPath(c, path);
            cairo_fill(c);
        },
        scratch);
    cairo_identity_matrix(p.cr);
    return done;
}

TEST(RenderGradientFill, MatchesCairosGradientsWithinThreeLevels) {
    const Matrix shapeToDevice{0.05, 0, 0, 0.05, 0, 0};  // twips to pixels
    const Matrix turned{0.04, 0.03, -0.03, 0.04, 20, -10};
    ColorTransform tint;
    tint.mr = 0.5;
    tint.ab = 40;
    tint.ma = 0.8;
    struct Case {
        std::string name;
        GradientKind kind;
        SpreadMode spread;
        Interpolation interpolation;
        double focal;
        Matrix gradient;  // gradient square to shape units
        Matrix toDevice;
        ColorTransform cx;
    } cases[] = {
        {"linear pad", GradientKind::Linear, SpreadMode::Pad, Interpolation::Rgb, 0,
         {1600.0 / 32768, 0, 0, 1600.0 / 32768, 1200, 900}, shapeToDevice, {}},
        {"linear turned, repeat", GradientKind::Linear, SpreadMode::Repeat, Interpolation::Rgb, 0,
         {0.02, 0.01, -0.01, 0.02, 1100, 800}, turned, {}},
        {"linear reflect", GradientKind::Linear, SpreadMode::Reflect, Interpolation::Rgb, 0,
         {0.015, 0, 0, 0.015, 1200, 900}, shapeToDevice, {}},
        {"radial pad, tinted", GradientKind::Radial, SpreadMode::Pad, Interpolation::Rgb, 0,
         {0.04, 0, 0, 0.03, 1200, 900}, shapeToDevice, tint},
        {"radial repeat, turned", GradientKind::Radial, SpreadMode::Repeat, Interpolation::Rgb, 0,
         {0.012, 0.004, 0, 0.012, 1300, 900}, turned, {}},
        {"focal pad", GradientKind::Focal, SpreadMode::Pad, Interpolation::Rgb, 0.7,
         {0.05, 0, 0, 0.05, 1200, 900}, shapeToDevice, {}},
        {"focal reflect, left", GradientKind::Focal, SpreadMode::Reflect, Interpolation::Rgb, -0.5,
         {0.02, 0.01, -0.01, 0.02, 1200, 900}, turned, tint},
    };
    for (const Case& tc : cases) {
        GradientFill g;
        g.kind = tc.kind;
        g.spread = tc.spread;
        g.interpolation = tc.interpolation;
        g.focalPoint = tc.focal;
        g.matrix = tc.gradient;
        g.stops = {{0, {255, 255, 0, 255}}, {90, {0, 40, 200, 160}}, {200, {200, 0, 90, 255}}, {255, {10, 200, 30, 90}}};
        Picture expected(120, 90), actual(120, 90);
        expected.Backdrop();
        actual.Backdrop();
        FillWithCairo(expected, Star(), tc.toDevice, g, tc.cx);
        GradientScratch scratch;
        ASSERT_TRUE(FillOurselves(actual, Star(), tc.toDevice, g, tc.cx, scratch)) << tc.name;
        int worst = 0, outliers = 0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                int d = MaxChannelDifference(expected.at(x, y), actual.at(x, y));
                worst = std::max(worst, d);
                // Cairo keeps positions in fixed point and rounds its own way.
                outliers += d > 3;
            }
        // Where repeat and reflect turn round, a pixel may fall on either side.
        EXPECT_LE(outliers, tc.spread == SpreadMode::Pad ? 0 : 12) << tc.name << ", worst " << worst;
    }
}

TEST(RenderGradientFill, LayersClipsAndSqueezedGradients) {
    GradientFill g;
    g.kind = GradientKind::Linear;
    g.stops = {{0, {255, 0, 0, 255}}, {255, {0, 0, 255, 255}}};
    g.matrix = {2400.0 / 32768, 0, 0, 1, 1200, 0};  // red at x = 0, blue at x = 120 pixels
    const Matrix toDevice{0.05, 0, 0, 0.05, 0, 0};
    const std::vector<PathCommand> box = {{PathCommand::Move, 0, 0},    {PathCommand::Line, 2400, 0},
                                          {PathCommand::Line, 2400, 1800}, {PathCommand::Line, 0, 1800},
                                          {PathCommand::Close}};
    GradientScratch scratch;
    // A layer covering x 50..80, y 10..30 of the target: its first pixel shows
    // the gradient at x = 50.
    Picture layer(30, 20, -50, -10);
    ASSERT_TRUE(FillOurselves(layer, box, toDevice, g, {}, scratch));
    EXPECT_NEAR((layer.at(0, 0) >> 16) & 255, 255 - 50.5 * 255 / 120, 2);
    EXPECT_NEAR((layer.at(29, 19) >> 16) & 255, 255 - 79.5 * 255 / 120, 2);
    // A rectangular clip on whole pixels keeps the paint inside it.
    Picture clipped(120, 90);
    cairo_rectangle(clipped.cr, 10, 20, 30, 40);
    cairo_clip(clipped.cr);
    ASSERT_TRUE(FillOurselves(clipped, box, toDevice, g, {}, scratch));
    EXPECT_EQ(clipped.at(9, 30), 0u);
    EXPECT_EQ(clipped.at(40, 30), 0u);
    EXPECT_EQ(clipped.at(20, 19), 0u);
    EXPECT_EQ(clipped.at(20, 60), 0u);
    EXPECT_EQ(clipped.at(20, 30) >> 24, 255u);
    // A round clip is left to cairo: nothing painted, and false.
    Picture round(120, 90);
    cairo_arc(round.cr, 60, 45, 30, 0, 2 * M_PI);
    cairo_clip(round.cr);
    EXPECT_FALSE(FillOurselves(round, box, toDevice, g, {}, scratch));
    EXPECT_EQ(round.at(60, 45), 0u);
    // So are operators other than over.
    Picture source(120, 90);
    cairo_set_operator(source.cr, CAIRO_OPERATOR_SOURCE);
    EXPECT_FALSE(FillOurselves(source, box, toDevice, g, {}, scratch));
    // A gradient squeezed to nothing shows its last colour, as cairo's path does.
    g.matrix = {0, 0, 0, 0, 1200, 900};
    Picture squeezed(120, 90);
    ASSERT_TRUE(FillOurselves(squeezed, box, toDevice, g, {}, scratch));
    EXPECT_EQ(squeezed.at(60, 45), 0xFF0000FFu);
    // Coordinates far outside the target paint nothing and do not crash.
    Picture far(20, 20);
    const Matrix huge{1e9, 0, 0, 1e9, -1e12, 0};
    g.matrix = {0.1, 0, 0, 0.1, 0, 0};
    EXPECT_TRUE(FillOurselves(far, box, huge, g, {}, scratch));
}

TEST(RenderGradientFill, TablesFollowTheColourTransformAndReuse) {
    GradientFill g;
    g.stops = {{0, {200, 100, 50, 255}}, {255, {0, 0, 0, 0}}};
    ColorTransform half;
    half.ma = 0.5;
    GradientScratch scratch;
    const GradientTable& plain = scratch.Table(g, {});
    EXPECT_EQ(plain[0], 0xFFC86432u);
    EXPECT_EQ(plain[kGradientTableSize - 1], 0u);
    // Premultiplied: a half-transparent entry has its colours halved too.
    const GradientTable& faded = scratch.Table(g, half);
    EXPECT_EQ(faded[0] >> 24, 128u);
    EXPECT_EQ((faded[0] >> 16) & 255, 100u);
    // The first table is still the same after others were made.
    EXPECT_EQ(scratch.Table(g, {})[0], 0xFFC86432u);
    for (int i = 0; i < 100; ++i) {
        ColorTransform c;
        c.ar = i;
        scratch.Table(g, c);
    }
    EXPECT_EQ(scratch.Table(g, half)[0] >> 24, 128u);
    // Between two ratio steps the colour lies between theirs.
    GradientFill step;
    step.stops = {{0, {0, 0, 0, 255}}, {1, {200, 200, 200, 255}}};
    EXPECT_EQ(scratch.Table(step, {})[2], 0xFF646464u);
    // Linear-light gradients take the ramp's curve, brighter halfway than plain ones.
    g.stops = {{0, {0, 0, 0, 255}}, {255, {255, 255, 255, 255}}};
    g.interpolation = Interpolation::LinearRgb;
    EXPECT_NEAR(int((scratch.Table(g, {})[kGradientTableSize / 2] >> 16) & 255), 188, 2);
}

}  // namespace
}  // namespace qm::flash::render
