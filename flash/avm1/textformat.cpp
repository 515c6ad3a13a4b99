// Text field formats (getTextFormat, setTextFormat, the new text format) and
// the measures of laid-out text (textWidth, textHeight, scrolling).
//
// A field holds one format for all its text: the settings the drawing uses
// live in the field's own definition, the others beside it.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"
#include "flash/render/text_draw.h"

namespace qm::flash::avm1 {

namespace {

constexpr const char* kAligns[] = {"left", "right", "center", "justify"};

// Settings kept beside the definition, with their values before any is set.
struct Extra {
    const char* name;
    Value initial;
};

const std::vector<Extra>& Extras() {
    static const std::vector<Extra> extras = {
        {"underline", false}, {"url", std::string()}, {"target", std::string()}, {"bullet", false},
        {"blockIndent", 0.0}, {"kerning", false},     {"letterSpacing", 0.0},   {"tabStops", Undefined{}},
    };
    return extras;
}

const swf::Font* FontOf(Interpreter& in, const swf::EditText& d) {
    if (!d.font_id) return nullptr;
    const Character* ch = in.env()->Characters().Find(*d.font_id);
    return ch ? ch->As<swf::Font>() : nullptr;
}

std::string FontName(Interpreter& in, DisplayObject& f, const swf::EditText& d) {
    auto it = in.field_values_.find({f.instance_id, "fmt:font"});
    if (it != in.field_values_.end()) return in.ToString(it->second);
    if (d.font_id) {
        const Character* ch = in.env()->Characters().Find(*d.font_id);
        if (const swf::Font* font = ch ? ch->As<swf::Font>() : nullptr) {
            if (!font->name.empty()) return font->name;
            if (ch->font_info) return ch->font_info->name;
        }
    }
    if (d.font_class) return *d.font_class;
    return "Times New Roman";
}

// The embedded font named so, the plainest face first; 0 when there is none.
uint16_t FontIdByName(Interpreter& in, const std::string& name, bool bold, bool italic) {
    const Dictionary& dict = in.env()->Characters();
    uint16_t best = 0;
    int best_score = -1;
    size_t seen = 0;
    for (uint32_t id = 0; id < 65536 && seen < dict.size(); ++id) {
        const Character* ch = dict.Find(uint16_t(id));
        if (!ch) continue;
        ++seen;
        const swf::Font* font = ch->As<swf::Font>();
        if (!font) continue;
        std::string n = font->name.empty() && ch->font_info ? ch->font_info->name : font->name;
        if (n != name) continue;
        int score = (font->bold == bold) + (font->italic == italic) + !font->glyphs.empty() * 2;
        if (score > best_score) {
            best = uint16_t(id);
            best_score = score;
        }
    }
    return best;
}

double Pixels(double twips) { return twips / 20.0; }

bool Given(const Value& v) { return !std::holds_alternative<Undefined>(v) && !std::holds_alternative<Null>(v); }

const char* const kFormatNames[] = {"font",   "size",       "color",       "bold",   "italic",  "underline",
                                    "url",    "target",     "align",       "leftMargin", "rightMargin", "indent",
                                    "leading", "blockIndent", "bullet",     "tabStops", "kerning", "letterSpacing"};

// The given settings of `from` over `onto`.
void Overlay(Interpreter& in, const ObjRef& onto, const ObjRef& from) {
    for (const char* name : kFormatNames) {
        Value v = in.Get(from, name);
        if (Given(v)) in.Set(onto, name, v);
    }
}

}  // namespace

// The field's format as a TextFormat object with every setting given.
ObjRef FieldFormat(Interpreter& in, DisplayObject& f, const swf::EditText& d, const std::string& prefix) {
    ObjRef tf = in.ToObject(in.Construct(in.Get(in.global_, "TextFormat"), {}));
    if (!tf) return nullptr;
    const swf::Font* font = FontOf(in, d);
    auto stored = [&](const std::string& name, Value fallback) -> Value {
        for (const std::string& p : {prefix, std::string("fmt:")}) {
            if (p.empty()) continue;
            auto it = in.field_values_.find({f.instance_id, p + name});
            if (it != in.field_values_.end()) return it->second;
        }
        return fallback;
    };
    in.Set(tf, "font", stored("font", FontName(in, f, d)));
    in.Set(tf, "size", stored("size", d.font_height ? Pixels(*d.font_height) : 12.0));
    in.Set(tf, "color",
           stored("color", d.color ? double(uint32_t(d.color->r) << 16 | uint32_t(d.color->g) << 8 | d.color->b) : 0.0));
    in.Set(tf, "bold", stored("bold", font && !d.html ? font->bold : false));
    in.Set(tf, "italic", stored("italic", font && !d.html ? font->italic : false));
    swf::EditTextLayout layout = d.layout.value_or(swf::EditTextLayout{});
    in.Set(tf, "align", stored("align", std::string(kAligns[int(layout.align) & 3])));
    in.Set(tf, "leftMargin", stored("leftMargin", Pixels(layout.left_margin)));
    in.Set(tf, "rightMargin", stored("rightMargin", Pixels(layout.right_margin)));
    in.Set(tf, "indent", stored("indent", Pixels(layout.indent)));
    in.Set(tf, "leading", stored("leading", Pixels(layout.leading)));
    for (const Extra& e : Extras()) {
        Value v = stored(e.name, e.initial);
        if (std::string(e.name) == "tabStops" && !std::holds_alternative<ObjRef>(v)) v = in.NewArray();
        in.Set(tf, e.name, v);
    }
    return tf;
}

// Takes every setting a TextFormat gives (null ones are left as they are).
void ApplyFormat(Interpreter& in, DisplayObject& f, swf::EditText& d, const ObjRef& tf) {
    auto value = [&](const char* name) { return in.Get(tf, name); };
    auto number = [&](const char* name, double& out) {
        Value v = value(name);
        if (!Given(v)) return false;
        double n = in.ToNumber(v);
        if (!std::isfinite(n)) return false;
        out = n;
        return true;
    };
    double n = 0;
    if (number("size", n)) d.font_height = uint16_t(std::clamp(std::round(n) * 20.0, 0.0, 65535.0));
    if (Given(value("color"))) {
        uint32_t c = uint32_t(in.ToInt32(value("color")));
        d.color = swf::Rgba{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), d.color ? d.color->a : uint8_t(255)};
    }
    swf::EditTextLayout layout = d.layout.value_or(swf::EditTextLayout{});
    bool laid = false;
    if (Given(value("align"))) {
        std::string a = in.ToString(value("align"));
        for (int i = 0; i < 4; ++i)
            if (a == kAligns[i]) {
                layout.align = swf::TextAlign(i);
                laid = true;
            }
    }
    auto margin = [&](const char* name, uint16_t& member) {
        if (number(name, n)) {
            member = uint16_t(std::clamp(std::round(n) * 20.0, 0.0, 65535.0));
            laid = true;
        }
    };
    margin("leftMargin", layout.left_margin);
    margin("rightMargin", layout.right_margin);
    margin("indent", layout.indent);
    if (number("leading", n)) {
        layout.leading = int16_t(std::clamp(std::round(n) * 20.0, -32768.0, 32767.0));
        laid = true;
    }
    if (laid) d.layout = layout;
    for (const char* style : {"bold", "italic"}) {
        Value v = value(style);
        if (Given(v)) in.field_values_[{f.instance_id, std::string("fmt:") + style}] = in.ToBoolean(v);
    }
    for (const Extra& e : Extras()) {
        Value v = value(e.name);
        if (!Given(v)) continue;
        Value kept = v;
        if (std::holds_alternative<bool>(e.initial)) kept = in.ToBoolean(v);
        else if (std::holds_alternative<double>(e.initial)) kept = in.ToNumber(v);
        else if (std::holds_alternative<std::string>(e.initial)) kept = in.ToString(v);
        in.field_values_[{f.instance_id, std::string("fmt:") + e.name}] = kept;
    }
    Value face = value("font");
    if (Given(face)) {
        std::string name = in.ToString(face);
        in.field_values_[{f.instance_id, "fmt:font"}] = name;
        auto styled = [&](const char* s) {
            auto it = in.field_values_.find({f.instance_id, std::string("fmt:") + s});
            return it != in.field_values_.end() && in.ToBoolean(it->second);
        };
        uint16_t id = FontIdByName(in, name, styled("bold"), styled("italic"));
        if (id) d.font_id = id;
        else d.font_id.reset();
        d.font_class = name;
    }
}

