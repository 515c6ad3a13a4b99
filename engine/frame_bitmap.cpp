#include "engine/frame_bitmap.h"

#include "engine/ffmpeg_api.h"

namespace qm::engine {

TFrameBitmap::~TFrameBitmap() {
  if (FTo) FF.sws_freeContext(FTo);
  if (FBack) FF.sws_freeContext(FBack);
}

namespace {

AVPixelFormat BitmapFormat(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 32: return AV_PIX_FMT_BGRA;
    case 24: return AV_PIX_FMT_BGR24;
    case 16: return AV_PIX_FMT_RGB555LE;
    case 8: return AV_PIX_FMT_GRAY8;
    default: return AV_PIX_FMT_NONE;
  }
}

}  // namespace

bool TFrameBitmap::FromFrame(const AVFrame* frame, int bitsPerPixel) {
  const AVPixelFormat format = BitmapFormat(bitsPerPixel);
  if (format == AV_PIX_FMT_NONE || frame->width <= 0 || frame->height <= 0) return false;
  const int stride = int((int64_t(frame->width) * bitsPerPixel + 31) / 32 * 4);
  FPixels.resize(size_t(stride) * size_t(frame->height));
  FTo = FF.sws_getCachedContext(FTo, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                frame->height, format, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!FTo) return false;
  uint8_t* planes[4] = {FPixels.data(), nullptr, nullptr, nullptr};
  int lines[4] = {stride, 0, 0, 0};
  if (FF.sws_scale(FTo, frame->data, frame->linesize, 0, frame->height, planes, lines) != frame->height) return false;
  Image = TFrameImage{FPixels.data(), frame->width, frame->height, stride, bitsPerPixel, format, nullptr};
  FWidth = frame->width;
  FHeight = frame->height;
  FStride = stride;
  FFormat = format;
  if (format == AV_PIX_FMT_GRAY8) {
    for (uint32_t i = 0; i < 256; ++i) FPalette[i] = 0xFF000000u | i * 0x010101u;
    Image.Palette = FPalette;
  }
  return true;
}

bool TFrameBitmap::ToFrame(AVFrame* frame) {
  if (FPixels.empty() || FWidth != frame->width || FHeight != frame->height) return false;
  FBack = FF.sws_getCachedContext(FBack, FWidth, FHeight, AVPixelFormat(FFormat), frame->width, frame->height,
                                  AVPixelFormat(frame->format), SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!FBack) return false;
  const uint8_t* planes[4] = {FPixels.data(), nullptr, nullptr, nullptr};
  const int lines[4] = {FStride, 0, 0, 0};
  return FF.sws_scale(FBack, planes, lines, 0, FHeight, frame->data, frame->linesize) == frame->height;
}

}  // namespace qm::engine
