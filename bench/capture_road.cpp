// The real-time capture's two encodes, without the capture's pacing, against the ffmpeg program
// doing the same two encodes on the same pictures and sound:
//  1. the capture window's task: the movie's pictures, drawn beforehand at the capture size as
//     the player paints them into the frame input's bgr24 canvas, into the intermediate MPEG-4
//     at 20000 kbit/s (the capture's own input and output options, without -re);
//  2. the conversion window's main run: that intermediate and the captured sound (a WAV file)
//     into the default profile at 1280x720 (its pad/scale chain, H.264 and AAC), cut to the
//     video's duration.
// Each side runs each stage several times and keeps its best wall and processor times, so the
// ratios hold on a shared machine as far as anything does.
//
//   bench_capture_road [--rounds N] [--frames N] [--keep FOLDER] [demo | heavy | MOVIE.swf ...]
//                                 (default: the demo beside the program and the heavy cartoon)
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_convert.h"
#include "bench/bench_movies.h"
#include "conversion/capture_rules.h"
#include "conversion/conversion.h"
#include "conversion/offline_capture.h"
#include "engine/engine.h"
#include "flash/player.h"
#include "flash/render/render.h"
#include "formats/core/formats_core.h"

using namespace qm;

namespace {

struct Times {
    double wall = 1e30, cpu = 1e30;
    void Keep(double w, double c) {
        wall = std::min(wall, w);
        cpu = std::min(cpu, c);
    }
};

double Processor(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return bench::Seconds(usage.ru_utime, usage.ru_stime);
}

// Measures `work` by the wall clock and by the processor time of this process (engine runs) or
// of its children (the ffmpeg program).
template <typename Work>
bool Measure(Times& times, int who, Work work) {
    const double cpuBefore = Processor(who);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = work();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ok) times.Keep(wall, Processor(who) - cpuBefore);
    return ok;
}

QString Quoted(const QString& path) { return QLatin1Char('\'') + path + QLatin1Char('\''); }

bool RunProgram(const QString& command) {
    const int status = std::system(command.toLocal8Bit().constData());
    if (status != 0) std::printf("  the ffmpeg program failed: %s\n", qPrintable(command));
    return status == 0;
}

// The engine's option texts in the ffmpeg program's spelling: "-b" alone would set the sound's
// rate as well there, where the engine keeps "-b:a" for the sound.
QString ForProgram(QString options) {
    options.replace(QStringLiteral(" -b "), QStringLiteral(" -b:v "));
    return options;
}

