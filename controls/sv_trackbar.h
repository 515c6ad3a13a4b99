// The skinned horizontal slider: a track of three pictures, a tick with four state pictures,
// optional start and end markers joined by a line, 64-bit values.
#pragma once

#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QWidget>

#include <cstdint>

namespace qm::controls {

// Four state pictures of a tick or marker.
class TPngImg : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const QPixmap& Up() const { return pictures_[0]; }
    const QPixmap& Down() const { return pictures_[1]; }
    const QPixmap& Hot() const { return pictures_[2]; }
    const QPixmap& Disabled() const { return pictures_[3]; }
    void SetUp(const QPixmap& p) { set(0, p); }
    void SetDown(const QPixmap& p) { set(1, p); }
    void SetHot(const QPixmap& p) { set(2, p); }
    void SetDisabled(const QPixmap& p) { set(3, p); }
    void Assign(const TPngImg& other);

signals:
    void OnChange();

private:
    void set(int i, const QPixmap& p);
    QPixmap pictures_[4];
};

// Left cap, stretched middle and right cap of a track.
class TBGImg : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    const QPixmap& Left() const { return pictures_[0]; }
    const QPixmap& Center() const { return pictures_[1]; }
    const QPixmap& Right() const { return pictures_[2]; }
    void SetLeft(const QPixmap& p) { set(0, p); }
    void SetCenter(const QPixmap& p) { set(1, p); }
    void SetRight(const QPixmap& p) { set(2, p); }
    void Assign(const TBGImg& other);

signals:
    void OnChange();

private:
    void set(int i, const QPixmap& p);
    QPixmap pictures_[3];
};

enum TMoveTrackStyle { msNone, msImg, msColor };

class TSVTrackbar : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool TransParent READ TransParent WRITE SetTransParent)
    Q_PROPERTY(bool ShowLine READ ShowLine WRITE SetShowLine)
    Q_PROPERTY(int TrackHeight READ TrackHeight WRITE SetTrackHeight)
    Q_PROPERTY(int TrackOffset READ TrackOffset WRITE SetTrackOffset)
    Q_PROPERTY(int TickOffset READ TickOffset WRITE SetTickOffset)
    Q_PROPERTY(int SegmentOffset READ SegmentOffset WRITE SetSegmentOffset)
    Q_PROPERTY(qint64 Position READ Position WRITE SetPosition)
    Q_PROPERTY(qint64 StartPos READ StartPos WRITE SetStartPos)
    Q_PROPERTY(qint64 EndPos READ EndPos WRITE SetEndPos)
    Q_PROPERTY(bool ShowTick READ ShowTick WRITE SetShowTick)
    Q_PROPERTY(qint64 Max READ Max WRITE SetMax)
    Q_PROPERTY(qint64 Min READ Min WRITE SetMin)
    Q_PROPERTY(QColor BGColor READ BGColor WRITE SetBGColor)
    Q_PROPERTY(QColor LineColor READ LineColor WRITE SetLineColor)
    Q_PROPERTY(bool ShowSegment READ ShowSegment WRITE SetShowSegment)
    Q_PROPERTY(int TrackLeft READ TrackLeft WRITE SetTrackLeft)
    Q_PROPERTY(bool ShowDisabledTrack READ ShowDisabledTrack WRITE SetShowDisabledTrack)

