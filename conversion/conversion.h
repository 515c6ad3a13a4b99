// Conversion: the steps of a conversion as plain functions (the crop of the capture, the
// watermark picture, the looped replacement sound, the main run's output options and output
// name), and the offline capture that renders a movie frame by frame straight into the output.
// The windows and quellmark-cli call the same functions.
//
// Errors: malformed sizes raise qm::app::ConversionError; picture failures raise
// qm::crop::ImageError; engine failures come back as false with a message.
#pragma once

#include <QString>

#include <cstdint>

#include "formats/core/formats_core.h"

namespace qm::engine {
class TFFEncoder;
class TFFDecoder;
}  // namespace qm::engine

namespace qm::conversion {

using formats::TFileOption;

// ---------------------------------------------------------------------------
// Capture.

// The capture's crop filter "crop=w:h:x:y", or empty when there is nothing to crop. Unless
// KeepOriginalSize, CropRect is first mapped from SourceSize to FitSize and stored back.
// Odd sides are made even (toward zero): encoders of 4:2:0 pictures refuse odd sizes.
QString CaptureCropFilter(TFileOption& job);

// ---------------------------------------------------------------------------
// Main run.

// "pad=W:H:X:Y" centring an iw x ih picture in a frame of the ow x oh shape.
QString PadFilter(int32_t iw, int32_t ih, int32_t ow, int32_t oh);
// The pad and scale chain from the captured picture to Resolution; empty when none is needed.
QString ScaleChain(const TFileOption& job);
// A file name as the movie source of a filter graph reads it, whatever characters it holds.
QString FilterGraphFileName(const QString& path);
// The chain wrapped with the prepared watermark when there is one, else the chain.
QString WatermarkGraph(const TFileOption& job, const QString& chain);
// The main run's graph: ScaleChain with the watermark.
QString ConversionFilterGraph(const TFileOption& job);

// Seconds in shortest decimal form, up to 15 significant digits, "." as the point.
QString DurationText(int64_t microseconds);

// The main run's output options: the profile's pieces, -vf with `graph` when there is one,
// -sn, the duration and the stream map (video of input 0, sound of input 1).
QString MainOutputOptions(const TFileOption& job, const QString& graph, int64_t videoDuration,
                          int videoStreamIndex, int audioStreamIndex);

// Output folder + OutFileName + FileExt, made unique with "(n)" unless overwriting.
QString OutputFilePath(const TFileOption& job, const QString& outputFolder, bool overwrite);

// Where a run writes `outputPath`: the path itself when no file is there; otherwise a passing
// name beside it with the same extension, so the earlier file stays whole until the new one is
// complete.
QString PassingOutputPath(const QString& outputPath);
// Gives a complete run's file (written to `writePath`) its name `outputPath`, replacing the
// earlier file; nothing to do when both are the same. Empty on success, otherwise the reason,
// and the passing file is gone.
QString PutOutputInPlace(const QString& writePath, const QString& outputPath);

// Empty when files can be made in `folder` (it is made when missing); otherwise the message
// that refuses the conversion before anything is captured.
QString OutputFolderProblem(const QString& folder);

// ---------------------------------------------------------------------------
// Watermark.

// Maps the watermark to output pixels and writes the scaled, semi-transparent PNG into
// `workFolder` under a name of plain characters. Sets the watermark's Rect, and PreparedFile
// when the picture was written. Does nothing unless WatermarkKind is 1 and ImageFile exists.
void PrepareWatermark(TFileOption& job, const QString& workFolder);

// ---------------------------------------------------------------------------
// Replacement sound.

// Whether the replacement sound must be repeated to cover the video, given both durations in
// microseconds; `loopCount` gets the number of repetitions (0 when none).
bool NeedsAudioLoop(const TFileOption& job, int64_t videoDuration, int64_t audioDuration, int32_t& loopCount);
// The same, reading the replacement sound's duration with media information.
bool NeedsAudioLoop(const TFileOption& job, int64_t videoDuration, engine::TFFDecoder& info, int32_t& loopCount);

// Adds the loop run: the replacement sound joined `loopCount` times, copied into
// tempFolder + "brvLA_temp" + its extension. On success ReplaceAudioFile and `loopedFile` name
// that file; the caller starts the task. On failure `error` holds the log line.
bool AddAudioLoopTask(engine::TFFEncoder& encoder, TFileOption& job, int32_t loopCount, const QString& tempFolder,
                      QString& loopedFile, QString& error);

// The sound of the main run: the replacement (or looped) file when one is chosen and video is
// made, else empty (the movie's own sound).
QString ReplacementSound(const TFileOption& job);

// ---------------------------------------------------------------------------
// The conversion window's main run, from the capture's files.

// The duration of a media file in microseconds, 0 when it cannot be read.
int64_t MediaDuration(engine::TFFDecoder& info, const QString& file);

struct MergeRun {
    QString VideoFile;        // the intermediate video of the capture
    QString WavFile;          // the captured sound as a WAV file
    bool AudioEmpty = false;  // the capture recorded no sound
    QString OutputFolder;
    bool OverWrite = false;
    // Filled by AddMergeTask.
    QString OutputPath;
    QString WritePath;  // where the engine writes: PassingOutputPath(OutputPath)
    int64_t VideoDuration = 0;
    QString Error;  // why the run cannot be made, as shown after "Cannot do convert, error: "
};

// Adds the main run: the intermediate video and the sound (the captured WAV file or the
// replacement) into OutputPath with the profile's arguments, pad, scale and watermark, cut to
// the video's duration. A sound that cannot be read makes an output without sound
// (AudioDisabled is set in `job`). Every failure is logged; the caller starts the task, and
// once it has completed puts WritePath in place with PutOutputInPlace.
bool AddMergeTask(engine::TFFEncoder& encoder, TFileOption& job, MergeRun& run);

}  // namespace qm::conversion
