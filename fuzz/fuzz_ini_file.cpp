// The INI reader over any file: every read answers, and a write changes the written key alone,
// whatever else the file holds.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "app/core/app_core.h"

namespace {

QTemporaryDir* Folder = nullptr;

const char* const kSections[] = {"Options", "main", "Settings", ""};
const char* const kKeys[] = {"A", "b", "Language", "Fuzz", ""};

[[noreturn]] void Fail(const char* what, const QString& section, const QString& key, const QString& before,
                       const QString& after) {
    std::fprintf(stderr, "INI fault: %s: [%s] %s: \"%s\" became \"%s\"\n", what, qPrintable(section), qPrintable(key),
                 qPrintable(before), qPrintable(after));
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/qm-fuzz-ini-XXXXXX"));
    if (!Folder->isValid()) std::exit(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    const QString path = Folder->filePath(QStringLiteral("fuzz.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const qm::app::IniFile ini(path);

    QString before[std::size(kSections)][std::size(kKeys)];
    for (size_t s = 0; s < std::size(kSections); ++s)
        for (size_t k = 0; k < std::size(kKeys); ++k) {
            const QString section = QString::fromLatin1(kSections[s]), key = QString::fromLatin1(kKeys[k]);
            before[s][k] = ini.ReadString(section, key, QStringLiteral("<none>"));
            (void)ini.ReadInteger(section, key, 7);
            (void)ini.ReadBool(section, key, true);
        }

    const QString written = QStringLiteral("written value");
    try {
        ini.WriteString(QStringLiteral("OPTIONS"), QStringLiteral("fuzz"), written);
    } catch (const qm::app::IoError&) {
        std::abort();  // the folder is ours and writable
    }
    const QString readBack = ini.ReadString(QStringLiteral("options"), QStringLiteral("FUZZ"));
    if (readBack != written) Fail("the written key reads back wrong", "options", "fuzz", written, readBack);
    for (size_t s = 0; s < std::size(kSections); ++s)
        for (size_t k = 0; k < std::size(kKeys); ++k) {
            const QString section = QString::fromLatin1(kSections[s]), key = QString::fromLatin1(kKeys[k]);
            if (s == 0 && k == 3) continue;  // the written key itself
            const QString after = ini.ReadString(section, key, QStringLiteral("<none>"));
            if (after != before[s][k]) Fail("a write changed another key", section, key, before[s][k], after);
        }
    return 0;
}
