// The frame and sample inputs through the task API, as the capture window and the conversion use
// them: pictures and sound made by the test, files read back by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/ff_encoder.h"
#include "engine/ffmpeg_api.h"
#include "engine/frame_input.h"
#include "engine/main_thread.h"
#include "engine/sample_input.h"
#include "engine_test_support.h"
#include "probe_support.h"

namespace qm::engine {
namespace {

using testing::LoadSystemLibraries;
using testing::Probe;
using testing::RunCommand;
using testing::TLogRecorder;
using testing::TProbe;
using testing::TTestMainThread;
using testing::TTempFolder;

using TClock = std::chrono::steady_clock;

class FrameInputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadSystemLibraries();
    Folder = new TTempFolder;
  }
  static void TearDownTestSuite() {
    delete Folder;
    Folder = nullptr;
  }
  void SetUp() override {
    Encoder.TriggerEventInMainThread = false;
    Encoder.OnTerminate = [this](void*, const TTerminateInfo& info) { Terminates.push_back(info); };
  }

  static std::string Out(const std::string& name) { return Folder->Path + "/" + name; }

  // One task from one input to one output, run on this thread to its end.
  TTerminateInfo Convert(const std::string& inputName, const std::string& inputOptions, const std::string& outputOptions,
                         const std::string& output, TOutputOptions out = {}) {
    TInputOptions in;
    in.Options = inputOptions;
    EXPECT_GE(Encoder.AddTask(inputName, &in), 0) << Encoder.LastErrorMessage();
    out.Options = outputOptions;
    EXPECT_GE(Encoder.SetOutput(0, output, &out), 0) << Encoder.LastErrorMessage();
    Encoder.StartTask(0);
    EXPECT_EQ(Terminates.size(), 2u);
    return Terminates.empty() ? TTerminateInfo{} : Terminates.front();
  }

  static TTempFolder* Folder;
  TFFEncoder Encoder;
  std::vector<TTerminateInfo> Terminates;
};
TTempFolder* FrameInputTest::Folder = nullptr;

void Fill(TFrameImage* image, int rowFrom, int rowTo, uint8_t b, uint8_t g, uint8_t r) {
  for (int y = rowFrom; y < rowTo; ++y)
    for (int x = 0; x < image->Width; ++x) {
      uint8_t* p = image->Bits + size_t(y) * size_t(image->Stride) + size_t(x) * 3;
      p[0] = b, p[1] = g, p[2] = r;
    }
}

// The capture window's task: a counter painted at 25 fps, paced by -re, into MPEG-4 at 20000k.
TEST_F(FrameInputTest, PacedCanvasFramesArriveEvery40msWithDefaultTimes) {
  constexpr int frames = 20;
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  std::vector<TClock::time_point> calls;
  std::vector<int64_t> eventTimes;
  bool headerSeen = false, closed = false;
  adapter.OnReadHeader = [&](TFrameInputAdapter* sender) {
    EXPECT_EQ(sender, &adapter);
    ASSERT_NE(adapter.FrameInfo(), nullptr);
    EXPECT_EQ(adapter.FrameInfo()->Stride, 480);
    EXPECT_EQ(adapter.FrameInfo()->FrameSize, 480 * 120);
    headerSeen = true;
  };
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo* info) {
    EXPECT_EQ(info->FrameNumber, int(calls.size()) + 1);
    if (info->FrameNumber > frames) return -1;
    calls.push_back(TClock::now());
    eventTimes.push_back(info->PTS);
    const uint8_t level = uint8_t(info->FrameNumber * 12);
    Fill(image, 0, image->Height, level, level, level);
    return 0;
  };
  adapter.OnReadClose = [&](TFrameInputAdapter*) { closed = true; };
  std::vector<int64_t> decodedTimes;
  Encoder.OnFrameInputHook = [&](void*, TFrameHookInfo* hook) { decodedTimes.push_back(hook->PTS); };
  TOutputOptions out;
  out.FrameInputHook = true;
  const TTerminateInfo done = Convert(adapter.InputName(), "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 25 -s 160x120",
                                      "-c:v mpeg4 -b:v 20000k", Out("counter.mp4"), out);
  EXPECT_TRUE(done.Finished) << done.ErrorMessage;
  EXPECT_TRUE(headerSeen);
  EXPECT_TRUE(closed);
  EXPECT_EQ(adapter.FrameInfo(), nullptr);

  ASSERT_EQ(eventTimes.size(), size_t(frames));
  ASSERT_EQ(decodedTimes.size(), size_t(frames));
  for (int i = 0; i < frames; ++i) {
    EXPECT_EQ(eventTimes[size_t(i)], i * 40000);
    EXPECT_EQ(decodedTimes[size_t(i)], i * 40000);
  }
  // Frame n+1 is asked for once frame n is due: never sooner than its 40 ms step.
  for (int i = 2; i < frames; ++i) {
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(calls[size_t(i)] - calls[0]).count();
    EXPECT_GE(since, (i - 1) * 40000 - 2000) << "frame " << i + 1;
  }
  const auto total = std::chrono::duration_cast<std::chrono::milliseconds>(calls.back() - calls.front()).count();
  EXPECT_LT(total, (frames - 2) * 40 + 1500);

  const TProbe probe = Probe(Out("counter.mp4"));
  ASSERT_EQ(probe.Count("video"), 1);
  EXPECT_EQ(probe.First("video")->at("codec_name"), "mpeg4");
  EXPECT_NEAR(probe.Duration, frames * 0.04, 0.01);
  const std::string rgb = RunCommand("ffmpeg -v error -i '" + Out("counter.mp4") + "' -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), size_t(frames) * 160 * 120 * 3);
  for (int i = 0; i < frames; ++i)
    EXPECT_NEAR(int(uint8_t(rgb[(size_t(i) * 160 * 120 + 60 * 160 + 80) * 3])), (i + 1) * 12, 4) << "frame " << i + 1;
}