public:
    // Element states.
    enum State { kDown = 0, kUp = 1, kHot = 2, kDisabled = 3 };

    explicit TSVTrackbar(QWidget* parent = nullptr);

    bool TransParent() const { return transParent_; }
    void SetTransParent(bool v);
    bool ShowLine() const { return showLine_; }
    void SetShowLine(bool v);
    TBGImg* Trackimg() const { return trackImg_; }
    TBGImg* MoveTrackImg() const { return moveTrackImg_; }
    TBGImg* TrackDisableImg() const { return trackDisableImg_; }
    TPngImg* Tickimg() const { return tickImg_; }
    TPngImg* SegmentStart() const { return segmentStart_; }
    TPngImg* SegmentEnd() const { return segmentEnd_; }
    int TrackHeight() const { return trackHeightProperty_; }
    void SetTrackHeight(int v) { trackHeightProperty_ = v; }
    int TrackOffset() const { return trackOffset_; }
    void SetTrackOffset(int v);
    int TickOffset() const { return tickOffset_; }
    void SetTickOffset(int v);
    int SegmentOffset() const { return segmentOffset_; }
    void SetSegmentOffset(int v);
    qint64 Position() const { return position_; }
    void SetPosition(qint64 v);
    qint64 StartPos() const { return startPos_; }
    void SetStartPos(qint64 v);
    qint64 EndPos() const { return endPos_; }
    void SetEndPos(qint64 v);
    bool ShowTick() const { return showTick_; }
    void SetShowTick(bool v);
    qint64 Max() const { return max_; }
    void SetMax(qint64 v);
    qint64 Min() const { return min_; }
    void SetMin(qint64 v);
    QColor BGColor() const { return bgColor_; }
    void SetBGColor(const QColor& c) { bgColor_ = c; }
    QColor LineColor() const { return lineColor_; }
    void SetLineColor(const QColor& c);
    TMoveTrackStyle ShowMoveTrack() const { return showMoveTrack_; }
    void SetShowMoveTrack(TMoveTrackStyle v);
    bool ShowSegment() const { return showSegment_; }
    void SetShowSegment(bool v);
    int TrackLeft() const { return trackLeft_; }
    void SetTrackLeft(int v);
    bool ShowDisabledTrack() const { return showDisabledTrack_; }
    void SetShowDisabledTrack(bool v);

    // Geometry as laid out, in the control's pixels (right and bottom edges exclusive).
    QRect TrackRect() const { return trackRect_; }
    QRect TickRect() const { return tickRect_; }
    QRect StartRect() const { return startRect_; }
    QRect EndRect() const { return endRect_; }
    int TickPixel() const { return tickPx_; }
    int StartPixel() const { return startPx_; }
    int EndPixel() const { return endPx_; }
    int TickState() const { return tickState_; }
    int StartState() const { return startState_; }
    int EndState() const { return endState_; }

    int ValueToPixel(qint64 v) const;
    qint64 PixelToValue(int x) const;

signals:
    void OnChange();
    void OnTickChange();
    void OnStartChange();
    void OnEndChange();
    void OnTickMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnTickMouseUP(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnStartMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnStartMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnEndMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void onEndMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnTrackMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnTrackMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnTickMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void OnMouseLeave();
    void OnKeyDown(int key, Qt::KeyboardModifiers shift);
    void OnKeyUp(int key, Qt::KeyboardModifiers shift);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;
    void changeEvent(QEvent*) override;

private:
    enum class Target { None, Tick, Start, End, Track };

    void layOut();
    void ensureLayout();
    void moveTickTo(int x);
    void placeTick();
    void placeMarkers();
    QPixmap render();
    const QPixmap& pictureOf(const TPngImg* set, int state) const;

    bool transParent_ = false;
    bool showLine_ = false;
    TBGImg* trackImg_;
    TBGImg* moveTrackImg_;
    TBGImg* trackDisableImg_;
    TPngImg* tickImg_;
    TPngImg* segmentStart_;
    TPngImg* segmentEnd_;
    int trackHeightProperty_ = 0;
    int trackOffset_ = 10;
    int tickOffset_ = 5;
    int segmentOffset_ = 15;
    qint64 position_ = 0;
    qint64 startPos_ = 0;
    qint64 endPos_ = 100;
    bool showTick_ = true;
    qint64 max_ = 100;
    qint64 min_ = 0;
    QColor bgColor_;
    QColor lineColor_ = Qt::blue;
    TMoveTrackStyle showMoveTrack_ = msNone;
    bool showSegment_ = false;
    int trackLeft_ = 2;
    bool showDisabledTrack_ = false;

    // Measured sizes.
    int capWidth_ = 0, trackHeight_ = 0, laidOutWidth_ = -1;
    QSize tickSize_, startSize_, endSize_;
    QRect trackRect_, tickRect_, startRect_, endRect_;
    int tickPx_ = 0, startPx_ = 0, endPx_ = 0;
    bool pressed_ = false;
    Target target_ = Target::None;
    int tickState_ = kUp, trackState_ = kUp, startState_ = kUp, endState_ = kUp;
    QPixmap parentBackground_;
};

}  // namespace qm::controls
