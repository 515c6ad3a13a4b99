// Movies loaded by scripts into clips (loadMovie, MovieClipLoader.loadClip),
// or pictures (JPEG, PNG, GIF) shown in them, and taken out again
// (unloadMovie). A file is read and parsed at the request, through the
// movie's gate; it takes the clip's place once the scripts of the frame that
// asked have run, so its first frame shows, and
// its first scripts run, on the next frame. Loads of one frame complete in
// the order asked. Nothing depends on the time a read takes, so every
// conversion of a movie loads on the same frames.
#include <algorithm>
#include <fstream>

#include "flash/player_impl.h"
#include "flash/render/render_parts.h"
#include "flash/url_gate.h"
#include "swf/limits.h"

namespace qm::flash {

const Dictionary& Player::Impl::DictionaryOf(const DisplayObject& clip) const {
    if (!loaded_into.empty()) {
        for (const DisplayObject* o = &clip; o; o = o->parent)
            if (auto it = loaded_into.find(o->instance_id); it != loaded_into.end()) return it->second->dictionary;
    }
    return dictionary;
}

uint8_t Player::Impl::ClipVersion(const DisplayObject& clip) const {
    for (const DisplayObject* o = &clip; o && !loaded_into.empty(); o = o->parent)
        if (auto it = loaded_into.find(o->instance_id); it != loaded_into.end()) return it->second->movie.header.version;
    return movie.header.version;
}

std::optional<std::string> Player::Impl::LoadMovie(DisplayObject& clip, std::string_view url, size_t* bytes_read) {
    if (!clip.sprite) return "the target is no movie clip";
    PendingLoad load;
    load.clip_id = clip.instance_id;
    if (auto error = ReadLoad(url, load, bytes_read)) return error;
    pending_loads.push_back(std::move(load));
    return std::nullopt;
}

DisplayObject* Player::Impl::Level(int32_t level) {
    if (level == 0) return root.get();
    return level > 0 ? levels.At(level) : nullptr;
}

std::vector<DisplayObject*> Player::Impl::UpperLevels() {
    std::vector<DisplayObject*> out;
    for (const auto& [level, o] : levels) out.push_back(o.get());
    return out;
}

std::optional<std::string> Player::Impl::LoadMovieNum(int32_t level, std::string_view url) {
    if (level < 0) return "URLNotFound";
    if (DisplayObject* at = Level(level)) return LoadMovie(*at, url, nullptr);
    PendingLoad load;
    load.level = level;
    if (auto error = ReadLoad(url, load, nullptr)) return error;
    pending_loads.push_back(std::move(load));
    return std::nullopt;
}

void Player::Impl::UnloadMovieNum(int32_t level) {
    if (level == 0) return UnloadMovie(*root);
    // A load into the level still on its way is called off too.
    std::erase_if(pending_loads, [&](const PendingLoad& l) { return l.clip_id == 0 && l.level == level; });
    if (level > 0 && levels.At(level)) {
        PendingLoad unload;
        unload.level = level;
        pending_loads.push_back(std::move(unload));
    }
}

std::optional<std::string> Player::Impl::ReadLoad(std::string_view url, PendingLoad& load, size_t* bytes_read) {
    UrlDecision gate = ConfineToMovieFolder(movie_folder, url);
    if (!gate.allowed) {
        Log("load refused: \"" + std::string(url) + "\": " + gate.reason);
        return "URLNotFound";
    }
    std::ifstream in(gate.path, std::ios::binary);
    std::vector<uint8_t> bytes;
    if (in) {
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            bytes.insert(bytes.end(), buffer, buffer + in.gcount());
            if (bytes.size() > limits::kMaxMovieFileBytes) {
                Log("load refused: \"" + std::string(url) + "\": the movie is too large");
                return "URLNotFound";
            }
        }
    }
    if (bytes_read) *bytes_read = bytes.size();
    const size_t file_bytes = bytes.size();
    // A picture is known by its first bytes, whatever its file is called.
    static constexpr uint8_t kPng[] = {0x89, 'P', 'N', 'G'}, kGif[] = {'G', 'I', 'F', '8'}, kJpeg[] = {0xFF, 0xD8};
    auto starts = [&](std::span<const uint8_t> signature) {
        return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
    };
    if (starts(kPng) || starts(kGif) || starts(kJpeg)) {
        // The older GIF version is a subset of the newer, the one the decoder knows.
        if (starts(kGif) && bytes.size() >= 6 && bytes[4] == '7' && bytes[5] == 'a') bytes[4] = '9';
        render::BitmapDecodeResult decoded = render::DecodeEmbeddedImage(bytes);
        if (!decoded.ok() || decoded.bitmap.empty()) {
            Log("loaded picture not shown: \"" + std::string(url) + "\": " + decoded.error);
            return "LoadNeverCompleted";
        }
        auto picture = std::make_shared<ScriptBitmap>();
        picture->width = decoded.bitmap.width;
        picture->height = decoded.bitmap.height;
        picture->transparent = !starts(kJpeg);
        picture->pixels = std::move(decoded.bitmap.pixels);
        load.picture = std::move(picture);
        load.picture_bytes = uint32_t(file_bytes);
        return std::nullopt;
    }
    swf::ParseResult parsed = swf::ParseMovieInPlace(std::move(bytes));
    if (!parsed.movie) {
        Log("loaded movie not played: \"" + std::string(url) + "\": " +
            (parsed.error ? parsed.error->message : std::string("the movie could not be read")));
        return "LoadNeverCompleted";
    }
    if (parsed.movie->IsActionScript3()) {
        Log("loaded movie not played: \"" + std::string(url) + "\": ActionScript 3 movies are not loaded into clips");
        return "LoadNeverCompleted";
    }
    load.movie = MovieDefinition::Build(std::move(*parsed.movie), file_bytes);
    return std::nullopt;
}

