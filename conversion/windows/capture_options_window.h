// The capture options window, opened by the capture window's "Option" button before a capture:
// the capture mode (the program-wide CaptureMode), the frame limit, and fast capture.
#pragma once

#include <cstdint>

#include "controls/skinned_window.h"

class QCheckBox;
class QLabel;
class QRadioButton;
class QSpinBox;

namespace qm::conversion {

// Fast capture chosen: with the automatic mode, a capture renders the movie offline straight
// into the output. Not stored; stays for later captures of the same program run.
extern bool FastCapture;

class TCaptureoptionfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    explicit TCaptureoptionfrm(QWidget* parent = nullptr);

    // Read when the window is shown; FrameLimit is written by OK.
    int64_t FrameCount = 0;  // the movie's frame count
    int64_t FrameLimit = 0;  // the capture window's frame limit; 0 = none

    QRadioButton* Interactive() const { return rbInteractive_; }
    QRadioButton* Automatic() const { return rbAutomatic_; }
    QCheckBox* AutoStop() const { return chkautostop_; }
    QCheckBox* AllFrame() const { return chkallFrame_; }
    QCheckBox* FastCaptureBox() const { return chkFastCapture_; }
    QSpinBox* Frames() const { return edtFrames_; }

public slots:
    void rbAutomaticClick();
    void rbInteractiveClick();
    void chkautostopClick();
    void chkallFrameClick();
    void btnOkClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    QRadioButton *rbInteractive_, *rbAutomatic_;
    QCheckBox *chkautostop_, *chkallFrame_, *chkFastCapture_;
    QSpinBox* edtFrames_;
    QLabel *lblMode_, *lblSettings_, *lblFrames_;
};

// Opens the options window for a capture window's movie and limit; true after OK.
class TCaptureFrm;
bool ShowCaptureOptions(TCaptureFrm& capture);

}  // namespace qm::conversion
