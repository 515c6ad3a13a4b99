#include "app/app.h"

#include <QLabel>

namespace qm::app {

Tmainfrm::Tmainfrm(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quellmark Converter"));
    resize(800, 560);
    auto* hint = new QLabel(QStringLiteral("Quellmark Converter"), this);
    hint->setAlignment(Qt::AlignCenter);
    setCentralWidget(hint);
}

}  // namespace qm::app
