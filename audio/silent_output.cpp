// The output of machines without a sound device: it takes each block when
// a device would start playing it, by the clock, and drops it. A producer
// that waits on it therefore runs in real time, and the write point sees
// the blocks at the moments a device would.
#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/audio.h"

namespace qm::audio {

namespace {

class SteadyClockImpl : public Clock {
public:
    int64_t NowMicros() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void SleepUntil(int64_t micros) override {
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(micros)));
    }
};

// A close waits at most this long for a sleeping thread.
constexpr int64_t kSleepSliceMicros = 20000;

class SilentOutput : public Output {
public:
    SilentOutput(const WaveFormat& format, Clock& clock)
        : Output(format, std::max<size_t>(format.samples_per_sec / 5, 1)), clock_(clock) {
        path_ = OutputPath::Silent;
        hooks::NotifyOpened(format_, path_);
        thread_ = std::thread([this] { Run(); });
    }
    ~SilentOutput() override { Close(); }

    std::string Name() const override { return "silent"; }

    void Close() override {
        Wake();
        if (thread_.joinable()) thread_.join();
    }

private:
    void Run() {
        std::vector<int16_t> block;
        int64_t due = 0;
        bool started = false;
        const uint32_t rate = std::max<uint32_t>(format_.samples_per_sec, 1);
        const size_t channels = std::max<uint16_t>(format_.channels, 1);
        // Played time in whole frames since `base`, so rounding never adds up.
        int64_t base = 0;
        uint64_t frames_since_base = 0;
        while (WaitForBlock()) {
            const int64_t now = clock_.NowMicros();
            if (!started || due < now) {
                // Nothing was queued when the last block ran out: the clock
                // starts again from now, as a device that ran dry would.
                started = true;
                base = due = now;
                frames_since_base = 0;
            }
            while (!IsClosed()) {
                const int64_t t = clock_.NowMicros();
                if (t >= due) break;
                clock_.SleepUntil(std::min(due, t + kSleepSliceMicros));
            }
            if (!TakeBlock(block)) continue;
            frames_since_base += block.size() / channels;
            due = base + int64_t(frames_since_base * 1000000 / rate);
        }
    }

    Clock& clock_;
    std::thread thread_;
};

}  // namespace

Clock& SteadyClock() {
    static SteadyClockImpl clock;
    return clock;
}

std::unique_ptr<Output> OpenSilentOutput(const WaveFormat& format, Clock* clock) {
    return std::make_unique<SilentOutput>(format, clock ? *clock : SteadyClock());
}

}  // namespace qm::audio
