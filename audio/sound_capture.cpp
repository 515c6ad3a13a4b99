// The sound capture object: samples from the player's audio thread go into
// one of two memory buffers; a full buffer is handed to the writer thread,
// which appends it to the raw file. Silences are measured on the capture
// clock and written as zero bytes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "audio/sound_capture.h"

namespace qm::audio {

namespace {

class WallClockImpl : public Clock {
public:
    int64_t NowMicros() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    void SleepUntil(int64_t micros) override {
        std::this_thread::sleep_until(std::chrono::system_clock::time_point(std::chrono::microseconds(micros)));
    }
};

uint16_t BlockAlign(const WaveFormat& f) { return std::max<uint16_t>(f.block_align, 1); }

}  // namespace

Clock& WallClock() {
    static WallClockImpl clock;
    return clock;
}

TSoundHook::TSoundHook(LogSink log, Clock* clock, std::optional<HookMode> mode)
    : log_(std::move(log)), clock_(clock ? *clock : WallClock()), mode_(mode ? *mode : ChooseHookMode()) {
    writer_ = std::thread([this] { WriterLoop(); });
}

TSoundHook::~TSoundHook() {
    engine_.Remove();
    if (Capturing()) StopCapture();
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
        changed_.notify_all();
    }
    writer_.join();
    if (raw_file_) std::fclose(raw_file_);
}

void TSoundHook::Log(LogKind kind, const std::string& line) const {
    // The writer thread logs too: the sink gets one line at a time, whatever it is.
    std::lock_guard<std::mutex> guard(log_lock_);
    if (log_) log_(kind, line);
}

void TSoundHook::InstallHooks() {
    const std::string tag = std::string("[") + HookTag(mode_) + "] Hook";
    if (engine_.Install(mode_, this))
        Log(LogKind::Info, tag);
    else
        Log(LogKind::Error, tag + " Failed");
}

bool TSoundHook::Capturing() const {
    std::lock_guard<std::mutex> guard(lock_);
    return capturing_;
}

int64_t TSoundHook::LeadTime() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lead_time_;
}

WaveFormat TSoundHook::Format() const {
    std::lock_guard<std::mutex> guard(lock_);
    return format_;
}

void TSoundHook::SetFormat(const WaveFormat* format) {
    if (!format) return;
    std::lock_guard<std::mutex> guard(lock_);
    format_ = *format;
}

void TSoundHook::StartCapture() {
    Log(LogKind::Info, "[Start Audio Capture]");
    std::unique_lock<std::mutex> guard(lock_);
    // A writer still busy with the last capture's buffer finishes first.
    changed_.wait(guard, [&] { return writing_ == nullptr; });
    if (raw_file_) std::fclose(raw_file_);
    raw_file_ = std::fopen(RawFileName.c_str(), "wb");
    raw_bytes_ = 0;
    write_failed_ = false;
    buffer_a_ = {};
    buffer_a_.Standby = false;
    buffer_b_ = {};
    first_data_seen_ = false;
    lead_time_ = 0;
    wake_ = false;
    if (!raw_file_) {
        const std::string why = std::strerror(errno);
        capturing_ = false;
        guard.unlock();
        // The capture runs without sound; the WAV step then finds no file.
        Log(LogKind::Error, "Cannot create file \"" + RawFileName + "\". " + why);
        return;
    }
    capturing_ = true;
    // Read before the write hook goes on, so no block can meet an old
    // start time.
    start_clock_ = clock_.NowMicros();
    guard.unlock();
    engine_.SetWriteHook(true);
}

TSoundHook::TTempBuffer* TSoundHook::Receiving() {
    if (!buffer_a_.Standby) return &buffer_a_;
    if (!buffer_b_.Standby) return &buffer_b_;
    return nullptr;
}

void TSoundHook::AppendZeros(TTempBuffer& buffer, uint64_t bytes) {
    buffer.Data.insert(buffer.Data.end(), size_t(bytes), uint8_t(0));
}

