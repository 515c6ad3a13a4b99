#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <limits>

#include "controls/sv_trackbar.h"

using namespace qm::controls;

namespace {

QPixmap solid(int w, int h, QColor colour) {
    QPixmap p(w, h);
    p.fill(colour);
    return p;
}

void mouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
    const QPointF local(x, y);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void click(QWidget* w, int x, int y) {
    mouse(w, QEvent::MouseButtonPress, x, y);
    mouse(w, QEvent::MouseButtonRelease, x, y);
}

void key(QWidget* w, int k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
}

QRgb pixel(QWidget* w, int x, int y) { return w->grab().toImage().pixel(x, y); }

struct Spies {
    explicit Spies(TSVTrackbar* t)
        : change(t, &TSVTrackbar::OnChange), tick(t, &TSVTrackbar::OnTickChange),
          start(t, &TSVTrackbar::OnStartChange), end(t, &TSVTrackbar::OnEndChange) {}
    int total() const { return change.count() + tick.count() + start.count() + end.count(); }
    QSignalSpy change, tick, start, end;
};

}  // namespace

TEST(TrackbarTest, StartsWithItsDefaults) {
    TSVTrackbar t;
    EXPECT_EQ(t.size(), QSize(280, 33));
    EXPECT_EQ(t.Min(), 0);
    EXPECT_EQ(t.Max(), 100);
    EXPECT_EQ(t.Position(), 0);
    EXPECT_EQ(t.StartPos(), 0);
    EXPECT_EQ(t.EndPos(), 100);
    EXPECT_EQ(t.TrackLeft(), 2);
    EXPECT_EQ(t.TrackOffset(), 10);
    EXPECT_EQ(t.TickOffset(), 5);
    EXPECT_EQ(t.SegmentOffset(), 15);
    EXPECT_TRUE(t.ShowTick());
    EXPECT_FALSE(t.ShowSegment() || t.ShowLine() || t.TransParent() || t.ShowDisabledTrack());
    EXPECT_EQ(t.LineColor(), QColor(Qt::blue));
    EXPECT_EQ(t.ShowMoveTrack(), msNone);
    // Built-in pictures: a 12-pixel tick and a track from 2 to 278.
    EXPECT_FALSE(t.Tickimg()->Up().isNull());
    EXPECT_TRUE(t.SegmentStart()->Disabled().isNull());
    EXPECT_TRUE(t.MoveTrackImg()->Center().isNull());
    EXPECT_EQ(t.TickRect().width(), 12);
    EXPECT_EQ(t.TrackRect().x(), 2);
    EXPECT_EQ(t.TrackRect().x() + t.TrackRect().width(), 278);
}

TEST(TrackbarTest, ValuesMapToPixelsAcrossTheTrack) {
    struct Case {
        qint64 min, max, position;
        int pixel;
    };
    const qint64 lo = std::numeric_limits<qint64>::min(), hi = std::numeric_limits<qint64>::max();
    const Case cases[] = {
        {0, 100, 50, 140}, {0, 100, 0, 8}, {0, 100, 100, 272}, {-50, 50, 0, 140},
        {0, 100, 150, 272},  // clamped to Max
        {lo, hi, 0, 140},    {lo, hi, hi, 272}, {lo, hi, lo, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.min << ".." << c.max << " at " << c.position);
        TSVTrackbar t;
        t.SetMax(c.max);
        t.SetMin(c.min);
        t.SetPosition(c.position);
        EXPECT_EQ(t.TickPixel(), c.pixel);
        // Where a pixel stands for less than one value, the way back is exact.
        if (c.min >= -1000 && c.max <= 1000) EXPECT_EQ(t.PixelToValue(t.TickPixel()), t.Position());
        // The ends map back to the ends over any range.
        EXPECT_EQ(t.PixelToValue(t.ValueToPixel(t.Max())), t.Max());
        EXPECT_EQ(t.PixelToValue(t.ValueToPixel(t.Min())), t.Min());
    }
    // The tick keeps its value when the control grows: 2 + 6 + 0.5 * 364.
    TSVTrackbar t;
    t.SetPosition(50);
    t.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
    t.resize(380, 33);
    EXPECT_EQ(t.TickPixel(), 190);
    EXPECT_EQ(t.Position(), 50);
    // So does a control sized while hidden, before it was ever shown.
    TSVTrackbar hidden;
    hidden.resize(380, 33);
    hidden.SetPosition(50);
    EXPECT_EQ(hidden.TickPixel(), 190);
}

