// What the conversion window's tests share: the engine, the skin, the program's folders and
// log in a temporary folder, answered message boxes and after-conversion hooks, and the
// capture's files made the way a capture leaves them.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>
#include <deque>
#include <memory>

#include "app/core/app_core.h"
#include "audio/sound_capture.h"
#include "controls/skin_art.h"
#include "controls/skinned_window.h"
#include "conversion/windows/converter_window.h"
#include "engine/library_loader.h"
#include "engine/media_info.h"
#include "tests/child_process.h"

namespace qm::conversion::test {

inline void LoadEngine() {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
}

// Media for the tests, made by the ffmpeg program.
inline void MakeMedia(const QStringList& args) {
    const qm::test::ChildRun ffmpeg = qm::test::RunChild("ffmpeg", QStringList{"-v", "error", "-y"} + args, qm::test::ChildOptions().Timeout(120000));
    ASSERT_TRUE(ffmpeg.finished);
    ASSERT_EQ(ffmpeg.exitCode, 0) << ffmpeg.err.toStdString();
}

// Decoded output: one picture as RGB bytes, or the sound as 16-bit mono samples.
inline QByteArray DecodeFrame(const QString& file, double seconds, int width, int height) {
    const QByteArray rgb = qm::test::RunChild("ffmpeg", {"-v", "error", "-ss", QString::number(seconds), "-i", file,
                                                     "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                               .rawOut;
    return rgb.size() == width * height * 3 ? rgb : QByteArray();
}

inline std::vector<int16_t> DecodeSound(const QString& file) {
    const QByteArray bytes =
        qm::test::RunChild("ffmpeg", {"-v", "error", "-i", file, "-vn", "-ac", "1", "-ar", "44100", "-f", "s16le", "-"}).rawOut;
    std::vector<int16_t> samples(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// The tone's frequency in each tenth of a second, from its zero crossings; 0 where it is quiet.
inline std::vector<double> ToneFrequencies(const std::vector<int16_t>& samples) {
    std::vector<double> out;
    const size_t window = 4410;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        int crossings = 0;
        size_t first = 0, last = 0;
        for (size_t i = start + 1; i < start + window; ++i) {
            if ((samples[i - 1] < 0) != (samples[i] < 0) && std::abs(samples[i] - samples[i - 1]) > 200) {
                if (!crossings) first = i;
                last = i;
                ++crossings;
            }
        }
        out.push_back(crossings < 10 ? 0 : (crossings - 1) / 2.0 / (double(last - first) / 44100.0));
    }
    return out;
}

// How many tenths of a second carry the tone (within 3%).
inline int TenthsWithTone(const std::vector<int16_t>& samples, double frequency) {
    int n = 0;
    for (double f : ToneFrequencies(samples))
        if (std::abs(f - frequency) < frequency * 0.03) ++n;
    return n;
}

struct MediaFacts {
    int video = 0, audio = 0;
    double seconds = 0;
};

inline MediaFacts Probe(const QString& file) {
    engine::TFFDecoder info;
    MediaFacts facts;
    if (!info.LoadFile(file.toStdString())) return facts;
    facts.video = info.VideoStreamCount;
    facts.audio = info.AudioStreamCount;
    engine::TFileStreamInfo stream;
    if (info.GetFileStreamInfo(stream)) facts.seconds = double(stream.Duration) / 1e6;
    return facts;
}

// The video stream's size and frame rate as the ffprobe program reads them.
inline QString VideoStreamText(const QString& file) {
    return qm::test::RunChild("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                      "stream=codec_name,width,height,r_frame_rate", "-of", "csv=p=0", file})
        .out.trimmed();
}

inline QString AudioStreamText(const QString& file) {
    return qm::test::RunChild("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                      "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", file})
        .out.trimmed();
}

struct Box {
    QString text, caption;
    BoxButtons buttons;
};

class ConverterFixture : public ::testing::Test {
protected:
    void SetUp() override {
        LoadEngine();
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(controls::WriteFormSkin(root.filePath("skin")));
        controls::SetSkinFormFolder(root.filePath("skin"));
        for (const char* folder : {"capture", "out", "temp"}) QDir(root.path()).mkpath(folder);
        captureFolder = root.filePath("capture") + "/";
        outFolder = root.filePath("out") + "/";
        app::CaptureTempPath = captureFolder;
        app::OutputPath = outFolder;
        app::SystemTempPath = root.filePath("temp") + "/";
        app::OverWrite = false;
        app::FinishAction = 0;
        app::AppLog = std::make_unique<app::TBrvLog>(root.filePath("log.txt"));

        SetConversionMessageBox([this](QWidget*, const QString& text, const QString& caption, BoxIcon,
                                       BoxButtons buttons) {
            boxes.push_back({text, caption, buttons});
            if (onBox) onBox();
            if (answers.empty()) return true;
            const bool answer = answers.front();
            answers.pop_front();
            return answer;
        });
        TConverterfrm::SetExitProgramHook([this] { ++exits; });
        TConverterfrm::SetShowShutdownHook([this](QWidget* parent) {
            ++shutdowns;
            shutdownParentCompleted = parent && static_cast<TConverterfrm*>(parent)->Completed();
        });

        // The sound capture writes to the program's log, as the main window connects it.
        hook = std::make_unique<audio::TSoundHook>(
            [](audio::LogKind kind, const std::string& line) {
                if (!app::AppLog) return;
                if (kind == audio::LogKind::Error)
                    app::AppLog->WriteError(QString::fromStdString(line));
                else
                    app::AppLog->WriteInfo(QString::fromStdString(line));
            },
            nullptr);
        hook->RawFileName = (captureFolder + "brvp_temp.tpz").toStdString();
        hook->WavFileName = (captureFolder + "brvA_temp.tpz").toStdString();
        hook->VideoFileName = (captureFolder + "brvV_temp.mp4").toStdString();
    }

    void TearDown() override {
        hook.reset();
        SetConversionMessageBox({});
        TConverterfrm::SetExitProgramHook({});
        TConverterfrm::SetShowShutdownHook({});
        controls::SetSkinFormFolder(QString());
        app::AppLog.reset();
    }

    QString VideoFile() const { return QString::fromStdString(hook->VideoFileName); }
    QString WavFile() const { return QString::fromStdString(hook->WavFileName); }
    QString RawFile() const { return QString::fromStdString(hook->RawFileName); }

    // The capture's picture: a test pattern at 10 frames a second.
    void MakeVideo(double seconds, const QString& size = "160x120") {
        MakeMedia({"-f", "lavfi", "-i", QString("testsrc=size=%1:rate=10:duration=%2").arg(size).arg(seconds), "-c:v",
                   "mpeg4", "-b:v", "2000k", VideoFile()});
    }

    // The capture's raw sound: 16-bit stereo samples of a tone, as the sound capture writes them.
    void MakeRawSound(double seconds, double frequency = 440) {
        const audio::WaveFormat format = audio::WaveFormat::Pcm16(44100, 2);
        hook->SetFormat(&format);
        QFile raw(RawFile());
        ASSERT_TRUE(raw.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const int n = int(seconds * 44100);
        QByteArray bytes(n * 4, '\0');
        auto* s = reinterpret_cast<int16_t*>(bytes.data());
        for (int i = 0; i < n; ++i) s[2 * i] = s[2 * i + 1] = int16_t(12000 * std::sin(2 * M_PI * frequency * i / 44100));
        raw.write(bytes);
    }

    // A profile of MP4 with MPEG-4 picture and MP2 sound at the picture's own size.
    formats::TFileOption Job(const QString& size = "160x120") const {
        formats::TFileOption job;
        job.SWFInfo.FrameRate = "10";
        auto& o = job.Options;
        o.FileExt = ".mp4";
        o.OutFileName = "movie";
        o.VideoCodec = "MPEG-4";
        o.FrameRate = "10";
        o.VideoBitRate = 500;
        o.AudioCodec = "mp2";
        o.AudioBitRate = 128;
        o.SampleRate = 44100;
        o.Channels = 2;
        o.SourceSize = o.Resolution = o.FitSize = size;
        return job;
    }

    // Shows the window modally until it closes; a window that never closes fails the test.
    int Run(TConverterfrm& window, int timeoutMs = 120000) {
        QTimer guard;
        guard.setSingleShot(true);
        bool timedOut = false;
        QObject::connect(&guard, &QTimer::timeout, &window, [&] {
            timedOut = true;
            window.done(-1);
        });
        guard.start(timeoutMs);
        const int result = window.exec();
        EXPECT_FALSE(timedOut) << "the window did not close";
        return result;
    }

    // Runs until the window shows its completion view (it stays open then).
    bool WaitForCompletion(TConverterfrm& window, int timeoutMs = 120000) {
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (!window.Completed() && window.isVisible() && waited.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return window.Completed();
    }

    QString Log() const {
        QFile f(root.filePath("log.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // Files a conversion leaves behind in the capture folder and the private work folders.
    QStringList Leftovers() const {
        QStringList left = QDir(captureFolder).entryList(QDir::Files);
        for (const QString& d : QDir(root.filePath("temp")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            left << "temp/" + d;
        return left;
    }

    QTemporaryDir root;
    QString captureFolder, outFolder;
    std::unique_ptr<audio::TSoundHook> hook;
    std::vector<Box> boxes;
    std::deque<bool> answers;
    std::function<void()> onBox;
    int exits = 0, shutdowns = 0;
    bool shutdownParentCompleted = false;
};

}  // namespace qm::conversion::test
