#include "engine/main_thread.h"

#include <atomic>

namespace qm::engine {

namespace {

class TDirectDispatcher final : public TMainThreadDispatcher {
 public:
  bool IsMainThread() const override { return true; }
  void RunBlocking(const std::function<void()>& call) override { call(); }
  void ServePending() override {}
};

TDirectDispatcher DirectDispatcher;
std::atomic<TMainThreadDispatcher*> InstalledDispatcher{nullptr};

}  // namespace

void SetMainThreadDispatcher(TMainThreadDispatcher* dispatcher) {
  InstalledDispatcher.store(dispatcher);
}

TMainThreadDispatcher& MainThreadDispatcher() {
  TMainThreadDispatcher* d = InstalledDispatcher.load();
  return d ? *d : DirectDispatcher;
}

}  // namespace qm::engine
