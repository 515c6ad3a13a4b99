// The encoder component: a list of tasks (inputs, one output, option strings), run one after
// another or several at once on worker threads, reporting progress and termination.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/frame_input.h"
#include "engine/media_info.h"
#include "engine/transcoder.h"

namespace qm::engine {

struct TInputOptions {
  std::string FileName;
  std::string Options;
  std::string Presets;
  int64_t JoinEndTime = INT64_MAX;
};

struct TOutputOptions {
  std::string FileName;
  std::string Options;
  std::string Presets;
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int VideoHookBitsPixel = 24;
  bool FrameInputHook = false;
  bool FrameOutputHook = false;
  bool Join = false;
};

struct TProgressInfo {
  int TaskIndex = 0;
  int InputIndex = 0;
  int FrameNumber = 0;
  int FramesPerSecond = 0;
  float Quality = -1;
  float BitRate = 0;
  int64_t OutputSize = 0;
  int64_t OutputTime = 0;
  int64_t TotalTime = -1;
};

struct TTerminateInfo {
  int TaskIndex = 0;
  bool Finished = false;
  bool Failed = false;
  std::string ErrorMessage;
};

struct TFrameHookInfo {
  int TaskIndex = 0;
  int FrameNumber = 0;
  TVideoHookPicture* Picture = nullptr;
  int PixFmt = 0;
  int Width = 0, Height = 0;
  int64_t PTS = 0;
};

// A video hook's view of a frame. When Update is still true after the handler, the bitmap,
// possibly drawn on, goes back into the frame; StopHook disconnects the hook for the task.
struct THookInfo {
  int TaskIndex = 0;
  TFrameImage* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;
  bool Update = true;
  bool StopHook = false;
};

struct TPreviewInfo {
  int TaskIndex = 0;
  TFrameImage* Bitmap = nullptr;  // valid during the event
  int FrameNumber = 0;
  int64_t PTS = 0;
};

// Priorities of the task workers, as nice values of their threads: tpIdle 19, tpLowest 10, tpLower
// 5, tpNormal unchanged, tpHigher -5, tpHighest -10, tpTimeCritical -20. Raising one needs the
// right to do so; without it the worker runs at the normal priority and the log says why.
enum TThreadPriority : int { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

using TFrameHookEvent = std::function<void(void* Sender, TFrameHookInfo* AHookInfo)>;
using TVideoHookEvent = std::function<void(void* Sender, THookInfo* AHookInfo)>;
using TPreviewBitmapEvent = std::function<void(void* Sender, const TPreviewInfo& APreviewInfo)>;
using TBeforeFindStreamInfoEvent = std::function<void(void* Sender, AVFormatContext* AFormatContext)>;
using TAudioHookEvent = std::function<void(void* Sender, int ATaskIndex, int64_t APTS, uint8_t* ASample, int ASize,
                                           int ASampleRate, int AChannels, int ASampleFormat)>;
using TProgressEvent = std::function<void(void* Sender, TProgressInfo* AProgressInfo)>;
using TTerminateEvent = std::function<void(void* Sender, const TTerminateInfo& ATerminateInfo)>;

class TFFEncoder {
 public:
  TFFEncoder();
  ~TFFEncoder();
  TFFEncoder(const TFFEncoder&) = delete;
  TFFEncoder& operator=(const TFFEncoder&) = delete;

  bool LoadLibraries(const std::string& folder);
  bool LibrariesLoaded() const;

  int TaskCount() const;
  int AddTask(const std::string& fileName, TInputOptions* options = nullptr);
  int AddInput(int taskIndex, const std::string& fileName, TInputOptions* options = nullptr);
  int SetOutput(int taskIndex, const std::string& fileName, TOutputOptions* options = nullptr);
  void RemoveTask(int taskIndex);
  void ClearTasks();
  void StartTask(int maxConcurrent);
  void Pause();
  void Resume();
  void Stop(bool wait);

  const std::string& LastErrorMessage() const { return FLastErrorMessage; }
  TFFDecoder& InfoDecoder() { return FInfoDecoder; }

  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int ms) { FProgressInterval = ms <= 100 ? 100 : ms; }
  bool TriggerEventInMainThread = true;
  int ReadTimeout = 30000;
  int WriteTimeout = 30000;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  // Raised on the worker, for tasks whose output options enable them.
  TFrameHookEvent OnFrameInputHook, OnFrameOutputHook;
  TVideoHookEvent OnVideoInputHook, OnVideoOutputHook;
  TAudioHookEvent OnAudioHook;
  // Output frames as bitmaps of the task's VideoHookBitsPixel, at most one per 100 ms and task,
  // while PreviewBitmap is set; on the main thread when TriggerEventInMainThread.
  TPreviewBitmapEvent OnPreviewBitmap;
  // Inside AddTask and AddInput, on the calling thread.
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  bool PreviewBitmap() const { return FPreviewBitmap; }
  // Passed on to every task at once, running ones included.
  void SetPreviewBitmap(bool value);
  TThreadPriority ThreadPriority = tpNormal;

  struct TTask;

 private:
  void CheckNotWorking(const char* operation) const;
  void ConnectHooks(TTask& task);
  void StartNext();
  void Launch(TTask& task);
  void TaskBody(TTask& task);
  void Terminated(TTask& task);
  void Deliver(const std::function<void()>& call);
  void WaitFor(TTask& task);
  int IndexOf(const TTask* task) const;

  std::vector<std::unique_ptr<TTask>> FTasks;
  std::string FLastErrorMessage;
  TFFDecoder FInfoDecoder;
  int FProgressInterval = 500;
  std::recursive_mutex FTerminateLock;
  std::mutex FProgressLock;
  std::mutex FFrameHookLock;
  std::mutex FAudioHookLock;
  std::mutex FVideoHookLock;
  std::mutex FBeforeFindLock;
  std::atomic<bool> FPreviewBitmap{false};
  std::mutex FScheduleLock;
  int FNextIndex = -1;
  int FToStart = 0;
  int FTerminatedCount = 0;
  std::atomic<bool> FWorking{false};
  std::atomic<bool> FAllDone{false};
  bool FThreaded = false;
  bool FPaused = false;
};

}  // namespace qm::engine