namespace {

// Whole numbers the way the player stores them: NaN and values beyond an int
// become the lowest int.
double StoredInt(double n, bool round) {
    n = round ? std::nearbyint(n) : std::trunc(n);
    if (!(n >= -2147483648.0 && n <= 2147483647.0)) return -2147483648.0;
    return n;
}

enum class Use { Text, Int, Margin, Block, Colour, Flag, Align, Display, Tabs };

struct Setting {
    const char* name;
    Use kind;
};

constexpr Setting kSettings[] = {
    {"align", Use::Align},     {"blockIndent", Use::Block}, {"bold", Use::Flag},      {"bullet", Use::Flag},
    {"color", Use::Colour},    {"display", Use::Display},   {"font", Use::Text},      {"indent", Use::Block},
    {"italic", Use::Flag},     {"kerning", Use::Flag},      {"leading", Use::Block},  {"leftMargin", Use::Margin},
    {"letterSpacing", Use::Int}, {"rightMargin", Use::Margin}, {"size", Use::Int},    {"tabStops", Use::Tabs},
    {"target", Use::Text},     {"underline", Use::Flag},    {"url", Use::Text},
};

// A value given to a TextFormat setting as the setting keeps it; the
// constructor's numbers are cut, the setters' rounded.
Value Coerce(Interpreter& in, Use kind, const Value& v, bool from_constructor, const Value& before) {
    bool empty = std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v);
    switch (kind) {
    case Use::Display: {
        std::string s = empty ? "" : in.ToString(v);
        return std::string(s == "inline" || s == "none" ? s : "block");
    }
    case Use::Align: {
        if (empty) return Null{};
        std::string s = in.ToString(v);
        for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const char* a : kAligns)
            if (s == a) return s;
        return before;
    }
    default: break;
    }
    if (empty) return Null{};
    switch (kind) {
    case Use::Text: return in.ToString(v);
    case Use::Flag: return in.ToBoolean(v);
    case Use::Colour: return double(uint32_t(in.ToInt32(v)));
    case Use::Int: return StoredInt(in.ToNumber(v), !from_constructor);
    case Use::Margin: {
        double n = StoredInt(in.ToNumber(v), !from_constructor);
        return from_constructor ? n : std::max(0.0, n);
    }
    case Use::Block: {
        double n = StoredInt(in.ToNumber(v), !from_constructor);
        return from_constructor || in.version() >= 8 ? n : std::max(0.0, n);
    }
    case Use::Tabs: {
        ObjRef a = std::holds_alternative<ObjRef>(v) ? std::get<ObjRef>(v) : nullptr;
        if (!a) return Null{};
        std::vector<Value> stops;
        double count = in.ToNumber(in.Get(a, "length"));
        for (int i = 0; i < count && i < 10000; ++i)
            stops.push_back(StoredInt(in.ToNumber(in.Get(a, std::to_string(i))), true));
        return in.NewArray(std::move(stops));
    }
    default: return Null{};
    }
}

