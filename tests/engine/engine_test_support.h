// Shared by the engine tests: the system's FFmpeg loaded once, a log recorder, temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace qm::engine::testing {

inline void LoadSystemLibraries() {
  TFFLoader& loader = FFLoader();
  if (loader.LibsLoaded(AllLibraries)) return;
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.LoadLibs(AllLibraries)) << loader.LastError();
}

struct TLogLine {
  std::uint32_t ThreadId;
  TLogLevel Level;
  std::string Text;
};

// The program's logger, recording every line it is given.
class TLogRecorder {
 public:
  explicit TLogRecorder(TLogLevel level = llDebug) {
    FlushLog();
    Logger.SetLogLevel(level);
    Logger.SetOnLog([this](void*, std::uint32_t tid, TLogLevel lvl, const std::string& text) {
      std::lock_guard<std::mutex> guard(Lock);
      Lines.push_back({tid, lvl, text});
    });
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<std::string> texts;
    for (const auto& l : Lines) texts.push_back(l.Text);
    return texts;
  }
  bool Contains(const std::string& text) {
    for (const auto& t : Texts())
      if (t == text) return true;
    return false;
  }

  TFFLogger Logger;
  std::mutex Lock;
  std::vector<TLogLine> Lines;
};

class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-engine-XXXXXX").string();
    Path = mkdtemp(pattern.data());
  }
  ~TTempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  std::string Path;
};

// A main thread of the test's own: calls from the worker wait until it has run them.
class TTestMainThread final : public TMainThreadDispatcher {
 public:
  TTestMainThread() : Main(std::this_thread::get_id()) {}
  bool IsMainThread() const override { return std::this_thread::get_id() == Main; }
  void RunBlocking(const std::function<void()>& call) override {
    if (IsMainThread()) return call();
    std::unique_lock<std::mutex> lock(Lock);
    Pending = &call;
    Changed.notify_all();
    Changed.wait(lock, [&] { return Pending == nullptr; });
  }
  void ServePending() override {
    std::unique_lock<std::mutex> lock(Lock);
    if (!Pending) return;
    (*Pending)();
    Pending = nullptr;
    Changed.notify_all();
  }
  std::thread::id Main;
  std::mutex Lock;
  std::condition_variable Changed;
  const std::function<void()>* Pending = nullptr;
};

}  // namespace qm::engine::testing
