// The display-list walk: transforms, colour transforms, masks by clip depth,
// blend modes; shapes, morphs, texts and nested timelines.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <variant>

#include "flash/render/drawable.h"
#include "flash/render/dynamic_shape.h"
#include "flash/render/filters.h"
#include "flash/render/gradient_fill.h"
#include "flash/render/render.h"
#include "flash/render/text_draw.h"
#include "flash/video/video.h"

namespace qm::flash {

using namespace render;

ScaleMode ScaleModeFromText(const std::string& text) {
    std::string t;
    for (char c : text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "noborder") return ScaleMode::NoBorder;
    if (t == "exactfit") return ScaleMode::ExactFit;
    if (t == "noscale") return ScaleMode::NoScale;
    return ScaleMode::ShowAll;
}

Quality QualityFromText(const std::string& text) {
    std::string t;
    for (char c : text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "low") return Quality::Low;
    if (t == "medium") return Quality::Medium;
    if (t == "best") return Quality::Best;
    return Quality::High;
}

swf::Matrix StageTransform(const swf::Rect& stage, int width, int height, ScaleMode mode) {
    double sw = std::max(1, stage.x_max - stage.x_min) / 20.0;
    double sh = std::max(1, stage.y_max - stage.y_min) / 20.0;
    double sx = width / sw, sy = height / sh;
    switch (mode) {
        case ScaleMode::ShowAll: sx = sy = std::min(sx, sy); break;
        case ScaleMode::NoBorder: sx = sy = std::max(sx, sy); break;
        case ScaleMode::ExactFit: break;
        case ScaleMode::NoScale: sx = sy = 1; break;
    }
    // The stage is centred in the picture.
    double ox = (width - sw * sx) / 2, oy = (height - sh * sy) / 2;
    swf::Matrix m;
    m.a = sx / 20;
    m.d = sy / 20;
    m.tx = ox - stage.x_min * m.a;
    m.ty = oy - stage.y_min * m.d;
    return m;
}

namespace {

// A picture being drawn into: the target itself, or a layer for a mask's
// content or a blended object.
struct Canvas {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    bool owned = false;

    static Canvas Over(cairo_surface_t* s, cairo_antialias_t aa) {
        Canvas c;
        c.surface = s;
        c.cr = cairo_create(s);
        cairo_set_antialias(c.cr, aa);
        // Curves in steps of a quarter pixel: edges as close to the original player's as finer
        // steps give, and outlines are far cheaper to rasterise.
        cairo_set_tolerance(c.cr, 0.25);
        return c;
    }
    // A layer covering only part of the target, drawn in target coordinates.
    static Canvas NewRegion(int x, int y, int w, int h, cairo_antialias_t aa) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(1, w), std::max(1, h));
        cairo_surface_set_device_offset(s, -x, -y);
        Canvas c = Over(s, aa);
        c.owned = true;
        return c;
    }
    Canvas() = default;
    Canvas(Canvas&& o) noexcept { *this = std::move(o); }
    Canvas& operator=(Canvas&& o) noexcept {
        std::swap(surface, o.surface);
        std::swap(cr, o.cr);
        std::swap(owned, o.owned);
        return *this;
    }
    ~Canvas() {
        if (cr) cairo_destroy(cr);
        if (owned && surface) cairo_surface_destroy(surface);
    }
};

struct Pixel {
    double r, g, b, a;  // straight, 0..1
};

// Composites `src` over `dst` with a separable blend function that cairo
// does not offer: result = (1-as)*D + (1-ad)*S + as*ad*B(s, d).
// Where two layers overlap, in the pixels of each: layers sit in target
// coordinates through their device offsets.
struct Overlap {
    int dx = 0, dy = 0, sx = 0, sy = 0, w = 0, h = 0;
};

Overlap OverlapOf(cairo_surface_t* dst, cairo_surface_t* src) {
    double dox = 0, doy = 0, sox = 0, soy = 0;
    cairo_surface_get_device_offset(dst, &dox, &doy);
    cairo_surface_get_device_offset(src, &sox, &soy);
    // Target position of each surface's first pixel.
    int dX = int(-dox), dY = int(-doy), sX = int(-sox), sY = int(-soy);
    int x0 = std::max(dX, sX), y0 = std::max(dY, sY);
    int x1 = std::min(dX + cairo_image_surface_get_width(dst), sX + cairo_image_surface_get_width(src));
    int y1 = std::min(dY + cairo_image_surface_get_height(dst), sY + cairo_image_surface_get_height(src));
    Overlap o;
    if (x1 <= x0 || y1 <= y0) return o;
    o = {x0 - dX, y0 - dY, x0 - sX, y0 - sY, x1 - x0, y1 - y0};
    return o;
}

template <class Blend>
void CompositeManually(cairo_surface_t* dst, cairo_surface_t* src, Blend blend) {
    cairo_surface_flush(dst);
    cairo_surface_flush(src);
    Overlap o = OverlapOf(dst, src);
    uint8_t* dd = cairo_image_surface_get_data(dst);
    uint8_t* sd = cairo_image_surface_get_data(src);
    int ds = cairo_image_surface_get_stride(dst), ss = cairo_image_surface_get_stride(src);
    for (int y = 0; y < o.h; ++y) {
        auto* drow = reinterpret_cast<uint32_t*>(dd + static_cast<size_t>(y + o.dy) * ds) + o.dx;
        auto* srow = reinterpret_cast<const uint32_t*>(sd + static_cast<size_t>(y + o.sy) * ss) + o.sx;
        for (int x = 0; x < o.w; ++x) {
            uint32_t s = srow[x];
            uint32_t sa = s >> 24;
            if (sa == 0) continue;
            uint32_t d = drow[x];
            double as = sa / 255.0, ad = (d >> 24) / 255.0;
            auto chan = [](uint32_t p, int shift, double a) { return a > 0 ? ((p >> shift) & 255) / 255.0 / a : 0.0; };
            double out[3];
            for (int c = 0; c < 3; ++c) {
                int shift = 16 - 8 * c;
                double cs = chan(s, shift, as), cd = chan(d, shift, ad);
                double premS = ((s >> shift) & 255) / 255.0, premD = ((d >> shift) & 255) / 255.0;
                out[c] = (1 - as) * premD + (1 - ad) * premS + as * ad * std::clamp(blend(cs, cd), 0.0, 1.0);
            }
            double oa = as + ad - as * ad;
            auto q = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            uint32_t a8 = q(oa);
            uint32_t r8 = std::min(q(out[0]), a8), g8 = std::min(q(out[1]), a8), b8 = std::min(q(out[2]), a8);
            drow[x] = (a8 << 24) | (r8 << 16) | (g8 << 8) | b8;
        }
    }
    cairo_surface_mark_dirty(dst);
}

