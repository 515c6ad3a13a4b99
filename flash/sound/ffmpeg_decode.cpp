// MP3, Nellymoser and Speex through the engine's FFmpeg table: the
// libraries are loaded on first use; nothing links them.
#include <algorithm>
#include <cmath>

#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "flash/sound/sound.h"

namespace qm::flash::sound {

namespace {

using engine::FF;

constexpr engine::TLibrarySet kCodecLibraries =
    engine::LibraryBit(engine::libAVUtil) | engine::LibraryBit(engine::libAVCodec);

int16_t ToS16(float v) {
    return int16_t(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
}

// Appends a decoded frame's samples, interleaved, whatever its layout.
void Append(const AVFrame& frame, std::vector<int16_t>& out) {
    const int channels = frame.ch_layout.nb_channels;
    const auto format = AVSampleFormat(frame.format);
    const bool planar = FF.av_sample_fmt_is_planar(format);
    for (int i = 0; i < frame.nb_samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int plane = planar ? c : 0;
            const int index = planar ? i : i * channels + c;
            const uint8_t* data = frame.extended_data[plane];
            int16_t v = 0;
            switch (FF.av_get_packed_sample_fmt(format)) {
            case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(data)[index]; break;
            case AV_SAMPLE_FMT_S32: v = int16_t(reinterpret_cast<const int32_t*>(data)[index] >> 16); break;
            case AV_SAMPLE_FMT_FLT: v = ToS16(reinterpret_cast<const float*>(data)[index]); break;
            case AV_SAMPLE_FMT_DBL: v = ToS16(float(reinterpret_cast<const double*>(data)[index])); break;
            case AV_SAMPLE_FMT_U8: v = int16_t((int(data[index]) - 128) << 8); break;
            default: break;
            }
            out.push_back(v);
        }
    }
}

// The length in bytes of the first Speex frame: its narrowband layer and,
// when present, its wideband layer, each of a size fixed by its mode.
// Frames are taken to keep their modes and to start on whole bytes, as the
// encoders of the movie format write them. 0 when the frame is not understood.
size_t SpeexFrameBytes(std::span<const uint8_t> data) {
    static constexpr int kNarrowBits[9] = {5, 43, 119, 160, 220, 300, 364, 492, 79};
    static constexpr int kWideBits[5] = {4, 36, 112, 192, 352};
    auto bit = [&](size_t at) -> int { return at / 8 < data.size() ? (data[at / 8] >> (7 - at % 8)) & 1 : 0; };
    auto bits = [&](size_t at, int n) {
        int v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | bit(at + size_t(i));
        return v;
    };
    if (data.empty() || bit(0)) return 0;
    const int narrow = bits(1, 4);
    if (narrow > 8) return 0;
    size_t length = size_t(kNarrowBits[narrow]);
    if (bit(length)) {
        const int wide = bits(length + 1, 3);
        if (wide > 4) return 0;
        length += size_t(kWideBits[wide]);
    }
    return (length + 7) / 8;
}

}  // namespace

struct FfmpegDecoder::State {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVCodecID id = AV_CODEC_ID_NONE;
    std::vector<uint8_t> buffer;
    ~State() {
        if (frame) FF.av_frame_free(&frame);
        if (packet) FF.av_packet_free(&packet);
        if (context) FF.avcodec_free_context(&context);
    }
};

FfmpegDecoder::FfmpegDecoder() = default;
FfmpegDecoder::~FfmpegDecoder() = default;

bool FfmpegDecoder::Open(const swf::SoundFormat& format, std::string& error) {
    state_.reset();
    channels_ = format.is_stereo ? 2 : 1;
    rate_x2_ = sound::RateX2(format);
    rate_known_ = false;
    if (!engine::FFLoader().LibsLoaded(kCodecLibraries) && !engine::FFLoader().LoadLibs(kCodecLibraries)) {
        error = "the sound cannot be decoded: " + engine::FFLoader().LastError();
        return false;
    }
    AVCodecID id = AV_CODEC_ID_NONE;
    int rate = int(rate_x2_ / 2);
    int channels = channels_;
    switch (format.codec) {
    case swf::SoundCodec::Mp3: id = AV_CODEC_ID_MP3, name_ = "MP3"; break;
    case swf::SoundCodec::Nellymoser16k:
    case swf::SoundCodec::Nellymoser8k:
    case swf::SoundCodec::Nellymoser: id = AV_CODEC_ID_NELLYMOSER, name_ = "Nellymoser", channels = 1; break;
    case swf::SoundCodec::Speex: id = AV_CODEC_ID_SPEEX, name_ = "Speex", channels = 1, rate = 16000; break;
    default: error = "sound coding " + std::to_string(int(format.codec)) + " is not decoded here"; return false;
    }
    const AVCodec* codec = FF.avcodec_find_decoder(id);
    if (!codec) {
        error = std::string("no ") + name_ + " decoder is available";
        return false;
    }
    auto state = std::make_unique<State>();
    state->id = id;
    state->context = FF.avcodec_alloc_context3(codec);
    state->packet = FF.av_packet_alloc();
    state->frame = FF.av_frame_alloc();
    if (!state->context || !state->packet || !state->frame) {
        error = "out of memory";
        return false;
    }
    state->context->sample_rate = rate;
    FF.av_channel_layout_default(&state->context->ch_layout, channels);
    if (FF.avcodec_open2(state->context, codec, nullptr) < 0) {
        error = std::string("the ") + name_ + " decoder cannot be opened";
        return false;
    }
    state_ = std::move(state);
    return true;
}

void FfmpegDecoder::Receive(std::vector<int16_t>& out, uint64_t max_frames) {
    State& s = *state_;
    while (FF.avcodec_receive_frame(s.context, s.frame) >= 0) {
        if (s.frame->ch_layout.nb_channels > 0 && s.frame->sample_rate > 0) {
            if (!rate_known_) {
                channels_ = s.frame->ch_layout.nb_channels;
                rate_x2_ = uint32_t(s.frame->sample_rate) * 2;
                rate_known_ = true;
            }
            // A stream that changes its layout midway keeps the first.
            if (s.frame->ch_layout.nb_channels == channels_ &&
                (max_frames == 0 || out.size() / size_t(channels_) < max_frames))
                Append(*s.frame, out);
        }
        FF.av_frame_unref(s.frame);
    }
}

void FfmpegDecoder::Decode(std::span<const uint8_t> packet, std::vector<int16_t>& out, uint64_t max_frames) {
    if (!state_) return;
    State& s = *state_;
    // A padded copy: decoders may read a little past a packet's end.
    s.buffer.assign(packet.begin(), packet.end());
    s.buffer.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    s.packet->data = s.buffer.data();
    s.packet->size = int(packet.size());
    // A damaged packet is skipped; the rest of the sound still plays.
    FF.avcodec_send_packet(s.context, s.packet);
    s.packet->data = nullptr;
    s.packet->size = 0;
    Receive(out, max_frames);
}

void FfmpegDecoder::Finish(std::vector<int16_t>& out, uint64_t max_frames) {
    if (!state_) return;
    FF.avcodec_send_packet(state_->context, nullptr);
    Receive(out, max_frames);
}

std::vector<std::pair<size_t, size_t>> FfmpegPackets(const swf::SoundFormat& format, std::span<const uint8_t> data) {
    // MP3 by its own frames; Nellymoser in whole 64-byte blocks; Speex frame by frame.
    std::vector<std::pair<size_t, size_t>> packets;
    if (format.codec == swf::SoundCodec::Mp3) {
        packets = Mp3Frames(data);
    } else if (format.codec == swf::SoundCodec::Speex) {
        if (const size_t frame = SpeexFrameBytes(data)) {
            for (size_t pos = 0; pos < data.size(); pos += frame) packets.emplace_back(pos, std::min(frame, data.size() - pos));
        } else if (!data.empty()) {
            packets.emplace_back(0, data.size());
        }
    } else {
        constexpr size_t kBlock = 64, kBlocksPerPacket = 16;
        for (size_t pos = 0; pos + kBlock <= data.size(); pos += kBlock * kBlocksPerPacket) {
            packets.emplace_back(pos, std::min(kBlock * kBlocksPerPacket, (data.size() - pos) / kBlock * kBlock));
        }
    }
    return packets;
}

NativePcm DecodeWithFfmpeg(const swf::SoundFormat& format, std::span<const uint8_t> data, std::string& error) {
    NativePcm out;
    out.channels = format.is_stereo ? 2 : 1;
    out.rate_x2 = RateX2(format);
    FfmpegDecoder decoder;
    if (!decoder.Open(format, error)) return out;
    for (const auto& [offset, size] : FfmpegPackets(format, data)) {
        // Beyond the longest sound kept, the rest is not decoded.
        if (out.samples.size() / size_t(decoder.Channels()) >= kMaxFrames) break;
        decoder.Decode(data.subspan(offset, size), out.samples, kMaxFrames);
    }
    decoder.Finish(out.samples, kMaxFrames);
    out.channels = decoder.Channels();
    out.rate_x2 = decoder.RateX2();
    if (out.samples.empty()) error = std::string("the ") + decoder.Name() + " sound gives no samples";
    return out;
}

}  // namespace qm::flash::sound
