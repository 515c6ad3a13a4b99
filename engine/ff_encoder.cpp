#include "engine/ff_encoder.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/frame_bitmap.h"
#include "engine/frame_input.h"
#include "engine/sample_input.h"
#include "engine/library_loader.h"
#include "engine/logger.h"
#include "engine/main_thread.h"
#include "engine/option_parser.h"

namespace qm::engine {

struct TFFEncoder::TTask {
  TCustomFFmpeg Transcoder;
  std::vector<TInputOptions> Inputs;
  TOutputOptions Output;
  std::vector<std::unique_ptr<TFFDecoder>> Decoders;
  std::thread Worker;
  std::atomic<bool> Working{false};
  std::atomic<bool> Done{false};  // the worker's body has returned
  bool Terminated = false;
  bool Failed = false;
  std::string ErrorMessage;
  // Bitmaps of the video hooks and the preview; a hook the handler stopped stays off.
  TFrameBitmap InputBitmap, OutputBitmap, PreviewBitmap;
  std::atomic<bool> VideoInputStopped{false}, VideoOutputStopped{false}, PreviewOff{false};
};

namespace {

// One lock for the previews of every encoder: they share the program's preview.
std::mutex PreviewLock;

void ApplyThreadPriority(void* sender, TThreadPriority priority) {
  static const int nice[] = {19, 10, 5, 0, -5, -10, -20};
  if (priority == tpNormal || priority < tpIdle || priority > tpTimeCritical) return;
  if (setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), nice[priority]) != 0)
    Log(sender, llWarning, FormatText("Could not set the priority of the task's thread: %s", std::strerror(errno)));
}

}  // namespace

TFFEncoder::TFFEncoder() = default;

TFFEncoder::~TFFEncoder() {
  Stop(true);
  // A finished worker may still be handing its last events to the main thread.
  for (auto& task : FTasks) WaitFor(*task);
}

bool TFFEncoder::LoadLibraries(const std::string& folder) {
  FFLoader().SetLibraryPath(folder);
  if (FFLoader().LoadLibs(AllLibraries)) return true;
  FLastErrorMessage = FFLoader().LastError();
  return false;
}

bool TFFEncoder::LibrariesLoaded() const { return FFLoader().LibsLoaded(AllLibraries); }

int TFFEncoder::TaskCount() const { return int(FTasks.size()); }

void TFFEncoder::CheckNotWorking(const char* operation) const {
  if (FWorking) throw FFmpegException(FormatText("Cannot %s while working.", operation));
}

int TFFEncoder::AddTask(const std::string& fileName, TInputOptions* options) {
  CheckNotWorking("AddTask");
  FFLoader().CheckLibsLoaded(AllLibraries);
  // The inputs of the engine's own kind are known to every task.
  RegisterFrameInputFormat();
  RegisterSampleInputFormat();
  auto task = std::make_unique<TTask>();
  FTasks.push_back(std::move(task));
  const int index = int(FTasks.size()) - 1;
  const int r = AddInput(index, fileName, options);
  if (r < 0) {
    FTasks.pop_back();
    return r;
  }
  return index;
}

int TFFEncoder::AddInput(int taskIndex, const std::string& fileName, TInputOptions* options) {
  CheckNotWorking("AddInput");
  if (taskIndex < 0 || taskIndex >= int(FTasks.size())) {
    FLastErrorMessage = FormatText("Invalid task index %d", taskIndex);
    return -1;
  }
  TTask& task = *FTasks[size_t(taskIndex)];
  try {
    TInputOptions copy;
    if (options) {
      if (options->FileName.empty()) options->FileName = fileName;
      copy = *options;
      TOptionParser parser(task.Transcoder.Options(), true, this);
      parser.ParseOptions(copy.Options.c_str());
      parser.ParsePresets(copy.Presets.c_str());
    } else {
      copy.FileName = fileName;
    }
    task.Transcoder.ReadTimeout = ReadTimeout;
    task.Transcoder.WriteTimeout = WriteTimeout;
    task.Transcoder.OnBeforeFindStreamInfo = [this](AVFormatContext* context) {
      if (!OnBeforeFindStreamInfo) return;
      std::lock_guard<std::mutex> guard(FBeforeFindLock);
      Deliver([&] { OnBeforeFindStreamInfo(this, context); });
    };
    const int r = task.Transcoder.OpenInput(fileName);
    if (r < 0) {
      FLastErrorMessage = task.Transcoder.LastError();
      return r;
    }
    task.Inputs.push_back(copy);
    task.Transcoder.SetJoinEndTime(task.Transcoder.InputCount() - 1, copy.JoinEndTime);
    auto decoder = std::make_unique<TFFDecoder>();
    decoder->Attach(task.Transcoder.InputContext(task.Transcoder.InputCount() - 1));
    task.Decoders.push_back(std::move(decoder));
    return task.Transcoder.InputCount() - 1;
  } catch (const std::exception& e) {
    FLastErrorMessage = e.what();
    return -1;
  }
}

