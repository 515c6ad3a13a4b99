// Byte streams and the most-significant-bit-first bit reader the header reader works on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qm::swf {

// A failure of the header reader that the caller must report: a file that cannot be opened or
// read, or compressed data that is damaged or ends early.
class ESWFReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stream ended inside a field. The header reader turns this into a refusal.
class ESWFEndOfStream : public ESWFReadError {
public:
    ESWFEndOfStream() : ESWFReadError("The movie ends inside its header.") {}
};

class TByteStream {
public:
    virtual ~TByteStream() = default;
    // Up to count bytes; fewer only at the end of the stream.
    virtual size_t Read(uint8_t* buffer, size_t count) = 0;
    virtual uint64_t Position() const = 0;
    virtual void Seek(uint64_t position) = 0;
    virtual uint64_t Size() const = 0;

    // Exactly count bytes, or ESWFEndOfStream.
    void ReadBuffer(uint8_t* buffer, size_t count);
};

class TMemoryStream : public TByteStream {
public:
    explicit TMemoryStream(std::vector<uint8_t> data) : FData(std::move(data)) {}
    size_t Read(uint8_t* buffer, size_t count) override;
    uint64_t Position() const override { return FPosition; }
    void Seek(uint64_t position) override { FPosition = position; }
    uint64_t Size() const override { return FData.size(); }

private:
    std::vector<uint8_t> FData;
    uint64_t FPosition = 0;
};

// Rectangles are left, top, right, bottom.
struct TSWFRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

class TBitsEngine {
public:
    // The stream is not owned; bytes are taken from it only when more bits are needed.
    explicit TBitsEngine(TByteStream& stream) : FStream(stream) {}

    // n unsigned bits, the first most significant; n <= 0 gives 0. Beyond 32 bits only the
    // last 32 read are kept.
    uint32_t ReadBits(int n);
    // ReadBits, sign-extended from bit n - 1.
    int32_t ReadSignedBits(int n);
    // Nbits, then Xmin, Xmax, Ymin, Ymax; ends on a byte boundary.
    TSWFRect ReadRect();
    void FlushBits();
    // Whole bytes straight from the stream; flush first when bits were read.
    uint8_t ReadByte();
    uint16_t ReadWord();

private:
    TByteStream& FStream;
    uint8_t FBitBuffer = 0;  // unconsumed bits in the low positions
    int FBitCount = 0;
};

}  // namespace qm::swf
