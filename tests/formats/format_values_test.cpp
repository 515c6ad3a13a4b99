// The format window's values: the checks behind OK, the profile taken from the boxes and the
// user format saved from them.
#include <QDataStream>
#include <QImage>

#include "engine/library_loader.h"
#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

const QString kResolutionMessage = QStringLiteral(
    "Please input an appropriate resolution.\r\n"
    "(eg: 640x480.Both values must be multiples of 4 and range from 80x80 to 1920x1280)");
const QString kFrameRateMessage = QStringLiteral(
    "Please input an appropriate Frame Rate.\r\n(eg: 12.The value must be range from 12 ps to 60 fps)");
const QString kVideoBitRateMessage = QStringLiteral("Please input an appropriate Video BitRate.\r\n(eg: 512)");
const QString kAudioBitRateMessage = QStringLiteral("Please input an appropriate Audio BitRate.\r\n(eg: 128)");

TEST(CheckResolution, RangesAndShape) {
    struct Case {
        const char* text;
        bool passes;
    } cases[] = {
        {"1920x1280", true}, {"80x80", true},    {"640x480", true},   {"854x480", true},
        {"1921x480", false}, {"640x79", false},  {"79x480", false},   {"640x1281", false},
        {"640X480", false},  {"x480", false},    {"640x", false},     {"640x480x2", false},
        {"640*480", false},  {"", false},        {"-640x480", false},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckResolution(QString::fromLatin1(c.text)), c.passes) << c.text;
}

TEST(CheckResolution, APartThatIsNoNumberIsAConversionError) {
    for (const char* text : {"640xabc", "6 40x480", "640x480 "}) {
        try {
            CheckResolution(QString::fromLatin1(text));
            ADD_FAILURE() << text << " did not raise";
        } catch (const app::ConversionError& e) {
            EXPECT_TRUE(e.text().endsWith(QStringLiteral("' is not a valid integer value"))) << e.what();
        }
    }
    try {
        CheckResolution(QStringLiteral("640xabc"));
    } catch (const app::ConversionError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("'abc' is not a valid integer value"));
    }
}

TEST(ParseFrameRate, NumberAtTheStartFrom12To60) {
    struct Case {
        const char* text;
        const char* result;
    } cases[] = {
        {"12 fps", "12"}, {"60", "60"},    {"12.5 fps", "12.5"}, {"23.976 fps", "23.976"}, {"60 fps", "60"},
        {"11.9", ""},     {"60.5", ""},    {"5", ""},            {"9", ""},                {"61", ""},
        {"7.5", ""},      {"0", ""},       {"", ""},             {"fps", ""},              {"1x", ""},
        {"12..5", "12"},  {"12.", "12"},   {"30.fps", "30."},     {"25fps", "25"},          {"6", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseFrameRate(QString::fromLatin1(c.text)), QString::fromLatin1(c.result)) << c.text;
}

TEST(ParseFrameRate, TwoSeparatePointsAreAConversionError) {
    try {
        ParseFrameRate(QStringLiteral("12.5.5 fps"));
        ADD_FAILURE() << "no error";
    } catch (const app::ConversionError& e) {
        EXPECT_EQ(e.text(), QStringLiteral("'12.5.5' is not a valid floating point value"));
    }
}

TEST(LeadingNumber, DigitsAtTheStart) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"512 kbps", 512}, {"128", 128},  {"0128k", 128},      {"Keep original", 0},
        {"", 0},           {" 512", 0},   {"99999999999", 0},  {"2147483647 kbps", 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(LeadingNumber(QString::fromLatin1(c.text)), c.value) << c.text;
}

TFormatValues GoodVideoValues() {
    TFormatValues v;
    v.VideoEncoder = QStringLiteral("h.264");
    v.Resolution = QStringLiteral("640x480");
    v.FrameRate = QStringLiteral("25 fps");
    v.VideoBitRate = QStringLiteral("1000 kbps");
    v.AudioEncoder = QStringLiteral("aac");
    v.Channel = QStringLiteral("2 Channels Stereo");
    v.SampleRate = QStringLiteral("44100 Hz");
    v.AudioBitRate = QStringLiteral("128 kbps");
    return v;
}

