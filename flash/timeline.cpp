// Timelines: placing and removing objects frame by frame, going to frames
// in both directions, and the order in which timelines advance and their
// scripts run.
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "flash/player_impl.h"

namespace qm::flash {

namespace {

// One tick may run this many script lists; beyond it, scripts that keep
// sending each other to new frames are cut off.
constexpr size_t kMaxScriptsPerTick = 100000;

// Later placement fields overwrite earlier ones; absent fields keep them.
void Merge(swf::PlaceObject& into, const swf::PlaceObject& p) {
    if (p.character_id) into.character_id = p.character_id;
    if (p.matrix) into.matrix = p.matrix;
    if (p.color_transform) into.color_transform = p.color_transform;
    if (p.ratio) into.ratio = p.ratio;
    if (p.name) into.name = p.name;
    if (p.clip_depth) into.clip_depth = p.clip_depth;
    if (p.filters) into.filters = p.filters;
    if (p.blend_mode) into.blend_mode = p.blend_mode;
    if (p.cache_as_bitmap) into.cache_as_bitmap = p.cache_as_bitmap;
    if (p.visible) into.visible = p.visible;
    if (p.background_color) into.background_color = p.background_color;
    if (p.clip_actions && !into.clip_actions) into.clip_actions = p.clip_actions;
}

void SetAttributes(DisplayObject& o, const swf::PlaceObject& p) {
    if (!o.script_moved) {
        if (p.matrix) o.matrix = *p.matrix;
        if (p.color_transform) o.color_transform = *p.color_transform;
    }
    if (p.ratio) o.ratio = *p.ratio;
    if (p.name) o.name = *p.name;
    if (p.clip_depth) o.clip_depth = *p.clip_depth;
    if (p.filters) o.filters = *p.filters;
    if (p.blend_mode) o.blend_mode = *p.blend_mode;
    if (p.cache_as_bitmap) o.cache_as_bitmap = *p.cache_as_bitmap;
    if (p.visible) o.visible = *p.visible;
    if (p.background_color) o.opaque_background = *p.background_color;
}

}  // namespace

DisplayObject* Player::Impl::FindButtonInstance(uint64_t id) const {
    auto it = buttons.find(id);
    return it == buttons.end() ? nullptr : it->second;
}

DisplayObject* Player::Impl::FindClip(uint64_t id) const {
    auto it = clips.find(id);
    return it == clips.end() ? nullptr : it->second;
}

bool Player::Impl::MayCreateUnder(const DisplayObject& parent) {
    int nesting = 0;
    for (const DisplayObject* p = &parent; p; p = p->parent) ++nesting;
    if (nesting > kMaxNesting || live_objects >= kMaxObjects) {
        if (!instance_limit_logged) {
            Log("the movie nests or multiplies its clips beyond what is played; further clips are not created");
            instance_limit_logged = true;
        }
        return false;
    }
    return true;
}

std::unique_ptr<DisplayObject> Player::Impl::CreateObject(const Character& character, DisplayObject& parent,
                                                          int32_t depth) {
    ++live_objects;
    auto o = std::make_unique<DisplayObject>();
    o->instance_id = next_instance_id++;
    o->character = &character;
    o->parent = &parent;
    o->depth = depth;
    if (auto* sprite = character.As<swf::Sprite>()) {
        o->sprite = std::make_unique<SpriteState>();
        o->sprite->timeline = TimelineOf(sprite);
    } else if (auto* button = character.As<swf::Button>()) {
        o->button = std::make_unique<ButtonState>();
        o->button->button = button;
    }
    return o;
}

void Player::Impl::NameUnnamed(DisplayObject& object) {
    if (!object.name.empty()) return;
    bool scriptable = object.sprite || object.button || (object.character && object.character->As<swf::EditText>());
    if (scriptable) object.name = "instance" + std::to_string(++default_names);
}

// Puts a new object on its parent's list (removing what was at its depth)
// and starts it: a sprite shows its first frame at once, a button its up state.
void Player::Impl::Attach(DisplayObject& parent, std::unique_ptr<DisplayObject> object) {
    RemoveChild(parent, object->depth);
    DisplayObject& o = *object;
    parent.children.Put(std::move(object));
    if (o.sprite && o.sprite->timeline) {
        clips[o.instance_id] = &o;
        clip_order.push_back(o.instance_id);
        QueueClipEvent(o, swf::kClipEventInitialize);
        QueueClipEvent(o, swf::kClipEventConstruct);
        QueueClipEvent(o, swf::kClipEventLoad);
        EnterFirstFrame(o);
    }
    if (o.button) {
        buttons[o.instance_id] = &o;
        BuildButtonChildren(o);
    }
}

void Player::Impl::Forget(DisplayObject& object) {
    for (auto& [depth, child] : object.children.objects()) Forget(*child);
    --live_objects;
    QueueClipEvent(object, swf::kClipEventUnload);
    clips.erase(object.instance_id);
    buttons.erase(object.instance_id);
    if (hover_button == object.instance_id) hover_button = 0;
    if (pressed_button == object.instance_id) pressed_button = 0;
}

void Player::Impl::RemoveChild(DisplayObject& parent, int32_t depth) {
    std::unique_ptr<DisplayObject> old = parent.children.Take(depth);
    if (!old) return;
    Forget(*old);
    removed_objects.push_back(std::move(old));
}

void Player::Impl::QueueInitScripts(DisplayObject& clip, uint16_t frame) {
    if (!scripts_enabled) return;
    for (const FrameTag& tag : clip.sprite->timeline->FrameTags(frame)) {
        if (tag.IsInitAction() && init_actions_done.insert(tag.body.data()).second) {
            scripts.push_back({clip.instance_id, tag.InitActions(), ScriptKind::Init});
        }
    }
}

void Player::Impl::QueueFrameScripts(DisplayObject& clip, uint16_t frame) {
    QueueInitScripts(clip, frame);
    if (!scripts_enabled) return;
    for (const FrameTag& tag : clip.sprite->timeline->FrameTags(frame)) {
        if (tag.IsAction()) scripts.push_back({clip.instance_id, tag.body, ScriptKind::Frame});
    }
}

void Player::Impl::ClipEventOnAll(uint32_t event, uint8_t key) {
    std::vector<uint64_t> order = clip_order;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (DisplayObject* clip = FindClip(*it)) QueueClipEvent(*clip, event, key);
    }
}

