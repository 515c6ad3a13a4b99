#include "app/core/qt_dispatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

namespace qm::app {

namespace {

// Lives on the application's thread; any event it gets is a nudge to run the queued calls. It
// never looks at the event, which the worker made.
class Waker final : public QObject {
 public:
  explicit Waker(std::function<void()> run) : run_(std::move(run)) {}
  bool event(QEvent* e) override {
    run_();
    return QObject::event(e);
  }

 private:
  std::function<void()> run_;
};

}  // namespace

QtMainThreadDispatcher::QtMainThreadDispatcher() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  waker_ = std::make_unique<Waker>([this] { RunQueued(); });
  if (waker_->thread() != app->thread()) waker_->moveToThread(app->thread());
}

QtMainThreadDispatcher::~QtMainThreadDispatcher() = default;

bool QtMainThreadDispatcher::IsMainThread() const {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void QtMainThreadDispatcher::RunBlocking(const std::function<void()>& call) {
  if (IsMainThread() || !waker_) {
    call();
    return;
  }
  auto queued = std::make_shared<Call>();
  queued->body = &call;
  std::unique_lock<std::mutex> guard(lock_);
  queue_.push_back(queued);
  QCoreApplication::postEvent(waker_.get(), new QEvent(QEvent::User));
  finished_.wait(guard, [&] { return queued->done; });
  if (queued->failure) std::rethrow_exception(queued->failure);
}

void QtMainThreadDispatcher::RunQueued() {
  for (;;) {
    std::shared_ptr<Call> next;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (queue_.empty()) return;
      next = queue_.front();
      queue_.pop_front();
    }
    std::exception_ptr failure;
    try {
      (*next->body)();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      next->failure = failure;
      next->done = true;
    }
    finished_.notify_all();
  }
}

void QtMainThreadDispatcher::ServePending() {
  if (!IsMainThread()) return;
  RunQueued();
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace qm::app
