// The update check against a small HTTP server on 127.0.0.1: the automatic check after
// start-up, the update window of the manual check, and a worker that outlives its window.
#include "app/core/app_core.h"
#include "app/windows/update_window.h"
#include "app/windows/window_hooks.h"
#include "controls/skin_art.h"
#include "controls/skinned_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

using namespace qm::app;

namespace {

// Serves fixed answers by path; a path may answer late. Everything else is 404.
class UpdateServerStub {
public:
    struct Answer {
        QByteArray body;
        int delayMs = 0;
    };
    UpdateServerStub() {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Serve(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QString Address() const { return QString("http://127.0.0.1:%1").arg(server_.serverPort()); }
    void Set(const QByteArray& path, Answer answer) { answers_[path] = std::move(answer); }
    void Remove(const QByteArray& path) { answers_.erase(path); }
    int Requests(const QByteArray& path) const {
        const auto it = requests_.find(path);
        return it == requests_.end() ? 0 : it->second;
    }

private:
    void Serve(QTcpSocket* s) {
        QByteArray& request = pending_[s];
        request += s->readAll();
        if (!request.contains("\r\n\r\n")) return;
        const QByteArray path = request.split(' ').value(1);
        ++requests_[path];
        const auto it = answers_.find(path);
        QByteArray reply;
        if (it == answers_.end())
            reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found";
        else
            reply = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(it->second.body.size()) +
                    "\r\nConnection: close\r\n\r\n" + it->second.body;
        QPointer<QTcpSocket> socket(s);
        auto send = [socket, reply] {
            if (!socket) return;
            socket->write(reply);
            socket->disconnectFromHost();
        };
        if (it != answers_.end() && it->second.delayMs > 0)
            QTimer::singleShot(it->second.delayMs, send);
        else
            send();
    }
    QTcpServer server_;
    std::map<QByteArray, Answer> answers_;
    std::map<QByteArray, int> requests_;
    std::map<QTcpSocket*, QByteArray> pending_;
};

const QByteArray kIni = "/download/mirasta/update.ini";
const QByteArray kNotes = "/download/mirasta/whatsnew.xml";
const QByteArray kNotesText = "<news>\n  <item>Faster capture</item>\n</news>\n";

QByteArray IniOf(const QByteArray& version) { return "[Data]\nVersion=" + version + "\n"; }

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(qm::controls::WriteFormSkin(home_.filePath("skin"), &error)) << error.toStdString();
        qm::controls::SetSkinFormFolder(home_.filePath("skin"));
        QDir(home_.path()).mkpath("docs");
        QDir(home_.path()).mkpath("tmp");
        LoadSettings(home_.filePath("docs") + "/", home_.filePath("tmp") + "/");
        SetUpdateServer(server_.Address());
        server_.Set(kNotes, {kNotesText});
    }
    void TearDown() override {
        TDownloadThread::EndAll();
        SetUpdateServer(QString());
        SetRunningProgramVersion(QString());
        TUpdateCheck::ShowUpdateWindow = [](TUpdatefrm& window) { window.exec(); };
        qm::controls::SetSkinFormFolder(QString());
    }

    struct Shown {
        bool shown = false;
        QString version, notes, url, info;
        bool progressVisible = true, linkVisible = false;
    };
    // Runs the automatic check to its end; what the update window showed, if it was shown.
    Shown AutomaticCheck() {
        Shown result;
        TUpdateCheck::ShowUpdateWindow = [&result](TUpdatefrm& window) {
            window.show();
            result.shown = true;
            result.version = window.lbVersion->text();
            result.notes = window.mmonew->toPlainText();
            result.url = window.URL();
            result.progressVisible = window.progress->isVisible();
            result.linkVisible = window.lblURL->isVisible();
            result.info = window.lblUpdateinfo->isVisible() ? window.lblUpdateinfo->text() : QString();
            window.close();
        };
        QWidget mainWindow;
        TUpdateCheck check(&mainWindow);
        bool finished = false;
        QObject::connect(&check, &TUpdateCheck::Finished, [&finished] { finished = true; });
        check.StartUpdateCheck();
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 10000));
        return result;
    }
    // The manual check's window after its download has ended.
    QString ManualCheckInfo(TUpdatefrm& window) {
        window.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.Worker(); }, 10000));
        QCoreApplication::processEvents();
        return window.lblUpdateinfo->isVisible() ? window.lblUpdateinfo->text() : QString("(news)");
    }

    QTemporaryDir home_;
    UpdateServerStub server_;
};