TEST(TrackbarTest, OddTicksAndNarrowTracksStayWithinTheRange) {
    TSVTrackbar t;
    t.Tickimg()->SetUp(solid(13, 16, Qt::blue));
    t.SetMax(1000);
    // With an odd tick the last half-tick pixel is one past the even case: still Max, not beyond.
    for (int x = 266; x <= 280; ++x) EXPECT_LE(t.PixelToValue(x), 1000) << x;
    EXPECT_EQ(t.PixelToValue(272), 1000);
    // A control narrower than its tick leaves no room to slide: only the ends remain.
    t.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&t));
    t.resize(14, 33);
    QCoreApplication::processEvents();
    for (int x : {0, 5, 7, 8, 12, 20}) {
        const qint64 v = t.PixelToValue(x);
        EXPECT_TRUE(v == 0 || v == 1000) << x << " gave " << v;
    }
    t.SetPosition(500);
    click(&t, 10, 13);
    EXPECT_GE(t.Position(), 0);
    EXPECT_LE(t.Position(), 1000);
}

TEST(TrackbarTest, ClicksOnTheTrackJumpTheTickAndReportOnce) {
    TSVTrackbar t;
    t.SetPosition(50);
    Spies spies(&t);
    QSignalSpy down(&t, &TSVTrackbar::OnTrackMouseDown), up(&t, &TSVTrackbar::OnTrackMouseUp);
    struct Case {
        int x;
        qint64 value;
    };
    // Beyond the last half-tick gives Max, before the first gives Min.
    for (const Case& c : {Case{276, 100}, Case{273, 100}, Case{140, 50}, Case{5, 0}, Case{7, 0}, Case{74, 25}}) {
        SCOPED_TRACE(c.x);
        // Move the tick out of the way so the click lands on the track.
        t.SetPosition(c.x < 140 ? 100 : 0);
        const int before = spies.tick.count();
        click(&t, c.x, 13);
        EXPECT_EQ(t.Position(), c.value);
        EXPECT_EQ(spies.tick.count(), before + 1);
    }
    EXPECT_EQ(spies.change.count(), 0);
    EXPECT_EQ(down.count(), 6);
    EXPECT_EQ(up.count(), 6);
    // Another button moves nothing.
    t.SetPosition(100);
    mouse(&t, QEvent::MouseButtonPress, 40, 13, Qt::RightButton);
    mouse(&t, QEvent::MouseButtonRelease, 40, 13, Qt::RightButton);
    EXPECT_EQ(t.Position(), 100);
}

TEST(TrackbarTest, DraggingTheTickReportsEveryMove) {
    TSVTrackbar t;
    t.SetPosition(50);
    Spies spies(&t);
    QSignalSpy tickDown(&t, &TSVTrackbar::OnTickMouseDown), tickMove(&t, &TSVTrackbar::OnTickMouseMove),
        tickUp(&t, &TSVTrackbar::OnTickMouseUP), trackDown(&t, &TSVTrackbar::OnTrackMouseDown);
    mouse(&t, QEvent::MouseButtonPress, 140, 13);
    EXPECT_EQ(tickDown.count(), 1);
    EXPECT_EQ(trackDown.count(), 0);  // the tick is hit before the track
    EXPECT_EQ(t.TickState(), TSVTrackbar::kDown);
    mouse(&t, QEvent::MouseMove, 206, 13);
    EXPECT_EQ(t.Position(), 75);
    mouse(&t, QEvent::MouseMove, 500, 13);  // beyond the control: held at the end
    EXPECT_EQ(t.Position(), 100);
    EXPECT_EQ(t.TickPixel(), 278);
    EXPECT_EQ(t.TickRect().x(), 266);  // drawn inside the track
    mouse(&t, QEvent::MouseButtonRelease, 500, 13);
    EXPECT_EQ(tickMove.count(), 2);
    EXPECT_EQ(spies.tick.count(), 2);
    EXPECT_EQ(spies.change.count(), 2);
    EXPECT_EQ(tickUp.count(), 1);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kUp);
    // Moving without a button only changes how things look.
    mouse(&t, QEvent::MouseMove, 272, 13);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kHot);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&t, &leave);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kUp);
    EXPECT_EQ(spies.total(), 4);
}

