// The player's sound: decoding every coding of the movie format into one
// mixer format (44100 Hz, stereo, signed 16-bit interleaved), the streams of
// timelines, and the mixer that plays event and stream sounds on a sample
// clock tied to the frames. Nothing here knows the display list; the player
// tells the mixer what starts and stops, and when.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "swf/swf.h"

namespace qm::flash::sound {

constexpr int kRate = 44100;
// A decoded sound is cut at this length (30 minutes, 300 MiB), so a damaged
// or hostile movie cannot make the player take all memory.
constexpr uint64_t kMaxFrames = uint64_t(kRate) * 60 * 30;

// A decoded sound at kRate, interleaved stereo.
struct Pcm {
    std::vector<int16_t> samples;
    bool mono = false;  // the source had one channel; both sides are equal
    size_t Frames() const { return samples.size() / 2; }
};

// Decoded samples at the source's own rate, before resampling.
struct NativePcm {
    std::vector<int16_t> samples;  // interleaved
    int channels = 1;
    // Twice the rate in Hz: the movie format's "5.5 kHz" is 5512.5 Hz.
    uint32_t rate_x2 = 2 * kRate;
};

struct DecodeResult {
    std::shared_ptr<const Pcm> pcm;  // null on failure
    std::string error;
};

// Twice the sample rate of a format: the exact rate of rate code 0.
uint32_t RateX2(const swf::SoundFormat& format);

// Uncompressed data: 8-bit unsigned or 16-bit little-endian.
NativePcm DecodeUncompressed(const swf::SoundFormat& format, std::span<const uint8_t> data);
// The movie format's ADPCM; `max_frames` 0 means as many as the data holds.
NativePcm DecodeAdpcm(const swf::SoundFormat& format, std::span<const uint8_t> data, size_t max_frames = 0);
// The last byte of ADPCM data may hold whole codes of padding: the fewest
// frames that need all `bytes` of data that decoded to `frames`.
size_t AdpcmFewestFrames(const swf::SoundFormat& format, size_t bytes, size_t frames);
// Splits MP3 data into whole frames (offset, size); a damaged or cut frame
// ends the list.
std::vector<std::pair<size_t, size_t>> Mp3Frames(std::span<const uint8_t> data);
// MP3, Nellymoser and Speex through the FFmpeg table. Empty samples and an
// error text when the decoder is missing or the data gives nothing.
NativePcm DecodeWithFfmpeg(const swf::SoundFormat& format, std::span<const uint8_t> data, std::string& error);

// Any coding at its own rate; false with an error text when nothing decodes.
bool DecodeNative(const swf::SoundFormat& format, std::span<const uint8_t> data, NativePcm& out,
                  std::string& error);

// To kRate stereo, by linear interpolation between source samples; a sound
// of n frames becomes ceil(n * kRate / rate) frames.
Pcm Resample(const NativePcm& in);

// A DefineSound, decoded. MP3 event sounds lose their encoder delay
// (SeekSamples); every sound is cut to its declared sample count when the
// data gives more.
DecodeResult DecodeEventSound(const swf::DefineSound& sound);

// The stream sound of one timeline: its blocks decoded as one sound, and
// where in it each frame begins.
struct Stream {
    std::shared_ptr<const Pcm> pcm;
    // Frame (zero-based) -> sample frame of pcm where the frame's sound
    // begins, for frames that carry a block with samples.
    std::map<uint16_t, uint64_t> frame_start;
    std::string error;  // why it has no sound, when pcm is null
};

// `blocks`: the timeline's block of each frame that has one, in frame order;
// `frame_rate`: the movie's, 8.8 fixed point.
Stream DecodeStream(const swf::SoundStreamHead& head,
                    const std::vector<std::pair<uint16_t, const swf::SoundStreamBlock*>>& blocks,
                    uint16_t frame_rate);

// Volume and balance applied to a channel, as gains (1.0 = unchanged).
struct Gains {
    double ll = 1, lr = 0, rl = 0, rr = 1;
    bool operator==(const Gains&) const = default;
};

// Plays sounds on an absolute sample clock: sample 0 is the start of the
// movie's first frame. A sound told to start at sample s sounds from s on,
// whenever Mix reaches it; one whose start has already been mixed past
// plays on from where it would be by now, so everything stays in step.
class Mixer {
public:
    struct EventStart {
        std::shared_ptr<const Pcm> pcm;
        uint16_t sound_id = 0;
        uint64_t owner = 0;     // the clip that started it
        uint64_t at = 0;        // absolute start sample
        uint64_t in = 0;        // first sample frame played of each loop
        uint64_t out = 0;       // end of each loop (exclusive); 0: the end of the sound
        uint64_t offset = 0;    // sample frames skipped at the start of the first loop
        uint32_t loops = 1;
        std::vector<swf::SoundEnvelopePoint> envelope;
    };
    // Gives a handle, never 0.
    uint64_t Start(EventStart start);
    // Sounds whose sound id (0: any) and owner (0: any) match stop at `at`.
    void Stop(uint16_t sound_id, uint64_t owner, uint64_t at);
    bool IsPlaying(uint16_t sound_id, uint64_t at) const;

    // The stream of a timeline instance: from sample `at` on, plays `pcm`
    // from sample frame `from`. Replaces what the owner streamed before.
    void StartStream(uint64_t owner, std::shared_ptr<const Pcm> pcm, uint64_t from, uint64_t at);
    void StopStream(uint64_t owner, uint64_t at);
    bool HasStream(uint64_t owner) const;

    // Handles: where the sound is at sample `at`, in sample frames into the
    // sound (offset and in point included, within the current loop), and
    // whether it is still sounding then.
    uint64_t PositionOf(uint64_t handle, uint64_t at) const;
    bool Sounding(uint64_t handle, uint64_t at) const;

    // Gains of each owner's channels; owners not given keep theirs
    // (unity to begin with).
    void SetGains(uint64_t owner, const Gains& gains);
    std::vector<uint64_t> Owners() const;

    void SetVolume(int volume);  // 0..100
    int Volume() const { return volume_; }
    void SetMuted(bool muted) { muted_ = muted; }
    bool Muted() const { return muted_; }

    // The next `count` sample frames, interleaved stereo.
    void Mix(int16_t* out, size_t count);
    uint64_t Position() const { return position_; }

private:
    // When a sound plays, on the absolute clock.
    struct Timing {
        uint64_t at = 0, in = 0, out = 0, offset = 0;
        uint32_t loops = 1;
        uint64_t stop_at = UINT64_MAX;
        uint64_t EndAt() const;  // where the last loop ends (or the stop), absolute
    };
    // The sample frame of the sound heard at absolute sample t (t >= at) and
    // how many frames it has played by then; false when it is over by t.
    static bool Locate(const Timing& timing, uint64_t t, uint64_t& frame, uint64_t& played);

    struct Channel {
        uint64_t handle = 0;  // 0: a stream
        uint64_t owner = 0;
        uint16_t sound_id = 0;
        Timing timing;
        std::shared_ptr<const Pcm> pcm;
        std::vector<swf::SoundEnvelopePoint> envelope;
    };
    void MixChannel(const Channel& channel, int32_t* acc, size_t count) const;

    std::vector<Channel> channels_;
    std::map<uint64_t, Gains> gains_;
    // Timings by handle, kept after the channel is gone for the scripts that
    // ask where it ended; the oldest are dropped beyond a bound.
    std::map<uint64_t, Timing> timings_;
    uint64_t next_handle_ = 1;
    uint64_t position_ = 0;
    int volume_ = 100;
    bool muted_ = false;
};

}  // namespace qm::flash::sound
