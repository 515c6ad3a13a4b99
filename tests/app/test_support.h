// Helpers shared by the shell's tests.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>

namespace qm::app::test {

// Network and process tests need an application object; one per test program.
inline void EnsureCoreApp() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

}  // namespace qm::app::test
