#include "conversion/windows/capture_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>

#include <chrono>
#include <cstring>

#include "app/core/app_core.h"
#include "app/ui/app_ui.h"
#include "audio/sound_capture.h"
#include "controls/sv_trackbar.h"
#include "conversion/conversion_log.h"
#include "conversion/windows/capture_options_window.h"
#include "engine/engine.h"
#include "player/qt/shockwave_flash.h"
#include "player/qt/snapshot_thread.h"

namespace qm::conversion {

namespace {

CaptureMessageBoxFunction& messageBoxFunction() {
    static CaptureMessageBoxFunction function;
    return function;
}

// The window's colours: the frame's dark blue (Delphi colour 5257765) and black behind the movie.
const QColor kBackground(0x25, 0x3A, 0x50);

const QString kNoMovie = QStringLiteral("None.swf");

QString text(const std::string& s) { return QString::fromUtf8(s.c_str()); }

void Whiten(QWidget* w, const QColor& colour = Qt::white) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

}  // namespace

void SetCaptureMessageBox(CaptureMessageBoxFunction function) { messageBoxFunction() = std::move(function); }

int CaptureMessageBox(QWidget* parent, const QString& text, const QString& caption, int icon, int buttons) {
    if (messageBoxFunction()) return messageBoxFunction()(parent, text, caption, icon, buttons);
    QApplication::beep();
    QMessageBox box(QMessageBox::Icon(icon), caption, text, QMessageBox::StandardButtons(buttons), parent);
    return box.exec();
}

// ---------------------------------------------------------------------------
// Creation.

TCaptureFrm::TCaptureFrm(audio::TSoundHook* soundHook, QWidget* parent)
    : controls::SkinnedWindow(parent), soundHook_(soundHook) {
    setObjectName(QStringLiteral("CaptureFrm"));
    setWindowTitle(QStringLiteral("Capture"));
    setModal(true);
    AddMinimiseButton();
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    lblHint_ = new QLabel(
        QStringLiteral("( To avoid CPU usage caused frame loss, better to close other programs during capturing )"),
        TitlePanel());
    lblHint_->setObjectName(QStringLiteral("lblHint"));
    Whiten(lblHint_, QColor(0xC8, 0xD4, 0xE0));
    QFont hintFont = lblHint_->font();
    hintFont.setPointSizeF(hintFont.pointSizeF() * 0.85);
    lblHint_->setFont(hintFont);
    lblHint_->setToolTip(lblHint_->text());
    controls::MakeDragHandle(lblHint_);

    QWidget* client = ClientArea();
    swfBox_ = new QScrollArea(client);
    swfBox_->setObjectName(QStringLiteral("SWFBox"));
    swfBox_->setFrameShape(QFrame::NoFrame);
    swfBox_->setWidgetResizable(false);
    QPalette black = swfBox_->palette();
    black.setColor(QPalette::Window, Qt::black);
    swfBox_->setPalette(black);
    swfBox_->setBackgroundRole(QPalette::Window);
    swfBox_->setAutoFillBackground(true);
    swfHolder_ = new QWidget;
    swfHolder_->setObjectName(QStringLiteral("pnlSWF"));
    swfHolder_->setPalette(black);
    swfHolder_->setAutoFillBackground(true);
    swf_ = new player::TShockwaveFlashEx(swfHolder_);
    swf_->setObjectName(QStringLiteral("SWF"));
    swfBox_->setWidget(swfHolder_);

    // Fast capture shows its progress in place of the player.
    pnlFastCapture_ = new QWidget(client);
    pnlFastCapture_->setObjectName(QStringLiteral("pnlFastCapture"));
    lblFastCapture_ = new QLabel(pnlFastCapture_);
    lblFastCapture_->setObjectName(QStringLiteral("lblFastCapture"));
    lblFastCapture_->setAlignment(Qt::AlignCenter);
    lblFastCapture_->setWordWrap(true);
    lblFastCapture_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Whiten(lblFastCapture_);
    pbFastCapture_ = new QProgressBar(pnlFastCapture_);
    pbFastCapture_->setObjectName(QStringLiteral("pbFastCapture"));
    pbFastCapture_->setRange(0, 100);
    pbFastCapture_->setValue(0);
    btnOpenFolder_ = new controls::SkinButton(pnlFastCapture_);
    btnOpenFolder_->setObjectName(QStringLiteral("btnOpenFolder"));
    btnOpenFolder_->setText(QStringLiteral("Open Folder"));
    btnOpenFolder_->hide();
    connect(btnOpenFolder_, &QAbstractButton::clicked, this, [this] { app::SelectInExplorer(outputFile_); });
    pnlFastCapture_->hide();

    // Engine problems are shown over the foot of the player, without stopping anything.
    lblStatus_ = new QLabel(client);
    lblStatus_->setObjectName(QStringLiteral("lblStatus"));
    lblStatus_->setAutoFillBackground(true);
    QPalette status = lblStatus_->palette();
    status.setColor(QPalette::Window, QColor(0x40, 0x10, 0x10));
    status.setColor(QPalette::WindowText, QColor(0xFF, 0xD8, 0x60));
    lblStatus_->setPalette(status);
    lblStatus_->setContentsMargins(8, 0, 8, 0);
    lblStatus_->hide();

    pnlButtons_ = new QWidget(client);
    pnlButtons_->setObjectName(QStringLiteral("pnlButtons"));
    pnlTrack_ = new QWidget(pnlButtons_);
    pnlTrack_->setObjectName(QStringLiteral("pnlTrack"));
    trackSWF_ = new controls::TSVTrackbar(pnlTrack_);
    trackSWF_->setObjectName(QStringLiteral("trackSWF"));
    trackSWF_->SetTransParent(true);
    trackSWF_->SetMin(0);
    pnlTrack_->setEnabled(false);
    connect(trackSWF_, &controls::TSVTrackbar::OnTickChange, this, &TCaptureFrm::TrackSWFChange);
    lblCurrentFrame_ = new QLabel(QStringLiteral("0/0 frames"), pnlButtons_);
    lblCurrentFrame_->setObjectName(QStringLiteral("lblCurrentFrame"));
    lblCurrentFrame_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Whiten(lblCurrentFrame_);

    auto button = [this](const QString& caption, const char* name, void (TCaptureFrm::*slot)()) {
        auto* b = new controls::SkinButton(pnlButtons_);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        connect(b, &QAbstractButton::clicked, this, slot);
        return b;
    };
    btnOption_ = button(QStringLiteral("Option"), "btnOption", &TCaptureFrm::btnOptionClick);
    btnpalyandcapture_ =
        button(QStringLiteral("Play and Capture"), "btnpalyandcapture", &TCaptureFrm::btnpalyandcaptureClick);
    btnPlay_ = button(QStringLiteral("Play Movie"), "btnPlay", &TCaptureFrm::btnPlayClick);
    btnCapture_ = button(QStringLiteral("Start Capturing"), "btnCapture", &TCaptureFrm::btnCaptureClick);
    btnSnapshot_ = button(QStringLiteral("Snapshot"), "btnSnapshot", &TCaptureFrm::btnSnapshotClick);
    btnFinish_ = button(QStringLiteral("Finish"), "btnFinish", &TCaptureFrm::btnFinishClick);
    btnCapture_->setEnabled(false);
    btnSnapshot_->setEnabled(false);

    tmrCaptureFrame_.setInterval(250);
    connect(&tmrCaptureFrame_, &QTimer::timeout, this, &TCaptureFrm::tmrCaptureFrameTimer);

    fia_ = std::make_unique<engine::TFrameInputAdapter>();
    fia_->OnReadFrameCanvas = [this](engine::TFrameInputAdapter*, engine::TFrameImage* canvas,
                                     engine::TInputFrameInfo* info) { return FIAReadFrameCanvas(canvas, info); };
    encoder_ = std::make_unique<engine::TFFEncoder>();
    encoder_->OnTerminate = [this](void*, const engine::TTerminateInfo& info) { FFEncoderTerminate(info); };
    if (engine::FFLoader().LibsLoaded(engine::AllLibraries)) engine::RegisterFrameInputFormat();

    // The skin: the frame and the close button; the buttons share the dialog buttons' pictures.
    try {
        controls::LoadFrameSkin(this);
        controls::LoadCloseButtonSkin(this);
        const QPixmap up = controls::LoadSkinPicture(QStringLiteral("btn_up.bmp"));
        const QPixmap hot = controls::LoadSkinPicture(QStringLiteral("btn_Hot.bmp"));
        const QPixmap down = controls::LoadSkinPicture(QStringLiteral("btn_down.bmp"));
        for (controls::SkinButton* b :
             {btnOption_, btnpalyandcapture_, btnPlay_, btnCapture_, btnSnapshot_, btnFinish_, btnOpenFolder_}) {
            b->SetPictures(up, hot, down);
            b->SetFocusRect(false);
        }
    } catch (const controls::SkinError& e) {
        LogError(QString::fromUtf8(e.what()));
    }

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        workWidth_ = work.width();
        workHeight_ = work.height();
    } else {
        workWidth_ = kCaptureDesignedWidth;
        workHeight_ = kCaptureDesignedHeight;
    }
    resize(kCaptureDesignedWidth, kCaptureDesignedHeight);
    ApplyLayout();
}

