// A clean, private world for each test: data folder, program folder and log in a temporary
// folder, empty catalogues and the engine probe restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "app/core/app_core.h"
#include "formats/core/formats_core.h"

namespace qm::formats::test {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class FormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        app::DataDir = dir_.path() + QStringLiteral("/data/");
        QDir().mkpath(app::DataDir);
        SetProgramDir(dir_.path() + QStringLiteral("/program"));
        QDir().mkpath(ProgramDir());
        app::AppLog = std::make_unique<app::TBrvLog>(dir_.path() + QStringLiteral("/log.txt"));
        ResetState();
    }
    void TearDown() override {
        ResetState();
        app::AppLog.reset();
        SetProgramDir(QString());
        app::DataDir.clear();
    }
    static void ResetState() {
        ClearFormatList(BuiltInFormats);
        ClearFormatList(UserFormats);
        ClearGroups();
        CurrentFormat = TFormatInfo{};
        ClearOptions(CurrentOptions);
        SetEncoderProbe({});
    }
    QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    QString LogText() const { return QString::fromUtf8(ReadAll(app::AppLog->path())); }

    QTemporaryDir dir_;
};

// A complete video format, every field set to something recognisable.
inline TFormatInfo SampleVideoFormat(int32_t id) {
    TFormatInfo f;
    f.ID = id;
    f.GroupID = 1;
    f.Skip = true;
    f.FormatType = 0;
    f.Format = QStringLiteral(".mp4");
    f.ICON = QStringLiteral("mp4");
    f.Enabled = true;
    f.Name = QStringLiteral("Mine <&> \"quoted\"");
    f.description = QStringLiteral("Café, two  spaces & more");
    f.VideoEncoderList = QStringLiteral("h.264,,MPEG-4,");
    f.ResolutionList = QStringLiteral("Keep original,640x480");
    f.FrameRateList = QStringLiteral("Keep original,25 fps");
    f.VideoBitRateList = QStringLiteral("Keep original,1000 kbps");
    f.VideoEncoder = QStringLiteral("h.264");
    f.Resolution = QStringLiteral("640x480");
    f.VideoBitrate = -1;
    f.FrameRate = QStringLiteral("25");
    f.AudioEncoderlist = QStringLiteral("aac,mp3");
    f.SampleRateList = QStringLiteral("44100 Hz,48000 Hz");
    f.ChannelList = QStringLiteral("1 Channel Mono,2 Channels Stereo");
    f.AudioBitRateList = QStringLiteral("128 kbps");
    f.AudioEncoder = QStringLiteral("aac");
    f.SampleRate = 48000;
    f.Channel = 2;
    f.AudioBitrate = 128;
    f.Interpolation = 3;
    f.ResizeStyle = 4;
    f.Norm = 5;
    return f;
}

inline TFormatInfo SampleAudioFormat(int32_t id) {
    TFormatInfo f;
    f.ID = id;
    f.GroupID = AudioGroupID;
    f.Format = QStringLiteral(".mp3");
    f.ICON = QStringLiteral("mp3");
    f.Name = QStringLiteral("MP3");
    f.AudioEncoderlist = QStringLiteral("mp3");
    f.SampleRateList = QStringLiteral("44100 Hz");
    f.ChannelList = QStringLiteral("2 Channels Stereo");
    f.AudioBitRateList = QStringLiteral("128 kbps");
    f.AudioEncoder = QStringLiteral("mp3");
    f.VideoBitrate = -1;
    f.SampleRate = 44100;
    f.Channel = 2;
    f.AudioBitrate = 128;
    return f;
}

}  // namespace qm::formats::test
