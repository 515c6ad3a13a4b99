// Built-in objects and classes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/platform_classes.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {
Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

// Scripts count and index texts in UTF-16 units, as the original player holds
// them; the texts themselves are kept as UTF-8. A byte that starts no valid
// character reads as U+FFFD.
std::u16string ToUnits(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 && c < 0xF0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        uint32_t cp = 0xFFFD;
        if (ok) {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) cp = 0xFFFD;
            i += n;
        } else {
            ++i;
        }
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

// Back to UTF-8: a surrogate pair is one character, a lone half U+FFFD.
std::string FromUnits(std::u16string_view u) {
    std::string s;
    s.reserve(u.size());
    for (size_t i = 0; i < u.size(); ++i) {
        uint32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            s.push_back(char(c));
        } else if (c < 0x800) {
            s.push_back(char(0xC0 | (c >> 6)));
            s.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            s.push_back(char(0xE0 | (c >> 12)));
            s.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            s.push_back(char(0x80 | (c & 0x3F)));
        } else {
            s.push_back(char(0xF0 | (c >> 18)));
            s.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            s.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            s.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return s;
}

// A character index: NaN is 0; beyond 32 bits it wraps as an integer does.
bool UnitIndex(Interpreter& in, const Value& v, size_t size, size_t& index) {
    double d = in.ToNumber(v);
    if (std::isnan(d)) d = 0;
    int32_t i = std::isfinite(d) && std::fabs(d) >= 2147483648.0 ? in.ToInt32(d) : int32_t(std::clamp(d, -1.0, 2147483647.0));
    if (i < 0 || size_t(i) >= size) return false;
    index = size_t(i);
    return true;
}

// The holes of an array as a mask as long as its elements, for methods that move them.
std::vector<bool> HoleMask(const Object& a) {
    std::vector<bool> m = a.holes;
    m.resize(a.elems.size(), false);
    return m;
}
void SetHoleMask(Object& a, std::vector<bool> m) {
    m.resize(a.elems.size(), false);
    while (!m.empty() && !m.back()) m.pop_back();
    a.holes = std::move(m);
}

std::string JoinArray(Interpreter& in, const ObjRef& a, const std::string& sep) {
    std::string out;
    for (size_t i = 0; i < a->elems.size(); ++i) {
        if (i) out += sep;
        // A hole shows what the prototypes hold at its index.
        const Value& v = IsHole(*a, i) ? in.GetOf(a, std::to_string(i), a) : a->elems[i];
        if (std::holds_alternative<Undefined>(v)) out += in.version() >= 7 ? "undefined" : "";
        else out += in.ToString(v);
        in.CheckTextSize(out.size());
    }
    return out;
}

ObjRef SelfObj(const Value& self) {
    auto* o = std::get_if<ObjRef>(&self);
    return o ? *o : nullptr;
}
}  // namespace

Interpreter::Interpreter(const Avm1Options& options) : rng_(options.random_seed) {
    if (options.frame_ms > 0) frame_ms_ = options.frame_ms;
    start_ms_ = options.start_time_ms >= 0
                    ? options.start_time_ms
                    : double(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch()).count());
    InstallBuiltins();
}

// Objects refer to each other in cycles (a function and its prototype);
// they are all let go here.
Interpreter::~Interpreter() {
    intervals_.clear();
    for (auto& weak : objects_) {
        if (ObjRef o = weak.lock()) {
            o->props.clear();
            o->proto = nullptr;
            o->elems.clear();
            o->code = nullptr;
            o->native = nullptr;
            o->primitive = Undefined{};
            o->super_this = Undefined{};
            o->super_home = nullptr;
            o->xml = nullptr;
            o->sound = nullptr;
            o->bitmap = nullptr;
        }
    }
}

