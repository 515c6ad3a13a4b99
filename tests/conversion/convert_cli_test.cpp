// quellmark-cli convert as a user runs it: a generated movie with a click every second becomes an
// MP4 of the right length whose clicks and pictures sit at their frames; runs repeat exactly;
// batches convert in parallel and a damaged movie fails alone.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "testing/swfwriter/swfwriter.h"
#include "tests/child_process.h"

namespace {

using namespace qm::swfwriter;

constexpr int kWidth = 320, kHeight = 240, kRate = 25;

// One second of 25 frames per click: a bar sweeping right, a square that changes colour every
// second, and a 10 ms click at the start of each second.
void WriteClickMovie(const QString& path, int seconds) {
    Movie movie({.version = 8, .frame = Rect::pixels(kWidth, kHeight), .frameRate = fps(kRate)});
    movie.setBackgroundColor({250, 250, 250});
    Shape bar;
    bar.fill0(bar.addFill(FillStyle::solid({20, 20, 20}))).rect(0, 0, 16 * 20, kHeight * 20);
    const uint16_t barId = movie.defineShape(bar);
    std::vector<uint16_t> squares;
    const Color colours[] = {{220, 40, 40}, {40, 180, 60}, {40, 60, 220}, {230, 200, 30}};
    for (const Color& c : colours) {
        Shape s;
        s.fill0(s.addFill(FillStyle::solid(c))).rect(0, 0, 80 * 20, 80 * 20);
        squares.push_back(movie.defineShape(s));
    }
    std::vector<int16_t> click(441);
    for (size_t i = 0; i < click.size(); ++i) click[i] = int16_t(30000 * std::sin(2 * M_PI * 1000 * double(i) / 44100));
    Bytes pcm;
    for (int16_t v : click) {
        pcm.push_back(uint8_t(v & 0xFF));
        pcm.push_back(uint8_t((uint16_t(v) >> 8) & 0xFF));
    }
    const uint16_t clickId = movie.defineSound(SoundFormat{}, uint32_t(click.size()), pcm);
    for (int f = 0; f < seconds * kRate; ++f) {
        if (f == 0) {
            movie.place({.depth = 1, .character = barId});
        } else {
            movie.place({.depth = 1, .move = true, .matrix = Matrix::translate((f % kRate) * 12 * 20, 0)});
        }
        if (f % kRate == 0) {
            if (f > 0) movie.removeObject2(2);
            movie.place({.depth = 2, .character = squares[size_t(f / kRate) % squares.size()],
                         .matrix = Matrix::translate(200 * 20, 140 * 20)});
            movie.startSound(clickId);
        }
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

struct CliRun {
    int code = -1;
    QString out, err;
};

class ConvertCliTest : public ::testing::Test {
protected:
    CliRun Cli(const QStringList& args) {
        const qm::test::ChildRun r = qm::test::RunChild(QStringLiteral(QM_CLI_PATH), args, Home());
        return {r.exitCode, r.out, r.err};
    }
    // A home of its own, so no stored default profile changes the outcome.
    qm::test::ChildOptions Home() const {
        return qm::test::ChildOptions().Env("HOME", home.path()).Env("XDG_CONFIG_HOME", home.filePath(".config"));
    }
    static QByteArray Tool(const QString& program, const QStringList& args) {
        return qm::test::RunChild(program, args, qm::test::ChildOptions().Timeout(120000)).rawOut;
    }
    static double Probe(const QString& file, const QString& entry, const QString& stream = {}) {
        QStringList args{"-v", "error", "-show_entries", entry, "-of", "default=nw=1:nk=1"};
        if (!stream.isEmpty()) args << "-select_streams" << stream;
        return Tool("ffprobe", args << file).trimmed().toDouble();
    }
    QString Path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir, home;
};

TEST_F(ConvertCliTest, ClickMovieBecomesAnExactMp4) {
    const QString movie = Path("clicks.swf");
    WriteClickMovie(movie, 10);
    const CliRun run = Cli({"convert", movie, "-o", Path("clicks.mp4"), "--end", "last"});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), Path("clicks.mp4"));
    const QString out = Path("clicks.mp4");

    EXPECT_NEAR(Probe(out, "stream=duration", "v:0"), 10.0, 1.0 / kRate + 1e-6);
    EXPECT_NEAR(Probe(out, "format=duration"), 10.0, 1.0 / kRate + 0.03);
    EXPECT_EQ(Tool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=codec_name,width,height",
                               "-of", "csv=p=0", out}).trimmed(),
              "h264,320,240");
    EXPECT_EQ(Tool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=codec_name,sample_rate,channels",
                               "-of", "csv=p=0", out}).trimmed(),
              "aac,44100,2");

    // Each click starts within one frame of its second.
    const QByteArray pcm = Tool("ffmpeg", {"-v", "error", "-i", out, "-ac", "1", "-f", "s16le", "-"});
    const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
    const size_t n = size_t(pcm.size()) / 2;
    for (int second = 0; second < 10; ++second) {
        const size_t from = second == 0 ? 0 : size_t(second * 44100 - 44100 / 2);
        size_t onset = n;
        for (size_t i = from; i < n && i < from + 44100; ++i)
            if (std::abs(s[i]) > 8000) {
                onset = i;
                break;
            }
        ASSERT_LT(onset, n) << "no click near second " << second;
        EXPECT_NEAR(double(onset), second * 44100.0, 44100.0 / kRate) << "second " << second;
    }

    // Decoded pictures match the player's own renderings of the same frames.
    for (int frame : {0, 37, 130, 249}) {
        SCOPED_TRACE(frame);
        const QString png = Path(QStringLiteral("frame%1.png").arg(frame));
        ASSERT_EQ(Cli({"render", movie, "--frames", QString::number(frame + 1), "--out", png}).code, 0);
        const QImage rendered = QImage(png).convertToFormat(QImage::Format_RGB888);
        const QByteArray rgb = Tool("ffmpeg", {"-v", "error", "-i", out, "-vf", QStringLiteral("select=eq(n\\,%1)").arg(frame),
                                               "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
        ASSERT_EQ(rgb.size(), kWidth * kHeight * 3);
        double diff = 0;
        for (int y = 0; y < kHeight; ++y) {
            const uchar* line = rendered.constScanLine(y);
            for (int x = 0; x < kWidth * 3; ++x) diff += std::abs(int(line[x]) - int(uchar(rgb[y * kWidth * 3 + x])));
        }
        EXPECT_LT(diff / (kWidth * kHeight * 3), 4.0);
    }
}

TEST_F(ConvertCliTest, TwoRunsGiveIdenticalFiles) {
    const QString movie = Path("short.swf");
    WriteClickMovie(movie, 2);
    ASSERT_EQ(Cli({"convert", movie, "-o", Path("a.mp4")}).code, 0);
    ASSERT_EQ(Cli({"convert", movie, "-o", Path("b.mp4")}).code, 0);
    QFile a(Path("a.mp4")), b(Path("b.mp4"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray first = a.readAll();
    EXPECT_GT(first.size(), 1000);
    EXPECT_TRUE(first == b.readAll());
}

TEST_F(ConvertCliTest, BatchConvertsInParallelAndADamagedMovieFailsAlone) {
    QStringList movies;
    for (const char* name : {"one.swf", "two.swf", "three.swf"}) {
        movies << Path(name);
        WriteClickMovie(movies.back(), 1);
    }
    QFile damaged(Path("damaged.swf"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("FWS\x08garbage that is not a movie");
    damaged.close();
    QDir().mkpath(Path("out"));
    const CliRun run = Cli(QStringList{"convert"} << movies.mid(0, 2) << Path("damaged.swf") << movies[2]
                                               << QStringList{"--jobs", "2", "--output-dir", Path("out"), "--json"});
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    for (const char* name : {"one.mp4", "two.mp4", "three.mp4"})
        EXPECT_GT(QFileInfo(Path("out/") + name).size(), 1000) << name;
    EXPECT_EQ(QDir(Path("out")).entryList(QDir::Files).size(), 3);
    const QStringList lines = run.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << run.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith("quellmark-cli convert: " + Path("damaged.swf") + ": ")) << lines[0].toStdString();
    const QJsonObject summary = QJsonDocument::fromJson(run.out.toUtf8()).object();
    ASSERT_EQ(summary["results"].toArray().size(), 4);
    EXPECT_FALSE(summary["results"].toArray()[2].toObject()["converted"].toBool());

    // The same names again: numbered, not replaced.
    const CliRun again = Cli({"convert", movies[0], "--output-dir", Path("out")});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out.trimmed(), Path("out/one(1).mp4"));
}

// A replacement sound, looped or not, a crop, a new size and a watermark, all in the one run.
TEST_F(ConvertCliTest, ReplacementSoundCropAndWatermarkInOneRun) {
    const QString movie = Path("three.swf");
    WriteClickMovie(movie, 3);
    const QString tone = Path("tone.wav");
    Tool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-ar", "44100", tone});
    const QString mark = Path("logo, [1].png");
    QImage green(8, 8, QImage::Format_ARGB32);
    green.fill(qRgba(0, 255, 0, 255));
    ASSERT_TRUE(green.save(mark, "PNG"));

    // Loudness of the decoded sound over a stretch of seconds.
    const auto level = [&](const QString& file, double from, double to) {
        const QByteArray pcm = Tool("ffmpeg", {"-v", "error", "-i", file, "-ac", "1", "-f", "s16le", "-"});
        const auto* s = reinterpret_cast<const int16_t*>(pcm.constData());
        double sum = 0;
        size_t n = 0;
        for (size_t i = size_t(from * 44100); i < size_t(to * 44100) && i < size_t(pcm.size()) / 2; ++i, ++n)
            sum += std::abs(s[i]);
        return n ? sum / double(n) : -1.0;
    };
    const CliRun looped = Cli({"convert", movie, "-o", Path("looped.mp4"), "--audio", tone, "--loop", "--end", "last",
                               "--crop", "0,0,160,120", "--resolution", "640x360", "--watermark", mark,
                               "--watermark-rect", "0,0,40,30"});
    ASSERT_EQ(looped.code, 0) << looped.err.toStdString();
    const CliRun once = Cli({"convert", movie, "-o", Path("once.mp4"), "--audio", tone, "--end", "last"});
    ASSERT_EQ(once.code, 0) << once.err.toStdString();
    EXPECT_NEAR(Probe(Path("looped.mp4"), "format=duration"), 3.0, 0.05);
    EXPECT_GT(level(Path("looped.mp4"), 0.2, 0.8), 1000);
    EXPECT_GT(level(Path("looped.mp4"), 2.2, 2.8), 1000);
    EXPECT_GT(level(Path("once.mp4"), 0.2, 0.8), 1000);
    EXPECT_LT(level(Path("once.mp4"), 2.2, 2.8), 100);

    // The 160x120 corner fills the 4:3 part of a 640x360 frame (bars of 80 pixels), and the
    // watermark covers its top left quarter: 40x30 movie pixels, 120x90 in the output.
    EXPECT_EQ(Tool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height", "-of",
                               "csv=p=0", Path("looped.mp4")}).trimmed(),
              "640,360");
    const QByteArray rgb = Tool("ffmpeg", {"-v", "error", "-i", Path("looped.mp4"), "-frames:v", "1", "-f", "rawvideo",
                                           "-pix_fmt", "rgb24", "-"});
    ASSERT_EQ(rgb.size(), 640 * 360 * 3);
    const auto pixel = [&](int x, int y) {
        const char* p = rgb.constData() + (y * 640 + x) * 3;
        return std::array<int, 3>{uchar(p[0]), uchar(p[1]), uchar(p[2])};
    };
    EXPECT_LT(pixel(40, 180)[1], 30);    // bar
    EXPECT_GT(pixel(100, 20)[1], 200);   // watermark
    EXPECT_LT(pixel(100, 20)[0], 60);
    EXPECT_GT(pixel(190, 100)[1], 200);
    EXPECT_GT(pixel(300, 200)[0], 200);  // the movie's own light background
}

// Stopping the program mid-way leaves a valid file of what was converted.
TEST_F(ConvertCliTest, StoppedConversionLeavesAValidFile) {
    const QString movie = Path("endless.swf");
    WriteClickMovie(movie, 1);
    qm::test::Child p(QStringLiteral(QM_CLI_PATH),
                  {"convert", movie, "-o", Path("endless.mp4"), "--end", "frames", "--frames", "1000000"}, Home());
    ASSERT_TRUE(p.Started());
    // Wait until encoding is under way.
    for (int i = 0; i < 600 && QFileInfo(Path("endless.mp4")).size() < 20000; ++i) QThread::msleep(100);
    p.Terminate();
    const qm::test::ChildRun r = p.Wait(60000);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_TRUE(r.err.contains("stopped;"));
    EXPECT_GT(Probe(Path("endless.mp4"), "format=duration"), 0.5);
}

TEST_F(ConvertCliTest, BadUsageIsRefused) {
    for (const QStringList& args : {QStringList{"convert"}, QStringList{"convert", "a.swf", "--end", "never"},
                                    QStringList{"convert", "a.swf", "b.swf", "-o", "x.mp4"},
                                    QStringList{"convert", "a.swf", "--crop", "1,2,3"},
                                    QStringList{"convert", "a.swf", "--frames", "5", "--duration", "1"},
                                    QStringList{"convert", "a.swf", "--format", "no such format"}}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.code, 2) << args.join(' ').toStdString() << "\n" << run.err.toStdString();
    }
}

}  // namespace
