#include "app/windows/app.h"

#include "app/core/app_core.h"

#include <QApplication>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <memory>

namespace qm::app {

namespace {

constexpr unsigned long kSplashMs = 800;

QString PrimaryScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QSize size = screen->geometry().size() * screen->devicePixelRatio();
    return ScreenSizeText(size.width(), size.height());
}

int Fail(const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
}

}  // namespace

int RunQuellmark(int argc, char** argv) {
    try {
        LoadSettings();
        InitLog();
    } catch (const IoError& e) {
        return Fail(e);
    }

    // Held for the life of the process; the lock ends with it.
    static SingleInstanceLock instance;
    if (!instance.Acquire()) return 0;

    try {
        if (!instance.lockFileUsable())
            AppLog->WriteError(QStringLiteral("Unable to write to %1").arg(InstanceLockPath()));

        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("quellmark"));
        QApplication::setOrganizationName(QStringLiteral("Brelvik"));

        InstallPlayerConfigSubstitution();

        auto splash = std::make_unique<Taboutfrm>();
        splash->setWindowFlag(Qt::WindowStaysOnTopHint);
        splash->setEnabled(false);  // a click must not close it
        splash->show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        splash->repaint();
        QThread::msleep(kSplashMs);

        WriteSystemReport(PrimaryScreenSize());

        Tmainfrm mainWindow;
        RemovePlayerConfigSubstitution();
        splash.reset();
        mainWindow.show();
        return app.exec();
    } catch (const IoError& e) {
        return Fail(e);
    }
}

}  // namespace qm::app
