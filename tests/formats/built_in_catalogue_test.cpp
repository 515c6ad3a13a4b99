// The delivered catalogue: its entries hang together, and every format's default profile makes
// the file it promises.
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <QProcess>
#include <QProcessEnvironment>

#include "argument_runner.h"
#include "engine/library_loader.h"
#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

class BuiltInCatalogueTest : public FormatsTest {
protected:
    void SetUp() override {
        FormatsTest::SetUp();
        SetProgramDir(QFileInfo(QStringLiteral(QM_CLI_PATH)).absolutePath());
        ASSERT_TRUE(QFileInfo::exists(BuiltInFormatFileName())) << BuiltInFormatFileName().toStdString();
        ASSERT_TRUE(LoadFormatFile(BuiltInFormatFileName(), BuiltInFormats)) << LogText().toStdString();
        ASSERT_TRUE(LoadGroupFile()) << LogText().toStdString();
    }
    const TGroupFormat* Group(int32_t order) const {
        for (const TGroupFormat& g : FormatGroups)
            if (g.Order == order) return &g;
        return nullptr;
    }
};

bool Listed(const QString& list, const QString& entry) {
    return app::SplitText(list, QStringLiteral(",")).contains(entry);
}

TEST_F(BuiltInCatalogueTest, EntriesHangTogether) {
    for (const auto& [order, type] : {std::pair{AudioGroupID, 0}, {RecentGroupID, 2}, {UserGroupID, 2}}) {
        const TGroupFormat* g = Group(order);
        ASSERT_NE(g, nullptr) << order;
        EXPECT_EQ(g->FormatType, type) << order;
    }
    EXPECT_GE(CountGroups(0), 3);
    EXPECT_GE(CountGroups(1), 3);
    for (const TGroupFormat& g : FormatGroups) EXPECT_FALSE(g.IconImage.isNull()) << g.Name.toStdString();
    for (const char* skin : {"Move.bmp", "Select.bmp", "Expand.png"})
        EXPECT_FALSE(QImage(ProgramDir() + "skin/Format/" + skin).isNull()) << skin;

    TFormatInfo def;
    ASSERT_TRUE(FindFormat(DefaultFormatID, def));
    EXPECT_EQ(def.Format, ".mp4");
    EXPECT_EQ(def.VideoEncoder, "h.264");
    EXPECT_EQ(def.AudioEncoder, "aac");

    QSet<int32_t> ids;
    bool psp = false;
    for (const TFormatInfo& f : BuiltInFormats) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(f.ID).arg(f.Name).toStdString());
        EXPECT_TRUE(f.ID >= 1 && f.ID <= UserFormatIDThreshold);
        EXPECT_FALSE(ids.contains(f.ID));
        ids << f.ID;
        const TGroupFormat* g = Group(f.GroupID);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->FormatType, f.FormatType);
        EXPECT_NE(f.GroupID, RecentGroupID);
        EXPECT_NE(f.GroupID, UserGroupID);
        EXPECT_TRUE(f.Format.startsWith('.'));
        EXPECT_FALSE(f.IconImage.isNull());
        EXPECT_FALSE(f.description.isEmpty());
        psp = psp || (f.Name == "PSP" && g->FormatType == 1);

        // Only names the argument builder knows, and defaults that their own lists offer.
        if (!f.VideoEncoderList.isEmpty()) {
            for (const QString& v : app::SplitText(f.VideoEncoderList, ","))
                EXPECT_FALSE(VideoEncoderName(v).isEmpty()) << v.toStdString();
        }
        for (const QString& a : app::SplitText(f.AudioEncoderlist, ","))
            EXPECT_FALSE(AudioEncoderName(a).isEmpty()) << a.toStdString();
        EXPECT_TRUE(Listed(f.AudioEncoderlist, f.AudioEncoder));
        EXPECT_TRUE(Listed(f.SampleRateList, QStringLiteral("%1 Hz").arg(f.SampleRate)));
        EXPECT_TRUE(Listed(f.ChannelList, f.Channel == 2 ? "2 Channels Stereo" : "1 Channel Mono"));
        EXPECT_TRUE(Listed(f.AudioBitRateList, QStringLiteral("%1 kbps").arg(f.AudioBitrate)));
        EXPECT_GT(f.AudioBitrate, 0);
        if (f.GroupID == AudioGroupID) {
            EXPECT_TRUE(f.VideoEncoder.isEmpty() && f.VideoEncoderList.isEmpty());
            continue;
        }
        EXPECT_TRUE(Listed(f.VideoEncoderList, f.VideoEncoder));
        EXPECT_TRUE(Listed(f.ResolutionList, f.Resolution));
        EXPECT_TRUE(Listed(f.FrameRateList, f.FrameRate == KeepOriginal ? f.FrameRate : f.FrameRate + " fps"));
        EXPECT_TRUE(Listed(f.VideoBitRateList, f.VideoBitrate == -1 ? KeepOriginal : QStringLiteral("%1 kbps").arg(f.VideoBitrate)));
        if (f.VideoEncoderList.contains("PAL")) {
            const int n = app::SplitText(f.VideoEncoderList, ",").size();
            EXPECT_EQ(app::SplitText(f.ResolutionList, ",").size(), n);
            EXPECT_EQ(app::SplitText(f.FrameRateList, ",").size(), n);
        }
    }
    EXPECT_TRUE(psp);
}

