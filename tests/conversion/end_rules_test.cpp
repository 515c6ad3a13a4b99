// When the offline capture ends: at the last frame, after one second in which nothing changes,
// at the frame limit; a movie whose main timeline stops while a clip still moves goes on.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "testing/swfwriter/swfwriter.h"
#include "tests/child_process.h"

namespace {

using namespace qm::swfwriter;

// 10 frames at 24 fps of 64x48; a box moves each frame. With stopAt, the main timeline stops on
// that frame; with a spinner, a clip on the stage keeps changing after that.
void WriteMovie(const QString& path, int stopAt, bool spinner) {
    Movie movie({.version = 6, .frame = Rect::pixels(64, 48), .frameRate = fps(24)});
    Shape box;
    box.fill0(box.addFill(FillStyle::solid({200, 0, 0}))).rect(0, 0, 200, 200);
    const uint16_t boxId = movie.defineShape(box);
    if (spinner) {
        Sprite clip = movie.sprite();
        clip.place({.depth = 1, .character = boxId});
        clip.showFrame();
        clip.place({.depth = 1, .move = true, .matrix = Matrix::translate(400, 400)});
        clip.showFrame();
        const uint16_t clipId = movie.defineSprite(clip);
        movie.place({.depth = 2, .character = clipId, .matrix = Matrix::translate(0, 500)});
    }
    for (int f = 0; f < 10; ++f) {
        movie.place({.depth = 1, .character = f == 0 ? std::optional<uint16_t>(boxId) : std::nullopt, .move = f > 0,
                     .matrix = Matrix::translate(f * 100, 0)});
        if (f == stopAt) movie.doAction(Actions().stop());
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

// The limit for movies that never end must not cut a long movie that does.
TEST(EndRulesTest, AMovieLongerThanTheSafetyLimitPlaysToItsLastFrame) {
    QTemporaryDir dir, home;
    Movie movie({.version = 6, .frame = Rect::pixels(32, 32), .frameRate = fps(1)});
    Shape box;
    box.fill0(box.addFill(FillStyle::solid({200, 0, 0}))).rect(0, 0, 100, 100);
    const uint16_t boxId = movie.defineShape(box);
    constexpr int kFrames = 610;  // seconds, at one frame a second
    for (int f = 0; f < kFrames; ++f) {
        movie.place({.depth = 1, .character = f == 0 ? std::optional<uint16_t>(boxId) : std::nullopt, .move = f > 0,
                     .matrix = Matrix::translate((f % 5) * 100, 0)});
        movie.showFrame();
    }
    movie.save(dir.filePath("long.swf").toStdString());
    const qm::test::ChildRun p =
        qm::test::RunChild(QStringLiteral(QM_CLI_PATH),
                       {"convert", dir.filePath("long.swf"), "--output-dir", dir.path(), "--no-audio", "--json"},
                       qm::test::ChildOptions().Env("HOME", home.path()).Env("XDG_CONFIG_HOME", home.filePath(".config")).Timeout(300000));
    ASSERT_EQ(p.exitCode, 0) << p.err.toStdString();
    const QJsonArray results = QJsonDocument::fromJson(p.out.toUtf8()).object()["results"].toArray();
    ASSERT_EQ(results.size(), 1);
    EXPECT_EQ(results[0].toObject()["frames"].toInt(), kFrames);
    EXPECT_TRUE(results[0].toObject()["warnings"].toArray().isEmpty());
}

TEST(EndRulesTest, CaptureEndsAsTheRuleSays) {
    QTemporaryDir dir, home;
    WriteMovie(dir.filePath("plays.swf"), -1, false);
    WriteMovie(dir.filePath("stops.swf"), 2, false);
    WriteMovie(dir.filePath("spins.swf"), 2, true);
    struct Case {
        const char* movie;
        QStringList options;
        int frames;
    };
    const Case cases[] = {
        {"plays.swf", {}, 10},                                  // the last frame ends it
        {"plays.swf", {"--end", "last"}, 10},
        {"plays.swf", {"--end", "frames", "--frames", "25"}, 25},  // the movie loops up to the limit
        {"plays.swf", {"--frames", "4"}, 4},
        {"plays.swf", {"--duration", "0.5"}, 10},               // the movie ends first
        {"stops.swf", {}, 3 + 23},                              // frame 2 shown for one second
        {"stops.swf", {"--end", "last", "--frames", "40"}, 40},
        {"spins.swf", {"--duration", "2"}, 48},                 // still moving: only the limit ends it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.movie + (" " + c.options.join(' ')).toStdString());
        const qm::test::ChildRun p = qm::test::RunChild(
            QStringLiteral(QM_CLI_PATH),
            QStringList{"convert", dir.filePath(c.movie), "--output-dir", dir.path(), "--overwrite", "--no-audio", "--json"}
                << c.options,
            qm::test::ChildOptions().Env("HOME", home.path()).Env("XDG_CONFIG_HOME", home.filePath(".config")).Timeout(300000));
        ASSERT_EQ(p.exitCode, 0) << p.err.toStdString();
        const QJsonArray results = QJsonDocument::fromJson(p.out.toUtf8()).object()["results"].toArray();
        ASSERT_EQ(results.size(), 1);
        const QJsonObject result = results[0].toObject();
        EXPECT_EQ(result["frames"].toInt(), c.frames);
        EXPECT_TRUE(result["warnings"].toArray().isEmpty());
        const qm::test::ChildRun probe =
            qm::test::RunChild("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                       "stream=nb_read_frames", "-of", "default=nw=1:nk=1", result["output"].toString()});
        EXPECT_EQ(probe.out.trimmed().toInt(), c.frames);
    }
}

}  // namespace
