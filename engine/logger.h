// The engine logger: the engine's own messages and every line FFmpeg prints reach the program
// through one TFFLogger.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

namespace qm::engine {

enum TLogLevel : int {
  llQuiet = 0,
  llPanic = 1,
  llFatal = 2,
  llError = 3,
  llWarning = 4,
  llInfo = 5,
  llVerbose = 6,
  llDebug = 7,
};

constexpr int LogLevelToFF(TLogLevel level) { return int(level) * 8 - 8; }
constexpr TLogLevel FFToLogLevel(int ffLevel) {
  const int n = ffLevel / 8 + 1;  // truncates toward zero
  return n < llQuiet ? llQuiet : n > llDebug ? llDebug : TLogLevel(n);
}

using TLogEvent = std::function<void(void* Sender, std::uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger {
 public:
  // A program creates at most one logger of its own; it replaces the internal one. A second one
  // throws std::logic_error "Allow creating only one instance of TFFLogger.".
  TFFLogger();
  ~TFFLogger();
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  TLogLevel LogLevel() const { return FLogLevel; }
  // Also sets FFmpeg's level once avutil is bound.
  void SetLogLevel(TLogLevel level);
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool value) { FTriggerEventInMainThread = value; }
  // Set the handler before logging starts; it is read by FFmpeg's threads.
  void SetOnLog(TLogEvent handler);
  bool HasOnLog() const;

  bool IsInternal() const { return FInternal; }

 private:
  friend TFFLogger& DefaultLogger();
  friend void Deliver(TFFLogger&, void*, std::uint32_t, TLogLevel, const std::string&);
  struct TInternalTag {};
  explicit TFFLogger(TInternalTag);
  void Attach();

  TLogLevel FLogLevel = llInfo;
  bool FTriggerEventInMainThread = true;
  bool FInternal = false;
  TLogEvent FOnLog;
};

// The logger in use; creates an internal one when the program has none.
TFFLogger& DefaultLogger();

void Log(void* sender, TLogLevel level, const std::string& msg);
void LogFmt(void* sender, TLogLevel level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// The function given to av_log_set_callback.
void LogCallback(void* avcl, int level, const char* fmt, va_list args);
// Installs LogCallback and applies the logger's level; av_log_set_callback and av_log_set_level
// must be bound.
void InstallCallback();

// Flushes FFmpeg's line state at the end of a run: emits a pending repeat note.
void FlushLog();

// The id the logger reports for the calling thread.
std::uint32_t CurrentThreadId();

}  // namespace qm::engine
