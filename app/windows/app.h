// The desktop program: start-up and its windows.
#pragma once

#include <QMainWindow>
#include <QWidget>

namespace qm::app {

// The whole life of the program: settings, log, single instance, splash,
// system report, main window, event loop. Answers the exit code.
int RunQuellmark(int argc, char** argv);

// The player reads its configuration while the main window is created; the
// substitution that answers that read is installed around it.
void InstallPlayerConfigSubstitution();
void RemovePlayerConfigSubstitution();

// About window, also shown as the splash at start-up.
class Taboutfrm : public QWidget {
    Q_OBJECT
public:
    explicit Taboutfrm(QWidget* parent = nullptr);
};

class Tmainfrm : public QMainWindow {
    Q_OBJECT
public:
    explicit Tmainfrm(QWidget* parent = nullptr);
};

}  // namespace qm::app
