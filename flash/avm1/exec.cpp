// The action loop.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "flash/avm1/interpreter.h"
#include "flash/avm1/loadvars.h"
#include "flash/avm1/moviecliploader.h"
#include "flash/display_list.h"
#include "flash/timeline_def.h"
#include "swf/swf.h"

namespace qm::flash::avm1 {

namespace {
// The clock is read once in this many actions: often enough to stop within
// a few milliseconds of the limit, rarely enough to cost nothing.
constexpr size_t kActionsPerClockRead = 1024;

// The last frame (from 0) a wait for frames finds loaded: the original's frame limit.
constexpr uint32_t kLastLoadedFrame = 16000;

// Processor time of this thread: a busy machine does not cut a script short.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

const char* const kPropertyNames[] = {"_x", "_y", "_xscale", "_yscale", "_currentframe", "_totalframes",
                                      "_alpha", "_visible", "_width", "_height", "_rotation", "_target",
                                      "_framesloaded", "_name", "_droptarget", "_url", "_highquality",
                                      "_focusrect", "_soundbuftime", "_quality", "_xmouse", "_ymouse"};

// Texts compare by their UTF-16 units, as the original player holds them; a byte
// that starts no valid character, or an encoded lone surrogate, counts as U+FFFD.
std::vector<uint16_t> Utf16Units(const std::string& s) {
    std::vector<uint16_t> out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t n = c < 0x80 ? 1 : c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok) {
            cp = n == 1 ? c : c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            bool overlong = (n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF));
            if (overlong || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
            i += n;
        } else {
            ++i;
        }
        if (cp >= 0x10000) {
            out.push_back(uint16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(uint16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(uint16_t(cp));
        }
    }
    return out;
}

bool Utf16Less(const std::string& a, const std::string& b) {
    auto ascii = [](const std::string& s) {
        for (char c : s)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) return a < b;
    return Utf16Units(a) < Utf16Units(b);
}

bool IsNumericText(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end && *end == 0;
}
}  // namespace

void Interpreter::Log(const std::string& line) {
    if (env_) env_->Log(line);
}

void Interpreter::ApplyLimits(const Avm1Options& options) {
    if (options.max_recursion > 0) max_recursion_ = options.max_recursion;
    if (options.script_seconds_per_frame > 0) script_seconds_ = options.script_seconds_per_frame;
}

// Once the frame's time is up, every script left in the frame stops at its
// first action, so a movie of many looping clips costs the limit once.
void Interpreter::Step() {
    if (stopped_logged_) throw AbortSignal{};
    size_t n = ++frame_actions_;
    if (n == 1) frame_started_ = ThreadSeconds();
    if (n % kActionsPerClockRead == 0 && ThreadSeconds() - frame_started_ > script_seconds_) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "a script ran too long (more than %g seconds in one frame) and was stopped; the movie goes on",
                      script_seconds_);
        Log(line);
        stopped_logged_ = true;
        throw AbortSignal{};
    }
    size_t held = outer_stack_values_ + (running_stack_ ? running_stack_->size() : 0);
    if (held > limits::kMaxActionStack) {
        Log("a script put more than " + std::to_string(limits::kMaxActionStack) +
            " values on its stack and was stopped");
        throw AbortSignal{};
    }
}

// A text this large comes only from a runaway loop; the original player would run out of
// memory. The script is stopped rather than given a cut text it would go on computing with.
void Interpreter::CheckTextSize(size_t bytes) {
    if (bytes <= limits::kMaxScriptTextBytes) return;
    if (!text_limit_logged_)
        Log("a script built a text of more than " + std::to_string(limits::kMaxScriptTextBytes >> 20) +
            " MiB and was stopped");
    text_limit_logged_ = true;
    throw AbortSignal{};
}

void SyncBoundFields(Interpreter& in);

void Interpreter::EndOfScripts() {
    // Loads finish once the frame's scripts have run, in the order asked.
    // Answers asked by these wait for the next frame, unless they come this frame;
    // a few rounds of those, so that a chain of them cannot hold the frame.
    if (!loads_.empty() && env_) {
        std::vector<Interval> later;
        for (int round = 0; !loads_.empty() && round < 64; ++round) {
            std::vector<Interval> loads;
            loads.swap(loads_);
            for (Interval& t : loads) {
                if (round == 0 || t.this_frame) Fire(t);
                else later.push_back(std::move(t));
            }
        }
        for (Interval& t : loads_) later.push_back(std::move(t));
        loads_ = std::move(later);
    }
    // Bound text fields show what the scripts left in their variables.
    if (env_) SyncBoundFields(*this);
    stack_.clear();
    frame_actions_ = 0;
    stopped_logged_ = false;
    ++frames_;
}

int Interpreter::AddInterval(Interval interval) {
    interval.due = TimerMs() + interval.period;
    int id = next_interval_++;
    intervals_[id] = std::move(interval);
    return id;
}

void Interpreter::ClearInterval(int id) { intervals_.erase(id); }

// Intervals fire at most once a frame, on the frame after they fall due.
void Interpreter::RunIntervals() {
    if (intervals_.empty() || !env_) return;
    double now = TimerMs();
    std::vector<int> due;
    for (auto& [id, t] : intervals_)
        if (t.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = intervals_.find(id);
        if (it == intervals_.end()) continue;
        Interval t = it->second;
        if (t.repeat) it->second.due = now + std::max(t.period, 1.0);
        else intervals_.erase(it);
        Fire(t);
    }
}

void Interpreter::Fire(const Interval& t) {
    depth_ = 0;
    current_callee_ = nullptr;
    stack_top_ = static_cast<const char*>(__builtin_frame_address(0));
    try {
        if (!t.method.empty()) Call(Get(t.self, t.method), t.self, t.args);
        else Call(t.function, Undefined{}, t.args);
    } catch (const ThrowSignal& t) {
        ReportUncaught(t.value);
    } catch (const AbortSignal&) {
    }
}

ObjRef Interpreter::TargetObject(Frame& f) {
    if (DisplayObject* clip = ActingClip(f.target, f.base)) return ClipObject(*clip);
    return nullptr;
}

void Interpreter::RunList(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions) {
    env_ = &env;
    version_ = env.MovieVersion();
    // Fields placed since the last scripts bind to their variables first.
    if (bound_fields_frame_ != frames_) {
        bound_fields_frame_ = frames_;
        SyncBoundFields(*this);
    }
    ObjRef self = ClipObject(clip);
    Frame f;
    f.code = actions;
    f.scope = {global_, self};
    f.this_value = self;
    f.regs.resize(4);
    f.target = f.base = clip.instance_id;
    // The unload script of a clip already taken off runs to its end.
    if (!FindClip(clip.instance_id)) f.target = f.base = 0;
    f.activation = self;
    f.stack = &stack_;
    f.stack_base = 0;
    bool returned = false;
    Value result;
    depth_ = 0;
    current_callee_ = nullptr;
    stack_top_ = static_cast<const char*>(__builtin_frame_address(0));
    try {
        RunCode(f, 0, actions.size(), returned, result);
    } catch (const ThrowSignal& t) {
        // Uncaught: the list ends.
        ReportUncaught(t.value);
    } catch (const AbortSignal&) {
    }
}

