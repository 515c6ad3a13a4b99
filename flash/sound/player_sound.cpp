// The player's side of sound: sound tags of the timelines, button sounds,
// the streams that follow their timelines, the sound calls of scripts, and
// the gains of clips, all on the sample clock of the frames.
#include <algorithm>
#include <cmath>

#include "flash/player_impl.h"

namespace qm::flash {

namespace {

// A 2x2 gain matrix times volume: the transform of one clip.
sound::Gains GainsOf(const ScriptEnvironment::SoundTransform& t) {
    const double v = t.volume / 100.0;
    return {t.ll / 100.0 * v, t.lr / 100.0 * v, t.rl / 100.0 * v, t.rr / 100.0 * v};
}

// outer applied after inner.
sound::Gains Combine(const sound::Gains& outer, const sound::Gains& inner) {
    return {outer.ll * inner.ll + outer.rl * inner.lr, outer.lr * inner.ll + outer.rr * inner.lr,
            outer.ll * inner.rl + outer.rl * inner.rr, outer.lr * inner.rl + outer.rr * inner.rr};
}

uint64_t MsToSamples(double ms) { return ms <= 0 ? 0 : uint64_t(ms * sound::kRate / 1000.0); }
uint32_t SamplesToMs(uint64_t samples) { return uint32_t(samples * 1000 / sound::kRate); }

}  // namespace

uint64_t Player::Impl::SoundNow() const {
    if (frames_shown == 0) return 0;
    const uint64_t rate = movie.header.frame_rate ? movie.header.frame_rate : 256;
    return (frames_shown - 1) * uint64_t(sound::kRate) * 256 / rate;
}

std::shared_ptr<const sound::Pcm> Player::Impl::DecodedSound(uint16_t sound_id) {
    if (auto it = loaded_sounds.find(sound_id); it != loaded_sounds.end()) return it->second;
    const sound::DecodeResult* held = decoded_sounds.Find(sound_id);
    if (!held) {
        const Character* c = dictionary.Find(sound_id);
        const swf::DefineSound* def = c ? c->As<swf::DefineSound>() : nullptr;
        if (!def) return nullptr;
        held = &decoded_sounds.Insert(sound_id, sound::DecodeEventSound(*def));
        if (!held->pcm) Log("sound " + std::to_string(sound_id) + " is not played: " + held->error);
    }
    return held->pcm;
}

void Player::Impl::PlaySoundInfo(uint16_t sound_id, const swf::SoundInfo& info, uint64_t owner) {
    const uint64_t now = SoundNow();
    if (info.sync_stop) {
        mixer.Stop(sound_id, 0, now);
        return;
    }
    if (info.sync_no_multiple && mixer.IsPlaying(sound_id, now)) return;
    auto pcm = DecodedSound(sound_id);
    if (!pcm) return;
    sound::Mixer::EventStart start;
    start.pcm = std::move(pcm);
    start.sound_id = sound_id;
    start.owner = owner;
    start.at = now;
    // In and out points count 44.1 kHz samples, as envelope positions do.
    start.in = info.in_point.value_or(0);
    start.out = info.out_point.value_or(0);
    start.loops = std::max<uint32_t>(info.loop_count, 1);
    if (info.envelope) start.envelope = *info.envelope;
    mixer.Start(std::move(start));
}

void Player::Impl::StartSoundTag(const swf::StartSound& start, uint64_t owner) {
    uint16_t id = start.sound_id;
    if (start.class_name) {
        // StartSound2 names its sound by the class it is bound to.
        id = 0;
        for (const swf::Tag& tag : movie.tags) {
            if (auto* symbols = std::get_if<swf::SymbolClass>(&tag.body)) {
                for (const auto& s : symbols->symbols) {
                    if (s.name == *start.class_name) id = s.character_id;
                }
            }
        }
        if (!id) id = ExportedSound(*start.class_name);
        if (!id) return;
    }
    PlaySoundInfo(id, start.info, owner);
}

void Player::Impl::ButtonSoundFor(const DisplayObject& button, uint16_t condition) {
    const swf::ButtonSound* sounds = button.character ? button.character->button_sound : nullptr;
    if (!sounds) return;
    int slot = -1;
    switch (condition) {
    case swf::kCondOverUpToIdle: slot = 0; break;
    case swf::kCondIdleToOverUp: slot = 1; break;
    case swf::kCondOverUpToOverDown: slot = 2; break;
    case swf::kCondOverDownToOverUp: slot = 3; break;
    default: return;
    }
    if (!sounds->sound_ids[size_t(slot)]) return;
    const DisplayObject* owner = button.parent;
    while (owner && !owner->sprite) owner = owner->parent;
    PlaySoundInfo(sounds->sound_ids[size_t(slot)], sounds->infos[size_t(slot)], owner ? owner->instance_id : 0);
}

void Player::Impl::StartFrameSounds(DisplayObject& clip, uint16_t frame) {
    const TimelineDef& def = *clip.sprite->timeline;
    for (const FrameTag& tag : def.FrameTags(frame)) {
        if (tag.code != 15 && tag.code != 89) continue;
        const swf::TagBody body = tag.Decode(def.version);
        if (auto* start = swf::BodyIf<swf::StartSound>(body)) StartSoundTag(*start, clip.instance_id);
    }
}

std::shared_ptr<const sound::StreamSource> Player::Impl::StreamOf(const TimelineDef& timeline) {
    auto it = streams.find(&timeline);
    if (it != streams.end()) return it->second;
    std::optional<swf::SoundStreamHead> head;
    // The blocks are read where the movie stores them, not copied.
    sound::StreamBlocks blocks;
    blocks.reserve(timeline.frames.size());
    for (size_t f = 0; f < timeline.frames.size(); ++f) {
        bool block_seen = false;
        for (const FrameTag& tag : timeline.FrameTags(uint16_t(f))) {
            if (tag.code == 18 || tag.code == 45) {
                if (head) continue;
                const swf::TagBody body = tag.Decode(timeline.version);
                if (auto* h = std::get_if<swf::SoundStreamHead>(&body)) head = *h;
            } else if (tag.IsStreamBlock()) {
                // One block per frame; blocks before the head have no format.
                if (head && !block_seen) blocks.emplace_back(uint16_t(f), tag.body);
                block_seen = true;
            }
        }
    }
    std::shared_ptr<const sound::StreamSource> stream;
    if (head && !blocks.empty()) {
        std::string error;
        stream = sound::StreamSource::Make(*head, blocks, movie.header.frame_rate, error);
        if (!stream) Log("the stream sound is not played: " + error);
    }
    streams.emplace(&timeline, stream);
    return stream;
}

void Player::Impl::SyncSound() {
    const uint64_t now = SoundNow();
    // Streams follow their timelines: on from where they are while the
    // timeline moves one frame on, from the frame's own place after a
    // jump, and silent while it stands still. A player whose sound nobody
    // hears (a render worker) needs no stream, nor the index of one.
    for (const auto& entry : clips) {
        if (sound_discarded) break;
        // Named apart from the binding: lambdas cannot capture bindings before clang 16.
        const auto& id = entry.first;
        const auto& clip = entry.second;
        if (!clip->sprite || !clip->sprite->timeline || !clip->sprite->entered) continue;
        std::shared_ptr<const sound::StreamSource> stream = StreamOf(*clip->sprite->timeline);
        if (!stream) continue;
        const uint16_t frame = clip->sprite->current_frame;
        auto start_here = [&] {
            if (auto start = stream->FrameStart(frame)) mixer.StartStream(id, stream, *start, now);
            else mixer.StopStream(id, now);
        };
        auto place = stream_places.find(id);
        if (place == stream_places.end()) {
            start_here();
        } else if (place->second.tick == frames_shown) {
            if (place->second.frame != frame) start_here();  // a goto later in the same frame
        } else if (frame == place->second.frame) {
            mixer.StopStream(id, now);
        } else if (frame == place->second.frame + 1 && mixer.HasStream(id)) {
            // Playing on.
        } else {
            start_here();
        }
        stream_places[id] = {frame, frames_shown};
    }
    for (auto it = stream_places.begin(); it != stream_places.end();) {
        if (clips.count(it->first)) {
            ++it;
            continue;
        }
        mixer.StopStream(it->first, now);
        it = stream_places.erase(it);
    }
    // Each owner's gains: its own transform, then its parents', then the
    // movie's.
    auto global = sound_transforms.find(0);
    const sound::Gains global_gains = global == sound_transforms.end() ? sound::Gains{} : GainsOf(global->second);
    for (uint64_t owner : mixer.Owners()) {
        sound::Gains gains;
        for (const DisplayObject* o = owner ? FindClip(owner) : nullptr; o; o = o->parent) {
            auto t = sound_transforms.find(o->instance_id);
            if (t != sound_transforms.end()) gains = Combine(GainsOf(t->second), gains);
        }
        mixer.SetGains(owner, Combine(global_gains, gains));
    }
    std::erase_if(sound_transforms, [this](const auto& entry) { return entry.first && !FindClip(entry.first); });
}

// --- ScriptEnvironment

uint16_t Player::Impl::ExportedSound(std::string_view name) {
    // Linkage names are matched without regard to case, as scripts' names are.
    for (const auto& [export_name, id] : dictionary.Exports()) {
        if (export_name.size() != name.size()) continue;
        bool same = std::equal(export_name.begin(), export_name.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
        const Character* c = same ? dictionary.Find(id) : nullptr;
        if (c && c->As<swf::DefineSound>()) return id;
    }
    return 0;
}

uint64_t Player::Impl::StartSound(DisplayObject* clip, uint16_t sound_id, double offset_seconds, int loops) {
    auto pcm = DecodedSound(sound_id);
    if (!pcm) return 0;
    sound::Mixer::EventStart start;
    start.pcm = std::move(pcm);
    start.sound_id = sound_id;
    start.owner = clip ? clip->instance_id : 0;
    start.at = SoundNow();
    start.offset = std::isfinite(offset_seconds) ? MsToSamples(offset_seconds * 1000.0) : 0;
    start.loops = uint32_t(std::clamp(loops, 1, 0x7FFFFFFF));
    const uint64_t handle = mixer.Start(std::move(start));
    SyncSound();
    return handle;
}

void Player::Impl::StopSounds(DisplayObject* clip, uint16_t sound_id) {
    mixer.Stop(sound_id, clip ? clip->instance_id : 0, SoundNow());
}

ScriptEnvironment::SoundTransform Player::Impl::GetSoundTransform(const DisplayObject* clip) {
    auto it = sound_transforms.find(clip ? clip->instance_id : 0);
    return it == sound_transforms.end() ? SoundTransform{} : it->second;
}

void Player::Impl::SetSoundTransform(DisplayObject* clip, const SoundTransform& transform) {
    sound_transforms[clip ? clip->instance_id : 0] = transform;
    SyncSound();
}

void Player::Impl::SetSoundPan(DisplayObject* clip, int32_t pan) {
    SoundTransform t = GetSoundTransform(clip);
    t.ll = pan > 0 ? 100 - pan : 100;
    t.rr = pan < 0 ? 100 + pan : 100;
    t.lr = t.rl = 0;
    SetSoundTransform(clip, t);
}

int32_t Player::Impl::SoundPan(const DisplayObject* clip) {
    const SoundTransform t = GetSoundTransform(clip);
    return t.rr - t.ll;
}

uint32_t Player::Impl::SoundDurationMs(uint16_t sound_id) {
    const Character* c = dictionary.Find(sound_id);
    const swf::DefineSound* def = c ? c->As<swf::DefineSound>() : nullptr;
    if (!def) {
        auto it = loaded_sounds.find(sound_id);
        // To the nearest, as a file's length is given.
        return it != loaded_sounds.end() ? uint32_t((uint64_t(it->second->Frames()) * 1000 + sound::kRate / 2) / sound::kRate) : 0;
    }
    if (def->sample_count) {
        const uint64_t rate_x2 = sound::RateX2(def->format);
        return uint32_t((uint64_t(def->sample_count) * 2000 + rate_x2 / 2) / rate_x2);  // to the nearest
    }
    auto pcm = DecodedSound(sound_id);
    return pcm ? SamplesToMs(pcm->Frames()) : 0;
}

uint32_t Player::Impl::SoundPositionMs(uint64_t handle) { return SamplesToMs(mixer.PositionOf(handle, SoundNow())); }

bool Player::Impl::SoundPlaying(uint64_t handle) { return mixer.Sounding(handle, SoundNow()); }

}  // namespace qm::flash
