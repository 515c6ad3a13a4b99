// The format window's values: the checks behind its OK button, the profile taken from them
// and the user format saved from them.
#include "formats/core/formats_core.h"

#include "engine/media_info.h"

#include <limits>

namespace qm::formats {

namespace {

const QString kAuto = QStringLiteral("Auto");

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The format's own entries pass whatever the general rules say: a window that offers an entry
// must accept it.
bool Listed(const QString& list, const QString& text) {
    return !text.isEmpty() && app::SplitText(list, QStringLiteral(",")).contains(text);
}

// Digits and decimal points from the start, as far as they can make one number.
QString FrameRateDigits(const QString& text) {
    QString copied;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (IsDigit(c)) {
            copied += c;
            continue;
        }
        if (c != QLatin1Char('.')) break;
        const bool afterPoint = i > 0 && text[i - 1] == QLatin1Char('.');
        const bool last = i + 1 == text.size();
        if (afterPoint || last || text[i + 1] == QLatin1Char('.')) break;
        copied += c;
    }
    return copied;
}

double FrameRateNumber(const QString& copied) {
    bool ok = false;
    const double value = copied.toDouble(&ok);
    if (!ok)
        throw app::ConversionError(QStringLiteral("'%1' is not a valid floating point value").arg(copied));
    return value;
}

// The integer before `word` in a trimmed box text ("2 Channels Stereo", "44100 Hz").
bool NumberBefore(const QString& text, const QString& word, int32_t& out) {
    const QString t = text.trimmed();
    const qsizetype at = t.indexOf(word);
    return at >= 0 && app::ParseInt32(t.left(at).trimmed(), out);
}

QString TwoLines(const char* first, const char* second) {
    return QString::fromLatin1(first) + QStringLiteral("\r\n") + QString::fromLatin1(second);
}

}  // namespace

// Only the ranges: sizes the catalogue offers, such as 854x480, are not multiples of 4.
bool CheckResolution(const QString& text) {
    if (text.count(QLatin1Char('x')) != 1) return false;
    const qsizetype x = text.indexOf(QLatin1Char('x'));
    const QString parts[2] = {text.left(x), text.mid(x + 1)};
    int32_t values[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (parts[i].isEmpty()) return false;
        if (!app::ParseInt32(parts[i], values[i]))
            throw app::ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(parts[i]));
    }
    return values[0] >= 80 && values[0] <= 1920 && values[1] >= 80 && values[1] <= 1280;
}

QString ParseFrameRate(const QString& text) {
    if (text.isEmpty()) return {};
    if (text[0] < QLatin1Char('1') || text[0] > QLatin1Char('6')) return {};
    if (text.size() > 1 && !IsDigit(text[1])) return {};
    const QString copied = FrameRateDigits(text);
    const double value = FrameRateNumber(copied);
    return value >= 12 && value <= 60 ? copied : QString();
}

int32_t LeadingNumber(const QString& text) {
    int64_t value = 0;
    for (const QChar c : text) {
        if (!IsDigit(c)) break;
        value = value * 10 + (c.unicode() - '0');
        if (value > std::numeric_limits<int32_t>::max()) return 0;
    }
    return int32_t(value);
}

TFormatValueCheck ValidateFormatValues(const TFormatInfo& format, const TFormatValues& values) {
    TFormatValueCheck check;
    auto fail = [&check](TFormatValueBox box, const QString& message) {
        check.Box = box;
        check.Message = message;
        return check;
    };
    if (!format.VideoEncoder.isEmpty()) {
        const QString& r = values.Resolution;
        try {
            if (r != KeepOriginal && !Listed(format.ResolutionList, r) && !CheckResolution(r))
                return fail(TFormatValueBox::Resolution,
                            TwoLines("Please input an appropriate resolution.",
                                     "(eg: 640x480.Both values must be multiples of 4 and range from 80x80 to 1920x1280)"));
        } catch (const app::ConversionError& e) {
            return fail(TFormatValueBox::Resolution, e.text());
        }
        const QString& f = values.FrameRate;
        try {
            const bool listed = Listed(format.FrameRateList, f) && !FrameRateDigits(f).isEmpty();
            if (f != KeepOriginal && !listed && ParseFrameRate(f).isEmpty())
                return fail(TFormatValueBox::FrameRate,
                            TwoLines("Please input an appropriate Frame Rate.",
                                     "(eg: 12.The value must be range from 12 ps to 60 fps)"));
        } catch (const app::ConversionError& e) {
            return fail(TFormatValueBox::FrameRate, e.text());
        }
        const QString& b = values.VideoBitRate;
        if (b != kAuto && b != KeepOriginal && LeadingNumber(b) == 0)
            return fail(TFormatValueBox::VideoBitRate,
                        TwoLines("Please input an appropriate Video BitRate.", "(eg: 512)"));
    }
    const QString& a = values.AudioBitRate;
    if (a != KeepOriginal && LeadingNumber(a) == 0)
        return fail(TFormatValueBox::AudioBitRate, TwoLines("Please input an appropriate Audio BitRate.", "(eg: 128)"));
    return check;
}

