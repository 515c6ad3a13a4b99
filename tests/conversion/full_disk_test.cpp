// Nothing is lost when the disk fills during a conversion or the output folder cannot be written:
// quellmark-cli convert under a file size limit ends with a clear message, no partial output, no
// temporary files and the movie untouched; an earlier output being replaced stays whole; an
// unwritable folder is refused before anything is captured.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "conversion/conversion.h"
#include "testing/swfwriter/swfwriter.h"
#include "tests/child_process.h"

namespace {

using namespace qm::swfwriter;

// Noise-like squares each frame, so the output grows quickly past a small limit.
void WriteBusyMovie(const QString& path, int frames) {
    Movie movie({.version = 8, .frame = Rect::pixels(320, 240), .frameRate = fps(25)});
    std::vector<uint16_t> shapes;
    for (int i = 0; i < 16; ++i) {
        Shape s;
        s.fill0(s.addFill(FillStyle::solid({uint8_t(i * 53), uint8_t(i * 97), uint8_t(i * 31)}))).rect(0, 0, 40 * 20, 40 * 20);
        shapes.push_back(movie.defineShape(s));
    }
    for (int f = 0; f < frames; ++f) {
        for (int d = 1; d <= 24; ++d) {
            const int x = (f * 37 + d * 71) % 280, y = (f * 53 + d * 29) % 200;
            if (f == 0)
                movie.place({.depth = uint16_t(d), .character = shapes[size_t(d) % 16], .matrix = Matrix::translate(x * 20, y * 20)});
            else
                movie.place({.depth = uint16_t(d), .move = true, .matrix = Matrix::translate(x * 20, y * 20)});
        }
        movie.showFrame();
    }
    movie.save(path.toStdString());
}

struct CliRun {
    int code = -1;
    QString err;
};

class FullDiskTest : public ::testing::Test {
protected:
    // The program with every file it writes limited to `fileLimit` bytes (0: none); a write past
    // the limit fails with "File too large", as on a full disk, instead of ending the program.
    CliRun Cli(const QStringList& args, rlim_t fileLimit) {
        const qm::test::ChildRun p = qm::test::RunChild(
            QStringLiteral(QM_CLI_PATH), QStringList{"convert"} + args,
            qm::test::ChildOptions()
                .Env("HOME", home.path())
                .Env("XDG_CONFIG_HOME", home.filePath(".config"))
                .Env("TMPDIR", temp.path())
                .FileSizeLimit(fileLimit));
        return {p.exitCode, p.err};
    }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir, home, temp;
};

TEST_F(FullDiskTest, FullDiskEndsTheConversionAndLeavesNothingHalfWritten) {
    const QString movie = dir.filePath("busy.swf");
    WriteBusyMovie(movie, 250);
    const QByteArray movieBytes = Read(movie);
    ASSERT_LT(movieBytes.size(), 150000);

    // A new output: nothing of it stays.
    const QString output = dir.filePath("busy.mp4");
    CliRun run = Cli({movie, "-o", output, "--end", "frames"}, 150000);
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Cannot write the output file " + output + ": File too large")) << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(output));

    // An earlier output being replaced stays whole, and no passing file is left beside it.
    QFile earlier(output);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write(QByteArray(1000, 'x'));
    earlier.close();
    run = Cli({movie, "-o", output, "--end", "frames", "--overwrite"}, 150000);
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    EXPECT_EQ(Read(output), QByteArray(1000, 'x'));

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"busy.mp4", "busy.swf"}));
    EXPECT_EQ(Read(movie), movieBytes);
    EXPECT_TRUE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

    // Without the limit the same run replaces the earlier output.
    run = Cli({movie, "-o", output, "--end", "frames", "--overwrite"}, 0);
    EXPECT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_GT(QFileInfo(output).size(), 150000);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"busy.mp4", "busy.swf"}));
}

TEST_F(FullDiskTest, UnwritableOutputFolderIsRefusedBeforeTheCapture) {
    const QString movie = dir.filePath("m.swf");
    WriteBusyMovie(movie, 5);
    // A folder that can never exist (its parent is a file), and, where permissions bind (not
    // for the super-user), a read-only folder.
    QFile file(dir.filePath("plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList folders{dir.filePath("plain/out")};
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (geteuid() != 0) folders << locked;
    for (const QString& folder : folders) {
        const QString expected = "Cannot write to the output folder " + folder + ".";
        EXPECT_EQ(qm::conversion::OutputFolderProblem(folder), expected);
        const CliRun run = Cli({movie, "-o", folder + "/m.mp4"}, 0);
        EXPECT_EQ(run.code, 1) << folder.toStdString();
        EXPECT_TRUE(run.err.contains(expected)) << run.err.toStdString();
        // Refused at once: the engine never ran, so no conversion line was printed.
        EXPECT_FALSE(run.err.contains("converting")) << run.err.toStdString();
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(qm::conversion::OutputFolderProblem(locked).isEmpty());
    EXPECT_TRUE(qm::conversion::OutputFolderProblem(dir.filePath("new/deeper")).isEmpty());
    EXPECT_TRUE(QFileInfo(dir.filePath("new/deeper")).isDir());
    EXPECT_TRUE(QDir(locked).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));  // the probe is gone
}

}  // namespace