TEST(ValidateFormatValues, FirstFailingBoxAndItsMessage) {
    TFormatInfo format = SampleVideoFormat(1004);
    format.ResolutionList = QStringLiteral("Keep original,640x480,2048x1536");
    format.FrameRateList = QStringLiteral("Keep original,10 fps,25 fps");
    struct Case {
        const char* name;
        std::function<void(TFormatValues&)> change;
        TFormatValueBox box;
        QString message;
    } cases[] = {
        {"good", [](TFormatValues&) {}, TFormatValueBox::None, {}},
        {"keep original", [](TFormatValues& v) { v.Resolution = v.FrameRate = v.AudioBitRate = KeepOriginal; },
         TFormatValueBox::None, {}},
        {"1920x1280", [](TFormatValues& v) { v.Resolution = "1920x1280"; }, TFormatValueBox::None, {}},
        {"1921x480", [](TFormatValues& v) { v.Resolution = "1921x480"; }, TFormatValueBox::Resolution, kResolutionMessage},
        {"640x79", [](TFormatValues& v) { v.Resolution = "640x79"; }, TFormatValueBox::Resolution, kResolutionMessage},
        {"640X480", [](TFormatValues& v) { v.Resolution = "640X480"; }, TFormatValueBox::Resolution, kResolutionMessage},
        {"x480", [](TFormatValues& v) { v.Resolution = "x480"; }, TFormatValueBox::Resolution, kResolutionMessage},
        {"640x480x2", [](TFormatValues& v) { v.Resolution = "640x480x2"; }, TFormatValueBox::Resolution, kResolutionMessage},
        {"640xabc", [](TFormatValues& v) { v.Resolution = "640xabc"; }, TFormatValueBox::Resolution,
         QStringLiteral("'abc' is not a valid integer value")},
        // What the format offers passes even beyond the general ranges.
        {"listed 2048x1536", [](TFormatValues& v) { v.Resolution = "2048x1536"; }, TFormatValueBox::None, {}},
        {"listed 10 fps", [](TFormatValues& v) { v.FrameRate = "10 fps"; }, TFormatValueBox::None, {}},
        {"12 fps", [](TFormatValues& v) { v.FrameRate = "12 fps"; }, TFormatValueBox::None, {}},
        {"60", [](TFormatValues& v) { v.FrameRate = "60"; }, TFormatValueBox::None, {}},
        {"11.9", [](TFormatValues& v) { v.FrameRate = "11.9"; }, TFormatValueBox::FrameRate, kFrameRateMessage},
        {"60.5", [](TFormatValues& v) { v.FrameRate = "60.5"; }, TFormatValueBox::FrameRate, kFrameRateMessage},
        {"5", [](TFormatValues& v) { v.FrameRate = "5"; }, TFormatValueBox::FrameRate, kFrameRateMessage},
        {"12.5.5", [](TFormatValues& v) { v.FrameRate = "12.5.5"; }, TFormatValueBox::FrameRate,
         QStringLiteral("'12.5.5' is not a valid floating point value")},
        {"auto", [](TFormatValues& v) { v.VideoBitRate = "Auto"; }, TFormatValueBox::None, {}},
        {"video keep original", [](TFormatValues& v) { v.VideoBitRate = KeepOriginal; }, TFormatValueBox::None, {}},
        {"video 0", [](TFormatValues& v) { v.VideoBitRate = "0 kbps"; }, TFormatValueBox::VideoBitRate, kVideoBitRateMessage},
        {"video text", [](TFormatValues& v) { v.VideoBitRate = "fast"; }, TFormatValueBox::VideoBitRate, kVideoBitRateMessage},
        {"audio empty", [](TFormatValues& v) { v.AudioBitRate = ""; }, TFormatValueBox::AudioBitRate, kAudioBitRateMessage},
        {"audio auto", [](TFormatValues& v) { v.AudioBitRate = "Auto"; }, TFormatValueBox::AudioBitRate, kAudioBitRateMessage},
        // The first failing box is the one reported.
        {"two bad", [](TFormatValues& v) { v.FrameRate = "5"; v.AudioBitRate = ""; }, TFormatValueBox::FrameRate,
         kFrameRateMessage},
    };
    for (const Case& c : cases) {
        TFormatValues v = GoodVideoValues();
        c.change(v);
        const TFormatValueCheck check = ValidateFormatValues(format, v);
        EXPECT_EQ(check.Box, c.box) << c.name;
        EXPECT_EQ(check.Message, c.message) << c.name;
        EXPECT_EQ(check.Passed(), c.box == TFormatValueBox::None) << c.name;
    }
}

TEST(ValidateFormatValues, AnAudioOnlyFormatChecksOnlyTheAudioBitRate) {
    const TFormatInfo format = SampleAudioFormat(2001);
    TFormatValues v;  // the video boxes of an audio-only format are empty
    v.Resolution = QStringLiteral("1x1");
    v.FrameRate = QStringLiteral("5");
    v.AudioBitRate = QStringLiteral("128 kbps");
    EXPECT_TRUE(ValidateFormatValues(format, v).Passed());
    v.AudioBitRate = QStringLiteral("none");
    const TFormatValueCheck check = ValidateFormatValues(format, v);
    EXPECT_EQ(check.Box, TFormatValueBox::AudioBitRate);
    EXPECT_EQ(check.Message, kAudioBitRateMessage);
}

