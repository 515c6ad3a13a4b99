// The characters a movie defines, by id. Entries point into the parsed movie,
// which the player keeps alive as long as the dictionary.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <unordered_map>

#include "swf/swf.h"

namespace qm::flash {

struct TimelineDef;

struct Character {
    uint16_t id = 0;
    // The defining tag: Shape, MorphShape, Bitmap, Text, EditText, Button,
    // Sprite, VideoStream, Font, Font4, DefineSound or BinaryData.
    const swf::TagBody* definition = nullptr;

    // What later tags add to a definition.
    const swf::FontInfo* font_info = nullptr;
    const swf::FontAlignZones* font_align_zones = nullptr;
    const swf::FontName* font_name = nullptr;
    const swf::ButtonCxform* button_cxform = nullptr;
    const swf::ButtonSound* button_sound = nullptr;
    const swf::ScalingGrid* scaling_grid = nullptr;
    const swf::CsmTextSettings* csm_text_settings = nullptr;
    // A sprite's frames, whose tags stay in the movie's bytes.
    const TimelineDef* timeline = nullptr;

    template <class T>
    const T* As() const {
        return definition ? swf::BodyIf<T>(*definition) : nullptr;
    }
};

class Dictionary {
public:
    // Registers a definition tag's body if it defines a character; the first
    // definition of an id wins, as in the reference player. Tags that modify
    // an earlier definition (font info, button colour transform...) attach
    // themselves to it, video frames to their stream. Other tags are ignored.
    void Add(const swf::TagBody& body);

    const Character* Find(uint16_t id) const;
    // Gives the character that `sprite` defines its frames.
    void SetTimeline(const swf::Sprite& sprite, const TimelineDef& timeline);
    size_t size() const { return characters_.size(); }

    // JPEGTables of the movie, for DefineBits images; empty without one.
    std::span<const uint8_t> JpegTables() const;

    // Export name -> character id (later names win).
    const std::map<std::string, uint16_t>& Exports() const { return exports_; }

    // The frames of an embedded video stream by frame number (the first
    // VideoFrame tag of a number wins); null when the stream has none.
    const std::map<uint16_t, const swf::VideoFrame*>* VideoFrames(uint16_t stream_id) const;

private:
    Character* FindMutable(uint16_t id);

    std::unordered_map<uint16_t, Character> characters_;  // node-based: stable addresses
    const swf::Bytes* jpeg_tables_ = nullptr;
    std::map<std::string, uint16_t> exports_;
    std::unordered_map<uint16_t, std::map<uint16_t, const swf::VideoFrame*>> video_frames_;
};

}  // namespace qm::flash
