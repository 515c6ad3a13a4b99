#include "app/core/qt_dispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qm::app {

bool QtMainThreadDispatcher::IsMainThread() const {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

void QtMainThreadDispatcher::RunBlocking(const std::function<void()>& call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) {
    call();
    return;
  }
  QMetaObject::invokeMethod(app, [&call] { call(); }, Qt::BlockingQueuedConnection);
}

void QtMainThreadDispatcher::ServePending() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app && QThread::currentThread() == app->thread()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace qm::app
