#include "controls/skinned_window.h"

#include "app/ui/app_ui.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QWindow>

#include <cmath>

namespace qm::controls {

namespace {

QString& skinFolderOverride() {
    static QString folder;
    return folder;
}

QWidget* component(QWidget* window, const QString& name) {
    if (!window) throw SkinError("No window to skin.");
    if (window->objectName().compare(name, Qt::CaseInsensitive) == 0) return window;
    for (QWidget* child : window->findChildren<QWidget*>())
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) return child;
    throw SkinError(QStringLiteral("The window \"%1\" has no component \"%2\" to skin.")
                        .arg(window->objectName(), name)
                        .toStdString());
}

template <class T>
T* componentOf(QWidget* window, const QString& name) {
    QWidget* found = component(window, name);
    T* typed = qobject_cast<T*>(found);
    if (!typed)
        throw SkinError(QStringLiteral("The component \"%1\" cannot take a skin picture.").arg(name).toStdString());
    return typed;
}

void loadButton(QWidget* window, const QString& name, const QString& up, const QString& hot,
                const QString& down) {
    componentOf<SkinButton>(window, name)
        ->SetPictures(LoadSkinPicture(up), LoadSkinPicture(hot), LoadSkinPicture(down));
}

int logicalWidth(const QPixmap& p, int fallback) {
    return p.isNull() ? fallback : int(std::lround(p.deviceIndependentSize().width()));
}

// Drags the window by the handle: the window system moves it where it can; elsewhere (an X
// server without a window manager, the offscreen platform) the window follows the mouse.
class DragFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* handle = static_cast<QWidget*>(watched);
        QWidget* window = handle->window();
        switch (event->type()) {
            case QEvent::MouseButtonPress: {
                auto* e = static_cast<QMouseEvent*>(event);
                if (e->button() != Qt::LeftButton) return false;
                if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
                    return true;
                QWindow* handleWindow = window->windowHandle();
                if (handleWindow && handleWindow->startSystemMove()) return true;
                dragging_ = true;
                pressAt_ = e->globalPosition().toPoint();
                windowAt_ = window->pos();
                return true;
            }
            case QEvent::MouseMove: {
                auto* e = static_cast<QMouseEvent*>(event);
                if (!dragging_ || !(e->buttons() & Qt::LeftButton)) return false;
                if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
                    return true;
                window->move(windowAt_ + e->globalPosition().toPoint() - pressAt_);
                return true;
            }
            case QEvent::MouseButtonRelease:
                dragging_ = false;
                return false;
            default: return false;
        }
    }

private:
    bool dragging_ = false;
    QPoint pressAt_, windowAt_;
};

}  // namespace

QString SkinFormFolder() {
    if (!skinFolderOverride().isEmpty()) return skinFolderOverride();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("skin/Form/"));
}

void SetSkinFormFolder(const QString& folder) { skinFolderOverride() = folder; }

QPixmap LoadSkinPicture(const QString& fileName) {
    const QString path = QDir(SkinFormFolder()).filePath(fileName);
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    if (ratio > 1) {
        const QFileInfo info(path);
        const QString twice = info.dir().filePath(info.completeBaseName() + "@2x." + info.suffix());
        QPixmap sharp;
        if (QFileInfo::exists(twice) && sharp.load(twice)) {
            sharp.setDevicePixelRatio(2);
            return sharp;
        }
    }
    if (!QFileInfo::exists(path))
        throw SkinError(QStringLiteral("Cannot open file \"%1\". The file does not exist.")
                            .arg(QDir::toNativeSeparators(path))
                            .toStdString());
    QPixmap picture;
    if (!picture.load(path))
        throw SkinError(QStringLiteral("Cannot read the picture \"%1\".").arg(QDir::toNativeSeparators(path)).toStdString());
    return picture;
}

// ---- pictures and buttons ----

void SkinPicture::SetPicture(const QPixmap& picture) {
    picture_ = picture;
    update();
}

void SkinPicture::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(rect(), picture_);
}

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) { setAttribute(Qt::WA_Hover); }

void SkinButton::SetPictures(const QPixmap& up, const QPixmap& hot, const QPixmap& down) {
    up_ = up;
    hot_ = hot;
    down_ = down;
    update();
}

QSize SkinButton::sizeHint() const {
    if (!up_.isNull()) return up_.deviceIndependentSize().toSize();
    return QSize(80, 26);
}

void SkinButton::enterEvent(QEnterEvent* e) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(e);
}

