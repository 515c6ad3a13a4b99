#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "controls/skin_art.h"
#include "controls/skinned_window.h"

using namespace qm::controls;

namespace {

// Every test gets a fresh skin folder drawn by the program's own generator code.
class SkinnedWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QString error;
        ASSERT_TRUE(WriteFormSkin(folder.path(), &error)) << error.toStdString();
        SetSkinFormFolder(folder.path());
    }
    void TearDown() override { SetSkinFormFolder(QString()); }

    QTemporaryDir folder;
};

}  // namespace

TEST(SkinnedWindowShape, OnlyTheTopCornersAreRound) {
    const QRegion region = SkinnedWindowRegion(300, 200);
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 301, 210));
    for (const QPoint& outside : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(300, 0), QPoint(299, 0), QPoint(300, 1)})
        EXPECT_FALSE(region.contains(outside)) << outside.x() << "," << outside.y();
    for (const QPoint& inside : {QPoint(2, 0), QPoint(1, 1), QPoint(0, 2), QPoint(298, 0), QPoint(300, 2),
                                 QPoint(150, 100), QPoint(0, 199), QPoint(300, 199)})
        EXPECT_TRUE(region.contains(inside)) << inside.x() << "," << inside.y();
}

TEST_F(SkinnedWindowTest, ResizedWindowGetsTheShapeAndItsFrame) {
    SkinnedWindow window;
    window.AddDialogButtons();
    window.LoadSkin();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.resize(300, 200);
    EXPECT_EQ(window.mask(), SkinnedWindowRegion(300, 200));
    EXPECT_EQ(window.ClientArea()->geometry(), QRect(2, 26, 296, 167));
    auto* bottom = window.findChild<SkinPicture*>("bottom_center");
    ASSERT_TRUE(bottom);
    EXPECT_EQ(bottom->geometry().bottom(), 199);
    EXPECT_EQ(bottom->geometry().height(), 7);
    for (const char* name : {"Head_left", "Head_Center", "head_right", "imgLogo", "Center_left", "Center_Right",
                             "Bottom_left", "bottom_right"}) {
        auto* picture = window.findChild<SkinPicture*>(name);
        ASSERT_TRUE(picture) << name;
        EXPECT_FALSE(picture->Picture().isNull()) << name;
    }
    for (SkinButton* button : {window.OkButton(), window.CancelButton(), window.CloseButton()})
        EXPECT_FALSE(button->Up().isNull() || button->Hot().isNull() || button->Down().isNull());
    EXPECT_FALSE(window.OkButton()->FocusRect());
}

TEST_F(SkinnedWindowTest, TitleBarIsLaidOutWhenShown) {
    SkinnedWindow window;
    window.setWindowTitle("Options");
    window.AddMinimiseButton();
    window.LoadSkin();
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.findChild<QWidget*>("imgLogo")->pos(), QPoint(9, 4));
    EXPECT_EQ(window.TitleLabel()->pos(), QPoint(32, 2));
    EXPECT_EQ(window.TitleLabel()->text(), "Options");
    EXPECT_EQ(window.CloseButton()->geometry(), QRect(400 - 16 - 10, 5, 16, 16));
    EXPECT_EQ(window.MinimiseButton()->geometry(), QRect(400 - 16 - 10 - 16, 5, 16, 16));
    EXPECT_FALSE(window.MinimiseButton()->Up().isNull());
}

TEST_F(SkinnedWindowTest, MissingPictureOrComponentIsNamed) {
    {
        ASSERT_TRUE(QFile::remove(QDir(folder.path()).filePath("head_mid.jpg")));
        SkinnedWindow window;
        try {
            LoadFrameSkin(&window);
            FAIL() << "loaded without head_mid.jpg";
        } catch (const SkinError& e) {
            EXPECT_NE(std::string(e.what()).find("head_mid.jpg"), std::string::npos) << e.what();
        }
    }
    {
        // The capture window has no dialog buttons: asking for their skin names them.
        SkinnedWindow window;
        try {
            LoadDialogButtonSkin(&window);
            FAIL() << "skinned buttons that do not exist";
        } catch (const SkinError& e) {
            EXPECT_NE(std::string(e.what()).find("btnok"), std::string::npos) << e.what();
        }
        EXPECT_EQ(LoadCloseButtonSkin(&window), 1);
    }
}

TEST_F(SkinnedWindowTest, EscapeAndCloseWorkLikeCancel) {
    SkinnedWindow window;
    window.AddDialogButtons();
    window.LoadSkin();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy cancelled(window.CancelButton(), &QAbstractButton::clicked);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(cancelled.count(), 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.CloseButton()->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Rejected);

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.OkButton()->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(SkinnedWindowTest, DraggingTheTitleMovesANormalWindowOnly) {
    SkinnedWindow window;
    window.LoadSkin();
    window.setGeometry(100, 100, 300, 200);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* title = window.findChild<QWidget*>("Head_Center");
    ASSERT_TRUE(title);
    auto drag = [&](QPoint by) {
        const QPointF at(title->width() / 2.0, 10);
        const QPointF global = title->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(title, &press);
        QMouseEvent move(QEvent::MouseMove, at + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(title, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at + by, global + by, Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(title, &release);
    };
    const QPoint start = window.pos();
    drag(QPoint(30, 20));
    EXPECT_EQ(window.pos(), start + QPoint(30, 20));

    window.setWindowState(Qt::WindowMaximized);
    QCoreApplication::processEvents();
    const QPoint maximised = window.pos();
    drag(QPoint(40, 40));
    EXPECT_EQ(window.pos(), maximised);
}
