// The engine's main thread is the Qt application's thread: engine events raised on workers run
// there through a blocking queued call.
#pragma once

#include "engine/main_thread.h"

namespace qm::app {

class QtMainThreadDispatcher final : public qm::engine::TMainThreadDispatcher {
 public:
  bool IsMainThread() const override;
  // Without an application object there is no event loop to wait for: the call runs at once.
  void RunBlocking(const std::function<void()>& call) override;
  void ServePending() override;
};

}  // namespace qm::app
