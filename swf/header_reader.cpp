#include "swf/header_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace qm::swf {

const char* SWFRefusalText(TSWFRefusal r) {
    switch (r) {
        case TSWFRefusal::None: return "accepted";
        case TSWFRefusal::NotFound: return "the file does not exist";
        case TSWFRefusal::Extension: return "the file name does not end in .swf";
        case TSWFRefusal::TooShort: return "the file is too short";
        case TSWFRefusal::Signature: return "the file does not start with FWS or CWS";
        case TSWFRefusal::HeaderCut: return "the movie ends inside its header";
    }
    return "refused";
}

// ---------------------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName) : FFileName(fileName) {
    // Non-blocking so that a pipe put in the file's place cannot hang the open.
    FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (FHandle < 0)
        throw ESWFReadError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    struct stat st {};
    if (::fstat(FHandle, &st) == 0 && S_ISREG(st.st_mode)) {
        FRegular = true;
        FSize = uint64_t(st.st_size);
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

size_t TFileStream::Read(uint8_t* buffer, size_t count) {
    if (!FRegular) return 0;
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(FHandle, buffer + done, count - done, off_t(FPosition));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw ESWFReadError("Cannot read file \"" + FFileName + "\". " + std::strerror(errno));
        if (n == 0) break;
        done += size_t(n);
        FPosition += uint64_t(n);
    }
    return done;
}

// ---------------------------------------------------------------------------------------------

TSWFStreamReader::TSWFStreamReader(const std::string& fileName) {
    if (!fileName.empty()) LoadFromFile(fileName);
}

void TSWFStreamReader::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName);
    LoadFromStream(stream);
}

bool TSWFStreamReader::CheckSignature(TByteStream& stream) {
    IsValid = false;
    IsCompressed = false;
    if (stream.Size() < 4) {
        Refusal = TSWFRefusal::TooShort;
        return false;
    }
    char sig[3];
    stream.Seek(0);
    stream.ReadBuffer(reinterpret_cast<uint8_t*>(sig), 3);
    Signature.assign(sig, 3);
    IsValid = Signature == "FWS" || Signature == "CWS";
    IsCompressed = Signature == "CWS";
    Refusal = IsValid ? TSWFRefusal::None : TSWFRefusal::Signature;
    return IsValid;
}

size_t TSWFStreamReader::ReadHeader(TByteStream& stream, int mode) {
    const uint64_t start = stream.Position();
    if (mode == 0 || mode == 1) {
        stream.ReadBuffer(Header.data(), Header.size());
        Version = Header[3];
        FileLength = uint32_t(Header[4]) | uint32_t(Header[5]) << 8 | uint32_t(Header[6]) << 16 |
                     uint32_t(Header[7]) << 24;
    }
    if (mode == 0 || mode == 2) {
        TBitsEngine bits(stream);
        SWFRect = bits.ReadRect();
        FrameRateValue = bits.ReadWord();
        FrameCount = bits.ReadWord();
    }
    return size_t(stream.Position() - start);
}

void TSWFStreamReader::InflateHeaderFields(TByteStream& stream) {
    // The whole stream is inflated so that damage anywhere is found, but only the first bytes
    // are kept: the declared length comes from the file and may be anything up to 4 GiB.
    constexpr size_t kChunk = 64 * 1024;
    constexpr size_t kKeep = 32;  // the largest RECT plus frame rate and count fit
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) throw ESWFReadError("Cannot start decompressing the movie.");
    struct End {
        z_stream* zs;
        ~End() { inflateEnd(zs); }
    } end{&zs};

    std::vector<uint8_t> in(kChunk), out(kChunk), head;
    const uint64_t want = uint64_t(FileLength) - 8;
    uint64_t produced = 0;
    while (produced < want) {
        if (zs.avail_in == 0) {
            const size_t n = stream.Read(in.data(), in.size());
            if (n == 0)
                throw ESWFReadError("The compressed movie data ends before its declared length.");
            zs.next_in = in.data();
            zs.avail_in = uInt(n);
        }
        const uInt room = uInt(std::min<uint64_t>(kChunk, want - produced));
        zs.next_out = out.data();
        zs.avail_out = room;
        const int ret = inflate(&zs, Z_NO_FLUSH);
        const size_t got = room - zs.avail_out;
        if (head.size() < kKeep)
            head.insert(head.end(), out.begin(), out.begin() + std::min(got, kKeep - head.size()));
        produced += got;
        if (ret == Z_STREAM_END && produced < want)
            throw ESWFReadError("The compressed movie data ends before its declared length.");
        if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
            (ret == Z_BUF_ERROR && zs.avail_in != 0))
            throw ESWFReadError("The compressed movie data is damaged.");
    }
    TMemoryStream buffer(std::move(head));
    ReadHeader(buffer, 2);
}

void TSWFStreamReader::LoadFromStream(TByteStream& stream) {
    if (!CheckSignature(stream)) return;
    stream.Seek(0);
    try {
        if (!IsCompressed) {
            ReadHeader(stream, 0);
        } else {
            ReadHeader(stream, 1);
            // Nothing to inflate means no stage, rate or count.
            if (FileLength <= 8) throw ESWFEndOfStream();
            InflateHeaderFields(stream);
        }
    } catch (const ESWFEndOfStream&) {
        IsValid = false;
        Refusal = TSWFRefusal::HeaderCut;
    }
}

int TSWFStreamReader::Width() const {
    return int((int64_t(SWFRect.Right) - SWFRect.Left) / 20);
}

int TSWFStreamReader::Height() const {
    return int((int64_t(SWFRect.Bottom) - SWFRect.Top) / 20);
}

float TSWFStreamReader::FrameRate() const {
    return float(FrameRateValue >> 8) + float(FrameRateValue & 0xFF) / 256.0f;
}

// ---------------------------------------------------------------------------------------------

namespace {

bool HasSwfExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return ext == ".swf";
}

}  // namespace

TSWFRefusal ReadSWFHeader(const std::string& path, TSWFHeaderFacts& facts) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return TSWFRefusal::NotFound;
    if (!HasSwfExtension(path)) return TSWFRefusal::Extension;
    TFileStream stream(path);
    if (!stream.IsRegularFile()) return TSWFRefusal::NotFound;
    TSWFStreamReader reader;
    reader.LoadFromStream(stream);
    if (!reader.IsValid) return reader.Refusal;
    facts.Signature = reader.Signature;
    facts.Version = reader.Version;
    facts.IsCompressed = reader.IsCompressed;
    facts.FileLength = reader.FileLength;
    facts.Width = reader.Width();
    facts.Height = reader.Height();
    facts.FrameRate = reader.FrameRate();
    facts.FrameCount = reader.FrameCount;
    return TSWFRefusal::None;
}

bool GetSWFInfo(const std::string& path, float& frameRate, int& width, int& height,
                int& frameCount, uint8_t& version) {
    TSWFHeaderFacts facts;
    if (ReadSWFHeader(path, facts) != TSWFRefusal::None) return false;
    frameRate = facts.FrameRate;
    width = facts.Width;
    height = facts.Height;
    frameCount = facts.FrameCount;
    version = facts.Version;
    return true;
}

}  // namespace qm::swf
