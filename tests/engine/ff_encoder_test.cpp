// The encoder component: task scheduling, terminate ordering, stop, pause, and media information.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/ff_encoder.h"
#include "engine/ffmpeg_api.h"
#include "engine_test_support.h"
#include "probe_support.h"
#include "tests/sanitizer_wait.h"

namespace qm::engine {
namespace {

using testing::LoadSystemLibraries;
using testing::RunCommand;
using testing::TTempFolder;
using testing::TTestMainThread;


struct TTerminateRecorder {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<TTerminateInfo> Events;
  std::vector<std::chrono::steady_clock::time_point> Times;

  void Attach(TFFEncoder& encoder) {
    encoder.TriggerEventInMainThread = false;
    encoder.OnTerminate = [this](void*, const TTerminateInfo& info) {
      std::lock_guard<std::mutex> guard(Lock);
      Events.push_back(info);
      Times.push_back(std::chrono::steady_clock::now());
      Changed.notify_all();
    };
  }
  bool WaitFinal() {
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, test::Wait(60),
                            [this] { return !Events.empty() && Events.back().TaskIndex == -1; });
  }
  std::vector<int> Indices() {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<int> indices;
    for (const auto& e : Events) indices.push_back(e.TaskIndex);
    return indices;
  }
};

class EncoderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadSystemLibraries();
    Folder = new TTempFolder;
    Clip = Folder->Path + "/clip.mkv";
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi -i "
                                "sine=sample_rate=44100:duration=2 -c:v mpeg4 -c:a pcm_s16le '" + Clip + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete Folder;
    Folder = nullptr;
  }
  static std::string Out(const std::string& name) { return Folder->Path + "/" + name; }

  // A task from the clip to a file; input options such as -re make it last.
  static int AddClipTask(TFFEncoder& encoder, const std::string& output, const std::string& inputOptions = "") {
    TInputOptions in;
    in.Options = inputOptions;
    const int index = encoder.AddTask(Clip, &in);
    EXPECT_GE(index, 0) << encoder.LastErrorMessage();
    TOutputOptions out;
    out.Options = "-c:v mpeg4 -c:a aac";
    EXPECT_GE(encoder.SetOutput(index, output, &out), 0) << encoder.LastErrorMessage();
    return index;
  }

  static TTempFolder* Folder;
  static std::string Clip;
};
TTempFolder* EncoderTest::Folder = nullptr;
std::string EncoderTest::Clip;

TEST_F(EncoderTest, TasksTerminateInOrderThenTheFinalEvent) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  std::vector<TProgressInfo> finals;
  encoder.OnProgress = [&](void*, TProgressInfo* info) {
    if (info->InputIndex == -1) finals.push_back(*info);
  };
  for (int i = 0; i < 3; ++i) AddClipTask(encoder, Out("seq" + std::to_string(i) + ".mp4"));
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  ASSERT_EQ(finals.size(), 3u);
  for (const TProgressInfo& p : finals) {
    EXPECT_EQ(p.FrameNumber, 50);
    EXPECT_NEAR(double(p.OutputTime), 2e6, 1e5);
    EXPECT_NEAR(double(p.TotalTime), 2e6, 1e5);
    EXPECT_GT(p.OutputSize, 1000);
  }
  EXPECT_EQ(finals[2].TaskIndex, 2);
  EXPECT_EQ(recorder.Indices(), (std::vector<int>{0, 1, 2, -1}));
  for (const auto& e : recorder.Events) {
    EXPECT_TRUE(e.Finished);
    EXPECT_FALSE(e.Failed) << e.ErrorMessage;
  }
  EXPECT_THROW(encoder.AddTask(Clip), FFmpegException);
  try {
    encoder.AddTask(Clip);
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Cannot AddTask while working.");
  }
  encoder.ClearTasks();
  EXPECT_EQ(encoder.TaskCount(), 0);
}

// Going away from inside the task's own event, while the final event still waits for the main
// thread, must neither hang nor lose that event.
TEST_F(EncoderTest, DestroyedRightAfterATaskEndsWhileEventsAreStillOnTheirWay) {
  TTestMainThread mainThread;
  SetMainThreadDispatcher(&mainThread);
  std::vector<int> indices;
  {
    TFFEncoder encoder;
    encoder.TriggerEventInMainThread = true;
    encoder.OnTerminate = [&](void*, const TTerminateInfo& info) { indices.push_back(info.TaskIndex); };
    AddClipTask(encoder, Out("gone-early.mp4"));
    encoder.StartTask(1);
    const auto deadline = std::chrono::steady_clock::now() + test::Wait(60);
    while (indices.empty() && std::chrono::steady_clock::now() < deadline) mainThread.ServePending();
    ASSERT_EQ(indices, std::vector<int>{0});
  }
  SetMainThreadDispatcher(nullptr);
  EXPECT_EQ(indices, (std::vector<int>{0, -1}));
}

