// What scripts may ask of the player: finding clips by path and moving their
// timelines.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

#include "flash/player_impl.h"
#include "flash/url_gate.h"
#include "swf/limits.h"

namespace qm::flash {

namespace {

bool NamesMatch(std::string_view a, std::string_view b, bool case_sensitive) {
    if (case_sensitive) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

DisplayObject* Player::Impl::ResolveTarget(DisplayObject& from, std::string_view path) {
    const bool case_sensitive = movie.header.version >= 7;
    // A clip that has been removed reaches nothing any more, not even _root.
    if (!IsLive(from)) return nullptr;
    DisplayObject* at = &from;
    if (path.empty()) return at;
    // The root of a clip is its level's: a movie loaded into level 1 has its own.
    DisplayObject* own_root = &from;
    for (int guard = 0; own_root->parent && guard < 100000; ++guard) own_root = own_root->parent;
    if (path.front() == '/') {
        at = own_root;
        path.remove_prefix(1);
    }
    // Slash and dot separated parts alike.
    while (!path.empty() && at) {
        std::string_view part;
        if (path.starts_with("..")) {
            part = path.substr(0, 2);
            path.remove_prefix(2);
        } else {
            size_t cut = path.find_first_of("/.");
            part = path.substr(0, cut);
            path = cut == std::string_view::npos ? std::string_view() : path.substr(cut);
        }
        if (!path.empty() && (path.front() == '/' || path.front() == '.')) path.remove_prefix(1);
        // Two separators in a row name nothing.
        if (part.empty()) return nullptr;
        if (part == "..") {
            at = at->parent;
        } else if (NamesMatch(part, "_parent", case_sensitive)) {
            at = at->parent;
        } else if (NamesMatch(part, "_root", case_sensitive)) {
            at = own_root;
        } else if (NamesMatch(part, "this", case_sensitive)) {
            // stays
        } else if (part.size() > 6 && NamesMatch(part.substr(0, 6), "_level", case_sensitive)) {
            int level = -1;
            std::from_chars(part.data() + 6, part.data() + part.size(), level);
            at = Level(level);
        } else {
            DisplayObject* found = nullptr;
            for (const auto& [depth, child] : at->children) {
                if (!child->name.empty() && NamesMatch(child->name, part, case_sensitive)) {
                    found = child.get();
                    break;
                }
            }
            at = found;
        }
    }
    return at;
}

void Player::Impl::Play(DisplayObject& clip) {
    if (clip.sprite) clip.sprite->playing = true;
}

void Player::Impl::Stop(DisplayObject& clip) {
    if (clip.sprite) clip.sprite->playing = false;
}

bool Player::Impl::IsLive(const DisplayObject& object) const {
    return &object == root.get() || clips.count(object.instance_id) || buttons.count(object.instance_id);
}

void Player::Impl::GotoFrame(DisplayObject& clip, uint32_t frame, bool play) {
    // A removed clip's timeline no longer moves: it would place objects
    // nothing shows and nothing frees.
    if (!clip.sprite || !IsLive(clip)) return;
    Goto(clip, frame);
    clip.sprite->playing = play;
}

bool Player::Impl::GotoLabel(DisplayObject& clip, std::string_view label, bool play) {
    if (!clip.sprite || !clip.sprite->timeline || !IsLive(clip)) return false;
    int frame = clip.sprite->timeline->FrameOfLabel(label);
    if (frame < 0) return false;
    GotoFrame(clip, static_cast<uint32_t>(frame), play);
    return true;
}

std::vector<std::span<const uint8_t>> Player::Impl::FrameScripts(DisplayObject& clip, uint32_t frame) {
    std::vector<std::span<const uint8_t>> lists;
    if (!clip.sprite || !clip.sprite->timeline || !IsLive(clip)) return lists;
    const auto& frames = clip.sprite->timeline->frames;
    if (frame >= frames.size()) return lists;
    for (const FrameTag& tag : clip.sprite->timeline->FrameTags(static_cast<uint16_t>(frame))) {
        if (tag.IsAction()) lists.emplace_back(tag.body);
    }
    return lists;
}

void Player::Impl::NextFrame(DisplayObject& clip) {
    if (!clip.sprite) return;
    GotoFrame(clip, clip.sprite->current_frame + 1u, false);
}

void Player::Impl::PrevFrame(DisplayObject& clip) {
    if (!clip.sprite) return;
    uint32_t current = clip.sprite->current_frame;
    GotoFrame(clip, current > 0 ? current - 1 : 0, false);
}

DisplayObject* Player::Impl::CreateClip(DisplayObject& parent, uint16_t character_id, int32_t depth,
                                       std::string_view name) {
    const Character* character = dictionary.Find(character_id);
    if (!character || !IsLive(parent) || !MayCreateUnder(parent)) return nullptr;
    auto o = CreateObject(*character, parent, depth);
    o->name = std::string(name);
    o->placed_by_script = true;
    DisplayObject* created = o.get();
    Attach(parent, std::move(o));
    return created;
}

DisplayObject* Player::Impl::CreateScripted(DisplayObject& parent, const Character& character, int32_t depth,
                                            std::string_view name) {
    if (!IsLive(parent) || !MayCreateUnder(parent)) return nullptr;
    auto o = CreateObject(character, parent, depth);
    o->name = std::string(name);
    o->placed_by_script = true;
    DisplayObject* created = o.get();
    Attach(parent, std::move(o));
    return created;
}

DisplayObject* Player::Impl::CreateEmptyClip(DisplayObject& parent, int32_t depth, std::string_view name) {
    return CreateScripted(parent, EmptyClipCharacter(), depth, name);
}

const Character& Player::Impl::EmptyClipCharacter() {
    if (!empty_clip_character) {
        // One shared definition: a sprite of one frame with no tags.
        auto& body = script_definitions.emplace_back(swf::Sprite{0, 1, {}});
        auto* sprite = std::get_if<swf::Sprite>(&body);
        sprite_timelines.emplace(sprite, TimelineDef::Build({}, MovieVersion(), 1));
        Character& c = script_characters.emplace_back();
        c.definition = &body;
        empty_clip_character = &c;
    }
    return *empty_clip_character;
}

DisplayObject* Player::Impl::CreateTextField(DisplayObject& parent, int32_t depth, std::string_view name,
                                            const swf::EditText& definition) {
    if (!IsLive(parent) || !MayCreateUnder(parent)) return nullptr;
    auto& body = script_definitions.emplace_back(definition);
    Character& c = script_characters.emplace_back();
    c.definition = &body;
    return CreateScripted(parent, c, depth, name);
}

swf::EditText* Player::Impl::OwnTextDefinition(DisplayObject& field) {
    if (!field.character || !field.character->As<swf::EditText>()) return nullptr;
    for (auto it = script_characters.rbegin(); it != script_characters.rend(); ++it)
        if (&*it == field.character && it->definition)
            return swf::BodyIf<swf::EditText>(*const_cast<swf::TagBody*>(it->definition));
    // The movie's definition is shared by every instance: this one gets a copy.
    auto& body = script_definitions.emplace_back(*field.character->As<swf::EditText>());
    Character& c = script_characters.emplace_back(*field.character);
    c.definition = &body;
    field.character = &c;
    return swf::BodyIf<swf::EditText>(body);
}

std::optional<std::string> Player::Impl::ReadLocalFile(std::string_view url) {
    if (url.empty()) return std::nullopt;
    UrlDecision gate = ConfineToMovieFolder(movie_folder, url);
    if (!gate.allowed) {
        Log("load refused: \"" + std::string(url) + "\": " + gate.reason);
        return std::nullopt;
    }
    std::ifstream in(gate.path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, size_t(in.gcount()));
        if (text.size() > limits::kMaxScriptFileBytes) {
            Log("file too large for a script: \"" + std::string(url) + "\"");
            return std::nullopt;
        }
    }
    return text;
}

void Player::Impl::RemoveClip(DisplayObject& object) {
    // Objects without a timeline (text fields) live as long as their parent does.
    bool live = IsLive(object) || (!object.sprite && object.parent && IsLive(*object.parent));
    if (object.parent && live && object.parent->children.At(object.depth) == &object) {
        RemoveChild(*object.parent, object.depth);
    }
}

void Player::Impl::Trace(std::string_view text) {
    if (!trace_sink) return;
    // The reference player's trace log ends a line at every carriage return.
    std::string line(text);
    std::replace(line.begin(), line.end(), '\r', '\n');
    trace_sink->Trace(line);
}

// Every request passes the gate; even one it lets through is only logged,
// since this player opens no windows and has no levels beyond the first.
void Player::Impl::GetUrl(std::string_view url, std::string_view target) {
    std::string request = "\"" + std::string(url) + "\" for \"" + std::string(target) + "\"";
    if (IsFsCommand(url)) {
        Log("FSCommand ignored, no program is run for a movie: " + request);
        return;
    }
    UrlDecision gate = ConfineToMovieFolder(movie_folder, url);
    if (!gate.allowed) Log("get URL refused: " + request + ": " + gate.reason);
    else Log("get URL ignored: " + request);
}

void Player::Impl::Log(std::string_view line) {
    if (log_sink) log_sink(line);
}

}  // namespace qm::flash
