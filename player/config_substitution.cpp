// The configuration substitution as a hook on the player's file access.
#include "player/config_substitution.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "flash/config_access.h"

namespace qm::player {

namespace {

constexpr std::string_view kConfigSuffix = "Macromed/Flash/mms.cfg";

class Substitution final : public flash::FileAccessHook {
public:
    Substitution(std::function<void(const std::string&)> writeError, std::string placeholder)
        : write_error_(std::move(writeError)), placeholder_(std::move(placeholder)) {}

    bool Open(const std::string& path, flash::FileHandle& result) override {
        if (!open_armed_ || !path.ends_with(kConfigSuffix)) return false;
        // Only the first open is substituted; a second reaches the real file.
        open_armed_ = false;
        result = flash::RealOpenPlayerFile(placeholder_);
        if (result == flash::kNoFile) {
            if (write_error_) write_error_("Load lib-base-u.dll Failed.");
        } else {
            substitute_ = result;
        }
        return true;
    }

    bool Read(flash::FileHandle file, void* buffer, size_t size, int64_t& result) override {
        if (substitute_ == flash::kNoFile || file != substitute_ || sent_ >= kPlayerConfigurationText.size())
            return false;
        // A smaller request gets what fits; the rest comes with the next reads.
        const size_t n = std::min(size, kPlayerConfigurationText.size() - sent_);
        if (n > 0) std::memcpy(buffer, kPlayerConfigurationText.data() + sent_, n);
        sent_ += n;
        result = int64_t(n);
        return true;
    }

    void Closing(flash::FileHandle file) override {
        // The handle's number may be given to another file after the close.
        if (file == substitute_) {
            substitute_ = flash::kNoFile;
            sent_ = kPlayerConfigurationText.size();
        }
    }

private:
    std::function<void(const std::string&)> write_error_;
    std::string placeholder_;
    bool open_armed_ = true;
    flash::FileHandle substitute_ = flash::kNoFile;
    size_t sent_ = 0;
};

std::unique_ptr<Substitution> g_substitution;

}  // namespace

std::string PlaceholderFilePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path folder = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    return (folder / "LibAV" / "lib-base-u.dll").string();
}

void InstallPlayerConfig(std::function<void(const std::string&)> writeError, std::string placeholder) {
    RemovePlayerConfig();
    g_substitution = std::make_unique<Substitution>(std::move(writeError), std::move(placeholder));
    flash::SetFileAccessHook(g_substitution.get());
}

void RemovePlayerConfig() {
    flash::SetFileAccessHook(nullptr);
    g_substitution.reset();
}

}  // namespace qm::player
