// The capture window: its layout for the capture size, the questions before leaving, the preview
// with seeking, the end of a capture in each mode, the engine's failure shown in the window, and
// a window closed or destroyed while the engine's worker paints into it.
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "capture_support.h"
#include "controls/sv_trackbar.h"
#include "player/qt/shockwave_flash.h"
#include "player/qt/snapshot_thread.h"

namespace qm::conversion::capture_test {
namespace {

class CaptureWindowTest : public CaptureFixture {};

TEST_F(CaptureWindowTest, SmallPictureIsCentredInTheDesignedWindow) {
    TestMovie m;
    m.width = 322;
    m.height = 242;
    const QString movie = WriteMovie("small.swf", m);
    auto window = MakeWindow(movie, m);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->size(), QSize(680, 520));
    EXPECT_EQ(window->SWF()->geometry(), QRect(176, 86, 324, 244));
    EXPECT_EQ(window->SWFBox()->size(), QSize(676, 417));
    EXPECT_FALSE(window->SWFBox()->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(window->SWFBox()->verticalScrollBar()->isVisible());
    // The button panel lies below the player area, every button inside the window.
    for (controls::SkinButton* b : {window->OptionButton(), window->PlayAndCaptureButton(), window->PlayButton(),
                                    window->CaptureButton(), window->SnapshotButton(), window->FinishButton()}) {
        const QRect r(b->mapTo(window.get(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(QRect(0, 26 + 417, 680, 77).contains(r)) << b->text().toStdString();
    }
    // The designed states of the controls.
    EXPECT_EQ(window->windowTitle(), "Capture");
    EXPECT_EQ(window->CurrentFrameLabel()->text(), "0/0 frames");
    EXPECT_TRUE(window->PlayAndCaptureButton()->isEnabled());
    EXPECT_TRUE(window->PlayButton()->isEnabled());
    EXPECT_FALSE(window->CaptureButton()->isEnabled());
    EXPECT_FALSE(window->SnapshotButton()->isEnabled());
    EXPECT_TRUE(window->FinishButton()->isEnabled());
    EXPECT_FALSE(window->TrackSWF()->parentWidget()->isEnabled());
    EXPECT_EQ(window->TrackSWF()->Max(), m.frames);
    EXPECT_TRUE(Log().contains("[Start Capture]"));
    EXPECT_TRUE(Log().contains("Init Input"));
}

TEST_F(CaptureWindowTest, LargePictureScrollsInAWindowOfTheWorkArea) {
    TestMovie m;
    m.width = 1280;
    m.height = 720;
    m.frames = 2;
    const QString movie = WriteMovie("large.swf", m);
    auto window = MakeWindow(movie, m);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(window->size(), QSize(1024, 768));
    EXPECT_EQ(window->SWF()->size(), QSize(1280, 720));
    EXPECT_TRUE(window->SWFBox()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(window->SWFBox()->verticalScrollBar()->isVisible());
}

TEST_F(CaptureWindowTest, LeavingBeforeCapturingAsksAndClosesWithCancel) {
    TestMovie m;
    const QString movie = WriteMovie("ask.swf", m);
    struct Case {
        bool finish;  // the Finish button, else the title bar's close button
        const char* text;
        const char* caption;
    } cases[] = {{true, "You have not started Capturing yet, are you sure to exit?", "information"},
                 {false, "Are you sure to exit?", "Information"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        boxes.clear();
        auto window = MakeWindow(movie, m);
        QAbstractButton* button = c.finish ? static_cast<QAbstractButton*>(window->FinishButton()) : window->CloseButton();
        const int result = Exec(*window, [&] {
            answers = {QMessageBox::Cancel, QMessageBox::Ok};
            button->click();  // answered Cancel: the window stays
            EXPECT_TRUE(window->isVisible());
            window->PlayButton()->click();  // the preview plays on
            button->click();  // answered OK
        });
        EXPECT_EQ(result, QDialog::Rejected);
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].icon, int(QMessageBox::Warning));
        EXPECT_EQ(boxes[0].buttons, int(QMessageBox::Ok | QMessageBox::Cancel));
        // The player falls silent once the window has closed.
        EXPECT_EQ(window->SWF()->CurrentFrame(), -1);
        EXPECT_FALSE(QFileInfo::exists(VideoFile()));
    }
    EXPECT_TRUE(Log().contains("[Exit Capture]"));
    EXPECT_TRUE(Log().contains("[Stop Capture]"));
}

TEST_F(CaptureWindowTest, PreviewPlaysSeeksAndStops) {
    TestMovie m;
    m.frames = 100;
    const QString movie = WriteMovie("preview.swf", m);
    auto window = MakeWindow(movie, m);
    window->show();
    window->PlayButton()->click();
    EXPECT_EQ(window->PlayButton()->text(), "Stop Movie");
    EXPECT_TRUE(window->CaptureButton()->isEnabled());
    EXPECT_FALSE(window->PlayAndCaptureButton()->isEnabled());
    EXPECT_TRUE(window->SnapshotButton()->isEnabled());
    EXPECT_TRUE(window->TrackSWF()->parentWidget()->isEnabled());
    EXPECT_TRUE(window->CaptureFrameTimer()->isActive());
    EXPECT_EQ(window->CaptureFrameTimer()->interval(), 250);

    // The frame counter follows the movie, and so does the trackbar, without moving the movie.
    ASSERT_TRUE(WaitFor([&] { return window->CurrentFrameLabel()->text() != "0/0 frames"; }, 2000));
    const QString counted = window->CurrentFrameLabel()->text();
    EXPECT_TRUE(counted.endsWith("/100 frames")) << counted.toStdString();
    window->tmrCaptureFrameTimer();
    const int shown = window->SWF()->CurrentFrame();
    EXPECT_EQ(window->TrackSWF()->Position(), shown);
    EXPECT_LE(std::abs(window->SWF()->CurrentFrame() - shown), 1);

    // Seeking: the movie goes to the chosen frame and plays on from there.
    window->TrackSWF()->SetPosition(70);
    emit window->TrackSWF()->OnTickChange();
    EXPECT_GE(window->SWF()->CurrentFrame(), 70);
    EXPECT_LE(window->SWF()->CurrentFrame(), 72);
    EXPECT_TRUE(window->SWF()->IsPlaying());

    // A snapshot of what is shown.
    window->SnapshotButton()->click();
    window->Snapshot()->WaitIdle();
    EXPECT_TRUE(QFileInfo::exists(root.filePath("shots/preview_0.jpg")));

    window->PlayButton()->click();
    EXPECT_EQ(window->PlayButton()->text(), "Start Movie");
    EXPECT_EQ(window->SWF()->Movie(), "None.swf");
    EXPECT_FALSE(window->CaptureButton()->isEnabled());
    EXPECT_TRUE(window->PlayAndCaptureButton()->isEnabled());
    EXPECT_FALSE(window->SnapshotButton()->isEnabled());
    EXPECT_FALSE(window->TrackSWF()->parentWidget()->isEnabled());
    EXPECT_FALSE(window->CaptureFrameTimer()->isActive());
    EXPECT_EQ(window->TrackSWF()->Position(), 0);
}

TEST_F(CaptureWindowTest, ManualCaptureNeverEndsByItselfAndLeavesLoopAlone) {
    // Ten frames that stop on the last one: neither the end nor the stand ends a manual capture.
    TestMovie m;
    m.frames = 10;
    m.stopAt = 9;
    const QString movie = WriteMovie("manual.swf", m);
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        EXPECT_TRUE(window->Capturing());
        EXPECT_TRUE(window->Started());
        EXPECT_FALSE(window->OptionButton()->isEnabled());
        EXPECT_FALSE(window->PlayButton()->isEnabled());
        EXPECT_FALSE(window->PlayAndCaptureButton()->isEnabled());
        EXPECT_TRUE(window->SnapshotButton()->isEnabled());
        Wait(2500);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->SWF()->Loop());
        window->FinishButton()->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(boxes.empty());
    const std::vector<VideoFrame> frames = ProbeFrames(VideoFile());
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(frames.back().time, 2.0);
    const QString log = Log();
    EXPECT_TRUE(log.contains("init Output"));
    EXPECT_TRUE(log.contains("Play and Capture"));
    // The sound is recorded from the start of the capture to its finish, before the window closes.
    const int start = log.indexOf("[Start Audio Capture]"), stop = log.indexOf("[Stop Audio Capture]");
    EXPECT_GT(start, log.indexOf("Play and Capture"));
    EXPECT_GT(stop, start);
    EXPECT_GT(log.indexOf("[Stop Capture]"), stop);
}

TEST_F(CaptureWindowTest, AutomaticCaptureEndsOneSecondAfterTheMovieStands) {
    // 24 fps, stopping on frame 12 of 48: 12 frames, then 24 requests without a change.
    TestMovie m;
    m.rate = 24;
    m.frames = 48;
    m.stopAt = 12;
    const QString movie = WriteMovie("stands.swf", m);
    app::CaptureMode = 2;
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] { window->PlayAndCaptureButton()->click(); });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(window->SWF()->Loop());
    const std::vector<VideoFrame> frames = ProbeFrames(VideoFile());
    EXPECT_GE(frames.size(), 12u + 24u - 2u);
    EXPECT_LE(frames.size(), 12u + 24u + 1u);
}

TEST_F(CaptureWindowTest, FrameLimitFinishesTheCaptureFromItsLastFrame) {
    TestMovie m;
    m.frames = 200;
    const QString movie = WriteMovie("limit.swf", m);
    auto window = MakeWindow(movie, m);
    window->ShowOptions = [](TCaptureFrm& w) { w.FrameLimit = 30; };
    const int result = Exec(*window, [&] {
        window->OptionButton()->click();
        window->PlayAndCaptureButton()->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    const std::vector<VideoFrame> frames = ProbeFrames(VideoFile());
    // Frame 29 asks to finish; the frames taken while Finish stops the engine are kept.
    // How many those are depends on the machine's load (the capture runs on the wall
    // clock), so the bound only shows that the limit, not the movie's 200 frames, ended it.
    EXPECT_GE(frames.size(), 29u);
    EXPECT_LE(frames.size(), 60u);
}

TEST_F(CaptureWindowTest, StartCapturingTakesOverThePreviewWhereItIs) {
    TestMovie m;
    m.frames = 100;
    const QString movie = WriteMovie("preview.swf", m);
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] {
        window->PlayButton()->click();
        Wait(600);
        const int before = window->SWF()->CurrentFrame();
        window->CaptureButton()->click();
        EXPECT_GE(window->SWF()->CurrentFrame(), before);  // not restarted
        EXPECT_FALSE(window->CaptureButton()->isEnabled());
        EXPECT_FALSE(window->PlayButton()->isEnabled());
        EXPECT_FALSE(window->OptionButton()->isEnabled());
        EXPECT_FALSE(window->TrackSWF()->parentWidget()->isEnabled());
        Wait(800);
        window->FinishButton()->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(Log().contains("Start Capturing"));
    const std::vector<VideoFrame> frames = ProbeFrames(VideoFile());
    EXPECT_GE(frames.size(), 10u);
}

TEST_F(CaptureWindowTest, EngineFailureIsShownAndTheWindowCarriesOn) {
    TestMovie m;
    const QString movie = WriteMovie("fails.swf", m);
    hook->VideoFileName = root.filePath("no such folder/brvV_temp.mp4").toStdString();
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        EXPECT_TRUE(WaitFor([&] { return window->StatusLabel()->isVisible(); }, 5000));
        EXPECT_TRUE(window->StatusLabel()->text().startsWith("The capture cannot be recorded: "))
            << window->StatusLabel()->text().toStdString();
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->Capturing());
        window->FinishButton()->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(QFileInfo::exists(VideoFile()));
}

TEST_F(CaptureWindowTest, ClosingOrDestroyingWhileCapturingStopsTheEngineFirst) {
    TestMovie m;
    m.frames = 500;
    m.width = 640;
    m.height = 480;
    const QString movie = WriteMovie("busy.swf", m);
    {
        auto window = MakeWindow(movie, m);
        const int result = Exec(*window, [&] {
            window->PlayAndCaptureButton()->click();
            Wait(700);
            answers = {QMessageBox::Ok};
            window->CloseButton()->click();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(Log().contains("[Exit Capture]"));
        EXPECT_FALSE(hook->Capturing());
    }
    {
        // Destroyed with the worker painting: the engine stops before the player goes.
        auto window = MakeWindow(movie, m);
        window->show();
        window->PlayAndCaptureButton()->click();
        Wait(700);
        window.reset();
        hook->StopCapture();
    }
    // A finish message posted by a worker of a window that is gone reaches nothing.
    Wait(200);
}

// The whole capture of a movie with sound, as a user runs it in automatic mode: the intermediate
// MPEG-4 file holds the movie's five seconds at its frame rate, and the sound recorded beside
// it is in step with the picture.
TEST_F(CaptureWindowTest, AutomaticCaptureOfAMovieWithSound) {
    TestMovie m;
    m.frames = 125;  // 5 s at 25 fps
    m.markers = {50, 100};
    const QString movie = WriteMovie("five seconds.swf", m);
    app::CaptureMode = 2;
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] { window->PlayAndCaptureButton()->click(); });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(window->StatusLabel()->isVisible());

    // The picture.
    EXPECT_EQ(ProbeText(VideoFile(), "stream=codec_name,width,height"), "mpeg4,160,120");
    const std::vector<VideoFrame> frames = ProbeFrames(VideoFile());
    ASSERT_GT(frames.size(), 100u);
    const double duration = frames.back().time - frames.front().time + 1.0 / 25;
    EXPECT_NEAR(duration, 5.0, 1.0 / 25 + 1e-3);
    EXPECT_NEAR(double(frames.size()) / duration, 25.0, 1.0);

    // The sound, made into the WAV file the conversion reads.
    hook->MakeWavFile();
    ASSERT_FALSE(hook->AudioEmpty);
    QFile wav(QString::fromStdString(hook->WavFileName));
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const QByteArray bytes = wav.readAll();
    const audio::WaveFormat format = hook->Format();
    ASSERT_EQ(format.bits_per_sample, 16);
    const int channels = format.channels;
    const size_t count = size_t(bytes.size() - 68) / 2 / size_t(channels);
    const auto* samples = reinterpret_cast<const int16_t*>(bytes.constData() + 68);
    std::vector<double> clicks;
    size_t quietSince = 0;
    for (size_t i = 0; i < count; ++i) {
        const int s = std::abs(int(samples[i * size_t(channels)]));
        if (s > 12000) {
            if (i - quietSince > size_t(format.samples_per_sec) / 4 || clicks.empty()) {
                if (clicks.empty() || double(i) / format.samples_per_sec - clicks.back() > 0.25)
                    clicks.push_back(double(i) / format.samples_per_sec);
            }
            quietSince = i;
        }
    }
    // The picture's marker frames: where the stage turns white.
    std::vector<double> markers;
    for (size_t i = 1; i < frames.size(); ++i)
        if (frames[i].brightness > 128 && frames[i - 1].brightness <= 128) markers.push_back(frames[i].time);
    ASSERT_EQ(markers.size(), 2u);
    ASSERT_EQ(clicks.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(clicks[k], markers[k], 0.040) << "click at " << clicks[k] << " s, picture at " << markers[k] << " s";
        // The marker frames show at the movie's own times, 2 s and 4 s into it.
        EXPECT_NEAR(markers[k], 2.0 * double(k + 1), 0.1);
    }
}

}  // namespace
}  // namespace qm::conversion::capture_test

namespace qm::conversion::capture_test {
namespace {

// For looking at the windows: with QM_SCREENSHOT_DIR set, the capture window playing a movie
// (QM_SCREENSHOT_MOVIE, else a test movie), during a capture and with fast capture's result,
// and the options window, are saved there as pictures.
TEST_F(CaptureWindowTest, Screenshots) {
    const QString folder = qEnvironmentVariable("QM_SCREENSHOT_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "QM_SCREENSHOT_DIR is not set";
    TestMovie m;
    m.width = 400;
    m.height = 300;
    m.frames = 250;
    QString movie = qEnvironmentVariable("QM_SCREENSHOT_MOVIE");
    formats::TFileOption job;
    if (movie.isEmpty()) movie = WriteMovie("look.swf", m);
    QString error;
    ASSERT_TRUE(ReadMovieInfo(movie, job.SWFInfo, error)) << error.toStdString();
    m.width = job.SWFInfo.Width;
    m.height = job.SWFInfo.Height;
    m.frames = job.SWFInfo.FrameCount;
    auto window = MakeWindow(movie, m);
    window->Job.SWFInfo = job.SWFInfo;
    window->show();
    window->PlayButton()->click();
    Wait(1500);
    window->grab().save(folder + "/capture_preview.png");
    window->PlayButton()->click();
    window->PlayAndCaptureButton()->click();
    Wait(1000);
    window->grab().save(folder + "/capture_running.png");
    window->FinishButton()->click();

    auto options = std::make_unique<TCaptureoptionfrm>();
    options->FrameCount = m.frames;
    options->FrameLimit = 100;
    options->LoadSkin();
    options->show();
    Wait(300);
    options->grab().save(folder + "/capture_options.png");

    app::CaptureMode = 2;
    FastCapture = true;
    auto fast = MakeWindow(movie, m);
    fast->Job.SWFInfo = job.SWFInfo;
    fast->show();
    fast->PlayAndCaptureButton()->click();
    Wait(400);
    fast->grab().save(folder + "/capture_fast_running.png");
    WaitFor([&] { return fast->OpenFolderButton()->isVisible(); }, 120000);
    fast->grab().save(folder + "/capture_fast_done.png");
    fast->FinishButton()->click();
}

}  // namespace
}  // namespace qm::conversion::capture_test
