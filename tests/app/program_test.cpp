// Starts the desktop program itself on the offscreen platform with a home of
// its own.
#include "test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using qm::app::test::ReadAll;

namespace {

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        qm::app::test::EnsureCoreApp();
        QDir().mkpath(home.path() + "/run");
        QFile::setPermissions(home.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(home.path() + "/tmp");
        env.insert("HOME", home.path());
        env.insert("XDG_RUNTIME_DIR", home.path() + "/run");
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DATA_HOME", home.path() + "/.local/share");
        env.insert("XDG_CACHE_HOME", home.path() + "/.cache");
        env.insert("TMPDIR", home.path() + "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override {
        for (QProcess* p : started) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
            delete p;
        }
    }
    QProcess* Start() {
        auto* p = new QProcess;
        started.push_back(p);
        p->setProcessEnvironment(env);
        p->start(QM_GUI_PATH, {});
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }
    QString DataDir() const { return home.path() + "/Documents/Brelvik/Quellmark Converter/"; }
    // Polls until the log holds the whole system report: its closing rule and
    // the empty line after it.
    // Answers the log up to the end of the report, empty when it never came.
    QByteArray WaitForReport(const QString& log, QProcess* p) {
        const QByteArray rule(69, '=');
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            const QByteArray text = ReadAll(log);
            const qsizetype first = text.indexOf(rule);
            const qsizetype second = first < 0 ? -1 : text.indexOf(rule, first + rule.size());
            const qsizetype end = second < 0 ? -1 : text.indexOf("    \n", second);
            if (end >= 0) return text.left(end + 5);
            if (p->state() == QProcess::NotRunning) return {};
            QThread::msleep(20);
        }
        return {};
    }

    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    std::vector<QProcess*> started;
};

TEST_F(Program, FirstStartMakesItsFilesAndASecondStartLeavesAtOnce) {
    QProcess* first = Start();
    const QString log1 = DataDir() + "Log/log1.txt";
    const QByteArray report = WaitForReport(log1, first);
    ASSERT_FALSE(report.isEmpty()) << first->readAllStandardError().toStdString();

    for (const char* folder : {"Snapshot", "Output", "Log"})
        EXPECT_TRUE(QFileInfo(DataDir() + folder).isDir()) << folder;
    EXPECT_EQ(ReadAll(DataDir() + "Mirasta.ini"),
              "[Output]\nSnapshotPath=\nOutputPath=\nSnapshotExt=\nSourcePath=\nSourceImgPath=\n"
              "SourceAudioPath=\nIsCheckUpdate=1\nOverWrite=0\nCaptureTempPath=\n");
    EXPECT_TRUE(report.contains("    " + QByteArray(69, '=') + "\n")) << report.toStdString();
    EXPECT_TRUE(report.contains("    Program Version: " QM_VERSION_TEXT "\n"));
    EXPECT_EQ(report.count('\n'), 10);

    QProcess* second = Start();
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);
    // The second start rotated the logs: the first run's report moved on.
    EXPECT_TRUE(ReadAll(DataDir() + "Log/log2.txt").startsWith(report));
    EXPECT_FALSE(ReadAll(log1).contains("System Version:"));
}

TEST_F(Program, UnwritableSettingsFileEndsTheStartWithItsMessage) {
    QDir().mkpath(DataDir() + "Mirasta.ini");
    QProcess* p = Start();
    ASSERT_TRUE(p->waitForFinished(15000));
    EXPECT_NE(p->exitCode(), 0);
    EXPECT_TRUE(p->readAllStandardError().contains(
        ("Unable to write to " + DataDir() + "Mirasta.ini").toUtf8()));
}

}  // namespace