void Interpreter::InstallBuiltins() {
    object_proto_ = NewObject();
    object_proto_->proto = nullptr;
    function_proto_ = NewObject();
    function_proto_->proto = object_proto_;
    global_ = NewObject();
    global_->proto = nullptr;  // _global inherits nothing
    array_proto_ = NewObject();
    string_proto_ = NewObject();
    number_proto_ = NewObject();
    boolean_proto_ = NewObject();
    clip_proto_ = NewObject();

    auto make_class = [&](const std::string& name, NativeFn fn, const ObjRef& proto, bool constructs) {
        ObjRef c = NewFunction(std::move(fn), constructs);
        Define(c, "prototype", proto, kDontEnum | kDontDelete);
        Define(proto, "constructor", c, kDontEnum);
        Define(global_, name, c, kDontEnum);
        return c;
    };

    // Object
    // Object(v) wraps a primitive in its class's object; called as a function with
    // nothing to wrap it gives an object that inherits nothing.
    object_ctor_ = make_class("Object", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        const bool constructing = SelfObj(self).get() == in.constructing_ && in.constructing_;
        in.constructing_ = nullptr;
        if (!args.empty()) {
            if (std::holds_alternative<ObjRef>(args[0])) return args[0];
            if (ObjRef wrapped = in.ToObject(args[0])) return wrapped;
        }
        ObjRef o = in.NewObject();
        if (!constructing) o->proto = nullptr;
        return o;
    }, object_proto_, true);
    Method(object_proto_, "toString", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        auto o = SelfObj(self);
        return std::string(o && o->kind == Kind::Function ? "[type Function]" : "[object Object]");
    });
    Method(object_proto_, "valueOf", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value { return self; });
    Method(object_proto_, "hasOwnProperty", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        if (!o || args.empty()) return false;
        std::string name = in.ToString(args[0]);
        if (in.FindOwn(o, name)) return true;
        if (in.KeyEq(name, "__proto__")) return o->proto != nullptr;
        return (o->kind == Kind::Array && in.HasProperty(o, name) && !in.HasProperty(o->proto, name));
    });
    Method(object_proto_, "isPropertyEnumerable", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        Property* p = o ? in.FindOwn(o, in.ToString(Arg(args, 0))) : nullptr;
        return p && !(p->flags & kDontEnum);
    });
    Method(object_proto_, "isPrototypeOf", [](Interpreter&, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        if (!o || args.empty()) return false;
        auto* v = std::get_if<ObjRef>(&args[0]);
        if (!v) return false;
        for (ObjRef q = (*v)->proto; q; q = q->proto)
            if (q == o) return true;
        return false;
    });
    Method(object_proto_, "addProperty", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        std::string name = in.ToString(Arg(args, 0));
        Value getter = Arg(args, 1), setter = Arg(args, 2);
        auto* go = std::get_if<ObjRef>(&getter);
        if (!o || name.empty() || !go || (*go)->kind != Kind::Function) return false;
        // A read-only property still names its setter: null, not a missing argument.
        auto* so = std::get_if<ObjRef>(&setter);
        if (!std::holds_alternative<Null>(setter) && !(so && (*so)->kind == Kind::Function)) return false;
        Property* p = in.FindOwn(o, name);
        if (!p) {
            o->props.push_back(Property{name, Undefined{}, nullptr, nullptr, 0});
            p = &o->props.back();
        }
        p->getter = *go;
        p->setter = so && (*so)->kind == Kind::Function ? *so : nullptr;
        return true;
    });
    Method(object_proto_, "watch", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        if (!o || args.size() < 2) return false;
        auto* fn = std::get_if<ObjRef>(&args[1]);
        if (!fn || (*fn)->kind != Kind::Function) return false;
        std::string name = in.ToString(args[0]);
        if (name.empty()) return false;
        for (Watch& w : o->watches)
            if (in.KeyEq(w.name, name)) {
                w.fn = *fn;
                w.data = Arg(args, 2);
                return true;
            }
        o->watches.push_back(Watch{name, *fn, Arg(args, 2)});
        return true;
    });
    Method(object_proto_, "unwatch", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto o = SelfObj(self);
        if (!o || args.empty()) return false;
        std::string name = in.ToString(args[0]);
        for (auto it = o->watches.begin(); it != o->watches.end(); ++it)
            if (in.KeyEq(it->name, name)) {
                o->watches.erase(it);
                return true;
            }
        return false;
    });
    // The class of the clips made from an exported symbol; anything but a function forgets it.
    Method(object_ctor_, "registerClass", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return false;
        std::string name = in.ToString(args[0]);
        std::erase_if(in.registered_classes_, [&](const auto& c) { return in.KeyEq(c.first, name); });
        if (auto* f = std::get_if<ObjRef>(&args[1]); f && (*f)->kind == Kind::Function)
            in.registered_classes_.emplace_back(name, *f);
        return true;
    });

    // Function
    // Called as a function it hands back its argument, or an object with no prototype.
    ObjRef function_ctor = make_class("Function", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (!args.empty()) return args[0];
        ObjRef bare = in.NewObject();
        bare->proto = nullptr;
        return bare;
    }, function_proto_, true);
    (void)function_ctor;
    // call and apply without an object for `this` run the function on _global.
    auto this_for_call = [](Interpreter& in, const Value& v) -> Value {
        if (std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v)) return in.global_;
        return v;
    };
    Method(function_proto_, "call", [this_for_call](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value this_v = this_for_call(in, Arg(args, 0));
        std::vector<Value> rest(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
        return in.Call(self, this_v, std::move(rest));
    });
    Method(function_proto_, "apply", [this_for_call](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value this_v = this_for_call(in, Arg(args, 0));
        std::vector<Value> rest;
        // Any object with a length serves as the argument list.
        if (args.size() > 1)
            if (auto* a = std::get_if<ObjRef>(&args[1]); a && *a) {
                if ((*a)->kind == Kind::Array) {
                    rest = (*a)->elems;
                } else {
                    double n = in.ToNumber(in.GetOf(*a, "length", args[1]));
                    if (n > 0) {
                        size_t count = size_t(std::min(n, 65536.0));  // a huge length is no reason to hang
                        for (size_t i = 0; i < count; ++i) rest.push_back(in.GetOf(*a, std::to_string(i), args[1]));
                    }
                }
            }
        return in.Call(self, this_v, std::move(rest));
    });

    // Array
    array_ctor_ = make_class("Array", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() == 1 && std::holds_alternative<double>(args[0])) {
            double n = std::get<double>(args[0]);
            auto a = in.NewArray();
            if (n >= 0 && n <= 10000000) ResizeArray(*a, size_t(n));
            return a;
        }
        return in.NewArray(args);
    }, array_proto_, true);
    Define(array_ctor_, "CASEINSENSITIVE", 1.0, kDontEnum);
    Define(array_ctor_, "DESCENDING", 2.0, kDontEnum);
    Define(array_ctor_, "UNIQUESORT", 4.0, kDontEnum);
    Define(array_ctor_, "RETURNINDEXEDARRAY", 8.0, kDontEnum);
    Define(array_ctor_, "NUMERIC", 16.0, kDontEnum);
    auto array_method = [&](const std::string& name, std::function<Value(Interpreter&, ObjRef, std::vector<Value>&)> fn) {
        Method(array_proto_, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto o = SelfObj(self);
            if (!o || o->kind != Kind::Array) return Undefined{};
            return fn(in, o, args);
        });
    };
    array_method("push", [](Interpreter&, ObjRef a, std::vector<Value>& args) -> Value {
        for (auto& v : args) a->elems.push_back(v);
        return double(a->elems.size());
    });
    array_method("pop", [](Interpreter&, ObjRef a, std::vector<Value>&) -> Value {
        if (a->elems.empty()) return Undefined{};
        Value v = a->elems.back();
        a->elems.pop_back();
        if (a->holes.size() > a->elems.size()) a->holes.resize(a->elems.size());
        return v;
    });
    array_method("shift", [](Interpreter&, ObjRef a, std::vector<Value>&) -> Value {
        if (a->elems.empty()) return Undefined{};
        Value v = a->elems.front();
        a->elems.erase(a->elems.begin());
        // Every element is moved by an assignment: the holes are filled.
        a->holes.clear();
        return v;
    });
    array_method("unshift", [](Interpreter&, ObjRef a, std::vector<Value>& args) -> Value {
        a->elems.insert(a->elems.begin(), args.begin(), args.end());
        a->holes.clear();
        return double(a->elems.size());
    });
    array_method("join", [](Interpreter& in, ObjRef a, std::vector<Value>& args) -> Value {
        std::string sep = args.empty() || std::holds_alternative<Undefined>(args[0]) ? "," : in.ToString(args[0]);
        return JoinArray(in, a, sep);
    });
    array_method("toString", [](Interpreter& in, ObjRef a, std::vector<Value>&) -> Value { return JoinArray(in, a, ","); });
    array_method("reverse", [](Interpreter&, ObjRef a, std::vector<Value>&) -> Value {
        // Each pair is swapped by assignments, which fill its holes; the middle stays.
        size_t n = a->elems.size();
        bool middle_hole = n % 2 == 1 && IsHole(*a, n / 2);
        std::reverse(a->elems.begin(), a->elems.end());
        a->holes.clear();
        if (middle_hole) MarkHole(*a, n / 2, true);
        return a;
    });
    auto clamp_index = [](Interpreter& in, const Value& v, size_t n, double dflt) {
        double d = std::holds_alternative<Undefined>(v) ? dflt : in.ToNumber(v);
        if (std::isnan(d)) d = 0;
        d = std::trunc(d);
        if (d < 0) d = std::max(0.0, double(n) + d);
        return size_t(std::min(d, double(n)));
    };
    array_method("slice", [clamp_index](Interpreter& in, ObjRef a, std::vector<Value>& args) -> Value {
        size_t n = a->elems.size();
        size_t from = clamp_index(in, Arg(args, 0), n, 0), to = clamp_index(in, Arg(args, 1), n, double(n));
        std::vector<Value> out;
        for (size_t i = from; i < to; ++i) out.push_back(a->elems[i]);
        return in.NewArray(std::move(out));
    });
    array_method("splice", [clamp_index](Interpreter& in, ObjRef a, std::vector<Value>& args) -> Value {
        if (args.empty() || std::holds_alternative<Undefined>(args[0])) return Undefined{};
        // An undefined count removes nothing and gives nothing back.
        if (args.size() > 1 && std::holds_alternative<Undefined>(args[1])) return Undefined{};
        size_t n = a->elems.size();
        size_t from = clamp_index(in, args[0], n, 0);
        size_t count = n - from;
        if (args.size() > 1) {
            double c = in.ToNumber(args[1]);
            count = std::isnan(c) || c < 0 ? 0 : size_t(std::min(c, double(n - from)));
        }
        std::vector<Value> removed(a->elems.begin() + from, a->elems.begin() + from + count);
        std::vector<bool> m = HoleMask(*a);
        std::vector<bool> removed_holes(m.begin() + from, m.begin() + from + count);
        a->elems.erase(a->elems.begin() + from, a->elems.begin() + from + count);
        m.erase(m.begin() + from, m.begin() + from + count);
        if (args.size() > 2) {
            a->elems.insert(a->elems.begin() + from, args.begin() + 2, args.end());
            m.insert(m.begin() + from, args.size() - 2, false);
        }
        SetHoleMask(*a, std::move(m));
        ObjRef out = in.NewArray(std::move(removed));
        SetHoleMask(*out, std::move(removed_holes));
        return out;
    });
    array_method("concat", [](Interpreter& in, ObjRef a, std::vector<Value>& args) -> Value {
        std::vector<Value> out = a->elems;
        for (auto& v : args) {
            if (auto* o = std::get_if<ObjRef>(&v); o && (*o)->kind == Kind::Array)
                out.insert(out.end(), (*o)->elems.begin(), (*o)->elems.end());
            else
                out.push_back(v);
        }
        return in.NewArray(std::move(out));
    });
    array_method("sort", [](Interpreter& in, ObjRef a, std::vector<Value>& args) -> Value {
        Value cmp;
        int flags = 0;
        size_t i = 0;
        if (i < args.size() && std::holds_alternative<ObjRef>(args[i])) cmp = args[i++];
        // Anything but a compare function or flags makes no sort.
        if (i < args.size() && !std::holds_alternative<double>(args[i])) return Undefined{};
        if (i < args.size()) flags = in.ToInt32(args[i]);
        std::vector<size_t> order(a->elems.size());
        for (size_t k = 0; k < order.size(); ++k) order[k] = k;
        auto less = [&](size_t x, size_t y) -> bool {
            const Value& p = a->elems[x];
            const Value& q = a->elems[y];
            double c;
            if (std::holds_alternative<ObjRef>(cmp)) {
                c = in.ToNumber(in.Call(cmp, Undefined{}, {p, q}));
            } else if (flags & 16) {
                c = in.ToNumber(p) - in.ToNumber(q);
            } else {
                std::string s = in.ToString(p), t = in.ToString(q);
                if (flags & 1) {
                    for (auto& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
                    for (auto& ch : t) ch = char(std::tolower(static_cast<unsigned char>(ch)));
                }
                c = s < t ? -1 : (s > t ? 1 : 0);
            }
            if (flags & 2) c = -c;
            return c < 0;
        };
        std::stable_sort(order.begin(), order.end(), less);
        if (flags & 4)
            for (size_t k = 1; k < order.size(); ++k)
                if (!less(order[k - 1], order[k]) && !less(order[k], order[k - 1])) return 0.0;
        if (flags & 8) {
            std::vector<Value> out;
            for (size_t k : order) out.push_back(double(k));
            return in.NewArray(std::move(out));
        }
        std::vector<Value> sorted;
        for (size_t k : order) sorted.push_back(a->elems[k]);
        a->elems = std::move(sorted);
        a->holes.clear();
        return a;
    });

    // String
    string_ctor_ = make_class("String", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        std::string s = args.empty() ? std::string() : in.ToString(args[0]);
        if (auto o = SelfObj(self); o && o->kind == Kind::Plain && o->proto == in.string_proto_) {
            o->kind = Kind::String;
            o->primitive = s;
            // The length is the object's own: it may be written over but not deleted.
            in.Define(o, "length", in.Get(s, "length"), kDontEnum | kDontDelete);
            return o;
        }
        return s;
    }, string_proto_, true);
    auto str_method = [&](const std::string& name, std::function<Value(Interpreter&, std::string, std::vector<Value>&)> fn) {
        Method(string_proto_, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::string s;
            if (auto o = SelfObj(self); o && o->kind == Kind::String) s = in.ToString(o->primitive);
            else s = in.ToString(self);
            return fn(in, std::move(s), args);
        });
    };
    str_method("toString", [](Interpreter&, std::string s, std::vector<Value>&) -> Value { return s; });
    str_method("valueOf", [](Interpreter&, std::string s, std::vector<Value>&) -> Value { return s; });
    str_method("toUpperCase", [](Interpreter&, std::string s, std::vector<Value>&) -> Value {
        for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
        return s;
    });
    str_method("toLowerCase", [](Interpreter&, std::string s, std::vector<Value>&) -> Value {
        for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    });
    str_method("charAt", [](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        std::u16string s = ToUnits(text);
        size_t i;
        if (!UnitIndex(in, Arg(args, 0), s.size(), i)) return std::string();
        return FromUnits(s.substr(i, 1));
    });
    str_method("charCodeAt", [](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        std::u16string s = ToUnits(text);
        size_t i;
        if (!UnitIndex(in, Arg(args, 0), s.size(), i)) return NAN;
        return double(s[i]);
    });
    // Start places are integers as a 32-bit one wraps; nothing to look for finds nothing.
    auto start_at = [](Interpreter& in, const Value& v) {
        double d = in.ToNumber(v);
        if (std::isnan(d)) return 0.0;
        return std::isfinite(d) && std::fabs(d) >= 2147483648.0 ? double(in.ToInt32(d)) : std::trunc(d);
    };
    str_method("indexOf", [start_at](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::u16string s = ToUnits(text), t = ToUnits(in.ToString(args[0]));
        double from = args.size() > 1 ? start_at(in, args[1]) : 0;
        if (from < 0) from = 0;
        if (from > double(s.size())) return -1.0;
        size_t r = s.find(t, size_t(from));
        return r == std::u16string::npos ? -1.0 : double(r);
    });
    str_method("lastIndexOf", [start_at](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::u16string s = ToUnits(text), t = ToUnits(in.ToString(args[0]));
        size_t from = std::u16string::npos;
        if (args.size() > 1 && !std::holds_alternative<Undefined>(args[1])) {
            double d = start_at(in, args[1]);
            if (d < 0) return -1.0;
            from = size_t(std::min(d, double(s.size())));
        }
        size_t r = s.rfind(t, from);
        return r == std::u16string::npos ? -1.0 : double(r);
    });
    str_method("substr", [](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::u16string s = ToUnits(text);
        double n = double(s.size());
        double start = in.ToNumber(Arg(args, 0));
        if (std::isnan(start)) start = 0;
        start = std::trunc(start);
        if (start < 0) start = std::max(0.0, n + start);
        start = std::min(start, n);
        double len = args.size() > 1 && !std::holds_alternative<Undefined>(args[1]) ? in.ToNumber(args[1]) : n;
        if (std::isnan(len)) len = 0;
        if (len < 0) {
            // A negative length counts back from the end of the whole string; a
            // piece that would reach the end is empty, as in the reference.
            len = n + std::trunc(len);
            if (len < 0 || start + len >= n) return std::string();
        }
        len = std::min(std::trunc(len), n - start);
        return FromUnits(s.substr(size_t(start), size_t(len)));
    });
    str_method("substring", [](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        std::u16string s = ToUnits(text);
        double n = double(s.size());
        auto clampv = [&](const Value& v, double d) {
            double x = std::holds_alternative<Undefined>(v) ? d : in.ToNumber(v);
            if (std::isnan(x) || x < 0) x = 0;
            return std::min(std::trunc(x), n);
        };
        double a = clampv(Arg(args, 0), 0), b = clampv(Arg(args, 1), n);
        if (a > b) std::swap(a, b);
        return FromUnits(s.substr(size_t(a), size_t(b - a)));
    });
    str_method("slice", [](Interpreter& in, std::string text, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::u16string s = ToUnits(text);
        double n = double(s.size());
        auto idx = [&](const Value& v, double d) {
            double x = std::holds_alternative<Undefined>(v) ? d : in.ToNumber(v);
            if (std::isnan(x)) x = 0;
            x = std::trunc(x);
            if (x < 0) x = std::max(0.0, n + x);
            return std::min(x, n);
        };
        double a = idx(Arg(args, 0), 0), b = idx(Arg(args, 1), n);
        if (a >= b) return std::string();
        return FromUnits(s.substr(size_t(a), size_t(b - a)));
    });
    str_method("split", [](Interpreter& in, std::string s, std::vector<Value>& args) -> Value {
        std::vector<Value> out;
        if (args.empty() || std::holds_alternative<Undefined>(args[0])) {
            out.push_back(s);
            return in.NewArray(std::move(out));
        }
        std::string sep = in.ToString(args[0]);
        if (sep.empty()) {
            std::u16string u = ToUnits(s);
            for (size_t i = 0; i < u.size(); ++i) out.push_back(FromUnits(u.substr(i, 1)));
        } else {
            size_t at = 0;
            while (true) {
                size_t f = s.find(sep, at);
                if (f == std::string::npos) {
                    out.push_back(s.substr(at));
                    break;
                }
                out.push_back(s.substr(at, f - at));
                at = f + sep.size();
            }
        }
        return in.NewArray(std::move(out));
    });
    str_method("concat", [](Interpreter& in, std::string s, std::vector<Value>& args) -> Value {
        for (auto& v : args) {
            s += in.ToString(v);
            in.CheckTextSize(s.size());
        }
        return s;
    });
    Method(string_ctor_, "fromCharCode", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // A code of 0 ends the text, as it ends every text of the original player.
        std::u16string u;
        for (auto& v : args) {
            char16_t c = char16_t(uint32_t(in.ToInt32(v)) & 0xFFFF);
            if (c == 0) break;
            u.push_back(c);
        }
        return FromUnits(u);
    });

    // Number and Boolean
    number_ctor_ = make_class("Number", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double d = args.empty() ? 0.0 : in.ToNumber(args[0]);
        if (auto o = SelfObj(self); o && o->kind == Kind::Plain && o->proto == in.number_proto_) {
            o->kind = Kind::Number;
            o->primitive = d;
            return o;
        }
        return d;
    }, number_proto_, true);
    Define(number_ctor_, "MAX_VALUE", 1.7976931348623157e308, kDontEnum | kDontDelete | kReadOnly);
    Define(number_ctor_, "MIN_VALUE", 4.9406564584124654e-324, kDontEnum | kDontDelete | kReadOnly);
    Define(number_ctor_, "NaN", NAN, kDontEnum | kDontDelete | kReadOnly);
    Define(number_ctor_, "POSITIVE_INFINITY", INFINITY, kDontEnum | kDontDelete | kReadOnly);
    Define(number_ctor_, "NEGATIVE_INFINITY", -INFINITY, kDontEnum | kDontDelete | kReadOnly);
    Method(number_proto_, "valueOf", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        if (auto o = SelfObj(self); o && o->kind == Kind::Number) return o->primitive;
        return self;
    });
    Method(number_proto_, "toString", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        double d = 0;
        if (auto o = SelfObj(self); o && o->kind == Kind::Number) d = in.ToNumber(o->primitive);
        else d = in.ToNumber(self);
        int radix = args.empty() || std::holds_alternative<Undefined>(args[0]) ? 10 : in.ToInt32(args[0]);
        if (radix == 10 || radix < 2 || radix > 36 || !std::isfinite(d)) return Interpreter::NumberToString(d);
        int32_t n = in.ToInt32(d);
        bool neg = n < 0;
        uint32_t u = neg ? uint32_t(-int64_t(n)) : uint32_t(n);
        std::string s;
        do {
            s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[u % radix]);
            u /= radix;
        } while (u);
        return neg ? "-" + s : s;
    });
    boolean_ctor_ = make_class("Boolean", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        bool b = !args.empty() && in.ToBoolean(args[0]);
        if (auto o = SelfObj(self); o && o->kind == Kind::Plain && o->proto == in.boolean_proto_) {
            o->kind = Kind::Boolean;
            o->primitive = b;
            return o;
        }
        // Boolean() as a function with nothing to convert gives nothing.
        if (args.empty()) return Undefined{};
        return b;
    }, boolean_proto_, true);
    Method(boolean_proto_, "valueOf", [](Interpreter&, const Value& self, std::vector<Value>&) -> Value {
        if (auto o = SelfObj(self); o && o->kind == Kind::Boolean) return o->primitive;
        return self;
    });
    Method(boolean_proto_, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        if (auto o = SelfObj(self); o && o->kind == Kind::Boolean) return in.ToBoolean(o->primitive) ? "true" : "false";
        return in.ToString(self);
    });

    // Math
    ObjRef math = NewObject();
    Define(global_, "Math", math, kDontEnum);
    auto math1 = [&](const std::string& name, double (*fn)(double)) {
        Method(math, name, [fn](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
            if (args.empty()) return NAN;
            double x = in.ToNumber(args[0]);
            // Every Math function reads two operands, whether it uses them or not.
            if (args.size() > 1) in.ToNumber(args[1]);
            return fn(x);
        });
    };
    math1("abs", [](double x) { return std::fabs(x); });
    math1("acos", [](double x) { return std::acos(x); });
    math1("asin", [](double x) { return std::asin(x); });
    math1("atan", [](double x) { return std::atan(x); });
    math1("ceil", [](double x) { return std::ceil(x); });
    math1("cos", [](double x) { return std::cos(x); });
    math1("exp", [](double x) { return std::exp(x); });
    math1("floor", [](double x) { return std::floor(x); });
    math1("log", [](double x) { return std::log(x); });
    math1("round", [](double x) { return std::floor(x + 0.5); });
    math1("sin", [](double x) { return std::sin(x); });
    math1("sqrt", [](double x) { return std::sqrt(x); });
    math1("tan", [](double x) { return std::tan(x); });
    Method(math, "atan2", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // Both operands are read, first to last; one missing makes the result NaN.
        if (args.empty()) return NAN;
        double y = in.ToNumber(args[0]);
        if (args.size() < 2) return NAN;
        double x = in.ToNumber(args[1]);
        return std::atan2(y, x);
    });
    Method(math, "pow", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return NAN;
        double base = in.ToNumber(args[0]);
        double exponent = args.size() < 2 ? NAN : in.ToNumber(args[1]);
        return std::pow(base, exponent);
    });
    Method(math, "max", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // Two operands, read first to last; a missing second one is NaN.
        if (args.empty()) return -INFINITY;
        double a = in.ToNumber(args[0]);
        double b = args.size() < 2 ? NAN : in.ToNumber(args[1]);
        if (std::isnan(a) || std::isnan(b)) return NAN;
        return std::max(a, b);
    });
    Method(math, "min", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // Two operands, read first to last; a missing second one is NaN.
        if (args.empty()) return INFINITY;
        double a = in.ToNumber(args[0]);
        double b = args.size() < 2 ? NAN : in.ToNumber(args[1]);
        if (std::isnan(a) || std::isnan(b)) return NAN;
        return std::min(a, b);
    });
    Method(math, "random", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        for (size_t i = 0; i < args.size() && i < 2; ++i) in.ToNumber(args[i]);
        return in.Random();
    });
    Define(math, "PI", M_PI, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "E", M_E, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "LN2", M_LN2, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "LN10", M_LN10, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "LOG2E", M_LOG2E, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "LOG10E", M_LOG10E, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "SQRT2", M_SQRT2, kDontEnum | kDontDelete | kReadOnly);
    Define(math, "SQRT1_2", M_SQRT1_2, kDontEnum | kDontDelete | kReadOnly);

    // Global functions
    Method(global_, "isNaN", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // Nothing given is no number, whatever undefined converts to in this version.
        return args.empty() || std::isnan(in.ToNumber(args[0]));
    });
    Method(global_, "isFinite", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return !args.empty() && std::isfinite(in.ToNumber(args[0]));
    });
    Method(global_, "parseFloat", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::string s = in.ToString(args[0]);
        const char* q = s.c_str();
        while (*q == ' ' || *q == '\t' || *q == '\n' || *q == '\r') ++q;
        bool negative = *q == '-';
        if (*q == '+' || *q == '-') ++q;
        // The reference reads digit by digit: each fraction digit is added at its
        // own power of ten, a second point is passed over (and ends any exponent),
        // and the exponent wraps as a 32-bit number.
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        double v = 0;
        bool any = false;
        for (; digit(*q); ++q, any = true) v = v * 10 + (*q - '0');
        int points = 0;
        if (*q == '.') {
            ++points;
            ++q;
            double place = 1;
            for (;; ++q) {
                if (*q == '.') {
                    ++points;
                    continue;
                }
                if (!digit(*q)) break;
                place /= 10;
                v += (*q - '0') * place;
                any = true;
            }
        }
        if (!any) return NAN;
        if ((*q == 'e' || *q == 'E') && points < 2) {
            const char* e = q + 1;
            bool minus = *e == '-';
            if (*e == '+' || *e == '-') ++e;
            if (digit(*e)) {
                uint32_t exponent = 0;
                for (; digit(*e); ++e) exponent = exponent * 10 + uint32_t(*e - '0');
                int32_t n = int32_t(exponent);
                v *= std::pow(10.0, double(minus ? -int64_t(n) : int64_t(n)));
            }
        }
        return negative ? -v : v;
    });
    Method(global_, "parseInt", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        std::string s = in.ToString(args[0]);
        int radix = 0;
        if (args.size() > 1) {
            double r = in.ToNumber(args[1]);
            if (!(r >= 2 && r < 37)) return NAN;
            radix = int(r);
        }
        auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        auto hex_mark = [&](size_t at) { return at + 1 < s.size() && s[at] == '0' && (s[at + 1] == 'x' || s[at + 1] == 'X'); };
        size_t i = 0;
        if (hex_mark(0)) {
            // A hex prefix counts only at the very start, whatever the radix.
            i = 2;
            if (!radix) radix = 16;
        } else if (s.size() > 2 && (s[0] == '-' || s[0] == '+') && hex_mark(1)) {
            // The player drops the sign and the zero here and reads on from the x.
            i = 2;
            if (!radix) radix = 16;
        } else if (!radix) {
            // Octal only when the whole text is a zero-led run of octal digits.
            size_t j = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
            bool octal = j + 1 < s.size() && s[j] == '0';
            for (size_t k = j; octal && k < s.size(); ++k)
                if (s[k] < '0' || s[k] > '7') octal = false;
            radix = octal ? 8 : 10;
        }
        while (i < s.size() && space(s[i])) ++i;
        bool neg = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
        double r = 0;
        bool any = false;
        for (; i < s.size(); ++i) {
            int c = s[i];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'z' ? c - 'a' + 10 : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : 99;
            if (d >= radix) break;
            r = r * radix + d;
            any = true;
        }
        if (!any) return NAN;
        return neg ? -r : r;
    });
    Method(global_, "getTimer", [](Interpreter& in, const Value&, std::vector<Value>&) -> Value { return std::floor(in.TimerMs()); });
    Method(global_, "ASSetPropFlags", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        auto* o = std::get_if<ObjRef>(&args[0]);
        if (!o || !*o) return Undefined{};
        int set = in.ToInt32(Arg(args, 2)), clear = in.ToInt32(Arg(args, 3));
        Value names = Arg(args, 1);
        std::vector<std::string> list;
        bool all = std::holds_alternative<Null>(names);
        if (auto* a = std::get_if<ObjRef>(&names); a && (*a)->kind == Kind::Array)
            for (auto& v : (*a)->elems) list.push_back(in.ToString(v));
        else if (!all) {
            std::string s = in.ToString(names);
            size_t at = 0;
            while (true) {
                size_t c = s.find(',', at);
                list.push_back(s.substr(at, c == std::string::npos ? std::string::npos : c - at));
                if (c == std::string::npos) break;
                at = c + 1;
            }
        }
        for (auto& p : (*o)->props) {
            bool match = all;
            for (auto& n : list)
                if (in.KeyEq(n, p.name)) match = true;
            if (match) p.flags = uint16_t(((p.flags & ~clear) | set) & (7 | kVersionFlags));
        }
        return Undefined{};
    });
    Method(global_, "escape", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        std::string s = in.ToString(Arg(args, 0)), out;
        for (unsigned char c : s) {
            if (std::isalnum(c)) out.push_back(char(c));
            else {
                static const char* hex = "0123456789ABCDEF";
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
        return out;
    });
    Method(global_, "unescape", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        std::string s = in.ToString(Arg(args, 0)), out;
        auto hexval = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
        for (size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '%' && i + 2 < s.size() + 0 && hexval(s[i + 1]) >= 0 && hexval(s[i + 2]) >= 0) {
                out.push_back(char(hexval(s[i + 1]) * 16 + hexval(s[i + 2])));
                i += 2;
            } else if (s[i] == '+') {
                out.push_back(' ');
            } else {
                out.push_back(s[i]);
            }
        }
        return out;
    });
    auto timer = [](bool repeat) {
        return [repeat](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
            Interval t;
            size_t at = 0;
            if (args.empty()) return Undefined{};
            Value first = args[0];
            auto* fo = std::get_if<ObjRef>(&first);
            if (fo && (*fo)->kind != Kind::Function && args.size() > 1) {
                t.self = first;
                t.method = in.ToString(args[1]);
                at = 2;
            } else if (fo) {
                t.function = first;
                at = 1;
            } else {
                return Undefined{};
            }
            // No delay, no timer (null counts as 0).
            if (std::holds_alternative<Undefined>(Arg(args, at))) return Undefined{};
            double ms = in.ToNumber(Arg(args, at));
            t.period = std::isfinite(ms) && ms > 0 ? ms : 0;
            t.repeat = repeat;
            for (size_t i = at + 1; i < args.size(); ++i) t.args.push_back(args[i]);
            return double(in.AddInterval(std::move(t)));
        };
    };
    Method(global_, "setInterval", timer(true));
    Method(global_, "setTimeout", timer(false));
    auto clear = [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        in.ClearInterval(in.ToInt32(Arg(args, 0)));
        return Undefined{};
    };
    Method(global_, "clearInterval", clear);
    Method(global_, "clearTimeout", clear);
    Define(global_, "NaN", NAN, kDontEnum);
    Define(global_, "Infinity", INFINITY, kDontEnum);

    // MovieClip
    ObjRef clip_ctor = make_class("MovieClip", [](Interpreter&, const Value&, std::vector<Value>&) -> Value {
        return Undefined{};
    }, clip_proto_, false);
    (void)clip_ctor;
    // What a clip or button answers until a script sets its own.
    Define(clip_proto_, "useHandCursor", true, kDontEnum);
    Define(clip_proto_, "enabled", true, kDontEnum);
    auto clip_method = [&](const std::string& name, std::function<Value(Interpreter&, DisplayObject&, std::vector<Value>&)> fn) {
        Method(clip_proto_, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto o = SelfObj(self);
            DisplayObject* c = o ? in.ClipOf(o) : nullptr;
            if (!c) return Undefined{};
            return fn(in, *c, args);
        });
    };
    clip_method("play", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value { in.env()->Play(c); return Undefined{}; });
    clip_method("stop", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value { in.env()->Stop(c); return Undefined{}; });
    clip_method("nextFrame", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value { in.env()->NextFrame(c); return Undefined{}; });
    clip_method("prevFrame", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value { in.env()->PrevFrame(c); return Undefined{}; });
    auto go = [](bool play) {
        return [play](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
            Value f = Arg(args, 0);
            if (auto* s = std::get_if<std::string>(&f)) {
                double n = in.ToNumber(f);
                if (std::isnan(n)) {
                    in.env()->GotoLabel(c, *s, play);
                    return Undefined{};
                }
            }
            uint32_t n = uint32_t(in.ToInt32(f));
            if (n >= 1) in.env()->GotoFrame(c, n - 1, play);
            return Undefined{};
        };
    };
    clip_method("gotoAndPlay", go(true));
    clip_method("gotoAndStop", go(false));
    clip_method("getDepth", [](Interpreter&, DisplayObject& c, std::vector<Value>&) -> Value { return double(c.depth - 16384); });
    clip_method("removeMovieClip", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value {
        if (!c.placed_by_script) return Undefined{};
        in.LoseFocusWithin(c);
        in.env()->RemoveClip(c);
        return Undefined{};
    });
    clip_method("attachMovie", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        const auto& exports = in.env()->Characters().Exports();
        std::string id = in.ToString(Arg(args, 0));
        auto it = exports.find(id);
        if (it == exports.end()) {
            for (auto e = exports.begin(); e != exports.end(); ++e)
                if (in.KeyEq(e->first, id)) it = e;
        }
        if (it == exports.end()) return Undefined{};
        DisplayObject* d = in.env()->CreateClip(c, it->second, in.ToInt32(Arg(args, 2)) + 16384, in.ToString(Arg(args, 1)));
        if (!d) return Undefined{};
        ObjRef init;
        if (args.size() > 3)
            if (auto* o = std::get_if<ObjRef>(&args[3])) init = *o;
        // The class and the initial values come before the clip's own scripts.
        in.ConstructClip(*d, init);
        return in.ClipObject(*d);
    });
    clip_method("createEmptyMovieClip", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return Undefined{};
        DisplayObject* d = in.env()->CreateEmptyClip(c, in.ToInt32(args[1]) + 16384, in.ToString(args[0]));
        return d ? Value(in.ClipObject(*d)) : Value(Undefined{});
    });
    clip_method("getNextHighestDepth", [](Interpreter&, DisplayObject& c, std::vector<Value>&) -> Value {
        int32_t top = 0;
        if (!c.children.empty()) top = std::max<int32_t>(0, c.children.rbegin()->first - 16384 + 1);
        return double(top);
    });
    clip_method("getInstanceAtDepth", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        DisplayObject* d = c.children.At(in.ToInt32(Arg(args, 0)) + 16384);
        return d ? Value(in.ClipObject(*d)) : Value(Undefined{});
    });
    clip_method("swapDepths", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        if (!c.parent || args.empty()) return Undefined{};
        int32_t target;
        if (auto* o = std::get_if<ObjRef>(&args[0])) {
            DisplayObject* other = in.ClipOf(*o);
            if (!other || other->parent != c.parent) return Undefined{};
            target = other->depth;
        } else {
            target = in.ToInt32(args[0]) + 16384;
        }
        DisplayList& list = c.parent->children;
        int32_t from = c.depth;
        if (target == from) return Undefined{};
        auto mine = list.Take(from);
        auto theirs = list.Take(target);
        mine->depth = target;
        mine->script_moved = true;
        list.Put(std::move(mine));
        if (theirs) {
            theirs->depth = from;
            list.Put(std::move(theirs));
        }
        return Undefined{};
    });
    clip_method("getBytesLoaded", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value {
        uint32_t loaded = 0, total = 0;
        return in.env()->ClipBytes(c, false, loaded, total) ? Value(double(loaded)) : Value(Undefined{});
    });
    clip_method("getBytesTotal", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value {
        uint32_t loaded = 0, total = 0;
        return in.env()->ClipBytes(c, false, loaded, total) ? Value(double(total)) : Value(Undefined{});
    });
    clip_method("duplicateMovieClip", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        DisplayObject* d = in.Duplicate(c, in.ToString(Arg(args, 0)), in.ToInt32(Arg(args, 1)) + 16384);
        return d ? Value(in.ClipObject(*d)) : Value(Undefined{});
    });
    // Boxes and points between spaces: pixels of the object, its parent or the stage.
    auto box_object = [](Interpreter& in, const Bounds& b) -> Value {
        ObjRef o = in.NewObject();
        // What an empty box reports: its 0x7FFFFFF twips; once version 8 code has
        // measured, they pass through single precision, which makes them 0x8000000.
        if (in.bounds_rounded < 0) in.bounds_rounded = in.version() >= 8;
        const double none = in.bounds_rounded ? 6710886.4 : 6710886.35;
        in.Set(o, "xMin", b.empty ? none : b.x0 / 20.0);
        in.Set(o, "xMax", b.empty ? none : b.x1 / 20.0);
        in.Set(o, "yMin", b.empty ? none : b.y0 / 20.0);
        in.Set(o, "yMax", b.empty ? none : b.y1 / 20.0);
        return o;
    };
    auto bounds = [box_object](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        DisplayObject* space = &c;
        if (!args.empty()) {
            auto* o = std::get_if<ObjRef>(&args[0]);
            space = o ? in.ClipOf(*o) : nullptr;
            if (!space) return Undefined{};
        }
        Value box = box_object(in, in.BoundsIn(c, space));
        if (in.env()->ClipVersion(c) >= 8) in.bounds_rounded = 1;
        return box;
    };
    clip_method("getBounds", bounds);
    clip_method("getRect", bounds);
    clip_method("hitTest", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        if (args.empty()) return false;
        Bounds mine = in.BoundsIn(c, nullptr);
        if (auto* o = std::get_if<ObjRef>(&args[0]); o && args.size() == 1) {
            DisplayObject* other = in.ClipOf(*o);
            if (!other) return false;
            Bounds theirs = in.BoundsIn(*other, nullptr);
            return !mine.empty && !theirs.empty && mine.x0 <= theirs.x1 && theirs.x0 <= mine.x1 && mine.y0 <= theirs.y1 &&
                   theirs.y0 <= mine.y1;
        }
        if (args.size() < 2) return false;
        double x = in.ToNumber(args[0]) * 20.0, y = in.ToNumber(args[1]) * 20.0;
        return !mine.empty && x >= mine.x0 && x <= mine.x1 && y >= mine.y0 && y <= mine.y1;
    });
    auto convert = [](bool to_stage) {
        return [to_stage](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
            auto* p = args.empty() ? nullptr : std::get_if<ObjRef>(&args[0]);
            if (!p) return Undefined{};
            swf::Matrix m = Interpreter::ToStage(c);
            if (!to_stage && !Interpreter::Invert(m, m)) return Undefined{};
            double x = in.ToNumber(in.Get(*p, "x")) * 20.0, y = in.ToNumber(in.Get(*p, "y")) * 20.0;
            in.Set(*p, "x", (m.a * x + m.c * y + m.tx) / 20.0);
            in.Set(*p, "y", (m.b * x + m.d * y + m.ty) / 20.0);
            return Undefined{};
        };
    };
    clip_method("localToGlobal", convert(true));
    clip_method("globalToLocal", convert(false));

    InstallDrawing();
    InstallXml();
    InstallText();
    InstallSound();
    InstallSystem();
    InstallColor();
    InstallDate();
    InstallGeom();
    InstallBitmapData();
    InstallPlatformClasses(*this);
    InstallNativeTable(math);
}

