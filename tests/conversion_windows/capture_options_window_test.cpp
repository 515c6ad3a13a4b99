// The capture options window: what it shows for each capture mode and limit, the rules between
// its controls, and what OK and Cancel leave behind.
#include <QCheckBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

#include "capture_support.h"

namespace qm::conversion::capture_test {
namespace {

class CaptureOptionsTest : public CaptureFixture {
protected:
    std::unique_ptr<TCaptureoptionfrm> Open(int64_t frameCount, int64_t limit) {
        auto w = std::make_unique<TCaptureoptionfrm>();
        w->FrameCount = frameCount;
        w->FrameLimit = limit;
        w->LoadSkin();
        w->show();
        return w;
    }
};

TEST_F(CaptureOptionsTest, ShowsTheModeAndTheLimit) {
    struct Case {
        int mode;
        int64_t limit;
        bool manual, autostop, autostopEnabled, allFrame, framesEnabled;
        int frames;
        bool fastEnabled;
    } cases[] = {
        {0, 0, true, false, true, false, false, 120, false},
        {1, 0, true, true, true, false, false, 120, false},
        {2, 0, false, false, false, false, false, 120, true},
        {0, 50, true, false, true, true, true, 50, false},
        {1, 50, true, false, true, true, true, 50, false},  // the limit wins over the last frame
        {2, 80, false, false, false, true, true, 80, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", limit " << c.limit);
        app::CaptureMode = c.mode;
        auto w = Open(120, c.limit);
        EXPECT_EQ(w->windowTitle(), "Option");
        EXPECT_EQ(w->size(), QSize(362, 255));
        EXPECT_EQ(w->Interactive()->isChecked(), c.manual);
        EXPECT_EQ(w->Automatic()->isChecked(), !c.manual);
        EXPECT_EQ(w->AutoStop()->isChecked(), c.autostop);
        EXPECT_EQ(w->AutoStop()->isEnabled(), c.autostopEnabled);
        EXPECT_EQ(w->AllFrame()->isChecked(), c.allFrame);
        EXPECT_EQ(w->Frames()->isEnabled(), c.framesEnabled);
        EXPECT_EQ(w->Frames()->value(), c.frames);
        EXPECT_EQ(w->Frames()->minimum(), 1);
        EXPECT_EQ(w->Frames()->maximum(), 120);
        EXPECT_EQ(w->FastCaptureBox()->isEnabled(), c.fastEnabled);
    }
}

TEST_F(CaptureOptionsTest, ControlsKeepOneEndConditionOfTheManualMode) {
    auto w = Open(300, 0);
    QTest::mouseClick(w->AutoStop(), Qt::LeftButton);
    EXPECT_TRUE(w->AutoStop()->isChecked());

    // Automatic removes the tick of "at the last frame" and disables it; fast capture opens.
    QTest::mouseClick(w->Automatic(), Qt::LeftButton);
    EXPECT_FALSE(w->AutoStop()->isChecked());
    EXPECT_FALSE(w->AutoStop()->isEnabled());
    EXPECT_TRUE(w->FastCaptureBox()->isEnabled());
    QTest::mouseClick(w->FastCaptureBox(), Qt::LeftButton);
    EXPECT_TRUE(w->FastCaptureBox()->isChecked());

    // Manual again: "at the last frame" is enabled without a tick; fast capture closes.
    QTest::mouseClick(w->Interactive(), Qt::LeftButton);
    EXPECT_TRUE(w->AutoStop()->isEnabled());
    EXPECT_FALSE(w->AutoStop()->isChecked());
    EXPECT_FALSE(w->FastCaptureBox()->isEnabled());
    EXPECT_FALSE(w->FastCaptureBox()->isChecked());

    // The two end conditions exclude each other; the frame box follows its check box.
    QTest::mouseClick(w->AllFrame(), Qt::LeftButton);
    EXPECT_TRUE(w->Frames()->isEnabled());
    QTest::mouseClick(w->AutoStop(), Qt::LeftButton);
    EXPECT_TRUE(w->AutoStop()->isChecked());
    EXPECT_FALSE(w->AllFrame()->isChecked());
    EXPECT_FALSE(w->Frames()->isEnabled());
    QTest::mouseClick(w->AllFrame(), Qt::LeftButton);
    EXPECT_TRUE(w->AllFrame()->isChecked());
    EXPECT_FALSE(w->AutoStop()->isChecked());
    QTest::mouseClick(w->AllFrame(), Qt::LeftButton);
    EXPECT_FALSE(w->Frames()->isEnabled());
}

TEST_F(CaptureOptionsTest, OkSetsTheModeTheLimitAndFastCaptureAndCancelNothing) {
    struct Case {
        bool automatic, autostop, allFrame, fast;
        int frames;
        int mode;
        int64_t limit;
        bool fastChosen;
    } cases[] = {
        {false, false, false, false, 10, 0, 0, false}, {false, true, false, false, 10, 1, 0, false},
        {true, false, false, false, 10, 2, 0, false},  {false, false, true, false, 50, 0, 50, false},
        {true, false, true, true, 75, 2, 75, true},    {true, false, false, true, 10, 2, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.limit);
        app::CaptureMode = 0;
        FastCapture = false;
        auto w = Open(200, 0);
        if (c.automatic) QTest::mouseClick(w->Automatic(), Qt::LeftButton);
        if (c.autostop) QTest::mouseClick(w->AutoStop(), Qt::LeftButton);
        if (c.allFrame) {
            QTest::mouseClick(w->AllFrame(), Qt::LeftButton);
            w->Frames()->setValue(c.frames);
        }
        if (c.fast) QTest::mouseClick(w->FastCaptureBox(), Qt::LeftButton);
        w->OkButton()->click();
        EXPECT_EQ(w->result(), QDialog::Accepted);
        EXPECT_EQ(app::CaptureMode, c.mode);
        EXPECT_EQ(w->FrameLimit, c.limit);
        EXPECT_EQ(FastCapture, c.fastChosen);
    }

    // Reopened after OK with a limit of 50: that limit, and not the last frame.
    app::CaptureMode = 1;
    auto again = Open(200, 50);
    EXPECT_TRUE(again->AllFrame()->isChecked());
    EXPECT_EQ(again->Frames()->value(), 50);
    EXPECT_FALSE(again->AutoStop()->isChecked());

    // Cancel and the close button change nothing.
    for (bool closeButton : {false, true}) {
        app::CaptureMode = 1;
        FastCapture = false;
        auto w = Open(200, 0);
        QTest::mouseClick(w->Automatic(), Qt::LeftButton);
        QTest::mouseClick(w->AllFrame(), Qt::LeftButton);
        if (closeButton) w->CloseButton()->click();
        else w->CancelButton()->click();
        EXPECT_EQ(w->result(), QDialog::Rejected);
        EXPECT_EQ(app::CaptureMode, 1);
        EXPECT_EQ(w->FrameLimit, 0);
    }
}

// The capture window's Option button: the limit chosen reaches the capture window.
TEST_F(CaptureOptionsTest, OptionButtonSetsTheCaptureWindowsLimit) {
    TestMovie m;
    const QString movie = WriteMovie("option.swf", m);
    auto window = MakeWindow(movie, m);
    window->show();
    QTimer::singleShot(0, [&] {
        auto* options = qobject_cast<TCaptureoptionfrm*>(QApplication::activeModalWidget());
        ASSERT_TRUE(options);
        EXPECT_EQ(options->Frames()->maximum(), m.frames);
        QTest::mouseClick(options->AllFrame(), Qt::LeftButton);
        options->Frames()->setValue(20);
        options->OkButton()->click();
    });
    window->OptionButton()->click();
    EXPECT_EQ(window->FrameLimit, 20);
}

}  // namespace
}  // namespace qm::conversion::capture_test
