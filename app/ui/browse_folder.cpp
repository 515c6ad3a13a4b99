#include "app/ui/app_ui.h"

#include "app/core/app_core.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace qm::app {

bool BrowseForFolder(const QString& title, QString& folder, const QString& opticalRefusal,
                     QWidget* parent) {
    QString start;
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        start = QFileInfo(folder).absoluteFilePath();
        folder = start;
    } else {
        folder.clear();
    }
    if (!parent) parent = QApplication::activeWindow();
    const QString chosen = QFileDialog::getExistingDirectory(parent, title, start);
    if (chosen.isEmpty()) return false;
    if (IsOnReadOnlyOpticalMount(chosen)) {
        QMessageBox::information(parent, kApplicationTitle, opticalRefusal);
        return false;
    }
    folder = QDir::cleanPath(chosen);
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return true;
}

}  // namespace qm::app
