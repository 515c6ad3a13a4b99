#include "engine/option_parser.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <type_traits>

#include "engine/engine_errors.h"
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "engine/logger.h"
#include "engine/option_handlers.h"

namespace qm::engine {

namespace {

// The error of the parse just made on this thread: a batch builds several conversions' tasks at
// once, each on its own thread, and one must not clear or mix another's text.
thread_local std::string LastError;

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

}  // namespace

const std::string& LastOptionError() { return LastError; }

void TOptionParser::ClearError() { LastError.clear(); }

TOptionParser::TOptionParser(TTaskOptions& options, bool raiseMode, void* sender)
    : FOptions(options), FRaiseMode(raiseMode), FSender(sender) {}

void TOptionParser::RecordError(const std::string& text, int level) {
  if (!LastError.empty()) LastError += "\n";
  LastError += text;
  Log(FSender, TLogLevel(level), text);
}

int TOptionParser::Fail(int code, const char* prefix) {
  if (FRaiseMode) RaiseFFmpeg(LastError.empty() ? ErrorText(prefix, code) : LastError);
  return code;
}

void TOptionParser::ApplyLogLevelFirst(const std::vector<std::string>& words) {
  for (size_t i = 0; i + 1 < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "-loglevel" || w == "-v" || w == "-nologlevel" || w == "-nov") {
      int level;
      if (option_handlers::LogLevelValue(words[i + 1], level) && FF.av_log_set_level) FF.av_log_set_level(level);
      return;
    }
  }
}

int TOptionParser::ParseOptions(const char* text) {
  if (!text) return 0;
  ClearError();
  LogFmt(FSender, llInfo, "ParseOptions: %s", text);
  const std::vector<std::string> words = SplitWords(text);
  ApplyLogLevelFirst(words);
  return ParseWords(words);
}

int TOptionParser::ParseWords(const std::vector<std::string>& words) {
  for (size_t i = 0; i < words.size();) {
    const std::string& word = words[i];
    if (word.size() > 1 && word[0] == '-') {
      const char* arg = i + 1 < words.size() ? words[i + 1].c_str() : nullptr;
      const int ret = ParseOption(word.substr(1), arg);
      if (ret < 0) return Fail(ret, "Failed to parse options");
      i += size_t(1 + ret);
      continue;
    }
    if (FRaiseMode) {
      ClearError();
      RecordError(word.empty() ? std::string("Failed to parse options") : "Failed to parse options on " + word);
      return Fail(-EINVAL, "Failed to parse options");
    }
    Log(FSender, llWarning, "Invalid option found while parsing options, ignore");
    ++i;
  }
  return 0;
}

namespace {

// Stores one value into its destination by the destination's type.
struct TStore {
  TOptionParser& Parser;
  const TOptionDef& Def;
  const std::string& Name;
  const std::string& Specifier;
  const std::string& Arg;
  bool BoolValue;

  [[noreturn]] void Raise(const std::string& text) const {
    Parser.RecordError(text, llError);
    RaiseFFmpeg(text);
  }

  template <class T>
  T Convert() const {
    if constexpr (std::is_same_v<T, std::string>) {
      return Arg;
    } else if constexpr (std::is_same_v<T, bool>) {
      return BoolValue;
    } else if constexpr (std::is_same_v<T, int>) {
      int v;
      if (!TextToInt(Arg, v)) Raise(FormatText("Expected integer for %s but found %s", Name.c_str(), Arg.c_str()));
      return v;
    } else if constexpr (std::is_same_v<T, int64_t>) {
      int64_t v;
      if (Def.Flags & OPT_TIME) {
        FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil));
        if (FF.av_parse_time(&v, Arg.c_str(), 1) < 0)
          Raise(FormatText("Invalid %s specification for %s: %s", "duration", Name.c_str(), Arg.c_str()));
      } else if (!TextToInt64(Arg, v)) {
        Raise(FormatText("Expected int64 for %s but found %s", Name.c_str(), Arg.c_str()));
      }
      return v;
    } else if constexpr (std::is_same_v<T, float>) {
      double v;
      if (!TextToDouble(Arg, v)) Raise(FormatText("Expected float for %s but found %s", Name.c_str(), Arg.c_str()));
      return float(v);
    } else {
      static_assert(std::is_same_v<T, double>);
      double v;
      if (!TextToDouble(Arg, v)) Raise(FormatText("Expected double for %s but found %s", Name.c_str(), Arg.c_str()));
      return v;
    }
  }

  int operator()(TOptionHandler handler) const {
    const int ret = handler(Parser, Name, Arg);
    if (ret < 0)
      Parser.RecordError(FormatText("Failed to set value \"%s\" for option \"%s\"", Arg.c_str(), Name.c_str()));
    return ret;
  }
  template <class T>
  int operator()(TPerStream<T> TFileOptionGroup::*member) const {
    (Parser.Options().Group.*member).push_back({Specifier, Convert<T>()});
    return 0;
  }
  template <class T>
  int operator()(T TFileOptionGroup::*member) const {
    Parser.Options().Group.*member = Convert<T>();
    return 0;
  }
  template <class T>
  int operator()(T TTaskOptions::*member) const {
    Parser.Options().*member = Convert<T>();
    return 0;
  }
};

}  // namespace

