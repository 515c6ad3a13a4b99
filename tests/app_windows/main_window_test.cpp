// The main window through its buttons, menus, position bar and drop target, with movies made by
// the test writer: opening and refusing movies, the play, pause, stop and seek rules, the start of
// the conversion road, and the about window.
#include "app/core/app_core.h"
#include "app_windows_test_support.h"
#include "app/windows/about_window.h"
#include "app/windows/main_window.h"
#include "app/windows/window_hooks.h"
#include "audio/sound_capture.h"
#include "controls/skinned_window.h"
#include "controls/sv_trackbar.h"
#include "conversion/windows/capture_window.h"
#include "formats/windows/format_picker.h"
#include "formats/windows/set_format_window.h"
#include "player/qt/shockwave_flash.h"
#include "testing/swfwriter/swfwriter.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::window_tests::WaitFor;
namespace w = qm::swfwriter;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        window_tests::UseFreshDataFolder(home_);
        FinishAction = 7;
        CaptureMode = 7;
        SetMessageBoxFunction([this](const MessageBoxRequest& r) {
            boxes_.push_back(r);
            return QMessageBox::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxFunction({});
        SetOpenFileFunction({});
        qm::conversion::SetCaptureMessageBox({});
    }

    // A stage of `width` x `height` with `frames` frames: a red column moving right by one
    // column width a frame, so every frame differs.
    QString WriteMovie(const QString& name, int frames, uint16_t rate = 24 << 8, int width = 320, int height = 240) {
        w::Movie movie({.version = 8, .frame = w::Rect::pixels(width, height), .frameRate = rate});
        movie.setBackgroundColor({255, 255, 255});
        w::Shape column;
        column.fill0(column.addFill(w::FillStyle::solid({255, 0, 0}))).rect(0, 0, 200, height * 20);
        const uint16_t id = movie.defineShape(column);
        for (int i = 0; i < frames; ++i) {
            if (i == 0) movie.place({.depth = 1, .character = id});
            else movie.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(200 * (i % 16), 0)});
            movie.showFrame();
        }
        const QString path = home_.filePath(name);
        movie.save(path.toStdString());
        return path;
    }
    QString WriteText(const QString& name) {
        const QString path = home_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a movie\n");
        return path;
    }
    QByteArray Log() const { return ReadFile(AppLog->path()); }

    static void Drop(Tmainfrm& window, const QStringList& files) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& f : files) urls << QUrl::fromLocalFile(f);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.pnlSWF, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.pnlSWF, &drop);
    }
    // Clicks the position bar where it shows `value`.
    static void ClickTrack(Tmainfrm& window, qint64 value) {
        qm::controls::TSVTrackbar* bar = window.trackSWF;
        const QPoint at(bar->ValueToPixel(value), bar->TrackRect().center().y());
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, at);
    }
    static bool MovieControlsEnabled(const Tmainfrm& window) {
        return window.btnConverter->isEnabled() || window.btncrop->isEnabled() || window.btnPlay->isEnabled() ||
               window.btnStop->isEnabled() || window.mniEdit->isEnabled() || window.mniFileprop->isEnabled();
    }

    QTemporaryDir home_;
    std::vector<MessageBoxRequest> boxes_;
};