void SubtractPremultiplied(cairo_surface_t* dst, cairo_surface_t* src) {
    cairo_surface_flush(dst);
    cairo_surface_flush(src);
    Overlap o = OverlapOf(dst, src);
    uint8_t* dd = cairo_image_surface_get_data(dst);
    uint8_t* sd = cairo_image_surface_get_data(src);
    int ds = cairo_image_surface_get_stride(dst), ss = cairo_image_surface_get_stride(src);
    for (int y = 0; y < o.h; ++y) {
        auto* drow = reinterpret_cast<uint32_t*>(dd + static_cast<size_t>(y + o.dy) * ds) + o.dx;
        auto* srow = reinterpret_cast<const uint32_t*>(sd + static_cast<size_t>(y + o.sy) * ss) + o.sx;
        for (int x = 0; x < o.w; ++x) {
            uint32_t s = srow[x];
            uint32_t sa = s >> 24;
            if (sa == 0) continue;
            uint32_t d = drow[x];
            uint32_t da = d >> 24;
            uint32_t a = sa + da - (sa * da + 127) / 255;
            auto chan = [&](int shift) {
                int v = int((d >> shift) & 255) - int((s >> shift) & 255);
                return static_cast<uint32_t>(std::clamp(v, 0, int(a)));
            };
            drow[x] = (a << 24) | (chan(16) << 16) | (chan(8) << 8) | chan(0);
        }
    }
    cairo_surface_mark_dirty(dst);
}

void Composite(Canvas& dst, cairo_surface_t* src, swf::BlendMode mode) {
    cairo_t* cr = dst.cr;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_operator_t op = CAIRO_OPERATOR_OVER;
    switch (mode) {
        case swf::BlendMode::Multiply: op = CAIRO_OPERATOR_MULTIPLY; break;
        case swf::BlendMode::Screen: op = CAIRO_OPERATOR_SCREEN; break;
        case swf::BlendMode::Lighten: op = CAIRO_OPERATOR_LIGHTEN; break;
        case swf::BlendMode::Darken: op = CAIRO_OPERATOR_DARKEN; break;
        case swf::BlendMode::Difference: op = CAIRO_OPERATOR_DIFFERENCE; break;
        case swf::BlendMode::Add: op = CAIRO_OPERATOR_ADD; break;
        case swf::BlendMode::Overlay: op = CAIRO_OPERATOR_OVERLAY; break;
        case swf::BlendMode::HardLight: op = CAIRO_OPERATOR_HARD_LIGHT; break;
        case swf::BlendMode::Alpha: op = CAIRO_OPERATOR_DEST_IN; break;
        case swf::BlendMode::Erase: op = CAIRO_OPERATOR_DEST_OUT; break;
        case swf::BlendMode::Subtract:
            // The mirror of add: premultiplied source taken from the destination.
            cairo_restore(cr);
            SubtractPremultiplied(dst.surface, src);
            return;
        case swf::BlendMode::Invert:
            cairo_restore(cr);
            CompositeManually(dst.surface, src, [](double, double d) { return 1 - d; });
            return;
        default: break;
    }
    cairo_set_operator(cr, op);
    cairo_paint(cr);
    cairo_restore(cr);
}

// Everything a leaf object's filtered picture depends on, as bytes.
class KeyWriter {
public:
    template <class T>
    void Add(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        key_.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void Add(const std::string& text) {
        Add(text.size());
        key_ += text;
    }
    std::string Take() { return std::move(key_); }

private:
    std::string key_;
};

void AddFilter(KeyWriter& k, const swf::Filter& filter) {
    k.Add(filter.index());
    auto rgba = [&](const swf::Rgba& c) { k.Add(std::array<uint8_t, 4>{c.r, c.g, c.b, c.a}); };
    std::visit(
        [&](const auto& f) {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, swf::ColorMatrixFilter>) {
                k.Add(f.matrix);
            } else if constexpr (std::is_same_v<F, swf::ConvolutionFilter>) {
                k.Add(std::array<uint8_t, 4>{f.matrix_x, f.matrix_y, uint8_t(f.clamp), uint8_t(f.preserve_alpha)});
                k.Add(std::array<float, 2>{f.divisor, f.bias});
                k.Add(f.matrix.size());
                for (float v : f.matrix) k.Add(v);
                rgba(f.default_color);
            } else {
                k.Add(std::array<double, 2>{f.blur_x, f.blur_y});
                k.Add(f.passes);
                if constexpr (!std::is_same_v<F, swf::BlurFilter>) {
                    k.Add(f.strength);
                    k.Add(std::array<bool, 3>{f.inner, f.knockout, f.composite_source});
                }
                if constexpr (std::is_same_v<F, swf::DropShadowFilter> || std::is_same_v<F, swf::GlowFilter>)
                    rgba(f.color);
                if constexpr (std::is_same_v<F, swf::DropShadowFilter> || std::is_same_v<F, swf::BevelFilter> ||
                              std::is_same_v<F, swf::GradientFilter>)
                    k.Add(std::array<double, 2>{f.angle, f.distance});
                if constexpr (std::is_same_v<F, swf::BevelFilter>) {
                    rgba(f.highlight_color);
                    rgba(f.shadow_color);
                    k.Add(f.on_top);
                }
                if constexpr (std::is_same_v<F, swf::GradientFilter>) {
                    k.Add(std::array<bool, 2>{f.bevel, f.on_top});
                    k.Add(f.gradient.size());
                    for (const auto& r : f.gradient) {
                        k.Add(r.ratio);
                        rgba(r.color);
                    }
                }
            }
        },
        filter);
}