// The program's own times: later ones are kept and the defaults continue from them; a time not
// after the previous one is refused with a warning and the default stays.
TEST_F(FrameInputTest, HandlerTimesReplaceDefaultsWhenLater) {
  TLogRecorder log(llWarning);
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  // -1: leave the default; the last one is too far off to count frames from.
  const std::vector<int64_t> written = {-1, 500000, -1, 500000, 2000000, INT64_MAX - 5};
  adapter.OnReadFrameYUV = [&](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
    const size_t i = size_t(info->FrameNumber - 1);
    if (i >= written.size()) return -1;
    std::memset(data, 128, size_t(info->FrameSize));
    if (written[i] >= 0) info->PTS = written[i];
    return 0;
  };
  std::vector<int64_t> times;
  Encoder.OnFrameInputHook = [&](void*, TFrameHookInfo* hook) { times.push_back(hook->PTS); };
  TOutputOptions out;
  out.FrameInputHook = true;
  const TTerminateInfo done =
      Convert(adapter.InputName(), "-f frameinput -r 25 -s 64x48", "-c:v ffv1 -r 100 -vsync passthrough", Out("times.nut"), out);
  EXPECT_TRUE(done.Finished) << done.ErrorMessage;
  EXPECT_EQ(times, (std::vector<int64_t>{0, 500000, 540000, 580000, 2000000, 2040000}));
  EXPECT_TRUE(log.Contains("invalid pts 500000"));
  EXPECT_TRUE(log.Contains("invalid pts " + std::to_string(INT64_MAX - 5)));
}

// What the program may write is the time: sizes it scribbles over are put back, so the packets
// keep their size and the picture its memory.
TEST_F(FrameInputTest, HandlersCannotChangeThePictureGeometry) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  std::vector<int> seenSizes;
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo* info) {
    if (info->FrameNumber > 3) return -1;
    seenSizes.push_back(info->FrameSize);
    EXPECT_EQ(image->Stride, 3 * 64);
    if (!image->Bits) return -1;
    Fill(image, 0, image->Height, 10, 20, 30);
    info->FrameSize = info->Stride = info->Height = 1 << 30;
    info->InputType = fitYUV;
    image->Bits = nullptr;
    image->Stride = -1;
    return 0;
  };
  const TTerminateInfo done =
      Convert(adapter.InputName(), "-f frameinput -input_type canvas -pix_fmt bgr24 -r 25 -s 64x48", "-c:v ffv1",
              Out("scribbled.nut"));
  EXPECT_TRUE(done.Finished) << done.ErrorMessage;
  EXPECT_EQ(seenSizes, (std::vector<int>{64 * 3 * 48, 64 * 3 * 48, 64 * 3 * 48}));
  const std::string rgb = RunCommand("ffmpeg -v error -i '" + Out("scribbled.nut") + "' -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(rgb.size(), 3u * 64 * 48 * 3);
  EXPECT_EQ(uint8_t(rgb[rgb.size() - 3]), 30);
}