TEST_F(BuiltInCatalogueTest, StartUpPicksTheStoredProfileAndItsFormat) {
    SetEncoderProbe([](const QString& name) { return name != "libopencore_amrnb"; });
    LoadFormatCatalogue();  // nothing stored yet
    EXPECT_EQ(CurrentFormat.ID, DefaultFormatID);
    EXPECT_EQ(CurrentOptions.FormatID, DefaultFormatID);
    EXPECT_EQ(CurrentOptions.VideoCodec, "h.264");
    EXPECT_FALSE(FormatGroups.isEmpty());
    TFormatInfo amr;
    ASSERT_TRUE(FindFormat(2009, amr));
    EXPECT_TRUE(amr.Skip);

    TFormatInfo mine = SampleAudioFormat(4001);
    mine.Name = "Mine";
    ASSERT_TRUE(AppendFormatToFile(mine, UserFormatFileName()));
    TVCOutPutOptions stored;
    stored.FormatID = 4001;
    stored.AudioCodec = "flac";
    SaveDefaultOptions(stored);
    LoadFormatCatalogue();
    EXPECT_EQ(CurrentFormat.Name, "Mine");
    EXPECT_EQ(CurrentOptions.AudioCodec, "flac");
    EXPECT_EQ(UserFormats.size(), 1);
}

TEST_F(BuiltInCatalogueTest, CommandLineListing) {
    QProcess p;
    // A home of its own, so the user's own formats of this machine stay out of it.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir_.path());
    env.remove("XDG_DOCUMENTS_DIR");
    env.remove("XDG_CONFIG_HOME");
    p.setProcessEnvironment(env);
    TFormatInfo mine = SampleAudioFormat(4001);
    mine.Name = "Mine";
    QDir().mkpath(dir_.path() + "/Documents/Brelvik/Quellmark Converter");
    ASSERT_TRUE(AppendFormatToFile(mine, dir_.path() + "/Documents/Brelvik/Quellmark Converter/UserFormat.dat"));
    p.start(QStringLiteral(QM_CLI_PATH), {"formats", "--json"});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QJsonObject root = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    EXPECT_EQ(root["groups"].toArray().size(), FormatGroups.size());
    QHash<int, QJsonObject> byId;
    for (const QJsonValue& v : root["formats"].toArray()) byId.insert(v["id"].toInt(), v.toObject());
    ASSERT_TRUE(byId.contains(DefaultFormatID));
    EXPECT_EQ(byId[DefaultFormatID]["extension"], ".mp4");
    EXPECT_EQ(byId[DefaultFormatID]["videoCodec"], "h.264");
    EXPECT_EQ(byId[DefaultFormatID]["available"], true);
    EXPECT_EQ(byId.size(), BuiltInFormats.size() + 1);
    EXPECT_EQ(byId[4001]["name"], "Mine");

    p.start(QStringLiteral(QM_CLI_PATH), {"formats"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(text.contains("Audio Only")) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("4001 +Mine +\\.mp3")));
    EXPECT_TRUE(text.contains(QRegularExpression("1004 +MP4 +\\.mp4 +video h\\.264")));

    p.start(QStringLiteral(QM_CLI_PATH), {"formats", "--bogus"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 2);
}

// What ffprobe calls the containers and codecs the catalogue promises.
const QHash<QString, QString> kContainers = {
    {".mp4", "mov,mp4,m4a,3gp,3g2,mj2"}, {".mov", "mov,mp4,m4a,3gp,3g2,mj2"}, {".3gp", "mov,mp4,m4a,3gp,3g2,mj2"},
    {".mkv", "matroska,webm"}, {".webm", "matroska,webm"}, {".avi", "avi"}, {".wmv", "asf"}, {".wma", "asf"},
    {".flv", "flv"}, {".mpg", "mpeg"}, {".dv", "dv"}, {".mp3", "mp3"}, {".mp2", "mp3"}, {".aac", "aac"},
    {".wav", "wav"}, {".flac", "flac"}, {".ogg", "ogg"}, {".ac3", "ac3"}, {".amr", "amr"},
};
const QHash<QString, QString> kVideoCodecs = {
    {"h.264", "h264"}, {"xvid", "mpeg4"}, {"divx", "mpeg4"}, {"mpeg-4", "mpeg4"}, {"mjpeg", "mjpeg"},
    {"wmv1", "wmv1"}, {"wmv2", "wmv2"}, {"msmpegv2", "msmpeg4v2"}, {"msmpegv3", "msmpeg4v3"}, {"flv", "flv1"},
    {"vp8", "vp8"}, {"mpeg-1", "mpeg1video"}, {"mpeg-2", "mpeg2video"}, {"h.263", "h263"},
    {"dvvideo pal", "dvvideo"}, {"dvvideo ntsc", "dvvideo"}, {"realvideo", "rv20"},
};
const QHash<QString, QString> kAudioCodecs = {
    {"mp3", "mp3"}, {"aac", "aac"}, {"pcm", "pcm_s16le"}, {"flac", "flac"}, {"vorbis", "vorbis"}, {"ac3", "ac3"},
    {"wma7", "wmav1"}, {"wma8", "wmav2"}, {"mp2", "mp2"}, {"amr_nb", "amr_nb"},
};

QJsonObject Probe(const QString& file) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries",
                        "format=format_name:stream=codec_type,codec_name,width,height,sample_rate,channels", "-of",
                        "json", file});
    p.waitForFinished(60000);
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