// Adds everything an object's picture depends on, its subtree included, to the key. False when
// the key cannot hold it: videos decode on their own, scripts' drawings change in place.
bool AddLook(KeyWriter& k, const DisplayObject* obj, int levels) {
    if (!obj || !obj->character) {
        k.Add(0);
        return true;
    }
    if (levels == 0 || obj->drawing || obj->bitmap || obj->character->As<swf::VideoStream>()) return false;
    const swf::Matrix& m = obj->matrix;
    const swf::ColorTransform& c = obj->color_transform;
    k.Add(obj->depth);
    k.Add(obj->character);
    k.Add(std::array<double, 6>{m.a, m.b, m.c, m.d, m.tx, m.ty});
    k.Add(std::array<int16_t, 8>{c.r_mult, c.g_mult, c.b_mult, c.a_mult, c.r_add, c.g_add, c.b_add, c.a_add});
    k.Add(obj->ratio);
    k.Add(obj->clip_depth);
    k.Add(obj->blend_mode);
    k.Add(obj->visible);
    k.Add(obj->opaque_background.has_value());
    if (obj->opaque_background) {
        const swf::Rgba& b = *obj->opaque_background;
        k.Add(std::array<uint8_t, 4>{b.r, b.g, b.b, b.a});
    }
    k.Add(obj->text.has_value());
    if (obj->text) k.Add(*obj->text);
    // A field's own definition changes in place when scripts set its box.
    if (const auto* field = obj->character->As<swf::EditText>()) {
        k.Add(std::array<uint8_t, 2>{field->border, uint8_t(field->background ? 1 + *field->background : 0)});
        k.Add(std::array<uint32_t, 2>{field->background_color, field->border_color});
    }
    k.Add(obj->filters.size());
    for (const swf::Filter& f : obj->filters) AddFilter(k, f);
    k.Add(obj->children.size());
    for (const auto& [depth, child] : obj->children)
        if (!AddLook(k, child.get(), levels - 1)) return false;
    return true;
}

}  // namespace

struct Renderer::Impl {
    const Dictionary& dictionary;
    uint8_t version;
    std::unordered_map<const void*, Drawable> shapes;
    std::map<std::pair<const void*, uint16_t>, Drawable> morphs;
    // Decoded bitmaps within the budget of swf/limits.h: a long lesson of many large
    // pictures lets go of those drawn least recently and decodes them again when they return.
    struct CachedBitmap {
        SurfacePtr surface;  // null: the bitmap cannot be drawn
        size_t bytes = 0;
        uint64_t used = 0;   // render pass that last drew it
    };
    std::unordered_map<uint16_t, CachedBitmap> bitmaps;
    size_t bitmapBytes = 0;
    std::function<void(std::string_view)> log;
    std::set<std::string> logged;  // one line per cause, not one per frame
    void Log(std::string line) {
        if (log && logged.insert(line).second) log(line);
    }
    int width = 0, height = 0;
    cairo_antialias_t antialias = CAIRO_ANTIALIAS_DEFAULT;
    int layerDepth = 0;  // blended groups being drawn into
    static constexpr int kMaxNesting = 64;
    int nesting = 0;     // clips inside clips being drawn
    DrawEnv env;
    GradientScratch gradients;
    TextRenderer text;

    // Placed videos by instance: each decodes on its own, and the picture
    // of the frame last drawn is kept while the frame stays.
    struct VideoInstance {
        std::unique_ptr<video::VideoPlayback> playback;
        SurfacePtr surface;
        int32_t frame = -1;
        uint64_t used = 0;  // render pass that last drew it
    };
    std::unordered_map<uint64_t, VideoInstance> videos;
    uint64_t pass = 0;

    // Filtered pictures of objects whose look the key holds entirely (shapes, morphs, texts,
    // bitmaps): a title that stays where it is is drawn and filtered once, not every frame.
    struct FilteredLayer {
        std::string key;
        SurfacePtr surface;
        uint64_t used = 0;  // render pass that last drew it
    };
    std::unordered_map<const DisplayObject*, FilteredLayer> filteredLayers;

    // The picture after the lowest objects of the stage that stayed as they were over the last
    // frames: a frame starts from it instead of drawing them again (a backdrop under moving
    // characters, or a whole still frame).
    struct StaticPrefix {
        std::string setting;             // target size, stage, background, the main movie
        std::vector<std::string> looks;  // of the objects drawn into `pixels`
        std::vector<uint8_t> pixels;     // width * 4 bytes a row
    } prefix;
    std::vector<std::string> lastLooks;  // the previous frame's lowest objects
    size_t lastCommon = 0;               // how many of them the frame before had too
    static constexpr int64_t kMaxFilteredPixels = int64_t(1) << 23;  // 32 MB
    int64_t FilteredPixels() const {
        int64_t n = 0;
        for (const auto& [object, layer] : filteredLayers)
            n += int64_t(cairo_image_surface_get_width(layer.surface.get())) *
                 cairo_image_surface_get_height(layer.surface.get());
        return n;
    }
    cairo_surface_t* VideoPicture(const DisplayObject& obj, const swf::VideoStream& stream);

    Impl(const Dictionary& d, uint8_t v) : dictionary(d), version(v) {
        env.movie_version = v;
        env.bitmap = [this](uint16_t id) { return Bitmap(id); };
        env.tinted_bitmap = [this](uint16_t id, const ColorTransform& cx) { return Tinted(id, cx); };
        env.gradients = &gradients;
        text.glyph = [this](const swf::Shape& g) -> const Drawable& { return Glyph(g); };
    }

    cairo_surface_t* Bitmap(uint16_t id) {
        auto it = bitmaps.find(id);
        if (it != bitmaps.end()) {
            it->second.used = pass;
            return it->second.surface.get();
        }
        const Character* ch = dictionary.Find(id);
        const swf::Bitmap* bm = ch ? ch->As<swf::Bitmap>() : nullptr;
        if (!bm) return nullptr;
        BitmapDecodeResult r = DecodeSwfBitmap(*bm);
        if (!r.ok()) {
            Log("bitmap " + std::to_string(id) + " is not drawn: " + r.error);
            return bitmaps.emplace(id, CachedBitmap{}).first->second.surface.get();
        }
        const size_t bytes = size_t(std::max(1, r.bitmap.width)) * size_t(std::max(1, r.bitmap.height)) * 4;
        if (!MakeRoom(bytes)) {
            // Not kept as refused: a later frame with fewer pictures draws it.
            Log("bitmap " + std::to_string(id) + " is not drawn in a frame whose bitmaps pass " +
                std::to_string(limits::kMaxDecodedBitmapBytes >> 20) + " MiB decoded");
            return nullptr;
        }
        CachedBitmap entry{MakeSurface(r.bitmap), bytes, pass};
        bitmapBytes += bytes;
        return bitmaps.insert_or_assign(id, std::move(entry)).first->second.surface.get();
    }