void Interpreter::ClipEvent(ScriptEnvironment& env, DisplayObject& clip, uint32_t event) {
    const char* name = nullptr;
    switch (event) {
    case swf::kClipEventLoad: name = "onLoad"; break;
    case swf::kClipEventEnterFrame: name = "onEnterFrame"; break;
    case swf::kClipEventUnload: name = "onUnload"; break;
    case swf::kClipEventMouseMove: name = "onMouseMove"; break;
    case swf::kClipEventMouseDown: name = "onMouseDown"; break;
    case swf::kClipEventMouseUp: name = "onMouseUp"; break;
    case swf::kClipEventKeyDown: name = "onKeyDown"; break;
    case swf::kClipEventKeyUp: name = "onKeyUp"; break;
    case swf::kClipEventData: name = "onData"; break;
    case swf::kClipEventConstruct: ConstructEvent(env, clip); return;
    default: return;
    }
    env_ = &env;
    version_ = env.MovieVersion();
    // The main timeline's enterFrame comes once a frame, after every clip's.
    if (event == swf::kClipEventEnterFrame && &clip == &env.Root()) {
        CheckSounds();
        RunIntervals();
    }
    // Clips no script has touched have no handlers of their own.
    ObjRef self;
    if (auto it = clip_objects_.find(clip.instance_id); it != clip_objects_.end()) self = it->second;
    else if (HasProperty(clip_proto_, name)) self = ClipObject(clip);
    else return;
    Value handler = GetOf(self, name, self);
    if (!std::holds_alternative<ObjRef>(handler)) return;
    depth_ = 0;
    current_callee_ = nullptr;
    stack_top_ = static_cast<const char*>(__builtin_frame_address(0));
    try {
        Call(handler, self, {});
    } catch (const ThrowSignal& t) {
        ReportUncaught(t.value);
    } catch (const AbortSignal&) {
    }
}

// The debugging player's line for an exception no script caught, in the trace output.
void Interpreter::ReportUncaught(const Value& v) {
    if (!env_) return;
    std::string text;
    try {
        text = ToString(v);
    } catch (const ThrowSignal& inner) {
        text = std::holds_alternative<std::string>(inner.value) ? std::get<std::string>(inner.value) : std::string();
    } catch (const AbortSignal&) {
    }
    env_->Trace("Warning: Uncaught exception, " + text);
}

Value Interpreter::CallScript(const ObjRef& fn, const Value& self, std::vector<Value>& args) {
    const FunctionCode& code = *fn->code;
    Frame f;
    f.keep = code.bytes;
    f.code = std::span<const uint8_t>(*code.bytes);
    f.scope = code.scope;
    ObjRef activation = NewObject();
    activation->proto = nullptr;
    f.scope.push_back(activation);
    f.activation = activation;
    f.this_value = self;
    f.pool = code.pool;
    f.callee = fn;
    f.target = f.base = code.target_clip;
    // Up to version 5 a function acts on the clip it is called on, not where it was defined.
    if (auto* o = std::get_if<ObjRef>(&self); version_ <= 5 && o && *o && (*o)->kind == Kind::Clip && ClipOf(*o))
        f.target = f.base = (*o)->clip_id;
    std::vector<Value> stack;
    f.stack = &stack;
    // The caller's values still count while this function runs.
    struct Held {
        Interpreter& in;
        size_t outer;
        const std::vector<Value>* running;
        ~Held() { in.outer_stack_values_ = outer, in.running_stack_ = running; }
    } held{*this, outer_stack_values_, running_stack_};
    if (running_stack_) outer_stack_values_ += running_stack_->size();
    running_stack_ = &stack;
    ObjRef arguments = NewArray(args);
    Define(arguments, "callee", fn, kDontEnum);
    Define(arguments, "caller", current_callee_ ? Value(current_callee_) : Value(Null{}), kDontEnum);
    struct Restore {
        ObjRef& slot;
        ObjRef saved;
        ~Restore() { slot = saved; }
    } restore{current_callee_, current_callee_};
    current_callee_ = fn;
    auto super_object = [&]() {
        auto s = NewObject();
        s->kind = Kind::Super;
        s->super_this = self;
        Value home = Get(Value(fn), "__home__");
        if (auto* h = std::get_if<ObjRef>(&home)) s->super_home = (*h)->proto;
        else if (auto* o = std::get_if<ObjRef>(&self); o && *o && (*o)->proto) s->super_home = (*o)->proto->proto;
        s->proto = s->super_home;
        return s;
    };
    if (code.v2) {
        f.regs.resize(std::max<size_t>(code.register_count, 1));
        size_t r = 1;
        auto preload = [&](Value v) {
            if (r < f.regs.size()) f.regs[r] = std::move(v);
            ++r;
        };
        uint16_t fl = code.flags;
        // A preloaded value lives in its register only.
        // Suppressing `this` or `super` wins over preloading them, though their
        // register stays taken; `arguments` is preloaded either way.
        if (fl & 0x01) preload(fl & 0x02 ? Value(Undefined{}) : self);
        else if (!(fl & 0x02)) Define(activation, "this", self, kDontEnum);
        if (fl & 0x04) preload(arguments);
        else if (!(fl & 0x08)) Define(activation, "arguments", arguments, kDontEnum);
        if (fl & 0x10) preload(fl & 0x20 ? Value(Undefined{}) : Value(super_object()));
        else if (!(fl & 0x20)) Define(activation, "super", super_object(), kDontEnum);
        if (fl & 0x40) preload(ClipObject(RootOf(FindClip(code.target_clip))));
        if (fl & 0x80) {
            // A timeline without a parent takes no register: the next preload moves up.
            DisplayObject* t = FindClip(code.target_clip);
            if (t && t->parent) preload(ClipObject(*t->parent));
        }
        if (fl & 0x100) preload(global_);
        for (size_t i = 0; i < code.params.size(); ++i) {
            Value v = i < args.size() ? args[i] : Value(Undefined{});
            uint8_t reg = i < code.param_registers.size() ? code.param_registers[i] : 0;
            if (reg != 0) {
                if (reg < f.regs.size()) f.regs[reg] = v;
            } else {
                Define(activation, code.params[i], v, 0);
            }
        }
    } else {
        f.regs.resize(4);
        Define(activation, "this", self, kDontEnum);
        Define(activation, "arguments", arguments, kDontEnum);
        Define(activation, "super", super_object(), kDontEnum);
        for (size_t i = 0; i < code.params.size(); ++i)
            Define(activation, code.params[i], i < args.size() ? args[i] : Value(Undefined{}), 0);
    }
    bool returned = false;
    Value result;
    // A function body is version 5 code even in a version 4 movie.
    struct Version {
        uint8_t& v;
        uint8_t saved;
        ~Version() { v = saved; }
    } version{version_, version_};
    if (version_ < 5) version_ = 5;
    RunCode(f, 0, f.code.size(), returned, result);
    return returned ? result : Value(Undefined{});
}

// How many scope entries lie up to the list's own activation: the objects of
// with() above it never count as the timeline's.
static size_t BelowWith(const Frame& f) {
    for (size_t i = f.scope.size(); i-- > 0;)
        if (f.scope[i] == f.activation) return i + 1;
    return f.scope.size();
}

// Under tellTarget the target timeline stands where the list's own is.
static ObjRef ScopeEntry(Interpreter& in, Frame& f, size_t i) {
    const ObjRef& o = f.scope[i];
    if (o->kind == Kind::Clip && o->clip_id == f.base) {
        DisplayObject* t = in.ActingClip(f.target, f.base);
        if (t && t->instance_id != f.base) return in.ClipObject(*t);
    }
    return o;
}

Value Interpreter::LookupScope(Frame& f, const std::string& name, bool& found) {
    found = true;
    for (size_t i = f.scope.size(); i-- > 0;) {
        ObjRef o = ScopeEntry(*this, f, i);
        if (HasProperty(o, name)) return GetOf(o, name, o);
    }
    found = false;
    return Undefined{};
}

