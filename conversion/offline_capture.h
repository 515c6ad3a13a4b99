// The offline capture: a movie rendered frame by frame at the exact times n / rate, with exactly
// the sound of those frames, straight into the output file in one engine run (the profile's
// arguments, the crop, the pad/scale chain and the watermark in that run). Rendering runs on
// worker threads of its own, a few frames ahead of the encoder. The same movie and options give
// the same file on every run: time stamps come only from frame numbers.
#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

#include "conversion/conversion.h"

namespace qm::conversion {

// When the capture ends, as the capture modes decide it:
//  LastFrame  the movie reaches its last frame (it does not loop);
//  Stall      the last frame, or one second of frames in which neither the main timeline nor
//             the picture changed;
//  Frames     only the frame limit.
// A frame limit ends every mode. Without one, a movie that never ends stops after
// kSafetyLimitSeconds of movie time, or one second after its own length when that is longer,
// with a warning.
enum class EndRule { LastFrame, Stall, Frames };

inline constexpr int64_t kSafetyLimitSeconds = 600;

struct CaptureLimits {
    EndRule End = EndRule::Stall;
    int64_t FrameLimit = 0;  // frames; 0 = none
};

struct CaptureProgress {
    int64_t Frames = 0;          // frames encoded
    int64_t ExpectedFrames = 0;  // 0 when the end is not known in advance
    int64_t OutputTime = 0;      // microseconds written
};

struct CaptureResult {
    bool Succeeded = false;
    QString Error;            // why not, in one line
    QStringList Warnings;
    int64_t Frames = 0;       // video frames delivered
    int64_t Duration = 0;     // microseconds of movie time captured
    bool SafetyLimitReached = false;
    bool Cancelled = false;   // stopped early: the file is valid and holds Frames frames
    double RenderSeconds = 0; // processor time of the render workers (players, renderers, mixer)
};

// The movie's frame rate as a fraction, and as the text the engine and the profile read.
struct MovieRate {
    int64_t Num = 1, Den = 1;
    double Value() const { return double(Num) / double(Den); }
    QString Text() const;
};
MovieRate RateOfMovie(uint16_t rate88);

// The movie's header facts as the job record keeps them (FrameRate as exact "." text).
bool ReadMovieInfo(const QString& moviePath, formats::TSWFInfo& info, QString& error);

// Whether the movie holds any sound at all (event sounds or a sound stream).
bool MovieHasSound(const QString& moviePath);

class OfflineCapture {
public:
    // `job` has been through PrepareFileOption; `outputPath` is where the file goes (replaced).
    OfflineCapture(TFileOption job, QString outputPath, CaptureLimits limits);
    ~OfflineCapture();
    OfflineCapture(const OfflineCapture&) = delete;
    OfflineCapture& operator=(const OfflineCapture&) = delete;

    // Called on the engine's worker thread.
    std::function<void(const CaptureProgress&)> OnProgress;

    // Runs the whole capture; blocks. The engine libraries must be loaded.
    CaptureResult Run();
    // From any thread: the run ends soon, leaving a valid but shorter file.
    void Cancel() { cancelled_ = true; }
    // From any thread: the run ends soon and what it wrote goes; a file it was to replace stays.
    void Abandon() {
        abandoned_ = true;
        cancelled_ = true;
    }

    const TFileOption& Job() const { return job_; }
    // Render workers; 0 (the default): one a core. The file is the same whatever the count.
    void SetRenderWorkers(int workers) { renderWorkers_ = std::clamp(workers, 0, 16); }
    // When the movie starts, for its scripts' dates (ms since 1970 UTC); negative (the default):
    // when the run starts. A movie that shows the date repeats only with a fixed start.
    void SetStartTime(double msSince1970) { startTime_ = msSince1970; }

private:
    struct State;
    TFileOption job_;
    QString outputPath_;
    CaptureLimits limits_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> abandoned_{false};
    int renderWorkers_ = 0;
    double startTime_ = -1;
};

}  // namespace qm::conversion
