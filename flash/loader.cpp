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

std::optional<std::string> Player::Impl::LoadMovie(DisplayObject& clip, std::string_view url, size_t* bytes_read) {
    if (!clip.sprite) return "the target is no movie clip";
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
        pending_loads.push_back({clip.instance_id, nullptr, std::move(picture), uint32_t(file_bytes)});
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
    pending_loads.push_back({clip.instance_id, MovieDefinition::Build(std::move(*parsed.movie), file_bytes)});
    return std::nullopt;
}

void Player::Impl::UnloadMovie(DisplayObject& clip) {
    if (!clip.sprite) return;
    std::erase_if(pending_loads, [&](const PendingLoad& l) { return l.clip_id == clip.instance_id; });
    pending_loads.push_back({clip.instance_id, nullptr});
}

void Player::Impl::FinishLoads() {
    if (pending_loads.empty()) return;
    std::vector<PendingLoad> loads;
    loads.swap(pending_loads);
    for (PendingLoad& load : loads) {
        DisplayObject* clip = FindClip(load.clip_id);
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
