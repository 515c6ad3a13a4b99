// flash.filters: BitmapFilter and its kinds. Each object keeps its settings
// beside it, read and written through accessors that keep them in the
// ranges the player stores (bytes for alphas, whole qualities up to 15,
// 24-bit colours), and MovieClip.filters turns them into the drawn filters.
#include "flash/avm1/filters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

constexpr double kPi = 3.14159265358979323846;

enum class Type { Bevel, Blur, ColorMatrix, Convolution, Displacement, DropShadow, Glow, GradientBevel, GradientGlow };

struct State {
    Type type = Type::Blur;
    double distance = 4, angle = 45;  // angle in degrees
    uint32_t color = 0, color2 = 0;   // glow, shadow, convolution, displacement; bevel: highlight, shadow
    uint8_t alpha = 255, alpha2 = 255;
    int quality = 1;
    double strength = 1, blur_x = 4, blur_y = 4;
    bool inner = false, knockout = false, hide_object = false;
    std::string kind = "inner";  // bevels: inner, outer or full
    std::array<double, 20> color_matrix{1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
    int matrix_x = 0, matrix_y = 0;
    std::vector<double> matrix;
    double divisor = 1, bias = 0;
    bool preserve_alpha = true, clamp = true;
    Value map_bitmap;
    int32_t point_x = 0, point_y = 0;
    int32_t component_x = 0, component_y = 0;
    double scale_x = 0, scale_y = 0;
    std::string mode = "wrap";
    // Gradients keep sixteen places; `count` of them are shown.
    size_t count = 0;
    std::array<uint32_t, 16> colors{};
    std::array<uint8_t, 16> alphas{}, ratios{};
};

// Settings by object, for every interpreter; an entry whose object is gone
// is dropped when the table is swept.
struct Entry {
    std::weak_ptr<Object> owner;
    State state;
};
std::mutex registry_mutex;
std::unordered_map<const Object*, Entry> registry;
size_t sweep_at = 256;

void Register(const ObjRef& o, State s) {
    std::lock_guard lock(registry_mutex);
    if (registry.size() >= sweep_at) {
        std::erase_if(registry, [](const auto& e) { return e.second.owner.expired(); });
        sweep_at = std::max<size_t>(256, registry.size() * 2);
    }
    registry[o.get()] = Entry{o, std::move(s)};
}

// A copy of the object's settings, or none.
std::optional<State> StateOf(const Value& v) {
    auto* o = std::get_if<ObjRef>(&v);
    if (!o || !*o) return std::nullopt;
    std::lock_guard lock(registry_mutex);
    auto it = registry.find(o->get());
    if (it == registry.end()) return std::nullopt;
    if (it->second.owner.lock() != *o) {
        registry.erase(it);
        return std::nullopt;
    }
    return it->second.state;
}

template <typename F>
void Update(const Value& v, F&& change) {
    auto* o = std::get_if<ObjRef>(&v);
    if (!o || !*o) return;
    std::lock_guard lock(registry_mutex);
    auto it = registry.find(o->get());
    if (it != registry.end() && it->second.owner.lock() == *o) change(it->second.state);
}

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }
bool Missing(const Value& v) { return std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v); }

