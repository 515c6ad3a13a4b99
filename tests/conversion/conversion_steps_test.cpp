// The conversion steps on their own: geometry, graphs, options text, output names, the loop
// decision and the prepared watermark.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "conversion/conversion.h"

namespace qm::conversion {
namespace {

using app::TRect;
using formats::TFileOption;

// A profile of MP4 with H.264 and MP3 at 640x360 for a 400x300 movie at 25 fps.
TFileOption Job() {
    TFileOption job;
    job.SWFInfo.FrameRate = QStringLiteral("25");
    auto& o = job.Options;
    o.FileExt = QStringLiteral(".mp4");
    o.OutFileName = QStringLiteral("movie");
    o.VideoCodec = QStringLiteral("h.264");
    o.AudioCodec = QStringLiteral("mp3");
    o.AudioBitRate = 128;
    o.SampleRate = 44100;
    o.Channels = 2;
    o.FrameRate = QStringLiteral("25");
    o.VideoBitRate = 1000;
    o.SourceSize = QStringLiteral("400x300");
    o.Resolution = QStringLiteral("640x360");
    o.FitSize = QStringLiteral("480x360");
    return job;
}

TEST(ConversionStepsTest, PadCentresThePictureInTheOutputsShapeThenScales) {
    TFileOption job = Job();
    EXPECT_EQ(ScaleChain(job), "pad=640:360:80:0,scale=640:360");
    // Taller than the output's shape: bars above and below.
    EXPECT_EQ(PadFilter(640, 300, 640, 360), "pad=640:360:0:30");
    EXPECT_EQ(PadFilter(640, 360, 640, 360), "pad=640:360:0:0");
    job.Options.FitSize = job.Options.Resolution;
    EXPECT_EQ(ScaleChain(job), "");
}

TEST(ConversionStepsTest, CropMapsIntoTheCaptureSizeAndPadsFromTheCroppedSize) {
    TFileOption job = Job();
    auto& o = job.Options;
    o.CropEnabled = true;
    o.CropRect = TRect{100, 50, 300, 250};  // 200x200 of the 400x300 movie
    TFileOption capture = job;
    // 400x300 shown at 480x360: every coordinate times 1.2.
    EXPECT_EQ(CaptureCropFilter(capture), "crop=240:240:120:60");
    EXPECT_EQ(capture.Options.CropRect, (TRect{120, 60, 360, 300}));
    EXPECT_EQ(ScaleChain(job), "pad=426:240:93:0,scale=640:360");

    // Kept at the original size: the rectangle is used as it stands, odd sides made even.
    o.KeepOriginalSize = true;
    o.Resolution = o.FitSize = o.SourceSize;
    o.CropRect = TRect{11, 7, 112, 58};
    capture = job;
    EXPECT_EQ(CaptureCropFilter(capture), "crop=100:50:11:7");
    EXPECT_EQ(ScaleChain(job), "");

    o.CropEnabled = false;
    capture = job;
    EXPECT_EQ(CaptureCropFilter(capture), "");
}

TEST(ConversionStepsTest, OutputOptionsInTheirOrder) {
    TFileOption job = Job();
    EXPECT_EQ(MainOutputOptions(job, ScaleChain(job), 60000000, 0, 1),
              " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2 -vprofile baseline -preset ultrafast -threads 0"
              "  -c:v libx264 -r 25  -b 1000k -vf \"pad=640:360:80:0,scale=640:360\" -sn -t 60 -map 0:0 -map 1:1");

    // Nothing to do to the picture: no -vf at all.
    EXPECT_EQ(MainOutputOptions(job, "", 2500000, 0, 0).contains("-vf"), false);

    // An empty sound: no audio pieces and no stream map.
    job.Options.AudioDisabled = true;
    const QString silent = MainOutputOptions(job, "", 1234567, 0, 0);
    EXPECT_FALSE(silent.contains("-c:a")) << silent.toStdString();
    EXPECT_FALSE(silent.contains("-map")) << silent.toStdString();
    EXPECT_TRUE(silent.endsWith(" -sn -t 1.234567")) << silent.toStdString();

    // Sound only: no -vf, -t or -map.
    job = Job();
    job.Options.DisableVideo = true;
    const QString sound = MainOutputOptions(job, ScaleChain(job), 60000000, 0, 0);
    EXPECT_EQ(sound, " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2 -sn");
}

TEST(ConversionStepsTest, DurationInShortestDecimalForm) {
    EXPECT_EQ(DurationText(60000000), "60");
    EXPECT_EQ(DurationText(1500000), "1.5");
    EXPECT_EQ(DurationText(41708), "0.041708");
    EXPECT_EQ(DurationText(1), "0.000001");
    EXPECT_EQ(DurationText(123456789012345), "123456789.012345");
}

TEST(ConversionStepsTest, TakenOutputNamesGetANumber) {
    QTemporaryDir dir;
    TFileOption job = Job();
    const QString first = dir.filePath("movie.mp4");
    EXPECT_EQ(OutputFilePath(job, dir.path(), false), first);
    QFile(first).open(QIODevice::WriteOnly);
    EXPECT_EQ(OutputFilePath(job, dir.path(), false), dir.filePath("movie(1).mp4"));
    QFile(dir.filePath("movie(1).mp4")).open(QIODevice::WriteOnly);
    EXPECT_EQ(OutputFilePath(job, dir.path() + "/", false), dir.filePath("movie(2).mp4"));
    EXPECT_EQ(OutputFilePath(job, dir.path(), true), first);
}

TEST(ConversionStepsTest, ReplacementSoundLoopsOnlyWhenShorterThanTheVideo) {
    QTemporaryDir dir;
    TFileOption job = Job();
    job.Options.ReplaceAudioMode = 2;
    job.Options.ReplaceAudioFile = dir.filePath("sound.mp3");
    QFile(job.Options.ReplaceAudioFile).open(QIODevice::WriteOnly);
    const int64_t s = 1000000;
    struct Case {
        int64_t video;
        bool loops;
        int32_t count;
    };
    for (const Case& c : {Case{60 * s, true, 3}, Case{75 * s, true, 3}, Case{20 * s, false, 0}, Case{25 * s, false, 0},
                          Case{25 * s + 1, true, 2}}) {
        int32_t count = -1;
        EXPECT_EQ(NeedsAudioLoop(job, c.video, 25 * s, count), c.loops) << c.video;
        EXPECT_EQ(count, c.count) << c.video;
    }
    // The replacement is used as it is when it is longer than the video.
    EXPECT_EQ(ReplacementSound(job), job.Options.ReplaceAudioFile);

    int32_t count = -1;
    for (auto change : std::initializer_list<void (*)(TFileOption&)>{
             [](TFileOption& j) { j.Options.ReplaceAudioMode = 1; },
             [](TFileOption& j) { j.Options.AudioDisabled = true; },
             [](TFileOption& j) { j.Options.DisableVideo = true; },
             [](TFileOption& j) { j.Options.ReplaceAudioFile += ".gone"; }}) {
        TFileOption other = job;
        change(other);
        EXPECT_FALSE(NeedsAudioLoop(other, 60 * s, 25 * s, count));
        EXPECT_EQ(count, 0);
    }
    EXPECT_FALSE(NeedsAudioLoop(job, 60 * s, 0, count));
    // Sound-only output always takes the movie's own sound.
    job.Options.DisableVideo = true;
    EXPECT_EQ(ReplacementSound(job), "");
}

TEST(ConversionStepsTest, WatermarkIsMappedToTheOutputAndPreparedUnderAPlainName) {
    QTemporaryDir dir;
    // A user's picture with a name that a filter graph would misread.
    const QString hostile = dir.filePath("my logo, [v1]; 'final' \"x\":a\\b.png");
    QImage logo(10, 10, QImage::Format_ARGB32);
    logo.fill(qRgba(255, 255, 255, 255));
    ASSERT_TRUE(logo.save(hostile, "PNG"));

    TFileOption job = Job();
    auto& o = job.Options;
    o.WatermarkKind = 1;
    o.WaterMark.ImageFile = hostile;
    o.WaterMark.Opacity = 50;
    o.WaterMark.Rect = TRect{0, 0, 100, 50};
    PrepareWatermark(job, dir.filePath("work"));
    // 400x300 into 640x360: height decides, the picture starts 80 pixels in.
    EXPECT_EQ(o.WaterMark.Rect, (TRect{80, 0, 200, 60}));
    ASSERT_FALSE(o.WaterMark.PreparedFile.isEmpty());
    EXPECT_TRUE(o.WaterMark.PreparedFile.startsWith(dir.filePath("work")));
    const QString name = QFileInfo(o.WaterMark.PreparedFile).fileName();
    EXPECT_TRUE(QRegularExpression("^[a-z0-9]+\\.png$").match(name).hasMatch()) << name.toStdString();
    const QImage prepared(o.WaterMark.PreparedFile);
    EXPECT_EQ(prepared.size(), QSize(120, 60));
    EXPECT_NEAR(qAlpha(prepared.pixel(5, 5)), 128, 1);

    const QString p = FilterGraphFileName(o.WaterMark.PreparedFile);
    EXPECT_EQ(ConversionFilterGraph(job), "movie=" + p + " [watermark1]; [in] pad=640:360:80:0,scale=640:360 [main]; "
                                          "[main][watermark1] overlay=80:0 [out]");
    o.FitSize = o.Resolution;
    EXPECT_EQ(ConversionFilterGraph(job), "movie=" + p + " [watermark1]; [in][watermark1] overlay=80:0 [out]");

    // With a crop the rectangle is taken relative to it, made even, and mapped from its size.
    TFileOption cropped = Job();
    cropped.Options.CropEnabled = true;
    cropped.Options.CropRect = TRect{100, 50, 300, 250};
    cropped.Options.WatermarkKind = 1;
    cropped.Options.WaterMark.ImageFile = hostile;
    cropped.Options.WaterMark.Opacity = 100;
    cropped.Options.WaterMark.Rect = TRect{110, 60, 151, 81};
    PrepareWatermark(cropped, dir.filePath("work"));
    EXPECT_EQ(cropped.Options.WaterMark.Rect, (TRect{158, 18, 230, 54}));
    EXPECT_NE(cropped.Options.WaterMark.PreparedFile, o.WaterMark.PreparedFile);

    // Nothing is prepared without a picture.
    TFileOption none = Job();
    none.Options.WatermarkKind = 1;
    none.Options.WaterMark.ImageFile = dir.filePath("missing.png");
    PrepareWatermark(none, dir.filePath("work"));
    EXPECT_TRUE(none.Options.WaterMark.PreparedFile.isEmpty());
    EXPECT_EQ(ConversionFilterGraph(none), "pad=640:360:80:0,scale=640:360");
}

TEST(ConversionStepsTest, FileNamesInAGraphKeepEveryCharacter) {
    EXPECT_EQ(FilterGraphFileName("/tmp/w/watermark1.png"), "/tmp/w/watermark1.png");
    EXPECT_EQ(FilterGraphFileName("/a:b.png"), "/a\\\\:b.png");
    EXPECT_EQ(FilterGraphFileName("/a b,c.png"), "/a\\\\\\ b\\\\\\,c.png");
}

}  // namespace
}  // namespace qm::conversion
