// The hook engine: the open and write interception points of the audio
// output layer, narrowed to the path the player plays through.
#include "audio/sound_capture.h"

namespace qm::audio {

const char* HookTag(HookMode mode) { return mode == HookMode::Device ? "hsSDL" : "hsSilent"; }

HookMode ChooseHookMode(const std::function<bool()>& deviceOpens) {
    if (deviceOpens) return deviceOpens() ? HookMode::Device : HookMode::Silent;
    std::string error;
    auto probe = OpenSdlOutput(WaveFormat::Pcm16(44100, 2), error);
    if (!probe) return HookMode::Silent;
    probe->Close();
    return HookMode::Device;
}

bool HookEngine::Install(HookMode mode, CaptureSink* sink) {
    Remove();
    mode_ = mode;
    sink_ = sink;
    if (!sink || !hooks::TryInstall(this)) return false;
    installed_ = true;
    hooks::SetOpenHookOn(true);
    return true;
}

void HookEngine::SetWriteHook(bool on) {
    if (installed_) hooks::SetWriteHookOn(on);
}

void HookEngine::Remove() {
    if (!installed_) return;
    hooks::SetWriteHookOn(false);
    hooks::SetOpenHookOn(false);
    hooks::Remove(this);
    installed_ = false;
}

void HookEngine::OpenedOn(OutputPath path, const WaveFormat& format) {
    if (uint8_t(path) == uint8_t(mode_) && sink_) sink_->SetFormat(&format);
}

void HookEngine::BlockWrittenOn(OutputPath path, const void* data, size_t bytes) {
    if (uint8_t(path) == uint8_t(mode_) && sink_) sink_->AddSamples(data, int64_t(bytes));
}

}  // namespace qm::audio
