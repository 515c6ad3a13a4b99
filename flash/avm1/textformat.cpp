// Text field formats (getTextFormat, setTextFormat, the new text format) and
// the measures of laid-out text (textWidth, textHeight, scrolling).
//
// Each character of a field has its format; the field's document keeps them.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"
#include "flash/render/text_draw.h"

namespace qm::flash::avm1 {

TextDocument& FieldDocument(Interpreter& in, DisplayObject& f);
void ShowDocument(Interpreter& in, DisplayObject& f);
TextStyle StyleOfObject(Interpreter& in, const ObjRef& tf);
ObjRef ObjectOfStyle(Interpreter& in, const TextStyle& s);

namespace {

constexpr const char* kAligns[] = {"left", "right", "center", "justify"};

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

bool Given(const Value& v) { return !std::holds_alternative<Undefined>(v) && !std::holds_alternative<Null>(v); }

}  // namespace

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
    method("getTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText&, std::vector<Value>& args) -> Value {
        TextDocument& doc = FieldDocument(in, f);
        double length = double(doc.text().size());
        double begin = 0, end = length;
        if (!args.empty()) {
            begin = in.ToNumber(args[0]);
            end = args.size() >= 2 ? in.ToNumber(args[1]) : begin + 1;
        }
        if (!(begin >= 0)) begin = 0;
        if (!(end <= length)) end = length;
        if (!(end >= begin)) end = begin;
        return ObjectOfStyle(in, doc.StyleOf(size_t(begin), size_t(end)));
    });
    method("getNewTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText&, std::vector<Value>&) -> Value {
        return ObjectOfStyle(in, FieldDocument(in, f).default_style());
    });
    // setTextFormat([begin, [end,]] format): one character for a begin alone.
    method("setTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText&, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        ObjRef tf = std::holds_alternative<ObjRef>(args.back()) ? std::get<ObjRef>(args.back()) : nullptr;
        if (!tf) return Undefined{};
        TextDocument& doc = FieldDocument(in, f);
        double length = double(doc.text().size());
        double begin = 0, end = length;
        if (args.size() >= 2) {
            begin = in.ToNumber(args[0]);
            end = args.size() >= 3 ? in.ToNumber(args[1]) : begin + 1;
        }
        if (!(begin >= 0)) begin = 0;
        if (!(end <= length)) end = length;
        if (!(end > begin)) return Undefined{};
        doc.ApplyStyle(size_t(begin), size_t(end), StyleOfObject(in, tf));
        ShowDocument(in, f);
        return Undefined{};
    });
    method("setNewTextFormat", [](Interpreter& in, DisplayObject& f, swf::EditText&, std::vector<Value>& args) -> Value {
        if (args.empty() || !std::holds_alternative<ObjRef>(args[0])) return Undefined{};
        TextDocument& doc = FieldDocument(in, f);
        TextStyle s = doc.default_style();
        s.Overlay(StyleOfObject(in, std::get<ObjRef>(args[0])));
        doc.set_default_style(s);
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

}  // namespace qm::flash::avm1