    // Lets go of the bitmaps drawn least recently until `bytes` more fit. Those of the
    // frame being drawn stay: the drawing holds them.
    bool MakeRoom(size_t bytes) {
        if (bitmapBytes + bytes <= limits::kMaxDecodedBitmapBytes) return true;
        std::vector<std::pair<uint64_t, uint16_t>> old;
        for (const auto& [id, entry] : bitmaps)
            if (entry.surface && entry.used != pass) old.emplace_back(entry.used, id);
        std::sort(old.begin(), old.end());
        if (!old.empty())
            Log("decoded bitmaps reached " + std::to_string(limits::kMaxDecodedBitmapBytes >> 20) +
                " MiB: those drawn least recently are let go and decoded again when needed");
        for (const auto& [used, id] : old) {
            if (bitmapBytes + bytes <= limits::kMaxDecodedBitmapBytes) break;
            auto it = bitmaps.find(id);
            bitmapBytes -= it->second.bytes;
            std::erase_if(tinted, [id = id](const auto& t) { return t.first.first == id; });
            bitmaps.erase(it);
        }
        return bitmapBytes + bytes <= limits::kMaxDecodedBitmapBytes;
    }

    // Recoloured bitmaps: a tint or fade held over several frames costs one copy.
    std::map<std::pair<uint16_t, std::array<double, 8>>, SurfacePtr> tinted;

    cairo_surface_t* Tinted(uint16_t id, const ColorTransform& cx) {
        cairo_surface_t* source = Bitmap(id);
        if (!source) return nullptr;
        auto key = std::make_pair(id, std::array<double, 8>{cx.mr, cx.mg, cx.mb, cx.ma, cx.ar, cx.ag, cx.ab, cx.aa});
        auto it = tinted.find(key);
        if (it != tinted.end()) return it->second.get();
        // Copies count as decoded pictures too: a quarter of the bitmaps' budget at most.
        size_t held = 0;
        for (const auto& [k, copy] : tinted)
            held += size_t(cairo_image_surface_get_stride(copy.get())) * size_t(cairo_image_surface_get_height(copy.get()));
        const size_t adding = size_t(cairo_image_surface_get_stride(source)) * size_t(cairo_image_surface_get_height(source));
        if (tinted.size() >= 32 || held + adding > limits::kMaxDecodedBitmapBytes / 4) tinted.clear();
        return tinted.emplace(key, TransformedSurface(source, cx)).first->second.get();
    }

    BitmapDecodeResult DecodeSwfBitmap(const swf::Bitmap& bm) {
        switch (bm.kind) {
            case swf::BitmapKind::Jpeg: return DecodeJpeg(bm.data, dictionary.JpegTables());
            case swf::BitmapKind::Jpeg2: return DecodeEmbeddedImage(bm.data);
            case swf::BitmapKind::Jpeg3:
            case swf::BitmapKind::Jpeg4: {
                BitmapDecodeResult r = DecodeEmbeddedImage(bm.data);
                if (r.ok() && bm.image_format == swf::ImageFormat::Jpeg && !bm.alpha_data.empty())
                    ApplyAlphaPlane(r.bitmap, bm.alpha_data);
                return r;
            }
            case swf::BitmapKind::Lossless:
            case swf::BitmapKind::Lossless2:
                return DecodeLossless(static_cast<int>(bm.lossless_format), bm.width, bm.height,
                                      std::max(0, bm.color_table_size - 1), bm.data,
                                      bm.kind == swf::BitmapKind::Lossless2);
        }
        return {};
    }

    const Drawable& Glyph(const swf::Shape& g) {
        auto it = shapes.find(&g);
        if (it != shapes.end()) return it->second;
        return shapes.emplace(&g, MakeGlyphDrawable(g)).first->second;
    }

    const Drawable& ShapeOf(const swf::Shape& s) {
        auto it = shapes.find(&s);
        if (it != shapes.end()) return it->second;
        return shapes.emplace(&s, MakeDrawable(s)).first->second;
    }

    const Drawable& MorphOf(const swf::MorphShape& m, uint16_t ratio) {
        auto key = std::make_pair(static_cast<const void*>(&m), ratio);
        auto it = morphs.find(key);
        if (it != morphs.end()) return it->second;
        // Morph frames are seldom revisited; keep the cache bounded.
        if (morphs.size() > 512) morphs.clear();
        return morphs.emplace(key, MakeMorphDrawable(m, ratio)).first->second;
    }

    struct Box {
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        bool empty() const { return x0 > x1 || y0 > y1; }
        void add(double x, double y) {
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
        }
        void add(const swf::Rect& r, const Matrix& m) {
            for (double x : {double(r.x_min), double(r.x_max)})
                for (double y : {double(r.y_min), double(r.y_max)})
                    add(m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty);
        }
    };
    // Bounds of an object's content through `m`.
    void AddBounds(Box& box, const DisplayObject& obj, const Matrix& m);

    std::string LayerKey(const DisplayObject& obj, const Matrix& m, const ColorTransform& cx,
                         const std::array<int, 4>& rect, double filterScale) const {
        KeyWriter k;
        k.Add(obj.character);
        k.Add(obj.ratio);
        k.Add(obj.text.has_value());
        if (obj.text) k.Add(*obj.text);
        k.Add(std::array<double, 6>{m.a, m.b, m.c, m.d, m.tx, m.ty});
        k.Add(std::array<double, 8>{cx.mr, cx.mg, cx.mb, cx.ma, cx.ar, cx.ag, cx.ab, cx.aa});
        k.Add(rect);
        k.Add(std::array<double, 2>{filterScale, env.stage_scale});
        k.Add(antialias);
        k.Add(env.smoothing);
        k.Add(obj.filters.size());
        for (const swf::Filter& f : obj.filters) AddFilter(k, f);
        return k.Take();
    }

