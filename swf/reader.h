// Bounds-checked little-endian byte and MSB-first bit reading over one span.
// Every read past the end throws ReadError; the tag parsers let it travel up
// to the tag loop, which turns it into a ParseError.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "swf/swf.h"

namespace qm::swf {

struct ReadError {
    std::string message;
    uint64_t offset = 0;
};

class Reader {
public:
    // `base` is the offset of data[0] in the uncompressed file, for errors.
    Reader(std::span<const uint8_t> data, uint64_t base, uint8_t version)
        : data_(data), base_(base), version_(version) {}

    uint8_t version() const { return version_; }
    size_t pos() const { return pos_; }
    size_t size() const { return data_.size(); }
    size_t remaining() const { return data_.size() - pos_; }
    bool AtEnd() const { return pos_ >= data_.size(); }
    uint64_t FileOffset() const { return base_ + pos_; }
    std::span<const uint8_t> data() const { return data_; }

    void Seek(size_t pos);
    void Skip(size_t n);
    // A reader over the next `n` bytes (which this reader skips).
    Reader Sub(size_t n);
    Reader SubAt(size_t pos, size_t n) const;

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    int16_t S16() { return static_cast<int16_t>(U16()); }
    int32_t S32() { return static_cast<int32_t>(U32()); }
    double Fixed();   // 16.16
    double Fixed8();  // 8.8
    float Float();
    float Float16();
    uint32_t EncodedU32();
    // NUL-terminated text, turned into UTF-8 (older movies are Windows-1252).
    std::string String();
    // `n` bytes of text without terminator; a trailing NUL is dropped.
    std::string FixedString(size_t n);
    std::span<const uint8_t> Bytes(size_t n);
    std::span<const uint8_t> Rest();
    swf::Bytes RestCopy();

    Rgba Rgb();
    Rgba RgbaColor();
    Rgba Argb();
    Rect ReadRect();
    Matrix ReadMatrix();
    ColorTransform ReadColorTransform(bool with_alpha);

    // Bit fields; a byte read afterwards starts at the next whole byte.
    uint32_t UB(unsigned n);
    int32_t SB(unsigned n);
    double FB(unsigned n) { return SB(n) / 65536.0; }
    bool Flag() { return UB(1) != 0; }
    void Align() { bits_left_ = 0; }

    [[noreturn]] void Fail(const std::string& message) const;

private:
    void Need(size_t n) const;

    std::span<const uint8_t> data_;
    uint64_t base_ = 0;
    uint8_t version_ = 0;
    size_t pos_ = 0;
    uint8_t bit_byte_ = 0;
    unsigned bits_left_ = 0;
};

}  // namespace qm::swf
