// Text fields bound to variables: the field shows the variable's value and
// text typed or set into the field goes back to the variable.
//
// A variable on a clip is read as soon as a script asks the field for its
// text; one on another object only once the frame's scripts have run.
#include "flash/avm1/interpreter.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

TextDocument& FieldDocument(Interpreter& in, DisplayObject& f);
void ShowDocument(Interpreter& in, DisplayObject& f);
bool FieldIsHtml(Interpreter& in, DisplayObject& f, const swf::EditText& d);
bool FieldCondensesWhite(Interpreter& in, DisplayObject& f);

namespace {

const std::string kBound = "bound value";

const swf::EditText* Definition(const DisplayObject& f) {
    return f.character ? f.character->As<swf::EditText>() : nullptr;
}

// The object that holds the field's variable, and the variable's name there:
// "name" lives on the field's parent, "path.name", "path:name" and
// "/path:name" where the path leads (clips first, then objects).
ObjRef VariableHolder(Interpreter& in, DisplayObject& field, const std::string& var, std::string& name) {
    DisplayObject* parent = field.parent;
    if (!parent || !in.env()) return nullptr;
    size_t cut = var.find_last_of(":.");
    if (cut == std::string::npos) {
        name = var;
        return in.ClipObject(*parent);
    }
    name = var.substr(cut + 1);
    std::string path = var.substr(0, cut);
    if (name.empty()) return nullptr;
    if (path.empty()) return in.ClipObject(in.env()->Root());
    if (DisplayObject* target = in.env()->ResolveTarget(*parent, path)) return in.ClipObject(*target);
    Value at = in.ClipObject(*parent);
    size_t from = 0;
    while (from <= path.size()) {
        size_t end = path.find_first_of("./", from);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(from, end - from);
        from = end + 1;
        if (part.empty()) continue;
        at = in.Get(at, part);
        if (!std::holds_alternative<ObjRef>(at) || !std::get<ObjRef>(at)) return nullptr;
    }
    return std::get<ObjRef>(at);
}

std::string ShownValue(Interpreter& in, DisplayObject& f, const swf::EditText& d) {
    return FieldIsHtml(in, f, d) ? FieldDocument(in, f).Html() : in.FieldText(f);
}

void SyncField(Interpreter& in, DisplayObject& f, bool clips_only) {
    const swf::EditText* d = Definition(f);
    if (!d || d->variable_name.empty()) return;
    std::string name;
    ObjRef holder = VariableHolder(in, f, d->variable_name, name);
    if (!holder || (clips_only && !in.ClipOf(holder))) return;
    auto key = std::pair{f.instance_id, kBound};
    auto seen = in.field_values_.find(key);
    Value v = in.Get(holder, name);
    if (std::holds_alternative<Undefined>(v)) {
        // A variable not yet set takes the field's text when the field is
        // first seen; an empty field sets nothing.
        if (seen != in.field_values_.end()) return;
        std::string text = ShownValue(in, f, *d);
        in.field_values_[key] = text;
        if (!in.FieldText(f).empty()) in.Set(holder, name, text);
        return;
    }
    std::string s = in.ToString(v);
    if (seen != in.field_values_.end() && std::holds_alternative<std::string>(seen->second) &&
        std::get<std::string>(seen->second) == s)
        return;
    in.field_values_[key] = s;
    TextDocument& doc = FieldDocument(in, f);
    if (FieldIsHtml(in, f, *d)) doc.SetHtml(s, d->multiline, FieldCondensesWhite(in, f));
    else doc.SetPlain(Utf32(s));
    ShowDocument(in, f);
}

}  // namespace

void ReadBoundVariable(Interpreter& in, DisplayObject& f) { SyncField(in, f, true); }

void WriteBoundVariable(Interpreter& in, DisplayObject& f) {
    const swf::EditText* d = Definition(f);
    if (!d || d->variable_name.empty()) return;
    std::string name;
    ObjRef holder = VariableHolder(in, f, d->variable_name, name);
    if (!holder) return;
    std::string text = ShownValue(in, f, *d);
    in.field_values_[{f.instance_id, kBound}] = text;
    in.Set(holder, name, text);
}

void ForgetBoundVariable(Interpreter& in, DisplayObject& f) { in.field_values_.erase({f.instance_id, kBound}); }

// Every bound field of the movie shows its variable; nothing is walked in
// movies without bound fields.
void SyncBoundFields(Interpreter& in) {
    if (!in.env()) return;
    if (!in.binds_fields_) {
        const Dictionary& dict = in.env()->Characters();
        bool any = false;
        size_t seen = 0;
        for (uint32_t id = 0; id < 65536 && seen < dict.size() && !any; ++id) {
            const Character* ch = dict.Find(uint16_t(id));
            if (!ch) continue;
            ++seen;
            const swf::EditText* d = ch->As<swf::EditText>();
            any = d && !d->variable_name.empty();
        }
        in.binds_fields_ = any;
    }
    if (!*in.binds_fields_) return;
    std::vector<DisplayObject*> todo{&in.env()->Root()};
    std::vector<DisplayObject*> fields;
    while (!todo.empty()) {
        DisplayObject* o = todo.back();
        todo.pop_back();
        if (const swf::EditText* d = Definition(*o); d && !d->variable_name.empty()) fields.push_back(o);
        for (auto& [depth, child] : o->children.objects()) todo.push_back(&*child);
    }
    // Fields bind in the order they stand, and a binding's script may
    // change the list: each is looked up again.
    std::vector<uint64_t> ids;
    for (DisplayObject* f : fields) ids.push_back(f->instance_id);
    for (uint64_t id : ids)
        if (DisplayObject* f = in.FindClip(id)) SyncField(in, *f, false);
}

}  // namespace qm::flash::avm1
