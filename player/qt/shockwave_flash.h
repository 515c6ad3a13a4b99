// The player control the windows host: our player engine in a widget, with
// the members the windows use (Movie, Loop, Play, Stop, GotoFrame, ...), the
// mouse and key events and their click and menu rules, real-time playback
// with sound, and painting the current frame into a picture from any thread.
#pragma once

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio.h"
#include "flash/player.h"
#include "flash/render/render.h"

class QMenu;

namespace qm::player {

// When each frame is due: frame n at start + n / rate, counted from the
// start so that rounding never adds up. The rate is the movie's raw 8.8
// fixed-point value; 0 counts as 1 frame per second.
class FrameSchedule {
public:
    void Start(int64_t now_micros, uint16_t rate_8_8);
    // Frames shown by `now` when frame 0 is shown at the start.
    uint64_t FramesDueBy(int64_t now_micros) const;
    // When frame `frame` is due.
    int64_t DueTime(uint64_t frame) const;

private:
    int64_t start_ = 0;
    uint64_t rate_ = 256;
};

class TShockwaveFlash : public QWidget {
public:
    explicit TShockwaveFlash(QWidget* parent = nullptr);
    ~TShockwaveFlash() override;

    // Loads the movie and starts it; a name of no file ("None.swf") blanks
    // the control. Reading gives the last text written.
    void SetMovie(const QString& movie);
    QString Movie() const { return movie_; }
    void SetLoop(bool loop);
    bool Loop() const { return loop_; }
    int TotalFrames() const;
    void SetMenu(bool menu) { menu_ = menu; }
    bool Menu() const { return menu_; }
    void SetScale(const QString& scale);
    // "RRGGBB": shown behind the stage in place of the movie's own colour.
    void SetBGColor(const QString& color);

    void Play();
    void Stop();
    void GotoFrame(int frame);
    int CurrentFrame() const;  // zero-based; -1 with no movie
    bool IsPlaying() const;

    // Paints the current frame over the whole picture (ARGB32 premultiplied
    // layout). Safe from any thread while playback runs.
    void PaintTo(QImage& picture) const;
    void PaintTo(uint8_t* pixels, int width, int height, int stride) const;

    // Why the last movie could not be loaded; empty after a good load.
    QString LoadError() const { return load_error_; }

    // For tests and hosts that pace playback themselves: the clock (not
    // owned; the steady clock when null), timer-free ticking, counters.
    void SetClock(audio::Clock* clock);
    void SetTimerEnabled(bool enabled);
    void SetSoundEnabled(bool enabled) { sound_enabled_ = enabled; }
    // Advances the movie to the frame due now and schedules the next tick.
    void Tick();
    uint64_t FramesAdvanced() const { return frames_advanced_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Stage pixels under a point of the control.
    bool ToStage(const QPoint& point, double& x, double& y) const;
    void ForwardMouseMove(const QPoint& point);
    void ForwardMouseDown(const QPoint& point);
    void ForwardMouseUp(const QPoint& point);
    void ForwardKey(QKeyEvent* event, bool down);

private:
    void Blank();
    void RestartSchedule();
    void ScheduleNextTick();
    void AdvanceOne();
    // The sound of the `advances`-th frame shown, mixed from the movie.
    static std::vector<int16_t> FrameSound(flash::Player& player, uint64_t advances);
    void WriteSound(const std::vector<int16_t>& samples);
    void Log(const QString& line) const;

    mutable std::mutex mutex_;  // the engine and its renderer
    std::unique_ptr<flash::Player> player_;
    std::unique_ptr<flash::Renderer> renderer_;
    std::unique_ptr<audio::Output> output_;
    QString movie_;
    QString load_error_;
    bool loop_ = true;
    bool menu_ = true;
    bool playing_ = false;
    bool timer_enabled_ = true;
    bool sound_enabled_ = true;
    flash::ScaleMode scale_ = flash::ScaleMode::ShowAll;
    bool has_bg_color_ = false;
    swf::Rgba bg_color_{0, 0, 0, 255};
    audio::Clock* clock_ = nullptr;
    FrameSchedule schedule_;
    uint64_t frames_shown_ = 0;  // since the schedule started
    uint64_t frames_advanced_ = 0;
    QTimer timer_;
};

// Adds the mouse events, the click event and the two ways of keeping clicks
// away from the player: `LockMouseClick`, and a popup menu shown on a right
// click in place of the player's own when `Menu` is false.
class TShockwaveFlashEx : public TShockwaveFlash {
public:
    enum class Button { Left, Right, Middle };
    using MouseEvent = std::function<void(Button, Qt::KeyboardModifiers, int x, int y)>;

    explicit TShockwaveFlashEx(QWidget* parent = nullptr);

    MouseEvent OnMouseDown, OnMouseUp;
    std::function<void(Qt::KeyboardModifiers, int x, int y)> OnMouseMove;
    std::function<void()> OnClick;
    std::function<void(int key, Qt::KeyboardModifiers)> OnKeyDown;

    void SetLockMouseClick(bool lock) { lock_mouse_click_ = lock; }
    bool LockMouseClick() const { return lock_mouse_click_; }
    void SetPopupMenu(QMenu* menu) { popup_menu_ = menu; }  // not owned
    QMenu* PopupMenu() const { return popup_menu_; }
    // Where the last popup was asked for (global), for hosts and tests.
    std::function<void(const QPoint& global)> OnPopup;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    bool lock_mouse_click_ = false;
    bool pressed_ = false;
    QMenu* popup_menu_ = nullptr;
};

}  // namespace qm::player
