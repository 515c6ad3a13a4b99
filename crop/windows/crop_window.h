// The crop and watermark window ("Edit"): a still of the movie's current frame with two area
// editors over it, one for the crop rectangle and one for the watermark picture, number boxes
// in movie pixels, the watermark's transparency and aspect lock. OK writes the crop and the
// watermark into the job record it was given; Cancel writes nothing.
//
// The main window opens it modally:
//     qm::crop::TCropfrm window(FileOption, player, this);
//     window.exec();
#pragma once

#include <QImage>
#include <QString>

#include <functional>

#include "controls/skinned_window.h"
#include "crop/windows/area_editor.h"
#include "formats/core/formats_core.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace qm::controls {
class TSVTrackbar;
}
namespace qm::player {
class TShockwaveFlash;
}

namespace qm::crop {

// The picture-open dialog: answers the chosen file, or empty when cancelled. Tests replace it;
// an empty function restores the desktop's dialog.
using TOpenPictureDialog = std::function<QString(QWidget* parent, const QString& startFolder)>;
void SetOpenPictureDialog(TOpenPictureDialog dialog);
// The warning box (one OK button). Tests replace it; an empty function restores the real box.
using TWarningBox = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;
void SetWarningBox(TWarningBox box);


class TCropfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    // The preview frame the still is fitted into.
    static constexpr int kPreviewFrameWidth = 446;
    static constexpr int kPreviewFrameHeight = 291;

    // The still is the player's current frame at the player's size; without a player (or one of
    // no size) it is black at the movie's shape. `movieOptions` is edited in place on OK.
    TCropfrm(formats::TFileOption& movieOptions, player::TShockwaveFlash* player, QWidget* parent = nullptr);
    // The still is given (the player's picture taken elsewhere).
    TCropfrm(formats::TFileOption& movieOptions, const QImage& still, QWidget* parent = nullptr);
    ~TCropfrm() override;

    // Preview pixels to movie pixels and back, halves to the even neighbour.
    app::TRect ToMovie(const app::TRect& r) const;
    app::TRect ToPreview(const app::TRect& r) const;

    void BuildPreview();
    void RestoreFromOptions();
    void SetCropLimits();
    void SyncCropBoxes();
    void SyncWatermarkBoxes();
    void SetWatermarkLimits();
    void FollowCrop();
    void KeepWatermarkInside();
    // Places the picture `file` of w x h pixels at `r` (preview pixels), fitted to it.
    void PlaceWatermark(const QString& file, int w, int h, const app::TRect& r);
    // What OK writes into the job record.
    void StoreResults();

    // Handlers, as the controls call them.
    void btnFullAreadClick();
    void btnOpenClick();
    void btnLockClick();
    void btnUnLockClick();
    void btnOKClick();
    void chkaddwatermarkClick();
    void TrackTransparencyChange();

    // Window state.
    formats::TFileOption& MovieOptions() const { return movieOptions_; }
    int MovieW() const { return movieW_; }
    int MovieH() const { return movieH_; }
    app::TRect MovieCrop() const { return movieCrop_; }
    app::TRect MovieWatermark() const { return movieWatermark_; }
    double AspectRatio() const { return aspectRatio_; }
    bool KeepAspect() const { return keepAspect_; }
    const QImage& WatermarkPreview() const { return watermarkPreview_; }
    const QImage& Still() const { return still_; }
    // The tag of `edtimage`: 1 after a picture failed to load or place, else 0.
    int ImageTag() const { return imageTag_; }

    // Controls.
    QWidget* pnlFrame = nullptr;  // the 446 x 291 frame around the preview
    QWidget* pnlSWF = nullptr;
    QWidget* imgSWF = nullptr;
    QWidget* imgWatemark = nullptr;  // paints the watermark picture
    TAreaEditor* ardtrCrop = nullptr;
    TAreaEditor* ardtrWatermark = nullptr;
    QSpinBox* edtcropX = nullptr;
    QSpinBox* edtCropY = nullptr;
    QSpinBox* edtCropW = nullptr;
    QSpinBox* edtCropH = nullptr;
    QAbstractButton* btnFullAread = nullptr;
    QCheckBox* chkaddwatermark = nullptr;
    QGroupBox* grpWatermark = nullptr;
    QLineEdit* edtimage = nullptr;
    QAbstractButton* btnOpen = nullptr;
    controls::TSVTrackbar* TrackTransparency = nullptr;
    QLabel* lblPos = nullptr;
    QSpinBox* edtWatermarkX = nullptr;
    QSpinBox* edtWaterMarkY = nullptr;
    QSpinBox* edtwatermarkW = nullptr;
    QSpinBox* edtwatermarkH = nullptr;
    QAbstractButton* btnLock = nullptr;
    QAbstractButton* btnUnLock = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void build();
    void formShow();
    void cropMouseDown();
    void cropMouseMove();
    void cropMouseUp();
    void watermarkMouseMove();
    void cropKeyMove();
    void watermarkKeyMove();
    void cropBoxChanged(QSpinBox* box);
    void watermarkBoxChanged(QSpinBox* box);
    void paintBoxFollows();
    void setBox(QSpinBox* box, int value);
    void setRange(QSpinBox* box, int min, int max);
    void setMaximum(QSpinBox* box, int max);
    void setMinimum(QSpinBox* box, int min);
    int previewW() const;
    int previewH() const;
    app::TRect imageBounds() const;
    app::TRect cropInMovie() const;
    app::TRect markInMovie() const;

    formats::TFileOption& movieOptions_;
    player::TShockwaveFlash* player_ = nullptr;
    QImage still_;
    bool stillGiven_ = false;
    bool shown_ = false;
    int movieW_ = 0, movieH_ = 0;
    app::TRect movieCrop_, movieWatermark_;
    app::TRect typedCrop_, typedMark_;  // movie pixels last typed into the boxes
    int updating_ = 0;
    QImage watermarkPreview_;
    double aspectRatio_ = 0;
    bool keepAspect_ = false;
    bool cropDragging_ = false, watermarkDragging_ = false;
    int imageTag_ = 0;
};

}  // namespace qm::crop
