// The format catalogue, the output profile and the encoder arguments built from it. No widgets:
// the picker and format windows and quellmark-cli all call these functions.
//
// Errors: catalogue files that cannot be read are reported in the log and skipped entry by
// entry; writing the profile raises qm::app::IoError; sizes and rates that cannot be read raise
// qm::app::ConversionError from PrepareFileOption and AppendProfileArguments.
#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

#include "app/core/app_core.h"

namespace qm::formats {

// ---------------------------------------------------------------------------
// Catalogue.

struct TFormatInfo {
    int32_t ID = 0;
    int32_t GroupID = 0;
    bool Skip = false;
    int32_t FormatType = 0;
    QString Format;  // extension with its dot
    QString ICON;
    QImage IconImage;  // null when there is none; copies share the entry's picture
    bool Enabled = false;
    QString Name;
    QString description;
    QString VideoEncoderList;
    QString ResolutionList;
    QString FrameRateList;
    QString VideoBitRateList;
    QString VideoEncoder;
    QString Resolution;
    int32_t VideoBitrate = 0;  // kbit/s, -1 "Keep original"
    QString FrameRate;
    QString AudioEncoderlist;
    QString SampleRateList;
    QString ChannelList;
    QString AudioBitRateList;
    QString AudioEncoder;
    int32_t SampleRate = 0;
    int32_t Channel = 0;
    int32_t AudioBitrate = 0;
    int32_t Interpolation = 0;
    int32_t ResizeStyle = 0;
    int32_t Norm = 0;
};

using TFormatList = QList<TFormatInfo>;

struct TGroupFormat {
    int32_t FormatType = 0;
    int32_t Order = 0;
    QString Name;
    QImage IconImage;
    QString ICO;
};

inline constexpr int32_t DefaultFormatID = 1004;
inline constexpr int32_t AudioGroupID = 2;
inline constexpr int32_t RecentGroupID = 5;
inline constexpr int32_t UserGroupID = 6;
inline constexpr int32_t UserFormatIDThreshold = 4000;  // ids above are user formats
inline constexpr int MaxUserFormats = 99;

extern TFormatList BuiltInFormats;
extern TFormatList UserFormats;
extern QList<TGroupFormat> FormatGroups;
extern TFormatInfo CurrentFormat;

// Folder of the catalogue files, "skin/Format/" and "LibAV", with a trailing "/": the folder
// of the running program unless set (tests point it elsewhere).
QString ProgramDir();
void SetProgramDir(const QString& folder);

QString BuiltInFormatFileName();  // ProgramDir() + "Format.dat"
QString GroupFileName();          // ProgramDir() + "Group.dat"
QString UserFormatFileName();     // DataDir + "UserFormat.dat"
QString FormatIconFileName(const QString& icon);  // ProgramDir() + "skin/Format/" + icon + ".png"

// Appends the file's formats to `list`. A missing file adds nothing; a file that cannot be
// parsed adds nothing and is logged; an entry that lacks an attribute or element, or holds a
// number that is not one, is logged and skipped. Returns false when anything was logged.
bool LoadFormatFile(const QString& path, TFormatList& list);
// Adds one format element, creating the file when missing. An existing file that cannot be
// parsed is left untouched (logged, false). The file is replaced only once fully written.
bool AppendFormatToFile(const TFormatInfo& format, const QString& path);
// Removes the first element whose ID is `id`; without one the file is not rewritten. False
// when the file could not be parsed or written (logged).
bool DeleteFormatFromFile(int32_t id, const QString& path);
// Copies the entry with that id (user formats for ids above 4000) into `format`; when none
// matches, `format` is unchanged and the result is false.
bool FindFormat(int32_t id, TFormatInfo& format);
void ClearFormatList(TFormatList& list);

// Empties FormatGroups and reads GroupFileName() into it (bad entries logged and skipped).
bool LoadGroupFile();
void ClearGroups();
int CountGroups(int32_t formatType);
int32_t NextUserFormatID();

// The user formats as the picker and the user format dialog use them: the file is changed,
// then UserFormats is reloaded from it so the two never differ. Adding refuses once
// MaxUserFormats exist.
bool CanAddUserFormat();
bool AddUserFormat(const TFormatInfo& format);
bool DeleteUserFormat(int32_t id);
void ReloadUserFormats();

// ---------------------------------------------------------------------------
// Encoders of the loaded engine.

// Answers whether the engine has an encoder of that name. The default asks the loaded
// libavcodec (false while it is not loaded); tests set their own; an empty one restores it.
using TEncoderProbe = std::function<bool(const QString& encoderName)>;
void SetEncoderProbe(TEncoderProbe probe);
bool EngineHasEncoder(const QString& encoderName);

// Encoders that a format's defaults need and the engine lacks (empty when it can be made).
QStringList MissingEncoders(const TFormatInfo& format);
// Marks the formats whose default encoders are missing as skipped (one log line each) and
// drops list entries naming missing encoders, so the picker offers only what can be made.
void HideUnavailableFormats(TFormatList& list);

// ---------------------------------------------------------------------------
// Output options.

struct TSWFInfo {
    QString FileName;
    int32_t FrameCount = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    QString FrameRate;
    int32_t FlashVersion = 0;
};

struct TWaterMark {
    QString ImageFile;
    QString PreparedFile;
    int32_t Opacity = 0;
    app::TRect Rect;
    int32_t Kind = 0;
    app::TRect ViewRect;
    double AspectRatio = 0;
    bool KeepAspect = false;
};

struct TVCOutPutOptions {
    int32_t FormatID = -1;
    QString FileExt;
    QString Name;
    QString OutFileName;
    int32_t WatermarkKind = -1;
    TWaterMark WaterMark;
    bool CropEnabled = false;
    app::TRect CropRect;
    app::TRect CropViewRect;
    bool IsPSP = false;
    int32_t ReplaceAudioMode = 0;
    QString ReplaceAudioFile;
    QString AudioCodec;
    bool AudioDisabled = false;
    int32_t Channels = -1;
    int32_t SampleRate = -1;
    int32_t AudioBitRate = -1;
    QString VideoCodec;
    bool DisableVideo = false;
    QString FrameRate;
    int32_t VideoBitRate = -1;  // -1 automatic
    QString Resolution;
    QString FitSize;
    bool KeepOriginalSize = false;
    QString SourceSize;
};

struct TFileOption {
    TSWFInfo SWFInfo;
    TVCOutPutOptions Options;
};

extern TVCOutPutOptions CurrentOptions;

inline const QString KeepOriginal = QStringLiteral("Keep original");

void ClearOptions(TVCOutPutOptions& options);
// Sets the profile fields from the catalogue format `id`; false (and `options` unchanged)
// when the catalogue has no such format.
bool OptionsFromFormat(TVCOutPutOptions& options, int32_t id);
void OptionsFromCurrentFormat();

QString FormatDefaultFileName();  // DataDir + "FormatDefault.ini"
void LoadDefaultOptions(TVCOutPutOptions& options, int32_t defaultId);
void SaveDefaultOptions(const TVCOutPutOptions& options);

QStringList ReadRecent();
void AddRecent(int32_t id);
void RemoveRecent(int32_t id);

// Copies the profile from CurrentOptions and computes Resolution, FitSize and
// KeepOriginalSize from SourceSize.
void PrepareFileOption(TFileOption& fileOption);

QString VideoEncoderName(const QString& displayName);
QString AudioEncoderName(const QString& displayName);

// The start-up order: built-in formats (those the loaded engine cannot make hidden), the user's
// formats, the current profile from "FormatDefault.ini" and its format, then the groups. Load
// the engine first.
void LoadFormatCatalogue();

// Appends the profile's argument pieces (codecs, rates, bit rates) to `options`.
void AppendProfileArguments(const TFileOption& fileOption, QString& options);
// The automatic video bit rate in kbit/s for a WxH resolution at `frameRate` frames/s.
int32_t AutomaticVideoBitRate(const QString& resolution, double frameRate);

// ---------------------------------------------------------------------------
// The values of the format settings window, as typed or picked, checked and taken into a
// profile by plain functions so the command line can check its values the same way.

// "WxH" with exactly one lower-case "x", the width 80 to 1920 and the height 80 to 1280. An
// empty part does not pass; a part that is not a decimal integer raises ConversionError
// "'%s' is not a valid integer value".
bool CheckResolution(const QString& text);
// The number at the start of a frame-rate text ("12.5 fps" gives "12.5"), or empty when it is
// not a rate from 12 to 60. A number with two separate decimal points raises ConversionError
// "'%s' is not a valid floating point value".
QString ParseFrameRate(const QString& text);
// The decimal digits at the start of the text as an integer ("512 kbps" gives 512); 0 when it
// does not start with a digit or the number does not fit.
int32_t LeadingNumber(const QString& text);

// The texts of the window's eight boxes and its audio choices.
struct TFormatValues {
    QString VideoEncoder, Resolution, FrameRate, VideoBitRate;
    QString AudioEncoder, Channel, SampleRate, AudioBitRate;
    bool AudioEnabled = true;
    bool ReplaceAudio = false;
    bool Loop = false;
    QString AudioFile;
};

enum class TFormatValueBox { None, Resolution, FrameRate, VideoBitRate, AudioBitRate };

struct TFormatValueCheck {
    TFormatValueBox Box = TFormatValueBox::None;  // the first box that fails
    QString Message;                              // its two lines joined by CR LF
    bool Passed() const { return Box == TFormatValueBox::None; }
};

// Checks the values for `format` (only the audio bit rate for an audio-only one). An entry the
// format itself offers always passes, as do "Keep original" and, for the video bit rate, "Auto".
// A conversion error raised by a check becomes its message.
TFormatValueCheck ValidateFormatValues(const TFormatInfo& format, const TFormatValues& values);
// Writes the values into the profile (the video values not for format 2, which keeps its
// own) and the replacement sound into `movie` when given. "Auto" and "Keep original" as video
// bit rate mean automatic (-1).
void TakeFormatValues(const TFormatInfo& format, const TFormatValues& values,
                      TVCOutPutOptions& options, TVCOutPutOptions* movie);

// A user format saved from `base` with the values of `options`: names trimmed, the user
// group, the next user id, the top list.
TFormatInfo UserFormatFrom(const TFormatInfo& base, const TVCOutPutOptions& options,
                           const QString& name, const QString& description);

// Why a file cannot be the replacement sound, in the window's words, or empty when it opens
// and holds audio and no video. Needs the engine libraries (their absence raises).
QString AudioFileRefusal(const QString& path);

}  // namespace qm::formats
