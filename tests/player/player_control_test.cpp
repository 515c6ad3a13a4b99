// The player control and the snapshot worker under the offscreen platform,
// with movies written by the test writer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/audio.h"

#include "app/core/app_core.h"
#include "player/qt/shockwave_flash.h"
#include "player/qt/snapshot_thread.h"
#include "testing/swfwriter/swfwriter.h"

namespace {

namespace w = qm::swfwriter;
using qm::player::FrameSchedule;
using qm::player::TShockwaveFlash;
using qm::player::TShockwaveFlashEx;
using qm::player::TSnapshotThread;

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_player";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: Qt's input devices do not survive the end of the program's statics.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct FakeClock : qm::audio::Clock {
    int64_t now = 1'000'000;
    int64_t NowMicros() override { return now; }
    void SleepUntil(int64_t micros) override { now = std::max(now, micros); }
};

// A 300x40 stage, 30 frames: frame i shows a red 10 px column at x = 10 i on
// white. With `button`, a button over the whole stage goes to frame 20 and
// stops when released; with `keys`, Enter goes to frame 10 and "a" to frame 5.
QString WriteMovie(const QTemporaryDir& dir, const QString& name, uint16_t rate = 12 << 8, bool button = false,
                   bool keys = false) {
    w::Movie movie({.version = 6, .frame = w::Rect::pixels(300, 40), .frameRate = rate});
    movie.setBackgroundColor({255, 255, 255});
    w::Shape column;
    column.fill0(column.addFill(w::FillStyle::solid({255, 0, 0}))).rect(0, 0, 200, 800);
    const uint16_t column_id = movie.defineShape(column);
    if (button) {
        w::Shape cover;
        cover.fill0(cover.addFill(w::FillStyle::solid({0, 0, 255, 0}))).rect(0, 0, 6000, 800);
        const uint16_t cover_id = movie.defineShape(cover);
        const uint16_t button_id =
            movie.defineButton({{.character = cover_id, .depth = 1}}, w::Actions().gotoFrame(20).stop());
        movie.place({.depth = 2, .character = button_id});
    }
    if (keys) {
        w::Shape dot;
        dot.fill0(dot.addFill(w::FillStyle::solid({0, 0, 0, 0}))).rect(0, 0, 20, 20);
        const uint16_t dot_id = movie.defineShape(dot);
        const uint16_t keys_id = movie.defineButton2(
            {{.character = dot_id, .depth = 1}},
            {{.conditions = w::keyPress(13), .actions = w::Actions().gotoFrame(10).stop()},
             {.conditions = w::keyPress('a'), .actions = w::Actions().gotoFrame(5).stop()}});
        movie.place({.depth = 3, .character = keys_id});
    }
    for (int i = 0; i < 30; ++i) {
        if (i == 0) movie.place({.depth = 1, .character = column_id});
        else movie.place({.depth = 1, .move = true, .matrix = w::Matrix::translate(200 * i, 0)});
        movie.showFrame();
    }
    const QString path = dir.filePath(name);
    movie.save(path.toStdString());
    return path;
}

// The columns of row 20 that are red; a whole frame shows exactly one 10 px run.
std::vector<int> RedColumns(const QImage& picture) {
    std::vector<int> xs;
    for (int x = 0; x < picture.width(); ++x) {
        const QRgb p = picture.pixel(x, 20);
        if (qRed(p) > 200 && qGreen(p) < 50 && qBlue(p) < 50) xs.push_back(x);
    }
    return xs;
}

int ShownColumn(const TShockwaveFlash& control) {
    QImage picture(300, 40, QImage::Format_ARGB32_Premultiplied);
    control.PaintTo(picture);
    const std::vector<int> xs = RedColumns(picture);
    if (xs.size() != 10 || xs.back() - xs.front() != 9) return -1;
    return xs.front() / 10;
}

class PlayerControl : public ::testing::Test {
protected:
    // Before any member widget of a fixture is made: each test may run in a process of its own.
    PlayerControl() { App(); }
    void SetUp() override {
        App();
        ASSERT_TRUE(dir_.isValid());
    }
    QTemporaryDir dir_;
};

