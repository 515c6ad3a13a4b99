// Gradient fills through a coverage mask, coloured from a table of the gradient.
#include "flash/render/gradient_fill.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm::flash::render {

GradientTable BuildGradientTable(const GradientFill& gradient, const ColorTransform& cx) {
    GradientTable table{};
    if (gradient.stops.empty()) return table;
    // Ratios must rise; writers of broken files do not always keep them in order.
    std::vector<GradientStop> stops = gradient.stops;
    for (size_t i = 1; i < stops.size(); ++i) stops[i].ratio = std::max(stops[i].ratio, stops[i - 1].ratio);
    for (auto& s : stops) s.color = cx.apply(s.color);
    const std::array<Rgba, 256> ramp = BuildGradientRamp(stops, gradient.interpolation);
    // Between the ramp's entries the colour changes evenly, as between the stops themselves.
    for (size_t j = 0; j < kGradientTableSize; ++j) {
        double pos = double(j) * 255 / (kGradientTableSize - 1);
        size_t i = std::min<size_t>(size_t(pos), 254);
        double f = pos - double(i);
        const Rgba& p = ramp[i];
        const Rgba& q = ramp[i + 1];
        auto mix = [f](uint8_t x, uint8_t y) { return x + (y - x) * f; };
        double a = mix(p.a, q.a);
        auto pre = [&](uint8_t x, uint8_t y) { return uint32_t(std::lround(mix(x, y) * a / 255)); };
        table[j] = uint32_t(std::lround(a)) << 24 | pre(p.r, q.r) << 16 | pre(p.g, q.g) << 8 | pre(p.b, q.b);
    }
    return table;
}

const GradientTable& GradientScratch::Table(const GradientFill& gradient, const ColorTransform& cx) {
    std::string key;
    key.reserve(gradient.stops.size() * 5 + 72);
    auto add = [&](const auto& v) { key.append(reinterpret_cast<const char*>(&v), sizeof v); };
    add(gradient.interpolation);
    add(std::array<double, 8>{cx.mr, cx.mg, cx.mb, cx.ma, cx.ar, cx.ag, cx.ab, cx.aa});
    for (const GradientStop& s : gradient.stops) add(std::array<uint8_t, 5>{s.ratio, s.color.r, s.color.g, s.color.b, s.color.a});
    for (const Entry& e : tables_)
        if (e.key == key) return e.table;
    // A handful of gradients are on the stage at once; the oldest makes room.
    constexpr size_t kKept = 64;
    Entry entry{std::move(key), BuildGradientTable(gradient, cx)};
    if (tables_.size() < kKept) {
        tables_.push_back(std::move(entry));
        return tables_.back().table;
    }
    Entry& slot = tables_[next_];
    next_ = (next_ + 1) % kKept;
    slot = std::move(entry);
    return slot.table;
}

DeviceBox PathBox(const std::vector<PathCommand>& commands, const Matrix& m) {
    DeviceBox b{1e300, 1e300, -1e300, -1e300};
    auto add = [&](double x, double y) {
        double dx = m.a * x + m.c * y + m.tx, dy = m.b * x + m.d * y + m.ty;
        b.x0 = std::min(b.x0, dx);
        b.y0 = std::min(b.y0, dy);
        b.x1 = std::max(b.x1, dx);
        b.y1 = std::max(b.y1, dy);
    };
    for (const PathCommand& c : commands) {
        if (c.op == PathCommand::Close) continue;
        add(c.x, c.y);
        if (c.op == PathCommand::Quad) add(c.cx, c.cy);
    }
    return b;
}

namespace {

// x * a / 255 for each of the four bytes, rounded as cairo's compositing rounds.
inline uint32_t Scale(uint32_t x, uint32_t a) {
    uint32_t rb = (x & 0x00ff00ffu) * a + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00ff00ffu)) >> 8) & 0x00ff00ffu;
    uint32_t ag = ((x >> 8) & 0x00ff00ffu) * a + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00ff00ffu)) & 0xff00ff00u;
    return rb | ag;
}