TCaptureFrm::~TCaptureFrm() {
    closing_ = true;
    tmrCaptureFrame_.stop();
    if (offlineThread_.joinable()) CancelFastCapture(true);
    // No worker may paint the player or call back into the window once it goes.
    StopEngine();
    try {
        if (encoder_) encoder_->ClearTasks();
    } catch (const std::exception&) {
    }
    snapshot_.reset();
    encoder_.reset();
    fia_.reset();
}

void TCaptureFrm::SetWorkArea(int width, int height) {
    workWidth_ = width;
    workHeight_ = height;
    if (shown_) ApplyLayout();
}

QString TCaptureFrm::VideoFileName() const {
    if (soundHook_ && !soundHook_->VideoFileName.empty()) return text(soundHook_->VideoFileName);
    const QString folder = !app::CaptureTempPath.isEmpty() ? app::CaptureTempPath : app::SystemTempPath;
    return (folder.isEmpty() ? QDir::tempPath() + QLatin1Char('/') : folder) + QStringLiteral("brvV_temp.mp4");
}

bool TCaptureFrm::FastCaptureActive() const { return FastCapture && app::CaptureMode == 2; }

// ---------------------------------------------------------------------------
// Layout.

void TCaptureFrm::ApplyLayout() {
    int32_t w = 0, h = 0;
    try {
        app::ParseSize(Job.Options.FitSize, w, h);
    } catch (const app::ConversionError&) {
        w = Job.SWFInfo.Width;
        h = Job.SWFInfo.Height;
    }
    layout_ = LayOutCaptureWindow(w, h, workWidth_, workHeight_);
    const CaptureWindowLayout& l = layout_;
    resize(l.WindowWidth, l.WindowHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        move(work.left() + l.WindowLeft, work.top() + l.WindowTop);
    } else {
        move(l.WindowLeft, l.WindowTop);
    }

    // The client area lies inside the frame: the player area above the button panel.
    const int clientWidth = l.WindowWidth - 2 * kBorderWidth;
    const int panelHeight = kCaptureButtonPanelHeight - kBottomHeight;
    const int areaHeight = l.WindowHeight - kCaptureTitleHeight - kCaptureButtonPanelHeight;
    ClientArea()->setGeometry(kBorderWidth, kTitleHeight, clientWidth, l.WindowHeight - kTitleHeight - kBottomHeight);
    swfBox_->setGeometry(0, 0, clientWidth, areaHeight);
    swfBox_->setHorizontalScrollBarPolicy(l.HorizontalScrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    swfBox_->setVerticalScrollBarPolicy(l.VerticalScrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    swf_->setGeometry(l.PlayerLeft, l.PlayerTop, l.PlayerWidth, l.PlayerHeight);
    swfHolder_->resize(std::max(l.PlayerLeft * 2 + l.PlayerWidth, 1), std::max(l.PlayerTop * 2 + l.PlayerHeight, 1));
    pnlFastCapture_->setGeometry(0, 0, clientWidth, areaHeight);
    const int barWidth = std::min(clientWidth - 40, 480);
    lblFastCapture_->setGeometry(20, areaHeight / 2 - 70, clientWidth - 40, 60);
    pbFastCapture_->setGeometry((clientWidth - barWidth) / 2, areaHeight / 2, barWidth, 22);
    btnOpenFolder_->setGeometry((clientWidth - 110) / 2, areaHeight / 2 + 34, 110, 26);
    lblStatus_->setGeometry(0, std::max(0, areaHeight - 24), clientWidth, 24);

    pnlButtons_->setGeometry(0, areaHeight, clientWidth, panelHeight);
    const int counterWidth = 120;
    pnlTrack_->setGeometry(8, 6, std::max(40, clientWidth - 16 - counterWidth - 8), 24);
    trackSWF_->setGeometry(0, 0, pnlTrack_->width(), pnlTrack_->height());
    lblCurrentFrame_->setGeometry(clientWidth - 8 - counterWidth, 6, counterWidth, 24);
    // The buttons sit in one row, centred under the player.
    struct Place {
        controls::SkinButton* button;
        int width;
    } row[] = {{btnOption_, 76}, {btnpalyandcapture_, 126}, {btnPlay_, 104},
               {btnCapture_, 120}, {btnSnapshot_, 90},      {btnFinish_, 80}};
    const int gap = 8;
    int total = gap * 5;
    for (const Place& p : row) total += p.width;
    int x = std::max(8, (clientWidth - total) / 2);
    for (const Place& p : row) {
        p.button->setGeometry(x, 36, p.width, 26);
        x += p.width + gap;
    }

    // The hint follows the title; it gives way to the buttons of the title bar.
    const int hintLeft = TitleLabel()->x() + TitleLabel()->sizeHint().width() + 12;
    const int hintRight = (MinimiseButton() ? MinimiseButton()->x() : CloseButton()->x()) - 8;
    const int hintWidth = std::max(0, hintRight - hintLeft);
    lblHint_->setGeometry(hintLeft, 0, hintWidth, kCaptureTitleHeight);
    // A narrow window shortens the hint rather than cutting it off; the whole text is its tip.
    lblHint_->setText(lblHint_->fontMetrics().elidedText(lblHint_->toolTip(), Qt::ElideMiddle, hintWidth));
    lblHint_->setVisible(hintWidth > 80);
    lblHint_->raise();
}

// ---------------------------------------------------------------------------
// Show and close.

void TCaptureFrm::showEvent(QShowEvent* event) {
    controls::SkinnedWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TCaptureFrm::FormShow() {
    frameCount_ = Job.SWFInfo.FrameCount;
    trackSWF_->SetMax(std::max<int64_t>(frameCount_, 1));
    trackSWF_->setEnabled(frameCount_ > 1);
    ApplyLayout();
    LogInfo(QStringLiteral("[Start Capture]"));
    InitInput();
    timerBusy_ = 0;
    FrameLimit = 0;
    captureStart_ = -1;
    snapshot_ = std::make_unique<player::TSnapshotThread>(swf_, MoviePath);
    capturing_ = false;
}

bool TCaptureFrm::InitInput() {
    LogInfo(QStringLiteral("Init Input"));
    fia_->OnReadClose = nullptr;
    fia_->TriggerEventInMainThread = false;
    encoder_->TriggerEventInMainThread = false;
    const QString rate = Job.SWFInfo.FrameRate;
    endCheck_.Reset(CaptureStallLimit(rate));
    bool rateOk = false;
    const double framesPerSecond = EngineFrameRateText(rate).toDouble(&rateOk);
    frameInterval_ = rateOk && framesPerSecond > 0 ? 1e6 / framesPerSecond : 0;
    try {
        encoder_->ClearTasks();
        if (!encoder_->LibrariesLoaded() && !encoder_->LoadLibraries(engine::ProgramLibraryFolder())) {
            LogError(text(encoder_->LastErrorMessage()));
            ShowEngineProblem(text(encoder_->LastErrorMessage()));
            return false;
        }
        engine::TInputOptions input;
        input.Options = CaptureInputOptions(rate, Job.Options.FitSize).toStdString();
        if (encoder_->AddTask(fia_->InputName(), &input) < 0) {
            LogError(text(encoder_->LastErrorMessage()));
            ShowEngineProblem(text(encoder_->LastErrorMessage()));
            return false;
        }
    } catch (const std::exception& e) {
        LogError(QString::fromUtf8(e.what()));
        ShowEngineProblem(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

bool TCaptureFrm::InitOutput() {
    LogInfo(QStringLiteral("init Output"));
    try {
        engine::TOutputOptions output;
        output.Options = CaptureOutputOptions(Job).toStdString();
        if (encoder_->TaskCount() < 1 || encoder_->SetOutput(0, VideoFileName().toStdString(), &output) < 0) {
            const QString why = encoder_->TaskCount() < 1 ? QStringLiteral("The movie's frames cannot be taken.")
                                                         : text(encoder_->LastErrorMessage());
            LogError(why);
            ShowEngineProblem(why);
            return false;
        }
    } catch (const std::exception& e) {
        LogError(QString::fromUtf8(e.what()));
        ShowEngineProblem(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TCaptureFrm::StopEngine() {
    stopPacing_ = true;
    if (encoder_) encoder_->Stop(true);
}

void TCaptureFrm::CloseWith(int result) {
    if (closing_) return;
    closing_ = true;
    tmrCaptureFrame_.stop();
    // FormClose: the snapshot worker ends; the player falls silent; the frame input closes.
    snapshot_.reset();
    if (!fastRunning_) {
        StopEngine();
        try {
            encoder_->ClearTasks();
        } catch (const std::exception& e) {
            LogError(QString::fromUtf8(e.what()));
        }
    }
    swf_->SetMovie(kNoMovie);
    LogInfo(QStringLiteral("[Stop Capture]"));
    done(result);
}

void TCaptureFrm::closeEvent(QCloseEvent* event) {
    if (closing_) {
        controls::SkinnedWindow::closeEvent(event);
        return;
    }
    event->ignore();
    btnCloseClick();
}

void TCaptureFrm::reject() { btnCloseClick(); }

// ---------------------------------------------------------------------------
// Buttons.

void TCaptureFrm::btnPlayClick() {
    if (closing_ || started_) return;
    if (!playToggled_) {
        playToggled_ = true;
        swf_->SetMovie(MoviePath);
        if (!swf_->LoadError().isEmpty()) ShowEngineProblem(swf_->LoadError());
        btnCapture_->setEnabled(true);
        btnpalyandcapture_->setEnabled(false);
        tmrCaptureFrame_.start();
        btnPlay_->setText(QStringLiteral("Stop Movie"));
        btnSnapshot_->setEnabled(true);
        pnlTrack_->setEnabled(true);
    } else {
        playToggled_ = false;
        swf_->SetMovie(kNoMovie);
        btnCapture_->setEnabled(false);
        btnpalyandcapture_->setEnabled(true);
        btnPlay_->setText(QStringLiteral("Start Movie"));
        tmrCaptureFrame_.stop();
        btnSnapshot_->setEnabled(false);
        pnlTrack_->setEnabled(false);
        trackSWF_->SetPosition(0);
    }
}

void TCaptureFrm::btnpalyandcaptureClick() {
    if (closing_ || fastRunning_ || fastDone_) return;
    if (FastCaptureActive() && !started_) {
        StartFastCapture();
        return;
    }
    if (started_) {
        StartMovie();
        return;
    }
    // Refused before anything is recorded, not when the conversion would write.
    if (!OutputFolderWritable()) return;
    // The movie starts when the engine asks for its first frame (BeginRecording), so the
    // capture holds it from its first frame and its sound from the same moment.
    StartCaptureRun(false);
    btnpalyandcapture_->setEnabled(false);
    pnlTrack_->setEnabled(false);
    btnSnapshot_->setEnabled(true);
}

void TCaptureFrm::StartMovie() {
    swf_->SetMovie(MoviePath);
    if (!swf_->LoadError().isEmpty()) ShowEngineProblem(swf_->LoadError());
    if (app::CaptureMode > 0) swf_->SetLoop(false);
    swf_->Play();
}

void TCaptureFrm::btnCaptureClick() {
    if (closing_ || started_ || fastRunning_ || fastDone_) return;
    if (FastCaptureActive()) {
        // Offline rendering starts from the first frame, wherever the preview is.
        StartFastCapture();
        return;
    }
    if (!OutputFolderWritable()) return;
    pnlTrack_->setEnabled(false);
    if (app::CaptureMode > 0) swf_->SetLoop(false);
    StartCaptureRun(true);
}

void TCaptureFrm::StartCaptureRun(bool fromPreview) {
    captureMode_ = app::CaptureMode;
    frameLimit_ = FrameLimit;
    finishPosted_ = false;
    stopPacing_ = false;
    startMovieAtFirstFrame_ = !fromPreview;
    recordingBegun_ = false;
    captureStart_ = -1;
    started_ = InitOutput();
    // Started even without an output: the engine then reports the problem as it ends.
    encoder_->StartTask(1);
    LogInfo(fromPreview ? QStringLiteral("Start Capturing") : QStringLiteral("Play and Capture"));
    btnCapture_->setEnabled(false);
    btnPlay_->setEnabled(false);
    btnOption_->setEnabled(false);
    btnFinish_->setEnabled(true);
    lastFrameIndex_ = 0;
    tmrCaptureFrame_.start();
    capturing_ = true;
}

void TCaptureFrm::BeginRecording() {
    if (recordingBegun_ || closing_ || stopPacing_ || !capturing_) return;
    recordingBegun_ = true;
    const int64_t before = audio::WallClock().NowMicros();
    if (soundHook_) soundHook_->StartCapture();
    if (startMovieAtFirstFrame_) StartMovie();
    const int64_t after = audio::WallClock().NowMicros();
    // The sound file starts with the first sound taken, or, when the first sound came more than
    // a tenth of a second after the sound capture started (a slow load), with that much
    // silence: the pictures count from the same moment, the first one standing for the wait.
    // The frames are asked for from when the movie's first frame showed.
    scheduleStart_ = after;
    captureStart_ = after - before > audio::TSoundHook::kLeadSilenceMicros ? before : after;
}

void TCaptureFrm::FinishNow() {
    if (closing_ || finishing_) return;
    btnFinish_->click();
}

void TCaptureFrm::btnFinishClick() {
    if (closing_ || finishing_) return;
    if (fastRunning_) {
        // Ends the offline capture early: the file keeps the frames made so far.
        CancelFastCapture(false);
        return;
    }
    if (fastDone_) {
        CloseWith(kOutputMade);
        return;
    }
    if (capturing_) {
        finishing_ = true;
        tmrCaptureFrame_.stop();
        StopEngine();
        swf_->Stop();
        if (soundHook_) soundHook_->StopCapture();
        finishing_ = false;
        CloseWith(QDialog::Accepted);
        return;
    }
    if (CaptureMessageBox(this, QStringLiteral("You have not started Capturing yet, are you sure to exit?"),
                          QStringLiteral("information"), QMessageBox::Warning,
                          QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok)
        CloseWith(QDialog::Rejected);
}

void TCaptureFrm::btnCloseClick() {
    if (closing_ || finishing_) return;
    if (fastDone_) {
        CloseWith(kOutputMade);
        return;
    }
    if (CaptureMessageBox(this, QStringLiteral("Are you sure to exit?"), QStringLiteral("Information"),
                          QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    if (closing_ || finishing_) return;  // the capture ended while the question was open
    if (fastDone_) {
        CloseWith(kOutputMade);
        return;
    }
    finishing_ = true;
    if (fastRunning_) CancelFastCapture(true);
    StopEngine();
    LogInfo(QStringLiteral("[Exit Capture]"));
    swf_->Stop();
    if (soundHook_ && capturing_) soundHook_->StopCapture();
    finishing_ = false;
    CloseWith(QDialog::Rejected);
}

void TCaptureFrm::btnSnapshotClick() {
    if (snapshot_) snapshot_->Wake();
}

void TCaptureFrm::btnOptionClick() {
    if (closing_ || started_ || fastRunning_ || fastDone_) return;
    if (ShowOptions) ShowOptions(*this);
    else ShowCaptureOptions(*this);
}

void TCaptureFrm::tmrCaptureFrameTimer() {
    ++timerBusy_;
    const int f = swf_->CurrentFrame();
    const QString total = QString::number(frameCount_);
    lblCurrentFrame_->setText(f <= 0 ? QStringLiteral("1/") + total + QStringLiteral(" frames")
                                     : QString::number(f) + QLatin1Char('/') + total + QStringLiteral(" frames"));
    trackSWF_->SetPosition(f);
    --timerBusy_;
}

void TCaptureFrm::TrackSWFChange() {
    if (timerBusy_ != 0) return;
    try {
        swf_->GotoFrame(int(trackSWF_->Position()));
        swf_->Play();
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------
// The engine's side (worker thread).

int TCaptureFrm::FIAReadFrameCanvas(engine::TFrameImage* canvas, engine::TInputFrameInfo* info) {
    if (!canvas || !canvas->Bits || !info || canvas->Width <= 0 || canvas->Height <= 0) return -1;
    // The first request starts the recording on the window's thread and waits for it.
    if (captureStart_.load() < 0) {
        Post("BeginRecording");
        while (captureStart_.load() < 0 && !stopPacing_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (captureStart_.load() < 0) return -1;
    }
    // One request a frame interval: the engine's -re paces by the packets' times, which this
    // event sets to the clock, so the pace is kept here, on the frame numbers. A request comes
    // a quarter of an interval into its frame's time, when the player surely shows that frame.
    const int64_t start = captureStart_.load();
    if (frameInterval_ > 0) {
        const int64_t due = scheduleStart_ + int64_t((double(info->FrameNumber - 1) + 0.25) * frameInterval_);
        for (int64_t now = audio::WallClock().NowMicros(); now < due && !stopPacing_;
             now = audio::WallClock().NowMicros())
            std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(due - now, 20000)));
    }
    // The picture's time is when it is taken, however long the drawing lasts.
    const int64_t taken = audio::WallClock().NowMicros();
    // 1. The player's picture, at the canvas's size, into the canvas's bgr24 rows.
    if (frame_.width() != canvas->Width || frame_.height() != canvas->Height)
        frame_ = QImage(canvas->Width, canvas->Height, QImage::Format_ARGB32_Premultiplied);
    swf_->PaintTo(frame_);
    const int bytes = canvas->BitsPerPixel / 8;
    for (int y = 0; y < canvas->Height; ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(frame_.constScanLine(y));
        uint8_t* dst = canvas->Bits + size_t(y) * size_t(canvas->Stride);
        if (bytes == 3) {
            for (int x = 0; x < canvas->Width; ++x, dst += 3) {
                dst[0] = uint8_t(qBlue(src[x]));
                dst[1] = uint8_t(qGreen(src[x]));
                dst[2] = uint8_t(qRed(src[x]));
            }
        } else if (bytes == 4) {
            std::memcpy(dst, src, size_t(canvas->Width) * 4);
        }
    }
    // 2.-3. Clock time since the recording began, the clock of the sound capture.
    lastFrameIndex_ = info->FrameNumber;
    info->PTS = info->FrameNumber <= 1 ? 0 : std::max<int64_t>(0, taken - start);
    // 4.-9. The end rules.
    const FrameVerdict verdict =
        endCheck_.Check(captureMode_, frameLimit_, swf_->CurrentFrame(), swf_->TotalFrames(), info->FrameNumber);
    if (verdict == FrameVerdict::Deliver) return 0;
    finishPosted_ = true;
    Post("FinishNow");
    return verdict == FrameVerdict::EndAndFinish ? -1 : 0;
}

void TCaptureFrm::FFEncoderTerminate(const engine::TTerminateInfo& info) {
    if (!info.Failed) return;
    const QString message = text(info.ErrorMessage);
    LogError(message);
    {
        std::lock_guard<std::mutex> lock(handoffLock_);
        engineProblem_ = message;
    }
    Post("EngineStopped");
}

void TCaptureFrm::EngineStopped() {
    QString message;
    {
        std::lock_guard<std::mutex> lock(handoffLock_);
        message = engineProblem_;
    }
    ShowEngineProblem(message);
    // Nothing asked for a frame: the movie plays and its sound is recorded all the same.
    BeginRecording();
}

void TCaptureFrm::ShowEngineProblem(const QString& message) {
    if (closing_) return;
    lblStatus_->setText(QStringLiteral("The capture cannot be recorded: ") +
                        (message.isEmpty() ? QStringLiteral("the engine stopped.") : message));
    lblStatus_->setToolTip(message);
    lblStatus_->show();
    lblStatus_->raise();
}

// ---------------------------------------------------------------------------
// Fast capture.

QString TCaptureFrm::OutputFolder() const {
    if (!app::OutputPath.isEmpty()) return app::OutputPath;
    return QFileInfo(MoviePath).absolutePath() + QLatin1Char('/');
}

bool TCaptureFrm::OutputFolderWritable() {
    const QString why = OutputFolderProblem(OutputFolder());
    if (why.isEmpty()) return true;
    LogError(why);
    CaptureMessageBox(this, why, QStringLiteral("Error"), QMessageBox::Critical, QMessageBox::Ok);
    return false;
}

void TCaptureFrm::StartFastCapture() {
    LogInfo(QStringLiteral("Fast Capture"));
    playToggled_ = false;
    tmrCaptureFrame_.stop();
    swf_->SetMovie(kNoMovie);
    lblStatus_->hide();
    const QString folder = OutputFolder();
    if (!OutputFolderWritable()) return;
    outputFile_ = OutputFilePath(Job, folder, app::OverWrite);
    // A file being replaced is the user's until the new one is complete: never removed here.
    outputExisted_ = QFileInfo::exists(outputFile_);
    CaptureLimits limits;
    limits.End = EndRule::Stall;
    limits.FrameLimit = FrameLimit;
    offline_ = std::make_unique<OfflineCapture>(Job, outputFile_, limits);
    offline_->OnProgress = [this](const CaptureProgress& p) {
        bool posted;
        {
            std::lock_guard<std::mutex> lock(handoffLock_);
            posted = fastProgress_.has_value();
            fastProgress_ = p;
        }
        // One call in the queue at a time shows the newest progress.
        if (!posted) Post("ShowFastProgress");
    };

    started_ = true;
    capturing_ = true;
    fastRunning_ = true;
    offlineEnded_ = false;
    swfBox_->hide();
    pnlTrack_->hide();
    lblCurrentFrame_->setText(QStringLiteral("0/%1 frames").arg(frameCount_));
    pnlFastCapture_->show();
    pnlFastCapture_->raise();
    btnOpenFolder_->hide();
    pbFastCapture_->show();
    pbFastCapture_->setRange(0, 100);
    pbFastCapture_->setValue(0);
    lblFastCapture_->setText(QStringLiteral("Capturing, please wait..."));
    for (QWidget* w : {static_cast<QWidget*>(btnOption_), static_cast<QWidget*>(btnpalyandcapture_),
                       static_cast<QWidget*>(btnPlay_), static_cast<QWidget*>(btnCapture_),
                       static_cast<QWidget*>(btnSnapshot_), pnlTrack_})
        w->setEnabled(false);
    btnFinish_->setEnabled(true);

    offlineThread_ = std::thread([this] {
        offlineResult_ = offline_->Run();
        offlineEnded_ = true;
        Post("FastCaptureEnded");
    });
}

// By name, not by a function object: the call is then made inside Qt from its own record, and
// the worker's data reaches the window only through the members guarded by handoffLock_ or atomics,
// which ThreadSanitizer can follow (Qt's event queue locks are invisible to it).
void TCaptureFrm::Post(const char* method) { QMetaObject::invokeMethod(this, method, Qt::QueuedConnection); }

void TCaptureFrm::ShowFastProgress() {
    std::optional<CaptureProgress> progress;
    {
        std::lock_guard<std::mutex> lock(handoffLock_);
        progress.swap(fastProgress_);
    }
    if (!progress || !fastRunning_) return;
    const CaptureProgress& p = *progress;
    if (p.ExpectedFrames > 0) {
        pbFastCapture_->setRange(0, 100);
        pbFastCapture_->setValue(int(std::min<int64_t>(100, p.Frames * 100 / p.ExpectedFrames)));
    } else {
        pbFastCapture_->setRange(0, 0);  // the end is not known in advance
    }
    lblFastCapture_->setText(QStringLiteral("Capturing, please wait..."));
    lblCurrentFrame_->setText(QStringLiteral("%1/%2 frames").arg(p.Frames).arg(frameCount_));
}

void TCaptureFrm::WaitForOffline() {
    // The engine's workers may wait for the main thread (log lines, events): keep serving them.
    while (!offlineEnded_) {
        engine::MainThreadDispatcher().ServePending();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (offlineThread_.joinable()) offlineThread_.join();
}

void TCaptureFrm::CancelFastCapture(bool deleteOutput) {
    if (!offline_) return;
    if (deleteOutput)
        offline_->Abandon();
    else
        offline_->Cancel();
    deleteOutput_ = deleteOutput;
    WaitForOffline();
    if (deleteOutput && fastRunning_) {
        // Given up: no half-made file is left in the output folder.
        fastRunning_ = false;
        if (!outputFile_.isEmpty() && !outputExisted_) QFile::remove(outputFile_);
        outputFile_.clear();
    }
    FastCaptureEnded();
}

void TCaptureFrm::FastCaptureEnded() {
    if (!fastRunning_ || !offlineEnded_) return;
    if (offlineThread_.joinable()) offlineThread_.join();
    const CaptureResult& result = offlineResult_;
    fastRunning_ = false;
    for (const QString& warning : result.Warnings) LogInfo(warning);
    const bool made = (result.Succeeded || (result.Cancelled && result.Frames > 0)) && !deleteOutput_ &&
                      QFileInfo::exists(outputFile_);
    if (!made) {
        if (!outputFile_.isEmpty() && !outputExisted_) QFile::remove(outputFile_);
        if (closing_ || deleteOutput_) return;
        const QString why = QStringLiteral("Cannot do convert, error: ") +
                            (result.Error.isEmpty() ? QStringLiteral("no frame was made.") : result.Error);
        LogError(why);
        // Back to the start: the user may capture in real time or close.
        pnlFastCapture_->hide();
        swfBox_->show();
        pnlTrack_->show();
        started_ = false;
        capturing_ = false;
        outputFile_.clear();
        btnOption_->setEnabled(true);
        btnpalyandcapture_->setEnabled(true);
        btnPlay_->setEnabled(true);
        btnPlay_->setText(QStringLiteral("Play Movie"));
        CaptureMessageBox(this, why, QStringLiteral("Error"), QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    fastDone_ = true;
    if (closing_) return;
    QApplication::beep();
    pbFastCapture_->hide();
    QString done = QStringLiteral("Conversion completed and output file can be found: ") + QLatin1Char('\n') +
                   QDir::toNativeSeparators(outputFile_);
    lblCurrentFrame_->setText(QStringLiteral("%1/%2 frames").arg(result.Frames).arg(frameCount_));
    if (!result.Succeeded) done += QStringLiteral("\n(stopped after %1 frames)").arg(result.Frames);
    for (const QString& warning : result.Warnings) done += QLatin1Char('\n') + warning;
    lblFastCapture_->setText(done);
    btnOpenFolder_->show();
    btnFinish_->setEnabled(true);
}

}  // namespace qm::conversion
