// Decoding the movie format's own codings (uncompressed, ADPCM), the MP3
// frame layout, resampling to the mixer's rate, and event sounds as whole
// decoded sounds.
#include <algorithm>
#include <array>

#include "flash/sound/sound.h"

namespace qm::flash::sound {

namespace {

constexpr int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kIndex2[] = {-1, 2};
constexpr int kIndex3[] = {-1, -1, 2, 4};
constexpr int kIndex4[] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kIndex5[] = {-1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 4, 6, 8, 10, 13, 16};

// Most significant bit first, over byte boundaries.
class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> data) : data_(data) {}
    size_t Left() const { return data_.size() * 8 - pos_; }
    uint32_t Read(int bits) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i) {
            v = (v << 1) | ((data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u);
            ++pos_;
        }
        return v;
    }

private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

struct AdpcmChannel {
    int sample = 0;
    int index = 0;
};

int16_t AdpcmStep(AdpcmChannel& ch, uint32_t code, int bits) {
    const int* table = bits == 2 ? kIndex2 : bits == 3 ? kIndex3 : bits == 4 ? kIndex4 : kIndex5;
    const uint32_t sign = 1u << (bits - 1);
    const uint32_t magnitude = code & (sign - 1);
    const int step = kSteps[ch.index];
    int diff = step >> (bits - 1);
    for (int k = bits - 2; k >= 0; --k) {
        if (magnitude & (1u << k)) diff += step >> (bits - 2 - k);
    }
    ch.sample = std::clamp(code & sign ? ch.sample - diff : ch.sample + diff, -32768, 32767);
    ch.index = std::clamp(ch.index + table[magnitude], 0, 88);
    return int16_t(ch.sample);
}

constexpr int kMp3Bitrates[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},  // MPEG 1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},      // MPEG 2, 2.5
};
constexpr int kMp3Rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

// G.711, as FLV numbers it: 7 A-law, 8 mu-law.
constexpr auto kAlaw = swf::SoundCodec(7);
constexpr auto kMulaw = swf::SoundCodec(8);

int16_t FromAlaw(uint8_t byte) {
    const int a = byte ^ 0x55;
    const int exponent = (a >> 4) & 7, mantissa = a & 0x0F;
    const int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
    return int16_t(a & 0x80 ? magnitude : -magnitude);
}

int16_t FromMulaw(uint8_t byte) {
    const int u = ~byte & 0xFF;
    const int exponent = (u >> 4) & 7, mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return int16_t(u & 0x80 ? -magnitude : magnitude);
}

NativePcm DecodeG711(const swf::SoundFormat& format, std::span<const uint8_t> data) {
    NativePcm pcm;
    pcm.channels = format.is_stereo ? 2 : 1;
    pcm.rate_x2 = RateX2(format);
    const size_t count = data.size() / size_t(pcm.channels) * size_t(pcm.channels);
    pcm.samples.reserve(count);
    for (size_t i = 0; i < count; ++i)
        pcm.samples.push_back(format.codec == kAlaw ? FromAlaw(data[i]) : FromMulaw(data[i]));
    return pcm;
}

}  // namespace

uint32_t RateX2(const swf::SoundFormat& format) {
    if (format.codec == swf::SoundCodec::Nellymoser16k || format.codec == swf::SoundCodec::Speex) return 32000;
    if (format.codec == swf::SoundCodec::Nellymoser8k) return 16000;
    static constexpr uint32_t kRates[4] = {11025, 22050, 44100, 88200};
    return kRates[format.rate & 3];
}

NativePcm DecodeUncompressed(const swf::SoundFormat& format, std::span<const uint8_t> data) {
    NativePcm pcm;
    pcm.channels = format.is_stereo ? 2 : 1;
    pcm.rate_x2 = RateX2(format);
    const size_t bytes = format.is_16bit ? 2 : 1;
    const size_t frames = data.size() / (bytes * size_t(pcm.channels));
    pcm.samples.resize(frames * size_t(pcm.channels));
    for (size_t i = 0; i < pcm.samples.size(); ++i) {
        // 8-bit samples are unsigned around 128.
        pcm.samples[i] = format.is_16bit ? int16_t(uint16_t(data[2 * i] | (data[2 * i + 1] << 8)))
                                         : int16_t((int(data[i]) - 128) << 8);
    }
    return pcm;
}

