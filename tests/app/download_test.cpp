#include "app/core/app_core.h"
#include "test_support.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qm::app;
using qm::app::test::ReadAll;
using qm::app::test::WriteAll;

namespace {

// A tiny HTTP server on 127.0.0.1: /file answers a body, /stall sends half a
// body and then nothing, anything else is 404.
class TinyServer {
public:
    explicit TinyServer(QByteArray body) : body_(std::move(body)) {
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Answer(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QString Url(const char* path) const {
        return QString("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }

private:
    void Answer(QTcpSocket* s) {
        QByteArray& request = pending_[s];
        request += s->readAll();
        if (!request.contains("\r\n\r\n")) return;
        const QByteArray path = request.split(' ').value(1);
        const QByteArray head = "HTTP/1.1 %1\r\nContent-Length: " + QByteArray::number(body_.size()) +
                                "\r\nConnection: close\r\n\r\n";
        if (path == "/file") {
            s->write(QByteArray(head).replace("%1", "200 OK") + body_);
            s->disconnectFromHost();
        } else if (path == "/stall") {
            s->write(QByteArray(head).replace("%1", "200 OK") + body_.left(body_.size() / 2));
            s->flush();
        } else {
            s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
            s->disconnectFromHost();
        }
    }
    QByteArray body_;
    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> pending_;
};

class Download : public ::testing::Test {
protected:
    void SetUp() override {
        qm::app::test::EnsureCoreApp();
        for (int i = 0; i < 300000; ++i) body.append(char('a' + i % 26));
        server = std::make_unique<TinyServer>(body);
        WriteAll(target, "previous");
    }
    QByteArray body;
    std::unique_ptr<TinyServer> server;
    QTemporaryDir dir;
    QString target = dir.filePath("update.ini");
};

TEST_F(Download, FetchesTheWholeBodyWithProgress) {
    int64_t lastReceived = -1, lastExpected = -1;
    int lastStatus = -1;
    bool monotonic = true;
    const bool ok = DownloadURLToFile(server->Url("/file"), target,
                                      [&](int64_t received, int64_t expected, int status,
                                          const QString&, bool&) {
                                          monotonic = monotonic && received >= lastReceived;
                                          lastReceived = received;
                                          lastExpected = expected;
                                          lastStatus = status;
                                      });
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadAll(target), body);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(lastReceived, body.size());
    EXPECT_EQ(lastExpected, body.size());
    EXPECT_EQ(lastStatus, 200);
}

TEST_F(Download, FailuresAnswerFalseAndKeepTheOldFile) {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused = QString("http://127.0.0.1:%1/file").arg(closed.serverPort());
    closed.close();

    EXPECT_FALSE(DownloadURLToFile(server->Url("/missing"), target));
    EXPECT_FALSE(DownloadURLToFile(refused, target));
    EXPECT_FALSE(DownloadURLToFile("not a url", target));
    EXPECT_EQ(ReadAll(target), "previous");
    EXPECT_FALSE(DownloadURLToFile(server->Url("/file"), dir.filePath("no/such/folder/f")));
}

TEST_F(Download, CancelEndsAStalledTransfer) {
    // By the callback's flag.
    EXPECT_FALSE(DownloadURLToFile(server->Url("/stall"), target,
                                   [](int64_t received, int64_t, int, const QString&, bool& cancel) {
                                       if (received > 0) cancel = true;
                                   }));
    // By the caller's flag, set from the progress report.
    std::atomic<bool> stop{false};
    EXPECT_FALSE(DownloadURLToFile(
        server->Url("/stall"), target,
        [&](int64_t received, int64_t, int, const QString&, bool&) { stop = received > 0; }, &stop));
    EXPECT_EQ(ReadAll(target), "previous");
}

}  // namespace
