// The main run of the conversion window through the engine: which inputs it takes, when the
// output goes without sound, and what it refuses.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "conversion/conversion.h"
#include "engine/ff_encoder.h"
#include "engine/library_loader.h"
#include "engine/media_info.h"
#include "tests/child_process.h"

namespace qm::conversion {
namespace {

void LoadEngine() {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
}

void Make(const QStringList& args) {
    const qm::test::ChildRun ffmpeg = qm::test::RunChild("ffmpeg", QStringList{"-v", "error", "-y"} + args);
    ASSERT_TRUE(ffmpeg.finished);
    ASSERT_EQ(ffmpeg.exitCode, 0) << ffmpeg.err.toStdString();
}

formats::TFileOption Job() {
    formats::TFileOption job;
    job.SWFInfo.FrameRate = "10";
    auto& o = job.Options;
    o.FileExt = ".mp4";
    o.OutFileName = "movie";
    o.VideoCodec = "MPEG-4";
    o.FrameRate = "10";
    o.VideoBitRate = 400;
    o.AudioCodec = "mp2";
    o.AudioBitRate = 128;
    o.SampleRate = 44100;
    o.Channels = 2;
    o.SourceSize = o.Resolution = o.FitSize = "160x120";
    return job;
}

struct Streams {
    int video = -1, audio = -1;
    double seconds = 0;
};

Streams Probe(const QString& file) {
    engine::TFFDecoder info;
    Streams s;
    if (!info.LoadFile(file.toStdString())) return s;
    s.video = info.VideoStreamCount;
    s.audio = info.AudioStreamCount;
    engine::TFileStreamInfo stream;
    if (info.GetFileStreamInfo(stream)) s.seconds = double(stream.Duration) / 1e6;
    return s;
}

class MergeRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadEngine();
        ASSERT_TRUE(dir.isValid());
        video = dir.filePath("brvV_temp.mp4");
        wav = dir.filePath("brvA_temp.tpz");
        Make({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=2", "-c:v", "mpeg4", video});
        Make({"-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-ar", "44100", "-ac", "2", "-f", "wav", wav});
    }

    // Runs the task to its end; the terminate events' failure, if any.
    std::string Run(engine::TFFEncoder& encoder) {
        std::string failure;
        encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) {
            if (t.Failed) failure = t.ErrorMessage;
        };
        encoder.StartTask(0);
        return failure;
    }

    QTemporaryDir dir;
    QString video, wav;
};

TEST_F(MergeRunTest, PictureAndSoundBecomeTheOutputCutToTheVideo) {
    struct Case {
        const char* name;
        bool audioEmpty;  // the capture recorded nothing
        bool brokenSound; // the WAV file is not a sound file
        bool soundOnly;
        int videoStreams, audioStreams;
        double seconds;
    } cases[] = {
        {"sound", false, false, false, 1, 1, 2.0},
        {"empty capture", true, false, false, 1, 0, 2.0},
        {"sound only", false, false, true, 0, 1, 3.0},
        {"unreadable sound", false, true, false, 1, 0, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.brokenSound) {
            QFile broken(wav);
            ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
            broken.write("RIFF not a sound");
        }
        formats::TFileOption job = Job();
        if (c.soundOnly) {
            job.Options.DisableVideo = true;
            job.Options.FileExt = ".mp3";
            job.Options.AudioCodec = "mp3";
        }
        const QString folder = dir.filePath(QString("out-%1").arg(c.name));
        QDir().mkpath(folder);
        MergeRun run;
        run.VideoFile = video;
        run.WavFile = wav;
        run.AudioEmpty = c.audioEmpty;
        run.OutputFolder = folder;
        engine::TFFEncoder encoder;
        encoder.TriggerEventInMainThread = false;
        ASSERT_TRUE(AddMergeTask(encoder, job, run)) << run.Error.toStdString();
        EXPECT_EQ(run.OutputPath, folder + "/movie" + job.Options.FileExt);
        EXPECT_EQ(job.Options.AudioDisabled, c.audioStreams == 0);
        EXPECT_NEAR(double(run.VideoDuration) / 1e6, 2.0, 0.05);
        ASSERT_EQ(Run(encoder), "");
        const Streams out = Probe(run.OutputPath);
        EXPECT_EQ(out.video, c.videoStreams);
        EXPECT_EQ(out.audio, c.audioStreams);
        EXPECT_NEAR(out.seconds, c.seconds, 0.15);
    }
}

// The watermark is mapped from the cropped part to Resolution; the picture must go there too,
// also when the profile's size is the movie's own.
TEST(CroppedMainRunTest, TheCroppedPartFillsTheProfilesSizeLikeTheWatermark) {
    struct Case {
        const char* resolution;
        const char* chain;
    } cases[] = {
        {"640x480", "pad=426:320:53:0,scale=640:480"},
        {"400x300", "pad=266:200:33:0,scale=400:300"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resolution);
        formats::TFileOption job;
        auto& o = job.Options;
        o.SourceSize = "400x300";
        o.Resolution = o.FitSize = c.resolution;
        o.CropEnabled = true;
        o.CropRect = app::TRect{100, 50, 300, 250};
        EXPECT_EQ(ScaleChain(job).toStdString(), c.chain);
    }
}

TEST_F(MergeRunTest, ATakenNameGetsANumberUnlessOverwriting) {
    QFile(dir.filePath("movie.mp4")).open(QIODevice::WriteOnly);
    formats::TFileOption job = Job();
    MergeRun run;
    run.VideoFile = video;
    run.WavFile = wav;
    run.OutputFolder = dir.path();
    engine::TFFEncoder encoder;
    ASSERT_TRUE(AddMergeTask(encoder, job, run)) << run.Error.toStdString();
    EXPECT_EQ(run.OutputPath, dir.filePath("movie(1).mp4"));
    run.OverWrite = true;
    ASSERT_TRUE(AddMergeTask(encoder, job, run)) << run.Error.toStdString();
    EXPECT_EQ(run.OutputPath, dir.filePath("movie.mp4"));
    EXPECT_EQ(encoder.TaskCount(), 1);
}

TEST_F(MergeRunTest, NoRunWithoutAPicture) {
    const QString sound = dir.filePath("sound.wav");
    QFile::copy(wav, sound);
    struct Case {
        const char* name;
        QString videoFile;
        const char* error;
    } cases[] = {
        {"missing", dir.filePath("missing.mp4"), ""},
        {"no video stream", sound, " No video stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        formats::TFileOption job = Job();
        MergeRun run;
        run.VideoFile = c.videoFile;
        run.WavFile = wav;
        run.OutputFolder = dir.path();
        engine::TFFEncoder encoder;
        EXPECT_FALSE(AddMergeTask(encoder, job, run));
        EXPECT_FALSE(run.Error.isEmpty());
        EXPECT_TRUE(run.Error.endsWith(c.error)) << run.Error.toStdString();
        EXPECT_EQ(encoder.TaskCount(), 0);
    }
}

TEST_F(MergeRunTest, AProfileThatCannotBeReadIsRefusedWithoutATask) {
    formats::TFileOption job = Job();
    job.Options.Resolution = "wide";
    job.Options.FitSize = "160x120";
    MergeRun run;
    run.VideoFile = video;
    run.WavFile = wav;
    run.OutputFolder = dir.path();
    engine::TFFEncoder encoder;
    EXPECT_FALSE(AddMergeTask(encoder, job, run));
    EXPECT_FALSE(run.Error.isEmpty());
    EXPECT_EQ(encoder.TaskCount(), 0);
}

}  // namespace
}  // namespace qm::conversion
