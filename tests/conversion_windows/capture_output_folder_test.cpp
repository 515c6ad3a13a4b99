// An output folder in which no file can be made is refused as the capture starts, in real time
// and fast capture alike, from either start button: the reason is shown, nothing is recorded,
// and the window stays usable.
#include <QMessageBox>

#include "capture_support.h"

namespace qm::conversion::capture_test {
namespace {

class CaptureOutputFolderTest : public CaptureFixture {};

TEST_F(CaptureOutputFolderTest, UnwritableOutputFolderIsRefusedBeforeTheCapture) {
    TestMovie m;
    const QString movie = WriteMovie("refused.swf", m);
    // Its parent is a plain file: the folder can never be made, whoever runs the test.
    QFile plain(root.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    app::OutputPath = root.filePath("plain/out") + "/";
    struct Case {
        const char* name;
        bool fast;
        bool fromPreview;  // Start Capturing, else Play and Capture
    } cases[] = {{"real time, play and capture", false, false},
                 {"real time, start capturing", false, true},
                 {"fast capture", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        app::CaptureMode = c.fast ? 2 : 0;
        FastCapture = c.fast;
        auto window = MakeWindow(movie, m);
        const int result = Exec(*window, [&] {
            if (c.fromPreview) {
                window->PlayButton()->click();
                Wait(200);
                window->CaptureButton()->click();
            } else {
                window->PlayAndCaptureButton()->click();
            }
            answers = {QMessageBox::Ok};
            if (boxes.size() != 1u) {
                ADD_FAILURE() << "no refusal; the log:\n" << Log().toStdString();
                window->done(QDialog::Rejected);
                return;
            }
            EXPECT_EQ(boxes[0].text, "Cannot write to the output folder " + app::OutputPath + ".");
            EXPECT_EQ(boxes[0].caption, "Error");
            EXPECT_EQ(boxes[0].icon, int(QMessageBox::Critical));
            EXPECT_FALSE(window->Started());
            EXPECT_FALSE(window->Capturing());
            // The button can be pressed again once the folder is put right.
            EXPECT_TRUE((c.fromPreview ? window->CaptureButton() : window->PlayAndCaptureButton())->isEnabled());
            Wait(200);
            EXPECT_FALSE(QFileInfo::exists(VideoFile()));
            window->FinishButton()->click();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(window->OutputFile().isEmpty());
    }
    EXPECT_TRUE(Log().contains("Cannot write to the output folder "));
}

}  // namespace
}  // namespace qm::conversion::capture_test
