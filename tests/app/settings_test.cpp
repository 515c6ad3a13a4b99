#include "app/core/app_core.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::test::ReadAll;
using qm::app::test::WriteAll;

namespace {

TEST(IniFile, FreshFileListsKeysInWriteOrderAndReplacesInPlace) {
    QTemporaryDir dir;
    const IniFile ini(dir.filePath("a.ini"));
    ini.WriteString("Output", "B", "2");
    ini.WriteString("Other", "X", "x");
    ini.WriteString("Output", "A", "1");  // joins its own section, before [Other]
    ini.WriteString("output", "b", "two");  // names match without regard to case
    EXPECT_EQ(ReadAll(ini.path()), "[Output]\nB=two\nA=1\n[Other]\nX=x\n");
    EXPECT_EQ(ini.ReadString("OUTPUT", "a"), "1");
    EXPECT_EQ(ini.ReadString("Output", "missing", "def"), "def");
    EXPECT_EQ(ini.ReadString("Nowhere", "A", "def"), "def");
}

TEST(IniFile, ReadsHandEditedFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath("b.ini");
    WriteAll(path, "\xEF\xBB\xBF; note\r\n[ Output ]\r\n  Path =  /a b/  \r\nQuoted=\"x y\"\r\n;Num=5\r\n"
                   "Num=0x1F\r\nBad=12abc\r\nOn=7\r\nEmpty=\r\n");
    const IniFile ini(path);
    EXPECT_EQ(ini.ReadString("Output", "Path"), "/a b/");
    EXPECT_EQ(ini.ReadString("Output", "Quoted"), "x y");
    EXPECT_EQ(ini.ReadString("Output", "Empty", "def"), "");
    EXPECT_EQ(ini.ReadInteger("Output", "Num", -1), 31);
    EXPECT_EQ(ini.ReadInteger("Output", "Bad", -1), -1);
    EXPECT_TRUE(ini.ReadBool("Output", "On", false));
    EXPECT_FALSE(ini.ReadBool("Output", "Bad", false));
    EXPECT_TRUE(ini.ReadBool("Output", "Bad", true));
    ini.WriteString("OUTPUT", "Num", "2");  // edits in place, no second section
    EXPECT_EQ(ReadAll(path).count("Output"), 1);
    EXPECT_EQ(ini.ReadInteger("Output", "Num", -1), 2);
}

TEST(IniFile, LineBreaksInValuesCannotAddKeys) {
    QTemporaryDir dir;
    const IniFile ini(dir.filePath("c.ini"));
    ini.WriteString("Output", "SourcePath", "/tmp/a\nOverWrite=1\n");
    EXPECT_EQ(ini.ReadString("Output", "OverWrite", "none"), "none");
}

TEST(IniFile, FailedWriteNamesTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("dir.ini");
    QDir().mkpath(path);  // a folder where the file should be
    try {
        IniFile(path).WriteString("Output", "A", "1");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + path);
    }
}

TEST(IniFile, ReadIniValueFallsBackWithoutFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("update.ini");
    EXPECT_EQ(ReadIniValue(path, "Data", "Version", "none"), "none");
    WriteAll(path, "[Data]\nVersion=2.0.1\n");
    EXPECT_EQ(ReadIniValue(path, "data", "version", "none"), "2.0.1");
    EXPECT_EQ(ReadIniValue(path, "Data", "Other", "none"), "none");
}

class SettingsLoad : public ::testing::Test {
protected:
    void Load() { LoadSettings(docs, temp); }
    QString Ini() const { return DataDir + "Mirasta.ini"; }
    QTemporaryDir dir;
    QString docs = dir.path() + "/Documents/";
    QString temp = dir.path() + "/tmp/";
};

