// The borderless skinned frame shared by the secondary windows: a title bar of three pictures
// with logo, title and close button, two side borders and a bottom edge, all loaded from
// skin/Form/ beside the program by component name.
#pragma once

#include <QAbstractButton>
#include <QDialog>
#include <QPixmap>
#include <QRegion>
#include <QWidget>

#include <stdexcept>

class QLabel;

namespace qm::controls {

// A skin picture is missing or unreadable, or a window lacks a component to skin.
class SkinError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The folder of the frame pictures: "skin/Form/" beside the program unless set otherwise.
QString SkinFormFolder();
void SetSkinFormFolder(const QString& folder);

// Reads a picture of the skin folder, taking its "@2x" copy on a scaled screen when there is
// one. Throws SkinError naming the file when it is absent or unreadable.
QPixmap LoadSkinPicture(const QString& fileName);

// A picture stretched over its whole rectangle.
class SkinPicture : public QWidget {
    Q_OBJECT
public:
    explicit SkinPicture(QWidget* parent = nullptr) : QWidget(parent) {}
    const QPixmap& Picture() const { return picture_; }
    void SetPicture(const QPixmap& picture);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPixmap picture_;
};

// A button drawn from up, hot and down pictures, its caption on top.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SkinButton(QWidget* parent = nullptr);
    void SetPictures(const QPixmap& up, const QPixmap& hot, const QPixmap& down);
    const QPixmap& Up() const { return up_; }
    const QPixmap& Hot() const { return hot_; }
    const QPixmap& Down() const { return down_; }
    void SetFocusRect(bool shown) { focusRect_ = shown; update(); }
    bool FocusRect() const { return focusRect_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QPixmap up_, hot_, down_;
    bool hovered_ = false;
    bool focusRect_ = true;
};

// The loaders, given the window. They throw SkinError for a missing picture or component.
bool LoadFrameSkin(QWidget* window);
bool LoadDialogButtonSkin(QWidget* window);
int LoadCloseButtonSkin(QWidget* window);

// The window's shape for a client area of `width` x `height`: a rectangle one pixel wider and
// ten pixels taller, with 5-pixel corner ellipses, so only the top corners are round.
QRegion SkinnedWindowRegion(int width, int height);

// A child of a window that a user may drag the window by.
void MakeDragHandle(QWidget* handle);

class SkinnedWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTitleHeight = 26;
    static constexpr int kBorderWidth = 2;
    static constexpr int kBottomHeight = 7;

    explicit SkinnedWindow(QWidget* parent = nullptr);

    // Where the window's own controls go, inside the frame.
    QWidget* ClientArea() const { return client_; }
    QWidget* TitlePanel() const { return titlePanel_; }
    QLabel* TitleLabel() const { return title_; }
    SkinButton* CloseButton() const { return close_; }
    SkinButton* MinimiseButton() const { return minimise_; }
    // Adds a minimise button left of the close button.
    void AddMinimiseButton();
    // Adds the `btnOK` and `btnCancel` buttons at the bottom right of the client area, OK
    // accepting and Cancel rejecting the dialog.
    void AddDialogButtons(const QString& ok = QStringLiteral("OK"),
                          const QString& cancel = QStringLiteral("Cancel"));
    SkinButton* OkButton() const { return ok_; }
    SkinButton* CancelButton() const { return cancel_; }

    // Calls the three loaders that the window's components call for.
    void LoadSkin();

protected:
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void changeEvent(QEvent*) override;

private:
    void placeFrame();
    void placeDialogButtons();

    QWidget* titlePanel_;
    SkinPicture *headLeft_, *headCenter_, *headRight_;
    SkinPicture *centerLeft_, *centerRight_, *bottomLeft_, *bottomCenter_, *bottomRight_;
    SkinPicture* logo_;
    QLabel* title_;
    SkinButton* close_;
    SkinButton* minimise_ = nullptr;
    SkinButton* ok_ = nullptr;
    SkinButton* cancel_ = nullptr;
    QWidget* client_;
};

}  // namespace qm::controls