// A number as the player's integer conversion makes it: the lowest integer
// for what does not fit.
int32_t WholeOf(double d) {
    if (!std::isfinite(d) || d >= 2147483648.0 || d < -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(d);
}
double Clamp(double d, double lo, double hi) { return std::isnan(d) ? lo : std::clamp(d, lo, hi); }
// An element's number; nothing there is not a number.
double ElementNumber(Interpreter& in, const Value& v) {
    if (Missing(v)) return std::numeric_limits<double>::quiet_NaN();
    return in.ToNumber(v);
}
// How many elements an array-like value offers (texts count their characters).
size_t LengthOf(Interpreter& in, const Value& v) {
    if (!std::holds_alternative<ObjRef>(v) && !std::holds_alternative<std::string>(v)) return 0;
    double n = in.ToNumber(in.Get(v, "length"));
    if (!(n > 0)) return 0;
    return size_t(std::min(n, 65536.0));
}
Value Element(Interpreter& in, const Value& v, size_t i) {
    if (std::holds_alternative<std::string>(v)) return Undefined{};
    return in.Get(v, std::to_string(i));
}

uint32_t ColorOf(Interpreter& in, const Value& v) { return uint32_t(in.ToInt32(v)) & 0xFFFFFFu; }
// A filter's alpha is kept in a byte, cut down.
uint8_t AlphaByte(Interpreter& in, const Value& v) {
    double a = in.ToNumber(v);
    if (std::isnan(a)) return 255;
    return uint8_t(std::clamp(a, 0.0, 1.0) * 255.0);
}
int QualityOf(Interpreter& in, const Value& v) { return int(Clamp(std::trunc(in.ToNumber(v)), 0, 15)); }
double AngleOf(Interpreter& in, const Value& v) {
    double a = std::fmod(in.ToNumber(v), 360.0);
    return std::isfinite(a) ? a : 0.0;
}
std::string BevelKind(Interpreter& in, const Value& v) {
    std::string s = in.ToString(v);
    return s == "inner" || s == "outer" ? s : std::string("full");
}

Value NumberArray(Interpreter& in, const std::vector<double>& v) {
    std::vector<Value> elems(v.begin(), v.end());
    return in.NewArray(std::move(elems));
}

// One property of a filter kind: its read and its write.
struct Field {
    const char* name;
    Value (*get)(Interpreter&, const State&);
    void (*set)(Interpreter&, State&, const Value&);
};

// Fields shared by several kinds.
const Field kDistance{"distance", [](Interpreter&, const State& s) -> Value { return s.distance; },
                      [](Interpreter& in, State& s, const Value& v) { s.distance = in.ToNumber(v); }};
const Field kAngle{"angle", [](Interpreter&, const State& s) -> Value { return s.angle; },
                   [](Interpreter& in, State& s, const Value& v) { s.angle = AngleOf(in, v); }};
const Field kColor{"color", [](Interpreter&, const State& s) -> Value { return double(s.color); },
                   [](Interpreter& in, State& s, const Value& v) { s.color = ColorOf(in, v); }};
const Field kAlpha{"alpha", [](Interpreter&, const State& s) -> Value { return s.alpha / 255.0; },
                   [](Interpreter& in, State& s, const Value& v) { s.alpha = AlphaByte(in, v); }};
const Field kQuality{"quality", [](Interpreter&, const State& s) -> Value { return double(s.quality); },
                     [](Interpreter& in, State& s, const Value& v) { s.quality = QualityOf(in, v); }};
const Field kStrength{"strength", [](Interpreter&, const State& s) -> Value { return s.strength; },
                      [](Interpreter& in, State& s, const Value& v) { s.strength = Clamp(in.ToNumber(v), 0, 255); }};
const Field kBlurX{"blurX", [](Interpreter&, const State& s) -> Value { return s.blur_x; },
                   [](Interpreter& in, State& s, const Value& v) { s.blur_x = Clamp(in.ToNumber(v), 0, 255); }};
const Field kBlurY{"blurY", [](Interpreter&, const State& s) -> Value { return s.blur_y; },
                   [](Interpreter& in, State& s, const Value& v) { s.blur_y = Clamp(in.ToNumber(v), 0, 255); }};
const Field kInner{"inner", [](Interpreter&, const State& s) -> Value { return s.inner; },
                   [](Interpreter& in, State& s, const Value& v) { s.inner = in.ToBoolean(v); }};
const Field kKnockout{"knockout", [](Interpreter&, const State& s) -> Value { return s.knockout; },
                      [](Interpreter& in, State& s, const Value& v) { s.knockout = in.ToBoolean(v); }};
const Field kHideObject{"hideObject", [](Interpreter&, const State& s) -> Value { return s.hide_object; },
                        [](Interpreter& in, State& s, const Value& v) { s.hide_object = in.ToBoolean(v); }};
const Field kKind{"type", [](Interpreter&, const State& s) -> Value { return s.kind; },
                  [](Interpreter& in, State& s, const Value& v) { s.kind = BevelKind(in, v); }};

// Gradient arrays: colours set how many places show; ratios can only
// shorten that.
const Field kColors{"colors",
                    [](Interpreter& in, const State& s) -> Value {
                        std::vector<double> v;
                        for (size_t i = 0; i < s.count; ++i) v.push_back(s.colors[i]);
                        return NumberArray(in, v);
                    },
                    [](Interpreter& in, State& s, const Value& v) {
                        if (Missing(v)) return;
                        s.count = std::min<size_t>(LengthOf(in, v), 16);
                        for (size_t i = 0; i < s.count; ++i) s.colors[i] = ColorOf(in, Element(in, v, i));
                    }};
const Field kAlphas{"alphas",
                    [](Interpreter& in, const State& s) -> Value {
                        std::vector<double> v;
                        for (size_t i = 0; i < s.count; ++i) v.push_back(s.alphas[i] / 255.0);
                        return NumberArray(in, v);
                    },
                    [](Interpreter& in, State& s, const Value& v) {
                        if (Missing(v)) return;
                        // Places the list does not reach are opaque.
                        for (size_t i = 0; i < s.count; ++i) {
                            double a = in.ToNumber(Element(in, v, i));
                            s.alphas[i] = std::isnan(a) ? 255 : uint8_t(std::lround(std::clamp(a, 0.0, 1.0) * 255.0));
                        }
                    }};
const Field kRatios{"ratios",
                    [](Interpreter& in, const State& s) -> Value {
                        std::vector<double> v;
                        for (size_t i = 0; i < s.count; ++i) v.push_back(s.ratios[i]);
                        return NumberArray(in, v);
                    },
                    [](Interpreter& in, State& s, const Value& v) {
                        if (Missing(v)) return;
                        s.count = std::min(s.count, LengthOf(in, v));
                        for (size_t i = 0; i < s.count; ++i)
                            s.ratios[i] = uint8_t(Clamp(std::trunc(in.ToNumber(Element(in, v, i))), 0, 255));
                    }};

// Convolution: the matrix is never shorter than its columns times its rows.
void FitMatrix(State& s) {
    size_t need = size_t(s.matrix_x) * size_t(s.matrix_y);
    if (s.matrix.size() < need) s.matrix.resize(need, 0.0);
}

struct FilterKind {
    Type type;
    const char* name;
    std::vector<Field> fields;     // in the order for..in lists them
    std::vector<const char*> args;  // the constructor's parameters, by field name
};

std::vector<FilterKind> Kinds() {
    const Field highlight_color{"highlightColor", [](Interpreter&, const State& s) -> Value { return double(s.color); },
                                [](Interpreter& in, State& s, const Value& v) { s.color = ColorOf(in, v); }};
    const Field highlight_alpha{"highlightAlpha", [](Interpreter&, const State& s) -> Value { return s.alpha / 255.0; },
                                [](Interpreter& in, State& s, const Value& v) { s.alpha = AlphaByte(in, v); }};
    const Field shadow_color{"shadowColor", [](Interpreter&, const State& s) -> Value { return double(s.color2); },
                             [](Interpreter& in, State& s, const Value& v) { s.color2 = ColorOf(in, v); }};
    const Field shadow_alpha{"shadowAlpha", [](Interpreter&, const State& s) -> Value { return s.alpha2 / 255.0; },
                             [](Interpreter& in, State& s, const Value& v) { s.alpha2 = AlphaByte(in, v); }};
    const Field color_matrix{
        "matrix",
        [](Interpreter& in, const State& s) -> Value {
            return NumberArray(in, std::vector<double>(s.color_matrix.begin(), s.color_matrix.end()));
        },
        [](Interpreter& in, State& s, const Value& v) {
            if (Missing(v)) return;
            size_t n = LengthOf(in, v);
            for (size_t i = 0; i < 20; ++i)
                s.color_matrix[i] = i < n ? ElementNumber(in, Element(in, v, i)) : std::numeric_limits<double>::quiet_NaN();
        }};
    const Field matrix_x{"matrixX", [](Interpreter&, const State& s) -> Value { return double(s.matrix_x); },
                         [](Interpreter& in, State& s, const Value& v) {
                             s.matrix_x = int(Clamp(std::trunc(in.ToNumber(v)), 0, 15));
                             FitMatrix(s);
                         }};
    const Field matrix_y{"matrixY", [](Interpreter&, const State& s) -> Value { return double(s.matrix_y); },
                         [](Interpreter& in, State& s, const Value& v) {
                             s.matrix_y = int(Clamp(std::trunc(in.ToNumber(v)), 0, 15));
                             FitMatrix(s);
                         }};
    const Field matrix{"matrix", [](Interpreter& in, const State& s) -> Value { return NumberArray(in, s.matrix); },
                       [](Interpreter& in, State& s, const Value& v) {
                           size_t n = LengthOf(in, v);
                           s.matrix.assign(n, 0.0);
                           for (size_t i = 0; i < n; ++i) s.matrix[i] = ElementNumber(in, Element(in, v, i));
                           FitMatrix(s);
                       }};
    const Field divisor{"divisor", [](Interpreter&, const State& s) -> Value { return s.divisor; },
                        [](Interpreter& in, State& s, const Value& v) { s.divisor = in.ToNumber(v); }};
    const Field bias{"bias", [](Interpreter&, const State& s) -> Value { return s.bias; },
                     [](Interpreter& in, State& s, const Value& v) { s.bias = in.ToNumber(v); }};
    const Field preserve_alpha{"preserveAlpha", [](Interpreter&, const State& s) -> Value { return s.preserve_alpha; },
                               [](Interpreter& in, State& s, const Value& v) { s.preserve_alpha = in.ToBoolean(v); }};
    const Field clamp{"clamp", [](Interpreter&, const State& s) -> Value { return s.clamp; },
                      [](Interpreter& in, State& s, const Value& v) { s.clamp = in.ToBoolean(v); }};
    const Field map_bitmap{"mapBitmap", [](Interpreter&, const State& s) -> Value { return s.map_bitmap; },
                           [](Interpreter&, State& s, const Value& v) {
                               auto* o = std::get_if<ObjRef>(&v);
                               if (o && *o && (*o)->bitmap) s.map_bitmap = v;
                           }};
    const Field map_point{"mapPoint",
                          [](Interpreter& in, const State& s) -> Value {
                              Value geom = in.Get(in.flash_package_, "geom");
                              Value point = in.Get(geom, "Point");
                              return in.Construct(point, {double(s.point_x), double(s.point_y)});
                          },
                          [](Interpreter& in, State& s, const Value& v) {
                              if (!std::holds_alternative<ObjRef>(v)) {
                                  s.point_x = s.point_y = 0;
                                  return;
                              }
                              // Without both coordinates the point is the origin; one that is
                              // not a number is the lowest integer.
                              Value x = in.Get(v, "x"), y = in.Get(v, "y");
                              if (Missing(x) || Missing(y)) {
                                  s.point_x = s.point_y = 0;
                                  return;
                              }
                              s.point_x = WholeOf(in.ToNumber(x));
                              s.point_y = WholeOf(in.ToNumber(y));
                          }};
    const Field component_x{"componentX", [](Interpreter&, const State& s) -> Value { return double(s.component_x); },
                            [](Interpreter& in, State& s, const Value& v) { s.component_x = in.ToInt32(v); }};
    const Field component_y{"componentY", [](Interpreter&, const State& s) -> Value { return double(s.component_y); },
                            [](Interpreter& in, State& s, const Value& v) { s.component_y = in.ToInt32(v); }};
    const Field scale_x{"scaleX", [](Interpreter&, const State& s) -> Value { return s.scale_x; },
                        [](Interpreter& in, State& s, const Value& v) { s.scale_x = Clamp(in.ToNumber(v), -65535, 65535); }};
    const Field scale_y{"scaleY", [](Interpreter&, const State& s) -> Value { return s.scale_y; },
                        [](Interpreter& in, State& s, const Value& v) { s.scale_y = Clamp(in.ToNumber(v), -65535, 65535); }};
    const Field mode{"mode", [](Interpreter&, const State& s) -> Value { return s.mode; },
                     [](Interpreter& in, State& s, const Value& v) {
                         std::string m = in.ToString(v);
                         s.mode = m == "clamp" || m == "ignore" || m == "color" ? m : std::string("wrap");
                     }};
    return {
        {Type::Bevel, "BevelFilter",
         {kDistance, kAngle, highlight_color, highlight_alpha, shadow_color, shadow_alpha, kQuality, kStrength,
          kKnockout, kBlurX, kBlurY, kKind},
         {"distance", "angle", "highlightColor", "highlightAlpha", "shadowColor", "shadowAlpha", "blurX", "blurY",
          "strength", "quality", "type", "knockout"}},
        {Type::Blur, "BlurFilter", {kBlurX, kBlurY, kQuality}, {"blurX", "blurY", "quality"}},
        {Type::ColorMatrix, "ColorMatrixFilter", {color_matrix}, {"matrix"}},
        {Type::Convolution, "ConvolutionFilter",
         {matrix_x, matrix_y, matrix, divisor, bias, preserve_alpha, clamp, kColor, kAlpha},
         {"matrixX", "matrixY", "matrix", "divisor", "bias", "preserveAlpha", "clamp", "color", "alpha"}},
        {Type::Displacement, "DisplacementMapFilter",
         {map_bitmap, map_point, component_x, component_y, scale_x, scale_y, mode, kColor, kAlpha},
         {"mapBitmap", "mapPoint", "componentX", "componentY", "scaleX", "scaleY", "mode", "color", "alpha"}},
        {Type::DropShadow, "DropShadowFilter",
         {kDistance, kAngle, kColor, kAlpha, kQuality, kInner, kKnockout, kBlurX, kBlurY, kStrength, kHideObject},
         {"distance", "angle", "color", "alpha", "blurX", "blurY", "strength", "quality", "inner", "knockout",
          "hideObject"}},
        {Type::Glow, "GlowFilter", {kColor, kAlpha, kQuality, kInner, kKnockout, kBlurX, kBlurY, kStrength},
         {"color", "alpha", "blurX", "blurY", "strength", "quality", "inner", "knockout"}},
        {Type::GradientBevel, "GradientBevelFilter",
         {kDistance, kAngle, kColors, kAlphas, kRatios, kBlurX, kBlurY, kQuality, kStrength, kKnockout, kKind},
         {"distance", "angle", "colors", "alphas", "ratios", "blurX", "blurY", "strength", "quality", "type",
          "knockout"}},
        {Type::GradientGlow, "GradientGlowFilter",
         {kDistance, kAngle, kColors, kAlphas, kRatios, kBlurX, kBlurY, kQuality, kStrength, kKnockout, kKind},
         {"distance", "angle", "colors", "alphas", "ratios", "blurX", "blurY", "strength", "quality", "type",
          "knockout"}},
    };
}

// A new object's settings before its constructor's arguments.
State Defaults(Type type) {
    State s;
    s.type = type;
    switch (type) {
        case Type::Bevel:
            s.color = 0xFFFFFF;
            break;
        case Type::Convolution:
        case Type::Displacement:
            s.alpha = 0;
            break;
        case Type::Glow:
            s.color = 0xFF0000;
            s.blur_x = s.blur_y = 6;
            s.strength = 2;
            break;
        default:
            break;
    }
    return s;
}

double Degrees(double radians) { return std::fmod(radians * 180.0 / kPi, 360.0); }
double Radians(double degrees) { return degrees * kPi / 180.0; }
swf::Rgba RgbaOf(uint32_t color, uint8_t alpha) {
    return swf::Rgba{uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color), alpha};
}
uint32_t ColorBits(const swf::Rgba& c) { return (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }
std::string KindOf(bool inner, bool on_top) { return on_top ? "full" : inner ? "inner" : "outer"; }
uint8_t Passes(int quality) { return uint8_t(std::clamp(quality, 0, 15)); }

// The settings a drawn filter shows to scripts.
State FromFilter(const swf::Filter& filter) {
    State s;
    std::visit(
        [&](const auto& f) {
            using F = std::decay_t<decltype(f)>;
            if constexpr (std::is_same_v<F, swf::DropShadowFilter>) {
                s = Defaults(Type::DropShadow);
                s.color = ColorBits(f.color), s.alpha = f.color.a;
                s.distance = f.distance, s.angle = Degrees(f.angle);
                s.inner = f.inner, s.knockout = f.knockout, s.hide_object = !f.composite_source;
            } else if constexpr (std::is_same_v<F, swf::BlurFilter>) {
                s = Defaults(Type::Blur);
            } else if constexpr (std::is_same_v<F, swf::GlowFilter>) {
                s = Defaults(Type::Glow);
                s.color = ColorBits(f.color), s.alpha = f.color.a;
                s.inner = f.inner, s.knockout = f.knockout;
            } else if constexpr (std::is_same_v<F, swf::BevelFilter>) {
                s = Defaults(Type::Bevel);
                s.color = ColorBits(f.highlight_color), s.alpha = f.highlight_color.a;
                s.color2 = ColorBits(f.shadow_color), s.alpha2 = f.shadow_color.a;
                s.distance = f.distance, s.angle = Degrees(f.angle);
                s.knockout = f.knockout, s.kind = KindOf(f.inner, f.on_top);
            } else if constexpr (std::is_same_v<F, swf::GradientFilter>) {
                s = Defaults(f.bevel ? Type::GradientBevel : Type::GradientGlow);
                s.distance = f.distance, s.angle = Degrees(f.angle);
                s.knockout = f.knockout, s.kind = KindOf(f.inner, f.on_top);
                s.count = std::min<size_t>(f.gradient.size(), 16);
                for (size_t i = 0; i < s.count; ++i) {
                    s.colors[i] = ColorBits(f.gradient[i].color);
                    s.alphas[i] = f.gradient[i].color.a;
                    s.ratios[i] = f.gradient[i].ratio;
                }
            } else if constexpr (std::is_same_v<F, swf::ConvolutionFilter>) {
                s = Defaults(Type::Convolution);
                s.matrix_x = f.matrix_x, s.matrix_y = f.matrix_y;
                s.matrix.assign(f.matrix.begin(), f.matrix.end());
                FitMatrix(s);
                s.divisor = f.divisor, s.bias = f.bias;
                s.preserve_alpha = f.preserve_alpha, s.clamp = f.clamp;
                s.color = ColorBits(f.default_color), s.alpha = f.default_color.a;
            } else if constexpr (std::is_same_v<F, swf::ColorMatrixFilter>) {
                s = Defaults(Type::ColorMatrix);
                for (size_t i = 0; i < 20; ++i) s.color_matrix[i] = f.matrix[i];
            }
            if constexpr (!std::is_same_v<F, swf::ConvolutionFilter> && !std::is_same_v<F, swf::ColorMatrixFilter>) {
                s.blur_x = f.blur_x, s.blur_y = f.blur_y, s.quality = f.passes;
                if constexpr (!std::is_same_v<F, swf::BlurFilter>) s.strength = f.strength;
            }
        },
        filter);
    return s;
}

std::optional<swf::Filter> ToFilter(const State& s) {
    switch (s.type) {
        case Type::Blur: {
            swf::BlurFilter f;
            f.blur_x = s.blur_x, f.blur_y = s.blur_y, f.passes = Passes(s.quality);
            return f;
        }
        case Type::DropShadow: {
            swf::DropShadowFilter f;
            f.color = RgbaOf(s.color, s.alpha);
            f.blur_x = s.blur_x, f.blur_y = s.blur_y, f.passes = Passes(s.quality);
            f.angle = Radians(s.angle), f.distance = s.distance, f.strength = s.strength;
            f.inner = s.inner, f.knockout = s.knockout, f.composite_source = !s.hide_object;
            return f;
        }
        case Type::Glow: {
            swf::GlowFilter f;
            f.color = RgbaOf(s.color, s.alpha);
            f.blur_x = s.blur_x, f.blur_y = s.blur_y, f.passes = Passes(s.quality);
            f.strength = s.strength, f.inner = s.inner, f.knockout = s.knockout;
            return f;
        }
        case Type::Bevel: {
            swf::BevelFilter f;
            f.highlight_color = RgbaOf(s.color, s.alpha);
            f.shadow_color = RgbaOf(s.color2, s.alpha2);
            f.blur_x = s.blur_x, f.blur_y = s.blur_y, f.passes = Passes(s.quality);
            f.angle = Radians(s.angle), f.distance = s.distance, f.strength = s.strength;
            f.knockout = s.knockout, f.inner = s.kind == "inner", f.on_top = s.kind == "full";
            return f;
        }
        case Type::GradientBevel:
        case Type::GradientGlow: {
            swf::GradientFilter f;
            f.bevel = s.type == Type::GradientBevel;
            for (size_t i = 0; i < s.count; ++i) {
                swf::GradientRecord r;
                r.ratio = s.ratios[i];
                r.color = RgbaOf(s.colors[i], s.alphas[i]);
                f.gradient.push_back(r);
            }
            f.blur_x = s.blur_x, f.blur_y = s.blur_y, f.passes = Passes(s.quality);
            f.angle = Radians(s.angle), f.distance = s.distance, f.strength = s.strength;
            f.knockout = s.knockout, f.inner = s.kind == "inner", f.on_top = s.kind == "full";
            return f;
        }
        case Type::ColorMatrix: {
            swf::ColorMatrixFilter f;
            for (size_t i = 0; i < 20; ++i) f.matrix[i] = std::isfinite(s.color_matrix[i]) ? float(s.color_matrix[i]) : 0.f;
            return f;
        }
        case Type::Convolution: {
            swf::ConvolutionFilter f;
            f.matrix_x = uint8_t(s.matrix_x), f.matrix_y = uint8_t(s.matrix_y);
            size_t n = size_t(s.matrix_x) * size_t(s.matrix_y);
            for (size_t i = 0; i < n && i < s.matrix.size(); ++i)
                f.matrix.push_back(std::isfinite(s.matrix[i]) ? float(s.matrix[i]) : 0.f);
            f.divisor = std::isfinite(s.divisor) ? float(s.divisor) : 1.f;
            f.bias = std::isfinite(s.bias) ? float(s.bias) : 0.f;
            f.preserve_alpha = s.preserve_alpha, f.clamp = s.clamp;
            f.default_color = RgbaOf(s.color, s.alpha);
            return f;
        }
        case Type::Displacement:
            break;
    }
    return std::nullopt;
}

// The clip a MovieClip object stands for, from version 8 on (the properties
// came with that player).
DisplayObject* Version8Clip(Interpreter& in, const Value& self) {
    if (in.version() < 8) return nullptr;
    auto* o = std::get_if<ObjRef>(&self);
    return o && *o ? in.ClipOf(*o) : nullptr;
}

constexpr std::array<const char*, 15> kBlendNames = {"normal",   "normal", "layer",    "multiply",   "screen",
                                                     "lighten",  "darken", "difference", "add",       "subtract",
                                                     "invert",   "alpha",  "erase",    "overlay",    "hardlight"};

// MovieClip.blendMode, cacheAsBitmap and opaqueBackground: how the renderer
// composes the clip.
void InstallDisplaySettings(Interpreter& in) {
    in.Accessor(
        in.clip_proto_, "blendMode",
        [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            DisplayObject* clip = Version8Clip(in, self);
            if (!clip) return Undefined{};
            size_t mode = size_t(clip->blend_mode);
            return std::string(mode < kBlendNames.size() ? kBlendNames[mode] : "normal");
        },
        [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            DisplayObject* clip = Version8Clip(in, self);
            if (!clip) return Undefined{};
            const Value v = Arg(args, 0);
            std::optional<size_t> mode;
            if (std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v)) {
                mode = 0;
            } else if (auto* d = std::get_if<double>(&v)) {
                // A number picks by its lowest byte; 0 and 1 are both normal.
                if (std::isfinite(*d)) mode = size_t(uint8_t(int64_t(std::trunc(*d))));
            } else if (auto* text = std::get_if<std::string>(&v)) {
                for (size_t i = 1; i < kBlendNames.size() && !mode; ++i)
                    if (*text == kBlendNames[i]) mode = i;
            }
            // Anything else, or a number naming no mode, leaves the mode as it was.
            if (mode && *mode < kBlendNames.size()) clip->blend_mode = swf::BlendMode(*mode == 1 ? 0 : *mode);
            return Undefined{};
        });
    in.Accessor(
        in.clip_proto_, "cacheAsBitmap",
        [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            DisplayObject* clip = Version8Clip(in, self);
            if (!clip) return Undefined{};
            return clip->cache_as_bitmap;
        },
        [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            if (!Version8Clip(in, self)) return Undefined{};
            bool on = in.ToBoolean(Arg(args, 0));
            // Looked up again: the conversion may run scripts.
            if (DisplayObject* clip = Version8Clip(in, self)) clip->cache_as_bitmap = on;
            return Undefined{};
        });
    in.Accessor(
        in.clip_proto_, "opaqueBackground",
        [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            DisplayObject* clip = Version8Clip(in, self);
            if (!clip || !clip->opaque_background) return Undefined{};
            const swf::Rgba& c = *clip->opaque_background;
            return double((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b);
        },
        [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            if (!Version8Clip(in, self)) return Undefined{};
            const Value v = Arg(args, 0);
            std::optional<swf::Rgba> colour;
            if (!std::holds_alternative<Undefined>(v) && !std::holds_alternative<Null>(v)) {
                uint32_t rgb = uint32_t(in.ToInt32(v));
                colour = swf::Rgba{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
            }
            if (DisplayObject* clip = Version8Clip(in, self)) clip->opaque_background = colour;
            return Undefined{};
        });
    // Older movies see none of them: what they write there is a plain property.
    for (const char* name : {"blendMode", "cacheAsBitmap", "opaqueBackground"})
        if (Property* p = in.FindOwn(in.clip_proto_, name)) p->flags |= kVersion8;
}

}  // namespace

std::optional<swf::Filter> FilterOf(Interpreter&, const Value& v) {
    std::optional<State> s = StateOf(v);
    if (!s) return std::nullopt;
    return ToFilter(*s);
}

void InstallFilters(Interpreter& in) {
    if (!in.flash_package_) return;
    ObjRef package = in.NewObject();
    in.Define(in.flash_package_, "filters", package, kDontEnum);

    // BitmapFilter: the base; its own clone gives nothing.
    ObjRef base_proto = in.NewObject();
    in.DefineClass("BitmapFilter", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; },
                   base_proto, false, package);
    in.Method(base_proto, "clone", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });

    // Each kind's prototype, to make the objects MovieClip.filters hands out.
    auto protos = std::make_shared<std::unordered_map<int, std::weak_ptr<Object>>>();
    for (const FilterKind& kind : Kinds()) {
        ObjRef proto = in.NewObject(base_proto);
        (*protos)[int(kind.type)] = proto;
        const Type type = kind.type;
        const std::vector<Field> fields = kind.fields;
        const std::vector<const char*> params = kind.args;
        in.DefineClass(kind.name, [type, fields, params](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            if (!o || !*o) return Undefined{};
            State s = Defaults(type);
            for (size_t i = 0; i < params.size() && i < args.size(); ++i) {
                if (std::holds_alternative<Undefined>(args[i])) continue;
                for (const Field& f : fields)
                    if (std::string(f.name) == params[i]) f.set(in, s, args[i]);
            }
            // A convolution's colour given without its alpha is opaque.
            if (type == Type::Convolution && args.size() == 8 && !std::holds_alternative<Undefined>(args[7]))
                s.alpha = 255;
            Register(*o, std::move(s));
            return Undefined{};
        }, proto, false, package);
        for (const Field& f : fields) {
            auto get = f.get;
            auto set = f.set;
            in.Accessor(proto, f.name,
                        [get](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                            std::optional<State> s = StateOf(self);
                            return s ? get(in, *s) : Value(Undefined{});
                        },
                        [set](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                            std::optional<State> s = StateOf(self);
                            if (!s) return Undefined{};
                            // The conversion may run scripts; the result is stored after.
                            set(in, *s, Arg(args, 0));
                            Update(self, [&](State& st) { st = *s; });
                            return Undefined{};
                        });
            // The player lists a filter's settings in for..in.
            if (Property* p = in.FindOwn(proto, f.name)) p->flags &= uint16_t(~kDontEnum);
        }
        std::weak_ptr<Object> proto_weak = proto;
        in.Method(proto, "clone", [proto_weak](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            std::optional<State> s = StateOf(self);
            ObjRef p = proto_weak.lock();
            if (!s || !p) return Undefined{};
            ObjRef copy = in.NewObject(p);
            Register(copy, *s);
            return copy;
        });
        if (Property* p = in.FindOwn(proto, "clone")) p->flags &= uint16_t(~kDontEnum);
    }

    // MovieClip.filters: a new list of new objects at each read; a list
    // written keeps the filters it holds.
    in.Accessor(in.clip_proto_, "filters",
                [protos](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                    if (in.version() < 8) return Undefined{};
                    auto* o = std::get_if<ObjRef>(&self);
                    DisplayObject* clip = o && *o ? in.ClipOf(*o) : nullptr;
                    if (!clip) return Undefined{};
                    std::vector<Value> list;
                    for (const swf::Filter& f : clip->filters) {
                        State s = FromFilter(f);
                        auto it = protos->find(int(s.type));
                        ObjRef proto = it != protos->end() ? it->second.lock() : nullptr;
                        if (!proto) continue;
                        ObjRef filter = in.NewObject(proto);
                        Register(filter, std::move(s));
                        list.push_back(filter);
                    }
                    return in.NewArray(std::move(list));
                },
                [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                    if (in.version() < 8) return Undefined{};
                    auto* o = std::get_if<ObjRef>(&self);
                    DisplayObject* clip = o && *o ? in.ClipOf(*o) : nullptr;
                    if (!clip) return Undefined{};
                    Value list = Arg(args, 0);
                    std::vector<swf::Filter> filters;
                    size_t n = std::holds_alternative<ObjRef>(list) ? LengthOf(in, list) : 0;
                    for (size_t i = 0; i < n; ++i)
                        if (auto f = FilterOf(in, Element(in, list, i))) filters.push_back(std::move(*f));
                    // Looked up again: the reads above may run scripts.
                    if (DisplayObject* c = in.ClipOf(*o)) c->filters = std::move(filters);
                    return Undefined{};
                });

    InstallDisplaySettings(in);
}

}  // namespace qm::flash::avm1
