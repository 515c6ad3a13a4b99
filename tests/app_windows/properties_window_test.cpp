// The movie properties window: the six facts of the job record, read when shown.
#include "app/windows/properties_window.h"
#include "controls/skin_art.h"
#include "controls/skinned_window.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace qm::app;

namespace {

class PropertiesWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(qm::controls::WriteFormSkin(skin_.path(), &error)) << error.toStdString();
        qm::controls::SetSkinFormFolder(skin_.path());
    }
    void TearDown() override { qm::controls::SetSkinFormFolder(QString()); }

    QTemporaryDir skin_;
};

qm::formats::TFileOption Movie(const QString& fileName, const QString& rate) {
    qm::formats::TFileOption job;
    job.SWFInfo.FileName = fileName;
    job.SWFInfo.Width = 550;
    job.SWFInfo.Height = 400;
    job.SWFInfo.FrameRate = rate;
    job.SWFInfo.FrameCount = 1234;
    job.SWFInfo.FlashVersion = 8;
    return job;
}

TEST_F(PropertiesWindowTest, ShowsTheMovieFactsWhenShown) {
    qm::formats::TFileOption job = Movie("/films/cartoons/intro.swf", "24");
    Tpropertiesfrm window(job);
    EXPECT_EQ(window.size(), QSize(364, 253));
    EXPECT_EQ(window.windowTitle(), "Properties");
    // Read at show time, not at creation.
    job.SWFInfo.FileName = "/films/shorts/Big Walk.swf";
    window.show();
    EXPECT_EQ(window.lblFileName->text(), "Big Walk.swf");
    EXPECT_EQ(window.lblpath->text(), "/films/shorts/");
    EXPECT_EQ(window.lblMoveSize->text(), "550x400");
    EXPECT_EQ(window.lblFrameRate->text(), "24");
    EXPECT_EQ(window.lbltotalFrames->text(), "1234");
    EXPECT_EQ(window.lblFlashVer->text(), "8");
    EXPECT_EQ(window.btnCancel->text(), "OK");
    QTest::mouseClick(window.btnCancel, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(PropertiesWindowTest, LongNamesAreCutAtTheLabelsFixedWidth) {
    const QString longName = QString(300, QLatin1Char('n')) + ".swf";
    const qm::formats::TFileOption job = Movie("/" + QString(200, QLatin1Char('d')) + "/" + longName, "12");
    Tpropertiesfrm window(job);
    window.show();
    EXPECT_EQ(window.lblFileName->text(), longName);
    EXPECT_EQ(window.lblFileName->width(), 237);
    EXPECT_EQ(window.lblpath->width(), 237);
    EXPECT_EQ(window.lblMoveSize->width(), 82);
    EXPECT_EQ(window.lbltotalFrames->width(), 82);
    EXPECT_EQ(window.lblFlashVer->width(), 82);
    EXPECT_EQ(window.lblFrameRate->width(), 60);
    EXPECT_EQ(window.size(), QSize(364, 253));
}

TEST_F(PropertiesWindowTest, FractionalRateUsesTheLocalesSeparator) {
    const QChar point = QLocale::system().decimalPoint().at(0);
    for (const QString& stored : {QString("29.96875"), QString("29") + point + "96875"}) {
        const qm::formats::TFileOption job = Movie("/m/a.swf", stored);
        Tpropertiesfrm window(job);
        window.show();
        EXPECT_EQ(window.lblFrameRate->text(), QString("29") + point + "96875");
    }
    // Where the point is the separator, ask again in a locale that uses a comma.
    if (point == QLatin1Char('.')) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "de_DE.UTF-8");
        env.insert("LANG", "de_DE.UTF-8");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=PropertiesWindowTest.FractionalRateUsesTheLocalesSeparator"});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray out = child.readAllStandardOutput();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    } else {
        EXPECT_EQ(point, QLatin1Char(','));
    }
}

}  // namespace
