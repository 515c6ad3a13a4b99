// Values and objects of the interpreter (internal to flash/avm1).
#pragma once

#include <cstdint>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace qm::flash {
struct DisplayObject;
struct ScriptBitmap;
}

namespace qm::flash::avm1 {

struct Object;
using ObjRef = std::shared_ptr<Object>;
struct Undefined {
    bool operator==(const Undefined&) const = default;
};
struct Null {
    bool operator==(const Null&) const = default;
};
using Value = std::variant<Undefined, Null, bool, double, std::string, ObjRef>;

class Interpreter;
using NativeFn = std::function<Value(Interpreter&, const Value& self, std::vector<Value>& args)>;

enum PropFlags : uint16_t {
    kDontEnum = 1,
    kDontDelete = 2,
    kReadOnly = 4,
    // Seen only by movies of a version at least this new (others read undefined).
    kVersion6 = 128,
    kHiddenIn6 = 256,  // hidden from version 6 movies only
    kVersion7 = 1024,
    kVersion8 = 4096,
    kVersion9 = 8192,
    kVersion10 = 16384,
};
constexpr uint16_t kVersionFlags = kVersion6 | kHiddenIn6 | kVersion7 | kVersion8 | kVersion9 | kVersion10;

struct Property {
    std::string name;
    Value value;
    ObjRef getter, setter;
    uint16_t flags = 0;
};

// watch(): a function called with each new value of a name, giving the one
// stored; it belongs to the object, so it outlives the property's deletion.
struct Watch {
    std::string name;
    ObjRef fn;
    Value data;
};

// Body of a function written in the movie.
struct FunctionCode {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    std::string name;
    std::vector<std::string> params;
    std::vector<uint8_t> param_registers;  // DefineFunction2: 0 = a variable
    uint8_t register_count = 4;
    uint16_t flags = 0;
    bool v2 = false;
    std::vector<ObjRef> scope;
    std::shared_ptr<const std::vector<std::string>> pool;
    uint64_t target_clip = 0;  // timeline the function was defined on
};

enum class Kind : uint8_t { Plain, Function, Array, String, Number, Boolean, Clip, Super, Arguments, Date };

// A node of an XML tree; children are the elements of `children`, an array
// the scripts see as childNodes.
struct XmlNode {
    int type = 1;  // 1 element, 3 text
    Value name;    // element name or null
    Value value;   // text or null
    ObjRef attributes;
    ObjRef children;
    std::weak_ptr<Object> parent;
};

// A Sound object: whose sounds it controls and what it plays.
struct SoundState {
    ObjRef owner;        // a clip; null for the whole movie
    std::string path;    // the owner's path, to find it again when it was replaced
    bool global = true;
    uint16_t sound_id = 0;  // attached sound, 0 none
    uint16_t loading_id = 0;  // loadSound's sound until its onLoad
    bool from_file = false;   // the sound came from loadSound
    uint64_t handle = 0;    // the last start
    bool playing = false;   // started and not yet reported complete
    std::vector<uint64_t> started;  // each start not yet reported complete, oldest first
};

struct Object {
    Kind kind = Kind::Plain;
    std::vector<Property> props;
    std::vector<Watch> watches;
    ObjRef proto;
    NativeFn native;
    bool native_constructs = false;  // native returns the object `new` gives
    std::shared_ptr<FunctionCode> code;
    Value primitive;             // wrappers
    std::vector<Value> elems;    // arrays
    std::vector<bool> holes;     // arrays: indices that hold no element (none past the end of this)
    uint64_t clip_id = 0;        // movie clips
    Value super_this;            // `super`
    ObjRef super_home;
    std::shared_ptr<XmlNode> xml;  // XML nodes
    std::shared_ptr<SoundState> sound;  // Sound objects
    std::shared_ptr<ScriptBitmap> bitmap;  // BitmapData objects; null once disposed
    std::shared_ptr<std::map<std::string, Value>> text_format;  // TextFormat settings
    bool text_snapshot = false;  // TextSnapshot objects: `elems` holds the characters
};

// Array holes: an index below the length that was never set or was deleted.
inline bool IsHole(const Object& a, size_t i) { return i < a.holes.size() && a.holes[i]; }
inline void MarkHole(Object& a, size_t i, bool hole) {
    if (hole && a.holes.size() <= i) a.holes.resize(i + 1, false);
    if (i < a.holes.size()) a.holes[i] = hole;
}
// Resizes an array; new places are holes.
inline void ResizeArray(Object& a, size_t n) {
    size_t old = a.elems.size();
    a.elems.resize(n);
    if (n > old) a.holes.resize(n, false), std::fill(a.holes.begin() + std::ptrdiff_t(old), a.holes.end(), true);
    if (a.holes.size() > n) a.holes.resize(n);
}

}  // namespace qm::flash::avm1
