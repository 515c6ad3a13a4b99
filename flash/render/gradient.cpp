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

// Each pair of neighbouring stops paints the entries from its first ratio to
// its second, later pairs over earlier ones; that decides which colour wins
// where stops share a ratio.
std::array<Rgba, 256> BuildGradientRamp(const std::vector<GradientStop>& stops, Interpolation interpolation) {
    std::array<Rgba, 256> ramp{};
    if (stops.empty()) return ramp;
    bool linear = interpolation == Interpolation::LinearRgb;
    for (int i = 0; i < 256; ++i) ramp[i] = i < stops.front().ratio ? stops.front().color : stops.back().color;
    for (size_t k = 0; k + 1 < stops.size(); ++k) {
        const GradientStop& s0 = stops[k];
        const GradientStop& s1 = stops[k + 1];
        for (int i = s0.ratio; i <= s1.ratio; ++i) {
            double t = s1.ratio > s0.ratio ? double(i - s0.ratio) / (s1.ratio - s0.ratio) : 0.0;
            ramp[i] = {Mix(s0.color.r, s1.color.r, t, linear), Mix(s0.color.g, s1.color.g, t, linear),
                       Mix(s0.color.b, s1.color.b, t, linear), Mix(s0.color.a, s1.color.a, t, false)};
        }
    }
    return ramp;
}

namespace {

struct Stop {
    double offset;
    Rgba color;
};

// Stops for cairo that give the same colours as the ramp, also where stops
// share a ratio. Repeated offsets at 0 or 1 are avoided: pixman paints
// nothing beyond such an end.
std::vector<Stop> CairoStops(const std::vector<GradientStop>& stops) {
    std::vector<Stop> out;
    size_t n = stops.size();
    for (size_t i = 0; i < n;) {
        size_t j = i;
        while (j + 1 < n && stops[j + 1].ratio == stops[i].ratio) ++j;
        double r = stops[i].ratio / 255.0, half = 0.5 / 255.0;
        const Rgba& a = stops[i].color;
        const Rgba& z = stops[j].color;
        bool first = i == 0, last = j == n - 1;
        if (i == j) {
            out.push_back({r, a});
        } else if (last) {
            const Rgba& y = stops[j - 1].color;  // the ratio's own entry
            if (stops[i].ratio == 255 || first) {
                out.push_back({r, y});
            } else {
                out.push_back({r, a});
                out.push_back({r, y});
                out.push_back({r + half, y});
                out.push_back({r + half, z});
            }
        } else if (first && stops[i].ratio == 0) {
            out.push_back({r, z});
        } else {
            out.push_back({r, a});
            out.push_back({r, z});
        }
        i = j + 1;
    }
    return out;
}

}  // namespace

PatternPtr MakeGradientPattern(const GradientFill& gradient, const ColorTransform& cx) {
    if (gradient.stops.empty()) return nullptr;
    // Ratios must rise; writers of broken files do not always keep them in order.
    std::vector<GradientStop> stops = gradient.stops;
    for (size_t i = 1; i < stops.size(); ++i) stops[i].ratio = std::max(stops[i].ratio, stops[i - 1].ratio);
    for (auto& s : stops) s.color = cx.apply(s.color);
    // The pattern works in units of half the gradient square: pixman keeps
    // pattern coordinates in 16.16 fixed point, which the square's own 32768
    // units would overflow.
    Matrix unitToShape = gradient.matrix * Matrix{16384, 0, 0, 16384, 0, 0};
    Matrix inverse;
    if (!unitToShape.invert(inverse)) {
        // A gradient squeezed to nothing shows its outermost colour.
        const Rgba& c = stops.back().color;
        return PatternPtr(cairo_pattern_create_rgba(c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0));
    }
    PatternPtr pattern;
    switch (gradient.kind) {
        case GradientKind::Linear:
            pattern.reset(cairo_pattern_create_linear(-1, 0, 1, 0));
            break;
        case GradientKind::Radial:
            pattern.reset(cairo_pattern_create_radial(0, 0, 0, 0, 0, 1));
            break;
        case GradientKind::Focal: {
            double f = std::clamp(gradient.focalPoint, -0.98, 0.98);
            pattern.reset(cairo_pattern_create_radial(f, 0, 0, 0, 0, 1));
            break;
        }
    }
    auto add = [&](double offset, Rgba c) {
        cairo_pattern_add_color_stop_rgba(pattern.get(), offset, c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0);
    };
    if (gradient.interpolation == Interpolation::LinearRgb && stops.size() > 1) {
        // Cairo blends in sRGB: stops in between carry the curve of
        // linear-light blending.
        std::vector<Stop> cs = CairoStops(stops);
        for (size_t k = 0; k < cs.size(); ++k) {
            add(cs[k].offset, cs[k].color);
            if (k + 1 == cs.size() || cs[k + 1].offset <= cs[k].offset) continue;
            // About one stop every four ramp entries.
            int steps = std::max(2, int(std::ceil((cs[k + 1].offset - cs[k].offset) * 255 / 4)));
            for (int m = 1; m < steps; ++m) {
                double t = double(m) / steps;
                const Rgba& a = cs[k].color;
                const Rgba& b = cs[k + 1].color;
                add(cs[k].offset + (cs[k + 1].offset - cs[k].offset) * t,
                    {Mix(a.r, b.r, t, true), Mix(a.g, b.g, t, true), Mix(a.b, b.b, t, true), Mix(a.a, b.a, t, false)});
            }
        }
    } else {
        for (const auto& s : CairoStops(stops)) add(s.offset, s.color);
    }
    switch (gradient.spread) {
        case SpreadMode::Pad: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD); break;
        case SpreadMode::Reflect: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REFLECT); break;
        case SpreadMode::Repeat: cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REPEAT); break;
    }
    cairo_matrix_t m = inverse.toCairo();
    cairo_pattern_set_matrix(pattern.get(), &m);
    return pattern;
}

}  // namespace qm::flash::render
