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

// Float buffers handed back and taken again, so the filters of a frame
// allocate nothing once the buffers have grown to the pictures' size.
std::vector<std::vector<float>>& FloatPool() {
    thread_local std::vector<std::vector<float>> pool;
    return pool;
}

// A buffer of n floats whose contents are left as they were.
std::vector<float> TakeFloats(size_t n) {
    auto& pool = FloatPool();
    std::vector<float> v;
    if (!pool.empty()) {
        v = std::move(pool.back());
        pool.pop_back();
    }
    v.resize(n);
    return v;
}

void GiveFloats(std::vector<float>&& v) {
    auto& pool = FloatPool();
    // A few, and none of a giant picture's size, stay for the next frame.
    if (v.capacity() > 0 && pool.size() < 3 && v.capacity() <= (size_t(1) << 22)) pool.push_back(std::move(v));
}

// A plane's levels start undefined: whoever makes one writes all of it.
struct Plane {
    int w = 0, h = 0;
    std::vector<float> v;
    Plane(int w_, int h_) : w(w_), h(h_), v(TakeFloats(static_cast<size_t>(w_) * h_)) {}
    Plane(Plane&&) = default;
    Plane& operator=(Plane&&) = default;
    ~Plane() { GiveFloats(std::move(v)); }
    float& at(int x, int y) { return v[static_cast<size_t>(y) * w + x]; }
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

// Levels are whole numbers between passes, cut down as the player keeps
// them in bytes; the tiny allowance keeps sums of equal parts whole.
inline float Cut(float v) {
    const float t = v + 1e-3f;
    return v <= 0 ? 0.f : t >= 255.f ? 255.f : float(static_cast<int>(t));
}

// One box pass along rows (horizontal) or columns, edges treated as
// transparent. Columns are run side by side, a row at a time, so the pass
// reads memory in order.
void BoxPass(Plane& p, const Box& box, bool horizontal, bool cut = false) {
    if (box.none()) return;
    const int r = box.full;
    const float e = box.edge, norm = box.norm;
    if (horizontal) {
        const int len = p.w;
        std::vector<float> out = TakeFloats(static_cast<size_t>(len));
        for (int l = 0; l < p.h; ++l) {
            float* line = &p.v[static_cast<size_t>(l) * p.w];
            auto at = [&](int i) { return i >= 0 && i < len ? line[i] : 0.f; };
            float sum = 0;
            for (int i = 0; i <= r && i < len; ++i) sum += line[i];
            auto step = [&](int i) {
                float v = sum;
                if (e > 0) v += e * (at(i - r - 1) + at(i + r + 1));
                out[i] = v * norm;
                int add = i + r + 1, sub = i - r;
                if (add < len) sum += line[add];
                if (sub >= 0) sum -= line[sub];
            };
            // Where the box lies wholly inside the line, no reads need a test.
            const int mid0 = std::min(r + 1, len), mid1 = std::max(mid0, len - r - 1);
            for (int i = 0; i < mid0; ++i) step(i);
            if (e > 0) {
                for (int i = mid0; i < mid1; ++i) {
                    out[i] = (sum + e * (line[i - r - 1] + line[i + r + 1])) * norm;
                    sum += line[i + r + 1];
                    sum -= line[i - r];
                }
            } else {
                for (int i = mid0; i < mid1; ++i) {
                    out[i] = sum * norm;
                    sum += line[i + r + 1];
                    sum -= line[i - r];
                }
            }
            for (int i = mid1; i < len; ++i) step(i);
            std::copy(out.begin(), out.begin() + len, line);
        }
        GiveFloats(std::move(out));
        return;
    }
    const int len = p.h, w = p.w;
    std::vector<float> sums = TakeFloats(static_cast<size_t>(w));
    std::fill(sums.begin(), sums.end(), 0.f);
    std::vector<float> out = TakeFloats(p.v.size());
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
        if (cut)
            for (int x = 0; x < w; ++x) o[x] = Cut(o[x] * norm);
        else
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
    GiveFloats(std::move(out));
    GiveFloats(std::move(sums));
}

void Truncate(Plane& p) {
    for (float& v : p.v) v = Cut(v);
}

void Blur(Plane& p, double bx, double by, int passes) {
    Box x = BoxOf(bx), y = BoxOf(by);
    if (x.none() && y.none()) return;
    for (int i = 0; i < std::max(1, passes); ++i) {
        BoxPass(p, x, true);
        if (y.none())
            Truncate(p);
        else
            BoxPass(p, y, false, true);
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

// Scratch memory kept between calls, so the filters of a frame allocate
// nothing once it has grown to the pictures' size.
template <class T>
T* Scratch(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

// An effect's premultiplied colour in 1/256 of a level (0..65280 a channel).
struct EffectColor {
    uint32_t r = 0, g = 0, b = 0, a = 0;
};

constexpr uint32_t kUnit = 256, kFull = 255 * kUnit;

EffectColor ToEffectColor(Rgbaf e) {
    auto u = [](float v) { return static_cast<uint32_t>(std::clamp(double(v) * kFull + 0.5, 0.0, double(kFull))); };
    return {u(e.r), u(e.g), u(e.b), u(e.a)};
}

enum class Mode { Under, OnTop, Hide, Knockout, Inner, InnerAlone };

Mode ModeOf(bool inner, bool knockout, bool hideObject, bool onTop) {
    if (inner) return knockout || hideObject ? Mode::InnerAlone : Mode::Inner;
    if (knockout) return Mode::Knockout;
    if (hideObject) return Mode::Hide;
    return onTop ? Mode::OnTop : Mode::Under;
}

// Rounds units times 255 to the nearest level, halves up.
inline uint32_t LevelOf(uint32_t scaled) { return (scaled + kFull / 2) / kFull; }
inline uint32_t UnitsToLevel(uint32_t units) { return (units + kUnit / 2) / kUnit; }

inline uint32_t PackLevels(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (std::min(r, a) << 16) | (std::min(g, a) << 8) | std::min(b, a);
}

// Paints the effect (a colour of `table` per pixel, picked by `index`) with
// the object as the filters combine them, in whole-number arithmetic.
// `alone` is each colour of the table as a pixel by itself. Most pixels lie
// where the effect is clear or the object is opaque or absent, and take the
// short ways.
template <Mode M>
void CombineRows(Pixels& px, const uint16_t* index, const EffectColor* table, const uint32_t* alone) {
    for (int y = 0; y < px.h; ++y) {
        uint32_t* row = &px.at(0, y);
        const uint16_t* in = index + static_cast<size_t>(y) * px.w;
        for (int x = 0; x < px.w; ++x) {
            const uint32_t p = row[x];
            const uint32_t sA = p >> 24;
            if constexpr (M == Mode::Hide) {
                row[x] = alone[in[x]];
                continue;
            }
            if constexpr (M == Mode::Inner || M == Mode::InnerAlone) {
                if (sA == 0) {
                    row[x] = 0;
                    continue;
                }
                if (sA == 255) {
                    if (M == Mode::InnerAlone) {
                        row[x] = alone[in[x]];
                        continue;
                    }
                }
            }
            if constexpr (M == Mode::Under || M == Mode::Knockout) {
                if (sA == 0) {
                    row[x] = alone[in[x]];
                    continue;
                }
                if (sA == 255) {
                    if (M == Mode::Knockout) row[x] = 0;
                    continue;
                }
            }
            EffectColor e = table[in[x]];
            if (e.a == 0 && e.r == 0 && e.g == 0 && e.b == 0) {
                if (M == Mode::Knockout || M == Mode::InnerAlone) row[x] = 0;
                continue;
            }
            const uint32_t sr = (p >> 16) & 255, sg = (p >> 8) & 255, sb = p & 255;
            if constexpr (M == Mode::Inner || M == Mode::InnerAlone) {
                // Inside the object only.
                e = {(e.r * sA + 127) / 255, (e.g * sA + 127) / 255, (e.b * sA + 127) / 255, (e.a * sA + 127) / 255};
            }
            uint32_t oa, orr, og, ob;
            if constexpr (M == Mode::InnerAlone) {
                oa = UnitsToLevel(e.a), orr = UnitsToLevel(e.r), og = UnitsToLevel(e.g), ob = UnitsToLevel(e.b);
            } else if constexpr (M == Mode::Knockout) {
                const uint32_t f = 255 - sA;
                oa = LevelOf(e.a * f), orr = LevelOf(e.r * f), og = LevelOf(e.g * f), ob = LevelOf(e.b * f);
            } else if constexpr (M == Mode::Under) {
                // The object over the effect.
                const uint32_t f = 255 - sA;
                oa = sA + LevelOf(e.a * f), orr = sr + LevelOf(e.r * f);
                og = sg + LevelOf(e.g * f), ob = sb + LevelOf(e.b * f);
            } else {
                // The effect atop the object.
                const uint32_t f = kFull - e.a;
                orr = LevelOf(e.r * 255 + sr * f), og = LevelOf(e.g * 255 + sg * f), ob = LevelOf(e.b * 255 + sb * f);
                oa = M == Mode::Inner ? sA : LevelOf(e.a * 255 + sA * f);
            }
            row[x] = PackLevels(std::min<uint32_t>(oa, 255), orr, og, ob);
        }
    }
}

template <size_t N>
void CombineEffect(Pixels& px, const uint16_t* index, const std::array<EffectColor, N>& table, Mode mode) {
    std::array<uint32_t, N> alone;
    for (size_t i = 0; i < N; ++i) {
        const EffectColor& e = table[i];
        alone[i] = PackLevels(UnitsToLevel(e.a), UnitsToLevel(e.r), UnitsToLevel(e.g), UnitsToLevel(e.b));
    }
    const EffectColor* t = table.data();
    const uint32_t* a = alone.data();
    switch (mode) {
        case Mode::Under: return CombineRows<Mode::Under>(px, index, t, a);
        case Mode::OnTop: return CombineRows<Mode::OnTop>(px, index, t, a);
        case Mode::Hide: return CombineRows<Mode::Hide>(px, index, t, a);
        case Mode::Knockout: return CombineRows<Mode::Knockout>(px, index, t, a);
        case Mode::Inner: return CombineRows<Mode::Inner>(px, index, t, a);
        case Mode::InnerAlone: return CombineRows<Mode::InnerAlone>(px, index, t, a);
    }
}

// Levels of a blurred plane are whole numbers within 0..255.
inline int WholeLevel(float v) { return std::clamp(static_cast<int>(v + 0.5f), 0, 255); }

// The plane moved by whole pixels, as levels in `out` plus `bias`;
// what comes from outside the plane is transparent.
void ShiftedLevels(const Plane& p, int dx, int dy, int bias, uint16_t* out) {
    for (int y = 0; y < p.h; ++y) {
        uint16_t* o = out + static_cast<size_t>(y) * p.w;
        const int sy = y - dy;
        if (sy < 0 || sy >= p.h) {
            std::fill(o, o + p.w, uint16_t(bias));
            continue;
        }
        const float* r = &p.v[static_cast<size_t>(sy) * p.w];
        const int x0 = std::clamp(dx, 0, p.w), x1 = std::clamp(p.w + dx, x0, p.w);
        std::fill(o, o + x0, uint16_t(bias));
        for (int x = x0; x < x1; ++x) o[x] = uint16_t(WholeLevel(r[x - dx]) + bias);
        std::fill(o + x1, o + p.w, uint16_t(bias));
    }
}

// The difference of the plane moved back and moved forward by whole
// pixels, plus 255: a bevel's lit side above 255, its shaded side below.
void BevelLevels(const Plane& p, int dx, int dy, uint16_t* out) {
    auto at = [&](int x, int y) {
        return x < 0 || y < 0 || x >= p.w || y >= p.h ? 0 : WholeLevel(p.v[static_cast<size_t>(y) * p.w + x]);
    };
    for (int y = 0; y < p.h; ++y) {
        uint16_t* o = out + static_cast<size_t>(y) * p.w;
        for (int x = 0; x < p.w; ++x) o[x] = uint16_t(255 + at(x + dx, y + dy) - at(x - dx, y - dy));
    }
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

// The player moves a shadow by whole pixels.
int Whole(double offset) { return static_cast<int>(std::clamp(std::round(offset), -65536.0, 65536.0)); }

Rgbaf Color(const swf::Rgba& c) { return {c.r / 255.f, c.g / 255.f, c.b / 255.f, c.a / 255.f}; }

// One colour spread by the coverage a level gives.
Rgbaf ShadowColor(Rgbaf c, float coverage) {
    float ea = c.a * coverage;
    return {c.r * ea, c.g * ea, c.b * ea, ea};
}

struct FilterScratch {
    std::vector<uint16_t> index;
};

FilterScratch& ScratchOfThread() {
    thread_local FilterScratch scratch;
    return scratch;
}

void Shadow(Pixels& px, swf::Rgba color, double bx, double by, double angle, double distance, double strength,
            bool inner, bool knockout, bool composite, int passes, double scale) {
    Plane a = AlphaOf(px);
    if (inner)
        for (auto& v : a.v) v = 255.f - v;
    Blur(a, bx * scale, by * scale, passes);
    int dx = 0, dy = 0;
    if (distance != 0) dx = Whole(std::cos(angle) * distance * scale), dy = Whole(std::sin(angle) * distance * scale);
    uint16_t* index = Scratch(ScratchOfThread().index, a.v.size());
    ShiftedLevels(a, dx, dy, 0, index);
    std::array<EffectColor, 256> table;
    const Rgbaf c = Color(color);
    for (int v = 0; v < 256; ++v)
        table[v] = ToEffectColor(ShadowColor(c, std::clamp(v * float(strength) / 255.f, 0.f, 1.f)));
    CombineEffect(px, index, table, ModeOf(inner, knockout, !composite, false));
}

void Bevel(Pixels& px, const swf::BevelFilter& f, double scale) {
    Plane a = AlphaOf(px);
    Blur(a, f.blur_x * scale, f.blur_y * scale, f.passes);
    const int dx = Whole(std::cos(f.angle) * f.distance * scale), dy = Whole(std::sin(f.angle) * f.distance * scale);
    uint16_t* index = Scratch(ScratchOfThread().index, a.v.size());
    BevelLevels(a, dx, dy, index);
    // The edge facing away from the offset catches the light; the shaded
    // side lies under it.
    std::array<EffectColor, 511> table;
    const Rgbaf dark = Color(f.shadow_color), light = Color(f.highlight_color);
    for (int d = -255; d <= 255; ++d) {
        float s = d * float(f.strength) / 255.f;
        Rgbaf e = ShadowColor(dark, std::clamp(-s, 0.f, 1.f));
        float a2 = light.a * std::clamp(s, 0.f, 1.f);
        e.r = e.r * (1 - a2) + light.r * a2;
        e.g = e.g * (1 - a2) + light.g * a2;
        e.b = e.b * (1 - a2) + light.b * a2;
        e.a = e.a + a2 - e.a * a2;
        table[d + 255] = ToEffectColor(e);
    }
    CombineEffect(px, index, table, ModeOf(f.inner, f.knockout, !f.composite_source, f.on_top));
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
    const int dx = Whole(std::cos(f.angle) * f.distance * scale), dy = Whole(std::sin(f.angle) * f.distance * scale);
    uint16_t* index = Scratch(ScratchOfThread().index, a.v.size());
    std::array<EffectColor, 511> table;
    if (f.bevel) {
        BevelLevels(a, dx, dy, index);
        for (int d = -255; d <= 255; ++d) {
            float s = std::clamp(d * float(f.strength) / 255.f, -1.f, 1.f);
            table[d + 255] = ToEffectColor(ramp[static_cast<size_t>(std::clamp(128 - static_cast<int>(std::lround(s * 128)), 0, 255))]);
        }
    } else {
        ShiftedLevels(a, f.distance != 0 ? dx : 0, f.distance != 0 ? dy : 0, 0, index);
        for (int v = 0; v < 256; ++v)
            table[v] = ToEffectColor(ramp[Level(std::clamp(v * float(f.strength) / 255.f, 0.f, 1.f) * 255.f)]);
    }
    CombineEffect(px, index, table, ModeOf(f.inner, f.knockout, !f.composite_source, f.on_top));
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
