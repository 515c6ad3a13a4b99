#include "conversion/capture_rules.h"

#include <algorithm>
#include <cmath>

#include "conversion/conversion.h"

namespace qm::conversion {

CaptureWindowLayout LayOutCaptureWindow(int fitWidth, int fitHeight, int workWidth, int workHeight) {
    CaptureWindowLayout l;
    const int w = (std::max(fitWidth, 0) + 3) / 4 * 4;
    const int h = (std::max(fitHeight, 0) + 3) / 4 * 4;
    l.PlayerWidth = w;
    l.PlayerHeight = h;

    if (workWidth < w + 4) {
        l.WindowWidth = workWidth;
        l.HorizontalScrollBar = true;
        l.PlayerLeft = 0;
    } else if (w < kCaptureAreaWidth) {
        l.WindowWidth = kCaptureDesignedWidth;
        l.PlayerLeft = (kCaptureAreaWidth - w) / 2;
    } else {
        l.WindowWidth = w + 4;
        l.PlayerLeft = 0;
    }

    if (kCaptureTitleHeight + h + kCaptureButtonPanelHeight > workHeight) {
        l.WindowHeight = workHeight;
        l.VerticalScrollBar = true;
        l.PlayerTop = 0;
    } else if (h < kCaptureAreaHeight) {
        l.WindowHeight = kCaptureTitleHeight + kCaptureAreaHeight + kCaptureButtonPanelHeight;
        l.PlayerTop = (kCaptureAreaHeight - h) / 2;
    } else {
        l.WindowHeight = kCaptureTitleHeight + h + kCaptureButtonPanelHeight;
        l.PlayerTop = 0;
    }

    // One bar takes room from the other direction, which grows to keep the picture whole.
    if (l.VerticalScrollBar != l.HorizontalScrollBar) {
        if (l.VerticalScrollBar) l.WindowWidth += kCaptureScrollBarSize;
        else l.WindowHeight += kCaptureScrollBarSize;
    }

    l.WindowLeft = l.WindowWidth < workWidth ? (workWidth - l.WindowWidth) / 2 : 0;
    l.WindowTop = l.WindowHeight < workHeight ? (workHeight - l.WindowHeight) / 2 : 0;
    return l;
}

QString EngineFrameRateText(const QString& frameRate) {
    QString text = frameRate.trimmed();
    return text.replace(QLatin1Char(','), QLatin1Char('.'));
}

QString CaptureInputOptions(const QString& frameRate, const QString& fitSize) {
    return QStringLiteral("-f frameinput -re -input_type ") + QStringLiteral("canvas") + QStringLiteral(" -pix_fmt ") +
           QStringLiteral("bgr24") + QStringLiteral(" -r ") + EngineFrameRateText(frameRate) + QStringLiteral(" -s ") +
           fitSize;
}

QString CaptureOutputOptions(formats::TFileOption& job) {
    QString options;
    const auto piece = [&options](const QString& p) { options += QLatin1Char(' ') + p; };
    piece(QStringLiteral(" -c:v mpeg4"));
    QString crop;
    if (job.Options.CropEnabled) crop = CaptureCropFilter(job);
    else piece(QStringLiteral("-s ") + job.Options.FitSize);
    piece(QStringLiteral("-b:v 20000k"));
    if (!crop.isEmpty()) piece(QStringLiteral("-vf \"") + crop + QLatin1Char('"'));
    return options;
}

int64_t CaptureStallLimit(const QString& frameRate) {
    bool ok = false;
    const double rate = EngineFrameRateText(frameRate).toDouble(&ok);
    if (!ok || !std::isfinite(rate)) return 1;
    // A rate below one frame a second still waits for one request.
    return std::max<int64_t>(1, app::RoundHalfEven(rate));
}

void CaptureEndCheck::Reset(int64_t stallLimit) {
    StallLimit = stallLimit;
    StallStartIndex = 0;
    LastMovieFrame = 0;
    LastFrameDelivered = false;
}

FrameVerdict CaptureEndCheck::Check(int captureMode, int64_t frameLimit, int currentFrame, int totalFrames,
                                    int64_t frameNumber) {
    const int64_t f = std::max(currentFrame, 0);
    if (frameLimit > 0 && f >= frameLimit - 1) return FrameVerdict::DeliverAndFinish;
    if (captureMode == 0) return FrameVerdict::Deliver;
    if (f != 0 && f >= int64_t(totalFrames) - 1) {
        if (LastFrameDelivered) return FrameVerdict::EndAndFinish;
        LastFrameDelivered = true;
        return FrameVerdict::Deliver;
    }
    if (captureMode == 1) return FrameVerdict::Deliver;
    if (f != LastMovieFrame) {
        LastMovieFrame = f;
        StallStartIndex = frameNumber;
        return FrameVerdict::Deliver;
    }
    if (frameNumber - StallStartIndex < StallLimit) return FrameVerdict::Deliver;
    return FrameVerdict::EndAndFinish;
}

}  // namespace qm::conversion
