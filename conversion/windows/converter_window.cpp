#include "conversion/windows/converter_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "app/core/app_core.h"
#include "app/core/qt_dispatcher.h"
#include "app/ui/app_ui.h"
#include "audio/sound_capture.h"
#include "conversion/conversion.h"
#include "conversion/conversion_log.h"
#include "conversion/windows/shutdown_window.h"
#include "engine/ff_encoder.h"
#include "engine/main_thread.h"

namespace qm::conversion {

namespace {

TMessageBoxFunction& messageBoxOverride() {
    static TMessageBoxFunction box;
    return box;
}

std::function<void()>& exitProgramOverride() {
    static std::function<void()> exitProgram;
    return exitProgram;
}

std::function<void(QWidget*)>& showShutdownOverride() {
    static std::function<void(QWidget*)> showShutdown;
    return showShutdown;
}

// The window's stored look: client area and background colour.
constexpr int kWidth = 398;
constexpr int kHeight = 164;
const QColor kBackground(0x25, 0x3A, 0x50);
// How long a closing window waits for a stopped run to report its end.
constexpr int kStopWaitMs = 30000;

// Engine events must reach the window on its own thread.
void EnsureEventsOnMainThread() {
    static app::QtMainThreadDispatcher dispatcher;
    if (!dynamic_cast<app::QtMainThreadDispatcher*>(&engine::MainThreadDispatcher()))
        engine::SetMainThreadDispatcher(&dispatcher);
}

void RemoveFile(const QString& path) {
    if (!path.isEmpty() && QFileInfo::exists(path)) QFile::remove(path);
}

QString Folder(const QString& path) {
    if (path.isEmpty()) return {};
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

}  // namespace

void SetConversionMessageBox(TMessageBoxFunction box) { messageBoxOverride() = std::move(box); }

bool ConversionMessageBox(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon,
                          BoxButtons buttons) {
    if (messageBoxOverride()) return messageBoxOverride()(parent, text, caption, icon, buttons);
    const QMessageBox::Icon shown = icon == BoxIcon::Error     ? QMessageBox::Critical
                                    : icon == BoxIcon::Warning ? QMessageBox::Warning
                                                               : QMessageBox::Information;
    QMessageBox box(shown, caption, text,
                    buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
    return box.exec() == QMessageBox::Ok;
}

void TConverterfrm::SetExitProgramHook(std::function<void()> exitProgram) {
    exitProgramOverride() = std::move(exitProgram);
}

void TConverterfrm::SetShowShutdownHook(std::function<void(QWidget*)> showShutdown) {
    showShutdownOverride() = std::move(showShutdown);
}

TConverterfrm::TConverterfrm(const formats::TFileOption& job, audio::TSoundHook& soundHook, QWidget* parent)
    : controls::SkinnedWindow(parent), Job_(job), SoundHook_(soundHook), FFEncoder_(new engine::TFFEncoder) {
    EnsureEventsOnMainThread();
    setObjectName(QStringLiteral("Converterfrm"));
    setWindowTitle(QStringLiteral("Convertering"));
    setWindowModality(Qt::ApplicationModal);
    QPalette background = palette();
    background.setColor(QPalette::Window, kBackground);
    setPalette(background);
    setAutoFillBackground(true);

    AddMinimiseButton();
    AddDialogButtons(QStringLiteral("Open Folder"), QStringLiteral("Cancel"));
    btnOK = OkButton();
    btnCancel = CancelButton();
    // The frame's buttons answer the dialog at once; this window asks first.
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(btnOK), static_cast<QAbstractButton*>(btnCancel),
                                    static_cast<QAbstractButton*>(CloseButton()),
                                    static_cast<QAbstractButton*>(MinimiseButton())})
        disconnect(button, &QAbstractButton::clicked, this, nullptr);
    connect(btnOK, &QAbstractButton::clicked, this, &TConverterfrm::btnOKClick);
    connect(btnCancel, &QAbstractButton::clicked, this, &TConverterfrm::btnCancelClick);
    connect(CloseButton(), &QAbstractButton::clicked, this, &TConverterfrm::btnCancelClick);
    connect(MinimiseButton(), &QAbstractButton::clicked, this, &TConverterfrm::btnMinClick);
    btnOK->setVisible(false);

