// Timelines: placing and removing objects frame by frame, going to frames
// in both directions, and the order in which timelines advance and their
// scripts run.
#include <algorithm>
#include <map>

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

std::unique_ptr<DisplayObject> Player::Impl::CreateObject(const Character& character, DisplayObject& parent,
                                                          int32_t depth) {
    auto o = std::make_unique<DisplayObject>();
    o->instance_id = next_instance_id++;
    o->character = &character;
    o->parent = &parent;
    o->depth = depth;
    if (auto* sprite = character.As<swf::Sprite>()) {
        o->sprite = std::make_unique<SpriteState>();
        auto it = sprite_timelines.find(sprite);
        if (it != sprite_timelines.end()) o->sprite->timeline = &it->second;
    } else if (auto* button = character.As<swf::Button>()) {
        o->button = std::make_unique<ButtonState>();
        o->button->button = button;
    }
    return o;
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
        EnterFirstFrame(o);
    }
    if (o.button) {
        buttons[o.instance_id] = &o;
        BuildButtonChildren(o);
    }
    QueueClipEvent(o, swf::kClipEventLoad);
}

void Player::Impl::Forget(DisplayObject& object) {
    for (auto& [depth, child] : object.children.objects()) Forget(*child);
    clips.erase(object.instance_id);
    buttons.erase(object.instance_id);
    if (hover_button == object.instance_id) hover_button = 0;
    if (pressed_button == object.instance_id) pressed_button = 0;
}

void Player::Impl::RemoveChild(DisplayObject& parent, int32_t depth) {
    std::unique_ptr<DisplayObject> old = parent.children.Take(depth);
    if (old) Forget(*old);
}

void Player::Impl::QueueFrameScripts(DisplayObject& clip, uint16_t frame) {
    if (!scripts_enabled) return;
    const FrameDef& f = clip.sprite->timeline->frames[frame];
    for (const swf::DoInitAction* init : f.init_actions) {
        if (init_actions_done.insert(init).second) {
            scripts.push_back({clip.instance_id, init->actions, ScriptKind::Init});
        }
    }
    for (const swf::ActionBytes* actions : f.actions) {
        scripts.push_back({clip.instance_id, *actions, ScriptKind::Frame});
    }
}

void Player::Impl::QueueClipEvent(DisplayObject& object, uint32_t event) {
    if (!scripts_enabled || !object.clip_actions || !object.sprite) return;
    for (const auto& record : object.clip_actions->records) {
        if (record.events & event) scripts.push_back({object.instance_id, record.actions, ScriptKind::ClipEvent});
    }
}

// A timeline's frame scripts are queued before the objects of the frame are
// placed, so a parent's scripts run before those of the clips it creates.
void Player::Impl::EnterFirstFrame(DisplayObject& clip) {
    SpriteState& s = *clip.sprite;
    s.entered = true;
    s.current_frame = 0;
    QueueFrameScripts(clip, 0);
    ApplyFrame(clip, 0);
}

void Player::Impl::ApplyFrame(DisplayObject& clip, uint16_t frame) {
    const FrameDef& f = clip.sprite->timeline->frames[frame];
    for (const swf::Tag* tag : f.control_tags) {
        if (auto* place = std::get_if<swf::PlaceObject>(&tag->body)) {
            ApplyPlace(clip, *place, frame);
        } else if (auto* remove = std::get_if<swf::RemoveObject>(&tag->body)) {
            DisplayObject* o = clip.children.At(remove->depth);
            if (o && !o->placed_by_script) RemoveChild(clip, remove->depth);
        } else if (auto* bg = std::get_if<swf::SetBackgroundColor>(&tag->body)) {
            if (&clip == root.get()) background = bg->color;
        }
    }
}

void Player::Impl::ApplyPlace(DisplayObject& clip, const swf::PlaceObject& p, uint16_t frame) {
    DisplayObject* existing = clip.children.At(p.depth);
    const Character* character = p.character_id ? dictionary.Find(*p.character_id) : nullptr;
    auto place_new = [&](const DisplayObject* inherit) {
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
        if (p.clip_actions) o->clip_actions = p.clip_actions;
        Attach(clip, std::move(o));
    };
    if (!p.is_move) {
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
    for (uint16_t f = 0; f <= frame; ++f) {
        for (const swf::Tag* tag : def.frames[f].control_tags) {
            if (auto* p = std::get_if<swf::PlaceObject>(&tag->body)) {
                auto it = wanted.find(p->depth);
                bool new_character = p->character_id && dictionary.Find(*p->character_id) &&
                                     (it == wanted.end() || it->second.place.character_id != p->character_id);
                if (!p->is_move || it == wanted.end()) {
                    if (p->character_id && dictionary.Find(*p->character_id)) {
                        // A fresh placement: what it leaves out is the default.
                        Wanted w{f, *p};
                        if (!w.place.matrix) w.place.matrix = swf::Matrix{};
                        if (!w.place.color_transform) w.place.color_transform = swf::ColorTransform{};
                        if (!w.place.ratio) w.place.ratio = 0;
                        wanted[p->depth] = std::move(w);
                    }
                } else if (new_character) {
                    Wanted w{f, it->second.place};
                    w.place.clip_actions.reset();
                    Merge(w.place, *p);
                    w.place.clip_actions = p->clip_actions;
                    it->second = std::move(w);
                } else {
                    Merge(it->second.place, *p);
                }
            } else if (auto* r = std::get_if<swf::RemoveObject>(&tag->body)) {
                wanted.erase(r->depth);
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
        const Character* character = dictionary.Find(*w.place.character_id);
        auto o = CreateObject(*character, clip, depth);
        o->placed_frame = w.placed_frame;
        SetAttributes(*o, w.place);
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
    QueueFrameScripts(clip, target);
    if (target > current) {
        for (uint32_t f = current + 1u; f <= target; ++f) ApplyFrame(clip, static_cast<uint16_t>(f));
    } else {
        Rebuild(clip, target);
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
        // Frames the header promised but the file lacks never arrive: wait.
        if (!def.Complete()) return;
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
    if (!scripts_enabled && movie.header.version >= 9) {
        static constexpr std::string_view kSkipped = "ActionScript 3 movie: its scripts are skipped";
        if (!root->sprite->entered) Log(kSkipped);
    }
    if (!root->sprite->entered) {
        EnterFirstFrame(*root);
        RunScripts();
        return;
    }
    // Newest timelines first; those created during this tick wait for the next.
    std::vector<uint64_t> order = clip_order;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        DisplayObject* clip = FindClip(*it);
        if (!clip) continue;
        QueueClipEvent(*clip, swf::kClipEventEnterFrame);
        AdvanceClip(*clip);
    }
    RunScripts();
    std::erase_if(clip_order, [this](uint64_t id) { return !clips.count(id); });
}

void Player::Impl::RunScripts() {
    size_t run = 0;
    while (!scripts.empty()) {
        PendingScript next = scripts.front();
        scripts.pop_front();
        DisplayObject* clip = FindClip(next.clip_id);
        if (!clip) continue;  // removed before its turn
        if (++run > kMaxScriptsPerTick) {
            Log("scripts keep going to other frames; the rest of this frame's scripts are skipped");
            scripts.clear();
            break;
        }
        script_host->Run(*this, *clip, next.actions, next.kind);
    }
}

}  // namespace qm::flash
