#include "swf/bits_engine.h"

#include <algorithm>
#include <cstring>

namespace qm::swf {

void TByteStream::ReadBuffer(uint8_t* buffer, size_t count) {
    if (Read(buffer, count) != count) throw ESWFEndOfStream();
}

size_t TMemoryStream::Read(uint8_t* buffer, size_t count) {
    if (FPosition >= FData.size()) return 0;
    const size_t n = std::min<uint64_t>(count, FData.size() - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, n);
    FPosition += n;
    return n;
}

uint32_t TBitsEngine::ReadBits(int n) {
    uint64_t result = 0;
    while (n > 0) {
        if (FBitCount == 0) {
            FStream.ReadBuffer(&FBitBuffer, 1);
            FBitCount = 8;
        }
        const int take = std::min(n, FBitCount);
        const int rest = FBitCount - take;
        result = (result << take) | (uint32_t(FBitBuffer) >> rest);
        FBitCount = rest;
        FBitBuffer = uint8_t(FBitBuffer & (0xFFu >> (8 - rest)));
        n -= take;
    }
    return uint32_t(result);
}

int32_t TBitsEngine::ReadSignedBits(int n) {
    uint32_t v = ReadBits(n);
    if (n > 0 && n < 32 && (v >> (n - 1)) & 1u) v |= ~0u << n;
    return int32_t(v);
}

TSWFRect TBitsEngine::ReadRect() {
    const int nbits = int(ReadBits(5));
    TSWFRect r;
    r.Left = ReadSignedBits(nbits);
    r.Right = ReadSignedBits(nbits);
    r.Top = ReadSignedBits(nbits);
    r.Bottom = ReadSignedBits(nbits);
    FlushBits();
    return r;
}

void TBitsEngine::FlushBits() {
    FBitBuffer = 0;
    FBitCount = 0;
}

uint8_t TBitsEngine::ReadByte() {
    uint8_t b;
    FStream.ReadBuffer(&b, 1);
    return b;
}

uint16_t TBitsEngine::ReadWord() {
    uint8_t b[2];
    FStream.ReadBuffer(b, 2);
    return uint16_t(b[0] | (b[1] << 8));
}

}  // namespace qm::swf
