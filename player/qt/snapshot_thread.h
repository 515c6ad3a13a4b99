// Saves the picture the player shows, one file per wake, off the window's
// thread: "<movie name>_<n>.<SnapshotExt>" in SnapshotPath, n the lowest
// free number; a bitmap for "bmp", a baseline JPEG of quality 90 otherwise.
#pragma once

#include <QImage>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qm::player {

class TShockwaveFlash;

class TSnapshotThread {
public:
    // The picture keeps the player's size of now. The player is not owned
    // and must outlive the worker.
    TSnapshotThread(const TShockwaveFlash* player, QString moviePath);
    // Ends the worker; a snapshot under way is finished first.
    ~TSnapshotThread();
    TSnapshotThread(const TSnapshotThread&) = delete;
    TSnapshotThread& operator=(const TSnapshotThread&) = delete;

    // Takes one snapshot; ignored while one is under way.
    void Wake();
    // Waits until no snapshot is asked for or under way.
    void WaitIdle();
    QString LastWritten() const;  // empty before the first file
    QString LastError() const;    // empty after a good write

    // Writes a picture as a bitmap ("bmp") or a baseline JPEG of quality 90.
    static bool SavePicture(const QImage& picture, const QString& path, const QString& extension,
                            QString& error);

private:
    void Run();
    void TakeSnapshot();

    const TShockwaveFlash* player_;
    QString movie_path_;
    QImage picture_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool requested_ = false;
    bool busy_ = false;
    bool terminate_ = false;
    QString last_written_, last_error_;
    std::thread thread_;
};

}  // namespace qm::player
