// The loop run through the engine: the replacement sound joined as many times as the video needs.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "conversion/conversion.h"
#include "engine/ff_encoder.h"
#include "engine/library_loader.h"
#include "engine/media_info.h"
#include "tests/child_process.h"

namespace qm::conversion {
namespace {

TEST(AudioLoopTest, LoopRunRepeatsTheReplacementToCoverTheVideo) {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.mp3");
    ASSERT_TRUE(qm::test::RunChild("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                                          "-ar", "44100", "-c:a", "libmp3lame", tone})
                    .finished);

    formats::TFileOption job;
    job.Options.ReplaceAudioMode = 2;
    job.Options.ReplaceAudioFile = tone;
    engine::TFFEncoder encoder;
    encoder.TriggerEventInMainThread = false;
    int32_t count = 0;
    ASSERT_TRUE(NeedsAudioLoop(job, 2500000, encoder.InfoDecoder(), count));
    EXPECT_EQ(count, 3);

    std::string failure;
    encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) {
        if (t.Failed) failure = t.ErrorMessage;
    };
    QString looped, error;
    ASSERT_TRUE(AddAudioLoopTask(encoder, job, count, dir.path(), looped, error)) << error.toStdString();
    EXPECT_EQ(looped, dir.filePath("brvLA_temp.mp3"));
    EXPECT_EQ(job.Options.ReplaceAudioFile, looped);
    encoder.StartTask(0);
    ASSERT_EQ(failure, "");

    engine::TFFDecoder& info = encoder.InfoDecoder();
    auto duration = [&](const QString& file) {
        engine::TFileStreamInfo stream;
        EXPECT_TRUE(info.LoadFile(file.toStdString())) << info.LastErrorMessage;
        EXPECT_TRUE(info.GetFileStreamInfo(stream));
        info.CloseFile();
        return double(stream.Duration) / 1e6;
    };
    // Each copy keeps its own length, coded frames and all.
    EXPECT_NEAR(duration(looped), 3 * duration(tone), 0.05);

    // A sound that cannot be opened is refused with the log line's text.
    engine::TFFEncoder other;
    formats::TFileOption broken = job;
    broken.Options.ReplaceAudioFile = dir.filePath("missing.mp3");
    EXPECT_FALSE(AddAudioLoopTask(other, broken, 2, dir.path(), looped, error));
    EXPECT_TRUE(error.startsWith("File open error: ")) << error.toStdString();
}

}  // namespace
}  // namespace qm::conversion
