// The Sound object: sounds of a clip (or of the whole movie) started,
// stopped and turned up or down by scripts.
#include <cmath>

#include "flash/avm1/interpreter.h"
#include "flash/display_list.h"

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

// The object's sound state and the clip it speaks for; false when the
// owner clip is gone (its sound object then answers nothing).
bool Resolve(Interpreter& in, const Value& self, std::shared_ptr<SoundState>& state, DisplayObject*& clip) {
    auto* o = std::get_if<ObjRef>(&self);
    if (!o || !*o || !(*o)->sound) return false;
    state = (*o)->sound;
    clip = nullptr;
    if (state->global) return true;
    clip = state->owner ? in.ClipOf(state->owner) : nullptr;
    // A clip by the same path stands in for one that was removed.
    if (!clip && !state->path.empty()) clip = in.ResolveClip(0, state->path);
    return clip != nullptr;
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
            if (auto* t = std::get_if<ObjRef>(&target)) {
                state->owner = *t;
                if (DisplayObject* c = in.ClipOf(*t)) state->path = in.TargetPath(*c);
            } else {
                state->path = in.ToString(target);
            }
        }
        (*o)->sound = state;
        return Undefined{};
    }, proto, false);

    using Fn = std::function<Value(Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&)>;
    auto method = [&](const std::string& name, Fn fn) {
        Method(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::shared_ptr<SoundState> state;
            DisplayObject* clip = nullptr;
            if (!Resolve(in, self, state, clip)) return Undefined{};
            return fn(in, self, *state, clip, args);
        });
    };
    // The pan a transform stands for: the side turned down, from the left first.
    auto pan_of = [](const ScriptEnvironment::SoundTransform& t) {
        return t.ll != 100 ? 100 - t.ll : t.rr - 100;
    };
    method("getVolume", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>&) -> Value {
        return double(in.env()->GetSoundTransform(c).volume);
    });
    method("setVolume", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>& args) -> Value {
        double v = in.ToNumber(Arg(args, 0));
        if (!std::isfinite(v)) return Undefined{};
        auto t = in.env()->GetSoundTransform(c);
        t.volume = int32_t(std::clamp(v, -1e9, 1e9));
        in.env()->SetSoundTransform(c, t);
        return Undefined{};
    });
    method("getPan", [pan_of](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>&) -> Value {
        return double(pan_of(in.env()->GetSoundTransform(c)));
    });
    method("setPan", [](Interpreter& in, const Value&, SoundState&, DisplayObject* c, std::vector<Value>& args) -> Value {
        double p = in.ToNumber(Arg(args, 0));
        if (!std::isfinite(p)) return Undefined{};
        in.env()->SetSoundPan(c, int32_t(std::clamp(p, -100.0, 100.0)));
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
        // Only the terms the object has change.
        for (auto [name, term] : {std::pair{"ll", &t.ll}, {"lr", &t.lr}, {"rl", &t.rl}, {"rr", &t.rr}}) {
            if (!in.HasProperty(std::get<ObjRef>(from), name)) continue;
            double v = in.ToNumber(in.Get(from, name));
            *term = std::isfinite(v) ? int32_t(std::clamp(v, -1e9, 1e9)) : 0;
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
    auto accessor = [&](const std::string& name, Fn fn) {
        Accessor(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::shared_ptr<SoundState> state;
            DisplayObject* clip = nullptr;
            if (!Resolve(in, self, state, clip)) return Undefined{};
            return fn(in, self, *state, clip, args);
        });
    };
    accessor("duration", duration);
    accessor("position", position);
    Method(proto, "getBytesLoaded", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(proto, "getBytesTotal", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(proto, "loadSound", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
}

}  // namespace qm::flash::avm1
