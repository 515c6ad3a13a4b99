// Helpers of the crop window tests: mouse drags sent straight to a widget, typing into number
// boxes, rectangles in failure messages.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QSpinBox>
#include <QTest>
#include <QWidget>

#include <ostream>

#include "app/core/app_core.h"

namespace qm::app {
inline std::ostream& operator<<(std::ostream& os, const TRect& r) {
    return os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace qm::app

namespace qm::crop::test {

inline void SendMouse(QWidget* w, QEvent::Type type, const QPoint& global, Qt::KeyboardModifiers mods = {}) {
    const QPointF local = w->mapFromGlobal(QPointF(global));
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, local, QPointF(global), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

// Presses at `at` (the widget's pixels), moves by `by` in two steps, releases.
inline void Drag(QWidget* w, const QPoint& at, const QPoint& by) {
    const QPoint g0 = w->mapToGlobal(at);
    SendMouse(w, QEvent::MouseButtonPress, g0);
    SendMouse(w, QEvent::MouseMove, g0 + by / 2);
    SendMouse(w, QEvent::MouseMove, g0 + by);
    SendMouse(w, QEvent::MouseButtonRelease, g0 + by);
}

// Types the number over the box's text, key by key, as a user does.
inline void Type(QSpinBox* box, int value) {
    box->selectAll();
    QTest::keyClicks(box, QString::number(value));
}

}  // namespace qm::crop::test
