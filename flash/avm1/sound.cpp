// The Sound object: sounds of a clip (or of the whole movie) started,
// stopped and turned up or down by scripts.
#include <climits>
#include <cmath>
#include <functional>
#include <optional>
#include <span>

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

// ID3 text in UTF-8: its first byte names the encoding (Latin-1, UTF-16 with
// a byte order mark, UTF-16 big-endian, UTF-8); a text ends at its first NUL.
std::string Id3Text(std::span<const uint8_t> body, size_t& at, uint8_t encoding) {
    std::string out;
    auto put = [&](uint32_t c) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6)), out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12)), out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18)), out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F)), out += char(0x80 | (c & 0x3F));
        }
    };
    if (encoding == 1 || encoding == 2) {
        bool big = encoding == 2;
        if (encoding == 1 && at + 1 < body.size()) {
            if (body[at] == 0xFE && body[at + 1] == 0xFF) big = true, at += 2;
            else if (body[at] == 0xFF && body[at + 1] == 0xFE) at += 2;
        }
        uint32_t high = 0;
        for (; at + 1 < body.size(); at += 2) {
            uint32_t unit = big ? (body[at] << 8 | body[at + 1]) : (body[at + 1] << 8 | body[at]);
            if (unit == 0) {
                at += 2;
                return out;
            }
            if (unit >= 0xD800 && unit < 0xDC00) {
                high = unit;
                continue;
            }
            if (unit >= 0xDC00 && unit < 0xE000) {
                if (high) put(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
                high = 0;
                continue;
            }
            put(unit);
        }
        at = body.size();
        return out;
    }
    for (; at < body.size() && body[at] != 0; ++at) {
        if (encoding == 3) out += char(body[at]);
        else put(body[at]);
    }
    if (at < body.size()) ++at;
    return out;
}

// The text frames of an ID3 version 2.3 or 2.4 tag at the start of `file`
// (a comment's text after its language and description), in the file's
// order; `audio` is set to what follows the tag.
std::vector<std::pair<std::string, std::string>> ReadId3(std::span<const uint8_t> file, std::span<const uint8_t>& audio) {
    std::vector<std::pair<std::string, std::string>> frames;
    audio = file;
    if (file.size() < 10 || file[0] != 'I' || file[1] != 'D' || file[2] != '3') return frames;
    const uint8_t version = file[3];
    const size_t size = size_t(file[6] & 0x7F) << 21 | size_t(file[7] & 0x7F) << 14 | size_t(file[8] & 0x7F) << 7 |
                        size_t(file[9] & 0x7F);
    const size_t end = std::min(file.size(), 10 + size);
    audio = file.subspan(end);
    if (version < 3 || version > 4 || (file[5] & 0x40)) return frames;  // older tags, extended headers: unread
    for (size_t at = 10; at + 10 <= end;) {
        if (file[at] == 0) break;  // padding
        std::string id(reinterpret_cast<const char*>(&file[at]), 4);
        size_t length = version == 4 ? (size_t(file[at + 4] & 0x7F) << 21 | size_t(file[at + 5] & 0x7F) << 14 |
                                        size_t(file[at + 6] & 0x7F) << 7 | size_t(file[at + 7] & 0x7F))
                                     : (size_t(file[at + 4]) << 24 | size_t(file[at + 5]) << 16 |
                                        size_t(file[at + 6]) << 8 | size_t(file[at + 7]));
        const size_t body_at = at + 10;
        if (length > end - body_at) break;
        std::span<const uint8_t> body = file.subspan(body_at, length);
        at = body_at + length;
        if (body.empty() || (id[0] != 'T' && id != "COMM") || id == "TXXX") continue;
        const uint8_t encoding = body[0];
        size_t pos = 1;
        if (id == "COMM") {
            pos = std::min<size_t>(4, body.size());  // the language
            (void)Id3Text(body, pos, encoding);       // the description
        }
        frames.emplace_back(id, Id3Text(body, pos, encoding));
    }
    return frames;
}

