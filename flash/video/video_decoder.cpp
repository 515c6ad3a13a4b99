// Video packets through the engine's FFmpeg table; the libraries are loaded
// on first use and nothing links them. YUV pictures are turned into RGB here
// with the player's own conversion rather than the scaler's.
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "flash/video/video.h"

namespace qm::flash::video {

namespace {

using engine::FF;

constexpr engine::TLibrarySet kVideoLibraries = engine::LibraryBit(engine::libAVUtil) |
                                                engine::LibraryBit(engine::libAVCodec) |
                                                engine::LibraryBit(engine::libSWScale);

// Bits of a packet, most significant first; reads past the end give zeros.
struct Bits {
    std::span<const uint8_t> data;
    size_t pos = 0;
    uint32_t Read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos) {
            size_t byte = pos / 8;
            uint32_t bit = byte < data.size() ? (data[byte] >> (7 - pos % 8)) & 1 : 0;
            v = (v << 1) | bit;
        }
        return v;
    }
};

// Screen video packets are key frames when every block carries data of its own.
bool AllBlocksPresent(std::span<const uint8_t> p, bool version2) {
    if (p.size() < 4) return false;
    Bits b{p};
    uint32_t bw = (b.Read(4) + 1) * 16, iw = b.Read(12);
    uint32_t bh = (b.Read(4) + 1) * 16, ih = b.Read(12);
    if (iw == 0 || ih == 0) return false;
    size_t pos = 4;
    if (version2) {
        if (pos >= p.size()) return false;
        bool palette = p[pos] & 1;
        ++pos;
        if (palette) {
            if (pos + 2 > p.size()) return false;
            pos += 2 + ((size_t(p[pos]) << 8) | p[pos + 1]);
        }
    }
    size_t blocks = size_t((iw + bw - 1) / bw) * ((ih + bh - 1) / bh);
    for (size_t i = 0; i < blocks; ++i) {
        if (pos + 2 > p.size()) return false;
        size_t size = (size_t(p[pos]) << 8) | p[pos + 1];
        if (size == 0) return false;
        // Version 2 blocks that patch or build on the previous frame's block.
        if (version2 && pos + 2 < p.size() && (p[pos + 2] & 0x05)) return false;
        pos += 2 + size;
    }
    return true;
}

