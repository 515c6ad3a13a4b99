// The device output: SDL's audio subsystem, which reaches the sound server
// or the device. Its callback thread is the output thread: it takes the
// queued blocks (the write point sees each one there) and plays them.
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "audio/audio.h"

namespace qm::audio {

namespace {

class SdlOutput : public Output {
public:
    explicit SdlOutput(const WaveFormat& format) : Output(format, std::max<size_t>(format.samples_per_sec / 5, 1)) {}
    ~SdlOutput() override { Close(); }

    bool Open(std::string& error) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error = SDL_GetError();
            return false;
        }
        subsystem_ = true;
        SDL_AudioSpec want{};
        want.freq = int(format_.samples_per_sec);
        want.format = AUDIO_S16SYS;
        want.channels = uint8_t(format_.channels);
        want.samples = 1024;
        want.callback = &SdlOutput::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts to what the device wants.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device_ == 0) {
            error = SDL_GetError();
            Close();
            return false;
        }
        const char* driver = SDL_GetCurrentAudioDriver();
        driver_ = driver ? driver : "";
        hooks::NotifyOpened(format_, path_);
        SDL_PauseAudioDevice(device_, 0);
        return true;
    }

    std::string Name() const override { return "SDL (" + driver_ + ")"; }

    void Close() override {
        Wake();
        if (device_) {
            // Returns once the callback is not running any more.
            SDL_CloseAudioDevice(device_);
            device_ = 0;
        }
        if (subsystem_) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            subsystem_ = false;
        }
    }

private:
    static void Callback(void* self, Uint8* stream, int len) {
        static_cast<SdlOutput*>(self)->Fill(reinterpret_cast<int16_t*>(stream), size_t(len) / sizeof(int16_t));
    }

    void Fill(int16_t* out, size_t count) {
        size_t done = 0;
        while (done < count) {
            if (offset_ >= block_.size()) {
                offset_ = 0;
                block_.clear();
                // Ran dry: the rest of this period is silence.
                if (!TakeBlock(block_)) break;
                ApplyVolume(block_.data(), block_.size());
            }
            const size_t n = std::min(count - done, block_.size() - offset_);
            std::memcpy(out + done, block_.data() + offset_, n * sizeof(int16_t));
            offset_ += n;
            done += n;
        }
        std::fill(out + done, out + count, int16_t(0));
    }

    SDL_AudioDeviceID device_ = 0;
    bool subsystem_ = false;
    std::string driver_;
    std::vector<int16_t> block_;
    size_t offset_ = 0;
};

}  // namespace

std::unique_ptr<Output> OpenSdlOutput(const WaveFormat& format, std::string& error) {
    if (format.format_tag != 1 || format.bits_per_sample != 16 || format.channels == 0 || format.channels > 8) {
        error = "only 16-bit PCM is played";
        return nullptr;
    }
    auto output = std::make_unique<SdlOutput>(format);
    if (!output->Open(error)) return nullptr;
    return output;
}

}  // namespace qm::audio
