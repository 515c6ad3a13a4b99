// The drawing methods of movie clips: lines and fills a script draws, kept as
// a shape on the clip that the renderer shows under the clip's children.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

// Pixels to twips; coordinates beyond what a shape can hold are held at its edge.
int32_t Twips(Interpreter& in, const Value& v) {
    double d = in.ToNumber(v);
    if (std::isnan(d)) return 0;
    return int32_t(std::clamp(std::round(d * 20.0), -1.0e9, 1.0e9));
}

swf::Rgba Color(Interpreter& in, const Value& rgb, const Value& alpha) {
    uint32_t c = uint32_t(in.ToInt32(rgb));
    double a = std::holds_alternative<Undefined>(alpha) ? 100.0 : in.ToNumber(alpha);
    if (std::isnan(a)) a = 0;
    a = std::clamp(a, 0.0, 100.0);
    return swf::Rgba{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), uint8_t(std::lround(a * 255.0 / 100.0))};
}

}  // namespace

DrawState& Interpreter::Drawing(DisplayObject& clip) {
    DrawState& s = drawings_[clip.instance_id];
    if (!clip.drawing) {
        clip.drawing = std::make_shared<swf::Shape>();
        clip.drawing->version = 4;
        s = DrawState{};
    }
    return s;
}

static void Grow(DrawState& s, swf::Shape& shape, int32_t x, int32_t y, int32_t half_width) {
    auto grow = [&](swf::Rect& r, int32_t w) {
        if (!s.has_bounds) r = swf::Rect{x - w, x + w, y - w, y + w};
        r.x_min = std::min(r.x_min, x - w);
        r.x_max = std::max(r.x_max, x + w);
        r.y_min = std::min(r.y_min, y - w);
        r.y_max = std::max(r.y_max, y + w);
    };
    grow(shape.edge_bounds, 0);
    grow(shape.bounds, half_width);
    s.has_bounds = true;
}