// Source over destination, both premultiplied: the sum stays within a byte.
inline uint32_t Over(uint32_t s, uint32_t d) { return s + Scale(d, 255 - (s >> 24)); }

// Gradient position (0..1 across the ramp) of a point in units of half the gradient square.
template <GradientKind Kind>
inline double Position(double u, double v, double focal, double focalScale) {
    if constexpr (Kind == GradientKind::Linear) {
        (void)v;
        return (u + 1) * 0.5;
    } else if constexpr (Kind == GradientKind::Radial) {
        return std::sqrt(u * u + v * v);
    } else {
        // The circle of radius t around (focal * (1 - t), 0) passes through the point.
        double q = u - focal;
        return (q * focal + std::sqrt(q * q + (1 - focal * focal) * v * v)) * focalScale;
    }
}

template <SpreadMode Spread>
inline int Index(double t) {
    if constexpr (Spread == SpreadMode::Repeat) {
        t -= std::floor(t);
    } else if constexpr (Spread == SpreadMode::Reflect) {
        t = std::fabs(t - 2 * std::floor((t + 1) * 0.5));
    }
    // Also catches what is not a number.
    if (!(t > 0)) return 0;
    if (t >= 1) return kGradientTableSize - 1;
    return int(t * (kGradientTableSize - 1) + 0.5);
}

struct Span {
    uint32_t* dst;
    const uint8_t* cover;
    int count;
    double u, v;    // gradient position of the first pixel's centre
    double du, dv;  // per pixel to the right
};

template <GradientKind Kind, SpreadMode Spread>
void PaintSpan(const Span& s, const GradientTable& table, double focal, double focalScale) {
    double u = s.u, v = s.v;
    for (int i = 0; i < s.count; ++i, u += s.du, v += s.dv) {
        uint32_t c = s.cover[i];
        if (c == 0) continue;
        uint32_t color = table[size_t(Index<Spread>(Position<Kind>(u, v, focal, focalScale)))];
        if (c != 255) color = Scale(color, c);
        uint32_t a = color >> 24;
        if (a == 255) s.dst[i] = color;
        else if (a != 0) s.dst[i] = Over(color, s.dst[i]);
    }
}

#if defined(__SSE2__)
// Four pixels at a time for gradients that pad. Positions in single precision are exact enough for the table;
// the compositing rounds exactly as Scale and Over do.
inline __m128i Scale16(__m128i x, __m128i a) {
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(x, a), _mm_set1_epi16(0x80));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}

// Each pixel's alpha in all four of its 16-bit lanes (pixels as 4 x 16 bits).
inline __m128i SpreadAlpha16(__m128i x) {
    x = _mm_shufflelo_epi16(x, _MM_SHUFFLE(3, 3, 3, 3));
    return _mm_shufflehi_epi16(x, _MM_SHUFFLE(3, 3, 3, 3));
}

inline __m128i CompositeFour(__m128i src, __m128i cover, __m128i dst) {
    const __m128i zero = _mm_setzero_si128();
    // Coverage bytes 0..3 to each pixel's four channels.
    __m128i c8 = _mm_unpacklo_epi8(cover, cover);
    c8 = _mm_unpacklo_epi16(c8, c8);
    __m128i sLo = Scale16(_mm_unpacklo_epi8(src, zero), _mm_unpacklo_epi8(c8, zero));
    __m128i sHi = Scale16(_mm_unpackhi_epi8(src, zero), _mm_unpackhi_epi8(c8, zero));
    const __m128i full = _mm_set1_epi16(255);
    __m128i dLo = Scale16(_mm_unpacklo_epi8(dst, zero), _mm_sub_epi16(full, SpreadAlpha16(sLo)));
    __m128i dHi = Scale16(_mm_unpackhi_epi8(dst, zero), _mm_sub_epi16(full, SpreadAlpha16(sHi)));
    return _mm_packus_epi16(_mm_add_epi16(sLo, dLo), _mm_add_epi16(sHi, dHi));
}

