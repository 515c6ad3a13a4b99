// The program's main thread as the engine sees it. The engine has no event loop of its own: the
// program installs a dispatcher that runs a call on its main thread and waits for it. Without
// one, every thread counts as the main thread and calls run where they are made.
#pragma once

#include <functional>

namespace qm::engine {

class TMainThreadDispatcher {
 public:
  virtual ~TMainThreadDispatcher() = default;
  virtual bool IsMainThread() const = 0;
  // Runs call on the main thread and returns once it has returned. Called on the main thread,
  // it runs call at once.
  virtual void RunBlocking(const std::function<void()>& call) = 0;
  // Runs the calls other threads are waiting for; the main thread calls this while it waits for
  // a worker, so a worker blocked in RunBlocking can finish.
  virtual void ServePending() = 0;
};

// Installs the dispatcher (nullptr restores direct calls). The caller keeps ownership and keeps
// it alive until it is replaced.
void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher);
TMainThreadDispatcher& MainThreadDispatcher();

}  // namespace qm::engine
