// Shared by the engine tests that check files: running the ffmpeg and ffprobe programs.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qm::engine::testing {

inline std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

struct TProbe {
  std::vector<std::map<std::string, std::string>> Streams;
  double Duration = 0;
  int Count(const std::string& type) const {
    int n = 0;
    for (const auto& s : Streams) n += s.at("codec_type") == type;
    return n;
  }
  const std::map<std::string, std::string>* First(const std::string& type) const {
    for (const auto& s : Streams)
      if (s.at("codec_type") == type) return &s;
    return nullptr;
  }
};

inline TProbe Probe(const std::string& file) {
  TProbe probe;
  std::istringstream lines(RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,"
                                      "sample_rate,channels:format=duration -of flat '" + file + "' 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (key == "format.duration") {
      probe.Duration = atof(value.c_str());
    } else if (key.rfind("streams.stream.", 0) == 0) {
      const size_t dot = key.find('.', 15);
      const size_t index = size_t(atoi(key.substr(15, dot - 15).c_str()));
      if (probe.Streams.size() <= index) probe.Streams.resize(index + 1);
      probe.Streams[index][key.substr(dot + 1)] = value;
    }
  }
  return probe;
}

}  // namespace qm::engine::testing
