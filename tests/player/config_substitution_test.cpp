// The player's configuration read is answered with the program's text once;
// every other open and read reaches the real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "flash/config_access.h"
#include "player/config_substitution.h"

namespace qm::player {
namespace {

namespace fs = std::filesystem;

struct ConfigSubstitution : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("qm_mms_" + std::to_string(::getpid()));
    fs::path config = dir / "Macromed" / "Flash" / "mms.cfg";
    fs::path other = dir / "other.txt";
    fs::path placeholder = dir / "LibAV" / "lib-base-u.dll";
    std::vector<std::string> errors;

    void SetUp() override {
        fs::create_directories(config.parent_path());
        fs::create_directories(placeholder.parent_path());
        Write(config, "AutoUpdateDisable=0\nFullFrameRatewhenInvisible=0\n");
        Write(other, "other data");
        Write(placeholder, "");
    }
    void TearDown() override {
        RemovePlayerConfig();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    static void Write(const fs::path& p, const std::string& s) { std::ofstream(p, std::ios::binary) << s; }
    void Install() {
        InstallPlayerConfig([this](const std::string& s) { errors.push_back(s); }, placeholder.string());
    }
    static std::string ReadAll(const fs::path& p, size_t piece = 4096) {
        const flash::FileHandle f = flash::OpenPlayerFile(p.string());
        if (f == flash::kNoFile) return "<no file>";
        std::string text;
        std::vector<char> buffer(piece);
        for (int64_t n; (n = flash::ReadPlayerFile(f, buffer.data(), buffer.size())) > 0;)
            text.append(buffer.data(), size_t(n));
        flash::ClosePlayerFile(f);
        return text;
    }
};

TEST_F(ConfigSubstitution, FirstConfigurationReadGetsTheFixedTextThenTheRealFile) {
    EXPECT_EQ(kPlayerConfigurationText.size(), 73u);
    Install();
    EXPECT_EQ(ReadAll(other), "other data");  // the substitution stays installed
    EXPECT_EQ(ReadAll(config), std::string(kPlayerConfigurationText));
    EXPECT_EQ(ReadAll(config), "AutoUpdateDisable=0\nFullFrameRatewhenInvisible=0\n");
    EXPECT_EQ(ReadAll(other), "other data");
    EXPECT_TRUE(errors.empty());
}

TEST_F(ConfigSubstitution, SmallReadsGetTheTextInPiecesAndTheHandleIsNotConfusedWithLaterFiles) {
    Install();
    EXPECT_EQ(ReadAll(config, 10), std::string(kPlayerConfigurationText));
    Install();
    const flash::FileHandle f = flash::OpenPlayerFile(config.string());
    ASSERT_NE(f, flash::kNoFile);
    flash::ClosePlayerFile(f);  // closed before any read: its number may be reused
    EXPECT_EQ(ReadAll(other), "other data");
}

TEST_F(ConfigSubstitution, MissingPlaceholderIsLoggedAndTheOpenFails) {
    fs::remove(placeholder);
    Install();
    EXPECT_EQ(ReadAll(config), "<no file>");
    EXPECT_EQ(errors, std::vector<std::string>{"Load lib-base-u.dll Failed."});
    // The player then runs with its built-in configuration.
    const auto c = flash::ReadPlayerConfiguration(config.string());
    EXPECT_FALSE(c.FullFrameRatewhenInvisible);
    EXPECT_FALSE(c.AutoUpdateDisable);
}

TEST_F(ConfigSubstitution, PlayerHonoursTheKeys) {
    Install();
    const auto c = flash::ReadPlayerConfiguration(config.string());
    EXPECT_TRUE(c.AutoUpdateDisable);
    EXPECT_FALSE(c.SilentAutoUpdateEnable);
    EXPECT_TRUE(c.FullFrameRatewhenInvisible);
    EXPECT_FALSE(c.UpdatesAllowed());
    EXPECT_EQ(c.FrameRateWhenInvisible(30.0), 30.0);
    RemovePlayerConfig();
    const auto real = flash::ReadPlayerConfiguration(config.string());
    EXPECT_FALSE(real.FullFrameRatewhenInvisible);
    EXPECT_EQ(real.FrameRateWhenInvisible(30.0), 2.0);
    EXPECT_TRUE(real.UpdatesAllowed());
    Write(config, " silentautoupdateenable = true \r\r=1\rnonsense\rAutoUpdateDisable");
    const auto odd = flash::ReadPlayerConfiguration(config.string());
    EXPECT_TRUE(odd.SilentAutoUpdateEnable);
    EXPECT_FALSE(odd.AutoUpdateDisable);
    EXPECT_FALSE(flash::ReadPlayerConfiguration((dir / "none.cfg").string()).AutoUpdateDisable);
}

TEST_F(ConfigSubstitution, RemovalBeforeAnyReadLeavesEverythingReal) {
    Install();
    RemovePlayerConfig();
    EXPECT_EQ(ReadAll(config), "AutoUpdateDisable=0\nFullFrameRatewhenInvisible=0\n");
    EXPECT_TRUE(flash::PlayerConfigurationPath().ends_with("Macromed/Flash/mms.cfg"));
    EXPECT_TRUE(PlaceholderFilePath().ends_with("LibAV/lib-base-u.dll"));
}

}  // namespace
}  // namespace qm::player