int TFFEncoder::SetOutput(int taskIndex, const std::string& fileName, TOutputOptions* options) {
  CheckNotWorking("SetOutput");
  if (taskIndex < 0 || taskIndex >= int(FTasks.size())) {
    FLastErrorMessage = FormatText("Invalid task index %d", taskIndex);
    return -1;
  }
  TTask& task = *FTasks[size_t(taskIndex)];
  try {
    if (options) {
      if (options->FileName.empty()) options->FileName = fileName;
      task.Output = *options;
      // The option string may set it again.
      task.Transcoder.Options().VideoHookBitsPixel = options->VideoHookBitsPixel;
      TOptionParser parser(task.Transcoder.Options(), true, this);
      parser.ParseOptions(options->Options.c_str());
      parser.ParsePresets(options->Presets.c_str());
    } else {
      task.Output = TOutputOptions();
    }
    ConnectHooks(task);
    task.Transcoder.ReadTimeout = ReadTimeout;
    task.Transcoder.WriteTimeout = WriteTimeout;
    const int r = task.Transcoder.OpenOutput(fileName, task.Output.Join);
    if (r < 0) {
      FLastErrorMessage = task.Transcoder.LastError();
      task.Output = TOutputOptions();
    }
    return r;
  } catch (const std::exception& e) {
    FLastErrorMessage = e.what();
    return -1;
  }
}

void TFFEncoder::ConnectHooks(TTask& task) {
  auto frameHook = [this, &task](const TFrameHookEvent& event) -> TCustomFFmpeg::TFrameHook {
    return [this, &task, &event](AVFrame* frame, int frameNumber, int64_t pts) {
      if (!event) return;
      std::lock_guard<std::mutex> guard(FFrameHookLock);
      TVideoHookPicture picture{};
      for (int p = 0; p < 8; ++p) picture.data[p] = frame->data[p], picture.linesize[p] = frame->linesize[p];
      TFrameHookInfo info{IndexOf(&task), frameNumber, &picture, frame->format, frame->width, frame->height, pts};
      event(this, &info);
    };
  };
  task.Transcoder.OnFrameInput = task.Output.FrameInputHook ? frameHook(OnFrameInputHook) : nullptr;
  task.Transcoder.OnFrameOutput = task.Output.FrameOutputHook ? frameHook(OnFrameOutputHook) : nullptr;
  // A video hook hands the handler the frame as a bitmap and takes the bitmap back unless told not to.
  auto videoHook = [this, &task](const TVideoHookEvent& event, TFrameBitmap& bitmap,
                                 std::atomic<bool>& stopped) -> TCustomFFmpeg::TFrameHook {
    return [this, &task, &event, &bitmap, &stopped](AVFrame* frame, int frameNumber, int64_t pts) {
      if (!event || stopped) return;
      std::lock_guard<std::mutex> guard(FVideoHookLock);
      if (!bitmap.FromFrame(frame, task.Transcoder.Options().VideoHookBitsPixel)) {
        Log(this, llError, FormatText("Cannot convert the frame to a bitmap of %d bits per pixel",
                                      task.Transcoder.Options().VideoHookBitsPixel));
        stopped = true;
        return;
      }
      THookInfo info{IndexOf(&task), &bitmap.Image, frameNumber, pts, true, false};
      try {
        event(this, &info);
      } catch (const std::exception& e) {
        Log(this, llError, std::string("Error occurs VideoHook event: ") + e.what());
        info.Update = false;
      }
      if (info.StopHook) stopped = true;
      if (info.Update) bitmap.ToFrame(frame);
    };
  };
  task.Transcoder.OnVideoInput =
      task.Output.VideoInputHook ? videoHook(OnVideoInputHook, task.InputBitmap, task.VideoInputStopped) : nullptr;
  task.Transcoder.OnVideoOutput =
      task.Output.VideoOutputHook ? videoHook(OnVideoOutputHook, task.OutputBitmap, task.VideoOutputStopped) : nullptr;
  if (task.Output.AudioHook)
    task.Transcoder.OnAudio = [this, &task](int64_t pts, uint8_t* samples, int size, int rate, int channels, int format) {
      if (!OnAudioHook) return;
      std::lock_guard<std::mutex> guard(FAudioHookLock);
      OnAudioHook(this, IndexOf(&task), pts, samples, size, rate, channels, format);
    };
  else
    task.Transcoder.OnAudio = nullptr;
}