TEST_F(EncoderTest, TwoAtOnceWithPacedInputs) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  // Paced to real time, each task takes about two seconds; two in parallel end close together.
  for (int i = 0; i < 2; ++i) AddClipTask(encoder, Out("par" + std::to_string(i) + ".mp4"), "-re");
  const auto start = std::chrono::steady_clock::now();
  encoder.StartTask(2);
  ASSERT_TRUE(recorder.WaitFinal());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Under ThreadSanitizer the encoding itself takes longer than the pacing, which hides it.
  if (test::kWaitScale == 1) {
    EXPECT_LT(seconds, 3.5);
  }
  EXPECT_EQ(recorder.Indices().size(), 3u);
  encoder.ClearTasks();
}

TEST_F(EncoderTest, StopWithWaitLeavesAShorterFileAndReportsEveryTask) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  AddClipTask(encoder, Out("stop0.mp4"), "-re");
  AddClipTask(encoder, Out("stop1.mp4"), "-re");
  encoder.StartTask(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  encoder.Stop(true);
  ASSERT_TRUE(recorder.WaitFinal());
  ASSERT_EQ(recorder.Indices(), (std::vector<int>{0, 1, -1}));
  EXPECT_FALSE(recorder.Events[0].Finished);
  EXPECT_FALSE(recorder.Events[0].Failed) << recorder.Events[0].ErrorMessage;
  EXPECT_FALSE(recorder.Events[1].Finished);
  TFFDecoder info;
  ASSERT_TRUE(info.LoadFile(Out("stop0.mp4")));
  TFileStreamInfo stream;
  ASSERT_TRUE(info.GetFileStreamInfo(stream));
  EXPECT_GT(stream.Duration, 100000);
  EXPECT_LT(stream.Duration, 1500000);
  EXPECT_EQ(info.StreamCount, 2);
  encoder.ClearTasks();
}

TEST_F(EncoderTest, PauseHoldsTheRunUntilResumed) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  AddClipTask(encoder, Out("paused.mp4"));
  encoder.Pause();  // not working yet: nothing happens
  encoder.StartTask(1);
  encoder.Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const bool endedWhilePaused = !recorder.Indices().empty();
  encoder.Resume();
  ASSERT_TRUE(recorder.WaitFinal());
  EXPECT_FALSE(endedWhilePaused);
  EXPECT_TRUE(recorder.Events[0].Finished);
  encoder.ClearTasks();
}

TEST_F(EncoderTest, TaskWithoutOutputFailsAndTheFinalEventFollows) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(Clip), 0);
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  ASSERT_EQ(recorder.Indices(), (std::vector<int>{0, -1}));
  EXPECT_TRUE(recorder.Events[0].Failed);
  EXPECT_FALSE(recorder.Events[0].Finished);
  EXPECT_EQ(recorder.Events[0].ErrorMessage, "At least one output file must be specified");
  EXPECT_TRUE(recorder.Events[1].Finished);
  encoder.ClearTasks();
}

TEST_F(EncoderTest, AddTaskFailuresLeaveNoTask) {
  TFFEncoder encoder;
  TInputOptions in;
  in.Options = "-nosuchoption 1";
  EXPECT_LT(encoder.AddTask(Clip, &in), 0);
  EXPECT_NE(encoder.LastErrorMessage().find("nosuchoption"), std::string::npos) << encoder.LastErrorMessage();
  EXPECT_EQ(in.FileName, Clip);
  EXPECT_LT(encoder.AddTask(Out("missing.mkv")), 0);
  EXPECT_EQ(encoder.TaskCount(), 0);
  encoder.SetProgressInterval(50);
  EXPECT_EQ(encoder.ProgressInterval(), 100);
}