NativePcm DecodeAdpcm(const swf::SoundFormat& format, std::span<const uint8_t> data, size_t max_frames) {
    NativePcm pcm;
    pcm.channels = format.is_stereo ? 2 : 1;
    pcm.rate_x2 = RateX2(format);
    if (data.empty()) return pcm;
    BitReader in(data);
    const int bits = int(in.Read(2)) + 2;
    const size_t channels = size_t(pcm.channels);
    const size_t header_bits = 22 * channels;
    std::array<AdpcmChannel, 2> state{};
    auto full = [&] { return max_frames && pcm.samples.size() >= max_frames * channels; };
    while (in.Left() >= header_bits && !full()) {
        // Each packet: an initial sample and index per channel, then up to
        // 4095 codes per channel.
        for (size_t c = 0; c < channels; ++c) {
            state[c].sample = int16_t(uint16_t(in.Read(16)));
            state[c].index = std::min<int>(int(in.Read(6)), 88);
            pcm.samples.push_back(int16_t(state[c].sample));
        }
        for (int n = 0; n < 4095 && in.Left() >= size_t(bits) * channels && !full(); ++n) {
            for (size_t c = 0; c < channels; ++c) pcm.samples.push_back(AdpcmStep(state[c], in.Read(bits), bits));
        }
    }
    if (max_frames) pcm.samples.resize(std::min(pcm.samples.size(), max_frames * channels));
    return pcm;
}

size_t AdpcmFewestFrames(const swf::SoundFormat& format, size_t bytes, size_t frames) {
    if (bytes == 0) return 0;
    const size_t channels = format.is_stereo ? 2 : 1;
    // The code size is in the first byte; the caller decoded with it.
    auto bits_for = [&](size_t n, size_t bits) {
        const size_t packets = (n + 4095) / 4096;
        return 2 + packets * 22 * channels + (n - packets) * bits * channels;
    };
    for (size_t bits = 2; bits <= 5; ++bits) {
        if ((bits_for(frames, bits) + 7) / 8 != bytes) continue;
        while (frames > 0 && (bits_for(frames - 1, bits) + 7) / 8 == bytes) --frames;
        return frames;
    }
    return frames;
}

std::vector<std::pair<size_t, size_t>> Mp3Frames(std::span<const uint8_t> data) {
    size_t stopped_at = 0;
    return Mp3Frames(data, stopped_at);
}

std::vector<std::pair<size_t, size_t>> Mp3Frames(std::span<const uint8_t> data, size_t& stopped_at) {
    std::vector<std::pair<size_t, size_t>> frames;
    size_t pos = 0;
    while (pos + 4 <= data.size()) {
        const uint32_t h = uint32_t(data[pos]) << 24 | uint32_t(data[pos + 1]) << 16 | uint32_t(data[pos + 2]) << 8 |
                           data[pos + 3];
        if ((h >> 21) != 0x7FF) {
            // Some writers leave a stray byte between frames: look for the
            // next sync word.
            ++pos;
            continue;
        }
        const uint32_t version = (h >> 19) & 3, layer = (h >> 17) & 3, bitrate = (h >> 12) & 15,
                       rate = (h >> 10) & 3, padding = (h >> 9) & 1;
        if (version == 1 || layer != 1 || bitrate == 0 || bitrate == 15 || rate == 3) {
            ++pos;
            continue;
        }
        const bool mpeg1 = version == 3;
        const int sample_rate = kMp3Rates[version == 3 ? 0 : version == 2 ? 1 : 2][rate];
        const size_t size = size_t((mpeg1 ? 144 : 72) * kMp3Bitrates[mpeg1 ? 0 : 1][bitrate] * 1000 / sample_rate) + padding;
        if (pos + size > data.size()) break;
        frames.emplace_back(pos, size);
        pos += size;
    }
    stopped_at = pos;
    return frames;
}

bool Mp3FrameFormat(std::span<const uint8_t> data, uint32_t& rate_x2, int& channels) {
    if (data.size() < 4) return false;
    const uint32_t h = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
    const uint32_t version = (h >> 19) & 3, rate = (h >> 10) & 3, mode = (h >> 6) & 3;
    if ((h >> 21) != 0x7FF || version == 1 || rate == 3) return false;
    rate_x2 = uint32_t(kMp3Rates[version == 3 ? 0 : version == 2 ? 1 : 2][rate]) * 2;
    channels = mode == 3 ? 1 : 2;
    return true;
}