    // `from`: objects before it are already in the picture; before drawing object `snapshotAt`
    // (counted in the list's order), `snapshot` is called.
    void DrawList(Canvas& canvas, const DisplayList& list, const Matrix& m, const ColorTransform& cx, bool maskMode,
                  size_t from = 0, size_t snapshotAt = SIZE_MAX, const std::function<void()>& snapshot = {});
    void DrawObject(Canvas& canvas, const DisplayObject& obj, const Matrix& parent, const ColorTransform& parentCx,
                    bool maskMode);
    void DrawContent(Canvas& canvas, const DisplayObject& obj, const Matrix& m, const ColorTransform& cx,
                     bool maskMode);
    void DrawVideo(Canvas& canvas, const DisplayObject& obj, const swf::VideoStream& stream, const Matrix& m,
                   const ColorTransform& cx, const DrawEnv& e);
};

cairo_surface_t* Renderer::Impl::VideoPicture(const DisplayObject& obj, const swf::VideoStream& stream) {
    // Objects made outside a timeline have no instance number: their address stands in.
    VideoInstance& v = videos[obj.instance_id ? obj.instance_id : reinterpret_cast<uintptr_t>(&obj)];
    v.used = pass;
    if (!v.playback) v.playback = std::make_unique<video::VideoPlayback>(stream, dictionary.VideoFrames(stream.id));
    if (v.frame == obj.ratio && v.surface) return v.surface.get();
    const DecodedBitmap* picture = v.playback->PictureAt(obj.ratio);
    v.frame = obj.ratio;
    if (!picture || picture->empty()) {
        v.surface.reset();
        return nullptr;
    }
    v.surface = MakeSurface(*picture);
    return v.surface.get();
}

