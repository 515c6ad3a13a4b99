#include "app/windows/window_hooks.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace qm::app {

namespace {
MessageBoxFunction& messageBoxFunction() {
    static MessageBoxFunction f;
    return f;
}
OpenFileFunction& openFileFunction() {
    static OpenFileFunction f;
    return f;
}
OpenUrlFunction& openUrlFunction() {
    static OpenUrlFunction f;
    return f;
}
}  // namespace

void SetMessageBoxFunction(MessageBoxFunction function) { messageBoxFunction() = std::move(function); }

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
    if (messageBoxFunction()) return messageBoxFunction()({owner, text, caption, icon, buttons});
    QMessageBox box(icon, caption, text, buttons, owner);
    return QMessageBox::StandardButton(box.exec());
}

void SetOpenFileFunction(OpenFileFunction function) { openFileFunction() = std::move(function); }

QString AskOpenFileName(QWidget* owner, const QString& folder, const QString& filter) {
    if (openFileFunction()) return openFileFunction()(owner, folder, filter);
    return QFileDialog::getOpenFileName(owner, QString(), folder, filter);
}

void SetOpenUrlFunction(OpenUrlFunction function) { openUrlFunction() = std::move(function); }

void OpenUrl(const QUrl& url) {
    if (openUrlFunction()) {
        openUrlFunction()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

}  // namespace qm::app
