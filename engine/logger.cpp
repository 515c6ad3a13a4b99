#include "engine/logger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/main_thread.h"

namespace qm::engine {

void Deliver(TFFLogger& logger, void* sender, std::uint32_t tid, TLogLevel level, const std::string& text);

namespace {

std::mutex RefLock;
TFFLogger* CurrentLogger = nullptr;
std::unique_ptr<TFFLogger> InternalLogger;

// FFmpeg lines above this level are dropped before any line building.
std::atomic<int> FFThreshold{AV_LOG_INFO};

std::mutex LineLock;
std::unordered_map<std::uint32_t, std::string> UnfinishedLines;
std::string PreviousChunk;
int RepeatCount = 0;

// Serializes deliveries. Recursive so that a handler may log itself.
std::recursive_mutex EventLock;

std::string VFormat(const char* fmt, va_list args) {
  char small[2048];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof small) return std::string(small, size_t(n));
  // Long messages are never cut: format again into a buffer that fits.
  std::string big(size_t(n) + 1, '\0');
  va_copy(copy, args);
  std::vsnprintf(big.data(), big.size(), fmt, copy);
  va_end(copy);
  big.resize(size_t(n));
  return big;
}

std::string ContextPrefix(void* avcl) {
  const AVClass* cls = *static_cast<const AVClass* const*>(avcl);
  if (!cls) return std::string();
  std::string prefix;
  if (cls->parent_log_context_offset) {
    void* parent = *reinterpret_cast<void**>(static_cast<std::uint8_t*>(avcl) + cls->parent_log_context_offset);
    if (parent) {
      const AVClass* parentClass = *static_cast<const AVClass* const*>(parent);
      if (parentClass) {
        const char* name = parentClass->item_name ? parentClass->item_name(parent) : parentClass->class_name;
        prefix += FormatText("[%s @ %p] ", name ? name : "", parent);
      }
    }
  }
  const char* name = cls->item_name ? cls->item_name(avcl) : cls->class_name;
  prefix += FormatText("[%s @ %p]", name ? name : "", avcl);
  return prefix;
}

using TLines = std::vector<std::pair<std::string, int>>;

// Forgets a thread's unfinished line when the thread ends, so a later thread that gets the same
// id never continues it.
struct TLineOwner {
  std::uint32_t Tid = 0;
  ~TLineOwner() {
    if (!Tid) return;
    std::lock_guard<std::mutex> guard(LineLock);
    UnfinishedLines.erase(Tid);
  }
};
thread_local TLineOwner LineOwner;

// Joins the chunk into the thread's line and collects the lines it completes. Runs under the
// line lock; delivery happens after the lock is released, so a worker waiting for the main
// thread never blocks the main thread's own FFmpeg calls.
void BuildLines(std::uint32_t tid, int level, std::string chunk, TLines& out) {
  if (!chunk.empty() && chunk.back() == '\n' && chunk == PreviousChunk) {
    ++RepeatCount;
    return;
  }
  if (RepeatCount > 1) out.emplace_back(FormatText("    Last message repeated %d times", RepeatCount), level);
  RepeatCount = 0;
  PreviousChunk = chunk;

  auto it = UnfinishedLines.find(tid);
  std::string line = it == UnfinishedLines.end() ? std::string() : std::move(it->second);
  line += chunk;
  size_t start = 0;
  for (size_t nl; (nl = line.find('\n', start)) != std::string::npos; start = nl + 1)
    out.emplace_back(line.substr(start, nl - start), level);
  line.erase(0, start);
  if (line.empty()) {
    if (it != UnfinishedLines.end()) UnfinishedLines.erase(it);
  } else if (it != UnfinishedLines.end()) {
    it->second = std::move(line);
  } else {
    UnfinishedLines.emplace(tid, std::move(line));
    LineOwner.Tid = tid;
  }
}

void DeliverLines(std::uint32_t tid, const TLines& lines) {
  for (const auto& [text, level] : lines) {
    TFFLogger* logger;
    {
      std::lock_guard<std::mutex> guard(RefLock);
      logger = CurrentLogger;
    }
    if (!logger) return;
    Deliver(*logger, logger, tid, FFToLogLevel(level), text);
  }
}

}  // namespace

std::uint32_t CurrentThreadId() { return std::uint32_t(::syscall(SYS_gettid)); }

