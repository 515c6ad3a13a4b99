#include "controls/sv_trackbar.h"

#include "controls/skin_art.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm::controls {

void TPngImg::set(int i, const QPixmap& p) {
    pictures_[i] = p;
    emit OnChange();
}

void TPngImg::Assign(const TPngImg& other) {
    for (int i = 0; i < 4; ++i) pictures_[i] = other.pictures_[i];
    emit OnChange();
}

void TBGImg::set(int i, const QPixmap& p) {
    pictures_[i] = p;
    emit OnChange();
}

void TBGImg::Assign(const TBGImg& other) {
    for (int i = 0; i < 3; ++i) pictures_[i] = other.pictures_[i];
    emit OnChange();
}

namespace {

int rightOf(const QRect& r) { return r.x() + r.width(); }

QSize logicalSize(const QPixmap& p) { return p.isNull() ? QSize() : p.deviceIndependentSize().toSize(); }

// A built-in picture, drawn for the screen's scale.
QPixmap builtIn(const char* name) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    const int scale = std::max(1, int(std::ceil(ratio)));
    QPixmap picture = QPixmap::fromImage(DrawSkinPicture(QString::fromLatin1(name), scale));
    picture.setDevicePixelRatio(scale);
    return picture;
}

}  // namespace

TSVTrackbar::TSVTrackbar(QWidget* parent)
    : QWidget(parent),
      trackImg_(new TBGImg(this)),
      moveTrackImg_(new TBGImg(this)),
      trackDisableImg_(new TBGImg(this)),
      tickImg_(new TPngImg(this)),
      segmentStart_(new TPngImg(this)),
      segmentEnd_(new TPngImg(this)) {
    bgColor_ = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted from the off-screen picture

    for (TBGImg* track : {trackImg_, trackDisableImg_}) {
        track->SetLeft(builtIn("left"));
        track->SetCenter(builtIn("center"));
        track->SetRight(builtIn("right"));
    }
    tickImg_->SetUp(builtIn("up"));
    tickImg_->SetDown(builtIn("down"));
    tickImg_->SetHot(builtIn("hot"));
    tickImg_->SetDisabled(builtIn("disabled"));
    segmentStart_->SetUp(builtIn("SegmentStartUp"));
    segmentStart_->SetHot(builtIn("SegmentStartHot"));
    segmentStart_->SetDown(builtIn("SegmentStartDown"));
    segmentEnd_->SetUp(builtIn("SegmentEndUp"));
    segmentEnd_->SetHot(builtIn("SegmentEndHot"));
    segmentEnd_->SetDown(builtIn("SegmentEndDown"));

    for (TPngImg* set : {tickImg_, segmentStart_, segmentEnd_})
        connect(set, &TPngImg::OnChange, this, [this] {
            layOut();
            update();
        });
    // The track's height is measured from its middle picture.
    connect(trackImg_, &TBGImg::OnChange, this, [this] {
        layOut();
        update();
    });
    connect(trackDisableImg_, &TBGImg::OnChange, this, qOverload<>(&QWidget::update));

    resize(280, 33);
    layOut();
}

// ---- values and pixels ----

int TSVTrackbar::ValueToPixel(qint64 v) const {
    const int half = tickSize_.width() / 2;
    const int d = rightOf(trackRect_) - trackRect_.x() - tickSize_.width();
    // Long double keeps the full 64-bit range free of overflow.
    const long double span = (long double)max_ - (long double)min_;
    const long double ratio = span > 0 ? ((long double)v - (long double)min_) / span : 0;
    return int(std::llround(ratio * d)) + half + trackRect_.x();
}

qint64 TSVTrackbar::PixelToValue(int x) const {
    const int half = tickSize_.width() / 2;
    const int left = trackRect_.x();
    const int right = rightOf(trackRect_);
    const int d = right - left - tickSize_.width();
    if (x - left - half <= 0) return min_;
    long double ratio = 1;
    if (x <= right - half && d > 0) ratio = std::min<long double>(1, (long double)(x - left - half) / d);
    const long double span = (long double)max_ - (long double)min_;
    const long double value = std::roundl(ratio * span) + (long double)min_;
    if (value >= (long double)max_) return max_;
    if (value <= (long double)min_) return min_;
    return qint64(value);
}

// ---- layout ----

// A hidden control gets its resize event only when shown: values set before then still land
// on the current geometry.
void TSVTrackbar::ensureLayout() {
    if (laidOutWidth_ != width()) layOut();
}

