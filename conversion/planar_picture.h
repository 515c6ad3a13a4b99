// Pictures of the renderer (premultiplied BGRA, opaque) to planar 4:2:0 in studio-range BT.601,
// as a recorded video would give it, so every encoder gets what it would get from one. The
// chroma of each 2x2 block is its average; an odd last column or row counts twice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::conversion {

class PlanarConverter {
public:
    PlanarConverter(int width, int height) : width_(width), height_(height) {}
    bool Valid() const { return width_ > 0 && height_ > 0; }
    // Bytes of one picture: the Y plane, then U, then V, rows without padding.
    size_t FrameSize() const {
        return size_t(width_) * size_t(height_) + 2 * ChromaWidth() * size_t((height_ + 1) / 2);
    }
    // `stride`: bytes per row of `bgra`; `out` holds FrameSize() bytes.
    void Convert(const uint8_t* bgra, int stride, uint8_t* out) const;

private:
    size_t ChromaWidth() const { return size_t((width_ + 1) / 2); }
    int width_, height_;
};

}  // namespace qm::conversion