// What a header refuses: the log names the reason, AddTask fails with "invalid argument".
TEST_F(FrameInputTest, BadNamesAndSettingsAreRefused) {
  TLogRecorder log(llError);
  TFrameInputAdapter adapter;
  std::string stale;
  {
    TFrameInputAdapter gone;
    stale = gone.InputName();
  }
  TSampleInputAdapter otherKind;
  const std::string live = adapter.InputName();
  const std::string base = "-f frameinput -r 25 -s 320x240 ";
  struct TCase {
    std::string Name, Options, Message;
  };
  const std::vector<TCase> cases = {
      {"abc", base, "Could not parse FrameInputAdapter: \"abc\", it should be address of FrameInputAdapter"},
      {"12x", base, "Could not parse FrameInputAdapter: \"12x\", it should be address of FrameInputAdapter"},
      {"0", base, "Invalid FrameInputAdapter"},
      {stale, base, "Invalid FrameInputAdapter"},
      {"99999999999", base, "Invalid FrameInputAdapter"},
      {otherKind.InputName(), base, "Invalid FrameInputAdapter"},
      {live, base + "-input_type Canvas", "Invalid frame input type: \"Canvas\", it should be one of canvas/bmp/dc/yuv"},
      {live, base + "-input_type canvas -pix_fmt yuv420p",
       "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra"},
      {live, base + "-input_type bmp", "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra"},
      {live, base + "-pix_fmt nosuchformat", "Unknown pixel format requested"},
      {live, "-f frameinput -r fast -s 320x240", "Could not parse framerate \"fast\"."},
      {live, "-f frameinput -r 25 -s big", "Couldn't parse video size."},
      {live, "-f frameinput -r 25", "Invalid frame size"},
      {live, "-f frameinput -r 25 -s 100000x100000", "Invalid frame size"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name + " " + c.Options);
    TFFEncoder encoder;
    TInputOptions in;
    in.Options = c.Options;
    EXPECT_EQ(encoder.AddTask(c.Name, &in), AVERROR(EINVAL));
    EXPECT_EQ(encoder.TaskCount(), 0);
    EXPECT_EQ(encoder.LastErrorMessage(), c.Name + ": Invalid argument / Invalid data found when processing input");
    EXPECT_TRUE(log.Contains(c.Message));
  }
}

// One pixel of colour (r, g, b) in the layout of the picture; pal8 uses colours 1 and 2 of a palette
// that holds red and blue there.
void Put(uint8_t* p, int bitsPerPixel, uint8_t r, uint8_t g, uint8_t b) {
  switch (bitsPerPixel) {
    case 32: p[3] = 255; [[fallthrough]];
    case 24: p[0] = b, p[1] = g, p[2] = r; break;
    case 16: {
      const uint16_t v = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
      p[0] = uint8_t(v), p[1] = uint8_t(v >> 8);
      break;
    }
    case 8: *p = r ? 1 : 2; break;
  }
}

// Top half red, bottom half blue, into rows given top row first.
void PaintHalves(uint8_t* const* rows, int width, int height, int bitsPerPixel) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = rows[y] + x * bitsPerPixel / 8;
      if (y < height / 2)
        Put(p, bitsPerPixel, 255, 0, 0);
      else
        Put(p, bitsPerPixel, 0, 0, 255);
    }
}

