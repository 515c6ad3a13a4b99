// The interpreter's machinery (internal to flash/avm1).
#pragma once

#include <map>
#include <random>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "flash/avm1/avm1.h"
#include "flash/avm1/value.h"
#include "swf/limits.h"
#include "swf/swf.h"

namespace qm::flash::avm1 {

struct ThrowSignal {
    Value value;
};
// The script is abandoned: too long, too deep.
struct AbortSignal {};

struct Frame {
    std::span<const uint8_t> code;
    std::vector<ObjRef> scope;  // innermost last
    Value this_value;
    std::vector<Value> regs;
    std::shared_ptr<const std::vector<std::string>> pool;
    std::shared_ptr<const std::vector<uint8_t>> keep;
    uint64_t target = 0;  // current target clip
    uint64_t base = 0;    // clip the list belongs to
    ObjRef activation;    // where `var` goes (the clip for frame scripts)
    ObjRef callee;
    std::vector<Value>* stack = nullptr;
    size_t stack_base = 0;
};

struct Interval {
    Value function;  // or self[method]
    Value self;
    std::string method;
    std::vector<Value> args;
    double period = 0;
    double due = 0;
    bool repeat = true;
    // A load's answer that comes on the frame it was asked on, even when an
    // answer asked for it (a sound's events).
    bool this_frame = false;
};

// A box in twips; empty until a point is added.
struct Bounds {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty = true;
};

// Pen and styles of a clip's drawing.
struct DrawState {
    int32_t x = 0, y = 0;            // pen, twips
    int32_t fill_x = 0, fill_y = 0;  // where the open fill began
    uint32_t fill = 0, line = 0;     // one-based styles; 0 none
    bool started = false;
    bool has_bounds = false;  // an edge has been drawn
    size_t closing = 0;       // records of the shown close of an open fill
};

class Interpreter {
public:
    int AddInterval(Interval interval);
    void ClearInterval(int id);
    // A load's answer: self[method](args) once this frame's scripts are done.
    void QueueLoad(Interval answer) { loads_.push_back(std::move(answer)); }
    explicit Interpreter(const Avm1Options& options);
    ~Interpreter();
    // The recursion and time limits of the options (the defaults until then).
    void ApplyLimits(const Avm1Options& options);
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    void RunList(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t> actions);
    void EndOfScripts();
    void ClipEvent(ScriptEnvironment& env, DisplayObject& clip, uint32_t event);

    // Conversions.
    uint8_t version() const { return version_; }
    // An empty box reads 0x7FFFFFF twips until a version 8 clip has been measured
    // (from the start in a version 8 movie); then 0x8000000 for good. -1: not yet known.
    int8_t bounds_rounded = -1;
    double ToNumber(const Value& v);
    std::string ToString(const Value& v);
    bool ToBoolean(const Value& v);
    Value ToPrimitive(const Value& v, bool prefer_string = false);
    ObjRef ToObject(const Value& v);
    static std::string NumberToString(double d);
    int32_t ToInt32(const Value& v);

    // Objects.
    ObjRef NewObject(ObjRef proto = nullptr);
    ObjRef NewArray(std::vector<Value> elems = {});
    ObjRef NewFunction(NativeFn fn, bool constructs = false);
    Value Get(const Value& object, const std::string& name);
    Value GetOf(const ObjRef& object, const std::string& name, const Value& self);
    void Set(const Value& object, const std::string& name, const Value& value);
    void SetOf(const ObjRef& object, const std::string& name, const Value& value, const Value& self);
    Property* FindOwn(const ObjRef& o, const std::string& name);
    bool HasProperty(const ObjRef& o, const std::string& name);
    // Reads stop the script past this many prototypes (a chain that loops).
    static constexpr int kMaxPrototypeChain = 256;
    [[noreturn]] void PrototypeLoop();
    void Define(const ObjRef& o, const std::string& name, Value value, uint16_t flags = kDontEnum);
    // A property this movie's version may not see.
    bool Hidden(const Property& p) const;
    void Method(const ObjRef& o, const std::string& name, NativeFn fn);
    bool Delete(const ObjRef& o, const std::string& name);
    std::vector<std::string> Keys(const ObjRef& o);
    Value Call(const Value& fn, const Value& self, std::vector<Value> args);
    Value Construct(const Value& ctor, std::vector<Value> args);
    bool KeyEq(const std::string& a, const std::string& b) const;
    bool InstanceOf(const Value& v, const ObjRef& ctor);