void Player::Impl::UnloadMovie(DisplayObject& clip) {
    if (!clip.sprite) return;
    // A level above 0 goes with its movie.
    if (!clip.parent && clip.depth > 0 && levels.At(clip.depth) == &clip) return UnloadMovieNum(clip.depth);
    std::erase_if(pending_loads, [&](const PendingLoad& l) { return l.clip_id == clip.instance_id; });
    PendingLoad unload;
    unload.clip_id = clip.instance_id;
    pending_loads.push_back(std::move(unload));
}

DisplayObject* Player::Impl::LevelForLoad(const PendingLoad& load) {
    if (DisplayObject* at = Level(load.level)) {
        if (load.movie || load.picture) return at;
        // Unloaded: the level goes, its clips hear their unload events.
        std::unique_ptr<DisplayObject> gone = levels.Take(load.level);
        Forget(*gone);
        removed_objects.push_back(std::move(gone));
        return nullptr;
    }
    if (!load.movie && !load.picture) return nullptr;
    auto level = std::make_unique<DisplayObject>();
    level->instance_id = next_instance_id++;
    level->depth = load.level;
    level->name = "_level" + std::to_string(load.level);
    level->character = &EmptyClipCharacter();
    level->sprite = std::make_unique<SpriteState>();
    level->sprite->timeline = &unloaded_timeline;
    ++live_objects;
    clips[level->instance_id] = level.get();
    clip_order.push_back(level->instance_id);
    DisplayObject* made = level.get();
    levels.Put(std::move(level));
    return made;
}

