// The capture window, the first stage of every conversion: the movie plays in its own player
// control at the capture size while one engine task takes a picture of the control at each tick
// (the frame input) and writes the intermediate MPEG-4 file, and the sound capture records the
// player's sound on the same clock. With fast capture chosen (automatic mode only), the movie is
// rendered offline straight into the final output instead, with a progress bar.
//
// "Play and Capture" starts the movie and the sound capture when the engine asks for its first
// frame, so the picture and the sound both begin with the movie's first frame. The frame input's
// read event runs on the engine's worker: it paints the player (whose painting is thread-safe),
// reaches the window only through queued calls, and the window stops the engine, waiting, before
// it closes or goes.
//
// The main window sets MoviePath and Job (a copy of its FileOption, after PrepareFileOption and
// with the sound capture's file names set), then calls exec(). The result:
//   QDialog::Rejected (0)  cancelled: nothing follows;
//   QDialog::Accepted (1)  the intermediate video and the raw sound are made: the conversion
//                          window follows;
//   kOutputMade (2)        fast capture made the final output file (OutputFile()) itself: the
//                          conversion window is skipped. The window has shown the result with
//                          its "Open Folder" button; the after-conversion action (FinishAction)
//                          is the caller's.
#pragma once

#include <QImage>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "controls/skinned_window.h"
#include "conversion/capture_rules.h"
#include "conversion/offline_capture.h"
#include "formats/core/formats_core.h"

class QLabel;
class QProgressBar;
class QScrollArea;
class QWidget;

namespace qm::audio {
class TSoundHook;
}
namespace qm::controls {
class SkinButton;
class TSVTrackbar;
}  // namespace qm::controls
namespace qm::engine {
class TFFEncoder;
class TFrameInputAdapter;
struct TFrameImage;
struct TInputFrameInfo;
struct TTerminateInfo;
}  // namespace qm::engine
namespace qm::player {
class TShockwaveFlashEx;
class TSnapshotThread;
}  // namespace qm::player

namespace qm::conversion {

// Message boxes of the capture windows go through this function, so tests can answer them.
// Returns QMessageBox::Ok or QMessageBox::Cancel (or the button pressed).
using CaptureMessageBoxFunction = std::function<int(QWidget* parent, const QString& text, const QString& caption,
                                                    int icon /* QMessageBox::Icon */, int buttons /* QMessageBox::StandardButtons */)>;
// An empty function restores the real message box.
void SetCaptureMessageBox(CaptureMessageBoxFunction function);
int CaptureMessageBox(QWidget* parent, const QString& text, const QString& caption, int icon, int buttons);

class TCaptureFrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    static constexpr int kOutputMade = 2;

    // `soundHook` records the player's sound and names the intermediate video file; not owned,
    // may be null (then nothing is recorded and the video goes to the capture temporary
    // folder as "brvV_temp.mp4").
    explicit TCaptureFrm(audio::TSoundHook* soundHook, QWidget* parent = nullptr);
    ~TCaptureFrm() override;

    QString MoviePath;
    formats::TFileOption Job;
    // "Auto end capture after" frames; 0 = no limit. Set by the capture options window.
    int64_t FrameLimit = 0;

    // After kOutputMade: the output file fast capture wrote.
    QString OutputFile() const { return outputFile_; }
    bool Capturing() const { return capturing_; }
    bool Started() const { return started_; }
    // The intermediate video file of a real-time capture.
    QString VideoFileName() const;

    // The work area the layout centres on; read from the screen when the window is made.
    void SetWorkArea(int width, int height);
    int WorkWidth() const { return workWidth_; }
    int WorkHeight() const { return workHeight_; }

