// The crop and watermark window: layout, the handlers of its boxes, editors and buttons, and what
// OK writes. Geometry comes from crop core; the window only moves its controls.
#include "crop/windows/crop_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QSpinBox>

#include <algorithm>

#include "app/core/app_core.h"
#include "controls/sv_trackbar.h"
#include "player/qt/shockwave_flash.h"

namespace qm::crop {

using app::RoundHalfEven;
using app::TRect;

// ---------------------------------------------------------------------------
// Replaceable dialogs.

namespace {

TOpenPictureDialog gOpenPicture;
TWarningBox gWarning;

QString openPicture(QWidget* parent, const QString& folder) {
    if (gOpenPicture) return gOpenPicture(parent, folder);
    return QFileDialog::getOpenFileName(
        parent, QStringLiteral("Open"), folder,
        QStringLiteral("Pictures (*.png *.jpg *.jpeg *.gif *.bmp *.tif *.tiff *.ico);;All files (*)"));
}

void warn(QWidget* parent, const QString& caption, const QString& text) {
    if (gWarning) return gWarning(parent, caption, text);
    QApplication::beep();
    QMessageBox::warning(parent, caption, text);
}

void logError(const QString& line) {
    if (!app::AppLog) return;
    try {
        app::AppLog->WriteError(line);
    } catch (const app::IoError&) {
        // The log itself cannot be written; the window goes on.
    }
}

const QString kOpenFailed = QStringLiteral("Failed to open the file.");

TRect boundsOf(const QWidget* w) {
    const QRect g = w->geometry();
    return TRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void setBoundsOf(QWidget* w, const TRect& r) { w->setGeometry(r.left, r.top, r.width(), r.height()); }

TRect withSize(const TRect& r, int32_t width, int32_t height) {
    return TRect{r.left, r.top, r.left + width, r.top + height};
}

// The lock buttons' faces: a padlock, shut or open, over the dialog button's face.
QPixmap lockFace(const QPixmap& base, bool shut) {
    QPixmap face(22, 22);
    face.fill(Qt::transparent);
    QPainter p(&face);
    p.setRenderHint(QPainter::Antialiasing);
    if (!base.isNull()) p.drawPixmap(face.rect(), base);
    p.setPen(QPen(QColor(60, 60, 60), 1.6));
    p.setBrush(Qt::NoBrush);
    if (shut)
        p.drawArc(QRectF(7, 3.5, 8, 9), 0, 180 * 16);
    else
        p.drawArc(QRectF(11, 2.5, 8, 9), 0, 180 * 16);
    p.drawLine(QPointF(7, 8), QPointF(7, 10));
    p.drawLine(QPointF(15, 8), QPointF(15, shut ? 10 : 7));
    if (!shut) p.drawLine(QPointF(19, 7), QPointF(19, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 150, 30));
    p.drawRoundedRect(QRectF(5, 10, 12, 9), 1.5, 1.5);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QRectF(10, 13, 2, 3));
    return face;
}

// A number box that takes a number above its maximum as the maximum, as typed.
class TNumberBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override {
        bool ok = false;
        const qlonglong v = input.trimmed().toLongLong(&ok);
        if (ok && v > maximum()) {
            input = QString::number(maximum());
            pos = int(input.size());
            return QValidator::Acceptable;
        }
        return QSpinBox::validate(input, pos);
    }
};

}  // namespace

void SetOpenPictureDialog(TOpenPictureDialog dialog) { gOpenPicture = std::move(dialog); }
void SetWarningBox(TWarningBox box) { gWarning = std::move(box); }

// ---------------------------------------------------------------------------
// The paint box that shows the watermark picture at its place, with its opacity.

class TWatermarkPaintBox : public QWidget {
public:
    TWatermarkPaintBox(TCropfrm* window, QWidget* parent) : QWidget(parent), window_(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QImage& preview = window_->WatermarkPreview();
        if (preview.isNull() || isHidden()) return;
        const int opacity = 100 - int(window_->TrackTransparency->Position());
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), WithOpacity(preview, opacity));
    }

private:
    TCropfrm* window_;
};

// ---------------------------------------------------------------------------
// Construction and layout.

TCropfrm::TCropfrm(formats::TFileOption& movieOptions, player::TShockwaveFlash* player, QWidget* parent)
    : SkinnedWindow(parent), movieOptions_(movieOptions), player_(player) {
    build();
}

TCropfrm::TCropfrm(formats::TFileOption& movieOptions, const QImage& still, QWidget* parent)
    : SkinnedWindow(parent), movieOptions_(movieOptions), still_(still), stillGiven_(true) {
    build();
}

TCropfrm::~TCropfrm() = default;

