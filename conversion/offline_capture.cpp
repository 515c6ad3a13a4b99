// The offline capture: a render thread advances the player and draws each frame into a buffer,
// with that frame's sound; the engine's worker takes them through the frame input and the sample
// input. Nothing here reads a clock.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <cstring>
#include <deque>
#include <mutex>
#include <numeric>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "conversion/conversion_log.h"
#include "conversion/offline_capture.h"
#include "engine/ff_encoder.h"
#include "engine/ffmpeg_api.h"
#include "engine/frame_input.h"
#include "engine/library_loader.h"
#include "engine/sample_input.h"
#include "flash/player.h"
#include "flash/render/render.h"
#include "swf/swf.h"

namespace qm::conversion {

namespace {

using engine::FF;

constexpr int kSampleRate = flash::Player::kMixRate;
constexpr int kChannels = flash::Player::kMixChannels;
// Frames the renderer may run ahead of the encoder: enough to keep both cores busy and to cover
// more than one packet of sound, little enough to keep memory small at large sizes.
constexpr size_t kQueueDepth = 6;

bool holdsSound(const std::vector<swf::Tag>& tags) {
    for (const swf::Tag& tag : tags) {
        if (std::holds_alternative<swf::DefineSound>(tag.body) || std::holds_alternative<swf::SoundStreamHead>(tag.body))
            return true;
        if (const auto* sprite = std::get_if<swf::Sprite>(&tag.body); sprite && holdsSound(sprite->tags)) return true;
    }
    return false;
}

std::vector<uint8_t> readFile(const QString& path, bool& ok) {
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    if (!ok) return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

struct Frame {
    std::vector<uint8_t> pixels;  // width * 4 bytes a row, premultiplied BGRA (opaque)
    bool end = false;
};

// BGRA to planar 4:2:0: the pictures enter the engine as a recorded video would, so every
// encoder is given what it would get from one. It runs on the engine's reading thread, which is
// otherwise idle while the encoder's own threads work, so the render thread only renders.
class PlanarConverter {
public:
    PlanarConverter(int width, int height) : width_(width), height_(height) {
        context_ = FF.sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    }
    ~PlanarConverter() {
        if (context_) FF.sws_freeContext(context_);
    }
    bool Valid() const { return context_ != nullptr; }
    size_t FrameSize() const { return size_t(FF.av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width_, height_, 1)); }
    void Convert(const uint8_t* bgra, int stride, uint8_t* out) const {
        uint8_t* planes[4] = {};
        int lines[4] = {};
        FF.av_image_fill_arrays(planes, lines, out, AV_PIX_FMT_YUV420P, width_, height_, 1);
        const uint8_t* source[4] = {bgra, nullptr, nullptr, nullptr};
        const int sourceLines[4] = {stride, 0, 0, 0};
        FF.sws_scale(context_, source, sourceLines, 0, height_, planes, lines);
    }

private:
    int width_, height_;
    SwsContext* context_ = nullptr;
};

}  // namespace

QString MovieRate::Text() const {
    QString text = QString::number(Value(), 'f', 8);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

MovieRate RateOfMovie(uint16_t rate88) {
    // A zero rate plays one frame a second, as the player's sound clock counts it.
    const int64_t num = rate88 == 0 ? 256 : rate88;
    const int64_t g = std::gcd(num, int64_t(256));
    return {num / g, 256 / g};
}

bool ReadMovieInfo(const QString& moviePath, formats::TSWFInfo& info, QString& error) {
    bool ok = false;
    const std::vector<uint8_t> bytes = readFile(moviePath, ok);
    if (!ok) {
        error = QStringLiteral("cannot open the file");
        return false;
    }
    const swf::ParseResult parsed = swf::ParseMovie(bytes);
    if (!parsed.movie) {
        error = parsed.error ? QString::fromStdString(parsed.error->message) : QStringLiteral("not a Flash movie");
        return false;
    }
    const swf::Header& h = parsed.movie->header;
    if (h.StageWidthPixels() <= 0 || h.StageHeightPixels() <= 0 || h.StageWidthPixels() > 8192 ||
        h.StageHeightPixels() > 8192) {
        error = QStringLiteral("the movie is damaged: its stage size %1x%2 cannot be shown")
                    .arg(h.StageWidthPixels())
                    .arg(h.StageHeightPixels());
        return false;
    }
    const bool anyFrame = std::any_of(parsed.movie->tags.begin(), parsed.movie->tags.end(), [](const swf::Tag& t) {
        return std::holds_alternative<swf::ShowFrame>(t.body);
    });
    if (!anyFrame) {
        error = parsed.movie->truncated ? QStringLiteral("the movie is damaged: %1 (at byte %2)")
                                              .arg(QString::fromStdString(parsed.movie->truncated->message))
                                              .arg(parsed.movie->truncated->offset)
                                        : QStringLiteral("the movie is damaged: it holds no frame");
        return false;
    }
    info.FileName = moviePath;
    info.FrameCount = h.frame_count;
    info.Width = h.StageWidthPixels();
    info.Height = h.StageHeightPixels();
    info.FrameRate = RateOfMovie(h.frame_rate).Text();
    info.FlashVersion = h.version;
    return true;
}

bool MovieHasSound(const QString& moviePath) {
    bool ok = false;
    const std::vector<uint8_t> bytes = readFile(moviePath, ok);
    if (!ok) return false;
    const swf::ParseResult parsed = swf::ParseMovie(bytes);
    return parsed.movie && holdsSound(parsed.movie->tags);
}

// Everything one run shares between the render thread and the engine's worker.
struct OfflineCapture::State {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Frame> frames;
    std::vector<std::vector<uint8_t>> spare;  // buffers to reuse
    std::deque<int16_t> samples;
    bool samplesDone = false;
    bool stop = false;  // the engine side has gone: the renderer ends too
    int64_t delivered = 0;

    void PushFrame(Frame frame) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return frames.size() < kQueueDepth || stop; });
        if (stop) return;
        frames.push_back(std::move(frame));
        changed.notify_all();
    }
    void PushSamples(const int16_t* data, size_t values) {
        std::lock_guard<std::mutex> guard(lock);
        samples.insert(samples.end(), data, data + values);
        changed.notify_all();
    }
    void EndSamples() {
        std::lock_guard<std::mutex> guard(lock);
        samplesDone = true;
        changed.notify_all();
    }
    std::vector<uint8_t> SpareBuffer(size_t size) {
        std::lock_guard<std::mutex> guard(lock);
        if (spare.empty()) return std::vector<uint8_t>(size);
        std::vector<uint8_t> b = std::move(spare.back());
        spare.pop_back();
        b.resize(size);
        return b;
    }
    void Stop() {
        std::lock_guard<std::mutex> guard(lock);
        stop = true;
        changed.notify_all();
    }
};

