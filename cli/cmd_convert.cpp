// quellmark-cli convert MOVIE... [options]
// Converts each movie into one output file with the offline capture: every frame rendered at its
// own time, with exactly its sound, straight into the chosen format.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "conversion/offline_capture.h"
#include "engine/library_loader.h"
#include "flash/render/render.h"
#include "formats/core/formats_core.h"

namespace qm::cli {

namespace {

using namespace qm::formats;
using conversion::CaptureLimits;
using conversion::EndRule;

const char kUsage[] =
    "Usage: quellmark-cli convert MOVIE... [options]\n"
    "  --format ID|NAME        catalogue format (default: the stored default profile, else 1004)\n"
    "  --output-dir DIR        folder of the outputs (default: the current folder)\n"
    "  -o FILE                 output file (one movie only)\n"
    "  --resolution WxH|keep   output size\n"
    "  --fps RATE|keep         output frame rate\n"
    "  --video-codec NAME      h.264, MPEG-4, Xvid, ... (see `quellmark-cli formats`)\n"
    "  --video-bitrate KBIT|auto\n"
    "  --audio-codec NAME      aac, mp3, ...\n"
    "  --audio-bitrate KBIT   --sample-rate HZ   --channels N   --no-audio\n"
    "  --crop X,Y,W,H          crop area in movie pixels\n"
    "  --watermark FILE        picture laid over the video, with\n"
    "  --watermark-rect X,Y,W,H  its place in movie pixels, and --opacity PERCENT (default 100)\n"
    "  --audio FILE [--loop]   replace the movie's sound (repeated with --loop)\n"
    "  --frames N | --duration SECONDS   length limit\n"
    "  --end last|stall|frames when the movie ends: at its last frame; at the last frame or after\n"
    "                          one second without change (default); only at the limit\n"
    "  --overwrite             replace existing files instead of numbering new ones\n"
    "  --jobs N                movies converted at once (default 1)\n"
    "  --json                  print a summary as JSON\n"
    "A movie that never ends stops after 600 seconds unless --frames or --duration is given.\n";

int Usage(const std::string& why) {
    std::fprintf(stderr, "quellmark-cli convert: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ParseLong(const std::string& text, long min, long max, long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max) return false;
    out = v;
    return true;
}

bool ParseRect(const std::string& text, app::TRect& r) {
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() != 4) return false;
    long v[4];
    for (int i = 0; i < 4; ++i)
        if (!ParseLong(parts[i].trimmed().toStdString(), i < 2 ? 0 : 1, 100000, v[i])) return false;
    r = app::TRect{int32_t(v[0]), int32_t(v[1]), int32_t(v[0] + v[2]), int32_t(v[1] + v[3])};
    return true;
}

bool IsKeep(const std::string& v) { return v == "keep" || v == "Keep original"; }

struct Request {
    std::string format;
    std::string outputDir, output;
    std::optional<std::string> resolution, fps, videoCodec, audioCodec, videoBitRate, audioBitRate;
    std::optional<long> sampleRate, channels;
    bool noAudio = false;
    std::optional<app::TRect> crop, watermarkRect;
    std::string watermark;
    long opacity = 100;
    std::string audio;
    bool loop = false;
    long frames = 0;
    double duration = 0;
    EndRule end = EndRule::Stall;
    bool overwrite = false;
    long jobs = 1;
    bool json = false;
    std::vector<std::string> movies;
};

// The stored default profile, else format 1004; then a chosen format; then the options.
bool BuildProfile(const Request& q, QString& error) {
    LoadFormatCatalogue();
    if (!q.format.empty()) {
        long id = 0;
        int32_t found = -1;
        if (ParseLong(q.format, 1, 1000000, id)) {
            found = int32_t(id);
        } else {
            const QString name = QString::fromStdString(q.format);
            for (const TFormatList* list : {&BuiltInFormats, &UserFormats})
                for (const TFormatInfo& f : *list)
                    if (found < 0 && f.Name.compare(name, Qt::CaseInsensitive) == 0) found = f.ID;
        }
        TFormatInfo format;
        if (found < 0 || !FindFormat(found, format) || !OptionsFromFormat(CurrentOptions, found)) {
            error = QStringLiteral("no format \"%1\" in the catalogue (see quellmark-cli formats)")
                        .arg(QString::fromStdString(q.format));
            return false;
        }
        if (const QStringList missing = MissingEncoders(format); !missing.isEmpty()) {
            error = QStringLiteral("format %1 (%2) cannot be made: the engine has no encoder %3")
                        .arg(format.ID)
                        .arg(format.Name, missing.join(QStringLiteral(", ")));
            return false;
        }
    } else if (CurrentOptions.FormatID < 0 || CurrentOptions.FileExt.isEmpty()) {
        if (!OptionsFromFormat(CurrentOptions, DefaultFormatID)) {
            error = QStringLiteral("the format catalogue %1 cannot be read").arg(BuiltInFormatFileName());
            return false;
        }
    }
    TVCOutPutOptions& c = CurrentOptions;
    // The format window's checks, against the format in use, so a value is refused here exactly
    // when the window would refuse it; values not given are "Keep original", which always passes.
    TFormatInfo shown;
    if (!FindFormat(c.FormatID, shown)) {
        shown = TFormatInfo{};
        shown.VideoEncoder = c.DisableVideo ? QString() : c.VideoCodec;
    }
    const auto text = [](const std::optional<std::string>& v) {
        if (!v) return KeepOriginal;
        if (IsKeep(*v)) return KeepOriginal;
        return QString::fromStdString(*v);
    };
    TFormatValues values;
    values.Resolution = text(q.resolution);
    values.FrameRate = text(q.fps);
    values.VideoBitRate = q.videoBitRate && *q.videoBitRate == "auto" ? QStringLiteral("Auto") : text(q.videoBitRate);
    values.AudioBitRate = q.audioBitRate ? QString::fromStdString(*q.audioBitRate) : KeepOriginal;
    if (const TFormatValueCheck check = ValidateFormatValues(shown, values); !check.Passed()) {
        error = check.Message;
        error.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        return false;
    }
    // The window's own reading of the rate: "25 fps" and an offered "10 fps" both mean their number.
    TVCOutPutOptions taken = c;
    TakeFormatValues(shown, values, taken, nullptr);
    if (q.resolution) c.Resolution = values.Resolution;
    if (q.fps) c.FrameRate = values.FrameRate == KeepOriginal ? KeepOriginal : taken.FrameRate;
    if (q.videoCodec) c.VideoCodec = QString::fromStdString(*q.videoCodec);
    if (q.videoBitRate) {
        const int32_t kbit = LeadingNumber(values.VideoBitRate);
        const bool automatic = values.VideoBitRate == QStringLiteral("Auto") || values.VideoBitRate == KeepOriginal;
        // Beyond this the encoder's bit/s would overflow.
        if (!automatic && kbit > 1000000) {
            error = QStringLiteral("--video-bitrate must be kbit/s up to 1000000, or auto");
            return false;
        }
        c.VideoBitRate = automatic ? -1 : kbit;
    }
    if (q.audioCodec) c.AudioCodec = QString::fromStdString(*q.audioCodec);
    if (q.audioBitRate) {
        const int32_t kbit = LeadingNumber(values.AudioBitRate);
        if (kbit < 1 || kbit > 10000) {
            error = QStringLiteral("--audio-bitrate must be kbit/s from 1 to 10000");
            return false;
        }
        c.AudioBitRate = kbit;
    }
    if (q.sampleRate) c.SampleRate = int32_t(*q.sampleRate);
    if (q.channels) c.Channels = int32_t(*q.channels);
    c.AudioDisabled = q.noAudio;
    if (!c.DisableVideo && VideoEncoderName(c.VideoCodec).isEmpty()) {
        error = QStringLiteral("unknown video codec \"%1\"").arg(c.VideoCodec);
        return false;
    }
    if (!c.AudioDisabled && AudioEncoderName(c.AudioCodec).isEmpty()) {
        error = QStringLiteral("unknown audio codec \"%1\"").arg(c.AudioCodec);
        return false;
    }
    return true;
}

struct Outcome {
    std::string movie;
    QString output;
    bool ok = false;
    QString error;
    QStringList warnings;
    int64_t frames = 0, duration = 0;
};

class ProgressView {
public:
    ProgressView(size_t count, bool bar) : fractions_(count, 0.0), bar_(bar) {}
    void Set(size_t index, double fraction) {
        std::lock_guard<std::mutex> guard(lock_);
        fractions_[index] = fraction;
        if (bar_) Draw();
    }
    void Line(std::FILE* to, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        if (bar_) std::fprintf(stderr, "\r\033[K");
        std::fprintf(to, "%s\n", text.c_str());
        std::fflush(to);
        if (bar_) Draw();
    }
    void Finish() {
        std::lock_guard<std::mutex> guard(lock_);
        if (bar_) std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }

private:
    void Draw() {
        double sum = 0;
        for (double f : fractions_) sum += f;
        const double total = fractions_.empty() ? 1 : sum / double(fractions_.size());
        const int width = 30, filled = int(std::lround(total * width));
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(width - filled), '.').c_str(), int(std::lround(total * 100)));
        std::fflush(stderr);
    }
    std::mutex lock_;
    std::vector<double> fractions_;
    bool bar_;
};

