// What every output shares: the queue of blocks between the producer and
// the output thread, volume, the write point, and the WAV format helper.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "audio/audio.h"

namespace qm::audio {

WaveFormat WaveFormat::Pcm16(uint32_t rate, uint16_t channels) {
    WaveFormat f;
    f.channels = channels;
    f.samples_per_sec = rate;
    f.block_align = uint16_t(channels * 2);
    f.avg_bytes_per_sec = rate * f.block_align;
    return f;
}

struct Output::Queue {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::vector<int16_t>> blocks;
    size_t queued_frames = 0;
    uint64_t played_frames = 0;
    size_t latency_frames = 0;
    size_t channels = 2;
    int in_hand = 0;  // blocks taken but not yet through the write point
    bool closed = false;
};

Output::Output(const WaveFormat& format, size_t latency_frames)
    : format_(format), queue_(std::make_shared<Queue>()) {
    queue_->latency_frames = std::max<size_t>(latency_frames, 1);
    queue_->channels = std::max<uint16_t>(format.channels, 1);
}

bool Output::Write(const int16_t* samples, size_t frames) {
    Queue& q = *queue_;
    std::unique_lock<std::mutex> guard(q.lock);
    q.changed.wait(guard, [&] { return q.closed || q.queued_frames < q.latency_frames; });
    if (q.closed) return false;
    if (frames == 0) return true;
    // A device takes its sound in short periods, and the write point sees
    // it so whatever length the producer writes in: a long block would
    // otherwise reach the capture as one late burst after a silent wait.
    const size_t period = std::max<size_t>(format_.samples_per_sec / 20, 1);
    for (size_t at = 0; at < frames; at += period) {
        const size_t n = std::min(period, frames - at);
        q.blocks.emplace_back(samples + at * q.channels, samples + (at + n) * q.channels);
    }
    q.queued_frames += frames;
    q.changed.notify_all();
    return true;
}

size_t Output::QueuedFrames() const {
    std::lock_guard<std::mutex> guard(queue_->lock);
    return queue_->queued_frames;
}

uint64_t Output::PlayedFrames() const {
    std::lock_guard<std::mutex> guard(queue_->lock);
    return queue_->played_frames;
}

void Output::Drain() {
    Queue& q = *queue_;
    std::unique_lock<std::mutex> guard(q.lock);
    q.changed.wait(guard, [&] { return q.closed || (q.blocks.empty() && q.in_hand == 0); });
}

bool Output::TakeBlock(std::vector<int16_t>& block) {
    {
        Queue& q = *queue_;
        std::lock_guard<std::mutex> guard(q.lock);
        if (q.closed || q.blocks.empty()) return false;
        block.swap(q.blocks.front());
        q.blocks.pop_front();
        const size_t frames = block.size() / q.channels;
        q.queued_frames -= frames;
        q.played_frames += frames;
        ++q.in_hand;
        q.changed.notify_all();
    }
    hooks::NotifyBlock(block.data(), block.size() * sizeof(int16_t), path_);
    {
        Queue& q = *queue_;
        std::lock_guard<std::mutex> guard(q.lock);
        --q.in_hand;
        q.changed.notify_all();
    }
    return true;
}

bool Output::WaitForBlock() {
    Queue& q = *queue_;
    std::unique_lock<std::mutex> guard(q.lock);
    q.changed.wait(guard, [&] { return q.closed || !q.blocks.empty(); });
    return !q.closed;
}

bool Output::IsClosed() const {
    std::lock_guard<std::mutex> guard(queue_->lock);
    return queue_->closed;
}

void Output::Wake() {
    Queue& q = *queue_;
    std::lock_guard<std::mutex> guard(q.lock);
    q.closed = true;
    q.blocks.clear();
    q.queued_frames = 0;
    q.changed.notify_all();
}

void Output::SetVolume(int volume) { volume_ = std::clamp(volume, 0, 100); }

void Output::ApplyVolume(int16_t* samples, size_t count) const {
    const int volume = muted_ ? 0 : volume_.load();
    if (volume == 100) return;
    for (size_t i = 0; i < count; ++i) samples[i] = int16_t(int32_t(samples[i]) * volume / 100);
}

std::unique_ptr<Output> OpenOutput(const WaveFormat& format, std::string* note) {
    std::string error;
    if (auto sdl = OpenSdlOutput(format, error)) {
        if (note) *note = "sound goes to " + sdl->Name();
        return sdl;
    }
    if (note) *note = "no sound device (" + error + "): the sound is played silently";
    return OpenSilentOutput(format);
}

}  // namespace qm::audio
