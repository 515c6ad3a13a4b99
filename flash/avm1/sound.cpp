// The Sound object: sounds of a clip (or of the whole movie) started,
// stopped and turned up or down by scripts.
#include <climits>
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

// The clip a path names, as the sound object finds its owner: each name a
// child clip or else a variable holding one, from the running script's
// target (or the main movie) down.
DisplayObject* ClipByPath(Interpreter& in, const std::string& path) {
    const uint64_t from = in.running_frame_ ? in.running_frame_->target : 0;
    if (DisplayObject* clip = in.ResolveClip(from, path)) return clip;
    DisplayObject* at = in.FindClip(from);
    if (!at) at = &in.env()->Root();
    size_t start = 0;
    for (bool first = true; start <= path.size(); first = false) {
        size_t dot = path.find('.', start);
        std::string name = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        start = dot == std::string::npos ? path.size() + 1 : dot + 1;
        if (first && (in.KeyEq(name, "_level0") || in.KeyEq(name, "_root"))) {
            at = &in.env()->Root();
            continue;
        }
        if (name.empty()) return nullptr;
        Value v = in.Get(in.ClipObject(*at), name);
        auto* o = std::get_if<ObjRef>(&v);
        at = o ? in.ClipOf(*o) : nullptr;
        if (!at) return nullptr;
    }
    return at;
}

// The object's sound state and the clip it speaks for; false when no clip
// answers to the owner's path (the object then answers nothing). The path
// is looked up at each call, so a renamed owner is lost until it gets its
// name back.
bool ResolveSound(Interpreter& in, const Value& self, std::shared_ptr<SoundState>& state, DisplayObject*& clip) {
    auto* o = std::get_if<ObjRef>(&self);
    if (!o || !*o || !(*o)->sound) return false;
    state = (*o)->sound;
    clip = nullptr;
    if (state->global) return true;
    clip = ClipByPath(in, state->path);
    return clip != nullptr;
}

// Volume and pan take the processor's conversion: the fraction cut off, and
// NaN or anything beyond 32 bits the lowest integer. Nothing given is 0.
int32_t SoundInteger(Interpreter& in, std::vector<Value>& args) {
    if (args.empty() || std::holds_alternative<Undefined>(args[0])) return 0;
    double v = in.ToNumber(args[0]);
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return int32_t(v);
}

}  // namespace

void Interpreter::CheckSounds() {
    if (playing_sounds_.empty() || !env_) return;
    std::vector<ObjRef> done;
    std::erase_if(playing_sounds_, [&](const std::weak_ptr<Object>& w) {
        ObjRef o = w.lock();
        if (!o || !o->sound || !o->sound->playing) return true;
        if (env_->SoundPlaying(o->sound->handle)) return false;
        o->sound->playing = false;
        done.push_back(o);
        return true;
    });
    for (const ObjRef& o : done) {
        Interval answer;
        answer.self = o;
        answer.method = "onSoundComplete";
        Fire(answer);
    }
}

