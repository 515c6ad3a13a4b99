// A catalogue write that meets a full disk reports failure and leaves the earlier file whole:
// the user's formats are never lost to a half-written file.
#include <QDir>

#include "tests/file_size_limit.h"

#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

using qm::test::FileSizeLimit;

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
