// A catalogue write that meets a full disk reports failure and leaves the earlier file whole:
// the user's formats are never lost to a half-written file.
#include <QDir>

#include <signal.h>
#include <sys/resource.h>

#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

// Files may grow only to `bytes` while it lives; a longer write fails as on a full disk (the
// signal that would end the program is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        signal_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, signal_);
    }

private:
    rlimit saved_{};
    sighandler_t signal_{};
};

using CatalogueFullDiskTest = FormatsTest;

TEST_F(CatalogueFullDiskTest, AppendAndDeleteKeepTheEarlierFileWhole) {
    ASSERT_TRUE(QDir().mkpath(Path("user")));
    const QString file = Path("user/UserFormat.dat");
    for (int32_t id = 4001; id <= 4012; ++id) ASSERT_TRUE(AppendFormatToFile(SampleVideoFormat(id), file));
    const QByteArray earlier = ReadAll(file);
    ASSERT_GT(earlier.size(), 8192);
    {
        const FileSizeLimit limit(4096);
        EXPECT_FALSE(AppendFormatToFile(SampleAudioFormat(4013), file));
        EXPECT_FALSE(DeleteFormatFromFile(4012, file));  // still longer than the limit
    }
    EXPECT_EQ(ReadAll(file), earlier);
    EXPECT_EQ(QDir(Path("user")).entryList(QDir::Files | QDir::Hidden), QStringList{"UserFormat.dat"});
    EXPECT_TRUE(LogText().contains("Cannot write " + file)) << LogText().toStdString();
    TFormatList list;
    EXPECT_TRUE(LoadFormatFile(file, list));
    EXPECT_EQ(list.size(), 12);
}

}  // namespace
}  // namespace qm::formats::test
