#include "engine/option_handlers.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/logger.h"

namespace qm::engine::option_handlers {

namespace {

std::string BaseName(const std::string& opt) { return opt.substr(0, opt.find(':')); }
std::string SpecifierOf(const std::string& opt) {
  const size_t colon = opt.find(':');
  return colon == std::string::npos ? std::string() : opt.substr(colon + 1);
}

[[noreturn]] void Raise(TOptionParser& parser, const std::string& text) {
  parser.RecordError(text);
  RaiseFFmpeg(text);
}

int Parse(TOptionParser& parser, const std::string& name, const std::string& arg) {
  const int ret = parser.ParseOption(name, arg.c_str());
  return ret < 0 ? ret : 0;
}

struct TLevelName {
  const char* Name;
  int Level;
};
const TLevelName LevelNames[] = {
    {"quiet", AV_LOG_QUIET}, {"panic", AV_LOG_PANIC},     {"fatal", AV_LOG_FATAL},     {"error", AV_LOG_ERROR},
    {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO}, {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG},
};

bool ParseAspectValue(const std::string& arg, double& value) {
  const size_t colon = arg.find(':');
  if (colon != std::string::npos) {
    double x, y;
    if (!TextToDouble(arg.substr(0, colon), x) || !TextToDouble(arg.substr(colon + 1), y) || y == 0) return false;
    value = x / y;
  } else if (!TextToDouble(arg, value)) {
    return false;
  }
  return value > 0;
}

// The first stream of streams matching specifier, or -1.
int FirstMatch(const TStreamList& streams, const std::string& specifier) {
  for (int i = 0; i < int(streams.size()); ++i)
    if (CheckStreamSpecifier(streams, i, specifier) > 0) return i;
  return -1;
}

}  // namespace

bool LogLevelValue(const std::string& arg, int& level) {
  for (const TLevelName& n : LevelNames)
    if (arg == n.Name) {
      level = n.Level;
      return true;
    }
  return TextToInt(arg, level);
}

int ReportIgnore(TOptionParser& parser, const std::string& opt, const std::string&) {
  LogFmt(parser.Sender(), llWarning, "options \"%s\" not supported, ignore", opt.c_str());
  return 0;
}

int NotSupported(TOptionParser& parser, const std::string& opt, const std::string&) {
  parser.RecordError(FormatText("options \"%s\" not supported", opt.c_str()));
  return -EINVAL;
}

int SetByOutputRecord(TOptionParser& parser, const std::string& opt, const std::string&) {
  LogFmt(parser.Sender(), llVerbose, "options \"%s\" is switched by the output options, ignore", opt.c_str());
  return 0;
}

int LogLevel(TOptionParser& parser, const std::string&, const std::string& arg) {
  int level;
  if (!LogLevelValue(arg, level)) {
    std::string text = FormatText("Invalid loglevel \"%s\". Possible levels are numbers or:\n", arg.c_str());
    for (const TLevelName& n : LevelNames) text += FormatText("\"%s\"\n", n.Name);
    text.pop_back();
    parser.RecordError(text);
    return -EINVAL;
  }
  FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil));
  FF.av_log_set_level(level);
  return 0;
}

int Debug(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil));
  FF.av_log_set_level(AV_LOG_DEBUG);
  return parser.DefaultOption(opt, arg);
}

int MaxAlloc(TOptionParser& parser, const std::string&, const std::string& arg) {
  int64_t bytes;
  if (!TextToInt64(arg, bytes) || bytes < 0) {
    parser.RecordError(FormatText("Invalid max_alloc \"%s\".", arg.c_str()), llFatal);
    return -EINVAL;
  }
  FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil));
  FF.av_max_alloc(size_t(bytes));
  return 0;
}

