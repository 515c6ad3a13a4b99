// The steps of a conversion that compute: crop, pad and scale, the watermark graph, the output
// options of the main run, the output name and the looped replacement sound.
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cmath>
#include <cstdio>

#include "conversion/conversion.h"
#include "conversion/conversion_log.h"
#include "crop/crop.h"
#include "engine/ff_encoder.h"
#include "engine/media_info.h"

namespace qm::conversion {

using app::TRect;

namespace {

QString scaleFilter(const QString& resolution) {
    QString size = resolution;
    const qsizetype x = size.indexOf(QLatin1Char('x'));
    if (x >= 0) size[x] = QLatin1Char(':');
    return QStringLiteral("scale=") + size;
}

TRect evenSides(TRect r) {
    r.right = r.left + r.width() / 2 * 2;
    r.bottom = r.top + r.height() / 2 * 2;
    return r;
}

QString sizeText(int32_t w, int32_t h) { return QStringLiteral("%1x%2").arg(w).arg(h); }

}  // namespace

QString CaptureCropFilter(TFileOption& job) {
    auto& o = job.Options;
    if (!o.CropEnabled) return {};
    if (!o.KeepOriginalSize) o.CropRect = app::MapRect(o.CropRect, o.SourceSize, o.FitSize);
    o.CropRect = evenSides(o.CropRect);
    const TRect& r = o.CropRect;
    if (r.top > 0 || r.width() > 0 || r.left > 0 || r.height() > 0)
        return QStringLiteral("crop=%1:%2:%3:%4").arg(r.width()).arg(r.height()).arg(r.left).arg(r.top);
    return {};
}

QString PadFilter(int32_t iw, int32_t ih, int32_t ow, int32_t oh) {
    const int64_t g = int64_t(ih) * ow / oh;
    const int64_t l = int64_t(iw) * oh / ow;
    int64_t pw = iw, ph = ih;
    if (g >= iw)
        pw = g;
    else
        ph = l;
    return QStringLiteral("pad=%1:%2:%3:%4").arg(pw).arg(ph).arg((pw - iw) / 2).arg((ph - ih) / 2);
}

QString ScaleChain(const TFileOption& job) {
    const auto& o = job.Options;
    int32_t ow = 0, oh = 0;
    QStringList chain;
    if (o.CropEnabled) {
        // A profile at the movie's own size still wants that size: the cropped part is
        // enlarged to it, as the watermark is mapped to it.
        if (!o.KeepOriginalSize) {
            const TRect r = evenSides(app::MapRect(o.CropRect, o.SourceSize, o.FitSize));
            app::ParseSize(o.Resolution, ow, oh);
            if (r.width() > 0 && r.height() > 0 && ow > 0 && oh > 0) {
                chain << PadFilter(r.width(), r.height(), ow, oh) << scaleFilter(o.Resolution);
            }
        }
    } else if (o.FitSize != o.Resolution) {
        int32_t iw = 0, ih = 0;
        app::ParseSize(o.FitSize, iw, ih);
        app::ParseSize(o.Resolution, ow, oh);
        if (iw > 0 && ih > 0 && ow > 0 && oh > 0) chain << PadFilter(iw, ih, ow, oh) << scaleFilter(o.Resolution);
    }
    return chain.join(QLatin1Char(','));
}

QString FilterGraphFileName(const QString& path) {
    // The name is read three times: by the option splitter (quotes), by the graph parser and by
    // the filter's own options (both take a backslash as "the next character as it stands").
    QString out;
    for (QChar c : path) {
        if (c == QLatin1Char(':')) {
            out += QStringLiteral("\\\\:");
        } else if (c.isLetterOrNumber() || c == QLatin1Char('/') || c == QLatin1Char('.') || c == QLatin1Char('_') ||
                   c == QLatin1Char('-') || c == QLatin1Char('+')) {
            out += c;
        } else if (c == QLatin1Char('"')) {
            out += QStringLiteral("\\\\\\\\\\\\\\\"");  // seven backslashes and the quote
        } else {
            out += QStringLiteral("\\\\\\") + c;
        }
    }
    return out;
}

QString WatermarkGraph(const TFileOption& job, const QString& chain) {
    const auto& o = job.Options;
    if (o.WatermarkKind != 1 || o.WaterMark.PreparedFile.isEmpty()) return chain;
    const QString source = QStringLiteral("movie=%1 [watermark1]").arg(FilterGraphFileName(o.WaterMark.PreparedFile));
    const QString overlay =
        QStringLiteral("overlay=%1:%2 [out]").arg(o.WaterMark.Rect.left).arg(o.WaterMark.Rect.top);
    if (chain.isEmpty()) return source + QStringLiteral("; [in][watermark1] ") + overlay;
    return source + QStringLiteral("; [in] ") + chain + QStringLiteral(" [main]; [main][watermark1] ") + overlay;
}

QString ConversionFilterGraph(const TFileOption& job) { return WatermarkGraph(job, ScaleChain(job)); }

QString DurationText(int64_t microseconds) {
    const double seconds = double(microseconds) / 1000000.0;
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", seconds);
    QString s = QString::fromLatin1(text);
    if (s.contains(QLatin1Char('e'))) {
        s = QString::number(seconds, 'f', 6);
        while (s.endsWith(QLatin1Char('0'))) s.chop(1);
        if (s.endsWith(QLatin1Char('.'))) s.chop(1);
    }
    return s;
}

QString MainOutputOptions(const TFileOption& job, const QString& graph, int64_t videoDuration,
                          int videoStreamIndex, int audioStreamIndex) {
    const auto& o = job.Options;
    QString options;
    formats::AppendProfileArguments(job, options);
    if (!o.DisableVideo && !graph.isEmpty()) options += QStringLiteral(" -vf \"") + graph + QLatin1Char('"');
    options += QStringLiteral(" -sn");
    if (!o.DisableVideo) options += QStringLiteral(" -t ") + DurationText(videoDuration);
    if (!o.DisableVideo && !o.AudioDisabled)
        options += QStringLiteral(" -map 0:%1 -map 1:%2").arg(videoStreamIndex).arg(audioStreamIndex);
    return options;
}

QString OutputFilePath(const TFileOption& job, const QString& outputFolder, bool overwrite) {
    QString folder = outputFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QString path = folder + job.Options.OutFileName + job.Options.FileExt;
    return overwrite ? path : app::UniqueFileName(path);
}

QString OutputFolderProblem(const QString& folder) {
    // A file really made there is the only sure test: permissions, read-only mounts and the
    // super-user's rights all answer through it.
    if (!folder.isEmpty() && app::EnsureFolder(folder)) {
        QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".quellmark-XXXXXX")));
        if (probe.open()) return QString();
    }
    return QStringLiteral("Cannot write to the output folder %1.").arg(QDir::toNativeSeparators(folder));
}

