// Fast capture on a disk that fills: the run ends with the reason in a box, no part of the
// output stays in the output folder, and the window is back at its start; an earlier output
// being replaced stays whole when the capture is given up.
#include <QLabel>
#include <QMessageBox>

#include <signal.h>
#include <sys/resource.h>

#include "capture_support.h"

namespace qm::conversion::capture_test {
namespace {

class FastCaptureFullDiskTest : public CaptureFixture {
protected:
    void SetUp() override {
        CaptureFixture::SetUp();
        app::CaptureMode = 2;
        FastCapture = true;
    }
};

TEST_F(FastCaptureFullDiskTest, FullDiskEndsTheCaptureWithTheReasonAndNoOutput) {
    TestMovie m;
    m.frames = 3000;  // two minutes: the limit comes long before the end
    m.width = 320;
    m.height = 240;
    const QString movie = WriteMovie("full.swf", m);
    auto window = MakeWindow(movie, m);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previousSignal = signal(SIGXFSZ, SIG_IGN);
    QString output;
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        output = window->OutputFile();
        EXPECT_TRUE(WaitFor([&] { return window->CurrentFrameLabel()->text() != "0/3000 frames"; }, 30000));
        // From now on files may grow only a little further: the next large write fails as on a
        // full disk (the signal that would end the program is ignored).
        rlimit limit = before;
        limit.rlim_cur = rlim_t(std::max<qint64>(QFileInfo(output).size(), 0)) + 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_TRUE(WaitFor([&] { return !boxes.empty(); }, 60000));
        setrlimit(RLIMIT_FSIZE, &before);
        EXPECT_TRUE(window->PlayAndCaptureButton()->isEnabled());
        EXPECT_FALSE(window->Started());
        answers = {QMessageBox::Ok, QMessageBox::Ok};
        window->FinishButton()->click();
    });
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previousSignal);
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].text, "Cannot do convert, error: Cannot write the output file " + output + ": File too large");
    EXPECT_TRUE(QDir(outFolder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(FastCaptureFullDiskTest, AnEarlierOutputBeingReplacedStaysWholeWhenTheCaptureIsGivenUp) {
    TestMovie m;
    m.frames = 3000;
    m.width = 320;
    m.height = 240;
    const QString movie = WriteMovie("again.swf", m);
    app::OverWrite = true;
    QFile earlier(outFolder + "again.mp4");
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("the earlier output");
    earlier.close();
    auto window = MakeWindow(movie, m);
    const int result = Exec(*window, [&] {
        window->PlayAndCaptureButton()->click();
        EXPECT_TRUE(WaitFor([&] { return window->CurrentFrameLabel()->text() != "0/3000 frames"; }, 30000));
        answers = {QMessageBox::Ok};
        window->CloseButton()->click();
    });
    EXPECT_EQ(result, QDialog::Rejected);
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "the earlier output");
    EXPECT_EQ(QDir(outFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"again.mp4"});
}

}  // namespace
}  // namespace qm::conversion::capture_test
