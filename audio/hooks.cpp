// The process-wide interception points of the audio outputs.
#include <mutex>

#include "audio/audio.h"

namespace qm::audio::hooks {

namespace {

// The hook is called under the lock, so Install(nullptr) returns only when
// no call is running any more and the hook may be destroyed.
std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}
OutputHook* g_hook = nullptr;
std::atomic<bool> g_open_on{false};
std::atomic<bool> g_write_on{false};

}  // namespace

void Install(OutputHook* hook) {
    std::lock_guard<std::mutex> guard(Lock());
    g_hook = hook;
}

bool TryInstall(OutputHook* hook) {
    std::lock_guard<std::mutex> guard(Lock());
    if (g_hook && g_hook != hook) return false;
    g_hook = hook;
    return true;
}

void Remove(OutputHook* hook) {
    std::lock_guard<std::mutex> guard(Lock());
    if (g_hook == hook) g_hook = nullptr;
}

void SetOpenHookOn(bool on) { g_open_on = on; }
void SetWriteHookOn(bool on) { g_write_on = on; }
bool OpenHookOn() { return g_open_on; }
bool WriteHookOn() { return g_write_on; }

void NotifyOpened(const WaveFormat& format, OutputPath path) {
    if (!g_open_on) return;
    std::lock_guard<std::mutex> guard(Lock());
    if (g_hook) g_hook->OpenedOn(path, format);
}

void NotifyBlock(const void* data, size_t bytes, OutputPath path) {
    if (!g_write_on) return;
    std::lock_guard<std::mutex> guard(Lock());
    if (g_hook) g_hook->BlockWrittenOn(path, data, bytes);
}

}  // namespace qm::audio::hooks
