#include "app/windows/app.h"

#include "app/core/app_core.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace qm::app {

Tmainfrm::Tmainfrm(QWidget* parent) : QMainWindow(parent) {
    FinishAction = 0;
    CaptureMode = 0;
    setWindowTitle(QStringLiteral("Quellmark Converter"));
    resize(800, 560);
    auto* hint = new QLabel(QStringLiteral("Quellmark Converter"), this);
    hint->setAlignment(Qt::AlignCenter);
    setCentralWidget(hint);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

}  // namespace qm::app
