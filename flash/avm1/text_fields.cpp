// The formatted text of text fields as scripts see it: the document of each
// field, made from its definition on first use, and TextFormat objects
// turned into formats and back.
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

constexpr const char* kAligns[] = {"left", "right", "center", "justify"};

bool Given(const Value& v) { return !std::holds_alternative<Undefined>(v) && !std::holds_alternative<Null>(v); }

std::string DefinitionFontName(Interpreter& in, const swf::EditText& d) {
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

}  // namespace

// Every setting of a field made from its definition.
TextStyle DefinitionStyle(Interpreter& in, const swf::EditText& d) {
    TextStyle s;
    const swf::Font* font = nullptr;
    if (d.font_id) {
        const Character* ch = in.env()->Characters().Find(*d.font_id);
        font = ch ? ch->As<swf::Font>() : nullptr;
    }
    s.font = DefinitionFontName(in, d);
    s.size = d.font_height ? std::round(*d.font_height / 20.0) : 12.0;
    s.color = d.color ? uint32_t(d.color->r) << 16 | uint32_t(d.color->g) << 8 | d.color->b : 0;
    s.bold = font && !d.html ? font->bold : false;
    s.italic = font && !d.html ? font->italic : false;
    s.underline = false;
    s.url = std::string();
    s.target = std::string();
    s.letter_spacing = 0.0;
    s.kerning = false;
    swf::EditTextLayout layout = d.layout.value_or(swf::EditTextLayout{});
    s.align = std::string(kAligns[int(layout.align) & 3]);
    s.left_margin = std::round(layout.left_margin / 20.0);
    s.right_margin = std::round(layout.right_margin / 20.0);
    s.indent = std::round(layout.indent / 20.0);
    s.block_indent = 0.0;
    s.leading = std::round(layout.leading / 20.0);
    s.tab_stops = std::vector<double>();
    s.bullet = false;
    return s;
}

bool FieldIsHtml(Interpreter& in, DisplayObject& f, const swf::EditText& d) {
    auto it = in.field_values_.find({f.instance_id, "html"});
    return it != in.field_values_.end() ? in.ToBoolean(it->second) : d.html;
}

bool FieldCondensesWhite(Interpreter& in, DisplayObject& f) {
    auto it = in.field_values_.find({f.instance_id, "condenseWhite"});
    return it != in.field_values_.end() && in.ToBoolean(it->second);
}

TextDocument& FieldDocument(Interpreter& in, DisplayObject& f) {
    auto& doc = in.text_documents_[f.instance_id];
    if (doc) return *doc;
    const swf::EditText* d = f.character ? f.character->As<swf::EditText>() : nullptr;
    swf::EditText empty;
    if (!d) d = &empty;
    doc = std::make_shared<TextDocument>(DefinitionStyle(in, *d));
    std::string shown = f.text ? *f.text : d->initial_text.value_or("");
    if (d->html) doc->SetHtml(shown, d->multiline, false);
    else doc->SetPlain(Utf32(shown));
    return *doc;
}

// The field shows its document from now on: the drawing reads it as markup,
// while scripts still see the field's own html setting.
void ShowDocument(Interpreter& in, DisplayObject& f) {
    swf::EditText* d = in.env()->OwnTextDefinition(f);
    if (!d) return;
    in.field_values_.try_emplace({f.instance_id, "html"}, d->html);
    d->html = true;
    f.text = FieldDocument(in, f).Html();
}

TextStyle StyleOfObject(Interpreter& in, const ObjRef& tf) {
    TextStyle s;
    if (!tf) return s;
    auto text = [&](const char* name, std::optional<std::string>& out) {
        Value v = in.Get(tf, name);
        if (Given(v)) out = in.ToString(v);
    };
    auto number = [&](const char* name, std::optional<double>& out) {
        Value v = in.Get(tf, name);
        if (!Given(v)) return;
        double n = in.ToNumber(v);
        if (std::isfinite(n)) out = n;
    };
    auto flag = [&](const char* name, std::optional<bool>& out) {
        Value v = in.Get(tf, name);
        if (Given(v)) out = in.ToBoolean(v);
    };
    text("font", s.font);
    number("size", s.size);
    Value colour = in.Get(tf, "color");
    if (Given(colour)) s.color = uint32_t(in.ToInt32(colour)) & 0xFFFFFF;
    flag("bold", s.bold);
    flag("italic", s.italic);
    flag("underline", s.underline);
    text("url", s.url);
    text("target", s.target);
    number("letterSpacing", s.letter_spacing);
    flag("kerning", s.kerning);
    Value align = in.Get(tf, "align");
    if (Given(align)) {
        std::string a = in.ToString(align);
        for (auto& c : a) c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const char* known : kAligns)
            if (a == known) s.align = a;
    }
    number("leftMargin", s.left_margin);
    number("rightMargin", s.right_margin);
    number("indent", s.indent);
    number("blockIndent", s.block_indent);
    number("leading", s.leading);
    Value tabs = in.Get(tf, "tabStops");
    if (std::holds_alternative<ObjRef>(tabs) && std::get<ObjRef>(tabs)) {
        ObjRef a = std::get<ObjRef>(tabs);
        std::vector<double> stops;
        double count = in.ToNumber(in.Get(a, "length"));
        for (int i = 0; i < count && i < 10000; ++i) stops.push_back(in.ToNumber(in.Get(a, std::to_string(i))));
        s.tab_stops = stops;
    }
    flag("bullet", s.bullet);
    return s;
}

ObjRef ObjectOfStyle(Interpreter& in, const TextStyle& s) {
    ObjRef tf = in.ToObject(in.Construct(in.Get(in.global_, "TextFormat"), {}));
    if (!tf) return nullptr;
    auto put = [&](const char* name, const auto& v) {
        if (v) in.Set(tf, name, Value(*v));
    };
    put("font", s.font);
    put("size", s.size);
    if (s.color) in.Set(tf, "color", double(*s.color));
    put("bold", s.bold);
    put("italic", s.italic);
    put("underline", s.underline);
    put("url", s.url);
    put("target", s.target);
    put("letterSpacing", s.letter_spacing);
    put("kerning", s.kerning);
    put("align", s.align);
    put("leftMargin", s.left_margin);
    put("rightMargin", s.right_margin);
    put("indent", s.indent);
    put("blockIndent", s.block_indent);
    put("leading", s.leading);
    if (s.tab_stops) {
        std::vector<Value> stops(s.tab_stops->begin(), s.tab_stops->end());
        in.Set(tf, "tabStops", in.NewArray(std::move(stops)));
    }
    put("bullet", s.bullet);
    return tf;
}

}  // namespace qm::flash::avm1