TEST_F(MainWindowTest, CreationLoadsTheEngineAndShowsTheEmptyState) {
    Tmainfrm window;
    EXPECT_TRUE(Log().contains("    Encoder Load library successful\n")) << Log().toStdString();
    EXPECT_EQ(FinishAction, 0);
    EXPECT_EQ(CaptureMode, 0);
    EXPECT_EQ(window.windowTitle(), "Brelvik Quellmark Converter");
    EXPECT_EQ(window.lblName->text(), "Brelvik Quellmark Converter");
    ASSERT_NE(window.FormatPicker(), nullptr);
    EXPECT_EQ(qm::formats::TformatFrm::Instance(), window.FormatPicker());
    EXPECT_TRUE(window.FormatPicker()->isHidden());
    EXPECT_FALSE(qm::formats::BuiltInFormats.isEmpty());

    EXPECT_EQ(window.lblGuide[0]->text(), "1. Click  \"         Open\"  button or drag file to add SWF file.");
    EXPECT_EQ(window.lblGuide[1]->text(), "2. Click  \"        Format\"  button to choose an output format.");
    EXPECT_EQ(window.lblGuide[2]->text(), "3. Click  \"                \"  button to start conversion.");
    for (auto* picture : window.imgGuide) EXPECT_FALSE(picture->pixmap().isNull());

    const auto captions = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    };
    EXPECT_EQ(captions(window.pmMain),
              QStringList({"Open", "-", "Format...", "Edit...", "Option...", "-", "File properties         "}));
    EXPECT_EQ(captions(window.pmhelp), QStringList({"Help                ", "-", "Check For Update", "-", "About"}));
    EXPECT_FALSE(window.mniFormat->isEnabled());
    EXPECT_FALSE(window.mniEdit->isEnabled());
    EXPECT_FALSE(window.mniFileprop->isEnabled());
    EXPECT_TRUE(window.mniOpen->isEnabled());
    EXPECT_TRUE(window.btnOpen->isEnabled());
    EXPECT_TRUE(window.btnhelp->isEnabled());
    EXPECT_FALSE(MovieControlsEnabled(window));
    EXPECT_EQ(window.lblCurrentFrame->text(), "0/0");
    EXPECT_FALSE(window.trackSWF->isEnabled());
    EXPECT_EQ(window.trackSWF->Max(), 100);
    EXPECT_FALSE(window.pnlInfo->isHidden());
    EXPECT_TRUE(window.pnlSWF->acceptDrops());
    // Only the top corners are round: the shape reaches ten pixels below the window.
    EXPECT_EQ(window.mask().boundingRect(), QRect(0, 0, window.width() + 1, window.height() + 10));
}

TEST_F(MainWindowTest, OpeningAMovieFillsTheJobAndFitsThePlayer) {
    const QString movie = WriteMovie("clip.part.swf", 30, 12 << 8 | 128, 550, 400);  // 12.5 fps
    Tmainfrm window;
    window.show();
    window.OpenMovie(movie);
    EXPECT_TRUE(boxes_.empty());
    const qm::formats::TSWFInfo& info = window.FileOption.SWFInfo;
    EXPECT_EQ(info.FileName, movie);
    EXPECT_EQ(info.FrameCount, 30);
    EXPECT_EQ(info.Width, 550);
    EXPECT_EQ(info.Height, 400);
    EXPECT_EQ(info.FrameRate, UseLocaleDecimal("12.5"));
    EXPECT_EQ(info.FlashVersion, 8);
    EXPECT_EQ(window.FileOption.Options.OutFileName, "clip.part");
    EXPECT_EQ(window.FileOption.Options.SourceSize, "550x400");
    EXPECT_EQ(SourcePath, home_.path() + "/");
    EXPECT_EQ(IniFile(SettingsFileName()).ReadString(kSettingsSection, "SourcePath"), home_.path() + "/");
    EXPECT_TRUE(Log().contains("    Import File: " + movie.toUtf8() + "\n"));
    EXPECT_TRUE(Log().contains("    Succeed to GetSWFInfo\n"));

    // The preview area lies between 7-pixel borders of an 800 x 444 panel: the 550 x 400 stage
    // fits at (95, 0, 705, 444).
    EXPECT_EQ(window.pnlSWF->size(), QSize(800, 444));
    EXPECT_EQ(window.pnlSetSize->geometry(), QRect(95, 0, 610, 444));
    EXPECT_TRUE(window.pnlInfo->isHidden());
    ASSERT_NE(window.SWF(), nullptr);
    EXPECT_EQ(window.SWF()->parentWidget(), window.pnlSetSize);
    EXPECT_EQ(window.SWF()->Movie(), movie);
    EXPECT_FALSE(window.SWF()->Menu());
    EXPECT_EQ(window.SWF()->PopupMenu(), window.pmMain);
    EXPECT_TRUE(window.btnPlay->isHidden());
    EXPECT_FALSE(window.btnPause->isHidden());
    EXPECT_TRUE(window.tmrpos->isActive());
    EXPECT_TRUE(window.trackSWF->isEnabled());
    EXPECT_EQ(window.trackSWF->Max(), 30);
    for (QWidget* c : {static_cast<QWidget*>(window.btnConverter), static_cast<QWidget*>(window.btncrop),
                       static_cast<QWidget*>(window.btnPlay), static_cast<QWidget*>(window.btnStop)})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(window.mniEdit->isEnabled());
    EXPECT_TRUE(window.mniFileprop->isEnabled());

    // The position timer follows the player: frame n of 30 shows as "n/30".
    ASSERT_TRUE(WaitFor([&] { return window.SWF()->CurrentFrame() >= 2; }));
    ASSERT_TRUE(WaitFor([&] { return window.lblCurrentFrame->text() != "0/30"; }));
    EXPECT_TRUE(window.lblCurrentFrame->text().endsWith("/30"));

    // Every import gets a fresh player.
    const auto* first = window.SWF();
    window.OpenMovie(WriteMovie("other.swf", 10));
    EXPECT_NE(window.SWF(), first);
}

