// From a movie to the output file: the movie's picture captured into the intermediate MPEG-4
// file through the engine's frame input, its sound recorded by the sound capture while it plays,
// then the conversion window with the default profile, and with a crop and a watermark.
#include <QImage>

#include <chrono>
#include <thread>

#include "audio/audio.h"
#include "conversion/offline_capture.h"
#include "conversion/windows/capture_options_window.h"
#include "conversion/windows/capture_window.h"
#include "converter_support.h"
#include "flash/player.h"
#include "formats/core/formats_core.h"
#include "tests/sanitizer_wait.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::conversion::test {
namespace {

namespace sw = qm::swfwriter;

constexpr int kWidth = 200, kHeight = 150, kRate = 10, kFrames = 20;
constexpr double kTone = 440;

// A blue stage, a red square running along its bottom edge, and a tone all through.
void WriteMovie(const QString& path) {
    sw::Movie movie({.version = 8, .frame = sw::Rect::pixels(kWidth, kHeight), .frameRate = sw::fps(kRate)});
    movie.setBackgroundColor({0, 0, 255});
    sw::Shape square;
    square.fill0(square.addFill(sw::FillStyle::solid({255, 0, 0}))).rect(0, 0, 10 * 20, 10 * 20);
    const uint16_t squareId = movie.defineShape(square);
    const sw::Bytes pcm = sw::sinePCM16(kTone, double(kFrames) / kRate, 44100);
    const uint16_t toneId = movie.defineSound(sw::SoundFormat{}, uint32_t(pcm.size() / 2), pcm);
    for (int f = 0; f < kFrames; ++f) {
        const sw::Matrix at = sw::Matrix::translate(f * 9 * 20, 135 * 20);
        if (f == 0) {
            movie.place({.depth = 1, .character = squareId, .matrix = at});
            movie.startSound(toneId);
        } else {
            movie.place({.depth = 1, .move = true, .matrix = at});
        }
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

class ConverterEndToEndTest : public ConverterFixture {
protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        movie = root.filePath("tone movie.swf");
        WriteMovie(movie);
        if (formats::BuiltInFormats.isEmpty()) formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
        ASSERT_TRUE(formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID));
    }

    // The main window's part: the movie's facts and the profile prepared for the conversion.
    formats::TFileOption Prepare() {
        formats::TFileOption job;
        QString error;
        EXPECT_TRUE(ReadMovieInfo(movie, job.SWFInfo, error)) << error.toStdString();
        job.Options.SourceSize = QString("%1x%2").arg(kWidth).arg(kHeight);
        job.Options.OutFileName = "tone movie";
        formats::PrepareFileOption(job);
        return job;
    }

    // The capture's part: the picture at the capture size, cropped, as the intermediate MPEG-4
    // file, and the sound the player plays, recorded in real time into the raw file.
    void Capture(const formats::TFileOption& job) {
        formats::TFileOption picture = job;
        auto& o = picture.Options;
        if (o.CropEnabled && !o.KeepOriginalSize) o.CropRect = app::MapRect(o.CropRect, o.SourceSize, o.FitSize);
        o.KeepOriginalSize = true;
        o.SourceSize = o.Resolution = o.FitSize;
        o.FileExt = ".mp4";
        o.VideoCodec = "MPEG-4";
        o.VideoBitRate = 20000;
        o.FrameRate = formats::KeepOriginal;
        o.AudioDisabled = true;
        o.WatermarkKind = -1;
        OfflineCapture capture(picture, VideoFile(), CaptureLimits{EndRule::LastFrame, 0});
        const CaptureResult result = capture.Run();
        ASSERT_TRUE(result.Succeeded) << result.Error.toStdString();

        flash::LoadResult loaded = flash::Player::LoadFile(movie.toStdString());
        ASSERT_TRUE(loaded.player) << loaded.error;
        flash::Player& player = *loaded.player;
        hook->InstallHooks();
        auto output = audio::OpenSilentOutput(audio::WaveFormat::Pcm16(flash::Player::kMixRate, flash::Player::kMixChannels));
        hook->StartCapture();
        std::vector<int16_t> block;
        for (int f = 1; f <= kFrames; ++f) {
            player.Advance();
            const size_t count = size_t(player.SoundSamplesBefore(uint64_t(f)) - player.SoundSamplesBefore(uint64_t(f - 1)));
            block.resize(count * flash::Player::kMixChannels);
            player.Mix(block.data(), count);
            ASSERT_TRUE(output->Write(block.data(), count));
        }
        output->Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        hook->StopCapture();
        output->Close();
        ASSERT_GT(QFileInfo(RawFile()).size(), 0);
    }

    QString movie;
};

TEST_F(ConverterEndToEndTest, DefaultProfileGivesAnMp4WithThePictureAndTheSoundOfTheMovie) {
    formats::TFileOption job = Prepare();
    ASSERT_EQ(job.Options.Resolution, "200x150");
    Capture(job);
    TConverterfrm window(job, *hook);
    ASSERT_TRUE(WaitForCompletion(window));
    const QString output = outFolder + "tone movie.mp4";
    ASSERT_EQ(window.OutputPath(), output);

    EXPECT_EQ(VideoStreamText(output), "h264,200,150,10/1");
    EXPECT_EQ(AudioStreamText(output), "aac,44100,2");
    EXPECT_NEAR(Probe(output).seconds, double(kFrames) / kRate, 0.15);
    const std::vector<int16_t> sound = DecodeSound(output);
    EXPECT_GT(sound.size(), size_t(1.8 * 44100));
    // The movie's tone from start to end.
    EXPECT_GE(TenthsWithTone(sound, kTone), 18);
    // The stage: blue, with the red square at the bottom.
    const QByteArray rgb = DecodeFrame(output, 1.0, 200, 150);
    ASSERT_FALSE(rgb.isEmpty());
    auto at = [&](int x, int y) { return QColor(uchar(rgb[(y * 200 + x) * 3]), uchar(rgb[(y * 200 + x) * 3 + 1]), uchar(rgb[(y * 200 + x) * 3 + 2])); };
    EXPECT_LT(at(100, 60).red(), 40);
    EXPECT_GT(at(100, 60).blue(), 200);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

TEST_F(ConverterEndToEndTest, CroppedOutputCarriesTheWatermarkWhereTheCropWindowPlacedIt) {
    formats::CurrentOptions.Resolution = "320x240";
    formats::TFileOption job = Prepare();
    auto& o = job.Options;
    ASSERT_EQ(o.FitSize, "320x240");
    // As the crop and watermark window leaves them, in movie pixels.
    o.CropEnabled = true;
    o.CropRect = app::TRect{40, 30, 160, 120};
    o.WatermarkKind = 1;
    o.WaterMark.ImageFile = root.filePath("mark.png");
    o.WaterMark.Opacity = 50;
    o.WaterMark.Rect = app::TRect{60, 45, 100, 75};
    QImage white(40, 30, QImage::Format_ARGB32);
    white.fill(Qt::white);
    ASSERT_TRUE(white.save(o.WaterMark.ImageFile));
    Capture(job);

    TConverterfrm window(job, *hook);
    ASSERT_TRUE(WaitForCompletion(window));
    const QString output = window.OutputPath();
    EXPECT_EQ(VideoStreamText(output), "h264,320,240,10/1");
    EXPECT_EQ(Probe(output).audio, 1);

    // The cropped 120x90 of the movie fills the 320x240 output: every movie pixel is 8/3 wide.
    // The watermark (60,45)-(100,75) lands at (53,40)-(160,120), white at half strength on blue.
    const QByteArray rgb = DecodeFrame(output, 1.0, 320, 240);
    ASSERT_FALSE(rgb.isEmpty());
    auto red = [&](int x, int y) { return int(uchar(rgb[(y * 320 + x) * 3])); };
    auto blue = [&](int x, int y) { return int(uchar(rgb[(y * 320 + x) * 3 + 2])); };
    for (QPoint inside : {QPoint(58, 45), QPoint(155, 45), QPoint(106, 80), QPoint(58, 115), QPoint(155, 115)}) {
        EXPECT_NEAR(red(inside.x(), inside.y()), 128, 25) << inside.x() << "," << inside.y();
        EXPECT_GT(blue(inside.x(), inside.y()), 200) << inside.x() << "," << inside.y();
    }
    for (QPoint outside : {QPoint(47, 80), QPoint(166, 80), QPoint(106, 34), QPoint(106, 126), QPoint(10, 10),
                           QPoint(300, 200)}) {
        EXPECT_LT(red(outside.x(), outside.y()), 40) << outside.x() << "," << outside.y();
        EXPECT_GT(blue(outside.x(), outside.y()), 200) << outside.x() << "," << outside.y();
    }
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

// The road as the main window runs it: the capture window in automatic mode, then this window
// with another copy of the same job.
TEST_F(ConverterEndToEndTest, CaptureWindowThenConversionWindow) {
    formats::TFileOption job = Prepare();
    job.SWFInfo.FileName = movie;
    hook->InstallHooks();
    app::CaptureMode = 2;
    FastCapture = false;
    SetCaptureMessageBox([](QWidget*, const QString& text, const QString&, int, int) {
        ADD_FAILURE() << "capture window asked: " << text.toStdString();
        return 0x00000400;  // OK
    });
    int captured = 0;
    {
        TCaptureFrm capture(hook.get());
        capture.MoviePath = movie;
        capture.Job = job;
        capture.SetWorkArea(1024, 768);
        QTimer::singleShot(0, &capture, [&] { capture.PlayAndCaptureButton()->click(); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &capture, [&] { capture.done(-1); });
        guard.start(60000);
        captured = capture.exec();
    }
    SetCaptureMessageBox({});
    app::CaptureMode = 0;
    ASSERT_EQ(captured, QDialog::Accepted);
    // A capture in real time may hold the last picture a little longer than the movie. Under
    // ThreadSanitizer the window's player falls behind the clock, so only the run itself counts.
    const double capturedSeconds = Probe(VideoFile()).seconds;
    if (qm::test::kWaitScale == 1) EXPECT_NEAR(capturedSeconds, double(kFrames) / kRate, 0.35);

    TConverterfrm window(job, *hook);
    ASSERT_TRUE(WaitForCompletion(window));
    const QString output = window.OutputPath();
    EXPECT_EQ(output, outFolder + "tone movie.mp4");
    EXPECT_EQ(VideoStreamText(output), "h264,200,150,10/1");
    EXPECT_EQ(AudioStreamText(output), "aac,44100,2");
    EXPECT_NEAR(Probe(output).seconds, capturedSeconds, 0.06);
    EXPECT_GE(TenthsWithTone(DecodeSound(output), kTone), 17);
    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
}

}  // namespace
}  // namespace qm::conversion::test