    // Clips.
    ObjRef ClipObject(DisplayObject& clip);
    DisplayObject* ClipOf(const ObjRef& o);
    DisplayObject* FindClip(uint64_t id);
    std::string TargetPath(DisplayObject& clip, bool slash = false);
    bool GetClipProperty(DisplayObject& clip, const std::string& name, Value& out);
    bool SetClipProperty(DisplayObject& clip, const std::string& name, const Value& v);
    DisplayObject* ResolveClip(uint64_t from, const std::string& path);
    // The clip a list's names and actions reach: its target while that is shown, else
    // its own clip, else the main timeline.
    DisplayObject* ActingClip(uint64_t target, uint64_t base);
    // A list whose own clip has been removed stops after its next call.
    bool ClipGone(uint64_t base);
    // The root of a clip's level (the main movie's when null); the level a
    // "_levelN" names, if there is one.
    DisplayObject& RootOf(DisplayObject* clip);
    DisplayObject* LevelNamed(const std::string& name);

    double Random() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
    double TimerMs() const { return double(frames_) * frame_ms_; }
    // Milliseconds since 1970 by the movie's clock.
    double NowMs() const;
    std::string DateText(double ms);
    ScriptEnvironment* env() { return env_; }
    // The list running now, for natives that act on its target; null between scripts.
    const Frame* running_frame_ = nullptr;
    void Log(const std::string& line);
    // An exception that left every script: one line in the trace output.
    void ReportUncaught(const Value& v);
    // Stops the running script when a text it builds would pass the script text limit.
    void CheckTextSize(size_t bytes);

    ObjRef global_, object_proto_, function_proto_, array_proto_, string_proto_, number_proto_,
        boolean_proto_, clip_proto_;
    ObjRef array_ctor_, string_ctor_, number_ctor_, boolean_ctor_, object_ctor_;
    // The object `new` made for the constructor being entered; natives that act
    // differently as functions compare their `this` with it.
    const Object* constructing_ = nullptr;
    ObjRef flash_package_;  // `flash`, home of the geom and display packages

    // A class: constructor `name` in `where` (the global object when null)
    // with `proto` as its prototype.
    ObjRef DefineClass(const std::string& name, NativeFn fn, const ObjRef& proto, bool constructs,
                       const ObjRef& where = nullptr);
    // A property computed by native functions (setter may be null).
    void Accessor(const ObjRef& o, const std::string& name, NativeFn getter, NativeFn setter = nullptr);

    // XML nodes: the text of a node and its subtree; a document read from text.
    std::string XmlText(const ObjRef& node, int depth = 0);
    void ParseXml(const ObjRef& document, const std::string& text);
    std::function<ObjRef(Interpreter&, int, const Value&, const ObjRef&)> xml_make_node_;
    ObjRef xml_node_ctor_;

    DrawState& Drawing(DisplayObject& clip);
    // Text fields: the text shown, plain; settings kept beside the definition.
    std::string FieldText(DisplayObject& field);
    std::unordered_map<uint64_t, std::string> auto_sizes_;
    std::map<std::pair<uint64_t, std::string>, Value> field_values_;
    // Formatted text of the fields scripts have read or changed, by instance.
    std::unordered_map<uint64_t, std::shared_ptr<class TextDocument>> text_documents_;
    // Whether the movie defines text fields bound to variables; unknown until asked.
    std::optional<bool> binds_fields_;
    ObjRef textfield_proto_;
    // duplicateMovieClip: a copy of a clip beside it, at a display list depth.
    DisplayObject* Duplicate(DisplayObject& clip, const std::string& name, int32_t depth);
    // Object.registerClass: export name -> constructor, in registration order.
    std::vector<std::pair<std::string, ObjRef>> registered_classes_;
    // Gives a new clip its registered class (prototype, then `init`'s values, then the
    // constructor), once; the construct event of a clip made by attachMovie finds it done.
    void ConstructClip(DisplayObject& clip, const ObjRef& init = nullptr);
    void ConstructEvent(ScriptEnvironment& env, DisplayObject& clip);
    std::unordered_map<uint64_t, bool> constructed_;

