// LoadVars and the variables of loadVariables: "name=value&..." text read
// from a file beside the movie, answered after the frame's scripts.
#include "flash/avm1/loadvars.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string FormUnescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() + 0 && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
            out.push_back(char(Hex(s[i + 1]) * 16 + Hex(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i] == '+' ? ' ' : s[i]);
        }
    }
    return out;
}

// Everything but letters and digits is escaped, as the original player sends it.
std::string FormEscape(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            out.push_back(char(c));
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

void StartTextLoad(Interpreter& in, const Value& target, const std::string& url) {
    in.Set(target, "loaded", false);
    in.Set(target, "_bytesLoaded", 0.0);
    in.Set(target, "_bytesTotal", Undefined{});
    std::optional<std::string> text = in.env() ? in.env()->ReadLocalFile(url) : std::nullopt;
    Interval answer;
    answer.function = in.NewFunction([target, text](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        Value data = Undefined{};
        if (text) {
            // The counts of an arrived load stay, whatever the script deletes.
            if (auto* o = std::get_if<ObjRef>(&target); o && *o) {
                in.Define(*o, "_bytesLoaded", double(text->size()), kDontDelete);
                in.Define(*o, "_bytesTotal", double(text->size()), kDontDelete);
            }
            data = *text;
        }
        in.Call(in.Get(target, "onData"), target, {data});
        return Undefined{};
    });
    in.QueueLoad(std::move(answer));
}

void DecodeVariables(Interpreter& in, const Value& into, const std::string& text) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('&', at);
        if (end == std::string::npos) end = text.size();
        std::string_view pair(text.data() + at, end - at);
        if (!pair.empty()) {
            size_t eq = pair.find('=');
            std::string name = FormUnescape(pair.substr(0, eq));
            std::string value = eq == std::string_view::npos ? std::string() : FormUnescape(pair.substr(eq + 1));
            if (!name.empty()) in.Set(into, name, value);
        }
        at = end + 1;
    }
}

void LoadVariablesInto(Interpreter& in, DisplayObject& clip, const std::string& url) {
    if (!in.env()) return;
    std::optional<std::string> text = in.env()->ReadLocalFile(url);
    if (!text) return;
    uint64_t id = clip.instance_id;
    Interval answer;
    answer.function = in.NewFunction([id, text](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        // The clip may have gone since it asked.
        DisplayObject* clip = in.FindClip(id);
        if (!clip) return Undefined{};
        ObjRef object = in.ClipObject(*clip);
        DecodeVariables(in, object, *text);
        if (in.env()) in.env()->ClipDataArrived(*clip);
        return Undefined{};
    });
    in.QueueLoad(std::move(answer));
}

void InstallLoadVars(Interpreter& in) {
    ObjRef proto = in.NewObject();
    in.DefineClass("LoadVars", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; },
                   proto, false);
    in.Define(proto, "contentType", std::string("application/x-www-form-urlencoded"), kDontEnum);
    in.Define(proto, "loaded", Undefined{}, kDontEnum);
    in.Method(proto, "load", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (args.empty() || !std::holds_alternative<ObjRef>(self)) return false;
        StartTextLoad(in, self, in.ToString(args[0]));
        return true;
    });
    in.Method(proto, "sendAndLoad", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.size() < 2 || !std::holds_alternative<ObjRef>(args[1])) return false;
        StartTextLoad(in, args[1], in.ToString(args[0]));
        return true;
    });
    in.Method(proto, "send", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return false;
        if (in.env()) in.env()->Log("LoadVars send refused: \"" + in.ToString(args[0]) + "\": a movie's scripts send nothing");
        return false;
    });
    in.Method(proto, "decode", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (!args.empty() && std::holds_alternative<ObjRef>(self)) DecodeVariables(in, self, in.ToString(args[0]));
        return Undefined{};
    });
    in.Method(proto, "toString", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o) return std::string();
        std::string out;
        for (const std::string& key : in.Keys(*o)) {
            std::string value = in.ToString(in.Get(self, key));
            if (!out.empty()) out += '&';
            out += FormEscape(key) + "=" + FormEscape(value);
            in.CheckTextSize(out.size());
        }
        return out;
    });
    in.Method(proto, "getBytesLoaded", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return in.Get(self, "_bytesLoaded");
    });
    in.Method(proto, "getBytesTotal", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        return in.Get(self, "_bytesTotal");
    });
    in.Method(proto, "addRequestHeader", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    // The default: the text's variables, then onLoad with whether it came.
    in.Method(proto, "onData", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        Value data = Arg(args, 0);
        if (std::holds_alternative<Undefined>(data) || std::holds_alternative<Null>(data)) {
            in.Call(in.Get(self, "onLoad"), self, {false});
        } else {
            DecodeVariables(in, self, in.ToString(data));
            in.Set(self, "loaded", true);
            in.Call(in.Get(self, "onLoad"), self, {true});
        }
        return Undefined{};
    });
    in.Method(proto, "onLoad", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });

    in.Method(in.clip_proto_, "loadVariables", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* clip = o ? in.ClipOf(*o) : nullptr;
        if (clip && !args.empty()) LoadVariablesInto(in, *clip, in.ToString(args[0]));
        return Undefined{};
    });
}

}  // namespace qm::flash::avm1