// The id3 object of a loaded sound: each frame by its name, the common ones
// by a friendly name too; a repeated comment makes COMM a list. It has no
// prototype, so it reads as undefined in a text.
ObjRef Id3Object(Interpreter& in, const std::vector<std::pair<std::string, std::string>>& frames) {
    static const std::pair<const char*, const char*> kFriendly[] = {
        {"TIT2", "songname"}, {"TPE1", "artist"}, {"TALB", "album"}, {"TYER", "year"},
        {"COMM", "comment"},  {"TCON", "genre"},  {"TRCK", "track"}};
    ObjRef id3 = in.NewObject();
    id3->proto = nullptr;
    for (const auto& [id, text] : frames) {
        for (auto [frame, friendly] : kFriendly)
            if (id == frame) in.Set(id3, friendly, text);
        Property* held = id == "COMM" ? in.FindOwn(id3, id) : nullptr;
        if (!held) {
            in.Set(id3, id, text);
            continue;
        }
        auto* list = std::get_if<ObjRef>(&held->value);
        if (!list || !*list || (*list)->kind != Kind::Array) {
            ObjRef made = in.NewArray({held->value});
            held->value = made;
            list = std::get_if<ObjRef>(&held->value);
        }
        (*list)->elems.push_back(text);
        if (!(*list)->holes.empty()) (*list)->holes.resize((*list)->elems.size(), false);
    }
    return id3;
}

}  // namespace