class ClipMaker {
public:
    explicit ClipMaker(QString folder) : folder_(std::move(folder)) {}
    // The captured picture: MPEG-4 at the capture size and the movie's rate.
    QString Video(const QString& size) {
        const QString path = folder_ + "/clip_" + size + ".mp4";
        if (!QFileInfo::exists(path))
            Make({"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=12:duration=1", "-c:v", "mpeg4", "-q:v", "3", path});
        return path;
    }
    // The captured sound.
    QString Sound() {
        const QString path = folder_ + "/sound.wav";
        if (!QFileInfo::exists(path))
            Make({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=1", "-ac", "2", "-c:a", "pcm_s16le", path});
        return path;
    }

private:
    static void Make(QStringList args) {
        args.prepend("-y");
        args.prepend("error");
        args.prepend("-loglevel");
        QProcess p;
        p.start("ffmpeg", args);
        p.waitForFinished(60000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    QString folder_;
};

TEST_F(BuiltInCatalogueTest, EveryDefaultProfileMakesTheFileItPromises) {
    using namespace qm::engine;
    ASSERT_TRUE(FFLoader().LoadLibs(AllLibraries)) << FFLoader().LastError();
    HideUnavailableFormats(BuiltInFormats);

    EngineRunner runner;
    ClipMaker clips(dir_.path());
    int made = 0;
    for (const TFormatInfo& f : BuiltInFormats) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(f.ID).arg(f.Name).toStdString());
        if (f.Skip) {
            // Only what Debian's FFmpeg leaves out may be missing.
            EXPECT_EQ(MissingEncoders(f), QStringList{"libopencore_amrnb"});
            continue;
        }
        ClearOptions(CurrentOptions);
        ASSERT_TRUE(OptionsFromFormat(CurrentOptions, f.ID));
        TFileOption job;
        job.SWFInfo.FrameRate = "12";
        job.Options.SourceSize = "550x400";  // the stage size most movies have
        PrepareFileOption(job);
        const TVCOutPutOptions& o = job.Options;

        QString options;
        AppendProfileArguments(job, options);
        QStringList inputs;
        if (!o.DisableVideo) {
            inputs << clips.Video(o.FitSize);
            if (o.FitSize != o.Resolution) options += " -vf \"scale=" + QString(o.Resolution).replace('x', ':') + "\"";
        }
        inputs << clips.Sound();
        options += " -sn";
        if (!o.DisableVideo) options += " -t 1 -map 0:0 -map 1:0";
        const QString output = dir_.path() + QStringLiteral("/out_%1").arg(f.ID) + o.FileExt;
        QString error;
        if (!runner.Run(inputs, options, output, error)) {
            ADD_FAILURE() << options.toStdString() << "\n" << error.toStdString();
            continue;
        }

        const QJsonObject probe = Probe(output);
        EXPECT_EQ(probe["format"]["format_name"].toString(), kContainers.value(o.FileExt)) << o.FileExt.toStdString();
        bool sawVideo = false, sawAudio = false;
        for (const QJsonValue& v : probe["streams"].toArray()) {
            const QJsonObject s = v.toObject();
            if (s["codec_type"] == "video") {
                sawVideo = true;
                EXPECT_EQ(s["codec_name"].toString(), kVideoCodecs.value(o.VideoCodec.toLower()));
                EXPECT_EQ(QStringLiteral("%1x%2").arg(s["width"].toInt()).arg(s["height"].toInt()), o.Resolution);
            } else if (s["codec_type"] == "audio") {
                sawAudio = true;
                EXPECT_EQ(s["codec_name"].toString(), kAudioCodecs.value(o.AudioCodec.toLower()));
                EXPECT_EQ(s["sample_rate"].toString(), QString::number(o.SampleRate));
                EXPECT_EQ(s["channels"].toInt(), o.Channels);
            }
        }
        EXPECT_EQ(sawVideo, !o.DisableVideo);
        EXPECT_TRUE(sawAudio);
        ++made;
    }
    EXPECT_GT(made, 30);
}

}  // namespace
}  // namespace qm::formats::test
