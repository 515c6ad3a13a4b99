#include "app/windows/update_download.h"

#include "app/core/app_core.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QSemaphore>

#include <set>

namespace qm::app {

namespace {

QString& serverOverride() {
    static QString address;
    return address;
}

QString& versionOverride() {
    static QString version;
    return version;
}

enum Kind { kBegin, kProgress, kFileDone, kDone };

const QEvent::Type kDownloadEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// One message of a worker. A worker waiting for the receiver is released when the event is
// gone, handled or not (a receiver destroyed first deletes its pending events). A message of a
// worker that has since been detached from its receiver is dropped unread.
class DownloadEvent : public QEvent {
public:
    DownloadEvent(int kind, qint64 a, qint64 b, QString file, std::shared_ptr<std::atomic<bool>> detached,
                  std::shared_ptr<QSemaphore> handled)
        : QEvent(kDownloadEventType),
          kind(kind),
          a(a),
          b(b),
          file(std::move(file)),
          detached(std::move(detached)),
          handled(std::move(handled)) {}
    ~DownloadEvent() override {
        if (handled) handled->release();
    }
    const int kind;
    const qint64 a, b;
    const QString file;
    const std::shared_ptr<std::atomic<bool>> detached;
    const std::shared_ptr<QSemaphore> handled;
};

// Workers alive in the process, so that quitting joins them.
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::set<TDownloadThread*>& registry() {
    static std::set<TDownloadThread*> workers;
    return workers;
}

void log(const QString& line) {
    if (!AppLog) return;
    try {
        AppLog->WriteInfo(line);
    } catch (const IoError&) {
    }
}

}  // namespace

// ---- where and what ----

QString UpdateServer() {
    QString address = serverOverride();
    if (address.isEmpty() && !DataDir.isEmpty())
        address = IniFile(SettingsFileName()).ReadString(kSettingsSection, QStringLiteral("UpdateServer"));
    if (address.isEmpty()) address = kDefaultUpdateServer;
    while (address.endsWith(QLatin1Char('/'))) address.chop(1);
    return address;
}

void SetUpdateServer(const QString& address) { serverOverride() = address; }

QString UpdateAddress(const QString& path) { return UpdateServer() + path; }

QString LocalUpdateIni() { return DataDir + QStringLiteral("update.ini"); }

QString LocalWhatsNew() { return DataDir + QStringLiteral("whatsnew.xml"); }

QString RunningProgramVersion() {
    if (!versionOverride().isEmpty()) return versionOverride();
    return GetFileVersionString(QCoreApplication::applicationFilePath(), 3);
}

void SetRunningProgramVersion(const QString& version) { versionOverride() = version; }

UpdateVerdict ReadUpdateVerdict(QString& serverVersion) {
    serverVersion = ReadIniValue(LocalUpdateIni(), QStringLiteral("Data"), QStringLiteral("Version"), QString());
    if (serverVersion.isEmpty()) return UpdateVerdict::NoVersion;
    try {
        return CompareVersion(RunningProgramVersion(), serverVersion) == 2 ? UpdateVerdict::Newer
                                                                           : UpdateVerdict::Latest;
    } catch (const ConversionError& e) {
        // A broken server file is not the user's error: it is logged, not shown.
        log(QStringLiteral("Update information unreadable: %1").arg(e.text()));
        return UpdateVerdict::Unreadable;
    }
}

QString ReadWhatsNew() {
    QFile file(LocalWhatsNew());
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.read(kMaxUpdateFileBytes));
}

// ---- receiver ----

struct TDownloadReceiver::Mailbox {
    std::mutex mutex;
    TDownloadReceiver* receiver = nullptr;
};

TDownloadReceiver::TDownloadReceiver(QObject* parent) : QObject(parent), mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->receiver = this;
}

TDownloadReceiver::~TDownloadReceiver() {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    mailbox_->receiver = nullptr;
}

bool TDownloadReceiver::event(QEvent* e) {
    if (e->type() != kDownloadEventType) return QObject::event(e);
    const auto* message = static_cast<DownloadEvent*>(e);
    if (message->detached && message->detached->load()) return true;
    switch (message->kind) {
        case kBegin: emit DownloadBegin(); break;
        case kProgress: emit DownloadProgress(message->a, message->b); break;
        case kFileDone: emit DownloadFileDone(message->file); break;
        case kDone: emit DownloadDone(message->a != 0); break;
    }
    return true;
}

