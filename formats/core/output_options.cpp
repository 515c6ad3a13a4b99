// The user's current profile, its file "FormatDefault.ini" and the recent formats.
#include "formats/core/formats_core.h"

namespace qm::formats {

TVCOutPutOptions CurrentOptions;

namespace {

const QString kFormat = QStringLiteral("Format");
const QString kVideo = QStringLiteral("Video");
const QString kAudio = QStringLiteral("Audio");
const QString kRecent = QStringLiteral("Recent");

app::IniFile defaultFile() { return app::IniFile(FormatDefaultFileName()); }

void writeRecent(const QStringList& ids) {
    QString text;
    for (const QString& id : ids) text += id + QLatin1Char(',');
    defaultFile().WriteString(kFormat, kRecent, text);
}

}  // namespace

void ClearOptions(TVCOutPutOptions& options) { options = TVCOutPutOptions{}; }

bool OptionsFromFormat(TVCOutPutOptions& options, int32_t id) {
    TFormatInfo f;
    if (!FindFormat(id, f)) return false;
    options.FormatID = id;
    options.FileExt = f.Format;
    options.Name = f.Name;
    if (f.GroupID == AudioGroupID || (f.VideoEncoder.isEmpty() && f.Resolution.isEmpty() && f.FrameRate.isEmpty())) {
        options.DisableVideo = true;
        options.VideoCodec.clear();
        options.Resolution.clear();
        options.FrameRate.clear();
        options.VideoBitRate = -1;
    } else {
        options.DisableVideo = false;
        options.VideoCodec = f.VideoEncoder;
        options.Resolution = f.Resolution;
        options.FrameRate = f.FrameRate;
        options.VideoBitRate = f.VideoBitrate;
    }
    options.AudioCodec = f.AudioEncoder;
    options.SampleRate = f.SampleRate;
    options.Channels = f.Channel;
    options.AudioBitRate = f.AudioBitrate;
    return true;
}

void OptionsFromCurrentFormat() { OptionsFromFormat(CurrentOptions, CurrentFormat.ID); }

QString FormatDefaultFileName() { return app::DataDir + QStringLiteral("FormatDefault.ini"); }

void LoadDefaultOptions(TVCOutPutOptions& options, int32_t defaultId) {
    TVCOutPutOptions d;
    OptionsFromFormat(d, defaultId);
    const app::IniFile ini = defaultFile();
    options.FormatID = ini.ReadInteger(kFormat, QStringLiteral("FormatID"), d.FormatID);
    options.FileExt = ini.ReadString(kFormat, QStringLiteral("FileExt"), d.FileExt);
    options.Name = ini.ReadString(kFormat, QStringLiteral("Name"), d.Name);
    options.VideoCodec = ini.ReadString(kVideo, QStringLiteral("Codec"), d.VideoCodec);
    options.Resolution = ini.ReadString(kVideo, QStringLiteral("Resolution"), d.Resolution);
    options.FrameRate = ini.ReadString(kVideo, QStringLiteral("FrameRate"), d.FrameRate);
    options.VideoBitRate = ini.ReadInteger(kVideo, QStringLiteral("BitRate"), d.VideoBitRate);
    options.DisableVideo = ini.ReadBool(kVideo, QStringLiteral("DisableVideo"), d.DisableVideo);
    options.AudioCodec = ini.ReadString(kAudio, QStringLiteral("Codec"), d.AudioCodec);
    options.Channels = ini.ReadInteger(kAudio, QStringLiteral("Channels"), d.Channels);
    options.SampleRate = ini.ReadInteger(kAudio, QStringLiteral("SampleRate"), d.SampleRate);
    options.AudioBitRate = ini.ReadInteger(kAudio, QStringLiteral("BitRate"), d.AudioBitRate);
}

void SaveDefaultOptions(const TVCOutPutOptions& options) {
    const app::IniFile ini = defaultFile();
    ini.WriteString(kFormat, QStringLiteral("FormatID"), QString::number(options.FormatID));
    ini.WriteString(kFormat, QStringLiteral("FileExt"), options.FileExt);
    ini.WriteString(kFormat, QStringLiteral("Name"), options.Name);
    ini.WriteString(kVideo, QStringLiteral("Codec"), options.VideoCodec);
    ini.WriteString(kVideo, QStringLiteral("Resolution"), options.Resolution);
    ini.WriteString(kVideo, QStringLiteral("FrameRate"), options.FrameRate);
    ini.WriteString(kVideo, QStringLiteral("BitRate"), QString::number(options.VideoBitRate));
    ini.WriteBool(kVideo, QStringLiteral("DisableVideo"), options.DisableVideo);
    ini.WriteString(kAudio, QStringLiteral("Codec"), options.AudioCodec);
    ini.WriteString(kAudio, QStringLiteral("Channels"), QString::number(options.Channels));
    ini.WriteString(kAudio, QStringLiteral("SampleRate"), QString::number(options.SampleRate));
    ini.WriteString(kAudio, QStringLiteral("BitRate"), QString::number(options.AudioBitRate));
}

QStringList ReadRecent() {
    QStringList ids;
    for (const QString& piece : defaultFile().ReadString(kFormat, kRecent).split(QLatin1Char(',')))
        if (!piece.isEmpty()) ids << piece;
    return ids;
}

void AddRecent(int32_t id) {
    const QString text = QString::number(id);
    QStringList ids = ReadRecent();
    ids.removeOne(text);
    while (ids.size() >= 12) ids.removeLast();
    ids.prepend(text);
    writeRecent(ids);
}

void RemoveRecent(int32_t id) {
    QStringList ids = ReadRecent();
    ids.removeOne(QString::number(id));
    writeRecent(ids);
}

}  // namespace qm::formats
