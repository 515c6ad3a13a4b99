// The update check's download worker and what both of its windows read from its files.
//
// A worker fetches its queued files one after another on a thread of its own and tells the
// receiver that started it about each step through events on the receiver's thread: a file
// begins, progress, a file is done (the worker waits until the receiver has handled it), and
// the worker is done. A receiver that is destroyed, or a worker asked to terminate, gets no
// further event; a worker frees itself when it ends.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

namespace qm::app {

// Where the update files lie: the server (a setting with the maker's address as default)
// plus these paths.
inline const QString kUpdateIniPath = QStringLiteral("/download/mirasta/update.ini");
inline const QString kWhatsNewPath = QStringLiteral("/download/mirasta/whatsnew.xml");
inline const QString kInstallerPath = QStringLiteral("/download/mirasta/mirasta-full.exe");
inline const QString kDefaultUpdateServer = QStringLiteral("http://www.brelvik.com");

// The server's address without a trailing "/": the "UpdateServer" key of the settings file
// when it holds one, else kDefaultUpdateServer.
QString UpdateServer();
// A test may point the check at its own server; an empty text restores the setting.
void SetUpdateServer(const QString& address);
QString UpdateAddress(const QString& path);  // UpdateServer() + path

QString LocalUpdateIni();       // DataDir + "update.ini"
QString LocalWhatsNew();        // DataDir + "whatsnew.xml"

// The running program's version in three parts; a test may set another (empty restores).
QString RunningProgramVersion();
void SetRunningProgramVersion(const QString& version);

// The downloaded files' verdict.
enum class UpdateVerdict {
    NoVersion,  // the local "update.ini" holds no version: nothing to say
    Newer,      // the server's version is newer than the running program's
    Latest,     // the running program is as new or newer
    Unreadable  // the version is not dotted decimal digits
};
UpdateVerdict ReadUpdateVerdict(QString& serverVersion);
// The release notes as text; empty when missing.
QString ReadWhatsNew();

// Files beyond this size are refused: update information is a few lines.
inline constexpr qint64 kMaxUpdateFileBytes = 1 << 20;

// Receives a worker's messages on its own thread (the window's) and passes them on as signals.
class TDownloadReceiver : public QObject {
    Q_OBJECT
public:
    explicit TDownloadReceiver(QObject* parent = nullptr);
    ~TDownloadReceiver() override;

    struct Mailbox;
    std::shared_ptr<Mailbox> mailbox() const { return mailbox_; }

signals:
    void DownloadBegin();
    void DownloadProgress(qint64 received, qint64 expected);  // both non-zero
    void DownloadFileDone(const QString& localFile);
    void DownloadDone(bool succeeded);

protected:
    bool event(QEvent* event) override;

private:
    std::shared_ptr<Mailbox> mailbox_;
};

class TDownloadThread : public QThread {
    Q_OBJECT
public:
    // Created suspended: queue the files, then Start.
    explicit TDownloadThread(TDownloadReceiver* receiver);
    ~TDownloadThread() override;

    void AddDownload(const QString& address, const QString& localFile);
    void Start();
    // Asks the worker to end before its next file; the receiver gets nothing more. A download
    // in flight runs to its end unless the program is ending.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // Ends every worker of the process: their downloads are cut short and their threads
    // joined. Runs by itself when the application quits.
    static void EndAll();

protected:
    void run() override;

private:
    void detach();
    bool post(int kind, qint64 a = 0, qint64 b = 0, const QString& file = QString(), bool wait = false);

    std::shared_ptr<TDownloadReceiver::Mailbox> mailbox_;
    QStringList addresses_;
    QStringList localFiles_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> cancelled_{false};
    // Set under the mailbox's lock; shared with the messages in flight.
    std::shared_ptr<std::atomic<bool>> detached_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<QSemaphore> waiting_;  // guarded by the mailbox's lock
};

// Deletes the two local copies, then starts a worker that fetches the update information and
// then the release notes into them, reporting to `receiver`. Answers the worker.
QPointer<TDownloadThread> StartUpdateDownload(TDownloadReceiver* receiver);

}  // namespace qm::app
