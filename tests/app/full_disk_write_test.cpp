// A settings write that meets a full disk fails with the settings error and leaves the earlier
// file whole: the new text goes to a temporary file that replaces the old only when complete.
#include "app/core/app_core.h"
#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include "tests/file_size_limit.h"

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::test::ReadAll;
using qm::app::test::WriteAll;

namespace {

using qm::test::FileSizeLimit;

TEST(FullDisk, SettingsWriteKeepsTheEarlierFileWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Settings.ini");
    QByteArray earlier = "[Output]\n";
    for (int i = 0; i < 100; ++i) earlier += "Key" + QByteArray::number(i) + "=" + QByteArray(100, 'v') + "\n";
    WriteAll(path, earlier);
    const IniFile ini(path);
    try {
        const FileSizeLimit limit(4096);
        ini.WriteString("Output", "OutputPath", "/somewhere/else/");
        ADD_FAILURE() << "the write did not fail";
    } catch (const IoError& e) {
        EXPECT_EQ(QString::fromStdString(e.what()), "Unable to write to " + path);
    }
    EXPECT_EQ(ReadAll(path), earlier);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Settings.ini"});
    // The same write with room to spare goes through.
    ini.WriteString("Output", "OutputPath", "/somewhere/else/");
    EXPECT_EQ(ini.ReadString("Output", "OutputPath"), "/somewhere/else/");
    EXPECT_EQ(ini.ReadString("Output", "Key99"), QString(100, 'v'));
}

}  // namespace
