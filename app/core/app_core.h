// The application shell's core: settings store, event log, system report and
// the shared utilities. Qt Core and Network only, so quellmark-cli links it too.
//
// Errors: file writes that fail raise IoError (settings keys, log lines);
// malformed numbers raise ConversionError (CompareVersion, ParseSize, MapRect).
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace qm::app {

class IoError : public std::runtime_error {
public:
    explicit IoError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// ---------------------------------------------------------------------------
// INI files with the semantics of the classic private-profile calls: nothing is
// held open, every write reaches the disk before it returns, a missing file is
// created by the first write, new sections and keys are appended in write order,
// section and key names match without regard to case.
class IniFile {
public:
    explicit IniFile(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // The key's text with surrounding blanks removed; `def` when the file,
    // section or key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& def = {}) const;
    // Decimal (or 0x hexadecimal) integer; any other text reads as `def`.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // Non-zero integer is true; text that is not an integer reads as `def`.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // Raises IoError("Unable to write to <path>") when the file cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value) const;
    void WriteBool(const QString& section, const QString& key, bool value) const;

private:
    QString path_;
};

// ---------------------------------------------------------------------------
// Settings. Process-wide values, written on the main thread only (through the
// Write* calls below, which also update the in-memory value), read anywhere.

extern QString DataDir;         // documents folder + "Brelvik/Quellmark Converter/"
extern QString SystemTempPath;  // the system temporary folder with a trailing "/"

extern QString SnapshotPath;
extern QString OutputPath;
extern QString SnapshotExt;
extern QString SourcePath;
extern QString SourceImgPath;
extern QString SourceAudioPath;
extern QString CaptureTempPath;
extern bool OverWrite;
extern bool IsCheckUpdate;

// Not stored: 0 nothing, 1 exit the program, 2 shut the computer down.
extern int FinishAction;
// Not stored: 0 manual, 1 manual ending at the last frame, 2 automatic.
extern int CaptureMode;
// Key "FastCapture", default false, not written at start-up: the automatic
// capture renders the movie offline (exact frame times and sound) instead of
// recording it in real time.
extern bool FastCapture;

// The application's title, the caption of its own message boxes.
inline const QString kApplicationTitle = QStringLiteral("Brelvik Quellmark Converter");

inline const QString kSettingsSection = QStringLiteral("Output");
QString SettingsFileName();  // DataDir + "Mirasta.ini"

// Reads the settings file and writes back the keys that hold no value, so a
// fresh file gets all nine keys. Raises IoError when a key cannot be written.
void LoadSettings();
// The same with the documents folder and temporary folder given (both with a
// trailing "/"); LoadSettings passes GetPersonalFolder() and the system's.
void LoadSettings(const QString& documentsFolder, const QString& tempFolder);

// Write one key of section "Output" at once and set the in-memory value of the
// same name. `key` is the key's name ("SnapshotPath", "OverWrite", ...).
void WriteSetting(const QString& key, const QString& value);
void WriteSetting(const QString& key, bool value);

// What the Options window's OK applies, as the window's controls show it.
struct OptionChoices {
    int FinishAction = 0;
    bool OverWrite = false;
    bool IsCheckUpdate = true;
    int CaptureMode = 0;
    bool FastCapture = false;
    QString CaptureTempPath;
    QString SnapshotPath;
    QString SnapshotExt;
    QString OutputPath;
};
// Takes the choices into the in-memory values. OverWrite is always written;
// every other stored key only when its value differs (exact text), and a
// temporary folder equal to SystemTempPath is stored empty. Raises IoError.
void ApplyOptionChoices(const OptionChoices& choices);
// 2 when automatic, else 1 when ending at the last frame, else 0.
int CaptureModeOf(bool automatic, bool autoEnd);
// The extension a snapshot format item names: the text after the first "*."
// up to, not including, the item's last character ("Bitmap File(*.bmp)" gives
// "bmp"); empty when the item names none.
QString FormatItemExtension(const QString& item);

// ---------------------------------------------------------------------------
// Single instance: an exclusive lock on a file named by kInstanceGuid in the
// runtime folder (XDG_RUNTIME_DIR, else the temporary folder).
inline constexpr const char* kInstanceGuid = "{6F3B2A91-4C7D-4E58-9A0B-1D2E3F405162}";
QString InstanceLockPath();

class SingleInstanceLock {
public:
    explicit SingleInstanceLock(QString path = InstanceLockPath());
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when this process now holds the lock (for as long as the object
    // lives); false when another process holds it. A lock file that cannot be
    // opened at all counts as held here, so the program still starts.
    bool Acquire();
    bool lockFileUsable() const { return fd_ >= 0; }

private:
    QString path_;
    int fd_ = -1;
};

// ---------------------------------------------------------------------------
// Event log. Lines are "YYYY-MM-DD HH:NN:SS" local time, then four spaces
// (WriteInfo) or two (WriteError), then the message, ended by "\n", UTF-8.
// Each line opens, appends and closes the file; a mutex keeps lines whole when
// threads write at once. A line that cannot be written raises IoError; the log
// keeps its path and later lines try again.
class TBrvLog {
public:
    explicit TBrvLog(QString path);  // creates the file empty when missing (IoError on failure)
    const QString& path() const { return path_; }

    void WriteInfo(const QString& message);
    void WriteError(const QString& message);

private:
    void WriteLine(const QString& separator, const QString& message);
    QString path_;
    std::mutex mutex_;
};

// The one log of the process, set by InitLog; null before.
extern std::unique_ptr<TBrvLog> AppLog;

QString LogFolder();  // DataDir + "Log/"
// log10.txt is deleted, log1..log9 move up by one; gaps stay as they are.
void RotateLogs(const QString& logFolder);
// Creates the log folder, rotates, and opens AppLog on log1.txt.
void InitLog();

// ---------------------------------------------------------------------------
// System report and versions.
QString GetOSName();
QString GetMemorySize();      // "%d MB"
QString GetSystemLanguage();  // English name of the locale's language
QString GetSystemCountry();   // the country's name in its own language
QString GetFlashPlayerVersion();
// "%d.%d.%d" or "%d.%d.%d.%d". The program's own files carry the version
// compiled in; other files have no version and give empty text.
QString GetFileVersionString(const QString& file, int parts);
QString GetOSVersion();  // kernel "major.minor"
// Dots removed, whole numbers compared: 0 equal, 1 other smaller, 2 other larger.
// Raises ConversionError when a text is not a decimal integer without its dots.
int CompareVersion(const QString& current, const QString& other);

// Ten lines through AppLog->WriteInfo; `screenSize` is "W X H" of the primary
// screen, empty without a display.
void WriteSystemReport(const QString& screenSize);
QString ScreenSizeText(int width, int height);

// ---------------------------------------------------------------------------
// Shared utilities.

struct TRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

bool EnsureFolder(const QString& folder);
QString GetPersonalFolder();  // the XDG documents folder with a trailing "/"

// Core of the CD-ROM refusal: is the folder on a read-only iso9660 or udf mount?
bool IsOnReadOnlyOpticalMount(const QString& folder);
// The same decision over a given /proc/self/mountinfo text.
bool IsOnReadOnlyOpticalMount(const QString& folder, const QString& mountInfo);

QString ReadIniValue(const QString& iniFile, const QString& section, const QString& key,
                     const QString& def);

// Progress: bytes so far, bytes expected (0 when unknown), HTTP status (0
// before headers arrive), status text, and a cancel flag the callback may set.
using DownloadProgress = std::function<void(int64_t received, int64_t expected, int status,
                                            const QString& statusText, bool& cancel)>;
// HTTP GET of `url` into `localFile`. True on success. On failure (refused,
// HTTP error, cancelled, time-out) answers false and leaves an existing file
// untouched. `cancel`, when given, is polled between network events. Runs a
// local event loop, so call it on the main thread or inside a QThread.
bool DownloadURLToFile(const QString& url, const QString& localFile,
                       const DownloadProgress& progress = {},
                       const std::atomic<bool>* cancel = nullptr);

QString UseLocaleDecimal(const QString& text);
QStringList SplitText(const QString& text, const QString& separator);
// "WxH" (lower-case x). Raises ConversionError on anything else.
void ParseSize(const QString& size, int32_t& width, int32_t& height);
TRect FitRect(const TRect& source, const TRect& destination);
TRect MapRect(const TRect& r, const QString& sizeA, const QString& sizeB);
QString FileNameNoExt(const QString& path);
QString UniqueFileName(const QString& path);
QString NumberedFileName(const QString& path, const QString& extension,
                         const QString& separator);

// Title bar places: logo, title label, close button (given the panel's and
// the button's widths).
struct TitleBarPlaces {
    QPoint logo, title, close;
};
TitleBarPlaces TitleBarLayout(int panelWidth, int closeButtonWidth);

// A movie's frame rate as its exact decimal value, without trailing zeros or exponent, with
// the system's decimal separator (24.0 gives "24", 29.96875 stays "29.96875").
QString FrameRateText(double frameRate);

// Decimal integer with an optional sign and nothing else, within 32 bits.
bool ParseInt32(const QString& text, int32_t& out);
// Nearest integer, halves to even; NaN gives 0 and values beyond 32 bits clamp.
int32_t RoundHalfEven(double x);

}  // namespace qm::app
