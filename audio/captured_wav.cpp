// The WAV file of a capture: the 68-byte header with a 40-byte format
// chunk, the lead silence, then the raw samples unchanged.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "audio/sound_capture.h"

namespace qm::audio {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr size_t kPiece = 1048576;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

struct FileCloser {
    std::FILE* f = nullptr;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

}  // namespace

std::array<uint8_t, 68> MakeWavHeader(const WaveFormat& format, uint32_t silence, uint32_t rawBytes) {
    std::array<uint8_t, 68> h{};
    const uint32_t data = silence + rawBytes;
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], data + 60);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], 40);
    Put16(&h[20], format.format_tag);
    Put16(&h[22], format.channels);
    Put32(&h[24], format.samples_per_sec);
    Put32(&h[28], format.avg_bytes_per_sec);
    Put16(&h[32], format.block_align);
    Put16(&h[34], format.bits_per_sample);
    if (format.format_tag == kTagExtensible) {
        static constexpr uint8_t kFloatGuid[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        Put16(&h[36], format.extra_size);
        Put16(&h[38], format.bits_per_sample);
        std::memcpy(&h[44], kFloatGuid, 16);
    }
    std::memcpy(&h[60], "data", 4);
    Put32(&h[64], data);
    return h;
}

uint64_t LeadSilenceBytes(const WaveFormat& format, int64_t leadTime) {
    if (leadTime <= TSoundHook::kLeadSilenceMicros) return 0;
    const uint64_t align = std::max<uint16_t>(format.block_align, 1);
    const uint64_t bytes = uint64_t(format.avg_bytes_per_sec) * uint64_t(leadTime) / 1000000;
    return bytes / align * align;
}

void TSoundHook::MakeWavFile() {
    const WaveFormat format = Format();
    const int64_t lead = LeadTime();
    // Until a WAV file with sound exists, the conversion has none.
    AudioEmpty = true;

    FileCloser raw, wav;
    raw.f = std::fopen(RawFileName.c_str(), "rb");
    if (!raw.f) {
        Log(LogKind::Error, "Cannot open file \"" + RawFileName + "\". " + std::strerror(errno));
        return;
    }
    wav.f = std::fopen(WavFileName.c_str(), "wb");
    if (!wav.f) {
        Log(LogKind::Error, "Cannot create file \"" + WavFileName + "\". " + std::strerror(errno));
        raw = {};
        std::error_code ignored;
        std::filesystem::remove(RawFileName, ignored);
        return;
    }

    std::string failure;
    std::error_code ec;
    const uint64_t n = std::filesystem::file_size(RawFileName, ec);
    if (ec) failure = "Cannot read file \"" + RawFileName + "\". " + ec.message();
    if (format.format_tag != kTagPcm && format.format_tag != kTagExtensible)
        Log(LogKind::Error, "Error: wFormatTag=" + std::to_string(format.format_tag) + ", not support");
    const uint64_t silence = LeadSilenceBytes(format, lead);
    // The header's sizes have 32 bits: a longer recording cannot be described.
    if (failure.empty() && n + silence + 60 > 0xFFFFFFFFull)
        failure = "The captured audio is too long for a WAV file (" + std::to_string(n + silence) + " bytes)";

    if (failure.empty()) {
        const auto header = MakeWavHeader(format, uint32_t(silence), uint32_t(n));
        std::vector<uint8_t> piece(size_t(std::min<uint64_t>(std::max<uint64_t>(silence, 65536), kPiece)), 0);
        bool ok = std::fwrite(header.data(), 1, header.size(), wav.f) == header.size();
        for (uint64_t left = silence; ok && left > 0;) {
            const size_t k = size_t(std::min<uint64_t>(left, piece.size()));
            ok = std::fwrite(piece.data(), 1, k, wav.f) == k;
            left -= k;
        }
        uint64_t copied = 0;
        while (ok) {
            const size_t k = std::fread(piece.data(), 1, piece.size(), raw.f);
            if (k == 0) break;
            ok = std::fwrite(piece.data(), 1, k, wav.f) == k;
            copied += k;
        }
        if (ok && (std::ferror(raw.f) || copied != n)) {
            failure = "Cannot read file \"" + RawFileName + "\"";
        } else if (ok && std::fflush(wav.f) != 0) {
            ok = false;
        }
        if (!ok && failure.empty()) failure = "Stream write error";
    }

    const bool failed = !failure.empty();
    if (failed) {
        Log(LogKind::Error, failure);
        Log(LogKind::Error, "Operation aborted");
    } else {
        Log(LogKind::Info, "PCM Stream Conveter to WAV");
        AudioEmpty = n == 0;
    }
    const bool closed = std::fclose(wav.f) == 0;
    wav.f = nullptr;
    std::fclose(raw.f);
    raw.f = nullptr;
    std::error_code ignored;
    // A WAV file whose header promises more than it holds is not left behind.
    if (failed || !closed) std::filesystem::remove(WavFileName, ignored);
    if (!failed && !closed) {
        Log(LogKind::Error, "Stream write error");
        AudioEmpty = true;
    }
    std::filesystem::remove(RawFileName, ignored);
}

}  // namespace qm::audio
