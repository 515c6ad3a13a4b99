// Conversions, property access and calls.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"
#include "flash/timeline_def.h"

namespace qm::flash::avm1 {

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

Value ResolveMissing(Interpreter& in, const ObjRef& start, const std::string& name, const Value& self);

bool IsIndex(const std::string& s, size_t& index) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    if (s.size() > 1 && s[0] == '0') return false;
    index = size_t(std::strtoul(s.c_str(), nullptr, 10));
    return true;
}
}  // namespace

namespace {
// The lower case of a code point, by the older case tables the original player
// uses for names (letters added to Unicode later have no pair here).
char32_t FoldCase(char32_t c) {
    auto pair_even = [&](char32_t from, char32_t to) { return c >= from && c <= to && (c - from) % 2 == 0; };
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A))
        return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    if (c >= 0x531 && c <= 0x556) return c + 48;
    if (c >= 0x2160 && c <= 0x216F) return c + 16;
    if (c >= 0x24B6 && c <= 0x24CF) return c + 26;
    if (c == 0x178) return 0xFF;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    // Capital and title-case forms of the digraphs DŽ, LJ, NJ, DZ.
    if (c == 0x1C4 || c == 0x1C5) return 0x1C6;
    if (c == 0x1C7 || c == 0x1C8) return 0x1C9;
    if (c == 0x1CA || c == 0x1CB) return 0x1CC;
    if (c == 0x1F1 || c == 0x1F2) return 0x1F3;
    // Capital at the even place, small just after it.
    if (pair_even(0x100, 0x12E) || pair_even(0x132, 0x136) || pair_even(0x14A, 0x176) || pair_even(0x1DE, 0x1EE) ||
        c == 0x1F4 || pair_even(0x1F8, 0x21E) || pair_even(0x222, 0x232) || pair_even(0x3E2, 0x3EE) ||
        pair_even(0x460, 0x480) || pair_even(0x48A, 0x4BE) || pair_even(0x4D0, 0x4F8) || pair_even(0x500, 0x50E) ||
        pair_even(0x1E00, 0x1E94) || pair_even(0x1EA0, 0x1EF8))
        return c + 1;
    // Capital at the odd place.
    if ((c >= 0x139 && c <= 0x147 && c % 2 == 1) || (c >= 0x179 && c <= 0x17D && c % 2 == 1) ||
        (c >= 0x1CD && c <= 0x1DB && c % 2 == 1) || (c >= 0x4C1 && c <= 0x4CD && c % 2 == 1))
        return c + 1;
    return c;
}

// The next code point of UTF-8 text; a broken sequence gives its first byte.
char32_t NextCodePoint(const std::string& s, size_t& i) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (n == 0 || i + n >= s.size()) {
        ++i;
        return b;
    }
    char32_t c = b & (0x3F >> n);
    for (size_t k = 1; k <= n; ++k) {
        unsigned char cont = static_cast<unsigned char>(s[i + k]);
        if ((cont & 0xC0) != 0x80) {
            ++i;
            return b;
        }
        c = (c << 6) | (cont & 0x3F);
    }
    i += n + 1;
    return c;
}
}  // namespace

