// Plain PCM WAV files: RIFF, a 16-byte format chunk, the data chunk.
#include <cerrno>
#include <cstring>

#include "audio/audio.h"

namespace qm::audio {

namespace {

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string Reason() { return std::strerror(errno); }

}  // namespace

WavWriter::~WavWriter() {
    if (file_) std::fclose(file_);
}

bool WavWriter::Open(const std::string& path, const WaveFormat& format, std::string& error) {
    if (file_) std::fclose(file_);
    data_bytes_ = 0;
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = "cannot create \"" + path + "\": " + Reason();
        return false;
    }
    uint8_t h[44] = {};
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, format.format_tag);
    Put16(h + 22, format.channels);
    Put32(h + 24, format.samples_per_sec);
    Put32(h + 28, format.avg_bytes_per_sec);
    Put16(h + 32, format.block_align);
    Put16(h + 34, format.bits_per_sample);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, 0);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h) {
        error = "cannot write \"" + path + "\": " + Reason();
        return false;
    }
    return true;
}

bool WavWriter::Write(const void* data, size_t bytes, std::string& error) {
    if (!file_) {
        error = "the WAV file is not open";
        return false;
    }
    if (data_bytes_ + bytes > kMaxDataBytes) {
        error = "the sound is too long for a WAV file";
        return false;
    }
    if (bytes && std::fwrite(data, 1, bytes, file_) != bytes) {
        error = "cannot write \"" + path_ + "\": " + Reason();
        return false;
    }
    data_bytes_ += bytes;
    return true;
}

bool WavWriter::Finish(std::string& error) {
    if (!file_) {
        error = "the WAV file is not open";
        return false;
    }
    uint8_t riff[4], data[4];
    Put32(riff, uint32_t(36 + data_bytes_));
    Put32(data, uint32_t(data_bytes_));
    bool ok = std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(riff, 1, 4, file_) == 4 &&
              std::fseek(file_, 40, SEEK_SET) == 0 && std::fwrite(data, 1, 4, file_) == 4;
    ok = std::fflush(file_) == 0 && ok;
    if (!ok) error = "cannot write \"" + path_ + "\": " + Reason();
    if (std::fclose(file_) != 0 && ok) {
        error = "cannot write \"" + path_ + "\": " + Reason();
        ok = false;
    }
    file_ = nullptr;
    return ok;
}

}  // namespace qm::audio
