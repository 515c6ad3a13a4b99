// The sample input: sound the program produces itself enters a task as an audio input, raw
// signed 16-bit interleaved PCM. A task names the input "-f sampleinput" with the decimal
// InputName() of an adapter as its file name; each packet the task reads raises OnReadSamples.
// Time stamps count samples, so the sound keeps every sample in its place:
//
//   TSampleInputAdapter sound;
//   sound.OnReadSamples = [](TSampleInputAdapter*, int16_t* samples, int frames, TInputSampleInfo*) {
//     ... write up to frames sample frames (frames * channels values) ...
//     return written;  // fewer than asked ends the input after them, negative ends it at once
//   };
//   TInputOptions in;
//   in.Options = "-f sampleinput -ar 44100 -ac 2";
//   encoder.AddInput(task, sound.InputName(), &in);
//
// Private options of the input: "sample_rate" (default 44100, also set by -ar of the input),
// "channels" (default 2, also -ac) and "frames_per_packet" (sample frames asked per read,
// default 1024).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qm::engine {

struct TInputSampleInfo {
  int64_t PTS = 0;          // microseconds of the first sample frame asked for
  int64_t SampleNumber = 0; // sample frames delivered before this block
  int SampleRate = 0;
  int Channels = 0;
  int Frames = 0;           // sample frames asked for
};

class TSampleInputAdapter;

using TSampleNotifyEvent = std::function<void(TSampleInputAdapter* Sender)>;
using TReadSamplesEvent =
    std::function<int(TSampleInputAdapter* Sender, int16_t* ASamples, int AFrames, TInputSampleInfo* AInfo)>;

// Handlers are set before the task starts; with TriggerEventInMainThread they run on the main
// thread, otherwise on the task's worker. One adapter serves one open input at a time.
class TSampleInputAdapter {
 public:
  TSampleInputAdapter();
  ~TSampleInputAdapter();
  TSampleInputAdapter(const TSampleInputAdapter&) = delete;
  TSampleInputAdapter& operator=(const TSampleInputAdapter&) = delete;

  // The decimal text that names this adapter as an input file; never reused.
  std::string InputName() const;

  bool TriggerEventInMainThread = true;
  TSampleNotifyEvent OnReadHeader;
  TSampleNotifyEvent OnReadClose;
  TReadSamplesEvent OnReadSamples;

  struct TLink;

 private:
  std::shared_ptr<TLink> FLink;
};

// Makes "-f sampleinput" known to the engine's tasks; the libraries must be loaded.
void RegisterSampleInputFormat();

}  // namespace qm::engine