void TFFEncoder::RemoveTask(int taskIndex) {
  CheckNotWorking("RemoveTask");
  if (taskIndex >= 0 && taskIndex < int(FTasks.size())) FTasks.erase(FTasks.begin() + taskIndex);
}

void TFFEncoder::ClearTasks() {
  if (FWorking && !FAllDone) throw FFmpegException("Cannot ClearTasks while working.");
  for (auto& task : FTasks) WaitFor(*task);
  FTasks.clear();
  FLastErrorMessage.clear();
  FNextIndex = -1;
  FToStart = FTerminatedCount = 0;
  FWorking = FAllDone = false;
  FThreaded = FPaused = false;
}

int TFFEncoder::IndexOf(const TTask* task) const {
  for (size_t i = 0; i < FTasks.size(); ++i)
    if (FTasks[i].get() == task) return int(i);
  return -1;
}

void TFFEncoder::StartTask(int maxConcurrent) {
  CheckNotWorking("StartTask");
  std::unique_lock<std::mutex> lock(FScheduleLock);
  FTerminatedCount = 0;
  FNextIndex = 0;
  FToStart = int(FTasks.size());
  FAllDone = false;
  FThreaded = maxConcurrent > 0;
  FWorking = true;
  FPaused = false;
  if (FTasks.empty()) {
    lock.unlock();
    std::lock_guard<std::recursive_mutex> guard(FTerminateLock);
    FAllDone = true;
    if (OnTerminate) Deliver([this] { OnTerminate(this, TTerminateInfo{-1, true, false, ""}); });
    return;
  }
  if (!FThreaded) {
    lock.unlock();
    while (true) {
      TTask* next = nullptr;
      {
        std::lock_guard<std::mutex> guard(FScheduleLock);
        if (FToStart <= 0) break;
        --FToStart;
        next = FTasks[size_t(FNextIndex++)].get();
      }
      Launch(*next);
    }
    return;
  }
  int started = 0;
  while (FToStart > 0 && started < maxConcurrent) {
    TTask& next = *FTasks[size_t(FNextIndex++)];
    --FToStart;
    ++started;
    lock.unlock();
    Launch(next);
    lock.lock();
  }
}

void TFFEncoder::StartNext() {
  TTask* next = nullptr;
  {
    std::lock_guard<std::mutex> guard(FScheduleLock);
    if (FToStart <= 0) return;
    --FToStart;
    next = FTasks[size_t(FNextIndex++)].get();
  }
  Launch(*next);
}

void TFFEncoder::Launch(TTask& task) {
  if (task.Working || task.Terminated) return;
  if (!task.Transcoder.HasOutput() || task.Transcoder.InputCount() == 0) {
    const char* text = !task.Transcoder.HasOutput() ? "At least one output file must be specified"
                                                   : "At least one input file must be specified";
    Log(this, llQuiet, text);
    task.Failed = true;
    task.ErrorMessage = text;
    task.Done = true;
    Terminated(task);
    return;
  }
  task.Working = true;
  task.Transcoder.ProgressInterval = int64_t(FProgressInterval) * 1000;
  task.Transcoder.PreviewRequested = FPreviewBitmap;
  task.Transcoder.OnPreview = [this, &task](AVFrame* frame, int frameNumber, int64_t pts) {
    if (!FPreviewBitmap || task.PreviewOff || !OnPreviewBitmap) return;
    std::lock_guard<std::mutex> guard(PreviewLock);
    if (!task.PreviewBitmap.FromFrame(frame, task.Transcoder.Options().VideoHookBitsPixel)) {
      Log(this, llError, "Cannot convert the frame to a preview bitmap; the preview is off for this task");
      task.PreviewOff = true;
      return;
    }
    const TPreviewInfo info{IndexOf(&task), &task.PreviewBitmap.Image, frameNumber, pts};
    Deliver([&] { OnPreviewBitmap(this, info); });
  };
  if (!FThreaded) {
    TaskBody(task);
    return;
  }
  if (task.Worker.joinable()) task.Worker.join();
  task.Worker = std::thread([this, &task, priority = ThreadPriority] {
    ApplyThreadPriority(this, priority);
    TaskBody(task);
  });
}

