#include "app/windows/app.h"

#include "app/core/app_core.h"
#include "app/core/instance_handoff.h"
#include "app/windows/startup_movies.h"

#include <QApplication>
#include <QIcon>
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
    if (!instance.Acquire()) {
        // A movie goes to the running instance, which opens it; without one this start ends silently.
        QStringList arguments;
        for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
        const QString movie = MovieArgument(arguments);
        if (!movie.isEmpty() && !HandOffFile(movie)) {
            try {
                AppLog->WriteError(QStringLiteral("Unable to hand %1 to the running program").arg(movie));
            } catch (const IoError&) {
            }
        }
        return 0;
    }

    try {
        if (!instance.lockFileUsable())
            AppLog->WriteError(QStringLiteral("Unable to write to %1").arg(InstanceLockPath()));

        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("quellmark"));
        QApplication::setOrganizationName(QStringLiteral("Brelvik"));
        QApplication::setDesktopFileName(QStringLiteral("quellmark"));
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quellmark")));

        // The movie on the command line and those of later starts open once the window is free.
        StartupMovies movies;
        movies.Open(MovieArgument(QCoreApplication::arguments()));
        InstanceHandoffServer handoff([&movies](const QString& file) { movies.Open(file); });
        if (!handoff.Listen())
            AppLog->WriteError(QStringLiteral("Unable to listen on %1: %2").arg(InstanceHandoffPath(), handoff.errorString()));

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
        movies.SetWindow(&mainWindow);
        return app.exec();
    } catch (const IoError& e) {
        return Fail(e);
    }
}

}  // namespace qm::app
