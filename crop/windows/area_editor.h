// The area editor: a see-through rectangle over a picture that the user moves and resizes by
// its eight handles, kept inside an allowed area, at least 6s wide and high, optionally at a
// fixed height / width ratio and around a limit rectangle. The arrow keys move it by a pixel,
// by ten with Shift.
#pragma once

#include <QWidget>

#include "crop/crop.h"

namespace qm::crop {

class TAreaEditor : public QWidget {
    Q_OBJECT
public:
    explicit TAreaEditor(QWidget* parent = nullptr);

    // The allowed area, in the parent's coordinates.
    int AreaLeft() const { return area_.left; }
    int AreaRight() const { return area_.right; }
    int AreaTop() const { return area_.top; }
    int AreaBottom() const { return area_.bottom; }
    void SetAreaLeft(int v) { area_.left = v; }
    void SetAreaRight(int v) { area_.right = v; }
    void SetAreaTop(int v) { area_.top = v; }
    void SetAreaBottom(int v) { area_.bottom = v; }
    app::TRect Area() const { return area_; }
    void SetArea(const app::TRect& area) { area_ = area; }

    // Height / width kept while resizing; 0 leaves it free.
    double ChangeWHScale() const { return ratio_; }
    void SetChangeWHScale(double ratio) { ratio_ = ratio; }
    // Handle half-size s: handles are 2s x 2s, the editor at least 6s x 6s.
    int BorderFrameSize() const { return frameSize_; }
    void SetBorderFrameSize(int s);
    // Without handles the editor only moves.
    bool ShowHandles() const { return showHandles_; }
    void SetShowHandles(bool show);

    // While LimitEnabled the editor always contains LimitRect (parent coordinates).
    void SetLimitRect(const app::TRect& r) { limit_ = r; }
    app::TRect LimitRect() const { return limit_; }
    bool LimitEnabled() const { return limitEnabled_; }
    void SetLimitEnabled(bool on) { limitEnabled_ = on; }

    // Bounds in the parent's coordinates, right and bottom exclusive.
    app::TRect Bounds() const;
    void SetBounds(const app::TRect& r);

    bool Dragging() const { return dragging_; }
    TAreaHandle GrabbedHandle() const { return grabbed_; }
    // The drag of the grabbed handle to the cursor's travel since the press.
    void Resize(TAreaHandle handle);

signals:
    // After the editor's own handling, so the owner sees the new bounds.
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // The arrow keys moved the editor.
    void OnKeyMove();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void keyPressEvent(QKeyEvent*) override;

private:
    TAreaRules rules() const;

    app::TRect area_;
    double ratio_ = 0;
    int frameSize_ = 4;
    bool showHandles_ = true;
    app::TRect limit_;
    bool limitEnabled_ = false;
    bool dragging_ = false;
    TAreaHandle grabbed_ = ahMove;
    app::TRect startBounds_;
    QPoint startCursor_, cursor_;
};

}  // namespace qm::crop