TEST(TrackbarTest, SettersClampAndFireNothing) {
    TSVTrackbar t;
    Spies spies(&t);
    t.SetMax(0);  // not above Min
    EXPECT_EQ(t.Max(), 1);
    t.SetMax(100);
    t.SetPosition(80);
    t.SetMax(60);  // below Position: the tick follows
    EXPECT_EQ(t.Position(), 60);
    EXPECT_EQ(t.TickPixel(), 272);
    t.SetMin(60);  // not below Max
    EXPECT_EQ(t.Min(), 59);
    t.SetMin(0);
    t.SetPosition(10);
    t.SetMin(20);
    EXPECT_EQ(t.Position(), 20);
    t.SetPosition(-5);
    EXPECT_EQ(t.Position(), 20);
    t.SetMax(std::numeric_limits<qint64>::max());
    t.SetMin(std::numeric_limits<qint64>::max());
    EXPECT_EQ(t.Min(), std::numeric_limits<qint64>::max() - 1);
    t.SetMin(0);
    t.SetMax(100);

    t.SetShowSegment(true);
    EXPECT_EQ(t.StartPos(), 0);
    EXPECT_EQ(t.EndPos(), 100);
    t.SetEndPos(40);
    t.SetStartPos(70);  // not below EndPos
    EXPECT_EQ(t.StartPos(), 40);
    t.SetStartPos(-3);
    EXPECT_EQ(t.StartPos(), 0);
    t.SetEndPos(500);
    EXPECT_EQ(t.EndPos(), 100);
    t.SetStartPos(30);
    t.SetEndPos(10);  // not above StartPos
    EXPECT_EQ(t.EndPos(), 30);
    EXPECT_EQ(spies.total(), 0);
}

TEST(TrackbarTest, SegmentMarkersDragWithinTheirNeighbours) {
    TSVTrackbar t;
    t.SetShowSegment(true);
    // Markers wider than half a tick take the ends; the track lies between them.
    const int markerWidth = t.SegmentStart()->Up().deviceIndependentSize().toSize().width();
    ASSERT_GT(markerWidth, 6);
    EXPECT_EQ(t.StartRect().x(), 0);
    EXPECT_EQ(t.TrackRect().x(), markerWidth);
    EXPECT_EQ(t.EndRect().x() + t.EndRect().width(), 280);
    t.SetShowTick(true);
    t.SetPosition(50);
    Spies spies(&t);
    QSignalSpy endUp(&t, &TSVTrackbar::onEndMouseUp);
    const QPoint endMarker = t.EndRect().center();
    mouse(&t, QEvent::MouseButtonPress, endMarker.x(), endMarker.y());
    EXPECT_EQ(t.EndState(), TSVTrackbar::kDown);
    mouse(&t, QEvent::MouseMove, 0, endMarker.y());  // left of the start marker: stops at it
    mouse(&t, QEvent::MouseButtonRelease, 0, endMarker.y());
    EXPECT_EQ(t.EndPixel(), t.StartPixel());
    EXPECT_EQ(t.EndPos(), t.StartPos());
    EXPECT_EQ(spies.end.count(), 1);
    EXPECT_EQ(endUp.count(), 1);
    EXPECT_EQ(t.Position(), 50);
    EXPECT_EQ(spies.tick.count() + spies.change.count() + spies.start.count(), 0);
}