void Player::Impl::FinishLoads() {
    if (pending_loads.empty()) return;
    std::vector<PendingLoad> loads;
    loads.swap(pending_loads);
    for (PendingLoad& load : loads) {
        DisplayObject* clip = load.clip_id ? FindClip(load.clip_id) : LevelForLoad(load);
        if (!clip || !clip->sprite) continue;  // gone before its movie came
        std::vector<int32_t> depths;
        for (const auto& [depth, o] : clip->children) depths.push_back(depth);
        for (int32_t depth : depths) RemoveChild(*clip, depth);
        clip->drawing.reset();
        clip->bitmap.reset();
        SpriteState& s = *clip->sprite;
        picture_bytes.erase(clip->instance_id);
        if (load.movie) {
            loaded_into[clip->instance_id] = load.movie;
            loaded_movies.push_back(load.movie);
            s.timeline = &load.movie->root_timeline;
            s.entered = false;
            s.playing = true;
        } else if (load.picture) {
            // A picture: an empty timeline of one frame, showing it.
            loaded_into.erase(clip->instance_id);
            s.timeline = &unloaded_timeline;
            clip->bitmap = load.picture;
            picture_bytes[clip->instance_id] = load.picture_bytes;
            s.entered = true;
            s.playing = false;
        } else {
            // Unloaded: an empty timeline of one frame, as an empty clip's;
            // the clip hears its unload event, on the next frame.
            loaded_into.erase(clip->instance_id);
            s.timeline = &unloaded_timeline;
            QueueClipEvent(*clip, swf::kClipEventUnload);
            s.entered = true;
            s.playing = false;
        }
        s.current_frame = 0;
    }
}

uint16_t Player::Impl::AddSoundFile(std::span<const uint8_t> mp3, std::string& error) {
    // An id no character of the movie has, from the top down.
    uint16_t id = 0xFFFF;
    while (id > 0 && (dictionary.Find(id) || loaded_sounds.count(id))) --id;
    if (id == 0) {
        error = "too many sounds";
        return 0;
    }
    swf::DefineSound sound;
    sound.id = id;
    sound.format.codec = swf::SoundCodec::Mp3;
    sound.format.rate = 3;
    sound.format.is_stereo = true;
    sound.data.reserve(mp3.size() + 2);
    sound.data.insert(sound.data.end(), {0, 0});  // no samples to skip
    sound.data.insert(sound.data.end(), mp3.begin(), mp3.end());
    sound::DecodeResult decoded = sound::DecodeEventSound(sound);
    if (!decoded.pcm) {
        error = decoded.error;
        return 0;
    }
    loaded_sounds[id] = std::move(decoded.pcm);
    return id;
}

const swf::Rect& Player::Impl::ShownStage() const {
    if (auto it = loaded_into.find(root->instance_id); it != loaded_into.end()) return it->second->movie.header.frame_size;
    return movie.header.frame_size;
}

bool Player::Impl::ClipBytes(const DisplayObject& clip, bool as_stored, uint32_t& loaded, uint32_t& total) {
    loaded = total = 0;
    if (auto it = picture_bytes.find(clip.instance_id); it != picture_bytes.end()) {
        loaded = total = it->second;
        return true;
    }
    const MovieDefinition* shown = &clip == root.get() ? definition.get() : nullptr;
    if (auto it = loaded_into.find(clip.instance_id); it != loaded_into.end()) shown = it->second.get();
    if (shown) {
        if (as_stored) {
            loaded = total = shown->file_bytes;
        } else {
            // A header may promise more or less than the file holds.
            const swf::ParsedMovie& m = shown->movie;
            total = m.header.file_length;
            loaded = m.frames_in_place ? uint32_t(std::min<size_t>(total, m.data.size())) : total;
        }
        return true;
    }
    if (!clip.sprite) return false;
    // A sprite of a movie: the tags its definition holds.
    const swf::TagBody* defined = clip.character ? clip.character->definition : nullptr;
    if (!defined) return true;
    auto find_in = [&](const MovieDefinition& d) {
        for (const swf::Tag& tag : d.movie.tags) {
            if (&tag.body == defined) {
                loaded = total = uint32_t(d.movie.SpriteTagStream(tag).size());
                return true;
            }
        }
        return false;
    };
    if (find_in(*definition)) return true;
    for (const auto& movie : loaded_movies)
        if (find_in(*movie)) return true;
    return true;
}

}  // namespace qm::flash
