// Shared by the shell's window tests: waiting with events served, and a data folder of the test's own.
#pragma once

#include "app/core/app_core.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace qm::app::window_tests {

// Waits, serving events, until `done` holds or the time is up.
template <class F>
bool WaitFor(F done, int ms = 5000) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

// Settings and log in `home`, and no update check reaching out to the network.
inline void UseFreshDataFolder(const QTemporaryDir& home) {
    QDir(home.path()).mkpath("docs");
    QDir(home.path()).mkpath("tmp");
    LoadSettings(home.filePath("docs") + "/", home.filePath("tmp") + "/");
    WriteSetting(QStringLiteral("IsCheckUpdate"), false);
    InitLog();
}

}  // namespace qm::app::window_tests