    QWidget* client = ClientArea();
    QPalette light = client->palette();
    light.setColor(QPalette::WindowText, Qt::white);
    lblCatpion = new QLabel(QStringLiteral("Converting, please wait..."), client);
    lblCatpion->setObjectName(QStringLiteral("lblCatpion"));
    lblCatpion->setPalette(light);
    PbConverter = new QProgressBar(client);
    PbConverter->setObjectName(QStringLiteral("PbConverter"));
    PbConverter->setRange(0, 100);
    PbConverter->setValue(0);
    edtoutFolder = new QLineEdit(client);
    edtoutFolder->setObjectName(QStringLiteral("edtoutFolder"));
    edtoutFolder->setReadOnly(true);
    edtoutFolder->setVisible(false);

    tmrConverter = new QTimer(this);
    tmrConverter->setObjectName(QStringLiteral("tmrConverter"));
    tmrConverter->setInterval(10);
    connect(tmrConverter, &QTimer::timeout, this, &TConverterfrm::tmrConverterTimer);
    tmrMergerAudio = new QTimer(this);
    tmrMergerAudio->setObjectName(QStringLiteral("tmrMergerAudio"));
    tmrMergerAudio->setInterval(10);
    connect(tmrMergerAudio, &QTimer::timeout, this, &TConverterfrm::tmrMergerAudioTimer);

    FFEncoder_->OnProgress = [this](void*, engine::TProgressInfo* info) {
        if (info) FFEncoderProgress(*info);
    };
    FFEncoder_->OnTerminate = [this](void*, const engine::TTerminateInfo& info) {
        if (info.TaskIndex < 0) FinalSeen_ = true;
        FFEncoderTerminate(info);
    };