// Row sizes and packet sizes of each layout, and the picture from the program to the file: canvas
// pictures are stored top row first, bmp memory bottom row first, padded rows are not sheared.
TEST_F(FrameInputTest, LayoutsGiveTheirStrideAndKeepThePictureUpright) {
  struct TCase {
    std::string Options;
    int Stride, FrameSize;
  };
  const std::vector<TCase> cases = {
      {"-input_type yuv -pix_fmt yuv420p -s 640x480", 0, 640 * 480 * 3 / 2},
      {"-input_type canvas -pix_fmt bgr24 -s 641x40", 1924, 1924 * 40},
      {"-input_type bmp -pix_fmt bgr24 -s 641x40", 1924, 1924 * 40},
      {"-input_type dc -pix_fmt bgra -s 33x40", 132, 132 * 40},
      {"-input_type canvas -pix_fmt rgb555le -s 33x40", 68, 68 * 40},
      {"-input_type bmp -pix_fmt pal8 -s 33x40", 36, 36 * 40},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options);
    Terminates.clear();
    Encoder.ClearTasks();
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    TInputFrameInfo seen;
    auto paint = [&](uint8_t* first, ptrdiff_t step, TInputFrameInfo* info) {
      if (info->FrameNumber > 2) return -1;
      seen = *info;
      std::vector<uint8_t*> rows;
      for (int y = 0; y < info->Height; ++y) rows.push_back(first + y * step);
      PaintHalves(rows.data(), info->Width, info->Height, info->BitsPerPixel);
      if (TFrameImage* image = adapter.FrameImage(); image && image->Palette) {
        image->Palette[1] = 0xFFFF0000;
        image->Palette[2] = 0xFF0000FF;
      }
      return 0;
    };
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo* info) {
      EXPECT_EQ(image->Stride, info->Stride);
      return paint(image->Bits, image->Stride, info);
    };
    adapter.OnReadFrameDC = adapter.OnReadFrameCanvas;
    adapter.OnReadFrameBMP = [&](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
      uint8_t* bottom = static_cast<uint8_t*>(data);
      return paint(bottom + ptrdiff_t(info->Height - 1) * info->Stride, -info->Stride, info);
    };
    adapter.OnReadFrameYUV = [&](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
      if (info->FrameNumber > 2) return -1;
      seen = *info;
      std::memset(data, 100, size_t(info->FrameSize));
      return 0;
    };
    const TTerminateInfo done = Convert(adapter.InputName(), "-f frameinput -r 25 " + c.Options, "-c:v ffv1", Out("layout.nut"));
    EXPECT_TRUE(done.Finished) << done.ErrorMessage;
    EXPECT_EQ(seen.Stride, c.Stride);
    EXPECT_EQ(seen.FrameSize, c.FrameSize);
    EXPECT_EQ(seen.FrameNumber, 2);
    if (seen.BitsPerPixel == 0) continue;
    const int w = seen.Width, h = seen.Height;
    const std::string rgb = RunCommand("ffmpeg -v error -i '" + Out("layout.nut") + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(rgb.size(), size_t(w * h * 3));
    std::string corners;
    for (int y : {0, h / 2 - 1, h / 2, h - 1})
      for (int x : {0, w - 1}) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(rgb.data()) + (y * w + x) * 3;
        corners += p[0] > 200 && p[1] < 50 && p[2] < 50 ? 'R' : p[0] < 50 && p[1] < 50 && p[2] > 200 ? 'B' : '?';
      }
    EXPECT_EQ(corners, "RRRRBBBB");
  }
}

// A comb of lines that trade places every picture: deinterlacing joins the fields, so neighbouring
// rows no longer differ by the whole range.
TEST_F(FrameInputTest, DeinterlacingJoinsTheFields) {
  double rowDifference[2] = {};
  for (int deinterlace : {0, 1}) {
    Terminates.clear();
    Encoder.ClearTasks();
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    adapter.OnReadFrameYUV = [](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
      if (info->FrameNumber > 6) return -1;
      for (int y = 0; y < info->Height; ++y)
        std::memset(static_cast<uint8_t*>(data) + y * info->Width, (y + info->FrameNumber) % 2 ? 255 : 0, size_t(info->Width));
      return 0;
    };
    const TTerminateInfo done = Convert(adapter.InputName(), "-f frameinput -pix_fmt gray -r 25 -s 32x32",
                                        std::string("-c:v ffv1 -pix_fmt gray") + (deinterlace ? " -deinterlace" : ""),
                                        Out("comb.nut"));
    EXPECT_TRUE(done.Finished) << done.ErrorMessage;
    const std::string gray = RunCommand("ffmpeg -v error -i '" + Out("comb.nut") + "' -f rawvideo -pix_fmt gray -");
    ASSERT_EQ(gray.size(), 6u * 32 * 32) << deinterlace;
    double sum = 0;
    for (size_t frame = 1; frame < 5; ++frame)
      for (size_t y = 1; y < 31; ++y)
        sum += std::abs(int(uint8_t(gray[(frame * 32 + y) * 32 + 16])) - int(uint8_t(gray[(frame * 32 + y + 1) * 32 + 16])));
    rowDifference[deinterlace] = sum / (4 * 30);
  }
  EXPECT_GT(rowDifference[0], 250);
  EXPECT_LT(rowDifference[1], 128);
}

