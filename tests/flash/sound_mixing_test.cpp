// The player's sound on the frame clock: event sounds start on their frame's
// first sample, streams follow their timelines through gotos and stops,
// sound info and script calls shape what is heard.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/flash/player_test_support.h"

namespace qm::flash::testing {
namespace {

// Mono 16-bit PCM at 44.1 kHz holding one value.
w::Bytes Constant(int16_t value, size_t frames) {
    w::Bytes b;
    for (size_t i = 0; i < frames; ++i) {
        b.push_back(uint8_t(value & 0xFF));
        b.push_back(uint8_t((uint16_t(value) >> 8) & 0xFF));
    }
    return b;
}

w::Bytes StereoConstant(int16_t left, int16_t right, size_t frames) {
    w::Bytes b;
    for (size_t i = 0; i < frames; ++i) {
        for (int16_t v : {left, right}) {
            b.push_back(uint8_t(v & 0xFF));
            b.push_back(uint8_t((uint16_t(v) >> 8) & 0xFF));
        }
    }
    return b;
}

w::Movie MovieAt(double fps) {
    w::Header h;
    h.frameRate = uint16_t(std::lround(fps * 256));
    return w::Movie(h);
}

// Advances `frames` times, mixing each frame's samples right after it.
std::vector<int16_t> Play(Player& player, int frames) {
    std::vector<int16_t> out;
    for (int k = 1; k <= frames; ++k) {
        player.Advance();
        const size_t n = size_t(player.SoundSamplesBefore(k) - player.SoundSamplesBefore(k - 1));
        const size_t at = out.size();
        out.resize(at + n * 2);
        player.Mix(out.data() + at, n);
    }
    return out;
}

int16_t LeftAt(const std::vector<int16_t>& s, size_t frame) { return s[frame * 2]; }
int16_t RightAt(const std::vector<int16_t>& s, size_t frame) { return s[frame * 2 + 1]; }

size_t FirstSound(const std::vector<int16_t>& s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i]) return i / 2;
    return SIZE_MAX;
}

size_t LastSound(const std::vector<int16_t>& s) {
    for (size_t i = s.size(); i-- > 0;)
        if (s[i]) return i / 2;
    return SIZE_MAX;
}

TEST(SoundClock, SamplesBeforeFramesAreExactForFractionalRates) {
    struct Case {
        uint16_t rate_8_8;
        uint64_t frame;
        uint64_t samples;
    } cases[] = {
        {20 << 8, 10, 22050},
        {24 << 8, 1, 1837},            // 1837.5, floored
        {24 << 8, 2, 3675},
        {uint16_t(12.5 * 256), 25, 88200},
        {7670, 29, 42685},  // 29.96 fps
    };
    for (const Case& c : cases) {
        w::Header h;
        h.frameRate = c.rate_8_8;
        w::Movie m(h);
        m.showFrame();
        auto player = Load(m);
        EXPECT_EQ(player->SoundSamplesBefore(c.frame), c.samples) << c.rate_8_8;
    }
}

TEST(EventSound, StartsOnTheFirstSampleOfItsFrameAtAnyMixingPace) {
    w::Movie m = MovieAt(20);
    const uint16_t tone = m.defineSound({3, 3, true, false}, 4410, Constant(12000, 4410));
    for (int f = 0; f < 20; ++f) {
        if (f == 10) m.startSound(tone);
        m.showFrame();
    }
    auto player = Load(m);
    std::vector<int16_t> framewise = Play(*player, 20);
    ASSERT_EQ(framewise.size(), 44100u * 2);
    EXPECT_EQ(FirstSound(framewise), 22050u);
    EXPECT_EQ(LastSound(framewise), 22050u + 4409);
    EXPECT_EQ(LeftAt(framewise, 22050), 12000);
    EXPECT_EQ(RightAt(framewise, 22050), 12000);

    // A caller that mixes in blocks of its own, lagging behind the frames,
    // hears the same.
    auto lagging = Load(m);
    std::vector<int16_t> blocks(44100 * 2);
    size_t mixed = 0;
    for (int k = 1; k <= 20; ++k) {
        lagging->Advance();
        while (mixed + 1024 <= lagging->SoundSamplesBefore(k - 1)) {
            lagging->Mix(blocks.data() + mixed * 2, 1024);
            mixed += 1024;
        }
    }
    lagging->Mix(blocks.data() + mixed * 2, 44100 - mixed);
    EXPECT_EQ(blocks, framewise);
}

