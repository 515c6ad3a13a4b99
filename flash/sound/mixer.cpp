// The mixer: channels on an absolute sample clock, their envelopes and
// gains, summed with saturation.
#include <algorithm>
#include <cmath>

#include "flash/sound/sound.h"

namespace qm::flash::sound {

namespace {

// Handles whose timings are kept for position queries.
constexpr size_t kKeptTimings = 4096;
// Event sounds heard at once; beyond them a new sound stays silent, so a
// movie that starts long sounds every frame cannot slow mixing down.
constexpr size_t kMaxEventChannels = 64;
// The end of a stream whose length only its reading finds.
constexpr uint64_t kOpenEnd = UINT64_MAX / 4;

// Envelope levels (0..32768) at a position, interpolated linearly between
// points; before the first point its level holds, after the last the last.
void EnvelopeAt(const std::vector<swf::SoundEnvelopePoint>& env, uint64_t pos, double& left, double& right) {
    auto it = std::upper_bound(env.begin(), env.end(), pos,
                               [](uint64_t p, const swf::SoundEnvelopePoint& e) { return p < e.pos44; });
    if (it == env.begin()) {
        left = env.front().left;
        right = env.front().right;
    } else if (it == env.end()) {
        left = env.back().left;
        right = env.back().right;
    } else {
        const auto& a = *(it - 1);
        const auto& b = *it;
        const double f = double(pos - a.pos44) / double(b.pos44 - a.pos44);
        left = a.left + (double(b.left) - a.left) * f;
        right = a.right + (double(b.right) - a.right) * f;
    }
    left /= 32768.0;
    right /= 32768.0;
}

}  // namespace

uint64_t Mixer::Timing::EndAt() const {
    uint64_t end = stop_at;
    if (out > in + offset) {
        const uint64_t first = out - in - offset;
        const uint64_t length = first + uint64_t(loops - 1) * (out - in);
        end = std::min(end, at + length);
    } else {
        end = std::min(end, at);
    }
    return end;
}

bool Mixer::Locate(const Timing& t, uint64_t when, uint64_t& frame, uint64_t& played) {
    if (when >= t.EndAt() || when < t.at) return false;
    played = when - t.at;
    const uint64_t first = t.out - t.in - t.offset;
    if (played < first) {
        frame = t.in + t.offset + played;
    } else {
        frame = t.in + (played - first) % (t.out - t.in);
    }
    return true;
}

uint64_t Mixer::Start(EventStart s) {
    Channel c;
    c.handle = next_handle_++;
    c.owner = s.owner;
    c.sound_id = s.sound_id;
    const uint64_t frames = s.pcm ? s.pcm->Frames() : 0;
    c.timing.at = s.at;
    c.timing.out = s.out == 0 || s.out > frames ? frames : s.out;
    c.timing.in = std::min(s.in, c.timing.out);
    c.timing.offset = std::min(s.offset, c.timing.out - c.timing.in);
    c.timing.loops = std::max<uint32_t>(s.loops, 1);
    c.pcm = std::move(s.pcm);
    c.envelope = std::move(s.envelope);
    std::stable_sort(c.envelope.begin(), c.envelope.end(),
                     [](const auto& a, const auto& b) { return a.pos44 < b.pos44; });
    const auto sounding = std::count_if(channels_.begin(), channels_.end(), [&](const Channel& other) {
        return other.handle && other.timing.EndAt() > c.timing.at;
    });
    if (size_t(sounding) >= kMaxEventChannels) c.timing.stop_at = c.timing.at;
    timings_[c.handle] = c.timing;
    if (timings_.size() > kKeptTimings) timings_.erase(timings_.begin());
    const uint64_t handle = c.handle;
    if (c.timing.EndAt() > std::max(c.timing.at, position_)) channels_.push_back(std::move(c));
    return handle;
}

void Mixer::Stop(uint16_t sound_id, uint64_t owner, uint64_t at) {
    for (Channel& c : channels_) {
        if (c.handle == 0) continue;
        if ((sound_id && c.sound_id != sound_id) || (owner && c.owner != owner)) continue;
        c.timing.stop_at = std::min(c.timing.stop_at, at);
        auto it = timings_.find(c.handle);
        if (it != timings_.end()) it->second.stop_at = c.timing.stop_at;
    }
}

bool Mixer::IsPlaying(uint16_t sound_id, uint64_t at) const {
    return std::any_of(channels_.begin(), channels_.end(), [&](const Channel& c) {
        return c.handle && c.sound_id == sound_id && c.timing.at <= at && at < c.timing.EndAt();
    });
}

void Mixer::StartStream(uint64_t owner, std::shared_ptr<const StreamSource> source, uint64_t from, uint64_t at) {
    StopStream(owner, at);
    if (!source) return;
    const uint64_t known = source->KnownFrames();
    if (known && from >= known) return;
    Channel c;
    c.owner = owner;
    c.timing.at = at;
    c.timing.in = 0;
    c.timing.offset = from;
    // An MP3 stream's end is found as it is read.
    c.timing.out = known ? known : kOpenEnd;
    c.stream = std::move(source);
    channels_.push_back(std::move(c));
}

void Mixer::StopStream(uint64_t owner, uint64_t at) {
    for (Channel& c : channels_) {
        if (c.handle == 0 && c.owner == owner) c.timing.stop_at = std::min(c.timing.stop_at, at);
    }
}

bool Mixer::HasStream(uint64_t owner) const {
    return std::any_of(channels_.begin(), channels_.end(), [&](const Channel& c) {
        return c.handle == 0 && c.owner == owner && c.timing.stop_at == UINT64_MAX;
    });
}

uint64_t Mixer::PositionOf(uint64_t handle, uint64_t at) const {
    auto it = timings_.find(handle);
    if (it == timings_.end()) return 0;
    const Timing& t = it->second;
    if (at < t.at) return t.in + t.offset;
    uint64_t frame = 0, played = 0;
    if (Locate(t, at, frame, played)) return frame;
    // Over: where it stopped, or the end of its last loop.
    const uint64_t end = t.EndAt();
    if (end <= t.at) return t.in + t.offset;
    if (Locate(t, end - 1, frame, played)) return frame + 1;
    return t.out;
}

bool Mixer::Sounding(uint64_t handle, uint64_t at) const {
    auto it = timings_.find(handle);
    return it != timings_.end() && at < it->second.EndAt();
}

void Mixer::SetGains(uint64_t owner, const Gains& gains) {
    if (gains == Gains{}) gains_.erase(owner);
    else gains_[owner] = gains;
}

std::vector<uint64_t> Mixer::Owners() const {
    std::vector<uint64_t> owners;
    for (const Channel& c : channels_) {
        if (std::find(owners.begin(), owners.end(), c.owner) == owners.end()) owners.push_back(c.owner);
    }
    return owners;
}

void Mixer::SetVolume(int volume) { volume_ = std::clamp(volume, 0, 100); }

void Mixer::MixChannel(Channel& c, int32_t* acc, size_t count) {
    Gains g;
    if (auto it = gains_.find(c.owner); it != gains_.end()) g = it->second;
    const bool plain = c.envelope.empty() && g == Gains{};
    const uint64_t end = c.timing.EndAt();
    const uint64_t first = std::max(position_, c.timing.at);
    uint64_t last = std::min(position_ + count, end);
    if (first >= last) return;
    const int16_t* pcm = nullptr;
    uint64_t stream_start = 0;  // the stream's frame heard at `first`, pcm's first frame
    if (c.stream) {
        // A stream plays once, straight on from its offset: read just
        // what this mixing hears.
        if (!c.reader) c.reader = ReaderFor(c.stream, c.timing.offset + (first - c.timing.at));
        stream_start = c.timing.offset + (first - c.timing.at);
        const size_t wanted = size_t(last - first);
        stream_samples_.resize(wanted * 2);
        const size_t got = c.reader->Read(stream_start, stream_samples_.data(), wanted);
        if (got < wanted) {
            // Its end: the channel goes once mixed past it.
            c.timing.out = stream_start + got;
            last = first + got;
        }
        pcm = stream_samples_.data();
    } else {
        pcm = c.pcm->samples.data();
    }
    for (uint64_t t = first; t < last; ++t) {
        uint64_t frame = 0, played = 0;
        if (c.stream) {
            frame = t - first;
        } else if (!Locate(c.timing, t, frame, played)) {
            break;
        }
        const size_t i = size_t(t - position_) * 2;
        double l = pcm[frame * 2], r = pcm[frame * 2 + 1];
        if (plain) {
            acc[i] += int32_t(l);
            acc[i + 1] += int32_t(r);
            continue;
        }
        if (!c.envelope.empty()) {
            double el = 1, er = 1;
            // Envelope positions count from the start of the sound over
            // every loop played.
            EnvelopeAt(c.envelope, c.timing.in + c.timing.offset + played, el, er);
            if (c.pcm->mono) el = er = (el + er) / 2;
            l *= el;
            r *= er;
        }
        // Scripts may set any transform; a sample far beyond full scale is
        // only clipped later, so it is held where the sums cannot overflow.
        constexpr double kLoudest = 1 << 20;
        const double ol = std::clamp(l * g.ll + r * g.rl, -kLoudest, kLoudest);
        const double orr = std::clamp(l * g.lr + r * g.rr, -kLoudest, kLoudest);
        acc[i] += int32_t(std::lrint(ol));
        acc[i + 1] += int32_t(std::lrint(orr));
    }
}

void Mixer::Mix(int16_t* out, size_t count) {
    // Long requests go in pieces: the sums need memory of their own.
    constexpr size_t kPiece = 65536;
    while (count > kPiece) {
        Mix(out, kPiece);
        out += kPiece * 2;
        count -= kPiece;
    }
    std::vector<int32_t> acc(count * 2, 0);
    for (Channel& c : channels_) MixChannel(c, acc.data(), count);
    const bool silent = muted_ || volume_ == 0;
    for (size_t i = 0; i < acc.size(); ++i) {
        const int32_t v = silent ? 0 : volume_ == 100 ? acc[i] : acc[i] * volume_ / 100;
        out[i] = int16_t(std::clamp<int32_t>(v, -32768, 32767));
    }
    position_ += count;
    Erase();
}

void Mixer::Skip(uint64_t count) {
    position_ += count;
    Erase();
}

void Mixer::Erase() {
    constexpr size_t kSpareReaders = 4;
    for (Channel& c : channels_) {
        if (c.reader && c.timing.EndAt() <= position_) {
            spare_readers_.push_back(std::move(c.reader));
            if (spare_readers_.size() > kSpareReaders) spare_readers_.erase(spare_readers_.begin());
        }
    }
    std::erase_if(channels_, [this](const Channel& c) { return c.timing.EndAt() <= position_; });
}

std::unique_ptr<StreamReader> Mixer::ReaderFor(const std::shared_ptr<const StreamSource>& source, uint64_t at) {
    std::unique_ptr<StreamReader>* best = nullptr;
    auto consider = [&](std::unique_ptr<StreamReader>& r) {
        if (r && r->Source() == source.get() && r->Position() <= at && (!best || (*best)->Position() < r->Position()))
            best = &r;
    };
    for (Channel& c : channels_) {
        if (c.reader && c.timing.EndAt() <= position_) consider(c.reader);
    }
    for (auto& r : spare_readers_) consider(r);
    if (!best) return std::make_unique<StreamReader>(source);
    std::unique_ptr<StreamReader> taken = std::move(*best);
    std::erase(spare_readers_, nullptr);
    return taken;
}

}  // namespace qm::flash::sound
