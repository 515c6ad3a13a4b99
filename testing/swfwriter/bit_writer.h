// Byte and bit output shared by the writer's files; not part of the public interface.
#pragma once

#include <cstdint>
#include <string>

#include "testing/swfwriter/swfwriter.h"

namespace qm::swfwriter::detail {

class BitWriter {
public:
    // Bit fields, most significant bit first; byte writes align first.
    void ub(uint32_t value, int bits);
    void sb(int32_t value, int bits);
    void align();

    void u8(uint8_t v);
    void u16(uint16_t v);
    void si16(int16_t v) { u16(uint16_t(v)); }
    void u32(uint32_t v);
    void fixed(double v);   // 16.16
    void fixed8(double v);  // 8.8
    void f32(float v);
    void str(const std::string& s);  // with its terminating zero
    void bytes(const Bytes& b);
    void rgb(const Color& c);
    void rgba(const Color& c);
    void argb(const Color& c);

    void rect(const Rect& r);
    void matrix(const Matrix& m);
    void cxform(const CXForm& c, bool withAlpha);

    Bytes& data() {
        align();
        return out_;
    }

private:
    Bytes out_;
    int used_ = 0;  // bits used in the last byte, 0 when aligned
};

// Bits that hold the value as a signed / unsigned field (0 for 0).
int signedBits(int64_t v);
int unsignedBits(uint64_t v);

int32_t toFixed16(double v);

// Tag record header plus body.
void appendTag(Bytes& out, uint16_t code, const Bytes& body, bool longForm = false);

// Shape encoding, used by shapes, morphs and fonts.
void writeFillStyle(BitWriter& w, const FillStyle& f, int shapeVersion);
void writeFillStyles(BitWriter& w, const std::vector<FillStyle>& fills, int shapeVersion);
void writeLineStyles(BitWriter& w, const std::vector<LineStyle>& lines, int shapeVersion);
void writeShapeRecords(BitWriter& w, const std::vector<Shape::Record>& records, int fillBits,
                       int lineBits, int shapeVersion);

void writeFilters(BitWriter& w, const std::vector<Filter>& filters);

}  // namespace qm::swfwriter::detail
