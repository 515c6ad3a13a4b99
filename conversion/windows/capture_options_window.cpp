#include "conversion/windows/capture_options_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>

#include <algorithm>
#include <limits>

#include "app/core/app_core.h"
#include "conversion/conversion_log.h"
#include "conversion/windows/capture_window.h"

namespace qm::conversion {

bool FastCapture = false;

namespace {

// The program's dialog colours (Delphi colour values 5257765 and 11310715, blue in the high byte).
const QColor kBackground(0x25, 0x3A, 0x50);
const QColor kFramesFace(0x7B, 0x96, 0xAC);

void Whiten(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9A, 0xA8, 0xB8));
    w->setPalette(p);
}

}  // namespace

TCaptureoptionfrm::TCaptureoptionfrm(QWidget* parent) : controls::SkinnedWindow(parent) {
    setObjectName(QStringLiteral("Captureoptionfrm"));
    setWindowTitle(QStringLiteral("Option"));
    setModal(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    QWidget* c = ClientArea();
    auto label = [c](const QString& text, const char* name, int x, int y) {
        auto* l = new QLabel(text, c);
        l->setObjectName(QString::fromLatin1(name));
        Whiten(l);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto check = [c](const QString& text, const char* name, int x, int y) {
        auto* b = new QCheckBox(text, c);
        b->setObjectName(QString::fromLatin1(name));
        Whiten(b);
        b->move(x, y);
        b->adjustSize();
        return b;
    };
    lblMode_ = label(QStringLiteral("Capture mode:"), "lblMode", 16, 12);
    rbInteractive_ = new QRadioButton(QStringLiteral("Manual"), c);
    rbInteractive_->setObjectName(QStringLiteral("rbInteractive"));
    rbAutomatic_ = new QRadioButton(QStringLiteral("Automatic"), c);
    rbAutomatic_->setObjectName(QStringLiteral("rbAutomatic"));
    for (QRadioButton* rb : {rbInteractive_, rbAutomatic_}) Whiten(rb);
    rbInteractive_->move(36, 34);
    rbInteractive_->adjustSize();
    rbAutomatic_->move(180, 34);
    rbAutomatic_->adjustSize();
    rbInteractive_->setChecked(true);

    lblSettings_ = label(QStringLiteral("Capture settings:"), "lblSettings", 16, 66);
    chkautostop_ = check(QStringLiteral("Auto end capture at the last frame"), "chkautostop", 36, 88);
    chkallFrame_ = check(QStringLiteral("Auto end capture after"), "chkallFrame", 36, 116);
    edtFrames_ = new QSpinBox(c);
    edtFrames_->setObjectName(QStringLiteral("edtFrames"));
    edtFrames_->setGeometry(chkallFrame_->x() + chkallFrame_->width() + 8, 113, 86, 24);
    QPalette face = edtFrames_->palette();
    face.setColor(QPalette::Base, kFramesFace);
    face.setColor(QPalette::Disabled, QPalette::Base, kFramesFace);
    face.setColor(QPalette::Button, kFramesFace);
    face.setColor(QPalette::Disabled, QPalette::Button, kFramesFace);
    edtFrames_->setPalette(face);
    edtFrames_->setEnabled(false);
    lblFrames_ = label(QStringLiteral("frames"), "lblFrames", edtFrames_->x() + edtFrames_->width() + 6, 117);
    chkFastCapture_ = check(QStringLiteral("Fast capture (render offline, no frame loss)"), "chkFastCapture", 36, 146);
    chkFastCapture_->setToolTip(
        QStringLiteral("The movie is rendered as fast as the computer allows, every frame at its exact time, "
                       "straight into the output file. Only for movies that need no mouse or keyboard."));
    chkFastCapture_->setEnabled(false);

    AddDialogButtons(QStringLiteral("OK"), QStringLiteral("Cancel"));
    // OK reads the controls before closing.
    disconnect(OkButton(), &QAbstractButton::clicked, this, &QDialog::accept);
    connect(OkButton(), &QAbstractButton::clicked, this, &TCaptureoptionfrm::btnOkClick);
    connect(rbAutomatic_, &QAbstractButton::clicked, this, &TCaptureoptionfrm::rbAutomaticClick);
    connect(rbInteractive_, &QAbstractButton::clicked, this, &TCaptureoptionfrm::rbInteractiveClick);
    connect(chkautostop_, &QAbstractButton::clicked, this, &TCaptureoptionfrm::chkautostopClick);
    connect(chkallFrame_, &QAbstractButton::clicked, this, &TCaptureoptionfrm::chkallFrameClick);
    resize(362, 255);
}

void TCaptureoptionfrm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    controls::SkinnedWindow::showEvent(event);
}

void TCaptureoptionfrm::FormShow() {
    edtFrames_->setMinimum(1);
    edtFrames_->setMaximum(int(std::clamp<int64_t>(FrameCount, 1, std::numeric_limits<int>::max())));
    switch (app::CaptureMode) {
        case 1:
            rbInteractive_->setChecked(true);
            chkautostop_->setChecked(true);
            break;
        case 2:
            rbAutomatic_->setChecked(true);
            chkautostop_->setEnabled(false);
            break;
        default: rbInteractive_->setChecked(true); break;
    }
    if (FrameLimit != 0) {
        chkautostop_->setChecked(false);
        chkallFrame_->setChecked(true);
        edtFrames_->setEnabled(true);
        edtFrames_->setValue(int(std::clamp<int64_t>(FrameLimit, 1, std::numeric_limits<int>::max())));
    } else {
        edtFrames_->setValue(int(std::clamp<int64_t>(FrameCount, 1, std::numeric_limits<int>::max())));
    }
    chkFastCapture_->setEnabled(rbAutomatic_->isChecked());
    chkFastCapture_->setChecked(FastCapture && rbAutomatic_->isChecked());
}

void TCaptureoptionfrm::rbAutomaticClick() {
    chkautostop_->setEnabled(!rbAutomatic_->isChecked());
    chkautostop_->setChecked(false);
    chkFastCapture_->setEnabled(rbAutomatic_->isChecked());
}

void TCaptureoptionfrm::rbInteractiveClick() {
    if (!rbInteractive_->isChecked()) return;
    chkautostop_->setEnabled(true);
    // Manual capture plays in real time: the user works the movie.
    chkFastCapture_->setChecked(false);
    chkFastCapture_->setEnabled(false);
}

void TCaptureoptionfrm::chkautostopClick() {
    if (!chkautostop_->isChecked()) return;
    chkallFrame_->setChecked(false);
    edtFrames_->setEnabled(false);
}

void TCaptureoptionfrm::chkallFrameClick() {
    edtFrames_->setEnabled(chkallFrame_->isChecked());
    if (chkallFrame_->isChecked()) chkautostop_->setChecked(false);
}

void TCaptureoptionfrm::btnOkClick() {
    if (rbAutomatic_->isChecked()) app::CaptureMode = 2;
    else app::CaptureMode = chkautostop_->isChecked() ? 1 : 0;
    FrameLimit = chkallFrame_->isChecked() ? int64_t(edtFrames_->value()) : 0;
    FastCapture = rbAutomatic_->isChecked() && chkFastCapture_->isChecked();
    accept();
}

bool ShowCaptureOptions(TCaptureFrm& capture) {
    TCaptureoptionfrm options(&capture);
    options.FrameCount = capture.Job.SWFInfo.FrameCount;
    options.FrameLimit = capture.FrameLimit;
    try {
        options.LoadSkin();
    } catch (const controls::SkinError& e) {
        LogError(QString::fromUtf8(e.what()));
    }
    if (options.exec() != QDialog::Accepted) return false;
    capture.FrameLimit = options.FrameLimit;
    return true;
}

}  // namespace qm::conversion
