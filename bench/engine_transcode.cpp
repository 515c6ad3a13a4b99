// Times one transcode with the engine and with the ffmpeg program on the same generated input
// (640x480, 25 fps, 10 s, stereo tone) to MPEG-4 video with AAC audio in MP4, and prints the ratio.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/engine.h"

using namespace qm::engine;

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qm-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 0;
  const std::string folder = pattern;
  const std::string input = folder + "/input.mkv";
  const std::string options = "-c:v mpeg4 -b:v 1000k -c:a aac -b:a 128k -threads 1";
  std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=640x480:rate=25:duration=10 -f lavfi -i "
               "sine=sample_rate=44100:duration=10 -ac 2 -c:v mpeg4 -q:v 3 -c:a pcm_s16le '" + input + "'").c_str());
  if (!FFLoader().LoadLibs(AllLibraries)) {
    std::printf("libraries not loaded: %s\n", FFLoader().LastError().c_str());
    return 0;
  }
  TFFLogger logger;
  logger.SetLogLevel(llError);
  logger.SetOnLog([](void*, std::uint32_t, TLogLevel, const std::string&) {});

  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 3; ++round) {
    auto start = std::chrono::steady_clock::now();
    {
      TCustomFFmpeg task;
      if (task.OpenInput(input) < 0) return 0;
      TOptionParser(task.Options()).ParseOptions(options.c_str());
      if (task.OpenOutput(folder + "/engine.mp4") < 0) return 0;
      task.Run();
    }
    best[0] = std::min(best[0], Seconds(start));
    start = std::chrono::steady_clock::now();
    std::system(("ffmpeg -v error -y -i '" + input + "' " + options + " '" + folder + "/tool.mp4'").c_str());
    best[1] = std::min(best[1], Seconds(start));
  }
  std::printf("engine %.3f s, ffmpeg program %.3f s, ratio %.2f\n", best[0], best[1], best[0] / best[1]);
  std::filesystem::remove_all(folder);
  return 0;
}
