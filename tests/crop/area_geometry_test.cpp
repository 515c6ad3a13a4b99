// The area editor's geometry and the preview mapping: hit testing, the minimum size, the allowed
// area, the ratio, the limit rectangle, and movie/preview rectangles rounded halves to even.
#include <gtest/gtest.h>

#include "crop/crop.h"

namespace qm::app {
// Rectangles in failure messages.
std::ostream& operator<<(std::ostream& os, const TRect& r) {
    return os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace qm::app

using namespace qm::crop;
using qm::app::TRect;

namespace {

TAreaRules Rules(TRect area, int frameSize = 3, double ratio = 0) {
    TAreaRules r;
    r.Area = area;
    r.FrameSize = frameSize;
    r.Ratio = ratio;
    return r;
}

TRect Drag(TAreaHandle h, const TRect& start, int dx, int dy, const TAreaRules& rules) {
    return DragArea(h, start, start, dx, dy, rules);
}

TEST(AreaHitTest, ToleranceOfFivePixelsWhateverTheHandleSize) {
    // A 100 x 60 editor: middles at x 50 and y 30.
    struct Case {
        int x, y;
        TAreaHandle expected;
    } cases[] = {
        {5, 30, ahLeft},        {6, 30, ahMove},       {0, 25, ahLeft},       {5, 35, ahLeft},
        {5, 36, ahMove},        {95, 30, ahRight},     {94, 30, ahMove},      {50, 5, ahTop},
        {50, 6, ahMove},        {45, 0, ahTop},        {56, 0, ahMove},       {50, 55, ahBottom},
        {50, 54, ahMove},       {0, 0, ahTopLeft},     {5, 5, ahTopLeft},     {99, 0, ahTopRight},
        {0, 59, ahBottomLeft},  {99, 59, ahBottomRight}, {95, 55, ahBottomRight}, {50, 30, ahMove},
        {5, 20, ahMove},        {20, 0, ahMove},
    };
    for (const Case& c : cases) EXPECT_EQ(AreaHitTest(c.x, c.y, 100, 60), c.expected) << c.x << "," << c.y;
}

TEST(DragArea, NoHandleMakesTheEditorSmallerThanSixTimesTheFrameSize) {
    const TRect area{0, 0, 400, 300};
    const TRect start{100, 100, 200, 200};
    const TAreaRules rules = Rules(area, 3);
    struct Case {
        TAreaHandle handle;
        int dx, dy;
    } cases[] = {
        {ahLeft, 500, 0},      {ahRight, -500, 0},    {ahTop, 0, 500},        {ahBottom, 0, -500},
        {ahTopLeft, 500, 500}, {ahTopRight, -500, 500}, {ahBottomLeft, 500, -500}, {ahBottomRight, -500, -500},
    };
    for (const Case& c : cases) {
        const TRect r = Drag(c.handle, start, c.dx, c.dy, rules);
        SCOPED_TRACE(int(c.handle));
        EXPECT_GE(r.width(), 18);
        EXPECT_GE(r.height(), 18);
        EXPECT_TRUE(r.width() == 18 || r.height() == 18) << r;
    }
    EXPECT_EQ(Drag(ahLeft, start, 500, 0, rules), (TRect{182, 100, 200, 200}));
    EXPECT_EQ(Drag(ahBottomRight, start, -500, -500, rules), (TRect{100, 100, 118, 118}));
}

TEST(DragArea, EdgesStopAtTheAllowedArea) {
    const TRect area{20, 10, 380, 290};
    const TRect start{100, 100, 200, 200};
    const TAreaRules rules = Rules(area, 3);
    EXPECT_EQ(Drag(ahLeft, start, -500, 0, rules), (TRect{20, 100, 200, 200}));
    EXPECT_EQ(Drag(ahRight, start, 500, 0, rules), (TRect{100, 100, 380, 200}));
    EXPECT_EQ(Drag(ahTop, start, 0, -500, rules), (TRect{100, 10, 200, 200}));
    EXPECT_EQ(Drag(ahBottom, start, 0, 500, rules), (TRect{100, 100, 200, 290}));
    EXPECT_EQ(Drag(ahTopLeft, start, -500, -500, rules), (TRect{20, 10, 200, 200}));
    // Moving keeps the size and stops at each side.
    EXPECT_EQ(Drag(ahMove, start, -500, -500, rules), (TRect{20, 10, 120, 110}));
    EXPECT_EQ(Drag(ahMove, start, 500, 500, rules), (TRect{280, 190, 380, 290}));
    EXPECT_EQ(Drag(ahMove, start, 7, -3, rules), (TRect{107, 97, 207, 197}));
}

TEST(DragArea, RatioIsKeptAndTheOppositeCornerStays) {
    const TRect area{0, 0, 400, 300};
    const TRect start{100, 100, 200, 175};  // 100 x 75, ratio 0.75
    const TAreaRules rules = Rules(area, 3, 0.75);
    // The right edge drags the height along until the bottom meets the area.
    EXPECT_EQ(Drag(ahRight, start, 40, 0, rules), (TRect{100, 100, 240, 205}));
    const TRect stopped = Drag(ahRight, start, 250, 0, rules);
    EXPECT_EQ(stopped.bottom, 300);
    EXPECT_EQ(stopped.width(), qm::app::RoundHalfEven(200 / 0.75));  // 266.67 -> 267
    EXPECT_EQ(stopped.left, 100);
    // Corners: driven by the horizontal movement; the opposite corner stays.
    const TRect tl = Drag(ahTopLeft, start, -20, 0, rules);
    EXPECT_EQ(tl, (TRect{80, 85, 200, 175}));
    const TRect tr = Drag(ahTopRight, start, 20, 999, rules);
    EXPECT_EQ(tr, (TRect{100, 85, 220, 175}));
    const TRect bl = Drag(ahBottomLeft, start, -20, -999, rules);
    EXPECT_EQ(bl, (TRect{80, 100, 200, 190}));
    // The top edge drives the width; stopped at the area's left, the height follows the width.
    EXPECT_EQ(Drag(ahTop, start, 0, -15, rules), (TRect{80, 85, 200, 175}));
    const TRect topStopped = Drag(ahTop, start, 0, -100, rules);
    EXPECT_EQ(topStopped.left, 0);
    EXPECT_EQ(topStopped.bottom, 175);
    EXPECT_EQ(topStopped.height(), 150);
    // Halves go to the even neighbour: 101 x 0.5 = 50.5 -> 50.
    EXPECT_EQ(Drag(ahRight, TRect{0, 0, 100, 50}, 1, 0, Rules(area, 3, 0.5)).height(), 50);
    EXPECT_EQ(Drag(ahRight, TRect{0, 0, 100, 50}, 3, 0, Rules(area, 3, 0.5)).height(), 52);
}

TEST(DragArea, TheLimitRectangleIsNeverUncovered) {
    const TRect area{0, 0, 400, 300};
    const TRect start{50, 50, 250, 200};
    TAreaRules rules = Rules(area, 3);
    rules.LimitEnabled = true;
    rules.Limit = TRect{120, 90, 180, 140};
    auto contains = [&](const TRect& r) {
        return r.left <= rules.Limit.left && r.top <= rules.Limit.top && r.right >= rules.Limit.right &&
               r.bottom >= rules.Limit.bottom;
    };
    for (int d : {-400, -130, -71, -70, -1, 1, 69, 70, 71, 130, 400}) {
        for (TAreaHandle h : {ahMove, ahLeft, ahRight, ahTop, ahBottom, ahTopLeft, ahTopRight, ahBottomLeft,
                              ahBottomRight}) {
            const TRect r = Drag(h, start, d, d, rules);
            EXPECT_TRUE(contains(r)) << "handle " << int(h) << " by " << d << ": " << r;
            EXPECT_GE(r.left, area.left);
            EXPECT_LE(r.right, area.right);
        }
    }
    // Moved right as far as it goes, its left edge meets the limit's.
    EXPECT_EQ(Drag(ahMove, start, 100, 0, rules), (TRect{120, 50, 320, 200}));
    EXPECT_EQ(Drag(ahLeft, start, 100, 0, rules).left, 120);
    EXPECT_EQ(Drag(ahRight, start, -150, 0, rules).right, 180);
}

TEST(DragArea, WithoutHandlesOnlyMovingWorks) {
    TAreaRules rules = Rules(TRect{0, 0, 400, 300}, 3);
    rules.ShowHandles = false;
    const TRect start{50, 50, 150, 150};
    for (TAreaHandle h : {ahLeft, ahRight, ahTop, ahBottom, ahTopLeft, ahTopRight, ahBottomLeft, ahBottomRight})
        EXPECT_EQ(Drag(h, start, 30, 30, rules), start);
    EXPECT_EQ(Drag(ahMove, start, 30, 30, rules), (TRect{80, 80, 180, 180}));
}

TEST(LockAreaRatio, HeightFirstThenWidthElseUnchanged) {
    const TRect area{0, 0, 300, 200};
    EXPECT_EQ(LockAreaRatio(TRect{10, 10, 110, 40}, 0.5, area), (TRect{10, 10, 110, 60}));
    // The height would leave the area: the width follows the height instead.
    EXPECT_EQ(LockAreaRatio(TRect{10, 100, 250, 160}, 0.5, area), (TRect{10, 100, 130, 160}));
    EXPECT_EQ(LockAreaRatio(TRect{10, 10, 110, 40}, 0, area), (TRect{10, 10, 110, 40}));
}

TEST(PreviewMapping, EachAxisByItsOwnFactorHalvesToEven) {
    // A 550 x 400 movie in a 400 x 291 preview: 137.5 -> 138 and 412.5 -> 412.
    EXPECT_EQ(ToMovieRect(TRect{100, 50, 300, 250}, 550, 400, 400, 291), (TRect{138, 69, 412, 344}));
    EXPECT_EQ(ToMovieRect(TRect{0, 0, 400, 291}, 550, 400, 400, 291), (TRect{0, 0, 550, 400}));
    EXPECT_EQ(ToPreviewRect(TRect{0, 0, 550, 400}, 550, 400, 400, 291), (TRect{0, 0, 400, 291}));
    // 2 / 4 x 10 = 5 exactly, 1 / 4 x 10 = 2.5 -> 2, 3 / 4 x 10 = 7.5 -> 8.
    EXPECT_EQ(ToPreviewRect(TRect{1, 2, 3, 4}, 4, 4, 10, 10), (TRect{2, 5, 8, 10}));
    // Zero sizes map nothing instead of dividing by zero.
    EXPECT_EQ(ToMovieRect(TRect{1, 2, 3, 4}, 550, 400, 0, 0), (TRect{1, 2, 3, 4}));
    EXPECT_EQ(ToPreviewRect(TRect{1, 2, 3, 4}, 0, 0, 400, 291), (TRect{1, 2, 3, 4}));
}

TEST(WithOpacity, ScalesAlphaOnlyAndLeavesFullOpacityAlone) {
    QImage picture(2, 1, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(200, 100, 50, 255));
    picture.setPixel(1, 0, qRgba(10, 20, 30, 101));
    const QImage half = WithOpacity(picture, 50);
    EXPECT_EQ(half.pixel(0, 0), qRgba(200, 100, 50, 128));
    EXPECT_EQ(half.pixel(1, 0), qRgba(10, 20, 30, 51));
    EXPECT_EQ(WithOpacity(picture, 100), picture);
    EXPECT_EQ(qAlpha(WithOpacity(picture, -5).pixel(0, 0)), 0);
}

}  // namespace
