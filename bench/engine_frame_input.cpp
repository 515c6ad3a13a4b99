// The capture's road without its pacing: pictures painted into the frame input's canvas
// (640x480 bgr24) as fast as the engine takes them, into MPEG-4 at 20000 kbit/s; prints the
// pictures per second, and the same with the 4:2:0 pictures the offline conversion hands in.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/engine.h"

using namespace qm::engine;

namespace {

constexpr int Frames = 250;

double Run(const std::string& folder, const char* type, const char* format) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  auto paint = [](uint8_t* data, size_t size, int frame) { std::memset(data, frame & 0xFF, size); };
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter*, TFrameImage* image, TInputFrameInfo* info) {
    if (info->FrameNumber > Frames) return -1;
    paint(image->Bits, size_t(image->Stride) * size_t(image->Height), info->FrameNumber);
    return 0;
  };
  adapter.OnReadFrameYUV = [&](TFrameInputAdapter*, void* data, TInputFrameInfo* info) {
    if (info->FrameNumber > Frames) return -1;
    paint(static_cast<uint8_t*>(data), size_t(info->FrameSize), info->FrameNumber);
    return 0;
  };
  TFFEncoder encoder;
  encoder.TriggerEventInMainThread = false;
  TInputOptions in;
  in.Options = std::string("-f frameinput -input_type ") + type + " -pix_fmt " + format + " -r 25 -s 640x480";
  if (encoder.AddTask(adapter.InputName(), &in) < 0) {
    std::printf("input refused: %s\n", encoder.LastErrorMessage().c_str());
    return 0;
  }
  TOutputOptions out;
  out.Options = "-c:v mpeg4 -b:v 20000k";
  if (encoder.SetOutput(0, folder + "/capture.mp4", &out) < 0) return 0;
  const auto start = std::chrono::steady_clock::now();
  encoder.StartTask(0);
  return Frames / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qm-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 0;
  if (!FFLoader().LoadLibs(AllLibraries)) {
    std::printf("libraries not loaded: %s\n", FFLoader().LastError().c_str());
    return 0;
  }
  TFFLogger logger;
  logger.SetLogLevel(llError);
  logger.SetOnLog([](void*, std::uint32_t, TLogLevel, const std::string&) {});
  double canvas = 0, yuv = 0;
  for (int round = 0; round < 3; ++round) {
    canvas = std::max(canvas, Run(pattern, "canvas", "bgr24"));
    yuv = std::max(yuv, Run(pattern, "yuv", "yuv420p"));
  }
  std::printf("frame input 640x480 into mpeg4 20000k: canvas bgr24 %.0f pictures/s, yuv420p %.0f pictures/s "
              "(a 25 fps capture needs 25)\n", canvas, yuv);
  std::filesystem::remove_all(pattern);
  return 0;
}
