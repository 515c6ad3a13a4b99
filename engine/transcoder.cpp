#include "engine/transcoder.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/logger.h"
#include "engine/option_parser.h"

namespace qm::engine {

namespace {

std::mutex& OwnInputLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, const AVInputFormat*>& OwnInputs() {
  static std::map<std::string, const AVInputFormat*> inputs;
  return inputs;
}

char TypeLetter(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return 'v';
    case AVMEDIA_TYPE_AUDIO: return 'a';
    case AVMEDIA_TYPE_SUBTITLE: return 's';
    case AVMEDIA_TYPE_DATA: return 'd';
    case AVMEDIA_TYPE_ATTACHMENT: return 't';
    default: return 0;
  }
}

// "c0,c1,...,c63": a quantiser matrix for the encoder, which frees it.
uint16_t* ParseMatrix(const std::string& text, std::string& error) {
  auto* matrix = static_cast<uint16_t*>(FF.av_mallocz(64 * sizeof(uint16_t)));
  const char* p = text.c_str();
  for (int i = 0; i < 64; ++i) {
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p || v <= 0 || v > 65535 || (i < 63 && *end != ',')) {
      error = FormatText("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i);
      FF.av_free(matrix);
      return nullptr;
    }
    matrix[i] = uint16_t(v);
    p = end + 1;
  }
  return matrix;
}

// "start,end,q/start,end,q...": frame ranges coded at a quantiser (q > 0) or at -q percent of the
// rate control's quality.
std::string ParseRcOverride(const std::string& text, AVCodecContext* enc) {
  std::vector<RcOverride> items;
  for (const char* p = text.c_str(); p;) {
    int start, end, q;
    if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) return "error parsing rc_override";
    RcOverride r{};
    r.start_frame = start;
    r.end_frame = end;
    if (q > 0) {
      r.qscale = q;
      r.quality_factor = 1.0f;
    } else {
      r.qscale = 0;
      r.quality_factor = -float(q) / 100.0f;
    }
    items.push_back(r);
    p = std::strchr(p, '/');
    if (p) ++p;
  }
  enc->rc_override = static_cast<RcOverride*>(FF.av_malloc(items.size() * sizeof(RcOverride)));
  if (!enc->rc_override) return "error parsing rc_override";
  std::memcpy(enc->rc_override, items.data(), items.size() * sizeof(RcOverride));
  enc->rc_override_count = int(items.size());
  return std::string();
}

AVDictionary* ToDictionary(const TOptionDictionary& options) {
  AVDictionary* dict = nullptr;
  for (const auto& [name, value] : options.Entries) FF.av_dict_set(&dict, name.c_str(), value.c_str(), 0);
  return dict;
}

// The first entry FFmpeg left unused, as the "not found" error names it.
void RaiseUnused(AVDictionary* dict) {
  const AVDictionaryEntry* e = FF.av_dict_get(dict, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (e) {
    std::string name = e->key;
    FF.av_dict_free(&dict);
    RaiseFFmpeg(FormatText("Option %s not found.", name.c_str()));
  }
}

struct TWatch {
  std::atomic<int64_t> Start{0};
};

}  // namespace

struct TInputFile {
  AVFormatContext* Context = nullptr;
  int FirstStream = 0;
  bool Eof = false;
  int64_t TsOffset = 0;  // microseconds
  bool RateEmulation = false;
  int64_t LastTime = INT64_MIN;  // microseconds of the last packet read
  int64_t JoinEndTime = INT64_MAX;
  int64_t StartWall = 0;
};

struct TInputStream {
  int File = 0;
  AVStream* Stream = nullptr;
  AVCodecContext* Decoder = nullptr;
  bool Used = false;
  bool Decode = false;
  int64_t FrameNumber = 0;
  double TsScale = 1;
};

struct TOutputStream {
  int File = 0;
  int Index = 0;
  int Source = -1;  // input stream
  std::vector<int> PartSources;  // the source in each joined input
  AVStream* Stream = nullptr;
  AVCodecContext* Encoder = nullptr;
  bool Copy = false;
  int64_t MaxFrames = INT64_MAX;
  int64_t FrameCount = 0;
  int64_t NextPts = AV_NOPTS_VALUE;  // encoder time base
  bool Finished = false;
  std::vector<AVBSFContext*> Filters;  // bitstream filters
  FILE* PassLog = nullptr;  // first pass: the encoder's statistics are written here
  char* PassStats = nullptr;  // second pass: what the first one wrote, owned here
  // video
  AVFilterGraph* Graph = nullptr;
  AVFilterContext* Source_ = nullptr;
  AVFilterContext* Sink = nullptr;
  int GraphWidth = 0, GraphHeight = 0;  // what the graph's source takes
  int ChainWidth = 0, ChainHeight = 0;  // what the filter chain takes
  int GraphFormat = -1;
  std::string VideoFilter;
  AVRational FrameRate{25, 1};
  int Width = 0, Height = 0;
  AVPixelFormat PixFmt = AV_PIX_FMT_NONE;
  std::string Aspect;
  std::vector<int64_t> ForcedKeyFrames;  // microseconds, ascending
  size_t NextForcedKeyFrame = 0;
  // audio
  SwrContext* Resampler = nullptr;
  std::vector<int> ChannelMap;  // map_channel: the input channel of each output channel, -1 silent
  float RematrixVolume = 1;  // rmvol
  int TopFieldFirst = -1;    // top
  bool CopyInitialNonKeyframes = false;  // copyinkf
  // What the encoder said of its last coded picture, and the sums of its errors for the PSNR.
  float Quality = -1;
  char PictureType = '?';
  uint64_t LastError[3] = {};
  uint64_t TotalError[3] = {};
  int64_t CodedFrames = 0;
  int SwrRate = 0, SwrFormat = -1;
  AVChannelLayout SwrLayout{};
  AVAudioFifo* Fifo = nullptr;
  int64_t AudioStart = AV_NOPTS_VALUE;  // encoder time base
  int64_t SamplesIn = 0;
  int64_t LastEndTime = 0;  // microseconds
};

// The per-stream and task-wide video options that go straight to the encoder. Empty, or the text
// of what could not be read.
std::string ApplyVideoCodecOptions(TOutputStream& o, const TTaskOptions& task, const TStreamList& descriptors,
                                   int idx) {
  const TFileOptionGroup& g = task.Group;
  AVCodecContext* enc = o.Encoder;
  std::string error;
  if (const std::string* v = FindForStream(g.IntraMatrices, descriptors, idx))
    if (!(enc->intra_matrix = ParseMatrix(*v, error))) return error;
  if (const std::string* v = FindForStream(g.InterMatrices, descriptors, idx))
    if (!(enc->inter_matrix = ParseMatrix(*v, error))) return error;
  if (const std::string* v = FindForStream(g.RcOverrides, descriptors, idx)) {
    error = ParseRcOverride(*v, enc);
    if (!error.empty()) return error;
  }
  if (const int* v = FindForStream(g.TopFieldFirst, descriptors, idx)) o.TopFieldFirst = *v;
  if (task.Intra) enc->gop_size = 0;
  enc->intra_dc_precision = task.IntraDcPrecision - 8;
  if (task.FrameBitsPerRawSample) enc->bits_per_raw_sample = task.FrameBitsPerRawSample;
  return error;
}

struct TOutputFile {
  AVFormatContext* Context = nullptr;
  int64_t RecordingTime = INT64_MAX;
  int64_t StartTime = 0;
  int64_t LimitFilesize = INT64_MAX;
  bool HeaderWritten = false;
  TStreamList Descriptors;
  TOptionDictionary FormatOptions;
};

struct TCustomFFmpeg::TState {
  TCustomFFmpeg* Owner = nullptr;
  std::vector<TInputFile> InputFiles;
  std::vector<TInputStream> InputStreams;
  std::vector<TOutputFile> OutputFiles;
  std::vector<TOutputStream> OutputStreams;
  TStreamList OutputDescriptors;
  TWatch ReadWatch, WriteWatch;
  int64_t LongestInput = 0;
  int64_t VideoSize = 0, AudioSize = 0, HeaderSize = 0;
  int DupFrames = 0, DropFrames = 0;
  int64_t StartWall = 0, LastReport = 0, LastPreview = 0;
  int QpHistogram[52] = {};
  int LoggedDup = 0, LoggedDrop = 0;
  FILE* VStats = nullptr;
  int VideoSync = -1;
  bool Joining = false;
  int CurrentPart = 0;
  std::atomic<bool> Draining{false};
  AVFrame* Frame = nullptr;
  AVFrame* Filtered = nullptr;
  AVPacket* Packet = nullptr;
};

namespace {

int CheckInterrupt(TCustomFFmpeg* owner, TWatch& watch, int timeout, const char* what, bool draining) {
  // Once the loop has ended, flushing and the trailer must complete or the file is unplayable.
  if (owner->StopRequested() && !draining) {
    Log(owner, llInfo, FormatText("%s broken", what));
    return 1;
  }
  if (timeout > 0) {
    const int64_t start = watch.Start.load();
    if (start == 0) {
      Log(owner, llInfo, FormatText("connecting/%s canceled", what + 0));
      return 1;
    }
    if ((FF.av_gettime_relative() - start) / 1000 > timeout) {
      Log(owner, llInfo, FormatText("connecting/%s timeout", what));
      return 1;
    }
  }
  return 0;
}

struct TInterruptBox {
  TCustomFFmpeg* Owner;
  TCustomFFmpeg::TState* State;
  bool Write;
};

}  // namespace

static int ReadInterrupt(void* opaque);
static int WriteInterrupt(void* opaque);

// Thin accessors used by the interrupt callbacks.
struct TInterruptAccess {
  static int Read(TCustomFFmpeg* o, TCustomFFmpeg::TState* s) {
    return CheckInterrupt(o, s->ReadWatch, o->ReadTimeout, "reading", s->Draining);
  }
  static int Write(TCustomFFmpeg* o, TCustomFFmpeg::TState* s) {
    return CheckInterrupt(o, s->WriteWatch, o->WriteTimeout, "writing", s->Draining);
  }
};

static int ReadInterrupt(void* opaque) {
  auto* s = static_cast<TCustomFFmpeg::TState*>(opaque);
  return TInterruptAccess::Read(s->Owner, s);
}
static int WriteInterrupt(void* opaque) {
  auto* s = static_cast<TCustomFFmpeg::TState*>(opaque);
  return TInterruptAccess::Write(s->Owner, s);
}

void TCustomFFmpeg::RegisterOwnInput(const AVInputFormat* format) {
  std::lock_guard<std::mutex> guard(OwnInputLock());
  OwnInputs().emplace(format->name, format);
}

const AVInputFormat* TCustomFFmpeg::FindOwnInput(const std::string& name) {
  std::lock_guard<std::mutex> guard(OwnInputLock());
  auto it = OwnInputs().find(name);
  return it == OwnInputs().end() ? nullptr : it->second;
}

void TCustomFFmpeg::RequestStop() {
  std::lock_guard<std::mutex> guard(FPauseLock);
  FStopRequested = true;
  FPauseChanged.notify_all();
}

void TCustomFFmpeg::SetPaused(bool paused) {
  std::lock_guard<std::mutex> guard(FPauseLock);
  FPaused = paused;
  FPauseChanged.notify_all();
}

void TCustomFFmpeg::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(FPauseLock);
  FPauseChanged.wait(lock, [this] { return !FPaused || FStopRequested; });
}

void TCustomFFmpeg::SetJoinEndTime(int input, int64_t time) {
  if (input >= 0 && input < int(S->InputFiles.size())) S->InputFiles[size_t(input)].JoinEndTime = time;
}

int TCustomFFmpeg::InputCount() const { return int(S->InputFiles.size()); }
bool TCustomFFmpeg::HasOutput() const { return !S->OutputFiles.empty(); }
AVFormatContext* TCustomFFmpeg::InputContext(int index) const {
  return index >= 0 && index < int(S->InputFiles.size()) ? S->InputFiles[size_t(index)].Context : nullptr;
}

TCustomFFmpeg::TCustomFFmpeg() : S(std::make_unique<TState>()) { S->Owner = this; }
TCustomFFmpeg::~TCustomFFmpeg() { Release(); }

int TCustomFFmpeg::Fail(int code, const std::string& text) {
  FLastError = text;
  Log(this, llFatal, text);
  return code;
}

