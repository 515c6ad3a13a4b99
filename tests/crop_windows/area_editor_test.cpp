// The area editor as a widget: mouse drags through its handles, the cursor it shows, what it
// paints over the picture under it, and moving it with the arrow keys.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "crop/windows/area_editor.h"
#include "crop_test_support.h"

namespace qm::crop {
namespace {

using app::TRect;
using test::Drag;

class AreaEditorTest : public ::testing::Test {
protected:
    AreaEditorTest() {
        parent.resize(400, 300);
        parent.setAutoFillBackground(true);
        QPalette grey = parent.palette();
        grey.setColor(QPalette::Window, QColor(128, 128, 128));
        parent.setPalette(grey);
        editor = new TAreaEditor(&parent);
        editor->SetArea(TRect{20, 10, 380, 290});
        editor->SetBorderFrameSize(3);
        editor->SetBounds(TRect{100, 100, 200, 200});
        parent.show();
    }

    QWidget parent;
    TAreaEditor* editor;
};

TEST_F(AreaEditorTest, MouseDragsFollowTheGrabbedHandleAndStop) {
    struct Case {
        QPoint at, by;
        TRect expected;
    } cases[] = {
        {{0, 50}, {-500, 40}, {20, 100, 200, 200}},   // left edge: at the area, height unchanged
        {{0, 50}, {500, 0}, {182, 100, 200, 200}},    // left edge: stops 6s = 18 before the right
        {{99, 99}, {-500, -500}, {100, 100, 118, 118}},
        {{50, 0}, {0, -30}, {100, 70, 200, 200}},
        {{50, 50}, {-25, 12}, {75, 112, 175, 212}},   // the body moves
        {{50, 50}, {999, 999}, {280, 190, 380, 290}},
    };
    for (const Case& c : cases) {
        editor->SetBounds(TRect{100, 100, 200, 200});
        Drag(editor, c.at, c.by);
        EXPECT_EQ(editor->Bounds(), c.expected) << "at " << c.at.x() << "," << c.at.y();
        EXPECT_FALSE(editor->Dragging());
    }
}

TEST_F(AreaEditorTest, GrabbedHandleStaysForTheWholeDragAndOwnerSeesNewBounds) {
    std::vector<TRect> seen;
    QObject::connect(editor, &TAreaEditor::OnMouseMove, [&] { seen.push_back(editor->Bounds()); });
    const QPoint g0 = editor->mapToGlobal(QPoint(99, 50));
    test::SendMouse(editor, QEvent::MouseButtonPress, g0);
    EXPECT_EQ(editor->GrabbedHandle(), ahRight);
    // The cursor leaves the handle far behind; the right edge keeps following it.
    test::SendMouse(editor, QEvent::MouseMove, g0 + QPoint(60, -40));
    test::SendMouse(editor, QEvent::MouseMove, g0 + QPoint(-40, 80));
    EXPECT_EQ(editor->GrabbedHandle(), ahRight);
    test::SendMouse(editor, QEvent::MouseButtonRelease, g0 + QPoint(-40, 80));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], (TRect{100, 100, 260, 200}));
    EXPECT_EQ(seen[1], (TRect{100, 100, 160, 200}));
    // Without the button, moving over it changes nothing.
    test::SendMouse(editor, QEvent::MouseMove, editor->mapToGlobal(QPoint(5, 5)) + QPoint(30, 30));
    EXPECT_EQ(editor->Bounds(), (TRect{100, 100, 160, 200}));
}

TEST_F(AreaEditorTest, CursorNamesWhatThePointGrabs) {
    struct Case {
        QPoint at;
        Qt::CursorShape shape;
    } cases[] = {
        {{2, 50}, Qt::SizeHorCursor},   {{97, 50}, Qt::SizeHorCursor}, {{50, 2}, Qt::SizeVerCursor},
        {{50, 97}, Qt::SizeVerCursor},  {{50, 50}, Qt::SizeAllCursor}, {{1, 1}, Qt::SizeFDiagCursor},
        {{98, 98}, Qt::SizeFDiagCursor}, {{98, 1}, Qt::SizeBDiagCursor}, {{1, 98}, Qt::SizeBDiagCursor},
    };
    for (const Case& c : cases) {
        test::SendMouse(editor, QEvent::MouseMove, editor->mapToGlobal(c.at));
        EXPECT_EQ(editor->cursor().shape(), c.shape) << c.at.x() << "," << c.at.y();
    }
    editor->SetShowHandles(false);
    test::SendMouse(editor, QEvent::MouseMove, editor->mapToGlobal(QPoint(2, 50)));
    EXPECT_EQ(editor->cursor().shape(), Qt::SizeAllCursor);
}

TEST_F(AreaEditorTest, PaintsFrameAndHandlesOverThePictureUnderIt) {
    auto at = [&](int x, int y) { return parent.grab().toImage().pixel(100 + x, 100 + y); };
    const QRgb grey = qRgb(128, 128, 128);
    // The inside shows the picture under the editor.
    EXPECT_EQ(at(50, 30), grey);
    // The top-left handle: white outline, black inside; the same in the middle of the left edge.
    EXPECT_EQ(at(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(at(2, 2), qRgb(0, 0, 0));
    EXPECT_EQ(at(2, 50), qRgb(0, 0, 0));
    EXPECT_EQ(at(97, 97), qRgb(0, 0, 0));
    // The frame along the edges, away from the handles, is drawn (dots or the gaps between).
    EXPECT_NE(at(25, 0), grey);
    EXPECT_NE(at(99, 25), grey);
    EXPECT_EQ(at(25, 1), grey);

    editor->SetShowHandles(false);
    EXPECT_EQ(at(2, 2), grey);
    EXPECT_EQ(at(2, 50), grey);
    EXPECT_NE(at(25, 0), grey);
    // Without handles the edges do not resize; the body still moves.
    Drag(editor, {0, 50}, {-30, 0});
    EXPECT_EQ(editor->Bounds(), (TRect{100, 100, 200, 200}));
    Drag(editor, {50, 50}, {-30, 0});
    EXPECT_EQ(editor->Bounds(), (TRect{70, 100, 170, 200}));
}

TEST_F(AreaEditorTest, ArrowKeysMoveByOneOrTenWithinAreaAndLimit) {
    int moves = 0;
    QObject::connect(editor, &TAreaEditor::OnKeyMove, [&] { ++moves; });
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        TRect expected;
    } cases[] = {
        {Qt::Key_Right, Qt::NoModifier, {101, 100, 201, 200}},
        {Qt::Key_Down, Qt::ShiftModifier, {101, 110, 201, 210}},
        {Qt::Key_Left, Qt::ShiftModifier, {91, 110, 191, 210}},
        {Qt::Key_Up, Qt::NoModifier, {91, 109, 191, 209}},
    };
    for (const Case& c : cases) {
        QTest::keyClick(editor, Qt::Key(c.key), c.mods);
        EXPECT_EQ(editor->Bounds(), c.expected);
    }
    EXPECT_EQ(moves, 4);
    // Against the area's edge nothing moves and nothing is reported.
    editor->SetBounds(TRect{20, 10, 120, 110});
    QTest::keyClick(editor, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(editor->Bounds(), (TRect{20, 10, 120, 110}));
    EXPECT_EQ(moves, 4);
    // The limit holds too.
    editor->SetLimitRect(TRect{22, 50, 30, 60});
    editor->SetLimitEnabled(true);
    QTest::keyClick(editor, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(editor->Bounds(), (TRect{22, 10, 122, 110}));
}

}  // namespace
}  // namespace qm::crop
