#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

class OutputOptionsTest : public FormatsTest {
protected:
    void SetUp() override {
        FormatsTest::SetUp();
        TFormatInfo mp4 = SampleVideoFormat(DefaultFormatID);
        mp4.Name = "MP4";
        BuiltInFormats = {mp4, SampleAudioFormat(2003)};
        TFormatInfo silent = SampleVideoFormat(1010);  // no video defaults outside the audio group
        silent.VideoEncoder.clear();
        silent.Resolution.clear();
        silent.FrameRate.clear();
        BuiltInFormats << silent;
    }
};

TEST_F(OutputOptionsTest, OptionsFromFormat) {
    TVCOutPutOptions o;
    ASSERT_TRUE(OptionsFromFormat(o, DefaultFormatID));
    EXPECT_EQ(o.FormatID, DefaultFormatID);
    EXPECT_EQ(o.FileExt, ".mp4");
    EXPECT_EQ(o.Name, "MP4");
    EXPECT_FALSE(o.DisableVideo);
    EXPECT_EQ(o.VideoCodec, "h.264");
    EXPECT_EQ(o.Resolution, "640x480");
    EXPECT_EQ(o.FrameRate, "25");
    EXPECT_EQ(o.AudioCodec, "aac");
    EXPECT_EQ(o.SampleRate, 48000);
    EXPECT_EQ(o.Channels, 2);
    EXPECT_EQ(o.AudioBitRate, 128);

    for (int32_t id : {2003, 1010}) {
        TVCOutPutOptions a = o;
        a.VideoBitRate = 900;
        ASSERT_TRUE(OptionsFromFormat(a, id));
        EXPECT_TRUE(a.DisableVideo) << id;
        EXPECT_TRUE(a.VideoCodec.isEmpty() && a.Resolution.isEmpty() && a.FrameRate.isEmpty()) << id;
        EXPECT_EQ(a.VideoBitRate, -1) << id;
    }

    TVCOutPutOptions unchanged = o;
    EXPECT_FALSE(OptionsFromFormat(unchanged, 777));
    EXPECT_EQ(unchanged.FormatID, DefaultFormatID);
}

TEST_F(OutputOptionsTest, DefaultProfileFallsBackToTheCatalogueAndRoundTrips) {
    TVCOutPutOptions loaded;
    LoadDefaultOptions(loaded, DefaultFormatID);  // no file yet
    EXPECT_EQ(loaded.FormatID, DefaultFormatID);
    EXPECT_EQ(loaded.VideoCodec, "h.264");
    EXPECT_EQ(loaded.SampleRate, 48000);
    EXPECT_FALSE(QFile::exists(FormatDefaultFileName()));

    TVCOutPutOptions saved;
    OptionsFromFormat(saved, 2003);
    saved.Channels = 1;
    saved.OutFileName = "not stored";
    SaveDefaultOptions(saved);
    TVCOutPutOptions back;
    LoadDefaultOptions(back, DefaultFormatID);
    EXPECT_EQ(back.FormatID, 2003);
    EXPECT_EQ(back.FileExt, ".mp3");
    EXPECT_EQ(back.Name, "MP3");
    EXPECT_TRUE(back.DisableVideo);
    EXPECT_EQ(back.VideoBitRate, -1);
    EXPECT_EQ(back.AudioCodec, "mp3");
    EXPECT_EQ(back.Channels, 1);
    EXPECT_TRUE(back.OutFileName.isEmpty());
    const QString text = QString::fromUtf8(ReadAll(FormatDefaultFileName()));
    EXPECT_TRUE(text.contains("DisableVideo=1")) << text.toStdString();

    // A file holding only some keys takes the rest from the default format.
    WriteAll(FormatDefaultFileName(), "[Video]\nBitRate=700\n");
    LoadDefaultOptions(back, DefaultFormatID);
    EXPECT_EQ(back.VideoBitRate, 700);
    EXPECT_EQ(back.FormatID, DefaultFormatID);
    EXPECT_EQ(back.AudioCodec, "aac");
}

TEST_F(OutputOptionsTest, RecentListKeepsTwelveNewestFirst) {
    AddRecent(2003);
    AddRecent(1004);
    EXPECT_EQ(ReadAll(FormatDefaultFileName()).contains("Recent=1004,2003,\n"), true);

    for (int id = 1; id <= 11; ++id) AddRecent(id);  // 13 distinct ids
    QStringList ids = ReadRecent();
    ASSERT_EQ(ids.size(), 12);
    EXPECT_EQ(ids.first(), "11");
    EXPECT_EQ(ids.last(), "1004");  // 2003 was the oldest

    AddRecent(5);  // already there: moves to the front
    ids = ReadRecent();
    EXPECT_EQ(ids.size(), 12);
    EXPECT_EQ(ids.first(), "5");
    EXPECT_EQ(ids.count("5"), 1);

    RemoveRecent(1004);
    RemoveRecent(424242);
    ids = ReadRecent();
    EXPECT_EQ(ids.size(), 11);
    EXPECT_FALSE(ids.contains("1004"));
}