TEST_F(SettingsLoad, FirstRunWritesAllKeysAndSecondRunChangesNothing) {
    Load();
    EXPECT_EQ(DataDir, docs + "Brelvik/Quellmark Converter/");
    EXPECT_EQ(SystemTempPath, temp);
    EXPECT_TRUE(QFileInfo(DataDir + "Snapshot").isDir());
    EXPECT_TRUE(QFileInfo(DataDir + "Output").isDir());
    const QByteArray expected =
        "[Output]\nSnapshotPath=\nOutputPath=\nSnapshotExt=\nSourcePath=\nSourceImgPath=\n"
        "SourceAudioPath=\nIsCheckUpdate=1\nOverWrite=0\nCaptureTempPath=\n";
    EXPECT_EQ(ReadAll(Ini()), expected);
    EXPECT_EQ(SnapshotPath, DataDir + "Snapshot/");
    EXPECT_EQ(OutputPath, DataDir + "Output/");
    EXPECT_EQ(SnapshotExt, "bmp");
    EXPECT_EQ(SourcePath, "");
    EXPECT_EQ(CaptureTempPath, temp);
    EXPECT_TRUE(IsCheckUpdate);
    EXPECT_FALSE(OverWrite);

    Load();
    EXPECT_EQ(ReadAll(Ini()), expected);
}

TEST_F(SettingsLoad, StoredValuesAreKeptAndNotWrittenBack) {
    const QString dataDir = docs + "Brelvik/Quellmark Converter/";
    QDir().mkpath(dataDir);
    const QString snaps = dir.path() + "/nowhere/snaps/";
    const QByteArray stored = "[Output]\nIsCheckUpdate=0\nOverWrite=1\nSnapshotPath=" + snaps.toUtf8() +
                              "\nSnapshotExt=jpg\nCaptureTempPath=/var/cap/\n";
    WriteAll(dataDir + "Mirasta.ini", stored);
    Load();
    EXPECT_FALSE(IsCheckUpdate);
    EXPECT_TRUE(OverWrite);
    EXPECT_EQ(SnapshotPath, snaps);
    EXPECT_FALSE(QFileInfo::exists(snaps));  // a stored folder is not created
    EXPECT_EQ(SnapshotExt, "jpg");
    EXPECT_EQ(CaptureTempPath, "/var/cap/");
    // Only the keys without a value were added, after the stored ones.
    EXPECT_EQ(ReadAll(Ini()), stored + "OutputPath=\nSourcePath=\nSourceImgPath=\nSourceAudioPath=\n");
}

TEST_F(SettingsLoad, UnreadableBooleansTakeTheirDefaultsAndAreRewritten) {
    const QString dataDir = docs + "Brelvik/Quellmark Converter/";
    QDir().mkpath(dataDir);
    WriteAll(dataDir + "Mirasta.ini", "[Output]\nIsCheckUpdate=yes\nOverWrite=maybe\n");
    Load();
    EXPECT_TRUE(IsCheckUpdate);
    EXPECT_FALSE(OverWrite);
    const IniFile ini(Ini());
    EXPECT_EQ(ini.ReadString("Output", "IsCheckUpdate"), "1");
    EXPECT_EQ(ini.ReadString("Output", "OverWrite"), "0");
}

TEST_F(SettingsLoad, UnwritableSettingsFileStopsTheLoad) {
    const QString dataDir = docs + "Brelvik/Quellmark Converter/";
    QDir().mkpath(dataDir + "Mirasta.ini");
    try {
        Load();
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(e.text(), "Unable to write to " + dataDir + "Mirasta.ini");
    }
}

TEST_F(SettingsLoad, WriteSettingUpdatesFileAndMemory) {
    Load();
    WriteSetting("SourcePath", QString("/movies/"));
    WriteSetting("OverWrite", true);
    EXPECT_EQ(SourcePath, "/movies/");
    EXPECT_TRUE(OverWrite);
    const IniFile ini(Ini());
    EXPECT_EQ(ini.ReadString("Output", "SourcePath"), "/movies/");
    EXPECT_EQ(ini.ReadString("Output", "OverWrite"), "1");
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    QTemporaryDir dir;
    const QString path = dir.filePath(kInstanceGuid);
    auto first = std::make_unique<SingleInstanceLock>(path);
    ASSERT_TRUE(first->Acquire());
    SingleInstanceLock second(path);  // a separate open file: flock conflicts as between processes
    EXPECT_FALSE(second.Acquire());
    first.reset();
    EXPECT_TRUE(second.Acquire());
}

}  // namespace
