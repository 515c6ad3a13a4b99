#include "app/ui/app_ui.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace qm::app {

namespace {
constexpr int kFileManagerReplyMs = 5000;
}

void SelectInExplorer(const QString& path) {
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{QUrl::fromLocalFile(absolute).toString()} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kFileManagerReplyMs);
        if (reply.type() == QDBusMessage::ReplyMessage) return;
    }
    const QString folder = info.isDir() ? absolute : info.absolutePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void OpenFolderInFileManager(const QString& folder) {
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowFolders"));
        call << QStringList{QUrl::fromLocalFile(absolute).toString()} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kFileManagerReplyMs);
        if (reply.type() == QDBusMessage::ReplyMessage) return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
}

}  // namespace qm::app
