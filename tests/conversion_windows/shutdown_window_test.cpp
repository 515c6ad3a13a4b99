// The shutdown window: the countdown, "Shut Down" at once, and Cancel. The power-off request is
// replaced, so nothing here ever powers the machine off.
#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "controls/skin_art.h"
#include "conversion/windows/shutdown_window.h"

namespace qm::conversion {
namespace {

class ShutdownWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(controls::WriteFormSkin(skin.path()));
        controls::SetSkinFormFolder(skin.path());
        TShutDownFrm::SetPowerOffRequest([this] { ++requests; });
    }
    void TearDown() override {
        TShutDownFrm::SetPowerOffRequest({});
        controls::SetSkinFormFolder(QString());
    }

    QTemporaryDir skin;
    int requests = 0;
};

TEST_F(ShutdownWindowTest, CountsDownThirtySecondsThenAsksToPowerOff) {
    TShutDownFrm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), "Information");
    EXPECT_EQ(window.OkButton()->text(), "Shut Down");
    EXPECT_TRUE(window.OkButton()->hasFocus());
    EXPECT_TRUE(window.Timer()->isActive());
    EXPECT_EQ(window.Timer()->interval(), 1000);
    EXPECT_EQ(window.ShowLabel()->text(), "Your computer will shut down after 30 seconds.");
    // Each tick as the timer would give it.
    for (int tick = 1; tick <= 30; ++tick) {
        window.tmr1Timer();
        EXPECT_EQ(window.ShowLabel()->text(), QString("Your computer will shut down after %1 seconds.").arg(30 - tick));
        EXPECT_EQ(requests, tick == 30 ? 1 : 0) << "tick " << tick;
    }
    EXPECT_FALSE(window.Timer()->isActive());
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ShutdownWindowTest, ShutDownAsksAtOnceAndTheWindowStays) {
    TShutDownFrm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.OkButton()->click();
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ShutdownWindowTest, CancelAndTheCloseButtonCloseWithoutPoweringOff) {
    for (bool closeButton : {false, true}) {
        SCOPED_TRACE(closeButton ? "close button" : "Cancel");
        TShutDownFrm window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.tmr1Timer();
        QSignalSpy finished(&window, &QDialog::finished);
        (closeButton ? window.CloseButton() : window.CancelButton())->click();
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(window.result(), QDialog::Rejected);
        EXPECT_FALSE(window.isVisible());
        EXPECT_FALSE(window.Timer()->isActive());
        EXPECT_EQ(requests, 0);
    }
}

TEST_F(ShutdownWindowTest, TheRealCountdownTicksOnceASecond) {
    TShutDownFrm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(1300);
    EXPECT_EQ(window.ShowLabel()->text(), "Your computer will shut down after 29 seconds.");
    EXPECT_EQ(window.Counter(), 1);
}

}  // namespace
}  // namespace qm::conversion