TEST_F(OutputOptionsTest, PrepareFileOptionSizes) {
    const struct {
        const char* source;
        const char* resolution;
        const char* expectResolution;
        const char* fit;
        bool keep;
    } cases[] = {
        {"550x400", "640x480", "640x480", "640x464", false},
        {"400x300", "Keep original", "400x300", "400x300", true},
        {"641x481", "Keep original", "640x480", "638x480", true},
        {"400x300", "640x360", "640x360", "480x360", false},
        {"300x400", "640x480", "640x480", "360x480", false},
        {"0x0", "320x240", "320x240", "320x240", false},
        {"2000x1", "640x480", "640x480", "640x2", false},  // never a picture without height
    };
    for (const auto& c : cases) {
        OptionsFromFormat(CurrentOptions, DefaultFormatID);
        CurrentOptions.Resolution = c.resolution;
        TFileOption job;
        job.Options.SourceSize = c.source;
        PrepareFileOption(job);
        EXPECT_EQ(job.Options.Resolution.toStdString(), c.expectResolution) << c.source << " " << c.resolution;
        EXPECT_EQ(job.Options.FitSize.toStdString(), c.fit) << c.source << " " << c.resolution;
        EXPECT_EQ(job.Options.KeepOriginalSize, c.keep) << c.source << " " << c.resolution;
        EXPECT_EQ(job.Options.VideoCodec, "h.264");
        EXPECT_FALSE(job.Options.IsPSP);
    }

    OptionsFromFormat(CurrentOptions, 2003);
    CurrentOptions.Name = "PSP";
    TFileOption audio;
    audio.Options.SourceSize = "not a size";  // not needed without video
    PrepareFileOption(audio);
    EXPECT_EQ(audio.Options.Resolution, "480x320");
    EXPECT_EQ(audio.Options.FitSize, "480x320");
    EXPECT_TRUE(audio.Options.IsPSP);

    OptionsFromFormat(CurrentOptions, DefaultFormatID);
    TFileOption bad;
    bad.Options.SourceSize = "640*480";
    EXPECT_THROW(PrepareFileOption(bad), app::ConversionError);
}

TEST_F(OutputOptionsTest, EncoderNames) {
    EXPECT_EQ(VideoEncoderName("H.264"), "libx264");
    EXPECT_EQ(VideoEncoderName("msmpegv3"), "msmpeg4");
    EXPECT_EQ(VideoEncoderName("dvvideo NTSC"), "dvvideo");
    EXPECT_EQ(VideoEncoderName("theora"), "");
    EXPECT_EQ(AudioEncoderName("VORBIS"), "libvorbis");
    EXPECT_EQ(AudioEncoderName("wma7"), "wmav1");
    EXPECT_EQ(AudioEncoderName("opus"), "");

    SetEncoderProbe([](const QString&) { return false; });
    EXPECT_EQ(AudioEncoderName("AAC"), "aac -strict experimental");
    SetEncoderProbe([](const QString& name) { return name == "libfaac"; });
    EXPECT_EQ(AudioEncoderName("aac"), "libfaac");
}

TEST_F(OutputOptionsTest, HidingFormatsTheEngineCannotMake) {
    TFormatInfo amr = SampleAudioFormat(2009);
    amr.AudioEncoder = amr.AudioEncoderlist = "AMR_NB";
    TFormatInfo threeGp = SampleVideoFormat(3205);
    threeGp.Skip = false;
    threeGp.AudioEncoderlist = "aac,AMR_NB";
    TFormatInfo dv = SampleVideoFormat(3401);
    dv.Skip = false;
    dv.VideoEncoder = "dvvideo PAL";
    dv.VideoEncoderList = "dvvideo PAL,dvvideo NTSC";
    TFormatList list{amr, threeGp, dv};
    SetEncoderProbe([](const QString& name) { return name != "libopencore_amrnb"; });

    EXPECT_EQ(MissingEncoders(amr), QStringList{"libopencore_amrnb"});
    HideUnavailableFormats(list);
    EXPECT_TRUE(list[0].Skip);
    EXPECT_FALSE(list[1].Skip);
    EXPECT_EQ(list[1].AudioEncoderlist, "aac");
    EXPECT_EQ(list[1].VideoEncoderList, threeGp.VideoEncoderList);  // nothing dropped, nothing rewritten
    EXPECT_EQ(list[2].VideoEncoderList, "dvvideo PAL,dvvideo NTSC");
    EXPECT_TRUE(LogText().contains("libopencore_amrnb"));

    // A build that has it brings the format back.
    TFormatList again{amr};
    SetEncoderProbe([](const QString&) { return true; });
    HideUnavailableFormats(again);
    EXPECT_FALSE(again[0].Skip);
}

