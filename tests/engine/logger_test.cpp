#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <thread>

#include "engine_test_support.h"

namespace qm::engine {
namespace {

using testing::LoadSystemLibraries;
using testing::TLogRecorder;

// An FFmpeg logging context of our own.
struct TFakeContext {
  const AVClass* Class;
};
const char* FakeName(void*) { return "tester"; }
const AVClass* FakeClass() {
  static AVClass cls = [] {
    AVClass c{};
    c.class_name = "tester";
    c.item_name = &FakeName;
    c.version = LIBAVUTIL_VERSION_INT;
    return c;
  }();
  return &cls;
}

class Logger : public ::testing::Test {
 protected:
  void SetUp() override { LoadSystemLibraries(); }
};

TEST(LogLevels, ConvertBothWays) {
  EXPECT_EQ(LogLevelToFF(llQuiet), -8);
  EXPECT_EQ(LogLevelToFF(llError), 16);
  EXPECT_EQ(LogLevelToFF(llDebug), 48);
  const std::pair<int, TLogLevel> cases[] = {{-100, llQuiet}, {-8, llQuiet}, {-1, llPanic}, {0, llPanic},
                                             {20, llError},   {24, llWarning}, {47, llVerbose}, {56, llDebug}};
  for (auto [ff, level] : cases) EXPECT_EQ(FFToLogLevel(ff), level) << ff;
}

TEST_F(Logger, PartialMessagesJoinIntoOneLineWithPrefix) {
  TLogRecorder rec;
  TFakeContext ctx{FakeClass()};
  FF.av_log(&ctx, AV_LOG_INFO, "abc");
  FF.av_log(&ctx, AV_LOG_INFO, "def");
  EXPECT_TRUE(rec.Lines.empty());
  FF.av_log(&ctx, AV_LOG_WARNING, "\n");
  ASSERT_EQ(rec.Lines.size(), 1u);
  EXPECT_EQ(rec.Lines[0].Text, FormatText("[tester @ %p]abcdef", static_cast<void*>(&ctx)));
  EXPECT_EQ(rec.Lines[0].Level, llWarning);  // the level of the call that ended the line
  EXPECT_EQ(rec.Lines[0].ThreadId, CurrentThreadId());
}

TEST_F(Logger, InterleavedThreadsGiveCleanLines) {
  TLogRecorder rec;
  TFakeContext ctx{FakeClass()};
  std::promise<void> mainStarted, otherStarted, mainDone;
  std::thread other([&] {
    mainStarted.get_future().wait();
    FF.av_log(nullptr, AV_LOG_INFO, "other ");
    otherStarted.set_value();
    mainDone.get_future().wait();
    FF.av_log(nullptr, AV_LOG_INFO, "end\n");
  });
  FF.av_log(&ctx, AV_LOG_INFO, "main ");
  mainStarted.set_value();
  otherStarted.get_future().wait();
  FF.av_log(&ctx, AV_LOG_INFO, "done\n");
  mainDone.set_value();
  other.join();
  const auto texts = rec.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], FormatText("[tester @ %p]main done", static_cast<void*>(&ctx)));
  EXPECT_EQ(texts[1], "other end");
}

TEST_F(Logger, RepeatedLinesAreCountedOnce) {
  TLogRecorder rec;
  for (int i = 0; i < 3; ++i) FF.av_log(nullptr, AV_LOG_ERROR, "same\n");
  FF.av_log(nullptr, AV_LOG_ERROR, "next\n");
  FF.av_log(nullptr, AV_LOG_ERROR, "next\n");  // one repeat: dropped without a note
  FF.av_log(nullptr, AV_LOG_ERROR, "last\n");
  EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"same", "    Last message repeated 2 times", "next", "last"}));
}

TEST_F(Logger, FlushEmitsThePendingRepeatNote) {
  TLogRecorder rec;
  for (int i = 0; i < 4; ++i) FF.av_log(nullptr, AV_LOG_ERROR, "again\n");
  FlushLog();
  FF.av_log(nullptr, AV_LOG_ERROR, "again\n");  // a new run starts without repeat state
  EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"again", "    Last message repeated 3 times", "again"}));
}

TEST_F(Logger, LongMessageArrivesWhole) {
  TLogRecorder rec;
  const std::string text(5000, 'x');
  FF.av_log(nullptr, AV_LOG_INFO, "%s\n", text.c_str());
  ASSERT_EQ(rec.Lines.size(), 1u);
  EXPECT_EQ(rec.Lines[0].Text, text);
}

