// Text fields as script objects (TextField, createTextField) and TextFormat.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

uint32_t Rgb(const swf::Rgba& c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; }

swf::Rgba FromRgb(uint32_t v, uint8_t alpha) { return swf::Rgba{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), alpha}; }

// The text with its markup taken out, for HTML fields read as plain text.
std::string PlainOf(const std::string& html) {
    std::string out;
    bool tag = false;
    for (size_t i = 0; i < html.size(); ++i) {
        char c = html[i];
        if (c == '<') {
            tag = true;
            if (html.compare(i, 3, "<br") == 0 || html.compare(i, 3, "<BR") == 0 || html.compare(i, 3, "</p") == 0 ||
                html.compare(i, 3, "</P") == 0)
                out += '\r';
        } else if (c == '>') {
            tag = false;
        } else if (!tag) {
            out += c;
        }
    }
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&nbsp;", "\xC2\xA0"}};
    for (auto& [from, to] : entities) {
        for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + 1)) out.replace(at, std::strlen(from), to);
    }
    return out;
}

}  // namespace

void InstallTextFormats(Interpreter& in, const ObjRef& proto);
void InstallTextFormatClass(Interpreter& in);
void TakeNewFormat(Interpreter& in, DisplayObject& f, swf::EditText& d);

std::string Interpreter::FieldText(DisplayObject& field) {
    const swf::EditText* def = field.character ? field.character->As<swf::EditText>() : nullptr;
    std::string shown = field.text ? *field.text : (def && def->initial_text ? *def->initial_text : std::string());
    return def && def->html ? PlainOf(shown) : shown;
}

