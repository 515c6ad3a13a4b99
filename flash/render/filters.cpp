// Bitmap filters on an object's own picture: blur, drop shadow, glow, bevel,
// colour matrix and convolution. The picture is premultiplied ARGB; sizes
// and distances are in stage pixels and follow the stage's scaling.
#include "flash/render/filters.h"
#include "flash/render/render_parts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <type_traits>
#include <variant>
#include <vector>

namespace qm::flash::render {

namespace {

struct Plane {
    int w = 0, h = 0;
    std::vector<float> v;
    Plane(int w_, int h_) : w(w_), h(h_), v(static_cast<size_t>(w_) * h_, 0.f) {}
    float& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
    float get(int x, int y) const {
        if (x < 0 || y < 0 || x >= w || y >= h) return 0.f;
        return v[static_cast<size_t>(y) * w + x];
    }
};

// The box of a blur: `width` pixels wide and centred on the pixel, so a
// width of 2 takes the pixel whole and half of each neighbour. `full` cells
// on each side are taken whole, the next one by `edge`.
struct Box {
    int full = 0;
    float edge = 0;
    float norm = 1;
    bool none() const { return full == 0 && edge == 0; }
    int reach() const { return full + (edge > 0 ? 1 : 0); }
};

Box BoxOf(double width) {
    Box b;
    if (!(width > 1)) return b;
    width = std::min(width, 2048.0);
    double half = width / 2;
    b.full = static_cast<int>(std::floor(half - 0.5));
    b.edge = float(half - 0.5 - b.full);
    if (b.edge < 1e-4f) b.edge = 0;
    b.norm = float(1 / (2 * b.full + 1 + 2 * double(b.edge)));
    return b;
}

// One box pass along rows (horizontal) or columns, edges treated as
// transparent. Columns are run side by side, a row at a time, so the pass
// reads memory in order.
void BoxPass(Plane& p, const Box& box, bool horizontal) {
    if (box.none()) return;
    const int r = box.full;
    const float e = box.edge, norm = box.norm;
    if (horizontal) {
        const int len = p.w;
        std::vector<float> out(static_cast<size_t>(len));
        for (int l = 0; l < p.h; ++l) {
            float* line = &p.v[static_cast<size_t>(l) * p.w];
            auto at = [&](int i) { return i >= 0 && i < len ? line[i] : 0.f; };
            float sum = 0;
            for (int i = 0; i <= r && i < len; ++i) sum += line[i];
            for (int i = 0; i < len; ++i) {
                float v = sum;
                if (e > 0) v += e * (at(i - r - 1) + at(i + r + 1));
                out[i] = v * norm;
                int add = i + r + 1, sub = i - r;
                if (add < len) sum += line[add];
                if (sub >= 0) sum -= line[sub];
            }
            std::copy(out.begin(), out.end(), line);
        }
        return;
    }
    const int len = p.h, w = p.w;
    std::vector<float> sums(static_cast<size_t>(w), 0.f);
    std::vector<float> out(p.v.size());
    auto row = [&](int y) { return &p.v[static_cast<size_t>(y) * w]; };
    for (int i = 0; i <= r && i < len; ++i) {
        const float* line = row(i);
        for (int x = 0; x < w; ++x) sums[x] += line[x];
    }
    for (int i = 0; i < len; ++i) {
        float* o = &out[static_cast<size_t>(i) * w];
        for (int x = 0; x < w; ++x) o[x] = sums[x];
        if (e > 0) {
            for (int y : {i - r - 1, i + r + 1}) {
                if (y < 0 || y >= len) continue;
                const float* line = row(y);
                for (int x = 0; x < w; ++x) o[x] += e * line[x];
            }
        }
        for (int x = 0; x < w; ++x) o[x] *= norm;
        int add = i + r + 1, sub = i - r;
        if (add < len) {
            const float* line = row(add);
            for (int x = 0; x < w; ++x) sums[x] += line[x];
        }
        if (sub >= 0) {
            const float* line = row(sub);
            for (int x = 0; x < w; ++x) sums[x] -= line[x];
        }
    }
    p.v.swap(out);
}

// Levels are whole numbers between passes, cut down as the player keeps
// them in bytes; the tiny allowance keeps sums of equal parts whole.
void Truncate(Plane& p) {
    for (float& v : p.v) v = v <= 0 ? 0.f : std::min(255.f, std::floor(v + 1e-3f));
}

void Blur(Plane& p, double bx, double by, int passes) {
    Box x = BoxOf(bx), y = BoxOf(by);
    if (x.none() && y.none()) return;
    for (int i = 0; i < std::max(1, passes); ++i) {
        BoxPass(p, x, true);
        BoxPass(p, y, false);
        Truncate(p);
    }
}

struct Pixels {
    cairo_surface_t* s;
    int w, h, stride;
    uint8_t* data;
    explicit Pixels(cairo_surface_t* surface) : s(surface) {
        cairo_surface_flush(s);
        w = cairo_image_surface_get_width(s);
        h = cairo_image_surface_get_height(s);
        stride = cairo_image_surface_get_stride(s);
        data = cairo_image_surface_get_data(s);
    }
    ~Pixels() { cairo_surface_mark_dirty(s); }
    uint32_t& at(int x, int y) { return reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride)[x]; }
};

Plane AlphaOf(Pixels& px) {
    Plane a(px.w, px.h);
    for (int y = 0; y < px.h; ++y)
        for (int x = 0; x < px.w; ++x) a.at(x, y) = float(px.at(x, y) >> 24);
    return a;
}

// Nearest level, halves up, within 0..255; v + 0.5 is exact in double, so
// this is the library's lround without its call.
inline uint32_t Level(float v) {
    if (!(v > 0.f)) return 0;
    if (v >= 255.f) return 255;
    return static_cast<uint32_t>(double(v) + 0.5);
}

inline uint32_t Pack(float a, float r, float g, float b) {
    auto q = Level;
    uint32_t A = q(a);
    return (A << 24) | (std::min(q(r), A) << 16) | (std::min(q(g), A) << 8) | std::min(q(b), A);
}

struct Rgbaf {
    float r, g, b, a;
};

// The effect's premultiplied colour at each pixel, 0..1 per channel.
struct Effect {
    int w = 0;
    std::vector<Rgbaf> v;
    Effect(int w_, int h_) : w(w_), v(static_cast<size_t>(w_) * h_, Rgbaf{0, 0, 0, 0}) {}
};

// Paints the effect with the object as the filters combine them.
void CombineEffect(Pixels& px, const Effect& effect, bool inner, bool knockout, bool hideObject, bool onTop) {
    for (int y = 0; y < px.h; ++y) {
        for (int x = 0; x < px.w; ++x) {
            uint32_t p = px.at(x, y);
            float sa = (p >> 24) / 255.f;
            float sr = (p >> 16) & 255, sg = (p >> 8) & 255, sb = p & 255, sA = float(p >> 24);
            const Rgbaf& e = effect.v[static_cast<size_t>(y) * px.w + x];
            float er = e.r * 255, eg = e.g * 255, eb = e.b * 255, ea = e.a * 255;
            float oa, orr, og, ob;
            if (inner) {
                // Inside the object only.
                float m = sa;
                er *= m, eg *= m, eb *= m, ea *= m;
                if (knockout || hideObject) {
                    oa = ea, orr = er, og = eg, ob = eb;
                } else {
                    float f = 1 - ea / 255.f;  // effect atop the object
                    orr = er + sr * f, og = eg + sg * f, ob = eb + sb * f, oa = sA;
                }
            } else {
                if (knockout) {
                    float m = 1 - sa;
                    oa = ea * m, orr = er * m, og = eg * m, ob = eb * m;
                } else if (hideObject) {
                    oa = ea, orr = er, og = eg, ob = eb;
                } else if (onTop) {
                    float f = 1 - ea / 255.f;
                    orr = er + sr * f, og = eg + sg * f, ob = eb + sb * f, oa = ea + sA * f;
                } else {
                    float f = 1 - sa;  // object over the effect
                    orr = sr + er * f, og = sg + eg * f, ob = sb + eb * f, oa = sA + ea * f;
                }
            }
            px.at(x, y) = Pack(oa, orr, og, ob);
        }
    }
}

// One colour (or two, for a bevel's two sides) spread by coverage planes.
void CombineShadow(Pixels& px, const Plane& coverage, const Plane* second, Rgbaf c, Rgbaf c2, bool inner,
                   bool knockout, bool hideObject, bool onTop) {
    Effect effect(px.w, px.h);
    for (size_t i = 0; i < effect.v.size(); ++i) {
        float ea = c.a * coverage.v[i];
        float er = c.r * ea, eg = c.g * ea, eb = c.b * ea;
        if (second) {
            float a2 = c2.a * second->v[i];
            er = er * (1 - a2) + c2.r * a2;
            eg = eg * (1 - a2) + c2.g * a2;
            eb = eb * (1 - a2) + c2.b * a2;
            ea = ea + a2 - ea * a2;
        }
        effect.v[i] = {er, eg, eb, ea};
    }
    CombineEffect(px, effect, inner, knockout, hideObject, onTop);
}

// A gradient's colours by level (0..255), premultiplied.
std::array<Rgbaf, 256> Ramp(const std::vector<swf::GradientRecord>& records) {
    std::vector<GradientStop> stops;
    for (const auto& r : records) stops.push_back({r.ratio, {r.color.r, r.color.g, r.color.b, r.color.a}});
    std::array<Rgba, 256> ramp = BuildGradientRamp(stops, Interpolation::Rgb);
    std::array<Rgbaf, 256> out{};
    for (int i = 0; i < 256; ++i) {
        float a = ramp[i].a / 255.f;
        out[i] = {ramp[i].r / 255.f * a, ramp[i].g / 255.f * a, ramp[i].b / 255.f * a, a};
    }
    return out;
}

Plane Shifted(const Plane& p, double dx, double dy) {
    Plane out(p.w, p.h);
    int ix = static_cast<int>(std::floor(dx)), iy = static_cast<int>(std::floor(dy));
    float fx = float(dx - ix), fy = float(dy - iy);
    // Rows outside the plane read as transparent; columns inside need no test.
    const std::vector<float> none(static_cast<size_t>(p.w), 0.f);
    auto row = [&](int y) { return y >= 0 && y < p.h ? &p.v[static_cast<size_t>(y) * p.w] : none.data(); };
    const int inner0 = std::clamp(ix + 1, 0, p.w), inner1 = std::clamp(ix + p.w, inner0, p.w);
    for (int y = 0; y < p.h; ++y) {
        const int sy = y - iy;
        const float* r0 = row(sy);
        const float* r1 = row(sy - 1);
        float* o = &out.v[static_cast<size_t>(y) * p.w];
        // Bilinear for fractional offsets.
        auto edge = [&](int x) {
            int sx = x - ix;
            return p.get(sx, sy) * (1 - fx) * (1 - fy) + p.get(sx - 1, sy) * fx * (1 - fy) +
                   p.get(sx, sy - 1) * (1 - fx) * fy + p.get(sx - 1, sy - 1) * fx * fy;
        };
        for (int x = 0; x < inner0; ++x) o[x] = edge(x);
        for (int x = inner0; x < inner1; ++x) {
            int sx = x - ix;
            o[x] = r0[sx] * (1 - fx) * (1 - fy) + r0[sx - 1] * fx * (1 - fy) + r1[sx] * (1 - fx) * fy +
                   r1[sx - 1] * fx * fy;
        }
        for (int x = inner1; x < p.w; ++x) o[x] = edge(x);
    }
    return out;
}

// The player moves a shadow by whole pixels.
double Whole(double offset) { return std::round(offset); }

Rgbaf Color(const swf::Rgba& c) { return {c.r / 255.f, c.g / 255.f, c.b / 255.f, c.a / 255.f}; }

void Shadow(Pixels& px, swf::Rgba color, double bx, double by, double angle, double distance, double strength,
            bool inner, bool knockout, bool composite, int passes, double scale) {
    Plane a = AlphaOf(px);
    if (inner)
        for (auto& v : a.v) v = 255.f - v;
    Blur(a, bx * scale, by * scale, passes);
    Plane s = distance != 0 ? Shifted(a, Whole(std::cos(angle) * distance * scale), Whole(std::sin(angle) * distance * scale)) : a;
    for (auto& v : s.v) v = std::clamp(v * float(strength) / 255.f, 0.f, 1.f);
    CombineShadow(px, s, nullptr, Color(color), {}, inner, knockout, !composite, false);
}

void Bevel(Pixels& px, const swf::BevelFilter& f, double scale) {
    Plane a = AlphaOf(px);
    Blur(a, f.blur_x * scale, f.blur_y * scale, f.passes);
    double dx = Whole(std::cos(f.angle) * f.distance * scale), dy = Whole(std::sin(f.angle) * f.distance * scale);
    Plane toward = Shifted(a, dx, dy), away = Shifted(a, -dx, -dy);
    Plane light(px.w, px.h), dark(px.w, px.h);
    for (size_t i = 0; i < a.v.size(); ++i) {
        // The edge facing away from the offset catches the light.
        float d = (away.v[i] - toward.v[i]) * float(f.strength) / 255.f;
        light.v[i] = std::clamp(d, 0.f, 1.f);
        dark.v[i] = std::clamp(-d, 0.f, 1.f);
    }
    bool inner = f.inner;
    CombineShadow(px, dark, &light, Color(f.shadow_color), Color(f.highlight_color), inner, f.knockout,
                  !f.composite_source, f.on_top);
}

// Gradient glow: the shadow plane's level picks a colour of the gradient.
// Gradient bevel: the lit side reads the gradient from the middle towards
// its start, the shaded side towards its end.
void GradientEffect(Pixels& px, const swf::GradientFilter& f, double scale) {
    if (f.gradient.empty()) return;
    std::array<Rgbaf, 256> ramp = Ramp(f.gradient);
    Plane a = AlphaOf(px);
    if (f.inner && !f.bevel)
        for (auto& v : a.v) v = 255.f - v;
    Blur(a, f.blur_x * scale, f.blur_y * scale, f.passes);
    double dx = Whole(std::cos(f.angle) * f.distance * scale), dy = Whole(std::sin(f.angle) * f.distance * scale);
    Effect effect(px.w, px.h);
    auto level = [](float v) { return static_cast<int>(Level(v * 255.f)); };
    if (f.bevel) {
        Plane toward = Shifted(a, dx, dy), away = Shifted(a, -dx, -dy);
        for (size_t i = 0; i < a.v.size(); ++i) {
            float d = std::clamp((away.v[i] - toward.v[i]) * float(f.strength) / 255.f, -1.f, 1.f);
            effect.v[i] = ramp[static_cast<size_t>(std::clamp(128 - static_cast<int>(std::lround(d * 128)), 0, 255))];
        }
    } else {
        Plane s = f.distance != 0 ? Shifted(a, dx, dy) : a;
        for (size_t i = 0; i < s.v.size(); ++i)
            effect.v[i] = ramp[static_cast<size_t>(level(std::clamp(s.v[i] * float(f.strength) / 255.f, 0.f, 1.f)))];
    }
    CombineEffect(px, effect, f.inner, f.knockout, !f.composite_source, f.on_top);
}

void ColorMatrix(Pixels& px, const std::array<float, 20>& m) {
    for (int y = 0; y < px.h; ++y)
        for (int x = 0; x < px.w; ++x) {
            uint32_t p = px.at(x, y);
            float a = float(p >> 24);
            float r = 0, g = 0, b = 0;
            if (a > 0) {
                r = ((p >> 16) & 255) * 255.f / a;
                g = ((p >> 8) & 255) * 255.f / a;
                b = (p & 255) * 255.f / a;
            }
            float o[4];
            for (int row = 0; row < 4; ++row)
                o[row] = std::clamp(m[row * 5] * r + m[row * 5 + 1] * g + m[row * 5 + 2] * b + m[row * 5 + 3] * a +
                                        m[row * 5 + 4],
                                    0.f, 255.f);
            float k = o[3] / 255.f;
            px.at(x, y) = Pack(o[3], o[0] * k, o[1] * k, o[2] * k);
        }
}

void Convolve(Pixels& px, const swf::ConvolutionFilter& f) {
    int mx = f.matrix_x, my = f.matrix_y;
    if (mx == 0 || my == 0 || f.matrix.size() < static_cast<size_t>(mx) * my) return;
    float divisor = f.divisor == 0 ? 1.f : f.divisor;
    std::vector<uint32_t> src(static_cast<size_t>(px.w) * px.h);
    for (int y = 0; y < px.h; ++y)
        for (int x = 0; x < px.w; ++x) src[static_cast<size_t>(y) * px.w + x] = px.at(x, y);
    auto straight = [](uint32_t p, int c) -> float {
        float a = float(p >> 24);
        if (c == 3) return a;
        return a > 0 ? ((p >> (16 - 8 * c)) & 255) * 255.f / a : 0.f;
    };
    uint32_t fallback = (uint32_t(f.default_color.a) << 24) | (uint32_t(f.default_color.r) << 16) |
                        (uint32_t(f.default_color.g) << 8) | f.default_color.b;
    for (int y = 0; y < px.h; ++y)
        for (int x = 0; x < px.w; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < my; ++j)
                for (int i = 0; i < mx; ++i) {
                    int sx = x + i - mx / 2, sy = y + j - my / 2;
                    uint32_t p;
                    if (sx < 0 || sy < 0 || sx >= px.w || sy >= px.h) {
                        if (f.clamp)
                            p = src[static_cast<size_t>(std::clamp(sy, 0, px.h - 1)) * px.w + std::clamp(sx, 0, px.w - 1)];
                        else
                            p = fallback;
                    } else {
                        p = src[static_cast<size_t>(sy) * px.w + sx];
                    }
                    float k = f.matrix[static_cast<size_t>(j) * mx + i];
                    for (int c = 0; c < 4; ++c) sum[c] += straight(p, c) * k;
                }
            float o[4];
            for (int c = 0; c < 4; ++c) o[c] = std::clamp(sum[c] / divisor + f.bias, 0.f, 255.f);
            if (f.preserve_alpha) o[3] = float(src[static_cast<size_t>(y) * px.w + x] >> 24);
            float k = o[3] / 255.f;
            px.at(x, y) = Pack(o[3], o[0] * k, o[1] * k, o[2] * k);
        }
}

}  // namespace