// Ctrl-C ends the conversions under way with valid, shorter files; a second one ends the program.
std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) { gInterrupted = true; }

}  // namespace

int RunConvert(const Args& args) {
    Request q;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        auto number = [&](long min, long max, long& out) -> bool {
            const auto v = value();
            return v && ParseLong(*v, min, max, out);
        };
        long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--format" || a == "--output-dir" || a == "-o" || a == "--resolution" || a == "--fps" ||
                   a == "--video-codec" || a == "--audio-codec" || a == "--watermark" || a == "--audio" ||
                   a == "--end" || a == "--crop" || a == "--watermark-rect" || a == "--duration") {
            const auto v = value();
            if (!v || v->empty()) return Usage(a + " needs a value");
            if (a == "--format") q.format = *v;
            else if (a == "--output-dir") q.outputDir = *v;
            else if (a == "-o") q.output = *v;
            // Checked against the chosen format once it is known, as the format window checks them.
            else if (a == "--resolution") q.resolution = *v;
            else if (a == "--fps") q.fps = *v;
            else if (a == "--video-codec") q.videoCodec = *v;
            else if (a == "--audio-codec") q.audioCodec = *v;
            else if (a == "--watermark") q.watermark = *v;
            else if (a == "--audio") q.audio = *v;
            else if (a == "--end") {
                if (*v == "last") q.end = EndRule::LastFrame;
                else if (*v == "stall") q.end = EndRule::Stall;
                else if (*v == "frames") q.end = EndRule::Frames;
                else return Usage("--end must be last, stall or frames");
            } else if (a == "--crop" || a == "--watermark-rect") {
                app::TRect r;
                if (!ParseRect(*v, r)) return Usage(a + " must be X,Y,W,H in whole pixels");
                (a == "--crop" ? q.crop : q.watermarkRect) = r;
            } else if (a == "--duration") {
                char* end = nullptr;
                q.duration = std::strtod(v->c_str(), &end);
                if (*end || !(q.duration > 0 && q.duration <= 86400)) return Usage("--duration must be seconds from 0 to 86400");
            }
        } else if (a == "--video-bitrate" || a == "--audio-bitrate") {
            const auto v = value();
            if (!v || v->empty()) return Usage(a + " needs a value");
            (a == "--video-bitrate" ? q.videoBitRate : q.audioBitRate) = *v;
        } else if (a == "--sample-rate") {
            if (!number(1000, 384000, n)) return Usage("--sample-rate must be Hz");
            q.sampleRate = n;
        } else if (a == "--channels") {
            if (!number(1, 8, n)) return Usage("--channels must be 1 to 8");
            q.channels = n;
        } else if (a == "--opacity") {
            if (!number(0, 100, q.opacity)) return Usage("--opacity must be 0 to 100");
        } else if (a == "--frames") {
            if (!number(1, 100000000, q.frames)) return Usage("--frames must be a whole number of frames");
        } else if (a == "--jobs") {
            if (!number(1, 64, q.jobs)) return Usage("--jobs must be 1 to 64");
        } else if (a == "--no-audio") {
            q.noAudio = true;
        } else if (a == "--loop") {
            q.loop = true;
        } else if (a == "--overwrite") {
            q.overwrite = true;
        } else if (a == "--json") {
            q.json = true;
        } else if (!a.empty() && a[0] == '-') {
            return Usage("unknown option \"" + a + "\"");
        } else {
            q.movies.push_back(a);
        }
    }
    if (q.movies.empty()) return Usage("no movie given");
    if (!q.output.empty() && q.movies.size() > 1) return Usage("-o takes one movie only; use --output-dir");
    if (q.frames > 0 && q.duration > 0) return Usage("--frames and --duration exclude each other");
    if (q.watermark.empty() != !q.watermarkRect) return Usage("--watermark and --watermark-rect go together");
    if (q.loop && q.audio.empty()) return Usage("--loop needs --audio");
    if (!q.watermark.empty() && !QFileInfo(QString::fromStdString(q.watermark)).isFile())
        return Usage("the watermark picture \"" + q.watermark + "\" does not exist");
    if (!q.audio.empty() && !QFileInfo(QString::fromStdString(q.audio)).isFile())
        return Usage("the sound file \"" + q.audio + "\" does not exist");
    QString outputDir = q.outputDir.empty() ? QDir::currentPath() : QString::fromStdString(q.outputDir);
    if (!QFileInfo(outputDir).isDir()) return Usage("the output folder \"" + outputDir.toStdString() + "\" does not exist");
    // Refused before anything is captured, not after minutes of work.
    const QString outputFolder = q.output.empty() ? outputDir : QFileInfo(QString::fromStdString(q.output)).absolutePath();
    if (const QString why = conversion::OutputFolderProblem(outputFolder); !why.isEmpty()) {
        std::fprintf(stderr, "quellmark-cli convert: %s\n", why.toLocal8Bit().constData());
        return 1;
    }

    // The engine beside the program, else the system's.
    engine::TFFLoader& loader = engine::FFLoader();
    if (loader.LibraryPath().empty()) loader.SetLibraryPath((ProgramDir() + QStringLiteral("LibAV")).toStdString());
    if (!loader.LoadLibs(engine::AllLibraries)) {
        std::fprintf(stderr, "quellmark-cli convert: the engine could not be loaded: %s\n", loader.LastError().c_str());
        return 1;
    }
    if (app::DataDir.isEmpty()) app::DataDir = app::GetPersonalFolder() + QStringLiteral("Brelvik/Quellmark Converter/");
    QString error;
    if (!BuildProfile(q, error)) return Usage(error.toStdString());

    // Jobs and their output names, chosen before any starts so parallel jobs never pick the same.
    std::vector<Outcome> outcomes(q.movies.size());
    std::vector<std::optional<conversion::OfflineCapture>> captures(q.movies.size());
    QSet<QString> chosen;
    CaptureLimits limits;
    limits.End = q.end;
    for (size_t i = 0; i < q.movies.size(); ++i) {
        Outcome& out = outcomes[i];
        out.movie = q.movies[i];
        const QString movie = QString::fromStdString(q.movies[i]);
        TFileOption job;
        if (!conversion::ReadMovieInfo(movie, job.SWFInfo, error)) {
            out.error = error;
            continue;
        }
        ClearOptions(job.Options);
        job.Options.SourceSize = QStringLiteral("%1x%2").arg(job.SWFInfo.Width).arg(job.SWFInfo.Height);
        job.Options.OutFileName = app::FileNameNoExt(movie);
        try {
            PrepareFileOption(job);
        } catch (const app::ConversionError& e) {
            out.error = QStringLiteral("Cannot do convert, error: ") + e.text();
            continue;
        }
        auto& o = job.Options;
        if (q.crop) {
            const app::TRect& r = *q.crop;
            if (r.right > job.SWFInfo.Width || r.bottom > job.SWFInfo.Height) {
                out.error = QStringLiteral("the crop area %1,%2,%3,%4 does not lie within the %5x%6 stage")
                                .arg(r.left)
                                .arg(r.top)
                                .arg(r.width())
                                .arg(r.height())
                                .arg(job.SWFInfo.Width)
                                .arg(job.SWFInfo.Height);
                continue;
            }
            o.CropEnabled = true;
            o.CropRect = r;
        }
        if (!q.watermark.empty()) {
            o.WatermarkKind = 1;
            o.WaterMark.ImageFile = QFileInfo(QString::fromStdString(q.watermark)).absoluteFilePath();
            o.WaterMark.Rect = *q.watermarkRect;
            o.WaterMark.Opacity = int32_t(q.opacity);
        }
        if (!q.audio.empty()) {
            o.ReplaceAudioMode = q.loop ? 2 : 1;
            o.ReplaceAudioFile = QFileInfo(QString::fromStdString(q.audio)).absoluteFilePath();
        }
        if (!q.output.empty()) {
            out.output = QFileInfo(QString::fromStdString(q.output)).absoluteFilePath();
            if (!q.overwrite) out.output = app::UniqueFileName(out.output);
        } else {
            out.output = conversion::OutputFilePath(job, outputDir, q.overwrite);
            if (!q.overwrite) {
                QString candidate = out.output;
                for (int n = 1; chosen.contains(candidate); ++n)
                    candidate = app::UniqueFileName(QDir(outputDir).filePath(
                        QStringLiteral("%1(%2)%3").arg(o.OutFileName).arg(n).arg(o.FileExt)));
                out.output = candidate;
            }
        }
        chosen.insert(out.output);
        CaptureLimits own = limits;
        if (q.frames > 0) own.FrameLimit = q.frames;
        if (q.duration > 0) {
            bool ok = false;
            const double movieRate = job.SWFInfo.FrameRate.toDouble(&ok);
            own.FrameLimit = std::max<int64_t>(1, std::llround(q.duration * (ok && movieRate > 0 ? movieRate : 1)));
        }
        captures[i].emplace(job, out.output, own);
    }

    const bool bar = !q.json && isatty(STDERR_FILENO);
    ProgressView view(q.movies.size(), bar);
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < outcomes.size(); i = next++) {
            Outcome& out = outcomes[i];
            if (!captures[i]) {
                view.Line(stderr, "quellmark-cli convert: " + out.movie + ": " + out.error.toStdString());
                view.Set(i, 1);
                continue;
            }
            if (!bar && !q.json) view.Line(stderr, "converting " + out.movie);
            conversion::OfflineCapture& capture = *captures[i];
            capture.OnProgress = [&, i](const conversion::CaptureProgress& p) {
                if (p.ExpectedFrames > 0) view.Set(i, std::min(1.0, double(p.Frames) / double(p.ExpectedFrames)));
            };
            const conversion::CaptureResult r = capture.Run();
            out.ok = r.Succeeded;
            out.error = r.Error;
            out.warnings = r.Warnings;
            out.frames = r.Frames;
            out.duration = r.Duration;
            view.Set(i, 1);
            for (const QString& w : r.Warnings)
                view.Line(stderr, "quellmark-cli convert: " + out.movie + ": warning: " + w.toStdString());
            if (!r.Succeeded && r.Cancelled)
                view.Line(stderr, "quellmark-cli convert: " + out.movie + ": stopped; " + out.output.toStdString() +
                                      " holds the first " + std::to_string(r.Frames) + " frames");
            else if (!r.Succeeded)
                view.Line(stderr, "quellmark-cli convert: " + out.movie + ": " + r.Error.toStdString());
            else if (!q.json)
                view.Line(stdout, out.output.toStdString());
        }
    };
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    struct sigaction previousInt {}, previousTerm {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        while (!finished && !gInterrupted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!gInterrupted) return;
        next = outcomes.size();  // nothing new starts
        for (auto& capture : captures)
            if (capture) capture->Cancel();
    });
    std::vector<std::thread> threads;
    const size_t count = std::min<size_t>(size_t(q.jobs), outcomes.size());
    for (size_t t = 1; t < count; ++t) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();
    finished = true;
    watcher.join();
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    view.Finish();
    captures.clear();
    flash::ReleaseFontResources();

    bool all = true;
    QJsonArray list;
    for (const Outcome& out : outcomes) {
        all = all && out.ok;
        list.append(QJsonObject{{"movie", QString::fromStdString(out.movie)},
                                {"output", out.ok ? out.output : QString()},
                                {"converted", out.ok},
                                {"error", out.error},
                                {"warnings", QJsonArray::fromStringList(out.warnings)},
                                {"frames", double(out.frames)},
                                {"seconds", double(out.duration) / 1e6}});
    }
    if (q.json) std::fputs(QJsonDocument(QJsonObject{{"results", list}}).toJson(QJsonDocument::Indented).constData(), stdout);
    std::fflush(stdout);
    if (gInterrupted) return 130;
    return all ? 0 : 1;
}

}  // namespace qm::cli