// The sound loop: one file joined three times with its audio copied.
TEST_F(EncoderTest, JoinedInputsFollowEachOtherWithoutAGap) {
  const std::string sound = Out("tone.mp3");
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i sine=sample_rate=44100:duration=0.7 -c:a libmp3lame '" +
                         sound + "'").c_str()), 0);
  TFFDecoder info;
  ASSERT_TRUE(info.LoadFile(sound));
  TFileStreamInfo single;
  info.GetFileStreamInfo(single);
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(sound), 0);
  ASSERT_GE(encoder.AddInput(0, sound), 0);
  TInputOptions last;
  last.JoinEndTime = 300000;  // only the start of the third copy
  ASSERT_GE(encoder.AddInput(0, sound, &last), 0);
  TOutputOptions out;
  out.Join = true;
  out.Options = "-c:a copy -b:a 128k -ar 44100 -sn";
  ASSERT_GE(encoder.SetOutput(0, Out("looped.mp3"), &out), 0) << encoder.LastErrorMessage();
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  ASSERT_TRUE(recorder.Events[0].Finished) << recorder.Events[0].ErrorMessage;
  ASSERT_TRUE(info.LoadFile(Out("looped.mp3")));
  TFileStreamInfo joined;
  info.GetFileStreamInfo(joined);
  EXPECT_NEAR(double(joined.Duration), 2.0 * double(single.Duration) + 300000, 60000);
  // Packet times rise steadily across the joins.
  const std::string times = RunCommand("ffprobe -v error -select_streams a -show_entries packet=pts_time "
                                             "-of default=nw=1:nk=1 '" + Out("looped.mp3") + "'");
  std::istringstream lines(times);
  double previous = -1, value;
  int packets = 0;
  while (lines >> value) {
    if (previous >= 0) {
      EXPECT_NEAR(value - previous, 1152.0 / 44100, 0.002) << "after " << previous;
    }
    previous = value;
    ++packets;
  }
  EXPECT_GT(packets, 60);
  encoder.ClearTasks();
}

// Parts of other picture sizes and sound formats are brought to the first part's: the file keeps
// one size and one sound format throughout, and every part's frames are there.
TEST_F(EncoderTest, JoinedPartsOfOtherSizesAndSampleFormats) {
  const std::string wide = Out("wide.mkv");
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i color=white:size=320x180:rate=25:duration=1 -f lavfi -i "
                         "sine=sample_rate=48000:duration=1 -ac 2 -c:v mpeg4 -c:a flac '" + wide + "'").c_str()), 0);
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  ASSERT_EQ(encoder.AddTask(Clip), 0);
  ASSERT_GE(encoder.AddInput(0, wide), 0);
  TOutputOptions out;
  out.Join = true;
  out.Options = "-c:v mpeg4 -vf \"pad=200:120:20:0\" -c:a aac";
  ASSERT_GE(encoder.SetOutput(0, Out("joinedsizes.mp4"), &out), 0) << encoder.LastErrorMessage();
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  ASSERT_TRUE(recorder.Events[0].Finished) << recorder.Events[0].ErrorMessage;
  const std::string streams = RunCommand("ffprobe -v error -show_entries stream=width,height,sample_rate,channels "
                                               "-of default=nw=1 '" + Out("joinedsizes.mp4") + "'");
  EXPECT_NE(streams.find("width=200\nheight=120"), std::string::npos) << streams;
  EXPECT_NE(streams.find("sample_rate=44100\nchannels=1"), std::string::npos) << streams;
  // Three seconds of pictures: the test picture, then the white one, padded to the same frame.
  const std::string gray = RunCommand("ffmpeg -v error -i '" + Out("joinedsizes.mp4") +
                                            "' -f rawvideo -pix_fmt gray -");
  ASSERT_EQ(gray.size(), 75u * 200 * 120);
  const size_t last = 74u * 200 * 120;
  EXPECT_GT(uint8_t(gray[last + 60 * 200 + 100]), 240);
  EXPECT_LT(uint8_t(gray[last + 60 * 200 + 5]), 30);
  const std::string samples = RunCommand("ffmpeg -v error -i '" + Out("joinedsizes.mp4") + "' -f s16le -ac 1 -");
  EXPECT_NEAR(double(samples.size()) / 2 / 44100, 3.0, 0.05);
  encoder.ClearTasks();
}

