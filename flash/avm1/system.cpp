// Objects of the player itself: AsBroadcaster and the listeners' objects
// built on it (Key, Mouse, Stage, Selection), and System.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/moviecliploader.h"
#include "flash/avm1/text_document.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

TextDocument& FieldDocument(Interpreter& in, DisplayObject& f);

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

ObjRef Listeners(Interpreter& in, const Value& self) {
    Value l = in.Get(self, "_listeners");
    auto* a = std::get_if<ObjRef>(&l);
    return a && (*a)->kind == Kind::Array ? *a : nullptr;
}

// Listeners are matched as `==` matches: undefined and null are one, and a
// number equals its text.
bool SameValue(Interpreter& in, const Value& a, const Value& b) {
    auto none = [](const Value& v) { return std::holds_alternative<Undefined>(v) || std::holds_alternative<Null>(v); };
    if (none(a) || none(b)) return none(a) && none(b);
    auto* x = std::get_if<ObjRef>(&a);
    auto* y = std::get_if<ObjRef>(&b);
    if (x && y) return *x == *y;
    if (x || y) return false;
    if (a.index() == b.index()) return a == b;
    const double l = in.ToNumber(a), r = in.ToNumber(b);
    return l == r;
}

bool IsField(const DisplayObject& o) { return o.character && o.character->As<swf::EditText>(); }

void SelectAll(Interpreter& in, DisplayObject& field) {
    double size = double(FieldDocument(in, field).text().size());
    in.field_values_[{field.instance_id, "selection begin"}] = 0.0;
    in.field_values_[{field.instance_id, "selection end"}] = size;
    in.field_values_[{field.instance_id, "selection caret"}] = size;
}

}  // namespace

bool Interpreter::Focusable(DisplayObject& o) {
    if (IsField(o) || o.button) return true;
    if (!o.sprite) return false;
    ObjRef self = ClipObject(o);
    Value enabled = Get(self, "focusEnabled");
    if (!std::holds_alternative<Undefined>(enabled)) return ToBoolean(enabled);
    // A clip acting as a button takes the focus as a button does.
    for (const char* handler : {"onPress", "onRelease", "onReleaseOutside", "onRollOver", "onRollOut", "onDragOver", "onDragOut"})
        if (std::holds_alternative<ObjRef>(Get(self, handler))) return true;
    return false;
}

void Interpreter::SetFocus(DisplayObject* target) {
    DisplayObject* old = FindClip(focus_);
    uint64_t id = target ? target->instance_id : 0;
    if (!old) focus_ = 0;
    if (id == focus_) return;
    focus_ = id;
    // A field losing the focus loses its selection; the next one starts afresh.
    if (old && IsField(*old))
        for (const char* key : {"selection begin", "selection end", "selection caret"}) field_values_.erase({old->instance_id, key});
    Value old_value = old ? Value(ClipObject(*old)) : Value(Null{});
    Value new_value = target ? Value(ClipObject(*target)) : Value(Null{});
    // Only the object itself hears; a field's listeners do not.
    auto tell = [&](const Value& self, const char* name, const Value& arg) {
        Value fn = Get(self, name);
        if (std::holds_alternative<ObjRef>(fn)) Call(fn, self, {arg});
    };
    if (old) tell(old_value, "onKillFocus", new_value);
    if (target) tell(new_value, "onSetFocus", old_value);
    Value selection = Get(global_, "Selection");
    Value broadcast = Get(selection, "broadcastMessage");
    if (std::holds_alternative<ObjRef>(broadcast)) Call(broadcast, selection, {std::string("onSetFocus"), old_value, new_value});
}

void Interpreter::LoseFocusWithin(DisplayObject& o) {
    int guard = 0;
    for (DisplayObject* at = FindClip(focus_); at && guard < 100000; at = at->parent, ++guard)
        if (at == &o) return SetFocus(nullptr);
}

void Interpreter::InitializeBroadcaster(const ObjRef& o) {
    Value broadcaster = Get(global_, "AsBroadcaster");
    Define(o, "_listeners", NewArray(), kDontEnum);
    for (const char* name : {"broadcastMessage", "addListener", "removeListener"})
        Define(o, name, Get(broadcaster, name), kDontEnum);
}

