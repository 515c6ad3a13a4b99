// flash.geom: Point, Rectangle, Matrix, ColorTransform and Transform.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {
Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

ObjRef SelfObj(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o ? *o : nullptr;
}

double Num(Interpreter& in, const Value& o, const char* name) { return in.ToNumber(in.Get(o, name)); }

// Colour transform terms kept beside the object, in this order.
constexpr const char* kColorTerms[] = {"redMultiplier", "greenMultiplier", "blueMultiplier", "alphaMultiplier",
                                       "redOffset",     "greenOffset",     "blueOffset",     "alphaOffset"};

std::vector<Value>* ColorTerms(const Value& self) {
    ObjRef o = SelfObj(self);
    if (!o || o->kind != Kind::Plain || o->elems.size() != 8) return nullptr;
    return &o->elems;
}

// A 16-bit term of the display's colour transform, wrapped as the player stores it.
int16_t Wrap16(double v) {
    if (!std::isfinite(v)) return 0;
    return int16_t(uint16_t(int64_t(std::trunc(std::fmod(v, 65536.0)))));
}
// `m`, a matrix to the root's space, carried on by the root's own matrix.
swf::Matrix WithRoot(const DisplayObject& o, const swf::Matrix& m) {
    const DisplayObject* root = &o;
    for (int guard = 0; root->parent && guard < 256; ++guard) root = root->parent;
    return Interpreter::Concat(root->matrix, m);
}
}  // namespace