bool Interpreter::KeyEq(const std::string& a, const std::string& b) const {
    if (version_ >= 7) return a == b;
    bool plain = a.size() == b.size();
    for (size_t i = 0; plain && i < a.size(); ++i) {
        if (Lower(a[i]) == Lower(b[i])) continue;
        if (!(static_cast<unsigned char>(a[i]) & 0x80) && !(static_cast<unsigned char>(b[i]) & 0x80)) return false;
        plain = false;
    }
    if (plain) return true;
    // Letters beyond ASCII match their other case too.
    auto ascii = [](const std::string& s) {
        for (char c : s)
            if (static_cast<unsigned char>(c) & 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) return false;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
    return i == a.size() && j == b.size();
}

std::string Interpreter::NumberToString(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    if (v == 0) return "0";
    char buf[48];
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.15g", v);
    std::string s = buf;
    size_t e = s.find('e');
    if (e != std::string::npos) {
        size_t digits = e + 2;
        while (digits + 1 < s.size() && s[digits] == '0') s.erase(digits, 1);
    }
    return s;
}

double Interpreter::ToNumber(const Value& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto* s = std::get_if<std::string>(&v)) {
        const char* begin = s->c_str();
        while (*begin == ' ' || *begin == '\t' || *begin == '\n' || *begin == '\r') ++begin;
        if (!*begin) return version_ >= 5 ? NAN : 0;
        char* end = nullptr;
        double d;
        // From version 6 "0x1F" is hexadecimal and "017" octal, when nothing comes before
        // them; their value is a 32-bit integer (the digits' low 32 bits), signed.
        const char* digits = begin;
        bool negative = false;
        const bool radix_prefix_allowed = version_ >= 6 && begin == s->c_str();
        if (radix_prefix_allowed && (*digits == '-' || *digits == '+')) negative = *digits++ == '-';
        bool octal = radix_prefix_allowed && digits[0] == '0' && digits[1] >= '0' && digits[1] <= '9';
        if (octal)
            for (const char* q = digits; *q && *q != ' ' && *q != '\t' && *q != '\n' && *q != '\r'; ++q)
                if (*q < '0' || *q > '7') octal = false;
        auto wrapped = [&](const char* from, unsigned base) {
            uint32_t n = 0;
            const char* q = from;
            // The hexadecimal digits may carry a sign of their own ("0x-10").
            bool inner_negative = false;
            if (base == 16 && (*q == '-' || *q == '+')) inner_negative = *q++ == '-';
            for (;; ++q) {
                unsigned digit;
                if (*q >= '0' && *q <= '9') digit = unsigned(*q - '0');
                else if (*q >= 'a' && *q <= 'f') digit = unsigned(*q - 'a' + 10);
                else if (*q >= 'A' && *q <= 'F') digit = unsigned(*q - 'A' + 10);
                else break;
                if (digit >= base) break;
                n = n * base + digit;
            }
            end = const_cast<char*>(q);
            if (inner_negative) n = 0u - n;
            double v = double(int32_t(n));
            return negative ? -v : v;
        };
        if (radix_prefix_allowed && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            if (!digits[2]) return NAN;
            d = wrapped(digits + 2, 16);
        } else if (octal) {
            d = wrapped(digits, 8);
        } else {
            // Infinity and nan spellings are not numbers here.
            const char* q = begin;
            if (*q == '+' || *q == '-') ++q;
            if (!((*q >= '0' && *q <= '9') || *q == '.')) return version_ >= 5 ? NAN : 0;
            // strtod would read hexadecimal too.
            if (q[0] == '0' && (q[1] == 'x' || q[1] == 'X')) return version_ >= 5 ? NAN : 0;
            d = std::strtod(begin, &end);
        }
        // Leading white space is skipped, trailing is not; version 4 keeps the leading number.
        if (!end || *end) return version_ >= 5 ? NAN : (end && end != begin ? d : 0);
        return d;
    }
    if (std::holds_alternative<ObjRef>(v)) {
        Value p = ToPrimitive(v);
        // Version 4 reads no number from an object's text: 0.
        if (std::holds_alternative<ObjRef>(p)) return version_ < 5 ? 0 : NAN;
        return ToNumber(p);
    }
    return version_ >= 7 ? NAN : 0;
}