// The worker's messages, in the order the receiver gets them.
QStringList RunWorker(const QList<QPair<QString, QString>>& downloads) {
    TDownloadReceiver receiver;
    QStringList log;
    bool done = false;
    QObject::connect(&receiver, &TDownloadReceiver::DownloadBegin, [&] { log << "begin"; });
    QObject::connect(&receiver, &TDownloadReceiver::DownloadProgress, [&](qint64 received, qint64 expected) {
        if (received <= 0 || expected <= 0) log << "bad progress";
        if (log.isEmpty() || log.last() != "progress") log << "progress";
    });
    QObject::connect(&receiver, &TDownloadReceiver::DownloadFileDone,
                     [&](const QString& file) { log << "file " + QFileInfo(file).fileName(); });
    QObject::connect(&receiver, &TDownloadReceiver::DownloadDone, [&](bool ok) {
        log << (ok ? "done 1" : "done 0");
        done = true;
    });
    QPointer<TDownloadThread> worker = new TDownloadThread(&receiver);
    for (const auto& d : downloads) worker->AddDownload(d.first, d.second);
    worker->Start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return done && !worker; }, 10000));
    return log;
}

TEST_F(UpdateTest, WorkerReportsEachFileAndStopsAtTheFirstFailure) {
    server_.Set(kIni, {IniOf("2.0.1")});
    const QString ini = home_.filePath("a.ini"), notes = home_.filePath("b.xml"), more = home_.filePath("c.txt");
    EXPECT_EQ(RunWorker({{UpdateAddress(kIni), ini}, {UpdateAddress(kNotes), notes}}),
              QStringList({"begin", "progress", "file a.ini", "begin", "progress", "file b.xml", "done 1"}));
    EXPECT_EQ(IniFile(ini).ReadString("Data", "Version"), "2.0.1");
    EXPECT_EQ(RunWorker({{UpdateAddress("/missing"), more}, {UpdateAddress(kNotes), notes}}),
              QStringList({"begin", "file c.txt", "done 0"}));
    EXPECT_FALSE(QFileInfo::exists(more));
    EXPECT_EQ(server_.Requests(kNotes), 1) << "nothing after a failure";
    EXPECT_EQ(RunWorker({}), QStringList({"done 1"}));
}

TEST_F(UpdateTest, ServerAddressIsASettingWithTheMakersDefault) {
    SetUpdateServer(QString());
    EXPECT_EQ(UpdateServer(), "http://www.brelvik.com");
    EXPECT_EQ(UpdateAddress(kInstallerPath), "http://www.brelvik.com/download/mirasta/mirasta-full.exe");
    WriteSetting("UpdateServer", QString("http://updates.example.org/"));
    EXPECT_EQ(UpdateServer(), "http://updates.example.org");
    SetUpdateServer(server_.Address());
    EXPECT_EQ(UpdateServer(), server_.Address());
}

TEST_F(UpdateTest, AutomaticCheckShowsTheNotesOnlyForANewerVersion) {
    struct Case {
        const char* program;
        const char* server;
        bool shown;
    } const cases[] = {
        {"2.0.0", "2.0.1", true},
        {"2.1.0", "2.0.10", true},  // dots removed: 2010 is more than 210
        {"2.0.1", "2.0.1", false},
        {"2.0.2", "2.0.1", false},
        {"2.0.0", "", false},
        {"2.0.0", "2.x", false},  // an unreadable server file is not the user's business
    };
    for (const Case& c : cases) {
        SetRunningProgramVersion(c.program);
        server_.Set(kIni, {IniOf(c.server)});
        const Shown shown = AutomaticCheck();
        EXPECT_EQ(shown.shown, c.shown) << c.program << " against " << c.server;
        if (!c.shown) continue;
        EXPECT_EQ(shown.version, c.server);
        EXPECT_EQ(shown.notes, QString::fromUtf8(kNotesText));
        EXPECT_EQ(shown.url, server_.Address() + "/download/mirasta/mirasta-full.exe");
        EXPECT_TRUE(shown.linkVisible);
        EXPECT_FALSE(shown.progressVisible);
        EXPECT_TRUE(shown.info.isEmpty());
    }
}

TEST_F(UpdateTest, AutomaticCheckStaysSilentWhenTheServerFails) {
    SetRunningProgramVersion("2.0.0");
    const Shown shown = AutomaticCheck();  // no update.ini on the server
    EXPECT_FALSE(shown.shown);
    EXPECT_EQ(server_.Requests(kIni), 1);
    EXPECT_EQ(server_.Requests(kNotes), 0) << "a failure ends the queue";
}

TEST_F(UpdateTest, WithoutCheckAtStartNothingIsDownloadedButTheMenuStillChecks) {
    SetRunningProgramVersion("2.0.1");
    server_.Set(kIni, {IniOf("2.0.1")});
    WriteSetting("IsCheckUpdate", false);
    QWidget mainWindow;
    TUpdateCheck check(&mainWindow);
    check.StartUpdateCheck();
    EXPECT_FALSE(check.Running());
    QTest::qWait(300);
    EXPECT_EQ(server_.Requests(kIni), 0);

    TUpdatefrm window;
    EXPECT_EQ(ManualCheckInfo(window), TUpdatefrm::kLatest);
    EXPECT_EQ(server_.Requests(kIni), 1);
    EXPECT_EQ(window.progress->value(), window.progress->maximum());
}