void TFFEncoder::TaskBody(TTask& task) {
  task.Transcoder.OnProgress = [this, &task](const TTranscodeProgress& p) {
    if (!OnProgress) return;
    std::lock_guard<std::mutex> guard(FProgressLock);
    TProgressInfo info;
    info.TaskIndex = IndexOf(&task);
    info.InputIndex = p.Final ? -1 : task.Transcoder.CurrentInput();
    info.FrameNumber = p.FrameNumber;
    info.FramesPerSecond = int(p.FPS + 0.5f);
    info.Quality = p.Quality;
    info.BitRate = p.BitRate;
    info.OutputSize = p.CurrentSize;
    info.OutputTime = p.CurrentDuration;
    info.TotalTime = task.Transcoder.TotalTime();
    Deliver([&] { OnProgress(this, &info); });
  };
  try {
    task.Transcoder.Run();
  } catch (const std::exception& e) {
    Log(this, llQuiet, e.what());
    task.Failed = true;
    task.ErrorMessage = e.what();
  }
  try {
    task.Transcoder.Release();
  } catch (const std::exception& e) {
    task.Failed = true;
    task.ErrorMessage = e.what();
  }
  Terminated(task);
  FlushLog();
  task.Done = true;
}

void TFFEncoder::Deliver(const std::function<void()>& call) {
  if (TriggerEventInMainThread)
    MainThreadDispatcher().RunBlocking(call);
  else
    call();
}

void TFFEncoder::Terminated(TTask& task) {
  task.Working = false;
  task.Terminated = true;
  bool startNext = false;
  {
    // Holding the lock across delivery keeps the per-task events and the final one in order.
    std::lock_guard<std::recursive_mutex> guard(FTerminateLock);
    if (OnTerminate) {
      const TTerminateInfo info{IndexOf(&task), task.Transcoder.Finished() && !task.Failed, task.Failed,
                                task.ErrorMessage};
      Deliver([&] { OnTerminate(this, info); });
    }
    bool allDone = false;
    {
      std::lock_guard<std::mutex> schedule(FScheduleLock);
      ++FTerminatedCount;
      allDone = FToStart <= 0 && FTerminatedCount >= int(FTasks.size());
      if (allDone)
        FAllDone = true;
      else
        startNext = FThreaded && FToStart > 0;
    }
    // Not under the schedule lock: the main thread may call Stop while this event waits for it.
    if (allDone && OnTerminate) Deliver([this] { OnTerminate(this, TTerminateInfo{-1, true, false, ""}); });
  }
  if (startNext) StartNext();
}

void TFFEncoder::WaitFor(TTask& task) {
  if (!task.Worker.joinable()) return;
  // The worker may be waiting for the main thread to deliver an event: keep serving it.
  while (!task.Done) {
    if (MainThreadDispatcher().IsMainThread()) MainThreadDispatcher().ServePending();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  task.Worker.join();
}

void TFFEncoder::SetPreviewBitmap(bool value) { FPreviewBitmap = value; }

void TFFEncoder::Pause() {
  if (!FWorking || FPaused) return;
  for (auto& task : FTasks) task->Transcoder.SetPaused(true);
  FPaused = true;
}

void TFFEncoder::Resume() {
  if (!FWorking || !FPaused) return;
  for (auto& task : FTasks) task->Transcoder.SetPaused(false);
  FPaused = false;
}

void TFFEncoder::Stop(bool wait) {
  {
    std::lock_guard<std::mutex> guard(FScheduleLock);
    FToStart = 0;
  }
  if (!FWorking) return;
  for (auto& task : FTasks) {
    if (task->Working) {
      task->Transcoder.RequestStop();
      if (wait) WaitFor(*task);
    } else if (!task->Terminated) {
      // Never started: it still reports, so the final event can follow.
      Terminated(*task);
    }
  }
}

}  // namespace qm::engine