TEST(FrameScheduleTest, FramesFallDueFromTheStartWithoutDrift) {
    struct Case {
        uint16_t rate;
        int64_t after_us;
        uint64_t shown;
    };
    const Case cases[] = {
        {12 << 8, 0, 1},           {12 << 8, 83'333, 1},          {12 << 8, 83'334, 2},
        {12 << 8, 1'000'000, 13},  {12 << 8, 60'000'000, 721},    {7672, 60'000'000, 1799},  // 29.97 fps
        {0, 2'500'000, 3},  // no rate counts as one frame a second
        {12 << 8, 3'600'000'000, 43'201},
    };
    for (const Case& c : cases) {
        FrameSchedule s;
        s.Start(5'000, c.rate);
        EXPECT_EQ(s.FramesDueBy(5'000 + c.after_us), c.shown) << c.rate << " " << c.after_us;
        // A frame is due at the first microsecond that counts it.
        const int64_t due = s.DueTime(c.shown - 1);
        EXPECT_EQ(s.FramesDueBy(due), c.shown);
        if (c.shown > 1) {
            EXPECT_EQ(s.FramesDueBy(due - 1), c.shown - 1);
        }
    }
}

// Sixty seconds of playback on a clock the test moves, with irregular and
// sometimes very late ticks: every frame due is advanced, none more.
TEST_F(PlayerControl, SixtySecondsOfPlaybackKeepToTheClock) {
    for (uint16_t rate : {uint16_t(12 << 8), uint16_t(7672)}) {
        FakeClock clock;
        TShockwaveFlash control;
        control.SetTimerEnabled(false);
        control.SetSoundEnabled(false);
        control.SetClock(&clock);
        control.SetMovie(WriteMovie(dir_, QStringLiteral("drift.swf"), rate));
        const int64_t start = clock.now;
        const int64_t steps[] = {1'000, 16'667, 41'000, 90'000, 333'333, 7'919, 250'000};
        for (int i = 0; clock.now - start < 60'000'000; ++i) {
            clock.now += steps[i % 7];
            control.Tick();
            const uint64_t due = uint64_t((clock.now - start) * int64_t(rate) / 256'000'000) + 1;
            ASSERT_EQ(control.FramesAdvanced(), due) << "rate " << rate << " at " << clock.now - start;
        }
    }
}

TEST_F(PlayerControl, PlaysInRealTime) {
    TShockwaveFlash control;
    control.SetSoundEnabled(false);
    const auto begin = std::chrono::steady_clock::now();
    control.SetMovie(WriteMovie(dir_, QStringLiteral("clock.swf")));
    QTest::qWait(1000);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // 12 +- 1 on a quiet machine; the margin leaves room for a busy one.
    const int expected = int(elapsed * 12);
    EXPECT_GE(control.CurrentFrame(), expected - 3);
    EXPECT_LE(control.CurrentFrame(), expected + 1);
    EXPECT_GE(control.CurrentFrame(), 9);
}

TEST_F(PlayerControl, MembersControlTheMovie) {
    FakeClock clock;
    TShockwaveFlash control;
    control.resize(300, 40);
    control.SetTimerEnabled(false);
    control.SetSoundEnabled(false);
    control.SetClock(&clock);
    const QString path = WriteMovie(dir_, QStringLiteral("members.swf"));
    control.SetMovie(path);
    EXPECT_EQ(control.Movie(), path);
    EXPECT_EQ(control.TotalFrames(), 30);
    EXPECT_EQ(control.CurrentFrame(), 0);
    EXPECT_EQ(ShownColumn(control), 0);

    clock.now += 250'000;  // three frames
    control.Tick();
    EXPECT_EQ(control.CurrentFrame(), 3);
    control.Stop();
    clock.now += 500'000;
    control.Tick();
    EXPECT_EQ(control.CurrentFrame(), 3);
    EXPECT_EQ(ShownColumn(control), 3);
    control.GotoFrame(17);
    EXPECT_EQ(control.CurrentFrame(), 17);
    EXPECT_EQ(ShownColumn(control), 17);
    control.Play();
    clock.now += 84'000;
    control.Tick();
    EXPECT_EQ(control.CurrentFrame(), 18);

    // Looping wraps; without it the movie stays on its last frame.
    clock.now += 2'000'000;
    control.Tick();
    EXPECT_LT(control.CurrentFrame(), 18);
    control.SetLoop(false);
    control.GotoFrame(25);
    clock.now += 1'000'000;
    control.Tick();
    EXPECT_EQ(control.CurrentFrame(), 29);

    // Renderings of one state are the same pixels.
    QImage a(300, 40, QImage::Format_ARGB32_Premultiplied), b(300, 40, QImage::Format_ARGB32_Premultiplied);
    control.PaintTo(a);
    control.PaintTo(b);
    EXPECT_EQ(a, b);

    for (const QString& blank : {QStringLiteral("None.swf"), dir_.filePath(QStringLiteral("missing.swf"))}) {
        control.SetMovie(path);
        control.SetMovie(blank);
        EXPECT_EQ(control.Movie(), blank);
        EXPECT_EQ(control.TotalFrames(), 0);
        EXPECT_EQ(control.CurrentFrame(), -1);
        EXPECT_EQ(ShownColumn(control), -1);
        control.Tick();  // nothing to play
        control.Play();
        control.GotoFrame(3);
    }
    EXPECT_FALSE(control.LoadError().isEmpty());  // the missing file says why

    // Damaged bytes load nothing and leave the control blank.
    const QString damaged = dir_.filePath(QStringLiteral("damaged.swf"));
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FWS\x06garbage");
    f.close();
    control.SetMovie(damaged);
    EXPECT_EQ(control.TotalFrames(), 0);
    EXPECT_FALSE(control.LoadError().isEmpty());
}

TEST_F(PlayerControl, ClickAndMenuRules) {
    struct Events {
        int down = 0, up = 0, click = 0, popup = 0;
    };
    auto make = [&](TShockwaveFlashEx& control, Events& events, bool lock) {
        control.resize(300, 40);
        control.SetTimerEnabled(false);
        control.SetSoundEnabled(false);
        control.SetLockMouseClick(lock);
        control.OnMouseDown = [&](TShockwaveFlashEx::Button, Qt::KeyboardModifiers, int, int) { ++events.down; };
        control.OnMouseUp = [&](TShockwaveFlashEx::Button, Qt::KeyboardModifiers, int, int) { ++events.up; };
        control.OnClick = [&] { ++events.click; };
        control.OnPopup = [&](const QPoint&) { ++events.popup; };
        control.SetMovie(WriteMovie(dir_, QStringLiteral("button.swf"), 12 << 8, true));
    };
    const QPoint at(150, 20);
    // A right press then a left release is a click.
    {
        TShockwaveFlashEx control;
        Events events;
        make(control, events, false);
        QTest::mousePress(&control, Qt::RightButton, {}, at);
        QTest::mouseRelease(&control, Qt::LeftButton, {}, at);
        EXPECT_EQ(events.click, 1);
        EXPECT_EQ(events.up, 1);
    }
    // Clicks reach the movie's button unless locked away; the events fire either way.
    for (bool lock : {false, true}) {
        TShockwaveFlashEx control;
        Events events;
        make(control, events, lock);
        QTest::mouseMove(&control, at);
        QTest::mousePress(&control, Qt::LeftButton, {}, at);
        QTest::mouseRelease(&control, Qt::LeftButton, {}, at);
        EXPECT_EQ(events.down, 1);
        EXPECT_EQ(events.up, 1);
        EXPECT_EQ(events.click, 1);
        EXPECT_EQ(control.CurrentFrame(), lock ? 0 : 20) << "lock " << lock;
    }
    // With Menu false and a popup menu, a right click shows the host's menu;
    // a right release without a press before it shows nothing.
    {
        TShockwaveFlashEx control;
        Events events;
        make(control, events, false);
        QMenu menu;
        control.SetMenu(false);
        control.SetPopupMenu(&menu);
        QTest::mouseRelease(&control, Qt::RightButton, {}, at);
        EXPECT_EQ(events.popup, 0);
        QTest::mousePress(&control, Qt::RightButton, {}, at);
        QTest::mouseRelease(&control, Qt::RightButton, {}, at);
        EXPECT_EQ(events.popup, 1);
        EXPECT_EQ(events.click, 0);
    }
}

TEST_F(PlayerControl, KeysReachTheMovieAndTheHost) {
    TShockwaveFlashEx control;
    control.SetTimerEnabled(false);
    control.SetSoundEnabled(false);
    std::vector<int> keys;
    control.OnKeyDown = [&](int key, Qt::KeyboardModifiers) { keys.push_back(key); };
    control.SetMovie(WriteMovie(dir_, QStringLiteral("keys.swf"), 12 << 8, false, true));
    QTest::keyClick(&control, Qt::Key_Return);
    EXPECT_EQ(control.CurrentFrame(), 10);
    QTest::keyClick(&control, Qt::Key_A);
    EXPECT_EQ(control.CurrentFrame(), 5);
    QTest::keyClick(&control, Qt::Key_F5);  // no key the movie knows: the host still hears it
    EXPECT_EQ(control.CurrentFrame(), 5);
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Return, Qt::Key_A, Qt::Key_F5}));
}

// The movie's sound leaves through the audio output frame by frame: a tone
// started on frame 6 of a 12 fps movie begins half a second into what the
// output plays.
TEST_F(PlayerControl, SoundPlaysInStepWithTheFrames) {
    struct Recorder : qm::audio::OutputHook {
        std::mutex mutex;
        size_t frames = 0, first_loud = SIZE_MAX;
        void Opened(const qm::audio::WaveFormat&) override {}
        void BlockWritten(const void* data, size_t bytes) override {
            std::lock_guard lock(mutex);
            const auto* s = static_cast<const int16_t*>(data);
            for (size_t i = 0; i < bytes / 4; ++i, ++frames)
                if (first_loud == SIZE_MAX && std::abs(s[i * 2]) > 1000) first_loud = frames;
        }
    } recorder;
    w::Movie movie({.version = 6, .frame = w::Rect::pixels(100, 100), .frameRate = 12 << 8});
    w::Bytes tone;
    for (int i = 0; i < 44100; ++i) {
        tone.push_back(uint8_t(12000 & 0xFF));
        tone.push_back(uint8_t(12000 >> 8));
    }
    const uint16_t sound = movie.defineSound({3, 3, true, false}, 44100, tone);
    for (int f = 0; f < 30; ++f) {
        if (f == 6) movie.startSound(sound);
        movie.showFrame();
    }
    const QString path = dir_.filePath(QStringLiteral("tone.swf"));
    movie.save(path.toStdString());

    qm::audio::hooks::Install(&recorder);
    qm::audio::hooks::SetOpenHookOn(true);
    qm::audio::hooks::SetWriteHookOn(true);
    uint64_t advanced = 0;
    {
        TShockwaveFlash control;
        control.SetMovie(path);
        QTest::qWait(1500);
        advanced = control.FramesAdvanced();
    }
    qm::audio::hooks::SetWriteHookOn(false);
    qm::audio::hooks::SetOpenHookOn(false);
    qm::audio::hooks::Remove(&recorder);
    std::lock_guard lock(recorder.mutex);
    const size_t per_frame = 44100 / 12;
    ASSERT_NE(recorder.first_loud, SIZE_MAX) << "no sound played";
    // One frame's sound may be dropped on a busy machine, never more than was mixed.
    EXPECT_LE(recorder.first_loud, 6 * per_frame);
    EXPECT_GE(recorder.first_loud, 5 * per_frame);
    EXPECT_LE(recorder.frames, advanced * per_frame);
}

// Another thread paints 25 times a second while the control plays in real
// time: every picture is one whole frame.
TEST_F(PlayerControl, PaintToFromAnotherThreadDuringPlayback) {
    TShockwaveFlash control;
    control.resize(300, 40);
    control.SetMovie(WriteMovie(dir_, QStringLiteral("paint.swf"), 24 << 8));
    std::atomic<bool> done{false};
    std::atomic<int> pictures{0}, torn{0};
    std::thread painter([&] {
        QImage picture(300, 40, QImage::Format_ARGB32_Premultiplied);
        while (!done) {
            control.PaintTo(picture);
            ++pictures;
            const std::vector<int> xs = RedColumns(picture);
            if (xs.size() != 10 || xs.back() - xs.front() != 9 || xs.front() % 10 != 0) {
                ++torn;
                ADD_FAILURE() << "red pixels " << xs.size() << " from " << (xs.empty() ? -1 : xs.front());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    QTest::qWait(2000);
    control.SetMovie(WriteMovie(dir_, QStringLiteral("paint2.swf"), 24 << 8));  // a swap while painting
    QTest::qWait(300);
    done = true;
    painter.join();
    EXPECT_GT(pictures.load(), 20);
    EXPECT_EQ(torn.load(), 0);
}

// --- Snapshots

class Snapshots : public PlayerControl {
protected:
    void SetUp() override {
        PlayerControl::SetUp();
        folder_ = dir_.filePath(QStringLiteral("shots"));
        ASSERT_TRUE(QDir().mkpath(folder_));
        qm::app::SnapshotPath = folder_ + QLatin1Char('/');
        control_.resize(300, 40);
        control_.SetTimerEnabled(false);
        control_.SetSoundEnabled(false);
    }
    QByteArray Read(const QString& name) {
        QFile f(QDir(folder_).filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString folder_;
    TShockwaveFlash control_;
};

TEST_F(Snapshots, NumberedFilesInTheChosenFormat) {
    const QString movie = WriteMovie(dir_, QStringLiteral("intro.swf"));
    control_.SetMovie(movie);
    control_.GotoFrame(4);
    qm::app::SnapshotExt = QStringLiteral("jpg");
    {
        TSnapshotThread worker(&control_, movie);
        control_.resize(600, 80);  // the picture keeps the size of its creation
        for (int i = 0; i < 3; ++i) {
            worker.Wake();
            worker.WaitIdle();
        }
        for (const char* name : {"intro_0.jpg", "intro_1.jpg", "intro_2.jpg"}) {
            const QByteArray jpeg = Read(QLatin1String(name));
            ASSERT_TRUE(jpeg.startsWith("\xFF\xD8")) << name;
            EXPECT_TRUE(jpeg.contains("\xFF\xC0")) << "baseline frame header";
            EXPECT_FALSE(jpeg.contains("\xFF\xC2")) << "no progressive frame header";
        }
        const QImage shot(QDir(folder_).filePath(QStringLiteral("intro_1.jpg")));
        EXPECT_EQ(shot.size(), QSize(300, 40));
        const QRgb p = shot.pixel(45, 20);  // frame 4's column
        EXPECT_GT(qRed(p), 200);
        EXPECT_LT(qGreen(p), 60);
        ASSERT_TRUE(QFile::remove(QDir(folder_).filePath(QStringLiteral("intro_0.jpg"))));
        worker.Wake();
        worker.WaitIdle();
        EXPECT_EQ(QFileInfo(worker.LastWritten()).fileName(), QStringLiteral("intro_0.jpg"));
    }

    const QString dotted = WriteMovie(dir_, QStringLiteral("clip.part.swf"));
    qm::app::SnapshotExt = QStringLiteral("bmp");
    TSnapshotThread worker(&control_, dotted);
    worker.Wake();
    worker.WaitIdle();
    const QByteArray bmp = Read(QStringLiteral("clip.part_0.bmp"));
    EXPECT_TRUE(bmp.startsWith("BM"));
    EXPECT_EQ(QImage::fromData(bmp).size(), QSize(600, 80));
}

TEST_F(Snapshots, NoWakeWritesNothingAndAFailedWriteIsLoggedAndRecovers) {
    const QString movie = WriteMovie(dir_, QStringLiteral("quiet.swf"));
    control_.SetMovie(movie);
    qm::app::SnapshotExt = QStringLiteral("bmp");
    { TSnapshotThread worker(&control_, movie); }
    EXPECT_TRUE(QDir(folder_).entryList(QDir::Files).isEmpty());

    qm::app::SnapshotPath = dir_.filePath(QStringLiteral("gone/"));
    TSnapshotThread worker(&control_, movie);
    worker.Wake();
    worker.WaitIdle();
    EXPECT_FALSE(worker.LastError().isEmpty());
    EXPECT_TRUE(worker.LastWritten().isEmpty());
    // The folder comes back: the next press works.
    ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("gone"))));
    worker.Wake();
    worker.WaitIdle();
    EXPECT_TRUE(worker.LastError().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir_.filePath(QStringLiteral("gone/quiet_0.bmp"))));
}

}  // namespace