void Renderer::Impl::DrawVideo(Canvas& canvas, const DisplayObject& obj, const swf::VideoStream& stream,
                               const Matrix& m, const ColorTransform& cx, const DrawEnv& e) {
    if (stream.width == 0 || stream.height == 0 || !Invertible(m)) return;
    cairo_t* cr = canvas.cr;
    if (e.mask_mode) {
        cairo_matrix_t cm = m.toCairo();
        cairo_set_matrix(cr, &cm);
        cairo_rectangle(cr, 0, 0, stream.width * 20.0, stream.height * 20.0);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_fill(cr);
        cairo_identity_matrix(cr);
        return;
    }
    cairo_surface_t* picture = VideoPicture(obj, stream);
    if (!picture) return;
    SurfacePtr tinted;
    if (!cx.isIdentity() && !cx.onlyAlphaMultiply()) {
        tinted = TransformedSurface(picture, cx);
        if (!tinted) return;
        picture = tinted.get();
    }
    // The picture fills the stream's box whatever size it was coded at.
    int pw = cairo_image_surface_get_width(picture), ph = cairo_image_surface_get_height(picture);
    Matrix toPicture;
    toPicture.a = stream.width * 20.0 / pw;
    toPicture.d = stream.height * 20.0 / ph;
    Matrix full = m * toPicture;
    cairo_matrix_t cm = full.toCairo();
    cairo_set_matrix(cr, &cm);
    PatternPtr pattern(cairo_pattern_create_for_surface(picture));
    cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
    bool smooth = stream.smoothing && e.smoothing;
    cairo_pattern_set_filter(pattern.get(), smooth ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
    cairo_set_source(cr, pattern.get());
    cairo_rectangle(cr, 0, 0, pw, ph);
    if (cx.isIdentity() || !cx.onlyAlphaMultiply()) {
        cairo_fill(cr);
    } else {
        cairo_save(cr);
        cairo_clip(cr);
        cairo_paint_with_alpha(cr, std::clamp(cx.ma, 0.0, 1.0));
        cairo_restore(cr);
    }
    cairo_identity_matrix(cr);
}

void Renderer::Impl::DrawList(Canvas& canvas, const DisplayList& list, const Matrix& m, const ColorTransform& cx,
                              bool maskMode, size_t from, size_t snapshotAt, const std::function<void()>& snapshot) {
    struct ActiveMask {
        int32_t clipDepth;
        Canvas coverage;
        Canvas content;
    };
    std::vector<ActiveMask> masks;
    auto current = [&]() -> Canvas& { return masks.empty() ? canvas : masks.back().content; };
    auto finish = [&]() {
        ActiveMask mask = std::move(masks.back());
        masks.pop_back();
        Canvas& below = current();
        cairo_save(below.cr);
        cairo_identity_matrix(below.cr);
        cairo_set_source_surface(below.cr, mask.content.surface, 0, 0);
        cairo_mask_surface(below.cr, mask.coverage.surface, 0, 0);
        cairo_restore(below.cr);
    };
    size_t index = 0;
    for (const auto& [depth, object] : list) {
        const size_t at = index++;
        if (at == snapshotAt && snapshot) snapshot();
        if (at < from || !object) continue;
        while (!masks.empty() && depth > masks.back().clipDepth) finish();
        if (object->clip_depth > 0) {
            // Nothing outside the mask's own box can show: the layers cover only that.
            Box box;
            AddBounds(box, *object, m * ToMatrix(object->matrix));
            int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            if (!box.empty()) {
                x0 = std::clamp(int(std::floor(box.x0)) - 2, 0, width);
                y0 = std::clamp(int(std::floor(box.y0)) - 2, 0, height);
                x1 = std::clamp(int(std::ceil(box.x1)) + 2, 0, width);
                y1 = std::clamp(int(std::ceil(box.y1)) + 2, 0, height);
            }
            ActiveMask mask{object->clip_depth, Canvas::NewRegion(x0, y0, x1 - x0, y1 - y0, antialias),
                            Canvas::NewRegion(x0, y0, x1 - x0, y1 - y0, antialias)};
            DrawObject(mask.coverage, *object, m, cx, true);
            masks.push_back(std::move(mask));
            continue;
        }
        if (!object->visible) continue;
        DrawObject(current(), *object, m, cx, maskMode);
    }
    if (index == snapshotAt && snapshot) snapshot();
    while (!masks.empty()) finish();
}

void Renderer::Impl::AddBounds(Box& box, const DisplayObject& obj, const Matrix& m) {
    const Character* ch = obj.character;
    if (!ch) return;
    if (auto* shape = ch->As<swf::Shape>()) {
        box.add(shape->bounds, m);
    } else if (auto* morph = ch->As<swf::MorphShape>()) {
        box.add(morph->start_bounds, m);
        box.add(morph->end_bounds, m);
    } else if (auto* text = ch->As<swf::Text>()) {
        box.add(text->bounds, m);
    } else if (auto* edit = ch->As<swf::EditText>()) {
        box.add(edit->bounds, m);
    } else if (auto* bitmap = ch->As<swf::Bitmap>()) {
        if (cairo_surface_t* s = Bitmap(bitmap->id))
            box.add(swf::Rect{0, cairo_image_surface_get_width(s) * 20, 0, cairo_image_surface_get_height(s) * 20}, m);
    } else if (auto* stream = ch->As<swf::VideoStream>()) {
        box.add(swf::Rect{0, stream->width * 20, 0, stream->height * 20}, m);
    } else {
        if (obj.drawing && !obj.drawing->records.empty()) box.add(obj.drawing->bounds, m);
        if (obj.bitmap && obj.bitmap->width > 0) box.add(swf::Rect{0, obj.bitmap->width * 20, 0, obj.bitmap->height * 20}, m);
        for (const auto& [depth, child] : obj.children)
            if (child) AddBounds(box, *child, m * ToMatrix(child->matrix));
    }
}

void Renderer::Impl::DrawObject(Canvas& canvas, const DisplayObject& obj, const Matrix& parent,
                                const ColorTransform& parentCx, bool maskMode) {
    if (!obj.character) return;
    Matrix m = parent * ToMatrix(obj.matrix);
    if (!maskMode && obj.cache_as_bitmap) {
        // A cached object is drawn into a picture of its own that is shown
        // at whole pixels.
        m.tx = std::floor(m.tx + 0.5);
        m.ty = std::floor(m.ty + 0.5);
    }
    ColorTransform cx = maskMode ? parentCx : parentCx * ToColorTransform(obj.color_transform);
    if (obj.opaque_background && !maskMode) {
        // Drawn behind the object over its whole box, in whole pixels like
        // the cached picture it stands for.
        Box box;
        AddBounds(box, obj, m);
        if (!box.empty()) {
            Rgba c = cx.apply(ToRgba(*obj.opaque_background));
            c.a = 255;
            cairo_set_source_rgb(canvas.cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
            // The cached picture starts at the nearest whole pixel, halves to the even one as
            // the processor rounds, and is as many whole pixels as the box needs.
            double x0 = std::nearbyint(box.x0), y0 = std::nearbyint(box.y0);
            cairo_rectangle(canvas.cr, x0, y0, std::ceil(box.x1 - box.x0), std::ceil(box.y1 - box.y0));
            cairo_fill(canvas.cr);
        }
    }
    swf::BlendMode blend = obj.blend_mode;
    bool filtered = !obj.filters.empty() && !maskMode;
    if (maskMode || (blend == swf::BlendMode::Normal && !filtered)) {
        DrawContent(canvas, obj, m, cx, maskMode);
        return;
    }
    // Alpha and erase act on the layer of a parent; without one there is
    // nothing for them to act on and the object shows nothing.
    if ((blend == swf::BlendMode::Alpha || blend == swf::BlendMode::Erase) && layerDepth == 0) return;
    // Layer, and every mode that needs the object's own picture first. The
    // layer covers the object's box (grown by what its filters spread) where
    // it meets the canvas.
    double filterScale = env.stage_scale * 20;
    double margin = filtered ? FilterMargin(obj.filters, filterScale) : 0;
    Box box;
    AddBounds(box, obj, m);
    if (box.empty()) return;
    double ox = 0, oy = 0;
    cairo_surface_get_device_offset(canvas.surface, &ox, &oy);
    double cx0 = -ox - margin, cy0 = -oy - margin;
    double cx1 = cx0 + cairo_image_surface_get_width(canvas.surface) + 2 * margin;
    double cy1 = cy0 + cairo_image_surface_get_height(canvas.surface) + 2 * margin;
    int x0 = int(std::floor(std::clamp(box.x0 - margin - 2, cx0, cx1)));
    int y0 = int(std::floor(std::clamp(box.y0 - margin - 2, cy0, cy1)));
    int x1 = int(std::ceil(std::clamp(box.x1 + margin + 2, cx0, cx1)));
    int y1 = int(std::ceil(std::clamp(box.y1 + margin + 2, cy0, cy1)));
    if (x1 <= x0 || y1 <= y0) return;
    std::string key;
    const Character& c = *obj.character;
    if (filtered && (c.As<swf::Shape>() || c.As<swf::MorphShape>() || c.As<swf::Text>() || c.As<swf::EditText>() ||
                     c.As<swf::Bitmap>())) {
        key = LayerKey(obj, m, cx, {x0, y0, x1, y1}, filterScale);
        auto it = filteredLayers.find(&obj);
        if (it != filteredLayers.end() && it->second.key == key) {
            it->second.used = pass;
            Composite(canvas, it->second.surface.get(), blend);
            return;
        }
    }
    Canvas layer = Canvas::NewRegion(x0, y0, x1 - x0, y1 - y0, antialias);
    ++layerDepth;
    DrawContent(layer, obj, m, cx, false);
    --layerDepth;
    if (filtered) ApplyFilters(layer.surface, obj.filters, filterScale);
    Composite(canvas, layer.surface, blend);
    if (!key.empty()) {
        filteredLayers.erase(&obj);
        if (FilteredPixels() + int64_t(x1 - x0) * (y1 - y0) <= kMaxFilteredPixels)
            filteredLayers[&obj] = {std::move(key), SurfacePtr(cairo_surface_reference(layer.surface)), pass};
    }
}

// A script's pixels (attachBitmap), one pixel to 20 twips of the clip.
static void DrawScriptBitmap(cairo_t* cr, const DisplayObject& obj, const Matrix& m, const ColorTransform& cx,
                             const DrawEnv& e) {
    const ScriptBitmap& b = *obj.bitmap;
    if (b.width <= 0 || b.height <= 0 || b.pixels.size() != size_t(b.width) * size_t(b.height) || !Invertible(m))
        return;
    Matrix toPixels;
    toPixels.a = toPixels.d = 20.0;
    cairo_matrix_t cm = (m * toPixels).toCairo();
    cairo_set_matrix(cr, &cm);
    cairo_rectangle(cr, 0, 0, b.width, b.height);
    if (e.mask_mode) {
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_fill(cr);
        cairo_identity_matrix(cr);
        return;
    }
    // Cairo only reads a surface used as a source.
    SurfacePtr picture(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(b.pixels.data())), CAIRO_FORMAT_ARGB32, b.width,
        b.height, b.width * 4));
    SurfacePtr tinted;
    cairo_surface_t* source = picture.get();
    if (!cx.isIdentity()) {
        tinted = TransformedSurface(source, cx);
        if (tinted) source = tinted.get();
    }
    PatternPtr pattern(cairo_pattern_create_for_surface(source));
    cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern.get(), obj.bitmap_smoothing && e.smoothing ? CAIRO_FILTER_BILINEAR
                                                                                 : CAIRO_FILTER_NEAREST);
    cairo_set_source(cr, pattern.get());
    cairo_fill(cr);
    cairo_identity_matrix(cr);
}