TEST_F(EncoderTest, HooksSeeEveryFrameAndTheirChangesAreEncoded) {
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  int inputs = 0, outputs = 0;
  int64_t soundBytes = 0;
  encoder.OnFrameInputHook = [&](void*, TFrameHookInfo* info) {
    ++inputs;
    EXPECT_EQ(info->FrameNumber, inputs);
    EXPECT_EQ(info->Width, 160);
    // A white band over the top rows of every picture.
    for (int y = 0; y < 16; ++y) memset(info->Picture->data[0] + y * info->Picture->linesize[0], 255, size_t(info->Width));
  };
  encoder.OnFrameOutputHook = [&](void*, TFrameHookInfo*) { ++outputs; };
  encoder.OnAudioHook = [&](void*, int task, int64_t, uint8_t*, int size, int, int channels, int) {
    EXPECT_EQ(task, 0);
    EXPECT_EQ(channels, 1);
    soundBytes += size;
  };
  ASSERT_EQ(encoder.AddTask(Clip), 0);
  TOutputOptions out;
  out.Options = "-c:v ffv1 -pix_fmt gray -c:a pcm_s16le";
  out.FrameInputHook = out.FrameOutputHook = out.AudioHook = true;
  ASSERT_GE(encoder.SetOutput(0, Out("hooked.mkv"), &out), 0) << encoder.LastErrorMessage();
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  EXPECT_TRUE(recorder.Events[0].Finished) << recorder.Events[0].ErrorMessage;
  EXPECT_EQ(inputs, 50);
  EXPECT_EQ(outputs, 50);
  EXPECT_EQ(soundBytes, 2 * 44100 * 2);
  const std::string gray = RunCommand("ffmpeg -v error -i '" + Out("hooked.mkv") +
                                            "' -frames:v 1 -f rawvideo -pix_fmt gray -");
  ASSERT_EQ(gray.size(), 160u * 120);
  EXPECT_EQ(uint8_t(gray[5 * 160 + 80]), 255);
  EXPECT_NE(uint8_t(gray[60 * 160 + 80]), 255);
  encoder.ClearTasks();

  // Copying a stream cannot show its frames.
  ASSERT_EQ(encoder.AddTask(Clip), 0);
  out.Options = "-c:v copy -an";
  out.AudioHook = false;
  ASSERT_GE(encoder.SetOutput(0, Out("copyhook.mkv"), &out), 0);
  recorder.Events.clear();
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  EXPECT_EQ(recorder.Events[0].ErrorMessage, "-vcodec copy and FrameHook are incompatible (frames are not decoded)");
  encoder.ClearTasks();
}

