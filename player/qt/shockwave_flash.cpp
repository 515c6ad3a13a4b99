#include "player/qt/shockwave_flash.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "app/core/app_core.h"

namespace qm::player {

namespace {

// A frame's samples go to the output only while it holds less than this, so
// that a slow moment drops sound instead of letting it fall behind the frames.
constexpr size_t kMaxQueuedSoundFrames = flash::Player::kMixRate * 3 / 20;

// Further behind than this, playback starts its clock again from now rather
// than racing through the missed frames.
constexpr uint64_t kMaxCatchUpSeconds = 2;

uint8_t FlashKeyCode(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Left: return 1;
        case Qt::Key_Right: return 2;
        case Qt::Key_Home: return 3;
        case Qt::Key_End: return 4;
        case Qt::Key_Insert: return 5;
        case Qt::Key_Delete: return 6;
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Up: return 14;
        case Qt::Key_Down: return 15;
        case Qt::Key_PageUp: return 16;
        case Qt::Key_PageDown: return 17;
        case Qt::Key_Tab: return 18;
        case Qt::Key_Escape: return 19;
        default: break;
    }
    const QString text = event.text();
    if (text.size() == 1 && text[0].unicode() >= 32 && text[0].unicode() <= 126) return uint8_t(text[0].unicode());
    return 0;
}

}  // namespace

void FrameSchedule::Start(int64_t now_micros, uint16_t rate_8_8) {
    start_ = now_micros;
    rate_ = rate_8_8 == 0 ? 256 : rate_8_8;
}

uint64_t FrameSchedule::FramesDueBy(int64_t now_micros) const {
    if (now_micros < start_) return 1;
    return uint64_t(now_micros - start_) * rate_ / 256000000u + 1;
}

int64_t FrameSchedule::DueTime(uint64_t frame) const {
    return start_ + int64_t((frame * 256000000u + rate_ - 1) / rate_);
}

TShockwaveFlash::TShockwaveFlash(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

TShockwaveFlash::~TShockwaveFlash() {
    timer_.stop();
    if (output_) output_->Close();
    std::lock_guard lock(mutex_);
    renderer_.reset();
    player_.reset();
}

void TShockwaveFlash::Log(const QString& line) const {
    if (app::AppLog) {
        try {
            app::AppLog->WriteError(line);
            return;
        } catch (...) {
        }
    }
    qWarning("%s", qUtf8Printable(line));
}

void TShockwaveFlash::Blank() {
    timer_.stop();
    playing_ = false;
    if (output_) {
        output_->Close();
        output_.reset();
    }
    std::lock_guard lock(mutex_);
    renderer_.reset();
    player_.reset();
}

void TShockwaveFlash::SetMovie(const QString& movie) {
    movie_ = movie;
    load_error_.clear();
    if (movie.isEmpty() || QFileInfo(movie).fileName().compare(QStringLiteral("None.swf"), Qt::CaseInsensitive) == 0) {
        Blank();
        update();
        return;
    }
    // The old movie stays on show until the new one has its first frame.
    flash::LoadResult loaded = flash::Player::LoadFile(movie.toStdString());
    if (!loaded.player) {
        Blank();
        load_error_ = QString::fromStdString(loaded.error);
        Log(QStringLiteral("Player: cannot load \"%1\": %2").arg(movie, load_error_));
        update();
        return;
    }
    std::unique_ptr<flash::Player> player = std::move(loaded.player);
    player->SetLoop(loop_);
    // What the movie's limits and the address gate stop goes to the program's log.
    player->SetLogSink([this](std::string_view line) {
        Log(QStringLiteral("Player: ") + QString::fromUtf8(line.data(), qsizetype(line.size())));
    });
    auto renderer = std::make_unique<flash::Renderer>(player->Characters(), player->Version());
    renderer->SetLogSink([p = player.get()](std::string_view line) { p->Log(line); });
    player->Advance();
    std::vector<int16_t> samples = FrameSound(*player, 1);
    timer_.stop();
    if (output_) {
        output_->Close();
        output_.reset();
    }
    if (sound_enabled_) {
        std::string note;
        output_ = audio::OpenOutput(audio::WaveFormat::Pcm16(flash::Player::kMixRate, flash::Player::kMixChannels),
                                    &note);
    }
    {
        std::lock_guard lock(mutex_);
        renderer_ = std::move(renderer);  // the old renderer goes before the movie it draws
        player_ = std::move(player);
        frames_advanced_ = 1;
    }
    WriteSound(samples);
    playing_ = true;
    RestartSchedule();
    update();
}

void TShockwaveFlash::SetLoop(bool loop) {
    loop_ = loop;
    std::lock_guard lock(mutex_);
    if (player_) player_->SetLoop(loop);
}

int TShockwaveFlash::TotalFrames() const {
    std::lock_guard lock(mutex_);
    return player_ ? int(player_->TotalFrames()) : 0;
}

void TShockwaveFlash::SetScale(const QString& scale) {
    scale_ = flash::ScaleModeFromText(scale.toStdString());
    update();
}

void TShockwaveFlash::SetBGColor(const QString& color) {
    bool ok = false;
    const uint32_t rgb = color.trimmed().toUInt(&ok, 16);
    if (!ok || color.trimmed().size() != 6) return;
    std::lock_guard lock(mutex_);
    bg_color_ = swf::Rgba{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255};
    has_bg_color_ = true;
}

void TShockwaveFlash::Play() {
    std::lock_guard lock(mutex_);
    if (player_) player_->Play();
}

void TShockwaveFlash::Stop() {
    std::lock_guard lock(mutex_);
    if (player_) player_->Stop();
}

void TShockwaveFlash::GotoFrame(int frame) {
    {
        std::lock_guard lock(mutex_);
        if (!player_) return;
        player_->GotoFrame(uint32_t(std::max(0, frame)));
    }
    update();
}

int TShockwaveFlash::CurrentFrame() const {
    std::lock_guard lock(mutex_);
    return player_ ? int(player_->CurrentFrame()) : -1;
}

bool TShockwaveFlash::IsPlaying() const {
    std::lock_guard lock(mutex_);
    return player_ && player_->IsPlaying();
}

void TShockwaveFlash::PaintTo(QImage& picture) const {
    if (picture.isNull()) return;
    if (picture.format() != QImage::Format_ARGB32_Premultiplied)
        picture = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    PaintTo(picture.bits(), picture.width(), picture.height(), int(picture.bytesPerLine()));
}

void TShockwaveFlash::PaintTo(uint8_t* pixels, int width, int height, int stride) const {
    if (!pixels || width <= 0 || height <= 0) return;
    std::lock_guard lock(mutex_);
    if (!player_ || !renderer_) {
        // A blank control shows its background colour.
        const swf::Rgba c = bg_color_;
        const uint32_t value = has_bg_color_ ? (0xFF000000u | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b)
                                             : 0xFFFFFFFFu;
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(pixels + size_t(y) * size_t(stride));
            std::fill(row, row + width, value);
        }
        return;
    }
    flash::RenderTarget target{pixels, width, height, stride};
    renderer_->Render(player_->Stage(), player_->StageRect(),
                      has_bg_color_ ? bg_color_ : player_->BackgroundColor(), target, scale_);
}

