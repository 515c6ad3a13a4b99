// The conversion window's own behaviour: progress, the completion view, cancelling, the
// after-conversion actions, a capture without sound, and no temporary file or
// partial output left in any ending (a full disk included).
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "converter_support.h"
#include "engine/ff_encoder.h"

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>

namespace qm::conversion::test {
namespace {

class ConverterWindowTest : public ConverterFixture {};

TEST_F(ConverterWindowTest, ProgressIsShownToTheNearestPercent) {
    MakeVideo(1);
    MakeRawSound(1);
    TConverterfrm window(Job(), *hook);
    auto* bar = window.findChild<QProgressBar*>("PbConverter");
    ASSERT_TRUE(bar);
    struct Case {
        int64_t output, total;
        int percent;
    } cases[] = {{0, 1000000, 0},        {123400, 1000000, 12}, {126000, 1000000, 13}, {125000, 1000000, 12},
                 {135000, 1000000, 14},  {999000, 1000000, 100}, {1000000, 1000000, 100},
                 {1500000, 1000000, 100}};
    for (const Case& c : cases) {
        engine::TProgressInfo info;
        info.OutputTime = c.output;
        info.TotalTime = c.total;
        window.FFEncoderProgress(info);
        EXPECT_EQ(bar->value(), c.percent) << c.output << " of " << c.total;
    }
    // A run whose length is unknown leaves the bar where it is.
    engine::TProgressInfo unknown;
    unknown.OutputTime = 500000;
    unknown.TotalTime = -1;
    window.FFEncoderProgress(unknown);
    EXPECT_EQ(bar->value(), 100);
}

TEST_F(ConverterWindowTest, CompletedRunShowsWhereTheOutputWentAndLeavesNothingBehind) {
    MakeVideo(2);
    MakeRawSound(2);
    TConverterfrm window(Job(), *hook);
    auto* bar = window.findChild<QProgressBar*>("PbConverter");
    QSignalSpy progress(bar, &QProgressBar::valueChanged);
    ASSERT_TRUE(WaitForCompletion(window));

    const QString output = outFolder + "movie.mp4";
    EXPECT_EQ(window.OutputPath(), output);
    EXPECT_TRUE(QFileInfo::exists(output));
    auto* folder = window.findChild<QLineEdit*>("edtoutFolder");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isVisible());
    EXPECT_EQ(folder->text(), output);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(window.OkButton()->isVisible());
    EXPECT_EQ(window.OkButton()->text(), "Open Folder");
    EXPECT_EQ(window.TitleLabel()->text(), "Conversion completed");
    EXPECT_EQ(window.findChild<QLabel*>("lblCatpion")->text(), "Conversion completed and output file can be found: ");
    EXPECT_TRUE(boxes.empty());
    // The bar moved forward only, in whole percents up to 100.
    int last = 0;
    for (const QList<QVariant>& value : progress) {
        EXPECT_GE(value[0].toInt(), last);
        last = value[0].toInt();
    }
    EXPECT_LE(last, 100);

    const MediaFacts facts = Probe(output);
    EXPECT_EQ(facts.video, 1);
    EXPECT_EQ(facts.audio, 1);
    EXPECT_NEAR(facts.seconds, 2.0, 0.15);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();

    const QString log = Log();
    for (const char* line : {"PCM Stream Conveter to WAV", "[Start AudioVideoMerger]", "Get Video File Info",
                             "FirstVideoStreamIndex: 0", "Get Audio File Info", "FirstAudioStreamIndex: 0",
                             "[Stop AudioVideoMerger]"})
        EXPECT_TRUE(log.contains(line)) << line;

