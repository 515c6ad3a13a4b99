#include "testing/swfwriter/bit_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace qm::swfwriter::detail {

int signedBits(int64_t v) {
    if (v == 0) return 0;
    const uint64_t magnitude = v < 0 ? ~uint64_t(v) : uint64_t(v);
    return std::bit_width(magnitude) + 1;
}

int unsignedBits(uint64_t v) { return std::bit_width(v); }

int32_t toFixed16(double v) { return int32_t(std::lround(v * 65536.0)); }

void BitWriter::ub(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (used_ == 0) out_.push_back(0);
        if ((value >> i) & 1u) out_.back() |= uint8_t(0x80u >> used_);
        used_ = (used_ + 1) % 8;
    }
}

void BitWriter::sb(int32_t value, int bits) {
    if (bits == 0 && value != 0) throw std::runtime_error("value does not fit its bit field");
    if (bits < 32 && bits > 0) {
        const int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
        if (value < lo || value > hi) throw std::runtime_error("value does not fit its bit field");
    }
    ub(uint32_t(value), bits);
}

void BitWriter::align() { used_ = 0; }

void BitWriter::u8(uint8_t v) {
    align();
    out_.push_back(v);
}

void BitWriter::u16(uint16_t v) {
    u8(uint8_t(v));
    u8(uint8_t(v >> 8));
}

void BitWriter::u32(uint32_t v) {
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
}

void BitWriter::fixed(double v) { u32(uint32_t(toFixed16(v))); }

void BitWriter::fixed8(double v) { si16(int16_t(std::lround(v * 256.0))); }

void BitWriter::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    u32(bits);
}

void BitWriter::str(const std::string& s) {
    align();
    out_.insert(out_.end(), s.begin(), s.end());
    out_.push_back(0);
}

void BitWriter::bytes(const Bytes& b) {
    align();
    out_.insert(out_.end(), b.begin(), b.end());
}

void BitWriter::rgb(const Color& c) {
    u8(c.r);
    u8(c.g);
    u8(c.b);
}

void BitWriter::rgba(const Color& c) {
    rgb(c);
    u8(c.a);
}

void BitWriter::argb(const Color& c) {
    u8(c.a);
    rgb(c);
}

void BitWriter::rect(const Rect& r) {
    align();
    const int n = std::max({signedBits(r.xmin), signedBits(r.xmax), signedBits(r.ymin),
                            signedBits(r.ymax)});
    ub(uint32_t(n), 5);
    sb(r.xmin, n);
    sb(r.xmax, n);
    sb(r.ymin, n);
    sb(r.ymax, n);
    align();
}

void BitWriter::matrix(const Matrix& m) {
    align();
    const bool hasScale = m.scaleX != 1 || m.scaleY != 1;
    ub(hasScale, 1);
    if (hasScale) {
        const int32_t sx = toFixed16(m.scaleX), sy = toFixed16(m.scaleY);
        const int n = std::max(signedBits(sx), signedBits(sy));
        ub(uint32_t(n), 5);
        sb(sx, n);
        sb(sy, n);
    }
    const bool hasRotate = m.rotateSkew0 != 0 || m.rotateSkew1 != 0;
    ub(hasRotate, 1);
    if (hasRotate) {
        const int32_t r0 = toFixed16(m.rotateSkew0), r1 = toFixed16(m.rotateSkew1);
        const int n = std::max(signedBits(r0), signedBits(r1));
        ub(uint32_t(n), 5);
        sb(r0, n);
        sb(r1, n);
    }
    const int n = std::max(signedBits(m.translateX), signedBits(m.translateY));
    ub(uint32_t(n), 5);
    sb(m.translateX, n);
    sb(m.translateY, n);
    align();
}

void BitWriter::cxform(const CXForm& c, bool withAlpha) {
    align();
    bool hasMult = c.redMult != 256 || c.greenMult != 256 || c.blueMult != 256;
    bool hasAdd = c.redAdd != 0 || c.greenAdd != 0 || c.blueAdd != 0;
    if (withAlpha) {
        hasMult = hasMult || c.alphaMult != 256;
        hasAdd = hasAdd || c.alphaAdd != 0;
    }
    int n = 0;
    const int16_t mult[] = {c.redMult, c.greenMult, c.blueMult, c.alphaMult};
    const int16_t add[] = {c.redAdd, c.greenAdd, c.blueAdd, c.alphaAdd};
    const int count = withAlpha ? 4 : 3;
    for (int i = 0; i < count; ++i) {
        if (hasMult) n = std::max(n, signedBits(mult[i]));
        if (hasAdd) n = std::max(n, signedBits(add[i]));
    }
    if (n > 15) throw std::runtime_error("colour transform term too large");
    ub(hasAdd, 1);
    ub(hasMult, 1);
    ub(uint32_t(n), 4);
    if (hasMult)
        for (int i = 0; i < count; ++i) sb(mult[i], n);
    if (hasAdd)
        for (int i = 0; i < count; ++i) sb(add[i], n);
    align();
}

void appendTag(Bytes& out, uint16_t code, const Bytes& body, bool longForm) {
    const bool isLong = longForm || body.size() >= 0x3F;
    const uint16_t word = uint16_t((code << 6) | (isLong ? 0x3F : body.size()));
    out.push_back(uint8_t(word));
    out.push_back(uint8_t(word >> 8));
    if (isLong) {
        const uint32_t n = uint32_t(body.size());
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(n >> (8 * i)));
    }
    out.insert(out.end(), body.begin(), body.end());
}

}  // namespace qm::swfwriter::detail
