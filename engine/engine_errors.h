// The engine's exception and FFmpeg error texts.
#pragma once

#include <stdexcept>
#include <string>

namespace qm::engine {

// Raised inside the engine; the task API turns it into a failed call or a failed task.
class FFmpegException : public std::runtime_error {
 public:
  explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

// Logs the text at llFatal and throws it as FFmpegException.
[[noreturn]] void RaiseFFmpeg(const std::string& message);

// prefix + ": " + the text of an FFmpeg error code or a negative errno.
std::string ErrorText(const std::string& prefix, int code);
// The text alone.
std::string ErrorCodeText(int code);

// printf-style formatting into a std::string.
std::string FormatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qm::engine
