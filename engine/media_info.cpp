#include "engine/media_info.h"

#include <sys/stat.h>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/logger.h"

namespace qm::engine {

namespace {

int Interrupt(void* opaque) {
  auto* decoder = static_cast<TFFDecoder*>(opaque);
  if (decoder->ReadTimeout <= 0) return 0;
  if (decoder->OpenStart() == 0) {
    Log(decoder, llInfo, "connecting/reading canceled");
    return 1;
  }
  if ((FF.av_gettime_relative() - decoder->OpenStart()) / 1000 > decoder->ReadTimeout) {
    Log(decoder, llInfo, "connecting/reading timeout");
    return 1;
  }
  return 0;
}

int TagNumber(AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* e = FF.av_dict_get(metadata, key, nullptr, 0);
  if (!e) return 0;
  char* end = nullptr;
  const long value = strtol(e->value, &end, 10);
  return end && *end == 0 && end != e->value ? int(value) : 0;
}

std::string Tag(AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* e = FF.av_dict_get(metadata, key, nullptr, 0);
  return e ? e->value : "";
}

}  // namespace

TFFDecoder::~TFFDecoder() { CloseFile(); }

bool TFFDecoder::LoadFile(const std::string& fileName, const char* formatName) {
  FFLoader().CheckLibsLoaded(InfoLibraries);
  CloseFile();
  const AVInputFormat* format = nullptr;
  if (formatName && *formatName) {
    format = FF.av_find_input_format(formatName);
    if (!format) {
      LastErrorMessage = FormatText("Unknown input format: %s", formatName);
      Log(this, llError, LastErrorMessage);
      return false;
    }
  }
  AVFormatContext* ic = FF.avformat_alloc_context();
  if (!ic) {
    LastErrorMessage = "avformat_alloc_context() failed";
    return false;
  }
  ic->interrupt_callback.callback = Interrupt;
  ic->interrupt_callback.opaque = this;
  FOpenStart = FF.av_gettime_relative();
  int r = FF.avformat_open_input(&ic, fileName.c_str(), format, nullptr);
  if (r < 0) {
    LastErrorMessage = ErrorText(fileName, r);
    return false;
  }
  FOpenStart = FF.av_gettime_relative();
  r = FF.avformat_find_stream_info(ic, nullptr);
  if (r < 0) {
    FF.avformat_close_input(&ic);
    LastErrorMessage = FormatText("%s: could not find codec parameters", fileName.c_str());
    return false;
  }
  if (ic->pb) {
    ic->pb->eof_reached = 0;
    ic->pb->error = 0;
  }
  FContext = ic;
  FOwned = true;
  FFileName = fileName;
  FormatName = formatName ? formatName : "";
  Refresh();
  return true;
}

void TFFDecoder::Attach(AVFormatContext* context) {
  CloseFile();
  FContext = context;
  FOwned = false;
  FFileName = context && context->url ? context->url : "";
  Refresh();
}

void TFFDecoder::CloseFile() {
  if (FContext && FOwned) FF.avformat_close_input(&FContext);
  FContext = nullptr;
  FOwned = false;
  Refresh();
}

void TFFDecoder::Refresh() {
  FileSize = -1;
  StreamCount = ProgramCount = -1;
  AudioStreamCount = VideoStreamCount = SubtitleStreamCount = -1;
  FirstAudioStreamIndex = FirstVideoStreamIndex = FirstSubtitleStreamIndex = -1;
  if (!FContext) return;
  FileSize = FContext->pb ? FF.avio_size(FContext->pb) : -1;
  if (FileSize <= 0) {
    struct stat st {};
    if (!FFileName.empty() && stat(FFileName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) FileSize = st.st_size;
  }
  StreamCount = int(FContext->nb_streams);
  ProgramCount = int(FContext->nb_programs);
  AudioStreamCount = VideoStreamCount = SubtitleStreamCount = 0;
  for (int i = 0; i < StreamCount; ++i) {
    switch (FContext->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_AUDIO:
        if (AudioStreamCount++ == 0) FirstAudioStreamIndex = i;
        break;
      case AVMEDIA_TYPE_VIDEO:
        if (VideoStreamCount++ == 0) FirstVideoStreamIndex = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (SubtitleStreamCount++ == 0) FirstSubtitleStreamIndex = i;
        break;
      default:
        break;
    }
  }
}

bool TFFDecoder::GetFileStreamInfo(TFileStreamInfo& info) {
  if (!FContext) {
    info = TFileStreamInfo();
    info.StartTime = AV_NOPTS_VALUE;
    LastErrorMessage = "file not loaded.";
    Log(this, llWarning, LastErrorMessage);
    return false;
  }
  info.StartTime = FContext->start_time;
  info.Duration = FContext->duration == AV_NOPTS_VALUE ? -1 : FContext->duration;
  info.BitRate = int(FContext->bit_rate);
  info.Timestamp = FContext->start_time_realtime == AV_NOPTS_VALUE ? 0 : FContext->start_time_realtime;
  AVDictionary* m = FContext->metadata;
  info.Year = TagNumber(m, "year");
  info.Track = TagNumber(m, "track");
  info.Title = Tag(m, "title");
  info.Author = Tag(m, "author");
  info.Copyright = Tag(m, "copyright");
  info.Comment = Tag(m, "comment");
  info.Album = Tag(m, "album");
  info.Genre = Tag(m, "genre");
  return true;
}

}  // namespace qm::engine