void Renderer::Impl::DrawContent(Canvas& canvas, const DisplayObject& obj, const Matrix& m,
                                 const ColorTransform& cx, bool maskMode) {
    const Character& ch = *obj.character;
    DrawEnv e = env;
    e.mask_mode = maskMode;
    if (auto* shape = ch.As<swf::Shape>()) {
        DrawDrawable(canvas.cr, ShapeOf(*shape), m, cx, e);
    } else if (auto* morph = ch.As<swf::MorphShape>()) {
        DrawDrawable(canvas.cr, MorphOf(*morph, obj.ratio), m, cx, e);
    } else if (auto* text = ch.As<swf::Text>()) {
        this->text.DrawStatic(canvas.cr, *text, dictionary, m, cx, e);
    } else if (auto* edit = ch.As<swf::EditText>()) {
        this->text.DrawEdit(canvas.cr, *edit, obj.text, dictionary, m, cx, e);
    } else if (auto* bitmap = ch.As<swf::Bitmap>()) {
        cairo_surface_t* s = Bitmap(bitmap->id);
        if (s && Invertible(m)) {
            swf::FillStyle fill;
            fill.type = swf::FillType::ClippedBitmap;
            fill.bitmap_id = bitmap->id;
            fill.matrix.a = fill.matrix.d = 20;
            cairo_matrix_t cm = m.toCairo();
            cairo_set_matrix(canvas.cr, &cm);
            if (SetFillSource(canvas.cr, fill, cx, e)) {
                cairo_rectangle(canvas.cr, 0, 0, cairo_image_surface_get_width(s) * 20.0,
                                cairo_image_surface_get_height(s) * 20.0);
                cairo_fill(canvas.cr);
            }
            cairo_identity_matrix(canvas.cr);
        }
    } else if (auto* stream = ch.As<swf::VideoStream>()) {
        DrawVideo(canvas, obj, *stream, m, cx, e);
    } else {
        if (obj.bitmap) DrawScriptBitmap(canvas.cr, obj, m, cx, e);
        if (obj.drawing) DrawDynamicShape(canvas.cr, *obj.drawing, m, cx, e);
        if (!obj.children.empty() && nesting < kMaxNesting) {
            // A runaway tree (a clip inside itself, again and again) stops here.
            ++nesting;
            DrawList(canvas, obj.children, m, cx, maskMode);
            --nesting;
        }
    }
}

namespace {

// A canvas over the target's own pixels, cut to `clip`.
struct TargetCanvas {
    SurfacePtr surface;
    Canvas canvas;
    bool ok = false;
    TargetCanvas(const RenderTarget& target, const std::array<int, 4>* clip, cairo_antialias_t aa) {
        if (!target.pixels || target.width <= 0 || target.height <= 0) return;
        surface.reset(cairo_image_surface_create_for_data(target.pixels, CAIRO_FORMAT_ARGB32, target.width,
                                                          target.height, target.stride));
        if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
        canvas = Canvas::Over(surface.get(), aa);
        if (clip) {
            cairo_rectangle(canvas.cr, (*clip)[0], (*clip)[1], std::max(0, (*clip)[2]), std::max(0, (*clip)[3]));
            cairo_clip(canvas.cr);
        }
        ok = true;
    }
    ~TargetCanvas() {
        if (ok) cairo_surface_flush(surface.get());
    }
};

}  // namespace

void Renderer::DrawInto(const DisplayObject& object, const swf::Matrix& matrix, const swf::ColorTransform& color,
                        const RenderTarget& target, const std::array<int, 4>* clip) {
    Impl& d = *impl_;
    TargetCanvas t(target, clip, d.antialias);
    if (!t.ok || !object.character) return;
    d.width = target.width;
    d.height = target.height;
    // Filter sizes are in the target's pixels: one pixel is 20 twips.
    d.env.stage_scale = 1 / 20.0;
    ++d.pass;
    d.DrawContent(t.canvas, object, ToMatrix(matrix), ToColorTransform(color), false);
}

void Renderer::DrawInto(const ScriptBitmap& pixels, const swf::Matrix& matrix, const swf::ColorTransform& color,
                        const RenderTarget& target, const std::array<int, 4>* clip, bool smoothing) {
    Impl& d = *impl_;
    TargetCanvas t(target, clip, d.antialias);
    if (!t.ok) return;
    // Shown as an attached bitmap is, whose pixel is 20 twips.
    DisplayObject holder;
    holder.bitmap = std::shared_ptr<const ScriptBitmap>(&pixels, [](const ScriptBitmap*) {});
    holder.bitmap_smoothing = smoothing;
    Matrix m = ToMatrix(matrix);
    m.a /= 20, m.b /= 20, m.c /= 20, m.d /= 20;
    DrawScriptBitmap(t.canvas.cr, holder, m, ToColorTransform(color), d.env);
}

