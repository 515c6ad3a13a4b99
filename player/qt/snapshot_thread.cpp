#include "player/qt/snapshot_thread.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

#include "app/core/app_core.h"
#include "player/qt/shockwave_flash.h"

namespace qm::player {

TSnapshotThread::TSnapshotThread(const TShockwaveFlash* player, QString moviePath)
    : player_(player), movie_path_(std::move(moviePath)) {
    if (player_ && player_->width() > 0 && player_->height() > 0) {
        picture_ = QImage(player_->width(), player_->height(), QImage::Format_ARGB32_Premultiplied);
        picture_.fill(Qt::black);
    }
    thread_ = std::thread([this] { Run(); });
}

TSnapshotThread::~TSnapshotThread() {
    {
        std::lock_guard lock(mutex_);
        terminate_ = true;
        requested_ = false;  // a wake not yet taken writes nothing
    }
    wake_.notify_all();
    thread_.join();
}

void TSnapshotThread::Wake() {
    {
        std::lock_guard lock(mutex_);
        if (busy_ || requested_ || terminate_) return;
        requested_ = true;
    }
    wake_.notify_all();
}

void TSnapshotThread::WaitIdle() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !requested_ && !busy_; });
}

QString TSnapshotThread::LastWritten() const {
    std::lock_guard lock(mutex_);
    return last_written_;
}

QString TSnapshotThread::LastError() const {
    std::lock_guard lock(mutex_);
    return last_error_;
}

void TSnapshotThread::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return requested_ || terminate_; });
        if (terminate_) return;
        requested_ = false;
        busy_ = true;
        lock.unlock();
        TakeSnapshot();
        lock.lock();
        busy_ = false;
        wake_.notify_all();
    }
}

void TSnapshotThread::TakeSnapshot() {
    if (picture_.width() <= 0) return;
    picture_.fill(Qt::black);
    // The control paints under its own lock, so no trip to the window's thread is needed.
    if (player_) player_->PaintTo(picture_);
    const QString extension = app::SnapshotExt;
    QString folder = app::SnapshotPath;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    const QString path = app::NumberedFileName(folder + QFileInfo(movie_path_).fileName(), extension,
                                               QStringLiteral("_"));
    QString error;
    const bool ok = SavePicture(picture_, path, extension, error);
    {
        std::lock_guard lock(mutex_);
        if (ok) {
            last_written_ = path;
            last_error_.clear();
        } else {
            last_error_ = error;
        }
    }
    if (!ok) {
        // Logged, and the worker stays ready: a later press may find the folder writable again.
        const QString line = QStringLiteral("Snapshot: cannot write \"%1\": %2").arg(path, error);
        if (app::AppLog) {
            try {
                app::AppLog->WriteError(line);
            } catch (...) {
            }
        } else {
            qWarning("%s", qUtf8Printable(line));
        }
    }
}

bool TSnapshotThread::SavePicture(const QImage& picture, const QString& path, const QString& extension,
                                  QString& error) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QImageWriter writer(path, extension == QLatin1String("bmp") ? QByteArray("bmp") : QByteArray("jpeg"));
    if (extension != QLatin1String("bmp")) {
        writer.setQuality(90);
        writer.setProgressiveScanWrite(false);
        writer.setOptimizedWrite(false);
    }
    if (!writer.write(rgb)) {
        error = writer.errorString();
        QFile::remove(path);  // no half-written file under the name
        return false;
    }
    return true;
}

}  // namespace qm::player