void Interpreter::InstallSystem() {
    ObjRef broadcaster_proto = NewObject();
    ObjRef broadcaster = DefineClass("AsBroadcaster", [](Interpreter&, const Value&, std::vector<Value>&) -> Value {
        return Undefined{};
    }, broadcaster_proto, false);
    Method(broadcaster, "initialize", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (auto* o = args.empty() ? nullptr : std::get_if<ObjRef>(&args[0]); o && *o) in.InitializeBroadcaster(*o);
        return Undefined{};
    });
    Method(broadcaster, "addListener", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef list = Listeners(in, self);
        if (!list) return true;
        Value l = Arg(args, 0);
        std::erase_if(list->elems, [&](const Value& v) { return SameValue(in, v, l); });
        list->elems.push_back(l);
        return true;
    });
    Method(broadcaster, "removeListener", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef list = Listeners(in, self);
        if (!list) return false;
        Value l = Arg(args, 0);
        auto it = std::find_if(list->elems.begin(), list->elems.end(), [&](const Value& v) { return SameValue(in, v, l); });
        if (it == list->elems.end()) return false;
        list->elems.erase(it);
        return true;
    });
    Method(broadcaster, "broadcastMessage", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        ObjRef list = Listeners(in, self);
        if (!list || args.empty()) return Undefined{};
        std::string name = in.ToString(args[0]);
        std::vector<Value> rest(args.begin() + 1, args.end());
        // Listeners added or removed by a handler count from the next message.
        std::vector<Value> now = list->elems;
        for (const Value& l : now) {
            // Called as a method is: an empty name calls the listener itself.
            if (name.empty()) {
                if (std::holds_alternative<ObjRef>(l)) in.Call(l, Undefined{}, rest);
                continue;
            }
            Value fn = in.Get(l, name);
            if (std::holds_alternative<ObjRef>(fn)) in.Call(fn, l, rest);
        }
        return !now.empty();
    });

    InstallMovieClipLoader(*this, broadcaster);

    auto object = [&](const std::string& name) {
        ObjRef o = NewObject();
        Define(global_, name, o, kDontEnum);
        InitializeBroadcaster(o);
        return o;
    };
    auto constant = [](Value v) {
        return [v](Interpreter&, const Value&, std::vector<Value>&) -> Value { return v; };
    };

    // No keyboard reaches a conversion: nothing is ever down.
    ObjRef key = object("Key");
    static const std::pair<const char*, int> keys[] = {
        {"ALT", 18},   {"BACKSPACE", 8}, {"CAPSLOCK", 20}, {"CONTROL", 17}, {"DELETEKEY", 46}, {"DOWN", 40},
        {"END", 35},   {"ENTER", 13},    {"ESCAPE", 27},   {"HOME", 36},    {"INSERT", 45},    {"LEFT", 37},
        {"PGDN", 34},  {"PGUP", 33},     {"RIGHT", 39},    {"SHIFT", 16},   {"SPACE", 32},     {"TAB", 9},
        {"UP", 38}};
    for (auto [name, code] : keys) Define(key, name, double(code), kDontEnum | kDontDelete | kReadOnly);
    Method(key, "isDown", constant(false));
    Method(key, "isToggled", constant(false));
    Method(key, "getCode", constant(0.0));
    Method(key, "getAscii", constant(0.0));

    ObjRef mouse = object("Mouse");
    Method(mouse, "show", constant(0.0));
    Method(mouse, "hide", constant(1.0));

    ObjRef stage = object("Stage");
    Accessor(stage, "width", [](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        swf::Rect r = in.env() ? in.env()->StageRect() : swf::Rect{};
        return std::round((r.x_max - r.x_min) / 20.0);
    });
    Accessor(stage, "height", [](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        swf::Rect r = in.env() ? in.env()->StageRect() : swf::Rect{};
        return std::round((r.y_max - r.y_min) / 20.0);
    });
    // Stage settings keep only what the player knows: alignment letters in the order
    // L T R B, the four scale modes and the two display states, each matched without
    // regard to case. A new display state is announced to the listeners at once.
    struct StageSettings {
        std::string align, scale_mode = "showAll", display_state = "normal";
    };
    auto settings = std::make_shared<StageSettings>();
    auto lower = [](std::string t) {
        for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
        return t;
    };
    Accessor(stage, "align", [settings](Interpreter&, const Value&, std::vector<Value>&) -> Value { return settings->align; },
             [settings, lower](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
                 std::string given = lower(in.ToString(Arg(args, 0)));
                 std::string letters;
                 for (char c : {'l', 't', 'r', 'b'})
                     if (given.find(c) != std::string::npos) letters += char(std::toupper(static_cast<unsigned char>(c)));
                 settings->align = letters;
                 return Undefined{};
             });
    Accessor(stage, "scaleMode", [settings](Interpreter&, const Value&, std::vector<Value>&) -> Value { return settings->scale_mode; },
             [settings, lower](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
                 std::string given = lower(in.ToString(Arg(args, 0)));
                 settings->scale_mode = "showAll";
                 for (const char* mode : {"exactFit", "noBorder", "noScale"})
                     if (given == lower(mode)) settings->scale_mode = mode;
                 return Undefined{};
             });
    Define(stage, "showMenu", true, kDontEnum);
    Accessor(stage, "displayState",
             [settings](Interpreter&, const Value&, std::vector<Value>&) -> Value { return settings->display_state; },
             [settings, lower](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
                 std::string given = lower(in.ToString(Arg(args, 0)));
                 std::string state = given == "normal" ? "normal" : given == "fullscreen" ? "fullScreen" : "";
                 if (state.empty() || state == settings->display_state) return Undefined{};
                 settings->display_state = state;
                 Value broadcast = in.Get(self, "broadcastMessage");
                 in.Call(broadcast, self, {std::string("onFullScreen"), state == "fullScreen"});
                 return Undefined{};
             });

    ObjRef selection = object("Selection");
    Method(selection, "getFocus", [](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        DisplayObject* holder = in.FindClip(in.focus_);
        return holder ? Value(in.TargetPath(*holder)) : Value(Null{});
    });
    // setFocus(target): an object or a path; undefined, null or a path that names
    // nothing takes the focus away. Buttons and clips hear a roll over when they take
    // the focus and a roll out when they lose it, after the running script.
    Method(selection, "setFocus", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty() || !in.env()) return false;
        const Value& given = args[0];
        DisplayObject* target = nullptr;
        if (std::holds_alternative<Undefined>(given) || std::holds_alternative<Null>(given)) {
        } else if (auto* o = std::get_if<ObjRef>(&given)) {
            target = in.ClipOf(*o);
            if (!target) return false;
        } else if (std::holds_alternative<std::string>(given)) {
            target = in.ResolveClip(in.running_frame_ ? in.running_frame_->target : 0, std::get<std::string>(given));
        } else {
            return false;
        }
        if (target && !in.Focusable(*target)) return false;
        auto roll = [&](DisplayObject* o, const char* event) {
            if (!o || !(o->sprite || o->button)) return;
            Interval answer;
            answer.self = in.ClipObject(*o);
            answer.method = event;
            in.QueueLoad(std::move(answer));
        };
        roll(in.FindClip(in.focus_), "onRollOut");
        roll(target, "onRollOver");
        in.SetFocus(target);
        // A field given the focus by a script, even again, has all its text selected.
        if (target && in.focus_ == target->instance_id && IsField(*target)) SelectAll(in, *target);
        return true;
    });
    auto index = [&](const char* name, const char* key) {
        Method(selection, name, [key](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
            DisplayObject* holder = in.FindClip(in.focus_);
            if (!holder || !IsField(*holder)) return -1.0;
            auto it = in.field_values_.find({holder->instance_id, key});
            return it != in.field_values_.end() ? in.ToNumber(it->second) : -1.0;
        });
    };
    index("getBeginIndex", "selection begin");
    index("getEndIndex", "selection end");
    index("getCaretIndex", "selection caret");
    // setSelection(from, to): `to` is where the caret goes; a missing `to` is the end.
    Method(selection, "setSelection", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        DisplayObject* holder = in.FindClip(in.focus_);
        if (!holder || !IsField(*holder) || args.empty()) return Undefined{};
        double size = double(FieldDocument(in, *holder).text().size());
        auto at = [&](size_t i) {
            double v = i < args.size() ? double(in.ToInt32(args[i])) : size;
            return std::clamp(v, 0.0, size);
        };
        double from = at(0), to = at(1);
        in.field_values_[{holder->instance_id, "selection begin"}] = std::min(from, to);
        in.field_values_[{holder->instance_id, "selection end"}] = std::max(from, to);
        in.field_values_[{holder->instance_id, "selection caret"}] = to;
        return Undefined{};
    });

    ObjRef system = NewObject();
    Define(global_, "System", system, kDontEnum);
    ObjRef caps = NewObject();
    Define(system, "capabilities", caps, kDontEnum);
    const std::pair<const char*, Value> facts[] = {
        {"os", std::string("Linux")},       {"manufacturer", std::string("Adobe Linux")},
        {"playerType", std::string("StandAlone")}, {"version", std::string("LNX 10,0,0,0")},
        {"language", std::string("en")},    {"screenResolutionX", 1536.0},
        {"screenResolutionY", 864.0},      {"screenDPI", 72.0},
        {"screenColor", std::string("color")}, {"pixelAspectRatio", 1.0},
        {"hasAudio", true},                 {"hasMP3", true},
        {"hasVideoEncoder", false},         {"hasAudioEncoder", false},
        {"hasPrinting", false},             {"hasAccessibility", false},
        {"isDebugger", false},              {"localFileReadDisable", false},
        {"avHardwareDisable", true},        {"hasStreamingAudio", true},
        {"hasStreamingVideo", true},        {"hasEmbeddedVideo", true},
        {"hasScreenBroadcast", false},      {"hasScreenPlayback", false},
        {"hasIME", false},                  {"hasTLS", false},
        {"windowlessDisable", true},
    };
    for (auto& [name, value] : facts) Define(caps, name, value, 0);
    ObjRef security = NewObject();
    Define(system, "security", security, kDontEnum);
    Define(security, "sandboxType", std::string("localWithFile"), 0);
    for (const char* name : {"allowDomain", "allowInsecureDomain", "loadPolicyFile"}) Method(security, name, constant(Undefined{}));
    ObjRef ime = NewObject();
    Define(system, "IME", ime, kDontEnum);
    InitializeBroadcaster(ime);
    Define(system, "useCodepage", false, 0);
    Define(system, "exactSettings", true, 0);
    Method(system, "setClipboard", constant(Undefined{}));
    Method(system, "showSettings", constant(Undefined{}));
}

}  // namespace qm::flash::avm1

