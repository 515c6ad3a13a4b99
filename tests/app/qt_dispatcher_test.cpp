#include "app/core/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

#include "test_support.h"

namespace qm::app {
namespace {

TEST(QtMainThreadDispatcher, RunsWorkerCallsOnTheMainThreadAndBlocksTheWorker) {
  test::EnsureCoreApp();
  QtMainThreadDispatcher dispatcher;
  EXPECT_TRUE(dispatcher.IsMainThread());

  std::atomic<bool> workerReturned{false};
  bool ranOnMain = false, returnedBeforeCall = true, workerIsMain = true;
  std::thread worker([&] {
    workerIsMain = dispatcher.IsMainThread();
    dispatcher.RunBlocking([&] {
      ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
      returnedBeforeCall = workerReturned.load();
    });
    workerReturned = true;
  });
  // The main thread waits for its worker as the engine does: serving pending calls meanwhile.
  while (!workerReturned) dispatcher.ServePending();
  worker.join();

  EXPECT_FALSE(workerIsMain);
  EXPECT_TRUE(ranOnMain);
  EXPECT_FALSE(returnedBeforeCall);

  // A call that fails on the main thread fails in the worker that asked for it, and the main
  // thread carries on.
  std::string failure;
  workerReturned = false;
  std::thread failing([&] {
    try {
      dispatcher.RunBlocking([] { throw std::runtime_error("no disk"); });
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
    workerReturned = true;
  });
  while (!workerReturned) dispatcher.ServePending();
  failing.join();
  EXPECT_EQ(failure, "no disk");

  bool direct = false;
  dispatcher.RunBlocking([&] { direct = true; });
  EXPECT_TRUE(direct);
}

}  // namespace
}  // namespace qm::app