int Map(TOptionParser& parser, const std::string&, const std::string& arg) {
  TTaskOptions& options = parser.Options();
  std::string map = arg;
  const bool negative = !map.empty() && map[0] == '-';
  if (negative) map.erase(0, 1);

  int syncFile = -1, syncStream = -1;
  const size_t comma = map.find(',');
  if (comma != std::string::npos) {
    const std::string sync = map.substr(comma + 1);
    map.erase(comma);
    const size_t colon = sync.find(':');
    int index;
    if (!TextToInt(sync.substr(0, colon), index) || index < 0 || index >= int(options.Inputs.size()))
      Raise(parser, FormatText("Invalid sync file index: %d.", std::atoi(sync.c_str())));
    syncFile = index;
    syncStream = FirstMatch(options.Inputs[size_t(index)],
                            colon == std::string::npos ? std::string() : sync.substr(colon + 1));
    if (syncStream < 0)
      Raise(parser, FormatText("Sync stream specification in map %s does not match any streams.", arg.c_str()));
  }

  const size_t colon = map.find(':');
  int file;
  if (!TextToInt(map.substr(0, colon), file) || file < 0 || file >= int(options.Inputs.size()))
    Raise(parser, FormatText("Invalid input file index: %d.", std::atoi(map.c_str())));
  const std::string specifier = colon == std::string::npos ? std::string() : map.substr(colon + 1);
  const TStreamList& streams = options.Inputs[size_t(file)];

  bool matched = false;
  if (negative) {
    // Cancels what earlier maps of this output took from the same streams.
    for (TStreamMap& m : options.Group.StreamMaps)
      if (m.FileIndex == file && CheckStreamSpecifier(streams, m.StreamIndex, specifier) > 0) {
        m.Disabled = true;
        matched = true;
      }
  } else {
    for (int i = 0; i < int(streams.size()); ++i) {
      if (CheckStreamSpecifier(streams, i, specifier) <= 0) continue;
      TStreamMap m;
      m.FileIndex = file;
      m.StreamIndex = i;
      m.SyncFileIndex = syncFile >= 0 ? syncFile : file;
      m.SyncStreamIndex = syncFile >= 0 ? syncStream : i;
      options.Group.StreamMaps.push_back(m);
      matched = true;
    }
  }
  if (!matched) Raise(parser, FormatText("Stream map \"%s\" matches no streams.", arg.c_str()));
  return 0;
}

int MapChannel(TOptionParser& parser, const std::string&, const std::string& arg) {
  TTaskOptions& options = parser.Options();
  TAudioChannelMap m;
  m.OutputFileIndex = options.OutputFileCount;
  int n = std::sscanf(arg.c_str(), "%d.%d.%d:%d.%d", &m.FileIndex, &m.StreamIndex, &m.ChannelIndex,
                      &m.OutputFileIndex, &m.OutputStreamIndex);
  if (n != 3 && n != 5) {
    int syncFile, syncStream;
    n = std::sscanf(arg.c_str(), "%d:%d.%d", &m.FileIndex, &syncFile, &syncStream);
    if ((n == 1 || n == 3) && m.FileIndex == -1) {
      // A muted channel.
      m.StreamIndex = m.ChannelIndex = -1;
      if (n == 3) {
        m.OutputFileIndex = syncFile;
        m.OutputStreamIndex = syncStream;
      }
      options.Group.AudioChannelMaps.push_back(m);
      return 0;
    }
    Raise(parser, "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]");
  }
  if (m.FileIndex < 0 || m.FileIndex >= int(options.Inputs.size()))
    Raise(parser, FormatText("mapchan: invalid input file index: %d", m.FileIndex));
  const TStreamList& streams = options.Inputs[size_t(m.FileIndex)];
  if (m.StreamIndex < 0 || m.StreamIndex >= int(streams.size()))
    Raise(parser, FormatText("mapchan: invalid input file stream index #%d.%d", m.FileIndex, m.StreamIndex));
  const TStreamDescriptor& stream = streams[size_t(m.StreamIndex)];
  if (stream.Type != 'a')
    Raise(parser, FormatText("mapchan: stream #%d.%d is not an audio stream.", m.FileIndex, m.StreamIndex));
  if (m.ChannelIndex < 0 || m.ChannelIndex >= stream.Channels)
    Raise(parser, FormatText("mapchan: invalid audio channel #%d.%d.%d", m.FileIndex, m.StreamIndex, m.ChannelIndex));
  options.Group.AudioChannelMaps.push_back(m);
  return 0;
}

