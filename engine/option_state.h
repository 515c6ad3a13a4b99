// What an option string leaves in a task: the per-file option group (the values of the input or
// output about to be opened, reset after each one), the task-wide values, and the FFmpeg object
// options of the catch-all. The transcoder reads these when it opens files and sets up streams.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qm::engine {

// A value given with a stream specifier ("c:v copy" gives {"v", "copy"}).
template <class T>
struct TSpecified {
  std::string Specifier;
  T Value;
};
// Every use of a stream-specified option appends a pair; for a stream the last matching pair
// wins (FindForStream).
template <class T>
using TPerStream = std::vector<TSpecified<T>>;

// What a stream specifier is matched against: one stream of an opened file.
struct TStreamDescriptor {
  int Index = 0;
  char Type = 0;  // 'v', 'a', 's', 'd', 't', or 0 for anything else
  std::vector<std::pair<int, int>> Programs;  // (program id, position of the stream in it)
  double FrameRate = 0;  // video: average frame rate, 0 when unknown
  int Channels = 0;      // audio
};
using TStreamList = std::vector<TStreamDescriptor>;

// 1 when the specifier matches stream index of streams, 0 when not. An unknown specifier logs
// "Invalid stream specifier" and throws FFmpegException with the check_stream_specifier text.
int CheckStreamSpecifier(const TStreamList& streams, int index, const std::string& specifier);

template <class T>
const T* FindForStream(const TPerStream<T>& values, const TStreamList& streams, int index) {
  const T* result = nullptr;
  for (const auto& v : values)
    if (CheckStreamSpecifier(streams, index, v.Specifier) > 0) result = &v.Value;
  return result;
}

// FFmpeg object options by name, in the order given; setting a name again replaces its value.
struct TOptionDictionary {
  std::vector<std::pair<std::string, std::string>> Entries;
  void Set(const std::string& name, const std::string& value);
  const std::string* Get(const std::string& name) const;
  void Clear() { Entries.clear(); }
};

struct TStreamMap {
  bool Disabled = false;
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
};

struct TAudioChannelMap {
  int FileIndex = -1;  // -1: a muted channel
  int StreamIndex = -1;
  int ChannelIndex = -1;
  int OutputFileIndex = -1;
  int OutputStreamIndex = -1;
};

struct TStreamId {
  int OutputStreamIndex = 0;
  int Id = 0;
};

// Values of the input or output being configured; reset after it has been opened.
struct TFileOptionGroup {
  std::string Format;                        // f
  bool RateEmulation = false;                // re
  TPerStream<std::string> CodecNames;        // c, codec, vcodec, acodec, scodec, dcodec
  TPerStream<int> AudioSampleRates;          // ar
  TPerStream<int> AudioChannels;             // ac
  TPerStream<std::string> FrameRates;        // r
  TPerStream<std::string> FrameSizes;        // s
  TPerStream<std::string> FramePixFmts;      // pix_fmt
  TPerStream<std::string> FrameAspectRatios; // aspect
  TPerStream<std::string> SampleFmts;        // sample_fmt
  TPerStream<std::string> CodecTags;         // tag, vtag, atag, stag
  TPerStream<std::string> BitstreamFilters;  // bsf, absf, vbsf
  TPerStream<std::string> Filters;           // filter, vf
  TPerStream<int64_t> MaxFrames;             // frames, vframes, aframes, dframes
  TPerStream<double> QScale;                 // q, qscale, aq
  TPerStream<double> TsScale;                // itsscale
  TPerStream<bool> CopyInitialNonKeyframes;  // copyinkf
  TPerStream<bool> ForceFps;                 // force_fps
  TPerStream<std::string> ForcedKeyFrames;   // force_key_frames
  TPerStream<std::string> RcOverrides;       // rc_override
  TPerStream<std::string> IntraMatrices;     // intra_matrix
  TPerStream<std::string> InterMatrices;     // inter_matrix
  TPerStream<int> TopFieldFirst;             // top
  TPerStream<float> RematrixVolume;          // rmvol
  TPerStream<std::string> Metadata;          // metadata "key=value"; specifier g, s[:n], c:n, p:n
  TPerStream<std::string> MetadataMaps;      // map_metadata "file[:stream_specifier]"
  TPerStream<std::string> DumpAttachment;    // dump_attachment
  int ChaptersInputFile = INT_MAX;           // map_chapters
  int64_t StartTime = INT64_MIN;             // ss, microseconds; INT64_MIN: not given
  int64_t RecordingTime = INT64_MAX;         // t, microseconds; INT64_MAX: no limit
  int64_t InputTsOffset = 0;                 // itsoffset, microseconds
  int64_t LimitFilesize = INT64_MAX;         // fs, bytes
  float MuxDelay = 0.7f;                     // muxdelay, seconds
  float MuxPreload = 0.5f;                   // muxpreload, seconds
  bool VideoDisable = false;                 // vn
  bool AudioDisable = false;                 // an
  bool SubtitleDisable = false;              // sn
  bool DataDisable = false;                  // dn
  std::vector<TStreamMap> StreamMaps;        // map
  std::vector<TAudioChannelMap> AudioChannelMaps;  // map_channel
  std::vector<std::string> Attachments;      // attach
  std::vector<TStreamId> StreamIds;          // streamid
};