void WriteWav(QFile& file, const std::vector<int16_t>& samples) {
    auto put32 = [&](uint32_t v) { file.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](uint16_t v) { file.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = uint32_t(samples.size() * 2);
    file.write("RIFF", 4);
    put32(36 + bytes);
    file.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(2);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(16);
    file.write("data", 4);
    put32(bytes);
    file.write(reinterpret_cast<const char*>(samples.data()), qint64(bytes));
}

// The pictures as the capture window hands them to the engine (bgr24 rows at the capture size),
// and the movie's sound as the capture records it. Returns the frames written.
int Prepare(const QString& movie, int width, int height, int frameLimit, const QString& pictures, const QString& wav) {
    flash::LoadResult loaded = flash::Player::LoadFile(movie.toStdString());
    if (!loaded.player) return 0;
    flash::Player& player = *loaded.player;
    player.SetLoop(false);
    flash::Renderer renderer(player.Characters(), player.Version());
    renderer.SetQuality(flash::Quality::High);
    std::vector<uint8_t> bgra(size_t(width) * size_t(height) * 4), row(size_t(width) * 3);
    std::vector<int16_t> sound, mix;
    QFile file(pictures);
    if (!file.open(QIODevice::WriteOnly)) return 0;
    const int frames = int(std::min<uint32_t>(player.TotalFrames(), uint32_t(frameLimit)));
    for (int f = 0; f < frames; ++f) {
        player.Advance();
        renderer.Render(player.RootObject(), player.StageRect(), player.BackgroundColor(),
                        flash::RenderTarget{bgra.data(), width, height, width * 4});
        for (int y = 0; y < height; ++y) {
            const uint8_t* p = bgra.data() + size_t(y) * size_t(width) * 4;
            for (int x = 0; x < width; ++x) std::memcpy(&row[size_t(x) * 3], p + size_t(x) * 4, 3);
            file.write(reinterpret_cast<const char*>(row.data()), qint64(row.size()));
        }
        const size_t count = size_t(player.SoundSamplesBefore(uint64_t(f) + 1) - player.SoundSamplesBefore(uint64_t(f)));
        mix.assign(count * 2, 0);
        if (count > 0) player.Mix(mix.data(), count);
        sound.insert(sound.end(), mix.begin(), mix.end());
    }
    QFile out(wav);
    if (!out.open(QIODevice::WriteOnly)) return 0;
    WriteWav(out, sound);
    return frames;
}

// Stage 1 through the engine: the capture window's task, its canvas filled from the pictures.
bool EngineCapture(const formats::TFileOption& job, const QString& rateText, const QString& pictures,
                   const QString& output, int width, int height) {
    QFile source(pictures);
    if (!source.open(QIODevice::ReadOnly)) return false;
    engine::TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    adapter.OnReadFrameCanvas = [&](engine::TFrameInputAdapter*, engine::TFrameImage* canvas, engine::TInputFrameInfo*) {
        for (int y = 0; y < height; ++y) {
            char* row = reinterpret_cast<char*>(canvas->Bits + size_t(y) * size_t(canvas->Stride));
            if (source.read(row, qint64(width) * 3) != qint64(width) * 3) return -1;
        }
        return 0;
    };
    engine::TFFEncoder encoder;
    encoder.TriggerEventInMainThread = false;
    bool failed = false;
    encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) { failed |= t.Failed; };
    engine::TInputOptions in;
    // The capture paces itself by the clock; here the engine takes the pictures as fast as it can.
    in.Options = conversion::CaptureInputOptions(rateText, job.Options.FitSize).replace(QStringLiteral(" -re"), QString()).toStdString();
    formats::TFileOption copy = job;
    engine::TOutputOptions out;
    out.Options = conversion::CaptureOutputOptions(copy).toStdString();
    if (encoder.AddTask(adapter.InputName(), &in) < 0 || encoder.SetOutput(0, output.toStdString(), &out) < 0) {
        std::printf("  the capture task was refused: %s\n", encoder.LastErrorMessage().c_str());
        return false;
    }
    encoder.StartTask(0);
    return !failed;
}

// Stage 2 through the engine: the conversion window's main run.
bool EngineMerge(const formats::TFileOption& job, const QString& video, const QString& wav, const QString& folder,
                 const QString& name) {
    formats::TFileOption copy = job;
    copy.Options.OutFileName = name;
    conversion::MergeRun run;
    run.VideoFile = video;
    run.WavFile = wav;
    run.OutputFolder = folder;
    run.OverWrite = true;
    engine::TFFEncoder encoder;
    encoder.TriggerEventInMainThread = false;
    bool failed = false;
    encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) { failed |= t.Failed; };
    if (!conversion::AddMergeTask(encoder, copy, run)) {
        std::printf("  the main run was refused: %s\n", qPrintable(run.Error));
        return false;
    }
    encoder.StartTask(0);
    return !failed;
}