int Timestamp(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  LogFmt(parser.Sender(), llWarning, "%s is deprecated, set the \"creation_time\" metadata tag instead.", opt.c_str());
  int64_t us;
  if (arg == "now") {
    us = int64_t(std::time(nullptr)) * 1000000;
  } else {
    FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil));
    if (FF.av_parse_time(&us, arg.c_str(), 0) < 0)
      Raise(parser, FormatText("Invalid %s specification for %s: %s", "date", opt.c_str(), arg.c_str()));
  }
  const std::time_t seconds = std::time_t(us / 1000000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::strftime(text, sizeof text, "creation_time=%Y-%m-%d %H:%M:%S", &utc);
  parser.Options().Group.Metadata.push_back({"", text});
  return 0;
}

int Alias(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  static const struct {
    const char* From;
    const char* To;
  } aliases[] = {
      {"vframes", "frames:v"}, {"aframes", "frames:a"}, {"dframes", "frames:d"}, {"vtag", "tag:v"},
      {"atag", "tag:a"},       {"stag", "tag:s"},       {"absf", "bsf:a"},       {"vbsf", "bsf:v"},
      {"vf", "filter:v"},      {"aq", "q:a"},
  };
  const std::string base = BaseName(opt);
  for (const auto& a : aliases)
    if (base == a.From) return Parse(parser, a.To, arg);
  return AVERROR_BUG;
}

int CodecByType(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  const char type = opt[0];  // vcodec, acodec, scodec, dcodec
  TTaskOptions& options = parser.Options();
  (type == 'v' ? options.VideoCodecName
   : type == 'a' ? options.AudioCodecName
   : type == 's' ? options.SubtitleCodecName
                 : options.DataCodecName) = arg;
  return Parse(parser, std::string("codec:") + type, arg);
}

