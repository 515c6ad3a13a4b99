// A second start's movie reaching the running instance, and the programs finding
// their files beside themselves when started through a symbolic link.
#include "app/core/app_core.h"
#include "app/core/instance_handoff.h"
#include "test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace qm::app;

namespace {

// Spins the event loop until `done` or the time is up.
template <class Done>
bool WaitFor(Done done, int ms = 10000) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(MovieArgument, TakesTheFirstFileAndSkipsOptions) {
    const QString cwd = QDir::currentPath();
    struct Case {
        QStringList args;
        QString expected;
    } cases[] = {
        {{"quellmark"}, ""},
        {{"quellmark", "/m/a.swf"}, "/m/a.swf"},
        {{"quellmark", "a.swf"}, cwd + "/a.swf"},
        {{"quellmark", "-platform", "offscreen", "/m/a.swf"}, "/m/a.swf"},
        {{"quellmark", "--style=fusion", "/m/b c.swf", "/m/d.swf"}, "/m/b c.swf"},
        {{"quellmark", "-reverse", "--", "-odd.swf"}, cwd + "/-odd.swf"},
        {{"quellmark", "file:///m/with%20space.swf"}, "/m/with space.swf"},
        {{"quellmark", "-platform"}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(MovieArgument(c.args), c.expected) << c.args.join(' ').toStdString();
}

class Handoff : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureCoreApp(); }
    QTemporaryDir dir;
    QString socket() const { return dir.path() + "/instance.handoff"; }
};

TEST_F(Handoff, PathsFromAnotherThreadReachTheRunningInstance) {
    QStringList received;
    InstanceHandoffServer server([&](const QString& file) { received << file; }, socket());
    // A file left by an instance that died does not stop the next one.
    test::WriteAll(socket(), "stale");
    ASSERT_TRUE(server.Listen()) << server.errorString().toStdString();

    const QStringList sent = {"/movies/first.swf", QString::fromUtf8("/filmy/příliš žluťoučký kůň.swf")};
    bool ok[2] = {false, false};
    std::thread second([&] {
        for (int i = 0; i < 2; ++i) ok[i] = HandOffFile(sent[i], socket(), 5000);
    });
    const bool arrived = WaitFor([&] { return received.size() == 2; });
    second.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(ok[0] && ok[1]);
    EXPECT_EQ(received, sent);
}

TEST_F(Handoff, NobodyListeningOrOversizedMessagesFail) {
    // No running instance: the second start learns it in time.
    EXPECT_FALSE(HandOffFile("/m/a.swf", socket(), 300));

    QStringList received;
    InstanceHandoffServer server([&](const QString& file) { received << file; }, socket());
    ASSERT_TRUE(server.Listen());
    EXPECT_FALSE(HandOffFile(QString(InstanceHandoffServer::kMaxHandoffBytes, 'x'), socket(), 1000));

    // A client that floods the socket without a line end is cut off; the next one is served.
    bool flooded = false;
    std::atomic<bool> floodEnded = false;
    std::thread flood([&] {
        QLocalSocket s;
        s.connectToServer(socket());
        if (s.waitForConnected(3000)) {
            s.write(QByteArray(InstanceHandoffServer::kMaxHandoffBytes + 10, 'y'));
            s.waitForBytesWritten(3000);
            flooded = s.state() == QLocalSocket::UnconnectedState || s.waitForDisconnected(5000);
        }
        floodEnded = true;
    });
    bool ok = false;
    std::thread good([&] { ok = HandOffFile("/m/good.swf", socket(), 5000); });
    // The server runs on this thread: serve it until both clients are done.
    const bool arrived = WaitFor([&] { return !received.isEmpty() && floodEnded; });
    flood.join();
    good.join();
    ASSERT_TRUE(arrived);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(flooded);
    EXPECT_EQ(received, QStringList{"/m/good.swf"});
}

// The programs are installed in a private folder with links in the system's
// program folder: they must still find the catalogue beside their real file.
TEST(ProgramDir, ResolvesThroughASymbolicLink) {
    test::EnsureCoreApp();
    QTemporaryDir bin;
    const QString link = bin.path() + "/quellmark-cli";
    ASSERT_TRUE(QFile::link(QStringLiteral(QM_CLI_PATH), link));

    auto run = [](const QString& program) {
        QProcess p;
        p.start(program, {"formats"});
        p.waitForFinished(60000);
        return std::make_pair(p.exitCode(), p.readAllStandardOutput());
    };
    const auto direct = run(QStringLiteral(QM_CLI_PATH));
    const auto linked = run(link);
    ASSERT_EQ(direct.first, 0);
    ASSERT_FALSE(direct.second.isEmpty());
    EXPECT_EQ(linked.first, 0);
    EXPECT_EQ(linked.second, direct.second);
}

// The desktop program itself: a movie named at the first start opens once the window shows;
// a second start with a movie hands it over and ends, and the running window opens it.
class ProgramHandoff : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureCoreApp();
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
        if (first.state() != QProcess::NotRunning) {
            first.kill();
            first.waitForFinished(5000);
        }
    }
    // A one-frame movie of 550 x 400 at 12 frames a second.
    QString WriteMovie(const QString& name) {
        static const unsigned char bytes[] = {0x46, 0x57, 0x53, 0x06, 0x19, 0x00, 0x00, 0x00, 0x80,
                                              0x00, 0x01, 0x57, 0xc0, 0x00, 0x00, 0xfa, 0x00, 0x00,
                                              0x0c, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00};
        const QString path = home.path() + "/movies dir/" + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        test::WriteAll(path, QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes));
        return path;
    }
    // Every log file's text: a second start rotates the logs under the running instance.
    QByteArray Logs() const {
        QByteArray all;
        const QString folder = home.path() + "/Documents/Brelvik/Quellmark Converter/Log/";
        for (const QString& f : QDir(folder).entryList({"log*.txt"}, QDir::Files)) all += test::ReadAll(folder + f);
        return all;
    }
    bool LogsHold(const QString& line) {
        return WaitFor([&] { return Logs().contains(line.toUtf8()); }, 30000);
    }
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QProcess first;
};

TEST_F(ProgramHandoff, ASecondStartsMovieOpensInTheRunningWindow) {
    const QString a = WriteMovie("first.swf"), b = WriteMovie("second.swf");
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(home.path() + "/movies dir");
    first.start(QM_GUI_PATH, {"first.swf"});  // relative to the folder it starts in
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(LogsHold("Import File: " + a)) << Logs().toStdString();

    const QString socket = home.path() + "/run/" + kInstanceGuid + ".handoff";
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(socket); }, 30000));
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QM_GUI_PATH, {"-platform", "offscreen", b});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(LogsHold("Import File: " + b)) << Logs().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // Without a movie the second start still ends silently and opens nothing.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(QM_GUI_PATH, {});
    ASSERT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(Logs().count("Import File: "), 2);
}

}  // namespace