int32_t Interpreter::ToInt32(const Value& v) {
    double d = ToNumber(v);
    if (!std::isfinite(d)) return 0;
    d = std::trunc(d);
    double m = std::fmod(d, 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return int32_t(uint32_t(m));
}

std::string Interpreter::ToString(const Value& v) {
    if (std::holds_alternative<Undefined>(v)) return version_ >= 7 ? "undefined" : "";
    if (std::holds_alternative<Null>(v)) return "null";
    // Version 4 movies know no booleans in text: they read as 1 and 0.
    if (auto* b = std::get_if<bool>(&v)) return version_ < 5 ? (*b ? "1" : "0") : (*b ? "true" : "false");
    if (auto* d = std::get_if<double>(&v)) return NumberToString(*d);
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    const ObjRef& o = std::get<ObjRef>(v);
    if (o->kind == Kind::Clip) {
        if (DisplayObject* clip = ClipOf(o)) return TargetPath(*clip);
        return "";
    }
    Value p = ToPrimitive(v, true);
    // A toString that gives anything but a text leaves the object's type name.
    if (!std::holds_alternative<std::string>(p)) return o->kind == Kind::Function ? "[type Function]" : "[type Object]";
    return std::get<std::string>(p);
}

bool Interpreter::ToBoolean(const Value& v) {
    if (auto* b = std::get_if<bool>(&v)) return *b;
    if (auto* d = std::get_if<double>(&v)) return *d != 0 && !std::isnan(*d);
    if (auto* s = std::get_if<std::string>(&v)) {
        if (version_ >= 7) return !s->empty();
        double d = ToNumber(v);
        return d != 0 && !std::isnan(d);
    }
    if (std::holds_alternative<ObjRef>(v)) return true;
    return false;
}

Value Interpreter::ToPrimitive(const Value& v, bool prefer_string) {
    auto* o = std::get_if<ObjRef>(&v);
    if (!o) return v;
    // One method only, no fallback to the other: an object whose valueOf gives an
    // object stays an object (a number of NaN, "[object Object]" beside a text), and
    // one without valueOf is undefined.
    // __resolve never supplies the conversion methods.
    const char* method = prefer_string ? "toString" : "valueOf";
    Value fn = HasProperty(*o, method) ? Get(v, method) : Value(Undefined{});
    if (auto* f = std::get_if<ObjRef>(&fn); f && (*f)->kind == Kind::Function) return Call(fn, v, {});
    return prefer_string ? v : Value(Undefined{});
}

ObjRef Interpreter::ToObject(const Value& v) {
    if (auto* o = std::get_if<ObjRef>(&v)) return *o;
    if (std::holds_alternative<std::string>(v)) {
        auto o = NewObject(string_proto_);
        o->kind = Kind::String;
        o->primitive = v;
        return o;
    }
    if (std::holds_alternative<double>(v)) {
        auto o = NewObject(number_proto_);
        o->kind = Kind::Number;
        o->primitive = v;
        return o;
    }
    if (std::holds_alternative<bool>(v)) {
        auto o = NewObject(boolean_proto_);
        o->kind = Kind::Boolean;
        o->primitive = v;
        return o;
    }
    return nullptr;
}

ObjRef Interpreter::NewObject(ObjRef proto) {
    auto o = std::make_shared<Object>();
    o->proto = proto ? proto : object_proto_;
    if (objects_.size() >= 2 * objects_compacted_ + 1024) {
        std::erase_if(objects_, [](const std::weak_ptr<Object>& w) { return w.expired(); });
        objects_compacted_ = objects_.size();
    }
    objects_.push_back(o);
    return o;
}

ObjRef Interpreter::NewArray(std::vector<Value> elems) {
    auto o = NewObject(array_proto_);
    o->kind = Kind::Array;
    o->elems = std::move(elems);
    return o;
}

ObjRef Interpreter::NewFunction(NativeFn fn, bool constructs) {
    auto o = NewObject(function_proto_);
    o->kind = Kind::Function;
    o->native = std::move(fn);
    o->native_constructs = constructs;
    return o;
}

Property* Interpreter::FindOwn(const ObjRef& o, const std::string& name) {
    for (auto& p : o->props)
        if (KeyEq(p.name, name)) return &p;
    return nullptr;
}

bool Interpreter::Hidden(const Property& p) const {
    if (!(p.flags & kVersionFlags)) return false;
    if ((p.flags & kVersion10) && version_ < 10) return true;
    if ((p.flags & kVersion9) && version_ < 9) return true;
    if ((p.flags & kVersion8) && version_ < 8) return true;
    if ((p.flags & kVersion7) && version_ < 7) return true;
    if ((p.flags & kHiddenIn6) && version_ == 6) return true;
    return (p.flags & kVersion6) && version_ < 6;
}

void Interpreter::Define(const ObjRef& o, const std::string& name, Value value, uint16_t flags) {
    if (Property* p = FindOwn(o, name)) {
        p->value = std::move(value);
        p->flags = flags;
        return;
    }
    o->props.push_back(Property{name, std::move(value), nullptr, nullptr, flags});
}

void Interpreter::Method(const ObjRef& o, const std::string& name, NativeFn fn) {
    Define(o, name, NewFunction(std::move(fn)), kDontEnum);
}

bool Interpreter::HasProperty(const ObjRef& start, const std::string& name) {
    int guard = 0;
    for (ObjRef o = start; o && guard < kMaxPrototypeChain; o = o->proto, ++guard) {
        if (FindOwn(o, name)) return true;
        size_t index;
        if (o->kind == Kind::String && KeyEq(name, "length")) return true;
        if (o->kind == Kind::Array &&
            (KeyEq(name, "length") || (IsIndex(name, index) && index < o->elems.size() && !IsHole(*o, index))))
            return true;
        if (o->kind == Kind::Clip) {
            if (DisplayObject* clip = ClipOf(o)) {
                Value v;
                if (GetClipProperty(*clip, name, v)) return true;
            }
        }
    }
    if (guard >= kMaxPrototypeChain) PrototypeLoop();
    return false;
}

void Interpreter::PrototypeLoop() {
    Log("a prototype chain is longer than " + std::to_string(kMaxPrototypeChain) + " objects; the script stops");
    throw AbortSignal{};
}

Value Interpreter::Get(const Value& object, const std::string& name) {
    if (auto* s = std::get_if<std::string>(&object); s && KeyEq(name, "length")) {
        // UTF-16 units, not bytes: characters beyond the basic plane count twice.
        double n = 0;
        for (unsigned char c : *s) {
            if ((c & 0xC0) != 0x80) ++n;
            if (c >= 0xF0) ++n;
        }
        return n;
    }
    ObjRef o = ToObject(object);
    if (!o) return Undefined{};
    return GetOf(o, name, object);
}

Value Interpreter::GetOf(const ObjRef& start, const std::string& name, const Value& self) {
    if (name == "__proto__") return start->proto ? Value(start->proto) : Value(Undefined{});
    int guard = 0;
    for (ObjRef o = start; o && guard < kMaxPrototypeChain; o = o->proto, ++guard) {
        if (o->kind == Kind::Array && !FindOwn(o, name)) {
            size_t index;
            if (IsIndex(name, index)) {
                if (index < o->elems.size() && !IsHole(*o, index)) return o->elems[index];
            } else if (KeyEq(name, "length")) {
                return double(o->elems.size());
            }
        }
        if (o->kind == Kind::String && KeyEq(name, "length") && !FindOwn(o, name)) return Get(o->primitive, name);
        if (o->kind == Kind::Clip) {
            if (DisplayObject* clip = ClipOf(o)) {
                Value v;
                if (name.size() && name[0] == '_' && GetClipProperty(*clip, name, v)) return v;
                if (Property* p = FindOwn(o, name); p && !Hidden(*p)) {
                    if (p->getter) return Call(p->getter, self, {});
                    return p->value;
                }
                if (GetClipProperty(*clip, name, v)) return v;
                continue;
            }
        }
        if (Property* p = FindOwn(o, name); p && !Hidden(*p)) {
            if (p->getter) return Call(p->getter, self, {});
            return p->value;
        }
    }
    // A chain that never ends (an object its own prototype) stops the script.
    if (guard >= kMaxPrototypeChain) PrototypeLoop();
    return ResolveMissing(*this, start, name, self);
}

namespace {
// A name found nowhere goes to the first __resolve up the chain that holds an
// object; a number or a clip there is passed over, a getter there answers nothing.
Value ResolveMissing(Interpreter& in, const ObjRef& start, const std::string& name, const Value& self) {
    if (in.KeyEq(name, "__resolve")) return Undefined{};
    int guard = 0;
    for (ObjRef o = start; o && guard < 256; o = o->proto, ++guard) {
        Property* p = in.FindOwn(o, "__resolve");
        if (!p || in.Hidden(*p)) continue;
        if (p->getter) return Undefined{};
        auto* fn = std::get_if<ObjRef>(&p->value);
        if (!fn || !*fn || (*fn)->kind == Kind::Clip) continue;
        return in.Call(*fn, self, {name});
    }
    return Undefined{};
}
}  // namespace

void Interpreter::Set(const Value& object, const std::string& name, const Value& value) {
    auto* o = std::get_if<ObjRef>(&object);
    if (!o || !*o) return;
    SetOf(*o, name, value, object);
}

void Interpreter::SetOf(const ObjRef& o, const std::string& name, const Value& value, const Value& self) {
    if (name.empty()) return;  // no property has an empty name
    for (const Watch& w : o->watches) {
        if (!KeyEq(w.name, name)) continue;
        // The watcher decides what is stored; while it runs, assignments to
        // the same property go straight through.
        auto key = std::make_pair(static_cast<const Object*>(o.get()), name);
        if (std::find(watching_.begin(), watching_.end(), key) != watching_.end()) break;
        ObjRef watcher = w.fn;
        Value data = w.data;
        // The old value is the stored one, through the prototypes, without
        // asking a getter (a property addProperty made keeps the value it replaced).
        Value old;
        int guard = 0;
        for (ObjRef q = o; q && guard < kMaxPrototypeChain; q = q->proto, ++guard)
            if (Property* p = FindOwn(q, name); p && !Hidden(*p)) {
                old = p->value;
                break;
            }
        watching_.push_back(key);
        struct Pop {
            std::vector<std::pair<const Object*, std::string>>& w;
            ~Pop() { w.pop_back(); }
        } pop{watching_};
        Value stored;
        try {
            stored = Call(watcher, self, {name, old, value, data});
        } catch (const ThrowSignal&) {
            // A watcher that throws leaves the property undefined.
            SetOf(o, name, Undefined{}, self);
            throw;
        }
        SetOf(o, name, stored, self);
        return;
    }
    if (name == "__proto__") {
        if (auto* p = std::get_if<ObjRef>(&value)) o->proto = *p;
        else o->proto = nullptr;
        return;
    }
    if (o->kind == Kind::Array) {
        size_t index;
        if (IsIndex(name, index)) {
            if (index >= o->elems.size()) {
                if (index > 10000000) return;
                ResizeArray(*o, index + 1);
            }
            o->elems[index] = value;
            MarkHole(*o, index, false);
            return;
        }
        if (KeyEq(name, "length")) {
            double n = ToNumber(value);
            if (n >= 0 && n <= 10000000) ResizeArray(*o, size_t(n));
            return;
        }
    }
    if (o->kind == Kind::Clip) {
        if (DisplayObject* clip = ClipOf(o))
            if (SetClipProperty(*clip, name, value)) return;
    }
    if (Property* p = FindOwn(o, name)) {
        if (Hidden(*p)) {
            // Assigning a hidden property replaces it with a plain, visible one.
            p->getter = p->setter = nullptr;
            p->flags &= uint16_t(~kVersionFlags);
            p->value = value;
            return;
        }
        if (p->setter) {
            Call(p->setter, self, {value});
            return;
        }
        if (p->getter) return;
        if (p->flags & kReadOnly) return;
        p->value = value;
        return;
    }
    // A setter up the prototype chain takes the assignment.
    int guard = 0;
    for (ObjRef q = o->proto; q && guard < 256; q = q->proto, ++guard) {
        if (Property* p = FindOwn(q, name); p && !Hidden(*p)) {
            if (p->setter) {
                Call(p->setter, self, {value});
                return;
            }
            if (p->getter) return;
            break;
        }
    }
    o->props.push_back(Property{name, value, nullptr, nullptr, 0});
}

bool Interpreter::Delete(const ObjRef& o, const std::string& name) {
    for (auto it = o->props.begin(); it != o->props.end(); ++it) {
        if (KeyEq(it->name, name)) {
            if (it->flags & kDontDelete) return false;
            o->props.erase(it);
            return true;
        }
    }
    size_t index;
    if (o->kind == Kind::Array && IsIndex(name, index) && index < o->elems.size() && !IsHole(*o, index)) {
        o->elems[index] = Undefined{};
        MarkHole(*o, index, true);
        return true;
    }
    return false;
}

std::vector<std::string> Interpreter::Keys(const ObjRef& start) {
    // Each object's names, newest first; a prototype's names come before the
    // names of the objects that inherit from it, and a name shadowed below is
    // given once, where it is nearest.
    std::vector<std::vector<std::string>> levels;
    std::vector<std::string> seen_names;
    auto seen = [&](const std::string& name) {
        for (auto& k : seen_names)
            if (KeyEq(k, name)) return true;
        return false;
    };
    int guard = 0;
    for (ObjRef o = start; o && guard < 256; o = o->proto, ++guard) {
        std::vector<std::string>& out = levels.emplace_back();
        for (auto it = o->props.rbegin(); it != o->props.rend(); ++it) {
            if (it->flags & kDontEnum) continue;
            if (!seen(it->name)) out.push_back(it->name), seen_names.push_back(it->name);
        }
        if (o->kind == Kind::Array)
            for (size_t i = o->elems.size(); i-- > 0;)
                if (!IsHole(*o, i)) out.push_back(std::to_string(i));
        if (o->kind == Kind::Clip)
            if (DisplayObject* clip = ClipOf(o))
                for (auto it = clip->children.rbegin(); it != clip->children.rend(); ++it)
                    if (!it->second->name.empty()) out.push_back(it->second->name);
    }
    std::vector<std::string> all;
    for (auto level = levels.rbegin(); level != levels.rend(); ++level) all.insert(all.end(), level->begin(), level->end());
    return all;
}

bool Interpreter::InstanceOf(const Value& v, const ObjRef& ctor) {
    auto* o = std::get_if<ObjRef>(&v);
    if (!o) return false;
    Value proto = GetOf(ctor, "prototype", ctor);
    auto* p = std::get_if<ObjRef>(&proto);
    if (!p) return false;
    int guard = 0;
    for (ObjRef q = (*o)->proto; q && guard < 256; q = q->proto, ++guard) {
        if (q == *p) return true;
        // Interfaces a class declared it implements.
        Value ifaces = GetOf(q, "__implements__", q);
        if (auto* list = std::get_if<ObjRef>(&ifaces))
            for (auto& i : (*list)->elems)
                if (auto* io = std::get_if<ObjRef>(&i); io && *io == ctor) return true;
    }
    return false;
}

Value Interpreter::Call(const Value& fn, const Value& self, std::vector<Value> args) {
    auto* f = std::get_if<ObjRef>(&fn);
    if (!f || (*f)->kind != Kind::Function) return Undefined{};
    ObjRef func = *f;
    // Deep recursion stops the script before the machine's stack runs out.
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    if (depth_ >= max_recursion_ - 1 || (stack_top_ && stack_top_ - here > kMaxStackBytes)) {
        Log(std::to_string(max_recursion_) + " levels of recursion were exceeded in one action list; the script stops");
        throw AbortSignal{};
    }
    ++depth_;
    struct Leave {
        int& d;
        ~Leave() { --d; }
    } leave{depth_};
    if (func->native) return func->native(*this, self, args);
    if (func->code) return CallScript(func, self, args);
    return Undefined{};
}

Value Interpreter::Construct(const Value& ctor, std::vector<Value> args) {
    auto* c = std::get_if<ObjRef>(&ctor);
    if (!c || (*c)->kind != Kind::Function) return Undefined{};
    Value proto = GetOf(*c, "prototype", *c);
    auto* p = std::get_if<ObjRef>(&proto);
    ObjRef obj = NewObject(p ? *p : object_proto_);
    Define(obj, "__constructor__", ctor, kDontEnum);
    if (version_ < 7) Define(obj, "constructor", ctor, kDontEnum);
    constructing_ = obj.get();
    Value r;
    try {
        r = Call(ctor, obj, std::move(args));
    } catch (...) {
        constructing_ = nullptr;
        throw;
    }
    constructing_ = nullptr;
    // A native class that makes its own object gives nothing when it refuses the arguments.
    if ((*c)->native_constructs) return std::holds_alternative<ObjRef>(r) ? r : Value(Undefined{});
    return obj;
}

}  // namespace qm::flash::avm1
