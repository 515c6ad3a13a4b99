#include "app/core/app_core.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace qm::app {

namespace {
constexpr int kTransferTimeoutMs = 30000;  // no data for this long ends the download
constexpr int kCancelPollMs = 50;
}  // namespace

bool DownloadURLToFile(const QString& url, const QString& localFile, const DownloadProgress& progress,
                       const std::atomic<bool>* cancel) {
    const QUrl address(url);
    if (!address.isValid() || address.scheme().isEmpty()) return false;

    QSaveFile file(localFile);
    if (!file.open(QIODevice::WriteOnly)) return false;

    QNetworkAccessManager manager;
    QNetworkRequest request(address);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply* reply = manager.get(request);

    bool cancelled = false;
    bool writeFailed = false;
    QEventLoop loop;
    auto status = [&] { return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(); };
    auto statusText = [&] {
        return reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    };
    auto abort = [&] {
        if (reply->isRunning()) reply->abort();
    };

    // Progress follows the data as it is written: the reply's own progress
    // signal is throttled and may stay silent until the transfer ends.
    int64_t received = 0;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray chunk = reply->readAll();
        if (file.write(chunk) != chunk.size()) {
            writeFailed = true;
            abort();
            return;
        }
        received += chunk.size();
        if (!progress || cancelled) return;
        const int64_t expected = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        bool stop = false;
        progress(received, expected < 0 ? 0 : expected, status(), statusText(), stop);
        if (stop) {
            cancelled = true;
            abort();
        }
    });
    QTimer poll;
    if (cancel) {
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (cancel->load()) {
                cancelled = true;
                abort();
            }
        });
        poll.start(kCancelPollMs);
    }
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (cancel && cancel->load()) cancelled = true;
    if (!cancelled && !reply->isFinished()) loop.exec();
    abort();

    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    const int code = status();
    const bool ok = !cancelled && !writeFailed && reply->error() == QNetworkReply::NoError &&
                    (code == 0 || (code >= 200 && code < 300)) &&
                    file.write(rest) == rest.size();
    delete reply;
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace qm::app