void Interpreter::InstallDrawing() {
    auto method = [&](const std::string& name, std::function<void(Interpreter&, DisplayObject&, std::vector<Value>&)> fn) {
        Method(clip_proto_, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* c = o ? in.ClipOf(*o) : nullptr;
            if (!c || !c->sprite) return Undefined{};
            // A fill left open is shown closed by a stroked edge back to where it
            // began; that edge is withdrawn before the drawing goes on.
            if (c->drawing) {
                DrawState& s = in.Drawing(*c);
                auto& records = c->drawing->records;
                records.resize(records.size() - std::min(s.closing, records.size()));
                s.closing = 0;
            }
            fn(in, *c, args);
            if (c->drawing) {
                DrawState& s = in.Drawing(*c);
                if (s.fill && (s.x != s.fill_x || s.y != s.fill_y)) {
                    c->drawing->records.push_back(swf::StraightEdgeRecord{s.fill_x - s.x, s.fill_y - s.y});
                    s.closing = 1;
                }
            }
            return Undefined{};
        });
    };
    // The pen goes to a point; an edge is stroked with the current line and
    // bounds the open fill.
    auto edge_to = [](Interpreter& in, DisplayObject& c, int32_t cx, int32_t cy, int32_t x, int32_t y, bool curve) {
        DrawState& s = in.Drawing(c);
        swf::Shape& shape = *c.drawing;
        if (!s.started) {
            // The first edge starts where the pen is.
            swf::StyleChangeRecord r;
            r.move_to = std::make_pair(s.x, s.y);
            shape.records.push_back(r);
            s.started = true;
        }
        int32_t half = s.line ? shape.line_styles[s.line - 1].width / 2 : 0;
        Grow(s, shape, s.x, s.y, half);
        if (curve) {
            shape.records.push_back(swf::CurvedEdgeRecord{cx - s.x, cy - s.y, x - cx, y - cy});
            Grow(s, shape, cx, cy, half);
        } else {
            shape.records.push_back(swf::StraightEdgeRecord{x - s.x, y - s.y});
        }
        Grow(s, shape, x, y, half);
        s.x = x;
        s.y = y;
    };
    // An open fill is closed by a line back to where it began, not stroked.
    auto close_fill = [edge_to](Interpreter& in, DisplayObject& c) {
        DrawState& s = in.Drawing(c);
        if (!s.fill) return;
        if (s.x != s.fill_x || s.y != s.fill_y) {
            swf::StyleChangeRecord off;
            off.line_style = 0;
            c.drawing->records.push_back(off);
            edge_to(in, c, 0, 0, s.fill_x, s.fill_y, false);
            swf::StyleChangeRecord on;
            on.line_style = s.line;
            c.drawing->records.push_back(on);
        }
    };
    auto end_fill = [close_fill](Interpreter& in, DisplayObject& c) {
        DrawState& s = in.Drawing(c);
        if (!s.fill) return;
        close_fill(in, c);
        s.fill = 0;
        swf::StyleChangeRecord r;
        r.fill_style0 = 0;
        c.drawing->records.push_back(r);
    };
    auto begin_fill = [end_fill](Interpreter& in, DisplayObject& c, const swf::FillStyle* style) {
        end_fill(in, c);
        if (!style) return;
        DrawState& s = in.Drawing(c);
        c.drawing->fill_styles.push_back(*style);
        s.fill = uint32_t(c.drawing->fill_styles.size());
        s.fill_x = s.x;
        s.fill_y = s.y;
        swf::StyleChangeRecord r;
        r.move_to = std::make_pair(s.x, s.y);
        r.fill_style0 = s.fill;
        c.drawing->records.push_back(r);
        s.started = true;
    };

    method("moveTo", [close_fill](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        close_fill(in, c);
        DrawState& s = in.Drawing(c);
        s.x = Twips(in, Arg(args, 0));
        s.y = Twips(in, Arg(args, 1));
        s.fill_x = s.x;
        s.fill_y = s.y;
        swf::StyleChangeRecord r;
        r.move_to = std::make_pair(s.x, s.y);
        c.drawing->records.push_back(r);
        s.started = true;
    });
    method("lineTo", [edge_to](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        if (args.size() < 2) return;
        edge_to(in, c, 0, 0, Twips(in, args[0]), Twips(in, args[1]), false);
    });
    method("curveTo", [edge_to](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        if (args.size() < 4) return;
        edge_to(in, c, Twips(in, args[0]), Twips(in, args[1]), Twips(in, args[2]), Twips(in, args[3]), true);
    });
    method("lineStyle", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        DrawState& s = in.Drawing(c);
        Value thickness = Arg(args, 0);
        if (std::holds_alternative<Undefined>(thickness) || std::holds_alternative<Null>(thickness)) {
            s.line = 0;
        } else {
            swf::LineStyle line;
            double w = in.ToNumber(thickness);
            if (std::isnan(w)) w = 0;
            line.width = uint16_t(std::clamp(w, 0.0, 255.0) * 20.0);
            line.color = Color(in, Arg(args, 1), Arg(args, 2));
            line.pixel_hinting = in.ToBoolean(Arg(args, 3));
            std::string scale = in.ToString(Arg(args, 4));
            line.no_hscale = scale == "none" || scale == "vertical";
            line.no_vscale = scale == "none" || scale == "horizontal";
            std::string caps = in.ToString(Arg(args, 5));
            line.start_cap = line.end_cap = caps == "none" ? swf::CapStyle::None
                                            : caps == "square" ? swf::CapStyle::Square
                                                               : swf::CapStyle::Round;
            std::string joint = in.ToString(Arg(args, 6));
            line.join = joint == "miter" ? swf::JoinStyle::Miter : joint == "bevel" ? swf::JoinStyle::Bevel : swf::JoinStyle::Round;
            double miter = in.ToNumber(Arg(args, 7));
            line.miter_limit = std::isfinite(miter) ? std::clamp(miter, 1.0, 255.0) : 3.0;
            c.drawing->line_styles.push_back(line);
            s.line = uint32_t(c.drawing->line_styles.size());
        }
        swf::StyleChangeRecord r;
        r.line_style = s.line;
        c.drawing->records.push_back(r);
    });
    method("beginFill", [begin_fill](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        if (args.empty() || std::holds_alternative<Undefined>(args[0])) return begin_fill(in, c, nullptr);
        swf::FillStyle fill;
        fill.color = Color(in, args[0], Arg(args, 1));
        begin_fill(in, c, &fill);
    });
    method("beginGradientFill", [begin_fill](Interpreter& in, DisplayObject& c, std::vector<Value>& args) {
        std::string type = in.ToString(Arg(args, 0));
        auto array = [&](size_t i) -> ObjRef {
            auto* o = std::get_if<ObjRef>(&args[std::min(i, args.size() - 1)]);
            return i < args.size() && o && (*o)->kind == Kind::Array ? *o : nullptr;
        };
        if (args.size() < 5 || (type != "linear" && type != "radial")) return begin_fill(in, c, nullptr);
        ObjRef colors = array(1), alphas = array(2), ratios = array(3);
        if (!colors || !alphas || !ratios) return begin_fill(in, c, nullptr);
        swf::FillStyle fill;
        fill.type = type == "linear" ? swf::FillType::LinearGradient : swf::FillType::RadialGradient;
        size_t n = std::min({colors->elems.size(), alphas->elems.size(), ratios->elems.size(), size_t(15)});
        for (size_t i = 0; i < n; ++i) {
            swf::GradientRecord g;
            g.color = Color(in, colors->elems[i], alphas->elems[i]);
            double r = in.ToNumber(ratios->elems[i]);
            g.ratio = uint8_t(std::isnan(r) ? 0 : std::clamp(r, 0.0, 255.0));
            fill.gradient.records.push_back(g);
        }
        Value mv = args[4];
        auto num = [&](const char* name) { return in.ToNumber(in.Get(mv, name)); };
        swf::Matrix& m = fill.matrix;
        if (in.ToString(in.Get(mv, "matrixType")) == "box") {
            // A box in pixels with a rotation; the gradient square is 32768 twips wide.
            double w = num("w"), h = num("h"), r = num("r"), x = num("x"), y = num("y");
            if (std::isnan(r)) r = 0;
            double sx = w * 20.0 / 32768.0, sy = h * 20.0 / 32768.0;
            m.a = std::cos(r) * sx;
            m.b = std::sin(r) * sy;
            m.c = -std::sin(r) * sx;
            m.d = std::cos(r) * sy;
            m.tx = (x + w / 2) * 20.0;
            m.ty = (y + h / 2) * 20.0;
        } else if (std::holds_alternative<double>(in.Get(mv, "tx"))) {
            // A geometry matrix, from the gradient square in pixels to pixels.
            m.a = num("a");
            m.b = num("b");
            m.c = num("c");
            m.d = num("d");
            m.tx = num("tx") * 20.0;
            m.ty = num("ty") * 20.0;
        } else {
            // The 3x3 form maps a unit square centred on the origin to pixels.
            const double unit = 20.0 / 32768.0;
            m.a = num("a") * unit;
            m.b = num("b") * unit;
            m.c = num("d") * unit;
            m.d = num("e") * unit;
            m.tx = num("g") * 20.0;
            m.ty = num("h") * 20.0;
        }
        for (double* v : {&m.a, &m.b, &m.c, &m.d, &m.tx, &m.ty})
            if (!std::isfinite(*v)) *v = 0;
        std::string spread = in.ToString(Arg(args, 5));
        fill.gradient.spread = spread == "reflect" ? swf::SpreadMode::Reflect
                               : spread == "repeat" ? swf::SpreadMode::Repeat
                                                    : swf::SpreadMode::Pad;
        if (in.ToString(Arg(args, 6)) == "linearRGB") fill.gradient.interpolation = swf::InterpolationMode::LinearRgb;
        double focal = in.ToNumber(Arg(args, 7));
        if (fill.type == swf::FillType::RadialGradient && std::isfinite(focal) && focal != 0) {
            fill.type = swf::FillType::FocalRadialGradient;
            fill.gradient.focal_point = std::clamp(focal, -1.0, 1.0);
        }
        begin_fill(in, c, &fill);
    });
    method("endFill", [end_fill](Interpreter& in, DisplayObject& c, std::vector<Value>&) { end_fill(in, c); });
    method("clear", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) {
        c.drawing.reset();
        in.drawings_.erase(c.instance_id);
    });
}

}  // namespace qm::flash::avm1
