// The player's sound: decoding every coding of the movie format into one
// mixer format (44100 Hz, stereo, signed 16-bit interleaved), the streams of
// timelines, and the mixer that plays event and stream sounds on a sample
// clock tied to the frames. Nothing here knows the display list; the player
// tells the mixer what starts and stops, and when.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "swf/limits.h"
#include "swf/swf.h"

namespace qm::flash::sound {

constexpr int kRate = 44100;
// A sound decoded whole (an event sound) is cut at this length (30 minutes,
// 300 MiB), so a damaged or hostile movie cannot make the player take all
// memory. Streams are read as they play and need no such bound.
constexpr uint64_t kMaxFrames = uint64_t(kRate) * limits::kMaxSoundSeconds;

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

// A decoder of MP3, Nellymoser or Speex through the engine's FFmpeg table,
// fed packet by packet (the libraries are loaded on first use).
class FfmpegDecoder {
public:
    FfmpegDecoder();
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

    // False with an error text when the libraries or the decoder are missing.
    bool Open(const swf::SoundFormat& format, std::string& error);
    // Appends the packet's samples to `out`, interleaved; `max_frames`
    // (0: none) caps what `out` holds. A damaged packet gives nothing.
    void Decode(std::span<const uint8_t> packet, std::vector<int16_t>& out, uint64_t max_frames = 0);
    // What the decoder still holds, at the end of the data.
    void Finish(std::vector<int16_t>& out, uint64_t max_frames = 0);
    // Set by the first decoded frame; until then as the format says.
    int Channels() const { return channels_; }
    uint32_t RateX2() const { return rate_x2_; }
    const char* Name() const { return name_; }

private:
    struct State;
    void Receive(std::vector<int16_t>& out, uint64_t max_frames);
    std::unique_ptr<State> state_;
    int channels_ = 1;
    uint32_t rate_x2_ = 2 * kRate;
    bool rate_known_ = false;
    const char* name_ = "";
};

// The packets the FFmpeg decoders take from a sound's data, (offset, size):
// MP3 by its own frames, Nellymoser in whole 64-byte blocks, Speex frame by frame.
std::vector<std::pair<size_t, size_t>> FfmpegPackets(const swf::SoundFormat& format, std::span<const uint8_t> data);

// Like Mp3Frames, and where the scan stopped: the first byte of a frame cut
// by the end of the data, or of the last few bytes too short for a header.
std::vector<std::pair<size_t, size_t>> Mp3Frames(std::span<const uint8_t> data, size_t& stopped_at);
// The sample rate and channels of the MP3 frame whose header starts `data`.
bool Mp3FrameFormat(std::span<const uint8_t> data, uint32_t& rate_x2, int& channels);

// The blocks of a timeline's stream: the frame of each, and its bytes as the
// movie stores them, in frame order.
using StreamBlocks = std::vector<std::pair<uint16_t, std::span<const uint8_t>>>;

// The stream sound of one timeline, as it is read while it plays: the blocks
// stay in the movie and are decoded a little ahead of the mixer, so a stream
// of any length holds a few blocks of samples at once.
class StreamSource {
public:
    // `blocks`: the timeline's block of each frame that has one, in frame
    // order; their bytes must outlive the source. `frame_rate`: the movie's, 8.8
    // fixed point. Null with an error text when the stream cannot sound.
    static std::shared_ptr<const StreamSource> Make(
        const swf::SoundStreamHead& head, const StreamBlocks& blocks,
        uint16_t frame_rate, std::string& error);

    // Frame (zero-based) and the sample frame at kRate where its sound
    // begins, in frame order, for frames that carry a block with samples.
    // A flat list: a long movie has one for nearly every frame.
    const std::vector<std::pair<uint16_t, uint64_t>>& FrameStarts() const { return frame_start_; }
    // Where a frame's sound begins; nullopt for a frame without one.
    std::optional<uint64_t> FrameStart(uint16_t frame) const;
    // The length in sample frames at kRate when it is known without
    // decoding (every coding but MP3); 0 when only the reading finds it.
    uint64_t KnownFrames() const { return known_frames_; }
    bool Mono() const { return channels_ == 1; }

private:
    friend class StreamReader;
    struct Block {
        std::span<const uint8_t> data;  // MP3: without the block's four bytes of counts
        uint64_t start = 0;             // first source sample frame (not MP3)
        uint64_t frames = 0;            // source sample frames it gives (not MP3)
    };
    swf::SoundFormat format_;
    bool mp3_ = false;
    int channels_ = 1;
    uint32_t rate_x2_ = 2 * kRate;
    std::vector<Block> blocks_;  // MP3: every block with data; else the blocks that decode
    std::vector<std::pair<uint16_t, uint64_t>> frame_start_;
    uint64_t known_frames_ = 0;
};

// A place in a stream that moves forward as it is read. It holds the samples
// of the block being read and the next, nothing behind.
class StreamReader {
public:
    explicit StreamReader(std::shared_ptr<const StreamSource> source);
    ~StreamReader();
    // Writes up to `count` sample frames (interleaved stereo at kRate) from
    // sample frame `at` of the stream on, and gives how many there were:
    // fewer only at its end. Reading on from where the last read ended
    // costs nothing extra; a jump ahead decodes (MP3) or finds its block
    // (other codings); a jump back starts the decoding again.
    size_t Read(uint64_t at, int16_t* out, size_t count);
    // Source samples held now (interleaved values), for the bound on them.
    size_t HeldSamples() const { return native_.size(); }
    const StreamSource* Source() const { return source_.get(); }
    uint64_t Position() const { return position_; }

private:
    void Restart(uint64_t source_frame);
    // Decodes on until source frame `need` is held or the stream has ended,
    // dropping what lies before `keep_from`.
    void Fill(uint64_t need, uint64_t keep_from);
    void DecodeNextBlock();
    void Drop(uint64_t keep_from);
    uint64_t HeldEnd() const { return native_base_ + native_.size() / size_t(channels_); }

