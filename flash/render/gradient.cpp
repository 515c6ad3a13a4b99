// Gradient ramps and their cairo patterns.
#include <algorithm>
#include <cmath>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

namespace {

double ToLinear(double c) {
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double FromLinear(double c) {
    c = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
    return std::clamp(c * 255.0, 0.0, 255.0);
}

uint8_t Mix(uint8_t a, uint8_t b, double t, bool linear) {
    double v = linear ? FromLinear(ToLinear(a) + (ToLinear(b) - ToLinear(a)) * t) : a + (b - a) * t;
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
}

}  // namespace

std::array<Rgba, 256> BuildGradientRamp(const std::vector<GradientStop>& stops, Interpolation interpolation) {
    std::array<Rgba, 256> ramp{};
    if (stops.empty()) return ramp;
    bool linear = interpolation == Interpolation::LinearRgb;
    size_t next = 0;
    for (int i = 0; i < 256; ++i) {
        while (next < stops.size() && stops[next].ratio < i) ++next;
        if (next == 0) {
            ramp[i] = stops.front().color;
        } else if (next >= stops.size()) {
            ramp[i] = stops.back().color;
        } else {
            const GradientStop& s0 = stops[next - 1];
            const GradientStop& s1 = stops[next];
            double span = s1.ratio - s0.ratio;
            double t = span > 0 ? (i - s0.ratio) / span : 1.0;
            ramp[i] = {Mix(s0.color.r, s1.color.r, t, linear), Mix(s0.color.g, s1.color.g, t, linear),
                       Mix(s0.color.b, s1.color.b, t, linear), Mix(s0.color.a, s1.color.a, t, false)};
        }
    }
    return ramp;
}

PatternPtr MakeGradientPattern(const GradientSpec& spec, const ColorTransform& cx) {
    if (spec.stops.empty()) return nullptr;
    // Ratios must rise; writers of broken files do not always keep them in order.
    std::vector<GradientStop> stops = spec.stops;
    for (size_t i = 1; i < stops.size(); ++i) stops[i].ratio = std::max(stops[i].ratio, stops[i - 1].ratio);
    for (auto& s : stops) s.color = cx.apply(s.color);

    // The pattern works in units of half the gradient square: pixman keeps
    // pattern coordinates in 16.16 fixed point, which the square's own 32768
    // units would overflow.
    Matrix unitToShape = spec.matrix * Matrix{16384, 0, 0, 16384, 0, 0};
    Matrix inverse;
    if (!unitToShape.invert(inverse)) {
        // A gradient squeezed to nothing shows its outermost colour.
        const Rgba& c = stops.back().color;
        return PatternPtr(cairo_pattern_create_rgba(c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0));
    }
    PatternPtr pattern;
    switch (spec.kind) {
        case GradientKind::Linear:
            pattern.reset(cairo_pattern_create_linear(-1, 0, 1, 0));
            break;
        case GradientKind::Radial:
            pattern.reset(cairo_pattern_create_radial(0, 0, 0, 0, 0, 1));
            break;
        case GradientKind::Focal: {
            double f = std::clamp(spec.focalPoint, -0.98, 0.98);
            pattern.reset(cairo_pattern_create_radial(f, 0, 0, 0, 0, 1));
            break;
        }
    }
    auto add = [&](double offset, Rgba c) {
        cairo_pattern_add_color_stop_rgba(pattern.get(), offset, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
    };
    if (spec.interpolation == Interpolation::LinearRgb && stops.size() > 1) {
        // The ramp carries the curve of linear-light blending; cairo itself blends in sRGB.
        auto ramp = BuildGradientRamp(stops, spec.interpolation);
        for (int i = 0; i < 256; i += 5) add(i / 255.0, ramp[i]);
        add(1.0, ramp[255]);
    } else {
        for (const auto& s : stops) add(s.ratio / 255.0, s.color);
    }
    switch (spec.spread) {
        case SpreadMode::Pad: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD); break;
        case SpreadMode::Reflect: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REFLECT); break;
        case SpreadMode::Repeat: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REPEAT); break;
    }
    cairo_matrix_t m = inverse.toCairo();
    cairo_pattern_set_matrix(pattern.get(), &m);
    return pattern;
}

}  // namespace qm::flash::render
