// The real-time capture's rules: the window's layout for the capture size, the engine option
// texts of the capture task, and when the frame input ends a capture in each mode.
#include <gtest/gtest.h>

#include <vector>

#include "conversion/capture_rules.h"

namespace qm::conversion {
namespace {

TEST(CaptureRulesTest, LayoutForTheCaptureSize) {
    struct Case {
        int fitW, fitH, workW, workH;
        int playerW, playerH, playerLeft, playerTop;
        int windowW, windowH, windowLeft, windowTop;
        bool hBar, vBar;
    };
    const Case cases[] = {
        // Small picture: the designed window, the player centred in the 676 x 417 area.
        {322, 242, 1024, 768, 324, 244, 176, 86, 680, 520, 172, 124, false, false},
        {321, 241, 1024, 768, 324, 244, 176, 86, 680, 520, 172, 124, false, false},
        // Wide enough to widen the window, tall enough to heighten it.
        {800, 600, 1024, 768, 800, 600, 0, 0, 804, 703, 110, 32, false, false},
        {640, 480, 1024, 768, 640, 480, 18, 0, 680, 583, 172, 92, false, false},
        // Wider than the work area: a horizontal bar, and 17 more height for it.
        {1280, 360, 1024, 768, 1280, 360, 0, 28, 1024, 537, 0, 115, true, false},
        // Taller than the work area: a vertical bar, and 17 more width for it.
        {400, 900, 1024, 768, 400, 900, 138, 0, 697, 768, 163, 0, false, true},
        // Both bars: the window fills the work area and grows no further.
        {1280, 720, 1024, 768, 1280, 720, 0, 0, 1024, 768, 0, 0, true, true},
        // Exactly as wide as the work area, three rows too tall: the bar's 17 pixels go beyond it.
        {1020, 665, 1024, 768, 1020, 668, 0, 0, 1041, 768, 0, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fitW << "x" << c.fitH << " on " << c.workW << "x" << c.workH);
        const CaptureWindowLayout l = LayOutCaptureWindow(c.fitW, c.fitH, c.workW, c.workH);
        EXPECT_EQ(l.PlayerWidth, c.playerW);
        EXPECT_EQ(l.PlayerHeight, c.playerH);
        EXPECT_EQ(l.PlayerLeft, c.playerLeft);
        EXPECT_EQ(l.PlayerTop, c.playerTop);
        EXPECT_EQ(l.WindowWidth, c.windowW);
        EXPECT_EQ(l.WindowHeight, c.windowH);
        EXPECT_EQ(l.WindowLeft, c.windowLeft);
        EXPECT_EQ(l.WindowTop, c.windowTop);
        EXPECT_EQ(l.HorizontalScrollBar, c.hBar);
        EXPECT_EQ(l.VerticalScrollBar, c.vBar);
    }
}

TEST(CaptureRulesTest, EngineOptionTexts) {
    EXPECT_EQ(CaptureInputOptions("25", "322x242"),
              "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 25 -s 322x242");
    // A rate written with a decimal comma still reaches the engine as a number it reads.
    EXPECT_EQ(CaptureInputOptions("12,5", "640x480"),
              "-f frameinput -re -input_type canvas -pix_fmt bgr24 -r 12.5 -s 640x480");

    formats::TFileOption job;
    job.Options.SourceSize = "400x300";
    job.Options.FitSize = "800x600";
    EXPECT_EQ(CaptureOutputOptions(job), "  -c:v mpeg4 -s 800x600 -b:v 20000k");

    // A crop replaces the size; the area is mapped to the capture size and kept in the job.
    job.Options.CropEnabled = true;
    job.Options.CropRect = {100, 50, 300, 250};
    EXPECT_EQ(CaptureOutputOptions(job), "  -c:v mpeg4 -b:v 20000k -vf \"crop=400:400:200:100\"");
    EXPECT_EQ(job.Options.CropRect, (app::TRect{200, 100, 600, 500}));

    // Kept at its original size the area is taken as it is.
    job.Options.KeepOriginalSize = true;
    job.Options.CropRect = {10, 20, 110, 220};
    EXPECT_EQ(CaptureOutputOptions(job), "  -c:v mpeg4 -b:v 20000k -vf \"crop=100:200:10:20\"");

    // Crop on but an empty area: neither a size nor a filter.
    job.Options.CropRect = {};
    EXPECT_EQ(CaptureOutputOptions(job), "  -c:v mpeg4 -b:v 20000k");
}

TEST(CaptureRulesTest, StallLimitIsTheFrameRateRounded) {
    const struct {
        const char* rate;
        int64_t limit;
    } cases[] = {{"24", 24}, {"12.5", 12}, {"13.5", 14}, {"23.976", 24}, {"29,97", 30},
                 {"0.25", 1},  {"0", 1},     {"", 1},      {"fast", 1}};
    for (const auto& c : cases) EXPECT_EQ(CaptureStallLimit(c.rate), c.limit) << c.rate;
}

// Requests one after another; `frameOf` gives the player's frame at request n (from 1).
template <class FrameOf>
std::vector<FrameVerdict> Requests(int mode, int64_t limit, int total, int64_t stallLimit, int requests, FrameOf frameOf) {
    CaptureEndCheck check;
    check.Reset(stallLimit);
    std::vector<FrameVerdict> verdicts;
    for (int n = 1; n <= requests; ++n) {
        verdicts.push_back(check.Check(mode, limit, frameOf(n), total, n));
        if (verdicts.back() == FrameVerdict::EndAndFinish) break;
    }
    return verdicts;
}

TEST(CaptureRulesTest, AutomaticCaptureEndsAfterOneSecondWithoutAFrameChange) {
    // 24 fps, 50 frames; the movie stops on frame 10. It reaches it at request 11; 24 requests
    // later without a change the input ends.
    const auto verdicts = Requests(2, 0, 50, 24, 1000, [](int n) { return std::min(n - 1, 10); });
    ASSERT_EQ(verdicts.size(), 11u + 24u);
    for (size_t i = 0; i + 1 < verdicts.size(); ++i) EXPECT_EQ(verdicts[i], FrameVerdict::Deliver) << i;
    EXPECT_EQ(verdicts.back(), FrameVerdict::EndAndFinish);

    // A movie that stands on frame 0 from the start stalls just the same.
    EXPECT_EQ(Requests(2, 0, 50, 24, 1000, [](int) { return 0; }).size(), 24u);
    // The player's "no frame" (-1) counts as frame 0.
    EXPECT_EQ(Requests(2, 0, 50, 24, 1000, [](int) { return -1; }).size(), 24u);
}

TEST(CaptureRulesTest, LastFrameEndsTheAutomaticModes) {
    // 30 frames playing through: the request that sees frame 29 delivers it, the next one ends
    // the input, so the last frame is in the capture for its whole interval.
    for (int mode : {1, 2}) {
        const auto verdicts = Requests(mode, 0, 30, 24, 1000, [](int n) { return std::min(n - 1, 29); });
        ASSERT_EQ(verdicts.size(), 31u) << mode;
        EXPECT_EQ(verdicts[29], FrameVerdict::Deliver);
        EXPECT_EQ(verdicts.back(), FrameVerdict::EndAndFinish);
    }
    // Mode 1 never ends on a stall.
    EXPECT_EQ(Requests(1, 0, 50, 24, 1000, [](int n) { return std::min(n - 1, 10); }).size(), 1000u);
    // A one-frame movie is always on its last frame; only the stall rule ends it.
    EXPECT_EQ(Requests(1, 0, 1, 24, 500, [](int) { return 0; }).size(), 500u);
    EXPECT_EQ(Requests(2, 0, 1, 24, 500, [](int) { return 0; }).size(), 24u);
}

TEST(CaptureRulesTest, ManualModeNeverEndsByItself) {
    // At its last frame and standing still for far longer than a second.
    const auto verdicts = Requests(0, 0, 30, 24, 2000, [](int n) { return std::min(n - 1, 29); });
    ASSERT_EQ(verdicts.size(), 2000u);
    for (FrameVerdict v : verdicts) EXPECT_EQ(v, FrameVerdict::Deliver);
}

TEST(CaptureRulesTest, FrameLimitAsksToFinishFromItsLastFrameAndKeepsDelivering) {
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        const auto verdicts = Requests(mode, 100, 500, 24, 120, [](int n) { return n - 1; });
        ASSERT_EQ(verdicts.size(), 120u);
        EXPECT_EQ(verdicts[98], FrameVerdict::Deliver);            // request 99 sees frame 98
        EXPECT_EQ(verdicts[99], FrameVerdict::DeliverAndFinish);   // frame 99
        EXPECT_EQ(verdicts[119], FrameVerdict::DeliverAndFinish);  // until Finish stops the engine
    }
    // A limit beyond the movie's end: the last frame still ends the automatic modes.
    const auto verdicts = Requests(2, 100, 30, 24, 1000, [](int n) { return std::min(n - 1, 29); });
    EXPECT_EQ(verdicts.size(), 31u);
    EXPECT_EQ(verdicts.back(), FrameVerdict::EndAndFinish);
}

}  // namespace
}  // namespace qm::conversion
