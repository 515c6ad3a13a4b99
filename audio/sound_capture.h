// Recording of the player's sound during a capture: the hook engine over the
// audio output layer's interception points, the sound capture object with
// its two buffers and writer thread, and the WAV file built from the raw
// samples afterwards.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio.h"

namespace qm::audio {

// Log lines go to the program's event log: WriteInfo or WriteError.
enum class LogKind { Info, Error };
using LogSink = std::function<void(LogKind, const std::string&)>;

// What the replacements of the hook engine hand on.
class CaptureSink {
public:
    virtual ~CaptureSink() = default;
    virtual void SetFormat(const WaveFormat* format) = 0;
    virtual void AddSamples(const void* data, int64_t length) = 0;
};

// --- Hook engine

// The audio path whose sound is recorded: the output the player really
// uses, a sound device through SDL when one opens, else the silent output.
enum class HookMode : uint8_t { Device = 0, Silent = 1 };
// The tag of the path's log lines: "hsSDL" or "hsSilent".
const char* HookTag(HookMode mode);
// Device when `deviceOpens` says a device output opens (by default, one is
// opened and closed again), as the player's own choice of output goes.
HookMode ChooseHookMode(const std::function<bool()>& deviceOpens = {});

// Redirects the opens (the format) and writes (the samples) of the outputs
// of one path to a sink. The open hook stays on from installation; the
// write hook is switched on only while a capture records. The outputs call
// through the interception points and never stop playing, so no thread ever
// runs into a half-installed or temporarily removed redirection.
class HookEngine final : public OutputHook {
public:
    HookEngine() = default;
    ~HookEngine() override { Remove(); }
    HookEngine(const HookEngine&) = delete;
    HookEngine& operator=(const HookEngine&) = delete;

    // False when the interception points are held by another hook: that
    // path then records nothing.
    bool Install(HookMode mode, CaptureSink* sink);
    void SetWriteHook(bool on);
    // Returns once no replacement runs any more.
    void Remove();
    bool Installed() const { return installed_; }

    void Opened(const WaveFormat&) override {}
    void BlockWritten(const void*, size_t) override {}
    void OpenedOn(OutputPath path, const WaveFormat& format) override;
    void BlockWrittenOn(OutputPath path, const void* data, size_t bytes) override;

private:
    HookMode mode_ = HookMode::Device;
    CaptureSink* sink_ = nullptr;
    bool installed_ = false;
};

// --- Sound capture object

// The default clock: microseconds of wall-clock time, as the encoding
// engine's clock reads it.
Clock& WallClock();

class TSoundHook final : public CaptureSink {
public:
    static constexpr size_t kBufferBytes = 2097152;
    static constexpr int64_t kGapMicros = 200000;
    static constexpr int64_t kLeadSilenceMicros = 100000;

    // `mode` unset: chosen by ChooseHookMode. `clock` not owned.
    explicit TSoundHook(LogSink log = {}, Clock* clock = nullptr, std::optional<HookMode> mode = std::nullopt);
    ~TSoundHook() override;
    TSoundHook(const TSoundHook&) = delete;
    TSoundHook& operator=(const TSoundHook&) = delete;

    void InstallHooks();
    void StartCapture();
    void StopCapture();
    void SetFormat(const WaveFormat* format) override;
    void AddSamples(const void* data, int64_t length) override;
    // The raw file becomes the WAV file; sets AudioEmpty.
    void MakeWavFile();

    HookMode Mode() const { return mode_; }
    bool Capturing() const;
    int64_t LeadTime() const;
    WaveFormat Format() const;

    std::string WavFileName, RawFileName, VideoFileName;
    bool AudioEmpty = false;

private:
    struct TTempBuffer {
        bool Standby = true;
        int State = 0;
        std::vector<uint8_t> Data;
    };
    TTempBuffer* Receiving();
    void AppendZeros(TTempBuffer& buffer, uint64_t bytes);
    void WriterLoop();
    // Under lock_: appends to the raw file; false after a write error.
    bool WriteOut(const std::vector<uint8_t>& data);
    void Log(LogKind kind, const std::string& line) const;

    LogSink log_;
    // Taken after lock_ when both are held.
    mutable std::mutex log_lock_;
    Clock& clock_;
    HookMode mode_;
    HookEngine engine_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    WaveFormat format_;
    bool capturing_ = false;
    bool first_data_seen_ = false;
    int64_t lead_time_ = 0, start_clock_ = 0, last_data_time_ = 0;
    TTempBuffer buffer_a_, buffer_b_;
    std::FILE* raw_file_ = nullptr;
    uint64_t raw_bytes_ = 0;
    bool write_failed_ = false;
    // The buffer the writer copies out at the moment, outside the lock.
    TTempBuffer* writing_ = nullptr;
    bool wake_ = false, quit_ = false;
    std::thread writer_;
};

// --- The WAV file

// The 68 header bytes for `format`, `silence` lead bytes and `rawBytes` of
// samples (sizes that fit 32 bits).
std::array<uint8_t, 68> MakeWavHeader(const WaveFormat& format, uint32_t silence, uint32_t rawBytes);
// Zero bytes that put the first sound at `leadTime` µs: none up to 0.1 s,
// else whole sample frames.
uint64_t LeadSilenceBytes(const WaveFormat& format, int64_t leadTime);

}  // namespace qm::audio