void Road(const std::string& title, const QString& movie, const QDir& dir, int rounds, int frameLimit) {
    formats::CurrentOptions.Resolution = QStringLiteral("1280x720");
    formats::TFileOption job;
    if (!bench::PrepareJob(movie, job)) return;
    int32_t width = 0, height = 0;
    try {
        app::ParseSize(job.Options.FitSize, width, height);
    } catch (const app::ConversionError&) {
        return;
    }
    const QString t = QString::fromStdString(title);
    const QString pictures = dir.filePath(t + QStringLiteral("_pictures.bgr"));
    const QString wav = dir.filePath(t + QStringLiteral("_sound.wav"));
    const int frames = Prepare(movie, width, height, frameLimit, pictures, wav);
    if (frames <= 0) {
        std::printf("%-8s cannot draw the movie\n", title.c_str());
        return;
    }
    const QString rateText = conversion::EngineFrameRateText(job.SWFInfo.FrameRate);
    const QString engineVideo = dir.filePath(t + QStringLiteral("_engine_capture.mp4"));
    const QString programVideo = dir.filePath(t + QStringLiteral("_program_capture.mp4"));
    const QString programOutput = dir.filePath(t + QStringLiteral("_program") + job.Options.FileExt);

    // The ffmpeg program's second stage takes the options the engine's main run is given, for the
    // intermediate it made itself.
    engine::TFFDecoder info;
    formats::TFileOption programJob = job;
    Times engine1, engine2, program1, program2;
    for (int round = 0; round < rounds; ++round) {
        if (!Measure(engine1, RUSAGE_SELF, [&] { return EngineCapture(job, rateText, pictures, engineVideo, width, height); }))
            return;
        if (!Measure(engine2, RUSAGE_SELF, [&] { return EngineMerge(job, engineVideo, wav, dir.path(), t + QStringLiteral("_engine")); }))
            return;
        formats::TFileOption captureJob = job;
        const QString capture = QStringLiteral("ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s %1 -r %2 -i %3 %4 %5")
                                    .arg(job.Options.FitSize, rateText, Quoted(pictures),
                                         conversion::CaptureOutputOptions(captureJob).simplified(), Quoted(programVideo));
        if (!Measure(program1, RUSAGE_CHILDREN, [&] { return RunProgram(capture); })) return;
        const int64_t duration = conversion::MediaDuration(info, programVideo);
        const QString options = conversion::MainOutputOptions(programJob, conversion::ConversionFilterGraph(programJob),
                                                              duration, 0, 0);
        const QString merge = QStringLiteral("ffmpeg -v error -y -i %1 -i %2 %3 %4")
                                  .arg(Quoted(programVideo), Quoted(wav), ForProgram(options).simplified(), Quoted(programOutput));
        if (!Measure(program2, RUSAGE_CHILDREN, [&] { return RunProgram(merge); })) return;
    }
    QFile::remove(pictures);
    const double seconds = frames / std::max(rateText.toDouble(), 1e-9);
    auto line = [&](const char* stage, const Times& e, const Times& p) {
        std::printf("%-8s %-34s engine %6.2f s (processor %6.2f s)  ffmpeg program %6.2f s (processor %6.2f s)  "
                    "ratio %.2f (processor %.2f)\n",
                    title.c_str(), stage, e.wall, e.cpu, p.wall, p.cpu, e.wall / p.wall, e.cpu / p.cpu);
    };
    std::printf("%-8s %d frames (%.2f s) at %s, best of %d\n", title.c_str(), frames, seconds,
                qPrintable(job.Options.FitSize), rounds);
    line("1 capture: mpeg4 20000k", engine1, program1);
    line("2 main run: default profile 720p", engine2, program2);
    Times both, programBoth;
    both.Keep(engine1.wall + engine2.wall, engine1.cpu + engine2.cpu);
    programBoth.Keep(program1.wall + program2.wall, program1.cpu + program2.cpu);
    line("both stages", both, programBoth);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int rounds = 3, frameLimit = 240;
    QString keep;
    std::vector<std::pair<std::string, QString>> movies;
    QTemporaryDir temporary;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
            frameLimit = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else
            movies.emplace_back(QFileInfo(QString::fromLocal8Bit(argv[i])).completeBaseName().toStdString(),
                                QString::fromLocal8Bit(argv[i]));
    }
    if (!bench::PrepareConversion()) return 0;
    engine::RegisterFrameInputFormat();
    engine::TFFLogger logger;
    logger.SetLogLevel(engine::llError);
    logger.SetOnLog([](void*, std::uint32_t, engine::TLogLevel, const std::string&) {});
    if (!keep.isEmpty()) QDir().mkpath(keep);
    const QDir dir(keep.isEmpty() ? temporary.path() : keep);
    if (movies.empty()) movies = {{"demo", QStringLiteral("demo")}, {"heavy", QStringLiteral("heavy")}};
    for (auto& [title, path] : movies) {
        if (path == QLatin1String("demo")) {
            path = QCoreApplication::applicationDirPath() + QStringLiteral("/demo/demo.swf");
        } else if (path == QLatin1String("heavy")) {
            path = dir.filePath(QStringLiteral("heavy.swf"));
            bench::HeavyCartoon().save(path.toStdString());
        }
        if (!QFileInfo::exists(path)) {
            std::printf("%-8s %s not found\n", title.c_str(), qPrintable(path));
            continue;
        }
        Road(title, path, dir, rounds, frameLimit);
    }
    flash::ReleaseFontResources();
    return 0;
}