TEST_F(UpdateTest, ManualCheckSaysWhatItFound) {
    struct Case {
        QByteArray ini;  // empty: the server has no update.ini
        QString info;
    } const cases[] = {
        {IniOf("2.0.1"), TUpdatefrm::kLatest},
        {IniOf("1.9.9"), TUpdatefrm::kLatest},
        {QByteArray(), TUpdatefrm::kFailed},
        {IniOf("two"), TUpdatefrm::kFailed},
        {IniOf("2.0.1") + QByteArray(kMaxUpdateFileBytes, ';'), TUpdatefrm::kFailed},  // too large
        {"[Data]\n", TUpdatefrm::kDownloading},  // no version: nothing more is said
        {IniOf("2.0.2"), "(news)"},
    };
    SetRunningProgramVersion("2.0.1");
    for (const Case& c : cases) {
        if (c.ini.isEmpty())
            server_.Remove(kIni);
        else
            server_.Set(kIni, {c.ini});
        TUpdatefrm window;
        EXPECT_EQ(ManualCheckInfo(window), c.info) << c.ini.left(40).toStdString();
        if (c.info == "(news)") {
            EXPECT_EQ(window.lbVersion->text(), "2.0.2");
            EXPECT_EQ(window.mmonew->toPlainText(), QString::fromUtf8(kNotesText));
            EXPECT_TRUE(window.mmonew->isVisible());
            EXPECT_FALSE(window.progress->isVisible());
            EXPECT_TRUE(window.lblURL->isVisible());
            QString opened;
            SetOpenUrlFunction([&opened](const QUrl& address) { opened = address.toString(); });
            window.lblURL->linkActivated("#");
            EXPECT_EQ(opened, server_.Address() + "/download/mirasta/mirasta-full.exe");
            SetOpenUrlFunction({});
        } else {
            EXPECT_FALSE(window.mmonew->isVisible());
            EXPECT_FALSE(window.lblURL->isVisible());
        }
    }
}

TEST_F(UpdateTest, ClosingDuringADownloadEndsTheWorkerAfterThatFile) {
    SetRunningProgramVersion("2.0.0");
    server_.Set(kIni, {IniOf("2.0.1"), 1500});
    TUpdatefrm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.Requests(kIni) == 1; }, 5000));
    QPointer<TDownloadThread> worker = window.Worker();
    ASSERT_TRUE(worker);
    auto* receiver = window.findChild<TDownloadReceiver*>();
    ASSERT_TRUE(receiver);
    int messages = 0;
    QObject::connect(receiver, &TDownloadReceiver::DownloadBegin, [&] { ++messages; });
    QObject::connect(receiver, &TDownloadReceiver::DownloadProgress, [&] { ++messages; });
    QObject::connect(receiver, &TDownloadReceiver::DownloadFileDone, [&] { ++messages; });
    QObject::connect(receiver, &TDownloadReceiver::DownloadDone, [&] { ++messages; });
    const int progressBefore = window.progress->value();

    QTest::mouseClick(window.btnCancel, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(worker->Terminated());
    // The worker frees itself once the file in flight has arrived.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(messages, 0);
    EXPECT_EQ(window.progress->value(), progressBefore);
    EXPECT_EQ(window.lblUpdateinfo->text(), TUpdatefrm::kDownloading);
    EXPECT_EQ(server_.Requests(kNotes), 0);
}

TEST_F(UpdateTest, AWindowDestroyedDuringADownloadLeavesTheWorkerSafe) {
    SetRunningProgramVersion("2.0.0");
    server_.Set(kIni, {IniOf("2.0.1"), 800});
    QPointer<TDownloadThread> worker;
    {
        auto* window = new TUpdatefrm;
        window->show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return server_.Requests(kIni) == 1; }, 5000));
        worker = window->Worker();
        delete window;
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !worker; }, 10000));
    EXPECT_EQ(server_.Requests(kNotes), 0);
}

TEST_F(UpdateTest, EndAllCutsShortADownloadThatNeverAnswers) {
    SetRunningProgramVersion("2.0.0");
    server_.Set(kIni, {IniOf("2.0.1"), 60000});
    QWidget mainWindow;
    auto* check = new TUpdateCheck(&mainWindow);
    check->StartUpdateCheck();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server_.Requests(kIni) == 1; }, 5000));
    EXPECT_TRUE(check->Running());
    QElapsedTimer clock;
    clock.start();
    TDownloadThread::EndAll();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(check->Running());
}

}  // namespace
