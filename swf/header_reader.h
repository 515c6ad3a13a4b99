// The movie header reader: accepts or refuses a file by name and signature, inflates compressed
// movies and decodes stage size, frame rate, frame count and format version.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "swf/bits_engine.h"

namespace qm::swf {

// Why a movie was refused; None when it was accepted.
enum class TSWFRefusal {
    None,
    NotFound,      // no such file (or not a regular file)
    Extension,     // the name does not end in ".swf"
    TooShort,      // fewer than 4 bytes
    Signature,     // neither "FWS" nor "CWS"
    HeaderCut,     // the header ends before the frame count
};

const char* SWFRefusalText(TSWFRefusal r);

// A read-only file opened without following the caller into devices or pipes.
class TFileStream : public TByteStream {
public:
    // Throws ESWFReadError when the file cannot be opened.
    explicit TFileStream(const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(uint8_t* buffer, size_t count) override;
    uint64_t Position() const override { return FPosition; }
    void Seek(uint64_t position) override { FPosition = position; }
    uint64_t Size() const override { return FSize; }
    bool IsRegularFile() const { return FRegular; }

private:
    std::string FFileName;
    int FHandle = -1;
    uint64_t FPosition = 0, FSize = 0;
    bool FRegular = false;
};

class TSWFStreamReader {
public:
    // With a name the file is loaded at once.
    explicit TSWFStreamReader(const std::string& fileName = "");

    bool IsCompressed = false;
    bool IsValid = false;  // size, signature and a complete header accepted
    TSWFRefusal Refusal = TSWFRefusal::None;
    std::string Signature;
    std::array<uint8_t, 8> Header{};
    uint8_t Version = 8;
    uint32_t FileLength = 0;
    TSWFRect SWFRect;
    uint16_t FrameRateValue = 0;  // 8.8 as stored
    uint16_t FrameCount = 0;

    void LoadFromFile(const std::string& fileName);
    void LoadFromStream(TByteStream& stream);
    bool CheckSignature(TByteStream& stream);
    // mode 0: the 8-byte header, then RECT, frame rate and frame count; mode 1: the 8-byte header
    // only; mode 2: RECT, frame rate and frame count only. Answers the bytes consumed.
    size_t ReadHeader(TByteStream& stream, int mode);

    int Width() const;
    int Height() const;
    float FrameRate() const;

private:
    void InflateHeaderFields(TByteStream& stream);
};

// The header facts of an accepted movie.
struct TSWFHeaderFacts {
    std::string Signature;
    uint8_t Version = 0;
    bool IsCompressed = false;
    uint32_t FileLength = 0;
    int Width = 0, Height = 0;
    float FrameRate = 0;
    int FrameCount = 0;
};

// Reads the header of the movie at path. Refusals are answered; a file that cannot be opened or
// read and damaged compressed data raise ESWFReadError.
TSWFRefusal ReadSWFHeader(const std::string& path, TSWFHeaderFacts& facts);

// False for a refused movie (missing, wrong extension, wrong signature, cut header); otherwise
// fills every output. Raises ESWFReadError as ReadSWFHeader does.
bool GetSWFInfo(const std::string& path, float& frameRate, int& width, int& height,
                int& frameCount, uint8_t& version);

}  // namespace qm::swf