// The arguments of one job, built as the conversion does.
QString Arguments(const TVCOutPutOptions& options, const QString& movieRate = "12") {
    TFileOption job;
    job.SWFInfo.FrameRate = movieRate;
    job.Options = options;
    QString text;
    AppendProfileArguments(job, text);
    return text;
}

TVCOutPutOptions Profile(const QString& ext, const QString& codec, const QString& resolution, const QString& rate,
                         int32_t bitRate) {
    TVCOutPutOptions o;
    o.FileExt = ext;
    o.VideoCodec = codec;
    o.Resolution = resolution;
    o.FrameRate = rate;
    o.VideoBitRate = bitRate;
    o.AudioDisabled = true;
    return o;
}

TEST_F(OutputOptionsTest, AudioPiecesKeepTheirSpacing) {
    TVCOutPutOptions o;
    o.DisableVideo = true;
    o.AudioCodec = "mp3";
    o.SampleRate = 44100;
    o.Channels = 2;
    o.AudioBitRate = 128;
    EXPECT_EQ(Arguments(o), " -c:a libmp3lame  -b:a 128k  -ar 44100 -ac 2");

    SetEncoderProbe([](const QString&) { return false; });
    o.AudioCodec = "AAC";
    EXPECT_EQ(Arguments(o), " -c:a aac -strict experimental  -b:a 128k  -ar 44100 -ac 2");
}

TEST_F(OutputOptionsTest, VideoPieces) {
    const struct {
        TVCOutPutOptions options;
        const char* expected;
    } cases[] = {
        {Profile(".mp4", "h.264", "640x480", "25", 1000),
         " -vprofile baseline -preset ultrafast -threads 0  -c:v libx264 -r 25  -b 1000k"},
        {Profile(".MKV", "H.264", "640x480", "25", 1000),
         " -vprofile baseline -preset veryfast -threads 0  -c:v libx264 -r 25  -b 1000k"},
        {Profile(".webm", "vp8", "640x480", "Keep original", 500), " -f webm  -c:v libvpx -r 12  -b 500k"},
        {Profile(".avi", "DIVX", "640x480", "25", 800), " -c:v mpeg4 -tag:v DIVX -vstrict unofficial -r 25  -b 800k"},
        {Profile(".avi", "xvid", "640x480", "25", 800), " -c:v mpeg4 -tag:v Xvid -vstrict unofficial -r 25  -b 800k"},
        {Profile(".dv", "dvvideo PAL", "720x576", "25", 100), " -target pal-dv  -c:v dvvideo -r 25  -b 100k"},
        {Profile(".dv", "dvvideo NTSC", "720x480", "29.97", 100), " -target ntsc-dv  -c:v dvvideo -r 29.97  -b 100k"},
        // Automatic bit rates: below and from 720x576 on.
        {Profile(".avi", "MJPEG", "640x480", "25", -1), "  -c:v mjpeg -r 25  -b 1957k"},
        {Profile(".avi", "MJPEG", "720x576", "25", -1), "  -c:v mjpeg -r 25  -b 1929k"},
        {Profile(".avi", "MJPEG", "640x480", "Keep original", -1), "  -c:v mjpeg -r 12  -b 939k"},
        // MPEG-1 and MPEG-2 take nothing below 20 frames/s, named either way.
        {Profile(".mpg", "mpeg1video", "352x288", "Keep original", 900), "  -c:v  -r 20  -b 900k"},
        {Profile(".mpg", "MPEG-2", "720x576", "15", 900), "  -c:v mpeg2video -r 20  -b 900k"},
        {Profile(".mpg", "MPEG-1", "352x288", "25", 900), "  -c:v mpeg1video -r 25  -b 900k"},
    };
    for (const auto& c : cases) EXPECT_EQ(Arguments(c.options), c.expected) << c.expected;

    TVCOutPutOptions psp = Profile(".mp4", "MPEG-4", "480x272", "29.97", 768);
    psp.IsPSP = true;
    EXPECT_EQ(Arguments(psp), " -f psp  -c:v mpeg4 -r 29.97  -b 768k");
    // The movie's rate with the system's decimal separator or a point.
    EXPECT_EQ(Arguments(Profile(".avi", "MJPEG", "640x480", "Keep original", -1), "12.5"), "  -c:v mjpeg -r 12.5  -b 978k");
}

TEST_F(OutputOptionsTest, UnreadableSizesAndRatesFailTheJob) {
    EXPECT_THROW(Arguments(Profile(".avi", "MJPEG", "640", "25", -1)), app::ConversionError);
    EXPECT_THROW(Arguments(Profile(".avi", "MJPEG", "640x480", "fast", -1)), app::ConversionError);
    // With a bit rate given the rate goes to the engine as it stands.
    EXPECT_EQ(Arguments(Profile(".avi", "MJPEG", "640x480", "fast", 100)), "  -c:v mjpeg -r fast  -b 100k");
}

}  // namespace
}  // namespace qm::formats::test