// CompositeFour for whole coverage: scaling by 255 leaves a byte as it is,
// so only the destination is scaled.
inline __m128i OverFour(__m128i src, __m128i dst) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i full = _mm_set1_epi16(255);
    __m128i sLo = _mm_unpacklo_epi8(src, zero), sHi = _mm_unpackhi_epi8(src, zero);
    __m128i dLo = Scale16(_mm_unpacklo_epi8(dst, zero), _mm_sub_epi16(full, SpreadAlpha16(sLo)));
    __m128i dHi = Scale16(_mm_unpackhi_epi8(dst, zero), _mm_sub_epi16(full, SpreadAlpha16(sHi)));
    return _mm_packus_epi16(_mm_add_epi16(sLo, dLo), _mm_add_epi16(sHi, dHi));
}

template <GradientKind Kind>
void PaintSpanFour(const Span& s, const GradientTable& table, double focal, double focalScale) {
    const float f = float(focal), fScale = float(focalScale) * (kGradientTableSize - 1), fRest = float(1 - focal * focal);
    const __m128 lane = _mm_set_ps(3, 2, 1, 0);
    const __m128 du = _mm_set1_ps(float(s.du)), dv = _mm_set1_ps(float(s.dv));
    const __m128 u0 = _mm_set1_ps(float(s.u)), v0 = _mm_set1_ps(float(s.v));
    constexpr float kLast = kGradientTableSize - 1;
    const __m128 scale = _mm_set1_ps(kLast), half = _mm_set1_ps(0.5f), top = _mm_set1_ps(kLast), bottom = _mm_setzero_ps();
    int i = 0;
    alignas(16) int32_t index[4];
    for (; i + 4 <= s.count; i += 4) {
        __m128 k = _mm_add_ps(_mm_set1_ps(float(i)), lane);
        __m128 u = _mm_add_ps(u0, _mm_mul_ps(k, du));
        __m128 t;
        if constexpr (Kind == GradientKind::Linear) {
            t = _mm_mul_ps(_mm_add_ps(u, _mm_set1_ps(1)), _mm_set1_ps(kLast / 2));
        } else if constexpr (Kind == GradientKind::Radial) {
            __m128 v = _mm_add_ps(v0, _mm_mul_ps(k, dv));
            t = _mm_mul_ps(_mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(u, u), _mm_mul_ps(v, v))), scale);
        } else {
            // As Position: the circle of radius t around (focal * (1 - t), 0) through the point.
            __m128 v = _mm_add_ps(v0, _mm_mul_ps(k, dv));
            __m128 q = _mm_sub_ps(u, _mm_set1_ps(f));
            __m128 r = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(q, q), _mm_mul_ps(_mm_set1_ps(fRest), _mm_mul_ps(v, v))));
            t = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(q, _mm_set1_ps(f)), r), _mm_set1_ps(fScale));
        }
        // max and min take the bound when t is not a number.
        t = _mm_min_ps(_mm_max_ps(_mm_add_ps(t, half), bottom), top);
        _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm_cvttps_epi32(t));
        __m128i src = _mm_set_epi32(int(table[size_t(index[3])]), int(table[size_t(index[2])]),
                                    int(table[size_t(index[1])]), int(table[size_t(index[0])]));
        uint32_t cover4;
        std::memcpy(&cover4, s.cover + i, 4);
        __m128i* d = reinterpret_cast<__m128i*>(s.dst + i);
        if (cover4 == 0xFFFFFFFFu) {
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_srli_epi32(src, 24), _mm_set1_epi32(255))) == 0xFFFF)
                _mm_storeu_si128(d, src);
            else
                _mm_storeu_si128(d, OverFour(src, _mm_loadu_si128(d)));
            continue;
        }
        _mm_storeu_si128(d, CompositeFour(src, _mm_cvtsi32_si128(int(cover4)), _mm_loadu_si128(d)));
    }
    for (; i < s.count; ++i) {
        uint32_t c = s.cover[i];
        float u = float(s.u) + float(i) * float(s.du), t;
        if constexpr (Kind == GradientKind::Linear) {
            t = (u + 1) * (kGradientTableSize - 1) * 0.5f;
        } else if constexpr (Kind == GradientKind::Radial) {
            float v = float(s.v) + float(i) * float(s.dv);
            t = std::sqrt(u * u + v * v) * (kGradientTableSize - 1);
        } else {
            float v = float(s.v) + float(i) * float(s.dv), q = u - f;
            t = (q * f + std::sqrt(q * q + fRest * v * v)) * fScale;
        }
        t += 0.5f;
        if (!(t > 0)) t = 0;  // also what is not a number
        if (t > kGradientTableSize - 1) t = kGradientTableSize - 1;
        uint32_t color = table[size_t(int(t))];
        if (c != 255) color = Scale(color, c);
        s.dst[i] = Over(color, s.dst[i]);
    }
}
#endif