// A stream whose block for frame f holds 2205 samples of the value 100 * (f + 1).
w::Movie StreamMovie(int stream_frames, int total_frames, const std::vector<std::pair<int, w::Actions>>& scripts) {
    w::Movie m = MovieAt(20);
    m.soundStreamHead({3, 3, true, false}, 2205);
    for (int f = 0; f < total_frames; ++f) {
        if (f < stream_frames) m.soundStreamBlock(Constant(int16_t(100 * (f + 1)), 2205));
        for (const auto& [frame, actions] : scripts)
            if (frame == f) m.doAction(actions);
        m.showFrame();
    }
    return m;
}

// The stream frame heard in each frame interval (0: silence); -1 when the
// interval is not one value throughout.
std::vector<int> HeardFrames(const std::vector<int16_t>& s, int intervals) {
    std::vector<int> heard;
    for (int k = 0; k < intervals; ++k) {
        const int16_t v = s[size_t(k) * 2205 * 2];
        bool same = true;
        for (size_t i = size_t(k) * 2205 * 2; i < size_t(k + 1) * 2205 * 2; ++i) same = same && s[i] == v;
        heard.push_back(same ? v / 100 : -1);
    }
    return heard;
}

TEST(StreamSound, LastsExactlyItsFramesAndFollowsGotosAndStops) {
    {
        // 3 s over 60 frames at 20 fps, then 20 silent frames.
        auto player = Load(StreamMovie(60, 80, {}));
        std::vector<int16_t> s = Play(*player, 80);
        EXPECT_EQ(FirstSound(s), 0u);
        EXPECT_EQ(LastSound(s), 132300u - 1);
        std::vector<int> heard = HeardFrames(s, 60);
        for (int k = 0; k < 60; ++k) EXPECT_EQ(heard[size_t(k)], k + 1) << k;
    }
    {
        w::Actions forward;
        forward.gotoFrame(40).play();
        w::Actions back;
        back.gotoFrame(5).play();
        auto player = Load(StreamMovie(60, 60, {{10, forward}, {45, back}}));
        std::vector<int16_t> s = Play(*player, 24);
        std::vector<int> expected;
        for (int f = 0; f < 10; ++f) expected.push_back(f + 1);
        // Frame 10 jumps to frame 40 and plays on; frame 45 goes back to 5,
        // and on to 10 and 40 again.
        for (int f = 40; f < 45; ++f) expected.push_back(f + 1);
        for (int f = 5; f < 10; ++f) expected.push_back(f + 1);
        for (int f = 40; f < 44; ++f) expected.push_back(f + 1);
        EXPECT_EQ(HeardFrames(s, 24), expected);
    }
    {
        w::Actions halt;
        halt.stop();
        auto player = Load(StreamMovie(60, 60, {{20, halt}}));
        std::vector<int16_t> s = Play(*player, 30);
        EXPECT_EQ(LastSound(s), 21u * 2205 - 1);
        // The host's goto restarts it in step: frame 30 now, 31 next.
        player->GotoFrame(30);
        player->Play();
        std::vector<int16_t> more(2205 * 2 * 3);
        for (int i = 0; i < 3; ++i) {
            player->Advance();
            player->Mix(more.data() + i * 2205 * 2, 2205);
        }
        EXPECT_EQ(HeardFrames(more, 3), (std::vector<int>{32, 33, 34}));
    }
}

