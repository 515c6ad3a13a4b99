// A timeline's frames: the main movie's and each sprite's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "swf/swf.h"

namespace qm::flash {

// Where a frame's tags lie in its timeline's tag stream. The tags stay in
// the movie's bytes and are read each time the frame plays, so a long movie
// keeps a few bytes a frame, whatever its frames hold.
struct FrameDef {
    uint32_t begin = 0;
    uint32_t end = 0;
};

// One of a frame's tags that play (placements, removals, frame and init
// scripts, sounds, the background colour), as stored: the body is a view
// into the movie's bytes, which live as long as the movie, so scripts may
// keep pointing into it.
struct FrameTag {
    uint16_t code = 0;
    std::span<const uint8_t> body;

    bool IsPlace() const { return code == 4 || code == 26 || code == 70 || code == 94; }
    // The placement; nullopt when it is damaged (it then places nothing).
    std::optional<swf::PlaceObject> Place(uint8_t movie_version) const;
    bool IsAction() const { return code == 12; }
    bool IsInitAction() const { return code == 59 && body.size() >= 2; }
    // An init script's actions, after its sprite id.
    std::span<const uint8_t> InitActions() const { return body.subspan(2); }
    bool IsStreamBlock() const { return code == 19; }
    // Any other kind, decoded; an UnknownTag when it is damaged.
    swf::TagBody Decode(uint8_t movie_version) const { return swf::ParseTagBody(code, body, movie_version); }
};

struct TimelineDef {
    TimelineDef() = default;
    TimelineDef(TimelineDef&&) noexcept = default;
    TimelineDef& operator=(TimelineDef&&) noexcept = default;
    TimelineDef(const TimelineDef&) = delete;
    TimelineDef& operator=(const TimelineDef&) = delete;

    std::vector<FrameDef> frames;  // frames ended by a ShowFrame; at least one
    uint16_t declared_frames = 0;  // as the header or sprite tag says
    uint8_t version = 0;           // of the movie
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

    // The tags of a frame that play, in file order: a script queued before
    // a placement runs before the scripts of the clip it places.
    class Tags {
    public:
        class iterator {
        public:
            using value_type = FrameTag;
            using difference_type = std::ptrdiff_t;
            iterator() = default;
            iterator(std::span<const uint8_t> stream, size_t position, size_t end);
            const FrameTag& operator*() const { return tag_; }
            const FrameTag* operator->() const { return &tag_; }
            iterator& operator++();
            void operator++(int) { ++*this; }
            bool operator==(const iterator& other) const { return position_ == other.position_; }

        private:
            void Settle();  // on the next tag that plays, or the end
            std::span<const uint8_t> stream_;
            size_t position_ = 0, next_ = 0, end_ = 0;
            FrameTag tag_;
        };
        Tags(std::span<const uint8_t> stream, FrameDef frame) : stream_(stream), frame_(frame) {}
        iterator begin() const { return iterator(stream_, frame_.begin, frame_.end); }
        iterator end() const { return iterator(stream_, frame_.end, frame_.end); }
        bool empty() const { return begin() == end(); }

    private:
        std::span<const uint8_t> stream_;
        FrameDef frame_;
    };
    Tags FrameTags(uint16_t frame) const { return Tags(stream_, frames[frame]); }

    // The frames of a tag stream (a view into a movie's bytes, which must
    // outlive the timeline): where each begins and ends, its labels and
    // scenes. The stream is read as the movie's parse read it.
    static TimelineDef Build(std::span<const uint8_t> stream, uint8_t version, uint16_t declared_frames);

private:
    std::span<const uint8_t> stream_;
};

}  // namespace qm::flash