// Events on the main thread by default; an adapter that goes away mid-run ends its input there and
// the output is still complete.
TEST_F(FrameInputTest, EventsReachTheMainThreadAndAGoneAdapterEndsTheInput) {
  TTestMainThread mainThread;
  SetMainThreadDispatcher(&mainThread);
  Encoder.TriggerEventInMainThread = true;
  auto adapter = std::make_unique<TFrameInputAdapter>();
  std::atomic<int> frames{0};
  std::atomic<bool> offMain{false};
  adapter->OnReadFrameCanvas = [&](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo*) {
    offMain = offMain || !mainThread.IsMainThread();
    Fill(image, 0, image->Height, 50, 100, 150);
    ++frames;
    return 0;
  };
  TInputOptions in;
  in.Options = "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 25 -s 96x64";
  ASSERT_EQ(Encoder.AddTask(adapter->InputName(), &in), 0) << Encoder.LastErrorMessage();
  TOutputOptions out;
  out.Options = "-c:v mpeg4";
  ASSERT_GE(Encoder.SetOutput(0, Out("gone.mp4"), &out), 0);
  Encoder.StartTask(1);
  while (frames < 10) mainThread.ServePending();
  adapter.reset();
  const auto deadline = TClock::now() + std::chrono::seconds(30);
  while (Terminates.size() < 2 && TClock::now() < deadline) mainThread.ServePending();
  SetMainThreadDispatcher(nullptr);
  ASSERT_EQ(Terminates.size(), 2u);
  EXPECT_TRUE(Terminates[0].Finished) << Terminates[0].ErrorMessage;
  EXPECT_FALSE(offMain);
  const TProbe probe = Probe(Out("gone.mp4"));
  ASSERT_EQ(probe.Count("video"), 1);
  EXPECT_NEAR(probe.Duration, frames * 0.04, 0.05);
}

