// What the capture windows' tests share: the engine and the program's main-thread dispatcher,
// the skin, the program's folders and log in a temporary folder, answered message boxes, the
// sound capture on the player's own audio path, test movies, and the ffprobe program's view of a
// captured file.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/core/app_core.h"
#include "app/core/qt_dispatcher.h"
#include "audio/sound_capture.h"
#include "controls/skin_art.h"
#include "controls/skinned_window.h"
#include "conversion/windows/capture_options_window.h"
#include "conversion/windows/capture_window.h"
#include "engine/library_loader.h"
#include "engine/main_thread.h"
#include "formats/core/formats_core.h"
#include "testing/swfwriter/swfwriter.h"
#include "tests/child_process.h"

namespace qm::conversion::capture_test {

namespace sw = qm::swfwriter;

// A movie of `frames` frames on black; from each marker frame on, a white box covers the stage
// for `markerFrames` frames and a short loud click starts with it. With stopAt, the movie stops
// on that frame.
struct TestMovie {
    int width = 160, height = 120;
    double rate = 25;
    int frames = 50;
    int stopAt = -1;
    std::vector<int> markers;
    int markerFrames = 10;

    void Write(const QString& path) const {
        sw::Movie movie({.version = 8, .frame = sw::Rect::pixels(width, height), .frameRate = sw::fps(rate)});
        movie.setBackgroundColor({0, 0, 0});
        sw::Shape box;
        box.fill0(box.addFill(sw::FillStyle::solid({255, 255, 255}))).rect(0, 0, width * 20, height * 20);
        const uint16_t boxId = movie.defineShape(box);
        // 10 ms of a 1 kHz square wave at nearly full scale.
        sw::Bytes click;
        for (int i = 0; i < 441; ++i) {
            const int16_t s = (i / 22) % 2 ? -26000 : 26000;
            click.push_back(uint8_t(s & 0xFF));
            click.push_back(uint8_t((s >> 8) & 0xFF));
        }
        const uint16_t clickId = markers.empty() ? 0 : movie.defineSound(sw::SoundFormat{}, 441, click);
        // A counter drawn as a bar whose width is the frame number keeps every frame distinct.
        sw::Shape bar;
        bar.fill0(bar.addFill(sw::FillStyle::solid({90, 90, 90}))).rect(0, 0, 20, 100);
        const uint16_t barId = movie.defineShape(bar);
        for (int f = 0; f < frames; ++f) {
            if (f == 0) movie.place({.depth = 2, .character = barId});
            else movie.place({.depth = 2, .move = true, .matrix = sw::Matrix::scale(f + 1, 1)});
            for (int m : markers) {
                if (f == m) {
                    movie.place({.depth = 1, .character = boxId});
                    movie.startSound(clickId);
                }
                if (f == m + markerFrames) movie.removeObject2(1);
            }
            if (f == stopAt) movie.doAction(sw::Actions().stop());
            movie.showFrame();
        }
        movie.save(path.toStdString());
    }
};

struct Box {
    QString text, caption;
    int icon = 0, buttons = 0;
};

// Frames of a video file as ffprobe decodes them: time and mean brightness.
struct VideoFrame {
    double time = 0, brightness = 0;
};

inline std::vector<VideoFrame> ProbeFrames(const QString& file) {
    const qm::test::ChildRun probe =
        qm::test::RunChild("ffprobe", {"-v", "error", "-f", "lavfi", "-i", QStringLiteral("movie=%1,signalstats").arg(file),
                                   "-show_entries", "frame=pts_time:frame_tags=lavfi.signalstats.YAVG", "-of", "csv=p=0"},
                       qm::test::ChildOptions().Timeout(120000));
    std::vector<VideoFrame> frames;
    for (const QString& line : probe.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.trimmed().split(',');
        if (parts.size() < 2) continue;
        frames.push_back({parts[0].toDouble(), parts[1].toDouble()});
    }
    return frames;
}

inline QString ProbeText(const QString& file, const QString& entries, const QString& streams = "v:0") {
    return qm::test::RunChild("ffprobe",
                          {"-v", "error", "-select_streams", streams, "-show_entries", entries, "-of", "csv=p=0", file})
        .out.trimmed();
}

class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override {
        engine::TFFLoader& loader = engine::FFLoader();
        if (!loader.LibsLoaded(engine::AllLibraries)) {
            loader.SetLibraryPath("");
            ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
        }
        engine::SetMainThreadDispatcher(&dispatcher);
        // As on a machine without a sound device: the player's sound goes to the silent output,
        // without the time a search for devices takes.
        savedAudioDriver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "qm-no-device");
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(controls::WriteFormSkin(root.filePath("skin")));
        controls::SetSkinFormFolder(root.filePath("skin"));
        for (const char* folder : {"capture", "out", "temp", "shots"}) QDir(root.path()).mkpath(folder);
        captureFolder = root.filePath("capture") + "/";
        outFolder = root.filePath("out") + "/";
        app::CaptureTempPath = captureFolder;
        app::OutputPath = outFolder;
        app::SystemTempPath = root.filePath("temp") + "/";
        app::SnapshotPath = root.filePath("shots") + "/";
        app::SnapshotExt = "jpg";
        app::OverWrite = false;
        app::CaptureMode = 0;
        FastCapture = false;
        app::AppLog = std::make_unique<app::TBrvLog>(root.filePath("log.txt"));
        SetCaptureMessageBox([this](QWidget*, const QString& text, const QString& caption, int icon, int buttons) {
            boxes.push_back({text, caption, icon, buttons});
            if (onBox) onBox();
            if (answers.empty()) return int(0x00000400);  // QMessageBox::Ok
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        // The path the player's own output takes, as the main window chooses it.
        hook = std::make_unique<audio::TSoundHook>([](audio::LogKind kind, const std::string& line) {
            if (!app::AppLog) return;
            if (kind == audio::LogKind::Error) app::AppLog->WriteError(QString::fromStdString(line));
            else app::AppLog->WriteInfo(QString::fromStdString(line));
        });
        hook->RawFileName = (captureFolder + "brvp_temp.tpz").toStdString();
        hook->WavFileName = (captureFolder + "brvA_temp.tpz").toStdString();
        hook->VideoFileName = (captureFolder + "brvV_temp.mp4").toStdString();
        hook->InstallHooks();
    }

    void TearDown() override {
        hook.reset();
        if (savedAudioDriver.isNull()) qunsetenv("SDL_AUDIODRIVER");
        else qputenv("SDL_AUDIODRIVER", savedAudioDriver);
        SetCaptureMessageBox({});
        controls::SetSkinFormFolder(QString());
        engine::SetMainThreadDispatcher(nullptr);
        app::AppLog.reset();
        app::CaptureMode = 0;
        FastCapture = false;
    }

    // The main window's part: the movie's facts, and the capture size at the movie's own size.
    formats::TFileOption Job(const QString& movie, const TestMovie& m) const {
        formats::TFileOption job;
        job.SWFInfo.FileName = movie;
        job.SWFInfo.FrameCount = m.frames;
        job.SWFInfo.Width = m.width;
        job.SWFInfo.Height = m.height;
        job.SWFInfo.FrameRate = QString::number(m.rate);
        auto& o = job.Options;
        o.FileExt = ".mp4";
        o.OutFileName = QFileInfo(movie).completeBaseName();
        o.VideoCodec = "MPEG-4";
        o.FrameRate = QString::number(m.rate);
        o.VideoBitRate = 1000;
        o.AudioCodec = "mp2";
        o.AudioBitRate = 128;
        o.SampleRate = 44100;
        o.Channels = 2;
        o.SourceSize = o.Resolution = o.FitSize = QStringLiteral("%1x%2").arg(m.width).arg(m.height);
        return job;
    }

    QString WriteMovie(const QString& name, const TestMovie& m) const {
        const QString path = root.filePath(name);
        m.Write(path);
        return path;
    }

    std::unique_ptr<TCaptureFrm> MakeWindow(const QString& movie, const TestMovie& m) {
        auto window = std::make_unique<TCaptureFrm>(hook.get());
        window->MoviePath = movie;
        window->Job = Job(movie, m);
        window->SetWorkArea(1024, 768);
        return window;
    }

    // Shows the window modally, runs `atShow` once it is up, and waits for it to close; a
    // window that never closes fails the test.
    int Exec(TCaptureFrm& window, const std::function<void()>& atShow, int timeoutMs = 60000) {
        QTimer::singleShot(0, &window, atShow);
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

    static void Wait(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    template <class Condition>
    static bool WaitFor(Condition condition, int ms) {
        QElapsedTimer t;
        t.start();
        while (!condition() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return condition();
    }

    QString Log() const {
        QFile f(root.filePath("log.txt"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString VideoFile() const { return QString::fromStdString(hook->VideoFileName); }

    app::QtMainThreadDispatcher dispatcher;
    QByteArray savedAudioDriver;
    QTemporaryDir root;
    QString captureFolder, outFolder;
    std::unique_ptr<audio::TSoundHook> hook;
    std::vector<Box> boxes;
    std::deque<int> answers;
    std::function<void()> onBox;
};

}  // namespace qm::conversion::capture_test