std::map<std::string, Value>* Settings(Interpreter& in, const Value& self) {
    (void)in;
    auto* o = std::get_if<ObjRef>(&self);
    return o && *o && (*o)->text_format ? (*o)->text_format.get() : nullptr;
}

// getTextExtent(text [, width]): the measures of the text in this format,
// on one line or wrapped at the width.
Value TextExtentOf(Interpreter& in, const std::map<std::string, Value>& s, std::vector<Value>& args) {
    swf::EditText d;
    auto get = [&](const char* name) {
        auto it = s.find(name);
        return it == s.end() ? Value(Null{}) : it->second;
    };
    double size = Given(get("size")) ? in.ToNumber(get("size")) : 12.0;
    d.font_height = uint16_t(std::clamp(size * 20.0, 0.0, 65535.0));
    std::string face = Given(get("font")) ? in.ToString(get("font")) : "Times New Roman";
    bool bold = Given(get("bold")) && in.ToBoolean(get("bold"));
    bool italic = Given(get("italic")) && in.ToBoolean(get("italic"));
    if (uint16_t id = FontIdByName(in, face, bold, italic)) {
        d.font_id = id;
        d.use_outlines = true;
    }
    d.font_class = face;
    bool wrapped = args.size() >= 2 && Given(args[1]) && std::isfinite(in.ToNumber(args[1]));
    double width = wrapped ? std::clamp(in.ToNumber(args[1]), 0.0, 1.0e6) : 1.0e6;
    d.bounds = swf::Rect{0, int32_t(width * 20 + 80), 0, 1000000};
    d.word_wrap = wrapped;
    d.multiline = true;
    std::string text = args.empty() ? std::string() : in.ToString(args[0]);
    render::TextExtent e = render::MeasureEdit(d, text, in.env()->Characters());
    render::TextExtent line = render::MeasureEdit(d, std::string("x"), in.env()->Characters());
    ObjRef out = in.NewObject();
    double w = std::round(e.width / 20.0), h = std::round(e.height / 20.0);
    in.Set(out, "ascent", std::round(line.ascent / 20.0));
    in.Set(out, "descent", std::round(line.descent / 20.0));
    in.Set(out, "width", w);
    in.Set(out, "height", h);
    in.Set(out, "textFieldWidth", wrapped ? width : w + 4);
    in.Set(out, "textFieldHeight", h + 4);
    return out;
}

}  // namespace