void TSoundHook::AddSamples(const void* data, int64_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    const int64_t call_time = clock_.NowMicros();
    if (!first_data_seen_) {
        lead_time_ = call_time - start_clock_;
        last_data_time_ = call_time;
        first_data_seen_ = true;
    }
    const int64_t gap = call_time - last_data_time_;
    if (gap > kGapMicros && capturing_) {
        const uint16_t align = BlockAlign(format_);
        uint64_t silence = uint64_t(double(gap) / 1000000.0 * format_.avg_bytes_per_sec);
        silence = silence / align * align;
        if (TTempBuffer* r = Receiving()) AppendZeros(*r, silence);
    }
    last_data_time_ = call_time;

    if (buffer_a_.State == 2 || buffer_b_.State == 2) return;
    if (buffer_a_.State == 0 || buffer_b_.State == 0) buffer_a_.State = buffer_b_.State = 1;
    if (!capturing_ || length <= 0 || !data) return;

    TTempBuffer* r = Receiving();
    if (!r) return;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (r->Data.size() < kBufferBytes) {
        r->Data.insert(r->Data.end(), bytes, bytes + length);
        return;
    }
    TTempBuffer* other = r == &buffer_a_ ? &buffer_b_ : &buffer_a_;
    if (writing_ == other || !other->Data.empty()) {
        // The writer has not finished with the other buffer yet: this one
        // keeps receiving, so nothing is lost and nothing overwritten.
        r->Data.insert(r->Data.end(), bytes, bytes + length);
        wake_ = true;
        changed_.notify_all();
        return;
    }
    r->Standby = true;
    other->Standby = false;
    other->Data.insert(other->Data.end(), bytes, bytes + length);
    wake_ = true;
    changed_.notify_all();
}

bool TSoundHook::WriteOut(const std::vector<uint8_t>& data) {
    if (!raw_file_ || write_failed_) return false;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), raw_file_) != data.size()) {
        write_failed_ = true;
        Log(LogKind::Error, "Cannot write file \"" + RawFileName + "\". " + std::strerror(errno));
        return false;
    }
    raw_bytes_ += data.size();
    return true;
}

void TSoundHook::WriterLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] { return wake_ || quit_; });
        if (!wake_ && quit_) return;
        wake_ = false;
        if (raw_file_ && raw_bytes_ == 0) Log(LogKind::Info, "Add Audio Stream to PCM");
        for (TTempBuffer* b : {&buffer_a_, &buffer_b_}) {
            if (!b->Standby || b->Data.empty()) continue;
            // Only this thread touches a standby buffer's bytes and the file
            // while writing_ is set; the audio thread keeps appending elsewhere.
            writing_ = b;
            guard.unlock();
            WriteOut(b->Data);
            guard.lock();
            b->Data.clear();
            writing_ = nullptr;
            changed_.notify_all();
        }
    }
}

void TSoundHook::StopCapture() {
    Log(LogKind::Info, "[Stop Audio Capture]");
    {
        std::lock_guard<std::mutex> guard(lock_);
        capturing_ = false;
    }
    engine_.SetWriteHook(false);
    std::unique_lock<std::mutex> guard(lock_);
    if (!raw_file_) return;
    // The full buffer the writer has (or is about to) must reach the file
    // before the one that was receiving after it.
    changed_.wait(guard, [&] {
        const bool pending = (buffer_a_.Standby && !buffer_a_.Data.empty()) ||
                             (buffer_b_.Standby && !buffer_b_.Data.empty());
        if (pending && !wake_) {
            wake_ = true;
            changed_.notify_all();
        }
        return writing_ == nullptr && !pending;
    });
    if (raw_bytes_ == 0) Log(LogKind::Info, "Add Audio Stream to PCM");
    buffer_a_.State = buffer_b_.State = 2;
    for (TTempBuffer* b : {&buffer_a_, &buffer_b_}) {
        WriteOut(b->Data);
        b->Data.clear();
    }
    std::fclose(raw_file_);
    raw_file_ = nullptr;
}

}  // namespace qm::audio