TEST(StreamSound, ClipsStreamTheirOwnAndStopWhenRemoved) {
    // A clip with a stream of 20 frames (value 100 * (f + 1)) under a main
    // timeline with a stream of its own (value 7); the clip goes on frame 6.
    w::Movie m = MovieAt(20);
    w::Sprite clip = m.sprite();
    clip.soundStreamHead({3, 3, true, false}, 2205);
    for (int f = 0; f < 20; ++f) {
        clip.soundStreamBlock(Constant(int16_t(100 * (f + 1)), 2205));
        clip.showFrame();
    }
    const uint16_t id = m.defineSprite(clip);
    m.soundStreamHead({3, 3, true, false}, 2205);
    m.place({.depth = 1, .character = id});
    for (int f = 0; f < 10; ++f) {
        if (f == 6) m.removeObject2(1);
        m.soundStreamBlock(Constant(7, 2205));
        m.showFrame();
    }
    auto player = Load(m);
    std::vector<int16_t> s = Play(*player, 8);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(LeftAt(s, size_t(k) * 2205 + 9), 100 * (k + 1) + 7) << k;
    EXPECT_EQ(LeftAt(s, 6 * 2205 + 9), 7);
    EXPECT_EQ(LeftAt(s, 7 * 2205 + 9), 7);
}

TEST(StreamSound, AdpcmBlocksKeepTheirFrames) {
    // 3-bit codes leave room for one more code in each block's last byte.
    w::Movie m = MovieAt(20);
    m.soundStreamHead({1, 3, true, false}, 2205);
    for (int f = 0; f < 60; ++f) {
        m.soundStreamBlock(w::encodeADPCM(std::vector<int16_t>(2205, int16_t(1000 + 100 * f)), 3));
        m.showFrame();
    }
    m.showFrame();
    auto player = Load(m);
    std::vector<int16_t> s = Play(*player, 61);
    EXPECT_EQ(LastSound(s), 132300u - 1);
    // Each frame begins with its block's first sample.
    for (int f = 0; f < 60; f += 7) EXPECT_EQ(LeftAt(s, size_t(f) * 2205), 1000 + 100 * f) << f;
}

TEST(EventSound, SoundInfoShapesWhatIsHeard) {
    struct Case {
        const char* name;
        w::SoundInfo info;
        size_t first, last;                       // sounding sample frames
        std::vector<std::pair<size_t, std::pair<int, int>>> probes;  // frame -> (left, right)
    };
    w::SoundEnvelopePoint fade_in_left{0, 0, 32768}, full_left{1000, 32768, 32768};
    w::SoundEnvelopePoint loud{0, 32768, 32768}, quiet{1500, 16384, 0};
    Case cases[] = {
        {"plain", {}, 0, 999, {{0, {8000, 4000}}, {999, {8000, 4000}}}},
        {"three loops", {.loops = 3}, 0, 2999, {{1000, {8000, 4000}}, {2999, {8000, 4000}}}},
        {"in and out points, twice", {.inPoint = 100, .outPoint = 600, .loops = 2}, 0, 999, {{500, {8000, 4000}}}},
        {"envelope", {.envelope = {fade_in_left, full_left}}, 0, 999,
         {{0, {0, 4000}}, {500, {4000, 4000}}, {999, {7992, 4000}}}},
        // Envelope positions run on over the loops and hold their last level.
        {"envelope over loops", {.loops = 2, .envelope = {loud, quiet}}, 0, 1999,
         {{0, {8000, 4000}}, {1500, {4000, 0}}, {1999, {4000, 0}}}},
    };
    for (const Case& c : cases) {
        w::Movie m = MovieAt(20);
        const uint16_t tone = m.defineSound({3, 3, true, true}, 1000, StereoConstant(8000, 4000, 1000));
        m.startSound(tone, c.info);
        for (int f = 0; f < 4; ++f) m.showFrame();
        auto player = Load(m);
        std::vector<int16_t> s = Play(*player, 4);
        EXPECT_EQ(FirstSound(s), c.first) << c.name;
        EXPECT_EQ(LastSound(s), c.last) << c.name;
        for (const auto& [frame, lr] : c.probes) {
            EXPECT_NEAR(LeftAt(s, frame), lr.first, 2) << c.name << " at " << frame;
            EXPECT_NEAR(RightAt(s, frame), lr.second, 2) << c.name << " at " << frame;
        }
    }
}

