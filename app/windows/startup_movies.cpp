#include "app/windows/startup_movies.h"

#include "app/windows/main_window.h"

#include <QApplication>
#include <QTimer>

namespace qm::app {

void StartupMovies::SetWindow(Tmainfrm* window) {
    window_ = window;
    if (!pending_.isEmpty()) Schedule(0);
}

void StartupMovies::Open(const QString& path) {
    if (path.isEmpty()) return;
    pending_ = path;  // a newer request replaces one still waiting
    if (window_) Schedule(0);
}

void StartupMovies::Schedule(int ms) {
    if (scheduled_ || !window_) return;
    scheduled_ = true;
    QTimer::singleShot(ms, window_, [this] {
        scheduled_ = false;
        TryOpen();
    });
}

void StartupMovies::TryOpen() {
    if (!window_ || pending_.isEmpty()) return;
    // Opening a movie stops the preview and replaces the job: never under a dialog or while the
    // main window is hidden for a conversion.
    if (QApplication::activeModalWidget() || !window_->isVisible()) {
        Schedule(kRetryMs);
        return;
    }
    const QString path = pending_;
    pending_.clear();
    if (window_->isMinimized()) window_->showNormal();
    window_->raise();
    window_->activateWindow();
    window_->OpenMovie(path);
}

}  // namespace qm::app
