#include "app/core/instance_handoff.h"

#include "app/core/app_core.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QUrl>

namespace qm::app {

namespace {

// The toolkit's own options that take the next argument as their value.
bool TakesValue(QString option) {
    while (option.startsWith(QLatin1String("--"))) option.remove(0, 1);
    static const QStringList withValue = {
        QStringLiteral("-platform"),       QStringLiteral("-platformpluginpath"),
        QStringLiteral("-platformtheme"),  QStringLiteral("-plugin"),
        QStringLiteral("-style"),          QStringLiteral("-stylesheet"),
        QStringLiteral("-session"),        QStringLiteral("-display"),
        QStringLiteral("-title"),          QStringLiteral("-name"),
        QStringLiteral("-geometry"),       QStringLiteral("-qwindowgeometry"),
        QStringLiteral("-qwindowtitle"),   QStringLiteral("-qwindowicon"),
        QStringLiteral("-font"),           QStringLiteral("-fn"),
        QStringLiteral("-bg"),             QStringLiteral("-background"),
        QStringLiteral("-fg"),             QStringLiteral("-foreground"),
        QStringLiteral("-btn"),            QStringLiteral("-button"),
        QStringLiteral("-visual"),         QStringLiteral("-ncols"),
    };
    return withValue.contains(option);
}

}  // namespace

QString InstanceHandoffPath() { return InstanceLockPath() + QStringLiteral(".handoff"); }

QString MovieArgument(const QStringList& arguments) {
    bool options = true;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (!a.contains(QLatin1Char('=')) && TakesValue(a)) ++i;
            continue;
        }
        if (a.isEmpty()) continue;
        QString file = a;
        if (a.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) file = QUrl(a).toLocalFile();
        if (file.isEmpty()) continue;
        return QFileInfo(file).absoluteFilePath();
    }
    return {};
}

InstanceHandoffServer::InstanceHandoffServer(std::function<void(const QString&)> received, QString path)
    : received_(std::move(received)), path_(std::move(path)) {}

InstanceHandoffServer::~InstanceHandoffServer() {
    if (server_) server_->close();  // also removes the socket file
}

bool InstanceHandoffServer::Listen() {
    server_ = std::make_unique<QLocalServer>();
    // Only this user may hand files over, also when the runtime folder is the shared /tmp.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(path_);
    if (!server_->listen(path_)) return false;
    QLocalServer* server = server_.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            auto finish = [this, socket] {
                QByteArray message = socket->readAll();
                socket->deleteLater();
                if (message.size() > kMaxHandoffBytes) return;
                const int end = message.indexOf('\n');
                if (end < 0) return;  // the sender gave up before the whole path arrived
                const QString file = QString::fromUtf8(message.left(end));
                if (!file.isEmpty() && received_) received_(file);
            };
            auto check = [socket, finish] {
                if (socket->bytesAvailable() > kMaxHandoffBytes) {
                    socket->disconnect();
                    socket->abort();
                    socket->deleteLater();
                } else if (socket->peek(kMaxHandoffBytes + 1).contains('\n')) {
                    socket->disconnect();
                    finish();
                }
            };
            QObject::connect(socket, &QLocalSocket::readyRead, socket, check);
            QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, finish] {
                socket->disconnect();
                finish();
            });
            check();
        }
    });
    return true;
}

QString InstanceHandoffServer::errorString() const { return server_ ? server_->errorString() : QString(); }

bool HandOffFile(const QString& moviePath, const QString& path, int timeoutMs) {
    const QByteArray message = moviePath.toUtf8() + '\n';
    if (message.size() > InstanceHandoffServer::kMaxHandoffBytes) return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 1)))) {
            socket.write(message);
            while (socket.bytesToWrite() > 0)
                if (!socket.waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1)))) return false;
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
            return true;
        }
        if (deadline.hasExpired()) return false;
        QThread::msleep(100);  // the running instance has not started listening yet
    }
}

}  // namespace qm::app
