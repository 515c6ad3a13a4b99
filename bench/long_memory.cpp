// Whether memory stays bounded on long movies: converts a generated cartoon with stream sound
// of 1 minute and of 30 minutes (movie time, 320x240 at 24 fps, so it takes minutes) with the
// default profile at its own size, each in a child process, and prints both peaks and whether
// the long one's growth is bounded.
//
//   bench_long_memory [--quick] [--silent] [--keep FOLDER]
//
// --quick compares 1 minute with 5 minutes. --silent leaves the sound out, to tell whether the
// pictures or the sound hold the memory. --keep writes the movies and outputs into FOLDER
// (to look at them with ffprobe) instead of a temporary folder.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include "bench/bench_convert.h"
#include "bench/bench_movies.h"
#include "flash/player.h"
#include "flash/render/render.h"

using namespace qm;

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--convert")) {
        QCoreApplication app(argc, argv);
        const int code = bench::ConvertChildMain(argc, argv);
        flash::ReleaseFontResources();
        return code;
    }
    QCoreApplication app(argc, argv);
    bool quick = false, sound = true;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--quick"))
            quick = true;
        else if (!std::strcmp(argv[i], "--silent"))
            sound = false;
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
    }
    if (!bench::PrepareConversion()) return 0;
    QTemporaryDir temporary;
    if (!keep.isEmpty()) QDir().mkpath(keep);
    const QDir dir(keep.isEmpty() ? temporary.path() : keep);
    constexpr int kWidth = 320, kHeight = 240;
    const int lengths[2] = {60, quick ? 5 * 60 : 30 * 60};
    double peaks[2] = {0, 0}, sizes[2] = {0, 0};
    bool ran = true;
    for (int k = 0; k < 2; ++k) {
        const QString name = QStringLiteral("long_%1s").arg(lengths[k]);
        const QString movie = dir.filePath(name + QStringLiteral(".swf"));
        bench::StreamSoundCartoon(lengths[k], kWidth, kHeight, 6, true, sound).save(movie.toStdString());
        sizes[k] = double(QFileInfo(movie).size()) / (1024.0 * 1024.0);
        const std::string title = std::to_string(lengths[k] / 60) + (sound ? " min" : " min silent");
        // The frame limit is the movie's length, so the run is not cut at the safety limit.
        const bench::ChildResult r = bench::ConvertInChild(title.c_str(), movie, dir.filePath(name + QStringLiteral(".mp4")), 0,
                                                           QStringLiteral("%1x%2").arg(kWidth).arg(kHeight),
                                                           int64_t(lengths[k]) * 24);
        ran = ran && r.succeeded;
        peaks[k] = r.peakMiB;
        std::printf("%-8s movie file %.2f MiB\n", title.c_str(), sizes[k]);
    }
    if (!ran) {
        std::printf("a conversion failed: no comparison\n");
        return 0;
    }
    // Holding the movie file itself is expected; beyond it, a few MiB of slack for allocator noise.
    const double growth = peaks[1] - peaks[0];
    const double allowed = (sizes[1] - sizes[0]) * 2 + 8;
    std::printf("peak memory %.1f MiB for %d min, %.1f MiB for %d min: %+.1f MiB (%.2fx); %s (allowed: twice the "
                "larger file's extra size + 8 MiB = %.1f MiB)\n",
                peaks[0], lengths[0] / 60, peaks[1], lengths[1] / 60, growth, peaks[1] / std::max(peaks[0], 1e-9),
                growth <= allowed ? "bounded" : "GROWS with the movie's length", allowed);
    flash::ReleaseFontResources();
    return 0;
}
