// Message boxes, file dialogs and web pages of the program's windows go through these calls, so
// a test can answer them instead of a user and nothing modal ever blocks it.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace qm::app {

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};
using MessageBoxFunction = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;
// An empty function restores the real box.
void SetMessageBoxFunction(MessageBoxFunction function);
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// The chosen file, or empty when the user cancelled. `filter` is in Qt's form ("SWF File (*.swf)").
using OpenFileFunction = std::function<QString(QWidget* owner, const QString& folder, const QString& filter)>;
void SetOpenFileFunction(OpenFileFunction function);
QString AskOpenFileName(QWidget* owner, const QString& folder, const QString& filter);

// Web pages and local help pages, in the desktop's browser.
using OpenUrlFunction = std::function<void(const QUrl&)>;
void SetOpenUrlFunction(OpenUrlFunction function);
void OpenUrl(const QUrl& url);

}  // namespace qm::app
