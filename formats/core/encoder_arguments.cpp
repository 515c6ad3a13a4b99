// From a profile to the job's sizes and to the engine's argument pieces.
#include <QLocale>

#include <cmath>

#include "formats/core/formats_core.h"

namespace qm::formats {

namespace {

struct CodecRow {
    const char* display;
    const char* encoder;
};

constexpr CodecRow kVideoCodecs[] = {
    {"msmpegv2", "msmpeg4v2"}, {"msmpegv3", "msmpeg4"},  {"WMV1", "wmv1"},       {"WMV2", "wmv2"},
    {"h.264", "libx264"},      {"Xvid", "mpeg4"},        {"Divx", "mpeg4"},      {"vp8", "libvpx"},
    {"dvvideo", "dvvideo"},    {"MPEG-1", "mpeg1video"}, {"MPEG-2", "mpeg2video"}, {"RealVideo", "rv20"},
    {"MPEG-4", "mpeg4"},       {"flv", "flv"},           {"MJPEG", "mjpeg"},     {"h.263", "h263"},
};

constexpr CodecRow kAudioCodecs[] = {
    {"mp3", "libmp3lame"}, {"flac", "flac"}, {"ac3", "ac3"},          {"wma7", "wmav1"},
    {"wma8", "wmav2"},     {"pcm", "pcm_s16le"}, {"mp2", "mp2"},      {"Vorbis", "libvorbis"},
    {"aac", "aac"},        {"AMR_NB", "libopencore_amrnb"},
};

template <size_t N>
QString lookUp(const CodecRow (&table)[N], const QString& display) {
    for (const CodecRow& row : table)
        if (display.compare(QLatin1String(row.display), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(row.encoder);
    return {};
}

QString extensionOf(const QString& fileExt) {
    const qsizetype dot = fileExt.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileExt.mid(dot);
}

// Frame rates are written with "." or with the system's decimal separator.
bool readRate(const QString& text, double& value) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    value = locale.toDouble(app::UseLocaleDecimal(text.trimmed()), &ok);
    return ok && std::isfinite(value);
}

QString sizeText(int64_t w, int64_t h) { return QStringLiteral("%1x%2").arg(w).arg(h); }

// Even toward zero, but never below the smallest picture an encoder takes.
int64_t evenSide(int64_t v) { return std::max<int64_t>(2, (v / 2) * 2); }

}  // namespace

void PrepareFileOption(TFileOption& fileOption) {
    TVCOutPutOptions& o = fileOption.Options;
    const TVCOutPutOptions& c = CurrentOptions;
    o.FormatID = c.FormatID;
    o.FileExt = c.FileExt;
    o.Name = c.Name;
    o.VideoCodec = c.VideoCodec;
    o.FrameRate = c.FrameRate;
    o.VideoBitRate = c.VideoBitRate;
    o.DisableVideo = c.DisableVideo;
    o.AudioDisabled = c.AudioDisabled;
    o.AudioCodec = c.AudioCodec;
    o.Channels = c.Channels;
    o.SampleRate = c.SampleRate;
    o.AudioBitRate = c.AudioBitRate;
    o.IsPSP = o.Name == QLatin1String("PSP");
    if (o.DisableVideo) {
        o.KeepOriginalSize = false;
        o.Resolution = o.FitSize = QStringLiteral("480x320");
        return;
    }
    int32_t sw = 0, sh = 0;
    app::ParseSize(o.SourceSize, sw, sh);
    if (c.Resolution != KeepOriginal) {
        o.Resolution = c.Resolution;
        o.KeepOriginalSize = false;
    } else {
        o.Resolution = sizeText(evenSide(sw), evenSide(sh));
        o.KeepOriginalSize = true;
    }
    int32_t rw = 0, rh = 0;
    app::ParseSize(o.Resolution, rw, rh);
    if (sw == 0 || sh == 0) {
        o.FitSize = o.Resolution;
        return;
    }
    int64_t w = int64_t(sw) * rh / sh;
    int64_t h = int64_t(sh) * rw / sw;
    if (rw < w)
        w = rw;
    else if (rh < h)
        h = rh;
    o.FitSize = sizeText(evenSide(w), evenSide(h));
}

QString VideoEncoderName(const QString& displayName) {
    if (displayName.contains(QLatin1String("dvvideo"))) return lookUp(kVideoCodecs, QStringLiteral("dvvideo"));
    return lookUp(kVideoCodecs, displayName);
}

QString AudioEncoderName(const QString& displayName) {
    if (displayName.compare(QLatin1String("aac"), Qt::CaseInsensitive) == 0)
        return EngineHasEncoder(QStringLiteral("libfaac")) ? QStringLiteral("libfaac")
                                                           : QStringLiteral("aac -strict experimental");
    return lookUp(kAudioCodecs, displayName);
}

int32_t AutomaticVideoBitRate(const QString& resolution, double frameRate) {
    int32_t w = 0, h = 0;
    app::ParseSize(resolution, w, h);
    const double p = double(w) * double(h);
    const double d = p < 414720 ? 46 : 63;
    return app::RoundHalfEven(p * 12 * frameRate / 1024 / d);
}

void AppendProfileArguments(const TFileOption& fileOption, QString& options) {
    const TVCOutPutOptions& o = fileOption.Options;
    const auto add = [&](const QString& piece) { options += QLatin1Char(' ') + piece; };
    if (!o.AudioDisabled) {
        add(QStringLiteral("-c:a ") + AudioEncoderName(o.AudioCodec));
        add(QStringLiteral(" -b:a %1k").arg(o.AudioBitRate));
        add(QStringLiteral(" -ar %1").arg(o.SampleRate));
        add(QStringLiteral("-ac %1").arg(o.Channels));
    }
    if (o.DisableVideo) return;

    const QString ext = extensionOf(o.FileExt);
    if (ext.compare(QLatin1String(".webm"), Qt::CaseInsensitive) == 0)
        add(QStringLiteral("-f webm"));
    else if (o.IsPSP)
        add(QStringLiteral("-f psp"));

    if (o.VideoCodec.compare(QLatin1String("h.264"), Qt::CaseInsensitive) == 0) {
        add(QStringLiteral("-vprofile baseline"));
        add(QStringLiteral("-preset ") + (ext.compare(QLatin1String(".mp4"), Qt::CaseInsensitive) == 0
                                              ? QStringLiteral("ultrafast")
                                              : QStringLiteral("veryfast")));
        add(QStringLiteral("-threads 0"));
    }

    QString r = o.FrameRate == KeepOriginal ? fileOption.SWFInfo.FrameRate : o.FrameRate;
    // MPEG-1 and MPEG-2 take no rate below 20 frames/s, whether the profile names the codec by
    // its display name or its encoder name.
    const QString encoder = VideoEncoderName(o.VideoCodec);
    const bool mpeg12 = o.VideoCodec == QLatin1String("mpeg1video") || o.VideoCodec == QLatin1String("mpeg2video") ||
                        encoder == QLatin1String("mpeg1video") || encoder == QLatin1String("mpeg2video");
    double rate = 0;
    const bool rateIsNumber = readRate(r, rate);
    if (mpeg12 && rateIsNumber && std::trunc(rate) < 20) {
        r = QStringLiteral("20");
        rate = 20;
    }

    if (o.VideoCodec.contains(QLatin1String("dvvideo")))
        add(QStringLiteral("-target ") + (o.VideoCodec.contains(QLatin1String("PAL")) ? QStringLiteral("pal-dv")
                                                                                     : QStringLiteral("ntsc-dv")));

    if (o.VideoCodec.compare(QLatin1String("divx"), Qt::CaseInsensitive) == 0)
        add(QStringLiteral("-c:v mpeg4 -tag:v DIVX -vstrict unofficial"));
    else if (o.VideoCodec.compare(QLatin1String("Xvid"), Qt::CaseInsensitive) == 0)
        add(QStringLiteral("-c:v mpeg4 -tag:v Xvid -vstrict unofficial"));
    else
        add(QStringLiteral(" -c:v ") + encoder);

    add(QStringLiteral("-r ") + r);

    int32_t bitRate = o.VideoBitRate;
    if (bitRate == -1) {
        if (!rateIsNumber)
            throw app::ConversionError(QStringLiteral("'%1' is not a valid frame rate").arg(r));
        bitRate = AutomaticVideoBitRate(o.Resolution, rate);
    }
    add(QStringLiteral(" -b %1k").arg(bitRate));
}

}  // namespace qm::formats
