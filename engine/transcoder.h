// The transcoder of one task: opens its inputs and its output, then decodes, filters, encodes and
// writes until the inputs end or a stop is requested. All state belongs to the task, so several
// tasks may run at once; failures of a run raise FFmpegException.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/option_state.h"

struct AVFormatContext;
struct AVFrame;
struct AVInputFormat;

namespace qm::engine {

// Values of one progress report.
struct TTranscodeProgress {
  int FrameNumber = 0;
  float FPS = 0;
  float Quality = 0;
  int64_t CurrentSize = 0;  // bytes
  int64_t CurrentDuration = 0;  // microseconds of output written
  float BitRate = 0;  // kbit/s
  int DupFrames = 0;
  int DropFrames = 0;
  bool Final = false;
};

class TCustomFFmpeg {
 public:
  TCustomFFmpeg();
  ~TCustomFFmpeg();
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // Options are parsed into these before each file is opened; each open consumes the group.
  TTaskOptions& Options() { return FOptions; }

  // >= 0 on success, else a negative error code with LastError set.
  int OpenInput(const std::string& fileName);
  // With join, every input feeds the output in turn, each continuing the previous one's time line.
  int OpenOutput(const std::string& fileName, bool join = false);
  // In a joining task, packets of that input at or after this time (microseconds) are dropped.
  void SetJoinEndTime(int input, int64_t time);
  // Raises FFmpegException on failure; always releases what the run opened.
  void Run();
  // Closes every file and codec; safe to call more than once.
  void Release();

  // Ends the loop at its next turn; pending reads and writes give up. The output stays valid.
  void RequestStop();
  bool StopRequested() const { return FStopRequested; }
  // Holds the loop at its next turn until resumed; a stop request also releases it.
  void SetPaused(bool paused);
  void WaitWhilePaused();
  bool Finished() const { return FFinished; }
  const std::string& LastError() const { return FLastError; }
  // Expected length of the output in microseconds, -1 when unknown.
  int64_t TotalTime() const { return FTotalTime; }

  int InputCount() const;
  bool HasOutput() const;
  AVFormatContext* InputContext(int index) const;
  // Input file the last packet came from; -1 before the first.
  int CurrentInput() const { return FCurrentInput; }

  int ReadTimeout = 30000;   // milliseconds, 0 for none
  int WriteTimeout = 30000;
  int64_t ProgressInterval = 500000;  // microseconds
  std::function<void(const TTranscodeProgress&)> OnProgress;
  // Hooks on the worker: decoded pictures before the filters, pictures about to be encoded (both
  // writable in place), and decoded sound before resampling.
  using TFrameHook = std::function<void(::AVFrame* frame, int frameNumber, int64_t pts)>;
  TFrameHook OnFrameInput, OnFrameOutput;
  // The same places as the frame hooks, for the hooks that see the picture as a bitmap.
  TFrameHook OnVideoInput, OnVideoOutput;
  // Output pictures, at most one per PreviewInterval. A copied video stream is refused while
  // PreviewRequested is set.
  TFrameHook OnPreview;
  bool PreviewRequested = false;
  int64_t PreviewInterval = 100000;  // microseconds
  // After an input file is opened, before its streams are probed.
  std::function<void(AVFormatContext* context)> OnBeforeFindStreamInfo;
  std::function<void(int64_t pts, uint8_t* samples, int size, int sampleRate, int channels, int sampleFormat)> OnAudio;
  // Input formats of the engine's own kind (the frame and sample inputs): this FFmpeg cannot
  // register demuxers, so a forced format name is looked up here first. They open no file and are
  // not probed, since probing would ask the program for pictures before the run.
  static void RegisterOwnInput(const AVInputFormat* format);
  static const AVInputFormat* FindOwnInput(const std::string& name);

  struct TState;

 private:
  int Fail(int code, const std::string& text);
  void DumpAttachment(AVFormatContext* ic, int index, const std::string& name);
  std::string AddAttachments(AVFormatContext* oc, const TFileOptionGroup& g, TStreamList& descriptors);
  std::string CopyMetadataAndChapters(AVFormatContext* oc, const TFileOptionGroup& g, const TStreamList& descriptors,
                                      const std::vector<int>& sources);

  TTaskOptions FOptions;
  std::unique_ptr<TState> S;
  std::atomic<bool> FStopRequested{false};
  std::mutex FPauseLock;
  std::condition_variable FPauseChanged;
  bool FPaused = false;
  bool FFinished = false;
  std::string FLastError;
  int64_t FTotalTime = -1;
  std::atomic<int> FCurrentInput{-1};
  friend struct TTranscoderAccess;
};

}  // namespace qm::engine