void Interpreter::InstallSound() {
    ObjRef proto = NewObject();
    DefineClass("Sound", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        if (!o || !*o) return Undefined{};
        auto state = std::make_shared<SoundState>();
        Value target = Arg(args, 0);
        if (!std::holds_alternative<Undefined>(target)) {
            state->global = false;
            // The owner is kept as its path; any other object by its text.
            auto* t = std::get_if<ObjRef>(&target);
            if (DisplayObject* c = t ? in.ClipOf(*t) : nullptr) state->path = in.TargetPath(*c);
            else state->path = in.ToString(target);
        }
        (*o)->sound = state;
        return Undefined{};
    }, proto, false);

    using Fn = std::function<Value(Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&)>;
    auto method = [&](const std::string& name, Fn fn) {
        Method(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::shared_ptr<SoundState> state;
            DisplayObject* clip = nullptr;
            if (!ResolveSound(in, self, state, clip)) return Undefined{};
            return fn(in, self, *state, clip, args);
        });
    };
    // The pan a transform stands for: the side turned down, from the left first.
    auto pan_of = [](const ScriptEnvironment::SoundTransform& t) {
        auto magnitude = [](int32_t v) { return v < 0 ? int32_t(0u - uint32_t(v)) : v; };
        return t.ll != 100 ? int32_t(100u - uint32_t(magnitude(t.ll))) : int32_t(uint32_t(magnitude(t.rr)) - 100u);
    };
    method("getVolume", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>&) -> Value {
        return double(in.env()->GetSoundTransform(c).volume);
    });
    method("setVolume", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>& args) -> Value {
        int32_t v = SoundInteger(in, args);
        auto t = in.env()->GetSoundTransform(c);
        t.volume = v;
        in.env()->SetSoundTransform(c, t);
        return Undefined{};
    });
    method("getPan", [pan_of](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>&) -> Value {
        return double(pan_of(in.env()->GetSoundTransform(c)));
    });
    method("setPan", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>& args) -> Value {
        in.env()->SetSoundPan(c, SoundInteger(in, args));
        return Undefined{};
    });
    method("getTransform", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>&) -> Value {
        auto t = in.env()->GetSoundTransform(c);
        ObjRef o = in.NewObject();
        in.Set(o, "ll", double(t.ll));
        in.Set(o, "lr", double(t.lr));
        in.Set(o, "rr", double(t.rr));
        in.Set(o, "rl", double(t.rl));
        return o;
    });
    method("setTransform", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>& args) -> Value {
        Value from = Arg(args, 0);
        if (!std::holds_alternative<ObjRef>(from)) return Undefined{};
        auto t = in.env()->GetSoundTransform(c);
        // Only the terms the object itself has change (not its prototype's).
        for (auto [name, term] : {std::pair{"ll", &t.ll}, {"lr", &t.lr}, {"rl", &t.rl}, {"rr", &t.rr}}) {
            if (!in.FindOwn(std::get<ObjRef>(from), name)) continue;
            *term = in.ToInt32(in.Get(from, name));
        }
        in.env()->SetSoundTransform(c, t);
        return Undefined{};
    });
    method("attachSound", [](Interpreter& in, const Value&, SoundState& s, DisplayObject*, std::vector<Value>& args) -> Value {
        uint16_t id = in.env()->ExportedSound(in.ToString(Arg(args, 0)));
        if (id) {
            s.sound_id = id;
            s.handle = 0;
        }
        return Undefined{};
    });
    method("start", [](Interpreter& in, const Value& self, SoundState& s, DisplayObject* c, std::vector<Value>& args) -> Value {
        if (!s.sound_id) return Undefined{};
        double offset = in.ToNumber(Arg(args, 0)), loops = in.ToNumber(Arg(args, 1));
        if (!std::isfinite(offset) || offset < 0) offset = 0;
        if (!std::isfinite(loops) || loops < 1) loops = 1;
        s.handle = in.env()->StartSound(c, s.sound_id, offset, int(std::min(loops, 1e6)));
        if (s.handle) {
            if (!s.playing) in.playing_sounds_.push_back(std::get<ObjRef>(self));
            s.playing = true;
        }
        return Undefined{};
    });
    method("stop", [](Interpreter& in, const Value&, SoundState& s, DisplayObject* c, std::vector<Value>& args) -> Value {
        uint16_t id = 0;
        if (!args.empty()) {
            id = in.env()->ExportedSound(in.ToString(args[0]));
            if (!id) return Undefined{};
        }
        in.env()->StopSounds(c, id);
        (void)s;
        return Undefined{};
    });
    auto duration = [](Interpreter& in, const Value&, SoundState& s, DisplayObject*, std::vector<Value>&) -> Value {
        if (!s.sound_id) return Undefined{};
        return double(in.env()->SoundDurationMs(s.sound_id));
    };
    auto position = [](Interpreter& in, const Value&, SoundState& s, DisplayObject*, std::vector<Value>&) -> Value {
        if (!s.sound_id) return Undefined{};
        return s.handle ? double(in.env()->SoundPositionMs(s.handle)) : 0.0;
    };
    method("getDuration", duration);
    method("getPosition", position);
    method("setDuration", [](Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&) -> Value {
        return Undefined{};
    });
    method("setPosition", [](Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&) -> Value {
        return Undefined{};
    });
    // A script may write over them: the value then stays on the object.
    auto accessor = [&](const std::string& name, Fn fn) {
        Accessor(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::shared_ptr<SoundState> state;
            DisplayObject* clip = nullptr;
            if (!ResolveSound(in, self, state, clip)) return Undefined{};
            return fn(in, self, *state, clip, args);
        }, [name](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            if (auto* o = std::get_if<ObjRef>(&self); o && *o) in.Define(*o, name, Arg(args, 0), 0);
            return Undefined{};
        });
    };
    accessor("duration", duration);
    accessor("position", position);
    Method(proto, "getBytesLoaded", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(proto, "getBytesTotal", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(proto, "loadSound", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    // Version 5 movies knew only the first methods.
    for (const char* name : {"getDuration", "setDuration", "getPosition", "setPosition", "loadSound",
                             "getBytesLoaded", "getBytesTotal", "duration", "position"})
        if (Property* p = FindOwn(proto, name)) p->flags |= kVersion6;
}

}  // namespace qm::flash::avm1
