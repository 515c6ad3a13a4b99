// Text fields as script objects (TextField, createTextField) and TextFormat.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

swf::Rgba FromRgb(uint32_t v, uint8_t alpha) { return swf::Rgba{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), alpha}; }

}  // namespace

void InstallTextFormats(Interpreter& in, const ObjRef& proto);
void InstallTextFormatClass(Interpreter& in);
void InstallTextSnapshot(Interpreter& in);
TextDocument& FieldDocument(Interpreter& in, DisplayObject& f);
void ShowDocument(Interpreter& in, DisplayObject& f);
void ApplyAutoSize(Interpreter& in, DisplayObject& f);
bool FieldIsHtml(Interpreter& in, DisplayObject& f, const swf::EditText& d);
bool FieldCondensesWhite(Interpreter& in, DisplayObject& f);
void ReadBoundVariable(Interpreter& in, DisplayObject& f);
void WriteBoundVariable(Interpreter& in, DisplayObject& f);
void ForgetBoundVariable(Interpreter& in, DisplayObject& f);

std::string Interpreter::FieldText(DisplayObject& field) {
    if (!field.character || !field.character->As<swf::EditText>()) return std::string();
    return Utf8(FieldDocument(*this, field).text());
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
    property("html", [](Interpreter& in, DisplayObject& f, const swf::EditText& d) -> Value { return FieldIsHtml(in, f, d); },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 // The text so far was read by the field as it was made.
                 FieldDocument(in, f);
                 bool html = in.ToBoolean(v);
                 if (in.field_values_.count({f.instance_id, "html"})) in.field_values_[{f.instance_id, "html"}] = html;
                 else d.html = html;
             });
    flag("embedFonts", &swf::EditText::use_outlines);
    flag("selectable", &swf::EditText::no_select, true);
    property("text", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 ReadBoundVariable(in, f);
                 return in.FieldText(f);
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                 TextDocument& doc = FieldDocument(in, f);
                 doc.SetPlain(Utf32(in.ToString(v)));
                 ShowDocument(in, f);
                 WriteBoundVariable(in, f);
             });
    property("htmlText", [](Interpreter& in, DisplayObject& f, const swf::EditText& d) -> Value {
                 ReadBoundVariable(in, f);
                 if (!FieldIsHtml(in, f, d)) return in.FieldText(f);
                 return FieldDocument(in, f).Html();
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 TextDocument& doc = FieldDocument(in, f);
                 // A field that is not HTML takes the markup as its text.
                 if (FieldIsHtml(in, f, d) && in.version() < 8) {
                     // Older players read markup from a left aligned start.
                     TextStyle s = doc.default_style();
                     s.align = "left";
                     doc.set_default_style(s);
                 }
                 if (FieldIsHtml(in, f, d)) doc.SetHtml(in.ToString(v), d.multiline, FieldCondensesWhite(in, f));
                 else doc.SetPlain(Utf32(in.ToString(v)));
                 ShowDocument(in, f);
                 WriteBoundVariable(in, f);
             });
    property("length", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 return double(FieldDocument(in, f).text().size());
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
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 d.variable_name = std::holds_alternative<Null>(v) || std::holds_alternative<Undefined>(v) ? "" : in.ToString(v);
                 // Bound anew: the field meets its new variable as if just
                 // placed, with the text it was made with.
                 ForgetBoundVariable(in, f);
                 if (!d.variable_name.empty()) {
                     TextDocument& doc = FieldDocument(in, f);
                     if (d.initial_text && FieldIsHtml(in, f, d)) doc.SetHtml(*d.initial_text, d.multiline, FieldCondensesWhite(in, f));
                     else if (d.initial_text) doc.SetPlain(Utf32(*d.initial_text));
                     if (d.initial_text) ShowDocument(in, f);
                     in.binds_fields_ = true;
                     ReadBoundVariable(in, f);
                 }
             });
    property("maxChars", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value {
                 return d.max_length && *d.max_length ? Value(double(*d.max_length)) : Value(Null{});
             },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 double n = in.ToNumber(v);
                 if (std::isfinite(n) && n > 0 && n < 65536) d.max_length = uint16_t(n);
                 else d.max_length.reset();
             });
    // The colour of text given from now on.
    property("textColor", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 return double(FieldDocument(in, f).default_style().color.value_or(0));
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText& d, const Value& v) {
                 uint32_t colour = uint32_t(in.ToInt32(v)) & 0xFFFFFF;
                 d.color = FromRgb(colour, d.color ? d.color->a : 255);
                 // All the text takes it, and text given later too.
                 TextDocument& doc = FieldDocument(in, f);
                 TextStyle s;
                 s.color = colour;
                 doc.ApplyStyle(0, doc.text().size(), s);
                 TextStyle defaults = doc.default_style();
                 defaults.color = colour;
                 doc.set_default_style(defaults);
                 ShowDocument(in, f);
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
                     for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
                     if (s == "left" || s == "center" || s == "right") mode = s;
                 }
                 d.auto_size = mode != "none";
                 in.auto_sizes_[f.instance_id] = mode;
                 ApplyAutoSize(in, f);
             });
    // The box: its fill and colours live with the field's own definition, where the renderer reads them.
    property("background", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value { return d.background.value_or(d.border); },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) { d.background = in.ToBoolean(v); });
    property("backgroundColor", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value { return double(d.background_color); },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 d.background_color = uint32_t(in.ToInt32(v)) & 0xFFFFFF;
             });
    property("borderColor", [](Interpreter&, DisplayObject&, const swf::EditText& d) -> Value { return double(d.border_color); },
             [](Interpreter& in, DisplayObject&, swf::EditText& d, const Value& v) {
                 d.border_color = uint32_t(in.ToInt32(v)) & 0xFFFFFF;
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
        if (!f.placed_by_script) return Undefined{};
        in.LoseFocusWithin(f);
        in.env()->RemoveClip(f);
        return Undefined{};
    });
    field_method("getDepth", [](Interpreter&, DisplayObject& f, std::vector<Value>&) -> Value { return double(f.depth - 16384); });
    // replaceSel(text): the field's selection, an empty one at the start
    // while the field has never had the focus.
    field_method("replaceSel", [](Interpreter& in, DisplayObject& f, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        TextDocument& doc = FieldDocument(in, f);
        auto at = [&](const char* name) {
            auto it = in.field_values_.find({f.instance_id, name});
            double v = it != in.field_values_.end() ? in.ToNumber(it->second) : 0;
            return size_t(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, double(doc.text().size())));
        };
        size_t begin = at("selection begin"), end = std::max(begin, at("selection end"));
        std::u32string text = Utf32(in.ToString(args[0]));
        doc.Replace(begin, end, text, std::nullopt);
        in.field_values_[{f.instance_id, "selection begin"}] = double(begin + text.size());
        in.field_values_[{f.instance_id, "selection end"}] = double(begin + text.size());
        in.field_values_[{f.instance_id, "selection caret"}] = double(begin + text.size());
        ShowDocument(in, f);
        return Undefined{};
    });
    field_method("replaceText", [](Interpreter& in, DisplayObject& f, std::vector<Value>& args) -> Value {
        if (args.size() < 3) return Undefined{};
        TextDocument& doc = FieldDocument(in, f);
        double b = in.ToNumber(args[0]), e = in.ToNumber(args[1]);
        double size = double(doc.text().size());
        if (!(b >= 0) || !(e >= b) || b > size) return Undefined{};
        doc.Replace(size_t(b), size_t(std::min(e, size)), Utf32(in.ToString(args[2])), std::nullopt);
        ShowDocument(in, f);
        return Undefined{};
    });

    InstallTextFormats(*this, textfield_proto_);
    // Older movies do not see it.
    if (Property* p = FindOwn(textfield_proto_, "replaceText")) p->flags |= kVersion7;

    // Settings kept per field with nothing else to do here.
    // The rendering settings start as the movie's text settings give them; the
    // names take only the values they know, the numbers any number.
    auto rendering = [&](const std::string& name, std::function<Value(const swf::CsmTextSettings*)> initial,
                         std::vector<std::string> known) {
        property(name, [name, initial](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                     auto it = in.field_values_.find({f.instance_id, name});
                     if (it != in.field_values_.end()) return it->second;
                     return initial(f.character ? f.character->csm_text_settings : nullptr);
                 },
                 [name, known](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                     if (known.empty()) {
                         in.field_values_[{f.instance_id, name}] = in.ToNumber(v);
                         return;
                     }
                     std::string given = in.ToString(v);
                     if (std::find(known.begin(), known.end(), given) != known.end()) in.field_values_[{f.instance_id, name}] = given;
                 });
    };
    rendering("antiAliasType", [](const swf::CsmTextSettings* c) -> Value {
        return std::string(c && c->use_flash_type == 1 ? "advanced" : "normal");
    }, {"normal", "advanced"});
    rendering("gridFitType", [](const swf::CsmTextSettings* c) -> Value {
        static const char* const kFits[] = {"none", "pixel", "subpixel"};
        return std::string(c && c->grid_fit < 3 ? kFits[c->grid_fit] : "pixel");
    }, {"none", "pixel", "subpixel"});
    rendering("thickness", [](const swf::CsmTextSettings* c) -> Value { return c ? double(c->thickness) : 0.0; }, {});
    rendering("sharpness", [](const swf::CsmTextSettings* c) -> Value { return c ? double(c->sharpness) : 0.0; }, {});
    // A field's tab index is unsigned; undefined leaves it unset.
    property("tabIndex", [](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                 auto it = in.field_values_.find({f.instance_id, "tabIndex"});
                 return it != in.field_values_.end() ? it->second : Value(Undefined{});
             },
             [](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) {
                 if (std::holds_alternative<Undefined>(v)) in.field_values_.erase({f.instance_id, "tabIndex"});
                 else in.field_values_[{f.instance_id, "tabIndex"}] = double(uint32_t(in.ToInt32(v)));
             });
    for (auto [name, initial] : {std::pair<const char*, Value>{"restrict", Null{}},
                                 {"styleSheet", Undefined{}}, {"filters", Undefined{}}}) {
        if (FindOwn(textfield_proto_, name)) continue;
        std::string n = name;
        Value start = initial;
        property(n, [n, start](Interpreter& in, DisplayObject& f, const swf::EditText&) -> Value {
                     auto it = in.field_values_.find({f.instance_id, n});
                     if (it != in.field_values_.end()) return it->second;
                     return n == "filters" ? Value(in.NewArray()) : start;
                 },
                 [n](Interpreter& in, DisplayObject& f, swf::EditText&, const Value& v) { in.field_values_[{f.instance_id, n}] = v; });
    }
    // Filters and the advanced anti-aliasing settings came with version 8.
    for (const char* name : {"filters", "sharpness", "thickness", "antiAliasType", "gridFitType"})
        if (Property* p = FindOwn(textfield_proto_, name)) p->flags |= kVersion8;
    // The field's properties are seen by for..in, in this order.
    static const char* const kListed[] = {
        "styleSheet", "mouseWheelEnabled", "condenseWhite", "restrict", "textHeight", "textWidth", "bottomScroll",
        "length", "selectable", "multiline", "password", "wordWrap", "background", "border", "html", "embedFonts",
        "maxChars", "maxhscroll", "hscroll", "variable", "htmlText", "type", "text", "autoSize", "tabIndex",
        "textColor", "backgroundColor", "borderColor", "maxscroll", "scroll", "filters", "sharpness", "thickness",
        "antiAliasType", "gridFitType"};
    std::vector<Property> listed;
    auto& props = textfield_proto_->props;
    for (auto name = std::rbegin(kListed); name != std::rend(kListed); ++name) {
        auto it = std::find_if(props.begin(), props.end(), [&](const Property& p) { return p.name == *name; });
        if (it == props.end()) continue;
        listed.push_back(std::move(*it));
        listed.back().flags &= uint16_t(~kDontEnum);
        props.erase(it);
    }
    for (Property& p : listed) props.push_back(std::move(p));

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
    InstallTextSnapshot(*this);
}

}  // namespace qm::flash::avm1