Value Interpreter::GetVariable(Frame& f, const std::string& name) {
    // Paths: "a/b:c", "/a/b", "_root.a.b".
    size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        DisplayObject* t = ResolveClip(f.target, name.substr(0, colon));
        if (!t) return Undefined{};
        return GetOf(ClipObject(*t), name.substr(colon + 1), ClipObject(*t));
    }
    if (name.find('/') != std::string::npos) {
        DisplayObject* t = ResolveClip(f.target, name);
        return t && version_ >= 5 ? Value(ClipObject(*t)) : Value(Undefined{});
    }
    if (KeyEq(name, "this")) {
        // A function's own `this`, else (suppressed) the timeline's; the objects of
        // with() above the activation are never `this`.
        const size_t top = BelowWith(f);
        for (size_t i = top; i-- > 1;) {
            const ObjRef& o = f.scope[i];
            // A timeline's script may assign `this` as a variable of its own.
            if (o->kind == Kind::Clip) {
                if (Property* p = FindOwn(o, "this"); p && !p->getter) return p->value;
                return o;
            }
            if (Property* p = FindOwn(o, "this"); p && o == f.activation) return p->value;
        }
        return f.this_value;
    }
    if (KeyEq(name, "_global") || KeyEq(name, "_root") || KeyEq(name, "_parent")) {
        // A variable of that name set on a scope object hides the built-in one.
        for (size_t i = f.scope.size(); i-- > 0;) {
            ObjRef o = ScopeEntry(*this, f, i);
            if (Property* p = FindOwn(o, name); p && !Hidden(*p)) return p->getter ? Call(p->getter, o, {}) : p->value;
        }
    }
    if (KeyEq(name, "_global") && version_ >= 6) return global_;
    if (KeyEq(name, "_root")) return ClipObject(RootOf(FindClip(f.target)));
    if (name.size() > 6 && KeyEq(name.substr(0, 6), "_level")) {
        DisplayObject* level = LevelNamed(name);
        return level ? Value(ClipObject(*level)) : Value(Undefined{});
    }
    if (KeyEq(name, "_parent")) {
        // A timeline without a parent has none, whatever its prototypes say.
        if (DisplayObject* t = FindClip(f.target)) return t->parent ? Value(ClipObject(*t->parent)) : Value(Undefined{});
    }
    bool found;
    Value v = LookupScope(f, name, found);
    if (found) return v;
    if (name.find('.') != std::string::npos && version_ >= 5) {
        // Each scope, innermost first, is tried with the whole path; the first
        // that gives something other than undefined answers.
        size_t first = name.find('.');
        std::string head = name.substr(0, first);
        auto walk = [&](Value cur) {
            for (size_t start = first + 1; start <= name.size();) {
                if (std::holds_alternative<Undefined>(cur) || std::holds_alternative<Null>(cur)) return Value(Undefined{});
                size_t dot = name.find('.', start);
                cur = MemberOf(cur, name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
                if (dot == std::string::npos) break;
                start = dot + 1;
            }
            return cur;
        };
        bool in_scope = false;
        for (size_t i = f.scope.size(); i-- > 0;) {
            ObjRef o = ScopeEntry(*this, f, i);
            if (!HasProperty(o, head)) continue;
            in_scope = true;
            Value r = walk(GetOf(o, head, o));
            if (!std::holds_alternative<Undefined>(r)) return r;
        }
        // Names the scopes do not hold: this, _root, _levelN, slash paths.
        if (!in_scope) return walk(GetVariable(f, head));
    }
    return Undefined{};
}

Value Interpreter::MemberOf(const Value& cur, const std::string& part) {
    if (KeyEq(part, "_parent")) {
        if (auto* o = std::get_if<ObjRef>(&cur)) {
            DisplayObject* c = *o ? ClipOf(*o) : nullptr;
            if (c) return c->parent ? Value(ClipObject(*c->parent)) : Value(Undefined{});
        }
    }
    return Get(cur, part);
}

// "a.b.c": the object holding the last name. Each scope, innermost first, is
// tried with the whole path: one where `a` exists but `a.b` is no object
// leaves the path to the scopes further out.
bool Interpreter::DottedOwner(Frame& f, const std::string& name, Value& owner) {
    size_t first = name.find('.');
    size_t last = name.rfind('.');
    std::string head = name.substr(0, first);
    std::optional<Value> fallback;
    auto walk = [&](Value cur) {
        size_t start = first + 1;
        while (start <= last) {
            if (!std::holds_alternative<ObjRef>(cur)) return false;
            size_t dot = name.find('.', start);
            cur = MemberOf(cur, name.substr(start, dot - start));
            start = dot + 1;
        }
        bool object = std::holds_alternative<ObjRef>(cur);
        // A primitive owner (a string's length) serves only when no scope gives an object.
        if (object || !fallback) fallback = cur;
        if (!object) return false;
        owner = std::move(cur);
        return true;
    };
    bool found = false;
    for (size_t i = f.scope.size(); i-- > 0;) {
        ObjRef o = ScopeEntry(*this, f, i);
        if (!HasProperty(o, head)) continue;
        found = true;
        if (walk(GetOf(o, head, o))) return true;
    }
    // Names the scopes do not hold: this, _root, _levelN, slash paths.
    if (!found && walk(GetVariable(f, head))) return true;
    if (!fallback || std::holds_alternative<Undefined>(*fallback) || std::holds_alternative<Null>(*fallback))
        return false;
    owner = *fallback;
    return true;
}

void Interpreter::SetVariable(Frame& f, const std::string& name, const Value& v) {
    size_t colon = name.rfind(':');
    if (colon == std::string::npos && version_ >= 5) {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && name.find('/') == std::string::npos) {
            Value owner;
            if (DottedOwner(f, name, owner)) Set(owner, name.substr(dot + 1), v);
            return;
        }
    }
    if (colon != std::string::npos || name.find('/') != std::string::npos) {
        std::string path = colon != std::string::npos ? name.substr(0, colon) : std::string();
        std::string var = colon != std::string::npos ? name.substr(colon + 1) : name;
        if (colon == std::string::npos) {
            size_t slash = name.rfind('/');
            path = name.substr(0, slash);
            if (path.empty()) path = "/";
            var = name.substr(slash + 1);
        }
        DisplayObject* t = ResolveClip(f.target, path);
        if (t) SetOf(ClipObject(*t), var, v, ClipObject(*t));
        return;
    }
    for (size_t i = f.scope.size(); i-- > 1;) {
        ObjRef o = ScopeEntry(*this, f, i);
        if (FindOwn(o, name) || (o->kind == Kind::Clip && HasProperty(o, name) && name[0] == '_')) {
            SetOf(o, name, v, o);
            return;
        }
    }
    // New variables land on the innermost timeline of the chain; objects of
    // with() above the list's own scope never take them.
    const size_t top = BelowWith(f);
    for (size_t i = top; i-- > 1;) {
        ObjRef o = ScopeEntry(*this, f, i);
        if (o->kind == Kind::Clip) {
            SetOf(o, name, v, o);
            return;
        }
    }
    if (ObjRef t = TargetObject(f)) SetOf(t, name, v, t);
}

// The numeric And and Or: objects count as true, anything else by its number.
static bool LegacyTruth(const Value& v, double n) {
    if (std::holds_alternative<ObjRef>(v)) return true;
    return n != 0 && !std::isnan(n);
}

