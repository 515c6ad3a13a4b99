// The whole road from the main window: a movie with sound is opened, the Convert button starts
// the capture window, whose "Play and Capture" records it, and the conversion window turns the
// capture into the output file of the default profile.
#include "app/core/app_core.h"
#include "app/windows/main_window.h"
#include "app/windows/window_hooks.h"
#include "controls/skinned_window.h"
#include "conversion/windows/capture_window.h"
#include "conversion/windows/converter_window.h"
#include "testing/swfwriter/swfwriter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

#include <gtest/gtest.h>

using namespace qm::app;
namespace w = qm::swfwriter;

namespace {

// 2 s at 25 fps, 160 x 120: a bar growing a step each frame, and a 440 Hz tone from the start.
void WriteMovieWithSound(const QString& path) {
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(160, 120), .frameRate = w::fps(25)});
    movie.setBackgroundColor({20, 40, 60});
    w::Bytes tone;
    const int samples = 44100 * 3 / 2;
    for (int i = 0; i < samples; ++i) {
        const auto s = int16_t(std::lround(12000 * std::sin(2 * 3.14159265358979 * 440 * i / 44100.0)));
        tone.push_back(uint8_t(s & 0xFF));
        tone.push_back(uint8_t((s >> 8) & 0xFF));
    }
    const uint16_t toneId = movie.defineSound(w::SoundFormat{}, samples, tone);
    w::Shape bar;
    bar.fill0(bar.addFill(w::FillStyle::solid({240, 200, 40}))).rect(0, 0, 60, 2400);
    const uint16_t barId = movie.defineShape(bar);
    for (int f = 0; f < 50; ++f) {
        if (f == 0) {
            movie.place({.depth = 1, .character = barId});
            movie.startSound(toneId);
        } else {
            movie.place({.depth = 1, .move = true, .matrix = w::Matrix::scale(f + 1, 1)});
        }
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

QString Probe(const QString& file, const QString& stream, const QString& entries) {
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries", entries, "-of", "csv=p=0", file});
    probe.waitForFinished(60000);
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

TEST(MainWindowRoad, AMovieConvertsThroughTheMainCaptureAndConversionWindows) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QDir(home.path()).mkpath("docs");
    QDir(home.path()).mkpath("tmp");
    LoadSettings(home.filePath("docs") + "/", home.filePath("tmp") + "/");
    WriteSetting(QStringLiteral("IsCheckUpdate"), false);
    InitLog();
    std::vector<QString> boxes;
    SetMessageBoxFunction([&](const MessageBoxRequest& r) {
        boxes.push_back(r.text);
        return QMessageBox::Ok;
    });
    qm::conversion::SetCaptureMessageBox([&](QWidget*, const QString& text, const QString&, int, int) {
        boxes.push_back(text);
        return int(QMessageBox::Ok);
    });
    qm::conversion::SetConversionMessageBox(
        [&](QWidget*, const QString& text, const QString&, qm::conversion::BoxIcon, qm::conversion::BoxButtons) {
            boxes.push_back(text);
            return true;
        });

    const QString movie = home.filePath("road.swf");
    WriteMovieWithSound(movie);

    Tmainfrm window;
    window.show();
    window.OpenMovie(movie);
    ASSERT_TRUE(window.btnConverter->isEnabled());
    CaptureMode = 2;  // automatic: the capture ends at the movie's last frame

    // The user's part, answered as each window comes up.
    bool captureStarted = false, conversionSeen = false, conversionDone = false;
    QTimer user;
    user.setInterval(20);
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* capture = qobject_cast<qm::conversion::TCaptureFrm*>(modal)) {
            if (!captureStarted && capture->PlayAndCaptureButton()->isEnabled()) {
                captureStarted = true;
                capture->PlayAndCaptureButton()->click();
            }
        } else if (auto* converter = qobject_cast<qm::conversion::TConverterfrm*>(modal)) {
            conversionSeen = true;
            if (converter->Completed() && !conversionDone) {
                conversionDone = true;
                converter->CancelButton()->click();
            }
        }
    });
    user.start();
    QTest::mouseClick(window.btnConverter, Qt::LeftButton);
    user.stop();

    EXPECT_TRUE(captureStarted);
    EXPECT_TRUE(conversionSeen);
    EXPECT_TRUE(conversionDone);
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
    EXPECT_FALSE(window.isHidden());

    const QString output = OutputPath + "road" + qm::formats::CurrentOptions.FileExt;
    ASSERT_TRUE(QFileInfo::exists(output)) << output.toStdString() << "\n" << QDir(OutputPath).entryList().join(' ').toStdString();
    EXPECT_FALSE(Probe(output, "v:0", "stream=codec_name").isEmpty());
    EXPECT_FALSE(Probe(output, "a:0", "stream=codec_name").isEmpty());
    const double seconds = Probe(output, "v:0", "format=duration").toDouble();
    // A real-time capture on a busy machine may stretch the movie's time a little; it never
    // shortens it.
    EXPECT_GE(seconds, 1.7);
    EXPECT_LE(seconds, 3.5);
    // The movie's tone reached the output: its first second is loud, not silence.
    QProcess decode;
    decode.start("ffmpeg", {"-v", "error", "-i", output, "-vn", "-ac", "1", "-ar", "44100", "-t", "1", "-f", "s16le", "-"});
    ASSERT_TRUE(decode.waitForFinished(60000));
    const QByteArray pcm = decode.readAllStandardOutput();
    double sum = 0;
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    for (qsizetype i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
    ASSERT_GT(count, 22050);
    EXPECT_GT(std::sqrt(sum / double(count)), 2000.0);
    // The temporary files of the road are gone.
    for (const char* name : {"brvp_temp.tpz", "brvA_temp.tpz", "brvV_temp.mp4"})
        EXPECT_FALSE(QFileInfo::exists(CaptureTempPath + name)) << name;

    SetMessageBoxFunction({});
    qm::conversion::SetCaptureMessageBox({});
    qm::conversion::SetConversionMessageBox({});
}

}  // namespace
