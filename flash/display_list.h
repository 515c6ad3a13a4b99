// What is on the stage: a tree of placed objects, one display list per
// timeline (the main movie, each sprite instance) and per button instance.
// The renderer walks it bottom depth first; the timelines change it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flash/dictionary.h"
#include "swf/swf.h"

namespace qm::flash {

struct DisplayObject;

// Pixels made by scripts (BitmapData): premultiplied ARGB words, rows top to
// bottom, the layout of a cairo image surface, so a picture needs no copy.
struct ScriptBitmap {
    int32_t width = 0, height = 0;
    bool transparent = true;
    std::vector<uint32_t> pixels;
};

// Objects by depth, lowest (drawn first) to highest.
class DisplayList {
public:
    using Map = std::map<int32_t, std::unique_ptr<DisplayObject>>;

    DisplayList();
    ~DisplayList();
    DisplayList(DisplayList&&) noexcept;
    DisplayList& operator=(DisplayList&&) noexcept;

    Map::const_iterator begin() const { return objects_.begin(); }
    Map::const_iterator end() const { return objects_.end(); }
    Map::const_reverse_iterator rbegin() const { return objects_.rbegin(); }
    Map::const_reverse_iterator rend() const { return objects_.rend(); }
    bool empty() const { return objects_.empty(); }
    size_t size() const { return objects_.size(); }

    DisplayObject* At(int32_t depth) const;
    // Puts `object` at its depth, replacing (and returning) what was there.
    std::unique_ptr<DisplayObject> Put(std::unique_ptr<DisplayObject> object);
    std::unique_ptr<DisplayObject> Take(int32_t depth);
    void Clear();

    Map& objects() { return objects_; }

private:
    Map objects_;
};

enum class ButtonVisualState : uint8_t { Up, Over, Down };

struct TimelineDef;

// Playback state of a timeline: a sprite instance's or the main movie's.
struct SpriteState {
    const TimelineDef* timeline = nullptr;
    uint16_t current_frame = 0;  // zero-based; the frame shown
    bool playing = true;
    bool entered = false;  // the first frame has been shown
};

// Tracking state of a button instance.
struct ButtonState {
    const swf::Button* button = nullptr;
    ButtonVisualState visual = ButtonVisualState::Up;
    bool pointer_over = false;
    bool pressed = false;  // pressed inside and not yet released
};

struct DisplayObject {
    int32_t depth = 0;
    const Character* character = nullptr;  // never null for a placed object
    uint64_t instance_id = 0;              // unique per instance, for caches

    swf::Matrix matrix;                    // to the parent's space
    swf::ColorTransform color_transform;   // not yet combined with the parent's
    uint16_t ratio = 0;                    // morph progress / video frame
    std::string name;
    uint16_t clip_depth = 0;  // 0: drawn; else a mask for depths (depth, clip_depth]
    swf::BlendMode blend_mode = swf::BlendMode::Normal;
    std::vector<swf::Filter> filters;
    bool visible = true;
    bool cache_as_bitmap = false;
    std::optional<swf::Rgba> opaque_background;
    std::optional<swf::ClipActions> clip_actions;

    // Edit texts: the text shown, when a script has set one.
    std::optional<std::string> text;

    // Clips: what scripts drew with lines and fills, shown under the
    // children; null when nothing was drawn.
    std::shared_ptr<swf::Shape> drawing;
    // Clips showing a script's pixels (attachBitmap), drawn under the drawing.
    std::shared_ptr<const ScriptBitmap> bitmap;
    bool bitmap_smoothing = false;

    // Sprites and buttons: what is drawn inside them, in their own space.
    // For a button this holds the records of its current visual state.
    DisplayList children;
    std::unique_ptr<SpriteState> sprite;  // sprites only
    std::unique_ptr<ButtonState> button;  // buttons only

    DisplayObject* parent = nullptr;  // null for the main movie and the levels above it
    // The main movie: the movies loaded into levels above it, drawn over it.
    const DisplayList* upper_levels = nullptr;

    // Frame (zero-based) of the parent timeline on which this instance was
    // placed; a backwards goto keeps instances placed by the same tag.
    uint16_t placed_frame = 0;
    bool placed_by_script = false;  // the timeline never removes it
    // Set by scripts that move the object themselves; the timeline then
    // leaves its matrix and colour alone.
    bool script_moved = false;
};

}  // namespace qm::flash
