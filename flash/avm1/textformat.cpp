// Text field formats (getTextFormat, setTextFormat, the new text format) and
// the measures of laid-out text (textWidth, textHeight, scrolling).
//
// Each character of a field has its format; the field's document keeps them.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"
#include "flash/text/layout.h"

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

enum class Use { Text, Font, Int, Spacing, Margin, Block, Colour, Flag, Align, Display, Tabs };

struct Setting {
    const char* name;
    Use kind;
};

constexpr Setting kSettings[] = {
    {"align", Use::Align},     {"blockIndent", Use::Block}, {"bold", Use::Flag},      {"bullet", Use::Flag},
    {"color", Use::Colour},    {"display", Use::Display},   {"font", Use::Font},      {"indent", Use::Block},
    {"italic", Use::Flag},     {"kerning", Use::Flag},      {"leading", Use::Block},  {"leftMargin", Use::Margin},
    {"letterSpacing", Use::Spacing}, {"rightMargin", Use::Margin}, {"size", Use::Int},    {"tabStops", Use::Tabs},
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
        // Nothing given keeps the alignment set before.
        if (empty) return before;
        std::string s = in.ToString(v);
        for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const char* a : kAligns)
            if (s == a) return s;
        return before;
    }
    default: break;
    }
    if (empty) return Null{};
    // Setters of version 8 round half to even; older ones and the constructor cut.
    bool round = !from_constructor && in.version() >= 8;
    switch (kind) {
    case Use::Text: return in.ToString(v);
    case Use::Font: {
        // Face names are held to 64 characters.
        std::u32string name = Utf32(in.ToString(v));
        if (name.size() > 64) name.resize(64);
        return Utf8(name);
    }
    case Use::Flag: return in.ToBoolean(v);
    case Use::Colour: return double(uint32_t(in.ToInt32(v)));
    case Use::Int: return StoredInt(in.ToNumber(v), round);
    case Use::Spacing: return in.ToNumber(v);
    case Use::Margin: {
        // Negative margins become 0 before the whole-number conversion.
        double n = in.ToNumber(v);
        return StoredInt(from_constructor ? n : std::max(0.0, n), round);
    }
    case Use::Block: {
        double n = in.ToNumber(v);
        return StoredInt(from_constructor || in.version() >= 8 ? n : std::max(0.0, n), round);
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
    // The width is converted once: a valueOf of the script's runs once.
    double given = args.size() >= 2 && Given(args[1]) ? in.ToNumber(args[1]) : NAN;
    bool wrapped = std::isfinite(given);
    double width = wrapped ? std::clamp(given, 0.0, 1.0e6) : 1.0e6;
    d.bounds = swf::Rect{0, int32_t(width * 20 + 80), 0, 1000000};
    d.word_wrap = wrapped;
    d.multiline = true;
    std::string text = args.empty() ? std::string() : in.ToString(args[0]);
    const Dictionary& dict = in.env()->Characters();
    TextStyle style = text::DefinitionStyle(d, dict);
    style.size = size;
    style.bold = bold;
    style.italic = italic;
    TextDocument doc(style);
    doc.SetPlain(Utf32(text));
    text::Layout laid = text::LayOut(d, doc, dict);
    double ascent = laid.lines.empty() ? 0 : laid.lines.front().ascent;
    double descent = laid.lines.empty() ? 0 : laid.lines.front().descent;
    ObjRef out = in.NewObject();
    double w = std::round(laid.text_width / 20.0), h = std::round(laid.text_height / 20.0);
    in.Set(out, "ascent", std::round(ascent / 20.0));
    in.Set(out, "descent", std::round(descent / 20.0));
    in.Set(out, "width", w);
    in.Set(out, "height", h);
    in.Set(out, "textFieldWidth", wrapped ? width : w + 4);
    in.Set(out, "textFieldHeight", h + 4);
    return out;
}

// The lines wholly inside the box when `first` (1-based) is the top line;
// one at least.
double BottomLine(const text::Layout& l, const swf::EditText& d, size_t first) {
    double box = double(d.bounds.y_max - d.bounds.y_min) - 2 * text::kGutter;
    if (l.lines.empty() || first < 1 || first > l.lines.size()) return double(first);
    double top = l.lines[first - 1].y;
    size_t last = first;
    for (size_t n = first; n < l.lines.size(); ++n) {
        const text::LayoutLine& line = l.lines[n];
        if (line.y + line.ascent + line.descent - top > box + 0.5) break;
        last = n + 1;
    }
    return double(last);
}

// The highest top line that still fills the box to the text's end.
double MaxScroll(const text::Layout& l, const swf::EditText& d) {
    double box = double(d.bounds.y_max - d.bounds.y_min) - 2 * text::kGutter;
    if (l.lines.empty()) return 1.0;
    const text::LayoutLine& last = l.lines.back();
    double bottom = last.y + last.ascent + last.descent;
    size_t first = l.lines.size();
    while (first > 1 && bottom - l.lines[first - 2].y <= box + 0.5) --first;
    return double(first);
}

// Pixels the widest line reaches past the box.
double MaxHScroll(const text::Layout& l, const swf::EditText& d) {
    double box = double(d.bounds.x_max - d.bounds.x_min) - 2 * text::kGutter;
    return std::max(0.0, std::floor((l.text_width - box) / 20.0));
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
        // No characters, no settings in common: every one is null.
        if (end <= begin) return ObjectOfStyle(in, TextStyle{});
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

    auto measure = [&](const std::string& name, std::function<Value(const text::Layout&, const swf::EditText&)> get) {
        in.Accessor(proto, name, [get](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
            const swf::EditText* d = f && f->character ? f->character->As<swf::EditText>() : nullptr;
            if (!d) return Undefined{};
            return get(text::LayOut(*d, FieldDocument(in, *f), in.env()->Characters()), *d);
        });
    };
    measure("textWidth", [](const text::Layout& l, const swf::EditText&) -> Value { return std::floor(l.text_width / 20.0); });
    measure("textHeight", [](const text::Layout& l, const swf::EditText&) -> Value { return std::floor(l.text_height / 20.0); });
    // Scrolling: the line at the top, kept per field and held within what
    // the text allows as the text changes.
    auto scroll = [&](const std::string& name, bool vertical) {
        auto bound = [vertical](const text::Layout& l, const swf::EditText& d) {
            return vertical ? std::pair{1.0, MaxScroll(l, d)} : std::pair{0.0, MaxHScroll(l, d)};
        };
        in.Accessor(proto, name,
                    [name, bound](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
                        auto* o = std::get_if<ObjRef>(&self);
                        DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
                        const swf::EditText* d = f && f->character ? f->character->As<swf::EditText>() : nullptr;
                        if (!d) return Undefined{};
                        auto [low, high] = bound(text::LayOut(*d, FieldDocument(in, *f), in.env()->Characters()), *d);
                        auto it = in.field_values_.find({f->instance_id, name});
                        double v = it != in.field_values_.end() ? in.ToNumber(it->second) : low;
                        return std::clamp(v, low, high);
                    },
                    [name, bound](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                        auto* o = std::get_if<ObjRef>(&self);
                        DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
                        const swf::EditText* d = f && f->character ? f->character->As<swf::EditText>() : nullptr;
                        if (!d || args.empty()) return Undefined{};
                        auto [low, high] = bound(text::LayOut(*d, FieldDocument(in, *f), in.env()->Characters()), *d);
                        // Kept as a whole number counted from 0, so the line
                        // before the lowest whole number wraps to the highest.
                        uint32_t n = uint32_t(in.ToInt32(args[0])) - uint32_t(low);
                        double v = double(int32_t(n)) + low;
                        in.field_values_[{f->instance_id, name}] = std::clamp(v, low, high);
                        return Undefined{};
                    });
    };
    scroll("scroll", true);
    scroll("hscroll", false);
    measure("maxhscroll", [](const text::Layout& l, const swf::EditText& d) -> Value { return MaxHScroll(l, d); });
    measure("maxscroll", [](const text::Layout& l, const swf::EditText& d) -> Value { return MaxScroll(l, d); });
    in.Accessor(proto, "bottomScroll", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* f = o ? in.ClipOf(*o) : nullptr;
        const swf::EditText* d = f && f->character ? f->character->As<swf::EditText>() : nullptr;
        if (!d) return Undefined{};
        text::Layout l = text::LayOut(*d, FieldDocument(in, *f), in.env()->Characters());
        auto it = in.field_values_.find({f->instance_id, "scroll"});
        double top = std::clamp(it != in.field_values_.end() ? in.ToNumber(it->second) : 1.0, 1.0, MaxScroll(l, *d));
        return BottomLine(l, *d, size_t(top));
    });
}

}  // namespace qm::flash::avm1
