#include "app/core/qt_dispatcher.h"

#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
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

  bool direct = false;
  dispatcher.RunBlocking([&] { direct = true; });
  EXPECT_TRUE(direct);
}

}  // namespace
}  // namespace qm::app
