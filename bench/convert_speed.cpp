// Converts the demo movie and the generated cartoons (simple, heavy vector, bitmaps, text,
// stream sound; 10 s of 1280x720 at 24 fps) to H.264 with the default profile at 1280x720 and
// 1920x1080 through the offline capture, each conversion in a child process of its own: seconds
// of movie per second of wall time, processor time and the peak memory of that conversion; then
// the ffmpeg program's speed on the same pictures, the encoder's own bound.
//
//   bench_convert_speed [--quick] [--keep FOLDER] [DEMO.swf]
//                                               (default: demo/demo.swf beside the program)
//
// --quick converts the first three seconds of each movie, with a render worker per core only,
// and leaves out the ffmpeg program. --keep writes the movies and the outputs (one a movie and
// size) into FOLDER, to look at them, instead of a temporary folder.
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
#include <cstring>
#include <random>
#include <string>

#include "bench/bench_convert.h"
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


// The encoder's own bound: the same pictures, rendered beforehand into a raw 4:2:0 file, fed to
// the ffmpeg program with the profile's arguments (without sound).
void EncoderBound(const char* title, const QString& movie, const QString& resolution, const QDir& dir) {
    formats::CurrentOptions.Resolution = resolution;
    formats::TFileOption job;
    if (!bench::PrepareJob(movie, job)) return;
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
        std::printf("%-8s %-9s the ffmpeg program failed: %s\n", title, qPrintable(resolution), qPrintable(command));
        return;
    }
    auto seconds = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double movieSeconds = double(frames) / rate.Value();
    const double cpu = seconds(after) - seconds(before);
    std::printf("%-8s %-9s ffmpeg   %6u frames  the encoder alone on the same pictures: %5.2fx real time  (processor "
                "time %.2f s: at most %.2fx on two idle cores)\n",
                title, qPrintable(resolution), frames, movieSeconds / wall, cpu, movieSeconds / std::max(cpu / 2, 1e-9));
    std::fflush(stdout);
}

QByteArray FileHash(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

// Both worker counts (or, quick, a worker per core only), and whether they wrote the same file.
void ConvertBoth(const char* title, const QString& movie, const QString& output, const QString& resolution, bool quick) {
    if (quick) {
        bench::ConvertInChild(title, movie, output, 0, resolution, 72);
        return;
    }
    const bool oneRan = bench::ConvertInChild(title, movie, output, 1, resolution).succeeded;
    const QByteArray one = oneRan ? FileHash(output) : QByteArray();
    const bool manyRan = bench::ConvertInChild(title, movie, output, 0, resolution).succeeded;
    if (oneRan && manyRan && one != FileHash(output))
        std::printf("%-8s %-9s the files differ between worker counts\n", title, qPrintable(resolution));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--convert")) {
        QCoreApplication app(argc, argv);
        const int code = bench::ConvertChildMain(argc, argv);
        flash::ReleaseFontResources();
        return code;
    }
    QCoreApplication app(argc, argv);
    bool quick = false;
    QString keep;
    QString demo = QCoreApplication::applicationDirPath() + QStringLiteral("/demo/demo.swf");
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            quick = true;
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else
            demo = QString::fromLocal8Bit(argv[i]);
    }
    if (!bench::PrepareConversion()) return 0;
    QTemporaryDir temporary;
    if (!keep.isEmpty()) QDir().mkpath(keep);
    const QDir dir(keep.isEmpty() ? temporary.path() : keep);
    struct Generated {
        const char* title;
        w::Movie (*make)();
    };
    const Generated generated[] = {{"simple", [] { return bench::SimpleCartoon(); }},
                                   {"heavy", [] { return bench::HeavyCartoon(); }},
                                   {"bitmaps", [] { return bench::BitmapCartoon(); }},
                                   {"text", [] { return bench::TextCartoon(); }},
                                   {"stream", [] { return bench::StreamSoundCartoon(); }}};
    std::vector<std::pair<std::string, QString>> movies;
    if (QFileInfo::exists(demo))
        movies.emplace_back("demo", demo);
    else
        std::printf("demo     %s not found\n", qPrintable(demo));
    for (const Generated& g : generated) {
        const QString path = dir.filePath(QString::fromLatin1(g.title) + QStringLiteral(".swf"));
        g.make().save(path.toStdString());
        movies.emplace_back(g.title, path);
    }
    std::printf("default profile %d (%s, %s)%s\n", formats::CurrentOptions.FormatID,
                qPrintable(formats::CurrentOptions.VideoCodec), qPrintable(formats::CurrentOptions.AudioCodec),
                quick ? ", quick: the first 3 s of each movie" : "");
    for (const auto& [title, path] : movies)
        for (const QString& resolution : {QStringLiteral("1280x720"), QStringLiteral("1920x1080")}) {
            ConvertBoth(title.c_str(), path,
                        dir.filePath(QString::fromStdString(title) + QLatin1Char('_') + resolution + QStringLiteral(".mp4")),
                        resolution, quick);
            if (!quick) EncoderBound(title.c_str(), path, resolution, dir);
        }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory of the benchmark itself (the encoder bound's rendering) %.1f MiB\n",
                double(usage.ru_maxrss) / 1024.0);
    flash::ReleaseFontResources();
    return 0;
}
