#include "app/windows/app.h"

#include "app/core/app_core.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace qm::app {

Taboutfrm::Taboutfrm(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint | Qt::Dialog) {
    setFixedSize(450, 250);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1f, 0x3a, 0x5c));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(kApplicationTitle, this);
    QFont big = name->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(
        QStringLiteral("Version ") + GetFileVersionString(QStringLiteral("/proc/self/exe"), 3), this);
    version->setAlignment(Qt::AlignCenter);
    layout->addStretch();
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addStretch();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

}  // namespace qm::app
