// The audio output layer: where the player's sound leaves the program.
// An output takes blocks of samples from the player's side, plays them on
// a thread of its own (a sound device through SDL, or, where none can be
// opened, a silent output that consumes them at the pace of the clock), and
// offers two interception points: the open (the wave format) and the write
// (each block as the output thread takes it), for the sound capture.
// Also the plain WAV file writer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm::audio {

// The 18 bytes of a wave format (format tag 1 is PCM).
struct WaveFormat {
    uint16_t format_tag = 1;
    uint16_t channels = 2;
    uint32_t samples_per_sec = 44100;
    uint32_t avg_bytes_per_sec = 44100 * 4;
    uint16_t block_align = 4;
    uint16_t bits_per_sample = 16;
    uint16_t extra_size = 0;

    static WaveFormat Pcm16(uint32_t rate, uint16_t channels);
    bool operator==(const WaveFormat&) const = default;
};

// --- Interception

// The two ways the player's sound leaves the program: a sound device
// through SDL, or the silent output.
enum class OutputPath : uint8_t { Device = 0, Silent = 1 };

// Receives what outputs open and write while its switches are on. Opened
// runs on the thread that opens an output, BlockWritten on the output's
// own thread, once per block, before the block is played.
class OutputHook {
public:
    virtual ~OutputHook() = default;
    virtual void Opened(const WaveFormat& format) = 0;
    virtual void BlockWritten(const void* data, size_t bytes) = 0;
    // The same, told which path the output is on; a hook that records one
    // path only overrides these.
    virtual void OpenedOn(OutputPath path, const WaveFormat& format) {
        (void)path;
        Opened(format);
    }
    virtual void BlockWrittenOn(OutputPath path, const void* data, size_t bytes) {
        (void)path;
        BlockWritten(data, bytes);
    }
};

// The process-wide interception points. One hook at a time; the open and
// the write point are switched on and off apart, as a capture needs the
// format all along but the samples only while it records.
namespace hooks {
void Install(OutputHook* hook);  // not owned; null removes it
// Installs `hook` only when no other hook holds the points.
bool TryInstall(OutputHook* hook);
// Removes `hook` when it is the one installed; returns once no call of it
// runs any more.
void Remove(OutputHook* hook);
void SetOpenHookOn(bool on);
void SetWriteHookOn(bool on);
bool OpenHookOn();
bool WriteHookOn();
// Called by outputs.
void NotifyOpened(const WaveFormat& format, OutputPath path = OutputPath::Device);
void NotifyBlock(const void* data, size_t bytes, OutputPath path = OutputPath::Device);
}  // namespace hooks

// --- Outputs

// Microseconds of a steady clock, and sleeping on it; replaced in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowMicros() = 0;
    virtual void SleepUntil(int64_t micros) = 0;
};
Clock& SteadyClock();

class Output {
public:
    virtual ~Output() = default;
    // "SDL" with the device's driver, or "silent".
    virtual std::string Name() const = 0;
    const WaveFormat& Format() const { return format_; }
    OutputPath Path() const { return path_; }

    // Queues one block of interleaved samples in the output's format (whole
    // sample frames). Waits while more than the output's latency is queued,
    // so a producer that writes as fast as it can runs in real time.
    // False once the output is closed.
    bool Write(const int16_t* samples, size_t frames);
    // Sample frames written but not yet taken by the output thread.
    size_t QueuedFrames() const;
    // Waits until every block written has been taken and has passed the write point.
    void Drain();
    // Blocks taken by the output thread so far, in sample frames.
    uint64_t PlayedFrames() const;

    // Applied to what is played, after the write point.
    void SetVolume(int volume);  // 0..100
    int Volume() const { return volume_; }
    void SetMuted(bool muted) { muted_ = muted; }
    bool Muted() const { return muted_; }

    // Stops the output thread; queued blocks are dropped.
    virtual void Close() = 0;

protected:
    explicit Output(const WaveFormat& format, size_t latency_frames);
    struct Queue;
    Queue& queue() { return *queue_; }
    // Output thread: takes the next block (hook called), or false when none
    // is queued or the output is closed. `block` is reused.
    bool TakeBlock(std::vector<int16_t>& block);
    // Output thread: waits until a block is queued; false once closed.
    bool WaitForBlock();
    bool IsClosed() const;
    void Wake();  // closes the queue and ends every wait on it
    void ApplyVolume(int16_t* samples, size_t count) const;

    WaveFormat format_;
    OutputPath path_ = OutputPath::Device;
    std::shared_ptr<Queue> queue_;
    std::atomic<int> volume_{100};
    std::atomic<bool> muted_{false};
};

// A device output through SDL (audio subsystem only) when one opens, else
// the silent output. `note` tells which and why.
std::unique_ptr<Output> OpenOutput(const WaveFormat& format, std::string* note = nullptr);
std::unique_ptr<Output> OpenSdlOutput(const WaveFormat& format, std::string& error);
// Consumes blocks in real time by `clock` (not owned; SteadyClock() when null).
std::unique_ptr<Output> OpenSilentOutput(const WaveFormat& format, Clock* clock = nullptr);

// --- WAV files

// A plain PCM WAV file: the 44-byte header, then the samples. The sizes
// are written when it is finished.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, const WaveFormat& format, std::string& error);
    bool Write(const void* data, size_t bytes, std::string& error);
    // Writes the sizes and closes; false (with the reason) when that fails.
    bool Finish(std::string& error);
    uint64_t DataBytes() const { return data_bytes_; }

    // The data a WAV file can hold: its sizes have 32 bits.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

private:
    std::FILE* file_ = nullptr;
    std::string path_;
    uint64_t data_bytes_ = 0;
};

}  // namespace qm::audio
