// The player's own file access: the files it reads for itself (its
// configuration) are opened and read through these calls, which a hook can
// answer in their place, and the player's configuration keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::flash {

using FileHandle = int;
constexpr FileHandle kNoFile = -1;

// Opens for reading; kNoFile on failure.
FileHandle OpenPlayerFile(const std::string& path);
// Bytes read (0 at the end), or -1 on failure.
int64_t ReadPlayerFile(FileHandle file, void* buffer, size_t size);
void ClosePlayerFile(FileHandle file);

// The calls without any hook.
FileHandle RealOpenPlayerFile(const std::string& path);
int64_t RealReadPlayerFile(FileHandle file, void* buffer, size_t size);
void RealClosePlayerFile(FileHandle file);

// Answers calls of the file access in place of the real calls. Each member
// returns true when it answered (the result in its out argument); false
// lets the real call run. Calls into the hook are serialised; the hook may
// use the Real* calls.
class FileAccessHook {
public:
    virtual ~FileAccessHook() = default;
    virtual bool Open(const std::string& path, FileHandle& result) = 0;
    virtual bool Read(FileHandle file, void* buffer, size_t size, int64_t& result) = 0;
    // Told of every close before it happens.
    virtual void Closing(FileHandle file) = 0;
};

// One hook at a time; null removes it. Returns once no call of the former
// hook runs any more.
void SetFileAccessHook(FileAccessHook* hook);

// --- The player's configuration

struct PlayerConfiguration {
    bool AutoUpdateDisable = false;
    bool SilentAutoUpdateEnable = false;
    bool FullFrameRatewhenInvisible = false;

    // This player never updates itself; these say what the keys allow.
    bool UpdatesAllowed() const { return !AutoUpdateDisable; }
    bool SilentUpdatesAllowed() const { return UpdatesAllowed() && SilentAutoUpdateEnable; }
    // Frames per second of a movie whose player is not visible: the full
    // rate when the configuration asks for it, else at most 2.
    double FrameRateWhenInvisible(double frameRate) const;
};

// The per-machine configuration file, a path ending "Macromed/Flash/mms.cfg".
std::string PlayerConfigurationPath();
// Reads `path` through the file access: "key=value" lines ended by CR or
// LF, keys without regard to case, "1" or "true" for on. A missing or
// unreadable file gives the defaults.
PlayerConfiguration ReadPlayerConfiguration(const std::string& path);
// Read once, when the first player is created.
const PlayerConfiguration& CurrentPlayerConfiguration();

}  // namespace qm::flash
