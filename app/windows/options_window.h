// The Options window: output folder, the action after a conversion, overwriting, the update
// check at start, the capture mode, the temporary folder and the snapshot format and folder.
// It shows the current values whenever it is shown and applies them only on OK.
#pragma once

#include "controls/skinned_window.h"

#include <QLineEdit>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QToolButton;

namespace qm::app {

// A folder field: read-only text with a folder button inside it.
class TFolderEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TFolderEdit(QWidget* parent = nullptr);
    QAction* Button() const { return button_; }

signals:
    void ButtonClick();

private:
    QAction* button_;
};

class TOptionfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    explicit TOptionfrm(QWidget* parent = nullptr);

    // The folder dialog: title, folder (in and out), refusal text for read-only optical media;
    // answers whether a folder was chosen. BrowseForFolder unless a test replaces it.
    using BrowseFolderHook =
        std::function<bool(const QString& title, QString& folder, const QString& refusal, QWidget* parent)>;
    static BrowseFolderHook BrowseFolder;
    // Opens a folder in the file manager. OpenFolderInFileManager unless a test replaces it.
    static std::function<void(const QString& folder)> OpenFolder;

    // Browse-dialog titles and refusals of the three folder fields.
    static inline const QString kSnapshotFolderTitle = QStringLiteral("Select Snapshot Folder");
    static inline const QString kTempFolderTitle = QStringLiteral("Select temporary file path");
    static inline const QString kOutputFolderTitle = QStringLiteral("Select Output Folder");
    static inline const QString kSnapshotFolderRefusal =
        QStringLiteral("Snapshot folder cannot be located in CD-ROM.");
    static inline const QString kTempFolderRefusal = QStringLiteral("File path cannot be located in CD-ROM.");
    static inline const QString kOutputFolderRefusal = QStringLiteral("Output folder cannot be located in CD-ROM.");

    // The page control and its pages, "General" first.
    QTabWidget* PageControl;
    QWidget* tsGeneral;
    QWidget* tsCapture;
    QWidget* tsSnapshot;

    // General.
    TFolderEdit* EdtSavepath;
    QToolButton* RzBmpButton1;
    QComboBox* cbbFinish;
    QComboBox* cbbSameName;
    QComboBox* cbbupdate;
    // Capture.
    QRadioButton* rbInteractive;
    QCheckBox* chkautostop;
    QRadioButton* rbAutomatic;
    QCheckBox* chkFastCapture;
    TFolderEdit* btntemppath;
    QPushButton* btndefault;
    // Snapshot.
    QComboBox* CbbFormat;
    TFolderEdit* EdtPath;
    QToolButton* btnBrowse;
    // Bottom.
    controls::SkinButton* btnOk;
    controls::SkinButton* btnCancel;

public slots:
    void FormShow();
    void btnOkClick();
    void btnCancelClick();
    void btnCloseClick();
    void btndefaultClick();
    void btntemppathButtonClick();
    void EdtPathButtonClick();
    void EdtSavepathButtonClick();
    void btnBrowseClick();
    void RzBmpButton1Click();
    void rbAutomaticClick();
    void rbInteractiveClick();
    void tsCaptureShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void chooseFolder(TFolderEdit* field, const QString& title, const QString& refusal);
};

}  // namespace qm::app