TEST(TakeFormatValues, BoxesBecomeTheProfile) {
    TFormatInfo format = SampleVideoFormat(1004);
    format.FrameRateList = QStringLiteral("Keep original,10 fps,25 fps");
    struct Case {
        const char* name;
        std::function<void(TFormatValues&)> change;
        std::function<void(const TVCOutPutOptions&)> check;
    } cases[] = {
        {"numbers", [](TFormatValues&) {},
         [](const TVCOutPutOptions& o) {
             EXPECT_EQ(o.VideoCodec, "h.264");
             EXPECT_EQ(o.Resolution, "640x480");
             EXPECT_EQ(o.FrameRate, "25");
             EXPECT_EQ(o.VideoBitRate, 1000);
             EXPECT_EQ(o.AudioCodec, "aac");
             EXPECT_EQ(o.Channels, 2);
             EXPECT_EQ(o.SampleRate, 44100);
             EXPECT_EQ(o.AudioBitRate, 128);
             EXPECT_FALSE(o.AudioDisabled);
         }},
        {"keep original", [](TFormatValues& v) { v.Resolution = v.FrameRate = v.AudioBitRate = KeepOriginal; },
         [](const TVCOutPutOptions& o) {
             EXPECT_EQ(o.Resolution, KeepOriginal);
             EXPECT_EQ(o.FrameRate, KeepOriginal);
             EXPECT_EQ(o.AudioBitRate, 0);
         }},
        {"trimmed codecs", [](TFormatValues& v) { v.VideoEncoder = " MPEG-4 "; v.AudioEncoder = " mp3"; },
         [](const TVCOutPutOptions& o) {
             EXPECT_EQ(o.VideoCodec, "MPEG-4");
             EXPECT_EQ(o.AudioCodec, "mp3");
         }},
        {"fraction", [](TFormatValues& v) { v.FrameRate = "12.5 fps"; },
         [](const TVCOutPutOptions& o) { EXPECT_EQ(o.FrameRate, "12.5"); }},
        {"listed 10 fps", [](TFormatValues& v) { v.FrameRate = "10 fps"; },
         [](const TVCOutPutOptions& o) { EXPECT_EQ(o.FrameRate, "10"); }},
        {"auto", [](TFormatValues& v) { v.VideoBitRate = "Auto"; },
         [](const TVCOutPutOptions& o) { EXPECT_EQ(o.VideoBitRate, -1); }},
        // The catalogue's "Keep original" bit rate is the automatic one, never a rate of 0.
        {"video keep original", [](TFormatValues& v) { v.VideoBitRate = KeepOriginal; },
         [](const TVCOutPutOptions& o) { EXPECT_EQ(o.VideoBitRate, -1); }},
        {"mono 22050", [](TFormatValues& v) { v.Channel = "1 Channel Mono"; v.SampleRate = " 22050 Hz "; },
         [](const TVCOutPutOptions& o) {
             EXPECT_EQ(o.Channels, 1);
             EXPECT_EQ(o.SampleRate, 22050);
         }},
        {"no audio", [](TFormatValues& v) { v.AudioEnabled = false; },
         [](const TVCOutPutOptions& o) { EXPECT_TRUE(o.AudioDisabled); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFormatValues v = GoodVideoValues();
        c.change(v);
        TVCOutPutOptions o;
        TakeFormatValues(format, v, o, nullptr);
        EXPECT_EQ(o.FormatID, 1004);
        EXPECT_EQ(o.FileExt, ".mp4");
        EXPECT_EQ(o.Name, format.Name);
        c.check(o);
    }
}

TEST(TakeFormatValues, ReplacementSoundGoesToTheMovie) {
    struct Case {
        bool replace, loop;
        const char* file;
        int32_t mode;
        const char* kept;
    } cases[] = {
        {true, false, "/a/b.mp3", 1, "/a/b.mp3"},
        {true, true, "/a/b.mp3", 2, "/a/b.mp3"},
        {false, true, "/a/b.mp3", 0, "/a/b.mp3"},  // the file is kept for the next time
        {true, true, "", 0, "earlier.wav"},
    };
    for (const Case& c : cases) {
        TFormatValues v = GoodVideoValues();
        v.ReplaceAudio = c.replace;
        v.Loop = c.loop;
        v.AudioFile = QString::fromLatin1(c.file);
        TVCOutPutOptions profile, movie;
        movie.ReplaceAudioMode = 2;
        movie.ReplaceAudioFile = QStringLiteral("earlier.wav");
        TakeFormatValues(SampleVideoFormat(1004), v, profile, &movie);
        EXPECT_EQ(movie.ReplaceAudioMode, c.mode) << c.file;
        EXPECT_EQ(movie.ReplaceAudioFile, QString::fromLatin1(c.kept)) << c.file;
    }
}

TEST(TakeFormatValues, FormatTwoKeepsItsVideoValues) {
    TVCOutPutOptions o;
    o.VideoCodec = QStringLiteral("MPEG-4");
    o.Resolution = QStringLiteral("320x240");
    o.FrameRate = QStringLiteral("15");
    o.VideoBitRate = 300;
    TakeFormatValues(SampleVideoFormat(2), GoodVideoValues(), o, nullptr);
    EXPECT_EQ(o.FormatID, 2);
    EXPECT_EQ(o.VideoCodec, "MPEG-4");
    EXPECT_EQ(o.Resolution, "320x240");
    EXPECT_EQ(o.FrameRate, "15");
    EXPECT_EQ(o.VideoBitRate, 300);
    EXPECT_EQ(o.AudioBitRate, 128);
}

using UserFormatFromTest = FormatsTest;

TEST_F(UserFormatFromTest, NewFormatTakesTheProfileAndKeepsTheRest) {
    for (int32_t id : {4001, 4003}) UserFormats.append(SampleVideoFormat(id));
    const TFormatInfo base = SampleVideoFormat(1004);
    TVCOutPutOptions o;
    TakeFormatValues(base, GoodVideoValues(), o, nullptr);
    o.FrameRate = KeepOriginal;
    o.VideoBitRate = -1;
    const TFormatInfo f = UserFormatFrom(base, o, QStringLiteral("  My MP4 "), QStringLiteral(" small \t"));
    EXPECT_EQ(f.ID, 4004);
    EXPECT_EQ(f.GroupID, UserGroupID);
    EXPECT_EQ(f.FormatType, 2);
    EXPECT_EQ(f.Name, "My MP4");
    EXPECT_EQ(f.description, "small");
    EXPECT_EQ(f.VideoEncoder, "h.264");
    EXPECT_EQ(f.Resolution, "640x480");
    EXPECT_EQ(f.FrameRate, KeepOriginal);
    EXPECT_EQ(f.VideoBitrate, -1);
    EXPECT_EQ(f.AudioEncoder, "aac");
    EXPECT_EQ(f.SampleRate, 44100);
    EXPECT_EQ(f.Channel, 2);
    EXPECT_EQ(f.AudioBitrate, 128);
    // Everything else is the base format's.
    for (auto field : {&TFormatInfo::Format, &TFormatInfo::ICON, &TFormatInfo::VideoEncoderList,
                       &TFormatInfo::ResolutionList, &TFormatInfo::FrameRateList, &TFormatInfo::VideoBitRateList,
                       &TFormatInfo::AudioEncoderlist, &TFormatInfo::SampleRateList, &TFormatInfo::ChannelList,
                       &TFormatInfo::AudioBitRateList})
        EXPECT_EQ(f.*field, base.*field);
    EXPECT_EQ(f.Skip, base.Skip);
    EXPECT_EQ(f.Enabled, base.Enabled);
    EXPECT_EQ(f.Interpolation, base.Interpolation);
    EXPECT_EQ(f.ResizeStyle, base.ResizeStyle);
    EXPECT_EQ(f.Norm, base.Norm);

    ClearFormatList(UserFormats);
    EXPECT_EQ(UserFormatFrom(base, o, QStringLiteral("a"), QStringLiteral("b")).ID, 4001);
}

class AudioFileRefusalTest : public FormatsTest {
protected:
    void SetUp() override {
        FormatsTest::SetUp();
        ASSERT_TRUE(engine::FFLoader().LoadLibs(engine::AllLibraries)) << engine::FFLoader().LastError();
    }
    // One second of silence, 8 kHz mono 16-bit.
    QString MakeWav(const QString& name) {
        QByteArray bytes;
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::LittleEndian);
        const quint32 data = 16000;
        s.writeRawData("RIFF", 4);
        s << quint32(36 + data);
        s.writeRawData("WAVEfmt ", 8);
        s << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
        s.writeRawData("data", 4);
        s << data;
        bytes.append(QByteArray(int(data), '\0'));
        WriteAll(Path(name), bytes);
        return Path(name);
    }
};

TEST_F(AudioFileRefusalTest, OnlyPureAudioIsTaken) {
    EXPECT_EQ(AudioFileRefusal(MakeWav(QStringLiteral("tone é.wav"))), QString());

    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(Path(QStringLiteral("picture.png"))));
    EXPECT_EQ(AudioFileRefusal(Path(QStringLiteral("picture.png"))),
              QStringLiteral("Failed to Load file, error message: not a valid Audio"));

    const QString missing = Path(QStringLiteral("missing.mp3"));
    EXPECT_EQ(AudioFileRefusal(missing),
              QStringLiteral("Failed to Load file, error message: ") + missing + QStringLiteral(": No such file or directory"));
}

}  // namespace
}  // namespace qm::formats::test
