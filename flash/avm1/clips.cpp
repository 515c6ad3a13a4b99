// Movie clips as script objects.
#include <cctype>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/moviecliploader.h"
#include "flash/display_list.h"
#include "flash/timeline_def.h"

namespace qm::flash::avm1 {

namespace {
DisplayObject* FindIn(DisplayObject& at, uint64_t id, int depth) {
    if (at.instance_id == id) return &at;
    if (depth > 64) return nullptr;
    for (auto& [d, child] : at.children.objects())
        if (DisplayObject* found = FindIn(*child, id, depth + 1)) return found;
    return nullptr;
}
}  // namespace

DisplayObject* Interpreter::FindClip(uint64_t id) {
    if (!env_ || id == 0) return nullptr;
    if (DisplayObject* found = FindIn(env_->Root(), id, 0)) return found;
    for (DisplayObject* level : env_->UpperLevels())
        if (DisplayObject* found = FindIn(*level, id, 0)) return found;
    return nullptr;
}

DisplayObject& Interpreter::RootOf(DisplayObject* clip) {
    if (!clip) return env_->Root();
    for (int guard = 0; clip->parent && guard < 100000; ++guard) clip = clip->parent;
    return *clip;
}

DisplayObject* Interpreter::LevelNamed(const std::string& name) {
    int32_t level = LevelNumber(name);
    return level >= 0 && env_ ? env_->Level(level) : nullptr;
}

ObjRef Interpreter::ClipObject(DisplayObject& clip) {
    // Shapes, static texts, bitmaps and (before version 6) buttons have no object of
    // their own: a name or depth that reaches one gives its parent.
    if (const Character* ch = clip.character; ch && clip.parent && !clip.sprite) {
        bool plain = ch->As<swf::Shape>() || ch->As<swf::MorphShape>() || ch->As<swf::Text>() ||
                     ch->As<swf::Bitmap>() || (clip.button && version_ < 6);
        if (plain) return ClipObject(*clip.parent);
    }
    auto it = clip_objects_.find(clip.instance_id);
    if (it != clip_objects_.end()) return it->second;
    bool field = clip.character && clip.character->As<swf::EditText>();
    auto o = NewObject(field && textfield_proto_ ? textfield_proto_ : clip_proto_);
    o->kind = Kind::Clip;
    o->clip_id = clip.instance_id;
    clip_objects_[clip.instance_id] = o;
    // A text field broadcasts its events, to itself first.
    if (field && textfield_proto_) {
        InitializeBroadcaster(o);
        if (auto* list = std::get_if<ObjRef>(&FindOwn(o, "_listeners")->value); list && *list) (*list)->elems.push_back(o);
    }
    return o;
}

DisplayObject* Interpreter::ClipOf(const ObjRef& o) {
    if (!o || o->kind != Kind::Clip) return nullptr;
    return FindClip(o->clip_id);
}

std::string Interpreter::TargetPath(DisplayObject& clip, bool slash) {
    std::vector<std::string> names;
    DisplayObject* top = &clip;
    for (; top->parent; top = top->parent) names.push_back(top->name);
    // A level's clips are named from it; a removed clip's lost root reads as level 0.
    std::string out = slash ? "" : top->name.starts_with("_level") ? top->name : "_level0";
    for (auto it = names.rbegin(); it != names.rend(); ++it) out += (slash ? "/" : ".") + *it;
    if (slash && out.empty()) out = "/";
    return out;
}

DisplayObject* Interpreter::ActingClip(uint64_t target, uint64_t base) {
    if (DisplayObject* t = FindClip(target)) return t;
    if (DisplayObject* b = FindClip(base)) return b;
    return env_ ? &env_->Root() : nullptr;
}

bool Interpreter::ClipGone(uint64_t base) { return base != 0 && env_ && !FindClip(base); }

DisplayObject* Interpreter::ResolveClip(uint64_t from, const std::string& path) {
    DisplayObject* start = FindClip(from);
    if (!start) start = &env_->Root();
    if (path.size() >= 7 && path.compare(0, 7, "_level0") == 0) {
        std::string rest = path.substr(7);
        if (rest.empty()) return &env_->Root();
        if (rest[0] == '.' || rest[0] == '/') rest = "_root" + rest;
        return env_->ResolveTarget(env_->Root(), rest);
    }
    return env_->ResolveTarget(*start, path);
}

// The display properties match in any case, whatever the version.
static bool PropertyIs(const std::string& name, const char* property) {
    size_t i = 0;
    for (; property[i]; ++i)
        if (i >= name.size() || std::tolower(static_cast<unsigned char>(name[i])) != property[i]) return false;
    return i == name.size();
}

bool Interpreter::GetClipProperty(DisplayObject& clip, const std::string& name, Value& out) {
    auto is = [&](const char* n) { return PropertyIs(name, n); };
    const swf::Matrix& m = clip.matrix;
    if (is("_x")) out = m.tx / 20.0;
    else if (is("_y")) out = m.ty / 20.0;
    else if (is("_xscale")) out = std::sqrt(m.a * m.a + m.b * m.b) * 100.0;
    else if (is("_yscale")) out = std::sqrt(m.c * m.c + m.d * m.d) * 100.0;
    else if (is("_rotation")) out = std::atan2(m.b, m.a) * 180.0 / M_PI;
    else if (is("_alpha")) out = clip.color_transform.a_mult * 100.0 / 256.0;
    else if (is("_visible")) out = version_ >= 5 ? Value(clip.visible) : Value(clip.visible ? 1.0 : 0.0);
    else if (is("_currentframe")) out = clip.sprite ? double(clip.sprite->current_frame + 1) : 1.0;
    else if (is("_totalframes") || is("_framesloaded"))
        out = clip.sprite && clip.sprite->timeline ? double(clip.sprite->timeline->frames.size()) : 1.0;
    else if (is("_name")) out = clip.parent ? clip.name : std::string();
    else if (is("_target")) out = TargetPath(clip, true);
    else if (is("_url")) out = std::string();
    else if (is("_width") || is("_height")) {
        Bounds b = clip.parent ? BoundsIn(clip, clip.parent) : BoundsIn(clip, &clip);
        double size = b.empty ? 0.0 : (is("_width") ? b.x1 - b.x0 : b.y1 - b.y0);
        out = std::round(size) / 20.0;
    }
    else if (is("_xmouse") || is("_ymouse")) out = 0.0;
    else if (is("_quality")) out = std::string("HIGH");
    else if (is("_highquality")) out = 1.0;
    else if (is("_focusrect")) out = version_ >= 5 ? Value(true) : Value(1.0);
    else if (is("_soundbuftime")) out = 5.0;
    else if (is("_droptarget")) out = std::string();
    else if (KeyEq(name, "_parent")) {
        if (!clip.parent) return false;
        out = ClipObject(*clip.parent);
    } else if (KeyEq(name, "_root")) out = ClipObject(RootOf(&clip));
    else if (KeyEq(name, "_global") && version_ >= 6) out = global_;
    else if (name.size() > 6 && KeyEq(name.substr(0, 6), "_level") && LevelNamed(name)) out = ClipObject(*LevelNamed(name));
    else {
        // Version 4 scripts have no clip values: a child's name is no variable.
        if (version_ < 5) return false;
        for (auto& [d, child] : clip.children.objects())
            if (!child->name.empty() && KeyEq(child->name, name)) {
                out = ClipObject(*child);
                return true;
            }
        return false;
    }
    return true;
}

bool Interpreter::SetClipProperty(DisplayObject& clip, const std::string& name, const Value& v) {
    auto is = [&](const char* n) { return PropertyIs(name, n); };
    swf::Matrix& m = clip.matrix;
    double d = 0;
    bool numeric = is("_x") || is("_y") || is("_xscale") || is("_yscale") || is("_rotation") || is("_alpha");
    if (numeric) {
        d = ToNumber(v);
        if (!std::isfinite(d)) return true;
        clip.script_moved = true;
    }
    if (is("_x")) m.tx = d * 20.0;
    else if (is("_y")) m.ty = d * 20.0;
    else if (is("_xscale") || is("_yscale")) {
        bool x = is("_xscale");
        double& p = x ? m.a : m.c;
        double& q = x ? m.b : m.d;
        double len = std::sqrt(p * p + q * q);
        if (len > 0) {
            // Scaled along its own direction, so a zero term stays exactly zero.
            p = p / len * d / 100.0;
            q = q / len * d / 100.0;
        } else {
            p = x ? d / 100.0 : 0.0;
            q = x ? 0.0 : d / 100.0;
        }
    } else if (is("_rotation")) {
        double sx = std::sqrt(m.a * m.a + m.b * m.b), sy = std::sqrt(m.c * m.c + m.d * m.d);
        double r = d * M_PI / 180.0;
        m.a = std::cos(r) * sx;
        m.b = std::sin(r) * sx;
        m.c = -std::sin(r) * sy;
        m.d = std::cos(r) * sy;
    } else if (is("_alpha")) clip.color_transform.a_mult = int16_t(std::clamp(d * 256.0 / 100.0, -32768.0, 32767.0));
    else if (is("_visible")) {
        clip.visible = ToBoolean(v) || (std::holds_alternative<std::string>(v) && ToNumber(v) != 0);
        if (!clip.visible) LoseFocusWithin(clip);
    }
    else if (is("_name")) clip.name = ToString(v);
    else if (is("_width") || is("_height")) {
        // The scale that gives the object this size, its rotation kept.
        bool x = is("_width");
        d = ToNumber(v);
        if (!std::isfinite(d) || d < 0) return true;
        Bounds local;
        AddBounds(local, clip, swf::Matrix{}, 0);
        double size = local.empty ? 0 : (x ? local.x1 - local.x0 : local.y1 - local.y0);
        if (size <= 0) return true;
        clip.script_moved = true;
        SetClipProperty(clip, x ? "_xscale" : "_yscale", d * 20.0 / size * 100.0);
    }
    else if (is("_currentframe") || is("_totalframes") || is("_framesloaded") || is("_target") || is("_url") ||
             is("_xmouse") || is("_ymouse") || is("_droptarget") ||
             is("_quality") || is("_highquality") || is("_focusrect") || is("_soundbuftime"))
        return true;
    else return false;
    return true;
}

}  // namespace qm::flash::avm1