TEST(EventSound, NoMultipleAndStopAndStopSounds) {
    w::Movie m = MovieAt(20);
    const uint16_t tone = m.defineSound({3, 3, true, false}, 44100, Constant(1000, 44100));
    m.startSound(tone);
    m.showFrame();
    m.startSound(tone, {.noMultiple = true});  // frame 1: still playing, not doubled
    m.showFrame();
    m.startSound(tone);                        // frame 2: doubled
    m.showFrame();
    m.startSound(tone, {.syncStop = true});    // frame 3: both stop
    m.showFrame();
    m.startSound(tone);                        // frame 4: again, until stopSounds on frame 5
    m.showFrame();
    w::Actions all;
    all.stopSounds();
    m.doAction(all);
    m.showFrame();
    m.showFrame();
    // The stop action must work under the timeline runner and the interpreter alike.
    for (bool timeline_host : {true, false}) {
        SCOPED_TRACE(timeline_host ? "timeline host" : "interpreter");
        auto player = Load(m);
        if (timeline_host) player->SetScriptHost(MakeTimelineScriptHost());
        std::vector<int16_t> s = Play(*player, 7);
        EXPECT_EQ(LeftAt(s, 2205 * 1 + 5), 1000);
        EXPECT_EQ(LeftAt(s, 2205 * 2 + 5), 2000);
        EXPECT_EQ(LeftAt(s, 2205 * 3 + 5), 0);
        EXPECT_EQ(LeftAt(s, 2205 * 4 + 5), 1000);
        EXPECT_EQ(LastSound(s), 2205u * 5 - 1);
    }
}

TEST(EventSound, AMovieStartingSoundsEveryFrameIsHeardWithinBounds) {
    w::Movie m = MovieAt(20);
    const uint16_t tone = m.defineSound({3, 3, true, false}, 441, Constant(10, 441));
    for (int f = 0; f < 3; ++f) {
        for (int i = 0; i < 100; ++i) m.startSound(tone, {.loops = 60000});
        m.showFrame();
    }
    auto player = Load(m);
    std::vector<int16_t> s = Play(*player, 3);
    // 64 sounds at once, no more, and they go on.
    EXPECT_EQ(LeftAt(s, 0), 640);
    EXPECT_EQ(LeftAt(s, 2205 * 2 + 5), 640);
}

// A host that runs a test's own calls on the first frame script.
struct CallingHost : ScriptHost {
    std::function<void(ScriptEnvironment&, DisplayObject&)> on_frame;
    void Run(ScriptEnvironment& env, DisplayObject& clip, std::span<const uint8_t>, ScriptKind) override {
        if (on_frame) on_frame(env, clip);
    }
};