// Raises OnLog, on the main thread when the logger asks for it. The handler is copied under the
// reference lock, so a logger destroyed meanwhile is never touched.
void Deliver(TFFLogger& logger, void* sender, std::uint32_t tid, TLogLevel level, const std::string& text) {
  TLogEvent handler;
  bool inMain;
  {
    std::lock_guard<std::mutex> guard(RefLock);
    if (CurrentLogger != &logger || !logger.FOnLog) return;
    handler = logger.FOnLog;
    inMain = logger.FTriggerEventInMainThread;
  }
  auto call = [&] {
    std::lock_guard<std::recursive_mutex> guard(EventLock);
    handler(sender, tid, level, text);
  };
  TMainThreadDispatcher& dispatcher = MainThreadDispatcher();
  if (inMain && !dispatcher.IsMainThread())
    dispatcher.RunBlocking(call);
  else
    call();
}

TFFLogger::TFFLogger() {
  std::unique_ptr<TFFLogger> replaced;  // freed after the lock is released: its destructor locks too
  std::lock_guard<std::mutex> guard(RefLock);
  if (CurrentLogger && !CurrentLogger->FInternal)
    throw std::logic_error("Allow creating only one instance of TFFLogger.");
  if (CurrentLogger) {
    CurrentLogger = nullptr;
    replaced = std::move(InternalLogger);
  }
  Attach();
}

TFFLogger::TFFLogger(TInternalTag) : FInternal(true) {}

void TFFLogger::Attach() {
  FLogLevel = FFToLogLevel(FFThreshold.load());
  CurrentLogger = this;
}

TFFLogger::~TFFLogger() {
  std::lock_guard<std::mutex> guard(RefLock);
  if (CurrentLogger == this) CurrentLogger = nullptr;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  FLogLevel = level;
  if (FF.av_log_set_level) {
    FFThreshold.store(LogLevelToFF(level));
    FF.av_log_set_level(LogLevelToFF(level));
  }
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  std::lock_guard<std::mutex> guard(RefLock);
  FOnLog = std::move(handler);
}

bool TFFLogger::HasOnLog() const { return bool(FOnLog); }

TFFLogger& DefaultLogger() {
  std::lock_guard<std::mutex> guard(RefLock);
  if (!CurrentLogger) {
    InternalLogger.reset(new TFFLogger(TFFLogger::TInternalTag{}));
    InternalLogger->Attach();
  }
  return *CurrentLogger;
}

namespace {

// The logger that takes a message of this level, or nullptr; read under the reference lock so a
// logger going away on another thread is never touched.
TFFLogger* Taker(TLogLevel level) {
  DefaultLogger();
  std::lock_guard<std::mutex> guard(RefLock);
  return CurrentLogger && CurrentLogger->HasOnLog() && level <= CurrentLogger->LogLevel() ? CurrentLogger : nullptr;
}

}  // namespace

void Log(void* sender, TLogLevel level, const std::string& msg) {
  if (TFFLogger* logger = Taker(level)) Deliver(*logger, sender, CurrentThreadId(), level, msg);
}

void LogFmt(void* sender, TLogLevel level, const char* fmt, ...) {
  TFFLogger* logger = Taker(level);
  if (!logger) return;
  va_list args;
  va_start(args, fmt);
  std::string text = VFormat(fmt, args);
  va_end(args);
  Deliver(*logger, sender, CurrentThreadId(), level, text);
}

void LogCallback(void* avcl, int level, const char* fmt, va_list args) {
  if (level > FFThreshold.load()) return;
  const std::uint32_t tid = CurrentThreadId();
  TLines lines;
  {
    std::lock_guard<std::mutex> guard(LineLock);
    std::string chunk;
    auto it = UnfinishedLines.find(tid);
    if (avcl && (it == UnfinishedLines.end() || it->second.empty())) chunk = ContextPrefix(avcl);
    bool nullText = false;
    if (fmt && std::strcmp(fmt, "%s") == 0) {
      va_list copy;
      va_copy(copy, args);
      nullText = va_arg(copy, const char*) == nullptr;
      va_end(copy);
    }
    if (fmt && !nullText) chunk += VFormat(fmt, args);
    BuildLines(tid, level, std::move(chunk), lines);
  }
  DeliverLines(tid, lines);
}

void FlushLog() {
  const std::uint32_t tid = CurrentThreadId();
  TLines lines;
  {
    std::lock_guard<std::mutex> guard(LineLock);
    BuildLines(tid, AV_LOG_QUIET, std::string(), lines);
  }
  DeliverLines(tid, lines);
}

void InstallCallback() {
  if (!FF.av_log_set_callback || !FF.av_log_set_level)
    throw std::logic_error("InstallCallback: av_log_set_callback and av_log_set_level must be bound");
  FF.av_log_set_callback(&LogCallback);
  TFFLogger& logger = DefaultLogger();
  logger.SetLogLevel(logger.LogLevel());
}

}  // namespace qm::engine
