// While the first player is created, its read of the per-machine
// configuration file is answered with the program's own text, so the
// player keeps its full frame rate while its window is hidden (which the
// capture relies on) and never updates itself.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qm::player {

// Three lines separated by a single carriage return, no final separator.
inline constexpr std::string_view kPlayerConfigurationText =
    "AutoUpdateDisable=1\rSilentAutoUpdateEnable=0\rFullFrameRatewhenInvisible=1";

// The executable's folder + "LibAV/lib-base-u.dll": opened in place of the
// configuration file so the player holds a real handle.
std::string PlaceholderFilePath();

// `writeError` receives the failure line "Load lib-base-u.dll Failed.".
// The first open of a path ending "Macromed/Flash/mms.cfg" opens
// `placeholder` instead; the first read of that handle gets the text.
void InstallPlayerConfig(std::function<void(const std::string&)> writeError,
                         std::string placeholder = PlaceholderFilePath());
// Removes whatever is left of the substitution.
void RemovePlayerConfig();

}  // namespace qm::player