void SkinButton::leaveEvent(QEvent* e) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(e);
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap& face = isDown() && !down_.isNull() ? down_ : (hovered_ && isEnabled() && !hot_.isNull() ? hot_ : up_);
    if (!face.isNull()) {
        // Corners keep their size, the middle stretches: the face reads well at any button size.
        const QSizeF logical = face.deviceIndependentSize();
        const qreal ratio = face.devicePixelRatio();
        const int m = int(std::min({5.0, logical.width() / 2 - 1, logical.height() / 2 - 1}));
        if (size() == logical.toSize() || m <= 0) {
            p.drawPixmap(rect(), face);
        } else {
            const int w = width(), h = height();
            const double fw = logical.width(), fh = logical.height();
            const double xs[4] = {0, double(m), fw - m, fw}, ys[4] = {0, double(m), fh - m, fh};
            const int xd[4] = {0, m, w - m, w}, yd[4] = {0, m, h - m, h};
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    p.drawPixmap(QRect(xd[i], yd[j], xd[i + 1] - xd[i], yd[j + 1] - yd[j]), face,
                                 QRectF(xs[i] * ratio, ys[j] * ratio, (xs[i + 1] - xs[i]) * ratio,
                                        (ys[j + 1] - ys[j]) * ratio));
        }
    }
    if (!text().isEmpty()) {
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        p.drawText(rect().translated(0, isDown() ? 1 : 0), Qt::AlignCenter, text());
    }
    if (focusRect_ && hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

// ---- loaders ----

bool LoadFrameSkin(QWidget* window) {
    const struct {
        const char* file;
        const char* component;
    } parts[] = {
        {"head_Left.jpg", "Head_left"},     {"head_right.jpg", "Head_right"},
        {"head_mid.jpg", "Head_Center"},    {"mid_left.jpg", "Center_left"},
        {"bottom_left.jpg", "Bottom_left"}, {"mid_right.jpg", "center_right"},
        {"bottom_right.jpg", "bottom_right"}, {"bottom_mid.jpg", "bottom_center"},
        {"Logo.ico", "imglogo"},
    };
    for (const auto& part : parts)
        componentOf<SkinPicture>(window, QString::fromLatin1(part.component))
            ->SetPicture(LoadSkinPicture(QString::fromLatin1(part.file)));
    return true;
}

bool LoadDialogButtonSkin(QWidget* window) {
    for (const char* name : {"btnok", "btncancel"}) {
        loadButton(window, QString::fromLatin1(name), "btn_up.bmp", "btn_Hot.bmp", "btn_down.bmp");
        componentOf<SkinButton>(window, QString::fromLatin1(name))->SetFocusRect(false);
    }
    return true;
}

int LoadCloseButtonSkin(QWidget* window) {
    loadButton(window, "btnclose", "close_up.bmp", "close_hot.bmp", "close_down.bmp");
    // A minimise button, where the window has one, matches the close button.
    for (QWidget* child : window->findChildren<QWidget*>())
        if (child->objectName().compare("btnMin", Qt::CaseInsensitive) == 0)
            loadButton(window, "btnMin", "min_up.bmp", "min_hot.bmp", "min_down.bmp");
    return 1;
}

QRegion SkinnedWindowRegion(int width, int height) {
    const int w = width + 1, h = height + 10;
    QRegion region(0, 0, w, h);
    // Rows cut from each corner of a 5-pixel ellipse.
    const int cut[] = {2, 1};
    for (int y = 0; y < 2; ++y) {
        region -= QRegion(0, y, cut[y], 1);
        region -= QRegion(w - cut[y], y, cut[y], 1);
        region -= QRegion(0, h - 1 - y, cut[y], 1);
        region -= QRegion(w - cut[y], h - 1 - y, cut[y], 1);
    }
    return region;
}

void MakeDragHandle(QWidget* handle) {
    if (!handle) return;
    handle->installEventFilter(new DragFilter(handle));
}

// ---- the window ----

SkinnedWindow::SkinnedWindow(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    auto picture = [this](QWidget* parent, const char* name) {
        auto* p = new SkinPicture(parent);
        p->setObjectName(QString::fromLatin1(name));
        return p;
    };
    titlePanel_ = new QWidget(this);
    titlePanel_->setObjectName("pnlTitle");
    headLeft_ = picture(titlePanel_, "Head_left");
    headCenter_ = picture(titlePanel_, "Head_Center");
    headRight_ = picture(titlePanel_, "head_right");
    logo_ = picture(titlePanel_, "imgLogo");
    logo_->resize(16, 16);
    title_ = new QLabel(titlePanel_);
    title_->setObjectName("lblName");
    QFont font = title_->font();
    font.setBold(true);
    title_->setFont(font);
    QPalette titlePalette = title_->palette();
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    title_->setPalette(titlePalette);
    close_ = new SkinButton(titlePanel_);
    close_->setObjectName("btnClose");
    close_->setFocusPolicy(Qt::NoFocus);
    close_->resize(16, 16);
    close_->setToolTip(tr("Close"));
    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    // The logo and the title let the mouse through to the title picture under them.
    logo_->setAttribute(Qt::WA_TransparentForMouseEvents);
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);
    MakeDragHandle(headCenter_);
    MakeDragHandle(headLeft_);
    MakeDragHandle(headRight_);

    centerLeft_ = picture(this, "Center_left");
    centerRight_ = picture(this, "Center_Right");
    bottomLeft_ = picture(this, "Bottom_left");
    bottomCenter_ = picture(this, "bottom_center");
    bottomRight_ = picture(this, "bottom_right");
    client_ = new QWidget(this);
    client_->setObjectName("pnlClient");
    connect(this, &QWidget::windowTitleChanged, title_, [this](const QString& text) {
        title_->setText(text);
        title_->adjustSize();
    });
}

