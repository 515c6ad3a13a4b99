// Movies loaded into clips by scripts: loadMovie and unloadMovie (the
// actions and the MovieClip methods) and MovieClipLoader with its events.
// The player reads the file at the request and swaps it in after the
// frame's scripts; the loader's events follow that rule: onLoadStart,
// onLoadProgress and onLoadComplete (or onLoadError) once the frame that
// asked has run its scripts, onLoadInit once the loaded movie's first frame
// has run its own.
#include "flash/avm1/moviecliploader.h"
#include "flash/avm1/loadvars.h"

#include <algorithm>
#include <cctype>

namespace qm::flash::avm1 {

namespace {

Value Arg(std::vector<Value>& args, size_t i) { return i < args.size() ? args[i] : Value(Undefined{}); }

// A broadcast of `event` to the loader's listeners with the frame's other load answers.
void QueueBroadcast(Interpreter& in, const Value& loader, std::vector<Value> args) {
    Interval answer;
    answer.self = loader;
    answer.method = "broadcastMessage";
    answer.args = std::move(args);
    in.QueueLoad(std::move(answer));
}

// The clip a loader or loadMovie names: a clip object, a path, or a level number.
DisplayObject* TargetClip(Interpreter& in, const Value& target) {
    if (auto* o = std::get_if<ObjRef>(&target)) return *o ? in.ClipOf(*o) : nullptr;
    if (!in.env()) return nullptr;
    if (auto* n = std::get_if<double>(&target)) return *n >= 0 && *n < 1 ? &in.env()->Root() : nullptr;
    if (std::holds_alternative<std::string>(target)) return in.ResolveClip(0, std::get<std::string>(target));
    return nullptr;
}

// "a=1&b=2" of "movie.swf?a=1&b=2#part".
std::string Query(const std::string& url) {
    size_t question = url.find('?');
    if (question == std::string::npos) return {};
    std::string query = url.substr(question + 1);
    return query.substr(0, query.find('#'));
}

// A load starts the clip afresh, before its loader hears a word: the
// variables and handlers the old content left go, the request's query gives
// the new movie its own.
void StartAfresh(Interpreter& in, uint64_t clip_id, const std::string& url) {
    DisplayObject* clip = in.FindClip(clip_id);
    if (!clip) return;
    ObjRef o = in.ClipObject(*clip);
    o->props.clear();
    o->proto = in.clip_proto_;
    if (std::string query = Query(url); !query.empty()) DecodeVariables(in, o, query);
}

}  // namespace

void LoadMovieAction(Interpreter& in, DisplayObject& clip, const std::string& url) {
    if (!in.env()) return;
    // A command to the host is no movie; the host logs it.
    if (url.size() >= 10 && std::equal(url.begin(), url.begin() + 10, "fscommand:", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
        in.env()->GetUrl(url, in.TargetPath(clip));
        return;
    }
    if (url.empty()) {
        in.env()->UnloadMovie(clip);
        return;
    }
    if (in.env()->LoadMovie(clip, url, nullptr)) return;
    Interval start;
    uint64_t id = clip.instance_id;
    start.function = in.NewFunction([id, url](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
        StartAfresh(in, id, url);
        return Undefined{};
    });
    in.QueueLoad(std::move(start));
}

int32_t LevelNumber(std::string_view target) {
    static constexpr std::string_view kLevel = "_level";
    if (target.size() <= kLevel.size() || target.size() > kLevel.size() + 9) return -1;
    for (size_t i = 0; i < kLevel.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(target[i])) != kLevel[i]) return -1;
    int32_t level = 0;
    for (char c : target.substr(kLevel.size())) {
        if (c < '0' || c > '9') return -1;
        level = level * 10 + (c - '0');
    }
    return level;
}

void LoadMovieNumAction(Interpreter& in, int32_t level, const std::string& url) {
    if (!in.env()) return;
    if (url.empty()) return in.env()->UnloadMovieNum(level);
    if (DisplayObject* at = in.env()->Level(level)) return LoadMovieAction(in, *at, url);
    // A level that is not there yet: a command goes to the host, a movie
    // makes the level when it arrives.
    if (url.size() >= 10 && std::equal(url.begin(), url.begin() + 10, "fscommand:", [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        })) {
        in.env()->GetUrl(url, "_level" + std::to_string(level));
        return;
    }
    (void)in.env()->LoadMovieNum(level, url);
}

void InstallMovieClipLoader(Interpreter& in, const ObjRef& broadcaster) {
    in.Method(in.clip_proto_, "loadMovie", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* clip = o && *o ? in.ClipOf(*o) : nullptr;
        if (clip && !args.empty()) LoadMovieAction(in, *clip, in.ToString(args[0]));
        return Undefined{};
    });
    in.Method(in.clip_proto_, "unloadMovie", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        auto* o = std::get_if<ObjRef>(&self);
        DisplayObject* clip = o && *o ? in.ClipOf(*o) : nullptr;
        if (clip && in.env()) in.env()->UnloadMovie(*clip);
        return Undefined{};
    });

    ObjRef loader_proto = in.NewObject();
    in.DefineClass("MovieClipLoader", [](Interpreter& in, const Value& self, std::vector<Value>&) -> Value {
        if (auto* o = std::get_if<ObjRef>(&self); o && *o) {
            in.InitializeBroadcaster(*o);
            // The loader hears its own events.
            Value list = in.Get(self, "_listeners");
            if (auto* l = std::get_if<ObjRef>(&list); l && *l) (*l)->elems.push_back(self);
        }
        return Undefined{};
    }, loader_proto, false);
    for (const char* name : {"broadcastMessage", "addListener", "removeListener"})
        in.Define(loader_proto, name, in.Get(broadcaster, name), kDontEnum);
    in.Method(loader_proto, "loadClip", [](Interpreter& in, const Value& self, std::vector<Value>& args) -> Value {
        if (args.size() < 2) return Undefined{};
        // Only a text names a file; anything else is refused unread.
        if (!std::holds_alternative<std::string>(args[0])) return false;
        DisplayObject* clip = TargetClip(in, args[1]);
        if (!clip || !in.env()) return false;
        ObjRef object = in.ClipObject(*clip);
        size_t bytes = 0;
        std::string url = in.ToString(args[0]);
        std::optional<std::string> error = in.env()->LoadMovie(*clip, url, &bytes);
        if (error) {
            if (*error != "URLNotFound") QueueBroadcast(in, self, {std::string("onLoadStart"), object});
            QueueBroadcast(in, self, {std::string("onLoadError"), object, *error});
            return true;
        }
        Value loader = self;
        uint64_t id = clip->instance_id;
        Interval arrival;
        arrival.function = in.NewFunction([loader, object, bytes, id, url](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
            // A clip removed before its movie came cancels the load: no events.
            if (!in.FindClip(id)) return Undefined{};
            StartAfresh(in, id, url);
            for (const char* event : {"onLoadStart", "onLoadProgress", "onLoadComplete"}) {
                std::vector<Value> args{std::string(event), object};
                if (std::string_view(event) == "onLoadProgress") args = {std::string(event), object, double(bytes), double(bytes)};
                if (std::string_view(event) == "onLoadComplete") args.push_back(0.0);
                in.Call(in.Get(loader, "broadcastMessage"), loader, args);
            }
            // Asked now, this answer comes after the next frame's scripts,
            // the first of the loaded movie.
            Interval init;
            init.function = in.NewFunction([loader, object, id](Interpreter& in, const Value&, std::vector<Value>&) -> Value {
                if (in.FindClip(id)) in.Call(in.Get(loader, "broadcastMessage"), loader, {std::string("onLoadInit"), object});
                return Undefined{};
            });
            in.QueueLoad(std::move(init));
            return Undefined{};
        });
        in.QueueLoad(std::move(arrival));
        return true;
    });
    in.Method(loader_proto, "unloadClip", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        if (args.empty()) return Undefined{};
        DisplayObject* clip = TargetClip(in, args[0]);
        if (!clip || !in.env()) return false;
        in.env()->UnloadMovie(*clip);
        return true;
    });
    in.Method(loader_proto, "getProgress", [](Interpreter& in, const Value&, std::vector<Value>& args) -> Value {
        // A path or level that names nothing still gets an answer, of nothing;
        // anything else that is no clip gets none.
        const Value target = Arg(args, 0);
        const bool named = std::holds_alternative<std::string>(target) || std::holds_alternative<double>(target);
        DisplayObject* clip = TargetClip(in, target);
        if (!clip && !named) return Undefined{};
        uint32_t loaded = 0, total = 0;
        const bool known = clip && in.env()->ClipBytes(*clip, true, loaded, total);
        ObjRef p = in.NewObject();
        in.Set(p, "bytesLoaded", known ? Value(double(loaded)) : Value(Undefined{}));
        in.Set(p, "bytesTotal", known ? Value(double(total)) : Value(Undefined{}));
        return p;
    });
}

}  // namespace qm::flash::avm1