// Nothing overlaps or is cut: tool buttons inside their bar and apart, each guide picture over
// its caption's quoted gap with the quotation marks left visible, the frame label wide enough.
// With QM_SCREENSHOT_DIR set the window is also saved before and after opening a movie.
TEST_F(MainWindowTest, TheWindowLaysOutWithoutClipping) {
    Tmainfrm window;
    window.show();
    QTest::qWait(50);
    const QString shots = qEnvironmentVariable("QM_SCREENSHOT_DIR");
    if (!shots.isEmpty()) window.grab().save(shots + "/main_before.png");

    const QList<QToolButton*> tools = {window.btnOpen, window.btnFormat, window.btncrop, window.btnoption,
                                       window.btnhelp};
    for (int i = 0; i < tools.size(); ++i) {
        EXPECT_TRUE(window.pnlTool->rect().contains(tools[i]->geometry())) << i;
        EXPECT_GE(tools[i]->width(), tools[i]->sizeHint().width()) << i;
        for (int j = i + 1; j < tools.size(); ++j) EXPECT_FALSE(tools[i]->geometry().intersects(tools[j]->geometry()));
    }
    for (int i = 0; i < 3; ++i) {
        const QString text = window.lblGuide[i]->text();
        const QFontMetrics fm(window.lblGuide[i]->font());
        const int open = window.lblGuide[i]->x() + fm.horizontalAdvance(text.left(text.indexOf('"') + 1));
        const int close = window.lblGuide[i]->x() + fm.horizontalAdvance(text.left(text.lastIndexOf('"')));
        const QRect picture = window.imgGuide[i]->geometry();
        EXPECT_GE(picture.left(), open) << i;
        EXPECT_LE(picture.right(), close) << i;
        EXPECT_GE(picture.width(), window.imgGuide[i]->pixmap().deviceIndependentSize().width() - 4) << i;
        EXPECT_TRUE(window.pnlSWF->rect().contains(window.pnlInfo->geometry())) << i;
    }
    for (QWidget* c : {static_cast<QWidget*>(window.btnPlay), static_cast<QWidget*>(window.btnStop),
                       static_cast<QWidget*>(window.trackSWF), static_cast<QWidget*>(window.lblCurrentFrame),
                       static_cast<QWidget*>(window.btnConverter)})
        EXPECT_TRUE(window.pnlOperation->rect().contains(c->geometry())) << c->objectName().toStdString();
    EXPECT_GE(window.lblCurrentFrame->width(),
              window.lblCurrentFrame->fontMetrics().horizontalAdvance("65535/65535"));
    EXPECT_LE(window.trackSWF->geometry().right(), window.lblCurrentFrame->x());

    if (!shots.isEmpty()) {
        const QString demo = qEnvironmentVariable("QM_SCREENSHOT_MOVIE");
        window.OpenMovie(demo.isEmpty() ? WriteMovie("shot.swf", 48, 24 << 8, 550, 400) : demo);
        QTest::qWait(1500);
        window.grab().save(shots + "/main_after.png");
    }
}

TEST_F(MainWindowTest, FrameRatesAreWrittenExactlyWithoutTrailingZeros) {
    const struct {
        uint16_t rate;
        const char* text;
    } cases[] = {{24 << 8, "24"}, {12 << 8 | 128, "12.5"}, {(29 << 8) | 248, "29.96875"}, {1, "0.00390625"}};
    Tmainfrm window;
    for (const auto& c : cases) {
        window.OpenMovie(WriteMovie("rate.swf", 2, c.rate));
        EXPECT_EQ(window.FileOption.SWFInfo.FrameRate, UseLocaleDecimal(c.text)) << c.text;
    }
}