double FilterMargin(const std::vector<swf::Filter>& filters, double scale) {
    double margin = 0;
    for (const swf::Filter& filter : filters) {
        std::visit(
            [&](const auto& f) {
                using F = std::decay_t<decltype(f)>;
                if constexpr (std::is_same_v<F, swf::ConvolutionFilter>) {
                    margin += std::max(f.matrix_x, f.matrix_y);
                } else if constexpr (std::is_same_v<F, swf::ColorMatrixFilter>) {
                } else {
                    double blur = std::max(f.blur_x, f.blur_y) * scale;
                    double reach = (BoxOf(blur).reach() + 1) * std::max<int>(1, f.passes);
                    double distance = 0;
                    if constexpr (!std::is_same_v<F, swf::BlurFilter> && !std::is_same_v<F, swf::GlowFilter>)
                        distance = std::fabs(f.distance) * scale;
                    margin += reach + distance;
                }
            },
            filter);
    }
    return std::min(margin, 4096.0);
}

void ApplyFilters(cairo_surface_t* picture, const std::vector<swf::Filter>& filters, double scale) {
    for (const swf::Filter& filter : filters) {
        Pixels px(picture);
        if (px.w <= 0 || px.h <= 0) return;
        if (auto* f = std::get_if<swf::BlurFilter>(&filter)) {
            for (int c = 0; c < 4; ++c) {
                Plane p(px.w, px.h);
                int shift = 24 - 8 * c;
                for (int y = 0; y < px.h; ++y)
                    for (int x = 0; x < px.w; ++x) p.at(x, y) = float((px.at(x, y) >> shift) & 255);
                Blur(p, f->blur_x * scale, f->blur_y * scale, f->passes);
                for (int y = 0; y < px.h; ++y)
                    for (int x = 0; x < px.w; ++x) {
                        uint32_t v = Level(p.at(x, y));
                        uint32_t& d = px.at(x, y);
                        d = (d & ~(255u << shift)) | (v << shift);
                    }
            }
            // Keep colour within alpha after rounding.
            for (int y = 0; y < px.h; ++y)
                for (int x = 0; x < px.w; ++x) {
                    uint32_t p = px.at(x, y);
                    px.at(x, y) = Pack(float(p >> 24), float((p >> 16) & 255), float((p >> 8) & 255), float(p & 255));
                }
        } else if (auto* f = std::get_if<swf::DropShadowFilter>(&filter)) {
            Shadow(px, f->color, f->blur_x, f->blur_y, f->angle, f->distance, f->strength, f->inner, f->knockout,
                   f->composite_source, f->passes, scale);
        } else if (auto* f = std::get_if<swf::GlowFilter>(&filter)) {
            Shadow(px, f->color, f->blur_x, f->blur_y, 0, 0, f->strength, f->inner, f->knockout, f->composite_source,
                   f->passes, scale);
        } else if (auto* f = std::get_if<swf::BevelFilter>(&filter)) {
            Bevel(px, *f, scale);
        } else if (auto* f = std::get_if<swf::ColorMatrixFilter>(&filter)) {
            ColorMatrix(px, f->matrix);
        } else if (auto* f = std::get_if<swf::ConvolutionFilter>(&filter)) {
            Convolve(px, *f);
        } else if (auto* f = std::get_if<swf::GradientFilter>(&filter)) {
            GradientEffect(px, *f, scale);
        }
    }
}

}  // namespace qm::flash::render
