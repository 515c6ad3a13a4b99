#include "app/core/app_core.h"

#include <QDateTime>
#include <QFile>

namespace qm::app {

std::unique_ptr<TBrvLog> AppLog;

TBrvLog::TBrvLog(QString path) : path_(std::move(path)) {
    if (QFile::exists(path_)) return;
    QFile f(path_);
    if (!f.open(QIODevice::WriteOnly)) throw IoError(QStringLiteral("Unable to write to %1").arg(path_));
}

void TBrvLog::WriteInfo(const QString& message) { WriteLine(QStringLiteral("    "), message); }

void TBrvLog::WriteError(const QString& message) { WriteLine(QStringLiteral("  "), message); }

void TBrvLog::WriteLine(const QString& separator, const QString& message) {
    const QByteArray line =
        (QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + separator +
         message + QLatin1Char('\n'))
            .toUtf8();
    std::lock_guard<std::mutex> lock(mutex_);
    // A log file removed while the program runs is simply started again.
    QFile f(path_);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(line) != line.size() ||
        !f.flush())
        throw IoError(QStringLiteral("Unable to write to %1").arg(path_));
}

QString LogFolder() { return DataDir + QStringLiteral("Log/"); }

void RotateLogs(const QString& logFolder) {
    auto name = [&](int n) { return logFolder + QStringLiteral("log%1.txt").arg(n); };
    for (int n = 10; n >= 1; --n) {
        if (!QFile::exists(name(n))) continue;
        if (n == 10)
            QFile::remove(name(n));
        else
            QFile::rename(name(n), name(n + 1));
    }
}

void InitLog() {
    const QString folder = LogFolder();
    EnsureFolder(folder);
    RotateLogs(folder);
    AppLog = std::make_unique<TBrvLog>(folder + QStringLiteral("log1.txt"));
}

}  // namespace qm::app