uint8_t Sat(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

bool IsKeyFrame(uint8_t codec, std::span<const uint8_t> p) {
    switch (static_cast<swf::VideoCodec>(codec)) {
        case swf::VideoCodec::SorensonH263: {
            Bits b{p};
            if (p.size() < 4 || b.Read(17) != 1) return false;
            b.Read(5 + 8);  // version, temporal reference
            uint32_t size = b.Read(3);
            if (size == 0) b.Read(16);
            else if (size == 1) b.Read(32);
            return b.Read(2) == 0;
        }
        case swf::VideoCodec::ScreenVideo: return AllBlocksPresent(p, false);
        case swf::VideoCodec::ScreenVideo2: return AllBlocksPresent(p, true);
        case swf::VideoCodec::Vp6: return !p.empty() && (p[0] & 0x80) == 0;
        case swf::VideoCodec::Vp6Alpha: return p.size() > 3 && (p[3] & 0x80) == 0;
    }
    return false;
}

render::Rgba YuvToRgb(int y, int u, int v) {
    // Luma spans 16..235 and chroma 16..240 of the byte.
    constexpr double kY = 255.0 / 219, kC = 255.0 / 224;
    double l = kY * (y - 16), cu = kC * (u - 128), cv = kC * (v - 128);
    return {Sat(l + 1.402 * cv), Sat(l - 0.714136 * cv - 0.344136 * cu), Sat(l + 1.772 * cu), 255};
}

struct VideoDecoder::Impl {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    std::vector<uint8_t> buffer;
    uint8_t codec = 0;

    ~Impl() {
        if (scaler) FF.sws_freeContext(scaler);
        if (frame) FF.av_frame_free(&frame);
        if (packet) FF.av_packet_free(&packet);
        if (context) FF.avcodec_free_context(&context);
    }

    bool Convert(render::DecodedBitmap& out) {
        const AVFrame& f = *frame;
        if (f.width <= 0 || f.height <= 0 || f.width > render::kMaxBitmapSide || f.height > render::kMaxBitmapSide)
            return false;
        out.width = f.width;
        out.height = f.height;
        out.pixels.assign(size_t(f.width) * f.height, 0);
        auto format = AVPixelFormat(f.format);
        if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVA420P || format == AV_PIX_FMT_YUVJ420P) {
            bool alpha = format == AV_PIX_FMT_YUVA420P && f.data[3];
            for (int y = 0; y < f.height; ++y) {
                const uint8_t* ly = f.data[0] + ptrdiff_t(y) * f.linesize[0];
                const uint8_t* lu = f.data[1] + ptrdiff_t(y / 2) * f.linesize[1];
                const uint8_t* lv = f.data[2] + ptrdiff_t(y / 2) * f.linesize[2];
                const uint8_t* la = alpha ? f.data[3] + ptrdiff_t(y) * f.linesize[3] : nullptr;
                uint32_t* row = out.pixels.data() + size_t(y) * f.width;
                for (int x = 0; x < f.width; ++x) {
                    render::Rgba c = YuvToRgb(ly[x], lu[x / 2], lv[x / 2]);
                    uint32_t a = 255;
                    if (la) {
                        // The colour planes already hold premultiplied values.
                        a = la[x];
                        c.r = std::min<uint8_t>(c.r, uint8_t(a));
                        c.g = std::min<uint8_t>(c.g, uint8_t(a));
                        c.b = std::min<uint8_t>(c.b, uint8_t(a));
                    }
                    row[x] = (a << 24) | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
                }
            }
            return true;
        }
        // Screen video and anything else: the scaler into opaque BGRA bytes,
        // which is the ARGB word layout on this little-endian platform.
        scaler = FF.sws_getCachedContext(scaler, f.width, f.height, format, f.width, f.height, AV_PIX_FMT_BGRA,
                                         SWS_POINT, nullptr, nullptr, nullptr);
        if (!scaler) return false;
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.pixels.data()), nullptr, nullptr, nullptr};
        int dstStride[4] = {f.width * 4, 0, 0, 0};
        FF.sws_scale(scaler, f.data, f.linesize, 0, f.height, dst, dstStride);
        const AVPixFmtDescriptor* d = FF.av_pix_fmt_desc_get(format);
        if (!d || !(d->flags & AV_PIX_FMT_FLAG_ALPHA))
            for (uint32_t& p : out.pixels) p |= 0xFF000000u;
        return true;
    }
};

VideoDecoder::VideoDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VideoDecoder::~VideoDecoder() = default;

