#include "app/core/app_core.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qm::app {

QString InstanceLockPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder + QLatin1String(kInstanceGuid);
}

SingleInstanceLock::SingleInstanceLock(QString path) : path_(std::move(path)) {}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock; the file stays for the next start
}

bool SingleInstanceLock::Acquire() {
    if (fd_ < 0) {
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return true;
    }
    int rc;
    do {
        rc = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace qm::app