void TCropfrm::build() {
    setObjectName(QStringLiteral("Cropfrm"));
    setWindowTitle(QStringLiteral("Edit"));
    setModal(true);
    AddDialogButtons();
    // OK stores before it closes.
    disconnect(OkButton(), &QAbstractButton::clicked, this, &QDialog::accept);
    connect(OkButton(), &QAbstractButton::clicked, this, [this] { btnOKClick(); });

    QWidget* client = ClientArea();
    const int margin = 10;
    const int rightX = margin + kPreviewFrameWidth + 14;
    const int rightW = 262;
    resize(2 * controls::SkinnedWindow::kBorderWidth + rightX + rightW + margin,
           controls::SkinnedWindow::kTitleHeight + controls::SkinnedWindow::kBottomHeight + 400);

    QPixmap up, hot, down;
    try {
        up = controls::LoadSkinPicture(QStringLiteral("btn_up.bmp"));
        hot = controls::LoadSkinPicture(QStringLiteral("btn_Hot.bmp"));
        down = controls::LoadSkinPicture(QStringLiteral("btn_down.bmp"));
    } catch (const controls::SkinError& e) {
        logError(QString::fromUtf8(e.what()));
    }
    auto button = [&](QWidget* parent, const char* name, const QString& text) {
        auto* b = new controls::SkinButton(parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->SetPictures(up, hot, down);
        b->SetFocusRect(false);
        return b;
    };
    auto label = [](QWidget* parent, const QString& text, int x, int y) {
        auto* l = new QLabel(text, parent);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto box = [](QWidget* parent, const char* name, int x, int y, int w) {
        auto* b = new TNumberBox(parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, w, 24);
        b->setRange(0, 100000);
        b->setKeyboardTracking(true);
        return b;
    };

    // The preview: a dark frame, the picture's panel fitted into it, the still, the watermark
    // picture and the two editors over it.
    pnlFrame = new QWidget(client);
    pnlFrame->setObjectName(QStringLiteral("pnlFrame"));
    pnlFrame->setGeometry(margin, margin, kPreviewFrameWidth, kPreviewFrameHeight);
    pnlFrame->setAutoFillBackground(true);
    QPalette framePalette = pnlFrame->palette();
    framePalette.setColor(QPalette::Window, QColor(48, 48, 48));
    pnlFrame->setPalette(framePalette);

    pnlSWF = new QWidget(pnlFrame);
    pnlSWF->setObjectName(QStringLiteral("pnlSWF"));
    pnlSWF->setAutoFillBackground(true);
    QPalette black = pnlSWF->palette();
    black.setColor(QPalette::Window, Qt::black);
    pnlSWF->setPalette(black);
    auto* still = new controls::SkinPicture(pnlSWF);
    still->setObjectName(QStringLiteral("imgSWF"));
    imgSWF = still;
    imgWatemark = new TWatermarkPaintBox(this, pnlSWF);
    imgWatemark->setObjectName(QStringLiteral("imgWatemark"));
    imgWatemark->resize(0, 0);
    ardtrCrop = new TAreaEditor(pnlSWF);
    ardtrCrop->setObjectName(QStringLiteral("ardtrCrop"));
    ardtrWatermark = new TAreaEditor(pnlSWF);
    ardtrWatermark->setObjectName(QStringLiteral("ardtrWatermark"));
    ardtrWatermark->hide();

    // The crop boxes under the preview.
    const int cropY = margin + kPreviewFrameHeight + 12;
    label(client, QStringLiteral("Crop area:"), margin, cropY + 4);
    btnFullAread = button(client, "btnFullAread", QStringLiteral("Full area"));
    btnFullAread->setGeometry(margin + kPreviewFrameWidth - 90, cropY, 90, 24);
    btnFullAread->setToolTip(QStringLiteral("Crop to the whole picture"));
    const int boxesY = cropY + 34;
    label(client, QStringLiteral("X:"), margin, boxesY + 4);
    edtcropX = box(client, "edtcropX", margin + 18, boxesY, 70);
    label(client, QStringLiteral("Y:"), margin + 100, boxesY + 4);
    edtCropY = box(client, "edtCropY", margin + 118, boxesY, 70);
    label(client, QStringLiteral("Width:"), margin + 200, boxesY + 4);
    edtCropW = box(client, "edtCropW", margin + 246, boxesY, 70);
    label(client, QStringLiteral("Height:"), margin + 328, boxesY + 4);
    edtCropH = box(client, "edtCropH", margin + 376, boxesY, 70);

    // The watermark, right of the preview.
    chkaddwatermark = new QCheckBox(QStringLiteral("Add image watermark"), client);
    chkaddwatermark->setObjectName(QStringLiteral("chkaddwatermark"));
    chkaddwatermark->setGeometry(rightX, margin, rightW, 22);
    grpWatermark = new QGroupBox(client);
    grpWatermark->setObjectName(QStringLiteral("grpWatermark"));
    grpWatermark->setGeometry(rightX, margin + 28, rightW, 244);
    grpWatermark->setEnabled(false);
    const int gx = 10, gw = rightW - 20;
    label(grpWatermark, QStringLiteral("Watermark path:"), gx, 10);
    edtimage = new QLineEdit(grpWatermark);
    edtimage->setObjectName(QStringLiteral("edtimage"));
    edtimage->setReadOnly(true);
    edtimage->setGeometry(gx, 30, gw - 36, 24);
    btnOpen = button(grpWatermark, "btnOpen", QStringLiteral("..."));
    btnOpen->setGeometry(gx + gw - 30, 30, 30, 24);
    btnOpen->setToolTip(QStringLiteral("Choose the watermark picture"));

    label(grpWatermark, QStringLiteral("Set transparency:"), gx, 68);
    lblPos = new QLabel(QStringLiteral("100"), grpWatermark);
    lblPos->setObjectName(QStringLiteral("lblPos"));
    lblPos->setGeometry(gx + gw - 40, 68, 40, 18);
    lblPos->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    TrackTransparency = new controls::TSVTrackbar(grpWatermark);
    TrackTransparency->setObjectName(QStringLiteral("TrackTransparency"));
    TrackTransparency->setGeometry(gx - 4, 86, gw + 8, 33);
    TrackTransparency->SetMin(0);
    TrackTransparency->SetMax(100);
    TrackTransparency->SetPosition(0);
    TrackTransparency->SetTransParent(true);

    const int wy = 134;
    label(grpWatermark, QStringLiteral("X:"), gx, wy + 4);
    edtWatermarkX = box(grpWatermark, "edtWatermarkX", gx + 48, wy, 70);
    label(grpWatermark, QStringLiteral("Y:"), gx + 130, wy + 4);
    edtWaterMarkY = box(grpWatermark, "edtWaterMarkY", gx + 152, wy, 70);
    label(grpWatermark, QStringLiteral("Width:"), gx, wy + 38);
    edtwatermarkW = box(grpWatermark, "edtwatermarkW", gx + 48, wy + 34, 70);
    label(grpWatermark, QStringLiteral("Height:"), gx, wy + 72);
    edtwatermarkH = box(grpWatermark, "edtwatermarkH", gx + 48, wy + 68, 70);
    // One lock between the width and height boxes, shut while the aspect is kept.
    btnLock = button(grpWatermark, "btnLock", QString());
    btnUnLock = button(grpWatermark, "btnUnLock", QString());
    static_cast<controls::SkinButton*>(btnLock)->SetPictures(lockFace(up, true), lockFace(hot, true),
                                                             lockFace(down, true));
    static_cast<controls::SkinButton*>(btnUnLock)->SetPictures(lockFace(up, false), lockFace(hot, false),
                                                               lockFace(down, false));
    btnLock->setGeometry(gx + 128, wy + 51, 22, 22);
    btnUnLock->setGeometry(gx + 128, wy + 51, 22, 22);
    btnLock->setToolTip(QStringLiteral("The picture's shape is kept: click to free it"));
    btnUnLock->setToolTip(QStringLiteral("Click to keep the picture's shape"));
    btnLock->hide();

    for (QSpinBox* b : {edtcropX, edtCropY, edtCropW, edtCropH})
        connect(b, &QSpinBox::valueChanged, this, [this, b] { cropBoxChanged(b); });
    for (QSpinBox* b : {edtWatermarkX, edtWaterMarkY, edtwatermarkW, edtwatermarkH})
        connect(b, &QSpinBox::valueChanged, this, [this, b] { watermarkBoxChanged(b); });
    connect(btnFullAread, &QAbstractButton::clicked, this, [this] { btnFullAreadClick(); });
    connect(btnOpen, &QAbstractButton::clicked, this, [this] { btnOpenClick(); });
    connect(btnLock, &QAbstractButton::clicked, this, [this] { btnLockClick(); });
    connect(btnUnLock, &QAbstractButton::clicked, this, [this] { btnUnLockClick(); });
    connect(chkaddwatermark, &QCheckBox::toggled, this, [this] { chkaddwatermarkClick(); });
    connect(TrackTransparency, &controls::TSVTrackbar::OnTickChange, this, [this] { TrackTransparencyChange(); });
    connect(TrackTransparency, &controls::TSVTrackbar::OnChange, this, [this] { TrackTransparencyChange(); });

    connect(ardtrCrop, &TAreaEditor::OnMouseDown, this, [this] { cropMouseDown(); });
    connect(ardtrCrop, &TAreaEditor::OnMouseMove, this, [this] { cropMouseMove(); });
    connect(ardtrCrop, &TAreaEditor::OnMouseUp, this, [this] { cropMouseUp(); });
    connect(ardtrCrop, &TAreaEditor::OnKeyMove, this, [this] { cropKeyMove(); });
    connect(ardtrWatermark, &TAreaEditor::OnMouseDown, this, [this] { watermarkDragging_ = true; });
    connect(ardtrWatermark, &TAreaEditor::OnMouseMove, this, [this] { watermarkMouseMove(); });
    connect(ardtrWatermark, &TAreaEditor::OnMouseUp, this, [this] { watermarkDragging_ = false; });
    connect(ardtrWatermark, &TAreaEditor::OnKeyMove, this, [this] { watermarkKeyMove(); });

    try {
        LoadSkin();
    } catch (const controls::SkinError& e) {
        // Without its pictures the window still works, plainly drawn.
        logError(QString::fromUtf8(e.what()));
    }
}

void TCropfrm::showEvent(QShowEvent* e) {
    SkinnedWindow::showEvent(e);
    if (!shown_) {
        shown_ = true;
        formShow();
    }
}

// ---------------------------------------------------------------------------
// Geometry.

int TCropfrm::previewW() const { return imgSWF->width(); }
int TCropfrm::previewH() const { return imgSWF->height(); }

TRect TCropfrm::imageBounds() const { return boundsOf(imgSWF); }

TRect TCropfrm::ToMovie(const TRect& r) const { return ToMovieRect(r, movieW_, movieH_, previewW(), previewH()); }

TRect TCropfrm::ToPreview(const TRect& r) const { return ToPreviewRect(r, movieW_, movieH_, previewW(), previewH()); }

// A preview pixel stands for more than one movie pixel when the movie is larger than its preview:
// numbers typed into the boxes are kept while the editor still shows exactly them.
TRect TCropfrm::cropInMovie() const {
    const TRect bounds = ardtrCrop->Bounds();
    if (typedCrop_.width() > 0 && typedCrop_.height() > 0 && ToPreview(typedCrop_) == bounds) return typedCrop_;
    return ToMovie(bounds);
}

TRect TCropfrm::markInMovie() const {
    const TRect bounds = ardtrWatermark->Bounds();
    if (typedMark_.width() > 0 && typedMark_.height() > 0 && ToPreview(typedMark_) == bounds) return typedMark_;
    return ToMovie(bounds);
}

void TCropfrm::BuildPreview() {
    if (!stillGiven_) {
        const QSize size = player_ ? player_->size() : QSize();
        if (player_ && size.width() > 0 && size.height() > 0) {
            still_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
            still_.fill(Qt::black);
            player_->PaintTo(still_);
        } else {
            const auto& info = movieOptions_.SWFInfo;
            const QSize shape = info.Width > 0 && info.Height > 0 ? QSize(info.Width, info.Height)
                                                                   : QSize(kPreviewFrameWidth, kPreviewFrameHeight);
            still_ = QImage(shape, QImage::Format_ARGB32_Premultiplied);
            still_.fill(Qt::black);
        }
    }
    TRect source{0, 0, still_.width(), still_.height()};
    if (source.width() <= 0 || source.height() <= 0) source = TRect{0, 0, kPreviewFrameWidth, kPreviewFrameHeight};
    const TRect fit = app::FitRect(source, TRect{0, 0, kPreviewFrameWidth, kPreviewFrameHeight});
    setBoundsOf(pnlSWF, fit);
    imgSWF->setGeometry(0, 0, fit.width(), fit.height());
    static_cast<controls::SkinPicture*>(imgSWF)->SetPicture(QPixmap::fromImage(still_));
}

void TCropfrm::setBox(QSpinBox* box, int value) {
    ++updating_;
    box->setValue(value);
    --updating_;
}

void TCropfrm::setRange(QSpinBox* box, int min, int max) {
    ++updating_;
    box->setRange(min, max);
    --updating_;
}

void TCropfrm::setMaximum(QSpinBox* box, int max) {
    ++updating_;
    box->setMaximum(max);
    --updating_;
}

void TCropfrm::setMinimum(QSpinBox* box, int min) {
    ++updating_;
    box->setMinimum(min);
    --updating_;
}

// ---------------------------------------------------------------------------
// Showing and restoring.

void TCropfrm::formShow() {
    updating_ = 0;
    aspectRatio_ = 0;
    cropDragging_ = watermarkDragging_ = false;
    BuildPreview();
    movieW_ = movieOptions_.SWFInfo.Width;
    movieH_ = movieOptions_.SWFInfo.Height;
    if (movieW_ <= 0 || movieH_ <= 0) {
        // No movie facts: the preview's own pixels stand in, so nothing divides by zero.
        movieW_ = previewW();
        movieH_ = previewH();
    }
    for (TAreaEditor* editor : {ardtrCrop, ardtrWatermark}) {
        editor->SetBorderFrameSize(3);
        editor->SetArea(imageBounds());
        editor->SetChangeWHScale(0);
    }
    movieCrop_ = TRect{0, 0, movieW_, movieH_};
    ardtrCrop->SetBounds(imageBounds());
    SetCropLimits();
    setBox(edtcropX, 0);
    setBox(edtCropY, 0);
    setBox(edtCropW, movieW_);
    setBox(edtCropH, movieH_);
    keepAspect_ = false;
    RestoreFromOptions();
}

void TCropfrm::RestoreFromOptions() {
    const auto& o = movieOptions_.Options;
    if (o.CropEnabled) {
        // A stored rectangle from another preview is kept within this one.
        const TRect area = imageBounds();
        TRect r = o.CropViewRect;
        const int32_t w = std::clamp(r.width(), std::min(18, area.width()), area.width());
        const int32_t h = std::clamp(r.height(), std::min(18, area.height()), area.height());
        r.left = std::clamp(r.left, area.left, area.right - w);
        r.top = std::clamp(r.top, area.top, area.bottom - h);
        ardtrCrop->SetBounds(withSize(r, w, h));
        // Numbers typed last time come back as they were while the editor shows them.
        typedCrop_ = o.CropRect;
        SyncCropBoxes();
    }
    aspectRatio_ = o.WaterMark.AspectRatio;
    if (o.WaterMark.KeepAspect) {
        keepAspect_ = true;
        btnLock->show();
        btnUnLock->hide();
        ardtrWatermark->SetChangeWHScale(aspectRatio_);
    } else {
        ardtrWatermark->SetChangeWHScale(0);
    }
    if (o.WatermarkKind == 1) {
        const TRect& view = o.WaterMark.ViewRect;
        // A picture that is gone is not restored, silently.
        if (!o.WaterMark.ImageFile.isEmpty() && !QFileInfo(o.WaterMark.ImageFile).isFile()) return;
        typedMark_ = o.WaterMark.Rect;
        PlaceWatermark(o.WaterMark.ImageFile, view.width(), view.height(), view);
        if (imageTag_ == 1) {
            edtimage->clear();
            return;
        }
        TrackTransparency->SetPosition(100 - o.WaterMark.Opacity);
        TrackTransparencyChange();
        chkaddwatermark->setChecked(true);
    }
}

// ---------------------------------------------------------------------------
// Keeping boxes and editors together.

void TCropfrm::SetCropLimits() {
    const TRect square = ToMovie(TRect{0, 0, 18, 18});
    const int mw = square.width(), mh = square.height();
    setRange(edtcropX, 0, std::max(0, movieW_ - mw));
    setRange(edtCropY, 0, std::max(0, movieH_ - mh));
    setRange(edtCropW, mw, std::max(mw, movieW_));
    setRange(edtCropH, mh, std::max(mh, movieH_));
}

void TCropfrm::SyncCropBoxes() {
    ++updating_;
    movieCrop_ = cropInMovie();
    setBox(edtcropX, movieCrop_.left);
    setBox(edtCropY, movieCrop_.top);
    setBox(edtCropW, movieCrop_.width());
    setBox(edtCropH, movieCrop_.height());
    --updating_;
}

void TCropfrm::SyncWatermarkBoxes() {
    movieWatermark_ = markInMovie();
    SetWatermarkLimits();
    ++updating_;
    setBox(edtWatermarkX, movieWatermark_.left);
    setBox(edtWaterMarkY, movieWatermark_.top);
    setBox(edtwatermarkW, movieWatermark_.width());
    setBox(edtwatermarkH, movieWatermark_.height());
    --updating_;
}

void TCropfrm::SetWatermarkLimits() {
    ++updating_;
    movieCrop_ = cropInMovie();
    setRange(edtWatermarkX, movieCrop_.left, movieCrop_.right - movieWatermark_.width());
    setRange(edtWaterMarkY, movieCrop_.top, movieCrop_.bottom - movieWatermark_.height());
    setMaximum(edtwatermarkW, movieCrop_.width());
    setMaximum(edtwatermarkH, movieCrop_.height());
    --updating_;
}

void TCropfrm::FollowCrop() {
    ardtrWatermark->SetArea(ardtrCrop->Bounds());
    if (!ardtrWatermark->isHidden()) {
        ++updating_;
        SyncWatermarkBoxes();
        --updating_;
    }
}

void TCropfrm::KeepWatermarkInside() {
    if (!chkaddwatermark->isChecked() || ardtrWatermark->isHidden()) return;
    ardtrCrop->SetLimitRect(ardtrWatermark->Bounds());
    ardtrCrop->SetLimitEnabled(true);
    ++updating_;
    const TRect mark = markInMovie();
    setMaximum(edtcropX, mark.left);
    setMaximum(edtCropY, mark.top);
    --updating_;
}

void TCropfrm::paintBoxFollows() {
    setBoundsOf(imgWatemark, ardtrWatermark->Bounds());
    imgWatemark->update();
}

// ---------------------------------------------------------------------------
// The editors.

void TCropfrm::cropMouseDown() {
    KeepWatermarkInside();
    cropDragging_ = true;
}

void TCropfrm::cropMouseMove() {
    if (!cropDragging_) return;
    FollowCrop();
    SyncCropBoxes();
}

void TCropfrm::cropMouseUp() { cropDragging_ = false; }

void TCropfrm::cropKeyMove() {
    KeepWatermarkInside();
    FollowCrop();
    SyncCropBoxes();
}

void TCropfrm::watermarkMouseMove() {
    if (!watermarkDragging_) return;
    paintBoxFollows();
    SyncWatermarkBoxes();
    KeepWatermarkInside();
}

void TCropfrm::watermarkKeyMove() {
    paintBoxFollows();
    SyncWatermarkBoxes();
    KeepWatermarkInside();
}

// ---------------------------------------------------------------------------
// Typing in the boxes.

void TCropfrm::cropBoxChanged(QSpinBox* box) {
    if (updating_ > 0) return;
    const int x = edtcropX->value(), y = edtCropY->value();
    int w = edtCropW->value(), h = edtCropH->value();
    if (x + w > movieW_) w = movieW_ - x;
    if (y + h > movieH_) h = movieH_ - y;
    const TRect p = ToPreview(TRect{x, y, x + w, y + h});
    const int m = 18;
    const bool limited = ardtrCrop->LimitEnabled();
    const TRect limit = ardtrCrop->LimitRect();
    TRect crop = ardtrCrop->Bounds();
    const int W = crop.width(), H = crop.height();

    if (box == edtcropX) {
        const int P = previewW();
        // The width typed, where it differs from the editor's only by rounding, so the editor shows
        // exactly the numbers in the boxes.
        const int w = std::abs(p.width() - W) <= 1 ? p.width() : W;
        if (p.left + w <= P)
            crop = TRect{p.left, crop.top, p.left + w, crop.bottom};
        else if (P - p.left >= m)
            crop = TRect{p.left, crop.top, P, crop.bottom};
        else
            crop = TRect{P - m, crop.top, P, crop.bottom};
        if (limited && crop.left > limit.left) crop = TRect{limit.left, crop.top, limit.left + crop.width(), crop.bottom};
        ardtrCrop->SetBounds(crop);
        if (limited && crop.right < limit.right) {
            ardtrCrop->SetBounds(TRect{limit.right - crop.width(), crop.top, limit.right, crop.bottom});
            SyncCropBoxes();
        }
        // The width box shows what is left of the width, not the width asked for before.
        if (ardtrCrop->Bounds().width() != w) setBox(edtCropW, ToMovie(ardtrCrop->Bounds()).width());
    } else if (box == edtCropY) {
        const int P = previewH();
        const int h = std::abs(p.height() - H) <= 1 ? p.height() : H;
        if (p.top + h <= P)
            crop = TRect{crop.left, p.top, crop.right, p.top + h};
        else if (P - p.top >= m)
            crop = TRect{crop.left, p.top, crop.right, P};
        else
            crop = TRect{crop.left, P - m, crop.right, P};
        if (limited && crop.top > limit.top) crop = TRect{crop.left, limit.top, crop.right, limit.top + crop.height()};
        ardtrCrop->SetBounds(crop);
        if (limited && crop.bottom < limit.bottom) {
            ardtrCrop->SetBounds(TRect{crop.left, limit.bottom - crop.height(), crop.right, limit.bottom});
            SyncCropBoxes();
        }
        if (ardtrCrop->Bounds().height() != h) setBox(edtCropH, ToMovie(ardtrCrop->Bounds()).height());
    } else if (box == edtCropW) {
        const int P = previewW();
        bool sync = false;
        if (p.width() < m)
            crop.right = crop.left + m;
        else if (p.right < P)
            crop.right = crop.left + p.width();
        else {
            crop.right = P;
            sync = x + edtCropW->value() > movieW_;
        }
        if (limited && crop.right < limit.right) {
            crop.right = limit.right;
            sync = true;
        }
        ardtrCrop->SetBounds(crop);
        if (sync || edtCropW->value() == edtCropW->maximum()) SyncCropBoxes();
    } else if (box == edtCropH) {
        const int P = previewH();
        bool sync = false;
        if (p.height() < m)
            crop.bottom = crop.top + m;
        else if (p.bottom < P)
            crop.bottom = crop.top + p.height();
        else {
            crop.bottom = P;
            sync = y + edtCropH->value() > movieH_;
        }
        if (limited && crop.bottom < limit.bottom) {
            crop.bottom = limit.bottom;
            sync = true;
        }
        ardtrCrop->SetBounds(crop);
        if (sync || edtCropH->value() == edtCropH->maximum()) SyncCropBoxes();
    }
    // The numbers typed stand for the editor as long as it shows them.
    typedCrop_ = TRect{edtcropX->value(), edtCropY->value(), edtcropX->value() + edtCropW->value(),
                       edtCropY->value() + edtCropH->value()};
    FollowCrop();
    movieCrop_ = cropInMovie();
}

void TCropfrm::watermarkBoxChanged(QSpinBox* box) {
    if (updating_ > 0) return;
    const TRect area = ardtrWatermark->Area();
    const double r = ardtrWatermark->ChangeWHScale();
    const int s = 3;
    const int x = edtWatermarkX->value(), y = edtWaterMarkY->value();
    const TRect from = ToPreview(TRect{x, y, x + edtwatermarkW->value(), y + edtwatermarkH->value()});
    TRect e = ardtrWatermark->Bounds();

    if (box == edtWatermarkX) {
        const int w = std::abs(from.width() - e.width()) <= 1 ? from.width() : e.width();
        if (from.left + w <= area.right) ardtrWatermark->SetBounds(withSize(TRect{from.left, e.top, 0, 0}, w, e.height()));
    } else if (box == edtWaterMarkY) {
        const int h = std::abs(from.height() - e.height()) <= 1 ? from.height() : e.height();
        if (from.top + h <= area.bottom) ardtrWatermark->SetBounds(withSize(TRect{e.left, from.top, 0, 0}, e.width(), h));
    } else if (box == edtwatermarkW || box == edtwatermarkH) {
        const bool byWidth = box == edtwatermarkW;
        ++updating_;
        TRect target{x, y, 0, 0};
        if (byWidth) {
            const int W = edtwatermarkW->value();
            target.right = x + W;
            target.bottom = y + (r > 0 ? RoundHalfEven(W * r) : edtwatermarkH->value());
        } else {
            const int H = edtwatermarkH->value();
            target.bottom = y + H;
            target.right = x + (r > 0 ? RoundHalfEven(H / r) : edtwatermarkW->value());
        }
        typedMark_ = target;
        const TRect p = ToPreview(target);
        bool cut = false, raised = false;
        int width = e.width(), height = e.height();
        // The side typed into: cut at the area or at least 6s.
        if (byWidth) {
            if (p.right > area.right) {
                width = area.right - e.left;
                cut = true;
            } else {
                width = std::max(p.width(), 6 * s);
                raised = width != p.width();
            }
        } else {
            if (p.bottom > area.bottom) {
                height = area.bottom - e.top;
                cut = true;
            } else {
                height = std::max(p.height(), 6 * s);
                raised = height != p.height();
            }
        }
        bool other = false;
        if (r > 0) {
            // The other side follows the ratio, also when the typed side was cut or raised, and
            // is cut at the area in its turn.
            if (byWidth) {
                height = cut || raised ? RoundHalfEven(width * r) : p.height();
                if (e.top + height > area.bottom) {
                    height = area.bottom - e.top;
                    width = RoundHalfEven(height / r);
                    other = true;
                }
            } else {
                width = cut || raised ? RoundHalfEven(height / r) : p.width();
                if (e.left + width > area.right) {
                    width = area.right - e.left;
                    height = RoundHalfEven(width * r);
                    other = true;
                }
            }
        }
        ardtrWatermark->SetBounds(withSize(e, width, height));
        if (other) {
            SyncWatermarkBoxes();
            const TRect m = markInMovie();
            setMaximum(edtwatermarkW, m.width());
            setMaximum(edtwatermarkH, m.height());
        } else if (r > 0 && !cut) {
            setBox(byWidth ? edtwatermarkH : edtwatermarkW, byWidth ? target.height() : target.width());
        }
        if (cut) {
            SyncWatermarkBoxes();
            const TRect m = markInMovie();
            if (byWidth || r > 0) setMaximum(edtwatermarkW, m.width());
            if (!byWidth || r > 0) setMaximum(edtwatermarkH, m.height());
        } else {
            // The place boxes' ranges follow the new size.
            movieWatermark_ = markInMovie();
            const int w = edtwatermarkW->maximum(), h = edtwatermarkH->maximum();
            SetWatermarkLimits();
            if (other) {
                setMaximum(edtwatermarkW, w);
                setMaximum(edtwatermarkH, h);
            }
        }
        --updating_;
    }
    typedMark_ = TRect{edtWatermarkX->value(), edtWaterMarkY->value(), edtWatermarkX->value() + edtwatermarkW->value(),
                       edtWaterMarkY->value() + edtwatermarkH->value()};
    paintBoxFollows();
    movieWatermark_ = markInMovie();
    KeepWatermarkInside();
}

// ---------------------------------------------------------------------------
// Buttons, check box and trackbar.

void TCropfrm::btnFullAreadClick() {
    ardtrCrop->SetBounds(imageBounds());
    FollowCrop();
    SyncCropBoxes();
}

void TCropfrm::chkaddwatermarkClick() {
    if (chkaddwatermark->isChecked()) {
        grpWatermark->setEnabled(true);
        if (!edtimage->text().isEmpty() && imageTag_ != 1) {
            // A watermark left outside a crop changed meanwhile comes back inside it first.
            const TRect area = ardtrCrop->Bounds();
            TRect mark = ardtrWatermark->Bounds();
            const int32_t w = std::min(mark.width(), area.width()), h = std::min(mark.height(), area.height());
            mark.left = std::clamp(mark.left, area.left, area.right - w);
            mark.top = std::clamp(mark.top, area.top, area.bottom - h);
            ardtrWatermark->SetArea(area);
            ardtrWatermark->SetBounds(withSize(mark, w, h));
            ardtrWatermark->show();
            imgWatemark->show();
            paintBoxFollows();
            SyncWatermarkBoxes();
            KeepWatermarkInside();
        }
    } else {
        grpWatermark->setEnabled(false);
        ardtrWatermark->hide();
        imgWatemark->hide();
        ardtrCrop->SetLimitEnabled(false);
        ++updating_;
        SetCropLimits();
        --updating_;
    }
}

void TCropfrm::PlaceWatermark(const QString& file, int w, int h, const TRect& r) {
    FollowCrop();
    if (file.isEmpty() || w == 0 || h == 0) return;
    setBoundsOf(imgWatemark, withSize(r, imgWatemark->width(), imgWatemark->height()));
    ardtrWatermark->SetBounds(withSize(r, ardtrWatermark->width(), ardtrWatermark->height()));
    setMaximum(edtwatermarkW, movieCrop_.width());
    setMaximum(edtwatermarkH, movieCrop_.height());
    int pw = std::min(w, r.width()), ph = std::min(h, r.height());
    if (aspectRatio_ == 0) aspectRatio_ = double(h) / double(w);
    if (keepAspect_) ardtrWatermark->SetChangeWHScale(aspectRatio_);
    const double ratio = ardtrWatermark->ChangeWHScale();
    if (ratio > 0) {
        if (RoundHalfEven(pw * ratio) > r.height())
            pw = RoundHalfEven(ph / ratio);
        else if (RoundHalfEven(ph / ratio) > r.width())
            ph = RoundHalfEven(pw * ratio);
    }
    // A picture of extreme shape still gets a pixel each way.
    pw = std::max(1, pw);
    ph = std::max(1, ph);
    setBoundsOf(imgWatemark, withSize(r, pw, ph));
    ardtrWatermark->SetBounds(withSize(r, pw, ph));
    try {
        const QImage picture = LoadImageFile(file);
        const int cw = std::min(ardtrCrop->width(), w), ch = std::min(ardtrCrop->height(), h);
        if (cw <= 0 || ch <= 0) throw ImageError(QStringLiteral("Cannot make a %1x%2 picture").arg(cw).arg(ch));
        QImage preview(cw, ch, QImage::Format_ARGB32);
        if (preview.isNull()) throw ImageError(QStringLiteral("Cannot make a %1x%2 picture").arg(cw).arg(ch));
        preview.fill(Qt::transparent);
        QPainter painter(&preview);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(preview.rect(), picture);
        painter.end();
        watermarkPreview_ = preview;
    } catch (const ImageError& e) {
        logError(e.text());
        imageTag_ = 1;
        return;
    }
    imgWatemark->update();
    edtimage->setText(file);
    imageTag_ = 0;
    SyncWatermarkBoxes();
}

void TCropfrm::btnOpenClick() {
    const QString file = openPicture(this, app::SourceImgPath);
    if (file.isEmpty()) return;
    aspectRatio_ = 0;
    try {
        const QImage picture = LoadImageFile(file);
        if (picture.width() <= 0 || picture.height() <= 0) throw ImageError(kOpenFailed);
        PlaceWatermark(file, picture.width(), picture.height(), ardtrCrop->Bounds());
        if (imageTag_ == 1) throw ImageError(kOpenFailed);
    } catch (const ImageError& e) {
        logError(e.text());
        edtimage->clear();
        warn(this, QStringLiteral("information"), kOpenFailed);
        return;
    }
    ardtrWatermark->show();
    imgWatemark->show();
    ardtrWatermark->update();
    KeepWatermarkInside();
}

void TCropfrm::btnLockClick() {
    btnLock->hide();
    btnUnLock->show();
    ardtrWatermark->SetChangeWHScale(0);
    keepAspect_ = false;
}

void TCropfrm::btnUnLockClick() {
    btnLock->show();
    btnUnLock->hide();
    ardtrWatermark->SetChangeWHScale(aspectRatio_);
    ardtrWatermark->SetBounds(LockAreaRatio(ardtrWatermark->Bounds(), aspectRatio_, ardtrWatermark->Area()));
    paintBoxFollows();
    keepAspect_ = true;
    if (!ardtrWatermark->isHidden()) {
        SyncWatermarkBoxes();
        KeepWatermarkInside();
    }
}

void TCropfrm::TrackTransparencyChange() {
    lblPos->setText(QString::number(100 - TrackTransparency->Position()));
    imgWatemark->update();
}

// ---------------------------------------------------------------------------
// OK.

void TCropfrm::StoreResults() {
    SyncCropBoxes();
    auto& o = movieOptions_.Options;
    if (movieCrop_ == TRect{0, 0, movieW_, movieH_}) {
        o.CropEnabled = false;
    } else {
        o.CropEnabled = true;
        o.CropViewRect = ardtrCrop->Bounds();
        o.CropRect = movieCrop_;
    }
    if (chkaddwatermark->isChecked() && !imgWatemark->isHidden() && imageTag_ != 1) {
        SyncWatermarkBoxes();
        o.WatermarkKind = 1;
        o.WaterMark.Kind = 1;
        o.WaterMark.ImageFile = edtimage->text();
        o.WaterMark.Opacity = int32_t(100 - TrackTransparency->Position());
        o.WaterMark.Rect = movieWatermark_;
        o.WaterMark.ViewRect = boundsOf(imgWatemark);
        o.WaterMark.KeepAspect = keepAspect_;
        o.WaterMark.AspectRatio = aspectRatio_;
        if (!o.WaterMark.ImageFile.isEmpty()) {
            const QString folder = QFileInfo(o.WaterMark.ImageFile).absolutePath() + QLatin1Char('/');
            if (QDir::cleanPath(folder) != QDir::cleanPath(app::SourceImgPath)) {
                try {
                    app::WriteSetting(QStringLiteral("SourceImgPath"), folder);
                } catch (const app::IoError& e) {
                    app::SourceImgPath = folder;
                    logError(e.text());
                }
            }
        }
    } else {
        o.WatermarkKind = -1;
        o.WaterMark.AspectRatio = 0;
        o.WaterMark.Opacity = 100;
        o.WaterMark.KeepAspect = false;
    }
}

void TCropfrm::btnOKClick() {
    StoreResults();
    accept();
}

}  // namespace qm::crop