    std::shared_ptr<const StreamSource> source_;
    std::unique_ptr<FfmpegDecoder> decoder_;  // MP3
    std::vector<uint8_t> pending_;            // MP3 bytes not yet a whole frame
    std::vector<int16_t> native_;             // source samples from native_base_ on
    uint64_t native_base_ = 0;
    int channels_ = 1;
    uint32_t rate_x2_ = 2 * kRate;
    size_t next_block_ = 0;
    bool source_done_ = false;  // every block decoded: HeldEnd() is the length
    uint64_t position_ = 0;     // the sample frame at kRate the next read would start at
};

// The stream sound of one timeline decoded whole, and where in it each frame
// begins (cut at kMaxFrames, as every whole sound is).
struct Stream {
    std::shared_ptr<const Pcm> pcm;
    std::map<uint16_t, uint64_t> frame_start;
    std::string error;  // why it has no sound, when pcm is null
};

Stream DecodeStream(const swf::SoundStreamHead& head,
                    const StreamBlocks& blocks,
                    uint16_t frame_rate);

// Decoded event sounds by sound id, the least recently used dropped once
// their samples pass a limit in bytes (a sound bigger than the limit alone
// stays until the next one comes). A sound that cannot be decoded keeps its
// error, which takes next to nothing.
class DecodedSoundCache {
public:
    // 64 MiB: about six minutes of sound at kRate.
    static constexpr size_t kDefaultLimit = size_t(64) << 20;
    explicit DecodedSoundCache(size_t limit_bytes = kDefaultLimit) : limit_(limit_bytes) {}
    // Null when the id is not held (never decoded, or dropped).
    const DecodeResult* Find(uint16_t sound_id);
    const DecodeResult& Insert(uint16_t sound_id, DecodeResult result);
    size_t Bytes() const { return bytes_; }
    size_t Limit() const { return limit_; }

private:
    struct Entry {
        DecodeResult result;
        uint64_t used = 0;
    };
    static size_t SizeOf(const DecodeResult& r) { return r.pcm ? r.pcm->samples.size() * sizeof(int16_t) : 0; }
    size_t limit_;
    size_t bytes_ = 0;
    uint64_t clock_ = 0;
    std::map<uint16_t, Entry> entries_;
};

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

    // The stream of a timeline instance: from sample `at` on, plays `source`
    // from sample frame `from`, reading it as the mixing reaches it.
    // Replaces what the owner streamed before.
    void StartStream(uint64_t owner, std::shared_ptr<const StreamSource> source, uint64_t from, uint64_t at);
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
    // Moves on as Mix does, with nothing heard, read or decoded: for a
    // player whose sound nobody hears.
    void Skip(uint64_t count);
    uint64_t Position() const { return position_; }
    // Channels held: sounding, or waiting for their start.
    size_t Channels() const { return channels_.size(); }

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
        std::shared_ptr<const Pcm> pcm;  // event sounds
        std::shared_ptr<const StreamSource> stream;
        std::unique_ptr<StreamReader> reader;  // made by the first mixing
        std::vector<swf::SoundEnvelopePoint> envelope;
    };
    void MixChannel(Channel& channel, int32_t* acc, size_t count);
    // A reader of `source` that can go on to `at` without starting over:
    // from a stream that has been mixed to its end, or a spare one.
    std::unique_ptr<StreamReader> ReaderFor(const std::shared_ptr<const StreamSource>& source, uint64_t at);
    void Erase();
    std::vector<int16_t> stream_samples_;  // a stream's part of one Mix
    // Readers of streams that ended or were stopped, for a stream that
    // starts again where it was (MP3 would otherwise decode from the start).
    std::vector<std::unique_ptr<StreamReader>> spare_readers_;

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