void Interpreter::CheckSounds() {
    if (playing_sounds_.empty() || !env_) return;
    // Each start is told apart: two starts of one object end twice.
    std::vector<ObjRef> done;
    std::erase_if(playing_sounds_, [&](const std::weak_ptr<Object>& w) {
        ObjRef o = w.lock();
        if (!o || !o->sound || !o->sound->playing) return true;
        std::vector<uint64_t>& started = o->sound->started;
        const size_t before = started.size();
        std::erase_if(started, [&](uint64_t handle) { return !env_->SoundPlaying(handle); });
        for (size_t i = started.size(); i < before; ++i) done.push_back(o);
        if (!started.empty()) return false;
        o->sound->playing = false;
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
        // A loading sound is read already, so it may start before its onLoad.
        const uint16_t id = s.sound_id ? s.sound_id : s.loading_id;
        if (!id) return Undefined{};
        double offset = in.ToNumber(Arg(args, 0)), loops = in.ToNumber(Arg(args, 1));
        if (!std::isfinite(offset) || offset < 0) offset = 0;
        if (!std::isfinite(loops) || loops < 1) loops = 1;
        s.handle = in.env()->StartSound(c, id, offset, int(std::min(loops, 1e6)));
        if (s.handle) {
            if (!s.playing) in.playing_sounds_.push_back(std::get<ObjRef>(self));
            s.playing = true;
            s.started.push_back(s.handle);
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
    // A sound on its way has no length yet.
    auto duration = [](Interpreter& in, const Value&, SoundState& s, DisplayObject*, std::vector<Value>&) -> Value {
        if (!s.sound_id) return s.loading_id ? Value(0.0) : Value(Undefined{});
        return double(in.env()->SoundDurationMs(s.sound_id));
    };
    auto position = [](Interpreter& in, const Value&, SoundState& s, DisplayObject*, std::vector<Value>&) -> Value {
        const uint16_t id = s.sound_id ? s.sound_id : s.loading_id;
        if (!id) return Undefined{};
        if (!s.handle) return 0.0;
        // A sound played to its end stands at its length, which is given to the nearest millisecond.
        const uint32_t at = in.env()->SoundPositionMs(s.handle);
        if (s.from_file && !in.env()->SoundPlaying(s.handle) && at + 1 >= in.env()->SoundDurationMs(id))
            return double(in.env()->SoundDurationMs(id));
        return double(at);
    };
    method("getDuration", duration);
    method("getPosition", position);
    method("setDuration", [](Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&) -> Value {
        return Undefined{};
    });
    method("setPosition", [](Interpreter&, const Value&, SoundState&, DisplayObject*, std::vector<Value>&) -> Value {
        return Undefined{};
    });
    // A script may write over them: the value then stays on the object; once
    // a file's sound is on its way they are the sound's alone.
    auto accessor = [&](const std::string& name, Fn fn) {
        Accessor(proto, name, [fn](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            std::shared_ptr<SoundState> state;
            DisplayObject* clip = nullptr;
            if (!ResolveSound(in, self, state, clip)) return Undefined{};
            return fn(in, self, *state, clip, args);
        }, [name](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
            auto* o = std::get_if<ObjRef>(&self);
            if (o && *o && (*o)->sound && (*o)->sound->from_file) return Undefined{};
            if (o && *o) in.Define(*o, name, Arg(args, 0), 0);
            return Undefined{};
        });
    };
    accessor("duration", duration);
    accessor("position", position);
    Method(proto, "getBytesLoaded", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    Method(proto, "getBytesTotal", [](Interpreter&, const Value&, std::vector<Value>&) -> Value { return Undefined{}; });
    // loadSound reads an MP3 file beside the movie at once; its ID3 tag and then its
    // arrival are told once the frame's scripts have run, each answer on that frame,
    // so a load asked by an answer is told there too. A streaming sound starts at
    // once; the object's earlier sound stops.
    method("loadSound", [](Interpreter& in, const Value& self, SoundState& s, DisplayObject* c, std::vector<Value>& args) -> Value {
        const std::string url = in.ToString(Arg(args, 0));
        const bool streaming = in.ToBoolean(Arg(args, 1));
        if (s.sound_id || s.loading_id) in.env()->StopSounds(c, s.sound_id ? s.sound_id : s.loading_id);
        s.sound_id = 0;
        s.loading_id = 0;
        s.handle = 0;
        s.started.clear();  // what was playing ends untold
        // `before` runs first and says whether the answer is still wanted.
        auto answer = [&](const std::string& event, std::vector<Value> answer_args, std::function<bool()> before) {
            Interval t;
            t.this_frame = true;
            t.function = in.NewFunction([self, event, answer_args, before](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
                if (before && !before()) return Undefined{};
                Value handler = in.Get(self, event);
                if (std::holds_alternative<ObjRef>(handler)) in.Call(handler, self, answer_args);
                return Undefined{};
            });
            in.QueueLoad(std::move(t));
        };
        std::optional<std::string> file = in.env()->ReadLocalFile(url);
        std::string error = "the file could not be read";
        uint16_t id = 0;
        std::vector<std::pair<std::string, std::string>> frames;
        if (file) {
            auto bytes = std::span(reinterpret_cast<const uint8_t*>(file->data()), file->size());
            std::span<const uint8_t> audio;
            frames = ReadId3(bytes, audio);
            id = in.env()->AddSoundFile(audio, error);
        }
        if (!id) {
            in.env()->Log("sound not loaded: \"" + url + "\": " + error);
            answer("onLoad", {false}, nullptr);
            return Undefined{};
        }
        s.loading_id = id;
        s.from_file = true;
        std::shared_ptr<SoundState> state = std::get<ObjRef>(self)->sound;
        if (streaming) {
            s.handle = in.env()->StartSound(c, id, 0, 1);
            if (s.handle) {
                if (!s.playing) in.playing_sounds_.push_back(std::get<ObjRef>(self));
                s.playing = true;
                s.started.push_back(s.handle);
            }
        }
        if (!frames.empty()) {
            // Only the first tag is kept, and a value the movie put there itself stays.
            ObjRef id3 = Id3Object(in, frames);
            answer("onID3", {true}, [self, id3, state, id, &in] {
                if (state->loading_id != id) return false;  // another load came since
                if (auto* o = std::get_if<ObjRef>(&self); o && *o && !in.FindOwn(*o, "id3"))
                    in.Define(*o, "id3", id3, kDontDelete | kReadOnly);
                return true;
            });
        }
        answer("onLoad", {true}, [state, id] {
            if (state->loading_id != id) return false;  // another load came since
            state->sound_id = id;
            state->loading_id = 0;
            return true;
        });
        return Undefined{};
    });
    // Version 5 movies knew only the first methods.
    for (const char* name : {"getDuration", "setDuration", "getPosition", "setPosition", "loadSound",
                             "getBytesLoaded", "getBytesTotal", "duration", "position"})
        if (Property* p = FindOwn(proto, name)) p->flags |= kVersion6;
}

}  // namespace qm::flash::avm1
