// The conversion window: after the capture it turns the raw sound into the WAV file, prepares
// the watermark picture, builds the looped replacement sound when one is asked for, and runs the
// main engine run from the intermediate video and the sound to the output file, with progress,
// cancelling, the finished view and the after-conversion action. The steps themselves are the
// plain functions of conversion/conversion.h; this window only drives them.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "controls/skinned_window.h"
#include "formats/core/formats_core.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace qm::audio {
class TSoundHook;
}
namespace qm::engine {
class TFFEncoder;
struct TProgressInfo;
struct TTerminateInfo;
}  // namespace qm::engine

namespace qm::conversion {

// The message boxes of the conversion windows. Tests replace the function so that no box ever
// blocks them; it answers true for OK.
enum class BoxIcon { Information, Warning, Error };
enum class BoxButtons { Ok, OkCancel };
using TMessageBoxFunction = std::function<bool(QWidget* parent, const QString& text, const QString& caption,
                                               BoxIcon icon, BoxButtons buttons)>;
// An empty function restores the program's own boxes.
void SetConversionMessageBox(TMessageBoxFunction box);
bool ConversionMessageBox(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon,
                          BoxButtons buttons);

class TConverterfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    // `job` is the window's own copy of the main window's FileOption after the capture.
    // `soundHook` names the capture's files (VideoFileName, WavFileName, RawFileName) and makes
    // the WAV file; it is not owned and must outlive the window. The engine libraries must be
    // loaded.
    TConverterfrm(const formats::TFileOption& job, audio::TSoundHook& soundHook, QWidget* parent = nullptr);
    ~TConverterfrm() override;

    // What the after-conversion action "exit the program" does: by default every window of the
    // program closes and the application quits. Tests set their own; empty restores the default.
    static void SetExitProgramHook(std::function<void()> exitProgram);
    // Shows the shutdown window modally when the action is "Shutdown"; tests set their own.
    static void SetShowShutdownHook(std::function<void(QWidget* parent)> showShutdown);
    // The two after-conversion actions, through the hooks above; the main window uses them too
    // when a fast capture made the output without this window.
    static void ExitProgramAfterConversion();
    static void ShowShutdownAfterConversion(QWidget* parent);

    const formats::TFileOption& Job() const { return Job_; }
    // The output file, known once the main run is prepared.
    const QString& OutputPath() const { return OutputPath_; }
    // The run finished and the window shows where the output went.
    bool Completed() const;
    // The private folder that holds the prepared watermark picture while the window lives.
    QString WatermarkFolder() const;

    // The window's handlers, named as the rest of the program knows them.
    void FormShow();
    void tmrMergerAudioTimer();
    void tmrConverterTimer();
    void FFEncoderProgress(const engine::TProgressInfo& info);
    void FFEncoderTerminate(const engine::TTerminateInfo& info);
    void btnCancelClick();
    void btnOKClick();
    void btnMinClick();

    // However the window closes, the temporary files go with it.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool NeedsAudioLoop();
    bool StartAudioLoop();
    bool StartMerge();
    void CloseAsCancelled();
    void RemoveOwnOutput();
    void FormClose();
    void DeleteTemporaryFiles();

    formats::TFileOption Job_;
    audio::TSoundHook& SoundHook_;
    QString OutputPath_;
    int32_t LoopCount_ = 0;
    QString LoopedAudioFile_;
    std::unique_ptr<engine::TFFEncoder> FFEncoder_;
    std::unique_ptr<QTemporaryDir> WorkFolder_;
    QString Error_;  // why a run could not be made
    bool Shown_ = false;
    bool Closing_ = false;
    bool LoopFinalPending_ = false;
    bool RunStarted_ = false;
    bool FinalSeen_ = false;
    bool Succeeded_ = false;  // the main run completed: its output is the user's
    // Where the engine writes: the output itself, or a passing file beside an earlier output,
    // which keeps its bytes until the run has completed and the new file takes its name.
    QString WritePath_;

    QTimer* tmrConverter = nullptr;
    QTimer* tmrMergerAudio = nullptr;
    QLabel* lblCatpion = nullptr;
    QProgressBar* PbConverter = nullptr;
    QLineEdit* edtoutFolder = nullptr;
    controls::SkinButton* btnOK = nullptr;
    controls::SkinButton* btnCancel = nullptr;
};

}  // namespace qm::conversion