    resize(kWidth, kHeight);
    const int w = width() - 2 * kBorderWidth;
    lblCatpion->setGeometry(14, 14, w - 28, 20);
    PbConverter->setGeometry(14, 44, w - 28, 22);
    edtoutFolder->setGeometry(14, 44, w - 28, 22);
    try {
        LoadSkin();
    } catch (const controls::SkinError& e) {
        // The window works without its pictures; the log says what is missing.
        LogError(QString::fromUtf8(e.what()));
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TConverterfrm::~TConverterfrm() {
    Closing_ = true;
    tmrConverter->stop();
    tmrMergerAudio->stop();
    if (FFEncoder_) {
        // A run that was started reports its end before its threads can be joined.
        if (RunStarted_) {
            FFEncoder_->Stop(true);
            QElapsedTimer waited;
            waited.start();
            while (!FinalSeen_ && waited.elapsed() < kStopWaitMs) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                QThread::msleep(5);
            }
            try {
                FFEncoder_->ClearTasks();
            } catch (const std::exception& e) {
                LogError(QString::fromUtf8(e.what()));
            }
        }
        FFEncoder_.reset();
    }
    DeleteTemporaryFiles();
    // The run has ended for good now: a failed or cancelled one leaves no part of its output.
    if (!Succeeded_) RemoveOwnOutput();
}

bool TConverterfrm::Completed() const { return btnOK && !btnOK->isHidden(); }

QString TConverterfrm::WatermarkFolder() const { return WorkFolder_ ? WorkFolder_->path() : QString(); }

void TConverterfrm::showEvent(QShowEvent* event) {
    SkinnedWindow::showEvent(event);
    if (Shown_) return;
    Shown_ = true;
    FormShow();
}

void TConverterfrm::FormShow() {
    SoundHook_.MakeWavFile();
    // The prepared picture lives in a folder of our own, gone with the window.
    const QString temp = Folder(app::SystemTempPath.isEmpty() ? QDir::tempPath() : app::SystemTempPath);
    WorkFolder_ = std::make_unique<QTemporaryDir>(temp + QStringLiteral("quellmark-XXXXXX"));
    if (WorkFolder_->isValid()) {
        try {
            PrepareWatermark(Job_, WorkFolder_->path());
        } catch (const std::exception& e) {
            // The conversion goes on without the picture.
            LogError(QStringLiteral("SaveWaterMark: ") + QString::fromUtf8(e.what()));
            Job_.Options.WaterMark.PreparedFile.clear();
        }
    } else if (Job_.Options.WatermarkKind == 1) {
        LogError(QStringLiteral("SaveWaterMark: ") + WorkFolder_->errorString());
    }
    OutputPath_.clear();
    LoopedAudioFile_.clear();
    if (NeedsAudioLoop())
        tmrMergerAudio->start();
    else
        tmrConverter->start();
    lblCatpion->setText(QStringLiteral("Converting, please wait..."));
    setWindowTitle(QStringLiteral("Convertering"));
}

bool TConverterfrm::NeedsAudioLoop() {
    LoopCount_ = 0;
    const auto& o = Job_.Options;
    if (o.AudioDisabled || o.DisableVideo || o.ReplaceAudioMode != 2) return false;
    engine::TFFDecoder& info = FFEncoder_->InfoDecoder();
    const int64_t video = MediaDuration(info, QString::fromStdString(SoundHook_.VideoFileName));
    return conversion::NeedsAudioLoop(Job_, video, info, LoopCount_);
}

void TConverterfrm::tmrMergerAudioTimer() {
    LogInfo(QStringLiteral("[Start AudioMerger]"));
    tmrMergerAudio->stop();
    if (Closing_) return;
    if (!StartAudioLoop()) {
        LoopCount_ = 0;
        ConversionMessageBox(this, QStringLiteral("Cannot do convert, error: ") + Error_, QStringLiteral("Error"),
                             BoxIcon::Error, BoxButtons::Ok);
        CloseAsCancelled();
    }
}

bool TConverterfrm::StartAudioLoop() {
    QString folder = Folder(app::CaptureTempPath);
    if (folder.isEmpty()) folder = Folder(QFileInfo(QString::fromStdString(SoundHook_.VideoFileName)).path());
    QString log;
    try {
        FFEncoder_->ClearTasks();
        if (!AddAudioLoopTask(*FFEncoder_, Job_, LoopCount_, folder, LoopedAudioFile_, log)) {
            Error_ = QString::fromStdString(FFEncoder_->LastErrorMessage());
            return false;
        }
        RunStarted_ = true;
        FinalSeen_ = false;
        FFEncoder_->StartTask(1);
        return true;
    } catch (const std::exception& e) {
        Error_ = QString::fromUtf8(e.what());
        LogError(QStringLiteral("Cannot do convert, error: ") + Error_);
        return false;
    }
}

void TConverterfrm::tmrConverterTimer() {
    tmrConverter->stop();
    if (Closing_) return;
    LogInfo(QStringLiteral("[Start AudioVideoMerger]"));
    if (!StartMerge()) {
        ConversionMessageBox(this, QStringLiteral("Cannot do convert, error: ") + Error_, QStringLiteral("Error"),
                             BoxIcon::Error, BoxButtons::Ok);
        CloseAsCancelled();
    }
}

bool TConverterfrm::StartMerge() {
    MergeRun run;
    run.VideoFile = QString::fromStdString(SoundHook_.VideoFileName);
    run.WavFile = QString::fromStdString(SoundHook_.WavFileName);
    run.AudioEmpty = SoundHook_.AudioEmpty;
    run.OutputFolder = app::OutputPath;
    run.OverWrite = app::OverWrite;
    const bool added = AddMergeTask(*FFEncoder_, Job_, run);
    OutputPath_ = run.OutputPath;
    WritePath_ = run.WritePath;
    if (!added) {
        Error_ = run.Error;
        return false;
    }
    try {
        RunStarted_ = true;
        FinalSeen_ = false;
        FFEncoder_->StartTask(1);
    } catch (const std::exception& e) {
        Error_ = QString::fromUtf8(e.what());
        LogError(QStringLiteral("Cannot do convert, error: ") + Error_);
        return false;
    }
    return true;
}

void TConverterfrm::FFEncoderProgress(const engine::TProgressInfo& info) {
    if (Closing_ || info.TotalTime <= 0) return;
    const double percent = double(info.OutputTime) / double(info.TotalTime) * 100.0;
    PbConverter->setValue(std::clamp(app::RoundHalfEven(percent), 0, 100));
}

void TConverterfrm::FFEncoderTerminate(const engine::TTerminateInfo& info) {
    if (Closing_) return;
    if (LoopFinalPending_) {
        // The loop run's own end; the main run starts once its threads are free.
        if (info.TaskIndex < 0) {
            LoopFinalPending_ = false;
            tmrConverter->start();
        }
        return;
    }
    if (LoopCount_ != 0) {
        if (info.Failed) {
            LoopCount_ = 0;
            ConversionMessageBox(this, QString::fromStdString(info.ErrorMessage), QStringLiteral("Error"),
                                 BoxIcon::Error, BoxButtons::Ok);
            CloseAsCancelled();
            return;
        }
        LoopCount_ = 0;
        LogInfo(QStringLiteral("Stop AudioMerger"));
        LoopFinalPending_ = true;
        return;
    }
    DeleteTemporaryFiles();
    if (info.Failed) {
        // A full disk or a failed write: no half-written output stays in the folder.
        RemoveOwnOutput();
        ConversionMessageBox(this, QString::fromStdString(info.ErrorMessage), QStringLiteral("Error"), BoxIcon::Error,
                             BoxButtons::Ok);
        CloseAsCancelled();
        return;
    }
    if (info.TaskIndex >= 0) return;
    // The run is complete: now the new file takes the place of the one it replaces.
    if (const QString problem = PutOutputInPlace(WritePath_, OutputPath_); !problem.isEmpty()) {
        LogError(problem);
        ConversionMessageBox(this, problem, QStringLiteral("Error"), BoxIcon::Error, BoxButtons::Ok);
        CloseAsCancelled();
        return;
    }
    Succeeded_ = true;
    if (app::FinishAction == 1) {
        CloseAsCancelled();
        ExitProgramAfterConversion();
        LogInfo(QStringLiteral("[Stop AudioVideoMerger]"));
        return;
    }
    QApplication::beep();
    PbConverter->setVisible(false);
    btnOK->setVisible(true);
    edtoutFolder->setText(OutputPath_);
    edtoutFolder->setToolTip(OutputPath_);
    edtoutFolder->setCursorPosition(0);
    edtoutFolder->setVisible(true);
    setWindowTitle(QStringLiteral("Conversion completed"));
    lblCatpion->setText(QStringLiteral("Conversion completed and output file can be found: "));
    if (app::FinishAction == 2) {
        QApplication::beep();
        ShowShutdownAfterConversion(this);
    }
    LogInfo(QStringLiteral("[Stop AudioVideoMerger]"));
}

void TConverterfrm::ExitProgramAfterConversion() {
    if (exitProgramOverride()) {
        exitProgramOverride()();
        return;
    }
    // Once the conversion's window is gone the main window closes and the program ends.
    QTimer::singleShot(0, qApp, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
}

void TConverterfrm::ShowShutdownAfterConversion(QWidget* parent) {
    if (showShutdownOverride()) {
        showShutdownOverride()(parent);
        return;
    }
    TShutDownFrm shutdown(parent);
    shutdown.exec();
}

void TConverterfrm::btnCancelClick() {
    if (Closing_) return;
    if (Completed()) {
        CloseAsCancelled();
        return;
    }
    FFEncoder_->Pause();
    QApplication::beep();
    if (ConversionMessageBox(this, QStringLiteral("Whether to quit conversion?"), QStringLiteral("Information"),
                             BoxIcon::Information, BoxButtons::OkCancel)) {
        // No event of the stopped run reaches the window any more.
        Closing_ = true;
        tmrConverter->stop();
        tmrMergerAudio->stop();
        FFEncoder_->Stop(true);
        LogInfo(QStringLiteral("[Exit AudioVideoMerger]"));
        // Given up: the shortened output goes (again once the run has ended, in the destructor).
        RemoveOwnOutput();
        CloseAsCancelled();
    } else {
        FFEncoder_->Resume();
    }
}

void TConverterfrm::btnOKClick() { app::SelectInExplorer(OutputPath_); }

void TConverterfrm::btnMinClick() {
    // Minimising the window minimises the program with it.
    if (QWidget* top = parentWidget() ? parentWidget()->window() : nullptr) top->showMinimized();
    showMinimized();
}

void TConverterfrm::CloseAsCancelled() {
    Closing_ = true;
    tmrConverter->stop();
    tmrMergerAudio->stop();
    reject();
}

void TConverterfrm::closeEvent(QCloseEvent* event) {
    if (Closing_) {
        SkinnedWindow::closeEvent(event);
        return;
    }
    // Closing from outside asks as Cancel does.
    event->ignore();
    btnCancelClick();
}

void TConverterfrm::done(int result) {
    Closing_ = true;
    FormClose();
    SkinnedWindow::done(result);
}

void TConverterfrm::FormClose() { DeleteTemporaryFiles(); }

void TConverterfrm::RemoveOwnOutput() {
    // Only what this run wrote is ours: an earlier output it was to replace stays as it was.
    RemoveFile(WritePath_);
}

void TConverterfrm::DeleteTemporaryFiles() {
    RemoveFile(QString::fromStdString(SoundHook_.WavFileName));
    RemoveFile(QString::fromStdString(SoundHook_.VideoFileName));
    RemoveFile(LoopedAudioFile_);
    // The prepared watermark picture is ours alone.
    if (WorkFolder_) WorkFolder_->remove();
}

}  // namespace qm::conversion
