// The offline capture: render workers advance their players and draw frames into buffers, with
// the frames' sound; the engine's worker takes them in order through the frame input and the
// sample input. The wall clock is read once, as the start of the movie's dates; everything else
// comes from frame numbers.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>

#include <cerrno>
#include <cstdio>

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "conversion/conversion_log.h"
#include "conversion/offline_capture.h"
#include "conversion/planar_picture.h"
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


constexpr int kSampleRate = flash::Player::kMixRate;
constexpr int kChannels = flash::Player::kMixChannels;
// Frames the renderer may run ahead of the encoder: enough to keep both cores busy and to cover
// more than one packet of sound, little enough to keep memory small at large sizes.
constexpr size_t kQueueDepth = 6;

// Render workers: one a core, at most four (more add memory, not speed, next to the encoder).
int RenderWorkers() {
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, 4u));
}

// A fingerprint of a picture for the stall rule: four independent lanes of 64-bit words, so
// the processor overlaps them (a general string hash runs one chain, about half again slower).
uint64_t PictureHash(const uint8_t* p, size_t n) {
    constexpr uint64_t kMul1 = 0x9E3779B97F4A7C15ull, kMul2 = 0xC2B2AE3D27D4EB4Full;
    uint64_t lane[4] = {1, 2, 3, 4};
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        for (int l = 0; l < 4; ++l) {
            uint64_t word;
            std::memcpy(&word, p + i + 8 * size_t(l), 8);
            lane[l] = std::rotl(lane[l] ^ (word * kMul1), 29) * kMul2;
        }
    }
    uint64_t h = n;
    for (; i < n; ++i) h = (h ^ p[i]) * kMul1;
    for (uint64_t v : lane) h = std::rotl(h ^ (v * kMul2), 31) * kMul1;
    return h ^ (h >> 32);
}

bool holdsSound(const std::vector<swf::Tag>& tags) {
    for (const swf::Tag& tag : tags) {
        if (swf::BodyIs<swf::DefineSound>(tag.body) || std::holds_alternative<swf::SoundStreamHead>(tag.body))
            return true;
        if (const auto* sprite = std::get_if<swf::Sprite>(&tag.body); sprite && holdsSound(sprite->tags)) return true;
    }
    return false;
}

std::vector<uint8_t> readFile(const QString& path, bool& ok) {
    QFile file(path);
    ok = file.open(QIODevice::ReadOnly);
    if (!ok) return {};
    // Read straight into the list at its size: a long movie is not held twice on the way.
    std::vector<uint8_t> bytes(size_t(std::max<qint64>(file.size(), 0)));
    qint64 got = 0;
    while (got < qint64(bytes.size())) {
        const qint64 n = file.read(reinterpret_cast<char*>(bytes.data()) + got, qint64(bytes.size()) - got);
        if (n <= 0) break;
        got += n;
    }
    bytes.resize(size_t(got));
    // A file that grows while it is read (or a device without a size) gives the rest too.
    const QByteArray rest = file.readAll();
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

struct Frame {
    uint8_t* pixels = nullptr;  // planar 4:2:0, as the engine takes it: a buffer of the run's pool
    bool end = false;
};

// Picture buffers are aligned for the encoder's vector loads and leave the engine its padding,
// so the frame input hands them on as they are.
struct AlignedFree {
    void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(64)); }
};
using PictureBuffer = std::unique_ptr<uint8_t[], AlignedFree>;

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
    std::vector<uint8_t> bytes = readFile(moviePath, ok);
    if (!ok) {
        error = QStringLiteral("cannot open the file");
        return false;
    }
    // The frames stay in the file's bytes: a long movie's would take several times its size.
    const swf::ParseResult parsed = swf::ParseMovieInPlace(std::move(bytes));
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
    bool anyFrame = false;
    const auto stream = parsed.movie->TagStream();
    for (auto t = swf::ReadStoredTag(stream, 0); t && !anyFrame && t->code != 0; t = swf::ReadStoredTag(stream, t->next))
        anyFrame = t->code == 1;
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
    std::vector<uint8_t> bytes = readFile(moviePath, ok);
    if (!ok) return false;
    // Sound definitions and stream heads are listed; the frames' blocks need not be read.
    const swf::ParseResult parsed = swf::ParseMovieInPlace(std::move(bytes));
    return parsed.movie && holdsSound(parsed.movie->tags);
}

// Everything one run shares between the render thread and the engine's worker.
struct OfflineCapture::State {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Frame> frames;
    // Every picture buffer of the run; the engine holds some of them between the frame input
    // and the encoder, and gives each back once the encoder has taken its copy.
    std::vector<PictureBuffer> buffers;
    std::vector<uint8_t*> spare;  // buffers to reuse
    size_t bufferSize = 0;
    std::deque<int16_t> samples;
    bool samplesDone = false;
    bool stop = false;  // the engine side has gone: the renderer ends too
    int64_t delivered = 0;

