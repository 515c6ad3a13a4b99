// The custom format settings window: the output format (chosen in the drop-down picker under
// its format box), its video and audio values, the output file and a replacement sound. OK
// stores the values in CurrentOptions and the defaults file; Cancel restores what was current
// when it opened.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QList>
#include <QPixmap>
#include <QString>

#include <cstdint>
#include <functional>

#include "controls/skinned_window.h"
#include "formats/core/formats_core.h"
#include "formats/windows/format_picker.h"
#include "formats/windows/set_format_button_edit.h"

class QAbstractButton;
class QGroupBox;
class QLabel;

namespace qm::formats {

class TUserformatfrm;

// The questions the format windows ask the user, replaceable so tests can answer them.
struct TFormatWindowPrompts {
    // An information box with one OK button, after a warning beep.
    std::function<void(QWidget* parent, const QString& caption, const QString& text)> Information;
    // The output file: a save dialog asking before overwriting; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& initialPath, const QString& filter,
                          const QString& defaultSuffix)>
        SaveFile;
    // The replacement sound: an open dialog; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& folder, const QString& filter)> OpenFile;
    // Shows a folder in the file manager.
    std::function<void(const QString& folder)> OpenFolder;
    // The user format dialog, shown modally.
    std::function<void(TUserformatfrm& dialog)> ShowUserFormat;
};
// The prompts in use; the defaults are the real boxes and dialogs.
TFormatWindowPrompts& FormatWindowPrompts();
// Puts the defaults back.
void ResetFormatWindowPrompts();

// A value box: pick-only boxes offer their entries only, typeable ones take any text; either
// may show a text that is not one of its entries (a saved value).
class TFormatComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TFormatComboBox(QWidget* parent = nullptr);
    void SetTypeable(bool typeable);
    bool Typeable() const { return typeable_; }
    QString text() const { return currentText(); }
    void setText(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool typeable_ = true;
};

class TSetFormatfrm : public controls::SkinnedWindow, public TFormatPickerHost {
    Q_OBJECT
public:
    explicit TSetFormatfrm(QWidget* parent = nullptr);
    ~TSetFormatfrm() override;

    // Set by the main window before showing: its job record (receives the replacement sound)
    // and the output name, read back after OK.
    TFileOption* MovieOptions = nullptr;
    QString TargetName;

    // Window state while shown.
    QString OutputFolder;  // with a trailing "/"
    TFormatInfo SavedFormat;
    TVCOutPutOptions SavedOptions;
    QList<int32_t> DeletedIDs;
    bool LinkedVideoLists = false;

    // The format window that is open, or null.
    static TSetFormatfrm* Active();

    // What the picker asks of its host.
    QString FormatBoxText() const override;
    // Runs the box's change handling (caption, group glyph) when the text differs.
    void SetFormatBoxText(const QString& text) override;
    // Refills the eight boxes from CurrentFormat and CurrentOptions.
    void FillFromFormat() override;
    // btnOutputFile := OutputFolder + TargetName + CurrentOptions.FileExt.
    void RefreshOutputFile() override;
    void AddDeletedID(int32_t id) override { DeletedIDs.append(id); }

    // Checks the boxes; on failure the message, the focus on the box, false.
    bool ValidateValues();
    // Writes the boxes into CurrentOptions and the replacement sound into MovieOptions.
    void TakeValues();

    // The controls, named as the window's own.
    TVCButtonEdit* btnFormat;
    QAbstractButton* btnCaption;
    QLabel* btnbmpGroup;
    controls::SkinButton* btnAddmyFormat;
    TVCButtonEdit* btnOutputFile;
    controls::SkinButton* btnLocate;
    TFormatComboBox *cbbVideoEncoder, *cbbResolution, *cbbFrameRate, *cbbVideoBitRate;
    TFormatComboBox *cbbAudioEncoder, *cbbChannel, *cbbSampleRate, *cbbAudioBitrate;
    QCheckBox *chkEnabledaudio, *chkreplaceaudio, *chkloop;
    TVCButtonEdit* btnImport;

    // The handlers, also called by tests.
    void btnOKClick();
    void btnCancelClick();
    void btnAddmyFormatClick();
    void btnOutputFileClick();
    void btnLocateClick();
    void btnImportClick();
    void SetAudioControls(bool on);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void btnFormatChange(const QString& text);
    void cbbVideoEncoderChange(int index);
    void TogglePicker();
    void SetPickerKeepOpen(bool keep);
    void FillBox(TFormatComboBox* box, const QString& list, const QString& def, const QString& saved);
    void Refuse(QWidget* box, const QString& message);
    TFormatValues BoxValues() const;

    QGroupBox *grpVideo_, *grpAudio_;
    bool filling_ = false;
};

// What the main window's "Format" button and menu item do: the window over `parent` with the
// job's output name; on OK the name chosen goes back into OutFileName. True on OK.
bool ShowSetFormatWindow(QWidget* parent, TFileOption& fileOption);

// The 16 x 16 glyph of a format group (its picture in the catalogue's group list), or a null
// picture when it has none.
QPixmap GroupGlyph(int32_t groupId);

}  // namespace qm::formats