void TakeFormatValues(const TFormatInfo& format, const TFormatValues& values, TVCOutPutOptions& options,
                      TVCOutPutOptions* movie) {
    options.FormatID = format.ID;
    options.FileExt = format.Format;
    options.Name = format.Name;
    // Format 2 keeps the video values it had (no catalogue format carries that id today).
    if (format.ID != 2) {
        options.VideoCodec = values.VideoEncoder.trimmed();
        if (values.FrameRate == KeepOriginal) {
            options.FrameRate = KeepOriginal;
        } else {
            QString rate;
            try {
                rate = ParseFrameRate(values.FrameRate);
            } catch (const app::ConversionError&) {
            }
            // An entry the format offers outside 12 to 60 ("10 fps") still means its number.
            if (rate.isEmpty() && Listed(format.FrameRateList, values.FrameRate))
                rate = FrameRateDigits(values.FrameRate);
            options.FrameRate = rate;
        }
        const QString& b = values.VideoBitRate;
        options.VideoBitRate = (b == kAuto || b == KeepOriginal) ? -1 : LeadingNumber(b);
        options.Resolution = values.Resolution;
    }
    options.AudioCodec = values.AudioEncoder.trimmed();
    int32_t n = 0;
    if (NumberBefore(values.Channel, QStringLiteral("Channel"), n)) options.Channels = n;
    if (NumberBefore(values.SampleRate, QStringLiteral("Hz"), n)) options.SampleRate = n;
    options.AudioBitRate = LeadingNumber(values.AudioBitRate);
    options.AudioDisabled = !values.AudioEnabled;
    if (movie) {
        if (values.ReplaceAudio && !values.AudioFile.isEmpty()) {
            movie->ReplaceAudioMode = values.Loop ? 2 : 1;
            movie->ReplaceAudioFile = values.AudioFile;
        } else {
            movie->ReplaceAudioMode = 0;
        }
        if (!values.AudioFile.isEmpty()) movie->ReplaceAudioFile = values.AudioFile;
    }
}

TFormatInfo UserFormatFrom(const TFormatInfo& base, const TVCOutPutOptions& options, const QString& name,
                           const QString& description) {
    TFormatInfo f = base;
    f.Name = name.trimmed();
    f.description = description.trimmed();
    f.GroupID = UserGroupID;
    f.ID = NextUserFormatID();
    f.FormatType = 2;
    f.VideoEncoder = options.VideoCodec;
    f.VideoBitrate = options.VideoBitRate;
    f.FrameRate = options.FrameRate;
    f.Resolution = options.Resolution;
    f.AudioEncoder = options.AudioCodec;
    f.SampleRate = options.SampleRate;
    f.Channel = options.Channels;
    f.AudioBitrate = options.AudioBitRate;
    return f;
}

QString AudioFileRefusal(const QString& path) {
    const QString prefix = QStringLiteral("Failed to Load file, error message: ");
    engine::TFFDecoder decoder;
    if (!decoder.LoadFile(path.toStdString())) {
        const QString error = QString::fromStdString(decoder.LastErrorMessage);
        decoder.CloseFile();
        return prefix + error;
    }
    const bool pureAudio = decoder.AudioStreamCount > 0 && decoder.VideoStreamCount == 0;
    decoder.CloseFile();
    return pureAudio ? QString() : prefix + QStringLiteral("not a valid Audio");
}

}  // namespace qm::formats