TEST_F(Logger, LevelsFilterBothPaths) {
  TLogRecorder rec(llError);
  FF.av_log(nullptr, AV_LOG_WARNING, "dropped\n");
  FF.av_log(nullptr, AV_LOG_ERROR, "kept\n");
  Log(nullptr, llInfo, "engine info");
  Log(nullptr, llQuiet, "task error");
  LogFmt(nullptr, llError, "%s %d", "code", 5);
  EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"kept", "task error", "code 5"}));
  EXPECT_EQ(FF.av_log_get_level(), AV_LOG_ERROR);
}

TEST_F(Logger, LevelSetBeforeLoadingReachesFFmpegWhenAvutilIsBound) {
  FFLoader().UnloadLibs(AllLibraries);
  {
    TLogRecorder rec(llError);
    ASSERT_TRUE(FFLoader().LoadLibs(AllLibraries)) << FFLoader().LastError();
    EXPECT_EQ(FF.av_log_get_level(), AV_LOG_ERROR);
    FF.av_log(nullptr, AV_LOG_WARNING, "below the level\n");
    FF.av_log(nullptr, AV_LOG_ERROR, "through the new callback\n");
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"through the new callback"});
  }
}

TEST_F(Logger, OnlyOneProgramLoggerAndItReplacesTheInternalOne) {
  TFFLogger& internal = DefaultLogger();
  EXPECT_TRUE(internal.IsInternal());
  Log(nullptr, llError, "nobody listens");  // no handler: nothing happens, nothing fails
  TLogRecorder rec;
  EXPECT_EQ(&DefaultLogger(), &rec.Logger);
  try {
    TFFLogger second;
    ADD_FAILURE() << "a second logger was created";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
}

// A main thread with a queue of calls, served when the test says so.
class TQueueDispatcher : public TMainThreadDispatcher {
 public:
  bool IsMainThread() const override { return std::this_thread::get_id() == Main; }
  void RunBlocking(const std::function<void()>& call) override {
    if (IsMainThread()) return call();
    std::promise<void> done;
    {
      std::lock_guard<std::mutex> guard(Lock);
      Queue.push_back([&] {
        call();
        done.set_value();
      });
    }
    done.get_future().wait();
  }
  void ServePending() override {
    for (;;) {
      std::function<void()> call;
      {
        std::lock_guard<std::mutex> guard(Lock);
        if (Queue.empty()) return;
        call = std::move(Queue.front());
        Queue.pop_front();
      }
      call();
    }
  }
  size_t Pending() {
    std::lock_guard<std::mutex> guard(Lock);
    return Queue.size();
  }

  std::thread::id Main = std::this_thread::get_id();
  std::mutex Lock;
  std::deque<std::function<void()>> Queue;
};

TEST_F(Logger, WorkerLinesAreDeliveredOnTheMainThreadWhileTheWorkerWaits) {
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  TLogRecorder rec;
  std::vector<std::thread::id> handlerThreads;
  std::atomic<bool> workerReturned{false};
  bool returnedBeforeHandler = false;
  rec.Logger.SetOnLog([&](void*, std::uint32_t, TLogLevel, const std::string& text) {
    handlerThreads.push_back(std::this_thread::get_id());
    if (text == "from worker") returnedBeforeHandler = workerReturned.load();
    std::lock_guard<std::mutex> guard(rec.Lock);
    rec.Lines.push_back({0, llInfo, text});
  });

  std::thread worker([&] {
    FF.av_log(nullptr, AV_LOG_ERROR, "from worker\n");
    workerReturned = true;
  });
  while (dispatcher.Pending() == 0) std::this_thread::yield();
  // While the worker waits for us, our own FFmpeg and engine lines still get through.
  FF.av_log(nullptr, AV_LOG_ERROR, "from main\n");
  Log(nullptr, llError, "engine on main");
  while (!workerReturned) dispatcher.ServePending();
  worker.join();
  SetMainThreadDispatcher(nullptr);

  EXPECT_FALSE(returnedBeforeHandler);
  EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"from main", "engine on main", "from worker"}));
  for (auto id : handlerThreads) EXPECT_EQ(id, dispatcher.Main);
}

TEST_F(Logger, WithoutMainThreadDeliveryTheWorkerCallsTheHandler) {
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  TLogRecorder rec;
  rec.Logger.SetTriggerEventInMainThread(false);
  std::thread([] { Log(nullptr, llError, "direct"); }).join();
  SetMainThreadDispatcher(nullptr);
  EXPECT_EQ(rec.Texts(), std::vector<std::string>{"direct"});
  EXPECT_NE(rec.Lines[0].ThreadId, CurrentThreadId());
}

}  // namespace
}  // namespace qm::engine