    uint8_t* SpareBuffer() {
        std::lock_guard<std::mutex> guard(lock);
        if (spare.empty()) {
            buffers.emplace_back(static_cast<uint8_t*>(::operator new[](bufferSize, std::align_val_t(64))));
            return buffers.back().get();
        }
        uint8_t* b = spare.back();
        spare.pop_back();
        return b;
    }
    void GiveBack(uint8_t* buffer) {
        std::lock_guard<std::mutex> guard(lock);
        spare.push_back(buffer);
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

namespace {

// A failed write says so in plain words; other engine failures keep the engine's text.
QString WriteProblem(const QString& outputPath, const std::string& engineError) {
    const QString text = QString::fromStdString(engineError);
    for (int code : {ENOSPC, EFBIG, EDQUOT, EIO, EROFS})
        if (text.contains(QString::fromLocal8Bit(std::strerror(code)), Qt::CaseInsensitive))
            return QStringLiteral("Cannot write the output file %1: %2")
                .arg(QDir::toNativeSeparators(outputPath), QString::fromLocal8Bit(std::strerror(code)));
    return text;
}

// glibc gives a large block a mapping of its own, but once such a block is freed (a movie read
// for its facts is one) it raises that threshold to the block's size, and every later block
// below it comes from the heap. There the encoder's index of the output, which grows all through
// a long conversion, leaves its outgrown copies behind as holes: a 30-minute movie held 14 MiB
// more for them. A fixed threshold keeps large blocks apart, and a growing one is moved by the
// kernel instead of copied. At glibc's starting 128 KiB the renderer's layers and masks of each
// frame were mapped and unmapped every frame (system time two to three times as high); at 1 MiB
// they stay in the heap and the 30-minute movie still stays within bounds.
// A fixed threshold also stops glibc from raising the trim threshold, which stays at 128 KiB:
// every render worker's heap then gave a frame's layers and filter planes back at its end and
// faulted them in again, page by page, for the next (the demo took 5,000 faults more at 720p,
// 14,000 at 1080p). Keeping up to 8 MiB free at a heap's top leaves the peak as it was.
void KeepLargeBlocksMapped() {
#ifdef __GLIBC__
    static const bool fixed =
        mallopt(M_MMAP_THRESHOLD, 1024 * 1024) == 1 && mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024) == 1;
    (void)fixed;
#endif
}

}  // namespace

CaptureResult OfflineCapture::Run() {
    KeepLargeBlocksMapped();
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
    // A movie longer than the limit still plays to its own last frame (and a second beyond).
    const int64_t safetyFrames = std::max<int64_t>(kSafetyLimitSeconds * rate.Num / rate.Den,
                                                   int64_t(player.TotalFrames()) + (rate.Num + rate.Den - 1) / rate.Den);
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
    } else if (!o.AudioDisabled && !player.HoldsSound()) {  // the movie read once, not again
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
    state.bufferSize = frameSize + engine::FramePadding;
    // The workers' pictures go to the engine as they are; the engine gives each back when the
    // encoder has taken it.
    pictures.OnReadFrameBuffer = [&](engine::TFrameInputAdapter*, engine::TFrameBuffer* buffer,
                                     engine::TInputFrameInfo* info) -> int {
        Frame frame;
        {
            std::unique_lock<std::mutex> guard(state.lock);
            state.changed.wait(guard, [&] { return !state.frames.empty() || state.stop; });
            if (state.stop || cancelled_) return -1;
            frame = state.frames.front();
            state.frames.pop_front();
            if (!frame.end && size_t(info->FrameSize) == frameSize) ++state.delivered;
            state.changed.notify_all();  // a render worker may go on
        }
        if (frame.pixels) {
            buffer->Data = frame.pixels;
            buffer->Capacity = state.bufferSize;
            buffer->Release = [&state](uint8_t* data) { state.GiveBack(data); };
        }
        if (frame.end || size_t(info->FrameSize) != frameSize) return -1;
        const int64_t n = info->FrameNumber - 1;
        info->PTS = n * 1000000 * rate.Den / rate.Num;
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

    // The render workers. Each has its own player, advanced through every frame (the movie's
    // clock and its random numbers are the same in each), and draws the frames it claims; the
    // first mixes the sound. The frames meet again in order before the engine, so the file does
    // not depend on which worker drew a frame.
    const bool lastFrameEnds = limits_.End != EndRule::Frames;
    const int64_t stallLimit = std::max<int64_t>(1, app::RoundHalfEven(rate.Value()));
    const bool withSound = !o.AudioDisabled;
    const int workerCount = !video ? 1 : renderWorkers_ > 0 ? renderWorkers_ : RenderWorkers();
    std::vector<std::unique_ptr<flash::Player>> players;
    players.push_back(std::move(loaded.player));
    // The movie is read once: the others share its definitions, and only the first mixes sound.
    for (int i = 1; i < workerCount; ++i) {
        players.push_back(players.front()->AnotherOfTheSameMovie());
        players.back()->SetSoundDiscarded(true);
    }
    // One start for the scripts' dates in every player, so they agree frame for frame.
    const double startMs = startTime_ >= 0 ? startTime_
                                           : double(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                        std::chrono::system_clock::now().time_since_epoch())
                                                        .count());
    for (auto& p : players) {
        p->SetScriptStartTime(startMs);
        if (lastFrameEnds) p->SetLoop(false);
    }
    // The players' log lines (limits reached, addresses refused) join the conversion log. Every
    // worker plays the same movie, so a line is written once, however often it comes.
    struct PlayerLog {
        std::mutex lock;
        std::set<std::string, std::less<>> seen;
    };
    auto playerLog = std::make_shared<PlayerLog>();
    for (auto& p : players) {
        p->SetLogSink([playerLog](std::string_view line) {
            constexpr size_t kMaxLines = 1000;
            std::lock_guard<std::mutex> guard(playerLog->lock);
            if (playerLog->seen.size() > kMaxLines || playerLog->seen.contains(line)) return;
            playerLog->seen.emplace(line);
            LogInfo(playerLog->seen.size() > kMaxLines
                        ? QStringLiteral("Player: further lines are left out")
                        : QStringLiteral("Player: ") + QString::fromUtf8(line.data(), qsizetype(line.size())));
        });
    }

    // Frames finished out of order wait here for their turn.
    struct Pending {
        Frame frame;
        std::vector<int16_t> sound;
        uint64_t hash = 0;
        uint32_t movieFrame = 0;
        bool terminal = false;  // the movie's last frame: nothing follows it
        bool pictureReady = false, soundReady = false;
    };
    std::map<int64_t, Pending> pending;
    int64_t next = 0;                 // the next frame to hand on, in order
    int64_t endAt = maxFrames;        // frames from here on are not kept (under state.lock)
    uint32_t lastMovieFrame = UINT32_MAX;
    uint64_t lastHash = 0;
    int64_t stallStart = 0;
    bool movieEnded = false;          // by its last frame or a stall
    // The first worker claims every frame nobody has; the others help only while the encoder
    // is short of pictures. A movie cheap to draw then leaves the cores to the encoder, whose
    // threads lose more to a second drawing thread than the drawing gains.
    std::set<int64_t> claimed;  // frames from `next` on (under state.lock)
    auto isClaimed = [&](int64_t k) { return k < next || claimed.contains(k); };
    constexpr size_t kHelpBelow = 2;  // pictures waiting for the encoder

    // Called with state.lock held: hands on every frame whose parts are all there.
    auto handOn = [&] {
        for (;;) {
            if (next >= endAt) break;
            auto it = pending.find(next);
            if (it == pending.end()) break;
            Pending& p = it->second;
            if ((video && !p.pictureReady) || (withSound && !p.soundReady)) break;
            const int64_t k = next;
            if (limits_.End == EndRule::Stall) {
                if (p.movieFrame != lastMovieFrame || p.hash != lastHash) {
                    lastMovieFrame = p.movieFrame;
                    lastHash = p.hash;
                    stallStart = k;
                } else if (k - stallStart >= stallLimit) {
                    endAt = k;  // one second without change: this frame is not kept
                    movieEnded = true;
                    for (auto& [number, dropped] : pending)
                        if (dropped.frame.pixels) state.spare.push_back(dropped.frame.pixels);
                    pending.clear();
                    break;
                }
            }
            if (withSound) state.samples.insert(state.samples.end(), p.sound.begin(), p.sound.end());
            if (video) state.frames.push_back(p.frame);
            result.Frames = k + 1;
            ++next;
            if (p.terminal) {
                endAt = next;
                movieEnded = true;
            }
            pending.erase(it);
        }
        claimed.erase(claimed.begin(), claimed.lower_bound(next));
        state.changed.notify_all();
    };

    std::vector<double> workerSeconds(size_t(workerCount), 0.0);
    auto renderShare = [&](int index) {
        flash::Player& player = *players[size_t(index)];
        const bool mixes = index == 0;
        std::optional<flash::Renderer> draw;
        if (video) {
            draw.emplace(player.Characters(), player.Version());
            draw->SetLogSink([&player](std::string_view line) { player.Log(line); });
            draw->SetQuality(flash::Quality::High);
        }
        std::vector<int16_t> mix;
        std::vector<uint8_t> picture(video ? rowBytes * size_t(fitH) : 0);
        const uint32_t total = player.TotalFrames();
        for (int64_t k = 0;; ++k) {
            bool draws = false;
            {
                std::unique_lock<std::mutex> guard(state.lock);
                if ((video && !isClaimed(k)) || mixes) {
                    // Not further ahead of the encoder than the queue allows.
                    state.changed.wait(guard, [&] {
                        if (state.stop || cancelled_ || k >= endAt || !video) return true;
                        const bool room = k < state.delivered + int64_t(kQueueDepth) + workerCount;
                        if (index == 0) return room;
                        // A helper stays on its frame until the first worker takes it or the
                        // encoder runs short: passing frames by would leave it far ahead, with
                        // the frames the encoder needs next all on the first worker.
                        return isClaimed(k) || (room && state.frames.size() < kHelpBelow);
                    });
                    if (state.stop || cancelled_ || k >= endAt) break;
                    if (video && !isClaimed(k) && (index == 0 || state.frames.size() < kHelpBelow)) {
                        claimed.insert(k);
                        draws = true;
                    }
                } else if (cancelled_ || state.stop) {
                    break;
                }
            }
            player.Advance();
            const uint32_t f = player.CurrentFrame();
            Pending part;
            if (draws) {
                // The worker's own picture, in the engine's planar form: the engine's reading
                // thread, which shares the cores with the encoder, takes it as it is.
                const flash::RenderTarget target{picture.data(), fitW, fitH, int(rowBytes)};
                draw->Render(player.RootObject(), player.StageRect(), player.BackgroundColor(), target);
                part.frame.pixels = state.SpareBuffer();
                converter->Convert(picture.data(), int(rowBytes), part.frame.pixels);
                // The picture as it is encoded: a third of the bytes of the drawn one.
                if (limits_.End == EndRule::Stall) part.hash = PictureHash(part.frame.pixels, frameSize);
            }
            if (withSound && mixes) {
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
            }
            const bool terminal = lastFrameEnds && f != 0 && total > 0 && f >= total - 1;
            if (draws || mixes) {
                std::lock_guard<std::mutex> guard(state.lock);
                if (k < endAt && k >= next) {
                    Pending& p = pending[k];
                    if (draws) {
                        p.frame = part.frame;
                        part.frame.pixels = nullptr;
                        p.hash = part.hash;
                        p.movieFrame = f;
                        p.terminal = terminal;
                        p.pictureReady = true;
                    }
                    if (withSound && mixes) {
                        p.sound = std::move(mix);
                        p.soundReady = true;
                    }
                    if (!video) {
                        p.movieFrame = f;
                        p.terminal = terminal;
                    }
                    handOn();
                }
                // A frame past the end is not kept: its buffer serves again.
                if (part.frame.pixels) state.spare.push_back(part.frame.pixels);
            }
            if (terminal) break;
        }
        timespec used{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
        workerSeconds[size_t(index)] = double(used.tv_sec) + double(used.tv_nsec) / 1e9;
    };
    // Ends the streams once every worker is done.
    std::thread renderer([&] {
        std::vector<std::thread> others;
        for (int i = 1; i < workerCount; ++i) others.emplace_back(renderShare, i);
        renderShare(0);
        for (std::thread& t : others) t.join();
        std::lock_guard<std::mutex> guard(state.lock);
        // Stopped early (cancelled, or the engine went): nothing more follows.
        if (next < endAt) endAt = next;
        if (!movieEnded && next >= maxFrames && limits_.FrameLimit <= 0) result.SafetyLimitReached = true;
        result.RenderSeconds = std::accumulate(workerSeconds.begin(), workerSeconds.end(), 0.0);
        state.samplesDone = true;
        if (video) {
            Frame end;
            end.end = true;
            state.frames.push_back(std::move(end));
        }
        state.changed.notify_all();
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
            progress.ExpectedFrames = players.front()->TotalFrames();
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
    // A file being replaced stays whole until the new one is complete: the run writes beside it.
    const QString writePath = PassingOutputPath(outputPath_);
    if (prepared) {
        engine::TOutputOptions out;
        out.Options = options.toStdString();
        if (encoder.SetOutput(task, writePath.toStdString(), &out) < 0) {
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
        // Nothing half-written stays behind (a full disk, a failed write, a refused set-up).
        QFile::remove(writePath);
        return fail(WriteProblem(outputPath_, engineError));
    }
    if (abandoned_) {
        QFile::remove(writePath);
        result.Error = QStringLiteral("cancelled");
        result.Cancelled = true;
        return result;
    }
    if (const QString problem = PutOutputInPlace(writePath, outputPath_); !problem.isEmpty()) return fail(problem);
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
