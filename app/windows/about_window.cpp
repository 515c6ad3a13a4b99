#include "app/windows/about_window.h"

#include "app/core/app_core.h"
#include "app/windows/window_hooks.h"
#include "controls/skinned_window.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

namespace qm::app {

Taboutfrm::Taboutfrm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("aboutfrm"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(450, 250);

    imgBack = new controls::SkinPicture(this);
    imgBack->setObjectName(QStringLiteral("imgBack"));
    imgBack->setGeometry(rect());
    try {
        imgBack->SetPicture(controls::LoadSkinPicture(QStringLiteral("about.jpg")));
    } catch (const controls::SkinError& e) {
        // Without its picture the window still tells the version.
        if (AppLog) AppLog->WriteError(QString::fromUtf8(e.what()));
        imgBack->setAutoFillBackground(true);
        QPalette back = imgBack->palette();
        back.setColor(QPalette::Window, QColor(40, 56, 72));
        imgBack->setPalette(back);
    }
    imgBack->installEventFilter(this);

    QPalette light = palette();
    light.setColor(QPalette::WindowText, Qt::white);
    light.setColor(QPalette::Link, QColor(140, 196, 255));

    auto* name = new QLabel(kApplicationTitle, this);
    name->setObjectName(QStringLiteral("lblName"));
    name->setPalette(light);
    QFont big = name->font();
    big.setBold(true);
    // The largest size at which the whole name fits beside the logo.
    for (int px = 22; px >= 12; --px) {
        big.setPixelSize(px);
        if (QFontMetrics(big).horizontalAdvance(kApplicationTitle) <= width() - 96 - 12) break;
    }
    name->setFont(big);
    name->setGeometry(96, 36, width() - 96 - 8, 38);
    name->setAttribute(Qt::WA_TransparentForMouseEvents);

    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                         : QStringLiteral("/proc/self/exe");
    lblVersion = new QLabel(QStringLiteral("Version ") + GetFileVersionString(program, 3), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setPalette(light);
    lblVersion->setGeometry(98, 78, 300, 20);
    lblVersion->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblHomePage = new QLabel(QStringLiteral("Home Page:"), this);
    lblHomePage->setObjectName(QStringLiteral("lblHomePage"));
    lblHomePage->setPalette(light);
    lblHomePage->adjustSize();
    lblHomePage->move(24, 206);
    lblHomePage->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblLink = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color:#8cc4ff\">%1</a>").arg(kHomePageAddress), this);
    lblLink->setObjectName(QStringLiteral("lblLink"));
    lblLink->setPalette(light);
    lblLink->setTextFormat(Qt::RichText);
    lblLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    lblLink->adjustSize();
    lblLink->move(lblHomePage->x() + lblHomePage->width() + 6, lblHomePage->y());
    connect(lblLink, &QLabel::linkActivated, this, [](const QString& link) { OpenUrl(QUrl(link)); });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void Taboutfrm::imgBackClick() { close(); }

bool Taboutfrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == imgBack && event->type() == QEvent::MouseButtonRelease && isEnabled() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        imgBackClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace qm::app