Renderer::Renderer(const Dictionary& dictionary, uint8_t movie_version)
    : impl_(std::make_unique<Impl>(dictionary, movie_version)) {}

Renderer::~Renderer() = default;

void Renderer::SetLogSink(std::function<void(std::string_view)> sink) { impl_->log = std::move(sink); }

void Renderer::SetQuality(Quality quality) {
    impl_->antialias = quality == Quality::Low ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_DEFAULT;
    impl_->env.smoothing = quality != Quality::Low;
}

void Renderer::ClearCaches() {
    impl_->shapes.clear();
    impl_->morphs.clear();
    impl_->bitmaps.clear();
    impl_->bitmapBytes = 0;
    impl_->tinted.clear();
    impl_->videos.clear();
    impl_->filteredLayers.clear();
    impl_->prefix = {};
    impl_->lastLooks.clear();
    impl_->lastCommon = 0;
}

void Renderer::Render(const DisplayList& root, const swf::Rect& stage, swf::Rgba background,
                      const RenderTarget& target, ScaleMode mode) {
    RenderTree(root, nullptr, stage, background, target, mode);
}

void Renderer::Render(const DisplayObject& root, const swf::Rect& stage, swf::Rgba background,
                      const RenderTarget& target, ScaleMode mode) {
    RenderTree(root.children, &root, stage, background, target, mode);
}

void Renderer::RenderTree(const DisplayList& list, const DisplayObject* root, const swf::Rect& stage,
                          swf::Rgba background, const RenderTarget& target, ScaleMode mode) {
    if (!target.pixels || target.width <= 0 || target.height <= 0) return;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(target.pixels, CAIRO_FORMAT_ARGB32, target.width,
                                                                   target.height, target.stride);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    impl_->width = target.width;
    impl_->height = target.height;
    Matrix toDevice = ToMatrix(StageTransform(stage, target.width, target.height, mode));
    impl_->env.stage_scale = std::fabs(toDevice.a);
    {
        Impl& d = *impl_;
        Matrix m = toDevice;
        ColorTransform cx{};
        if (root) {
            m = toDevice * ToMatrix(root->matrix);
            cx = ToColorTransform(root->color_transform);
        }
        const bool shown = !root || root->visible;
        // What the lowest objects look like; a mask at this level ends them, as its content
        // is drawn apart and joins the picture only after the masked objects.
        KeyWriter setting;
        setting.Add(std::array<int, 2>{target.width, target.height});
        setting.Add(std::array<int32_t, 4>{stage.x_min, stage.x_max, stage.y_min, stage.y_max});
        setting.Add(std::array<uint8_t, 4>{background.r, background.g, background.b, background.a});
        setting.Add(mode);
        setting.Add(d.antialias);
        setting.Add(d.env.smoothing);
        setting.Add(std::array<double, 6>{m.a, m.b, m.c, m.d, m.tx, m.ty});
        setting.Add(std::array<double, 8>{cx.mr, cx.mg, cx.mb, cx.ma, cx.ar, cx.ag, cx.ab, cx.aa});
        const std::string settingKey = setting.Take();
        std::vector<std::string> looks;
        if (shown && !(root && root->drawing)) {
            for (const auto& [depth, object] : list) {
                if (object && object->clip_depth > 0) break;
                KeyWriter look;
                if (!AddLook(look, object.get(), Impl::kMaxNesting)) break;
                looks.push_back(look.Take());
            }
        }
        size_t common = 0;
        while (common < looks.size() && common < d.lastLooks.size() && looks[common] == d.lastLooks[common]) ++common;
        const size_t stable = std::min(common, d.lastCommon);
        const size_t kept = d.prefix.looks.size();
        const bool reuse = kept > 0 && d.prefix.setting == settingKey && kept <= looks.size() &&
                           std::equal(d.prefix.looks.begin(), d.prefix.looks.end(), looks.begin());
        const size_t rowBytes = size_t(target.width) * 4;
        if (reuse) {
            for (int y = 0; y < target.height; ++y)
                std::memcpy(target.pixels + size_t(y) * size_t(target.stride), d.prefix.pixels.data() + size_t(y) * rowBytes,
                            rowBytes);
            cairo_surface_mark_dirty(surface);
        } else {
            d.prefix.looks.clear();
        }
        const size_t from = reuse ? kept : 0;
        Canvas canvas = Canvas::Over(surface, d.antialias);
        if (!reuse) {
            cairo_set_operator(canvas.cr, CAIRO_OPERATOR_SOURCE);
            cairo_set_source_rgba(canvas.cr, background.r / 255.0, background.g / 255.0, background.b / 255.0,
                                  background.a / 255.0);
            cairo_paint(canvas.cr);
            cairo_set_operator(canvas.cr, CAIRO_OPERATOR_OVER);
        }
        ++d.pass;
        // Objects that stayed over three frames join the kept picture.
        const size_t snapshotAt = stable > from ? stable : SIZE_MAX;
        auto snapshot = [&] {
            cairo_surface_flush(surface);
            d.prefix.pixels.resize(rowBytes * size_t(target.height));
            for (int y = 0; y < target.height; ++y)
                std::memcpy(d.prefix.pixels.data() + size_t(y) * rowBytes, target.pixels + size_t(y) * size_t(target.stride),
                            rowBytes);
            d.prefix.setting = settingKey;
            d.prefix.looks.assign(looks.begin(), looks.begin() + ptrdiff_t(stable));
        };
        if (shown) {
            if (root && root->drawing) DrawDynamicShape(canvas.cr, *root->drawing, m, cx, d.env);
            d.DrawList(canvas, list, m, cx, false, from, snapshotAt, snapshot);
        }
        // The movies loaded into levels above the main movie, over it.
        if (root && root->upper_levels && !root->upper_levels->empty())
            d.DrawList(canvas, *root->upper_levels, toDevice, ColorTransform{}, false);
        d.lastLooks = std::move(looks);
        d.lastCommon = common;
    }
    // Videos no longer on the stage let their decoders go.
    std::erase_if(impl_->videos, [&](const auto& entry) { return entry.second.used != impl_->pass; });
    std::erase_if(impl_->filteredLayers, [&](const auto& entry) { return entry.second.used != impl_->pass; });
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
}

}  // namespace qm::flash