void Player::Impl::QueueClipEvent(DisplayObject& object, uint32_t event, uint8_t key) {
    if (!scripts_enabled || !object.sprite) return;
    auto queue = [&](PendingScript script) {
        switch (event) {
        case swf::kClipEventUnload:
            script.removed_clip = &object;
            unload_scripts.push_back(script);
            break;
        case swf::kClipEventInitialize: initialize_scripts.push_back(script); break;
        case swf::kClipEventConstruct: construct_scripts.push_back(script); break;
        default: scripts.push_back(script); break;
        }
    };
    if (object.clip_actions) {
        for (const auto& record : object.clip_actions->records) {
            if (!(record.events & event)) continue;
            if (event == swf::kClipEventKeyPress && record.key_code != key) continue;
            queue(PendingScript{object.instance_id, record.actions, ScriptKind::ClipEvent});
        }
    }
    PendingScript handler{object.instance_id, {}, ScriptKind::ClipEvent};
    handler.handler_event = event;
    queue(handler);
}

void Player::Impl::EnterFirstFrame(DisplayObject& clip) {
    SpriteState& s = *clip.sprite;
    s.entered = true;
    s.current_frame = 0;
    QueueInitScripts(clip, 0);
    ApplyFrame(clip, 0, true);
}

// Frame scripts are queued as their tags come, so a clip placed after a
// script has its own scripts run after it, one placed before, before it.
void Player::Impl::ApplyFrame(DisplayObject& clip, uint16_t frame, bool with_scripts) {
    const TimelineDef& def = *clip.sprite->timeline;
    for (const FrameTag& tag : def.FrameTags(frame)) {
        if (tag.IsAction()) {
            if (with_scripts && scripts_enabled) scripts.push_back({clip.instance_id, tag.body, ScriptKind::Frame});
            continue;
        }
        if (tag.IsPlace()) {
            if (auto place = tag.Place(def.version)) ApplyPlace(clip, *place, frame);
            continue;
        }
        if (tag.IsInitAction() || tag.IsStreamBlock()) continue;
        const swf::TagBody body = tag.Decode(def.version);
        if (auto* remove = std::get_if<swf::RemoveObject>(&body)) {
            DisplayObject* o = clip.children.At(remove->depth);
            if (o && !o->placed_by_script) RemoveChild(clip, remove->depth);
        } else if (auto* bg = std::get_if<swf::SetBackgroundColor>(&body)) {
            if (&clip == root.get()) background = bg->color;
        } else if (auto* start = swf::BodyIf<swf::StartSound>(body)) {
            // Frames passed over by a goto stay silent.
            if (with_scripts) StartSoundTag(*start, clip.instance_id);
        }
    }
}