int TOptionParser::ParseOption(const std::string& name, const char* arg) {
  const size_t colon = name.find(':');
  const std::string base = name.substr(0, colon);
  const TOptionDef* def = FindOptionDef(base);
  bool boolValue = true;
  if (!def && base.compare(0, 2, "no") == 0) {
    def = FindOptionDef(base.substr(2));
    if (def && (def->Flags & OPT_BOOL))
      boolValue = false;
    else
      def = nullptr;
  }
  if (!def) def = FindOptionDef("default");
  if (!def) {
    RecordError(FormatText("Unrecognized option \"%s\"", name.c_str()));
    return -EINVAL;
  }
  if ((def->Flags & OPT_HAS_ARG) && !arg) {
    RecordError(FormatText("Missing argument for option \"%s\"", name.c_str()));
    return -EINVAL;
  }
  const std::string specifier = colon == std::string::npos ? std::string() : name.substr(colon + 1);
  const std::string value = (def->Flags & OPT_HAS_ARG) && arg ? arg : "";
  const int ret = std::visit(TStore{*this, *def, name, specifier, value, boolValue}, def->Destination);
  if (ret < 0) return ret;
  return (def->Flags & OPT_HAS_ARG) ? 1 : 0;
}

int TOptionParser::DefaultOption(const std::string& name, const std::string& arg) {
  FFLoader().CheckLibsLoaded(LibraryBit(libAVUtil) | LibraryBit(libAVCodec) | LibraryBit(libAVFormat) |
                             LibraryBit(libSWScale));
  const std::string shortName = name.substr(0, std::min<size_t>(name.find(':'), 127));
  const int search = AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ;
  bool consumed = false;

  const AVClass* codecClass = FF.avcodec_get_class();
  if (FF.av_opt_find(&codecClass, shortName.c_str(), nullptr, 0, search) ||
      (!shortName.empty() && std::strchr("vas", shortName[0]) &&
       FF.av_opt_find(&codecClass, shortName.c_str() + 1, nullptr, 0, search))) {
    FOptions.CodecOptions.Set(name, arg);
    consumed = true;
  }

  const AVClass* formatClass = FF.avformat_get_class();
  bool engineFormatOption = false;
  for (const std::string& own : EngineFormatOptionNames()) engineFormatOption |= own == shortName;
  if (engineFormatOption || FF.av_opt_find(&formatClass, shortName.c_str(), nullptr, 0, search)) {
    FOptions.FormatOptions.Set(name, arg);
    consumed = true;
  }

  const AVClass* scalerClass = FF.sws_get_class();
  if (!consumed && FF.av_opt_find(&scalerClass, shortName.c_str(), nullptr, 0, search)) {
    // Check the value at once on a scratch scaler, as the command-line tool did on its own.
    SwsContext* scaler = FF.sws_alloc_context();
    const int ret = scaler ? FF.av_opt_set(scaler, shortName.c_str(), arg.c_str(), 0) : AVERROR(ENOMEM);
    if (scaler) FF.sws_freeContext(scaler);
    if (ret < 0) {
      RecordError(FormatText("Error setting option \"%s\"", name.c_str()));
      return ret;
    }
    FOptions.ScalerOptions.Set(shortName, arg);
    consumed = true;
  }

  if (!consumed) {
    RecordError(FormatText("Unrecognized option \"%s\"", name.c_str()));
    return AVERROR_OPTION_NOT_FOUND;
  }
  return 0;
}

int TOptionParser::ParsePresets(const char* text) {
  if (!text) return 0;
  ClearError();
  LogFmt(FSender, llInfo, "ParsePresets: %s", text);
  return ParsePresetLines(text, std::string());
}

int TOptionParser::ParsePresetFile(const std::string& fileName) {
  // Only a regular file: a device or a pipe named here could be read forever.
  std::error_code ec;
  std::ifstream file;
  if (std::filesystem::is_regular_file(fileName, ec)) file.open(fileName, std::ios::binary);
  if (!file.is_open()) {
    RecordError(FormatText("Preset file \"%s\" not found", fileName.c_str()));
    return -EINVAL;
  }
  std::ostringstream content;
  content << file.rdbuf();
  return ParsePresetLines(content.str(), fileName);
}

int TOptionParser::ParsePresetLines(const std::string& text, const std::string& fileName) {
  std::string all = Trim(text);
  ReplaceAll(all, "\r\n", "\n");
  ReplaceAll(all, "\r", "\n");
  ReplaceAll(all, "<CRLF>", "\n");
  const std::string where = fileName.empty() ? std::string() : fileName + ": ";
  std::istringstream lines(all);
  for (std::string raw; std::getline(lines, raw);) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    if (key.empty() || value.empty()) {
      RecordError(where + FormatText("Invalid syntax: \"%s\"", line.c_str()));
      return Fail(-EINVAL, "Failed to parse presets");
    }
    const std::string lower = Lower(key);
    int ret;
    if (lower == "acodec" || lower == "vcodec" || lower == "scodec" || lower == "dcodec")
      ret = ParseOption(std::string("c:") + lower[0], value.c_str());
    else
      ret = DefaultOption(key, value);
    if (ret < 0) {
      RecordError(where + FormatText("Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", line.c_str(),
                                     key.c_str(), value.c_str()));
      return Fail(ret, "Failed to parse presets");
    }
  }
  return 0;
}

}  // namespace qm::engine
