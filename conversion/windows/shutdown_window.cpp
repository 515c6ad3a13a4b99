#include "conversion/windows/shutdown_window.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "conversion/conversion_log.h"

namespace qm::conversion {

namespace {

std::function<void()>& powerOffOverride() {
    static std::function<void()> powerOff;
    return powerOff;
}

QString CountdownText(int seconds) {
    return QStringLiteral("Your computer will shut down after %1 seconds.").arg(seconds);
}

// logind decides whether this user may power off; it may ask for a password first.
void RequestPowerOff() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PowerOff"));
    call << true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        LogError(QStringLiteral("Shut down: no system bus"));
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<> reply = *w;
        if (reply.isError()) LogError(QStringLiteral("Shut down: ") + reply.error().message());
        w->deleteLater();
    });
}

}  // namespace

TShutDownFrm::TShutDownFrm(QWidget* parent) : controls::SkinnedWindow(parent) {
    setObjectName(QStringLiteral("ShutDownFrm"));
    setWindowTitle(QStringLiteral("Information"));
    AddDialogButtons(QStringLiteral("Shut Down"), QStringLiteral("Cancel"));
    // "Shut Down" leaves the window open; Cancel and the close button close it.
    disconnect(OkButton(), &QAbstractButton::clicked, this, nullptr);
    connect(OkButton(), &QAbstractButton::clicked, this, &TShutDownFrm::btnOKClick);

    lblShow = new QLabel(ClientArea());
    lblShow->setObjectName(QStringLiteral("lblShow"));
    lblShow->setWordWrap(true);
    lblShow->setText(CountdownText(kCountdownSeconds));
    tmr1 = new QTimer(this);
    tmr1->setObjectName(QStringLiteral("tmr1"));
    tmr1->setInterval(1000);
    connect(tmr1, &QTimer::timeout, this, &TShutDownFrm::tmr1Timer);

    resize(295, 142);
    // The client area takes its size only when the window is first laid out.
    lblShow->setGeometry(16, 18, width() - 2 * kBorderWidth - 32, 40);
    try {
        LoadSkin();
    } catch (const controls::SkinError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TShutDownFrm::SetPowerOffRequest(std::function<void()> powerOff) { powerOffOverride() = std::move(powerOff); }

void TShutDownFrm::ShutDown() {
    if (powerOffOverride())
        powerOffOverride()();
    else
        RequestPowerOff();
}

void TShutDownFrm::showEvent(QShowEvent* event) {
    SkinnedWindow::showEvent(event);
    // A window restored from the task bar goes on counting.
    if (!event->spontaneous()) FormShow();
}

void TShutDownFrm::done(int result) {
    // A closed window counts no further.
    tmr1->stop();
    SkinnedWindow::done(result);
}

void TShutDownFrm::FormShow() {
    counter_ = 0;
    lblShow->setText(CountdownText(kCountdownSeconds));
    OkButton()->setFocus();
    tmr1->start();
}

void TShutDownFrm::tmr1Timer() {
    lblShow->setText(CountdownText(kCountdownSeconds - 1 - counter_));
    ++counter_;
    if (counter_ >= kCountdownSeconds) {
        tmr1->stop();
        ShutDown();
    }
}

void TShutDownFrm::btnOKClick() { ShutDown(); }

}  // namespace qm::conversion