void Player::Impl::ApplyPlace(DisplayObject& clip, const swf::PlaceObject& p, uint16_t frame) {
    DisplayObject* existing = clip.children.At(p.depth);
    const Character* character = p.character_id ? DictionaryOf(clip).Find(*p.character_id) : nullptr;
    auto place_new = [&](const DisplayObject* inherit) {
        if (!MayCreateUnder(clip)) return;
        auto o = CreateObject(*character, clip, p.depth);
        o->placed_frame = frame;
        if (inherit) {
            // A replaced character keeps the old one's place unless told otherwise.
            o->matrix = inherit->matrix;
            o->color_transform = inherit->color_transform;
            o->ratio = inherit->ratio;
            o->name = inherit->name;
            o->clip_depth = inherit->clip_depth;
        }
        SetAttributes(*o, p);
        NameUnnamed(*o);
        if (p.clip_actions) o->clip_actions = p.clip_actions;
        Attach(clip, std::move(o));
    };
    if (!p.is_move) {
        // The reference player refuses to place over an occupied depth and
        // says so in its trace output.
        if (existing) {
            Trace("Warning: Failed to place object at depth " + std::to_string(p.depth) + ".");
            return;
        }
        if (character) place_new(nullptr);
        return;
    }
    if (!existing) {
        if (character) place_new(nullptr);
        return;
    }
    if (character && existing->character != character && !existing->placed_by_script) {
        place_new(existing);
        return;
    }
    SetAttributes(*existing, p);
}

// Going back: the display list of the target frame is worked out from the
// tags, then compared with what is shown. Objects placed by the same tag
// stay (with their own timelines running on); the rest go or come anew.
void Player::Impl::Rebuild(DisplayObject& clip, uint16_t frame) {
    struct Wanted {
        uint16_t placed_frame = 0;
        swf::PlaceObject place;
    };
    std::map<int32_t, Wanted> wanted;
    const TimelineDef& def = *clip.sprite->timeline;
    for (uint32_t f = 0; f <= frame; ++f) {
        for (const FrameTag& tag : def.FrameTags(static_cast<uint16_t>(f))) {
            if (tag.IsPlace()) {
                const std::optional<swf::PlaceObject> unpacked = tag.Place(def.version);
                if (!unpacked) continue;
                const swf::PlaceObject* p = &*unpacked;
                auto it = wanted.find(p->depth);
                bool new_character = p->character_id && DictionaryOf(clip).Find(*p->character_id) &&
                                     (it == wanted.end() || it->second.place.character_id != p->character_id);
                if (!p->is_move && it != wanted.end()) {
                    // Refused over an occupied depth, as when played forwards.
                } else if (!p->is_move || it == wanted.end()) {
                    if (p->character_id && DictionaryOf(clip).Find(*p->character_id)) {
                        // A fresh placement: what it leaves out is the default.
                        Wanted w{static_cast<uint16_t>(f), *p};
                        if (!w.place.matrix) w.place.matrix = swf::Matrix{};
                        if (!w.place.color_transform) w.place.color_transform = swf::ColorTransform{};
                        if (!w.place.ratio) w.place.ratio = 0;
                        wanted[p->depth] = std::move(w);
                    }
                } else if (new_character) {
                    Wanted w{static_cast<uint16_t>(f), it->second.place};
                    w.place.clip_actions.reset();
                    Merge(w.place, *p);
                    w.place.clip_actions = p->clip_actions;
                    it->second = std::move(w);
                } else {
                    Merge(it->second.place, *p);
                }
            } else if (tag.code == 5 || tag.code == 28) {
                const swf::TagBody body = tag.Decode(def.version);
                if (auto* r = std::get_if<swf::RemoveObject>(&body)) wanted.erase(r->depth);
            }
        }
    }
    std::vector<int32_t> depths;
    for (const auto& [depth, o] : clip.children) depths.push_back(depth);
    for (int32_t depth : depths) {
        DisplayObject* o = clip.children.At(depth);
        if (!o || o->placed_by_script) continue;
        auto it = wanted.find(depth);
        if (it != wanted.end() && o->character && it->second.place.character_id == o->character->id &&
            it->second.placed_frame == o->placed_frame) {
            SetAttributes(*o, it->second.place);
            wanted.erase(it);
        } else {
            RemoveChild(clip, depth);
        }
    }
    for (auto& [depth, w] : wanted) {
        if (clip.children.At(depth)) continue;  // a script's object keeps its depth
        const Character* character = DictionaryOf(clip).Find(*w.place.character_id);
        if (!MayCreateUnder(clip)) break;
        auto o = CreateObject(*character, clip, depth);
        o->placed_frame = w.placed_frame;
        SetAttributes(*o, w.place);
        NameUnnamed(*o);
        o->clip_actions = w.place.clip_actions;
        Attach(clip, std::move(o));
    }
}

