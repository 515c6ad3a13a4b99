#include "app/core/app_core.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>

#include <sys/utsname.h>
#include <unistd.h>

namespace qm::app {

namespace {

QString OsReleaseValue(const QString& key) {
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile f(QString::fromLatin1(file));
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (!line.startsWith(key + QLatin1Char('='))) continue;
            QString v = line.mid(key.size() + 1);
            if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
                v.back() == v.front())
                v = v.mid(1, v.size() - 2);
            return v;
        }
        return {};
    }
    return {};
}

QString KernelRelease() {
    utsname u{};
    if (uname(&u) != 0) return {};
    return QString::fromUtf8(u.release);
}

QString OwnExecutable() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

}  // namespace

QString GetOSName() {
    QString name = OsReleaseValue(QStringLiteral("PRETTY_NAME"));
    if (name.isEmpty()) name = QSysInfo::kernelType();
    const QString kernel = KernelRelease();
    if (!kernel.isEmpty()) name += QStringLiteral(" (Kernel %1)").arg(kernel);
    return name;
}

QString GetMemorySize() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return {};
    return QStringLiteral("%1 MB").arg((int64_t(pages) * pageSize) >> 20);
}

QString GetSystemLanguage() {
    return QLocale::languageToString(QLocale::system().language());
}

QString GetSystemCountry() {
    const QLocale locale = QLocale::system();
    if (locale.territory() == QLocale::AnyTerritory) return {};
    return locale.nativeTerritoryName();
}

QString GetFlashPlayerVersion() {
    // The player is built with the program; its version is written the way
    // the player has always written it, with commas.
    return QStringLiteral("%1,%2,%3,%4")
        .arg(QM_VERSION_MAJOR)
        .arg(QM_VERSION_MINOR)
        .arg(QM_VERSION_PATCH)
        .arg(QM_VERSION_TWEAK);
}

QString GetFileVersionString(const QString& file, int parts) {
    const QString own = OwnExecutable();
    const QString asked = QFileInfo(file).canonicalFilePath();
    if (own.isEmpty() || asked != own) return {};
    QString v = QStringLiteral("%1.%2.%3").arg(QM_VERSION_MAJOR).arg(QM_VERSION_MINOR).arg(QM_VERSION_PATCH);
    if (parts >= 4) v += QStringLiteral(".%1").arg(QM_VERSION_TWEAK);
    return v;
}

QString GetOSVersion() {
    const QStringList parts = KernelRelease().split(QLatin1Char('.'));
    if (parts.size() < 2) return {};
    QString minor;
    for (QChar c : parts[1]) {
        if (!c.isDigit()) break;
        minor += c;
    }
    return parts[0] + QLatin1Char('.') + minor;
}

int CompareVersion(const QString& current, const QString& other) {
    auto number = [](const QString& text) {
        QString digits = text;
        digits.remove(QLatin1Char('.'));
        int32_t value = 0;
        if (!ParseInt32(digits, value))
            throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
        return value;
    };
    const int cur = number(current);
    const int oth = number(other);
    if (cur == oth) return 0;
    return oth < cur ? 1 : 2;
}

QString ScreenSizeText(int width, int height) {
    return QStringLiteral("%1 X %2").arg(width).arg(height);
}

void WriteSystemReport(const QString& screenSize) {
    if (!AppLog) return;
    const QString os = GetOSName();
    const QString memory = GetMemorySize();
    const QString language = GetSystemLanguage();
    const QString country = GetSystemCountry();
    const QString flash = GetFlashPlayerVersion();
    const QString program = GetFileVersionString(QStringLiteral("/proc/self/exe"), 4);
    const QString rule(69, QLatin1Char('='));
    TBrvLog& log = *AppLog;
    log.WriteInfo(rule);
    log.WriteInfo(QStringLiteral("System Version:  ") + os);
    log.WriteInfo(QStringLiteral("Memory:          ") + memory);
    log.WriteInfo(QStringLiteral("Language:        ") + language);
    log.WriteInfo(QStringLiteral("Country:         ") + country);
    log.WriteInfo(QStringLiteral("Metrics:         ") + screenSize);
    log.WriteInfo(QStringLiteral("Flash Player:    ") + flash);
    log.WriteInfo(QStringLiteral("Program Version: ") + program);
    log.WriteInfo(rule);
    log.WriteInfo(QString());
}

}  // namespace qm::app