void TSVTrackbar::layOut() {
    laidOutWidth_ = width();
    if (!trackImg_->Left().isNull()) capWidth_ = logicalSize(trackImg_->Left()).width();
    if (!trackImg_->Center().isNull()) trackHeight_ = logicalSize(trackImg_->Center()).height();
    if (!tickImg_->Up().isNull()) tickSize_ = logicalSize(tickImg_->Up());
    if (!segmentStart_->Up().isNull()) startSize_ = logicalSize(segmentStart_->Up());
    if (!segmentEnd_->Up().isNull()) endSize_ = logicalSize(segmentEnd_->Up());

    const int half = tickSize_.width() / 2;
    int left, right;
    if (showSegment_ && startSize_.width() > half) {
        left = startSize_.width();
        right = width() - endSize_.width();
        startRect_ = QRect(0, segmentOffset_, startSize_.width(), startSize_.height());
        endRect_ = QRect(right, segmentOffset_, endSize_.width(), endSize_.height());
    } else {
        left = trackLeft_;
        right = width() - trackLeft_;
        startRect_ = QRect(left - startSize_.width(), segmentOffset_, startSize_.width(), startSize_.height());
        endRect_ = QRect(right, segmentOffset_, endSize_.width(), endSize_.height());
    }
    trackRect_ = QRect(left, trackOffset_, std::max(0, right - left), trackHeight_);
    // A whole segment sits at the track's ends; any other keeps its values where the new
    // geometry puts them, and so does the tick.
    startPx_ = startPos_ <= min_ ? trackRect_.x() : ValueToPixel(startPos_);
    endPx_ = endPos_ >= max_ ? rightOf(trackRect_) : ValueToPixel(endPos_);
    placeTick();
}

void TSVTrackbar::placeTick() {
    tickPx_ = ValueToPixel(position_);
    placeMarkers();
}

void TSVTrackbar::placeMarkers() {
    const int half = tickSize_.width() / 2;
    int tickLeft = tickPx_ - half;
    tickLeft = std::min(tickLeft, rightOf(trackRect_) - tickSize_.width());
    tickLeft = std::max(tickLeft, trackRect_.x());
    tickRect_ = QRect(tickLeft, tickOffset_, tickSize_.width(), tickSize_.height());
    if (!showSegment_) return;
    const int endLeft = std::min(std::max(endPx_, startPx_), rightOf(trackRect_));
    int startRight = std::max(std::min(startPx_, endLeft), trackRect_.x());
    startRect_ = QRect(startRight - startSize_.width(), segmentOffset_, startSize_.width(), startSize_.height());
    endRect_ = QRect(endLeft, segmentOffset_, endSize_.width(), endSize_.height());
}

void TSVTrackbar::moveTickTo(int x) {
    tickPx_ = std::clamp(x, trackRect_.x(), std::max(trackRect_.x(), rightOf(trackRect_)));
    position_ = PixelToValue(tickPx_);
    placeMarkers();
}

// ---- setters: none of them fires an event ----

void TSVTrackbar::SetPosition(qint64 v) {
    ensureLayout();
    position_ = std::clamp(v, min_, max_);
    placeTick();
    update();
}

void TSVTrackbar::SetMax(qint64 v) {
    if (v == max_) return;
    if (v <= min_) {
        // Keep one step of range even at the very top of 64 bits.
        if (min_ == std::numeric_limits<qint64>::max()) min_ -= 1;
        v = min_ + 1;
    }
    max_ = v;
    if (position_ > max_) position_ = max_;
    layOut();
    update();
}

void TSVTrackbar::SetMin(qint64 v) {
    if (v == min_) return;
    if (v >= max_) {
        if (max_ == std::numeric_limits<qint64>::min()) max_ += 1;
        v = max_ - 1;
    }
    min_ = v;
    if (position_ < min_) position_ = min_;
    layOut();
    update();
}

void TSVTrackbar::SetStartPos(qint64 v) {
    ensureLayout();
    if (v < min_) v = min_;
    if (v >= endPos_) v = endPos_;
    startPos_ = v;
    startPx_ = ValueToPixel(startPos_);
    placeMarkers();
    update();
}

void TSVTrackbar::SetEndPos(qint64 v) {
    ensureLayout();
    if (v > max_) v = max_;
    if (v <= startPos_) v = startPos_;
    endPos_ = v;
    endPx_ = ValueToPixel(endPos_);
    placeMarkers();
    update();
}

void TSVTrackbar::SetShowSegment(bool v) {
    showSegment_ = v;
    startPos_ = min_;
    endPos_ = max_;
    layOut();
    update();
}

void TSVTrackbar::SetShowTick(bool v) {
    if (v == showTick_) return;
    showTick_ = v;
    update();
}

void TSVTrackbar::SetTickOffset(int v) {
    tickOffset_ = v;
    layOut();
    update();
}

void TSVTrackbar::SetTrackOffset(int v) {
    trackOffset_ = v;
    layOut();
    update();
}

void TSVTrackbar::SetSegmentOffset(int v) {
    if (v == segmentOffset_) return;
    segmentOffset_ = v;
    layOut();
    update();
}

