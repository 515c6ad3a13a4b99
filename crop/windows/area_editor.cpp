// The area editor's mouse, keyboard and painting; the geometry is crop core's.
#include "crop/windows/area_editor.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace qm::crop {

namespace {

Qt::CursorShape cursorFor(TAreaHandle handle) {
    switch (handle) {
        case ahLeft:
        case ahRight:
            return Qt::SizeHorCursor;
        case ahTop:
        case ahBottom:
            return Qt::SizeVerCursor;
        case ahTopLeft:
        case ahBottomRight:
            return Qt::SizeFDiagCursor;
        case ahTopRight:
        case ahBottomLeft:
            return Qt::SizeBDiagCursor;
        case ahMove:
            break;
    }
    return Qt::SizeAllCursor;
}

}  // namespace

TAreaEditor::TAreaEditor(QWidget* parent) : QWidget(parent) {
    // No background of its own: the picture under it stays visible.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    resize(105, 105);
}

void TAreaEditor::SetBorderFrameSize(int s) {
    frameSize_ = s;
    update();
}

void TAreaEditor::SetShowHandles(bool show) {
    showHandles_ = show;
    update();
}

app::TRect TAreaEditor::Bounds() const {
    const QRect g = geometry();
    return app::TRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void TAreaEditor::SetBounds(const app::TRect& r) {
    setGeometry(r.left, r.top, r.width(), r.height());
}

TAreaRules TAreaEditor::rules() const {
    TAreaRules r;
    r.Area = area_;
    r.Ratio = ratio_;
    r.FrameSize = frameSize_;
    r.ShowHandles = showHandles_;
    r.LimitEnabled = limitEnabled_;
    r.Limit = limit_;
    return r;
}

void TAreaEditor::Resize(TAreaHandle handle) {
    const QPoint d = cursor_ - startCursor_;
    const app::TRect next = DragArea(handle, startBounds_, Bounds(), d.x(), d.y(), rules());
    if (next != Bounds()) SetBounds(next);
}

void TAreaEditor::mousePressEvent(QMouseEvent* e) {
    dragging_ = true;
    startCursor_ = cursor_ = e->globalPosition().toPoint();
    startBounds_ = Bounds();
    const QPoint p = e->position().toPoint();
    grabbed_ = AreaHitTest(p.x(), p.y(), width(), height());
    emit OnMouseDown(e->button(), e->modifiers(), p.x(), p.y());
}

void TAreaEditor::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    // Without handles only moving works, so the cursor says so everywhere.
    setCursor(showHandles_ ? cursorFor(AreaHitTest(p.x(), p.y(), width(), height())) : Qt::SizeAllCursor);
    cursor_ = e->globalPosition().toPoint();
    if (dragging_) Resize(grabbed_);
    emit OnMouseMove(e->modifiers(), p.x(), p.y());
}

void TAreaEditor::mouseReleaseEvent(QMouseEvent* e) {
    dragging_ = false;
    const QPoint p = e->position().toPoint();
    emit OnMouseUp(e->button(), e->modifiers(), p.x(), p.y());
}

void TAreaEditor::keyPressEvent(QKeyEvent* e) {
    const int step = (e->modifiers() & Qt::ShiftModifier) ? 10 : 1;
    int dx = 0, dy = 0;
    switch (e->key()) {
        case Qt::Key_Left: dx = -step; break;
        case Qt::Key_Right: dx = step; break;
        case Qt::Key_Up: dy = -step; break;
        case Qt::Key_Down: dy = step; break;
        default: QWidget::keyPressEvent(e); return;
    }
    if (dragging_) return;  // the mouse has the editor
    const app::TRect now = Bounds();
    const app::TRect next = DragArea(ahMove, now, now, dx, dy, rules());
    if (next != now) {
        SetBounds(next);
        emit OnKeyMove();
    }
}

void TAreaEditor::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width(), h = height();
    // White dots over black gaps, so the frame shows on light and dark pictures alike.
    QPen gaps(Qt::black, 1, Qt::SolidLine);
    gaps.setCosmetic(true);
    QPen dots(Qt::white, 1, Qt::DotLine);
    dots.setCosmetic(true);
    for (const QPen& pen : {gaps, dots}) {
        painter.setPen(pen);
        painter.drawLine(0, 0, w - 1, 0);
        painter.drawLine(w - 1, 0, w - 1, h - 1);
        painter.drawLine(w - 1, h - 1, 0, h - 1);
        painter.drawLine(0, h - 1, 0, 0);
    }
    if (!isEnabled() || !showHandles_) return;
    const int s = frameSize_;
    const QRect squares[] = {
        QRect(0, h / 2 - s, 2 * s, 2 * s),         QRect(w - 2 * s, h / 2 - s, 2 * s, 2 * s),
        QRect(w / 2 - s, 0, 2 * s, 2 * s),         QRect(w / 2 - s, h - 2 * s, 2 * s, 2 * s),
        QRect(0, 0, 2 * s, 2 * s),                 QRect(w - 2 * s, 0, 2 * s, 2 * s),
        QRect(0, h - 2 * s, 2 * s, 2 * s),         QRect(w - 2 * s, h - 2 * s, 2 * s, 2 * s),
    };
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::black);
    for (const QRect& q : squares) painter.drawRect(q.adjusted(0, 0, -1, -1));
}

}  // namespace qm::crop