int TCustomFFmpeg::OpenInput(const std::string& fileName) {
  TFileOptionGroup& g = FOptions.Group;
  AVFormatContext* ic = nullptr;
  const AVInputFormat* own = g.Format.empty() ? nullptr : FindOwnInput(g.Format);
  {
    const AVInputFormat* format = own;
    if (!g.Format.empty() && !own) {
      format = FF.av_find_input_format(g.Format.c_str());
      if (!format) return Fail(AVERROR(EINVAL), FormatText("Unknown input format: \"%s\"", g.Format.c_str()));
    }
    ic = FF.avformat_alloc_context();
    if (!ic) return Fail(AVERROR(ENOMEM), "avformat_alloc_context() failed");
    ic->interrupt_callback.callback = ReadInterrupt;
    ic->interrupt_callback.opaque = S.get();
    AVDictionary* dict = ToDictionary(FOptions.FormatOptions);
    TStreamList none;
    auto last = [](const auto& values) { return values.empty() ? nullptr : &values.back().Value; };
    if (auto* v = last(g.AudioSampleRates)) FF.av_dict_set_int(&dict, "sample_rate", *v, 0);
    if (auto* v = last(g.AudioChannels)) FF.av_dict_set_int(&dict, "channels", *v, 0);
    if (auto* v = last(g.FrameRates)) FF.av_dict_set(&dict, "framerate", v->c_str(), 0);
    if (auto* v = last(g.FrameSizes)) FF.av_dict_set(&dict, "video_size", v->c_str(), 0);
    if (auto* v = last(g.FramePixFmts)) FF.av_dict_set(&dict, "pixel_format", v->c_str(), 0);
    if (FOptions.LoopInput) {
      Log(this, llWarning, "-loop_input is deprecated, use -loop 1\r\nNote, both loop options only work with -f image2");
      FF.av_dict_set(&dict, "loop", "1", 0);
    }
    S->ReadWatch.Start = FF.av_gettime_relative();
    const int r = FF.avformat_open_input(&ic, fileName.c_str(), format, &dict);
    if (r < 0) {
      FF.av_dict_free(&dict);
      return Fail(r, ErrorText(fileName, r));
    }
    // Demuxer private options are consumed by name; what is left was not understood.
    for (const char* own : {"sample_rate", "channels", "framerate", "video_size", "pixel_format", "loop"})
      FF.av_dict_set(&dict, own, nullptr, 0);
    // Names that are also codec options serve the decoders.
    for (const auto& entry : FOptions.CodecOptions.Entries) FF.av_dict_set(&dict, entry.first.c_str(), nullptr, 0);
    FOptions.FormatOptions.Clear();
    try {
      RaiseUnused(dict);
    } catch (...) {
      FF.avformat_close_input(&ic);
      throw;
    }
    FF.av_dict_free(&dict);
    if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(ic);
    S->ReadWatch.Start = FF.av_gettime_relative();
    const int f = own ? 0 : FF.avformat_find_stream_info(ic, nullptr);
    if (f < 0) {
      FF.avformat_close_input(&ic);
      return Fail(f, FormatText("%s: could not find codec parameters", fileName.c_str()));
    }
  }
  TInputFile file;
  file.Context = ic;
  file.FirstStream = int(S->InputStreams.size());
  file.RateEmulation = g.RateEmulation;
  file.TsOffset = g.InputTsOffset - (ic->start_time == AV_NOPTS_VALUE || FOptions.CopyTs ? 0 : ic->start_time);
  if (g.StartTime != INT64_MIN) {
    int64_t ts = g.StartTime + (ic->start_time == AV_NOPTS_VALUE ? 0 : ic->start_time);
    if (FF.avformat_seek_file(ic, -1, INT64_MIN, ts, ts, 0) < 0)
      Log(this, llWarning, FormatText("%s: could not seek to position %0.3f", fileName.c_str(), double(ts) / AV_TIME_BASE));
    file.TsOffset -= g.StartTime;
  }
  TStreamList streams = DescribeStreams(ic);

  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    TInputStream s;
    s.File = int(S->InputFiles.size());
    s.Stream = ic->streams[i];
    if (const double* scale = FindForStream(g.TsScale, streams, int(i))) s.TsScale = *scale;
    S->InputStreams.push_back(s);
  }
  if (ic->duration > 0) {
    int64_t d = ic->duration - (g.StartTime == INT64_MIN ? 0 : g.StartTime);
    S->LongestInput = std::max(S->LongestInput, d);
  }
  S->InputFiles.push_back(file);
  FOptions.Inputs.push_back(streams);
  // Kept by the task now, so a failure below still closes it.
  const auto dumps = g.DumpAttachment;
  FOptions.ResetGroup();
  for (const auto& d : dumps)
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT && CheckStreamSpecifier(streams, int(i), d.Specifier) > 0)
        DumpAttachment(ic, int(i), d.Value);
  return 0;
}

namespace {

// "g", "s[:stream specifier]", "c:chapter", "p:program"; false for anything else.
bool ParseMetadataSpecifier(const std::string& spec, char& type, std::string& rest) {
  type = spec.empty() ? 'g' : spec[0];
  rest.clear();
  if (type != 'g' && type != 's' && type != 'c' && type != 'p') return false;
  if (spec.size() > 1) {
    if (spec[1] != ':') return false;
    rest = spec.substr(2);
  }
  return true;
}

}  // namespace

// What the inputs say of themselves goes with the output, as the tool does it: the first input's
// global metadata, each stream's own, and the chapters of the first input that has some, unless
// -map_metadata and -map_chapters say otherwise. Empty, or the text of a bad map.
std::string TCustomFFmpeg::CopyMetadataAndChapters(AVFormatContext* oc, const TFileOptionGroup& g,
                                                   const TStreamList& descriptors, const std::vector<int>& sources) {
  bool globalManual = false, streamsManual = false, chaptersManual = false;
  // A map names what it takes from and what it gives to; neither is then copied by default.
  for (const auto& m : g.MetadataMaps) {
    const size_t colon = m.Value.find(':');
    const std::string inSpec = colon == std::string::npos ? "" : m.Value.substr(colon + 1);
    char out, in;
    std::string rest;
    if (!ParseMetadataSpecifier(m.Specifier, out, rest)) return FormatText("Invalid metadata specifier %s.", m.Specifier.c_str());
    if (!ParseMetadataSpecifier(inSpec, in, rest)) return FormatText("Invalid metadata specifier %s.", inSpec.c_str());
    for (char type : {out, in}) {
      globalManual |= type == 'g';
      streamsManual |= type == 's';
      chaptersManual |= type == 'c';
    }
  }
  int chapterFile = g.ChaptersInputFile;
  if (chapterFile == INT_MAX) {
    chapterFile = -1;
    for (size_t i = 0; i < S->InputFiles.size() && chapterFile < 0; ++i)
      if (S->InputFiles[i].Context->nb_chapters > 0) chapterFile = int(i);
  } else if (chapterFile >= int(S->InputFiles.size())) {
    return FormatText("Invalid input file index %d while processing metadata maps", chapterFile);
  }
  if (chapterFile >= 0) {
    const TInputFile& in = S->InputFiles[size_t(chapterFile)];
    const int64_t limit = g.RecordingTime;
    for (unsigned i = 0; i < in.Context->nb_chapters; ++i) {
      const AVChapter* from = in.Context->chapters[i];
      const int64_t start = FF.av_rescale_q(from->start, from->time_base, AVRational{1, AV_TIME_BASE}) + in.TsOffset;
      const int64_t end = FF.av_rescale_q(from->end, from->time_base, AVRational{1, AV_TIME_BASE}) + in.TsOffset;
      if (end < 0) continue;
      if (limit != INT64_MAX && start >= limit) break;
      auto* to = static_cast<AVChapter*>(FF.av_mallocz(sizeof(AVChapter)));
      auto** list = static_cast<AVChapter**>(FF.av_realloc_array(oc->chapters, oc->nb_chapters + 1, sizeof(AVChapter*)));
      if (!to || !list) {
        FF.av_free(to);
        return ErrorText("Could not copy the chapters", AVERROR(ENOMEM));
      }
      oc->chapters = list;
      to->id = from->id;
      to->time_base = AVRational{1, AV_TIME_BASE};
      to->start = std::max<int64_t>(0, start);
      to->end = limit != INT64_MAX ? std::min(limit, end) : end;
      if (!chaptersManual) FF.av_dict_copy(&to->metadata, from->metadata, 0);
      oc->chapters[oc->nb_chapters++] = to;
    }
  }
  for (const auto& m : g.MetadataMaps) {
    const size_t colon = m.Value.find(':');
    const int file = atoi(m.Value.substr(0, colon).c_str());
    const std::string inSpec = colon == std::string::npos ? "" : m.Value.substr(colon + 1);
    char outType, inType;
    std::string outRest, inRest;
    ParseMetadataSpecifier(m.Specifier, outType, outRest);
    if (!ParseMetadataSpecifier(inSpec, inType, inRest)) return FormatText("Invalid metadata specifier %s.", inSpec.c_str());
    if (file < 0) continue;  // nothing from the inputs
    if (file >= int(S->InputFiles.size()))
      return FormatText("Invalid input file index %d while processing metadata maps", file);
    AVFormatContext* ic = S->InputFiles[size_t(file)].Context;
    const AVDictionary* from = ic->metadata;
    if (inType == 's') {
      from = nullptr;
      for (unsigned i = 0; i < ic->nb_streams && !from; ++i)
        if (inRest.empty() || CheckStreamSpecifier(FOptions.Inputs[size_t(file)], int(i), inRest) > 0) from = ic->streams[i]->metadata;
      if (!from && ic->nb_streams == 0) return FormatText("Invalid %s index %d while processing metadata maps.", "stream", 0);
    } else if (inType == 'c' || inType == 'p') {
      const int index = atoi(inRest.c_str());
      const unsigned count = inType == 'c' ? ic->nb_chapters : ic->nb_programs;
      if (index < 0 || unsigned(index) >= count)
        return FormatText("Invalid %s index %d while processing metadata maps.", inType == 'c' ? "chapter" : "program", index);
      from = inType == 'c' ? ic->chapters[index]->metadata : ic->programs[index]->metadata;
    }
    if (outType == 'g') {
      FF.av_dict_copy(&oc->metadata, from, AV_DICT_DONT_OVERWRITE);
    } else if (outType == 's') {
      for (int i = 0; i < int(descriptors.size()); ++i)
        if (outRest.empty() || CheckStreamSpecifier(descriptors, i, outRest) > 0)
          FF.av_dict_copy(&oc->streams[i]->metadata, from, AV_DICT_DONT_OVERWRITE);
    } else {
      const int index = atoi(outRest.c_str());
      if (outType == 'p' || index < 0 || unsigned(index) >= oc->nb_chapters)
        return FormatText("Invalid %s index %d while processing metadata maps.", outType == 'c' ? "chapter" : "program", index);
      FF.av_dict_copy(&oc->chapters[index]->metadata, from, AV_DICT_DONT_OVERWRITE);
    }
  }
  if (!globalManual && !S->InputFiles.empty()) FF.av_dict_copy(&oc->metadata, S->InputFiles[0].Context->metadata, AV_DICT_DONT_OVERWRITE);
  if (!streamsManual)
    for (size_t i = 0; i < sources.size() && i < oc->nb_streams; ++i)
      FF.av_dict_copy(&oc->streams[i]->metadata, S->InputStreams[size_t(sources[i])].Stream->metadata, AV_DICT_DONT_OVERWRITE);
  return std::string();
}

// Writes an input's attached file out: to the name given, else to the name it was attached under.
void TCustomFFmpeg::DumpAttachment(AVFormatContext* ic, int index, const std::string& name) {
  const AVStream* st = ic->streams[index];
  const int file = int(S->InputFiles.size()) - 1;
  if (!st->codecpar->extradata_size) {
    Log(this, llWarning, FormatText("No extradata to dump in stream #%d:%d.", file, index));
    return;
  }
  std::string target = name;
  if (target.empty()) {
    const AVDictionaryEntry* e = FF.av_dict_get(st->metadata, "filename", nullptr, 0);
    if (!e) RaiseFFmpeg(FormatText("No filename specified and no \"filename\" tag in stream #%d:%d.", file, index));
    target = e->value;
  }
  if (!FOptions.Overwrite && std::ifstream(target).good()) {
    Log(this, llWarning, FormatText("File \"%s\" already exists. Ignore.", target.c_str()));
    return;
  }
  std::ofstream out(target, std::ios::binary);
  if (!out) RaiseFFmpeg(FormatText("Could not open file %s for writing.", target.c_str()));
  out.write(reinterpret_cast<const char*>(st->codecpar->extradata), st->codecpar->extradata_size);
}