using SpanPainter = void (*)(const Span&, const GradientTable&, double, double);

template <GradientKind Kind>
SpanPainter PainterFor(SpreadMode spread) {
#if defined(__SSE2__)
    if (spread == SpreadMode::Pad) return PaintSpanFour<Kind>;
#endif
    switch (spread) {
        case SpreadMode::Reflect: return PaintSpan<Kind, SpreadMode::Reflect>;
        case SpreadMode::Repeat: return PaintSpan<Kind, SpreadMode::Repeat>;
        default: return PaintSpan<Kind, SpreadMode::Pad>;
    }
}

SpanPainter PainterFor(GradientKind kind, SpreadMode spread) {
    switch (kind) {
        case GradientKind::Radial: return PainterFor<GradientKind::Radial>(spread);
        case GradientKind::Focal: return PainterFor<GradientKind::Focal>(spread);
        default: return PainterFor<GradientKind::Linear>(spread);
    }
}

inline uint64_t Word(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline bool HasZeroByte(uint64_t v) { return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0; }

struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

}  // namespace

bool PaintGradient(cairo_t* cr, const GradientFill& gradient, const ColorTransform& cx, const Matrix& toShape,
                   const DeviceBox& box, const std::function<void(cairo_t*)>& draw, GradientScratch& scratch) {
    if (gradient.stops.empty()) return true;
    cairo_surface_t* target = cairo_get_target(cr);
    if (cairo_get_group_target(cr) != target || cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(target) != CAIRO_FORMAT_ARGB32 || cairo_get_operator(cr) != CAIRO_OPERATOR_OVER)
        return false;
    // Device coordinates to the target's pixels.
    double offX = 0, offY = 0;
    cairo_surface_get_device_offset(target, &offX, &offY);
    double sx = 1, sy = 1;
    cairo_surface_get_device_scale(target, &sx, &sy);
    if (sx != 1 || sy != 1) return false;
    int width = cairo_image_surface_get_width(target), height = cairo_image_surface_get_height(target);
    double cx0 = 0, cy0 = 0, cx1 = width, cy1 = height;
    {
        cairo_matrix_t saved;
        cairo_get_matrix(cr, &saved);
        cairo_identity_matrix(cr);
        cairo_rectangle_list_t* clip = cairo_copy_clip_rectangle_list(cr);
        cairo_set_matrix(cr, &saved);
        bool usable = clip->status == CAIRO_STATUS_SUCCESS && clip->num_rectangles <= 1;
        if (usable && clip->num_rectangles == 1) {
            const cairo_rectangle_t& r = clip->rectangles[0];
            // Only a clip on whole pixels cuts the coverage as cairo would.
            usable = r.x == std::floor(r.x) && r.y == std::floor(r.y) && r.width == std::floor(r.width) &&
                     r.height == std::floor(r.height);
            cx0 = std::max(cx0, r.x + offX);
            cy0 = std::max(cy0, r.y + offY);
            cx1 = std::min(cx1, r.x + r.width + offX);
            cy1 = std::min(cy1, r.y + r.height + offY);
        } else if (usable) {
            cx1 = cx0;  // everything clipped away
        }
        cairo_rectangle_list_destroy(clip);
        if (!usable) return false;
    }
    // Pixels the coverage may touch: one more on every side for anti-aliasing.
    auto clampTo = [](double v, double lo, double hi) { return std::isfinite(v) ? std::clamp(v, lo, hi) : lo; };
    int x0 = int(std::floor(clampTo(box.x0 + offX - 1, cx0, cx1)));
    int y0 = int(std::floor(clampTo(box.y0 + offY - 1, cy0, cy1)));
    int x1 = int(std::ceil(clampTo(box.x1 + offX + 1, cx0, cx1)));
    int y1 = int(std::ceil(clampTo(box.y1 + offY + 1, cy0, cy1)));
    if (x1 <= x0 || y1 <= y0) return true;
    const int w = x1 - x0, h = y1 - y0;

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, w);
    scratch.coverage.assign(size_t(stride) * size_t(h), 0);
    SurfacePtr mask(cairo_image_surface_create_for_data(scratch.coverage.data(), CAIRO_FORMAT_A8, w, h, stride));
    if (cairo_surface_status(mask.get()) != CAIRO_STATUS_SUCCESS) return false;
    cairo_surface_set_device_offset(mask.get(), offX - x0, offY - y0);
    {
        std::unique_ptr<cairo_t, ContextDeleter> m(cairo_create(mask.get()));
        cairo_set_antialias(m.get(), cairo_get_antialias(cr));
        cairo_set_fill_rule(m.get(), cairo_get_fill_rule(cr));
        cairo_set_tolerance(m.get(), cairo_get_tolerance(cr));
        cairo_set_source_rgba(m.get(), 0, 0, 0, 1);
        draw(m.get());
    }
    cairo_surface_flush(mask.get());

    const GradientTable& table = scratch.Table(gradient, cx);
    cairo_surface_flush(target);
    uint8_t* pixels = cairo_image_surface_get_data(target);
    const int targetStride = cairo_image_surface_get_stride(target);

    // Target pixels to units of half the gradient square.
    Matrix pixelsToDevice{1, 0, 0, 1, -offX, -offY};
    Matrix toGradient;
    Matrix full = toShape * gradient.matrix * Matrix{16384, 0, 0, 16384, 0, 0};
    bool squeezed = !full.invert(toGradient);
    toGradient = toGradient * pixelsToDevice;
    double focal = std::clamp(gradient.focalPoint, -0.98, 0.98);
    double focalScale = 1 / (1 - focal * focal);
    SpanPainter paint = PainterFor(gradient.kind, gradient.spread);
    for (int y = 0; y < h; ++y) {
        const uint8_t* cover = scratch.coverage.data() + size_t(y) * size_t(stride);
        auto* row = reinterpret_cast<uint32_t*>(pixels + size_t(y0 + y) * size_t(targetStride)) + x0;
        int i = 0;
        while (i < w) {
            // Runs of covered pixels, eight coverage bytes at a time where they allow.
            while (i + 8 <= w && Word(cover + i) == 0) i += 8;
            while (i < w && cover[i] == 0) ++i;
            int j = i;
            while (j + 8 <= w && !HasZeroByte(Word(cover + j))) j += 8;
            while (j < w && cover[j] != 0) ++j;
            if (j == i) break;
            if (squeezed) {
                // A gradient squeezed to nothing shows its outermost colour.
                for (int k = i; k < j; ++k) {
                    uint32_t color = cover[k] == 255 ? table[kGradientTableSize - 1] : Scale(table[kGradientTableSize - 1], cover[k]);
                    row[k] = (color >> 24) == 255 ? color : Over(color, row[k]);
                }
            } else {
                double px = x0 + i + 0.5, py = y0 + y + 0.5;
                Span s{row + i,
                       cover + i,
                       j - i,
                       toGradient.a * px + toGradient.c * py + toGradient.tx,
                       toGradient.b * px + toGradient.d * py + toGradient.ty,
                       toGradient.a,
                       toGradient.b};
                paint(s, table, focal, focalScale);
            }
            i = j;
        }
    }
    cairo_surface_mark_dirty(target);
    return true;
}

}  // namespace qm::flash::render