namespace qm::flash::avm1 {

namespace {
void AddPoint(Bounds& b, double x, double y) {
    if (b.empty) {
        b = Bounds{x, y, x, y, false};
        return;
    }
    b.x0 = std::min(b.x0, x);
    b.y0 = std::min(b.y0, y);
    b.x1 = std::max(b.x1, x);
    b.y1 = std::max(b.y1, y);
}

void AddRect(Bounds& b, const swf::Rect& r, const swf::Matrix& m) {
    for (double x : {double(r.x_min), double(r.x_max)})
        for (double y : {double(r.y_min), double(r.y_max)}) AddPoint(b, m.a * x + m.c * y + m.tx, m.b * x + m.d * y + m.ty);
}
}  // namespace

swf::Matrix Interpreter::Concat(const swf::Matrix& outer, const swf::Matrix& inner) {
    swf::Matrix r;
    r.a = outer.a * inner.a + outer.c * inner.b;
    r.b = outer.b * inner.a + outer.d * inner.b;
    r.c = outer.a * inner.c + outer.c * inner.d;
    r.d = outer.b * inner.c + outer.d * inner.d;
    r.tx = outer.a * inner.tx + outer.c * inner.ty + outer.tx;
    r.ty = outer.b * inner.tx + outer.d * inner.ty + outer.ty;
    return r;
}

// The object's own space to the stage, in twips.
swf::Matrix Interpreter::ToStage(const DisplayObject& o) {
    swf::Matrix m;
    int guard = 0;
    for (const DisplayObject* at = &o; at && at->parent && guard < 256; at = at->parent, ++guard) m = Concat(at->matrix, m);
    return m;
}

bool Interpreter::Invert(const swf::Matrix& m, swf::Matrix& out) {
    double det = m.a * m.d - m.b * m.c;
    if (det == 0 || !std::isfinite(det)) return false;
    out.a = m.d / det;
    out.b = -m.b / det;
    out.c = -m.c / det;
    out.d = m.a / det;
    out.tx = -(out.a * m.tx + out.c * m.ty);
    out.ty = -(out.b * m.tx + out.d * m.ty);
    return true;
}

// What the object covers, through `m` (its own space to the wanted one), in twips.
void Interpreter::AddBounds(Bounds& b, const DisplayObject& o, const swf::Matrix& m, int depth) {
    const Character* ch = o.character;
    if (ch) {
        if (auto* shape = ch->As<swf::Shape>()) AddRect(b, shape->bounds, m);
        else if (auto* morph = ch->As<swf::MorphShape>()) {
            // Between the two ends by the morph's progress.
            double t = o.ratio / 65535.0;
            swf::Rect r;
            r.x_min = int32_t(morph->start_bounds.x_min + (morph->end_bounds.x_min - morph->start_bounds.x_min) * t);
            r.x_max = int32_t(morph->start_bounds.x_max + (morph->end_bounds.x_max - morph->start_bounds.x_max) * t);
            r.y_min = int32_t(morph->start_bounds.y_min + (morph->end_bounds.y_min - morph->start_bounds.y_min) * t);
            r.y_max = int32_t(morph->start_bounds.y_max + (morph->end_bounds.y_max - morph->start_bounds.y_max) * t);
            AddRect(b, r, m);
        } else if (auto* text = ch->As<swf::Text>()) AddRect(b, text->bounds, Concat(m, text->matrix));
        else if (auto* edit = ch->As<swf::EditText>()) AddRect(b, edit->bounds, m);
        else if (auto* bitmap = ch->As<swf::Bitmap>()) {
            if (bitmap->width && bitmap->height) AddRect(b, swf::Rect{0, bitmap->width * 20, 0, bitmap->height * 20}, m);
        }
    }
    if (o.drawing && !o.drawing->records.empty()) AddRect(b, o.drawing->bounds, m);
    if (depth > 64) return;
    for (const auto& [d, child] : o.children)
        if (child && child->clip_depth == 0) AddBounds(b, *child, Concat(m, child->matrix), depth + 1);
}

Bounds Interpreter::BoundsIn(const DisplayObject& o, const DisplayObject* space) {
    swf::Matrix m = ToStage(o);
    if (space) {
        swf::Matrix inv;
        if (Invert(ToStage(*space), inv)) m = Concat(inv, m);
    }
    Bounds b;
    AddBounds(b, o, m, 0);
    return b;
}

void Interpreter::ConstructClip(DisplayObject& clip, const ObjRef& init) {
    if (!constructed_.emplace(clip.instance_id, true).second) return;
    ObjRef ctor;
    // Classes are for movie clip symbols; a button keeps its own.
    if (!registered_classes_.empty() && clip.sprite && clip.character && env_) {
        for (const auto& [name, id] : env_->Characters().Exports()) {
            if (id != clip.character->id) continue;
            for (const auto& [registered, fn] : registered_classes_)
                if (KeyEq(registered, name)) ctor = fn;
        }
    }
    if (!ctor && !init) return;
    ObjRef o = ClipObject(clip);
    if (ctor) {
        Value proto = GetOf(ctor, "prototype", ctor);
        if (auto* p = std::get_if<ObjRef>(&proto)) o->proto = *p;
        Define(o, "__constructor__", ctor, kDontEnum);
        if (version_ < 7) Define(o, "constructor", ctor, kDontEnum);
    }
    if (init) {
        std::vector<Property> values = init->props;
        for (const Property& p : values)
            if (!(p.flags & kDontEnum)) SetOf(o, p.name, p.value, o);
    }
    if (ctor) Call(ctor, o, {});
}

void Interpreter::ConstructEvent(ScriptEnvironment& env, DisplayObject& clip) {
    // Most movies register no class: nothing to remember for them.
    if (registered_classes_.empty()) return;
    env_ = &env;
    version_ = env.MovieVersion();
    depth_ = 0;
    current_callee_ = nullptr;
    stack_top_ = static_cast<const char*>(__builtin_frame_address(0));
    try {
        ConstructClip(clip);
    } catch (const ThrowSignal& t) {
        ReportUncaught(t.value);
    } catch (const AbortSignal&) {
    }
}

}  // namespace qm::flash::avm1
