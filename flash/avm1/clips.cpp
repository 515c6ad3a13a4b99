// Movie clips as script objects.
#include <cmath>

#include "flash/avm1/interpreter.h"
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
    return FindIn(env_->Root(), id, 0);
}

ObjRef Interpreter::ClipObject(DisplayObject& clip) {
    auto it = clip_objects_.find(clip.instance_id);
    if (it != clip_objects_.end()) return it->second;
    auto o = NewObject(clip_proto_);
    o->kind = Kind::Clip;
    o->clip_id = clip.instance_id;
    clip_objects_[clip.instance_id] = o;
    return o;
}

DisplayObject* Interpreter::ClipOf(const ObjRef& o) {
    if (!o || o->kind != Kind::Clip) return nullptr;
    return FindClip(o->clip_id);
}

std::string Interpreter::TargetPath(DisplayObject& clip, bool slash) {
    std::vector<std::string> names;
    for (DisplayObject* c = &clip; c && c->parent; c = c->parent) names.push_back(c->name);
    std::string out = slash ? "" : "_level0";
    for (auto it = names.rbegin(); it != names.rend(); ++it) out += (slash ? "/" : ".") + *it;
    if (slash && out.empty()) out = "/";
    return out;
}

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

bool Interpreter::GetClipProperty(DisplayObject& clip, const std::string& name, Value& out) {
    auto is = [&](const char* n) { return KeyEq(name, n); };
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
    else if (is("_width") || is("_height")) out = 0.0;
    else if (is("_xmouse") || is("_ymouse")) out = 0.0;
    else if (is("_quality")) out = std::string("HIGH");
    else if (is("_highquality")) out = 1.0;
    else if (is("_focusrect")) out = version_ >= 5 ? Value(true) : Value(1.0);
    else if (is("_soundbuftime")) out = 5.0;
    else if (is("_droptarget")) out = std::string();
    else if (is("_parent")) {
        if (!clip.parent) return false;
        out = ClipObject(*clip.parent);
    } else {
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
    auto is = [&](const char* n) { return KeyEq(name, n); };
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
        double angle = len > 0 ? std::atan2(q, p) : (x ? 0 : M_PI / 2);
        p = std::cos(angle) * d / 100.0;
        q = std::sin(angle) * d / 100.0;
    } else if (is("_rotation")) {
        double sx = std::sqrt(m.a * m.a + m.b * m.b), sy = std::sqrt(m.c * m.c + m.d * m.d);
        double r = d * M_PI / 180.0;
        m.a = std::cos(r) * sx;
        m.b = std::sin(r) * sx;
        m.c = -std::sin(r) * sy;
        m.d = std::cos(r) * sy;
    } else if (is("_alpha")) clip.color_transform.a_mult = int16_t(std::clamp(d * 256.0 / 100.0, -32768.0, 32767.0));
    else if (is("_visible")) clip.visible = ToBoolean(v) || (std::holds_alternative<std::string>(v) && ToNumber(v) != 0);
    else if (is("_name")) clip.name = ToString(v);
    else if (is("_currentframe") || is("_totalframes") || is("_framesloaded") || is("_target") || is("_url") ||
             is("_width") || is("_height") || is("_xmouse") || is("_ymouse") || is("_droptarget") ||
             is("_quality") || is("_highquality") || is("_focusrect") || is("_soundbuftime"))
        return true;
    else return false;
    return true;
}

}  // namespace qm::flash::avm1