void Player::Impl::Goto(DisplayObject& clip, uint32_t frame) {
    if (!clip.sprite || !clip.sprite->timeline) return;
    SpriteState& s = *clip.sprite;
    const uint16_t last = static_cast<uint16_t>(s.timeline->frames.size() - 1);
    const uint16_t target = static_cast<uint16_t>(std::min<uint32_t>(frame, last));
    if (!s.entered) {
        EnterFirstFrame(clip);
        if (target == 0) return;
    }
    const uint16_t current = s.current_frame;
    if (target == current) return;
    if (target > current) {
        // Only the target frame's scripts run; clips created by the frames
        // passed over run theirs.
        for (uint32_t f = current + 1u; f <= target; ++f) {
            if (f == target) QueueInitScripts(clip, target);
            ApplyFrame(clip, static_cast<uint16_t>(f), f == target);
        }
    } else {
        QueueFrameScripts(clip, target);
        Rebuild(clip, target);
        StartFrameSounds(clip, target);
    }
    s.current_frame = target;
}

void Player::Impl::AdvanceClip(DisplayObject& clip) {
    SpriteState& s = *clip.sprite;
    if (!s.entered) {
        EnterFirstFrame(clip);
        return;
    }
    if (!s.playing) return;
    const TimelineDef& def = *s.timeline;
    uint32_t next = s.current_frame + 1u;
    if (next >= def.frames.size()) {
        if (!def.Loops()) return;
        // A single frame is never entered again.
        if (def.frames.size() == 1) return;
        if (&clip == root.get() && !loop) {
            s.playing = false;
            return;
        }
        next = 0;
    }
    Goto(clip, next);
}

void Player::Impl::Tick() {
    ++frames_shown;
    if (!scripts_enabled && movie.header.version >= 9) {
        static constexpr std::string_view kSkipped = "ActionScript 3 movie: its scripts are skipped";
        if (!root->sprite->entered) Log(kSkipped);
    }
    if (!root->sprite->entered) {
        EnterFirstFrame(*root);
        RunScripts();
        SyncSound();
        return;
    }
    // Newest timelines first; those created during this tick wait for the
    // next. The enterFrame handlers of the clips still there run before the
    // frame scripts.
    std::vector<uint64_t> order = clip_order;
    std::deque<PendingScript> frame_scripts;
    frame_scripts.swap(scripts);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (DisplayObject* clip = FindClip(*it)) AdvanceClip(*clip);
    }
    std::swap(frame_scripts, scripts);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (DisplayObject* clip = FindClip(*it)) QueueClipEvent(*clip, swf::kClipEventEnterFrame);
    }
    for (PendingScript& s : frame_scripts) scripts.push_back(s);
    RunScripts();
    SyncSound();
}

bool Player::Impl::TakeNextScript(PendingScript& next) {
    for (auto* urgent : {&unload_scripts, &initialize_scripts, &construct_scripts}) {
        if (!urgent->empty()) {
            next = urgent->front();
            urgent->erase(urgent->begin());
            return true;
        }
    }
    if (scripts.empty()) return false;
    next = scripts.front();
    scripts.pop_front();
    return true;
}

void Player::Impl::RunScripts() {
    size_t run = 0;
    PendingScript next;
    while (TakeNextScript(next)) {
        DisplayObject* clip = next.removed_clip ? next.removed_clip : FindClip(next.clip_id);
        if (!clip) continue;  // removed before its turn
        if (++run > kMaxScriptsPerTick) {
            Log("scripts keep going to other frames; the rest of this frame's scripts are skipped");
            scripts.clear();
            unload_scripts.clear();
            initialize_scripts.clear();
            construct_scripts.clear();
            break;
        }
        if (next.handler_event) script_host->ClipEvent(*this, *clip, next.handler_event);
        else script_host->Run(*this, *clip, next.actions, next.kind);
    }
    script_host->EndOfScripts();
    FinishLoads();
    // Clips the loads just emptied still wait for their unload scripts on the next frame.
    std::set<const DisplayObject*> waiting;
    for (const PendingScript& s : unload_scripts)
        if (s.removed_clip) waiting.insert(s.removed_clip);
    std::function<bool(DisplayObject&)> awaited = [&](DisplayObject& o) {
        if (waiting.count(&o)) return true;
        for (const auto& [depth, child] : o.children.objects())
            if (awaited(*child)) return true;
        return false;
    };
    std::erase_if(removed_objects, [&](const std::unique_ptr<DisplayObject>& o) { return !awaited(*o); });
    std::erase_if(clip_order, [this](uint64_t id) { return !clips.count(id); });
}

}  // namespace qm::flash