void InstallTextFormatClass(Interpreter& in) {
    ObjRef proto = in.NewObject();
    // TextFormat(font, size, color, bold, italic, underline, url, target,
    //            align, leftMargin, rightMargin, indent, leading)
    in.DefineClass("TextFormat", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o) return Undefined{};
        auto settings = std::make_shared<std::map<std::string, Value>>();
        for (const Setting& s : kSettings) (*settings)[s.name] = Coerce(in, s.kind, Null{}, true, Null{});
        static const char* const order[] = {"font",   "size",       "color",       "bold",   "italic", "underline", "url",
                                            "target", "align", "leftMargin", "rightMargin", "indent", "leading"};
        for (size_t i = 0; i < std::size(order) && i < args.size(); ++i) {
            for (const Setting& s : kSettings)
                if (std::string(s.name) == order[i]) (*settings)[s.name] = Coerce(in, s.kind, args[i], true, Null{});
        }
        (*o)->text_format = settings;
        return Undefined{};
    }, proto, false);
    for (const Setting& s : kSettings) {
        std::string name = s.name;
        Use kind = s.kind;
        in.Accessor(proto, name,
                    [name](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                        auto* settings = Settings(in, self);
                        if (!settings) return Undefined{};
                        auto it = settings->find(name);
                        return it == settings->end() ? Value(Null{}) : it->second;
                    },
                    [name, kind](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                        auto* settings = Settings(in, self);
                        if (!settings) return Undefined{};
                        Value v = args.empty() ? Value(Undefined{}) : args[0];
                        Value& slot = (*settings)[name];
                        slot = Coerce(in, kind, v, false, slot);
                        return Undefined{};
                    });
    }
    in.Method(proto, "getTextExtent", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* settings = Settings(in, self);
        if (!settings) return Undefined{};
        return TextExtentOf(in, *settings, args);
    });
}

