#include "app/windows/properties_window.h"

#include "app/core/app_core.h"

#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>

namespace qm::app {

namespace {

constexpr int kWindowWidth = 364;
constexpr int kWindowHeight = 253;
constexpr int kCaptionLeft = 10;
constexpr int kValueLeft = 108;
constexpr int kRowHeight = 18;
constexpr int kNameWidth = 237;
constexpr int kValueWidth = 82;
constexpr int kRateWidth = 60;

}  // namespace

Tpropertiesfrm::Tpropertiesfrm(const formats::TFileOption& fileOption, QWidget* parent)
    : SkinnedWindow(parent), fileOption_(fileOption) {
    setObjectName(QStringLiteral("propertiesfrm"));
    setWindowTitle(QStringLiteral("Properties"));
    setModal(true);
    setFixedSize(kWindowWidth, kWindowHeight);

    const int clientWidth = kWindowWidth - 2 * kBorderWidth;
    const int clientHeight = kWindowHeight - kTitleHeight - kBottomHeight;
    QWidget* client = ClientArea();

    auto* group = new QGroupBox(client);
    group->setObjectName(QStringLiteral("GroupBox1"));
    group->setGeometry(6, 6, clientWidth - 12, clientHeight - 52);

    int y = 20;
    auto row = [&](const QString& caption, const QString& name, int width) {
        auto* captionLabel = new QLabel(caption, group);
        captionLabel->setGeometry(kCaptionLeft, y, kValueLeft - kCaptionLeft - 2, kRowHeight);
        auto* value = new QLabel(group);
        value->setObjectName(name);
        // A fixed width: a long name is cut at the label's edge rather than widening the window.
        value->setGeometry(kValueLeft, y, width, kRowHeight);
        value->setFixedWidth(width);
        value->setTextFormat(Qt::PlainText);
        y += kRowHeight + 4;
        return value;
    };
    auto rule = [&] {
        auto* line = new QFrame(group);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setGeometry(kCaptionLeft, y + 1, group->width() - 2 * kCaptionLeft, 2);
        y += 8;
    };
    lblFileName = row(QStringLiteral("File Name:"), QStringLiteral("lblFileName"), kNameWidth);
    lblpath = row(QStringLiteral("Path:"), QStringLiteral("lblpath"), kNameWidth);
    rule();
    lblMoveSize = row(QStringLiteral("Move Size:"), QStringLiteral("lblMoveSize"), kValueWidth);
    lblFrameRate = row(QStringLiteral("Frame Rate:"), QStringLiteral("lblFrameRate"), kRateWidth);
    lbltotalFrames = row(QStringLiteral("Total Frames:"), QStringLiteral("lbltotalFrames"), kValueWidth);
    rule();
    lblFlashVer = row(QStringLiteral("Flash version:"), QStringLiteral("lblFlashVer"), kValueWidth);

    btnCancel = new controls::SkinButton(client);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setText(QStringLiteral("OK"));
    btnCancel->setGeometry(clientWidth - 10 - 80, clientHeight - 10 - 26, 80, 26);
    connect(btnCancel, &QAbstractButton::clicked, this, &Tpropertiesfrm::btnCancelClick);
    disconnect(CloseButton(), &QAbstractButton::clicked, this, &QDialog::reject);
    connect(CloseButton(), &QAbstractButton::clicked, this, &Tpropertiesfrm::btnCloseClick);

    controls::LoadFrameSkin(this);
    controls::LoadCloseButtonSkin(this);
    btnCancel->SetPictures(controls::LoadSkinPicture(QStringLiteral("btn_up.bmp")),
                           controls::LoadSkinPicture(QStringLiteral("btn_Hot.bmp")),
                           controls::LoadSkinPicture(QStringLiteral("btn_down.bmp")));
    btnCancel->SetFocusRect(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tpropertiesfrm::showEvent(QShowEvent* event) {
    SkinnedWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void Tpropertiesfrm::FormShow() {
    const formats::TSWFInfo& info = fileOption_.SWFInfo;
    const qsizetype slash = info.FileName.lastIndexOf(QLatin1Char('/'));
    lblFileName->setText(info.FileName.mid(slash + 1));
    lblpath->setText(info.FileName.left(slash + 1));
    // The labels cut long texts; the whole text is a hover away.
    lblFileName->setToolTip(lblFileName->text());
    lblpath->setToolTip(lblpath->text());
    lblMoveSize->setText(QStringLiteral("%1x%2").arg(info.Width).arg(info.Height));
    // The record may hold the rate with a point; the user reads it in the locale's own way.
    lblFrameRate->setText(UseLocaleDecimal(info.FrameRate));
    lbltotalFrames->setText(QString::number(info.FrameCount));
    lblFlashVer->setText(QString::number(info.FlashVersion));
    btnCancel->setFocus();
}

void Tpropertiesfrm::btnCancelClick() { accept(); }

void Tpropertiesfrm::btnCloseClick() { reject(); }

}  // namespace qm::app