    // Parts, for the main window's tests and this window's own.
    player::TShockwaveFlashEx* SWF() const { return swf_; }
    QScrollArea* SWFBox() const { return swfBox_; }
    controls::TSVTrackbar* TrackSWF() const { return trackSWF_; }
    QLabel* CurrentFrameLabel() const { return lblCurrentFrame_; }
    QLabel* StatusLabel() const { return lblStatus_; }
    QProgressBar* FastCaptureProgress() const { return pbFastCapture_; }
    controls::SkinButton* OptionButton() const { return btnOption_; }
    controls::SkinButton* PlayAndCaptureButton() const { return btnpalyandcapture_; }
    controls::SkinButton* PlayButton() const { return btnPlay_; }
    controls::SkinButton* CaptureButton() const { return btnCapture_; }
    controls::SkinButton* SnapshotButton() const { return btnSnapshot_; }
    controls::SkinButton* FinishButton() const { return btnFinish_; }
    controls::SkinButton* OpenFolderButton() const { return btnOpenFolder_; }
    QTimer* CaptureFrameTimer() { return &tmrCaptureFrame_; }
    const CaptureWindowLayout& Layout() const { return layout_; }
    player::TSnapshotThread* Snapshot() const { return snapshot_.get(); }
    // The options window the Option button opens; tests may replace it.
    std::function<void(TCaptureFrm&)> ShowOptions;

public slots:
    void btnPlayClick();
    void btnpalyandcaptureClick();
    void btnCaptureClick();
    void btnFinishClick();
    void btnCloseClick();
    void btnSnapshotClick();
    void btnOptionClick();
    void tmrCaptureFrameTimer();
    void TrackSWFChange();
    // The "finish now" message: clicks Finish.
    void FinishNow();

public:
    // The frame input's read event, on the engine's worker thread.
    int FIAReadFrameCanvas(engine::TFrameImage* canvas, engine::TInputFrameInfo* info);
    void FFEncoderTerminate(const engine::TTerminateInfo& info);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public:
    // Escape and the window system's close ask as the title-bar close does.
    void reject() override;

private:
    void FormShow();
    void ApplyLayout();
    bool InitInput();
    bool InitOutput();
    void StartCaptureRun(bool fromPreview);
    void StartMovie();
    // Called from the engine's threads by name (see Post in the source), so Q_INVOKABLE.
    Q_INVOKABLE void BeginRecording();
    void ShowEngineProblem(const QString& message);
    void StopEngine();
    void CloseWith(int result);
    bool FastCaptureActive() const;
    void StartFastCapture();
    // Where the output goes: the output folder, else the movie's own folder.
    QString OutputFolder() const;
    // False, after saying why, when no file can be made in OutputFolder().
    bool OutputFolderWritable();
    Q_INVOKABLE void FastCaptureEnded();
    Q_INVOKABLE void ShowFastProgress();
    Q_INVOKABLE void EngineStopped();
    void CancelFastCapture(bool deleteOutput);
    void WaitForOffline();
    // Runs the named method later on the window's thread.
    void Post(const char* method);

    audio::TSoundHook* soundHook_;
    // Declared in the order they are made; the destructor stops the engine before anything goes.
    std::unique_ptr<engine::TFrameInputAdapter> fia_;
    std::unique_ptr<engine::TFFEncoder> encoder_;
    std::unique_ptr<player::TSnapshotThread> snapshot_;

    player::TShockwaveFlashEx* swf_ = nullptr;
    QScrollArea* swfBox_ = nullptr;
    QWidget* swfHolder_ = nullptr;
    QWidget* pnlButtons_ = nullptr;
    QWidget* pnlTrack_ = nullptr;
    QWidget* pnlFastCapture_ = nullptr;
    QProgressBar* pbFastCapture_ = nullptr;
    QLabel* lblFastCapture_ = nullptr;
    controls::TSVTrackbar* trackSWF_ = nullptr;
    QLabel* lblCurrentFrame_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QLabel* lblHint_ = nullptr;
    controls::SkinButton *btnOption_ = nullptr, *btnpalyandcapture_ = nullptr, *btnPlay_ = nullptr,
                         *btnCapture_ = nullptr, *btnSnapshot_ = nullptr, *btnFinish_ = nullptr,
                         *btnOpenFolder_ = nullptr;
    QTimer tmrCaptureFrame_;

    CaptureWindowLayout layout_;
    int workWidth_ = 0, workHeight_ = 0;
    bool shown_ = false;
    bool started_ = false;
    bool capturing_ = false;
    bool closing_ = false;
    bool finishing_ = false;
    bool playToggled_ = false;  // btnPlay's Tag
    int timerBusy_ = 0;
    int64_t frameCount_ = 0;

    // Shared with the engine's worker.
    std::atomic<int64_t> lastFrameIndex_{0};
    std::atomic<int64_t> captureStart_{-1};
    int64_t scheduleStart_ = 0;  // written before captureStart_, read after it
    std::atomic<bool> finishPosted_{false};
    std::atomic<bool> stopPacing_{false};
    bool startMovieAtFirstFrame_ = false;
    bool recordingBegun_ = false;
    double frameInterval_ = 0;  // microseconds
    CaptureEndCheck endCheck_;
    QImage frame_;  // the player's picture, on the worker
    int captureMode_ = 0;
    int64_t frameLimit_ = 0;

    // Fast capture.
    std::unique_ptr<OfflineCapture> offline_;
    std::thread offlineThread_;
    bool fastRunning_ = false;
    bool fastDone_ = false;
    bool deleteOutput_ = false;
    bool outputExisted_ = false;  // the fast capture's output replaces a file that was there
    std::atomic<bool> offlineEnded_{false};
    CaptureResult offlineResult_;  // written by the run's thread before offlineEnded_
    // What a worker hands to the window. Calls posted across threads carry no data of their own:
    // Qt passes them on under locks ThreadSanitizer cannot see, this lock it can.
    std::mutex handoffLock_;
    std::optional<CaptureProgress> fastProgress_;
    QString engineProblem_;
    QString outputFile_;
};

}  // namespace qm::conversion
