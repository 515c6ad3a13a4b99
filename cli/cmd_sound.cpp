// quellmark-cli sound MOVIE --frames N (--out OUT.wav | --play)
// Runs the movie N frames and writes the sound of those frames, mixed, as a
// 16-bit stereo PCM WAV file: exactly the samples of N frames at the
// movie's frame rate. --play plays them in real time through the audio
// output (the sound device, or the silent output where there is none);
// --capture WAV also records what the output plays, as a capture does, and
// writes it as the capture's WAV file.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio.h"
#include "audio/sound_capture.h"
#include "cli/commands.h"
#include "flash/player.h"

namespace qm::cli {

namespace {

int Usage(const std::string& why) {
    std::fprintf(stderr, "quellmark-cli sound: %s\n", why.c_str());
    std::fprintf(stderr, "Usage: quellmark-cli sound MOVIE --frames N (--out OUT.wav | --play [--capture OUT.wav])\n");
    return 2;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "quellmark-cli sound: %s\n", why.c_str());
    return 1;
}

}  // namespace

int RunSound(const Args& args) {
    std::string movie, out, capture;
    long frames = -1;
    bool play = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--play") {
            play = true;
        } else if (a == "--frames" || a == "--out" || a == "--capture") {
            if (i + 1 >= args.size()) return Usage(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--out" || a == "--capture") {
                (a == "--out" ? out : capture) = v;
                continue;
            }
            errno = 0;
            char* end = nullptr;
            frames = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || errno || *end || frames < 0 || frames > 1000000)
                return Usage("--frames must be a whole number from 0 to 1000000");
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option \"" + a + "\"");
        } else if (movie.empty()) {
            movie = a;
        } else {
            return Usage("only one movie can be played");
        }
    }
    if (movie.empty()) return Usage("no movie given");
    if (out.empty() == !play) return Usage("give either --out or --play");
    if (frames < 0) return Usage("--frames is required");
    if (!capture.empty() && !play) return Usage("--capture needs --play");

    flash::LoadResult loaded = flash::Player::LoadFile(movie);
    if (!loaded.player) return Fail(movie + ": " + loaded.error);
    flash::Player& player = *loaded.player;
    constexpr size_t kFrameBytes = flash::Player::kMixChannels * sizeof(int16_t);
    if (player.SoundSamplesBefore(uint64_t(frames)) * kFrameBytes > audio::WavWriter::kMaxDataBytes)
        return Fail("the sound of " + std::to_string(frames) + " frames is too long for a WAV file");

    if (play) {
        std::optional<audio::TSoundHook> hook;
        if (!capture.empty()) {
            hook.emplace([](audio::LogKind, const std::string& line) {
                std::fprintf(stderr, "quellmark-cli sound: %s\n", line.c_str());
            });
            hook->RawFileName = capture + ".raw";
            hook->WavFileName = capture;
            hook->InstallHooks();
        }
        std::string note;
        auto output = audio::OpenOutput(audio::WaveFormat::Pcm16(flash::Player::kMixRate, flash::Player::kMixChannels),
                                        &note);
        std::fprintf(stderr, "quellmark-cli sound: %s\n", note.c_str());
        if (hook) hook->StartCapture();
        std::vector<int16_t> block;
        for (long f = 1; f <= frames; ++f) {
            player.Advance();
            const size_t count =
                size_t(player.SoundSamplesBefore(uint64_t(f)) - player.SoundSamplesBefore(uint64_t(f - 1)));
            block.resize(count * flash::Player::kMixChannels);
            player.Mix(block.data(), count);
            // Waits while the output holds enough: the movie runs in real time.
            if (!output->Write(block.data(), count)) return Fail("the sound output was closed");
        }
        output->Drain();
        // The last block has started: let it finish.
        std::this_thread::sleep_for(std::chrono::microseconds(
            uint64_t(block.size() / flash::Player::kMixChannels) * 1000000 / flash::Player::kMixRate));
        if (hook) {
            hook->StopCapture();
            output->Close();
            hook->MakeWavFile();
            if (!std::filesystem::exists(capture)) return Fail("the capture's WAV file could not be written");
            return 0;
        }
        output->Close();
        return 0;
    }
    audio::WavWriter wav;
    std::string error;
    if (!wav.Open(out, audio::WaveFormat::Pcm16(flash::Player::kMixRate, flash::Player::kMixChannels), error))
        return Fail(error);
    std::vector<int16_t> block;
    for (long f = 1; f <= frames; ++f) {
        player.Advance();
        const size_t count = size_t(player.SoundSamplesBefore(uint64_t(f)) - player.SoundSamplesBefore(uint64_t(f - 1)));
        block.resize(count * flash::Player::kMixChannels);
        player.Mix(block.data(), count);
        if (!wav.Write(block.data(), block.size() * sizeof(int16_t), error)) {
            std::string ignored;
            wav.Finish(ignored);
            std::remove(out.c_str());
            return Fail(error);
        }
    }
    if (!wav.Finish(error)) {
        std::remove(out.c_str());
        return Fail(error);
    }
    return 0;
}

}  // namespace qm::cli
