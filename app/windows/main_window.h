// The main window: open or drop a movie, preview it with play, pause, stop and the position bar,
// choose format, crop and options, and start the conversion through the capture and conversion
// windows. It owns the job record of the open movie, the preview player, the engine component
// that loaded the libraries with its logger, and the sound capture object.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <memory>

#include "formats/core/formats_core.h"

namespace qm::audio {
class TSoundHook;
}
namespace qm::engine {
class TFFEncoder;
class TFFLogger;
}  // namespace qm::engine
namespace qm::controls {
class SkinPicture;
class SkinButton;
class TSVTrackbar;
}  // namespace qm::controls
namespace qm::player {
class TShockwaveFlashEx;
}
namespace qm::formats {
class TformatFrm;
}

namespace qm::app {

class TUpdateCheck;

// The process-wide sound capture object: made by the main window, destroyed when it closes.
extern std::unique_ptr<audio::TSoundHook> SoundHook;

// How a capture window ended, for the main window's road.
enum class CaptureOutcome {
    Cancelled,  // closed without a capture: no conversion
    Captured,   // the intermediate files are ready: the conversion window follows
    Converted,  // the capture already wrote the output file: no conversion window
};

class Tmainfrm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 800;
    static constexpr int kTitleHeight = 26;
    static constexpr int kToolHeight = 56;
    static constexpr int kPreviewHeight = 444;
    static constexpr int kPreviewBorder = 7;
    static constexpr int kOperationHeight = 48;
    static constexpr int kBottomHeight = 7;

    explicit Tmainfrm(QWidget* parent = nullptr);
    ~Tmainfrm() override;

    // The job record of the open movie.
    formats::TFileOption FileOption;
    // The movie last opened, also when its import failed.
    QString MoviePath;
    // Above 0 while the position timer moves the position bar.
    int TrackUpdating = 0;

    // Components, by the form's names.
    QWidget *pnlTitle = nullptr, *pnlTool = nullptr, *pnlSWF = nullptr, *pnlSetSize = nullptr,
            *pnlInfo = nullptr, *pnlOperation = nullptr;
    controls::SkinPicture *imgHeadLeft = nullptr, *imgHeadCenter = nullptr, *imgHeadRight = nullptr,
                          *imgLogo = nullptr, *imgSWFLeft = nullptr, *imgSWFRight = nullptr,
                          *imgBottomLeft = nullptr, *imgBottomCenter = nullptr, *imgBottomRight = nullptr;
    QLabel* lblName = nullptr;
    controls::SkinButton *btnMin = nullptr, *btnClose = nullptr;
    QToolButton *btnOpen = nullptr, *btnFormat = nullptr, *btncrop = nullptr, *btnoption = nullptr,
                *btnhelp = nullptr;
    QToolButton *btnPlay = nullptr, *btnPause = nullptr, *btnStop = nullptr, *btnConverter = nullptr;
    controls::TSVTrackbar* trackSWF = nullptr;
    QLabel* lblCurrentFrame = nullptr;
    // The three "Getting Started" lines and the pictures set over their gaps.
    QLabel* lblGuide[3] = {nullptr, nullptr, nullptr};
    QLabel* imgGuide[3] = {nullptr, nullptr, nullptr};
    QTimer* tmrpos = nullptr;
    QTimer* tmrupdate = nullptr;
    QMenu* pmMain = nullptr;
    QMenu* pmhelp = nullptr;
    QAction *mniOpen = nullptr, *mniFormat = nullptr, *mniEdit = nullptr, *mniOption = nullptr,
            *mniFileprop = nullptr, *mniHelp = nullptr, *mniCheckForUpdate = nullptr, *mniAbout = nullptr;

    // The current player control.
    player::TShockwaveFlashEx* SWF() const { return swf_; }
    engine::TFFEncoder& FFEncoder() const { return *ffEncoder_; }
    // The format picker, made hidden with the window and kept as long as it lives.
    formats::TformatFrm* FormatPicker() const { return formatPicker_; }

    // Handlers.
    void FormShow();
    void FormResize();
    void FormClose();
    void btnOpenClick();
    // Files dropped on the preview area: the first is opened, the others are ignored.
    void DragFileEventMessage(const QStringList& files);
    void btnPlayClick();
    void btnPauseClick();
    void btnStopClick();
    void trackSWFTickChange();
    void tmrposTimer();
    void tmrupdateTimer();
    void btnFormatClick();
    void btncropClick();
    void btnoptionClick();
    void mniFilepropClick();
    void btnhelpClick();
    void mniHelpClick();
    void mniCheckForUpdateClick();
    void mniAboutClick();
    void btnMinClick();
    void btnCloseClick();
    void btnConverterClick();
    void FFLogLog(const std::string& message);

    // Internal operations.
    void OpenMovie(const QString& path);
    bool ImportMovie(const QString& path);
    void LayoutPlayer(int width, int height);
    void RecreatePlayer();
    void SetMovieControlsEnabled(bool enabled);
    void LoadEncoderLibrary();
    void DeleteTempFiles();

    // The preview area between the border pictures, in pnlSWF's pixels.
    QRect PreviewArea() const;

    // The capture and conversion windows, each shown modally on a copy of the job. Tests and
    // hosts may replace them; by default they are the program's own windows.
    std::function<CaptureOutcome(Tmainfrm& owner, const QString& moviePath, const formats::TFileOption& job)>
        RunCaptureWindow;
    std::function<void(Tmainfrm& owner, const formats::TFileOption& job)> RunConversionWindow;

    // The after-conversion actions when fast capture made the output (the conversion window runs
    // them itself otherwise): end the program, or the shutdown countdown.
    std::function<void(Tmainfrm& owner)> ExitProgram;
    std::function<void(Tmainfrm& owner)> ShowShutdown;

    // Called after the update timer fires, in place of the update check, until one is set.
    std::function<void(Tmainfrm& owner)> StartUpdateCheck;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createFrame();
    void createToolBar();
    void createPreview();
    void createOperationBar();
    void createMenus();
    void createGuide();
    void placeComponents();
    void placeGuide();
    void showFrameText();
    // Whether the window behind an item exists in this build.
    void enableWindowItems();

    std::unique_ptr<engine::TFFLogger> ffLog_;
    std::unique_ptr<engine::TFFEncoder> ffEncoder_;
    player::TShockwaveFlashEx* swf_ = nullptr;
    formats::TformatFrm* formatPicker_ = nullptr;
    TUpdateCheck* updateCheck_ = nullptr;
    bool movieControlsEnabled_ = false;
};

}  // namespace qm::app