int Target(TOptionParser& parser, const std::string&, const std::string& arg) {
  enum { PAL, NTSC, FILM, UNKNOWN } norm = UNKNOWN;
  static const char* const frameRates[] = {"25", "30000/1001", "24000/1001"};
  std::string type = arg;
  if (type.compare(0, 4, "pal-") == 0) {
    norm = PAL;
    type.erase(0, 4);
  } else if (type.compare(0, 5, "ntsc-") == 0) {
    norm = NTSC;
    type.erase(0, 5);
  } else if (type.compare(0, 5, "film-") == 0) {
    norm = FILM;
    type.erase(0, 5);
  } else {
    // Guess the norm from the frame rates of the inputs.
    for (const TStreamList& streams : parser.Options().Inputs) {
      for (const TStreamDescriptor& s : streams) {
        if (s.Type != 'v' || s.FrameRate <= 0) continue;
        const long fr = std::lround(s.FrameRate * 1000);
        if (fr == 25000) norm = PAL;
        else if (fr == 29970 || fr == 23976 || fr == 24000) norm = fr == 29970 ? NTSC : FILM;
        if (norm != UNKNOWN) break;
      }
      if (norm != UNKNOWN) break;
    }
    if (norm != UNKNOWN)
      LogFmt(parser.Sender(), llInfo, "Assuming %s for target.", norm == PAL ? "PAL" : norm == NTSC ? "NTSC" : "NTSC-Film");
  }
  if (norm == UNKNOWN) {
    parser.RecordError(
        "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\n"
        "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\n"
        "or set a framerate with \"-r xxx\".");
    return -EINVAL;
  }
  const bool pal = norm == PAL;
  const char* rate = frameRates[norm];
  auto set = [&](const char* name, const char* value) {
    const int ret = parser.ParseOption(name, value);
    if (ret < 0) RaiseFFmpeg(LastOptionError());
  };
  auto setDefault = [&](const char* name, const char* value) {
    if (parser.DefaultOption(name, value) < 0) RaiseFFmpeg(LastOptionError());
  };
  if (type == "vcd") {
    set("codec:v", "mpeg1video");
    set("codec:a", "mp2");
    set("f", "vcd");
    set("s", pal ? "352x288" : "352x240");
    set("r", rate);
    setDefault("g", pal ? "15" : "18");
    setDefault("b:v", "1150000");
    setDefault("maxrate", "1150000");
    setDefault("minrate", "1150000");
    setDefault("bufsize", "327680");
    setDefault("b:a", "224000");
    set("ar", "44100");
    set("ac", "2");
    setDefault("packetsize", "2324");
    setDefault("muxrate", "1411200");
    // The VCD standard asks for a 0.44 s preload; nothing else fits the players.
    parser.Options().Group.MuxPreload = float((36000 + 3 * 1200) / 90000.0);
  } else if (type == "svcd") {
    set("codec:v", "mpeg2video");
    set("codec:a", "mp2");
    set("f", "svcd");
    set("s", pal ? "480x576" : "480x480");
    set("r", rate);
    set("pix_fmt", "yuv420p");
    setDefault("g", pal ? "15" : "18");
    setDefault("b:v", "2040000");
    setDefault("maxrate", "2516000");
    setDefault("minrate", "0");
    setDefault("bufsize", "1835008");
    setDefault("scan_offset", "1");
    setDefault("b:a", "224000");
    set("ar", "44100");
    setDefault("packetsize", "2324");
  } else if (type == "dvd") {
    set("codec:v", "mpeg2video");
    set("codec:a", "ac3");
    set("f", "dvd");
    set("s", pal ? "720x576" : "720x480");
    set("r", rate);
    set("pix_fmt", "yuv420p");
    setDefault("g", pal ? "15" : "18");
    setDefault("b:v", "6000000");
    setDefault("maxrate", "9000000");
    setDefault("minrate", "0");
    setDefault("bufsize", "1835008");
    setDefault("packetsize", "2048");
    setDefault("muxrate", "10080000");
    setDefault("b:a", "448000");
    set("ar", "48000");
  } else if (type == "dv" || type == "dv50") {
    set("f", "dv");
    set("s", pal ? "720x576" : "720x480");
    set("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    set("r", rate);
    set("ar", "48000");
    set("ac", "2");
  } else {
    parser.RecordError(FormatText("Unknown target: %s", arg.c_str()));
    return AVERROR(EINVAL);
  }
  return 0;
}

int VSync(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  int method;
  if (arg == "cfr") method = 1;
  else if (arg == "vfr") method = 2;
  else if (arg == "passthrough") method = 0;
  else if (!TextToInt(arg, method) || method < -1 || method > 2)
    Raise(parser, FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", opt.c_str(), arg.c_str(), -1, 2));
  parser.Options().VideoSyncMethod = method;
  return 0;
}

int QScale(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  const std::string specifier = SpecifierOf(opt);
  if (specifier.empty()) {
    Log(parser.Sender(), llWarning, "Please use -q:a or -q:v, -qscale is ambiguous");
    return Parse(parser, "q:v", arg);
  }
  return Parse(parser, "q:" + specifier, arg);
}

int Attach(TOptionParser& parser, const std::string&, const std::string& arg) {
  parser.Options().Group.Attachments.push_back(arg);
  return 0;
}

int Aspect(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  double value;
  if (!ParseAspectValue(arg, value)) Raise(parser, "Incorrect aspect ratio specification.");
  parser.Options().Group.FrameAspectRatios.push_back({SpecifierOf(opt), arg});
  return 0;
}

int CropRemoved(TOptionParser& parser, const std::string& opt, const std::string&) {
  parser.RecordError(FormatText("Option \"%s\" has been removed, use the crop filter instead", opt.c_str()));
  return -EINVAL;
}

int PadRemoved(TOptionParser& parser, const std::string& opt, const std::string&) {
  parser.RecordError(FormatText("Option \"%s\" has been removed, use the pad filter instead", opt.c_str()));
  return -EINVAL;
}

int Pass(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  int pass;
  if (!TextToInt(arg, pass) || pass < 1 || pass > 3)
    Raise(parser, FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", opt.c_str(), arg.c_str(), 1, 3));
  parser.Options().DoPass = pass;
  return 0;
}

// The quantizer of the source frames is what the encoder would reuse, and decoders of this FFmpeg
// generation no longer report it.
int SameQuantUnavailable(TOptionParser& parser, const std::string& opt, const std::string&) {
  parser.RecordError(FormatText(
      "Option \"%s\" cannot work with this FFmpeg: decoders no longer report the quantizer of their frames, "
      "use -q:v instead",
      opt.c_str()));
  return -EINVAL;
}

int VStats(TOptionParser& parser, const std::string&, const std::string&) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "vstats_%H%M%S.log", &local);
  parser.Options().VStatsFileName = name;
  return 0;
}

int StreamId(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  const size_t colon = arg.find(':');
  if (colon == std::string::npos)
    Raise(parser, FormatText("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"", arg.c_str(),
                             opt.c_str()));
  TStreamId id;
  const std::string index = arg.substr(0, colon), value = arg.substr(colon + 1);
  if (!TextToInt(index, id.OutputStreamIndex) || id.OutputStreamIndex < 0 || id.OutputStreamIndex > 1023)
    Raise(parser, FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", opt.c_str(),
                             index.c_str(), 0, 1023));
  if (!TextToInt(value, id.Id) || id.Id < 0)
    Raise(parser, FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", opt.c_str(),
                             value.c_str(), 0, 0x7FFFFFFF));
  parser.Options().Group.StreamIds.push_back(id);
  return 0;
}

