// flash.display.BitmapData: pixels a script makes and edits, and
// MovieClip.attachBitmap, which shows them.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "flash/avm1/filters.h"
#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"
#include "flash/player.h"
#include "flash/render/render.h"

namespace qm::flash::avm1 {

namespace {
Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

ObjRef SelfObj(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o ? *o : nullptr;
}

// A live bitmap; a disposed one keeps an empty ScriptBitmap.
ScriptBitmap* Bits(const Value& v) {
    ObjRef o = SelfObj(v);
    return o && o->bitmap && o->bitmap->width > 0 ? o->bitmap.get() : nullptr;
}
bool Disposed(const Value& v) {
    ObjRef o = SelfObj(v);
    return o && o->bitmap && o->bitmap->width == 0;
}

// The player's answer to a call it cannot carry out (too few arguments, a
// disposed bitmap, a rectangle without its fields).
const Value kFailed = -1.0;

uint32_t Premultiply(uint32_t c) {
    uint32_t a = c >> 24;
    if (a == 255) return c;
    if (a == 0) return 0;
    auto m = [a](uint32_t v) { return (v * a + 127) / 255; };
    return a << 24 | m((c >> 16) & 255) << 16 | m((c >> 8) & 255) << 8 | m(c & 255);
}

uint32_t Unmultiply(uint32_t p) {
    uint32_t a = p >> 24;
    if (a == 255) return p;
    if (a == 0) return 0;
    // Rounded, halves down.
    auto u = [a](uint32_t v) { return std::min<uint32_t>(255, (v * 255 + (a - 1) / 2) / a); };
    return a << 24 | u((p >> 16) & 255) << 16 | u((p >> 8) & 255) << 8 | u(p & 255);
}

// A colour as the bitmap stores it: opaque bitmaps drop the alpha.
uint32_t Stored(const ScriptBitmap& b, uint32_t argb) {
    return b.transparent ? Premultiply(argb) : (argb | 0xFF000000u);
}

// An opaque bitmap's word is given as stored: only threshold() leaves an alpha below 255 there.
uint32_t Read(const ScriptBitmap& b, int32_t x, int32_t y) {
    uint32_t p = b.pixels[size_t(y) * size_t(b.width) + size_t(x)];
    return b.transparent ? Unmultiply(p) : p;
}
void Write(ScriptBitmap& b, int32_t x, int32_t y, uint32_t argb) {
    b.pixels[size_t(y) * size_t(b.width) + size_t(x)] = Stored(b, argb);
}
bool Inside(const ScriptBitmap& b, int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < b.width && y < b.height; }

struct Box {
    int32_t x = 0, y = 0, w = 0, h = 0;
};

int32_t Whole(Interpreter& in, const Value& v) {
    double d = in.ToNumber(v);
    if (!std::isfinite(d)) return 0;
    return int32_t(std::clamp(std::floor(d), -1e9, 1e9));
}

// x, y, width and height of a rectangle or of any object that has them all.
bool ReadBox(Interpreter& in, const Value& v, Box& box) {
    ObjRef o = SelfObj(v);
    if (!o) return false;
    Value f[4];
    const char* names[] = {"x", "y", "width", "height"};
    for (int i = 0; i < 4; ++i) {
        f[i] = in.Get(v, names[i]);
        if (std::holds_alternative<Undefined>(f[i])) return false;
    }
    box = {Whole(in, f[0]), Whole(in, f[1]), Whole(in, f[2]), Whole(in, f[3])};
    return true;
}

bool ReadPoint(Interpreter& in, const Value& v, int32_t& x, int32_t& y) {
    if (!SelfObj(v)) return false;
    Value vx = in.Get(v, "x"), vy = in.Get(v, "y");
    if (std::holds_alternative<Undefined>(vx) || std::holds_alternative<Undefined>(vy)) return false;
    x = Whole(in, vx);
    y = Whole(in, vy);
    return true;
}

// `box` cut to the bitmap; false when nothing is left.
bool Clip(const ScriptBitmap& b, Box& box) {
    int32_t x0 = std::max(box.x, 0), y0 = std::max(box.y, 0);
    int64_t x1 = std::min<int64_t>(int64_t(box.x) + box.w, b.width), y1 = std::min<int64_t>(int64_t(box.y) + box.h, b.height);
    if (x1 <= x0 || y1 <= y0) return false;
    box = {x0, y0, int32_t(x1 - x0), int32_t(y1 - y0)};
    return true;
}

// The part of `src` (a box of the source) that lands inside both bitmaps when its corner is put at
// (dx, dy) of the destination; the source box and the destination corner are moved alike.
bool ClipCopy(const ScriptBitmap& src, const ScriptBitmap& dst, Box& s, int32_t& dx, int32_t& dy) {
    int32_t x0 = s.x, y0 = s.y;
    if (!Clip(src, s)) return false;
    dx += s.x - x0;
    dy += s.y - y0;
    Box d{dx, dy, s.w, s.h};
    int32_t dx0 = d.x, dy0 = d.y;
    if (!Clip(dst, d)) return false;
    s.x += d.x - dx0;
    s.y += d.y - dy0;
    s.w = d.w;
    s.h = d.h;
    dx = d.x;
    dy = d.y;
    return true;
}

// The source bitmap, its box and the corner in the destination taken by copyChannel, merge and
// threshold: 0 when usable, else the player's answer (-2 no bitmap, -3 a disposed one, -4 no
// box). A corner without its fields is (0, 0).
double SourceArgs(Interpreter& in, std::vector<Value>& args, ScriptBitmap*& src, Box& s, int32_t& dx, int32_t& dy) {
    src = Bits(args[0]);
    if (!src) return Disposed(args[0]) ? -3.0 : -2.0;
    if (!ReadBox(in, args[1], s)) return -4.0;
    if (!ReadPoint(in, args[2], dx, dy)) dx = dy = 0;
    return 0.0;
}

// Colour transform terms of a ColorTransform object (kept beside it).
const std::vector<Value>* ColorTerms(const Value& v) {
    ObjRef o = SelfObj(v);
    if (!o || o->kind != Kind::Plain || o->elems.size() != 8 || o->bitmap) return nullptr;
    return &o->elems;
}

// The generator of noise(): the minimal standard one, so a seed gives the reference player's pixels.
struct ParkMiller {
    uint32_t state;
    // A seed of zero or below starts at 1 - seed.
    explicit ParkMiller(int32_t seed) {
        int64_t s = seed > 0 ? int64_t(seed) : 1 - int64_t(seed);
        s %= 2147483647;
        state = s == 0 ? 1 : uint32_t(s);
    }
    uint32_t Next() {
        state = uint32_t(uint64_t(state) * 16807 % 2147483647);
        return state;
    }
};

int Channel(uint32_t c, int shift) { return int((c >> shift) & 255); }

}  // namespace

void Interpreter::InstallBitmapData() {
    if (!flash_package_) return;
    ObjRef display = NewObject();
    Define(flash_package_, "display", display, kDontEnum);
    ObjRef proto = NewObject();
    std::weak_ptr<Object> proto_weak = proto;

    const int32_t kMaxSide9 = 2880, kMaxSide10 = 8191, kMaxPixels10 = 16777215;
    ObjRef ctor = DefineClass("BitmapData", [=](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef o = SelfObj(self);
        if (!o || args.size() < 2) return Undefined{};
        double w = in.ToNumber(args[0]), h = in.ToNumber(args[1]);
        if (!std::isfinite(w) || !std::isfinite(h)) return Undefined{};
        int64_t iw = int64_t(w), ih = int64_t(h);
        if (iw <= 0 || ih <= 0) return Undefined{};
        if (in.version() >= 10 ? (iw > kMaxSide10 || ih > kMaxSide10 || iw * ih > kMaxPixels10)
                               : (iw > kMaxSide9 || ih > kMaxSide9))
            return Undefined{};
        auto b = std::make_shared<ScriptBitmap>();
        b->width = int32_t(iw);
        b->height = int32_t(ih);
        b->transparent = args.size() < 3 || in.ToBoolean(args[2]);
        uint32_t fill = args.size() < 4 ? 0xFFFFFFFFu : uint32_t(in.ToInt32(args[3]));
        b->pixels.assign(size_t(iw * ih), Stored(*b, fill));
        o->bitmap = std::move(b);
        return self;
    }, proto, true, display);
    // The channel numbers copyChannel takes; plain properties the script may change.
    const std::pair<const char*, double> channels[] = {
        {"RED_CHANNEL", 1}, {"GREEN_CHANNEL", 2}, {"BLUE_CHANNEL", 4}, {"ALPHA_CHANNEL", 8}};
    for (const auto& [name, value] : channels) Define(ctor, name, value, 0);
    std::weak_ptr<Object> ctor_weak = ctor;
    // A new BitmapData object holding `b`.
    auto wrap = [proto_weak, ctor_weak](Interpreter& in, std::shared_ptr<ScriptBitmap> b) -> Value {
        ObjRef o = in.NewObject(proto_weak.lock());
        in.Define(o, "__constructor__", ctor_weak.lock(), kDontEnum);
        o->bitmap = std::move(b);
        return o;
    };
    auto rect = [this](Interpreter& in, double x, double y, double w, double h) -> Value {
        Value geom = in.GetOf(flash_package_, "geom", flash_package_);
        return in.Construct(in.Get(geom, "Rectangle"), {x, y, w, h});
    };

    // Width, height, transparency and the box: -1 once disposed.
    Accessor(proto, "width", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        ScriptBitmap* b = Bits(self);
        return b ? Value(double(b->width)) : kFailed;
    });
    Accessor(proto, "height", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        ScriptBitmap* b = Bits(self);
        return b ? Value(double(b->height)) : kFailed;
    });
    Accessor(proto, "transparent", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        ScriptBitmap* b = Bits(self);
        return b ? Value(b->transparent) : kFailed;
    });
    Accessor(proto, "rectangle", [rect](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ScriptBitmap* b = Bits(self);
        return b ? rect(in, 0, 0, b->width, b->height) : kFailed;
    });
    for (auto& p : proto->props)
        if (p.name != "constructor") p.flags &= uint16_t(~kDontEnum);

    Method(proto, "getPixel", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 2) return kFailed;
        int32_t x = Whole(in, args[0]), y = Whole(in, args[1]);
        return Inside(*b, x, y) ? double(Read(*b, x, y) & 0xFFFFFF) : 0.0;
    });
    Method(proto, "getPixel32", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 2) return kFailed;
        int32_t x = Whole(in, args[0]), y = Whole(in, args[1]);
        return Inside(*b, x, y) ? double(int32_t(Read(*b, x, y))) : 0.0;
    });
    Method(proto, "setPixel", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 3) return kFailed;
        int32_t x = Whole(in, args[0]), y = Whole(in, args[1]);
        uint32_t c = uint32_t(in.ToInt32(args[2]));
        // The pixel keeps its alpha.
        if (Inside(*b, x, y)) Write(*b, x, y, (Read(*b, x, y) & 0xFF000000u) | (c & 0xFFFFFF));
        return 0.0;
    });
    Method(proto, "setPixel32", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 3) return kFailed;
        int32_t x = Whole(in, args[0]), y = Whole(in, args[1]);
        if (Inside(*b, x, y)) Write(*b, x, y, uint32_t(in.ToInt32(args[2])));
        return 0.0;
    });
    Method(proto, "fillRect", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        Box box;
        if (!b || args.size() < 2 || !ReadBox(in, args[0], box)) return kFailed;
        uint32_t c = Stored(*b, uint32_t(in.ToInt32(args[1])));
        if (Clip(*b, box))
            for (int32_t y = box.y; y < box.y + box.h; ++y)
                std::fill_n(b->pixels.begin() + ptrdiff_t(size_t(y) * size_t(b->width) + size_t(box.x)), box.w, c);
        return 0.0;
    });
    Method(proto, "clone", [wrap](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b) return kFailed;
        return wrap(in, std::make_shared<ScriptBitmap>(*b));
    });
    Method(proto, "dispose", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        ObjRef o = SelfObj(self);
        if (!Bits(self)) return kFailed;
        // Clips showing it show nothing from now on.
        *o->bitmap = ScriptBitmap{};
        return 0.0;
    });
    Method(proto, "floodFill", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 3) return kFailed;
        int32_t x = Whole(in, args[0]), y = Whole(in, args[1]);
        if (!Inside(*b, x, y)) return 0.0;
        uint32_t c = Stored(*b, uint32_t(in.ToInt32(args[2])));
        uint32_t target = b->pixels[size_t(y) * size_t(b->width) + size_t(x)];
        if (target == c) return 0.0;
        // 1: something was filled.
        // Four-way, with a list instead of recursion so a large area cannot exhaust the stack.
        std::vector<std::pair<int32_t, int32_t>> todo{{x, y}};
        while (!todo.empty()) {
            auto [px, py] = todo.back();
            todo.pop_back();
            if (!Inside(*b, px, py)) continue;
            uint32_t& p = b->pixels[size_t(py) * size_t(b->width) + size_t(px)];
            if (p != target) continue;
            p = c;
            todo.insert(todo.end(), {{px + 1, py}, {px - 1, py}, {px, py + 1}, {px, py - 1}});
        }
        return 1.0;
    });
    Method(proto, "noise", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.empty()) return kFailed;
        ParkMiller rng(in.ToInt32(args[0]));
        int low = args.size() > 1 ? std::clamp(in.ToInt32(args[1]), 0, 255) : 0;
        int high = args.size() > 2 ? std::clamp(in.ToInt32(args[2]), 0, 255) : 255;
        int channels = args.size() > 3 ? in.ToInt32(args[3]) : 7;
        bool gray = args.size() > 4 && in.ToBoolean(args[4]);
        uint32_t span = uint32_t(std::max(high - low + 1, 1));
        auto next = [&] { return uint32_t(low) + rng.Next() % span; };
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) {
                uint32_t r = 0, g = 0, bl = 0, a = 255;
                if (gray) {
                    r = g = bl = next();
                } else {
                    if (channels & 1) r = next();
                    if (channels & 2) g = next();
                    if (channels & 4) bl = next();
                }
                if (channels & 8) a = next();
                Write(*b, x, y, a << 24 | r << 16 | g << 8 | bl);
            }
        return 0.0;
    });
    Method(proto, "colorTransform", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        Box box;
        if (!b || args.size() < 2) return kFailed;
        // Which argument was refused: -2 the first, -3 the second.
        if (!ReadBox(in, args[0], box)) return -2.0;
        const std::vector<Value>* t = ColorTerms(args[1]);
        if (!t) return -3.0;
        double k[8];
        for (int i = 0; i < 8; ++i) k[i] = in.ToNumber((*t)[size_t(i)]);
        // The reference player answers -1 even when it did the work.
        if (!Clip(*b, box)) return kFailed;
        auto term = [&](int v, int i) {
            double r = std::floor(v * k[i] + k[i + 4]);
            return uint32_t(std::isfinite(r) ? std::clamp(r, 0.0, 255.0) : 0.0);
        };
        for (int32_t y = box.y; y < box.y + box.h; ++y)
            for (int32_t x = box.x; x < box.x + box.w; ++x) {
                uint32_t c = Read(*b, x, y);
                Write(*b, x, y, term(Channel(c, 24), 3) << 24 | term(Channel(c, 16), 0) << 16 |
                                    term(Channel(c, 8), 1) << 8 | term(Channel(c, 0), 2));
            }
        return kFailed;
    });
    Method(proto, "getColorBoundsRect", [rect](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 2) return kFailed;
        uint32_t mask = uint32_t(in.ToInt32(args[0])), color = uint32_t(in.ToInt32(args[1]));
        bool find = args.size() < 3 || in.ToBoolean(args[2]);
        int32_t x0 = b->width, y0 = b->height, x1 = -1, y1 = -1;
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x)
                // Compared with the stored, premultiplied word, as the reference player does.
                if (((b->pixels[size_t(y) * size_t(b->width) + size_t(x)] & mask) == (color & mask)) == find) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y);
                    x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
        // The reference player reports a lone match in the corner as no match at all.
        if (x1 <= 0 && y1 <= 0) return rect(in, 0, 0, 0, 0);
        return rect(in, x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    });
    Method(proto, "scroll", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.size() < 2) return kFailed;
        int32_t dx = Whole(in, args[0]), dy = Whole(in, args[1]);
        Box s{0, 0, b->width, b->height};
        int32_t tx = dx, ty = dy;
        if (!ClipCopy(*b, *b, s, tx, ty)) return 0.0;
        // What is uncovered keeps its old pixels.
        std::vector<uint32_t> old = b->pixels;
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x)
                b->pixels[size_t(ty + y) * size_t(b->width) + size_t(tx + x)] =
                    old[size_t(s.y + y) * size_t(b->width) + size_t(s.x + x)];
        return 0.0;
    });
    Method(proto, "copyPixels", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        ScriptBitmap* src = Bits(Arg(args, 0));
        Box s;
        int32_t dx = 0, dy = 0;
        if (!b || args.size() < 3 || !src || !ReadBox(in, args[1], s) || !ReadPoint(in, args[2], dx, dy))
            return kFailed;
        ScriptBitmap* alpha = Bits(Arg(args, 3));
        int32_t ax = 0, ay = 0;
        if (alpha && !ReadPoint(in, Arg(args, 4), ax, ay)) ax = ay = 0;
        bool merge = args.size() > 5 && in.ToBoolean(args[5]);
        if (!ClipCopy(*src, *b, s, dx, dy)) return 0.0;
        std::vector<uint32_t> from = src->pixels;  // the source may be this bitmap
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x) {
                uint32_t p = from[size_t(s.y + y) * size_t(src->width) + size_t(s.x + x)];
                if (!src->transparent) p |= 0xFF000000u;
                if (alpha) {
                    // The source's alpha times the alpha bitmap's, over the same area.
                    int32_t px = ax + x, py = ay + y;
                    uint32_t k = Inside(*alpha, px, py) ? alpha->pixels[size_t(py) * size_t(alpha->width) + size_t(px)] >> 24 : 0;
                    auto mul = [k](uint32_t v) { return (v * k + 127) / 255; };
                    p = mul(p >> 24) << 24 | mul((p >> 16) & 255) << 16 | mul((p >> 8) & 255) << 8 | mul(p & 255);
                }
                uint32_t& d = b->pixels[size_t(dy + y) * size_t(b->width) + size_t(dx + x)];
                if (merge || !b->transparent) {
                    if (!merge) {
                        d = Unmultiply(p) | 0xFF000000u;
                        continue;
                    }
                    // Source over destination, premultiplied.
                    uint32_t ia = 255 - (p >> 24);
                    auto over = [&](int shift) {
                        return std::min<uint32_t>(255, ((p >> shift) & 255) + (((d >> shift) & 255) * ia + 127) / 255);
                    };
                    d = over(24) << 24 | over(16) << 16 | over(8) << 8 | over(0);
                    if (!b->transparent) d |= 0xFF000000u;
                } else {
                    d = p;
                }
            }
        return 0.0;
    });
    Method(proto, "copyChannel", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        ScriptBitmap* src = nullptr;
        Box s;
        int32_t dx = 0, dy = 0;
        if (!b || args.size() < 5) return kFailed;
        if (double refused = SourceArgs(in, args, src, s, dx, dy)) return refused;
        auto shift_of = [](int32_t channel) {
            switch (channel) {
            case 1: return 16;
            case 2: return 8;
            case 4: return 0;
            case 8: return 24;
            default: return -1;
            }
        };
        // Done or not, the reference player answers -1.
        int from_shift = shift_of(in.ToInt32(args[3])), to_shift = shift_of(in.ToInt32(args[4]));
        if (to_shift < 0) return kFailed;
        if (!ClipCopy(*src, *b, s, dx, dy)) return kFailed;
        ScriptBitmap copy = *src;
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x) {
                // A source that names no single channel gives zeros.
                uint32_t v = from_shift < 0 ? 0 : (Read(copy, s.x + x, s.y + y) >> from_shift) & 255;
                uint32_t d = Read(*b, dx + x, dy + y);
                d = (d & ~(255u << to_shift)) | v << to_shift;
                Write(*b, dx + x, dy + y, d);
            }
        return kFailed;
    });
    // draw(source[, matrix, colorTransform, blendMode, clipRect, smoothing]): a clip's content
    // (its own place and colour left out) or another bitmap's pixels drawn over these pixels.
    Method(proto, "draw", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b) return kFailed;
        if (!in.env()) return Undefined{};
        ScriptBitmap* pixels = Bits(Arg(args, 0));
        ObjRef source = SelfObj(Arg(args, 0));
        if (!pixels && (!source || !in.ClipOf(source))) return Undefined{};
        swf::Matrix matrix;
        if (SelfObj(Arg(args, 1))) {
            double m[6];
            const char* names[] = {"a", "b", "c", "d", "tx", "ty"};
            for (int i = 0; i < 6; ++i) {
                m[i] = in.ToNumber(in.Get(args[1], names[i]));
                if (!std::isfinite(m[i])) m[i] = 0;
            }
            matrix = {m[0], m[1], m[2], m[3], m[4], m[5]};
        }
        swf::ColorTransform color;
        if (const std::vector<Value>* t = ColorTerms(Arg(args, 2))) {
            auto term = [&](int i, double scale) {
                double v = in.ToNumber((*t)[size_t(i)]) * scale;
                return int16_t(std::isfinite(v) ? std::clamp(std::round(v), -32768.0, 32767.0) : 0.0);
            };
            color = {term(0, 256), term(1, 256), term(2, 256), term(3, 256), term(4, 1), term(5, 1), term(6, 1), term(7, 1)};
        }
        Box clip;
        const bool clipped = ReadBox(in, Arg(args, 4), clip);
        const std::array<int, 4> clipBox{clip.x, clip.y, clip.w, clip.h};
        const bool smoothing = in.ToBoolean(Arg(args, 5));
        // The bitmap's premultiplied words are the renderer's own pixel layout.
        RenderTarget target{reinterpret_cast<uint8_t*>(b->pixels.data()), b->width, b->height, b->width * 4};
        Renderer renderer(in.env()->Characters(), in.env()->MovieVersion());
        if (pixels) {
            // A copy: the bitmap may be drawn into itself.
            const ScriptBitmap from = *pixels;
            renderer.DrawInto(from, matrix, color, target, clipped ? &clipBox : nullptr, smoothing);
        } else if (DisplayObject* clip_object = in.ClipOf(source)) {
            // Twips of the clip to the bitmap's pixels.
            swf::Matrix twips = matrix;
            twips.a /= 20, twips.b /= 20, twips.c /= 20, twips.d /= 20;
            renderer.DrawInto(*clip_object, twips, color, target, clipped ? &clipBox : nullptr);
        }
        // Opaque bitmaps stay opaque whatever was drawn.
        if (!b->transparent)
            for (uint32_t& p : b->pixels) p |= 0xFF000000u;
        return Undefined{};
    });
    // pixelDissolve(source, sourceRect, destPoint[, seed, numPixels, fillColor]): the pixel at
    // the seed's place in the box and numPixels more after it, in an order that visits every
    // pixel of the box once, take the source's pixel (the fill colour when the source is this
    // bitmap); the answer is the seed of the last one, so that the next call goes on from it.
    Method(proto, "pixelDissolve", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        ScriptBitmap* src = Bits(Arg(args, 0));
        if (!b || !src) return kFailed;
        Box s;
        int32_t dx = 0, dy = 0;
        if (!ReadBox(in, Arg(args, 1), s)) return -4.0;
        if (!ReadPoint(in, Arg(args, 2), dx, dy)) dx = dy = 0;
        const int64_t seed = Whole(in, Arg(args, 3));
        const int64_t count = std::max(0, Whole(in, Arg(args, 4)));
        const uint32_t fill = uint32_t(in.ToInt32(Arg(args, 5)));
        // Without a number of pixels nothing dissolves, not even the seed's own.
        if (args.size() < 5 || !ClipCopy(*src, *b, s, dx, dy)) return double(seed);
        const int64_t n = int64_t(s.w) * s.h;
        // A step near the golden section of the box, sharing no factor with its size, scatters
        // the pixels and still reaches each of them once.
        int64_t step = std::max<int64_t>(1, std::llround(double(n) * 0.6180339887));
        while (std::gcd(step, n) != 1) ++step;
        int64_t at = ((seed % n) + n) % n;
        const bool self_source = src == b;
        const ScriptBitmap copy = self_source ? ScriptBitmap{} : *src;
        auto dissolve = [&](int64_t i) {
            int32_t x = int32_t(i % s.w), y = int32_t(i / s.w);
            Write(*b, dx + x, dy + y, self_source ? fill : Read(copy, s.x + x, s.y + y));
        };
        dissolve(at);
        for (int64_t i = 0; i < std::min(count, n); ++i) {
            at = (at + step) % n;
            dissolve(at);
        }
        return double(at);
    });
    Method(proto, "merge", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        ScriptBitmap* src = nullptr;
        Box s;
        int32_t dx = 0, dy = 0;
        if (!b || args.size() < 6) return kFailed;
        if (double refused = SourceArgs(in, args, src, s, dx, dy)) return refused;
        // Multipliers run from 0 (keep this bitmap) to 256 (take the source); a missing alpha
        // multiplier takes the source's alpha.
        uint32_t k[4];
        for (int i = 0; i < 4; ++i)
            k[i] = size_t(3 + i) < args.size() ? uint32_t(std::clamp(in.ToInt32(args[size_t(3 + i)]), 0, 256)) : 256;
        // Done or not, the reference player answers -1.
        if (!ClipCopy(*src, *b, s, dx, dy)) return kFailed;
        ScriptBitmap copy = *src;
        const int shifts[4] = {16, 8, 0, 24};
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x) {
                uint32_t from = Read(copy, s.x + x, s.y + y), to = Read(*b, dx + x, dy + y), out = 0;
                for (int i = 0; i < 4; ++i) {
                    uint32_t sv = (from >> shifts[i]) & 255, dv = (to >> shifts[i]) & 255;
                    uint32_t m = k[i];
                    out |= ((sv * m + dv * (256 - m)) / 256 & 255) << shifts[i];
                }
                Write(*b, dx + x, dy + y, out);
            }
        return kFailed;
    });
    Method(proto, "threshold", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        ScriptBitmap* src = nullptr;
        Box s;
        int32_t dx = 0, dy = 0;
        if (!b || args.size() < 5) return kFailed;
        if (double refused = SourceArgs(in, args, src, s, dx, dy)) return refused;
        std::string op = in.ToString(args[3]);
        uint32_t limit = uint32_t(in.ToInt32(args[4]));
        uint32_t color = args.size() > 5 ? uint32_t(in.ToInt32(args[5])) : 0;
        uint32_t mask = args.size() > 6 ? uint32_t(in.ToInt32(args[6])) : 0xFFFFFFFFu;
        bool copy_source = args.size() > 7 && in.ToBoolean(args[7]);
        // An operation the player does not know works as "<".
        auto test = [&](uint32_t v) {
            uint32_t a = v & mask, t = limit & mask;
            if (op == "<=") return a <= t;
            if (op == ">") return a > t;
            if (op == ">=") return a >= t;
            if (op == "==") return a == t;
            if (op == "!=") return a != t;
            return a < t;
        };
        if (!ClipCopy(*src, *b, s, dx, dy)) return 0.0;
        ScriptBitmap copy = *src;
        // The stored premultiplied words are tested and written as they are, even into an opaque
        // bitmap, which then holds an alpha below 255.
        uint32_t stored_color = Premultiply(color);
        double count = 0;
        for (int32_t y = 0; y < s.h; ++y)
            for (int32_t x = 0; x < s.w; ++x) {
                uint32_t v = copy.pixels[size_t(s.y + y) * size_t(copy.width) + size_t(s.x + x)];
                uint32_t& d = b->pixels[size_t(dy + y) * size_t(b->width) + size_t(dx + x)];
                if (test(v)) {
                    d = stored_color;
                    ++count;
                } else if (copy_source) {
                    d = v;
                }
            }
        return count;
    });
    Method(proto, "compare", [wrap](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        if (!b || args.empty()) return kFailed;
        ScriptBitmap* o = Bits(args[0]);
        if (!o) return -2.0;
        if (o == b) return 0.0;
        if (b->width != o->width) return -3.0;
        if (b->height != o->height) return -4.0;
        auto diff = std::make_shared<ScriptBitmap>();
        diff->width = b->width;
        diff->height = b->height;
        diff->pixels.assign(b->pixels.size(), 0);
        bool any = false;
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x) {
                uint32_t p = Read(*b, x, y), q = Read(*o, x, y);
                if (p == q) continue;
                any = true;
                uint32_t out;
                if ((p & 0xFFFFFF) == (q & 0xFFFFFF)) {
                    // Only the alpha differs: white with the difference as alpha.
                    out = ((((p >> 24) - (q >> 24)) & 255) << 24) | 0xFFFFFF;
                } else {
                    out = 0xFF000000u;
                    for (int shift : {16, 8, 0})
                        out |= ((((p >> shift) & 255) - ((q >> shift) & 255)) & 255) << shift;
                }
                Write(*diff, x, y, out);
            }
        if (!any) return 0.0;
        return wrap(in, std::move(diff));
    });
    Method(proto, "hitTest", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ScriptBitmap* b = Bits(self);
        int32_t fx = 0, fy = 0;
        if (!b || args.size() < 3) return kFailed;
        if (!ReadPoint(in, args[0], fx, fy)) return -2.0;
        uint32_t first = uint32_t(std::clamp(in.ToInt32(args[1]), 0, 255));
        auto solid = [](const ScriptBitmap& bm, int32_t x, int32_t y, uint32_t threshold) {
            return Inside(bm, x, y) && (bm.pixels[size_t(y) * size_t(bm.width) + size_t(x)] >> 24) >= threshold;
        };
        if (Disposed(args[2])) return -3.0;
        if (ScriptBitmap* other = Bits(args[2])) {
            // Without a corner the other bitmap lies at (0, 0); a corner given as undefined is a
            // missing argument (-2), one that is no point is refused (-4).
            int32_t sx = 0, sy = 0;
            if (args.size() > 3 && std::holds_alternative<Undefined>(args[3])) return -2.0;
            if (args.size() > 3 && !ReadPoint(in, args[3], sx, sy)) return -4.0;
            uint32_t second = args.size() > 4 ? uint32_t(std::clamp(in.ToInt32(args[4]), 0, 255)) : 1;
            // The other bitmap's corner in this one's pixels.
            int32_t ox = sx - fx, oy = sy - fy;
            Box s{0, 0, other->width, other->height};
            int32_t tx = ox, ty = oy;
            if (!ClipCopy(*other, *b, s, tx, ty)) return false;
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x)
                    if (solid(*b, tx + x, ty + y, first) && solid(*other, s.x + x, s.y + y, second)) return true;
            return false;
        }
        Box box;
        if (ReadBox(in, args[2], box)) {
            box.x -= fx;
            box.y -= fy;
            if (!Clip(*b, box)) return false;
            for (int32_t y = box.y; y < box.y + box.h; ++y)
                for (int32_t x = box.x; x < box.x + box.w; ++x)
                    if (solid(*b, x, y, first)) return true;
            return false;
        }
        int32_t px = 0, py = 0;
        // A single point never hits a fully transparent pixel, whatever the threshold.
        if (ReadPoint(in, args[2], px, py)) return solid(*b, px - fx, py - fy, std::max(first, 1u));
        return -3.0;
    });

    // Not carried out by this player yet: answered as refused calls are.
    for (const char* name : {"applyFilter", "generateFilterRect", "paletteMap", "perlinNoise"})
        Method(proto, name, [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return kFailed; });

    // attachBitmap(bitmap, depth[, pixelSnapping, smoothing]): a child that shows the pixels.
    Method(clip_proto_, "attachBitmap", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef me = SelfObj(self);
        DisplayObject* clip = me ? in.ClipOf(me) : nullptr;
        ObjRef bitmap = SelfObj(Arg(args, 0));
        if (!clip || !bitmap || !bitmap->bitmap || args.size() < 2 || !in.env()) return Undefined{};
        DisplayObject* d = in.env()->CreateEmptyClip(*clip, in.ToInt32(args[1]) + 16384, "");
        if (!d) return Undefined{};
        d->bitmap = bitmap->bitmap;
        d->bitmap_smoothing = args.size() > 3 && in.ToBoolean(args[3]);
        return Undefined{};
    });

    InstallFilters(*this);
}

}  // namespace qm::flash::avm1