// Pictures handed over without a copy: each is encoded as it was when handed, each buffer comes
// back exactly once (a picture without room for FFmpeg's padding is copied and comes back at
// once), and a buffer that cannot hold a frame, or comes with a failure, ends the input and comes
// back too. A buffer that came back is scribbled over, as a program reusing it would.
TEST_F(FrameInputTest, HandedPicturesAreEncodedAsTheyWereAndEachComesBackOnce) {
  constexpr int W = 64, H = 48, Frames = 12;
  constexpr size_t Size = W * H * 3 / 2;
  struct TCase {
    const char* Name;
    size_t Capacity;       // of the buffers handed
    int FailAt;            // frame number whose event fails after handing a buffer, 0 never
    int EncodedFrames;
    bool CopiedAtOnce;     // every buffer is back before the next event
  };
  const std::vector<TCase> cases = {
      {"padded", Size + FramePadding, 0, Frames, false},
      {"without padding", Size, 0, Frames, true},
      {"too small", Size - 1, 0, 0, true},
      {"failing event", Size + FramePadding, 5, 4, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Terminates.clear();
    Encoder.ClearTasks();
    std::vector<std::unique_ptr<uint8_t[]>> owned;
    std::vector<uint8_t*> spare;
    std::map<uint8_t*, int> out;  // buffers the engine holds, by how often they were handed
    int handed = 0, returned = 0, wrongReturns = 0, heldAtEvent = 0;
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    adapter.OnReadFrameBuffer = [&](TFrameInputAdapter*, TFrameBuffer* buffer, TInputFrameInfo* info) {
      if (info->FrameNumber > Frames) return -1;
      heldAtEvent = std::max(heldAtEvent, int(out.size()));
      if (spare.empty()) {
        owned.emplace_back(new uint8_t[c.Capacity]);
        spare.push_back(owned.back().get());
      }
      uint8_t* data = spare.back();
      spare.pop_back();
      std::memset(data, 16 + 10 * info->FrameNumber, std::min(Size, c.Capacity));
      buffer->Data = data;
      buffer->Capacity = c.Capacity;
      buffer->Release = [&, capacity = c.Capacity](uint8_t* back) {
        if (out.erase(back) != 1) ++wrongReturns;
        ++returned;
        std::memset(back, 0xEE, capacity);
        spare.push_back(back);
      };
      out[data] = ++handed;
      return info->FrameNumber == c.FailAt ? -1 : 0;
    };
    const TTerminateInfo done =
        Convert(adapter.InputName(), "-f frameinput -input_type yuv -pix_fmt yuv420p -r 25 -s 64x48", "-c:v ffv1",
                Out("handed.nut"));
    EXPECT_EQ(returned, handed);
    EXPECT_EQ(wrongReturns, 0);
    EXPECT_TRUE(out.empty());
    if (c.CopiedAtOnce) {
      EXPECT_EQ(heldAtEvent, 0);
    }
    if (c.EncodedFrames == 0) {
      EXPECT_EQ(handed, 1);
      continue;
    }
    EXPECT_TRUE(done.Finished) << done.ErrorMessage;
    const std::string yuv = RunCommand("ffmpeg -v error -i '" + Out("handed.nut") + "' -f rawvideo -pix_fmt yuv420p -");
    ASSERT_EQ(yuv.size(), Size * size_t(c.EncodedFrames));
    for (int f = 0; f < c.EncodedFrames; ++f) {
      const std::string expected(Size, char(16 + 10 * (f + 1)));
      EXPECT_EQ(yuv.compare(Size * size_t(f), Size, expected), 0) << "frame " << f + 1;
    }
  }
}

// The player's sound as a second input of the same task: every sample arrives where it belongs.
TEST_F(FrameInputTest, SampleInputKeepsEverySample) {
  constexpr int total = 44100 + 123;
  auto sine = [](int64_t n) { return int16_t(std::lrint(12000 * std::sin(2 * M_PI * 441 * double(n) / 44100))); };
  auto feed = [&](TSampleInputAdapter& sound) {
    sound.TriggerEventInMainThread = false;
    sound.OnReadSamples = [&, total](TSampleInputAdapter*, int16_t* samples, int frames, TInputSampleInfo* info) {
      EXPECT_EQ(info->PTS, std::llround(double(info->SampleNumber) * 1e6 / 44100));
      const int n = int(std::min<int64_t>(frames, total - info->SampleNumber));
      for (int i = 0; i < n; ++i) samples[2 * i] = samples[2 * i + 1] = sine(info->SampleNumber + i);
      return n;
    };
  };
  {
    TSampleInputAdapter sound;
    feed(sound);
    const TTerminateInfo done = Convert(sound.InputName(), "-f sampleinput", "-c:a pcm_s16le", Out("sine.wav"));
    EXPECT_TRUE(done.Finished) << done.ErrorMessage;
    const std::string pcm = RunCommand("ffmpeg -v error -i '" + Out("sine.wav") + "' -f s16le -");
    ASSERT_EQ(pcm.size(), size_t(total) * 4);
    int wrong = 0;
    for (int i = 0; i < total; ++i) {
      int16_t left;
      std::memcpy(&left, pcm.data() + size_t(i) * 4, 2);
      wrong += left != sine(i);
    }
    EXPECT_EQ(wrong, 0);
  }
  {
    // Pictures and sound of one second into one file, read in step.
    Terminates.clear();
    Encoder.ClearTasks();
    TSampleInputAdapter sound;
    feed(sound);
    TFrameInputAdapter pictures;
    pictures.TriggerEventInMainThread = false;
    pictures.OnReadFrameCanvas = [](TFrameInputAdapter*, TFrameImage*, TInputFrameInfo* info) {
      return info->FrameNumber > 25 ? -1 : 0;
    };
    TInputOptions video, audio;
    video.Options = "-f frameinput -input_type canvas -pix_fmt bgr24 -r 25 -s 160x120";
    audio.Options = "-f sampleinput -ar 44100 -ac 2";
    ASSERT_EQ(Encoder.AddTask(pictures.InputName(), &video), 0) << Encoder.LastErrorMessage();
    ASSERT_EQ(Encoder.AddInput(0, sound.InputName(), &audio), 1) << Encoder.LastErrorMessage();
    TOutputOptions out;
    out.Options = "-c:v mpeg4 -c:a aac";
    ASSERT_GE(Encoder.SetOutput(0, Out("both.mp4"), &out), 0) << Encoder.LastErrorMessage();
    Encoder.StartTask(0);
    ASSERT_FALSE(Terminates.empty());
    EXPECT_TRUE(Terminates[0].Finished) << Terminates[0].ErrorMessage;
    const TProbe probe = Probe(Out("both.mp4"));
    ASSERT_EQ(probe.Count("video"), 1);
    ASSERT_EQ(probe.Count("audio"), 1);
    const std::string pcm = RunCommand("ffmpeg -v error -i '" + Out("both.mp4") + "' -map 0:a -f s16le -ac 2 -");
    // AAC codes whole frames of 1024 samples; its priming is cut by the file's edit list.
    EXPECT_GE(pcm.size() / 4, size_t(total));
    EXPECT_LT(pcm.size() / 4, size_t(total) + 1024);
    const std::string frames = RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                                          "stream=nb_read_frames -of default=nw=1:nk=1 '" + Out("both.mp4") + "'");
    EXPECT_EQ(frames, "25\n");
  }
}

}  // namespace
}  // namespace qm::engine