void TShockwaveFlash::SetClock(audio::Clock* clock) {
    clock_ = clock;
    RestartSchedule();
}

void TShockwaveFlash::SetTimerEnabled(bool enabled) {
    timer_enabled_ = enabled;
    if (!enabled) timer_.stop();
    else ScheduleNextTick();
}

void TShockwaveFlash::RestartSchedule() {
    audio::Clock& clock = clock_ ? *clock_ : audio::SteadyClock();
    uint16_t rate = 256;
    {
        std::lock_guard lock(mutex_);
        if (!player_) return;
        rate = player_->Header().frame_rate;
    }
    schedule_.Start(clock.NowMicros(), rate);
    frames_shown_ = 1;  // the frame on show counts as frame 0 of the schedule
    ScheduleNextTick();
}

void TShockwaveFlash::ScheduleNextTick() {
    if (!playing_ || !timer_enabled_) return;
    audio::Clock& clock = clock_ ? *clock_ : audio::SteadyClock();
    const int64_t wait = schedule_.DueTime(frames_shown_) - clock.NowMicros();
    timer_.start(int(std::clamp<int64_t>((wait + 999) / 1000, 0, 60000)));
}

std::vector<int16_t> TShockwaveFlash::FrameSound(flash::Player& player, uint64_t advances) {
    const size_t count = size_t(player.SoundSamplesBefore(advances) - player.SoundSamplesBefore(advances - 1));
    std::vector<int16_t> samples(count * flash::Player::kMixChannels);
    player.Mix(samples.data(), count);
    return samples;
}

void TShockwaveFlash::WriteSound(const std::vector<int16_t>& samples) {
    if (output_ && !samples.empty() && output_->QueuedFrames() < kMaxQueuedSoundFrames)
        output_->Write(samples.data(), samples.size() / flash::Player::kMixChannels);
}

void TShockwaveFlash::AdvanceOne() {
    std::vector<int16_t> samples;
    {
        std::lock_guard lock(mutex_);
        if (!player_) return;
        player_->Advance();
        ++frames_advanced_;
        samples = FrameSound(*player_, frames_advanced_);
    }
    WriteSound(samples);
}

