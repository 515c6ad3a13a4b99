// Render workers: each player draws only its share of the frames, so the frames must come back
// in order, with the one mixer's sound, and the file must not depend on how many workers drew it.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "conversion/offline_capture.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::conversion {
namespace {

namespace w = qm::swfwriter;

// 30 frames of 96x64 at 24 fps: each frame's script puts a box at a random x, at a y from
// getTimer and at a width from the date, and starts a short tone every 8 frames; frame 20
// stops, so the stall rule ends the capture one second later.
void WriteScriptedMovie(const QString& path) {
    w::Movie movie({.version = 6, .frame = w::Rect::pixels(96, 64), .frameRate = w::fps(24)});
    w::Shape box;
    box.fill0(box.addFill(w::FillStyle::solid({220, 40, 40}))).rect(0, 0, 300, 300);
    const uint16_t boxId = movie.defineShape(box);
    const w::Bytes tone = w::sinePCM16(440, 0.1, 44100, 0.4);
    const uint16_t toneId = movie.defineSound(w::SoundFormat{}, uint32_t(tone.size() / 2), tone);
    movie.place({.depth = 1, .character = boxId, .name = "box"});
    for (int f = 0; f < 30; ++f) {
        w::Actions script;
        script.push({"box", 0.0f, 80.0f}).randomNumber().setProperty();
        script.push({"box", 2.0f, 0.0f, 0.0f, "Date"}).newObject().push({"getMilliseconds"}).callMethod();
        script.push({10.0f}).modulo().push({100.0f}).add().setProperty();
        script.push({"box", 1.0f}).getTime().push({25.0f}).divide().setProperty();
        if (f == 19) script.stop();
        movie.doAction(script);
        if (f % 8 == 0) movie.startSound(toneId);
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

TEST(RenderWorkersTest, FileIsTheSameWhateverTheWorkerCount) {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
    formats::SetProgramDir(QFileInfo(QStringLiteral(QM_CLI_PATH)).absolutePath() + QLatin1Char('/'));
    formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
    ASSERT_TRUE(formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID));

    QTemporaryDir dir;
    const QString movie = dir.filePath("scripted.swf");
    WriteScriptedMovie(movie);
    formats::TFileOption job;
    QString error;
    ASSERT_TRUE(ReadMovieInfo(movie, job.SWFInfo, error)) << error.toStdString();
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("96x64");
    job.Options.OutFileName = QStringLiteral("scripted");
    formats::PrepareFileOption(job);

    QByteArray first;
    for (int workers : {1, 2, 3}) {
        SCOPED_TRACE(workers);
        const QString output = dir.filePath(QStringLiteral("out%1.mp4").arg(workers));
        OfflineCapture capture(job, output, CaptureLimits{EndRule::Stall, 0});
        capture.SetRenderWorkers(workers);
        capture.SetStartTime(1.5e12 + 123);
        const CaptureResult r = capture.Run();
        ASSERT_TRUE(r.Succeeded) << r.Error.toStdString();
        EXPECT_EQ(r.Frames, 20 + 23);  // frame 20 stands for one second
        EXPECT_FALSE(r.SafetyLimitReached);
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray hash = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
        if (first.isEmpty())
            first = hash;
        else
            EXPECT_EQ(hash, first) << "the file changed with the worker count";
    }
}

}  // namespace
}  // namespace qm::conversion
