// Option strings and preset texts in the language of the ffmpeg command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "engine/option_state.h"

namespace qm::engine {

// Splits text into words by the Windows run-time library's command-line rules: blanks separate,
// double quotes group and vanish, backslashes escape only before a double quote.
std::vector<std::string> SplitWords(const std::string& text);

// Flags of an option table entry.
enum : std::uint32_t {
  OPT_HAS_ARG = 0x1,
  OPT_BOOL = 0x2,
  OPT_EXPERT = 0x4,
  OPT_STRING = 0x8,
  OPT_VIDEO = 0x10,
  OPT_AUDIO = 0x20,
  OPT_GRAB = 0x40,
  OPT_INT = 0x80,
  OPT_FLOAT = 0x100,
  OPT_SUBTITLE = 0x200,
  OPT_INT64 = 0x400,
  OPT_EXIT = 0x800,
  OPT_DATA = 0x1000,
  OPT_FUNC2 = 0x2000,
  OPT_OFFSET = 0x4000,
  OPT_PER_STREAM = 0x8000,
  OPT_TIME = 0x10000,
  OPT_DOUBLE = 0x20000,
};

class TOptionParser;
// Receives the option name as written (with its specifier) and the argument; returns a negative
// error code on failure, else 0.
using TOptionHandler = int (*)(TOptionParser& parser, const std::string& name, const std::string& arg);

using TOptionDestination =
    std::variant<TOptionHandler, std::string TFileOptionGroup::*, bool TFileOptionGroup::*,
                 int TFileOptionGroup::*, int64_t TFileOptionGroup::*, float TFileOptionGroup::*,
                 TPerStream<std::string> TFileOptionGroup::*, TPerStream<bool> TFileOptionGroup::*,
                 TPerStream<int> TFileOptionGroup::*, TPerStream<int64_t> TFileOptionGroup::*,
                 TPerStream<float> TFileOptionGroup::*, TPerStream<double> TFileOptionGroup::*,
                 std::string TTaskOptions::*, bool TTaskOptions::*, int TTaskOptions::*, float TTaskOptions::*>;

struct TOptionDef {
  const char* Name;
  std::uint32_t Flags;
  TOptionDestination Destination;
  const char* Help;
  const char* ArgName;
};

// The table, in its fixed order; the last entry is the catch-all "default".
const std::vector<TOptionDef>& OptionTable();
const TOptionDef* FindOptionDef(const std::string& name);

// The text of the last option error, for the whole process.
const std::string& LastOptionError();

class TOptionParser {
 public:
  // In raise mode every error ends parsing with FFmpegException; a task of the encoder always
  // parses in raise mode.
  explicit TOptionParser(TTaskOptions& options, bool raiseMode = true, void* sender = nullptr);

  // A null text does nothing. Results: 0 or a negative error code (without raise mode).
  int ParseOptions(const char* text);
  int ParsePresets(const char* text);
  // Reads a preset file: lines of key=value, as a preset text.
  int ParsePresetFile(const std::string& fileName);

  // One option; arg is null when none follows. 1 when the argument was used, 0 when not,
  // negative on error.
  int ParseOption(const std::string& name, const char* arg);
  // The catch-all: FFmpeg's codec, format and scaler options.
  int DefaultOption(const std::string& name, const std::string& arg);

  TTaskOptions& Options() { return FOptions; }
  bool RaiseMode() const { return FRaiseMode; }
  void* Sender() const { return FSender; }

  // Appends text on a new line to the last option error and logs it.
  void RecordError(const std::string& text, int level = 3 /* llError */);
  // Starts a new error text; the top-level calls above do this themselves.
  static void ClearError();

 private:
  int ParseWords(const std::vector<std::string>& words);
  int ParsePresetLines(const std::string& text, const std::string& fileName);
  void ApplyLogLevelFirst(const std::vector<std::string>& words);
  int Fail(int code, const char* prefix);

  TTaskOptions& FOptions;
  bool FRaiseMode;
  void* FSender;
};

// Values in the host's number syntax ("." or "," as decimal point). False when text is not one.
bool TextToInt(const std::string& text, int& value);
bool TextToInt64(const std::string& text, int64_t& value);
bool TextToDouble(const std::string& text, double& value);

// Names the engine's own input formats take as format options (the frame input source).
const std::vector<std::string>& EngineFormatOptionNames();

}  // namespace qm::engine
