// A decoded picture seen as a bitmap: what the video hooks and the preview give the program, in
// the layout of the frame input's pictures (top row first, rows padded to 4 bytes).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/frame_input.h"

struct AVFrame;
struct SwsContext;

namespace qm::engine {

class TFrameBitmap {
 public:
  TFrameBitmap() = default;
  ~TFrameBitmap();
  TFrameBitmap(const TFrameBitmap&) = delete;
  TFrameBitmap& operator=(const TFrameBitmap&) = delete;

  // 32 gives bgra, 24 bgr24, 16 rgb555le, 8 grey levels (with a grey palette). False when the
  // bits per pixel or the frame's format cannot be converted.
  bool FromFrame(const AVFrame* frame, int bitsPerPixel);
  // Writes the bitmap, possibly drawn on, back into the frame it came from.
  bool ToFrame(AVFrame* frame);

  TFrameImage Image;

 private:
  std::vector<uint8_t> FPixels;
  // The bitmap as made; the program may have changed Image.
  int FWidth = 0, FHeight = 0, FStride = 0, FFormat = -1;
  uint32_t FPalette[256] = {};
  SwsContext* FTo = nullptr;
  SwsContext* FBack = nullptr;
};

}  // namespace qm::engine