namespace qm::flash::avm1 {

// Color: the colour transform of a clip, in percent and offsets.
void Interpreter::InstallColor() {
    ObjRef proto = NewObject();
    DefineClass("Color", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (auto* o = std::get_if<ObjRef>(&self); o && *o) in.Set(self, "target", Arg(args, 0));
        return Undefined{};
    }, proto, false);
    using Fn = std::function<Value(Interpreter&, DisplayObject&, std::vector<Value>&)>;
    auto method = [&](const std::string& name, Fn fn) {
        Method(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            Value target = in.Get(self, "target");
            DisplayObject* clip = nullptr;
            if (auto* o = std::get_if<ObjRef>(&target)) clip = in.ClipOf(*o);
            else if (!std::holds_alternative<Undefined>(target) && !std::holds_alternative<Null>(target) && in.env()) {
                std::string path = in.ToString(target);
                if (!path.empty()) clip = in.ResolveClip(0, path);
            }
            if (!clip) return Undefined{};
            return fn(in, *clip, args);
        });
    };
    method("getRGB", [](Interpreter&, DisplayObject& c, std::vector<Value>&) -> Value {
        const auto& t = c.color_transform;
        // The offsets as signed numbers, run together bitwise.
        return double(int32_t(uint32_t(int32_t(t.r_add)) << 16) | int32_t(uint32_t(int32_t(t.g_add)) << 8) | int32_t(t.b_add));
    });
    method("setRGB", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        uint32_t rgb = uint32_t(in.ToInt32(Arg(args, 0)));
        auto& t = c.color_transform;
        t.r_mult = t.g_mult = t.b_mult = 0;
        t.r_add = int16_t((rgb >> 16) & 255);
        t.g_add = int16_t((rgb >> 8) & 255);
        t.b_add = int16_t(rgb & 255);
        c.script_moved = true;
        return Undefined{};
    });
    method("getTransform", [](Interpreter& in, DisplayObject& c, std::vector<Value>&) -> Value {
        const auto& t = c.color_transform;
        ObjRef o = in.NewObject();
        const std::pair<const char*, double> terms[] = {
            {"ra", t.r_mult * 100.0 / 256}, {"rb", double(t.r_add)}, {"ga", t.g_mult * 100.0 / 256},
            {"gb", double(t.g_add)},        {"ba", t.b_mult * 100.0 / 256}, {"bb", double(t.b_add)},
            {"aa", t.a_mult * 100.0 / 256}, {"ab", double(t.a_add)}};
        for (auto [name, v] : terms) in.Set(o, name, v);
        return o;
    });
    method("setTransform", [](Interpreter& in, DisplayObject& c, std::vector<Value>& args) -> Value {
        auto* from = args.empty() ? nullptr : std::get_if<ObjRef>(&args[0]);
        if (!from) return Undefined{};
        auto& t = c.color_transform;
        // Values wrap to the 16 bits the transform holds, as the player's do.
        auto wrap = [](double v) {
            if (!std::isfinite(v)) return int16_t(0);
            return int16_t(uint16_t(int64_t(std::trunc(std::fmod(v, 65536.0)))));
        };
        const std::pair<const char*, int16_t*> mults[] = {{"ra", &t.r_mult}, {"ga", &t.g_mult}, {"ba", &t.b_mult}, {"aa", &t.a_mult}};
        const std::pair<const char*, int16_t*> adds[] = {{"rb", &t.r_add}, {"gb", &t.g_add}, {"bb", &t.b_add}, {"ab", &t.a_add}};
        for (auto [name, term] : mults)
            if (in.FindOwn(*from, name)) *term = wrap(in.ToNumber(in.Get(*from, name)) * 256.0 / 100.0);
        for (auto [name, term] : adds)
            if (in.FindOwn(*from, name)) *term = wrap(in.ToNumber(in.Get(*from, name)));
        c.script_moved = true;
        return Undefined{};
    });
}

}  // namespace qm::flash::avm1