// Files attached to the output as streams of their own, carried in the stream's extra data.
std::string TCustomFFmpeg::AddAttachments(AVFormatContext* oc, const TFileOptionGroup& g, TStreamList& descriptors) {
  for (const std::string& name : g.Attachments) {
    std::ifstream in(name, std::ios::binary | std::ios::ate);
    if (!in) return FormatText("Could not open attachment file %s.", name.c_str());
    const std::streamoff size = in.tellg();
    if (size <= 0) return FormatText("Could not get size of the attachment %s.", name.c_str());
    if (size > INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return FormatText("Attachment %s too large to fit into memory.", name.c_str());
    AVStream* st = FF.avformat_new_stream(oc, nullptr);
    auto* data = static_cast<uint8_t*>(FF.av_mallocz(size_t(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!st || !data) {
      FF.av_free(data);
      return FormatText("Attachment %s too large to fit into memory.", name.c_str());
    }
    st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    st->codecpar->extradata = data;
    st->codecpar->extradata_size = int(size);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(data), size);
    const size_t slash = name.find_last_of('/');
    FF.av_dict_set(&st->metadata, "filename", slash == std::string::npos ? name.c_str() : name.c_str() + slash + 1,
                   AV_DICT_DONT_OVERWRITE);
    TStreamDescriptor d;
    d.Index = int(descriptors.size());
    d.Type = 't';
    descriptors.push_back(d);
  }
  return std::string();
}

int TCustomFFmpeg::OpenOutput(const std::string& fileName, bool join) {
  TFileOptionGroup& g = FOptions.Group;
  AVFormatContext* oc = nullptr;
  int r = FF.avformat_alloc_output_context2(&oc, nullptr, g.Format.empty() ? nullptr : g.Format.c_str(),
                                           fileName.c_str());
  if (r < 0 || !oc) return Fail(r < 0 ? r : AVERROR(EINVAL), ErrorText(fileName, r < 0 ? r : AVERROR(EINVAL)));
  oc->interrupt_callback.callback = WriteInterrupt;
  oc->interrupt_callback.opaque = S.get();

  if (join && !S->OutputFiles.empty()) {
    FF.avformat_free_context(oc);
    return Fail(AVERROR(EINVAL), "Cannot join more than one output file.");
  }
  // Which input streams feed this output; in a joining task, those of one part.
  auto select = [&](int part) {
    std::vector<int> sources;
    if (!g.StreamMaps.empty()) {
      for (const TStreamMap& m : g.StreamMaps) {
        if (m.Disabled) continue;
        const int file = part >= 0 ? part : m.FileIndex;
        if (file >= int(S->InputFiles.size())) continue;
        const int index = S->InputFiles[size_t(file)].FirstStream + m.StreamIndex;
        bool disabled = false;
        for (const TStreamMap& d : g.StreamMaps)
          if (d.Disabled && d.FileIndex == m.FileIndex && d.StreamIndex == m.StreamIndex) disabled = true;
        if (!disabled && index < int(S->InputStreams.size()) && S->InputStreams[size_t(index)].File == file)
          sources.push_back(index);
      }
      return sources;
    }
    int bestVideo = -1, bestAudio = -1, firstSubtitle = -1;
    // A container without a subtitle kind of its own takes one when a subtitle codec is named.
    bool subtitleNamed = false;
    for (const auto& c : g.CodecNames) subtitleNamed |= c.Specifier == "s" || c.Specifier.rfind("s:", 0) == 0;
    int64_t bestArea = -1, bestChannels = -1;
    for (int i = 0; i < int(S->InputStreams.size()); ++i) {
      if (part >= 0 && S->InputStreams[size_t(i)].File != part) continue;
      const AVCodecParameters* p = S->InputStreams[size_t(i)].Stream->codecpar;
      if (p->codec_type == AVMEDIA_TYPE_VIDEO && !g.VideoDisable && oc->oformat->video_codec != AV_CODEC_ID_NONE &&
          int64_t(p->width) * p->height > bestArea) {
        bestArea = int64_t(p->width) * p->height;
        bestVideo = i;
      } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && !g.AudioDisable &&
                 oc->oformat->audio_codec != AV_CODEC_ID_NONE && p->ch_layout.nb_channels > bestChannels) {
        bestChannels = p->ch_layout.nb_channels;
        bestAudio = i;
      } else if (p->codec_type == AVMEDIA_TYPE_SUBTITLE && !g.SubtitleDisable && firstSubtitle < 0 &&
                 (oc->oformat->subtitle_codec != AV_CODEC_ID_NONE || subtitleNamed)) {
        firstSubtitle = i;
      }
    }
    for (int i : {bestVideo, bestAudio, firstSubtitle})
      if (i >= 0) sources.push_back(i);
    return sources;
  };
  const std::vector<int> sources = select(join ? 0 : -1);
  std::vector<std::vector<int>> parts;
  if (join) {
    for (int part = 1; part < int(S->InputFiles.size()); ++part) {
      std::vector<int> later = select(part);
      bool same = later.size() == sources.size();
      for (size_t i = 0; same && i < later.size(); ++i)
        same = S->InputStreams[size_t(later[i])].Stream->codecpar->codec_type ==
               S->InputStreams[size_t(sources[i])].Stream->codecpar->codec_type;
      if (!same) {
        FF.avformat_free_context(oc);
        return Fail(AVERROR(EINVAL), "Cannot join files with diffrent steams state");
      }
      parts.push_back(later);
    }
  }

  const int fileIndex = int(S->OutputFiles.size());
  auto fail = [&](const std::string& text) {
    if (oc->pb) FF.avio_closep(&oc->pb);
    FF.avformat_free_context(oc);
    for (TOutputStream& o : S->OutputStreams)
      if (o.File == fileIndex) {
        FF.avcodec_free_context(&o.Encoder);
        for (AVBSFContext*& b : o.Filters) FF.av_bsf_free(&b);
      }
    S->OutputStreams.erase(std::remove_if(S->OutputStreams.begin(), S->OutputStreams.end(),
                                          [&](const TOutputStream& o) { return o.File == fileIndex; }),
                           S->OutputStreams.end());
    return Fail(AVERROR(EINVAL), text);
  };
  TStreamList& descriptors = S->OutputDescriptors;
  descriptors.clear();
  for (int source : sources) {
    const TInputStream& in = S->InputStreams[size_t(source)];
    TStreamDescriptor d;
    d.Index = int(descriptors.size());
    d.Type = TypeLetter(in.Stream->codecpar->codec_type);
    d.Channels = in.Stream->codecpar->ch_layout.nb_channels;
    descriptors.push_back(d);
  }
  for (size_t n = 0; n < sources.size(); ++n) {
    const int source = sources[n];
    TInputStream& in = S->InputStreams[size_t(source)];
    const AVMediaType type = in.Stream->codecpar->codec_type;
    const int idx = int(n);
    if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE &&
        type != AVMEDIA_TYPE_DATA)
      return fail(FormatText("Cannot map stream #%d:%d - unsupported type.", in.File,
                             source - S->InputFiles[size_t(in.File)].FirstStream));
    // Kept in the list at once so that a failure below frees what it holds.
    TOutputStream& o = S->OutputStreams.emplace_back();
    o.File = fileIndex;
    o.Index = idx;
    o.Source = source;
    o.Stream = FF.avformat_new_stream(oc, nullptr);
    if (!o.Stream) return fail("Could not alloc stream");
    const std::string* codecName = FindForStream(g.CodecNames, descriptors, idx);
    o.Copy = codecName && *codecName == "copy";
    if (type == AVMEDIA_TYPE_DATA && !o.Copy) return fail("Data stream encoding not supported yet (only streamcopy)");
    // Subtitles the container can hold pass through unless a codec is named; others are recoded.
    if (type == AVMEDIA_TYPE_SUBTITLE && !o.Copy && !codecName &&
        FF.avformat_query_codec(oc->oformat, in.Stream->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1)
      o.Copy = true;
    if (const int64_t* v = FindForStream(g.MaxFrames, descriptors, idx)) o.MaxFrames = *v;
    if (const std::string* v = FindForStream(g.BitstreamFilters, descriptors, idx)) {
      for (size_t start = 0; start <= v->size();) {
        size_t comma = v->find(',', start);
        if (comma == std::string::npos) comma = v->size();
        const std::string name = v->substr(start, comma - start);
        start = comma + 1;
        if (name.empty()) continue;
        AVBSFContext* bsf = nullptr;
        if (FF.av_bsf_list_parse_str(name.c_str(), &bsf) < 0)
          return fail(FormatText("Failed to open bitstream filter %s for stream %d with codec %s", name.c_str(),
                                 idx, FF.avcodec_get_name(in.Stream->codecpar->codec_id)));
        o.Filters.push_back(bsf);
      }
    }
    const AVCodec* encoder = nullptr;
    if (!o.Copy) {
      if (codecName) {
        encoder = FF.avcodec_find_encoder_by_name(codecName->c_str());
        if (!encoder) {
          const AVCodecDescriptor* desc = FF.avcodec_descriptor_get_by_name(codecName->c_str());
          if (desc) encoder = FF.avcodec_find_encoder(desc->id);
        }
      } else {
        AVCodecID id = FF.av_guess_codec(oc->oformat, nullptr, fileName.c_str(), nullptr, type);
        encoder = FF.avcodec_find_encoder(id);
      }
      if (!encoder)
        return fail(FormatText("Encoder (codec %s) not found for output stream #%d:%d (%s)",
                               codecName ? codecName->c_str() : FF.avcodec_get_name(FF.av_guess_codec(
                                                                    oc->oformat, nullptr, fileName.c_str(), nullptr, type)),
                               fileIndex, idx, codecName ? codecName->c_str() : "default"));
      o.Encoder = FF.avcodec_alloc_context3(encoder);
      if (type == AVMEDIA_TYPE_VIDEO) {
        if (const std::string* v = FindForStream(g.FrameRates, descriptors, idx))
          if (FF.av_parse_video_rate(&o.FrameRate, v->c_str()) < 0) return fail(FormatText("Invalid framerate value: %s", v->c_str()));
        if (!FindForStream(g.FrameRates, descriptors, idx)) {
          AVRational guessed = FF.av_guess_frame_rate(S->InputFiles[size_t(in.File)].Context, in.Stream, nullptr);
          o.FrameRate = guessed.num > 0 && guessed.den > 0 ? guessed : AVRational{25, 1};
        }
        const bool* force = FindForStream(g.ForceFps, descriptors, idx);
        if (encoder->supported_framerates && !(force && *force))
          o.FrameRate = encoder->supported_framerates[FF.av_find_nearest_q_idx(o.FrameRate, encoder->supported_framerates)];
        if (const std::string* v = FindForStream(g.FrameSizes, descriptors, idx))
          if (FF.av_parse_video_size(&o.Width, &o.Height, v->c_str()) < 0) return fail(FormatText("Invalid frame size: %s.", v->c_str()));
        if (const std::string* v = FindForStream(g.FramePixFmts, descriptors, idx)) {
          o.PixFmt = FF.av_get_pix_fmt(v->c_str());
          if (o.PixFmt == AV_PIX_FMT_NONE) return fail(FormatText("Unknown pixel format requested: %s.", v->c_str()));
        }
        if (const std::string* v = FindForStream(g.Filters, descriptors, idx)) o.VideoFilter = *v;
        if (const std::string* v = FindForStream(g.FrameAspectRatios, descriptors, idx)) o.Aspect = *v;
        if (const std::string* v = FindForStream(g.ForcedKeyFrames, descriptors, idx)) {
          for (size_t start = 0; start <= v->size();) {
            size_t comma = v->find(',', start);
            if (comma == std::string::npos) comma = v->size();
            const std::string item = v->substr(start, comma - start);
            start = comma + 1;
            int64_t t = 0;
            if (FF.av_parse_time(&t, item.c_str(), 1) < 0)
              return fail(FormatText("Invalid time '%s' for force_key_frames.", item.c_str()));
            o.ForcedKeyFrames.push_back(t);
          }
          std::sort(o.ForcedKeyFrames.begin(), o.ForcedKeyFrames.end());
        }
      } else if (type == AVMEDIA_TYPE_AUDIO) {
        const AVCodecParameters* p = in.Stream->codecpar;
        int rate = p->sample_rate;
        if (const int* v = FindForStream(g.AudioSampleRates, descriptors, idx)) rate = *v;
        if (encoder->supported_samplerates) {
          int best = encoder->supported_samplerates[0];
          for (const int* s = encoder->supported_samplerates; *s; ++s)
            if (std::abs(*s - rate) < std::abs(best - rate)) best = *s;
          if (best != rate) Log(this, llWarning, FormatText("Requested sampling rate unsupported using closest supported (%d)", best));
          rate = best;
        }
        o.Encoder->sample_rate = rate;
        const int local = source - S->InputFiles[size_t(in.File)].FirstStream;
        for (const TAudioChannelMap& m : g.AudioChannelMaps) {
          if ((m.ChannelIndex != -1 && (m.FileIndex != in.File || m.StreamIndex != local)) ||
              (m.OutputFileIndex != -1 && m.OutputFileIndex != fileIndex) ||
              (m.OutputStreamIndex != -1 && m.OutputStreamIndex != idx))
            continue;
          if (o.ChannelMap.size() >= 32) {
            Log(this, llFatal, FormatText("Max channel mapping for output %d.%d reached", fileIndex, idx));
            break;
          }
          o.ChannelMap.push_back(m.ChannelIndex);
        }
        int channels = o.ChannelMap.empty() ? p->ch_layout.nb_channels : int(o.ChannelMap.size());
        if (const int* v = FindForStream(g.AudioChannels, descriptors, idx)) channels = *v;
        if (o.ChannelMap.empty() && channels == p->ch_layout.nb_channels && p->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
          FF.av_channel_layout_copy(&o.Encoder->ch_layout, &p->ch_layout);
        else
          FF.av_channel_layout_default(&o.Encoder->ch_layout, channels);
        AVSampleFormat fmt = AVSampleFormat(p->format);
        if (const std::string* v = FindForStream(g.SampleFmts, descriptors, idx)) fmt = FF.av_get_sample_fmt(v->c_str());
        if (encoder->sample_fmts) {
          bool ok = false;
          for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) ok |= *f == fmt;
          if (!ok) {
            if (fmt != AV_SAMPLE_FMT_NONE)
              Log(this, llWarning, FormatText("Incompatible sample format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
                                              FF.av_get_sample_fmt_name(fmt) ? FF.av_get_sample_fmt_name(fmt) : "none",
                                              encoder->name, FF.av_get_sample_fmt_name(encoder->sample_fmts[0])));
            fmt = encoder->sample_fmts[0];
          }
        }
        o.Encoder->sample_fmt = fmt;
        o.Encoder->time_base = AVRational{1, rate};
      }
      if (const double* q = FindForStream(g.QScale, descriptors, idx)) {
        o.Encoder->flags |= AV_CODEC_FLAG_QSCALE;
        o.Encoder->global_quality = int(FF_QP2LAMBDA * *q);
      }
      if (type == AVMEDIA_TYPE_VIDEO) {
        const std::string error = ApplyVideoCodecOptions(o, FOptions, descriptors, idx);
        if (!error.empty()) return fail(error);
      } else if (type == AVMEDIA_TYPE_AUDIO) {
        if (const float* v = FindForStream(g.RematrixVolume, descriptors, idx)) o.RematrixVolume = *v;
      }
    }
    if (const bool* v = FindForStream(g.CopyInitialNonKeyframes, descriptors, idx)) o.CopyInitialNonKeyframes = *v;
    for (const TStreamId& id : g.StreamIds)
      if (id.OutputStreamIndex == idx) o.Stream->id = id.Id;
    if (const std::string* tag = FindForStream(g.CodecTags, descriptors, idx)) {
      char* end = nullptr;
      unsigned long value = strtoul(tag->c_str(), &end, 0);
      if (*end) value = tag->size() >= 4 ? MKTAG((*tag)[0], (*tag)[1], (*tag)[2], (*tag)[3]) : 0;
      o.Stream->codecpar->codec_tag = unsigned(value);
    }
    in.Used = true;
    in.Decode = in.Decode || !o.Copy;
    o.PartSources.push_back(source);
    for (const std::vector<int>& part : parts) {
      TInputStream& later = S->InputStreams[size_t(part[n])];
      later.Used = true;
      later.Decode = later.Decode || !o.Copy;
      o.PartSources.push_back(part[n]);
    }
  }

  if (!(oc->oformat->flags & AVFMT_NOFILE)) {
    AVIOInterruptCB cb{WriteInterrupt, S.get()};
    S->WriteWatch.Start = FF.av_gettime_relative();
    r = FF.avio_open2(&oc->pb, fileName.c_str(), AVIO_FLAG_WRITE, &cb, nullptr);
    if (r < 0) return fail(ErrorText(fileName, r));
  }
  oc->max_delay = int(g.MuxDelay * AV_TIME_BASE);
  TOutputFile file;
  file.Context = oc;
  file.RecordingTime = g.RecordingTime;
  file.LimitFilesize = g.LimitFilesize;
  if (g.StartTime != INT64_MIN) file.StartTime = g.StartTime;
  if (join) {
    S->Joining = true;
    int64_t sum = 0;
    for (const TInputFile& in : S->InputFiles)
      if (in.Context->duration > 0) sum += in.Context->duration;
    FTotalTime = sum > 0 ? sum : -1;
  }
  if (g.RecordingTime != INT64_MAX && (FTotalTime < 0 || g.RecordingTime < FTotalTime)) FTotalTime = g.RecordingTime;
  const std::string attached = AddAttachments(oc, g, descriptors);
  if (!attached.empty()) return fail(attached);
  const std::string mapped = CopyMetadataAndChapters(oc, g, descriptors, sources);
  if (!mapped.empty()) return fail(mapped);
  for (const auto& m : g.Metadata) {
    const size_t eq = m.Value.find('=');
    if (eq == std::string::npos) return fail(FormatText("No \"=\" character in metadata string %s.", m.Value.c_str()));
    const std::string key = m.Value.substr(0, eq), value = m.Value.substr(eq + 1);
    const char* v = value.empty() ? nullptr : value.c_str();
    if (m.Specifier.empty() || m.Specifier == "g") {
      FF.av_dict_set(&oc->metadata, key.c_str(), v, 0);
    } else if (m.Specifier[0] == 's') {
      const std::string spec = m.Specifier.size() > 2 ? m.Specifier.substr(2) : "";
      for (int i = 0; i < int(descriptors.size()); ++i)
        if (spec.empty() || CheckStreamSpecifier(descriptors, i, spec) > 0)
          FF.av_dict_set(&oc->streams[i]->metadata, key.c_str(), v, 0);
    } else {
      return fail(FormatText("Invalid metadata type %s.", m.Specifier.c_str()));
    }
  }
  file.Descriptors = descriptors;
  file.FormatOptions = FOptions.FormatOptions;
  const AVClass* muxer = oc->oformat->priv_class;
  if (muxer && !file.FormatOptions.Get("preload") && FF.av_opt_find(&muxer, "preload", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
    file.FormatOptions.Set("preload", std::to_string(int64_t(g.MuxPreload * AV_TIME_BASE)));
  if (FOptions.LoopOutput >= 0 && muxer && FF.av_opt_find(&muxer, "loop", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
    file.FormatOptions.Set("loop", std::to_string(FOptions.LoopOutput));
  FOptions.FormatOptions.Clear();
  S->OutputFiles.push_back(file);
  ++FOptions.OutputFileCount;
  FOptions.ResetGroup();
  return 0;
}

struct TTranscoderAccess {
  static void SetCurrentInput(TCustomFFmpeg& owner, int index) { owner.FCurrentInput = index; }
};

namespace {

constexpr AVRational MicroBase{1, AV_TIME_BASE};

// Encodes sound frames on a thread of its own, one frame at a time, so the task's worker goes on
// with the pictures meanwhile. The worker waits for a frame's packets before it hands on the next
// one and writes them itself, so the file is the same whichever thread ran first.
class TSoundEncoderThread {
 public:
  ~TSoundEncoderThread() {
    {
      std::unique_lock<std::mutex> guard(FLock);
      FChanged.wait(guard, [&] { return !FBusy; });
      FQuit = true;
    }
    FChanged.notify_all();
    if (FThread.joinable()) FThread.join();
    for (AVPacket*& p : FPackets) FF.av_packet_free(&p);
    FF.av_frame_free(&FFrame);
  }

  bool Busy() const { return FOwner != nullptr; }
  void* Owner() const { return FOwner; }

  // Takes the frame; `owner` names the stream it belongs to.
  void Start(AVCodecContext* encoder, AVFrame* frame, void* owner) {
    if (!FThread.joinable()) FThread = std::thread([this] { Work(); });
    std::lock_guard<std::mutex> guard(FLock);
    FEncoder = encoder;
    FFrame = frame;
    FOwner = owner;
    FResult = 0;
    FBusy = true;
    FChanged.notify_all();
  }

  // Waits for the frame in hand; its packets, or a negative error.
  int Finish(std::vector<AVPacket*>& packets) {
    std::unique_lock<std::mutex> guard(FLock);
    FChanged.wait(guard, [&] { return !FBusy; });
    FOwner = nullptr;
    packets.swap(FPackets);
    return FResult;
  }

 private:
  void Work() {
    std::unique_lock<std::mutex> guard(FLock);
    for (;;) {
      FChanged.wait(guard, [&] { return FBusy || FQuit; });
      if (!FBusy) return;
      AVCodecContext* encoder = FEncoder;
      AVFrame* frame = FFrame;
      FFrame = nullptr;
      std::vector<AVPacket*> packets;
      guard.unlock();
      int r = FF.avcodec_send_frame(encoder, frame);
      FF.av_frame_free(&frame);
      if (r >= 0 || r == AVERROR_EOF) {
        for (;;) {
          AVPacket* pkt = FF.av_packet_alloc();
          if (!pkt) {
            r = AVERROR(ENOMEM);
            break;
          }
          r = FF.avcodec_receive_packet(encoder, pkt);
          if (r < 0) {
            FF.av_packet_free(&pkt);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) r = 0;
            break;
          }
          packets.push_back(pkt);
        }
      }
      guard.lock();
      FPackets = std::move(packets);
      FResult = r;
      FBusy = false;
      FChanged.notify_all();
    }
  }

  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FChanged;
  AVCodecContext* FEncoder = nullptr;
  AVFrame* FFrame = nullptr;
  std::vector<AVPacket*> FPackets;
  void* FOwner = nullptr;  // the stream whose frame is in hand, on the task's worker only
  int FResult = 0;
  bool FBusy = false;
  bool FQuit = false;
};

struct TRun {
  TCustomFFmpeg& Owner;
  TTaskOptions& Options;
  TCustomFFmpeg::TState& S;
  bool SizeLimitReached = false;
  // Ends with the run, with any frame in its hands, before Release frees the encoders.
  std::unique_ptr<TSoundEncoderThread> SoundThread = std::make_unique<TSoundEncoderThread>();

  void SetupDecoders() {
    for (size_t i = 0; i < S.InputStreams.size(); ++i) {
      TInputStream& in = S.InputStreams[i];
      if (!in.Decode) continue;
      const TInputFile& file = S.InputFiles[size_t(in.File)];
      const int local = int(i) - file.FirstStream;
      const AVCodec* codec = FF.avcodec_find_decoder(in.Stream->codecpar->codec_id);
      if (!codec)
        RaiseFFmpeg(FormatText("Decoder (codec %s) not found for input stream #%d:%d",
                               FF.avcodec_get_name(in.Stream->codecpar->codec_id), in.File, local));
      in.Decoder = FF.avcodec_alloc_context3(codec);
      FF.avcodec_parameters_to_context(in.Decoder, in.Stream->codecpar);
      in.Decoder->pkt_timebase = in.Stream->time_base;
      if (Options.VideoDiscard && in.Decoder->codec_type == AVMEDIA_TYPE_VIDEO)
        in.Decoder->skip_frame = AVDiscard(Options.VideoDiscard);
      AVDictionary* dict =
          ToDictionary(CodecOptionsForStream(Options.CodecOptions, Options.Inputs[size_t(in.File)], local, codec, false));
      if (!FF.av_dict_get(dict, "threads", nullptr, 0)) FF.av_dict_set(&dict, "threads", "auto", 0);
      const int r = FF.avcodec_open2(in.Decoder, codec, &dict);
      FF.av_dict_free(&dict);
      if (r < 0) RaiseFFmpeg(FormatText("Error while opening decoder for input stream #%d:%d", in.File, local));
    }
  }

  void SetupVideoGraph(TOutputStream& o, const AVCodec* encoder) {
    const AVCodecContext* dec = S.InputStreams[size_t(o.Source)].Decoder;
    BuildVideoGraph(o, encoder, dec->width, dec->height, dec->pix_fmt, dec->sample_aspect_ratio, false);
  }

  // Pictures of another size or format than the graph takes (a later part of a join): a new graph
  // for them brings them to what the encoder was opened with, after what is already in the old one.
  void ReconfigureVideoGraph(TOutputStream& o, const AVFrame* frame) {
    if (FF.av_buffersrc_add_frame_flags(o.Source_, nullptr, 0) >= 0) DrainGraph(o);
    FF.avfilter_graph_free(&o.Graph);
    o.Source_ = o.Sink = nullptr;
    BuildVideoGraph(o, o.Encoder->codec, frame->width, frame->height, AVPixelFormat(frame->format),
                    frame->sample_aspect_ratio, true);
  }

  void BuildVideoGraph(TOutputStream& o, const AVCodec* encoder, int srcWidth, int srcHeight, AVPixelFormat srcFormat,
                       AVRational srcAspect, bool fixedOutput) {
    o.GraphWidth = srcWidth;
    o.GraphHeight = srcHeight;
    o.GraphFormat = srcFormat;
    AVPixelFormat fmt = fixedOutput ? o.Encoder->pix_fmt : o.PixFmt != AV_PIX_FMT_NONE ? o.PixFmt : srcFormat;
    const AVPixelFormat* allowed = encoder->pix_fmts;
    // JPEG encoders take full-range formats unless unofficial output is allowed, as the tool does.
    static const AVPixelFormat fullRange[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_NONE};
    if (encoder->id == AV_CODEC_ID_MJPEG) {
      const std::string* strict = Options.CodecOptions.Get("strict");
      if (!strict || (*strict != "unofficial" && *strict != "experimental" && atoi(strict->c_str()) >= 0))
        allowed = fullRange;
    }
    if (allowed && !fixedOutput) {
      bool ok = false;
      for (const AVPixelFormat* f = allowed; *f != AV_PIX_FMT_NONE; ++f) ok |= *f == fmt;
      if (!ok) {
        const AVPixelFormat best = FF.avcodec_find_best_pix_fmt_of_list(allowed, fmt, 0, nullptr);
        if (o.PixFmt != AV_PIX_FMT_NONE)
          Log(&Owner, llWarning, FormatText("Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"",
                                            FF.av_get_pix_fmt_name(fmt), encoder->name, FF.av_get_pix_fmt_name(best)));
        fmt = best;
      }
    }
    // A later part enters the chain at the size the first one did.
    int width = o.Width ? o.Width : srcWidth, height = o.Height ? o.Height : srcHeight;
    if (fixedOutput) {
      width = o.VideoFilter.empty() ? o.Encoder->width : o.ChainWidth;
      height = o.VideoFilter.empty() ? o.Encoder->height : o.ChainHeight;
    }
    o.ChainWidth = width;
    o.ChainHeight = height;
    unsigned swsFlags = SWS_BICUBIC;
    if (const std::string* f = Options.ScalerOptions.Get("sws_flags")) swsFlags = unsigned(strtoul(f->c_str(), nullptr, 0));
    auto fail = [&](int code) { RaiseFFmpeg(ErrorText("Error opening filters", code)); };
    o.Graph = FF.avfilter_graph_alloc();
    if (!o.Graph) fail(AVERROR(ENOMEM));
    const std::string swsText = FormatText("flags=0x%X", swsFlags);
    o.Graph->scale_sws_opts = FF.av_strdup(swsText.c_str());
    const AVRational sar = srcAspect.num ? srcAspect : AVRational{0, 1};
    const std::string args = FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", srcWidth,
                                        srcHeight, int(srcFormat), 1, AV_TIME_BASE, sar.num, sar.den ? sar.den : 1);
    int r = FF.avfilter_graph_create_filter(&o.Source_, FF.avfilter_get_by_name("buffer"), "src", args.c_str(), nullptr, o.Graph);
    if (r < 0) fail(r);
    AVFilterContext* format = nullptr;
    r = FF.avfilter_graph_create_filter(&format, FF.avfilter_get_by_name("format"), "format",
                                        FormatText("pix_fmts=%s", FF.av_get_pix_fmt_name(fmt)).c_str(), nullptr, o.Graph);
    if (r < 0) fail(r);
    r = FF.avfilter_graph_create_filter(&o.Sink, FF.avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, o.Graph);
    if (r < 0) fail(r);
    if ((r = FF.avfilter_link(format, 0, o.Sink, 0)) < 0) fail(r);
    // A later part's chain may end at another size than the encoder's.
    AVFilterContext* chainEnd = format;
    if (fixedOutput && !o.VideoFilter.empty()) {
      r = FF.avfilter_graph_create_filter(&chainEnd, FF.avfilter_get_by_name("scale"), "fit",
                                          FormatText("%d:%d:flags=0x%X", o.Encoder->width, o.Encoder->height, swsFlags).c_str(),
                                          nullptr, o.Graph);
      if (r < 0) fail(r);
      if ((r = FF.avfilter_link(chainEnd, 0, format, 0)) < 0) fail(r);
    }
    AVFilterContext* last = o.Source_;
    if (Options.DoDeinterlace) {
      // Both fields of every picture become a whole picture, before anything scales them.
      AVFilterContext* yadif = nullptr;
      const AVFilter* filter = FF.avfilter_get_by_name("yadif");
      if (filter && FF.avfilter_graph_create_filter(&yadif, filter, "deinterlace", "mode=send_frame:parity=auto:deint=all",
                                                    nullptr, o.Graph) >= 0 &&
          FF.avfilter_link(last, 0, yadif, 0) >= 0)
        last = yadif;
      else
        Log(&Owner, llWarning, "Deinterlacing failed.");
    }
    if (width != srcWidth || height != srcHeight) {
      AVFilterContext* scale = nullptr;
      r = FF.avfilter_graph_create_filter(&scale, FF.avfilter_get_by_name("scale"), "scale",
                                          FormatText("%d:%d:flags=0x%X", width, height, swsFlags).c_str(), nullptr, o.Graph);
      if (r < 0) fail(r);
      if ((r = FF.avfilter_link(last, 0, scale, 0)) < 0) fail(r);
      last = scale;
    }
    if (!o.VideoFilter.empty()) {
      AVFilterInOut* outputs = FF.avfilter_inout_alloc();
      AVFilterInOut* inputs = FF.avfilter_inout_alloc();
      outputs->name = FF.av_strdup("in");
      outputs->filter_ctx = last;
      inputs->name = FF.av_strdup("out");
      inputs->filter_ctx = chainEnd;
      r = FF.avfilter_graph_parse_ptr(o.Graph, o.VideoFilter.c_str(), &inputs, &outputs, nullptr);
      FF.avfilter_inout_free(&inputs);
      FF.avfilter_inout_free(&outputs);
      if (r < 0) RaiseFFmpeg("Error opening filters: " + ErrorCodeText(r));
    } else if ((r = FF.avfilter_link(last, 0, format, 0)) < 0) {
      fail(r);
    }
    if ((r = FF.avfilter_graph_config(o.Graph, nullptr)) < 0) RaiseFFmpeg("Error opening filters: " + ErrorCodeText(r));
    if (fixedOutput) return;
    AVCodecContext* enc = o.Encoder;
    enc->width = FF.av_buffersink_get_w(o.Sink);
    enc->height = FF.av_buffersink_get_h(o.Sink);
    enc->pix_fmt = AVPixelFormat(FF.av_buffersink_get_format(o.Sink));
    AVRational aspect = FF.av_buffersink_get_sample_aspect_ratio(o.Sink);
    if (!o.Aspect.empty()) {
      AVRational display{0, 1};
      if (FF.av_parse_ratio(&display, o.Aspect.c_str(), 255, 0, nullptr) < 0 || display.num <= 0)
        RaiseFFmpeg(FormatText("Invalid aspect ratio: %s", o.Aspect.c_str()));
      FF.av_reduce(&aspect.num, &aspect.den, int64_t(display.num) * enc->height, int64_t(display.den) * enc->width, 255);
    }
    enc->sample_aspect_ratio = aspect;
    enc->framerate = o.FrameRate;
    enc->time_base = av_inv_q(o.FrameRate);
  }

  void SetupOutputs() {
    for (TOutputStream& o : S.OutputStreams) {
      TOutputFile& of = S.OutputFiles[size_t(o.File)];
      const TInputStream& in = S.InputStreams[size_t(o.Source)];
      if (o.Copy) {
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (Owner.OnVideoInput || Owner.OnVideoOutput))
          RaiseFFmpeg("-vcodec copy and VideoHook are incompatible (frames are not decoded)");
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (Owner.OnFrameInput || Owner.OnFrameOutput))
          RaiseFFmpeg("-vcodec copy and FrameHook are incompatible (frames are not decoded)");
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && Owner.OnAudio)
          RaiseFFmpeg("-acodec copy and AudioHook are incompatible (frames are not decoded)");
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Options.VideoHooks && !Options.VideoHooks->Empty())
          RaiseFFmpeg("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Owner.PreviewRequested)
          RaiseFFmpeg("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && Options.AudioVolume != 256)
          RaiseFFmpeg("-acodec copy and -vol are incompatible (frames are not decoded)");
        const uint32_t tag = o.Stream->codecpar->codec_tag;
        FF.avcodec_parameters_copy(o.Stream->codecpar, in.Stream->codecpar);
        o.Stream->codecpar->codec_tag = tag;
        o.Stream->time_base = in.Stream->time_base;
        o.Stream->avg_frame_rate = in.Stream->avg_frame_rate;
        o.Stream->r_frame_rate = in.Stream->r_frame_rate;
        o.Stream->sample_aspect_ratio = in.Stream->sample_aspect_ratio;
      } else {
        const AVCodec* encoder = o.Encoder->codec;
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) SetupVideoGraph(o, encoder);
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
          const AVCodecContext* dec = in.Decoder;
          o.Encoder->time_base = AVRational{1, AV_TIME_BASE};
          o.Encoder->width = dec->width;
          o.Encoder->height = dec->height;
          if (dec->subtitle_header && dec->subtitle_header_size > 0) {
            // Text encoders need the decoder's style header.
            o.Encoder->subtitle_header = static_cast<uint8_t*>(FF.av_mallocz(size_t(dec->subtitle_header_size) + 1));
            if (!o.Encoder->subtitle_header) RaiseFFmpeg(ErrorText("transcode_init() error", AVERROR(ENOMEM)));
            std::memcpy(o.Encoder->subtitle_header, dec->subtitle_header, size_t(dec->subtitle_header_size));
            o.Encoder->subtitle_header_size = dec->subtitle_header_size;
          }
        }
        if (of.Context->oformat->flags & AVFMT_GLOBALHEADER) o.Encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary* dict =
            ToDictionary(CodecOptionsForStream(Options.CodecOptions, of.Descriptors, o.Index, encoder, true));
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Options.DoPass) SetupPass(o, encoder, &dict);
        if (in.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Options.DoPsnr) o.Encoder->flags |= AV_CODEC_FLAG_PSNR;
        if (!FF.av_dict_get(dict, "threads", nullptr, 0)) FF.av_dict_set(&dict, "threads", "auto", 0);
        if (const AVDictionaryEntry* b = FF.av_dict_get(dict, "b", nullptr, 0))
          if (atoll(b->value) > 0 && atoll(b->value) < 1000)
            Log(&Owner, llWarning, "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
        const int r = FF.avcodec_open2(o.Encoder, encoder, &dict);
        FF.av_dict_free(&dict);
        if (r == AVERROR_EXPERIMENTAL)
          RaiseFFmpeg(FormatText("%s \"%s\" is experimental and might produce bad results.\r\nAdd \"-strict experimental\" if you want to use it.",
                                 "Encoder", encoder->name));
        if (r < 0)
          RaiseFFmpeg(FormatText("Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as bit_rate, rate, width or height. Please check error log message(reported by FFLogger) to find out more detail information.",
                                 o.File, o.Index, encoder->name));
        FF.avcodec_parameters_from_context(o.Stream->codecpar, o.Encoder);
        o.Stream->time_base = o.Encoder->time_base;
        if (o.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) {
          o.Stream->avg_frame_rate = o.FrameRate;
          o.Stream->sample_aspect_ratio = o.Encoder->sample_aspect_ratio;
        } else if (o.Encoder->codec_type == AVMEDIA_TYPE_AUDIO) {
          o.Fifo = FF.av_audio_fifo_alloc(o.Encoder->sample_fmt, o.Encoder->ch_layout.nb_channels, 1024);
          if (!o.Fifo) RaiseFFmpeg("av_fifo_realloc2() failed");
        }
      }
      for (AVBSFContext* bsf : o.Filters) {
        FF.avcodec_parameters_copy(bsf->par_in, o.Stream->codecpar);
        bsf->time_base_in = o.Stream->time_base;
        if (FF.av_bsf_init(bsf) < 0)
          RaiseFFmpeg(FormatText("Failed to open bitstream filter %s for stream %d with codec %s", bsf->filter->name,
                                 o.Index, FF.avcodec_get_name(o.Stream->codecpar->codec_id)));
        FF.avcodec_parameters_copy(o.Stream->codecpar, bsf->par_out);
      }
    }
    for (size_t i = 0; i < S.OutputFiles.size(); ++i) {
      TOutputFile& of = S.OutputFiles[i];
      S.WriteWatch.Start = FF.av_gettime_relative();
      AVDictionary* dict = ToDictionary(of.FormatOptions);
      const int r = FF.avformat_write_header(of.Context, &dict);
      FF.av_dict_free(&dict);
      if (r < 0)
        RaiseFFmpeg(FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", int(i)));
      of.HeaderWritten = true;
      if (of.Context->pb) S.HeaderSize += FF.avio_seek(of.Context->pb, 0, SEEK_CUR);
    }
    Log(&Owner, llInfo, "Stream mapping:");
    for (const TOutputStream& o : S.OutputStreams) {
      const TInputStream& in = S.InputStreams[size_t(o.Source)];
      const int local = o.Source - S.InputFiles[size_t(in.File)].FirstStream;
      if (o.Copy)
        Log(&Owner, llInfo, FormatText("  Stream #%d:%d -> #%d:%d (copy)", in.File, local, o.File, o.Index));
      else
        Log(&Owner, llInfo, FormatText("  Stream #%d:%d -> #%d:%d (%s -> %s)", in.File, local, o.File, o.Index,
                                       in.Decoder->codec->name, o.Encoder->codec->name));
    }
  }

  // Two-pass encoding: the first pass writes the encoder's statistics to prefix-N.log, the second
  // reads them back; libx264 keeps its own file under that name.
  void SetupPass(TOutputStream& o, const AVCodec* encoder, AVDictionary** dict) {
    const std::string prefix = Options.PassLogFileName.empty() ? "ffencoder2pass" : Options.PassLogFileName;
    std::string name = prefix + "-" + std::to_string(S.OutputStreams.empty() ? 0 : &o - &S.OutputStreams[0]) + ".log";
    if (name.size() > 1023) name.resize(1023);
    if (Options.DoPass & 1) o.Encoder->flags |= AV_CODEC_FLAG_PASS1;
    if (Options.DoPass & 2) o.Encoder->flags |= AV_CODEC_FLAG_PASS2;
    if (!std::strcmp(encoder->name, "libx264")) {
      FF.av_dict_set(dict, "stats", name.c_str(), AV_DICT_DONT_OVERWRITE);
      return;
    }
    if (Options.DoPass & 2) {
      FILE* f = std::fopen(name.c_str(), "rb");
      std::string text;
      if (f) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        if (std::ferror(f)) text.clear();
        std::fclose(f);
      }
      if (!f || text.empty()) RaiseFFmpeg(FormatText("Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
      o.PassStats = FF.av_strdup(text.c_str());
      if (!o.PassStats) RaiseFFmpeg(FormatText("Error reading log file \"%s\" for pass-2 encoding", name.c_str()));
      o.Encoder->stats_in = o.PassStats;
    }
    if (Options.DoPass & 1) {
      o.PassLog = std::fopen(name.c_str(), "wb");
      if (!o.PassLog) RaiseFFmpeg(FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
    }
  }

  void WritePacket(TOutputStream& o, AVPacket* pkt) {
    TOutputFile& of = S.OutputFiles[size_t(o.File)];
    pkt->stream_index = o.Stream->index;
    if (pkt->pts != AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && pkt->dts > pkt->pts) pkt->dts = pkt->pts;
    if (pkt->pts != AV_NOPTS_VALUE)
      o.LastEndTime = std::max(o.LastEndTime, FF.av_rescale_q(pkt->pts + pkt->duration, o.Stream->time_base, MicroBase));
    if (o.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      S.VideoSize += pkt->size;
    else if (o.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
      S.AudioSize += pkt->size;
    S.WriteWatch.Start = FF.av_gettime_relative();
    const int r = FF.av_interleaved_write_frame(of.Context, pkt);
    if (r < 0) RaiseFFmpeg(ErrorText("av_interleaved_write_frame()", r));
    if (of.LimitFilesize != INT64_MAX && of.Context->pb && FF.avio_seek(of.Context->pb, 0, SEEK_CUR) >= of.LimitFilesize)
      SizeLimitReached = true;
  }

  // Passes a packet in the stream's time base through its bitstream filters to the muxer.
  void Output(TOutputStream& o, AVPacket* pkt) {
    if (o.Filters.empty()) return WritePacket(o, pkt);
    AVPacket* tmp = FF.av_packet_alloc();
    // Filters run as a chain: each one's output feeds the next.
    std::vector<AVPacket*> stage;
    if (pkt) stage.push_back(FF.av_packet_clone(pkt));
    for (size_t f = 0; f < o.Filters.size(); ++f) {
      std::vector<AVPacket*> next;
      if (stage.empty()) FF.av_bsf_send_packet(o.Filters[f], nullptr);
      for (AVPacket* p : stage) {
        FF.av_bsf_send_packet(o.Filters[f], p);
        FF.av_packet_free(&p);
        while (FF.av_bsf_receive_packet(o.Filters[f], tmp) >= 0) next.push_back(FF.av_packet_clone(tmp)), FF.av_packet_unref(tmp);
      }
      if (stage.empty())
        while (FF.av_bsf_receive_packet(o.Filters[f], tmp) >= 0) next.push_back(FF.av_packet_clone(tmp)), FF.av_packet_unref(tmp);
      stage.swap(next);
    }
    FF.av_packet_free(&tmp);
    for (AVPacket* p : stage) {
      WritePacket(o, p);
      FF.av_packet_free(&p);
    }
  }

  void NoteCodedPicture(TOutputStream& o, const AVPacket* pkt) {
    size_t size = 0;
    const uint8_t* stats = FF.av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
    ++o.CodedFrames;
    if (stats && size >= 6) {
      uint32_t quality;
      std::memcpy(&quality, stats, 4);
      o.Quality = float(quality) / FF_QP2LAMBDA;
      o.PictureType = FF.av_get_picture_type_char(AVPictureType(stats[4]));
      const int errors = std::min<int>(stats[5], 3);
      for (int j = 0; j < errors && size >= 8 + size_t(j + 1) * 8; ++j) {
        std::memcpy(&o.LastError[j], stats + 8 + j * 8, 8);
        o.TotalError[j] += o.LastError[j];
      }
    }
    if (!Options.VStatsFileName.empty()) WriteVideoStats(o, pkt->size);
  }

  static double Psnr(double d) { return -10.0 * std::log10(d); }

  // One line per coded picture, as the tool's vstats file has it.
  void WriteVideoStats(const TOutputStream& o, int frameSize) {
    if (!S.VStats) {
      S.VStats = std::fopen(Options.VStatsFileName.c_str(), "w");
      if (!S.VStats) RaiseFFmpeg("fopen fail: " + Options.VStatsFileName);
    }
    const AVCodecContext* enc = o.Encoder;
    std::fprintf(S.VStats, "frame= %5d q= %2.1f ", int(o.CodedFrames), o.Quality < 0 ? 0.0 : o.Quality);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
      std::fprintf(S.VStats, "PSNR= %6.2f ", Psnr(double(o.LastError[0]) / (enc->width * enc->height * 255.0 * 255.0)));
    std::fprintf(S.VStats, "f_size= %6d ", frameSize);
    double time = double(o.CodedFrames) * av_q2d(enc->time_base);
    if (time < 0.01) time = 0.01;
    const double bitrate = frameSize * 8 / av_q2d(enc->time_base) / 1000.0;
    const double average = double(S.VideoSize + frameSize) * 8 / time / 1000.0;
    std::fprintf(S.VStats, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                 double(S.VideoSize + frameSize) / 1024, time, bitrate, average);
    std::fprintf(S.VStats, "type= %c\n", o.PictureType);
  }

  // Writes the packets of the sound frame in the sound thread's hands, once it is encoded.
  void FinishSound() {
    if (!SoundThread->Busy()) return;
    TOutputStream& o = *static_cast<TOutputStream*>(SoundThread->Owner());
    std::vector<AVPacket*> packets;
    const int r = SoundThread->Finish(packets);
    struct TFree {
      std::vector<AVPacket*>& P;
      ~TFree() {
        for (AVPacket*& p : P) FF.av_packet_free(&p);
      }
    } free{packets};
    if (r < 0) RaiseFFmpeg("Audio encoding failed");
    for (AVPacket* pkt : packets) {
      FF.av_packet_rescale_ts(pkt, o.Encoder->time_base, o.Stream->time_base);
      Output(o, pkt);
    }
  }

  // Takes the frame.
  void EncodeSound(TOutputStream& o, AVFrame*& frame) {
    try {
      FinishSound();
    } catch (...) {
      FF.av_frame_free(&frame);
      throw;
    }
    if (o.PassLog) {
      Encode(o, frame);
      FF.av_frame_free(&frame);
      return;
    }
    try {
      SoundThread->Start(o.Encoder, frame, &o);
    } catch (...) {
      FF.av_frame_free(&frame);  // no thread to be had
      throw;
    }
    frame = nullptr;
  }

  void Encode(TOutputStream& o, AVFrame* frame) {
    // The sound thread's frame of this stream goes first, in the order the frames were made.
    if (SoundThread->Owner() == &o) FinishSound();
    int r = FF.avcodec_send_frame(o.Encoder, frame);
    const bool video = o.Encoder->codec_type == AVMEDIA_TYPE_VIDEO;
    if (r < 0 && r != AVERROR_EOF) RaiseFFmpeg(video ? "Video encoding failed" : "Audio encoding failed");
    AVPacket* pkt = FF.av_packet_alloc();
    while ((r = FF.avcodec_receive_packet(o.Encoder, pkt)) >= 0) {
      if (o.PassLog && o.Encoder->stats_out) std::fputs(o.Encoder->stats_out, o.PassLog);
      if (video) NoteCodedPicture(o, pkt);
      FF.av_packet_rescale_ts(pkt, o.Encoder->time_base, o.Stream->time_base);
      Output(o, pkt);
      FF.av_packet_unref(pkt);
    }
    FF.av_packet_free(&pkt);
    // The statistics of the whole stream follow its last packet.
    if (r == AVERROR_EOF && o.PassLog && o.Encoder->stats_out) std::fputs(o.Encoder->stats_out, o.PassLog);
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) RaiseFFmpeg(video ? "Video encoding failed" : "Audio encoding failed");
  }

  bool PastRecordingTime(const TOutputStream& o, int64_t micro) {
    const TOutputFile& of = S.OutputFiles[size_t(o.File)];
    return of.RecordingTime != INT64_MAX && micro - of.StartTime >= of.RecordingTime;
  }

  int SyncMethod(const TOutputStream& o) {
    if (Options.VideoSyncMethod >= 0) return Options.VideoSyncMethod;
    const int flags = S.OutputFiles[size_t(o.File)].Context->oformat->flags;
    if (flags & AVFMT_NOTIMESTAMPS) return 0;
    return (flags & AVFMT_VARIABLE_FPS) ? 2 : 1;
  }

  void VideoOut(TOutputStream& o, AVFrame* frame) {
    if (o.Finished) return;
    const int64_t micro = frame->pts;
    if (PastRecordingTime(o, micro)) {
      o.Finished = true;
      return;
    }
    const double exact = double(micro) * o.FrameRate.num / (double(o.FrameRate.den) * AV_TIME_BASE);
    int64_t pts = llrint(exact);
    int count = 1;
    const int sync = SyncMethod(o);
    if (o.NextPts == AV_NOPTS_VALUE) o.NextPts = sync == 1 ? std::max<int64_t>(pts, 0) : pts;
    const double delta = exact - double(o.NextPts);
    if (sync == 1) {
      if (delta < -1.1) count = 0;
      else if (delta > 1.1) count = int(llrint(delta)) + 1;
      pts = o.NextPts;
    } else if (sync == 2) {
      if (delta <= -0.6) count = 0;
      else if (pts < o.NextPts) pts = o.NextPts;
    }
    if (count == 0) {
      ++S.DropFrames;
      Log(&Owner, llVerbose, "*** drop!");
      return;
    }
    if (count > 1) {
      S.DupFrames += count - 1;
      Log(&Owner, llVerbose, FormatText("*** %d dup!", count - 1));
    }
    for (int i = 0; i < count; ++i) {
      if (o.FrameCount >= o.MaxFrames) {
        o.Finished = true;
        return;
      }
      frame->pts = pts + i;
      frame->pict_type = AV_PICTURE_TYPE_NONE;
      if (o.TopFieldFirst >= 0) frame->top_field_first = o.TopFieldFirst;
      if (o.NextForcedKeyFrame < o.ForcedKeyFrames.size() &&
          FF.av_rescale_q(frame->pts, o.Encoder->time_base, MicroBase) >= o.ForcedKeyFrames[o.NextForcedKeyFrame]) {
        frame->pict_type = AV_PICTURE_TYPE_I;
        while (o.NextForcedKeyFrame < o.ForcedKeyFrames.size() &&
               FF.av_rescale_q(frame->pts, o.Encoder->time_base, MicroBase) >= o.ForcedKeyFrames[o.NextForcedKeyFrame])
          ++o.NextForcedKeyFrame;
      }
      const int64_t micro = FF.av_rescale_q(frame->pts, o.Encoder->time_base, MicroBase);
      if ((Owner.OnVideoOutput || Owner.OnFrameOutput) && FF.av_frame_make_writable(frame) >= 0) {
        if (Owner.OnVideoOutput) Owner.OnVideoOutput(frame, int(o.FrameCount + 1), micro);
        if (Owner.OnFrameOutput) Owner.OnFrameOutput(frame, int(o.FrameCount + 1), micro);
      }
      if (Owner.OnPreview) {
        const int64_t now = FF.av_gettime_relative();
        if (S.LastPreview == 0 || now - S.LastPreview >= Owner.PreviewInterval) {
          S.LastPreview = now;
          Owner.OnPreview(frame, int(o.FrameCount + 1), micro);
        }
      }
      Encode(o, frame);
      ++o.FrameCount;
    }
    o.NextPts = pts + count;
  }

  void DrainGraph(TOutputStream& o) {
    int r;
    // Filters such as a deinterlacer change the time base; the rest of the way counts microseconds.
    const AVRational base = FF.av_buffersink_get_time_base(o.Sink);
    while ((r = FF.av_buffersink_get_frame(o.Sink, S.Filtered)) >= 0) {
      if (S.Filtered->pts != AV_NOPTS_VALUE) S.Filtered->pts = FF.av_rescale_q(S.Filtered->pts, base, MicroBase);
      VideoOut(o, S.Filtered);
      FF.av_frame_unref(S.Filtered);
    }
    if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
      RaiseFFmpeg("AV Filter told us it has a frame available but failed to output one");
  }

  void AudioEncodeFifo(TOutputStream& o, bool flush) {
    AVCodecContext* enc = o.Encoder;
    const bool variable = !enc->frame_size || (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = variable ? 4096 : enc->frame_size;
    while (!o.Finished) {
      int available = FF.av_audio_fifo_size(o.Fifo);
      if (available == 0 || (available < frameSize && !flush && true)) break;
      if (available < frameSize && !variable && !flush) break;
      int n = std::min(available, frameSize);
      AVFrame* f = FF.av_frame_alloc();
      f->format = enc->sample_fmt;
      f->sample_rate = enc->sample_rate;
      FF.av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
      const bool pad = n < frameSize && !variable && !(enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
      f->nb_samples = pad ? frameSize : n;
      if (FF.av_frame_get_buffer(f, 0) < 0) {
        FF.av_frame_free(&f);
        RaiseFFmpeg("out-of-memory in encode_audio_frame()");
      }
      if (pad) FF.av_samples_set_silence(f->extended_data, 0, f->nb_samples, enc->ch_layout.nb_channels, enc->sample_fmt);
      FF.av_audio_fifo_read(o.Fifo, reinterpret_cast<void**>(f->extended_data), n);
      f->pts = o.AudioStart + o.SamplesIn;
      if (PastRecordingTime(o, FF.av_rescale_q(f->pts, enc->time_base, MicroBase))) {
        o.Finished = true;
        FF.av_frame_free(&f);
        break;
      }
      // Only the part inside the recording time is kept.
      const TOutputFile& of = S.OutputFiles[size_t(o.File)];
      if (of.RecordingTime != INT64_MAX) {
        const int64_t limit = FF.av_rescale_q(of.StartTime + of.RecordingTime, MicroBase, enc->time_base) - f->pts;
        if (limit < f->nb_samples && (variable || (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)))
          f->nb_samples = int(std::max<int64_t>(limit, 1));
      }
      o.SamplesIn += n;
      EncodeSound(o, f);
      ++o.FrameCount;
    }
  }

  void AudioOut(TOutputStream& o, AVFrame* frame, int64_t micro) {
    if (o.Finished) return;
    AVCodecContext* enc = o.Encoder;
    const TInputStream& in = S.InputStreams[size_t(o.Source)];
    if (!o.Resampler || o.SwrRate != frame->sample_rate || o.SwrFormat != frame->format ||
        FF.av_channel_layout_compare(&o.SwrLayout, &frame->ch_layout) != 0) {
      if (o.Resampler) {
        const TInputFile& file = S.InputFiles[size_t(in.File)];
        Log(&Owner, llInfo,
            FormatText("Input stream #%d:%d frame changed from rate:%d fmt:%s ch:%d to rate:%d fmt:%s ch:%d", in.File,
                       o.Source - file.FirstStream, o.SwrRate, FF.av_get_sample_fmt_name(AVSampleFormat(o.SwrFormat)),
                       o.SwrLayout.nb_channels, frame->sample_rate,
                       FF.av_get_sample_fmt_name(AVSampleFormat(frame->format)), frame->ch_layout.nb_channels));
      }
      FF.swr_free(&o.Resampler);
      AVChannelLayout inLayout{};
      if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        FF.av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
      else
        FF.av_channel_layout_copy(&inLayout, &frame->ch_layout);
      int r = FF.swr_alloc_set_opts2(&o.Resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &inLayout,
                                     AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
      FF.av_channel_layout_uninit(&inLayout);
      if (r < 0 || !o.Resampler)
        RaiseFFmpeg(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", frame->ch_layout.nb_channels,
                               frame->sample_rate, enc->ch_layout.nb_channels, enc->sample_rate));
      if (Options.AudioVolume != 256 || o.RematrixVolume != 1)
        FF.av_opt_set_double(o.Resampler, "rematrix_volume", Options.AudioVolume / 256.0 * o.RematrixVolume, 0);
      if (!o.ChannelMap.empty()) {
        // The mapped channels, in order, are what gets rematrixed to the encoder's layout.
        for (int channel : o.ChannelMap)
          if (channel >= frame->ch_layout.nb_channels)
            RaiseFFmpeg(FormatText("mapchan: invalid audio channel #%d.%d.%d", in.File,
                                   o.Source - S.InputFiles[size_t(in.File)].FirstStream, channel));
        FF.av_opt_set_int(o.Resampler, "used_channel_count", int64_t(o.ChannelMap.size()), 0);
        if (FF.swr_set_channel_mapping(o.Resampler, o.ChannelMap.data()) < 0) RaiseFFmpeg("swr_init() failed");
      }
      if (Options.AudioSyncMethod) {
        // The resampler follows the input's times: gaps are filled with silence and overlaps cut
        // once they pass the drift threshold, smaller drifts are stretched at async samples a second.
        FF.av_opt_set_double(o.Resampler, "async", Options.AudioSyncMethod, 0);
        FF.av_opt_set_double(o.Resampler, "min_hard_comp", Options.AudioDriftThreshold, 0);
        const int64_t start = o.AudioStart == AV_NOPTS_VALUE
                                  ? (micro == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, FF.av_rescale_q(micro, MicroBase, enc->time_base)))
                                  : o.AudioStart + o.SamplesIn + FF.av_audio_fifo_size(o.Fifo);
        FF.av_opt_set_int(o.Resampler, "first_pts", start, 0);
      }
      if (FF.swr_init(o.Resampler) < 0) RaiseFFmpeg("swr_init() failed");
      o.SwrRate = frame->sample_rate;
      o.SwrFormat = frame->format;
      FF.av_channel_layout_uninit(&o.SwrLayout);
      FF.av_channel_layout_copy(&o.SwrLayout, &frame->ch_layout);
    }
    if (o.AudioStart == AV_NOPTS_VALUE) o.AudioStart = micro == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(0, FF.av_rescale_q(micro, MicroBase, enc->time_base));
    if (Options.AudioSyncMethod && micro != AV_NOPTS_VALUE) {
      // In units of 1 / (input rate * output rate), as the resampler counts.
      const int64_t in = FF.av_rescale(micro, int64_t(frame->sample_rate) * enc->sample_rate, AV_TIME_BASE);
      FF.swr_next_pts(o.Resampler, in);
    }
    const int capacity = FF.swr_get_out_samples(o.Resampler, frame->nb_samples) + 32;
    uint8_t** buffer = nullptr;
    int lines = 0;
    uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    if (FF.av_samples_alloc(planes, &lines, enc->ch_layout.nb_channels, capacity, enc->sample_fmt, 0) < 0)
      RaiseFFmpeg("Out of memory in do_audio_out()");
    buffer = planes;
    const int n = FF.swr_convert(o.Resampler, buffer, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n > 0 && FF.av_audio_fifo_write(o.Fifo, reinterpret_cast<void**>(buffer), n) < n) {
      FF.av_freep(&planes[0]);
      RaiseFFmpeg("av_fifo_realloc2() failed");
    }
    FF.av_freep(&planes[0]);
    AudioEncodeFifo(o, false);
  }

  void Decoded(int streamIndex, AVFrame* frame) {
    TInputStream& in = S.InputStreams[size_t(streamIndex)];
    TInputFile& file = S.InputFiles[size_t(in.File)];
    int64_t ts = frame->best_effort_timestamp;
    int64_t micro = ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : FF.av_rescale_q(ts, in.Stream->time_base, MicroBase);
    // The packet's times carry the input's offset and scale already.
    ++in.FrameNumber;
    if (file.RateEmulation && micro != AV_NOPTS_VALUE) Pace(file, micro);
    for (TOutputStream& o : S.OutputStreams) {
      if (o.Source != streamIndex || o.Copy || o.Finished) continue;
      if (in.Decoder->codec_type == AVMEDIA_TYPE_VIDEO) {
        if (Options.VideoHooks && !Options.VideoHooks->Empty() && !FF.av_frame_make_writable(frame)) {
          TVideoHookPicture picture{};
          for (int p = 0; p < 8; ++p) picture.data[p] = frame->data[p], picture.linesize[p] = frame->linesize[p];
          Options.VideoHooks->Process(&picture, frame->format, frame->width, frame->height, micro);
        }
        if ((Owner.OnFrameInput || Owner.OnVideoInput) && FF.av_frame_make_writable(frame) >= 0) {
          if (Owner.OnFrameInput) Owner.OnFrameInput(frame, int(in.FrameNumber), micro);
          if (Owner.OnVideoInput) Owner.OnVideoInput(frame, int(in.FrameNumber), micro);
        }
        frame->pts = micro == AV_NOPTS_VALUE ? (o.NextPts == AV_NOPTS_VALUE ? 0 : AV_NOPTS_VALUE) : micro;
        if (frame->width != o.GraphWidth || frame->height != o.GraphHeight || frame->format != o.GraphFormat)
          ReconfigureVideoGraph(o, frame);
        if (FF.av_buffersrc_add_frame_flags(o.Source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
          RaiseFFmpeg("Failed to inject frame into filter network");
        DrainGraph(o);
      } else if (in.Decoder->codec_type == AVMEDIA_TYPE_AUDIO) {
        if (frame->nb_samples <= 0)
          RaiseFFmpeg(FormatText("the decoder \"%s\" return bad result.", in.Decoder->codec->name));
        if (Owner.OnAudio && FF.av_frame_make_writable(frame) >= 0) {
          // Packed sound is one block; planar sound shows its first plane.
          const int channels = frame->ch_layout.nb_channels;
          const int size = frame->nb_samples * FF.av_get_bytes_per_sample(AVSampleFormat(frame->format)) *
                           (FF.av_sample_fmt_is_planar(AVSampleFormat(frame->format)) ? 1 : channels);
          Owner.OnAudio(micro, frame->extended_data[0], size, frame->sample_rate, channels, frame->format);
        }
        AudioOut(o, frame, micro);
      }
    }
  }

  void Pace(TInputFile& file, int64_t micro) {
    if (file.StartWall == 0) file.StartWall = FF.av_gettime_relative();
    const int64_t elapsed = FF.av_gettime_relative() - file.StartWall;
    if (micro - elapsed > 1000 && !Owner.StopRequested()) FF.av_usleep(unsigned((micro - elapsed) / 1000 * 1000));
  }

  void DecodeSubtitle(int streamIndex, AVPacket* pkt) {
    TInputStream& in = S.InputStreams[size_t(streamIndex)];
    if (!pkt) return;  // subtitle decoders hold nothing back
    AVSubtitle sub{};
    int got = 0;
    const int r = FF.avcodec_decode_subtitle2(in.Decoder, &sub, &got, pkt);
    if (r < 0) {
      const int local = streamIndex - S.InputFiles[size_t(in.File)].FirstStream;
      const std::string text = FormatText("Error while decoding stream #%d:%d (%s)", in.File, local, ErrorCodeText(r).c_str());
      if (Options.ExitOnError) RaiseFFmpeg(text);
      Log(&Owner, llError, text);
      return;
    }
    if (!got) return;
    struct TFree {
      AVSubtitle* Sub;
      ~TFree() { FF.avsubtitle_free(Sub); }
    } release{&sub};
    ++in.FrameNumber;
    const int64_t micro = pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : FF.av_rescale_q(pkt->pts, in.Stream->time_base, MicroBase);
    for (TOutputStream& o : S.OutputStreams) {
      if (o.Source != streamIndex || o.Copy || o.Finished) continue;
      if (micro == AV_NOPTS_VALUE) RaiseFFmpeg("Subtitle packets must have a pts");
      if (PastRecordingTime(o, micro)) {
        o.Finished = true;
        continue;
      }
      // The shown span moves into the packet's time and duration.
      AVSubtitle shown = sub;
      shown.pts = micro + int64_t(sub.start_display_time) * 1000;
      shown.end_display_time = sub.end_display_time - sub.start_display_time;
      shown.start_display_time = 0;
      std::vector<uint8_t> buffer(1 << 20);
      const int size = FF.avcodec_encode_subtitle(o.Encoder, buffer.data(), int(buffer.size()), &shown);
      if (size < 0) RaiseFFmpeg("Subtitle encoding failed");
      AVPacket* out = FF.av_packet_alloc();
      if (!out || FF.av_new_packet(out, size) < 0) {
        FF.av_packet_free(&out);
        RaiseFFmpeg("Subtitle encoding failed");
      }
      std::memcpy(out->data, buffer.data(), size_t(size));
      out->pts = out->dts = FF.av_rescale_q(shown.pts, MicroBase, o.Stream->time_base);
      out->duration = FF.av_rescale_q(shown.end_display_time, AVRational{1, 1000}, o.Stream->time_base);
      out->flags |= AV_PKT_FLAG_KEY;
      try {
        Output(o, out);
      } catch (...) {
        FF.av_packet_free(&out);
        throw;
      }
      FF.av_packet_free(&out);
      ++o.FrameCount;
    }
  }

  void DecodePacket(int streamIndex, AVPacket* pkt) {
    TInputStream& in = S.InputStreams[size_t(streamIndex)];
    if (in.Decoder->codec_type == AVMEDIA_TYPE_SUBTITLE) return DecodeSubtitle(streamIndex, pkt);
    const int local = streamIndex - S.InputFiles[size_t(in.File)].FirstStream;
    int r = FF.avcodec_send_packet(in.Decoder, pkt);
    if (r < 0 && r != AVERROR_EOF) {
      const std::string text = FormatText("Error while decoding stream #%d:%d (%s)", in.File, local, ErrorCodeText(r).c_str());
      if (Options.ExitOnError) RaiseFFmpeg(text);
      Log(&Owner, llError, text);
      return;
    }
    while ((r = FF.avcodec_receive_frame(in.Decoder, S.Frame)) >= 0) {
      Decoded(streamIndex, S.Frame);
      FF.av_frame_unref(S.Frame);
    }
  }

  void CopyPacket(TOutputStream& o, const TInputStream& in, AVPacket* pkt) {
    if (o.Finished) return;
    const int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (dts != AV_NOPTS_VALUE && PastRecordingTime(o, FF.av_rescale_q(dts, in.Stream->time_base, MicroBase))) {
      o.Finished = true;
      return;
    }
    if (o.FrameCount >= o.MaxFrames) {
      o.Finished = true;
      return;
    }
    // What comes before the first key frame cannot be decoded on its own.
    if (o.FrameCount == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !o.CopyInitialNonKeyframes) return;
    AVPacket* copy = FF.av_packet_clone(pkt);
    FF.av_packet_rescale_ts(copy, in.Stream->time_base, o.Stream->time_base);
    Output(o, copy);
    FF.av_packet_free(&copy);
    ++o.FrameCount;
  }

  bool AllFinished() {
    for (const TOutputStream& o : S.OutputStreams)
      if (!o.Finished) return false;
    return true;
  }

  void Report(bool final) {
    TTranscodeProgress p;
    p.Final = final;
    int64_t smallest = INT64_MAX, size = 0;
    for (const TOutputFile& of : S.OutputFiles)
      if (of.Context->pb) size += std::max<int64_t>(FF.avio_seek(of.Context->pb, 0, SEEK_CUR), 0);
    bool firstVideo = true;
    p.Quality = -1;
    std::string line;
    // Subtitles come and go: the pictures and the sound tell how far the output is.
    bool timed = false;
    for (const TOutputStream& o : S.OutputStreams) timed |= o.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ||
                                                              o.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    for (const TOutputStream& o : S.OutputStreams) {
      const AVMediaType kind = o.Stream->codecpar->codec_type;
      if (!timed || kind == AVMEDIA_TYPE_VIDEO || kind == AVMEDIA_TYPE_AUDIO) smallest = std::min(smallest, o.LastEndTime);
      if (o.Copy || o.Encoder->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      const AVCodecContext* enc = o.Encoder;
      if (!firstVideo) {
        line += FormatText("q=%2.1f ", o.Quality < 0 ? 0.0 : o.Quality);
        continue;
      }
      firstVideo = false;
      const double seconds = double(FF.av_gettime_relative() - S.StartWall) / 1e6;
      p.FrameNumber = int(o.FrameCount);
      p.FPS = seconds >= 1 ? float(o.FrameCount / seconds) : 0;
      p.Quality = o.Quality;
      line += FormatText("frame=%5d fps=%3d q=%3.1f ", p.FrameNumber, int(p.FPS + 0.5f), o.Quality < 0 ? 0.0 : o.Quality);
      if (final) line += "L";
      if (Options.QpHist) {
        const int qp = int(std::lrint(o.Quality));
        if (qp >= 0 && qp < 52) ++S.QpHistogram[qp];
        for (int j = 0; j < 32; ++j) line += FormatText("%X", int(std::lrint(std::log2(S.QpHistogram[j] + 1))));
      }
      if ((enc->flags & AV_CODEC_FLAG_PSNR) && o.CodedFrames > 0) {
        static const char planes[] = "YUV";
        double errorSum = 0, scaleSum = 0;
        line += "PSNR=";
        for (int j = 0; j < 3; ++j) {
          const double error = double(final ? o.TotalError[j] : o.LastError[j]);
          double scale = enc->width * enc->height * 255.0 * 255.0 * (final ? double(o.CodedFrames) : 1.0);
          if (j) scale /= 4;
          errorSum += error;
          scaleSum += scale;
          line += FormatText("%c:%2.2f ", planes[j], Psnr(error / scale));
        }
        line += FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
      }
    }
    if (smallest == INT64_MAX) smallest = 0;
    p.CurrentSize = size;
    p.CurrentDuration = smallest;
    p.BitRate = smallest > 0 ? float(size * 8.0 / (double(smallest) / 1e6) / 1000.0) : 0;
    p.DupFrames = S.DupFrames;
    p.DropFrames = S.DropFrames;
    const int64_t centis = smallest / 10000;
    line += FormatText("size=%8.0fkB time=%02d:%02d:%02d.%02d bitrate=%6.1fkbits/s", size / 1024.0,
                       int(centis / 360000), int(centis / 6000 % 60), int(centis / 100 % 60), int(centis % 100), p.BitRate);
    if (S.DupFrames || S.DropFrames) line += FormatText(" dup=%d drop=%d", S.DupFrames, S.DropFrames);
    if (Owner.OnProgress) {
      Owner.OnProgress(p);
      // The program shows the progress; the log keeps the lines where frames were added or lost.
      if (S.DupFrames != S.LoggedDup || S.DropFrames != S.LoggedDrop) Log(&Owner, llInfo, line);
    } else if (Options.PrintStats) {
      Log(&Owner, llInfo, line);
    }
    S.LoggedDup = S.DupFrames;
    S.LoggedDrop = S.DropFrames;
    if (final) {
      Log(&Owner, llInfo,
          FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n", S.VideoSize / 1024.0,
                     S.AudioSize / 1024.0, 0.0,
                     S.VideoSize + S.AudioSize ? 100.0 * (size - S.VideoSize - S.AudioSize) / double(S.VideoSize + S.AudioSize) : 0.0));
      if (S.VideoSize + S.AudioSize == 0)
        Log(&Owner, llWarning, "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)");
    }
  }

  void Loop() {
    while (!Owner.StopRequested() && !SizeLimitReached && !AllFinished()) {
      Owner.WaitWhilePaused();
      int chosen = -1;
      if (S.Joining) {
        if (S.InputFiles[size_t(S.CurrentPart)].Eof && !NextPart()) break;
        chosen = S.CurrentPart;
      }
      for (int i = 0; !S.Joining && i < int(S.InputFiles.size()); ++i) {
        const TInputFile& f = S.InputFiles[size_t(i)];
        if (f.Eof) continue;
        if (chosen < 0 || f.LastTime < S.InputFiles[size_t(chosen)].LastTime) chosen = i;
      }
      if (chosen < 0) break;
      TInputFile& file = S.InputFiles[size_t(chosen)];
      TTranscoderAccess::SetCurrentInput(Owner, chosen);
      S.ReadWatch.Start = FF.av_gettime_relative();
      const int r = FF.av_read_frame(file.Context, S.Packet);
      if (r == AVERROR(EAGAIN)) {
        FF.av_usleep(10000);
        continue;
      }
      if (r < 0) {
        file.Eof = true;
        if (Options.Shortest && !S.Joining) break;
        continue;
      }
      const int index = file.FirstStream + S.Packet->stream_index;
      if (S.Packet->stream_index >= int(file.Context->nb_streams) ||
          S.Packet->stream_index >= (chosen + 1 < int(S.InputFiles.size()) ? S.InputFiles[size_t(chosen) + 1].FirstStream
                                                                             : int(S.InputStreams.size())) - file.FirstStream ||
          !S.InputStreams[size_t(index)].Used) {
        FF.av_packet_unref(S.Packet);
        continue;
      }
      TInputStream& in = S.InputStreams[size_t(index)];
      if (Options.DoPktDump || Options.DoHexDump)
        FF.av_pkt_dump_log2(nullptr, AV_LOG_INFO, S.Packet, Options.DoHexDump, in.Stream);
      const int64_t offset = FF.av_rescale_q(file.TsOffset, MicroBase, in.Stream->time_base);
      if (S.Packet->dts != AV_NOPTS_VALUE) S.Packet->dts = int64_t(double(S.Packet->dts) * in.TsScale) + offset;
      if (S.Packet->pts != AV_NOPTS_VALUE) S.Packet->pts = int64_t(double(S.Packet->pts) * in.TsScale) + offset;
      const int64_t dts = S.Packet->dts != AV_NOPTS_VALUE ? S.Packet->dts : S.Packet->pts;
      if (S.Joining && file.JoinEndTime != INT64_MAX && dts != AV_NOPTS_VALUE &&
          FF.av_rescale_q(dts, in.Stream->time_base, MicroBase) - file.TsOffset >= file.JoinEndTime) {
        FF.av_packet_unref(S.Packet);
        continue;
      }
      if (dts != AV_NOPTS_VALUE) {
        const int64_t micro = FF.av_rescale_q(dts, in.Stream->time_base, MicroBase);
        if ((file.Context->iformat->flags & AVFMT_TS_DISCONT) && file.LastTime != INT64_MIN && !Options.CopyTs) {
          const int64_t delta = micro - file.LastTime;
          if (std::llabs(delta) > int64_t(Options.DtsDeltaThreshold * AV_TIME_BASE)) {
            file.TsOffset -= delta;
            Log(&Owner, llDebug, FormatText("timestamp discontinuity %d, new offset= %d", int(delta), int(file.TsOffset)));
            const int64_t fix = FF.av_rescale_q(delta, MicroBase, in.Stream->time_base);
            S.Packet->dts -= fix;
            if (S.Packet->pts != AV_NOPTS_VALUE) S.Packet->pts -= fix;
          } else {
            file.LastTime = micro;
          }
        } else {
          file.LastTime = micro;
        }
        if (file.LastTime == INT64_MIN) file.LastTime = micro;
      }
      for (TOutputStream& o : S.OutputStreams)
        if (o.Source == index && o.Copy) {
          if (file.RateEmulation && dts != AV_NOPTS_VALUE) Pace(file, FF.av_rescale_q(dts, in.Stream->time_base, MicroBase));
          CopyPacket(o, in, S.Packet);
        }
      if (in.Decoder) DecodePacket(index, S.Packet);
      FF.av_packet_unref(S.Packet);
      const int64_t now = FF.av_gettime_relative();
      if (now - S.LastReport > Owner.ProgressInterval) {
        S.LastReport = now;
        Report(false);
      }
    }
  }

  // Moves a joining task on to its next input, which continues the time line of this one.
  bool NextPart() {
    const int part = S.CurrentPart;
    if (part + 1 >= int(S.InputFiles.size())) return false;
    for (int i = 0; i < int(S.InputStreams.size()); ++i)
      if (S.InputStreams[size_t(i)].File == part && S.InputStreams[size_t(i)].Decoder) DecodePacket(i, nullptr);
    // The next part starts where the written packets end.
    FinishSound();
    int64_t end = 0;
    for (TOutputStream& o : S.OutputStreams) {
      end = std::max(end, o.LastEndTime);
      if (size_t(part + 1) < o.PartSources.size()) o.Source = o.PartSources[size_t(part) + 1];
    }
    S.CurrentPart = part + 1;
    TInputFile& next = S.InputFiles[size_t(S.CurrentPart)];
    next.TsOffset += end;
    return true;
  }

  void Flush() {
    FinishSound();
    for (int i = 0; i < int(S.InputStreams.size()); ++i)
      if (S.InputStreams[size_t(i)].Decoder && (!S.Joining || S.InputStreams[size_t(i)].File == S.CurrentPart))
        DecodePacket(i, nullptr);
    for (TOutputStream& o : S.OutputStreams) {
      if (o.Copy) {
        if (!o.Filters.empty()) Output(o, nullptr);
        continue;
      }
      if (o.Encoder->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;
      if (o.Graph) {
        if (FF.av_buffersrc_add_frame_flags(o.Source_, nullptr, 0) >= 0) DrainGraph(o);
      } else if (o.Fifo) {
        AudioEncodeFifo(o, true);
      }
      Encode(o, nullptr);
    }
  }
};

}  // namespace

void TCustomFFmpeg::Run() {
  FFinished = false;
  try {
    if (S->OutputFiles.empty()) RaiseFFmpeg("At least one output file must be specified");
    S->Frame = FF.av_frame_alloc();
    S->Filtered = FF.av_frame_alloc();
    S->Packet = FF.av_packet_alloc();
    if (!S->Frame || !S->Filtered || !S->Packet) RaiseFFmpeg(ErrorText("transcode_init() error", AVERROR(ENOMEM)));
    TRun run{*this, FOptions, *S};
    run.SetupDecoders();
    run.SetupOutputs();
    if (FTotalTime < 0) FTotalTime = S->LongestInput > 0 ? S->LongestInput : -1;
    S->StartWall = S->LastReport = FF.av_gettime_relative();
    run.Loop();
    S->Draining = true;
    run.Flush();
    for (TOutputFile& of : S->OutputFiles) {
      S->WriteWatch.Start = FF.av_gettime_relative();
      const int r = FF.av_write_trailer(of.Context);
      of.HeaderWritten = false;
      if (r < 0) RaiseFFmpeg(ErrorText("av_write_trailer()", r));
    }
    run.Report(true);
    FlushLog();
    FFinished = !FStopRequested;
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void TCustomFFmpeg::Release() {
  if (S) S->Draining = true;
  if (!S || (S->InputFiles.empty() && S->OutputFiles.empty() && !S->Frame && !S->Filtered && !S->Packet)) return;
  for (TOutputStream& o : S->OutputStreams) {
    FF.avcodec_free_context(&o.Encoder);
    if (o.PassLog) std::fclose(o.PassLog);
    o.PassLog = nullptr;
    FF.av_freep(&o.PassStats);
    FF.avfilter_graph_free(&o.Graph);
    FF.swr_free(&o.Resampler);
    if (o.Fifo) FF.av_audio_fifo_free(o.Fifo);
    o.Fifo = nullptr;
    FF.av_channel_layout_uninit(&o.SwrLayout);
    for (AVBSFContext*& b : o.Filters) FF.av_bsf_free(&b);
  }
  S->OutputStreams.clear();
  for (TOutputFile& of : S->OutputFiles) {
    if (of.HeaderWritten) {
      // Leave a playable file behind even when the run failed after the header.
      FF.av_write_trailer(of.Context);
    }
    if (of.Context && !(of.Context->oformat->flags & AVFMT_NOFILE)) FF.avio_closep(&of.Context->pb);
    FF.avformat_free_context(of.Context);
  }
  S->OutputFiles.clear();
  for (TInputStream& in : S->InputStreams) FF.avcodec_free_context(&in.Decoder);
  S->InputStreams.clear();
  for (TInputFile& f : S->InputFiles) FF.avformat_close_input(&f.Context);
  S->InputFiles.clear();
  FF.av_frame_free(&S->Frame);
  FF.av_frame_free(&S->Filtered);
  FF.av_packet_free(&S->Packet);
  if (S->VStats) std::fclose(S->VStats);
  S->VStats = nullptr;
}

}  // namespace qm::engine
