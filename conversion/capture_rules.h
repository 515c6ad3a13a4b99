// The real-time capture's rules without widgets: where the capture window puts the player and
// how large it grows for the capture size, the engine option texts of the capture task, and when
// a capture ends (the last frame, a stalled movie, the frame limit).
#pragma once

#include <QString>

#include <cstdint>

#include "formats/core/formats_core.h"

namespace qm::conversion {

// The window as designed: the player area of 676 x 417 between the title bar (26) and the
// button panel (77, with the bottom edge), inside 2-pixel side borders.
inline constexpr int kCaptureDesignedWidth = 680;
inline constexpr int kCaptureDesignedHeight = 520;
inline constexpr int kCaptureAreaWidth = 676;
inline constexpr int kCaptureAreaHeight = 417;
inline constexpr int kCaptureTitleHeight = 26;
inline constexpr int kCaptureButtonPanelHeight = 77;
inline constexpr int kCaptureScrollBarSize = 17;

struct CaptureWindowLayout {
    int PlayerWidth = 0, PlayerHeight = 0;  // the capture size raised to multiples of 4
    int PlayerLeft = 0, PlayerTop = 0;      // within the player area
    int WindowWidth = kCaptureDesignedWidth, WindowHeight = kCaptureDesignedHeight;
    int WindowLeft = 0, WindowTop = 0;      // within the work area
    bool HorizontalScrollBar = false, VerticalScrollBar = false;
};

// The window for a capture size of fitWidth x fitHeight on a work area of the given size.
CaptureWindowLayout LayOutCaptureWindow(int fitWidth, int fitHeight, int workWidth, int workHeight);

// The movie's frame rate as the engine reads it: "." as the decimal point whatever the text has.
QString EngineFrameRateText(const QString& frameRate);
// The frame input's options: "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r R -s WxH".
QString CaptureInputOptions(const QString& frameRate, const QString& fitSize);
// The intermediate video's options: MPEG-4 at 20000 kbit/s, at FitSize or through the crop
// filter (which maps and stores CropRect, see CaptureCropFilter).
QString CaptureOutputOptions(formats::TFileOption& job);
// Frame requests without a change of the movie's frame that end an automatic capture: the
// frame rate to the nearest integer, at least 1.
int64_t CaptureStallLimit(const QString& frameRate);

// What the frame input does with one request.
enum class FrameVerdict {
    Deliver,           // give the frame to the engine
    DeliverAndFinish,  // give it and ask the window to finish (the frame limit)
    EndAndFinish,      // end the input here and ask the window to finish
};

// The end rules of the capture modes (0 manual, 1 manual ending at the last frame, 2 automatic),
// applied to each frame request. Not thread-safe: one frame input calls it. The movie's last
// frame is delivered once and the input ends at the request after it, so the capture holds the
// whole movie.
class CaptureEndCheck {
public:
    void Reset(int64_t stallLimit);
    // `currentFrame` is the player's zero-based frame (negative counts as 0), `frameNumber` the
    // request's number (1 for the first).
    FrameVerdict Check(int captureMode, int64_t frameLimit, int currentFrame, int totalFrames, int64_t frameNumber);

    int64_t StallLimit = 1;
    int64_t StallStartIndex = 0;
    int64_t LastMovieFrame = 0;
    bool LastFrameDelivered = false;
};

}  // namespace qm::conversion