void InstallTextFormats(Interpreter& in, const ObjRef& proto) {
    using Fn = std::function<Value(Interpreter&, DisplayObject&, swf::EditText&, std::vector<Value>&)>;
    auto method = [&](const std::string& name, Fn fn) {
        in.Method(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
            swf::EditText* d = f ? in.env()->OwnTextDefinition(*f) : nullptr;
            if (!d) return Undefined{};
            return fn(in, *f, *d, args);
        });
    };
    method("getTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText& d, std::vector<Value>&) -> Value {
        return FieldFormat(in, f, d, "");
    });
    method("getNewTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText& d, std::vector<Value>&) -> Value {
        ObjRef tf = FieldFormat(in, f, d, "");
        auto it = in.field_values_.find({f.instance_id, "new-format"});
        if (tf && it != in.field_values_.end() && std::holds_alternative<ObjRef>(it->second))
            Overlay(in, tf, std::get<ObjRef>(it->second));
        return tf;
    });
    // setTextFormat([begin, [end,]] format): the field has one format, so a
    // range takes the whole field only when it covers all of the text.
    method("setTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText& d, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        ObjRef tf = std::holds_alternative<ObjRef>(args.back()) ? std::get<ObjRef>(args.back()) : nullptr;
        if (!tf) return Undefined{};
        if (args.size() >= 2) {
            double length = double(in.FieldText(f).size());
            double begin = in.ToNumber(args[0]);
            double end = args.size() >= 3 ? in.ToNumber(args[1]) : begin + 1;
            if (!(begin <= 0 && end >= length) && length > 0) return Undefined{};
        }
        ApplyFormat(in, f, d, tf);
        return Undefined{};
    });
    method("setNewTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText& d, std::vector<Value>& args) -> Value {
        if (args.empty() || !std::holds_alternative<ObjRef>(args[0])) return Undefined{};
        // Text given later takes it; an empty field shows it at once. A copy,
        // since the script may go on changing its object.
        ObjRef copy = in.NewObject();
        Overlay(in, copy, std::get<ObjRef>(args[0]));
        in.field_values_[{f.instance_id, "new-format"}] = copy;
        if (in.FieldText(f).empty()) ApplyFormat(in, f, d, std::get<ObjRef>(args[0]));
        return Undefined{};
    });

    auto measure = [&](const std::string& name, std::function<Value(const render::TextExtent&, const swf::EditText&)> get) {
        in.Accessor(proto, name, [get](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
            const swf::EditText* d = f && f->character ? f->character->As<swf::EditText>() : nullptr;
            if (!d) return Undefined{};
            return get(render::MeasureEdit(*d, f->text, in.env()->Characters()), *d);
        });
    };
    measure("textWidth", [](const render::TextExtent& e, const swf::EditText&) -> Value {
        return std::floor(e.width / 20.0);
    });
    measure("textHeight", [](const render::TextExtent& e, const swf::EditText&) -> Value {
        return std::floor(e.height / 20.0);
    });
    // Scrolling: fields are shown from their first line.
    measure("scroll", [](const render::TextExtent&, const swf::EditText&) -> Value { return 1.0; });
    measure("hscroll", [](const render::TextExtent&, const swf::EditText&) -> Value { return 0.0; });
    measure("maxhscroll", [](const render::TextExtent&, const swf::EditText&) -> Value { return 0.0; });
    measure("maxscroll", [](const render::TextExtent& e, const swf::EditText& d) -> Value {
        // Lines past what the box shows, on average heights.
        double box = double(d.bounds.y_max - d.bounds.y_min) - 80;
        if (e.lines <= 1 || e.height <= box || e.height <= 0) return 1.0;
        double per_line = e.height / e.lines;
        return 1.0 + std::ceil((e.height - box) / per_line);
    });
    measure("bottomScroll", [](const render::TextExtent& e, const swf::EditText& d) -> Value {
        double box = double(d.bounds.y_max - d.bounds.y_min) - 80;
        if (e.lines <= 1 || e.height <= 0) return 1.0;
        double per_line = e.height / e.lines;
        return std::clamp(std::floor(box / per_line), 1.0, double(e.lines));
    });
}

// Text set by a script takes the field's new text format.
void TakeNewFormat(Interpreter& in, DisplayObject& f, swf::EditText& d) {
    auto it = in.field_values_.find({f.instance_id, "new-format"});
    if (it == in.field_values_.end() || !std::holds_alternative<ObjRef>(it->second)) return;
    ObjRef tf = std::get<ObjRef>(it->second);
    ApplyFormat(in, f, d, tf);
}

}  // namespace qm::flash::avm1
