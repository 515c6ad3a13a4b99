// Media information: what a file holds (sizes, stream counts, first stream of each kind, times,
// common tags), read by opening it with FFmpeg.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;

namespace qm::engine {

struct TFileStreamInfo {
  int64_t StartTime = 0;
  int64_t Duration = -1;
  int BitRate = -1;
  int64_t Timestamp = -1;
  int Year = -1;
  int Track = -1;
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

class TFFDecoder {
 public:
  TFFDecoder() = default;
  ~TFFDecoder();
  TFFDecoder(const TFFDecoder&) = delete;
  TFFDecoder& operator=(const TFFDecoder&) = delete;

  // False with LastErrorMessage for any problem of the file; raises only for missing libraries.
  bool LoadFile(const std::string& fileName, const char* formatName = nullptr);
  void CloseFile();
  // Uses an input a task opened, without owning it.
  void Attach(AVFormatContext* context);
  bool GetFileStreamInfo(TFileStreamInfo& info);

  int64_t FileSize = -1;
  int StreamCount = -1;
  int ProgramCount = -1;
  int AudioStreamCount = -1, VideoStreamCount = -1, SubtitleStreamCount = -1;
  int FirstAudioStreamIndex = -1, FirstVideoStreamIndex = -1, FirstSubtitleStreamIndex = -1;
  std::string LastErrorMessage;
  std::string FormatName;
  int ReadTimeout = 30000;

  int64_t OpenStart() const { return FOpenStart; }

 private:
  void Refresh();
  AVFormatContext* FContext = nullptr;
  bool FOwned = false;
  std::string FFileName;
  int64_t FOpenStart = 0;
};

}  // namespace qm::engine
