// Converts the demo movie and a heavy generated cartoon to 1280x720 H.264 with the default
// profile through the offline capture, and prints seconds of movie per second of wall time and
// the peak memory of the process.
//
//   bench_convert_speed [DEMO.swf]    (default: demo/demo.swf beside the program)
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "conversion/offline_capture.h"
#include "engine/library_loader.h"
#include "flash/render/render.h"
#include "formats/core/formats_core.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm;

namespace {

// Ten seconds at 24 fps of 1280x720: forty gradient blobs with outlines, each drifting and
// turning every frame, over a sky gradient, with a tone every second.
void WriteHeavyMovie(const QString& path) {
    w::Movie m({.version = 8, .frame = w::Rect::pixels(1280, 720), .frameRate = w::fps(24)});
    m.setBackgroundColor({30, 40, 70});
    w::Shape sky;
    sky.fill0(sky.addFill(w::FillStyle::linear(w::Matrix::gradientBox(0, 0, 1280 * 20, 720 * 20, 1.5708),
                                                {{0, {40, 60, 120}}, {255, {230, 150, 90}}})))
        .rect(0, 0, 1280 * 20, 720 * 20);
    const uint16_t skyId = m.defineShape(sky);
    std::mt19937 random(7);
    std::vector<uint16_t> blobs;
    for (int i = 0; i < 8; ++i) {
        w::Shape s;
        const w::Color a{uint8_t(random() % 256), uint8_t(random() % 256), uint8_t(random() % 256)};
        const w::Color b{uint8_t(random() % 256), uint8_t(random() % 256), uint8_t(random() % 256), 200};
        s.fill0(s.addFill(w::FillStyle::radial(w::Matrix::gradientBox(-1600, -1200, 3200, 2400), {{0, a}, {255, b}})));
        s.line(s.addLine(w::LineStyle{.width = 60, .color = {20, 20, 20}}));
        s.moveTo(-1600, 0).curveTo(-1600, -1400, 0, -1200).curveTo(1700, -1100, 1600, 0);
        s.curveTo(1500, 1300, 0, 1200).curveTo(-1500, 1300, -1600, 0);
        blobs.push_back(m.defineShape(s));
    }
    const w::Bytes tone = w::sinePCM16(440, 0.2, 44100, 0.4);
    const uint16_t toneId = m.defineSound(w::SoundFormat{}, uint32_t(tone.size() / 2), tone);
    m.place({.depth = 1, .character = skyId});
    constexpr int kBlobs = 40;
    std::vector<double> x(kBlobs), y(kBlobs), dx(kBlobs), dy(kBlobs);
    for (int i = 0; i < kBlobs; ++i) {
        x[i] = random() % 1280;
        y[i] = random() % 720;
        dx[i] = int(random() % 11) - 5;
        dy[i] = int(random() % 7) - 3;
    }
    for (int f = 0; f < 240; ++f) {
        for (int i = 0; i < kBlobs; ++i) {
            x[i] += dx[i];
            y[i] += dy[i];
            const auto matrix = w::Matrix::rotate(0.05 * f + i, 1 + 0.3 * std::sin(0.1 * f + i), 1,
                                                  int32_t(x[i] * 20), int32_t(y[i] * 20));
            if (f == 0)
                m.place({.depth = uint16_t(2 + i), .character = blobs[size_t(i) % blobs.size()], .matrix = matrix});
            else
                m.place({.depth = uint16_t(2 + i), .move = true, .matrix = matrix});
        }
        if (f % 24 == 0) m.startSound(toneId);
        m.showFrame();
    }
    m.save(path.toStdString());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray Convert(const char* title, const QString& movie, const QString& output, int workers) {
    formats::TFileOption job;
    QString error;
    if (!conversion::ReadMovieInfo(movie, job.SWFInfo, error)) {
        std::printf("%-8s cannot read %s: %s\n", title, qPrintable(movie), qPrintable(error));
        return {};
    }
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("%1x%2").arg(job.SWFInfo.Width).arg(job.SWFInfo.Height);
    job.Options.OutFileName = QStringLiteral("bench");
    formats::PrepareFileOption(job);
    conversion::OfflineCapture capture(job, output, conversion::CaptureLimits{conversion::EndRule::LastFrame, 0});
    capture.SetRenderWorkers(workers);
    const double cpuBefore = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const conversion::CaptureResult r = capture.Run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    if (!r.Succeeded) {
        std::printf("%-8s failed: %s\n", title, qPrintable(r.Error));
        return {};
    }
    const double seconds = double(r.Duration) / 1e6;
    // Other programs on a shared machine slow the wall clock; the processor time says what two
    // otherwise idle cores could reach at best.
    const double bound = seconds / std::max(cpu / 2, 1e-9);
    std::printf("%-8s %-9s %5lld frames  %6.2f s of movie in %6.2f s: %5.2fx real time  (%s; processor time %.2f s, "
                "%.2f s of it rendering: at most %.2fx on two idle cores)\n",
                title, workers == 1 ? "1 worker" : "per core", static_cast<long long>(r.Frames), seconds, wall,
                seconds / wall, qPrintable(job.Options.Resolution), cpu, r.RenderSeconds, bound);
    std::fflush(stdout);
    QFile file(output);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

// Both worker counts, and whether they wrote the same file.
void ConvertBoth(const char* title, const QString& movie, const QString& output) {
    const QByteArray one = Convert(title, movie, output, 1);
    const QByteArray many = Convert(title, movie, output, 0);
    if (!one.isEmpty() && one != many) std::printf("%-8s the files differ between worker counts\n", title);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString demo = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QCoreApplication::applicationDirPath() + QStringLiteral("/demo/demo.swf");
    engine::FFLoader().SetLibraryPath(engine::ProgramLibraryFolder());
    if (!engine::FFLoader().LoadLibs(engine::AllLibraries)) {
        std::printf("engine not loaded: %s\n", engine::FFLoader().LastError().c_str());
        return 0;
    }
    formats::SetProgramDir(QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
    if (!formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID)) {
        std::printf("the catalogue %s has no default format\n", qPrintable(formats::BuiltInFormatFileName()));
        return 0;
    }
    formats::CurrentOptions.Resolution = QStringLiteral("1280x720");
    QTemporaryDir dir;
    const QString heavy = dir.filePath(QStringLiteral("heavy.swf"));
    WriteHeavyMovie(heavy);
    std::printf("default profile %d (%s, %s) at 1280x720\n", formats::CurrentOptions.FormatID,
                qPrintable(formats::CurrentOptions.VideoCodec), qPrintable(formats::CurrentOptions.AudioCodec));
    if (QFileInfo::exists(demo))
        ConvertBoth("demo", demo, dir.filePath(QStringLiteral("demo.mp4")));
    else
        std::printf("demo     %s not found\n", qPrintable(demo));
    ConvertBoth("heavy", heavy, dir.filePath(QStringLiteral("heavy.mp4")));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    flash::ReleaseFontResources();
    return 0;
}
