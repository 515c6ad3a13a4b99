// A second start's movie reaching the running instance, and the programs finding
// their files beside themselves when started through a symbolic link.
#include "app/core/instance_handoff.h"
#include "test_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    std::thread flood([&] {
        QLocalSocket s;
        s.connectToServer(socket());
        if (!s.waitForConnected(3000)) return;
        s.write(QByteArray(InstanceHandoffServer::kMaxHandoffBytes + 10, 'y'));
        s.waitForBytesWritten(3000);
        flooded = s.waitForDisconnected(5000);
    });
    bool ok = false;
    std::thread good([&] { ok = HandOffFile("/m/good.swf", socket(), 5000); });
    const bool arrived = WaitFor([&] { return !received.isEmpty(); });
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

}  // namespace