// ASnative(table, index): the built-in functions by their numbers, as installed
// (a script that replaces Math.sin still reaches the original here).
void Interpreter::InstallNativeTable(const ObjRef& math) {
    auto natives = std::make_shared<std::map<std::pair<int, int>, ObjRef>>();
    auto add = [&](int table, int index, const ObjRef& owner, const std::string& name) {
        if (Property* p = FindOwn(owner, name))
            if (auto* fn = std::get_if<ObjRef>(&p->value)) (*natives)[{table, index}] = *fn;
    };
    const char* globals[] = {"escape", "unescape", "parseInt", "parseFloat"};
    for (int i = 0; i < 4; ++i) add(100, i, global_, globals[i]);
    (*natives)[{100, 4}] = NewFunction([](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        Value v = Arg(args, 0);
        if (in.env()) in.env()->Trace(std::holds_alternative<Undefined>(v) ? "undefined" : in.ToString(v));
        return Undefined{};
    });
    const char* math_names[] = {"abs",   "min",  "max",   "sin",  "cos",  "atan2", "tan",  "exp",  "log",
                                "sqrt",  "round", "random", "floor", "ceil", "atan", "asin", "acos", "pow"};
    for (int i = 0; i < 18; ++i) add(200, i, math, math_names[i]);
    // A Math number with no function still reads its two operands.
    ObjRef math_unknown = NewFunction([](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        for (size_t i = 0; i < args.size() && i < 2; ++i) in.ToNumber(args[i]);
        return NAN;
    });
    Method(global_, "ASnative", [natives, math_unknown](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() != 2) return Undefined{};
        double table = in.ToNumber(args[0]);
        double index = in.ToNumber(args[1]);
        if (std::isnan(table) || std::isnan(index)) return Undefined{};
        auto key = std::make_pair(in.ToInt32(table), in.ToInt32(index));
        if (auto it = natives->find(key); it != natives->end()) return it->second;
        if (key.first == 200) return math_unknown;
        return Undefined{};
    });
}

