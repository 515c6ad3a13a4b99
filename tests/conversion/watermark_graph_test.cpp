// The watermark graph as the engine reads it: a picture whose file name holds every character a
// filter graph or the option splitter treats specially is still found and laid at its place.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "conversion/conversion.h"
#include "engine/ff_encoder.h"
#include "engine/library_loader.h"
#include "tests/child_process.h"

namespace qm::conversion {
namespace {

TEST(WatermarkGraphTest, HostileFileNamesReachTheMovieSource) {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
    QTemporaryDir dir;
    const QString black = dir.filePath("black.mkv");
    const qm::test::ChildRun ffmpeg = qm::test::RunChild(
        "ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "color=black:size=64x48:rate=25:duration=0.2", "-c:v", "ffv1", black});
    ASSERT_TRUE(ffmpeg.finished);
    ASSERT_EQ(ffmpeg.exitCode, 0);

    for (const char* name : {"plain.png", "a b,c;d[e]f.png", "it's \"quoted\".png", "col:on\\back=eq.png",
                             "x'; movie=y [out].png"}) {
        SCOPED_TRACE(name);
        const QString folder = dir.filePath(QStringLiteral("work %1").arg(QString::fromUtf8(name).size()));
        QDir().mkpath(folder);
        const QString mark = folder + "/" + QString::fromUtf8(name);
        QImage white(10, 8, QImage::Format_ARGB32);
        white.fill(qRgba(255, 255, 255, 255));
        ASSERT_TRUE(white.save(mark, "PNG"));

        formats::TFileOption job;
        job.Options.WatermarkKind = 1;
        job.Options.WaterMark.PreparedFile = mark;
        job.Options.WaterMark.Rect = app::TRect{20, 16, 30, 24};
        const QString graph = WatermarkGraph(job, "pad=64:48:0:0");

        engine::TFFEncoder encoder;
        encoder.TriggerEventInMainThread = false;
        std::string error;
        encoder.OnTerminate = [&](void*, const engine::TTerminateInfo& t) {
            if (t.Failed) error = t.ErrorMessage;
        };
        const QString out = dir.filePath("out.rgb");
        engine::TOutputOptions options;
        options.Options = ("-f rawvideo -pix_fmt rgb24 -frames:v 1 -vf \"" + graph + "\"").toStdString();
        ASSERT_EQ(encoder.AddTask(black.toStdString()), 0);
        ASSERT_GE(encoder.SetOutput(0, out.toStdString(), &options), 0) << encoder.LastErrorMessage();
        encoder.StartTask(0);
        ASSERT_EQ(error, "") << graph.toStdString();
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray rgb = file.readAll();
        ASSERT_EQ(rgb.size(), 64 * 48 * 3);
        auto at = [&](int x, int y) { return int(uchar(rgb[(y * 64 + x) * 3])); };
        EXPECT_GT(at(20, 16), 200);
        EXPECT_GT(at(29, 23), 200);
        EXPECT_LT(at(19, 16), 50);
        EXPECT_LT(at(30, 23), 50);
        EXPECT_LT(at(20, 24), 50);
    }
}

}  // namespace
}  // namespace qm::conversion
