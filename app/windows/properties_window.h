// The movie properties window: the open movie's header facts, read from the job record when
// the window is shown. It changes nothing.
#pragma once

#include "controls/skinned_window.h"
#include "formats/core/formats_core.h"

class QLabel;

namespace qm::app {

class Tpropertiesfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    // `fileOption` is the main window's job record; it must outlive the window.
    explicit Tpropertiesfrm(const formats::TFileOption& fileOption, QWidget* parent = nullptr);

    // Value labels, fixed in width: long texts are cut at the label's edge.
    QLabel* lblFileName;
    QLabel* lblpath;
    QLabel* lblMoveSize;
    QLabel* lblFrameRate;
    QLabel* lbltotalFrames;
    QLabel* lblFlashVer;
    // The one button, "OK": it closes the window.
    controls::SkinButton* btnCancel;

public slots:
    void FormShow();
    void btnCancelClick();
    void btnCloseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const formats::TFileOption& fileOption_;
};

}  // namespace qm::app
