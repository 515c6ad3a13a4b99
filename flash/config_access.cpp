// The player's file access and its configuration file.
#include "flash/config_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <mutex>

namespace qm::flash {

namespace {

std::mutex& HookLock() {
    static std::mutex lock;
    return lock;
}
FileAccessHook* g_hook = nullptr;

// A configuration file is a few lines; more is not read.
constexpr size_t kMaxConfigurationBytes = 65536;

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

}  // namespace

FileHandle RealOpenPlayerFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

int64_t RealReadPlayerFile(FileHandle file, void* buffer, size_t size) {
    if (file < 0) return -1;
    for (;;) {
        const ssize_t n = ::read(file, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

void RealClosePlayerFile(FileHandle file) {
    if (file >= 0) ::close(file);
}

FileHandle OpenPlayerFile(const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(HookLock());
        FileHandle result = kNoFile;
        if (g_hook && g_hook->Open(path, result)) return result;
    }
    return RealOpenPlayerFile(path);
}

int64_t ReadPlayerFile(FileHandle file, void* buffer, size_t size) {
    {
        std::lock_guard<std::mutex> guard(HookLock());
        int64_t result = -1;
        if (g_hook && g_hook->Read(file, buffer, size, result)) return result;
    }
    return RealReadPlayerFile(file, buffer, size);
}

void ClosePlayerFile(FileHandle file) {
    {
        std::lock_guard<std::mutex> guard(HookLock());
        if (g_hook) g_hook->Closing(file);
    }
    RealClosePlayerFile(file);
}

void SetFileAccessHook(FileAccessHook* hook) {
    std::lock_guard<std::mutex> guard(HookLock());
    g_hook = hook;
}

double PlayerConfiguration::FrameRateWhenInvisible(double frameRate) const {
    return FullFrameRatewhenInvisible ? frameRate : std::min(frameRate, 2.0);
}

std::string PlayerConfigurationPath() { return "/etc/Macromed/Flash/mms.cfg"; }

PlayerConfiguration ReadPlayerConfiguration(const std::string& path) {
    PlayerConfiguration config;
    const FileHandle file = OpenPlayerFile(path);
    if (file == kNoFile) return config;
    std::string text;
    char buffer[4096];
    while (text.size() < kMaxConfigurationBytes) {
        const int64_t n = ReadPlayerFile(file, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, size_t(n));
    }
    ClosePlayerFile(file);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Lower(Trim(line.substr(0, eq)));
        const std::string value = Lower(Trim(line.substr(eq + 1)));
        const bool on = value == "1" || value == "true";
        if (key == "autoupdatedisable") config.AutoUpdateDisable = on;
        else if (key == "silentautoupdateenable") config.SilentAutoUpdateEnable = on;
        else if (key == "fullframeratewheninvisible") config.FullFrameRatewhenInvisible = on;
    }
    return config;
}

const PlayerConfiguration& CurrentPlayerConfiguration() {
    static const PlayerConfiguration config = ReadPlayerConfiguration(PlayerConfigurationPath());
    return config;
}

}  // namespace qm::flash
