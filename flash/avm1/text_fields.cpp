// The formatted text of text fields as scripts see it: the document of each
// field, made from its definition on first use, and TextFormat objects
// turned into formats and back.
#include <algorithm>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"
#include "flash/text/layout.h"

namespace qm::flash::avm1 {

namespace {

constexpr const char* kAligns[] = {"left", "right", "center", "justify"};

bool Given(const Value& v) { return !std::holds_alternative<Undefined>(v) && !std::holds_alternative<Null>(v); }

}  // namespace

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
    doc = std::make_shared<TextDocument>(text::ShownDocument(*d, f.text, in.env()->Characters()));
    // HTML fields start left aligned whatever their definition says: always
    // before version 8, and from then on while they have no text of their own.
    if (d->html && (in.version() < 8 || d->initial_text.value_or("").empty())) {
        TextStyle s = doc->default_style();
        s.align = "left";
        doc->set_default_style(s);
        if (!f.text) doc->SetHtml(d->initial_text.value_or(""), d->multiline, false);
    }
    return *doc;
}

// Fields that size themselves fit their box to the text: as high as the
// text, and as wide unless they wrap, held on the side they align to.
void ApplyAutoSize(Interpreter& in, DisplayObject& f) {
    swf::EditText* d = in.env()->OwnTextDefinition(f);
    if (!d || !d->auto_size) return;
    auto it = in.auto_sizes_.find(f.instance_id);
    std::string mode = it != in.auto_sizes_.end() ? it->second : "left";
    if (mode == "none") return;
    text::Layout l = text::LayOut(*d, FieldDocument(in, f), in.env()->Characters());
    auto twips = [](double v) { return int32_t(std::clamp(std::round(v), -1.0e8, 1.0e8)); };
    d->bounds.y_max = d->bounds.y_min + twips(l.text_height + 2 * text::kGutter);
    if (d->word_wrap) return;
    int32_t width = twips(l.text_width + 2 * text::kGutter);
    int32_t grow = width - (d->bounds.x_max - d->bounds.x_min);
    d->bounds.x_max = d->bounds.x_min + width;
    if (mode == "center") f.matrix.tx -= grow / 2.0;
    else if (mode == "right") f.matrix.tx -= grow;
}

// The field shows its document from now on: the drawing reads it as markup,
// while scripts still see the field's own html setting.
void ShowDocument(Interpreter& in, DisplayObject& f) {
    swf::EditText* d = in.env()->OwnTextDefinition(f);
    if (!d) return;
    in.field_values_.try_emplace({f.instance_id, "html"}, d->html);
    d->html = true;
    f.text = FieldDocument(in, f).Html();
    ApplyAutoSize(in, f);
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
    // Scripts see whole pixels.
    if (s.size) in.Set(tf, "size", std::round(*s.size));
    if (s.color) in.Set(tf, "color", double(*s.color));
    put("bold", s.bold);
    put("italic", s.italic);
    put("underline", s.underline);
    put("url", s.url);
    put("target", s.target);
    put("letterSpacing", s.letter_spacing);
    put("kerning", s.kerning);
    put("align", s.align);
    if (s.left_margin) in.Set(tf, "leftMargin", std::round(*s.left_margin));
    if (s.right_margin) in.Set(tf, "rightMargin", std::round(*s.right_margin));
    if (s.indent) in.Set(tf, "indent", std::round(*s.indent));
    if (s.block_indent) in.Set(tf, "blockIndent", std::round(*s.block_indent));
    if (s.leading) in.Set(tf, "leading", std::round(*s.leading));
    if (s.tab_stops) {
        std::vector<Value> stops(s.tab_stops->begin(), s.tab_stops->end());
        in.Set(tf, "tabStops", in.NewArray(std::move(stops)));
    }
    put("bullet", s.bullet);
    return tf;
}

}  // namespace qm::flash::avm1