void Interpreter::RunCode(Frame& f, size_t begin, size_t end, bool& returned, Value& result) {
    std::vector<Value>& stack = *f.stack;
    running_stack_ = &stack;
    struct Running {
        const Frame*& slot;
        const Frame* outer;
        ~Running() { slot = outer; }
    } running{running_frame_, running_frame_};
    running_frame_ = &f;
    auto pop = [&]() -> Value {
        if (stack.size() <= f.stack_base) return Undefined{};
        Value v = std::move(stack.back());
        stack.pop_back();
        return v;
    };
    auto push = [&](Value v) { stack.push_back(std::move(v)); };
    // A count from the stack may be any number: NaN or less counts nothing, and none is
    // above 65535, so no conversion of a huge one to an integer is undefined.
    auto count_of = [](double d) -> size_t { return d > 0 ? size_t(std::min(d, 65535.0)) : 0; };
    auto pop_args = [&](size_t n) {
        std::vector<Value> args;
        n = std::min<size_t>(n, 65535);
        for (size_t i = 0; i < n; ++i) args.push_back(pop());
        return args;
    };
    // Comparisons give booleans in every version; version 4 writes them as 1 and 0.
    auto boolean = [&](bool b) -> Value { return b; };
    auto target_clip = [&]() { return ActingClip(f.target, f.base); };
    auto split_target = [&](std::string& frame) -> DisplayObject* {
        size_t colon = frame.rfind(':');
        if (colon == std::string::npos) return target_clip();
        DisplayObject* t = ResolveClip(f.target, frame.substr(0, colon));
        frame.erase(0, colon + 1);
        return t;
    };
    auto clip_from_value = [&](const Value& v) -> DisplayObject* {
        if (auto* o = std::get_if<ObjRef>(&v)) return ClipOf(*o);
        std::string path = ToString(v);
        if (path.empty()) return target_clip();
        return ResolveClip(f.target, path);
    };

    size_t pos = begin;
    size_t skip = 0;
    while (pos < end) {
        auto record = swf::DecodeAction(f.code.subspan(0, end), pos);
        if (!record) return;
        Step();
        pos += record->size;
        if (skip > 0) {
            --skip;
            continue;
        }
        const auto& p = record->payload;
        auto u16 = [&](size_t at) { return at + 1 < p.size() ? uint16_t(p[at] | (p[at + 1] << 8)) : uint16_t(0); };
        auto payload_string = [&](size_t& at) {
            // A payload shorter than its fixed fields (a Try of three bytes) leaves `at` past its end.
            const size_t start = std::min(at, p.size());
            size_t e = start;
            while (e < p.size() && p[e] != 0) ++e;
            std::string s = swf::TextToUtf8(p.subspan(start, e - start), version_);
            at = std::min(e + 1, p.size());
            return s;
        };
        uint8_t code = record->code;
        switch (code) {
        case 0x00: return;
        case 0x04: if (auto* t = target_clip()) env_->NextFrame(*t); break;
        case 0x05: if (auto* t = target_clip()) env_->PrevFrame(*t); break;
        case 0x06: if (auto* t = target_clip()) env_->Play(*t); break;
        case 0x07: if (auto* t = target_clip()) env_->Stop(*t); break;
        case 0x09: env_->StopSounds(nullptr, 0); break;
        case 0x08: case 0x89: case 0x28: break;
        case 0x81: if (auto* t = target_clip()) env_->GotoFrame(*t, u16(0), false); break;
        case 0x83: {
            size_t at = 0;
            std::string url = payload_string(at);
            std::string window = payload_string(at);
            if (int32_t level = LevelNumber(window); level >= 0) LoadMovieNumAction(*this, level, url);
            else env_->GetUrl(url, window);
            break;
        }
        case 0x88: {
            auto pool = std::make_shared<std::vector<std::string>>();
            size_t at = 2;
            for (uint16_t i = 0, n = u16(0); i < n && at < p.size(); ++i) pool->push_back(payload_string(at));
            f.pool = pool;
            break;
        }
        case 0x8A: {
            // A movie here is always loaded whole, and the original then counts every frame up to
            // its frame limit as loaded, whether the timeline has it or not.
            DisplayObject* t = target_clip();
            bool loaded = t && t->sprite && t->sprite->timeline && u16(0) <= kLastLoadedFrame;
            if (!loaded && p.size() >= 3) skip = p[2];
            break;
        }
        case 0x8D: {
            // Frame numbers count from 1 and wrap as 32-bit integers; whatever names no frame (a
            // fraction, an unknown label, NaN) passes, as in the original with a whole movie.
            Value frame = pop();
            DisplayObject* t = target_clip();
            std::optional<double> number;
            if (auto* n = std::get_if<double>(&frame)) {
                number = *n;
            } else {
                std::string text = ToString(frame);
                t = split_target(text);
                if (IsNumericText(text)) number = ToNumber(Value(text));
            }
            bool loaded = t && t->sprite && t->sprite->timeline;
            if (loaded && number && std::isfinite(*number) && std::trunc(*number) == *number) {
                const auto index = int32_t(uint32_t(ToInt32(Value(*number))) - 1u);
                loaded = index <= int32_t(kLastLoadedFrame);
            }
            if (!loaded && !p.empty()) skip = p[0];
            break;
        }
        case 0x8B: {
            size_t at = 0;
            std::string path = payload_string(at);
            if (path.empty()) f.target = f.base;
            else {
                // An unknown target leaves the main timeline in charge.
                DisplayObject* t = ResolveClip(f.target, path);
                f.target = t ? t->instance_id : env_->Root().instance_id;
            }
            break;
        }
        case 0x20: {
            Value v = pop();
            DisplayObject* t = nullptr;
            auto* o = std::get_if<ObjRef>(&v);
            if (o && (*o)->kind == Kind::Clip) t = ClipOf(*o);
            else {
                std::string path = ToString(v);
                if (path.empty()) t = FindClip(f.base);
                else t = ResolveClip(f.target, path);
                // An unknown target leaves the main timeline in charge.
                if (!t) t = &env_->Root();
            }
            f.target = t ? t->instance_id : 0;
            break;
        }
        case 0x8C: {
            size_t at = 0;
            std::string label = payload_string(at);
            // An unknown label moves nothing; older movies' timelines stop
            // there, newer ones play on.
            if (auto* t = target_clip(); t && !env_->GotoLabel(*t, label, false) && version_ < 9) env_->Stop(*t);
            break;
        }
        case 0x96: {
            size_t at = 0;
            while (at < p.size()) {
                uint8_t type = p[at++];
                auto need = [&](size_t n) { return at + n <= p.size(); };
                auto u32 = [&](size_t a) {
                    return uint32_t(p[a] | (p[a + 1] << 8) | (p[a + 2] << 16) | (uint32_t(p[a + 3]) << 24));
                };
                switch (type) {
                case 0: push(payload_string(at)); break;
                case 1:
                    if (!need(4)) return;
                    push(double(std::bit_cast<float>(u32(at))));
                    at += 4;
                    break;
                case 2: push(Null{}); break;
                case 3: push(Undefined{}); break;
                case 4:
                    if (!need(1)) return;
                    push(p[at] < f.regs.size() ? f.regs[p[at]] : Value(Undefined{}));
                    at += 1;
                    break;
                case 5:
                    if (!need(1)) return;
                    push(p[at] != 0);
                    at += 1;
                    break;
                case 6: {
                    if (!need(8)) return;
                    uint64_t hi = u32(at), lo = u32(at + 4);
                    push(std::bit_cast<double>((hi << 32) | lo));
                    at += 8;
                    break;
                }
                case 7:
                    if (!need(4)) return;
                    push(double(int32_t(u32(at))));
                    at += 4;
                    break;
                case 8:
                case 9: {
                    size_t width = type == 8 ? 1 : 2;
                    if (!need(width)) return;
                    size_t index = type == 8 ? p[at] : u16(at);
                    at += width;
                    push(f.pool && index < f.pool->size() ? Value((*f.pool)[index]) : Value(Undefined{}));
                    break;
                }
                default: at = p.size(); break;
                }
            }
            break;
        }
        case 0x17: pop(); break;
        case 0x0A: case 0x0B: case 0x0C: case 0x0D: {
            // Which operand is converted first shows when both have valueOf: add and
            // multiply take the lower one first, subtract and divide the top one.
            Value av = pop(), bv = pop();
            double a = 0, b = 0;
            if (code == 0x0A || code == 0x0C) b = ToNumber(bv), a = ToNumber(av);
            else a = ToNumber(av), b = ToNumber(bv);
            if (code == 0x0A) push(b + a);
            else if (code == 0x0B) push(b - a);
            else if (code == 0x0C) push(b * a);
            else if (a == 0 && version_ < 5) push(std::string("#ERROR#"));
            else push(b / a);
            break;
        }
        case 0x0E: { Value av = pop(), bv = pop(); double a = ToNumber(av), b = ToNumber(bv); push(boolean(b == a)); break; }
        case 0x0F: { Value av = pop(); double b = ToNumber(pop()), a = ToNumber(av); push(boolean(b < a)); break; }
        case 0x10: { Value av = pop(), bv = pop(); double b = ToNumber(bv), a = ToNumber(av); push(boolean(LegacyTruth(av, a) && LegacyTruth(bv, b))); break; }
        case 0x11: { Value av = pop(), bv = pop(); double b = ToNumber(bv), a = ToNumber(av); push(boolean(LegacyTruth(av, a) || LegacyTruth(bv, b))); break; }
        case 0x12: {
            Value a = pop();
            if (version_ < 5) push(!LegacyTruth(a, ToNumber(a)));
            else push(!ToBoolean(a));
            break;
        }
        // The string comparisons convert the top operand first.
        case 0x13: { Value av = pop(), bv = pop(); std::string a = ToString(av), b = ToString(bv); push(boolean(a == b)); break; }
        case 0x29: { Value av = pop(), bv = pop(); std::string a = ToString(av), b = ToString(bv); push(boolean(b < a)); break; }
        case 0x68: { Value av = pop(), bv = pop(); std::string a = ToString(av), b = ToString(bv); push(boolean(b > a)); break; }
        case 0x14: push(double(ToString(pop()).size())); break;
        case 0x31: {
            std::string s = ToString(pop());
            double n = 0;
            for (unsigned char c : s) if ((c & 0xC0) != 0x80) ++n;
            push(n);
            break;
        }
        case 0x15: case 0x35: {
            double count = ToNumber(pop()), index = ToNumber(pop());
            std::string s = ToString(pop());
            // Byte positions; multibyte variants count characters.
            std::vector<size_t> starts;
            for (size_t i = 0; i < s.size(); ++i)
                if (code == 0x15 || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
            starts.push_back(s.size());
            double n = double(starts.size() - 1);
            if (std::isnan(index) || index < 1) index = 1;
            if (std::isnan(count) || count < 0 || index - 1 + count > n) count = n - (index - 1);
            if (index - 1 >= n || count <= 0) { push(std::string()); break; }
            size_t from = starts[size_t(index - 1)], to = starts[size_t(index - 1 + count)];
            push(s.substr(from, to - from));
            break;
        }
        case 0x18: {
            double d = ToNumber(pop());
            push(double(ToInt32(d)));
            break;
        }
        case 0x1C: {
            std::string name = ToString(pop());
            push(GetVariable(f, name));
            break;
        }
        case 0x1D: {
            Value v = pop();
            std::string name = ToString(pop());
            SetVariable(f, name, v);
            break;
        }
        case 0x21: {
            Value av = pop();
            std::string b = ToString(pop()), a = ToString(av);
            CheckTextSize(b.size() + a.size());
            push(b + a);
            break;
        }
        case 0x22: {
            // Checked as a double: NaN or a huge index has no int.
            double index = ToNumber(pop());
            DisplayObject* t = clip_from_value(pop());
            Value v;
            // The index is truncated toward zero: -0.8 names _x.
            if (t && index > -1 && index < 22 && GetClipProperty(*t, kPropertyNames[int(index)], v)) push(v);
            else push(Undefined{});
            break;
        }
        case 0x23: {
            Value v = pop();
            double index = ToNumber(pop());
            DisplayObject* t = clip_from_value(pop());
            if (t && index > -1 && index < 22) SetClipProperty(*t, kPropertyNames[int(index)], v);
            break;
        }
        case 0x24: {
            double depth = ToNumber(pop());
            std::string name = ToString(pop());
            DisplayObject* source = clip_from_value(pop());
            // The depth comes as the display list has it (scripts' depths plus 16384).
            if (source && std::isfinite(depth)) Duplicate(*source, name, int32_t(std::clamp(depth, -2e9, 2e9)));
            break;
        }
        case 0x25: {
            DisplayObject* t = clip_from_value(pop());
            if (t && t->placed_by_script) {
                LoseFocusWithin(*t);
                env_->RemoveClip(*t);
            }
            break;
        }
        case 0x26: {
            Value v = pop();
            env_->Trace(std::holds_alternative<Undefined>(v) ? "undefined" : ToString(v));
            break;
        }
        case 0x27: {
            pop();
            pop();
            if (ToBoolean(pop())) for (int i = 0; i < 4; ++i) pop();
            break;
        }
        case 0x30: {
            double max = ToNumber(pop());
            push(max >= 1 && std::isfinite(max) ? std::floor(Random() * std::floor(max)) : 0.0);
            break;
        }
        case 0x32: case 0x36: {
            std::string s = ToString(pop());
            if (s.empty()) { push(0.0); break; }
            uint32_t c = static_cast<unsigned char>(s[0]);
            if (code == 0x36 && c >= 0xC0) {
                int n = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
                c &= (0x3F >> n);
                for (int i = 1; i <= n && size_t(i) < s.size(); ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
            }
            push(double(c));
            break;
        }
        case 0x33: case 0x37: {
            uint32_t c = uint32_t(ToInt32(pop()));
            std::string s;
            // Codes 128 to 255 are Latin-1, which is also their Unicode code point.
            if (c < 0x80) s.push_back(char(c));
            else if (c < 0x800) { s.push_back(char(0xC0 | (c >> 6))); s.push_back(char(0x80 | (c & 0x3F))); }
            else if (c < 0x10000) { s.push_back(char(0xE0 | (c >> 12))); s.push_back(char(0x80 | ((c >> 6) & 0x3F))); s.push_back(char(0x80 | (c & 0x3F))); }
            push(s);
            break;
        }
        case 0x34: push(std::floor(TimerMs())); break;
        case 0x3A: {
            std::string name = ToString(pop());
            Value obj = pop();
            auto* o = std::get_if<ObjRef>(&obj);
            push(o && *o ? Delete(*o, name) : false);
            break;
        }
        case 0x3B: {
            std::string name = ToString(pop());
            bool done = false;
            // "o.a" and "path:a" name a member of what the prefix names.
            size_t split = name.find_last_of(version_ >= 5 ? ".:" : ":");
            if (split != std::string::npos && split > 0) {
                Value owner = name[split] == ':' ? [&]() -> Value {
                    DisplayObject* t = ResolveClip(f.target, name.substr(0, split));
                    return t ? Value(ClipObject(*t)) : Value(Undefined{});
                }()
                                                 : GetVariable(f, name.substr(0, split));
                auto* o = std::get_if<ObjRef>(&owner);
                push(o && *o ? Delete(*o, name.substr(split + 1)) : false);
                break;
            }
            for (size_t i = f.scope.size(); i-- > 0;)
                if (FindOwn(f.scope[i], name)) { done = Delete(f.scope[i], name); break; }
            push(done);
            break;
        }
        case 0x3C: case 0x41: {
            Value v = code == 0x3C ? pop() : Value(Undefined{});
            std::string name = ToString(pop());
            if (!f.activation) break;
            // A timeline's local lands where its variables are read: on the tellTarget
            // clip while one is set.
            ObjRef home = f.activation;
            if (home->kind == Kind::Clip && f.target != f.base && home->clip_id == f.base)
                if (DisplayObject* t = FindClip(f.target)) home = ClipObject(*t);
            // A timeline's `var` naming a path sets the variable it names; a function's
            // keeps the name as it stands.
            const bool path = name.find(':') != std::string::npos || name.find('/') != std::string::npos ||
                              (version_ >= 5 && name.find('.') != std::string::npos);
            if (home->kind == Kind::Clip && path) {
                if (code == 0x3C || std::holds_alternative<Undefined>(GetVariable(f, name))) SetVariable(f, name, v);
                break;
            }
            if (code == 0x41 && HasProperty(home, name)) break;
            // Inside with(), an object of the with that holds the name itself takes the value.
            bool in_with = false;
            for (size_t i = f.scope.size(); i-- > 0 && f.scope[i] != f.activation;) {
                if (FindOwn(f.scope[i], name)) {
                    if (code == 0x3C) SetOf(f.scope[i], name, v, f.scope[i]);
                    in_with = true;
                    break;
                }
            }
            if (in_with) break;
            if (home->kind == Kind::Clip) SetOf(home, name, v, home);
            else Define(home, name, v, 0);
            break;
        }
        case 0x3D: {
            std::string name = ToString(pop());
            auto args = pop_args(count_of(ToNumber(pop())));
            Value fn = GetVariable(f, name);
            // A function found on an object of with() runs with that object as `this`.
            Value self = f.this_value;
            for (size_t i = f.scope.size(); i-- > 0 && f.scope[i] != f.activation;)
                if (HasProperty(f.scope[i], name)) {
                    self = f.scope[i];
                    break;
                }
            // A path ("a.b.f", "a/b:f", "/a/b.f") calls the function on the object it ends on.
            size_t member = name.find_last_of(".:");
            if (member != std::string::npos && member > 0 && member + 1 < name.size() &&
                (name.rfind('/') == std::string::npos || name.rfind('/') < member)) {
                std::string owner_path = name.substr(0, member);
                Value owner;
                if (owner_path.find('/') != std::string::npos || name[member] == ':') {
                    if (DisplayObject* t = ResolveClip(f.target, owner_path)) owner = ClipObject(*t);
                } else {
                    owner = GetVariable(f, owner_path);
                }
                if (std::holds_alternative<ObjRef>(owner)) {
                    self = owner;
                    fn = Get(owner, name.substr(member + 1));
                }
            }
            push(Call(fn, self, std::move(args)));
            if (ClipGone(f.base)) return;
            break;
        }
        case 0x3E: {
            result = pop();
            returned = true;
            return;
        }
        case 0x3F: {
            Value av = pop(); double b = ToNumber(pop()), a = ToNumber(av);
            push(a == 0 ? NAN : std::fmod(b, a));
            break;
        }
        case 0x40: {
            std::string name = ToString(pop());
            auto args = pop_args(count_of(ToNumber(pop())));
            Value ctor = GetVariable(f, name);
            push(Construct(ctor, std::move(args)));
            if (ClipGone(f.base)) return;
            break;
        }
        case 0x42: {
            // A count beyond what the stack holds makes nothing and takes nothing.
            double count = ToNumber(pop());
            if (count > double(stack.size() - std::min(stack.size(), f.stack_base))) {
                push(Undefined{});
                break;
            }
            auto args = pop_args(count_of(count));
            push(NewArray(std::move(args)));
            break;
        }
        case 0x43: {
            double count = ToNumber(pop());
            if (count * 2 > double(stack.size() - std::min(stack.size(), f.stack_base))) {
                push(Undefined{});
                break;
            }
            size_t n = count_of(count);
            ObjRef o = NewObject();
            for (size_t i = 0; i < n && i < 65535; ++i) {
                Value v = pop();
                std::string name = ToString(pop());
                SetOf(o, name, v, o);
            }
            push(o);
            break;
        }
        case 0x44: {
            Value v = pop();
            const char* t = "undefined";
            if (std::holds_alternative<Null>(v)) t = "null";
            else if (std::holds_alternative<bool>(v)) t = "boolean";
            else if (std::holds_alternative<double>(v)) t = "number";
            else if (std::holds_alternative<std::string>(v)) t = "string";
            else if (auto* o = std::get_if<ObjRef>(&v)) {
                t = "object";
                if ((*o)->kind == Kind::Function) t = "function";
                if (DisplayObject* c = ClipOf(*o); c && c->sprite) t = "movieclip";
            }
            push(std::string(t));
            break;
        }
        case 0x45: {
            Value v = pop();
            DisplayObject* c = nullptr;
            if (auto* o = std::get_if<ObjRef>(&v)) c = ClipOf(*o);
            push(c ? Value(TargetPath(*c)) : Value(Undefined{}));
            break;
        }
        case 0x46: case 0x55: {
            Value v = pop();
            if (code == 0x46) v = GetVariable(f, ToString(v));
            // The end marker is undefined (loops test it with == null).
            push(Undefined{});
            // The loop pops names, so the newest is pushed last.
            if (auto* o = std::get_if<ObjRef>(&v)) {
                auto keys = Keys(*o);
                for (auto it = keys.rbegin(); it != keys.rend(); ++it) push(*it);
            }
            break;
        }
        case 0x47: {
            // The top operand is converted first.
            Value av = pop(), bv = pop();
            Value a = ToPrimitive(av), b = ToPrimitive(bv);
            // An operand whose valueOf gave an object is converted again from itself.
            if (std::holds_alternative<ObjRef>(a)) a = av;
            if (std::holds_alternative<ObjRef>(b)) b = bv;
            if (std::holds_alternative<std::string>(a) || std::holds_alternative<std::string>(b)) {
                std::string tb = ToString(b);
                std::string ta = ToString(a);
                CheckTextSize(tb.size() + ta.size());
                push(tb + ta);
            } else {
                double nb = ToNumber(b);
                push(nb + ToNumber(a));
            }
            break;
        }
        case 0x48: case 0x67: {
            // b < a; NaN on either side gives undefined, an object that stays one (a
            // clip aside, which reads as NaN) is never less nor greater, and the
            // operand after it is not converted.
            auto stays_object = [this](const Value& v) {
                auto* o = std::get_if<ObjRef>(&v);
                return version_ >= 5 && o && (*o)->kind != Kind::Clip;
            };
            Value av = pop();
            Value b = ToPrimitive(pop());
            if (stays_object(b)) {
                push(false);
                break;
            }
            Value a = ToPrimitive(av);
            if (code == 0x67) std::swap(a, b);
            if (stays_object(a) || stays_object(b)) {
                push(false);
            } else if (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b)) {
                push(boolean(Utf16Less(std::get<std::string>(b), std::get<std::string>(a))));
            } else {
                double x = ToNumber(b), y = ToNumber(a);
                if (std::isnan(x) || std::isnan(y)) push(version_ >= 5 ? Value(Undefined{}) : Value(0.0));
                else push(boolean(x < y));
            }
            break;
        }
        case 0x49: {
            Value a = pop(), b = pop();
            std::function<bool(const Value&, const Value&)> eq = [&](const Value& x, const Value& y) -> bool {
                bool xu = std::holds_alternative<Undefined>(x) || std::holds_alternative<Null>(x);
                bool yu = std::holds_alternative<Undefined>(y) || std::holds_alternative<Null>(y);
                // An object beside undefined or null is first made primitive: one
                // without valueOf is undefined.
                if (xu != yu && std::holds_alternative<ObjRef>(xu ? y : x)) {
                    Value p = ToPrimitive(xu ? y : x);
                    return !std::holds_alternative<ObjRef>(p) && eq(xu ? x : p, xu ? p : y);
                }
                if (xu || yu) return xu && yu;
                if (x.index() == y.index()) {
                    if (auto* d = std::get_if<double>(&x))
                        return *d == std::get<double>(y) || (std::isnan(*d) && std::isnan(std::get<double>(y)));
                    if (auto* o = std::get_if<ObjRef>(&x)) {
                        const ObjRef& q = std::get<ObjRef>(y);
                        if ((*o)->kind == Kind::Clip && q->kind == Kind::Clip) return (*o)->clip_id == q->clip_id;
                        if (*o == q) return true;
                        // Version 5 compares two objects by their values.
                        if (version_ <= 5 && (*o)->kind != Kind::Clip && q->kind != Kind::Clip) {
                            Value px = ToPrimitive(x), py = ToPrimitive(y);
                            if (!std::holds_alternative<ObjRef>(px) && !std::holds_alternative<ObjRef>(py)) return eq(px, py);
                        }
                        return false;
                    }
                    return x == y;
                }
                if (std::holds_alternative<ObjRef>(x) && std::holds_alternative<ObjRef>(y)) return false;
                if (std::holds_alternative<ObjRef>(x)) {
                    Value px = ToPrimitive(x);
                    if (std::holds_alternative<ObjRef>(px)) return false;
                    return eq(px, y);
                }
                if (std::holds_alternative<ObjRef>(y)) {
                    Value py = ToPrimitive(y);
                    if (std::holds_alternative<ObjRef>(py)) return false;
                    return eq(x, py);
                }
                return ToNumber(x) == ToNumber(y);
            };
            push(boolean(eq(b, a)));
            break;
        }
        case 0x66: {
            Value a = pop(), b = pop();
            bool same = a.index() == b.index();
            if (same) {
                if (auto* d = std::get_if<double>(&a))
                    same = *d == std::get<double>(b) || (std::isnan(*d) && std::isnan(std::get<double>(b)));
                else if (auto* o = std::get_if<ObjRef>(&a)) {
                    const ObjRef& q = std::get<ObjRef>(b);
                    same = (*o == q) || ((*o)->kind == Kind::Clip && q->kind == Kind::Clip && (*o)->clip_id == q->clip_id);
                } else same = a == b;
            }
            push(boolean(same));
            break;
        }
        case 0x4A: push(ToNumber(pop())); break;
        case 0x4B: push(ToString(pop())); break;
        case 0x4C: { Value v = pop(); push(v); push(v); break; }
        case 0x4D: { Value a = pop(), b = pop(); push(std::move(a)); push(std::move(b)); break; }
        case 0x4E: {
            std::string name = ToString(pop());
            Value obj = pop();
            if (auto* o = std::get_if<ObjRef>(&obj); o && (*o)->kind == Kind::Clip && KeyEq(name, "_parent")) {
                DisplayObject* c = ClipOf(*o);
                push(c && c->parent ? Value(ClipObject(*c->parent)) : Value(Undefined{}));
                break;
            }
            push(Get(obj, name));
            break;
        }
        case 0x4F: {
            Value v = pop();
            std::string name = ToString(pop());
            Value obj = pop();
            Set(obj, name, v);
            break;
        }
        case 0x50: push(ToNumber(pop()) + 1); break;
        case 0x51: push(ToNumber(pop()) - 1); break;
        case 0x52: case 0x53: {
            Value name_v = pop();
            Value obj = pop();
            auto args = pop_args(count_of(ToNumber(pop())));
            std::string name = std::holds_alternative<Undefined>(name_v) ? std::string() : ToString(name_v);
            Value self = obj;
            Value fn;
            if (auto* o = std::get_if<ObjRef>(&obj); o && (*o)->kind == Kind::Super) {
                self = (*o)->super_this;
                ObjRef home = (*o)->super_home;
                if (name.empty()) fn = home ? GetOf(home, "__constructor__", self) : Value(Undefined{});
                else fn = home ? GetOf(home, name, self) : Value(Undefined{});
                if (name.empty() && std::holds_alternative<Undefined>(fn) && home) fn = GetOf(home, "constructor", self);
            } else if (name.empty()) {
                fn = obj;
                self = Undefined{};
            } else {
                fn = Get(obj, name);
            }
            if (code == 0x53) push(Construct(fn, std::move(args)));
            else push(Call(fn, self, std::move(args)));
            // A call on nothing is given up before it starts and leaves the list running.
            bool on_nothing = std::holds_alternative<Undefined>(obj) || std::holds_alternative<Null>(obj);
            if (!on_nothing && ClipGone(f.base)) return;
            break;
        }
        case 0x54: {
            Value ctor = pop();
            Value obj = pop();
            auto* c = std::get_if<ObjRef>(&ctor);
            push(c && *c ? InstanceOf(obj, *c) : false);
            break;
        }
        case 0x60: { Value av = pop(); int32_t b = ToInt32(pop()), a = ToInt32(av); push(double(b & a)); break; }
        case 0x61: { Value av = pop(); int32_t b = ToInt32(pop()), a = ToInt32(av); push(double(b | a)); break; }
        case 0x62: { Value av = pop(); int32_t b = ToInt32(pop()), a = ToInt32(av); push(double(b ^ a)); break; }
        case 0x63: { Value av = pop(); int32_t b = ToInt32(pop()), a = ToInt32(av); push(double(int32_t(uint32_t(b) << (a & 31)))); break; }
        case 0x64: { Value av = pop(); int32_t b = ToInt32(pop()), a = ToInt32(av); push(double(b >> (a & 31))); break; }
        case 0x65: {
            Value av = pop();
            int32_t b = ToInt32(pop()), a = ToInt32(av);
            uint32_t r = uint32_t(b) >> (a & 31);
            // Version 8 movies read the result back as a signed 32-bit number.
            push(version_ == 8 ? double(int32_t(r)) : double(r));
            break;
        }
        case 0x69: {
            Value super_c = pop(), sub_c = pop();
            auto* sc = std::get_if<ObjRef>(&super_c);
            auto* sb = std::get_if<ObjRef>(&sub_c);
            if (!sc || !sb) break;
            ObjRef proto = NewObject();
            Value sp = GetOf(*sc, "prototype", *sc);
            if (auto* spo = std::get_if<ObjRef>(&sp)) proto->proto = *spo;
            Define(proto, "__constructor__", super_c, kDontEnum);
            // The new prototype keeps the attributes of the one it replaces.
            if (Property* p = FindOwn(*sb, "prototype"); p && !p->getter && !p->setter) p->value = proto;
            else Define(*sb, "prototype", proto, kDontEnum | kDontDelete);
            break;
        }
        case 0x2A: throw ThrowSignal{pop()};
        case 0x2B: {
            Value obj = pop();
            Value ctor = pop();
            auto* c = std::get_if<ObjRef>(&ctor);
            push(c && InstanceOf(obj, *c) ? obj : Value(Null{}));
            break;
        }
        case 0x2C: {
            Value ctor = pop();
            size_t n = count_of(ToNumber(pop()));
            auto ifaces = pop_args(n);
            if (auto* c = std::get_if<ObjRef>(&ctor)) {
                Value proto = GetOf(*c, "prototype", *c);
                if (auto* po = std::get_if<ObjRef>(&proto)) Define(*po, "__implements__", NewArray(ifaces), kDontEnum);
            }
            break;
        }
        case 0x87:
            if (!p.empty() && p[0] < f.regs.size()) f.regs[p[0]] = stack.size() > f.stack_base ? stack.back() : Value(Undefined{});
            break;
        case 0x9A: {
            Value window = pop();
            Value url = pop();
            // loadVariables and loadVariablesNum: the target is a clip path or a "_levelN".
            if (!p.empty() && (p[0] & 0x80)) {
                if (DisplayObject* into = ResolveClip(f.target, ToString(window)))
                    LoadVariablesInto(*this, *into, ToString(url));
                break;
            }
            // loadMovie and unloadMovie name a clip; loadMovieNum and unloadMovieNum a level.
            std::string where = ToString(window);
            if (!p.empty() && (p[0] & 0x40)) {
                if (DisplayObject* into = ResolveClip(f.target, where)) LoadMovieAction(*this, *into, ToString(url));
                break;
            }
            if (int32_t level = LevelNumber(where); level >= 0) {
                LoadMovieNumAction(*this, level, ToString(url));
                break;
            }
            env_->GetUrl(ToString(url), where);
            break;
        }
        case 0x9F: {
            bool play = !p.empty() && (p[0] & 0x01);
            uint16_t bias = (!p.empty() && (p[0] & 0x02)) ? u16(1) : 0;
            Value frame = pop();
            DisplayObject* t = target_clip();
            if (auto* s = std::get_if<std::string>(&frame)) {
                std::string text = *s;
                t = split_target(text);
                if (!t) break;
                if (IsNumericText(text)) {
                    double n = ToNumber(Value(text));
                    if (n >= 1) env_->GotoFrame(*t, uint32_t(n) - 1 + bias, play);
                } else {
                    env_->GotoLabel(*t, text, play);
                }
            } else if (t) {
                // Frame numbers wrap as unsigned 32-bit integers; 0 moves nothing.
                uint32_t n = uint32_t(ToInt32(frame));
                if (n >= 1) env_->GotoFrame(*t, n - 1 + bias, play);
            }
            break;
        }
        case 0x9E: {
            Value frame = pop();
            std::string text = ToString(frame);
            DisplayObject* t = split_target(text);
            if (!t || !t->sprite || !t->sprite->timeline) break;
            int index = -1;
            if (IsNumericText(text)) {
                // The frame number wraps as a 32-bit integer.
                const uint32_t number = uint32_t(ToInt32(Value(text)));
                if (number >= 1 && number < 2147483648u) index = int(number) - 1;
            } else {
                index = t->sprite->timeline->FrameOfLabel(text);
            }
            // A frame that calls itself is cut off here, the caller goes on.
            if (index < 0 || depth_ >= 64) break;
            for (auto list : env_->FrameScripts(*t, uint32_t(index))) {
                Frame g;
                g.code = list;
                ObjRef self = ClipObject(*t);
                g.scope = {global_, self};
                g.this_value = self;
                g.regs.resize(4);
                g.target = g.base = t->instance_id;
                g.activation = self;
                g.stack = f.stack;
                g.stack_base = f.stack_base;
                bool r = false;
                Value v;
                ++depth_;
                try {
                    RunCode(g, 0, list.size(), r, v);
                } catch (...) {
                    --depth_;
                    throw;
                }
                --depth_;
            }
            if (ClipGone(f.base)) return;
            break;
        }
        case 0x99: case 0x9D: {
            if (code == 0x9D && !(version_ < 5 ? ToNumber(pop()) != 0 : ToBoolean(pop()))) break;
            int64_t next = int64_t(pos) + int16_t(u16(0));
            if (next < int64_t(begin) || next >= int64_t(end)) return;
            pos = size_t(next);
            break;
        }
        case 0x9B: case 0x8E: {
            auto fc = std::make_shared<FunctionCode>();
            size_t at = 0;
            fc->name = payload_string(at);
            uint16_t n = u16(at);
            at += 2;
            if (code == 0x8E) {
                fc->v2 = true;
                fc->register_count = at < p.size() ? p[at] : 0;
                at += 1;
                fc->flags = u16(at);
                at += 2;
                for (uint16_t i = 0; i < n && at < p.size(); ++i) {
                    fc->param_registers.push_back(p[at++]);
                    fc->params.push_back(payload_string(at));
                }
            } else {
                for (uint16_t i = 0; i < n && at < p.size(); ++i) fc->params.push_back(payload_string(at));
            }
            size_t size = u16(at);
            size_t body_end = std::min(pos + size, end);
            fc->bytes = std::make_shared<std::vector<uint8_t>>(f.code.begin() + pos, f.code.begin() + body_end);
            pos = body_end;
            fc->scope = f.scope;
            if (version_ < 6) {
                // No closures before version 6: only the global object and the timeline.
                std::vector<ObjRef> outer{f.scope.front()};
                for (size_t i = f.scope.size(); i-- > 1;)
                    if (f.scope[i]->kind == Kind::Clip) {
                        outer.push_back(f.scope[i]);
                        break;
                    }
                fc->scope = std::move(outer);
            }
            fc->pool = f.pool;
            fc->target_clip = f.target;
            ObjRef fn = NewObject(function_proto_);
            fn->kind = Kind::Function;
            fn->code = fc;
            ObjRef proto = NewObject();
            Define(proto, "constructor", fn, kDontEnum);
            Define(fn, "prototype", proto, kDontEnum | kDontDelete);
            if (fc->name.empty()) push(fn);
            else SetVariable(f, fc->name, fn);
            break;
        }
        case 0x94: {
            Value obj = pop();
            size_t size = u16(0);
            size_t body_end = std::min(pos + size, end);
            ObjRef o = ToObject(obj);
            // with(undefined) and with(null) skip their body.
            if (!o) {
                pos = body_end;
                break;
            }
            f.scope.push_back(o);
            try {
                RunCode(f, pos, body_end, returned, result);
            } catch (...) {
                if (o) f.scope.pop_back();
                throw;
            }
            if (o) f.scope.pop_back();
            if (returned) return;
            pos = body_end;
            break;
        }
        case 0x8F: {
            uint8_t flags = p.empty() ? 0 : p[0];
            size_t try_size = u16(1), catch_size = u16(3), finally_size = u16(5);
            size_t at = 7;
            std::string catch_name;
            uint8_t catch_reg = 0;
            if (flags & 0x04) catch_reg = at < p.size() ? p[at] : 0;
            else catch_name = payload_string(at);
            size_t try_end = std::min(pos + try_size, end);
            size_t catch_end = std::min(try_end + ((flags & 0x01) ? catch_size : 0), end);
            size_t finally_end = std::min(catch_end + ((flags & 0x02) ? finally_size : 0), end);
            size_t depth_before = size_t(depth_);
            size_t stack_before = stack.size();
            bool pending = false;
            Value pending_value;
            try {
                RunCode(f, pos, try_end, returned, result);
            } catch (const ThrowSignal& t) {
                depth_ = int(depth_before);
                if (stack.size() > stack_before) stack.resize(stack_before);
                if (flags & 0x01) {
                    if (flags & 0x04) {
                        if (catch_reg < f.regs.size()) f.regs[catch_reg] = t.value;
                    } else {
                        SetOf(f.activation, catch_name, t.value, f.activation);
                    }
                    try {
                        RunCode(f, try_end, catch_end, returned, result);
                    } catch (const ThrowSignal& t2) {
                        depth_ = int(depth_before);
                        pending = true;
                        pending_value = t2.value;
                    }
                } else {
                    pending = true;
                    pending_value = t.value;
                }
            }
            if (flags & 0x02) {
                bool r2 = false;
                Value v2;
                RunCode(f, catch_end, finally_end, r2, v2);
                if (r2) {
                    returned = true;
                    result = v2;
                    return;
                }
            }
            if (pending) throw ThrowSignal{pending_value};
            if (returned) return;
            pos = finally_end;
            break;
        }
        default: {
            bool seen = false;
            for (auto& r : reported_) if (r.size() == 1 && uint8_t(r[0]) == code) seen = true;
            if (!seen) {
                reported_.push_back(std::string(1, char(code)));
                char line[96];
                std::snprintf(line, sizeof line, "action 0x%02X is not known; it is skipped", code);
                Log(line);
            }
            break;
        }
        }
    }
}

}  // namespace qm::flash::avm1