class TVideoHookChain;

// The option values of one task.
struct TTaskOptions {
  TTaskOptions();
  ~TTaskOptions();
  TTaskOptions(const TTaskOptions&) = delete;
  TTaskOptions& operator=(const TTaskOptions&) = delete;

  TFileOptionGroup Group;
  void ResetGroup() { Group = TFileOptionGroup(); }

  // Files opened so far, as the map, map_channel and target options need them. The transcoder
  // appends each input's streams once it is open and counts the outputs.
  std::vector<TStreamList> Inputs;
  int OutputFileCount = 0;

  bool Overwrite = false;               // y
  bool NoOverwrite = false;             // n
  int VideoSyncMethod = -1;             // vsync: -1 auto, 0 passthrough, 1 cfr, 2 vfr
  int AudioSyncMethod = 0;              // async
  float AudioDriftThreshold = 0.1f;     // adrift_threshold
  bool CopyTs = false;                  // copyts
  bool CopyTb = false;                  // copytb
  bool Shortest = false;                // shortest
  float DtsDeltaThreshold = 10;         // dts_delta_threshold, seconds
  bool ExitOnError = false;             // xerror
  bool PrintStats = true;               // stats
  bool DoPktDump = false;               // dump
  bool DoHexDump = false;               // hex
  bool LoopInput = false;               // loop_input
  int LoopOutput = -1;                  // loop_output; -1: the muxer's default
  int FrameBitsPerRawSample = 0;        // bits_per_raw_sample
  bool Intra = false;                   // intra
  int VideoDiscard = 0;                 // vdt
  int DoPass = 0;                       // pass
  std::string PassLogFileName;          // passlogfile; empty: "ffencoder2pass"
  bool DoDeinterlace = false;           // deinterlace
  bool DoPsnr = false;                  // psnr
  std::string VStatsFileName;           // vstats, vstats_file
  int IntraDcPrecision = 8;             // dc
  bool QpHist = false;                  // qphist
  int AudioVolume = 256;                // vol
  bool InputSync = false;               // isync
  int VideoHookBitsPixel = 24;          // VideoHookBitsPixel
  // The last codec names given with vcodec, acodec, scodec, dcodec.
  std::string VideoCodecName, AudioCodecName, SubtitleCodecName, DataCodecName;

  // Catch-all options: codec options under the name as written ("b:v", "vstrict"), format
  // options for the next file opened, and scaler options (validated when given).
  TOptionDictionary CodecOptions;
  TOptionDictionary FormatOptions;
  TOptionDictionary ScalerOptions;

  // Modules added with vhook, in order.
  std::unique_ptr<TVideoHookChain> VideoHooks;
};

// The picture handed to a vhook module's Process.
struct TVideoHookPicture {
  uint8_t* data[8];
  int linesize[8];
};

// Modules loaded by vhook: each exports Configure and Process and may export Release.
class TVideoHookChain {
 public:
  using TConfigure = int (*)(void** ctx, int argc, char* argv[]);
  using TProcess = void (*)(void* ctx, TVideoHookPicture* picture, int pixFmt, int width, int height, int64_t pts);
  using TRelease = void (*)(void* ctx);

  ~TVideoHookChain();
  // Loads the module named by the first word (kept loaded for the process) and configures it.
  // Throws FFmpegException "Failed to add video hook function: " + argument on failure.
  void Add(const std::string& argument);
  bool Empty() const { return FHooks.empty(); }
  size_t Count() const { return FHooks.size(); }
  void Process(TVideoHookPicture* picture, int pixFmt, int width, int height, int64_t pts);

 private:
  struct THook {
    void* Context = nullptr;
    TProcess Process = nullptr;
    TRelease Release = nullptr;
  };
  std::vector<THook> FHooks;
};

// Splits a vhook argument into words: at "|" when it has one, else at blanks.
std::vector<std::string> SplitHookArgument(const std::string& argument);

}  // namespace qm::engine

struct AVCodec;
struct AVFormatContext;

namespace qm::engine {

// The streams of an opened file as stream specifiers see them.
TStreamList DescribeStreams(const AVFormatContext* context);

// The codec options of the catch-all that apply to one stream's codec: names given with a stream
// specifier count only for matching streams and lose the specifier; a name unknown to the codec
// but known without its leading type letter ("vstrict", "aq") counts for streams of that type.
// Throws FFmpegException for an invalid specifier.
TOptionDictionary CodecOptionsForStream(const TOptionDictionary& codecOptions, const TStreamList& streams,
                                        int index, const AVCodec* codec, bool encoder);

}  // namespace qm::engine
