// What the player's limits and its address gate stop during an offline capture reaches the
// conversion log, once per cause however many frames or render workers meet it.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/core/app_core.h"
#include "conversion/offline_capture.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::conversion {
namespace {

namespace w = qm::swfwriter;

// 12 frames of 48x32; every frame's script asks for a file outside the movie's folder, and a
// bitmap wider than the player draws stands on the stage beside a box.
void WriteMovie(const QString& path) {
    w::Movie movie({.version = 6, .frame = w::Rect::pixels(48, 32), .frameRate = w::fps(24)});
    w::Shape box;
    box.fill0(box.addFill(w::FillStyle::solid({220, 40, 40}))).rect(0, 0, 300, 300);
    const uint16_t boxId = movie.defineShape(box);
    w::Bytes wide(3 + 8192, 0);
    const uint16_t wideId = movie.defineBitsLossless(3, 8192, 1, wide, 1);
    movie.place({.depth = 1, .character = boxId});
    movie.place({.depth = 2, .character = wideId});
    for (int f = 0; f < 12; ++f) {
        movie.doAction(w::Actions().getUrl("file:///etc/passwd", "_blank"));
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

int Count(const QString& text, const QString& part) { return int(text.count(part)); }

TEST(CapturePlayerLogTest, PlayerLinesReachTheConversionLogOnce) {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
    formats::SetProgramDir(QFileInfo(QStringLiteral(QM_CLI_PATH)).absolutePath() + QLatin1Char('/'));
    formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
    ASSERT_TRUE(formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID));

    QTemporaryDir dir;
    const QString movie = dir.filePath("asks.swf");
    WriteMovie(movie);
    formats::TFileOption job;
    QString error;
    ASSERT_TRUE(ReadMovieInfo(movie, job.SWFInfo, error)) << error.toStdString();
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("48x32");
    job.Options.OutFileName = QStringLiteral("asks");
    formats::PrepareFileOption(job);

    const QString logPath = dir.filePath("log1.txt");
    app::AppLog = std::make_unique<app::TBrvLog>(logPath);
    OfflineCapture capture(job, dir.filePath("asks.mp4"), CaptureLimits{EndRule::Frames, 12});
    capture.SetRenderWorkers(2);
    const CaptureResult r = capture.Run();
    app::AppLog.reset();
    ASSERT_TRUE(r.Succeeded) << r.Error.toStdString();

    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(file.readAll());
    EXPECT_EQ(Count(log, "Player: get URL refused: \"file:///etc/passwd\" for \"_blank\""), 1) << log.toStdString();
    EXPECT_EQ(Count(log, "Player: bitmap 2 is not drawn: bitmap of 8192 x 1 pixels is beyond the player's limit"), 1)
        << log.toStdString();
}

}  // namespace
}  // namespace qm::conversion