void Interpreter::InstallText() {
    textfield_proto_ = NewObject();
    DefineClass("TextField", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; },
                textfield_proto_, false);

    using Get = std::function<Value(Interpreter&, DisplayObject&, const swf::EditText&)>;
    using Put = std::function<void(Interpreter&, DisplayObject&, swf::EditText&, const Value&)>;
    auto property = [&](const std::string& name, Get get, Put put) {
        NativeFn setter = nullptr;
        if (put) {
            setter = [put](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                auto* o = std::get_if<ObjRef>(&self);
                DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
                if (!f) return Undefined{};
                if (swf::EditText* def = in.env()->OwnTextDefinition(*f)) put(in, *f, *def, Arg(args, 0));
                return Undefined{};
            };
        }
        Accessor(textfield_proto_, name, [get](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
            const swf::EditText* def = f && f->character ? f->character->As<swf::EditText>() : nullptr;
            if (!def) return Undefined{};
            return get(in, *f, *def);
        }, setter);
    };
    auto flag = [&](const std::string& name, bool swf::EditText::*member, bool inverted = false) {
        property(name, [member, inverted](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value { return d.*member != inverted; },
                 [member, inverted](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) { d.*member = in.ToBoolean(v) != inverted; });
    };
    flag("border", &swf::EditText::border);
    flag("multiline", &swf::EditText::multiline);
    flag("wordWrap", &swf::EditText::word_wrap);
    flag("password", &swf::EditText::password);
    flag("html", &swf::EditText::html);
    flag("embedFonts", &swf::EditText::use_outlines);
    flag("selectable", &swf::EditText::no_select, true);
    property("text", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value { return in.FieldText(f); },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 std::string text = in.ToString(v);
                 if (d.html) {
                     // Plain text shown in an HTML field: its markup characters are text.
                     std::string escaped;
                     for (char c : text) escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
                     text = escaped;
                 }
                 f.text = text;
                 TakeNewFormat(in, f, d);
             });
    property("htmlText", [](Interpreter& in, DisplayObject& f, const swf::EditText& d) -> Value {
                 if (!d.html) return in.FieldText(f);
                 return f.text ? *f.text : (d.initial_text ? *d.initial_text : std::string());
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 f.text = d.html ? in.ToString(v) : in.ToString(v);
             });
    property("length", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 return in.Get(Value(in.FieldText(f)), "length");
             }, nullptr);
    property("type", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value {
                 return std::string(d.read_only ? "dynamic" : "input");
             },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 std::string t = in.ToString(v);
                 for (auto& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
                 if (t == "input") d.read_only = false;
                 else if (t == "dynamic") d.read_only = true;
             });
    property("variable", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value {
                 return d.variable_name.empty() ? Value(Null{}) : Value(d.variable_name);
             },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 d.variable_name = std::holds_alternative<Null>(v) || std::holds_alternative<Undefined>(v) ? "" : in.ToString(v);
             });
    property("maxChars", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value {
                 return d.max_length && *d.max_length ? Value(double(*d.max_length)) : Value(Null{});
             },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 double n = in.ToNumber(v);
                 if (std::isfinite(n) && n > 0 && n < 65536) d.max_length = uint16_t(n);
                 else d.max_length.reset();
             });
    property("textColor", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value {
                 return double(d.color ? Rgb(*d.color) : 0);
             },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 d.color = FromRgb(uint32_t(in.ToInt32(v)), d.color ? d.color->a : 255);
             });
    property("autoSize", [](Interpreter& in, DisplayObject& f, const swf::EditText& d) -> Value {
                 auto it = in.auto_sizes_.find(f.instance_id);
                 if (it != in.auto_sizes_.end()) return it->second;
                 return std::string(d.auto_size ? "left" : "none");
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 std::string mode = "none";
                 if (std::holds_alternative<bool>(v)) mode = std::get<bool>(v) ? "left" : "none";
                 else {
                     std::string s = in.ToString(v);
                     if (s == "left" || s == "center" || s == "right") mode = s;
                 }
                 d.auto_size = mode != "none";
                 in.auto_sizes_[f.instance_id] = mode;
             });
    // Colours of the box: kept per field; the box itself follows `border`.
    auto box_colour = [&](const std::string& name, const std::string& flag_name, uint32_t fallback) {
        property(name, [name, fallback](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                     auto it = in.field_values_.find({f.instance_id, name});
                     return it != in.field_values_.end() ? it->second : Value(double(fallback));
                 },
                 [name](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                     in.field_values_[{f.instance_id, name}] = double(uint32_t(in.ToInt32(v)) & 0xFFFFFF);
                 });
        property(flag_name, [flag_name](Interpreter& in, DisplayObject& f, const swf::EditText& d) -> Value {
                     auto it = in.field_values_.find({f.instance_id, flag_name});
                     return it != in.field_values_.end() ? it->second : Value(flag_name == "background" ? d.border : false);
                 },
                 [flag_name](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                     in.field_values_[{f.instance_id, flag_name}] = in.ToBoolean(v);
                 });
    };
    box_colour("backgroundColor", "background", 0xFFFFFF);
    property("borderColor", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 auto it = in.field_values_.find({f.instance_id, "borderColor"});
                 return it != in.field_values_.end() ? it->second : Value(0.0);
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                 in.field_values_[{f.instance_id, "borderColor"}] = double(uint32_t(in.ToInt32(v)) & 0xFFFFFF);
             });
    for (const char* name : {"condenseWhite", "mouseWheelEnabled"}) {
        std::string n = name;
        bool initial = n == "mouseWheelEnabled";
        property(n, [n, initial](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                     auto it = in.field_values_.find({f.instance_id, n});
                     return it != in.field_values_.end() ? it->second : Value(initial);
                 },
                 [n](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                     in.field_values_[{f.instance_id, n}] = in.ToBoolean(v);
                 });
    }
    auto field_method = [&](const std::string& name, std::function<Value(Interpreter&, DisplayObject&, std::vector<Value>&)> fn) {
        Method(textfield_proto_, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
            if (!f) return Undefined{};
            return fn(in, *f, args);
        });
    };
    field_method("removeTextField", [](Interpreter& in, DisplayObject& f, std::vector<Value>&) -> Value {
        if (f.placed_by_script) in.env()->RemoveClip(f);
        return Undefined{};
    });
    field_method("getDepth", [](Interpreter&, DisplayObject& f, std::vector<Value>&) -> Value { return double(f.depth - 16384); });
    field_method("replaceText", [](Interpreter& in, DisplayObject& f, std::vector<Value>& args) -> Value {
        if (args.size() < 3) return Undefined{};
        std::string text = in.FieldText(f);
        double b = in.ToNumber(args[0]), e = in.ToNumber(args[1]);
        if (!(b >= 0) || !(e >= b) || b > double(text.size())) return Undefined{};
        size_t from = size_t(b), to = std::min(size_t(e), text.size());
        f.text = text.substr(0, from) + in.ToString(args[2]) + text.substr(to);
        return Undefined{};
    });

    InstallTextFormats(*this, textfield_proto_);

    // createTextField(name, depth, x, y, width, height)
    Method(clip_proto_, "createTextField", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* parent = o ? in.ClipOf(*o) : nullptr;
        if (!parent || !parent->sprite || args.size() < 6) return Undefined{};
        auto twips = [&](const Value& v) {
            double d = in.ToNumber(v);
            return std::isfinite(d) ? std::clamp(std::round(d * 20.0), -1.0e8, 1.0e8) : 0.0;
        };
        swf::EditText def;
        def.bounds = swf::Rect{0, int32_t(std::fabs(twips(args[4]))), 0, int32_t(std::fabs(twips(args[5])))};
        def.read_only = true;
        def.font_height = 240;
        def.color = swf::Rgba{0, 0, 0, 255};
        def.initial_text = std::string();
        DisplayObject* f = in.env()->CreateTextField(*parent, in.ToInt32(args[1]) + 16384, in.ToString(args[0]), def);
        if (!f) return Undefined{};
        f->matrix.tx = twips(args[2]);
        f->matrix.ty = twips(args[3]);
        f->script_moved = true;
        // Older movies get nothing back.
        return in.version() >= 8 ? Value(in.ClipObject(*f)) : Value(Undefined{});
    });

    InstallTextFormatClass(*this);
}

}  // namespace qm::flash::avm1