bool DecodeNative(const swf::SoundFormat& format, std::span<const uint8_t> data, NativePcm& out,
                  std::string& error) {
    switch (format.codec) {
    case swf::SoundCodec::UncompressedNativeEndian:
    case swf::SoundCodec::UncompressedLittleEndian: out = DecodeUncompressed(format, data); break;
    case swf::SoundCodec::Adpcm: out = DecodeAdpcm(format, data); break;
    case kAlaw:
    case kMulaw: out = DecodeG711(format, data); break;
    case swf::SoundCodec::Mp3:
    case swf::SoundCodec::Nellymoser16k:
    case swf::SoundCodec::Nellymoser8k:
    case swf::SoundCodec::Nellymoser:
    case swf::SoundCodec::Speex: out = DecodeWithFfmpeg(format, data, error); break;
    default:
        error = "sound coding " + std::to_string(int(format.codec)) + " is not supported";
        return false;
    }
    if (out.samples.empty() && error.empty()) error = "the sound holds no samples";
    return error.empty();
}

Pcm Resample(const NativePcm& in) {
    Pcm out;
    out.mono = in.channels == 1;
    const size_t channels = size_t(std::max(in.channels, 1));
    const size_t frames = in.samples.size() / channels;
    if (frames == 0 || in.rate_x2 == 0) return out;
    auto at = [&](size_t frame, size_t side) {
        return int32_t(in.samples[frame * channels + (channels == 1 ? 0 : side)]);
    };
    const uint64_t out_rate_x2 = 2 * kRate;
    if (in.rate_x2 == out_rate_x2) {
        const size_t kept = size_t(std::min<uint64_t>(frames, kMaxFrames));
        out.samples.resize(kept * 2);
        for (size_t i = 0; i < kept; ++i) {
            out.samples[2 * i] = int16_t(at(i, 0));
            out.samples[2 * i + 1] = int16_t(at(i, 1));
        }
        return out;
    }
    const uint64_t out_frames = std::min(kMaxFrames, (uint64_t(frames) * out_rate_x2 + in.rate_x2 - 1) / in.rate_x2);
    out.samples.resize(size_t(out_frames) * 2);
    for (uint64_t j = 0; j < out_frames; ++j) {
        // Source position j * rate / kRate, as a whole part and a fraction
        // of out_rate_x2.
        const uint64_t num = j * in.rate_x2;
        const size_t i = size_t(num / out_rate_x2);
        const int64_t frac = int64_t(num % out_rate_x2);
        const size_t next = std::min(i + 1, frames - 1);
        for (size_t side = 0; side < 2; ++side) {
            const int64_t a = at(i, side), b = at(next, side);
            out.samples[size_t(j) * 2 + side] = int16_t(a + (b - a) * frac / int64_t(out_rate_x2));
        }
    }
    return out;
}

DecodeResult DecodeEventSound(const swf::DefineSound& sound) {
    DecodeResult result;
    std::span<const uint8_t> data = sound.data;
    size_t skip = 0;
    if (sound.format.codec == swf::SoundCodec::Mp3) {
        if (data.size() < 2) {
            result.error = "the MP3 sound is empty";
            return result;
        }
        skip = size_t(std::max<int16_t>(int16_t(uint16_t(data[0] | (data[1] << 8))), 0));
        data = data.subspan(2);
    }
    NativePcm native;
    if (!DecodeNative(sound.format, data, native, result.error)) return result;
    const size_t channels = size_t(native.channels);
    const size_t frames = native.samples.size() / channels;
    skip = std::min(skip, frames);
    size_t keep = frames - skip;
    if (sound.sample_count) keep = std::min<size_t>(keep, sound.sample_count);
    if (skip || keep < frames) {
        native.samples.erase(native.samples.begin(), native.samples.begin() + std::ptrdiff_t(skip * channels));
        native.samples.resize(keep * channels);
    }
    if (native.samples.empty()) {
        result.error = "the sound holds no samples";
        return result;
    }
    result.pcm = std::make_shared<Pcm>(Resample(native));
    return result;
}

}  // namespace qm::flash::sound
