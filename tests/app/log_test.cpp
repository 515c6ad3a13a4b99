#include "app/core/app_core.h"
#include "test_support.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace qm::app;
using qm::app::test::ReadAll;
using qm::app::test::WriteAll;

namespace {

QStringList Lines(const QString& path) {
    QStringList lines = QString::fromUtf8(ReadAll(path)).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

const QString kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

TEST(EventLog, LineFormatOfBothWriters) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log1.txt");
    TBrvLog log(path);
    EXPECT_EQ(ReadAll(path), "");  // created empty
    log.WriteInfo("Import File: /m/a b.swf");
    log.WriteError("Failed to GetSWFInfo");
    log.WriteInfo("");
    log.WriteError(QString::fromUtf8("Datei \xc3\xa4"));
    const QStringList lines = Lines(path);
    ASSERT_EQ(lines.size(), 4);
    const QString expected[] = {"    Import File: /m/a b.swf", "  Failed to GetSWFInfo", "    ",
                                QString::fromUtf8("  Datei \xc3\xa4")};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(QRegularExpression("^" + kStamp + "$").match(lines[i].left(19)).hasMatch()) << i;
        EXPECT_EQ(lines[i].mid(19), expected[i]) << i;
    }
    EXPECT_FALSE(ReadAll(path).contains('\r'));
}

TEST(EventLog, UnwritableLineRaisesAndLaterLinesTryAgain) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log1.txt");
    TBrvLog log(path);
    QFile::remove(path);
    QDir().mkdir(path);  // the path now names a folder
    EXPECT_THROW(log.WriteError("lost"), IoError);
    QDir().rmdir(path);
    log.WriteInfo("back");  // a removed file is started again
    ASSERT_EQ(Lines(path).size(), 1);
    EXPECT_TRUE(Lines(path)[0].endsWith("    back"));
}

TEST(EventLog, ConcurrentWritersKeepLinesWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log1.txt");
    TBrvLog log(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 200; ++i) log.WriteInfo(QString("thread %1 line %2").arg(t).arg(i));
        });
    for (auto& th : threads) th.join();
    const QStringList lines = Lines(path);
    ASSERT_EQ(lines.size(), 800);
    const QRegularExpression whole("^" + kStamp + R"(    thread \d line \d+$)");
    for (const QString& l : lines) ASSERT_TRUE(whole.match(l).hasMatch()) << l.toStdString();
}

TEST(RotateLogs, ShiftsUpAndDropsTheTenth) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    for (int n = 1; n <= 10; ++n) WriteAll(folder + QString("log%1.txt").arg(n), QByteArray::number(n));
    RotateLogs(folder);
    EXPECT_FALSE(QFile::exists(folder + "log1.txt"));
    for (int n = 2; n <= 10; ++n)
        EXPECT_EQ(ReadAll(folder + QString("log%1.txt").arg(n)), QByteArray::number(n - 1)) << n;
    EXPECT_FALSE(QFile::exists(folder + "log11.txt"));
}

TEST(RotateLogs, GapsStay) {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    WriteAll(folder + "log3.txt", "three");
    RotateLogs(folder);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"log4.txt"});
    EXPECT_EQ(ReadAll(folder + "log4.txt"), "three");
}

TEST(SystemReport, TenAlignedLinesWithTheProgramVersion) {
    QTemporaryDir dir;
    DataDir = dir.path() + "/";
    InitLog();
    const QString path = dir.path() + "/Log/log1.txt";
    ASSERT_EQ(AppLog->path(), path);
    WriteSystemReport(ScreenSizeText(1920, 1080));
    const QStringList lines = Lines(path);
    ASSERT_EQ(lines.size(), 10);
    QStringList messages;
    for (const QString& l : lines) {
        ASSERT_TRUE(l.mid(19, 4) == "    ") << l.toStdString();
        messages << l.mid(23);
    }
    const QString rule(69, '=');
    EXPECT_EQ(messages[0], rule);
    EXPECT_EQ(messages[8], rule);
    EXPECT_EQ(messages[9], "");
    const char* labels[] = {"System Version:  ", "Memory:          ", "Language:        ",
                            "Country:         ", "Metrics:         ", "Flash Player:    ",
                            "Program Version: "};
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(messages[i + 1].startsWith(labels[i])) << i;
    EXPECT_EQ(messages[5], "Metrics:         1920 X 1080");
    EXPECT_EQ(messages[7], "Program Version: " QM_VERSION_TEXT);
    EXPECT_TRUE(QRegularExpression(R"(^Memory:          \d+ MB$)").match(messages[2]).hasMatch());
    AppLog.reset();
}

TEST(Versions, FileVersionOfTheProgramItself) {
    const QString self = QFileInfo("/proc/self/exe").canonicalFilePath();
    EXPECT_EQ(GetFileVersionString(self, 3),
              QString("%1.%2.%3").arg(QM_VERSION_MAJOR).arg(QM_VERSION_MINOR).arg(QM_VERSION_PATCH));
    EXPECT_EQ(GetFileVersionString(self, 4), QM_VERSION_TEXT);
    QTemporaryDir dir;
    WriteAll(dir.filePath("other"), "x");
    EXPECT_EQ(GetFileVersionString(dir.filePath("other"), 4), "");
    EXPECT_TRUE(QRegularExpression(R"(^\d+\.\d+$)").match(GetOSVersion()).hasMatch());
}

TEST(Versions, CompareVersionAsWholeNumbers) {
    struct Case {
        const char *current, *other;
        int expected;
    } cases[] = {
        {"2.0.0", "2.0.1", 2}, {"2.0.1", "2.0.0", 1}, {"2.0.0", "2.0.0", 0},
        {"2.1.0", "2.0.10", 2},  // 210 against 2010
        {"1.00", "100", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareVersion(c.current, c.other), c.expected) << c.other;
    for (const char* bad : {"", "...", "2.0.a", " 2.0", "2.0.0.99999999999"}) {
        EXPECT_THROW(CompareVersion("2.0.0", bad), ConversionError) << bad;
        EXPECT_THROW(CompareVersion(bad, "2.0.0"), ConversionError) << bad;
    }
}

}  // namespace