TEST(ScriptSound, StartStopTransformPositionAndDuration) {
    w::Movie m = MovieAt(20);
    const uint16_t tone = m.defineSound({3, 1, true, false}, 11025, Constant(10000, 11025));  // 1 s at 11 kHz
    m.exportAssets({{tone, "Tone"}});
    w::Actions any;
    any.play();
    for (int f = 0; f < 40; ++f) {
        m.doAction(any);
        m.showFrame();
    }
    auto player = Load(m);
    auto host = std::make_unique<CallingHost>();
    CallingHost* calls = host.get();
    player->SetScriptHost(std::move(host));
    uint64_t handle = 0;
    int frame = 0;
    std::vector<uint32_t> positions;
    std::vector<bool> playing;
    calls->on_frame = [&](ScriptEnvironment& env, DisplayObject& clip) {
        if (frame == 0) {
            EXPECT_EQ(env.ExportedSound("tone"), tone);
            EXPECT_EQ(env.ExportedSound("Other"), 0);
            EXPECT_EQ(env.SoundDurationMs(tone), 1000u);
            handle = env.StartSound(&clip, env.ExportedSound("Tone"), 0.5, 2);
            EXPECT_NE(handle, 0u);
        }
        if (frame == 2) {
            ScriptEnvironment::SoundTransform half;
            half.volume = 50;
            env.SetSoundTransform(&clip, half);
        }
        if (frame == 3) env.SetSoundPan(&clip, 100);  // right only
        if (frame == 4) {
            EXPECT_EQ(env.SoundPan(&clip), 100);
            env.SetSoundTransform(nullptr, {.volume = 0});  // the whole movie
        }
        if (frame == 5) env.SetSoundTransform(nullptr, {});
        positions.push_back(env.SoundPositionMs(handle));
        playing.push_back(env.SoundPlaying(handle));
        ++frame;
    };
    std::vector<int16_t> s = Play(*player, 40);
    EXPECT_EQ(LeftAt(s, 10), 10000);
    EXPECT_EQ(LeftAt(s, 2205 * 2 + 10), 5000);
    EXPECT_EQ(LeftAt(s, 2205 * 3 + 10), 0);
    EXPECT_EQ(RightAt(s, 2205 * 3 + 10), 5000);
    EXPECT_EQ(RightAt(s, 2205 * 4 + 10), 0);
    EXPECT_EQ(RightAt(s, 2205 * 5 + 10), 5000);
    // 0.5 s of the first loop, then a whole loop: 1.5 s = 30 frames.
    EXPECT_EQ(LastSound(s), 66150u - 1);
    EXPECT_EQ(positions[0], 500u);
    EXPECT_EQ(positions[1], 550u);
    EXPECT_EQ(positions[10], 0u);    // the second loop begins
    EXPECT_EQ(positions[39], 1000u);  // over: where it ended
    EXPECT_TRUE(playing[29]);
    EXPECT_FALSE(playing[30]);

    // Stopping by sound on a clip, and everything.
    frame = 0;
    auto again = Load(m);
    auto host2 = std::make_unique<CallingHost>();
    host2->on_frame = [&](ScriptEnvironment& env, DisplayObject& clip) {
        if (frame == 0) handle = env.StartSound(&clip, tone, 0, 1);
        if (frame == 2) env.StopSounds(&clip, uint16_t(tone + 1));  // another sound: no effect
        if (frame == 3) env.StopSounds(nullptr, 0);
        ++frame;
    };
    again->SetScriptHost(std::move(host2));
    s = Play(*again, 6);
    EXPECT_EQ(LastSound(s), 2205u * 3 - 1);
}

TEST(ButtonSound, TransitionsPlayTheirSounds) {
    w::Movie m = MovieAt(20);
    const uint16_t square = DefineSquare(m, 2000, {255, 0, 0, 255});
    const uint16_t over = m.defineSound({3, 3, true, false}, 100, Constant(3000, 100));
    const uint16_t press = m.defineSound({3, 3, true, false}, 100, Constant(-3000, 100));
    const uint16_t button = m.defineButton2({{.character = square}}, {});
    m.defineButtonSound(button, {0, over, press, 0});
    m.place({.depth = 1, .character = button});
    m.showFrame();
    m.showFrame();
    m.showFrame();
    auto player = Load(m);
    std::vector<int16_t> s(2205 * 2 * 3);
    player->Advance();
    player->Mix(s.data(), 2205);
    player->Advance();
    player->MouseMove(50, 50);
    player->Mix(s.data() + 2205 * 2, 2205);
    player->Advance();
    player->MouseDown(50, 50);
    player->Mix(s.data() + 2205 * 4, 2205);
    EXPECT_EQ(FirstSound(s), 2205u);
    EXPECT_EQ(LeftAt(s, 2205), 3000);
    EXPECT_EQ(LeftAt(s, 2205 * 2), -3000);
    EXPECT_EQ(LastSound(s), 2205u * 2 + 99);
}

TEST(PlayerSound, VolumeAndMuteScaleTheMix) {
    w::Movie m = MovieAt(20);
    const uint16_t tone = m.defineSound({3, 3, true, false}, 44100, Constant(10000, 44100));
    m.startSound(tone);
    for (int f = 0; f < 3; ++f) m.showFrame();
    auto player = Load(m);
    std::vector<int16_t> s(2205 * 2);
    player->Advance();
    player->SetVolume(25);
    player->Mix(s.data(), 2205);
    EXPECT_EQ(s[0], 2500);
    player->SetMuted(true);
    player->Advance();
    player->Mix(s.data(), 2205);
    EXPECT_EQ(LastSound(s), SIZE_MAX);
    player->SetMuted(false);
    player->SetVolume(100);
    player->Advance();
    player->Mix(s.data(), 2205);
    EXPECT_EQ(s[0], 10000);  // muting let the sound go on
}

}  // namespace
}  // namespace qm::flash::testing