std::unique_ptr<VideoDecoder> VideoDecoder::Create(const swf::VideoStream& stream, std::string& error) {
    AVCodecID id = AV_CODEC_ID_NONE;
    switch (static_cast<swf::VideoCodec>(stream.codec)) {
        case swf::VideoCodec::SorensonH263: id = AV_CODEC_ID_FLV1; break;
        case swf::VideoCodec::ScreenVideo: id = AV_CODEC_ID_FLASHSV; break;
        case swf::VideoCodec::ScreenVideo2: id = AV_CODEC_ID_FLASHSV2; break;
        case swf::VideoCodec::Vp6: id = AV_CODEC_ID_VP6F; break;
        case swf::VideoCodec::Vp6Alpha: id = AV_CODEC_ID_VP6A; break;
    }
    if (id == AV_CODEC_ID_NONE) {
        error = "video codec " + std::to_string(stream.codec) + " is not known";
        return nullptr;
    }
    if (!engine::FFLoader().LibsLoaded(kVideoLibraries) && !engine::FFLoader().LoadLibs(kVideoLibraries)) {
        error = "the video cannot be decoded: " + engine::FFLoader().LastError();
        return nullptr;
    }
    const AVCodec* codec = FF.avcodec_find_decoder(id);
    if (!codec) {
        error = std::string("no ") + FF.avcodec_get_name(id) + " decoder is available";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->codec = stream.codec;
    impl->context = FF.avcodec_alloc_context3(codec);
    impl->packet = FF.av_packet_alloc();
    impl->frame = FF.av_frame_alloc();
    if (!impl->context || !impl->packet || !impl->frame) {
        error = "out of memory";
        return nullptr;
    }
    impl->context->width = stream.width;
    impl->context->height = stream.height;
    // One decoding thread: pictures come out in step with the packets.
    impl->context->thread_count = 1;
    // The floating-point inverse transform comes closest to the original
    // player's pictures.
    if (id == AV_CODEC_ID_FLV1) impl->context->idct_algo = FF_IDCT_FAAN;
    if (id == AV_CODEC_ID_VP6F || id == AV_CODEC_ID_VP6A) {
        // The cropping byte that other containers carry: nothing cropped.
        impl->context->extradata = static_cast<uint8_t*>(FF.av_mallocz(1 + AV_INPUT_BUFFER_PADDING_SIZE));
        if (impl->context->extradata) impl->context->extradata_size = 1;
    }
    // Deblocking 1 turns the decoder's loop filter off; the others leave the packet's choice.
    if (stream.deblocking == 1) impl->context->skip_loop_filter = AVDISCARD_ALL;
    if (FF.avcodec_open2(impl->context, codec, nullptr) < 0) {
        error = std::string("the ") + FF.avcodec_get_name(id) + " decoder cannot be opened";
        return nullptr;
    }
    return std::unique_ptr<VideoDecoder>(new VideoDecoder(std::move(impl)));
}

bool VideoDecoder::Decode(std::span<const uint8_t> packet, render::DecodedBitmap& picture) {
    Impl& d = *impl_;
    if (packet.empty() || packet.size() > size_t(1) << 28) return false;
    // Padded copy: decoders may read a little past a packet's end.
    d.buffer.assign(packet.begin(), packet.end());
    d.buffer.resize(packet.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    d.packet->data = d.buffer.data();
    d.packet->size = int(packet.size());
    d.packet->flags = IsKeyFrame(d.codec, packet) ? AV_PKT_FLAG_KEY : 0;
    int sent = FF.avcodec_send_packet(d.context, d.packet);
    d.packet->data = nullptr;
    d.packet->size = 0;
    if (sent < 0) return false;
    bool got = false;
    while (FF.avcodec_receive_frame(d.context, d.frame) >= 0) {
        got = d.Convert(picture) || got;
        FF.av_frame_unref(d.frame);
    }
    return got;
}

void VideoDecoder::Reset() { FF.avcodec_flush_buffers(impl_->context); }

// ---- playback ----

VideoPlayback::VideoPlayback(const swf::VideoStream& stream, const Frames* frames)
    : stream_(stream), frames_(frames) {}

VideoPlayback::~VideoPlayback() = default;

bool VideoPlayback::DecodeUpTo(uint16_t target) {
    if (!frames_ || frames_->empty()) return false;
    auto last = frames_->upper_bound(target);
    if (last == frames_->begin()) return false;
    --last;  // the newest frame at or before the target
    uint16_t wanted = last->first;
    if (has_picture_ && decoded_ == wanted) return true;
    // Decoding goes on from what is shown when it lies before the wanted
    // frame; otherwise from the last key frame at or before it.
    auto from = frames_->end();
    if (has_picture_ && decoded_ >= 0 && decoded_ < wanted) from = frames_->upper_bound(uint16_t(decoded_));
    if (from == frames_->end() || from->first > wanted) {
        auto key = std::next(last);
        do {
            --key;
            if (IsKeyFrame(stream_.codec, key->second->data)) break;
        } while (key != frames_->begin());
        // With no key frame at all, decoding starts at the first frame.
        from = key;
        decoder_->Reset();
        has_picture_ = false;
        decoded_ = -1;
    }
    for (auto it = from; it != std::next(last); ++it) {
        if (decoder_->Decode(it->second->data, picture_)) {
            has_picture_ = true;
        }
        decoded_ = it->first;
    }
    return has_picture_;
}

const render::DecodedBitmap* VideoPlayback::PictureAt(uint16_t frame) {
    if (!tried_) {
        tried_ = true;
        decoder_ = VideoDecoder::Create(stream_, error_);
    }
    if (!decoder_) return nullptr;
    return DecodeUpTo(frame) ? &picture_ : nullptr;
}

}  // namespace qm::flash::video
