// Shell routines that need widgets or the session bus; shared by every window.
#pragma once

#include <QString>

class QWidget;

namespace qm::app {

// Folder dialog starting at `folder` when it exists (`folder` becomes its full
// path, or empty when it does not exist). On confirmation stores the chosen
// folder with a trailing "/" in `folder` and answers true. Cancelling answers
// false; so does a folder on read-only optical media, after an information box
// showing `opticalRefusal`.
bool BrowseForFolder(const QString& title, QString& folder,
                     const QString& opticalRefusal = QStringLiteral("Folder cannot be located in CD-ROM."),
                     QWidget* parent = nullptr);

// Shows the file in the desktop's file manager, selected; without one, opens
// its folder.
void SelectInExplorer(const QString& path);

// Opens the folder in the desktop's file manager (its ShowFolders call, else
// the desktop's handler for folders).
void OpenFolderInFileManager(const QString& folder);

// Places the logo, the title label and the close button on a title panel.
void LayoutTitleBar(QWidget* logo, QWidget* titleLabel, QWidget* closeButton, QWidget* titlePanel);

}  // namespace qm::app