OfflineCapture::OfflineCapture(TFileOption job, QString outputPath, CaptureLimits limits)
    : job_(std::move(job)), outputPath_(std::move(outputPath)), limits_(limits) {}

OfflineCapture::~OfflineCapture() = default;

CaptureResult OfflineCapture::Run() {
    CaptureResult result;
    auto fail = [&](const QString& why) {
        result.Succeeded = false;
        result.Error = why;
        LogError(why);
        return result;
    };
    auto& o = job_.Options;
    const QString moviePath = job_.SWFInfo.FileName;

    flash::LoadResult loaded = flash::Player::LoadFile(moviePath.toStdString());
    if (!loaded.player) return fail(QString::fromStdString(loaded.error));
    flash::Player& player = *loaded.player;
    const MovieRate rate = RateOfMovie(player.Header().frame_rate);

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/quellmark-XXXXXX"));
    if (!work.isValid()) return fail(QStringLiteral("Cannot make a temporary folder: ") + work.errorString());

    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) return fail(QStringLiteral("The engine libraries are not loaded"));
    engine::RegisterFrameInputFormat();
    engine::RegisterSampleInputFormat();

    try {
        PrepareWatermark(job_, work.path());
    } catch (const std::exception& e) {
        // The conversion goes on without the picture, as when it cannot be prepared at all.
        result.Warnings << QStringLiteral("the watermark was left out: %1").arg(QString::fromUtf8(e.what()));
        o.WaterMark.PreparedFile.clear();
    }

    // The safety limit and the duration bound of the run.
    const int64_t safetyFrames = kSafetyLimitSeconds * rate.Num / rate.Den;
    const int64_t maxFrames = limits_.FrameLimit > 0 ? limits_.FrameLimit : safetyFrames;
    const int64_t maxDuration = maxFrames * 1000000 * rate.Den / rate.Num;

    // The sound: a replacement file, decoded to raw samples first (no longer than the run can
    // use) so it enters the run at the same pace as the pictures and ends with them; or the
    // movie's own.
    QFile replacement;
    bool useReplacement = false;
    const bool loopReplacement = o.ReplaceAudioMode == 2;
    if (!o.AudioDisabled && !ReplacementSound(job_).isEmpty()) {
        const QString raw = work.filePath(QStringLiteral("replacement.raw"));
        engine::TFFEncoder decoder;
        decoder.TriggerEventInMainThread = false;
        std::string error;
        decoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) {
            if (t.Failed && error.empty()) error = t.ErrorMessage.empty() ? "failed" : t.ErrorMessage;
        };
        engine::TOutputOptions out;
        out.Options = ("-vn -sn -c:a pcm_s16le -ar 44100 -ac 2 -f s16le -t " + DurationText(maxDuration)).toStdString();
        if (decoder.AddTask(o.ReplaceAudioFile.toStdString()) < 0 ||
            decoder.SetOutput(0, raw.toStdString(), &out) < 0) {
            error = decoder.LastErrorMessage();
        } else {
            decoder.StartTask(0);
        }
        replacement.setFileName(raw);
        if (error.empty() && replacement.open(QIODevice::ReadOnly) && replacement.size() >= 4) {
            useReplacement = true;
        } else {
            const QString why = QStringLiteral("Audio file open error: ") +
                                (error.empty() ? QStringLiteral("no sound in ") + o.ReplaceAudioFile
                                               : QString::fromStdString(error));
            LogError(why);
            result.Warnings << why;
            o.AudioDisabled = true;
        }
    } else if (!o.AudioDisabled && !MovieHasSound(moviePath)) {
        o.AudioDisabled = true;  // nothing would ever be heard
    }
    if (o.DisableVideo && o.AudioDisabled) return fail(QStringLiteral("The movie has no sound to convert"));

    const bool video = !o.DisableVideo;
    int32_t fitW = 0, fitH = 0;
    QString cropFilter;
    try {
        app::ParseSize(o.FitSize, fitW, fitH);
        TFileOption captureJob = job_;
        cropFilter = CaptureCropFilter(captureJob);
    } catch (const app::ConversionError& e) {
        return fail(QStringLiteral("Cannot do convert, error: ") + e.text());
    }
    if (video && (fitW <= 0 || fitH <= 0 || fitW > 8192 || fitH > 8192))
        return fail(QStringLiteral("Cannot do convert, error: picture size %1").arg(o.FitSize));


    QString graph;
    QString options;
    try {
        QString chain = ScaleChain(job_);
        if (!cropFilter.isEmpty()) chain = chain.isEmpty() ? cropFilter : cropFilter + QLatin1Char(',') + chain;
        graph = WatermarkGraph(job_, chain);
        options = MainOutputOptions(job_, graph, maxDuration, 0, 0);
    } catch (const app::ConversionError& e) {
        return fail(QStringLiteral("Cannot do convert, error: ") + e.text());
    }

    State state;
    engine::TFrameInputAdapter pictures;
    engine::TSampleInputAdapter sound;
    pictures.TriggerEventInMainThread = false;
    sound.TriggerEventInMainThread = false;
    const size_t rowBytes = size_t(fitW) * 4;

    std::optional<PlanarConverter> converter;
    if (video) {
        converter.emplace(fitW, fitH);
        if (!converter->Valid()) return fail(QStringLiteral("Cannot do convert, error: no picture converter"));
    }
    const size_t frameSize = video ? converter->FrameSize() : 0;
    pictures.OnReadFrameYUV = [&](engine::TFrameInputAdapter*, void* data, engine::TInputFrameInfo* info) -> int {
        Frame frame;
        {
            std::unique_lock<std::mutex> guard(state.lock);
            state.changed.wait(guard, [&] { return !state.frames.empty() || state.stop; });
            if (state.stop || cancelled_) return -1;
            frame = std::move(state.frames.front());
            state.frames.pop_front();
            state.changed.notify_all();
        }
        if (frame.end || size_t(info->FrameSize) != frameSize) return -1;
        converter->Convert(frame.pixels.data(), int(rowBytes), static_cast<uint8_t*>(data));
        const int64_t n = info->FrameNumber - 1;
        info->PTS = n * 1000000 * rate.Den / rate.Num;
        std::lock_guard<std::mutex> guard(state.lock);
        state.spare.push_back(std::move(frame.pixels));
        ++state.delivered;
        return 0;
    };
    sound.OnReadSamples = [&](engine::TSampleInputAdapter*, int16_t* out, int frames,
                              engine::TInputSampleInfo*) -> int {
        const size_t wanted = size_t(frames) * kChannels;
        std::unique_lock<std::mutex> guard(state.lock);
        state.changed.wait(guard, [&] { return state.samples.size() >= wanted || state.samplesDone || state.stop; });
        if (state.stop || cancelled_) return -1;
        const size_t n = std::min(wanted, state.samples.size()) / kChannels * kChannels;
        std::copy_n(state.samples.begin(), n, out);
        state.samples.erase(state.samples.begin(), state.samples.begin() + ptrdiff_t(n));
        return int(n / kChannels);
    };

    // The render thread.
    const bool lastFrameEnds = limits_.End != EndRule::Frames;
    if (lastFrameEnds) player.SetLoop(false);
    const int64_t stallLimit = std::max<int64_t>(1, app::RoundHalfEven(rate.Value()));
    const bool withSound = !o.AudioDisabled;
    std::thread renderer([&] {
        flash::Renderer draw(player.Characters(), player.Version());
        draw.SetQuality(flash::Quality::High);
        std::vector<int16_t> mix;
        uint32_t lastMovieFrame = UINT32_MAX;
        size_t lastHash = 0;
        int64_t stallStart = 0;
        const uint32_t total = player.TotalFrames();
        for (int64_t k = 0;; ++k) {
            if (cancelled_ || state.stop) break;
            if (k >= maxFrames) {
                if (limits_.FrameLimit <= 0) result.SafetyLimitReached = true;
                break;
            }
            player.Advance();
            const uint32_t f = player.CurrentFrame();
            Frame frame;
            size_t hash = 0;
            if (video) {
                frame.pixels = state.SpareBuffer(rowBytes * size_t(fitH));
                flash::RenderTarget target{frame.pixels.data(), fitW, fitH, int(rowBytes)};
                draw.Render(player.Stage(), player.StageRect(), player.BackgroundColor(), target);
                if (limits_.End == EndRule::Stall)
                    hash = std::hash<std::string_view>{}(
                        std::string_view(reinterpret_cast<const char*>(frame.pixels.data()), frame.pixels.size()));
            }
            if (limits_.End == EndRule::Stall) {
                if (f != lastMovieFrame || hash != lastHash) {
                    lastMovieFrame = f;
                    lastHash = hash;
                    stallStart = k;
                } else if (k - stallStart >= stallLimit) {
                    break;  // one second without change: this frame is not kept
                }
            }
            if (withSound) {
                const size_t count = size_t(player.SoundSamplesBefore(uint64_t(k) + 1) - player.SoundSamplesBefore(uint64_t(k)));
                mix.assign(count * kChannels, 0);
                // The player's own sound moves on in step even when it is replaced.
                if (count > 0) player.Mix(mix.data(), count);
                if (useReplacement) {
                    // From the decoded file, again from its start when it loops, else silence.
                    std::fill(mix.begin(), mix.end(), int16_t(0));
                    const qint64 frameBytes = 2 * kChannels;
                    qint64 done = 0;
                    const qint64 wanted = qint64(mix.size()) * 2;
                    auto* bytes = reinterpret_cast<char*>(mix.data());
                    while (done < wanted) {
                        const qint64 got = replacement.read(bytes + done, wanted - done);
                        if (got > 0) {
                            done += got;
                            continue;
                        }
                        if (!loopReplacement || replacement.size() < frameBytes || !replacement.seek(0)) break;
                    }
                }
                state.PushSamples(mix.data(), mix.size());
            }
            if (video) state.PushFrame(std::move(frame));
            result.Frames = k + 1;
            if (lastFrameEnds && f != 0 && total > 0 && f >= total - 1) break;
        }
        timespec used{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
        result.RenderSeconds = double(used.tv_sec) + double(used.tv_nsec) / 1e9;
        state.EndSamples();
        if (video) {
            Frame end;
            end.end = true;
            state.PushFrame(std::move(end));
        }
    });

    engine::TFFEncoder encoder;
    encoder.TriggerEventInMainThread = false;
    std::string engineError;
    encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) {
        if (t.Failed && engineError.empty()) engineError = t.ErrorMessage.empty() ? "the engine failed" : t.ErrorMessage;
    };
    encoder.OnProgress = [&](void*, engine::TProgressInfo* p) {
        if (!OnProgress) return;
        CaptureProgress progress;
        progress.Frames = p->FrameNumber;
        progress.OutputTime = p->OutputTime;
        if (limits_.FrameLimit > 0)
            progress.ExpectedFrames = limits_.FrameLimit;
        else if (limits_.End != EndRule::Frames)
            progress.ExpectedFrames = player.TotalFrames();
        OnProgress(progress);
    };

    bool prepared = true;
    int task = -1;
    if (video) {
        engine::TInputOptions in;
        in.Options = QStringLiteral("-f frameinput -input_type yuv -pix_fmt yuv420p -r %1 -s %2")
                         .arg(rate.Text(), o.FitSize)
                         .toStdString();
        task = encoder.AddTask(pictures.InputName(), &in);
        if (task < 0) {
            engineError = "Video file open error: " + encoder.LastErrorMessage();
            prepared = false;
        }
    }
    if (prepared && withSound) {
        engine::TInputOptions in;
        in.Options = "-f sampleinput -ar 44100 -ac 2";
        const int r = task < 0 ? (task = encoder.AddTask(sound.InputName(), &in)) : encoder.AddInput(task, sound.InputName(), &in);
        if (r < 0) {
            engineError = "Audio file open error: " + encoder.LastErrorMessage();
            prepared = false;
        }
    }
    if (prepared) {
        engine::TOutputOptions out;
        out.Options = options.toStdString();
        if (encoder.SetOutput(task, outputPath_.toStdString(), &out) < 0) {
            engineError = "Cannot do convert, error: " + encoder.LastErrorMessage();
            encoder.RemoveTask(task);
            prepared = false;
        }
    }
    if (prepared) {
        LogInfo(QStringLiteral("[Start AudioVideoMerger]"));
        encoder.StartTask(0);
    }
    state.Stop();
    renderer.join();

    if (!engineError.empty()) {
        QFile::remove(outputPath_);
        return fail(QString::fromStdString(engineError));
    }
    if (cancelled_) {
        result.Error = QStringLiteral("cancelled");
        result.Cancelled = true;
        std::lock_guard<std::mutex> guard(state.lock);
        if (video) result.Frames = state.delivered;
        return result;
    }
    if (result.SafetyLimitReached)
        result.Warnings << QStringLiteral("the movie did not end by itself; stopped after %1 seconds (use --frames or --duration)")
                               .arg(kSafetyLimitSeconds);
    result.Duration = result.Frames * 1000000 * rate.Den / rate.Num;
    LogInfo(QStringLiteral("[Stop AudioVideoMerger]"));
    result.Succeeded = true;
    return result;
}

}  // namespace qm::conversion