int BitRate(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  if (opt == "b") {
    Log(parser.Sender(), llWarning, "Please use -b:a or -b:v, -b is ambiguous");
    return parser.DefaultOption("b:v", arg);
  }
  return parser.DefaultOption(opt, arg);
}

int GrabDeprecated(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  const bool channel = BaseName(opt) == "vc";
  Log(parser.Sender(), llWarning,
      channel ? "This option is deprecated, use -channel." : "This option is deprecated, use -standard.");
  return parser.DefaultOption(channel ? "channel" : "standard", arg);
}

int PresetFile(TOptionParser& parser, const std::string&, const std::string& arg) {
  return parser.ParsePresetFile(arg);
}

int VideoHook(TOptionParser& parser, const std::string&, const std::string& arg) {
  TTaskOptions& options = parser.Options();
  if (!options.VideoHooks) options.VideoHooks = std::make_unique<TVideoHookChain>();
  try {
    options.VideoHooks->Add(arg);
  } catch (const FFmpegException& e) {
    parser.RecordError(e.what());
    throw;
  }
  return 0;
}

int VideoHookBitsPixel(TOptionParser& parser, const std::string&, const std::string& arg) {
  int bits;
  if (!TextToInt(arg, bits)) {
    Log(parser.Sender(), llError, FormatText("\"%s\" is not a valid integer value", arg.c_str()));
    return -EINVAL;
  }
  parser.Options().VideoHookBitsPixel = bits;
  return 0;
}

int TimeSeconds(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  double seconds;
  if (!TextToDouble(arg, seconds)) {
    Log(parser.Sender(), llError, FormatText("\"%s\" is not a valid floating point value", arg.c_str()));
    return -EINVAL;
  }
  const double us = std::round(seconds * 1000000.0);
  if (!(std::fabs(us) < 9.2e18)) {
    Log(parser.Sender(), llError, FormatText("\"%s\" is out of range", arg.c_str()));
    return -EINVAL;
  }
  const bool start = BaseName(opt) == "TimeStart" || BaseName(opt) == "timestart";
  return Parse(parser, start ? "ss_microsecond" : "t_microsecond", std::to_string(int64_t(us)));
}

int Default(TOptionParser& parser, const std::string& opt, const std::string& arg) {
  return parser.DefaultOption(opt, arg);
}

}  // namespace qm::engine::option_handlers
