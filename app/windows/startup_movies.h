// Movies named on the command line or handed over by a second start open in the main window
// once it shows and no modal window (a dialog, the capture, the conversion) is up; until then
// the latest one waits.
#pragma once

#include <QPointer>
#include <QString>

namespace qm::app {

class Tmainfrm;

class StartupMovies {
public:
    static constexpr int kRetryMs = 500;

    // The window that opens the movies; set once it is shown.
    void SetWindow(Tmainfrm* window);
    // Opens `path` from the event loop, as soon as the window is free.
    void Open(const QString& path);
    const QString& pending() const { return pending_; }

private:
    void Schedule(int ms);
    void TryOpen();

    QPointer<Tmainfrm> window_;
    QString pending_;
    bool scheduled_ = false;
};

}  // namespace qm::app
