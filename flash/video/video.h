// Embedded video: the packets of a DefineVideoStream decoded through the
// engine's FFmpeg table (Sorenson H.263, Screen Video 1 and 2, VP6 with and
// without alpha) into premultiplied ARGB pictures, and the picture of any
// frame number, decoded on from the last key frame at or before it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "flash/render/render_parts.h"
#include "swf/swf.h"

namespace qm::flash::video {

// True when the packet can be decoded without the frames before it.
bool IsKeyFrame(uint8_t codec, std::span<const uint8_t> packet);

// BT.601 video-range YUV to RGB, one pixel, saturated to 0..255.
render::Rgba YuvToRgb(int y, int u, int v);

// One stream's decoder. Pictures come out at the stream's coded size.
class VideoDecoder {
public:
    // Null, with the reason in `error`, when the codec is unknown or FFmpeg
    // cannot be loaded or has no decoder for it.
    static std::unique_ptr<VideoDecoder> Create(const swf::VideoStream& stream, std::string& error);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Decodes one VideoFrame's data. False when it gives no picture (a
    // damaged packet, or an inter frame without its key frame).
    bool Decode(std::span<const uint8_t> packet, render::DecodedBitmap& picture);
    // Forgets the reference pictures, before decoding from a key frame again.
    void Reset();

private:
    struct Impl;
    explicit VideoDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// What one placed video object shows: the picture of the frame number its
// ratio names, or of the nearest frame before it that exists.
class VideoPlayback {
public:
    using Frames = std::map<uint16_t, const swf::VideoFrame*>;
    // `frames` may be null (a stream without frames) and must outlive this.
    VideoPlayback(const swf::VideoStream& stream, const Frames* frames);
    ~VideoPlayback();

    // Null when nothing can be shown for that frame.
    const render::DecodedBitmap* PictureAt(uint16_t frame);
    // Why the stream shows nothing; empty while it decodes.
    const std::string& Error() const { return error_; }

private:
    bool DecodeUpTo(uint16_t target);

    swf::VideoStream stream_;
    const Frames* frames_;
    std::unique_ptr<VideoDecoder> decoder_;
    bool tried_ = false;
    std::string error_;
    render::DecodedBitmap picture_;
    bool has_picture_ = false;
    int32_t decoded_ = -1;  // frame number of picture_, -1 for none
};

}  // namespace qm::flash::video