void TSVTrackbar::SetLineColor(const QColor& c) {
    lineColor_ = c;
    update();
}

void TSVTrackbar::SetTransParent(bool v) {
    if (v == transParent_) return;
    transParent_ = v;
    update();
}

void TSVTrackbar::SetTrackLeft(int v) {
    if (v == trackLeft_) return;
    trackLeft_ = v;
    layOut();
    update();
}

void TSVTrackbar::SetShowDisabledTrack(bool v) {
    if (v == showDisabledTrack_) return;
    showDisabledTrack_ = v;
    update();
}

void TSVTrackbar::SetShowLine(bool v) {
    if (v == showLine_) return;
    showLine_ = v;
    update();
}

void TSVTrackbar::SetShowMoveTrack(TMoveTrackStyle v) {
    if (v == showMoveTrack_) return;
    showMoveTrack_ = v;
    update();
}

// ---- painting ----

const QPixmap& TSVTrackbar::pictureOf(const TPngImg* set, int state) const {
    switch (state) {
        case kDown: return set->Down();
        case kHot: return set->Hot();
        case kDisabled: return set->Disabled();
        default: return set->Up();
    }
}

QPixmap TSVTrackbar::render() {
    const qreal ratio = devicePixelRatioF();
    QPixmap canvas(size() * ratio);
    canvas.setDevicePixelRatio(ratio);
    if (transParent_ && !parentBackground_.isNull())
        canvas.fill(Qt::transparent);
    else
        canvas.fill(bgColor_);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (transParent_ && !parentBackground_.isNull()) p.drawPixmap(0, 0, parentBackground_);

    const TBGImg* track =
        showDisabledTrack_ && !isEnabled() && !trackDisableImg_->Left().isNull() ? trackDisableImg_ : trackImg_;
    const QRect& t = trackRect_;
    const int cap = std::min(capWidth_, t.width() / 2);
    if (!track->Left().isNull()) p.drawPixmap(QRect(t.x(), t.y(), cap, t.height()), track->Left());
    if (!track->Right().isNull())
        p.drawPixmap(QRect(rightOf(t) - cap, t.y(), cap, t.height()), track->Right());
    if (!track->Center().isNull() && t.width() > 2 * cap)
        p.drawPixmap(QRect(t.x() + cap, t.y(), t.width() - 2 * cap, t.height()), track->Center());

    if (showTick_) {
        if (showSegment_) {
            if (showLine_ && !(startPos_ <= min_ && endPos_ >= max_)) {
                p.setPen(QPen(lineColor_, 1));
                const int y = segmentOffset_ + startSize_.height() / 2;
                p.drawLine(rightOf(startRect_), y, endRect_.x(), y);
            }
            const QPixmap& start = pictureOf(segmentStart_, startState_);
            if (!start.isNull()) p.drawPixmap(startRect_, start);
            const QPixmap& end = pictureOf(segmentEnd_, endState_);
            if (!end.isNull()) p.drawPixmap(endRect_, end);
        }
        const QPixmap& tick = pictureOf(tickImg_, tickState_);
        if (!tick.isNull()) p.drawPixmap(tickRect_, tick);
    }
    return canvas;
}

