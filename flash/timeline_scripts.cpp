// The built-in script runner: enough of the action language for timeline
// movies (frame navigation, targets, trace of constants, branches). Lists
// that use anything else stop at that action; the full interpreter replaces
// this runner through ScriptHost.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "flash/player.h"
#include "flash/timeline_def.h"

namespace qm::flash {

namespace {

// Actions one list, and all the lists of one frame, may run before they are
// taken for a runaway loop.
constexpr size_t kMaxActionsPerList = 1000000;
constexpr size_t kMaxActionsPerFrame = 5000000;
constexpr int kMaxCallDepth = 64;

struct Undefined {};
struct Null {};
using Value = std::variant<Undefined, Null, bool, double, std::string>;

std::string NumberToString(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    if (v == 0) return "0";
    char buf[40];
    if (std::fabs(v) < 1e15 && v == std::trunc(v)) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.15g", v);
    std::string s = buf;
    // "1e+021" style exponents lose their leading zeros: "1e+21", "1.5e-7".
    size_t e = s.find('e');
    if (e != std::string::npos) {
        size_t digits = e + 2;
        while (digits + 1 < s.size() && s[digits] == '0') s.erase(digits, 1);
    }
    return s;
}

std::string ToString(const Value& v, uint8_t version) {
    if (std::holds_alternative<Undefined>(v)) return version >= 7 ? "undefined" : "";
    if (std::holds_alternative<Null>(v)) return "null";
    if (auto* b = std::get_if<bool>(&v)) return version >= 5 ? (*b ? "true" : "false") : (*b ? "1" : "0");
    if (auto* d = std::get_if<double>(&v)) return NumberToString(*d);
    return std::get<std::string>(v);
}

double ToNumber(const Value& v, uint8_t version) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
    if (auto* s = std::get_if<std::string>(&v)) {
        const char* begin = s->c_str();
        while (*begin == ' ' || *begin == '\t' || *begin == '\n' || *begin == '\r') ++begin;
        if (!*begin) return version >= 5 ? NAN : 0;
        char* end = nullptr;
        double d = std::strtod(begin, &end);
        while (end && (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r')) ++end;
        if (!end || *end) return version >= 5 ? NAN : 0;
        return d;
    }
    return version >= 7 ? NAN : 0;
}

bool ToBoolean(const Value& v, uint8_t version) {
    if (auto* b = std::get_if<bool>(&v)) return *b;
    if (auto* d = std::get_if<double>(&v)) return *d != 0 && !std::isnan(*d);
    if (auto* s = std::get_if<std::string>(&v)) {
        if (version >= 7) return !s->empty();
        double d = ToNumber(v, version);
        return d != 0 && !std::isnan(d);
    }
    return false;
}

bool IsNumeric(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end && *end == 0;
}

class TimelineScriptHost : public ScriptHost {
public:
    void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions, ScriptKind) override {
        const uint8_t version = env.MovieVersion();
        DisplayObject* target = &clip;
        std::vector<Value>& stack = stack_;
        std::vector<std::string> pool;
        Value registers[4];
        auto pop = [&]() -> Value {
            if (stack.empty()) return Undefined{};
            Value v = std::move(stack.back());
            stack.pop_back();
            return v;
        };
        // "path:frame" or "path:label" from GotoFrame2 and friends.
        auto split_target = [&](std::string& frame) -> DisplayObject* {
            size_t colon = frame.rfind(':');
            if (colon == std::string::npos) return target;
            DisplayObject* t = target ? env.ResolveTarget(*target, frame.substr(0, colon)) : nullptr;
            frame.erase(0, colon + 1);
            return t;
        };

        size_t pos = 0;
        size_t executed = 0;
        size_t skip = 0;  // actions WaitForFrame skips
        while (auto record = swf::DecodeAction(actions, pos)) {
            if (++executed > kMaxActionsPerList || ++frame_actions_ > kMaxActionsPerFrame) {
                if (!stopped_logged_) env.Log("a script ran too long and was stopped");
                stopped_logged_ = true;
                return;
            }
            pos += record->size;
            if (skip > 0) {
                --skip;
                continue;
            }
            const auto& p = record->payload;
            auto u16 = [&](size_t at) { return at + 1 < p.size() ? uint16_t(p[at] | (p[at + 1] << 8)) : uint16_t(0); };
            auto payload_string = [&](size_t& at) {
                size_t end = at;
                while (end < p.size() && p[end] != 0) ++end;
                std::string s = swf::TextToUtf8(p.subspan(at, end - at), version);
                at = std::min(end + 1, p.size());
                return s;
            };
            switch (record->code) {
            case 0x00:
                return;
            case 0x04:
                if (target) env.NextFrame(*target);
                break;
            case 0x05:
                if (target) env.PrevFrame(*target);
                break;
            case 0x06:
                if (target) env.Play(*target);
                break;
            case 0x07:
                if (target) env.Stop(*target);
                break;
            case 0x09:
                env.StopSounds(nullptr, 0);
                break;
            case 0x08:  // quality
            case 0x89:  // compiler hint
                break;
            case 0x81:
                if (target) env.GotoFrame(*target, u16(0), false);
                break;
            case 0x83: {
                size_t at = 0;
                std::string url = payload_string(at);
                std::string window = payload_string(at);
                env.GetUrl(url, window);
                break;
            }
            case 0x88: {
                pool.clear();
                size_t at = 2;
                for (uint16_t i = 0, n = u16(0); i < n && at < p.size(); ++i) pool.push_back(payload_string(at));
                break;
            }
            case 0x8A: {
                // Everything is loaded, except frames the timeline does not have.
                uint16_t frame = u16(0);
                bool loaded = target && target->sprite && target->sprite->timeline &&
                              frame < target->sprite->timeline->frames.size();
                if (!loaded && p.size() >= 3) skip = p[2];
                break;
            }
            case 0x8D: {
                // The stack form: a frame number (from 1) or label, maybe after a path.
                Value frame = pop();
                DisplayObject* t = target;
                bool loaded = false;
                if (auto* str = std::get_if<std::string>(&frame); str && !IsNumeric(*str)) {
                    std::string text = *str;
                    t = split_target(text);
                    loaded = t && t->sprite && t->sprite->timeline && t->sprite->timeline->FrameOfLabel(text) >= 0;
                } else {
                    double n = ToNumber(frame, version);
                    loaded = t && t->sprite && t->sprite->timeline && n >= 1 && n <= t->sprite->timeline->frames.size();
                }
                if (!loaded && !p.empty()) skip = p[0];
                break;
            }
            case 0x8B: {
                size_t at = 0;
                std::string path = payload_string(at);
                target = path.empty() ? &clip : env.ResolveTarget(clip, path);
                break;
            }
            case 0x8C: {
                size_t at = 0;
                std::string label = payload_string(at);
                // An unknown label moves nothing but still stops, as a goto does.
                if (target && !env.GotoLabel(*target, label, false)) env.Stop(*target);
                break;
            }
            case 0x96: {
                size_t at = 0;
                while (at < p.size()) {
                    uint8_t type = p[at++];
                    auto need = [&](size_t n) { return at + n <= p.size(); };
                    switch (type) {
                    case 0: stack.push_back(payload_string(at)); break;
                    case 1:
                        if (!need(4)) return;
                        stack.push_back(double(std::bit_cast<float>(uint32_t(p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (uint32_t(p[at + 3]) << 24)))));
                        at += 4;
                        break;
                    case 2: stack.push_back(Null{}); break;
                    case 3: stack.push_back(Undefined{}); break;
                    case 4:
                        if (!need(1)) return;
                        stack.push_back(p[at] < 4 ? registers[p[at]] : Value(Undefined{}));
                        at += 1;
                        break;
                    case 5:
                        if (!need(1)) return;
                        stack.push_back(p[at] != 0);
                        at += 1;
                        break;
                    case 6: {
                        if (!need(8)) return;
                        uint64_t hi = uint32_t(p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (uint32_t(p[at + 3]) << 24));
                        uint64_t lo = uint32_t(p[at + 4] | (p[at + 5] << 8) | (p[at + 6] << 16) | (uint32_t(p[at + 7]) << 24));
                        stack.push_back(std::bit_cast<double>((hi << 32) | lo));
                        at += 8;
                        break;
                    }
                    case 7:
                        if (!need(4)) return;
                        stack.push_back(double(int32_t(uint32_t(p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (uint32_t(p[at + 3]) << 24)))));
                        at += 4;
                        break;
                    case 8:
                    case 9: {
                        size_t width = type == 8 ? 1 : 2;
                        if (!need(width)) return;
                        size_t index = type == 8 ? p[at] : u16(at);
                        at += width;
                        stack.push_back(index < pool.size() ? Value(pool[index]) : Value(Undefined{}));
                        break;
                    }
                    default:
                        // Unknown value type: the rest of this push cannot be read.
                        at = p.size();
                        break;
                    }
                }
                break;
            }
            case 0x17:
                pop();
                break;
            case 0x26: {
                Value v = pop();
                // trace() names undefined in every version.
                env.Trace(std::holds_alternative<Undefined>(v) ? "undefined" : ToString(v, version));
                break;
            }
            case 0x4C: {
                Value v = pop();
                stack.push_back(v);
                stack.push_back(v);
                break;
            }
            case 0x4D: {
                Value a = pop();
                Value b = pop();
                stack.push_back(std::move(a));
                stack.push_back(std::move(b));
                break;
            }
            case 0x87:
                if (!p.empty() && p[0] < 4) registers[p[0]] = stack.empty() ? Value(Undefined{}) : stack.back();
                break;
            case 0x20: {
                Value v = pop();
                std::string path = ToString(v, version);
                target = path.empty() ? &clip : env.ResolveTarget(clip, path);
                break;
            }
            case 0x9A: {
                Value window = pop();
                Value url = pop();
                env.GetUrl(ToString(url, version), ToString(window, version));
                break;
            }
            case 0x9F: {
                bool play = !p.empty() && (p[0] & 0x01);
                uint16_t bias = (!p.empty() && (p[0] & 0x02)) ? u16(1) : 0;
                Value frame = pop();
                DisplayObject* t = target;
                if (auto* s = std::get_if<std::string>(&frame)) {
                    std::string text = *s;
                    t = split_target(text);
                    if (!t) break;
                    if (IsNumeric(text)) {
                        double n = ToNumber(Value(text), version);
                        if (n >= 1) env.GotoFrame(*t, uint32_t(n) - 1 + bias, play);
                    } else {
                        env.GotoLabel(*t, text, play);
                    }
                } else if (t) {
                    double n = ToNumber(frame, version);
                    if (n >= 1 && n < 4294967296.0) env.GotoFrame(*t, uint32_t(n) - 1 + bias, play);
                }
                break;
            }
            case 0x9E: {
                // Runs a frame's scripts now, with that clip as their timeline.
                Value frame = pop();
                std::string text = ToString(frame, version);
                DisplayObject* t = split_target(text);
                if (!t || !t->sprite || !t->sprite->timeline || call_depth_ >= kMaxCallDepth) break;
                int index = IsNumeric(text) ? int(ToNumber(Value(text), version)) - 1 : t->sprite->timeline->FrameOfLabel(text);
                if (index < 0) break;
                ++call_depth_;
                for (auto list : env.FrameScripts(*t, uint32_t(index))) Run(env, *t, list, ScriptKind::Frame);
                --call_depth_;
                break;
            }
            case 0x99:
            case 0x9D: {
                if (record->code == 0x9D && !ToBoolean(pop(), version)) break;
                int16_t offset = static_cast<int16_t>(u16(0));
                int64_t next = int64_t(pos) + offset;
                if (next < 0 || next > int64_t(actions.size())) return;
                pos = size_t(next);
                break;
            }
            default:
                if (reported_.insert(record->code).second) {
                    char line[96];
                    std::snprintf(line, sizeof line, "action 0x%02X is not supported yet; the script stops there",
                                  record->code);
                    env.Log(line);
                }
                return;
            }
        }
    }

    void EndOfScripts() override {
        stack_.clear();
        frame_actions_ = 0;
        stopped_logged_ = false;
    }

private:
    // One stack for all the lists of a frame: what one leaves, the next finds.
    std::vector<Value> stack_;
    size_t frame_actions_ = 0;
    int call_depth_ = 0;  // frames calling frames
    bool stopped_logged_ = false;
    std::set<uint8_t> reported_;
};

}  // namespace

std::unique_ptr<ScriptHost> MakeTimelineScriptHost() { return std::make_unique<TimelineScriptHost>(); }

}  // namespace qm::flash