TEST(TrackbarTest, KeysMoveTheTickLikeASlider) {
    struct Case {
        int key;
        qint64 from, to;
    };
    const Case cases[] = {
        {Qt::Key_Right, 50, 51}, {Qt::Key_Up, 50, 51},       {Qt::Key_Left, 50, 49},
        {Qt::Key_Down, 50, 49},  {Qt::Key_PageUp, 50, 60},   {Qt::Key_PageDown, 50, 40},
        {Qt::Key_Home, 50, 0},   {Qt::Key_End, 50, 100},     {Qt::Key_PageUp, 95, 100},
        {Qt::Key_Right, 100, 100}, {Qt::Key_PageDown, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " from " << c.from);
        TSVTrackbar t;
        t.SetPosition(c.from);
        Spies spies(&t);
        key(&t, c.key);
        EXPECT_EQ(t.Position(), c.to);
        // Only a real move is reported.
        EXPECT_EQ(spies.tick.count(), c.from == c.to ? 0 : 1);
        EXPECT_EQ(spies.change.count(), c.from == c.to ? 0 : 1);
    }
}

TEST(TrackbarTest, DisabledControlDrawsItsDisabledPicturesAndIgnoresTheMouse) {
    TSVTrackbar t;
    t.SetBGColor(Qt::yellow);
    t.Trackimg()->SetLeft(solid(4, 6, Qt::red));
    t.Trackimg()->SetCenter(solid(8, 6, Qt::red));
    t.Trackimg()->SetRight(solid(4, 6, Qt::red));
    t.TrackDisableImg()->SetLeft(solid(4, 6, Qt::green));
    t.TrackDisableImg()->SetCenter(solid(8, 6, Qt::green));
    t.TrackDisableImg()->SetRight(solid(4, 6, Qt::green));
    t.Tickimg()->SetUp(solid(12, 16, Qt::blue));
    t.Tickimg()->SetDisabled(solid(12, 16, Qt::magenta));
    t.Tickimg()->SetHot(QPixmap());
    t.SetShowDisabledTrack(true);

    const int trackX = 200, trackY = 12, tickX = 8, tickY = 19;
    EXPECT_EQ(pixel(&t, trackX, trackY), QColor(Qt::red).rgb());
    EXPECT_EQ(pixel(&t, tickX, tickY), QColor(Qt::blue).rgb());
    EXPECT_EQ(pixel(&t, 100, 28), QColor(Qt::yellow).rgb());

    t.setEnabled(false);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kDisabled);
    EXPECT_EQ(pixel(&t, trackX, trackY), QColor(Qt::green).rgb());
    EXPECT_EQ(pixel(&t, tickX, tickY), QColor(Qt::magenta).rgb());
    Spies spies(&t);
    click(&t, 200, 13);
    key(&t, Qt::Key_End);
    EXPECT_EQ(t.Position(), 0);
    EXPECT_EQ(spies.total(), 0);

    // Without ShowDisabledTrack the normal track stays.
    t.SetShowDisabledTrack(false);
    EXPECT_EQ(pixel(&t, trackX, trackY), QColor(Qt::red).rgb());

    // A state without a picture draws nothing: the hot tick leaves the background showing.
    t.setEnabled(true);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kUp);
    mouse(&t, QEvent::MouseMove, tickX, tickY);
    EXPECT_EQ(t.TickState(), TSVTrackbar::kHot);
    EXPECT_EQ(pixel(&t, tickX, tickY), QColor(Qt::yellow).rgb());
}

TEST(TrackbarTest, TransparentControlShowsItsParent) {
    QWidget parent;
    parent.resize(300, 60);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    auto* t = new TSVTrackbar(&parent);
    t->move(10, 10);
    t->SetBGColor(Qt::yellow);
    EXPECT_EQ(pixel(t, 100, 28), QColor(Qt::yellow).rgb());
    t->SetTransParent(true);
    EXPECT_EQ(pixel(t, 100, 28), QColor(10, 200, 30).rgb());
}