void TSVTrackbar::paintEvent(QPaintEvent*) {
    if (transParent_ && parentWidget()) {
        // A fresh copy of what the parent paints under the control, without its children.
        const qreal ratio = devicePixelRatioF();
        parentBackground_ = QPixmap(size() * ratio);
        parentBackground_.setDevicePixelRatio(ratio);
        parentBackground_.fill(parentWidget()->palette().color(parentWidget()->backgroundRole()));
        parentWidget()->render(&parentBackground_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    }
    ensureLayout();
    const QPixmap canvas = render();
    QPainter(this).drawPixmap(0, 0, canvas);
}

void TSVTrackbar::resizeEvent(QResizeEvent*) {
    layOut();
    update();
}

// ---- mouse and keyboard ----

void TSVTrackbar::mousePressEvent(QMouseEvent* e) {
    ensureLayout();
    const QPoint at = e->position().toPoint();
    emit OnMouseDown(e->button(), e->modifiers(), at.x(), at.y());
    if (!isEnabled()) return;
    pressed_ = true;
    target_ = Target::None;
    setFocus(Qt::MouseFocusReason);
    if (e->button() == Qt::LeftButton) {
        if (showTick_ && tickRect_.contains(at)) {
            target_ = Target::Tick;
            tickState_ = kDown;
            emit OnTickMouseDown(e->button(), e->modifiers(), at.x(), at.y());
        } else if (trackRect_.contains(at)) {
            target_ = Target::Track;
            trackState_ = kDown;
            moveTickTo(at.x());
            emit OnTrackMouseDown(e->button(), e->modifiers(), at.x(), at.y());
            emit OnTickChange();
        } else if (showSegment_ && startRect_.contains(at)) {
            target_ = Target::Start;
            startState_ = kDown;
            emit OnStartMouseDown(e->button(), e->modifiers(), at.x(), at.y());
        } else if (showSegment_ && endRect_.contains(at)) {
            target_ = Target::End;
            endState_ = kDown;
            emit OnEndMouseDown(e->button(), e->modifiers(), at.x(), at.y());
        }
    }
    update();
}

void TSVTrackbar::mouseMoveEvent(QMouseEvent* e) {
    ensureLayout();
    const QPoint at = e->position().toPoint();
    emit OnMouseMove(e->modifiers(), at.x(), at.y());
    if (!isEnabled()) return;
    if (pressed_) {
        switch (target_) {
            case Target::Tick:
                moveTickTo(at.x());
                emit OnTickMouseMove(e->modifiers(), at.x(), at.y());
                emit OnTickChange();
                emit OnChange();
                break;
            case Target::Start:
                startPx_ = std::clamp(at.x(), trackRect_.x(), std::max(trackRect_.x(), endPx_));
                startPos_ = std::min(PixelToValue(startPx_), endPos_);
                placeMarkers();
                emit OnStartChange();
                break;
            case Target::End:
                endPx_ = std::clamp(at.x(), startPx_, std::max(startPx_, rightOf(trackRect_)));
                endPos_ = std::max(PixelToValue(endPx_), startPos_);
                placeMarkers();
                emit OnEndChange();
                break;
            default: break;
        }
    } else if (showTick_ && tickRect_.contains(at)) {
        tickState_ = kHot;
        startState_ = endState_ = kUp;
    } else if (showSegment_ && startRect_.contains(at)) {
        startState_ = kHot;
        tickState_ = endState_ = kUp;
    } else {
        tickState_ = startState_ = kUp;
        endState_ = showSegment_ && endRect_.contains(at) ? kHot : kUp;
    }
    update();
}

void TSVTrackbar::mouseReleaseEvent(QMouseEvent* e) {
    const QPoint at = e->position().toPoint();
    emit OnMouseUp(e->button(), e->modifiers(), at.x(), at.y());
    if (!isEnabled()) return;
    pressed_ = false;
    const Target target = std::exchange(target_, Target::None);
    switch (target) {
        case Target::Tick:
            tickState_ = kUp;
            emit OnTickMouseUP(e->button(), e->modifiers(), at.x(), at.y());
            break;
        case Target::Start:
            startState_ = kUp;
            emit OnStartMouseUp(e->button(), e->modifiers(), at.x(), at.y());
            break;
        case Target::End:
            endState_ = kUp;
            emit onEndMouseUp(e->button(), e->modifiers(), at.x(), at.y());
            break;
        case Target::Track:
            trackState_ = kUp;
            emit OnTrackMouseUp(e->button(), e->modifiers(), at.x(), at.y());
            break;
        case Target::None: break;
    }
    update();
}

void TSVTrackbar::leaveEvent(QEvent*) {
    emit OnMouseLeave();
    if (pressed_) return;
    if (tickState_ != kDisabled) tickState_ = kUp;
    startState_ = endState_ = kUp;
    update();
}

void TSVTrackbar::keyPressEvent(QKeyEvent* e) {
    emit OnKeyDown(e->key(), e->modifiers());
    if (!isEnabled() || !showTick_) return QWidget::keyPressEvent(e);
    const long double span = (long double)max_ - (long double)min_;
    const qint64 page = std::max<qint64>(1, qint64(span / 10));
    auto stepped = [this](qint64 step) {
        // Saturating, so a step never wraps around the 64-bit range.
        if (step > 0) return position_ > max_ - step ? max_ : position_ + step;
        return position_ < min_ - step ? min_ : position_ + step;
    };
    qint64 value;
    switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down: value = stepped(-1); break;
        case Qt::Key_Right:
        case Qt::Key_Up: value = stepped(1); break;
        case Qt::Key_PageDown: value = stepped(-page); break;
        case Qt::Key_PageUp: value = stepped(page); break;
        case Qt::Key_Home: value = min_; break;
        case Qt::Key_End: value = max_; break;
        default: return QWidget::keyPressEvent(e);
    }
    e->accept();
    if (value == position_) return;
    SetPosition(value);
    // A key moves the tick as a drag does, and says so.
    emit OnTickChange();
    emit OnChange();
}

void TSVTrackbar::keyReleaseEvent(QKeyEvent* e) {
    emit OnKeyUp(e->key(), e->modifiers());
    QWidget::keyReleaseEvent(e);
}

void TSVTrackbar::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange) {
        tickState_ = isEnabled() ? kUp : kDisabled;
        if (!isEnabled()) {
            pressed_ = false;
            target_ = Target::None;
        }
        update();
    }
    QWidget::changeEvent(e);
}

}  // namespace qm::controls
