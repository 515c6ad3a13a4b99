// flash.external.ExternalInterface. A converted movie has no container page to
// talk to: it is never available, calls answer null and callbacks are refused.
// The helpers that turn values into the container's XML text and back are
// still there, since movies call them directly.
#include <cmath>

#include "flash/avm1/platform_classes.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

std::string Replace(const std::string& text, const std::vector<std::pair<std::string, std::string>>& table) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [from, to] : table) {
            if (text.compare(i, from.size(), from) == 0) {
                out += to;
                i += from.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

// The helpers take their text from the first argument; none, or an empty
// text, gives null.
Value TextHelper(Interpreter& in, std::vector<Value>& args,
                 const std::vector<std::pair<std::string, std::string>>& table) {
    if (args.empty()) return Null{};
    std::string text = in.ToString(args[0]);
    if (text.empty()) return Null{};
    return Replace(text, table);
}

const std::vector<std::pair<std::string, std::string>> kEscapes = {
    {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\"", "&quot;"}, {"'", "&apos;"}};
const std::vector<std::pair<std::string, std::string>> kUnescapes = {
    {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};

Value EscapeXml(Interpreter& in, const Value& v) {
    std::vector<Value> args{v};
    return TextHelper(in, args, kEscapes);
}

std::string ToXml(Interpreter& in, const Value& v, int depth);

uint32_t LengthOf(Interpreter& in, const Value& v) {
    if (std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v)) return 0;
    double n = in.ToNumber(in.Get(v, "length"));
    if (!std::isfinite(n) || n <= 0) return 0;
    return uint32_t(std::min(n, 65535.0));  // a movie's own array is never larger
}

std::string ArrayToXml(Interpreter& in, const Value& v, int depth) {
    std::string out = "<array>";
    uint32_t n = LengthOf(in, v);
    for (uint32_t i = 0; i < n; ++i) {
        std::string index = std::to_string(i);
        out += "<property id=\"" + index + "\">" + ToXml(in, in.Get(v, index), depth + 1) + "</property>";
        in.CheckTextSize(out.size());
    }
    return out + "</array>";
}

std::string ArgumentsToXml(Interpreter& in, const Value& v, int depth) {
    // The first argument of a call is the name of the function called.
    std::string out = "<arguments>";
    uint32_t n = LengthOf(in, v);
    for (uint32_t i = 1; i < n; ++i) {
        out += ToXml(in, in.Get(v, std::to_string(i)), depth + 1);
        in.CheckTextSize(out.size());
    }
    return out + "</arguments>";
}

std::string ObjectToXml(Interpreter& in, const Value& v, int depth) {
    std::string out = "<object>";
    if (auto* o = std::get_if<ObjRef>(&v); o && *o) {
        for (const std::string& key : in.Keys(*o)) {
            out += "<property id=\"" + key + "\">" + ToXml(in, in.Get(v, key), depth + 1) + "</property>";
            in.CheckTextSize(out.size());
        }
    }
    return out + "</object>";
}

std::string ToXml(Interpreter& in, const Value& v, int depth) {
    // An object that holds itself would never end.
    if (depth > 64) return "<null/>";
    if (std::holds_alternative<Undefined>(v)) return "<undefined/>";
    if (std::holds_alternative<Null>(v)) return "<null/>";
    if (auto* b = std::get_if<bool>(&v)) return *b ? "<true/>" : "<false/>";
    if (std::holds_alternative<double>(v)) return "<number>" + in.ToString(v) + "</number>";
    if (std::holds_alternative<std::string>(v)) return "<string>" + in.ToString(EscapeXml(in, v)) + "</string>";
    const ObjRef& o = std::get<ObjRef>(v);
    if (!o || o->kind == Kind::Function || in.ClipOf(o)) return "<null/>";
    // Whatever has a length goes as an array.
    if (!std::holds_alternative<Undefined>(in.Get(v, "length"))) return ArrayToXml(in, v, depth);
    return ObjectToXml(in, v, depth);
}

// A node's name as an equality with a text sees it: a text, or what valueOf gives.
std::string NodeName(Interpreter& in, const Value& node) {
    Value name = in.Get(node, "nodeName");
    if (std::holds_alternative<ObjRef>(name)) name = in.Call(in.Get(name, "valueOf"), name, {});
    if (auto* s = std::get_if<std::string>(&name)) return *s;
    return {};
}

std::vector<Value> ChildNodes(Interpreter& in, const Value& node) {
    std::vector<Value> out;
    Value children = in.Get(node, "childNodes");
    uint32_t n = LengthOf(in, children);
    for (uint32_t i = 0; i < n; ++i) out.push_back(in.Get(children, std::to_string(i)));
    return out;
}

Value ToAs(Interpreter& in, const Value& node, int depth);

Value ArrayToAs(Interpreter& in, const Value& node, int depth) {
    ObjRef array = in.NewArray();
    if (!std::holds_alternative<ObjRef>(node) || depth > 64) return array;
    for (const Value& child : ChildNodes(in, node)) {
        if (NodeName(in, child) != "property") continue;
        Value id = in.Get(in.Get(child, "attributes"), "id");
        in.Set(array, in.ToString(id), ToAs(in, in.Get(child, "firstChild"), depth + 1));
    }
    return array;
}

Value ObjectToAs(Interpreter& in, const Value& node, int depth) {
    ObjRef object = in.NewObject();
    if (!std::holds_alternative<ObjRef>(node) || depth > 64) return object;
    for (const Value& child : ChildNodes(in, node)) {
        if (NodeName(in, child) != "property") continue;
        Value id = in.Get(in.Get(child, "attributes"), "id");
        in.Set(object, in.ToString(id), ToAs(in, in.Get(child, "firstChild"), depth + 1));
    }
    return object;
}

Value ArgumentsToAs(Interpreter& in, const Value& node, int depth) {
    ObjRef array = in.NewArray();
    if (!std::holds_alternative<ObjRef>(node) || depth > 64) return array;
    for (const Value& child : ChildNodes(in, node)) array->elems.push_back(ToAs(in, child, depth + 1));
    return array;
}

Value ToAs(Interpreter& in, const Value& node, int depth) {
    if (!std::holds_alternative<ObjRef>(node) || depth > 64) return Undefined{};
    std::string name = NodeName(in, node);
    if (name == "null") return Null{};
    if (name == "true") return true;
    if (name == "false") return false;
    if (name == "string") return in.ToString(in.Get(node, "firstChild"));
    if (name == "number") return in.ToNumber(Value(in.ToString(in.Get(node, "firstChild"))));
    if (name == "array") return ArrayToAs(in, node, depth);
    if (name == "object") return ObjectToAs(in, node, depth);
    return Undefined{};
}

}  // namespace

void InstallExternalInterface(Interpreter& in) {
    if (!in.flash_package_) return;
    ObjRef external = in.NewObject();
    in.Define(in.flash_package_, "external", external, kDontEnum);
    ObjRef proto = in.NewObject();
    ObjRef ei = in.DefineClass("ExternalInterface", [](Interpreter&, const Value&, std::vector<Value>&) -> Value {
        return Undefined{};
    }, proto, false, external);
    in.Define(ei, "available", false, kDontEnum | kDontDelete | kReadOnly);
    in.Method(ei, "addCallback", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return false; });
    in.Method(ei, "call", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Null{}; });

    in.Method(ei, "_escapeXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return TextHelper(in, args, kEscapes);
    });
    in.Method(ei, "_unescapeXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return TextHelper(in, args, kUnescapes);
    });
    in.Method(ei, "_jsQuoteString", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return TextHelper(in, args, {{"\"", "\\\""}});
    });
    in.Method(ei, "_toXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ToXml(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_arrayToXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ArrayToXml(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_argumentsToXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ArgumentsToXml(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_objectToXML", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ObjectToXml(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_toAS", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ToAs(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_arrayToAS", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ArrayToAs(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_argumentsToAS", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ArgumentsToAs(in, Arg(args, 0), 0);
    });
    in.Method(ei, "_objectToAS", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        return ObjectToAs(in, Arg(args, 0), 0);
    });
}

}  // namespace qm::flash::avm1
