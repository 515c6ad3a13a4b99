// Converts the demo movie and a heavy generated cartoon to 1280x720 H.264 with the default
// profile through the offline capture, and prints seconds of movie per second of wall time and
// the peak memory of the process; then the ffmpeg program's speed on the same pictures, the
// encoder's own bound.
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
#include <cstdlib>
#include <random>
#include <string>

#include "bench/bench_movies.h"
#include "app/core/app_core.h"
#include "conversion/conversion.h"
#include "conversion/offline_capture.h"
#include "conversion/planar_picture.h"
#include "engine/library_loader.h"
#include "flash/player.h"
#include "flash/render/render.h"
#include "formats/core/formats_core.h"
#include "testing/swfwriter/swfwriter.h"

namespace w = qm::swfwriter;
using namespace qm;

namespace {

void WriteHeavyMovie(const QString& path) { bench::HeavyCartoon().save(path.toStdString()); }

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

// The encoder's own bound: the same pictures, rendered beforehand into a raw 4:2:0 file, fed to
// the ffmpeg program with the profile's arguments (without sound).
void EncoderBound(const char* title, const QString& movie, const QTemporaryDir& dir) {
    formats::TFileOption job;
    QString error;
    if (!conversion::ReadMovieInfo(movie, job.SWFInfo, error)) return;
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("%1x%2").arg(job.SWFInfo.Width).arg(job.SWFInfo.Height);
    job.Options.OutFileName = QStringLiteral("bench");
    formats::PrepareFileOption(job);
    int32_t width = 0, height = 0;
    try {
        app::ParseSize(job.Options.FitSize, width, height);
    } catch (const app::ConversionError&) {
        return;
    }
    flash::LoadResult loaded = flash::Player::LoadFile(movie.toStdString());
    if (!loaded.player || width <= 0 || height <= 0) return;
    flash::Player& player = *loaded.player;
    player.SetLoop(false);
    flash::Renderer renderer(player.Characters(), player.Version());
    renderer.SetQuality(flash::Quality::High);
    const conversion::PlanarConverter converter(width, height);
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4), planar(converter.FrameSize());
    const QString raw = dir.filePath(QStringLiteral("pictures.yuv"));
    QFile file(raw);
    if (!file.open(QIODevice::WriteOnly)) return;
    const uint32_t frames = player.TotalFrames();
    for (uint32_t f = 0; f < frames; ++f) {
        player.Advance();
        renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(),
                        flash::RenderTarget{pixels.data(), width, height, width * 4});
        converter.Convert(pixels.data(), width * 4, planar.data());
        file.write(reinterpret_cast<const char*>(planar.data()), qint64(planar.size()));
    }
    file.close();
    QString arguments;
    formats::AppendProfileArguments(job, arguments);
    const QString chain = conversion::ScaleChain(job);
    const conversion::MovieRate rate = conversion::RateOfMovie(player.Header().frame_rate);
    const QString command = QStringLiteral("ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s %1x%2 -r %3 -i '%4' -an%5%6 '%7'")
                                .arg(width)
                                .arg(height)
                                .arg(rate.Text(), raw, arguments,
                                     chain.isEmpty() ? QString() : QStringLiteral(" -vf ") + chain,
                                     dir.filePath(QStringLiteral("program.mp4")));
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.toLocal8Bit().constData());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);
    QFile::remove(raw);
    if (status != 0) {
        std::printf("%-8s the ffmpeg program failed: %s\n", title, qPrintable(command));
        return;
    }
    auto seconds = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double movieSeconds = double(frames) / rate.Value();
    const double cpu = seconds(after) - seconds(before);
    std::printf("%-8s ffmpeg   %5u frames  the encoder alone on the same pictures: %5.2fx real time  (processor "
                "time %.2f s: at most %.2fx on two idle cores)\n",
                title, frames, movieSeconds / wall, cpu, movieSeconds / std::max(cpu / 2, 1e-9));
    std::fflush(stdout);
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
    if (QFileInfo::exists(demo)) {
        ConvertBoth("demo", demo, dir.filePath(QStringLiteral("demo.mp4")));
        EncoderBound("demo", demo, dir);
    } else {
        std::printf("demo     %s not found\n", qPrintable(demo));
    }
    ConvertBoth("heavy", heavy, dir.filePath(QStringLiteral("heavy.mp4")));
    EncoderBound("heavy", heavy, dir);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
    flash::ReleaseFontResources();
    return 0;
}
