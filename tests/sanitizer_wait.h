// Waits in tests that give a slow run time to finish: ThreadSanitizer makes the encoder and
// the player several times slower, so their waits are lengthened there (and only there).
#pragma once

#include <chrono>

namespace qm::test {

#if defined(__SANITIZE_THREAD__)
inline constexpr int kWaitScale = 10;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr int kWaitScale = 10;
#else
inline constexpr int kWaitScale = 1;
#endif
#else
inline constexpr int kWaitScale = 1;
#endif

inline constexpr std::chrono::seconds Wait(int seconds) {
    return std::chrono::seconds(seconds * kWaitScale);
}

}  // namespace qm::test
