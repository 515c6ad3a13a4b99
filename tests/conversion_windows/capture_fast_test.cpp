// Fast capture: in automatic mode with the box ticked, the capture window renders the movie
// offline straight into the output file, shows its progress and the result, and tells the main
// window that no conversion is needed; closed half-way, it leaves no half-made file.
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollArea>

#include "capture_support.h"
#include "player/qt/shockwave_flash.h"

namespace qm::conversion::capture_test {
namespace {

class FastCaptureTest : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        app::CaptureMode = 2;
        FastCapture = true;
    }
};

TEST_F(FastCaptureTest, RendersTheWholeMovieIntoTheOutput) {
    TestMovie m;
    m.frames = 50;  // 2 s
    m.markers = {25};
    const QString movie = WriteMovie("fast.swf", m);
    auto window = MakeWindow(movie, m);
    bool progressShown = false;
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        EXPECT_FALSE(window->SWFBox()->isVisible());
        progressShown = window->FastCaptureProgress()->isVisible();
        EXPECT_TRUE(WaitFor([&] { return window->OpenFolderButton()->isVisible(); }, 60000));
        EXPECT_FALSE(window->FastCaptureProgress()->isVisible());
        const auto* done = window->findChild<QLabel*>("lblFastCapture");
        EXPECT_TRUE(done && done->text().startsWith("Conversion completed and output file can be found: "));
        // The real-time capture's files are not made.
        EXPECT_FALSE(QFileInfo::exists(VideoFile()));
        EXPECT_FALSE(hook->Capturing());
        window->FinishButton()->click();
    });
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(result, TCaptureFrm::kOutputMade);
    EXPECT_EQ(window->OutputFile(), outFolder + "fast.mp4");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(ProbeText(window->OutputFile(), "stream=codec_name,width,height"), "mpeg4,160,120");
    EXPECT_EQ(ProbeText(window->OutputFile(), "stream=codec_type", "a:0"), "audio");
    const std::vector<VideoFrame> frames = ProbeFrames(window->OutputFile());
    EXPECT_EQ(frames.size(), 50u);
    // The marker at its exact time: frame 25 of 25 a second.
    for (size_t i = 1; i < frames.size(); ++i)
        if (frames[i].brightness > 128 && frames[i - 1].brightness <= 128) EXPECT_NEAR(frames[i].time, 1.0, 1e-3);
}

TEST_F(FastCaptureTest, ClosedHalfWayLeavesNoFileAndOnlyAutomaticModeUsesIt) {
    TestMovie m;
    m.frames = 3000;  // two minutes: far longer than the test waits
    m.width = 320;
    m.height = 240;
    const QString movie = WriteMovie("long.swf", m);
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        // Under way: the counter shows the frames made.
        EXPECT_EQ(window->CurrentFrameLabel()->text(), "0/3000 frames");
        EXPECT_TRUE(WaitFor([&] { return window->CurrentFrameLabel()->text() != "0/3000 frames"; }, 30000));
        answers = {QMessageBox::Ok};
        window->CloseButton()->click();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to exit?");
    EXPECT_TRUE(QDir(outFolder).entryList(QDir::Files).isEmpty());

    // Finish half-way ends the capture early: the file holds the frames made so far.
    auto stopped = MakeWindow(movie, m);
    const int stoppedResult = Exec(*stopped, [&] {
        stopped->PlayAndCaptureButton()->click();
        EXPECT_TRUE(WaitFor([&] { return stopped->CurrentFrameLabel()->text() != "0/3000 frames"; }, 30000));
        stopped->FinishButton()->click();
        EXPECT_TRUE(stopped->OpenFolderButton()->isVisible());
        EXPECT_TRUE(stopped->findChild<QLabel*>("lblFastCapture")->text().contains("(stopped after "));
        stopped->FinishButton()->click();
    });
    EXPECT_EQ(stoppedResult, TCaptureFrm::kOutputMade);
    const std::vector<VideoFrame> made = ProbeFrames(stopped->OutputFile());
    EXPECT_GT(made.size(), 0u);
    EXPECT_LT(made.size(), 3000u);

    // Fast capture chosen but a manual mode set since: the capture runs in real time.
    app::CaptureMode = 0;
    auto manual = MakeWindow(movie, m);
    const int manualResult = Exec(*manual, [&] {
        manual->PlayAndCaptureButton()->click();
        EXPECT_TRUE(manual->SWFBox()->isVisible());
        EXPECT_FALSE(manual->FastCaptureProgress()->isVisible());
        Wait(300);
        manual->FinishButton()->click();
    });
    EXPECT_EQ(manualResult, QDialog::Accepted);
    EXPECT_TRUE(QFileInfo::exists(VideoFile()));
}

}  // namespace
}  // namespace qm::conversion::capture_test