DisplayObject* Interpreter::Duplicate(DisplayObject& c, const std::string& name, int32_t depth) {
    if (!c.parent || !c.character) return nullptr;
    // A clip a script made has no character of the movie to copy.
    DisplayObject* d = c.character->id == 0 && c.sprite ? env_->CreateEmptyClip(*c.parent, depth, name)
                                                        : env_->CreateClip(*c.parent, c.character->id, depth, name);
    if (!d) return nullptr;
    // The copy stands where the original stands, with what was drawn on it.
    d->matrix = c.matrix;
    d->color_transform = c.color_transform;
    d->script_moved = true;
    if (c.drawing) {
        d->drawing = std::make_shared<swf::Shape>(*c.drawing);
        drawings_[d->instance_id] = drawings_[c.instance_id];
    }
    return d;
}

ObjRef Interpreter::DefineClass(const std::string& name, NativeFn fn, const ObjRef& proto, bool constructs,
                                const ObjRef& where) {
    ObjRef c = NewFunction(std::move(fn), constructs);
    Define(c, "prototype", proto, kDontEnum | kDontDelete);
    Define(proto, "constructor", c, kDontEnum);
    Define(where ? where : global_, name, c, kDontEnum);
    return c;
}

void Interpreter::Accessor(const ObjRef& o, const std::string& name, NativeFn getter, NativeFn setter) {
    Property p{name, Undefined{}, NewFunction(std::move(getter)), setter ? NewFunction(std::move(setter)) : nullptr,
               kDontEnum | kDontDelete};
    if (Property* old = FindOwn(o, name)) *old = p;
    else o->props.push_back(std::move(p));
}

}  // namespace qm::flash::avm1
