#include "app/windows/update_window.h"

#include "app/core/app_core.h"
#include "app/windows/window_hooks.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QUrl>

namespace qm::app {

namespace {

constexpr int kWindowWidth = 362;
constexpr int kWindowHeight = 242;
constexpr int kParts = 100;

}  // namespace

TUpdatefrm::TUpdatefrm(QWidget* parent) : SkinnedWindow(parent) {
    setObjectName(QStringLiteral("Updatefrm"));
    setWindowTitle(QStringLiteral("Update"));
    setModal(true);
    setFixedSize(kWindowWidth, kWindowHeight);
    const int clientWidth = kWindowWidth - 2 * kBorderWidth;
    const int clientHeight = kWindowHeight - kTitleHeight - kBottomHeight;
    const int margin = 14, inner = clientWidth - 2 * margin;
    QWidget* client = ClientArea();

    lblUpdateinfo = new QLabel(kDownloading, client);
    lblUpdateinfo->setObjectName(QStringLiteral("lblUpdateinfo"));
    lblUpdateinfo->setGeometry(margin, 40, inner, 20);
    progress = new QProgressBar(client);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setGeometry(margin, 68, inner, 18);
    progress->setRange(0, kParts);
    progress->setValue(0);
    progress->setTextVisible(false);

    lbNewinfo = new QLabel(QStringLiteral("The latest version is:"), client);
    lbNewinfo->setObjectName(QStringLiteral("lbNewinfo"));
    lbNewinfo->adjustSize();
    lbNewinfo->move(margin, 10);
    lbVersion = new QLabel(client);
    lbVersion->setObjectName(QStringLiteral("lbVersion"));
    lbVersion->setGeometry(margin + lbNewinfo->width() + 6, 10, 120, lbNewinfo->height());
    QFont bold = lbVersion->font();
    bold.setBold(true);
    lbVersion->setFont(bold);
    mmonew = new QPlainTextEdit(client);
    mmonew->setObjectName(QStringLiteral("mmonew"));
    mmonew->setReadOnly(true);
    mmonew->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmonew->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmonew->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmonew->setGeometry(margin, 32, inner, clientHeight - 32 - 46);
    lblURL = new QLabel(client);
    lblURL->setObjectName(QStringLiteral("lblURL"));
    lblURL->setTextFormat(Qt::RichText);
    lblURL->setText(QStringLiteral("<a href=\"#\">Download Here</a>"));
    lblURL->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    lblURL->adjustSize();
    lblURL->move(margin, clientHeight - 10 - 26 + (26 - lblURL->height()) / 2);
    connect(lblURL, &QLabel::linkActivated, this, &TUpdatefrm::lblURLClick);
    for (QWidget* w : {static_cast<QWidget*>(mmonew), static_cast<QWidget*>(lbNewinfo),
                       static_cast<QWidget*>(lbVersion), static_cast<QWidget*>(lblURL)})
        w->hide();

    btnCancel = new controls::SkinButton(client);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setText(QStringLiteral("Cancel"));
    btnCancel->setGeometry(clientWidth - 10 - 80, clientHeight - 10 - 26, 80, 26);
    connect(btnCancel, &QAbstractButton::clicked, this, &TUpdatefrm::btnCancelClick);
    disconnect(CloseButton(), &QAbstractButton::clicked, this, &QDialog::reject);
    connect(CloseButton(), &QAbstractButton::clicked, this, &TUpdatefrm::btnCloseClick);

    receiver_ = new TDownloadReceiver(this);
    connect(receiver_, &TDownloadReceiver::DownloadBegin, this, &TUpdatefrm::WMDownloadBegin);
    connect(receiver_, &TDownloadReceiver::DownloadProgress, this, &TUpdatefrm::WMDownloadProgress);
    connect(receiver_, &TDownloadReceiver::DownloadFileDone, this, &TUpdatefrm::WMDownloadFileDone);
    connect(receiver_, &TDownloadReceiver::DownloadDone, this, &TUpdatefrm::WMDownloadDone);

    controls::LoadFrameSkin(this);
    controls::LoadCloseButtonSkin(this);
    btnCancel->SetPictures(controls::LoadSkinPicture(QStringLiteral("btn_up.bmp")),
                           controls::LoadSkinPicture(QStringLiteral("btn_Hot.bmp")),
                           controls::LoadSkinPicture(QStringLiteral("btn_down.bmp")));
    btnCancel->SetFocusRect(false);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TUpdatefrm::~TUpdatefrm() { endWorker(); }

void TUpdatefrm::showEvent(QShowEvent* event) {
    SkinnedWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TUpdatefrm::FormShow() {
    if (AlreadyInformed || worker_) return;
    url_ = UpdateAddress(kInstallerPath);
    worker_ = StartUpdateDownload(receiver_);
}

void TUpdatefrm::ShowNews(const QString& version, const QString& installerAddress, const QString& notes) {
    mmonew->clear();
    mmonew->setPlainText(notes);
    mmonew->verticalScrollBar()->setValue(0);
    mmonew->show();
    lbVersion->setText(version);
    url_ = installerAddress;
    lblUpdateinfo->hide();
    lblURL->show();
    lbNewinfo->show();
    lbVersion->show();
    progress->hide();
}

void TUpdatefrm::WMDownloadBegin() {
    progress->setRange(0, kParts);
    progress->setValue(0);
}

void TUpdatefrm::WMDownloadProgress(qint64 received, qint64 expected) {
    // Files are small (at most kMaxUpdateFileBytes), so the byte counts fit the bar's range.
    progress->setRange(0, int(std::min<qint64>(expected, kMaxUpdateFileBytes)));
    progress->setValue(int(std::min<qint64>(received, progress->maximum())));
}

void TUpdatefrm::WMDownloadFileDone(const QString&) { progress->setValue(progress->maximum()); }

void TUpdatefrm::WMDownloadDone(bool succeeded) {
    progress->setValue(progress->maximum());
    if (!succeeded) {
        lblUpdateinfo->setText(kFailed);
        return;
    }
    QString version;
    switch (ReadUpdateVerdict(version)) {
        case UpdateVerdict::NoVersion: return;
        case UpdateVerdict::Unreadable: lblUpdateinfo->setText(kFailed); return;
        case UpdateVerdict::Latest: lblUpdateinfo->setText(kLatest); return;
        case UpdateVerdict::Newer: ShowNews(version, url_, ReadWhatsNew()); return;
    }
}

void TUpdatefrm::lblURLClick() {
    if (!url_.isEmpty()) OpenUrl(QUrl(url_));
}

void TUpdatefrm::endWorker() {
    if (worker_ && worker_->isRunning() && !worker_->Terminated()) worker_->Terminate();
}

void TUpdatefrm::btnCancelClick() {
    endWorker();
    reject();
}

void TUpdatefrm::btnCloseClick() {
    endWorker();
    reject();
}

// ---- automatic check ----

std::function<void(TUpdatefrm&)> TUpdateCheck::ShowUpdateWindow = [](TUpdatefrm& window) { window.exec(); };

TUpdateCheck::TUpdateCheck(QWidget* mainWindow) : QObject(mainWindow), mainWindow_(mainWindow) {
    receiver_ = new TDownloadReceiver(this);
    connect(receiver_, &TDownloadReceiver::DownloadDone, this, &TUpdateCheck::downloadDone);
}

TUpdateCheck::~TUpdateCheck() { Terminate(); }

bool TUpdateCheck::Running() const { return worker_ && worker_->isRunning() && !worker_->Terminated(); }

void TUpdateCheck::StartUpdateCheck() {
    if (!IsCheckUpdate || Running()) return;
    worker_ = StartUpdateDownload(receiver_);
}

void TUpdateCheck::Terminate() {
    if (Running()) worker_->Terminate();
}

void TUpdateCheck::downloadDone(bool succeeded) {
    QString version;
    // Everything but news is silent here: the user did not ask.
    if (succeeded && ReadUpdateVerdict(version) == UpdateVerdict::Newer) {
        TUpdatefrm window(mainWindow_);
        window.AlreadyInformed = true;
        window.ShowNews(version, UpdateAddress(kInstallerPath), ReadWhatsNew());
        if (ShowUpdateWindow) ShowUpdateWindow(window);
    }
    emit Finished();
}

// ---- manual check ----

std::function<void(TUpdatefrm&)> ShowManualUpdateWindow = [](TUpdatefrm& window) { window.exec(); };

void CheckForUpdate(QWidget* parent) {
    TUpdatefrm window(parent);
    if (ShowManualUpdateWindow) ShowManualUpdateWindow(window);
}

}  // namespace qm::app