// ---- worker ----

TDownloadThread::TDownloadThread(TDownloadReceiver* receiver)
    : mailbox_(receiver ? receiver->mailbox() : nullptr) {
    // A worker frees itself when it ends.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    static std::once_flag joinAtQuit;
    std::call_once(joinAtQuit, [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, &TDownloadThread::EndAll);
    });
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(this);
}

TDownloadThread::~TDownloadThread() {
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().erase(this);
    }
    if (isRunning()) {
        terminated_ = true;
        cancelled_ = true;
        detach();
        wait();
    }
}

void TDownloadThread::AddDownload(const QString& address, const QString& localFile) {
    if (isRunning()) return;
    addresses_.append(address);
    localFiles_.append(localFile);
}

void TDownloadThread::Start() { start(); }

void TDownloadThread::Terminate() {
    terminated_ = true;
    detach();
}

void TDownloadThread::detach() {
    std::unique_lock<std::mutex> lock;
    if (mailbox_) lock = std::unique_lock<std::mutex>(mailbox_->mutex);
    // Once this returns nothing more reaches the receiver, and a worker waiting for it goes on:
    // the receiver may be closing, or the main thread itself may be the one that waits.
    *detached_ = true;
    if (waiting_) waiting_->release();
}

void TDownloadThread::EndAll() {
    std::set<TDownloadThread*> workers;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        workers = registry();
        for (TDownloadThread* w : workers) {
            w->terminated_ = true;
            w->cancelled_ = true;
            w->detach();
        }
    }
    for (TDownloadThread* w : workers) w->wait();
}

bool TDownloadThread::post(int kind, qint64 a, qint64 b, const QString& file, bool waitForIt) {
    if (!mailbox_) return false;
    std::shared_ptr<QSemaphore> handled = waitForIt ? std::make_shared<QSemaphore>() : nullptr;
    {
        std::lock_guard<std::mutex> lock(mailbox_->mutex);
        if (*detached_ || !mailbox_->receiver) return false;
        waiting_ = handled;
        QCoreApplication::postEvent(mailbox_->receiver, new DownloadEvent(kind, a, b, file, detached_, handled));
    }
    // Waiting happens outside the lock, so the receiver may be destroyed or detached meanwhile;
    // either lets the worker go on.
    if (handled) {
        handled->acquire();
        std::lock_guard<std::mutex> lock(mailbox_->mutex);
        waiting_.reset();
    }
    return true;
}

void TDownloadThread::run() {
    bool succeeded = true;
    while (!addresses_.isEmpty() && succeeded) {
        if (terminated_) return;
        post(kBegin);
        const QString address = addresses_.first();
        const QString localFile = localFiles_.first();
        auto progress = [this](int64_t received, int64_t expected, int status, const QString&, bool& cancel) {
            if (received > kMaxUpdateFileBytes || expected > kMaxUpdateFileBytes) {
                cancel = true;
                return;
            }
            // An error page is no progress towards the file.
            if (status >= 400) return;
            if (received > 0 && expected > 0 && !terminated_) post(kProgress, received, expected);
        };
        succeeded = DownloadURLToFile(address, localFile, progress, &cancelled_);
        if (!succeeded) log(QStringLiteral("Cannot download %1").arg(address));
        post(kFileDone, 0, 0, localFile, true);
        addresses_.removeFirst();
        localFiles_.removeFirst();
    }
    if (!terminated_) post(kDone, succeeded ? 1 : 0);
}

QPointer<TDownloadThread> StartUpdateDownload(TDownloadReceiver* receiver) {
    QFile::remove(LocalUpdateIni());
    QFile::remove(LocalWhatsNew());
    auto* worker = new TDownloadThread(receiver);
    worker->AddDownload(UpdateAddress(kUpdateIniPath), LocalUpdateIni());
    worker->AddDownload(UpdateAddress(kWhatsNewPath), LocalWhatsNew());
    worker->Start();
    return worker;
}

}  // namespace qm::app