void TShockwaveFlash::Tick() {
    if (!playing_) return;
    audio::Clock& clock = clock_ ? *clock_ : audio::SteadyClock();
    const int64_t now = clock.NowMicros();
    const uint64_t due = schedule_.FramesDueBy(now);
    if (due > frames_shown_) {
        uint64_t behind = due - frames_shown_;
        uint16_t rate = 256;
        {
            std::lock_guard lock(mutex_);
            if (player_ && player_->Header().frame_rate) rate = player_->Header().frame_rate;
        }
        const uint64_t cap = kMaxCatchUpSeconds * std::max<uint64_t>(1, rate / 256);
        if (behind > cap) {
            // Too far behind (a stalled machine): show the next frame and count from now.
            AdvanceOne();
            schedule_.Start(now, rate);
            frames_shown_ = 1;
        } else {
            // Late frames are advanced without drawing; only the last is painted.
            for (; behind > 0; --behind) AdvanceOne();
            frames_shown_ = due;
        }
        update();
    }
    ScheduleNextTick();
}

void TShockwaveFlash::paintEvent(QPaintEvent*) {
    QImage picture(size(), QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) return;
    PaintTo(picture);
    QPainter painter(this);
    painter.drawImage(0, 0, picture);
}

bool TShockwaveFlash::ToStage(const QPoint& point, double& x, double& y) const {
    std::lock_guard lock(mutex_);
    if (!player_) return false;
    const swf::Matrix m = flash::StageTransform(player_->StageRect(), std::max(1, width()), std::max(1, height()), scale_);
    if (m.a == 0 || m.d == 0) return false;
    x = (point.x() - m.tx) / m.a / 20.0;
    y = (point.y() - m.ty) / m.d / 20.0;
    return true;
}

void TShockwaveFlash::ForwardMouseMove(const QPoint& point) {
    double x = 0, y = 0;
    if (!ToStage(point, x, y)) return;
    std::lock_guard lock(mutex_);
    if (player_) player_->MouseMove(x, y);
    update();
}

void TShockwaveFlash::ForwardMouseDown(const QPoint& point) {
    double x = 0, y = 0;
    if (!ToStage(point, x, y)) return;
    std::lock_guard lock(mutex_);
    if (player_) player_->MouseDown(x, y);
    update();
}

void TShockwaveFlash::ForwardMouseUp(const QPoint& point) {
    double x = 0, y = 0;
    if (!ToStage(point, x, y)) return;
    std::lock_guard lock(mutex_);
    if (player_) player_->MouseUp(x, y);
    update();
}

void TShockwaveFlash::ForwardKey(QKeyEvent* event, bool down) {
    const uint8_t key = FlashKeyCode(*event);
    if (key == 0) return;
    std::lock_guard lock(mutex_);
    if (!player_) return;
    if (down) player_->KeyDown(key);
    else player_->KeyUp(key);
    update();
}

// --- TShockwaveFlashEx

TShockwaveFlashEx::TShockwaveFlashEx(QWidget* parent) : TShockwaveFlash(parent) {}

void TShockwaveFlashEx::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(event->modifiers(), p.x(), p.y());
    ForwardMouseMove(p);
}

void TShockwaveFlashEx::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (OnMouseDown) OnMouseDown(Button::Left, event->modifiers(), p.x(), p.y());
        pressed_ = true;
        if (!lock_mouse_click_) ForwardMouseDown(p);
    } else if (event->button() == Qt::RightButton) {
        // Either button arms the click; the player has no right-button use,
        // so withholding it when Menu is false changes nothing it sees.
        pressed_ = true;
    }
}

void TShockwaveFlashEx::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (OnMouseUp) OnMouseUp(Button::Left, event->modifiers(), p.x(), p.y());
        if (pressed_ && OnClick) OnClick();
        pressed_ = false;
        if (!lock_mouse_click_) ForwardMouseUp(p);
    } else if (event->button() == Qt::RightButton) {
        if (popup_menu_ && pressed_) {
            pressed_ = false;
            const QPoint global = mapToGlobal(p);
            if (OnPopup) OnPopup(global);
            else popup_menu_->popup(global);
        }
    }
}

void TShockwaveFlashEx::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click reaches the player as a press.
    if (event->button() == Qt::LeftButton && !lock_mouse_click_) ForwardMouseDown(event->position().toPoint());
}

void TShockwaveFlashEx::keyPressEvent(QKeyEvent* event) {
    if (OnKeyDown) OnKeyDown(event->key(), event->modifiers());
    ForwardKey(event, true);
}

void TShockwaveFlashEx::keyReleaseEvent(QKeyEvent* event) { ForwardKey(event, false); }

}  // namespace qm::player