void SkinnedWindow::AddMinimiseButton() {
    if (minimise_) return;
    minimise_ = new SkinButton(titlePanel_);
    minimise_->setObjectName("btnMin");
    minimise_->setFocusPolicy(Qt::NoFocus);
    minimise_->resize(16, 16);
    minimise_->setToolTip(tr("Minimize"));
    connect(minimise_, &QAbstractButton::clicked, this, &QWidget::showMinimized);
    placeFrame();
}

void SkinnedWindow::AddDialogButtons(const QString& ok, const QString& cancel) {
    if (ok_) return;
    ok_ = new SkinButton(client_);
    ok_->setObjectName("btnOK");
    ok_->setText(ok);
    cancel_ = new SkinButton(client_);
    cancel_->setObjectName("btnCancel");
    cancel_->setText(cancel);
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    placeDialogButtons();
}

void SkinnedWindow::LoadSkin() {
    LoadFrameSkin(this);
    if (ok_) LoadDialogButtonSkin(this);
    LoadCloseButtonSkin(this);
    placeFrame();
}

void SkinnedWindow::placeFrame() {
    const int w = width(), h = height();
    titlePanel_->setGeometry(0, 0, w, kTitleHeight);
    const int leftW = logicalWidth(headLeft_->Picture(), 12);
    const int rightW = logicalWidth(headRight_->Picture(), 12);
    headLeft_->setGeometry(0, 0, leftW, kTitleHeight);
    headRight_->setGeometry(w - rightW, 0, rightW, kTitleHeight);
    headCenter_->setGeometry(leftW, 0, std::max(0, w - leftW - rightW), kTitleHeight);
    const int middle = std::max(0, h - kTitleHeight - kBottomHeight);
    centerLeft_->setGeometry(0, kTitleHeight, kBorderWidth, middle);
    centerRight_->setGeometry(w - kBorderWidth, kTitleHeight, kBorderWidth, middle);
    const int cornerL = logicalWidth(bottomLeft_->Picture(), 7);
    const int cornerR = logicalWidth(bottomRight_->Picture(), 7);
    bottomLeft_->setGeometry(0, h - kBottomHeight, cornerL, kBottomHeight);
    bottomRight_->setGeometry(w - cornerR, h - kBottomHeight, cornerR, kBottomHeight);
    bottomCenter_->setGeometry(cornerL, h - kBottomHeight, std::max(0, w - cornerL - cornerR), kBottomHeight);
    client_->setGeometry(kBorderWidth, kTitleHeight, std::max(0, w - 2 * kBorderWidth), middle);
    app::LayoutTitleBar(logo_, title_, close_, titlePanel_);
    if (minimise_) minimise_->move(close_->x() - minimise_->width(), close_->y());
    for (QWidget* over : {static_cast<QWidget*>(logo_), static_cast<QWidget*>(title_),
                          static_cast<QWidget*>(close_), static_cast<QWidget*>(minimise_)})
        if (over) over->raise();
    placeDialogButtons();
}

void SkinnedWindow::placeDialogButtons() {
    if (!ok_) return;
    const QSize size(80, 26);
    const int gap = 8, margin = 10;
    cancel_->setGeometry(client_->width() - margin - size.width(), client_->height() - margin - size.height(),
                         size.width(), size.height());
    ok_->setGeometry(cancel_->x() - gap - size.width(), cancel_->y(), size.width(), size.height());
}

void SkinnedWindow::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    setMask(SkinnedWindowRegion(width(), height()));
    placeFrame();
}

void SkinnedWindow::showEvent(QShowEvent* e) {
    placeFrame();
    QDialog::showEvent(e);
}

void SkinnedWindow::keyPressEvent(QKeyEvent* e) {
    // Escape does what Cancel does, so a window's own cancel handling runs.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && cancel_ && cancel_->isVisible() &&
        cancel_->isEnabled()) {
        cancel_->click();
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void SkinnedWindow::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange)
        // A maximised window keeps no rounded shape that the screen edge would show.
        setMask(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen) ? QRegion(rect())
                                                                             : SkinnedWindowRegion(width(), height()));
    QDialog::changeEvent(e);
}

}  // namespace qm::controls
