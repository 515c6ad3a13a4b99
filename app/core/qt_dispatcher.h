// The engine's main thread is the Qt application's thread: engine events raised on workers run
// there while the worker waits.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "engine/main_thread.h"

class QObject;

namespace qm::app {

class QtMainThreadDispatcher final : public qm::engine::TMainThreadDispatcher {
 public:
  QtMainThreadDispatcher();
  ~QtMainThreadDispatcher() override;
  bool IsMainThread() const override;
  // Without an application object there is no event loop to wait for: the call runs at once. A
  // call that throws on the main thread throws in the worker that asked for it.
  void RunBlocking(const std::function<void()>& call) override;
  void ServePending() override;

 private:
  struct Call {
    const std::function<void()>* body;
    bool done = false;
    std::exception_ptr failure;
  };
  void RunQueued();

  // The calls pass through this queue under its own lock rather than through Qt's event queue,
  // whose locks ThreadSanitizer cannot see; Qt only wakes the main thread to look.
  std::mutex lock_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Call>> queue_;
  std::unique_ptr<QObject> waker_;
};

}  // namespace qm::app