// Video hooks see bitmaps of the hook's bits per pixel: drawing on one changes the encoded frame
// unless Update is cleared; StopHook ends the hook; a handler's exception is logged and its bitmap
// dropped. The other events: previews at most every 100 ms, the probe event, the worker priority.
TEST_F(EncoderTest, VideoHooksPreviewsAndTheOtherEvents) {
  testing::TLogRecorder log(llError);
  TFFEncoder encoder;
  TTerminateRecorder recorder;
  recorder.Attach(encoder);
  int inputs = 0, outputs = 0, probed = 0, nice = 0;
  std::vector<TPreviewInfo> previews;
  encoder.OnBeforeFindStreamInfo = [&](void* sender, AVFormatContext* context) {
    EXPECT_EQ(sender, &encoder);
    EXPECT_EQ(std::string(context->url), Clip);
    ++probed;
  };
  encoder.OnVideoInputHook = [&](void*, THookInfo* info) {
    ++inputs;
    EXPECT_EQ(info->FrameNumber, inputs);
    ASSERT_EQ(info->Bitmap->BitsPerPixel, 32);
    ASSERT_EQ(info->Bitmap->Stride, 160 * 4);
    // A white band over the top rows; odd frames throw after drawing, so theirs is dropped.
    for (int y = 0; y < 16; ++y) memset(info->Bitmap->Bits + y * info->Bitmap->Stride, 255, size_t(info->Bitmap->Stride));
    if (inputs % 2) throw std::runtime_error("boom");
    if (inputs == 4) info->Update = false;
    // What the handler does to the description does not reach the conversion back.
    if (inputs == 6) info->Bitmap->Stride = info->Bitmap->Height = 1 << 20;
  };
  encoder.OnVideoOutputHook = [&](void*, THookInfo* info) {
    ++outputs;
    nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    info->StopHook = outputs == 3;
  };
  encoder.OnPreviewBitmap = [&](void*, const TPreviewInfo& info) {
    EXPECT_EQ(info.Bitmap->Width, 160);
    EXPECT_EQ(info.Bitmap->BitsPerPixel, 32);
    previews.push_back(info);
  };
  encoder.SetPreviewBitmap(true);
  encoder.ThreadPriority = tpLower;
  TInputOptions in;
  in.Options = "-re";
  ASSERT_EQ(encoder.AddTask(Clip, &in), 0) << encoder.LastErrorMessage();
  EXPECT_EQ(probed, 1);
  TOutputOptions out;
  out.Options = "-c:v ffv1 -pix_fmt gray -an";
  out.VideoInputHook = out.VideoOutputHook = true;
  out.VideoHookBitsPixel = 32;
  ASSERT_GE(encoder.SetOutput(0, Out("videohooked.mkv"), &out), 0) << encoder.LastErrorMessage();
  encoder.StartTask(1);
  ASSERT_TRUE(recorder.WaitFinal());
  EXPECT_TRUE(recorder.Events[0].Finished) << recorder.Events[0].ErrorMessage;
  EXPECT_TRUE(recorder.Events[1].Finished) << recorder.Events[1].ErrorMessage;
  EXPECT_EQ(inputs, 50);
  EXPECT_EQ(outputs, 3);
  EXPECT_EQ(nice, 5);
  EXPECT_TRUE(log.Contains("Error occurs VideoHook event: boom"));
  // Paced to two seconds: one preview per 100 ms at most, in frame order.
  EXPECT_GE(previews.size(), 10u);
  EXPECT_LE(previews.size(), 21u);
  for (size_t i = 1; i < previews.size(); ++i) EXPECT_GE(previews[i].PTS - previews[i - 1].PTS, 80000);
  const std::string gray =
      RunCommand("ffmpeg -v error -i '" + Out("videohooked.mkv") + "' -frames:v 4 -f rawvideo -pix_fmt gray -");
  ASSERT_EQ(gray.size(), 4u * 160 * 120);
  for (int frame = 0; frame < 4; ++frame)
    EXPECT_EQ(uint8_t(gray[size_t(frame) * 160 * 120 + 5 * 160 + 80]) > 250, frame == 1) << "frame " << frame + 1;
  encoder.ClearTasks();

  // A copied stream has no frames to show.
  for (bool preview : {false, true}) {
    encoder.SetPreviewBitmap(preview);
    ASSERT_EQ(encoder.AddTask(Clip), 0);
    out.Options = "-c:v copy -an";
    out.VideoInputHook = !preview;
    out.VideoOutputHook = false;
    ASSERT_GE(encoder.SetOutput(0, Out("copied.mkv"), &out), 0);
    recorder.Events.clear();
    encoder.StartTask(1);
    ASSERT_TRUE(recorder.WaitFinal());
    EXPECT_EQ(recorder.Events[0].ErrorMessage, preview ? "-vcodec copy and PostHooks are incompatible (frames are not decoded)"
                                                       : "-vcodec copy and VideoHook are incompatible (frames are not decoded)");
    encoder.ClearTasks();
  }
}

TEST_F(EncoderTest, MediaInformationCountsStreamsAndExplainsFailures) {
  TFFDecoder info;
  TFileStreamInfo stream;
  EXPECT_FALSE(info.GetFileStreamInfo(stream));
  EXPECT_EQ(info.LastErrorMessage, "file not loaded.");
  EXPECT_EQ(stream.Duration, -1);
  ASSERT_TRUE(info.LoadFile(Clip));
  EXPECT_EQ(info.StreamCount, 2);
  EXPECT_EQ(info.VideoStreamCount, 1);
  EXPECT_EQ(info.AudioStreamCount, 1);
  EXPECT_EQ(info.FirstVideoStreamIndex, 0);
  EXPECT_EQ(info.FirstAudioStreamIndex, 1);
  EXPECT_EQ(info.FirstSubtitleStreamIndex, -1);
  EXPECT_EQ(info.FileSize, int64_t(std::filesystem::file_size(Clip)));
  ASSERT_TRUE(info.GetFileStreamInfo(stream));
  EXPECT_NEAR(double(stream.Duration), 2e6, 1e5);
  EXPECT_FALSE(info.LoadFile(Clip, "nosuchformat"));
  EXPECT_EQ(info.LastErrorMessage, "Unknown input format: nosuchformat");
  EXPECT_EQ(info.StreamCount, -1);
  const std::string garbage = Out("garbage.bin");
  { FILE* f = fopen(garbage.c_str(), "wb"); fputs("not a movie", f); fclose(f); }
  EXPECT_FALSE(info.LoadFile(garbage));
  EXPECT_NE(info.LastErrorMessage.find(garbage), std::string::npos);
}

}  // namespace
}  // namespace qm::engine
