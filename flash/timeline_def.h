// A timeline's tags grouped by frame: the main movie's and each sprite's.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "swf/swf.h"

namespace qm::flash {

// Views into its timeline's lists: a long movie has many frames, each with
// a few tags, and one list of each kind for the whole timeline keeps every
// frame's cost to its pointers.
struct FrameDef {
    // Display list, sound and background tags and frame scripts, in file
    // order: a script queued before a placement runs before the scripts of
    // the clip it places.
    std::span<const swf::Tag* const> tags;
    std::span<const swf::DoInitAction* const> init_actions;
};

struct TimelineDef {
    TimelineDef() = default;
    // The frames view the lists, whose storage a move keeps.
    TimelineDef(TimelineDef&&) noexcept = default;
    TimelineDef& operator=(TimelineDef&&) noexcept = default;
    TimelineDef(const TimelineDef&) = delete;
    TimelineDef& operator=(const TimelineDef&) = delete;

    std::vector<FrameDef> frames;  // frames ended by a ShowFrame; at least one
    uint16_t declared_frames = 0;  // as the header or sprite tag says
    struct Label {
        std::string name;
        uint16_t frame = 0;
    };
    std::vector<Label> labels;
    std::vector<Label> scenes;  // first frame of each scene

    // The tag list ended with End right after a ShowFrame. Otherwise (a cut
    // file, or tags after the last ShowFrame, which form one more frame) the
    // reference player plays to the last frame and stays there.
    bool closed = false;
    // The main movie's header counts its frames; while it promises more
    // than the file holds, the last frame waits for frames that never come.
    bool waits_for_declared_frames = false;

    uint16_t FrameCount() const { return static_cast<uint16_t>(frames.size()); }
    bool Loops() const { return closed && !(waits_for_declared_frames && frames.size() < declared_frames); }
    // Zero-based frame of a label (compared without regard to case), or -1.
    int FrameOfLabel(std::string_view name) const;

    static TimelineDef Build(const std::vector<swf::Tag>& tags, uint16_t declared_frames);

private:
    std::vector<const swf::Tag*> frame_tags_;
    std::vector<const swf::DoInitAction*> init_actions_;
};

}  // namespace qm::flash