    // Keyboard focus: the instance holding it, 0 for none. SetFocus tells the one
    // losing it, the one taking it and Selection's listeners; LoseFocusWithin drops
    // it when its holder is `o` or inside `o` (removed, hidden).
    uint64_t focus_ = 0;
    void SetFocus(DisplayObject* target);
    bool Focusable(DisplayObject& o);
    void LoseFocusWithin(DisplayObject& o);

    // Geometry of display objects, twips.
    static swf::Matrix Concat(const swf::Matrix& outer, const swf::Matrix& inner);
    static swf::Matrix ToStage(const DisplayObject& o);
    static bool Invert(const swf::Matrix& m, swf::Matrix& out);
    void AddBounds(Bounds& b, const DisplayObject& o, const swf::Matrix& m, int depth);
    // The object's box in the space of `space` (the stage when null).
    Bounds BoundsIn(const DisplayObject& o, const DisplayObject* space);
    std::unordered_map<uint64_t, DrawState> drawings_;

private:
    void InstallBuiltins();
    void InstallDrawing();
    void InstallXml();
    void InstallText();
    void InstallSound();
    void InstallSystem();
    void InstallColor();
    void InstallDate();
    void InstallGeom();
    void InstallBitmapData();
    void InstallNativeTable(const ObjRef& math);
public:
    // Gives an object _listeners and the AsBroadcaster methods.
    void InitializeBroadcaster(const ObjRef& o);
private:
    void CheckSounds();
    std::vector<std::weak_ptr<Object>> playing_sounds_;
    void RunCode(Frame& f, size_t begin, size_t end, bool& returned, Value& result);
    Value CallScript(const ObjRef& fn, const Value& self, std::vector<Value>& args);
    Value GetVariable(Frame& f, const std::string& name);
    void SetVariable(Frame& f, const std::string& name, const Value& v);
    Value LookupScope(Frame& f, const std::string& name, bool& found);
    bool DottedOwner(Frame& f, const std::string& name, Value& owner);
    Value MemberOf(const Value& cur, const std::string& part);
    ObjRef TargetObject(Frame& f);
    void Step();
    bool text_limit_logged_ = false;  // the text limit's line is written once

    ScriptEnvironment* env_ = nullptr;
    uint8_t version_ = 10;
    std::vector<Value> stack_;
    std::unordered_map<uint64_t, ObjRef> clip_objects_;
    std::mt19937 rng_;
    double frame_ms_ = 1000.0 / 12;
    double start_ms_ = 0;  // when the movie started, ms since 1970
    uint64_t frames_ = 0;
    uint64_t bound_fields_frame_ = ~uint64_t(0);  // the frame bound fields were last read on
    size_t frame_actions_ = 0;
    int depth_ = 0;
    bool stopped_logged_ = false;
    std::vector<std::string> reported_;
    std::map<int, Interval> intervals_;
    int next_interval_ = 1;
    ObjRef current_callee_;  // the script function running, for arguments.caller
    const char* stack_top_ = nullptr;  // machine stack where the outermost script began
    static constexpr ptrdiff_t kMaxStackBytes = limits::kMaxScriptStackBytes;
    // Script limits: calls deep, processor seconds a frame, values on the stacks.
    int max_recursion_ = limits::kMaxRecursion;
    double script_seconds_ = limits::kScriptSecondsPerFrame;
    double frame_started_ = 0;  // processor seconds when the frame's first action ran
    size_t outer_stack_values_ = 0;  // held by the functions below the running one
    const std::vector<Value>* running_stack_ = nullptr;
    std::vector<std::weak_ptr<Object>> objects_;  // every object made, to break cycles at the end
    size_t objects_compacted_ = 0;
    void RunIntervals();
    void Fire(const Interval& t);
    std::vector<std::pair<const Object*, std::string>> watching_;  // watchers running
    std::vector<Interval> loads_;
};

}  // namespace qm::flash::avm1