void Interpreter::InstallGeom() {
    ObjRef flash = NewObject();
    flash_package_ = flash;
    ObjRef geom = NewObject();
    Define(flash, "geom", geom, kDontEnum);
    // The package exists for movies of version 8 and later only.
    // What a script stores there is kept whatever the version.
    struct Package {
        Value value;
        bool set_by_script = false;
    };
    auto package = std::make_shared<Package>(Package{flash});
    Accessor(global_, "flash",
             [package](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
                 return in.version() >= 8 || package->set_by_script ? package->value : Value(Undefined{});
             },
             [package](Interpreter&, const Value&, std::vector<Value>& args) -> Value {
                 package->value = Arg(args, 0);
                 package->set_by_script = true;
                 return Undefined{};
             });
    if (Property* p = FindOwn(global_, "flash")) p->flags = kDontEnum;

    // Point.
    ObjRef point_proto = NewObject();
    ObjRef point_ctor = DefineClass("Point", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (args.empty()) {
            in.Set(self, "x", 0.0);
            in.Set(self, "y", 0.0);
        } else {
            in.Set(self, "x", Arg(args, 0));
            in.Set(self, "y", Arg(args, 1));
        }
        return Undefined{};
    }, point_proto, false, geom);
    std::weak_ptr<Object> point_weak = point_ctor;
    auto make_point = [point_weak](Interpreter& in, Value x, Value y) -> Value {
        ObjRef ctor = point_weak.lock();
        if (!ctor) return Undefined{};
        return in.Construct(ctor, {std::move(x), std::move(y)});
    };
    Method(point_proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return "(x=" + in.ToString(in.Get(self, "x")) + ", y=" + in.ToString(in.Get(self, "y")) + ")";
    });
    Accessor(point_proto, "length", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        double x = Num(in, self, "x"), y = Num(in, self, "y");
        return std::sqrt(x * x + y * y);
    });
    Method(point_proto, "add", [make_point](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value v = Arg(args, 0);
        return make_point(in, Num(in, self, "x") + Num(in, v, "x"), Num(in, self, "y") + Num(in, v, "y"));
    });
    Method(point_proto, "subtract", [make_point](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value v = Arg(args, 0);
        return make_point(in, Num(in, self, "x") - Num(in, v, "x"), Num(in, self, "y") - Num(in, v, "y"));
    });
    Method(point_proto, "equals", [point_weak](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value v = Arg(args, 0);
        ObjRef ctor = point_weak.lock();
        if (!ctor || !in.InstanceOf(v, ctor)) return false;
        return Num(in, self, "x") == Num(in, v, "x") && Num(in, self, "y") == Num(in, v, "y");
    });
    Method(point_proto, "clone", [make_point](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return make_point(in, in.Get(self, "x"), in.Get(self, "y"));
    });
    Method(point_proto, "offset", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        in.Set(self, "x", Num(in, self, "x") + in.ToNumber(Arg(args, 0)));
        in.Set(self, "y", Num(in, self, "y") + in.ToNumber(Arg(args, 1)));
        return Undefined{};
    });
    Method(point_proto, "normalize", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double x = Num(in, self, "x"), y = Num(in, self, "y"), len = std::sqrt(x * x + y * y);
        if (len > 0) {
            double k = in.ToNumber(Arg(args, 0)) / len;
            in.Set(self, "x", x * k);
            in.Set(self, "y", y * k);
        }
        return Undefined{};
    });
    Method(point_ctor, "distance", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // Through the first point's own methods, as a movie may have replaced them.
        Value a = Arg(args, 0);
        Value sub = in.Get(a, "subtract");
        if (!std::holds_alternative<ObjRef>(sub)) return Undefined{};
        Value d = in.Call(sub, a, {Arg(args, 1)});
        return in.Get(d, "length");
    });
    Method(point_ctor, "interpolate", [make_point](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        Value a = Arg(args, 0), b = Arg(args, 1);
        double f = in.ToNumber(Arg(args, 2));
        double bx = Num(in, b, "x"), by = Num(in, b, "y");
        return make_point(in, bx + f * (Num(in, a, "x") - bx), by + f * (Num(in, a, "y") - by));
    });
    Method(point_ctor, "polar", [make_point](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        double len = in.ToNumber(Arg(args, 0)), angle = in.ToNumber(Arg(args, 1));
        return make_point(in, len * std::cos(angle), len * std::sin(angle));
    });

    // Rectangle.
    ObjRef rect_proto = NewObject();
    ObjRef rect_ctor = DefineClass("Rectangle", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        const char* names[] = {"x", "y", "width", "height"};
        for (size_t i = 0; i < 4; ++i) in.Set(self, names[i], args.empty() ? Value(0.0) : Arg(args, i));
        return Undefined{};
    }, rect_proto, false, geom);
    std::weak_ptr<Object> rect_weak = rect_ctor;
    auto make_rect = [rect_weak](Interpreter& in, Value x, Value y, Value w, Value h) -> Value {
        ObjRef ctor = rect_weak.lock();
        if (!ctor) return Undefined{};
        return in.Construct(ctor, {std::move(x), std::move(y), std::move(w), std::move(h)});
    };
    Method(rect_proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return "(x=" + in.ToString(in.Get(self, "x")) + ", y=" + in.ToString(in.Get(self, "y")) +
               ", w=" + in.ToString(in.Get(self, "width")) + ", h=" + in.ToString(in.Get(self, "height")) + ")";
    });
    // The far edges move alone: the size changes, the position stays.
    auto edge = [&](const char* name, const char* pos, const char* size, bool near) {
        std::string p = pos, s = size;
        if (near) {
            Accessor(rect_proto, name,
                     [p](Interpreter& in, const Value& self, std::vector<Value>&) -> Value { return in.Get(self, p); },
                     [p, s](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                         double far = Num(in, self, p.c_str()) + Num(in, self, s.c_str());
                         in.Set(self, s, far - in.ToNumber(Arg(args, 0)));
                         in.Set(self, p, Arg(args, 0));
                         return Undefined{};
                     });
        } else {
            Accessor(rect_proto, name,
                     [p, s](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                         return Num(in, self, p.c_str()) + Num(in, self, s.c_str());
                     },
                     [p, s](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                         in.Set(self, s, in.ToNumber(Arg(args, 0)) - Num(in, self, p.c_str()));
                         return Undefined{};
                     });
        }
    };
    edge("left", "x", "width", true);
    edge("top", "y", "height", true);
    edge("right", "x", "width", false);
    edge("bottom", "y", "height", false);
    Accessor(rect_proto, "topLeft",
             [make_point](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 return make_point(in, in.Get(self, "x"), in.Get(self, "y"));
             },
             [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 Value p = Arg(args, 0);
                 double right = Num(in, self, "x") + Num(in, self, "width");
                 double bottom = Num(in, self, "y") + Num(in, self, "height");
                 in.Set(self, "width", right - Num(in, p, "x"));
                 in.Set(self, "height", bottom - Num(in, p, "y"));
                 in.Set(self, "x", in.Get(p, "x"));
                 in.Set(self, "y", in.Get(p, "y"));
                 return Undefined{};
             });
    Accessor(rect_proto, "bottomRight",
             [make_point](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 return make_point(in, Num(in, self, "x") + Num(in, self, "width"),
                                   Num(in, self, "y") + Num(in, self, "height"));
             },
             [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 Value p = Arg(args, 0);
                 in.Set(self, "width", Num(in, p, "x") - Num(in, self, "x"));
                 in.Set(self, "height", Num(in, p, "y") - Num(in, self, "y"));
                 return Undefined{};
             });
    Accessor(rect_proto, "size",
             [make_point](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 return make_point(in, in.Get(self, "width"), in.Get(self, "height"));
             },
             [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 in.Set(self, "width", in.Get(Arg(args, 0), "x"));
                 in.Set(self, "height", in.Get(Arg(args, 0), "y"));
                 return Undefined{};
             });
    Method(rect_proto, "clone", [make_rect](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return make_rect(in, in.Get(self, "x"), in.Get(self, "y"), in.Get(self, "width"), in.Get(self, "height"));
    });
    Method(rect_proto, "isEmpty", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        double w = Num(in, self, "width"), h = Num(in, self, "height");
        return !(w > 0) || !(h > 0);
    });
    Method(rect_proto, "setEmpty", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        for (const char* n : {"x", "y", "width", "height"}) in.Set(self, n, 0.0);
        return Undefined{};
    });
    // Comparisons as scripts make them: one with NaN gives undefined, and the
    // first that is not true is the answer.
    struct Tests {
        Value result = true;
        void Add(double a, double b, bool less, bool or_equal) {
            if (!std::holds_alternative<bool>(result) || !std::get<bool>(result)) return;
            if (std::isnan(a) || std::isnan(b)) result = Undefined{};
            else result = less ? (or_equal ? a <= b : a < b) : (or_equal ? a >= b : a > b);
        }
    };
    auto contains = [](Interpreter& in, const Value& r, double x, double y) -> Value {
        double rx = Num(in, r, "x"), ry = Num(in, r, "y");
        Tests t;
        t.Add(x, rx, false, true);
        t.Add(x, rx + Num(in, r, "width"), true, false);
        t.Add(y, ry, false, true);
        t.Add(y, ry + Num(in, r, "height"), true, false);
        return t.result;
    };
    Method(rect_proto, "contains", [contains](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        return contains(in, self, in.ToNumber(Arg(args, 0)), in.ToNumber(Arg(args, 1)));
    });
    Method(rect_proto, "containsPoint", [contains](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        return contains(in, self, Num(in, Arg(args, 0), "x"), Num(in, Arg(args, 0), "y"));
    });
    Method(rect_proto, "containsRectangle", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value o = Arg(args, 0);
        double x = Num(in, self, "x"), y = Num(in, self, "y");
        double r = x + Num(in, self, "width"), b = y + Num(in, self, "height");
        double ox = Num(in, o, "x"), oy = Num(in, o, "y");
        double orr = ox + Num(in, o, "width"), ob = oy + Num(in, o, "height");
        Tests t;
        t.Add(ox, x, false, true);
        t.Add(oy, y, false, true);
        t.Add(orr, r, true, true);
        t.Add(ob, b, true, true);
        return t.result;
    });
    // Math.min and Math.max: NaN wins.
    auto lo = [](double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::min(a, b); };
    auto hi = [](double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::max(a, b); };
    auto overlap = [lo, hi](Interpreter& in, const Value& self, const Value& o, double (&e)[4]) {
        e[0] = hi(Num(in, self, "x"), Num(in, o, "x"));
        e[1] = hi(Num(in, self, "y"), Num(in, o, "y"));
        e[2] = lo(Num(in, self, "x") + Num(in, self, "width"), Num(in, o, "x") + Num(in, o, "width"));
        e[3] = lo(Num(in, self, "y") + Num(in, self, "height"), Num(in, o, "y") + Num(in, o, "height"));
        return e[2] > e[0] && e[3] > e[1];
    };
    Method(rect_proto, "intersects", [overlap](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double e[4];
        return overlap(in, self, Arg(args, 0), e);
    });
    Method(rect_proto, "intersection", [overlap, make_rect](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double e[4];
        if (!overlap(in, self, Arg(args, 0), e)) return make_rect(in, 0.0, 0.0, 0.0, 0.0);
        return make_rect(in, e[0], e[1], e[2] - e[0], e[3] - e[1]);
    });
    Method(rect_proto, "union", [lo, hi, make_rect](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value o = Arg(args, 0);
        double x = lo(Num(in, self, "x"), Num(in, o, "x"));
        double y = lo(Num(in, self, "y"), Num(in, o, "y"));
        double r = hi(Num(in, self, "x") + Num(in, self, "width"), Num(in, o, "x") + Num(in, o, "width"));
        double b = hi(Num(in, self, "y") + Num(in, self, "height"), Num(in, o, "y") + Num(in, o, "height"));
        return make_rect(in, x, y, r - x, b - y);
    });
    auto inflate = [](Interpreter& in, const Value& self, double dx, double dy) {
        in.Set(self, "x", Num(in, self, "x") - dx);
        in.Set(self, "width", Num(in, self, "width") + 2 * dx);
        in.Set(self, "y", Num(in, self, "y") - dy);
        in.Set(self, "height", Num(in, self, "height") + 2 * dy);
    };
    Method(rect_proto, "inflate", [inflate](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        inflate(in, self, in.ToNumber(Arg(args, 0)), in.ToNumber(Arg(args, 1)));
        return Undefined{};
    });
    Method(rect_proto, "inflatePoint", [inflate](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        inflate(in, self, Num(in, Arg(args, 0), "x"), Num(in, Arg(args, 0), "y"));
        return Undefined{};
    });
    Method(rect_proto, "offset", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        in.Set(self, "x", Num(in, self, "x") + in.ToNumber(Arg(args, 0)));
        in.Set(self, "y", Num(in, self, "y") + in.ToNumber(Arg(args, 1)));
        return Undefined{};
    });
    Method(rect_proto, "offsetPoint", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        in.Set(self, "x", Num(in, self, "x") + Num(in, Arg(args, 0), "x"));
        in.Set(self, "y", Num(in, self, "y") + Num(in, Arg(args, 0), "y"));
        return Undefined{};
    });
    Method(rect_proto, "equals", [rect_weak](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value o = Arg(args, 0);
        ObjRef ctor = rect_weak.lock();
        if (!ctor || !in.InstanceOf(o, ctor)) return false;
        for (const char* n : {"x", "y", "width", "height"})
            if (!(Num(in, self, n) == Num(in, o, n))) return false;
        return true;
    });

    // Matrix.
    ObjRef matrix_proto = NewObject();
    static constexpr const char* kTerms[] = {"a", "b", "c", "d", "tx", "ty"};
    ObjRef matrix_ctor = DefineClass("Matrix", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        static const double identity[] = {1, 0, 0, 1, 0, 0};
        for (size_t i = 0; i < 6; ++i) in.Set(self, kTerms[i], args.empty() ? Value(identity[i]) : Arg(args, i));
        return Undefined{};
    }, matrix_proto, false, geom);
    std::weak_ptr<Object> matrix_weak = matrix_ctor;
    auto read = [](Interpreter& in, const Value& m) {
        swf::Matrix r;
        r.a = Num(in, m, "a"), r.b = Num(in, m, "b"), r.c = Num(in, m, "c"), r.d = Num(in, m, "d");
        r.tx = Num(in, m, "tx"), r.ty = Num(in, m, "ty");
        return r;
    };
    auto write = [](Interpreter& in, const Value& self, const swf::Matrix& m) {
        const double v[] = {m.a, m.b, m.c, m.d, m.tx, m.ty};
        for (size_t i = 0; i < 6; ++i) in.Set(self, kTerms[i], v[i]);
    };
    // `m` followed by `n`.
    auto then = [](const swf::Matrix& m, const swf::Matrix& n) { return Interpreter::Concat(n, m); };
    Method(matrix_proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        std::string out = "(";
        for (size_t i = 0; i < 6; ++i) out += std::string(i ? ", " : "") + kTerms[i] + "=" + in.ToString(in.Get(self, kTerms[i]));
        return out + ")";
    });
    Method(matrix_proto, "identity", [write](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        write(in, self, swf::Matrix{});
        return Undefined{};
    });
    Method(matrix_proto, "clone", [matrix_weak](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        ObjRef ctor = matrix_weak.lock();
        if (!ctor) return Undefined{};
        std::vector<Value> terms;
        for (const char* t : kTerms) terms.push_back(in.Get(self, t));
        return in.Construct(ctor, std::move(terms));
    });
    Method(matrix_proto, "concat", [read, write, then](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        write(in, self, then(read(in, self), read(in, Arg(args, 0))));
        return Undefined{};
    });
    Method(matrix_proto, "translate", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        in.Set(self, "tx", Num(in, self, "tx") + in.ToNumber(Arg(args, 0)));
        in.Set(self, "ty", Num(in, self, "ty") + in.ToNumber(Arg(args, 1)));
        return Undefined{};
    });
    Method(matrix_proto, "scale", [read, write, then](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        swf::Matrix s;
        s.a = in.ToNumber(Arg(args, 0));
        s.d = in.ToNumber(Arg(args, 1));
        write(in, self, then(read(in, self), s));
        return Undefined{};
    });
    Method(matrix_proto, "rotate", [read, write, then](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double r = in.ToNumber(Arg(args, 0));
        swf::Matrix s{std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0};
        write(in, self, then(read(in, self), s));
        return Undefined{};
    });
    Method(matrix_proto, "invert", [read, write](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        swf::Matrix m = read(in, self), r;
        double det = m.a * m.d - m.b * m.c;
        if (det == 0) {
            write(in, self, swf::Matrix{});
            return Undefined{};
        }
        r.a = m.d / det;
        r.b = -m.b / det;
        r.c = -m.c / det;
        r.d = m.a / det;
        r.tx = -(r.a * m.tx + r.c * m.ty);
        r.ty = -(r.b * m.tx + r.d * m.ty);
        write(in, self, r);
        return Undefined{};
    });
    auto box = [write](Interpreter& in, const Value& self, std::vector<Value>& args, double unit, bool gradient) {
        double sx = in.ToNumber(Arg(args, 0)) / unit, sy = in.ToNumber(Arg(args, 1)) / unit;
        Value rv = Arg(args, 2);
        double r = gradient && std::holds_alternative<Undefined>(rv) ? 0.0 : in.ToNumber(rv);
        auto offset = [&](size_t i) { return i < args.size() ? in.ToNumber(args[i]) : 0.0; };
        swf::Matrix m{std::cos(r) * sx, std::sin(r) * sy, -std::sin(r) * sx, std::cos(r) * sy, offset(3), offset(4)};
        if (gradient) {
            m.tx += in.ToNumber(Arg(args, 0)) / 2;
            m.ty += in.ToNumber(Arg(args, 1)) / 2;
        }
        write(in, self, m);
    };
    Method(matrix_proto, "createBox", [box](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        box(in, self, args, 1.0, false);
        return Undefined{};
    });
    Method(matrix_proto, "createGradientBox", [box](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        // The gradient square is 1638.4 pixels wide.
        box(in, self, args, 1638.4, true);
        return Undefined{};
    });
    auto map_point = [make_point, read](bool delta) {
        return [make_point, read, delta](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            swf::Matrix m = read(in, self);
            double x = Num(in, Arg(args, 0), "x"), y = Num(in, Arg(args, 0), "y");
            return make_point(in, m.a * x + m.c * y + (delta ? 0 : m.tx), m.b * x + m.d * y + (delta ? 0 : m.ty));
        };
    };
    Method(matrix_proto, "transformPoint", map_point(false));
    Method(matrix_proto, "deltaTransformPoint", map_point(true));

    // ColorTransform: terms held beside the object, seen through accessors.
    ObjRef ct_proto = NewObject();
    ObjRef ct_ctor = DefineClass("ColorTransform", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef o = SelfObj(self);
        if (!o || o->kind != Kind::Plain) return Undefined{};
        o->elems.assign({1.0, 1.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0});
        if (!args.empty())
            for (size_t i = 0; i < 8; ++i) o->elems[i] = in.ToNumber(Arg(args, i));
        return Undefined{};
    }, ct_proto, false, geom);
    // Defined in the order a for-in over an instance reports them, backwards.
    for (size_t i : {3, 0, 1, 2, 7, 4, 5, 6}) {
        Accessor(ct_proto, kColorTerms[i],
                 [i](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
                     auto* t = ColorTerms(self);
                     return t ? (*t)[i] : Value(Undefined{});
                 },
                 [i](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                     if (auto* t = ColorTerms(self)) (*t)[i] = in.ToNumber(Arg(args, 0));
                     return Undefined{};
                 });
    }
    Accessor(ct_proto, "rgb",
             [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 auto* t = ColorTerms(self);
                 if (!t) return Undefined{};
                 auto term = [&](size_t i) { return uint32_t(in.ToInt32((*t)[i])); };
                 return double((term(4) << 16) | (term(5) << 8) | term(6));
             },
             [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 auto* t = ColorTerms(self);
                 if (!t) return Undefined{};
                 uint32_t rgb = uint32_t(in.ToInt32(Arg(args, 0)));
                 (*t)[0] = (*t)[1] = (*t)[2] = 0.0;
                 (*t)[4] = double((rgb >> 16) & 255);
                 (*t)[5] = double((rgb >> 8) & 255);
                 (*t)[6] = double(rgb & 255);
                 return Undefined{};
             });
    Method(ct_proto, "concat", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* t = ColorTerms(self);
        auto* o = ColorTerms(Arg(args, 0));
        if (!t || !o) return Undefined{};
        // This transform applied after the other one.
        for (size_t i = 0; i < 4; ++i) {
            double m = in.ToNumber((*t)[i]);
            (*t)[i + 4] = in.ToNumber((*t)[i + 4]) + m * in.ToNumber((*o)[i + 4]);
            (*t)[i] = m * in.ToNumber((*o)[i]);
        }
        return Undefined{};
    });
    Method(ct_proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        std::string out = "(";
        for (size_t i = 0; i < 8; ++i)
            out += std::string(i ? ", " : "") + kColorTerms[i] + "=" + in.ToString(in.Get(self, kColorTerms[i]));
        return out + ")";
    });
    // The prototype's members show in a for-in, unlike other built-ins'.
    for (auto& p : ct_proto->props)
        if (p.name != "constructor") p.flags &= uint16_t(~kDontEnum);
    std::weak_ptr<Object> ct_weak = ct_ctor;

    // Transform: a view of a clip's matrix and colour; the clip is held beside the object.
    ObjRef tr_proto = NewObject();
    std::weak_ptr<Object> tr_weak = tr_proto;
    ObjRef tr_ctor = NewFunction([tr_weak](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        ObjRef clip = SelfObj(Arg(args, 0));
        if (!clip || !in.ClipOf(clip)) return Undefined{};
        ObjRef t = in.NewObject(tr_weak.lock());
        t->elems.push_back(clip);
        return t;
    }, true);
    Define(tr_ctor, "prototype", tr_proto, kDontEnum | kDontDelete);
    Define(tr_proto, "constructor", tr_ctor, kDontEnum);
    Define(geom, "Transform", tr_ctor, kDontEnum);
    auto clip_of = [](Interpreter& in, const Value& self) -> DisplayObject* {
        ObjRef o = SelfObj(self);
        if (!o || o->kind != Kind::Plain || o->elems.size() != 1) return nullptr;
        ObjRef clip = SelfObj(o->elems[0]);
        return clip ? in.ClipOf(clip) : nullptr;
    };
    auto new_matrix = [matrix_weak](Interpreter& in, const swf::Matrix& m) -> Value {
        ObjRef ctor = matrix_weak.lock();
        if (!ctor) return Undefined{};
        return in.Construct(ctor, {m.a, m.b, m.c, m.d, m.tx / 20.0, m.ty / 20.0});
    };
    auto new_color = [ct_weak](Interpreter& in, const swf::ColorTransform& c) -> Value {
        ObjRef ctor = ct_weak.lock();
        if (!ctor) return Undefined{};
        return in.Construct(ctor, {c.r_mult / 256.0, c.g_mult / 256.0, c.b_mult / 256.0, c.a_mult / 256.0,
                                   double(c.r_add), double(c.g_add), double(c.b_add), double(c.a_add)});
    };
    Accessor(tr_proto, "matrix",
             [clip_of, new_matrix](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 return c ? new_matrix(in, c->matrix) : Value(Undefined{});
             },
             [clip_of, read, matrix_weak](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 ObjRef ctor = matrix_weak.lock();
                 if (!c || !ctor || !in.InstanceOf(Arg(args, 0), ctor)) return Undefined{};
                 swf::Matrix m = read(in, Arg(args, 0));
                 if (!std::isfinite(m.a) || !std::isfinite(m.b) || !std::isfinite(m.c) || !std::isfinite(m.d)) return Undefined{};
                 m.tx = std::isfinite(m.tx) ? m.tx * 20.0 : 0.0;
                 m.ty = std::isfinite(m.ty) ? m.ty * 20.0 : 0.0;
                 c->matrix = m;
                 c->script_moved = true;
                 return Undefined{};
             });
    Accessor(tr_proto, "concatenatedMatrix",
             [clip_of, new_matrix](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 return c ? new_matrix(in, WithRoot(*c, Interpreter::ToStage(*c))) : Value(Undefined{});
             });
    Accessor(tr_proto, "colorTransform",
             [clip_of, new_color](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 return c ? new_color(in, c->color_transform) : Value(Undefined{});
             },
             [clip_of](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 auto* t = ColorTerms(Arg(args, 0));
                 if (!c || !t) return Undefined{};
                 auto& ct = c->color_transform;
                 int16_t* mults[] = {&ct.r_mult, &ct.g_mult, &ct.b_mult, &ct.a_mult};
                 int16_t* adds[] = {&ct.r_add, &ct.g_add, &ct.b_add, &ct.a_add};
                 for (size_t i = 0; i < 4; ++i) {
                     *mults[i] = Wrap16(in.ToNumber((*t)[i]) * 256.0);
                     *adds[i] = Wrap16(in.ToNumber((*t)[i + 4]));
                 }
                 c->script_moved = true;
                 return Undefined{};
             });
    Accessor(tr_proto, "concatenatedColorTransform",
             [clip_of, new_color](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 if (!c) return Undefined{};
                 // From the clip outwards: each parent's transform applied after.
                 swf::ColorTransform r = c->color_transform;
                 for (DisplayObject* p = c->parent; p; p = p->parent) {
                     const auto& o = p->color_transform;
                     auto apply = [](int16_t& m, int16_t& a, int16_t om, int16_t oa) {
                         // Shifts, not divisions: negative terms round down as the player's do.
                         a = int16_t(((int32_t(a) * om) >> 8) + oa);
                         m = int16_t((int32_t(m) * om) >> 8);
                     };
                     apply(r.r_mult, r.r_add, o.r_mult, o.r_add);
                     apply(r.g_mult, r.g_add, o.g_mult, o.g_add);
                     apply(r.b_mult, r.b_add, o.b_mult, o.b_add);
                     apply(r.a_mult, r.a_add, o.a_mult, o.a_add);
                 }
                 return new_color(in, r);
             });
    Accessor(tr_proto, "pixelBounds",
             [clip_of, make_rect](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 DisplayObject* c = clip_of(in, self);
                 if (!c) return Undefined{};
                 Bounds b = in.BoundsIn(*c, nullptr);
                 if (b.empty) return make_rect(in, 0.0, 0.0, 0.0, 0.0);
                 // The root's own placement moves everything on the stage.
                 swf::Matrix r = WithRoot(*c, swf::Matrix{});
                 Bounds s;
                 for (double x : {b.x0, b.x1})
                     for (double y : {b.y0, b.y1}) {
                         double px = r.a * x + r.c * y + r.tx, py = r.b * x + r.d * y + r.ty;
                         if (s.empty) s = {px, py, px, py, false};
                         s.x0 = std::min(s.x0, px), s.y0 = std::min(s.y0, py);
                         s.x1 = std::max(s.x1, px), s.y1 = std::max(s.y1, py);
                     }
                 b = s;
                 double x0 = std::floor(b.x0 / 20.0), y0 = std::floor(b.y0 / 20.0);
                 return make_rect(in, x0, y0, std::ceil(b.x1 / 20.0) - x0, std::ceil(b.y1 / 20.0) - y0);
             });

    // MovieClip.transform: a new view at each read; a Transform given copies its clip's state.
    Accessor(clip_proto_, "transform",
             [tr_ctor](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                 if (in.version() < 8) return Undefined{};
                 return in.Construct(tr_ctor, {self});
             },
             [clip_of](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 ObjRef me = SelfObj(self);
                 DisplayObject* c = me ? in.ClipOf(me) : nullptr;
                 DisplayObject* from = clip_of(in, Arg(args, 0));
                 if (!c || !from || c == from) return Undefined{};
                 c->matrix = from->matrix;
                 c->color_transform = from->color_transform;
                 c->script_moved = true;
                 return Undefined{};
             });
}

}  // namespace qm::flash::avm1