TEST_F(MainWindowTest, DroppingThreeFilesOpensOnlyTheFirst) {
    const QString first = WriteMovie("first.swf", 5, 24 << 8, 400, 300);
    const QString second = WriteMovie("second.swf", 5, 24 << 8, 200, 100);
    const QString third = WriteText("third.txt");
    Tmainfrm window;
    window.show();
    Drop(window, {first, second, third});
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(window.MoviePath, first);
    EXPECT_EQ(window.FileOption.SWFInfo.Width, 400);
    EXPECT_EQ(window.SWF()->Movie(), first);
    EXPECT_EQ(Log().count("Import File: "), 1);
}

TEST_F(MainWindowTest, DroppingATextFileIsRefusedWithTheMessage) {
    Tmainfrm window;
    window.show();
    // No extension test before the import: the header reader refuses the file.
    Drop(window, {WriteText("notes.txt")});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "The file format is not supported, please re-select.");
    EXPECT_EQ(boxes_[0].caption, "information");
    EXPECT_EQ(boxes_[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes_[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(boxes_[0].owner, &window);
    EXPECT_FALSE(MovieControlsEnabled(window));
    EXPECT_TRUE(Log().contains("  Failed to GetSWFInfo\n"));
    EXPECT_FALSE(window.tmrpos->isActive());
}

TEST_F(MainWindowTest, AFailedOpenAfterAGoodOneKeepsTheOldFacts) {
    const QString good = WriteMovie("good.swf", 12, 24 << 8, 640, 480);
    Tmainfrm window;
    window.show();
    window.OpenMovie(good);
    const QRect fitted = window.pnlSetSize->geometry();
    // Damaged compressed data, a file that is no movie, a movie that ends inside its header:
    // each leaves the old facts and refuses with a box.
    QByteArray damaged("CWS\x08\x40\x00\x00\x00", 8);
    damaged += QByteArray(40, '\xff');
    const QString damagedPath = home_.filePath("damaged.swf");
    {
        QFile f(damagedPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(damaged);
    }
    for (const QString& bad : {WriteText("bad.swf"), damagedPath, home_.filePath("missing.swf")}) {
        boxes_.clear();
        window.OpenMovie(bad);
        EXPECT_EQ(boxes_.size(), 1u) << bad.toStdString();
        EXPECT_EQ(window.MoviePath, bad);
        EXPECT_EQ(window.FileOption.SWFInfo.FileName, good);
        EXPECT_EQ(window.FileOption.SWFInfo.Width, 640);
        EXPECT_EQ(window.FileOption.SWFInfo.FrameCount, 12);
        EXPECT_FALSE(MovieControlsEnabled(window));
        EXPECT_FALSE(window.mniFileprop->isEnabled());
        EXPECT_EQ(window.pnlSetSize->geometry(), fitted);
        EXPECT_EQ(window.SWF()->Movie(), "None.swf");  // the old movie's player stays blank
    }
    // The next good open brings everything back.
    window.OpenMovie(good);
    EXPECT_TRUE(MovieControlsEnabled(window));
}

TEST_F(MainWindowTest, AOneFrameMovieShowsOneOfOneAndSeeksSnapBack) {
    Tmainfrm window;
    window.show();
    window.OpenMovie(WriteMovie("still.swf", 1));
    EXPECT_EQ(window.lblCurrentFrame->text(), "1/1");
    EXPECT_EQ(window.trackSWF->Max(), 1);
    // The position timer shows "1/1" on its first tick and stops.
    ASSERT_TRUE(WaitFor([&] { return !window.tmrpos->isActive(); }));
    EXPECT_EQ(window.lblCurrentFrame->text(), "1/1");

    ClickTrack(window, 1);
    EXPECT_EQ(window.trackSWF->Position(), 0);
    window.btnPauseClick();
    ClickTrack(window, 1);
    EXPECT_EQ(window.trackSWF->Position(), 0);
}

TEST_F(MainWindowTest, PlayAfterStopReloadsAndPlayAfterPauseContinues) {
    const QString movie = WriteMovie("run.swf", 200, 30 << 8);
    Tmainfrm window;
    window.show();
    window.OpenMovie(movie);
    ASSERT_TRUE(WaitFor([&] { return window.SWF()->CurrentFrame() >= 6; }));

    // Pause holds the frame.
    QTest::mouseClick(window.btnPause, Qt::LeftButton);
    EXPECT_FALSE(window.btnPlay->isHidden());
    EXPECT_TRUE(window.btnPause->isHidden());
    EXPECT_FALSE(window.tmrpos->isActive());
    EXPECT_TRUE(window.trackSWF->isEnabled());
    const int held = window.SWF()->CurrentFrame();
    QTest::qWait(200);
    EXPECT_EQ(window.SWF()->CurrentFrame(), held);

    // Play continues from the held frame.
    QTest::mouseClick(window.btnPlay, Qt::LeftButton);
    EXPECT_GE(window.SWF()->CurrentFrame(), held);
    EXPECT_EQ(window.SWF()->Movie(), movie);
    EXPECT_TRUE(window.tmrpos->isActive());
    ASSERT_TRUE(WaitFor([&] { return window.SWF()->CurrentFrame() > held; }));

    // Stop blanks the player and resets the bar.
    QTest::mouseClick(window.btnStop, Qt::LeftButton);
    EXPECT_EQ(window.SWF()->Movie(), "None.swf");
    EXPECT_LT(window.SWF()->CurrentFrame(), 1);
    EXPECT_EQ(window.trackSWF->Position(), 0);
    EXPECT_EQ(window.lblCurrentFrame->text(), "0/200");
    EXPECT_FALSE(window.trackSWF->isEnabled());
    EXPECT_FALSE(window.tmrpos->isActive());
    EXPECT_FALSE(window.btnPlay->isHidden());

    // Play after Stop loads the movie again from its start.
    QTest::mouseClick(window.btnPlay, Qt::LeftButton);
    EXPECT_EQ(window.SWF()->Movie(), movie);
    EXPECT_LT(window.SWF()->CurrentFrame(), held);
    EXPECT_TRUE(window.trackSWF->isEnabled());
    EXPECT_TRUE(window.tmrpos->isActive());
    EXPECT_TRUE(window.btnPlay->isHidden());
}

TEST_F(MainWindowTest, SeekingWhilePausedShowsTheFrameWithoutPlaying) {
    Tmainfrm window;
    window.show();
    window.OpenMovie(WriteMovie("seek.swf", 100, 30 << 8));
    QTest::mouseClick(window.btnPause, Qt::LeftButton);

    ClickTrack(window, 60);
    const qint64 chosen = window.trackSWF->Position();
    EXPECT_NEAR(double(chosen), 60.0, 2.0);
    EXPECT_EQ(window.SWF()->CurrentFrame(), chosen);
    EXPECT_EQ(window.lblCurrentFrame->text(), QStringLiteral("%1/100").arg(chosen));
    QTest::qWait(200);
    EXPECT_EQ(window.SWF()->CurrentFrame(), chosen);
    EXPECT_FALSE(window.btnPlay->isHidden());

    // While playing, a seek carries on playing from the new frame.
    QTest::mouseClick(window.btnPlay, Qt::LeftButton);
    ClickTrack(window, 20);
    const qint64 second = window.trackSWF->Position();
    EXPECT_GE(window.SWF()->CurrentFrame(), second);
    ASSERT_TRUE(WaitFor([&] { return window.SWF()->CurrentFrame() > second + 2; }));

    // The position timer's own moves of the bar are no seeks.
    window.TrackUpdating = 1;
    window.btnPauseClick();
    const int now = window.SWF()->CurrentFrame();
    window.trackSWF->SetPosition(5);
    window.trackSWFTickChange();
    EXPECT_EQ(window.SWF()->CurrentFrame(), now);
}

TEST_F(MainWindowTest, TheOpenDialogStartsInTheSourceFolderAndOpensTheChoice) {
    const QString movie = WriteMovie("chosen.swf", 3);
    WriteSetting(QStringLiteral("SourcePath"), home_.filePath("docs") + "/");
    QString askedFolder, askedFilter;
    QString answer;
    SetOpenFileFunction([&](QWidget*, const QString& folder, const QString& filter) {
        askedFolder = folder;
        askedFilter = filter;
        return answer;
    });
    Tmainfrm window;
    window.show();
    window.mniOpen->trigger();  // cancelled
    EXPECT_EQ(askedFolder, home_.filePath("docs") + "/");
    EXPECT_EQ(askedFilter, "SWF File (*.swf)");
    EXPECT_TRUE(window.MoviePath.isEmpty());
    answer = movie;
    QTest::mouseClick(window.btnOpen, Qt::LeftButton);
    EXPECT_EQ(window.MoviePath, movie);
}

TEST_F(MainWindowTest, TheGuidePictureOpensAMovie) {
    const QString movie = WriteMovie("guide.swf", 3);
    SetOpenFileFunction([&](QWidget*, const QString&, const QString&) { return movie; });
    Tmainfrm window;
    window.show();
    QTest::mouseClick(window.imgGuide[0], Qt::LeftButton);
    EXPECT_EQ(window.MoviePath, movie);
    EXPECT_TRUE(window.pnlInfo->isHidden());
}

TEST_F(MainWindowTest, CancellingTheCaptureWindowOpensNoConversionWindow) {
    const QString movie = WriteMovie("road.swf", 20, 24 << 8, 320, 240);
    // Temporary files of an earlier run go before the capture starts.
    for (const char* name : {"brvp_temp.tpz", "brvA_temp.tpz", "brvV_temp.mp4"}) {
        QFile f(CaptureTempPath + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    std::vector<QString> captureBoxes;
    qm::conversion::SetCaptureMessageBox([&](QWidget*, const QString& text, const QString&, int, int) {
        captureBoxes.push_back(text);
        return int(QMessageBox::Ok);
    });
    Tmainfrm window;
    int conversions = 0;
    window.RunConversionWindow = [&](Tmainfrm&, const qm::formats::TFileOption&) { ++conversions; };
    window.show();
    window.OpenMovie(movie);
    ASSERT_TRUE(window.btnConverter->isEnabled());

    bool sawCapture = false, mainHidden = false, tempGone = false;
    QString captureMovie;
    qm::formats::TFileOption captureJob;
    QTimer::singleShot(0, [&] {
        auto* capture = qobject_cast<qm::conversion::TCaptureFrm*>(QApplication::activeModalWidget());
        sawCapture = capture != nullptr;
        mainHidden = window.isHidden();
        tempGone = !QFile::exists(CaptureTempPath + "brvp_temp.tpz") &&
                   !QFile::exists(CaptureTempPath + "brvA_temp.tpz") &&
                   !QFile::exists(CaptureTempPath + "brvV_temp.mp4");
        if (!capture) return;
        captureMovie = capture->MoviePath;
        captureJob = capture->Job;
        capture->CloseButton()->click();
    });
    QTest::mouseClick(window.btnConverter, Qt::LeftButton);

    EXPECT_TRUE(sawCapture);
    EXPECT_TRUE(mainHidden);
    EXPECT_TRUE(tempGone);
    EXPECT_EQ(captureBoxes, std::vector<QString>{"Are you sure to exit?"});
    EXPECT_EQ(captureMovie, movie);
    // The capture works on a copy prepared with the current profile.
    EXPECT_EQ(captureJob.SWFInfo.FileName, movie);
    EXPECT_EQ(captureJob.Options.FormatID, qm::formats::CurrentOptions.FormatID);
    EXPECT_FALSE(captureJob.Options.FitSize.isEmpty());
    EXPECT_EQ(window.FileOption.Options.FitSize, captureJob.Options.FitSize);
    ASSERT_NE(SoundHook, nullptr);
    EXPECT_EQ(QString::fromStdString(SoundHook->RawFileName), CaptureTempPath + "brvp_temp.tpz");
    EXPECT_EQ(QString::fromStdString(SoundHook->WavFileName), CaptureTempPath + "brvA_temp.tpz");
    EXPECT_EQ(QString::fromStdString(SoundHook->VideoFileName), CaptureTempPath + "brvV_temp.mp4");

    EXPECT_EQ(conversions, 0);
    EXPECT_FALSE(window.isHidden());
    // Back in the stopped state.
    EXPECT_EQ(window.SWF()->Movie(), "None.swf");
    EXPECT_FALSE(window.btnPlay->isHidden());
    EXPECT_FALSE(window.trackSWF->isEnabled());
}

TEST_F(MainWindowTest, ACaptureThatEndsWithOkOpensTheConversionWindowOnACopy) {
    Tmainfrm window;
    std::vector<qm::formats::TFileOption> converted;
    window.RunCaptureWindow = [](Tmainfrm&, const QString&, const qm::formats::TFileOption&) {
        return CaptureOutcome::Captured;
    };
    window.RunConversionWindow = [&](Tmainfrm&, const qm::formats::TFileOption& job) { converted.push_back(job); };
    window.OpenMovie(WriteMovie("ok.swf", 5, 24 << 8, 641, 481));
    window.btnConverterClick();
    ASSERT_EQ(converted.size(), 1u);
    EXPECT_EQ(converted[0].SWFInfo.Width, 641);
    EXPECT_EQ(converted[0].Options.OutFileName, "ok");

    // Fast capture made the output itself: no conversion window.
    window.RunCaptureWindow = [](Tmainfrm&, const QString&, const qm::formats::TFileOption&) {
        return CaptureOutcome::Converted;
    };
    int exits = 0, shutdowns = 0;
    window.ExitProgram = [&](Tmainfrm&) { ++exits; };
    window.ShowShutdown = [&](Tmainfrm&) { ++shutdowns; };
    window.btnConverterClick();
    EXPECT_EQ(converted.size(), 1u);
    EXPECT_EQ(exits + shutdowns, 0);
    // What follows a conversion follows a fast capture too.
    FinishAction = 1;
    window.btnConverterClick();
    EXPECT_EQ(exits, 1);
    FinishAction = 2;
    window.btnConverterClick();
    EXPECT_EQ(shutdowns, 1);
    // After an ordinary capture the conversion window runs the action, not the main window.
    window.RunCaptureWindow = [](Tmainfrm&, const QString&, const qm::formats::TFileOption&) {
        return CaptureOutcome::Captured;
    };
    window.btnConverterClick();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(shutdowns, 1);
    EXPECT_EQ(converted.size(), 2u);
}

TEST_F(MainWindowTest, AProfileThatCannotBePreparedLeavesTheWindowUsable) {
    Tmainfrm window;
    window.show();
    int captures = 0;
    window.RunCaptureWindow = [&](Tmainfrm&, const QString&, const qm::formats::TFileOption&) {
        ++captures;
        return CaptureOutcome::Cancelled;
    };
    window.OpenMovie(WriteMovie("bad_profile.swf", 3));
    qm::formats::CurrentOptions.DisableVideo = false;
    qm::formats::CurrentOptions.Resolution = "640X480";  // not a size
    window.btnConverterClick();
    qm::formats::LoadDefaultOptions(qm::formats::CurrentOptions, qm::formats::DefaultFormatID);
    EXPECT_EQ(captures, 0);
    EXPECT_FALSE(window.isHidden());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_FALSE(boxes_[0].text.isEmpty());
}

TEST_F(MainWindowTest, AnUnwritableOutputFolderIsRefusedBeforeTheCapture) {
    Tmainfrm window;
    window.show();
    int captures = 0;
    window.RunCaptureWindow = [&](Tmainfrm&, const QString&, const qm::formats::TFileOption&) {
        ++captures;
        return CaptureOutcome::Cancelled;
    };
    window.OpenMovie(WriteMovie("refused.swf", 3));
    // Its parent is a plain file: the folder can never be made, whoever runs the test.
    QFile plain(home_.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString saved = OutputPath;
    OutputPath = home_.filePath("plain/out") + "/";
    boxes_.clear();
    window.btnConverterClick();
    const QString refused = OutputPath;
    OutputPath = saved;
    EXPECT_EQ(captures, 0);
    EXPECT_FALSE(window.isHidden());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_EQ(boxes_[0].text, "Cannot write to the output folder " + refused + ".");
    // A folder that can be written lets the capture start.
    boxes_.clear();
    window.btnConverterClick();
    EXPECT_EQ(captures, 1);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindowTest, TheFormatWindowEditsTheOutputNameOnOk) {
    Tmainfrm window;
    window.show();
    window.OpenMovie(WriteMovie("named.swf", 3));
    ASSERT_TRUE(window.btnFormat->isEnabled());
    ASSERT_TRUE(window.mniFormat->isEnabled());
    const auto answer = [](bool ok) {
        QTimer::singleShot(0, [ok] {
            auto* format = qobject_cast<qm::formats::TSetFormatfrm*>(QApplication::activeModalWidget());
            ASSERT_NE(format, nullptr);
            EXPECT_EQ(format->TargetName, "named");
            EXPECT_NE(format->MovieOptions, nullptr);
            format->TargetName = "renamed";
            if (ok) format->accept();
            else format->reject();
        });
    };
    answer(false);
    QTest::mouseClick(window.btnFormat, Qt::LeftButton);
    EXPECT_EQ(window.FileOption.Options.OutFileName, "named");
    answer(true);
    window.mniFormat->trigger();
    EXPECT_EQ(window.FileOption.Options.OutFileName, "renamed");
}

TEST_F(MainWindowTest, TheUpdateCheckStartsOnceAfterShowingWhenItIsOn) {
    for (const bool on : {false, true}) {
        WriteSetting(QStringLiteral("IsCheckUpdate"), on);
        Tmainfrm window;
        int checks = 0;
        window.StartUpdateCheck = [&](Tmainfrm&) { ++checks; };
        window.show();
        QTest::qWait(300);
        EXPECT_EQ(checks, on ? 1 : 0);
        EXPECT_FALSE(window.tmrupdate->isActive());
        EXPECT_TRUE(window.mniCheckForUpdate->isEnabled());
    }
}

TEST_F(MainWindowTest, HelpOpensThePageBesideTheProgram) {
    Tmainfrm window;
    QUrl opened;
    SetOpenUrlFunction([&](const QUrl& url) { opened = url; });
    window.mniHelp->trigger();
    SetOpenUrlFunction({});
    ASSERT_TRUE(opened.isLocalFile());
    EXPECT_EQ(QDir::cleanPath(opened.toLocalFile()),
              QDir::cleanPath(QCoreApplication::applicationDirPath() + "/help/welcome.html"));
}

TEST_F(MainWindowTest, EngineMessagesGoToTheLogAsErrors) {
    Tmainfrm window;
    window.FFLogLog("[mp4 @ 0x1] something odd");
    EXPECT_TRUE(Log().contains("  [mp4 @ 0x1] something odd\n"));
}

TEST_F(MainWindowTest, ClosingDestroysTheSoundCapture) {
    Tmainfrm window;
    window.show();
    EXPECT_NE(SoundHook, nullptr);
    QTest::mouseClick(window.btnClose, Qt::LeftButton);
    EXPECT_TRUE(window.isHidden());
    EXPECT_EQ(SoundHook, nullptr);
}

TEST_F(MainWindowTest, TheAboutWindowShowsTheVersionAndClosesOnAClick) {
    Taboutfrm about;
    EXPECT_EQ(about.size(), QSize(450, 250));
    EXPECT_TRUE(about.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(about.lblVersion->text(), "Version " + GetFileVersionString(QCoreApplication::applicationFilePath(), 3));
    EXPECT_FALSE(about.lblVersion->text().endsWith(' '));
    EXPECT_EQ(about.lblHomePage->text(), "Home Page:");
    // Nothing is cut at the right edge.
    for (QLabel* label : about.findChildren<QLabel*>())
        EXPECT_LE(label->x() + label->sizeHint().width(), about.width()) << label->text().toStdString();
    EXPECT_TRUE(about.lblLink->text().contains(kHomePageAddress));
    QUrl opened;
    SetOpenUrlFunction([&](const QUrl& url) { opened = url; });
    emit about.lblLink->linkActivated(kHomePageAddress);
    SetOpenUrlFunction({});
    EXPECT_EQ(opened, QUrl(kHomePageAddress));

    about.show();
    // The splash is disabled so a click does not close it; the about window closes.
    about.setEnabled(false);
    QTest::mouseClick(about.imgBack, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    EXPECT_TRUE(about.isVisible());
    about.setEnabled(true);
    QTest::mouseClick(about.imgBack, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    EXPECT_FALSE(about.isVisible());
}

}  // namespace