    // Cancel on the completion view closes the window without asking.
    QSignalSpy finished(&window, &QDialog::finished);
    window.CancelButton()->click();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(QFileInfo::exists(output));
}

TEST_F(ConverterWindowTest, EmptyCapturedSoundGivesAnOutputWithoutSound) {
    MakeVideo(2);
    MakeRawSound(0);
    TConverterfrm window(Job(), *hook);
    ASSERT_TRUE(WaitForCompletion(window));
    EXPECT_TRUE(hook->AudioEmpty);
    EXPECT_TRUE(window.Job().Options.AudioDisabled);
    const MediaFacts facts = Probe(window.OutputPath());
    EXPECT_EQ(facts.video, 1);
    EXPECT_EQ(facts.audio, 0);
    EXPECT_NEAR(facts.seconds, 2.0, 0.15);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

TEST_F(ConverterWindowTest, AfterConversionActions) {
    struct Case {
        const char* name;
        int action;
        bool completedView;
        int exits, shutdowns;
    } cases[] = {
        {"nothing", 0, true, 0, 0},
        {"exit the program", 1, false, 1, 0},
        {"shut down", 2, true, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeVideo(1);
        MakeRawSound(1);
        app::FinishAction = c.action;
        exits = shutdowns = 0;
        shutdownParentCompleted = false;
        TConverterfrm window(Job(), *hook);
        QSignalSpy finished(&window, &QDialog::finished);
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (!window.Completed() && finished.isEmpty() && waited.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(window.Completed(), c.completedView);
        EXPECT_EQ(finished.count(), c.completedView ? 0 : 1);
        EXPECT_EQ(exits, c.exits);
        EXPECT_EQ(shutdowns, c.shutdowns);
        // The shutdown window comes over the completion view.
        EXPECT_EQ(shutdownParentCompleted, c.shutdowns > 0);
        EXPECT_TRUE(QFileInfo::exists(window.OutputPath()));
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
        QFile::remove(window.OutputPath());
    }
}

// A run long enough to be cancelled in the middle.
class CancelTest : public ConverterFixture {
protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        MakeVideo(90, "320x240");
        MakeRawSound(90);
    }
};

TEST_F(CancelTest, CancelAnsweredWithCancelResumesTheRun) {
    formats::TFileOption job = Job("320x240");
    job.Options.VideoCodec = "h.264";
    TConverterfrm window(job, *hook);
    auto* bar = window.findChild<QProgressBar*>("PbConverter");
    bool asked = false;
    int before = -1, after = -1;
    answers = {false};
    onBox = [&] {
        // The question is asked with the run paused: the bar does not move meanwhile.
        QTest::qWait(300);
        before = bar->value();
        QTest::qWait(700);
        after = bar->value();
    };
    QObject::connect(bar, &QProgressBar::valueChanged, &window, [&](int value) {
        if (asked || value < 1) return;
        asked = true;
        QTimer::singleShot(0, &window, [&] { window.CancelButton()->click(); });
    });
    ASSERT_TRUE(WaitForCompletion(window, 240000));
    ASSERT_TRUE(asked) << "no progress before the end";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Whether to quit conversion?");
    EXPECT_EQ(boxes[0].caption, "Information");
    EXPECT_EQ(boxes[0].buttons, BoxButtons::OkCancel);
    EXPECT_LT(before, 100);
    EXPECT_EQ(before, after);
    EXPECT_NEAR(Probe(window.OutputPath()).seconds, 90.0, 0.3);
    EXPECT_FALSE(Log().contains("[Exit AudioVideoMerger]"));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

TEST_F(CancelTest, CancelAnsweredWithOkStopsTheRunAndClosesTheWindow) {
    formats::TFileOption job = Job("320x240");
    job.Options.VideoCodec = "h.264";
    TConverterfrm window(job, *hook);
    auto* bar = window.findChild<QProgressBar*>("PbConverter");
    bool asked = false;
    QObject::connect(bar, &QProgressBar::valueChanged, &window, [&](int value) {
        if (asked || value < 1) return;
        asked = true;
        QTimer::singleShot(0, &window, [&] { window.CloseButton()->click(); });
    });
    answers = {true};
    EXPECT_EQ(Run(window, 240000), QDialog::Rejected);
    ASSERT_TRUE(asked) << "no progress before the end";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Whether to quit conversion?");
    EXPECT_FALSE(window.Completed());
    EXPECT_TRUE(Log().contains("[Exit AudioVideoMerger]"));
    EXPECT_FALSE(Log().contains("[Stop AudioVideoMerger]"));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
    // Given up: no shortened output is left in the output folder.
    EXPECT_FALSE(window.OutputPath().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(window.OutputPath()));
}

TEST_F(CancelTest, FullDiskEndsTheRunWithTheReasonAndNoOutput) {
    formats::TFileOption job = Job("320x240");
    job.Options.VideoCodec = "h.264";
    QString output;
    {
        TConverterfrm window(job, *hook);
        auto* bar = window.findChild<QProgressBar*>("PbConverter");
        // Once the output is being written, every file of this program may grow only a little
        // further: the next large write fails as on a full disk (the signal would end the program).
        rlimit before{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto previousSignal = signal(SIGXFSZ, SIG_IGN);
        bool limited = false;
        QObject::connect(bar, &QProgressBar::valueChanged, &window, [&](int value) {
            if (limited || value < 1) return;
            limited = true;
            const rlim_t now = rlim_t(std::max<qint64>(QFileInfo(window.OutputPath()).size(), 0));
            rlimit limit = before;
            limit.rlim_cur = now + 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        const int result = Run(window, 240000);
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, previousSignal);
        EXPECT_EQ(result, QDialog::Rejected);
        ASSERT_TRUE(limited) << "no progress before the end";
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_TRUE(boxes[0].text.contains("File too large")) << boxes[0].text.toStdString();
        EXPECT_FALSE(window.Completed());
        output = window.OutputPath();
        EXPECT_FALSE(output.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(output));
    }
    EXPECT_FALSE(QFileInfo::exists(output));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

TEST_F(ConverterWindowTest, FailuresCloseTheWindowWithTheEngineWordsAndLeaveNothingBehind) {
    struct Case {
        const char* name;
        std::function<void(formats::TFileOption&)> spoil;
        const char* message;  // the start of the error box's text
    } cases[] = {
        {"no intermediate video", [this](formats::TFileOption&) { QFile::remove(VideoFile()); },
         "Cannot do convert, error: "},
        {"a profile that cannot be read", [](formats::TFileOption& job) { job.Options.Resolution = "wide"; },
         "Cannot do convert, error: "},
        {"an output that cannot be written",
         [](formats::TFileOption& job) { job.Options.OutFileName = "missing folder/movie"; }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeVideo(1);
        MakeRawSound(1);
        boxes.clear();
        formats::TFileOption job = Job();
        job.Options.WatermarkKind = 1;
        job.Options.WaterMark.ImageFile = root.filePath("mark.png");
        job.Options.WaterMark.Opacity = 50;
        job.Options.WaterMark.Rect = app::TRect{10, 10, 50, 40};
        QImage mark(40, 30, QImage::Format_ARGB32);
        mark.fill(Qt::white);
        ASSERT_TRUE(mark.save(job.Options.WaterMark.ImageFile));
        c.spoil(job);
        TConverterfrm window(job, *hook);
        EXPECT_EQ(Run(window), QDialog::Rejected);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_TRUE(boxes[0].text.startsWith(c.message)) << boxes[0].text.toStdString();
        EXPECT_GT(boxes[0].text.size(), QString(c.message).size()) << "the reason is missing";
        EXPECT_FALSE(window.Completed());
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
    }
}

TEST_F(ConverterWindowTest, LoopedReplacementSoundCoversTheVideoAndIsDeleted) {
    MakeVideo(2.5);
    MakeRawSound(2.5, 440);
    const QString replacement = root.filePath("tone.mp3");
    MakeMedia({"-f", "lavfi", "-i", "sine=frequency=880:duration=1", "-ar", "44100", "-c:a", "libmp3lame", replacement});
    formats::TFileOption job = Job();
    job.Options.ReplaceAudioMode = 2;
    job.Options.ReplaceAudioFile = replacement;
    TConverterfrm window(job, *hook);
    ASSERT_TRUE(WaitForCompletion(window));
    const QString log = Log();
    EXPECT_TRUE(log.contains("[Start AudioMerger]"));
    EXPECT_TRUE(log.contains("Stop AudioMerger"));
    EXPECT_LT(log.indexOf("Stop AudioMerger"), log.indexOf("[Start AudioVideoMerger]"));
    const MediaFacts facts = Probe(window.OutputPath());
    EXPECT_EQ(facts.audio, 1);
    EXPECT_NEAR(facts.seconds, 2.5, 0.15);
    // The replacement's tone, all through the video (but for the joins of its copies), and
    // never the captured one.
    const std::vector<int16_t> sound = DecodeSound(window.OutputPath());
    EXPECT_GT(sound.size(), size_t(2.3 * 44100));
    EXPECT_GE(TenthsWithTone(sound, 880), 20);
    EXPECT_EQ(TenthsWithTone(sound, 440), 0);
    EXPECT_TRUE(QFileInfo::exists(replacement));
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

}  // namespace
}  // namespace qm::conversion::test
