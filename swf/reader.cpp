#include "swf/reader.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace qm::swf {

void Reader::Fail(const std::string& message) const { throw ReadError{message, FileOffset()}; }

void Reader::Need(size_t n) const {
    if (n > remaining()) Fail("the data ends before the record does");
}

void Reader::Seek(size_t pos) {
    if (pos > data_.size()) Fail("an offset points past the end of the tag");
    pos_ = pos;
    bits_left_ = 0;
}

void Reader::Skip(size_t n) {
    Align();
    Need(n);
    pos_ += n;
}

Reader Reader::Sub(size_t n) {
    Align();
    Need(n);
    Reader sub(data_.subspan(pos_, n), base_ + pos_, version_);
    pos_ += n;
    return sub;
}

Reader Reader::SubAt(size_t pos, size_t n) const {
    if (pos > data_.size() || n > data_.size() - pos) Fail("an offset points past the end of the tag");
    return Reader(data_.subspan(pos, n), base_ + pos, version_);
}

uint8_t Reader::U8() {
    Align();
    Need(1);
    return data_[pos_++];
}

uint16_t Reader::U16() {
    Align();
    Need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

uint32_t Reader::U32() {
    Align();
    Need(4);
    uint32_t v = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                 (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
}

double Reader::Fixed() { return S32() / 65536.0; }
double Reader::Fixed8() { return S16() / 256.0; }

float Reader::Float() { return std::bit_cast<float>(U32()); }

float Reader::Float16() {
    uint16_t h = U16();
    int sign = (h >> 15) ? -1 : 1;
    int exponent = (h >> 10) & 0x1F;
    int mantissa = h & 0x3FF;
    if (exponent == 0) return sign * std::ldexp(static_cast<float>(mantissa), -24);
    if (exponent == 31) return mantissa ? NAN : sign * INFINITY;
    return sign * std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
}

uint32_t Reader::EncodedU32() {
    uint32_t value = 0;
    for (int i = 0; i < 5; ++i) {
        uint8_t b = U8();
        value |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) break;
    }
    return value;
}

std::string Reader::String() {
    Align();
    const uint8_t* begin = data_.data() + pos_;
    const void* nul = std::memchr(begin, 0, remaining());
    if (!nul) Fail("a text runs past the end of the tag");
    size_t n = static_cast<const uint8_t*>(nul) - begin;
    std::string s = TextToUtf8(data_.subspan(pos_, n), version_);
    pos_ += n + 1;
    return s;
}

std::string Reader::FixedString(size_t n) {
    auto raw = Bytes(n);
    while (!raw.empty() && raw.back() == 0) raw = raw.first(raw.size() - 1);
    return TextToUtf8(raw, version_);
}

std::span<const uint8_t> Reader::Bytes(size_t n) {
    Align();
    Need(n);
    auto s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
}

std::span<const uint8_t> Reader::Rest() { return Bytes(remaining()); }

swf::Bytes Reader::RestCopy() {
    auto r = Rest();
    return swf::Bytes(r.begin(), r.end());
}

Rgba Reader::Rgb() {
    auto b = Bytes(3);
    return Rgba{b[0], b[1], b[2], 255};
}

Rgba Reader::RgbaColor() {
    auto b = Bytes(4);
    return Rgba{b[0], b[1], b[2], b[3]};
}

Rgba Reader::Argb() {
    auto b = Bytes(4);
    return Rgba{b[1], b[2], b[3], b[0]};
}

uint32_t Reader::UB(unsigned n) {
    if (n > 32) Fail("a bit field is wider than 32 bits");
    uint32_t result = 0;
    while (n > 0) {
        if (bits_left_ == 0) {
            Need(1);
            bit_byte_ = data_[pos_++];
            bits_left_ = 8;
        }
        unsigned take = n < bits_left_ ? n : bits_left_;
        uint32_t chunk = (bit_byte_ >> (bits_left_ - take)) & ((1u << take) - 1);
        result = take == 32 ? chunk : (result << take) | chunk;
        bits_left_ -= take;
        n -= take;
    }
    return result;
}

int32_t Reader::SB(unsigned n) {
    if (n == 0) return 0;
    uint32_t v = UB(n);
    if (n < 32 && (v & (1u << (n - 1)))) v |= ~((1u << n) - 1);
    return static_cast<int32_t>(v);
}

Rect Reader::ReadRect() {
    Align();
    unsigned n = UB(5);
    Rect r;
    r.x_min = SB(n);
    r.x_max = SB(n);
    r.y_min = SB(n);
    r.y_max = SB(n);
    Align();
    return r;
}

Matrix Reader::ReadMatrix() {
    Align();
    Matrix m;
    if (Flag()) {
        unsigned n = UB(5);
        m.a = FB(n);
        m.d = FB(n);
    }
    if (Flag()) {
        unsigned n = UB(5);
        m.b = FB(n);
        m.c = FB(n);
    }
    unsigned n = UB(5);
    m.tx = SB(n);
    m.ty = SB(n);
    Align();
    return m;
}

ColorTransform Reader::ReadColorTransform(bool with_alpha) {
    Align();
    ColorTransform cx;
    bool has_add = Flag();
    bool has_mult = Flag();
    unsigned n = UB(4);
    auto term = [&] { return static_cast<int16_t>(SB(n)); };
    if (has_mult) {
        cx.r_mult = term();
        cx.g_mult = term();
        cx.b_mult = term();
        if (with_alpha) cx.a_mult = term();
    }
    if (has_add) {
        cx.r_add = term();
        cx.g_add = term();
        cx.b_add = term();
        if (with_alpha) cx.a_add = term();
    }
    Align();
    return cx;
}

namespace {

// Windows-1252 code points of bytes 0x80-0x9F (0 = undefined, kept as Latin-1).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string TextToUtf8(std::span<const uint8_t> raw, uint8_t version) {
    if (version >= 6) return std::string(raw.begin(), raw.end());
    std::string out;
    out.reserve(raw.size());
    for (uint8_t b : raw) {
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else if (b < 0xA0 && kCp1252High[b - 0x80]) {
            AppendUtf8(out, kCp1252High[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

}  // namespace qm::swf
