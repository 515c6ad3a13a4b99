// Overwriting an earlier output: the conversion window writes beside it and the new file takes
// its name only once the run has completed, so a run that fails (a full disk) or is given up
// leaves the earlier file byte for byte, and no passing file stays in the output folder.
#include <QProgressBar>

#include <optional>

#include "../file_size_limit.h"
#include "conversion/conversion.h"
#include "converter_support.h"

namespace qm::conversion::test {
namespace {

class ConverterOverwriteTest : public ConverterFixture {
protected:
    void SetUp() override {
        ConverterFixture::SetUp();
        app::OverWrite = true;
    }
};

TEST_F(ConverterOverwriteTest, EarlierOutputStaysWholeUnlessTheRunCompletes) {
    enum class Ending { FullDisk, Cancelled, Completed };
    struct Case {
        const char* name;
        Ending ending;
    } cases[] = {{"full disk", Ending::FullDisk}, {"cancelled", Ending::Cancelled}, {"completed", Ending::Completed}};
    const QString output = outFolder + "movie.mp4";
    QByteArray earlierBytes(300 * 1024, '\0');
    for (int i = 0; i < earlierBytes.size(); ++i) earlierBytes[i] = char(i * 7 + i / 251);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        answers.clear();
        {
            QFile earlier(output);
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_EQ(earlier.write(earlierBytes), earlierBytes.size());
        }
        // Long enough to be cut short in the middle; the sound is short so that the WAV file
        // made as the window opens stays small.
        MakeVideo(60, "320x240");
        MakeRawSound(1);

        formats::TFileOption job = Job("320x240");
        job.Options.VideoCodec = "h.264";
        std::optional<qm::test::FileSizeLimit> limit;
        int result = 0;
        {
            // Files may grow to 1 MiB from the start: the WAV file of one second fits, the
            // output (60 s at 500 kbit/s, near 4 MB) does not. Setting it at the first progress
            // instead raced a fast machine, which had written the whole file by then.
            if (c.ending == Ending::FullDisk) limit.emplace(rlim_t(1) << 20);
            TConverterfrm window(job, *hook);
            auto* bar = window.findChild<QProgressBar*>("PbConverter");
            bool acted = false;
            QObject::connect(bar, &QProgressBar::valueChanged, &window, [&](int value) {
                if (acted || value < 1 || c.ending != Ending::Cancelled) return;
                acted = true;
                answers = {true};
                QTimer::singleShot(0, &window, [&] { window.CancelButton()->click(); });
            });
            if (c.ending == Ending::Completed) {
                ASSERT_TRUE(WaitForCompletion(window, 240000));
                EXPECT_EQ(window.OutputPath(), output);
            } else {
                result = Run(window, 240000);
                limit.reset();
                if (c.ending == Ending::Cancelled) {
                    ASSERT_TRUE(acted) << "no progress before the end";
                }
                EXPECT_EQ(result, QDialog::Rejected);
                EXPECT_FALSE(window.Completed());
                ASSERT_EQ(boxes.size(), 1u);
                if (c.ending == Ending::FullDisk) {
                    EXPECT_EQ(boxes[0].caption, "Error");
                    EXPECT_TRUE(boxes[0].text.contains("File too large")) << boxes[0].text.toStdString();
                } else {
                    EXPECT_EQ(boxes[0].text, "Whether to quit conversion?");
                }
            }
        }
        // Whatever the ending, only the output itself is in the folder.
        EXPECT_EQ(QDir(outFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"movie.mp4"});
        QFile after(output);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        const QByteArray bytes = after.readAll();
        if (c.ending == Ending::Completed) {
            EXPECT_NE(bytes, earlierBytes);
            EXPECT_NEAR(Probe(output).seconds, 60.0, 0.3);
        } else {
            EXPECT_TRUE(bytes == earlierBytes) << "the earlier output changed: " << bytes.size() << " bytes";
        }
        EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(", ").toStdString();
    }
}

}  // namespace
}  // namespace qm::conversion::test