void PrepareWatermark(TFileOption& job, const QString& workFolder) {
    auto& o = job.Options;
    if (o.WatermarkKind != 1 || !QFileInfo(o.WaterMark.ImageFile).isFile()) return;
    TRect r = o.WaterMark.Rect;
    if (o.CropEnabled) {
        r.left -= o.CropRect.left;
        r.right -= o.CropRect.left;
        r.top -= o.CropRect.top;
        r.bottom -= o.CropRect.top;
        r = evenSides(r);
        if (!o.KeepOriginalSize)
            r = app::MapRect(r, sizeText(o.CropRect.width(), o.CropRect.height()), o.Resolution);
    } else {
        r = app::MapRect(r, o.SourceSize, o.Resolution);
    }
    o.WaterMark.Rect = r;
    if (r.width() == 0 || r.height() == 0) return;
    // A name of plain characters in a folder of our own: the graph reads it back as text.
    QDir().mkpath(workFolder);
    QString target;
    for (int n = 1;; ++n) {
        target = QDir(workFolder).filePath(QStringLiteral("watermark%1.png").arg(n));
        if (!QFileInfo::exists(target)) break;
    }
    crop::ResizeImageFileWithOpacity(o.WaterMark.ImageFile, target, r.width(), crop::kInterpolationHigh,
                                     o.WaterMark.Opacity, r.height());
    if (QFileInfo::exists(target)) {
        LogInfo(QStringLiteral("SaveWaterMark"));
        o.WaterMark.PreparedFile = target;
    }
}

bool NeedsAudioLoop(const TFileOption& job, int64_t videoDuration, int64_t audioDuration, int32_t& loopCount) {
    loopCount = 0;
    const auto& o = job.Options;
    if (o.AudioDisabled || o.DisableVideo || o.ReplaceAudioMode != 2) return false;
    if (!QFileInfo(o.ReplaceAudioFile).isFile()) return false;
    if (videoDuration <= 0 || audioDuration <= 0 || audioDuration >= videoDuration) return false;
    const int64_t count = videoDuration / audioDuration + (videoDuration % audioDuration > 0 ? 1 : 0);
    loopCount = int32_t(std::min<int64_t>(count, INT32_MAX));
    return true;
}

bool NeedsAudioLoop(const TFileOption& job, int64_t videoDuration, engine::TFFDecoder& info, int32_t& loopCount) {
    loopCount = 0;
    const auto& o = job.Options;
    if (o.AudioDisabled || o.DisableVideo || o.ReplaceAudioMode != 2 || !QFileInfo(o.ReplaceAudioFile).isFile())
        return false;
    int64_t audioDuration = 0;
    if (info.LoadFile(o.ReplaceAudioFile.toStdString())) {
        engine::TFileStreamInfo stream;
        if (info.GetFileStreamInfo(stream) && stream.Duration > 0) audioDuration = stream.Duration;
        info.CloseFile();
    }
    return NeedsAudioLoop(job, videoDuration, audioDuration, loopCount);
}

bool AddAudioLoopTask(engine::TFFEncoder& encoder, TFileOption& job, int32_t loopCount, const QString& tempFolder,
                      QString& loopedFile, QString& error) {
    auto& o = job.Options;
    const std::string source = o.ReplaceAudioFile.toStdString();
    for (int32_t i = 0; i < loopCount; ++i) {
        engine::TInputOptions input;
        const int r = encoder.TaskCount() == 0 ? encoder.AddTask(source, &input) : encoder.AddInput(0, source, &input);
        if (r < 0) {
            error = QStringLiteral("File open error: ") + QString::fromStdString(encoder.LastErrorMessage());
            LogError(error);
            return false;
        }
    }
    engine::TOutputOptions output;
    output.Join = true;
    output.Options = "-c:a copy -b:a 128k -ar 44100 -sn";
    const QString suffix = QFileInfo(o.ReplaceAudioFile).suffix();
    QString folder = tempFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QString target = folder + QStringLiteral("brvLA_temp") + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    if (encoder.SetOutput(0, target.toStdString(), &output) < 0) {
        error = QStringLiteral("Cannot do convert, error: ") + QString::fromStdString(encoder.LastErrorMessage());
        LogError(error);
        return false;
    }
    o.ReplaceAudioFile = loopedFile = target;
    return true;
}

QString ReplacementSound(const TFileOption& job) {
    const auto& o = job.Options;
    if (o.ReplaceAudioMode <= 0 || o.ReplaceAudioFile.isEmpty() || o.DisableVideo) return {};
    return o.ReplaceAudioFile;
}

}  // namespace qm::conversion
